// 1,000 create/destroy cycles of a form with every kind of control must leave
// the process's handles, windows and GDI/USER objects where they started.
//
// Under Wine GetProcessHandleCount and GetGuiResources answer 0, so this
// measures: the HandleCount of the process's own SystemProcessInformation
// entry (kernel handles: threads, events), the windows of this thread counted
// with EnumThreadWindows/EnumChildWindows, the layer's own counts of the fonts,
// brushes and menus it creates and deletes, and, independently of those
// counts, that the platform no longer knows the last cycle's fonts, brushes
// and menus. GetGuiResources is compared too where it gives figures.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <vector>

#include "controls/Button.h"
#include "controls/Label.h"
#include "controls/ListView.h"
#include "controls/Menu.h"
#include "controls/ResourceCounters.h"
#include "controls/Splitter.h"
#include "controls/WorkerThread.h"
#include "controls/LayerTestSupport.h"
#include "fixtures/ProcessCounters.h"

namespace pelorin {
namespace {

using testing::Pump;

BOOL CALLBACK CountChild(HWND, LPARAM count) {
    ++*reinterpret_cast<long*>(count);
    return TRUE;
}

BOOL CALLBACK CountTopLevel(HWND window, LPARAM count) {
    ++*reinterpret_cast<long*>(count);
    ::EnumChildWindows(window, CountChild, count);
    return TRUE;
}

struct Figures {
    unsigned long handles = 0;
    long windows = 0;
    LayerResourceCounts layer;
    DWORD gdi = 0;
    DWORD user = 0;
};

Figures Measure() {
    Figures f;
    f.handles = fixtures::OwnHandleCount();
    ::EnumThreadWindows(::GetCurrentThreadId(), CountTopLevel, reinterpret_cast<LPARAM>(&f.windows));
    f.layer = LiveLayerResources();
    f.gdi = ::GetGuiResources(::GetCurrentProcess(), GR_GDIOBJECTS);
    f.user = ::GetGuiResources(::GetCurrentProcess(), GR_USEROBJECTS);
    return f;
}

std::uint32_t WaitForStop(int&, WorkerThread* thread) {
    while (!StopRequested(thread)) SleepOrStop(thread, 1000);
    return 0;
}

// What the last cycle created, to ask the platform about afterwards.
struct Leftovers {
    std::vector<HGDIOBJ> gdi;
    std::vector<HMENU> menus;
    long windowsWhileAlive = 0;  // shows that the window count sees the form's windows
};

void FormCycle(Control* app, Leftovers& left) {
    static int unused = 0;
    Control* form = CreateForm(app, "Leak test form");
    SetFontName(Font(form), "MS Sans Serif");
    SetPosition(form, 10, 10);
    SetClientSize(form, 300, 200);
    Menu* bar = CreateMenu(form, {});  // the empty menu bar, as the program makes it
    Menu* popup = CreateMenu(form, {"Kill Task", " ----"});

    Control* top = CreatePanel(form, 2);
    SetAlign(top, kAlignTop);
    SetHeight(top, 40);
    SetColor(top, 0xC0C0C0);
    Control* label = CreateLabel(top, " X");
    AddToAutoFree(form, label);
    SetFontStyle(Font(label), kFontBold);
    SetFontHeight(Font(label), 6);
    SetColor(label, 0x008000);
    SetCursor(label, ::LoadCursorA(nullptr, IDC_HAND));
    Control* status = CreateLabel(top, "lblCpuUsage");
    AddToAutoFree(form, status);
    SetFontColor(Font(status), 0xFFFFFF);
    SetAutoSize(status, true);

    Control* list = CreateListView(form, 3, kListGridLines | kListFullRowSelect);
    SetAlign(list, kAlignClient);
    SetFontHeight(Font(list), 8);
    SetColor(list, 0x80000005);
    AttachPopupMenu(list, popup);

    Control* bottom = CreatePanel(form, 2);
    SetAlign(bottom, kAlignBottom);
    SetHeight(bottom, 60);
    SetColor(bottom, 0xC0C0C0);
    Control* button = CreateButton(bottom, "Test");
    AddToAutoFree(form, button);
    SetFontHeight(Font(button), 8);
    Control* box = CreateCheckBox(bottom, "On Top");
    AddToAutoFree(form, box);
    SetFontHeight(Font(box), 8);
    SetAutoSize(box, true);
    Control* splitter = CreateSplitter(form, 0, 0);
    SetAlign(splitter, kAlignBottom);
    SetHeight(splitter, 5);
    SetColor(splitter, 0xC0C0C0);

    WorkerThread* worker = CreateWorkerThread();
    AddToAutoFree(form, worker);
    worker->onExecute = MakeExecute<&WaitForStop>(unused);

    Handle(form);
    AddColumn(list, "Process Name", 0, 110);
    AddColumn(list, "PID", 2, 40);
    for (int i = 0; i < 20; ++i) {
        const std::int32_t row = InsertItem(list, i, "process.exe");
        SetItemText(list, row, 1, "1234");
    }
    // Painting and the parent's colour answer build the brushes and fonts.
    for (Control* c : {top, label, status, bottom, splitter}) ::SendMessageA(c->window, WM_PAINT, 0, 0);
    const HDC dc = ::GetDC(box->window);
    ::SendMessageA(bottom->window, WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(dc), reinterpret_cast<LPARAM>(box->window));
    ::ReleaseDC(box->window, dc);
    SetFontHeight(Font(label), 7);  // a changed font replaces the old one
    SetColor(label, 0x00FF00);
    ::SendMessageA(label->window, WM_PAINT, 0, 0);

    Resume(worker);
    StopAndWait(worker);

    left.windowsWhileAlive = Measure().windows;
    left.gdi = {label->font->handle, button->font->handle, list->font->handle, label->brush.Get(), top->brush.Get(),
                box->brush.Get()};
    left.menus = {bar->handle, popup->handle};
    Destroy(form);
    Pump();
}

TEST(Leaks, AThousandFormCyclesLeaveHandlesWindowsAndObjectsWhereTheyStarted) {
    Control* app = CreateAppObject("Pelorin leak test");
    Leftovers left;
    // First use of window classes, common controls, stock objects and threads.
    FormCycle(app, left);
    FormCycle(app, left);
    const Figures before = Measure();
    const DWORD start = ::GetTickCount();
    constexpr int kCycles = 1000;
    for (int i = 0; i < kCycles; ++i) FormCycle(app, left);
    const DWORD elapsed = ::GetTickCount() - start;
    const Figures after = Measure();

    std::printf("%-34s %10s %10s\n", "figure", "before", "after");
    std::printf("%-34s %10lu %10lu\n", "process handles (system list)", before.handles, after.handles);
    std::printf("%-34s %10ld %10ld\n", "windows of this thread", before.windows, after.windows);
    std::printf("%-34s %10ld %10ld\n", "layer fonts", before.layer.fonts, after.layer.fonts);
    std::printf("%-34s %10ld %10ld\n", "layer brushes", before.layer.brushes, after.layer.brushes);
    std::printf("%-34s %10ld %10ld\n", "layer menus", before.layer.menus, after.layer.menus);
    std::printf("%-34s %10lu %10lu\n", "GetGuiResources GDI", before.gdi, after.gdi);
    std::printf("%-34s %10lu %10lu\n", "GetGuiResources USER", before.user, after.user);
    std::printf("%-34s %10ld\n", "windows while a form exists", left.windowsWhileAlive);
    std::printf("%d cycles in %lu ms\n", kCycles, static_cast<unsigned long>(elapsed));
    EXPECT_GE(left.windowsWhileAlive, 9);  // form, 2 panels, 2 labels, list (+header), button, box, splitter

    EXPECT_EQ(after.windows, before.windows);
    EXPECT_EQ(after.layer.fonts, before.layer.fonts);
    EXPECT_EQ(after.layer.brushes, before.layer.brushes);
    EXPECT_EQ(after.layer.menus, before.layer.menus);
    EXPECT_EQ(after.layer.fonts, 0);
    EXPECT_EQ(after.layer.brushes, 0);
    EXPECT_EQ(after.layer.menus, 0);
    if (before.handles != 0) {
        EXPECT_EQ(after.handles, before.handles);
    }
    if (before.gdi != 0) {
        EXPECT_EQ(after.gdi, before.gdi);
    }
    if (before.user != 0) {
        EXPECT_EQ(after.user, before.user);
    }
    // The platform itself no longer knows the last cycle's objects.
    for (HGDIOBJ object : left.gdi) {
        ASSERT_NE(object, nullptr);
        EXPECT_EQ(::GetObjectType(object), 0u);
    }
    for (HMENU menu : left.menus) EXPECT_FALSE(::IsMenu(menu));
    Destroy(app);
}

}  // namespace
}  // namespace pelorin
