// End to end: what the user does with the real Pelorin.exe, driven from
// outside with posted input: a click on a child's row, "Kill Task" through
// the popup menu and its failure message, the menu key, "On Top", "More
// Info", the settings across two runs, the close label, and a second
// instance that leaves the registry alone.
#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "e2e/PelorinDriver.h"
#include "fixtures/ChildProcess.h"
#include "support/VersionInfo.h"

namespace pelorin::e2e {
namespace {

using Marker = PelorinProcess::TestModeMarker;

class PelorinActions : public ::testing::Test {
protected:
    RegistryKeyGuard registry;  // each case leaves the registry as it found it
};

// Pelorin's window and the controls the user works with, found by class,
// caption and parent.
struct Window {
    HWND form = nullptr;
    HWND processes = nullptr;  // the list view on the form
    HWND modules = nullptr;    // the list view on the bottom panel
    HWND closeLabel = nullptr;
    HWND stat = nullptr;  // lblStat: the label at (130, 40) of the top panel
    HWND noRefresh = nullptr, onTop = nullptr, moreInfo = nullptr, showKnown = nullptr;
};

Window ControlsOf(HWND form) {
    Window w;
    w.form = form;
    const std::vector<WindowInfo> all = DescendantsOf(form);
    HWND top = nullptr;
    for (const WindowInfo& c : all) {
        if (c.className == "PelorinStatic" && c.text == " X") {
            w.closeLabel = c.window;
            top = c.parent;
        }
    }
    for (const WindowInfo& c : all) {
        if (c.className == WC_LISTVIEWA) (c.parent == form ? w.processes : w.modules) = c.window;
        if (c.className == "PelorinStatic" && c.parent == top && c.bounds.left == 130 && c.bounds.top == 40)
            w.stat = c.window;
        if (c.className != "Button") continue;
        if (c.text == "No Refresh") w.noRefresh = c.window;
        if (c.text == "On Top") w.onTop = c.window;
        if (c.text == "More Info") w.moreInfo = c.window;
        if (c.text == "Show Known Processes") w.showKnown = c.window;
    }
    return w;
}

bool Complete(const Window& w) {
    return w.processes && w.modules && w.closeLabel && w.stat && w.noRefresh && w.onTop && w.moreInfo && w.showKnown;
}

// Polls until pred() holds; answers it.
template <typename Pred>
bool WaitUntil(Pred pred, DWORD timeoutMs) {
    const DWORD start = ::GetTickCount();
    for (;;) {
        if (pred()) return true;
        if (::GetTickCount() - start >= timeoutMs) return false;
        ::Sleep(20);
    }
}

// The row of pid once the refresh lists it, else -1.
int WaitForRow(const RemoteListView& list, DWORD pid, DWORD timeoutMs = 10000) {
    int row = -1;
    WaitUntil([&] { return (row = list.RowOf(1, std::to_string(pid))) >= 0; }, timeoutMs);
    return row;
}

POINT Centre(const RECT& r) { return {(r.left + r.right) / 2, (r.top + r.bottom) / 2}; }

std::string Title(const Window& w) { return WindowText(w.form); }

std::string SelectionTitle(DWORD pid, const std::string& name) {
    return "Pelorin - Selected PID: " + std::to_string(pid) + " [" + name + "]";
}

bool Topmost(HWND window) { return (::GetWindowLongA(window, GWL_EXSTYLE) & WS_EX_TOPMOST) != 0; }

// A started Pelorin with "No Refresh" ticked once its list holds the
// children: from then on only Pelorin's own actions change the list.
class FrozenPelorin {
public:
    explicit FrozenPelorin(Marker marker = Marker::None) : process(marker) {}

    ::testing::AssertionResult Start(const std::vector<DWORD>& listedPids) {
        if (!process.Start()) return ::testing::AssertionFailure() << "Pelorin did not start";
        const HWND form = process.WaitForWindow();
        if (form == nullptr) return ::testing::AssertionFailure() << "no window";
        w = ControlsOf(form);
        if (!Complete(w)) return ::testing::AssertionFailure() << "controls missing";
        list = std::make_unique<RemoteListView>(w.processes);
        for (DWORD pid : listedPids) {
            if (WaitForRow(*list, pid) < 0) return ::testing::AssertionFailure() << "no row for " << pid;
        }
        if (!ClickButton(w.noRefresh) || !IsChecked(w.noRefresh)) return ::testing::AssertionFailure() << "no tick";
        ::Sleep(1500);  // a refresh under way when the box was ticked has ended
        return ::testing::AssertionSuccess();
    }

    PelorinProcess process;
    Window w;
    std::unique_ptr<RemoteListView> list;
};

std::string FixtureDll() { return fixtures::FixturePath("pelorin_fixture_known.dll"); }

TEST_F(PelorinActions, AClickOnAChildsRowShowsItInTheTitleAndListsItsModules) {
    fixtures::ChildProcess child;
    ASSERT_TRUE(child.Start("--load \"" + FixtureDll() + "\""));
    FrozenPelorin pelorin;
    ASSERT_TRUE(pelorin.Start({child.Pid()}));
    const Window& w = pelorin.w;
    const int row = pelorin.list->RowOf(1, std::to_string(child.Pid()));
    ASSERT_GE(row, 0);
    const auto rect = pelorin.list->ItemRect(row);
    ASSERT_TRUE(rect.has_value());

    PostClick(w.processes, Centre(*rect));
    const std::string expected = SelectionTitle(child.Pid(), "pelorin_child.exe");
    EXPECT_TRUE(WaitUntil([&] { return Title(w) == expected; }, 5000)) << Title(w);
    EXPECT_EQ(pelorin.list->SelectedRow(), row);

    RemoteListView modules(w.modules);
    ASSERT_TRUE(modules.Valid());
    const auto rows = modules.Rows(4);
    ASSERT_FALSE(rows.empty());
    EXPECT_EQ(rows[0][0], "pelorin_child.exe");
    const auto fixture = std::find_if(rows.begin(), rows.end(), [](const RemoteListView::Row& r) {
        return lstrcmpiA(r[0].c_str(), "pelorin_fixture_known.dll") == 0;
    });
    ASSERT_NE(fixture, rows.end());
    EXPECT_EQ(lstrcmpiA((*fixture)[1].c_str(), FixtureDll().c_str()), 0) << (*fixture)[1];
    EXPECT_EQ((*fixture)[2], "Pelorin Fixture Module");
    EXPECT_EQ((*fixture)[3], "Marrowby Test Works");
    const auto header0 = modules.ColumnAt(0), header1 = modules.ColumnAt(1);
    ASSERT_TRUE(header0 && header1);
    EXPECT_EQ(header0->title, "Modules Count: " + std::to_string(rows.size()));
    EXPECT_EQ(header1->title, "Processes used by [pelorin_child.exe]");

    // The arrow keys move the highlight, not the selection.
    const int count = pelorin.list->RowCount();
    ::PostMessageA(w.processes, WM_KEYDOWN, row + 1 < count ? VK_DOWN : VK_UP, 0);
    ::PostMessageA(w.processes, WM_KEYUP, row + 1 < count ? VK_DOWN : VK_UP, 0xC0000001);
    if (count > 1) {
        EXPECT_TRUE(WaitUntil([&] { return pelorin.list->SelectedRow() != row; }, 3000));
    }
    ::Sleep(200);
    EXPECT_EQ(Title(w), expected);
    EXPECT_EQ(modules.ColumnAt(1)->title, "Processes used by [pelorin_child.exe]");
}

TEST_F(PelorinActions, KillTaskEndsTheChildAndItsRowIsGoneAtOnceThenASecondKillShowsTheFailure) {
    fixtures::ChildProcess victim;
    ASSERT_TRUE(victim.Start());
    FrozenPelorin pelorin;
    ASSERT_TRUE(pelorin.Start({victim.Pid()}));
    const Window& w = pelorin.w;
    const auto rect = pelorin.list->ItemRect(pelorin.list->RowOf(1, std::to_string(victim.Pid())));
    ASSERT_TRUE(rect.has_value());

    PostClick(w.processes, Centre(*rect), true);
    ASSERT_NE(WaitForWindowOfClass(pelorin.process.Pid(), "#32768"), nullptr) << "no popup menu";
    EXPECT_EQ(Title(w), SelectionTitle(victim.Pid(), "pelorin_child.exe"));  // the right click selected it
    ChooseKillTask(w.form);
    const auto code = victim.WaitExitCode(5000);
    ASSERT_TRUE(code.has_value()) << "the child still runs";
    EXPECT_EQ(*code, 0u);
    // Read at once: with "No Refresh" ticked only the kill's own refresh can
    // have taken the row away.
    EXPECT_EQ(pelorin.list->RowOf(1, std::to_string(victim.Pid())), -1);
    EXPECT_GT(pelorin.list->RowCount(), 0);

    // A process started now would show after any refresh.
    fixtures::ChildProcess later;
    ASSERT_TRUE(later.Start());
    PressMenuKey(w.form);
    ASSERT_NE(WaitForWindowOfClass(pelorin.process.Pid(), "#32768"), nullptr) << "no popup menu";
    ChooseKillTask(w.form);
    const HWND box = WaitForWindowOfClass(pelorin.process.Pid(), "#32770");
    ASSERT_NE(box, nullptr) << "no message box";
    const MessageBoxInfo info = ReadMessageBox(box);
    EXPECT_EQ(info.text, "Failed to kill task: \"pelorin_child.exe\" PID: " + std::to_string(victim.Pid()));
    EXPECT_EQ(info.title, "Pelorin");
    EXPECT_EQ(info.owner, w.form);
    EXPECT_EQ(info.buttons, std::vector<std::string>{"OK"});
    EXPECT_FALSE(info.hasIcon);
    EXPECT_EQ(pelorin.list->RowOf(1, std::to_string(later.Pid())), -1);  // no refresh after the failure
    ::PostMessageA(box, WM_COMMAND, IDOK, 0);
    EXPECT_TRUE(WaitUntil([&] { return !::IsWindow(box); }, 5000));
    EXPECT_TRUE(later.Running());
    EXPECT_TRUE(pelorin.process.Running());
}

TEST_F(PelorinActions, TheMenuKeyOpensThePopupWithoutChangingTheSelection) {
    fixtures::ChildProcess clicked, other;
    ASSERT_TRUE(clicked.Start());
    ASSERT_TRUE(other.Start());
    FrozenPelorin pelorin;
    ASSERT_TRUE(pelorin.Start({clicked.Pid(), other.Pid()}));
    const Window& w = pelorin.w;
    const int row = pelorin.list->RowOf(1, std::to_string(clicked.Pid()));
    const int otherRow = pelorin.list->RowOf(1, std::to_string(other.Pid()));
    const auto rect = pelorin.list->ItemRect(row);
    ASSERT_TRUE(rect.has_value());
    PostClick(w.processes, Centre(*rect));
    const std::string title = SelectionTitle(clicked.Pid(), "pelorin_child.exe");
    ASSERT_TRUE(WaitUntil([&] { return Title(w) == title; }, 5000)) << Title(w);

    // The highlight goes to the other child; the selection stays.
    const UINT key = otherRow > row ? VK_DOWN : VK_UP;
    for (int i = 0; i < std::abs(otherRow - row); ++i) ::PostMessageA(w.processes, WM_KEYDOWN, key, 0);
    ASSERT_TRUE(WaitUntil([&] { return pelorin.list->SelectedRow() == otherRow; }, 3000));
    PressMenuKey(w.form);
    ASSERT_NE(WaitForWindowOfClass(pelorin.process.Pid(), "#32768"), nullptr) << "no popup menu";
    EXPECT_EQ(Title(w), title);
    EXPECT_EQ(pelorin.list->SelectedRow(), otherRow);

    ChooseKillTask(w.form);
    const auto code = clicked.WaitExitCode(5000);
    ASSERT_TRUE(code.has_value()) << "the clicked child still runs";
    EXPECT_EQ(*code, 0u);
    EXPECT_TRUE(other.Running());
}

TEST_F(PelorinActions, OnTopSetsAndClearsTheTopmostStyle) {
    PelorinProcess pelorin;
    ASSERT_TRUE(pelorin.Start());
    const HWND form = pelorin.WaitForWindow();
    ASSERT_NE(form, nullptr);
    const Window w = ControlsOf(form);
    ASSERT_TRUE(Complete(w));
    RECT before = {}, after = {};
    ::GetWindowRect(form, &before);
    ASSERT_FALSE(Topmost(form));
    ASSERT_TRUE(ClickButton(w.onTop));
    EXPECT_TRUE(IsChecked(w.onTop));
    EXPECT_TRUE(WaitUntil([&] { return Topmost(form); }, 2000));
    ASSERT_TRUE(ClickButton(w.onTop));
    EXPECT_FALSE(IsChecked(w.onTop));
    EXPECT_TRUE(WaitUntil([&] { return !Topmost(form); }, 2000));
    ::GetWindowRect(form, &after);
    EXPECT_TRUE(::EqualRect(&before, &after));
}

TEST_F(PelorinActions, MoreInfoFillsDescriptionAndCompanyAndTogglesTheStatusLabel) {
    PelorinProcess pelorin(Marker::File);
    ASSERT_TRUE(pelorin.Start());
    const HWND form = pelorin.WaitForWindow();
    ASSERT_NE(form, nullptr);
    const Window w = ControlsOf(form);
    ASSERT_TRUE(Complete(w));
    RemoteListView list(w.processes);
    EXPECT_EQ(WindowText(w.stat), "lblStat");

    // Pelorin lists itself among the known processes; its own version
    // resource gives the cells to expect.
    ASSERT_TRUE(ClickButton(w.showKnown));
    ASSERT_TRUE(ClickButton(w.moreInfo));
    EXPECT_EQ(WindowText(w.stat), "Small Memory Leak! (todo list) ");
    const std::string self = std::to_string(pelorin.Pid());
    std::optional<std::vector<RemoteListView::Row>> rows;
    const bool filled = WaitUntil(
        [&] {
            rows = list.StableRows(7, 3000);
            if (!rows) return false;
            for (const auto& row : *rows) {
                if (row[5] == "--" || row[6] == "--") return false;
            }
            return std::any_of(rows->begin(), rows->end(), [&](const auto& row) { return row[1] == self; });
        },
        10000);
    ASSERT_TRUE(filled) << "rows still without version strings";
    const auto own = std::find_if(rows->begin(), rows->end(), [&](const auto& row) { return row[1] == self; });
    EXPECT_EQ((*own)[5], ReadVersionString(pelorin.ExePath(), "FileDescription"));
    EXPECT_EQ((*own)[6], ReadVersionString(pelorin.ExePath(), "CompanyName"));
    EXPECT_FALSE((*own)[5].empty());

    ASSERT_TRUE(ClickButton(w.moreInfo));
    EXPECT_EQ(WindowText(w.stat), "---");
    EXPECT_TRUE(WaitUntil(
        [&] {
            const auto again = list.StableRows(7, 3000);
            return again && std::all_of(again->begin(), again->end(), [](const auto& row) { return row[5] == "--"; });
        },
        10000));
}

TEST_F(PelorinActions, PlacementAndOnTopComeBackAtTheNextStartAndTheHandleIsRewritten) {
    DeleteCompanyKey();  // a first run
    int32_t firstHandle = 0;
    {
        PelorinProcess first;
        ASSERT_TRUE(first.Start());
        const HWND form = first.WaitForWindow();
        ASSERT_NE(form, nullptr);
        firstHandle = static_cast<int32_t>(reinterpret_cast<std::uintptr_t>(form));
        EXPECT_EQ(PelorinValue("pelorinno"), firstHandle);
        EXPECT_FALSE(PelorinValue("frmleft").has_value());
        const Window w = ControlsOf(form);
        ASSERT_TRUE(Complete(w));
        ASSERT_TRUE(::SetWindowPos(form, nullptr, 150, 120, 560, 400, SWP_NOZORDER | SWP_NOACTIVATE));
        ASSERT_TRUE(ClickButton(w.onTop));

        // The close label: the window closes and the settings are written.
        PostClick(w.closeLabel, {5, 5});
        const auto code = first.WaitExitCode(5000);
        ASSERT_TRUE(code.has_value()) << "still running after the close label";
        EXPECT_EQ(*code, 0u);
    }
    EXPECT_EQ(PelorinValue("frmleft"), 150);
    EXPECT_EQ(PelorinValue("frmtop"), 120);
    EXPECT_EQ(PelorinValue("frmWidth"), 560);
    EXPECT_EQ(PelorinValue("frmHeight"), 400);
    EXPECT_EQ(PelorinValue("StayOnTop"), 1);

    PelorinProcess second;
    ASSERT_TRUE(second.Start());
    const HWND form = second.WaitForWindow();
    ASSERT_NE(form, nullptr);
    RECT r = {};
    ::GetWindowRect(form, &r);
    EXPECT_EQ(r.left, 150);
    EXPECT_EQ(r.top, 120);
    EXPECT_EQ(r.right - r.left, 560);
    EXPECT_EQ(r.bottom - r.top, 400);
    const Window w = ControlsOf(form);
    ASSERT_TRUE(Complete(w));
    EXPECT_TRUE(IsChecked(w.onTop));
    EXPECT_TRUE(Topmost(form));
    EXPECT_EQ(PelorinValue("pelorinno"), static_cast<int32_t>(reinterpret_cast<std::uintptr_t>(form)));
    ::PostMessageA(form, WM_CLOSE, 0, 0);
    EXPECT_TRUE(second.WaitExitCode(5000).has_value());
}

TEST_F(PelorinActions, ASecondInstanceLeavesTheRegistryKeyUntouched) {
    PelorinProcess first;
    ASSERT_TRUE(first.Start());
    ASSERT_NE(first.WaitForWindow(), nullptr);
    const auto before = ReadPelorinKey();
    ASSERT_TRUE(before.has_value());
    ASSERT_TRUE(before->values.count("pelorinno"));

    PelorinProcess second;
    ASSERT_TRUE(second.Start());
    const auto code = second.WaitExitCode(15000);
    ASSERT_TRUE(code.has_value());
    EXPECT_EQ(*code, 0u);
    const auto after = ReadPelorinKey();
    ASSERT_TRUE(after.has_value());
    EXPECT_EQ(after->values, before->values);
    EXPECT_EQ(::CompareFileTime(&after->lastWrite, &before->lastWrite), 0);
    EXPECT_TRUE(first.Running());
}

}  // namespace
}  // namespace pelorin::e2e
