// The real Pelorin.exe started where the last run left it and closed at
// every point of its refresh cycle, and kept under process churn.
// PELORIN_SOAK=1 makes both long (scripts/soak collects the "| " lines).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <memory>
#include <set>

#include "e2e/Driver.h"

namespace pelorin::e2e {
namespace {

constexpr DWORD kRefreshCycleMs = 1100;  // 1000 ms asleep plus the refresh

// A figure for scripts/soak's table.
#define FIGURE(name, figure, format, ...) \
    std::printf("| %s%s | %s | " format " |\n", name, test::SoakCount(0, 1) ? " (soak)" : "", figure, __VA_ARGS__), std::fflush(stdout)

TEST(StartAndClose, EveryCloseAcrossTheRefreshCycleExitsWithZeroInBoundedTimeAndSaves) {
    SettingsGuard settings;
    ClearSettings();
    const int runs = test::SoakCount(12, 200);
    DWORD slowest = 0, total = 0;
    int failed = 0;
    for (int k = 0; k < runs; ++k) {
        SCOPED_TRACE("run " + std::to_string(k));
        Pelorin pelorin;
        ASSERT_TRUE(pelorin.Start());
        const DWORD filled = ::GetTickCount();  // the first refresh has just ended
        if (k > 0) { EXPECT_EQ(PlacementOf(pelorin.Window()), SavedPlacement()) << "not where the last run left it"; }
        const Placement placed = {40 + k * 53 % 300, 30 + k * 29 % 200, 480 + k * 17 % 200, 360 + k * 13 % 150};
        ASSERT_TRUE(Place(pelorin.Window(), placed));
        const DWORD offset = static_cast<DWORD>(k) * kRefreshCycleMs / static_cast<DWORD>(runs);
        const DWORD since = ::GetTickCount() - filled;
        if (since < offset) ::Sleep(offset - since);

        const DWORD posted = ::GetTickCount();
        ASSERT_TRUE(pelorin.Close());
        const auto code = pelorin.ExitCode(kCloseLimitMs);
        const DWORD spent = ::GetTickCount() - posted;
        slowest = std::max(slowest, spent);
        total += spent;
        failed += code != kExitedWithZero || SavedPlacement() != placed;
        EXPECT_EQ(code, kExitedWithZero) << spent << " ms after WM_CLOSE";
        EXPECT_EQ(SavedPlacement(), placed);
    }
    FIGURE("start/close", "runs / failed / WM_CLOSE to exit, mean and slowest (ms)", "%d / %d / %lu, %lu", runs, failed,
           total / runs, slowest);
}

struct ChurnChild {
    DWORD ended = 0;  // when it was first seen ended, and its process let go
    std::unique_ptr<test::Child> process;
};

TEST(Churn, NoPidIsListedTwiceAndNoRowOutlivesItsProcessByMoreThanTwoRefreshes) {
    SettingsGuard settings;
    constexpr DWORD kRowLifetimeLimitMs = 2 * kRefreshCycleMs + 300;  // ends are seen between reads
    const int childCount = test::SoakCount(200, 1200);
    Pelorin pelorin;
    ASSERT_TRUE(pelorin.Start());

    // Children start only between reads: the latest one under a PID is the one its row stands for.
    std::map<std::string, ChurnChild> children;
    int started = 0, reads = 0, childRows = 0;
    long longestLagMs = 0;
    std::string problems;
    const auto readAndCheck = [&] {
        const DWORD begun = ::GetTickCount();
        std::set<std::string> pids;
        for (const Row& row : Rows(pelorin.ProcessList())) {
            if (!pids.insert(row[1]).second) problems += "PID " + row[1] + " listed twice; ";
            const auto child = children.find(row[1]);
            if (row[0] != "pelorin_child.exe" || child == children.end()) continue;
            ++childRows;
            if (child->second.process) continue;  // still running
            const long lagMs = static_cast<long>(begun - child->second.ended);
            longestLagMs = std::max(longestLagMs, lagMs);
            if (lagMs > static_cast<long>(kRowLifetimeLimitMs))
                problems += "PID " + row[1] + " listed " + std::to_string(lagMs) + " ms after it ended; ";
        }
        ++reads;
    };

    const DWORD begin = ::GetTickCount();
    for (DWORD nextRead = begin, lastEnded = begin;;) {
        const DWORD now = ::GetTickCount();
        // At most twenty a second (a loaded machine starts fewer), each living 200 to 1500 ms.
        for (; started < childCount && started <= static_cast<int>((now - begin) / 50); ++started) {
            auto child = std::make_unique<test::Child>();
            ASSERT_TRUE(child->StartProgram(test::FixturePath("pelorin_child.exe"), "--wait-ms " + std::to_string(200 + started * 137 % 1300)));
            const std::string pid = std::to_string(child->Pid());  // before the move below
            children[pid] = {0, std::move(child)};
        }
        bool live = false;
        for (auto& [pid, child] : children) {
            if (child.process && !child.process->Running()) {
                child.ended = lastEnded = ::GetTickCount();
                child.process.reset();  // no handle keeps the ended process, or its PID
            }
            live = live || child.process;
        }
        if (started == childCount && !live && now - lastEnded > kRowLifetimeLimitMs) break;
        if (static_cast<LONG>(now - nextRead) >= 0) {
            nextRead = now + 200;
            ASSERT_FALSE(pelorin.ExitCode(0).has_value()) << "Pelorin ended during the churn";
            readAndCheck();
        }
        ::Sleep(5);
    }
    readAndCheck();  // every child ended more than two refreshes ago
    FIGURE("churn", "children started / list reads / child rows seen / longest a row outlived its process (ms)",
           "%d / %d / %d / %ld", started, reads, childRows, longestLagMs);
    EXPECT_EQ(problems, "");
    EXPECT_GT(childRows, 0);
    ASSERT_TRUE(pelorin.Close());
    EXPECT_EQ(pelorin.ExitCode(kCloseLimitMs), kExitedWithZero);
}

}  // namespace
}  // namespace pelorin::e2e
