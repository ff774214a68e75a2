// "Kill Task" of the process list's popup menu.
#pragma once

#include "controls/Control.h"

namespace pelorin {

struct MainForm;

void KillTaskClick(MainForm& form, Control* sender);

}  // namespace pelorin
