// The run-time bindings of Toolhelp and PSAPI through a fake module table:
// missing exports.
#include <gtest/gtest.h>

#include <string>

#include "catalogue/ProcessSnapshot.h"
#include "catalogue/PsAPI.h"
#include "catalogue/TlHelp32.h"

namespace pelorin {
namespace {

const HMODULE Kernel = reinterpret_cast<HMODULE>(0x7a000000), Psapi = reinterpret_cast<HMODULE>(0x7b000000);
const HANDLE Snapshot = reinterpret_cast<HANDLE>(0x4444);
struct { std::string missingExport; } fake;
int calls;  // of any fake Toolhelp or PSAPI function

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

// Both bindings unbound and bound through api from now on; the fakes whole.
void Use(const ModuleApi& api) {
    fake = {""};
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

}  // namespace
}  // namespace pelorin
