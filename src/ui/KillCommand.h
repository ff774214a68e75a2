// "Kill Task" of the process list's popup menu.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "controls/Control.h"

namespace pelorin {

struct MainForm;

// Ends the selected process (only while its PID still belongs to the process
// that was clicked, and never this program or a process the machine needs,
// see KillProcess) and has the refresh worker rebuild the process list at
// once; when it was not ended, shows the failure message owned by the main
// window. Does nothing while an earlier kill or its message is under way.
void KillTaskClick(MainForm& form, Control* sender) noexcept;
// A key pressed in the process list: Delete is "Kill Task", with the same
// checks and the same failure message.
void ProcessListKey(MainForm& form, Control* sender, std::uint32_t key) noexcept;

// Failed to kill task: "name" PID: N
std::string KillFailureText(std::string_view name, std::uint32_t pid);

}  // namespace pelorin
