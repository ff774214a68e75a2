// The rows a list view keeps itself: what the platform list and other readers
// see through its messages, that a rebuild costs the platform a count and not
// a message per cell, that drawing asks only for the rows on screen and a
// rebuild repaints only the rows that changed, that rows inserted above the
// selection carry it along, typing to find a row, and that the list's call
// message runs only the layer's own calls.
#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "controls/Button.h"
#include "controls/ListView.h"
#include "controls/WindowCore.h"
#include "controls/WorkerThread.h"
#include "controls/LayerTestSupport.h"

namespace pelorin {
namespace {

using testing::LayerTest;
using testing::PumpFor;
using testing::PumpUntil;

class ListRowsTest : public LayerTest {
protected:
    void SetUp() override {
        LayerTest::SetUp();
        list = CreateListView(form, 3, kListGridLines | kListFullRowSelect);
        SetAlign(list, kAlignClient);
        AddColumn(list, "Process Name", 0, 110);
        AddColumn(list, "PID", 2, 40);
        AddColumn(list, "Image Path", 0, 200);
    }
    void Fill(int rows, const char* prefix = "row ") {
        for (int i = 0; i < rows; ++i) {
            const std::int32_t row = InsertItem(list, ItemCount(list), prefix + std::to_string(i));
            SetItemText(list, row, 1, std::to_string(1000 + i));
        }
    }
    // What any reader gets through the platform's message, with a buffer of `size`.
    std::string PlatformText(int row, int column, int size = 260, LRESULT* length = nullptr) {
        // Marked past what the platform may write, so a missing terminator shows.
        std::vector<char> buffer(static_cast<std::size_t>(size) + 8, '#');
        buffer.back() = '\0';
        LVITEMA item = {};
        item.iSubItem = column;
        item.pszText = buffer.data();
        item.cchTextMax = size;
        const LRESULT n = ::SendMessageA(list->window, LVM_GETITEMTEXTA, static_cast<WPARAM>(row),
                                         reinterpret_cast<LPARAM>(&item));
        if (length != nullptr) *length = n;
        return std::string(item.pszText);
    }
    std::int32_t PlatformCount() {
        return static_cast<std::int32_t>(::SendMessageA(list->window, LVM_GETITEMCOUNT, 0, 0));
    }
    std::int32_t PlatformNext(UINT flags) {
        return static_cast<std::int32_t>(::SendMessageA(list->window, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), flags));
    }

    Control* list = nullptr;
};

TEST_F(ListRowsTest, ThePlatformListRunsOnOwnerDataAndReadersSeeTheRows) {
    ShowForm();
    EXPECT_TRUE(::GetWindowLongPtrA(list->window, GWL_STYLE) & LVS_OWNERDATA);
    Fill(4);
    SetItemText(list, 2, 2, "C:\\x\\y.exe");
    EXPECT_EQ(PlatformCount(), 4);
    EXPECT_EQ(PlatformText(0, 0), "row 0");
    EXPECT_EQ(PlatformText(3, 1), "1003");
    EXPECT_EQ(PlatformText(2, 2), "C:\\x\\y.exe");
    EXPECT_EQ(PlatformText(1, 2), "");  // a cell never set

    // A short buffer gets what fits, terminated, and the length copied.
    LRESULT length = 0;
    EXPECT_EQ(PlatformText(2, 2, 5, &length), "C:\\x");
    EXPECT_EQ(length, 4);
    // Rows and columns that do not exist give nothing.
    PlatformText(9, 0, 260, &length);
    EXPECT_EQ(length, 0);
    PlatformText(0, 6, 260, &length);
    EXPECT_EQ(length, 0);

    // LVM_GETITEMA and the wide message as well.
    char buffer[64] = {};
    LVITEMA item = {};
    item.mask = LVIF_TEXT;
    item.iItem = 3;
    item.pszText = buffer;
    item.cchTextMax = sizeof buffer;
    ASSERT_TRUE(::SendMessageA(list->window, LVM_GETITEMA, 0, reinterpret_cast<LPARAM>(&item)));
    EXPECT_STREQ(item.pszText, "row 3");
    wchar_t wide[64] = {};
    LVITEMW witem = {};
    witem.iSubItem = 1;
    witem.pszText = wide;
    witem.cchTextMax = 64;
    ::SendMessageW(list->window, LVM_GETITEMTEXTW, 1, reinterpret_cast<LPARAM>(&witem));
    EXPECT_STREQ(witem.pszText, L"1001");

    // The platform's selection is the layer's.
    SetCurrentIndex(list, 2);
    EXPECT_EQ(PlatformNext(LVNI_SELECTED), 2);
    EXPECT_EQ(PlatformNext(LVNI_FOCUSED), 2);
    ClearItems(list);
    EXPECT_EQ(PlatformCount(), 0);
    EXPECT_EQ(PlatformNext(LVNI_SELECTED), -1);
}

TEST_F(ListRowsTest, CellsFollowThePlatformsRules) {
    // The text ends at its first zero byte, as the platform would show it.
    InsertItem(list, 0, std::string("ab\0cd", 5));
    EXPECT_EQ(GetItemText(list, 0, 0), "ab");
    SetItemText(list, 0, 1, std::string("12\0" "34", 5));
    EXPECT_EQ(GetItemText(list, 0, 1), "12");

    // A cell needs its column; the item text needs none.
    SetItemText(list, 0, 3, "no column");
    EXPECT_EQ(GetItemText(list, 0, 3), "");
    Control* bare = CreateListView(form, 3, 0);
    EXPECT_EQ(InsertItem(bare, 0, "alone"), 0);
    SetItemText(bare, 0, 1, "nowhere");
    EXPECT_EQ(GetItemText(bare, 0, 0), "alone");
    EXPECT_EQ(GetItemText(bare, 0, 1), "");

    // Past the end means at the end; a row that does not exist takes no text.
    EXPECT_EQ(InsertItem(list, 50, "last"), 1);
    SetItemText(list, 7, 0, "nowhere");
    EXPECT_EQ(ItemCount(list), 2);
    EXPECT_EQ(PlatformCount(), 2);
}

// Counts the messages the platform list receives.
struct ListSpy {
    static inline int listMessages = 0;
    static inline int countMessages = 0;
    static LRESULT CALLBACK Proc(HWND window, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR, DWORD_PTR) {
        if (message >= LVM_FIRST && message < LVM_FIRST + 0x100) ++listMessages;
        if (message == LVM_SETITEMCOUNT) ++countMessages;
        return ::DefSubclassProc(window, message, wParam, lParam);
    }
};

TEST_F(ListRowsTest, ARebuildTellsThePlatformTheCountOnceInsteadOfEveryCell) {
    ShowForm();
    Fill(20);
    ::SetWindowSubclass(list->window, ListSpy::Proc, 11, 0);
    ListSpy::listMessages = ListSpy::countMessages = 0;

    BeginUpdate(list);
    ClearItems(list);
    for (int i = 0; i < 1000; ++i) {
        const std::int32_t row = InsertItem(list, i, "p.exe");
        for (int column = 1; column < 3; ++column) SetItemText(list, row, column, std::to_string(i * column));
    }
    // Frozen: the platform has been told nothing and still shows the old rows.
    EXPECT_EQ(PlatformCount(), 20);
    EXPECT_EQ(PlatformText(19, 0), "row 19");
    EXPECT_EQ(ListSpy::listMessages, 2);  // the two reads just above
    EndUpdate(list);
    EXPECT_EQ(ListSpy::countMessages, 1);
    EXPECT_LE(ListSpy::listMessages, 6);
    EXPECT_EQ(PlatformCount(), 1000);
    EXPECT_EQ(PlatformText(999, 2), "1998");
    ::RemoveWindowSubclass(list->window, ListSpy::Proc, 11);
}

// Counts the texts the platform list asks for.
struct DrawSpy {
    static inline int asked = 0;
    static inline int lowestRow = 1 << 30;
    static inline int highestRow = -1;
    static LRESULT CALLBACK Proc(HWND window, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR, DWORD_PTR) {
        if (message == WM_NOTIFY) {
            const auto* header = reinterpret_cast<const NMHDR*>(lParam);
            if (header->code == LVN_GETDISPINFOA || header->code == LVN_GETDISPINFOW) {
                ++asked;
                const int row = reinterpret_cast<const NMLVDISPINFOA*>(lParam)->item.iItem;
                if (row > highestRow) highestRow = row;
                if (row < lowestRow) lowestRow = row;
            }
        }
        return ::DefSubclassProc(window, message, wParam, lParam);
    }
};

TEST_F(ListRowsTest, DrawingAsksOnlyForTheRowsOnScreen) {
    ShowForm();
    ::SetWindowSubclass(form->window, DrawSpy::Proc, 12, 0);
    BeginUpdate(list);
    Fill(2000);
    DrawSpy::asked = 0;
    DrawSpy::highestRow = -1;
    EndUpdate(list);
    ::UpdateWindow(list->window);
    PumpFor(200);
    EXPECT_GT(DrawSpy::asked, 0);
    // The form is 300 pixels high: a few dozen rows at most show.
    EXPECT_LT(DrawSpy::highestRow, 60);
    EXPECT_LT(DrawSpy::asked, 60 * 3 * 3);
    ::RemoveWindowSubclass(form->window, DrawSpy::Proc, 12);
}

// Rebuilds the list as the refresh does: frozen, cleared, refilled.
void Rebuild(Control* list, const std::vector<std::string>& names) {
    BeginUpdate(list);
    ClearItems(list);
    for (const std::string& name : names) {
        const std::int32_t row = InsertItem(list, ItemCount(list), name);
        SetItemText(list, row, 1, "1");
    }
    EndUpdate(list);
}

TEST_F(ListRowsTest, ARebuildRepaintsOnlyTheRowsThatChanged) {
    ShowForm();
    std::vector<std::string> names;
    for (int i = 0; i < 40; ++i) names.push_back("p" + std::to_string(i) + ".exe");
    Rebuild(list, names);
    PumpFor(200);
    ::SetWindowSubclass(form->window, DrawSpy::Proc, 13, 0);

    // The same rows again: nothing to draw.
    DrawSpy::asked = 0;
    Rebuild(list, names);
    PumpFor(200);
    EXPECT_EQ(DrawSpy::asked, 0);

    // One row on screen changed: only that row is drawn again.
    names[3] = "other.exe";
    DrawSpy::asked = 0;
    DrawSpy::lowestRow = 1 << 30;
    DrawSpy::highestRow = -1;
    Rebuild(list, names);
    PumpFor(200);
    EXPECT_GT(DrawSpy::asked, 0);
    EXPECT_EQ(DrawSpy::lowestRow, 3);
    EXPECT_EQ(DrawSpy::highestRow, 3);
    EXPECT_EQ(PlatformText(3, 0), "other.exe");

    // A row more or less: the whole list.
    names.pop_back();
    DrawSpy::asked = 0;
    DrawSpy::lowestRow = 1 << 30;
    Rebuild(list, names);
    PumpFor(200);
    EXPECT_EQ(DrawSpy::lowestRow, 0);
    EXPECT_EQ(PlatformCount(), 39);
    ::RemoveWindowSubclass(form->window, DrawSpy::Proc, 13);
}

TEST_F(ListRowsTest, RowsInsertedAboveTheSelectionCarryItAlong) {
    Fill(6);
    SetCurrentIndex(list, 3);
    EXPECT_EQ(InsertItem(list, 1, "new"), 1);
    EXPECT_EQ(CurrentIndex(list), 4);
    EXPECT_EQ(PlatformNext(LVNI_FOCUSED), 4);
    EXPECT_EQ(GetItemText(list, 4, 1), "1003");
    EXPECT_EQ(PlatformText(1, 0), "new");

    // Below the selection nothing moves; also while frozen.
    BeginUpdate(list);
    InsertItem(list, 5, "later");
    InsertItem(list, ItemCount(list), "end");
    EXPECT_EQ(CurrentIndex(list), 4);
    EndUpdate(list);
    EXPECT_EQ(CurrentIndex(list), 4);
    EXPECT_EQ(PlatformCount(), 9);
    EXPECT_EQ(PlatformText(8, 0), "end");

    // Above it while frozen: the platform keeps its selection until it catches up.
    BeginUpdate(list);
    InsertItem(list, 0, "first");
    InsertItem(list, 2, "second");
    EXPECT_EQ(PlatformNext(LVNI_SELECTED), 4);
    EndUpdate(list);
    EXPECT_EQ(CurrentIndex(list), 6);
    EXPECT_EQ(PlatformNext(LVNI_FOCUSED), 6);
    EXPECT_EQ(GetItemText(list, 6, 1), "1003");

    // Moved and then cleared while frozen: nothing is selected afterwards.
    BeginUpdate(list);
    InsertItem(list, 0, "moves it");
    ClearItems(list);
    Fill(8);
    EndUpdate(list);
    EXPECT_EQ(CurrentIndex(list), -1);
    EXPECT_EQ(PlatformNext(LVNI_FOCUSED), -1);
}

TEST_F(ListRowsTest, TypingSelectsTheNextRowWhoseNameBeginsSo) {
    ShowForm();
    for (const char* name : {"alpha.exe", "beta.exe", "gamma.exe", "Gemini.exe"}) InsertItem(list, ItemCount(list), name);
    ::SetFocus(list->window);
    ::SendMessageA(list->window, WM_CHAR, 'g', 1);
    EXPECT_EQ(CurrentIndex(list), 2);
    PumpFor(1200);  // a pause starts a new search
    ::SendMessageA(list->window, WM_CHAR, 'B', 1);
    EXPECT_EQ(CurrentIndex(list), 1);
    PumpFor(1200);
    ::SendMessageA(list->window, WM_CHAR, 'z', 1);
    EXPECT_EQ(CurrentIndex(list), 1);  // nothing begins so: the selection stays
}

struct FakeCall {
    void (*run)(FakeCall&) = nullptr;
    bool ran = false;
};

struct WorkerFill {
    Control* list = nullptr;
    int inserted = 0;
    std::string cell;
};

std::uint32_t FillFromWorker(WorkerFill& job, WorkerThread*) {
    BeginUpdate(job.list);
    ClearItems(job.list);
    for (int i = 0; i < 300; ++i) {
        if (InsertItem(job.list, i, "w" + std::to_string(i)) == i) ++job.inserted;
        SetItemText(job.list, i, 1, std::to_string(i));
    }
    EndUpdate(job.list);
    job.cell = GetItemText(job.list, 299, 1);
    return 0;
}

TEST_F(ListRowsTest, OnlyTheLayersOwnCallsRunThroughTheListsMessage) {
    ShowForm();
    Fill(2);
    // Another program (or a stray message) naming memory as a call: nothing runs.
    FakeCall fake;
    fake.run = [](FakeCall& self) { self.ran = true; };
    EXPECT_EQ(::SendMessageA(list->window, core::kListCallMessage, 0, reinterpret_cast<LPARAM>(&fake)), 0);
    EXPECT_FALSE(fake.ran);
    EXPECT_EQ(::SendMessageA(list->window, core::kListCallMessage, 0, 12345), 0);

    // A worker's calls do run, on the list's thread, with their answers.
    WorkerFill job;
    job.list = list;
    WorkerThread* thread = CreateWorkerThread();
    thread->onExecute = MakeExecute<&FillFromWorker>(job);
    Resume(thread);
    ASSERT_TRUE(PumpUntil([&] { return Terminated(thread); }));
    StopAndWait(thread);
    Destroy(thread);
    EXPECT_EQ(job.inserted, 300);
    EXPECT_EQ(job.cell, "299");
    EXPECT_EQ(PlatformCount(), 300);
    EXPECT_EQ(PlatformText(150, 0), "w150");
    EXPECT_EQ(list->updateCount, 0);
}

}  // namespace
}  // namespace pelorin
