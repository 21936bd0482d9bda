// Stepping and the water queries through the exported C functions.
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "../input/deck_test_util.hpp"
#include "../interface/c_api_test_util.hpp"
#include "velunor.h"

namespace {

// Eight water particles 0.5 apart under gravity; DT caps the stable step.
constexpr const char* falling_cube = R"(*NODE
1, 0.0, 0.0, 0.0
2, 0.5, 0.0, 0.0
3, 0.0, 0.5, 0.0
4, 0.5, 0.5, 0.0
5, 0.0, 0.0, 0.5
6, 0.5, 0.0, 0.5
7, 0.0, 0.5, 0.5
8, 0.5, 0.5, 0.5
*NSET, NSET=ALL
1, 2, 3, 4, 5, 6, 7, 8
*MATERIAL, NAME=Water, TYPE=WATER
*DENSITY
1000.0
*FLUID SECTION, NSET=ALL, MATERIAL=Water
*VELUNOR TIME CONTROL, DT=1.0E-4, TIME=3.0E-4, STEPS=2
*VELUNOR EOS, TYPE=TAIT, MATERIAL=Water, RHO0=1000, C0=1480, GAMMA=7
*VELUNOR VISCOSITY, TYPE=MONAGHAN, MATERIAL=Water, ALPHA=0.1, BETA=0.0, ETA2=0.01
*VELUNOR PARTICLE CONTROL, H=0.6, MASS=125.0, VOLUME=0.125
*VELUNOR BODY FORCE, Z=-9.81
)";

}  // namespace

TEST(SolverApi, GuardsClearOutputs) {
    velunor_finalize();
    double dt = 7.0, m = 7.0, mom[3] = {7, 7, 7}, p = 7.0, r0 = 7.0, r1 = 7.0;
    EXPECT_EQ(velunor_estimate_stable_dt(&dt), 2);
    EXPECT_EQ(dt, 0.0);
    EXPECT_EQ(c_api_test::last_error_message(), "Velunor API is not initialized");
    ASSERT_EQ(velunor_initialize(), 0);
    EXPECT_EQ(velunor_run_explicit(), 2);
    EXPECT_EQ(c_api_test::last_error_message(), "Velunor model is not built");
    EXPECT_EQ(velunor_get_water_summary(&m, mom, &p, &r0, &r1), 2);
    EXPECT_EQ(m, 0.0);
    EXPECT_EQ(mom[2], 0.0);
    EXPECT_EQ(r1, 0.0);
    double c = 7.0, a = 7.0, v = 7.0;
    EXPECT_EQ(velunor_get_water_dt_limits(&c, &a, &v), 2);
    EXPECT_EQ(c + a + v, 0.0);
    velunor_finalize();
}

TEST(SolverApi, RunCallsStepToTheEndTimeAndTheQueriesFollow) {
    deck_test::TempDeck deck(falling_cube);
    ASSERT_EQ(velunor_initialize(), 0);
    ASSERT_EQ(velunor_read_inp(deck.path().c_str()), 0);
    ASSERT_EQ(velunor_build_model(), 0);

    double dt = 0.0;
    ASSERT_EQ(velunor_estimate_stable_dt(&dt), 0);
    EXPECT_EQ(dt, 1.0e-4);  // the water limits (about 3.7e-4) exceed DT

    EXPECT_EQ(velunor_advance_explicit(0.0), 1);
    EXPECT_EQ(c_api_test::last_error_message(), "time step must be positive");

    double time = -1.0;
    int step = -1;
    ASSERT_EQ(velunor_run_explicit(), 0);  // STEPS=2 per call
    ASSERT_EQ(velunor_get_current_time(&time, &step), 0);
    EXPECT_EQ(step, 2);
    EXPECT_DOUBLE_EQ(time, 2.0e-4);
    ASSERT_EQ(velunor_run_explicit(), 0);
    ASSERT_EQ(velunor_get_current_time(&time, &step), 0);
    EXPECT_EQ(step, 3);
    EXPECT_EQ(time, 3.0e-4);
    ASSERT_EQ(velunor_run_explicit(), 0);  // at the end time: nothing to do
    ASSERT_EQ(velunor_get_current_time(&time, &step), 0);
    EXPECT_EQ(step, 3);

    // Free fall together: no relative motion, so only gravity acts.
    double mass = 0.0, momentum[3] = {1, 1, 1}, max_p = 1.0, min_rho = 0.0, max_rho = 0.0;
    ASSERT_EQ(velunor_get_water_summary(&mass, momentum, &max_p, &min_rho, &max_rho), 0);
    EXPECT_EQ(mass, 1000.0);
    EXPECT_EQ(momentum[0], 0.0);
    EXPECT_NEAR(momentum[2], -1000.0 * 9.81 * 3.0e-4, 1e-12);
    EXPECT_EQ(max_p, 0.0);
    EXPECT_EQ(min_rho, 1000.0);
    EXPECT_EQ(max_rho, 1000.0);

    double cfl = 0.0, accel = 0.0, viscous = 0.0;
    ASSERT_EQ(velunor_get_water_dt_limits(&cfl, &accel, &viscous), 0);
    EXPECT_NEAR(cfl, 0.6 / (1480.0 + 9.81 * 3.0e-4), 1e-15);
    EXPECT_NEAR(accel, std::sqrt(0.6 / 9.81), 1e-12);
    EXPECT_EQ(viscous, 0.6 / (1480.0 * 1.1));

    // A host step larger than the stable step is taken as given.
    ASSERT_EQ(velunor_advance_explicit(1.0e-3), 0);
    ASSERT_EQ(velunor_get_current_time(&time, &step), 0);
    EXPECT_EQ(step, 4);
    EXPECT_DOUBLE_EQ(time, 1.3e-3);
    velunor_finalize();
}
