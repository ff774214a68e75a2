#include "catalogue/ProcessSource.h"

#include "support/VersionInfo.h"

namespace pelorin {
namespace {

class PlatformSource final : public ProcessSource {
public:
    std::vector<SnapshotEntry> Snapshot() override {
        std::vector<SnapshotEntry> entries;
        ProcessSnapshot snapshot;
        SnapshotEntry entry;
        while (snapshot.Next(entry)) entries.push_back(std::move(entry));
        return entries;
    }

    ProcessReadings Read(std::uint32_t pid) override {
        ProcessReadings readings;
        const UniqueHandle process = OpenQueryHandle(pid);
        readings.workingSet = ProcessWorkingSet(process.Get());
        readings.imagePath = GetProcessImagePath(pid);
        readings.times = ReadProcessTimes(process.Get());
        return readings;
    }

    std::uint32_t TickCount() override { return ::GetTickCount(); }

    std::string VersionString(const std::string& fileName, const char* keyName) override {
        return ReadVersionString(fileName, keyName);
    }

    std::uint32_t ProcessorCount() override {
        SYSTEM_INFO info{};
        ::GetSystemInfo(&info);
        return info.dwNumberOfProcessors > 0 ? info.dwNumberOfProcessors : 1;
    }
};

}  // namespace

ProcessSource& PlatformProcessSource() {
    static PlatformSource source;
    return source;
}

}  // namespace pelorin
