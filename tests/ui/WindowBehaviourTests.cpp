// The small window behaviours on the real window: dragging by the surface
// with the left button only, the close label, "On Top" and "More Info".
#include <windows.h>

#include <gtest/gtest.h>

#include "controls/Button.h"
#include "ui/HandlerTestSupport.h"
#include "ui/MainFormFixture.h"
#include "ui/WindowBehaviour.h"

namespace pelorin {
namespace {

using testing::MainFormTest;
using testing::Pump;
using testing::PumpFor;
using testing::PumpUntil;
using testing::TextOf;

// Takes the first posted message of that kind off the form's queue before it
// runs (a real move would wait for the mouse), and reports it.
bool TakePosted(HWND window, UINT message, MSG& taken) {
    return ::PeekMessageA(&taken, window, message, message, PM_REMOVE) != FALSE;
}

TEST_F(MainFormTest, ALeftPressOnTheSurfaceMovesTheWindowOtherButtonsDoNot) {
    Build();
    const HWND window = Handle(form.Form);
    MSG taken = {};
    ASSERT_FALSE(TakePosted(window, WM_SYSCOMMAND, taken));
    for (Control* surface : {form.Form, form.pnlTop, form.lblStat, form.lblTask}) {
        ::SendMessageA(surface->window, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(1, 1));
        ASSERT_TRUE(TakePosted(window, WM_SYSCOMMAND, taken)) << surface->caption;
        EXPECT_EQ(taken.wParam, 0xF012u);
        EXPECT_EQ(taken.lParam, 0);
        ::SendMessageA(surface->window, WM_LBUTTONUP, 0, MAKELPARAM(1, 1));

        ::SendMessageA(surface->window, WM_RBUTTONDOWN, MK_RBUTTON, MAKELPARAM(1, 1));
        ::SendMessageA(surface->window, WM_RBUTTONUP, 0, MAKELPARAM(1, 1));
        ::SendMessageA(surface->window, WM_MBUTTONDOWN, MK_MBUTTON, MAKELPARAM(1, 1));
        ::SendMessageA(surface->window, WM_MBUTTONUP, 0, MAKELPARAM(1, 1));
        EXPECT_FALSE(TakePosted(window, WM_SYSCOMMAND, taken)) << surface->caption;
    }
}

TEST_F(MainFormTest, TheCloseLabelClosesByTheTitleBarsPathAndSavesOnce) {
    Build();
    const HWND window = Handle(form.Form);
    ::SendMessageA(form.lblClose->window, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(5, 5));
    // Posted, not run inside the press.
    EXPECT_EQ(testing::g_settings.saves, 0);
    EXPECT_FALSE(TerminateRequested(app));
    MSG taken = {};
    EXPECT_TRUE(TakePosted(window, WM_SYSCOMMAND, taken));  // the press also starts a drag
    ASSERT_TRUE(PumpUntil([&] { return TerminateRequested(app); }, 5000));
    EXPECT_EQ(testing::g_settings.saves, 1);
    EXPECT_TRUE(testing::g_settings.workersEndedAtSave);
    PumpFor(100);
    EXPECT_EQ(testing::g_settings.saves, 1);
}

TEST_F(MainFormTest, OnTopPutsTheWindowInTheTopmostClassAndOutKeepingItsPlace) {
    Build();
    const HWND window = form.Form->window;
    RECT before = {};
    ::GetWindowRect(window, &before);
    ASSERT_FALSE(::GetWindowLongA(window, GWL_EXSTYLE) & WS_EX_TOPMOST);

    ::SendMessageA(form.chkOnTop->window, BM_CLICK, 0, 0);
    Pump();
    EXPECT_TRUE(GetChecked(form.chkOnTop));
    EXPECT_TRUE(::GetWindowLongA(window, GWL_EXSTYLE) & WS_EX_TOPMOST);
    RECT after = {};
    ::GetWindowRect(window, &after);
    EXPECT_TRUE(::EqualRect(&before, &after));

    ::SendMessageA(form.chkOnTop->window, BM_CLICK, 0, 0);
    Pump();
    EXPECT_FALSE(GetChecked(form.chkOnTop));
    EXPECT_FALSE(::GetWindowLongA(window, GWL_EXSTYLE) & WS_EX_TOPMOST);
    ::GetWindowRect(window, &after);
    EXPECT_TRUE(::EqualRect(&before, &after));
}

// Whether any pixel of the label shows the colour.
bool Shows(HWND label, COLORREF colour) {
    ::RedrawWindow(label, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW);
    RECT r = {};
    ::GetClientRect(label, &r);
    const HDC dc = ::GetDC(label);
    bool found = false;
    for (int y = 0; y < r.bottom && !found; ++y) {
        for (int x = 0; x < r.right && !found; ++x) found = ::GetPixel(dc, x, y) == colour;
    }
    ::ReleaseDC(label, dc);
    return found;
}

TEST_F(MainFormTest, MoreInfoWritesTheStatusInLimeAndTwiceLeavesDashesInSilver) {
    Build(testing::TestModeFile::File);  // pnlTop, and so lblStat, in view
    Control* stat = form.lblStat;
    ::SendMessageA(form.chkMoreInfo->window, BM_CLICK, 0, 0);
    PumpFor(50);
    EXPECT_EQ(TextOf(stat->window), "Small Memory Leak! (todo list) ");
    EXPECT_EQ(stat->font->color, 0x00FF00u);
    EXPECT_TRUE(Shows(stat->window, RGB(0, 0xFF, 0)));

    ::SendMessageA(form.chkMoreInfo->window, BM_CLICK, 0, 0);
    PumpFor(50);
    EXPECT_FALSE(GetChecked(form.chkMoreInfo));
    EXPECT_EQ(TextOf(stat->window), "---");
    EXPECT_EQ(stat->font->color, 0xC0C0C0u);
    EXPECT_FALSE(Shows(stat->window, RGB(0, 0xFF, 0)));
    EXPECT_EQ(stat->color, 0xC0C0C0u);  // the text blends into the background
}

}  // namespace
}  // namespace pelorin
