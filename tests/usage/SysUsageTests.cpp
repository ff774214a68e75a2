// The usage monitor: the rounding of the processor figure, the status line
// and its guards, the memory and counts texts, and the sampler driven by a
// query function with scripted readings (and once by the real ntdll) in a
// real worker thread with an application object.
#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "controls/LayerTestSupport.h"
#include "controls/WorkerThread.h"
#include "usage/SysUsage.h"

namespace pelorin {
namespace {

using testing::LayerTest;
using testing::PumpUntil;

std::string Figure(double cpuUsage) {
    std::string text = "<none>";
    CpuLoadText(cpuUsage, text);
    return text;
}

TEST(CpuFigure, RoundsHalvesToEvenAfterTheAddedHalf) {
    // ComputeLoad adds 0.5 to the load before the rounding.
    EXPECT_EQ(Figure(ComputeLoad(0.996, 1.0, 1)), "01%");  // 0.4 % load
    EXPECT_EQ(Figure(ComputeLoad(1.0, 1.0, 1)), "00%");    // exactly 0: 0.5 goes to 0
    EXPECT_EQ(Figure(ComputeLoad(3.0, 1.0, 4)), "26%");    // 4 processors: 25.5 goes to 26
    EXPECT_EQ(Figure(ComputeLoad(0.64, 1.0, 1)), "36%");   // exactly 36: 36.5 goes to 36
    EXPECT_EQ(Figure(ComputeLoad(0.63, 1.0, 1)), "38%");   // exactly 37: 37.5 goes to 38
    EXPECT_EQ(Figure(37.7), "38%");
    EXPECT_EQ(Figure(100.5), "100%");
    EXPECT_EQ(Figure(101.2), "101%");
    EXPECT_EQ(Figure(5.2), "05%");
    EXPECT_EQ(Figure(-0.9), "-1%");
}

TEST(CpuFigure, NothingForMinusOneOrLessOrANonFiniteValue) {
    for (double value : {-1.0, -7.0, std::numeric_limits<double>::quiet_NaN(),
                         std::numeric_limits<double>::infinity(), -std::numeric_limits<double>::infinity()}) {
        std::string text = "kept";
        EXPECT_FALSE(CpuLoadText(value, text)) << value;
        EXPECT_EQ(text, "kept");
    }
}

TEST(StatusLine, FirstLineHasNoMemoryFigureThenItHasOne) {
    SysUsageState state;
    state.CpuUsage = 7.4;
    std::string line;
    ASSERT_TRUE(StatusLineText(state, line));
    EXPECT_EQ(line, "Mem:   CPU: 07%");
    EXPECT_EQ(state.CpuText, "07%");

    state.MemLoadText = MemoryLoadText(57);
    state.CpuUsage = 100.5;
    ASSERT_TRUE(StatusLineText(state, line));
    EXPECT_EQ(line, "Mem: 57%  CPU: 100%");
    EXPECT_EQ(state.CpuText, "100%");

    // The label keeps its line, CpuText its figure.
    state.CpuUsage = std::numeric_limits<double>::quiet_NaN();
    EXPECT_FALSE(StatusLineText(state, line));
    state.CpuUsage = -1.0;
    EXPECT_FALSE(StatusLineText(state, line));
    EXPECT_EQ(line, "Mem: 57%  CPU: 100%");
    EXPECT_EQ(state.CpuText, "100%");
}

TEST(StatusLine, MemoryAndCountsTexts) {
    SysUsageState state;
    state.CpuUsage = 0.5;
    std::string line;
    state.MemLoadText = MemoryLoadText(100);
    ASSERT_TRUE(StatusLineText(state, line));
    EXPECT_EQ(line, "Mem: 100%  CPU: 00%");
    state.MemLoadText = MemoryLoadText(0);
    ASSERT_TRUE(StatusLineText(state, line));
    EXPECT_EQ(line, "Mem: 0%  CPU: 00%");
    EXPECT_EQ(MemoryLoadText(7), "7%");

    ReadMemoryLoad(state);
    MEMORYSTATUS status{};
    status.dwLength = sizeof status;
    ::GlobalMemoryStatus(&status);
    EXPECT_LE(status.dwMemoryLoad, 100u);
    EXPECT_EQ(state.MemLoadText.back(), '%');
    EXPECT_LE(state.MemLoadText.size(), 4u);

    EXPECT_EQ(CountsText(57), "Counts: 57");
    EXPECT_EQ(CountsText(0), "Counts: 0");
}

// Scripted answers of NtQuerySystemInformation: one (CurrentTime, idle time)
// pair per pass; after the last pass the time-of-day query fails.
struct QueryScript {
    std::vector<std::pair<std::int64_t, std::int64_t>> passes;
    std::size_t next = 0;
    std::uint8_t processors = 1;
    LONG basicStatus = 0;
    std::atomic<int> wrongLengths{0};
    std::vector<ULONG> classes;
};
QueryScript* g_script = nullptr;

constexpr LONG kUnsuccessful = static_cast<LONG>(0xC0000001);

LONG WINAPI ScriptedQuery(ULONG infoClass, void* buffer, ULONG length, ULONG* returned) {
    QueryScript& s = *g_script;
    s.classes.push_back(infoClass);
    auto* bytes = static_cast<unsigned char*>(buffer);
    if (returned != nullptr) ++s.wrongLengths;
    switch (infoClass) {
        case 0:
            if (length != 44) ++s.wrongLengths;
            bytes[40] = s.processors;
            return s.basicStatus;
        case 3:
            if (length != 32) ++s.wrongLengths;
            if (s.next >= s.passes.size()) return kUnsuccessful;
            std::memcpy(bytes + 8, &s.passes[s.next].first, 8);
            return 0;
        case 2:
            if (length != 312) ++s.wrongLengths;
            std::memcpy(bytes, &s.passes[s.next].second, 8);
            ++s.next;
            return 0;
        default:
            return kUnsuccessful;
    }
}

class ScriptedSampler : public ::testing::Test {
protected:
    void SetUp() override {
        g_script = &script;
        state.query = &ScriptedQuery;
        state.periodMs = 5;
    }
    void TearDown() override { g_script = nullptr; }
    QueryScript script;
    SysUsageState state;
};

TEST_F(ScriptedSampler, FirstPassIsTheBaseThenEachPassComputes) {
    state.processorCount = 2;
    script.passes = {{1000000, 400000}, {11000000, 13400000}, {11000000, 14400000}, {21000000, 14400000}};
    EXPECT_EQ(TakeSample(state), SampleResult::Base);
    EXPECT_EQ(state.PrevIdleTime, 400000);
    EXPECT_EQ(state.PrevSystemTime, 1000000);

    // Both processors idle 13 of 20 units: 100 − 130 ÷ 2 + 0.5.
    ASSERT_EQ(TakeSample(state), SampleResult::Computed);
    EXPECT_DOUBLE_EQ(state.CpuUsage, 35.5);

    // No system time passed: the old figure stays.
    EXPECT_EQ(TakeSample(state), SampleResult::Unusable);
    EXPECT_DOUBLE_EQ(state.CpuUsage, 35.5);
    ASSERT_EQ(TakeSample(state), SampleResult::Computed);
    EXPECT_DOUBLE_EQ(state.CpuUsage, 100.5);

    EXPECT_EQ(TakeSample(state), SampleResult::Failed);
    EXPECT_EQ(script.wrongLengths.load(), 0);
    EXPECT_EQ(script.classes, (std::vector<ULONG>{3, 2, 3, 2, 3, 2, 3, 2, 3}));
}

TEST_F(ScriptedSampler, ClockGoingBackIsNotShown) {
    state.processorCount = 1;
    script.passes = {{50000000, 100}, {40000000, 200}};
    EXPECT_EQ(TakeSample(state), SampleResult::Base);
    state.CpuUsage = 12.0;
    EXPECT_EQ(TakeSample(state), SampleResult::Unusable);
    EXPECT_DOUBLE_EQ(state.CpuUsage, 12.0);
}

// The main form's side: the line composed on the interface thread.
struct StatusLog {
    SysUsageState* state = nullptr;
    std::vector<std::string> lines;
    std::atomic<int> calls{0};
    DWORD interfaceThread = ::GetCurrentThreadId();
    std::atomic<int> wrongThread{0};
};

void UpdateStatusLine(StatusLog& log, WorkerThread*) {
    ++log.calls;
    if (::GetCurrentThreadId() != log.interfaceThread) ++log.wrongThread;
    std::string line;
    if (StatusLineText(*log.state, line)) log.lines.push_back(line);
}

struct SamplerContext {
    SysUsageState* state = nullptr;
    StatusLog* log = nullptr;
};

std::uint32_t SamplerBody(SamplerContext& c, WorkerThread* thread) {
    return SamplerLoop(*c.state, thread, MakeThreadMethod<&UpdateStatusLine>(*c.log));
}

// "Mem: " + 1 to 3 digits + "%  CPU: " + cpu.
bool HasMemoryFigure(const std::string& line, const std::string& cpu) {
    const std::string head = "Mem: ";
    const std::string tail = "%  CPU: " + cpu;
    if (line.size() <= head.size() + tail.size() || line.rfind(head, 0) != 0) return false;
    if (line.compare(line.size() - tail.size(), tail.size(), tail) != 0) return false;
    const std::string digits = line.substr(head.size(), line.size() - head.size() - tail.size());
    return digits.size() <= 3 && digits.find_first_not_of("0123456789") == std::string::npos;
}

class SamplerThreadTest : public LayerTest {
protected:
    void SetUp() override {
        LayerTest::SetUp();
        g_script = &script;
        state.periodMs = 5;
        log.state = &state;
        context = {&state, &log};
        thread = CreateWorkerThread();
        thread->onExecute = MakeExecute<&SamplerBody>(context);
    }
    void TearDown() override {
        StopAndWait(thread);
        Destroy(thread);
        g_script = nullptr;
        LayerTest::TearDown();
    }
    bool RunUntilEnded() {
        Resume(thread);
        return PumpUntil([&] { return Terminated(thread); }, 20000);
    }

    QueryScript script;
    SysUsageState state;
    StatusLog log;
    SamplerContext context;
    WorkerThread* thread = nullptr;
};

TEST_F(SamplerThreadTest, ScriptedPassesWriteTheLinesThenAFailingQueryEndsIt) {
    state.query = &ScriptedQuery;
    script.processors = 4;
    // Idle: 3 system deltas (25.5: 26%), then 2 (50.5: 50%), then no time
    // passed, then 3.984 (0.9: 01%).
    script.passes = {{10000000, 1}, {20000000, 30000001}, {30000000, 50000001}, {30000000, 50000001},
                     {40000000, 89840001}};
    ASSERT_TRUE(RunUntilEnded());
    EXPECT_EQ(script.next, script.passes.size());
    EXPECT_EQ(state.processorCount, 4);
    ASSERT_EQ(log.lines.size(), 3u);
    EXPECT_EQ(log.lines[0], "Mem:   CPU: 26%");
    // The memory figure read one pass earlier (the machine's, so only its form is known).
    EXPECT_TRUE(HasMemoryFigure(log.lines[1], "50%")) << log.lines[1];
    EXPECT_TRUE(HasMemoryFigure(log.lines[2], "01%")) << log.lines[2];
    EXPECT_EQ(log.calls.load(), 3);  // the pass without system time wrote nothing
    EXPECT_EQ(log.wrongThread.load(), 0);
}

TEST_F(SamplerThreadTest, FailingBasicQueryEndsItAtOnce) {
    state.query = &ScriptedQuery;
    script.basicStatus = kUnsuccessful;
    script.passes = {{1, 1}, {2, 2}};
    ASSERT_TRUE(RunUntilEnded());
    EXPECT_EQ(script.classes, (std::vector<ULONG>{0}));
    EXPECT_EQ(log.calls.load(), 0);
}

TEST_F(SamplerThreadTest, MissingQueryFunctionEndsItSilently) {
    state.queryModule = "kernel32.dll";  // loaded, but has no such export
    ASSERT_TRUE(RunUntilEnded());
    EXPECT_EQ(state.query, nullptr);
    EXPECT_EQ(log.calls.load(), 0);
    EXPECT_EQ(state.MemLoadText, "");
}

TEST_F(SamplerThreadTest, RealNtdllGivesAPlausibleFigureUntilStopped) {
    state.periodMs = 100;
    Resume(thread);
    ASSERT_TRUE(PumpUntil([&] { return log.lines.size() >= 2; }, 20000));
    StopAndWait(thread);
    EXPECT_TRUE(Terminated(thread));
    EXPECT_NE(state.query, nullptr);
    EXPECT_GE(state.processorCount, 1);
    const std::string& last = log.lines.back();
    ASSERT_EQ(last.rfind("Mem: ", 0), 0u) << last;
    const std::size_t cpu = last.find("  CPU: ");
    ASSERT_NE(cpu, std::string::npos) << last;
    const int figure = std::atoi(last.c_str() + cpu + 7);
    EXPECT_GE(figure, 0) << last;
    EXPECT_LE(figure, 101) << last;
    EXPECT_EQ(last.back(), '%');
}

}  // namespace
}  // namespace pelorin
