#include "core/sph_number.hpp"

#include <bit>
#include <charconv>
#include <cstring>
#include <string>
#include <system_error>

#include "core/sph_pow10.hpp"

namespace {

bool is_blank(char c) {
    return c == ' ' || c == '\t';
}
bool is_digit(char c) {
    return c >= '0' && c <= '9';
}
bool is_exponent_letter(char c) {
    return c == 'E' || c == 'e' || c == 'D' || c == 'd';
}

// Shape of a valid real item, filled by scan_real.
struct RealShape {
    std::size_t mantissa_begin = 0;  // after a leading '+' (a '-' is kept)
    std::size_t exponent_letter = std::string_view::npos;
    bool negative = false;
};

bool scan_real(std::string_view s, RealShape& shape) {
    std::size_t i = 0;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) {
        shape.negative = s[i] == '-';
        if (s[i] == '+') shape.mantissa_begin = 1;
        ++i;
    }
    std::size_t digits = 0;
    while (i < s.size() && is_digit(s[i])) ++i, ++digits;
    if (i < s.size() && s[i] == '.') {
        ++i;
        while (i < s.size() && is_digit(s[i])) ++i, ++digits;
    }
    if (digits == 0) return false;
    if (i < s.size() && is_exponent_letter(s[i])) {
        shape.exponent_letter = i;
        ++i;
        if (i < s.size() && (s[i] == '+' || s[i] == '-')) ++i;
        std::size_t exp_digits = 0;
        while (i < s.size() && is_digit(s[i])) ++i, ++exp_digits;
        if (exp_digits == 0) return false;
    }
    return i == s.size();
}

// Decimal order of magnitude of a valid real item whose conversion was out of
// range: positive means overflow, zero or negative means underflow.
int64_t decimal_magnitude(std::string_view s, const RealShape& shape) {
    std::size_t i = (s[0] == '+' || s[0] == '-') ? 1 : 0;
    std::size_t end =
        shape.exponent_letter == std::string_view::npos ? s.size() : shape.exponent_letter;
    int64_t position = 0;  // digits before the point after leading zeros, or minus zeros after it
    bool found = false;
    bool after_point = false;
    int64_t zeros_after_point = 0;
    for (; i < end && !found; ++i) {
        char c = s[i];
        if (c == '.') {
            after_point = true;
        } else if (c != '0') {
            found = true;
            if (!after_point) {
                std::size_t j = i;
                while (j < end && is_digit(s[j])) ++j;
                position = static_cast<int64_t>(j - i);
            } else {
                position = -zeros_after_point;
            }
        } else if (after_point) {
            ++zeros_after_point;
        }
    }
    int64_t exponent = 0;
    if (shape.exponent_letter != std::string_view::npos) {
        std::size_t k = shape.exponent_letter + 1;
        bool negative = false;
        if (s[k] == '+' || s[k] == '-') negative = s[k++] == '-';
        for (; k < s.size(); ++k) {
            // Saturate: only the sign of the final magnitude matters.
            if (exponent < 1000000000) exponent = exponent * 10 + (s[k] - '0');
        }
        if (negative) exponent = -exponent;
    }
    return position + exponent;
}

template <typename Int>
bool read_integer(std::string_view text, Int& value) {
    std::string_view item = sph_number_first_item(text);
    // from_chars accepts a leading '-' only; a '+' is skipped here, and
    // "+-1", "--1" and "-+1" are refused.
    if (!item.empty() && item[0] == '+') {
        item.remove_prefix(1);
        if (!item.empty() && item[0] == '-') return false;
    }
    if (item.empty()) return false;
    std::size_t first_digit = item[0] == '-' ? 1 : 0;
    if (first_digit >= item.size() || !is_digit(item[first_digit])) return false;
    Int parsed{};
    auto [ptr, ec] = std::from_chars(item.data(), item.data() + item.size(), parsed);
    if (ec != std::errc() || ptr != item.data() + item.size()) return false;
    value = parsed;
    return true;
}

}  // namespace

std::string_view sph_number_first_item(std::string_view text) {
    std::size_t begin = 0;
    while (begin < text.size() && is_blank(text[begin])) ++begin;
    std::size_t end = begin;
    while (end < text.size() && !is_blank(text[end]) && text[end] != ',' && text[end] != '/') ++end;
    return text.substr(begin, end - begin);
}

bool sph_number_read_real(std::string_view text, double& value) {
    std::string_view item = sph_number_first_item(text);
    RealShape shape;
    if (!scan_real(item, shape)) return false;

    std::string_view digits = item.substr(shape.mantissa_begin);
    std::string converted;  // only for the D exponent form
    if (shape.exponent_letter != std::string_view::npos &&
        (item[shape.exponent_letter] == 'D' || item[shape.exponent_letter] == 'd')) {
        converted.assign(digits);
        converted[shape.exponent_letter - shape.mantissa_begin] = 'e';
        digits = converted;
    }
    double parsed = 0.0;
    auto [ptr, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), parsed,
                                     std::chars_format::general);
    if (ec == std::errc::result_out_of_range) {
        if (decimal_magnitude(item, shape) > 0) return false;
        value = shape.negative ? -0.0 : 0.0;
        return true;
    }
    if (ec != std::errc() || ptr != digits.data() + digits.size()) return false;
    value = parsed;
    return true;
}

bool sph_number_read_int(std::string_view text, int& value) {
    return read_integer(text, value);
}

bool sph_number_read_int64(std::string_view text, int64_t& value) {
    return read_integer(text, value);
}

namespace {

using u128 = unsigned __int128;

// Eight digits at p as a number, or false if the eight bytes are not all
// digits (the SWAR conversion of Lemire's fast_float; little-endian bytes).
inline bool eight_digits(const char* p, std::uint64_t& digits) {
    std::uint64_t v;
    std::memcpy(&v, p, 8);
    if (((v & 0xF0F0F0F0F0F0F0F0u) | (((v + 0x0606060606060606u) & 0xF0F0F0F0F0F0F0F0u) >> 4)) !=
        0x3333333333333333u) {
        return false;
    }
    v = (v & 0x0F0F0F0F0F0F0F0Fu) * 2561 >> 8;
    v = (v & 0x00FF00FF00FF00FFu) * 6553601 >> 16;
    digits = (v & 0x0000FFFF0000FFFFu) * 42949672960001u >> 32;
    return true;
}

// Digits from p into w, eight at a time while they last.
inline void accumulate_digits(const char*& p, const char* end, std::uint64_t& w) {
    std::uint64_t eight = 0;
    while (end - p >= 8 && eight_digits(p, eight)) {
        w = w * 100000000 + eight;
        p += 8;
    }
    for (; p < end && is_digit(*p); ++p) w = w * 10 + static_cast<std::uint64_t>(*p - '0');
}

// w * 10^e10 for w != 0 when it is a normal double decided from the 128-bit
// table (the Eisel-Lemire method): the table's truncated 10^e10 makes the
// 192-bit product low by less than 2^64, so the rounding is known unless the
// bits below the mantissa lie within that of a half.
bool scale_decimal(std::uint64_t w, int64_t e10, bool negative, double& value) {
    if (e10 < sph_pow10::sph_pow10_min || e10 > sph_pow10::sph_pow10_max) return false;
    const sph_pow10::Pow10Entry& p = sph_pow10::entry(static_cast<int>(e10));
    const int lz = std::countl_zero(w);
    const std::uint64_t wn = w << lz;
    const u128 lo = static_cast<u128>(wn) * p.low;
    const u128 hi = static_cast<u128>(wn) * p.high;
    // Product w2:w1:w0 in [2^190, 2^192); top = w2:w1.
    const u128 top = hi + (lo >> 64);
    const int shift = static_cast<int>(top >> 127) + 74;  // 53 bits above it
    std::uint64_t mantissa = static_cast<std::uint64_t>(top >> shift);
    const u128 rest = top & ((static_cast<u128>(1) << shift) - 1);
    const u128 half = static_cast<u128>(1) << (shift - 1);
    if (rest > half) {
        ++mantissa;
    } else if (rest + 1 >= half) {
        return false;  // within 2^64 of the half below: not decided here
    }
    int binary_shift = shift + 64;
    if (mantissa == std::uint64_t{1} << 53) {
        mantissa >>= 1;
        ++binary_shift;
    }
    // value = mantissa * 2^(binary_shift + b - 127 - lz), mantissa in [2^52, 2^53).
    const int biased = binary_shift + p.b - 127 - lz + 52 + 1023;
    if (biased < 1 || biased > 2046) return false;
    const std::uint64_t bits = (static_cast<std::uint64_t>(negative) << 63) |
                               (static_cast<std::uint64_t>(biased) << 52) |
                               (mantissa & ((std::uint64_t{1} << 52) - 1));
    value = std::bit_cast<double>(bits);
    return true;
}

}  // namespace

const char* sph_number_parse_plain_real(const char* p, const char* end, double& value) {
    static constexpr double exact_pow10[23] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                               1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                                               1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
    const bool negative = p < end && *p == '-';
    if (negative) ++p;
    // Leading zeros do not count towards the 19 significant digits that
    // always fit 64 bits.
    const char* const whole = p;
    while (p < end && *p == '0') ++p;
    std::uint64_t w = 0;
    const char* significant = p;
    accumulate_digits(p, end, w);
    bool any_digit = p > whole;
    std::ptrdiff_t digits = p - significant;
    int64_t after_point = 0;
    if (p < end && *p == '.') {
        const char* const fraction = ++p;
        if (w == 0) {
            while (p < end && *p == '0') ++p;
        }
        significant = p;
        accumulate_digits(p, end, w);
        digits += p - significant;
        after_point = p - fraction;
        any_digit = any_digit || after_point > 0;
    }
    if (!any_digit || digits > 19) return nullptr;
    int64_t exponent = 0;
    if (p < end && (*p == 'e' || *p == 'E')) {
        ++p;
        const bool exponent_negative = p < end && *p == '-';
        if (p < end && (*p == '+' || *p == '-')) ++p;
        const char* const exponent_digits = p;
        for (; p < end && is_digit(*p); ++p) {
            // Saturated far beyond any double; the table refuses it.
            if (exponent < 100000) exponent = exponent * 10 + (*p - '0');
        }
        if (p == exponent_digits) return nullptr;
        if (exponent_negative) exponent = -exponent;
    }
    if (w == 0) {
        value = negative ? -0.0 : 0.0;
        return p;
    }
    const int64_t e10 = exponent - after_point;
    if (w <= (std::uint64_t{1} << 53) && e10 >= -22 && e10 <= 22) {
        // Both operands exact: one correctly rounded operation.
        const double d = static_cast<double>(w);
        const double magnitude = e10 >= 0 ? d * exact_pow10[e10] : d / exact_pow10[-e10];
        value = negative ? -magnitude : magnitude;
        return p;
    }
    return scale_decimal(w, e10, negative, value) ? p : nullptr;
}
