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
    // The creation-time check: what the process holding the PID reports.
    static inline std::uint64_t creation = 0x01D9000012345678ull;
    static inline BOOL timesResult = TRUE;
    static inline DWORD refusedAccess = 0;  // an open asking for this bit fails
    static inline int timesCalls = 0;
    static inline int waits = 0;
    static inline DWORD waitedMs = 0;
    static inline bool alreadyEnded = false;
    static inline std::string calls;  // o(pen) t(imes) k(ill) w(ait) c(lose), in order

    static void Reset() {
        opens = terminates = closes = 0;
        access = pid = 0;
        exitCode = 99;
        closed = nullptr;
        openSucceeds = true;
        terminateResult = TRUE;
        creation = 0x01D9000012345678ull;
        timesResult = TRUE;
        refusedAccess = 0;
        timesCalls = waits = 0;
        waitedMs = 0;
        alreadyEnded = false;
        calls.clear();
    }
    static HANDLE Token() { return reinterpret_cast<HANDLE>(static_cast<std::uintptr_t>(0x1234)); }

    static HANDLE WINAPI Open(DWORD wanted, BOOL, DWORD id) {
        ++opens;
        calls += 'o';
        access = wanted;
        pid = id;
        if (refusedAccess != 0 && (wanted & refusedAccess) != 0) return nullptr;
        return openSucceeds ? Token() : nullptr;
    }
    static BOOL WINAPI Terminate(HANDLE, UINT code) {
        ++terminates;
        calls += 'k';
        exitCode = code;
        return terminateResult;
    }
    static BOOL WINAPI Close(HANDLE handle) {
        ++closes;
        calls += 'c';
        closed = handle;
        return TRUE;
    }
    static BOOL WINAPI Times(HANDLE, FILETIME* created, FILETIME*, FILETIME*, FILETIME*) {
        ++timesCalls;
        calls += 't';
        if (!timesResult) return FALSE;
        created->dwLowDateTime = static_cast<DWORD>(creation);
        created->dwHighDateTime = static_cast<DWORD>(creation >> 32);
        return TRUE;
    }
    static DWORD WINAPI Wait(HANDLE, DWORD ms) {
        calls += 'w';
        if (ms == 0) return alreadyEnded ? WAIT_OBJECT_0 : WAIT_TIMEOUT;  // the "still running" probe
        ++waits;
        waitedMs = ms;
        return WAIT_OBJECT_0;
    }
    static const KillApi& Api() {
        static const KillApi api = {&Open, &Terminate, &Close, &Times, &Wait};
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

constexpr DWORD kQueryLimited = 0x1000;  // PROCESS_QUERY_LIMITED_INFORMATION

TEST(KillSameProcess, EndsItOnlyWhileTheCreationTimeStillMatches) {
    FakeKill::Reset();
    EXPECT_TRUE(KillProcess(1000, FakeKill::creation, FakeKill::Api()));
    EXPECT_EQ(FakeKill::calls, "otwkwc");  // checked before the terminate, closed last
    EXPECT_EQ(FakeKill::access, static_cast<DWORD>(PROCESS_TERMINATE | SYNCHRONIZE | kQueryLimited));
    EXPECT_EQ(FakeKill::pid, 1000u);
    EXPECT_EQ(FakeKill::exitCode, 0u);
    EXPECT_EQ(FakeKill::waitedMs, KillSettleMs);

    // The PID now belongs to a process started later: nothing is ended.
    FakeKill::Reset();
    const std::uint64_t recorded = FakeKill::creation;
    FakeKill::creation = recorded + 1;
    EXPECT_FALSE(KillProcess(1000, recorded, FakeKill::Api()));
    EXPECT_EQ(FakeKill::terminates, 0);
    EXPECT_EQ(FakeKill::waits, 0);
    EXPECT_EQ(FakeKill::closes, 1);

    // A process that has ended already (kept by another handle) was not ended here.
    FakeKill::Reset();
    FakeKill::alreadyEnded = true;
    EXPECT_FALSE(KillProcess(1000, FakeKill::creation, FakeKill::Api()));
    EXPECT_EQ(FakeKill::terminates, 0);
    EXPECT_EQ(FakeKill::closes, 1);

    // Times that cannot be read prove nothing either.
    FakeKill::Reset();
    FakeKill::timesResult = FALSE;
    EXPECT_FALSE(KillProcess(1000, FakeKill::creation, FakeKill::Api()));
    EXPECT_EQ(FakeKill::terminates, 0);
    EXPECT_EQ(FakeKill::closes, 1);
}

TEST(KillSameProcess, FallsBackToTheFullQueryRightAndClosesOnEveryPath) {
    // A system that refuses the limited right: the second open asks for the full one.
    FakeKill::Reset();
    FakeKill::refusedAccess = kQueryLimited;
    EXPECT_TRUE(KillProcess(1000, FakeKill::creation, FakeKill::Api()));
    EXPECT_EQ(FakeKill::opens, 2);
    EXPECT_EQ(FakeKill::access, static_cast<DWORD>(PROCESS_TERMINATE | SYNCHRONIZE | PROCESS_QUERY_INFORMATION));
    EXPECT_EQ(FakeKill::closes, 1);

    FakeKill::Reset();
    FakeKill::openSucceeds = false;
    EXPECT_FALSE(KillProcess(1000, FakeKill::creation, FakeKill::Api()));
    EXPECT_EQ(FakeKill::opens, 2);
    EXPECT_EQ(FakeKill::closes, 0);
    EXPECT_EQ(FakeKill::timesCalls, 0);

    FakeKill::Reset();
    FakeKill::terminateResult = FALSE;
    EXPECT_FALSE(KillProcess(1000, FakeKill::creation, FakeKill::Api()));
    EXPECT_EQ(FakeKill::waits, 0);
    EXPECT_EQ(FakeKill::closes, 1);

    for (std::uint32_t pid = 0; pid <= 5; ++pid) {
        FakeKill::Reset();
        EXPECT_FALSE(KillProcess(pid, FakeKill::creation, FakeKill::Api())) << pid;
        EXPECT_EQ(FakeKill::calls, "") << pid;
    }
}

TEST(KillSameProcess, CreationTimeIsReadWithAQueryRightAndFailureLeavesTheOutputAlone) {
    FakeKill::Reset();
    std::uint64_t creation = 7;
    ASSERT_TRUE(ReadProcessCreationTime(1000, creation, FakeKill::Api()));
    EXPECT_EQ(creation, FakeKill::creation);
    EXPECT_EQ(FakeKill::access, kQueryLimited);
    EXPECT_EQ(FakeKill::closes, 1);

    FakeKill::Reset();
    FakeKill::refusedAccess = kQueryLimited;
    creation = 7;
    ASSERT_TRUE(ReadProcessCreationTime(1000, creation, FakeKill::Api()));
    EXPECT_EQ(FakeKill::access, static_cast<DWORD>(PROCESS_QUERY_INFORMATION));

    FakeKill::Reset();
    FakeKill::timesResult = FALSE;
    creation = 7;
    EXPECT_FALSE(ReadProcessCreationTime(1000, creation, FakeKill::Api()));
    EXPECT_EQ(creation, 7u);
    EXPECT_EQ(FakeKill::closes, 1);

    FakeKill::Reset();
    FakeKill::openSucceeds = false;
    EXPECT_FALSE(ReadProcessCreationTime(1000, creation, FakeKill::Api()));
    EXPECT_EQ(creation, 7u);
    EXPECT_EQ(FakeKill::closes, 0);
}

TEST(KillSameProcess, EndsARealChildAndRefusesItUnderAnotherCreationTime) {
    fixtures::ChildProcess child;
    ASSERT_TRUE(child.Start());
    std::uint64_t creation = 0;
    ASSERT_TRUE(ReadProcessCreationTime(child.Pid(), creation));
    EXPECT_NE(creation, 0u);

    EXPECT_FALSE(KillProcess(child.Pid(), creation - 1));
    EXPECT_TRUE(child.Running());

    EXPECT_TRUE(KillProcess(child.Pid(), creation));
    // Waited for: the process has ended by the time the kill answers.
    const auto code = child.WaitExitCode(0);
    ASSERT_TRUE(code.has_value());
    EXPECT_EQ(*code, 0u);

    // Its object lives on through the child's handle: a second kill is refused.
    std::uint64_t after = 5;
    EXPECT_FALSE(KillProcess(child.Pid(), creation));
    EXPECT_FALSE(ReadProcessCreationTime(0x7FFFFFF0, after));
    EXPECT_EQ(after, 5u);
}

}  // namespace
}  // namespace pelorin
