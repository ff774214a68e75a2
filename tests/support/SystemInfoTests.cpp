#include "support/SystemInfo.h"

#include <gtest/gtest.h>
#include <shlobj.h>

#include <string>

#include "common/TestSupport.h"
#include "support/FastStrings.h"

namespace pelorin {
namespace {

TEST(SystemInfo, SystemDriveRootOfAnyWindowsFolder) {
    const struct { const char* windows; const char* root; } cases[] = {
        {"C:\\WINDOWS\\", "C:\\"}, {"C:\\Windows\\", "C:\\"}, {"c:\\windows\\", "c:\\"}, {"E:\\os\\windows\\", "E:\\"},
        {"D:\\WinNT\\", "D:\\"}, {"\\\\server\\share\\Windows\\", "\\\\server\\share\\"},
        {"\\", "\\"},  // what a failed folder query leaves
    };
    for (const auto& c : cases) EXPECT_EQ(SystemDriveRoot(c.windows), c.root) << c.windows;
}

TEST(SystemInfo, FoldersEndInABackslashAndMatchThePlatform) {
    char windows[MAX_PATH] = {}, system[MAX_PATH] = {}, programFiles[MAX_PATH] = {}, temp[MAX_PATH] = {};
    ASSERT_GT(::GetWindowsDirectoryA(windows, MAX_PATH), 0u);
    ASSERT_GT(::GetSystemDirectoryA(system, MAX_PATH), 0u);
    ASSERT_EQ(::SHGetFolderPathA(nullptr, CSIDL_PROGRAM_FILES, nullptr, 0, programFiles), S_OK);
    ASSERT_GT(::GetTempPathA(MAX_PATH, temp), 0u);
    const struct { std::string actual, platform; } folders[] = {
        {WindowsDirectory(), IncludeTrailingBackslash(windows)}, {SystemDirectory(), IncludeTrailingBackslash(system)},
        {ProgramFilesDirectory(), IncludeTrailingBackslash(programFiles)}, {TempDirectory(), temp},
    };
    for (const auto& folder : folders) {
        EXPECT_EQ(folder.actual, folder.platform);
        EXPECT_EQ(folder.actual.back(), '\\') << folder.actual;
        EXPECT_NE(::GetFileAttributesA(folder.actual.c_str()), INVALID_FILE_ATTRIBUTES) << folder.actual;
        EXPECT_FALSE(FileExists(folder.actual)) << "a folder is no file: " << folder.actual;
    }
    EXPECT_EQ(SystemDriveRoot(), WindowsDirectory().substr(0, 3));
    EXPECT_TRUE(FileExists(test::FixturePath("pelorin_child.exe")));
    EXPECT_FALSE(FileExists(test::FixturePath("no_such_file.exe")));
}

}  // namespace
}  // namespace pelorin
