#include "core/sph_format.hpp"

#include <bit>
#include <charconv>
#include <cstdint>
#include <cstring>

#include "core/sph_pow10.hpp"

namespace {

using sph_pow10::sph_pow10_max;
using sph_pow10::sph_pow10_min;
using u128 = unsigned __int128;

constexpr std::uint64_t pow10_16 = 10000000000000000ull;
constexpr std::uint64_t pow10_17 = 100000000000000000ull;

// floor(n * log10(2)), exact for |n| <= 1200 (checked against exact integer
// arithmetic when the constant was chosen; the formatter needs -1074..1023).
int floor_log10_pow2(int n) {
    return (n * 78913) >> 18;
}

constexpr char digit_pairs[201] =
    "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
    "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
    "8081828384858687888990919293949596979899";

// Writes the 8 decimal digits of v < 10^8 with leading zeros.
inline void write8(char* out, std::uint32_t v) {
    const std::uint32_t hi = v / 10000;
    const std::uint32_t lo = v % 10000;
    std::memcpy(out, digit_pairs + 2 * (hi / 100), 2);
    std::memcpy(out + 2, digit_pairs + 2 * (hi % 100), 2);
    std::memcpy(out + 4, digit_pairs + 2 * (lo / 100), 2);
    std::memcpy(out + 6, digit_pairs + 2 * (lo % 100), 2);
}

// Scales x = m * 2^q (m normalized to [2^63, 2^64)) by 10^k and returns the
// integer part of the result; `frac` receives the next 64 fraction bits. The
// table mantissa is truncated, so the result is low by less than 2^-67 and
// the dropped fraction bits add less than 2^-64.
std::uint64_t scale(std::uint64_t m, int q, int k, std::uint64_t& frac) {
    const sph_pow10::Pow10Entry& p = sph_pow10::entry(k);
    const u128 lo = static_cast<u128>(m) * p.low;
    const u128 hi = static_cast<u128>(m) * p.high;
    const u128 mid = (lo >> 64) + static_cast<std::uint64_t>(hi);
    const std::uint64_t w1 = static_cast<std::uint64_t>(mid);
    const std::uint64_t w2 =
        static_cast<std::uint64_t>(hi >> 64) + static_cast<std::uint64_t>(mid >> 64);
    // product = w2:w1:w0 lies in [2^190, 2^192); value = product * 2^(q+b-127)
    // with an integer part below 2^60, so the binary point sits inside w2.
    const int r = -(q + p.b - 127) - 128;
    if (r <= 0 || r >= 64) {  // out of reach: the caller takes the exact path
        frac = 0;
        return 0;
    }
    frac = (w2 << (64 - r)) | (w1 >> r);
    return w2 >> r;
}

// 17 significant digits of |value| (finite, non-zero): digits in
// [10^16, 10^17) and the decimal exponent. Returns false when the fast path
// cannot decide the rounding (within 2^-63 of a half) or the scale is out of
// the fast path's reach.
bool digits_fast(std::uint64_t bits, std::uint64_t& digits, int& exponent) {
    const int biased = static_cast<int>((bits >> 52) & 0x7ff);
    std::uint64_t m = bits & ((std::uint64_t{1} << 52) - 1);
    int q;
    if (biased == 0) {
        q = -1074;
    } else {
        m |= std::uint64_t{1} << 52;
        q = biased - 1075;
    }
    const int lz = std::countl_zero(m);
    m <<= lz;
    q -= lz;
    // x in [2^(q+63), 2^(q+64)): its decimal exponent is e or e + 1.
    int e = floor_log10_pow2(q + 63);
    std::uint64_t frac = 0;
    std::uint64_t whole = 0;
    for (int attempt = 0; attempt < 3; ++attempt) {
        const int k = 16 - e;
        if (k < sph_pow10_min || k > sph_pow10_max) return false;
        whole = scale(m, q, k, frac);
        if (whole >= pow10_17) {
            ++e;
        } else if (whole < pow10_16) {
            --e;
        } else {
            break;
        }
    }
    if (whole < pow10_16 || whole >= pow10_17) return false;
    constexpr std::uint64_t half = std::uint64_t{1} << 63;
    if (frac == half || frac == half - 1) return false;  // possible tie: exact path
    if (frac > half) ++whole;
    if (whole == pow10_17) {
        whole = pow10_16;
        ++e;
    }
    digits = whole;
    exponent = e;
    return true;
}

// Exact path through the standard library's correctly rounded conversion.
void digits_exact(double magnitude, std::uint64_t& digits, int& exponent) {
    char text[40];
    const auto res =
        std::to_chars(text, text + sizeof(text), magnitude, std::chars_format::scientific, 16);
    // "d.dddddddddddddddde[+-]dd[d]"
    std::uint64_t d = static_cast<std::uint64_t>(text[0] - '0');
    for (int i = 2; i < 18; ++i) d = d * 10 + static_cast<std::uint64_t>(text[i] - '0');
    int e = 0;
    std::from_chars(text + 20, res.ptr, e);
    digits = d;
    exponent = text[19] == '-' ? -e : e;
}

// The 17 significant digits of a finite, non-zero magnitude.
void digits17(std::uint64_t magnitude_bits, std::uint64_t& digits, int& exponent) {
    if (!digits_fast(magnitude_bits, digits, exponent)) {
        digits_exact(std::bit_cast<double>(magnitude_bits), digits, exponent);
    }
}

// Writes the unsigned body: 22 characters "d.ddddddddddddddddE+dd", or for a
// three-digit exponent "d.dddddddddddddddd+ddd" (22) or, with `letter_always`,
// "d.ddddddddddddddddE+ddd" (23).
void write_body(char* out, std::uint64_t digits, int exponent, bool letter_always) {
    const std::uint64_t lead = digits / pow10_16;
    const std::uint64_t rest = digits % pow10_16;
    out[0] = static_cast<char>('0' + lead);
    out[1] = '.';
    write8(out + 2, static_cast<std::uint32_t>(rest / 100000000));
    write8(out + 10, static_cast<std::uint32_t>(rest % 100000000));
    const char sign = exponent < 0 ? '-' : '+';
    const int mag = exponent < 0 ? -exponent : exponent;
    if (mag <= 99) {
        out[18] = 'E';
        out[19] = sign;
        std::memcpy(out + 20, digit_pairs + 2 * mag, 2);
    } else if (letter_always) {
        out[18] = 'E';
        out[19] = sign;
        out[20] = static_cast<char>('0' + mag / 100);
        std::memcpy(out + 21, digit_pairs + 2 * (mag % 100), 2);
    } else {
        out[18] = sign;
        out[19] = static_cast<char>('0' + mag / 100);
        std::memcpy(out + 20, digit_pairs + 2 * (mag % 100), 2);
    }
}

// Writes a right-aligned text into the 24-character field.
char* write_padded(char* out, const char* text, std::size_t length) {
    std::memset(out, ' ', sph_format_real_width - length);
    std::memcpy(out + sph_format_real_width - length, text, length);
    return out + sph_format_real_width;
}

char* format_real(char* out, double value, bool vtk_form) {
    const std::uint64_t bits = std::bit_cast<std::uint64_t>(value);
    const bool negative = (bits >> 63) != 0;
    const std::uint64_t magnitude_bits = bits & ~(std::uint64_t{1} << 63);
    if (magnitude_bits >= 0x7ff0000000000000ull) {
        if (magnitude_bits > 0x7ff0000000000000ull) return write_padded(out, "NaN", 3);
        if (vtk_form) return negative ? write_padded(out, "-inf", 4) : write_padded(out, "inf", 3);
        return negative ? write_padded(out, "-Infinity", 9) : write_padded(out, "Infinity", 8);
    }
    out[0] = ' ';
    out[1] = negative ? '-' : ' ';
    if (magnitude_bits == 0) {
        std::memcpy(out + 2, "0.0000000000000000E+00", 22);
        return out + sph_format_real_width;
    }
    std::uint64_t digits = 0;
    int exponent = 0;
    digits17(magnitude_bits, digits, exponent);
    if (vtk_form && (exponent > 99 || exponent < -99)) {
        // The 23-character body takes one of the two leading blanks.
        out[0] = out[1];
        write_body(out + 1, digits, exponent, true);
    } else {
        write_body(out + 2, digits, exponent, false);
    }
    return out + sph_format_real_width;
}

}  // namespace

char* sph_format_real(char* out, double value) {
    return format_real(out, value, false);
}

char* sph_format_real_vtk(char* out, double value) {
    return format_real(out, value, true);
}

char* sph_format_real_trimmed(char* out, double value) {
    char field[sph_format_real_width];
    sph_format_real(field, value);
    std::size_t begin = 0;
    while (field[begin] == ' ') ++begin;
    const std::size_t length = sph_format_real_width - begin;
    std::memcpy(out, field + begin, length);
    return out + length;
}

char* sph_format_real_g17(char* out, double value) {
    const std::uint64_t bits = std::bit_cast<std::uint64_t>(value);
    const std::uint64_t magnitude_bits = bits & ~(std::uint64_t{1} << 63);
    if ((bits >> 63) != 0) *out++ = '-';
    if (magnitude_bits == 0) {
        *out++ = '0';
        return out;
    }
    std::uint64_t digits = 0;
    int exponent = 0;
    digits17(magnitude_bits, digits, exponent);
    char d[17];
    d[0] = static_cast<char>('0' + digits / pow10_16);
    const std::uint64_t rest = digits % pow10_16;
    write8(d + 1, static_cast<std::uint32_t>(rest / 100000000));
    write8(d + 9, static_cast<std::uint32_t>(rest % 100000000));
    int n = 17;  // significant digits left once trailing zeros are dropped
    while (n > 1 && d[n - 1] == '0') --n;
    if (exponent >= 0 && exponent < 17) {
        const int whole = exponent + 1;
        std::memcpy(out, d, static_cast<std::size_t>(whole));
        out += whole;
        if (n > whole) {
            *out++ = '.';
            std::memcpy(out, d + whole, static_cast<std::size_t>(n - whole));
            out += n - whole;
        }
        return out;
    }
    if (exponent < 0 && exponent >= -4) {
        const int zeros = -exponent - 1;
        std::memcpy(out, "0.0000", static_cast<std::size_t>(2 + zeros));
        out += 2 + zeros;
        std::memcpy(out, d, static_cast<std::size_t>(n));
        return out + n;
    }
    *out++ = d[0];
    if (n > 1) {
        *out++ = '.';
        std::memcpy(out, d + 1, static_cast<std::size_t>(n - 1));
        out += n - 1;
    }
    *out++ = 'e';
    *out++ = exponent < 0 ? '-' : '+';
    const int mag = exponent < 0 ? -exponent : exponent;
    if (mag >= 100) *out++ = static_cast<char>('0' + mag / 100);
    std::memcpy(out, digit_pairs + 2 * (mag % 100), 2);
    return out + 2;
}

char* sph_format_int(char* out, int value) {
    return std::to_chars(out, out + sph_format_int_max_width, value).ptr;
}

std::string sph_format_real_string(double value) {
    char field[sph_format_real_width];
    return std::string(field, sph_format_real(field, value));
}

std::string sph_format_int_string(int value) {
    char text[sph_format_int_max_width];
    return std::string(text, sph_format_int(text, value));
}
