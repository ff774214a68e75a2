#include "controls/Splitter.h"

#include <windowsx.h>

#include <algorithm>

#include "controls/WindowCore.h"

namespace pelorin {
namespace {

// The aligned control the splitter resizes: the last visible sibling with the
// same alignment created before it.
Control* Neighbour(Control& splitter) {
    if (splitter.parent == nullptr || (splitter.align != kAlignTop && splitter.align != kAlignBottom)) return nullptr;
    Control* found = nullptr;
    for (Control* sibling : splitter.parent->children) {
        if (sibling == &splitter) break;
        if (sibling->align == splitter.align && sibling->visible) found = sibling;
    }
    return found;
}

std::int32_t PixelHeight(const Control& c) { return c.bottom - c.top; }

// Space the client-aligned controls get now, in pixels.
std::int32_t RestHeight(Control& parent) {
    std::int32_t used = 0;
    for (Control* child : parent.children) {
        if ((child->align == kAlignTop || child->align == kAlignBottom) && child->visible) used += PixelHeight(*child);
    }
    return core::ClientPixels(parent).cy - used;
}

void Paint(Control& c) {
    PAINTSTRUCT paint;
    const HDC dc = ::BeginPaint(c.window, &paint);
    if (dc == nullptr) return;
    RECT r;
    ::GetClientRect(c.window, &r);
    ::FillRect(dc, &r, core::BackgroundBrush(c));
    ::DrawEdge(dc, &r, BDR_SUNKENOUTER, BF_TOP | BF_BOTTOM);
    ::EndPaint(c.window, &paint);
}

}  // namespace

Control* CreateSplitter(Control* parent, std::int32_t minSize1, std::int32_t minSize2) {
    Control* splitter = core::NewControl(ControlKind::Splitter, parent, 100, 3);
    splitter->minSize1 = minSize1;
    splitter->minSize2 = minSize2;
    return splitter;
}

namespace core {

bool SplitterMessage(Control& c, UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) {
    switch (message) {
    case WM_SETCURSOR:
        if (reinterpret_cast<HWND>(wParam) == c.window && LOWORD(lParam) == HTCLIENT) {
            ::SetCursor(::LoadCursorA(nullptr, c.align == kAlignTop || c.align == kAlignBottom ? IDC_SIZENS : IDC_SIZEWE));
            result = TRUE;
            return true;
        }
        return false;
    case WM_LBUTTONDOWN: {
        Control* neighbour = Neighbour(c);
        if (neighbour == nullptr) return false;
        POINT p = {GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)};
        ::ClientToScreen(c.window, &p);
        c.dragging = true;
        c.dragStartX = p.x;
        c.dragStartY = p.y;
        c.dragStartSize = PixelHeight(*neighbour);
        ::SetCapture(c.window);
        result = 0;
        return true;
    }
    case WM_MOUSEMOVE: {
        if (!c.dragging) return false;
        Control* neighbour = Neighbour(c);
        if (neighbour == nullptr || c.parent == nullptr) return false;
        POINT p = {GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)};
        ::ClientToScreen(c.window, &p);
        const std::int32_t delta = p.y - c.dragStartY;
        // Dragging up grows a control below the splitter and shrinks one above it.
        std::int32_t size = c.align == kAlignBottom ? c.dragStartSize - delta : c.dragStartSize + delta;
        const std::int32_t most = PixelHeight(*neighbour) + RestHeight(*c.parent) - core::Scale(c, c.minSize2);
        size = std::min(size, most);
        size = std::max(size, std::max<std::int32_t>(core::Scale(c, c.minSize1), 0));
        if (size != PixelHeight(*neighbour))
            core::SetBounds(*neighbour, neighbour->left, neighbour->top, neighbour->right, neighbour->top + size);
        result = 0;
        return true;
    }
    case WM_LBUTTONUP:
        if (!c.dragging) return false;
        c.dragging = false;
        ::ReleaseCapture();
        result = 0;
        return true;
    case WM_CAPTURECHANGED:
        c.dragging = false;
        return false;
    case WM_ERASEBKGND:
        result = 1;
        return true;
    case WM_PAINT:
        Paint(c);
        result = 0;
        return true;
    default:
        return false;
    }
}

}  // namespace core
}  // namespace pelorin
