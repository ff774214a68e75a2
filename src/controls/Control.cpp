#include "controls/Control.h"

#include <algorithm>

#include "controls/AppObject.h"
#include "controls/WindowCore.h"

namespace pelorin {
namespace {

void EraseFrom(std::vector<LayerObject*>& list, LayerObject* object) {
    list.erase(std::remove(list.begin(), list.end(), object), list.end());
}

void FontChanged(ControlFont& font) {
    if (font.control != nullptr) core::RenewFont(*font.control);
}

}  // namespace

LayerObject::~LayerObject() = default;

Control::~Control() {
    if (onDestroy) {
        const NotifyEvent handler = onDestroy;
        onDestroy = {};
        handler(this);
    }
    if (window != nullptr) {
        // Child windows go with it; each clears its own record's window.
        if (core::OnInterfaceThread(*this)) {
            ::DestroyWindow(window);
        } else {
            core::ForgetWindow(*this);
        }
        window = nullptr;
    }
    while (!autoFree.empty()) {
        LayerObject* object = autoFree.back();
        autoFree.pop_back();
        object->owner = nullptr;
        delete object;
    }
    if (kind == ControlKind::Form) core::ForgetMenusOf(*this);
    for (Control* child : children) child->parent = nullptr;
    children.clear();
    if (parent != nullptr) {
        auto& siblings = parent->children;
        siblings.erase(std::remove(siblings.begin(), siblings.end(), this), siblings.end());
        if (parent->mainForm == this) parent->mainForm = nullptr;
    }
    if (font) core::DropFontHandle(*font);
    if (brush) core::CountBrush(-1);
    if (kind == ControlKind::App) core::ForgetAppObject(this);
}

void Destroy(Control* control) {
    if (control == nullptr) return;
    if (control->owner != nullptr) EraseFrom(control->owner->autoFree, control);
    control->owner = nullptr;
    delete control;
}

void AddToAutoFree(Control* owner, LayerObject* object) {
    if (owner == nullptr || object == nullptr || object == owner || object->owner == owner) return;
    if (object->owner != nullptr) EraseFrom(object->owner->autoFree, object);
    object->owner = owner;
    owner->autoFree.push_back(object);
}

void SetCaption(Control* c, std::string_view text) {
    if (c == nullptr) return;
    c->caption.assign(text);
    if (c->window != nullptr) ::SetWindowTextA(c->window, c->caption.c_str());
    core::UpdateAutoSize(*c);
    core::Repaint(*c);
}

std::string Caption(const Control* c) { return c ? c->caption : std::string(); }

std::int32_t Left(const Control* c) { return c ? core::Unscale(*c, c->left) : 0; }
std::int32_t Top(const Control* c) { return c ? core::Unscale(*c, c->top) : 0; }
std::int32_t Width(const Control* c) { return c ? core::Unscale(*c, c->right - c->left) : 0; }
std::int32_t Height(const Control* c) { return c ? core::Unscale(*c, c->bottom - c->top) : 0; }

// The setters change what they set and keep the other pixels as they are.
void SetLeft(Control* c, std::int32_t value) {
    if (c == nullptr) return;
    const std::int32_t left = core::Scale(*c, value);
    core::SetBounds(*c, left, c->top, left + (c->right - c->left), c->bottom);
}

void SetTop(Control* c, std::int32_t value) {
    if (c == nullptr) return;
    const std::int32_t top = core::Scale(*c, value);
    core::SetBounds(*c, c->left, top, c->right, top + (c->bottom - c->top));
}

void SetWidth(Control* c, std::int32_t value) {
    if (c) core::SetBounds(*c, c->left, c->top, c->left + core::Scale(*c, value), c->bottom);
}

void SetHeight(Control* c, std::int32_t value) {
    if (c) core::SetBounds(*c, c->left, c->top, c->right, c->top + core::Scale(*c, value));
}

void SetPosition(Control* c, std::int32_t left, std::int32_t top) {
    SetLeft(c, left);
    SetTop(c, top);
}

void SetSize(Control* c, std::int32_t width, std::int32_t height) {
    if (c == nullptr) return;
    const std::int32_t w = width != 0 ? core::Scale(*c, width) : c->right - c->left;
    const std::int32_t h = height != 0 ? core::Scale(*c, height) : c->bottom - c->top;
    core::SetBounds(*c, c->left, c->top, c->left + w, c->top + h);
}

SIZE ClientSize(const Control* c) {
    if (c == nullptr) return {0, 0};
    const SIZE pixels = core::ClientPixels(*c);
    return {core::Unscale(*c, pixels.cx), core::Unscale(*c, pixels.cy)};
}

void SetClientSize(Control* c, std::int32_t width, std::int32_t height) {
    if (c == nullptr) return;
    const SIZE client = core::ClientPixels(*c);
    std::int32_t w = c->right - c->left;
    std::int32_t h = c->bottom - c->top;
    if (width > 0) w = core::Scale(*c, width) + (w - client.cx);
    if (height > 0) h = core::Scale(*c, height) + (h - client.cy);
    core::SetBounds(*c, c->left, c->top, c->left + w, c->top + h);
}

RECT PixelBounds(const Control* c) { return c ? RECT{c->left, c->top, c->right, c->bottom} : RECT{}; }

void SetPixelBounds(Control* c, const RECT& r) {
    if (c) core::SetBounds(*c, r.left, r.top, r.right, r.bottom);
}

void SetAlign(Control* c, Align align) {
    if (c == nullptr) return;
    c->align = align;
    if (c->parent != nullptr) core::Realign(*c->parent);
}

void SetAnchors(Control* c, bool left, bool top, bool right, bool bottom) {
    if (c) c->anchors = Anchors{left, top, right, bottom};
}

void SetColor(Control* c, ColorValue color) {
    if (c == nullptr) return;
    c->color = color;
    if (c->kind == ControlKind::ListView) {
        core::ApplyListColors(*c);
    } else {
        core::Repaint(*c);
    }
}

void SetVisible(Control* c, bool visible) {
    if (c == nullptr) return;
    c->visible = visible;
    core::ComputeStyles(*c);
    if (c->window != nullptr) ::ShowWindow(c->window, visible ? SW_SHOW : SW_HIDE);
    if (c->align != kAlignNone && c->parent != nullptr) core::Realign(*c->parent);
}

void SetHasBorder(Control* c, bool border) {
    if (c == nullptr) return;
    c->border = border;
    core::ComputeStyles(*c);
    if (c->window == nullptr) {
        core::Realign(*c);  // the client area changed with the frame
        return;
    }
    const bool form = c->kind == ControlKind::Form;
    const DWORD styleMask = form ? (WS_OVERLAPPEDWINDOW | WS_POPUP) : WS_BORDER;
    const DWORD exMask = form ? 0 : WS_EX_CLIENTEDGE;
    const auto style = static_cast<DWORD>(::GetWindowLongPtrA(c->window, GWL_STYLE));
    const auto ex = static_cast<DWORD>(::GetWindowLongPtrA(c->window, GWL_EXSTYLE));
    ::SetWindowLongPtrA(c->window, GWL_STYLE, static_cast<LONG_PTR>((style & ~styleMask) | (c->style & styleMask)));
    ::SetWindowLongPtrA(c->window, GWL_EXSTYLE, static_cast<LONG_PTR>((ex & ~exMask) | (c->exStyle & exMask)));
    ::SetWindowPos(c->window, nullptr, 0, 0, 0, 0,
                   SWP_FRAMECHANGED | SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    core::Realign(*c);
}

void SetAutoSize(Control* c, bool autoSize) {
    if (c == nullptr) return;
    c->autoSize = autoSize;
    core::UpdateAutoSize(*c);
}

void SetCursor(Control* c, HCURSOR cursor) {
    if (c) c->cursor = cursor;
}

void SetOnClick(Control* c, NotifyEvent handler) {
    if (c) c->onClick = handler;
}

void SetOnClose(Control* c, CloseEvent handler) {
    if (c) c->onClose = handler;
}

void SetOnKeyDown(Control* c, KeyEvent handler) {
    if (c) c->onKeyDown = handler;
}

void SetOnMouseDown(Control* c, MouseEvent handler) {
    if (c) c->onMouseDown = handler;
}

void CloseWindow(Control* c) {
    if (const HWND window = Handle(c)) ::PostMessageA(window, WM_CLOSE, 0, 0);
}

void DragMove(Control* c) {
    if (const HWND window = Handle(c)) ::PostMessageA(window, WM_SYSCOMMAND, 0xF012, 0);
}

ControlFont* Font(Control* c) {
    if (c == nullptr) return nullptr;
    if (!c->font) {
        c->font = std::make_unique<ControlFont>();
        c->font->control = c;
    }
    return c->font.get();
}

void SetFontColor(ControlFont* font, ColorValue color) {
    if (font == nullptr || font->color == color) return;
    font->color = color;
    if (Control* c = font->control) {
        if (c->kind == ControlKind::ListView) core::ApplyListColors(*c);
        core::Repaint(*c);
    }
}

void SetFontHeight(ControlFont* font, std::int32_t height) {
    if (font == nullptr || font->height == height) return;
    font->height = height;
    FontChanged(*font);
}

void SetFontName(ControlFont* font, std::string_view face) {
    if (font == nullptr) return;
    const std::string_view cut = face.substr(0, std::min<std::size_t>(face.size(), LF_FACESIZE - 1));
    if (font->face == cut) return;
    font->face.assign(cut);
    FontChanged(*font);
}

void SetFontStyle(ControlFont* font, std::uint8_t style) {
    if (font == nullptr) return;
    std::int32_t weight = font->weight;
    if (style & kFontBold) {
        weight = std::max<std::int32_t>(weight, FW_BOLD);
    } else if (weight >= FW_BOLD) {
        weight = FW_NORMAL;
    }
    if (font->style == style && font->weight == weight) return;
    font->style = style;
    font->weight = weight;
    FontChanged(*font);
}

}  // namespace pelorin
