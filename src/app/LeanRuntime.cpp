// Pelorin.exe links the C++ runtime statically. Left alone, the runtime
// brings along its demangler (for the message of an uncaught exception), its
// string-based exception classes with a second, older string implementation,
// and a whole POSIX threads library for a few locks: over half of a program
// that is otherwise well under 200 KB. These replace them.
//
// The error paths fire only on a programming error or exhausted memory, and
// each still throws, so the program's catch (...) handlers take the failure
// as before; nothing in the program catches these exceptions by their type.
// The thread functions are the few the runtime calls (its static-local
// guards, the exception machinery's locks and per-thread globals, the
// unwinder's registry), over the platform's own primitives.
//
// Only the executable links this file (GCC builds); the tests keep the
// runtime's own versions, and tests/app runs a helper linked with this file
// that throws, catches and initialises statics from many threads at once.
// Each group replaces a part of the runtime as a whole: a link that reports
// one of these defined twice means a new use pulled the runtime's own part
// in, and the missing function belongs here.
#include <windows.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <new>

namespace __gnu_cxx {

// An exception nothing caught: end at once, without the demangled message
// that nobody would see in a windowed program.
void __verbose_terminate_handler() { std::abort(); }

}  // namespace __gnu_cxx

namespace std {

[[noreturn]] void __throw_bad_alloc() { throw bad_alloc(); }
[[noreturn]] void __throw_bad_array_new_length() { throw bad_array_new_length(); }

// The containers' length and range errors, and the rest of the runtime's set:
// to the program a failed text or list operation is what running out of
// memory is.
[[noreturn]] void __throw_length_error(const char*) { throw bad_alloc(); }
[[noreturn]] void __throw_logic_error(const char*) { throw bad_alloc(); }
[[noreturn]] void __throw_out_of_range(const char*) { throw bad_alloc(); }
[[noreturn]] void __throw_out_of_range_fmt(const char*, ...) { throw bad_alloc(); }
[[noreturn]] void __throw_invalid_argument(const char*) { throw bad_alloc(); }
[[noreturn]] void __throw_domain_error(const char*) { throw bad_alloc(); }
[[noreturn]] void __throw_runtime_error(const char*) { throw bad_alloc(); }
[[noreturn]] void __throw_range_error(const char*) { throw bad_alloc(); }
[[noreturn]] void __throw_overflow_error(const char*) { throw bad_alloc(); }
[[noreturn]] void __throw_underflow_error(const char*) { throw bad_alloc(); }
[[noreturn]] void __throw_bad_cast() { throw bad_alloc(); }
[[noreturn]] void __throw_bad_typeid() { throw bad_alloc(); }
[[noreturn]] void __throw_bad_exception() { throw bad_alloc(); }

}  // namespace std

namespace {

// The POSIX types as the runtime was built against them (mingw-w64's
// winpthread): a once flag is a long, a key an unsigned, a mutex and a
// condition a pointer-sized value that starts as a static initializer
// (-1, or -2 and -3 for the error-checking and recursive kinds) until first use.
using OnceFlag = long;
using Key = unsigned;
using Handle = std::intptr_t;
static_assert(sizeof(OnceFlag) == sizeof(INIT_ONCE), "a once flag holds an INIT_ONCE");
static_assert(sizeof(Handle) == sizeof(LONG), "32-bit program");

bool IsInitializer(LONG value) { return value == 0 || value == -1 || value == -2 || value == -3; }

// The object behind a lazily made handle, made on first use by whichever
// thread gets there first.
template <typename Object, void (*Init)(Object*)>
Object* Lazy(Handle* slot) {
    auto* target = reinterpret_cast<volatile LONG*>(slot);
    LONG value = ::InterlockedCompareExchange(target, 0, 0);
    if (!IsInitializer(value)) return reinterpret_cast<Object*>(value);
    auto* made = static_cast<Object*>(::HeapAlloc(::GetProcessHeap(), 0, sizeof(Object)));
    if (made == nullptr) return nullptr;
    Init(made);
    const LONG previous = ::InterlockedCompareExchange(target, reinterpret_cast<LONG>(made), value);
    if (previous == value) return made;
    ::HeapFree(::GetProcessHeap(), 0, made);  // another thread was first (a condition holds no resource)
    return reinterpret_cast<Object*>(previous);
}

void InitLock(CRITICAL_SECTION* lock) { ::InitializeCriticalSection(lock); }
void InitCondition(CONDITION_VARIABLE* condition) { ::InitializeConditionVariable(condition); }

CRITICAL_SECTION* LockOf(Handle* mutex) { return Lazy<CRITICAL_SECTION, &InitLock>(mutex); }
CONDITION_VARIABLE* ConditionOf(Handle* condition) { return Lazy<CONDITION_VARIABLE, &InitCondition>(condition); }

BOOL CALLBACK RunOnce(PINIT_ONCE, PVOID function, PVOID*) {
    reinterpret_cast<void (*)()>(function)();
    return TRUE;
}

// Keys are fiber-local slots whose callback runs the key's destructor when a
// thread ends; the callback cannot be told its key, so each slot has its own.
constexpr int kKeySlots = 4;
void (*g_keyDestructors[kKeySlots])(void*) = {};

template <int Slot>
void NTAPI RunKeyDestructor(PVOID value) {
    if (value != nullptr && g_keyDestructors[Slot] != nullptr) g_keyDestructors[Slot](value);
}

constexpr PFLS_CALLBACK_FUNCTION kKeyCallbacks[kKeySlots] = {&RunKeyDestructor<0>, &RunKeyDestructor<1>,
                                                             &RunKeyDestructor<2>, &RunKeyDestructor<3>};
LONG g_keysUsed = 0;

}  // namespace

extern "C" {

int pthread_once(OnceFlag* once, void (*function)(void)) {
    ::InitOnceExecuteOnce(reinterpret_cast<PINIT_ONCE>(once), &RunOnce, reinterpret_cast<PVOID>(function), nullptr);
    return 0;
}

int pthread_key_create(Key* key, void (*destructor)(void*)) {
    const LONG slot = ::InterlockedIncrement(&g_keysUsed) - 1;
    if (slot >= kKeySlots) return EAGAIN;
    g_keyDestructors[slot] = destructor;
    const DWORD index = ::FlsAlloc(kKeyCallbacks[slot]);
    if (index == FLS_OUT_OF_INDEXES) return EAGAIN;
    *key = index;
    return 0;
}

void* pthread_getspecific(Key key) { return ::FlsGetValue(key); }

int pthread_setspecific(Key key, const void* value) {
    return ::FlsSetValue(key, const_cast<void*>(value)) ? 0 : EINVAL;
}

int pthread_mutex_init(Handle* mutex, const void*) {
    *mutex = -1;
    return LockOf(mutex) != nullptr ? 0 : ENOMEM;
}

int pthread_mutex_destroy(Handle* mutex) {
    const LONG value = static_cast<LONG>(*mutex);
    if (!IsInitializer(value)) {
        auto* lock = reinterpret_cast<CRITICAL_SECTION*>(value);
        ::DeleteCriticalSection(lock);
        ::HeapFree(::GetProcessHeap(), 0, lock);
    }
    *mutex = -1;
    return 0;
}

int pthread_mutex_lock(Handle* mutex) {
    CRITICAL_SECTION* lock = LockOf(mutex);
    if (lock == nullptr) return ENOMEM;
    ::EnterCriticalSection(lock);
    return 0;
}

int pthread_mutex_unlock(Handle* mutex) {
    const LONG value = static_cast<LONG>(*mutex);
    if (IsInitializer(value)) return EPERM;
    ::LeaveCriticalSection(reinterpret_cast<CRITICAL_SECTION*>(value));
    return 0;
}

int pthread_cond_wait(Handle* condition, Handle* mutex) {
    CONDITION_VARIABLE* variable = ConditionOf(condition);
    CRITICAL_SECTION* lock = LockOf(mutex);
    if (variable == nullptr || lock == nullptr) return ENOMEM;
    return ::SleepConditionVariableCS(variable, lock, INFINITE) ? 0 : EINVAL;
}

int pthread_cond_broadcast(Handle* condition) {
    // Never waited on: nobody to wake (a waiter makes it before it waits,
    // under the same mutex the broadcaster holds).
    const LONG value = static_cast<LONG>(*condition);
    if (!IsInitializer(value)) ::WakeAllConditionVariable(reinterpret_cast<CONDITION_VARIABLE*>(value));
    return 0;
}

}  // extern "C"
