#include "usage/SysUsage.h"

#include <cmath>
#include <cstddef>
#include <cstring>
#include <utility>

#include "controls/AppObject.h"
#include "support/FastStrings.h"
#include "support/SystemInfo.h"

namespace pelorin {
namespace {

// SystemBasicInformation as the platform lays it out for this program's width
// (the SDKs name its fields differently): its pointer-sized fields move the
// processor count of a 64-bit record, and the platform wants its exact length.
struct BasicInformation {
    ULONG reserved[7];
    ULONG_PTR lowestUserAddress;
    ULONG_PTR highestUserAddress;
    ULONG_PTR activeProcessors;
    CCHAR numberOfProcessors;
};
static_assert(sizeof(BasicInformation) == (sizeof(void*) == 8 ? 64 : 44));
static_assert(offsetof(BasicInformation, numberOfProcessors) == (sizeof(void*) == 8 ? 56 : 40));

// Information classes and the buffer lengths the platform expects (the
// performance and time-of-day records hold no pointer-sized field).
constexpr ULONG kBasicInformation = 0;
constexpr ULONG kPerformanceInformation = 2;
constexpr ULONG kTimeOfDayInformation = 3;
constexpr ULONG kPerformanceLength = 312;
constexpr ULONG kTimeOfDayLength = 32;
constexpr std::size_t kCurrentTimeOffset = 8;   // CurrentTime
constexpr std::size_t kIdleTimeOffset = 0;      // IdleProcessTime

std::int64_t ReadInt64(const unsigned char* bytes) {
    std::int64_t value = 0;
    std::memcpy(&value, bytes, sizeof value);
    return value;
}

double ToDouble(std::int64_t value) {
    const auto bits = static_cast<std::uint64_t>(value);
    return LargeToFloat(static_cast<std::uint32_t>(bits), static_cast<std::int32_t>(bits >> 32));
}

bool BindQuery(SysUsageState& state) {
    if (state.query == nullptr)
        state.query = LoadedFunction<SystemQueryFunction>(state.queryModule, "NtQuerySystemInformation");
    return state.query != nullptr;
}

bool ReadProcessorCount(SysUsageState& state) {
    BasicInformation basic = {};
    if (state.query(kBasicInformation, &basic, sizeof basic, nullptr) != 0) return false;
    state.processorCount = static_cast<unsigned char>(basic.numberOfProcessors);
    return true;
}

}  // namespace

double ComputeLoad(double idleDelta, double systemDelta, std::uint32_t processors) {
    // Plain doubles: every build and every thread computes the same figure.
    const double ratio = idleDelta / systemDelta;
    return 100.0 - ratio * 100.0 / static_cast<double>(processors) + 0.5;
}

SampleResult TakeSample(SysUsageState& state) {
    if (state.query == nullptr) return SampleResult::Failed;
    alignas(8) unsigned char timeOfDay[kTimeOfDayLength] = {};
    if (state.query(kTimeOfDayInformation, timeOfDay, kTimeOfDayLength, nullptr) != 0) return SampleResult::Failed;
    alignas(8) unsigned char performance[kPerformanceLength] = {};
    if (state.query(kPerformanceInformation, performance, kPerformanceLength, nullptr) != 0) {
        return SampleResult::Failed;
    }
    const std::int64_t currentTime = ReadInt64(timeOfDay + kCurrentTimeOffset);
    const std::int64_t idleTime = ReadInt64(performance + kIdleTimeOffset);

    SampleResult result = SampleResult::Base;
    if (state.PrevIdleTime != 0) {
        const double idleDelta = ToDouble(idleTime) - ToDouble(state.PrevIdleTime);
        const double systemDelta = ToDouble(currentTime) - ToDouble(state.PrevSystemTime);
        result = SampleResult::Unusable;
        // No time passed, or the clock went back: the ratio means nothing.
        if (systemDelta > 0) {
            const double load = ComputeLoad(idleDelta, systemDelta, state.processorCount);
            if (std::isfinite(load)) {
                state.CpuUsage = load;
                result = SampleResult::Computed;
            }
        }
    }
    state.PrevIdleTime = idleTime;
    state.PrevSystemTime = currentTime;
    return result;
}

std::uint32_t SamplerLoop(SysUsageState& state, WorkerThread* thread, ThreadMethod updateStatusLine) {
    if (!BindQuery(state) || !ReadProcessorCount(state)) return 0;
    while (!StopRequested(thread)) {
        const SampleResult result = TakeSample(state);
        if (result == SampleResult::Failed) break;
        if (result != SampleResult::Base) {
            if (result == SampleResult::Computed) Synchronize(thread, updateStatusLine);
            ProcessMessages(CurrentAppObject());
            ReadMemoryLoad(state);
        }
        if (SleepOrStop(thread, state.periodMs)) break;
    }
    return 0;
}

bool CpuLoadText(double cpuUsage, std::string& text) {
    if (!std::isfinite(cpuUsage) || cpuUsage <= -1.0) return false;
    // Nearest, halves to even (the default rounding mode).
    const double rounded = std::nearbyint(cpuUsage);
    std::string figure = FloatToText(rounded);
    figure += '%';
    if (figure.size() < 3) figure.insert(figure.begin(), '0');
    text = std::move(figure);
    return true;
}

bool StatusLineText(SysUsageState& state, std::string& line) {
    std::string cpuText;
    if (!CpuLoadText(state.CpuUsage, cpuText)) return false;
    std::string text = "Mem: ";
    text += state.MemLoadText;
    text += "  CPU: ";
    text += cpuText;
    state.CpuText = std::move(cpuText);
    line = std::move(text);
    return true;
}

void ReadMemoryLoad(SysUsageState& state) {
    MEMORYSTATUS status{};
    status.dwLength = sizeof status;
    ::GlobalMemoryStatus(&status);
    state.MemLoadText = MemoryLoadText(status.dwMemoryLoad);
}

std::string MemoryLoadText(std::uint32_t load) {
    std::string text = SizeToText(static_cast<double>(load));
    text += '%';
    return text;
}

std::string CountsText(std::int32_t rowCount) {
    std::string text = "Counts: ";
    text += IntToText(rowCount);
    return text;
}

}  // namespace pelorin
