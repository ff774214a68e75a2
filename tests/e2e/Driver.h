// Drives the real program from a separate process, as a user and other
// programs meet it: a private copy in a folder of its own, its window and
// lists read from outside, real input on the display, its settings key.
// The program is Pelorin.exe for a 32-bit driver, Pelorin64.exe for a 64-bit
// one: a list view of another process is read with records of its width.
#pragma once

#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <initializer_list>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

// GDI+ wants the COM declarations and the min and max that the build leaves out.
#include <objidl.h>
namespace Gdiplus {
using std::max;
using std::min;
}  // namespace Gdiplus
#include <gdiplus.h>

#include "app/Startup.h"
#include "common/TestSupport.h"

namespace pelorin::e2e {

using Row = std::vector<std::string>;
// What any close may take: the close's own deadline for its workers, then the
// settings and the end, with 2 s to spare.
constexpr DWORD kCloseLimitMs = CloseWaitMs + 2000;
const std::optional<DWORD> kExitedWithZero = 0;
constexpr const char* kCompanyKey = "SOFTWARE\\marrowby";
constexpr const char* kSettingsKey = "SOFTWARE\\marrowby\\pelorin";
constexpr bool kWideDriver = sizeof(void*) == 8;
constexpr const char* kProgram = kWideDriver ? "Pelorin64.exe" : "Pelorin.exe";
constexpr const char* kOtherProgram = kWideDriver ? "Pelorin.exe" : "Pelorin64.exe";  // built beside it

inline DWORD ProcessOf(HWND window) { DWORD pid = 0; ::GetWindowThreadProcessId(window, &pid); return pid; }

// A message to a window of another process; its answer, none without one in time.
inline std::optional<DWORD_PTR> Ask(HWND window, UINT message, WPARAM wParam = 0, LPARAM lParam = 0, UINT timeoutMs = 5000) {
    DWORD_PTR answer = 0;
    const bool answered = ::SendMessageTimeoutA(window, message, wParam, lParam, SMTO_ABORTIFHUNG, timeoutMs, &answer) != 0;
    return answered ? std::optional(answer) : std::nullopt;
}

inline std::string Text(HWND window) {  // read as UTF-16, in UTF-8
    wchar_t buffer[1024] = {};  // the text comes back whole or not at all
    ::SendMessageTimeoutW(window, WM_GETTEXT, 1024, reinterpret_cast<LPARAM>(buffer), SMTO_ABORTIFHUNG, 5000, nullptr);
    return test::Utf8(buffer);
}

inline std::string ClipboardText() {  // the Unicode text, in UTF-8
    std::string text;
    if (!::OpenClipboard(nullptr)) return text;
    if (const HANDLE data = ::GetClipboardData(CF_UNICODETEXT)) {
        if (const auto* chars = static_cast<const wchar_t*>(::GlobalLock(data))) text = test::Utf8(chars);
        ::GlobalUnlock(data);
    }
    ::CloseClipboard();
    return text;
}

// Room in the memory of a window's process, for messages that answer there.
struct Remote {
    Remote(HWND window, std::size_t bytes)
        : process(::OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE, ProcessOf(window))),
          at(process ? static_cast<char*>(::VirtualAllocEx(process.Get(), nullptr, bytes, MEM_COMMIT, PAGE_READWRITE)) : nullptr),
          size(bytes) {}
    ~Remote() { if (at) ::VirtualFreeEx(process.Get(), at, 0, MEM_RELEASE); }
    bool Write(const void* from) const { return at && ::WriteProcessMemory(process.Get(), at, from, size, nullptr); }
    bool Read(void* to) const { return ::ReadProcessMemory(process.Get(), at, to, size, nullptr); }
    const UniqueHandle process;
    char* const at;
    const std::size_t size;
};

// `count` records (cells row by row across `columns` from firstColumn on),
// each followed by its text's room: written in one go, a message each, read
// back in one go; wide ones in UTF-8 (an ANSI list fits bytes to the room).
template <class Record>
std::optional<Row> ReadTexts(HWND list, UINT message, int count, int columns, Record record, int firstColumn = 0) {
    constexpr std::size_t kChar = sizeof(*record.pszText), kText = 1024 * kChar, kSlot = 128 + kText;
    static_assert(sizeof record <= kSlot - kText);
    const Remote remote(list, static_cast<std::size_t>(count) * kSlot);
    std::vector<char> local(remote.size, '\0');
    for (int i = 0; i < count; ++i) {
        record.iSubItem = firstColumn + i % columns;
        record.pszText = reinterpret_cast<decltype(record.pszText)>(remote.at + (i + 1) * kSlot - kText);
        record.cchTextMax = static_cast<int>(kText / kChar);
        std::memcpy(local.data() + i * kSlot, &record, sizeof record);
    }
    bool done = remote.Write(local.data());
    for (int i = 0; i < count && done; ++i) {
        done = Ask(list, message, i / columns, reinterpret_cast<LPARAM>(remote.at + i * kSlot)).has_value();
    }
    if (!done || !remote.Read(local.data())) return std::nullopt;
    Row texts;
    for (const char* text = local.data() + kSlot - kText; texts.size() < static_cast<std::size_t>(count); text += kSlot)
        texts.push_back(kChar == 1 ? std::string(text, strnlen(text, kText - 1))
                                   : test::Utf8({reinterpret_cast<const wchar_t*>(text), wcsnlen(reinterpret_cast<const wchar_t*>(text), kText / 2 - 1)}));
    return texts;
}

inline HWND HeaderOf(HWND list) { return reinterpret_cast<HWND>(Ask(list, LVM_GETHEADER).value_or(0)); }
inline int ColumnCount(HWND list) { return static_cast<int>(Ask(HeaderOf(list), HDM_GETITEMCOUNT).value_or(0)); }
inline int Count(HWND list) { return static_cast<int>(Ask(list, LVM_GETITEMCOUNT).value_or(-1)); }

inline Row Headers(HWND list) {
    LVCOLUMNA column = {};
    column.mask = LVCF_TEXT;
    return ReadTexts(list, LVM_GETCOLUMNA, ColumnCount(list), 1, column).value_or(Row());
}

inline int Selected(HWND list) { return static_cast<int>(Ask(list, LVM_GETNEXTITEM, WPARAM(-1), LVNI_SELECTED).value_or(-2)); }

// Every cell of every row (wide: read as UTF-16, in UTF-8) and the selected
// row (-1 for none), as one refresh left them: a refresh can fall between two
// messages, so two reads in a row must agree; a list never still for 20 s fails.
inline std::vector<Row> Rows(HWND list, int* selected = nullptr, bool wide = false) {
    const int columns = ColumnCount(list);
    const auto read = [&](int n) { return wide ? ReadTexts(list, LVM_GETITEMTEXTW, n, columns, LVITEMW{}) : ReadTexts(list, LVM_GETITEMTEXTA, n, columns, LVITEMA{}); };
    for (const DWORD start = ::GetTickCount(); columns > 0 && ::GetTickCount() - start < 20000;) {
        const int count = Count(list), selection = Selected(list);
        if (count < 0) break;  // Pelorin has ended
        const auto first = read(count * columns);
        if (!first || first != read(count * columns) ||
            Count(list) != count || Selected(list) != selection)
            continue;
        std::vector<Row> rows;
        for (auto cell = first->begin(); cell != first->end(); cell += columns) rows.emplace_back(cell, cell + columns);
        if (selected != nullptr) *selected = selection;
        return rows;
    }
    ADD_FAILURE() << "the process list could not be read as one refresh left it";
    return {};
}

// The row whose PID cell reads pid right now (a message a row); -1 for none.
inline int RowOfPid(HWND list, const std::string& pid) {
    const Row pids = ReadTexts(list, LVM_GETITEMTEXTA, std::max(Count(list), 0), 1, LVITEMA{}, 1).value_or(Row());
    const auto found = std::find(pids.begin(), pids.end(), pid);
    return found == pids.end() ? -1 : static_cast<int>(found - pids.begin());
}

// The row whose cell in the column holds text; -1 for none.
inline int Find(const std::vector<Row>& rows, const std::string& text, int column = 1) {
    const auto found = std::find_if(rows.begin(), rows.end(), [&](const Row& row) { return row.at(column) == text; });
    return found == rows.end() ? -1 : static_cast<int>(found - rows.begin());
}

// A point of the empty area below the last row, on the screen, with two rows'
// room, so a row added meanwhile does not reach it.
inline std::optional<POINT> BelowRows(HWND list) {
    RECT client = {};
    if (Count(list) + 2 > static_cast<int>(Ask(list, LVM_GETCOUNTPERPAGE).value_or(0)) || !::GetClientRect(list, &client))
        return std::nullopt;
    POINT point = {40, client.bottom - 4};
    ::ClientToScreen(list, &point);
    return point;
}

// The middle of a row (or, for row -1, of a column's header) on the screen.
inline std::optional<POINT> RowPoint(HWND list, int row, int column = 0) {
    const HWND target = row < 0 ? HeaderOf(list) : list;
    const UINT message = row < 0 ? HDM_GETITEMRECT : LVM_GETITEMRECT;
    RECT r = {LVIR_BOUNDS, 0, 0, 0};
    if (row >= 0) Ask(list, LVM_ENSUREVISIBLE, static_cast<WPARAM>(row), FALSE);  // scrolled to, if below the page
    const Remote remote(list, sizeof r);
    if (!remote.Write(&r) || !Ask(target, message, row < 0 ? column : row, reinterpret_cast<LPARAM>(remote.at)).value_or(0) ||
        !remote.Read(&r))
        return std::nullopt;
    POINT point = {row < 0 ? (r.left + r.right) / 2 : r.left + 30, (r.top + r.bottom) / 2};
    ::ClientToScreen(target, &point);
    return point;
}

// HKCU\SOFTWARE\marrowby\pelorin: one REG_DWORD of it; ClearSettings removes
// the company key, so the next start is a first run.
inline std::optional<DWORD> Setting(const char* name) { return test::RegistryDword(kSettingsKey, name); }
inline void ClearSettings() { ::RegDeleteTreeA(HKEY_CURRENT_USER, kCompanyKey); }

// Puts the key back as it was found: its values (kept in a scratch key), or its absence.
class SettingsGuard {
public:
    SettingsGuard() : settingsExisted_(Copy(kSettingsKey, saved_.Path().c_str())) {
        UniqueKey company;
        companyExisted_ = ::RegOpenKeyExA(HKEY_CURRENT_USER, kCompanyKey, 0, KEY_READ, company.Put()) == ERROR_SUCCESS;
    }
    ~SettingsGuard() {
        ::RegDeleteTreeA(HKEY_CURRENT_USER, companyExisted_ ? kSettingsKey : kCompanyKey);
        if (settingsExisted_) Copy(saved_.Path().c_str(), kSettingsKey);
    }

private:
    static bool Copy(const char* from, const char* to) {  // keys under HKCU; the target is created
        UniqueKey key;
        return ::RegCreateKeyExA(HKEY_CURRENT_USER, to, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, key.Put(), nullptr) == ERROR_SUCCESS &&
               ::RegCopyTreeA(HKEY_CURRENT_USER, from, key.Get()) == ERROR_SUCCESS;
    }
    test::ScratchKey saved_;
    bool settingsExisted_ = false, companyExisted_ = false;
};

// A window's outer rectangle, as "frmleft", "frmtop", "frmWidth", "frmHeight" store it.
struct Placement {
    int left = 0, top = 0, width = 0, height = 0;
    bool operator==(const Placement&) const = default;
    friend std::ostream& operator<<(std::ostream& out, const Placement& p) {
        return out << "(" << p.left << "," << p.top << " " << p.width << "x" << p.height << ")";
    }
};

inline Placement PlacementOf(HWND window) {
    RECT r = {};
    ::GetWindowRect(window, &r);
    return {r.left, r.top, r.right - r.left, r.bottom - r.top};
}

inline bool Place(HWND window, const Placement& p) {
    return ::SetWindowPos(window, nullptr, p.left, p.top, p.width, p.height, SWP_NOZORDER | SWP_NOACTIVATE) &&
           PlacementOf(window) == p;
}

inline std::optional<Placement> SavedPlacement() {  // none while one value is missing
    const auto left = Setting("frmleft"), top = Setting("frmtop"), width = Setting("frmWidth"), height = Setting("frmHeight");
    if (!left || !top || !width || !height) return std::nullopt;
    return Placement{static_cast<int>(*left), static_cast<int>(*top), static_cast<int>(*width), static_cast<int>(*height)};
}

inline BOOL CALLBACK Collect(HWND window, LPARAM windows) noexcept {
    reinterpret_cast<std::vector<HWND>*>(windows)->push_back(window);
    return TRUE;
}

enum class Marker { None, File };  // whether a "testing.log" file stands beside the copy

class Pelorin {
public:
    explicit Pelorin(Marker marker = Marker::None, const char* program = kProgram) : marker_(marker), program_(program) {}

    // Copies the program beside the marker and starts it; with wait, true once
    // the main window shows the first rows of its process list.
    bool Start(bool wait = true) {
        const std::string exe = folder_.File(program_), marker = folder_.File("testing.log");
        if (!::CopyFileA(test::FixturePath(program_).c_str(), exe.c_str(), FALSE) ||
            (marker_ == Marker::File && !UniqueHandle(::CreateFileA(marker.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr))) ||
            !process_.StartProgram(exe, "", folder_.Path()))
            return false;
        const auto shown = [&] {
            const std::string title = Text(form_ = OwnWindow("PelorinForm"));
            return form_ != nullptr && (title == "Pelorin" || title.rfind("Pelorin - ", 0) == 0);
        };
        // Generous: the first start in a fresh Wine prefix takes a while.
        return !wait || (test::WaitUntil([&] { return shown() || !process_.Running(); }, 30000) && shown() &&
                         test::WaitUntil([&] { return Count(ProcessList()) > 0; }, 15000));
    }
    HWND Window() const { return form_; }
    DWORD Pid() const { return process_.Pid(); }
    std::optional<DWORD> ExitCode(DWORD timeoutMs) const { return process_.ExitCode(timeoutMs); }
    bool Close() const { return ::PostMessageA(form_, WM_CLOSE, 0, 0) != FALSE; }

    // Descendants of the window of one class, in creation order; the first one (with the caption).
    std::vector<HWND> Controls(const char* className) const {
        std::vector<HWND> all;
        ::EnumChildWindows(form_, Collect, reinterpret_cast<LPARAM>(&all));
        char name[64];
        std::erase_if(all, [&](HWND w) { return !::GetClassNameA(w, name, sizeof name) || std::strcmp(name, className) != 0; });
        return all;
    }
    HWND Control(const char* className, const char* caption = nullptr) const {
        for (HWND w : Controls(className))
            if (caption == nullptr || Text(w) == caption) return w;
        return nullptr;
    }
    HWND ProcessList() const { return Control(WC_LISTVIEWA); }  // lvProcesses comes before lvModules
    bool Checked(const char* caption) const { return Ask(Control("Button", caption), BM_GETCHECK) == BST_CHECKED; }

    // Real input: the window comes forward, the cursor lands on the point,
    // over a window of this process, before the button goes down; it is held
    // for holdMs, as a person holds it.
    bool Click(POINT screen, bool right = false, DWORD holdMs = 60) const {
        return Land([&] { return std::optional(screen); }) && PressAndRelease(right, holdMs);
    }
    // A row of the process list by its PID, found again right before the
    // button goes down: the list keeps refreshing.
    bool ClickRow(const std::string& pid, bool right = false, DWORD holdMs = 60) const {
        return Land([&] {
            const HWND list = ProcessList();
            const int row = RowOfPid(list, pid);
            return row >= 0 ? RowPoint(list, row) : std::nullopt;
        }) && PressAndRelease(right, holdMs);
    }
    bool Click(HWND control) const {  // its middle
        RECT r = {};
        return ::GetWindowRect(control, &r) && Click({(r.left + r.right) / 2, (r.top + r.bottom) / 2});
    }
    bool ClickCheckBox(const char* caption) const {  // true once it toggled
        const bool before = Checked(caption);
        return Click(Control("Button", caption)) && test::WaitUntil([&] { return Checked(caption) != before; });
    }
    // An item of the open popup: 0 "Kill Task", 1 " ----". Two items of one
    // height: the first one's middle is a quarter down, the second's three.
    bool ChooseMenuItem(int item) const {
        const HWND popup = WaitPopupMenu();
        RECT r = {};
        return popup != nullptr && ::GetWindowRect(popup, &r) &&
               Click({(r.left + r.right) / 2, ((3 - 2 * item) * r.top + (1 + 2 * item) * r.bottom) / 4});
    }
    bool ChooseKillTask() const { return ChooseMenuItem(0); }
    // Keys pressed together, in order, then let go (Ctrl+C is {VK_CONTROL, 'C'}).
    bool Press(std::initializer_list<WORD> keys) const {
        if (!ComeForward()) return false;
        std::vector<INPUT> inputs(2 * keys.size());  // downs in order, then ups the other way
        for (std::size_t i = 0; i < inputs.size(); ++i) {
            const bool up = i >= keys.size();
            inputs[i].type = INPUT_KEYBOARD;
            inputs[i].ki.wVk = keys.begin()[up ? inputs.size() - 1 - i : i];
            // The scan code too: the character a key types is found from it.
            inputs[i].ki.wScan = static_cast<WORD>(::MapVirtualKeyA(inputs[i].ki.wVk, MAPVK_VK_TO_VSC));
            inputs[i].ki.dwFlags = up ? KEYEVENTF_KEYUP : 0;
        }
        return ::SendInput(static_cast<UINT>(inputs.size()), inputs.data(), sizeof(INPUT)) == inputs.size();
    }
    bool Type(const std::string& text) const {
        return std::all_of(text.begin(), text.end(), [&](char c) {
            const SHORT key = ::VkKeyScanA(c);
            const auto vk = static_cast<WORD>(key & 0xFF);
            return key != -1 && ((key & 0x100) ? Press({VK_SHIFT, vk}) : Press({vk}));
        });
    }
    HWND WaitPopupMenu(DWORD waitMs = 5000) const { return OwnWindow("#32768", waitMs); }
    bool ShownWindow() const { return OwnWindow(nullptr) != nullptr; }  // any, shown now
    HWND WaitMessageBox() const { return OwnWindow("#32770", 5000); }
    static std::string MessageText(HWND box) { return Text(::GetDlgItem(box, 0xFFFF)); }

    bool Screenshot(const std::string& pngPath) const {  // what the screen shows of the window
        ::SetForegroundWindow(form_);
        ::RedrawWindow(form_, nullptr, nullptr, RDW_INVALIDATE | RDW_ALLCHILDREN | RDW_UPDATENOW);
        ::Sleep(300);  // Pelorin paints on its own thread; the picture is for people, no verdict reads it
        static const CLSID kPngEncoder = {0x557cf406, 0x1a04, 0x11d3, {0x9a, 0x73, 0x00, 0x00, 0xf8, 0x1e, 0xf3, 0x2e}};
        ULONG_PTR token = 0;
        const Gdiplus::GdiplusStartupInput input;
        if (Gdiplus::GdiplusStartup(&token, &input, nullptr) != Gdiplus::Ok) return false;
        bool saved = false;
        {
            const Placement p = PlacementOf(form_);
            Gdiplus::Bitmap image(p.width, p.height, PixelFormat24bppRGB);
            Gdiplus::Graphics graphics(&image);
            const ScopedWindowDC screen(nullptr);
            const HDC dc = graphics.GetHDC();
            saved = ::BitBlt(dc, 0, 0, p.width, p.height, screen.Get(), p.left, p.top, SRCCOPY);
            graphics.ReleaseHDC(dc);
            saved = saved && image.Save(std::wstring(pngPath.begin(), pngPath.end()).c_str(), &kPngEncoder, nullptr) == Gdiplus::Ok;
        }
        Gdiplus::GdiplusShutdown(token);
        return saved;
    }


private:
    bool Own(HWND window) const { return ProcessOf(window) == process_.Pid(); }
    // A popup menu or a message box of this process keeps the input where it is.
    bool ComeForward() const {
        if (!Own(::GetForegroundWindow())) ::SetForegroundWindow(form_);
        return test::WaitUntil([&] { return Own(::GetForegroundWindow()); });
    }
    // The cursor on where(), over a window of this process, where() asked
    // again once it is there.
    template <class Where>
    bool Land(Where where) const {
        const auto same = [](std::optional<POINT> a, std::optional<POINT> b) { return a && b && a->x == b->x && a->y == b->y; };
        return ComeForward() && test::WaitUntil([&] {
            const std::optional<POINT> screen = where();
            POINT at = {};
            if (!screen || !::SetCursorPos(screen->x, screen->y) || !::GetCursorPos(&at) || !same(at, screen)) return false;
            // A tip that a cell shows while the cursor rests on it would take
            // the press: the cursor leaves and comes back, as a hand would.
            char name[32] = {};
            const HWND under = ::WindowFromPoint(at);
            if (::GetClassNameA(under, name, sizeof name) && std::strcmp(name, TOOLTIPS_CLASSA) == 0) return !::SetCursorPos(0, 0);
            return Own(under) && same(where(), screen);
        });
    }
    static bool Mouse(DWORD flags) {  // a button or a move where the cursor is
        INPUT input = {};
        input.type = INPUT_MOUSE, input.mi.dwFlags = flags;
        return ::SendInput(1, &input, sizeof input) == 1;
    }
    static bool PressAndRelease(bool right, DWORD holdMs) {
        if (!Mouse(right ? MOUSEEVENTF_RIGHTDOWN : MOUSEEVENTF_LEFTDOWN)) return false;
        ::Sleep(holdMs);
        return Mouse(right ? MOUSEEVENTF_RIGHTUP : MOUSEEVENTF_LEFTUP);
    }
    HWND OwnWindow(const char* className, DWORD waitMs = 0) const {  // a visible top-level one
        HWND found = nullptr;
        test::WaitUntil([&] {
            while ((found = ::FindWindowExA(nullptr, found, className, nullptr)) != nullptr)
                if (Own(found) && ::IsWindowVisible(found)) return true;
            return false;
        }, waitMs);
        return found;
    }

    Marker marker_;
    const char* program_;
    test::TempFolder folder_;  // declared first: the process ends before it goes
    test::Child process_;
    HWND form_ = nullptr;
};

}  // namespace pelorin::e2e
