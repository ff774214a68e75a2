#include "support/LiteRegistry.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdio>
#include <cstdint>
#include <string>

#include "fixtures/ProcessCounters.h"

namespace pelorin {
namespace {

// Every test works under its own throwaway key in the real HKCU hive and
// removes it again, whatever the test did.
class LiteRegistry : public ::testing::Test {
protected:
    void SetUp() override {
        path_ = "SOFTWARE\\PelorinTest-" + std::to_string(::GetCurrentProcessId());
        ::RegDeleteTreeA(HKEY_CURRENT_USER, path_.c_str());
        key_ = CreateKey(HKEY_CURRENT_USER, path_.c_str(), false);
        ASSERT_NE(key_, nullptr);
    }

    void TearDown() override {
        CloseKey(key_);
        ::RegDeleteTreeA(HKEY_CURRENT_USER, path_.c_str());
        EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, path_.c_str()));
    }

    void SetRaw(const char* name, DWORD type, const void* data, DWORD size) {
        ASSERT_EQ(::RegSetValueExA(key_, name, 0, type, static_cast<const BYTE*>(data), size), ERROR_SUCCESS);
    }

    // The stored type and data as the platform reports them.
    bool GetRaw(const char* name, DWORD& type, DWORD& data, DWORD& size) {
        size = sizeof data;
        return ::RegQueryValueExA(key_, name, nullptr, &type, reinterpret_cast<BYTE*>(&data), &size) == ERROR_SUCCESS;
    }

    std::string path_;
    HKEY key_ = nullptr;
};

TEST_F(LiteRegistry, MissingKeysAndValues) {
    EXPECT_EQ(OpenKey(key_, "Missing", kKeyRead), nullptr);
    EXPECT_FALSE(KeyExists(key_, "Missing"));
    CloseKey(nullptr);  // harmless

    EXPECT_FALSE(ValueExists(key_, "absent"));
    EXPECT_FALSE(ValueIsInteger(key_, "absent"));
    EXPECT_EQ(ReadInteger(key_, "absent"), 0);
    EXPECT_FALSE(ReadFlag(key_, "absent"));
}

TEST_F(LiteRegistry, NullKeyFailsQuietly) {
    EXPECT_FALSE(ValueExists(nullptr, "x"));
    EXPECT_FALSE(ValueIsInteger(nullptr, "x"));
    EXPECT_EQ(ReadInteger(nullptr, "x"), 0);
    EXPECT_NE(WriteInteger(nullptr, "x", 1), ERROR_SUCCESS);
    EXPECT_FALSE(KeyExists(nullptr, "x"));
}

TEST_F(LiteRegistry, IntegersRoundTripAsFourByteDwords) {
    for (std::int32_t value : {0, 1, -5, INT_MIN, INT_MAX, 189}) {
        ASSERT_EQ(WriteInteger(key_, "frmleft", value), ERROR_SUCCESS);
        DWORD type = 0, data = 0, size = 0;
        ASSERT_TRUE(GetRaw("frmleft", type, data, size));
        EXPECT_EQ(type, static_cast<DWORD>(REG_DWORD));
        EXPECT_EQ(size, 4u);
        EXPECT_EQ(data, static_cast<DWORD>(value));
        EXPECT_TRUE(ValueExists(key_, "frmleft"));
        EXPECT_TRUE(ValueIsInteger(key_, "frmleft"));
        EXPECT_EQ(ReadInteger(key_, "frmleft"), value);
    }
}

TEST_F(LiteRegistry, FlagsStoreZeroOrOne) {
    ASSERT_EQ(WriteFlag(key_, "StayOnTop", true), ERROR_SUCCESS);
    DWORD type = 0, data = 0, size = 0;
    ASSERT_TRUE(GetRaw("StayOnTop", type, data, size));
    EXPECT_EQ(data, 1u);
    EXPECT_TRUE(ReadFlag(key_, "StayOnTop"));

    ASSERT_EQ(WriteFlag(key_, "StayOnTop", false), ERROR_SUCCESS);
    ASSERT_TRUE(GetRaw("StayOnTop", type, data, size));
    EXPECT_EQ(data, 0u);
    EXPECT_FALSE(ReadFlag(key_, "StayOnTop"));

    ASSERT_EQ(WriteInteger(key_, "StayOnTop", 5), ERROR_SUCCESS);
    EXPECT_TRUE(ReadFlag(key_, "StayOnTop"));
}

TEST_F(LiteRegistry, ValuesOfOtherSizesReadAsZero) {
    const char text[] = "a longer text value";
    SetRaw("text", REG_SZ, text, sizeof text);
    EXPECT_TRUE(ValueExists(key_, "text"));
    EXPECT_FALSE(ValueIsInteger(key_, "text"));
    EXPECT_EQ(ReadInteger(key_, "text"), 0);

    const unsigned char eight[] = {0x44, 0x33, 0x22, 0x11, 0x88, 0x77, 0x66, 0x55};
    SetRaw("eight", REG_BINARY, eight, sizeof eight);
    EXPECT_EQ(ReadInteger(key_, "eight"), 0);  // not its first four bytes
    SetRaw("qword", REG_QWORD, eight, sizeof eight);
    EXPECT_FALSE(ValueIsInteger(key_, "qword"));
    EXPECT_EQ(ReadInteger(key_, "qword"), 0);

    // A shorter value must not leave a half-filled or older answer behind.
    ASSERT_EQ(WriteInteger(key_, "short", 0x7F7F7F7F), ERROR_SUCCESS);
    const unsigned char two[] = {0x01, 0x02};
    SetRaw("short", REG_BINARY, two, sizeof two);
    EXPECT_TRUE(ValueExists(key_, "short"));
    EXPECT_EQ(ReadInteger(key_, "short"), 0);
    SetRaw("short", REG_DWORD, two, sizeof two);
    EXPECT_FALSE(ValueIsInteger(key_, "short"));
    EXPECT_EQ(ReadInteger(key_, "short"), 0);

    // Four bytes of another type: the size fits, the type does not.
    const unsigned char four[] = {0x01, 0x00, 0x00, 0x00};
    SetRaw("binary4", REG_BINARY, four, sizeof four);
    EXPECT_FALSE(ValueIsInteger(key_, "binary4"));
}

TEST_F(LiteRegistry, CreateKeyMakesEveryMissingLevel) {
    ASSERT_FALSE(KeyExists(key_, "marrowby"));
    EXPECT_EQ(CreateKey(key_, "marrowby\\pelorin", true), nullptr);  // closed at once
    EXPECT_TRUE(KeyExists(key_, "marrowby"));
    EXPECT_TRUE(KeyExists(key_, "marrowby\\pelorin"));

    // Without closing it answers a usable key, also for an existing one.
    const HKEY product = CreateKey(key_, "marrowby\\pelorin", false);
    ASSERT_NE(product, nullptr);
    EXPECT_EQ(WriteInteger(product, "pelorinno", 1234), ERROR_SUCCESS);
    CloseKey(product);

    const HKEY reader = OpenKey(key_, "marrowby\\pelorin", kKeyRead);
    ASSERT_NE(reader, nullptr);
    EXPECT_EQ(ReadInteger(reader, "pelorinno"), 1234);
    CloseKey(reader);
}

TEST_F(LiteRegistry, ExistenceTestsLeaveNoHandleOpen) {
    CloseKey(CreateKey(key_, "present", false));
    const unsigned long before = fixtures::OwnHandleCount();
    ASSERT_GT(before, 0u) << "the handle count cannot be read here";
    for (int i = 0; i < 500; ++i) {
        ASSERT_TRUE(KeyExists(key_, "present"));
        ASSERT_FALSE(KeyExists(key_, "missing"));
        CloseKey(CreateKey(key_, "present", true));
    }
    const unsigned long after = fixtures::OwnHandleCount();
    std::printf("handles before %lu, after 1500 calls %lu\n", before, after);
    // A leak would add one handle per successful open (1000 here).
    EXPECT_LT(after, before + 20);
}

}  // namespace
}  // namespace pelorin
