// Drives the real Pelorin.exe from outside, the way another program sees it:
// a private copy of the executable started as its own process, its window
// found by title and process, its controls read by window messages, its list
// views read across processes through memory allocated in Pelorin.
#pragma once

#include <windows.h>

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "support/Handles.h"

namespace pelorin::e2e {

// The folder of the driver (<build>\bin\) and the build tree above it.
std::string DriverDirectory();
std::string BuildDirectory();

// One Pelorin.exe copied into a temporary folder of its own, so a case can
// place "testing.log" beside it (a file or a folder) or leave it out. The
// process is killed, if it still runs, and the folder removed on destruction.
class PelorinProcess {
public:
    enum class TestModeMarker { None, File, Folder };

    explicit PelorinProcess(TestModeMarker marker = TestModeMarker::None);
    ~PelorinProcess();
    PelorinProcess(const PelorinProcess&) = delete;
    PelorinProcess& operator=(const PelorinProcess&) = delete;

    // False when the copy or the start failed.
    bool Start();
    // The visible top-level window titled "Pelorin" of this process, once it
    // shows; null when none appears within timeoutMs.
    HWND WaitForWindow(DWORD timeoutMs = 15000) const;

    DWORD Pid() const { return pid_; }
    HANDLE Process() const { return process_.Get(); }
    const std::string& ExePath() const { return exePath_; }
    bool Running() const;
    // The exit code once the process has ended within timeoutMs.
    std::optional<DWORD> WaitExitCode(DWORD timeoutMs) const;
    void Kill();

private:
    std::string folder_;
    std::string exePath_;
    TestModeMarker marker_;
    UniqueHandle process_;
    DWORD pid_ = 0;
};

// A child window as another program sees it.
struct WindowInfo {
    HWND window = nullptr;
    HWND parent = nullptr;
    std::string className;
    std::string text;
    RECT bounds = {};  // in the parent's client coordinates
    bool visible = false;
};

// Every descendant window of top, in the platform's enumeration order.
std::vector<WindowInfo> DescendantsOf(HWND top);
// WM_GETTEXT across processes (bounded wait).
std::string WindowText(HWND window);
// Top-level windows titled exactly title, in every process.
std::vector<HWND> TopLevelWindowsTitled(const char* title);

// Reads a list view of another process: LVM_GETITEMTEXTA and LVM_GETCOLUMNA
// with the record and the text buffer in memory allocated in that process.
class RemoteListView {
public:
    explicit RemoteListView(HWND list);
    ~RemoteListView();
    RemoteListView(const RemoteListView&) = delete;
    RemoteListView& operator=(const RemoteListView&) = delete;

    bool Valid() const { return remote_ != nullptr; }
    int RowCount() const;
    std::string Cell(int row, int column) const;

    struct Column {
        std::string title;
        int alignment = 0;  // LVCFMT_LEFT, LVCFMT_RIGHT or LVCFMT_CENTER
        int width = 0;
    };
    std::optional<Column> ColumnAt(int index) const;
    std::vector<Column> Columns() const;

    // The bounds of a row in the list's client coordinates.
    std::optional<RECT> ItemRect(int row) const;
    // The first selected row, -1 for none.
    int SelectedRow() const;
    // The first row whose cell in column reads text, -1 for none.
    int RowOf(int column, const std::string& text) const;

    // Every row, with the cells of the first columnCount columns.
    using Row = std::vector<std::string>;
    std::vector<Row> Rows(int columnCount) const;
    // Rows read twice in a row with the same result (the list is rebuilt once
    // a second); none when no two reads agreed within timeoutMs.
    std::optional<std::vector<Row>> StableRows(int columnCount, DWORD timeoutMs = 10000) const;

private:
    bool Send(UINT message, WPARAM wParam, LRESULT& result) const;
    std::string ReadText(std::size_t length) const;

    HWND list_;
    UniqueHandle process_;
    void* remote_ = nullptr;
};

// Input as the platform delivers it to another program's window: a button
// press and release posted at a point of the window's client area.
void PostClick(HWND window, POINT client, bool rightButton = false);
// BM_CLICK sent to a button or check box (bounded wait).
bool ClickButton(HWND button);
bool IsChecked(HWND checkBox);
// The keyboard's menu key as real input to Pelorin's window, where the list
// has the focus since the last click. (The platform makes the context-menu
// request from real key input only; a posted key message does not.)
void PressMenuKey(HWND form);
// Chooses "Kill Task", the first item, in the open popup by the keyboard.
void ChooseKillTask(HWND form);

// The visible top-level window of class className that belongs to pid, once
// one shows within timeoutMs; null otherwise. "#32768" is a popup menu,
// "#32770" a dialog such as a message box.
HWND WaitForWindowOfClass(DWORD pid, const char* className, DWORD timeoutMs = 5000);

// What a message box shows.
struct MessageBoxInfo {
    std::string title;
    std::string text;  // the message's static control
    HWND owner = nullptr;
    std::vector<std::string> buttons;  // the captions of its visible buttons
    bool hasIcon = false;              // a visible static showing an icon
};
MessageBoxInfo ReadMessageBox(HWND box);

// The values of HKEY_CURRENT_USER\SOFTWARE\marrowby\pelorin and the key's
// last write time; none when the key does not exist.
struct RegistryValue {
    DWORD type = 0;
    std::vector<BYTE> data;
    bool operator==(const RegistryValue&) const = default;
};
struct PelorinKeyState {
    std::map<std::string, RegistryValue> values;
    FILETIME lastWrite = {};
};
std::optional<PelorinKeyState> ReadPelorinKey();
// A REG_DWORD of 4 bytes from that key, or none.
std::optional<std::int32_t> PelorinValue(const char* name);
// Deletes HKEY_CURRENT_USER\SOFTWARE\marrowby with everything under it.
void DeleteCompanyKey();

// Saves HKEY_CURRENT_USER\SOFTWARE\marrowby\pelorin (its values, and whether
// it and "marrowby" existed) and puts that state back on destruction.
class RegistryKeyGuard {
public:
    RegistryKeyGuard();
    ~RegistryKeyGuard();
    RegistryKeyGuard(const RegistryKeyGuard&) = delete;
    RegistryKeyGuard& operator=(const RegistryKeyGuard&) = delete;

private:
    struct Value {
        std::string name;
        DWORD type = 0;
        std::vector<BYTE> data;
    };
    bool companyExisted_ = false;
    bool productExisted_ = false;
    std::vector<Value> values_;
};

// Under Wine on a display without a window manager, hiding a managed top-level
// window waits 2 s for a window manager that never answers, so every close
// would look 2 s slower than Pelorin makes it. While this object lives,
// Pelorin.exe runs with Wine's unmanaged windows (its per-program X11 driver
// setting; Wine then also draws the title bar). Outside Wine it does nothing.
class UnmanagedPelorinWindows {
public:
    UnmanagedPelorinWindows();
    ~UnmanagedPelorinWindows();
    UnmanagedPelorinWindows(const UnmanagedPelorinWindows&) = delete;
    UnmanagedPelorinWindows& operator=(const UnmanagedPelorinWindows&) = delete;

private:
    bool applied_ = false;
    std::optional<std::string> previous_;  // the value it replaced
};

// Copies what the screen shows of window into a PNG file; false on failure.
bool SaveWindowPng(HWND window, const std::string& path);

}  // namespace pelorin::e2e
