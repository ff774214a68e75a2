#include "ui/KillCommand.h"

#include <windows.h>

#include "support/FastStrings.h"
#include "support/SystemInfo.h"
#include "ui/MainForm.h"

namespace pelorin {
namespace {

constexpr const char* kDefaultTitle = "Pelorin";

bool KillSelected(const MainForm& f) {
    // Without a creation time from the click nothing proves the PID still
    // names the clicked process.
    if (!f.SelectedCreation) return false;
    return KillProcess(f.refresh.SelectedPid.load(), *f.SelectedCreation, f.killApi ? *f.killApi : PlatformKillApi());
}

void ShowKillFailure(MainForm& f) {
    const std::string text = KillFailureText(f.SelectedName, f.refresh.SelectedPid.load());
    // The application object's caption; its window is message-only, so the
    // box is owned by the main window instead (it would otherwise open with
    // no owner the user can see, possibly behind the main window).
    Control* app = f.Form != nullptr ? f.Form->parent : nullptr;
    const std::string title = app != nullptr && !Caption(app).empty() ? Caption(app) : kDefaultTitle;
    ::MessageBoxA(Handle(f.Form), text.c_str(), title.c_str(), MB_OK | MB_SETFOREGROUND);
}

}  // namespace

std::string KillFailureText(std::string_view name, std::uint32_t pid) {
    std::string text = "Failed to kill task: \"";
    text += name;
    text += "\" PID: ";
    text += IntToText(static_cast<std::int32_t>(pid));
    return text;
}

void KillTaskClick(MainForm& f, Control*) noexcept {
    // The kill's wait and its message serve messages: a Delete that repeats,
    // or "Kill Task" again, must not start a kill inside the kill.
    if (f.killing) return;
    f.killing = true;
    try {
        if (KillSelected(f)) {
            // At once, also while "No Refresh" is ticked, by the refresh
            // worker: this thread never waits for a refresh, which may be
            // stuck in a slow file read.
            RequestRebuild(f.refresh);
        } else {
            ShowKillFailure(f);
        }
    } catch (...) {
        // Out of memory for the message text: nothing more to do.
    }
    f.killing = false;
}

void ProcessListKey(MainForm& f, Control* sender, std::uint32_t key) noexcept {
    if (key == VK_DELETE) KillTaskClick(f, sender);
}

}  // namespace pelorin
