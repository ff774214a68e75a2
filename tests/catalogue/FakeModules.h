// A stand-in for the module calls of the run-time bindings: a kernel32 and a
// PSAPI.dll whose presence, exports and speed a test controls, with fake
// Toolhelp and PSAPI functions that count their calls.
#pragma once

#include <windows.h>
#include <tlhelp32.h>

#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "catalogue/ModuleApi.h"

namespace pelorin::testing {

inline const HMODULE FakeKernel = reinterpret_cast<HMODULE>(0x7a000000);
inline const HMODULE FakePsapi = reinterpret_cast<HMODULE>(0x7b000000);

struct FakeProcess {
    DWORD pid;
    std::string name;  // copied without a terminator when it is 260 long
};

struct FakeModule {
    std::string name;  // copied without a terminator when it is 256 long
    std::string path;  // copied without a terminator when it is 260 long
};

struct FakeState {
    // What the fake platform presents.
    bool kernelPresent = true;
    HMODULE psapiLoadResult = FakePsapi;  // null or below 32 means "fails to load"
    std::set<std::string> missingExports;
    DWORD lookupDelayMs = 0;  // slows every export lookup down
    std::vector<FakeProcess> processes;
    std::vector<FakeModule> modules;
    bool refuseSnapshot = false;   // CreateToolhelp32Snapshot answers INVALID_HANDLE_VALUE
    HANDLE fixedSnapshot = nullptr;  // answered instead of a fresh event handle when set
    std::string moduleFileName;     // what GetModuleFileNameExA copies

    // What the fake platform saw.
    LONG getModuleHandleCalls = 0;
    LONG loadLibraryCalls = 0;
    std::vector<std::string> moduleNamesAsked;
    std::vector<std::string> exportsLookedUp;
    LONG createSnapshotCalls = 0;
    DWORD snapshotFlags = 0;
    DWORD snapshotPid = 0;
    HANDLE lastSnapshot = nullptr;
    LONG process32FirstCalls = 0;
    LONG process32NextCalls = 0;
    LONG module32FirstCalls = 0;
    LONG module32NextCalls = 0;
    DWORD firstEntrySize = 0;
    bool firstEntryZeroFilled = false;
    LONG getModuleFileNameCalls = 0;
    LONG getProcessMemoryInfoCalls = 0;
};

// The one fake platform; Install() resets it and points both bindings at it
// (unbound), Uninstall() points them back at the real platform (unbound).
FakeState& Fake();
void InstallFakeModules();
void UninstallFakeModules();
const ModuleApi& FakeModuleApi();

// The address the fake hands out for an export without a fake function:
// stable per name, never called.
FARPROC DummyExport(const std::string& name);

}  // namespace pelorin::testing
