// What a user does to processes in the real program while it refreshes:
// move the highlight and end the process it shows, find by typing, copy; what
// it shows of processes of either width; and that no other program can make
// it run code.
#include <gtest/gtest.h>

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
    bool ClickRow(const std::string& pid, bool right = false) { return pelorin.ClickRow(pid, right); }
    bool ClickRow(const test::Child& child, bool right = false) { return ClickRow(Pid(child), right); }
    bool TitleNames(const test::Child& child) { return TitleNames(Pid(child)); }
    bool TitleNames(const std::string& pid) {
        return test::WaitUntil([&] { return Text(pelorin.Window()).find("PID: " + pid + " ") != std::string::npos; });
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
            // " ----" ends nothing and leaves the title; "Kill Task" ends the row right-clicked.
            ASSERT_TRUE(ClickRow(*listed[1], true) && pelorin.ChooseMenuItem(1));
            // Once the popup is gone and Pelorin answers, a kill would have begun.
            ASSERT_TRUE(test::WaitUntil([&] { return !pelorin.WaitPopupMenu(0); }) && Ask(pelorin.Window(), WM_NULL));
            EXPECT_FALSE(listed[1]->ExitCode(1000).has_value()) << "ended by \" ----\"";
            EXPECT_TRUE(TitleNames(*listed[1]));
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
    ASSERT_TRUE(pelorin.Type(LowerCaseAscii(std::string(kProgram).substr(0, 8))));  // "pelorin." or "pelorin6"
    ASSERT_TRUE(test::WaitUntil([&] { return Text(pelorin.Window()) == "Pelorin - Selected PID: " + own + " [" + kProgram + "]"; }));
    ASSERT_TRUE(pelorin.Press({VK_DELETE}));
    const HWND box = pelorin.WaitMessageBox();
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(Pelorin::MessageText(box), "Failed to kill task: \"" + std::string(kProgram) + "\" PID: " + own);
    ::PostMessageA(box, WM_COMMAND, IDOK, 0);
    EXPECT_EQ(pelorin.ExitCode(0), std::nullopt) << "Pelorin ended";
}

// A process named in any script, in a folder named so, with strings in any
// script: its row, the title, its module row and its row copied by Ctrl+C
// (the cells separated by tabs) show them exactly, read back as UTF-16.
TEST_F(Actions, AProcessNamedInAnyScriptShowsItsNamePathStringsAndModuleExactly) {
    const test::TempFolder temp;
    const std::string folder = temp.Path() + "Ünïcødé 中文", name = "çhïld中.exe", path = folder + "\\" + name;
    ASSERT_TRUE(::CreateDirectoryW(test::Wide(folder).c_str(), nullptr) &&
                ::CopyFileW(test::Wide(test::FixturePath("pelorin_child_strings.exe")).c_str(), test::Wide(path).c_str(), FALSE));
    test::Child child;  // its row waits for it
    ASSERT_TRUE(child.StartProgram(path) && pelorin.ClickCheckBox("More Info"));
    const Row expected = {name, path, "Pelorin Ünïcødé 中文 Fixture", "Marrowby 測試 Works 𝄞"};
    EXPECT_TRUE(test::WaitUntil([&] {
        const auto rows = Rows(list, nullptr, true);
        const int r = Find(rows, Pid(child));
        return r >= 0 && Row{rows[r][0], rows[r][4], rows[r][5], rows[r][6]} == expected;
    })) << ::testing::PrintToString(Rows(list, nullptr, true));
    ASSERT_TRUE(ClickRow(child));
    EXPECT_TRUE(test::WaitUntil([&] { return Text(pelorin.Window()) == "Pelorin - Selected PID: " + Pid(child) + " [" + name + "]"; }));
    const HWND modules = pelorin.Controls(WC_LISTVIEWA).at(1);
    EXPECT_TRUE(test::WaitUntil([&] { const auto rows = Rows(modules, nullptr, true); return !rows.empty() && rows[0] == expected; }));
    ::OpenClipboard(nullptr), ::EmptyClipboard(), ::CloseClipboard();
    ASSERT_TRUE(pelorin.Press({VK_CONTROL, 'C'}) && test::WaitUntil([&] { return !ClipboardText().empty(); }));
    const std::string copied = ClipboardText();  // "Mem" and "CPU" between the PID and the path keep changing
    EXPECT_TRUE(std::count(copied.begin(), copied.end(), '\t') == 6 && copied.starts_with(name + '\t' + Pid(child) + '\t') &&
                copied.ends_with('\t' + path + '\t' + expected[2] + '\t' + expected[3])) << copied;
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
    ASSERT_TRUE(ClickRow(Pid(other), true));
    ASSERT_TRUE(pelorin.ChooseKillTask());
    EXPECT_EQ(other.ExitCode(), 0u);
    EXPECT_TRUE(children[0].Running());
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
    // The same address in every process of one width: called, it would end Pelorin with code 77.
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
