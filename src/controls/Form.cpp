#include "controls/Form.h"

#include "controls/AppObject.h"
#include "controls/WindowCore.h"

namespace pelorin {
namespace {

void RequestClose(Control& form, bool sessionEnding) {
    if (form.closed) return;
    // A close handler that waits for workers serves sent messages, so another
    // close request can arrive while it runs: it is ignored, unless the
    // session is ending. The process may end as soon as that message is
    // answered, so the handler runs again and finishes the close itself.
    if (form.inClose) {
        if (sessionEnding && form.onClose) {
            bool accept = true;
            const CloseEvent handler = form.onClose;
            handler(&form, accept);
        }
        return;
    }
    form.inClose = true;
    bool accept = true;
    const CloseEvent handler = form.onClose;
    handler(&form, accept);
    form.inClose = false;
    if (!accept) return;
    form.closed = true;
    form.onClose = {};
    Control* app = form.parent;
    if (app != nullptr && app->kind == ControlKind::App && app->mainForm == &form) {
        RequestTerminate(app);
    } else {
        SetVisible(&form, false);
        form.closed = false;  // it can be shown and closed again
    }
}

}  // namespace

Control* CreateForm(Control* parent, std::string_view caption) {
    Control* form = core::NewControl(ControlKind::Form, parent, 400, 300);
    form->caption.assign(caption);
    form->color = kColorBtnFace;
    if (parent != nullptr && parent->kind == ControlKind::App && parent->mainForm == nullptr) parent->mainForm = form;
    return form;
}

namespace core {

bool FormMessage(Control& form, UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) {
    switch (message) {
    case WM_CLOSE:
        RequestClose(form, false);
        result = 0;
        return true;
    case WM_QUERYENDSESSION:
        result = TRUE;
        return true;
    case WM_ENDSESSION:
        // The program stops its workers and saves before the session ends.
        if (wParam) RequestClose(form, true);
        result = 0;
        return true;
    case WM_DPICHANGED:
        // The form moved to a screen of another density, or the user changed
        // the scale: everything takes the new DPI.
        DpiChanged(form, wParam, lParam);
        result = 0;
        return true;
    case WM_WINDOWPOSCHANGED:
        // The record follows moves and sizes made by the user or the system;
        // a minimised window keeps its last normal bounds.
        if (!::IsIconic(form.window)) {
            RECT r;
            if (::GetWindowRect(form.window, &r)) {
                form.left = r.left;
                form.top = r.top;
                form.right = r.right;
                form.bottom = r.bottom;
            }
        }
        return false;
    case WM_ERASEBKGND: {
        RECT r;
        ::GetClientRect(form.window, &r);
        ::FillRect(reinterpret_cast<HDC>(wParam), &r, BackgroundBrush(form));
        result = 1;
        return true;
    }
    case WM_DESTROY:
        // The menu bar belongs to its Menu object, not to the window.
        ::SetMenu(form.window, nullptr);
        return false;
    default:
        return false;
    }
}

}  // namespace core
}  // namespace pelorin
