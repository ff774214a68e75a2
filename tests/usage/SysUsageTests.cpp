#include "usage/SysUsage.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <regex>
#include <string>

#include "common/TestSupport.h"
#include "controls/AppObject.h"

namespace pelorin {
namespace {

TEST(StatusLine, Table) {
    // ComputeLoad adds 0.5 before the rounding, which sends halves to even.
    const struct { double cpuUsage; std::string memory; const char* line; } cases[] = {
        {ComputeLoad(0.996, 1, 1), "", "Mem:   CPU: 01%"},  // 0.4 %; the first line has no memory figure
        {ComputeLoad(1, 1, 1), "", "Mem:   CPU: 00%"}, {ComputeLoad(3, 1, 4), "", "Mem:   CPU: 26%"},  // 4 processors
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
}

// The sampler in a worker thread against scripted NtQuerySystemInformation
// readings, one (CurrentTime, idle time) pair per pass, then a failing query:
// idle for 3 system deltas (26%), 2 (50.5: 50%), no time (keeps the line), 3.984 (01%).
const std::int64_t passes[][2] = {
    {10000000, 1}, {20000000, 30000001}, {30000000, 50000001}, {30000000, 50000001}, {40000000, 89840001}};
struct Script { LONG basicStatus; std::size_t next = 0; SysUsageState state{}; std::string lines{}; } *script = nullptr;

constexpr ULONG kBasicLength = sizeof(void*) == 8 ? 64 : 44, kProcessorsAt = sizeof(void*) == 8 ? 56 : 40;  // by width

LONG WINAPI ScriptedQuery(ULONG infoClass, void* buffer, ULONG length, ULONG*) {
    auto* bytes = static_cast<unsigned char*>(buffer);
    if (infoClass == 0 && length != kBasicLength) return static_cast<LONG>(0xC0000004);  // as the platform answers
    if (infoClass == 0) { bytes[kProcessorsAt] = 4; return script->basicStatus; }  // 4 processors
    if (script->next >= std::size(passes)) return static_cast<LONG>(0xC0000001);
    if (infoClass == 3) std::memcpy(bytes + 8, &passes[script->next][0], 8);
    if (infoClass == 2) std::memcpy(bytes, &passes[script->next++][1], 8);
    return 0;
}

void UpdateStatusLine(Script& s, WorkerThread*) {
    if (std::string line; StatusLineText(s.state, line)) s.lines += line + ";";
}
std::uint32_t SamplerBody(Script& s, WorkerThread* thread) {
    return SamplerLoop(s.state, thread, MakeThreadMethod<&UpdateStatusLine>(s));
}

TEST(Sampler, ScriptedRuns) {
    const struct { const char* what; SystemQueryFunction query; LONG basic; const char* lines; } cases[] = {
        {"readings", &ScriptedQuery, 0, R"(Mem:   CPU: 26%;Mem: \d{1,3}%  CPU: 50%;Mem: \d{1,3}%  CPU: 01%;)"},
        {"failing basic query", &ScriptedQuery, static_cast<LONG>(0xC0000001), ""},
        {"no NtQuerySystemInformation", nullptr, 0, ""},
    };
    for (const auto& c : cases) {
        Script run{c.basic};
        run.state.query = c.query;
        run.state.queryModule = "kernel32.dll";  // loaded, without that export
        run.state.periodMs = 5;
        script = &run;
        Control* app = CreateAppObject("usage tests");  // serves Synchronize
        WorkerThread* thread = CreateWorkerThread();
        thread->onExecute = MakeExecute<&SamplerBody>(run);
        Resume(thread);
        EXPECT_TRUE(test::WaitUntil([&] { return Terminated(thread); }, 10000)) << c.what << ": it must end by itself";
        Destroy(thread);
        Destroy(app);
        EXPECT_TRUE(std::regex_match(run.lines, std::regex(c.lines))) << c.what << ": " << run.lines;
    }
}

}  // namespace
}  // namespace pelorin
