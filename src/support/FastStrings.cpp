#include "support/FastStrings.h"

#include <windows.h>

#include <cmath>
#include <cstring>

#include "support/SystemInfo.h"

namespace pelorin {

namespace {

struct UpperCaseTable {
    unsigned char map[256];
    UpperCaseTable() noexcept {
        for (int i = 0; i < 256; ++i) map[i] = static_cast<unsigned char>(i);
        // Byte 0 is upper-cased like any other: the buffer is passed with its length.
        ::CharUpperBuffA(reinterpret_cast<char*>(map), 256);
    }
};

const UpperCaseTable& UpperCaseMap() noexcept {
    // Built once; the initialisation of a local static is thread-safe.
    static const UpperCaseTable table;
    return table;
}

// Decimal digits of an unsigned 64-bit value.
std::string UnsignedToText(std::uint64_t value) {
    char digits[24];
    char* end = digits + sizeof digits;
    char* p = end;
    do {
        *--p = static_cast<char>('0' + value % 10);
        value /= 10;
    } while (value != 0);
    return std::string(p, end);
}

// Exact decimal digits of a positive finite double, so that rounding to 15
// significant digits sees the real value and not a scaled approximation.
// Writes the digits without leading zeros and answers how many there are;
// the value is digits * 10^exponent10.
class DecimalExpansion {
public:
    explicit DecimalExpansion(double x) noexcept {
        int exponent2 = 0;
        const double fraction = std::frexp(x, &exponent2);  // x = fraction * 2^exponent2
        std::uint64_t mantissa = static_cast<std::uint64_t>(std::ldexp(fraction, 53));
        exponent2 -= 53;
        while ((mantissa & 1) == 0 && exponent2 < 0) {
            mantissa >>= 1;
            ++exponent2;
        }
        limbs_[0] = static_cast<std::uint32_t>(mantissa % kBase);
        limbs_[1] = static_cast<std::uint32_t>(mantissa / kBase % kBase);
        limbs_[2] = static_cast<std::uint32_t>(mantissa / kBase / kBase);
        used_ = 3;
        if (exponent2 >= 0) {
            // value = mantissa * 2^e
            for (int e = exponent2; e > 0; e -= 30) MultiplyBy(std::uint32_t(1) << (e < 30 ? e : 30));
            exponent10_ = 0;
        } else {
            // value = mantissa * 2^-k = mantissa * 5^k / 10^k
            for (int k = -exponent2; k > 0; k -= 13) MultiplyBy(PowerOfFive(k < 13 ? k : 13));
            exponent10_ = exponent2;
        }
        WriteDigits();
    }

    const char* Digits() const noexcept { return digits_; }
    int DigitCount() const noexcept { return count_; }
    int Exponent10() const noexcept { return exponent10_; }

private:
    static constexpr std::uint32_t kBase = 1000000000;
    // mantissa * 5^1074 has 767 digits; 2^1024 has 309.
    static constexpr int kMaxLimbs = 96;

    static std::uint32_t PowerOfFive(int k) noexcept {
        std::uint32_t p = 1;
        while (k-- > 0) p *= 5;
        return p;
    }

    void MultiplyBy(std::uint32_t factor) noexcept {
        std::uint64_t carry = 0;
        for (int i = 0; i < used_; ++i) {
            const std::uint64_t product = std::uint64_t(limbs_[i]) * factor + carry;
            limbs_[i] = static_cast<std::uint32_t>(product % kBase);
            carry = product / kBase;
        }
        while (carry != 0 && used_ < kMaxLimbs) {
            limbs_[used_++] = static_cast<std::uint32_t>(carry % kBase);
            carry /= kBase;
        }
    }

    void WriteDigits() noexcept {
        while (used_ > 1 && limbs_[used_ - 1] == 0) --used_;
        char* p = digits_;
        bool leading = true;
        for (int i = used_ - 1; i >= 0; --i) {
            std::uint32_t limb = limbs_[i];
            char nine[9];
            for (int d = 8; d >= 0; --d) {
                nine[d] = static_cast<char>('0' + limb % 10);
                limb /= 10;
            }
            for (char c : nine) {
                if (leading && c == '0') continue;
                leading = false;
                *p++ = c;
            }
        }
        count_ = static_cast<int>(p - digits_);
    }

    std::uint32_t limbs_[kMaxLimbs] = {};
    int used_ = 0;
    int exponent10_ = 0;
    char digits_[kMaxLimbs * 9] = {};
    int count_ = 0;
};

}  // namespace

std::string_view WholeCharacters(std::string_view text, std::size_t maxBytes, unsigned int codePage) {
    if (text.size() <= maxBytes) return text;
    if (codePage == CP_ACP) codePage = ::GetACP();
    std::size_t kept = 0;
    if (codePage == CP_UTF8) {
        // A UTF-8 character's later bytes are 10xxxxxx: step back over at most three of them.
        kept = maxBytes;
        for (int step = 0; step < 3 && kept > 0 && (static_cast<unsigned char>(text[kept]) & 0xC0) == 0x80; ++step) --kept;
        return text.substr(0, kept);
    }
    while (kept < text.size()) {
        const std::size_t width = ::IsDBCSLeadByteEx(codePage, static_cast<BYTE>(text[kept])) ? 2 : 1;
        if (kept + width > maxBytes) break;
        kept += width;
    }
    return text.substr(0, kept);
}

std::wstring WideFromAnsi(std::string_view text) {
    if (text.empty()) return std::wstring();
    const int length = static_cast<int>(text.size());
    const int needed = ::MultiByteToWideChar(CP_ACP, 0, text.data(), length, nullptr, 0);
    if (needed <= 0) return std::wstring();
    std::wstring wide(static_cast<std::size_t>(needed), L'\0');
    ::MultiByteToWideChar(CP_ACP, 0, text.data(), length, wide.data(), needed);
    return wide;
}

std::string AnsiFromWide(std::wstring_view text) {
    if (text.empty()) return std::string();
    const int length = static_cast<int>(text.size());
    const int needed = ::WideCharToMultiByte(CP_ACP, 0, text.data(), length, nullptr, 0, nullptr, nullptr);
    if (needed <= 0) return std::string();
    std::string ansi(static_cast<std::size_t>(needed), '\0');
    ::WideCharToMultiByte(CP_ACP, 0, text.data(), length, ansi.data(), needed, nullptr, nullptr);
    return ansi;
}

std::wstring LongPathForm(std::string_view path) {
    std::wstring wide = WideFromAnsi(path);
    if (wide.size() < MAX_PATH) return wide;
    const bool drive = wide.size() > 2 && wide[1] == L':' && wide[2] == L'\\';
    const bool share = wide.compare(0, 2, L"\\\\") == 0 && wide.compare(0, 4, L"\\\\?\\") != 0 &&
                       wide.compare(0, 4, L"\\\\.\\") != 0;
    if (drive) return L"\\\\?\\" + wide;
    if (share) return L"\\\\?\\UNC" + wide.substr(1);
    return wide;
}

void InitUpperCaseMap() {
    UpperCaseMap();
}

unsigned char UpperCaseOf(unsigned char b) {
    return UpperCaseMap().map[b];
}

int FindText(std::string_view text, std::string_view pattern, bool caseSensitive, int start) {
    if (text.empty() || pattern.empty() || start < 1) return -1;
    const long long length = static_cast<long long>(text.size());
    const long long m = static_cast<long long>(pattern.size());
    const long long n = length - (start - 1);  // characters from start to the end
    if (n < m) return -1;

    const unsigned char* map = UpperCaseMap().map;
    auto key = [&](char c) -> unsigned char {
        const auto b = static_cast<unsigned char>(c);
        return caseSensitive ? b : map[b];
    };

    std::int32_t skip[256];
    for (auto& entry : skip) entry = static_cast<std::int32_t>(m);
    for (long long i = 0; i + 1 < m; ++i) skip[key(pattern[i])] = static_cast<std::int32_t>(m - 1 - i);
    if (m == 1) skip[key(pattern[0])] = 0;

    // 0-based index of the text byte under the pattern's last character.
    long long p = (start - 1) + m - 1;
    const long long last = length - 1;
    while (p <= last) {
        long long j = m - 1;
        long long t = p;
        while (j >= 0 && key(text[t]) == key(pattern[j])) {
            --j;
            --t;
        }
        if (j < 0) return static_cast<int>(p - m + 2);
        p += skip[key(text[p])];
    }
    return -1;
}

int TextPos(std::string_view pattern, std::string_view text, bool caseSensitive) {
    const int found = FindText(text, pattern, caseSensitive, 1);
    return found < 1 ? 0 : found;
}

int LastDelimiterPosInCodePage(std::string_view delimiters, std::string_view text, unsigned int codePage) {
    // Walk whole characters so that the trail byte of a double-byte character
    // (which can be 0x5C in Shift-JIS) is never taken for a backslash. The
    // answer is a byte position, which is what ExtractDirectory cuts by.
    int found = 0;
    std::size_t i = 0;
    while (i < text.size()) {
        std::size_t width = 1;
        if (::IsDBCSLeadByteEx(codePage, static_cast<BYTE>(text[i])) && i + 1 < text.size()) width = 2;
        const std::string_view character = text.substr(i, width);
        if (width == 1 ? TextPos(character, delimiters, true) > 0
                       : delimiters.find(character) != std::string_view::npos) {
            found = static_cast<int>(i + 1);
        }
        i += width;
    }
    return found;
}

int LastDelimiterPos(std::string_view delimiters, std::string_view text) {
    return LastDelimiterPosInCodePage(delimiters, text, CP_ACP);
}

std::string ExtractDirectory(std::string_view path) {
    const int position = LastDelimiterPos("\\", path);
    return std::string(path.substr(0, static_cast<std::size_t>(position)));
}

std::string ProgramDirectory() {
    // Wide and whole: in UTF-8 a path of fewer than MAX_PATH characters may
    // take more bytes, and a folder may be longer still.
    const std::wstring path = WholePath([](wchar_t* buffer, DWORD size) { return ::GetModuleFileNameW(nullptr, buffer, size); });
    return path.empty() ? std::string() : ExtractDirectory(AnsiFromWide(path));
}

std::string StringFromBuffer(const char* buffer, std::size_t capacity) {
    if (buffer == nullptr) return std::string();
    const void* zero = std::memchr(buffer, 0, capacity);
    const std::size_t length = zero ? static_cast<std::size_t>(static_cast<const char*>(zero) - buffer) : capacity;
    return std::string(buffer, length);
}

double LargeToFloat(std::uint32_t low, std::int32_t high) {
    return static_cast<double>(high) * 4294967296.0 + static_cast<double>(low);
}

std::string IntToText(std::int32_t value) {
    if (value >= 0) return UnsignedToText(static_cast<std::uint64_t>(value));
    std::string text(1, '-');
    text += UnsignedToText(0 - static_cast<std::uint64_t>(static_cast<std::int64_t>(value)));
    return text;
}

std::int32_t TextToInt(std::string_view text) {
    std::size_t i = 0;
    bool negative = false;
    if (!text.empty() && (text[0] == '-' || text[0] == '+')) {
        negative = text[0] == '-';
        i = 1;
    }
    std::uint32_t value = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) value = value * 10u + static_cast<std::uint32_t>(text[i] - '0');
    if (negative) value = 0u - value;
    return static_cast<std::int32_t>(value);
}

std::string DecimalToText(double value) {
    if (std::isnan(value)) return "0";
    if (value < 0) {
        std::string text(1, '-');
        text += DecimalToText(-value);
        return text;
    }
    const double whole = std::trunc(value);
    // Far beyond any real figure (and infinity): the digits of the whole part only.
    if (!(whole < 9223372036854775808.0)) return FloatToText(whole);
    std::string text = UnsignedToText(static_cast<std::uint64_t>(whole));
    const int hundredths = static_cast<int>((value - whole) * 100);
    const int d1 = hundredths / 10;
    const int d2 = hundredths % 10;
    if (d2 != 0) {
        text += '.';
        text += static_cast<char>('0' + d1);
        text += static_cast<char>('0' + d2);
    } else if (d1 != 0) {
        text += '.';
        text += static_cast<char>('0' + d1);
    }
    return text;
}

std::string SizeToText(double value) {
    if (std::isnan(value)) return "0";
    if (value < 0) {
        std::string text(1, '-');
        text += SizeToText(-value);
        return text;
    }
    static const char kSuffixes[] = {'K', 'M', 'G', 'T'};
    char suffix = 0;
    for (char step : kSuffixes) {
        if (value < 1024) break;
        value /= 1024;
        suffix = step;
    }
    std::string text = DecimalToText(value);
    if (suffix) text += suffix;
    return text;
}

double SizeTextValue(std::string_view text) {
    const bool negative = !text.empty() && text.front() == '-';
    if (negative) text.remove_prefix(1);
    double value = 0, scale = 1;
    bool digits = false, point = false;
    std::size_t i = 0;
    for (; i < text.size(); ++i) {
        const char c = text[i];
        if (c >= '0' && c <= '9') {
            digits = true;
            if (point) scale /= 10;
            value = value * 10 + (c - '0');
        } else if (c == '.' && !point) {
            point = true;
        } else {
            break;
        }
    }
    if (!digits) return std::nan("");
    double unit = 1;
    if (i < text.size()) {
        static constexpr std::string_view kSuffixes = "KMGT";
        const std::size_t step = kSuffixes.find(text[i]);
        if (step == std::string_view::npos || i + 1 != text.size()) return std::nan("");
        for (std::size_t s = 0; s <= step; ++s) unit *= 1024;
    }
    const double figure = value * scale * unit;
    return negative ? -figure : figure;
}

std::string FloatToText(double value) {
    if (value == 0) return "0";
    if (std::isnan(value)) return "NAN";
    if (std::isinf(value)) return value < 0 ? "-INF" : "INF";
    std::string text;
    if (value < 0) {
        text = "-";
        value = -value;
    }

    const DecimalExpansion exact(value);
    const char* all = exact.Digits();
    const int count = exact.DigitCount();
    // Decimal exponent of the first digit.
    int exponent = count - 1 + exact.Exponent10();

    char digits[15];
    for (int i = 0; i < 15; ++i) digits[i] = i < count ? all[i] : '0';
    if (count > 15) {
        // Round half to even on the exact remainder.
        bool up = all[15] > '5';
        if (all[15] == '5') {
            bool beyond = false;
            for (int i = 16; i < count && !beyond; ++i) beyond = all[i] != '0';
            up = beyond || ((digits[14] - '0') % 2 == 1);
        }
        if (up) {
            int i = 14;
            while (i >= 0 && digits[i] == '9') digits[i--] = '0';
            if (i >= 0) {
                ++digits[i];
            } else {
                digits[0] = '1';
                ++exponent;
            }
        }
    }

    if (exponent >= 14) {
        text.append(digits, 15);
        text.append(static_cast<std::size_t>(exponent - 14), '0');
        return text;
    }
    std::string number;
    if (exponent < 0) {
        number = "0.";
        number.append(static_cast<std::size_t>(-exponent - 1), '0');
        number.append(digits, 15);
    } else {
        number.assign(digits, static_cast<std::size_t>(exponent + 1));
        number += '.';
        number.append(digits + exponent + 1, static_cast<std::size_t>(14 - exponent));
    }
    while (number.back() == '0') number.pop_back();
    if (number.back() == '.') number.pop_back();
    return text + number;
}

bool ReplaceText(std::string& text, std::string_view what, std::string_view replacement) {
    bool replaced = false;
    for (int pass = 0; pass < 6; ++pass) {
        const int position = FindText(text, what, true, 1);
        replaced = position > 0;
        if (replaced) text.replace(static_cast<std::size_t>(position - 1), what.size(), replacement);
    }
    return replaced;
}

std::string IncludeTrailingChar(std::string_view text, char c) {
    std::string result(text);
    if (result.empty() || result.back() != c) result += c;
    return result;
}

std::string IncludeTrailingBackslash(std::string_view text) {
    return IncludeTrailingChar(text, '\\');
}

std::string LowerCaseAscii(std::string_view text) {
    std::string result(text);
    for (char& c : result) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
    }
    return result;
}

std::string FormatText(const char* format, const std::uintptr_t* values) {
    if (format == nullptr) return std::string();
    char buffer[1024];
    // wvsprintfA reads its arguments as a va_list: a plain array of pointer-sized slots.
    const int written = ::wvsprintfA(buffer, format, reinterpret_cast<va_list>(const_cast<std::uintptr_t*>(values)));
    if (written <= 0) return std::string();
    return StringFromBuffer(buffer, static_cast<std::size_t>(written) < sizeof buffer ? static_cast<std::size_t>(written) : sizeof buffer);
}

std::size_t TextLength(const char* buffer) {
    return buffer ? std::strlen(buffer) : 0;
}

std::string CopyFrom(std::string_view text, int position) {
    if (position < 1) position = 1;
    if (static_cast<std::size_t>(position) > text.size()) return std::string();
    return std::string(text.substr(static_cast<std::size_t>(position - 1)));
}

}  // namespace pelorin
