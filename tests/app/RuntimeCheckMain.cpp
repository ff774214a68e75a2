// pelorin_runtime_check.exe: linked with the program's runtime replacements
// (src/app/LeanRuntime.cpp) like Pelorin.exe, it works the runtime from many
// threads at once: exceptions thrown and caught, a static-local object whose
// construction takes a while, per-thread variables, and the containers'
// errors. Exit code 0 when all held; otherwise the number of the check that
// failed.
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

constexpr int kThreads = 8;
constexpr int kRounds = 2000;

LONG g_constructions = 0;
LONG g_failures = 0;
HANDLE g_start = nullptr;

struct Slow {
    int value = 0;
    Slow() {
        ::InterlockedIncrement(&g_constructions);
        ::Sleep(50);  // the other threads arrive meanwhile and must wait
        value = 42;
    }
};

int SharedValue() {
    static Slow slow;
    return slow.value;
}

struct Thrown {
    int round;
    std::string text;
};

thread_local int t_caught = 0;

void Fail() { ::InterlockedIncrement(&g_failures); }

DWORD WINAPI Worker(LPVOID parameter) {
    const int id = static_cast<int>(reinterpret_cast<INT_PTR>(parameter));
    ::WaitForSingleObject(g_start, INFINITE);
    if (SharedValue() != 42) Fail();
    for (int round = 0; round < kRounds; ++round) {
        try {
            if (round % 2) throw Thrown{round, "thread " + std::to_string(id)};
            throw round;
        } catch (const Thrown& thrown) {
            if (thrown.round != round || thrown.text != "thread " + std::to_string(id)) Fail();
            ++t_caught;
        } catch (int value) {
            if (value != round) Fail();
            ++t_caught;
        }
    }
    if (t_caught != kRounds) Fail();
    // A container's length error arrives as an exception the caller catches.
    try {
        std::string text;
        text.reserve(text.max_size() + 1);
        Fail();
    } catch (...) {
    }
    return 0;
}

}  // namespace

int main() {
    g_start = ::CreateEventA(nullptr, TRUE, FALSE, nullptr);
    std::vector<HANDLE> threads;
    for (int i = 0; i < kThreads; ++i) {
        threads.push_back(::CreateThread(nullptr, 0, Worker, reinterpret_cast<LPVOID>(static_cast<INT_PTR>(i)), 0, nullptr));
        if (threads.back() == nullptr) return 1;
    }
    ::SetEvent(g_start);
    if (::WaitForMultipleObjects(kThreads, threads.data(), TRUE, 60000) != WAIT_OBJECT_0) return 2;
    for (HANDLE thread : threads) ::CloseHandle(thread);
    if (g_constructions != 1) return 3;
    if (g_failures != 0) return 4;
    // The main thread's own per-thread variable was never touched by the others.
    if (t_caught != 0) return 5;
    std::printf("runtime check passed\n");
    return 0;
}
