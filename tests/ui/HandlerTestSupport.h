// Shared by the handler tests: rows put into the process list by hand, real
// clicks on them (posted mouse messages, as the platform delivers a click),
// and a reader that answers the message box the kill command may open.
#pragma once

#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <array>
#include <string>
#include <vector>

#include "controls/LayerTestSupport.h"
#include "controls/ListView.h"
#include "ui/MainForm.h"

namespace pelorin::testing {

// The seven cells of a process row, as the refresh writes them.
using ProcessRowCells = std::array<std::string, 7>;

inline ProcessRowCells ProcessRow(const std::string& name, DWORD pid, const std::string& path) {
    return {name, std::to_string(pid), "1M", "0", path, "--", "--"};
}

inline void AddProcessRow(Control* list, const ProcessRowCells& cells) {
    const std::int32_t row = InsertItem(list, ItemCount(list), cells[0]);
    ASSERT_GE(row, 0);
    for (int c = 1; c < 7; ++c) SetItemText(list, row, c, cells[static_cast<std::size_t>(c)]);
}

inline int RowOfPid(Control* list, DWORD pid) {
    const std::string text = std::to_string(pid);
    for (int i = 0; i < ItemCount(list); ++i) {
        if (GetItemText(list, i, 1) == text) return i;
    }
    return -1;
}

inline POINT RowCentre(Control* list, int row) {
    RECT r = {};
    r.left = LVIR_BOUNDS;
    ::SendMessageA(list->window, LVM_GETITEMRECT, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&r));
    return {(r.left + r.right) / 2, (r.top + r.bottom) / 2};
}

// A click at a point of the list, delivered as the platform would.
inline void ClickAt(Control* list, POINT p, bool right = false) {
    const UINT down = right ? WM_RBUTTONDOWN : WM_LBUTTONDOWN;
    const UINT up = right ? WM_RBUTTONUP : WM_LBUTTONUP;
    ::PostMessageA(list->window, down, right ? MK_RBUTTON : MK_LBUTTON, MAKELPARAM(p.x, p.y));
    ::PostMessageA(list->window, up, 0, MAKELPARAM(p.x, p.y));
    PumpFor(300);
}

inline void ClickRow(Control* list, int row, bool right = false) { ClickAt(list, RowCentre(list, row), right); }

inline std::string TextOf(HWND window) {
    char buffer[1024] = {};
    ::GetWindowTextA(window, buffer, sizeof buffer);
    return buffer;
}

// What a message box of this thread showed; filled while it is open, which
// then is closed with OK.
struct MessageBoxSeen {
    int count = 0;
    std::string title;
    std::string text;
    HWND owner = nullptr;
    bool hasOk = false;
    bool hasCancel = false;
    bool hasIcon = false;
};
inline MessageBoxSeen* g_messageBox = nullptr;

inline BOOL CALLBACK FindIcon(HWND child, LPARAM found) noexcept {
    char name[32] = {};
    ::GetClassNameA(child, name, sizeof name);
    if (lstrcmpiA(name, "Static") == 0 && ::IsWindowVisible(child) && ::SendMessageA(child, STM_GETICON, 0, 0) != 0)
        *reinterpret_cast<bool*>(found) = true;
    return TRUE;
}

inline BOOL CALLBACK AnswerMessageBox(HWND window, LPARAM) noexcept {
    char name[32] = {};
    ::GetClassNameA(window, name, sizeof name);
    if (std::string(name) != "#32770" || !::IsWindowVisible(window)) return TRUE;
    MessageBoxSeen& seen = *g_messageBox;
    ++seen.count;
    seen.title = TextOf(window);
    char text[1024] = {};
    ::GetDlgItemTextA(window, 0xFFFF, text, sizeof text);  // the message's static
    seen.text = text;
    seen.owner = ::GetWindow(window, GW_OWNER);
    seen.hasOk = ::GetDlgItem(window, IDOK) != nullptr;
    seen.hasCancel = ::GetDlgItem(window, IDCANCEL) != nullptr && ::IsWindowVisible(::GetDlgItem(window, IDCANCEL));
    ::EnumChildWindows(window, FindIcon, reinterpret_cast<LPARAM>(&seen.hasIcon));
    ::PostMessageA(window, WM_COMMAND, IDOK, 0);
    return FALSE;
}

inline void CALLBACK MessageBoxTimer(HWND, UINT, UINT_PTR, DWORD) noexcept {
    if (g_messageBox != nullptr) ::EnumThreadWindows(::GetCurrentThreadId(), AnswerMessageBox, 0);
}

// Closes whatever popup menu is open (a safety net for right clicks).
inline void CALLBACK EndMenuTimer(HWND, UINT, UINT_PTR, DWORD) noexcept { ::EndMenu(); }

// While it lives, a message box this thread opens is read and closed.
class MessageBoxReader {
public:
    MessageBoxReader() {
        g_messageBox = &seen;
        timer_ = ::SetTimer(nullptr, 0, 50, MessageBoxTimer);
    }
    ~MessageBoxReader() {
        ::KillTimer(nullptr, timer_);
        g_messageBox = nullptr;
    }
    MessageBoxReader(const MessageBoxReader&) = delete;
    MessageBoxReader& operator=(const MessageBoxReader&) = delete;

    MessageBoxSeen seen;

private:
    UINT_PTR timer_ = 0;
};

// While it lives, every popup menu this thread opens is counted and its
// first item ("Kill Task") chosen by the keyboard once the menu idles.
struct PopupSeen {
    HWND owner = nullptr;
    int opened = 0;
    bool chosen = false;
};
inline PopupSeen* g_popup = nullptr;

inline LRESULT CALLBACK WatchPopups(int code, WPARAM wParam, LPARAM lParam) noexcept {
    if (code == HC_ACTION && g_popup != nullptr) {
        const auto* message = reinterpret_cast<const CWPSTRUCT*>(lParam);
        if (message->message == WM_INITMENUPOPUP) ++g_popup->opened;
        if (message->message == WM_ENTERIDLE && message->wParam == MSGF_MENU && !g_popup->chosen) {
            g_popup->chosen = true;
            ::PostMessageA(g_popup->owner, WM_KEYDOWN, VK_DOWN, 0);
            ::PostMessageA(g_popup->owner, WM_KEYDOWN, VK_RETURN, 0);
        }
    }
    return ::CallNextHookEx(nullptr, code, wParam, lParam);
}

class PopupChooser {
public:
    explicit PopupChooser(HWND owner) {
        seen.owner = owner;
        g_popup = &seen;
        hook_ = ::SetWindowsHookExA(WH_CALLWNDPROC, WatchPopups, nullptr, ::GetCurrentThreadId());
        safety_ = ::SetTimer(nullptr, 0, 3000, EndMenuTimer);  // never leave a menu open
    }
    ~PopupChooser() {
        ::KillTimer(nullptr, safety_);
        ::UnhookWindowsHookEx(hook_);
        g_popup = nullptr;
    }
    PopupChooser(const PopupChooser&) = delete;
    PopupChooser& operator=(const PopupChooser&) = delete;

    PopupSeen seen;

private:
    HHOOK hook_ = nullptr;
    UINT_PTR safety_ = 0;
};

}  // namespace pelorin::testing
