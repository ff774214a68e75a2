// The main window in the test process: what it is made of, its small
// behaviours, the popup menu, the click on a process.
#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include "common/MainWindow.h"
#include "controls/Button.h"
#include "controls/ListView.h"
#include "ui/Selection.h"

namespace pelorin {
namespace {

using test::MainWindow;

// "title/format/width" of every column.
std::vector<std::string> ColumnsOf(Control* list) {
    std::vector<std::string> columns;
    char text[64] = {};
    LVCOLUMNA c = {};
    c.mask = LVCF_TEXT | LVCF_FMT | LVCF_WIDTH, c.pszText = text, c.cchTextMax = sizeof text;
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

// The system's notice, sent once while the window moves, as it is when the
// move takes it to a screen of another DPI.
LRESULT CALLBACK DpiChangesOnMove(HWND window, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR id, DWORD_PTR) noexcept {
    static const RECT scaled = {75, 90, 1125, 840};
    if (message == WM_WINDOWPOSCHANGED && ::RemoveWindowSubclass(window, DpiChangesOnMove, id))
        ::SendMessageA(window, WM_DPICHANGED, MAKEWPARAM(144, 144), reinterpret_cast<LPARAM>(&scaled));
    return ::DefSubclassProc(window, message, wParam, lParam);
}

TEST(MainWindow, IsMadeOfItsControlsColumnsAndLayoutAtAnyDpi) {
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
    RECT outer, client;  // where a first run shows it
    ::GetWindowRect(w.Window(), &outer);
    ::GetClientRect(w.Window(), &client);
    EXPECT_EQ((std::vector<LONG>{outer.left, outer.top, client.right, client.bottom}), (std::vector<LONG>{189, 109, 509, 342}));
    EXPECT_EQ(Bounds(f.pnlBottom).bottom, client.bottom);
    EXPECT_EQ(Bounds(f.pnlBottom).top, client.bottom - 180);
    EXPECT_EQ(Bounds(f.splBottom).bottom, Bounds(f.pnlBottom).top);
    EXPECT_EQ(Bounds(f.lvProcesses).top, 1);
    EXPECT_EQ(Bounds(f.lvProcesses).bottom, Bounds(f.splBottom).top);
    // Dragging the splitter 40 pixels up gives the bottom panel 40 more.
    const HWND splitter = Handle(f.splBottom);
    ::SendMessageA(splitter, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(20, 2));
    ::SendMessageA(splitter, WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM(20, -38));
    ::SendMessageA(splitter, WM_LBUTTONUP, 0, MAKELPARAM(20, -38));
    EXPECT_EQ(Bounds(f.pnlBottom).top, client.bottom - 220);
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

    // Moved to a screen of another density, the window takes the suggested
    // rectangle and its lengths, columns and fonts follow; lengths set after
    // are units of the new DPI. A rectangle that cannot be read comes from no system.
    const auto change = [&](UINT dpi, const void* suggested) {
        ::SendMessageA(w.Window(), WM_DPICHANGED, MAKEWPARAM(dpi, dpi), reinterpret_cast<LPARAM>(suggested));
    };
    const auto look = [&] {  // a column, a box's left, the bottom panel's height, the list's font height
        LOGFONTA font = {};
        ::GetObjectA(reinterpret_cast<HFONT>(::SendMessageA(Handle(f.lvProcesses), WM_GETFONT, 0, 0)), sizeof font, &font);
        return ColumnsOf(f.lvProcesses).at(0) + " " + std::to_string(Bounds(f.chkOnTop).left) + " " +
               std::to_string(Bounds(f.pnlBottom).bottom - Bounds(f.pnlBottom).top) + " " + std::to_string(font.lfHeight);
    };
    RECT at96 = {}, now = {};
    ::GetWindowRect(w.Window(), &at96);
    change(144, reinterpret_cast<const void*>(16));
    EXPECT_EQ(look(), "Process Name/0/110 232 220 8");  // the bottom panel as the splitter left it
    const RECT suggested = {30, 40, 830, 640};
    change(144, &suggested);
    EXPECT_TRUE(::GetWindowRect(w.Window(), &now) && ::EqualRect(&now, &suggested));
    EXPECT_EQ(look(), "Process Name/0/165 348 330 12");
    EXPECT_EQ(Height(f.pnlBottom), 220);
    SetHeight(f.pnlBottom, 100);
    change(96, &at96);
    EXPECT_EQ(look(), "Process Name/0/110 232 100 8");
    // A placement the program makes (a stored one) keeps its pixels there.
    ::SetWindowSubclass(w.Window(), DpiChangesOnMove, 1, 0);
    const RECT placed = {50, 60, 750, 560};
    SetPixelBounds(f.Form, placed);
    EXPECT_TRUE(::GetWindowRect(w.Window(), &now) && ::EqualRect(&now, &placed));
    EXPECT_EQ(look(), "Process Name/0/165 348 150 12");
}

TEST(MainWindow, TheBoxesAndThePanelBehave) {
    MainWindow w;
    MainForm& f = w.form;
    const auto click = [](Control* c) { ::SendMessageA(Handle(c), BM_CLICK, 0, 0); };
    click(f.chkMoreInfo);
    EXPECT_EQ(Caption(f.lblStat), "Small Memory Leak! (todo list) ");
    EXPECT_EQ(Font(f.lblStat)->color, 0x00FF00u);  // lime
    click(f.chkMoreInfo);
    EXPECT_EQ(Caption(f.lblStat), "---");
    EXPECT_EQ(Font(f.lblStat)->color, 0xC0C0C0u);  // silver, as the label's background
    const auto topmost = [&] { return (::GetWindowLongA(w.Window(), GWL_EXSTYLE) & WS_EX_TOPMOST) != 0; };
    click(f.chkOnTop);
    EXPECT_TRUE(topmost());
    click(f.chkOnTop);
    EXPECT_FALSE(topmost());
    // A left press on the window's surface, its panel or a status label moves
    // the window as its caption would; the other buttons do not.
    for (Control* c : {f.Form, f.pnlTop, f.lblStat, f.lblTask}) {
        for (auto [press, drags] : {std::pair{WM_LBUTTONDOWN, true}, {WM_RBUTTONDOWN, false}, {WM_MBUTTONDOWN, false}}) {
            ::SendMessageA(Handle(c), press, 0, MAKELPARAM(1, 1));
            MSG message;
            const bool posted = ::PeekMessageA(&message, w.Window(), WM_SYSCOMMAND, WM_SYSCOMMAND, PM_REMOVE);
            EXPECT_EQ(posted && message.wParam == 0xF012u, drags) << Caption(c) << " " << press;
        }
    }
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
        ListView_GetItemRect(Handle(list), row < 0 ? ItemCount(list) - 1 : row, &r, LVIR_BOUNDS);
        const LPARAM at = MAKELPARAM(170, row < 0 ? r.bottom + 5 : (r.top + r.bottom) / 2);
        SetCaption(w.form.Form, "clicking");
        ::PostMessageA(Handle(list), WM_LBUTTONDOWN, MK_LBUTTON, at);
        ::PostMessageA(Handle(list), WM_LBUTTONUP, 0, at);
        ASSERT_TRUE(test::WaitUntil([&] { return Caption(w.form.Form) != "clicking"; }));
    }
    std::vector<std::string> ModuleNames() { return test::ColumnOf(w.form.lvModules, 0); }

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

// The popup holds two items, not separators; a click on a row whose path
// names no real file changes the title only.
TEST_F(Clicks, ThePopupHoldsItsTwoItemsAndARowWithASystemPathLeavesTheModules) {
    const HMENU menu = w.form.mnuList->handle;
    ASSERT_EQ(::GetMenuItemCount(menu), 2);
    for (const auto& [item, text] : {std::pair{0u, "Kill Task"}, {1u, " ----"}}) {
        char shown[16] = {};
        EXPECT_TRUE(::GetMenuStringA(menu, item, shown, sizeof shown, MF_BYPOSITION) && !(::GetMenuState(menu, item, MF_BYPOSITION) & MF_SEPARATOR));
        EXPECT_STREQ(shown, text);
    }
    test::Child child;
    ASSERT_TRUE(child.Start());
    Refresh();
    Click(RowOf(child.Pid()));
    const auto modules = test::Cells(w.form.lvModules);
    const std::int32_t own = RowOf(::GetCurrentProcessId());
    SetItemText(list, own, 4, "[System]");
    Click(own);
    EXPECT_EQ(Caption(w.form.Form), "Pelorin - Selected PID: " + std::to_string(::GetCurrentProcessId()) + " [ui_tests.exe]");
    EXPECT_EQ(test::Cells(w.form.lvModules), modules);
}

}  // namespace
}  // namespace pelorin
