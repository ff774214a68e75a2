// refresh_bench.exe: what one process list refresh costs, and what steady
// refreshing costs the processor. Not a test: it prints Markdown tables.
//
// 1. With 50, 200 and 400 extra idle child processes, each measured over a
//    few rounds: the platform readings alone (the real source walked as the
//    refresh walks it, no list) and one whole RefreshProcessList run from a
//    worker thread against a real, shown list view, as RefreshThread runs it.
// 2. Processor time over a steady period of refreshing once a second:
//    Pelorin.exe (beside this program, or --pelorin PATH) when it exists,
//    measured from outside; and this program running RefreshLoop itself.
//
// Options: --children 50,200,400  --rounds 5  --steady-seconds 60
//          --steady pelorin|self|both|none  --pelorin PATH  --hidden 1
#include <windows.h>
#include <winternl.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "catalogue/ProcList.h"
#include "catalogue/Systemlist.h"
#include "controls/AppObject.h"
#include "controls/Button.h"
#include "controls/Form.h"
#include "controls/ListView.h"
#include "controls/WorkerThread.h"
#include "fixtures/ChildProcess.h"

namespace pelorin::bench {
namespace {

struct Options {
    std::vector<int> children{50, 200, 400};
    int rounds = 5;
    int steadySeconds = 60;
    std::string steady;  // empty: both when Pelorin.exe exists, else self
    std::string pelorinPath;
    bool hidden = false;  // the list window never shown (no painting)
};

double NowMs() {
    static LARGE_INTEGER frequency = [] {
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

double Minimum(const std::vector<double>& values) {
    return values.empty() ? 0 : *std::min_element(values.begin(), values.end());
}

void Pump() {
    MSG message;
    while (::PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
        ::TranslateMessage(&message);
        ::DispatchMessageA(&message);
    }
}

// Serves the worker's messages (list batch, box reads) until it has ended.
void PumpUntilEnded(WorkerThread* thread) {
    while (!Terminated(thread)) {
        Pump();
        ::MsgWaitForMultipleObjectsEx(0, nullptr, 10, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
    }
}

void PumpFor(DWORD ms) {
    const DWORD start = ::GetTickCount();
    while (::GetTickCount() - start < ms) {
        Pump();
        ::MsgWaitForMultipleObjectsEx(0, nullptr, 10, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
    }
}

// The main window's parts the refresh uses.
struct Window {
    Control* app = nullptr;
    Control* form = nullptr;
    ProcessListState state;

    explicit Window(bool shown) {
        app = CreateAppObject("Pelorin refresh bench");
        form = CreateForm(app, "Pelorin refresh bench");
        SetPosition(form, 10, 10);
        SetClientSize(form, 760, 520);
        Handle(form);
        if (shown) ::ShowWindow(form->window, SW_SHOWNORMAL);
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
};

// The readings a refresh takes, without building a row or touching a list.
double TimePlatformReadings(bool showKnown, bool moreInfo, int& processesRead) {
    ProcessSource& source = PlatformProcessSource();
    const double start = NowMs();
    source.ProcessorCount();
    processesRead = 0;
    for (const SnapshotEntry& entry : source.Snapshot()) {
        if (!showKnown && IsKnownProcess(entry.name)) continue;
        const ProcessReadings readings = source.Read(entry.pid);
        source.TickCount();
        if (moreInfo && readings.imagePath != NoImagePath) {
            source.VersionString(readings.imagePath, "FileDescription");
            source.VersionString(readings.imagePath, "CompanyName");
        }
        ++processesRead;
    }
    return NowMs() - start;
}

struct TimedRefreshes {
    ProcessListState* state = nullptr;
    int rounds = 0;
    std::vector<double> times;
};

std::uint32_t RefreshRounds(TimedRefreshes& job, WorkerThread* thread) {
    for (int i = 0; i < job.rounds && !StopRequested(thread); ++i) {
        const double start = NowMs();
        RefreshProcessList(*job.state, thread);
        job.times.push_back(NowMs() - start);
        // Let the interface thread paint the rows, as it does between passes of RefreshThread.
        SleepOrStop(thread, 500);
    }
    return 0;
}

std::vector<double> TimeWorkerRefreshes(Window& window, int rounds) {
    TimedRefreshes job{&window.state, rounds, {}};
    WorkerThread* thread = CreateWorkerThread();
    thread->onExecute = MakeExecute<&RefreshRounds>(job);
    Resume(thread);
    PumpUntilEnded(thread);
    StopAndWait(thread);
    Destroy(thread);
    return job.times;
}

bool StartChildren(std::vector<std::unique_ptr<fixtures::ChildProcess>>& children, int count) {
    while (static_cast<int>(children.size()) < count) {
        auto child = std::make_unique<fixtures::ChildProcess>();
        if (!child->Start(std::string(), 30000)) {
            std::fprintf(stderr, "could not start child %d\n", static_cast<int>(children.size()) + 1);
            return false;
        }
        children.push_back(std::move(child));
    }
    return true;
}

void MeasureRefreshes(Window& window, const Options& options,
                      std::vector<std::unique_ptr<fixtures::ChildProcess>>& children) {
    std::printf("## One refresh (ms; median and best of %d rounds)\n\n", options.rounds);
    std::printf("| extra children | More Info | rows | platform readings | whole refresh from the worker | ratio |\n");
    std::printf("|---:|:---:|---:|---:|---:|---:|\n");
    std::fflush(stdout);
    for (int count : options.children) {
        if (!StartChildren(children, count)) break;
        PumpFor(static_cast<DWORD>(3000 + 20 * count));  // let the new children settle
        for (bool moreInfo : {false, true}) {
            SetChecked(window.state.chkMoreInfo, moreInfo);
            TimeWorkerRefreshes(window, 1);  // warm-up: bindings, first samples
            std::vector<double> readings;
            int processesRead = 0;
            for (int i = 0; i < options.rounds; ++i) {
                readings.push_back(TimePlatformReadings(false, moreInfo, processesRead));
                PumpFor(200);
            }
            const std::vector<double> refreshes = TimeWorkerRefreshes(window, options.rounds);
            const double r = Median(readings);
            const double w = Median(refreshes);
            std::printf("| %d | %s | %d | %.1f (best %.1f) | %.1f (best %.1f) | %.2f |\n", count, moreInfo ? "on" : "off",
                        window.state.ProcessRowCount.load(), r, Minimum(readings), w, Minimum(refreshes),
                        r > 0 ? w / r : 0.0);
            std::fflush(stdout);
        }
    }
    SetChecked(window.state.chkMoreInfo, false);
    std::printf("\n");
}

std::uint64_t FileTimeCount(const FILETIME& t) {
    return (static_cast<std::uint64_t>(t.dwHighDateTime) << 32) | t.dwLowDateTime;
}

// Kernel + user time of a process in 100 ns units through GetProcessTimes.
std::uint64_t ProcessTimeByHandle(HANDLE process) {
    FILETIME creation{}, exitTime{}, kernel{}, user{};
    if (!::GetProcessTimes(process, &creation, &exitTime, &kernel, &user)) return 0;
    return FileTimeCount(kernel) + FileTimeCount(user);
}

// The same from the system's process list: under Wine GetProcessTimes answers
// 0 for another process, the process list has the real figures.
std::uint64_t ProcessTimeFromSystemList(DWORD pid) {
    using QueryFunction = NTSTATUS(NTAPI*)(SYSTEM_INFORMATION_CLASS, PVOID, ULONG, PULONG);
    const HMODULE ntdll = ::GetModuleHandleA("ntdll.dll");
    if (ntdll == nullptr) return 0;
    const auto query = reinterpret_cast<QueryFunction>(
        reinterpret_cast<void*>(::GetProcAddress(ntdll, "NtQuerySystemInformation")));
    if (query == nullptr) return 0;
    std::vector<unsigned char> buffer(1024 * 1024);
    for (int attempt = 0;; ++attempt) {
        ULONG needed = 0;
        if (query(SystemProcessInformation, buffer.data(), static_cast<ULONG>(buffer.size()), &needed) == 0) break;
        if (attempt == 6) return 0;
        buffer.resize(std::max<std::size_t>(buffer.size() * 2, needed + 65536));
    }
    std::size_t offset = 0;
    for (;;) {
        const auto* entry = reinterpret_cast<const SYSTEM_PROCESS_INFORMATION*>(buffer.data() + offset);
        if (reinterpret_cast<std::uintptr_t>(entry->UniqueProcessId) == pid) {
            // UserTime and KernelTime sit at 40 and 48, inside what winternl.h calls Reserved1.
            LARGE_INTEGER user, kernel;
            std::memcpy(&user, reinterpret_cast<const unsigned char*>(entry) + 40, sizeof user);
            std::memcpy(&kernel, reinterpret_cast<const unsigned char*>(entry) + 48, sizeof kernel);
            return static_cast<std::uint64_t>(user.QuadPart) + static_cast<std::uint64_t>(kernel.QuadPart);
        }
        if (entry->NextEntryOffset == 0) return 0;
        offset += entry->NextEntryOffset;
    }
}

struct SteadyResult {
    double wallS = 0;
    double byHandleS = 0;
    double fromListS = 0;
};

void PrintSteadyRow(const char* subject, int children, const SteadyResult& r) {
    const double best = std::max(r.byHandleS, r.fromListS);
    std::printf("| %s | %d | %.1f | %.3f | %.3f | %.2f |\n", subject, children, r.wallS, r.byHandleS, r.fromListS,
                r.wallS > 0 ? 100.0 * best / r.wallS : 0.0);
    std::fflush(stdout);
}

// Hook for the real program: started beside this bench, measured from outside.
bool MeasurePelorin(const std::string& path, int seconds, SteadyResult& result) {
    std::string commandLine = "\"" + path + "\"";
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info = {};
    if (!::CreateProcessA(nullptr, &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info)) {
        std::fprintf(stderr, "could not start %s\n", path.c_str());
        return false;
    }
    UniqueHandle process(info.hProcess);
    UniqueHandle mainThread(info.hThread);
    ::WaitForInputIdle(process.Get(), 10000);
    PumpFor(5000);  // start-up and the first refreshes
    const double wall0 = NowMs();
    const std::uint64_t handle0 = ProcessTimeByHandle(process.Get());
    const std::uint64_t list0 = ProcessTimeFromSystemList(info.dwProcessId);
    PumpFor(static_cast<DWORD>(seconds) * 1000);
    const std::uint64_t handle1 = ProcessTimeByHandle(process.Get());
    const std::uint64_t list1 = ProcessTimeFromSystemList(info.dwProcessId);
    result.wallS = (NowMs() - wall0) / 1000.0;
    result.byHandleS = static_cast<double>(handle1 - handle0) / 1e7;
    result.fromListS = static_cast<double>(list1 - list0) / 1e7;

    if (const HWND window = ::FindWindowA(nullptr, "Pelorin")) ::PostMessageA(window, WM_CLOSE, 0, 0);
    if (::WaitForSingleObject(process.Get(), 10000) != WAIT_OBJECT_0) ::TerminateProcess(process.Get(), 1);
    return true;
}

struct LoopJob {
    ProcessListState* state = nullptr;
};

std::uint32_t SteadyLoop(LoopJob& job, WorkerThread* thread) {
    return RefreshLoop(*job.state, thread, ThreadMethod{});
}

// This program as Pelorin runs its refresh: RefreshLoop once a second in a
// worker, the list on this thread.
SteadyResult MeasureSelf(Window& window, int seconds) {
    window.state.periodMs = 1000;
    LoopJob job{&window.state};
    WorkerThread* thread = CreateWorkerThread();
    thread->onExecute = MakeExecute<&SteadyLoop>(job);
    const double wall0 = NowMs();
    const std::uint64_t self0 = ProcessTimeByHandle(::GetCurrentProcess());
    const std::uint64_t list0 = ProcessTimeFromSystemList(::GetCurrentProcessId());
    Resume(thread);
    PumpFor(static_cast<DWORD>(seconds) * 1000);
    StopAndWait(thread);
    SteadyResult result;
    result.byHandleS = static_cast<double>(ProcessTimeByHandle(::GetCurrentProcess()) - self0) / 1e7;
    result.fromListS = static_cast<double>(ProcessTimeFromSystemList(::GetCurrentProcessId()) - list0) / 1e7;
    result.wallS = (NowMs() - wall0) / 1000.0;
    Destroy(thread);
    return result;
}

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
        else if (name == "--rounds") o.rounds = std::max(1, std::atoi(value));
        else if (name == "--steady-seconds") o.steadySeconds = std::max(1, std::atoi(value));
        else if (name == "--steady") o.steady = value;
        else if (name == "--pelorin") o.pelorinPath = value;
        else if (name == "--hidden") o.hidden = std::atoi(value) != 0;
    }
    if (o.pelorinPath.empty()) o.pelorinPath = fixtures::FixturePath("Pelorin.exe");
    return o;
}

int Run(int argc, char** argv) {
    const Options options = ParseOptions(argc, argv);
    const bool havePelorin = ::GetFileAttributesA(options.pelorinPath.c_str()) != INVALID_FILE_ATTRIBUTES;
    std::string steady = options.steady.empty() ? (havePelorin ? "both" : "self") : options.steady;

    std::vector<std::unique_ptr<fixtures::ChildProcess>> children;
    {
        Window window(!options.hidden);
        SYSTEM_INFO system{};
        ::GetSystemInfo(&system);
        std::printf("# Pelorin refresh bench\n\n%lu processors; rows = processes listed (known ones hidden)\n\n",
                    static_cast<unsigned long>(system.dwNumberOfProcessors));
        MeasureRefreshes(window, options, children);

        if (steady != "none") {
            std::printf("## Steady refreshing, once a second, %d s (processor time in s)\n\n", options.steadySeconds);
            std::printf("| subject | extra children | wall | GetProcessTimes | system process list | processor %% |\n");
            std::printf("|---|---:|---:|---:|---:|---:|\n");
            std::fflush(stdout);
        }
        const int running = static_cast<int>(children.size());
        if (steady == "self" || steady == "both") {
            PrintSteadyRow("refresh worker in this bench", running, MeasureSelf(window, options.steadySeconds));
        }
        if (steady == "pelorin" || steady == "both") {
            SteadyResult result;
            if (!havePelorin) {
                std::printf("| Pelorin.exe | - | not found at %s | | | |\n", options.pelorinPath.c_str());
            } else if (MeasurePelorin(options.pelorinPath, options.steadySeconds, result)) {
                PrintSteadyRow("Pelorin.exe", running, result);
            }
        }
        std::printf("\n");
    }
    children.clear();
    return 0;
}

}  // namespace
}  // namespace pelorin::bench

int main(int argc, char** argv) {
    return pelorin::bench::Run(argc, argv);
}
