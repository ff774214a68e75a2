#include "controls/Menu.h"

#include <commctrl.h>
#include <windowsx.h>

#include <algorithm>

#include "controls/WindowCore.h"

namespace pelorin {
namespace {

void ClearPopupReferences(Control& control, const Menu* menu) {
    if (control.popupMenu == menu) control.popupMenu = nullptr;
    for (Control* child : control.children) ClearPopupReferences(*child, menu);
}

Menu* BuildMenu(Control* form, const std::vector<std::string>& texts) {
    if (form == nullptr || form->kind != ControlKind::Form) return nullptr;
    auto* menu = new Menu;
    menu->form = form;
    menu->isBar = form->menuBar == nullptr;
    for (const std::string& text : texts) {
        if (text.empty()) break;
        menu->items.push_back(text);
    }
    menu->handlers.resize(menu->items.size());
    menu->handle = menu->isBar ? ::CreateMenu() : ::CreatePopupMenu();
    if (menu->handle != nullptr) core::CountMenu(+1);
    menu->firstId = form->nextCommandId;
    form->nextCommandId += static_cast<UINT>(menu->items.size());
    for (std::size_t i = 0; i < menu->items.size(); ++i) {
        ::AppendMenuA(menu->handle, MF_STRING, menu->firstId + i, menu->items[i].c_str());
    }
    form->menus.push_back(menu);
    if (menu->isBar) {
        form->menuBar = menu;
        core::AttachMenuBar(*form);
    }
    menu->owner = form;
    form->autoFree.push_back(menu);
    return menu;
}

}  // namespace

Menu::~Menu() {
    if (form != nullptr) {
        auto& list = form->menus;
        list.erase(std::remove(list.begin(), list.end(), this), list.end());
        if (form->menuBar == this) {
            if (form->window != nullptr && ::GetMenu(form->window) == handle) ::SetMenu(form->window, nullptr);
            form->menuBar = nullptr;
        }
        ClearPopupReferences(*form, this);
    }
    if (handle != nullptr) {
        ::DestroyMenu(handle);
        core::CountMenu(-1);
    }
}

Menu* CreateMenu(Control* form, std::initializer_list<std::string_view> items) {
    std::vector<std::string> texts;
    for (std::string_view item : items) texts.emplace_back(item);
    return BuildMenu(form, texts);
}

Menu* CreateMenu(Control* form, const std::vector<std::string>& items) { return BuildMenu(form, items); }

void SetMenuItemHandlers(Menu* menu, std::int32_t firstIndex, std::initializer_list<NotifyEvent> handlers) {
    if (menu == nullptr || firstIndex < 0) return;
    std::size_t index = static_cast<std::size_t>(firstIndex);
    for (const NotifyEvent& handler : handlers) {
        if (index >= menu->handlers.size()) break;
        menu->handlers[index++] = handler;
    }
}

void AttachPopupMenu(Control* control, Menu* menu) {
    if (control != nullptr) control->popupMenu = menu;
}

void Destroy(Menu* menu) {
    if (menu == nullptr) return;
    if (menu->owner != nullptr) {
        auto& list = menu->owner->autoFree;
        list.erase(std::remove(list.begin(), list.end(), static_cast<LayerObject*>(menu)), list.end());
        menu->owner = nullptr;
    }
    delete menu;
}

namespace core {

bool MenuHasItems(const Menu& menu) { return !menu.items.empty(); }

void AttachMenuBar(Control& form) {
    Menu* bar = form.menuBar;
    if (form.window == nullptr || bar == nullptr || bar->items.empty() || bar->handle == nullptr) return;
    ::SetMenu(form.window, bar->handle);
}

void ForgetMenusOf(Control& form) {
    for (Menu* menu : form.menus) menu->form = nullptr;
    form.menus.clear();
    form.menuBar = nullptr;
}

void ShowPopupMenu(Control& control, Menu& menu, POINT screen) {
    Control* form = menu.form != nullptr ? menu.form : FormOf(&control);
    const HWND owner = Handle(form);
    if (owner == nullptr || menu.handle == nullptr || menu.isBar) return;
    // The chosen item comes back from the call itself: a WM_COMMAND, which
    // any program can post, runs no item.
    const UINT id = ::TrackPopupMenu(menu.handle, TPM_LEFTALIGN | TPM_TOPALIGN | TPM_RIGHTBUTTON | TPM_RETURNCMD,
                                     screen.x, screen.y, 0, owner, nullptr);
    ::PostMessageA(owner, WM_NULL, 0, 0);
    if (id < menu.firstId || id >= menu.firstId + menu.items.size()) return;
    const NotifyEvent handler = menu.handlers[id - menu.firstId];
    handler(form);
}

POINT ContextMenuPoint(Control& control, LPARAM lParam) {
    POINT point = {GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)};
    if (lParam != -1) return point;
    // From the keyboard: below the current row of a list, else the control's corner.
    point = {0, 0};
    if (control.kind == ControlKind::ListView && control.window != nullptr) {
        auto row = static_cast<int>(::SendMessageA(control.window, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_FOCUSED));
        if (row < 0) row = static_cast<int>(::SendMessageA(control.window, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_SELECTED));
        RECT rect = {};
        rect.left = LVIR_BOUNDS;
        if (row >= 0 && ::SendMessageA(control.window, LVM_GETITEMRECT, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&rect))) {
            point = {rect.left, rect.bottom};
        }
    }
    if (control.window != nullptr) ::ClientToScreen(control.window, &point);
    return point;
}

}  // namespace core
}  // namespace pelorin
