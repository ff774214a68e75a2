// The main window in the test process: what it is made of, its small
// behaviours, the click on a process and the kill of the clicked one.
#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "common/MainWindow.h"
#include "controls/Button.h"
#include "controls/ListView.h"
#include "support/SystemInfo.h"
#include "ui/KillCommand.h"
#include "ui/Selection.h"
#include "ui/WindowBehaviour.h"

namespace pelorin {
namespace {

using test::MainWindow;

// "title/format/width" of every column.
std::vector<std::string> ColumnsOf(Control* list) {
    std::vector<std::string> columns;
    char text[64] = {};
    LVCOLUMNA c = {};
    c.mask = LVCF_TEXT | LVCF_FMT | LVCF_WIDTH;
    c.pszText = text;
    c.cchTextMax = sizeof text;
    while (::SendMessageA(Handle(list), LVM_GETCOLUMNA, columns.size(), reinterpret_cast<LPARAM>(&c)))
        columns.push_back(std::string(text) + "/" + std::to_string(c.fmt & LVCFMT_JUSTIFYMASK) + "/" + std::to_string(c.cx));
    return columns;
}

RECT Bounds(Control* c) {
    RECT r = {};
    ::GetWindowRect(Handle(c), &r);
    ::MapWindowPoints(nullptr, ::GetParent(Handle(c)), reinterpret_cast<POINT*>(&r), 2);
    return r;
}

TEST(MainWindow, IsMadeOfItsControlsColumnsAndLayout) {
    MainWindow w;
    MainForm& f = w.form;
    // Alignments: 0 left, 2 centred.
    EXPECT_EQ(ColumnsOf(f.lvProcesses), (std::vector<std::string>{"Process Name/0/110", "PID/2/40", "Mem/2/60", "CPU/2/35",
                                                                  "Image Path/0/280", "Description/2/100", "Company/2/100"}));
    EXPECT_EQ(ColumnsOf(f.lvModules), (std::vector<std::string>{"Modules Count: 0/2/130", "Processes used by/0/300",
                                                                "Description/0/100", "Company/2/100"}));
    for (auto [box, caption] : {std::pair{f.chkShowKnown, "Show Known Processes"}, {f.chkMoreInfo, "More Info"},
                                {f.chkOnTop, "On Top"}, {f.chkNoRefresh, "No Refresh"}})
        EXPECT_EQ(Caption(box), caption);
    // Outside test mode the status panel is a line and the Test button is hidden.
    EXPECT_EQ(Bounds(f.pnlTop).bottom - Bounds(f.pnlTop).top, 1);
    EXPECT_FALSE(::IsWindowVisible(Handle(f.btnTest)));
    RECT client;
    ::GetClientRect(w.Window(), &client);
    EXPECT_EQ(Bounds(f.pnlBottom).bottom, client.bottom);
    EXPECT_EQ(Bounds(f.pnlBottom).top, client.bottom - 180);
    EXPECT_EQ(Bounds(f.splBottom).bottom, Bounds(f.pnlBottom).top);
    EXPECT_EQ(Bounds(f.lvProcesses).top, 1);
    EXPECT_EQ(Bounds(f.lvProcesses).bottom, Bounds(f.splBottom).top);

    // Resizing: the close label keeps its distance to the right edge, the
    // module list grows with the bottom panel, the boxes stay.
    const RECT close = Bounds(f.lblClose), modules = Bounds(f.lvModules), box = Bounds(f.chkOnTop);
    SetWidth(f.Form, Width(f.Form) + 100);
    SetHeight(f.Form, Height(f.Form) + 50);
    EXPECT_EQ(Bounds(f.lblClose).left, close.left + 100);
    EXPECT_EQ(Bounds(f.lvModules).right, modules.right + 100);
    EXPECT_EQ(Bounds(f.lvModules).bottom, modules.bottom);  // the panel grew, its list with it
    EXPECT_EQ(Bounds(f.lvModules).bottom - Bounds(f.lvModules).top, modules.bottom - modules.top);
    EXPECT_EQ(Bounds(f.chkOnTop).left, box.left);
}

TEST(MainWindow, TheBoxesAndThePanelBehave) {
    MainWindow w;
    MainForm& f = w.form;
    const auto click = [](Control* c) { ::SendMessageA(Handle(c), BM_CLICK, 0, 0); };
    click(f.chkMoreInfo);
    EXPECT_EQ(Caption(f.lblStat), MoreInfoOnText);
    EXPECT_EQ(Font(f.lblStat)->color, MoreInfoOnColor);
    click(f.chkMoreInfo);
    EXPECT_EQ(Caption(f.lblStat), MoreInfoOffText);
    EXPECT_EQ(Font(f.lblStat)->color, MoreInfoOffColor);
    const auto topmost = [&] { return (::GetWindowLongA(w.Window(), GWL_EXSTYLE) & WS_EX_TOPMOST) != 0; };
    click(f.chkOnTop);
    EXPECT_TRUE(topmost());
    click(f.chkOnTop);
    EXPECT_FALSE(topmost());
    // Only the left button drags the window.
    MSG message;
    ::SendMessageA(Handle(f.pnlTop), WM_RBUTTONDOWN, MK_RBUTTON, 0);
    EXPECT_FALSE(::PeekMessageA(&message, w.Window(), WM_SYSCOMMAND, WM_SYSCOMMAND, PM_REMOVE));
    ::SendMessageA(Handle(f.pnlTop), WM_LBUTTONDOWN, MK_LBUTTON, 0);
    ASSERT_TRUE(::PeekMessageA(&message, w.Window(), WM_SYSCOMMAND, WM_SYSCOMMAND, PM_REMOVE));
    EXPECT_EQ(message.wParam, 0xF012u);
    click(f.btnTest);
    EXPECT_EQ(Caption(f.Form), "Processes used by");
}

TEST(SystemImagePath, NamesNoRealFile) {
    for (auto [path, system] : {std::pair{"[SYSTEM]", true}, {"[system idle process]", true}, {"\\??\\C:\\x.exe", true},
                                {"\\SystemRoot\\x.exe", true}, {"-", false}, {"[system process]", false}, {"", false},
                                {"C:\\x.exe", false}})
        EXPECT_EQ(IsSystemImagePath(path), system) << path;
}

class Clicks : public ::testing::Test {
protected:
    void Refresh() { RefreshProcessList(w.form.refresh); }
    std::int32_t RowOf(DWORD pid) {
        const auto pids = test::ColumnOf(list, 1);
        const auto at = std::find(pids.begin(), pids.end(), std::to_string(pid));
        return at == pids.end() ? -1 : static_cast<std::int32_t>(at - pids.begin());
    }
    // A click as the mouse makes it (in the "Mem" column), on a row or (row -1) below the last one.
    void Click(std::int32_t row) {
        RECT r = {};
        r.left = LVIR_BOUNDS;
        ::SendMessageA(Handle(list), LVM_GETITEMRECT, static_cast<WPARAM>(row < 0 ? ItemCount(list) - 1 : row),
                       reinterpret_cast<LPARAM>(&r));
        const LPARAM at = MAKELPARAM(170, row < 0 ? r.bottom + 5 : (r.top + r.bottom) / 2);
        SetCaption(w.form.Form, "clicking");
        ::PostMessageA(Handle(list), WM_LBUTTONDOWN, MK_LBUTTON, at);
        ::PostMessageA(Handle(list), WM_LBUTTONUP, 0, at);
        ASSERT_TRUE(test::WaitUntil([&] { return Caption(w.form.Form) != "clicking"; }));
    }
    std::vector<std::string> ModuleNames() { return test::ColumnOf(w.form.lvModules, 0); }
    // Reads and closes the kill's failure message when it opens.
    std::thread CatchMessage(std::string& text) {
        return std::thread([&text] {
            for (int i = 0; i < 500 && text.empty(); ++i, ::Sleep(10)) {
                HWND box = ::FindWindowA("#32770", "Pelorin");
                char buffer[256] = {};
                if (box && ::GetDlgItemTextA(box, 0xFFFF, buffer, sizeof buffer) > 0) {
                    text = buffer;
                    ::PostMessageA(box, WM_COMMAND, IDOK, 0);
                }
            }
        });
    }

    MainWindow w;
    Control* list = w.form.lvProcesses;
};

TEST_F(Clicks, AClickShowsTheProcessInTheTitleAndListsItsModules) {
    test::Child child;
    ASSERT_TRUE(child.Start("--load pelorin_fixture_known.dll"));
    Refresh();
    Click(RowOf(child.Pid()));
    EXPECT_EQ(Caption(w.form.Form), "Pelorin - Selected PID: " + std::to_string(child.Pid()) + " [pelorin_child.exe]");
    EXPECT_EQ(GetItemText(list, CurrentIndex(list), 1), std::to_string(child.Pid()));
    Control* modules = w.form.lvModules;
    EXPECT_EQ(GetColumnText(modules, 1), "Processes used by [pelorin_child.exe]");
    EXPECT_EQ(GetColumnText(modules, 0), "Modules Count: " + std::to_string(ItemCount(modules)));
    const std::vector<std::string> names = ModuleNames();
    const auto fixture = std::find(names.begin(), names.end(), "pelorin_fixture_known.dll");
    ASSERT_NE(fixture, names.end());
    const auto row = static_cast<std::int32_t>(fixture - names.begin());
    EXPECT_EQ(GetItemText(modules, row, 2), "Pelorin Fixture Module");
    EXPECT_EQ(GetItemText(modules, row, 3), "Marrowby Test Works");

    // Below the rows: no process; the list shows this program's own modules.
    Click(-1);
    EXPECT_EQ(Caption(w.form.Form), "Pelorin - Selected PID: 0 []");
    EXPECT_EQ(GetColumnText(modules, 1), "Processes used by []");
    EXPECT_EQ(ModuleNames().at(0), "ui_tests.exe");
}

// The creation time "Kill Task" checks is the one the refresh read for the
// row: a row whose process has since given its PID to another is not ended.
TEST_F(Clicks, KillTaskEndsOnlyTheProcessTheRowShows) {
    test::Child child;
    ASSERT_TRUE(child.Start());
    Refresh();
    const std::int32_t row = RowOf(child.Pid());
    SetItemData(list, row, list->listRows[static_cast<std::size_t>(row)].data - 1);  // an earlier process
    Click(row);
    std::string message;
    std::thread catcher = CatchMessage(message);
    KillTaskClick(w.form, nullptr);
    catcher.join();
    EXPECT_EQ(message, "Failed to kill task: \"pelorin_child.exe\" PID: " + std::to_string(child.Pid()));
    EXPECT_TRUE(child.Running());

    Refresh();
    Click(RowOf(child.Pid()));
    KillTaskClick(w.form, nullptr);
    EXPECT_EQ(child.ExitCode(), 0u);
    EXPECT_EQ(RowOf(child.Pid()), -1);  // rebuilt at once
}

BOOL WINAPI TerminateNothing(HANDLE, UINT) { return TRUE; }

// A kill waits for the process to end; meanwhile the window answers and the
// refresh can run.
TEST_F(Clicks, TheKillsWaitKeepsTheWindowServedAndTheRefreshFree) {
    test::Child child;
    ASSERT_TRUE(child.Start());
    KillApi api = PlatformKillApi();
    api.terminateProcess = &TerminateNothing;
    w.form.killApi = &api;
    Refresh();
    Click(RowOf(child.Pid()));
    std::atomic<int> answered{0}, gateFree{0};
    std::thread other([&] {
        ::Sleep(300);
        DWORD_PTR result = 0;
        for (int i = 0; i < 3; ++i, ::Sleep(200)) {
            if (::SendMessageTimeoutA(w.Window(), WM_NULL, 0, 0, SMTO_BLOCK, 300, &result)) ++answered;
            if (::WaitForSingleObject(w.form.refresh.refreshGate.Get(), 0) == WAIT_OBJECT_0) {
                ++gateFree;
                ::SetEvent(w.form.refresh.refreshGate.Get());
            }
        }
    });
    const DWORD start = ::GetTickCount();
    KillTaskClick(w.form, nullptr);
    other.join();
    EXPECT_GE(::GetTickCount() - start, KillSettleMs - 100);
    EXPECT_EQ(answered.load(), 3);
    EXPECT_EQ(gateFree.load(), 3);
    EXPECT_TRUE(child.Running());
}

}  // namespace
}  // namespace pelorin
