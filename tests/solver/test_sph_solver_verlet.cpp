// The velocity-Verlet scheme against what it must keep: the energy of an
// undamped water cube (kinetic plus the Tait energy of compression, which the
// semi-discrete equations conserve exactly), second-order convergence of
// that energy error, the first step's positions (the start-of-step forces
// drive the first kick exactly as in the default scheme), and imports and
// gravity acting as in the default scheme.

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "../input/deck_test_util.hpp"
#include "core/sph_model.hpp"
#include "input/sph_input_reader.hpp"
#include "solver/sph_solver_explicit.hpp"
#include "water_cube_energy.hpp"

namespace {

using water_cube::cube_deck;
using water_cube::relative_energy_error;

std::unique_ptr<Model> built(const std::string& text) {
    return deck_test::built_text(text);
}

}  // namespace

TEST(SolverVerlet, UndampedCubeKeepsItsEnergyWhereTheDefaultSchemeDoesNot) {
    auto verlet = built(cube_deck(6, 0.02, "VERLET", 0.25));
    auto plain = built(cube_deck(6, 0.02, nullptr, 0.25));
    ASSERT_EQ(verlet->control.integrator, sph_integrator_verlet);
    ASSERT_EQ(plain->control.integrator, sph_integrator_default);
    const double verlet_error = relative_energy_error(*verlet, 1000);
    const double plain_error = relative_energy_error(*plain, 1000);
    EXPECT_LT(verlet_error, 0.02);  // 1.75 %, falling as dt^2 (0.45 % at half the step)
    EXPECT_GT(plain_error, 0.01);   // the failure the scheme is there to mend
}

TEST(SolverVerlet, EnergyErrorIsSecondOrderInTheStep) {
    // The same time span at dt and dt/2: a second-order scheme's error falls
    // about fourfold (the jitter keeps the flow smooth enough to see it).
    const double dt = 4e-6;
    auto coarse = built(cube_deck(5, 0.05, "VERLET", 1.0));
    auto fine = built(cube_deck(5, 0.05, "VERLET", 1.0));
    const double coarse_error = relative_energy_error(*coarse, 100, dt);
    const double fine_error = relative_energy_error(*fine, 200, dt / 2);
    EXPECT_GT(coarse_error / fine_error, 3.0) << coarse_error << " " << fine_error;
    EXPECT_LT(coarse_error / fine_error, 5.5) << coarse_error << " " << fine_error;
}

TEST(SolverVerlet, FirstStepMovesAsTheDefaultSchemeAndKicksWithTheNewForces) {
    auto verlet = built(cube_deck(4, 0.1, "VERLET", 0.25));
    auto plain = built(cube_deck(4, 0.1, nullptr, 0.25));
    const double dt = 1e-5;
    ASSERT_EQ(sph_solver_advance_explicit(*plain, dt), 0);
    ASSERT_EQ(sph_solver_advance_explicit(*verlet, dt), 0);
    // Both start from the forces of the initial state: x1 = x0 + dt (v0 + dt/2 a0).
    for (int i = 0; i < plain->db.npart; ++i) {
        EXPECT_EQ(verlet->db.x[i].x, plain->db.x[i].x);
        EXPECT_EQ(verlet->db.x[i].z, plain->db.x[i].z);
        EXPECT_EQ(verlet->db.vhalf[i].y, plain->db.vhalf[i].y);
    }
    // The second kick uses the forces at x1, carried into the next step:
    // v1 = vhalf + dt/2 a1.
    const SolverState& s = verlet->solver;
    ASSERT_TRUE(s.verlet_forces_ready);
    for (int i = 0; i < verlet->db.npart; ++i) {
        const Vec3 expected = verlet->db.vhalf[i] + (0.5 * dt) * s.verlet_acceleration[i];
        EXPECT_EQ(verlet->db.v[i].x, expected.x);
        EXPECT_EQ(verlet->db.v[i].z, expected.z);
        EXPECT_EQ(verlet->db.a[i].y, s.verlet_acceleration[i].y);
    }
}

TEST(SolverVerlet, ConstantBodyForceIsExact) {
    // Under gravity alone the scheme moves a particle by v dt + g dt^2 / 2 per
    // step and changes its velocity by g dt, as the default scheme does.
    std::string deck =
        "*NODE\n1, 0, 0, 0\n2, 5, 0, 0\n*NSET, NSET=ALL\n1, 2\n*MATERIAL, NAME=Water, "
        "TYPE=WATER\n*DENSITY\n1000\n"
        "*FLUID SECTION, NSET=ALL, MATERIAL=Water\n"
        "*VELUNOR EOS, TYPE=TAIT, MATERIAL=Water, RHO0=1000, C0=100, GAMMA=7\n"
        "*VELUNOR VISCOSITY, TYPE=MONAGHAN, MATERIAL=Water, ALPHA=0, BETA=0, ETA2=0.01\n"
        "*VELUNOR BODY FORCE, Z=-9.81\n"
        "*VELUNOR PARTICLE CONTROL, H=0.013, MASS=0.001, VOLUME=1e-6\n"
        "*VELUNOR TIME CONTROL, DT=1e-3, TIME=1, STEPS=10, INTEGRATOR=VERLET\n";
    auto m = built(deck);
    for (int k = 0; k < 10; ++k) ASSERT_EQ(sph_solver_advance_explicit(*m, 1e-3), 0);
    EXPECT_NEAR(m->db.v[0].z, -9.81e-2, 1e-15);
    EXPECT_NEAR(m->db.x[0].z, -0.5 * 9.81 * 1e-4, 1e-15);
    EXPECT_EQ(m->db.x[0].x, 0.0);
}
