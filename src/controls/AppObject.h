// The application object: a control of kind App whose window is message-only
// (so FindWindowA(NULL, caption) finds the main form, not it). It owns the
// forms, runs the message loop and serves Synchronize for worker threads.
#pragma once

#include <string_view>

#include "controls/Control.h"

namespace pelorin {

// Creates the object and its window at once. The first one created becomes
// the current application object.
Control* CreateAppObject(std::string_view caption);
// The current application object, or null (readable from any thread).
Control* CurrentAppObject();

// Makes app current, creates and shows the windows, then waits for messages
// and dispatches them until the terminate flag is set (an accepted close of
// the main form sets it, and so does a WM_QUIT, which then closes the main
// form as WM_CLOSE would); finally destroys app and everything it owns.
void Run(Control* app);
// Dispatches the calling thread's pending messages until none is left.
void ProcessMessages(Control* app);

// Runs fn(context) on the interface thread of the current application object
// and returns after it has run: directly when called there, otherwise through
// a message sent to the application object's window (so a worker can hand a
// whole batch of work to the interface thread in one step). Answers whether
// fn ran, as the call's own record says: not when no application object
// exists or its window went first. A caller never runs fn itself instead
// (a message of another program may have run it already).
bool CallOnInterfaceThread(void (*fn)(void* context), void* context);

// The flag that ends Run; RequestTerminate also posts a quit message so a
// waiting loop wakes up, and on the interface thread ends a popup menu that
// is open, whose own loop would otherwise keep Run from seeing the flag.
bool TerminateRequested(const Control* app);
void RequestTerminate(Control* app);

}  // namespace pelorin
