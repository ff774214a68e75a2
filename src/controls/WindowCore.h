// Inside of the control layer, shared by its source files and not meant for
// the program: window classes and creation, the window procedures, layout and
// the hooks each control kind provides to the shared window procedure.
#pragma once

#include <windows.h>

#include "controls/Control.h"

namespace pelorin {

struct Menu;
struct WorkerThread;

namespace core {

// Message the application object's window serves for Synchronize.
constexpr UINT kSynchronizeMessage = 0x8FFF;
// Message the application object's window serves for CallOnInterfaceThread.
constexpr UINT kCallMessage = 0x8FFE;
// Message a list view's window serves for its operations called off its thread.
constexpr UINT kListCallMessage = 0x8FFD;

// Calls a thread of this process hands to a window of the interface thread
// by a sent message (Synchronize, CallOnInterfaceThread, a list operation off
// the list's thread). The message only names a call registered for it; one
// that names none (posted, or sent by another program with values of its
// choosing) runs nothing, and a registered call runs at most once.
void RegisterCall(const void* call, UINT message);  // may throw: nothing is registered then
void ForgetCall(const void* call) noexcept;          // after the send, whether or not it ran
// The receiving side: true, once, for a call registered for this message
// and sent by another thread.
bool TakeCall(const void* call, UINT message) noexcept;

// A new record of the kind, with its parent's font, text colour and
// background copied, appended to the parent's children and owned by the parent.
Control* NewControl(ControlKind kind, Control* parent, std::int32_t width, std::int32_t height);
bool OnInterfaceThread(const Control& control);
// Styles of the window the control stands for, from its flags.
struct WindowStyles {
    DWORD style = 0;
    DWORD exStyle = 0;
};
WindowStyles StylesOf(const Control& control);
// Writes StylesOf into the record.
void ComputeStyles(Control& control);
// Unlinks a window from its record (the window may belong to another thread).
void ForgetWindow(Control& control);
// Creates the control's window and then its children's (interface thread only).
void CreateWindowTree(Control& control);

// Bounds: records and windows, in pixels.
void MoveControl(Control& control, std::int32_t left, std::int32_t top, std::int32_t right, std::int32_t bottom);
// After the program changed a control's bounds: aligned controls are laid out again.
void AfterBoundsSet(Control& control);
// MoveControl, then AfterBoundsSet.
void SetBounds(Control& control, std::int32_t left, std::int32_t top, std::int32_t right, std::int32_t bottom);
SIZE ClientPixels(const Control& control);
// Lays out the children of container: alignment, then anchors by how much the
// client area changed since the last layout.
void Realign(Control& container);
void UpdateAutoSize(Control& control);
void Repaint(Control& control);

// DPI (Dpi.cpp): units of a 96-DPI screen and pixels of a form's DPI.
std::uint32_t SystemDpi();
// The DPI of the control's form, or the system's without one.
std::uint32_t DpiOf(const Control& control);
std::int32_t Scale(const Control& control, std::int32_t units);
std::int32_t Unscale(const Control& control, std::int32_t pixels);
int MetricForDpi(int index, std::uint32_t dpi);
// Every length of the form's controls, their fonts and list columns go to
// dpi; the form takes the suggested rectangle, or keeps its place and scales
// its client area.
void ChangeDpi(Control& form, std::uint32_t dpi, const RECT* suggested);
// A new form's window may sit on a screen of another DPI than the system's.
void AdoptWindowDpi(Control& form);
// WM_DPICHANGED. Values no system sends (another program's) change nothing.
void DpiChanged(Control& form, WPARAM wParam, LPARAM lParam);

// Drawing resources.
HFONT FontHandle(Control& control);
// The font is built again (after a change of value or DPI) and handed to the
// window; an auto-sized control measures itself again.
void RenewFont(Control& control);
void DropFontHandle(ControlFont& font);
HBRUSH BackgroundBrush(Control& control);
void ApplyListColors(Control& control);

// The form a control sits on (the control itself for a form), or null.
Control* FormOf(Control* control);
const Control* FormOf(const Control* control);

// Kind hooks. Each answers true when it handled the message and set result.
bool AppMessage(Control& app, UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result);
bool FormMessage(Control& form, UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result);
bool StaticMessage(Control& control, UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result);
bool SplitterMessage(Control& splitter, UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result);

// Reflected notifications from a parent.
void ButtonCommand(Control& button, WORD code);
bool ListViewNotify(Control& listView, const NMHDR& header, LRESULT& result);
// List views: messages of their own window, and the set-up of a new window.
bool ListViewMessage(Control& listView, UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result);
void ListViewCreated(Control& listView, HWND window);
// Where the popup opens for WM_CONTEXTMENU's lParam (screen coordinates).
POINT ContextMenuPoint(Control& control, LPARAM lParam);

// Measuring (labels and check boxes).
SIZE MeasureCaption(Control& control, UINT format);

// Menus.
// Runs the chosen item's handler before it returns.
void ShowPopupMenu(Control& control, Menu& menu, POINT screen);
void AttachMenuBar(Control& form);
void ForgetMenusOf(Control& form);
bool MenuHasItems(const Menu& menu);

// Application object bookkeeping.
void ForgetAppObject(Control* app);
// The current application object's window, for Synchronize from any thread.
HWND SynchronizeWindow();
// Runs a worker's pending synchronised method (the application window's 0x8FFF).
void ServeSynchronize(WorkerThread* thread, WPARAM wParam);

// Resource counters (see ResourceCounters.h).
void CountFont(int delta);
void CountBrush(int delta);
void CountMenu(int delta);

}  // namespace core
}  // namespace pelorin
