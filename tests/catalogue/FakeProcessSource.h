// A process source with readings the test sets: the processes of the next
// snapshot, their working sets, paths and times, the clock and the processor
// count. It also notices two refreshes that read at the same time.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "catalogue/ProcessSource.h"
#include "support/VersionInfo.h"

namespace pelorin::testing {

struct FakeProcess {
    std::uint32_t pid = 0;
    std::string name;
    std::uint32_t workingSet = 0;
    std::string imagePath = "-";
    std::uint64_t kernel = 0;
    std::uint64_t user = 0;
    std::uint64_t creation = 1;
    bool timesValid = true;
};

class FakeProcessSource : public ProcessSource {
public:
    std::vector<FakeProcess> processes;
    std::uint32_t tick = 100000;
    std::uint32_t processors = 1;
    // Answer of VersionString for any path; with realVersions the file's own.
    std::string versionText = "Version of something";
    bool realVersions = false;
    // Runs inside Read, on the reading thread (blocking, counting, ...).
    std::function<void(std::uint32_t pid)> onRead;

    std::atomic<int> snapshots{0};
    std::atomic<int> foreignSnapshots{0};  // taken on another thread than the one that made the fake
    const DWORD homeThread = ::GetCurrentThreadId();
    std::atomic<int> reads{0};
    std::atomic<int> versionReads{0};
    std::vector<std::uint32_t> readPids;  // only for single-threaded tests
    std::vector<std::string> versionPaths;

    // Overlap detection: a refresh is "active" from its snapshot to the read
    // of the last process of the snapshot.
    std::atomic<int> active{0};
    std::atomic<int> overlaps{0};
    bool trackOverlap = false;

    FakeProcess& Add(std::uint32_t pid, std::string name, std::string path = "-") {
        FakeProcess p;
        p.pid = pid;
        p.name = std::move(name);
        p.imagePath = std::move(path);
        processes.push_back(p);
        return processes.back();
    }
    FakeProcess* Find(std::uint32_t pid) {
        for (FakeProcess& p : processes) {
            if (p.pid == pid) return &p;
        }
        return nullptr;
    }

    std::vector<SnapshotEntry> Snapshot() override {
        ++snapshots;
        if (::GetCurrentThreadId() != homeThread) ++foreignSnapshots;
        if (trackOverlap && ++active > 1) ++overlaps;
        std::vector<SnapshotEntry> entries;
        for (const FakeProcess& p : processes) entries.push_back({p.pid, p.name});
        return entries;
    }

    ProcessReadings Read(std::uint32_t pid) override {
        ++reads;
        if (!trackOverlap) readPids.push_back(pid);
        if (trackOverlap && active.load() != 1) ++overlaps;
        if (onRead) onRead(pid);
        ProcessReadings r;
        for (const FakeProcess& p : processes) {
            if (p.pid != pid) continue;
            r.workingSet = p.workingSet;
            r.imagePath = p.imagePath;
            if (p.timesValid) {
                r.times.kernel = p.kernel;
                r.times.user = p.user;
                r.times.creation = p.creation;
                r.times.valid = true;
            }
        }
        if (trackOverlap && !processes.empty() && pid == processes.back().pid) --active;
        return r;
    }

    std::uint32_t TickCount() override { return tick; }

    std::string VersionString(const std::string& fileName, const char* keyName) override {
        ++versionReads;
        versionPaths.push_back(fileName);
        if (realVersions) return ReadVersionString(fileName, keyName);
        return versionText;
    }

    std::uint32_t ProcessorCount() override { return processors; }
};

}  // namespace pelorin::testing
