#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "catalogue/FakeModules.h"
#include "catalogue/ProcessSnapshot.h"
#include "catalogue/VariablesUnit.h"
#include "support/FastStrings.h"

namespace pelorin {
namespace {

using testing::Fake;

std::string OwnImagePath() {
    char buffer[MAX_PATH] = {};
    const DWORD length = ::GetModuleFileNameA(nullptr, buffer, MAX_PATH);
    return std::string(buffer, length);
}

std::string FileNameOf(const std::string& path) { return path.substr(path.find_last_of('\\') + 1); }

std::vector<SnapshotEntry> WalkAll() {
    std::vector<SnapshotEntry> entries;
    ProcessSnapshot snapshot;
    SnapshotEntry entry;
    while (snapshot.Next(entry)) entries.push_back(entry);
    return entries;
}

bool HandleIsOpen(HANDLE handle) {
    DWORD flags = 0;
    return ::GetHandleInformation(handle, &flags) != FALSE;
}

// --- The real process list under Wine --------------------------------------

TEST(ProcessSnapshotPlatform, ListsServicesAndThisProcessWithItsReadings) {
    const std::vector<SnapshotEntry> entries = WalkAll();
    ASSERT_FALSE(entries.empty());
    const auto services = std::find_if(entries.begin(), entries.end(),
                                       [](const SnapshotEntry& e) { return e.name == "services.exe"; });
    EXPECT_NE(services, entries.end());

    const std::uint32_t self = ::GetCurrentProcessId();
    const auto own = std::find_if(entries.begin(), entries.end(), [self](const SnapshotEntry& e) { return e.pid == self; });
    ASSERT_NE(own, entries.end());
    EXPECT_EQ(own->name, FileNameOf(OwnImagePath()));

    const UniqueHandle query = OpenQueryHandle(self);
    ASSERT_TRUE(query);
    EXPECT_GT(ProcessWorkingSet(query.Get()), 0u);
    EXPECT_EQ(GetProcessImagePath(self), OwnImagePath());
}

TEST(ProcessSnapshotPlatform, ProcessThatCannotBeOpenedGivesPlaceholders) {
    // Far above any PID in use.
    const std::uint32_t nobody = 0x7ffffff0;
    EXPECT_FALSE(OpenQueryHandle(nobody));
    EXPECT_EQ(GetProcessImagePath(nobody), "-");
    EXPECT_EQ(ProcessWorkingSet(OpenQueryHandle(nobody).Get()), 0u);
    const ProcessTimes times = ReadProcessTimes(OpenQueryHandle(nobody).Get());
    EXPECT_FALSE(times.valid);
    EXPECT_EQ(times.kernel, 0u);
    EXPECT_EQ(times.user, 0u);
    EXPECT_EQ(times.creation, 0u);
}

std::uint64_t Count(const FILETIME& t) { return (std::uint64_t{t.dwHighDateTime} << 32) | t.dwLowDateTime; }

TEST(ProcessSnapshotPlatform, ReadProcessTimesOfSelfMatchesThePlatform) {
    const UniqueHandle query = OpenQueryHandle(::GetCurrentProcessId());
    ASSERT_TRUE(query);
    FILETIME creation{}, exitTime{}, kernelBefore{}, userBefore{}, kernelAfter{}, userAfter{};
    ASSERT_TRUE(::GetProcessTimes(query.Get(), &creation, &exitTime, &kernelBefore, &userBefore));
    const ProcessTimes times = ReadProcessTimes(query.Get());
    ASSERT_TRUE(::GetProcessTimes(query.Get(), &creation, &exitTime, &kernelAfter, &userAfter));

    EXPECT_TRUE(times.valid);
    EXPECT_EQ(times.creation, Count(creation));
    EXPECT_NE(times.creation, 0u);
    EXPECT_GE(times.kernel, Count(kernelBefore));
    EXPECT_LE(times.kernel, Count(kernelAfter));
    EXPECT_GE(times.user, Count(userBefore));
    EXPECT_LE(times.user, Count(userAfter));
}

TEST(ProcessSnapshotPlatform, FailedTimesQueryNeverCarriesEarlierValuesOver) {
    const UniqueHandle self = OpenQueryHandle(::GetCurrentProcessId());
    ASSERT_TRUE(ReadProcessTimes(self.Get()).valid);
    // Not a process: GetProcessTimes fails on it.
    const UniqueHandle event(::CreateEventA(nullptr, TRUE, FALSE, nullptr));
    ASSERT_TRUE(event);
    const ProcessTimes times = ReadProcessTimes(event.Get());
    EXPECT_FALSE(times.valid);
    EXPECT_EQ(times.kernel, 0u);
    EXPECT_EQ(times.user, 0u);
    EXPECT_EQ(times.creation, 0u);
    EXPECT_FALSE(ReadProcessTimes(nullptr).valid);
}

TEST(ProcessSnapshotPlatform, ModuleWalkOfSelfStartsWithTheImageAndHasKernel32) {
    std::vector<ModuleRecord> modules;
    ModuleSnapshot snapshot(::GetCurrentProcessId());
    ModuleRecord module;
    while (snapshot.Next(module)) modules.push_back(module);
    ASSERT_FALSE(modules.empty());
    EXPECT_EQ(modules.front().path, OwnImagePath());
    EXPECT_EQ(modules.front().name, FileNameOf(OwnImagePath()));
    EXPECT_TRUE(std::any_of(modules.begin(), modules.end(), [](const ModuleRecord& m) {
        return LowerCaseAscii(m.name) == "kernel32.dll";
    }));

    ModuleSnapshot none(0x7ffffff0);
    EXPECT_FALSE(none.Next(module));
}

TEST(ProcessSnapshotPlatform, WindowsFolderHasNoTrailingBackslash) {
    char expected[MAX_PATH + 1] = {};
    ASSERT_GT(::GetWindowsDirectoryA(expected, sizeof expected), 0u);
    const std::string folder = GetWindowsFolder();
    EXPECT_EQ(folder, expected);
    ASSERT_FALSE(folder.empty());
    EXPECT_NE(folder.back(), '\\');
    EXPECT_EQ(NormalizeImagePath("\\SystemRoot\\System32\\smss.exe"), folder + "\\System32\\smss.exe");
}

// --- The walk over a fake snapshot -------------------------------------------

class FakeSnapshot : public ::testing::Test {
protected:
    void SetUp() override { testing::InstallFakeModules(); }
    void TearDown() override { testing::UninstallFakeModules(); }
};

TEST_F(FakeSnapshot, WalkHandsOnEntriesInOrderAndClosesTheHandle) {
    const std::string fullName(260, 'n');  // fills szExeFile, no terminator
    Fake().processes = {{0, "[System Process]"}, {4, "System"}, {0x24, "a.exe"}, {0x28, fullName}, {0x2c, ""}};

    const std::vector<SnapshotEntry> entries = WalkAll();
    ASSERT_EQ(entries.size(), 5u);
    EXPECT_EQ(entries[0].name, "[System Process]");
    EXPECT_EQ(entries[1].pid, 4u);
    EXPECT_EQ(entries[2].name, "a.exe");
    EXPECT_EQ(entries[2].pid, 0x24u);
    EXPECT_EQ(entries[3].name, fullName) << "cut at the field's end, not read past it";
    EXPECT_EQ(entries[4].name, "");

    EXPECT_EQ(Fake().snapshotFlags, 2u);
    EXPECT_EQ(Fake().snapshotPid, 0u);
    EXPECT_EQ(Fake().firstEntrySize, 296u);
    EXPECT_TRUE(Fake().firstEntryZeroFilled);
    EXPECT_EQ(Fake().process32FirstCalls, 1);
    EXPECT_EQ(Fake().process32NextCalls, 5);
    EXPECT_FALSE(HandleIsOpen(Fake().lastSnapshot));
}

TEST_F(FakeSnapshot, WalkLeftEarlyStillClosesTheHandle) {
    Fake().processes = {{0x24, "a.exe"}, {0x28, "b.exe"}};
    {
        ProcessSnapshot snapshot;
        SnapshotEntry entry;
        ASSERT_TRUE(snapshot.Next(entry));
        EXPECT_TRUE(HandleIsOpen(Fake().lastSnapshot));
    }
    EXPECT_FALSE(HandleIsOpen(Fake().lastSnapshot));
}

TEST_F(FakeSnapshot, EmptyOrRefusedSnapshotHasNoEntriesAndLeavesTheEntryAlone) {
    SnapshotEntry entry{7, "kept"};
    EXPECT_FALSE(ProcessSnapshot().Next(entry));
    EXPECT_FALSE(HandleIsOpen(Fake().lastSnapshot));

    Fake().refuseSnapshot = true;
    Fake().processes = {{0x24, "a.exe"}};
    ProcessSnapshot refused;
    EXPECT_FALSE(refused.Next(entry));
    EXPECT_FALSE(refused.Next(entry));
    EXPECT_EQ(entry.pid, 7u);
    EXPECT_EQ(entry.name, "kept");
}

TEST_F(FakeSnapshot, ModuleWalkCutsFullNameFields) {
    const std::string longName(256, 'm');
    const std::string longPath(260, 'p');
    Fake().modules = {{"self.exe", "C:\\self.exe"}, {longName, longPath}};
    ModuleSnapshot snapshot(0x24);
    ModuleRecord first, second, untouched{"x", "y"};
    ASSERT_TRUE(snapshot.Next(first));
    ASSERT_TRUE(snapshot.Next(second));
    EXPECT_FALSE(snapshot.Next(untouched));
    EXPECT_EQ(Fake().snapshotFlags, 8u);
    EXPECT_EQ(Fake().snapshotPid, 0x24u);
    EXPECT_EQ(first.name, "self.exe");
    EXPECT_EQ(first.path, "C:\\self.exe");
    EXPECT_EQ(second.name, longName);
    EXPECT_EQ(second.path, longPath);
    EXPECT_EQ(untouched.name, "x");
    EXPECT_FALSE(HandleIsOpen(Fake().lastSnapshot));
}

TEST_F(FakeSnapshot, ImagePathFillingTheBufferIsCutAtItsEnd) {
    Fake().moduleFileName = "C:\\" + std::string(300, 'd');
    const std::string path = GetProcessImagePath(::GetCurrentProcessId());
    EXPECT_EQ(path, Fake().moduleFileName.substr(0, 260));
    EXPECT_EQ(Fake().getModuleFileNameCalls, 1);
}

TEST_F(FakeSnapshot, ImagePathIsPlaceholderWithoutPsapi) {
    Fake().psapiLoadResult = nullptr;
    EXPECT_EQ(GetProcessImagePath(::GetCurrentProcessId()), "-");
    Fake().psapiLoadResult = testing::FakePsapi;
    Fake().moduleFileName = "";
    EXPECT_EQ(GetProcessImagePath(::GetCurrentProcessId()), "-") << "an empty answer is a failure";
}

// --- Name and path rules -----------------------------------------------------

TEST(NormalizeImagePath, RewritesNativePrefixes) {
    const std::string windows = "C:\\WINDOWS";
    EXPECT_EQ(NormalizeImagePath("\\SystemRoot\\System32\\smss.exe", windows), "C:\\WINDOWS\\System32\\smss.exe");
    EXPECT_EQ(NormalizeImagePath("\\SYSTEMROOT\\x.exe", windows), "C:\\WINDOWS\\x.exe");
    EXPECT_EQ(NormalizeImagePath("\\systemroot\\", windows), "C:\\WINDOWS\\");
    EXPECT_EQ(NormalizeImagePath("\\??\\C:\\x\\y.exe", windows), "C:\\x\\y.exe");
    EXPECT_EQ(NormalizeImagePath("\\??\\C:\\WINDOWS\\system32\\csrss.exe", windows), "C:\\WINDOWS\\system32\\csrss.exe");
    EXPECT_EQ(NormalizeImagePath("\\??\\", windows), "");
    // The second rule runs on the result of the first.
    EXPECT_EQ(NormalizeImagePath("\\SystemRoot\\a.exe", "\\??\\D:\\W"), "D:\\W\\a.exe");
}

TEST(NormalizeImagePath, LeavesEverythingElseAlone) {
    const std::string windows = "C:\\WINDOWS";
    for (const char* path : {"/systemroot/x.exe", "-", "", "\\SystemRoot", "\\??", "C:\\SystemRoot\\x.exe",
                             "\\\\?\\C:\\x.exe", "\\SystemRoot.exe"}) {
        EXPECT_EQ(NormalizeImagePath(path, windows), path) << path;
    }
    EXPECT_EQ(NormalizeImagePath("\\??\\C:\\Mixed\\Case.EXE"), "C:\\Mixed\\Case.EXE");
}

TEST(IsSystemPseudoProcess, MatchesWholeNamesIgnoringCase) {
    for (const char* name : {"[System Process]", "System", "SYSTEM", "system", "[SYSTEM PROCESS]"}) {
        EXPECT_TRUE(IsSystemPseudoProcess(name)) << name;
    }
    for (const char* name : {"SystemX", "system.exe", "Systemd.exe", "Syste", "", "[System Process]x",
                             "[System Idle Process]", " System", "services.exe"}) {
        EXPECT_FALSE(IsSystemPseudoProcess(name)) << name;
    }
}

TEST(VariablesUnit, SharedNamesAreSmallLetters) {
    for (std::string_view constant : {SystemProcessName, SystemName, SystemRootPrefix, NtPathPrefix,
                                      SystemIdleProcessName, SystemBracketName}) {
        EXPECT_EQ(LowerCaseAscii(constant), constant);
    }
    EXPECT_EQ(SystemRootPrefix.size(), 12u);
    EXPECT_EQ(NtPathPrefix.size(), 4u);
}

}  // namespace
}  // namespace pelorin
