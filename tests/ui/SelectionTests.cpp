// The process-list click on the real window: the selected process, the
// caption, the module details of a real child (with the fixture DLL loaded)
// and of the program itself, system paths, the module walk through its seam,
// the arrow keys, and the "Test" button.
#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "controls/ListView.h"
#include "fixtures/ChildProcess.h"
#include "support/SystemInfo.h"
#include "ui/HandlerTestSupport.h"
#include "ui/MainFormFixture.h"
#include "ui/Selection.h"

namespace pelorin {
namespace {

using testing::AddProcessRow;
using testing::ClickAt;
using testing::ClickRow;
using testing::MainFormTest;
using testing::ProcessRow;
using testing::Pump;
using testing::PumpFor;
using testing::RowOfPid;
using testing::TextOf;

TEST(IsSystemImagePath, NamesOnlyPathsWithoutARealFile) {
    for (const char* path : {"[SYSTEM]", "[system]", "[System Idle Process]", "\\??\\C:\\x.exe",
                             "\\SystemRoot\\System32\\smss.exe", "\\SYSTEMROOT\\x"}) {
        EXPECT_TRUE(IsSystemImagePath(path)) << path;
    }
    for (const char* path : {"-", "[system process]", "", "C:\\windows\\system32\\svchost.exe", "\\??", "[system] ",
                             "\\systemroot", "x\\??\\y"}) {
        EXPECT_FALSE(IsSystemImagePath(path)) << path;
    }
}

TEST(SelectionCaption, NamesThePidAndTheProcess) {
    EXPECT_EQ(SelectionCaption(1234, "notepad.exe"), "Pelorin - Selected PID: 1234 [notepad.exe]");
    EXPECT_EQ(SelectionCaption(0, ""), "Pelorin - Selected PID: 0 []");
}

struct ModuleRow {
    std::string name, path, description, company;
};

std::vector<ModuleRow> ModuleRows(Control* list) {
    std::vector<ModuleRow> rows;
    for (int i = 0; i < ItemCount(list); ++i) {
        rows.push_back({GetItemText(list, i, 0), GetItemText(list, i, 1), GetItemText(list, i, 2),
                        GetItemText(list, i, 3)});
    }
    return rows;
}

const ModuleRow* FindModule(const std::vector<ModuleRow>& rows, const std::string& name) {
    for (const ModuleRow& row : rows) {
        if (lstrcmpiA(row.name.c_str(), name.c_str()) == 0) return &row;
    }
    return nullptr;
}

std::size_t ModulesWithAPath(DWORD pid) {
    std::size_t count = 0;
    for (const ModuleRecord& m : PlatformModules(pid)) count += m.path.empty() ? 0 : 1;
    return count;
}

class SelectionTest : public MainFormTest {
protected:
    void StartChild() {
        const std::string dll = fixtures::FixturePath("pelorin_fixture_known.dll");
        ASSERT_TRUE(child.Start("--load \"" + dll + "\""));
    }
    fixtures::ChildProcess child;
};

TEST_F(SelectionTest, ClickOnAChildRowSelectsItAndListsItsModulesWithTheirVersionStrings) {
    Build();
    StartChild();
    const std::string childPath = fixtures::FixturePath("pelorin_child.exe");
    AddProcessRow(form.lvProcesses, ProcessRow("other.exe", 77777, "C:\\other.exe"));
    AddProcessRow(form.lvProcesses, ProcessRow("pelorin_child.exe", child.Pid(), childPath));
    Pump();

    ClickRow(form.lvProcesses, 1);
    EXPECT_EQ(CurrentIndex(form.lvProcesses), 1);
    EXPECT_EQ(form.refresh.SelectedPid.load(), child.Pid());
    EXPECT_EQ(form.SelectedName, "pelorin_child.exe");
    EXPECT_EQ(TextOf(form.Form->window), "Pelorin - Selected PID: " + std::to_string(child.Pid()) +
                                             " [pelorin_child.exe]");
    // The process's start time goes with its PID.
    std::uint64_t creation = 0;
    ASSERT_TRUE(ReadProcessCreationTime(child.Pid(), creation));
    ASSERT_TRUE(form.SelectedCreation.has_value());
    EXPECT_EQ(*form.SelectedCreation, creation);

    const auto rows = ModuleRows(form.lvModules);
    ASSERT_FALSE(rows.empty());
    EXPECT_EQ(rows[0].name, "pelorin_child.exe");  // the main image comes first
    const ModuleRow* fixture = FindModule(rows, "pelorin_fixture_known.dll");
    ASSERT_NE(fixture, nullptr);
    EXPECT_EQ(lstrcmpiA(fixture->path.c_str(), fixtures::FixturePath("pelorin_fixture_known.dll").c_str()), 0)
        << fixture->path;
    EXPECT_EQ(fixture->description, "Pelorin Fixture Module");
    EXPECT_EQ(fixture->company, "Marrowby Test Works");
    for (const ModuleRow& row : rows) EXPECT_FALSE(row.path.empty()) << row.name;
    EXPECT_EQ(rows.size(), ModulesWithAPath(child.Pid()));
    EXPECT_EQ(GetColumnText(form.lvModules, 0), "Modules Count: " + std::to_string(rows.size()));
    EXPECT_EQ(GetColumnText(form.lvModules, 1), "Processes used by [pelorin_child.exe]");
    EXPECT_EQ(form.lvModules->updateCount, 0);  // drawing is on again

    // Clicking it again rebuilds the list rather than adding to it.
    ClickRow(form.lvProcesses, 1);
    EXPECT_EQ(ModuleRows(form.lvModules).size(), rows.size());
}

TEST_F(SelectionTest, RightClickSelectsTooBeforeThePopup) {
    Build();
    StartChild();
    AddProcessRow(form.lvProcesses, ProcessRow("pelorin_child.exe", child.Pid(), "-"));
    Pump();
    // Closes the popup the right click opens.
    const UINT_PTR timer = ::SetTimer(nullptr, 0, 200, testing::EndMenuTimer);
    ClickRow(form.lvProcesses, 0, true);
    ::KillTimer(nullptr, timer);
    EXPECT_EQ(form.refresh.SelectedPid.load(), child.Pid());
    // "-" (path refused) still gets the module list.
    EXPECT_EQ(GetColumnText(form.lvModules, 1), "Processes used by [pelorin_child.exe]");
    EXPECT_GT(ItemCount(form.lvModules), 0);
}

TEST_F(SelectionTest, ASystemPathChangesTheCaptionButLeavesTheDetails) {
    Build();
    StartChild();
    AddProcessRow(form.lvProcesses, ProcessRow("pelorin_child.exe", child.Pid(), "-"));
    AddProcessRow(form.lvProcesses, ProcessRow("smss.exe", 316, "\\SystemRoot\\System32\\smss.exe"));
    AddProcessRow(form.lvProcesses, ProcessRow("csrss.exe", 400, "\\??\\C:\\WINDOWS\\system32\\csrss.exe"));
    Pump();
    ClickRow(form.lvProcesses, 0);
    const auto before = ModuleRows(form.lvModules);
    const std::string header0 = GetColumnText(form.lvModules, 0);
    ASSERT_FALSE(before.empty());

    ClickRow(form.lvProcesses, 1);
    EXPECT_EQ(TextOf(form.Form->window), "Pelorin - Selected PID: 316 [smss.exe]");
    EXPECT_EQ(form.refresh.SelectedPid.load(), 316u);
    ClickRow(form.lvProcesses, 2);
    EXPECT_EQ(TextOf(form.Form->window), "Pelorin - Selected PID: 400 [csrss.exe]");
    EXPECT_EQ(form.SelectedName, "csrss.exe");

    EXPECT_EQ(ModuleRows(form.lvModules).size(), before.size());
    EXPECT_EQ(GetColumnText(form.lvModules, 0), header0);
    EXPECT_EQ(GetColumnText(form.lvModules, 1), "Processes used by [pelorin_child.exe]");
}

TEST_F(SelectionTest, AClickOnNoRowSelectsNothingAndListsThisProgramsModules) {
    Build();
    AddProcessRow(form.lvProcesses, ProcessRow("a.exe", 1111, "C:\\a.exe"));
    Pump();
    ClickRow(form.lvProcesses, 0);
    ASSERT_EQ(form.refresh.SelectedPid.load(), 1111u);

    // Below the last row.
    RECT client = {};
    ::GetClientRect(form.lvProcesses->window, &client);
    ClickAt(form.lvProcesses, {20, client.bottom - 5});
    EXPECT_EQ(CurrentIndex(form.lvProcesses), -1);
    EXPECT_EQ(form.refresh.SelectedPid.load(), 0u);
    EXPECT_EQ(form.SelectedName, "");
    EXPECT_FALSE(form.SelectedCreation.has_value());
    EXPECT_EQ(TextOf(form.Form->window), "Pelorin - Selected PID: 0 []");
    EXPECT_EQ(GetColumnText(form.lvModules, 1), "Processes used by []");

    char self[MAX_PATH] = {};
    ::GetModuleFileNameA(nullptr, self, MAX_PATH);
    const auto rows = ModuleRows(form.lvModules);
    ASSERT_FALSE(rows.empty());
    EXPECT_EQ(lstrcmpiA(rows[0].path.c_str(), self), 0) << rows[0].path;
    EXPECT_NE(FindModule(rows, "kernel32.dll"), nullptr);
    EXPECT_EQ(GetColumnText(form.lvModules, 0), "Modules Count: " + std::to_string(rows.size()));
}

TEST_F(SelectionTest, ArrowKeysMoveTheHighlightButChangeNothingOfTheSelection) {
    Build();
    AddProcessRow(form.lvProcesses, ProcessRow("a.exe", 1111, "\\??\\C:\\a.exe"));
    AddProcessRow(form.lvProcesses, ProcessRow("b.exe", 2222, "\\??\\C:\\b.exe"));
    Pump();
    ClickRow(form.lvProcesses, 0);
    const std::string caption = TextOf(form.Form->window);
    ::SetFocus(form.lvProcesses->window);
    ::SendMessageA(form.lvProcesses->window, WM_KEYDOWN, VK_DOWN, 0);
    ::SendMessageA(form.lvProcesses->window, WM_KEYUP, VK_DOWN, 0);
    PumpFor(100);
    EXPECT_EQ(CurrentIndex(form.lvProcesses), 1);
    EXPECT_EQ(form.refresh.SelectedPid.load(), 1111u);
    EXPECT_EQ(form.SelectedName, "a.exe");
    EXPECT_EQ(TextOf(form.Form->window), caption);
}

// A module walk that the test writes.
std::vector<ModuleRecord> g_modules;
std::uint32_t g_walkedPid = 99;
std::vector<ModuleRecord> ScriptedModules(std::uint32_t pid) {
    g_walkedPid = pid;
    return g_modules;
}

TEST_F(SelectionTest, EntriesWithoutAPathAddNoRowAndAnEmptyWalkCountsZero) {
    Build();
    const std::string known = fixtures::FixturePath("pelorin_fixture_known.dll");
    const std::string noCompany = fixtures::FixturePath("pelorin_fixture_nocompany.dll");
    g_modules = {{"main.exe", known}, {"ghost.dll", ""}, {"other.dll", noCompany}, {"", ""}};
    FillModuleDetails(form.lvModules, "main.exe", 4242, &ScriptedModules);
    EXPECT_EQ(g_walkedPid, 4242u);
    const auto rows = ModuleRows(form.lvModules);
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0].name, "main.exe");
    EXPECT_EQ(rows[0].path, known);
    EXPECT_EQ(rows[0].description, "Pelorin Fixture Module");
    EXPECT_EQ(rows[0].company, "Marrowby Test Works");
    EXPECT_EQ(rows[1].name, "other.dll");
    EXPECT_EQ(rows[1].description, "Nameless Maker");
    EXPECT_EQ(rows[1].company, "");
    EXPECT_EQ(GetColumnText(form.lvModules, 0), "Modules Count: 2");
    EXPECT_EQ(GetColumnText(form.lvModules, 1), "Processes used by [main.exe]");

    // No snapshot (a refused process): empty list, the header still names it.
    g_modules.clear();
    FillModuleDetails(form.lvModules, "gone.exe", 4243, &ScriptedModules);
    EXPECT_EQ(ItemCount(form.lvModules), 0);
    EXPECT_EQ(GetColumnText(form.lvModules, 0), "Modules Count: 0");
    EXPECT_EQ(GetColumnText(form.lvModules, 1), "Processes used by [gone.exe]");
    EXPECT_EQ(form.lvModules->updateCount, 0);

    // The real walk of a PID that names no process is empty too.
    FillModuleDetails(form.lvModules, "none", 0x7FFFFFF0);
    EXPECT_EQ(ItemCount(form.lvModules), 0);
    EXPECT_EQ(GetColumnText(form.lvModules, 0), "Modules Count: 0");
}

TEST_F(SelectionTest, TestButtonScrollsToRowNineteenAndShowsTheDetailsHeader) {
    Build(testing::TestModeFile::File);
    for (DWORD i = 0; i < 40; ++i) AddProcessRow(form.lvProcesses, ProcessRow("p.exe", 100 + i, "\\??\\p"));
    Pump();
    ASSERT_EQ(TopIndex(form.lvProcesses), 0);
    SetColumnText(form.lvModules, 1, "Processes used by [x.exe]");
    ::SendMessageA(form.btnTest->window, BM_CLICK, 0, 0);
    PumpFor(50);
    const int top = TopIndex(form.lvProcesses);
    const int perPage = static_cast<int>(::SendMessageA(form.lvProcesses->window, LVM_GETCOUNTPERPAGE, 0, 0));
    EXPECT_GT(top, 0);
    EXPECT_LE(top, 19);
    EXPECT_GE(top + perPage, 19);  // row 19 at least partly in view
    EXPECT_EQ(TextOf(form.Form->window), "Processes used by [x.exe]");

    // With fewer rows nothing scrolls; the caption still follows the header.
    ClearItems(form.lvProcesses);
    for (DWORD i = 0; i < 3; ++i) AddProcessRow(form.lvProcesses, ProcessRow("p.exe", 100 + i, "\\??\\p"));
    SetColumnText(form.lvModules, 1, "Processes used by []");
    ::SendMessageA(form.btnTest->window, BM_CLICK, 0, 0);
    PumpFor(50);
    EXPECT_EQ(TopIndex(form.lvProcesses), 0);
    EXPECT_EQ(TextOf(form.Form->window), "Processes used by []");
}

}  // namespace
}  // namespace pelorin
