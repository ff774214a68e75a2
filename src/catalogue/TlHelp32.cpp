#include "catalogue/TlHelp32.h"

#include "catalogue/LazyBinding.h"

namespace pelorin {
namespace {

constinit LazyBinding<ToolhelpBinding> toolhelp;

bool FillToolhelp(const ModuleApi& api, ToolhelpBinding& t) noexcept {
    // Already loaded in every process; looked up, never loaded.
    const HMODULE kernel = api.getModuleHandle(ToolhelpModuleName);
    if (!kernel) return false;
    t.kernel = kernel;
    t.createToolhelp32Snapshot = LookUpEntry<decltype(t.createToolhelp32Snapshot)>(api, kernel, "CreateToolhelp32Snapshot");
    t.heap32ListFirst = LookUpEntry<decltype(t.heap32ListFirst)>(api, kernel, "Heap32ListFirst");
    t.heap32ListNext = LookUpEntry<decltype(t.heap32ListNext)>(api, kernel, "Heap32ListNext");
    t.heap32First = LookUpEntry<decltype(t.heap32First)>(api, kernel, "Heap32First");
    t.heap32Next = LookUpEntry<decltype(t.heap32Next)>(api, kernel, "Heap32Next");
    t.toolhelp32ReadProcessMemory =
        LookUpEntry<decltype(t.toolhelp32ReadProcessMemory)>(api, kernel, "Toolhelp32ReadProcessMemory");
    t.process32First = LookUpEntry<decltype(t.process32First)>(api, kernel, "Process32First");
    t.process32Next = LookUpEntry<decltype(t.process32Next)>(api, kernel, "Process32Next");
    t.process32FirstW = LookUpEntry<decltype(t.process32FirstW)>(api, kernel, "Process32FirstW");
    t.process32NextW = LookUpEntry<decltype(t.process32NextW)>(api, kernel, "Process32NextW");
    t.thread32First = LookUpEntry<decltype(t.thread32First)>(api, kernel, "Thread32First");
    t.thread32Next = LookUpEntry<decltype(t.thread32Next)>(api, kernel, "Thread32Next");
    t.module32First = LookUpEntry<decltype(t.module32First)>(api, kernel, "Module32First");
    t.module32Next = LookUpEntry<decltype(t.module32Next)>(api, kernel, "Module32Next");
    t.module32FirstW = LookUpEntry<decltype(t.module32FirstW)>(api, kernel, "Module32FirstW");
    t.module32NextW = LookUpEntry<decltype(t.module32NextW)>(api, kernel, "Module32NextW");
    return true;
}

// The binding when LoadToolhelp would answer true, else null.
const ToolhelpBinding* UsableToolhelp() noexcept {
    const ToolhelpBinding* t = toolhelp.Bind(&FillToolhelp);
    return t && t->kernel && t->createToolhelp32Snapshot ? t : nullptr;
}

}  // namespace

bool LoadToolhelp() { return UsableToolhelp() != nullptr; }

const ToolhelpBinding* BoundToolhelp() { return toolhelp.Peek(); }

HANDLE CreateToolhelp32Snapshot(DWORD flags, DWORD processId) {
    const ToolhelpBinding* t = UsableToolhelp();
    return t ? t->createToolhelp32Snapshot(flags, processId) : nullptr;
}

BOOL Process32First(HANDLE snapshot, PROCESSENTRY32* entry) {
    const ToolhelpBinding* t = UsableToolhelp();
    return t && t->process32First ? t->process32First(snapshot, entry) : FALSE;
}

BOOL Process32Next(HANDLE snapshot, PROCESSENTRY32* entry) {
    const ToolhelpBinding* t = UsableToolhelp();
    return t && t->process32Next ? t->process32Next(snapshot, entry) : FALSE;
}

BOOL Module32FirstW(HANDLE snapshot, MODULEENTRY32W* entry) {
    const ToolhelpBinding* t = UsableToolhelp();
    return t && t->module32FirstW ? t->module32FirstW(snapshot, entry) : FALSE;
}

BOOL Module32NextW(HANDLE snapshot, MODULEENTRY32W* entry) {
    const ToolhelpBinding* t = UsableToolhelp();
    return t && t->module32NextW ? t->module32NextW(snapshot, entry) : FALSE;
}

void ResetToolhelpBinding(const ModuleApi& api) { toolhelp.Reset(api); }

}  // namespace pelorin
