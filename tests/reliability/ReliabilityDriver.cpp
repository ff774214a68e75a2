#include "reliability/ReliabilityDriver.h"

#include <commctrl.h>

#include <cstdio>
#include <cstdlib>

namespace pelorin::reliability {
namespace {

// A crash in a case ends this program at once with a line on stderr, instead
// of leaving it to the platform's debugger until the run times out.
LONG WINAPI ReportCrash(EXCEPTION_POINTERS* info) noexcept {
    const EXCEPTION_RECORD* record = info != nullptr ? info->ExceptionRecord : nullptr;
    std::fprintf(stderr, "crash: exception %08lx at %p\n", record ? record->ExceptionCode : 0ul,
                 record ? record->ExceptionAddress : nullptr);
    std::fflush(stderr);
    ::TerminateProcess(::GetCurrentProcess(), 3);
    return EXCEPTION_EXECUTE_HANDLER;
}

const bool g_crashReported = (::SetUnhandledExceptionFilter(ReportCrash), true);

}  // namespace

bool SoakRun() {
    const char* value = std::getenv("PELORIN_SOAK");
    return value != nullptr && *value != '\0' && *value != '0';
}

int Scaled(int regular, int soak) { return SoakRun() ? soak : regular; }

void PrintFigure(const std::string& caseName, const std::string& figure, const std::string& value) {
    std::printf("| %s | %s | %s |\n", caseName.c_str(), figure.c_str(), value.c_str());
    std::fflush(stdout);
}

std::string Fixed(double value, int decimals) {
    char text[64] = {};
    std::snprintf(text, sizeof text, "%.*f", decimals, value);
    return text;
}

PelorinWindow ControlsOf(HWND form) {
    PelorinWindow w;
    w.form = form;
    for (const e2e::WindowInfo& c : e2e::DescendantsOf(form)) {
        if (c.className == WC_LISTVIEWA && c.parent == form) w.processes = c.window;
        if (c.className != "Button") continue;
        if (c.text == "No Refresh") w.noRefresh = c.window;
        if (c.text == "On Top") w.onTop = c.window;
        if (c.text == "More Info") w.moreInfo = c.window;
        if (c.text == "Show Known Processes") w.showKnown = c.window;
    }
    return w;
}

RECT WindowBox(HWND window) {
    RECT r = {};
    ::GetWindowRect(window, &r);
    return r;
}

std::string BoxText(const RECT& r) {
    char text[96] = {};
    std::snprintf(text, sizeof text, "(%ld,%ld %ldx%ld)", static_cast<long>(r.left), static_cast<long>(r.top),
                  static_cast<long>(r.right - r.left), static_cast<long>(r.bottom - r.top));
    return text;
}

int RunReg(const std::string& arguments) {
    char system[MAX_PATH] = {};
    ::GetSystemDirectoryA(system, MAX_PATH);
    const std::string exe = std::string(system) + "\\reg.exe";
    std::string commandLine = "\"" + exe + "\" " + arguments;
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info = {};
    if (!::CreateProcessA(exe.c_str(), &commandLine[0], nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr, nullptr,
                          &startup, &info)) {
        return -1;
    }
    ::CloseHandle(info.hThread);
    UniqueHandle process(info.hProcess);
    if (::WaitForSingleObject(process.Get(), 30000) != WAIT_OBJECT_0) {
        ::TerminateProcess(process.Get(), 1);
        return -1;
    }
    DWORD code = 0;
    ::GetExitCodeProcess(process.Get(), &code);
    return static_cast<int>(code);
}

bool RegAddPelorinValue(const std::string& name, const std::string& type, const std::string& data) {
    return RunReg("add HKCU\\SOFTWARE\\marrowby\\pelorin /v " + name + " /t " + type + " /d " + data + " /f") == 0;
}

}  // namespace pelorin::reliability
