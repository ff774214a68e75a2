#include "app/Startup.h"

#include "app/Settings.h"
#include "catalogue/VariablesUnit.h"
#include "controls/Control.h"
#include "controls/WorkerThread.h"
#include "support/FastStrings.h"
#include "support/Handles.h"
#include "support/SystemInfo.h"

namespace pelorin {
namespace {

constexpr const char* kInstanceSemaphore = "Pelorin.exe";
constexpr const char* kMainCaption = "Pelorin";
constexpr const char* kTestModeFile = "testing.log";

const StartupOptions& OptionsOf(const MainForm& f) {
    static const StartupOptions program = ProgramStartupOptions();
    return f.startup != nullptr ? *f.startup : program;
}

DWORD Remaining(DWORD deadline) {
    const auto left = static_cast<LONG>(deadline - ::GetTickCount());
    return left > 0 ? static_cast<DWORD>(left) : 0;
}

// Both workers asked at once, then waited for in order, all by one deadline
// set when the close began.
bool StopWorkers(MainForm& f) {
    if (!f.closing) {
        f.closing = true;
        f.closeDeadline = ::GetTickCount() + CloseWaitMs;
    }
    RequestStop(f.CpuUsageThread);
    RequestStop(f.RefreshThread);
    const bool cpuStopped = StopAndWait(f.CpuUsageThread, Remaining(f.closeDeadline));
    return StopAndWait(f.RefreshThread, Remaining(f.closeDeadline)) && cpuStopped;
}

void EndProcess(const StartupOptions& o) {
    if (o.endProcess) {
        o.endProcess();
        return;
    }
    // Not ExitProcess: that runs the runtime's and the libraries' clean-up,
    // which may wait for a lock the stuck worker holds.
    ::TerminateProcess(::GetCurrentProcess(), 0);
}

}  // namespace

StartupOptions ProgramStartupOptions() {
    StartupOptions o;
    o.programFolder = ProgramDirectory();
    o.loadSettings = &LoadSettings;
    o.registerWindowHandle = &RegisterWindowHandle;
    o.saveSettings = &SaveSettings;
    return o;
}

ShellHooks MainFormShell() {
    ShellHooks hooks;
    hooks.initMainForm = &InitMainForm;
    hooks.mainFormClose = &MainFormClose;
    hooks.mainFormDestroy = &MainFormDestroy;
    return hooks;
}

void CreateMainForm(MainForm& f, Control* app, const StartupOptions& options) {
    f.startup = &options;
    BuildMainForm(f, app, MainFormShell());
}

void InitMainForm(MainForm& f) {
    const StartupOptions& o = OptionsOf(f);
    // First, so a second instance ends before any window, thread or setting.
    if (o.singleInstance) EnsureSingleInstance();

    SetSharedFolders({SystemDriveRoot(), WindowsDirectory(), SystemDirectory(), ProgramFilesDirectory(),
                      TempDirectory()});

    f.TestMode = TestModeFileExists(o.programFolder);
    if (!f.TestMode) {
        // The status labels stay out of sight but are still written.
        SetHeight(f.pnlTop, 1);
        SetVisible(f.btnTest, false);
    }
    SetHeight(f.pnlBottom, 180);
    SetAlign(f.lvProcesses, kAlignClient);

    AddProcessColumns(f);
    AddModuleColumns(f);

    SetCaption(f.lblRealtime,
               DriveRootFolder() + " " + WindowsFolder() + " " + SystemFolder() + " " + ProgramFilesFolder());

    CreateSampleLists(f.refresh);
    EnableDebugPrivilege();
    if (o.loadSettings) o.loadSettings(f);
    if (o.registerWindowHandle) o.registerWindowHandle(f);
    f.refresh.RefreshEnabled = true;

    if (o.startWorkers) {
        Resume(f.CpuUsageThread);
        Resume(f.RefreshThread);
    }
}

void MainFormClose(MainForm& f, Control*, bool&) {
    // No refresh may start on this thread from here on (a kill's refresh).
    f.refresh.RefreshEnabled = false;
    // Cooperative stops: each waits while serving sent messages, so a worker
    // blocked in Synchronize or in a list call is answered, sees the stop and
    // ends; nothing it holds is abandoned.
    const bool stopped = StopWorkers(f);
    const StartupOptions& o = OptionsOf(f);
    if (!f.settingsSaved) {
        if (o.saveSettings) o.saveSettings(f);
        f.settingsSaved = true;
    }
    if (!stopped) EndProcess(o);
}

void MainFormDestroy(MainForm& f, Control*) {
    // Destroyed without a close (or the close never ran): the workers must
    // not outlive the lists they read.
    f.refresh.RefreshEnabled = false;
    if (!StopWorkers(f)) {
        EndProcess(OptionsOf(f));
        // Only a test's end returns here: its worker is released by then.
        StopAndWait(f.CpuUsageThread);
        StopAndWait(f.RefreshThread);
    }
    ReleaseSampleLists(f.refresh);
}

bool TestModeFileExists(const std::string& folder) {
    return FileExists(IncludeTrailingBackslash(folder) + kTestModeFile);
}

void EnsureSingleInstance() {
    const HANDLE semaphore = ::CreateSemaphoreA(nullptr, 0, 1, kInstanceSemaphore);
    if (semaphore != nullptr && ::GetLastError() == ERROR_ALREADY_EXISTS) {
        ::CloseHandle(semaphore);
        ::SwitchToThisWindow(FindRunningInstanceWindow(), TRUE);
        ::ExitProcess(0);
    }
    // The first instance keeps its handle open for the life of the process.
}

HWND FindRunningInstanceWindow() {
    // Skip windows of this process: only another instance is to be brought forward.
    const DWORD self = ::GetCurrentProcessId();
    HWND window = nullptr;
    while ((window = ::FindWindowExA(nullptr, window, nullptr, kMainCaption)) != nullptr) {
        DWORD pid = 0;
        ::GetWindowThreadProcessId(window, &pid);
        if (pid != self) return window;
    }
    return nullptr;
}

bool EnableDebugPrivilege() {
    UniqueHandle token;
    if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, token.Put())) return false;
    LUID luid = {};
    if (!::LookupPrivilegeValueA(nullptr, "SeDebugPrivilege", &luid)) return false;

    TOKEN_PRIVILEGES privileges = {};
    privileges.PrivilegeCount = 1;
    privileges.Privileges[0].Luid = luid;
    privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
    DWORD returned = 0;
    if (!::AdjustTokenPrivileges(token.Get(), FALSE, &privileges, sizeof privileges, nullptr, &returned)) return false;
    // The call succeeds even when the token lacks the privilege; then nothing was enabled.
    return ::GetLastError() != ERROR_NOT_ALL_ASSIGNED;
}

}  // namespace pelorin
