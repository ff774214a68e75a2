#include "support/SystemInfo.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "fixtures/ChildProcess.h"
#include "support/FastStrings.h"

namespace pelorin {
namespace {

bool IsDirectory(const std::string& path) {
    const DWORD attributes = ::GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

TEST(Folders, EndInBackslashAndExist) {
    const std::string folders[] = {WindowsDirectory(), SystemDirectory(), ProgramFilesDirectory(), TempDirectory()};
    for (const std::string& folder : folders) {
        ASSERT_GT(folder.size(), 3u) << folder;
        EXPECT_EQ(folder.back(), '\\') << folder;
        EXPECT_TRUE(IsDirectory(folder)) << folder;
    }
    EXPECT_EQ(LowerCaseAscii(SystemDirectory()).rfind(LowerCaseAscii(WindowsDirectory()), 0), 0u);
}

TEST(Folders, SystemDriveRootOfThisMachine) {
    const std::string windows = WindowsDirectory();
    const std::string root = SystemDriveRoot();
    EXPECT_EQ(root, windows.substr(0, 3));
    EXPECT_TRUE(IsDirectory(root));
}

TEST(Folders, SystemDriveRootInAnyLetterCase) {
    EXPECT_EQ(SystemDriveRoot("C:\\WINDOWS\\"), "C:\\");
    EXPECT_EQ(SystemDriveRoot("C:\\windows\\"), "C:\\");
    EXPECT_EQ(SystemDriveRoot("C:\\Windows\\"), "C:\\");
    EXPECT_EQ(SystemDriveRoot("D:\\WinNT\\"), "D:\\");
    EXPECT_EQ(SystemDriveRoot("E:\\os\\windows\\"), "E:\\");
    EXPECT_EQ(SystemDriveRoot("\\\\server\\share\\Windows\\"), "\\\\server\\share\\");
    EXPECT_EQ(SystemDriveRoot("\\"), "\\");  // the placeholder of a failed query
}

TEST(FileExists, FilesOnly) {
    EXPECT_TRUE(FileExists(fixtures::FixturePath("pelorin_child.exe")));
    EXPECT_FALSE(FileExists(fixtures::FixturePath("")));
    EXPECT_FALSE(FileExists(WindowsDirectory()));
    EXPECT_FALSE(FileExists(fixtures::FixturePath("no_such_file.exe")));
    EXPECT_FALSE(FileExists(""));
}

// Records the calls KillProcess makes instead of making them.
struct FakeKill {
    static inline int opens = 0;
    static inline int terminates = 0;
    static inline int closes = 0;
    static inline DWORD access = 0;
    static inline DWORD pid = 0;
    static inline UINT exitCode = 99;
    static inline HANDLE closed = nullptr;
    static inline bool openSucceeds = true;
    static inline BOOL terminateResult = TRUE;

    static void Reset() {
        opens = terminates = closes = 0;
        access = pid = 0;
        exitCode = 99;
        closed = nullptr;
        openSucceeds = true;
        terminateResult = TRUE;
    }
    static HANDLE Token() { return reinterpret_cast<HANDLE>(static_cast<std::uintptr_t>(0x1234)); }

    static HANDLE WINAPI Open(DWORD wanted, BOOL, DWORD id) {
        ++opens;
        access = wanted;
        pid = id;
        return openSucceeds ? Token() : nullptr;
    }
    static BOOL WINAPI Terminate(HANDLE, UINT code) {
        ++terminates;
        exitCode = code;
        return terminateResult;
    }
    static BOOL WINAPI Close(HANDLE handle) {
        ++closes;
        closed = handle;
        return TRUE;
    }
    static const KillApi& Api() {
        static const KillApi api = {&Open, &Terminate, &Close};
        return api;
    }
};

TEST(KillProcess, LowIdentifiersMakeNoPlatformCall) {
    for (std::uint32_t pid = 0; pid <= 5; ++pid) {
        FakeKill::Reset();
        EXPECT_FALSE(KillProcess(pid, FakeKill::Api())) << pid;
        EXPECT_EQ(FakeKill::opens + FakeKill::terminates + FakeKill::closes, 0) << pid;
    }
}

TEST(KillProcess, OpensForTerminateAndClosesOnEveryPath) {
    FakeKill::Reset();
    EXPECT_TRUE(KillProcess(6, FakeKill::Api()));
    EXPECT_EQ(FakeKill::access, static_cast<DWORD>(PROCESS_TERMINATE));
    EXPECT_EQ(FakeKill::pid, 6u);
    EXPECT_EQ(FakeKill::exitCode, 0u);
    EXPECT_EQ(FakeKill::closes, 1);
    EXPECT_EQ(FakeKill::closed, FakeKill::Token());

    FakeKill::Reset();
    FakeKill::terminateResult = FALSE;
    EXPECT_FALSE(KillProcess(1000, FakeKill::Api()));
    EXPECT_EQ(FakeKill::closes, 1);

    FakeKill::Reset();
    FakeKill::openSucceeds = false;
    EXPECT_FALSE(KillProcess(1000, FakeKill::Api()));
    EXPECT_EQ(FakeKill::closes, 0);  // nothing was opened
}

TEST(KillProcess, EndsAChildWithExitCodeZero) {
    fixtures::ChildProcess child;
    ASSERT_TRUE(child.Start());
    ASSERT_TRUE(child.Running());
    EXPECT_TRUE(KillProcess(child.Pid()));
    const auto code = child.WaitExitCode(10000);
    ASSERT_TRUE(code.has_value());
    EXPECT_EQ(*code, 0u);
}

TEST(KillProcess, UnknownIdentifierIsFalse) {
    const std::uint32_t pid = 0x7FFFFFF0;
    const HANDLE probe = ::OpenProcess(PROCESS_TERMINATE, FALSE, pid);
    if (probe != nullptr) ::CloseHandle(probe);
    ASSERT_EQ(probe, nullptr) << "identifier in use";
    EXPECT_FALSE(KillProcess(pid));
}

TEST(KillProcess, AllSixLowIdentifiersRefusedOnThePlatformToo) {
    for (std::uint32_t pid = 0; pid <= 5; ++pid) EXPECT_FALSE(KillProcess(pid)) << pid;
}

}  // namespace
}  // namespace pelorin
