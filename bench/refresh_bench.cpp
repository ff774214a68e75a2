// refresh_bench.exe: Pelorin's performance report. Not a test: it prints one
// Markdown report, every figure from this one run under one Wine server.
//
// 1. One RefreshProcessList with 50, 200 and 400 extra idle child processes
//    (each child brings a conhost.exe under Wine): the platform readings alone
//    against the whole refresh run from a worker thread into a shown list.
// 2. With 200 of those children: an idle window, Pelorin.exe and then
//    Pelorin64.exe refreshing with "More Info" clear and then ticked, and
//    Wine's taskmgr.exe on its Processes page, each for the same time and
//    alone; each program's own processor time and the Wine server's time in
//    the same window.
// 3. Start to the first filled process list of both programs against the
//    floor of their width (start_floor.exe: a bare window whose seven-column
//    list view fills one row at once), started the same way in turns; each
//    program's size and imports, and its private memory over the minutes it
//    runs.
//
// Options: --children 50,200,400  --steady-children 200  --rounds 9
//          --steady-seconds 60  --memory-minutes 10  --starts 5
//          --wineserver-pid N  --clock-ticks 100  --pelorin PATH
//          --pelorin64 PATH  --floor PATH  --floor64 PATH
#include <windows.h>
#include <commctrl.h>
#include <psapi.h>
#include <winternl.h>

#include <algorithm>
#include <cctype>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include "catalogue/ProcList.h"
#include "catalogue/ProcessSnapshot.h"
#include "catalogue/Systemlist.h"
#include "common/TestSupport.h"
#include "controls/AppObject.h"
#include "controls/Button.h"
#include "controls/Form.h"
#include "controls/ListView.h"
#include "controls/WorkerThread.h"
#include "support/VersionInfo.h"

namespace pelorin::bench {
namespace {

struct Options {
    std::vector<int> children{50, 200, 400};
    int steadyChildren = 200;
    int rounds = 9;
    int steadySeconds = 60;
    int memoryMinutes = 10;
    int starts = 5;
    unsigned long wineserverPid = 0;
    int clockTicks = 100;
    std::string pelorinPath;    // default: Pelorin.exe beside the bench
    std::string pelorin64Path;  // default: Pelorin64.exe beside the bench
    std::string floorPath;      // default: start_floor.exe beside the bench
    std::string floor64Path;    // default: the 64-bit build's start_floor.exe
};

double NowMs() {
    static const LARGE_INTEGER frequency = [] {
        LARGE_INTEGER f;
        ::QueryPerformanceFrequency(&f);
        return f;
    }();
    LARGE_INTEGER now;
    ::QueryPerformanceCounter(&now);
    return static_cast<double>(now.QuadPart) * 1000.0 / static_cast<double>(frequency.QuadPart);
}

double Median(std::vector<double> values) {
    if (values.empty()) return 0;
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

double Minimum(const std::vector<double>& v) { return v.empty() ? 0 : *std::min_element(v.begin(), v.end()); }
double Maximum(const std::vector<double>& v) { return v.empty() ? 0 : *std::max_element(v.begin(), v.end()); }

void Pump() {
    MSG message;
    while (::PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
        ::TranslateMessage(&message);
        ::DispatchMessageA(&message);
    }
}

// Serves this thread's windows for ms, waking at most every sliceMs: the
// steady windows use long slices so the bench itself costs the server little.
void PumpFor(DWORD ms, DWORD sliceMs = 10) {
    const double end = NowMs() + ms;
    for (;;) {
        Pump();
        const double left = end - NowMs();
        if (left <= 0) return;
        ::MsgWaitForMultipleObjectsEx(0, nullptr, static_cast<DWORD>(std::min<double>(left, sliceMs)) + 1,
                                      QS_ALLINPUT, MWMO_INPUTAVAILABLE);
    }
}

void Print(const char* format, ...) {
    va_list args;
    va_start(args, format);
    std::vprintf(format, args);
    va_end(args);
    std::fflush(stdout);
}

// ---------------------------------------------------------------------------
// Linux side: the Wine server's and a program's own processor time.

std::optional<std::string> ReadWholeFile(const std::string& path) {
    UniqueHandle file(::CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                    OPEN_EXISTING, 0, nullptr));
    if (!file) return std::nullopt;
    std::string text;
    char buffer[4096];
    DWORD read = 0;
    while (::ReadFile(file.Get(), buffer, sizeof buffer, &read, nullptr) && read > 0) text.append(buffer, read);
    return text;
}

// utime + stime of a Linux process in seconds, from /proc/<pid>/stat (seen as Z:\proc).
std::optional<double> LinuxProcessSeconds(unsigned long pid, int clockTicks) {
    if (pid == 0) return std::nullopt;
    const auto stat = ReadWholeFile("Z:\\proc\\" + std::to_string(pid) + "\\stat");
    if (!stat) return std::nullopt;
    const std::size_t close = stat->rfind(')');
    if (close == std::string::npos) return std::nullopt;
    // After "pid (comm)": field 3 is the state; utime and stime are fields 14 and 15.
    const char* p = stat->c_str() + close + 1;
    unsigned long long fields[13] = {};
    for (int i = 0; i < 13; ++i) {
        while (*p == ' ') ++p;
        if (i == 0) {
            ++p;  // the state letter
            continue;
        }
        fields[i] = std::strtoull(p, const_cast<char**>(&p), 10);
    }
    return static_cast<double>(fields[11] + fields[12]) / clockTicks;
}

// The Linux process of a program of this Wine session: its command line
// names exeName and its environment has this WINEPREFIX.
unsigned long FindLinuxProcess(const std::string& exeName) {
    char prefix[MAX_PATH] = {};
    if (!::GetEnvironmentVariableA("WINEPREFIX", prefix, sizeof prefix)) return 0;
    const std::string wanted = std::string("WINEPREFIX=") + prefix;
    std::string lowerName = exeName;
    std::transform(lowerName.begin(), lowerName.end(), lowerName.begin(), [](unsigned char c) { return std::tolower(c); });
    unsigned long found = 0;
    WIN32_FIND_DATAA data;
    const HANDLE search = ::FindFirstFileA("Z:\\proc\\*", &data);
    if (search == INVALID_HANDLE_VALUE) return 0;
    do {
        if (data.cFileName[0] < '0' || data.cFileName[0] > '9') continue;
        const std::string dir = std::string("Z:\\proc\\") + data.cFileName;
        auto cmdline = ReadWholeFile(dir + "\\cmdline");
        if (!cmdline) continue;
        std::string first(cmdline->c_str());  // argv[0]
        std::transform(first.begin(), first.end(), first.begin(), [](unsigned char c) { return std::tolower(c); });
        if (first.size() < lowerName.size() || first.compare(first.size() - lowerName.size(), lowerName.size(), lowerName))
            continue;
        const auto environment = ReadWholeFile(dir + "\\environ");
        if (!environment) continue;
        for (std::size_t at = 0; at < environment->size(); at += std::strlen(environment->c_str() + at) + 1) {
            if (std::strcmp(environment->c_str() + at, wanted.c_str()) == 0) {
                found = std::strtoul(data.cFileName, nullptr, 10);
                break;
            }
        }
    } while (found == 0 && ::FindNextFileA(search, &data));
    ::FindClose(search);
    return found;
}

// ---------------------------------------------------------------------------
// Wine side: a process's times as Wine's own process list reports them.

// Kernel + user time of a process in seconds, and its open handles, from the
// system process list: under Wine GetProcessTimes answers 0 for another
// process and GetProcessHandleCount 0 for any, the list has the real figures.
std::optional<double> ListedProcessSeconds(DWORD pid, unsigned long* handles = nullptr) {
    using QueryFunction = NTSTATUS(NTAPI*)(SYSTEM_INFORMATION_CLASS, PVOID, ULONG, PULONG);
    const HMODULE ntdll = ::GetModuleHandleA("ntdll.dll");
    const auto query = ntdll ? reinterpret_cast<QueryFunction>(
                                   reinterpret_cast<void*>(::GetProcAddress(ntdll, "NtQuerySystemInformation")))
                             : nullptr;
    if (query == nullptr) return std::nullopt;
    std::vector<unsigned char> buffer(1024 * 1024);
    for (int attempt = 0;; ++attempt) {
        ULONG needed = 0;
        if (query(SystemProcessInformation, buffer.data(), static_cast<ULONG>(buffer.size()), &needed) == 0) break;
        if (attempt == 6) return std::nullopt;
        buffer.resize(std::max<std::size_t>(buffer.size() * 2, needed + 65536));
    }
    for (std::size_t offset = 0;;) {
        const auto* entry = reinterpret_cast<const SYSTEM_PROCESS_INFORMATION*>(buffer.data() + offset);
        if (reinterpret_cast<std::uintptr_t>(entry->UniqueProcessId) == pid) {
            // UserTime and KernelTime sit at 40 and 48, inside what winternl.h calls Reserved1.
            LARGE_INTEGER user, kernel;
            std::memcpy(&user, reinterpret_cast<const unsigned char*>(entry) + 40, sizeof user);
            std::memcpy(&kernel, reinterpret_cast<const unsigned char*>(entry) + 48, sizeof kernel);
            if (handles != nullptr) *handles = entry->HandleCount;
            return static_cast<double>(user.QuadPart + kernel.QuadPart) / 1e7;
        }
        if (entry->NextEntryOffset == 0) return std::nullopt;
        offset += entry->NextEntryOffset;
    }
}

// ---------------------------------------------------------------------------
// Part 1: one refresh.

// The main window's parts the refresh uses.
struct Window {
    Control* app = nullptr;
    Control* form = nullptr;
    ProcessListState state;

    Window() {
        app = CreateAppObject("Pelorin refresh bench");
        form = CreateForm(app, "Pelorin refresh bench");
        SetPosition(form, 10, 10);
        SetClientSize(form, 760, 520);
        Handle(form);
        ::ShowWindow(form->window, SW_SHOWNORMAL);
        Control* list = CreateListView(form, 3, kListGridLines | kListFullRowSelect);
        SetAlign(list, kAlignClient);
        Handle(list);
        const struct { const char* title; int align; int width; } columns[] = {
            {"Process Name", 0, 110}, {"PID", 2, 40}, {"Mem", 2, 60}, {"CPU", 2, 35},
            {"Image Path", 0, 280}, {"Description", 2, 100}, {"Company", 2, 100}};
        for (const auto& c : columns) AddColumn(list, c.title, c.align, c.width);
        state.lvProcesses = list;
        state.chkShowKnown = CreateCheckBox(form, "Show Known Processes");
        state.chkMoreInfo = CreateCheckBox(form, "More Info");
        state.chkNoRefresh = CreateCheckBox(form, "No Refresh");
        for (Control* box : {state.chkShowKnown, state.chkMoreInfo, state.chkNoRefresh}) {
            SetVisible(box, false);
            Handle(box);
        }
        CreateSampleLists(state);
        state.RefreshEnabled = true;
        PumpFor(100);
    }
    ~Window() {
        ReleaseSampleLists(state);
        Destroy(app);
    }
    Window(const Window&) = delete;
    Window& operator=(const Window&) = delete;

    void Show(bool shown) {
        ::ShowWindow(form->window, shown ? SW_SHOWNOACTIVATE : SW_HIDE);
        PumpFor(100);
    }
};

// The readings a refresh takes from its source, walked as the refresh walks
// it, without building a row or touching the list.
double TimeSourceReadings(ProcessSource& source, bool moreInfo) {
    const double start = NowMs();
    source.ProcessorCount();
    for (const SnapshotEntry& entry : source.Snapshot()) {
        if (IsKnownProcess(entry.name)) continue;
        const ProcessReadings readings = source.Read(entry.pid);
        if (moreInfo && readings.imagePath != NoImagePath) {
            const std::string& file = readings.versionPath.empty() ? readings.imagePath : readings.versionPath;
            source.VersionString(file, "FileDescription");
            source.VersionString(file, "CompanyName");
        }
    }
    return NowMs() - start;
}

// The same readings taken afresh every time, each process opened twice and
// its image path and version strings read anew: the unchanging reference.
double TimeFreshReadings(bool moreInfo) {
    const double start = NowMs();
    ProcessSnapshot snapshot;
    SnapshotEntry entry;
    while (snapshot.Next(entry)) {
        if (IsKnownProcess(entry.name)) continue;
        const UniqueHandle process = OpenQueryHandle(entry.pid);
        ProcessWorkingSet(process.Get());
        const std::string path = GetProcessImagePath(entry.pid);
        ReadProcessTimes(process.Get());
        ::GetTickCount();
        if (moreInfo && path != NoImagePath) {
            ReadVersionString(path, "FileDescription");
            ReadVersionString(path, "CompanyName");
        }
    }
    return NowMs() - start;
}

// RefreshThread's way: one long-lived worker that refreshes when asked. A
// thread made for each refresh would also time what Wine sets up for a
// thread's first calls to another thread (its message queue), which the
// program's worker pays once.
struct RefreshOnRequest {
    ProcessListState* state = nullptr;
    UniqueHandle go{::CreateEventA(nullptr, FALSE, FALSE, nullptr)};
    UniqueHandle done{::CreateEventA(nullptr, FALSE, FALSE, nullptr)};
    double ms = 0;
};

std::uint32_t RefreshWhenAsked(RefreshOnRequest& job, WorkerThread* thread) {
    const HANDLE handles[] = {job.go.Get(), thread->stopEvent.Get()};
    while (::WaitForMultipleObjects(2, handles, FALSE, INFINITE) == WAIT_OBJECT_0) {
        const double start = NowMs();
        RefreshProcessList(*job.state, thread);
        job.ms = NowMs() - start;
        ::SetEvent(job.done.Get());
    }
    return 0;
}

// Times RefreshProcessList on its worker while this thread serves the list window.
class TimedWorker {
public:
    explicit TimedWorker(ProcessListState& state) {
        job_.state = &state;
        thread_ = CreateWorkerThread();
        thread_->onExecute = MakeExecute<&RefreshWhenAsked>(job_);
        Resume(thread_);
    }
    ~TimedWorker() {
        StopAndWait(thread_);
        Destroy(thread_);
    }
    TimedWorker(const TimedWorker&) = delete;
    TimedWorker& operator=(const TimedWorker&) = delete;

    double Refresh() {
        ::SetEvent(job_.go.Get());
        const HANDLE done = job_.done.Get();
        for (;;) {
            Pump();
            const DWORD r = ::MsgWaitForMultipleObjectsEx(1, &done, INFINITE, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
            if (r == WAIT_OBJECT_0 || r == WAIT_FAILED) break;
        }
        return job_.ms;
    }

private:
    RefreshOnRequest job_;
    WorkerThread* thread_ = nullptr;
};

using Children = std::vector<std::unique_ptr<test::Child>>;

bool StartChildren(Children& children, int count) {
    while (static_cast<int>(children.size()) < count) {
        auto child = std::make_unique<test::Child>();
        if (!child->Start()) {
            std::fprintf(stderr, "could not start child %d\n", static_cast<int>(children.size()) + 1);
            return false;
        }
        children.push_back(std::move(child));
    }
    return true;
}

void PrintRefreshHeader(const Options& options) {
    Print("## 1. One refresh (ms, median of %d rounds; best in brackets)\n\n", options.rounds);
    Print("- *readings alone*: the refresh's own platform source walked as the refresh walks it (the process list, "
          "the known-process filter, each listed process read, the clock, with \"More Info\" the two version "
          "strings), warm as in steady refreshing; no row built, no list touched.\n");
    Print("- *fresh readings*: the same facts read the plain way, for reference: a Toolhelp walk, every process "
          "opened twice, its image path and version strings read anew.\n");
    Print("- *whole refresh*: RefreshProcessList run from one long-lived worker thread into a shown list view, as "
          "RefreshThread runs it, timed on the worker; *list work* = whole - readings alone.\n");
    Print("- Readings and whole refreshes alternate, 300 ms apart, after one warm-up refresh.\n");
    Print("- *whole / readings*: the ratio of the medians, and in brackets of the best rounds (less touched by "
          "other work on the machine).\n\n");
    Print("| extra children | More Info | rows | readings alone | fresh readings | whole refresh | list work | "
          "whole / readings | target <= 1.3 |\n");
    Print("|---:|:---:|---:|---:|---:|---:|---:|---:|:---:|\n");
}

struct RefreshRow {
    int children = 0;
    bool moreInfo = false;
    double ratio = 0;
    double bestRatio = 0;
};

void MeasureRefreshes(Window& window, const Options& options, int count, std::vector<RefreshRow>& summary) {
    for (bool moreInfo : {false, true}) {
        SetChecked(window.state.chkMoreInfo, moreInfo);
        TimedWorker worker(window.state);
        worker.Refresh();  // warm-up: bindings, first samples, caches, the worker's queue
        PumpFor(300);
        std::vector<double> readings, fresh, whole;
        for (int i = 0; i < options.rounds; ++i) {
            readings.push_back(TimeSourceReadings(*window.state.source, moreInfo));
            PumpFor(300);
            whole.push_back(worker.Refresh());
            PumpFor(300);
            fresh.push_back(TimeFreshReadings(moreInfo));
            PumpFor(300);
        }
        const double r = Median(readings);
        const double w = Median(whole);
        const double ratio = r > 0 ? w / r : 0;
        const double bestRatio = Minimum(readings) > 0 ? Minimum(whole) / Minimum(readings) : 0;
        Print("| %d | %s | %d | %.1f (%.1f) | %.1f (%.1f) | %.1f (%.1f) | %.1f | %.2f (%.2f) | %s |\n", count,
              moreInfo ? "ticked" : "clear", window.state.ProcessRowCount.load(), r, Minimum(readings), Median(fresh),
              Minimum(fresh), w, Minimum(whole), w - r, ratio, bestRatio, ratio <= 1.3 ? "met" : "missed");
        summary.push_back({count, moreInfo, ratio, bestRatio});
    }
    SetChecked(window.state.chkMoreInfo, false);
}

// ---------------------------------------------------------------------------
// Part 2 and 3: the real programs, driven from outside.

struct FoundWindow {
    HWND window = nullptr;
    DWORD pid = 0;
    const char* title = nullptr;
};

BOOL CALLBACK FindTopLevel(HWND window, LPARAM context) noexcept {
    auto& wanted = *reinterpret_cast<FoundWindow*>(context);
    DWORD pid = 0;
    ::GetWindowThreadProcessId(window, &pid);
    if (pid != wanted.pid || !::IsWindowVisible(window)) return TRUE;
    char text[256] = {};
    ::GetWindowTextA(window, text, sizeof text);
    if (std::strncmp(text, wanted.title, std::strlen(wanted.title)) != 0) return TRUE;
    wanted.window = window;
    return FALSE;
}

HWND TopLevelWindowOf(DWORD pid, const char* titlePrefix) {
    FoundWindow found{nullptr, pid, titlePrefix};
    ::EnumWindows(FindTopLevel, reinterpret_cast<LPARAM>(&found));
    return found.window;
}

struct ChildSearch {
    const char* className = nullptr;
    const char* text = nullptr;  // null: any
    bool visibleOnly = false;
    std::vector<HWND> found;
};

BOOL CALLBACK CollectChild(HWND window, LPARAM context) noexcept {
    auto& search = *reinterpret_cast<ChildSearch*>(context);
    char name[64] = {};
    ::GetClassNameA(window, name, sizeof name);
    if (lstrcmpiA(name, search.className) != 0) return TRUE;
    if (search.visibleOnly && !::IsWindowVisible(window)) return TRUE;
    if (search.text != nullptr) {
        char text[256] = {};
        ::GetWindowTextA(window, text, sizeof text);
        if (std::strcmp(text, search.text) != 0) return TRUE;
    }
    search.found.push_back(window);
    return TRUE;
}

std::vector<HWND> ChildrenOf(HWND top, const char* className, const char* text = nullptr, bool visibleOnly = false) {
    ChildSearch search{className, text, visibleOnly, {}};
    ::EnumChildWindows(top, CollectChild, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

LRESULT SendBounded(HWND window, UINT message, WPARAM wParam, LPARAM lParam, bool* ok = nullptr) {
    DWORD_PTR answer = 0;
    const bool sent = ::SendMessageTimeoutA(window, message, wParam, lParam, SMTO_ABORTIFHUNG, 5000, &answer) != 0;
    if (ok != nullptr) *ok = sent;
    return sent ? static_cast<LRESULT>(answer) : 0;
}

int ColumnCount(HWND list) {
    const auto header = reinterpret_cast<HWND>(SendBounded(list, LVM_GETHEADER, 0, 0));
    return header ? static_cast<int>(SendBounded(header, HDM_GETITEMCOUNT, 0, 0)) : 0;
}

// A program started by the bench, ended on destruction.
class Program {
public:
    Program() = default;
    ~Program() { Stop(nullptr); }
    Program(const Program&) = delete;
    Program& operator=(const Program&) = delete;

    bool Start(const std::string& exePath, const std::string& folder) {
        std::string commandLine = "\"" + exePath + "\"";
        STARTUPINFOA startup = {};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION info = {};
        startMs_ = NowMs();
        if (!::CreateProcessA(exePath.c_str(), &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr,
                              folder.empty() ? nullptr : folder.c_str(), &startup, &info)) {
            return false;
        }
        ::CloseHandle(info.hThread);
        process_.Reset(info.hProcess);
        pid_ = info.dwProcessId;
        return true;
    }

    // Posts WM_CLOSE to window (when given) and waits; kills what is left.
    void Stop(HWND window) {
        if (!process_) return;
        if (window != nullptr) ::PostMessageA(window, WM_CLOSE, 0, 0);
        if (window == nullptr || ::WaitForSingleObject(process_.Get(), 15000) != WAIT_OBJECT_0) {
            ::TerminateProcess(process_.Get(), 1);
            ::WaitForSingleObject(process_.Get(), 10000);
        }
        process_.Reset();
    }

    bool Running() const { return process_ && ::WaitForSingleObject(process_.Get(), 0) == WAIT_TIMEOUT; }
    DWORD Pid() const { return pid_; }
    HANDLE Process() const { return process_.Get(); }
    double StartMs() const { return startMs_; }

private:
    UniqueHandle process_;
    DWORD pid_ = 0;
    double startMs_ = 0;
};

// One steady window: a program's own times and the server's in the same span.
struct Usage {
    double wallS = 0;
    std::optional<double> listedS;   // Wine's process list (class 5)
    std::optional<double> linuxS;    // the program's Linux process
    std::optional<double> serverS;   // the wineserver process
};

class UsageProbe {
public:
    UsageProbe(const Options& options, DWORD pid, unsigned long linuxPid)
        : options_(options), pid_(pid), linuxPid_(linuxPid) {}

    void Begin() {
        wall0_ = NowMs();
        listed0_ = pid_ ? ListedProcessSeconds(pid_) : std::nullopt;
        linux0_ = LinuxProcessSeconds(linuxPid_, options_.clockTicks);
        server0_ = LinuxProcessSeconds(options_.wineserverPid, options_.clockTicks);
    }

    Usage End() const {
        Usage u;
        const auto listed1 = pid_ ? ListedProcessSeconds(pid_) : std::nullopt;
        const auto linux1 = LinuxProcessSeconds(linuxPid_, options_.clockTicks);
        const auto server1 = LinuxProcessSeconds(options_.wineserverPid, options_.clockTicks);
        u.wallS = (NowMs() - wall0_) / 1000.0;
        if (listed0_ && listed1) u.listedS = *listed1 - *listed0_;
        if (linux0_ && linux1) u.linuxS = *linux1 - *linux0_;
        if (server0_ && server1) u.serverS = *server1 - *server0_;
        return u;
    }

private:
    const Options& options_;
    DWORD pid_;
    unsigned long linuxPid_;
    double wall0_ = 0;
    std::optional<double> listed0_, linux0_, server0_;
};

// A window of steadySeconds in which this bench only idles.
Usage Measure(const Options& options, DWORD pid, unsigned long linuxPid) {
    UsageProbe probe(options, pid, linuxPid);
    probe.Begin();
    PumpFor(static_cast<DWORD>(options.steadySeconds) * 1000, 250);
    return probe.End();
}

std::string Seconds(const std::optional<double>& s) {
    if (!s) return "n/a";
    char text[32];
    std::snprintf(text, sizeof text, "%.2f", *s);
    return text;
}

std::string Percent(const std::optional<double>& seconds, double wallS) {
    if (!seconds || wallS <= 0) return "n/a";
    char text[32];
    std::snprintf(text, sizeof text, "%.1f", 100.0 * *seconds / wallS);
    return text;
}

struct SteadyRow {
    std::string subject;
    std::string shown;
    Usage usage;
};

// A program copied into a folder of its own (no "testing.log" beside it).
struct PelorinCopy {
    std::string folder;
    std::string exe;
    std::string name;  // its file name

    explicit PelorinCopy(const std::string& built) : name(built.substr(built.find_last_of("\\/") + 1)) {
        char temp[MAX_PATH + 1] = {};
        ::GetTempPathA(MAX_PATH, temp);
        folder = std::string(temp) + test::UniqueName("pelorin-bench-");
        ::CreateDirectoryA(folder.c_str(), nullptr);
        exe = folder + "\\" + name;
        ::CopyFileA(built.c_str(), exe.c_str(), FALSE);
    }
    ~PelorinCopy() {
        ::DeleteFileA(exe.c_str());
        ::RemoveDirectoryA(folder.c_str());
    }
    PelorinCopy(const PelorinCopy&) = delete;
    PelorinCopy& operator=(const PelorinCopy&) = delete;
};

struct PelorinWindows {
    HWND form = nullptr;
    HWND list = nullptr;  // the process list: the list view with seven columns
};

// The program's main window (Pelorin's or the floor's) and its seven-column list.
PelorinWindows FindPelorin(DWORD pid) {
    PelorinWindows w;
    w.form = TopLevelWindowOf(pid, "");
    if (w.form == nullptr) return w;
    for (HWND list : ChildrenOf(w.form, WC_LISTVIEWA)) {
        if (ColumnCount(list) == 7) {
            w.list = list;
            break;
        }
    }
    return w;
}

// Starts Pelorin and answers the time from CreateProcess to the first
// LVM_GETITEMCOUNT above 0 of its process list, or a negative value.
double StartPelorin(Program& program, const PelorinCopy& copy, PelorinWindows& windows) {
    if (!program.Start(copy.exe, copy.folder)) return -1;
    const double deadline = program.StartMs() + 30000;
    while (NowMs() < deadline && program.Running()) {
        if (windows.list == nullptr) windows = FindPelorin(program.Pid());
        if (windows.list != nullptr && SendBounded(windows.list, LVM_GETITEMCOUNT, 0, 0) > 0)
            return NowMs() - program.StartMs();
        ::Sleep(1);
    }
    return -1;
}

struct MemorySample {
    double minutes = 0;
    std::size_t privateBytes = 0;
    std::size_t workingSet = 0;
    unsigned long handles = 0;
};

std::optional<MemorySample> ReadMemory(const Program& program, double minutes) {
    PROCESS_MEMORY_COUNTERS counters{};
    counters.cb = sizeof counters;
    // Under Wine PagefileUsage tracks private memory (PrivateUsage is never filled in).
    if (!::GetProcessMemoryInfo(program.Process(), &counters, sizeof counters)) return std::nullopt;
    unsigned long handles = 0;
    ListedProcessSeconds(program.Pid(), &handles);
    return MemorySample{minutes, counters.PagefileUsage, counters.WorkingSetSize, handles};
}

struct PelorinRun {
    double firstStartMs = -1;
    std::vector<SteadyRow> steady;
    std::vector<MemorySample> memory;
    int rows = 0;
};

// One Pelorin for the whole memory period: started (timed), steady with
// "More Info" clear, steady with it ticked, then refreshing on with it clear;
// its private memory read every minute.
PelorinRun RunPelorin(const Options& options, const PelorinCopy& copy) {
    const std::string& name = copy.name;
    PelorinRun run;
    Program program;
    PelorinWindows windows;
    run.firstStartMs = StartPelorin(program, copy, windows);
    if (run.firstStartMs < 0) return run;
    const double started = program.StartMs();
    auto minutesRunning = [&] { return (NowMs() - started) / 60000.0; };
    if (auto m = ReadMemory(program, minutesRunning())) run.memory.push_back(*m);

    const std::vector<HWND> moreInfo = ChildrenOf(windows.form, "Button", "More Info");
    const unsigned long linuxPid = FindLinuxProcess(name);
    PumpFor(5000, 250);  // start-up and the first refreshes settle
    run.rows = static_cast<int>(SendBounded(windows.list, LVM_GETITEMCOUNT, 0, 0));
    run.steady.push_back({name + ", \"More Info\" clear", std::to_string(run.rows) + " rows",
                          Measure(options, program.Pid(), linuxPid)});
    if (!moreInfo.empty()) {
        SendBounded(moreInfo.front(), BM_SETCHECK, BST_CHECKED, 0);
        PumpFor(3000, 250);
        run.steady.push_back({name + ", \"More Info\" ticked", std::to_string(run.rows) + " rows",
                              Measure(options, program.Pid(), linuxPid)});
        SendBounded(moreInfo.front(), BM_SETCHECK, BST_UNCHECKED, 0);
    }

    // One sample a minute; minutes the steady windows have already passed are
    // skipped, and the last sample is taken at memoryMinutes or right away.
    for (int minute = 1; minute <= options.memoryMinutes; ++minute) {
        const double waitMs = (minute - minutesRunning()) * 60000.0;
        if (waitMs < 0 && minute < options.memoryMinutes) continue;
        if (waitMs > 0) PumpFor(static_cast<DWORD>(waitMs), 1000);
        if (!program.Running()) break;
        if (auto m = ReadMemory(program, minutesRunning())) run.memory.push_back(*m);
    }
    program.Stop(windows.form);
    return run;
}

// The programs started in turns, options.starts rounds, so that whatever else
// the machine does falls on all of them alike; the times of each, in order.
std::vector<std::vector<double>> TimeStarts(const Options& options, const std::vector<const PelorinCopy*>& copies) {
    std::vector<std::vector<double>> times(copies.size());
    for (int i = 0; i < options.starts; ++i) {
        for (std::size_t c = 0; c < copies.size(); ++c) {
            Program program;
            PelorinWindows windows;
            const double ms = StartPelorin(program, *copies[c], windows);
            if (ms >= 0) times[c].push_back(ms);
            PumpFor(500, 100);
            program.Stop(windows.form);
            PumpFor(1000, 100);
        }
    }
    return times;
}

// Wine's task manager on its Processes page.
std::optional<SteadyRow> RunTaskManager(const Options& options) {
    char system[MAX_PATH] = {};
    ::GetSystemDirectoryA(system, sizeof system);
    Program program;
    if (!program.Start(std::string(system) + "\\taskmgr.exe", std::string())) return std::nullopt;
    HWND top = nullptr;
    for (int i = 0; i < 300 && top == nullptr; ++i) {
        PumpFor(50);
        top = TopLevelWindowOf(program.Pid(), "Task Manager");
    }
    if (top == nullptr) return std::nullopt;
    // The tab control selects its page itself and tells taskmgr (TCN_SELCHANGE)
    // when its focus moves; no pointer crosses the processes.
    const std::vector<HWND> tabs = ChildrenOf(top, WC_TABCONTROLA);
    if (tabs.empty()) return std::nullopt;
    SendBounded(tabs.front(), TCM_SETCURFOCUS, 1, 0);
    PumpFor(5000, 250);
    int rows = -1;
    for (HWND list : ChildrenOf(top, WC_LISTVIEWA, nullptr, true)) {
        rows = std::max(rows, static_cast<int>(SendBounded(list, LVM_GETITEMCOUNT, 0, 0)));
    }
    const bool onProcesses = SendBounded(tabs.front(), TCM_GETCURSEL, 0, 0) == 1;
    const unsigned long linuxPid = FindLinuxProcess("taskmgr.exe");
    SteadyRow row{"taskmgr.exe, Processes page", std::string(onProcesses ? "" : "NOT ON PROCESSES PAGE, ") +
                                                     std::to_string(rows) + " rows",
                  Measure(options, program.Pid(), linuxPid)};
    program.Stop(top);
    return row;
}

// ---------------------------------------------------------------------------
// Size and imports.

std::vector<std::string> ImportedDlls(const std::vector<unsigned char>& image) {
    std::vector<std::string> names;
    if (image.size() < sizeof(IMAGE_DOS_HEADER)) return names;
    const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(image.data());
    if (dos->e_magic != IMAGE_DOS_SIGNATURE || dos->e_lfanew <= 0 ||
        image.size() < static_cast<std::size_t>(dos->e_lfanew) + sizeof(IMAGE_NT_HEADERS64)) {
        return names;
    }
    const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS32*>(image.data() + dos->e_lfanew);
    if (nt->Signature != IMAGE_NT_SIGNATURE) return names;
    // A 64-bit image's optional header is longer: its directories lie further on.
    const auto* nt64 = reinterpret_cast<const IMAGE_NT_HEADERS64*>(nt);
    const bool wide = nt->OptionalHeader.Magic == IMAGE_NT_OPTIONAL_HDR64_MAGIC;
    const auto* sections = IMAGE_FIRST_SECTION(nt);
    auto toOffset = [&](DWORD rva) -> std::size_t {
        for (WORD i = 0; i < nt->FileHeader.NumberOfSections; ++i) {
            const auto& s = sections[i];
            if (rva >= s.VirtualAddress && rva < s.VirtualAddress + std::max(s.Misc.VirtualSize, s.SizeOfRawData))
                return rva - s.VirtualAddress + s.PointerToRawData;
        }
        return 0;
    };
    const DWORD importRva = (wide ? nt64->OptionalHeader.DataDirectory : nt->OptionalHeader.DataDirectory)
                                [IMAGE_DIRECTORY_ENTRY_IMPORT].VirtualAddress;
    std::size_t at = toOffset(importRva);
    while (at != 0 && at + sizeof(IMAGE_IMPORT_DESCRIPTOR) <= image.size()) {
        const auto* descriptor = reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR*>(image.data() + at);
        if (descriptor->Name == 0) break;
        const std::size_t name = toOffset(descriptor->Name);
        if (name == 0 || name >= image.size()) break;
        names.emplace_back(reinterpret_cast<const char*>(image.data() + name),
                           strnlen(reinterpret_cast<const char*>(image.data() + name), image.size() - name));
        at += sizeof(IMAGE_IMPORT_DESCRIPTOR);
    }
    return names;
}

// ---------------------------------------------------------------------------

std::vector<int> ParseList(const char* text) {
    std::vector<int> values;
    for (const char* p = text; *p;) {
        values.push_back(std::atoi(p));
        while (*p && *p != ',') ++p;
        if (*p == ',') ++p;
    }
    return values;
}

Options ParseOptions(int argc, char** argv) {
    Options o;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string name = argv[i];
        const char* value = argv[i + 1];
        if (name == "--children") o.children = ParseList(value);
        else if (name == "--steady-children") o.steadyChildren = std::max(0, std::atoi(value));
        else if (name == "--rounds") o.rounds = std::max(1, std::atoi(value));
        else if (name == "--steady-seconds") o.steadySeconds = std::max(1, std::atoi(value));
        else if (name == "--memory-minutes") o.memoryMinutes = std::max(1, std::atoi(value));
        else if (name == "--starts") o.starts = std::max(0, std::atoi(value));
        else if (name == "--wineserver-pid") o.wineserverPid = std::strtoul(value, nullptr, 10);
        else if (name == "--clock-ticks") o.clockTicks = std::max(1, std::atoi(value));
        else if (name == "--pelorin") o.pelorinPath = value;
        else if (name == "--pelorin64") o.pelorin64Path = value;
        else if (name == "--floor") o.floorPath = value;
        else if (name == "--floor64") o.floor64Path = value;
        else std::fprintf(stderr, "unknown option %s\n", name.c_str());
    }
    if (o.pelorinPath.empty()) o.pelorinPath = test::FixturePath("Pelorin.exe");
    if (o.pelorin64Path.empty()) o.pelorin64Path = test::FixturePath("Pelorin64.exe");
    if (o.floorPath.empty()) o.floorPath = test::FixturePath("start_floor.exe");
    if (o.floor64Path.empty()) o.floor64Path = test::FixturePath("..\\x64\\bin\\start_floor.exe");
    std::sort(o.children.begin(), o.children.end());
    return o;
}

std::string WineVersion() {
    using VersionFunction = const char*(CDECL*)();
    const HMODULE ntdll = ::GetModuleHandleA("ntdll.dll");
    const auto version = ntdll ? reinterpret_cast<VersionFunction>(
                                     reinterpret_cast<void*>(::GetProcAddress(ntdll, "wine_get_version")))
                               : nullptr;
    return version ? version() : "not Wine";
}

void PrintSteady(const Options& options, const std::vector<SteadyRow>& rows, const std::optional<Usage>& idle) {
    Print("\n## 2. Steady processor time, %d s each, %d extra children\n\n", options.steadySeconds,
          options.steadyChildren);
    Print("- Each program runs alone against the same children, one after the other; the bench only waits (it "
          "wakes 4 times a second).\n");
    Print("- *own (Wine list)*: the program's UserTime + KernelTime in Wine's process list "
          "(NtQuerySystemInformation class 5; GetProcessTimes answers 0 for another process under Wine).\n");
    Print("- *own (Linux)*: utime + stime of the program's Linux process (/proc/<pid>/stat, found by its command "
          "line and this WINEPREFIX).\n");
    Print("- *wineserver*: utime + stime of this Wine session's wineserver over the same window; *net* subtracts "
          "the idle window's server time at the same rate, leaving the time the server spent on the program's "
          "behalf (approximate: the server serves every process).\n");
    Print("- *total* = own (Linux, else Wine list) + net wineserver; %% of one processor over the window.\n");
    Print("- Pelorin refreshes once per 1000 ms plus the refresh's own time; taskmgr.exe keeps its default update "
          "speed, a 2000 ms timer (seen in a relay trace of taskmgr.exe under this Wine).\n\n");
    Print("| program | shows | wall s | own (Wine list) s | own (Linux) s | wineserver s | net wineserver s | "
          "total s | %% of one CPU |\n");
    Print("|---|---|---:|---:|---:|---:|---:|---:|---:|\n");
    const double idleRate = idle && idle->serverS && idle->wallS > 0 ? *idle->serverS / idle->wallS : 0;
    if (idle) {
        Print("| idle (bench and children only) | - | %.1f | - | - | %s | - | - | - |\n", idle->wallS,
              Seconds(idle->serverS).c_str());
    }
    for (const SteadyRow& row : rows) {
        const Usage& u = row.usage;
        std::optional<double> net;
        if (u.serverS) net = std::max(0.0, *u.serverS - idleRate * u.wallS);
        std::optional<double> own = u.linuxS ? u.linuxS : u.listedS;
        std::optional<double> total;
        if (own) total = *own + net.value_or(0);
        Print("| %s | %s | %.1f | %s | %s | %s | %s | %s | %s |\n", row.subject.c_str(), row.shown.c_str(), u.wallS,
              Seconds(u.listedS).c_str(), Seconds(u.linuxS).c_str(), Seconds(u.serverS).c_str(),
              Seconds(net).c_str(), Seconds(total).c_str(),
              Percent(total, u.wallS).c_str());
    }
}

std::optional<double> TotalOf(const SteadyRow& row, const std::optional<Usage>& idle) {
    const Usage& u = row.usage;
    const double idleRate = idle && idle->serverS && idle->wallS > 0 ? *idle->serverS / idle->wallS : 0;
    std::optional<double> own = u.linuxS ? u.linuxS : u.listedS;
    if (!own) return std::nullopt;
    const double net = u.serverS ? std::max(0.0, *u.serverS - idleRate * u.wallS) : 0;
    return *own + net;
}

bool Exists(const std::string& path) { return ::GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

// One program of the report: Pelorin.exe or Pelorin64.exe, with the floor of its width.
struct Measured {
    std::string path;
    std::string floorPath;
    PelorinRun run;
    // With no extra children (before any is started), then with the steady ones.
    std::vector<double> quietStarts, quietFloorStarts, starts, floorStarts;
};

// Each program and its floor in turns; their times into the program's records.
void TimeProgramStarts(const Options& options, std::vector<Measured>& programs, bool quiet) {
    std::vector<std::unique_ptr<PelorinCopy>> copies;
    std::vector<const PelorinCopy*> order;
    for (const Measured& m : programs) {
        for (const std::string* path : {&m.floorPath, &m.path}) {
            copies.push_back(std::make_unique<PelorinCopy>(*path));
            order.push_back(copies.back().get());
        }
    }
    const auto times = TimeStarts(options, order);
    for (std::size_t i = 0; i < programs.size(); ++i) {
        (quiet ? programs[i].quietFloorStarts : programs[i].floorStarts) = times[2 * i];
        (quiet ? programs[i].quietStarts : programs[i].starts) = times[2 * i + 1];
    }
}

void PrintStartSizeMemory(const Options& options, const std::vector<Measured>& programs) {
    Print("\n## 3. Start, size, memory\n\n");
    Print("- *start*: CreateProcess to the first LVM_GETITEMCOUNT above 0 of the program's process list, polled every "
          "millisecond from this bench: the start of the steady run, then %d starts of each program with no extra "
          "children (before the first is started, the first of them cold) and %d with the %d steady children (about twice as many "
          "processes: each brings a conhost.exe), which the program's first list reads one by one.\n",
          options.starts, options.starts, options.steadyChildren);
    Print("- *floor*: start_floor.exe of the program's width, a bare window whose seven-column list view fills one row "
          "while it is created, timed the same way; the programs and the floors are started in turns, each round "
          "one of each.\n");
    Print("- *private memory*: PROCESS_MEMORY_COUNTERS.PagefileUsage of the running program (Wine keeps private "
          "memory there), read each minute of one run; the steady windows above are its first minutes. *handles*: its "
          "open handles as the system process list counts them, read with it.\n\n");
    Print("| measure | value |\n|---|---:|\n");
    char systemDir[MAX_PATH] = {};
    ::GetSystemDirectoryA(systemDir, sizeof systemDir);
    for (const Measured& m : programs) {
        const std::string name = m.path.substr(m.path.find_last_of("\\/") + 1);
        Print("| %s start to first filled list, steady run | %.0f ms |\n", name.c_str(), m.run.firstStartMs);
        for (const auto& [what, starts, floor] : {std::tuple{"no extra children", &m.quietStarts, &m.quietFloorStarts},
                                                  std::tuple{"steady children", &m.starts, &m.floorStarts}}) {
            if (!starts->empty()) {
                Print("| %s start to first filled list, %s, %zu starts | median %.0f ms (%.0f to %.0f) |\n", name.c_str(),
                      what, starts->size(), Median(*starts), Minimum(*starts), Maximum(*starts));
            }
            if (!floor->empty()) {
                Print("| floor of its width, %s, %zu starts | median %.0f ms (%.0f to %.0f) |\n", what, floor->size(),
                      Median(*floor), Minimum(*floor), Maximum(*floor));
            }
        }
        std::vector<unsigned char> image;
        if (auto bytes = ReadWholeFile(m.path)) image.assign(bytes->begin(), bytes->end());
        std::string importText;
        for (const std::string& dll : ImportedDlls(image)) {
            // The system folder of either width holds the same names.
            const bool inSystem = Exists(std::string(systemDir) + "\\" + dll);
            importText += (importText.empty() ? "" : ", ") + dll + (inSystem ? "" : " (NOT A SYSTEM DLL)");
        }
        Print("| %s size | %zu bytes (%.1f KB) |\n", name.c_str(), image.size(), image.size() / 1024.0);
        Print("| %s imports | %s |\n", name.c_str(), importText.c_str());
        for (const MemorySample& s : m.run.memory) {
            Print("| %s private memory at %.1f min | %.0f KB (working set %.0f KB), %lu handles |\n", name.c_str(),
                  s.minutes, s.privateBytes / 1024.0, s.workingSet / 1024.0, s.handles);
        }
    }
}

void PrintTargets(const std::vector<RefreshRow>& refreshSummary, const std::vector<Measured>& programs,
                  const std::vector<SteadyRow>& steady, const std::optional<Usage>& idle) {
    Print("\n## Targets\n\n| target | result |\n|---|---|\n");
    for (const RefreshRow& r : refreshSummary) {
        Print("| whole refresh <= 1.3 x readings, %d children, \"More Info\" %s | %.2f (best rounds %.2f): %s |\n",
              r.children, r.moreInfo ? "ticked" : "clear", r.ratio, r.bestRatio, r.ratio <= 1.3 ? "met" : "missed");
    }
    const SteadyRow* taskmgr = nullptr;
    for (const SteadyRow& row : steady) {
        if (row.subject.find("taskmgr") != std::string::npos) taskmgr = &row;
    }
    char systemDir[MAX_PATH] = {};
    ::GetSystemDirectoryA(systemDir, sizeof systemDir);
    for (const Measured& m : programs) {
        const std::string name = m.path.substr(m.path.find_last_of("\\/") + 1);
        for (const SteadyRow& row : steady) {
            if (row.subject != name + ", \"More Info\" clear" || !taskmgr) continue;
            const auto p = TotalOf(row, idle), t = TotalOf(*taskmgr, idle);
            if (!p || !t) continue;
            Print("| %s (\"More Info\" clear) processor time <= taskmgr's | %.2f s against %.2f s (%.2f x): %s |\n",
                  name.c_str(), *p, *t, *t > 0 ? *p / *t : 0.0, *p <= *t ? "met" : "missed");
        }
        for (const auto& [what, starts, floor] : {std::tuple{"no extra children", &m.quietStarts, &m.quietFloorStarts},
                                                  std::tuple{"steady children", &m.starts, &m.floorStarts}}) {
            if (starts->empty() || floor->empty()) continue;
            const double ratio = Median(*starts) / Median(*floor);
            Print("| %s start <= 1.25 x the floor's (medians, %s) | %.0f ms against %.0f ms (%.2f x): %s |\n", name.c_str(),
                  what, Median(*starts), Median(*floor), ratio, ratio <= 1.25 ? "met" : "missed");
        }
        std::vector<unsigned char> image;
        if (auto bytes = ReadWholeFile(m.path)) image.assign(bytes->begin(), bytes->end());
        const std::vector<std::string> imports = ImportedDlls(image);
        const bool systemOnly = !imports.empty() && std::all_of(imports.begin(), imports.end(), [&](const std::string& dll) {
            return Exists(std::string(systemDir) + "\\" + dll);
        });
        Print("| %s under 250 KB | %.1f KB: %s |\n", name.c_str(), image.size() / 1024.0,
              image.size() < 250 * 1024 ? "met" : "missed");
        Print("| %s: no DLL beyond the system's | %s |\n", name.c_str(), systemOnly ? "met" : "missed");
    }
}

int Run(int argc, char** argv) {
    const Options options = ParseOptions(argc, argv);
    std::vector<Measured> programs;
    for (const auto& [path, floor] : {std::pair{options.pelorinPath, options.floorPath},
                                      std::pair{options.pelorin64Path, options.floor64Path}}) {
        if (Exists(path)) programs.push_back(Measured{path, floor, {}, {}, {}, {}, {}});
        else Print("%s not found: no steady, start, size or memory figures for it.\n\n", path.c_str());
    }
    const bool havePelorin = !programs.empty();

    SYSTEM_INFO system{};
    ::GetSystemInfo(&system);
    Print("# Pelorin performance report\n\n");
    Print("Wine %s, %lu processors, wineserver pid %lu. Known processes hidden, as Pelorin starts. All figures "
          "from this one run.\n\n",
          WineVersion().c_str(), static_cast<unsigned long>(system.dwNumberOfProcessors), options.wineserverPid);

    Children children;
    std::vector<RefreshRow> refreshSummary;
    std::vector<SteadyRow> steady;
    std::optional<Usage> idle;
    bool steadyDone = false;
    {
        Window window;
        // With the bench's own list hidden, so it neither paints nor covers the programs measured.
        auto runSteady = [&] {
            if (!StartChildren(children, options.steadyChildren)) return;
            window.Show(false);
            PumpFor(static_cast<DWORD>(3000 + 20 * options.steadyChildren));
            idle = Measure(options, 0, 0);
            for (Measured& m : programs) {
                m.run = RunPelorin(options, PelorinCopy(m.path));
                steady.insert(steady.end(), m.run.steady.begin(), m.run.steady.end());
            }
            if (auto tm = RunTaskManager(options)) steady.push_back(*tm);
            TimeProgramStarts(options, programs, false);
            window.Show(true);
            steadyDone = true;
        };
        window.Show(false);
        TimeProgramStarts(options, programs, true);
        window.Show(true);
        PrintRefreshHeader(options);
        for (int count : options.children) {
            if (!steadyDone && havePelorin && count > options.steadyChildren) runSteady();
            if (!StartChildren(children, count)) break;
            PumpFor(static_cast<DWORD>(3000 + 20 * count));  // let the new children settle
            MeasureRefreshes(window, options, count, refreshSummary);
            if (!steadyDone && havePelorin && count == options.steadyChildren) runSteady();
        }
        if (!steadyDone && havePelorin) runSteady();
    }
    children.clear();

    if (!havePelorin) return 0;
    PrintSteady(options, steady, idle);
    PrintStartSizeMemory(options, programs);
    PrintTargets(refreshSummary, programs, steady, idle);
    return 0;
}

}  // namespace
}  // namespace pelorin::bench

int main(int argc, char** argv) {
    return pelorin::bench::Run(argc, argv);
}
