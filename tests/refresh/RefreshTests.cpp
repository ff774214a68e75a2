// The list refresh over a scripted machine into a real list view: the cells,
// the processor figures, what is left out, the selection, the gate.
#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <cmath>

#include "catalogue/ProcList.h"
#include "common/MainWindow.h"
#include "controls/Button.h"
#include "controls/ListView.h"
#include "refresh/ScriptedPlatform.h"
#include "support/FastStrings.h"

namespace pelorin {
namespace {

using test::script;
using test::ScriptedProcess;
using Rows = std::vector<std::vector<std::string>>;

constexpr int kMem = 2, kCpu = 3, kPath = 4, kDescription = 5;

// The program's own main window, its refresh reading the scripted machine.
class Refresh : public ::testing::Test {
protected:
    void SetUp() override { script = test::Script{}; }
    // One refresh, a second after the one before; listAt is when its list was read.
    void Run(DWORD elapsed = 1000) {
        script.now += elapsed;
        listAt = script.now;
        RefreshProcessList(state);
    }
    Rows Cells() { return test::Cells(state.lvProcesses); }
    std::vector<std::string> Column(int column) { return test::ColumnOf(state.lvProcesses, column); }
    std::string Cell(std::uint32_t pid, int column) {
        for (const auto& row : Cells())
            if (row[1] == std::to_string(pid)) return row[column];
        return "<no row>";
    }

    DWORD listAt = 0;
    std::unique_ptr<ProcessSource> source = CreatePlatformProcessSource(test::ScriptedPlatform());
    test::MainWindow w{false, source.get()};
    ProcessListState& state = w.form.refresh;
};

TEST_F(Refresh, TheProcessorFigureIsTheShareOfOneProcessorBetweenTwoSamples) {
    EXPECT_EQ(CpuOverflowLimit(1), 102.0);
    EXPECT_EQ(CpuOverflowLimit(0), 102.0);
    SYSTEM_INFO info{};
    ::GetSystemInfo(&info);
    const double limit = CpuOverflowLimit(info.dwNumberOfProcessors);
    struct Case {
        double share;  // of one processor, per cent
        DWORD elapsed;
        std::uint64_t creationLater;
        const char* shown;
    } cases[] = {
        {5, 1000, 1, "5"},     {5.0 / 3, 3000, 1, "1.66"},      {101.999, 1000, 1, "101.99"},
        {limit, 1000, 1, nullptr}, {limit + 0.5, 1000, 1, "0"}, {-0.5, 1000, 1, "0"},
        {5, 0, 1, "0"},        {5, 1000, 2, "0"},  // another process under the same PID
    };
    std::uint32_t pid = 100;
    for (const Case& c : cases) {
        script.processes.push_back({pid, L"p.exe", 0, 1000000, 1000000});
        Run();
        EXPECT_EQ(Cell(pid, kCpu), "0") << "first sample";
        // 100 ns units: a share s over t ms is s * t * 100 of them.
        script.processes.back().kernel += static_cast<std::uint64_t>(std::llround(c.share * (c.elapsed ? c.elapsed : 1000) * 100));
        script.processes.back().creation = c.creationLater;
        Run(c.elapsed);
        const std::string expected = c.shown ? c.shown : DecimalToText(limit);
        EXPECT_EQ(Cell(pid, kCpu), expected) << "share " << c.share << " over " << c.elapsed << " ms";
        script.processes.clear();
        ++pid;
    }
}

TEST_F(Refresh, KnownAndPseudoProcessesAreLeftOutAndMoreInfoReadsTheStrings) {
    script.processes = {{0, L""}, {4, L"System"}, {8, L"svchost.exe"}, {100, L"app.exe"}, {200, L"shut.exe"}};
    script.processes[4].opens = false;
    script.versions["C:\\apps\\app.exe|FileDescription"] = {VersionRead::Found, "App"};
    script.versions["C:\\apps\\app.exe|CompanyName"] = {VersionRead::Found, "Maker"};
    Run();
    EXPECT_EQ(Column(0), (std::vector<std::string>{"app.exe", "shut.exe"}));
    EXPECT_EQ(Cells()[0], (std::vector<std::string>{"app.exe", "100", "0", "0", "C:\\apps\\app.exe", "--", "--"}));
    EXPECT_EQ(state.ProcessRowCount.load(), 2);
    SetChecked(state.chkShowKnown, true);
    SetChecked(state.chkMoreInfo, true);
    Run();
    EXPECT_EQ(Column(0), (std::vector<std::string>{"svchost.exe", "app.exe", "shut.exe"}));
    EXPECT_EQ(Cells()[1][kDescription], "App");
    EXPECT_EQ(Cells()[1][kDescription + 1], "Maker");
    // Refused: no memory, no path, and no strings to read.
    EXPECT_EQ(Cells()[2], (std::vector<std::string>{"shut.exe", "200", "0", "0", "-", "", ""}));
}

TEST_F(Refresh, TheSelectedProcessAndTheTopRowStayAcrossTheRebuild) {
    for (std::uint32_t pid = 100; pid < 160; ++pid) script.processes.push_back({pid, L"p.exe"});
    Run();
    state.SelectedPid = 150;
    SetTopIndex(state.lvProcesses, 30);
    const std::string topPid = GetItemText(state.lvProcesses, TopIndex(state.lvProcesses), 1);
    script.processes.insert(script.processes.begin(), {90, L"new.exe"});
    Run();
    EXPECT_EQ(GetItemText(state.lvProcesses, TopIndex(state.lvProcesses), 1), topPid);
    EXPECT_EQ(GetItemText(state.lvProcesses, CurrentIndex(state.lvProcesses), 1), "150");
    std::erase_if(script.processes, [](const ScriptedProcess& p) { return p.pid == 150; });
    Run();
    EXPECT_EQ(CurrentIndex(state.lvProcesses), -1);
    EXPECT_EQ(state.SelectedPid.load(), 150u);
}

// The real machine, "More Info" ticked: nothing may pile up over many refreshes.
TEST_F(Refresh, RepeatedRefreshesLeaveHandlesAndPrivateMemoryWhereTheyWere) {
    state.source = state.platformSource.get();
    SetChecked(state.chkMoreInfo, true);
    for (int i = 0; i < 50; ++i) RefreshProcessList(state);
    const unsigned long handles = test::OwnHandleCount();
    const std::uint64_t bytes = test::OwnPrivateBytes();
    const int rounds = test::SoakCount(300, 5000);
    for (int i = 0; i < rounds; ++i) RefreshProcessList(state);
    std::printf("| Refresh soak | refreshes, handles before/after, private KB before/after | %d, %lu/%lu, %llu/%llu |\n",
                rounds, handles, test::OwnHandleCount(), bytes / 1024, test::OwnPrivateBytes() / 1024);
    EXPECT_GT(ItemCount(state.lvProcesses), 0);
    EXPECT_LE(test::OwnHandleCount(), handles + 2);
    EXPECT_LE(test::OwnPrivateBytes(), bytes + 256 * 1024);
}

std::uint32_t RefreshOnce(ProcessListState& state, WorkerThread* thread) {
    RefreshProcessList(state, thread);
    return 0;
}

// The close turns refreshing off while a worker's refresh waits for the gate
// (held by a kill's refresh): once it gets the gate it does nothing.
TEST_F(Refresh, ARefreshWaitingForTheGateDoesNothingOnceRefreshingIsOff) {
    script.processes = {{100, L"a.exe"}};
    Run();
    ASSERT_EQ(::WaitForSingleObject(state.refreshGate.Get(), 0), WAIT_OBJECT_0);
    WorkerThread* worker = CreateWorkerThread();
    worker->onExecute = MakeExecute<&RefreshOnce>(state);
    Resume(worker);
    ::Sleep(100);
    state.RefreshEnabled = false;
    script.processes.push_back({200, L"b.exe"});
    const std::size_t reads = script.asked.size();
    ::SetEvent(state.refreshGate.Get());
    EXPECT_TRUE(test::WaitUntil([&] { return Terminated(worker); }));
    EXPECT_EQ(script.asked.size(), reads);
    EXPECT_EQ(ItemCount(state.lvProcesses), 1);
    Destroy(worker);
}

}  // namespace
}  // namespace pelorin
