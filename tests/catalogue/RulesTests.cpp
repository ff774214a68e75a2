// The name and path rules applied to each snapshot entry.
#include <gtest/gtest.h>

#include <string>
#include <string_view>

#include "catalogue/ProcessSnapshot.h"
#include "catalogue/Systemlist.h"

namespace pelorin {
namespace {

TEST(Rules, NormalizeImagePath) {
    const struct { const char* path; const char* normal = nullptr; } cases[] = {  // no normal: unchanged
        {"\\SystemRoot\\System32\\smss.exe", "C:\\WINDOWS\\System32\\smss.exe"}, {"\\SystemRoot"}, {"\\??"},
        {"\\??\\C:\\WINDOWS\\system32\\csrss.exe", "C:\\WINDOWS\\system32\\csrss.exe"}, {"\\??\\", ""}, {""},
        {"\\SYSTEMROOT\\x.exe", "C:\\WINDOWS\\x.exe"}, {"/systemroot/x.exe"}, {"C:\\SystemRoot\\x.exe"}, {"-"},
        {"\\\\?\\C:\\x.exe"},
    };
    for (const auto& c : cases) EXPECT_EQ(NormalizeImagePath(c.path, "C:\\WINDOWS"), c.normal ? c.normal : c.path);
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
    const struct { std::string_view name; bool pseudo = false, known = false; } cases[] = {
        {"System", true}, {"SYSTEM", true}, {"[System Process]", true}, {"[SYSTEM PROCESS]", true}, {"System.exe"},
        {"system.exe"}, {"SystemX"}, {"[System Idle Process]"}, {" System"}, {""}, {"svchost.exe", false, true},
        {"SVCHOST.EXE"}, {"Pelorin.exe", false, true}, {"pelorin.exe"}, {"CCC.exe", false, true}, {"outlook.exe"},
        {"OUTLOOK.EXE", false, true}, {"explorer.exe", false, true}, {"Explorer.exe"}, {"svchost.exe "},
        {"C:\\windows\\system32\\svchost.exe"}, {std::string_view("svchost.exe\0x", 13)},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(IsSystemPseudoProcess(c.name), c.pseudo) << '"' << c.name << '"';
        EXPECT_EQ(IsKnownProcess(c.name), c.known) << '"' << c.name << '"';
    }
}

}  // namespace
}  // namespace pelorin
