#include "catalogue/PsAPI.h"

#include <cstdint>

#include "catalogue/LazyBinding.h"

namespace pelorin {
namespace {

constinit LazyBinding<PsapiBinding> psapi;

bool FillPsapi(const ModuleApi& api, PsapiBinding& t) noexcept {
    const HMODULE module = api.loadLibrary(PsapiModuleName);
    // Values below 32 are the error codes of the old loader, never a module.
    if (reinterpret_cast<std::uintptr_t>(module) < 32) return false;
    t.psapi = module;
    t.enumProcesses = LookUpEntry<decltype(t.enumProcesses)>(api, module, "EnumProcesses");
    t.enumProcessModules = LookUpEntry<decltype(t.enumProcessModules)>(api, module, "EnumProcessModules");
    t.getModuleBaseName = LookUpEntry<decltype(t.getModuleBaseName)>(api, module, "GetModuleBaseNameA");
    t.getModuleFileNameEx = LookUpEntry<decltype(t.getModuleFileNameEx)>(api, module, "GetModuleFileNameExA");
    t.getModuleBaseNameA = LookUpEntry<decltype(t.getModuleBaseNameA)>(api, module, "GetModuleBaseNameA");
    t.getModuleFileNameExA = LookUpEntry<decltype(t.getModuleFileNameExA)>(api, module, "GetModuleFileNameExA");
    t.getModuleBaseNameW = LookUpEntry<decltype(t.getModuleBaseNameW)>(api, module, "GetModuleBaseNameW");
    t.getModuleFileNameExW = LookUpEntry<decltype(t.getModuleFileNameExW)>(api, module, "GetModuleFileNameExW");
    t.getModuleInformation = LookUpEntry<decltype(t.getModuleInformation)>(api, module, "GetModuleInformation");
    t.emptyWorkingSet = LookUpEntry<decltype(t.emptyWorkingSet)>(api, module, "EmptyWorkingSet");
    t.queryWorkingSet = LookUpEntry<decltype(t.queryWorkingSet)>(api, module, "QueryWorkingSet");
    t.initializeProcessForWsWatch =
        LookUpEntry<decltype(t.initializeProcessForWsWatch)>(api, module, "InitializeProcessForWsWatch");
    t.getMappedFileName = LookUpEntry<decltype(t.getMappedFileName)>(api, module, "GetMappedFileNameA");
    t.getDeviceDriverBaseName =
        LookUpEntry<decltype(t.getDeviceDriverBaseName)>(api, module, "GetDeviceDriverBaseNameA");
    t.getDeviceDriverFileName =
        LookUpEntry<decltype(t.getDeviceDriverFileName)>(api, module, "GetDeviceDriverFileNameA");
    t.getMappedFileNameA = LookUpEntry<decltype(t.getMappedFileNameA)>(api, module, "GetMappedFileNameA");
    t.getDeviceDriverBaseNameA =
        LookUpEntry<decltype(t.getDeviceDriverBaseNameA)>(api, module, "GetDeviceDriverBaseNameA");
    t.getDeviceDriverFileNameA =
        LookUpEntry<decltype(t.getDeviceDriverFileNameA)>(api, module, "GetDeviceDriverFileNameA");
    t.getMappedFileNameW = LookUpEntry<decltype(t.getMappedFileNameW)>(api, module, "GetMappedFileNameW");
    t.getDeviceDriverBaseNameW =
        LookUpEntry<decltype(t.getDeviceDriverBaseNameW)>(api, module, "GetDeviceDriverBaseNameW");
    t.getDeviceDriverFileNameW =
        LookUpEntry<decltype(t.getDeviceDriverFileNameW)>(api, module, "GetDeviceDriverFileNameW");
    t.enumDeviceDrivers = LookUpEntry<decltype(t.enumDeviceDrivers)>(api, module, "EnumDeviceDrivers");
    t.getProcessMemoryInfo = LookUpEntry<decltype(t.getProcessMemoryInfo)>(api, module, "GetProcessMemoryInfo");
    return true;
}

const PsapiBinding* UsablePsapi() noexcept { return psapi.Bind(&FillPsapi); }

}  // namespace

bool LoadPsapi() { return UsablePsapi() != nullptr; }

const PsapiBinding* BoundPsapi() { return psapi.Peek(); }

DWORD GetModuleFileNameExW(HANDLE process, HMODULE module, LPWSTR buffer, DWORD size) {
    const PsapiBinding* t = UsablePsapi();
    return t && t->getModuleFileNameExW ? t->getModuleFileNameExW(process, module, buffer, size) : 0;
}

BOOL GetProcessMemoryInfo(HANDLE process, PROCESS_MEMORY_COUNTERS* counters, DWORD size) {
    const PsapiBinding* t = UsablePsapi();
    return t && t->getProcessMemoryInfo ? t->getProcessMemoryInfo(process, counters, size) : FALSE;
}

void ResetPsapiBinding(const ModuleApi& api) { psapi.Reset(api); }

}  // namespace pelorin
