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
    std::vector<char> block(::GetFileVersionInfoSizeA(file.c_str(), nullptr));
    void* value = nullptr;
    UINT length = 0;
    const bool found = !block.empty() &&
                       ::GetFileVersionInfoA(file.c_str(), 0, static_cast<DWORD>(block.size()), block.data()) &&
                       ::VerQueryValueA(block.data(), path, &value, &length) && value;
    return found ? static_cast<const char*>(value) : "<none>";
}

TEST(ReadVersionString, Fixtures) {
    ASSERT_EQ(PlatformString(Fixture("notranslation"), "\\StringFileInfo\\040904b0\\FileDescription"),
              "Untranslated Description");
    ASSERT_EQ(PlatformString(Fixture("twotranslations"), "\\StringFileInfo\\040704e4\\CompanyName"), "Zweite Firma");
    const struct { const char* fixture; const char* key; const char* expected = ""; } cases[] = {
        {"known", "FileDescription", "Pelorin Fixture Module"}, {"known", "CompanyName", "Marrowby Test Works"},
        {"known", "LegalCopyright"}, {"known", nullptr}, {"missing", "FileDescription"},
        {"noversion", "FileDescription"}, {"notranslation", "FileDescription"}, {"notranslation", "CompanyName"},
        {"twotranslations", "FileDescription", "First Translation"},
        {"twotranslations", "CompanyName"},  // only the second translation has one
        {"emptydescription", "FileDescription"}, {"emptydescription", "CompanyName", "Marrowby Test Works"},
        {"nocompany", "FileDescription", "Nameless Maker"}, {"nocompany", "CompanyName"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ReadVersionString(Fixture(c.fixture), c.key), c.expected) << c.fixture << " " << c.key;
}

// Each is judged in under 100 ms of the thread's processor time (which load
// does not stretch), the crafted one with its 4096³ paths too.
TEST(ReadVersionString, DamagedImagesGiveTheEmptyTextAtOnce) {
    const fixtures::Bytes good = fixtures::ReadFileBytes(Fixture("known"));
    std::vector<fixtures::DamagedImage> images = fixtures::DamagedVersionImages(good);
    ASSERT_FALSE(images.empty());
    images.push_back({"good", good, true});  // the same way of writing a copy keeps a good image readable
    const test::TempFolder folder;
    const auto processorTime = [] {
        FILETIME unused, kernel, user;
        ::GetThreadTimes(::GetCurrentThread(), &unused, &unused, &kernel, &user);
        return (std::uint64_t{kernel.dwHighDateTime} << 32 | kernel.dwLowDateTime) + (std::uint64_t{user.dwHighDateTime} << 32 | user.dwLowDateTime);
    };
    for (const fixtures::DamagedImage& image : images) {
        const std::string file = folder.File(image.name + ".dll");
        const bool intact = &image == &images.back();
        ASSERT_TRUE(fixtures::WriteFileBytes(file, image.bytes));
        const std::uint64_t before = processorTime();
        EXPECT_EQ(VersionResourceIsIntact(file), image.treeHoldsTogether) << image.name;
        EXPECT_LT(processorTime() - before, 100u * 10000) << image.name;  // 100 ns units
        EXPECT_EQ(ReadVersionString(file, "FileDescription"), intact ? "Pelorin Fixture Module" : "") << image.name;
        EXPECT_EQ(ReadVersionString(file, "CompanyName"), intact ? "Marrowby Test Works" : "") << image.name;
    }
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
    using enum VersionRead;
    for (auto [file, read] : {std::pair{Fixture("known"), Found}, {Fixture("noversion"), Absent},
                              {Fixture("notranslation"), Absent}, {locked, Failed}, {Fixture("missing"), Failed}}) {
        EXPECT_EQ(ReadVersionValue(file, "FileDescription", value), read) << file;
        EXPECT_EQ(value.empty(), read != Found) << file;
    }
}

}  // namespace
}  // namespace pelorin
