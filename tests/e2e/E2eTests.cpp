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

#include "common/KnownNames.h"
#include "e2e/Driver.h"

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
    return !test::IsKnownName(name) && lstrcmpiA(name.c_str(), "[System Process]") != 0 && lstrcmpiA(name.c_str(), "System") != 0;
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
    EXPECT_TRUE(child[2].back() == 'M' && std::stod(child[2]) >= 64) << child[2];  // 64 MiB touched
    EXPECT_EQ(lstrcmpiA(child[4].c_str(), test::FixturePath("pelorin_child.exe").c_str()), 0) << child[4];
}

// <build>/screenshots/name, beside <build>/bin/.
std::string ScreenshotPath(const char* name) {
    const std::string bin = test::FixturePath("");
    const std::string folder = bin.substr(0, bin.find_last_of('\\', bin.size() - 2) + 1) + "screenshots";
    ::CreateDirectoryA(folder.c_str(), nullptr);
    return folder + "\\" + name;
}

TEST(TestMode, AFileNamedTestingLogShowsTheStatusPanelAndTheTestButton) {
    SettingsGuard settings;
    Pelorin pelorin(Marker::File);
    ASSERT_TRUE(pelorin.Start());
    const HWND close = pelorin.Control("PelorinStatic", " X"), panel = ::GetParent(close);  // the status panel
    RECT r = {};
    EXPECT_TRUE(::GetClientRect(panel, &r) && r.bottom == 57) << r.bottom;
    EXPECT_TRUE(::IsWindowVisible(pelorin.Control("Button", "Test")));
    const auto labels = pelorin.Controls("PelorinStatic");
    const auto usageShown = [](HWND label) { return std::regex_match(Text(label), std::regex(R"(Mem: \d{1,3}%  CPU: \d{2,3}%)")); };
    EXPECT_TRUE(test::WaitUntil([&] { return std::any_of(labels.begin(), labels.end(), usageShown); }, 10000));
    // On the screen: the silver panel and the dark green close label.
    const auto shows = [](HWND window, POINT at, COLORREF color) {
        const ScopedWindowDC screen(nullptr);
        return ::ClientToScreen(window, &at) && ::GetPixel(screen.Get(), at.x, at.y) == color;
    };
    ::SetForegroundWindow(pelorin.Window());
    EXPECT_TRUE(test::WaitUntil([&] { return shows(panel, {400, 50}, RGB(192, 192, 192)) && shows(close, {1, 12}, RGB(0, 128, 0)); }));
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
    ASSERT_EQ(before.back(), static_cast<DWORD>(reinterpret_cast<std::uintptr_t>(first.Window()))) << "pelorinno";

    for (const char* program : {kProgram, kOtherProgram}) {
        ::SetForegroundWindow(other.Get());
        ASSERT_TRUE(test::WaitUntil([&] { return ::GetForegroundWindow() == other.Get(); }));
        Pelorin second(Marker::None, program);
        ASSERT_TRUE(second.Start(false)) << program;
        bool shown = false;  // a window of its own, seen while it ran
        EXPECT_TRUE(test::WaitUntil([&] { shown = shown || second.ShownWindow(); return second.ExitCode(0).has_value(); }, 30000));  // as long as a first start
        EXPECT_FALSE(shown) << program;
        EXPECT_EQ(second.ExitCode(0), kExitedWithZero) << program;
        EXPECT_TRUE(test::WaitUntil([&] { return ::GetForegroundWindow() == first.Window(); })) << program;
        EXPECT_EQ(all(), before) << program;
        EXPECT_FALSE(first.ExitCode(0).has_value()) << program;
    }
}

// Under Wine, LogPixels is the screen's DPI for programs started while it is
// set; with DpiScalingVer, a program is unaware of it unless it says
// otherwise, as on Windows. Test runs have neither (scripts/test clears them).
struct ScreenDpi {
    static constexpr const char* kDesktop = "Control Panel\\Desktop";
    explicit ScreenDpi(DWORD dpi) { Set("LogPixels", dpi), Set("DpiScalingVer", 0x1000); }
    ~ScreenDpi() {
        for (const char* name : {"LogPixels", "DpiScalingVer"}) ::RegDeleteKeyValueA(HKEY_CURRENT_USER, kDesktop, name);
    }
    static void Set(const char* name, DWORD value) {
        ::RegSetKeyValueA(HKEY_CURRENT_USER, kDesktop, name, REG_DWORD, &value, sizeof value);
    }
};

// A first start at a DPI, pictured: its client width and height, first column, row, header and a check box.
std::vector<double> FirstStart(DWORD dpi) {
    const ScreenDpi screen(dpi);
    ClearSettings();
    Pelorin pelorin;
    if (!pelorin.Start()) return {};
    RECT client = {}, header = {}, box = {};
    const HWND list = pelorin.ProcessList();
    ::GetClientRect(pelorin.Window(), &client);
    ::GetWindowRect(HeaderOf(list), &header);
    ::GetWindowRect(pelorin.Control("Button", "Show Known Processes"), &box);
    const auto first = RowPoint(list, 0), second = RowPoint(list, 1);
    const Placement placed = PlacementOf(pelorin.Window());
    // Whole on the (narrow at 144 DPI) screen for the picture.
    EXPECT_TRUE(Place(pelorin.Window(), {0, 0, placed.width, placed.height}));
    EXPECT_TRUE(pelorin.Screenshot(ScreenshotPath(("pelorin-" + std::to_string(dpi) + "dpi.png").c_str())));
    return {1.0 * client.right, 1.0 * client.bottom, 1.0 * Ask(list, LVM_GETCOLUMNWIDTH).value_or(0),
            first && second ? 1.0 * (second->y - first->y) : 0, 1.0 * (header.bottom - header.top), 1.0 * (box.right - box.left)};
}

TEST(Dpi, AFirstStartAt144IsHalfAsLargeAgainAsOneAt96) {
    SettingsGuard settings;
    const auto at96 = FirstStart(96), at144 = FirstStart(144);
    ASSERT_EQ(at96.size() + at144.size(), 12u) << "a start failed";
    // What follows the text grows less: MS Sans Serif comes in fixed sizes (13, 16, 20 pixels
    // at 96 DPI, 16, 20 at 144), and the scaled request gets the 16 where the 96-DPI one got 13.
    const char* const names[] = {"client width", "client height", "first column", "row", "header", "check box"};
    for (std::size_t i = 0; i < at96.size(); ++i)
        EXPECT_NEAR(at144[i] / at96[i], i < 3 ? 1.5 : 1.425, i < 3 ? 0.1 : 0.275) << names[i];
}

// A plain WM_CLOSE: the start/close runs of the reliability tests.
enum ClosePath { CloseLabel, WmCloseOverThePopup, SessionEnd, WmCloseOverTheKillMessage, WmQuit, kClosePaths };
const char* const kClosePathNames[] = {"CloseLabel", "WmCloseOverThePopup", "SessionEnd", "WmCloseOverTheKillMessage",
                                       "WmQuitFromAnotherProgram"};

class EveryClose : public ::testing::TestWithParam<int> {};

// The close label's run is at 144 DPI: the next start, at 96, applies the
// pixels it saved as they are.
TEST_P(EveryClose, EndsWithExitCodeZeroInBoundedTimeAndSavesTheSettings) {
    SettingsGuard settings;
    ClearSettings();
    const int path = GetParam();
    std::optional<ScreenDpi> screen;
    if (path == CloseLabel) screen.emplace(144);
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
    case CloseLabel: ASSERT_TRUE(pelorin.Click(pelorin.Control("PelorinStatic", " X"))); break;
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
        // The system waits 5 s for an answer to each.
        ASSERT_EQ(Ask(pelorin.Window(), WM_QUERYENDSESSION, 0, 0, 5000), DWORD_PTR{TRUE}) << "WM_QUERYENDSESSION not answered";
        ASSERT_TRUE(Ask(pelorin.Window(), WM_ENDSESSION, TRUE, 0, kCloseLimitMs)) << "WM_ENDSESSION not back in time";
        // The system may end the process as soon as WM_ENDSESSION returns.
        EXPECT_EQ(SavedPlacement(), placed) << "when WM_ENDSESSION returned";
        break;
    case WmQuit: ASSERT_TRUE(::PostThreadMessageA(::GetWindowThreadProcessId(pelorin.Window(), nullptr), WM_QUIT, 0, 0)); break;
    }
    if (path != CloseLabel && path != SessionEnd && path != WmQuit) { ASSERT_TRUE(pelorin.Close()); }
    EXPECT_EQ(pelorin.ExitCode(kCloseLimitMs), kExitedWithZero);
    EXPECT_EQ(SavedPlacement(), placed);
    if (path != CloseLabel) return;
    screen.reset();
    Pelorin next;
    ASSERT_TRUE(next.Start());
    EXPECT_EQ(PlacementOf(next.Window()), placed);
}

INSTANTIATE_TEST_SUITE_P(Pelorin, EveryClose, ::testing::Range(0, int{kClosePaths}),
                         [](const auto& c) { return std::string(kClosePathNames[c.param]); });

}  // namespace
}  // namespace pelorin::e2e
