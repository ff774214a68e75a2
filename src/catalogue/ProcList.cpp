#include "catalogue/ProcList.h"

#include <array>
#include <string>
#include <unordered_set>
#include <utility>
#include <vector>

#include "catalogue/Systemlist.h"
#include "controls/AppObject.h"
#include "controls/Button.h"
#include "controls/ListView.h"
#include "support/FastStrings.h"

namespace pelorin {
namespace {

constexpr std::int32_t kColumnCount = 7;
constexpr std::int32_t kPidColumn = 1;
constexpr const char* kNoVersionInfo = "--";

// One row of the list, gathered off the interface thread.
struct RowTexts {
    std::uint64_t creation = 0;  // 0 when unknown: the row's process cannot be told from a later one
    std::array<std::string, kColumnCount> cells;
};

// The batch handed to the interface thread.
struct ApplyBatch {
    ProcessListState* state = nullptr;
    const std::vector<RowTexts>* rows = nullptr;
    WorkerThread* thread = nullptr;  // the refreshing worker, or null
};

std::array<TextList**, 5> ListsOf(CpuSampleLists& set) {
    return {&set.pids, &set.ticks, &set.kernels, &set.users, &set.creations};
}

bool ListsExist(const CpuSampleLists& set) {
    return set.pids && set.ticks && set.kernels && set.users && set.creations;
}

void ClearSamples(CpuSampleLists& set) {
    for (TextList** list : ListsOf(set)) (*list)->Clear();
}

// Differences of 32-bit counters that may have wrapped between two samples.
std::int32_t WrappingDifference(std::int32_t now, std::int32_t before) {
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(now) - static_cast<std::uint32_t>(before));
}

std::int32_t AppendSample(CpuSampleLists& set, const CpuSample& sample) {
    const std::int32_t index = set.pids->Add(IntToText(static_cast<std::int32_t>(sample.pid)));
    set.ticks->Add(IntToText(static_cast<std::int32_t>(sample.tick)));
    set.kernels->Add(IntToText(static_cast<std::int32_t>(static_cast<std::uint32_t>(sample.times.kernel))));
    set.users->Add(IntToText(static_cast<std::int32_t>(static_cast<std::uint32_t>(sample.times.user))));
    set.creations->Add(std::to_string(sample.times.creation));
    return index;
}

// Keeps only the entries of PIDs in the snapshot. A PID that is gone can only
// come back as a new process, which its creation time tells apart, so its old
// entry would serve nothing. Hidden known processes are in the snapshot and
// keep theirs.
void DropEndedProcesses(CpuSampleLists& previous, const std::vector<SnapshotEntry>& entries) {
    std::unordered_set<std::uint32_t> running;
    running.reserve(entries.size() * 2);
    for (const SnapshotEntry& entry : entries) running.insert(entry.pid);

    const std::int32_t count = previous.pids->Count();
    std::vector<std::int32_t> kept;
    kept.reserve(static_cast<std::size_t>(count));
    for (std::int32_t i = 0; i < count; ++i) {
        if (running.count(static_cast<std::uint32_t>(TextToInt(previous.pids->Get(i))))) kept.push_back(i);
    }
    if (kept.size() == static_cast<std::size_t>(count)) return;
    for (TextList** list : ListsOf(previous)) {
        std::vector<std::string> items = std::move((*list)->items);
        (*list)->Clear();
        for (std::int32_t i : kept) (*list)->Add(items[static_cast<std::size_t>(i)]);
    }
}

// The two boxes a refresh reads, read together on the interface thread.
struct BoxStates {
    Control* showKnown = nullptr;
    Control* moreInfo = nullptr;
    bool showKnownChecked = false;
    bool moreInfoChecked = false;
};

void ReadBoxes(void* context) noexcept {
    auto& boxes = *static_cast<BoxStates*>(context);
    boxes.showKnownChecked = GetChecked(boxes.showKnown);
    boxes.moreInfoChecked = GetChecked(boxes.moreInfo);
}

// Reads every listed process and builds its cells; false when the worker's
// stop cut the walk short or the interface thread could not be asked.
bool GatherRows(ProcessListState& state, WorkerThread* thread, std::vector<RowTexts>& rows) {
    ProcessSource& source = *state.source;
    // Each call to the interface thread costs a round of thread switches: the
    // boxes are read once per refresh, both in one call.
    BoxStates boxes{state.chkShowKnown, state.chkMoreInfo};
    if (!CallOnInterfaceThread(&ReadBoxes, &boxes)) return false;
    const bool showKnown = boxes.showKnownChecked;
    const bool moreInfo = boxes.moreInfoChecked;
    const double overflowLimit = CpuOverflowLimit(source.ProcessorCount());

    ClearSamples(state.CurrentSample);
    state.previousHint = 0;
    if (StopRequested(thread)) return false;
    const std::vector<SnapshotEntry> entries = source.Snapshot();
    const std::string windowsFolder = GetWindowsFolder();

    for (const SnapshotEntry& entry : entries) {
        if (StopRequested(thread)) return false;
        if (!showKnown && IsKnownProcess(entry.name)) continue;

        const ProcessReadings readings = source.Read(entry.pid);
        const std::int32_t sample =
            AppendSample(state.CurrentSample, CpuSample{entry.pid, readings.tick, readings.times});
        double cpu = ComputeCpuUsage(state, sample);
        if (cpu > overflowLimit) cpu = 0;

        if (IsSystemPseudoProcess(entry.name)) continue;

        RowTexts row;
        row.creation = readings.times.valid ? readings.times.creation : 0;
        row.cells[0] = entry.name;
        row.cells[1] = IntToText(static_cast<std::int32_t>(entry.pid));
        row.cells[2] = SizeToText(static_cast<double>(readings.workingSet));
        row.cells[3] = DecimalToText(cpu);
        row.cells[4] = NormalizeImagePath(readings.imagePath, windowsFolder);
        if (!moreInfo) {
            row.cells[5] = kNoVersionInfo;
            row.cells[6] = kNoVersionInfo;
        } else if (readings.imagePath != NoImagePath) {
            // The un-normalized path, as the platform gave it.
            const std::string& file = readings.versionPath.empty() ? readings.imagePath : readings.versionPath;
            row.cells[5] = source.VersionString(file, "FileDescription");
            row.cells[6] = source.VersionString(file, "CompanyName");
        }
        rows.push_back(std::move(row));
    }
    // An empty walk means no snapshot, not that every process ended.
    if (!entries.empty()) DropEndedProcesses(state.PreviousSample, entries);
    return true;
}

// The row whose "PID" cell holds pid, or -1.
std::int32_t RowOfPid(Control* list, std::uint32_t pid) {
    const std::int32_t count = ItemCount(list);
    for (std::int32_t i = 0; i < count; ++i) {
        if (static_cast<std::uint32_t>(TextToInt(GetItemText(list, i, kPidColumn))) == pid) return i;
    }
    return -1;
}

// Interface thread: the whole rebuild of the list in one step.
void ApplyRows(void* context) noexcept {
    const auto& batch = *static_cast<const ApplyBatch*>(context);
    // The close handler may be waiting for this worker: it does no more.
    if (StopRequested(batch.thread)) return;
    ProcessListState& state = *batch.state;
    Control* list = state.lvProcesses;
    try {
        // The row on top stays on top if its process is still listed, so a
        // user who scrolled down is not pulled back every second.
        const std::int32_t oldTop = ItemCount(list) > 0 ? TopIndex(list) : -1;
        std::uint32_t topPid = 0;
        if (oldTop >= 0) topPid = static_cast<std::uint32_t>(TextToInt(GetItemText(list, oldTop, kPidColumn)));

        BeginUpdate(list);
        ClearItems(list);
        std::int32_t count = 0;
        for (const RowTexts& row : *batch.rows) {
            const std::int32_t index = InsertItem(list, count, row.cells[0]);
            if (index < 0) continue;
            for (std::int32_t column = 1; column < kColumnCount; ++column) {
                SetItemText(list, index, column, row.cells[static_cast<std::size_t>(column)]);
            }
            // What "Kill Task" checks: the process this row shows.
            SetItemData(list, index, row.creation);
            ++count;
        }
        // In the order the user chose by a header, if any.
        SortRows(list);
        state.ProcessRowCount = count;
        ReselectProcess(state, state.SelectedPid.load());
        // After the selection, which some platforms scroll into view.
        if (oldTop >= 0) {
            // Gone: keep the place in the list instead.
            const std::int32_t newTop = RowOfPid(list, topPid);
            SetTopIndex(list, newTop >= 0 ? newTop : oldTop);
        }
        EndUpdate(list);
    } catch (...) {
        // Out of memory half way: never leave the list frozen.
        while (list != nullptr && list->updateCount > 0) EndUpdate(list);
    }
}

// Held for a whole refresh; released on every path.
class GateHold {
public:
    explicit GateHold(HANDLE gate) noexcept : gate_(gate) {}
    ~GateHold() { ::SetEvent(gate_); }
    GateHold(const GateHold&) = delete;
    GateHold& operator=(const GateHold&) = delete;

private:
    HANDLE gate_;
};

// Worker: the gate, or the stop, whichever comes first.
bool AcquireGateOrStop(HANDLE gate, WorkerThread* thread) {
    if (thread == nullptr || !thread->stopEvent) return ::WaitForSingleObject(gate, INFINITE) == WAIT_OBJECT_0;
    const HANDLE handles[] = {gate, thread->stopEvent.Get()};
    if (::WaitForMultipleObjects(2, handles, FALSE, INFINITE) != WAIT_OBJECT_0) return false;
    if (StopRequested(thread)) {
        ::SetEvent(gate);
        return false;
    }
    return true;
}

void Refresh(ProcessListState& state, WorkerThread* thread) noexcept {
    if (!state.RefreshEnabled.load()) return;
    if (!ListsExist(state.CurrentSample) || !ListsExist(state.PreviousSample) || state.source == nullptr) return;
    const HANDLE gate = state.refreshGate.Get();
    if (gate == nullptr) return;
    // On the interface thread the worker holding the gate may be sending to
    // it (a list operation, a box read, Synchronize, the batch).
    const bool acquired = thread != nullptr ? AcquireGateOrStop(gate, thread) : WaitServingSentMessages(gate, INFINITE);
    if (!acquired) return;
    GateHold hold(gate);
    // The close may have turned refreshing off while this refresh waited.
    if (!state.RefreshEnabled.load()) return;
    try {
        std::vector<RowTexts> rows;
        if (!GatherRows(state, thread, rows)) return;
        if (StopRequested(thread)) return;
        ApplyBatch batch{&state, &rows, thread};
        // Not run (no application object any more): the rows are dropped.
        CallOnInterfaceThread(&ApplyRows, &batch);
    } catch (...) {
        // Out of memory while gathering: this refresh is dropped, the next one tries again.
    }
}

}  // namespace

void CreateSampleLists(ProcessListState& state) {
    for (CpuSampleLists* set : {&state.CurrentSample, &state.PreviousSample}) {
        for (TextList** list : ListsOf(*set)) {
            if (*list == nullptr) *list = CreateTextList();
        }
    }
}

void ReleaseSampleLists(ProcessListState& state) {
    for (CpuSampleLists* set : {&state.CurrentSample, &state.PreviousSample}) {
        for (TextList** list : ListsOf(*set)) {
            if (*list != nullptr) Release(std::exchange(*list, nullptr));
        }
    }
}

void RefreshProcessList(ProcessListState& state) noexcept { Refresh(state, nullptr); }

void RefreshProcessList(ProcessListState& state, WorkerThread* thread) noexcept { Refresh(state, thread); }

double CpuOverflowLimit(std::uint32_t processors) { return 100.0 * (processors > 0 ? processors : 1) + 2.0; }

double ComputeCpuUsage(ProcessListState& state, std::int32_t entry) {
    CpuSampleLists& current = state.CurrentSample;
    CpuSampleLists& previous = state.PreviousSample;
    if (!ListsExist(current) || !ListsExist(previous)) return 0;
    if (entry < 0 || entry >= current.pids->Count()) return 0;

    const std::string pid = current.pids->Get(entry);
    const std::string tick = current.ticks->Get(entry);
    const std::string kernel = current.kernels->Get(entry);
    const std::string user = current.users->Get(entry);
    const std::string creation = current.creations->Get(entry);

    std::int32_t j = state.previousHint;
    if (j < 0 || j >= previous.pids->Count() || previous.pids->items[static_cast<std::size_t>(j)] != pid)
        j = previous.pids->IndexOf(pid);
    // A new process leaves the hint where it was: the next one follows the last found.
    if (j >= 0) state.previousHint = j + 1;
    if (j < 0) {
        previous.pids->Add(pid);
        previous.ticks->Add(tick);
        previous.kernels->Add(kernel);
        previous.users->Add(user);
        previous.creations->Add(creation);
        return 0;
    }

    // Another process under a reused PID: its first sample.
    const bool sameProcess = previous.creations->Get(j) == creation;
    const double dt = WrappingDifference(TextToInt(tick), TextToInt(previous.ticks->Get(j)));
    const double dk = WrappingDifference(TextToInt(kernel), TextToInt(previous.kernels->Get(j)));
    const double du = WrappingDifference(TextToInt(user), TextToInt(previous.users->Get(j)));
    previous.ticks->Put(j, tick);
    previous.kernels->Put(j, kernel);
    previous.users->Put(j, user);
    previous.creations->Put(j, creation);
    if (!sameProcess) return 0;

    double r = 0;
    // Δk and Δu count 100 ns, Δt milliseconds: r is a percentage of one processor.
    if (du + dk > 0 && dt != 0) r = (du + dk) / (dt * 100.0);
    if (!(r >= 0)) r = 0;
    return r;
}

void ReselectProcess(ProcessListState& state, std::uint32_t pid) {
    // No row with the PID: nothing is selected.
    SetCurrentIndex(state.lvProcesses, RowOfPid(state.lvProcesses, pid));
}

void RequestRebuild(ProcessListState& state) noexcept {
    state.rebuildRequested = true;
    ::SetEvent(state.rebuildEvent.Get());
}

std::uint32_t RefreshLoop(ProcessListState& state, WorkerThread* thread, ThreadMethod showCounts) {
    const HANDLE wakes[] = {thread != nullptr ? thread->stopEvent.Get() : nullptr, state.rebuildEvent.Get()};
    while (!StopRequested(thread)) {
        Synchronize(thread, showCounts);
        ProcessMessages(CurrentAppObject());
        if (StopRequested(thread)) break;
        if (state.rebuildRequested.exchange(false) || !GetChecked(state.chkNoRefresh)) RefreshProcessList(state, thread);
        if (wakes[0] != nullptr && wakes[1] != nullptr) {
            ::WaitForMultipleObjects(2, wakes, FALSE, state.periodMs);
        } else if (SleepOrStop(thread, state.periodMs)) {
            break;
        }
    }
    return 0;
}

}  // namespace pelorin
