// The platform source and what it remembers between refreshes: the figures
// from the system's process list (a process opened only for its image path,
// a refusing one shown as unopenable), the Toolhelp walk and one open per
// process without that list, image paths kept by PID and creation time,
// version strings kept by path and key while the file's stamp holds, both
// dropped when nothing running needs them. A scripted platform counts the
// calls; the real list is checked against a Toolhelp walk and a child's own
// handle, and a real file rewritten on disk shows its new strings.
#include <windows.h>

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "catalogue/ProcList.h"
#include "catalogue/ProcessSource.h"
#include "fixtures/ChildProcess.h"

namespace pelorin {
namespace {

// The scripted platform: processes by PID, files by path, and call counts.
struct ScriptedProcess {
    std::string path = "C:\\x\\a.exe";  // "-" when it cannot be read
    std::uint64_t creation = 7;
    bool timesValid = true;
    bool opens = true;
    bool otherBitness = false;  // its path can never be read
};
struct ScriptedFile {
    FileStamp stamp{100, 10};
    bool stampable = true;
    std::map<std::string, std::string> strings;
};

struct Script {
    std::map<std::uint32_t, ScriptedProcess> processes;
    std::map<std::string, ScriptedFile> files;
    bool systemList = false;  // the system's process list can be read
    int openAttempts = 0, opens = 0, pathReads = 0, stampReads = 0, versionReads = 0;
    int toolhelpWalks = 0, listReads = 0, handleReads = 0;
    std::vector<HANDLE> handlesUsed;
};
Script* g_script = nullptr;

// The process a handle stands for: the last one opened (a source reads one
// process at a time). The handle is a real event, so closing it is real.
std::uint32_t g_lastOpened = 0;

UniqueHandle ScriptOpen(std::uint32_t pid) {
    g_lastOpened = pid;
    ++g_script->openAttempts;
    const auto found = g_script->processes.find(pid);
    if (found == g_script->processes.end() || !found->second.opens) return UniqueHandle();
    ++g_script->opens;
    return UniqueHandle(::CreateEventA(nullptr, TRUE, FALSE, nullptr));
}

std::uint32_t ScriptWorkingSet(HANDLE process) {
    g_script->handlesUsed.push_back(process);
    ++g_script->handleReads;
    return 4096;
}

ProcessTimes ScriptTimes(HANDLE process) {
    g_script->handlesUsed.push_back(process);
    ++g_script->handleReads;
    ProcessTimes times;
    const ScriptedProcess& p = g_script->processes[g_lastOpened];
    if (!p.timesValid) return times;
    times.kernel = 10;
    times.user = 20;
    times.creation = p.creation;
    times.valid = true;
    return times;
}

std::string ScriptPath(HANDLE process) {
    g_script->handlesUsed.push_back(process);
    ++g_script->pathReads;
    return g_script->processes[g_lastOpened].path;
}

// The system's list carries other figures than the handle readings, so a
// test sees where each one came from.
bool ScriptSystemProcesses(std::vector<SystemProcess>& processes) {
    if (!g_script->systemList) return false;
    ++g_script->listReads;
    processes.clear();
    for (const auto& [pid, p] : g_script->processes) {
        SystemProcess process;
        process.entry = {pid, "p.exe"};
        process.workingSet = 8192;
        process.times.kernel = 30;
        process.times.user = 40;
        process.times.creation = p.creation;
        process.times.valid = true;
        processes.push_back(process);
    }
    return true;
}

std::vector<SnapshotEntry> ScriptSnapshot() {
    ++g_script->toolhelpWalks;
    std::vector<SnapshotEntry> entries;
    for (const auto& [pid, p] : g_script->processes) entries.push_back({pid, "p.exe"});
    return entries;
}

bool ScriptNeverReadable(HANDLE) { return g_script->processes[g_lastOpened].otherBitness; }

bool ScriptStamp(const std::string& path, FileStamp& stamp) {
    ++g_script->stampReads;
    const auto found = g_script->files.find(path);
    if (found == g_script->files.end() || !found->second.stampable) return false;
    stamp = found->second.stamp;
    return true;
}

std::string ScriptVersion(const std::string& fileName, const char* key) {
    ++g_script->versionReads;
    return g_script->files[fileName].strings[key];
}

const ProcessPlatform kScripted{&ScriptSystemProcesses, &ScriptSnapshot, &ScriptOpen,
                                &ScriptWorkingSet,      &ScriptTimes,    &ScriptPath,
                                &ScriptNeverReadable,   &ScriptStamp,    &ScriptVersion};

class ProcessSourceTest : public ::testing::Test {
protected:
    void SetUp() override { g_script = &script; }
    void TearDown() override { g_script = nullptr; }

    // What a refresh does with the source: a snapshot, then every process read.
    void Walk() {
        for (const SnapshotEntry& entry : source->Snapshot()) last[entry.pid] = source->Read(entry.pid);
    }

    Script script;
    std::unique_ptr<ProcessSource> source = CreatePlatformProcessSource(kScripted);
    std::map<std::uint32_t, ProcessReadings> last;
};

TEST_F(ProcessSourceTest, TheSystemListGivesTheFiguresAndAProcessIsOpenedOnlyForItsPath) {
    script.systemList = true;
    script.processes[10].path = "C:\\ten.exe";
    script.processes[11].path = "C:\\eleven.exe";
    for (int i = 0; i < 5; ++i) Walk();
    EXPECT_EQ(script.listReads, 5);
    EXPECT_EQ(script.toolhelpWalks, 0);
    EXPECT_EQ(script.opens, 2);  // once each, for the image path
    EXPECT_EQ(script.pathReads, 2);
    EXPECT_EQ(script.handleReads, 0);
    EXPECT_EQ(last[10].workingSet, 8192u);
    EXPECT_EQ(last[11].imagePath, "C:\\eleven.exe");
    EXPECT_TRUE(last[11].times.valid);
    EXPECT_EQ(last[11].times.user, 40u);
    EXPECT_EQ(last[11].times.kernel, 30u);

    // A new process under PID 10: opened again for its own image.
    script.processes[10] = ScriptedProcess{"C:\\new.exe", 500};
    Walk();
    EXPECT_EQ(last[10].imagePath, "C:\\new.exe");
    EXPECT_EQ(script.opens, 3);
}

TEST_F(ProcessSourceTest, AProcessThatRefusesShowsNothingAndIsTriedAgain) {
    script.systemList = true;
    script.processes[12].opens = false;
    Walk();
    Walk();
    // Listed by the system with figures, yet shown as one that cannot be opened.
    EXPECT_EQ(last[12].workingSet, 0u);
    EXPECT_EQ(last[12].imagePath, "-");
    EXPECT_FALSE(last[12].times.valid);
    EXPECT_EQ(script.openAttempts, 2);
    EXPECT_EQ(CacheSizeOf(*source).imagePaths, 0u);

    // Opened at last: figures and path from then on.
    script.processes[12].opens = true;
    Walk();
    EXPECT_EQ(last[12].workingSet, 8192u);
    EXPECT_EQ(last[12].imagePath, "C:\\x\\a.exe");
}

TEST_F(ProcessSourceTest, WithoutTheSystemListEveryProcessIsOpenedForItsFigures) {
    script.processes[13];
    Walk();
    Walk();
    EXPECT_EQ(script.toolhelpWalks, 2);
    EXPECT_EQ(script.opens, 2);
    EXPECT_EQ(script.handleReads, 4);
    EXPECT_EQ(script.pathReads, 1);
    EXPECT_EQ(last[13].workingSet, 4096u);
    EXPECT_EQ(last[13].times.user, 20u);
}

TEST_F(ProcessSourceTest, EachProcessIsOpenedOnceAndEveryReadingUsesThatHandle) {
    script.processes[10];
    const ProcessReadings r = source->Read(10);
    EXPECT_EQ(script.opens, 1);
    ASSERT_EQ(script.handlesUsed.size(), 3u);
    EXPECT_EQ(script.handlesUsed[0], script.handlesUsed[1]);
    EXPECT_EQ(script.handlesUsed[1], script.handlesUsed[2]);
    EXPECT_EQ(r.workingSet, 4096u);
    EXPECT_EQ(r.imagePath, "C:\\x\\a.exe");
    EXPECT_TRUE(r.times.valid);
    EXPECT_EQ(r.times.user, 20u);

    // A process that cannot be opened: nothing is read, the placeholders stand.
    script.processes[11].opens = false;
    const ProcessReadings refused = source->Read(11);
    EXPECT_EQ(refused.workingSet, 0u);
    EXPECT_EQ(refused.imagePath, "-");
    EXPECT_FALSE(refused.times.valid);
    EXPECT_EQ(script.pathReads, 1);
}

TEST_F(ProcessSourceTest, ImagePathIsReadOncePerProcessAndAgainForAReusedPid) {
    script.processes[20].path = "C:\\first.exe";
    script.processes[21].path = "C:\\other.exe";
    for (int i = 0; i < 5; ++i) Walk();
    EXPECT_EQ(script.pathReads, 2);
    EXPECT_EQ(script.opens, 10);  // working set and times are read every time
    EXPECT_EQ(last[20].imagePath, "C:\\first.exe");

    // PID 20 now belongs to a new process (another creation time, another image).
    script.processes[20] = ScriptedProcess{"C:\\second.exe", 99};
    Walk();
    EXPECT_EQ(last[20].imagePath, "C:\\second.exe");
    EXPECT_EQ(script.pathReads, 3);
    Walk();
    EXPECT_EQ(script.pathReads, 3);
}

TEST_F(ProcessSourceTest, UnreadablePathsAndUnknownCreationTimesAreReadEveryTime) {
    script.processes[30].path = "-";
    script.processes[31].timesValid = false;
    Walk();
    Walk();
    EXPECT_EQ(script.pathReads, 4);
    EXPECT_EQ(last[30].imagePath, "-");
    EXPECT_EQ(last[31].imagePath, "C:\\x\\a.exe");

    // Readable at last: shown at once, then kept.
    script.processes[30].path = "C:\\late.exe";
    Walk();
    EXPECT_EQ(last[30].imagePath, "C:\\late.exe");
    const int reads = script.pathReads;
    Walk();
    EXPECT_EQ(script.pathReads, reads + 1);  // only the one without a creation time
    EXPECT_EQ(CacheSizeOf(*source).imagePaths, 1u);
}

TEST_F(ProcessSourceTest, APathThatCanNeverBeReadIsNotTriedAgain) {
    script.systemList = true;
    script.processes[40] = ScriptedProcess{"-", 3, true, true, true};
    script.processes[41].path = "-";  // unreadable for now only
    for (int i = 0; i < 4; ++i) Walk();
    EXPECT_EQ(last[40].imagePath, "-");
    EXPECT_EQ(last[40].workingSet, 8192u);  // opened: its figures show
    EXPECT_EQ(script.pathReads, 1 + 4);
    EXPECT_EQ(script.openAttempts, 1 + 4);

    // A new process under the PID is a new question.
    script.processes[40] = ScriptedProcess{"C:\\y.exe", 4};
    Walk();
    EXPECT_EQ(last[40].imagePath, "C:\\y.exe");
}

TEST_F(ProcessSourceTest, PathsOfEndedProcessesAreDroppedAtTheNextSnapshot) {
    for (std::uint32_t pid = 100; pid < 150; ++pid) script.processes[pid];
    Walk();
    EXPECT_EQ(CacheSizeOf(*source).imagePaths, 50u);
    for (std::uint32_t pid = 100; pid < 140; ++pid) script.processes.erase(pid);
    source->Snapshot();
    EXPECT_EQ(CacheSizeOf(*source).imagePaths, 10u);

    // An empty walk is a failed snapshot, not the end of every process.
    std::map<std::uint32_t, ScriptedProcess> saved;
    saved.swap(script.processes);
    source->Snapshot();
    EXPECT_EQ(CacheSizeOf(*source).imagePaths, 10u);
}

TEST_F(ProcessSourceTest, VersionStringsAreKeptWhileTheFileStaysTheSame) {
    ScriptedFile& file = script.files["C:\\x\\a.exe"];
    file.strings["FileDescription"] = "Alpha";
    file.strings["CompanyName"] = "Maker";
    for (int i = 0; i < 4; ++i) {
        source->Snapshot();
        // Two hundred processes of one image: one stamp per snapshot, one read per key in all.
        for (int n = 0; n < 200; ++n) {
            EXPECT_EQ(source->VersionString("C:\\x\\a.exe", "FileDescription"), "Alpha");
            EXPECT_EQ(source->VersionString("C:\\x\\a.exe", "CompanyName"), "Maker");
        }
    }
    EXPECT_EQ(script.versionReads, 2);
    EXPECT_EQ(script.stampReads, 4);

    // Rewritten on disk: read again from the next snapshot on.
    file.stamp.lastWrite = 200;
    file.strings["FileDescription"] = "Beta";
    EXPECT_EQ(source->VersionString("C:\\x\\a.exe", "FileDescription"), "Alpha");
    source->Snapshot();
    EXPECT_EQ(source->VersionString("C:\\x\\a.exe", "FileDescription"), "Beta");
    EXPECT_EQ(source->VersionString("C:\\x\\a.exe", "CompanyName"), "Maker");
    EXPECT_EQ(script.versionReads, 4);

    // Replaced by a file of another size with the same time: read again too.
    file.stamp.size = 11;
    file.strings["CompanyName"] = "Other Maker";
    source->Snapshot();
    EXPECT_EQ(source->VersionString("C:\\x\\a.exe", "CompanyName"), "Other Maker");
}

TEST_F(ProcessSourceTest, VersionStringsOfFilesWithoutAStampAreNeverKept) {
    ScriptedFile& file = script.files["C:\\gone.dll"];
    file.stampable = false;
    file.strings["CompanyName"] = "Someone";
    source->Snapshot();
    EXPECT_EQ(source->VersionString("C:\\gone.dll", "CompanyName"), "Someone");
    EXPECT_EQ(source->VersionString("C:\\gone.dll", "CompanyName"), "Someone");
    EXPECT_EQ(script.versionReads, 2);
    EXPECT_EQ(CacheSizeOf(*source).versionStrings, 0u);

    // A missing resource reads as empty, and that is kept like any other answer.
    script.files["C:\\plain.exe"];
    EXPECT_EQ(source->VersionString("C:\\plain.exe", "CompanyName"), "");
    EXPECT_EQ(source->VersionString("C:\\plain.exe", "CompanyName"), "");
    EXPECT_EQ(script.versionReads, 3);
}

TEST_F(ProcessSourceTest, VersionStringsNoReadAskedForAreDropped) {
    for (int i = 0; i < 30; ++i) script.files["C:\\image" + std::to_string(i) + ".exe"];
    source->Snapshot();
    for (int i = 0; i < 30; ++i) source->VersionString("C:\\image" + std::to_string(i) + ".exe", "CompanyName");
    EXPECT_EQ(CacheSizeOf(*source).versionStrings, 30u);

    // The next refresh asks for three of them only ("More Info" cleared drops all).
    source->Snapshot();
    for (int i = 0; i < 3; ++i) source->VersionString("C:\\image" + std::to_string(i) + ".exe", "CompanyName");
    source->Snapshot();
    EXPECT_EQ(CacheSizeOf(*source).versionStrings, 3u);
    source->Snapshot();
    EXPECT_EQ(CacheSizeOf(*source).versionStrings, 0u);
}

// A copy of a fixture DLL in the temporary folder, removed afterwards.
class TempFile {
public:
    explicit TempFile(const std::string& name) {
        char temp[MAX_PATH + 1] = {};
        ::GetTempPathA(MAX_PATH, temp);
        path_ = std::string(temp) + "pelorin-source-" + std::to_string(::GetCurrentProcessId()) + "-" + name;
    }
    ~TempFile() { ::DeleteFileA(path_.c_str()); }
    TempFile(const TempFile&) = delete;
    TempFile& operator=(const TempFile&) = delete;

    // Copies the fixture over the file and gives it the write time.
    bool CopyFrom(const std::string& fixture, std::uint64_t lastWrite) const {
        if (!::CopyFileA(fixtures::FixturePath(fixture).c_str(), path_.c_str(), FALSE)) return false;
        UniqueHandle file(::CreateFileA(path_.c_str(), FILE_WRITE_ATTRIBUTES, 0, nullptr, OPEN_EXISTING, 0, nullptr));
        FILETIME time{static_cast<DWORD>(lastWrite), static_cast<DWORD>(lastWrite >> 32)};
        return file && ::SetFileTime(file.Get(), nullptr, nullptr, &time);
    }
    const std::string& Path() const { return path_; }

private:
    std::string path_;
};

TEST(RealProcessSourceTest, AFileRewrittenOnDiskShowsItsNewStrings) {
    TempFile image("image.dll");
    ASSERT_TRUE(image.CopyFrom("pelorin_fixture_known.dll", 0x01D9000000000000ull));
    const auto source = CreatePlatformProcessSource();
    source->Snapshot();
    EXPECT_EQ(source->VersionString(image.Path(), "FileDescription"), "Pelorin Fixture Module");
    EXPECT_EQ(source->VersionString(image.Path(), "CompanyName"), "Marrowby Test Works");

    ASSERT_TRUE(image.CopyFrom("pelorin_fixture_nocompany.dll", 0x01D9000100000000ull));
    source->Snapshot();
    EXPECT_EQ(source->VersionString(image.Path(), "FileDescription"), "Nameless Maker");
    EXPECT_EQ(source->VersionString(image.Path(), "CompanyName"), "");

    // Gone: nothing to read, and nothing kept from before.
    ::DeleteFileA(image.Path().c_str());
    source->Snapshot();
    EXPECT_EQ(source->VersionString(image.Path(), "FileDescription"), "");
}

TEST(RealProcessSourceTest, TheSystemListNamesTheProcessesOfAToolhelpWalkInItsOrder) {
    const auto source = CreatePlatformProcessSource();
    // Processes may start or end between the two walks: a few tries.
    std::vector<std::pair<std::uint32_t, std::string>> listed, walked;
    for (int attempt = 0; attempt < 5; ++attempt) {
        listed.clear();
        walked.clear();
        for (const SnapshotEntry& e : source->Snapshot()) listed.emplace_back(e.pid, e.name);
        ProcessSnapshot snapshot;
        SnapshotEntry e;
        while (snapshot.Next(e)) walked.emplace_back(e.pid, e.name);
        if (listed == walked) break;
    }
    EXPECT_FALSE(listed.empty());
    EXPECT_EQ(listed, walked);
}

TEST(RealProcessSourceTest, AChildsFiguresFromTheSystemListMatchItsOwnHandle) {
    fixtures::ChildProcess child;
    ASSERT_TRUE(child.Start("--touch-mib 16", 20000));
    const std::uint32_t pid = child.Pid();
    const auto source = CreatePlatformProcessSource();
    source->Snapshot();
    const ProcessReadings r = source->Read(pid);

    const UniqueHandle process = OpenQueryHandle(pid);
    const ProcessTimes own = ReadProcessTimes(process.Get());
    const std::uint32_t workingSet = ProcessWorkingSet(process.Get());
    ASSERT_TRUE(r.times.valid);
    EXPECT_EQ(r.times.creation, own.creation);
    EXPECT_GE(r.workingSet, 16u * 1024 * 1024);
    EXPECT_NEAR(static_cast<double>(r.workingSet), static_cast<double>(workingSet), 1024.0 * 1024);
    EXPECT_EQ(r.imagePath, GetProcessImagePath(pid));
}

TEST(RealProcessSourceTest, OnlyProcessesOfTheOtherBitnessAreNeverReadable) {
    fixtures::ChildProcess child;
    ASSERT_TRUE(child.Start(std::string(), 20000));
    const ProcessPlatform& platform = RealProcessPlatform();
    EXPECT_FALSE(platform.pathNeverReadable(OpenQueryHandle(child.Pid()).Get()));
    // Under a 64-bit Wine prefix its own services are 64-bit: their paths never come.
    int others = 0;
    for (const SnapshotEntry& entry : PlatformProcessSource().Snapshot()) {
        const UniqueHandle process = OpenQueryHandle(entry.pid);
        if (!process || !platform.pathNeverReadable(process.Get())) continue;
        ++others;
        EXPECT_EQ(platform.imagePath(process.Get()), "-") << entry.name;
    }
    if (others == 0) GTEST_SKIP() << "no process of the other bitness runs here";
}

TEST(RealProcessSourceTest, AChildIsReadWithItsPathAndTheSamePathFromMemory) {
    fixtures::ChildProcess child;
    ASSERT_TRUE(child.Start(std::string(), 20000));
    const std::uint32_t pid = child.Pid();
    const auto source = CreatePlatformProcessSource();
    bool listed = false;
    for (const SnapshotEntry& entry : source->Snapshot()) listed = listed || entry.pid == pid;
    ASSERT_TRUE(listed);
    const ProcessReadings first = source->Read(pid);
    EXPECT_EQ(first.imagePath, GetProcessImagePath(pid));
    EXPECT_NE(first.imagePath, "-");
    EXPECT_GT(first.workingSet, 0u);
    EXPECT_EQ(CacheSizeOf(*source).imagePaths, 1u);
    EXPECT_EQ(source->Read(pid).imagePath, first.imagePath);

    // Ended: gone from the next snapshot and from memory.
    child.Kill();
    source->Snapshot();
    EXPECT_EQ(CacheSizeOf(*source).imagePaths, 0u);
    EXPECT_EQ(source->Read(pid).imagePath, "-");
}

}  // namespace
}  // namespace pelorin
