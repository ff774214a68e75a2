// Where the list refresh gets every fact about the running processes: the
// snapshot, the per-process readings, the clock, the version strings and the
// processor count. The platform source is the default; tests hand the refresh
// a source with controlled readings.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "catalogue/ProcessSnapshot.h"

namespace pelorin {

// What the refresh reads about one process.
struct ProcessReadings {
    std::uint32_t workingSet = 0;  // bytes; 0 when it cannot be read
    std::string imagePath{NoImagePath};  // as the platform gives it (not normalized), or "-"
    ProcessTimes times;  // all 0 and not valid when they cannot be read
};

class ProcessSource {
public:
    virtual ~ProcessSource() = default;

    // The processes of a fresh snapshot, in the platform's order; empty when
    // no snapshot can be taken.
    virtual std::vector<SnapshotEntry> Snapshot() = 0;
    // Opens the process, reads its working set, image path and times, closes it.
    virtual ProcessReadings Read(std::uint32_t pid) = 0;
    // Milliseconds since the system started (GetTickCount; wraps at 2^32).
    virtual std::uint32_t TickCount() = 0;
    // One string of a file's version resource; empty when missing.
    virtual std::string VersionString(const std::string& fileName, const char* keyName) = 0;
    // Logical processors of the machine, at least 1.
    virtual std::uint32_t ProcessorCount() = 0;
};

// The real one: Toolhelp snapshot, OpenProcess, PSAPI, GetProcessTimes,
// GetTickCount and the version reader. Stateless, shared by every caller.
ProcessSource& PlatformProcessSource();

}  // namespace pelorin
