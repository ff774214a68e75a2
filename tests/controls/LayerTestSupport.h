// Shared by the control-layer tests: an application object with one form per
// test, and message pumping with generous time bounds.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <functional>

#include "controls/AppObject.h"
#include "controls/Control.h"
#include "controls/Form.h"

namespace pelorin::testing {

// Dispatches every pending message of this thread.
inline void Pump() {
    MSG message;
    while (::PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
        ::TranslateMessage(&message);
        ::DispatchMessageA(&message);
    }
}

// Pumps until done() or the time is up; answers done().
inline bool PumpUntil(const std::function<bool()>& done, DWORD timeoutMs = 10000) {
    const DWORD start = ::GetTickCount();
    for (;;) {
        Pump();
        if (done()) return true;
        if (::GetTickCount() - start >= timeoutMs) return done();
        ::MsgWaitForMultipleObjectsEx(0, nullptr, 10, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
    }
}

// Pumps for a while (lets painting and posted work settle).
inline void PumpFor(DWORD ms) {
    PumpUntil([] { return false; }, ms);
}

// The bounds of a child window in its parent's client coordinates.
inline RECT ChildRect(HWND window) {
    RECT r = {};
    ::GetWindowRect(window, &r);
    ::MapWindowPoints(HWND_DESKTOP, ::GetParent(window), reinterpret_cast<POINT*>(&r), 2);
    return r;
}

class LayerTest : public ::testing::Test {
protected:
    void SetUp() override {
        app = CreateAppObject("Pelorin layer tests");
        form = CreateForm(app, "Layer test form");
        SetPosition(form, 20, 20);
        SetClientSize(form, 400, 300);
    }
    void TearDown() override {
        Destroy(app);
        Pump();
    }
    // Creates the windows and shows the form.
    HWND ShowForm() {
        const HWND window = Handle(form);
        ::ShowWindow(window, SW_SHOWNORMAL);
        ::UpdateWindow(window);
        PumpFor(50);
        return window;
    }

    Control* app = nullptr;
    Control* form = nullptr;
};

}  // namespace pelorin::testing
