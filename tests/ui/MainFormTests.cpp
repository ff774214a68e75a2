// The built main window on real windows: controls, parents, captions, layout
// in and out of test mode, fonts, colours, columns, menus, the worker threads,
// and what start-up leaves behind.
#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "catalogue/VariablesUnit.h"
#include "support/SystemInfo.h"
#include "ui/MainFormFixture.h"

namespace pelorin {
namespace {

using testing::ChildRect;
using testing::MainFormTest;
using testing::Pump;
using testing::PumpFor;
using testing::TestModeFile;

struct Box {
    int left, top, width, height;
};

Box BoxOf(HWND window) {
    const RECT r = ChildRect(window);
    return {r.left, r.top, r.right - r.left, r.bottom - r.top};
}

#define EXPECT_BOX(control, l, t, w, h)                                        \
    do {                                                                       \
        const Box b_ = BoxOf((control)->window);                               \
        EXPECT_EQ(b_.left, l) << #control;                                     \
        EXPECT_EQ(b_.top, t) << #control;                                      \
        EXPECT_EQ(b_.width, w) << #control;                                    \
        EXPECT_EQ(b_.height, h) << #control;                                   \
    } while (0)

std::string WindowText(HWND window) {
    char buffer[512] = {};
    ::GetWindowTextA(window, buffer, sizeof buffer);
    return buffer;
}

SIZE ClientOf(HWND window) {
    RECT r = {};
    ::GetClientRect(window, &r);
    return {r.right, r.bottom};
}

TEST_F(MainFormTest, EveryControlSitsOnItsParentWithItsCaptionAndKind) {
    Build();
    struct Expected {
        const char* name;
        Control* control;
        ControlKind kind;
        Control* parent;
        const char* caption;
    };
    MainForm& f = form;
    const Expected expected[] = {
        {"pnlTop", f.pnlTop, ControlKind::Panel, f.Form, ""},
        {"lblClose", f.lblClose, ControlKind::Label, f.pnlTop, " X"},
        {"lblCpuUsage", f.lblCpuUsage, ControlKind::Label, f.pnlTop, "lblCpuUsage"},
        {"lblStat", f.lblStat, ControlKind::Label, f.pnlTop, "lblStat"},
        {"lblTask", f.lblTask, ControlKind::Label, f.pnlTop, "lblTask"},
        {"lvProcesses", f.lvProcesses, ControlKind::ListView, f.Form, ""},
        {"pnlBottom", f.pnlBottom, ControlKind::Panel, f.Form, ""},
        {"btnTest", f.btnTest, ControlKind::Button, f.pnlBottom, "Test"},
        {"chkShowKnown", f.chkShowKnown, ControlKind::CheckBox, f.pnlBottom, "Show Known Processes"},
        {"lvModules", f.lvModules, ControlKind::ListView, f.pnlBottom, ""},
        {"chkMoreInfo", f.chkMoreInfo, ControlKind::CheckBox, f.pnlBottom, "More Info"},
        {"chkOnTop", f.chkOnTop, ControlKind::CheckBox, f.pnlBottom, "On Top"},
        {"chkNoRefresh", f.chkNoRefresh, ControlKind::CheckBox, f.pnlBottom, "No Refresh"},
        {"splBottom", f.splBottom, ControlKind::Splitter, f.Form, ""},
    };
    ASSERT_NE(f.Form, nullptr);
    EXPECT_EQ(f.Form->kind, ControlKind::Form);
    EXPECT_EQ(f.Form->parent, app);
    EXPECT_EQ(WindowText(f.Form->window), "Pelorin");
    EXPECT_EQ(app->mainForm, f.Form);
    for (const Expected& e : expected) {
        ASSERT_NE(e.control, nullptr) << e.name;
        EXPECT_EQ(e.control->kind, e.kind) << e.name;
        EXPECT_EQ(e.control->parent, e.parent) << e.name;
        ASSERT_NE(e.control->window, nullptr) << e.name;
        EXPECT_EQ(::GetParent(e.control->window), e.parent->window) << e.name;
        EXPECT_EQ(WindowText(e.control->window), e.caption) << e.name;
    }
    // Its caption is the folder line written by start-up.
    EXPECT_EQ(f.lblRealtime->parent, f.pnlTop);
    EXPECT_EQ(::GetParent(f.lblRealtime->window), f.pnlTop->window);

    // Every check box starts clear.
    for (Control* box : {f.chkShowKnown, f.chkMoreInfo, f.chkOnTop, f.chkNoRefresh}) {
        EXPECT_EQ(::SendMessageA(box->window, BM_GETCHECK, 0, 0), BST_UNCHECKED) << box->caption;
    }
    // lblClose shows the hand cursor.
    EXPECT_EQ(f.lblClose->cursor, ::LoadCursorA(nullptr, MAKEINTRESOURCEA(32649)));
}

TEST_F(MainFormTest, TestModeLayoutKeepsTheStatusPanelAndShowsTest) {
    Build(TestModeFile::File);
    MainForm& f = form;
    EXPECT_TRUE(f.TestMode);
    const SIZE client = ClientOf(f.Form->window);
    ASSERT_EQ(client.cx, 509);
    ASSERT_EQ(client.cy, 342);
    EXPECT_EQ(f.Form->left, 189);
    EXPECT_EQ(f.Form->top, 109);

    EXPECT_BOX(f.pnlTop, 0, 0, 509, 57);
    EXPECT_BOX(f.lvProcesses, 0, 57, 509, 100);
    EXPECT_BOX(f.splBottom, 0, 157, 509, 5);
    EXPECT_BOX(f.pnlBottom, 0, 162, 509, 180);
    EXPECT_EQ(f.lvProcesses->align, kAlignClient);

    EXPECT_BOX(f.lblClose, 485, 0, 20, 14);
    EXPECT_BOX(f.btnTest, 416, 2, 49, 18);
    // Built 95 high in a 124-high panel, it grew with the panel to 180.
    EXPECT_BOX(f.lvModules, 5, 24, 495, 151);
    EXPECT_TRUE(::IsWindowVisible(f.btnTest->window));
    EXPECT_TRUE(::IsWindowVisible(f.pnlTop->window));

    // Labels and check boxes size themselves to their text at their places.
    const struct {
        Control* control;
        int left, top;
    } autoSized[] = {
        {f.lblCpuUsage, 8, 24}, {f.lblRealtime, 8, 8},     {f.lblStat, 130, 40},   {f.lblTask, 6, 40},
        {f.chkShowKnown, 8, 2}, {f.chkMoreInfo, 296, 2}, {f.chkOnTop, 232, 2}, {f.chkNoRefresh, 152, 2},
    };
    for (const auto& a : autoSized) {
        const Box b = BoxOf(a.control->window);
        EXPECT_TRUE(a.control->autoSize) << a.control->caption;
        EXPECT_EQ(b.left, a.left) << a.control->caption;
        EXPECT_EQ(b.top, a.top) << a.control->caption;
        EXPECT_GT(b.width, 0) << a.control->caption;
        EXPECT_GT(b.height, 0) << a.control->caption;
    }
    // "Show Known Processes" is wider than "No Refresh", which is wider than "On Top".
    EXPECT_GT(Width(f.chkShowKnown), Width(f.chkNoRefresh));
    EXPECT_GT(Width(f.chkNoRefresh), Width(f.chkOnTop));
}

class TestModeOff : public MainFormTest, public ::testing::WithParamInterface<TestModeFile> {};

TEST_P(TestModeOff, LeavesAOnePixelTopPanelAndHidesTest) {
    Build(GetParam());
    MainForm& f = form;
    EXPECT_FALSE(f.TestMode);
    EXPECT_BOX(f.pnlTop, 0, 0, 509, 1);
    EXPECT_BOX(f.lvProcesses, 0, 1, 509, 156);
    EXPECT_BOX(f.splBottom, 0, 157, 509, 5);
    EXPECT_BOX(f.pnlBottom, 0, 162, 509, 180);
    EXPECT_FALSE(::IsWindowVisible(f.btnTest->window));
    EXPECT_TRUE(::IsWindowVisible(f.chkShowKnown->window));
    // The hidden labels still get their texts.
    EXPECT_NE(WindowText(f.lblRealtime->window), "lblRealtime");
}

INSTANTIATE_TEST_SUITE_P(NoFileOrAFolder, TestModeOff,
                         ::testing::Values(TestModeFile::None, TestModeFile::Folder));

TEST_F(MainFormTest, StartUpWritesTheFolderLineAndRunsTheSettingsOnce) {
    Build();
    const std::string driveRoot = SystemDriveRoot();
    EXPECT_EQ(DriveRootFolder(), driveRoot);
    EXPECT_EQ(WindowsFolder(), WindowsDirectory());
    EXPECT_EQ(SystemFolder(), SystemDirectory());
    EXPECT_EQ(ProgramFilesFolder(), ProgramFilesDirectory());
    EXPECT_EQ(TempFolder(), TempDirectory());
    EXPECT_FALSE(driveRoot.empty());
    EXPECT_EQ(WindowText(form.lblRealtime->window), driveRoot + " " + WindowsDirectory() + " " + SystemDirectory() +
                                                        " " + ProgramFilesDirectory());

    EXPECT_EQ(testing::g_settings.loads, 1);
    EXPECT_EQ(testing::g_settings.registers, 1);
    EXPECT_EQ(testing::g_settings.saves, 0);
    EXPECT_TRUE(testing::g_settings.formWindowAtLoad);
    EXPECT_TRUE(form.refresh.RefreshEnabled.load());
    // The ten sample lists exist, empty.
    for (TextList* list : {form.refresh.CurrentSample.pids, form.refresh.PreviousSample.pids,
                           form.refresh.PreviousSample.ticks, form.refresh.PreviousSample.users}) {
        ASSERT_NE(list, nullptr);
        EXPECT_EQ(list->Count(), 0);
    }
}

LOGFONTA WindowFont(HWND window) {
    LOGFONTA lf = {};
    const auto font = reinterpret_cast<HFONT>(::SendMessageA(window, WM_GETFONT, 0, 0));
    if (font != nullptr) ::GetObjectA(font, sizeof lf, &lf);
    return lf;
}

TEST_F(MainFormTest, FontsFollowTheFormFaceWithTheirOwnHeights) {
    Build();
    MainForm& f = form;
    for (Control* label : {f.lblClose, f.lblCpuUsage, f.lblRealtime, f.lblStat, f.lblTask}) {
        ASSERT_TRUE(label->font) << label->caption;
        EXPECT_EQ(label->font->face, "MS Sans Serif") << label->caption;
        EXPECT_EQ(label->font->height, 6) << label->caption;
        const bool bold = label == f.lblClose;
        EXPECT_EQ((label->font->style & kFontBold) != 0, bold) << label->caption;
        EXPECT_EQ(label->font->weight >= FW_BOLD, bold) << label->caption;
    }
    // Windows that answer WM_GETFONT carry the font they were built with.
    for (Control* c : {f.lvProcesses, f.lvModules, f.btnTest, f.chkShowKnown, f.chkMoreInfo, f.chkOnTop,
                       f.chkNoRefresh}) {
        const LOGFONTA lf = WindowFont(c->window);
        EXPECT_STREQ(lf.lfFaceName, "MS Sans Serif") << c->caption;
        EXPECT_EQ(lf.lfHeight, 8) << c->caption;
        EXPECT_LT(lf.lfWeight, FW_BOLD) << c->caption;
    }
}

COLORREF PixelOf(HWND window, int x, int y) {
    const HDC dc = ::GetDC(window);
    const COLORREF colour = ::GetPixel(dc, x, y);
    ::ReleaseDC(window, dc);
    return colour;
}

TEST_F(MainFormTest, ColoursOfPanelsLabelsAndLists) {
    Build();
    MainForm& f = form;
    constexpr ColorValue silver = 0xC0C0C0;
    EXPECT_EQ(f.pnlTop->color, silver);
    EXPECT_EQ(f.pnlBottom->color, silver);
    EXPECT_EQ(f.splBottom->color, silver);
    EXPECT_EQ(f.lblClose->color, 0x008000u);
    // Labels without a colour of their own keep the panel's silver.
    for (Control* c : {f.lblCpuUsage, f.lblRealtime, f.lblStat, f.lblTask}) {
        EXPECT_EQ(c->color, silver) << c->caption;
        EXPECT_EQ(c->font->color, 0xFFFFFFu) << c->caption;
    }
    for (Control* c : {f.btnTest, f.chkShowKnown, f.chkMoreInfo, f.chkOnTop, f.chkNoRefresh}) {
        EXPECT_EQ(c->color, silver) << c->caption;
    }
    const COLORREF window = ::GetSysColor(COLOR_WINDOW);
    EXPECT_EQ(static_cast<COLORREF>(::SendMessageA(f.lvProcesses->window, LVM_GETBKCOLOR, 0, 0)), window);
    EXPECT_EQ(static_cast<COLORREF>(::SendMessageA(f.lvModules->window, LVM_GETBKCOLOR, 0, 0)), window);

    // What is painted: the panel's silver and the close label's dark green.
    ::RedrawWindow(f.Form->window, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
    PumpFor(50);
    EXPECT_EQ(PixelOf(f.pnlTop->window, 300, 50), RGB(0xC0, 0xC0, 0xC0));
    EXPECT_EQ(PixelOf(f.lblClose->window, 1, 12), RGB(0x00, 0x80, 0x00));
}

struct Column {
    std::string title;
    int alignment;
    int width;
    bool operator==(const Column&) const = default;
};

void PrintTo(const Column& c, std::ostream* os) { *os << '"' << c.title << "\" " << c.alignment << ' ' << c.width; }

std::vector<Column> ColumnsOf(HWND list) {
    std::vector<Column> columns;
    for (int i = 0;; ++i) {
        char text[256] = {};
        LVCOLUMNA column = {};
        column.mask = LVCF_FMT | LVCF_TEXT | LVCF_WIDTH;
        column.pszText = text;
        column.cchTextMax = sizeof text;
        if (!::SendMessageA(list, LVM_GETCOLUMNA, i, reinterpret_cast<LPARAM>(&column))) break;
        columns.push_back({text, column.fmt & LVCFMT_JUSTIFYMASK, column.cx});
    }
    return columns;
}

TEST_F(MainFormTest, ColumnsOfBothLists) {
    Build();
    const int left = LVCFMT_LEFT, centre = LVCFMT_CENTER;
    const std::vector<Column> processes = {
        {"Process Name", left, 110}, {"PID", centre, 40},         {"Mem", centre, 60},      {"CPU", centre, 35},
        {"Image Path", left, 280},   {"Description", centre, 100}, {"Company", centre, 100},
    };
    const std::vector<Column> modules = {
        {"Modules Count: 0", centre, 130},
        {"Processes used by", left, 300},
        {"Description", left, 100},
        {"Company", centre, 100},
    };
    EXPECT_EQ(ColumnsOf(form.lvProcesses->window), processes);
    EXPECT_EQ(ColumnsOf(form.lvModules->window), modules);

    // Both lists: report view, single selection kept visible, grid lines and full-row selection.
    for (Control* list : {form.lvProcesses, form.lvModules}) {
        const LONG style = ::GetWindowLongA(list->window, GWL_STYLE);
        EXPECT_EQ(style & LVS_TYPEMASK, LVS_REPORT);
        EXPECT_TRUE(style & LVS_SINGLESEL);
        EXPECT_TRUE(style & LVS_SHOWSELALWAYS);
        const LRESULT ex = ::SendMessageA(list->window, LVM_GETEXTENDEDLISTVIEWSTYLE, 0, 0);
        EXPECT_TRUE(ex & LVS_EX_GRIDLINES);
        EXPECT_TRUE(ex & LVS_EX_FULLROWSELECT);
    }
    // The module list has no border; the process list keeps its edge.
    EXPECT_FALSE(::GetWindowLongA(form.lvModules->window, GWL_EXSTYLE) & WS_EX_CLIENTEDGE);
    EXPECT_TRUE(::GetWindowLongA(form.lvProcesses->window, GWL_EXSTYLE) & WS_EX_CLIENTEDGE);
}

TEST_F(MainFormTest, ResizingMovesTheCloseLabelAndGrowsTheModuleList) {
    Build();
    MainForm& f = form;
    const HWND window = f.Form->window;
    RECT outer = {};
    ::GetWindowRect(window, &outer);
    const Box checkBoxes[] = {BoxOf(f.chkShowKnown->window), BoxOf(f.chkMoreInfo->window),
                              BoxOf(f.chkOnTop->window), BoxOf(f.chkNoRefresh->window)};
    const Box test = BoxOf(f.btnTest->window);

    for (const auto& [dx, dy] : {std::pair{120, 80}, std::pair{-60, -40}}) {
        ::SetWindowPos(window, nullptr, 0, 0, outer.right - outer.left + dx, outer.bottom - outer.top + dy,
                       SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
        Pump();
        const SIZE client = ClientOf(window);
        ASSERT_EQ(client.cx, 509 + dx);
        ASSERT_EQ(client.cy, 342 + dy);
        // 4 pixels from the right edge, always.
        EXPECT_BOX(f.lblClose, 485 + dx, 0, 20, 14);
        EXPECT_BOX(f.pnlBottom, 0, client.cy - 180, client.cx, 180);
        EXPECT_BOX(f.lvModules, 5, 24, 495 + dx, 151);
        EXPECT_BOX(f.lvProcesses, 0, 57, client.cx, client.cy - 57 - 185);
        const Box after[] = {BoxOf(f.chkShowKnown->window), BoxOf(f.chkMoreInfo->window),
                             BoxOf(f.chkOnTop->window), BoxOf(f.chkNoRefresh->window)};
        for (int i = 0; i < 4; ++i) {
            EXPECT_EQ(after[i].left, checkBoxes[i].left);
            EXPECT_EQ(after[i].top, checkBoxes[i].top);
        }
        EXPECT_EQ(BoxOf(f.btnTest->window).left, test.left);
        EXPECT_EQ(BoxOf(f.btnTest->window).top, test.top);
    }
}

TEST_F(MainFormTest, PopupMenuHasKillTaskAndAnInertItemAndTheMenuBarIsEmpty) {
    Build();
    MainForm& f = form;
    ASSERT_NE(f.mnuList, nullptr);
    ASSERT_NE(f.mnuList->handle, nullptr);
    EXPECT_FALSE(f.mnuList->isBar);
    ASSERT_EQ(::GetMenuItemCount(f.mnuList->handle), 2);
    char text[64] = {};
    ::GetMenuStringA(f.mnuList->handle, 0, text, sizeof text, MF_BYPOSITION);
    EXPECT_STREQ(text, "Kill Task");
    ::GetMenuStringA(f.mnuList->handle, 1, text, sizeof text, MF_BYPOSITION);
    EXPECT_STREQ(text, " ----");
    // An ordinary item, not a separator.
    EXPECT_FALSE(::GetMenuState(f.mnuList->handle, 1, MF_BYPOSITION) & MF_SEPARATOR);
    ASSERT_EQ(f.mnuList->handlers.size(), 2u);
    EXPECT_TRUE(static_cast<bool>(f.mnuList->handlers[0]));
    EXPECT_FALSE(static_cast<bool>(f.mnuList->handlers[1]));
    EXPECT_EQ(f.lvProcesses->popupMenu, f.mnuList);

    // Choosing " ----" changes nothing.
    const std::string caption = WindowText(f.Form->window);
    ::SendMessageA(f.Form->window, WM_COMMAND, MAKEWPARAM(f.mnuList->firstId + 1, 0), 0);
    Pump();
    EXPECT_EQ(WindowText(f.Form->window), caption);
    EXPECT_FALSE(TerminateRequested(app));

    // The empty menu bar takes no room.
    ASSERT_NE(f.mainMenu, nullptr);
    EXPECT_TRUE(f.mainMenu->isBar);
    EXPECT_TRUE(f.mainMenu->items.empty());
    EXPECT_EQ(f.Form->menuBar, f.mainMenu);
    EXPECT_EQ(ClientOf(f.Form->window).cy, 342);
}

TEST_F(MainFormTest, WorkersAreBuiltSuspendedAndOwnedByTheForm) {
    Build();
    MainForm& f = form;
    ASSERT_NE(f.RefreshThread, nullptr);
    ASSERT_NE(f.CpuUsageThread, nullptr);
    for (WorkerThread* t : {f.RefreshThread, f.CpuUsageThread}) {
        EXPECT_TRUE(Suspended(t));
        EXPECT_FALSE(Terminated(t));
        EXPECT_EQ(t->owner, f.Form);
        EXPECT_EQ(t->onExecute.context, &f);
        // Still suspended: resuming reports one suspension.
        EXPECT_EQ(::WaitForSingleObject(t->handle.Get(), 0), static_cast<DWORD>(WAIT_TIMEOUT));
    }
    // RefreshThread first, then CpuUsageThread.
    const auto& owned = f.Form->autoFree;
    const auto refresh = std::find(owned.begin(), owned.end(), f.RefreshThread);
    const auto cpu = std::find(owned.begin(), owned.end(), f.CpuUsageThread);
    ASSERT_NE(refresh, owned.end());
    ASSERT_NE(cpu, owned.end());
    EXPECT_LT(refresh, cpu);
}

// Start-up runs while the form has no window yet, so a second instance that
// stops there shows nothing and cannot find its own window.
bool g_windowAtInit = true;
void RecordWindowAtInit(MainForm& f) { g_windowAtInit = f.Form->window != nullptr; }

TEST(MainFormBuild, StartUpRunsBeforeAnyWindowOfTheFormExists) {
    Control* app = CreateAppObject("Pelorin");
    MainForm f;
    ShellHooks hooks;
    hooks.initMainForm = &RecordWindowAtInit;
    g_windowAtInit = true;
    BuildMainForm(f, app, hooks);
    EXPECT_FALSE(g_windowAtInit);
    EXPECT_EQ(f.Form->window, nullptr);
    Destroy(app);
    Pump();
}

}  // namespace
}  // namespace pelorin
