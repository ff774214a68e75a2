// Push buttons and automatic check boxes: real "BUTTON" windows. Their
// colours come from the parent's WM_CTLCOLOR* answer; clicks come back as
// BN_CLICKED reflected to OnClick (a check box has toggled by then).
// GetChecked and SetChecked may be called from a worker thread: they send the
// message to the window, which the platform runs on the interface thread.
#pragma once

#include <string_view>

#include "controls/Control.h"

namespace pelorin {

Control* CreateButton(Control* parent, std::string_view caption);
Control* CreateCheckBox(Control* parent, std::string_view caption);

bool GetChecked(Control* checkBox);
// Does not raise OnClick.
void SetChecked(Control* checkBox, bool checked);

}  // namespace pelorin
