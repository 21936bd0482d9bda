#include <gtest/gtest.h>

#include <bit>
#include <charconv>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <limits>
#include <random>
#include <string>

#include "core/sph_format.hpp"

namespace {

// The field as the C library prints it with "%.16E", reshaped to the file form:
// a three-digit exponent loses its letter, the text is right-aligned in 24.
std::string reference_field(double value) {
    char text[64];
    std::snprintf(text, sizeof(text), "%.16E", value);
    std::string s = text;
    if (std::isnan(value)) {
        s = "NaN";
    } else if (std::isinf(value)) {
        s = value < 0 ? "-Infinity" : "Infinity";
    } else {
        const std::size_t e = s.find('E');
        if (s.size() - e - 2 == 3) s.erase(e, 1);
    }
    return std::string(24 - s.size(), ' ') + s;
}

TEST(Format, DocumentedRealForms) {
    EXPECT_EQ(sph_format_real_string(1.5), "  1.5000000000000000E+00");
    EXPECT_EQ(sph_format_real_string(-2.5), " -2.5000000000000000E+00");
    EXPECT_EQ(sph_format_real_string(0.0), "  0.0000000000000000E+00");
    EXPECT_EQ(sph_format_real_string(-0.0), " -0.0000000000000000E+00");
    EXPECT_EQ(sph_format_real_string(0.1), "  1.0000000000000001E-01");
    EXPECT_EQ(sph_format_real_string(293.15), "  2.9314999999999998E+02");
    EXPECT_EQ(sph_format_real_string(-101325.5), " -1.0132550000000000E+05");
    // Exponents at the two-digit limit and beyond it.
    EXPECT_EQ(sph_format_real_string(1e99), "  9.9999999999999997E+98");
    EXPECT_EQ(sph_format_real_string(1e100), "  1.0000000000000000+100");
    EXPECT_EQ(sph_format_real_string(-1e100), " -1.0000000000000000+100");
    EXPECT_EQ(sph_format_real_string(1e-99), "  1.0000000000000000E-99");
    EXPECT_EQ(sph_format_real_string(1e-100), "  1.0000000000000000-100");
    EXPECT_EQ(sph_format_real_string(std::numeric_limits<double>::max()),
              "  1.7976931348623157+308");
    EXPECT_EQ(sph_format_real_string(std::numeric_limits<double>::min()),
              "  2.2250738585072014-308");
    // Subnormals down to the smallest one (exponent -324).
    EXPECT_EQ(sph_format_real_string(4.9e-324), "  4.9406564584124654-324");
    EXPECT_EQ(sph_format_real_string(-4.9e-324), " -4.9406564584124654-324");
    EXPECT_EQ(sph_format_real_string(1e-310), "  9.9999999999999694-311");
}

TEST(Format, NonFiniteValuesAreRightAligned) {
    const double inf = std::numeric_limits<double>::infinity();
    EXPECT_EQ(sph_format_real_string(std::nan("")), "                     NaN");
    EXPECT_EQ(sph_format_real_string(-std::nan("")), "                     NaN");
    EXPECT_EQ(sph_format_real_string(inf), "                Infinity");
    EXPECT_EQ(sph_format_real_string(-inf), "               -Infinity");
}

// VTU values differ only where VTK's ASCII reader would misread the file form.
TEST(Format, VtkFormKeepsTheExponentLetterAndWritesInf) {
    auto vtk = [](double value) {
        char field[sph_format_real_width + 1];
        field[sph_format_real_width] = '#';
        EXPECT_EQ(sph_format_real_vtk(field, value), field + sph_format_real_width);
        EXPECT_EQ(field[sph_format_real_width], '#');
        return std::string(field, sph_format_real_width);
    };
    const double inf = std::numeric_limits<double>::infinity();
    EXPECT_EQ(vtk(1e100), " 1.0000000000000000E+100");
    EXPECT_EQ(vtk(-1e-100), "-1.0000000000000000E-100");
    EXPECT_EQ(vtk(-4.9406564584124654e-324), "-4.9406564584124654E-324");
    EXPECT_EQ(vtk(inf), "                     inf");
    EXPECT_EQ(vtk(-inf), "                    -inf");
    EXPECT_EQ(vtk(std::nan("")), "                     NaN");
    for (double value : {0.0, -0.0, 1e99, -1e-99, 2.5, -101325.0}) {
        EXPECT_EQ(vtk(value), sph_format_real_string(value)) << value;
    }
}

TEST(Format, SeventeenthDigitRoundsExactlyWithTiesToEven) {
    // m / 4 with m odd in [2^52, 2^53) has 16 integer digits and a fraction of
    // .25 or .75: an exact tie at the 17th significant digit.
    EXPECT_EQ(sph_format_real_string(1125899906842624.25), "  1.1258999068426242E+15");
    EXPECT_EQ(sph_format_real_string(1125899906842624.75), "  1.1258999068426248E+15");
    EXPECT_EQ(sph_format_real_string(1125899906842625.25), "  1.1258999068426252E+15");
    EXPECT_EQ(sph_format_real_string(-1125899906842625.75), " -1.1258999068426258E+15");
    std::mt19937_64 rng(7);
    for (int i = 0; i < 10000; ++i) {
        const std::uint64_t m =
            (std::uint64_t{1} << 52) | (rng() & ((std::uint64_t{1} << 52) - 1)) | 1;
        const double tie = std::ldexp(static_cast<double>(m), -2 - static_cast<int>(rng() % 2));
        ASSERT_EQ(sph_format_real_string(tie), reference_field(tie)) << std::hexfloat << tie;
        const double near = std::nextafter(tie, 0.0);
        ASSERT_EQ(sph_format_real_string(near), reference_field(near)) << std::hexfloat << near;
    }
}

TEST(Format, MatchesTheCLibraryOnEveryScale) {
    // Powers of ten and their neighbours cover every decimal exponent.
    for (int k = -324; k <= 308; ++k) {
        const double p = std::strtod(("1e" + std::to_string(k)).c_str(), nullptr);
        for (double v : {p, std::nextafter(p, 0.0), std::nextafter(p, HUGE_VAL), -p}) {
            ASSERT_EQ(sph_format_real_string(v), reference_field(v)) << std::hexfloat << v;
        }
    }
    // Random bit patterns: all exponents, subnormals, NaNs and infinities.
    std::mt19937_64 rng(2024);
    for (int i = 0; i < 100000; ++i) {
        const double v = std::bit_cast<double>(rng());
        ASSERT_EQ(sph_format_real_string(v), reference_field(v)) << std::hexfloat << v;
    }
    // Short decimals, which sit far from the binary grid's halfway points.
    for (int i = -5000; i <= 5000; ++i) {
        const double v = i / 1000.0;
        ASSERT_EQ(sph_format_real_string(v), reference_field(v)) << v;
    }
}

TEST(Format, TrimmedRealAndIntegerForms) {
    char text[32];
    EXPECT_EQ(std::string(text, sph_format_real_trimmed(text, 3e-6)), "3.0000000000000001E-06");
    EXPECT_EQ(std::string(text, sph_format_real_trimmed(text, -1e100)), "-1.0000000000000000+100");
    EXPECT_EQ(std::string(text, sph_format_real_trimmed(text, std::nan(""))), "NaN");
    EXPECT_EQ(std::string(text, sph_format_real_trimmed(text, -HUGE_VAL)), "-Infinity");
    EXPECT_EQ(sph_format_int_string(0), "0");
    EXPECT_EQ(sph_format_int_string(-7), "-7");
    EXPECT_EQ(sph_format_int_string(1000000), "1000000");
    EXPECT_EQ(sph_format_int_string(INT_MAX), "2147483647");
    EXPECT_EQ(sph_format_int_string(INT_MIN), "-2147483648");
}

// The restart real as the standard library writes it.
std::string reference_g17(double value) {
    char text[64];
    return std::string(
        text, std::to_chars(text, text + sizeof(text), value, std::chars_format::general, 17).ptr);
}

std::string g17(double value) {
    char text[sph_format_real_g17_max_width];
    return std::string(text, sph_format_real_g17(text, value));
}

TEST(FormatG17, DocumentedForms) {
    EXPECT_EQ(g17(0.0), "0");
    EXPECT_EQ(g17(-0.0), "-0");
    EXPECT_EQ(g17(0.1), "0.10000000000000001");
    EXPECT_EQ(g17(1.5), "1.5");
    EXPECT_EQ(g17(1000.0), "1000");
    EXPECT_EQ(g17(1e16), "10000000000000000");
    EXPECT_EQ(g17(1e17), "1e+17");
    EXPECT_EQ(g17(1e-4), "0.0001");
    EXPECT_EQ(g17(1e-5), "1.0000000000000001e-05");
    EXPECT_EQ(g17(1e100), "1e+100");
    EXPECT_EQ(g17(-std::numeric_limits<double>::min()), "-2.2250738585072014e-308");
    EXPECT_EQ(g17(4.9e-324), "4.9406564584124654e-324");
    // A tie at the 17th digit rounds to even.
    EXPECT_EQ(g17(1125899906842624.25), "1125899906842624.2");
    EXPECT_EQ(g17(1125899906842624.75), "1125899906842624.8");
}

TEST(FormatG17, MatchesTheStandardLibraryBitForBit) {
    auto expect_same = [](double v) { ASSERT_EQ(g17(v), reference_g17(v)) << std::hexfloat << v; };
    // Powers of ten and their neighbours: every decimal exponent and both
    // sides of the switches between fixed and exponent notation.
    for (int k = -324; k <= 308; ++k) {
        const double p = std::strtod(("1e" + std::to_string(k)).c_str(), nullptr);
        for (double v : {p, std::nextafter(p, 0.0), std::nextafter(p, HUGE_VAL), -p}) {
            expect_same(v);
        }
    }
    // 17-digit values that round up into the next decade.
    for (double v :
         {9.99999999999999999e16, 9.9999999999999999e-5, 0.000099999999999999991,
          std::numeric_limits<double>::max(), std::numeric_limits<double>::denorm_min()}) {
        expect_same(v);
    }
    std::mt19937_64 rng(99);
    // Random finite bit patterns: all exponents and subnormals.
    for (int i = 0; i < 200000; ++i) {
        const double v = std::bit_cast<double>(rng());
        if (std::isfinite(v)) expect_same(v);
    }
    // Values of the magnitudes a run stores, short decimals and integers.
    std::normal_distribution<double> normal(0.0, 1.0);
    for (int i = 0; i < 200000; ++i) {
        expect_same(normal(rng) * std::pow(10.0, static_cast<int>(rng() % 40) - 20));
    }
    for (int i = -20000; i <= 20000; ++i) {
        expect_same(i / 1000.0);
        expect_same(static_cast<double>(i) * 1048576.0);
    }
    // Exact ties at the 17th digit and their neighbours.
    for (int i = 0; i < 20000; ++i) {
        const std::uint64_t m =
            (std::uint64_t{1} << 52) | (rng() & ((std::uint64_t{1} << 52) - 1)) | 1;
        const double tie = std::ldexp(static_cast<double>(m), -2 - static_cast<int>(rng() % 2));
        expect_same(tie);
        expect_same(std::nextafter(tie, 0.0));
    }
}

TEST(Format, WritesExactlyTheFieldAndNothingBeyond) {
    char buffer[32];
    std::fill(std::begin(buffer), std::end(buffer), '#');
    EXPECT_EQ(sph_format_real(buffer, -1e-100), buffer + 24);
    EXPECT_EQ(buffer[24], '#');
    EXPECT_EQ(sph_format_int(buffer, INT_MIN), buffer + 11);
}

}  // namespace
