// The main window: every control of it, the two worker threads, and the state
// the program keeps for it (refresh, usage monitor, selection).
//
// BuildMainForm creates the controls in a fixed order (the order decides how
// the aligned controls stack), attaches the handlers and ends by running the
// application shell's start-up. The shell (src/app) hands in its start-up,
// close and destroy steps through ShellHooks, so this layer never includes it.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <optional>
#include <string>

#include "catalogue/ProcList.h"
#include "controls/Control.h"
#include "controls/Menu.h"
#include "controls/WorkerThread.h"
#include "usage/SysUsage.h"

namespace pelorin {

struct MainForm;
struct StartupOptions;  // the shell's start-up configuration (src/app/Startup.h)
struct KillApi;         // the kill's platform calls (src/support/SystemInfo.h)

struct ShellHooks {
    void (*initMainForm)(MainForm& form) = nullptr;
    void (*mainFormClose)(MainForm& form, Control* sender, bool& accept) = nullptr;
    void (*mainFormDestroy)(MainForm& form, Control* sender) = nullptr;
};

struct MainForm {
    // The controls and threads, in the order the window is described in.
    Control* Form = nullptr;
    Control* pnlTop = nullptr;
    Control* lblStat = nullptr;
    Control* lblClose = nullptr;
    Control* lblCpuUsage = nullptr;
    Control* lblRealtime = nullptr;
    WorkerThread* CpuUsageThread = nullptr;
    WorkerThread* RefreshThread = nullptr;
    Control* lvProcesses = nullptr;
    Control* pnlBottom = nullptr;
    Control* btnTest = nullptr;
    Control* chkShowKnown = nullptr;
    Control* chkMoreInfo = nullptr;
    Menu* mnuList = nullptr;
    Control* lblTask = nullptr;
    Control* splBottom = nullptr;
    Control* lvModules = nullptr;
    Control* chkNoRefresh = nullptr;
    Control* chkOnTop = nullptr;

    // The empty menu bar that makes mnuList a popup.
    Menu* mainMenu = nullptr;

    // State of the program around the window.
    ProcessListState refresh;  // RefreshEnabled, ProcessRowCount, SelectedPid, samples
    SysUsageState usage;       // CpuUsage, MemLoadText, CpuText
    std::string SelectedName;  // the "Process Name" cell of the selected row
    // When the selected process was created, as the refresh read it for the
    // clicked row; none when it could not be read. "Kill Task" ends only that
    // process.
    std::optional<std::uint64_t> SelectedCreation;
    const KillApi* killApi = nullptr;  // null: the platform's; tests put their own in
    bool killing = false;      // a kill, or its failure message, is under way
    bool TestMode = false;     // a "testing.log" file beside the program
    // The close: the workers must have stopped by closeDeadline; the
    // settings are saved once. Set when the close begins, read by tests from
    // other threads.
    std::atomic<bool> closing{false};
    DWORD closeDeadline = 0;
    bool settingsSaved = false;

    ShellHooks shell;
    const StartupOptions* startup = nullptr;  // read by the shell only
};

// Builds the window into form (which must outlive app's message loop) on the
// interface thread, then runs shell.initMainForm.
void BuildMainForm(MainForm& form, Control* app, const ShellHooks& shell);

// The column layouts of both lists, added by start-up.
void AddProcessColumns(MainForm& form);
void AddModuleColumns(MainForm& form);

// Run on the interface thread through Synchronize by the workers.
void UpdateStatusLine(MainForm& form, WorkerThread* thread);
void ShowCounts(MainForm& form, WorkerThread* thread);

// The worker bodies.
std::uint32_t RefreshThreadBody(MainForm& form, WorkerThread* thread);
std::uint32_t CpuUsageThreadBody(MainForm& form, WorkerThread* thread);

}  // namespace pelorin
