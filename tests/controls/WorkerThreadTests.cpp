// The worker thread object: its synchronised call, and a stop that can
// neither deadlock nor wait for ever.
#include <gtest/gtest.h>

#include <atomic>

#include "common/TestSupport.h"
#include "controls/AppObject.h"
#include "controls/WorkerThread.h"

namespace pelorin {
namespace {

struct Shared {
    std::atomic<int> synchronized{0};
    DWORD ranOn = 0;
    bool bodyRan = false;
    UniqueHandle release{::CreateEventA(nullptr, TRUE, FALSE, nullptr)};
};

void Note(Shared& s, WorkerThread*) {
    s.ranOn = ::GetCurrentThreadId();
    ++s.synchronized;
}

std::uint32_t SynchronizeForEver(Shared& s, WorkerThread* t) {
    s.bodyRan = true;
    while (!StopRequested(t)) Synchronize(t, MakeThreadMethod<&Note>(s));
    return 0;
}

std::uint32_t StuckInAPlatformCall(Shared& s, WorkerThread*) {
    s.bodyRan = true;
    ::WaitForSingleObject(s.release.Get(), INFINITE);
    return 0;
}

TEST(WorkerThread, ASynchronizedCallRunsOnTheInterfaceThreadAndTheStopEndsAWorkerWaitingInOne) {
    Control* app = CreateAppObject("workers");
    Shared s;
    WorkerThread* t = CreateWorkerThread();
    t->onExecute = MakeExecute<&SynchronizeForEver>(s);
    Resume(t);
    ASSERT_TRUE(test::WaitUntil([&] { return s.synchronized > 10; }));
    EXPECT_EQ(s.ranOn, ::GetCurrentThreadId());
    EXPECT_TRUE(StopAndWait(t, 5000));
    Destroy(t);
    Destroy(app);
}

TEST(WorkerThread, TheStopWaitsNoLongerThanAskedForAWorkerStuckInAPlatformCall) {
    Shared s;
    WorkerThread* t = CreateWorkerThread();
    t->onExecute = MakeExecute<&StuckInAPlatformCall>(s);
    Resume(t);
    ASSERT_TRUE(test::WaitUntil([&] { return s.bodyRan; }));
    const DWORD start = ::GetTickCount();
    EXPECT_FALSE(StopAndWait(t, 300));
    EXPECT_LT(::GetTickCount() - start, 3000u);
    ::SetEvent(s.release.Get());
    EXPECT_TRUE(StopAndWait(t, 5000));
    Destroy(t);
}

TEST(WorkerThread, AThreadNeverResumedNeverRunsItsBody) {
    Shared s;
    WorkerThread* t = CreateWorkerThread();
    t->onExecute = MakeExecute<&StuckInAPlatformCall>(s);
    EXPECT_TRUE(StopAndWait(t, 5000));
    Destroy(t);
    EXPECT_FALSE(s.bodyRan);
}

}  // namespace
}  // namespace pelorin
