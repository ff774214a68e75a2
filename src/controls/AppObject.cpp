#include "controls/AppObject.h"

#include <atomic>

#include "controls/WindowCore.h"
#include "controls/WorkerThread.h"

namespace pelorin {
namespace {

std::atomic<Control*> g_currentApp{nullptr};
// Kept apart from the record so a worker never reads a record that may be gone.
std::atomic<HWND> g_appWindow{nullptr};

void MakeCurrent(Control* app) {
    g_currentApp.store(app);
    g_appWindow.store(app->window);
}

// What CallOnInterfaceThread sends: the message carries only its address.
// The record itself says whether it ran, whoever's message ran it.
struct InterfaceCall {
    void (*fn)(void* context);
    void* context;
    bool ran = false;
};

}  // namespace

namespace core {

void ForgetAppObject(Control* app) {
    Control* expected = app;
    if (g_currentApp.compare_exchange_strong(expected, nullptr)) g_appWindow.store(nullptr);
}

HWND SynchronizeWindow() { return g_appWindow.load(); }

bool AppMessage(Control&, UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) {
    // Both run only what a thread of this process registered for them; the
    // window can be found and sent to by any program on the desktop.
    if (message == kSynchronizeMessage) {
        const auto* thread = reinterpret_cast<const void*>(lParam);
        if (TakeCall(thread, kSynchronizeMessage)) ServeSynchronize(reinterpret_cast<WorkerThread*>(lParam), wParam);
        result = 0;
        return true;
    }
    if (message == kCallMessage) {
        result = 0;
        if (TakeCall(reinterpret_cast<const void*>(lParam), kCallMessage)) {
            auto* call = reinterpret_cast<InterfaceCall*>(lParam);
            call->fn(call->context);
            call->ran = true;
        }
        return true;
    }
    return false;
}

}  // namespace core

Control* CreateAppObject(std::string_view caption) {
    Control* app = core::NewControl(ControlKind::App, nullptr, 0, 0);
    app->caption.assign(caption);
    Handle(app);
    if (g_currentApp.load() == nullptr) MakeCurrent(app);
    return app;
}

Control* CurrentAppObject() { return g_currentApp.load(); }

void ProcessMessages(Control* app) {
    MSG message;
    while (::PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
        if (message.message == WM_QUIT) {
            // Only the interface thread's quit ends the loop; a worker has no loop to end.
            if (app != nullptr && core::OnInterfaceThread(*app)) app->terminate = true;
            continue;
        }
        ::TranslateMessage(&message);
        ::DispatchMessageA(&message);
    }
}

void Run(Control* app) {
    if (app == nullptr) return;
    Handle(app);
    MakeCurrent(app);
    const std::vector<Control*> forms = app->children;
    for (Control* form : forms) {
        if (form->kind != ControlKind::Form) continue;
        const HWND window = Handle(form);
        if (window != nullptr && form->visible) {
            ::ShowWindow(window, SW_SHOWNORMAL);
            ::UpdateWindow(window);
        }
    }
    while (!app->terminate) {
        ProcessMessages(app);
        if (app->terminate) break;
        ::MsgWaitForMultipleObjectsEx(0, nullptr, INFINITE, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
    }
    // A WM_QUIT posted from elsewhere ends the loop without a close: the main
    // form is closed now, so its close handler runs as for any other close.
    Control* form = app->mainForm;
    if (form != nullptr && !form->closed && form->window != nullptr) ::SendMessageA(form->window, WM_CLOSE, 0, 0);
    Destroy(app);
}

bool CallOnInterfaceThread(void (*fn)(void* context), void* context) {
    const HWND window = g_appWindow.load();
    if (fn == nullptr || window == nullptr) return false;
    if (::GetWindowThreadProcessId(window, nullptr) == ::GetCurrentThreadId()) {
        fn(context);
        return true;
    }
    InterfaceCall call{fn, context};
    core::RegisterCall(&call, core::kCallMessage);
    ::SendMessageA(window, core::kCallMessage, 0, reinterpret_cast<LPARAM>(&call));
    core::ForgetCall(&call);
    return call.ran;
}

bool TerminateRequested(const Control* app) { return app != nullptr && app->terminate; }

void RequestTerminate(Control* app) {
    if (app == nullptr) return;
    app->terminate = true;
    if (core::OnInterfaceThread(*app)) {
        // A close can arrive while a popup menu's own loop runs (sent by
        // another program, or the session's end); that loop would hold the
        // thread until the user dismissed the menu.
        ::EndMenu();
        ::PostQuitMessage(0);
    } else {
        ::PostThreadMessageA(app->interfaceThread, WM_QUIT, 0, 0);
    }
}

}  // namespace pelorin
