// The machine's processor load and memory load for the status line, and the
// counts text. The sampler runs in CpuUsageThread; the line itself is
// composed on the interface thread by StatusLineText.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

#include "controls/Events.h"
#include "controls/WorkerThread.h"

namespace pelorin {

// NtQuerySystemInformation(information class, buffer, buffer length,
// returned length); 0 is success.
using SystemQueryFunction = LONG(WINAPI*)(ULONG infoClass, void* buffer, ULONG length, ULONG* returnedLength);

// The sampler's state, owned by the main form.
struct SysUsageState {
    // Null until the sampler binds "NtQuerySystemInformation" from queryModule
    // at its start; tests put their own function in before.
    SystemQueryFunction query = nullptr;
    const char* queryModule = "ntdll.dll";

    std::uint8_t processorCount = 0;  // from the basic information, read once
    std::int64_t PrevIdleTime = 0;    // 0: no base sample yet
    std::int64_t PrevSystemTime = 0;

    // Written by the worker before it synchronises, read on the interface thread.
    double CpuUsage = 0;
    std::string MemLoadText;  // "57%"; empty until the second pass
    // Interface thread only.
    std::string CpuText;      // "07%", "100%"

    // The sampler's pause between passes.
    DWORD periodMs = 1000;
};

// The body of CpuUsageThread: binds the query, reads the processor count,
// then once per period samples the idle and system times; from the second
// pass on computes CpuUsage, runs updateStatusLine on the interface thread,
// dispatches the worker's own messages and reads the memory load. A missing
// query function or a failing query ends the loop silently.
std::uint32_t SamplerLoop(SysUsageState& state, WorkerThread* thread, ThreadMethod updateStatusLine);

// What one pass of the sampler found.
enum class SampleResult {
    Failed,    // a query failed: the sampler ends
    Base,      // the first sample: nothing to show yet
    Computed,  // CpuUsage holds a new value
    Unusable,  // no system time passed (or the figure is not finite): keep the old line
};
// One pass's queries and arithmetic (the loop's step without the rest).
SampleResult TakeSample(SysUsageState& state);

// CpuUsage = 100 − idle/system × 100 ÷ processors + 0.5, in extended precision.
double ComputeLoad(double idleDelta, double systemDelta, std::uint32_t processors);

// The status line for the interface thread: "Mem: " + MemLoadText + "  CPU: "
// + the rounded load with at least two digits and "%". Sets CpuText and line
// and answers true; answers false (both untouched) when CpuUsage is −1.0 or
// less or not finite, so the label keeps its line.
bool StatusLineText(SysUsageState& state, std::string& line);
// The processor figure alone: "07%", "100%"; false as above.
bool CpuLoadText(double cpuUsage, std::string& text);

// GlobalMemoryStatus's memory load into MemLoadText.
void ReadMemoryLoad(SysUsageState& state);
// "57%" for a load of 57 (no leading zero).
std::string MemoryLoadText(std::uint32_t load);

// "Counts: 57".
std::string CountsText(std::int32_t rowCount);

}  // namespace pelorin
