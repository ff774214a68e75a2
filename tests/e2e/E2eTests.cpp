// The real Pelorin.exe as a user meets it: what its list and labels show,
// test mode, a second start, the settings across two runs, and every way it
// is closed.
#include <windows.h>
#include <tlhelp32.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <map>
#include <regex>
#include <string>
#include <vector>

#include "catalogue/Systemlist.h"
#include "e2e/Driver.h"

namespace pelorin::e2e {
namespace {

constexpr DWORD kCloseLimitMs = 3000;
const std::optional<DWORD> kExitedWithZero = 0;

std::map<DWORD, std::string> Snapshot() {
    std::map<DWORD, std::string> processes;
    const UniqueHandle snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    PROCESSENTRY32 entry = {};
    entry.dwSize = sizeof entry;
    for (BOOL more = ::Process32First(snapshot.Get(), &entry); more; more = ::Process32Next(snapshot.Get(), &entry))
        processes[entry.th32ProcessID] = entry.szExeFile;
    return processes;
}

bool Listable(const std::string& name) {
    return !IsKnownProcess(name) && lstrcmpiA(name.c_str(), "[System Process]") != 0 &&
           lstrcmpiA(name.c_str(), "System") != 0;
}

// What is wrong with rows read between two snapshots: every row must be a
// process of one of them, every listable process of both must be a row.
std::string Mismatches(const std::vector<Row>& rows, const std::map<DWORD, std::string>& before,
                       const std::map<DWORD, std::string>& after) {
    std::string problems;
    std::map<DWORD, std::string> shown;
    for (const Row& row : rows) {
        const DWORD pid = std::strtoul(row[1].c_str(), nullptr, 10);
        if (!shown.emplace(pid, row[0]).second) problems += "PID " + row[1] + " twice; ";
        const auto b = before.find(pid), a = after.find(pid);
        if (!(b != before.end() && b->second == row[0]) && !(a != after.end() && a->second == row[0]))
            problems += row[0] + " " + row[1] + " is in neither snapshot; ";
        if (!Listable(row[0])) problems += row[0] + " is listed; ";
    }
    for (const auto& [pid, name] : before) {
        const auto a = after.find(pid);
        if (a != after.end() && a->second == name && Listable(name) && shown[pid] != name)
            problems += name + " " + std::to_string(pid) + " is missing; ";
    }
    return problems;
}

// "64.5M" in bytes.
double BytesOf(const std::string& figure) {
    char* unit = nullptr;
    const double value = std::strtod(figure.c_str(), &unit);
    const std::string units = "KMGT";
    return *unit == '\0' ? value : value * std::pow(1024.0, static_cast<double>(units.find(*unit) + 1));
}

TEST(ProcessList, ShowsTheSnapshotLessKnownProcessesWithWellFormedFiguresAndAChildsMemoryAndPath) {
    SettingsGuard settings;
    test::Child big;
    ASSERT_TRUE(big.Start("--touch-mib 64"));
    Pelorin pelorin;
    ASSERT_TRUE(pelorin.Start());
    const HWND list = pelorin.ProcessList();
    ASSERT_EQ(pelorin.Headers(list), (std::vector<std::string>{"Process Name", "PID", "Mem", "CPU", "Image Path",
                                                               "Description", "Company"}));

    // A child started after the first snapshot is listed by a refresh that
    // began after it; a process that comes and goes meanwhile calls for another try.
    std::vector<Row> rows;
    std::string problems = "no try";
    for (int attempt = 0; attempt < 3 && !problems.empty(); ++attempt) {
        const auto before = Snapshot();
        test::Child marker;
        ASSERT_TRUE(marker.Start());
        const std::string markerPid = std::to_string(marker.Pid());
        ASSERT_TRUE(test::WaitUntil([&] {
            rows = pelorin.Rows(list);
            return std::any_of(rows.begin(), rows.end(), [&](const Row& row) { return row[1] == markerPid; });
        }, 10000));
        problems = Mismatches(rows, before, Snapshot());
    }
    EXPECT_EQ(problems, "");

    // A whole part, up to two decimals without a trailing zero, a unit for sizes.
    const std::regex size(R"((0|[1-9]\d*)(\.\d?[1-9])?[KMGT]?)"), percent(R"((0|[1-9]\d*)(\.\d?[1-9])?)");
    const Row* child = nullptr;
    for (const Row& row : rows) {
        EXPECT_TRUE(std::regex_match(row[2], size)) << row[0] << " Mem " << row[2];
        EXPECT_TRUE(std::regex_match(row[3], percent)) << row[0] << " CPU " << row[3];
        if (row[1] == std::to_string(big.Pid())) child = &row;
    }
    ASSERT_NE(child, nullptr);
    EXPECT_EQ((*child)[0], "pelorin_child.exe");
    EXPECT_GE(BytesOf((*child)[2]), 64.0 * 1024 * 1024) << (*child)[2];
    EXPECT_EQ(lstrcmpiA((*child)[4].c_str(), test::FixturePath("pelorin_child.exe").c_str()), 0) << (*child)[4];
}

// The status panel holds the close label.
int StatusPanelHeight(const Pelorin& pelorin) {
    RECT r = {};
    ::GetClientRect(::GetParent(pelorin.Control("PelorinStatic", " X")), &r);
    return r.bottom;
}

bool ALabelMatches(const Pelorin& pelorin, const std::regex& pattern) {
    const auto texts = pelorin.LabelTexts();
    return std::any_of(texts.begin(), texts.end(), [&](const std::string& text) { return std::regex_match(text, pattern); });
}

TEST(TestMode, AFileNamedTestingLogShowsTheStatusPanelAndTheTestButton) {
    SettingsGuard settings;
    Pelorin pelorin(Marker::File);
    ASSERT_TRUE(pelorin.Start());
    EXPECT_EQ(StatusPanelHeight(pelorin), 57);
    EXPECT_TRUE(::IsWindowVisible(pelorin.Control("Button", "Test")));
    EXPECT_TRUE(test::WaitUntil([&] { return ALabelMatches(pelorin, std::regex(R"(Mem: \d{1,3}%  CPU: \d{2,3}%)")); },
                                10000));
    // The count of the last refresh, once the list holds still.
    EXPECT_TRUE(test::WaitUntil([&] {
        return ALabelMatches(pelorin, std::regex("Counts: " + std::to_string(pelorin.Count(pelorin.ProcessList()))));
    }, 10000));

    const std::string folder = BuildFolder() + "screenshots";
    ::CreateDirectoryA(folder.c_str(), nullptr);
    EXPECT_TRUE(pelorin.Screenshot(folder + "\\pelorin-testmode.png"));
}

TEST(TestMode, AFolderNamedTestingLogLeavesItOff) {
    SettingsGuard settings;
    Pelorin pelorin(Marker::Folder);
    ASSERT_TRUE(pelorin.Start());
    EXPECT_EQ(StatusPanelHeight(pelorin), 1);
    EXPECT_FALSE(::IsWindowVisible(pelorin.Control("Button", "Test")));
}

std::vector<std::optional<DWORD>> AllSettings() {
    std::vector<std::optional<DWORD>> values;
    for (const char* name : {"frmleft", "frmtop", "frmWidth", "frmHeight", "StayOnTop", "pelorinno"})
        values.push_back(Setting(name));
    return values;
}

TEST(SingleInstance, ASecondStartEndsAtOnceBringsTheFirstForwardAndLeavesTheSettings) {
    SettingsGuard settings;
    Pelorin first;
    ASSERT_TRUE(first.Start());
    // The user works in another window in front of it.
    const UniqueWindow other(::CreateWindowExA(0, "STATIC", "other", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 150, 100, 600,
                                               500, nullptr, nullptr, nullptr, nullptr));
    ::SetForegroundWindow(other.Get());
    ASSERT_TRUE(test::WaitUntil([&] { return ::GetForegroundWindow() == other.Get(); }));
    const auto before = AllSettings();
    ASSERT_TRUE(before.back().has_value()) << "no pelorinno";

    Pelorin second;
    ASSERT_TRUE(second.Launch());
    EXPECT_TRUE(test::WaitUntil([&] { return second.ExitCode(0).has_value(); }, 5000));
    EXPECT_EQ(second.ExitCode(0), kExitedWithZero);
    EXPECT_TRUE(test::WaitUntil([&] { return ::GetForegroundWindow() == first.Window(); }, 3000));
    EXPECT_EQ(AllSettings(), before);
    EXPECT_FALSE(first.ExitCode(0).has_value());
}

bool Topmost(HWND window) { return (::GetWindowLongA(window, GWL_EXSTYLE) & WS_EX_TOPMOST) != 0; }

TEST(Settings, APlacementAndOnTopSetInOneRunAreThereAtTheNextStart) {
    SettingsGuard settings;
    ClearSettings();
    const Placement placed = {150, 120, 560, 420};
    {
        Pelorin first(Marker::File);  // the close label shows with the status panel
        ASSERT_TRUE(first.Start());
        ASSERT_TRUE(Place(first.Window(), placed));
        ASSERT_TRUE(first.ClickCheckBox("On Top"));
        EXPECT_TRUE(Topmost(first.Window()));
        ASSERT_TRUE(first.ClickCloseLabel());
        EXPECT_EQ(first.ExitCode(kCloseLimitMs), kExitedWithZero);
    }
    Pelorin second(Marker::File);
    ASSERT_TRUE(second.Start());
    EXPECT_EQ(PlacementOf(second.Window()), placed);
    EXPECT_TRUE(Topmost(second.Window()));
    EXPECT_TRUE(second.Checked("On Top"));
    EXPECT_EQ(Setting("pelorinno"), static_cast<DWORD>(reinterpret_cast<std::uintptr_t>(second.Window())));
}

enum class ClosePath { WmClose, CloseLabel, WmCloseOverThePopup, SessionEnd, WmCloseOverTheKillMessage };

struct CloseCase {
    const char* name;
    ClosePath path;
};
void PrintTo(const CloseCase& c, std::ostream* out) { *out << c.name; }

::testing::AssertionResult OpenPopupBelowTheRows(const Pelorin& pelorin) {
    const auto spot = pelorin.BelowRows(pelorin.ProcessList());
    if (!spot) return ::testing::AssertionFailure() << "no room below the rows";
    if (!pelorin.Click(*spot, true)) return ::testing::AssertionFailure() << "the right click did not land";
    if (pelorin.WaitPopupMenu() == nullptr) return ::testing::AssertionFailure() << "no popup menu";
    return ::testing::AssertionSuccess();
}

class EveryClose : public ::testing::TestWithParam<CloseCase> {};

TEST_P(EveryClose, EndsWithExitCodeZeroWithinThreeSecondsAndSavesTheSettings) {
    SettingsGuard settings;
    ClearSettings();
    const ClosePath path = GetParam().path;
    Pelorin pelorin(path == ClosePath::CloseLabel ? Marker::File : Marker::None);
    ASSERT_TRUE(pelorin.Start());
    // Tall, so the list has room below its rows.
    const int k = static_cast<int>(path);
    const Placement placed = {100 + 17 * k, 40 + 9 * k, 530 + 11 * k, 620};
    ASSERT_TRUE(Place(pelorin.Window(), placed));

    switch (path) {
    case ClosePath::WmClose: ASSERT_TRUE(pelorin.Close()); break;
    case ClosePath::CloseLabel: ASSERT_TRUE(pelorin.ClickCloseLabel()); break;
    case ClosePath::WmCloseOverThePopup:
        ASSERT_TRUE(OpenPopupBelowTheRows(pelorin));
        ASSERT_TRUE(pelorin.Close());
        break;
    case ClosePath::WmCloseOverTheKillMessage: {
        // No row was clicked: Kill Task has no process.
        ASSERT_TRUE(OpenPopupBelowTheRows(pelorin));
        ASSERT_TRUE(pelorin.ChooseKillTask());
        const HWND box = pelorin.WaitMessageBox();
        ASSERT_NE(box, nullptr);
        EXPECT_EQ(Pelorin::MessageText(box), "Failed to kill task: \"\" PID: 0");
        ASSERT_TRUE(pelorin.Close());
        break;
    }
    case ClosePath::SessionEnd: {
        const auto end = pelorin.EndSession(1000, kCloseLimitMs);
        ASSERT_TRUE(end.queryAnswered) << "WM_QUERYENDSESSION not answered within 1 s";
        EXPECT_EQ(end.queryResult, static_cast<DWORD_PTR>(TRUE));
        ASSERT_TRUE(end.endReturned) << "WM_ENDSESSION not back within 3 s";
        // The system may end the process as soon as WM_ENDSESSION returns.
        EXPECT_EQ(SavedPlacement(), placed) << "when WM_ENDSESSION returned";
        break;
    }
    }
    EXPECT_EQ(pelorin.ExitCode(kCloseLimitMs), kExitedWithZero);
    EXPECT_EQ(SavedPlacement(), placed);
}

INSTANTIATE_TEST_SUITE_P(Pelorin, EveryClose,
                         ::testing::Values(CloseCase{"WmClose", ClosePath::WmClose},
                                           CloseCase{"CloseLabel", ClosePath::CloseLabel},
                                           CloseCase{"WmCloseOverThePopup", ClosePath::WmCloseOverThePopup},
                                           CloseCase{"SessionEnd", ClosePath::SessionEnd},
                                           CloseCase{"WmCloseOverTheKillMessage",
                                                     ClosePath::WmCloseOverTheKillMessage}),
                         [](const auto& c) { return std::string(c.param.name); });

}  // namespace
}  // namespace pelorin::e2e
