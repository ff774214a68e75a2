// Toolhelp functions of kernel32, bound by name on first use so the program
// still starts where they are missing. The wrappers carry the platform names
// inside namespace pelorin; call them qualified (pelorin::Process32First),
// because their record arguments would otherwise pull the SDK declarations in
// by argument-dependent lookup and make the call ambiguous.
#pragma once

#include <windows.h>
#include <tlhelp32.h>

#include "catalogue/ModuleApi.h"

namespace pelorin {

// The ANSI record layouts this program relies on, as each width lays them out
// (a UNICODE build would change them; pointer-sized fields move them in 64-bit).
inline constexpr bool Is64BitBuild = sizeof(void*) == 8;
static_assert(sizeof(PROCESSENTRY32) == (Is64BitBuild ? 304 : 296), "ANSI PROCESSENTRY32 expected");
static_assert(sizeof(MODULEENTRY32) == (Is64BitBuild ? 568 : 548), "ANSI MODULEENTRY32 expected");

inline constexpr const char* ToolhelpModuleName = "kernel32.dll";

// kernel32's handle and its 16 Toolhelp entries in lookup order; a missing
// export leaves its entry null. Only the snapshot, the ANSI Process32 and the
// wide Module32 entries are called; the rest are kept for completeness.
struct ToolhelpBinding {
    HMODULE kernel;
    decltype(&::CreateToolhelp32Snapshot) createToolhelp32Snapshot;
    decltype(&::Heap32ListFirst) heap32ListFirst;
    decltype(&::Heap32ListNext) heap32ListNext;
    decltype(&::Heap32First) heap32First;
    decltype(&::Heap32Next) heap32Next;
    decltype(&::Toolhelp32ReadProcessMemory) toolhelp32ReadProcessMemory;
    decltype(&::Process32First) process32First;
    decltype(&::Process32Next) process32Next;
    decltype(&::Process32FirstW) process32FirstW;
    decltype(&::Process32NextW) process32NextW;
    decltype(&::Thread32First) thread32First;
    decltype(&::Thread32Next) thread32Next;
    decltype(&::Module32First) module32First;
    decltype(&::Module32Next) module32Next;
    decltype(&::Module32FirstW) module32FirstW;
    decltype(&::Module32NextW) module32NextW;
};

// Binds on first use: kernel32 is looked up among the loaded modules, never
// loaded. True when kernel32 was found and "CreateToolhelp32Snapshot" is
// bound. While kernel32 cannot be found every call tries again; once it is
// found the entries are fixed for the life of the process, missing ones
// included. Safe from any thread: the entries are published only once all of
// them are stored.
bool LoadToolhelp();

// The published binding, or null while unbound. Does not bind.
const ToolhelpBinding* BoundToolhelp();

// Each wrapper calls LoadToolhelp first and answers 0 without calling anything
// when it is false or the wrapper's own entry is null; otherwise the
// platform's result is passed on unchanged (a refused snapshot is
// INVALID_HANDLE_VALUE, not 0).
HANDLE CreateToolhelp32Snapshot(DWORD flags, DWORD processId);
BOOL Process32First(HANDLE snapshot, PROCESSENTRY32* entry);
BOOL Process32Next(HANDLE snapshot, PROCESSENTRY32* entry);
// The module walk is wide: names in any script, and a module handle to ask
// the whole path by when the entry's 260 characters cut it.
BOOL Module32FirstW(HANDLE snapshot, MODULEENTRY32W* entry);
BOOL Module32NextW(HANDLE snapshot, MODULEENTRY32W* entry);

// For tests only: forgets the binding and binds through `api` from now on.
// Must not run while another thread may be inside a wrapper.
void ResetToolhelpBinding(const ModuleApi& api);

}  // namespace pelorin
