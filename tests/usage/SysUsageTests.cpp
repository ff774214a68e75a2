#include "usage/SysUsage.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <regex>
#include <string>
#include <vector>

#include "common/TestSupport.h"
#include "controls/AppObject.h"

namespace pelorin {
namespace {

TEST(StatusLine, Table) {
    // ComputeLoad adds 0.5 before the rounding, which sends halves to even.
    const struct { double cpuUsage; std::string memory; const char* line; } cases[] = {
        {ComputeLoad(0.996, 1, 1), "", "Mem:   CPU: 01%"},  // 0.4 %; the first line has no memory figure
        {ComputeLoad(1, 1, 1), "", "Mem:   CPU: 00%"},      // exactly 0
        {ComputeLoad(3, 1, 4), "", "Mem:   CPU: 26%"},      // 4 processors idle for 3 deltas
        {ComputeLoad(0.64, 1, 1), MemoryLoadText(0), "Mem: 0%  CPU: 36%"},
        {ComputeLoad(0.63, 1, 1), MemoryLoadText(7), "Mem: 7%  CPU: 38%"},
        {100.5, MemoryLoadText(100), "Mem: 100%  CPU: 100%"}, {101.2, "", "Mem:   CPU: 101%"},
        {-0.9, "", "Mem:   CPU: -1%"}, {-1.0, "", nullptr}, {std::nan(""), "", nullptr}, {INFINITY, "", nullptr},
    };
    for (const auto& c : cases) {
        SysUsageState state;
        state.CpuUsage = c.cpuUsage;
        state.MemLoadText = c.memory;
        std::string line = "kept";  // a line that is not written stays as it was
        EXPECT_EQ(StatusLineText(state, line), c.line != nullptr) << c.cpuUsage;
        EXPECT_EQ(line, c.line ? c.line : "kept") << c.cpuUsage;
    }
    EXPECT_EQ(CountsText(57), "Counts: 57");
    EXPECT_EQ(CountsText(0), "Counts: 0");
}

// The sampler in a worker thread against scripted NtQuerySystemInformation
// readings, one (CurrentTime, idle time) pair per pass, then a failing query:
// idle for 3 system deltas (26%), 2 (50.5: 50%), no time (keeps the line), 3.984 (01%).
struct Script {
    std::vector<std::pair<std::int64_t, std::int64_t>> passes = {
        {10000000, 1}, {20000000, 30000001}, {30000000, 50000001}, {30000000, 50000001}, {40000000, 89840001}};
    LONG basicStatus = 0;
    std::size_t next = 0;
    SysUsageState state;
    std::vector<std::string> lines;
} *g_script = nullptr;

LONG WINAPI ScriptedQuery(ULONG infoClass, void* buffer, ULONG, ULONG*) {
    Script& s = *g_script;
    auto* bytes = static_cast<unsigned char*>(buffer);
    if (infoClass == 0) { bytes[40] = 4; return s.basicStatus; }  // 4 processors
    if (s.next >= s.passes.size()) return static_cast<LONG>(0xC0000001);
    if (infoClass == 3) std::memcpy(bytes + 8, &s.passes[s.next].first, 8);
    if (infoClass == 2) std::memcpy(bytes, &s.passes[s.next++].second, 8);
    return 0;
}

void UpdateStatusLine(Script& s, WorkerThread*) {
    if (std::string line; StatusLineText(s.state, line)) s.lines.push_back(line);
}

std::uint32_t SamplerBody(Script& s, WorkerThread* thread) {
    return SamplerLoop(s.state, thread, MakeThreadMethod<&UpdateStatusLine>(s));
}

TEST(Sampler, ScriptedRuns) {
    const std::string mem = R"(Mem: \d{1,3}%  CPU: )";
    const struct {
        const char* what;
        SystemQueryFunction query;
        LONG basic;
        std::vector<std::string> lines;
    } cases[] = {
        {"readings", &ScriptedQuery, 0, {"Mem:   CPU: 26%", mem + "50%", mem + "01%"}},
        {"failing basic query", &ScriptedQuery, static_cast<LONG>(0xC0000001), {}},
        {"no NtQuerySystemInformation", nullptr, 0, {}},
    };
    for (const auto& c : cases) {
        Script script;
        script.basicStatus = c.basic;
        script.state.query = c.query;
        script.state.queryModule = "kernel32.dll";  // loaded, without that export
        script.state.periodMs = 5;
        g_script = &script;
        Control* app = CreateAppObject("usage tests");  // serves Synchronize
        WorkerThread* thread = CreateWorkerThread();
        thread->onExecute = MakeExecute<&SamplerBody>(script);
        Resume(thread);
        EXPECT_TRUE(test::WaitUntil([&] { return Terminated(thread); }, 10000)) << c.what << ": it must end by itself";
        Destroy(thread);
        Destroy(app);
        ASSERT_EQ(script.lines.size(), c.lines.size()) << c.what;
        for (std::size_t i = 0; i < c.lines.size(); ++i) {
            EXPECT_TRUE(std::regex_match(script.lines[i], std::regex(c.lines[i]))) << c.what << ": " << script.lines[i];
        }
    }
    g_script = nullptr;
}

}  // namespace
}  // namespace pelorin
