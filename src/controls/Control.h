// The shared record of the control layer and the operations every
// window-backed object has (caption, bounds, colour, font, cursor, visibility,
// border, auto-size, events, ownership).
//
// How the layer works, in short:
// - Every setter stores its value in the record and, when the window exists,
//   applies it to the window too; so properties can be set before any window
//   is created and show when it is.
// - Windows are created lazily, on the interface thread only (the thread that
//   created the control): by Run, or earlier by Handle(control), which also
//   creates the parents' windows. Called on another thread, Handle never
//   creates a window; operations there act on an existing window (by message)
//   or on the record alone.
// - A window of the layer carries its record in its user data, for its own
//   window procedure (a window property would cost a round trip to the Wine
//   server on every message); parents reflect WM_COMMAND, WM_NOTIFY and
//   WM_CTLCOLOR* to the record of the child that sent them, found among their
//   own children.
// - Ownership: a control starts owned by its parent; AddToAutoFree hands it to
//   another owner. Destroying an owner destroys what it owns (last added
//   first), after destroying its window.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "controls/Events.h"
#include "support/Handles.h"

namespace pelorin {

struct Control;

// Base of everything an auto-free list can hold (controls, menus, threads).
struct LayerObject {
    LayerObject() = default;
    LayerObject(const LayerObject&) = delete;
    LayerObject& operator=(const LayerObject&) = delete;
    virtual ~LayerObject();

    Control* owner = nullptr;  // whose auto-free list holds this object
};

enum class ControlKind : std::uint8_t { App, Form, Label, Panel, Splitter, Button, CheckBox, ListView };

// Alignment codes as the program passes them.
enum Align : std::uint8_t { kAlignNone = 0, kAlignTop = 2, kAlignBottom = 4, kAlignClient = 5 };

// Colour values: 0x00BBGGRR, or a system colour index with the high bit set
// (0x80000005 is COLOR_WINDOW).
using ColorValue = std::uint32_t;
constexpr ColorValue kSystemColorFlag = 0x80000000u;
constexpr ColorValue kColorBtnFace = kSystemColorFlag | COLOR_BTNFACE;
constexpr ColorValue kColorWindowText = kSystemColorFlag | COLOR_WINDOWTEXT;

// Font style bits.
enum FontStyle : std::uint8_t { kFontBold = 1, kFontItalic = 2, kFontUnderline = 4, kFontStrikeOut = 8 };

// The font object, one per control (Font(control) answers it). Changing a
// value drops the platform font (and re-applies it to the window); setting an
// equal value does nothing.
struct ControlFont {
    ColorValue color = kColorWindowText;
    std::int32_t height = 0;  // logical height in units, scaled to the window's DPI; 0 = the platform's
    std::string face;         // at most 31 characters; empty = the platform's GUI font
    std::uint8_t style = 0;   // FontStyle bits
    std::int32_t weight = FW_NORMAL;

    Control* control = nullptr;  // the control that uses it
    HFONT handle = nullptr;      // built on demand; owned unless it is the stock GUI font
};

struct Anchors {
    bool left = true;
    bool top = true;
    bool right = false;
    bool bottom = false;
};

struct Menu;

// One row of a list view: its cell texts by column (a missing cell is empty)
// and a value the program keeps with it.
struct ListRow {
    std::vector<std::string> cells;
    std::uint64_t data = 0;
};

struct Control : LayerObject {
    ~Control() override;

    ControlKind kind = ControlKind::Label;
    DWORD style = 0;
    DWORD exStyle = 0;
    Control* parent = nullptr;
    HWND window = nullptr;       // zero until the window exists
    DWORD interfaceThread = 0;   // the only thread that may create the window

    // In pixels of the form's DPI, in the parent's client coordinates (screen
    // coordinates for a form).
    std::int32_t left = 0, top = 0, right = 0, bottom = 0;
    std::string caption;
    ColorValue color = kColorBtnFace;
    std::unique_ptr<ControlFont> font;  // created on first use, or copied from the parent
    Align align = kAlignNone;
    Anchors anchors;
    bool visible = true;
    bool border = false;
    bool autoSize = false;
    HCURSOR cursor = nullptr;  // null: the class default

    std::vector<LayerObject*> autoFree;  // destroyed with this control, last added first

    NotifyEvent onClick;
    CloseEvent onClose;
    MouseEvent onMouseDown;
    KeyEvent onKeyDown;     // list views: a key pressed while the list has the focus
    NotifyEvent onDestroy;  // written directly by the program

    // List views.
    std::uint8_t viewStyle = 0;
    std::uint32_t options = 0;
    std::int32_t columnCount = 0;
    std::int16_t updateCount = 0;
    // The rows, cell texts by column (a missing cell is empty). The platform
    // list runs on owner data and asks for the texts it draws or is asked for.
    std::vector<ListRow> listRows;
    // While frozen: the rows as the platform shows them, kept from the first
    // change on, so screen and platform stay as they were until EndUpdate
    // repaints the rows that changed.
    std::vector<ListRow> listShown;
    bool listKeepsShown = false;
    bool listCountPending = false;  // the platform's count is behind the rows
    std::int32_t listToldCount = 0;  // the count the platform list has (telling it costs)
    bool listClearPending = false;  // cleared while frozen: the selection goes when the platform catches up
    // Rows inserted above them while frozen: where the selected and focused
    // rows go when the platform catches up (-2 when they stay).
    std::int32_t listSelectedAfter = -2, listFocusedAfter = -2;
    // The row a mouse button went down on, as it showed then (none: no row),
    // and the row the running OnClick is about (see ClickedRow).
    bool listPressed = false;
    std::optional<ListRow> listPressedRow;
    std::optional<ListRow> listClickedRow;
    bool listTyping = false;               // a typed character is being handled
    std::optional<ListRow> listFoundRow;   // the row typing jumped to, raised as a click next
    bool listClickByKey = false;           // the running OnClick is about a key's move
    bool listRestPending = false;          // keys moved the highlight: OnClick again once they rest
    // Sorting by a header click: how each column compares, the chosen column
    // (-1: the rows' own order) and its direction.
    std::vector<std::uint8_t> listSortKinds;
    std::int32_t listSortColumn = -1;
    bool listSortDescending = false;
    // Check boxes.
    bool checked = false;
    // Panels: 0 and 1 draw a frame edge (raised, lowered), 2 none.
    std::uint8_t edge = 2;
    // Splitters: the least size of the neighbour it resizes and of the rest, in units.
    std::int32_t minSize1 = 0, minSize2 = 0;

    // Inner state of the layer.
    std::vector<Control*> children;  // creation order; decides the alignment order
    std::vector<Menu*> menus;        // forms: the menus created for them
    Menu* menuBar = nullptr;         // forms: the first menu created for them
    Menu* popupMenu = nullptr;       // opens on right click (AttachPopupMenu)
    UniqueBrush brush;               // background brush of a plain colour
    ColorValue brushColor = 0;
    bool layoutKnown = false;        // the client size of the last layout is valid
    std::int32_t layoutWidth = 0, layoutHeight = 0;
    std::uint32_t dpi = 96;           // forms: the DPI of their own and their controls' pixels
    bool dpiChanging = false;         // forms: layout waits while every length is rescaled
    bool placing = false;             // forms: the program is moving the window
    std::int32_t inProcedure = 0;     // subclassed controls: nesting of their window procedure
    bool inClose = false;             // forms: a close request is being handled
    bool closed = false;              // forms: a close was accepted
    std::atomic<bool> terminate{false};  // application object: ends Run
    Control* mainForm = nullptr;      // application object: the first form
    bool dragging = false;            // splitters
    std::int32_t dragStartY = 0, dragStartX = 0, dragStartSize = 0;
    UINT nextCommandId = 100;         // forms: menu item identifiers
};

// The window of a control, creating it (and its parents' windows) on the
// interface thread when it does not exist yet. On any other thread it answers
// the existing window or null.
HWND Handle(Control* control);

// Destroys the control, its window and everything it owns; runs OnDestroy.
void Destroy(Control* control);
// Hands object to owner's auto-free list (taking it off its previous owner's).
void AddToAutoFree(Control* owner, LayerObject* object);

void SetCaption(Control* control, std::string_view text);
std::string Caption(const Control* control);

// Geometry in units of a 96-DPI screen both ways (see Dpi.h): a control's
// window has them in pixels of its form's DPI.
std::int32_t Left(const Control* control);
std::int32_t Top(const Control* control);
std::int32_t Width(const Control* control);
std::int32_t Height(const Control* control);
void SetLeft(Control* control, std::int32_t value);
void SetTop(Control* control, std::int32_t value);
void SetWidth(Control* control, std::int32_t value);
void SetHeight(Control* control, std::int32_t value);
void SetPosition(Control* control, std::int32_t left, std::int32_t top);
// A 0 leaves that dimension unchanged.
void SetSize(Control* control, std::int32_t width, std::int32_t height);
// The client area's size; the outer size grows by the frame. 0 or less leaves
// that dimension unchanged.
void SetClientSize(Control* control, std::int32_t width, std::int32_t height);
// Places the control against a side of its parent (top, bottom) or fills what
// the aligned controls leave (client). Top-aligned controls stack downwards
// and bottom-aligned ones upwards, in creation order; client comes last.
void SetAlign(Control* control, Align align);
// When the parent's client area changes, the control keeps its distance to the
// chosen parent edges: right only moves it, left and right widen it.
void SetAnchors(Control* control, bool left, bool top, bool right, bool bottom);
// Client width and height (from the window, or computed from the styles).
SIZE ClientSize(const Control* control);
// The bounds in the window's own pixels, unscaled: what must keep the pixels
// it was given, such as a form's placement on the screen.
RECT PixelBounds(const Control* control);
void SetPixelBounds(Control* control, const RECT& bounds);

void SetColor(Control* control, ColorValue color);
void SetVisible(Control* control, bool visible);
// False: a form becomes a pop-up without caption and frame, a child control
// loses its border and sunken edge. True gives them back.
void SetHasBorder(Control* control, bool border);
// True: the control sizes itself to its caption now and after every SetCaption.
void SetAutoSize(Control* control, bool autoSize);
void SetCursor(Control* control, HCURSOR cursor);

void SetOnClick(Control* control, NotifyEvent handler);
void SetOnClose(Control* control, CloseEvent handler);
void SetOnMouseDown(Control* control, MouseEvent handler);
void SetOnKeyDown(Control* control, KeyEvent handler);

// Posts WM_CLOSE to the control's window.
void CloseWindow(Control* control);
// Posts WM_SYSCOMMAND 0xF012 so the platform moves the window with the mouse.
void DragMove(Control* control);

// The control's font, created on first use; its height is in units too.
ControlFont* Font(Control* control);
void SetFontColor(ControlFont* font, ColorValue color);
void SetFontHeight(ControlFont* font, std::int32_t height);
void SetFontName(ControlFont* font, std::string_view face);
// Bold raises the weight to at least 700; clearing it resets 700 or more to normal.
void SetFontStyle(ControlFont* font, std::uint8_t style);

// The platform colour of a colour value.
COLORREF ResolveColor(ColorValue color);

}  // namespace pelorin
