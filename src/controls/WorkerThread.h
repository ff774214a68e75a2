// The worker-thread object: a platform thread created suspended, its body
// (OnExecute), a synchronised call that runs a method on the interface thread,
// and a cooperative stop.
//
// The stop: RequestStop sets an atomic flag and signals a manual-reset event.
// A body loops `while (!StopRequested(t)) { ...; if (SleepOrStop(t, 1000)) break; }`
// so the stop also cuts its sleep short. StopAndWait (interface thread)
// requests the stop, lets a never-started or suspended thread run (a body that
// never started then never runs), and waits for the thread while serving only
// sent messages, so a worker blocked in Synchronize or in a SendMessage to a
// control is served and the wait cannot deadlock. Synchronize calls made after
// the stop was requested are dropped; once StopAndWait answers true the worker
// runs no further step. A worker stuck in a platform call (a read from a
// stalled share) is never killed: its owner decides, when the wait runs out,
// to end the whole process instead.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>

#include "controls/Control.h"
#include "controls/Events.h"
#include "support/Handles.h"

namespace pelorin {

struct WorkerThread : LayerObject {
    // Stops the thread if its body has not returned and waits for it, then
    // closes the handle.
    ~WorkerThread() override;

    std::atomic<bool> suspended{true};   // true while the program believes it suspended
    std::atomic<bool> terminated{false}; // the body returned, or the thread was killed
    UniqueHandle handle;
    DWORD threadId = 0;
    ThreadMethod onSuspend;
    ThreadMethod onResume;
    ExecuteEvent onExecute;  // written directly by the program
    ThreadMethod syncMethod;
    ThreadParamMethod syncParamMethod;
    bool autoFree = false;   // kept for the record; the layer never frees a thread by itself
    std::uint32_t result = 0;

    std::atomic<bool> stopRequested{false};
    UniqueHandle stopEvent;  // manual reset, signalled by RequestStop
    bool pendingIsParam = false;
    bool syncRan = false;    // the pending synchronised method has run
};

// Created suspended; Suspended(thread) is true.
WorkerThread* CreateWorkerThread();
// Ends the thread as the destructor says and frees the object (taking it off
// its owner's auto-free list).
void Destroy(WorkerThread* thread);

// Returns the previous suspend count (-1 on failure). With a previous count of
// 2 or more the thread stays suspended and Suspended reads true again.
std::int32_t Resume(WorkerThread* thread);
void Suspend(WorkerThread* thread);
// TerminateThread: abandons whatever the thread holds. Prefer StopAndWait.
void TerminateHard(WorkerThread* thread);
bool Terminated(const WorkerThread* thread);
bool Suspended(const WorkerThread* thread);
// The thread's start routine calls this; it runs OnExecute unless a stop was
// requested before the thread first ran.
std::uint32_t Execute(WorkerThread* thread) noexcept;

// Runs method on the interface thread and returns after it has run; answers
// whether it ran. Dropped when no application object exists or when the stop
// has been requested.
bool Synchronize(WorkerThread* thread, ThreadMethod method);
// The same with one extra value passed to the method.
bool Synchronize(WorkerThread* thread, ThreadParamMethod method, std::uintptr_t param);

void RequestStop(WorkerThread* thread);
bool StopRequested(const WorkerThread* thread);
// The body's sleep: waits ms milliseconds or until the stop is requested;
// answers whether the stop was requested.
bool SleepOrStop(WorkerThread* thread, DWORD ms);
// Waits for handle while serving only sent messages (a thread that sends to
// the caller's may hold what it waits for), at most timeoutMs (INFINITE for
// no limit); true when the handle was signalled.
bool WaitServingSentMessages(HANDLE handle, DWORD timeoutMs);
// Interface thread: requests the stop and waits until the thread has ended,
// at most timeoutMs; answers whether it has.
bool StopAndWait(WorkerThread* thread, DWORD timeoutMs = INFINITE);

}  // namespace pelorin
