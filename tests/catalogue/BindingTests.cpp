#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <string>
#include <vector>

#include "catalogue/FakeModules.h"
#include "catalogue/ProcessSnapshot.h"
#include "catalogue/PsAPI.h"
#include "catalogue/TlHelp32.h"

namespace pelorin {
namespace {

using testing::Fake;

const std::vector<std::string> ToolhelpExportOrder = {
    "CreateToolhelp32Snapshot", "Heap32ListFirst", "Heap32ListNext",  "Heap32First",
    "Heap32Next",               "Toolhelp32ReadProcessMemory",        "Process32First",
    "Process32Next",            "Process32FirstW", "Process32NextW",  "Thread32First",
    "Thread32Next",             "Module32First",   "Module32Next",    "Module32FirstW",
    "Module32NextW",
};

const std::vector<std::string> PsapiExportOrder = {
    "EnumProcesses",          "EnumProcessModules",       "GetModuleBaseNameA",
    "GetModuleFileNameExA",   "GetModuleBaseNameA",       "GetModuleFileNameExA",
    "GetModuleBaseNameW",     "GetModuleFileNameExW",     "GetModuleInformation",
    "EmptyWorkingSet",        "QueryWorkingSet",          "InitializeProcessForWsWatch",
    "GetMappedFileNameA",     "GetDeviceDriverBaseNameA", "GetDeviceDriverFileNameA",
    "GetMappedFileNameA",     "GetDeviceDriverBaseNameA", "GetDeviceDriverFileNameA",
    "GetMappedFileNameW",     "GetDeviceDriverBaseNameW", "GetDeviceDriverFileNameW",
    "EnumDeviceDrivers",      "GetProcessMemoryInfo",
};

template <typename Fn>
const void* Address(Fn fn) {
    return reinterpret_cast<const void*>(reinterpret_cast<void (*)()>(fn));
}

// The 16 entries of a Toolhelp binding in slot order.
std::vector<const void*> Slots(const ToolhelpBinding& t) {
    return {Address(t.createToolhelp32Snapshot), Address(t.heap32ListFirst), Address(t.heap32ListNext),
            Address(t.heap32First),              Address(t.heap32Next),      Address(t.toolhelp32ReadProcessMemory),
            Address(t.process32First),           Address(t.process32Next),   Address(t.process32FirstW),
            Address(t.process32NextW),           Address(t.thread32First),   Address(t.thread32Next),
            Address(t.module32First),            Address(t.module32Next),    Address(t.module32FirstW),
            Address(t.module32NextW)};
}

// The 23 entries of a PSAPI binding in slot order.
std::vector<const void*> Slots(const PsapiBinding& t) {
    return {Address(t.enumProcesses),          Address(t.enumProcessModules),
            Address(t.getModuleBaseName),      Address(t.getModuleFileNameEx),
            Address(t.getModuleBaseNameA),     Address(t.getModuleFileNameExA),
            Address(t.getModuleBaseNameW),     Address(t.getModuleFileNameExW),
            Address(t.getModuleInformation),   Address(t.emptyWorkingSet),
            Address(t.queryWorkingSet),        Address(t.initializeProcessForWsWatch),
            Address(t.getMappedFileName),      Address(t.getDeviceDriverBaseName),
            Address(t.getDeviceDriverFileName), Address(t.getMappedFileNameA),
            Address(t.getDeviceDriverBaseNameA), Address(t.getDeviceDriverFileNameA),
            Address(t.getMappedFileNameW),     Address(t.getDeviceDriverBaseNameW),
            Address(t.getDeviceDriverFileNameW), Address(t.enumDeviceDrivers),
            Address(t.getProcessMemoryInfo)};
}

class FakeBinding : public ::testing::Test {
protected:
    void SetUp() override { testing::InstallFakeModules(); }
    void TearDown() override { testing::UninstallFakeModules(); }
};

using ToolhelpBindingTest = FakeBinding;
using PsapiBindingTest = FakeBinding;

TEST_F(ToolhelpBindingTest, FindsLoadedKernel32AndLooksUpSixteenExportsInOrder) {
    EXPECT_EQ(BoundToolhelp(), nullptr);
    EXPECT_TRUE(LoadToolhelp());
    EXPECT_EQ(Fake().loadLibraryCalls, 0) << "kernel32 is looked up, never loaded";
    EXPECT_EQ(Fake().moduleNamesAsked, std::vector<std::string>{"kernel32.dll"});
    EXPECT_EQ(Fake().exportsLookedUp, ToolhelpExportOrder);

    const ToolhelpBinding* t = BoundToolhelp();
    ASSERT_NE(t, nullptr);
    EXPECT_EQ(t->kernel, testing::FakeKernel);
    const std::vector<const void*> slots = Slots(*t);
    for (std::size_t i = 0; i < slots.size(); ++i) EXPECT_NE(slots[i], nullptr) << ToolhelpExportOrder[i];

    // Bound once: later calls look nothing up again.
    EXPECT_TRUE(LoadToolhelp());
    EXPECT_EQ(Fake().getModuleHandleCalls, 1);
    EXPECT_EQ(Fake().exportsLookedUp.size(), 16u);
}

TEST_F(ToolhelpBindingTest, WithoutSnapshotExportEveryWrapperAnswersZeroWithoutCalling) {
    Fake().missingExports = {"CreateToolhelp32Snapshot"};
    EXPECT_FALSE(LoadToolhelp());

    PROCESSENTRY32 process{};
    process.dwSize = sizeof process;
    MODULEENTRY32 module{};
    module.dwSize = sizeof module;
    const HANDLE anyHandle = reinterpret_cast<HANDLE>(0x44);
    EXPECT_EQ(pelorin::CreateToolhelp32Snapshot(2, 0), nullptr);
    EXPECT_EQ(pelorin::Process32First(anyHandle, &process), FALSE);
    EXPECT_EQ(pelorin::Process32Next(anyHandle, &process), FALSE);
    EXPECT_EQ(pelorin::Module32First(anyHandle, &module), FALSE);
    EXPECT_EQ(pelorin::Module32Next(anyHandle, &module), FALSE);
    EXPECT_EQ(Fake().process32FirstCalls, 0);
    EXPECT_EQ(Fake().process32NextCalls, 0);
    EXPECT_EQ(Fake().module32FirstCalls, 0);
    EXPECT_EQ(Fake().module32NextCalls, 0);

    // kernel32 itself was found, so the binding is settled and not retried.
    EXPECT_EQ(Fake().getModuleHandleCalls, 1);
    ASSERT_NE(BoundToolhelp(), nullptr);
    EXPECT_NE(BoundToolhelp()->process32First, nullptr);

    SnapshotEntry entry;
    EXPECT_FALSE(ProcessSnapshot().Next(entry));
    EXPECT_EQ(Fake().process32FirstCalls, 0);
}

TEST_F(ToolhelpBindingTest, Kernel32NotFoundIsRetriedAtEveryCall) {
    Fake().kernelPresent = false;
    PROCESSENTRY32 process{};
    process.dwSize = sizeof process;
    EXPECT_FALSE(LoadToolhelp());
    EXPECT_EQ(pelorin::Process32First(nullptr, &process), FALSE);
    EXPECT_EQ(pelorin::CreateToolhelp32Snapshot(2, 0), nullptr);
    EXPECT_EQ(Fake().getModuleHandleCalls, 3);
    EXPECT_TRUE(Fake().exportsLookedUp.empty());
    EXPECT_EQ(BoundToolhelp(), nullptr);

    Fake().kernelPresent = true;
    Fake().processes = {{0x20, "one.exe"}};
    EXPECT_EQ(pelorin::Process32First(nullptr, &process), TRUE);
    EXPECT_EQ(Fake().process32FirstCalls, 1);
    EXPECT_STREQ(process.szExeFile, "one.exe");
}

TEST_F(ToolhelpBindingTest, MissingSingleExportOnlySilencesItsOwnWrapper) {
    Fake().missingExports = {"Module32Next", "Heap32First"};
    EXPECT_TRUE(LoadToolhelp());
    MODULEENTRY32 module{};
    module.dwSize = sizeof module;
    Fake().modules = {{"a.dll", "C:\\a.dll"}, {"b.dll", "C:\\b.dll"}};
    EXPECT_EQ(pelorin::Module32First(nullptr, &module), TRUE);
    EXPECT_EQ(pelorin::Module32Next(nullptr, &module), FALSE);
    EXPECT_EQ(Fake().module32FirstCalls, 1);
    EXPECT_EQ(Fake().module32NextCalls, 0);
    EXPECT_EQ(BoundToolhelp()->heap32First, nullptr);
    EXPECT_EQ(BoundToolhelp()->module32Next, nullptr);
}

TEST_F(ToolhelpBindingTest, RefusedSnapshotIsPassedOnUnchanged) {
    Fake().refuseSnapshot = true;
    EXPECT_EQ(pelorin::CreateToolhelp32Snapshot(2, 0), INVALID_HANDLE_VALUE);
    EXPECT_EQ(Fake().createSnapshotCalls, 1);
}

TEST_F(PsapiBindingTest, FailedLoadIsRetriedAtEveryCallAndBindsOnceLoadable) {
    Fake().psapiLoadResult = nullptr;
    Fake().moduleFileName = "C:\\fake\\image.exe";
    char buffer[260] = {};
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(pelorin::GetModuleFileNameEx(nullptr, nullptr, buffer, sizeof buffer), 0u);
    }
    EXPECT_EQ(Fake().loadLibraryCalls, 3);
    EXPECT_EQ(Fake().getModuleFileNameCalls, 0);
    EXPECT_TRUE(Fake().exportsLookedUp.empty());
    EXPECT_EQ(BoundPsapi(), nullptr);
    EXPECT_STREQ(buffer, "");

    Fake().psapiLoadResult = testing::FakePsapi;
    EXPECT_EQ(pelorin::GetModuleFileNameEx(nullptr, nullptr, buffer, sizeof buffer), 17u);
    EXPECT_STREQ(buffer, "C:\\fake\\image.exe");
    EXPECT_EQ(pelorin::GetModuleFileNameEx(nullptr, nullptr, buffer, sizeof buffer), 17u);
    EXPECT_EQ(Fake().loadLibraryCalls, 4) << "a loaded library is kept, not loaded again";
    EXPECT_EQ(Fake().getModuleFileNameCalls, 2);
    for (const std::string& name : Fake().moduleNamesAsked) EXPECT_EQ(name, "PSAPI.dll");
    EXPECT_EQ(Fake().getModuleHandleCalls, 0);
}

TEST_F(PsapiBindingTest, LoadResultBelow32CountsAsFailure) {
    Fake().psapiLoadResult = reinterpret_cast<HMODULE>(31);
    EXPECT_FALSE(LoadPsapi());
    EXPECT_FALSE(LoadPsapi());
    EXPECT_EQ(BoundPsapi(), nullptr);
    EXPECT_EQ(Fake().loadLibraryCalls, 2);
    EXPECT_TRUE(Fake().exportsLookedUp.empty());
}

TEST_F(PsapiBindingTest, LoadedWithoutGetProcessMemoryInfoTheWrapperAnswersZero) {
    Fake().missingExports = {"GetProcessMemoryInfo"};
    Fake().moduleFileName = "C:\\x.exe";
    EXPECT_TRUE(LoadPsapi());
    ASSERT_NE(BoundPsapi(), nullptr);
    EXPECT_EQ(BoundPsapi()->getProcessMemoryInfo, nullptr);

    PROCESS_MEMORY_COUNTERS counters{};
    counters.cb = sizeof counters;
    counters.WorkingSetSize = 77;
    EXPECT_EQ(pelorin::GetProcessMemoryInfo(::GetCurrentProcess(), &counters, sizeof counters), FALSE);
    EXPECT_EQ(counters.WorkingSetSize, 77u) << "nothing may write the record";
    EXPECT_EQ(ProcessWorkingSet(::GetCurrentProcess()), 0u);

    char buffer[260] = {};
    EXPECT_EQ(pelorin::GetModuleFileNameEx(nullptr, nullptr, buffer, sizeof buffer), 8u);
    EXPECT_EQ(Fake().loadLibraryCalls, 1);
}

TEST_F(PsapiBindingTest, LooksUpTwentyThreeExportsWithPlainEntriesBoundToAnsi) {
    EXPECT_TRUE(LoadPsapi());
    EXPECT_EQ(Fake().exportsLookedUp, PsapiExportOrder);
    const PsapiBinding* t = BoundPsapi();
    ASSERT_NE(t, nullptr);
    EXPECT_EQ(t->psapi, testing::FakePsapi);
    const std::vector<const void*> slots = Slots(*t);
    for (std::size_t i = 0; i < slots.size(); ++i) EXPECT_NE(slots[i], nullptr) << PsapiExportOrder[i];
    // Entries 3, 4, 13, 14, 15 (1-based) carry the ANSI functions of 5, 6, 16, 17, 18.
    const std::array<std::pair<int, int>, 5> twins = {{{3, 5}, {4, 6}, {13, 16}, {14, 17}, {15, 18}}};
    for (const auto& [plain, ansi] : twins) EXPECT_EQ(slots[plain - 1], slots[ansi - 1]) << plain;
    EXPECT_NE(Address(t->getModuleBaseNameA), Address(t->getModuleBaseNameW));
    EXPECT_NE(Address(t->getMappedFileNameA), Address(t->getMappedFileNameW));
}

TEST_F(PsapiBindingTest, WorkingSetIsReadThroughTheBoundEntry) {
    EXPECT_EQ(ProcessWorkingSet(nullptr), 0u);
    EXPECT_EQ(Fake().loadLibraryCalls, 0) << "an empty handle needs no binding";
    EXPECT_EQ(ProcessWorkingSet(::GetCurrentProcess()), 123456u);
    EXPECT_EQ(Fake().getProcessMemoryInfoCalls, 1);
}

// Every slot of the real bindings holds what GetProcAddress gives for its name.
TEST(PlatformBinding, ToolhelpSlotsMatchKernel32Exports) {
    ResetToolhelpBinding(PlatformModuleApi());
    ASSERT_TRUE(LoadToolhelp());
    const HMODULE kernel = ::GetModuleHandleA("kernel32.dll");
    const ToolhelpBinding* t = BoundToolhelp();
    ASSERT_NE(t, nullptr);
    EXPECT_EQ(t->kernel, kernel);
    const std::vector<const void*> slots = Slots(*t);
    for (std::size_t i = 0; i < slots.size(); ++i) {
        EXPECT_EQ(slots[i], Address(::GetProcAddress(kernel, ToolhelpExportOrder[i].c_str()))) << ToolhelpExportOrder[i];
    }
    EXPECT_NE(t->process32First, nullptr);
    EXPECT_NE(t->module32Next, nullptr);
}

TEST(PlatformBinding, PsapiSlotsMatchPsapiExports) {
    ResetPsapiBinding(PlatformModuleApi());
    ASSERT_TRUE(LoadPsapi());
    const HMODULE psapi = ::GetModuleHandleA("psapi.dll");
    ASSERT_NE(psapi, nullptr) << "bound PSAPI stays loaded";
    const PsapiBinding* t = BoundPsapi();
    ASSERT_NE(t, nullptr);
    EXPECT_EQ(t->psapi, psapi);
    const std::vector<const void*> slots = Slots(*t);
    for (std::size_t i = 0; i < slots.size(); ++i) {
        EXPECT_EQ(slots[i], Address(::GetProcAddress(psapi, PsapiExportOrder[i].c_str()))) << PsapiExportOrder[i];
    }
    EXPECT_NE(t->getModuleFileNameEx, nullptr);
    EXPECT_NE(t->getProcessMemoryInfo, nullptr);
}

// --- First use from several threads at once -------------------------------

constexpr int ThreadCount = 8;
constexpr DWORD NoDeadlockMs = 10000;

struct RaceThread {
    HANDLE start = nullptr;
    bool binder = false;        // calls a wrapper; otherwise only watches the binding
    bool wrapperWorked = false;
    bool sawBinding = false;
    bool bindingComplete = false;
};

using RaceBody = void (*)(RaceThread&);

struct RaceContext {
    RaceThread* thread;
    RaceBody body;
};

DWORD WINAPI RaceEntry(void* parameter) noexcept {
    auto* context = static_cast<RaceContext*>(parameter);
    ::WaitForSingleObject(context->thread->start, INFINITE);
    context->body(*context->thread);
    return 0;
}

// Runs `body` on ThreadCount threads released together by one event; the
// results are checked afterwards on the calling thread.
void RunReleasedTogether(std::array<RaceThread, ThreadCount>& threads, RaceBody body) {
    UniqueHandle start(::CreateEventA(nullptr, TRUE, FALSE, nullptr));
    ASSERT_TRUE(start);
    std::array<RaceContext, ThreadCount> contexts{};
    std::vector<UniqueHandle> handles;
    std::vector<HANDLE> raw;
    for (int i = 0; i < ThreadCount; ++i) {
        threads[i].start = start.Get();
        threads[i].binder = i % 2 == 0;
        contexts[i] = RaceContext{&threads[i], body};
        handles.emplace_back(::CreateThread(nullptr, 0, &RaceEntry, &contexts[i], 0, nullptr));
        ASSERT_TRUE(handles.back());
        raw.push_back(handles.back().Get());
    }
    ::SetEvent(start.Get());
    ASSERT_EQ(::WaitForMultipleObjects(ThreadCount, raw.data(), TRUE, NoDeadlockMs), WAIT_OBJECT_0)
        << "threads did not finish within 10 s";
}

bool Complete(const ToolhelpBinding& t) { return t.kernel == testing::FakeKernel; }
bool Complete(const PsapiBinding& t) { return t.psapi == testing::FakePsapi; }

// Watches until a binding appears (or 10 s pass) and judges the first one
// seen: its handle and every entry must already be there.
template <typename Binding>
void WatchBinding(RaceThread& thread, const Binding* (*peek)()) {
    const DWORD until = ::GetTickCount() + NoDeadlockMs;
    while (::GetTickCount() < until) {
        if (const Binding* binding = peek()) {
            thread.sawBinding = true;
            const std::vector<const void*> slots = Slots(*binding);
            thread.bindingComplete =
                Complete(*binding) && std::find(slots.begin(), slots.end(), nullptr) == slots.end();
            return;
        }
        ::SwitchToThread();
    }
}

void ExpectNoThreadSawAPartialBinding(const std::array<RaceThread, ThreadCount>& threads, int round) {
    for (int i = 0; i < ThreadCount; ++i) {
        if (threads[i].binder) {
            EXPECT_TRUE(threads[i].wrapperWorked) << "round " << round << " thread " << i;
        } else {
            EXPECT_TRUE(threads[i].sawBinding && threads[i].bindingComplete) << "round " << round << " thread " << i;
        }
    }
}

TEST_F(PsapiBindingTest, ThreadsBindingAtOnceSeeNoneOrACompleteTable) {
    for (int round = 0; round < 3; ++round) {
        testing::InstallFakeModules();
        Fake().lookupDelayMs = 2;
        Fake().moduleFileName = "C:\\x.exe";
        std::array<RaceThread, ThreadCount> threads{};
        RunReleasedTogether(threads, [](RaceThread& thread) {
            if (!thread.binder) return WatchBinding(thread, &BoundPsapi);
            // GetProcessMemoryInfo is the last lookup: a half-filled table would miss it.
            PROCESS_MEMORY_COUNTERS counters{};
            counters.cb = sizeof counters;
            char buffer[260] = {};
            thread.wrapperWorked =
                pelorin::GetProcessMemoryInfo(::GetCurrentProcess(), &counters, sizeof counters) == TRUE &&
                counters.WorkingSetSize == 123456 && pelorin::GetModuleFileNameEx(nullptr, nullptr, buffer, 260) == 8;
        });
        ExpectNoThreadSawAPartialBinding(threads, round);
        EXPECT_EQ(Fake().loadLibraryCalls, 1) << "round " << round;
        EXPECT_EQ(Fake().exportsLookedUp.size(), PsapiExportOrder.size()) << "round " << round;
    }
}

// A handle value the fake snapshot answers; never closed.
HANDLE RaceSnapshot() {
    static char sentinel;
    return &sentinel;
}

TEST_F(ToolhelpBindingTest, ThreadsBindingAtOnceSeeNoneOrACompleteTable) {
    for (int round = 0; round < 3; ++round) {
        testing::InstallFakeModules();
        Fake().lookupDelayMs = 3;
        Fake().fixedSnapshot = RaceSnapshot();
        std::array<RaceThread, ThreadCount> threads{};
        RunReleasedTogether(threads, [](RaceThread& thread) {
            if (!thread.binder) return WatchBinding(thread, &BoundToolhelp);
            // Module32First is the 13th lookup: a half-filled table would miss it.
            MODULEENTRY32 module{};
            module.dwSize = sizeof module;
            thread.wrapperWorked = pelorin::CreateToolhelp32Snapshot(8, 0) == RaceSnapshot() &&
                                   pelorin::Module32First(RaceSnapshot(), &module) == FALSE &&
                                   Fake().module32FirstCalls > 0;
        });
        ExpectNoThreadSawAPartialBinding(threads, round);
        EXPECT_EQ(Fake().getModuleHandleCalls, 1) << "round " << round;
        EXPECT_EQ(Fake().exportsLookedUp.size(), ToolhelpExportOrder.size()) << "round " << round;
    }
}

}  // namespace
}  // namespace pelorin
