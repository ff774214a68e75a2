// Names and folder texts shared across the catalogue, the selection panel and
// start-up.
#pragma once

#include <string>
#include <string_view>

namespace pelorin {

// Always in small letters: compare against them only after lower-casing the
// other side.
inline constexpr std::string_view SystemProcessName = "[system process]";
inline constexpr std::string_view SystemName = "system";
inline constexpr std::string_view SystemRootPrefix = "\\systemroot\\";
inline constexpr std::string_view NtPathPrefix = "\\??\\";
inline constexpr std::string_view SystemIdleProcessName = "[system idle process]";
inline constexpr std::string_view SystemBracketName = "[system]";

// The standard folders found once at start-up.
struct SharedFolders {
    std::string driveRoot;     // root of the drive holding the Windows folder, e.g. C:\ .
    std::string windows;       // the Windows folder with a trailing backslash
    std::string system;        // the system folder with a trailing backslash
    std::string programFiles;  // the Program Files folder with a trailing backslash
    std::string temp;          // the temporary folder as the platform gives it
};

// Start-up stores the folders here once, before any worker thread runs; they
// are only read afterwards, so the readers need no lock.
void SetSharedFolders(SharedFolders folders);

// Empty until SetSharedFolders has run.
const std::string& DriveRootFolder();
const std::string& WindowsFolder();
const std::string& SystemFolder();
const std::string& ProgramFilesFolder();
const std::string& TempFolder();

}  // namespace pelorin
