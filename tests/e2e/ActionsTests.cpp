// What a user does to processes in the real program while it refreshes:
// click the row clicked, sort, find by typing, Delete, copy; what it shows of
// processes of either width and Kill Task; and that no other program can make
// it run code.
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
    // Clicks the process's row, read right before: the list keeps refreshing.
    bool ClickRow(const std::string& pid, DWORD holdMs = 60, bool right = false) {
        const int row = Find(Rows(list), pid);
        const auto point = row >= 0 ? RowPoint(list, row) : std::nullopt;
        return point && pelorin.Click(*point, right, holdMs);
    }
    bool TitleNames(const std::string& pid) {
        return test::WaitUntil([&] { return Text(pelorin.Window()).find("PID: " + pid + " ") != std::string::npos; }, 3000);
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
TEST_F(Actions, TheRowClickedIsTheProcessTheTitleActsOn) {
    for (DWORD hold = 150; hold <= 350; hold += 25) {
        ASSERT_TRUE(ClickRow(Pid(children[0])));
        ASSERT_TRUE(TitleNames(Pid(children[0])));
        ASSERT_TRUE(ClickRow(Pid(children[1]), hold));
        EXPECT_TRUE(TitleNames(Pid(children[1]))) << "held " << hold << " ms: " << Text(pelorin.Window());
    }
}

TEST_F(Actions, AMemHeaderClickSortsLargestFirstAcrossRefreshesKeepingTheSelection) {
    ASSERT_TRUE(ClickRow(Pid(children[0])));
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
    ASSERT_TRUE(ClickRow(Pid(children[0])));
    const std::string ended = Pid(children[0]);
    children[0].Kill();  // one child left by that name
    ASSERT_TRUE(test::WaitUntil([&] { return Find(Rows(list), ended) < 0; }));
    ASSERT_TRUE(pelorin.Press({VK_HOME}));
    ASSERT_TRUE(pelorin.Type("pelorin_c"));
    ASSERT_TRUE(TitleNames(Pid(children[1])));
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
    ASSERT_TRUE(ClickRow(Pid(children[0])));
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

// Wine's services are 64-bit: the 64-bit build walks their modules, the 32-bit
// one shows their image. A child of the other width runs from its width's system
// folder: a 64-bit one's strings are read through the native folder by the
// 32-bit build; the 64-bit build lists a 32-bit one's modules, SysWOW64's too.
TEST_F(Actions, ProcessesOfEitherWidthShowTheirStringsAndModulesAndEndByKillTask) {
    const std::string child = kWideDriver ? "pelorin_child32.exe" : "pelorin_child64.exe";
    const std::string folder = kWideDriver ? "c:\\windows\\syswow64\\" : "c:\\windows\\system32\\";
    const std::string installed = (kWideDriver ? folder : "C:\\windows\\sysnative\\") + child;
    const HWND modules = pelorin.Controls(WC_LISTVIEWA).at(1);
    const auto shownModules = [&] {  // once the list holds the rows its header counts
        std::vector<Row> rows;
        test::WaitUntil([&] { return !(rows = Rows(modules)).empty() && Headers(modules).at(0) == "Modules Count: " + std::to_string(rows.size()); });
        for (Row& row : rows) row[1] = LowerCaseAscii(row[1]);
        return rows;
    };
    const auto rows = Rows(list);
    const std::string servicePid = rows.at(static_cast<std::size_t>(Find(rows, "winedevice.exe", 0))).at(1);
    ASSERT_TRUE(ClickRow(servicePid) && TitleNames(servicePid));
    auto shown = shownModules();
    EXPECT_GE(shown.size(), kWideDriver ? 5u : 1u);
    EXPECT_GE(Find(shown, "c:\\windows\\system32\\" + std::string(kWideDriver ? "ntdll.dll" : "winedevice.exe")), 0);

    if (!::CopyFileA(test::FixturePath(child).c_str(), installed.c_str(), FALSE)) GTEST_SKIP() << "no child of the other width";
    test::Child other;
    ASSERT_TRUE(other.StartProgram(installed));
    ASSERT_TRUE(pelorin.ClickCheckBox("More Info"));
    const Row expected = {child, folder + child, kWideDriver ? "Pelorin 32-bit Fixture" : "Pelorin 64-bit Fixture", "Marrowby Test Works"};
    Row row;
    EXPECT_TRUE(test::WaitUntil([&] {
        const auto now = Rows(list);
        const int r = Find(now, Pid(other));
        return r >= 0 && (row = {now[r][0], LowerCaseAscii(now[r][4]), now[r][5], now[r][6]}) == expected;
    })) << ::testing::PrintToString(row);
    ASSERT_TRUE(ClickRow(Pid(other)) && TitleNames(Pid(other)));
    shown = shownModules();
    EXPECT_EQ(shown.at(0), expected);
    if (kWideDriver) EXPECT_GE(Find(shown, folder + "kernel32.dll"), 0);
    else EXPECT_EQ(shown.size(), 1u);
    // Kill Task ends the row right-clicked, not the one clicked before.
    ASSERT_TRUE(ClickRow(Pid(children[0])));
    ASSERT_TRUE(ClickRow(Pid(other), 250, true));
    ASSERT_TRUE(pelorin.ChooseKillTask());
    EXPECT_EQ(other.ExitCode(), 0u);
    EXPECT_TRUE(children[0].Running());
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
