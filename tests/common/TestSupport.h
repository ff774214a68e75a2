// What every test program shares: waits, files beside the test program,
// throwaway folders and keys, child processes, the soak switch.
#pragma once

#include <windows.h>
#include <psapi.h>
#include <shellapi.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "support/Handles.h"

namespace pelorin::test {

// True as soon as done() holds; false when it still does not after timeoutMs.
// Meanwhile this thread's messages are served (the test's windows live on it).
template <class Condition>
bool WaitUntil(Condition done, DWORD timeoutMs = 5000) {
    const DWORD start = ::GetTickCount();
    for (MSG message;;) {
        while (::PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) ::TranslateMessage(&message), ::DispatchMessageA(&message);
        if (done()) return true;
        if (::GetTickCount() - start >= timeoutMs) return false;
        ::MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
    }
}

// Between UTF-8 and UTF-16, for texts and paths in any script.
inline std::wstring Wide(const std::string& s) {
    std::wstring w(s.size(), L'\0');
    return w.substr(0, ::MultiByteToWideChar(CP_UTF8, 0, s.data(), int(s.size()), w.data(), int(w.size())));  // 0 on failure
}
inline std::string Utf8(const std::wstring& w) {
    std::string s(w.size() * 3, '\0');
    return s.substr(0, ::WideCharToMultiByte(CP_UTF8, 0, w.data(), int(w.size()), s.data(), int(s.size()), nullptr, nullptr));
}

// A file beside the running test program: the fixtures and Pelorin.exe are built there.
inline std::string FixturePath(const std::string& fileName) {
    char buffer[MAX_PATH + 1] = {};
    const DWORD length = ::GetModuleFileNameA(nullptr, buffer, MAX_PATH);
    const std::string path(buffer, length < MAX_PATH ? length : 0);
    return path.substr(0, path.find_last_of('\\') + 1) + fileName;
}

inline std::string UniqueName(const char* prefix) {
    static LONG counter = 0;
    return std::string(prefix) + std::to_string(::GetCurrentProcessId()) + "-" +
           std::to_string(::InterlockedIncrement(&counter));
}

// A new folder under the temporary folder, removed with everything in it.
class TempFolder {
public:
    TempFolder() {
        char temp[MAX_PATH + 1] = {};
        ::GetTempPathA(MAX_PATH, temp);
        path_ = std::string(temp) + UniqueName("pelorin-test-") + "\\";
        ::CreateDirectoryA(path_.c_str(), nullptr);
    }
    ~TempFolder() { Remove(path_); }

    const std::string& Path() const { return path_; }  // with a trailing backslash
    std::string File(const std::string& name) const { return path_ + name; }

private:
    static void Remove(const std::string& folder) {
        std::string from = folder.substr(0, folder.size() - 1) + '\0';  // a list of one, ended twice
        SHFILEOPSTRUCTA remove = {};
        remove.wFunc = FO_DELETE;
        remove.pFrom = from.c_str();
        remove.fFlags = FOF_NO_UI;
        ::SHFileOperationA(&remove);
    }
    std::string path_;
};

// A throwaway key under HKEY_CURRENT_USER\Software\PelorinTests, deleted with
// everything below it.
class ScratchKey {
public:
    ScratchKey() : path_("Software\\PelorinTests\\" + UniqueName("key-")) {}
    ~ScratchKey() { ::RegDeleteTreeA(HKEY_CURRENT_USER, path_.c_str()); }
    const std::string& Path() const { return path_; }

private:
    std::string path_;
};

// A REG_DWORD under HKEY_CURRENT_USER; none when missing or of another type.
inline std::optional<DWORD> RegistryDword(const char* key, const char* name) {
    DWORD value = 0, size = sizeof value;
    const bool read = ::RegGetValueA(HKEY_CURRENT_USER, key, name, RRF_RT_REG_DWORD, nullptr, &value, &size) == ERROR_SUCCESS;
    return read ? std::optional(value) : std::nullopt;
}

// A process the test starts and owns: killed when the object goes away while
// it still runs.
class Child {
public:
    ~Child() { Kill(); }

    // pelorin_child.exe with options (see fixtures/CMakeLists.txt), waiting
    // until it reports ready.
    bool Start(const std::string& options = std::string()) {
        const std::string event = UniqueName("PelorinChildReady-");
        const UniqueHandle ready(::CreateEventA(nullptr, TRUE, FALSE, event.c_str()));
        if (!StartProgram(FixturePath("pelorin_child.exe"), options + " --ready-event " + event)) return false;
        const HANDLE waitFor[] = {ready.Get(), process_.Get()};
        return ::WaitForMultipleObjects(2, waitFor, FALSE, 10000) == WAIT_OBJECT_0;
    }

    // Any program, with its arguments (all UTF-8); does not wait for it.
    bool StartProgram(const std::string& program, const std::string& arguments = std::string(),
                      const std::string& folder = std::string()) {
        Kill();
        std::wstring commandLine = Wide("\"" + program + "\" " + arguments);
        STARTUPINFOW startup = {};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION info = {};
        if (!::CreateProcessW(Wide(program).c_str(), commandLine.data(), nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr,
                              folder.empty() ? nullptr : Wide(folder).c_str(), &startup, &info))
            return false;
        ::CloseHandle(info.hThread);
        process_.Reset(info.hProcess);
        pid_ = info.dwProcessId;
        return true;
    }

    DWORD Pid() const { return pid_; }
    HANDLE Handle() const { return process_.Get(); }
    bool Running() const { return process_ && ::WaitForSingleObject(process_.Get(), 0) == WAIT_TIMEOUT; }

    // The exit code once the process has ended within timeoutMs.
    std::optional<DWORD> ExitCode(DWORD timeoutMs = 5000) const {
        DWORD code = 0;
        if (!process_ || ::WaitForSingleObject(process_.Get(), timeoutMs) != WAIT_OBJECT_0 ||
            !::GetExitCodeProcess(process_.Get(), &code))
            return std::nullopt;
        return code;
    }

    void Kill() {
        if (Running()) {
            ::TerminateProcess(process_.Get(), 1);
            ::WaitForSingleObject(process_.Get(), 5000);
        }
        process_.Reset();
        pid_ = 0;
    }

private:
    UniqueHandle process_;
    DWORD pid_ = 0;
};

// How many rounds a long case runs: more under scripts/soak (PELORIN_SOAK=1).
inline int SoakCount(int normal, int soak) {
    char value[8] = {};
    return ::GetEnvironmentVariableA("PELORIN_SOAK", value, sizeof value) && value[0] == '1' ? soak : normal;
}

// Private bytes of this process (PagefileUsage: PrivateUsage is never filled
// in under Wine); 0 on failure.
inline std::uint64_t OwnPrivateBytes() {
    PROCESS_MEMORY_COUNTERS counters = {};
    counters.cb = sizeof counters;
    return ::GetProcessMemoryInfo(::GetCurrentProcess(), &counters, sizeof counters) ? counters.PagefileUsage : 0;
}

// Open handles of this process as the system's process list counts them
// (GetProcessHandleCount answers 0 under Wine); 0 on failure.
inline unsigned long OwnHandleCount() {
    using Query = LONG(WINAPI*)(ULONG, PVOID, ULONG, PULONG);
    const auto query = reinterpret_cast<Query>(
        reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleA("ntdll.dll"), "NtQuerySystemInformation")));
    if (query == nullptr) return 0;
    std::vector<unsigned char> buffer(1 << 20);
    ULONG needed = 0;
    if (query(5, buffer.data(), static_cast<ULONG>(buffer.size()), &needed) != 0) return 0;
    // The fields this needs of a SYSTEM_PROCESS_INFORMATION entry of this width.
    const bool wide = sizeof(void*) == 8;
    for (std::size_t offset = 0;;) {
        const unsigned char* entry = buffer.data() + offset;
        ULONG next = 0, handles = 0;
        std::uintptr_t pid = 0;
        std::memcpy(&next, entry, sizeof next);
        std::memcpy(&pid, entry + (wide ? 80 : 68), sizeof pid);
        std::memcpy(&handles, entry + (wide ? 96 : 76), sizeof handles);
        if (pid == ::GetCurrentProcessId()) return handles;
        if (next == 0) return 0;
        offset += next;
    }
}

}  // namespace pelorin::test
