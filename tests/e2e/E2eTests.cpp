// The real program as a user meets it: what its list and labels show,
// test mode, a second start, and every way it is closed with the settings it
// saves, there at the next start.
#include <windows.h>
#include <tlhelp32.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <regex>
#include <set>

#include "catalogue/Systemlist.h"
#include "e2e/Driver.h"
#include "support/FastStrings.h"

namespace pelorin::e2e {
namespace {

using Processes = std::set<std::pair<DWORD, std::string>>;  // PID and name

Processes Snapshot() {
    Processes processes;
    const UniqueHandle snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    PROCESSENTRY32 entry = {};
    entry.dwSize = sizeof entry;
    for (BOOL more = ::Process32First(snapshot.Get(), &entry); more; more = ::Process32Next(snapshot.Get(), &entry))
        processes.emplace(entry.th32ProcessID, entry.szExeFile);
    return processes;
}

bool Listable(const std::string& name) {
    return !IsKnownProcess(name) && lstrcmpiA(name.c_str(), "[System Process]") != 0 && lstrcmpiA(name.c_str(), "System") != 0;
}

// What is wrong with rows read between two snapshots: every row must be a
// process of one of them, once; every listable process of both must be a row.
std::string Mismatches(const std::vector<Row>& rows, const Processes& before, const Processes& after) {
    std::string problems;
    std::set<DWORD> pids;
    Processes shown;
    for (const Row& row : rows) {
        const auto& process = *shown.emplace(std::strtoul(row[1].c_str(), nullptr, 10), row[0]).first;
        if (!pids.insert(process.first).second) problems += "PID " + row[1] + " twice; ";
        if (!before.contains(process) && !after.contains(process)) problems += row[0] + " " + row[1] + " is in neither snapshot; ";
        if (!Listable(row[0])) problems += row[0] + " is listed; ";
    }
    for (const auto& process : before)
        if (after.contains(process) && Listable(process.second) && !shown.contains(process))
            problems += process.second + " " + std::to_string(process.first) + " is missing; ";
    return problems;
}

TEST(ProcessList, ShowsTheSnapshotLessKnownProcessesAndAChildsMemoryAndPath) {
    SettingsGuard settings;
    test::Child big;
    ASSERT_TRUE(big.Start("--touch-mib 64"));
    Pelorin pelorin;
    ASSERT_TRUE(pelorin.Start());
    const HWND list = pelorin.ProcessList();

    // A child started after the first snapshot is listed by a refresh that
    // began after it; a process that comes and goes meanwhile calls for another try.
    std::vector<Row> rows;
    std::string problems = "no try";
    for (int attempt = 0; attempt < 3 && !problems.empty(); ++attempt) {
        const auto before = Snapshot();
        test::Child marker;
        ASSERT_TRUE(marker.Start());
        ASSERT_TRUE(test::WaitUntil([&] { return Find(rows = Rows(list), std::to_string(marker.Pid())) >= 0; }, 10000));
        problems = Mismatches(rows, before, Snapshot());
    }
    EXPECT_EQ(problems, "");
    EXPECT_EQ(Find(rows, std::to_string(pelorin.Pid())), -1) << "lists itself";

    const int r = Find(rows, std::to_string(big.Pid()));
    ASSERT_GE(r, 0);
    const Row& child = rows[r];
    EXPECT_EQ(child[0], "pelorin_child.exe");
    EXPECT_GE(SizeTextValue(child[2]), 64.0 * 1024 * 1024) << child[2];
    EXPECT_EQ(lstrcmpiA(child[4].c_str(), test::FixturePath("pelorin_child.exe").c_str()), 0) << child[4];
}

TEST(TestMode, AFileNamedTestingLogShowsTheStatusPanelAndTheTestButton) {
    SettingsGuard settings;
    Pelorin pelorin(Marker::File);
    ASSERT_TRUE(pelorin.Start());
    RECT panel = {};  // the status panel, which holds the close label
    ::GetClientRect(::GetParent(pelorin.Control("PelorinStatic", " X")), &panel);
    EXPECT_EQ(panel.bottom, 57);
    EXPECT_TRUE(::IsWindowVisible(pelorin.Control("Button", "Test")));
    const auto aLabelShows = [&](const std::string& pattern) {
        const auto labels = pelorin.Controls("PelorinStatic");
        return std::any_of(labels.begin(), labels.end(), [&](HWND l) { return std::regex_match(Text(l), std::regex(pattern)); });
    };
    EXPECT_TRUE(test::WaitUntil([&] { return aLabelShows(R"(Mem: \d{1,3}%  CPU: \d{2,3}%)"); }, 10000));
    // The count of the last refresh, once the list holds still.
    EXPECT_TRUE(test::WaitUntil([&] { return aLabelShows("Counts: " + std::to_string(Count(pelorin.ProcessList()))); }, 10000));

    const std::string bin = test::BinFolder();  // <build>/bin/, with <build>/screenshots beside it
    const std::string folder = bin.substr(0, bin.find_last_of('\\', bin.size() - 2) + 1) + "screenshots";
    ::CreateDirectoryA(folder.c_str(), nullptr);
    EXPECT_TRUE(pelorin.Screenshot(folder + "\\pelorin-testmode.png"));
}

TEST(SingleInstance, ASecondStartOfEitherBuildEndsAtOnceBringsTheFirstForwardAndLeavesTheSettings) {
    SettingsGuard settings;
    Pelorin first;
    ASSERT_TRUE(first.Start());
    // The user works in another window in front of it.
    const UniqueWindow other(::CreateWindowExA(0, "STATIC", "other", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 150, 100, 600, 500,
                                               nullptr, nullptr, nullptr, nullptr));
    const auto all = [] {
        return std::vector{Setting("frmleft"), Setting("frmtop"), Setting("frmWidth"), Setting("frmHeight"), Setting("StayOnTop"),
                           Setting("pelorinno")};
    };
    const auto before = all();
    ASSERT_TRUE(before.back().has_value()) << "no pelorinno";

    for (const char* program : {kProgram, kOtherProgram}) {
        ::SetForegroundWindow(other.Get());
        ASSERT_TRUE(test::WaitUntil([&] { return ::GetForegroundWindow() == other.Get(); }));
        Pelorin second(Marker::None, program);
        ASSERT_TRUE(second.Start(false)) << program;
        bool shown = false;  // a window of its own, seen while it ran
        EXPECT_TRUE(test::WaitUntil([&] { shown = shown || second.ShownWindow(); return second.ExitCode(0).has_value(); }, 5000));
        EXPECT_FALSE(shown) << program;
        EXPECT_EQ(second.ExitCode(0), kExitedWithZero) << program;
        EXPECT_TRUE(test::WaitUntil([&] { return ::GetForegroundWindow() == first.Window(); }, 3000)) << program;
        EXPECT_EQ(all(), before) << program;
        EXPECT_FALSE(first.ExitCode(0).has_value()) << program;
    }
}

bool Topmost(HWND window) { return (::GetWindowLongA(window, GWL_EXSTYLE) & WS_EX_TOPMOST) != 0; }

// A plain WM_CLOSE is the reliability tests' close, at every point of the refresh.
enum ClosePath { CloseLabel, WmCloseOverThePopup, SessionEnd, WmCloseOverTheKillMessage, kClosePaths };
const char* const kClosePathNames[] = {"CloseLabel", "WmCloseOverThePopup", "SessionEnd", "WmCloseOverTheKillMessage"};

class EveryClose : public ::testing::TestWithParam<int> {};

// The close label's run also ticks "On Top": the next start shows what it saved.
TEST_P(EveryClose, EndsWithExitCodeZeroWithinThreeSecondsAndSavesTheSettings) {
    SettingsGuard settings;
    ClearSettings();
    const int path = GetParam();
    Pelorin pelorin(path == CloseLabel ? Marker::File : Marker::None);
    ASSERT_TRUE(pelorin.Start());
    // Tall, so the list has room below its rows.
    const Placement placed = {100 + 17 * path, 40 + 9 * path, 530 + 11 * path, 620};
    ASSERT_TRUE(Place(pelorin.Window(), placed));
    const auto openPopupBelowTheRows = [&] {
        const auto spot = BelowRows(pelorin.ProcessList());
        return spot && pelorin.Click(*spot, true) && pelorin.WaitPopupMenu() != nullptr;
    };

    switch (path) {
    case CloseLabel:
        ASSERT_TRUE(pelorin.ClickCheckBox("On Top"));
        ASSERT_TRUE(pelorin.Click(pelorin.Control("PelorinStatic", " X")));
        break;
    case WmCloseOverThePopup: ASSERT_TRUE(openPopupBelowTheRows()); break;
    case WmCloseOverTheKillMessage: {
        // No row was clicked: Kill Task has no process.
        ASSERT_TRUE(openPopupBelowTheRows());
        ASSERT_TRUE(pelorin.ChooseKillTask());
        const HWND box = pelorin.WaitMessageBox();
        ASSERT_NE(box, nullptr);
        EXPECT_EQ(Pelorin::MessageText(box), "Failed to kill task: \"\" PID: 0");
        break;
    }
    case SessionEnd:
        ASSERT_EQ(Ask(pelorin.Window(), WM_QUERYENDSESSION, 0, 0, 1000), DWORD_PTR{TRUE}) << "WM_QUERYENDSESSION answered within 1 s";
        ASSERT_TRUE(Ask(pelorin.Window(), WM_ENDSESSION, TRUE, 0, kCloseLimitMs)) << "WM_ENDSESSION not back within 3 s";
        // The system may end the process as soon as WM_ENDSESSION returns.
        EXPECT_EQ(SavedPlacement(), placed) << "when WM_ENDSESSION returned";
        break;
    }
    if (path != CloseLabel && path != SessionEnd) { ASSERT_TRUE(pelorin.Close()); }
    EXPECT_EQ(pelorin.ExitCode(kCloseLimitMs), kExitedWithZero);
    EXPECT_EQ(SavedPlacement(), placed);
    if (path != CloseLabel) return;
    Pelorin next(Marker::File);
    ASSERT_TRUE(next.Start());
    EXPECT_EQ(PlacementOf(next.Window()), placed);
    EXPECT_TRUE(Topmost(next.Window()) && next.Checked("On Top"));
    EXPECT_EQ(Setting("pelorinno"), static_cast<DWORD>(reinterpret_cast<std::uintptr_t>(next.Window())));
}

INSTANTIATE_TEST_SUITE_P(Pelorin, EveryClose, ::testing::Range(0, int{kClosePaths}),
                         [](const auto& c) { return std::string(kClosePathNames[c.param]); });

}  // namespace
}  // namespace pelorin::e2e
