// Properties, layout and events of forms, labels, panels, the splitter,
// buttons and check boxes, on real windows.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "controls/Button.h"
#include "controls/Label.h"
#include "controls/ListView.h"
#include "controls/Menu.h"
#include "controls/Splitter.h"
#include "controls/LayerTestSupport.h"

namespace pelorin {
namespace {

using testing::ChildRect;
using testing::LayerTest;
using testing::Pump;
using testing::PumpFor;

std::string WindowText(HWND window) {
    char buffer[256] = {};
    ::GetWindowTextA(window, buffer, sizeof buffer);
    return buffer;
}

TEST_F(LayerTest, PropertiesSetBeforeCreationShowWhenTheWindowIsCreated) {
    Control* label = CreateLabel(form, "first");
    SetCaption(label, "set before the window");
    SetCaption(form, "Form caption before creation");
    SetPosition(label, 12, 34);
    SetSize(label, 80, 20);
    Control* box = CreateCheckBox(form, "Box");
    SetChecked(box, true);
    EXPECT_EQ(label->window, nullptr);

    ShowForm();
    ASSERT_NE(label->window, nullptr);
    EXPECT_EQ(WindowText(label->window), "set before the window");
    EXPECT_EQ(WindowText(form->window), "Form caption before creation");
    const RECT r = ChildRect(label->window);
    EXPECT_EQ(r.left, 12);
    EXPECT_EQ(r.top, 34);
    EXPECT_EQ(r.right - r.left, 80);
    EXPECT_EQ(::SendMessageA(box->window, BM_GETCHECK, 0, 0), BST_CHECKED);

    SetCaption(form, "Pelorin - Selected PID: 1234 [notepad.exe]");
    EXPECT_EQ(WindowText(form->window), "Pelorin - Selected PID: 1234 [notepad.exe]");
}

TEST_F(LayerTest, SizeSettersKeepADimensionGivenAsZero) {
    Control* panel = CreatePanel(form, 2);
    SetPosition(panel, 5, 6);
    SetSize(panel, 120, 40);
    SetSize(panel, 0, 70);
    EXPECT_EQ(Width(panel), 120);
    EXPECT_EQ(Height(panel), 70);
    SetSize(panel, 90, 0);
    EXPECT_EQ(Width(panel), 90);
    EXPECT_EQ(Height(panel), 70);
    EXPECT_EQ(Left(panel), 5);
    EXPECT_EQ(Top(panel), 6);

    SetWidth(panel, 50);
    SetLeft(panel, 30);
    EXPECT_EQ(Left(panel), 30);
    EXPECT_EQ(Width(panel), 50);

    ShowForm();
    RECT client;
    ::GetClientRect(form->window, &client);
    EXPECT_EQ(client.right, 400);  // set before the window existed
    EXPECT_EQ(client.bottom, 300);

    SetClientSize(form, 509, 342);
    Pump();
    ::GetClientRect(form->window, &client);
    EXPECT_EQ(client.right, 509);
    EXPECT_EQ(client.bottom, 342);
    SetClientSize(form, 0, 200);
    Pump();
    ::GetClientRect(form->window, &client);
    EXPECT_EQ(client.right, 509);
    EXPECT_EQ(client.bottom, 200);

    // The outer bounds read back are the window's.
    RECT outer;
    ::GetWindowRect(form->window, &outer);
    EXPECT_EQ(Width(form), outer.right - outer.left);
    EXPECT_EQ(Height(form), outer.bottom - outer.top);
    EXPECT_EQ(Left(form), outer.left);
}

TEST_F(LayerTest, AlignedControlsStackInCreationOrderAndFollowTheParent) {
    Control* top1 = CreatePanel(form, 2);
    SetAlign(top1, kAlignTop);
    SetHeight(top1, 50);
    Control* client = CreateListView(form, 3, 0);
    SetAlign(client, kAlignClient);
    Control* bottom1 = CreatePanel(form, 2);
    SetAlign(bottom1, kAlignBottom);
    SetHeight(bottom1, 60);
    Control* top2 = CreatePanel(form, 2);
    SetAlign(top2, kAlignTop);
    SetHeight(top2, 20);
    Control* bottom2 = CreateSplitter(form, 0, 0);
    SetAlign(bottom2, kAlignBottom);
    SetHeight(bottom2, 5);

    ShowForm();
    auto expect = [](Control* c, int l, int t, int r, int b) {
        const RECT w = ChildRect(c->window);
        EXPECT_EQ(c->left, l);
        EXPECT_EQ(c->top, t);
        EXPECT_EQ(c->right, r);
        EXPECT_EQ(c->bottom, b);
        EXPECT_EQ(w.left, l);
        EXPECT_EQ(w.top, t);
        EXPECT_EQ(w.right, r);
        EXPECT_EQ(w.bottom, b);
    };
    expect(top1, 0, 0, 400, 50);
    expect(top2, 0, 50, 400, 70);
    expect(bottom1, 0, 240, 400, 300);
    expect(bottom2, 0, 235, 400, 240);
    expect(client, 0, 70, 400, 235);

    SetClientSize(form, 500, 400);
    Pump();
    expect(top1, 0, 0, 500, 50);
    expect(bottom1, 0, 340, 500, 400);
    expect(client, 0, 70, 500, 335);

    // Changing an aligned control's height, or hiding it, lays the rest out again.
    SetHeight(bottom1, 180);
    expect(bottom1, 0, 220, 500, 400);
    expect(client, 0, 70, 500, 215);
    SetVisible(top1, false);
    expect(top2, 0, 0, 500, 20);
    expect(client, 0, 20, 500, 215);
}

TEST_F(LayerTest, AnchorsKeepDistancesToTheChosenEdges) {
    Control* panel = CreatePanel(form, 2);
    SetAlign(panel, kAlignTop);
    SetHeight(panel, 100);
    Control* closeLabel = CreateLabel(panel, " X");
    SetPosition(closeLabel, 376, 0);
    SetSize(closeLabel, 20, 14);
    SetAnchors(closeLabel, false, true, true, false);
    Control* fixed = CreateLabel(panel, "fixed");
    SetPosition(fixed, 8, 8);
    Control* grows = CreateListView(panel, 3, 0);
    SetPosition(grows, 5, 24);
    SetSize(grows, 385, 70);
    SetAnchors(grows, true, true, true, true);

    ShowForm();
    SetClientSize(form, 500, 0);
    Pump();
    EXPECT_EQ(Left(closeLabel), 476);  // right edge only: it moves
    EXPECT_EQ(Width(closeLabel), 20);
    EXPECT_EQ(ChildRect(closeLabel->window).left, 476);
    EXPECT_EQ(Left(fixed), 8);
    EXPECT_EQ(Width(grows), 485);  // all four: it grows

    SetHeight(panel, 150);
    EXPECT_EQ(Height(grows), 120);
    EXPECT_EQ(Top(grows), 24);
    EXPECT_EQ(Top(closeLabel), 0);
    const RECT r = ChildRect(grows->window);
    EXPECT_EQ(r.bottom - r.top, 120);

    // Anchors also work while no window exists yet.
    Control* other = CreateForm(app, "second");
    SetClientSize(other, 200, 100);
    Control* corner = CreatePanel(other, 2);
    SetPosition(corner, 150, 50);
    SetSize(corner, 40, 40);
    SetAnchors(corner, false, false, true, true);
    SetClientSize(other, 300, 200);
    EXPECT_EQ(Left(corner), 250);
    EXPECT_EQ(Top(corner), 150);
}

TEST_F(LayerTest, AutoSizeMeasuresTheCaptionWithTheControlsOwnFont) {
    Control* label = CreateLabel(form, "ab");
    SetFontHeight(Font(label), 8);
    SetAutoSize(label, true);
    const std::int32_t shortWidth = Width(label);
    EXPECT_GT(shortWidth, 0);
    EXPECT_GT(Height(label), 0);
    SetCaption(label, "a much longer caption than before");
    EXPECT_GT(Width(label), shortWidth * 4);

    // A larger font gives a larger label.
    const std::int32_t smallHeight = Height(label);
    const std::int32_t smallWidth = Width(label);
    SetFontHeight(Font(label), 24);
    EXPECT_GT(Height(label), smallHeight);
    EXPECT_GT(Width(label), smallWidth);

    // A check box adds the box to its caption.
    Control* box = CreateCheckBox(form, "a much longer caption than before");
    SetFontHeight(Font(box), 8);
    SetAutoSize(box, true);
    EXPECT_GT(Width(box), smallWidth + ::GetSystemMetrics(SM_CXMENUCHECK) - 1);

    // Without auto-size the size stays as set.
    SetAutoSize(label, false);
    SetSize(label, 10, 10);
    SetCaption(label, "longer and longer and longer");
    EXPECT_EQ(Width(label), 10);
}

TEST_F(LayerTest, FontsFollowTheParentAndChangeOnlyOnANewValue) {
    SetFontName(Font(form), "MS Sans Serif");
    SetFontColor(Font(form), 0x123456);
    Control* label = CreateLabel(form, "text");
    ASSERT_NE(label->font, nullptr);
    EXPECT_EQ(label->font->face, "MS Sans Serif");
    EXPECT_EQ(label->font->color, 0x123456u);

    SetFontStyle(Font(label), kFontBold);
    EXPECT_EQ(label->font->weight, 700);
    SetFontStyle(Font(label), kFontItalic);
    EXPECT_EQ(label->font->weight, FW_NORMAL);

    Control* button = CreateButton(form, "Test");
    SetFontHeight(Font(button), 8);
    ShowForm();
    const auto first = reinterpret_cast<HFONT>(::SendMessageA(button->window, WM_GETFONT, 0, 0));
    ASSERT_NE(first, nullptr);
    LOGFONTA lf = {};
    ASSERT_NE(::GetObjectA(first, sizeof lf, &lf), 0);
    EXPECT_EQ(lf.lfHeight, 8);  // passed on unchanged
    EXPECT_STREQ(lf.lfFaceName, "MS Sans Serif");

    SetFontHeight(Font(button), 8);  // equal: nothing happens
    EXPECT_EQ(reinterpret_cast<HFONT>(::SendMessageA(button->window, WM_GETFONT, 0, 0)), first);
    SetFontHeight(Font(button), 6);
    const auto second = reinterpret_cast<HFONT>(::SendMessageA(button->window, WM_GETFONT, 0, 0));
    EXPECT_NE(second, first);
    EXPECT_EQ(::GetObjectType(first), 0u);  // the dropped font was deleted
    ASSERT_NE(::GetObjectA(second, sizeof lf, &lf), 0);
    EXPECT_EQ(lf.lfHeight, 6);
}

TEST_F(LayerTest, ColoursPaintLabelsAndReachButtonsThroughTheParent) {
    Control* label = CreateLabel(form, "");
    SetPosition(label, 10, 10);
    SetSize(label, 40, 20);
    SetColor(label, 0x0000FF);  // 0x00BBGGRR: red
    Control* panel = CreatePanel(form, 2);
    SetPosition(panel, 60, 10);
    SetSize(panel, 40, 20);
    SetColor(panel, 0x80000005);  // COLOR_WINDOW
    SetColor(form, 0xC0C0C0);
    Control* box = CreateCheckBox(form, "On Top");  // takes the form's colour
    SetFontColor(Font(box), 0x00FF00);
    ShowForm();
    PumpFor(100);

    {
        ScopedWindowDC dc(label->window);
        EXPECT_EQ(::GetPixel(dc.Get(), 5, 5), RGB(255, 0, 0));
    }
    {
        ScopedWindowDC dc(panel->window);
        EXPECT_EQ(::GetPixel(dc.Get(), 5, 5), ::GetSysColor(COLOR_WINDOW));
    }
    ScopedWindowDC dc(box->window);
    const auto brush = reinterpret_cast<HBRUSH>(
        ::SendMessageA(form->window, WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(dc.Get()), reinterpret_cast<LPARAM>(box->window)));
    LOGBRUSH lb = {};
    ASSERT_NE(::GetObjectA(brush, sizeof lb, &lb), 0);
    EXPECT_EQ(lb.lbColor, RGB(0xC0, 0xC0, 0xC0));
    EXPECT_EQ(::GetTextColor(dc.Get()), RGB(0, 255, 0));
}

TEST_F(LayerTest, BordersCanBeRemovedAndGivenBack) {
    Control* list = CreateListView(form, 3, 0);
    ShowForm();
    EXPECT_TRUE(::GetWindowLongPtrA(list->window, GWL_EXSTYLE) & WS_EX_CLIENTEDGE);
    SetHasBorder(list, false);
    EXPECT_FALSE(::GetWindowLongPtrA(list->window, GWL_EXSTYLE) & WS_EX_CLIENTEDGE);

    EXPECT_TRUE(::GetWindowLongPtrA(form->window, GWL_STYLE) & WS_CAPTION);
    SetHasBorder(form, false);
    LONG_PTR style = ::GetWindowLongPtrA(form->window, GWL_STYLE);
    EXPECT_TRUE(style & WS_POPUP);
    EXPECT_FALSE(style & WS_CAPTION);
    EXPECT_FALSE(style & WS_THICKFRAME);
    SetHasBorder(form, true);
    style = ::GetWindowLongPtrA(form->window, GWL_STYLE);
    EXPECT_TRUE(style & WS_CAPTION);
    EXPECT_FALSE(style & WS_POPUP);
}

struct MouseLog {
    std::vector<std::uint8_t> buttons;
    int clicks = 0;
};

void RecordMouse(MouseLog& log, Control*, const MouseInfo& mouse) {
    // The first byte of the record is the button.
    log.buttons.push_back(*reinterpret_cast<const std::uint8_t*>(&mouse));
}

void RecordClick(MouseLog& log, Control*) { ++log.clicks; }

TEST_F(LayerTest, MouseDownReportsTheButtonAndALabelClickFollowsTheLeftPress) {
    MouseLog log;
    Control* label = CreateLabel(form, "drag me");
    SetSize(label, 60, 20);
    SetOnMouseDown(label, MakeMouseHandler<&RecordMouse>(log));
    SetOnClick(label, MakeNotify<&RecordClick>(log));
    SetOnMouseDown(form, MakeMouseHandler<&RecordMouse>(log));
    ShowForm();

    ::SendMessageA(label->window, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(3, 3));
    ::SendMessageA(label->window, WM_LBUTTONUP, 0, MAKELPARAM(3, 3));
    ::SendMessageA(label->window, WM_RBUTTONDOWN, MK_RBUTTON, MAKELPARAM(3, 3));
    ::SendMessageA(label->window, WM_RBUTTONUP, 0, MAKELPARAM(3, 3));
    ::SendMessageA(form->window, WM_MBUTTONDOWN, MK_MBUTTON, MAKELPARAM(200, 200));
    ::SendMessageA(form->window, WM_MBUTTONUP, 0, MAKELPARAM(200, 200));
    EXPECT_EQ(log.buttons, (std::vector<std::uint8_t>{1, 2, 3}));
    EXPECT_EQ(log.clicks, 1);
}

TEST_F(LayerTest, DragMoveAndCloseWindowPostTheirMessages) {
    ShowForm();
    Pump();
    DragMove(form);
    MSG message = {};
    ASSERT_TRUE(::PeekMessageA(&message, form->window, WM_SYSCOMMAND, WM_SYSCOMMAND, PM_REMOVE));
    EXPECT_EQ(message.wParam, 0xF012u);
    CloseWindow(form);
    ASSERT_TRUE(::PeekMessageA(&message, form->window, WM_CLOSE, WM_CLOSE, PM_REMOVE));
}

struct CloseLog {
    int calls = 0;
    bool refuse = false;
};

void CountClose(CloseLog& log, Control*, bool& accept) {
    ++log.calls;
    if (log.refuse) accept = false;
}

TEST_F(LayerTest, AcceptedCloseRunsTheHandlerOnceAndEndsTheLoop) {
    CloseLog log;
    SetOnClose(form, MakeCloseHandler<&CountClose>(log));
    ShowForm();

    log.refuse = true;
    ::SendMessageA(form->window, WM_CLOSE, 0, 0);
    EXPECT_EQ(log.calls, 1);
    EXPECT_FALSE(TerminateRequested(app));

    log.refuse = false;
    ::SendMessageA(form->window, WM_CLOSE, 0, 0);
    EXPECT_EQ(log.calls, 2);
    EXPECT_TRUE(TerminateRequested(app));
    EXPECT_TRUE(::IsWindow(form->window));  // destroyed only when Run ends

    // The session ending after the close does not run the handler again.
    EXPECT_EQ(::SendMessageA(form->window, WM_QUERYENDSESSION, 0, 0), TRUE);
    ::SendMessageA(form->window, WM_ENDSESSION, TRUE, 0);
    ::SendMessageA(form->window, WM_CLOSE, 0, 0);
    EXPECT_EQ(log.calls, 2);
    MSG message;
    EXPECT_TRUE(::PeekMessageA(&message, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
}

TEST_F(LayerTest, SessionEndTakesTheClosePath) {
    CloseLog log;
    SetOnClose(form, MakeCloseHandler<&CountClose>(log));
    ShowForm();
    ::SendMessageA(form->window, WM_ENDSESSION, FALSE, 0);  // the session goes on
    EXPECT_EQ(log.calls, 0);
    ::SendMessageA(form->window, WM_ENDSESSION, TRUE, 0);
    EXPECT_EQ(log.calls, 1);
    EXPECT_TRUE(TerminateRequested(app));
}

void CALLBACK PostCloseToForeground(HWND, UINT, UINT_PTR timer, DWORD) noexcept {
    ::KillTimer(nullptr, timer);
    ::PostMessageA(::GetForegroundWindow(), WM_CLOSE, 0, 0);
}
void CALLBACK EndMenuAfterAll(HWND, UINT, UINT_PTR timer, DWORD) noexcept {
    ::KillTimer(nullptr, timer);
    ::EndMenu();
}

// Another program's WM_CLOSE (or the session's end) while a popup menu is
// open: the close ends the menu's loop, so Run can end, instead of waiting
// for the user to dismiss it.
TEST_F(LayerTest, ACloseWhileAPopupMenuIsOpenEndsTheMenu) {
    CloseLog log;
    SetOnClose(form, MakeCloseHandler<&CountClose>(log));
    Control* panel = CreatePanel(form, 2);
    SetPosition(panel, 10, 10);
    SetSize(panel, 100, 60);
    CreateMenu(form, {});  // a form's first menu is its bar
    AttachPopupMenu(panel, CreateMenu(form, {"Item"}));
    const HWND window = ShowForm();
    ::SetForegroundWindow(window);
    const UINT_PTR close = ::SetTimer(nullptr, 0, 300, PostCloseToForeground);
    const UINT_PTR safety = ::SetTimer(nullptr, 0, 5000, EndMenuAfterAll);

    POINT at = {20, 20};
    ::ClientToScreen(panel->window, &at);
    const DWORD start = ::GetTickCount();
    // Returns when the menu's loop has ended.
    ::SendMessageA(panel->window, WM_CONTEXTMENU, reinterpret_cast<WPARAM>(panel->window), MAKELPARAM(at.x, at.y));
    const DWORD open = ::GetTickCount() - start;
    ::KillTimer(nullptr, close);
    ::KillTimer(nullptr, safety);
    EXPECT_EQ(log.calls, 1);
    EXPECT_TRUE(TerminateRequested(app));
    EXPECT_LT(open, 2000u) << "the menu stayed open after the close";
}

TEST_F(LayerTest, DraggingTheSplitterMovesTheBoundary) {
    Control* list = CreateListView(form, 3, 0);
    SetAlign(list, kAlignClient);
    Control* bottom = CreatePanel(form, 2);
    SetAlign(bottom, kAlignBottom);
    SetHeight(bottom, 120);
    Control* splitter = CreateSplitter(form, 0, 0);
    SetAlign(splitter, kAlignBottom);
    SetHeight(splitter, 5);
    ShowForm();
    EXPECT_EQ(Top(splitter), 175);
    EXPECT_EQ(Height(list), 175);

    // The vertical-resize cursor over it.
    ::SendMessageA(splitter->window, WM_SETCURSOR, reinterpret_cast<WPARAM>(splitter->window), MAKELPARAM(HTCLIENT, WM_MOUSEMOVE));
    EXPECT_EQ(::GetCursor(), ::LoadCursorA(nullptr, IDC_SIZENS));

    ::SendMessageA(splitter->window, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(10, 2));
    ::SendMessageA(splitter->window, WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM(10, -28));
    ::SendMessageA(splitter->window, WM_LBUTTONUP, 0, MAKELPARAM(10, -28));
    Pump();
    EXPECT_EQ(Height(bottom), 150);
    EXPECT_EQ(Top(bottom), 150);
    EXPECT_EQ(Top(splitter), 145);
    EXPECT_EQ(Height(list), 145);
    EXPECT_EQ(ChildRect(bottom->window).top, 150);

    // Dragging far down stops at the least size (0 here).
    ::SendMessageA(splitter->window, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(10, 2));
    ::SendMessageA(splitter->window, WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM(10, 500));
    ::SendMessageA(splitter->window, WM_LBUTTONUP, 0, MAKELPARAM(10, 500));
    EXPECT_EQ(Height(bottom), 0);
    // ... and far up at what the rest can give.
    ::SendMessageA(splitter->window, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(10, 2));
    ::SendMessageA(splitter->window, WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM(10, -1000));
    ::SendMessageA(splitter->window, WM_LBUTTONUP, 0, MAKELPARAM(10, -1000));
    EXPECT_EQ(Height(bottom), 295);
    EXPECT_EQ(Height(list), 0);
}

TEST_F(LayerTest, CursorsAreShownOverTheirControls) {
    Control* label = CreateLabel(form, " X");
    const HCURSOR hand = ::LoadCursorA(nullptr, IDC_HAND);
    SetCursor(label, hand);
    ShowForm();
    ::SendMessageA(label->window, WM_SETCURSOR, reinterpret_cast<WPARAM>(label->window), MAKELPARAM(HTCLIENT, WM_MOUSEMOVE));
    EXPECT_EQ(::GetCursor(), hand);
}

struct DestroyLog {
    std::vector<std::string> order;
};

void RecordDestroy(DestroyLog& log, Control* sender) { log.order.push_back(sender->caption); }

TEST_F(LayerTest, DestroyingAnOwnerDestroysWhatItOwnsAndRunsOnDestroy) {
    DestroyLog log;
    Control* panel = CreatePanel(form, 2);
    panel->caption = "panel";
    Control* label = CreateLabel(panel, "label");
    AddToAutoFree(form, label);  // as the program does: everything on the form's list
    EXPECT_TRUE(panel->autoFree.empty());
    label->onDestroy = MakeNotify<&RecordDestroy>(log);
    panel->onDestroy = MakeNotify<&RecordDestroy>(log);
    form->onDestroy = MakeNotify<&RecordDestroy>(log);
    ShowForm();
    const HWND labelWindow = label->window;

    Destroy(form);
    form = nullptr;
    EXPECT_EQ(log.order, (std::vector<std::string>{"Layer test form", "label", "panel"}));
    EXPECT_FALSE(::IsWindow(labelWindow));
    EXPECT_EQ(app->mainForm, nullptr);
}

}  // namespace
}  // namespace pelorin
