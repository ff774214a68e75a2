// The list view of the control layer in real windows: rows, the freeze, the clicked row, sorting by a header, the tip of a narrow cell.
#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "common/MainWindow.h"
#include "controls/Form.h"
#include "controls/ListView.h"

namespace pelorin {
namespace {

class List : public ::testing::Test {
public:
    void SetUp() override {
        form = CreateForm(nullptr, "list");
        SetClientSize(form, 400, 300);
        list = CreateListView(form, 3, kListFullRowSelect);
        SetSize(list, 400, 300);
        for (const char* title : {"Name", "Mem"}) AddColumn(list, title, 0, 120);
        SetOnClick(list, MakeNotify<&List::Clicked>(*this));
        ::ShowWindow(Handle(form), SW_SHOWNOACTIVATE);
    }
    void TearDown() override { Destroy(form); }

    void Fill(std::initializer_list<std::pair<const char*, const char*>> rows) {
        ClearItems(list);
        std::uint64_t data = 1;
        for (const auto& [name, mem] : rows) {
            const std::int32_t row = InsertItem(list, ItemCount(list), name);
            SetItemText(list, row, 1, mem);
            SetItemData(list, row, data++);
        }
    }
    std::vector<std::string> Column(int column) { return test::ColumnOf(list, column); }
    // What another program reads from the platform's list.
    std::string PlatformText(int row) {
        char text[64] = {};
        ListView_GetItemText(Handle(list), row, 0, text, sizeof text);
        return text;
    }
    void HeaderClick(int column) {
        NMLISTVIEW click = {};
        click.hdr = {Handle(list), 0, static_cast<UINT>(LVN_COLUMNCLICK)}, click.iSubItem = column;
        ::SendMessageA(Handle(form), WM_NOTIFY, 0, reinterpret_cast<LPARAM>(&click));
    }
    POINT RowPoint(int row) {
        RECT r = {LVIR_BOUNDS, 0, 0, 0};
        ::SendMessageA(Handle(list), LVM_GETITEMRECT, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&r));
        return {r.left + 20, (r.top + r.bottom) / 2};
    }
    static void Clicked(List& self, Control* sender) {
        const ListRow* row = ClickedRow(sender);
        self.clicked = (row ? row->cells.at(0) + "/" + std::to_string(row->data) : "none") + (ClickedByKey(sender) ? " key" : "");
    }

    Control* form = nullptr;
    Control* list = nullptr;
    std::string clicked;
};

// Runs on the list's thread while the button is down (a timer is served in
// any loop the list runs meanwhile): the rows are rebuilt in another order,
// then the button goes up.
List* g_pressed = nullptr;
LPARAM g_at = 0;
void CALLBACK RebuildThenRelease(HWND window, UINT, UINT_PTR id, DWORD) {
    ::KillTimer(window, id);
    g_pressed->Fill({{"c", "3"}, {"a", "1"}, {"b", "2"}});
    ::PostMessageA(Handle(g_pressed->list), WM_LBUTTONUP, 0, g_at);
}

// A frozen list shows its old rows until the last EndUpdate; rows inserted
// after a frozen ClearItems do not carry the old selection down with them.
TEST_F(List, AFrozenRebuildShowsTheOldRowsAndDropsTheOldSelection) {
    Fill({{"a", "1"}, {"b", "2"}, {"c", "3"}});
    SetCurrentIndex(list, 1);
    BeginUpdate(list);
    BeginUpdate(list);
    ClearItems(list);
    for (const char* name : {"z", "y", "x", "w"}) InsertItem(list, 0, name);
    EndUpdate(list);
    EXPECT_EQ(PlatformText(0), "a");
    EndUpdate(list);
    EXPECT_EQ(PlatformText(0), "w");
    EXPECT_EQ(CurrentIndex(list), -1);
}

// A refresh that lands while the button is down rebuilds the rows under the
// mouse; the click is about the row the user pressed on.
TEST_F(List, TheClickedRowIsTheOneThatWasUnderTheMouseWhenTheButtonWentDown) {
    Fill({{"a", "1"}, {"b", "2"}, {"c", "3"}});
    const POINT p = RowPoint(1);
    g_pressed = this;
    g_at = MAKELPARAM(p.x, p.y);
    ::PostMessageA(Handle(list), WM_LBUTTONDOWN, MK_LBUTTON, g_at);
    // On a window of the test's own: the layer takes a timer callback for its
    // thread or its windows as another program's.
    const UniqueWindow timer(::CreateWindowExA(0, "STATIC", "", 0, 0, 0, 0, 0, nullptr, nullptr, nullptr, nullptr));
    ::SetTimer(timer.Get(), 1, 20, &RebuildThenRelease);
    ASSERT_TRUE(test::WaitUntil([&] { return !clicked.empty(); }));
    ASSERT_EQ(GetItemText(list, 1, 0), "a");
    EXPECT_EQ(clicked, "b/2");
    clicked.clear();
    ::PostMessageA(Handle(list), WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(p.x, 290));
    ::PostMessageA(Handle(list), WM_LBUTTONUP, 0, MAKELPARAM(p.x, 290));
    ASSERT_TRUE(test::WaitUntil([&] { return !clicked.empty(); }));
    EXPECT_EQ(clicked, "none");
}

// A key's move of the highlight clicks the row, as the key's, and once more
// when the keys rest; another thread's WM_NOTIFY is no control's.
TEST_F(List, KeysThatMoveTheHighlightClickButNotificationsFromAnotherThreadDoNot) {
    Fill({{"a", "1"}, {"b", "2"}, {"c", "3"}});
    SetCurrentIndex(list, 0);
    ::SendMessageA(Handle(list), WM_KEYDOWN, VK_DOWN, 0);
    EXPECT_EQ(clicked, "b/2 key");
    ::SendMessageA(Handle(list), WM_KEYDOWN, VK_END, 0);
    EXPECT_EQ(clicked, "c/3 key");
    ASSERT_TRUE(test::WaitUntil([&] { return clicked == "c/3"; }));
    NMITEMACTIVATE click = {};
    click.hdr = {Handle(list), 0, static_cast<UINT>(NM_CLICK)};
    clicked.clear();
    std::atomic<bool> sent{false};
    std::thread other([&] {
        for (const LPARAM pointer : {LPARAM{0x12345678}, reinterpret_cast<LPARAM>(&click)})
            ::SendMessageA(Handle(form), WM_NOTIFY, 0, pointer), ::SendMessageA(Handle(list), WM_NOTIFY, 0, pointer);
        sent = true;
    });
    EXPECT_TRUE(test::WaitUntil([&] { return sent.load(); }));  // the sends are served meanwhile
    other.join();
    EXPECT_EQ(clicked, "");
}

TEST_F(List, AHeaderClickSortsByFiguresOrTextAndASecondReverses) {
    SetColumnSorts(list, {kSortText, kSortNumberLargestFirst});
    Fill({{"b", "980K"}, {"B", "2.42M"}, {"a", "1.1G"}, {"c", "-"}, {"d", "512"}, {"e", "2.42M"}});
    SetCurrentIndex(list, 1);
    HeaderClick(1);
    EXPECT_EQ(Column(1), (std::vector<std::string>{"1.1G", "2.42M", "2.42M", "980K", "512", "-"}));
    EXPECT_EQ(Column(0)[1], "B");  // ties keep their order
    EXPECT_EQ(GetItemText(list, CurrentIndex(list), 0), "B");
    HDITEMA item = {};
    item.mask = HDI_FORMAT;
    const auto header = reinterpret_cast<HWND>(::SendMessageA(Handle(list), LVM_GETHEADER, 0, 0));
    ::SendMessageA(header, HDM_GETITEMA, 1, reinterpret_cast<LPARAM>(&item));
    EXPECT_TRUE(item.fmt & HDF_SORTDOWN);
    HeaderClick(1);
    EXPECT_EQ(Column(1), (std::vector<std::string>{"-", "512", "980K", "2.42M", "2.42M", "1.1G"}));
    HeaderClick(0);
    EXPECT_EQ(Column(0), (std::vector<std::string>{"a", "b", "B", "c", "d", "e"}));
}

// The tip names its row and column, wherever the mouse is.
TEST_F(List, ACellTooNarrowForItsTextShowsItWholeInATip) {
    const char* wide = "a text far too long for a column one hundred and twenty pixels wide";
    Fill({{"short", wide}, {"a", "1"}});
    for (const auto& [row, shown] : {std::pair{0, wide}, {1, ""}}) {
        char text[256] = "untouched";
        NMLVGETINFOTIPA tip = {};
        tip.hdr = {Handle(list), 0, static_cast<UINT>(LVN_GETINFOTIPA)}, tip.pszText = text, tip.cchTextMax = sizeof text;
        tip.iItem = row, tip.iSubItem = 1;
        ::SendMessageA(Handle(form), WM_NOTIFY, 0, reinterpret_cast<LPARAM>(&tip));
        EXPECT_STREQ(text, shown) << row;
    }
}

}  // namespace
}  // namespace pelorin
