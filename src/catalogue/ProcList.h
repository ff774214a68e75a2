// The process list refresh: rebuilds the process list from a fresh snapshot,
// measures each process's processor share since its previous sample, and
// selects the user's process again. It runs once a second in RefreshThread
// (RefreshLoop); a kill asks it for one more at once (RequestRebuild).
//
// A refresh gathers every reading and cell text on the calling thread, then
// applies the rows to the list in one call on the interface thread (frozen,
// cleared, filled, put in the order the user chose, selection re-applied,
// scrolled back to the row that was on top, unfrozen). Two refreshes never
// overlap: a gate is held for the whole refresh; the worker waits for it
// together with its stop event, the interface thread waits while serving sent
// messages, so neither can deadlock the other.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <memory>

#include "catalogue/ProcessSource.h"
#include "controls/Control.h"
#include "controls/Events.h"
#include "controls/TextList.h"
#include "controls/WorkerThread.h"
#include "support/Handles.h"

namespace pelorin {

// One per-process sample: when and how much processor time the process had.
struct CpuSample {
    std::uint32_t pid = 0;
    std::uint32_t tick = 0;  // the clock when the times were read (ProcessReadings::tick)
    ProcessTimes times;
};

// One set of per-process samples as parallel text lists of decimal texts; the
// texts at one index form one CpuSample.
struct CpuSampleLists {
    TextList* pids = nullptr;
    TextList* ticks = nullptr;      // GetTickCount right after the times, signed 32-bit
    TextList* kernels = nullptr;    // low 32 bits of the kernel time, signed, 100 ns units
    TextList* users = nullptr;      // low 32 bits of the user time, the same way
    TextList* creations = nullptr;  // the process's creation time (64-bit), tells a reused PID apart
};

// The refresh's state, owned by the main form. The controls are set by the
// main form's build; the sample lists by CreateSampleLists.
struct ProcessListState {
    Control* lvProcesses = nullptr;
    Control* chkShowKnown = nullptr;  // "Show Known Processes"
    Control* chkMoreInfo = nullptr;   // "More Info"
    Control* chkNoRefresh = nullptr;  // "No Refresh"

    CpuSampleLists CurrentSample;   // the entries of the running refresh
    CpuSampleLists PreviousSample;  // the last entry of every PID still running

    // Nothing is touched while false (until start-up has created the lists).
    std::atomic<bool> RefreshEnabled{false};
    // Rows inserted by the last refresh.
    std::atomic<std::int32_t> ProcessRowCount{0};
    // Written by the selection handler on the interface thread; 0 for none.
    std::atomic<std::uint32_t> SelectedPid{0};

    // Every reading goes through `source`: the platform's own, with what it
    // remembers between refreshes, unless a test puts its own in.
    std::unique_ptr<ProcessSource> platformSource = CreatePlatformProcessSource();
    ProcessSource* source = platformSource.get();
    // RefreshLoop's pause between passes.
    DWORD periodMs = 1000;

    // Where the next PID is looked for first in PreviousSample: both samples
    // follow the snapshot's order, so the entry after the last one found is
    // nearly always the one (a whole search only when it is not). Touched only
    // by the refresh holding the gate.
    std::int32_t previousHint = 0;

    // Auto-reset, signalled while no refresh runs.
    UniqueHandle refreshGate{::CreateEventA(nullptr, FALSE, TRUE, nullptr)};
    // A rebuild asked for by a kill: RefreshLoop wakes and rebuilds at once,
    // also while "No Refresh" is ticked.
    std::atomic<bool> rebuildRequested{false};
    UniqueHandle rebuildEvent{::CreateEventA(nullptr, FALSE, FALSE, nullptr)};
};

// Start-up: creates the ten empty sample lists (after the workers exist,
// before they run). Destroy: releases them (after the workers have stopped).
void CreateSampleLists(ProcessListState& state);
void ReleaseSampleLists(ProcessListState& state);

// Rebuilds the list. Called on the interface thread, it waits for a running
// worker refresh to end while serving sent messages, for as long as that
// takes: the program itself rebuilds only on RefreshThread. Does nothing
// while RefreshEnabled is false.
void RefreshProcessList(ProcessListState& state) noexcept;
// The worker's refresh: waits for the gate or the thread's stop, and ends
// early (without touching the list) once the stop is requested.
void RefreshProcessList(ProcessListState& state, WorkerThread* thread) noexcept;

// A computed processor share above this is a glitch of the readings and shows
// as 0: a share of one processor, so a process reaches 100 for each
// processor it keeps busy.
double CpuOverflowLimit(std::uint32_t processors);

// Processor share of the process at `entry` of CurrentSample since its
// previous sample, in percent of one processor; records the entry as the
// new previous sample. 0 for a first sample, a reused PID, Δt = 0 or a
// negative difference.
double ComputeCpuUsage(ProcessListState& state, std::int32_t entry);

// Selects the row whose "PID" cell holds pid; with none, nothing is selected.
void ReselectProcess(ProcessListState& state, std::uint32_t pid);

// Any thread: RefreshLoop rebuilds the list once more at once (after the
// refresh it may be running, whose snapshot may be older than the call), also
// while "No Refresh" is ticked. Never waits.
void RequestRebuild(ProcessListState& state) noexcept;

// The body of RefreshThread: while not stopped, runs showCounts on the
// interface thread, dispatches the worker's own messages, refreshes unless
// "No Refresh" is ticked (or a rebuild was asked for), and sleeps periodMs
// (cut short by the stop or a rebuild asked for).
std::uint32_t RefreshLoop(ProcessListState& state, WorkerThread* thread, ThreadMethod showCounts);

}  // namespace pelorin
