#include "controls/ListView.h"

#include <commctrl.h>
#include <windowsx.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <cwchar>
#include <new>
#include <optional>
#include <vector>

#include "controls/WindowCore.h"
#include "support/FastStrings.h"

// The list-view records as this build's width lays them out: their pointers
// and LPARAMs are pointer-sized, so a 64-bit build moves their fields.
constexpr bool kWideRecords = sizeof(void*) == 8;
static_assert(sizeof(LVITEMA) == (kWideRecords ? 88 : 60));
static_assert(sizeof(LVCOLUMNA) == (kWideRecords ? 56 : 44));
static_assert(sizeof(NMHDR) == (kWideRecords ? 24 : 12));
static_assert(sizeof(NMLISTVIEW) == (kWideRecords ? 64 : 44));
static_assert(sizeof(NMITEMACTIVATE) == (kWideRecords ? 72 : 48));
static_assert(sizeof(NMLVDISPINFOA) == (kWideRecords ? 112 : 72));
static_assert(sizeof(NMLVGETINFOTIPA) == (kWideRecords ? 64 : 36));

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

// A call a worker hands to the list's thread (see core::RegisterCall).
struct ListCall {
    void (*thunk)(const void* fn, HWND window) = nullptr;
    const void* fn = nullptr;
    HWND window = nullptr;
    bool ran = false;     // whoever's message ran it
    bool failed = false;  // out of memory on the list's thread
};

// Runs fn(window) on the list's thread: at once there, otherwise through a
// message sent to the list's window while the caller waits. False when fn
// did not run (no window, or the window went before it served the call).
using ListThunk = void (*)(const void* fn, HWND window);

bool RunOnListThread(Control* lv, ListThunk thunk, const void* fn) {
    const HWND window = ListWindow(lv);
    if (window == nullptr) return false;
    if (core::OnInterfaceThread(*lv)) {
        thunk(fn, window);
        return true;
    }
    ListCall call;
    call.thunk = thunk;
    call.fn = fn;
    call.window = window;
    core::RegisterCall(&call, core::kListCallMessage);
    Send(window, core::kListCallMessage, 0, reinterpret_cast<LPARAM>(&call));
    core::ForgetCall(&call);
    if (call.failed) throw std::bad_alloc();
    return call.ran;
}

template <class Fn>
bool OnListThread(Control* lv, const Fn& fn) {
    return RunOnListThread(lv, [](const void* f, HWND window) { (*static_cast<const Fn*>(f))(window); }, &fn);
}

using Row = ListRow;

// A row with its first cell, room made for the others the caller sets next.
Row NewRow(const Control& lv, std::string_view caption) {
    Row row;
    row.cells.reserve(static_cast<std::size_t>(std::max<std::int32_t>(lv.columnCount, 1)));
    row.cells.emplace_back(caption);
    return row;
}

// What the platform shows of a text: up to its first zero byte.
std::string_view Shown(std::string_view text) {
    const std::size_t zero = text.find('\0');
    return zero == std::string_view::npos ? text : text.substr(0, zero);
}

std::int32_t RowCount(const Control& lv) { return static_cast<std::int32_t>(lv.listRows.size()); }

bool Frozen(const Control& lv) { return lv.updateCount > 0; }

// Before the first change while frozen: what the platform shows is kept.
void KeepShown(Control& lv) {
    if (!Frozen(lv) || lv.listKeepsShown) return;
    lv.listShown = lv.listRows;
    lv.listKeepsShown = true;
}

// The platform list learns the number of rows; it asks for their texts when
// it draws them. Only what the caller invalidates is drawn again. Telling it
// costs the platform a relayout (milliseconds under Wine), so an unchanged
// count is not told again.
void TellCount(Control& lv, HWND window) {
    lv.listCountPending = false;
    const auto count = static_cast<std::int32_t>(lv.listRows.size());
    if (count == lv.listToldCount) return;
    lv.listToldCount = count;
    Send(window, LVM_SETITEMCOUNT, static_cast<WPARAM>(count), LVSICF_NOSCROLL | LVSICF_NOINVALIDATEALL);
    // Fewer rows than the place the view was at: the last rows show.
    if (count > 0 && static_cast<std::int32_t>(Send(window, LVM_GETTOPINDEX, 0, 0)) >= count)
        Send(window, LVM_ENSUREVISIBLE, static_cast<WPARAM>(count - 1), FALSE);
}

constexpr std::int32_t kStays = -2;

// Takes the selection and the focus off every row. The platform's "all rows"
// visits each row (about a millisecond per thousand rows under Wine, on every
// refresh); only the rows that have either state are visited here.
void ClearSelectionAndFocus(HWND window) {
    LVITEMA item = {};
    item.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
    for (const UINT flag : {LVNI_SELECTED, LVNI_FOCUSED}) {
        // The count is kept; a search walks the rows.
        if (flag == LVNI_SELECTED && Send(window, LVM_GETSELECTEDCOUNT, 0, 0) == 0) continue;
        // A few rows at most; a platform that will not clear one gets "all rows".
        for (int found = 0;; ++found) {
            const auto row = static_cast<std::int32_t>(Send(window, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), flag));
            if (row < 0) break;
            if (found == 16 || !Send(window, LVM_SETITEMSTATE, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&item))) {
                Send(window, LVM_SETITEMSTATE, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(&item));
                return;
            }
        }
    }
}

// Moves the selection and the focus to the given rows (-1 none, kStays as is).
void MoveSelection(HWND window, std::int32_t selected, std::int32_t focused) {
    if (selected == kStays && focused == kStays) return;
    const auto current = [window](UINT flag) {
        return static_cast<std::int32_t>(Send(window, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), flag));
    };
    if (selected == kStays) selected = current(LVNI_SELECTED);
    if (focused == kStays) focused = current(LVNI_FOCUSED);
    ClearSelectionAndFocus(window);
    LVITEMA state = {};
    if (selected >= 0) {
        state.stateMask = state.state = LVIS_SELECTED;
        Send(window, LVM_SETITEMSTATE, static_cast<WPARAM>(selected), reinterpret_cast<LPARAM>(&state));
    }
    if (focused >= 0) {
        state.stateMask = state.state = LVIS_FOCUSED;
        Send(window, LVM_SETITEMSTATE, static_cast<WPARAM>(focused), reinterpret_cast<LPARAM>(&state));
    }
}

// The platform catches up with the rows: a clear made while frozen takes the
// selection and the focus with it, rows inserted above them move them, and
// the count is told.
void Settle(Control& lv, HWND window) {
    const std::int32_t selected = lv.listSelectedAfter, focused = lv.listFocusedAfter;
    lv.listSelectedAfter = lv.listFocusedAfter = kStays;
    if (lv.listClearPending) {
        lv.listClearPending = false;
        if (lv.listRows.empty()) {
            Send(window, LVM_DELETEALLITEMS, 0, 0);
            lv.listCountPending = false;
            lv.listToldCount = 0;
            return;
        }
        MoveSelection(window, -1, -1);
        lv.listCountPending = true;
    }
    if (lv.listCountPending) TellCount(lv, window);
    MoveSelection(window, selected, focused);
}

void RedrawRows(Control& lv, HWND window, std::int32_t first, std::int32_t last) {
    if (Frozen(lv) || first > last) return;
    Send(window, LVM_REDRAWITEMS, static_cast<WPARAM>(first), static_cast<LPARAM>(last));
}

bool SameCells(const Row& a, const Row& b) {
    const std::size_t n = std::max(a.cells.size(), b.cells.size());
    static const std::string empty;
    for (std::size_t i = 0; i < n; ++i) {
        if ((i < a.cells.size() ? a.cells[i] : empty) != (i < b.cells.size() ? b.cells[i] : empty)) return false;
    }
    return true;
}

// EndUpdate: the rows on screen that differ from what was shown are drawn
// again; a changed number of rows draws the whole list.
void RepaintChanged(Control& lv, HWND window) {
    const std::vector<Row>& shown = lv.listShown;
    const std::vector<Row>& rows = lv.listRows;
    if (shown.size() != rows.size()) {
        ::InvalidateRect(window, nullptr, TRUE);
        return;
    }
    const auto count = static_cast<std::int32_t>(rows.size());
    const auto top = static_cast<std::int32_t>(Send(window, LVM_GETTOPINDEX, 0, 0));
    const auto page = static_cast<std::int32_t>(Send(window, LVM_GETCOUNTPERPAGE, 0, 0));
    const std::int32_t end = std::min(count, std::max(top, 0) + page + 1);
    for (std::int32_t r = std::max(top, 0); r < end;) {
        if (SameCells(shown[static_cast<std::size_t>(r)], rows[static_cast<std::size_t>(r)])) {
            ++r;
            continue;
        }
        std::int32_t last = r;
        while (last + 1 < end && !SameCells(shown[static_cast<std::size_t>(last + 1)], rows[static_cast<std::size_t>(last + 1)]))
            ++last;
        Send(window, LVM_REDRAWITEMS, static_cast<WPARAM>(r), static_cast<LPARAM>(last));
        r = last + 1;
    }
}

const std::string* CellOf(const std::vector<Row>& rows, std::int32_t row, std::int32_t column) {
    if (row < 0 || column < 0 || static_cast<std::size_t>(row) >= rows.size()) return nullptr;
    const std::vector<std::string>& cells = rows[static_cast<std::size_t>(row)].cells;
    return static_cast<std::size_t>(column) < cells.size() ? &cells[static_cast<std::size_t>(column)] : nullptr;
}

// The row as the platform shows it (while frozen, as it showed), or none.
std::optional<Row> ShownRow(const Control& lv, std::int32_t row) {
    const std::vector<Row>& rows = Frozen(lv) && lv.listKeepsShown ? lv.listShown : lv.listRows;
    if (row < 0 || static_cast<std::size_t>(row) >= rows.size()) return std::nullopt;
    return rows[static_cast<std::size_t>(row)];
}

const std::string* Cell(const Control& lv, std::int32_t row, std::int32_t column) {
    return CellOf(lv.listRows, row, column);
}

// What the platform draws and other programs read: while frozen, what it showed.
const std::string* ShownCell(const Control& lv, std::int32_t row, std::int32_t column) {
    return CellOf(Frozen(lv) && lv.listKeepsShown ? lv.listShown : lv.listRows, row, column);
}

void CopyText(const std::string* text, char* buffer, int size) {
    if (buffer == nullptr || size <= 0) return;
    // A text longer than the buffer is cut between characters, never inside one.
    const std::size_t n = text ? WholeCharacters(*text, static_cast<std::size_t>(size) - 1).size() : 0;
    if (n > 0) std::memcpy(buffer, text->data(), n);
    buffer[n] = '\0';
}

void CopyText(const std::string* text, wchar_t* buffer, int size) {
    if (buffer == nullptr || size <= 0) return;
    std::vector<wchar_t> wide;
    if (text != nullptr && !text->empty()) {
        const int length = static_cast<int>(text->size());
        const int needed = ::MultiByteToWideChar(CP_ACP, 0, text->data(), length, nullptr, 0);
        wide.resize(static_cast<std::size_t>(needed > 0 ? needed : 0));
        if (!wide.empty()) ::MultiByteToWideChar(CP_ACP, 0, text->data(), length, wide.data(), needed);
    }
    const std::size_t n = std::min(wide.size(), static_cast<std::size_t>(size) - 1);
    if (n > 0) std::wmemcpy(buffer, wide.data(), n);
    buffer[n] = L'\0';
}

// The first row from start (wrapping when asked) whose item text begins with
// or equals the text, ignoring case as the platform's own search does.
template <class Char>
std::int32_t FindRow(const Control& lv, std::int32_t start, UINT flags, const Char* text) {
    const std::int32_t count = RowCount(lv);
    if (text == nullptr || count == 0 || !(flags & (LVFI_STRING | LVFI_PARTIAL))) return -1;
    std::string wanted;
    if constexpr (sizeof(Char) == 1) {
        wanted = text;
    } else {
        const int size = ::WideCharToMultiByte(CP_ACP, 0, text, -1, nullptr, 0, nullptr, nullptr);
        if (size <= 0) return -1;
        wanted.resize(static_cast<std::size_t>(size));
        ::WideCharToMultiByte(CP_ACP, 0, text, -1, wanted.data(), size, nullptr, nullptr);
        wanted.resize(std::strlen(wanted.c_str()));
    }
    const bool partial = (flags & LVFI_PARTIAL) != 0;
    if (start < 0 || start >= count) start = 0;
    for (std::int32_t step = 0; step < count; ++step) {
        const std::int32_t row = start + step;
        if (row >= count && !(flags & LVFI_WRAP)) break;
        const std::string* cell = Cell(lv, row % count, 0);
        const std::string item = cell ? *cell : std::string();
        if (partial ? item.size() >= wanted.size() &&
                          ::CompareStringA(LOCALE_USER_DEFAULT, NORM_IGNORECASE, item.data(),
                                           static_cast<int>(wanted.size()), wanted.data(),
                                           static_cast<int>(wanted.size())) == CSTR_EQUAL
                    : lstrcmpiA(item.c_str(), wanted.c_str()) == 0) {
            return row % count;
        }
    }
    return -1;
}

// Whether row a goes before row b in the chosen order.
bool SortsBefore(const Control& lv, const Row& a, const Row& b) {
    const auto column = static_cast<std::size_t>(lv.listSortColumn);
    static const std::string empty;
    const std::string& x = column < a.cells.size() ? a.cells[column] : empty;
    const std::string& y = column < b.cells.size() ? b.cells[column] : empty;
    const std::string& first = lv.listSortDescending ? y : x;
    const std::string& second = lv.listSortDescending ? x : y;
    if (lv.listSortKinds[column] == kSortText) {
        return ::CompareStringA(LOCALE_USER_DEFAULT, NORM_IGNORECASE, first.data(), static_cast<int>(first.size()),
                                second.data(), static_cast<int>(second.size())) == CSTR_LESS_THAN;
    }
    // A text that is no figure goes below every figure.
    const auto figure = [](const std::string& text) {
        const double value = SizeTextValue(text);
        return std::isnan(value) ? -HUGE_VAL : value;
    };
    return figure(first) < figure(second);
}

bool SortChosen(const Control& lv) {
    return lv.listSortColumn >= 0 && static_cast<std::size_t>(lv.listSortColumn) < lv.listSortKinds.size();
}

// Sorts the rows; the selected and focused rows go with their rows (while
// frozen, once the platform catches up).
void SortModel(Control& lv, HWND window) {
    if (!SortChosen(lv) || lv.listRows.size() < 2) return;
    KeepShown(lv);
    std::vector<std::size_t> order(lv.listRows.size());
    for (std::size_t i = 0; i < order.size(); ++i) order[i] = i;
    std::stable_sort(order.begin(), order.end(),
                     [&](std::size_t a, std::size_t b) { return SortsBefore(lv, lv.listRows[a], lv.listRows[b]); });
    std::vector<Row> sorted;
    sorted.reserve(order.size());
    std::vector<std::int32_t> moved(order.size());
    for (std::size_t at = 0; at < order.size(); ++at) {
        sorted.push_back(std::move(lv.listRows[order[at]]));
        moved[order[at]] = static_cast<std::int32_t>(at);
    }
    lv.listRows = std::move(sorted);
    if (lv.listClearPending) return;  // the selection goes anyway
    const auto follow = [&](std::int32_t pending, UINT flag) {
        const std::int32_t row = pending != kStays ? pending
                                                  : static_cast<std::int32_t>(Send(window, LVM_GETNEXTITEM,
                                                                                   static_cast<WPARAM>(-1), flag));
        return row >= 0 && static_cast<std::size_t>(row) < moved.size() ? moved[static_cast<std::size_t>(row)] : pending;
    };
    lv.listSelectedAfter = follow(lv.listSelectedAfter, LVNI_SELECTED);
    lv.listFocusedAfter = follow(lv.listFocusedAfter, LVNI_FOCUSED);
    if (Frozen(lv)) return;
    Settle(lv, window);
    lv.listShown = {};
    lv.listKeepsShown = false;
    ::InvalidateRect(window, nullptr, TRUE);
}

void ShowSortArrows(const Control& lv, HWND window) {
    const auto header = reinterpret_cast<HWND>(Send(window, LVM_GETHEADER, 0, 0));
    for (std::int32_t column = 0; column < lv.columnCount; ++column) {
        HDITEMA item = {};
        item.mask = HDI_FORMAT;
        if (!::SendMessageA(header, HDM_GETITEMA, static_cast<WPARAM>(column), reinterpret_cast<LPARAM>(&item))) continue;
        item.fmt &= ~(HDF_SORTUP | HDF_SORTDOWN);
        if (column == lv.listSortColumn) item.fmt |= lv.listSortDescending ? HDF_SORTDOWN : HDF_SORTUP;
        ::SendMessageA(header, HDM_SETITEMA, static_cast<WPARAM>(column), reinterpret_cast<LPARAM>(&item));
    }
}

void SortByHeader(Control& lv, std::int32_t column) {
    if (column < 0 || static_cast<std::size_t>(column) >= lv.listSortKinds.size() ||
        lv.listSortKinds[static_cast<std::size_t>(column)] == kSortNone)
        return;
    if (lv.listSortColumn == column) {
        lv.listSortDescending = !lv.listSortDescending;
    } else {
        lv.listSortColumn = column;
        lv.listSortDescending = lv.listSortKinds[static_cast<std::size_t>(column)] == kSortNumberLargestFirst;
    }
    SortModel(lv, lv.window);
    ShowSortArrows(lv, lv.window);
    const auto selected = static_cast<std::int32_t>(Send(lv.window, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_SELECTED));
    if (selected >= 0) Send(lv.window, LVM_ENSUREVISIBLE, static_cast<WPARAM>(selected), FALSE);
}

// Ctrl+C: the selected row's cells, tab-separated, as Unicode text (the
// system offers it as ANSI text too), which other programs read right
// whatever their code page.
void CopySelectedRow(const Control& lv) {
    const auto row = static_cast<std::int32_t>(Send(lv.window, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_SELECTED));
    const std::optional<Row> shown = ShownRow(lv, row);
    if (!shown) return;
    std::string text;
    for (std::int32_t column = 0; column < std::max<std::int32_t>(lv.columnCount, 1); ++column) {
        if (column > 0) text += '\t';
        if (static_cast<std::size_t>(column) < shown->cells.size()) text += shown->cells[static_cast<std::size_t>(column)];
    }
    const std::wstring wide = WideFromAnsi(text);
    if (!::OpenClipboard(lv.window)) return;
    ::EmptyClipboard();
    const std::size_t bytes = (wide.size() + 1) * sizeof(wchar_t);
    if (const HGLOBAL memory = ::GlobalAlloc(GMEM_MOVEABLE, bytes)) {
        if (void* to = ::GlobalLock(memory)) {
            std::memcpy(to, wide.c_str(), bytes);
            ::GlobalUnlock(memory);
            if (!::SetClipboardData(CF_UNICODETEXT, memory)) ::GlobalFree(memory);
        } else {
            ::GlobalFree(memory);
        }
    }
    ::CloseClipboard();
}

// The text of the cell a tip is asked for when it is too wide for its column.
// The notification names the row; it names the column only for a sub-item
// (the platform may leave that at 0), else the column is the one under the
// mouse on that row.
const std::string* TruncatedCell(const Control& lv, std::int32_t row, std::int32_t column) {
    if (column <= 0) {
        LVHITTESTINFO hit = {};
        column = 0;
        if (::GetCursorPos(&hit.pt) && ::ScreenToClient(lv.window, &hit.pt) &&
            Send(lv.window, LVM_SUBITEMHITTEST, 0, reinterpret_cast<LPARAM>(&hit)) == row)
            column = hit.iSubItem;
    }
    const std::string* text = ShownCell(lv, row, column);
    if (row < 0 || text == nullptr || text->empty()) return nullptr;
    // The list leaves a few pixels on each side of a cell's text.
    constexpr int kCellMargin = 12;
    const auto needed = static_cast<int>(Send(lv.window, LVM_GETSTRINGWIDTHA, 0, reinterpret_cast<LPARAM>(text->c_str())));
    const auto width = static_cast<int>(Send(lv.window, LVM_GETCOLUMNWIDTH, static_cast<WPARAM>(column), 0));
    return needed + kCellMargin > width ? text : nullptr;
}

constexpr UINT_PTR kKeyRestTimer = 0x7045;

// OnClick about row (none: no row), as a click or a key's move.
void RaiseClick(Control& lv, std::optional<Row> row, bool byKey) {
    lv.listClickedRow = std::move(row);
    lv.listClickByKey = byKey;
    if (lv.onClick) {
        const NotifyEvent handler = lv.onClick;
        handler(&lv);
    }
    lv.listClickedRow.reset();
    lv.listClickByKey = false;
}

// A key moved the highlight to row: a click on it now, marked as the key's,
// and another once the keys rest.
void RaiseKeyClick(Control& lv, std::optional<Row> row) {
    RaiseClick(lv, std::move(row), true);
    if (lv.window == nullptr) return;
    lv.listRestPending = true;
    ::SetTimer(lv.window, kKeyRestTimer, KeyRestMs, nullptr);
}

std::optional<Row> HighlightedRow(const Control& lv) {
    return ShownRow(lv, static_cast<std::int32_t>(Send(lv.window, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_SELECTED)));
}

bool SameRow(const std::optional<Row>& a, const std::optional<Row>& b) {
    return a.has_value() == b.has_value() && (!a || (a->cells == b->cells && a->data == b->data));
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
    std::string text(caption);
    OnListThread(lv, [&](HWND window) {
        LVCOLUMNA column = {};
        column.mask = LVCF_FMT | LVCF_TEXT;
        column.fmt = alignment == 1 ? LVCFMT_RIGHT : alignment == 2 ? LVCFMT_CENTER : LVCFMT_LEFT;
        column.pszText = text.data();
        std::int32_t cx = width;
        if (cx < 0) {
            column.fmt |= LVCFMT_BITMAP_ON_RIGHT;
            cx = -cx;
        }
        if (cx != 0) {
            column.mask |= LVCF_WIDTH;
            column.cx = core::Scale(*lv, cx);
        }
        if (Send(window, LVM_INSERTCOLUMNA, static_cast<WPARAM>(lv->columnCount), reinterpret_cast<LPARAM>(&column)) != -1)
            ++lv->columnCount;
    });
}

std::string GetColumnText(Control* lv, std::int32_t index) {
    if (index < 0) return {};
    std::vector<char> buffer(4096, '\0');
    bool ok = false;
    OnListThread(lv, [&](HWND window) {
        LVCOLUMNA column = {};
        column.mask = LVCF_TEXT;
        column.pszText = buffer.data();
        column.cchTextMax = static_cast<int>(buffer.size());
        ok = Send(window, LVM_GETCOLUMNA, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(&column)) != 0;
    });
    if (!ok) return {};
    buffer.back() = '\0';
    return std::string(buffer.data());
}

void SetColumnText(Control* lv, std::int32_t index, std::string_view caption) {
    if (index < 0) return;
    std::string text(caption);
    OnListThread(lv, [&](HWND window) {
        LVCOLUMNA column = {};
        column.mask = LVCF_TEXT;
        column.pszText = text.data();
        Send(window, LVM_SETCOLUMNA, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(&column));
    });
}

std::int32_t InsertItem(Control* lv, std::int32_t index, std::string_view caption) {
    if (index < 0) return -1;
    std::int32_t inserted = -1;
    const std::string_view text = Shown(caption);
    OnListThread(lv, [&](HWND window) {
        KeepShown(*lv);
        // Past the end means at the end, as the platform inserts.
        const std::int32_t at = std::min(index, RowCount(*lv));
        if (at == RowCount(*lv)) {
            // Appended: no row moves, so the platform's selection stays right.
            lv->listRows.emplace_back(NewRow(*lv, text));
            inserted = at;
            if (Frozen(*lv)) {
                lv->listCountPending = true;
            } else {
                TellCount(*lv, window);
                RedrawRows(*lv, window, at, at);
            }
            return;
        }
        // Rows move down: the selected and focused rows move with them (while
        // frozen, once the platform catches up; a pending clear takes them anyway).
        lv->listRows.insert(lv->listRows.begin() + at, NewRow(*lv, text));
        inserted = at;
        if (lv->listClearPending) {
            lv->listCountPending = true;
            return;
        }
        auto after = [&](std::int32_t pending, UINT flag) {
            const std::int32_t row = pending != kStays ? pending
                                                      : static_cast<std::int32_t>(Send(window, LVM_GETNEXTITEM,
                                                                                       static_cast<WPARAM>(-1), flag));
            return row >= at ? row + 1 : pending;
        };
        lv->listSelectedAfter = after(lv->listSelectedAfter, LVNI_SELECTED);
        lv->listFocusedAfter = after(lv->listFocusedAfter, LVNI_FOCUSED);
        lv->listCountPending = true;
        if (Frozen(*lv)) return;
        Settle(*lv, window);
        RedrawRows(*lv, window, at, RowCount(*lv) - 1);
    });
    return inserted;
}

void SetItemText(Control* lv, std::int32_t row, std::int32_t column, std::string_view caption) {
    if (row < 0 || column < 0) return;
    const std::string_view text = Shown(caption);
    OnListThread(lv, [&](HWND window) {
        // Like the platform: a cell needs its row and, past the first, its column.
        if (row >= RowCount(*lv) || (column > 0 && column >= lv->columnCount)) return;
        KeepShown(*lv);
        std::vector<std::string>& cells = lv->listRows[static_cast<std::size_t>(row)].cells;
        if (cells.size() <= static_cast<std::size_t>(column)) cells.resize(static_cast<std::size_t>(column) + 1);
        cells[static_cast<std::size_t>(column)].assign(text);
        RedrawRows(*lv, window, row, row);
    });
}

void SetItemData(Control* lv, std::int32_t row, std::uint64_t data) {
    if (row < 0) return;
    OnListThread(lv, [&](HWND) {
        if (row < RowCount(*lv)) lv->listRows[static_cast<std::size_t>(row)].data = data;
    });
}

const ListRow* ClickedRow(const Control* lv) {
    return lv != nullptr && lv->listClickedRow ? &*lv->listClickedRow : nullptr;
}

bool ClickedByKey(const Control* lv) { return lv != nullptr && lv->listClickByKey; }

std::string GetItemText(Control* lv, std::int32_t row, std::int32_t column) {
    if (row < 0 || column < 0) return {};
    std::string text;
    OnListThread(lv, [&](HWND) {
        if (const std::string* cell = Cell(*lv, row, column)) text = *cell;
    });
    return text;
}

std::int32_t ItemCount(Control* lv) {
    std::int32_t count = 0;
    OnListThread(lv, [&](HWND) { count = RowCount(*lv); });
    return count;
}

void ClearItems(Control* lv) {
    OnListThread(lv, [&](HWND window) {
        // No row is left for an earlier insertion to move the selection to.
        lv->listSelectedAfter = lv->listFocusedAfter = kStays;
        if (Frozen(*lv)) {
            // The platform keeps showing the old rows until it catches up.
            if (!lv->listKeepsShown) {
                lv->listShown = std::move(lv->listRows);
                lv->listKeepsShown = true;
            }
            lv->listRows.clear();
            lv->listClearPending = true;
            return;
        }
        lv->listRows.clear();
        lv->listCountPending = false;
        lv->listClearPending = false;
        lv->listToldCount = 0;
        Send(window, LVM_DELETEALLITEMS, 0, 0);
    });
}

std::int32_t CurrentIndex(Control* lv) {
    std::int32_t current = -1;
    OnListThread(lv, [&](HWND window) {
        Settle(*lv, window);
        current = static_cast<std::int32_t>(Send(window, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_SELECTED));
    });
    return current;
}

void SetCurrentIndex(Control* lv, std::int32_t row) {
    OnListThread(lv, [&](HWND window) {
        Settle(*lv, window);
        ClearSelectionAndFocus(window);
        if (row < 0) return;
        LVITEMA item = {};
        item.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
        item.state = LVIS_SELECTED | LVIS_FOCUSED;
        Send(window, LVM_SETITEMSTATE, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&item));
    });
}

void EnsureVisible(Control* lv, std::int32_t row, bool partialOk) {
    if (row < 0) return;
    OnListThread(lv, [&](HWND window) {
        Settle(*lv, window);
        Send(window, LVM_ENSUREVISIBLE, static_cast<WPARAM>(row), partialOk ? TRUE : FALSE);
    });
}

std::int32_t TopIndex(Control* lv) {
    std::int32_t top = 0;
    OnListThread(lv, [&](HWND window) {
        Settle(*lv, window);
        top = static_cast<std::int32_t>(Send(window, LVM_GETTOPINDEX, 0, 0));
    });
    return top;
}

void SetTopIndex(Control* lv, std::int32_t row) {
    if (row < 0) return;
    OnListThread(lv, [&](HWND window) {
        Settle(*lv, window);
        const std::int32_t count = RowCount(*lv);
        if (count <= 0) return;
        const std::int32_t wanted = std::min(row, count - 1);
        RECT rect = {};
        rect.left = LVIR_BOUNDS;
        if (!Send(window, LVM_GETITEMRECT, 0, reinterpret_cast<LPARAM>(&rect))) return;
        const std::int32_t rowHeight = rect.bottom - rect.top;
        if (rowHeight <= 0) return;
        const auto top = static_cast<std::int32_t>(Send(window, LVM_GETTOPINDEX, 0, 0));
        // In report view the list scrolls by whole rows; dy is in pixels.
        if (wanted != top) Send(window, LVM_SCROLL, 0, static_cast<LPARAM>((wanted - top) * rowHeight));
    });
}

// Frozen, the platform is told nothing: it keeps showing what it showed
// (served from listShown once the rows change) until EndUpdate.
void BeginUpdate(Control* lv) {
    if (lv == nullptr) return;
    const auto begin = [lv](HWND) {
        if (lv->updateCount < INT16_MAX) ++lv->updateCount;
    };
    // Without a window only the counter changes.
    if (lv->window == nullptr) {
        begin(nullptr);
    } else {
        OnListThread(lv, begin);
    }
}

void EndUpdate(Control* lv) {
    if (lv == nullptr) return;
    const auto end = [lv](HWND window) {
        if (lv->updateCount <= 0 || --lv->updateCount > 0) return;
        if (window != nullptr && lv->kind == ControlKind::ListView) {
            Settle(*lv, window);
            if (lv->listKeepsShown) RepaintChanged(*lv, window);
        }
        lv->listShown = {};
        lv->listKeepsShown = false;
    };
    if (lv->window == nullptr) {
        end(nullptr);
    } else {
        OnListThread(lv, end);
    }
}

void SetColumnSorts(Control* lv, std::initializer_list<SortKind> kinds) {
    if (lv == nullptr) return;
    lv->listSortKinds.assign(kinds.begin(), kinds.end());
}

void SortRows(Control* lv) {
    if (lv == nullptr || !SortChosen(*lv)) return;
    OnListThread(lv, [&](HWND window) { SortModel(*lv, window); });
}

namespace core {

void ListViewCreated(Control& lv, HWND window) {
    // Rows added before the window existed: shown as the window first draws.
    if (!lv.listRows.empty()) TellCount(lv, window);
}

bool ListViewMessage(Control& lv, UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) {
    if (message == WM_CHAR) {
        // Typing searches the rows (LVN_ODFINDITEM) and moves the selection;
        // the row found then counts as clicked.
        lv.listTyping = true;
        result = ::DefSubclassProc(lv.window, message, wParam, lParam);
        lv.listTyping = false;
        if (lv.listFoundRow) RaiseKeyClick(lv, std::exchange(lv.listFoundRow, std::nullopt));
        return true;
    }
    if (message == WM_KEYDOWN) {
        // The platform moves the highlight for the arrows, the page keys,
        // Home and End; the row it lands on counts as clicked.
        const std::optional<Row> before = HighlightedRow(lv);
        result = ::DefSubclassProc(lv.window, message, wParam, lParam);
        std::optional<Row> after = HighlightedRow(lv);
        if (after && !SameRow(before, after)) RaiseKeyClick(lv, std::move(after));
        return true;
    }
    if (message == WM_TIMER && wParam == kKeyRestTimer) {
        ::KillTimer(lv.window, kKeyRestTimer);
        result = 0;
        if (!std::exchange(lv.listRestPending, false)) return true;
        if (std::optional<Row> row = HighlightedRow(lv)) RaiseClick(lv, std::move(row), false);
        return true;
    }
    if (message == WM_LBUTTONDOWN || message == WM_RBUTTONDOWN) {
        // The row under the mouse as the user sees it now: a refresh may
        // rebuild the rows before the click is reported, at button up.
        LVHITTESTINFO hit = {};
        hit.pt = {GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)};
        const auto row = static_cast<std::int32_t>(
            ::SendMessageA(lv.window, LVM_SUBITEMHITTEST, 0, reinterpret_cast<LPARAM>(&hit)));
        lv.listPressed = true;
        lv.listPressedRow = ShownRow(lv, row);  // none for -1: no row there
        return false;  // the platform's own handling goes on
    }
    if (message != kListCallMessage) return false;
    result = 0;
    if (!TakeCall(reinterpret_cast<const void*>(lParam), kListCallMessage)) return true;
    auto& call = *reinterpret_cast<ListCall*>(lParam);
    try {
        call.thunk(call.fn, call.window);
        call.ran = true;
    } catch (...) {
        call.failed = true;  // rethrown on the caller's thread
    }
    return true;
}

bool ListViewNotify(Control& lv, const NMHDR& header, LRESULT& result) {
    switch (header.code) {
    case NM_CLICK:
    case NM_RCLICK: {
        // The row the button went down on; without a press seen here, the
        // row the notification names.
        const auto& activate = reinterpret_cast<const NMITEMACTIVATE&>(header);
        std::optional<Row> row = lv.listPressed ? std::move(lv.listPressedRow) : ShownRow(lv, activate.iItem);
        lv.listPressed = false;
        lv.listPressedRow.reset();
        // A click does all a key's rest would.
        lv.listRestPending = false;
        RaiseClick(lv, std::move(row), false);
        result = 0;  // a right click goes on to WM_CONTEXTMENU
        return true;
    }
    // The rows live here: the platform asks for the texts it draws or is asked for.
    case LVN_GETDISPINFOA: {
        auto& item = reinterpret_cast<NMLVDISPINFOA&>(const_cast<NMHDR&>(header)).item;
        if (item.mask & LVIF_TEXT) CopyText(ShownCell(lv, item.iItem, item.iSubItem), item.pszText, item.cchTextMax);
        result = 0;
        return true;
    }
    case LVN_GETDISPINFOW: {
        auto& item = reinterpret_cast<NMLVDISPINFOW&>(const_cast<NMHDR&>(header)).item;
        if (item.mask & LVIF_TEXT) CopyText(ShownCell(lv, item.iItem, item.iSubItem), item.pszText, item.cchTextMax);
        result = 0;
        return true;
    }
    // Typing on the keyboard jumps to the row whose name begins so.
    case LVN_ODFINDITEMA: {
        const auto& find = reinterpret_cast<const NMLVFINDITEMA&>(header);
        result = FindRow(lv, find.iStart, find.lvfi.flags, find.lvfi.psz);
        if (lv.listTyping && result >= 0) lv.listFoundRow = ShownRow(lv, static_cast<std::int32_t>(result));
        return true;
    }
    case LVN_ODFINDITEMW: {
        const auto& find = reinterpret_cast<const NMLVFINDITEMW&>(header);
        result = FindRow(lv, find.iStart, find.lvfi.flags, find.lvfi.psz);
        if (lv.listTyping && result >= 0) lv.listFoundRow = ShownRow(lv, static_cast<std::int32_t>(result));
        return true;
    }
    case LVN_COLUMNCLICK:
        SortByHeader(lv, reinterpret_cast<const NMLISTVIEW&>(header).iSubItem);
        result = 0;
        return true;
    case LVN_KEYDOWN: {
        const WORD key = reinterpret_cast<const NMLVKEYDOWN&>(header).wVKey;
        if (key == 'C' && (::GetKeyState(VK_CONTROL) & 0x8000)) {
            CopySelectedRow(lv);
        } else if (lv.onKeyDown) {
            const KeyEvent handler = lv.onKeyDown;
            handler(&lv, key);
        }
        result = 0;
        return true;
    }
    case LVN_GETINFOTIPA: {
        auto& tip = reinterpret_cast<NMLVGETINFOTIPA&>(const_cast<NMHDR&>(header));
        CopyText(TruncatedCell(lv, tip.iItem, tip.iSubItem), tip.pszText, tip.cchTextMax);
        result = 0;
        return true;
    }
    case LVN_GETINFOTIPW: {
        auto& tip = reinterpret_cast<NMLVGETINFOTIPW&>(const_cast<NMHDR&>(header));
        CopyText(TruncatedCell(lv, tip.iItem, tip.iSubItem), tip.pszText, tip.cchTextMax);
        result = 0;
        return true;
    }
    default:
        return false;
    }
}

}  // namespace core
}  // namespace pelorin
