// What the program reads about one running process: the walk over a Toolhelp
// snapshot, the per-process readings (working set, image path, processor
// times), the module walk of one process, and the name and path rules applied
// to the results. Every function here answers a placeholder ("-", 0, empty)
// instead of failing.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "catalogue/ModuleApi.h"
#include "catalogue/TlHelp32.h"
#include "support/Handles.h"

namespace pelorin {

// OpenProcess access for the readings: PROCESS_QUERY_INFORMATION | PROCESS_VM_READ.
inline constexpr DWORD ProcessQueryAccess = 0x410;
inline constexpr std::string_view NoImagePath = "-";

struct SnapshotEntry {
    std::uint32_t pid = 0;
    std::string name;  // the file name exactly as the snapshot gives it
};

// A walk over a snapshot of all processes, in the platform's order:
//     ProcessSnapshot snapshot;
//     SnapshotEntry entry;
//     while (snapshot.Next(entry)) { ... }
// The snapshot handle is closed once the walk ends, or with the object.
// When Toolhelp is unbound or the platform refuses the snapshot, the walk
// simply has no entries.
class ProcessSnapshot {
public:
    ProcessSnapshot();
    // The next entry; false at the end, and `entry` is then left untouched.
    bool Next(SnapshotEntry& entry);

private:
    UniqueHandle snapshot_;
    PROCESSENTRY32 entry_{};
    bool started_ = false;
};

struct ModuleRecord {
    std::string name;  // szModule, at most 255 characters
    std::string path;  // the whole path, also one longer than szExePath holds
    std::string versionPath;  // where its version strings are read, when not from path
};

// A walk over the modules loaded by one process (the main image first, as
// the platform orders them); no entries when the process cannot be read.
class ModuleSnapshot {
public:
    explicit ModuleSnapshot(std::uint32_t pid);
    // The next module; false at the end, and `module` is then left untouched.
    bool Next(ModuleRecord& module);

private:
    UniqueHandle snapshot_;
    MODULEENTRY32W entry_{};
    bool started_ = false;
    std::uint32_t pid_ = 0;
    UniqueHandle process_;  // opened for the first path the entry cuts
};

// The modules of one process in the platform's order (pid 0: this program).
// The 64-bit build lists a 32-bit process's modules, its 32-bit ones too, by
// Toolhelp or, where that does not answer, by EnumProcessModulesEx. In the
// 32-bit build a 64-bit process, whose modules a 32-bit program cannot walk,
// shows its image alone. None when the process cannot be read.
std::vector<ModuleRecord> ListProcessModules(std::uint32_t pid);

// OpenProcess(ProcessQueryAccess, no inheritance, pid), or where that is
// refused, with the limited query right (enough for the image path and the
// times); empty when both are refused.
UniqueHandle OpenQueryHandle(std::uint32_t pid);

// Full path of the process's main image from its own query handle, or "-"
// when the process cannot be opened or the path cannot be read.
std::string GetProcessImagePath(std::uint32_t pid);
// The same through a query handle the caller holds; "-" for an empty handle.
// GetModuleFileNameExW reads the path, of any length, from the process's own
// memory, which a 32-bit program cannot do in a 64-bit process;
// QueryFullProcessImageNameW (bound at run time, absent before Vista) then
// asks the system instead.
std::string ProcessImagePath(HANDLE process);
// For tests only: forgets the QueryFullProcessImageNameW binding and binds
// through `api` from now on.
void ResetImageNameBinding(const ModuleApi& api);
// True when the process is of the other bitness than this program (a 64-bit
// process seen from the 32-bit build, a 32-bit one from the 64-bit build).
bool IsOtherBitness(HANDLE process);

// The Windows folder as GetWindowsDirectoryA gives it, no trailing backslash
// (C:\windows under Wine). Empty if the platform cannot tell.
std::string GetWindowsFolder();

// Rewrites native paths into plain ones: a leading \SystemRoot\ (any letter
// case) becomes the Windows folder, then a leading \??\ is dropped. Anything
// else, "-" included, passes unchanged. The one-argument form asks
// GetWindowsFolder only when the path needs it.
std::string NormalizeImagePath(std::string_view path);
std::string NormalizeImagePath(std::string_view path, std::string_view windowsFolder);

// Current working set in bytes through PSAPI; 0 for an empty handle, an
// unbound PSAPI or a failed query. Pointer-sized on the platform: a 64-bit
// build sees working sets above 4 GB.
std::uint64_t ProcessWorkingSet(HANDLE process);

// True for the idle pseudo-process "[System Process]" and the kernel's
// "System", whatever the letter case (the locale's lower-casing); the whole
// name must match, so "System.exe" or "SystemX" do not.
bool IsSystemPseudoProcess(std::string_view name);

// Processor times and creation time of a process in 100 ns units. When the
// handle is empty or GetProcessTimes fails, every count is 0 and valid is
// false, so a caller never carries another process's values over.
struct ProcessTimes {
    std::uint64_t kernel = 0;
    std::uint64_t user = 0;
    std::uint64_t creation = 0;  // FILETIME of the start; tells a reused PID apart
    bool valid = false;
};
ProcessTimes ReadProcessTimes(HANDLE process);

}  // namespace pelorin
