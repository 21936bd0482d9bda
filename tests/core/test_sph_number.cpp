#include <gtest/gtest.h>

#include <cmath>
#include <limits>
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
