// The list refresh over a scripted machine into the program's real main
// window: the cells, the processor figures, what is left out, the selection
// and the order, the gate, and the loop's "No Refresh".
#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "catalogue/ProcList.h"
#include "common/MainWindow.h"
#include "controls/Button.h"
#include "controls/ListView.h"
#include "refresh/ScriptedPlatform.h"

namespace pelorin {
namespace {

using test::script;
using test::ScriptedProcess;

constexpr int kMem = 2, kCpu = 3, kDescription = 5;

// The program's own main window, its refresh reading the scripted machine.
class Refresh : public ::testing::Test {
protected:
    void SetUp() override { script = test::Script{}; }
    // One refresh, a second after the one before.
    void Run(DWORD elapsed = 1000) {
        script.now += elapsed;
        RefreshProcessList(state);
    }
    auto Cells() { return test::Cells(state.lvProcesses); }
    std::vector<std::string> Column(int column) { return test::ColumnOf(state.lvProcesses, column); }
    std::string Cell(std::uint32_t pid, int column) {
        for (const auto& row : Cells())
            if (row[1] == std::to_string(pid)) return row[column];
        return "<no row>";
    }

    test::ScriptedSource source;
    test::MainWindow w{false, &source};
    ProcessListState& state = w.form.refresh;
};

// Shares of one processor, per cent; one above 100 per processor plus 2 is a
// glitch of the readings and shows as 0.
TEST_F(Refresh, TheProcessorFigureIsTheShareOfOneProcessorBetweenTwoSamples) {
    struct Case { std::uint32_t processors; double share; DWORD elapsed; std::uint64_t creationLater; const char* shown; } cases[] = {
        {1, 5, 1000, 1, "5"},     {1, 5.0 / 3, 3000, 1, "1.66"}, {1, 101.999, 1000, 1, "101.99"},
        {1, 102, 1000, 1, "102"}, {1, 102.5, 1000, 1, "0"},      {2, 202, 1000, 1, "202"},
        {2, 202.5, 1000, 1, "0"}, {1, -0.5, 1000, 1, "0"},       {1, 5, 0, 1, "0"},
        {1, 5, 1000, 2, "0"},  // another process under the same PID
    };
    std::uint32_t pid = 100;
    for (const Case& c : cases) {
        script.processors = c.processors;
        script.processes.push_back({pid, L"p.exe", 0, 1000000, 1000000});
        Run();
        EXPECT_EQ(Cell(pid, kCpu), "0") << "first sample";
        // 100 ns units: a share s over t ms is s * t * 100 of them.
        script.processes.back().kernel += static_cast<std::uint64_t>(std::llround(c.share * (c.elapsed ? c.elapsed : 1000) * 100));
        script.processes.back().creation = c.creationLater;
        Run(c.elapsed);
        EXPECT_EQ(Cell(pid, kCpu), c.shown) << "share " << c.share << " over " << c.elapsed << " ms";
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

// A header click orders the rows refresh after refresh, with the selection.
TEST_F(Refresh, AHeaderClickOrdersTheRowsOfEveryLaterRefresh) {
    script.processes = {{100, L"a.exe", 1000}, {200, L"b.exe", 2539520}, {300, L"c.exe", 1003520}};
    Run();
    state.SelectedPid = 300;
    NMLISTVIEW click = {};
    click.hdr = {Handle(state.lvProcesses), 0, static_cast<UINT>(LVN_COLUMNCLICK)}, click.iSubItem = kMem;
    ::SendMessageA(w.Window(), WM_NOTIFY, 0, reinterpret_cast<LPARAM>(&click));
    script.processes.push_back({400, L"d.exe", 1610612736});
    Run();
    EXPECT_EQ(Column(kMem), (std::vector<std::string>{"1.5G", "2.42M", "980K", "1000"}));
    EXPECT_EQ(GetItemText(state.lvProcesses, CurrentIndex(state.lvProcesses), 1), "300");
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

// The loop with "No Refresh" ticked keeps the list and the counts of its last
// refresh, pass after pass; unticked, the next pass rebuilds the list.
TEST(RefreshLoop, NoRefreshFreezesTheListAndTheCountsUntilUnticked) {
    script = test::Script{};
    script.processes = {{100, L"a.exe"}};
    test::ScriptedSource source;
    test::MainWindow w{true, &source};
    MainForm& f = w.form;
    const auto nextPass = [&] {  // each pass begins by writing the counts
        SetCaption(f.lblTask, "waiting");
        return test::WaitUntil([&] { return Caption(f.lblTask) != "waiting"; });
    };
    ASSERT_TRUE(test::WaitUntil([&] { return Caption(f.lblTask) == "Counts: 1"; }));
    SetChecked(f.chkNoRefresh, true);
    ASSERT_TRUE(nextPass());  // the refresh before it has ended; this pass reads the tick
    InsertItem(f.lvProcesses, 0, "not from a refresh");
    ASSERT_TRUE(nextPass());
    EXPECT_EQ(Caption(f.lblTask), "Counts: 1");
    EXPECT_EQ(test::ColumnOf(f.lvProcesses, 0), (std::vector<std::string>{"not from a refresh", "a.exe"}));
    SetChecked(f.chkNoRefresh, false);
    EXPECT_TRUE(test::WaitUntil([&] { return test::ColumnOf(f.lvProcesses, 0) == std::vector<std::string>{"a.exe"}; }));
}

}  // namespace
}  // namespace pelorin
