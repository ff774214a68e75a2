#include "catalogue/ProcessSnapshot.h"

#include <algorithm>
#include <cwchar>
#include <string>
#include <utility>
#include <vector>

#include "catalogue/LazyBinding.h"
#include "catalogue/PsAPI.h"
#include "catalogue/VariablesUnit.h"
#include "support/FastStrings.h"
#include "support/SystemInfo.h"

namespace pelorin {
namespace {

constexpr DWORD SnapProcesses = 2;  // TH32CS_SNAPPROCESS
constexpr DWORD SnapModules = 8;    // TH32CS_SNAPMODULE
constexpr DWORD SnapModules32 = 0x10;  // TH32CS_SNAPMODULE32
// A 64-bit program asks for a 32-bit process's own modules as well as the
// 64-bit ones the system maps into it.
constexpr DWORD ModuleSnapshotFlags = SnapModules | (Is64BitBuild ? SnapModules32 : 0);
constexpr DWORD QueryLimitedAccess = 0x1000;  // PROCESS_QUERY_LIMITED_INFORMATION

// QueryFullProcessImageNameW, which kernel32 has from Vista on.
struct ImageNameBinding {
    decltype(&::QueryFullProcessImageNameW) queryFullProcessImageName;
};

constinit LazyBinding<ImageNameBinding> imageName;

bool FillImageName(const ModuleApi& api, ImageNameBinding& t) noexcept {
    const HMODULE kernel = api.getModuleHandle("kernel32.dll");
    if (!kernel) return false;
    t.queryFullProcessImageName =
        LookUpEntry<decltype(t.queryFullProcessImageName)>(api, kernel, "QueryFullProcessImageNameW");
    return true;
}
constexpr UINT WindowsFolderCapacity = 261;

// EnumProcessModulesEx, which PSAPI.dll has from Vista on.
struct ModuleListBinding {
    decltype(&::EnumProcessModulesEx) enumProcessModulesEx;
};

constinit LazyBinding<ModuleListBinding> moduleList;

bool FillModuleList(const ModuleApi& api, ModuleListBinding& t) noexcept {
    if (!pelorin::LoadPsapi()) return false;
    t.enumProcessModulesEx =
        LookUpEntry<decltype(t.enumProcessModulesEx)>(api, BoundPsapi()->psapi, "EnumProcessModulesEx");
    return true;
}

std::string FileNameOf(const std::string& path) { return CopyFrom(path, LastDelimiterPos("\\", path) + 1); }

template <std::size_t N>
std::wstring_view Field(const wchar_t (&field)[N]) { return std::wstring_view(field, ::wcsnlen(field, N)); }

// The path of a module of the process (null: its image) as its loader holds
// it, whole whatever its length; empty when it cannot be read.
std::wstring ModuleFileName(HANDLE process, HMODULE module) {
    return WholePath([&](wchar_t* buffer, DWORD size) { return pelorin::GetModuleFileNameExW(process, module, buffer, size); });
}

// Every module of a process by PSAPI's list, 32-bit ones included; none when
// it cannot be read.
std::vector<ModuleRecord> EnumeratedModules(HANDLE process) {
    std::vector<ModuleRecord> modules;
    const ModuleListBinding* t = moduleList.Bind(&FillModuleList);
    if (!t || !t->enumProcessModulesEx) return modules;
    std::vector<HMODULE> handles(256);
    DWORD needed = 0;
    // Grown until the list fits: the process may load modules between the calls.
    for (int attempt = 0;; ++attempt) {
        const auto bytes = static_cast<DWORD>(handles.size() * sizeof(HMODULE));
        if (!t->enumProcessModulesEx(process, handles.data(), bytes, &needed, LIST_MODULES_ALL)) return modules;
        if (needed <= bytes || attempt == 3) break;
        handles.resize(needed / sizeof(HMODULE) + 16);
    }
    handles.resize(std::min<std::size_t>(handles.size(), needed / sizeof(HMODULE)));
    for (const HMODULE module : handles) {
        ModuleRecord record;
        record.path = AnsiFromWide(ModuleFileName(process, module));
        if (record.path.empty()) continue;
        record.name = FileNameOf(record.path);
        modules.push_back(std::move(record));
    }
    return modules;
}

std::uint64_t FileTimeToCount(const FILETIME& time) {
    return (static_cast<std::uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
}

// Whole-name match of the locale-lowered name against a small-letter constant.
// One character more than the constant is enough to tell a longer name apart.
bool EqualsLowered(std::string_view name, std::string_view constant) {
    std::string head(name.substr(0, constant.size() + 1));
    if (!head.empty()) ::CharLowerBuffA(head.data(), static_cast<DWORD>(head.size()));
    return head == constant;
}

bool HasPrefixIgnoringAsciiCase(std::string_view path, std::string_view smallPrefix) {
    return path.size() >= smallPrefix.size() && LowerCaseAscii(path.substr(0, smallPrefix.size())) == smallPrefix;
}

}  // namespace

ProcessSnapshot::ProcessSnapshot() : snapshot_(pelorin::CreateToolhelp32Snapshot(SnapProcesses, 0)) {}

bool ProcessSnapshot::Next(SnapshotEntry& entry) {
    if (!snapshot_) return false;
    BOOL found;
    if (!started_) {
        started_ = true;
        entry_ = PROCESSENTRY32{};
        entry_.dwSize = sizeof(PROCESSENTRY32);
        found = pelorin::Process32First(snapshot_.Get(), &entry_);
    } else {
        found = pelorin::Process32Next(snapshot_.Get(), &entry_);
    }
    if (!found) {
        snapshot_.Reset();
        return false;
    }
    SnapshotEntry next;
    next.pid = entry_.th32ProcessID;
    // In UTF-8 a longer name may come cut inside a character, or fill the field.
    next.name = WholeCharacters(StringFromBuffer(entry_.szExeFile, sizeof(entry_.szExeFile)), sizeof(entry_.szExeFile) - 1);
    entry = std::move(next);
    return true;
}

ModuleSnapshot::ModuleSnapshot(std::uint32_t pid)
    : snapshot_(pelorin::CreateToolhelp32Snapshot(ModuleSnapshotFlags, pid)), pid_(pid) {}

bool ModuleSnapshot::Next(ModuleRecord& module) {
    if (!snapshot_) return false;
    BOOL found;
    if (!started_) {
        started_ = true;
        entry_ = MODULEENTRY32W{};
        entry_.dwSize = sizeof(MODULEENTRY32W);
        found = pelorin::Module32FirstW(snapshot_.Get(), &entry_);
    } else {
        found = pelorin::Module32NextW(snapshot_.Get(), &entry_);
    }
    if (!found) {
        snapshot_.Reset();
        return false;
    }
    ModuleRecord record;
    record.name = AnsiFromWide(Field(entry_.szModule));
    std::wstring_view path = Field(entry_.szExePath);
    // The entry holds 259 characters of a longer path: the process's loader
    // has it whole (the same module, if it begins the same).
    std::wstring whole;
    if (path.size() >= MAX_PATH - 1) {
        if (pid_ != 0 && !process_) process_ = OpenQueryHandle(pid_);
        whole = ModuleFileName(pid_ == 0 ? ::GetCurrentProcess() : process_.Get(), entry_.hModule);
        if (whole.size() > path.size() && whole.compare(0, path.size(), path) == 0) path = whole;
    }
    record.path = AnsiFromWide(path);
    module = std::move(record);
    return true;
}

std::vector<ModuleRecord> ListProcessModules(std::uint32_t pid) {
    std::vector<ModuleRecord> modules;
    ModuleSnapshot snapshot(pid);
    ModuleRecord module;
    while (snapshot.Next(module)) modules.push_back(module);
    if (!modules.empty() || pid == 0) return modules;
    const UniqueHandle process = OpenQueryHandle(pid);
    if (!process || !IsOtherBitness(process.Get())) return modules;
    // A 32-bit process seen from the 64-bit build, where Toolhelp does not
    // answer for it (as under Wine): PSAPI lists its modules.
    if constexpr (Is64BitBuild) {
        modules = EnumeratedModules(process.Get());
        if (!modules.empty()) return modules;
    }
    // A 64-bit process seen from the 32-bit build: its modules cannot be
    // walked from here, but its image is known; its strings are read from
    // the native system folder.
    const std::string path = ProcessImagePath(process.Get());
    if (path == NoImagePath) return modules;
    module.name = FileNameOf(path);
    module.path = path;
    module.versionPath = NativeFilePath(path);
    modules.push_back(std::move(module));
    return modules;
}

UniqueHandle OpenQueryHandle(std::uint32_t pid) {
    UniqueHandle process(::OpenProcess(ProcessQueryAccess, FALSE, pid));
    if (!process) process.Reset(::OpenProcess(QueryLimitedAccess, FALSE, pid));
    return process;
}

std::string ProcessImagePath(HANDLE process) {
    if (!process) return std::string(NoImagePath);
    std::wstring path = ModuleFileName(process, nullptr);
    const ImageNameBinding* t = path.empty() ? imageName.Bind(&FillImageName) : nullptr;
    if (t && t->queryFullProcessImageName) {
        // Where the process's memory cannot be read (a 64-bit one from the
        // 32-bit build), the system has the path.
        path.assign(kLongestPath, L'\0');
        DWORD size = kLongestPath;
        const bool read = t->queryFullProcessImageName(process, 0, path.data(), &size) && size < kLongestPath;
        path.resize(read ? size : 0);
    }
    return path.empty() ? std::string(NoImagePath) : AnsiFromWide(path);
}

void ResetImageNameBinding(const ModuleApi& api) { imageName.Reset(api); }

bool IsOtherBitness(HANDLE process) {
    BOOL other = FALSE;
    return ::IsWow64Process(process, &other) && RunningUnderWow64() != (other != FALSE);
}

std::string GetProcessImagePath(std::uint32_t pid) {
    const UniqueHandle process = OpenQueryHandle(pid);
    return ProcessImagePath(process.Get());
}

std::string GetWindowsFolder() {
    char buffer[WindowsFolderCapacity] = {};
    const UINT length = ::GetWindowsDirectoryA(buffer, WindowsFolderCapacity);
    // 0 is a failure, a larger count is the size the path would need.
    if (length == 0 || length >= WindowsFolderCapacity) return std::string();
    return StringFromBuffer(buffer, WindowsFolderCapacity);
}

std::string NormalizeImagePath(std::string_view path, std::string_view windowsFolder) {
    std::string result(path);
    if (HasPrefixIgnoringAsciiCase(result, SystemRootPrefix)) {
        // Keep the prefix's closing backslash as the separator after the folder.
        result = std::string(windowsFolder) + result.substr(SystemRootPrefix.size() - 1);
    }
    if (HasPrefixIgnoringAsciiCase(result, NtPathPrefix)) result.erase(0, NtPathPrefix.size());
    return result;
}

std::string NormalizeImagePath(std::string_view path) {
    if (!HasPrefixIgnoringAsciiCase(path, SystemRootPrefix)) return NormalizeImagePath(path, std::string_view());
    return NormalizeImagePath(path, GetWindowsFolder());
}

std::uint64_t ProcessWorkingSet(HANDLE process) {
    if (!process) return 0;
    PROCESS_MEMORY_COUNTERS counters{};
    counters.cb = sizeof(counters);
    if (!pelorin::GetProcessMemoryInfo(process, &counters, sizeof(counters))) return 0;
    return counters.WorkingSetSize;
}

bool IsSystemPseudoProcess(std::string_view name) {
    return EqualsLowered(name, SystemProcessName) || EqualsLowered(name, SystemName);
}

ProcessTimes ReadProcessTimes(HANDLE process) {
    ProcessTimes times;
    if (!process) return times;
    FILETIME creation{}, exitTime{}, kernel{}, user{};
    if (!::GetProcessTimes(process, &creation, &exitTime, &kernel, &user)) return times;
    times.kernel = FileTimeToCount(kernel);
    times.user = FileTimeToCount(user);
    times.creation = FileTimeToCount(creation);
    times.valid = true;
    return times;
}

}  // namespace pelorin
