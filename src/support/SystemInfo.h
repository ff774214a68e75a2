// Standard folders, a file test and the kill primitive.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <string_view>

namespace pelorin {

std::string WindowsDirectory();       // with a trailing backslash
std::string SystemDirectory();        // with a trailing backslash
std::string ProgramFilesDirectory();  // with a trailing backslash; "\" on failure
std::string TempDirectory();          // as GetTempPathA gives it
std::string SystemDriveRoot();        // C:\ for a Windows folder on C:
// The same for a given Windows folder text, in any letter case.
std::string SystemDriveRoot(std::string_view windowsDirectory);
bool FileExists(const std::string& fileName);  // false for a directory

// The platform calls KillProcess and ReadProcessCreationTime make,
// replaceable by tests.
struct KillApi {
    HANDLE(WINAPI* openProcess)(DWORD access, BOOL inherit, DWORD pid);
    BOOL(WINAPI* terminateProcess)(HANDLE process, UINT exitCode);
    BOOL(WINAPI* closeHandle)(HANDLE handle);
    BOOL(WINAPI* getProcessTimes)(HANDLE process, FILETIME* creation, FILETIME* exit, FILETIME* kernel,
                                  FILETIME* user);
    DWORD(WINAPI* waitForSingleObject)(HANDLE handle, DWORD milliseconds);
};
const KillApi& PlatformKillApi();

// Ends the process with exit code 0; PIDs 0 to 5 are refused without a call.
bool KillProcess(std::uint32_t pid, const KillApi& api = PlatformKillApi());

// The creation time (a FILETIME as 64 bits) of the process that holds pid
// now, read with the least query right that works. False, with creation
// untouched, when the process cannot be opened or its times cannot be read.
bool ReadProcessCreationTime(std::uint32_t pid, std::uint64_t& creation, const KillApi& api = PlatformKillApi());

// How long a successful kill waits for the process to be gone.
inline constexpr DWORD KillSettleMs = 2000;

// Ends the process with exit code 0 only while pid still belongs to the
// process created at expectedCreation: a PID the platform has handed to
// another process since is refused. PIDs 0 to 5 are refused without a call.
// After a successful terminate it waits up to KillSettleMs for the process
// to end, so a snapshot taken next no longer lists it.
bool KillProcess(std::uint32_t pid, std::uint64_t expectedCreation, const KillApi& api = PlatformKillApi());

}  // namespace pelorin
