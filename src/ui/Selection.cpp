#include "ui/Selection.h"

#include <string>
#include <utility>

#include "catalogue/VariablesUnit.h"
#include "controls/ListView.h"
#include "support/FastStrings.h"
#include "support/SystemInfo.h"
#include "support/VersionInfo.h"
#include "ui/MainForm.h"

namespace pelorin {
namespace {

constexpr std::int32_t kNameColumn = 0;
constexpr std::int32_t kPidColumn = 1;
constexpr std::int32_t kPathColumn = 4;
constexpr std::int32_t kCountHeader = 0;
constexpr std::int32_t kProcessHeader = 1;
constexpr std::int32_t kTestRow = 19;

bool StartsWith(std::string_view text, std::string_view prefix) {
    return text.substr(0, prefix.size()) == prefix;
}

void SelectClickedRow(MainForm& f) {
    Control* list = f.lvProcesses;
    // No row selected (-1) reads as empty cells: PID 0 and no name.
    const std::int32_t row = CurrentIndex(list);
    std::string name = GetItemText(list, row, kNameColumn);
    const auto pid = static_cast<std::uint32_t>(TextToInt(GetItemText(list, row, kPidColumn)));
    const std::string path = GetItemText(list, row, kPathColumn);

    // The creation time tells the clicked process from a later one that gets
    // its PID; "Kill Task" ends only the former.
    std::uint64_t creation = 0;
    f.SelectedCreation.reset();
    if (ReadProcessCreationTime(pid, creation)) f.SelectedCreation = creation;
    f.SelectedName = std::move(name);
    f.refresh.SelectedPid = pid;

    SetCaption(f.Form, SelectionCaption(pid, f.SelectedName));
    // Such a path has no modules to show: the list keeps what it showed.
    if (IsSystemImagePath(path)) return;
    FillModuleDetails(f.lvModules, f.SelectedName, pid);
}

}  // namespace

std::string SelectionCaption(std::uint32_t pid, std::string_view name) {
    std::string caption = "Pelorin - Selected PID: ";
    caption += IntToText(static_cast<std::int32_t>(pid));
    caption += " [";
    caption += name;
    caption += ']';
    return caption;
}

bool IsSystemImagePath(std::string_view path) {
    const std::string lower = LowerCaseAscii(path);
    return lower == SystemIdleProcessName || lower == SystemBracketName || StartsWith(lower, SystemRootPrefix) ||
           StartsWith(lower, NtPathPrefix);
}

std::vector<ModuleRecord> PlatformModules(std::uint32_t pid) {
    std::vector<ModuleRecord> modules;
    ModuleSnapshot snapshot(pid);
    ModuleRecord module;
    while (snapshot.Next(module)) modules.push_back(module);
    return modules;
}

void FillModuleDetails(Control* list, std::string_view processName, std::uint32_t pid, ModuleLister modules) {
    ClearItems(list);
    BeginUpdate(list);
    std::int32_t count = 0;
    try {
        SetColumnText(list, kProcessHeader, "Processes used by [" + std::string(processName) + "]");
        for (const ModuleRecord& module : modules(pid)) {
            // An entry without a path names no file to show.
            if (module.path.empty()) continue;
            const std::int32_t row = InsertItem(list, count, module.name);
            if (row < 0) continue;
            SetItemText(list, row, 1, module.path);
            SetItemText(list, row, 2, ReadVersionString(module.path, "FileDescription"));
            SetItemText(list, row, 3, ReadVersionString(module.path, "CompanyName"));
            ++count;
        }
    } catch (...) {
        // Out of memory half way: keep what was added, never leave the list frozen.
    }
    EndUpdate(list);
    SetColumnText(list, kCountHeader, "Modules Count: " + IntToText(count));
}

void ProcessListClick(MainForm& f, Control*) noexcept {
    try {
        SelectClickedRow(f);
    } catch (...) {
        // Out of memory: the click stops where it was.
    }
}

void TestButtonClick(MainForm& f, Control*) noexcept {
    try {
        EnsureVisible(f.lvProcesses, kTestRow, true);
        SetCaption(f.Form, GetColumnText(f.lvModules, kProcessHeader));
    } catch (...) {
    }
}

}  // namespace pelorin
