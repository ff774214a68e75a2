// The list refresh in this test process, against a real list view on the
// virtual display: an application object, a form with the process list and
// the three check boxes the refresh reads, and the refresh's state record
// with the platform's readings.
#pragma once

#include <windows.h>

#include "catalogue/ProcList.h"
#include "controls/Control.h"

namespace pelorin::reliability {

class InProcessList {
public:
    InProcessList();
    ~InProcessList();
    InProcessList(const InProcessList&) = delete;
    InProcessList& operator=(const InProcessList&) = delete;

    void SetMoreInfo(bool ticked);
    void SetShowKnown(bool ticked);
    // One refresh on this thread, as the kill command runs it.
    void Refresh();
    // The mean time of one refresh over count refreshes, in ms.
    double TimeRefreshes(int count);
    int RowCount();
    // Dispatches this thread's pending messages.
    void Pump();

    ProcessListState state;

private:
    Control* app_ = nullptr;
    Control* form_ = nullptr;
    Control* list_ = nullptr;
    Control* showKnown_ = nullptr;
    Control* moreInfo_ = nullptr;
    Control* noRefresh_ = nullptr;
};

}  // namespace pelorin::reliability
