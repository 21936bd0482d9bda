#include <gtest/gtest.h>

#include <bit>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <random>
#include <string>

#include "core/sph_number.hpp"

namespace {

double real_of(std::string_view text) {
    double v = -12345.0;
    EXPECT_TRUE(sph_number_read_real(text, v)) << text;
    return v;
}

bool real_fails(std::string_view text) {
    double v = -12345.0;
    bool ok = sph_number_read_real(text, v);
    return !ok && v == -12345.0;  // unchanged on failure
}

}  // namespace

TEST(Number, RealFormsOfTheDeck) {
    EXPECT_EQ(real_of("10"), 10.0);
    EXPECT_EQ(real_of("-2.5"), -2.5);
    EXPECT_EQ(real_of("1.0E-6"), 1.0e-6);
    EXPECT_EQ(real_of("1.0d3"), 1000.0);
    EXPECT_EQ(real_of("1.0D3"), 1000.0);
    EXPECT_EQ(real_of("1.0e+3"), 1000.0);
    EXPECT_EQ(real_of("+4"), 4.0);
    EXPECT_EQ(real_of(".5"), 0.5);
    EXPECT_EQ(real_of("5."), 5.0);
    // 1.0e-5, 1d-5 and 1e-5 after a blank read alike.
    EXPECT_EQ(real_of(" 1.0e-5"), 1e-5);
    EXPECT_EQ(real_of(" 1d-5"), 1e-5);
    EXPECT_EQ(real_of(" 1e-5"), 1e-5);
    EXPECT_EQ(real_of("\t7"), 7.0);
    EXPECT_EQ(real_of("0.1000000000000000055511151231257827"), 0.1);
}

TEST(Number, OnlyTheFirstItemCounts) {
    EXPECT_EQ(real_of("1.5 abc"), 1.5);
    EXPECT_EQ(real_of("2,3"), 2.0);
    EXPECT_EQ(real_of("4/5"), 4.0);
    EXPECT_EQ(sph_number_first_item("  12 34"), "12");
    EXPECT_EQ(sph_number_first_item("   "), "");
}

TEST(Number, UnreadableRealsLeaveTheValue) {
    for (const char* bad :
         {"",      "   ", "abc", "1.0abc", "E5",       "1e",   "1e+", "-",  "+", ".",      "--1",
          "1.2.3", "inf", "nan", "NaN",    "Infinity", "0x10", "1q5", ",5", "/", "1.0E5x", "d5"}) {
        EXPECT_TRUE(real_fails(bad)) << '"' << bad << '"';
    }
}

TEST(Number, OverflowIsUnreadableAndUnderflowIsZero) {
    EXPECT_TRUE(real_fails("1e400"));
    EXPECT_TRUE(real_fails("-1d400"));
    EXPECT_TRUE(real_fails("1e99999999999999999999999"));
    EXPECT_TRUE(real_fails(std::string(400, '9')));
    EXPECT_EQ(real_of("1d-400"), 0.0);
    double neg = real_of("-1e-400");
    EXPECT_EQ(neg, 0.0);
    EXPECT_TRUE(std::signbit(neg));
    EXPECT_EQ(real_of("0.0001e-99999999999999999999"), 0.0);
    EXPECT_EQ(real_of("1.7976931348623157e308"), std::numeric_limits<double>::max());
    EXPECT_EQ(real_of("4.9406564584124654e-324"), std::numeric_limits<double>::denorm_min());
    // Long digit strings that stay in range are read exactly.
    EXPECT_EQ(real_of("0." + std::string(5000, '0') + "1e5001"), 1.0);
    EXPECT_EQ(real_of(std::string(300, '1') + "e-299"), real_of("1.11111111111111111111e0"));
}

TEST(Number, IntegersAreWholeNumbersOnly) {
    int v = 77;
    EXPECT_TRUE(sph_number_read_int("  42 ", v));
    EXPECT_EQ(v, 42);
    EXPECT_TRUE(sph_number_read_int("-7,8", v));
    EXPECT_EQ(v, -7);
    EXPECT_TRUE(sph_number_read_int("+9", v));
    EXPECT_EQ(v, 9);
    EXPECT_TRUE(sph_number_read_int("2147483647", v));
    EXPECT_EQ(v, 2147483647);
    EXPECT_TRUE(sph_number_read_int("-2147483648", v));
    v = 77;
    for (const char* bad : {"3.0", "3.", "1e3", "2147483648", "-2147483649", "", "x", "--1", "-+1",
                            "+-1", "3a", "0x1F", "99999999999999999999999"}) {
        EXPECT_FALSE(sph_number_read_int(bad, v)) << bad;
        EXPECT_EQ(v, 77);
    }
    int64_t w = 0;
    EXPECT_TRUE(sph_number_read_int64("9000000000", w));
    EXPECT_EQ(w, 9000000000LL);
    EXPECT_FALSE(sph_number_read_int64("99999999999999999999", w));
}

namespace {

// The plain definition of the fast path: std::from_chars over the same text.
// The fast path either agrees with it bit for bit and ends where it ends, or
// declines (nullptr) and leaves the value alone.
struct PlainRealCheck {
    int64_t decided = 0;
    int64_t declined = 0;

    void operator()(const std::string& text) {
        const char* begin = text.data();
        const char* end = begin + text.size();
        double fast = -12345.0;
        const char* fast_end = sph_number_parse_plain_real(begin, end, fast);
        if (fast_end == nullptr) {
            ++declined;
            ASSERT_EQ(std::bit_cast<std::uint64_t>(fast), std::bit_cast<std::uint64_t>(-12345.0))
                << text;
            return;
        }
        ++decided;
        double plain = 0.0;
        const auto [ptr, ec] = std::from_chars(begin, end, plain, std::chars_format::general);
        ASSERT_EQ(ec, std::errc()) << text;
        ASSERT_EQ(fast_end, ptr) << text;
        ASSERT_EQ(std::bit_cast<std::uint64_t>(fast), std::bit_cast<std::uint64_t>(plain))
            << text << " gives " << std::hexfloat << fast << " for " << plain;
        ASSERT_TRUE(fast == 0.0 || std::isnormal(fast)) << text;
    }
};

std::string g17(double v) {
    char text[32];
    return std::string(
        text, std::to_chars(text, text + sizeof(text), v, std::chars_format::general, 17).ptr);
}

}  // namespace

TEST(PlainReal, WrittenRealsReadBackAsFromCharsDoes) {
    std::mt19937_64 rng(77);
    PlainRealCheck check;
    for (int k = 0; k < 1000000; ++k) {
        const double v = std::bit_cast<double>(rng());
        if (!std::isfinite(v)) continue;
        const std::string text = g17(v);
        ASSERT_NO_FATAL_FAILURE(check(text));
        ASSERT_NO_FATAL_FAILURE(check(std::to_string(k % 1000)));
    }
    // Declined only where the table or the normal range ends (about one
    // value in 25 of random bit patterns lies beyond 1e-292 or is subnormal).
    EXPECT_LT(check.declined, check.decided / 10);
}

TEST(PlainReal, RandomDecimalsAgreeWithFromChars) {
    std::mt19937_64 rng(78);
    PlainRealCheck check;
    const char* const tails[] = {"", " ", ",", "/", "x", "d3", "e", "e+", ".", "-"};
    for (int k = 0; k < 1000000; ++k) {
        std::string text = rng() % 4 == 0 ? "-" : "";
        const int digits = 1 + static_cast<int>(rng() % 21);
        const int point = static_cast<int>(rng() % (digits + 2)) - 1;  // -1: none
        for (int d = 0; d < digits; ++d) {
            if (d == point) text += '.';
            // Leading zeros and runs of nines and zeros next to halves.
            const auto pick = rng() % 8;
            text += pick == 0 ? '0' : pick == 1 ? '9' : static_cast<char>('0' + rng() % 10);
        }
        if (point == digits) text += '.';
        if (rng() % 2 == 0) {
            text += rng() % 2 == 0 ? 'e' : 'E';
            const auto sign = rng() % 3;
            if (sign == 1) text += '+';
            if (sign == 2) text += '-';
            text += std::to_string(rng() % 360);
        }
        text += tails[rng() % std::size(tails)];
        ASSERT_NO_FATAL_FAILURE(check(text));
    }
    EXPECT_GT(check.decided, 500000);
}

// Decimal texts within one unit of their last digit of a half between two
// doubles: the cases the fast path must decline or decide correctly.
TEST(PlainReal, NearHalvesAreExactOrDeclined) {
    std::mt19937_64 rng(79);
    PlainRealCheck check;
    for (int k = 0; k < 200000; ++k) {
        const double v = std::bit_cast<double>(rng() >> 2 | 0x0010000000000000ull);
        const double next = std::nextafter(v, std::numeric_limits<double>::infinity());
        if (!std::isfinite(next)) continue;
        // The half as 19 significant digits, then nudged by a unit either way.
        char text[64];
        const double mid = v + (next - v) / 2;  // rounds to v or next: still near the half
        const auto res =
            std::to_chars(text, text + sizeof(text), mid, std::chars_format::scientific, 18);
        std::string s(text, res.ptr);
        ASSERT_NO_FATAL_FAILURE(check(s));
        const std::size_t last = s.find('e') - 1;
        if (s[last] < '9') {
            ++s[last];
            ASSERT_NO_FATAL_FAILURE(check(s));
        }
    }
    // Exact ties of integers above 2^53.
    for (std::uint64_t w = (std::uint64_t{1} << 53) + 1; w < (std::uint64_t{1} << 53) + 2000;
         w += 2) {
        ASSERT_NO_FATAL_FAILURE(check(std::to_string(w)));
    }
}

TEST(PlainReal, FormsItLeavesToTheGeneralReader) {
    for (const char* text :
         {"", "-", ".", "-.", "+1", "e5", "1e", "1e+", "nan", "inf", "12345678901234567890",
          "1e-400", "1e400", "4.9406564584124654e-324", "1e-300"}) {
        double v = -12345.0;
        EXPECT_EQ(sph_number_parse_plain_real(text, text + std::strlen(text), v), nullptr) << text;
        EXPECT_EQ(v, -12345.0);
    }
    double v = 0.0;
    const char text[] = "-0.000e7 rest";
    EXPECT_EQ(sph_number_parse_plain_real(text, text + sizeof(text) - 1, v), text + 8);
    EXPECT_TRUE(std::signbit(v) && v == 0.0);
}
