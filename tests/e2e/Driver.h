// Drives the real Pelorin.exe from a separate process, as a user and other
// programs meet it: a private copy in a folder of its own, its window and
// lists read from outside, real input on the display, its settings key.
#pragma once

#include <windows.h>

#include <initializer_list>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "common/TestSupport.h"

namespace pelorin::e2e {

using Row = std::vector<std::string>;

// The build folder (the parent of the bin folder), with a trailing backslash.
std::string BuildFolder();

// HKCU\SOFTWARE\marrowby\pelorin: one REG_DWORD of it; ClearSettings removes
// the company key, so the next start is a first run.
std::optional<DWORD> Setting(const char* name);
void ClearSettings();

// Puts the key back as it was found: its values (kept in a scratch key), or its absence.
class SettingsGuard {
public:
    SettingsGuard();
    ~SettingsGuard();

private:
    test::ScratchKey saved_;
    bool companyExisted_ = false, settingsExisted_ = false;
};

// A window's outer rectangle, as "frmleft", "frmtop", "frmWidth", "frmHeight" store it.
struct Placement {
    int left = 0, top = 0, width = 0, height = 0;
    bool operator==(const Placement&) const = default;
};
std::ostream& operator<<(std::ostream& out, const Placement& p);
Placement PlacementOf(HWND window);
bool Place(HWND window, const Placement& p);
std::optional<Placement> SavedPlacement();  // none while one value is missing

// What stands beside the copy under the name "testing.log".
enum class Marker { None, File, Folder };

class Pelorin {
public:
    explicit Pelorin(Marker marker = Marker::None) : marker_(marker) {}

    // Launch copies Pelorin.exe beside the marker and starts it; Start also
    // waits for the main window and the first rows of its process list.
    bool Launch();
    bool Start();
    HWND Window() const { return form_; }
    std::optional<DWORD> ExitCode(DWORD timeoutMs) const { return process_.ExitCode(timeoutMs); }

    // Descendants of the window of one class, in creation order.
    std::vector<HWND> Controls(const char* className) const;
    HWND Control(const char* className, const std::string& caption) const;
    HWND ProcessList() const;
    std::vector<std::string> LabelTexts() const;
    static std::string Text(HWND window);
    bool Checked(const std::string& caption) const;

    // A list as one refresh left it: every cell of every row.
    std::vector<Row> Rows(HWND list) const;
    std::vector<std::string> Headers(HWND list) const;
    int Count(HWND list) const;
    // A point of the list's empty area below its last row, on the screen.
    std::optional<POINT> BelowRows(HWND list) const;
    // The middle of a row (or, for row -1, of a column's header) on the screen.
    std::optional<POINT> RowPoint(HWND list, int row, int column = 0) const;
    // The row whose cell in the column holds text, in rows read just before.
    static int Find(const std::vector<Row>& rows, const std::string& text, int column = 1);

    // Real input: the window comes forward, the cursor lands on the point,
    // over a window of this process, before the button goes down.
    bool Click(POINT screen, bool right = false, DWORD holdMs = 60) const;
    bool ClickCheckBox(const std::string& caption) const;  // true once it toggled
    bool ClickCloseLabel() const;
    // Keys pressed together, in order, then let go (Ctrl+C is {VK_CONTROL, 'C'}); text typed key by key.
    bool Press(std::initializer_list<WORD> keys) const;
    bool Type(const std::string& text) const;
    static std::string ClipboardText();
    HWND WaitPopupMenu() const { return WaitOwnWindow("#32768"); }
    bool ChooseKillTask() const;  // clicks the first item of the open popup
    HWND WaitMessageBox() const { return WaitOwnWindow("#32770"); }
    static std::string MessageText(HWND box) { return Text(::GetDlgItem(box, 0xFFFF)); }

    // From outside: WM_CLOSE posted; the session's end sent as the system sends it.
    bool Close() const { return ::PostMessageA(form_, WM_CLOSE, 0, 0) != FALSE; }
    struct SessionEnd {
        bool queryAnswered = false, endReturned = false;
        DWORD_PTR queryResult = 0;
    };
    SessionEnd EndSession(DWORD queryTimeoutMs, DWORD endTimeoutMs) const;

    bool Screenshot(const std::string& pngPath) const;  // what the screen shows of the window

private:
    HWND OwnWindow(const char* className) const;
    HWND WaitOwnWindow(const char* className) const;

    Marker marker_;
    test::TempFolder folder_;  // declared first: the process ends before it goes
    test::Child process_;
    HWND form_ = nullptr;
};

}  // namespace pelorin::e2e
