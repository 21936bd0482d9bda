// Water-hammer pressure of a water block on a rigid wall: two equal blocks
// meeting head-on at v each (water sees only water, so the wall is their
// plane of symmetry) against the acoustic pressure rho0 c0 v. The gallery's
// figure (tools/validation/water_impact.py) runs 20 x 24 x 24 particles a
// block and also shows the plateau behind the front; this is 12 x 16 x 16.

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "../input/deck_test_util.hpp"
#include "solver/sph_solver_explicit.hpp"

namespace {

constexpr int nx = 12, ny = 16;
constexpr double dx = 0.01, rho0 = 1000.0, c0 = 1480.0, speed = 2.0;

// The left block (x < 0) first, both cell-centred about the axis.
std::string impact_deck() {
    std::string deck = "*NODE\n";
    int id = 0;
    for (int side : {-1, 1}) {
        for (int k = 0; k < ny; ++k) {
            for (int j = 0; j < ny; ++j) {
                for (int i = 0; i < nx; ++i) {
                    deck += std::to_string(++id) + ", " + std::to_string(side * (i + 0.5) * dx) +
                            ", " + std::to_string((j - 0.5 * (ny - 1)) * dx) + ", " +
                            std::to_string((k - 0.5 * (ny - 1)) * dx) + "\n";
                }
            }
        }
    }
    const std::string half = std::to_string(id / 2);
    return deck + "*NSET, NSET=LEFT, GENERATE\n1, " + half + "\n*NSET, NSET=RIGHT, GENERATE\n" +
           std::to_string(id / 2 + 1) + ", " + std::to_string(id) +
           "\n*NSET, NSET=ALL, GENERATE\n1, " + std::to_string(id) +
           "\n*MATERIAL, NAME=Water, TYPE=WATER\n*DENSITY\n1000\n"
           "*FLUID SECTION, NSET=ALL, MATERIAL=Water\n"
           "*INITIAL CONDITIONS, TYPE=VELOCITY\nLEFT, 1, 2.0\nRIGHT, 1, -2.0\n"
           "*VELUNOR EOS, TYPE=TAIT, MATERIAL=Water, RHO0=1000, C0=1480, GAMMA=7\n"
           "*VELUNOR VISCOSITY, TYPE=MONAGHAN, MATERIAL=Water, ALPHA=1, BETA=0, ETA2=0.01\n"
           "*VELUNOR PARTICLE CONTROL, H=0.013, MASS=0.001, VOLUME=1e-6\n"
           "*VELUNOR TIME CONTROL, DT=1, TIME=1, STEPS=100000, SAFETY=0.25\n";
}

}  // namespace

// The peak particle pressure until release waves from the side faces reach
// the axis ((ny - 1) / 2 spacings at c0). The compressed water reaches
// rho0 c0 v; the layers at the contact overshoot it while the contact forms
// over the kernel width, by 27 % at ALPHA 1. The problem scales with the
// spacing at fixed h / dx and SAFETY (the figure's finer blocks give the
// same 1.27), so the bound does not loosen with resolution: the peak must lie
// in [1, 1.4] rho0 c0 v; a pressure missing the c0 or the density scale, or
// a block that passes through the other, falls outside. After the peak the
// contact pressure settles back towards rho0 c0 v (within 20 % at release).
TEST(ValidationImpact, PeakPressureIsTheWaterHammerPressure) {
    auto m = deck_test::built_text(impact_deck());
    ASSERT_EQ(m->db.npart, 2 * nx * ny * ny);
    const double hammer = rho0 * c0 * speed;
    const double release = 0.5 * (ny - 1) * dx / c0;
    double peak = 0.0;
    while (m->control.current_time < release) {
        double dt = 0.0;
        ASSERT_EQ(sph_solver_estimate_stable_dt(*m, dt), 0);
        ASSERT_EQ(sph_solver_advance_explicit(*m, dt), 0) << m->error.last_error_message;
        peak = std::max(peak, m->db.water.water_max_pressure);
    }
    EXPECT_GT(peak / hammer, 1.0);
    EXPECT_LT(peak / hammer, 1.4);
    EXPECT_NEAR(m->db.water.water_max_pressure / hammer, 1.0, 0.2);
}
