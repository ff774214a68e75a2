// ReadVersionString over damaged files: an image cut off inside its resource
// section, a corrupt VS_VERSIONINFO block or resource entry, a zero-length
// file, a directory, and paths longer than MAX_PATH. Each answers the empty
// text for both keys the program asks for, without a crash or a hang.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "fixtures/ChildProcess.h"
#include "fixtures/DamagedImages.h"
#include "fixtures/Watchdog.h"
#include "reliability/ReliabilityDriver.h"
#include "support/Handles.h"
#include "support/VersionInfo.h"

namespace pelorin::reliability {
namespace {

using fixtures::Bytes;
using fixtures::Watchdog;

// A folder of its own under the temporary folder, removed with its files.
class ScratchFolder {
public:
    ScratchFolder() {
        char temp[MAX_PATH + 1] = {};
        ::GetTempPathA(MAX_PATH, temp);
        path_ = std::string(temp) + "pelorin-damaged-" + std::to_string(::GetCurrentProcessId()) + "\\";
        ::CreateDirectoryA(path_.c_str(), nullptr);
    }
    ~ScratchFolder() {
        for (const std::string& file : files_) ::DeleteFileA(file.c_str());
        ::RemoveDirectoryA(path_.c_str());
    }
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;

    std::string Write(const std::string& name, const Bytes& bytes) {
        const std::string file = path_ + name;
        files_.push_back(file);
        return fixtures::WriteFileBytes(file, bytes) ? file : std::string();
    }
    const std::string& Path() const { return path_; }

private:
    std::string path_;
    std::vector<std::string> files_;
};

const std::string kGoodFixture = "pelorin_fixture_known.dll";

TEST(DamagedVersionResources, EveryDamagedCopyOfAGoodImageGivesTheEmptyText) {
    const Bytes good = fixtures::ReadFileBytes(fixtures::FixturePath(kGoodFixture));
    ASSERT_FALSE(good.empty());
    const std::vector<fixtures::DamagedImage> images = fixtures::DamagedVersionImages(good);
    ASSERT_GE(images.size(), 15u) << "the version block of the fixture was not found";

    ScratchFolder folder;
    // The untouched copy reads, so what the damage takes away was there.
    const std::string copy = folder.Write("intact.dll", good);
    ASSERT_EQ(ReadVersionString(copy, "FileDescription"), "Pelorin Fixture Module");
    ASSERT_EQ(ReadVersionString(copy, "CompanyName"), "Marrowby Test Works");

    Watchdog watchdog(60000, "a version read");
    for (const fixtures::DamagedImage& image : images) {
        const std::string file = folder.Write(image.name + ".dll", image.bytes);
        ASSERT_FALSE(file.empty()) << image.name;
        EXPECT_EQ(ReadVersionString(file, "FileDescription"), "") << image.name;
        EXPECT_EQ(ReadVersionString(file, "CompanyName"), "") << image.name;
    }
}

TEST(DamagedVersionResources, AZeroLengthFileAndADirectoryGiveTheEmptyText) {
    ScratchFolder folder;
    const std::string empty = folder.Write("empty.dll", {});
    ASSERT_FALSE(empty.empty());
    Watchdog watchdog(30000, "a version read");
    EXPECT_EQ(ReadVersionString(empty, "FileDescription"), "");
    EXPECT_EQ(ReadVersionString(empty, "CompanyName"), "");

    for (const std::string& directory : {folder.Path(), folder.Path().substr(0, folder.Path().size() - 1)}) {
        EXPECT_EQ(ReadVersionString(directory, "FileDescription"), "") << directory;
        EXPECT_EQ(ReadVersionString(directory, "CompanyName"), "") << directory;
    }
}

// Creates every folder of a long path through the \\?\ form.
bool CreateLongFolders(const std::wstring& folder) {
    for (std::size_t at = folder.find(L'\\', 7); at != std::wstring::npos; at = folder.find(L'\\', at + 1)) {
        const std::wstring part = folder.substr(0, at);
        if (!::CreateDirectoryW(part.c_str(), nullptr) && ::GetLastError() != ERROR_ALREADY_EXISTS) return false;
    }
    return true;
}

void RemoveLongFolders(std::wstring folder, std::size_t keep) {
    while (folder.size() > keep) {
        ::RemoveDirectoryW(folder.c_str());
        const std::size_t slash = folder.find_last_of(L'\\');
        if (slash == std::wstring::npos) break;
        folder.resize(slash);
    }
}

TEST(DamagedVersionResources, PathsLongerThanMaxPathGiveTheEmptyText) {
    ScratchFolder folder;
    // Twelve folders of 30 letters: well past MAX_PATH.
    std::string longFolder = folder.Path();
    for (int i = 0; i < 12; ++i) longFolder += std::string(30, static_cast<char>('a' + i)) + "\\";
    const std::string longFile = longFolder + kGoodFixture;
    ASSERT_GT(longFile.size(), static_cast<std::size_t>(MAX_PATH));

    Watchdog watchdog(30000, "a version read");
    // Nothing there.
    EXPECT_EQ(ReadVersionString(longFile, "FileDescription"), "");
    EXPECT_EQ(ReadVersionString(longFile + std::string(400, 'x'), "CompanyName"), "");

    // A good image really there, reachable only through the \\?\ form. The
    // platform may refuse the long ANSI path (the empty text) or read it (the
    // true value); nothing else, and no overrun of a MAX_PATH buffer.
    const std::wstring wideFolder = L"\\\\?\\" + std::wstring(longFolder.begin(), longFolder.end());
    const std::wstring wideFile = wideFolder + std::wstring(kGoodFixture.begin(), kGoodFixture.end());
    const std::string source = fixtures::FixturePath(kGoodFixture);
    const ScopeExit cleanup([&] {
        ::DeleteFileW(wideFile.c_str());
        RemoveLongFolders(wideFolder.substr(0, wideFolder.size() - 1), 4 + folder.Path().size() - 1);
    });
    ASSERT_TRUE(CreateLongFolders(wideFolder));
    ASSERT_TRUE(::CopyFileW(std::wstring(source.begin(), source.end()).c_str(), wideFile.c_str(), FALSE));
    const std::string description = ReadVersionString(longFile, "FileDescription");
    const std::string company = ReadVersionString(longFile, "CompanyName");
    EXPECT_TRUE(description.empty() || description == "Pelorin Fixture Module") << description;
    EXPECT_TRUE(company.empty() || company == "Marrowby Test Works") << company;
    PrintFigure("version damage", "existing file at a " + std::to_string(longFile.size()) + "-character ANSI path",
                description.empty() ? "empty text" : "read");
}

// The description as the platform alone reads it, under the first translation.
std::string PlatformDescription(const std::string& file) {
    DWORD unused = 0;
    const DWORD size = ::GetFileVersionInfoSizeA(file.c_str(), &unused);
    if (size == 0 || size > 16 * 1024 * 1024) return {};
    std::vector<unsigned char> block(size);
    if (!::GetFileVersionInfoA(file.c_str(), 0, size, block.data())) return {};
    void* translation = nullptr;
    UINT length = 0;
    if (!::VerQueryValueA(block.data(), "\\VarFileInfo\\Translation", &translation, &length) || length < 4) return {};
    const auto* ids = static_cast<const WORD*>(translation);
    char path[64] = {};
    std::snprintf(path, sizeof path, "\\StringFileInfo\\%04x%04x\\FileDescription", ids[0], ids[1]);
    void* value = nullptr;
    if (!::VerQueryValueA(block.data(), path, &value, &length) || value == nullptr || length <= 1) return {};
    return std::string(static_cast<const char*>(value), length - 1);
}

// The check in front of the platform must not cost a sound file its strings:
// every image of the system folder that the platform reads is let through.
TEST(DamagedVersionResources, EverySystemImageThePlatformReadsIsLetThrough) {
    char system[MAX_PATH] = {};
    ASSERT_GT(::GetSystemDirectoryA(system, MAX_PATH), 0u);
    std::vector<std::string> files = {fixtures::FixturePath("Pelorin.exe"), fixtures::FixturePath(kGoodFixture),
                                      fixtures::FixturePath("pelorin_fixture_twotranslations.dll")};
    for (const char* pattern : {"\\*.dll", "\\*.exe"}) {
        WIN32_FIND_DATAA found = {};
        const HANDLE search = ::FindFirstFileA((std::string(system) + pattern).c_str(), &found);
        if (search == INVALID_HANDLE_VALUE) continue;
        do {
            if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
                files.push_back(std::string(system) + "\\" + found.cFileName);
        } while (::FindNextFileA(search, &found));
        ::FindClose(search);
    }
    ASSERT_GT(files.size(), 50u);

    int read = 0;
    for (const std::string& file : files) {
        const std::string description = PlatformDescription(file);
        if (description.empty()) continue;
        ++read;
        EXPECT_TRUE(VersionResourceIsIntact(file)) << file;
        EXPECT_EQ(ReadVersionString(file, "FileDescription"), description) << file;
    }
    EXPECT_GT(read, 50);
    PrintFigure("version damage", "system images the platform reads, all let through",
                std::to_string(read) + " of " + std::to_string(files.size()));
}

}  // namespace
}  // namespace pelorin::reliability
