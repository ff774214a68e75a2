// Settings on the real window against a throwaway key of the real HKCU hive:
// first run, a company key without the product key, some values only,
// "StayOnTop" 0 and 5, values of the wrong type or size, placements off
// every monitor, too small or too large; and the placement rule on its own.
#include "app/Settings.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <climits>
#include <cstdio>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "controls/Button.h"
#include "support/LiteRegistry.h"
#include "ui/MainFormFixture.h"

namespace pelorin {
namespace {

using testing::MainFormTest;
using testing::Pump;

bool SameRect(const RECT& a, const RECT& b) { return ::EqualRect(&a, &b) != FALSE; }

std::string RectText(const RECT& r) {
    char text[64] = {};
    std::snprintf(text, sizeof text, "(%ld,%ld)-(%ld,%ld)", static_cast<long>(r.left), static_cast<long>(r.top),
                  static_cast<long>(r.right), static_cast<long>(r.bottom));
    return text;
}

// The placement rule alone.

constexpr SIZE kMinimum = {112, 27};
const RECT kBuilt = {189, 109, 189 + 517, 109 + 369};

StoredPlacement Placement(std::optional<std::int32_t> l, std::optional<std::int32_t> t, std::optional<std::int32_t> w,
                       std::optional<std::int32_t> h) {
    StoredPlacement s;
    s.left = l;
    s.top = t;
    s.width = w;
    s.height = h;
    return s;
}

RECT Settle(const StoredPlacement& s, std::vector<RECT> areas) { return SettlePlacement(kBuilt, s, kMinimum, areas); }

TEST(SettlePlacement, AStoredPlacementOnAMonitorIsAppliedUnchanged) {
    const std::vector<RECT> screen = {{0, 0, 1024, 768}};
    EXPECT_TRUE(SameRect(Settle(Placement(40, 30, 600, 400), screen), RECT{40, 30, 640, 430}));
    // Partly off the screen but still on it: left alone.
    EXPECT_TRUE(SameRect(Settle(Placement(-100, 600, 600, 400), screen), RECT{-100, 600, 500, 1000}));
    // Absent values keep the built ones.
    EXPECT_TRUE(SameRect(Settle(Placement(300, std::nullopt, std::nullopt, 400), screen), RECT{300, 109, 817, 509}));
    EXPECT_TRUE(SameRect(Settle(Placement(std::nullopt, std::nullopt, std::nullopt, std::nullopt), screen), kBuilt));
}

TEST(SettlePlacement, A1920x1080PlacementOnAn800x600MonitorIsCutToItsWorkArea) {
    const std::vector<RECT> small = {{0, 0, 800, 570}};  // a taskbar takes the bottom 30
    EXPECT_TRUE(SameRect(Settle(Placement(0, 0, 1920, 1080), small), RECT{0, 0, 800, 570}));
    // Cut and still hanging over the edge: moved in as well.
    const RECT r = Settle(Placement(100, 50, 1920, 400), small);
    EXPECT_TRUE(SameRect(r, RECT{0, 50, 800, 450})) << RectText(r);
}

TEST(SettlePlacement, AWindowOffEveryMonitorComesBackToTheNearestKeepingItsSize) {
    const std::vector<RECT> two = {{0, 0, 800, 600}, {800, 0, 1600, 600}};
    // Right of the second monitor.
    RECT r = Settle(Placement(1700, 100, 300, 200), two);
    EXPECT_TRUE(SameRect(r, RECT{1300, 100, 1600, 300})) << RectText(r);
    // Above and left of the first.
    r = Settle(Placement(-5000, -4000, 300, 200), two);
    EXPECT_TRUE(SameRect(r, RECT{0, 0, 300, 200})) << RectText(r);
    // Below, nearer the second.
    r = Settle(Placement(1000, 900, 300, 200), two);
    EXPECT_TRUE(SameRect(r, RECT{1000, 400, 1300, 600})) << RectText(r);
    // Touching an edge from outside is not on the monitor.
    r = Settle(Placement(1600, 0, 300, 200), two);
    EXPECT_TRUE(SameRect(r, RECT{1300, 0, 1600, 200})) << RectText(r);
}

TEST(SettlePlacement, SizesTooSmallToUseKeepTheBuiltSize) {
    const std::vector<RECT> screen = {{0, 0, 1024, 768}};
    EXPECT_TRUE(SameRect(Settle(Placement(10, 20, 0, 0), screen), RECT{10, 20, 527, 389}));
    EXPECT_TRUE(SameRect(Settle(Placement(10, 20, -300, 26), screen), RECT{10, 20, 527, 389}));
    EXPECT_TRUE(SameRect(Settle(Placement(10, 20, 112, 27), screen), RECT{10, 20, 122, 47}));  // the least usable
}

TEST(SettlePlacement, ExtremeValuesNeitherOverflowNorEscape) {
    const std::vector<RECT> screen = {{0, 0, 1024, 768}};
    RECT r = Settle(Placement(INT_MAX, INT_MAX, INT_MAX, INT_MAX), screen);
    EXPECT_TRUE(SameRect(r, RECT{0, 0, 1024, 768})) << RectText(r);
    r = Settle(Placement(INT_MIN, INT_MIN, 600, 400), screen);
    EXPECT_TRUE(SameRect(r, RECT{0, 0, 600, 400})) << RectText(r);
    // Without any monitor the values pass, saturated rather than wrapped.
    r = Settle(Placement(INT_MAX, 0, 600, 400), {});
    EXPECT_EQ(r.left, INT_MAX);
    EXPECT_EQ(r.right, INT_MAX);
}

// The settings on the real window.

SettingsKey g_key;
int g_onTopClicks = 0;

void CountOnTopClick(int& clicks, Control*) { ++clicks; }

// Start-up's load with the click handler of "On Top" counted meanwhile.
void LoadFromTestKey(MainForm& f) {
    const NotifyEvent handler = f.chkOnTop->onClick;
    SetOnClick(f.chkOnTop, MakeNotify<&CountOnTopClick>(g_onTopClicks));
    LoadSettings(f, g_key);
    SetOnClick(f.chkOnTop, handler);
    ++testing::g_settings.loads;
}
void RegisterWithTestKey(MainForm& f) { RegisterWindowHandle(f, g_key); }
void SaveToTestKey(MainForm& f) {
    SaveSettings(f, g_key);
    ++testing::g_settings.saves;
}

class SettingsTest : public MainFormTest {
protected:
    void SetUp() override {
        MainFormTest::SetUp();
        g_key = SettingsKey{};
        g_key.parent = "SOFTWARE\\PelorinSettingsTest-" + std::to_string(::GetCurrentProcessId());
        g_onTopClicks = 0;
        ::RegDeleteTreeA(HKEY_CURRENT_USER, g_key.parent.c_str());
        CloseKey(CreateKey(HKEY_CURRENT_USER, g_key.parent.c_str(), false));
        options.loadSettings = &LoadFromTestKey;
        options.registerWindowHandle = &RegisterWithTestKey;
        options.saveSettings = &SaveToTestKey;
    }
    void TearDown() override {
        MainFormTest::TearDown();
        ::RegDeleteTreeA(HKEY_CURRENT_USER, g_key.parent.c_str());
    }

    std::string ProductPath() const { return ProductKeyPath(g_key); }
    std::string CompanyPath() const { return g_key.parent + "\\" + g_key.company; }

    void Store(const char* name, DWORD type, const void* data, DWORD size) {
        HKEY key = CreateKey(HKEY_CURRENT_USER, ProductPath().c_str(), false);
        ASSERT_NE(key, nullptr);
        EXPECT_EQ(::RegSetValueExA(key, name, 0, type, static_cast<const BYTE*>(data), size), ERROR_SUCCESS);
        CloseKey(key);
    }
    void StoreInteger(const char* name, std::int32_t value) { Store(name, REG_DWORD, &value, sizeof value); }

    // A stored REG_DWORD, or none.
    std::optional<std::int32_t> Stored(const char* name) {
        const HKEY key = OpenKey(HKEY_CURRENT_USER, ProductPath().c_str(), kKeyRead);
        std::optional<std::int32_t> value;
        if (key != nullptr && ValueIsInteger(key, name)) value = ReadInteger(key, name);
        CloseKey(key);
        return value;
    }

    RECT WindowRect() {
        RECT r = {};
        ::GetWindowRect(form.Form->window, &r);
        return r;
    }
    bool Topmost() { return (::GetWindowLongA(form.Form->window, GWL_EXSTYLE) & WS_EX_TOPMOST) != 0; }
    void Close() {
        ::SendMessageA(form.Form->window, WM_CLOSE, 0, 0);
        Pump();
    }
};

RECT BuiltRect() {
    // Position (189, 109) with a 509 x 342 client area.
    RECT r = {0, 0, 509, 342};
    ::AdjustWindowRectEx(&r, WS_OVERLAPPEDWINDOW, FALSE, 0);
    return r;
}

TEST_F(SettingsTest, FirstRunAppliesNothingCreatesTheKeyWithTheHandleAndSavesAtClose) {
    Build();
    const RECT r = WindowRect();
    EXPECT_EQ(r.left, 189);
    EXPECT_EQ(r.top, 109);
    RECT client = {};
    ::GetClientRect(form.Form->window, &client);
    EXPECT_EQ(client.right, 509);
    EXPECT_EQ(client.bottom, 342);
    EXPECT_FALSE(GetChecked(form.chkOnTop));
    EXPECT_FALSE(Topmost());

    EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, ProductPath().c_str()));
    EXPECT_EQ(Stored("pelorinno"), static_cast<std::int32_t>(reinterpret_cast<std::uintptr_t>(form.Form->window)));
    EXPECT_FALSE(Stored("frmleft").has_value());

    Close();
    EXPECT_EQ(testing::g_settings.saves, 1);
    EXPECT_EQ(Stored("frmleft"), r.left);
    EXPECT_EQ(Stored("frmtop"), r.top);
    EXPECT_EQ(Stored("frmWidth"), r.right - r.left);
    EXPECT_EQ(Stored("frmHeight"), r.bottom - r.top);
    EXPECT_EQ(Stored("StayOnTop"), 0);
}

TEST_F(SettingsTest, ACompanyKeyWithoutTheProductKeyWaitsForTheSave) {
    CloseKey(CreateKey(HKEY_CURRENT_USER, CompanyPath().c_str(), false));
    Build();
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, ProductPath().c_str()));

    // Moved and ticked by the user, then closed.
    ::SetWindowPos(form.Form->window, nullptr, 30, 40, 600, 420, SWP_NOZORDER | SWP_NOACTIVATE);
    ::SendMessageA(form.chkOnTop->window, BM_CLICK, 0, 0);
    Close();
    EXPECT_EQ(Stored("frmleft"), 30);
    EXPECT_EQ(Stored("frmtop"), 40);
    EXPECT_EQ(Stored("frmWidth"), 600);
    EXPECT_EQ(Stored("frmHeight"), 420);
    EXPECT_EQ(Stored("StayOnTop"), 1);
    EXPECT_FALSE(Stored("pelorinno").has_value());

    // From the next start on the handle is written.
    RegisterWindowHandle(form, g_key);
    EXPECT_EQ(Stored("pelorinno"), static_cast<std::int32_t>(reinterpret_cast<std::uintptr_t>(form.Form->window)));
}

TEST_F(SettingsTest, OnlyTheStoredValuesAreApplied) {
    StoreInteger("frmleft", 300);
    StoreInteger("frmHeight", 400);
    const RECT built = BuiltRect();
    Build();
    const RECT r = WindowRect();
    EXPECT_EQ(r.left, 300);
    EXPECT_EQ(r.top, 109);
    EXPECT_EQ(r.right - r.left, built.right - built.left);
    EXPECT_EQ(r.bottom - r.top, 400);
    EXPECT_FALSE(GetChecked(form.chkOnTop));
}

TEST_F(SettingsTest, StayOnTopFiveTicksTheBoxWithoutItsHandlerAndRaisesTheLoadedWindow) {
    StoreInteger("frmleft", 50);
    StoreInteger("frmtop", 60);
    StoreInteger("frmWidth", 600);
    StoreInteger("frmHeight", 450);
    StoreInteger("StayOnTop", 5);
    Build();
    EXPECT_TRUE(SameRect(WindowRect(), RECT{50, 60, 650, 510})) << RectText(WindowRect());
    EXPECT_TRUE(GetChecked(form.chkOnTop));
    EXPECT_TRUE(Topmost());
    EXPECT_EQ(g_onTopClicks, 0);
    EXPECT_EQ(Stored("StayOnTop"), 5);  // left as stored until the save
    Close();
    EXPECT_EQ(Stored("StayOnTop"), 1);
}

TEST_F(SettingsTest, StayOnTopZeroLeavesTheBoxClearAndTheWindowNormal) {
    StoreInteger("StayOnTop", 0);
    Build();
    EXPECT_FALSE(GetChecked(form.chkOnTop));
    EXPECT_FALSE(Topmost());
    EXPECT_EQ(g_onTopClicks, 0);
}

TEST_F(SettingsTest, ValuesOfTheWrongTypeOrSizeAreSkippedAsIfAbsent) {
    const RECT built = BuiltRect();
    Store("frmleft", REG_SZ, "500", 4);
    const WORD shortValue = 700;
    Store("frmtop", REG_BINARY, &shortValue, sizeof shortValue);
    const ULONGLONG wide = 800;
    Store("frmWidth", REG_QWORD, &wide, sizeof wide);
    const DWORD binary4 = 900;
    Store("frmHeight", REG_BINARY, &binary4, sizeof binary4);
    Store("StayOnTop", REG_SZ, "1", 2);
    Build();
    const RECT r = WindowRect();
    EXPECT_EQ(r.left, 189);
    EXPECT_EQ(r.top, 109);
    EXPECT_EQ(r.right - r.left, built.right - built.left);
    EXPECT_EQ(r.bottom - r.top, built.bottom - built.top);
    EXPECT_FALSE(GetChecked(form.chkOnTop));
    EXPECT_FALSE(Topmost());
}

TEST_F(SettingsTest, APlacementOffEveryMonitorComesBackWithoutRewritingTheStoredValues) {
    const std::vector<RECT> areas = MonitorWorkAreas();
    ASSERT_FALSE(areas.empty());
    StoreInteger("frmleft", 50000);
    StoreInteger("frmtop", -30000);
    StoreInteger("frmWidth", 400);
    StoreInteger("frmHeight", 300);
    Build();
    RECT expected = SettlePlacement(RECT{}, Placement(50000, -30000, 400, 300), SIZE{0, 0}, areas);
    const RECT r = WindowRect();
    EXPECT_TRUE(SameRect(r, expected)) << RectText(r) << " vs " << RectText(expected);
    RECT visible = {};
    bool onAMonitor = false;
    for (const RECT& area : areas) onAMonitor = onAMonitor || ::IntersectRect(&visible, &r, &area);
    EXPECT_TRUE(onAMonitor);
    EXPECT_EQ(r.right - r.left, 400);
    EXPECT_EQ(r.bottom - r.top, 300);
    EXPECT_EQ(Stored("frmleft"), 50000);
    EXPECT_EQ(Stored("frmtop"), -30000);

    Close();
    EXPECT_EQ(Stored("frmleft"), r.left);
    EXPECT_EQ(Stored("frmtop"), r.top);
}

TEST_F(SettingsTest, ASizeTooSmallToUseKeepsTheBuiltOne) {
    const RECT built = BuiltRect();
    StoreInteger("frmWidth", 3);
    StoreInteger("frmHeight", 0);
    Build();
    const RECT r = WindowRect();
    EXPECT_EQ(r.right - r.left, built.right - built.left);
    EXPECT_EQ(r.bottom - r.top, built.bottom - built.top);
    EXPECT_EQ(r.left, 189);
}

TEST_F(SettingsTest, ASizeLargerThanTheWorkAreaIsCutToIt) {
    const std::vector<RECT> areas = MonitorWorkAreas();
    ASSERT_FALSE(areas.empty());
    StoreInteger("frmleft", areas[0].left);
    StoreInteger("frmtop", areas[0].top);
    StoreInteger("frmWidth", 20000);
    StoreInteger("frmHeight", 15000);
    Build();
    const RECT r = WindowRect();
    EXPECT_TRUE(SameRect(r, areas[0])) << RectText(r) << " vs " << RectText(areas[0]);
    EXPECT_EQ(Stored("frmWidth"), 20000);
}

}  // namespace
}  // namespace pelorin
