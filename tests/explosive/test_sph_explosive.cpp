// Programmed burn: controls and ignitions, build, detonation times, the burn
// with PHASE and SOURCE conversion against plain references, balances,
// exports.

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "../input/deck_test_util.hpp"
#include "../test_expect.hpp"
#include "core/sph_model.hpp"
#include "input/sph_input_reader.hpp"
#include "interface/sph_api.hpp"
#include "solver/sph_solver_explicit.hpp"
#include "velunor.h"

using test_expect::expect_error;
using test_expect::same_bits;

namespace {

// A charge of nx * ny * nz explosive particles (material HE, PHASE or as
// given) beside a cloud of `gas` product particles, with controls and
// ignitions as given in `extra`.
std::string charge_deck(int nx, int ny, int nz, int gas, const std::string& extra) {
    std::string deck = "*NODE\n";
    int id = 0;
    for (int k = 0; k < nz; ++k) {
        for (int j = 0; j < ny; ++j) {
            for (int i = 0; i < nx; ++i) {
                deck += std::to_string(++id) + ", " + std::to_string(0.01 * i) + ", " +
                        std::to_string(0.01 * j) + ", " + std::to_string(0.01 * k) + "\n";
            }
        }
    }
    const int charge = id;
    for (int g = 0; g < gas; ++g) {
        deck += std::to_string(++id) + ", " + std::to_string(0.5 + 0.01 * g) + ", 0, 0\n";
    }
    deck += "*NSET, NSET=CHARGE, GENERATE\n1, " + std::to_string(charge) + "\n";
    if (gas > 0) {
        deck += "*NSET, NSET=CLOUD, GENERATE\n" + std::to_string(charge + 1) + ", " +
                std::to_string(id) + "\n";
    }
    deck +=
        "*MATERIAL, NAME=Products, TYPE=GAS\n*DENSITY\n1630\n"
        "*VELUNOR EOS, TYPE=JWL, MATERIAL=Products, RHO0=1630, A=3.7e11, B=3.2e9, R1=4.15, "
        "R2=0.95, OMEGA=0.3, E0=1e5\n"
        "*MATERIAL, NAME=HE, TYPE=EXPLOSIVE\n*DENSITY\n1630\n"
        "*CHARGE SECTION, NSET=CHARGE, MATERIAL=HE\n";
    if (gas > 0) deck += "*GAS SECTION, NSET=CLOUD, MATERIAL=Products\n";
    deck += "*VELUNOR TIME CONTROL, DT=1e-6, TIME=1e-4, STEPS=100\n";
    return deck + extra;
}

const std::string phase_control =
    "*VELUNOR EXPLOSIVE, MATERIAL=HE, TYPE=PROGRAMMED_BURN, DETONATION_VELOCITY=8000, "
    "ENERGY=4.3e6, BURN_TIME=2e-6, PRODUCT_MATERIAL=Products\n";
const std::string source_control =
    "*VELUNOR EXPLOSIVE, MATERIAL=HE, TYPE=PROGRAMMED_BURN, DETONATION_VELOCITY=8000, "
    "ENERGY=4.3e6, BURN_TIME=2e-6, PRODUCT_MATERIAL=Products, CONVERSION=source\n";
const std::string origin_ignition = "*VELUNOR IGNITION, MATERIAL=HE, X=0, Y=0, Z=0, TIME=0\n";

int read_and_build(Model& m, std::string_view text) {
    deck_test::TempDeck deck(text);
    if (int st = sph_input_read(m, deck.path())) return st;
    return sph_input_build_model(m);
}

std::unique_ptr<Model> built(std::string_view text) {
    auto m = deck_test::fresh_model();
    sph_gas_initialize(*m);
    sph_explosive_initialize(m->explosive);
    EXPECT_EQ(read_and_build(*m, text), 0) << m->error.last_error_message;
    return m;
}

// The burn as written: every SOURCE release is added to each product target
// by its own call, and conversion is transcribed line by line.
int plain_advance(Model& m, double dt, double time) {
    ExplosiveState& ex = m.explosive;
    DbState& db = m.db;
    if (int st = sph_gas_source_clear(m)) return st;
    for (int i = 0; i < db.npart; ++i) {
        if (!sph_explosive_is_active_particle(db, i)) continue;
        const int k = sph_explosive_slot_of_material(ex, db.material_id[i]);
        const ExplosiveMaterialSlot& s = ex.slots[std::size_t(k - 1)];
        const double old_p = ex.explosive_reaction_progress[i];
        const double new_p =
            std::min(1.0, std::max(old_p, sph_explosive_reaction_target(m, i, k, time)));
        if (new_p - old_p <= 0.0) continue;
        const double dm = ex.explosive_initial_mass[i] * (new_p - old_p);
        const double de = dm * s.explosive_energy_per_mass;
        const Vec3 dp{db.v[i].x * dm, db.v[i].y * dm, db.v[i].z * dm};
        ex.explosive_reaction_progress[i] = new_p;
        ex.explosive_remaining_mass[i] =
            std::max(0.0, (1.0 - new_p) * ex.explosive_initial_mass[i]);
        ex.explosive_released_mass[i] += dm;
        ex.explosive_released_energy[i] += de;
        ex.explosive_released_momentum[i] += dp;
        const int g = s.explosive_product_material_id;
        if (s.explosive_conversion_mode == explosive_conversion_source) {
            int n = 0;
            for (int j = 0; j < db.npart; ++j) n += sph_explosive_is_gas_target(db, j, g) ? 1 : 0;
            if (n <= 0) return 4;
            ex.explosive_source_target_count += n;
            ex.explosive_source_mass_total += dm;
            ex.explosive_source_energy_total += de;
            ex.explosive_source_momentum_total += dp;
            for (int j = 0; j < db.npart; ++j) {
                if (!sph_explosive_is_gas_target(db, j, g)) continue;
                const double share = double(n) * dt;
                if (int st = sph_gas_add_source_by_particle(
                        m, j, dm / share, Vec3{dp.x / share, dp.y / share, dp.z / share},
                        de / share)) {
                    return st;
                }
            }
        } else if (new_p >= 1.0) {
            ex.explosive_converted_count += 1;
            db.particle_phase[i] = sph_phase_gas;
            db.material_id[i] = g;
            db.rho[i] = db.materials[std::size_t(g - 1)].material_density;
            db.volume[i] = db.mass[i] / db.rho[i];
            db.internal_energy[i] = s.explosive_energy_per_mass;
            if (int st = sph_gas_compute_pressure_for_material(
                    m, g, db.rho[i], db.internal_energy[i], db.pressure[i])) {
                return st;
            }
        }
    }
    sph_explosive_update_release_balance(m);
    return 0;
}

void expect_same_burn(const Model& a, const Model& b) {
    const ExplosiveState& x = a.explosive;
    const ExplosiveState& y = b.explosive;
    ASSERT_EQ(a.db.npart, b.db.npart);
    for (int i = 0; i < a.db.npart; ++i) {
        EXPECT_TRUE(same_bits(x.explosive_reaction_progress[i], y.explosive_reaction_progress[i]))
            << i;
        EXPECT_TRUE(same_bits(x.explosive_released_mass[i], y.explosive_released_mass[i])) << i;
        EXPECT_TRUE(same_bits(x.explosive_released_energy[i], y.explosive_released_energy[i])) << i;
        EXPECT_TRUE(same_bits(x.explosive_released_momentum[i], y.explosive_released_momentum[i]))
            << i;
        EXPECT_EQ(a.db.particle_phase[i], b.db.particle_phase[i]) << i;
        EXPECT_TRUE(same_bits(a.db.pressure[i], b.db.pressure[i])) << i;
        const GasSourceState& s = a.gas.sources;
        const GasSourceState& t = b.gas.sources;
        EXPECT_TRUE(same_bits(s.gas_mass_source[i], t.gas_mass_source[i])) << i;
        EXPECT_TRUE(same_bits(s.gas_energy_source[i], t.gas_energy_source[i])) << i;
        EXPECT_TRUE(same_bits(s.gas_momentum_source[i], t.gas_momentum_source[i])) << i;
    }
    EXPECT_EQ(x.explosive_converted_count, y.explosive_converted_count);
    EXPECT_EQ(x.explosive_source_target_count, y.explosive_source_target_count);
    EXPECT_TRUE(same_bits(x.explosive_source_mass_total, y.explosive_source_mass_total));
    for (int k = 0; k < 4; ++k) {
        EXPECT_TRUE(
            same_bits(x.explosive_release_mass_balance[k], y.explosive_release_mass_balance[k]));
    }
}

}  // namespace

// ---------------------------------------------------------------------------
// Setters

TEST(ExplosiveSetters, ControlChecksInTheirOrder) {
    auto m = deck_test::fresh_model();
    sph_gas_initialize(*m);
    sph_explosive_initialize(m->explosive);
    ASSERT_EQ(sph_db_allocate(*m, 1), 0);
    for (auto [name, type] : {std::pair{"HE", "EXPLOSIVE"}, std::pair{"Air", "GAS"},
                              std::pair{"Steel", "SOLID"}, std::pair{"Bare", "GAS"}}) {
        ASSERT_EQ(sph_db_add_material(*m, name, type), 0);
        sph_gas_note_material(*m, name, type);
        sph_explosive_note_material(*m, name, type);
    }
    ASSERT_EQ(sph_gas_set_eos(*m, "IDEAL_GAS", "Air", 0, 1.4, 1, 0, 0, 0, 0, 0, 0, 0), 0);
    const auto set = [&](std::string_view mat, std::string_view type, double d, double q, double tb,
                         std::string_view product, std::string_view conversion = "") {
        return sph_explosive_set_control(*m, mat, type, d, q, tb, product, conversion);
    };
    const char* pb = "Programmed_Burn";
    expect_error(*m, set("", pb, 0, -1, -1, ""), 4, "Explosive control MATERIAL is required");
    expect_error(*m, set("HE", "CJ", 0, -1, -1, ""), 4, "Explosive TYPE must be PROGRAMMED_BURN");
    expect_error(*m, set("HE", pb, 0, -1, -1, ""), 1,
                 "Explosive detonation velocity must be positive");
    expect_error(*m, set("HE", pb, std::nan(""), 1, 1, "Air"), 1,
                 "Explosive detonation velocity must be positive");
    expect_error(*m, set("HE", pb, 8000, -1, -1, ""), 1, "Explosive energy must be non-negative");
    expect_error(*m, set("HE", pb, 8000, 0, -1, ""), 1, "Explosive burn time must be non-negative");
    expect_error(*m, set("Nope", pb, 8000, 0, 0, ""), 4, "Explosive PRODUCT_MATERIAL is required");
    expect_error(*m, set("Nope", pb, 8000, 0, 0, "x"), 4,
                 "Explosive control references unknown material");
    expect_error(*m, set("Steel", pb, 8000, 0, 0, "x"), 4,
                 "Explosive control references non-Explosive material");
    expect_error(*m, set("HE", pb, 8000, 0, 0, "x"), 4, "Explosive product material is unknown");
    expect_error(*m, set("HE", pb, 8000, 0, 0, "Steel"), 4,
                 "Explosive product material must be Gas");
    expect_error(*m, set("HE", pb, 8000, 0, 0, "Bare"), 4,
                 "Explosive product Gas material has no EOS");
    expect_error(*m, set("HE", pb, 8000, 0, 0, "Air", "ELSEWHERE"), 4,
                 "Explosive CONVERSION must be PHASE or SOURCE");
    ASSERT_EQ(set("HE", pb, 8000, 4.3e6, 2e-6, "Air", "source_phase"), 0);
    EXPECT_EQ(m->explosive.slots[0].explosive_conversion_mode, explosive_conversion_phase);
    expect_error(*m, set("he", pb, 8000, 0, 0, "Air"), 4,
                 "Explosive material control is already defined");
    // The conversion word: upper-cased, PHASE first, blank PHASE.
    for (auto [word, mode] : {std::pair{"source", explosive_conversion_source},
                              std::pair{"", explosive_conversion_phase},
                              std::pair{"Phase", explosive_conversion_phase}}) {
        m->explosive.slots[0].explosive_control_defined = false;
        ASSERT_EQ(set("HE", pb, 8000, 1, 1, "Air", word), 0);
        EXPECT_EQ(m->explosive.slots[0].explosive_conversion_mode, mode) << word;
    }
}

TEST(ExplosiveSetters, IgnitionChecksAndCapacity) {
    auto m = deck_test::fresh_model();
    sph_explosive_initialize(m->explosive);
    ASSERT_EQ(sph_db_allocate(*m, 1), 0);
    ASSERT_EQ(sph_db_add_material(*m, "HE", "EXPLOSIVE"), 0);
    sph_explosive_note_material(*m, "HE", "EXPLOSIVE");
    const double big = std::numeric_limits<double>::max();
    expect_error(*m, sph_explosive_set_ignition(*m, "", Vec3{}, -1.0), 4,
                 "Explosive ignition MATERIAL is required");
    expect_error(*m, sph_explosive_set_ignition(*m, "HE", Vec3{}, -1e-9), 1,
                 "Explosive ignition time must be non-negative");
    expect_error(*m, sph_explosive_set_ignition(*m, "HE", Vec3{0, big, 0}, 0), 1,
                 "Explosive ignition coordinate is not finite");
    expect_error(*m, sph_explosive_set_ignition(*m, "HE", Vec3{std::nan(""), 0, 0}, 0), 1,
                 "Explosive ignition coordinate is not finite");
    expect_error(*m, sph_explosive_set_ignition(*m, "Air", Vec3{}, 0), 4,
                 "Explosive control references unknown material");
    for (int k = 0; k < 32; ++k) {
        ASSERT_EQ(sph_explosive_set_ignition(*m, "HE", Vec3{std::nextafter(big, 0.0), 0, 0}, k), 0);
    }
    expect_error(*m, sph_explosive_set_ignition(*m, "HE", Vec3{}, 0), 4,
                 "too many Explosive ignition records");
    // The default point needs a table.
    auto empty = deck_test::fresh_model();
    expect_error(*empty, sph_explosive_set_default_ignition_point(*empty, Vec3{}, 0), 4,
                 "no Explosive material is available");
}

// ---------------------------------------------------------------------------
// Build and detonation times

TEST(ExplosiveBuild, ValidationMessagesAndInitialState) {
    const auto fails = [](const std::string& text, const std::string& message) {
        auto m = deck_test::fresh_model();
        EXPECT_EQ(read_and_build(*m, text), 4) << text;
        EXPECT_EQ(m->error.last_error_message, message);
    };
    fails(charge_deck(2, 1, 1, 0, ""),
          "input is missing *VELUNOR EXPLOSIVE for Explosive material");
    fails(charge_deck(2, 1, 1, 0, phase_control),
          "input is missing *VELUNOR IGNITION for Explosive material");
    std::string no_density = charge_deck(2, 1, 1, 0, phase_control + origin_ignition);
    const std::string he = "*MATERIAL, NAME=HE, TYPE=EXPLOSIVE\n*DENSITY\n1630\n";
    no_density.replace(no_density.find(he), he.size(), "*MATERIAL, NAME=HE, TYPE=EXPLOSIVE\n");
    fails(no_density, "input is missing *DENSITY for Explosive material");
    // The gas checks run first.
    std::string no_eos = charge_deck(2, 1, 1, 0, phase_control + origin_ignition);
    no_eos += "*MATERIAL, NAME=Air, TYPE=GAS\n*DENSITY\n1.2\n";
    fails(no_eos, "input is missing *VELUNOR EOS for Gas");
    // A material without active particles needs nothing.
    auto m = built(charge_deck(
        2, 2, 1, 0, phase_control + origin_ignition + "*MATERIAL, NAME=Spare, TYPE=EXPLOSIVE\n"));
    // Neither Spare nor the product gas (no particles here) has a section.
    EXPECT_EQ(sph_input_get_warning_count(*m), 2);
    const DbState& db = m->db;
    EXPECT_EQ(db.particle_phase[0], sph_phase_explosive);
    EXPECT_EQ(db.rho[0], 1630.0);
    EXPECT_EQ(db.mass[0], 1.0);  // the database mass, not rho V
    EXPECT_EQ(db.volume[0], 1.0 / 1630.0);
    EXPECT_EQ(m->explosive.explosive_initial_mass[3], 1.0);
    EXPECT_EQ(m->explosive.explosive_initial_material_id[3], 2);
}

TEST(ExplosiveBuild, DetonationTimesAndTheWorkedFigures) {
    // Particle 9 lies at (0.08, 0, 0): detonation time 0.08 / 8000 = 1e-5.
    auto m =
        built(charge_deck(9, 2, 1, 0,
                          phase_control + origin_ignition +
                              "*VELUNOR IGNITION, MATERIAL=HE, X=0.08, Y=0.01, Z=0, TIME=9e-6\n"
                              "*MATERIAL, NAME=Other, TYPE=EXPLOSIVE\n"
                              "*VELUNOR IGNITION, MATERIAL=Other, X=0.04, Y=0, Z=0, TIME=0\n"));
    const ExplosiveState& ex = m->explosive;
    const DbState& db = m->db;
    EXPECT_EQ(ex.explosive_detonation_time[0], 0.0);  // on the ignition point
    EXPECT_NEAR(ex.explosive_detonation_time[8], 1e-5, 1e-20);
    for (int i = 0; i < db.npart; ++i) {
        // Each particle takes the earlier arrival of its own material's records.
        const double a = norm(db.x0[i]) / 8000.0;
        const double b = 9e-6 + norm(db.x0[i] - Vec3{0.08, 0.01, 0.0}) / 8000.0;
        EXPECT_EQ(ex.explosive_detonation_time[i], std::min(a, b)) << i;
        EXPECT_EQ(ex.explosive_ignition_status[i], 1);
    }
    const int slot = sph_explosive_slot_of_material(ex, db.material_id[8]);
    EXPECT_NEAR(sph_explosive_reaction_target(*m, 8, slot, 1.1e-5), 0.5, 1e-9);
    EXPECT_EQ(sph_explosive_reaction_target(*m, 8, slot, 0.9e-5), 0.0);  // current progress
    EXPECT_EQ(sph_explosive_reaction_target(*m, 8, slot, 1.0), 1.0);
    double dt = 0;
    ASSERT_EQ(sph_explosive_estimate_dt_limit(*m, dt), 0);
    EXPECT_EQ(dt, 2e-6 / 4.0);  // every slot with tb > 0, unused ones included
    m->explosive.slots[0].explosive_burn_time = 0.0;
    ASSERT_EQ(sph_explosive_estimate_dt_limit(*m, dt), 0);
    EXPECT_EQ(dt, 0.0);
}

// ---------------------------------------------------------------------------
// The burn

// Several steps of a PHASE burn from two ignitions against the plain
// transcription; mass is conserved and the balance defects vanish.
TEST(ExplosiveBurn, PhaseBurnAgainstThePlainReference) {
    const std::string extra = phase_control + origin_ignition +
                              "*VELUNOR IGNITION, MATERIAL=HE, X=0.06, Y=0.03, Z=0.01, TIME=2e-6\n";
    auto a = built(charge_deck(7, 4, 2, 5, extra));
    std::mt19937 rng(3);
    for (int i = 0; i < a->db.npart; ++i) a->db.v[i] = Vec3{double(rng() % 7), -1.0, 0.5};
    Model b = *a;
    const double total_mass = [&] {
        double s = 0;
        for (int i = 0; i < a->db.npart; ++i) s += a->db.mass[i];
        return s;
    }();
    double t = 0.0;
    const double dt = 7e-7;
    int converted = 0;
    for (int step = 0; step < 20; ++step) {
        ASSERT_EQ(sph_explosive_advance(*a, dt, t + dt), 0) << a->error.last_error_message;
        ASSERT_EQ(plain_advance(b, dt, t + dt), 0);
        t += dt;
        expect_same_burn(*a, b);
        converted = a->explosive.explosive_converted_count;
        std::array<double, 4> mass{};
        std::array<double, 2> energy{};
        std::array<double, 3> momentum{};
        sph_explosive_get_release_balance(*a, mass, energy, momentum);
        EXPECT_NEAR(mass[3], 0.0, 1e-13 * mass[0]);
        EXPECT_NEAR(energy[1], 0.0, 1e-13 * (energy[0] + 1.0));
    }
    EXPECT_EQ(converted, 56);  // the whole charge burnt and turned into gas
    double mass_now = 0;
    for (int i = 0; i < a->db.npart; ++i) {
        mass_now += a->db.mass[i];
        EXPECT_EQ(a->db.particle_phase[i], sph_phase_gas);
    }
    EXPECT_EQ(mass_now, total_mass);
    EXPECT_EQ(a->db.rho[0], 1630.0);
    EXPECT_EQ(a->db.internal_energy[0], 4.3e6);
    // Summary: every tracked particle fully reacted.
    int count = 0, reacted = 0;
    std::array<double, 3> lambda{};
    std::array<double, 5> released{};
    std::array<double, 2> range{};
    sph_explosive_get_summary(*a, count, reacted, lambda, released, range);
    EXPECT_EQ(count, 56);
    EXPECT_EQ(reacted, 56);
    EXPECT_EQ(lambda[0], 1.0);
    EXPECT_EQ(lambda[2], 1.0);
    EXPECT_NEAR(released[0], 56.0, 1e-12);
    EXPECT_NEAR(released[1], 56.0 * 4.3e6, 1e-3);
}

// SOURCE releases against the per-call path on random models: the same rates
// bit for bit, also when PHASE conversions add targets of the same product
// during the advance.
TEST(ExplosiveBurn, SourceReleasesEqualThePerCallPathBitForBit) {
    for (unsigned seed = 1; seed <= 8; ++seed) {
        std::mt19937 rng(seed);
        std::string extra = source_control + origin_ignition;
        if (seed % 2 == 0) {  // a second charge burning by PHASE into the same product
            extra +=
                "*MATERIAL, NAME=HE2, TYPE=EXPLOSIVE\n*DENSITY\n1700\n"
                "*NSET, NSET=SECOND\n1, 5, 9, 14, 22\n"
                "*CHARGE SECTION, NSET=SECOND, MATERIAL=HE2\n"
                "*VELUNOR EXPLOSIVE, MATERIAL=HE2, TYPE=PROGRAMMED_BURN, "
                "DETONATION_VELOCITY=5000, ENERGY=3e6, BURN_TIME=0, PRODUCT_MATERIAL=Products\n"
                "*VELUNOR IGNITION, MATERIAL=HE2, X=0.02, Y=0, Z=0, TIME=0\n";
        }
        auto a = built(charge_deck(6, 4, 1, 7 + int(seed), extra));
        std::uniform_real_distribution<double> u(-3.0, 3.0);
        for (int i = 0; i < a->db.npart; ++i) {
            a->db.v[i] = Vec3{u(rng), u(rng), u(rng)};
            if (rng() % 5 == 0 && a->db.particle_phase[i] == sph_phase_gas) {
                a->db.particle_status[i] = sph_status_inactive;  // not a target
            }
        }
        Model b = *a;
        double t = 0.0;
        for (int step = 0; step < 8; ++step) {
            const double dt = 2e-7 + 1e-7 * double(rng() % 5);
            const int sa = sph_explosive_advance(*a, dt, t + dt);
            const int sb = plain_advance(b, dt, t + dt);
            ASSERT_EQ(sa, 0) << a->error.last_error_message;
            ASSERT_EQ(sb, 0);
            t += dt;
            expect_same_burn(*a, b);
            double ma = 0, ea = 0, mb = 0, eb = 0;
            Vec3 pa, pb;
            ASSERT_EQ(sph_gas_get_source_summary(*a, ma, pa, ea), 0);
            ASSERT_EQ(sph_gas_get_source_summary(b, mb, pb, eb), 0);
            EXPECT_TRUE(same_bits(ma, mb) && same_bits(ea, eb) && same_bits(pa, pb)) << seed;
        }
        EXPECT_GT(a->explosive.explosive_source_target_count, 0);
    }
}

TEST(ExplosiveBurn, SourceWithoutTargetFailsTheStep) {
    auto m = built(charge_deck(3, 1, 1, 2, source_control + origin_ignition));
    // No active product gas: both cloud particles inactive.
    for (int i = 3; i < 5; ++i) m->db.particle_status[i] = sph_status_inactive;
    expect_error(*m, sph_solver_advance_explicit(*m, 1e-6), 4,
                 "Explosive SOURCE conversion has no active product Gas target");
    EXPECT_EQ(m->control.current_step, 0);
    EXPECT_EQ(m->control.current_time, 0.0);
    EXPECT_GT(m->explosive.explosive_reaction_progress[0], 0.0);  // updated before the failure
    EXPECT_EQ(m->db.particle_phase[0], sph_phase_explosive);
}

TEST(ExplosiveBurn, StepsBurnAtTheEndOfStepTime) {
    // Burn time 0: a particle burns completely in the first step whose end
    // time reaches its detonation time, and turns into gas in that step.
    std::string control = phase_control;
    control.replace(control.find("BURN_TIME=2e-6"), 14, "BURN_TIME=0");
    auto m = built(charge_deck(3, 1, 1, 0, control + origin_ignition));
    // Detonation times 0, 1.25e-6, 2.5e-6.
    ASSERT_EQ(sph_solver_advance_explicit(*m, 1.25e-6), 0) << m->error.last_error_message;
    EXPECT_EQ(m->db.particle_phase[0], sph_phase_gas);
    EXPECT_EQ(m->db.particle_phase[1], sph_phase_gas);  // inclusive
    EXPECT_EQ(m->db.particle_phase[2], sph_phase_explosive);
    double limit = 0;
    ASSERT_EQ(sph_explosive_estimate_dt_limit(*m, limit), 0);
    EXPECT_EQ(limit, 0.0);  // no limit from a zero burn time
}

// ---------------------------------------------------------------------------
// Deck, exports and the fresh start

TEST(ExplosiveDeck, KeywordsAndPhraseRecognition) {
    const std::string base = charge_deck(1, 1, 1, 0, "");
    const auto fails = [&](const std::string& line, int code, const std::string& message) {
        deck_test::expect_read_error(base + line, code, 14, message);
    };
    // Base deck has 13 lines; the keyword is line 14.
    ASSERT_EQ(std::count(base.begin(), base.end(), '\n'), 13);
    fails("*VELUNOR EXPLOSIVE, MATERIAL=HE, TYPE=PROGRAMMED_BURN, ENERGY=1, BURN_TIME=0\n", 4,
          "missing required option DETONATION_VELOCITY");
    fails("*VELUNOR EXPLOSIVE, MATERIAL=HE, DETONATION_VELOCITY=1, ENERGY=1, BURN_TIME=0\n", 4,
          "Explosive TYPE must be PROGRAMMED_BURN");
    fails("*VELUNOR IGNITION, MATERIAL=HE, X=0, Y=0, TIME=0\n", 4, "missing required option Z");
    // An IGNITION line whose value holds EXPLOSIVE is read as *VELUNOR EXPLOSIVE.
    fails("*VELUNOR IGNITION, MATERIAL=EXPLOSIVE_A, X=0, Y=0, Z=0, TIME=0\n", 4,
          "missing required option DETONATION_VELOCITY");
    fails("*VELUNOR IGNITION, MATERIAL=HE, X=0, Y=0, Z=0, TIME=-1\n", 1,
          "Explosive ignition time must be non-negative");
}

TEST(ExplosiveExports, IgnitionBeforeAndAfterTheBuildAndTheFreshStart) {
    ASSERT_EQ(velunor_initialize(), 0);
    EXPECT_EQ(velunor_set_ignition_point(0, 0, 0, 0), 4);  // no explosive material yet
    deck_test::TempDeck deck(charge_deck(5, 1, 1, 0, phase_control));
    ASSERT_EQ(velunor_read_inp(deck.path().c_str()), 0);
    EXPECT_EQ(velunor_build_model(), 4);  // no ignition
    // Before the build: stored, and the build takes it.
    ASSERT_EQ(velunor_set_ignition_point(0.04, 0, 0, 1e-6), 0);
    ASSERT_EQ(velunor_build_model(), 0);
    int count = 0, reacted = 0;
    double lambda[3], released[5], range[2];
    ASSERT_EQ(velunor_get_explosive_summary(&count, &reacted, lambda, released, range), 0);
    EXPECT_EQ(count, 5);
    EXPECT_EQ(range[0], 1e-6);
    EXPECT_NEAR(range[1], 1e-6 + 0.04 / 8000.0, 1e-18);
    // Burn a little, then ignite again: times follow at once, progress stays.
    ASSERT_EQ(velunor_advance_explicit(2.5e-6), 0);
    Model& m = sph_api_model();
    const double progress = m.explosive.explosive_reaction_progress[4];
    EXPECT_GT(progress, 0.0);
    ASSERT_EQ(velunor_set_ignition_point(0.0, 0, 0, 0), 0);
    EXPECT_EQ(m.explosive.explosive_detonation_time[0], 0.0);  // the earlier arrival now
    EXPECT_EQ(m.explosive.explosive_detonation_time[4], 1e-6);
    EXPECT_EQ(m.explosive.explosive_reaction_progress[4], progress);
    double mass[4], energy[2], momentum[3];
    ASSERT_EQ(velunor_get_explosive_release_balance(mass, energy, momentum), 0);
    EXPECT_EQ(mass[0], 5.0);
    EXPECT_NEAR(mass[3], 0.0, 1e-15);
    EXPECT_EQ(velunor_get_explosive_release_balance(nullptr, energy, momentum), -1);
    // The same deck twice gives the same detonation times (the exported
    // ignition belongs to the earlier deck and is gone).
    deck_test::TempDeck ignited(charge_deck(5, 1, 1, 0, phase_control + origin_ignition));
    std::vector<double> first;
    for (int read = 0; read < 2; ++read) {
        ASSERT_EQ(velunor_read_inp(ignited.path().c_str()), 0);
        ASSERT_EQ(velunor_build_model(), 0);
        EXPECT_EQ(m.explosive.ignitions.size(), 1u);
        if (read == 0)
            first = m.explosive.explosive_detonation_time;
        else
            EXPECT_EQ(m.explosive.explosive_detonation_time, first);
    }
    EXPECT_EQ(velunor_finalize(), 0);
    EXPECT_EQ(velunor_get_explosive_summary(&count, &reacted, lambda, released, range), 2);
    EXPECT_EQ(count, 0);
}

TEST(ExplosiveExports, NoStateGivesZeros) {
    auto m = deck_test::fresh_model();
    int count = -1, reacted = -1;
    std::array<double, 3> lambda{1, 1, 1};
    std::array<double, 5> released{1, 1, 1, 1, 1};
    std::array<double, 2> range{1, 1};
    sph_explosive_get_summary(*m, count, reacted, lambda, released, range);
    EXPECT_EQ(count + reacted, 0);
    EXPECT_EQ(lambda[2] + released[0] + range[1], 0.0);
    double lo = -1, hi = -1;
    sph_explosive_get_detonation_time_range(*m, lo, hi);
    EXPECT_EQ(lo + hi, 0.0);
}
