#include "ui/WindowBehaviour.h"

#include <windows.h>

#include "controls/Button.h"
#include "ui/MainForm.h"

namespace pelorin {

void DragWindow(MainForm& f, Control*, const MouseInfo& mouse) noexcept {
    if (mouse.button != kLeftButton) return;
    // Posted, so the press finishes first; the platform then drags the window.
    DragMove(f.Form);
}

void CloseMainWindow(MainForm& f, Control*) noexcept {
    // Posted: the close runs from the message loop like a title-bar close.
    CloseWindow(f.Form);
}

void ApplyStayOnTop(MainForm& f, bool onTop) {
    const HWND window = Handle(f.Form);
    if (window == nullptr) return;
    const RECT r = PixelBounds(f.Form);  // where it is on the screen
    ::SetWindowPos(window, onTop ? HWND_TOPMOST : HWND_NOTOPMOST, r.left, r.top, 0, 0, SWP_NOSIZE);
}

void OnTopClick(MainForm& f, Control*) noexcept {
    try {
        ApplyStayOnTop(f, GetChecked(f.chkOnTop));
    } catch (...) {
        // The window could not be created: there is nothing to raise.
    }
}

void MoreInfoClick(MainForm& f, Control*) noexcept {
    try {
        const bool on = GetChecked(f.chkMoreInfo);
        SetCaption(f.lblStat, on ? MoreInfoOnText : MoreInfoOffText);
        SetFontColor(Font(f.lblStat), on ? MoreInfoOnColor : MoreInfoOffColor);
    } catch (...) {
        // Out of memory for the caption: the label keeps its text.
    }
}

}  // namespace pelorin
