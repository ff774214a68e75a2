// What a user does to processes in the real Pelorin.exe while it refreshes:
// move the highlight and end the process it shows, find by typing, copy;
// what it shows of 64-bit processes; and that no other program can make it
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
    bool ClickRow(const test::Child& child, bool right = false) { return pelorin.ClickRow(Pid(child), right); }
    bool TitleNames(const test::Child& child) {
        return test::WaitUntil([&] { return Text(pelorin.Window()).find("PID: " + Pid(child) + " ") != std::string::npos; });
    }
    std::string SelectedPid() {  // read with the rows
        int selected = -1;
        const std::vector<Row> rows = Rows(list, &selected);
        return selected >= 0 ? rows.at(static_cast<std::size_t>(selected))[1] : "";
    }

    SettingsGuard settings;
    test::Child children[4];
    Pelorin pelorin;
    HWND list = nullptr;
};

// Moved by a click of either button or by the arrow keys, the highlight is the
// process the title names at once and Delete or "Kill Task" ends, not the one
// clicked before; it is gone from the list within a second, refreshing or not.
class Highlight : public Actions, public ::testing::WithParamInterface<bool> {};

TEST_P(Highlight, IsTheProcessTheTitleNamesAndTheKillEnds) {
    if (GetParam()) { ASSERT_TRUE(pelorin.ClickCheckBox("No Refresh")); }
    const auto name = RowPoint(list, -1, 0);
    ASSERT_TRUE(name && pelorin.Click(*name));  // sorted by name: the children's rows are next to each other
    for (const WORD kill : {WORD{VK_DELETE}, WORD{VK_APPS}, WORD{VK_RBUTTON}}) {
        std::vector<test::Child*> listed;
        for (const Row& row : Rows(list))
            for (test::Child& c : children) if (c.Running() && row[1] == Pid(c)) listed.push_back(&c);
        ASSERT_GE(listed.size(), 2u);
        ASSERT_TRUE(ClickRow(*listed[0]) && TitleNames(*listed[0]));
        if (kill == VK_RBUTTON) {
            ASSERT_TRUE(ClickRow(*listed[1], true) && pelorin.ChooseKillTask());
        } else {
            ASSERT_TRUE(pelorin.Press({VK_DOWN}) && TitleNames(*listed[1]));
            EXPECT_EQ(SelectedPid(), Pid(*listed[1]));
            ASSERT_TRUE(pelorin.Press({kill}) && (kill == VK_DELETE || pelorin.ChooseKillTask()));
        }
        EXPECT_EQ(listed[1]->ExitCode(), 0u);
        EXPECT_TRUE(listed[0]->Running());
        EXPECT_TRUE(test::WaitUntil([&] { return Find(Rows(list), Pid(*listed[1])) < 0; }, 1500)) << "a second, and half as much to read it";
    }
}

INSTANTIATE_TEST_SUITE_P(Actions, Highlight, ::testing::Bool(), [](const auto& p) { return p.param ? "NoRefresh" : "Refreshing"; });

// With the known processes shown, typing Pelorin's own name selects its row;
// Delete then ends nothing and says so.
TEST_F(Actions, TypingANameSelectsItsProcessAndDeleteNeverEndsPelorinItself) {
    const std::string own = std::to_string(ProcessOf(pelorin.Window()));
    ASSERT_TRUE(pelorin.ClickCheckBox("Show Known Processes"));
    ASSERT_TRUE(test::WaitUntil([&] { return Find(Rows(list), own) >= 0; }));
    ASSERT_TRUE(ClickRow(children[0]));
    ASSERT_TRUE(pelorin.Type("pelorin."));
    ASSERT_TRUE(test::WaitUntil([&] { return Text(pelorin.Window()) == "Pelorin - Selected PID: " + own + " [Pelorin.exe]"; }));
    ASSERT_TRUE(pelorin.Press({VK_DELETE}));
    const HWND box = pelorin.WaitMessageBox();
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(Pelorin::MessageText(box), "Failed to kill task: \"Pelorin.exe\" PID: " + own);
    ::PostMessageA(box, WM_COMMAND, IDOK, 0);
    EXPECT_EQ(pelorin.ExitCode(0), std::nullopt) << "Pelorin ended";
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

// Wine's own services are 64-bit, as most processes are on 64-bit Windows.
TEST(SixtyFourBit, ProcessesShowTheirImagePathsAndTheirStringsFromTheNativeSystemFolder) {
    SettingsGuard settings;
    const std::string installed = "C:\\windows\\sysnative\\pelorin_child64.exe";
    if (!::CopyFileA(test::FixturePath("pelorin_child64.exe").c_str(), installed.c_str(), FALSE))
        GTEST_SKIP() << "no 64-bit fixture";
    test::Child child;
    ASSERT_TRUE(child.StartProgram(installed));
    Pelorin pelorin;
    ASSERT_TRUE(pelorin.Start());
    ASSERT_TRUE(pelorin.ClickCheckBox("More Info"));
    Row row;
    ASSERT_TRUE(test::WaitUntil([&] {
        const auto rows = Rows(pelorin.ProcessList());
        const int r = Find(rows, std::to_string(child.Pid()));
        return r >= 0 && !(row = rows[static_cast<std::size_t>(r)])[5].empty() && row[5] != "--";
    }, 5000)) << (row.empty() ? "" : row[4] + " / " + row[5]);
    EXPECT_EQ(LowerCaseAscii(row[4]), "c:\\windows\\system32\\pelorin_child64.exe");
    EXPECT_EQ(row[5], "Pelorin 64-bit Fixture");
    for (const Row& r : Rows(pelorin.ProcessList()))
        if (r[0] == "winedevice.exe" || r[0] == "plugplay.exe") { EXPECT_EQ(LowerCaseAscii(r[4]), "c:\\windows\\system32\\" + r[0]); }
    child.Kill();
    ::DeleteFileA(installed.c_str());
}

// Any program can send or post Pelorin's windows messages: private ones, menu
// commands, notifications with its own pointers or into Pelorin's memory.
TEST_F(Actions, MessagesFromAnotherProgramRunNothingInPelorin) {
    ASSERT_TRUE(ClickRow(children[0]) && TitleNames(children[0]));
    const HWND app = ::FindWindowExA(HWND_MESSAGE, nullptr, "PelorinApp", nullptr);
    ASSERT_NE(app, nullptr);
    std::vector<HWND> windows = {app, pelorin.Window()};
    ::EnumChildWindows(pelorin.Window(), Collect, reinterpret_cast<LPARAM>(&windows));
    // Delete pressed in the list, as the list would tell its window.
    NMLVKEYDOWN del = {{list, 0, static_cast<UINT>(LVN_KEYDOWN)}, VK_DELETE, 0};
    const Remote inPelorin(list, sizeof del);
    ASSERT_TRUE(inPelorin.Write(&del));
    for (HWND window : windows)
        for (const LPARAM pointer : {LPARAM{0x12345678}, reinterpret_cast<LPARAM>(&del), reinterpret_cast<LPARAM>(inPelorin.at)})
            Ask(window, WM_NOTIFY, 0, pointer, 2000), ::PostMessageA(window, WM_NOTIFY, 0, pointer);
    for (UINT id = 1; id <= 4000; ++id) ::PostMessageA(pelorin.Window(), WM_COMMAND, id, 0);
    // The same address in every 32-bit process: called, it would end Pelorin with code 77.
    const auto exitProcess = reinterpret_cast<WPARAM>(::GetProcAddress(::GetModuleHandleA("kernel32.dll"), "ExitProcess"));
    for (const auto& [window, message, wParam, lParam] :
         {std::tuple{app, 0x8FFEu, exitProcess, LPARAM{77}}, {app, 0x8FFFu, WPARAM{0}, LPARAM{0x12345678}},
          {app, 0x8FFFu, WPARAM{1}, LPARAM{0x00400000}}, {list, 0x8FFDu, WPARAM{0}, LPARAM{0x12345678}},
          {pelorin.Window(), unsigned{WM_TIMER}, WPARAM{1}, static_cast<LPARAM>(exitProcess)},  // a timer's callback
          {list, unsigned{WM_TIMER}, WPARAM{1}, static_cast<LPARAM>(exitProcess)}}) {
        Ask(window, message, wParam, lParam, 2000);
        ::PostMessageA(window, message, wParam, lParam);
    }
    // Posted last, so it comes after every message above.
    ASSERT_TRUE(pelorin.Close());
    EXPECT_EQ(pelorin.ExitCode(kCloseLimitMs), 0u);
    EXPECT_TRUE(children[0].Running());
}

}  // namespace
}  // namespace pelorin::e2e
