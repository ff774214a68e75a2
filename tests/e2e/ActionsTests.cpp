// What a user does to processes in the real program while it refreshes:
// click and kill the row clicked, sort, find by typing, Delete, copy; what it
// shows of processes of either width; and that no other program can make it
// run code.
#include <gtest/gtest.h>

#include <sstream>
#include <tuple>

#include "e2e/Driver.h"
#include "support/FastStrings.h"

namespace pelorin::e2e {
namespace {

class Actions : public ::testing::Test {
protected:
    void SetUp() override {
        for (test::Child& child : children) ASSERT_TRUE(child.Start());
        ASSERT_TRUE(pelorin.Start());
        list = pelorin.ProcessList();
    }
    std::string Pid(const test::Child& child) { return std::to_string(child.Pid()); }
    // Clicks the child's row, read right before: the list keeps refreshing.
    bool ClickRow(const test::Child& child, DWORD holdMs = 60, bool right = false) {
        const int row = Find(Rows(list), Pid(child));
        const auto point = row >= 0 ? RowPoint(list, row) : std::nullopt;
        return point && pelorin.Click(*point, right, holdMs);
    }
    bool TitleNames(const test::Child& child) {
        return test::WaitUntil([&] { return Text(pelorin.Window()).find("PID: " + Pid(child) + " ") != std::string::npos; }, 3000);
    }
    std::string SelectedPid() {
        const auto rows = Rows(list);
        const auto selected = ::SendMessageA(list, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_SELECTED);
        return selected >= 0 && selected < static_cast<LRESULT>(rows.size()) ? rows[static_cast<std::size_t>(selected)][1] : "";
    }

    SettingsGuard settings;
    test::Child children[2];
    Pelorin pelorin;
    HWND list = nullptr;
};

// Held as a person holds a button, across refreshes that land meanwhile.
TEST_F(Actions, TheRowClickedIsTheProcessTheTitleAndKillTaskActOn) {
    for (DWORD hold = 150; hold <= 350; hold += 25) {
        ASSERT_TRUE(ClickRow(children[0]));
        ASSERT_TRUE(TitleNames(children[0]));
        ASSERT_TRUE(ClickRow(children[1], hold));
        EXPECT_TRUE(TitleNames(children[1])) << "held " << hold << " ms: " << Text(pelorin.Window());
    }
    ASSERT_TRUE(ClickRow(children[0]));
    ASSERT_TRUE(ClickRow(children[1], 250, true));
    ASSERT_TRUE(pelorin.ChooseKillTask());
    EXPECT_EQ(children[1].ExitCode(), 0u);
    EXPECT_TRUE(children[0].Running());
}

TEST_F(Actions, AMemHeaderClickSortsLargestFirstAcrossRefreshesKeepingTheSelection) {
    ASSERT_TRUE(ClickRow(children[0]));
    const auto memHeader = RowPoint(list, -1, 2);
    ASSERT_TRUE(memHeader && pelorin.Click(*memHeader));
    for (int refresh = 0; refresh < 3; ++refresh, ::Sleep(1100)) {
        const auto rows = Rows(list);
        for (std::size_t r = 1; r < rows.size(); ++r)
            EXPECT_GE(SizeTextValue(rows[r - 1][2]), SizeTextValue(rows[r][2])) << rows[r - 1][2] << " above " << rows[r][2];
        EXPECT_EQ(SelectedPid(), Pid(children[0]));
    }
}

TEST_F(Actions, TypingANameSelectsItsProcessAndDeleteEndsIt) {
    ASSERT_TRUE(ClickRow(children[0]));
    const std::string ended = Pid(children[0]);
    children[0].Kill();  // one child left by that name
    ASSERT_TRUE(test::WaitUntil([&] { return Find(Rows(list), ended) < 0; }));
    ASSERT_TRUE(pelorin.Press({VK_HOME}));
    ASSERT_TRUE(pelorin.Type("pelorin_c"));
    ASSERT_TRUE(TitleNames(children[1]));
    EXPECT_EQ(SelectedPid(), Pid(children[1]));
    ASSERT_TRUE(pelorin.Press({VK_DELETE}));
    EXPECT_EQ(children[1].ExitCode(), 0u);
    ASSERT_TRUE(pelorin.Press({VK_DELETE}));
    const HWND box = pelorin.WaitMessageBox();
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(Pelorin::MessageText(box), "Failed to kill task: \"pelorin_child.exe\" PID: " + Pid(children[1]));
    ::PostMessageA(box, WM_COMMAND, IDOK, 0);
}

TEST_F(Actions, CtrlCCopiesTheSelectedRowsCellsSeparatedByTabs) {
    ::OpenClipboard(nullptr), ::EmptyClipboard(), ::CloseClipboard();
    ASSERT_TRUE(ClickRow(children[0]));
    ASSERT_TRUE(pelorin.Press({VK_CONTROL, 'C'}));
    ASSERT_TRUE(test::WaitUntil([&] { return !ClipboardText().empty(); }));
    Row cells;
    std::istringstream text(ClipboardText() + '\t');  // the last cell ends like the others
    for (std::string cell; std::getline(text, cell, '\t');) cells.push_back(cell);
    const auto rows = Rows(list);
    const Row row = rows.at(static_cast<std::size_t>(Find(rows, Pid(children[0]))));
    ASSERT_EQ(cells.size(), 7u);
    for (int column : {0, 1, 4, 5, 6}) EXPECT_EQ(cells[column], row[column]) << column;
}

// What each build sees of the other width. Wine's own services are 64-bit,
// as most processes are on 64-bit Windows: the 64-bit build walks their
// modules, the 32-bit one shows their image alone. A child of the other width
// runs from its width's system folder: the 32-bit build reads a 64-bit one's
// strings through the native folder and shows its image; the 64-bit build
// lists a 32-bit one's modules, SysWOW64's among them.
struct OtherWidth {
    const char* child;      // the fixture of the other width
    const char* installAt;  // its system folder, as this driver names it
    const char* shownAt;    // the same, as the program shows it
    const char* description;
    std::size_t serviceModules;  // at least, for winedevice.exe
    const char* serviceModule;   // a module name among them
    const char* childModule;     // a module name of the child besides its own
};
const OtherWidth kOther = kWideDriver
    ? OtherWidth{"pelorin_child32.exe", "C:\\windows\\syswow64\\", "c:\\windows\\syswow64\\", "Pelorin 32-bit Fixture", 5,
                 "ntdll.dll", "kernel32.dll"}
    : OtherWidth{"pelorin_child64.exe", "C:\\windows\\sysnative\\", "c:\\windows\\system32\\", "Pelorin 64-bit Fixture", 1,
                 "winedevice.exe", nullptr};

class Widths : public ::testing::Test {
protected:
    // Clicks the row whose cell in the column holds text, read right before
    // (the list keeps refreshing), until the title names its PID.
    std::string ClickRowOf(const std::string& text, int column, bool right = false) {
        std::string pid;
        test::WaitUntil([&] {
            const auto rows = Rows(pelorin.ProcessList());
            const int row = Find(rows, text, column);
            const auto point = row >= 0 ? RowPoint(pelorin.ProcessList(), row) : std::nullopt;
            if (!point || !pelorin.Click(*point, right)) return false;
            pid = rows[static_cast<std::size_t>(row)][1];
            return test::WaitUntil([&] { return Text(pelorin.Window()).find("PID: " + pid + " ") != std::string::npos; }, 1000);
        }, 10000);
        return pid;
    }
    // The module list once it holds the rows of its count header.
    std::vector<Row> Modules() {
        const HWND list = pelorin.Controls(WC_LISTVIEWA).at(1);
        std::vector<Row> rows;
        test::WaitUntil([&] {
            const Row headers = Headers(list);
            rows = Rows(list);
            return !headers.empty() && !rows.empty() && headers[0] == "Modules Count: " + std::to_string(rows.size());
        }, 5000);
        for (Row& row : rows) row[1] = LowerCaseAscii(row[1]);
        return rows;
    }

    SettingsGuard settings;
    Pelorin pelorin;
};

TEST_F(Widths, AClickOnAWineServiceListsTheModulesThisBuildCanWalk) {
    ASSERT_TRUE(pelorin.Start());
    ASSERT_NE(ClickRowOf("winedevice.exe", 0), "");
    const auto modules = Modules();
    EXPECT_GE(modules.size(), kOther.serviceModules);
    for (const Row& row : modules) EXPECT_NE(row[1], "") << row[0];
    const int found = Find(modules, kOther.serviceModule, 0);
    ASSERT_GE(found, 0) << kOther.serviceModule;
    EXPECT_EQ(modules[static_cast<std::size_t>(found)][1], std::string("c:\\windows\\system32\\") + kOther.serviceModule);
}

TEST_F(Widths, AChildOfTheOtherWidthShowsItsStringsItsModulesAndEndsByKillTask) {
    const std::string installed = std::string(kOther.installAt) + kOther.child;
    if (!::CopyFileA(test::FixturePath(kOther.child).c_str(), installed.c_str(), FALSE))
        GTEST_SKIP() << "no fixture of the other width";
    test::Child child;
    ASSERT_TRUE(child.StartProgram(installed));
    ASSERT_TRUE(pelorin.Start());
    ASSERT_TRUE(pelorin.ClickCheckBox("More Info"));
    const std::string pid = std::to_string(child.Pid());
    Row row;
    ASSERT_TRUE(test::WaitUntil([&] {
        const auto rows = Rows(pelorin.ProcessList());
        const int r = Find(rows, pid);
        return r >= 0 && !(row = rows[static_cast<std::size_t>(r)])[5].empty() && row[5] != "--";
    }, 5000)) << (row.empty() ? "" : row[4] + " / " + row[5]);
    const std::string shown = std::string(kOther.shownAt) + kOther.child;
    EXPECT_EQ(LowerCaseAscii(row[4]), shown);
    EXPECT_EQ(row[5], kOther.description);
    EXPECT_EQ(row[6], "Marrowby Test Works");

    ASSERT_EQ(ClickRowOf(pid, 1), pid);
    const auto modules = Modules();
    ASSERT_FALSE(modules.empty());
    EXPECT_EQ(modules[0], (Row{kOther.child, shown, kOther.description, "Marrowby Test Works"}));
    if (kOther.childModule) {
        EXPECT_GE(Find(modules, std::string(kOther.shownAt) + kOther.childModule), 0) << kOther.childModule;
    } else {
        EXPECT_EQ(modules.size(), 1u);
    }

    ASSERT_EQ(ClickRowOf(pid, 1, true), pid);
    ASSERT_TRUE(pelorin.ChooseKillTask());
    EXPECT_EQ(child.ExitCode(), 0u);
    ::DeleteFileA(installed.c_str());
}

// Any program can find the application window and send it messages.
TEST(Messages, FromAnotherProgramRunNothingInPelorin) {
    SettingsGuard settings;
    Pelorin pelorin;
    ASSERT_TRUE(pelorin.Start());
    const HWND app = ::FindWindowExA(HWND_MESSAGE, nullptr, "PelorinApp", nullptr);
    ASSERT_NE(app, nullptr);
    // The same address in every process of one width: called, it would end Pelorin with code 77.
    const auto exitProcess = reinterpret_cast<WPARAM>(::GetProcAddress(::GetModuleHandleA("kernel32.dll"), "ExitProcess"));
    for (const auto& [window, message, wParam, lParam] :
         {std::tuple{app, 0x8FFEu, exitProcess, LPARAM{77}}, {app, 0x8FFFu, WPARAM{0}, LPARAM{0x12345678}},
          {app, 0x8FFFu, WPARAM{1}, LPARAM{0x00400000}}, {pelorin.ProcessList(), 0x8FFDu, WPARAM{0}, LPARAM{0x12345678}}}) {
        Ask(window, message, wParam, lParam, 2000);
        ::PostMessageA(window, message, wParam, lParam);
    }
    ::Sleep(1500);
    ASSERT_EQ(pelorin.ExitCode(0), std::nullopt) << "Pelorin ended";
    EXPECT_GT(Count(pelorin.ProcessList()), 0);
    ASSERT_TRUE(pelorin.Close());
    EXPECT_EQ(pelorin.ExitCode(3000), 0u);
}

}  // namespace
}  // namespace pelorin::e2e
