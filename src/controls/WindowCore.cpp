#include "controls/WindowCore.h"

#include <commctrl.h>
#include <windowsx.h>

#include <algorithm>
#include <iterator>

#include "controls/AppObject.h"
#include "controls/Dpi.h"
#include "controls/ListView.h"
#include "controls/Menu.h"

namespace pelorin {
namespace {

constexpr const char* kAppClass = "PelorinApp";
constexpr const char* kFormClass = "PelorinForm";
constexpr const char* kStaticClass = "PelorinStatic";
constexpr const char* kSplitterClass = "PelorinSplitter";

LRESULT CALLBACK ControlWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) noexcept;
LRESULT CALLBACK ControlSubclassProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR id,
                                     DWORD_PTR data) noexcept;

// The layer's own window classes, for telling its windows from others.
ATOM g_classAtoms[4] = {};

bool RegisterClasses() noexcept {
    INITCOMMONCONTROLSEX icc = {sizeof icc, ICC_LISTVIEW_CLASSES | ICC_STANDARD_CLASSES};
    ::InitCommonControlsEx(&icc);

    const HINSTANCE instance = ::GetModuleHandleA(nullptr);
    const struct {
        const char* name;
        UINT style;
        LPCSTR cursor;
    } classes[] = {
        {kAppClass, 0, IDC_ARROW},
        {kFormClass, CS_DBLCLKS, IDC_ARROW},
        {kStaticClass, CS_HREDRAW | CS_VREDRAW, IDC_ARROW},
        {kSplitterClass, 0, IDC_ARROW},
    };
    for (std::size_t i = 0; i < std::size(classes); ++i) {
        const auto& c = classes[i];
        WNDCLASSEXA wc = {};
        wc.cbSize = sizeof wc;
        wc.style = c.style;
        wc.lpfnWndProc = ControlWindowProc;
        wc.hInstance = instance;
        wc.hCursor = ::LoadCursorA(nullptr, c.cursor);
        wc.lpszClassName = c.name;
        g_classAtoms[i] = ::RegisterClassExA(&wc);
    }
    return true;
}

bool IsOwnClassWindow(HWND window) {
    const auto atom = window != nullptr ? static_cast<ATOM>(::GetClassLongPtrA(window, GCW_ATOM)) : ATOM{0};
    return atom != 0 && std::find(std::begin(g_classAtoms), std::end(g_classAtoms), atom) != std::end(g_classAtoms);
}

// A window of the layer: one of its classes, or a platform control it made
// inside one (it puts no other child there). GetWindowSubclass would tell
// too, but 64-bit MinGW has no import of it.
bool IsLayerWindow(HWND window) {
    return IsOwnClassWindow(window) || IsOwnClassWindow(::GetAncestor(window, GA_PARENT));
}

// The layer's controls send their WM_COMMAND and WM_NOTIFY; a posted one
// comes from elsewhere (any program can post it, with a pointer of its
// choosing). Every posted message the thread takes from its queue passes
// here, in any loop (the layer's, a message box's, a menu's, a window move),
// and such a one goes on as WM_NULL. So does a WM_TIMER that names a
// callback for the thread or a window of the layer: the layer sets no timer
// with one (nor do its lists, which edit no labels), and dispatching it would
// call whatever address a program posted.
LRESULT CALLBACK DropPostedNotifications(int code, WPARAM removed, LPARAM lParam) noexcept {
    if (code == HC_ACTION) {
        auto& message = *reinterpret_cast<MSG*>(lParam);
        const bool notification = (message.message == WM_COMMAND || message.message == WM_NOTIFY) &&
                                  message.hwnd != nullptr && IsLayerWindow(message.hwnd);
        const bool timerCallback = message.message == WM_TIMER && message.lParam != 0 &&
                                   (message.hwnd == nullptr || IsLayerWindow(message.hwnd));
        if (notification || timerCallback) message.message = WM_NULL;
    }
    return ::CallNextHookEx(nullptr, code, removed, lParam);
}

// Once per thread that makes windows; the hook lasts as long as the thread.
void EnsureThreadHook() {
    thread_local const HHOOK hook =
        ::SetWindowsHookExA(WH_GETMESSAGE, &DropPostedNotifications, nullptr, ::GetCurrentThreadId());
    (void)hook;
}

void EnsureClasses() {
    static const bool registered = RegisterClasses();
    (void)registered;
    EnsureThreadHook();
}

const char* ClassNameOf(ControlKind kind) {
    switch (kind) {
    case ControlKind::App: return kAppClass;
    case ControlKind::Form: return kFormClass;
    case ControlKind::Label:
    case ControlKind::Panel: return kStaticClass;
    case ControlKind::Splitter: return kSplitterClass;
    case ControlKind::Button:
    case ControlKind::CheckBox: return "BUTTON";
    case ControlKind::ListView: return WC_LISTVIEWA;
    }
    return kStaticClass;
}

bool IsSubclassed(ControlKind kind) {
    return kind == ControlKind::Button || kind == ControlKind::CheckBox || kind == ControlKind::ListView;
}

// The user data is the window procedures' way back to the record (a window
// property would cost a round trip to the Wine server on every message, and a
// list on owner data draws through many messages).
void Attach(Control& control, HWND window) {
    control.window = window;
    ::SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(&control));
}

void Detach(Control& control, HWND window) {
    if (::GetWindowLongPtrA(window, GWLP_USERDATA) == reinterpret_cast<LONG_PTR>(&control))
        ::SetWindowLongPtrA(window, GWLP_USERDATA, 0);
    if (control.window == window) control.window = nullptr;
}

Control* RecordOf(HWND window) { return reinterpret_cast<Control*>(::GetWindowLongPtrA(window, GWLP_USERDATA)); }

// The child control whose window sent a notification, among the control's own children.
Control* ChildOf(const Control& control, HWND child) {
    if (child == nullptr) return nullptr;
    for (Control* c : control.children) {
        if (c->window == child) return c;
    }
    return nullptr;
}

// WM_COMMAND and WM_NOTIFY come from the window's own controls, on its own
// thread. One that another thread or program sends is no control's, and its
// pointer is not this program's to read. But a control also notifies while
// it handles a message sent from elsewhere (another program reading a list
// asks it for the texts), and that notification looks as if it came from
// there too: such a one counts only while the control it names is inside its
// own window procedure (or, for a list's header and tip, is a platform
// window of this thread), and only once its header could be read at all.
bool IsOwnNotification(const Control& control, UINT message, LPARAM lParam) {
    if (::InSendMessageEx(nullptr) == ISMEX_NOSEND) return true;
    auto sender = reinterpret_cast<HWND>(lParam);
    if (message == WM_NOTIFY) {
        NMHDR header = {};
        if (!::ReadProcessMemory(::GetCurrentProcess(), reinterpret_cast<const void*>(lParam), &header, sizeof header,
                                 nullptr))
            return false;
        sender = header.hwndFrom;
    }
    if (sender == nullptr || ::GetWindowThreadProcessId(sender, nullptr) != ::GetCurrentThreadId()) return false;
    const Control* child = ChildOf(control, sender);
    return child != nullptr ? child->inProcedure > 0 : message == WM_NOTIFY && !IsLayerWindow(sender);
}

MouseInfo MouseFrom(UINT message, WPARAM wParam, LPARAM lParam) {
    MouseInfo mouse;
    mouse.button = message == WM_LBUTTONDOWN ? kLeftButton : message == WM_RBUTTONDOWN ? kRightButton : kMiddleButton;
    mouse.x = GET_X_LPARAM(lParam);
    mouse.y = GET_Y_LPARAM(lParam);
    mouse.keys = static_cast<std::uint32_t>(wParam);
    return mouse;
}

// Messages every window of the layer handles alike; answers true when done.
bool CommonMessage(Control& control, HWND window, UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) {
    switch (message) {
    case WM_COMMAND:
        if (lParam != 0) {
            if (Control* child = ChildOf(control, reinterpret_cast<HWND>(lParam))) {
                core::ButtonCommand(*child, HIWORD(wParam));
                result = 0;
                return true;
            }
        }
        return false;
    case WM_NOTIFY: {
        const auto* header = reinterpret_cast<const NMHDR*>(lParam);
        if (header == nullptr) return false;
        Control* child = ChildOf(control, header->hwndFrom);
        if (child && child->kind == ControlKind::ListView)
            return core::ListViewNotify(*child, *header, result);
        return false;
    }
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLORBTN:
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORLISTBOX: {
        Control* child = ChildOf(control, reinterpret_cast<HWND>(lParam));
        if (child == nullptr) return false;
        const HDC dc = reinterpret_cast<HDC>(wParam);
        ::SetTextColor(dc, ResolveColor(child->font ? child->font->color : kColorWindowText));
        ::SetBkColor(dc, ResolveColor(child->color));
        result = reinterpret_cast<LRESULT>(core::BackgroundBrush(*child));
        return true;
    }
    case WM_CONTEXTMENU:
        if (control.popupMenu != nullptr) {
            core::ShowPopupMenu(control, *control.popupMenu, core::ContextMenuPoint(control, lParam));
            result = 0;
            return true;
        }
        return false;
    case WM_SETCURSOR:
        if (reinterpret_cast<HWND>(wParam) == window && LOWORD(lParam) == HTCLIENT && control.cursor != nullptr) {
            ::SetCursor(control.cursor);
            result = TRUE;
            return true;
        }
        return false;
    case WM_LBUTTONDOWN:
    case WM_RBUTTONDOWN:
    case WM_MBUTTONDOWN:
        if (control.onMouseDown) {
            const MouseEvent handler = control.onMouseDown;
            handler(&control, MouseFrom(message, wParam, lParam));
        }
        return false;  // the window's own processing goes on
    default:
        return false;
    }
}

LRESULT CALLBACK ControlWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) noexcept {
    if (message == WM_NCCREATE) {
        const auto* create = reinterpret_cast<const CREATESTRUCTA*>(lParam);
        if (auto* control = static_cast<Control*>(create->lpCreateParams)) Attach(*control, window);
    }
    Control* control = RecordOf(window);
    if (control == nullptr) return ::DefWindowProcA(window, message, wParam, lParam);

    if (message == WM_NCDESTROY) {
        Detach(*control, window);
        return ::DefWindowProcA(window, message, wParam, lParam);
    }

    if ((message == WM_COMMAND || message == WM_NOTIFY) && !IsOwnNotification(*control, message, lParam)) return 0;
    LRESULT result = 0;
    if (CommonMessage(*control, window, message, wParam, lParam, result)) return result;

    bool handled = false;
    switch (control->kind) {
    case ControlKind::App: handled = core::AppMessage(*control, message, wParam, lParam, result); break;
    case ControlKind::Form: handled = core::FormMessage(*control, message, wParam, lParam, result); break;
    case ControlKind::Label:
    case ControlKind::Panel: handled = core::StaticMessage(*control, message, wParam, lParam, result); break;
    case ControlKind::Splitter: handled = core::SplitterMessage(*control, message, wParam, lParam, result); break;
    default: break;
    }
    if (handled) return result;

    if (message == WM_SIZE && wParam != SIZE_MINIMIZED && !control->children.empty()) core::Realign(*control);
    return ::DefWindowProcA(window, message, wParam, lParam);
}

LRESULT CALLBACK ControlSubclassProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR id,
                                     DWORD_PTR) noexcept {
    Control* control = RecordOf(window);
    if (message == WM_NCDESTROY) {
        ::RemoveWindowSubclass(window, ControlSubclassProc, id);
        if (control) Detach(*control, window);
        return ::DefSubclassProc(window, message, wParam, lParam);
    }
    if (control == nullptr) return ::DefSubclassProc(window, message, wParam, lParam);
    if ((message == WM_COMMAND || message == WM_NOTIFY) && !IsOwnNotification(*control, message, lParam)) return 0;
    // What the control sends its parent meanwhile is its own (IsOwnNotification).
    ++control->inProcedure;
    LRESULT result = 0;
    if (!(control->kind == ControlKind::ListView && core::ListViewMessage(*control, message, wParam, lParam, result)) &&
        !CommonMessage(*control, window, message, wParam, lParam, result))
        result = ::DefSubclassProc(window, message, wParam, lParam);
    --control->inProcedure;
    return result;
}

std::int32_t ClampSize(std::int32_t value) { return value < 0 ? 0 : value; }

struct PendingCall {
    const void* call;
    UINT message;
};

class PendingCalls {
public:
    void Add(const void* call, UINT message) {
        ::AcquireSRWLockExclusive(&lock_);
        try {
            calls_.push_back({call, message});
        } catch (...) {
            ::ReleaseSRWLockExclusive(&lock_);
            throw;
        }
        ::ReleaseSRWLockExclusive(&lock_);
    }
    // Removes the call; true when it was there for this message (0: any).
    bool Remove(const void* call, UINT message) noexcept {
        ::AcquireSRWLockExclusive(&lock_);
        const auto it = std::find_if(calls_.begin(), calls_.end(), [&](const PendingCall& p) {
            return p.call == call && (message == 0 || p.message == message);
        });
        const bool found = it != calls_.end();
        if (found) calls_.erase(it);
        ::ReleaseSRWLockExclusive(&lock_);
        return found;
    }

private:
    SRWLOCK lock_ = SRWLOCK_INIT;
    std::vector<PendingCall> calls_;
};

PendingCalls& Pending() {
    static PendingCalls calls;
    return calls;
}

}  // namespace

COLORREF ResolveColor(ColorValue color) {
    if (color & kSystemColorFlag) return ::GetSysColor(static_cast<int>(color & 0xFF));
    return static_cast<COLORREF>(color & 0x00FFFFFF);
}

namespace core {

Control* NewControl(ControlKind kind, Control* parent, std::int32_t width, std::int32_t height) {
    auto* control = new Control;
    control->kind = kind;
    control->parent = parent;
    control->interfaceThread = parent ? parent->interfaceThread : ::GetCurrentThreadId();
    // A form's window opens at the system's DPI until it shows its own.
    if (kind == ControlKind::Form) control->dpi = SystemDpi();
    control->right = Scale(*control, width);
    control->bottom = Scale(*control, height);
    // Forms have a caption and frame, list views a sunken edge, until told otherwise.
    control->border = kind == ControlKind::Form || kind == ControlKind::ListView;
    if (parent != nullptr) {
        control->color = parent->color;
        if (parent->font) {
            control->font = std::make_unique<ControlFont>(*parent->font);
            control->font->handle = nullptr;
            control->font->control = control;
        }
        parent->children.push_back(control);
        control->owner = parent;
        parent->autoFree.push_back(control);
    }
    ComputeStyles(*control);
    // The first client size is the base the anchors measure changes from.
    const SIZE client = ClientPixels(*control);
    control->layoutKnown = true;
    control->layoutWidth = client.cx;
    control->layoutHeight = client.cy;
    return control;
}

void RegisterCall(const void* call, UINT message) { Pending().Add(call, message); }

void ForgetCall(const void* call) noexcept { Pending().Remove(call, 0); }

bool TakeCall(const void* call, UINT message) noexcept {
    // Registered calls come only by SendMessage from another thread of this
    // process; a posted message is never one.
    if ((::InSendMessageEx(nullptr) & ISMEX_SEND) == 0) return false;
    return Pending().Remove(call, message);
}

bool OnInterfaceThread(const Control& control) { return ::GetCurrentThreadId() == control.interfaceThread; }

void ComputeStyles(Control& c) {
    const WindowStyles styles = StylesOf(c);
    c.style = styles.style;
    c.exStyle = styles.exStyle;
}

void ForgetWindow(Control& c) {
    if (c.window != nullptr) Detach(c, c.window);
    c.window = nullptr;
}

WindowStyles StylesOf(const Control& c) {
    DWORD style = 0;
    DWORD ex = 0;
    const DWORD visible = c.visible ? WS_VISIBLE : 0;
    switch (c.kind) {
    case ControlKind::App: break;
    case ControlKind::Form:
        style = WS_CLIPCHILDREN | (c.border ? WS_OVERLAPPEDWINDOW : WS_POPUP);
        break;
    case ControlKind::Label:
    case ControlKind::Panel:
    case ControlKind::Splitter:
        style = WS_CHILD | WS_CLIPSIBLINGS | WS_CLIPCHILDREN | visible;
        if (c.border) ex = WS_EX_CLIENTEDGE;
        break;
    case ControlKind::Button:
        style = WS_CHILD | WS_CLIPSIBLINGS | WS_TABSTOP | BS_PUSHBUTTON | visible;
        break;
    case ControlKind::CheckBox:
        style = WS_CHILD | WS_CLIPSIBLINGS | WS_TABSTOP | BS_AUTOCHECKBOX | visible;
        break;
    case ControlKind::ListView: {
        // View styles as the program numbers them: 0 icon, 1 small icon, 2 list, 3 report.
        static const DWORD views[] = {LVS_ICON, LVS_SMALLICON, LVS_LIST, LVS_REPORT};
        // Owner data: the layer keeps the rows, the platform list draws what it shows.
        style = WS_CHILD | WS_CLIPSIBLINGS | WS_TABSTOP | LVS_SINGLESEL | LVS_SHOWSELALWAYS | LVS_OWNERDATA |
                (c.viewStyle < 4 ? views[c.viewStyle] : LVS_REPORT) | visible;
        if (c.border) ex = WS_EX_CLIENTEDGE;
        break;
    }
    }
    return {style, ex};
}

void CreateWindowTree(Control& c) {
    if (!OnInterfaceThread(c)) return;
    EnsureClasses();
    if (c.window == nullptr) {
        ComputeStyles(c);
        HWND parentWindow = nullptr;
        if (c.kind == ControlKind::App) {
            parentWindow = HWND_MESSAGE;
        } else if (c.kind != ControlKind::Form) {
            if (c.parent == nullptr || c.parent->window == nullptr) return;
            parentWindow = c.parent->window;
        }
        const bool own = !IsSubclassed(c.kind);
        // The form is shown by Run (or SetVisible), not at creation.
        const DWORD style = c.kind == ControlKind::Form ? (c.style & ~WS_VISIBLE) : c.style;
        const HWND window = ::CreateWindowExA(c.exStyle, ClassNameOf(c.kind), c.caption.c_str(), style, c.left, c.top,
                                              ClampSize(c.right - c.left), ClampSize(c.bottom - c.top), parentWindow,
                                              nullptr, ::GetModuleHandleA(nullptr), own ? &c : nullptr);
        if (window == nullptr) return;
        if (!own) {
            Attach(c, window);
            ::SetWindowSubclass(window, ControlSubclassProc, 1, 0);
        }
        if (c.kind != ControlKind::App) ::SendMessageA(window, WM_SETFONT, reinterpret_cast<WPARAM>(FontHandle(c)), FALSE);
        if (c.kind == ControlKind::CheckBox) ::SendMessageA(window, BM_SETCHECK, c.checked ? BST_CHECKED : BST_UNCHECKED, 0);
        if (c.kind == ControlKind::ListView) {
            DWORD ex = 0;
            if (c.options & (1u << 11)) ex |= LVS_EX_GRIDLINES;
            if (c.options & (1u << 16)) ex |= LVS_EX_FULLROWSELECT;
            // Cells too narrow for their text show it whole in a tip.
            ex |= LVS_EX_LABELTIP | LVS_EX_INFOTIP;
            ::SendMessageA(window, LVM_SETEXTENDEDLISTVIEWSTYLE,
                           LVS_EX_GRIDLINES | LVS_EX_FULLROWSELECT | LVS_EX_LABELTIP | LVS_EX_INFOTIP, ex);
            ApplyListColors(c);
            ListViewCreated(c, window);
        }
        if (c.kind == ControlKind::Form) {
            AttachMenuBar(c);
            AdoptWindowDpi(c);
            // The record follows the real window (the frame may differ from the computed one).
            Realign(c);
        }
    }
    // Copy: creating a child may not change the list, but be safe against it.
    const std::vector<Control*> children = c.children;
    for (Control* child : children) CreateWindowTree(*child);
}

void MoveControl(Control& c, std::int32_t left, std::int32_t top, std::int32_t right, std::int32_t bottom) {
    const bool sizeChanged = (right - left) != (c.right - c.left) || (bottom - top) != (c.bottom - c.top);
    if (!sizeChanged && left == c.left && top == c.top) return;
    c.left = left;
    c.top = top;
    c.right = right;
    c.bottom = bottom;
    if (c.window != nullptr) {
        // A form's record is written back from the window (WM_WINDOWPOSCHANGED);
        // a container's children follow through its WM_SIZE.
        c.placing = true;
        ::SetWindowPos(c.window, nullptr, left, top, ClampSize(right - left), ClampSize(bottom - top),
                       SWP_NOZORDER | SWP_NOACTIVATE);
        c.placing = false;
    } else if (sizeChanged) {
        Realign(c);
    }
}

void AfterBoundsSet(Control& c) {
    if (c.align != kAlignNone && c.parent != nullptr) Realign(*c.parent);
}

void SetBounds(Control& c, std::int32_t left, std::int32_t top, std::int32_t right, std::int32_t bottom) {
    MoveControl(c, left, top, right, bottom);
    AfterBoundsSet(c);
}

SIZE ClientPixels(const Control& c) {
    SIZE size = {0, 0};
    if (c.window != nullptr) {
        RECT r;
        if (::GetClientRect(c.window, &r)) {
            size.cx = r.right - r.left;
            size.cy = r.bottom - r.top;
            return size;
        }
    }
    const WindowStyles styles = StylesOf(c);
    RECT frame = {0, 0, 0, 0};
    if (c.kind != ControlKind::App) {
        const bool menuBar = c.kind == ControlKind::Form && c.menuBar != nullptr && MenuHasItems(*c.menuBar);
        ::AdjustWindowRectEx(&frame, styles.style, menuBar ? TRUE : FALSE, styles.exStyle);
    }
    size.cx = (c.right - c.left) - (frame.right - frame.left);
    size.cy = (c.bottom - c.top) - (frame.bottom - frame.top);
    return size;
}

void Realign(Control& container) {
    if (const Control* form = FormOf(&container); form != nullptr && form->dpiChanging) return;
    const SIZE client = ClientPixels(container);
    const std::int32_t dx = container.layoutKnown ? client.cx - container.layoutWidth : 0;
    const std::int32_t dy = container.layoutKnown ? client.cy - container.layoutHeight : 0;
    container.layoutKnown = true;
    container.layoutWidth = client.cx;
    container.layoutHeight = client.cy;

    const std::vector<Control*> children = container.children;
    // Anchors: keep the distance to the chosen edges of the changed client area.
    if (dx != 0 || dy != 0) {
        for (Control* child : children) {
            if (child->align != kAlignNone) continue;
            std::int32_t l = child->left, t = child->top, r = child->right, b = child->bottom;
            if (child->anchors.right) {
                r += dx;
                if (!child->anchors.left) l += dx;
            }
            if (child->anchors.bottom) {
                b += dy;
                if (!child->anchors.top) t += dy;
            }
            MoveControl(*child, l, t, r, b);
        }
    }

    RECT area = {0, 0, client.cx, client.cy};
    for (Control* child : children) {
        if (child->align != kAlignTop || !child->visible) continue;
        const std::int32_t h = child->bottom - child->top;
        MoveControl(*child, area.left, area.top, area.right, area.top + h);
        area.top += h;
    }
    for (Control* child : children) {
        if (child->align != kAlignBottom || !child->visible) continue;
        const std::int32_t h = child->bottom - child->top;
        MoveControl(*child, area.left, area.bottom - h, area.right, area.bottom);
        area.bottom -= h;
    }
    for (Control* child : children) {
        if (child->align != kAlignClient || !child->visible) continue;
        MoveControl(*child, area.left, area.top, area.right, std::max(area.top, area.bottom));
    }
}

void UpdateAutoSize(Control& c) {
    if (!c.autoSize) return;
    SIZE size = {0, 0};
    switch (c.kind) {
    case ControlKind::Label:
    case ControlKind::Panel: size = MeasureCaption(c, DT_SINGLELINE | DT_NOPREFIX); break;
    case ControlKind::CheckBox: {
        // The box, a gap, then the caption as the button draws it, all at the window's DPI.
        const SIZE text = MeasureCaption(c, DT_SINGLELINE);
        const std::uint32_t dpi = DpiOf(c);
        size.cx = MetricForDpi(SM_CXMENUCHECK, dpi) + Scale(c, 6) + text.cx;
        size.cy = std::max<LONG>(text.cy, MetricForDpi(SM_CYMENUCHECK, dpi)) + Scale(c, 2);
        break;
    }
    case ControlKind::Button: {
        const SIZE text = MeasureCaption(c, DT_SINGLELINE);
        size.cx = text.cx + Scale(c, 16);
        size.cy = text.cy + Scale(c, 10);
        break;
    }
    default: return;
    }
    MoveControl(c, c.left, c.top, c.left + size.cx, c.top + size.cy);
    AfterBoundsSet(c);
}

void Repaint(Control& c) {
    if (c.window != nullptr) ::InvalidateRect(c.window, nullptr, TRUE);
}

HFONT FontHandle(Control& c) {
    const auto stock = static_cast<HFONT>(::GetStockObject(DEFAULT_GUI_FONT));
    // The stock font is made for the system's DPI.
    const std::uint32_t dpi = DpiOf(c), system = SystemDpi();
    if (!c.font && dpi == system) return stock;
    ControlFont& f = *Font(&c);
    if (f.handle != nullptr) return f.handle;
    if (f.height == 0 && f.face.empty() && f.style == 0 && f.weight == FW_NORMAL && dpi == system) return stock;
    LOGFONTA lf = {};
    ::GetObjectA(stock, sizeof lf, &lf);
    lf.lfHeight = f.height != 0 ? Scale(c, f.height) : ScaleDpi(lf.lfHeight, system, dpi);
    lf.lfWidth = 0;
    lf.lfWeight = f.weight;
    lf.lfItalic = (f.style & kFontItalic) ? TRUE : FALSE;
    lf.lfUnderline = (f.style & kFontUnderline) ? TRUE : FALSE;
    lf.lfStrikeOut = (f.style & kFontStrikeOut) ? TRUE : FALSE;
    if (!f.face.empty()) {
        lf.lfCharSet = DEFAULT_CHARSET;
        const std::size_t n = std::min<std::size_t>(f.face.size(), LF_FACESIZE - 1);
        f.face.copy(lf.lfFaceName, n);
        lf.lfFaceName[n] = '\0';
    }
    f.handle = ::CreateFontIndirectA(&lf);
    if (f.handle != nullptr) CountFont(+1);
    return f.handle != nullptr ? f.handle : stock;
}

void RenewFont(Control& c) {
    // The new font reaches the window before the old one is deleted, so the
    // window never draws with a dead font.
    const HFONT old = c.font ? c.font->handle : nullptr;
    if (c.font) c.font->handle = nullptr;
    if (c.window != nullptr && c.kind != ControlKind::App)
        ::SendMessageA(c.window, WM_SETFONT, reinterpret_cast<WPARAM>(FontHandle(c)), TRUE);
    if (old != nullptr) {
        ::DeleteObject(old);
        CountFont(-1);
    }
    UpdateAutoSize(c);
    Repaint(c);
}

void DropFontHandle(ControlFont& f) {
    if (f.handle != nullptr) {
        ::DeleteObject(f.handle);
        CountFont(-1);
        f.handle = nullptr;
    }
}

HBRUSH BackgroundBrush(Control& c) {
    if (c.color & kSystemColorFlag) return ::GetSysColorBrush(static_cast<int>(c.color & 0xFF));
    if (c.brush && c.brushColor == c.color) return c.brush.Get();
    if (c.brush) CountBrush(-1);
    c.brush.Reset(::CreateSolidBrush(ResolveColor(c.color)));
    c.brushColor = c.color;
    if (c.brush) CountBrush(+1);
    return c.brush.Get();
}

void ApplyListColors(Control& c) {
    if (c.window == nullptr) return;
    const COLORREF back = ResolveColor(c.color);
    ::SendMessageA(c.window, LVM_SETBKCOLOR, 0, static_cast<LPARAM>(back));
    ::SendMessageA(c.window, LVM_SETTEXTBKCOLOR, 0, static_cast<LPARAM>(back));
    ::SendMessageA(c.window, LVM_SETTEXTCOLOR, 0,
                   static_cast<LPARAM>(ResolveColor(c.font ? c.font->color : kColorWindowText)));
    ::InvalidateRect(c.window, nullptr, TRUE);
}

const Control* FormOf(const Control* control) {
    while (control != nullptr && control->kind != ControlKind::Form) control = control->parent;
    return control;
}

Control* FormOf(Control* control) { return const_cast<Control*>(FormOf(static_cast<const Control*>(control))); }

}  // namespace core

HWND Handle(Control* control) {
    if (control == nullptr) return nullptr;
    if (control->window != nullptr || !core::OnInterfaceThread(*control)) return control->window;
    // Parents first: a child window needs its parent's.
    if (control->kind != ControlKind::Form && control->kind != ControlKind::App) {
        if (Handle(control->parent) == nullptr) return nullptr;
        if (control->window != nullptr) return control->window;  // made with the parent's tree
    }
    core::CreateWindowTree(*control);
    return control->window;
}

}  // namespace pelorin
