#include "app/Settings.h"

#include "ui/MainForm.h"

namespace pelorin {

// Not wired to the registry yet: nothing is read or written.
void LoadSettings(MainForm&) {}
void RegisterWindowHandle(MainForm&) {}
void SaveSettings(MainForm&) {}

}  // namespace pelorin
