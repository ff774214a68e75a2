// The worker-thread object: suspend counts, the body that never started,
// Synchronize on the interface thread, the cooperative stop (also of a worker
// blocked in Synchronize), and the message loop of Run.
#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <stdexcept>
#include <string>

#include "controls/Label.h"
#include "controls/LayerTestSupport.h"
#include "controls/TextList.h"
#include "controls/WorkerThread.h"
#include "fixtures/ProcessCounters.h"
#include "fixtures/Watchdog.h"

namespace pelorin {
namespace {

using fixtures::Watchdog;
using testing::LayerTest;
using testing::Pump;
using testing::PumpUntil;

struct BodyLog {
    std::atomic<int> runs{0};
    std::atomic<int> steps{0};
    std::atomic<DWORD> syncThread{0};
    std::atomic<bool> syncRanBeforeReturn{false};
    std::atomic<bool> syncRan{false};
    UniqueHandle started{::CreateEventA(nullptr, TRUE, FALSE, nullptr)};
};

std::uint32_t CountRun(BodyLog& log, WorkerThread*) {
    ++log.runs;
    return 7;
}

std::uint32_t LoopUntilStopped(BodyLog& log, WorkerThread* thread) {
    ++log.runs;
    ::SetEvent(log.started.Get());
    while (!StopRequested(thread)) {
        ++log.steps;
        if (SleepOrStop(thread, 5)) break;
    }
    return 0;
}

// One thread that is never resumed: destroyed directly, or stopped first.
void NeverResumedCycle(BodyLog& log, bool stopFirst) {
    WorkerThread* thread = CreateWorkerThread();
    EXPECT_TRUE(Suspended(thread));
    EXPECT_FALSE(Terminated(thread));
    thread->onExecute = MakeExecute<&CountRun>(log);
    if (stopFirst) {
        StopAndWait(thread);  // lets the thread end without its body
        EXPECT_TRUE(Terminated(thread));
        EXPECT_FALSE(Suspended(thread));
        DWORD code = 1;
        ::GetExitCodeThread(thread->handle.Get(), &code);
        EXPECT_EQ(code, 0u);
    }
    Destroy(thread);
}

TEST(WorkerThread, ANeverResumedThreadNeverRunsItsBodyAndIsCleanedUp) {
    BodyLog log;
    NeverResumedCycle(log, false);  // first use of threads in the process
    NeverResumedCycle(log, true);
    const unsigned long handlesBefore = fixtures::OwnHandleCount();
    for (int i = 0; i < 20; ++i) NeverResumedCycle(log, i % 2 == 0);
    const unsigned long handlesAfter = fixtures::OwnHandleCount();
    EXPECT_EQ(log.runs, 0);
    std::printf("process handles before 20 cycles %lu, after %lu\n", handlesBefore, handlesAfter);
    if (handlesBefore != 0) {
        EXPECT_EQ(handlesAfter, handlesBefore);
    }
}

TEST(WorkerThread, ResumeReturnsThePreviousSuspendCount) {
    BodyLog log;
    WorkerThread* thread = CreateWorkerThread();
    thread->onExecute = MakeExecute<&LoopUntilStopped>(log);
    EXPECT_EQ(Resume(thread), 1);
    EXPECT_FALSE(Suspended(thread));
    ASSERT_EQ(::WaitForSingleObject(log.started.Get(), 10000), WAIT_OBJECT_0);
    EXPECT_EQ(Resume(thread), 0);  // already running: stays running
    const int steps = log.steps;
    ::Sleep(50);
    EXPECT_GT(log.steps, steps);

    // Two Suspend calls need two Resume calls.
    Suspend(thread);
    Suspend(thread);
    EXPECT_TRUE(Suspended(thread));
    EXPECT_EQ(Resume(thread), 2);
    EXPECT_TRUE(Suspended(thread));
    const int frozen = log.steps;
    ::Sleep(50);
    EXPECT_EQ(log.steps, frozen);
    EXPECT_EQ(Resume(thread), 1);
    EXPECT_FALSE(Suspended(thread));
    ::Sleep(50);
    EXPECT_GT(log.steps, frozen);

    StopAndWait(thread);
    EXPECT_TRUE(Terminated(thread));
    EXPECT_EQ(thread->result, 0u);
    Destroy(thread);
    EXPECT_EQ(log.runs, 1);
}

TEST(WorkerThread, TerminateHardEndsTheThread) {
    BodyLog log;
    WorkerThread* thread = CreateWorkerThread();
    thread->onExecute = MakeExecute<&LoopUntilStopped>(log);
    Resume(thread);
    ASSERT_EQ(::WaitForSingleObject(log.started.Get(), 10000), WAIT_OBJECT_0);
    TerminateHard(thread);
    EXPECT_TRUE(Terminated(thread));
    EXPECT_EQ(::WaitForSingleObject(thread->handle.Get(), 10000), WAIT_OBJECT_0);
    Destroy(thread);
}

std::uint32_t Throw(BodyLog& log, WorkerThread*) {
    ++log.runs;
    throw std::runtime_error("body failed");
}

TEST(WorkerThread, AnExceptionDoesNotLeaveTheThreadEntry) {
    BodyLog log;
    WorkerThread* thread = CreateWorkerThread();
    thread->onExecute = MakeExecute<&Throw>(log);
    Resume(thread);
    ASSERT_EQ(::WaitForSingleObject(thread->handle.Get(), 10000), WAIT_OBJECT_0);
    DWORD code = 0;
    ::GetExitCodeThread(thread->handle.Get(), &code);
    EXPECT_NE(code, 0u);
    EXPECT_TRUE(Terminated(thread));
    Destroy(thread);
    EXPECT_EQ(log.runs, 1);
}

void NoteSyncThread(BodyLog& log, WorkerThread*) {
    log.syncThread = ::GetCurrentThreadId();
    log.syncRan = true;
}

std::uint32_t SynchronizeOnce(BodyLog& log, WorkerThread* thread) {
    Synchronize(thread, MakeThreadMethod<&NoteSyncThread>(log));
    log.syncRanBeforeReturn = log.syncRan.load();
    return 0;
}

class WorkerWithAppTest : public LayerTest {};

TEST_F(WorkerWithAppTest, SynchronizeRunsOnTheInterfaceThreadBeforeItReturns) {
    BodyLog log;
    WorkerThread* thread = CreateWorkerThread();
    AddToAutoFree(form, thread);
    thread->onExecute = MakeExecute<&SynchronizeOnce>(log);
    Resume(thread);
    ASSERT_TRUE(PumpUntil([&] { return Terminated(thread); }));
    EXPECT_EQ(log.syncThread, ::GetCurrentThreadId());
    EXPECT_TRUE(log.syncRanBeforeReturn);
}

TEST(WorkerThread, SynchronizeWithoutAnApplicationObjectIsDropped) {
    BodyLog log;
    WorkerThread* thread = CreateWorkerThread();
    thread->onExecute = MakeExecute<&SynchronizeOnce>(log);
    Resume(thread);
    ASSERT_EQ(::WaitForSingleObject(thread->handle.Get(), 10000), WAIT_OBJECT_0);
    EXPECT_FALSE(log.syncRan);
    Destroy(thread);
}

void Nothing(BodyLog& log, WorkerThread*) { log.syncRan = true; }

std::uint32_t SynchronizeForever(BodyLog& log, WorkerThread* thread) {
    ::SetEvent(log.started.Get());
    while (!StopRequested(thread)) {
        ++log.steps;
        Synchronize(thread, MakeThreadMethod<&Nothing>(log));
    }
    return 0;
}

TEST_F(WorkerWithAppTest, StoppingAWorkerBlockedInSynchronizeNeverDeadlocks) {
    Watchdog watchdog(60000, "the wait");
    for (int round = 0; round < 100; ++round) {
        BodyLog log;
        WorkerThread* thread = CreateWorkerThread();
        thread->onExecute = MakeExecute<&SynchronizeForever>(log);
        Resume(thread);
        // This thread does not pump, so the worker soon blocks in its send.
        ASSERT_EQ(::WaitForSingleObject(log.started.Get(), 10000), WAIT_OBJECT_0);
        ::Sleep(round % 3);
        StopAndWait(thread);
        EXPECT_TRUE(Terminated(thread));
        EXPECT_EQ(::WaitForSingleObject(thread->handle.Get(), 0), WAIT_OBJECT_0);
        const int steps = log.steps;
        Pump();
        EXPECT_EQ(log.steps, steps);  // no further step after the stop
        Destroy(thread);
    }
}

std::uint32_t SleepLong(BodyLog& log, WorkerThread* thread) {
    ::SetEvent(log.started.Get());
    while (!StopRequested(thread)) {
        ++log.steps;
        if (SleepOrStop(thread, 1000)) break;
    }
    return 0;
}

TEST(WorkerThread, TheStopWakesASleepingWorkerAtOnce) {
    BodyLog log;
    WorkerThread* thread = CreateWorkerThread();
    thread->onExecute = MakeExecute<&SleepLong>(log);
    Resume(thread);
    ASSERT_EQ(::WaitForSingleObject(log.started.Get(), 10000), WAIT_OBJECT_0);
    ::Sleep(50);
    const DWORD start = ::GetTickCount();
    StopAndWait(thread);
    const DWORD elapsed = ::GetTickCount() - start;
    std::printf("stop of a worker sleeping 1000 ms took %lu ms\n", static_cast<unsigned long>(elapsed));
    EXPECT_LT(elapsed, 700u);
    EXPECT_EQ(log.steps, 1);
    Destroy(thread);
}

TEST(WorkerThread, DestroyAsksARunningBodyToStopFirst) {
    BodyLog log;
    WorkerThread* thread = CreateWorkerThread();
    thread->onExecute = MakeExecute<&SleepLong>(log);
    Resume(thread);
    ASSERT_EQ(::WaitForSingleObject(log.started.Get(), 10000), WAIT_OBJECT_0);
    const DWORD start = ::GetTickCount();
    Destroy(thread);  // the body honours the stop: no kill needed
    EXPECT_LT(::GetTickCount() - start, 700u);
}

// The program's shape: threads started before the loop, a close that stops
// them, and Run destroying everything.
struct Program {
    Control* form = nullptr;
    Control* label = nullptr;
    WorkerThread* worker = nullptr;
    BodyLog log;
    int closes = 0;
    int destroys = 0;
    HWND foundByTitle = nullptr;
    HWND formWindow = nullptr;
    DWORD labelThread = 0;
    TextList* samples = nullptr;
};

void ShowCount(Program& p, WorkerThread*) {
    p.labelThread = ::GetCurrentThreadId();
    p.foundByTitle = ::FindWindowA(nullptr, "Pelorin run test");
    p.formWindow = p.form->window;
    SetCaption(p.label, "Counts: " + std::to_string(p.log.steps.load()));
    if (p.log.steps >= 3) CloseWindow(p.form);
}

std::uint32_t ProgramBody(Program& p, WorkerThread* thread) {
    while (!StopRequested(thread)) {
        ++p.log.steps;
        Synchronize(thread, MakeThreadMethod<&ShowCount>(p));
        ProcessMessages(CurrentAppObject());
        if (SleepOrStop(thread, 20)) break;
    }
    return 0;
}

void ProgramClose(Program& p, Control*, bool&) {
    ++p.closes;
    StopAndWait(p.worker);
}

void ProgramDestroy(Program& p, Control*) {
    ++p.destroys;
    Release(p.samples);
    p.samples = nullptr;
}

TEST(RunLoop, RunsUntilTheMainFormClosesThenDestroysEverything) {
    Watchdog watchdog(30000, "the wait");
    Program p;
    Control* app = CreateAppObject("Pelorin run test");
    p.form = CreateForm(app, "Pelorin run test");
    p.label = CreateLabel(p.form, "lblTask");
    SetAutoSize(p.label, true);
    p.worker = CreateWorkerThread();
    AddToAutoFree(p.form, p.worker);
    p.worker->onExecute = MakeExecute<&ProgramBody>(p);
    SetOnClose(p.form, MakeCloseHandler<&ProgramClose>(p));
    p.form->onDestroy = MakeNotify<&ProgramDestroy>(p);
    p.samples = CreateTextList();
    // Resumed before the loop: its first Synchronize waits for Run.
    Resume(p.worker);
    pelorin::Run(app);

    EXPECT_EQ(p.closes, 1);
    EXPECT_EQ(p.destroys, 1);
    EXPECT_EQ(p.samples, nullptr);
    EXPECT_EQ(p.labelThread, ::GetCurrentThreadId());
    // The application object's window is message-only: the title finds the form.
    EXPECT_NE(p.foundByTitle, nullptr);
    EXPECT_EQ(p.foundByTitle, p.formWindow);
    EXPECT_FALSE(::IsWindow(p.formWindow));
    EXPECT_EQ(CurrentAppObject(), nullptr);
    EXPECT_GE(p.log.steps, 3);
}

TEST(TextList, KeepsOrderedTextsAndFindsWholeCaseSensitiveTexts) {
    TextList* list = CreateTextList();
    EXPECT_EQ(list->IndexOf(""), -1);  // empty list
    EXPECT_EQ(list->IndexOf("1234"), -1);
    EXPECT_EQ(list->Add("1234"), 0);
    EXPECT_EQ(list->Add("abc"), 1);
    EXPECT_EQ(list->Add("1234"), 2);
    EXPECT_EQ(list->Count(), 3);
    EXPECT_EQ(list->IndexOf("1234"), 0);
    EXPECT_EQ(list->IndexOf("ABC"), -1);
    EXPECT_EQ(list->IndexOf("12"), -1);
    list->Put(1, "ABC");
    EXPECT_EQ(list->Get(1), "ABC");
    EXPECT_EQ(list->Get(3), "");
    EXPECT_EQ(list->Get(-1), "");
    list->Put(9, "outside");
    EXPECT_EQ(list->Count(), 3);
    list->Clear();
    EXPECT_EQ(list->Count(), 0);
    EXPECT_EQ(list->IndexOf("1234"), -1);
    Release(list);
}

}  // namespace
}  // namespace pelorin

namespace pelorin {
namespace {

struct CallLog {
    DWORD ranOn = 0;
    int calls = 0;
    bool answered = false;
};

void NoteCall(void* context) {
    auto* log = static_cast<CallLog*>(context);
    log->ranOn = ::GetCurrentThreadId();
    ++log->calls;
}

DWORD WINAPI CallFromOtherThread(LPVOID context) noexcept {
    auto* log = static_cast<CallLog*>(context);
    log->answered = CallOnInterfaceThread(&NoteCall, log);
    return 0;
}

TEST(CallOnInterfaceThread, RunsTheFunctionThereAndReturnsAfterIt) {
    CallLog noApp;
    EXPECT_FALSE(CallOnInterfaceThread(&NoteCall, &noApp));
    EXPECT_EQ(noApp.calls, 0);

    Control* app = CreateAppObject("call test");
    CallLog direct;
    EXPECT_TRUE(CallOnInterfaceThread(&NoteCall, &direct));
    EXPECT_EQ(direct.calls, 1);

    CallLog sent;
    UniqueHandle thread(::CreateThread(nullptr, 0, CallFromOtherThread, &sent, 0, nullptr));
    ASSERT_TRUE(PumpUntil([&] { return ::WaitForSingleObject(thread.Get(), 0) == WAIT_OBJECT_0; }));
    EXPECT_TRUE(sent.answered);
    EXPECT_EQ(sent.calls, 1);
    EXPECT_EQ(sent.ranOn, ::GetCurrentThreadId());
    Destroy(app);
}

}  // namespace
}  // namespace pelorin
