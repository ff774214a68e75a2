// The real Pelorin.exe started and closed over and over, each close at
// another point of its one-second refresh cycle; closed and the session
// ended under it, also while its popup menu or its message box is open; and
// its single-instance name taken by a mutex before it starts.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <numeric>
#include <optional>
#include <string>
#include <vector>

#include "e2e/PelorinDriver.h"
#include "fixtures/ChildProcess.h"
#include "reliability/InProcessList.h"
#include "reliability/ReliabilityDriver.h"

namespace pelorin::reliability {
namespace {

using e2e::PelorinProcess;
using e2e::PelorinValue;
using e2e::RemoteListView;

// Closes are timed without Wine's wait for a window manager that the virtual
// display does not have.
class WineDisplayEnvironment : public ::testing::Environment {
public:
    void SetUp() override { unmanaged_ = std::make_unique<e2e::UnmanagedPelorinWindows>(); }
    void TearDown() override { unmanaged_.reset(); }

private:
    std::unique_ptr<e2e::UnmanagedPelorinWindows> unmanaged_;
};
::testing::Environment* const g_wineDisplay = ::testing::AddGlobalTestEnvironment(new WineDisplayEnvironment);

constexpr DWORD kCloseLimitMs = 3000;
constexpr DWORD kRefreshCycleMs = 1100;  // 1000 ms asleep plus the refresh

struct Placement {
    int left, top, width, height;
};

// Another placement for every run, on the 1024x768 virtual screen.
Placement PlacementOfRun(int k) {
    return {40 + (k * 53) % 300, 30 + (k * 29) % 200, 480 + (k * 17) % 200, 360 + (k * 13) % 150};
}

bool Move(HWND form, const Placement& p) {
    return ::SetWindowPos(form, nullptr, p.left, p.top, p.width, p.height, SWP_NOZORDER | SWP_NOACTIVATE) != FALSE;
}

::testing::AssertionResult SavedAs(const Placement& p) {
    const auto left = PelorinValue("frmleft"), top = PelorinValue("frmtop");
    const auto width = PelorinValue("frmWidth"), height = PelorinValue("frmHeight");
    if (left == p.left && top == p.top && width == p.width && height == p.height) return ::testing::AssertionSuccess();
    auto text = [](const std::optional<std::int32_t>& v) { return v ? std::to_string(*v) : std::string("none"); };
    return ::testing::AssertionFailure() << "stored " << text(left) << "," << text(top) << " " << text(width) << "x"
                                         << text(height) << ", expected " << p.left << "," << p.top << " " << p.width
                                         << "x" << p.height;
}

// A started Pelorin whose list has been filled once.
struct RunningPelorin {
    PelorinProcess process;
    PelorinWindow w;
    std::unique_ptr<RemoteListView> list;
    DWORD filledAt = 0;  // GetTickCount when the first rows were seen

    ::testing::AssertionResult Start() {
        if (!process.Start()) return ::testing::AssertionFailure() << "Pelorin did not start";
        const HWND form = process.WaitForWindow();
        if (form == nullptr) return ::testing::AssertionFailure() << "no window";
        w = ControlsOf(form);
        if (!w.Complete()) return ::testing::AssertionFailure() << "controls missing";
        list = std::make_unique<RemoteListView>(w.processes);
        if (!list->Valid()) return ::testing::AssertionFailure() << "list not readable";
        if (!WaitUntil([&] { return list->RowCount() > 0; }, 15000, 5))
            return ::testing::AssertionFailure() << "the list was never filled";
        filledAt = ::GetTickCount();
        return ::testing::AssertionSuccess();
    }
};

// Children that make each refresh read more processes, so that more close
// points fall inside a refresh.
class Crowd {
public:
    explicit Crowd(int count) {
        for (int i = 0; i < count; ++i) {
            auto child = std::make_unique<fixtures::ChildProcess>();
            if (child->Start("--load \"" + fixtures::FixturePath("pelorin_fixture_known.dll") + "\"")) {
                children_.push_back(std::move(child));
            }
        }
    }
    std::size_t Size() const { return children_.size(); }

private:
    std::vector<std::unique_ptr<fixtures::ChildProcess>> children_;
};

// How long Pelorin's second refresh takes, measured with the same code and
// processes in this process: a plain one, and the first one after "Show
// Known Processes" and "More Info" were ticked (which reads more, and what it
// reads for the first time).
struct RefreshLengths {
    double plainMs = 0;
    double fullMs = 0;
};

RefreshLengths MeasureRefreshLengths() {
    InProcessList list;
    RefreshLengths lengths;
    list.TimeRefreshes(1);
    lengths.plainMs = list.TimeRefreshes(5);
    list.SetShowKnown(true);
    list.SetMoreInfo(true);
    lengths.fullMs = list.TimeRefreshes(1);
    return lengths;
}

struct CloseFigures {
    std::vector<DWORD> closeMs;
    std::vector<DWORD> offsetMs;
    int failures = 0;

    void Print(const std::string& caseName) const {
        if (closeMs.empty()) return;
        std::vector<DWORD> sorted = closeMs;
        std::sort(sorted.begin(), sorted.end());
        const double mean = std::accumulate(sorted.begin(), sorted.end(), 0.0) / static_cast<double>(sorted.size());
        PrintFigure(caseName, "runs", std::to_string(sorted.size()));
        PrintFigure(caseName, "close offsets after the first filled list (ms)",
                    std::to_string(*std::min_element(offsetMs.begin(), offsetMs.end())) + " to " +
                        std::to_string(*std::max_element(offsetMs.begin(), offsetMs.end())));
        PrintFigure(caseName, "WM_CLOSE to exit, min / mean / 95th pct / max (ms)",
                    std::to_string(sorted.front()) + " / " + Fixed(mean, 0) + " / " +
                        std::to_string(sorted[std::min(sorted.size() - 1, sorted.size() * 95 / 100)]) +
                        " / " + std::to_string(sorted.back()));
        PrintFigure(caseName, "runs failing (exit code, time or settings)", std::to_string(failures));
    }
};

TEST(StartAndClose, EveryCloseAcrossTheRefreshCycleExitsWithZeroWithinThreeSecondsAndSaves) {
    e2e::RegistryKeyGuard registry;
    const int runs = Scaled(12, 200);
    // The regular run spans the cycle with fewer, wider steps.
    const int stride = SoakRun() ? 37 : 97;
    Crowd crowd(8);
    ASSERT_EQ(crowd.Size(), 8u);
    const RefreshLengths lengths = MeasureRefreshLengths();

    CloseFigures figures;
    for (int k = 0; k < runs; ++k) {
        SCOPED_TRACE("run " + std::to_string(k));
        RunningPelorin pelorin;
        ASSERT_TRUE(pelorin.Start());
        // Every other run reads every process and its version strings: a
        // longer second refresh.
        if (k % 2 == 1) {
            ASSERT_TRUE(e2e::ClickButton(pelorin.w.showKnown));
            ASSERT_TRUE(e2e::ClickButton(pelorin.w.moreInfo));
        }
        const Placement p = PlacementOfRun(k);
        ASSERT_TRUE(Move(pelorin.w.form, p));
        const RECT moved = WindowBox(pelorin.w.form);
        ASSERT_EQ(moved.left, p.left) << BoxText(moved);
        ASSERT_EQ(moved.right - moved.left, p.width) << BoxText(moved);

        // Every fourth run aims inside the second refresh, which starts about
        // 1000 ms after the first filled list; the others step across the cycle.
        const double length = k % 2 == 1 ? lengths.fullMs : lengths.plainMs;
        const int span = std::max(1, static_cast<int>(length) - 4);
        const DWORD offset = k % 4 == 3 ? 1002 + static_cast<DWORD>((k * 7) % span)
                                        : static_cast<DWORD>(k * stride) % kRefreshCycleMs;
        const DWORD since = ::GetTickCount() - pelorin.filledAt;
        if (since < offset) ::Sleep(offset - since);
        figures.offsetMs.push_back(::GetTickCount() - pelorin.filledAt);

        const DWORD posted = ::GetTickCount();
        ASSERT_TRUE(::PostMessageA(pelorin.w.form, WM_CLOSE, 0, 0));
        const auto code = pelorin.process.WaitExitCode(kCloseLimitMs);
        const DWORD spent = ::GetTickCount() - posted;
        if (!code) pelorin.process.Kill();
        const bool saved = SavedAs(p);
        if (!code || *code != 0 || !saved) ++figures.failures;
        figures.closeMs.push_back(spent);
        EXPECT_TRUE(code.has_value()) << "still running " << spent << " ms after WM_CLOSE";
        if (code) {
            EXPECT_EQ(*code, 0u);
        }
        EXPECT_TRUE(SavedAs(p));
    }
    const std::string name = SoakRun() ? "start/close (soak)" : "start/close";
    figures.Print(name);
    int inside = 0;
    for (std::size_t k = 0; k < figures.offsetMs.size(); ++k) {
        const double length = k % 2 == 1 ? lengths.fullMs : lengths.plainMs;
        if (figures.offsetMs[k] >= 1000 && figures.offsetMs[k] <= 1000 + length) ++inside;
    }
    PrintFigure(name, "second refresh here, plain / first with Show Known + More Info (ms)",
                Fixed(lengths.plainMs, 1) + " / " + Fixed(lengths.fullMs, 1));
    PrintFigure(name, "closes that landed inside the second refresh (estimated)",
                std::to_string(inside) + " of " + std::to_string(figures.offsetMs.size()));
}

// Closes while start-up has only just shown the window: the workers may not
// have finished their first pass, the list may still be empty.
TEST(StartAndClose, ACloseAsSoonAsTheWindowShowsExitsWithZeroAndSaves) {
    e2e::RegistryKeyGuard registry;
    const int runs = Scaled(6, 40);
    int failures = 0;
    DWORD slowest = 0;
    for (int k = 0; k < runs; ++k) {
        SCOPED_TRACE("run " + std::to_string(k));
        PelorinProcess pelorin;
        ASSERT_TRUE(pelorin.Start());
        const HWND form = pelorin.WaitForWindow();
        ASSERT_NE(form, nullptr);
        const Placement p = PlacementOfRun(k + 7);
        ASSERT_TRUE(Move(form, p));
        ::Sleep(static_cast<DWORD>(k * 13) % 120);
        const DWORD posted = ::GetTickCount();
        ASSERT_TRUE(::PostMessageA(form, WM_CLOSE, 0, 0));
        const auto code = pelorin.WaitExitCode(kCloseLimitMs);
        slowest = std::max(slowest, ::GetTickCount() - posted);
        if (!code || *code != 0 || !SavedAs(p)) ++failures;
        ASSERT_TRUE(code.has_value()) << "still running 3 s after WM_CLOSE";
        EXPECT_EQ(*code, 0u);
        EXPECT_TRUE(SavedAs(p));
    }
    const std::string name = SoakRun() ? "early close (soak)" : "early close";
    PrintFigure(name, "runs / failing / slowest WM_CLOSE to exit (ms)",
                std::to_string(runs) + " / " + std::to_string(failures) + " / " + std::to_string(slowest));
}

// Pelorin with "No Refresh" ticked and a message box up: "Kill Task" on a
// child that was clicked and then ended by someone else.
HWND OpenKillFailureMessage(RunningPelorin& pelorin, fixtures::ChildProcess& child) {
    if (!WaitUntil([&] { return pelorin.list->RowOf(1, std::to_string(child.Pid())) >= 0; }, 10000)) return nullptr;
    if (!e2e::ClickButton(pelorin.w.noRefresh)) return nullptr;
    ::Sleep(1500);  // a refresh under way when the box was ticked has ended
    const auto rect = pelorin.list->ItemRect(pelorin.list->RowOf(1, std::to_string(child.Pid())));
    if (!rect) return nullptr;
    e2e::PostClick(pelorin.w.processes, {(rect->left + rect->right) / 2, (rect->top + rect->bottom) / 2});
    if (!WaitUntil([&] { return e2e::WindowText(pelorin.w.form).find(std::to_string(child.Pid())) != std::string::npos; },
                   5000)) {
        return nullptr;
    }
    child.Kill();
    PressMenuKey(pelorin.w.form);
    if (e2e::WaitForWindowOfClass(pelorin.process.Pid(), "#32768") == nullptr) return nullptr;
    ChooseKillTask(pelorin.w.form);
    return e2e::WaitForWindowOfClass(pelorin.process.Pid(), "#32770");
}

struct SessionFigures {
    DWORD queryMs = 0;
    DWORD endMs = 0;
    DWORD exitMs = 0;
};

// WM_QUERYENDSESSION, then WM_ENDSESSION(TRUE). The settings must be stored
// when WM_ENDSESSION returns: the platform ends the process right after.
void EndTheSession(RunningPelorin& pelorin, const Placement& p, SessionFigures& figures) {
    DWORD_PTR answer = 0;
    DWORD start = ::GetTickCount();
    ASSERT_TRUE(::SendMessageTimeoutA(pelorin.w.form, WM_QUERYENDSESSION, 0, 0, SMTO_ABORTIFHUNG, 1000, &answer))
        << "WM_QUERYENDSESSION was not answered within 1 s";
    figures.queryMs = ::GetTickCount() - start;
    EXPECT_EQ(answer, static_cast<DWORD_PTR>(TRUE));

    start = ::GetTickCount();
    ASSERT_TRUE(::SendMessageTimeoutA(pelorin.w.form, WM_ENDSESSION, TRUE, 0, SMTO_ABORTIFHUNG, kCloseLimitMs, &answer))
        << "WM_ENDSESSION did not return within 3 s";
    figures.endMs = ::GetTickCount() - start;
    // Read before the process is gone: what a session end that kills it now would leave.
    EXPECT_TRUE(SavedAs(p)) << "when WM_ENDSESSION returned";

    start = ::GetTickCount();
    const auto code = pelorin.process.WaitExitCode(kCloseLimitMs);
    figures.exitMs = ::GetTickCount() - start;
    ASSERT_TRUE(code.has_value()) << "still running 3 s after WM_ENDSESSION returned";
    EXPECT_EQ(*code, 0u);
}

TEST(SessionEnd, QueryIsAnsweredAtOnceAndTheEndSavesBeforeItReturnsThenExitsWithZero) {
    e2e::RegistryKeyGuard registry;
    e2e::DeleteCompanyKey();
    RunningPelorin pelorin;
    ASSERT_TRUE(pelorin.Start());
    const Placement p = {123, 77, 555, 433};
    ASSERT_TRUE(Move(pelorin.w.form, p));

    // A session end that is called off changes nothing.
    DWORD_PTR answer = 0;
    ASSERT_TRUE(::SendMessageTimeoutA(pelorin.w.form, WM_QUERYENDSESSION, 0, 0, SMTO_ABORTIFHUNG, 1000, &answer));
    EXPECT_EQ(answer, static_cast<DWORD_PTR>(TRUE));
    ASSERT_TRUE(::SendMessageTimeoutA(pelorin.w.form, WM_ENDSESSION, FALSE, 0, SMTO_ABORTIFHUNG, 1000, &answer));
    ::Sleep(1500);
    EXPECT_TRUE(pelorin.process.Running());
    EXPECT_FALSE(PelorinValue("frmleft").has_value());
    const int rows = pelorin.list->RowCount();
    EXPECT_GT(rows, 0);

    SessionFigures figures;
    EndTheSession(pelorin, p, figures);
    PrintFigure("session end", "WM_QUERYENDSESSION answered (ms)", std::to_string(figures.queryMs));
    PrintFigure("session end", "WM_ENDSESSION handled, settings stored (ms)", std::to_string(figures.endMs));
    PrintFigure("session end", "then exit with code 0 (ms)", std::to_string(figures.exitMs));
}

TEST(SessionEnd, EndsCleanlyAndSavesWhileTheKillFailureMessageIsOpen) {
    e2e::RegistryKeyGuard registry;
    e2e::DeleteCompanyKey();
    fixtures::ChildProcess child;
    ASSERT_TRUE(child.Start());
    RunningPelorin pelorin;
    ASSERT_TRUE(pelorin.Start());
    const Placement p = {211, 99, 601, 401};
    ASSERT_TRUE(Move(pelorin.w.form, p));
    const HWND box = OpenKillFailureMessage(pelorin, child);
    ASSERT_NE(box, nullptr) << "no failure message";

    SessionFigures figures;
    EndTheSession(pelorin, p, figures);
    PrintFigure("session end, message box open", "WM_QUERYENDSESSION answered (ms)", std::to_string(figures.queryMs));
    PrintFigure("session end, message box open", "WM_ENDSESSION handled (ms)", std::to_string(figures.endMs));
    PrintFigure("session end, message box open", "then exit with code 0 (ms)", std::to_string(figures.exitMs));
}

// The popup menu of the process list opened by a right click on its first row.
::testing::AssertionResult OpenPopupMenu(RunningPelorin& pelorin) {
    const auto rect = pelorin.list->ItemRect(0);
    if (!rect) return ::testing::AssertionFailure() << "no first row";
    e2e::PostClick(pelorin.w.processes, {(rect->left + rect->right) / 2, (rect->top + rect->bottom) / 2}, true);
    if (e2e::WaitForWindowOfClass(pelorin.process.Pid(), "#32768") == nullptr)
        return ::testing::AssertionFailure() << "no popup menu";
    return ::testing::AssertionSuccess();
}

TEST(SessionEnd, EndsCleanlyAndSavesWhileThePopupMenuIsOpen) {
    e2e::RegistryKeyGuard registry;
    e2e::DeleteCompanyKey();
    RunningPelorin pelorin;
    ASSERT_TRUE(pelorin.Start());
    const Placement p = {166, 88, 588, 411};
    ASSERT_TRUE(Move(pelorin.w.form, p));
    ASSERT_TRUE(OpenPopupMenu(pelorin));

    SessionFigures figures;
    EndTheSession(pelorin, p, figures);
    PrintFigure("session end, popup menu open", "WM_ENDSESSION handled (ms)", std::to_string(figures.endMs));
    PrintFigure("session end, popup menu open", "then exit with code 0 (ms)", std::to_string(figures.exitMs));
}

TEST(StartAndClose, WmCloseWhileThePopupMenuIsOpenExitsWithZeroAndSaves) {
    e2e::RegistryKeyGuard registry;
    RunningPelorin pelorin;
    ASSERT_TRUE(pelorin.Start());
    const Placement p = {144, 122, 566, 377};
    ASSERT_TRUE(Move(pelorin.w.form, p));
    ASSERT_TRUE(OpenPopupMenu(pelorin));

    ASSERT_TRUE(::PostMessageA(pelorin.w.form, WM_CLOSE, 0, 0));
    const auto code = pelorin.process.WaitExitCode(kCloseLimitMs);
    ASSERT_TRUE(code.has_value()) << "still running 3 s after WM_CLOSE";
    EXPECT_EQ(*code, 0u);
    EXPECT_TRUE(SavedAs(p));
}

TEST(StartAndClose, WmCloseWhileTheKillFailureMessageIsOpenExitsWithZeroAndSaves) {
    e2e::RegistryKeyGuard registry;
    fixtures::ChildProcess child;
    ASSERT_TRUE(child.Start());
    RunningPelorin pelorin;
    ASSERT_TRUE(pelorin.Start());
    const Placement p = {187, 143, 577, 389};
    ASSERT_TRUE(Move(pelorin.w.form, p));
    const HWND box = OpenKillFailureMessage(pelorin, child);
    ASSERT_NE(box, nullptr) << "no failure message";

    ASSERT_TRUE(::PostMessageA(pelorin.w.form, WM_CLOSE, 0, 0));
    const auto code = pelorin.process.WaitExitCode(kCloseLimitMs);
    ASSERT_TRUE(code.has_value()) << "still running 3 s after WM_CLOSE";
    EXPECT_EQ(*code, 0u);
    EXPECT_TRUE(SavedAs(p));
}

TEST(InstanceGuard, ANameTakenByAMutexLetsPelorinStartAsAFirstInstance) {
    e2e::RegistryKeyGuard registry;
    UniqueHandle mutex(::CreateMutexA(nullptr, FALSE, "Pelorin.exe"));
    ASSERT_TRUE(mutex);
    ASSERT_NE(::GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS)) << "the name is in use already";

    RunningPelorin first;
    const DWORD start = ::GetTickCount();
    ASSERT_TRUE(first.Start());
    PrintFigure("instance name taken", "start to a filled list (ms)", std::to_string(first.filledAt - start));
    // Start-up ran to its end: the window handle was registered.
    EXPECT_EQ(PelorinValue("pelorinno"),
              static_cast<std::int32_t>(reinterpret_cast<std::uintptr_t>(first.w.form)));

    // The guard cannot tell a second start either: it comes up too.
    RunningPelorin second;
    ASSERT_TRUE(second.Start());
    EXPECT_NE(second.w.form, first.w.form);

    for (RunningPelorin* pelorin : {&second, &first}) {
        ASSERT_TRUE(::PostMessageA(pelorin->w.form, WM_CLOSE, 0, 0));
        const auto code = pelorin->process.WaitExitCode(kCloseLimitMs);
        ASSERT_TRUE(code.has_value()) << "still running 3 s after WM_CLOSE";
        EXPECT_EQ(*code, 0u);
    }
}

}  // namespace
}  // namespace pelorin::reliability
