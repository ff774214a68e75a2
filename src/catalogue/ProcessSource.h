// Where the list refresh gets every fact about the running processes: the
// snapshot, the per-process readings with the moment they were taken, the
// version strings and the processor count. The platform source is the
// default; tests hand the refresh a source with controlled readings.
#pragma once

#include <windows.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "catalogue/ProcessSnapshot.h"
#include "support/Handles.h"
#include "support/VersionInfo.h"

namespace pelorin {

// What the refresh reads about one process.
struct ProcessReadings {
    std::uint64_t workingSet = 0;  // bytes; 0 when it cannot be read
    std::string imagePath{NoImagePath};  // as the platform gives it (not normalized), or "-"
    std::string versionPath;  // where the image's version strings are read; empty: imagePath
    ProcessTimes times;  // all 0 and not valid when they cannot be read
    // GetTickCount when the times were read: the processor share of a
    // process is its time over the clock between two such moments.
    std::uint32_t tick = 0;
};

class ProcessSource {
public:
    virtual ~ProcessSource() = default;

    // The processes of a fresh snapshot, in the platform's order; empty when
    // no snapshot can be taken.
    virtual std::vector<SnapshotEntry> Snapshot() = 0;
    // The readings of a process of the latest snapshot.
    virtual ProcessReadings Read(std::uint32_t pid) = 0;
    // One string of a file's version resource; empty when missing.
    virtual std::string VersionString(const std::string& fileName, const char* keyName) = 0;
    // Logical processors of the machine, at least 1.
    virtual std::uint32_t ProcessorCount() = 0;
};

// When a file was last written and how long it is; a file replaced or
// rewritten on disk has another stamp.
struct FileStamp {
    std::uint64_t lastWrite = 0;  // FILETIME, 100 ns units
    std::uint64_t size = 0;
    bool operator==(const FileStamp&) const = default;
};

// One process of the system's process list, with the figures the list
// carries for every process.
struct SystemProcess {
    SnapshotEntry entry;
    std::uint64_t workingSet = 0;
    ProcessTimes times;  // creation, kernel and user time; valid
};

// NtQuerySystemInformation.
using SystemQuery = LONG(WINAPI*)(ULONG informationClass, PVOID buffer, ULONG length, PULONG returnLength);

// The system's process list (SystemProcessInformation) read into buffer,
// which grows as needed and keeps its size for the next read. False when it
// cannot be read or what came back does not hold together.
bool ReadSystemProcesses(SystemQuery query, std::vector<unsigned char>& buffer, std::vector<SystemProcess>& processes);
// The entries in the first `length` bytes of data, as the call returned them.
// Every entry and name must lie within them and each entry must lead at
// least an entry's size further, and not past them; a name longer than the
// snapshot's file name field is cut, as Toolhelp cuts it. False for a list
// that does not hold together.
bool ParseSystemProcesses(const unsigned char* data, std::size_t length, std::vector<SystemProcess>& processes);

// The platform calls behind the platform source; tests put their own in.
struct ProcessPlatform {
    SystemQuery systemQuery;                   // null: the list cannot be read
    std::vector<SnapshotEntry> (*snapshot)();  // the Toolhelp walk
    UniqueHandle (*open)(std::uint32_t pid);   // OpenQueryHandle
    std::uint64_t (*workingSet)(HANDLE process);
    ProcessTimes (*times)(HANDLE process);
    std::string (*imagePath)(HANDLE process);  // "-" when it cannot be read
    bool (*otherBitness)(HANDLE process);      // of the other width than this program
    bool (*fileStamp)(const std::string& path, FileStamp& stamp);
    VersionRead (*versionValue)(const std::string& fileName, const char* keyName, std::string& value);
    DWORD (*tickCount)();
};
const ProcessPlatform& RealProcessPlatform();

// The real source for the refresh. Under Wine a Toolhelp walk costs about as
// much as everything else of a refresh together (every Process32Next maps and
// unmaps the whole snapshot), so this source takes the processes, their
// working sets and their times from one read of the system's process list,
// the list a Toolhelp snapshot is itself made from (same processes, same
// order, same names), and the clock right after that read. A process is
// opened only to read its image path; one that refuses shows as one that
// cannot be opened: no working set, no times, image path "-", and it is
// tried again next time. Where the system's list cannot be read, the source
// walks Toolhelp and opens every process for its working set, times and
// image path, reading the clock right after each process's times.
//
// It remembers what cannot change, so a steady refresh does not read it
// again every second, while everything it shows stays as if read afresh:
// - a process's image path, by PID and creation time: the image of a running
//   process never changes, and a PID taken by a new process comes with a new
//   creation time. A path that could not be read, or a process whose creation
//   time is unknown, is read again next time, unless it never can be read (a
//   64-bit process that refused a 32-bit build even the system's own answer);
// - a file's version strings, by path and key, with the file's stamp (last
//   write and size), checked once per path and snapshot: a file rewritten or
//   replaced on disk is read again, and so is a read that failed.
// Both stay bounded: each snapshot drops the paths of processes it no longer
// lists and the version strings no read asked for since the snapshot before.
// One refresh at a time uses a source (the refresh's gate sees to that).
std::unique_ptr<ProcessSource> CreatePlatformProcessSource(const ProcessPlatform& platform = RealProcessPlatform());

}  // namespace pelorin
