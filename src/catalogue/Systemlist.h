// The fixed table of processes hidden unless the user asks to see them:
// parts of the system, this program (both builds) and its sibling tools, and
// common background programs of drivers and applications.
#pragma once

#include <array>
#include <string_view>

namespace pelorin {

// The folder a known program lives under.
enum class BaseFolder { Windows, Program, System, DriveRoot, ProgramFiles };

struct KnownProcessRow {
    BaseFolder base;
    std::string_view subFolder;  // below the base, ending in a backslash, or empty
    std::string_view fileName;   // letter case is significant
};

inline constexpr std::size_t KnownProcessCount = 47;
extern const std::array<KnownProcessRow, KnownProcessCount> KnownProcessTable;

// True when `name` (a snapshot's bare file name, not a path) equals the file
// name of a row, byte for byte: "svchost.exe" is known, "SVCHOST.EXE" is not.
// The folders never decide the outcome, so they are not consulted.
bool IsKnownProcess(std::string_view name);

}  // namespace pelorin
