// Move-only owners for the platform handles the program opens, and scope
// guards for device contexts and selected GDI objects. Copying is deleted so a
// handle can never be closed twice.
#pragma once

#include <windows.h>

#include <utility>

namespace pelorin {

// Owns a value of type T that is released with Close(T) unless it equals one of
// the empty values. Both empty values read as "no handle".
template <typename T, typename Traits>
class UniqueResource {
public:
    UniqueResource() noexcept = default;
    explicit UniqueResource(T value) noexcept : value_(value) {}
    ~UniqueResource() { Reset(); }

    UniqueResource(const UniqueResource&) = delete;
    UniqueResource& operator=(const UniqueResource&) = delete;

    UniqueResource(UniqueResource&& other) noexcept : value_(other.Release()) {}
    UniqueResource& operator=(UniqueResource&& other) noexcept {
        if (this != &other) Reset(other.Release());
        return *this;
    }

    T Get() const noexcept { return value_; }
    bool Valid() const noexcept { return !Traits::IsEmpty(value_); }
    explicit operator bool() const noexcept { return Valid(); }

    // Gives up ownership without closing.
    T Release() noexcept { return std::exchange(value_, Traits::Empty()); }

    void Reset(T value = Traits::Empty()) noexcept {
        T old = std::exchange(value_, value);
        if (!Traits::IsEmpty(old)) Traits::Close(old);
    }

    // For APIs that return the handle through an out parameter.
    T* Put() noexcept {
        Reset();
        return &value_;
    }

private:
    T value_ = Traits::Empty();
};

struct KernelHandleTraits {
    static HANDLE Empty() noexcept { return nullptr; }
    static bool IsEmpty(HANDLE h) noexcept { return h == nullptr || h == INVALID_HANDLE_VALUE; }
    static void Close(HANDLE h) noexcept { ::CloseHandle(h); }
};

struct RegistryKeyTraits {
    static HKEY Empty() noexcept { return nullptr; }
    static bool IsEmpty(HKEY h) noexcept { return h == nullptr; }
    static void Close(HKEY h) noexcept { ::RegCloseKey(h); }
};

struct LibraryTraits {
    static HMODULE Empty() noexcept { return nullptr; }
    static bool IsEmpty(HMODULE h) noexcept { return h == nullptr; }
    static void Close(HMODULE h) noexcept { ::FreeLibrary(h); }
};

template <typename G>
struct GdiObjectTraits {
    static G Empty() noexcept { return nullptr; }
    static bool IsEmpty(G h) noexcept { return h == nullptr; }
    static void Close(G h) noexcept { ::DeleteObject(h); }
};

struct MenuTraits {
    static HMENU Empty() noexcept { return nullptr; }
    static bool IsEmpty(HMENU h) noexcept { return h == nullptr; }
    static void Close(HMENU h) noexcept { ::DestroyMenu(h); }
};

struct WindowTraits {
    static HWND Empty() noexcept { return nullptr; }
    static bool IsEmpty(HWND h) noexcept { return h == nullptr; }
    static void Close(HWND h) noexcept { ::DestroyWindow(h); }
};

using UniqueHandle = UniqueResource<HANDLE, KernelHandleTraits>;
using UniqueKey = UniqueResource<HKEY, RegistryKeyTraits>;
using UniqueLibrary = UniqueResource<HMODULE, LibraryTraits>;
using UniqueFont = UniqueResource<HFONT, GdiObjectTraits<HFONT>>;
using UniqueBrush = UniqueResource<HBRUSH, GdiObjectTraits<HBRUSH>>;
using UniqueMenu = UniqueResource<HMENU, MenuTraits>;
using UniqueWindow = UniqueResource<HWND, WindowTraits>;

// GetDC / ReleaseDC for the lifetime of a scope.
class ScopedWindowDC {
public:
    explicit ScopedWindowDC(HWND window) noexcept : window_(window), dc_(::GetDC(window)) {}
    ~ScopedWindowDC() {
        if (dc_) ::ReleaseDC(window_, dc_);
    }
    ScopedWindowDC(const ScopedWindowDC&) = delete;
    ScopedWindowDC& operator=(const ScopedWindowDC&) = delete;

    HDC Get() const noexcept { return dc_; }

private:
    HWND window_;
    HDC dc_;
};

// SelectObject for the lifetime of a scope; the previous object is put back.
class ScopedSelect {
public:
    ScopedSelect(HDC dc, HGDIOBJ object) noexcept
        : dc_(dc), previous_(object ? ::SelectObject(dc, object) : nullptr) {}
    ~ScopedSelect() {
        if (previous_) ::SelectObject(dc_, previous_);
    }
    ScopedSelect(const ScopedSelect&) = delete;
    ScopedSelect& operator=(const ScopedSelect&) = delete;

private:
    HDC dc_;
    HGDIOBJ previous_;
};

}  // namespace pelorin
