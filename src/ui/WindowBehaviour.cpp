#include "ui/WindowBehaviour.h"

#include "ui/MainForm.h"

namespace pelorin {

// Not wired to any behaviour yet.
void DragWindow(MainForm&, Control*, const MouseInfo&) {}
void CloseMainWindow(MainForm&, Control*) {}
void OnTopClick(MainForm&, Control*) {}
void MoreInfoClick(MainForm&, Control*) {}

}  // namespace pelorin
