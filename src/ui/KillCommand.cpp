#include "ui/KillCommand.h"

#include "ui/MainForm.h"

namespace pelorin {

// Not wired to any behaviour yet. The failure message box must be owned by
// Handle(form.Form): the application object's window is message-only, and a
// box owned by it would open behind the main window with no taskbar entry.
void KillTaskClick(MainForm&, Control*) {}

}  // namespace pelorin
