// The worker thread object: its synchronised call, and a stop that cannot
// deadlock with it.
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
};

void Note(Shared& s, WorkerThread*) {
    s.ranOn = ::GetCurrentThreadId();
    ++s.synchronized;
}

std::uint32_t SynchronizeForEver(Shared& s, WorkerThread* t) {
    while (!StopRequested(t)) Synchronize(t, MakeThreadMethod<&Note>(s));
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

}  // namespace
}  // namespace pelorin
