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

// A function of a module already loaded in this process, bound by name (for
// those older systems lack); null where the module or the function is missing.
template <typename Fn>
Fn LoadedFunction(const char* module, const char* name) {
    const HMODULE handle = ::GetModuleHandleA(module);
    // void (*)() converts to and from every function pointer type without a cast-function-type warning.
    return reinterpret_cast<Fn>(reinterpret_cast<void (*)()>(handle ? ::GetProcAddress(handle, name) : nullptr));
}

// The longest path the system has, in characters with its terminator.
inline constexpr DWORD kLongestPath = 32768;

// A path that read(buffer, size) writes, returning its length (0: failed),
// whole whatever its length: the module-path functions cut a longer path to
// the buffer and still succeed (older systems without a terminator), so a
// path that fills the buffer is read again with room for the longest. Empty
// when it cannot be read.
template <typename Read>
std::wstring WholePath(Read read) {
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length = read(path.data(), static_cast<DWORD>(path.size()));
        if (length == 0) return std::wstring();
        if (length < path.size() - 1) {
            path.resize(length);
            return path;
        }
        if (path.size() >= kLongestPath) return std::wstring();
        path.assign(kLongestPath, L'\0');
    }
}

// True when this 32-bit program runs on 64-bit Windows.
bool RunningUnderWow64();

// The path through which this program reads a file the system names by its
// native path. A 32-bit program on 64-bit Windows that opens the system
// folder is sent to SysWOW64 instead, so a 64-bit process's image there is
// read through the "Sysnative" alias. Other paths, and every path when the
// program is not running under WOW64, pass unchanged.
std::string NativeFilePath(std::string_view path);

// The platform calls KillProcess makes, replaceable by tests.
struct KillApi {
    HANDLE(WINAPI* openProcess)(DWORD access, BOOL inherit, DWORD pid);
    BOOL(WINAPI* terminateProcess)(HANDLE process, UINT exitCode);
    BOOL(WINAPI* closeHandle)(HANDLE handle);
    BOOL(WINAPI* getProcessTimes)(HANDLE process, FILETIME* creation, FILETIME* exit, FILETIME* kernel,
                                  FILETIME* user);
    BOOL(WINAPI* getExitCodeProcess)(HANDLE process, DWORD* code);
    // Waits up to ms for the process to end; the platform's serves the
    // calling thread's messages meanwhile, so a window on it stays responsive.
    void (*waitForExit)(const KillApi& api, HANDLE process, DWORD ms);
    // NtQueryInformationProcess and QueryFullProcessImageNameA, bound by name
    // at first use; null where the system has none.
    LONG(WINAPI* queryInformation)(HANDLE process, ULONG infoClass, PVOID buffer, ULONG length, PULONG returned);
    BOOL(WINAPI* queryImageName)(HANDLE process, DWORD flags, LPSTR buffer, PDWORD size);
};
const KillApi& PlatformKillApi();

// How long a successful kill waits for the process to be gone.
inline constexpr DWORD KillSettleMs = 2000;

// Ends the process with exit code 0 only while pid still belongs to the
// process created at expectedCreation: a PID the platform has handed to
// another process since is refused, and so is a process that has already
// ended. PIDs 0 to 5 and this program's own are refused without a call.
// Never ends a process the machine cannot live without: one the system marks
// critical (its break-on-termination flag), or, where that flag cannot be
// read, one whose image is a session-critical program of the system folder
// (SessionCriticalImages); one that shows neither flag nor image is refused
// too. The process is opened with the terminate and query rights (the
// limited query right where the full one is refused). After a successful
// terminate it waits (api.waitForExit, up to KillSettleMs) for the process to
// end, so a snapshot taken next no longer lists it.
inline constexpr const char* SessionCriticalImages[] = {"smss.exe",     "csrss.exe",   "wininit.exe",
                                                        "winlogon.exe", "services.exe", "lsass.exe"};
bool KillProcess(std::uint32_t pid, std::uint64_t expectedCreation, const KillApi& api = PlatformKillApi());

}  // namespace pelorin
