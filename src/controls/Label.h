// Labels and panels: the layer's own window class that paints its background
// colour and its caption with the control's font (so colours, fonts, cursors
// and mouse-down work alike on both). A left-button press raises OnMouseDown
// and then OnClick, as a notifying static control does; so a label can start a
// window drag on mouse-down and still act on the click.
#pragma once

#include <cstdint>
#include <string_view>

#include "controls/Control.h"

namespace pelorin {

// A single-line text control.
Control* CreateLabel(Control* parent, std::string_view caption);
// A container; edge 0 draws a raised frame edge, 1 a lowered one, 2 none.
Control* CreatePanel(Control* parent, std::uint8_t edge);

}  // namespace pelorin
