#include "catalogue/FakeModules.h"

#include <algorithm>
#include <cstring>
#include <map>

#include "catalogue/PsAPI.h"
#include "catalogue/TlHelp32.h"

namespace pelorin::testing {
namespace {

FakeState state;
// The bindings may look exports up from several threads at once.
SRWLOCK lock = SRWLOCK_INIT;
std::map<std::string, FARPROC> dummies;

struct Locked {
    Locked() { ::AcquireSRWLockExclusive(&lock); }
    ~Locked() { ::ReleaseSRWLockExclusive(&lock); }
    Locked(const Locked&) = delete;
    Locked& operator=(const Locked&) = delete;
};

// Copies text into a fixed field, with a terminator only when it fits.
template <std::size_t N>
void CopyField(char (&field)[N], const std::string& text) {
    std::memset(field, 0, N);
    std::memcpy(field, text.data(), std::min(text.size(), N));
}

HANDLE WINAPI FakeCreateSnapshot(DWORD flags, DWORD pid) {
    ::InterlockedIncrement(&state.createSnapshotCalls);
    if (state.refuseSnapshot) return INVALID_HANDLE_VALUE;
    if (state.fixedSnapshot) return state.fixedSnapshot;
    state.snapshotFlags = flags;
    state.snapshotPid = pid;
    // A real handle, so that closing it can be observed.
    state.lastSnapshot = ::CreateEventA(nullptr, TRUE, FALSE, nullptr);
    return state.lastSnapshot;
}

std::size_t processCursor = 0;
std::size_t moduleCursor = 0;

BOOL FillProcess(PROCESSENTRY32* entry) {
    if (processCursor >= state.processes.size()) return FALSE;
    const FakeProcess& process = state.processes[processCursor++];
    entry->th32ProcessID = process.pid;
    CopyField(entry->szExeFile, process.name);
    return TRUE;
}

BOOL WINAPI FakeProcess32First(HANDLE, PROCESSENTRY32* entry) {
    ::InterlockedIncrement(&state.process32FirstCalls);
    state.firstEntrySize = entry->dwSize;
    PROCESSENTRY32 zero{};
    zero.dwSize = entry->dwSize;
    state.firstEntryZeroFilled = std::memcmp(&zero, entry, sizeof zero) == 0;
    processCursor = 0;
    return FillProcess(entry);
}

BOOL WINAPI FakeProcess32Next(HANDLE, PROCESSENTRY32* entry) {
    ::InterlockedIncrement(&state.process32NextCalls);
    return FillProcess(entry);
}

BOOL FillModule(MODULEENTRY32* entry) {
    if (moduleCursor >= state.modules.size()) return FALSE;
    const FakeModule& module = state.modules[moduleCursor++];
    CopyField(entry->szModule, module.name);
    CopyField(entry->szExePath, module.path);
    return TRUE;
}

BOOL WINAPI FakeModule32First(HANDLE, MODULEENTRY32* entry) {
    ::InterlockedIncrement(&state.module32FirstCalls);
    moduleCursor = 0;
    return FillModule(entry);
}

BOOL WINAPI FakeModule32Next(HANDLE, MODULEENTRY32* entry) {
    ::InterlockedIncrement(&state.module32NextCalls);
    return FillModule(entry);
}

DWORD WINAPI FakeGetModuleFileNameExA(HANDLE, HMODULE, LPSTR buffer, DWORD size) {
    ::InterlockedIncrement(&state.getModuleFileNameCalls);
    // Like the older platforms: a long path fills the buffer with no terminator.
    const std::size_t count = std::min<std::size_t>(state.moduleFileName.size(), size);
    std::memcpy(buffer, state.moduleFileName.data(), count);
    if (count < size) buffer[count] = '\0';
    return static_cast<DWORD>(count);
}

BOOL WINAPI FakeGetProcessMemoryInfo(HANDLE, PROCESS_MEMORY_COUNTERS* counters, DWORD) {
    ::InterlockedIncrement(&state.getProcessMemoryInfoCalls);
    counters->WorkingSetSize = 123456;
    return TRUE;
}

template <typename Fn>
FARPROC AsExport(Fn function) {
    return reinterpret_cast<FARPROC>(reinterpret_cast<void (*)()>(function));
}

HMODULE WINAPI FakeGetModuleHandle(LPCSTR name) {
    ::InterlockedIncrement(&state.getModuleHandleCalls);
    Locked guard;
    state.moduleNamesAsked.emplace_back(name ? name : "");
    return state.kernelPresent ? FakeKernel : nullptr;
}

HMODULE WINAPI FakeLoadLibrary(LPCSTR name) {
    ::InterlockedIncrement(&state.loadLibraryCalls);
    Locked guard;
    state.moduleNamesAsked.emplace_back(name ? name : "");
    return state.psapiLoadResult;
}

FARPROC WINAPI FakeGetProcAddress(HMODULE module, LPCSTR name) {
    if (state.lookupDelayMs) ::Sleep(state.lookupDelayMs);
    const std::string export_(name);
    {
        Locked guard;
        state.exportsLookedUp.push_back(export_);
    }
    if (module != FakeKernel && module != FakePsapi) return nullptr;
    if (state.missingExports.count(export_)) return nullptr;
    if (module == FakeKernel) {
        if (export_ == "CreateToolhelp32Snapshot") return AsExport(&FakeCreateSnapshot);
        if (export_ == "Process32First") return AsExport(&FakeProcess32First);
        if (export_ == "Process32Next") return AsExport(&FakeProcess32Next);
        if (export_ == "Module32First") return AsExport(&FakeModule32First);
        if (export_ == "Module32Next") return AsExport(&FakeModule32Next);
    } else {
        if (export_ == "GetModuleFileNameExA") return AsExport(&FakeGetModuleFileNameExA);
        if (export_ == "GetProcessMemoryInfo") return AsExport(&FakeGetProcessMemoryInfo);
    }
    return DummyExport(export_);
}

const ModuleApi fakeApi{&FakeGetModuleHandle, &FakeLoadLibrary, &FakeGetProcAddress};

}  // namespace

FakeState& Fake() { return state; }

const ModuleApi& FakeModuleApi() { return fakeApi; }

FARPROC DummyExport(const std::string& name) {
    Locked guard;
    auto found = dummies.find(name);
    if (found != dummies.end()) return found->second;
    // Distinct, aligned, never called.
    const FARPROC address = reinterpret_cast<FARPROC>(0x00010000 + 16 * (dummies.size() + 1));
    dummies.emplace(name, address);
    return address;
}

void InstallFakeModules() {
    state = FakeState{};
    processCursor = 0;
    moduleCursor = 0;
    ResetToolhelpBinding(fakeApi);
    ResetPsapiBinding(fakeApi);
}

void UninstallFakeModules() {
    ResetToolhelpBinding(PlatformModuleApi());
    ResetPsapiBinding(PlatformModuleApi());
}

}  // namespace pelorin::testing
