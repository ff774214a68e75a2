// The name and path rules applied to each snapshot entry, and paths read whole.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <string_view>

#include "catalogue/ProcessSnapshot.h"
#include "catalogue/ProcessSource.h"
#include "catalogue/Systemlist.h"
#include "common/KnownNames.h"
#include "common/TestSupport.h"
#include "support/FastStrings.h"
#include "support/SystemInfo.h"

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

// Only the idle pseudo-process and the kernel's own process, by name in any case.
TEST(Rules, PseudoProcesses) {
    for (const auto& [name, pseudo] : {std::pair{"System", true}, {"SYSTEM", true}, {"[System Process]", true}, {"[SYSTEM PROCESS]", true},
                                      {"System.exe", false}, {"system.exe", false}, {"SystemX", false},
                                      {"[System Idle Process]", false}, {" System", false}, {"", false}})
        EXPECT_EQ(IsSystemPseudoProcess(name), pseudo) << '"' << name << '"';
}

// The table holds the documented names and no other; each is known only as
// written, and only a whole bare name is.
TEST(Rules, TheKnownTableIsTheDocumentedNamesCaseAndAll) {
    EXPECT_EQ(KnownProcessTable.size(), std::size(test::kKnownNames));
    for (const KnownProcessRow& row : KnownProcessTable) EXPECT_TRUE(test::IsKnownName(row.fileName)) << row.fileName;
    for (std::string_view name : test::kKnownNames) {
        EXPECT_TRUE(IsKnownProcess(name)) << name;
        for (auto change : {::CharUpperBuffA, ::CharLowerBuffA}) {
            std::string other(name);
            change(other.data(), static_cast<DWORD>(other.size()));
            if (other != name) {
                EXPECT_FALSE(IsKnownProcess(other)) << other;
            }
        }
    }
    for (const char* other : {"", "svchost.exe ", "C:\\windows\\system32\\svchost.exe"}) EXPECT_FALSE(IsKnownProcess(other)) << other;
}

// A module path past MAX_PATH (the walk's entry holds 259 characters) is listed, found, stamped and read whole.
TEST(Rules, AModulePathLongerThanMaxPathIsListedAndReadWhole) {
    const test::TempFolder folder;
    const std::string directory = folder.File(std::string(250, 'p')), path = directory + "\\long.dll";
    ASSERT_TRUE(path.size() > MAX_PATH && ::CreateDirectoryW(LongPathForm(directory).c_str(), nullptr) &&
                ::CopyFileW(LongPathForm(test::FixturePath("pelorin_fixture_known.dll")).c_str(), LongPathForm(path).c_str(), FALSE));
    const HMODULE module = ::LoadLibraryW(LongPathForm(path).c_str());
    const auto modules = ListProcessModules(0);
    FileStamp stamp;
    EXPECT_TRUE(FileExists(path) && RealProcessPlatform().fileStamp(path, stamp));
    EXPECT_EQ(ReadVersionString(path, "FileDescription"), "Pelorin Fixture Module");
    ::FreeLibrary(module), ::DeleteFileW(LongPathForm(path).c_str()), ::RemoveDirectoryW(LongPathForm(directory).c_str());  // beyond the folder's own removal
    EXPECT_TRUE(std::any_of(modules.begin(), modules.end(), [&](const ModuleRecord& m) { return m.path == path && m.name == "long.dll"; }));
}

}  // namespace
}  // namespace pelorin
