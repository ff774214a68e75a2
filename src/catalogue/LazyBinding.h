// The process-wide slot behind each run-time binding: a table of entry points
// that becomes visible to other threads only once it is completely filled.
// Internal to the binding units.
#pragma once

#include <windows.h>

#include <atomic>

#include "catalogue/ModuleApi.h"

namespace pelorin {

template <typename Table>
class LazyBinding {
public:
    constexpr LazyBinding() noexcept = default;
    LazyBinding(const LazyBinding&) = delete;
    LazyBinding& operator=(const LazyBinding&) = delete;

    // The published table; otherwise runs fill(api, table) under the lock and
    // publishes the table when fill answers true. A false answer publishes
    // nothing, so the next call tries again.
    template <typename Fill>
    const Table* Bind(Fill fill) noexcept {
        if (const Table* table = published_.load(std::memory_order_acquire)) return table;
        ::AcquireSRWLockExclusive(&lock_);
        const Table* table = published_.load(std::memory_order_relaxed);
        if (!table) {
            Table local{};
            if (fill(useApi_ ? api_ : PlatformModuleApi(), local)) {
                table_ = local;
                published_.store(&table_, std::memory_order_release);
                table = &table_;
            }
        }
        ::ReleaseSRWLockExclusive(&lock_);
        return table;
    }

    const Table* Peek() const noexcept { return published_.load(std::memory_order_acquire); }

    // Back to unbound, binding through api from now on. Only while no other
    // thread can be inside Bind or holding a table from Peek.
    void Reset(const ModuleApi& api) noexcept {
        ::AcquireSRWLockExclusive(&lock_);
        published_.store(nullptr, std::memory_order_relaxed);
        table_ = Table{};
        api_ = api;
        useApi_ = true;
        ::ReleaseSRWLockExclusive(&lock_);
    }

private:
    std::atomic<const Table*> published_{nullptr};
    SRWLOCK lock_ = SRWLOCK_INIT;
    Table table_{};
    ModuleApi api_{};
    bool useApi_ = false;  // false: the platform's module calls
};

}  // namespace pelorin
