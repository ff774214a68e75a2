#include "e2e/PelorinDriver.h"

#include <commctrl.h>

#include <algorithm>
#include <cstring>
#include <cwchar>

// GDI+ needs the COM declarations that WIN32_LEAN_AND_MEAN leaves out, and min
// and max, which NOMINMAX keeps out of the Windows headers.
#include <objidl.h>
namespace Gdiplus {
using std::max;
using std::min;
}  // namespace Gdiplus
#include <gdiplus.h>

namespace pelorin::e2e {
namespace {

constexpr const char* kCompanyKey = "SOFTWARE\\marrowby";
constexpr const char* kProductKey = "SOFTWARE\\marrowby\\pelorin";

std::string FolderOf(const std::string& path) {
    const std::size_t slash = path.find_last_of('\\');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

bool IsVisibleWindowOf(HWND window, DWORD pid) {
    DWORD owner = 0;
    ::GetWindowThreadProcessId(window, &owner);
    return owner == pid && ::IsWindowVisible(window);
}

BOOL CALLBACK CollectWindow(HWND window, LPARAM context) noexcept {
    reinterpret_cast<std::vector<HWND>*>(context)->push_back(window);
    return TRUE;
}

}  // namespace

std::string DriverDirectory() {
    char buffer[MAX_PATH + 1] = {};
    const DWORD length = ::GetModuleFileNameA(nullptr, buffer, MAX_PATH);
    return FolderOf(std::string(buffer, length));
}

std::string BuildDirectory() {
    std::string bin = DriverDirectory();
    if (!bin.empty()) bin.pop_back();
    return FolderOf(bin);
}

// PelorinProcess

PelorinProcess::PelorinProcess(TestModeMarker marker) : marker_(marker) {
    char temp[MAX_PATH + 1] = {};
    ::GetTempPathA(MAX_PATH, temp);
    static LONG counter = 0;
    folder_ = std::string(temp) + "pelorin-e2e-" + std::to_string(::GetCurrentProcessId()) + "-" +
              std::to_string(::InterlockedIncrement(&counter)) + "\\";
    exePath_ = folder_ + "Pelorin.exe";
}

PelorinProcess::~PelorinProcess() {
    Kill();
    const std::string marker = folder_ + "testing.log";
    ::DeleteFileA(marker.c_str());
    ::RemoveDirectoryA(marker.c_str());
    ::DeleteFileA(exePath_.c_str());
    ::RemoveDirectoryA(folder_.c_str());
}

bool PelorinProcess::Start() {
    if (!::CreateDirectoryA(folder_.c_str(), nullptr) && ::GetLastError() != ERROR_ALREADY_EXISTS) return false;
    const std::string built = DriverDirectory() + "Pelorin.exe";
    if (!::CopyFileA(built.c_str(), exePath_.c_str(), FALSE)) return false;
    const std::string marker = folder_ + "testing.log";
    if (marker_ == TestModeMarker::File) {
        UniqueHandle file(::CreateFileA(marker.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
        if (!file) return false;
    } else if (marker_ == TestModeMarker::Folder) {
        if (!::CreateDirectoryA(marker.c_str(), nullptr)) return false;
    }

    std::string commandLine = "\"" + exePath_ + "\"";
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info = {};
    if (!::CreateProcessA(exePath_.c_str(), &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, folder_.c_str(),
                          &startup, &info)) {
        return false;
    }
    ::CloseHandle(info.hThread);
    process_.Reset(info.hProcess);
    pid_ = info.dwProcessId;
    return true;
}

HWND PelorinProcess::WaitForWindow(DWORD timeoutMs) const {
    const DWORD start = ::GetTickCount();
    for (;;) {
        for (HWND w : TopLevelWindowsTitled("Pelorin")) {
            if (IsVisibleWindowOf(w, pid_)) return w;
        }
        if (!Running() || ::GetTickCount() - start >= timeoutMs) return nullptr;
        ::Sleep(50);
    }
}

bool PelorinProcess::Running() const {
    return process_ && ::WaitForSingleObject(process_.Get(), 0) == WAIT_TIMEOUT;
}

std::optional<DWORD> PelorinProcess::WaitExitCode(DWORD timeoutMs) const {
    if (!process_ || ::WaitForSingleObject(process_.Get(), timeoutMs) != WAIT_OBJECT_0) return std::nullopt;
    DWORD code = 0;
    if (!::GetExitCodeProcess(process_.Get(), &code)) return std::nullopt;
    return code;
}

void PelorinProcess::Kill() {
    if (Running()) {
        ::TerminateProcess(process_.Get(), 99);
        ::WaitForSingleObject(process_.Get(), 5000);
    }
}

// Windows

std::string WindowText(HWND window) {
    char buffer[1024] = {};
    DWORD_PTR copied = 0;
    if (!::SendMessageTimeoutA(window, WM_GETTEXT, sizeof buffer, reinterpret_cast<LPARAM>(buffer), SMTO_ABORTIFHUNG,
                               5000, &copied)) {
        return {};
    }
    return std::string(buffer, std::min<std::size_t>(copied, sizeof buffer - 1));
}

std::vector<WindowInfo> DescendantsOf(HWND top) {
    std::vector<HWND> windows;
    ::EnumChildWindows(top, CollectWindow, reinterpret_cast<LPARAM>(&windows));
    std::vector<WindowInfo> result;
    for (HWND w : windows) {
        WindowInfo info;
        info.window = w;
        info.parent = ::GetParent(w);
        char className[128] = {};
        ::GetClassNameA(w, className, sizeof className);
        info.className = className;
        info.text = WindowText(w);
        ::GetWindowRect(w, &info.bounds);
        ::MapWindowPoints(HWND_DESKTOP, info.parent, reinterpret_cast<POINT*>(&info.bounds), 2);
        info.visible = ::IsWindowVisible(w) != FALSE;
        result.push_back(info);
    }
    return result;
}

std::vector<HWND> TopLevelWindowsTitled(const char* title) {
    std::vector<HWND> found;
    HWND window = nullptr;
    while ((window = ::FindWindowExA(nullptr, window, nullptr, title)) != nullptr) found.push_back(window);
    return found;
}

// RemoteListView

namespace {

// The remote block: the record first, then the text buffer.
constexpr std::size_t kRecordSize = 256;
constexpr std::size_t kTextSize = 4096;
static_assert(sizeof(LVITEMA) <= kRecordSize && sizeof(LVCOLUMNA) <= kRecordSize);

}  // namespace

RemoteListView::RemoteListView(HWND list) : list_(list) {
    DWORD pid = 0;
    ::GetWindowThreadProcessId(list, &pid);
    process_.Reset(::OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE | PROCESS_QUERY_INFORMATION,
                                 FALSE, pid));
    if (process_) {
        remote_ = ::VirtualAllocEx(process_.Get(), nullptr, kRecordSize + kTextSize, MEM_COMMIT | MEM_RESERVE,
                                   PAGE_READWRITE);
    }
}

RemoteListView::~RemoteListView() {
    if (remote_ != nullptr) ::VirtualFreeEx(process_.Get(), remote_, 0, MEM_RELEASE);
}

bool RemoteListView::Send(UINT message, WPARAM wParam, LRESULT& result) const {
    DWORD_PTR answer = 0;
    if (!::SendMessageTimeoutA(list_, message, wParam, reinterpret_cast<LPARAM>(remote_), SMTO_ABORTIFHUNG, 5000,
                               &answer)) {
        return false;
    }
    result = static_cast<LRESULT>(answer);
    return true;
}

std::string RemoteListView::ReadText(std::size_t length) const {
    std::vector<char> text(kTextSize, '\0');
    SIZE_T read = 0;
    char* remoteText = static_cast<char*>(remote_) + kRecordSize;
    if (!::ReadProcessMemory(process_.Get(), remoteText, text.data(), kTextSize, &read)) return {};
    text.back() = '\0';
    return std::string(text.data(), std::min(length, std::strlen(text.data())));
}

int RemoteListView::RowCount() const {
    DWORD_PTR count = 0;
    if (!::SendMessageTimeoutA(list_, LVM_GETITEMCOUNT, 0, 0, SMTO_ABORTIFHUNG, 5000, &count)) return -1;
    return static_cast<int>(count);
}

std::string RemoteListView::Cell(int row, int column) const {
    if (!Valid()) return {};
    char* remoteText = static_cast<char*>(remote_) + kRecordSize;
    LVITEMA item = {};
    item.iSubItem = column;
    item.pszText = remoteText;
    item.cchTextMax = static_cast<int>(kTextSize);
    const char empty = '\0';
    SIZE_T written = 0;
    if (!::WriteProcessMemory(process_.Get(), remote_, &item, sizeof item, &written) ||
        !::WriteProcessMemory(process_.Get(), remoteText, &empty, 1, &written)) {
        return {};
    }
    LRESULT length = 0;
    if (!Send(LVM_GETITEMTEXTA, static_cast<WPARAM>(row), length)) return {};
    return ReadText(static_cast<std::size_t>(length));
}

std::optional<RemoteListView::Column> RemoteListView::ColumnAt(int index) const {
    if (!Valid()) return std::nullopt;
    char* remoteText = static_cast<char*>(remote_) + kRecordSize;
    LVCOLUMNA column = {};
    column.mask = LVCF_FMT | LVCF_WIDTH | LVCF_TEXT;
    column.pszText = remoteText;
    column.cchTextMax = static_cast<int>(kTextSize);
    SIZE_T done = 0;
    if (!::WriteProcessMemory(process_.Get(), remote_, &column, sizeof column, &done)) return std::nullopt;
    LRESULT ok = 0;
    if (!Send(LVM_GETCOLUMNA, static_cast<WPARAM>(index), ok) || !ok) return std::nullopt;
    if (!::ReadProcessMemory(process_.Get(), remote_, &column, sizeof column, &done)) return std::nullopt;
    Column result;
    result.title = ReadText(kTextSize);
    result.alignment = column.fmt & LVCFMT_JUSTIFYMASK;
    result.width = column.cx;
    return result;
}

std::vector<RemoteListView::Column> RemoteListView::Columns() const {
    std::vector<Column> columns;
    for (int i = 0; i < 64; ++i) {
        auto column = ColumnAt(i);
        if (!column) break;
        columns.push_back(*column);
    }
    return columns;
}

std::optional<RECT> RemoteListView::ItemRect(int row) const {
    if (!Valid()) return std::nullopt;
    RECT rect = {};
    rect.left = LVIR_BOUNDS;
    SIZE_T done = 0;
    if (!::WriteProcessMemory(process_.Get(), remote_, &rect, sizeof rect, &done)) return std::nullopt;
    LRESULT ok = 0;
    if (!Send(LVM_GETITEMRECT, static_cast<WPARAM>(row), ok) || !ok) return std::nullopt;
    if (!::ReadProcessMemory(process_.Get(), remote_, &rect, sizeof rect, &done)) return std::nullopt;
    return rect;
}

int RemoteListView::SelectedRow() const {
    DWORD_PTR row = 0;
    if (!::SendMessageTimeoutA(list_, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_SELECTED, SMTO_ABORTIFHUNG, 5000,
                               &row)) {
        return -1;
    }
    return static_cast<int>(static_cast<LRESULT>(row));
}

int RemoteListView::RowOf(int column, const std::string& text) const {
    const int count = RowCount();
    for (int r = 0; r < count; ++r) {
        if (Cell(r, column) == text) return r;
    }
    return -1;
}

std::vector<RemoteListView::Row> RemoteListView::Rows(int columnCount) const {
    std::vector<Row> rows;
    const int count = RowCount();
    for (int r = 0; r < count; ++r) {
        Row row;
        for (int c = 0; c < columnCount; ++c) row.push_back(Cell(r, c));
        rows.push_back(std::move(row));
    }
    return rows;
}

std::optional<std::vector<RemoteListView::Row>> RemoteListView::StableRows(int columnCount, DWORD timeoutMs) const {
    const DWORD start = ::GetTickCount();
    std::vector<Row> previous = Rows(columnCount);
    while (::GetTickCount() - start < timeoutMs) {
        std::vector<Row> current = Rows(columnCount);
        if (!current.empty() && current == previous) return current;
        previous = std::move(current);
        ::Sleep(20);
    }
    return std::nullopt;
}

// Input

void PostClick(HWND window, POINT client, bool rightButton) {
    const LPARAM at = MAKELPARAM(client.x, client.y);
    ::PostMessageA(window, rightButton ? WM_RBUTTONDOWN : WM_LBUTTONDOWN, rightButton ? MK_RBUTTON : MK_LBUTTON, at);
    ::PostMessageA(window, rightButton ? WM_RBUTTONUP : WM_LBUTTONUP, 0, at);
}

void PressMenuKey(HWND form) {
    ::SetForegroundWindow(form);
    INPUT keys[2] = {};
    for (INPUT& key : keys) {
        key.type = INPUT_KEYBOARD;
        key.ki.wVk = VK_APPS;
    }
    keys[1].ki.dwFlags = KEYEVENTF_KEYUP;
    ::SendInput(2, keys, sizeof(INPUT));
}

void ChooseKillTask(HWND form) {
    ::PostMessageA(form, WM_KEYDOWN, VK_DOWN, 0);
    ::PostMessageA(form, WM_KEYDOWN, VK_RETURN, 0);
}

bool ClickButton(HWND button) {
    DWORD_PTR answer = 0;
    return ::SendMessageTimeoutA(button, BM_CLICK, 0, 0, SMTO_ABORTIFHUNG, 5000, &answer) != 0;
}

bool IsChecked(HWND checkBox) {
    DWORD_PTR state = 0;
    if (!::SendMessageTimeoutA(checkBox, BM_GETCHECK, 0, 0, SMTO_ABORTIFHUNG, 5000, &state)) return false;
    return state == BST_CHECKED;
}

namespace {

struct ClassSearch {
    DWORD pid;
    const char* className;
    HWND found;
};

BOOL CALLBACK FindWindowOfClass(HWND window, LPARAM context) noexcept {
    auto& search = *reinterpret_cast<ClassSearch*>(context);
    char name[64] = {};
    ::GetClassNameA(window, name, sizeof name);
    if (std::strcmp(name, search.className) != 0 || !IsVisibleWindowOf(window, search.pid)) return TRUE;
    search.found = window;
    return FALSE;
}

BOOL CALLBACK NoteIcon(HWND child, LPARAM found) noexcept {
    char name[32] = {};
    ::GetClassNameA(child, name, sizeof name);
    DWORD_PTR icon = 0;
    if (lstrcmpiA(name, "Static") == 0 && ::IsWindowVisible(child) &&
        ::SendMessageTimeoutA(child, STM_GETICON, 0, 0, SMTO_ABORTIFHUNG, 5000, &icon) && icon != 0) {
        *reinterpret_cast<bool*>(found) = true;
    }
    return TRUE;
}

BOOL CALLBACK NoteButton(HWND child, LPARAM buttons) noexcept {
    char name[32] = {};
    ::GetClassNameA(child, name, sizeof name);
    if (lstrcmpiA(name, "Button") == 0 && ::IsWindowVisible(child))
        reinterpret_cast<std::vector<std::string>*>(buttons)->push_back(WindowText(child));
    return TRUE;
}

}  // namespace

HWND WaitForWindowOfClass(DWORD pid, const char* className, DWORD timeoutMs) {
    const DWORD start = ::GetTickCount();
    for (;;) {
        ClassSearch search = {pid, className, nullptr};
        ::EnumWindows(FindWindowOfClass, reinterpret_cast<LPARAM>(&search));
        if (search.found != nullptr) return search.found;
        if (::GetTickCount() - start >= timeoutMs) return nullptr;
        ::Sleep(20);
    }
}

MessageBoxInfo ReadMessageBox(HWND box) {
    MessageBoxInfo info;
    info.title = WindowText(box);
    info.text = WindowText(::GetDlgItem(box, 0xFFFF));  // the message's static
    info.owner = ::GetWindow(box, GW_OWNER);
    ::EnumChildWindows(box, NoteButton, reinterpret_cast<LPARAM>(&info.buttons));
    ::EnumChildWindows(box, NoteIcon, reinterpret_cast<LPARAM>(&info.hasIcon));
    return info;
}

// Registry

std::optional<PelorinKeyState> ReadPelorinKey() {
    HKEY key = nullptr;
    if (::RegOpenKeyExA(HKEY_CURRENT_USER, kProductKey, 0, KEY_READ, &key) != ERROR_SUCCESS) return std::nullopt;
    PelorinKeyState state;
    ::RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                       &state.lastWrite);
    for (DWORD i = 0;; ++i) {
        char name[256] = {};
        DWORD nameLength = sizeof name;
        RegistryValue value;
        BYTE data[1024] = {};
        DWORD dataLength = sizeof data;
        if (::RegEnumValueA(key, i, name, &nameLength, nullptr, &value.type, data, &dataLength) != ERROR_SUCCESS) break;
        value.data.assign(data, data + dataLength);
        state.values[std::string(name, nameLength)] = value;
    }
    ::RegCloseKey(key);
    return state;
}

std::optional<std::int32_t> PelorinValue(const char* name) {
    HKEY key = nullptr;
    if (::RegOpenKeyExA(HKEY_CURRENT_USER, kProductKey, 0, KEY_READ, &key) != ERROR_SUCCESS) return std::nullopt;
    DWORD value = 0, size = sizeof value, type = 0;
    const LONG r = ::RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(&value), &size);
    ::RegCloseKey(key);
    if (r != ERROR_SUCCESS || type != REG_DWORD || size != sizeof value) return std::nullopt;
    return static_cast<std::int32_t>(value);
}

void DeleteCompanyKey() {
    ::RegDeleteTreeA(HKEY_CURRENT_USER, kCompanyKey);
    ::RegDeleteKeyA(HKEY_CURRENT_USER, kCompanyKey);
}

// RegistryKeyGuard

RegistryKeyGuard::RegistryKeyGuard() {
    HKEY key = nullptr;
    if (::RegOpenKeyExA(HKEY_CURRENT_USER, kCompanyKey, 0, KEY_READ, &key) == ERROR_SUCCESS) {
        companyExisted_ = true;
        ::RegCloseKey(key);
    }
    if (::RegOpenKeyExA(HKEY_CURRENT_USER, kProductKey, 0, KEY_READ, &key) != ERROR_SUCCESS) return;
    productExisted_ = true;
    for (DWORD i = 0;; ++i) {
        char name[256] = {};
        DWORD nameLength = sizeof name;
        DWORD type = 0;
        BYTE data[1024] = {};
        DWORD dataLength = sizeof data;
        if (::RegEnumValueA(key, i, name, &nameLength, nullptr, &type, data, &dataLength) != ERROR_SUCCESS) break;
        values_.push_back({std::string(name, nameLength), type, std::vector<BYTE>(data, data + dataLength)});
    }
    ::RegCloseKey(key);
}

RegistryKeyGuard::~RegistryKeyGuard() {
    ::RegDeleteTreeA(HKEY_CURRENT_USER, kProductKey);
    ::RegDeleteKeyA(HKEY_CURRENT_USER, kProductKey);
    if (!companyExisted_) ::RegDeleteKeyA(HKEY_CURRENT_USER, kCompanyKey);  // only when empty
    if (!productExisted_) return;
    HKEY key = nullptr;
    if (::RegCreateKeyExA(HKEY_CURRENT_USER, kProductKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr) !=
        ERROR_SUCCESS) {
        return;
    }
    for (const Value& v : values_) {
        ::RegSetValueExA(key, v.name.c_str(), 0, v.type, v.data.data(), static_cast<DWORD>(v.data.size()));
    }
    ::RegCloseKey(key);
}

// UnmanagedPelorinWindows

namespace {

constexpr const char* kPelorinX11Key = "Software\\Wine\\AppDefaults\\Pelorin.exe\\X11 Driver";

bool RunningOnWine() {
    const HMODULE ntdll = ::GetModuleHandleA("ntdll.dll");
    return ntdll != nullptr && ::GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

}  // namespace

UnmanagedPelorinWindows::UnmanagedPelorinWindows() {
    if (!RunningOnWine()) return;
    HKEY key = nullptr;
    if (::RegCreateKeyExA(HKEY_CURRENT_USER, kPelorinX11Key, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr) !=
        ERROR_SUCCESS) {
        return;
    }
    char data[64] = {};
    DWORD size = sizeof data - 1, type = 0;
    if (::RegQueryValueExA(key, "Managed", nullptr, &type, reinterpret_cast<BYTE*>(data), &size) == ERROR_SUCCESS &&
        type == REG_SZ) {
        previous_ = std::string(data);
    }
    applied_ = ::RegSetValueExA(key, "Managed", 0, REG_SZ, reinterpret_cast<const BYTE*>("N"), 2) == ERROR_SUCCESS;
    ::RegCloseKey(key);
}

UnmanagedPelorinWindows::~UnmanagedPelorinWindows() {
    if (!applied_) return;
    HKEY key = nullptr;
    if (::RegOpenKeyExA(HKEY_CURRENT_USER, kPelorinX11Key, 0, KEY_ALL_ACCESS, &key) != ERROR_SUCCESS) return;
    if (previous_) {
        ::RegSetValueExA(key, "Managed", 0, REG_SZ, reinterpret_cast<const BYTE*>(previous_->c_str()),
                         static_cast<DWORD>(previous_->size() + 1));
        ::RegCloseKey(key);
        return;
    }
    ::RegDeleteValueA(key, "Managed");
    ::RegCloseKey(key);
    // Remove the keys this object created, as far as they are empty now.
    ::RegDeleteKeyA(HKEY_CURRENT_USER, kPelorinX11Key);
    ::RegDeleteKeyA(HKEY_CURRENT_USER, "Software\\Wine\\AppDefaults\\Pelorin.exe");
}

// Screenshot

namespace {

bool PngEncoder(CLSID& clsid) {
    UINT count = 0, size = 0;
    if (Gdiplus::GetImageEncodersSize(&count, &size) != Gdiplus::Ok || size == 0) return false;
    std::vector<BYTE> buffer(size);
    auto* encoders = reinterpret_cast<Gdiplus::ImageCodecInfo*>(buffer.data());
    if (Gdiplus::GetImageEncoders(count, size, encoders) != Gdiplus::Ok) return false;
    for (UINT i = 0; i < count; ++i) {
        if (std::wcscmp(encoders[i].MimeType, L"image/png") == 0) {
            clsid = encoders[i].Clsid;
            return true;
        }
    }
    return false;
}

}  // namespace

bool SaveWindowPng(HWND window, const std::string& path) {
    RECT r = {};
    if (!::GetWindowRect(window, &r)) return false;
    const int width = r.right - r.left, height = r.bottom - r.top;
    if (width <= 0 || height <= 0) return false;

    ScopedWindowDC screen(nullptr);
    const HDC memory = ::CreateCompatibleDC(screen.Get());
    const HBITMAP bitmap = ::CreateCompatibleBitmap(screen.Get(), width, height);
    bool copied = false;
    {
        ScopedSelect select(memory, bitmap);
        copied = ::BitBlt(memory, 0, 0, width, height, screen.Get(), r.left, r.top, SRCCOPY) != FALSE;
    }
    ::DeleteDC(memory);

    bool saved = false;
    ULONG_PTR token = 0;
    Gdiplus::GdiplusStartupInput input;
    if (copied && Gdiplus::GdiplusStartup(&token, &input, nullptr) == Gdiplus::Ok) {
        {
            Gdiplus::Bitmap image(bitmap, nullptr);
            CLSID png;
            const std::wstring widePath(path.begin(), path.end());
            saved = PngEncoder(png) && image.Save(widePath.c_str(), &png, nullptr) == Gdiplus::Ok;
        }
        Gdiplus::GdiplusShutdown(token);
    }
    ::DeleteObject(bitmap);
    return saved;
}

}  // namespace pelorin::e2e
