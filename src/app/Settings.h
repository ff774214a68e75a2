// The main window's position, size and "On Top" state under
// HKEY_CURRENT_USER\SOFTWARE\marrowby\pelorin, and the window handle written
// there at every start.
#pragma once

namespace pelorin {

struct MainForm;

// Start-up, before the workers run: applies the stored values to the window.
void LoadSettings(MainForm& form);
// Start-up, right after LoadSettings: writes "pelorinno".
void RegisterWindowHandle(MainForm& form);
// The close handler, after both workers have stopped.
void SaveSettings(MainForm& form);

}  // namespace pelorin
