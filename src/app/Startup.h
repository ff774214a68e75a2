// Start-up and shutdown of the program around its main window: the
// single-instance guard, the folder texts, test mode, the columns, the sample
// lists, the debug privilege, the settings, the start of both workers, and
// the close and destroy handlers that stop them.
#pragma once

#include <windows.h>

#include <string>

#include "controls/Control.h"
#include "ui/MainForm.h"

namespace pelorin {

// How the main window starts and ends. The program uses
// ProgramStartupOptions(); window tests switch off the guard and the workers
// and record the settings calls and the process's end instead.
struct StartupOptions {
    std::string programFolder;  // where "testing.log" is looked for, with a trailing backslash
    bool singleInstance = true; // run the single-instance guard
    bool startWorkers = true;   // resume both workers at the end of start-up
    void (*loadSettings)(MainForm& form) = nullptr;
    void (*registerWindowHandle)(MainForm& form) = nullptr;
    void (*saveSettings)(MainForm& form) = nullptr;
    // Ends the process with exit code 0 at once; null: the platform's end of
    // this process (no code of the program runs after it).
    void (*endProcess)() = nullptr;
};

// How long a close waits for the workers to stop. A worker still stuck in a
// platform call then (a version read on a stalled share, a slow process
// open) is taken along by the end of the process, after the settings are
// saved; it is never killed while the program goes on.
inline constexpr DWORD CloseWaitMs = 3000;

// The program's own: its folder, the guard, the workers, the real settings.
StartupOptions ProgramStartupOptions();

// The shell's part of the main window: InitMainForm, MainFormClose and
// MainFormDestroy. form.startup must point at options that outlive the form.
ShellHooks MainFormShell();
// form.startup := &options, then BuildMainForm with MainFormShell().
void CreateMainForm(MainForm& form, Control* app, const StartupOptions& options);

// The start-up that ends the main window's build.
void InitMainForm(MainForm& form);
// Stops CpuUsageThread, then RefreshThread, then saves the settings; a close
// is always accepted. Called again while it waits for the workers (the
// session ending during a user's close), it finishes the close itself: the
// settings are saved before it returns, once in all.
void MainFormClose(MainForm& form, Control* sender, bool& accept);
// Stops any worker still running, then releases the sample lists.
void MainFormDestroy(MainForm& form, Control* sender);

// True when a file (not a folder) named "testing.log" is in folder.
bool TestModeFileExists(const std::string& folder);

// Single-instance guard: creates the semaphore "Pelorin.exe" and keeps it for
// the life of the process. When it existed already, brings the running
// instance's window forward and ends this process with exit code 0.
void EnsureSingleInstance();
// The first top-level window titled "Pelorin" that belongs to another process.
HWND FindRunningInstanceWindow();

// Enables SeDebugPrivilege in the process token. True only when the
// privilege really was enabled (an adjustment that assigned nothing is false).
bool EnableDebugPrivilege();

}  // namespace pelorin
