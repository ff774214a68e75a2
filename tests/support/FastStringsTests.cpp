#include "support/FastStrings.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <string>
#include <vector>

namespace pelorin {
namespace {

// One row per call: the call as written, what it gave, what it must give.
template <typename T> struct Row { const char* call; T actual, expected; };
#define ROW(call, expected) {#call, call, expected}
template <typename T> void Check(const std::vector<Row<T>>& rows) {
    for (const Row<T>& row : rows) EXPECT_EQ(row.actual, row.expected) << row.call;
}

// ReplaceText edits in place; this gives the edited copy.
std::string Replaced(std::string text, const char* what, const char* replacement) {
    ReplaceText(text, what, replacement);
    return text;
}

TEST(FastStrings, Table) {
    const std::string_view cut("abcabd", 5);  // the bytes after "abcab" must never match
    const std::uintptr_t path[] = {0x0409, 0x04B0, reinterpret_cast<std::uintptr_t>("CompanyName")};
    const std::uintptr_t negative[] = {static_cast<std::uintptr_t>(-5)};
    Check<int>({
        ROW(FindText("abcabd", "abd", true, 1), 4), ROW(FindText("abcabd", "abd", true, 4), 4),
        ROW(FindText("abcabd", "abd", true, 5), -1), ROW(FindText("abcabd", "abd", true, 0), -1),
        ROW(FindText("abcabd", "ab", true, 2), 4), ROW(FindText("ABC", "b", false, 1), 2),
        ROW(FindText("ABC", "b", true, 1), -1), ROW(FindText("xxNoTePaD.ExE", "notepad.exe", false, 1), 3),
        ROW(FindText("banana", "a", true, 3), 4), ROW(FindText("a", "a", true, 1), 1),
        ROW(FindText("a", "A", false, 1), 1), ROW(FindText("ab", "abc", true, 1), -1),
        ROW(FindText("abcab", "cab", true, 4), -1), ROW(FindText("abc", "c", true, 4), -1),
        ROW(FindText("abc", "c", true, INT_MAX), -1), ROW(FindText("", "a", true, 1), -1),
        ROW(FindText("abc", "", true, 1), -1), ROW(FindText(cut, "abd", true, 1), -1),
        ROW(FindText(cut, "ABD", false, 4), -1), ROW(FindText(cut, "b", true, 3), 5),
        ROW(TextPos("x", "abcabd", true), 0), ROW(TextPos("", "abc", true), 0), ROW(TextPos("a", "", true), 0),
        ROW(LastDelimiterPos("\\", "C:\\a\\b.exe"), 5), ROW(LastDelimiterPos("\\", "b.exe"), 0),
        ROW(LastDelimiterPos("\\", ""), 0), ROW(LastDelimiterPos("\\:", "C:x"), 2),
        ROW(LastDelimiterPos("", "C:\\x"), 0), ROW(LastDelimiterPosInCodePage("\\", "C:\\\x95\x5C" "a", 1252), 5),
        ROW(TextToInt("-12"), -12), ROW(TextToInt("+7"), 7), ROW(TextToInt("x1"), 0), ROW(TextToInt(""), 0),
        ROW(TextToInt(" 12"), 0), ROW(TextToInt("12abc"), 12), ROW(TextToInt("--1"), 0),
        ROW(TextToInt("4294967297"), 1), ROW(TextToInt("2147483648"), INT_MIN), ROW(TextToInt("4294967295"), -1),
    });
    Check<std::string>({
        ROW(ExtractDirectory("C:\\dir\\sub\\file.exe"), "C:\\dir\\sub\\"), ROW(ExtractDirectory("file.exe"), ""),
        ROW(ExtractDirectory("C:\\"), "C:\\"), ROW(IncludeTrailingBackslash("C:"), "C:\\"),
        ROW(IncludeTrailingBackslash("C:\\"), "C:\\"), ROW(IncludeTrailingBackslash(""), "\\"),
        ROW(LowerCaseAscii("NotePad.EXE"), "notepad.exe"), ROW(LowerCaseAscii("@AZ[\xC0\xC9"), "@az[\xC0\xC9"),
        // Six passes, each from the start of the text as the last one left it.
        ROW(Replaced("aXbXcXdXeXfX", "X", ""), "abcdef"), ROW(Replaced("XXXXXXX", "X", ""), "X"),
        ROW(Replaced("C:\\a\\b\\c\\d\\", "\\", ""), "C:abcd"), ROW(Replaced("abc", "", "y"), "abc"),
        ROW(Replaced("a", "a", "aa"), "aaaaaaa"), ROW(Replaced("Windows windows", "windows", ""), "Windows "),
        ROW(SizeToText(0), "0"), ROW(SizeToText(1023), "1023"), ROW(SizeToText(1024), "1K"),
        ROW(SizeToText(1536), "1.5K"), ROW(SizeToText(1535), "1.49K"), ROW(SizeToText(1126), "1.09K"),
        ROW(SizeToText(1034), "1K"), ROW(SizeToText(1610612736.0), "1.5G"), ROW(SizeToText(1023.999), "1023.99"),
        ROW(SizeToText(std::ldexp(1.0, 40)), "1T"), ROW(SizeToText(std::ldexp(1.0, 50)), "1024T"),
        ROW(SizeToText(std::ldexp(1.0, 72)), "4294967296T"),
        ROW(SizeToText(std::ldexp(1.0, 104)), "18446744073709600000T"), ROW(SizeToText(-1536), "-1.5K"),
        ROW(SizeToText(std::nan("")), "0"), ROW(DecimalToText(1.6666), "1.66"), ROW(DecimalToText(12.5), "12.5"),
        ROW(DecimalToText(1600), "1600"), ROW(DecimalToText(6402.25), "6402.25"), ROW(DecimalToText(-2.5), "-2.5"),
        ROW(DecimalToText(0.35), "0.35"),  // x87 arithmetic would keep 34.99... and print 0.34
        ROW(FloatToText(0), "0"), ROW(FloatToText(-0.0), "0"), ROW(FloatToText(-1), "-1"), ROW(FloatToText(0.1), "0.1"),
        ROW(FloatToText(0.3), "0.3"), ROW(FloatToText(1234.5678), "1234.5678"),
        ROW(FloatToText(2.0 / 3), "0.666666666666667"), ROW(FloatToText(1e15), "1000000000000000"),
        ROW(FloatToText(123456789012345678.0), "123456789012346000"), ROW(FloatToText(9.999999999999999), "10"),
        ROW(FloatToText(100000000000000.5), "100000000000000"), ROW(FloatToText(100000000000001.5), "100000000000002"),
        ROW(FloatToText(10000000000000.25), "10000000000000.2"),
        ROW(FloatToText(10000000000000.75), "10000000000000.8"), ROW(FloatToText(1e-20), "0.00000000000000000001"),
        ROW(IntToText(INT_MIN), "-2147483648"), ROW(IntToText(-1), "-1"),
        // A full buffer is cut at its end, never read into what follows.
        ROW(StringFromBuffer("abcdXYZ", 4), "abcd"), ROW(StringFromBuffer("ab\0d", 4), "ab"),
        ROW(StringFromBuffer(nullptr, 10), ""), ROW(FormatText("%d items", negative), "-5 items"),
        ROW(FormatText("\\StringFileInfo\\%.4x%.4x\\%s", path), "\\StringFileInfo\\040904b0\\CompanyName"),
    });
    Check<std::string_view>({  // cut between characters: a UTF-8 one is up to four bytes, a double-byte one two
        ROW(WholeCharacters("a中b", 1, CP_UTF8), "a"), ROW(WholeCharacters("a中b", 3, CP_UTF8), "a"), ROW(WholeCharacters("a中b", 4, CP_UTF8), "a中"),
        ROW(WholeCharacters("aé", 2, CP_UTF8), "a"), ROW(WholeCharacters("a𝄞", 4, CP_UTF8), "a"), ROW(WholeCharacters("a𝄞", 5, CP_UTF8), "a𝄞"),
        ROW(WholeCharacters("abc", 9, CP_UTF8), "abc"), ROW(WholeCharacters("中", 0, CP_UTF8), ""), ROW(WholeCharacters("\xE9\xE9", 1, 1252), "\xE9"),
    });
    Check<double>({
        ROW(LargeToFloat(0, 1), 4294967296.0), ROW(LargeToFloat(0xFFFFFFFFu, 0), 4294967295.0),
        ROW(LargeToFloat(0xFFFFFFFFu, -1), -1.0), ROW(LargeToFloat(0, -2), -8589934592.0),
    });
    if (::IsValidCodePage(932)) {  // 0x95 0x5C is one Shift-JIS character whose trail byte is the backslash code
        EXPECT_EQ(LastDelimiterPosInCodePage("\\", "C:\\\x95\x5C" "a", 932), 3);
        EXPECT_EQ(LastDelimiterPosInCodePage("\\", "C:\\\x95\x5C\\x", 932), 6);
        EXPECT_EQ(WholeCharacters("a\x95\x5C" "b", 2, 932), "a");
    }
}

}  // namespace
}  // namespace pelorin
