// Small behaviours of the main window: dragging it by its surface, the close
// label, "On Top" and "More Info".
#pragma once

#include "controls/Control.h"
#include "controls/Events.h"

namespace pelorin {

struct MainForm;

// A mouse button pressed on the form, pnlTop, lblClose, lblStat or lblTask:
// the left button moves the window as if its caption were dragged.
void DragWindow(MainForm& form, Control* sender, const MouseInfo& mouse) noexcept;
// A click on lblClose: the same close as from the title bar.
void CloseMainWindow(MainForm& form, Control* sender) noexcept;
// Clicks on the check boxes, after they have toggled.
void OnTopClick(MainForm& form, Control* sender) noexcept;
void MoreInfoClick(MainForm& form, Control* sender) noexcept;

// Puts the main window in or out of the topmost class, keeping its place and size.
void ApplyStayOnTop(MainForm& form, bool onTop);

// What MoreInfoClick writes into lblStat.
inline constexpr const char* MoreInfoOnText = "Small Memory Leak! (todo list) ";
inline constexpr const char* MoreInfoOffText = "---";
inline constexpr ColorValue MoreInfoOnColor = 0x00FF00;   // lime
inline constexpr ColorValue MoreInfoOffColor = 0xC0C0C0;  // silver, the label's own background

}  // namespace pelorin
