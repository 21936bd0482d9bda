// Detonation arrival along a charge under programmed burn: every particle's
// detonation time is t_ign + |x0 - x_ign| / D (the earliest over the
// ignitions of its material), and while it burns its progress is
// (t - t_det) / tb at the end-of-step time.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>

#include "../input/deck_test_util.hpp"
#include "core/sph_model.hpp"
#include "solver/sph_solver_explicit.hpp"

namespace {

constexpr int kNx = 20, kNw = 2;
constexpr double kDx = 0.01, kD = 6930.0, kTb = 2e-6;
// Two ignitions: the near end at 5 us and the far end at 20 us, so the
// fronts meet inside the charge and each particle takes the earlier arrival.
constexpr double kT1 = 5e-6, kT2 = 20e-6;
constexpr double kFar = (kNx - 1) * kDx;

std::string charge_deck() {
    std::string deck = "*NODE\n";
    int id = 0;
    for (int k = 0; k < kNw; ++k) {
        for (int j = 0; j < kNw; ++j) {
            for (int i = 0; i < kNx; ++i) {
                char line[128];
                std::snprintf(line, sizeof line, "%d, %.17g, %.17g, %.17g\n", ++id, kDx * i,
                              kDx * (j - 0.5), kDx * (k - 0.5));
                deck += line;
            }
        }
    }
    char tail[900];
    std::snprintf(tail, sizeof tail,
                  "*NSET, NSET=CHARGE, GENERATE\n1, %d\n"
                  "*MATERIAL, NAME=Products, TYPE=GAS\n*DENSITY\n1630\n"
                  "*VELUNOR EOS, TYPE=IDEAL_GAS, MATERIAL=Products, GAMMA=3, E0=0\n"
                  "*MATERIAL, NAME=HE, TYPE=EXPLOSIVE\n*DENSITY\n1630\n"
                  "*CHARGE SECTION, NSET=CHARGE, MATERIAL=HE\n"
                  "*VELUNOR EXPLOSIVE, MATERIAL=HE, TYPE=PROGRAMMED_BURN, "
                  "DETONATION_VELOCITY=%.17g, ENERGY=4.3e6, BURN_TIME=%.17g, "
                  "PRODUCT_MATERIAL=Products\n"
                  "*VELUNOR IGNITION, MATERIAL=HE, X=0, Y=0, Z=0, TIME=%.17g\n"
                  "*VELUNOR IGNITION, MATERIAL=HE, X=%.17g, Y=0, Z=0, TIME=%.17g\n"
                  "*VELUNOR TIME CONTROL, DT=1e-6, TIME=1e-3, STEPS=100000, SAFETY=0.5\n",
                  id, kD, kTb, kT1, kFar, kT2);
    return deck + tail;
}

double arrival(const Vec3& x0) {
    const double near = kT1 + norm(x0 - Vec3{0, 0, 0}) / kD;
    const double far = kT2 + norm(x0 - Vec3{kFar, 0, 0}) / kD;
    return std::min(near, far);
}

}  // namespace

TEST(ValidationDetonationArrival, TimesAndBurnFollowTheArrivalFormula) {
    auto m = deck_test::built_text(charge_deck());
    const DbState& db = m->db;
    ASSERT_EQ(db.npart, kNx * kNw * kNw);
    // The arrival is a closed form with no resolution in it: one square root
    // and one division, so it holds to a few rounding units of the time.
    const double tol = 1e-14 * (kT2 + kFar / kD);
    int from_far = 0;
    for (int i = 0; i < db.npart; ++i) {
        EXPECT_NEAR(m->explosive.explosive_detonation_time[i], arrival(db.x0[i]), tol) << i;
        if (arrival(db.x0[i]) < kT1 + norm(db.x0[i]) / kD) ++from_far;
    }
    EXPECT_GT(from_far, 0);  // the late far ignition still reaches some particles first

    // Step to the end of the burn; whenever a particle is burning its
    // progress is (t - t_det) / tb at the time after the step.
    double time = 0.0;
    int burning_seen = 0;
    const double end = kT1 + 0.1 / kD + 2 * kTb;
    while (time < end) {
        double dt = 0;
        ASSERT_EQ(sph_solver_estimate_stable_dt(*m, dt), 0);
        ASSERT_EQ(sph_solver_advance_explicit(*m, dt), 0) << m->error.last_error_message;
        time += dt;
        for (int i = 0; i < db.npart; ++i) {
            const double lambda = m->explosive.explosive_reaction_progress[i];
            const double expected = std::clamp((time - arrival(db.x0[i])) / kTb, 0.0, 1.0);
            // Time and arrival each carry rounding of order 1e-16 of the time,
            // divided by tb; 1e-9 of lambda is far above that and far below
            // the 1/8 one step of dt = tb/8 moves it.
            EXPECT_NEAR(lambda, expected, 1e-9) << i << " at t = " << time;
            if (lambda > 0.0 && lambda < 1.0) ++burning_seen;
        }
    }
    EXPECT_GT(burning_seen, 0);
}
