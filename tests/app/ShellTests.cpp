// The application shell: test mode, where a stored placement puts the
// window, the settings in the registry, and closes that always end.
#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "app/Settings.h"
#include "common/MainWindow.h"
#include "controls/Button.h"
#include "support/SystemInfo.h"
#include "ui/KillCommand.h"

namespace pelorin {
namespace {

using test::MainWindow;

TEST(SettlePlacement, KeepsAPlacementWhoseCaptionCanBeReachedAndBringsBackOneThatCannot) {
    const RECT built = {189, 109, 714, 489};
    const RECT twoMonitors[] = {{0, 0, 1024, 768}, {1024, 0, 2048, 768}};
    struct Case {
        const char* what;
        StoredPlacement stored;
        RECT expected;
    } cases[] = {
        {"across both monitors", {900, 100, 500, 300}, {900, 100, 1400, 400}},
        {"off every monitor", {5000, 5000, 500, 300}, {1548, 468, 2048, 768}},
        {"caption above the screens", {100, -200, 500, 300}, {100, 0, 600, 300}},
        {"caption partly above, still grabbable", {100, -15, 500, 300}, {100, -15, 600, 285}},
        {"only a sliver at the right edge", {2028, 100, 500, 300}, {1548, 100, 2048, 400}},
        {"too narrow to use", {100, 100, 50, 300}, {100, 100, 625, 400}},
        {"larger than any monitor and off them", {3000, 100, 3000, 2000}, {1024, 0, 2048, 768}},
        {"nothing stored", {}, built},
        {"only the left edge", {300, std::nullopt, std::nullopt, std::nullopt}, {300, 109, 825, 489}},
    };
    for (const Case& c : cases) {
        const RECT r = SettlePlacement(built, c.stored, {112, 27}, 23, twoMonitors);
        EXPECT_EQ((std::vector<LONG>{r.left, r.top, r.right, r.bottom}),
                  (std::vector<LONG>{c.expected.left, c.expected.top, c.expected.right, c.expected.bottom}))
            << c.what;
    }
    const RECT kept = SettlePlacement(built, {5000, 5000, 500, 300}, {112, 27}, 23, {});
    EXPECT_EQ(kept.left, 5000);
}

TEST(TestMode, OnlyAFileNamedTestingLogBesideTheProgramSwitchesItOn) {
    const test::TempFolder nothing, file, folder;
    ASSERT_TRUE(UniqueHandle(::CreateFileA(file.File("testing.log").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr)));
    ASSERT_TRUE(::CreateDirectoryA(folder.File("testing.log").c_str(), nullptr));
    EXPECT_EQ((std::vector{TestModeFileExists(nothing.Path()), TestModeFileExists(file.Path()), TestModeFileExists(folder.Path())}),
              (std::vector{false, true, false}));
}

class Settings : public ::testing::Test {
protected:
    void SetUp() override {
        key.parent = scratch.Path();
        Create(scratch.Path());
    }
    std::string Product() { return ProductKeyPath(key); }
    static UniqueKey Create(const std::string& path) {
        UniqueKey k;
        ::RegCreateKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, k.Put(), nullptr);
        return k;
    }
    void Put(const char* name, DWORD type, const void* data, DWORD size) {
        ::RegSetValueExA(Create(Product()).Get(), name, 0, type, static_cast<const BYTE*>(data), size);
    }
    void PutInteger(const char* name, DWORD value) { Put(name, REG_DWORD, &value, 4); }
    std::optional<DWORD> Stored(const char* name) { return test::RegistryDword(Product().c_str(), name); }
    bool Topmost() { return (::GetWindowLongA(w.Window(), GWL_EXSTYLE) & WS_EX_TOPMOST) != 0; }

    test::ScratchKey scratch;
    SettingsKey key;
    MainWindow w;
};

TEST_F(Settings, OnlyWellTypedStoredValuesAreAppliedAndAnyNonZeroOnTopTicksTheBox) {
    PutInteger("frmleft", 300);
    Put("frmtop", REG_SZ, "100", 4);
    Put("frmWidth", REG_BINARY, "\x10\x01", 2);
    const ULONGLONG wide = 600;
    Put("frmHeight", REG_QWORD, &wide, 8);
    const int width = Width(w.form.Form), height = Height(w.form.Form);
    PutInteger("StayOnTop", 5);
    LoadSettings(w.form, key);
    EXPECT_EQ(Left(w.form.Form), 300);
    EXPECT_EQ(Top(w.form.Form), 109);
    EXPECT_EQ(Width(w.form.Form), width);
    EXPECT_EQ(Height(w.form.Form), height);
    EXPECT_TRUE(GetChecked(w.form.chkOnTop));
    EXPECT_TRUE(Topmost());
}

// "On Top" is stored as 1 or 0, and a 0 leaves the box clear and the window
// not topmost at the next start.
TEST_F(Settings, OnTopIsSavedAsOneOrZeroAndAZeroStartsClear) {
    for (const bool ticked : {true, false}) {
        SetChecked(w.form.chkOnTop, ticked);
        SaveSettings(w.form, key);
        EXPECT_EQ(Stored("StayOnTop"), ticked ? 1u : 0u);
    }
    SetChecked(w.form.chkOnTop, true);
    LoadSettings(w.form, key);
    EXPECT_FALSE(GetChecked(w.form.chkOnTop));
    EXPECT_FALSE(Topmost());
}

// A worker stuck in a platform call that needs nothing of the window.
class StuckSource : public ProcessSource {
public:
    std::vector<SnapshotEntry> Snapshot() override { return {{100, "stuck.exe"}}; }
    ProcessReadings Read(std::uint32_t) override {
        entered = true;
        ::WaitForSingleObject(release.Get(), INFINITE);
        return {};
    }
    std::string VersionString(const std::string&, const char*) override { return {}; }
    std::uint32_t ProcessorCount() override { return 1; }
    std::atomic<bool> entered{false};
    UniqueHandle release{::CreateEventA(nullptr, TRUE, FALSE, nullptr)};
};

class StuckClose : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(test::WaitUntil([&] { return source.entered.load(); })); }
    void TearDown() override {
        ::SetEvent(source.release.Get());
        test::WaitUntil([&] { return Terminated(w.form.RefreshThread); });
    }
    StuckSource source;
    MainWindow w{true, &source};
};

TEST_F(StuckClose, EndsInBoundedTimeAfterSavingTheSettings) {
    const DWORD start = ::GetTickCount();
    ::SendMessageA(w.Window(), WM_CLOSE, 0, 0);
    const DWORD took = ::GetTickCount() - start;
    // It waits out its deadline for the worker, then ends with 2 s to spare.
    EXPECT_GE(took, CloseWaitMs - 100);
    EXPECT_LT(took, CloseWaitMs + 2000);
    EXPECT_EQ(MainWindow::saves, 1);
    EXPECT_EQ(MainWindow::ends, 1);
}

int terminations = 0;
BOOL WINAPI TerminateNothing(HANDLE, UINT) { return ++terminations; }
HWND g_list = nullptr;

// A kill waits for no refresh (the rebuild is the worker's, stuck here until
// the kill has returned), and a Delete served during its wait (a key that
// repeats) kills nothing more.
TEST_F(StuckClose, AKillNeitherWaitsForTheWorkerNorRunsAnotherInsideIt) {
    test::Child child;
    FILETIME created, unused;
    ASSERT_TRUE(child.Start() && ::GetProcessTimes(child.Handle(), &created, &unused, &unused, &unused));
    w.form.refresh.SelectedPid = child.Pid();
    w.form.SelectedCreation = std::uint64_t{created.dwHighDateTime} << 32 | created.dwLowDateTime;
    KillApi api = PlatformKillApi();
    api.terminateProcess = &TerminateNothing;
    api.waitForExit = [](const KillApi&, HANDLE, DWORD) { ::SendMessageA(g_list, WM_KEYDOWN, VK_DELETE, 0); };
    w.form.killApi = &api;
    g_list = Handle(w.form.lvProcesses);
    // A kill that waited for the worker after all gets it back after 30 s, and fails below.
    std::atomic<bool> freedByTimeout{false};
    std::thread fallback([&] {
        if (::WaitForSingleObject(source.release.Get(), 30000) == WAIT_TIMEOUT) freedByTimeout = true, ::SetEvent(source.release.Get());
    });
    KillTaskClick(w.form, nullptr);
    EXPECT_FALSE(freedByTimeout.load()) << "the kill waited for the stuck worker";
    ::SetEvent(source.release.Get());
    fallback.join();
    EXPECT_EQ(terminations, 1);
    ::SendMessageA(w.Window(), WM_CLOSE, 0, 0);  // the workers stop
}

// The process may end as soon as WM_ENDSESSION is answered. The session ends
// while the user's close still waits for the stuck worker (for CloseWaitMs,
// 3 s: the margin this thread has to send).
TEST_F(StuckClose, ASessionEndDuringTheUsersCloseIsAnsweredOnlyOnceTheSettingsAreSaved) {
    bool closeWaiting = false, savedWhenAnswered = false;
    std::thread session([&] {
        test::WaitUntil([&] { return w.form.closing.load(); }, 60000);
        closeWaiting = w.form.closing && MainWindow::saves == 0;
        ::SendMessageA(w.Window(), WM_ENDSESSION, TRUE, 0);
        savedWhenAnswered = MainWindow::saves == 1;
    });
    ::SendMessageA(w.Window(), WM_CLOSE, 0, 0);
    session.join();
    EXPECT_TRUE(closeWaiting);
    EXPECT_TRUE(savedWhenAnswered);
    EXPECT_EQ(MainWindow::saves, 1);
    EXPECT_GE(MainWindow::ends, 1);
}

}  // namespace
}  // namespace pelorin
