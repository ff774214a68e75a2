#include "support/VersionInfo.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/TestSupport.h"
#include "fixtures/DamagedImages.h"

namespace pelorin {
namespace {

std::string Fixture(const char* name) { return test::FixturePath(std::string("pelorin_fixture_") + name + ".dll"); }

// A string read straight through the platform, to show that a fixture holds
// what the reader must not find.
std::string PlatformString(const std::string& file, const char* path) {
    DWORD unused = 0;
    std::vector<char> block(::GetFileVersionInfoSizeA(file.c_str(), &unused));
    void* value = nullptr;
    UINT length = 0;
    if (block.empty() || !::GetFileVersionInfoA(file.c_str(), 0, static_cast<DWORD>(block.size()), block.data()) ||
        !::VerQueryValueA(block.data(), path, &value, &length) || value == nullptr)
        return "<none>";
    return static_cast<const char*>(value);
}

TEST(ReadVersionString, Fixtures) {
    ASSERT_EQ(PlatformString(Fixture("notranslation"), "\\StringFileInfo\\040904b0\\FileDescription"),
              "Untranslated Description");
    ASSERT_EQ(PlatformString(Fixture("twotranslations"), "\\StringFileInfo\\040704e4\\CompanyName"), "Zweite Firma");
    const struct { const char* fixture; const char* key; const char* expected; } cases[] = {
        {"known", "FileDescription", "Pelorin Fixture Module"}, {"known", "CompanyName", "Marrowby Test Works"},
        {"known", "LegalCopyright", ""}, {"known", nullptr, ""}, {"missing", "FileDescription", ""},
        {"noversion", "FileDescription", ""}, {"notranslation", "FileDescription", ""},
        {"notranslation", "CompanyName", ""}, {"twotranslations", "FileDescription", "First Translation"},
        {"twotranslations", "CompanyName", ""},  // only the second translation has one
        {"emptydescription", "FileDescription", ""}, {"emptydescription", "CompanyName", "Marrowby Test Works"},
        {"nocompany", "FileDescription", "Nameless Maker"}, {"nocompany", "CompanyName", ""},
    };
    for (const auto& c : cases) {
        const std::string key = c.key ? c.key : "(null)";
        EXPECT_EQ(ReadVersionString(Fixture(c.fixture), c.key), c.expected) << c.fixture << " " << key;
    }
}

TEST(ReadVersionString, DamagedImagesGiveTheEmptyText) {
    const fixtures::Bytes good = fixtures::ReadFileBytes(Fixture("known"));
    const std::vector<fixtures::DamagedImage> damaged = fixtures::DamagedVersionImages(good);
    ASSERT_FALSE(damaged.empty());
    const test::TempFolder folder;
    for (const fixtures::DamagedImage& image : damaged) {
        const std::string file = folder.File(image.name + ".dll");
        ASSERT_TRUE(fixtures::WriteFileBytes(file, image.bytes));
        EXPECT_EQ(VersionResourceIsIntact(file), image.treeHoldsTogether) << image.name;
        EXPECT_EQ(ReadVersionString(file, "FileDescription"), "") << image.name;
        EXPECT_EQ(ReadVersionString(file, "CompanyName"), "") << image.name;
    }
    // The same way of writing a copy keeps a good image readable.
    ASSERT_TRUE(fixtures::WriteFileBytes(folder.File("good.dll"), good));
    EXPECT_TRUE(VersionResourceIsIntact(folder.File("good.dll")));
    EXPECT_EQ(ReadVersionString(folder.File("good.dll"), "FileDescription"), "Pelorin Fixture Module");
}

// A file that cannot be read now is a failure to try again; one read without
// the value is an answer.
TEST(ReadVersionValue, TellsAFileThatCouldNotBeReadFromOneWithoutTheValue) {
    const test::TempFolder folder;
    const std::string locked = folder.File("locked.dll");
    ASSERT_TRUE(::CopyFileA(Fixture("known").c_str(), locked.c_str(), FALSE));
    const UniqueHandle hold(::CreateFileA(locked.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(hold);
    std::string value = "old";
    for (auto [file, read] : {std::pair{Fixture("known"), VersionRead::Found}, {Fixture("noversion"), VersionRead::Absent},
                              {Fixture("notranslation"), VersionRead::Absent}, {locked, VersionRead::Failed},
                              {Fixture("missing"), VersionRead::Failed}}) {
        EXPECT_EQ(ReadVersionValue(file, "FileDescription", value), read) << file;
        EXPECT_EQ(value.empty(), read != VersionRead::Found) << file;
    }
}

// Every call allocates a whole version block; none may stay behind.
TEST(ReadVersionString, RepeatedReadsLeavePrivateMemoryFlat) {
    const std::string files[] = {Fixture("known"), Fixture("noversion"), Fixture("notranslation"),
                                 Fixture("twotranslations"), Fixture("missing")};
    const char* keys[] = {"FileDescription", "CompanyName", "NoSuchKey"};
    std::size_t characters = 0;
    auto read = [&](int calls) {
        for (int i = 0; i < calls; ++i) characters += ReadVersionString(files[i % 5], keys[i % 3]).size();
    };
    read(300);  // heap growth of the first calls and file caches
    const std::uint64_t before = test::OwnPrivateBytes();
    ASSERT_GT(before, 0u);
    read(5000);
    const long long growth = static_cast<long long>(test::OwnPrivateBytes()) - static_cast<long long>(before);
    EXPECT_GT(characters, 0u);
    // Three reads in five allocate a block of a kilobyte or more: a leak on any
    // of their paths would add megabytes.
    EXPECT_LT(growth, 256 * 1024);
}

}  // namespace
}  // namespace pelorin
