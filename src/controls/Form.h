// Forms: top-level windows. The first form created on the application object
// is its main form. A close request (WM_CLOSE, or WM_ENDSESSION when the
// session ends) runs OnClose once with an accept flag; when accepted the slot
// is emptied and, for the main form, the application's terminate flag is set
// and a quit message posted. The window stays until Run tears everything down
// (another form is hidden). WM_QUERYENDSESSION is answered TRUE at once.
#pragma once

#include <string_view>

#include "controls/Control.h"

namespace pelorin {

Control* CreateForm(Control* parent, std::string_view caption);

}  // namespace pelorin
