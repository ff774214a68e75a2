// The three module calls the run-time bindings make. Tests hand the bindings a
// table of their own to present a kernel32 without an export or a DLL that
// refuses to load; the program always uses PlatformModuleApi().
#pragma once

#include <windows.h>

namespace pelorin {

struct ModuleApi {
    decltype(&::GetModuleHandleA) getModuleHandle;  // an already loaded module
    decltype(&::LoadLibraryA) loadLibrary;
    decltype(&::GetProcAddress) getProcAddress;
};

const ModuleApi& PlatformModuleApi();

// The export `name` of `module` typed as Fn, or null when it is missing.
template <typename Fn>
Fn LookUpEntry(const ModuleApi& api, HMODULE module, const char* name) {
    // void (*)() converts to and from every function pointer type without
    // a cast-function-type warning.
    return reinterpret_cast<Fn>(reinterpret_cast<void (*)()>(api.getProcAddress(module, name)));
}

}  // namespace pelorin
