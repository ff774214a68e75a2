// The run-time bindings of Toolhelp and PSAPI through a fake module table: a
// kernel32 without an export, a PSAPI.dll that will not load, slow lookups.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <string>

#include "catalogue/ProcessSnapshot.h"
#include "catalogue/PsAPI.h"
#include "catalogue/TlHelp32.h"

namespace pelorin {
namespace {

const HMODULE FakeKernel = reinterpret_cast<HMODULE>(0x7a000000);
const HMODULE FakePsapi = reinterpret_cast<HMODULE>(0x7b000000);
const HANDLE FakeSnapshot = reinterpret_cast<HANDLE>(0x4444);

struct FakePlatform {
    std::string missingExport;
    bool psapiLoads = true;
    DWORD lookupDelayMs = 0;
    std::atomic<int> loads{0};
    std::atomic<int> calls{0};  // of any fake Toolhelp or PSAPI function
} fake;

// A fake function's answer, with the call counted.
template <typename T>
T Counted(T answer) {
    ++fake.calls;
    return answer;
}

HANDLE WINAPI FakeCreateSnapshot(DWORD, DWORD) { return Counted(FakeSnapshot); }
BOOL WINAPI FakeProcess(HANDLE, PROCESSENTRY32*) { return Counted(TRUE); }
BOOL WINAPI FakeModule(HANDLE, MODULEENTRY32*) { return Counted(TRUE); }
DWORD WINAPI FakeFileName(HANDLE, HMODULE, LPSTR buffer, DWORD size) {
    std::strncpy(buffer, "C:\\fake\\image.exe", size);
    return Counted(17);
}
BOOL WINAPI FakeMemoryInfo(HANDLE, PROCESS_MEMORY_COUNTERS* counters, DWORD) {
    counters->WorkingSetSize = 123456;
    return Counted(TRUE);
}

template <typename F>
void (*Export(F function))() {
    return reinterpret_cast<void (*)()>(function);
}

HMODULE WINAPI FakeGetModuleHandle(LPCSTR name) { return std::string(name) == "kernel32.dll" ? FakeKernel : nullptr; }
HMODULE WINAPI FakeLoadLibrary(LPCSTR) {
    ++fake.loads;
    return fake.psapiLoads ? FakePsapi : nullptr;
}
FARPROC WINAPI FakeGetProcAddress(HMODULE module, LPCSTR name) {
    if (fake.lookupDelayMs) ::Sleep(fake.lookupDelayMs);  // keeps a binding half done for a while
    const struct { HMODULE module; std::string name; void (*address)(); } exports[] = {
        {FakeKernel, "CreateToolhelp32Snapshot", Export(&FakeCreateSnapshot)},
        {FakeKernel, "Process32First", Export(&FakeProcess)}, {FakeKernel, "Process32Next", Export(&FakeProcess)},
        {FakeKernel, "Module32First", Export(&FakeModule)}, {FakeKernel, "Module32Next", Export(&FakeModule)},
        {FakePsapi, "GetModuleFileNameExA", Export(&FakeFileName)},
        {FakePsapi, "GetProcessMemoryInfo", Export(&FakeMemoryInfo)},
    };
    for (const auto& e : exports) {
        if (e.module == module && e.name == name && e.name != fake.missingExport) {
            return reinterpret_cast<FARPROC>(e.address);
        }
    }
    return nullptr;
}

const ModuleApi FakeModules{&FakeGetModuleHandle, &FakeLoadLibrary, &FakeGetProcAddress};

class Binding : public ::testing::Test {
protected:
    void SetUp() override { Use(FakeModules); }
    void TearDown() override { Use(PlatformModuleApi()); }  // the program's binding again
    static void Use(const ModuleApi& api) {
        fake.missingExport.clear();
        fake.psapiLoads = true;
        fake.lookupDelayMs = 0;
        fake.loads = fake.calls = 0;
        ResetToolhelpBinding(api);
        ResetPsapiBinding(api);
    }
};

TEST_F(Binding, KernelWithoutSnapshotExportAnswersZeroWithoutCalling) {
    fake.missingExport = "CreateToolhelp32Snapshot";
    PROCESSENTRY32 process{};
    MODULEENTRY32 module{};
    EXPECT_FALSE(LoadToolhelp());
    EXPECT_EQ(pelorin::CreateToolhelp32Snapshot(2, 0), nullptr);
    EXPECT_FALSE(pelorin::Process32First(FakeSnapshot, &process));
    EXPECT_FALSE(pelorin::Process32Next(FakeSnapshot, &process));
    EXPECT_FALSE(pelorin::Module32First(FakeSnapshot, &module));
    EXPECT_FALSE(pelorin::Module32Next(FakeSnapshot, &module));
    EXPECT_EQ(fake.calls, 0);
}

TEST_F(Binding, AbsentPsapiIsTriedAtEveryCallAndBindsOnceItLoads) {
    fake.psapiLoads = false;
    char buffer[260] = "untouched";
    for (int call = 1; call <= 3; ++call) {
        EXPECT_EQ(pelorin::GetModuleFileNameEx(nullptr, nullptr, buffer, sizeof buffer), 0u);
        EXPECT_EQ(fake.loads, call);
    }
    EXPECT_STREQ(buffer, "untouched");
    fake.psapiLoads = true;
    EXPECT_EQ(pelorin::GetModuleFileNameEx(nullptr, nullptr, buffer, sizeof buffer), 17u);
    EXPECT_STREQ(buffer, "C:\\fake\\image.exe");
    EXPECT_TRUE(LoadPsapi());
    EXPECT_EQ(fake.loads, 4) << "a loaded library is kept";
}

TEST_F(Binding, PsapiWithoutGetProcessMemoryInfoIsBoundAndThatWrapperAnswersZero) {
    fake.missingExport = "GetProcessMemoryInfo";
    EXPECT_TRUE(LoadPsapi());
    PROCESS_MEMORY_COUNTERS counters{};
    counters.WorkingSetSize = 77;
    EXPECT_FALSE(pelorin::GetProcessMemoryInfo(::GetCurrentProcess(), &counters, sizeof counters));
    EXPECT_EQ(counters.WorkingSetSize, 77u);
    EXPECT_EQ(ProcessWorkingSet(::GetCurrentProcess()), 0u);  // "Mem" reads 0
    EXPECT_EQ(fake.calls, 0);
}

TEST_F(Binding, PlainPsapiEntriesAreTheAnsiFunctions) {
    Use(PlatformModuleApi());
    ASSERT_TRUE(LoadPsapi());
    const PsapiBinding& t = *BoundPsapi();
    EXPECT_TRUE(t.getModuleBaseName && t.getModuleBaseName == t.getModuleBaseNameA);
    EXPECT_TRUE(t.getModuleFileNameEx && t.getModuleFileNameEx == t.getModuleFileNameExA);
    EXPECT_TRUE(t.getMappedFileName && t.getMappedFileName == t.getMappedFileNameA);
    EXPECT_TRUE(t.getDeviceDriverBaseName && t.getDeviceDriverBaseName == t.getDeviceDriverBaseNameA);
    EXPECT_TRUE(t.getDeviceDriverFileName && t.getDeviceDriverFileName == t.getDeviceDriverFileNameA);
}

// Several threads reach both unbound bindings at once while slow lookups keep
// them half done: callers must get working calls (Module32Next and
// GetProcessMemoryInfo are among the last lookups), and watchers must never
// find a module handle published with a needed entry still null.
int BothSeen() {  // -1 until both are published, then whether both are whole
    const ToolhelpBinding* t = BoundToolhelp();
    const PsapiBinding* p = BoundPsapi();
    if (t && !(t->kernel == FakeKernel && t->createToolhelp32Snapshot && t->process32First && t->process32Next &&
               t->module32First && t->module32Next))
        return 0;
    if (p && !(p->psapi == FakePsapi && p->getModuleFileNameEx && p->getProcessMemoryInfo)) return 0;
    return t && p ? 1 : -1;
}

bool CallsWork() {
    MODULEENTRY32 module{};
    PROCESS_MEMORY_COUNTERS counters{};
    return pelorin::Module32Next(FakeSnapshot, &module) &&
           pelorin::GetProcessMemoryInfo(::GetCurrentProcess(), &counters, sizeof counters) &&
           counters.WorkingSetSize == 123456;
}

struct Racer { HANDLE go; bool caller; bool whole; UniqueHandle thread; };

DWORD WINAPI Race(void* parameter) noexcept {
    Racer& r = *static_cast<Racer*>(parameter);
    ::WaitForSingleObject(r.go, INFINITE);
    int seen = r.caller ? CallsWork() : -1;
    for (const DWORD start = ::GetTickCount(); seen < 0 && ::GetTickCount() - start < 10000; ::SwitchToThread()) {
        seen = BothSeen();
    }
    r.whole = seen == 1;
    return 0;
}

TEST_F(Binding, FirstUseFromSeveralThreadsAtOnceIsSeenWhole) {
    for (int round = 0; round < 3; ++round) {
        Use(FakeModules);
        fake.lookupDelayMs = 2;
        const UniqueHandle go(::CreateEventA(nullptr, TRUE, FALSE, nullptr));
        Racer racers[8] = {};
        for (int i = 0; i < 8; ++i) {
            racers[i].go = go.Get();
            racers[i].caller = i % 2 == 0;
            racers[i].thread.Reset(::CreateThread(nullptr, 0, &Race, &racers[i], 0, nullptr));
        }
        ::SetEvent(go.Get());
        for (int i = 0; i < 8; ++i) {
            if (::WaitForSingleObject(racers[i].thread.Get(), 30000) != WAIT_OBJECT_0) {
                ADD_FAILURE() << "thread " << i << " hangs in the binding";
                ::ExitProcess(1);  // it still uses this frame
            }
            EXPECT_TRUE(racers[i].whole) << "round " << round << " thread " << i;
        }
    }
}

}  // namespace
}  // namespace pelorin
