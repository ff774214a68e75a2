// Shutdown of the main window: the close handler stops both workers with the
// cooperative stop (also when they are blocked waiting for this thread),
// runs once whatever the close path, and saves after both have ended; the
// destroy handler never frees what a running worker reads. Also the two
// methods the workers run here through Synchronize, and the real workers.
#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <regex>
#include <string>

#include "controls/ListView.h"
#include "support/Handles.h"
#include "ui/MainFormFixture.h"

namespace pelorin {
namespace {

using testing::MainFormTest;
using testing::Pump;
using testing::PumpFor;
using testing::PumpUntil;
using testing::TestModeFile;

// Worker bodies that keep calling into this thread: the CPU one through
// Synchronize, the refresh one through list calls.
struct FakeWorkers {
    UniqueHandle cpuCalling{::CreateEventA(nullptr, TRUE, FALSE, nullptr)};
    UniqueHandle refreshCalling{::CreateEventA(nullptr, TRUE, FALSE, nullptr)};
    std::atomic<int> cpuSteps{0};
    std::atomic<int> refreshSteps{0};
    std::atomic<int> syncRuns{0};
    std::atomic<int> sequence{0};
    std::atomic<int> cpuEnded{0};  // the sequence number at which each body returned
    std::atomic<int> refreshEnded{0};
    std::atomic<int> listGone{0};  // passes that found the sample lists released
};
FakeWorkers* g_fake = nullptr;

void CountSync(MainForm&, WorkerThread*) { ++g_fake->syncRuns; }

std::uint32_t FakeCpuBody(MainForm& f, WorkerThread* t) {
    while (!StopRequested(t)) {
        ++g_fake->cpuSteps;
        ::SetEvent(g_fake->cpuCalling.Get());
        Synchronize(t, MakeThreadMethod<&CountSync>(f));
    }
    g_fake->cpuEnded = ++g_fake->sequence;
    return 0;
}

std::uint32_t FakeRefreshBody(MainForm& f, WorkerThread* t) {
    while (!StopRequested(t)) {
        ++g_fake->refreshSteps;
        ::SetEvent(g_fake->refreshCalling.Get());
        InsertItem(f.lvProcesses, 0, "row");
        if (ItemCount(f.lvProcesses) > 50) ClearItems(f.lvProcesses);
        // Reads what the destroy handler releases.
        if (TextList* pids = f.refresh.PreviousSample.pids) {
            pids->Count();
        } else {
            ++g_fake->listGone;
        }
    }
    g_fake->refreshEnded = ++g_fake->sequence;
    return 0;
}

class CloseTest : public MainFormTest {
protected:
    void SetUp() override {
        MainFormTest::SetUp();
        g_fake = &fake;
    }
    void TearDown() override {
        MainFormTest::TearDown();
        g_fake = nullptr;
    }
    // Puts the fake bodies in and lets them run; this thread does not pump,
    // so both soon wait for it.
    void StartFakeWorkers() {
        form.CpuUsageThread->onExecute = MakeExecute<&FakeCpuBody>(form);
        form.RefreshThread->onExecute = MakeExecute<&FakeRefreshBody>(form);
        Resume(form.CpuUsageThread);
        Resume(form.RefreshThread);
        ASSERT_EQ(::WaitForSingleObject(fake.cpuCalling.Get(), 10000), WAIT_OBJECT_0);
        ASSERT_EQ(::WaitForSingleObject(fake.refreshCalling.Get(), 10000), WAIT_OBJECT_0);
        ::Sleep(100);  // both are inside their sends by now
    }
    bool Ended(WorkerThread* t) { return ::WaitForSingleObject(t->handle.Get(), 0) == WAIT_OBJECT_0; }

    FakeWorkers fake;
};

TEST_F(CloseTest, StopsWorkersBlockedInSynchronizeAndInListCallsCpuFirstThenSaves) {
    Build();
    StartFakeWorkers();
    EXPECT_EQ(fake.syncRuns, 0);

    const DWORD start = ::GetTickCount();
    ::SendMessageA(form.Form->window, WM_CLOSE, 0, 0);
    EXPECT_LT(::GetTickCount() - start, 10000u);  // no deadlock

    EXPECT_TRUE(Ended(form.CpuUsageThread));
    EXPECT_TRUE(Ended(form.RefreshThread));
    EXPECT_EQ(fake.cpuEnded, 1);
    EXPECT_EQ(fake.refreshEnded, 2);
    // The call pending when the stop came was answered without running.
    EXPECT_EQ(fake.syncRuns, 0);
    EXPECT_EQ(testing::g_settings.saves, 1);
    EXPECT_TRUE(testing::g_settings.workersEndedAtSave);
    EXPECT_FALSE(form.refresh.RefreshEnabled.load());
    EXPECT_TRUE(TerminateRequested(app));

    // No worker takes another step.
    const int cpuSteps = fake.cpuSteps, refreshSteps = fake.refreshSteps;
    PumpFor(300);
    EXPECT_EQ(fake.cpuSteps, cpuSteps);
    EXPECT_EQ(fake.refreshSteps, refreshSteps);
}

TEST_F(CloseTest, EveryClosePathRunsTheHandlerOnce) {
    Build();
    StartFakeWorkers();
    // A close posted by another program arrives through the message queue.
    ::PostMessageA(form.Form->window, WM_CLOSE, 0, 0);
    ASSERT_TRUE(PumpUntil([] { return testing::g_settings.saves > 0; }));
    EXPECT_TRUE(Ended(form.CpuUsageThread));
    EXPECT_TRUE(Ended(form.RefreshThread));

    ::SendMessageA(form.Form->window, WM_CLOSE, 0, 0);
    EXPECT_EQ(::SendMessageA(form.Form->window, WM_QUERYENDSESSION, 0, 0), TRUE);
    ::SendMessageA(form.Form->window, WM_ENDSESSION, TRUE, 0);
    Pump();
    EXPECT_EQ(testing::g_settings.saves, 1);
}

TEST_F(CloseTest, SessionEndStopsTheWorkersAndSaves) {
    Build();
    StartFakeWorkers();
    EXPECT_EQ(::SendMessageA(form.Form->window, WM_QUERYENDSESSION, 0, 0), TRUE);
    ::SendMessageA(form.Form->window, WM_ENDSESSION, FALSE, 0);  // the session goes on
    EXPECT_EQ(testing::g_settings.saves, 0);
    EXPECT_FALSE(Ended(form.CpuUsageThread));

    ::SendMessageA(form.Form->window, WM_ENDSESSION, TRUE, 0);
    EXPECT_EQ(testing::g_settings.saves, 1);
    EXPECT_TRUE(testing::g_settings.workersEndedAtSave);
    EXPECT_EQ(fake.cpuEnded, 1);
    EXPECT_EQ(fake.refreshEnded, 2);
    EXPECT_TRUE(TerminateRequested(app));

    ::SendMessageA(form.Form->window, WM_CLOSE, 0, 0);
    EXPECT_EQ(testing::g_settings.saves, 1);
}

TEST_F(CloseTest, DestroyWithoutACloseStopsTheWorkersBeforeReleasingTheirLists) {
    Build();
    StartFakeWorkers();
    Destroy(app);
    app = nullptr;
    EXPECT_GT(fake.cpuEnded, 0);
    EXPECT_GT(fake.refreshEnded, 0);
    EXPECT_EQ(form.refresh.PreviousSample.pids, nullptr);
    EXPECT_EQ(form.refresh.CurrentSample.pids, nullptr);
    EXPECT_EQ(fake.listGone, 0);
    EXPECT_EQ(testing::g_settings.saves, 0);
}

// Writes both labels the way the real workers do, then reports done.
UniqueHandle* g_labelsWritten = nullptr;

std::uint32_t LabelWriterBody(MainForm& f, WorkerThread* t) {
    f.usage.MemLoadText = "57%";
    f.usage.CpuUsage = 36.5;  // a load of exactly 36: the half goes to the even 36
    Synchronize(t, MakeThreadMethod<&UpdateStatusLine>(f));
    f.usage.CpuUsage = -1.0;  // not shown: the line stays
    Synchronize(t, MakeThreadMethod<&UpdateStatusLine>(f));
    f.refresh.ProcessRowCount = 57;
    Synchronize(t, MakeThreadMethod<&ShowCounts>(f));
    ::SetEvent(g_labelsWritten->Get());
    return 0;
}

TEST_F(MainFormTest, WorkersWriteTheStatusLineAndTheCountsThroughSynchronize) {
    Build();
    UniqueHandle done(::CreateEventA(nullptr, TRUE, FALSE, nullptr));
    g_labelsWritten = &done;
    form.CpuUsageThread->onExecute = MakeExecute<&LabelWriterBody>(form);
    Resume(form.CpuUsageThread);
    EXPECT_TRUE(PumpUntil([&] { return ::WaitForSingleObject(done.Get(), 0) == WAIT_OBJECT_0; }));
    EXPECT_EQ(Caption(form.lblCpuUsage), "Mem: 57%  CPU: 36%");
    EXPECT_EQ(form.usage.CpuText, "36%");
    EXPECT_EQ(Caption(form.lblTask), "Counts: 57");
    g_labelsWritten = nullptr;
}

std::string WindowText(HWND window) {
    char buffer[256] = {};
    ::GetWindowTextA(window, buffer, sizeof buffer);
    return buffer;
}

TEST_F(MainFormTest, RealWorkersFillTheWindowAndStopPromptlyOnClose) {
    options.startWorkers = true;
    Build(TestModeFile::File);
    const std::regex status(R"(Mem: \d{1,3}%  CPU: \d{2,3}%)");
    const std::regex counts(R"(Counts: [1-9]\d*)");
    const bool filled = PumpUntil(
        [&] {
            return ItemCount(form.lvProcesses) > 0 && std::regex_match(WindowText(form.lblTask->window), counts) &&
                   std::regex_match(WindowText(form.lblCpuUsage->window), status);
        },
        20000);
    EXPECT_TRUE(filled) << WindowText(form.lblTask->window) << " / " << WindowText(form.lblCpuUsage->window);

    const DWORD start = ::GetTickCount();
    ::SendMessageA(form.Form->window, WM_CLOSE, 0, 0);
    EXPECT_LT(::GetTickCount() - start, 5000u);
    EXPECT_EQ(::WaitForSingleObject(form.CpuUsageThread->handle.Get(), 0), WAIT_OBJECT_0);
    EXPECT_EQ(::WaitForSingleObject(form.RefreshThread->handle.Get(), 0), WAIT_OBJECT_0);
    EXPECT_EQ(testing::g_settings.saves, 1);
}

}  // namespace
}  // namespace pelorin
