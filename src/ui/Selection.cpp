#include "ui/Selection.h"

#include <string>
#include <utility>

#include "catalogue/VariablesUnit.h"
#include "controls/ListView.h"
#include "support/FastStrings.h"
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

std::string CellOf(const ListRow* row, std::size_t column) {
    return row != nullptr && column < row->cells.size() ? row->cells[column] : std::string();
}

void SelectClickedRow(MainForm& f) {
    // No row clicked reads as empty cells: PID 0 and no name.
    const ListRow* row = ClickedRow(f.lvProcesses);
    std::string name = CellOf(row, kNameColumn);
    const auto pid = static_cast<std::uint32_t>(TextToInt(CellOf(row, kPidColumn)));
    const std::string path = CellOf(row, kPathColumn);

    // The creation time the refresh read for the row tells its process from
    // a later one that gets the PID; "Kill Task" ends only the former.
    f.SelectedCreation.reset();
    if (row != nullptr && row->data != 0) f.SelectedCreation = row->data;
    f.SelectedName = std::move(name);
    f.refresh.SelectedPid = pid;
    // The highlight follows, wherever a refresh has put the row meanwhile.
    ReselectProcess(f.refresh, pid);

    SetCaption(f.Form, SelectionCaption(pid, f.SelectedName));
    // Such a path has no modules to show: the list keeps what it showed. A
    // key that repeats has moved on before a fill would end; the list clicks
    // the row once more when the keys rest.
    if (IsSystemImagePath(path) || ClickedByKey(f.lvProcesses)) return;
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
            const std::string& file = module.versionPath.empty() ? module.path : module.versionPath;
            SetItemText(list, row, 1, module.path);
            SetItemText(list, row, 2, ReadVersionString(file, "FileDescription"));
            SetItemText(list, row, 3, ReadVersionString(file, "CompanyName"));
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
