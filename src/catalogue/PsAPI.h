// Process-status functions of PSAPI.dll, loaded by name on first use so the
// program still starts where the library is missing. The wrappers carry the
// platform names inside namespace pelorin; call them qualified
// (pelorin::GetProcessMemoryInfo) so argument-dependent lookup cannot find an
// SDK declaration of the same name.
#pragma once

#include <windows.h>
#include <psapi.h>

#include "catalogue/ModuleApi.h"

namespace pelorin {

// Its SIZE_T counters are pointer-sized.
static_assert(sizeof(PROCESS_MEMORY_COUNTERS) == (sizeof(void*) == 8 ? 72 : 40), "PROCESS_MEMORY_COUNTERS expected");

inline constexpr const char* PsapiModuleName = "PSAPI.dll";

// PSAPI.dll's handle and its 23 entries in lookup order; a missing export
// leaves its entry null. The plain-named entries are bound to the ANSI
// exports, so getModuleBaseName == getModuleBaseNameA and likewise for
// getModuleFileNameEx, getMappedFileName, getDeviceDriverBaseName and
// getDeviceDriverFileName. Only getModuleFileNameExW and getProcessMemoryInfo
// are called; the rest are kept for completeness.
struct PsapiBinding {
    HMODULE psapi;
    decltype(&::EnumProcesses) enumProcesses;
    decltype(&::EnumProcessModules) enumProcessModules;
    decltype(&::GetModuleBaseNameA) getModuleBaseName;
    decltype(&::GetModuleFileNameExA) getModuleFileNameEx;
    decltype(&::GetModuleBaseNameA) getModuleBaseNameA;
    decltype(&::GetModuleFileNameExA) getModuleFileNameExA;
    decltype(&::GetModuleBaseNameW) getModuleBaseNameW;
    decltype(&::GetModuleFileNameExW) getModuleFileNameExW;
    decltype(&::GetModuleInformation) getModuleInformation;
    decltype(&::EmptyWorkingSet) emptyWorkingSet;
    decltype(&::QueryWorkingSet) queryWorkingSet;
    decltype(&::InitializeProcessForWsWatch) initializeProcessForWsWatch;
    decltype(&::GetMappedFileNameA) getMappedFileName;
    decltype(&::GetDeviceDriverBaseNameA) getDeviceDriverBaseName;
    decltype(&::GetDeviceDriverFileNameA) getDeviceDriverFileName;
    decltype(&::GetMappedFileNameA) getMappedFileNameA;
    decltype(&::GetDeviceDriverBaseNameA) getDeviceDriverBaseNameA;
    decltype(&::GetDeviceDriverFileNameA) getDeviceDriverFileNameA;
    decltype(&::GetMappedFileNameW) getMappedFileNameW;
    decltype(&::GetDeviceDriverBaseNameW) getDeviceDriverBaseNameW;
    decltype(&::GetDeviceDriverFileNameW) getDeviceDriverFileNameW;
    decltype(&::EnumDeviceDrivers) enumDeviceDrivers;
    decltype(&::GetProcessMemoryInfo) getProcessMemoryInfo;
};

}  // namespace pelorin

// psapi.h maps these names to the A or K32 exports with macros; the wrappers
// below are meant to carry the plain names.
#undef GetModuleFileNameEx
#undef GetModuleFileNameExW
#undef GetProcessMemoryInfo

namespace pelorin {

// Binds on first use: loads "PSAPI.dll" (a result below 32 counts as a
// failure) and looks up its 23 exports. True when the library is loaded,
// whatever its exports. A failed load is tried again at every call; once
// loaded the library is never unloaded. Safe from any thread: the entries are
// published only once all of them are stored.
bool LoadPsapi();

// The published binding, or null while unbound. Does not bind.
const PsapiBinding* BoundPsapi();

// Each wrapper calls LoadPsapi first and answers 0 without calling anything
// when it is false or the wrapper's own entry is null; otherwise the
// platform's result is passed on unchanged.
// Calls the export "GetModuleFileNameExW": the path in any script, its
// length in characters whatever the code page.
DWORD GetModuleFileNameExW(HANDLE process, HMODULE module, LPWSTR buffer, DWORD size);
BOOL GetProcessMemoryInfo(HANDLE process, PROCESS_MEMORY_COUNTERS* counters, DWORD size);

// For tests only: forgets the binding (without unloading anything) and binds
// through `api` from now on. Must not run while another thread may be inside
// a wrapper.
void ResetPsapiBinding(const ModuleApi& api);

}  // namespace pelorin
