#include "ui/MainForm.h"

#include <windows.h>

#include "controls/AppObject.h"
#include "controls/Button.h"
#include "controls/Form.h"
#include "controls/Label.h"
#include "controls/ListView.h"
#include "controls/Splitter.h"
#include "ui/KillCommand.h"
#include "ui/Selection.h"
#include "ui/WindowBehaviour.h"

namespace pelorin {
namespace {

constexpr ColorValue kSilver = 0xC0C0C0;
constexpr ColorValue kDarkGreen = 0x008000;
constexpr ColorValue kWhite = 0xFFFFFF;
constexpr ColorValue kWindowColor = 0x80000005;  // COLOR_WINDOW
constexpr std::uint32_t kListOptions = kListGridLines | kListFullRowSelect;
constexpr std::uint8_t kReportView = 3;
constexpr std::uint8_t kNoEdge = 2;
constexpr std::int32_t kAlignLeft = 0;
constexpr std::int32_t kAlignCentre = 2;

// The shell's handlers are reached through the record, so the layer's method
// pointers stay plain compile-time binders.
void ShellClose(MainForm& f, Control* sender, bool& accept) {
    if (f.shell.mainFormClose) f.shell.mainFormClose(f, sender, accept);
}

void ShellDestroy(MainForm& f, Control* sender) {
    if (f.shell.mainFormDestroy) f.shell.mainFormDestroy(f, sender);
}

// A white status label of pnlTop that sizes itself to its text.
Control* StatusLabel(Control* parent, const char* caption, std::int32_t left, std::int32_t top) {
    Control* label = CreateLabel(parent, caption);
    SetPosition(label, left, top);
    SetAutoSize(label, true);
    SetFontColor(Font(label), kWhite);
    SetFontHeight(Font(label), 6);
    return label;
}

Control* CheckBox(Control* parent, const char* caption, std::int32_t left, std::int32_t top) {
    Control* box = CreateCheckBox(parent, caption);
    SetPosition(box, left, top);
    SetAutoSize(box, true);
    SetFontHeight(Font(box), 8);
    SetChecked(box, false);
    return box;
}

struct ColumnSpec {
    const char* title;
    std::int32_t alignment;
    std::int32_t width;
};

constexpr ColumnSpec kProcessColumns[] = {
    {"Process Name", kAlignLeft, 110}, {"PID", kAlignCentre, 40},        {"Mem", kAlignCentre, 60},
    {"CPU", kAlignCentre, 35},         {"Image Path", kAlignLeft, 280},  {"Description", kAlignCentre, 100},
    {"Company", kAlignCentre, 100},
};

constexpr ColumnSpec kModuleColumns[] = {
    {"Modules Count: 0", kAlignCentre, 130},
    {"Processes used by", kAlignLeft, 300},
    {"Description", kAlignLeft, 100},
    {"Company", kAlignCentre, 100},
};

}  // namespace

void BuildMainForm(MainForm& f, Control* app, const ShellHooks& shell) {
    f.shell = shell;

    f.Form = CreateForm(app, "Pelorin");
    SetPosition(f.Form, 189, 109);
    SetClientSize(f.Form, 509, 342);
    SetFontName(Font(f.Form), "MS Sans Serif");
    SetOnClose(f.Form, MakeCloseHandler<&ShellClose>(f));
    SetOnMouseDown(f.Form, MakeMouseHandler<&DragWindow>(f));
    f.Form->onDestroy = MakeNotify<&ShellDestroy>(f);

    // The first menu of a form is its menu bar; an empty one shows no bar.
    f.mainMenu = CreateMenu(f.Form, std::initializer_list<std::string_view>{});

    // Created suspended; start-up resumes them once everything they read exists.
    f.RefreshThread = CreateWorkerThread();
    f.RefreshThread->onExecute = MakeExecute<&RefreshThreadBody>(f);
    AddToAutoFree(f.Form, f.RefreshThread);
    f.CpuUsageThread = CreateWorkerThread();
    f.CpuUsageThread->onExecute = MakeExecute<&CpuUsageThreadBody>(f);
    AddToAutoFree(f.Form, f.CpuUsageThread);

    f.mnuList = CreateMenu(f.Form, {"Kill Task", " ----"});
    SetMenuItemHandlers(f.mnuList, 0, {MakeNotify<&KillTaskClick>(f)});

    f.pnlTop = CreatePanel(f.Form, kNoEdge);
    SetAlign(f.pnlTop, kAlignTop);
    SetHeight(f.pnlTop, 57);
    SetColor(f.pnlTop, kSilver);

    f.lblClose = CreateLabel(f.pnlTop, " X");
    SetPosition(f.lblClose, 485, 0);
    SetSize(f.lblClose, 20, 14);
    SetFontStyle(Font(f.lblClose), kFontBold);
    SetFontHeight(Font(f.lblClose), 6);
    SetCursor(f.lblClose, ::LoadCursorA(nullptr, MAKEINTRESOURCEA(32649)));  // IDC_HAND
    SetColor(f.lblClose, kDarkGreen);

    f.lblCpuUsage = StatusLabel(f.pnlTop, "lblCpuUsage", 8, 24);
    f.lblRealtime = StatusLabel(f.pnlTop, "lblRealtime", 8, 8);
    f.lblStat = StatusLabel(f.pnlTop, "lblStat", 130, 40);
    SetColor(f.lblStat, kSilver);
    f.lblTask = StatusLabel(f.pnlTop, "lblTask", 6, 40);
    SetColor(f.lblTask, kSilver);

    f.lvProcesses = CreateListView(f.Form, kReportView, kListOptions);
    SetAlign(f.lvProcesses, kAlignTop);
    SetHeight(f.lvProcesses, 94);
    SetFontHeight(Font(f.lvProcesses), 8);
    SetColor(f.lvProcesses, kWindowColor);

    f.pnlBottom = CreatePanel(f.Form, kNoEdge);
    SetAlign(f.pnlBottom, kAlignBottom);
    SetHeight(f.pnlBottom, 124);
    SetColor(f.pnlBottom, kSilver);

    f.btnTest = CreateButton(f.pnlBottom, "Test");
    SetPosition(f.btnTest, 416, 2);
    SetSize(f.btnTest, 49, 18);
    SetFontHeight(Font(f.btnTest), 8);

    f.chkShowKnown = CheckBox(f.pnlBottom, "Show Known Processes", 8, 2);

    f.lvModules = CreateListView(f.pnlBottom, kReportView, kListOptions);
    SetPosition(f.lvModules, 5, 24);
    SetSize(f.lvModules, 495, 95);
    SetHasBorder(f.lvModules, false);
    SetFontHeight(Font(f.lvModules), 8);
    SetColor(f.lvModules, kWindowColor);

    f.chkMoreInfo = CheckBox(f.pnlBottom, "More Info", 296, 2);
    f.chkOnTop = CheckBox(f.pnlBottom, "On Top", 232, 2);
    f.chkNoRefresh = CheckBox(f.pnlBottom, "No Refresh", 152, 2);

    // Built after pnlBottom, so it stacks directly above it. A splitter
    // always draws a lowered edge.
    f.splBottom = CreateSplitter(f.Form, 0, 0);
    SetAlign(f.splBottom, kAlignBottom);
    SetHeight(f.splBottom, 5);
    SetColor(f.splBottom, kSilver);

    SetOnClick(f.lblClose, MakeNotify<&CloseMainWindow>(f));
    SetOnMouseDown(f.lblClose, MakeMouseHandler<&DragWindow>(f));
    SetAnchors(f.lblClose, false, false, true, false);
    SetOnMouseDown(f.lblStat, MakeMouseHandler<&DragWindow>(f));
    SetOnMouseDown(f.lblTask, MakeMouseHandler<&DragWindow>(f));
    SetOnClick(f.btnTest, MakeNotify<&TestButtonClick>(f));
    SetOnMouseDown(f.pnlTop, MakeMouseHandler<&DragWindow>(f));
    SetAnchors(f.lvModules, true, true, true, true);
    AttachPopupMenu(f.lvProcesses, f.mnuList);
    SetOnClick(f.lvProcesses, MakeNotify<&ProcessListClick>(f));
    SetOnKeyDown(f.lvProcesses, MakeKeyHandler<&ProcessListKey>(f));
    // A header click sorts for the rest of the run: names A to Z, PIDs from
    // the lowest, memory and processor share from the largest.
    SetColumnSorts(f.lvProcesses, {kSortText, kSortNumber, kSortNumberLargestFirst, kSortNumberLargestFirst,
                                   kSortText, kSortText, kSortText});
    SetOnClick(f.chkMoreInfo, MakeNotify<&MoreInfoClick>(f));
    SetOnClick(f.chkOnTop, MakeNotify<&OnTopClick>(f));

    // What the refresh reads and writes.
    f.refresh.lvProcesses = f.lvProcesses;
    f.refresh.chkShowKnown = f.chkShowKnown;
    f.refresh.chkMoreInfo = f.chkMoreInfo;
    f.refresh.chkNoRefresh = f.chkNoRefresh;

    if (f.shell.initMainForm) f.shell.initMainForm(f);
}

void AddProcessColumns(MainForm& f) {
    for (const ColumnSpec& c : kProcessColumns) AddColumn(f.lvProcesses, c.title, c.alignment, c.width);
}

void AddModuleColumns(MainForm& f) {
    for (const ColumnSpec& c : kModuleColumns) AddColumn(f.lvModules, c.title, c.alignment, c.width);
}

void UpdateStatusLine(MainForm& f, WorkerThread*) {
    std::string line;
    if (StatusLineText(f.usage, line)) SetCaption(f.lblCpuUsage, line);
}

void ShowCounts(MainForm& f, WorkerThread*) { SetCaption(f.lblTask, CountsText(f.refresh.ProcessRowCount.load())); }

std::uint32_t RefreshThreadBody(MainForm& f, WorkerThread* thread) {
    return RefreshLoop(f.refresh, thread, MakeThreadMethod<&ShowCounts>(f));
}

std::uint32_t CpuUsageThreadBody(MainForm& f, WorkerThread* thread) {
    return SamplerLoop(f.usage, thread, MakeThreadMethod<&UpdateStatusLine>(f));
}

}  // namespace pelorin
