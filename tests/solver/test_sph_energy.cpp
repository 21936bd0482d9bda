// The energy budget by phase that runs log: kinetic energy, the compression
// energy of the Tait equation (checked against a quadrature of p / rho^2, not
// the closed form the module uses), the specific internal energy of gas,
// explosive and solid, the potential of the body force, and whether work can
// enter from outside.

#include <gtest/gtest.h>
#include <stdlib.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <memory>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "../input/deck_test_util.hpp"
#include "core/sph_model.hpp"
#include "interface/sph_api.hpp"
#include "solver/sph_energy.hpp"

namespace {

namespace fs = std::filesystem;

std::string example(const std::string& name) {
    std::ifstream in(fs::path(VELUNOR_SOURCE_DIR) / "examples" / name, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

// The integral of p / rho^2 from rho0 to rho for the Tait equation
// p = p0 + B ((rho/rho0)^g - 1), by composite Simpson's rule.
double tait_energy_by_quadrature(double rho, double rho0, double b, double g, double p0) {
    const auto f = [&](double r) { return (p0 + b * (std::pow(r / rho0, g) - 1.0)) / (r * r); };
    const int n = 2000;
    const double step = (rho - rho0) / n;
    double sum = f(rho0) + f(rho);
    for (int k = 1; k < n; ++k) sum += (k % 2 == 1 ? 4.0 : 2.0) * f(rho0 + k * step);
    return sum * step / 3.0;
}

// Starts the library over the named deck text, read and built.
std::unique_ptr<Model> built_through_api(const std::string& text) {
    auto m = std::make_unique<Model>();
    EXPECT_EQ(sph_initialize(*m), 0);
    deck_test::TempDeck deck(text);
    EXPECT_EQ(sph_read_inp(*m, deck.path()), 0) << m->error.last_error_message;
    EXPECT_EQ(sph_build_model(*m), 0) << m->error.last_error_message;
    return m;
}

}  // namespace

TEST(Energy, WaterKineticCompressionAndBodyForcePotential) {
    auto m = deck_test::built_text(example("water_release.inp") +
                                   "*VELUNOR BODY FORCE, X=1.5, Z=-9.81\n");
    DbState& db = m->db;
    std::mt19937 rng(7);
    std::uniform_real_distribution<double> unit(-1.0, 1.0);
    double kinetic = 0.0, internal = 0.0, potential = 0.0;
    const double b = 1000.0 * 1480.0 * 1480.0 / 7.0;
    for (int i = 0; i < db.npart; ++i) {
        db.v[i] = Vec3{unit(rng), unit(rng), 2.0 * unit(rng)};
        db.rho[i] = 1000.0 + 15.0 * unit(rng);
        kinetic += 0.5 * db.mass[i] * dot(db.v[i], db.v[i]);
        internal += db.mass[i] * tait_energy_by_quadrature(db.rho[i], 1000.0, b, 7.0, 1e6);
        potential += db.mass[i] * (9.81 * db.x[i].z - 1.5 * db.x[i].x);
    }
    // One particle out of the count: failed particles hold no energy.
    db.particle_status[0] = sph_status_failed;
    kinetic -= 0.5 * db.mass[0] * dot(db.v[0], db.v[0]);
    internal -= db.mass[0] * tait_energy_by_quadrature(db.rho[0], 1000.0, b, 7.0, 1e6);
    potential -= db.mass[0] * (9.81 * db.x[0].z - 1.5 * db.x[0].x);

    const EnergyBudget e = sph_energy_budget(*m);
    const PhaseEnergy& water = e.phases[0];
    EXPECT_EQ(water.particles, db.npart - 1);
    EXPECT_NEAR(water.kinetic, kinetic, 1e-12 * kinetic);
    // Simpson's error over 2000 panels is far below this; the sum of the
    // compression energies cancels to about 1e-3 of its terms.
    EXPECT_NEAR(water.internal, internal, 1e-8 * std::abs(internal) + 1e-12);
    EXPECT_NEAR(e.potential, potential, 1e-12 * std::abs(potential) + 1e-15);
    EXPECT_NEAR(e.total(), kinetic + internal + potential, 1e-8 * (kinetic + std::abs(potential)));
    for (std::size_t k = 1; k < e.phases.size(); ++k) EXPECT_EQ(e.phases[k].particles, 0);
    EXPECT_FALSE(e.external_work);
}

TEST(Energy, BurningChargeCountsGasExplosiveAndSolidAndHasExternalWork) {
    auto m = built_through_api(example("charge_near_plate.inp"));
    for (int k = 0; k < 6; ++k) ASSERT_EQ(sph_advance_explicit(*m, 1e-6), 0);
    const DbState& db = m->db;
    double gas_internal = 0.0, explosive_internal = 0.0, gas_kinetic = 0.0;
    int gas = 0, explosive = 0;
    for (int i = 0; i < db.npart; ++i) {
        if (db.particle_status[i] != sph_status_active) continue;
        if (db.particle_phase[i] == sph_phase_gas) {
            ++gas;
            gas_internal += db.mass[i] * db.internal_energy[i];
            gas_kinetic += 0.5 * db.mass[i] * dot(db.v[i], db.v[i]);
        } else if (db.particle_phase[i] == sph_phase_explosive) {
            ++explosive;
            explosive_internal += db.mass[i] * db.internal_energy[i];
        }
    }
    ASSERT_GT(gas, 0);
    ASSERT_GT(explosive, 0);
    const EnergyBudget e = sph_energy_budget(*m);
    EXPECT_EQ(e.phases[1].particles, gas);
    EXPECT_EQ(e.phases[2].particles, explosive);
    EXPECT_NEAR(e.phases[1].internal, gas_internal, 1e-12 * gas_internal);
    EXPECT_NEAR(e.phases[1].kinetic, gas_kinetic, 1e-12 * gas_kinetic + 1e-300);
    EXPECT_NEAR(e.phases[2].internal, explosive_internal, 1e-12 * explosive_internal + 1e-300);
    // The solid summary keeps the same two energies of the plate.
    int active = 0, failed = 0;
    std::array<double, 16> solid{};
    ASSERT_EQ(sph_get_solid_summary(*m, active, failed, solid), 0);
    EXPECT_EQ(e.phases[3].particles, active);
    EXPECT_NEAR(e.phases[3].kinetic, solid[4], 1e-12 * solid[4] + 1e-300);
    EXPECT_NEAR(e.phases[3].internal, solid[5], 1e-12 * std::abs(solid[5]) + 1e-300);
    // The burn releases chemical energy, and the blast region loads the plate.
    EXPECT_TRUE(e.external_work);
    EXPECT_EQ(sph_finalize(*m), 0);
}

TEST(Energy, GasCountsAsExternalWorkForItHoldsItsSpecificInternalEnergy) {
    auto m = deck_test::built_text(example("gas_expansion.inp"));
    EXPECT_GT(sph_energy_budget(*m).phases[1].particles, 0);
    EXPECT_TRUE(sph_energy_budget(*m).external_work);
    for (int i = 0; i < m->db.npart; ++i) {
        if (m->db.particle_phase[i] == sph_phase_gas) m->db.particle_status[i] = sph_status_failed;
    }
    EXPECT_FALSE(sph_energy_budget(*m).external_work);  // no active gas left
}

TEST(Energy, LoggedAfterTheBuildEveryRunCallAndRestartWrites) {
    const fs::path dir = deck_test::temp_dir();
    const fs::path log = dir / "energy_log.txt";
    fs::remove(log);
    std::string deck = example("water_release.inp");
    deck.replace(deck.find("TIME=1.5E-4, STEPS=20"), 21, "TIME=4.0E-6, STEPS=2");
    ASSERT_EQ(::setenv("VELUNOR_LOG", log.string().c_str(), 1), 0);
    auto m = built_through_api(deck);
    ::unsetenv("VELUNOR_LOG");
    ASSERT_EQ(sph_run_explicit(*m), 0);
    const EnergyBudget after_run = sph_energy_budget(*m);
    ASSERT_EQ(sph_write_restart(*m, (dir / "energy_log.rst").string()), 0);
    ASSERT_EQ(sph_finalize(*m), 0);
    fs::remove(dir / "energy_log.rst");

    std::ifstream in(log, std::ios::binary);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) {
        if (line.rfind("energy ", 0) == 0) lines.push_back(line);
    }
    fs::remove(log);
    ASSERT_EQ(lines.size(), 3u);  // build, run call, restart write
    EXPECT_EQ(lines[0],
              "energy step 0 time 0.0000000000000000E+00 water 4096 0.0000000000000000E+00 "
              "0.0000000000000000E+00 gas 0 0.0000000000000000E+00 0.0000000000000000E+00 "
              "explosive 0 0.0000000000000000E+00 0.0000000000000000E+00 solid 0 "
              "0.0000000000000000E+00 0.0000000000000000E+00 shell 0 0.0000000000000000E+00 "
              "0.0000000000000000E+00 potential 0.0000000000000000E+00 external_work 0\r");
    // The run call's line: its step, and the values with all 17 digits.
    std::istringstream words(lines[1]);
    std::string word, time;
    int step = 0, particles = 0;
    double kinetic = 0.0, internal = 0.0;
    words >> word >> word >> step >> word >> time >> word >> particles >> kinetic >> internal;
    EXPECT_EQ(step, 2);
    EXPECT_EQ(particles, 4096);
    EXPECT_EQ(kinetic, after_run.phases[0].kinetic);
    EXPECT_EQ(internal, after_run.phases[0].internal);
    EXPECT_GT(kinetic, 0.0);
    EXPECT_EQ(lines[2], lines[1]);  // the restart holds the state the run ended in
}
