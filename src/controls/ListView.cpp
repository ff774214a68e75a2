#include "controls/ListView.h"

#include <commctrl.h>

#include <vector>

#include "controls/WindowCore.h"

namespace pelorin {
namespace {

// A list operation needs the window; on the interface thread it is created
// on demand, elsewhere only an existing one is used.
HWND ListWindow(Control* lv) {
    if (lv == nullptr || lv->kind != ControlKind::ListView) return nullptr;
    return Handle(lv);
}

LRESULT Send(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    return ::SendMessageA(window, message, wParam, lParam);
}

}  // namespace

Control* CreateListView(Control* parent, std::uint8_t viewStyle, std::uint32_t options) {
    Control* lv = core::NewControl(ControlKind::ListView, parent, 121, 97);
    lv->viewStyle = viewStyle;
    lv->options = options;
    core::ComputeStyles(*lv);
    return lv;
}

void AddColumn(Control* lv, std::string_view caption, std::int32_t alignment, std::int32_t width) {
    const HWND window = ListWindow(lv);
    if (window == nullptr) return;
    std::string text(caption);
    LVCOLUMNA column = {};
    column.mask = LVCF_FMT | LVCF_TEXT;
    column.fmt = alignment == 1 ? LVCFMT_RIGHT : alignment == 2 ? LVCFMT_CENTER : LVCFMT_LEFT;
    column.pszText = text.data();
    if (width < 0) {
        column.fmt |= LVCFMT_BITMAP_ON_RIGHT;
        width = -width;
    }
    if (width != 0) {
        column.mask |= LVCF_WIDTH;
        column.cx = width;
    }
    if (Send(window, LVM_INSERTCOLUMNA, static_cast<WPARAM>(lv->columnCount), reinterpret_cast<LPARAM>(&column)) != -1)
        ++lv->columnCount;
}

std::string GetColumnText(Control* lv, std::int32_t index) {
    const HWND window = ListWindow(lv);
    if (window == nullptr || index < 0) return {};
    std::vector<char> buffer(4096, '\0');
    LVCOLUMNA column = {};
    column.mask = LVCF_TEXT;
    column.pszText = buffer.data();
    column.cchTextMax = static_cast<int>(buffer.size());
    if (!Send(window, LVM_GETCOLUMNA, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(&column))) return {};
    buffer.back() = '\0';
    return std::string(buffer.data());
}

void SetColumnText(Control* lv, std::int32_t index, std::string_view caption) {
    const HWND window = ListWindow(lv);
    if (window == nullptr || index < 0) return;
    std::string text(caption);
    LVCOLUMNA column = {};
    column.mask = LVCF_TEXT;
    column.pszText = text.data();
    Send(window, LVM_SETCOLUMNA, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(&column));
}

std::int32_t InsertItem(Control* lv, std::int32_t index, std::string_view caption) {
    const HWND window = ListWindow(lv);
    if (window == nullptr || index < 0) return -1;
    std::string text(caption);
    LVITEMA item = {};
    item.mask = LVIF_TEXT;
    item.iItem = index;
    item.pszText = text.data();
    return static_cast<std::int32_t>(Send(window, LVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&item)));
}

void SetItemText(Control* lv, std::int32_t row, std::int32_t column, std::string_view caption) {
    const HWND window = ListWindow(lv);
    if (window == nullptr || row < 0 || column < 0) return;
    std::string text(caption);
    LVITEMA item = {};
    item.iSubItem = column;
    item.pszText = text.data();
    Send(window, LVM_SETITEMTEXTA, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&item));
}

std::string GetItemText(Control* lv, std::int32_t row, std::int32_t column) {
    const HWND window = ListWindow(lv);
    if (window == nullptr || row < 0 || column < 0) return {};
    // 100, 300, 700, 1500, ...: grown until the text is shorter than the buffer
    // minus one, so it cannot have been cut.
    std::size_t size = 100;
    std::vector<char> buffer;
    for (;;) {
        buffer.assign(size, '\0');
        LVITEMA item = {};
        item.iSubItem = column;
        item.pszText = buffer.data();
        item.cchTextMax = static_cast<int>(size);
        const auto length = static_cast<std::size_t>(
            Send(window, LVM_GETITEMTEXTA, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&item)));
        if (length + 1 < size || size >= (64u << 20)) {
            buffer.back() = '\0';
            return std::string(item.pszText != nullptr ? item.pszText : "");
        }
        size = size * 2 + 100;
    }
}

std::int32_t ItemCount(Control* lv) {
    const HWND window = ListWindow(lv);
    return window ? static_cast<std::int32_t>(Send(window, LVM_GETITEMCOUNT, 0, 0)) : 0;
}

void ClearItems(Control* lv) {
    if (const HWND window = ListWindow(lv)) Send(window, LVM_DELETEALLITEMS, 0, 0);
}

std::int32_t CurrentIndex(Control* lv) {
    const HWND window = ListWindow(lv);
    if (window == nullptr) return -1;
    return static_cast<std::int32_t>(Send(window, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_SELECTED));
}

void SetCurrentIndex(Control* lv, std::int32_t row) {
    const HWND window = ListWindow(lv);
    if (window == nullptr) return;
    LVITEMA item = {};
    item.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
    item.state = 0;
    Send(window, LVM_SETITEMSTATE, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(&item));
    if (row < 0) return;
    item.state = LVIS_SELECTED | LVIS_FOCUSED;
    Send(window, LVM_SETITEMSTATE, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&item));
}

void EnsureVisible(Control* lv, std::int32_t row, bool partialOk) {
    const HWND window = ListWindow(lv);
    if (window == nullptr || row < 0) return;
    Send(window, LVM_ENSUREVISIBLE, static_cast<WPARAM>(row), partialOk ? TRUE : FALSE);
}

std::int32_t TopIndex(Control* lv) {
    const HWND window = ListWindow(lv);
    return window ? static_cast<std::int32_t>(Send(window, LVM_GETTOPINDEX, 0, 0)) : 0;
}

void SetTopIndex(Control* lv, std::int32_t row) {
    const HWND window = ListWindow(lv);
    if (window == nullptr || row < 0) return;
    const auto count = static_cast<std::int32_t>(Send(window, LVM_GETITEMCOUNT, 0, 0));
    if (count <= 0) return;
    if (row >= count) row = count - 1;
    RECT rect = {};
    rect.left = LVIR_BOUNDS;
    if (!Send(window, LVM_GETITEMRECT, 0, reinterpret_cast<LPARAM>(&rect))) return;
    const std::int32_t rowHeight = rect.bottom - rect.top;
    if (rowHeight <= 0) return;
    const auto top = static_cast<std::int32_t>(Send(window, LVM_GETTOPINDEX, 0, 0));
    // In report view the list scrolls by whole rows; dy is in pixels.
    if (row != top) Send(window, LVM_SCROLL, 0, static_cast<LPARAM>((row - top) * rowHeight));
}

void BeginUpdate(Control* lv) {
    if (lv == nullptr) return;
    if (lv->updateCount == INT16_MAX) return;
    if (++lv->updateCount == 1 && lv->window != nullptr) Send(lv->window, WM_SETREDRAW, FALSE, 0);
}

void EndUpdate(Control* lv) {
    if (lv == nullptr || lv->updateCount <= 0) return;
    if (--lv->updateCount == 0 && lv->window != nullptr) {
        Send(lv->window, WM_SETREDRAW, TRUE, 0);
        ::RedrawWindow(lv->window, nullptr, nullptr, RDW_ERASE | RDW_FRAME | RDW_INVALIDATE | RDW_ALLCHILDREN);
    }
}

namespace core {

bool ListViewNotify(Control& lv, const NMHDR& header, LRESULT& result) {
    if (header.code != static_cast<UINT>(NM_CLICK) && header.code != static_cast<UINT>(NM_RCLICK)) return false;
    if (lv.onClick) {
        const NotifyEvent handler = lv.onClick;
        handler(&lv);
    }
    result = 0;  // a right click goes on to WM_CONTEXTMENU
    return true;
}

}  // namespace core
}  // namespace pelorin
