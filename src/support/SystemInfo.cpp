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

}  // namespace

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
    const DWORD attributes = ::GetFileAttributesA(fileName.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

const KillApi& PlatformKillApi() {
    static const KillApi api = {&PlatformOpenProcess, &PlatformTerminateProcess, &PlatformCloseHandle};
    return api;
}

bool KillProcess(std::uint32_t pid, const KillApi& api) {
    // The idle and system pseudo-processes and the lowest identifiers are never ours to end.
    if (pid <= 5) return false;
    const HANDLE process = api.openProcess(PROCESS_TERMINATE, FALSE, pid);
    if (process == nullptr) return false;
    const bool ended = api.terminateProcess(process, 0) != FALSE;
    api.closeHandle(process);
    return ended;
}

}  // namespace pelorin
