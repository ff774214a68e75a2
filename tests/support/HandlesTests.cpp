#include "support/Handles.h"

#include <gtest/gtest.h>

#include <type_traits>
#include <utility>

namespace pelorin {
namespace {

static_assert(!std::is_copy_constructible_v<UniqueHandle> && !std::is_copy_assignable_v<UniqueHandle>);
static_assert(std::is_nothrow_move_constructible_v<UniqueKey>);

bool IsOpen(HANDLE handle) {
    DWORD flags = 0;
    return ::GetHandleInformation(handle, &flags) != FALSE;
}

TEST(UniqueHandle, BothEmptyValuesReadAsNoHandle) {
    EXPECT_FALSE(UniqueHandle().Valid());
    EXPECT_FALSE(UniqueHandle(INVALID_HANDLE_VALUE).Valid());
    UniqueHandle event(::CreateEventA(nullptr, TRUE, FALSE, nullptr));
    EXPECT_TRUE(event.Valid());
}

TEST(UniqueHandle, ClosesOnResetAndScopeEnd) {
    HANDLE raw = ::CreateEventA(nullptr, TRUE, FALSE, nullptr);
    ASSERT_TRUE(IsOpen(raw));
    {
        UniqueHandle owner(raw);
    }
    EXPECT_FALSE(IsOpen(raw));

    UniqueHandle owner(::CreateEventA(nullptr, TRUE, FALSE, nullptr));
    raw = owner.Get();
    owner.Reset();
    EXPECT_FALSE(IsOpen(raw));
    EXPECT_FALSE(owner.Valid());
}

TEST(UniqueHandle, MoveTransfersAndReleaseGivesUp) {
    UniqueHandle first(::CreateEventA(nullptr, TRUE, FALSE, nullptr));
    const HANDLE raw = first.Get();
    UniqueHandle second(std::move(first));
    EXPECT_FALSE(first.Valid());
    EXPECT_EQ(second.Get(), raw);

    UniqueHandle third(::CreateEventA(nullptr, TRUE, FALSE, nullptr));
    const HANDLE replaced = third.Get();
    third = std::move(second);  // closes what third held
    EXPECT_FALSE(IsOpen(replaced));
    EXPECT_EQ(third.Get(), raw);

    const HANDLE released = third.Release();
    EXPECT_FALSE(third.Valid());
    EXPECT_TRUE(IsOpen(released));
    EXPECT_TRUE(::CloseHandle(released));
}

TEST(ScopedSelect, PutsThePreviousObjectBack) {
    const HDC dc = ::CreateCompatibleDC(nullptr);
    ASSERT_NE(dc, nullptr);
    const HGDIOBJ original = ::GetCurrentObject(dc, OBJ_FONT);
    UniqueFont font(::CreateFontA(-12, 0, 0, 0, FW_NORMAL, 0, 0, 0, DEFAULT_CHARSET, 0, 0, 0, 0, "Tahoma"));
    ASSERT_TRUE(font.Valid());
    {
        ScopedSelect select(dc, font.Get());
        EXPECT_EQ(::GetCurrentObject(dc, OBJ_FONT), font.Get());
    }
    EXPECT_EQ(::GetCurrentObject(dc, OBJ_FONT), original);
    ::DeleteDC(dc);
}

}  // namespace
}  // namespace pelorin
