// Energy of an undamped water cube over 1000 steps, the default scheme
// against velocity Verlet, at the low resolution of 4 x 4 x 4 particles
// (the gallery's figure uses 6 x 6 x 6: tools/validation/energy_cube.py).
//
// What the figure shows and this checks: Verlet's error relative to the
// released energy oscillates with the cube's breathing and stays bounded,
// without drift, while the default scheme's grows without bound.

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "../input/deck_test_util.hpp"
#include "../solver/water_cube_energy.hpp"

namespace {

double largest(const std::vector<double>& e, size_t from, size_t to) {
    return *std::max_element(e.begin() + static_cast<long>(from),
                             e.begin() + static_cast<long>(to));
}

}  // namespace

// Verlet's error is that of a second-order scheme at a fixed SAFETY, set by
// (omega dt)^2 of the fastest particle mode rather than by the particle count:
// 2.2 % here, 1.75 % on the figure's 6^3. The bound of 3 % leaves room for
// that; a first-order error (about 10 times larger at this step) fails it.
// No drift: the largest error of the second 500 steps is not above that of
// the first 500 by more than a quarter (the oscillation's own spread).
// The default scheme's error grows exponentially (about 100-fold per 50
// steps early on) and passes the released energy itself.
TEST(ValidationEnergy, VerletStaysBoundedWhereTheDefaultSchemeGrows) {
    constexpr int steps = 1000;
    auto verlet = deck_test::built_text(water_cube::cube_deck(4, 0.02, "VERLET", 0.25));
    auto plain = deck_test::built_text(water_cube::cube_deck(4, 0.02, nullptr, 0.25));
    const std::vector<double> v = water_cube::energy_error_history(*verlet, steps);
    const std::vector<double> d = water_cube::energy_error_history(*plain, steps);
    ASSERT_EQ(v.size(), size_t(steps));
    const double first = largest(v, 0, steps / 2), second = largest(v, steps / 2, steps);
    EXPECT_LT(first, 0.03);
    EXPECT_LT(second, 0.03);
    EXPECT_LT(second, 1.25 * first);
    ASSERT_GT(d.size(), size_t(150));
    EXPECT_GT(d[150], 30.0 * d[100]);
    EXPECT_GT(d[100], 30.0 * d[50]);
    EXPECT_GT(largest(d, 0, d.size()), 1.0);
}
