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

// The platform calls KillProcess makes, replaceable by tests.
struct KillApi {
    HANDLE(WINAPI* openProcess)(DWORD access, BOOL inherit, DWORD pid);
    BOOL(WINAPI* terminateProcess)(HANDLE process, UINT exitCode);
    BOOL(WINAPI* closeHandle)(HANDLE handle);
};
const KillApi& PlatformKillApi();

// Ends the process with exit code 0; PIDs 0 to 5 are refused without a call.
bool KillProcess(std::uint32_t pid, const KillApi& api = PlatformKillApi());

}  // namespace pelorin
