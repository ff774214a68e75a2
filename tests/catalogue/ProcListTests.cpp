// The list refresh against a real list view on the virtual display, fed by a
// process source with controlled readings: the exact cells, the processor
// figures and their limits, reused PIDs, known and pseudo processes, version
// strings, the selection and the top row across a rebuild, the refresh gate
// and the stop. One test reads the real platform with a child process.
#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "catalogue/FakeProcessSource.h"
#include "catalogue/ProcList.h"
#include "catalogue/ProcessSnapshot.h"
#include "controls/Button.h"
#include "controls/LayerTestSupport.h"
#include "controls/ListView.h"
#include "controls/WorkerThread.h"
#include "fixtures/ChildProcess.h"
#include "fixtures/Watchdog.h"
#include "support/FastStrings.h"

namespace pelorin {
namespace {

using fixtures::Watchdog;
using testing::FakeProcess;
using testing::FakeProcessSource;
using testing::LayerTest;
using testing::Pump;
using testing::PumpUntil;

// 20 ms of kernel time and 30 ms of user time, in 100 ns units.
constexpr std::uint64_t kFiftyMs = 500000;

class ProcListTest : public LayerTest {
protected:
    void SetUp() override {
        LayerTest::SetUp();
        // Real windows, shown only where drawing matters (a shown form costs
        // seconds to tear down under Wine).
        Handle(form);
        list = CreateListView(form, 3, kListGridLines | kListFullRowSelect);
        SetPosition(list, 0, 24);
        SetSize(list, 400, 200);
        Handle(list);
        const char* titles[] = {"Process Name", "PID", "Mem", "CPU", "Image Path", "Description", "Company"};
        for (const char* title : titles) AddColumn(list, title, 0, 50);
        showKnown = CreateCheckBox(form, "Show Known Processes");
        moreInfo = CreateCheckBox(form, "More Info");
        noRefresh = CreateCheckBox(form, "No Refresh");
        SetPosition(moreInfo, 150, 0);
        SetPosition(noRefresh, 250, 0);
        for (Control* box : {showKnown, moreInfo, noRefresh}) {
            SetSize(box, 90, 20);
            Handle(box);
        }
        Pump();

        state.lvProcesses = list;
        state.chkShowKnown = showKnown;
        state.chkMoreInfo = moreInfo;
        state.chkNoRefresh = noRefresh;
        state.source = &fake;
        CreateSampleLists(state);
        state.RefreshEnabled = true;
    }
    void TearDown() override {
        ReleaseSampleLists(state);
        LayerTest::TearDown();
    }

    std::int32_t RowOf(std::uint32_t pid) {
        const std::string text = IntToText(static_cast<std::int32_t>(pid));
        for (std::int32_t i = 0; i < ItemCount(list); ++i) {
            if (GetItemText(list, i, 1) == text) return i;
        }
        return -1;
    }
    std::vector<std::string> Row(std::int32_t row) {
        std::vector<std::string> cells;
        for (std::int32_t c = 0; c < 7; ++c) cells.push_back(GetItemText(list, row, c));
        return cells;
    }
    std::vector<std::string> Names() {
        std::vector<std::string> names;
        for (std::int32_t i = 0; i < ItemCount(list); ++i) names.push_back(GetItemText(list, i, 0));
        return names;
    }
    std::string Cpu(std::uint32_t pid) {
        const std::int32_t row = RowOf(pid);
        return row < 0 ? std::string("<no row>") : GetItemText(list, row, 3);
    }
    // Advances the clock.
    void Advance(std::uint32_t ms) { fake.tick += ms; }

    Control* list = nullptr;
    Control* showKnown = nullptr;
    Control* moreInfo = nullptr;
    Control* noRefresh = nullptr;
    FakeProcessSource fake;
    ProcessListState state;
};

TEST_F(ProcListTest, FirstRefreshGivesTheExactCellsInSnapshotOrder) {
    fake.Add(0, "[System Process]");
    fake.Add(4, "System");
    auto& tool = fake.Add(1200, "App.exe", "C:\\Tools\\App.exe");
    tool.workingSet = 2539520;
    tool.kernel = 123456789;
    fake.Add(800, "Native.exe", "\\??\\C:\\x\\y.exe").workingSet = 512;
    fake.Add(900, "Rooted.exe", "\\SystemRoot\\System32\\rooted.exe");
    fake.Add(44, "Locked.exe");  // cannot be opened: working set 0, path "-"

    RefreshProcessList(state);

    ASSERT_EQ(ItemCount(list), 4);
    EXPECT_EQ(Row(0), (std::vector<std::string>{"App.exe", "1200", "2.42M", "0", "C:\\Tools\\App.exe", "--", "--"}));
    EXPECT_EQ(Row(1), (std::vector<std::string>{"Native.exe", "800", "512", "0", "C:\\x\\y.exe", "--", "--"}));
    EXPECT_EQ(Row(2)[4], GetWindowsFolder() + "\\System32\\rooted.exe");
    EXPECT_EQ(Row(3), (std::vector<std::string>{"Locked.exe", "44", "0", "0", "-", "--", "--"}));
    EXPECT_EQ(state.ProcessRowCount.load(), 4);
    // The pseudo-processes are sampled though never listed.
    EXPECT_EQ(fake.reads.load(), 6);
    EXPECT_EQ(state.PreviousSample.pids->Count(), 6);
    EXPECT_EQ(list->updateCount, 0);
}

TEST_F(ProcListTest, ProcessorShareOfOneProcessorSinceThePreviousSample) {
    auto& p = fake.Add(100, "busy.exe");
    RefreshProcessList(state);
    EXPECT_EQ(Cpu(100), "0");

    Advance(1000);
    p.kernel += 200000;  // 20 ms
    p.user += 300000;    // 30 ms
    RefreshProcessList(state);
    EXPECT_EQ(Cpu(100), "5");

    Advance(3000);
    p.kernel += 200000;
    p.user += 300000;
    RefreshProcessList(state);
    EXPECT_EQ(Cpu(100), "1.66");

    // No time used: 0; no milliseconds passed with time used: 0, not a division by zero.
    Advance(1000);
    RefreshProcessList(state);
    EXPECT_EQ(Cpu(100), "0");
    p.user += kFiftyMs;
    RefreshProcessList(state);
    EXPECT_EQ(Cpu(100), "0");
    EXPECT_EQ(ItemCount(list), 1);
}

// Each PID's share comes from its own previous sample, whatever order the
// next snapshot brings and whatever starts or ends in between.
TEST_F(ProcListTest, EachShareIsMeasuredAgainstItsOwnPidWhenTheOrderChanges) {
    for (std::uint32_t pid : {10u, 20u, 30u, 40u, 50u}) fake.Add(pid, "p.exe");
    RefreshProcessList(state);

    // Reordered, one ended (30), two new ones between the others.
    std::vector<FakeProcess> next;
    for (std::uint32_t pid : {50u, 15u, 10u, 40u, 35u, 20u}) {
        FakeProcess p;
        p.pid = pid;
        p.name = "p.exe";
        p.user = pid * 10000;  // pid ms of time: a share of pid / 10 after 1000 ms
        next.push_back(p);
    }
    fake.processes = next;
    Advance(1000);
    RefreshProcessList(state);
    EXPECT_EQ(Cpu(50), "5");
    EXPECT_EQ(Cpu(10), "1");
    EXPECT_EQ(Cpu(40), "4");
    EXPECT_EQ(Cpu(20), "2");
    EXPECT_EQ(Cpu(15), "0");  // first samples
    EXPECT_EQ(Cpu(35), "0");

    // Back in the first order: the new ones now have a previous sample too.
    std::reverse(fake.processes.begin(), fake.processes.end());
    for (FakeProcess& p : fake.processes) p.user += p.pid * 20000;
    Advance(1000);
    RefreshProcessList(state);
    for (std::uint32_t pid : {50u, 15u, 10u, 40u, 35u, 20u}) {
        EXPECT_EQ(Cpu(pid), DecimalToText(pid / 5.0)) << "pid " << pid;
    }
    EXPECT_EQ(state.PreviousSample.pids->Count(), 6);
}

TEST_F(ProcListTest, GlitchLimitIsOneHundredPerProcessorPlusTwo) {
    struct Case {
        std::uint32_t processors;
        std::uint64_t delta;  // over 1000 ms
        const char* shown;
    };
    const Case cases[] = {
        {1, 10200000, "102"},   {1, 10250000, "0"},     {1, 10199900, "101.99"}, {1, 25000000, "0"},
        {4, 25000000, "250"},   {4, 40200000, "402"},   {4, 40250000, "0"},      {16, 160000000, "1600"},
    };
    std::uint32_t pid = 1000;
    for (const Case& c : cases) {
        fake.processes.clear();
        fake.processors = c.processors;
        auto& p = fake.Add(++pid, "spin.exe");
        RefreshProcessList(state);
        Advance(1000);
        p.user += c.delta;
        RefreshProcessList(state);
        EXPECT_EQ(Cpu(pid), c.shown) << c.processors << " processors, delta " << c.delta;
    }
}

TEST_F(ProcListTest, TickAndTruncatedTimesWrapWithoutHarm) {
    fake.tick = 0xFFFFFE00u;
    auto& p = fake.Add(300, "wrap.exe");
    p.kernel = 0x1FFFF0000ull;  // low 32 bits close to the top
    p.user = 0x2FFFFFFF0ull;
    RefreshProcessList(state);

    Advance(1000);  // the tick wraps through 0
    p.kernel += 200000;
    p.user += 300000;
    RefreshProcessList(state);
    EXPECT_LT(fake.tick, 1000u);
    EXPECT_EQ(Cpu(300), "5");
}

TEST_F(ProcListTest, ReusedPidOrShrinkingTimesShowZero) {
    auto& p = fake.Add(500, "first.exe");
    p.kernel = 2 * kFiftyMs;
    p.creation = 111;
    RefreshProcessList(state);

    // A new process under the same PID that has already used more time: its
    // first sample is 0, never a difference against the old process (which
    // would read 5 here).
    Advance(1000);
    p.name = "second.exe";
    p.creation = 222;
    p.kernel = 3 * kFiftyMs;
    RefreshProcessList(state);
    EXPECT_EQ(Cpu(500), "0");

    Advance(1000);
    p.kernel += kFiftyMs;
    RefreshProcessList(state);
    EXPECT_EQ(Cpu(500), "5");

    // Same process, times went down: 0.
    Advance(1000);
    p.kernel -= 3 * kFiftyMs;
    RefreshProcessList(state);
    EXPECT_EQ(Cpu(500), "0");
}

TEST_F(ProcListTest, KnownProcessesOnlyWithTheBoxTicked) {
    fake.Add(0, "[System Process]");
    fake.Add(4, "System");
    fake.Add(10, "svchost.exe");
    fake.Add(11, "SVCHOST.EXE");
    fake.Add(12, "Systemd.exe");

    RefreshProcessList(state);
    EXPECT_EQ(Names(), (std::vector<std::string>{"SVCHOST.EXE", "Systemd.exe"}));
    // A hidden known process is not even read.
    for (std::uint32_t pid : fake.readPids) EXPECT_NE(pid, 10u);

    SetChecked(showKnown, true);
    RefreshProcessList(state);
    EXPECT_EQ(Names(), (std::vector<std::string>{"svchost.exe", "SVCHOST.EXE", "Systemd.exe"}));
    EXPECT_EQ(state.ProcessRowCount.load(), 3);
}

TEST_F(ProcListTest, MoreInfoReadsVersionStringsOfTheRawPath) {
    fake.Add(20, "plain.exe", "C:\\a\\plain.exe");
    fake.Add(21, "native.exe", "\\??\\C:\\b\\native.exe");
    fake.Add(22, "hidden.exe");  // image path "-"

    RefreshProcessList(state);
    for (std::int32_t i = 0; i < 3; ++i) {
        EXPECT_EQ(GetItemText(list, i, 5), "--");
        EXPECT_EQ(GetItemText(list, i, 6), "--");
    }
    EXPECT_EQ(fake.versionReads.load(), 0);

    SetChecked(moreInfo, true);
    RefreshProcessList(state);
    EXPECT_EQ(GetItemText(list, 0, 5), fake.versionText);
    EXPECT_EQ(GetItemText(list, 1, 6), fake.versionText);
    EXPECT_EQ(GetItemText(list, 1, 4), "C:\\b\\native.exe");
    // Empty cells for "-", and no file named "-" is ever looked at.
    EXPECT_EQ(GetItemText(list, 2, 5), "");
    EXPECT_EQ(GetItemText(list, 2, 6), "");
    EXPECT_EQ(fake.versionPaths,
              (std::vector<std::string>{"C:\\a\\plain.exe", "C:\\a\\plain.exe", "\\??\\C:\\b\\native.exe",
                                        "\\??\\C:\\b\\native.exe"}));
}

TEST_F(ProcListTest, RealVersionStringsOfAnImageFile) {
    fake.realVersions = true;
    fake.Add(30, "fixture.exe", fixtures::FixturePath("pelorin_fixture_known.dll"));
    fake.Add(31, "noversion.exe", fixtures::FixturePath("pelorin_fixture_noversion.dll"));
    SetChecked(moreInfo, true);
    RefreshProcessList(state);
    EXPECT_EQ(Row(0)[5], "Pelorin Fixture Module");
    EXPECT_EQ(Row(0)[6], "Marrowby Test Works");
    EXPECT_EQ(Row(1)[5], "");
    EXPECT_EQ(Row(1)[6], "");
}

TEST_F(ProcListTest, SelectionFollowsThePidAndIsLostWhenItEnds) {
    for (std::uint32_t pid = 40; pid < 45; ++pid) fake.Add(pid, "p" + std::to_string(pid) + ".exe");
    state.SelectedPid = 43;
    RefreshProcessList(state);
    EXPECT_EQ(CurrentIndex(list), 3);

    // Another process starts before it: the row moves, the selection follows.
    fake.processes.insert(fake.processes.begin(), testing::FakeProcess{39, "new.exe"});
    RefreshProcessList(state);
    EXPECT_EQ(CurrentIndex(list), 4);
    EXPECT_EQ(GetItemText(list, 4, 1), "43");

    fake.processes.erase(fake.processes.begin() + 4);
    RefreshProcessList(state);
    EXPECT_EQ(RowOf(43), -1);
    EXPECT_EQ(CurrentIndex(list), -1);
    EXPECT_EQ(state.SelectedPid.load(), 43u);

    // Found again when a process gets that PID.
    fake.Add(43, "again.exe");
    RefreshProcessList(state);
    EXPECT_EQ(CurrentIndex(list), RowOf(43));
}

// Records the messages of the rebuild that decide whether an empty list can
// show: the list keeps its rows itself, the platform learns their number.
struct RebuildSpy {
    static inline WNDPROC previous = nullptr;
    static inline std::vector<char>* log = nullptr;
    static inline WPARAM count = 0;
    static LRESULT CALLBACK Proc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) noexcept {
        if (log != nullptr) {
            if (message == WM_SETREDRAW) log->push_back(wParam ? 'R' : 'F');
            if (message == LVM_DELETEALLITEMS) log->push_back('C');
            if (message == LVM_INSERTITEMA) log->push_back('I');
            if (message == LVM_SETITEMCOUNT) {
                log->push_back('N');
                count = wParam;
            }
        }
        return ::CallWindowProcA(previous, window, message, wParam, lParam);
    }
};

TEST_F(ProcListTest, ThePlatformListLearnsOfTheRebuildOnlyWhenAllRowsAreIn) {
    ShowForm();
    for (std::uint32_t pid = 50; pid < 53; ++pid) fake.Add(pid, "r.exe");
    RefreshProcessList(state);

    std::vector<char> log;
    const HWND window = Handle(list);
    RebuildSpy::log = &log;
    RebuildSpy::previous = reinterpret_cast<WNDPROC>(
        ::SetWindowLongPtrA(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&RebuildSpy::Proc)));
    // The same three processes: the platform's rows and count stay as they are.
    RefreshProcessList(state);
    EXPECT_EQ(std::string(log.begin(), log.end()), "");
    // A fourth: the platform learns of the rebuild once, when all four rows are in.
    fake.Add(53, "s.exe");
    RefreshProcessList(state);
    ::SetWindowLongPtrA(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(RebuildSpy::previous));
    RebuildSpy::log = nullptr;

    EXPECT_EQ(std::string(log.begin(), log.end()), "N");
    EXPECT_EQ(RebuildSpy::count, 4u);
    EXPECT_EQ(GetItemText(list, 3, 0), "s.exe");
    EXPECT_EQ(list->updateCount, 0);
}

TEST_F(ProcListTest, TopRowStaysOnTopAcrossTheRebuild) {
    ShowForm();
    for (std::uint32_t pid = 1000; pid < 1060; ++pid) fake.Add(pid, "many.exe");
    RefreshProcessList(state);
    SetTopIndex(list, 30);
    ASSERT_EQ(TopIndex(list), 30);
    const std::string topPid = GetItemText(list, 30, 1);

    // Five processes start ahead of it in the snapshot.
    for (std::uint32_t pid = 2000; pid < 2005; ++pid) {
        fake.processes.insert(fake.processes.begin(), testing::FakeProcess{pid, "early.exe"});
    }
    RefreshProcessList(state);
    EXPECT_EQ(TopIndex(list), 35);
    EXPECT_EQ(GetItemText(list, TopIndex(list), 1), topPid);

    // The top process ends: the view keeps its place instead of jumping to the start.
    fake.processes.erase(fake.processes.begin() + 35);
    RefreshProcessList(state);
    EXPECT_EQ(TopIndex(list), 35);
}

TEST_F(ProcListTest, NothingIsTouchedWhileRefreshIsDisabled) {
    fake.Add(60, "x.exe");
    InsertItem(list, 0, "kept");
    state.ProcessRowCount = 7;
    state.RefreshEnabled = false;
    RefreshProcessList(state);
    EXPECT_EQ(fake.snapshots.load(), 0);
    EXPECT_EQ(fake.reads.load(), 0);
    EXPECT_EQ(ItemCount(list), 1);
    EXPECT_EQ(GetItemText(list, 0, 0), "kept");
    EXPECT_EQ(state.ProcessRowCount.load(), 7);
    EXPECT_EQ(state.PreviousSample.pids->Count(), 0);
}

TEST_F(ProcListTest, SamplesOfEndedProcessesAreDropped) {
    // Churn: every refresh sees ten new PIDs.
    std::uint32_t next = 5000;
    for (int round = 0; round < 100; ++round) {
        fake.processes.clear();
        for (int k = 0; k < 10; ++k) fake.Add(next++, "short.exe");
        RefreshProcessList(state);
    }
    EXPECT_EQ(state.PreviousSample.pids->Count(), 10);
    EXPECT_EQ(state.PreviousSample.creations->Count(), 10);

    // A known process keeps its sample while merely hidden, and it is dropped once it ends.
    fake.processes.clear();
    auto& svc = fake.Add(70, "svchost.exe");
    fake.Add(71, "user.exe");
    SetChecked(showKnown, true);
    RefreshProcessList(state);
    SetChecked(showKnown, false);
    for (int i = 0; i < 3; ++i) RefreshProcessList(state);
    EXPECT_EQ(state.PreviousSample.pids->IndexOf("70"), 0);
    EXPECT_EQ(state.PreviousSample.pids->Count(), 2);

    Advance(2000);
    svc.user += 2 * kFiftyMs;
    SetChecked(showKnown, true);
    RefreshProcessList(state);
    EXPECT_EQ(Cpu(70), "5");  // measured since its last sample, while hidden

    fake.processes.erase(fake.processes.begin());
    RefreshProcessList(state);
    EXPECT_EQ(state.PreviousSample.pids->IndexOf("70"), -1);
    EXPECT_EQ(state.PreviousSample.pids->Count(), 1);
}

// A worker running RefreshLoop as RefreshThread does.
struct LoopContext {
    ProcessListState* state = nullptr;
    std::atomic<int> countsShown{0};
};

void ShowCounts(LoopContext& c, WorkerThread*) { ++c.countsShown; }

std::uint32_t LoopBody(LoopContext& c, WorkerThread* thread) {
    return RefreshLoop(*c.state, thread, MakeThreadMethod<&ShowCounts>(c));
}

class RefreshWorker {
public:
    explicit RefreshWorker(ProcessListState& state) {
        context.state = &state;
        thread = CreateWorkerThread();
        thread->onExecute = MakeExecute<&LoopBody>(context);
    }
    ~RefreshWorker() {
        StopAndWait(thread);
        Destroy(thread);
    }
    RefreshWorker(const RefreshWorker&) = delete;
    RefreshWorker& operator=(const RefreshWorker&) = delete;

    LoopContext context;
    WorkerThread* thread = nullptr;
};

TEST_F(ProcListTest, LoopShowsCountsAndHonoursNoRefresh) {
    fake.Add(80, "a.exe", "C:\\a.exe").workingSet = 1536;
    fake.Add(81, "b.exe");
    state.periodMs = 10;
    SetChecked(noRefresh, true);
    Watchdog watchdog(60000, "the refresh");
    RefreshWorker worker(state);
    Resume(worker.thread);

    ASSERT_TRUE(PumpUntil([&] { return worker.context.countsShown.load() >= 3; }));
    EXPECT_EQ(fake.snapshots.load(), 0);
    EXPECT_EQ(ItemCount(list), 0);

    SetChecked(noRefresh, false);
    ASSERT_TRUE(PumpUntil([&] { return fake.snapshots.load() >= 2 && ItemCount(list) == 2; }));
    EXPECT_GT(fake.foreignSnapshots.load(), 0);
    StopAndWait(worker.thread);
    EXPECT_EQ(Row(0), (std::vector<std::string>{"a.exe", "80", "1.5K", "0", "C:\\a.exe", "--", "--"}));
    EXPECT_EQ(state.ProcessRowCount.load(), 2);
    EXPECT_EQ(list->updateCount, 0);
}

TEST_F(ProcListTest, RefreshOnTheInterfaceThreadNeverOverlapsTheWorker) {
    for (std::uint32_t pid = 90; pid < 110; ++pid) fake.Add(pid, "gate.exe", "C:\\gate.exe");
    fake.trackOverlap = true;
    // Slow readings widen the window in which two refreshes could meet.
    fake.onRead = [](std::uint32_t) { ::Sleep(1); };
    state.periodMs = 0;  // the worker refreshes continuously
    SetChecked(moreInfo, true);
    fake.versionText = "v";

    Watchdog watchdog(120000, "the refresh");
    RefreshWorker worker(state);
    Resume(worker.thread);
    ASSERT_TRUE(PumpUntil([&] { return fake.foreignSnapshots.load() >= 1; }));

    const int mainRefreshes = 40;
    for (int i = 0; i < mainRefreshes; ++i) {
        RefreshProcessList(state);
        Pump();
    }
    const int workerRefreshes = fake.foreignSnapshots.load();
    StopAndWait(worker.thread);

    EXPECT_EQ(fake.overlaps.load(), 0);
    EXPECT_EQ(fake.snapshots.load() - fake.foreignSnapshots.load(), mainRefreshes);
    EXPECT_GE(workerRefreshes, 2);
    EXPECT_EQ(ItemCount(list), 20);
    EXPECT_EQ(GetItemText(list, 19, 5), "v");
    EXPECT_EQ(list->updateCount, 0);
}

TEST_F(ProcListTest, StopMidRefreshEndsItWithoutTouchingTheList) {
    fake.Add(1, "before.exe");
    RefreshProcessList(state);
    ASSERT_EQ(ItemCount(list), 1);

    fake.processes.clear();
    for (std::uint32_t pid = 200; pid < 210; ++pid) fake.Add(pid, "after.exe");
    UniqueHandle inside(::CreateEventA(nullptr, TRUE, FALSE, nullptr));
    UniqueHandle release(::CreateEventA(nullptr, TRUE, FALSE, nullptr));
    fake.onRead = [&](std::uint32_t pid) {
        if (pid == 204) {
            ::SetEvent(inside.Get());
            ::WaitForSingleObject(release.Get(), 10000);
        }
    };

    Watchdog watchdog(60000, "the refresh");
    RefreshWorker worker(state);
    Resume(worker.thread);
    ASSERT_TRUE(PumpUntil([&] { return ::WaitForSingleObject(inside.Get(), 0) == WAIT_OBJECT_0; }));
    const int readsAtStop = fake.reads.load();
    RequestStop(worker.thread);
    ::SetEvent(release.Get());
    StopAndWait(worker.thread);

    EXPECT_EQ(fake.reads.load(), readsAtStop);  // no reading after the stop
    EXPECT_EQ(Names(), (std::vector<std::string>{"before.exe"}));
    EXPECT_EQ(state.ProcessRowCount.load(), 1);
    EXPECT_EQ(list->updateCount, 0);

    // The gate was given back: the next refresh goes through.
    fake.onRead = nullptr;
    RefreshProcessList(state);
    EXPECT_EQ(ItemCount(list), 10);
}

TEST_F(ProcListTest, ARefreshWaitingForTheGateDoesNothingOnceRefreshingIsTurnedOff) {
    fake.Add(1, "before.exe");
    RefreshProcessList(state);
    ASSERT_EQ(ItemCount(list), 1);
    const int mainSnapshots = fake.snapshots.load();

    // The worker is held inside its refresh; the interface thread then asks
    // for one of its own (as after a kill) and waits for the gate.
    UniqueHandle inside(::CreateEventA(nullptr, TRUE, FALSE, nullptr));
    UniqueHandle release(::CreateEventA(nullptr, TRUE, FALSE, nullptr));
    fake.onRead = [&](std::uint32_t) {
        ::SetEvent(inside.Get());
        ::WaitForSingleObject(release.Get(), 10000);
    };
    struct Closer {
        ProcessListState* state;
        HANDLE inside;
        HANDLE release;
        static DWORD WINAPI Run(LPVOID self) noexcept {
            auto* c = static_cast<Closer*>(self);
            ::WaitForSingleObject(c->inside, 10000);
            ::Sleep(200);  // the interface thread is in its wait by now
            c->state->RefreshEnabled = false;  // what the close does first
            ::SetEvent(c->release);
            return 0;
        }
    } closer{&state, inside.Get(), release.Get()};

    Watchdog watchdog(60000, "the refresh");
    RefreshWorker worker(state);
    Resume(worker.thread);
    UniqueHandle closing(::CreateThread(nullptr, 0, &Closer::Run, &closer, 0, nullptr));
    ASSERT_TRUE(PumpUntil([&] { return ::WaitForSingleObject(inside.Get(), 0) == WAIT_OBJECT_0; }));
    RefreshProcessList(state);
    ::WaitForSingleObject(closing.Get(), INFINITE);
    StopAndWait(worker.thread);

    // The worker finished the refresh it was in; the waiting one took no snapshot.
    EXPECT_EQ(fake.snapshots.load() - fake.foreignSnapshots.load(), mainSnapshots);
    EXPECT_GE(fake.foreignSnapshots.load(), 1);
    EXPECT_EQ(list->updateCount, 0);
}

// The size text of a working set back in bytes (truncated decimals).
double SizeFromText(const std::string& text) {
    double value = std::atof(text.c_str());
    switch (text.empty() ? ' ' : text.back()) {
        case 'T': value *= 1024;  [[fallthrough]];
        case 'G': value *= 1024;  [[fallthrough]];
        case 'M': value *= 1024;  [[fallthrough]];
        case 'K': value *= 1024;  break;
        default: break;
    }
    return value;
}

TEST_F(ProcListTest, RealPlatformListsAChildWithItsMemoryAndPath) {
    fixtures::ChildProcess child;
    ASSERT_TRUE(child.Start("--touch-mib 64", 20000));
    state.source = state.platformSource.get();

    RefreshProcessList(state);
    const std::int32_t row = RowOf(child.Pid());
    ASSERT_GE(row, 0);
    const std::vector<std::string> cells = Row(row);
    EXPECT_EQ(cells[0], "pelorin_child.exe");
    EXPECT_GE(SizeFromText(cells[2]), 64.0 * 1024 * 1024) << cells[2];
    EXPECT_EQ(LowerCaseAscii(cells[4]), LowerCaseAscii(fixtures::FixturePath("pelorin_child.exe")));
    EXPECT_EQ(cells[5], "--");
    EXPECT_EQ(state.ProcessRowCount.load(), ItemCount(list));

    // Wine's own services are known processes: hidden, then shown.
    auto knownRows = [&] {
        int n = 0;
        for (const std::string& name : Names()) n += (name == "services.exe" || name == "svchost.exe");
        return n;
    };
    EXPECT_EQ(knownRows(), 0);
    SetChecked(showKnown, true);
    RefreshProcessList(state);
    EXPECT_GT(knownRows(), 0);
    for (const std::string& name : Names()) EXPECT_FALSE(IsSystemPseudoProcess(name)) << name;
}

}  // namespace
}  // namespace pelorin
