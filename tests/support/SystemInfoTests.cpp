#include "support/SystemInfo.h"

#include <gtest/gtest.h>

#include <string>

namespace pelorin {
namespace {

TEST(SystemInfo, SystemDriveRootOfAnyWindowsFolder) {
    const struct { const char* windows; const char* root; } cases[] = {
        {"C:\\WINDOWS\\", "C:\\"}, {"C:\\Windows\\", "C:\\"}, {"c:\\windows\\", "c:\\"}, {"E:\\os\\windows\\", "E:\\"},
        {"D:\\WinNT\\", "D:\\"}, {"\\\\server\\share\\Windows\\", "\\\\server\\share\\"},
        {"\\", "\\"},  // what a failed folder query leaves
    };
    for (const auto& c : cases) EXPECT_EQ(SystemDriveRoot(c.windows), c.root) << c.windows;
}

// A running process created at 7, as the platform describes it to the kill.
struct { LONG flagRead; ULONG critical; const char* image; int ended; } victim;  // flagRead 0: read
constexpr LONG kUnreadable = static_cast<LONG>(0xC0000003);  // Wine's answer for the critical flag
HANDLE WINAPI Open(DWORD, BOOL, DWORD) { return reinterpret_cast<HANDLE>(0x4321); }
BOOL WINAPI Terminate(HANDLE, UINT) { return ++victim.ended; }
BOOL WINAPI Close(HANDLE) { return TRUE; }
BOOL WINAPI Times(HANDLE, FILETIME* created, FILETIME*, FILETIME*, FILETIME*) { return *created = {7, 0}, TRUE; }
BOOL WINAPI Running(HANDLE, DWORD* code) { return *code = STILL_ACTIVE, TRUE; }
LONG WINAPI Flag(HANDLE, ULONG of, PVOID flag, ULONG, PULONG) { return of == 29 ? (*static_cast<ULONG*>(flag) = victim.critical, victim.flagRead) : kUnreadable; }
BOOL WINAPI Image(HANDLE, DWORD, LPSTR path, PDWORD size) {
    return victim.image && (*size = static_cast<DWORD>(::lstrlenA(::lstrcpynA(path, victim.image, static_cast<int>(*size)))));
}

TEST(KillProcess, EndsOnlyTheProcessListedAndNeverThisProgramNorOneTheMachineCannotLiveWithout) {
    const KillApi api = {&Open, &Terminate, &Close, &Times, &Running, [](const KillApi&, HANDLE, DWORD) {}, &Flag, &Image};
    const char* app = "C:\\apps\\app.exe";
    const struct { const char* what; DWORD pid; std::uint64_t created; LONG flagRead; ULONG critical; const char* image; bool ends; } cases[] = {
        {"a program", 1000, 7, 0, 0, app, true}, {"its PID now another's", 1000, 6, 0, 0, app, false},
        {"this program", ::GetCurrentProcessId(), 7, 0, 0, app, false}, {"a reserved PID", 4, 7, 0, 0, app, false},
        {"marked critical", 1000, 7, 0, 1, app, false},
        {"marked not critical, a session's own name", 1000, 7, 0, 0, "C:\\windows\\system32\\csrss.exe", true},
        {"unknown, a session's own in capitals", 1000, 7, kUnreadable, 0, "C:\\WINDOWS\\SYSTEM32\\LSASS.EXE", false},
        {"unknown, that name elsewhere", 1000, 7, kUnreadable, 0, "C:\\apps\\smss.exe", true},
        {"unknown, another system program", 1000, 7, kUnreadable, 0, "C:\\windows\\system32\\notepad.exe", true},
        {"neither flag nor image", 1000, 7, kUnreadable, 0, nullptr, false},
    };
    for (const auto& c : cases) {
        victim = {c.flagRead, c.critical, c.image, 0};
        EXPECT_EQ(KillProcess(c.pid, c.created, api), c.ends) << c.what;
        EXPECT_EQ(victim.ended, c.ends ? 1 : 0) << c.what;
    }
    for (const std::string name : {"smss.exe", "csrss.exe", "wininit.exe", "winlogon.exe", "services.exe", "lsass.exe"}) {
        const std::string image = "C:\\windows\\system32\\" + name;
        victim = {kUnreadable, 0, image.c_str(), 0};
        EXPECT_FALSE(KillProcess(1000, 7, api) || victim.ended) << name;
    }
}

}  // namespace
}  // namespace pelorin
