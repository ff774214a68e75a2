// The shared child program and its helper, which other subsystems' tests rely on.
#include "fixtures/ChildProcess.h"

#include <windows.h>
#include <psapi.h>

#include <gtest/gtest.h>

namespace pelorin {
namespace {

using fixtures::ChildProcess;

TEST(ChildFixture, WaitsThenExitsWithTheGivenCode) {
    ChildProcess child;
    ASSERT_TRUE(child.Start("--wait-ms 50 --exit-code 7"));
    EXPECT_NE(child.Pid(), 0u);
    const auto code = child.WaitExitCode(10000);
    ASSERT_TRUE(code.has_value());
    EXPECT_EQ(*code, 7u);
}

TEST(ChildFixture, RunsUntilKilledByDefault) {
    ChildProcess child;
    ASSERT_TRUE(child.Start());
    EXPECT_FALSE(child.WaitExitCode(300).has_value());
    const DWORD pid = child.Pid();
    child.Kill();
    EXPECT_FALSE(child.Running());
    const HANDLE gone = ::OpenProcess(SYNCHRONIZE, FALSE, pid);
    if (gone != nullptr) {
        // A handle may still open a dead process briefly; it must be signalled.
        EXPECT_EQ(::WaitForSingleObject(gone, 5000), WAIT_OBJECT_0);
        ::CloseHandle(gone);
    }
}

TEST(ChildFixture, TouchedMemoryShowsInTheWorkingSet) {
    ChildProcess child;
    ASSERT_TRUE(child.Start("--touch-mib 16"));
    PROCESS_MEMORY_COUNTERS counters = {};
    counters.cb = sizeof counters;
    ASSERT_TRUE(::GetProcessMemoryInfo(child.Handle(), &counters, sizeof counters));
    EXPECT_GE(counters.WorkingSetSize, 16u * 1024 * 1024);
}

TEST(ChildFixture, LoadsTheKnownModule) {
    ChildProcess child;
    ASSERT_TRUE(child.Start("--load pelorin_fixture_known.dll"));
    HMODULE modules[512];
    DWORD needed = 0;
    ASSERT_TRUE(::EnumProcessModules(child.Handle(), modules, sizeof modules, &needed));
    bool found = false;
    for (DWORD i = 0; i < needed / sizeof(HMODULE) && i < 512; ++i) {
        char name[MAX_PATH] = {};
        if (::GetModuleBaseNameA(child.Handle(), modules[i], name, MAX_PATH) > 0 &&
            ::lstrcmpiA(name, "pelorin_fixture_known.dll") == 0) {
            found = true;
        }
    }
    EXPECT_TRUE(found);
}

TEST(ChildFixture, FailedLoadIsReportedNotReady) {
    ChildProcess child;
    EXPECT_FALSE(child.Start("--load no_such_module.dll"));
    const auto code = child.WaitExitCode(10000);
    ASSERT_TRUE(code.has_value());
    EXPECT_EQ(*code, 2u);
}

}  // namespace
}  // namespace pelorin
