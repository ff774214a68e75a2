// Bad stored settings, prepared with reg.exe (what `wine reg add` runs)
// before each start: every window value and "StayOnTop" as a text, as a
// 2-byte and an 8-byte binary, as 0xFFFFFFFF and as -32000; sizes of 0 and
// 100000; and a placement saved on a 1920x1080 screen restored on an 800x600
// one (a Wine virtual desktop of that size). Each time Pelorin's window is on
// a monitor, usable, and closes with exit code 0 storing clean values.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "e2e/PelorinDriver.h"
#include "fixtures/ChildProcess.h"
#include "reliability/ReliabilityDriver.h"
#include "support/Handles.h"

namespace pelorin::reliability {
namespace {

using e2e::PelorinProcess;
using e2e::RemoteListView;

constexpr const char* kProductKey = "SOFTWARE\\marrowby\\pelorin";

struct BadValue {
    const char* label;
    const char* type;  // as reg.exe names it
    const char* data;  // as reg.exe takes it
    DWORD storedType;
    DWORD storedSize;
};

// reg.exe takes no negative numbers: -32000 goes in as its 32-bit pattern.
const BadValue kBadValues[] = {
    {"a text", "REG_SZ", "wide", REG_SZ, 5},
    {"a 2-byte binary", "REG_BINARY", "3412", REG_BINARY, 2},
    {"an 8-byte binary", "REG_BINARY", "6400000000000000", REG_BINARY, 8},
    {"0xFFFFFFFF", "REG_DWORD", "0xFFFFFFFF", REG_DWORD, 4},
    {"-32000", "REG_DWORD", "0xFFFF8300", REG_DWORD, 4},
};

// What the value really holds now, read back through the registry API.
::testing::AssertionResult StoredAs(const char* name, DWORD type, DWORD size) {
    HKEY key = nullptr;
    if (::RegOpenKeyExA(HKEY_CURRENT_USER, kProductKey, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return ::testing::AssertionFailure() << "no key";
    DWORD actualType = 0, actualSize = 0;
    const LONG r = ::RegQueryValueExA(key, name, nullptr, &actualType, nullptr, &actualSize);
    ::RegCloseKey(key);
    if (r != ERROR_SUCCESS) return ::testing::AssertionFailure() << name << " missing";
    if (actualType != type || actualSize != size)
        return ::testing::AssertionFailure() << name << " is type " << actualType << ", " << actualSize << " bytes";
    return ::testing::AssertionSuccess();
}

// Sane values for the four others, then the one under test.
::testing::AssertionResult Prepare(const std::string& name, const std::string& type, const std::string& data) {
    e2e::DeleteCompanyKey();
    const struct {
        const char* name;
        const char* data;
    } sane[] = {{"frmleft", "150"}, {"frmtop", "100"}, {"frmWidth", "520"}, {"frmHeight", "380"}, {"StayOnTop", "0"}};
    for (const auto& v : sane) {
        if (!RegAddPelorinValue(v.name, "REG_DWORD", v.data)) return ::testing::AssertionFailure() << "reg add " << v.name;
    }
    if (!RegAddPelorinValue(name, type, data)) return ::testing::AssertionFailure() << "reg add " << name << " " << data;
    return ::testing::AssertionSuccess();
}

// On a monitor, no larger than it, its caption on it, and its list showing
// processes.
::testing::AssertionResult OnScreenAndUsable(HWND form, HWND list, RECT* monitorOut = nullptr) {
    const RECT box = WindowBox(form);
    const HMONITOR monitor = ::MonitorFromRect(&box, MONITOR_DEFAULTTONULL);
    if (monitor == nullptr) return ::testing::AssertionFailure() << "off every monitor at " << BoxText(box);
    MONITORINFO info = {};
    info.cbSize = sizeof info;
    if (!::GetMonitorInfoA(monitor, &info)) return ::testing::AssertionFailure() << "no monitor information";
    if (monitorOut != nullptr) *monitorOut = info.rcMonitor;
    const RECT& screen = info.rcMonitor;
    const int width = box.right - box.left, height = box.bottom - box.top;
    if (width < ::GetSystemMetrics(SM_CXMINTRACK) || height < ::GetSystemMetrics(SM_CYMINTRACK))
        return ::testing::AssertionFailure() << "too small to use: " << BoxText(box);
    if (width > screen.right - screen.left || height > screen.bottom - screen.top)
        return ::testing::AssertionFailure() << "larger than the screen " << BoxText(screen) << ": " << BoxText(box);
    // The caption, to grab the window by: at least half its height and 50
    // pixels of its width on the screen.
    const int captionTop = box.top + ::GetSystemMetrics(SM_CYFRAME);
    const int captionHeight = ::GetSystemMetrics(SM_CYCAPTION);
    const int shownHeight = std::min<int>(captionTop + captionHeight, screen.bottom) - std::max<int>(captionTop, screen.top);
    const int shownWidth = std::min<int>(box.right, screen.right) - std::max<int>(box.left, screen.left);
    if (2 * shownHeight < captionHeight || shownWidth < 50) {
        return ::testing::AssertionFailure() << "its caption is off the screen " << BoxText(screen) << ": "
                                             << BoxText(box);
    }
    if (!::IsWindowVisible(form)) return ::testing::AssertionFailure() << "not visible";
    RemoteListView rows(list);
    if (!WaitUntil([&] { return rows.RowCount() > 0; }, 10000)) return ::testing::AssertionFailure() << "no rows";
    RECT client = {};
    ::GetClientRect(list, &client);
    if (!::IsWindowVisible(list) || client.bottom <= 0 || client.right <= 0)
        return ::testing::AssertionFailure() << "the process list has no room";
    return ::testing::AssertionSuccess();
}

::testing::AssertionResult StoredCleanly() {
    for (const char* name : {"frmleft", "frmtop", "frmWidth", "frmHeight", "StayOnTop"}) {
        if (!e2e::PelorinValue(name)) return ::testing::AssertionFailure() << name << " is not a 4-byte REG_DWORD";
    }
    return ::testing::AssertionSuccess();
}

bool Topmost(HWND window) { return (::GetWindowLongA(window, GWL_EXSTYLE) & WS_EX_TOPMOST) != 0; }

// Starts Pelorin on the prepared values and checks it as the file header says.
void StartCheckAndClose(const std::string& what) {
    SCOPED_TRACE(what);
    PelorinProcess pelorin;
    ASSERT_TRUE(pelorin.Start());
    const HWND form = pelorin.WaitForWindow();
    ASSERT_NE(form, nullptr) << "no window";
    const PelorinWindow w = ControlsOf(form);
    ASSERT_TRUE(w.Complete());
    EXPECT_TRUE(OnScreenAndUsable(form, w.processes));
    // The box and the window agree (a value that was skipped leaves both clear).
    EXPECT_EQ(e2e::IsChecked(w.onTop), Topmost(form));

    ASSERT_TRUE(::PostMessageA(form, WM_CLOSE, 0, 0));
    const auto code = pelorin.WaitExitCode(3000);
    ASSERT_TRUE(code.has_value()) << "still running 3 s after WM_CLOSE";
    EXPECT_EQ(*code, 0u);
    EXPECT_TRUE(StoredCleanly());
}

class BadStoredValue : public ::testing::TestWithParam<const char*> {
protected:
    e2e::RegistryKeyGuard registry;
};

TEST_P(BadStoredValue, EveryBadFormLeavesTheWindowOnScreenAndUsable) {
    const std::string name = GetParam();
    for (const BadValue& bad : kBadValues) {
        ASSERT_TRUE(Prepare(name, bad.type, bad.data));
        ASSERT_TRUE(StoredAs(name.c_str(), bad.storedType, bad.storedSize)) << bad.label;
        StartCheckAndClose(name + " as " + bad.label);
    }
    // Any non-zero "StayOnTop" ticks the box; a text or binary one is skipped.
    if (name == "StayOnTop") {
        ASSERT_TRUE(Prepare(name, "REG_DWORD", "0xFFFF8300"));
        PelorinProcess pelorin;
        ASSERT_TRUE(pelorin.Start());
        const HWND form = pelorin.WaitForWindow();
        ASSERT_NE(form, nullptr);
        const PelorinWindow w = ControlsOf(form);
        EXPECT_TRUE(e2e::IsChecked(w.onTop));
        EXPECT_TRUE(Topmost(form));
        ASSERT_TRUE(::PostMessageA(form, WM_CLOSE, 0, 0));
        EXPECT_EQ(pelorin.WaitExitCode(3000), std::optional<DWORD>(0));
    }
}

INSTANTIATE_TEST_SUITE_P(Values, BadStoredValue,
                         ::testing::Values("frmleft", "frmtop", "frmWidth", "frmHeight", "StayOnTop"),
                         [](const ::testing::TestParamInfo<const char*>& param) { return std::string(param.param); });

TEST(BadStoredSize, ZeroAndHundredThousandLeaveTheWindowOnScreenAndUsable) {
    e2e::RegistryKeyGuard registry;
    for (const char* name : {"frmWidth", "frmHeight"}) {
        for (const char* value : {"0", "100000"}) {
            ASSERT_TRUE(Prepare(name, "REG_DWORD", value));
            ASSERT_TRUE(StoredAs(name, REG_DWORD, 4));
            StartCheckAndClose(std::string(name) + " " + value);
        }
    }
}

struct DesktopJob {
    const std::string* desktop;
    const std::function<void()>* fn;
    bool attached;
};

DWORD WINAPI DesktopThread(LPVOID context) noexcept {
    auto& job = *static_cast<DesktopJob*>(context);
    // A handle of the thread's own: the platform may close the thread's
    // desktop handle when the thread ends.
    const HDESK desktop = ::OpenDesktopA(job.desktop->c_str(), 0, FALSE, GENERIC_ALL);
    job.attached = desktop != nullptr && ::SetThreadDesktop(desktop) != FALSE;
    if (job.attached) {
        try {
            (*job.fn)();
        } catch (...) {
            job.attached = false;
        }
    }
    return 0;
}

// Runs fn on a thread of its own attached to the named desktop, where the
// windows, the screen and the monitors are those of that desktop.
bool RunOnDesktop(const std::string& desktop, const std::function<void()>& fn) {
    DesktopJob job{&desktop, &fn, false};
    UniqueHandle thread(::CreateThread(nullptr, 0, DesktopThread, &job, 0, nullptr));
    if (!thread) return false;
    ::WaitForSingleObject(thread.Get(), INFINITE);
    return job.attached;
}

// A copy of Pelorin.exe started by Wine's explorer on a virtual desktop of
// 800x600 of its own.
class SmallDesktopPelorin {
public:
    SmallDesktopPelorin() {
        char temp[MAX_PATH + 1] = {};
        ::GetTempPathA(MAX_PATH, temp);
        const std::string id = std::to_string(::GetCurrentProcessId()) + "-" + std::to_string(::GetTickCount());
        folder_ = std::string(temp) + "pelorin-small-" + id + "\\";
        exe_ = folder_ + "Pelorin.exe";
        desktopName_ = "PelorinSmall" + id;
    }
    ~SmallDesktopPelorin() {
        if (pelorin_ && ::WaitForSingleObject(pelorin_.Get(), 0) == WAIT_TIMEOUT) ::TerminateProcess(pelorin_.Get(), 99);
        if (explorer_ && ::WaitForSingleObject(explorer_.Get(), 5000) == WAIT_TIMEOUT) {
            ::TerminateProcess(explorer_.Get(), 0);
            ::WaitForSingleObject(explorer_.Get(), 5000);
        }
        ::DeleteFileA(exe_.c_str());
        ::RemoveDirectoryA(folder_.c_str());
    }
    SmallDesktopPelorin(const SmallDesktopPelorin&) = delete;
    SmallDesktopPelorin& operator=(const SmallDesktopPelorin&) = delete;

    bool Start() {
        if (!::CreateDirectoryA(folder_.c_str(), nullptr)) return false;
        if (!::CopyFileA(fixtures::FixturePath("Pelorin.exe").c_str(), exe_.c_str(), FALSE)) return false;
        std::string commandLine = "explorer.exe /desktop=" + desktopName_ + ",800x600 \"" + exe_ + "\"";
        STARTUPINFOA startup = {};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION info = {};
        if (!::CreateProcessA(nullptr, &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, folder_.c_str(), &startup,
                              &info)) {
            return false;
        }
        ::CloseHandle(info.hThread);
        explorer_.Reset(info.hProcess);
        // The desktop exists once explorer has made it.
        return WaitUntil(
            [&] {
                const HDESK desktop = ::OpenDesktopA(desktopName_.c_str(), 0, FALSE, GENERIC_ALL);
                if (desktop == nullptr) return false;
                ::CloseDesktop(desktop);
                return true;
            },
            15000, 50);
    }

    // Pelorin's visible window on that desktop, once it shows.
    HWND WaitForWindow() {
        HWND form = nullptr;
        RunOnDesktop(desktopName_, [&] {
            WaitUntil(
                [&] {
                    for (HWND w : e2e::TopLevelWindowsTitled("Pelorin")) {
                        char name[64] = {};
                        ::GetClassNameA(w, name, sizeof name);
                        if (std::string(name) == "PelorinForm" && ::IsWindowVisible(w)) form = w;
                    }
                    return form != nullptr;
                },
                20000, 50);
        });
        if (form != nullptr) {
            DWORD pid = 0;
            ::GetWindowThreadProcessId(form, &pid);
            pelorin_.Reset(::OpenProcess(SYNCHRONIZE | PROCESS_QUERY_INFORMATION | PROCESS_TERMINATE, FALSE, pid));
        }
        return form;
    }

    const std::string& Desktop() const { return desktopName_; }

    std::optional<DWORD> WaitExitCode(DWORD timeoutMs) {
        if (!pelorin_ || ::WaitForSingleObject(pelorin_.Get(), timeoutMs) != WAIT_OBJECT_0) return std::nullopt;
        DWORD code = 0;
        if (!::GetExitCodeProcess(pelorin_.Get(), &code)) return std::nullopt;
        return code;
    }

private:
    std::string folder_, exe_, desktopName_;
    UniqueHandle explorer_;
    UniqueHandle pelorin_;
};

TEST(BadStoredPlacement, APlacementFromA1920x1080ScreenComesUpOnAn800x600One) {
    e2e::RegistryKeyGuard registry;
    const struct {
        const char* what;
        const char* left;
        const char* top;
        const char* width;
        const char* height;
    } placements[] = {
        {"lower right of the large screen", "1300", "620", "600", "420"},
        {"nearly all of the large screen", "0", "0", "1920", "1040"},
    };
    for (const auto& p : placements) {
        SCOPED_TRACE(p.what);
        e2e::DeleteCompanyKey();
        ASSERT_TRUE(RegAddPelorinValue("frmleft", "REG_DWORD", p.left));
        ASSERT_TRUE(RegAddPelorinValue("frmtop", "REG_DWORD", p.top));
        ASSERT_TRUE(RegAddPelorinValue("frmWidth", "REG_DWORD", p.width));
        ASSERT_TRUE(RegAddPelorinValue("frmHeight", "REG_DWORD", p.height));

        SmallDesktopPelorin pelorin;
        ASSERT_TRUE(pelorin.Start()) << "no 800x600 desktop";
        const HWND form = pelorin.WaitForWindow();
        ASSERT_NE(form, nullptr) << "no window on the small desktop";
        RECT screen = {}, box = {};
        ::testing::AssertionResult usable = ::testing::AssertionFailure() << "never checked";
        ASSERT_TRUE(RunOnDesktop(pelorin.Desktop(), [&] {
            usable = OnScreenAndUsable(form, ControlsOf(form).processes, &screen);
            box = WindowBox(form);
        }));
        EXPECT_TRUE(usable);
        EXPECT_EQ(screen.right - screen.left, 800) << BoxText(screen);
        EXPECT_EQ(screen.bottom - screen.top, 600) << BoxText(screen);
        // Wholly on it: moved or cut into its work area.
        EXPECT_TRUE(box.left >= screen.left && box.top >= screen.top && box.right <= screen.right &&
                    box.bottom <= screen.bottom)
            << BoxText(box);
        PrintFigure("settings 1920x1080 on 800x600", p.what, BoxText(box));

        ASSERT_TRUE(::PostMessageA(form, WM_CLOSE, 0, 0));
        const auto code = pelorin.WaitExitCode(3000);
        ASSERT_TRUE(code.has_value()) << "still running 3 s after WM_CLOSE";
        EXPECT_EQ(*code, 0u);
    }
}

}  // namespace
}  // namespace pelorin::reliability
