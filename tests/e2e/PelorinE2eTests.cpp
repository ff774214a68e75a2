// End to end: the real Pelorin.exe under Wine on the virtual display, read
// from outside as another program sees it.
#include <windows.h>
#include <commctrl.h>
#include <psapi.h>
#include <tlhelp32.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <map>
#include <memory>
#include <optional>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include "catalogue/Systemlist.h"
#include "e2e/PelorinDriver.h"
#include "fixtures/ChildProcess.h"
#include "support/SystemInfo.h"

namespace pelorin::e2e {
namespace {

using Marker = PelorinProcess::TestModeMarker;

// For the whole run: Pelorin's closes are timed without Wine's wait for a
// window manager that the virtual display does not have.
class WineDisplayEnvironment : public ::testing::Environment {
public:
    void SetUp() override { unmanaged_ = std::make_unique<UnmanagedPelorinWindows>(); }
    void TearDown() override { unmanaged_.reset(); }

private:
    std::unique_ptr<UnmanagedPelorinWindows> unmanaged_;
};
::testing::Environment* const g_wineDisplay = ::testing::AddGlobalTestEnvironment(new WineDisplayEnvironment);

// A case leaves the registry as it found it.
class PelorinE2e : public ::testing::Test {
protected:
    RegistryKeyGuard registry;
};

bool SameBox(const RECT& r, int left, int top, int width, int height) {
    return r.left == left && r.top == top && r.right - r.left == width && r.bottom - r.top == height;
}

std::string BoxText(const RECT& r) {
    return "(" + std::to_string(r.left) + "," + std::to_string(r.top) + " " + std::to_string(r.right - r.left) + "x" +
           std::to_string(r.bottom - r.top) + ")";
}

// The controls of Pelorin's window, found the way a reader of the window would:
// by class, parent, caption and place.
struct PelorinControls {
    std::vector<WindowInfo> all;
    const WindowInfo* Find(const std::string& className, const std::string& text) const {
        for (const WindowInfo& w : all) {
            if (w.className == className && w.text == text) return &w;
        }
        return nullptr;
    }
    const WindowInfo* At(HWND parent, const std::string& className, int left, int top) const {
        for (const WindowInfo& w : all) {
            if (w.parent == parent && w.className == className && w.bounds.left == left && w.bounds.top == top)
                return &w;
        }
        return nullptr;
    }
    std::vector<const WindowInfo*> OfClass(const std::string& className, HWND parent = nullptr) const {
        std::vector<const WindowInfo*> found;
        for (const WindowInfo& w : all) {
            if (w.className == className && (parent == nullptr || w.parent == parent)) found.push_back(&w);
        }
        return found;
    }
};

constexpr const char* kStatic = "PelorinStatic";

// pnlTop is the panel that holds lblClose; pnlBottom the one that holds "Test".
HWND TopPanel(const PelorinControls& c) {
    const WindowInfo* close = c.Find(kStatic, " X");
    return close ? close->parent : nullptr;
}
HWND BottomPanel(const PelorinControls& c) {
    const WindowInfo* test = c.Find("Button", "Test");
    return test ? test->parent : nullptr;
}
const WindowInfo* InfoOf(const PelorinControls& c, HWND window) {
    for (const WindowInfo& w : c.all) {
        if (w.window == window) return &w;
    }
    return nullptr;
}

std::string FolderLine() {
    return SystemDriveRoot() + " " + WindowsDirectory() + " " + SystemDirectory() + " " + ProgramFilesDirectory();
}

// Polls until the label at (left, top) of pnlTop matches pattern.
bool LabelMatches(HWND form, int left, int top, const std::regex& pattern, std::string& text, DWORD timeoutMs) {
    const DWORD start = ::GetTickCount();
    for (;;) {
        PelorinControls c{DescendantsOf(form)};
        if (const WindowInfo* label = c.At(TopPanel(c), kStatic, left, top)) {
            text = label->text;
            if (std::regex_match(text, pattern)) return true;
        }
        if (::GetTickCount() - start >= timeoutMs) return false;
        ::Sleep(100);
    }
}

TEST_F(PelorinE2e, WindowShowsEveryControlAndColumn) {
    PelorinProcess pelorin(Marker::File);
    ASSERT_TRUE(pelorin.Start());
    const HWND form = pelorin.WaitForWindow();
    ASSERT_NE(form, nullptr);
    DWORD owner = 0;
    ::GetWindowThreadProcessId(form, &owner);
    EXPECT_EQ(owner, pelorin.Pid());
    EXPECT_EQ(WindowText(form), "Pelorin");
    RECT client = {};
    ::GetClientRect(form, &client);
    EXPECT_EQ(client.right, 509);
    EXPECT_EQ(client.bottom, 342);

    const PelorinControls c{DescendantsOf(form)};
    const HWND top = TopPanel(c), bottom = BottomPanel(c);
    ASSERT_NE(top, nullptr);
    ASSERT_NE(bottom, nullptr);
    const WindowInfo* pnlTop = InfoOf(c, top);
    const WindowInfo* pnlBottom = InfoOf(c, bottom);
    ASSERT_TRUE(pnlTop && pnlBottom);
    EXPECT_EQ(pnlTop->parent, form);
    EXPECT_EQ(pnlBottom->parent, form);
    EXPECT_TRUE(SameBox(pnlTop->bounds, 0, 0, 509, 57)) << BoxText(pnlTop->bounds);
    EXPECT_TRUE(SameBox(pnlBottom->bounds, 0, 162, 509, 180)) << BoxText(pnlBottom->bounds);

    const WindowInfo* close = c.Find(kStatic, " X");
    EXPECT_TRUE(SameBox(close->bounds, 485, 0, 20, 14)) << BoxText(close->bounds);
    const WindowInfo* realtime = c.At(top, kStatic, 8, 8);
    const WindowInfo* cpu = c.At(top, kStatic, 8, 24);
    const WindowInfo* task = c.At(top, kStatic, 6, 40);
    const WindowInfo* stat = c.At(top, kStatic, 130, 40);
    ASSERT_TRUE(realtime && cpu && task && stat);
    EXPECT_EQ(realtime->text, FolderLine());
    EXPECT_EQ(stat->text, "lblStat");

    const auto splitters = c.OfClass("PelorinSplitter", form);
    ASSERT_EQ(splitters.size(), 1u);
    EXPECT_TRUE(SameBox(splitters[0]->bounds, 0, 157, 509, 5)) << BoxText(splitters[0]->bounds);

    const WindowInfo* test = c.Find("Button", "Test");
    EXPECT_TRUE(test->visible);
    EXPECT_TRUE(SameBox(test->bounds, 416, 2, 49, 18)) << BoxText(test->bounds);
    const struct {
        const char* caption;
        int left;
    } boxes[] = {{"Show Known Processes", 8}, {"No Refresh", 152}, {"On Top", 232}, {"More Info", 296}};
    for (const auto& b : boxes) {
        const WindowInfo* box = c.Find("Button", b.caption);
        ASSERT_NE(box, nullptr) << b.caption;
        EXPECT_EQ(box->parent, bottom) << b.caption;
        EXPECT_EQ(box->bounds.left, b.left) << b.caption;
        EXPECT_EQ(box->bounds.top, 2) << b.caption;
        EXPECT_EQ(::GetWindowLongA(box->window, GWL_STYLE) & BS_TYPEMASK, BS_AUTOCHECKBOX) << b.caption;
        EXPECT_EQ(::SendMessageA(box->window, BM_GETCHECK, 0, 0), BST_UNCHECKED) << b.caption;
    }

    const auto processLists = c.OfClass(WC_LISTVIEWA, form);
    const auto moduleLists = c.OfClass(WC_LISTVIEWA, bottom);
    ASSERT_EQ(processLists.size(), 1u);
    ASSERT_EQ(moduleLists.size(), 1u);
    EXPECT_TRUE(SameBox(processLists[0]->bounds, 0, 57, 509, 100)) << BoxText(processLists[0]->bounds);
    EXPECT_TRUE(SameBox(moduleLists[0]->bounds, 5, 24, 495, 151)) << BoxText(moduleLists[0]->bounds);

    using Column = RemoteListView::Column;
    const auto same = [](const std::vector<Column>& actual, const std::vector<Column>& expected) {
        if (actual.size() != expected.size()) return false;
        for (std::size_t i = 0; i < actual.size(); ++i) {
            if (actual[i].title != expected[i].title || actual[i].alignment != expected[i].alignment ||
                actual[i].width != expected[i].width)
                return false;
        }
        return true;
    };
    const int left = LVCFMT_LEFT, centre = LVCFMT_CENTER;
    RemoteListView processes(processLists[0]->window);
    RemoteListView modules(moduleLists[0]->window);
    ASSERT_TRUE(processes.Valid());
    ASSERT_TRUE(modules.Valid());
    EXPECT_TRUE(same(processes.Columns(), {{"Process Name", left, 110},
                                           {"PID", centre, 40},
                                           {"Mem", centre, 60},
                                           {"CPU", centre, 35},
                                           {"Image Path", left, 280},
                                           {"Description", centre, 100},
                                           {"Company", centre, 100}}));
    EXPECT_TRUE(same(modules.Columns(), {{"Modules Count: 0", centre, 130},
                                         {"Processes used by", left, 300},
                                         {"Description", left, 100},
                                         {"Company", centre, 100}}));
}

// The processes a Toolhelp snapshot taken here lists, by PID.
std::map<DWORD, std::string> SnapshotProcesses() {
    std::map<DWORD, std::string> processes;
    UniqueHandle snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (!snapshot) return processes;
    PROCESSENTRY32 entry = {};
    entry.dwSize = sizeof entry;
    for (BOOL more = ::Process32First(snapshot.Get(), &entry); more; more = ::Process32Next(snapshot.Get(), &entry)) {
        processes[entry.th32ProcessID] = entry.szExeFile;
    }
    return processes;
}

bool Listed(const std::string& name) {
    const std::string lower = [&] {
        std::string s = name;
        std::transform(s.begin(), s.end(), s.begin(), [](unsigned char ch) { return static_cast<char>(std::tolower(ch)); });
        return s;
    }();
    return !IsKnownProcess(name) && lower != "[system process]" && lower != "system";
}

HWND ProcessList(HWND form) {
    const PelorinControls c{DescendantsOf(form)};
    const auto lists = c.OfClass(WC_LISTVIEWA, form);
    return lists.size() == 1 ? lists[0]->window : nullptr;
}

TEST_F(PelorinE2e, RowsAreTheProcessesOfAToolhelpSnapshotLessKnownOnes) {
    PelorinProcess pelorin;
    ASSERT_TRUE(pelorin.Start());
    const HWND form = pelorin.WaitForWindow();
    ASSERT_NE(form, nullptr);
    RemoteListView list(ProcessList(form));
    ASSERT_TRUE(list.Valid());

    // Processes come and go: a process in both snapshots lived through the
    // refresh that made the rows; a row must come from one of them.
    std::string problem;
    for (int attempt = 0; attempt < 3; ++attempt) {
        const auto before = SnapshotProcesses();
        ::Sleep(2500);  // at least one whole refresh after the first snapshot
        const auto rows = list.StableRows(7);
        const auto after = SnapshotProcesses();
        problem.clear();
        if (!rows) {
            problem = "the list never held still";
            continue;
        }
        std::map<DWORD, std::string> shown;
        for (const auto& row : *rows) {
            const DWORD pid = static_cast<DWORD>(std::strtoul(row[1].c_str(), nullptr, 10));
            if (shown.count(pid)) problem += "PID " + row[1] + " listed twice; ";
            shown[pid] = row[0];
            const auto b = before.find(pid), a = after.find(pid);
            const bool known = (b != before.end() && b->second == row[0]) || (a != after.end() && a->second == row[0]);
            if (!known) problem += "row " + row[0] + " " + row[1] + " is in neither snapshot; ";
            if (!Listed(row[0])) problem += "row " + row[0] + " should be hidden; ";
        }
        for (const auto& [pid, name] : before) {
            const auto a = after.find(pid);
            if (a == after.end() || a->second != name || !Listed(name)) continue;
            const auto s = shown.find(pid);
            if (s == shown.end() || s->second != name) problem += name + " " + std::to_string(pid) + " is missing; ";
        }
        if (problem.empty()) break;
    }
    EXPECT_EQ(problem, "");
}

TEST_F(PelorinE2e, EveryCpuAndMemCellIsAWellFormedFigure) {
    PelorinProcess pelorin;
    ASSERT_TRUE(pelorin.Start());
    const HWND form = pelorin.WaitForWindow();
    ASSERT_NE(form, nullptr);
    RemoteListView list(ProcessList(form));
    ::Sleep(2500);  // "CPU" from the second refresh on is a measured figure
    const auto rows = list.StableRows(7);
    ASSERT_TRUE(rows.has_value());
    ASSERT_FALSE(rows->empty());
    // Whole part, then up to two decimals with no trailing zero; sizes may carry a unit.
    const std::regex percent(R"((0|[1-9][0-9]*)(\.[0-9]?[1-9])?)");
    const std::regex size(R"((0|[1-9][0-9]*)(\.[0-9]?[1-9])?[KMGT]?)");
    for (const auto& row : *rows) {
        EXPECT_TRUE(std::regex_match(row[3], percent)) << row[0] << " CPU \"" << row[3] << '"';
        EXPECT_LE(std::strtod(row[3].c_str(), nullptr), 102.0) << row[0];
        EXPECT_TRUE(std::regex_match(row[2], size)) << row[0] << " Mem \"" << row[2] << '"';
        EXPECT_EQ(row[5], "--") << row[0];  // "More Info" is clear
        EXPECT_EQ(row[6], "--") << row[0];
    }
}

// A figure as the list shows it ("64.5M") in bytes.
double BytesOf(const std::string& text) {
    char* end = nullptr;
    double value = std::strtod(text.c_str(), &end);
    for (const char unit : std::string("KMGT")) {
        value *= 1024.0;
        if (*end == unit) return value;
    }
    return std::strtod(text.c_str(), nullptr);
}

bool SamePath(const std::string& a, const std::string& b) {
    return a.size() == b.size() && ::CompareStringA(LOCALE_INVARIANT, NORM_IGNORECASE, a.c_str(), -1, b.c_str(), -1) ==
                                       CSTR_EQUAL;
}

TEST_F(PelorinE2e, AChildThatTouches64MiBShowsAtLeast64MAndItsImagePath) {
    fixtures::ChildProcess child;
    ASSERT_TRUE(child.Start("--touch-mib 64"));
    char path[MAX_PATH] = {};
    ASSERT_GT(::GetModuleFileNameExA(child.Handle(), nullptr, path, MAX_PATH), 0u);

    PelorinProcess pelorin;
    ASSERT_TRUE(pelorin.Start());
    const HWND form = pelorin.WaitForWindow();
    ASSERT_NE(form, nullptr);
    RemoteListView list(ProcessList(form));
    const std::string pid = std::to_string(child.Pid());
    std::optional<RemoteListView::Row> found;
    const DWORD start = ::GetTickCount();
    while (!found && ::GetTickCount() - start < 15000) {
        if (const auto rows = list.StableRows(7)) {
            for (const auto& row : *rows) {
                if (row[1] == pid) found = row;
            }
        }
        if (!found) ::Sleep(200);
    }
    ASSERT_TRUE(found.has_value()) << "no row for the child " << pid;
    EXPECT_EQ((*found)[0], "pelorin_child.exe");
    EXPECT_GE(BytesOf((*found)[2]), 64.0 * 1024 * 1024) << (*found)[2];
    EXPECT_TRUE((*found)[2].back() == 'M' || (*found)[2].back() == 'G') << (*found)[2];
    EXPECT_TRUE(SamePath((*found)[4], path)) << (*found)[4] << " vs " << path;
    EXPECT_TRUE(SamePath((*found)[4], fixtures::FixturePath("pelorin_child.exe"))) << (*found)[4];
}

std::optional<DWORD> RegisteredHandle() {
    HKEY key = nullptr;
    if (::RegOpenKeyExA(HKEY_CURRENT_USER, "SOFTWARE\\marrowby\\pelorin", 0, KEY_READ, &key) != ERROR_SUCCESS)
        return std::nullopt;
    DWORD value = 0, size = sizeof value, type = 0;
    const LONG r = ::RegQueryValueExA(key, "pelorinno", nullptr, &type, reinterpret_cast<BYTE*>(&value), &size);
    ::RegCloseKey(key);
    if (r != ERROR_SUCCESS) return std::nullopt;
    return value;
}

TEST_F(PelorinE2e, ASecondStartEndsWithCodeZeroAndLeavesTheFirstWindowAlone) {
    PelorinProcess first;
    ASSERT_TRUE(first.Start());
    const HWND window = first.WaitForWindow();
    ASSERT_NE(window, nullptr);
    const auto registered = RegisteredHandle();

    PelorinProcess second;
    ASSERT_TRUE(second.Start());
    // It must end without ever showing a window of its own.
    bool secondShowedAWindow = false;
    const DWORD started = ::GetTickCount();
    while (second.Running() && ::GetTickCount() - started < 15000) {
        for (HWND w : TopLevelWindowsTitled("Pelorin")) {
            DWORD owner = 0;
            ::GetWindowThreadProcessId(w, &owner);
            if (owner == second.Pid() && ::IsWindowVisible(w)) secondShowedAWindow = true;
        }
        ::Sleep(5);
    }
    const auto code = second.WaitExitCode(15000);
    ASSERT_TRUE(code.has_value()) << "the second instance still runs";
    EXPECT_EQ(*code, 0u);
    EXPECT_FALSE(secondShowedAWindow);
    EXPECT_EQ(RegisteredHandle(), registered);  // the second start wrote nothing

    EXPECT_TRUE(first.Running());
    const auto windows = TopLevelWindowsTitled("Pelorin");
    ASSERT_EQ(windows.size(), 1u);
    EXPECT_EQ(windows[0], window);
}

TEST_F(PelorinE2e, ATestingLogFileShowsTheStatusPanelAndFillsTheStatusLine) {
    PelorinProcess pelorin(Marker::File);
    ASSERT_TRUE(pelorin.Start());
    const HWND form = pelorin.WaitForWindow();
    ASSERT_NE(form, nullptr);
    {
        const PelorinControls c{DescendantsOf(form)};
        const WindowInfo* top = InfoOf(c, TopPanel(c));
        ASSERT_NE(top, nullptr);
        EXPECT_EQ(top->bounds.bottom - top->bounds.top, 57);
        EXPECT_TRUE(c.Find("Button", "Test")->visible);
    }
    std::string status, counts;
    EXPECT_TRUE(LabelMatches(form, 8, 24, std::regex(R"(Mem: \d{1,3}%  CPU: \d{2,3}%)"), status, 10000)) << status;
    EXPECT_TRUE(LabelMatches(form, 6, 40, std::regex(R"(Counts: [1-9]\d*)"), counts, 10000)) << counts;

    // A picture of the window in test mode for the README.
    const std::string folder = BuildDirectory() + "screenshots";
    ::CreateDirectoryA(folder.c_str(), nullptr);
    ::SetForegroundWindow(form);
    ::RedrawWindow(form, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
    ::Sleep(300);
    EXPECT_TRUE(SaveWindowPng(form, folder + "\\pelorin-testmode.png"));
}

TEST_F(PelorinE2e, AFolderNamedTestingLogLeavesTestModeOff) {
    PelorinProcess pelorin(Marker::Folder);
    ASSERT_TRUE(pelorin.Start());
    const HWND form = pelorin.WaitForWindow();
    ASSERT_NE(form, nullptr);
    const PelorinControls c{DescendantsOf(form)};
    const WindowInfo* top = InfoOf(c, TopPanel(c));
    ASSERT_NE(top, nullptr);
    EXPECT_EQ(top->bounds.bottom - top->bounds.top, 1);
    const WindowInfo* test = c.Find("Button", "Test");
    ASSERT_NE(test, nullptr);
    EXPECT_FALSE(test->visible);
    const auto lists = c.OfClass(WC_LISTVIEWA, form);
    ASSERT_EQ(lists.size(), 1u);
    EXPECT_TRUE(SameBox(lists[0]->bounds, 0, 1, 509, 156)) << BoxText(lists[0]->bounds);
}

TEST_F(PelorinE2e, WmCloseFromAnotherProgramEndsThePelorinWithCodeZeroWithinTwoSeconds) {
    PelorinProcess pelorin;
    ASSERT_TRUE(pelorin.Start());
    const HWND form = pelorin.WaitForWindow();
    ASSERT_NE(form, nullptr);
    ::Sleep(1500);  // both workers are in their loops
    ASSERT_TRUE(::PostMessageA(form, WM_CLOSE, 0, 0));
    const auto code = pelorin.WaitExitCode(2000);
    ASSERT_TRUE(code.has_value()) << "still running 2 s after WM_CLOSE";
    EXPECT_EQ(*code, 0u);
}

TEST_F(PelorinE2e, SessionEndEndsPelorinWithCodeZeroWithinTwoSeconds) {
    PelorinProcess pelorin;
    ASSERT_TRUE(pelorin.Start());
    const HWND form = pelorin.WaitForWindow();
    ASSERT_NE(form, nullptr);
    ::Sleep(1500);
    DWORD_PTR answer = 0;
    ASSERT_TRUE(::SendMessageTimeoutA(form, WM_QUERYENDSESSION, 0, 0, SMTO_ABORTIFHUNG, 5000, &answer));
    EXPECT_EQ(answer, static_cast<DWORD_PTR>(TRUE));
    const DWORD start = ::GetTickCount();
    ASSERT_TRUE(::SendMessageTimeoutA(form, WM_ENDSESSION, TRUE, 0, SMTO_ABORTIFHUNG, 5000, &answer));
    const DWORD spent = ::GetTickCount() - start;
    const auto code = pelorin.WaitExitCode(spent < 2000 ? 2000 - spent : 0);
    ASSERT_TRUE(code.has_value()) << "still running 2 s after the session ended";
    EXPECT_EQ(*code, 0u);
}

}  // namespace
}  // namespace pelorin::e2e
