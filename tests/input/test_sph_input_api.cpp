// The deck and model exports end to end through the C interface.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "../interface/c_api_test_util.hpp"
#include "deck_test_util.hpp"
#include "velunor.h"

using c_api_test::last_error_message;
using deck_test::TempDeck;
using deck_test::water_deck;

namespace {

struct ParticleState {
    int count = 0;
    std::vector<int> id, phase, status, material, section;
    std::vector<double> x, v, a, rho, pressure, energy, temperature, h;
};

int particle_state(int capacity, ParticleState& s) {
    std::size_t n = static_cast<std::size_t>(capacity);
    s.id.assign(n, -1);
    s.phase.assign(n, -1);
    s.status.assign(n, -1);
    s.material.assign(n, -1);
    s.section.assign(n, -1);
    s.x.assign(3 * n, -1);
    s.v.assign(3 * n, -1);
    s.a.assign(3 * n, -1);
    s.rho.assign(n, -1);
    s.pressure.assign(n, -1);
    s.energy.assign(n, -1);
    s.temperature.assign(n, -1);
    s.h.assign(n, -1);
    return velunor_get_particle_state(capacity, s.id.data(), s.phase.data(), s.status.data(),
                                      s.material.data(), s.section.data(), s.x.data(), s.v.data(),
                                      s.a.data(), s.rho.data(), s.pressure.data(), s.energy.data(),
                                      s.temperature.data(), s.h.data(), &s.count);
}

}  // namespace

TEST(InputApi, ReadBuildAndQueryAWaterDeck) {
    TempDeck deck(water_deck);
    ASSERT_EQ(velunor_initialize(), 0);
    ASSERT_EQ(velunor_read_inp(deck.path().c_str()), 0);
    int count = -1;
    ASSERT_EQ(velunor_get_particle_count(&count), 0);
    EXPECT_EQ(count, 2);
    // The model is not built until the build succeeds.
    double dt = 0.0;
    EXPECT_EQ(velunor_estimate_stable_dt(&dt), 2);

    ASSERT_EQ(velunor_build_model(), 0);
    ASSERT_EQ(velunor_get_input_warning_count(&count), 0);
    EXPECT_EQ(count, 1);
    ParticleState s;
    ASSERT_EQ(particle_state(2, s), 0);
    ASSERT_EQ(s.count, 2);
    EXPECT_EQ(s.id[1], 2);
    EXPECT_EQ(s.phase[0], 1);
    EXPECT_EQ(s.phase[1], 1);
    EXPECT_EQ(s.material[1], 1);
    EXPECT_EQ(s.section[1], 1);
    EXPECT_EQ(s.x[3], 0.5);
    EXPECT_EQ(s.rho[0], 1000.0);
    EXPECT_EQ(s.h[1], 0.6);
    velunor_finalize();
}

TEST(InputApi, FailedReadOrBuildLeavesNoModel) {
    TempDeck good(water_deck);
    TempDeck bad("*NODE\n1, 0, 0\n");
    TempDeck no_time(
        "*NODE\n1,0,0,0\n*NSET, NSET=A\n1\n*MATERIAL, NAME=W, TYPE=WATER\n"
        "*FLUID SECTION, NSET=A, MATERIAL=W\n");
    ASSERT_EQ(velunor_initialize(), 0);
    ASSERT_EQ(velunor_read_inp(good.path().c_str()), 0);
    ASSERT_EQ(velunor_build_model(), 0);

    int code = 0;
    EXPECT_EQ(velunor_read_inp(bad.path().c_str()), 4);
    EXPECT_EQ(last_error_message(code), bad.path() + ":2: invalid *NODE record");
    EXPECT_EQ(code, 4);
    EXPECT_EQ(velunor_run_explicit(), 2);
    EXPECT_EQ(last_error_message(code), "Velunor model is not built");

    ASSERT_EQ(velunor_read_inp(good.path().c_str()), 0);
    ASSERT_EQ(velunor_build_model(), 0);
    EXPECT_EQ(velunor_read_inp((good.path() + ".missing").c_str()), 3);
    EXPECT_EQ(last_error_message(code), "failed to open input file");
    EXPECT_EQ(velunor_run_explicit(), 2);

    ASSERT_EQ(velunor_read_inp(no_time.path().c_str()), 0);
    EXPECT_EQ(velunor_build_model(), 4);
    EXPECT_EQ(last_error_message(code), "input is missing *VELUNOR time control data");
    EXPECT_EQ(velunor_run_explicit(), 2);
    velunor_finalize();

    // Before initialization the deck exports refuse to work.
    EXPECT_EQ(velunor_read_inp(good.path().c_str()), 2);
    EXPECT_EQ(velunor_build_model(), 2);
    int warnings = -1;
    EXPECT_EQ(velunor_get_input_warning_count(&warnings), 2);
    EXPECT_EQ(warnings, 0);
}
