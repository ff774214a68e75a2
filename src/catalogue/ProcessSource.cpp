#include "catalogue/ProcessSource.h"

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <memory>
#include <string>
#include <utility>

#include "support/FastStrings.h"
#include "support/SystemInfo.h"
#include "support/VersionInfo.h"

namespace pelorin {
namespace {

// The start of one SystemProcessInformation entry as the platform lays it out
// for this program's width (the SDKs disagree on the names, and hide most
// fields): the pointer-sized fields move a 64-bit entry's offsets.
struct SystemProcessEntry {
    ULONG nextEntryOffset;
    ULONG numberOfThreads;
    LARGE_INTEGER reserved[3];
    LARGE_INTEGER createTime;
    LARGE_INTEGER userTime;
    LARGE_INTEGER kernelTime;
    USHORT nameLength;  // the image name, a counted UTF-16 string: bytes
    USHORT nameMaximumLength;
    PWSTR nameBuffer;
    LONG basePriority;
    HANDLE uniqueProcessId;
    HANDLE inheritedFromUniqueProcessId;
    ULONG handleCount;
    ULONG sessionId;
    ULONG_PTR uniqueProcessKey;
    SIZE_T peakVirtualSize;
    SIZE_T virtualSize;
    ULONG pageFaultCount;
    SIZE_T peakWorkingSetSize;
    SIZE_T workingSetSize;
};
constexpr bool kWideEntry = sizeof(void*) == 8;
static_assert(offsetof(SystemProcessEntry, nameBuffer) == (kWideEntry ? 64 : 60));
static_assert(offsetof(SystemProcessEntry, uniqueProcessId) == (kWideEntry ? 80 : 68));
static_assert(offsetof(SystemProcessEntry, workingSetSize) == (kWideEntry ? 144 : 104));

constexpr ULONG kSystemProcessInformation = 5;
constexpr LONG kInfoLengthMismatch = static_cast<LONG>(0xC0000004);
constexpr std::size_t kFileNameCapacity = 260;  // as PROCESSENTRY32 holds it
constexpr std::size_t kFirstListBuffer = 256 * 1024;

std::uint64_t LargeCount(const LARGE_INTEGER& value) { return static_cast<std::uint64_t>(value.QuadPart); }

// The image name as the ANSI Toolhelp walk gives it: the system's code page,
// at most 259 bytes, a longer name cut at a whole character; the idle process
// has none and is named as there.
std::string AnsiName(const std::wstring& text, std::uint32_t pid) {
    if (text.empty()) return pid == 0 ? "[System Process]" : std::string();
    return std::string(WholeCharacters(AnsiFromWide(text), kFileNameCapacity - 1));
}

std::vector<SnapshotEntry> TakeSnapshot() {
    std::vector<SnapshotEntry> entries;
    ProcessSnapshot snapshot;
    SnapshotEntry entry;
    while (snapshot.Next(entry)) entries.push_back(std::move(entry));
    return entries;
}

SystemQuery PlatformSystemQuery() {
    static const SystemQuery query = LoadedFunction<SystemQuery>("ntdll.dll", "NtQuerySystemInformation");
    return query;
}

DWORD PlatformTickCount() { return ::GetTickCount(); }

bool ReadFileStamp(const std::string& path, FileStamp& stamp) {
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!::GetFileAttributesExW(LongPathForm(path).c_str(), GetFileExInfoStandard, &data)) return false;
    stamp.lastWrite = (static_cast<std::uint64_t>(data.ftLastWriteTime.dwHighDateTime) << 32) |
                      data.ftLastWriteTime.dwLowDateTime;
    stamp.size = (static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    return true;
}

// Kept sorted by PID: few insertions, a lookup for every process of every refresh.
template <typename Record>
typename std::vector<Record>::iterator FindPid(std::vector<Record>& records, std::uint32_t pid) {
    const auto it = std::lower_bound(records.begin(), records.end(), pid,
                                     [](const Record& r, std::uint32_t p) { return r.pid < p; });
    return it != records.end() && it->pid == pid ? it : records.end();
}

class PlatformSource final : public ProcessSource {
public:
    explicit PlatformSource(const ProcessPlatform& platform) : platform_(platform) {}

    std::vector<SnapshotEntry> Snapshot() override {
        listed_.clear();
        std::vector<SnapshotEntry> entries;
        std::vector<SystemProcess> processes;
        if (ReadSystemProcesses(platform_.systemQuery, listBuffer_, processes)) {
            // The times of every process are of this one moment.
            listTick_ = platform_.tickCount();
            entries.reserve(processes.size());
            listed_.reserve(processes.size());
            for (SystemProcess& process : processes) {
                entries.push_back(process.entry);
                listed_.push_back(Listed{process.entry.pid, process.workingSet, process.times});
            }
            std::sort(listed_.begin(), listed_.end(), [](const Listed& a, const Listed& b) { return a.pid < b.pid; });
        } else {
            entries = platform_.snapshot();
        }
        // An empty walk means no snapshot, not that every process ended.
        if (!entries.empty()) DropPathsOfEndedProcesses(entries);
        DropUnaskedVersions();
        return entries;
    }

    ProcessReadings Read(std::uint32_t pid) override {
        ProcessReadings readings;
        const auto listed = FindPid(listed_, pid);
        const bool inList = listed != listed_.end();
        if (inList) {
            readings.tick = listTick_;
            // Opened before, path known: nothing to ask the platform.
            const auto known = FindPid(paths_, pid);
            if (known != paths_.end() && known->creation == listed->times.creation) {
                readings.workingSet = listed->workingSet;
                readings.times = listed->times;
                readings.imagePath = known->path;
                readings.versionPath = known->versionPath;
                return readings;
            }
        }
        const UniqueHandle process = platform_.open(pid);
        if (!process) return readings;
        if (inList) {
            readings.workingSet = listed->workingSet;
            readings.times = listed->times;
        } else {
            readings.workingSet = platform_.workingSet(process.Get());
            readings.times = platform_.times(process.Get());
            readings.tick = platform_.tickCount();
        }
        ReadImagePath(pid, process.Get(), readings);
        return readings;
    }

    std::string VersionString(const std::string& fileName, const char* keyName) override {
        auto image = std::find_if(versions_.begin(), versions_.end(),
                                  [&](const ImageVersions& v) { return v.fileName == fileName; });
        std::string value;
        // Once per path and snapshot: is the file there, and has it changed on disk?
        if (image == versions_.end() || image->checkedAt != snapshotCount_) {
            FileStamp stamp;
            if (!platform_.fileStamp(fileName, stamp)) {
                if (image != versions_.end()) versions_.erase(image);
                platform_.versionValue(fileName, keyName, value);
                return value;
            }
            if (image == versions_.end()) {
                versions_.push_back(ImageVersions{fileName, stamp, snapshotCount_, {}});
                image = versions_.end() - 1;
            } else if (!(stamp == image->stamp)) {
                image->strings.clear();
                image->stamp = stamp;
            }
            image->checkedAt = snapshotCount_;
        }
        for (const auto& [key, known] : image->strings) {
            if (key == keyName) return known;
        }
        // A read that failed (the file locked, a share that stalled) is tried again next time.
        if (platform_.versionValue(fileName, keyName, value) != VersionRead::Failed)
            image->strings.emplace_back(keyName, value);
        return value;
    }

    std::uint32_t ProcessorCount() override {
        SYSTEM_INFO info{};
        ::GetSystemInfo(&info);
        return info.dwNumberOfProcessors > 0 ? info.dwNumberOfProcessors : 1;
    }

private:
    struct KnownPath {
        std::uint32_t pid = 0;
        std::uint64_t creation = 0;
        std::string path;
        std::string versionPath;
    };
    // What the system's list of the latest snapshot said of a process.
    struct Listed {
        std::uint32_t pid = 0;
        std::uint64_t workingSet = 0;
        ProcessTimes times;
    };
    struct ImageVersions {
        std::string fileName;  // as the platform gave it
        FileStamp stamp;
        std::uint64_t checkedAt = 0;  // the snapshot count when the stamp was last compared
        std::vector<std::pair<std::string, std::string>> strings;  // key, value
    };

    void ReadImagePath(std::uint32_t pid, HANDLE process, ProcessReadings& readings) {
        const ProcessTimes& times = readings.times;
        auto known = FindPid(paths_, pid);
        if (times.valid && known != paths_.end() && known->creation == times.creation) {
            readings.imagePath = known->path;
            readings.versionPath = known->versionPath;
            return;
        }
        readings.imagePath = platform_.imagePath(process);
        const bool otherBitness = platform_.otherBitness(process);
        // A 64-bit image in the system folder is seen from here through its alias.
        readings.versionPath = otherBitness && readings.imagePath != NoImagePath ? NativeFilePath(readings.imagePath)
                                                                                  : std::string();
        // A path that cannot be read is read again next time (the process
        // may still be starting), unless it never can be: a 64-bit process
        // that refused a 32-bit build even the system's answer.
        const bool neverReadable = otherBitness && !Is64BitBuild;
        const bool keep = times.valid && (readings.imagePath != NoImagePath || neverReadable);
        if (known != paths_.end()) {
            if (keep) {
                *known = KnownPath{pid, times.creation, readings.imagePath, readings.versionPath};
            } else {
                paths_.erase(known);
            }
        } else if (keep) {
            const auto at = std::lower_bound(paths_.begin(), paths_.end(), pid,
                                             [](const KnownPath& r, std::uint32_t p) { return r.pid < p; });
            paths_.insert(at, KnownPath{pid, times.creation, readings.imagePath, readings.versionPath});
        }
    }

    void DropPathsOfEndedProcesses(const std::vector<SnapshotEntry>& entries) {
        std::vector<std::uint32_t> running;
        running.reserve(entries.size());
        for (const SnapshotEntry& entry : entries) running.push_back(entry.pid);
        std::sort(running.begin(), running.end());
        std::erase_if(paths_, [&](const KnownPath& known) {
            return !std::binary_search(running.begin(), running.end(), known.pid);
        });
    }

    // Version strings are kept while reads ask for them: from one snapshot to
    // the next, an image no read asked for goes.
    void DropUnaskedVersions() {
        std::erase_if(versions_, [this](const ImageVersions& image) { return image.checkedAt != snapshotCount_; });
        ++snapshotCount_;
    }

    const ProcessPlatform& platform_;
    std::vector<unsigned char> listBuffer_;  // grown to the system's list, kept between snapshots
    std::uint32_t listTick_ = 0;  // the clock right after the latest list read
    std::vector<Listed> listed_;  // by PID; empty after a Toolhelp walk
    std::vector<KnownPath> paths_;  // by PID
    std::vector<ImageVersions> versions_;  // few: one per image file listed
    std::uint64_t snapshotCount_ = 1;
};

}  // namespace

bool ParseSystemProcesses(const unsigned char* data, std::size_t length, std::vector<SystemProcess>& processes) {
    std::vector<SystemProcess> list;
    const auto base = reinterpret_cast<std::uintptr_t>(data);
    for (std::size_t offset = 0;;) {
        if (offset > length || length - offset < sizeof(SystemProcessEntry)) return false;
        SystemProcessEntry entry;
        std::memcpy(&entry, data + offset, sizeof entry);
        SystemProcess process;
        process.entry.pid = static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(entry.uniqueProcessId));
        // The name points into what the call returned; anything else is not trusted.
        const auto name = reinterpret_cast<std::uintptr_t>(entry.nameBuffer);
        std::wstring text;
        if (name >= base && name - base <= length && entry.nameLength <= length - (name - base)) {
            text.resize(entry.nameLength / sizeof(wchar_t));
            std::memcpy(text.data(), data + (name - base), text.size() * sizeof(wchar_t));
        }
        process.entry.name = AnsiName(text, process.entry.pid);
        process.workingSet = entry.workingSetSize;
        process.times.kernel = LargeCount(entry.kernelTime);
        process.times.user = LargeCount(entry.userTime);
        process.times.creation = LargeCount(entry.createTime);
        process.times.valid = true;
        list.push_back(std::move(process));
        if (entry.nextEntryOffset == 0) break;
        // An entry that leads back, or into itself, would walk for ever or
        // twice; one that leads past the end, by a sum that may wrap, too.
        if (entry.nextEntryOffset < sizeof(SystemProcessEntry) || entry.nextEntryOffset > length - offset) return false;
        offset += entry.nextEntryOffset;
    }
    processes = std::move(list);
    return true;
}

bool ReadSystemProcesses(SystemQuery query, std::vector<unsigned char>& buffer, std::vector<SystemProcess>& processes) {
    if (query == nullptr) return false;
    if (buffer.size() < kFirstListBuffer) buffer.resize(kFirstListBuffer);
    // Grown until the list fits; processes may start between the calls.
    for (int attempt = 0;; ++attempt) {
        ULONG returned = 0;
        const LONG status = query(kSystemProcessInformation, buffer.data(), static_cast<ULONG>(buffer.size()), &returned);
        if (status == 0) return ParseSystemProcesses(buffer.data(), std::min<std::size_t>(returned, buffer.size()), processes);
        if (status != kInfoLengthMismatch || attempt == 4) return false;
        buffer.resize((returned > buffer.size() ? returned : buffer.size() * 2) + 64 * 1024);
    }
}

const ProcessPlatform& RealProcessPlatform() {
    static const ProcessPlatform platform{
        PlatformSystemQuery(), &TakeSnapshot,    &OpenQueryHandle, &ProcessWorkingSet,
        &ReadProcessTimes,     &ProcessImagePath, &IsOtherBitness, &ReadFileStamp,
        &ReadVersionValue,     &PlatformTickCount,
    };
    return platform;
}

std::unique_ptr<ProcessSource> CreatePlatformProcessSource(const ProcessPlatform& platform) {
    return std::make_unique<PlatformSource>(platform);
}

}  // namespace pelorin
