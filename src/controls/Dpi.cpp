#include "controls/Dpi.h"

#include <windows.h>
#include <commctrl.h>

#include "controls/WindowCore.h"
#include "support/SystemInfo.h"

namespace pelorin {
namespace {

// The DPI functions of user32, bound by name: most are missing before
// Windows 10, the two process-wide ones before Vista. A context is passed as the
// handle value the platform defines for it.
struct DpiFunctions {
    BOOL(WINAPI* setProcessDpiAwarenessContext)(HANDLE) = nullptr;
    BOOL(WINAPI* setProcessDpiAware)() = nullptr;
    BOOL(WINAPI* isProcessDpiAware)() = nullptr;
    UINT(WINAPI* getDpiForWindow)(HWND) = nullptr;
    int(WINAPI* getSystemMetricsForDpi)(int, UINT) = nullptr;
};

template <typename Fn>
void BindTo(const char* name, Fn& slot) {
    slot = LoadedFunction<Fn>("user32.dll", name);
}

const DpiFunctions& Functions() {
    static const DpiFunctions table = [] {
        DpiFunctions t;
        BindTo("SetProcessDpiAwarenessContext", t.setProcessDpiAwarenessContext);
        BindTo("SetProcessDPIAware", t.setProcessDpiAware);
        BindTo("IsProcessDPIAware", t.isProcessDpiAware);
        BindTo("GetDpiForWindow", t.getDpiForWindow);
        BindTo("GetSystemMetricsForDpi", t.getSystemMetricsForDpi);
        return t;
    }();
    return table;
}

HANDLE AwarenessContext(LONG_PTR value) { return reinterpret_cast<HANDLE>(value); }

// A DPI no screen has comes from no system (another program's message).
bool PlausibleDpi(std::uint32_t dpi) { return dpi >= 24 && dpi <= 2400; }

void ScaleRecords(Control& container, std::uint32_t from, std::uint32_t to) {
    for (Control* c : container.children) {
        if (c->kind == ControlKind::Form) continue;  // it keeps a DPI of its own
        const std::int32_t left = ScaleDpi(c->left, from, to), top = ScaleDpi(c->top, from, to);
        c->right = left + ScaleDpi(c->right - c->left, from, to);
        c->bottom = top + ScaleDpi(c->bottom - c->top, from, to);
        c->left = left;
        c->top = top;
        c->layoutWidth = ScaleDpi(c->layoutWidth, from, to);
        c->layoutHeight = ScaleDpi(c->layoutHeight, from, to);
        ScaleRecords(*c, from, to);
    }
}

// The windows take the scaled records, fonts made for the new DPI (auto-sized
// controls measure again) and list columns their scaled widths.
void ApplyRecords(Control& container, std::uint32_t from, std::uint32_t to) {
    for (Control* c : container.children) {
        if (c->kind == ControlKind::Form) continue;
        if (c->window != nullptr) {
            ::SetWindowPos(c->window, nullptr, c->left, c->top, c->right - c->left, c->bottom - c->top,
                           SWP_NOZORDER | SWP_NOACTIVATE);
        }
        core::RenewFont(*c);
        if (c->kind == ControlKind::ListView && c->window != nullptr) {
            for (int column = 0; column < c->columnCount; ++column) {
                const auto width = static_cast<std::int32_t>(::SendMessageA(c->window, LVM_GETCOLUMNWIDTH, column, 0));
                ::SendMessageA(c->window, LVM_SETCOLUMNWIDTH, column, MAKELPARAM(ScaleDpi(width, from, to), 0));
            }
        }
        ApplyRecords(*c, from, to);
    }
}

void RealignTree(Control& container) {
    core::Realign(container);
    for (Control* c : container.children) {
        if (c->kind != ControlKind::Form && !c->children.empty()) RealignTree(*c);
    }
}

}  // namespace

std::int32_t ScaleDpi(std::int32_t value, std::uint32_t from, std::uint32_t to) {
    if (from == to || from == 0 || to == 0) return value;
    return ::MulDiv(value, static_cast<int>(to), static_cast<int>(from));
}

void DeclareDpiAwareness() noexcept {
    const DpiFunctions& f = Functions();
    // Aware already: the manifest's choice held, and the first choice made is final.
    if (f.isProcessDpiAware != nullptr && f.isProcessDpiAware()) return;
    if (f.setProcessDpiAwarenessContext != nullptr &&
        (f.setProcessDpiAwarenessContext(AwarenessContext(-4)) ||   // per-monitor v2
         f.setProcessDpiAwarenessContext(AwarenessContext(-3)))) {  // per-monitor
        return;
    }
    if (f.setProcessDpiAware != nullptr) f.setProcessDpiAware();
}

namespace core {

std::uint32_t SystemDpi() {
    // Fixed for the life of the process once its awareness is set.
    static const std::uint32_t dpi = [] {
        const ScopedWindowDC screen(nullptr);
        const int value = screen.Get() != nullptr ? ::GetDeviceCaps(screen.Get(), LOGPIXELSY) : 0;
        return value > 0 ? static_cast<std::uint32_t>(value) : kUnitDpi;
    }();
    return dpi;
}

std::uint32_t DpiOf(const Control& c) {
    // The form whose DPI the control's lengths are in.
    const Control* form = FormOf(&c);
    return form != nullptr ? form->dpi : SystemDpi();
}

std::int32_t Scale(const Control& c, std::int32_t units) { return ScaleDpi(units, kUnitDpi, DpiOf(c)); }

std::int32_t Unscale(const Control& c, std::int32_t pixels) { return ScaleDpi(pixels, DpiOf(c), kUnitDpi); }

int MetricForDpi(int index, std::uint32_t dpi) {
    if (const auto forDpi = Functions().getSystemMetricsForDpi) return forDpi(index, dpi);
    return ScaleDpi(::GetSystemMetrics(index), SystemDpi(), dpi);
}

void AdoptWindowDpi(Control& form) {
    const auto forWindow = Functions().getDpiForWindow;
    const UINT dpi = forWindow != nullptr && form.window != nullptr ? forWindow(form.window) : 0;
    if (PlausibleDpi(dpi)) ChangeDpi(form, dpi, nullptr);
}

void DpiChanged(Control& form, WPARAM wParam, LPARAM lParam) {
    // Read, not trusted: another program can send the message with any value.
    RECT suggested = {};
    if (!::ReadProcessMemory(::GetCurrentProcess(), reinterpret_cast<LPCVOID>(lParam), &suggested, sizeof suggested,
                             nullptr) ||
        suggested.right <= suggested.left || suggested.bottom <= suggested.top || !PlausibleDpi(HIWORD(wParam)))
        return;
    // Placed by the program (a stored placement on a screen of another DPI),
    // the window keeps the pixels it was given: the suggestion is the given
    // rectangle scaled, and would scale it again at every start.
    const RECT placed = {form.left, form.top, form.right, form.bottom};
    ChangeDpi(form, HIWORD(wParam), form.placing ? &placed : &suggested);
}

void ChangeDpi(Control& form, std::uint32_t dpi, const RECT* suggested) {
    const std::uint32_t from = form.dpi;
    if (from == dpi || form.dpiChanging) return;
    form.dpi = dpi;
    // Layout waits until every length is in the new DPI.
    form.dpiChanging = true;
    ScaleRecords(form, from, dpi);
    const SIZE client = {ScaleDpi(form.layoutWidth, from, dpi), ScaleDpi(form.layoutHeight, from, dpi)};
    form.layoutWidth = client.cx;
    form.layoutHeight = client.cy;
    ApplyRecords(form, from, dpi);
    RenewFont(form);
    if (form.window != nullptr) {
        RECT r = {};
        if (suggested != nullptr) {
            r = *suggested;
        } else {
            // In place: the client area scales, the frame is the window's own.
            RECT outer = {}, inner = {};
            ::GetWindowRect(form.window, &outer);
            ::GetClientRect(form.window, &inner);
            r = {outer.left, outer.top, outer.left + client.cx + (outer.right - outer.left) - inner.right,
                 outer.top + client.cy + (outer.bottom - outer.top) - inner.bottom};
        }
        ::SetWindowPos(form.window, nullptr, r.left, r.top, r.right - r.left, r.bottom - r.top,
                       SWP_NOZORDER | SWP_NOACTIVATE);
    }
    form.dpiChanging = false;
    RealignTree(form);
    if (form.window != nullptr) ::RedrawWindow(form.window, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN);
}

}  // namespace core
}  // namespace pelorin
