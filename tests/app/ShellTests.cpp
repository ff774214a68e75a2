// The application shell: where a stored placement puts the window, the
// settings in the registry, and closes that always end.
#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "app/Settings.h"
#include "common/MainWindow.h"
#include "controls/Button.h"

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

TEST(TestMode, AFolderNamedTestingLogDoesNotTurnItOn) {  // a file does, end to end
    const test::TempFolder folder;
    EXPECT_TRUE(::CreateDirectoryA(folder.File("testing.log").c_str(), nullptr) && !TestModeFileExists(folder.Path()));
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
    EXPECT_GE(took, CloseWaitMs - 100);
    EXPECT_LT(took, CloseWaitMs + 2000);
    EXPECT_EQ(MainWindow::saves, 1);
    EXPECT_EQ(MainWindow::ends, 1);
}

// The process may end as soon as WM_ENDSESSION is answered.
TEST_F(StuckClose, ASessionEndDuringTheUsersCloseIsAnsweredOnlyOnceTheSettingsAreSaved) {
    bool savedWhenAnswered = false;
    std::thread session([&] {
        ::Sleep(500);
        ::SendMessageA(w.Window(), WM_ENDSESSION, TRUE, 0);
        savedWhenAnswered = MainWindow::saves == 1;
    });
    ::SendMessageA(w.Window(), WM_CLOSE, 0, 0);
    session.join();
    EXPECT_TRUE(savedWhenAnswered);
    EXPECT_EQ(MainWindow::saves, 1);
    EXPECT_GE(MainWindow::ends, 1);
}

}  // namespace
}  // namespace pelorin
