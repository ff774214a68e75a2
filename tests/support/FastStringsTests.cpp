#include "support/FastStrings.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <cstdint>
#include <string>

#include "fixtures/ChildProcess.h"

namespace pelorin {
namespace {

TEST(FindText, FindsFirstOccurrenceFromStart) {
    EXPECT_EQ(FindText("abcabd", "abd", true, 1), 4);
    EXPECT_EQ(FindText("abcabd", "abd", true, 4), 4);
    EXPECT_EQ(FindText("abcabd", "abd", true, 5), -1);
    EXPECT_EQ(FindText("abcabd", "ab", true, 2), 4);
    EXPECT_EQ(FindText("abcabd", "abcabd", true, 1), 1);
    EXPECT_EQ(FindText("abcabd", "d", true, 6), 6);
}

TEST(FindText, UnusableArgumentsGiveMinusOne) {
    EXPECT_EQ(FindText("abcabd", "abd", true, 0), -1);
    EXPECT_EQ(FindText("abcabd", "abd", true, -7), -1);
    EXPECT_EQ(FindText("", "a", true, 1), -1);
    EXPECT_EQ(FindText("abc", "", true, 1), -1);
    EXPECT_EQ(FindText("abc", "c", true, 4), -1);
    EXPECT_EQ(FindText("abc", "c", true, INT_MAX), -1);
    EXPECT_EQ(FindText("ab", "abc", true, 1), -1);
}

TEST(FindText, CaseInsensitiveUsesUpperCaseMap) {
    InitUpperCaseMap();
    EXPECT_EQ(FindText("ABC", "b", false, 1), 2);
    EXPECT_EQ(FindText("ABC", "b", true, 1), -1);
    EXPECT_EQ(FindText("xxNoTePaD.ExE", "notepad.exe", false, 1), 3);
    EXPECT_EQ(UpperCaseOf('a'), 'A');
    EXPECT_EQ(UpperCaseOf('Z'), 'Z');
    EXPECT_EQ(UpperCaseOf('5'), '5');
    EXPECT_EQ(UpperCaseOf(0), 0);
}

TEST(FindText, CaseInsensitiveFollowsTheAnsiCodePage) {
    if (::GetACP() != 1252) GTEST_SKIP() << "code page " << ::GetACP();
    // e acute / E acute in Windows-1252: beyond ASCII, yet one letter in two cases.
    EXPECT_EQ(UpperCaseOf(0xE9), 0xC9);
    EXPECT_EQ(FindText("caf\xC9", "\xE9", false, 1), 4);
    EXPECT_EQ(FindText("caf\xC9", "\xE9", true, 1), -1);
}

TEST(FindText, OneCharacterPatterns) {
    EXPECT_EQ(FindText("banana", "a", true, 1), 2);
    EXPECT_EQ(FindText("banana", "a", true, 3), 4);
    EXPECT_EQ(FindText("a", "a", true, 1), 1);
    EXPECT_EQ(FindText("a", "A", false, 1), 1);
    EXPECT_EQ(FindText("b", "a", true, 1), -1);
}

TEST(FindText, NeverReadsPastTheText) {
    // The view ends before "d"; the bytes after it must never make a match.
    const std::string storage = "abcabdabd";
    const std::string_view text(storage.data(), 5);  // "abcab"
    EXPECT_EQ(FindText(text, "abd", true, 1), -1);
    EXPECT_EQ(FindText(text, "bd", true, 1), -1);
    EXPECT_EQ(FindText(text, "b", true, 3), 5);
    EXPECT_EQ(FindText(text, "ABD", false, 4), -1);
    EXPECT_EQ(FindText(std::string_view(storage.data(), 6), "abd", true, 1), 4);
}

// Every skip the search takes must agree with a plain scan.
TEST(FindText, AgreesWithPlainScanOnManyInputs) {
    std::uint32_t seed = 12345;
    auto next = [&seed] {
        seed = seed * 1103515245u + 12345u;
        return (seed >> 16) & 0x7FFF;
    };
    const char alphabet[] = "abAB";
    auto plainScan = [](const std::string& text, const std::string& pattern, bool cs, int start) {
        for (std::size_t at = static_cast<std::size_t>(start - 1); at + pattern.size() <= text.size(); ++at) {
            bool same = true;
            for (std::size_t k = 0; k < pattern.size() && same; ++k) {
                const auto a = static_cast<unsigned char>(text[at + k]);
                const auto b = static_cast<unsigned char>(pattern[k]);
                same = cs ? a == b : UpperCaseOf(a) == UpperCaseOf(b);
            }
            if (same) return static_cast<int>(at + 1);
        }
        return -1;
    };
    for (int round = 0; round < 3000; ++round) {
        std::string text(1 + next() % 24, 'a');
        for (char& c : text) c = alphabet[next() % 4];
        std::string pattern(1 + next() % 5, 'a');
        for (char& c : pattern) c = alphabet[next() % 4];
        const bool cs = next() % 2 == 0;
        const int start = 1 + static_cast<int>(next() % text.size());
        ASSERT_EQ(FindText(text, pattern, cs, start), plainScan(text, pattern, cs, start))
            << "text " << text << " pattern " << pattern << " cs " << cs << " start " << start;
    }
}

TEST(TextPos, NeverNegative) {
    EXPECT_EQ(TextPos("abd", "abcabd", true), 4);
    EXPECT_EQ(TextPos("x", "abcabd", true), 0);
    EXPECT_EQ(TextPos("", "abc", true), 0);
    EXPECT_EQ(TextPos("a", "", true), 0);
    EXPECT_EQ(TextPos("B", "abc", false), 2);
}

TEST(LastDelimiterPos, FindsLastDelimiter) {
    EXPECT_EQ(LastDelimiterPos("\\", "C:\\a\\b.exe"), 5);
    EXPECT_EQ(LastDelimiterPos("\\", "b.exe"), 0);
    EXPECT_EQ(LastDelimiterPos("\\", ""), 0);
    EXPECT_EQ(LastDelimiterPos("\\:", "C:x"), 2);
    EXPECT_EQ(LastDelimiterPos("", "C:\\x"), 0);
}

TEST(LastDelimiterPos, TrailByteOfDoubleByteCharacterIsNotABackslash) {
    if (!::IsValidCodePage(932)) GTEST_SKIP() << "no Shift-JIS tables";
    // 0x95 0x5C is one Shift-JIS character whose second byte is the backslash code.
    const std::string path = "C:\\\x95\x5C" "a";
    EXPECT_EQ(LastDelimiterPosInCodePage("\\", path, 932), 3);
    EXPECT_EQ(LastDelimiterPosInCodePage("\\", path, 1252), 5);
    EXPECT_EQ(LastDelimiterPosInCodePage("\\", "C:\\\x95\x5C\\x", 932), 6);
}

TEST(PathHelpers, ExtractDirectory) {
    EXPECT_EQ(ExtractDirectory("C:\\dir\\sub\\file.exe"), "C:\\dir\\sub\\");
    EXPECT_EQ(ExtractDirectory("file.exe"), "");
    EXPECT_EQ(ExtractDirectory("C:\\"), "C:\\");
    EXPECT_EQ(ExtractDirectory(""), "");
}

TEST(PathHelpers, IncludeTrailingCharacter) {
    EXPECT_EQ(IncludeTrailingBackslash("C:"), "C:\\");
    EXPECT_EQ(IncludeTrailingBackslash("C:\\"), "C:\\");
    EXPECT_EQ(IncludeTrailingBackslash(""), "\\");
    EXPECT_EQ(IncludeTrailingChar("ab", 'b'), "ab");
    EXPECT_EQ(IncludeTrailingChar("ab", 'c'), "abc");
}

TEST(PathHelpers, ProgramDirectoryHoldsTheFixtures) {
    const std::string directory = ProgramDirectory();
    ASSERT_FALSE(directory.empty());
    EXPECT_EQ(directory.back(), '\\');
    EXPECT_EQ(directory, fixtures::FixturePath(""));
    const DWORD attributes = ::GetFileAttributesA((directory + "pelorin_child.exe").c_str());
    EXPECT_NE(attributes, INVALID_FILE_ATTRIBUTES);
}

TEST(StringFromBuffer, StopsAtZeroOrAtCapacity) {
    struct {
        char buffer[4];
        char after[4];
    } memory = {{'a', 'b', 'c', 'd'}, {'X', 'Y', 'Z', 0}};
    EXPECT_EQ(StringFromBuffer(memory.buffer, sizeof memory.buffer), "abcd");
    memory.buffer[2] = 0;
    EXPECT_EQ(StringFromBuffer(memory.buffer, sizeof memory.buffer), "ab");
    EXPECT_EQ(StringFromBuffer(memory.buffer, 0), "");
    EXPECT_EQ(StringFromBuffer(nullptr, 10), "");
}

TEST(Numbers, LargeToFloat) {
    EXPECT_EQ(LargeToFloat(5, 0), 5.0);
    EXPECT_EQ(LargeToFloat(0, 1), 4294967296.0);
    EXPECT_EQ(LargeToFloat(0xFFFFFFFFu, 0), 4294967295.0);
    EXPECT_EQ(LargeToFloat(0xFFFFFFFFu, -1), -1.0);
    EXPECT_EQ(LargeToFloat(0, -2), -8589934592.0);
}

TEST(Numbers, IntToText) {
    EXPECT_EQ(IntToText(0), "0");
    EXPECT_EQ(IntToText(42), "42");
    EXPECT_EQ(IntToText(-1), "-1");
    EXPECT_EQ(IntToText(INT_MAX), "2147483647");
    EXPECT_EQ(IntToText(INT_MIN), "-2147483648");
}

TEST(Numbers, TextToIntSignsAndStops) {
    EXPECT_EQ(TextToInt("-12"), -12);
    EXPECT_EQ(TextToInt("+7"), 7);
    EXPECT_EQ(TextToInt("x1"), 0);
    EXPECT_EQ(TextToInt(""), 0);
    EXPECT_EQ(TextToInt(" 12"), 0);
    EXPECT_EQ(TextToInt("12abc"), 12);
    EXPECT_EQ(TextToInt("007"), 7);
    EXPECT_EQ(TextToInt("-"), 0);
    EXPECT_EQ(TextToInt("--1"), 0);
    EXPECT_EQ(TextToInt("+-1"), 0);
}

TEST(Numbers, TextToIntWrapsAt32Bits) {
    EXPECT_EQ(TextToInt("4294967297"), 1);
    EXPECT_EQ(TextToInt("2147483648"), INT_MIN);
    EXPECT_EQ(TextToInt("-2147483648"), INT_MIN);
    EXPECT_EQ(TextToInt("2147483647"), INT_MAX);
    EXPECT_EQ(TextToInt("4294967295"), -1);
    EXPECT_EQ(TextToInt(IntToText(-123456)), -123456);
}

TEST(SizeToText, StepsAndTruncates) {
    EXPECT_EQ(SizeToText(0), "0");
    EXPECT_EQ(SizeToText(512), "512");
    EXPECT_EQ(SizeToText(1023), "1023");
    EXPECT_EQ(SizeToText(1024), "1K");
    EXPECT_EQ(SizeToText(1536), "1.5K");
    EXPECT_EQ(SizeToText(1535), "1.49K");
    EXPECT_EQ(SizeToText(1126), "1.09K");  // 1.0996: truncated, not rounded up
    EXPECT_EQ(SizeToText(1100), "1.07K");  // a zero first decimal is kept
    EXPECT_EQ(SizeToText(1034), "1K");     // 1.0097: both decimals zero
    EXPECT_EQ(SizeToText(1048576), "1M");
    EXPECT_EQ(SizeToText(1610612736.0), "1.5G");
    EXPECT_EQ(SizeToText(1023.999), "1023.99");
    EXPECT_EQ(SizeToText(3.125), "3.12");
    EXPECT_EQ(SizeToText(0.999), "0.99");
}

TEST(SizeToText, StopsAtTera) {
    EXPECT_EQ(SizeToText(std::ldexp(1.0, 40)), "1T");
    EXPECT_EQ(SizeToText(std::ldexp(1.0, 50)), "1024T");
    EXPECT_EQ(SizeToText(std::ldexp(1.0, 60)), "1048576T");
    // Beyond 2^31 T the whole part no longer fits 32 bits; it must not wrap.
    EXPECT_EQ(SizeToText(std::ldexp(1.0, 72)), "4294967296T");
}

// The processor figure: the same digits as SizeToText, but never a unit letter.
TEST(DecimalToText, NoUnitLetterWhateverTheSize) {
    EXPECT_EQ(DecimalToText(0), "0");
    EXPECT_EQ(DecimalToText(5), "5");
    EXPECT_EQ(DecimalToText(1.6666), "1.66");
    EXPECT_EQ(DecimalToText(12.5), "12.5");
    EXPECT_EQ(DecimalToText(101.999), "101.99");
    EXPECT_EQ(DecimalToText(1600), "1600");
    EXPECT_EQ(DecimalToText(6402.25), "6402.25");
    EXPECT_EQ(SizeToText(1600), "1.56K");
    EXPECT_EQ(DecimalToText(-2.5), "-2.5");
}

TEST(FloatToText, IntegersAreExact) {
    EXPECT_EQ(FloatToText(0), "0");
    EXPECT_EQ(FloatToText(-0.0), "0");
    EXPECT_EQ(FloatToText(100), "100");
    EXPECT_EQ(FloatToText(38), "38");
    EXPECT_EQ(FloatToText(-1), "-1");
    EXPECT_EQ(FloatToText(1e15), "1000000000000000");
    EXPECT_EQ(FloatToText(123456789012345.0), "123456789012345");
}

TEST(FloatToText, FifteenSignificantDigits) {
    EXPECT_EQ(FloatToText(12.5), "12.5");
    EXPECT_EQ(FloatToText(0.25), "0.25");
    EXPECT_EQ(FloatToText(0.1), "0.1");
    EXPECT_EQ(FloatToText(0.3), "0.3");
    EXPECT_EQ(FloatToText(1234.5678), "1234.5678");
    EXPECT_EQ(FloatToText(1.0 / 3), "0.333333333333333");
    EXPECT_EQ(FloatToText(2.0 / 3), "0.666666666666667");
    EXPECT_EQ(FloatToText(-2.0 / 3), "-0.666666666666667");
    EXPECT_EQ(FloatToText(0.000123), "0.000123");
    EXPECT_EQ(FloatToText(123456789012345678.0), "123456789012346000");
    EXPECT_EQ(FloatToText(9.999999999999999), "10");
}

TEST(FloatToText, TiesRoundToEven) {
    // Both are exact in binary with a 5 just after the 15th digit.
    EXPECT_EQ(FloatToText(100000000000000.5), "100000000000000");
    EXPECT_EQ(FloatToText(100000000000001.5), "100000000000002");
    EXPECT_EQ(FloatToText(10000000000000.25), "10000000000000.2");
    EXPECT_EQ(FloatToText(10000000000000.75), "10000000000000.8");
}

TEST(FloatToText, NeverAnExponent) {
    const std::string big = FloatToText(1e300);
    EXPECT_EQ(big.size(), 301u);
    EXPECT_EQ(big.substr(0, 2), "10");
    EXPECT_EQ(big.find_first_not_of('0', 1), std::string::npos);
    EXPECT_EQ(FloatToText(1e-20), "0.00000000000000000001");
    const std::string tiny = FloatToText(5e-324);  // the smallest denormal, 4.940656458412465e-324
    EXPECT_EQ(tiny.substr(0, 2), "0.");
    EXPECT_EQ(tiny.size(), 2u + 323u + 15u);
    EXPECT_EQ(tiny.substr(tiny.size() - 15), "494065645841247");
    EXPECT_EQ(FloatToText(std::nan("")), "NAN");
    EXPECT_EQ(FloatToText(-HUGE_VAL), "-INF");
}

TEST(ReplaceText, SixPassesFromTheStart) {
    std::string six = "aXbXcXdXeXfX";
    EXPECT_TRUE(ReplaceText(six, "X", ""));
    EXPECT_EQ(six, "abcdef");

    std::string seven = "XXXXXXX";
    EXPECT_TRUE(ReplaceText(seven, "X", ""));
    EXPECT_EQ(seven, "X");

    std::string five = "C:\\a\\b\\c\\d\\";
    EXPECT_FALSE(ReplaceText(five, "\\", ""));  // the sixth pass found nothing
    EXPECT_EQ(five, "C:abcd");

    std::string none = "abc";
    EXPECT_FALSE(ReplaceText(none, "x", "y"));
    EXPECT_EQ(none, "abc");
    EXPECT_FALSE(ReplaceText(none, "", "y"));
    EXPECT_EQ(none, "abc");
}

TEST(ReplaceText, ReplacementIsSearchedAgain) {
    std::string text = "a";
    EXPECT_TRUE(ReplaceText(text, "a", "aa"));
    EXPECT_EQ(text, "aaaaaaa");

    std::string cased = "Windows windows";
    ReplaceText(cased, "windows", "");
    EXPECT_EQ(cased, "Windows ");
}

TEST(TextHelpers, LowerCaseAsciiOnly) {
    EXPECT_EQ(LowerCaseAscii("NotePad.EXE"), "notepad.exe");
    EXPECT_EQ(LowerCaseAscii("@AZ[\xC0\xC9"), "@az[\xC0\xC9");
    EXPECT_EQ(LowerCaseAscii(""), "");
}

TEST(TextHelpers, FormatText) {
    const char* key = "CompanyName";
    const std::uintptr_t path[] = {0x0409, 0x04B0, reinterpret_cast<std::uintptr_t>(key)};
    EXPECT_EQ(FormatText("\\StringFileInfo\\%.4x%.4x\\%s", path), "\\StringFileInfo\\040904b0\\CompanyName");
    const std::uintptr_t negative[] = {static_cast<std::uintptr_t>(-5)};
    EXPECT_EQ(FormatText("%d items", negative), "-5 items");
    EXPECT_EQ(FormatText(nullptr, negative), "");

    // Output is cut to the platform's buffer, never beyond it.
    const std::string longText(3000, 'q');
    const std::uintptr_t one[] = {reinterpret_cast<std::uintptr_t>(longText.c_str())};
    const std::string formatted = FormatText("%s", one);
    EXPECT_LE(formatted.size(), 1023u);
    EXPECT_GT(formatted.size(), 0u);
    EXPECT_EQ(formatted.find_first_not_of('q'), std::string::npos);
}

TEST(TextHelpers, TextLengthAndCopyFrom) {
    EXPECT_EQ(TextLength(nullptr), 0u);
    EXPECT_EQ(TextLength("abc"), 3u);
    EXPECT_EQ(TextLength(""), 0u);
    EXPECT_EQ(CopyFrom("abcdef", 3), "cdef");
    EXPECT_EQ(CopyFrom("abcdef", 1), "abcdef");
    EXPECT_EQ(CopyFrom("abcdef", 6), "f");
    EXPECT_EQ(CopyFrom("abcdef", 7), "");
    EXPECT_EQ(CopyFrom("abcdef", 0), "abcdef");
}

}  // namespace
}  // namespace pelorin
