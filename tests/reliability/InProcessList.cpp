#include "reliability/InProcessList.h"

#include "catalogue/ProcessSource.h"
#include "controls/AppObject.h"
#include "controls/Button.h"
#include "controls/Form.h"
#include "controls/ListView.h"

namespace pelorin::reliability {

InProcessList::InProcessList() {
    app_ = CreateAppObject("Pelorin reliability");
    form_ = CreateForm(app_, "Refresh under test");
    SetPosition(form_, 20, 20);
    SetClientSize(form_, 600, 400);
    Handle(form_);
    list_ = CreateListView(form_, 3, kListGridLines | kListFullRowSelect);
    SetPosition(list_, 0, 24);
    SetSize(list_, 600, 376);
    Handle(list_);
    const char* titles[] = {"Process Name", "PID", "Mem", "CPU", "Image Path", "Description", "Company"};
    for (const char* title : titles) AddColumn(list_, title, 0, 80);
    showKnown_ = CreateCheckBox(form_, "Show Known Processes");
    moreInfo_ = CreateCheckBox(form_, "More Info");
    noRefresh_ = CreateCheckBox(form_, "No Refresh");
    int left = 0;
    for (Control* box : {showKnown_, moreInfo_, noRefresh_}) {
        SetPosition(box, left, 0);
        SetSize(box, 150, 20);
        Handle(box);
        left += 160;
    }
    Pump();

    state.lvProcesses = list_;
    state.chkShowKnown = showKnown_;
    state.chkMoreInfo = moreInfo_;
    state.chkNoRefresh = noRefresh_;
    state.source = &PlatformProcessSource();
    CreateSampleLists(state);
    state.RefreshEnabled = true;
}

InProcessList::~InProcessList() {
    state.RefreshEnabled = false;
    ReleaseSampleLists(state);
    Destroy(app_);
    Pump();
}

void InProcessList::SetMoreInfo(bool ticked) { SetChecked(moreInfo_, ticked); }
void InProcessList::SetShowKnown(bool ticked) { SetChecked(showKnown_, ticked); }

void InProcessList::Refresh() {
    RefreshProcessList(state);
    Pump();
}

double InProcessList::TimeRefreshes(int count) {
    LARGE_INTEGER frequency = {}, start = {}, end = {};
    ::QueryPerformanceFrequency(&frequency);
    ::QueryPerformanceCounter(&start);
    for (int i = 0; i < count; ++i) Refresh();
    ::QueryPerformanceCounter(&end);
    return count > 0 ? 1000.0 * static_cast<double>(end.QuadPart - start.QuadPart) /
                           static_cast<double>(frequency.QuadPart) / count
                     : 0.0;
}

int InProcessList::RowCount() { return ItemCount(list_); }

void InProcessList::Pump() {
    MSG message;
    while (::PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
        ::TranslateMessage(&message);
        ::DispatchMessageA(&message);
    }
}

}  // namespace pelorin::reliability
