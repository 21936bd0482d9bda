// The flagship example deck builds the model its header describes and burns
// its charge. Running it to its end (145 steps) is a job for `velunor run`;
// these cases read and build it and take its first steps only.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <string>

#include "core/sph_model.hpp"
#include "input/sph_input_reader.hpp"
#include "solver/sph_solver_explicit.hpp"

namespace {

// The example's values (examples/make_underwater_charge.py).
constexpr int water_count = 31 * 27 * 21 - 7;  // lattice minus the cavity
constexpr int charge_count = 5 * 5 * 5;
constexpr int plate_count = 32 * 32 * 3, plate_face_count = 32 * 32;
constexpr int hull_count = 11 * 7;
constexpr double hull_area = 5.0 * 3.0;
constexpr double shock_share = 0.25, charge_energy = 4.3e6;  // J/kg, 1 kg a particle
constexpr double detonation_velocity = 6930.0, rho_he = 1630.0;

std::unique_ptr<Model> read_example() {
    auto m = std::make_unique<Model>();
    sph_water_initialize(m->water);
    const std::string deck = std::string(VELUNOR_SOURCE_DIR) + "/examples/underwater_charge.inp";
    EXPECT_EQ(sph_input_read(*m, deck), 0) << m->error.last_error_message;
    EXPECT_EQ(sph_input_build_model(*m), 0) << m->error.last_error_message;
    return m;
}

int count_phase(const Model& m, int phase) {
    const auto& p = m.db.particle_phase;
    return static_cast<int>(std::count(p.begin(), p.end(), phase));
}

// The index of the blast region of that name, -1 if there is none.
int find_region(const Model& m, const char* name) {
    const auto& regions = m.blast.regions;
    for (std::size_t r = 0; r < regions.size(); ++r) {
        if (regions[r].blast_region_name == name) return static_cast<int>(r);
    }
    return -1;
}

}  // namespace

TEST(UnderwaterChargeExample, BuildsTheDescribedModel) {
    const auto model = read_example();
    const Model& m = *model;
    ASSERT_EQ(m.db.npart, water_count + charge_count + plate_count + hull_count);
    EXPECT_EQ(count_phase(m, sph_phase_water), water_count);
    EXPECT_EQ(count_phase(m, sph_phase_explosive), charge_count);
    EXPECT_EQ(count_phase(m, sph_phase_solid), plate_count);
    EXPECT_EQ(count_phase(m, sph_phase_shell), hull_count);
    // Only the product gas material without a section: the deck has no other
    // warning.
    EXPECT_EQ(m.input.input_warning_count, 1);

    // The plate load holds the whole plate face; the hull gauge holds water
    // and hull particles but has no load.
    const int load = find_region(m, "PLATE_LOAD");
    const int gauge = find_region(m, "HULL_GAUGE");
    ASSERT_GE(load, 0);
    ASSERT_GE(gauge, 0);
    EXPECT_TRUE(m.blast.regions[load].blast_region_enabled);
    EXPECT_TRUE(m.blast.regions[gauge].blast_region_enabled);
    EXPECT_EQ(m.blast.snapshot[load].blast_target_count, plate_face_count);
    EXPECT_GT(m.blast.snapshot[load].blast_water_count, 0);
    EXPECT_GT(m.blast.snapshot[gauge].blast_target_count, 0);
    EXPECT_GT(m.blast.snapshot[gauge].blast_water_count, 0);
    EXPECT_EQ(m.blast.regions[gauge].blast_load_scale, 0.0);

    // The hull is one enabled coupling region of shell particles whose facet
    // areas, from the elements, add up to the panel's area.
    ASSERT_EQ(m.db.coupling_regions.size(), 1u);
    const CouplingRegionRecord& hull = m.db.coupling_regions[0];
    EXPECT_EQ(hull.coupling_region_name, "HULL");
    EXPECT_EQ(hull.coupling_region_enabled, 1);
    ASSERT_EQ(hull.coupling_region_particle_count, hull_count);
    double area = 0.0;
    for (int p : hull.coupling_region_particles) {
        EXPECT_EQ(m.db.particle_phase[p], sph_phase_shell);
        area += m.shell.shell_reference_area[p];
        // Directors point down, into the water.
        EXPECT_NEAR(m.shell.shell_director[p].z, -1.0, 1e-12);
    }
    EXPECT_NEAR(area, hull_area, 1e-9 * hull_area);

    // The charge's push: the water starts with SHOCK_SHARE of the charge's
    // chemical energy as kinetic energy, radially, so with no net momentum.
    double kinetic = 0.0;
    Vec3 momentum;
    double scale = 0.0;
    for (int i = 0; i < m.db.npart; ++i) {
        if (m.db.particle_phase[i] != sph_phase_water) continue;
        kinetic += 0.5 * m.db.mass[i] * dot(m.db.v[i], m.db.v[i]);
        momentum += m.db.mass[i] * m.db.v[i];
        scale += m.db.mass[i] * norm(m.db.v[i]);
    }
    const double push = shock_share * charge_count * 1.0 * charge_energy;
    EXPECT_NEAR(kinetic / push, 1.0, 1e-5);  // velocities are written with 6 digits
    EXPECT_LT(norm(momentum), 1e-12 * scale) << norm(momentum);
}

// The burn: the last particles of the charge, at its corners, detonate at
// the half diagonal over D; after that every explosive particle is gas.
TEST(UnderwaterChargeExample, BurnsOutInItsFirstSteps) {
    const auto model = read_example();
    Model& m = *model;
    const double spacing = std::cbrt(1.0 / rho_he);
    const double last_detonation = std::sqrt(3.0) * 2.0 * spacing / detonation_velocity;
    int steps = 0;
    while (m.control.current_time < last_detonation && steps < 10) {
        double dt = 0.0;
        ASSERT_EQ(sph_solver_estimate_stable_dt(m, dt), 0) << m.error.last_error_message;
        ASSERT_EQ(sph_solver_advance_explicit(m, dt), 0) << m.error.last_error_message;
        ++steps;
    }
    EXPECT_GE(m.control.current_time, last_detonation);
    EXPECT_LE(steps, 5);
    EXPECT_EQ(count_phase(m, sph_phase_explosive), 0);
    EXPECT_EQ(count_phase(m, sph_phase_gas), charge_count);
    EXPECT_EQ(count_phase(m, sph_phase_water), water_count);

    // The pulse has not reached the plate's layer yet at this time, and the
    // push stays symmetric about the charge.
    Vec3 water_momentum, plate_momentum;
    double push_scale = 0.0;
    for (int i = 0; i < m.db.npart; ++i) {
        const Vec3 p = m.db.mass[i] * m.db.v[i];
        if (m.db.particle_phase[i] == sph_phase_water) {
            water_momentum += p;
            push_scale += norm(p);
        }
        if (m.db.particle_phase[i] == sph_phase_solid) plate_momentum += p;
        EXPECT_TRUE(std::isfinite(m.db.pressure[i])) << "particle " << i;
    }
    EXPECT_LT(norm(water_momentum), 1e-9 * push_scale) << norm(water_momentum);
    EXPECT_LT(norm(plate_momentum), 1.0);
}
