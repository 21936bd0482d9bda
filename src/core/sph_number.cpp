#include "core/sph_number.hpp"

#include <charconv>
#include <string>
#include <system_error>

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
