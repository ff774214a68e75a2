// "Kill Task" on the real window: a real child ended through the popup menu
// and its row gone at once (also with "No Refresh" ticked), the failure
// message with its exact text, title, owner and buttons and no refresh after
// it, a PID that now belongs to another process, no selection, and the menu
// key acting on the process last clicked.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "controls/Button.h"
#include "controls/ListView.h"
#include "fixtures/ChildProcess.h"
#include "ui/HandlerTestSupport.h"
#include "ui/KillCommand.h"
#include "ui/MainFormFixture.h"

namespace pelorin {
namespace {

using testing::AddProcessRow;
using testing::ClickRow;
using testing::MainFormTest;
using testing::MessageBoxReader;
using testing::PopupChooser;
using testing::ProcessRow;
using testing::Pump;
using testing::PumpFor;
using testing::PumpUntil;
using testing::RowOfPid;

TEST(KillFailureText, QuotesTheNameAndGivesThePid) {
    EXPECT_EQ(KillFailureText("notepad.exe", 1234), "Failed to kill task: \"notepad.exe\" PID: 1234");
    EXPECT_EQ(KillFailureText("", 0), "Failed to kill task: \"\" PID: 0");
}

class KillTest : public MainFormTest {
protected:
    // "Kill Task" as the menu delivers it.
    void ChooseKillTask() {
        ::SendMessageA(form.Form->window, WM_COMMAND, MAKEWPARAM(form.mnuList->firstId, 0), 0);
    }
    void ExpectFailureBox(const testing::MessageBoxSeen& seen, const std::string& text) {
        EXPECT_EQ(seen.count, 1);
        EXPECT_EQ(seen.text, text);
        EXPECT_EQ(seen.title, "Pelorin");
        EXPECT_EQ(seen.owner, form.Form->window);
        EXPECT_TRUE(seen.hasOk);
        EXPECT_FALSE(seen.hasCancel);
        EXPECT_FALSE(seen.hasIcon);
    }
};

TEST_F(KillTest, ThePopupsKillTaskEndsTheClickedChildAndItsRowGoesAtOnce) {
    Build();
    fixtures::ChildProcess child;
    ASSERT_TRUE(child.Start());
    RefreshProcessList(form.refresh);
    const int row = RowOfPid(form.lvProcesses, child.Pid());
    ASSERT_GE(row, 0);
    // No worker runs here at all; the box proves the kill ignores it.
    SetChecked(form.chkNoRefresh, true);

    {
        PopupChooser chooser(form.Form->window);
        ClickRow(form.lvProcesses, row, true);
        ASSERT_TRUE(PumpUntil([&] { return !child.Running(); }, 10000));
        EXPECT_EQ(chooser.seen.opened, 1);
    }
    const auto code = child.WaitExitCode(0);
    ASSERT_TRUE(code.has_value());
    EXPECT_EQ(*code, 0u);
    // Rebuilt by the kill itself: the row is gone, other rows are back.
    EXPECT_EQ(RowOfPid(form.lvProcesses, child.Pid()), -1);
    EXPECT_GT(ItemCount(form.lvProcesses), 0);
    EXPECT_EQ(form.refresh.SelectedPid.load(), child.Pid());  // kept after the kill

    // Again on the ended process: the failure message, and no refresh.
    AddProcessRow(form.lvProcesses, ProcessRow("marker.exe", 9, "-"));
    const int rows = ItemCount(form.lvProcesses);
    {
        MessageBoxReader reader;
        ChooseKillTask();
        ExpectFailureBox(reader.seen, "Failed to kill task: \"pelorin_child.exe\" PID: " + std::to_string(child.Pid()));
    }
    EXPECT_EQ(ItemCount(form.lvProcesses), rows);
    EXPECT_EQ(RowOfPid(form.lvProcesses, 9), rows - 1);
}

TEST_F(KillTest, APidThatNowBelongsToAnotherProcessIsNotEnded) {
    Build();
    fixtures::ChildProcess child;
    ASSERT_TRUE(child.Start());
    AddProcessRow(form.lvProcesses, ProcessRow("pelorin_child.exe", child.Pid(), "-"));
    Pump();
    ClickRow(form.lvProcesses, 0);
    ASSERT_TRUE(form.SelectedCreation.has_value());
    // As if the clicked process had ended and its PID gone to a later one.
    form.SelectedCreation = *form.SelectedCreation - 10000000;
    {
        MessageBoxReader reader;
        ChooseKillTask();
        ExpectFailureBox(reader.seen, "Failed to kill task: \"pelorin_child.exe\" PID: " + std::to_string(child.Pid()));
    }
    PumpFor(200);
    EXPECT_TRUE(child.Running());
    EXPECT_EQ(ItemCount(form.lvProcesses), 1);  // no refresh after a failure
}

TEST_F(KillTest, WithNothingClickedTheMessageHasAnEmptyNameAndPidZero) {
    Build();
    MessageBoxReader reader;
    ChooseKillTask();
    ExpectFailureBox(reader.seen, "Failed to kill task: \"\" PID: 0");
}

TEST_F(KillTest, TheMenuKeyOpensThePopupWithoutAClickAndKillsTheProcessLastClicked) {
    Build();
    fixtures::ChildProcess clicked, highlighted;
    ASSERT_TRUE(clicked.Start());
    ASSERT_TRUE(highlighted.Start());
    AddProcessRow(form.lvProcesses, ProcessRow("pelorin_child.exe", clicked.Pid(), "-"));
    AddProcessRow(form.lvProcesses, ProcessRow("pelorin_child.exe", highlighted.Pid(), "-"));
    Pump();
    ClickRow(form.lvProcesses, 0);
    const std::string caption = testing::TextOf(form.Form->window);
    ::SetFocus(form.lvProcesses->window);
    ::SendMessageA(form.lvProcesses->window, WM_KEYDOWN, VK_DOWN, 0);
    ASSERT_EQ(CurrentIndex(form.lvProcesses), 1);

    {
        PopupChooser chooser(form.Form->window);
        // What the platform sends for the keyboard's menu key.
        ::SendMessageA(form.lvProcesses->window, WM_CONTEXTMENU, reinterpret_cast<WPARAM>(form.lvProcesses->window),
                       -1);
        ASSERT_TRUE(PumpUntil([&] { return !clicked.Running(); }, 10000));
        EXPECT_EQ(chooser.seen.opened, 1);
    }
    EXPECT_TRUE(highlighted.Running());
    EXPECT_EQ(form.refresh.SelectedPid.load(), clicked.Pid());
    EXPECT_EQ(testing::TextOf(form.Form->window), caption);
}

}  // namespace
}  // namespace pelorin
