// The process-list click (selected process, caption, module details) and the
// "Test" button.
#pragma once

#include "controls/Control.h"

namespace pelorin {

struct MainForm;

// A left or right click in lvProcesses; the right click runs it before the
// popup menu opens, so "Kill Task" acts on the row that was clicked.
void ProcessListClick(MainForm& form, Control* sender);
void TestButtonClick(MainForm& form, Control* sender);

}  // namespace pelorin
