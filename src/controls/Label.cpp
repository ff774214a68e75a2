#include "controls/Label.h"

#include <string>

#include "controls/WindowCore.h"
#include "support/FastStrings.h"

namespace pelorin {
namespace {

// Captions are drawn and measured wide: GDI's -A functions keep the system's
// code page, not the UTF-8 one the program's texts are in.
void PaintStatic(Control& c) {
    PAINTSTRUCT paint;
    const HDC dc = ::BeginPaint(c.window, &paint);
    if (dc == nullptr) return;
    RECT r;
    ::GetClientRect(c.window, &r);
    ::FillRect(dc, &r, core::BackgroundBrush(c));
    if (c.kind == ControlKind::Panel && c.edge < 2) {
        ::DrawEdge(dc, &r, c.edge == 0 ? BDR_RAISEDINNER : BDR_SUNKENOUTER, BF_RECT);
    }
    if (!c.caption.empty()) {
        ScopedSelect font(dc, core::FontHandle(c));
        ::SetBkMode(dc, TRANSPARENT);
        ::SetTextColor(dc, ResolveColor(c.font ? c.font->color : kColorWindowText));
        const UINT format = c.kind == ControlKind::Panel ? (DT_SINGLELINE | DT_NOPREFIX | DT_CENTER | DT_VCENTER)
                                                         : (DT_SINGLELINE | DT_NOPREFIX);
        const std::wstring caption = WideFromAnsi(c.caption);
        ::DrawTextW(dc, caption.c_str(), static_cast<int>(caption.size()), &r, format);
    }
    ::EndPaint(c.window, &paint);
}

}  // namespace

Control* CreateLabel(Control* parent, std::string_view caption) {
    Control* label = core::NewControl(ControlKind::Label, parent, 64, 17);
    label->caption.assign(caption);
    return label;
}

Control* CreatePanel(Control* parent, std::uint8_t edge) {
    Control* panel = core::NewControl(ControlKind::Panel, parent, 185, 41);
    panel->edge = edge;
    return panel;
}

namespace core {

SIZE MeasureCaption(Control& c, UINT format) {
    SIZE size = {0, 0};
    ScopedWindowDC screen(nullptr);
    if (screen.Get() == nullptr) return size;
    ScopedSelect font(screen.Get(), FontHandle(c));
    if (c.caption.empty()) {
        // An empty caption keeps the height of one line.
        ::GetTextExtentPoint32W(screen.Get(), L" ", 1, &size);
        size.cx = 0;
        return size;
    }
    RECT r = {0, 0, 0, 0};
    const std::wstring caption = WideFromAnsi(c.caption);
    ::DrawTextW(screen.Get(), caption.c_str(), static_cast<int>(caption.size()), &r, format | DT_CALCRECT);
    size.cx = r.right - r.left;
    size.cy = r.bottom - r.top;
    return size;
}

bool StaticMessage(Control& c, UINT message, WPARAM, LPARAM, LRESULT& result) {
    switch (message) {
    case WM_ERASEBKGND:
        result = 1;  // WM_PAINT fills the background
        return true;
    case WM_PAINT:
        PaintStatic(c);
        result = 0;
        return true;
    case WM_LBUTTONDOWN:
        // OnMouseDown has run already (shared handling).
        if (c.onClick) {
            const NotifyEvent handler = c.onClick;
            handler(&c);
        }
        return false;
    default:
        return false;
    }
}

}  // namespace core
}  // namespace pelorin
