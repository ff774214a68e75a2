#include "support/LiteRegistry.h"

#include <gtest/gtest.h>

#include <string>

#include "common/TestSupport.h"

namespace pelorin {
namespace {

using namespace std::string_literals;

// What the settings cannot show: which stored values count as a 32-bit
// integer, and that the existence tests and CreateKey leave no handle open.
TEST(LiteRegistry, IntegersKeysAndHandles) {
    const test::ScratchKey scratch;
    const HKEY key = CreateKey(HKEY_CURRENT_USER, scratch.Path().c_str(), false);
    ASSERT_NE(key, nullptr);
    const struct { const char* name; DWORD type; std::string bytes; bool integer = false; int read = 0; } cases[] = {
        {"dword", REG_DWORD, "\x78\x56\x34\x12"s, true, 0x12345678}, {"text", REG_SZ, "a longer text value\0"s},
        {"binary8", REG_BINARY, "\x44\x33\x22\x11\x88\x77\x66\x55"s}, {"qword", REG_QWORD, "\x01\0\0\0\0\0\0\0"s},
        {"dword2", REG_DWORD, "\x01\x02"s}, {"binary2", REG_BINARY, "\x01\x02"s},
        // Four bytes of another type: ReadInteger sees the size only, so the settings ask ValueIsInteger first.
        {"binary4", REG_BINARY, "\x07\0\0\0"s, false, 7},
    };
    for (const auto& c : cases) {
        ASSERT_EQ(::RegSetValueExA(key, c.name, 0, c.type, reinterpret_cast<const BYTE*>(c.bytes.data()),
                                   static_cast<DWORD>(c.bytes.size())), ERROR_SUCCESS);
        EXPECT_TRUE(ValueExists(key, c.name)) << c.name;
        EXPECT_EQ(ValueIsInteger(key, c.name), c.integer) << c.name;
        EXPECT_EQ(ReadInteger(key, c.name), c.read) << c.name;
    }
    EXPECT_FALSE(ValueExists(key, "absent"));
    EXPECT_FALSE(ValueIsInteger(key, "absent"));
    EXPECT_EQ(ReadInteger(key, "absent"), 0);

    EXPECT_EQ(CreateKey(key, "marrowby\\pelorin", true), nullptr);  // closed at once
    EXPECT_TRUE(KeyExists(key, "marrowby"));
    EXPECT_TRUE(KeyExists(key, "marrowby\\pelorin"));
    EXPECT_FALSE(KeyExists(key, "missing"));

    const unsigned long before = test::OwnHandleCount();
    ASSERT_GT(before, 0u);
    for (int i = 0; i < 500; ++i) {
        KeyExists(key, "marrowby\\pelorin");
        KeyExists(key, "missing");
        CreateKey(key, "marrowby\\pelorin", true);
    }
    EXPECT_LT(test::OwnHandleCount(), before + 20) << "a leak adds one handle per successful open";
    CloseKey(key);
}

}  // namespace
}  // namespace pelorin
