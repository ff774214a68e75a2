// The main window's position, size and "On Top" state under
// HKEY_CURRENT_USER\SOFTWARE\marrowby\pelorin, and the window handle written
// there at every start.
#pragma once

#include <windows.h>

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace pelorin {

struct MainForm;

// Where the settings live: root\parent\company\product. The program uses
// ProgramSettingsKey(); tests point it at a throwaway key.
struct SettingsKey {
    HKEY root = HKEY_CURRENT_USER;
    std::string parent = "SOFTWARE";
    std::string company = "marrowby";
    std::string product = "pelorin";
};
const SettingsKey& ProgramSettingsKey();
// parent\company\product
std::string ProductKeyPath(const SettingsKey& key);

// Start-up, before the workers run: applies the stored placement (brought
// onto a monitor when it would be off every one) and the "On Top" box.
void LoadSettings(MainForm& form);
void LoadSettings(MainForm& form, const SettingsKey& key);
// Start-up, right after LoadSettings: writes "pelorinno". Creates the keys
// only while the company key is missing.
void RegisterWindowHandle(MainForm& form);
void RegisterWindowHandle(MainForm& form, const SettingsKey& key);
// The close handler, after both workers have stopped.
void SaveSettings(MainForm& form);
void SaveSettings(MainForm& form, const SettingsKey& key);

// The four window values as stored; a value that is missing, or not a 4-byte
// REG_DWORD, is absent.
struct StoredPlacement {
    std::optional<std::int32_t> left, top, width, height;
};

// The outer window rectangle to use at start-up. Absent values keep the built
// ones; a stored width or height below `minimum` (the smallest trackable
// window) keeps the built one. A placement whose caption (the top
// captionHeight pixels of the window) can be reached on some work area is
// kept as it is, also across several monitors. Otherwise the window is
// brought into the nearest work area (most overlap, else least distance),
// cut to its size where larger. No work areas: no correction of place.
RECT SettlePlacement(const RECT& built, const StoredPlacement& stored, SIZE minimum, std::int32_t captionHeight,
                     std::span<const RECT> workAreas);

// The work area of every monitor attached to the desktop.
std::vector<RECT> MonitorWorkAreas();

}  // namespace pelorin
