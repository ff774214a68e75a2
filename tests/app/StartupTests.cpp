// Start-up pieces that stand alone: the debug privilege (through a fake
// table for every failure, and for real), the test-mode file, the window
// search of the single-instance guard, and what Pelorin.exe carries: its
// version resource, its manifest, its subsystem and its imports.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <vector>

#include "app/Startup.h"
#include "support/Handles.h"
#include "support/VersionInfo.h"

namespace pelorin {
namespace {

std::string BinFolder() {
    char buffer[MAX_PATH + 1] = {};
    const DWORD length = ::GetModuleFileNameA(nullptr, buffer, MAX_PATH);
    std::string path(buffer, length);
    return path.substr(0, path.find_last_of('\\') + 1);
}

// A privilege table whose answers the test sets and whose calls it records.
struct FakePrivileges {
    BOOL openResult = TRUE;
    BOOL lookupResult = TRUE;
    BOOL adjustResult = TRUE;
    DWORD lastError = ERROR_SUCCESS;

    int opens = 0, lookups = 0, adjusts = 0, closes = 0;
    HANDLE openedProcess = nullptr;
    DWORD access = 0;
    bool systemWasNull = false;
    std::string privilegeName;
    HANDLE adjustedToken = nullptr;
    HANDLE closedToken = nullptr;
    BOOL disableAll = TRUE;
    TOKEN_PRIVILEGES privileges = {};
    DWORD length = 0;
    bool previousWasNull = false;
};
FakePrivileges* g_fake = nullptr;
const HANDLE kFakeToken = reinterpret_cast<HANDLE>(0x1234);
const LUID kFakeLuid = {20, 0};

BOOL WINAPI FakeOpen(HANDLE process, DWORD access, PHANDLE token) {
    ++g_fake->opens;
    g_fake->openedProcess = process;
    g_fake->access = access;
    if (g_fake->openResult) *token = kFakeToken;
    return g_fake->openResult;
}
BOOL WINAPI FakeLookup(LPCSTR system, LPCSTR name, PLUID luid) {
    ++g_fake->lookups;
    g_fake->systemWasNull = system == nullptr;
    g_fake->privilegeName = name;
    if (g_fake->lookupResult) *luid = kFakeLuid;
    return g_fake->lookupResult;
}
BOOL WINAPI FakeAdjust(HANDLE token, BOOL disableAll, PTOKEN_PRIVILEGES state, DWORD length, PTOKEN_PRIVILEGES previous,
                       PDWORD) {
    ++g_fake->adjusts;
    g_fake->adjustedToken = token;
    g_fake->disableAll = disableAll;
    g_fake->privileges = *state;
    g_fake->length = length;
    g_fake->previousWasNull = previous == nullptr;
    return g_fake->adjustResult;
}
DWORD WINAPI FakeLastError() { return g_fake->lastError; }
BOOL WINAPI FakeClose(HANDLE handle) {
    ++g_fake->closes;
    g_fake->closedToken = handle;
    return TRUE;
}

constexpr PrivilegeApi kFakeApi = {&FakeOpen, &FakeLookup, &FakeAdjust, &FakeLastError, &FakeClose};

class DebugPrivilege : public ::testing::Test {
protected:
    void SetUp() override { g_fake = &fake; }
    void TearDown() override { g_fake = nullptr; }
    FakePrivileges fake;
};

TEST_F(DebugPrivilege, EnablesOneEntryWithTheLookedUpLuidAndClosesTheToken) {
    EXPECT_TRUE(EnableDebugPrivilege(kFakeApi));
    EXPECT_EQ(fake.openedProcess, ::GetCurrentProcess());
    EXPECT_EQ(fake.access, static_cast<DWORD>(TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY));
    EXPECT_EQ(fake.access, 40u);
    EXPECT_TRUE(fake.systemWasNull);
    EXPECT_EQ(fake.privilegeName, "SeDebugPrivilege");
    EXPECT_EQ(fake.adjustedToken, kFakeToken);
    EXPECT_FALSE(fake.disableAll);
    EXPECT_EQ(fake.privileges.PrivilegeCount, 1u);
    EXPECT_EQ(fake.privileges.Privileges[0].Luid.LowPart, kFakeLuid.LowPart);
    EXPECT_EQ(fake.privileges.Privileges[0].Attributes, static_cast<DWORD>(SE_PRIVILEGE_ENABLED));
    EXPECT_EQ(fake.length, 16u);
    EXPECT_TRUE(fake.previousWasNull);
    EXPECT_EQ(fake.closes, 1);
    EXPECT_EQ(fake.closedToken, kFakeToken);
}

TEST_F(DebugPrivilege, EveryFailureAnswersFalseAndClosesWhatWasOpened) {
    fake.openResult = FALSE;
    EXPECT_FALSE(EnableDebugPrivilege(kFakeApi));
    EXPECT_EQ(fake.lookups, 0);
    EXPECT_EQ(fake.closes, 0);

    fake = {};
    fake.lookupResult = FALSE;
    EXPECT_FALSE(EnableDebugPrivilege(kFakeApi));
    EXPECT_EQ(fake.adjusts, 0);
    EXPECT_EQ(fake.closes, 1);

    fake = {};
    fake.adjustResult = FALSE;
    EXPECT_FALSE(EnableDebugPrivilege(kFakeApi));
    EXPECT_EQ(fake.closes, 1);

    // The adjustment "succeeds" but the token does not hold the privilege.
    fake = {};
    fake.lastError = ERROR_NOT_ALL_ASSIGNED;
    EXPECT_FALSE(EnableDebugPrivilege(kFakeApi));
    EXPECT_EQ(fake.adjusts, 1);
    EXPECT_EQ(fake.closes, 1);
}

// Whether this process's token has the privilege enabled now.
bool DebugPrivilegeEnabled() {
    UniqueHandle token;
    if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, token.Put())) return false;
    LUID luid = {};
    if (!::LookupPrivilegeValueA(nullptr, "SeDebugPrivilege", &luid)) return false;
    DWORD size = 0;
    ::GetTokenInformation(token.Get(), TokenPrivileges, nullptr, 0, &size);
    std::vector<BYTE> buffer(size);
    if (size == 0 || !::GetTokenInformation(token.Get(), TokenPrivileges, buffer.data(), size, &size)) return false;
    const auto* privileges = reinterpret_cast<const TOKEN_PRIVILEGES*>(buffer.data());
    for (DWORD i = 0; i < privileges->PrivilegeCount; ++i) {
        const LUID_AND_ATTRIBUTES& p = privileges->Privileges[i];
        if (p.Luid.LowPart == luid.LowPart && p.Luid.HighPart == luid.HighPart)
            return (p.Attributes & SE_PRIVILEGE_ENABLED) != 0;
    }
    return false;
}

TEST(DebugPrivilegeReal, TheAnswerMatchesWhatTheTokenHoldsAfterwards) {
    const bool enabled = EnableDebugPrivilege();
    EXPECT_EQ(enabled, DebugPrivilegeEnabled());
    // A second call finds it enabled already and still says so.
    EXPECT_EQ(EnableDebugPrivilege(), enabled);
}

TEST(TestModeFile, OnlyAFileNamedTestingLogCounts) {
    char temp[MAX_PATH] = {};
    ::GetTempPathA(MAX_PATH, temp);
    const std::string folder = std::string(temp) + "pelorin-app-" + std::to_string(::GetCurrentProcessId());
    ASSERT_TRUE(::CreateDirectoryA(folder.c_str(), nullptr));
    const std::string marker = folder + "\\testing.log";

    EXPECT_FALSE(TestModeFileExists(folder + "\\"));
    ASSERT_TRUE(::CreateDirectoryA(marker.c_str(), nullptr));
    EXPECT_FALSE(TestModeFileExists(folder + "\\"));  // a folder of that name
    ASSERT_TRUE(::RemoveDirectoryA(marker.c_str()));
    {
        UniqueHandle file(::CreateFileA(marker.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
        ASSERT_TRUE(file.Valid());
    }
    EXPECT_TRUE(TestModeFileExists(folder + "\\"));
    EXPECT_TRUE(TestModeFileExists(folder));  // without the trailing backslash too
    const std::string other = folder + "\\other\\";
    EXPECT_FALSE(TestModeFileExists(other));

    ::DeleteFileA(marker.c_str());
    ::RemoveDirectoryA(folder.c_str());
}

TEST(SingleInstance, TheWindowSearchSkipsThisProcesssOwnWindows) {
    const HWND own = ::CreateWindowExA(0, "STATIC", "Pelorin", WS_OVERLAPPED, 0, 0, 50, 50, nullptr, nullptr,
                                       ::GetModuleHandleA(nullptr), nullptr);
    ASSERT_NE(own, nullptr);
    EXPECT_EQ(::FindWindowA(nullptr, "Pelorin"), own);
    EXPECT_EQ(FindRunningInstanceWindow(), nullptr);
    ::DestroyWindow(own);
}

// Pelorin.exe beside this test program.

std::vector<char> ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<char>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

TEST(PelorinExe, CarriesItsVersionResource) {
    const std::string exe = BinFolder() + "Pelorin.exe";
    EXPECT_EQ(ReadVersionString(exe, "FileDescription"), "Pelorin process viewer");
    EXPECT_EQ(ReadVersionString(exe, "CompanyName"), "marrowby");
    EXPECT_EQ(ReadVersionString(exe, "ProductName"), "Pelorin");
    EXPECT_EQ(ReadVersionString(exe, "OriginalFilename"), "Pelorin.exe");
    EXPECT_EQ(ReadVersionString(exe, "FileVersion"), "1.0.0.0");

    DWORD ignored = 0;
    const DWORD size = ::GetFileVersionInfoSizeA(exe.c_str(), &ignored);
    ASSERT_GT(size, 0u);
    std::vector<BYTE> data(size);
    ASSERT_TRUE(::GetFileVersionInfoA(exe.c_str(), 0, size, data.data()));
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    ASSERT_TRUE(::VerQueryValueA(data.data(), "\\", reinterpret_cast<void**>(&fixed), &length));
    EXPECT_EQ(fixed->dwFileVersionMS, MAKELONG(0, 1));
    EXPECT_EQ(fixed->dwFileVersionLS, 0u);
    EXPECT_EQ(fixed->dwFileType, static_cast<DWORD>(VFT_APP));
}

TEST(PelorinExe, CarriesAManifestForCommonControlsSixAsInvoker) {
    const std::string exe = BinFolder() + "Pelorin.exe";
    UniqueLibrary module(::LoadLibraryExA(exe.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE));
    ASSERT_TRUE(module.Valid());
    const HRSRC resource = ::FindResourceA(module.Get(), MAKEINTRESOURCEA(1), MAKEINTRESOURCEA(24));  // RT_MANIFEST
    ASSERT_NE(resource, nullptr);
    const HGLOBAL loaded = ::LoadResource(module.Get(), resource);
    const auto* bytes = static_cast<const char*>(::LockResource(loaded));
    ASSERT_NE(bytes, nullptr);
    const std::string manifest(bytes, ::SizeofResource(module.Get(), resource));
    EXPECT_NE(manifest.find("name=\"Microsoft.Windows.Common-Controls\" version=\"6.0.0.0\""), std::string::npos);
    EXPECT_NE(manifest.find("level=\"asInvoker\""), std::string::npos);
    std::size_t supported = 0;
    for (std::size_t at = manifest.find("<supportedOS"); at != std::string::npos;
         at = manifest.find("<supportedOS", at + 1)) {
        ++supported;
    }
    EXPECT_GE(supported, 4u);
    // Windows 10 and 11.
    EXPECT_NE(manifest.find("{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}"), std::string::npos);
}

TEST(PelorinExe, IsAGuiProgramThatImportsOnlySystemLibraries) {
    const std::vector<char> file = ReadFile(BinFolder() + "Pelorin.exe");
    ASSERT_GT(file.size(), sizeof(IMAGE_DOS_HEADER));
    const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(file.data());
    ASSERT_EQ(dos->e_magic, IMAGE_DOS_SIGNATURE);
    const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS32*>(file.data() + dos->e_lfanew);
    ASSERT_EQ(nt->Signature, IMAGE_NT_SIGNATURE);
    EXPECT_EQ(nt->FileHeader.Machine, IMAGE_FILE_MACHINE_I386);
    EXPECT_EQ(nt->OptionalHeader.Subsystem, IMAGE_SUBSYSTEM_WINDOWS_GUI);

    // Relative addresses to file offsets through the section table.
    const auto* sections = IMAGE_FIRST_SECTION(nt);
    const auto offsetOf = [&](DWORD rva) -> std::size_t {
        for (WORD i = 0; i < nt->FileHeader.NumberOfSections; ++i) {
            const IMAGE_SECTION_HEADER& s = sections[i];
            if (rva >= s.VirtualAddress && rva < s.VirtualAddress + std::max(s.Misc.VirtualSize, s.SizeOfRawData))
                return rva - s.VirtualAddress + s.PointerToRawData;
        }
        return 0;
    };
    const IMAGE_DATA_DIRECTORY& imports = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    ASSERT_NE(imports.VirtualAddress, 0u);
    const std::set<std::string> system = {"kernel32.dll", "user32.dll",  "gdi32.dll",   "comctl32.dll",
                                          "advapi32.dll", "shell32.dll", "version.dll", "msvcrt.dll"};
    std::vector<std::string> names;
    for (auto* entry = reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR*>(file.data() + offsetOf(imports.VirtualAddress));
         entry->Name != 0; ++entry) {
        std::string name = file.data() + offsetOf(entry->Name);
        std::transform(name.begin(), name.end(), name.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
        names.push_back(name);
        EXPECT_TRUE(system.count(name)) << "imports " << name;
    }
    EXPECT_FALSE(names.empty());
}

}  // namespace
}  // namespace pelorin
