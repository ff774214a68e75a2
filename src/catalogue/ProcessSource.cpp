#include "catalogue/ProcessSource.h"

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <memory>
#include <utility>

#include "support/VersionInfo.h"

namespace pelorin {
namespace {

// The start of one SystemProcessInformation entry as the 32-bit platform lays
// it out (the SDKs disagree on the names, and hide most fields).
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
static_assert(sizeof(void*) != 4 || offsetof(SystemProcessEntry, uniqueProcessId) == 68);
static_assert(sizeof(void*) != 4 || offsetof(SystemProcessEntry, workingSetSize) == 104);

using SystemQuery = LONG(WINAPI*)(ULONG informationClass, PVOID buffer, ULONG length, PULONG returnLength);
constexpr ULONG kSystemProcessInformation = 5;
constexpr LONG kInfoLengthMismatch = static_cast<LONG>(0xC0000004);
constexpr std::size_t kFileNameCapacity = 260;  // as PROCESSENTRY32 holds it

std::uint64_t LargeCount(const LARGE_INTEGER& value) { return static_cast<std::uint64_t>(value.QuadPart); }

// The image name as the ANSI Toolhelp walk gives it: the system's code page,
// at most 259 characters; the idle process has none and is named as there.
std::string AnsiName(const wchar_t* text, std::size_t length, std::uint32_t pid) {
    if (length == 0) return pid == 0 ? "[System Process]" : std::string();
    char buffer[kFileNameCapacity] = {};
    const int n = ::WideCharToMultiByte(CP_ACP, 0, text, static_cast<int>(length), buffer,
                                        static_cast<int>(kFileNameCapacity - 1), nullptr, nullptr);
    return std::string(buffer, n > 0 ? static_cast<std::size_t>(n) : 0);
}

bool ReadSystemProcesses(std::vector<SystemProcess>& processes) {
    static const SystemQuery query = [] {
        const HMODULE ntdll = ::GetModuleHandleA("ntdll.dll");
        const FARPROC address = ntdll ? ::GetProcAddress(ntdll, "NtQuerySystemInformation") : nullptr;
        return reinterpret_cast<SystemQuery>(reinterpret_cast<void*>(address));
    }();
    if (query == nullptr) return false;
    // Grown until the list fits; processes may start between the calls.
    ULONG size = 256 * 1024;
    std::unique_ptr<unsigned char[]> buffer;
    for (int attempt = 0;; ++attempt) {
        buffer.reset(new unsigned char[size]);
        ULONG needed = 0;
        const LONG status = query(kSystemProcessInformation, buffer.get(), size, &needed);
        if (status == 0) break;
        if (status != kInfoLengthMismatch || attempt == 4) return false;
        size = (needed > size ? needed : size * 2) + 64 * 1024;
    }
    std::vector<SystemProcess> list;
    for (std::size_t offset = 0;;) {
        if (offset + sizeof(SystemProcessEntry) > size) return false;
        SystemProcessEntry entry;
        std::memcpy(&entry, buffer.get() + offset, sizeof entry);
        SystemProcess process;
        process.entry.pid = static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(entry.uniqueProcessId));
        const std::size_t nameOffset = entry.nameBuffer != nullptr
                                           ? reinterpret_cast<const unsigned char*>(entry.nameBuffer) - buffer.get()
                                           : size;
        // The name lies inside the buffer; anything else is not trusted.
        const bool nameInside = nameOffset < size && entry.nameLength <= size - nameOffset;
        process.entry.name = AnsiName(nameInside ? entry.nameBuffer : nullptr,
                                      nameInside ? entry.nameLength / sizeof(wchar_t) : 0, process.entry.pid);
        process.workingSet = static_cast<std::uint32_t>(entry.workingSetSize);
        process.times.kernel = LargeCount(entry.kernelTime);
        process.times.user = LargeCount(entry.userTime);
        process.times.creation = LargeCount(entry.createTime);
        process.times.valid = true;
        list.push_back(std::move(process));
        if (entry.nextEntryOffset == 0) break;
        offset += entry.nextEntryOffset;
    }
    processes = std::move(list);
    return true;
}

std::vector<SnapshotEntry> TakeSnapshot() {
    std::vector<SnapshotEntry> entries;
    ProcessSnapshot snapshot;
    SnapshotEntry entry;
    while (snapshot.Next(entry)) entries.push_back(std::move(entry));
    return entries;
}

// GetModuleFileNameEx reads the image path from the process's own memory,
// which a 32-bit program on a 64-bit system cannot walk in a 64-bit process.
bool IsOtherBitness(HANDLE process) {
    BOOL self = FALSE, other = FALSE;
    if (!::IsWow64Process(::GetCurrentProcess(), &self) || !::IsWow64Process(process, &other)) return false;
    return self != other;
}

bool ReadFileStamp(const std::string& path, FileStamp& stamp) {
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!::GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)) return false;
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
    PlatformSource(const ProcessPlatform& platform, bool remember) : platform_(platform), remember_(remember) {}

    std::vector<SnapshotEntry> Snapshot() override {
        // Without memory the source holds no state, so any thread may use it.
        if (!remember_) return platform_.snapshot();
        listed_.clear();
        std::vector<SnapshotEntry> entries;
        std::vector<SystemProcess> processes;
        if (platform_.systemProcesses(processes)) {
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
            // Opened before, path known: nothing to ask the platform.
            const auto known = FindPid(paths_, pid);
            if (known != paths_.end() && known->creation == listed->times.creation) {
                readings.workingSet = listed->workingSet;
                readings.times = listed->times;
                readings.imagePath = known->path;
                return readings;
            }
        }
        const UniqueHandle process = platform_.open(pid);
        if (!process) return readings;
        readings.workingSet = inList ? listed->workingSet : platform_.workingSet(process.Get());
        readings.times = inList ? listed->times : platform_.times(process.Get());
        readings.imagePath = ImagePath(pid, process.Get(), readings.times);
        return readings;
    }

    std::uint32_t TickCount() override { return ::GetTickCount(); }

    std::string VersionString(const std::string& fileName, const char* keyName) override {
        if (!remember_) return platform_.versionString(fileName, keyName);
        auto image = std::find_if(versions_.begin(), versions_.end(),
                                  [&](const ImageVersions& v) { return v.fileName == fileName; });
        // Once per path and snapshot: is the file there, and has it changed on disk?
        if (image == versions_.end() || image->checkedAt != snapshotCount_) {
            FileStamp stamp;
            if (!platform_.fileStamp(fileName, stamp)) {
                if (image != versions_.end()) versions_.erase(image);
                return platform_.versionString(fileName, keyName);
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
        for (const auto& [key, value] : image->strings) {
            if (key == keyName) return value;
        }
        image->strings.emplace_back(keyName, platform_.versionString(fileName, keyName));
        return image->strings.back().second;
    }

    std::uint32_t ProcessorCount() override {
        SYSTEM_INFO info{};
        ::GetSystemInfo(&info);
        return info.dwNumberOfProcessors > 0 ? info.dwNumberOfProcessors : 1;
    }

    SourceCacheSize CacheSize() const {
        SourceCacheSize size;
        size.imagePaths = paths_.size();
        for (const ImageVersions& image : versions_) size.versionStrings += image.strings.size();
        return size;
    }

private:
    struct KnownPath {
        std::uint32_t pid = 0;
        std::uint64_t creation = 0;
        std::string path;
    };
    // What the system's list of the latest snapshot said of a process.
    struct Listed {
        std::uint32_t pid = 0;
        std::uint32_t workingSet = 0;
        ProcessTimes times;
    };
    struct ImageVersions {
        std::string fileName;  // as the platform gave it
        FileStamp stamp;
        std::uint64_t checkedAt = 0;  // the snapshot count when the stamp was last compared
        std::vector<std::pair<std::string, std::string>> strings;  // key, value
    };

    std::string ImagePath(std::uint32_t pid, HANDLE process, const ProcessTimes& times) {
        if (!remember_) return platform_.imagePath(process);
        auto known = FindPid(paths_, pid);
        if (times.valid && known != paths_.end() && known->creation == times.creation) return known->path;
        std::string path = platform_.imagePath(process);
        // A path that cannot be read is read again next time (the process
        // may still be starting), unless it never can be: a 64-bit process
        // seen from this 32-bit program.
        const bool keep = times.valid && (path != NoImagePath || platform_.pathNeverReadable(process));
        if (known != paths_.end()) {
            if (keep) {
                known->creation = times.creation;
                known->path = path;
            } else {
                paths_.erase(known);
            }
        } else if (keep) {
            const auto at = std::lower_bound(paths_.begin(), paths_.end(), pid,
                                             [](const KnownPath& r, std::uint32_t p) { return r.pid < p; });
            paths_.insert(at, KnownPath{pid, times.creation, path});
        }
        return path;
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
    const bool remember_;
    std::vector<Listed> listed_;  // by PID; empty after a Toolhelp walk
    std::vector<KnownPath> paths_;  // by PID
    std::vector<ImageVersions> versions_;  // few: one per image file listed
    std::uint64_t snapshotCount_ = 1;
};

}  // namespace

const ProcessPlatform& RealProcessPlatform() {
    static const ProcessPlatform platform{
        &ReadSystemProcesses, &TakeSnapshot,     &OpenQueryHandle,   &ProcessWorkingSet,
        &ReadProcessTimes,    &ProcessImagePath, &IsOtherBitness,    &ReadFileStamp,
        &ReadVersionString,
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
