#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>

#include "particle/sph_neighbor.hpp"
#include "particle/sph_particle.hpp"
#include "water/sph_water.hpp"
#include "water/sph_water_pairs.hpp"
#include "water_test_model.hpp"

using water_test::Block;
using water_test::expect_error;
using water_test::make_water_model;
using water_test::same_bits;

namespace {

std::unique_ptr<Model> make_empty_water_model(int npart) {
    auto m = make_water_model({});
    EXPECT_EQ(sph_db_allocate(*m, npart), 0);
    return m;
}

// A deck-like setup: material record, the four water keywords.
void define_water_material(Model& m, const char* name = "H2O", const char* type = "WATER",
                           double density = 1000.0) {
    ASSERT_EQ(sph_db_add_material(m, name, type), 0);
    if (density > 0.0) {
        ASSERT_EQ(sph_db_set_material_density(m, name, density), 0);
    }
    sph_water_note_material(m.water, name, type);
}

void define_water_keywords(Model& m, const char* name = "H2O") {
    ASSERT_EQ(sph_water_set_eos(m, "TAIT", name, 1000.0, 1480.0, 7.0, 0.0, 0.0, false), 0);
    ASSERT_EQ(sph_water_set_viscosity(m, "MONAGHAN", name, 0.1, 0.0, 0.01), 0);
    ASSERT_EQ(sph_water_set_particle_control(m, 0.013, 0.001, 1e-6), 0);
}

}  // namespace

// ---------------------------------------------------------------------------
// Setters and their check order

TEST(WaterSetters, EosChecksInOrderAndDerivesOrTakesB) {
    auto m = make_empty_water_model(0);
    // All four conditions fail at once: each message appears only when the
    // earlier checks pass.
    expect_error(*m, sph_water_set_eos(*m, "  ", "", -1, -1, -1, 0, 0, false), 4,
                 "Water EOS TYPE is required");
    expect_error(*m, sph_water_set_eos(*m, "IDEAL_GAS", "", -1, -1, -1, 0, 0, false), 4,
                 "Water EOS TYPE must be TAIT");
    expect_error(*m, sph_water_set_eos(*m, "tait", " ", -1, -1, -1, 0, 0, false), 4,
                 "Water EOS MATERIAL is required");
    expect_error(*m, sph_water_set_eos(*m, "tait", "W", 1000, 0, 7, 0, 0, false), 1,
                 "Water Tait EOS parameters must be positive");
    EXPECT_FALSE(m->water.water_material_seen);
    EXPECT_FALSE(m->water.water_eos_defined);

    ASSERT_EQ(sph_water_set_eos(*m, "my_tait_eos", "Sea", 1025.0, 1500.0, 7.15, 1e5, 0, false), 0);
    EXPECT_TRUE(m->water.water_material_seen);
    EXPECT_TRUE(m->water.water_eos_defined);
    EXPECT_EQ(m->water.water_material_name, "Sea");
    EXPECT_EQ(m->water.water_b, 1025.0 * 1500.0 * 1500.0 / 7.15);
    EXPECT_EQ(m->water.water_p0, 1e5);

    // A rejected B keeps the values stored before it and the defined flag.
    auto m2 = make_empty_water_model(0);
    expect_error(*m2, sph_water_set_eos(*m2, "TAIT", "W2", 998.0, 1400.0, 7.0, -5.0, 0.0, true), 1,
                 "Water Tait EOS B must be positive");
    EXPECT_EQ(m2->water.water_rho0, 998.0);
    EXPECT_EQ(m2->water.water_p0, -5.0);
    EXPECT_EQ(m2->water.water_material_name, "W2");
    EXPECT_TRUE(m2->water.water_material_seen);
    EXPECT_FALSE(m2->water.water_eos_defined);
    EXPECT_EQ(m2->water.water_b, WaterState{}.water_b);
    ASSERT_EQ(sph_water_set_eos(*m2, "TAIT", "W2", 998.0, 1400.0, 7.0, 0.0, 3e8, true), 0);
    EXPECT_EQ(m2->water.water_b, 3e8);
}

TEST(WaterSetters, ViscosityParticleControlAndDefaults) {
    auto m = make_empty_water_model(0);
    EXPECT_EQ(m->water.water_b, 1000.0 * 1480.0 * 1480.0 / 7.0);
    EXPECT_NEAR(m->water.water_b, 312914285.714, 1e-3);
    expect_error(*m, sph_water_set_viscosity(*m, "", "", -1, -1, 0), 4,
                 "Water viscosity TYPE is required");
    expect_error(*m, sph_water_set_viscosity(*m, "LAMINAR", "", -1, -1, 0), 4,
                 "Water viscosity TYPE must be MONAGHAN");
    expect_error(*m, sph_water_set_viscosity(*m, "monaghan", "", -1, -1, 0), 4,
                 "Water viscosity MATERIAL is required");
    for (const auto& [alpha, beta, eta2] :
         {std::tuple{-0.1, 0.0, 0.01}, std::tuple{0.1, -1e-9, 0.01}, std::tuple{0.1, 0.0, 0.0}}) {
        expect_error(*m, sph_water_set_viscosity(*m, "MONAGHAN", "W", alpha, beta, eta2), 1,
                     "Water viscosity parameters are invalid");
    }
    EXPECT_FALSE(m->water.water_viscosity_defined);
    ASSERT_EQ(sph_water_set_viscosity(*m, "Monaghan", "Lake", 0.0, 0.0, 1e-4), 0);
    EXPECT_TRUE(m->water.water_viscosity_defined);
    EXPECT_FALSE(m->water.water_material_seen);  // viscosity alone does not declare water
    EXPECT_EQ(m->water.water_material_name, "Lake");
    EXPECT_EQ(m->water.water_visc_alpha, 0.0);

    for (const auto& [h, mass, vol] :
         {std::tuple{0.0, 1.0, 1.0}, std::tuple{1.0, -1.0, 1.0}, std::tuple{1.0, 1.0, 0.0}}) {
        expect_error(*m, sph_water_set_particle_control(*m, h, mass, vol), 1,
                     "Water particle control values must be positive");
    }
    EXPECT_FALSE(m->water.water_particle_control_defined);
    EXPECT_EQ(m->water.water_default_h, 1.0);
    ASSERT_EQ(sph_water_set_particle_control(*m, 0.02, 0.008, 8e-6), 0);
    EXPECT_EQ(m->water.water_default_mass, 0.008);
}

TEST(WaterSetters, NoteMaterialMatchesWaterAnywhereInTheType) {
    WaterState w;
    sph_water_note_material(w, "Steel", "SOLID");
    EXPECT_FALSE(w.water_material_seen);
    sph_water_note_material(w, "Ocean", "SeaWater");
    EXPECT_TRUE(w.water_material_seen);
    EXPECT_EQ(w.water_material_name, "Ocean");
}

TEST(WaterSetters, BodyForceReachesOnlyActiveWaterParticles) {
    auto m = make_water_model({Block{3, 1, 1}});
    m->db.particle_status[1] = sph_status_inactive;
    m->db.particle_phase[2] = sph_phase_gas;
    ASSERT_EQ(sph_water_set_body_force(*m, Vec3{0, 0, -9.81}), 0);
    EXPECT_EQ(m->db.acc_body[0].z, -9.81);
    EXPECT_EQ(m->db.acc_body[1].z, 0.0);
    EXPECT_EQ(m->db.acc_body[2].z, 0.0);
    EXPECT_EQ(m->water.water_body_force.z, -9.81);
}

// ---------------------------------------------------------------------------
// Build: validation and initial conditions

TEST(WaterBuild, ValidationReportsTheFirstMissingKeyword) {
    auto m = make_empty_water_model(0);
    EXPECT_EQ(sph_water_validate_input(*m), 0);  // no water material: nothing to check
    define_water_material(*m, "H2O", "WATER", 0.0);
    expect_error(*m, sph_water_validate_input(*m), 4, "input is missing *VELUNOR EOS for Water");
    ASSERT_EQ(sph_water_set_eos(*m, "TAIT", "h2o", 1000.0, 1480.0, 7.0, 0.0, 0.0, false), 0);
    expect_error(*m, sph_water_validate_input(*m), 4,
                 "input is missing *VELUNOR VISCOSITY for Water");
    ASSERT_EQ(sph_water_set_viscosity(*m, "MONAGHAN", "h2o", 0.1, 0.0, 0.01), 0);
    expect_error(*m, sph_water_validate_input(*m), 4,
                 "input is missing *VELUNOR PARTICLE CONTROL for Water");
    ASSERT_EQ(sph_water_set_particle_control(*m, 1.0, 1.0, 1.0), 0);
    // The material name matches case-insensitively but has no density yet.
    expect_error(*m, sph_water_validate_input(*m), 4,
                 "input is missing *DENSITY for Water material");
    ASSERT_EQ(sph_db_set_material_density(*m, "H2O", 1000.0), 0);
    EXPECT_EQ(sph_water_validate_input(*m), 0);
    // A water name that matches no material has no density.
    m->water.water_material_name = "OTHER";
    EXPECT_FALSE(sph_water_has_material_density(*m));
}

TEST(WaterBuild, InitialConditionsTurnActiveWaterMaterialParticlesIntoWater) {
    auto m = make_empty_water_model(4);
    define_water_material(*m, "Steel", "SOLID", 7800.0);
    define_water_material(*m, "Sea", "seawater", 1025.0);
    define_water_keywords(*m, "Sea");
    ASSERT_EQ(sph_water_set_body_force(*m, Vec3{0, 0, -9.81}), 0);
    DbState& db = m->db;
    for (int i = 0; i < 4; ++i) db.material_id[i] = 2;
    db.material_id[1] = 1;                        // solid material
    db.particle_status[2] = sph_status_inactive;  // not active
    db.material_id[3] = 7;                        // out of range
    db.material_id[0] = 2;
    db.v[0] = Vec3{2.0, 0.0, 0.0};
    ASSERT_EQ(sph_water_apply_initial_conditions(*m), 0);
    EXPECT_EQ(db.particle_phase[0], sph_phase_water);
    EXPECT_EQ(db.rho[0], 1000.0);
    EXPECT_EQ(db.pressure[0], 0.0);
    EXPECT_EQ(db.mass[0], 0.001);
    EXPECT_EQ(db.volume[0], 1e-6);
    EXPECT_EQ(db.h[0], 0.013);
    EXPECT_EQ(db.acc_body[0].z, -9.81);
    for (int i : {1, 2, 3}) EXPECT_NE(db.particle_phase[i], sph_phase_water) << i;
    // Diagnostics follow the build.
    EXPECT_EQ(db.water.water_particle_count, 1);
    EXPECT_EQ(db.water.water_mass, 0.001);
    EXPECT_EQ(db.water.water_momentum.x, 0.002);

    // A failed validation stops before any particle changes.
    auto m2 = make_empty_water_model(1);
    define_water_material(*m2, "W", "WATER", 1000.0);
    m2->db.material_id[0] = 1;
    expect_error(*m2, sph_water_apply_initial_conditions(*m2), 4,
                 "input is missing *VELUNOR EOS for Water");
    EXPECT_EQ(m2->db.particle_phase[0], sph_phase_solid);
}

// ---------------------------------------------------------------------------
// Equation of state

TEST(WaterEos, TaitPressureValuesAndChecks) {
    auto m = make_empty_water_model(0);
    double p = -1.0;
    ASSERT_EQ(sph_water_tait_pressure(*m, 1000.0, p), 0);
    EXPECT_EQ(p, 0.0);
    ASSERT_EQ(sph_water_tait_pressure(*m, 1010.0, p), 0);
    const double b = 312914285.71428573;
    EXPECT_NEAR(p, b * (std::pow(1.01, 7.0) - 1.0), 1e-6);
    EXPECT_NEAR(p, 2.257e7, 0.001e7);
    ASSERT_EQ(sph_water_tait_pressure(*m, 990.0, p), 0);
    EXPECT_LT(p, 0.0);  // tension below rest density

    expect_error(*m, sph_water_tait_pressure(*m, 0.0, p), 1, "Water density must be positive");
    EXPECT_EQ(p, 0.0);
    m->water.water_gamma = 0.0;
    expect_error(*m, sph_water_tait_pressure(*m, 1000.0, p), 1,
                 "Water Tait EOS parameters are invalid");
    m->water.water_gamma = 7.0;
    m->water.water_rho0 = -1.0;
    expect_error(*m, sph_water_tait_pressure(*m, 1000.0, p), 1,
                 "Water Tait EOS parameters are invalid");

    double c = -1.0;
    ASSERT_EQ(sph_water_sound_speed(*m, c), 0);
    EXPECT_EQ(c, 1480.0);
    m->water.water_c0 = 0.0;
    expect_error(*m, sph_water_sound_speed(*m, c), 1, "Water sound speed must be positive");
    EXPECT_EQ(c, 0.0);
}

TEST(WaterEos, PressureUpdateCoversActiveWaterOnlyAndStopsAtTheFirstFailure) {
    auto m = make_water_model({Block{4, 1, 1}});
    DbState& db = m->db;
    db.rho[0] = 1010.0;
    db.particle_phase[1] = sph_phase_gas;
    db.rho[1] = 5.0;
    db.pressure[1] = 77.0;
    db.rho[2] = -1.0;
    db.rho[3] = 1010.0;
    db.pressure[3] = 5.0;
    expect_error(*m, sph_water_update_pressure(*m), 1, "Water density must be positive");
    EXPECT_GT(db.pressure[0], 2.25e7);
    EXPECT_EQ(db.pressure[1], 77.0);
    EXPECT_EQ(db.pressure[3], 5.0);  // not reached
}

// ---------------------------------------------------------------------------
// Pair sums

TEST(WaterPairs, ViscosityActsOnlyOnApproachingPairs) {
    auto m = make_water_model({Block{2, 1, 1}});
    DbState& db = m->db;
    Vec3 c;
    // At rest: no contribution.
    ASSERT_EQ(sph_water_pair_viscosity(*m, 0, 1, c), 0);
    EXPECT_TRUE(same_bits(c, Vec3{}));
    // Separating (v_ij . r_ij > 0): none.
    db.v[0] = Vec3{-1, 0, 0};
    db.v[1] = Vec3{1, 0, 0};
    ASSERT_EQ(sph_water_pair_viscosity(*m, 0, 1, c), 0);
    EXPECT_TRUE(same_bits(c, Vec3{}));
    // Moving sideways (v_ij . r_ij = 0): none.
    db.v[0] = Vec3{0, 1, 0};
    db.v[1] = Vec3{0, -1, 0};
    ASSERT_EQ(sph_water_pair_viscosity(*m, 0, 1, c), 0);
    EXPECT_TRUE(same_bits(c, Vec3{}));
    // Approaching: the contribution decelerates particle 0 (pushes it to -x).
    db.v[0] = Vec3{1, 0, 0};
    db.v[1] = Vec3{-1, 0, 0};
    ASSERT_EQ(sph_water_pair_viscosity(*m, 0, 1, c), 0);
    EXPECT_LT(c.x, 0.0);
    EXPECT_EQ(c.y, 0.0);
    // Hand value: r = -1 (x0 - x1), v = 2, h = 1.3, rho = 1000, m = 1000.
    const double h = 1.3, rr = 1.0, vr = -2.0;
    const double mu = h * vr / (rr + 0.01 * h * h);
    const double pi_ij = (0.0 - 0.1 * 1480.0 * mu) / 1000.0;
    Vec3 g;
    ASSERT_EQ(sph_kernel_gradient(m->error, 1, Vec3{-1, 0, 0}, h, g), 0);
    EXPECT_DOUBLE_EQ(c.x, -1000.0 * pi_ij * g.x);

    db.rho[0] = -1000.0;
    db.rho[1] = 1000.0;  // mean density 0
    expect_error(*m, sph_water_pair_viscosity(*m, 0, 1, c), 1, "invalid viscosity pair state");
    EXPECT_TRUE(same_bits(c, Vec3{}));
}

TEST(WaterPairs, PressureAccelerationChecksDensities) {
    auto m = make_water_model({Block{3, 1, 1}});
    ASSERT_EQ(sph_neighbor_rebuild(*m), 0);
    m->db.rho[2] = 0.0;
    expect_error(*m, sph_water_compute_pressure_acceleration(*m), 1,
                 "Water neighbor density must be positive");
    m->db.rho[2] = 1000.0;
    m->db.rho[0] = -1.0;
    expect_error(*m, sph_water_compute_pressure_acceleration(*m), 1,
                 "Water density must be positive for pressure force");
    // A non-water neighbor with no density is ignored.
    m->db.rho[0] = 1000.0;
    m->db.particle_phase[2] = sph_phase_boundary;
    m->db.rho[2] = 0.0;
    EXPECT_EQ(sph_water_compute_pressure_acceleration(*m), 0);
}

TEST(WaterPairs, CompressedPairRepelsAndSumsVanishAtRest) {
    auto m = make_water_model({Block{2, 1, 1}});
    DbState& db = m->db;
    db.rho[0] = db.rho[1] = 1010.0;
    db.acc_body[0] = db.acc_body[1] = Vec3{0, 0, -9.81};
    ASSERT_EQ(sph_neighbor_rebuild(*m), 0);
    ASSERT_EQ(sph_water_update_pressure(*m), 0);
    ASSERT_EQ(sph_water_compute_density_rate(*m), 0);
    ASSERT_EQ(sph_water_compute_acceleration(*m), 0);
    EXPECT_EQ(db.drho_dt[0], 0.0);         // at rest
    EXPECT_LT(db.acc_pressure[0].x, 0.0);  // particle 0 sits at lower x
    EXPECT_EQ(db.acc_pressure[1].x, -db.acc_pressure[0].x);
    EXPECT_EQ(db.acc_viscosity[0].x, 0.0);
    EXPECT_EQ(db.a[0].x, db.acc_pressure[0].x);
    EXPECT_EQ(db.a[0].z, -9.81);
    // Approaching particles compress: positive density rate.
    db.v[0] = Vec3{1, 0, 0};
    ASSERT_EQ(sph_water_compute_density_rate(*m), 0);
    EXPECT_GT(db.drho_dt[0], 0.0);
    EXPECT_GT(db.drho_dt[1], 0.0);
}

// ---------------------------------------------------------------------------
// Time-step limits and diagnostics

TEST(WaterDtLimits, SingleParticleNoWaterAndInvalidState) {
    auto m = make_water_model({Block{1, 1, 1}});
    double cfl = -1, acc = -1, visc = -1;
    ASSERT_EQ(sph_water_estimate_dt_limits(*m, cfl, acc, visc), 0);
    EXPECT_EQ(cfl, 1.3 / 1480.0);
    EXPECT_EQ(acc, cfl);  // |a| = 0
    EXPECT_EQ(visc, 1.3 / (1480.0 * 1.1));
    EXPECT_EQ(m->db.water.water_dt_viscous, visc);

    m->db.v[0] = Vec3{3, 4, 0};
    m->db.a[0] = Vec3{0, 0, -9.81};
    ASSERT_EQ(sph_water_estimate_dt_limits(*m, cfl, acc, visc), 0);
    EXPECT_EQ(cfl, 1.3 / (1480.0 + 5.0));
    EXPECT_EQ(acc, std::sqrt(1.3 / 9.81));

    m->db.particle_phase[0] = sph_phase_gas;
    ASSERT_EQ(sph_water_estimate_dt_limits(*m, cfl, acc, visc), 0);
    EXPECT_EQ(cfl, 0.0);
    EXPECT_EQ(acc, 0.0);
    EXPECT_EQ(visc, 0.0);

    m->db.particle_phase[0] = sph_phase_water;
    m->db.h[0] = 0.0;
    expect_error(*m, sph_water_estimate_dt_limits(*m, cfl, acc, visc), 1,
                 "invalid Water state for dt estimate");
    EXPECT_EQ(cfl, 0.0);
    m->db.h[0] = 1.0;
    m->water.water_c0 = 0.0;
    expect_error(*m, sph_water_estimate_dt_limits(*m, cfl, acc, visc), 1,
                 "invalid Water state for dt estimate");
}

TEST(WaterDtLimits, SmallestOverParticles) {
    auto m = make_water_model({Block{3, 1, 1}});
    m->db.h[1] = 0.5;
    m->db.a[2] = Vec3{1e6, 0, 0};
    double cfl, acc, visc;
    ASSERT_EQ(sph_water_estimate_dt_limits(*m, cfl, acc, visc), 0);
    EXPECT_EQ(cfl, 0.5 / 1480.0);
    EXPECT_EQ(acc, std::sqrt(1.3 / 1e6));
    EXPECT_EQ(visc, 0.5 / (1480.0 * 1.1));
}

TEST(WaterDiagnostics, SumsAndRangesOverActiveWater) {
    auto m = make_water_model({Block{3, 1, 1}});
    DbState& db = m->db;
    db.v[0] = Vec3{1, 0, 0};
    db.v[2] = Vec3{0, 2, 0};
    db.pressure[0] = -5.0;
    db.pressure[1] = -7.0;
    db.pressure[2] = -6.0;
    db.rho[1] = 990.0;
    db.rho[2] = 1020.0;
    db.particle_status[1] = sph_status_failed;  // left out
    db.water.water_dt_cfl = 1e-5;
    double mass, pmax, rmin, rmax;
    Vec3 mom;
    ASSERT_EQ(sph_water_get_summary(*m, mass, mom, pmax, rmin, rmax), 0);
    EXPECT_EQ(db.water.water_particle_count, 2);
    EXPECT_EQ(mass, 2000.0);
    EXPECT_TRUE(same_bits(mom, Vec3{1000.0, 2000.0, 0.0}));
    EXPECT_EQ(pmax, -5.0);  // the first particle's value starts the maximum
    EXPECT_EQ(rmin, 1000.0);
    EXPECT_EQ(rmax, 1020.0);
    EXPECT_EQ(db.water.water_dt_cfl, 1e-5);  // limits belong to the last estimate

    for (int i = 0; i < 3; ++i) db.particle_phase[i] = sph_phase_gas;
    ASSERT_EQ(sph_water_get_summary(*m, mass, mom, pmax, rmin, rmax), 0);
    EXPECT_EQ(db.water.water_particle_count, 0);
    EXPECT_EQ(mass, 0.0);
    EXPECT_EQ(pmax, 0.0);
    EXPECT_EQ(rmin, 0.0);
}

// ---------------------------------------------------------------------------
// The fused pass against the plain definition

namespace {

// The water pair sums written straight from their definition, one kernel
// call per pair and quantity.
struct Reference {
    std::vector<double> drho;
    std::vector<Vec3> acc_p, acc_v, a;
};

Reference reference_sums(Model& m) {
    const DbState& db = m.db;
    const WaterState& w = m.water;
    const int n = db.npart;
    Reference ref{std::vector<double>(n, 0.0), std::vector<Vec3>(n), std::vector<Vec3>(n), db.a};
    auto water = [&](int i) {
        return db.particle_phase[i] == sph_phase_water && db.particle_status[i] == 0;
    };
    for (int i = 0; i < n; ++i) {
        if (!water(i)) continue;
        for (int64_t k = db.neighbor_offset[i]; k < db.neighbor_offset[i] + db.neighbor_count[i];
             ++k) {
            const int j = db.neighbor_list[k];
            if (!water(j)) continue;
            const Vec3 r = db.x[i] - db.x[j];
            const Vec3 v = db.v[i] - db.v[j];
            Vec3 g;
            EXPECT_EQ(sph_kernel_gradient(m.error, 1, r, db.h[i], g), 0);
            ref.drho[i] += db.mass[j] * dot(v, g);
            const double pterm =
                db.pressure[i] / (db.rho[i] * db.rho[i]) + db.pressure[j] / (db.rho[j] * db.rho[j]);
            ref.acc_p[i] -= (db.mass[j] * pterm) * g;
            const double vr = dot(v, r);
            if (vr >= 0.0) continue;
            const double hb = (db.h[i] + db.h[j]) / 2.0;
            const double rb = (db.rho[i] + db.rho[j]) / 2.0;
            const double mu = hb * vr / (dot(r, r) + w.water_visc_eta2 * (hb * hb));
            const double pi_ij =
                (w.water_visc_beta * (mu * mu) - w.water_visc_alpha * w.water_c0 * mu) / rb;
            ref.acc_v[i] += (-db.mass[j] * pi_ij) * g;
        }
        ref.a[i] = ref.acc_p[i] + ref.acc_v[i] + db.acc_body[i];
    }
    return ref;
}

// Random particles of mixed phases and states, jittered around a lattice so
// neighbor counts vary; a few coincide exactly.
std::unique_ptr<Model> random_model(unsigned seed, int n) {
    std::mt19937 rng(seed);
    std::uniform_real_distribution<double> u(-1.0, 1.0);
    auto m = make_water_model({Block{n, 1, 1}});
    DbState& db = m->db;
    m->water.water_visc_beta = 0.5 * (1.0 + u(rng));
    m->water.water_p0 = 1e4 * u(rng);
    const int side = static_cast<int>(std::cbrt(double(n))) + 1;
    for (int i = 0; i < n; ++i) {
        db.x[i] = Vec3{double(i % side) + 0.4 * u(rng), double((i / side) % side) + 0.4 * u(rng),
                       double(i / (side * side)) + 0.4 * u(rng)};
        db.v[i] = Vec3{u(rng), u(rng), u(rng)};
        db.rho[i] = 1000.0 * (1.0 + 0.05 * u(rng));
        db.pressure[i] = 1e6 * u(rng);
        db.mass[i] = 1000.0 * (1.0 + 0.2 * u(rng));
        db.h[i] = 1.2 + 0.3 * u(rng);
        db.acc_body[i] = Vec3{0.0, 0.0, -9.81 * (1.0 + u(rng))};
        db.a[i] = Vec3{u(rng), u(rng), u(rng)};
        const double pick = u(rng);
        if (pick > 0.7) db.particle_phase[i] = sph_phase_boundary;
        if (pick < -0.85) db.particle_status[i] = sph_status_inactive;
    }
    db.x[5] = db.x[4];  // coincident pair: zero gradient
    db.v[5] = db.v[4];
    return m;
}

// Extreme inputs that pass every check: NaN and infinite positions,
// velocities, pressures and masses, subnormal densities, masses and
// separations, and a huge smoothing length.
void add_special_values(Model& m, unsigned seed) {
    DbState& db = m.db;
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    const double tiny = std::numeric_limits<double>::denorm_min();
    const int n = db.npart;
    auto at = [&](int k) { return static_cast<int>((seed * 37u + 11u * k) % n); };
    db.x[at(0)].y = nan;
    db.x[at(1)] = Vec3{nan, nan, nan};
    db.v[at(2)].x = inf;
    db.v[at(3)] = Vec3{-inf, nan, 0.0};
    db.pressure[at(4)] = nan;
    db.pressure[at(5)] = -inf;
    db.mass[at(6)] = tiny;
    db.mass[at(7)] = nan;
    db.rho[at(8)] = tiny;
    db.rho[at(9)] = 1e-310;
    db.h[at(10)] = 1e-300;
    db.h[at(11)] = 40.0;
    db.x[at(12)] = db.x[at(13)] + Vec3{tiny, 0.0, -tiny};  // subnormal separation
    db.acc_body[at(14)] = Vec3{nan, inf, -0.0};
}

// Same bits, or both NaN: which of two NaN operands an instruction passes on
// follows the operand order the compiler picks, so NaN payloads carry no
// meaning here.
bool same_value(double a, double b) {
    return same_bits(a, b) || (std::isnan(a) && std::isnan(b));
}

bool same_value(const Vec3& a, const Vec3& b) {
    return same_value(a.x, b.x) && same_value(a.y, b.y) && same_value(a.z, b.z);
}

void expect_same_results(const Model& m, const Reference& ref, const char* what) {
    const DbState& db = m.db;
    for (int i = 0; i < db.npart; ++i) {
        ASSERT_TRUE(same_value(db.drho_dt[i], ref.drho[i])) << what << " drho " << i;
        ASSERT_TRUE(same_value(db.acc_pressure[i], ref.acc_p[i])) << what << " acc_p " << i;
        ASSERT_TRUE(same_value(db.acc_viscosity[i], ref.acc_v[i])) << what << " acc_v " << i;
        ASSERT_TRUE(same_value(db.a[i], ref.a[i])) << what << " a " << i;
    }
}

}  // namespace

TEST(WaterFusedPass, BitIdenticalToPlainDefinitionOnRandomModels) {
    for (unsigned seed = 1; seed <= 8; ++seed) {
        auto m = random_model(seed, 300);
        if (seed > 4) add_special_values(*m, seed);
        ASSERT_EQ(sph_neighbor_rebuild(*m), 0);
        const Reference ref = reference_sums(*m);

        auto plain = std::make_unique<Model>(*m);
        ASSERT_EQ(sph_water_compute_density_rate(*plain), 0);
        ASSERT_EQ(sph_water_compute_acceleration(*plain), 0);
        expect_same_results(*plain, ref, "plain");

        bool done = false;
        ASSERT_EQ(sph_water_compute_density_rate_and_acceleration(*m, done), 0);
        EXPECT_TRUE(done);
        expect_same_results(*m, ref, "fused");
    }
}

// The rate-only pass (velocity Verlet's two density-rate passes) gives the
// plain rates bit for bit and leaves the accelerations as they were.
TEST(WaterFusedPass, RateOnlyPassEqualsThePlainRateAndKeepsTheAccelerations) {
    for (unsigned seed = 1; seed <= 8; ++seed) {
        auto m = random_model(seed, 300);
        if (seed > 4) add_special_values(*m, seed);
        ASSERT_EQ(sph_neighbor_rebuild(*m), 0);
        const Reference ref = reference_sums(*m);
        for (int i = 0; i < m->db.npart; ++i) {
            m->db.a[i] = Vec3{1.0 * i, 2.0, 3.0};
            m->db.acc_pressure[i] = Vec3{4.0, 5.0 * i, 6.0};
            m->db.acc_viscosity[i] = Vec3{7.0, 8.0, 9.0 * i};
        }
        ASSERT_EQ(sph_water_compute_density_rate_fused(*m), 0);
        for (int i = 0; i < m->db.npart; ++i) {
            ASSERT_TRUE(same_value(m->db.drho_dt[i], ref.drho[i])) << seed << " " << i;
            ASSERT_TRUE(same_value(m->db.a[i], Vec3{1.0 * i, 2.0, 3.0})) << i;
            ASSERT_TRUE(same_value(m->db.acc_pressure[i], Vec3{4.0, 5.0 * i, 6.0})) << i;
            ASSERT_TRUE(same_value(m->db.acc_viscosity[i], Vec3{7.0, 8.0, 9.0 * i})) << i;
        }
    }
}

TEST(WaterFusedPass, KernelGradientMatchesTheKernelModuleBitForBit) {
    std::mt19937 rng(7);
    std::uniform_real_distribution<double> u(-1.0, 1.0);
    for (int k = 0; k < 20000; ++k) {
        const double h = std::exp(3.0 * u(rng));
        const double scale = 2.2 * h;
        Vec3 r{scale * u(rng), scale * u(rng), scale * u(rng)};
        if (k % 97 == 0) r = Vec3{};
        if (k % 89 == 0) r = Vec3{2.0 * h, 0.0, 0.0};
        Vec3 expected;
        ASSERT_EQ(sph_kernel_gradient(*std::make_unique<ErrorState>(), 1, r, h, expected), 0);
        const Vec3 got = sph_wendland_c2_gradient(r, h, sph_wendland_c2_factor(h));
        ASSERT_TRUE(same_bits(got, expected)) << k;
    }
    // NaN separations propagate the same way.
    const double nan = std::numeric_limits<double>::quiet_NaN();
    Vec3 expected;
    ErrorState e;
    ASSERT_EQ(sph_kernel_gradient(e, 1, Vec3{nan, 0, 0}, 1.0, expected), 0);
    const Vec3 got = sph_wendland_c2_gradient(Vec3{nan, 0, 0}, 1.0, sph_wendland_c2_factor(1.0));
    EXPECT_TRUE(same_bits(got, expected));
}

TEST(WaterFusedPass, FailuresKeepThePlainOrderAndMessage) {
    // Density rate runs before the acceleration, so with both a bad smoothing
    // length (density rate fails) and a bad density (acceleration fails) the
    // caller sees only the density rate's failure, and nothing of the
    // acceleration is computed.
    auto m = random_model(11, 200);
    ASSERT_EQ(sph_neighbor_rebuild(*m), 0);
    int victim = -1;
    for (int i = 0; i < m->db.npart && victim < 0; ++i) {
        if (m->db.particle_phase[i] == sph_phase_water && m->db.particle_status[i] == 0 &&
            m->db.neighbor_count[i] > 0) {
            victim = i;
        }
    }
    ASSERT_GE(victim, 0);
    m->db.rho[m->db.npart - 1] = -1.0;
    m->db.particle_phase[m->db.npart - 1] = sph_phase_water;
    m->db.particle_status[m->db.npart - 1] = 0;
    auto plain = std::make_unique<Model>(*m);
    bool done = true;
    // Fine so far: bad density only affects the acceleration.
    ASSERT_EQ(sph_water_compute_density_rate_and_acceleration(*m, done), 0);
    EXPECT_FALSE(done);
    ASSERT_EQ(sph_water_compute_density_rate(*plain), 0);
    for (int i = 0; i < m->db.npart; ++i)
        ASSERT_TRUE(same_bits(m->db.drho_dt[i], plain->db.drho_dt[i]));
    const int plain_status = sph_water_compute_acceleration(*plain);
    ASSERT_NE(plain_status, 0);
    expect_error(*m, sph_water_compute_acceleration(*m), plain_status,
                 plain->error.last_error_message);

    m->db.h[victim] = -1.0;
    expect_error(*m, sph_water_compute_density_rate_and_acceleration(*m, done), 1,
                 "kernel smoothing length must be positive");
    EXPECT_FALSE(done);
}
