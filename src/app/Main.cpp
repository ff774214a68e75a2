// Pelorin.exe: the application object, the main window, the message loop.
#include <windows.h>

#include <memory>

#include "app/Startup.h"
#include "controls/AppObject.h"
#include "controls/Dpi.h"
#include "support/FastStrings.h"
#include "ui/MainForm.h"

namespace {

int RunPelorin() {
    pelorin::DeclareDpiAwareness();
    pelorin::InitUpperCaseMap();
    pelorin::Control* app = pelorin::CreateAppObject("Pelorin");
    // Both outlive the message loop: the window's handlers and the workers use them.
    const pelorin::StartupOptions options = pelorin::ProgramStartupOptions();
    auto form = std::make_unique<pelorin::MainForm>();
    // A second instance ends inside this call.
    pelorin::CreateMainForm(*form, app, options);
    // Returns after the main window has closed and everything is destroyed.
    pelorin::Run(app);
    return 0;
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    try {
        return RunPelorin();
    } catch (...) {
        return 1;
    }
}
