// Menus: the first menu created for a form becomes its menu bar (an empty one
// shows no bar); every later one is a popup. Each item of a popup has its own
// handler, called with the menu's form as the sender when the item is chosen,
// as the popup closes. A menu bar's items run nothing: their choice would
// come as a posted WM_COMMAND, which any program can post as well.
#pragma once

#include <windows.h>

#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

#include "controls/Control.h"
#include "controls/Events.h"

namespace pelorin {

struct Menu : LayerObject {
    ~Menu() override;

    Control* form = nullptr;  // receives the item commands
    HMENU handle = nullptr;
    bool isBar = false;
    std::vector<std::string> items;
    std::vector<NotifyEvent> handlers;  // one per item, empty for none
    UINT firstId = 0;                   // command identifier of item 0
};

// Items up to the first empty text. The menu is owned by form.
Menu* CreateMenu(Control* form, std::initializer_list<std::string_view> items);
Menu* CreateMenu(Control* form, const std::vector<std::string>& items);
// handlers[i] handles item firstIndex + i; items beyond the menu are ignored.
void SetMenuItemHandlers(Menu* menu, std::int32_t firstIndex, std::initializer_list<NotifyEvent> handlers);
// The menu opens over the control on a right click or the keyboard's menu key.
void AttachPopupMenu(Control* control, Menu* menu);
// Frees the menu (taking it off its owner's auto-free list).
void Destroy(Menu* menu);

}  // namespace pelorin
