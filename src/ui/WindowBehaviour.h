// Small behaviours of the main window: dragging it by its surface, the close
// label, "On Top" and "More Info".
#pragma once

#include "controls/Control.h"
#include "controls/Events.h"

namespace pelorin {

struct MainForm;

// A mouse button pressed on the form, pnlTop, lblClose, lblStat or lblTask.
void DragWindow(MainForm& form, Control* sender, const MouseInfo& mouse);
// A click on lblClose.
void CloseMainWindow(MainForm& form, Control* sender);
// Clicks on the check boxes, after they have toggled.
void OnTopClick(MainForm& form, Control* sender);
void MoreInfoClick(MainForm& form, Control* sender);

}  // namespace pelorin
