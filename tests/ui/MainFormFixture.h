// Builds the real main window on the virtual display with a test start-up:
// no single-instance guard, workers left suspended unless a test starts them,
// the settings steps counted instead of touching the registry, and a private
// program folder where a test places (or omits) "testing.log".
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "app/Startup.h"
#include "controls/AppObject.h"
#include "controls/LayerTestSupport.h"
#include "controls/WorkerThread.h"
#include "ui/MainForm.h"

namespace pelorin::testing {

// What the settings steps saw; reset by every fixture.
struct SettingsLog {
    int loads = 0;
    int registers = 0;
    int saves = 0;
    bool workersEndedAtSave = false;  // both threads had ended when the save ran
    bool formWindowAtLoad = false;    // the main window existed when the load ran
};
inline SettingsLog g_settings;

inline void CountLoad(MainForm& f) {
    ++g_settings.loads;
    g_settings.formWindowAtLoad = f.Form->window != nullptr;
}
inline void CountRegister(MainForm&) { ++g_settings.registers; }
inline void CountSave(MainForm& f) {
    ++g_settings.saves;
    const auto ended = [](WorkerThread* t) { return ::WaitForSingleObject(t->handle.Get(), 0) == WAIT_OBJECT_0; };
    g_settings.workersEndedAtSave = ended(f.CpuUsageThread) && ended(f.RefreshThread);
}

enum class TestModeFile { None, File, Folder };

class MainFormTest : public ::testing::Test {
protected:
    void SetUp() override {
        g_settings = SettingsLog{};
        char temp[MAX_PATH] = {};
        ::GetTempPathA(MAX_PATH, temp);
        static LONG counter = 0;
        folder_ = std::string(temp) + "pelorin-ui-" + std::to_string(::GetCurrentProcessId()) + "-" +
                  std::to_string(::InterlockedIncrement(&counter)) + "\\";
        ASSERT_TRUE(::CreateDirectoryA(folder_.c_str(), nullptr));
        options.programFolder = folder_;
        options.singleInstance = false;
        options.startWorkers = false;
        options.loadSettings = &CountLoad;
        options.registerWindowHandle = &CountRegister;
        options.saveSettings = &CountSave;
    }

    void TearDown() override {
        if (app != nullptr) Destroy(app);
        app = nullptr;
        Pump();
        const std::string marker = folder_ + "testing.log";
        ::DeleteFileA(marker.c_str());
        ::RemoveDirectoryA(marker.c_str());
        ::RemoveDirectoryA(folder_.c_str());
    }

    // Builds the window (start-up included) and shows it.
    void Build(TestModeFile marker = TestModeFile::File) {
        const std::string path = folder_ + "testing.log";
        if (marker == TestModeFile::File) {
            const HANDLE file = ::CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
            ASSERT_NE(file, INVALID_HANDLE_VALUE);
            ::CloseHandle(file);
        } else if (marker == TestModeFile::Folder) {
            ASSERT_TRUE(::CreateDirectoryA(path.c_str(), nullptr));
        }
        app = CreateAppObject("Pelorin");
        CreateMainForm(form, app, options);
        const HWND window = Handle(form.Form);
        ASSERT_NE(window, nullptr);
        ::ShowWindow(window, SW_SHOWNORMAL);
        ::UpdateWindow(window);
        PumpFor(50);
    }

    StartupOptions options;
    Control* app = nullptr;
    MainForm form;

private:
    std::string folder_;
};

}  // namespace pelorin::testing
