// What the reliability cases share on top of the end-to-end driver: the run
// length (short in the regular test run, long under scripts/soak), figures
// printed as table rows, Pelorin's controls as another program finds them,
// and the registry prepared through reg.exe.
#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "e2e/PelorinDriver.h"

namespace pelorin::reliability {

// PELORIN_SOAK=1 in the environment selects the long runs.
bool SoakRun();
// short in the regular run, soak under scripts/soak.
int Scaled(int regular, int soak);

// One row of a figures table on stdout: "| case | figure | value |".
void PrintFigure(const std::string& caseName, const std::string& figure, const std::string& value);
std::string Fixed(double value, int decimals);

// Polls until pred() holds or the time is up; answers pred().
template <typename Pred>
bool WaitUntil(Pred pred, DWORD timeoutMs, DWORD stepMs = 20) {
    const DWORD start = ::GetTickCount();
    for (;;) {
        if (pred()) return true;
        if (::GetTickCount() - start >= timeoutMs) return pred();
        ::Sleep(stepMs);
    }
}

// Pelorin's window and the controls the cases work with.
struct PelorinWindow {
    HWND form = nullptr;
    HWND processes = nullptr;  // the list view on the form
    HWND noRefresh = nullptr, onTop = nullptr, moreInfo = nullptr, showKnown = nullptr;
    bool Complete() const { return form && processes && noRefresh && onTop && moreInfo && showKnown; }
};
PelorinWindow ControlsOf(HWND form);

// The outer rectangle of a window.
RECT WindowBox(HWND window);
std::string BoxText(const RECT& r);

// Runs reg.exe (what `wine reg` runs) with arguments and answers its exit
// code; -1 when it could not be started or did not end within 30 s.
int RunReg(const std::string& arguments);
// reg add HKCU\SOFTWARE\marrowby\pelorin /v name /t type /d data /f
bool RegAddPelorinValue(const std::string& name, const std::string& type, const std::string& data);

using e2e::ChooseKillTask;
using e2e::PressMenuKey;

// Runs a cleanup on scope exit (a child's handle, a value, a key).
class ScopeExit {
public:
    explicit ScopeExit(std::function<void()> run) : run_(std::move(run)) {}
    ~ScopeExit() {
        if (run_) run_();
    }
    ScopeExit(const ScopeExit&) = delete;
    ScopeExit& operator=(const ScopeExit&) = delete;

private:
    std::function<void()> run_;
};

}  // namespace pelorin::reliability
