// The name and path rules applied to each snapshot entry.
#include <gtest/gtest.h>

#include <string>
#include <string_view>

#include "catalogue/ProcessSnapshot.h"
#include "catalogue/Systemlist.h"

namespace pelorin {
namespace {

TEST(Rules, NormalizeImagePath) {
    const struct { const char* path; const char* expected; } cases[] = {
        {"\\SystemRoot\\System32\\smss.exe", "C:\\WINDOWS\\System32\\smss.exe"},
        {"\\SYSTEMROOT\\x.exe", "C:\\WINDOWS\\x.exe"}, {"\\??\\C:\\x\\y.exe", "C:\\x\\y.exe"},
        {"\\??\\C:\\WINDOWS\\system32\\csrss.exe", "C:\\WINDOWS\\system32\\csrss.exe"}, {"\\??\\", ""},
        {"/systemroot/x.exe", "/systemroot/x.exe"}, {"-", "-"}, {"", ""}, {"\\SystemRoot", "\\SystemRoot"},
        {"\\??", "\\??"}, {"C:\\SystemRoot\\x.exe", "C:\\SystemRoot\\x.exe"}, {"\\\\?\\C:\\x.exe", "\\\\?\\C:\\x.exe"},
    };
    for (const auto& c : cases) EXPECT_EQ(NormalizeImagePath(c.path, "C:\\WINDOWS"), c.expected) << c.path;
    // The second rule runs on what the first gave.
    EXPECT_EQ(NormalizeImagePath("\\SystemRoot\\a.exe", "\\??\\D:\\W"), "D:\\W\\a.exe");
    // By default the platform's Windows folder, which has no trailing backslash.
    const std::string windows = GetWindowsFolder();
    ASSERT_FALSE(windows.empty());
    EXPECT_NE(windows.back(), '\\');
    EXPECT_EQ(NormalizeImagePath("\\SystemRoot\\System32\\smss.exe"), windows + "\\System32\\smss.exe");
}

// Pseudo-processes are never listed; known ones are hidden unless asked for.
TEST(Rules, PseudoAndKnownProcesses) {
    const struct { std::string_view name; bool pseudo, known; } cases[] = {
        {"System", true, false}, {"SYSTEM", true, false}, {"[System Process]", true, false},
        {"[SYSTEM PROCESS]", true, false}, {"Systemd.exe", false, false}, {"System.exe", false, false},
        {"SystemX", false, false}, {"[System Idle Process]", false, false}, {" System", false, false},
        {"", false, false}, {"svchost.exe", false, true}, {"SVCHOST.EXE", false, false},
        {"Pelorin.exe", false, true}, {"pelorin.exe", false, false}, {"CCC.exe", false, true},
        {"OUTLOOK.EXE", false, true}, {"outlook.exe", false, false}, {"explorer.exe", false, true},
        {"Explorer.exe", false, false}, {"C:\\windows\\system32\\svchost.exe", false, false},
        {"svchost.exe ", false, false}, {std::string_view("svchost.exe\0x", 13), false, false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(IsSystemPseudoProcess(c.name), c.pseudo) << '"' << c.name << '"';
        EXPECT_EQ(IsKnownProcess(c.name), c.known) << '"' << c.name << '"';
    }
}

}  // namespace
}  // namespace pelorin
