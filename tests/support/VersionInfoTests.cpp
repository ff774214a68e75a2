#include "support/VersionInfo.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "fixtures/ChildProcess.h"
#include "fixtures/DamagedImages.h"
#include "fixtures/ProcessCounters.h"

namespace pelorin {
namespace {

using fixtures::FixturePath;

std::string Fixture(const char* name) {
    return FixturePath(std::string("pelorin_fixture_") + name + ".dll");
}

// A string read straight through the platform under a given translation, to
// show that a fixture really holds what a test expects it not to read.
std::string RawVersionString(const std::string& file, const char* path) {
    DWORD unused = 0;
    const DWORD size = ::GetFileVersionInfoSizeA(file.c_str(), &unused);
    if (size == 0) return "<no resource>";
    std::vector<unsigned char> block(size);
    if (!::GetFileVersionInfoA(file.c_str(), 0, size, block.data())) return "<unreadable>";
    void* value = nullptr;
    UINT length = 0;
    if (!::VerQueryValueA(block.data(), path, &value, &length) || value == nullptr) return "<missing>";
    return static_cast<const char*>(value);
}

TEST(ReadVersionString, KnownFixture) {
    const std::string file = Fixture("known");
    EXPECT_EQ(ReadVersionString(file, "FileDescription"), "Pelorin Fixture Module");
    EXPECT_EQ(ReadVersionString(file, "CompanyName"), "Marrowby Test Works");
    EXPECT_EQ(ReadVersionString(file, "FileVersion"), "1.2.3.4");
    EXPECT_EQ(ReadVersionString(file, "LegalCopyright"), "");
}

TEST(ReadVersionString, NoResourceOrNoFile) {
    EXPECT_EQ(ReadVersionString(Fixture("noversion"), "FileDescription"), "");
    EXPECT_EQ(ReadVersionString(Fixture("noversion"), "CompanyName"), "");
    EXPECT_EQ(ReadVersionString(FixturePath("no_such_file.dll"), "FileDescription"), "");
    EXPECT_EQ(ReadVersionString("", "FileDescription"), "");
    EXPECT_EQ(ReadVersionString(Fixture("known"), nullptr), "");
}

TEST(ReadVersionString, NoTranslationMeansNothingEvenWithStrings) {
    const std::string file = Fixture("notranslation");
    ASSERT_EQ(RawVersionString(file, "\\StringFileInfo\\040904b0\\FileDescription"), "Untranslated Description");
    EXPECT_EQ(ReadVersionString(file, "FileDescription"), "");
    EXPECT_EQ(ReadVersionString(file, "CompanyName"), "");
}

TEST(ReadVersionString, OnlyTheFirstTranslationIsRead) {
    const std::string file = Fixture("twotranslations");
    ASSERT_EQ(RawVersionString(file, "\\StringFileInfo\\040704e4\\CompanyName"), "Zweite Firma");
    EXPECT_EQ(ReadVersionString(file, "FileDescription"), "First Translation");
    EXPECT_EQ(ReadVersionString(file, "CompanyName"), "");
}

TEST(ReadVersionString, EmptyAndMissingValues) {
    EXPECT_EQ(ReadVersionString(Fixture("emptydescription"), "FileDescription"), "");
    EXPECT_EQ(ReadVersionString(Fixture("emptydescription"), "CompanyName"), "Marrowby Test Works");
    EXPECT_EQ(ReadVersionString(Fixture("nocompany"), "FileDescription"), "Nameless Maker");
    EXPECT_EQ(ReadVersionString(Fixture("nocompany"), "CompanyName"), "");
}

// Every call allocates the whole version block; none may stay behind.
TEST(ReadVersionString, RepeatedCallsLeaveNoMemoryBehind) {
    const std::string files[] = {Fixture("known"), Fixture("noversion"), Fixture("notranslation"),
                                 Fixture("twotranslations"), FixturePath("no_such_file.dll")};
    const char* keys[] = {"FileDescription", "CompanyName", "NoSuchKey"};
    std::size_t characters = 0;
    auto round = [&](int calls) {
        for (int i = 0; i < calls; ++i) characters += ReadVersionString(files[i % 5], keys[i % 3]).size();
    };
    round(300);  // warm-up: heap growth of the first calls, file caches
    const std::uint64_t before = fixtures::OwnPrivateBytes();
    ASSERT_GT(before, 0u) << "private bytes cannot be read here";
    round(10000);
    const std::uint64_t after = fixtures::OwnPrivateBytes();
    const long long growth = static_cast<long long>(after) - static_cast<long long>(before);
    std::printf("private bytes: before %llu, after 10000 calls %llu, growth %lld\n",
                static_cast<unsigned long long>(before), static_cast<unsigned long long>(after), growth);
    EXPECT_GT(characters, 0u);
    // Each block is over 1 KiB, so leaking it on even one path in five would
    // grow by megabytes; 256 KiB leaves room for heap bookkeeping only.
    EXPECT_LT(growth, 256 * 1024);
}

// A damaged image is refused before the platform's reader sees it (it faults
// or overruns its buffer on some); a good image, one whose tree only lacks a
// value, or a file that is no PE image at all, is let through; a file that
// cannot be read is refused. Either way no damaged copy yields a text.
TEST(VersionResourceIsIntact, RefusesDamagedImagesAndLetsTheRestThrough) {
    const fixtures::Bytes good = fixtures::ReadFileBytes(Fixture("known"));
    const std::vector<fixtures::DamagedImage> damaged = fixtures::DamagedVersionImages(good);
    ASSERT_FALSE(damaged.empty());
    char temp[MAX_PATH + 1] = {};
    ::GetTempPathA(MAX_PATH, temp);
    const std::string file = std::string(temp) + "pelorin-support-image-" + std::to_string(::GetCurrentProcessId());

    for (const fixtures::DamagedImage& image : damaged) {
        ASSERT_TRUE(fixtures::WriteFileBytes(file, image.bytes));
        EXPECT_EQ(VersionResourceIsIntact(file), image.treeHoldsTogether) << image.name;
        EXPECT_EQ(ReadVersionString(file, "FileDescription"), "") << image.name;
    }
    ASSERT_TRUE(fixtures::WriteFileBytes(file, good));
    EXPECT_TRUE(VersionResourceIsIntact(file));
    EXPECT_EQ(ReadVersionString(file, "FileDescription"), "Pelorin Fixture Module");

    // An MZ stub with a 16-bit NE header behind it, and plain text.
    fixtures::Bytes stub(128, 0);
    stub[0] = 'M', stub[1] = 'Z', stub[0x3C] = 0x40, stub[0x40] = 'N', stub[0x41] = 'E';
    ASSERT_TRUE(fixtures::WriteFileBytes(file, stub));
    EXPECT_TRUE(VersionResourceIsIntact(file));
    ASSERT_TRUE(fixtures::WriteFileBytes(file, {'t', 'e', 'x', 't'}));
    EXPECT_TRUE(VersionResourceIsIntact(file));
    ::DeleteFileA(file.c_str());

    EXPECT_TRUE(VersionResourceIsIntact(Fixture("noversion")));
    EXPECT_FALSE(VersionResourceIsIntact(FixturePath("no_such_file.dll")));
    EXPECT_FALSE(VersionResourceIsIntact(temp));  // a folder
}

}  // namespace
}  // namespace pelorin
