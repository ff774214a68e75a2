// The program's replacements for parts of the static C++ runtime, worked from
// many threads by a helper program linked with them like Pelorin.exe.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "fixtures/ChildProcess.h"
#include "support/Handles.h"

namespace pelorin {
namespace {

TEST(LeanRuntime, ExceptionsStaticsAndThreadLocalsHoldUnderManyThreads) {
    std::string commandLine = "\"" + fixtures::FixturePath("pelorin_runtime_check.exe") + "\"";
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info = {};
    ASSERT_TRUE(::CreateProcessA(nullptr, &commandLine[0], nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr,
                                 nullptr, &startup, &info));
    UniqueHandle process(info.hProcess);
    UniqueHandle thread(info.hThread);
    ASSERT_EQ(::WaitForSingleObject(process.Get(), 120000), WAIT_OBJECT_0) << "no end within 120 s";
    DWORD code = 99;
    ASSERT_TRUE(::GetExitCodeProcess(process.Get(), &code));
    // 3: the static was built more than once; 4: a thrown value came back wrong
    // or a length error was not thrown; 5: per-thread variables were shared.
    EXPECT_EQ(code, 0u);
}

}  // namespace
}  // namespace pelorin
