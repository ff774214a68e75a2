// "Kill Task" through Pelorin's own popup on processes it cannot or need not
// end: one already gone (its handle still held by the driver, or released),
// the identifiers 0 to 5 (1 to 5 through the kill command in this process),
// one the driver holds open, and one whose DACL denies the terminate right. Each shows the failure message or succeeds
// exactly as the design says, and never crashes or hangs Pelorin.
#include <windows.h>
#include <sddl.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "e2e/PelorinDriver.h"
#include "fixtures/ChildProcess.h"
#include "reliability/ReliabilityDriver.h"
#include "support/Handles.h"
#include "support/SystemInfo.h"
#include "ui/HandlerTestSupport.h"
#include "ui/MainFormFixture.h"

namespace pelorin::reliability {
namespace {

using e2e::PelorinProcess;
using e2e::RemoteListView;

constexpr DWORD kOutcomeMs = 5000;

std::string FailureText(const std::string& name, DWORD pid) {
    return "Failed to kill task: \"" + name + "\" PID: " + std::to_string(pid);
}

// A started Pelorin with "No Refresh" ticked once its list holds the given
// PIDs: from then on only Pelorin's own kill refresh changes the list.
class FrozenPelorin {
public:
    ::testing::AssertionResult Start(const std::vector<DWORD>& listedPids) {
        if (!process.Start()) return ::testing::AssertionFailure() << "Pelorin did not start";
        const HWND form = process.WaitForWindow();
        if (form == nullptr) return ::testing::AssertionFailure() << "no window";
        w = ControlsOf(form);
        if (!w.Complete()) return ::testing::AssertionFailure() << "controls missing";
        list = std::make_unique<RemoteListView>(w.processes);
        for (DWORD pid : listedPids) {
            if (!WaitUntil([&] { return RowOf(pid) >= 0; }, 10000))
                return ::testing::AssertionFailure() << "no row for " << pid;
        }
        if (!e2e::ClickButton(w.noRefresh) || !e2e::IsChecked(w.noRefresh))
            return ::testing::AssertionFailure() << "\"No Refresh\" not ticked";
        ::Sleep(1500);  // a refresh under way when the box was ticked has ended
        return ::testing::AssertionSuccess();
    }

    int RowOf(DWORD pid) const { return list->RowOf(1, std::to_string(pid)); }

    // A left click on the row, and the title that shows it was taken.
    ::testing::AssertionResult Click(int row, DWORD titlePid) {
        const auto rect = list->ItemRect(row);
        if (!rect) return ::testing::AssertionFailure() << "no rectangle for row " << row;
        e2e::PostClick(w.processes, {(rect->left + rect->right) / 2, (rect->top + rect->bottom) / 2});
        const std::string expected = "Pelorin - Selected PID: " + std::to_string(titlePid) + " [";
        if (!WaitUntil([&] { return e2e::WindowText(w.form).rfind(expected, 0) == 0; }, 5000))
            return ::testing::AssertionFailure() << "title " << e2e::WindowText(w.form);
        return ::testing::AssertionSuccess();
    }

    // The menu key, then "Kill Task"; the failure message box if one shows
    // within the wait (null otherwise).
    HWND KillSelected(DWORD waitMs = kOutcomeMs) {
        PressMenuKey(w.form);
        if (e2e::WaitForWindowOfClass(process.Pid(), "#32768") == nullptr) return nullptr;
        ChooseKillTask(w.form);
        return e2e::WaitForWindowOfClass(process.Pid(), "#32770", waitMs);
    }

    // Reads and closes the failure message; its text, or why there is none.
    std::string TakeMessage(HWND box) {
        if (box == nullptr) return "<no message box>";
        const e2e::MessageBoxInfo info = e2e::ReadMessageBox(box);
        ::PostMessageA(box, WM_COMMAND, IDOK, 0);
        WaitUntil([&] { return !::IsWindow(box); }, 5000);
        return info.text;
    }

    PelorinProcess process;
    PelorinWindow w;
    std::unique_ptr<RemoteListView> list;
};

TEST(KillFault, AProcessAlreadyGoneShowsTheFailureMessageWhetherOrNotItsHandleIsHeld) {
    e2e::RegistryKeyGuard registry;
    fixtures::ChildProcess held, released;
    ASSERT_TRUE(held.Start());
    ASSERT_TRUE(released.Start());
    FrozenPelorin pelorin;
    ASSERT_TRUE(pelorin.Start({held.Pid(), released.Pid()}));

    // Ended by someone else after the click; the driver keeps its handle, so
    // the process object (and its PID) lives on.
    ASSERT_TRUE(pelorin.Click(pelorin.RowOf(held.Pid()), held.Pid()));
    ASSERT_TRUE(::TerminateProcess(held.Handle(), 7));
    ASSERT_EQ(held.WaitExitCode(5000), std::optional<DWORD>(7));
    EXPECT_EQ(pelorin.TakeMessage(pelorin.KillSelected()), FailureText("pelorin_child.exe", held.Pid()));
    EXPECT_EQ(held.WaitExitCode(0), std::optional<DWORD>(7)) << "the exit code was rewritten";

    // Ended and its last handle closed: the PID names nothing now.
    const DWORD gone = released.Pid();
    ASSERT_TRUE(pelorin.Click(pelorin.RowOf(gone), gone));
    released.Kill();
    EXPECT_EQ(pelorin.TakeMessage(pelorin.KillSelected()), FailureText("pelorin_child.exe", gone));

    // The rows stay: a failed kill refreshes nothing.
    EXPECT_GE(pelorin.RowOf(held.Pid()), 0);
    EXPECT_GE(pelorin.RowOf(gone), 0);
    EXPECT_TRUE(pelorin.process.Running());
}

TEST(KillFault, IdentifierZeroFromARightClickOnNoRowShowsTheFailureMessage) {
    e2e::RegistryKeyGuard registry;
    for (std::uint32_t pid = 0; pid <= 5; ++pid) {
        // Refused before any platform call, whatever holds the identifier.
        EXPECT_FALSE(KillProcess(pid)) << pid;
        EXPECT_FALSE(KillProcess(pid, 0)) << pid;
    }

    FrozenPelorin pelorin;
    ASSERT_TRUE(pelorin.Start({}));
    // A tall window leaves room below the last row.
    ASSERT_TRUE(::SetWindowPos(pelorin.w.form, nullptr, 20, 20, 700, 720, SWP_NOZORDER | SWP_NOACTIVATE));
    const int rows = pelorin.list->RowCount();
    ASSERT_GT(rows, 0);
    const auto last = pelorin.list->ItemRect(rows - 1);
    RECT client = {};
    ::GetClientRect(pelorin.w.processes, &client);
    ASSERT_TRUE(last.has_value());
    ASSERT_GT(client.bottom - last->bottom, 20) << "no room below the rows";

    // The right click that opens the popup selects, here nothing: PID 0.
    e2e::PostClick(pelorin.w.processes, {client.right / 2, (last->bottom + client.bottom) / 2}, true);
    ASSERT_NE(e2e::WaitForWindowOfClass(pelorin.process.Pid(), "#32768"), nullptr) << "no popup menu";
    EXPECT_EQ(e2e::WindowText(pelorin.w.form), "Pelorin - Selected PID: 0 []");
    ChooseKillTask(pelorin.w.form);
    EXPECT_EQ(pelorin.TakeMessage(e2e::WaitForWindowOfClass(pelorin.process.Pid(), "#32770", kOutcomeMs)),
              FailureText("", 0));
    EXPECT_EQ(pelorin.list->RowCount(), rows);  // nothing refreshed
    EXPECT_TRUE(pelorin.process.Running());
}

// The identifiers 1 to 5 (the idle and system processes live there) cannot be
// clicked in Pelorin's list, which leaves them out: the kill command on the
// real main window in this process, with such a row put in by hand.
class KillCommandOnLowIdentifiers : public testing::MainFormTest {};

TEST_F(KillCommandOnLowIdentifiers, EachShowsTheFailureMessageAndEndsNothing) {
    Build();
    fixtures::ChildProcess bystander;
    ASSERT_TRUE(bystander.Start());
    for (DWORD pid = 1; pid <= 5; ++pid) {
        SCOPED_TRACE("PID " + std::to_string(pid));
        ClearItems(form.lvProcesses);
        testing::AddProcessRow(form.lvProcesses, testing::ProcessRow("system.exe", pid, "-"));
        testing::ClickRow(form.lvProcesses, 0);
        ASSERT_EQ(form.refresh.SelectedPid.load(), pid);
        // As if the platform had named a process there with a creation time.
        form.SelectedCreation = 1;
        testing::MessageBoxReader reader;
        ::SendMessageA(form.Form->window, WM_COMMAND, MAKEWPARAM(form.mnuList->firstId, 0), 0);
        EXPECT_EQ(reader.seen.count, 1);
        EXPECT_EQ(reader.seen.text, FailureText("system.exe", pid));
        EXPECT_EQ(ItemCount(form.lvProcesses), 1);  // no refresh after a failure
    }
    EXPECT_TRUE(bystander.Running());
}

TEST(KillFault, AProcessTheDriverHoldsOpenIsEndedAndItsRowGoesAtOnce) {
    e2e::RegistryKeyGuard registry;
    fixtures::ChildProcess child;  // its handle, with every right, stays open here
    ASSERT_TRUE(child.Start());
    FrozenPelorin pelorin;
    ASSERT_TRUE(pelorin.Start({child.Pid()}));
    ASSERT_TRUE(pelorin.Click(pelorin.RowOf(child.Pid()), child.Pid()));

    const HWND box = pelorin.KillSelected(1500);
    EXPECT_EQ(box, nullptr) << pelorin.TakeMessage(box);
    const auto code = child.WaitExitCode(kOutcomeMs);
    ASSERT_TRUE(code.has_value()) << "the held process still runs";
    EXPECT_EQ(*code, 0u);
    // "No Refresh" is ticked: only the kill's own refresh can have taken it away.
    EXPECT_EQ(pelorin.RowOf(child.Pid()), -1);
    EXPECT_GT(pelorin.list->RowCount(), 0);
    EXPECT_TRUE(pelorin.process.Running());
}

// pelorin_child.exe started with a DACL that denies everyone the terminate
// right and allows everything else.
class GuardedChild {
public:
    ~GuardedChild() {
        if (process_ && ::WaitForSingleObject(process_.Get(), 0) == WAIT_TIMEOUT) {
            ::TerminateProcess(process_.Get(), 1);  // the creator's handle has every right
            ::WaitForSingleObject(process_.Get(), 5000);
        }
    }

    bool Start() {
        PSECURITY_DESCRIPTOR descriptor = nullptr;
        if (!::ConvertStringSecurityDescriptorToSecurityDescriptorA("D:(D;;0x0001;;;WD)(A;;GA;;;WD)", SDDL_REVISION_1,
                                                                    &descriptor, nullptr)) {
            return false;
        }
        SECURITY_ATTRIBUTES attributes = {sizeof attributes, descriptor, FALSE};
        std::string commandLine(1, '"');
        commandLine += fixtures::FixturePath("pelorin_child.exe");
        commandLine += '"';
        STARTUPINFOA startup = {};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION info = {};
        const BOOL started = ::CreateProcessA(nullptr, &commandLine[0], &attributes, nullptr, FALSE, CREATE_NO_WINDOW,
                                              nullptr, nullptr, &startup, &info);
        ::LocalFree(descriptor);
        if (!started) return false;
        ::CloseHandle(info.hThread);
        process_.Reset(info.hProcess);
        pid_ = info.dwProcessId;
        return true;
    }

    DWORD Pid() const { return pid_; }
    bool Running() const { return ::WaitForSingleObject(process_.Get(), 0) == WAIT_TIMEOUT; }
    std::optional<DWORD> WaitExitCode(DWORD ms) const {
        if (::WaitForSingleObject(process_.Get(), ms) != WAIT_OBJECT_0) return std::nullopt;
        DWORD code = 0;
        ::GetExitCodeProcess(process_.Get(), &code);
        return code;
    }

private:
    UniqueHandle process_;
    DWORD pid_ = 0;
};

TEST(KillFault, AProcessWhoseDaclDeniesTerminateFailsWithTheMessageOrEndsAsIfUnguarded) {
    e2e::RegistryKeyGuard registry;
    GuardedChild child;
    ASSERT_TRUE(child.Start());
    // Whether this platform enforces the DACL at all, seen from here.
    const UniqueHandle probe(::OpenProcess(PROCESS_TERMINATE, FALSE, child.Pid()));
    const bool enforcedHere = !probe;

    FrozenPelorin pelorin;
    ASSERT_TRUE(pelorin.Start({child.Pid()}));
    ASSERT_TRUE(pelorin.Click(pelorin.RowOf(child.Pid()), child.Pid()));
    const HWND box = pelorin.KillSelected();
    const bool messageShown = box != nullptr;
    const std::string text = pelorin.TakeMessage(box);
    const auto code = child.WaitExitCode(messageShown ? 0 : kOutcomeMs);

    if (messageShown) {
        // Refused: the message, the process and its row stay.
        EXPECT_EQ(text, FailureText("pelorin_child.exe", child.Pid()));
        EXPECT_FALSE(code.has_value()) << "ended, yet the failure was shown";
        EXPECT_GE(pelorin.RowOf(child.Pid()), 0);
    } else {
        // Ended: exit code 0 and the row gone at once, as for any process.
        ASSERT_TRUE(code.has_value()) << "neither ended nor a failure message";
        EXPECT_EQ(*code, 0u);
        EXPECT_EQ(pelorin.RowOf(child.Pid()), -1);
    }
    EXPECT_TRUE(pelorin.process.Running());
    PrintFigure("kill", "terminate right denied by the DACL: refused to the driver here",
                enforcedHere ? "yes" : "no (not enforced)");
    PrintFigure("kill", "terminate right denied by the DACL: Pelorin's kill",
                messageShown ? "refused, failure message" : "succeeded, row gone");
}

}  // namespace
}  // namespace pelorin::reliability
