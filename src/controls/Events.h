// Method pointers of the control layer: a code address plus a context value,
// called with the context first and the sender second. The Make* binders turn
// a free function taking the program's own record (for example MainForm&) into
// such a pointer without a cast at the call site:
//
//     SetOnClick(f.lblClose, MakeNotify<&CloseMainWindow>(f));
//     // with void CloseMainWindow(MainForm&, Control* sender)
#pragma once

#include <cstdint>
#include <type_traits>

namespace pelorin {

struct Control;
struct WorkerThread;

// OnClick, OnDestroy and menu item handlers.
struct NotifyEvent {
    void (*code)(void* context, Control* sender) = nullptr;
    void* context = nullptr;

    explicit operator bool() const noexcept { return code != nullptr; }
    void operator()(Control* sender) const {
        if (code) code(context, sender);
    }
};

// OnClose: accept starts true; a handler that clears it keeps the form open.
struct CloseEvent {
    void (*code)(void* context, Control* sender, bool& accept) = nullptr;
    void* context = nullptr;

    explicit operator bool() const noexcept { return code != nullptr; }
    void operator()(Control* sender, bool& accept) const {
        if (code) code(context, sender, accept);
    }
};

// What OnMouseDown receives. The first byte is the button: 1 left, 2 right,
// 3 middle; x and y are in the sender's client coordinates.
struct MouseInfo {
    std::uint8_t button = 0;
    std::int32_t x = 0;
    std::int32_t y = 0;
    std::uint32_t keys = 0;  // MK_* flags of the message
};

enum MouseButton : std::uint8_t { kLeftButton = 1, kRightButton = 2, kMiddleButton = 3 };

struct MouseEvent {
    void (*code)(void* context, Control* sender, const MouseInfo& mouse) = nullptr;
    void* context = nullptr;

    explicit operator bool() const noexcept { return code != nullptr; }
    void operator()(Control* sender, const MouseInfo& mouse) const {
        if (code) code(context, sender, mouse);
    }
};

// OnKeyDown: the virtual-key code of a key pressed in the control.
struct KeyEvent {
    void (*code)(void* context, Control* sender, std::uint32_t key) = nullptr;
    void* context = nullptr;

    explicit operator bool() const noexcept { return code != nullptr; }
    void operator()(Control* sender, std::uint32_t key) const {
        if (code) code(context, sender, key);
    }
};

// A worker thread's body; its result becomes the thread's exit code.
struct ExecuteEvent {
    std::uint32_t (*code)(void* context, WorkerThread* thread) = nullptr;
    void* context = nullptr;

    explicit operator bool() const noexcept { return code != nullptr; }
};

// A method run on the interface thread through Synchronize (also OnSuspend and
// OnResume).
struct ThreadMethod {
    void (*code)(void* context, WorkerThread* thread) = nullptr;
    void* context = nullptr;

    explicit operator bool() const noexcept { return code != nullptr; }
};

// The Synchronize variant that passes one extra value.
struct ThreadParamMethod {
    void (*code)(void* context, WorkerThread* thread, std::uintptr_t param) = nullptr;
    void* context = nullptr;

    explicit operator bool() const noexcept { return code != nullptr; }
};

// Binders. Fn is a free function whose first parameter is Context&.

template <auto Fn, typename Context>
NotifyEvent MakeNotify(Context& context) noexcept {
    static_assert(std::is_invocable_r_v<void, decltype(Fn), Context&, Control*>,
                  "handler must be void(Context&, Control*)");
    return {[](void* c, Control* sender) { Fn(*static_cast<Context*>(c), sender); }, &context};
}

template <auto Fn, typename Context>
CloseEvent MakeCloseHandler(Context& context) noexcept {
    static_assert(std::is_invocable_r_v<void, decltype(Fn), Context&, Control*, bool&>,
                  "handler must be void(Context&, Control*, bool& accept)");
    return {[](void* c, Control* sender, bool& accept) { Fn(*static_cast<Context*>(c), sender, accept); },
            &context};
}

template <auto Fn, typename Context>
MouseEvent MakeMouseHandler(Context& context) noexcept {
    static_assert(std::is_invocable_r_v<void, decltype(Fn), Context&, Control*, const MouseInfo&>,
                  "handler must be void(Context&, Control*, const MouseInfo&)");
    return {[](void* c, Control* sender, const MouseInfo& mouse) { Fn(*static_cast<Context*>(c), sender, mouse); },
            &context};
}

template <auto Fn, typename Context>
KeyEvent MakeKeyHandler(Context& context) noexcept {
    static_assert(std::is_invocable_r_v<void, decltype(Fn), Context&, Control*, std::uint32_t>,
                  "handler must be void(Context&, Control*, std::uint32_t key)");
    return {[](void* c, Control* sender, std::uint32_t key) { Fn(*static_cast<Context*>(c), sender, key); },
            &context};
}

template <auto Fn, typename Context>
ExecuteEvent MakeExecute(Context& context) noexcept {
    static_assert(std::is_invocable_r_v<std::uint32_t, decltype(Fn), Context&, WorkerThread*>,
                  "thread body must be std::uint32_t(Context&, WorkerThread*)");
    return {[](void* c, WorkerThread* thread) -> std::uint32_t { return Fn(*static_cast<Context*>(c), thread); },
            &context};
}

template <auto Fn, typename Context>
ThreadMethod MakeThreadMethod(Context& context) noexcept {
    static_assert(std::is_invocable_r_v<void, decltype(Fn), Context&, WorkerThread*>,
                  "method must be void(Context&, WorkerThread*)");
    return {[](void* c, WorkerThread* thread) { Fn(*static_cast<Context*>(c), thread); }, &context};
}

template <auto Fn, typename Context>
ThreadParamMethod MakeThreadParamMethod(Context& context) noexcept {
    static_assert(std::is_invocable_r_v<void, decltype(Fn), Context&, WorkerThread*, std::uintptr_t>,
                  "method must be void(Context&, WorkerThread*, std::uintptr_t)");
    return {[](void* c, WorkerThread* thread, std::uintptr_t param) { Fn(*static_cast<Context*>(c), thread, param); },
            &context};
}

}  // namespace pelorin
