// List views: real "SysListView32" windows in report view, single selection,
// selection shown without focus; options bit 11 adds grid lines, bit 16
// full-row selection. Indices from 0; the item text is sub-item 0.
//
// The layer keeps the rows itself and runs the platform list on owner data:
// the platform keeps the count, the selection, the focus and the scrolling,
// and asks for the texts of the rows it draws (LVN_GETDISPINFO), so a rebuild
// of many rows costs the platform one count and one repaint of what shows.
// Another program still reads cells with LVM_GETITEMTEXT and the selection
// with LVM_GETNEXTITEM. A cell text ends at its first zero byte, as the
// platform would show it; one longer than the platform's buffer is cut
// between characters.
//
// Every operation may be called from a worker thread: it then runs on the
// list's thread through a message sent to the list's window while the caller
// waits, and returns the answer. No operation creates a window off the
// interface thread; without a window they answer -1, 0 or the empty text.
// A negative row does nothing.
//
// A left and a right click both raise OnClick (the right click before the
// popup menu opens); while it runs, ClickedRow answers the row that was
// clicked, as it showed when the button went down. Whatever the user does
// that moves the highlight to another row raises OnClick for that row too,
// as a click on it would: the arrow keys, Page Up and Down, Home and End,
// and typing, which jumps to the next row whose item text begins with what
// was typed. While such an OnClick runs, ClickedByKey answers true (a key
// that repeats moves on at once, so slow work can wait), and once the keys
// have rested KeyRestMs, OnClick comes once more, as a click, for the row
// highlighted then (if any). The program's own changes of the highlight
// (SetCurrentIndex, a rebuild) raise nothing. The keyboard's menu key opens
// the popup below the current row without raising OnClick. Keys raise
// OnKeyDown; Ctrl+C puts the selected row on the clipboard as its cell texts
// separated by tabs (Unicode text). A cell too narrow for its text shows the
// whole text in a tip while the mouse rests on it.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>

#include "controls/Control.h"

namespace pelorin {

// viewStyle 3 is the report view; options as above. The control has a border.
Control* CreateListView(Control* parent, std::uint8_t viewStyle, std::uint32_t options);

constexpr std::uint32_t kListGridLines = 1u << 11;
constexpr std::uint32_t kListFullRowSelect = 1u << 16;

// alignment 0 left, 1 right, 2 centre; a negative width is the same width
// with the image on the right; 0 keeps the platform's default width. The
// column count grows only when the platform accepts the column.
void AddColumn(Control* listView, std::string_view caption, std::int32_t alignment, std::int32_t width);
std::string GetColumnText(Control* listView, std::int32_t column);
void SetColumnText(Control* listView, std::int32_t column, std::string_view text);

// Returns the new row's index, or -1.
std::int32_t InsertItem(Control* listView, std::int32_t index, std::string_view text);
void SetItemText(Control* listView, std::int32_t row, std::int32_t column, std::string_view text);
// A value the program keeps with a row (it goes with the row, unseen).
void SetItemData(Control* listView, std::int32_t row, std::uint64_t data);
// The whole cell text, however long.
std::string GetItemText(Control* listView, std::int32_t row, std::int32_t column);
std::int32_t ItemCount(Control* listView);
void ClearItems(Control* listView);

// Inside OnClick: the clicked row (its cells and data as they were when the
// button went down, whatever has been rebuilt since); null when the click hit
// no row, and outside OnClick.
const ListRow* ClickedRow(const Control* listView);
// Inside OnClick: true when a key moved the highlight (see above).
bool ClickedByKey(const Control* listView);
inline constexpr unsigned KeyRestMs = 150;

// The first selected row, -1 when none.
std::int32_t CurrentIndex(Control* listView);
// Clears the selection of all rows, then selects and focuses row (a negative
// row only clears).
void SetCurrentIndex(Control* listView, std::int32_t row);
void EnsureVisible(Control* listView, std::int32_t row, bool partialOk);
// The first visible row, and scrolling so that row is the first visible one
// (as far as the list can scroll). Keep the user's place across a rebuild.
std::int32_t TopIndex(Control* listView);
void SetTopIndex(Control* listView, std::int32_t row);

// How a column's texts compare when the user sorts the list by it.
enum SortKind : std::uint8_t {
    kSortNone = 0,           // the column does not sort
    kSortText,               // case-insensitive, A to Z first
    kSortNumber,             // as figures ("980K" < "2.42M"), smallest first
    kSortNumberLargestFirst  // as figures, largest first (memory, processor share)
};
// Lets the user sort the list by clicking a column header (one kind per
// column, in order). A second click on the same header reverses the order;
// the header shows the direction. Ties keep the rows' own order, and with no
// column chosen the rows stay as they were added. The order lasts until the
// list is destroyed; rows added later take it when SortRows runs.
void SetColumnSorts(Control* listView, std::initializer_list<SortKind> kinds);
// Puts the rows in the order the user chose (nothing while none is chosen);
// the selected and focused rows go with their rows.
void SortRows(Control* listView);

// Nested; while the counter is above 0 the platform list is told nothing and
// keeps showing (and answering other programs with) the rows it showed. The
// EndUpdate that brings it to 0 brings the platform up to date and repaints,
// once, the rows on screen whose texts changed (the whole list when the
// number of rows changed). A ClearItems while frozen takes the selection
// with it then, and the view keeps its place. An EndUpdate without a
// BeginUpdate does nothing.
void BeginUpdate(Control* listView);
void EndUpdate(Control* listView);

}  // namespace pelorin
