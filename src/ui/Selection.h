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

// A left or right click in lvProcesses; the right click runs it before the
// popup menu opens, so "Kill Task" acts on the row that was clicked. Records
// the row's name, PID and the process's creation time, writes the caption and
// fills lvModules unless the row's image path names no real file.
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

// The modules of one process in the platform's order (pid 0: this program);
// none when the process cannot be read.
using ModuleLister = std::vector<ModuleRecord> (*)(std::uint32_t pid);
std::vector<ModuleRecord> PlatformModules(std::uint32_t pid);

// Rebuilds the module-details list: one row per module with a path (name,
// path, file description, company), the column 1 header naming processName
// and the column 0 header counting the rows.
void FillModuleDetails(Control* list, std::string_view processName, std::uint32_t pid,
                       ModuleLister modules = &PlatformModules);

}  // namespace pelorin
