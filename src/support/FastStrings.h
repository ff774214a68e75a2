// Text, path and number helpers shared by every subsystem. Texts are byte
// strings in the ANSI code page (UTF-8 where the system honours the
// program's manifest); positions at this interface are 1-based.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace pelorin {

// The longest start of text of at most maxBytes bytes that ends on a whole
// character of the code page (CP_ACP is 0): a UTF-8 character (up to four
// bytes) or a double-byte one is never cut.
std::string_view WholeCharacters(std::string_view text, std::size_t maxBytes, unsigned int codePage = 0);
// Between the ANSI code page and UTF-16; what the code page cannot hold
// becomes its default character, as in the platform's -A functions.
std::wstring WideFromAnsi(std::string_view text);
std::string AnsiFromWide(std::wstring_view text);
// A path for the wide file functions: one too long for MAX_PATH, on a drive
// or a share, gets the \\?\ prefix that lifts the limit; others pass as they are.
std::wstring LongPathForm(std::string_view path);

// Builds the 256-byte upper-case map with the platform's ANSI upper-casing.
// Runs once at start-up, before any thread; later calls do nothing.
void InitUpperCaseMap();
// The map's entry for byte b (the map is built on first use if needed).
unsigned char UpperCaseOf(unsigned char b);

// Boyer-Moore-Horspool search from a 1-based start position: the 1-based
// position of the first occurrence, or -1 (also for an empty text or pattern
// or a start below 1).
int FindText(std::string_view text, std::string_view pattern, bool caseSensitive, int start);
// FindText(text, pattern, caseSensitive, 1), with every result below 1 as 0.
int TextPos(std::string_view pattern, std::string_view text, bool caseSensitive);
// 1-based index of the last character of text found in delimiters; 0 if none.
// Double-byte characters of the ANSI code page count as one character (their
// trail byte is never matched alone); the index is a byte position.
int LastDelimiterPos(std::string_view delimiters, std::string_view text);
// The same in a given code page (CP_ACP is 0).
int LastDelimiterPosInCodePage(std::string_view delimiters, std::string_view text, unsigned int codePage);
// The directory of a path including its trailing backslash; empty without one.
std::string ExtractDirectory(std::string_view path);
// ExtractDirectory of the program's own executable.
std::string ProgramDirectory();
// The characters of a zero-terminated buffer up to the first zero byte, never
// more than capacity bytes (a full buffer with no terminator is cut there).
std::string StringFromBuffer(const char* buffer, std::size_t capacity);
// high (signed) * 2^32 + low (unsigned), as a double.
double LargeToFloat(std::uint32_t low, std::int32_t high);
std::string IntToText(std::int32_t value);
// Optional sign, then digits up to the first non-digit; wraps at 32 bits.
std::int32_t TextToInt(std::string_view text);
// The integer part and up to two truncated decimals, a trailing zero decimal
// dropped, never a unit letter: 3.125 gives 3.12, 12.5 gives 12.5, 250 gives 250.
std::string DecimalToText(double value);
// A byte count with up to four K/M/G/T steps, its digits as DecimalToText.
std::string SizeToText(double value);
// The figure a SizeToText or DecimalToText text stands for, for comparing
// such texts: "980K" is 980 x 1024, "2.42M" 2.42 x 1024^2, "3.12" is 3.12.
// NaN for a text that is no such figure.
double SizeTextValue(std::string_view text);
// Plain decimal with at most 15 significant digits, never an exponent.
std::string FloatToText(double value);
// Six passes, each replacing the first occurrence (case-sensitive). Answers
// whether the sixth pass replaced something.
bool ReplaceText(std::string& text, std::string_view what, std::string_view replacement);
std::string IncludeTrailingChar(std::string_view text, char c);
std::string IncludeTrailingBackslash(std::string_view text);
// Only the bytes A to Z change.
std::string LowerCaseAscii(std::string_view text);
// wvsprintfA into a 1024-byte buffer; arguments are 32-bit values in order
// (integers by value, texts as pointers to their characters).
std::string FormatText(const char* format, const std::uintptr_t* values);
std::size_t TextLength(const char* buffer);
// The characters from a 1-based position to the end.
std::string CopyFrom(std::string_view text, int position);

}  // namespace pelorin
