#include "catalogue/ProcessSource.h"

#include <unordered_map>
#include <unordered_set>
#include <utility>

#include "support/VersionInfo.h"

namespace pelorin {
namespace {

std::vector<SnapshotEntry> TakeSnapshot() {
    std::vector<SnapshotEntry> entries;
    ProcessSnapshot snapshot;
    SnapshotEntry entry;
    while (snapshot.Next(entry)) entries.push_back(std::move(entry));
    return entries;
}

bool ReadFileStamp(const std::string& path, FileStamp& stamp) {
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!::GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)) return false;
    stamp.lastWrite = (static_cast<std::uint64_t>(data.ftLastWriteTime.dwHighDateTime) << 32) |
                      data.ftLastWriteTime.dwLowDateTime;
    stamp.size = (static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    return true;
}

class PlatformSource final : public ProcessSource {
public:
    PlatformSource(const ProcessPlatform& platform, bool remember) : platform_(platform), remember_(remember) {}

    std::vector<SnapshotEntry> Snapshot() override {
        std::vector<SnapshotEntry> entries = platform_.snapshot();
        if (!remember_) return entries;
        // An empty walk means no snapshot, not that every process ended.
        if (!entries.empty()) DropPathsOfEndedProcesses(entries);
        DropUnaskedVersions();
        return entries;
    }

    ProcessReadings Read(std::uint32_t pid) override {
        ProcessReadings readings;
        const UniqueHandle process = platform_.open(pid);
        if (!process) return readings;
        readings.workingSet = platform_.workingSet(process.Get());
        readings.times = platform_.times(process.Get());
        readings.imagePath = ImagePath(pid, process.Get(), readings.times);
        return readings;
    }

    std::uint32_t TickCount() override { return ::GetTickCount(); }

    std::string VersionString(const std::string& fileName, const char* keyName) override {
        if (!remember_) return platform_.versionString(fileName, keyName);
        auto found = versions_.find(fileName);
        if (found == versions_.end()) {
            FileStamp stamp;
            if (!platform_.fileStamp(fileName, stamp)) return platform_.versionString(fileName, keyName);
            found = versions_.emplace(fileName, ImageVersions{stamp, snapshotCount_, {}}).first;
        } else if (found->second.checkedAt != snapshotCount_) {
            // Once per path and snapshot: has the file changed on disk?
            FileStamp stamp;
            if (!platform_.fileStamp(fileName, stamp)) {
                versions_.erase(found);
                return platform_.versionString(fileName, keyName);
            }
            if (!(stamp == found->second.stamp)) found->second.strings.clear();
            found->second.stamp = stamp;
            found->second.checkedAt = snapshotCount_;
        }
        auto& strings = found->second.strings;
        auto value = strings.find(keyName);
        if (value == strings.end()) value = strings.emplace(keyName, platform_.versionString(fileName, keyName)).first;
        return value->second;
    }

    std::uint32_t ProcessorCount() override {
        SYSTEM_INFO info{};
        ::GetSystemInfo(&info);
        return info.dwNumberOfProcessors > 0 ? info.dwNumberOfProcessors : 1;
    }

    SourceCacheSize CacheSize() const {
        SourceCacheSize size;
        size.imagePaths = paths_.size();
        for (const auto& image : versions_) size.versionStrings += image.second.strings.size();
        return size;
    }

private:
    struct KnownPath {
        std::uint64_t creation = 0;
        std::string path;
    };
    struct ImageVersions {
        FileStamp stamp;
        std::uint64_t checkedAt = 0;  // the snapshot count when the stamp was last compared
        std::unordered_map<std::string, std::string> strings;  // by key
    };

    std::string ImagePath(std::uint32_t pid, HANDLE process, const ProcessTimes& times) {
        if (!remember_) return platform_.imagePath(process);
        if (times.valid) {
            const auto found = paths_.find(pid);
            if (found != paths_.end() && found->second.creation == times.creation) return found->second.path;
        }
        std::string path = platform_.imagePath(process);
        if (times.valid && path != NoImagePath) {
            paths_[pid] = KnownPath{times.creation, path};
        } else {
            paths_.erase(pid);
        }
        return path;
    }

    void DropPathsOfEndedProcesses(const std::vector<SnapshotEntry>& entries) {
        std::unordered_set<std::uint32_t> running;
        running.reserve(entries.size() * 2);
        for (const SnapshotEntry& entry : entries) running.insert(entry.pid);
        for (auto it = paths_.begin(); it != paths_.end();) {
            it = running.count(it->first) ? std::next(it) : paths_.erase(it);
        }
    }

    // Version strings are kept while reads ask for them: from one snapshot to
    // the next, an image no read asked for goes.
    void DropUnaskedVersions() {
        for (auto it = versions_.begin(); it != versions_.end();) {
            it = it->second.checkedAt == snapshotCount_ ? std::next(it) : versions_.erase(it);
        }
        ++snapshotCount_;
    }

    const ProcessPlatform& platform_;
    const bool remember_;
    std::unordered_map<std::uint32_t, KnownPath> paths_;
    std::unordered_map<std::string, ImageVersions> versions_;  // by file name as the platform gave it
    std::uint64_t snapshotCount_ = 1;
};

}  // namespace

const ProcessPlatform& RealProcessPlatform() {
    static const ProcessPlatform platform{
        &TakeSnapshot, &OpenQueryHandle, &ProcessWorkingSet, &ReadProcessTimes,
        &ProcessImagePath, &ReadFileStamp, &ReadVersionString,
    };
    return platform;
}

std::unique_ptr<ProcessSource> CreatePlatformProcessSource(const ProcessPlatform& platform) {
    return std::make_unique<PlatformSource>(platform, true);
}

ProcessSource& PlatformProcessSource() {
    static PlatformSource source(RealProcessPlatform(), false);
    return source;
}

SourceCacheSize CacheSizeOf(const ProcessSource& source) {
    const auto* platform = dynamic_cast<const PlatformSource*>(&source);
    return platform ? platform->CacheSize() : SourceCacheSize{};
}

}  // namespace pelorin
