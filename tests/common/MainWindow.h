// The program's real main window built inside a test program, on the test's
// thread as its interface thread: no instance guard, workers only when asked,
// the settings' save and the process's end counted instead of done.
#pragma once

#include <atomic>

#include "app/Startup.h"
#include "common/TestSupport.h"
#include "controls/AppObject.h"
#include "controls/ListView.h"
#include "ui/MainForm.h"

namespace pelorin::test {

// Every cell of a list view of this process, row by row; one column of them.
inline std::vector<std::vector<std::string>> Cells(Control* list) {
    std::vector<std::vector<std::string>> rows(static_cast<std::size_t>(ItemCount(list)));
    for (std::size_t r = 0; r < rows.size(); ++r)
        for (int c = 0; c < list->columnCount; ++c) rows[r].push_back(GetItemText(list, static_cast<int>(r), c));
    return rows;
}
inline std::vector<std::string> ColumnOf(Control* list, int column) {
    std::vector<std::string> cells;
    for (const auto& row : Cells(list)) cells.push_back(row.at(static_cast<std::size_t>(column)));
    return cells;
}

struct MainWindow {
    explicit MainWindow(bool workers = false, ProcessSource* source = nullptr) {
        saves = ends = 0;
        options.programFolder = folder.Path();
        options.singleInstance = false;
        options.startWorkers = workers;
        options.saveSettings = [](MainForm&) { ++saves; };
        options.endProcess = [] { ++ends; };
        if (source != nullptr) form.refresh.source = source;
        form.refresh.periodMs = 20;  // tests wait for the loop's passes, not for seconds
        app = CreateAppObject("Pelorin");
        CreateMainForm(form, app, options);
        ::ShowWindow(Handle(form.Form), SW_SHOWNOACTIVATE);
    }
    ~MainWindow() { Destroy(app); }
    MainWindow(const MainWindow&) = delete;
    MainWindow& operator=(const MainWindow&) = delete;

    HWND Window() { return Handle(form.Form); }

    static inline std::atomic<int> saves = 0, ends = 0;  // read by tests' other threads too
    TempFolder folder;  // the program's folder: no "testing.log" in it
    StartupOptions options;
    Control* app = nullptr;
    MainForm form;
};

}  // namespace pelorin::test
