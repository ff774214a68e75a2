#include "e2e/Driver.h"

#include <commctrl.h>

#include <algorithm>
#include <cstring>
#include <type_traits>

// GDI+ wants the COM declarations and the min and max that the build leaves out.
#include <objidl.h>
namespace Gdiplus {
using std::max;
using std::min;
}  // namespace Gdiplus
#include <gdiplus.h>

namespace pelorin::e2e {
namespace {

constexpr const char* kCompanyKey = "SOFTWARE\\marrowby";
constexpr const char* kSettingsKey = "SOFTWARE\\marrowby\\pelorin";
constexpr std::size_t kRecord = 128, kText = 1024, kSlot = kRecord + kText;  // a record, then its text
static_assert(sizeof(LVITEMA) <= kRecord && sizeof(LVCOLUMNA) <= kRecord);

DWORD ProcessOf(HWND window) { DWORD pid = 0; ::GetWindowThreadProcessId(window, &pid); return pid; }
std::string ClassOf(HWND window) { char name[64] = {}; ::GetClassNameA(window, name, sizeof name); return name; }
POINT CenterOf(HWND w) { RECT r = {}; ::GetWindowRect(w, &r); return {(r.left + r.right) / 2, (r.top + r.bottom) / 2}; }

// A key under HKEY_CURRENT_USER, opened or created.
UniqueKey OpenKey(const std::string& path, bool create) {
    HKEY key = nullptr;
    const LONG result = create ? ::RegCreateKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr)
                               : ::RegOpenKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, KEY_READ, &key);
    return UniqueKey(result == ERROR_SUCCESS ? key : nullptr);
}

BOOL CALLBACK Collect(HWND window, LPARAM windows) noexcept {
    reinterpret_cast<std::vector<HWND>*>(windows)->push_back(window);
    return TRUE;
}

// A message to a window of another process; its answer, none without one.
std::optional<DWORD_PTR> Ask(HWND window, UINT message, WPARAM wParam = 0, LPARAM lParam = 0) {
    DWORD_PTR answer = 0;
    if (!::SendMessageTimeoutA(window, message, wParam, lParam, SMTO_ABORTIFHUNG, 5000, &answer)) return std::nullopt;
    return answer;
}

int ColumnCount(HWND list) {
    return static_cast<int>(Ask(reinterpret_cast<HWND>(Ask(list, LVM_GETHEADER).value_or(0)), HDM_GETITEMCOUNT).value_or(0));
}

// Texts of another process's list view: `count` records (cells row by row
// across `columns`, or column titles), each pointing at its own text slot,
// in memory of that process; written in one go, a message each, read back
// in one go.
template <class Record>
std::optional<std::vector<std::string>> ReadTexts(HWND list, UINT message, int count, int columns, Record record) {
    if (count <= 0) return std::vector<std::string>();
    const std::size_t size = static_cast<std::size_t>(count) * kSlot;
    const UniqueHandle process(::OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE, ProcessOf(list)));
    auto* remote = process ? static_cast<char*>(::VirtualAllocEx(process.Get(), nullptr, size, MEM_COMMIT, PAGE_READWRITE)) : nullptr;
    if (remote == nullptr) return std::nullopt;
    std::vector<char> local(size, '\0');
    for (int i = 0; i < count; ++i) {
        if constexpr (std::is_same_v<Record, LVITEMA>) record.iSubItem = i % columns;
        record.pszText = remote + i * kSlot + kRecord;
        record.cchTextMax = static_cast<int>(kText);
        std::memcpy(local.data() + i * kSlot, &record, sizeof record);
    }
    bool done = ::WriteProcessMemory(process.Get(), remote, local.data(), size, nullptr);
    for (int i = 0; i < count && done; ++i) {
        const auto answer = Ask(list, message, i / columns, reinterpret_cast<LPARAM>(remote + i * kSlot));
        done = answer && (message != LVM_GETCOLUMNA || *answer != 0);
    }
    done = done && ::ReadProcessMemory(process.Get(), remote, local.data(), size, nullptr);
    ::VirtualFreeEx(process.Get(), remote, 0, MEM_RELEASE);
    if (!done) return std::nullopt;
    std::vector<std::string> texts;
    for (int i = 0; i < count; ++i) {
        const char* text = local.data() + i * kSlot + kRecord;
        texts.emplace_back(text, strnlen(text, kText - 1));
    }
    return texts;
}

}  // namespace

std::string BuildFolder() {
    std::string bin = test::BinFolder();
    bin.pop_back();
    return bin.substr(0, bin.find_last_of('\\') + 1);
}

std::optional<DWORD> Setting(const char* name) {
    DWORD value = 0, size = sizeof value;
    if (::RegGetValueA(HKEY_CURRENT_USER, kSettingsKey, name, RRF_RT_REG_DWORD, nullptr, &value, &size) != ERROR_SUCCESS)
        return std::nullopt;
    return value;
}

void ClearSettings() { ::RegDeleteTreeA(HKEY_CURRENT_USER, kCompanyKey); }

SettingsGuard::SettingsGuard() : companyExisted_(OpenKey(kCompanyKey, false)) {
    const UniqueKey backup = OpenKey(saved_.Path(), true);
    settingsExisted_ = backup && ::RegCopyTreeA(HKEY_CURRENT_USER, kSettingsKey, backup.Get()) == ERROR_SUCCESS;
}

SettingsGuard::~SettingsGuard() {
    ::RegDeleteTreeA(HKEY_CURRENT_USER, companyExisted_ ? kSettingsKey : kCompanyKey);
    if (const UniqueKey key = settingsExisted_ ? OpenKey(kSettingsKey, true) : UniqueKey())
        ::RegCopyTreeA(HKEY_CURRENT_USER, saved_.Path().c_str(), key.Get());
}

std::ostream& operator<<(std::ostream& out, const Placement& p) {
    return out << "(" << p.left << "," << p.top << " " << p.width << "x" << p.height << ")";
}

Placement PlacementOf(HWND window) {
    RECT r = {};
    ::GetWindowRect(window, &r);
    return {r.left, r.top, r.right - r.left, r.bottom - r.top};
}

bool Place(HWND window, const Placement& p) {
    return ::SetWindowPos(window, nullptr, p.left, p.top, p.width, p.height, SWP_NOZORDER | SWP_NOACTIVATE) &&
           PlacementOf(window) == p;
}

std::optional<Placement> SavedPlacement() {
    const auto left = Setting("frmleft"), top = Setting("frmtop"), width = Setting("frmWidth"), height = Setting("frmHeight");
    if (!left || !top || !width || !height) return std::nullopt;
    return Placement{static_cast<int>(*left), static_cast<int>(*top), static_cast<int>(*width), static_cast<int>(*height)};
}

bool Pelorin::Launch() {
    const std::string exe = folder_.File("Pelorin.exe"), marker = folder_.File("testing.log");
    return ::CopyFileA(test::FixturePath("Pelorin.exe").c_str(), exe.c_str(), FALSE) &&
           (marker_ != Marker::File || test::WriteTextFile(marker, "")) &&
           (marker_ != Marker::Folder || ::CreateDirectoryA(marker.c_str(), nullptr)) &&
           process_.StartProgram(exe, "", folder_.Path());
}

bool Pelorin::Start() {
    const auto shown = [&] {
        const std::string title = Text(form_ = OwnWindow("PelorinForm"));
        return form_ != nullptr && (title == "Pelorin" || title.rfind("Pelorin - ", 0) == 0);
    };
    // Generous: the first start in a fresh Wine prefix takes a while.
    return Launch() && test::WaitUntil([&] { return shown() || !process_.Running(); }, 30000) && shown() &&
           test::WaitUntil([&] { return Count(ProcessList()) > 0; }, 15000);
}

HWND Pelorin::OwnWindow(const char* className) const {
    std::vector<HWND> windows;
    ::EnumWindows(Collect, reinterpret_cast<LPARAM>(&windows));
    for (HWND w : windows) {
        if (ProcessOf(w) == process_.Pid() && ::IsWindowVisible(w) && ClassOf(w) == className) return w;
    }
    return nullptr;
}

HWND Pelorin::WaitOwnWindow(const char* className) const {
    HWND found = nullptr;
    test::WaitUntil([&] { return (found = OwnWindow(className)) != nullptr; });
    return found;
}

std::vector<HWND> Pelorin::Controls(const char* className) const {
    std::vector<HWND> all, matching;
    ::EnumChildWindows(form_, Collect, reinterpret_cast<LPARAM>(&all));
    std::copy_if(all.begin(), all.end(), std::back_inserter(matching), [&](HWND w) { return ClassOf(w) == className; });
    return matching;
}

HWND Pelorin::Control(const char* className, const std::string& caption) const {
    const auto all = Controls(className);
    const auto found = std::find_if(all.begin(), all.end(), [&](HWND w) { return Text(w) == caption; });
    return found == all.end() ? nullptr : *found;
}

HWND Pelorin::ProcessList() const {
    const auto lists = Controls(WC_LISTVIEWA);  // lvProcesses, then lvModules
    return lists.empty() ? nullptr : lists.front();
}

std::vector<std::string> Pelorin::LabelTexts() const {
    const auto labels = Controls("PelorinStatic");
    std::vector<std::string> texts(labels.size());
    std::transform(labels.begin(), labels.end(), texts.begin(), Text);
    return texts;
}

std::string Pelorin::Text(HWND window) {
    char buffer[1024] = {};
    const auto copied = Ask(window, WM_GETTEXT, sizeof buffer, reinterpret_cast<LPARAM>(buffer));
    return std::string(buffer, std::min<std::size_t>(copied.value_or(0), sizeof buffer - 1));
}

bool Pelorin::Checked(const std::string& caption) const { return Ask(Control("Button", caption), BM_GETCHECK) == BST_CHECKED; }
int Pelorin::Count(HWND list) const { return static_cast<int>(Ask(list, LVM_GETITEMCOUNT).value_or(-1)); }

std::vector<Row> Pelorin::Rows(HWND list) const {
    const int columns = ColumnCount(list);
    // A refresh can fall between two messages: two reads in a row must agree.
    for (int attempt = 0; attempt < 20 && columns > 0; ++attempt) {
        const int count = Count(list);
        const auto first = ReadTexts(list, LVM_GETITEMTEXTA, count * columns, columns, LVITEMA{});
        if (!first || first != ReadTexts(list, LVM_GETITEMTEXTA, count * columns, columns, LVITEMA{}) || Count(list) != count)
            continue;
        std::vector<Row> rows;
        for (auto cell = first->begin(); cell != first->end(); cell += columns) rows.emplace_back(cell, cell + columns);
        return rows;
    }
    return {};
}

std::vector<std::string> Pelorin::Headers(HWND list) const {
    LVCOLUMNA column = {};
    column.mask = LVCF_TEXT;
    return ReadTexts(list, LVM_GETCOLUMNA, ColumnCount(list), 1, column).value_or(std::vector<std::string>());
}

std::optional<POINT> Pelorin::BelowRows(HWND list) const {
    RECT client = {};
    // Two rows' room below the last one, so a row added meanwhile does not reach the point.
    if (Count(list) + 2 > static_cast<int>(Ask(list, LVM_GETCOUNTPERPAGE).value_or(0)) || !::GetClientRect(list, &client))
        return std::nullopt;
    POINT point = {40, client.bottom - 4};
    ::ClientToScreen(list, &point);
    return point;
}

std::optional<POINT> Pelorin::RowPoint(HWND list, int row, int column) const {
    const HWND target = row < 0 ? reinterpret_cast<HWND>(Ask(list, LVM_GETHEADER).value_or(0)) : list;
    const UniqueHandle process(::OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE, ProcessOf(list)));
    void* remote = process ? ::VirtualAllocEx(process.Get(), nullptr, sizeof(RECT), MEM_COMMIT, PAGE_READWRITE) : nullptr;
    RECT r = {LVIR_BOUNDS, 0, 0, 0};
    const bool read = remote && ::WriteProcessMemory(process.Get(), remote, &r, sizeof r, nullptr) &&
                      Ask(target, row < 0 ? HDM_GETITEMRECT : LVM_GETITEMRECT, row < 0 ? column : row,
                          reinterpret_cast<LPARAM>(remote)).value_or(0) &&
                      ::ReadProcessMemory(process.Get(), remote, &r, sizeof r, nullptr);
    if (remote) ::VirtualFreeEx(process.Get(), remote, 0, MEM_RELEASE);
    if (!read) return std::nullopt;
    POINT point = {row < 0 ? (r.left + r.right) / 2 : r.left + 30, (r.top + r.bottom) / 2};
    ::ClientToScreen(target, &point);
    return point;
}

int Pelorin::Find(const std::vector<Row>& rows, const std::string& text, int column) {
    for (std::size_t r = 0; r < rows.size(); ++r)
        if (rows[r].at(static_cast<std::size_t>(column)) == text) return static_cast<int>(r);
    return -1;
}

bool Pelorin::Press(std::initializer_list<WORD> keys) const {
    if (ProcessOf(::GetForegroundWindow()) != process_.Pid()) ::SetForegroundWindow(form_);
    std::vector<INPUT> inputs;
    for (auto up : {false, true}) {
        for (std::size_t i = 0; i < keys.size(); ++i) {
            INPUT input = {};
            input.type = INPUT_KEYBOARD;
            input.ki.wVk = up ? keys.begin()[keys.size() - 1 - i] : keys.begin()[i];
            // The scan code too: the character a key types is found from it.
            input.ki.wScan = static_cast<WORD>(::MapVirtualKeyA(input.ki.wVk, MAPVK_VK_TO_VSC));
            input.ki.dwFlags = up ? KEYEVENTF_KEYUP : 0;
            inputs.push_back(input);
        }
    }
    const bool sent = ::SendInput(static_cast<UINT>(inputs.size()), inputs.data(), sizeof(INPUT)) == inputs.size();
    ::Sleep(50);
    return sent;
}

bool Pelorin::Type(const std::string& text) const {
    for (const char c : text) {
        const SHORT key = ::VkKeyScanA(c);
        if (key == -1 || !((key & 0x100) ? Press({VK_SHIFT, static_cast<WORD>(key & 0xFF)}) : Press({static_cast<WORD>(key & 0xFF)})))
            return false;
    }
    return true;
}

std::string Pelorin::ClipboardText() {
    std::string text;
    if (!::OpenClipboard(nullptr)) return text;
    if (const HANDLE data = ::GetClipboardData(CF_TEXT)) {
        if (const auto* chars = static_cast<const char*>(::GlobalLock(data))) text = chars;
        ::GlobalUnlock(data);
    }
    ::CloseClipboard();
    return text;
}

bool Pelorin::Click(POINT screen, bool right, DWORD holdMs) const {
    // A popup menu or a message box of this process keeps the input where it is.
    if (ProcessOf(::GetForegroundWindow()) != process_.Pid()) ::SetForegroundWindow(form_);
    const bool landed = test::WaitUntil([&] {
        POINT at = {};
        return ProcessOf(::GetForegroundWindow()) == process_.Pid() && ::SetCursorPos(screen.x, screen.y) &&
               ::GetCursorPos(&at) && at.x == screen.x && at.y == screen.y && ProcessOf(::WindowFromPoint(at)) == process_.Pid();
    }, 3000);
    INPUT input = {};
    input.type = INPUT_MOUSE;
    input.mi.dwFlags = right ? MOUSEEVENTF_RIGHTDOWN : MOUSEEVENTF_LEFTDOWN;
    if (!landed || ::SendInput(1, &input, sizeof input) != 1) return false;
    ::Sleep(holdMs);
    input.mi.dwFlags = right ? MOUSEEVENTF_RIGHTUP : MOUSEEVENTF_LEFTUP;
    return ::SendInput(1, &input, sizeof input) == 1;
}

bool Pelorin::ClickCheckBox(const std::string& caption) const {
    const bool before = Checked(caption);
    return Click(CenterOf(Control("Button", caption))) && test::WaitUntil([&] { return Checked(caption) != before; }, 3000);
}

bool Pelorin::ClickCloseLabel() const {
    const HWND label = Control("PelorinStatic", " X");
    return label != nullptr && Click(CenterOf(label));
}

bool Pelorin::ChooseKillTask() const {
    const HWND popup = WaitPopupMenu();
    RECT r = {};
    // Two items of one height: the first one's middle is a quarter down.
    return popup != nullptr && ::GetWindowRect(popup, &r) && Click({(r.left + r.right) / 2, (3 * r.top + r.bottom) / 4});
}

Pelorin::SessionEnd Pelorin::EndSession(DWORD queryTimeoutMs, DWORD endTimeoutMs) const {
    SessionEnd end;
    DWORD_PTR ignored = 0;
    end.queryAnswered = ::SendMessageTimeoutA(form_, WM_QUERYENDSESSION, 0, 0, SMTO_ABORTIFHUNG, queryTimeoutMs, &end.queryResult);
    end.endReturned = ::SendMessageTimeoutA(form_, WM_ENDSESSION, TRUE, 0, SMTO_ABORTIFHUNG, endTimeoutMs, &ignored);
    return end;
}

bool Pelorin::Screenshot(const std::string& pngPath) const {
    ::SetForegroundWindow(form_);
    ::RedrawWindow(form_, nullptr, nullptr, RDW_INVALIDATE | RDW_ALLCHILDREN | RDW_UPDATENOW);
    ::Sleep(300);  // Pelorin paints on its own thread
    const Placement p = PlacementOf(form_);
    const ScopedWindowDC screen(nullptr);
    const HDC memory = ::CreateCompatibleDC(screen.Get());
    const UniqueResource<HBITMAP, GdiObjectTraits<HBITMAP>> bitmap(::CreateCompatibleBitmap(screen.Get(), p.width, p.height));
    bool saved = false;
    {
        const ScopedSelect select(memory, bitmap.Get());
        saved = ::BitBlt(memory, 0, 0, p.width, p.height, screen.Get(), p.left, p.top, SRCCOPY);
    }
    ::DeleteDC(memory);
    static const CLSID kPngEncoder = {0x557cf406, 0x1a04, 0x11d3, {0x9a, 0x73, 0x00, 0x00, 0xf8, 0x1e, 0xf3, 0x2e}};
    ULONG_PTR token = 0;
    const Gdiplus::GdiplusStartupInput input;
    if (!saved || Gdiplus::GdiplusStartup(&token, &input, nullptr) != Gdiplus::Ok) return false;
    {
        Gdiplus::Bitmap image(bitmap.Get(), nullptr);
        saved = image.Save(std::wstring(pngPath.begin(), pngPath.end()).c_str(), &kPngEncoder, nullptr) == Gdiplus::Ok;
    }
    Gdiplus::GdiplusShutdown(token);
    return saved;
}

}  // namespace pelorin::e2e
