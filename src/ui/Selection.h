// The process-list click (selected process, caption, module details) and the
// "Test" button.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "catalogue/ProcessSnapshot.h"
#include "controls/Control.h"

namespace pelorin {

struct MainForm;

// A left or right click in lvProcesses, or the user's move of its highlight
// by the keyboard; the right click runs it before the popup menu opens, so
// "Kill Task" acts on the row that was clicked. Takes the row the mouse went
// down on (not the highlighted one, which a refresh landing meanwhile may
// have moved), or the row the key moved to: records its name, PID and the
// creation time the refresh read for it, moves the highlight to it, writes
// the caption and fills lvModules unless the row's image path names no real
// file (after a key, once the keys rest). So the highlighted row, the title
// and what Delete and "Kill Task" end are always the one process.
void ProcessListClick(MainForm& form, Control* sender) noexcept;
// Scrolls row 19 of lvProcesses into view and shows lvModules' column 1
// header in the caption.
void TestButtonClick(MainForm& form, Control* sender) noexcept;

// "Pelorin - Selected PID: N [name]".
std::string SelectionCaption(std::uint32_t pid, std::string_view name);

// True for an image path that names no real file: "[system idle process]",
// "[system]", or a native path under "\systemroot\" or "\??\" (A-Z compared
// without case).
bool IsSystemImagePath(std::string_view path);

// Rebuilds the module-details list: one row per module with a path (name,
// path, file description, company), the column 1 header naming processName
// and the column 0 header counting the rows.
using ModuleLister = std::vector<ModuleRecord> (*)(std::uint32_t pid);
void FillModuleDetails(Control* list, std::string_view processName, std::uint32_t pid,
                       ModuleLister modules = &ListProcessModules);

}  // namespace pelorin
