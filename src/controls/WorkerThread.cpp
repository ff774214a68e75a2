#include "controls/WorkerThread.h"

#include <algorithm>

#include "controls/AppObject.h"
#include "controls/WindowCore.h"

namespace pelorin {
namespace {

// Exit code of a body that let an exception out.
constexpr std::uint32_t kBodyFailed = 0xE0000001u;

DWORD WINAPI ThreadStart(LPVOID parameter) noexcept {
    return Execute(static_cast<WorkerThread*>(parameter));
}

// Lets a suspended thread run, however often it was suspended.
void ResumeFully(WorkerThread& t) {
    if (!t.handle) return;
    for (int i = 0; i < 128; ++i) {
        const DWORD previous = ::ResumeThread(t.handle.Get());
        if (previous == static_cast<DWORD>(-1) || previous <= 1) break;
    }
    t.suspended = false;
}

}  // namespace

bool WaitServingSentMessages(HANDLE handle, DWORD timeoutMs) {
    const DWORD start = ::GetTickCount();
    for (;;) {
        // A short slice, so a wake-up that slips between checks costs 50 ms at most.
        const DWORD r = ::MsgWaitForMultipleObjectsEx(1, &handle, 50, QS_SENDMESSAGE, MWMO_INPUTAVAILABLE);
        if (r == WAIT_OBJECT_0) return true;
        if (r == WAIT_FAILED) return false;
        MSG message;
        ::PeekMessageA(&message, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
        if (timeoutMs != INFINITE && ::GetTickCount() - start >= timeoutMs) {
            return ::WaitForSingleObject(handle, 0) == WAIT_OBJECT_0;
        }
    }
}

namespace core {

void ServeSynchronize(WorkerThread* thread, WPARAM wParam) {
    if (thread == nullptr || thread->stopRequested.load()) return;
    if (wParam != 0 || thread->pendingIsParam) {
        const ThreadParamMethod method = thread->syncParamMethod;
        if (method) method.code(method.context, thread, wParam);
    } else {
        const ThreadMethod method = thread->syncMethod;
        if (method) method.code(method.context, thread);
    }
    thread->syncRan = true;
}

}  // namespace core

WorkerThread::~WorkerThread() {
    // Never killed: a thread killed half way may hold the heap's or the
    // loader's lock, which the rest of the program would then wait for. An
    // owner that cannot wait ends the process instead (see StopAndWait).
    if (handle && ::GetCurrentThreadId() != threadId) StopAndWait(this);
    handle.Reset();
}

WorkerThread* CreateWorkerThread() {
    auto* t = new WorkerThread;
    t->stopEvent.Reset(::CreateEventA(nullptr, TRUE, FALSE, nullptr));
    DWORD id = 0;
    t->handle.Reset(::CreateThread(nullptr, 0, ThreadStart, t, CREATE_SUSPENDED, &id));
    t->threadId = t->handle ? id : 0;
    return t;
}

void Destroy(WorkerThread* thread) {
    if (thread == nullptr) return;
    if (thread->owner != nullptr) {
        auto& list = thread->owner->autoFree;
        list.erase(std::remove(list.begin(), list.end(), static_cast<LayerObject*>(thread)), list.end());
        thread->owner = nullptr;
    }
    delete thread;
}

std::int32_t Resume(WorkerThread* t) {
    if (t == nullptr) return -1;
    t->suspended = false;
    const DWORD previous = ::ResumeThread(t->handle.Get());
    if (previous == static_cast<DWORD>(-1)) return -1;
    if (previous >= 2) {
        t->suspended = true;
    } else if (t->onResume) {
        t->onResume.code(t->onResume.context, t);
    }
    return static_cast<std::int32_t>(previous);
}

void Suspend(WorkerThread* t) {
    if (t == nullptr) return;
    t->suspended = true;
    if (t->onSuspend) Synchronize(t, t->onSuspend);
    ::SuspendThread(t->handle.Get());
}

void TerminateHard(WorkerThread* t) {
    if (t == nullptr) return;
    ::TerminateThread(t->handle.Get(), 0);
    t->terminated = true;
}

bool Terminated(const WorkerThread* t) { return t != nullptr && t->terminated.load(); }
bool Suspended(const WorkerThread* t) { return t != nullptr && t->suspended.load(); }

std::uint32_t Execute(WorkerThread* t) noexcept {
    if (t == nullptr) return 0;
    std::uint32_t result = 0;
    if (!t->stopRequested.load() && t->onExecute) {
        try {
            result = t->onExecute.code(t->onExecute.context, t);
        } catch (...) {
            result = kBodyFailed;
        }
    }
    t->result = result;
    t->terminated = true;
    return result;
}

namespace {

bool SendSynchronize(WorkerThread* t, WPARAM param) {
    const HWND window = core::SynchronizeWindow();
    if (window == nullptr) return false;
    t->syncRan = false;
    core::RegisterCall(t, core::kSynchronizeMessage);
    ::SendMessageA(window, core::kSynchronizeMessage, param, reinterpret_cast<LPARAM>(t));
    core::ForgetCall(t);
    return t->syncRan;
}

}  // namespace

bool Synchronize(WorkerThread* t, ThreadMethod method) {
    if (t == nullptr || t->stopRequested.load()) return false;
    t->syncMethod = method;
    t->pendingIsParam = false;
    return SendSynchronize(t, 0);
}

bool Synchronize(WorkerThread* t, ThreadParamMethod method, std::uintptr_t param) {
    if (t == nullptr || t->stopRequested.load()) return false;
    t->syncParamMethod = method;
    t->pendingIsParam = true;
    return SendSynchronize(t, static_cast<WPARAM>(param));
}

void RequestStop(WorkerThread* t) {
    if (t == nullptr) return;
    t->stopRequested = true;
    if (t->stopEvent) ::SetEvent(t->stopEvent.Get());
}

bool StopRequested(const WorkerThread* t) { return t != nullptr && t->stopRequested.load(); }

bool SleepOrStop(WorkerThread* t, DWORD ms) {
    if (t == nullptr) return false;
    if (t->stopEvent) {
        ::WaitForSingleObject(t->stopEvent.Get(), ms);
    } else {
        ::SleepEx(ms, FALSE);
    }
    return t->stopRequested.load();
}

bool StopAndWait(WorkerThread* t, DWORD timeoutMs) {
    if (t == nullptr) return true;
    RequestStop(t);
    if (!t->handle || ::GetCurrentThreadId() == t->threadId) return true;
    ResumeFully(*t);
    return WaitServingSentMessages(t->handle.Get(), timeoutMs);
}

}  // namespace pelorin
