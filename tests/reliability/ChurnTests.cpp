// Process churn under a running Pelorin: a helper thread starts about twenty
// short-lived children a second while the driver reads Pelorin's list every
// ~200 ms. No read may list a PID twice, no row may outlive its process by
// more than two refreshes, and Pelorin must come through it and close with 0.
#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "e2e/PelorinDriver.h"
#include "fixtures/ChildProcess.h"
#include "reliability/ReliabilityDriver.h"
#include "support/Handles.h"

namespace pelorin::reliability {
namespace {

using e2e::PelorinProcess;

constexpr DWORD kRefreshPeriodMs = 1100;  // 1000 ms asleep plus the refresh
// Exits are noticed by polling, and the helper may be busy starting a child.
constexpr DWORD kReadSlackMs = 300;
constexpr DWORD kRowLifetimeLimitMs = 2 * kRefreshPeriodMs + kReadSlackMs;

struct ChildRecord {
    DWORD pid = 0;
    DWORD started = 0;  // GetTickCount before CreateProcess
    DWORD ended = 0;    // when its handle was first seen signalled; 0 while it runs
};

class SrwGuard {
public:
    explicit SrwGuard(SRWLOCK& lock) : lock_(lock) { ::AcquireSRWLockExclusive(&lock_); }
    ~SrwGuard() { ::ReleaseSRWLockExclusive(&lock_); }
    SrwGuard(const SrwGuard&) = delete;
    SrwGuard& operator=(const SrwGuard&) = delete;

private:
    SRWLOCK& lock_;
};

// Starts pelorin_child.exe --wait-ms N (N from 200 to 1499 ms) every
// 1000 / perSecond ms on one thread and notes each exit on another.
class ChildChurn {
public:
    ChildChurn(int perSecond, DWORD durationMs) : intervalMs_(1000 / perSecond), durationMs_(durationMs) {
        stop_.Reset(::CreateEventA(nullptr, TRUE, FALSE, nullptr));
        spawner_.Reset(::CreateThread(nullptr, 0, &ChildChurn::SpawnLoop, this, 0, nullptr));
        reaper_.Reset(::CreateThread(nullptr, 0, &ChildChurn::ReapLoop, this, 0, nullptr));
    }
    ~ChildChurn() { Stop(); }
    ChildChurn(const ChildChurn&) = delete;
    ChildChurn& operator=(const ChildChurn&) = delete;

    // Stops starting children and waits until every child has ended.
    void Stop() {
        if (!spawner_) return;
        ::WaitForSingleObject(spawner_.Get(), INFINITE);
        spawner_.Reset();
        ::SetEvent(stop_.Get());
        ::WaitForSingleObject(reaper_.Get(), INFINITE);
        reaper_.Reset();
    }
    bool Running() const { return ::WaitForSingleObject(spawner_.Get(), 0) == WAIT_TIMEOUT; }

    std::vector<ChildRecord> Records() {
        SrwGuard guard(lock_);
        return records_;
    }
    int FailedStarts() const { return failedStarts_; }

private:
    static DWORD WINAPI SpawnLoop(LPVOID self) noexcept {
        static_cast<ChildChurn*>(self)->Spawn();
        return 0;
    }
    static DWORD WINAPI ReapLoop(LPVOID self) noexcept {
        static_cast<ChildChurn*>(self)->Reap();
        return 0;
    }

    void Spawn() noexcept {
        const std::string exe = fixtures::FixturePath("pelorin_child.exe");
        const DWORD begin = ::GetTickCount();
        for (int i = 0;; ++i) {
            const DWORD due = begin + static_cast<DWORD>(i) * intervalMs_;
            const DWORD now = ::GetTickCount();
            if (now - begin >= durationMs_) break;
            if (static_cast<LONG>(due - now) > 0) ::Sleep(due - now);
            std::string commandLine = "\"" + exe + "\" --wait-ms " + std::to_string(200 + (i * 137) % 1300);
            STARTUPINFOA startup = {};
            startup.cb = sizeof startup;
            PROCESS_INFORMATION info = {};
            ChildRecord record;
            record.started = ::GetTickCount();
            if (!::CreateProcessA(exe.c_str(), &commandLine[0], nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr,
                                  nullptr, &startup, &info)) {
                ++failedStarts_;
                continue;
            }
            ::CloseHandle(info.hThread);
            record.pid = info.dwProcessId;
            SrwGuard guard(lock_);
            records_.push_back(record);
            live_.emplace_back(records_.size() - 1, info.hProcess);
        }
    }

    void Reap() noexcept {
        for (;;) {
            const bool stopping = ::WaitForSingleObject(stop_.Get(), 5) == WAIT_OBJECT_0;
            SrwGuard guard(lock_);
            for (auto it = live_.begin(); it != live_.end();) {
                if (::WaitForSingleObject(it->second, 0) == WAIT_OBJECT_0) {
                    records_[it->first].ended = ::GetTickCount();
                    ::CloseHandle(it->second);  // a held handle would keep the process object alive
                    it = live_.erase(it);
                } else {
                    ++it;
                }
            }
            if (stopping && live_.empty()) return;
        }
    }

    const DWORD intervalMs_;
    const DWORD durationMs_;
    SRWLOCK lock_ = SRWLOCK_INIT;
    std::vector<ChildRecord> records_;
    std::vector<std::pair<std::size_t, HANDLE>> live_;  // index into records_, process handle
    int failedStarts_ = 0;
    UniqueHandle stop_;
    UniqueHandle spawner_;
    UniqueHandle reaper_;
};

struct ListRead {
    std::vector<std::pair<std::string, DWORD>> rows;  // name, PID
    DWORD begun = 0, ended = 0;
};

// One column of every row of Pelorin's list in few calls: the item records
// and their text buffers written in one go, one message per row, the texts
// read back in one go (a read per cell would be four calls, and slow while
// children start by the dozen).
class ColumnReader {
public:
    explicit ColumnReader(HWND list) : list_(list) {
        DWORD pid = 0;
        ::GetWindowThreadProcessId(list, &pid);
        process_.Reset(::OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE, pid));
        if (process_) {
            remote_ = static_cast<char*>(::VirtualAllocEx(process_.Get(), nullptr, kMaxRows * kSlot,
                                                          MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
        }
    }
    ~ColumnReader() {
        if (remote_ != nullptr) ::VirtualFreeEx(process_.Get(), remote_, 0, MEM_RELEASE);
    }
    ColumnReader(const ColumnReader&) = delete;
    ColumnReader& operator=(const ColumnReader&) = delete;

    int RowCount() const {
        DWORD_PTR count = 0;
        if (!::SendMessageTimeoutA(list_, LVM_GETITEMCOUNT, 0, 0, SMTO_ABORTIFHUNG, 5000, &count)) return -1;
        return static_cast<int>(count);
    }

    bool Read(int column, int count, std::vector<std::string>& texts) const {
        if (remote_ == nullptr || count < 0 || count > kMaxRows) return false;
        std::vector<char> block(static_cast<std::size_t>(count) * kSlot, '\0');
        for (int r = 0; r < count; ++r) {
            LVITEMA item = {};
            item.iSubItem = column;
            item.pszText = remote_ + r * kSlot + kRecord;
            item.cchTextMax = kText;
            std::memcpy(block.data() + r * kSlot, &item, sizeof item);
        }
        SIZE_T done = 0;
        if (count > 0 && !::WriteProcessMemory(process_.Get(), remote_, block.data(), block.size(), &done)) return false;
        for (int r = 0; r < count; ++r) {
            DWORD_PTR length = 0;
            if (!::SendMessageTimeoutA(list_, LVM_GETITEMTEXTA, static_cast<WPARAM>(r),
                                       reinterpret_cast<LPARAM>(remote_ + r * kSlot), SMTO_ABORTIFHUNG, 5000, &length)) {
                return false;
            }
        }
        if (count > 0 && !::ReadProcessMemory(process_.Get(), remote_, block.data(), block.size(), &done)) return false;
        texts.clear();
        for (int r = 0; r < count; ++r) {
            const char* text = block.data() + r * kSlot + kRecord;
            texts.emplace_back(text, strnlen(text, kText - 1));
        }
        return true;
    }

private:
    static constexpr int kMaxRows = 1024;
    static constexpr int kRecord = 64;  // an LVITEMA, rounded up
    static constexpr int kText = 64;    // enough for a PID or a process name to compare
    static constexpr int kSlot = kRecord + kText;
    static_assert(sizeof(LVITEMA) <= kRecord);

    HWND list_;
    UniqueHandle process_;
    char* remote_ = nullptr;
};

// The list is rebuilt in one step on Pelorin's interface thread, but a read of
// many cells can straddle a rebuild: the PIDs read before and after the names,
// with the row count unchanged around them, make one list.
bool ReadConsistently(const ColumnReader& list, ListRead& read, int& retries) {
    for (int attempt = 0; attempt < 10; ++attempt) {
        read.begun = ::GetTickCount();
        const int count = list.RowCount();
        std::vector<std::string> pids, names, again;
        const bool readAll = count >= 0 && list.Read(1, count, pids) && list.Read(0, count, names) &&
                             list.Read(1, count, again);
        const bool same = readAll && again == pids && list.RowCount() == count;
        read.ended = ::GetTickCount();
        if (same) {
            read.rows.clear();
            for (int r = 0; r < count; ++r) {
                read.rows.emplace_back(names[r], static_cast<DWORD>(std::strtoul(pids[r].c_str(), nullptr, 10)));
            }
            return true;
        }
        ++retries;
    }
    return false;
}

struct ChurnFigures {
    int reads = 0;
    int retries = 0;
    int childRows = 0;
    int duplicates = 0;
    int staleRows = 0;
    long maxLagMs = -1;  // the longest a row of an ended child was still seen
    std::string problems;
};

void CheckRead(const ListRead& read, const std::vector<ChildRecord>& records, ChurnFigures& f) {
    std::set<DWORD> seen;
    for (const auto& [name, pid] : read.rows) {
        if (!seen.insert(pid).second) {
            ++f.duplicates;
            f.problems += "PID " + std::to_string(pid) + " listed twice; ";
        }
        if (name != "pelorin_child.exe") continue;
        ++f.childRows;
        // The latest child started under this PID before the read ended is
        // the only one a row can stand for; the ones before it had ended.
        const ChildRecord* latest = nullptr;
        for (const ChildRecord& r : records) {
            if (r.pid == pid && r.started <= read.ended && (!latest || r.started >= latest->started)) latest = &r;
        }
        if (latest == nullptr) continue;  // a child of another program
        if (latest->ended == 0 || static_cast<LONG>(read.begun - latest->ended) <= 0) continue;  // still running
        const long age = static_cast<long>(read.begun - latest->ended);
        if (age > static_cast<long>(kRowLifetimeLimitMs)) {
            ++f.staleRows;
            f.problems += "PID " + std::to_string(pid) + " listed " + std::to_string(age) + " ms after it ended; ";
        }
        f.maxLagMs = std::max(f.maxLagMs, age);
    }
}

TEST(Churn, NoDuplicatePidAndNoRowOutlivesItsProcessByMoreThanTwoRefreshes) {
    e2e::RegistryKeyGuard registry;
    const DWORD durationMs = static_cast<DWORD>(Scaled(10, 60)) * 1000;
    PelorinProcess pelorin;
    ASSERT_TRUE(pelorin.Start());
    const HWND form = pelorin.WaitForWindow();
    ASSERT_NE(form, nullptr);
    const PelorinWindow w = ControlsOf(form);
    ASSERT_TRUE(w.Complete());
    const ColumnReader list(w.processes);
    ASSERT_TRUE(WaitUntil([&] { return list.RowCount() > 0; }, 15000));

    ChurnFigures f;
    int started = 0;
    {
        ChildChurn churn(20, durationMs);
        while (churn.Running()) {
            const DWORD next = ::GetTickCount() + 200;
            ASSERT_TRUE(pelorin.Running()) << "Pelorin ended during the churn";
            ListRead read;
            if (ReadConsistently(list, read, f.retries)) {
                ++f.reads;
                CheckRead(read, churn.Records(), f);
            }
            const DWORD now = ::GetTickCount();
            if (static_cast<LONG>(next - now) > 0) ::Sleep(next - now);
        }
        churn.Stop();
        started = static_cast<int>(churn.Records().size());
        EXPECT_EQ(churn.FailedStarts(), 0);

        // Every child has ended: two refreshes later none of them is listed.
        ::Sleep(kRowLifetimeLimitMs);
        ListRead read;
        ASSERT_TRUE(ReadConsistently(list, read, f.retries));
        ++f.reads;
        CheckRead(read, churn.Records(), f);
    }
    const std::string name = SoakRun() ? "churn (soak)" : "churn";
    PrintFigure(name, "children started / over seconds / per second",
                std::to_string(started) + " / " + std::to_string(durationMs / 1000) + " / " +
                    Fixed(started / (durationMs / 1000.0), 1));
    PrintFigure(name, "consistent list reads / retried reads", std::to_string(f.reads) + " / " + std::to_string(f.retries));
    PrintFigure(name, "child rows checked", std::to_string(f.childRows));
    PrintFigure(name, "duplicate PIDs in a read", std::to_string(f.duplicates));
    PrintFigure(name, "rows seen more than " + std::to_string(kRowLifetimeLimitMs) + " ms after their process ended",
                std::to_string(f.staleRows));
    PrintFigure(name, "longest a row was seen after its process ended (ms)", std::to_string(f.maxLagMs));
    EXPECT_EQ(f.problems, "");
    EXPECT_GT(f.childRows, 0);
    EXPECT_GT(started, static_cast<int>(durationMs / 1000) * 10) << "the helper fell far short of 20 a second";

    ASSERT_TRUE(pelorin.Running());
    ASSERT_TRUE(::PostMessageA(form, WM_CLOSE, 0, 0));
    const auto code = pelorin.WaitExitCode(3000);
    ASSERT_TRUE(code.has_value()) << "still running 3 s after WM_CLOSE";
    EXPECT_EQ(*code, 0u);
}

}  // namespace
}  // namespace pelorin::reliability
