// The platform source over a scripted machine: what it reads, when it reads
// it again, and what it makes of a system process list it cannot trust.
#include <gtest/gtest.h>

#include "refresh/ScriptedPlatform.h"

namespace pelorin {
namespace {

using test::script;
using test::ScriptedProcess;

class Source : public ::testing::Test {
protected:
    void SetUp() override { script = test::Script{}; }
    std::unique_ptr<ProcessSource> source = CreatePlatformProcessSource(test::ScriptedPlatform());
};

// Names longer than the snapshot's file name field are cut as Toolhelp cuts them.
TEST(SystemList, EveryEntryAndNameMustLieInWhatTheCallReturned) {
    const std::vector<ScriptedProcess> three = {{0, L""}, {4, L"System"}, {100, std::wstring(300, L'a') + L".exe"}};
    const std::string cut(259, 'a');
    struct Case {
        const char* what;
        void (*damage)(std::vector<unsigned char>& bytes, std::size_t& length);
        bool parses;
        std::vector<std::string> names;
    } cases[] = {
        {"whole", [](auto&, auto&) {}, true, {"[System Process]", "System", cut}},
        {"cut inside an entry", [](auto&, std::size_t& n) { n = test::kLayout.size * 2 + 10; }, false, {}},
        {"an offset that does not lead on", [](auto& b, auto&) { const ULONG one = 1; std::memcpy(&b[test::kLayout.size], &one, 4); },
         false, {}},
        {"an offset whose sum wraps round to the start", [](auto& b, auto&) {
             const ULONG back = 0u - static_cast<ULONG>(test::kLayout.size);
             std::memcpy(&b[test::kLayout.size], &back, sizeof back);
         }, false, {}},
        {"a name past the length", [](auto& b, auto&) { b[test::kLayout.size + test::kLayout.nameBuffer + 1] ^= 0x40; }, true,
         {"[System Process]", "", cut}},
    };
    for (const Case& c : cases) {
        std::vector<unsigned char> bytes(4096);
        std::size_t length = test::WriteSystemList(three, bytes.data());
        c.damage(bytes, length);
        std::vector<SystemProcess> parsed;
        ASSERT_EQ(ParseSystemProcesses(bytes.data(), length, parsed), c.parses) << c.what;
        std::vector<std::string> names;
        for (const SystemProcess& p : parsed) names.push_back(p.entry.name);
        EXPECT_EQ(names, c.names) << c.what;
    }
}

TEST_F(Source, ReadingsComeFromTheListWithItsClockAndPathsAreReadOncePerProcess) {
    const std::uint64_t large = sizeof(void*) == 8 ? 0x140000000 : 0xFFFFF000;  // pointer-sized: 5 GiB whole in 64-bit
    script.processes = {{100, L"a.exe", 4096, 10, 20, 7}, {200, L"b.exe", large, 30, 40, 9}};
    script.readCost = 300;
    const auto readAll = [&] {
        source->Snapshot();
        return std::pair{source->Read(100), source->Read(200)};
    };
    auto [a, b] = readAll();
    EXPECT_EQ(script.pathReads, 2);
    EXPECT_EQ(b.tick, 1000u);  // the list's moment, however long the path reads took
    EXPECT_EQ(b.workingSet, large);
    EXPECT_EQ(b.times.kernel, 30u);
    EXPECT_EQ(b.imagePath, "C:\\apps\\app.exe");
    readAll();
    EXPECT_EQ(script.pathReads, 2);
    // The PID now belongs to a process created later: its path is read anew.
    script.processes[1].creation = 99;
    readAll();
    EXPECT_EQ(script.pathReads, 3);
}

TEST_F(Source, AProcessThatRefusesShowsNothingAndIsAskedAgain) {
    script.processes = {{100, L"a.exe", 4096, 10, 20, 7}};
    script.processes[0].opens = false;
    for (int pass = 0; pass < 2; ++pass) {
        source->Snapshot();
        const ProcessReadings r = source->Read(100);
        EXPECT_EQ(r.workingSet, 0u);
        EXPECT_EQ(r.imagePath, "-");
        EXPECT_FALSE(r.times.valid);
    }
    script.processes[0].opens = true;
    source->Snapshot();
    EXPECT_EQ(source->Read(100).imagePath, "C:\\apps\\app.exe");
    // A path of the other width not given yet: only a 32-bit build never asks again.
    script.processes = {{200, L"b.exe", 0, 0, 0, 7, "-", true, true}};
    source->Snapshot(), source->Read(200), script.processes[0].path = "C:\\apps\\b.exe", source->Snapshot();
    EXPECT_EQ(source->Read(200).imagePath, sizeof(void*) == 8 ? "C:\\apps\\b.exe" : "-");
}

TEST_F(Source, WithoutTheListEachProcessIsOpenedAndItsClockReadAfterItsTimes) {
    script.listReadable = false;
    script.readCost = 100;
    script.processes = {{100, L"a.exe", 4096, 10, 20, 7}, {200, L"b.exe", 8192, 30, 40, 9}};
    ASSERT_EQ(source->Snapshot().size(), 2u);
    const ProcessReadings a = source->Read(100);
    const ProcessReadings b = source->Read(200);
    EXPECT_EQ(a.tick, 1100u);
    EXPECT_EQ(b.tick, 1300u);  // after a's path read and b's times
    EXPECT_EQ(b.times.user, 40u);
    EXPECT_EQ(b.workingSet, 8192u);
}

TEST_F(Source, VersionStringsAreKeptWhileTheFileIsUnchangedAndAFailedReadIsTriedAgain) {
    const std::string file = "C:\\apps\\app.exe";
    script.stamps[file] = {1, 100};
    script.versions[file + "|FileDescription"] = {VersionRead::Found, "App"};
    script.versions[file + "|CompanyName"] = {VersionRead::Failed, ""};
    const auto read = [&](const char* key) {
        source->Snapshot();
        return source->VersionString(file, key);
    };
    EXPECT_EQ(read("FileDescription"), "App");
    EXPECT_EQ(read("FileDescription"), "App");
    EXPECT_EQ(script.versionReads, 1);
    script.stamps[file] = {2, 100};  // rewritten on disk
    script.versions[file + "|FileDescription"] = {VersionRead::Found, "App 2"};
    EXPECT_EQ(read("FileDescription"), "App 2");

    EXPECT_EQ(read("CompanyName"), "");
    script.versions[file + "|CompanyName"] = {VersionRead::Found, "Maker"};
    EXPECT_EQ(read("CompanyName"), "Maker");
}

}  // namespace
}  // namespace pelorin
