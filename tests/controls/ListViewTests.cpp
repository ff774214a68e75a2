// List views and menus on real windows: texts, selection, scrolling, the
// single repaint of nested updates, clicks, the popup menu and its items, and
// list operations called from a worker thread.
#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "controls/Button.h"
#include "controls/ListView.h"
#include "controls/Menu.h"
#include "controls/WorkerThread.h"
#include "controls/LayerTestSupport.h"

namespace pelorin {
namespace {

using testing::LayerTest;
using testing::Pump;
using testing::PumpFor;
using testing::PumpUntil;

class ListViewTest : public LayerTest {
protected:
    void SetUp() override {
        LayerTest::SetUp();
        list = CreateListView(form, 3, kListGridLines | kListFullRowSelect);
        SetAlign(list, kAlignClient);
        AddColumn(list, "Process Name", 0, 110);
        AddColumn(list, "PID", 2, 40);
    }
    void Fill(int rows) {
        for (int i = 0; i < rows; ++i) {
            const std::int32_t row = InsertItem(list, i, "");
            SetItemText(list, row, 0, "row " + std::to_string(i));
            SetItemText(list, row, 1, std::to_string(1000 + i));
        }
    }
    POINT RowCentre(int row) {
        RECT r = {};
        r.left = LVIR_BOUNDS;
        ::SendMessageA(list->window, LVM_GETITEMRECT, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&r));
        return {(r.left + r.right) / 2, (r.top + r.bottom) / 2};
    }

    Control* list = nullptr;
};

TEST_F(ListViewTest, ColumnsAndCellsKeepTheirTexts) {
    EXPECT_EQ(list->columnCount, 2);
    EXPECT_EQ(::GetWindowLongPtrA(list->window, GWL_STYLE) & LVS_TYPEMASK, LVS_REPORT);
    const auto ex = ::SendMessageA(list->window, LVM_GETEXTENDEDLISTVIEWSTYLE, 0, 0);
    EXPECT_TRUE(ex & LVS_EX_GRIDLINES);
    EXPECT_TRUE(ex & LVS_EX_FULLROWSELECT);

    EXPECT_EQ(GetColumnText(list, 1), "PID");
    SetColumnText(list, 1, "Processes used by [notepad.exe]");
    EXPECT_EQ(GetColumnText(list, 1), "Processes used by [notepad.exe]");
    SetColumnText(list, 1, "");
    EXPECT_EQ(GetColumnText(list, 1), "");

    Fill(3);
    EXPECT_EQ(ItemCount(list), 3);
    EXPECT_EQ(GetItemText(list, 2, 1), "1002");
    // Cell texts of any length come back whole.
    std::string longText(1000, 'x');
    longText[0] = 'A';
    longText[999] = 'Z';
    SetItemText(list, 1, 0, longText);
    EXPECT_EQ(GetItemText(list, 1, 0), longText);
    const std::string exact(99, 'y');  // one short of the first buffer
    SetItemText(list, 0, 1, exact);
    EXPECT_EQ(GetItemText(list, 0, 1), exact);

    // Rows that do not exist and negative rows give the empty text and change nothing.
    EXPECT_EQ(GetItemText(list, -1, 0), "");
    EXPECT_EQ(GetItemText(list, 7, 0), "");
    EXPECT_EQ(InsertItem(list, -1, "no"), -1);
    SetItemText(list, -1, 0, "no");
    EXPECT_EQ(ItemCount(list), 3);

    ClearItems(list);
    EXPECT_EQ(ItemCount(list), 0);
}

TEST_F(ListViewTest, SelectionIsSingleAndCanBeCleared) {
    EXPECT_EQ(CurrentIndex(list), -1);  // empty list
    Fill(5);
    EXPECT_EQ(CurrentIndex(list), -1);
    SetCurrentIndex(list, 3);
    EXPECT_EQ(CurrentIndex(list), 3);
    EXPECT_EQ(::SendMessageA(list->window, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_FOCUSED), 3);
    SetCurrentIndex(list, 1);
    EXPECT_EQ(CurrentIndex(list), 1);
    EXPECT_EQ(::SendMessageA(list->window, LVM_GETSELECTEDCOUNT, 0, 0), 1);
    SetCurrentIndex(list, -1);
    EXPECT_EQ(CurrentIndex(list), -1);
    EXPECT_EQ(::SendMessageA(list->window, LVM_GETSELECTEDCOUNT, 0, 0), 0);
    EXPECT_EQ(::SendMessageA(list->window, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_FOCUSED), -1);
}

TEST_F(ListViewTest, TopIndexSurvivesARebuild) {
    ShowForm();
    Fill(100);
    EXPECT_EQ(TopIndex(list), 0);
    SetTopIndex(list, 40);
    EXPECT_EQ(TopIndex(list), 40);
    SetTopIndex(list, 10);
    EXPECT_EQ(TopIndex(list), 10);

    // As the refresh does: clear and refill without drawing, then put the place back.
    SetTopIndex(list, 37);
    const std::int32_t kept = TopIndex(list);
    BeginUpdate(list);
    ClearItems(list);
    Fill(100);
    SetTopIndex(list, kept);
    EndUpdate(list);
    Pump();
    EXPECT_EQ(TopIndex(list), 37);

    // Past the end the list scrolls as far as it can.
    SetTopIndex(list, 1000);
    EXPECT_GT(TopIndex(list), 37);
    EnsureVisible(list, 0, false);
    EXPECT_EQ(TopIndex(list), 0);
    EnsureVisible(list, -1, false);
    EXPECT_EQ(TopIndex(list), 0);
}

int g_listPaints = 0;

LRESULT CALLBACK CountPaints(HWND window, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR, DWORD_PTR) {
    if (message == WM_PAINT) ++g_listPaints;
    return ::DefSubclassProc(window, message, wParam, lParam);
}

TEST_F(ListViewTest, NestedUpdatesRepaintOnceAtTheLastEnd) {
    ShowForm();
    ::SetWindowSubclass(list->window, CountPaints, 7, 0);
    PumpFor(200);
    g_listPaints = 0;

    BeginUpdate(list);
    BeginUpdate(list);
    Fill(5);
    EndUpdate(list);
    PumpFor(200);
    EXPECT_EQ(g_listPaints, 0);
    EXPECT_EQ(list->updateCount, 1);
    Fill(2);
    EndUpdate(list);
    PumpFor(200);
    EXPECT_EQ(g_listPaints, 1);
    EXPECT_EQ(list->updateCount, 0);

    // An unmatched EndUpdate changes nothing: the next Begin still holds drawing.
    EndUpdate(list);
    EXPECT_EQ(list->updateCount, 0);
    BeginUpdate(list);
    g_listPaints = 0;
    Fill(2);
    PumpFor(200);
    EXPECT_EQ(g_listPaints, 0);
    EndUpdate(list);
    PumpFor(200);
    EXPECT_EQ(g_listPaints, 1);
    ::RemoveWindowSubclass(list->window, CountPaints, 7);
}

// Records clicks and popups in order; the popup is closed, or its first item
// chosen, as soon as the menu loop idles.
struct MenuWatch {
    std::vector<std::string> events;
    bool chooseFirstItem = false;
    bool acted = false;
    RECT popupRect = {};
    HWND owner = nullptr;
    int killTask = 0;
};
MenuWatch* g_watch = nullptr;

LRESULT CALLBACK WatchMenus(int code, WPARAM wParam, LPARAM lParam) {
    if (code == HC_ACTION && g_watch != nullptr) {
        const auto* message = reinterpret_cast<const CWPSTRUCT*>(lParam);
        if (message->message == WM_INITMENUPOPUP) g_watch->events.push_back("menu");
        if (message->message == WM_ENTERIDLE && message->wParam == MSGF_MENU && !g_watch->acted) {
            g_watch->acted = true;
            ::GetWindowRect(reinterpret_cast<HWND>(message->lParam), &g_watch->popupRect);
            if (g_watch->chooseFirstItem) {
                ::PostMessageA(g_watch->owner, WM_KEYDOWN, VK_DOWN, 0);
                ::PostMessageA(g_watch->owner, WM_KEYDOWN, VK_RETURN, 0);
            } else {
                ::EndMenu();
            }
        }
    }
    return ::CallNextHookEx(nullptr, code, wParam, lParam);
}

void CALLBACK EndMenuTimer(HWND, UINT, UINT_PTR, DWORD) { ::EndMenu(); }

void RecordClick(MenuWatch& watch, Control*) { watch.events.push_back("click"); }
void KillTask(MenuWatch& watch, Control* sender) {
    ++watch.killTask;
    watch.events.push_back(sender != nullptr && sender->kind == ControlKind::Form ? "kill from form" : "kill");
}

class PopupTest : public ListViewTest {
protected:
    void SetUp() override {
        ListViewTest::SetUp();
        CreateMenu(form, {});  // the empty bar, as the program makes it
        menu = CreateMenu(form, {"Kill Task", " ----"});
        SetMenuItemHandlers(menu, 0, {MakeNotify<&KillTask>(watch)});
        AttachPopupMenu(list, menu);
        SetOnClick(list, MakeNotify<&RecordClick>(watch));
        ShowForm();
        Fill(5);
        Pump();
        watch.owner = form->window;
        g_watch = &watch;
        hook = ::SetWindowsHookExA(WH_CALLWNDPROC, WatchMenus, nullptr, ::GetCurrentThreadId());
        // Never leave a menu open, whatever happens to the hook.
        safety = ::SetTimer(nullptr, 0, 3000, EndMenuTimer);
    }
    void TearDown() override {
        ::KillTimer(nullptr, safety);
        ::UnhookWindowsHookEx(hook);
        g_watch = nullptr;
        ListViewTest::TearDown();
    }
    void Click(UINT down, UINT up, WPARAM keys, int row) {
        const POINT p = RowCentre(row);
        ::PostMessageA(list->window, down, keys, MAKELPARAM(p.x, p.y));
        ::PostMessageA(list->window, up, 0, MAKELPARAM(p.x, p.y));
        PumpFor(300);
    }

    MenuWatch watch;
    Menu* menu = nullptr;
    HHOOK hook = nullptr;
    UINT_PTR safety = 0;
};

TEST_F(PopupTest, TheEmptyFirstMenuShowsNoBarAndLaterOnesArePopups) {
    EXPECT_EQ(::GetMenu(form->window), nullptr);
    ASSERT_NE(form->menuBar, nullptr);
    EXPECT_TRUE(form->menuBar->isBar);
    EXPECT_FALSE(menu->isBar);
    EXPECT_EQ(::GetMenuItemCount(menu->handle), 2);
    char text[32] = {};
    ::GetMenuStringA(menu->handle, 1, text, sizeof text, MF_BYPOSITION);
    EXPECT_STREQ(text, " ----");
}

TEST_F(PopupTest, LeftClickRaisesOnClickAndSelectsTheRow) {
    Click(WM_LBUTTONDOWN, WM_LBUTTONUP, MK_LBUTTON, 2);
    EXPECT_EQ(watch.events, (std::vector<std::string>{"click"}));
    EXPECT_EQ(CurrentIndex(list), 2);
}

TEST_F(PopupTest, RightClickRaisesOnClickBeforeThePopupOpens) {
    Click(WM_RBUTTONDOWN, WM_RBUTTONUP, MK_RBUTTON, 3);
    EXPECT_EQ(watch.events, (std::vector<std::string>{"click", "menu"}));
    EXPECT_EQ(CurrentIndex(list), 3);
    EXPECT_EQ(watch.killTask, 0);  // closed without a choice
}

TEST_F(PopupTest, MenuKeyOpensThePopupAtTheCurrentRowWithoutAClick) {
    SetCurrentIndex(list, 1);
    RECT row = {};
    row.left = LVIR_BOUNDS;
    ::SendMessageA(list->window, LVM_GETITEMRECT, 1, reinterpret_cast<LPARAM>(&row));
    POINT expected = {row.left, row.bottom};
    ::ClientToScreen(list->window, &expected);

    // What the platform sends for the keyboard's menu key.
    ::SendMessageA(list->window, WM_CONTEXTMENU, reinterpret_cast<WPARAM>(list->window), -1);
    PumpFor(100);
    EXPECT_EQ(watch.events, (std::vector<std::string>{"menu"}));
    EXPECT_EQ(watch.popupRect.left, expected.x);
    EXPECT_EQ(watch.popupRect.top, expected.y);

    // Arrow keys raise nothing either.
    ::SendMessageA(list->window, WM_KEYDOWN, VK_DOWN, 0);
    ::SendMessageA(list->window, WM_KEYUP, VK_DOWN, 0);
    PumpFor(100);
    EXPECT_EQ(watch.events, (std::vector<std::string>{"menu"}));
}

TEST_F(PopupTest, ChoosingAnItemRunsItsHandlerWithTheFormAsSender) {
    watch.chooseFirstItem = true;
    Click(WM_RBUTTONDOWN, WM_RBUTTONUP, MK_RBUTTON, 0);
    PumpUntil([&] { return watch.killTask > 0; }, 3000);
    EXPECT_EQ(watch.killTask, 1);
    EXPECT_EQ(watch.events, (std::vector<std::string>{"click", "menu", "kill from form"}));

    // The item without a handler does nothing.
    ::SendMessageA(form->window, WM_COMMAND, MAKEWPARAM(menu->firstId + 1, 0), 0);
    EXPECT_EQ(watch.killTask, 1);
}

// List and check-box operations called from a worker thread.
struct CrossThreadJob {
    Control* list = nullptr;
    Control* box = nullptr;
    Control* windowless = nullptr;
    std::int32_t inserted = 0;
    std::int32_t count = 0;
    std::string cell;
    std::string longCell;
    std::int32_t current = -2;
    bool checked = false;
    std::int32_t windowlessInsert = 0;
    std::int32_t windowlessCount = -1;
};

std::uint32_t CrossThreadBody(CrossThreadJob& job, WorkerThread*) {
    BeginUpdate(job.list);
    for (int i = 0; i < 50; ++i) {
        const std::int32_t row = InsertItem(job.list, i, "");
        if (row == i) ++job.inserted;
        SetItemText(job.list, row, 1, "pid " + std::to_string(i));
    }
    EndUpdate(job.list);
    job.count = ItemCount(job.list);
    job.cell = GetItemText(job.list, 17, 1);
    SetItemText(job.list, 3, 0, std::string(1000, 'q'));
    job.longCell = GetItemText(job.list, 3, 0);
    SetCurrentIndex(job.list, 5);
    job.current = CurrentIndex(job.list);
    job.checked = GetChecked(job.box);
    job.windowlessInsert = InsertItem(job.windowless, 0, "never");
    job.windowlessCount = ItemCount(job.windowless);
    return 0;
}

TEST_F(ListViewTest, WorkerThreadOperationsRunThroughTheWindowAndReturnResults) {
    Control* box = CreateCheckBox(form, "More Info");
    SetChecked(box, true);
    Control* hidden = CreateForm(app, "never created");
    Control* windowless = CreateListView(hidden, 3, 0);
    ShowForm();

    CrossThreadJob job;
    job.list = list;
    job.box = box;
    job.windowless = windowless;
    WorkerThread* thread = CreateWorkerThread();
    thread->onExecute = MakeExecute<&CrossThreadBody>(job);
    Resume(thread);
    ASSERT_TRUE(PumpUntil([&] { return Terminated(thread); }));
    StopAndWait(thread);
    Destroy(thread);

    EXPECT_EQ(job.inserted, 50);
    EXPECT_EQ(job.count, 50);
    EXPECT_EQ(job.cell, "pid 17");
    EXPECT_EQ(job.longCell, std::string(1000, 'q'));
    EXPECT_EQ(job.current, 5);
    EXPECT_TRUE(job.checked);
    EXPECT_EQ(job.windowlessInsert, -1);
    EXPECT_EQ(job.windowlessCount, 0);
    EXPECT_EQ(windowless->window, nullptr);  // a worker never creates a window
    EXPECT_EQ(hidden->window, nullptr);
    EXPECT_EQ(ItemCount(list), 50);
    EXPECT_EQ(CurrentIndex(list), 5);
}

}  // namespace
}  // namespace pelorin
