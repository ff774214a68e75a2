#include "controls/Button.h"

#include "controls/WindowCore.h"

namespace pelorin {

Control* CreateButton(Control* parent, std::string_view caption) {
    Control* button = core::NewControl(ControlKind::Button, parent, 75, 25);
    button->caption.assign(caption);
    return button;
}

Control* CreateCheckBox(Control* parent, std::string_view caption) {
    Control* box = core::NewControl(ControlKind::CheckBox, parent, 97, 17);
    box->caption.assign(caption);
    return box;
}

bool GetChecked(Control* box) {
    if (box == nullptr) return false;
    if (box->window != nullptr) {
        return ::SendMessageA(box->window, BM_GETCHECK, 0, 0) == BST_CHECKED;
    }
    return box->checked;
}

void SetChecked(Control* box, bool checked) {
    if (box == nullptr) return;
    box->checked = checked;
    if (box->window != nullptr) ::SendMessageA(box->window, BM_SETCHECK, checked ? BST_CHECKED : BST_UNCHECKED, 0);
}

namespace core {

void ButtonCommand(Control& button, WORD code) {
    if (code != BN_CLICKED) return;
    if (button.kind == ControlKind::CheckBox && button.window != nullptr) {
        button.checked = ::SendMessageA(button.window, BM_GETCHECK, 0, 0) == BST_CHECKED;
    }
    if (button.onClick) {
        const NotifyEvent handler = button.onClick;
        handler(&button);
    }
}

}  // namespace core
}  // namespace pelorin
