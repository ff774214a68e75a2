#include "ui/Selection.h"

#include "ui/MainForm.h"

namespace pelorin {

// Not wired to any behaviour yet: the selected process stays 0 and unnamed.
void ProcessListClick(MainForm&, Control*) {}

void TestButtonClick(MainForm&, Control*) {}

}  // namespace pelorin
