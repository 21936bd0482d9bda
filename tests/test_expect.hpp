#pragma once
// Expectations shared by the module tests: a failure's status, code and
// exact message, and bit-for-bit equality of reals.

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "core/sph_model.hpp"

namespace test_expect {

inline void expect_error(const Model& m, int status, int code, const std::string& message) {
    EXPECT_EQ(status, code) << message;
    EXPECT_EQ(m.error.last_error_code, code);
    EXPECT_EQ(m.error.last_error_message, message);
}

inline bool same_bits(double a, double b) {
    return std::memcmp(&a, &b, sizeof a) == 0;
}

inline bool same_bits(const Vec3& a, const Vec3& b) {
    return same_bits(a.x, b.x) && same_bits(a.y, b.y) && same_bits(a.z, b.z);
}

}  // namespace test_expect
