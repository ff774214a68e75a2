#include "support/SystemInfo.h"

#include <shlobj.h>

#include "support/FastStrings.h"

namespace pelorin {

namespace {

constexpr UINT kPathBuffer = 261;
constexpr int kProgramFilesFolder = 38;  // CSIDL_PROGRAM_FILES

// The text a Get...DirectoryA style call left in its buffer: empty when it
// failed or asked for a larger buffer (the contents are undefined then).
std::string TextFromPathCall(const char* buffer, UINT length, UINT capacity) {
    if (length == 0 || length >= capacity) return std::string();
    return StringFromBuffer(buffer, length);
}

bool IsDriveLetter(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

bool IsDriveRoot(const std::string& s) {
    return s.size() == 3 && IsDriveLetter(s[0]) && s[1] == ':' && s[2] == '\\';
}

// The root of the volume a path lies on: "X:\" for a drive path,
// "\\server\share\" for a UNC path, a lone backslash when there is none.
std::string VolumeRootOf(std::string_view path) {
    if (path.size() >= 2 && IsDriveLetter(path[0]) && path[1] == ':') return std::string(path.substr(0, 2)) + "\\";
    if (path.size() > 2 && path[0] == '\\' && path[1] == '\\') {
        const std::size_t server = path.find('\\', 2);
        if (server != std::string_view::npos && server > 2) {
            const std::size_t share = path.find('\\', server + 1);
            if (share == std::string_view::npos) return std::string(path) + "\\";
            if (share > server + 1) return std::string(path.substr(0, share + 1));
        }
    }
    return "\\";
}

HANDLE WINAPI PlatformOpenProcess(DWORD access, BOOL inherit, DWORD pid) {
    return ::OpenProcess(access, inherit, pid);
}

BOOL WINAPI PlatformTerminateProcess(HANDLE process, UINT exitCode) {
    return ::TerminateProcess(process, exitCode);
}

BOOL WINAPI PlatformCloseHandle(HANDLE handle) {
    return ::CloseHandle(handle);
}

BOOL WINAPI PlatformGetProcessTimes(HANDLE process, FILETIME* creation, FILETIME* exit, FILETIME* kernel,
                                    FILETIME* user) {
    return ::GetProcessTimes(process, creation, exit, kernel, user);
}

BOOL WINAPI PlatformGetExitCodeProcess(HANDLE process, DWORD* code) {
    return ::GetExitCodeProcess(process, code);
}

bool StillRunning(const KillApi& api, HANDLE process) {
    DWORD code = 0;
    return api.getExitCodeProcess(process, &code) && code == STILL_ACTIVE;
}

// The kill runs on the interface thread: while it waits, the window keeps
// painting and answering. The handle has no right to be waited on, so the
// exit code is polled.
void WaitForExitServingMessages(const KillApi& api, HANDLE process, DWORD ms) {
    const DWORD start = ::GetTickCount();
    while (StillRunning(api, process) && ::GetTickCount() - start < ms) {
        ::MsgWaitForMultipleObjectsEx(0, nullptr, 20, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
        MSG message;
        while (::PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
            if (message.message == WM_QUIT) {
                // The program is ending: leave the quit for its own loop.
                ::PostQuitMessage(static_cast<int>(message.wParam));
                return;
            }
            ::TranslateMessage(&message);
            ::DispatchMessageA(&message);
        }
    }
}

// The lowest identifiers are the idle and system pseudo-processes and never ours to end.
constexpr std::uint32_t kHighestReservedPid = 5;

// The full query right first (the critical flag needs it); a protected
// process grants only the limited one, enough for the creation time and the
// image path.
constexpr DWORD kQueryLimited = 0x1000;  // PROCESS_QUERY_LIMITED_INFORMATION
constexpr DWORD kQueryRights[] = {PROCESS_QUERY_INFORMATION, kQueryLimited};
constexpr ULONG kProcessBreakOnTermination = 29;

bool CreationTimeOf(const KillApi& api, HANDLE process, std::uint64_t& creation) {
    FILETIME created = {}, exited = {}, kernel = {}, user = {};
    if (!api.getProcessTimes(process, &created, &exited, &kernel, &user)) return false;
    creation = (static_cast<std::uint64_t>(created.dwHighDateTime) << 32) | created.dwLowDateTime;
    return true;
}

// Closes a handle through the same table that opened it.
class KillHandle {
public:
    KillHandle(const KillApi& api, HANDLE handle) : api_(api), handle_(handle) {}
    ~KillHandle() {
        if (handle_ != nullptr) api_.closeHandle(handle_);
    }
    KillHandle(const KillHandle&) = delete;
    KillHandle& operator=(const KillHandle&) = delete;
    HANDLE Get() const { return handle_; }

private:
    const KillApi& api_;
    HANDLE handle_;
};

HANDLE OpenForKill(const KillApi& api, std::uint32_t pid) {
    for (const DWORD query : kQueryRights) {
        if (const HANDLE process = api.openProcess(PROCESS_TERMINATE | query, FALSE, pid)) return process;
    }
    return nullptr;
}

bool StartsWithIgnoringAsciiCase(std::string_view text, std::string_view prefix) {
    return text.size() >= prefix.size() && LowerCaseAscii(text.substr(0, prefix.size())) == LowerCaseAscii(prefix);
}

// A process whose end stops the machine (a blue screen, a forced restart)
// or the session: marked critical by the system, or, where that mark cannot
// be read, one of the session's own programs in the system folder. Without
// either answer nothing tells it apart from them.
bool IsCriticalProcess(const KillApi& api, HANDLE process) {
    ULONG critical = 0;
    if (api.queryInformation &&
        api.queryInformation(process, kProcessBreakOnTermination, &critical, sizeof critical, nullptr) == 0)
        return critical != 0;
    std::string path(kLongestPath, '\0');
    DWORD size = kLongestPath;
    if (!api.queryImageName || !api.queryImageName(process, 0, path.data(), &size) || size == 0) return true;
    path.resize(size);
    const std::string folder = SystemDirectory();
    for (const char* image : SessionCriticalImages) {
        if (LowerCaseAscii(path) == LowerCaseAscii(folder + image)) return true;
    }
    return false;
}

}  // namespace

bool RunningUnderWow64() {
    static const bool wow64 = [] {
        BOOL value = FALSE;
        return ::IsWow64Process(::GetCurrentProcess(), &value) && value;
    }();
    return wow64;
}

std::string WindowsDirectory() {
    char buffer[kPathBuffer];
    const UINT length = ::GetWindowsDirectoryA(buffer, kPathBuffer);
    return IncludeTrailingBackslash(TextFromPathCall(buffer, length, kPathBuffer));
}

std::string SystemDirectory() {
    char buffer[kPathBuffer];
    const UINT length = ::GetSystemDirectoryA(buffer, kPathBuffer);
    return IncludeTrailingBackslash(TextFromPathCall(buffer, length, kPathBuffer));
}

std::string ProgramFilesDirectory() {
    char buffer[kPathBuffer] = {};
    std::string path;
    if (::SHGetFolderPathA(nullptr, kProgramFilesFolder, nullptr, 0, buffer) == S_OK) path = StringFromBuffer(buffer, kPathBuffer);
    return IncludeTrailingBackslash(path);
}

std::string TempDirectory() {
    char buffer[kPathBuffer];
    const DWORD length = ::GetTempPathA(kPathBuffer - 1, buffer);
    return TextFromPathCall(buffer, length, kPathBuffer - 1);
}

std::string SystemDriveRoot() {
    return SystemDriveRoot(WindowsDirectory());
}

std::string SystemDriveRoot(std::string_view windowsDirectory) {
    std::string s(windowsDirectory);
    ReplaceText(s, "windows", "");
    ReplaceText(s, "WINDOWS", "");
    ReplaceText(s, "\\", "");
    s = IncludeTrailingBackslash(s);
    if (IsDriveRoot(s)) return s;
    // A folder name in mixed case (C:\Windows\) or on a UNC share survives the
    // replacements above; take the root of the path itself instead.
    return VolumeRootOf(windowsDirectory);
}

bool FileExists(const std::string& fileName) {
    const DWORD attributes = ::GetFileAttributesW(LongPathForm(fileName).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

std::string NativeFilePath(std::string_view path) {
    if (!RunningUnderWow64()) return std::string(path);
    // The system folder as this program sees it: C:\Windows\system32.
    const std::string system = SystemDirectory();
    if (system.size() <= 1 || !StartsWithIgnoringAsciiCase(path, system)) return std::string(path);
    return WindowsDirectory() + "Sysnative\\" + std::string(path.substr(system.size()));
}

const KillApi& PlatformKillApi() {
    static const KillApi api = {
        &PlatformOpenProcess,
        &PlatformTerminateProcess,
        &PlatformCloseHandle,
        &PlatformGetProcessTimes,
        &PlatformGetExitCodeProcess,
        &WaitForExitServingMessages,
        LoadedFunction<decltype(KillApi::queryInformation)>("ntdll.dll", "NtQueryInformationProcess"),
        LoadedFunction<decltype(KillApi::queryImageName)>("kernel32.dll", "QueryFullProcessImageNameA"),
    };
    return api;
}

bool KillProcess(std::uint32_t pid, std::uint64_t expectedCreation, const KillApi& api) {
    if (pid <= kHighestReservedPid || pid == ::GetCurrentProcessId()) return false;
    const KillHandle process(api, OpenForKill(api, pid));
    if (process.Get() == nullptr) return false;
    // The PID may have been handed to another process since it was listed:
    // the handle now pins whichever process holds it, so this check is final.
    std::uint64_t creation = 0;
    if (!CreationTimeOf(api, process.Get(), creation) || creation != expectedCreation) return false;
    // Ended already (another handle keeps it around): not ended by this call.
    if (!StillRunning(api, process.Get()) || IsCriticalProcess(api, process.Get())) return false;
    if (!api.terminateProcess(process.Get(), 0)) return false;
    // Termination completes asynchronously; wait so that the list rebuilt
    // right after no longer shows the process.
    api.waitForExit(api, process.Get(), KillSettleMs);
    return true;
}

}  // namespace pelorin
