// Gas phase: equations of state, receivers, build, pair passes, limits,
// diagnostics and the step.

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstring>
#include <limits>
#include <string>
#include <tuple>
#include <vector>

#include "../input/deck_test_util.hpp"
#include "../test_expect.hpp"
#include "gas_test_model.hpp"
#include "input/sph_input_reader.hpp"
#include "particle/sph_neighbor.hpp"
#include "solver/sph_solver_explicit.hpp"
#include "velunor.h"

using gas_test::disturb;
using gas_test::Lattice;
using gas_test::make_model;

using test_expect::expect_error;
using test_expect::same_bits;

namespace {

// A model with the four materials and no particles, for the receivers.
std::unique_ptr<Model> materials_only() {
    auto m = std::make_unique<Model>();
    sph_gas_initialize(*m);
    EXPECT_EQ(sph_db_allocate(*m, 2), 0);
    for (auto [name, type] :
         {std::pair{"Air", "GAS"}, std::pair{"Water", "WATER"}, std::pair{"Products", "GAS"}}) {
        EXPECT_EQ(sph_db_add_material(*m, name, type), 0);
        sph_gas_note_material(*m, name, type);
    }
    return m;
}

int ideal(Model& m, std::string_view material, double gamma, double e0, double p0 = 0.0) {
    return sph_gas_set_eos(m, "IDEAL_GAS", material, 0, gamma, e0, p0, 0, 0, 0, 0, 0, 0);
}

// Wendland C2 gradient as written: dW/dr = -(21 / (16 pi h^3)) 5 q (1 - q/2)^3 / h
// along r / |r|, zero outside 2h and at r = 0.
Vec3 wendland_gradient(const Vec3& r, double h) {
    const double d = std::sqrt(dot(r, r));
    const double q = d / h;
    if (d <= 0.0 || q >= 2.0) return Vec3{};
    const double b = 1.0 - q / 2.0;
    const double dwdr = -(21.0 / (16.0 * 3.141592653589793 * h * h * h)) * 5.0 * q * b * b * b / h;
    return (dwdr / d) * r;
}

}  // namespace

// ---------------------------------------------------------------------------
// Equations of state

TEST(GasEos, ClosedFormsAndTheirFailures) {
    auto m = make_model({});
    double p = -1.0;
    // Ideal gas, gamma 1.4: (gamma - 1) rho e.
    ASSERT_EQ(sph_gas_compute_pressure_for_material(*m, 1, 1.2, 2.5e5, p), 0);
    EXPECT_DOUBLE_EQ(p, 1.2e5);
    GasMaterialRow& air = m->gas.rows[0];
    air.gas_material_p0 = 1e5;
    ASSERT_EQ(sph_gas_compute_pressure_for_material(*m, 1, 1.2, 2.5e5, p), 0);
    EXPECT_DOUBLE_EQ(p, 2.2e5);
    air.gas_material_p0 = 0.0;
    // Stiffened gas, gamma 4.4, pinf 6e8, e 0: -gamma pinf, negative allowed.
    ASSERT_EQ(sph_gas_compute_pressure_for_material(*m, 4, 1000.0, 0.0, p), 0);
    EXPECT_DOUBLE_EQ(p, -2.64e9);
    ASSERT_EQ(sph_gas_compute_pressure_for_material(*m, 4, 1000.0, 1e6, p), 0);
    EXPECT_DOUBLE_EQ(p, 3.4 * 1000.0 * 1e6 - 4.4 * 6e8);
    // JWL at rho = rho0 (V = 1) and at twice the density (V = 1/2).
    const double a = 3.7e11, b = 3.2e9, r1 = 4.15, r2 = 0.95, omega = 0.3, e = 4.3e6;
    ASSERT_EQ(sph_gas_compute_pressure_for_material(*m, 3, 1630.0, e, p), 0);
    EXPECT_DOUBLE_EQ(p, a * std::exp(-r1) + b * std::exp(-r2) + omega * e);
    ASSERT_EQ(sph_gas_compute_pressure_for_material(*m, 3, 3260.0, e, p), 0);
    EXPECT_DOUBLE_EQ(p, a * std::exp(-r1 * 0.5) + b * std::exp(-r2 * 0.5) + omega * e / 0.5);

    expect_error(*m, sph_gas_compute_pressure_for_material(*m, 1, 0.0, 1.0, p), 1,
                 "Gas density must be positive");
    EXPECT_EQ(p, 0.0);
    expect_error(*m, sph_gas_compute_pressure_for_material(*m, 1, std::nan(""), 1.0, p), 1,
                 "Gas density must be positive");
    expect_error(*m, sph_gas_compute_pressure_for_material(*m, 1, 1.0, -1e-9, p), 1,
                 "Gas internal energy must be non-negative");
    expect_error(*m, sph_gas_compute_pressure_for_material(*m, 2, 1.0, 1.0, p), 4,
                 "Gas particle material has no EOS");
    expect_error(*m, sph_gas_compute_pressure_for_material(*m, 1, 1.0e300, 1.0e300, p), 1,
                 "Gas pressure is not finite");
    m->gas.rows[1].gas_material_rho0 = 0.0;
    expect_error(*m, sph_gas_compute_pressure_for_material(*m, 3, 1.0, 1.0, p), 1,
                 "JWL gas reference density must be positive");
    m->gas.rows[1].gas_material_eos_type = 7;
    expect_error(*m, sph_gas_compute_pressure_for_material(*m, 3, 1.0, 1.0, p), 4,
                 "Gas EOS is not defined");
}

TEST(GasEos, SetterChecksInTheirOrder) {
    auto m = materials_only();
    expect_error(*m, sph_gas_set_eos(*m, " ", "", 0, 1.4, 1, 0, 0, 0, 0, 0, 0, 0), 4,
                 "Gas EOS TYPE is required");
    expect_error(*m, sph_gas_set_eos(*m, "IDEAL_GAS", "", 0, 1.4, 1, 0, 0, 0, 0, 0, 0, 0), 4,
                 "Gas EOS MATERIAL is required");
    expect_error(*m, sph_gas_set_eos(*m, "NOBLE_ABEL", "Air", 0, 1.4, 1, 0, 0, 0, 0, 0, 0, 0), 4,
                 "Gas EOS TYPE is not supported");
    // Values (code 1) are checked before the material look-ups (code 4).
    expect_error(*m, ideal(*m, "Nowhere", 1.0, 1.0), 1, "Ideal gas gamma must be greater than one");
    expect_error(*m, ideal(*m, "Nowhere", 1.4, -1.0), 1,
                 "Ideal gas internal energy must be non-negative");
    expect_error(*m, ideal(*m, "Nowhere", 1.4, 1.0), 4, "Gas EOS references unknown material");
    expect_error(*m, ideal(*m, "water", 1.4, 1.0), 4, "Gas EOS references non-Gas material");
    const double good[7] = {1630, 3.7e11, 3.2e9, 4.15, 0.95, 0.3, 4.3e6};
    for (int k = 0; k < 7; ++k) {
        double v[7];
        std::copy(good, good + 7, v);
        v[k] = (k == 1 || k == 2 || k == 6) ? -1.0 : 0.0;  // A, B, E0 may be 0, not negative
        expect_error(*m,
                     sph_gas_set_eos(*m, "JWL", "Products", v[0], 0, v[6], 0, v[1], v[2], v[3],
                                     v[4], v[5], 0),
                     1, "JWL gas EOS parameters are invalid");
    }
    for (auto [rho0, gamma, e0, pinf] : {std::tuple{0.0, 4.4, 0.0, 0.0},
                                         {1.0, 1.0, 0.0, 0.0},
                                         {1.0, 4.4, -1.0, 0.0},
                                         {1.0, 4.4, 0.0, -1.0}}) {
        expect_error(
            *m,
            sph_gas_set_eos(*m, "STIFFENED_GAS", "Air", rho0, gamma, e0, 0, 0, 0, 0, 0, 0, pinf), 1,
            "Stiffened gas EOS parameters are invalid");
    }
    EXPECT_TRUE(m->gas.rows.size() == 2 && !m->gas.rows[0].gas_material_eos_defined);
    // One EOS per material; names compare trimmed and without regard to case.
    ASSERT_EQ(ideal(*m, " air ", 1.4, 2.5e5, 1e5), 0);
    expect_error(*m, ideal(*m, "Air", 1.67, 1.0), 4, "Gas material EOS is already defined");
    const GasMaterialRow& air = m->gas.rows[0];
    EXPECT_EQ(air.gas_material_gamma, 1.4);
    EXPECT_EQ(air.gas_material_p0, 1e5);
    EXPECT_EQ(air.gas_material_rho0, 1.0);  // no *DENSITY yet: the current rho0
    EXPECT_EQ(m->gas.gas_eos_type, gas_eos_ideal);
    EXPECT_EQ(m->gas.gas_material_internal_id, 1);
    // A full table (the database's 32 materials could fill it) takes no
    // further material.
    ASSERT_EQ(sph_db_add_material(*m, "Late", "GAS"), 0);
    m->gas.rows.resize(32);
    EXPECT_EQ(sph_gas_table_index_by_material_id(m->gas, 4), 0);
    expect_error(*m, ideal(*m, "Late", 1.4, 1.0), 4, "too many Gas material records");
}

TEST(GasEos, ParticleControlReachesEveryRow) {
    auto m = materials_only();
    expect_error(*m, sph_gas_set_particle_control(*m, 0.01, 0.0, 1e-6), 1,
                 "Gas particle control values must be positive");
    expect_error(*m, sph_gas_set_particle_control(*m, std::nan(""), 1.0, 1e-6), 1,
                 "Gas particle control values must be positive");
    ASSERT_EQ(sph_gas_set_particle_control(*m, 0.02, 3e-3, 1e-6), 0);
    EXPECT_EQ(m->gas.rows[0].gas_material_default_mass, 3e-3);
    EXPECT_EQ(m->gas.rows[1].gas_material_default_h, 0.02);
    ASSERT_EQ(sph_db_add_material(*m, "Later", "GAS"), 0);
    sph_gas_note_material(*m, "Later", "GAS");
    EXPECT_EQ(m->gas.rows[2].gas_material_default_volume, 1e-6);
}

// ---------------------------------------------------------------------------
// Build

namespace {

constexpr std::string_view gas_deck = R"(*NODE
1, 0.0, 0.0, 0.0
2, 0.01, 0.0, 0.0
*NSET, NSET=CLOUD
1, 2
*MATERIAL, NAME=Air, TYPE=GAS
*DENSITY
1.2
*GAS SECTION, NSET=CLOUD, MATERIAL=Air
*VELUNOR TIME CONTROL, DT=1e-6, TIME=1e-3, STEPS=10
*VELUNOR EOS, TYPE=IDEAL_GAS, MATERIAL=Air, GAMMA=1.4, E0=2.5e5
)";

int read_and_build(Model& m, std::string_view text, std::string* path = nullptr) {
    deck_test::TempDeck deck(text);
    if (path != nullptr) *path = deck.path();
    if (int st = sph_input_read(m, deck.path())) return st;
    return sph_input_build_model(m);
}

}  // namespace

TEST(GasBuild, InitialStateFromDensityAndParticleControl) {
    auto m = deck_test::fresh_model();
    ASSERT_EQ(read_and_build(*m, std::string(gas_deck) + "*INITIAL CONDITIONS, TYPE=VELOCITY\n"
                                                         "2, 1, 3.0\n"),
              0)
        << m->error.last_error_message;
    const DbState& db = m->db;
    EXPECT_EQ(db.particle_phase[0], sph_phase_gas);
    EXPECT_EQ(db.rho[0], 1.2);
    EXPECT_EQ(db.internal_energy[0], 2.5e5);
    EXPECT_DOUBLE_EQ(db.pressure[0], 1.2e5);
    // Without particle control, h, mass and volume are 1; mass is not rho V.
    EXPECT_EQ(db.h[1], 1.0);
    EXPECT_EQ(db.mass[1], 1.0);
    EXPECT_EQ(db.volume[1], 1.0);
    EXPECT_EQ(db.v[1].x, 3.0);  // velocity kept
    EXPECT_EQ(db.gas.gas_particle_count, 2);
    EXPECT_EQ(sph_input_get_warning_count(*m), 0);

    m = deck_test::fresh_model();
    ASSERT_EQ(read_and_build(*m, std::string(gas_deck) +
                                     "*VELUNOR PARTICLE CONTROL, H=0.013, MASS=2e-6, VOLUME=1e-6\n"
                                     "*VELUNOR BODY FORCE, Z=-9.81\n"
                                     "*MATERIAL, NAME=Spare, TYPE=GAS\n*DENSITY\n2.0\n"
                                     "*VELUNOR EOS, TYPE=JWL, MATERIAL=Spare, RHO0=5, A=1, B=1, "
                                     "R1=1, R2=1, OMEGA=0.3, E0=1\n"),
              0)
        << m->error.last_error_message;
    EXPECT_EQ(m->db.mass[0], 2e-6);
    EXPECT_EQ(m->db.h[0], 0.013);
    EXPECT_EQ(m->db.acc_body[1].z, -9.81);
    EXPECT_EQ(sph_input_get_warning_count(*m), 1);  // Spare has no section
}

TEST(GasBuild, ValidationRowByRow) {
    const auto fails = [](std::string_view text, std::string_view message) {
        auto m = deck_test::fresh_model();
        EXPECT_EQ(read_and_build(*m, text), 4) << text;
        EXPECT_EQ(m->error.last_error_message, message) << text;
    };
    const std::string base(gas_deck);
    // A gas material without a section is validated all the same.
    fails(base + "*MATERIAL, NAME=Spare, TYPE=GAS\n*DENSITY\n1\n",
          "input is missing *VELUNOR EOS for Gas");
    // Its *DENSITY is required, even with a JWL RHO0.
    fails(base +
              "*MATERIAL, NAME=Spare, TYPE=GAS\n*VELUNOR EOS, TYPE=JWL, MATERIAL=Spare, "
              "RHO0=5, A=1, B=1, R1=1, R2=1, OMEGA=0.3, E0=1\n",
          "input is missing *DENSITY for Gas material");
    std::string no_density = base;
    no_density.replace(no_density.find("*DENSITY\n1.2\n"), 13, "");
    fails(no_density, "input is missing *DENSITY for Gas material");
    // A deck without gas skips the gas phase and leaves its diagnostics 0.
    auto m = deck_test::fresh_model();
    ASSERT_EQ(read_and_build(*m, deck_test::water_deck), 0) << m->error.last_error_message;
    EXPECT_EQ(m->db.gas.gas_particle_count, 0);
    EXPECT_EQ(m->db.gas.gas_volume, 0.0);
    EXPECT_TRUE(m->gas.rows.empty());
}

// ---------------------------------------------------------------------------
// Pair passes

// The fused pass gives the bits of the two plain passes, on mixed models
// with inactive gas, water, and other gas materials among the neighbors.
TEST(GasPairs, FusedPassEqualsThePlainPassesBitForBit) {
    for (unsigned seed = 1; seed <= 6; ++seed) {
        auto a = make_model({Lattice{5, 5, 4, 0.01, {}, 1}, Lattice{3, 5, 4, 0.01, {0.05, 0, 0}, 2},
                             Lattice{4, 3, 3, 0.01, {0, 0, 0.04}, 3}});
        disturb(*a, seed);
        for (int i = 0; i < a->db.npart; i += 7) a->db.particle_status[i] = sph_status_inactive;
        for (int i = 0; i < a->db.npart; ++i) {
            if (sph_gas_is_active_particle(a->db, i)) {
                ASSERT_EQ(sph_gas_compute_pressure_for_material(
                              *a, a->db.material_id[i], a->db.rho[i], a->db.internal_energy[i],
                              a->db.pressure[i]),
                          0);
            }
            a->db.acc_pressure[i] = Vec3{1.0, 2.0, 3.0};  // stale values the passes replace
            a->db.a[i] = Vec3{-1.0, 0.5, 7.0};
            a->db.drho_dt[i] = 4.0;
        }
        ASSERT_EQ(sph_neighbor_rebuild(*a), 0);
        Model b = *a;
        ASSERT_EQ(sph_gas_compute_density_rate(*a), 0);
        ASSERT_EQ(sph_gas_compute_acceleration(*a), 0);
        ASSERT_TRUE(sph_gas_pair_pass_ready(b));
        sph_gas_compute_density_rate_and_acceleration(b);
        for (int i = 0; i < a->db.npart; ++i) {
            EXPECT_TRUE(same_bits(a->db.drho_dt[i], b.db.drho_dt[i])) << seed << " " << i;
            EXPECT_TRUE(same_bits(a->db.acc_pressure[i], b.db.acc_pressure[i])) << i;
            EXPECT_TRUE(same_bits(a->db.a[i], b.db.a[i])) << i;
        }
        // A density that is not positive keeps the plain passes (and their
        // messages in order).
        const int gas = 3;
        ASSERT_TRUE(sph_gas_is_active_particle(b.db, gas));
        b.db.rho[gas] = 0.0;
        EXPECT_FALSE(sph_gas_pair_pass_ready(b));
        b.db.rho[gas] = 1.0;
        b.db.h[gas] = std::nan("");
        EXPECT_FALSE(sph_gas_pair_pass_ready(b));
    }
}

TEST(GasPairs, PlainPassesFollowTheWrittenEquations) {
    auto m = make_model({Lattice{4, 4, 4, 0.01, {}, 1}, Lattice{2, 4, 4, 0.01, {0.04, 0, 0}, 2}});
    disturb(*m, 3);
    ASSERT_EQ(sph_gas_update_pressure(*m), 0);
    ASSERT_EQ(sph_neighbor_rebuild(*m), 0);
    ASSERT_EQ(sph_gas_compute_density_rate(*m), 0);
    ASSERT_EQ(sph_gas_compute_acceleration(*m), 0);
    const DbState& db = m->db;
    for (int i = 0; i < db.npart; ++i) {
        if (!sph_gas_is_active_particle(db, i)) {
            EXPECT_EQ(db.acc_pressure[i].x, 0.0);  // cleared for every particle
            continue;
        }
        double drho = 0.0;
        Vec3 acc;
        for (int j = 0; j < db.npart; ++j) {
            const Vec3 r = db.x[i] - db.x[j];
            if (j == i || !sph_gas_is_active_particle(db, j) ||
                norm(r) > 2.0 * std::max(db.h[i], db.h[j])) {
                continue;
            }
            const Vec3 g = wendland_gradient(r, db.h[i]);
            drho += db.mass[j] * dot(db.v[i] - db.v[j], g);
            const double term =
                db.pressure[j] / (db.rho[j] * db.rho[j]) + db.pressure[i] / (db.rho[i] * db.rho[i]);
            acc -= (db.mass[j] * term) * g;
        }
        const double scale_d = std::fabs(drho) + 1e-30;
        EXPECT_NEAR(db.drho_dt[i], drho, 1e-11 * scale_d) << i;
        for (int c = 0; c < 3; ++c) {
            EXPECT_NEAR(db.acc_pressure[i][c], acc[c], 1e-11 * (norm(acc) + 1e-30)) << i;
            EXPECT_EQ(db.a[i][c], db.acc_body[i][c] + db.acc_pressure[i][c]);
        }
    }
}

TEST(GasPairs, ErrorsOfThePlainPasses) {
    auto m = make_model({Lattice{3, 1, 1, 0.01, {}, 1}});
    ASSERT_EQ(sph_neighbor_rebuild(*m), 0);
    m->db.rho[1] = -1.0;
    expect_error(*m, sph_gas_compute_acceleration(*m), 1, "Gas neighbor density must be positive");
    m->db.rho[0] = 0.0;
    expect_error(*m, sph_gas_compute_pressure_acceleration(*m), 1,
                 "Gas density must be positive for pressure force");
}

// ---------------------------------------------------------------------------
// Sound speed, limits, diagnostics

TEST(GasLimits, SoundSpeedAndTimeStepLimits) {
    auto m = make_model({Lattice{2, 1, 1, 0.01, {}, 1}, Lattice{1, 1, 1, 0.01, {1, 0, 0}, 4}});
    DbState& db = m->db;
    db.pressure[0] = 0.0;
    db.rho[0] = 1.0;
    EXPECT_EQ(sph_gas_sound_speed(*m, 0), 1.0);  // the added 1, no gamma
    db.pressure[1] = -3.0;
    db.rho[1] = 2.0;
    EXPECT_EQ(sph_gas_sound_speed(*m, 1), std::sqrt(2.0));  // (|p| + 1) / rho
    // The stiffened gas counts its pinf.
    db.pressure[2] = 0.0;
    db.rho[2] = 1000.0;
    EXPECT_EQ(sph_gas_sound_speed(*m, 2), std::sqrt((6e8 + 1.0) / 1000.0));
    db.pressure[2] = -1.0;
    db.rho[2] = 1e300;  // below the floor
    EXPECT_EQ(sph_gas_sound_speed(*m, 2), std::sqrt(1e-12));

    // Particle 0 at rest: dt_cfl = h / c = h; the others (larger h) do not
    // limit it.
    const double h = db.h[0];
    db.h[1] = 1.0;
    db.h[2] = 1.0;
    for (int i = 0; i < 3; ++i) db.a[i] = Vec3{};
    double cfl = 0, accel = 0, limit = 0;
    ASSERT_EQ(sph_gas_estimate_dt_limits(*m, cfl, accel, limit), 0);
    EXPECT_EQ(cfl, h);
    EXPECT_EQ(accel, cfl);  // no acceleration anywhere
    EXPECT_EQ(limit, cfl);
    db.a[0] = Vec3{0, 0, 4.0 * h / (1e-4 * 1e-4) * 1e4};  // sqrt(h / |a|) far below h
    ASSERT_EQ(sph_gas_estimate_dt_limits(*m, cfl, accel, limit), 0);
    EXPECT_EQ(accel, std::sqrt(h / db.a[0].z));
    EXPECT_EQ(limit, accel);
    EXPECT_EQ(db.gas.gas_dtcrit, limit);
    db.h[1] = 0.0;
    expect_error(*m, sph_gas_estimate_dt_limits(*m, cfl, accel, limit), 1,
                 "invalid Gas state for dt estimate");
    EXPECT_EQ(limit, 0.0);
    // No active gas: all three 0.
    for (int i = 0; i < 3; ++i) db.particle_status[i] = sph_status_inactive;
    ASSERT_EQ(sph_gas_estimate_dt_limits(*m, cfl, accel, limit), 0);
    EXPECT_EQ(cfl + accel + limit, 0.0);
}

TEST(GasDiagnostics, BubbleAcrossTwoUpdates) {
    auto m = make_model({Lattice{2, 2, 2, 0.01, {}, 1}, Lattice{2, 1, 1, 0.01, {1, 1, 1}, 2}});
    DbState& db = m->db;
    // The initial conditions ran one update: no history before it.
    EXPECT_EQ(db.gas.gas_radius_rate, 0.0);
    const double volume = 8 * 1e-6;
    EXPECT_EQ(db.gas.gas_particle_count, 8);
    EXPECT_DOUBLE_EQ(db.gas.gas_volume, 8 * (0.01 * 0.01 * 0.01));
    const double r1 = std::pow(3.0 * db.gas.gas_volume / 12.566370614359172, 1.0 / 3.0);
    EXPECT_EQ(db.gas.gas_equivalent_radius, r1);
    EXPECT_NEAR(db.gas.gas_center.x, 0.005, 1e-15);
    EXPECT_NEAR(r1, std::cbrt(3.0 * volume / (4.0 * 3.141592653589793)), 1e-15);
    // Grow every volume eightfold and move the cloud: R doubles.
    for (int i = 0; i < 8; ++i) {
        db.volume[i] *= 8.0;
        db.x[i] += Vec3{0.0, 3.0, 4.0};
        db.pressure[i] = i;  // mean pressure is volume-weighted
    }
    db.pressure[3] = -100.0;
    ASSERT_EQ(sph_gas_update_diagnostics(*m), 0);
    const double r2 = db.gas.gas_equivalent_radius;
    EXPECT_NEAR(r2, 2.0 * r1, 1e-15);
    EXPECT_EQ(db.gas.gas_radius_rate, r2 - r1);  // the change, not a rate per time
    EXPECT_NEAR(db.gas.gas_center_shift, 5.0, 1e-12);
    EXPECT_EQ(db.gas.gas_max_pressure, 7.0);
    EXPECT_NEAR(db.gas.gas_mean_pressure, (28.0 - 3.0 - 100.0) / 8.0, 1e-12);
    double radius = 0, rate = 0;
    Vec3 center;
    sph_gas_get_bubble_metrics(*m, radius, rate, center);
    EXPECT_EQ(radius, r2);
    EXPECT_EQ(rate, r2 - r1);
    EXPECT_EQ(center.y, db.gas.gas_center.y);
    // A volume that is not positive fails the update.
    db.volume[5] = 0.0;
    expect_error(*m, sph_gas_update_diagnostics(*m), 1, "Gas volume must be positive");
    // Initialization forgets the history.
    sph_gas_initialize(*m);
    EXPECT_EQ(m->db.gas.gas_previous_equivalent_radius, 0.0);
    EXPECT_FALSE(m->gas.gas_bubble_history_valid);
}

TEST(GasDiagnostics, SummariesRecomputeInTheirOrder) {
    auto m = make_model({Lattice{3, 2, 2, 0.01, {}, 1}});
    disturb(*m, 5);
    double cfl = 0, accel = 0, limit = 0;
    ASSERT_EQ(sph_gas_estimate_dt_limits(*m, cfl, accel, limit), 0);
    EXPECT_GT(m->db.gas.gas_dt_cfl, 0.0);
    double volume = 0, mean = 0, max = 0;
    Vec3 center;
    ASSERT_EQ(sph_gas_get_summary(*m, volume, center, mean, max), 0);
    EXPECT_DOUBLE_EQ(volume, 12e-6);
    EXPECT_EQ(m->db.gas.gas_dt_cfl, 0.0);  // the diagnostics clear the stored limits
    double mass = 0;
    Vec3 momentum;
    std::array<double, 2> density{};
    std::array<double, 3> dts{};
    ASSERT_EQ(sph_gas_get_extended_summary(*m, mass, momentum, density, dts), 0);
    EXPECT_EQ(dts[0], cfl);
    EXPECT_EQ(dts[2], limit);
    Vec3 p;
    double lo = 1e300, hi = -1e300, total = 0.0;
    for (int i = 0; i < m->db.npart; ++i) {
        p += m->db.mass[i] * m->db.v[i];
        lo = std::min(lo, m->db.rho[i]);
        hi = std::max(hi, m->db.rho[i]);
        total += m->db.mass[i];
    }
    EXPECT_EQ(mass, total);
    EXPECT_TRUE(same_bits(momentum, p));
    EXPECT_EQ(density[0], lo);
    EXPECT_EQ(density[1], hi);
}

// ---------------------------------------------------------------------------
// The step

// Water with and without gas particles inside its box (after it in index
// order): the water state comes out bit for bit the same, and the gas follows
// a plain transcription of its equations.
TEST(GasStep, MixedModelAgainstAPlainReference) {
    const std::vector<Lattice> water = {Lattice{4, 4, 4, 0.01, {}, 2}};
    std::vector<Lattice> mixed = water;
    mixed.push_back(Lattice{3, 3, 3, 0.01, {0.005, 0.005, 0.005}, 1});
    auto w = make_model(water);
    auto g = make_model(mixed);
    disturb(*w, 9, 0.2);
    disturb(*g, 9, 0.2);  // the same values for the water particles
    const int nw = w->db.npart;
    const DbState& gdb = g->db;
    // Reference state of the gas particles.
    struct Ref {
        Vec3 x, v;
        double rho, e, m, h;
    };
    std::vector<Ref> ref;
    for (int i = nw; i < gdb.npart; ++i) {
        ref.push_back(
            {gdb.x[i], gdb.v[i], gdb.rho[i], gdb.internal_energy[i], gdb.mass[i], gdb.h[i]});
    }
    const double dt = 2e-6;
    const auto pressure = [](const Ref& r) { return 0.4 * r.rho * r.e; };
    for (int step = 0; step < 5; ++step) {
        ASSERT_EQ(sph_solver_advance_explicit(*w, dt), 0) << w->error.last_error_message;
        ASSERT_EQ(sph_solver_advance_explicit(*g, dt), 0) << g->error.last_error_message;
        const std::size_t n = ref.size();
        std::vector<double> drho(n, 0.0);
        std::vector<Vec3> acc(n);
        for (std::size_t i = 0; i < n; ++i) {
            for (std::size_t j = 0; j < n; ++j) {
                const Vec3 r = ref[i].x - ref[j].x;
                if (i == j || norm(r) > 2.0 * std::max(ref[i].h, ref[j].h)) continue;
                const Vec3 grad = wendland_gradient(r, ref[i].h);
                drho[i] += ref[j].m * dot(ref[i].v - ref[j].v, grad);
                acc[i] -= (ref[j].m * (pressure(ref[j]) / (ref[j].rho * ref[j].rho) +
                                       pressure(ref[i]) / (ref[i].rho * ref[i].rho))) *
                          grad;
            }
        }
        for (std::size_t i = 0; i < n; ++i) {
            const Vec3 vh = ref[i].v + (0.5 * dt) * acc[i];
            ref[i].x = ref[i].x + dt * vh;
            ref[i].rho = ref[i].rho + dt * drho[i];
            ref[i].v = vh + (0.5 * dt) * acc[i];
        }
    }
    for (int i = 0; i < nw; ++i) {
        EXPECT_TRUE(same_bits(w->db.x[i], gdb.x[i])) << i;
        EXPECT_TRUE(same_bits(w->db.v[i], gdb.v[i])) << i;
        EXPECT_TRUE(same_bits(w->db.rho[i], gdb.rho[i])) << i;
        EXPECT_TRUE(same_bits(w->db.pressure[i], gdb.pressure[i])) << i;
    }
    for (std::size_t k = 0; k < ref.size(); ++k) {
        const int i = nw + static_cast<int>(k);
        for (int c = 0; c < 3; ++c) {
            EXPECT_NEAR(gdb.x[i][c], ref[k].x[c], 1e-14) << i;
            EXPECT_NEAR(gdb.v[i][c], ref[k].v[c], 1e-9 * (norm(ref[k].v) + 1.0)) << i;
        }
        EXPECT_NEAR(gdb.rho[i], ref[k].rho, 1e-12 * ref[k].rho) << i;
        // The pressure left by the step is that of the end-of-step density.
        EXPECT_NEAR(gdb.pressure[i], pressure(ref[k]), 1e-9 * pressure(ref[k])) << i;
        EXPECT_EQ(gdb.pressure[i], 0.0 + (1.4 - 1.0) * gdb.rho[i] * gdb.internal_energy[i]);
    }
    // The gas limit takes part in the stable step.
    double dt_w = 0, dt_g = 0;
    w->control.dt_default = 1.0;
    g->control.dt_default = 1.0;
    ASSERT_EQ(sph_solver_estimate_stable_dt(*w, dt_w), 0);
    ASSERT_EQ(sph_solver_estimate_stable_dt(*g, dt_g), 0);
    double cfl = 0, accel = 0, limit = 0;
    ASSERT_EQ(sph_gas_estimate_dt_limits(*g, cfl, accel, limit), 0);
    EXPECT_EQ(dt_g, std::min(dt_w, limit));
}

TEST(GasStep, DensityDrivenBelowZeroFailsAfterTheParticlesMoved) {
    auto m = make_model({Lattice{3, 3, 3, 0.01, {}, 1}});
    DbState& db = m->db;
    // Every particle flies outward from the centre particle fast.
    for (int i = 0; i < db.npart; ++i) db.v[i] = 500.0 * (db.x[i] - db.x[13]);
    const Vec3 x_before = db.x[0];
    expect_error(*m, sph_solver_advance_explicit(*m, 5e-3), 1, "Gas density must be positive");
    EXPECT_EQ(m->control.current_step, 0);
    EXPECT_EQ(m->control.current_time, 0.0);
    EXPECT_FALSE(same_bits(db.x[0], x_before));  // the integration ran
}

// ---------------------------------------------------------------------------
// Restart support and the fresh start of a deck read

TEST(GasRestartSupport, ClearAndRebuildTheLegacyTable) {
    auto m = make_model({Lattice{1, 1, 1, 0.01, {}, 2}, Lattice{2, 1, 1, 0.01, {1, 0, 0}, 3}});
    ASSERT_EQ(sph_gas_source_allocate(*m), 0);
    m->gas.sources.gas_mass_source[1] = 5.0;
    m->db.rho[1] = 7.5;
    m->db.temperature[1] = 400.0;
    sph_gas_clear_material_table(m->gas);
    EXPECT_TRUE(m->gas.rows.empty());
    ASSERT_EQ(sph_gas_rebuild_legacy_restart_state(*m), 0);
    ASSERT_EQ(m->gas.rows.size(), 1u);
    const GasMaterialRow& row = m->gas.rows[0];
    EXPECT_EQ(row.gas_material_ids, 3);  // the first active gas particle's material
    EXPECT_EQ(row.gas_material_eos_type, m->gas.gas_eos_type);
    EXPECT_TRUE(row.gas_material_eos_defined);
    EXPECT_EQ(row.gas_material_density_default, 7.5);
    EXPECT_EQ(row.gas_material_temperature_default, 400.0);
    EXPECT_EQ(row.gas_material_pinf, m->gas.gas_pinf);
    EXPECT_EQ(m->gas.gas_material_internal_id, 3);
    EXPECT_EQ(m->gas.sources.gas_mass_source[1], 0.0);  // sources cleared
    // No active gas particle: no row.
    for (int i = 0; i < m->db.npart; ++i) m->db.particle_status[i] = sph_status_inactive;
    ASSERT_EQ(sph_gas_rebuild_legacy_restart_state(*m), 0);
    EXPECT_TRUE(m->gas.rows.empty());
}

TEST(GasFreshStart, EveryDeckReadStartsTheGasTableAfresh) {
    ASSERT_EQ(velunor_initialize(), 0);
    std::string without_eos(gas_deck);
    without_eos.erase(without_eos.find("*VELUNOR EOS"));
    deck_test::TempDeck a(gas_deck);
    deck_test::TempDeck b(without_eos);
    ASSERT_EQ(velunor_read_inp(b.path().c_str()), 0);
    EXPECT_EQ(velunor_build_model(), 4);  // B read fresh
    char message[300];
    int code = 0;
    ASSERT_EQ(velunor_get_last_error(&code, message, 300), 0);
    EXPECT_STREQ(message, "input is missing *VELUNOR EOS for Gas");
    ASSERT_EQ(velunor_read_inp(a.path().c_str()), 0);
    ASSERT_EQ(velunor_build_model(), 0);
    double radius = 0, rate = 0, center[3];
    ASSERT_EQ(velunor_get_gas_bubble_metrics(&radius, &rate, center), 0);
    EXPECT_GT(radius, 0.0);
    ASSERT_EQ(velunor_read_inp(b.path().c_str()), 0);
    EXPECT_EQ(velunor_build_model(), 4);
    ASSERT_EQ(velunor_get_last_error(&code, message, 300), 0);
    EXPECT_STREQ(message, "input is missing *VELUNOR EOS for Gas");
    // Reading A again builds with no bubble history from the first A.
    ASSERT_EQ(velunor_read_inp(a.path().c_str()), 0);
    ASSERT_EQ(velunor_build_model(), 0);
    ASSERT_EQ(velunor_get_gas_bubble_metrics(&radius, &rate, center), 0);
    EXPECT_EQ(rate, 0.0);
    EXPECT_EQ(velunor_finalize(), 0);
}

TEST(GasExports, GuardsRejectionsAndValues) {
    double d[8] = {};
    EXPECT_EQ(velunor_get_gas_summary(d, d + 1, d + 4, nullptr), -1);
    EXPECT_EQ(velunor_get_gas_bubble_metrics(nullptr, d, d + 1), -1);
    EXPECT_EQ(velunor_get_gas_dt_limits(d, d, nullptr), -1);
    EXPECT_EQ(velunor_get_gas_extended_summary(d, d + 1, nullptr, d + 4), -1);
    EXPECT_EQ(velunor_get_gas_source_summary(d, nullptr, d + 4), -1);
    ASSERT_EQ(velunor_finalize(), 0);
    EXPECT_EQ(velunor_get_gas_dt_limits(d, d + 1, d + 2), 2);
    ASSERT_EQ(velunor_initialize(), 0);
    EXPECT_EQ(velunor_get_gas_summary(d, d + 1, d + 4, d + 5), 2);  // not built
    deck_test::TempDeck a(gas_deck);
    ASSERT_EQ(velunor_read_inp(a.path().c_str()), 0);
    ASSERT_EQ(velunor_build_model(), 0);
    double volume = 0, center[3], mean = 0, max = 0;
    ASSERT_EQ(velunor_get_gas_summary(&volume, center, &mean, &max), 0);
    EXPECT_EQ(volume, 2.0);  // two particles of volume 1
    EXPECT_DOUBLE_EQ(mean, 1.2e5);
    EXPECT_EQ(center[0], 0.005);
    double dts[3];
    ASSERT_EQ(velunor_get_gas_dt_limits(dts, dts + 1, dts + 2), 0);
    EXPECT_GT(dts[0], 0.0);
    double mass = 0, momentum[3], range[2], limits[3];
    ASSERT_EQ(velunor_get_gas_extended_summary(&mass, momentum, range, limits), 0);
    EXPECT_EQ(mass, 2.0);
    EXPECT_EQ(range[0], 1.2);
    EXPECT_EQ(limits[0], dts[0]);
    double ms = -1, mom[3] = {-1, -1, -1}, es = -1;
    ASSERT_EQ(velunor_get_gas_source_summary(&ms, mom, &es), 0);
    EXPECT_EQ(ms + mom[0] + mom[1] + mom[2] + es, 0.0);
    EXPECT_EQ(velunor_finalize(), 0);
}
