// The run-time bindings of Toolhelp and PSAPI through a fake module table:
// missing exports, slow lookups.
#include <gtest/gtest.h>

#include <atomic>
#include <string>

#include "catalogue/ProcessSnapshot.h"
#include "catalogue/PsAPI.h"
#include "catalogue/TlHelp32.h"

namespace pelorin {
namespace {

const HMODULE Kernel = reinterpret_cast<HMODULE>(0x7a000000), Psapi = reinterpret_cast<HMODULE>(0x7b000000);
const HANDLE Snapshot = reinterpret_cast<HANDLE>(0x4444);
struct { std::string missingExport; DWORD lookupDelayMs; } fake;
std::atomic<int> calls;  // of any fake Toolhelp or PSAPI function

template <typename T> T Counted(T answer) { ++calls; return answer; }
HANDLE WINAPI FakeSnapshot(DWORD, DWORD) { return Counted(Snapshot); }
template <typename Record> BOOL WINAPI Walk(HANDLE, Record*) { return Counted(TRUE); }
BOOL WINAPI FakeMemoryInfo(HANDLE, PROCESS_MEMORY_COUNTERS* counters, DWORD) {
    counters->WorkingSetSize = 123456;
    return Counted(TRUE);
}

template <typename F> void (*Entry(F function))() { return reinterpret_cast<void (*)()>(function); }
HMODULE WINAPI FakeGetModuleHandle(LPCSTR name) { return std::string(name) == "kernel32.dll" ? Kernel : nullptr; }
HMODULE WINAPI FakeLoadLibrary(LPCSTR) { return Psapi; }
FARPROC WINAPI FakeGetProcAddress(HMODULE module, LPCSTR name) {
    if (fake.lookupDelayMs) ::Sleep(fake.lookupDelayMs);  // keeps a binding half done for a while
    if (fake.missingExport == name) return nullptr;
    const struct { HMODULE module; std::string name; void (*entry)(); } exports[] = {
        {Kernel, "CreateToolhelp32Snapshot", Entry(FakeSnapshot)}, {Psapi, "GetProcessMemoryInfo", Entry(FakeMemoryInfo)},
        {Kernel, "Process32First", Entry(Walk<PROCESSENTRY32>)}, {Kernel, "Module32FirstW", Entry(Walk<MODULEENTRY32W>)},
        {Kernel, "Process32Next", Entry(Walk<PROCESSENTRY32>)}, {Kernel, "Module32NextW", Entry(Walk<MODULEENTRY32W>)}};
    for (const auto& e : exports)
        if (e.module == module && e.name == name) return reinterpret_cast<FARPROC>(e.entry);
    return nullptr;
}
const ModuleApi FakeModules{&FakeGetModuleHandle, &FakeLoadLibrary, &FakeGetProcAddress};

// Both bindings unbound and bound through api from now on; the fakes whole and quick.
void Use(const ModuleApi& api, DWORD delayMs = 0) {
    fake = {"", delayMs};
    calls = 0;
    ResetToolhelpBinding(api);
    ResetPsapiBinding(api);
    ResetImageNameBinding(api);
}

struct Binding : ::testing::Test {
    void SetUp() override { Use(FakeModules); }
    void TearDown() override { Use(PlatformModuleApi()); }  // the program's binding again
};

TEST_F(Binding, AMissingExportMakesItsWrappersAnswerZeroWithoutCalling) {
    fake.missingExport = "CreateToolhelp32Snapshot";
    EXPECT_FALSE(LoadToolhelp());
    EXPECT_EQ(pelorin::CreateToolhelp32Snapshot(2, 0), nullptr);
    PROCESSENTRY32 process{};
    MODULEENTRY32W module{};
    for (auto walk : {&pelorin::Process32First, &pelorin::Process32Next}) EXPECT_FALSE(walk(Snapshot, &process));
    for (auto walk : {&pelorin::Module32FirstW, &pelorin::Module32NextW}) EXPECT_FALSE(walk(Snapshot, &module));
    fake.missingExport = "GetProcessMemoryInfo";  // PSAPI is bound without it
    EXPECT_TRUE(LoadPsapi());
    PROCESS_MEMORY_COUNTERS counters{};
    counters.WorkingSetSize = 77;
    EXPECT_FALSE(pelorin::GetProcessMemoryInfo(::GetCurrentProcess(), &counters, sizeof counters));
    EXPECT_EQ(counters.WorkingSetSize, 77u);
    EXPECT_EQ(ProcessWorkingSet(::GetCurrentProcess()), 0u);  // "Mem" reads 0
    EXPECT_EQ(calls, 0);
}

// Eight threads reach both unbound bindings at once while slow lookups keep them
// half done. The even ones call (Module32NextW and GetProcessMemoryInfo are among
// the last lookups) and must get working calls; the odd ones watch and must never
// find a binding published with a needed entry still null.
HANDLE go;
bool whole[8];

DWORD WINAPI Race(void* index) noexcept {
    MODULEENTRY32W module{};
    PROCESS_MEMORY_COUNTERS counters{};
    ::WaitForSingleObject(go, INFINITE);
    int seen = reinterpret_cast<UINT_PTR>(index) % 2 ? -1  // -1: not both published yet
               : pelorin::Module32NextW(Snapshot, &module) &&
                     pelorin::GetProcessMemoryInfo(::GetCurrentProcess(), &counters, sizeof counters) &&
                     counters.WorkingSetSize == 123456;
    for (const DWORD start = ::GetTickCount(); seen < 0 && ::GetTickCount() - start < 10000; ::SwitchToThread()) {
        const ToolhelpBinding* t = BoundToolhelp();
        const PsapiBinding* p = BoundPsapi();
        if ((t && !(t->kernel == Kernel && t->createToolhelp32Snapshot && t->process32First && t->process32Next &&
                    t->module32FirstW && t->module32NextW)) ||
            (p && !(p->psapi == Psapi && p->getProcessMemoryInfo)))
            seen = 0;
        else if (t && p)
            seen = 1;
    }
    whole[reinterpret_cast<UINT_PTR>(index)] = seen == 1;
    return 0;
}

TEST_F(Binding, FirstUseFromSeveralThreadsAtOnceIsSeenWhole) {
    for (int round = 0; round < 3; ++round) {
        Use(FakeModules, 2);
        const UniqueHandle event(::CreateEventA(nullptr, TRUE, FALSE, nullptr));
        go = event.Get();
        UniqueHandle threads[8];
        for (UINT_PTR i = 0; i < 8; ++i)
            threads[i].Reset(::CreateThread(nullptr, 0, &Race, reinterpret_cast<void*>(i), 0, nullptr));
        ::SetEvent(go);
        for (int i = 0; i < 8; ++i) {
            if (::WaitForSingleObject(threads[i].Get(), 30000) != WAIT_OBJECT_0) {
                ADD_FAILURE() << "thread " << i << " hangs in the binding";
                ::ExitProcess(1);  // the next reset must not meet it
            }
            EXPECT_TRUE(whole[i]) << "round " << round << " thread " << i;
        }
    }
}

}  // namespace
}  // namespace pelorin
