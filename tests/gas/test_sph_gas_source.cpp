#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "../test_expect.hpp"
#include "core/sph_model.hpp"
#include "gas/sph_gas_source.hpp"

namespace {

using test_expect::expect_error;
using test_expect::same_bits;

constexpr double nan_value = std::numeric_limits<double>::quiet_NaN();
constexpr double inf_value = std::numeric_limits<double>::infinity();
constexpr double largest = std::numeric_limits<double>::max();

// n active gas particles of mass 1 at rest with internal energy 3.
std::unique_ptr<Model> make_gas_model(int n) {
    auto m = std::make_unique<Model>();
    EXPECT_EQ(sph_db_allocate(*m, n), 0);
    for (int i = 0; i < n; ++i) {
        m->db.particle_phase[i] = sph_phase_gas;
        m->db.particle_status[i] = sph_status_active;
        m->db.mass[i] = 1.0;
        m->db.internal_energy[i] = 3.0;
    }
    return m;
}

struct Summary {
    double mass = nan_value;
    Vec3 momentum{nan_value, nan_value, nan_value};
    double energy = nan_value;
};

Summary summary(Model& m) {
    Summary s;
    EXPECT_EQ(sph_gas_source_get_summary(m, s.mass, s.momentum, s.energy), 0);
    return s;
}

void expect_summary(Model& m, double mass, const Vec3& momentum, double energy) {
    const Summary s = summary(m);
    EXPECT_TRUE(same_bits(s.mass, mass)) << s.mass << " vs " << mass;
    EXPECT_TRUE(same_bits(s.momentum, momentum));
    EXPECT_TRUE(same_bits(s.energy, energy)) << s.energy << " vs " << energy;
}

// The particle state the sources may touch, for before/after comparisons.
struct Snapshot {
    std::vector<double> mass, internal_energy, rho, volume, pressure, temperature;
    std::vector<Vec3> v;
    std::vector<double> mass_source, energy_source;
    std::vector<Vec3> momentum_source;

    explicit Snapshot(const Model& m)
        : mass(m.db.mass),
          internal_energy(m.db.internal_energy),
          rho(m.db.rho),
          volume(m.db.volume),
          pressure(m.db.pressure),
          temperature(m.db.temperature),
          v(m.db.v),
          mass_source(m.gas.sources.gas_mass_source),
          energy_source(m.gas.sources.gas_energy_source),
          momentum_source(m.gas.sources.gas_momentum_source) {}
};

template <class T>
bool same_bits(const std::vector<T>& a, const std::vector<T>& b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (!same_bits(a[i], b[i])) return false;
    }
    return true;
}

void expect_unchanged(const Model& m, const Snapshot& before) {
    const Snapshot now(m);
    EXPECT_TRUE(same_bits(now.mass, before.mass));
    EXPECT_TRUE(same_bits(now.internal_energy, before.internal_energy));
    EXPECT_TRUE(same_bits(now.rho, before.rho));
    EXPECT_TRUE(same_bits(now.volume, before.volume));
    EXPECT_TRUE(same_bits(now.pressure, before.pressure));
    EXPECT_TRUE(same_bits(now.temperature, before.temperature));
    EXPECT_TRUE(same_bits(now.v, before.v));
    EXPECT_TRUE(same_bits(now.mass_source, before.mass_source));
    EXPECT_TRUE(same_bits(now.energy_source, before.energy_source));
    EXPECT_TRUE(same_bits(now.momentum_source, before.momentum_source));
}

// ---------------------------------------------------------------------------
// Applying the rates

TEST(GasSourceApply, WorkedExampleGivesClosedFormAndKeepsTheRates) {
    auto m = make_gas_model(1);
    m->db.rho[0] = 7.0;
    m->db.volume[0] = 0.25;
    m->db.pressure[0] = 11.0;
    m->db.temperature[0] = 300.0;
    ASSERT_EQ(sph_gas_source_add_by_particle(*m, 0, 2.0, Vec3{0.0, 0.0, 4.0}, 6.0), 0);
    ASSERT_EQ(sph_gas_source_apply_explicit(*m, 0.5), 0);

    // m' = 1 + 2 * 0.5; v = (4 * 0.5) / 2; e += 6 * 0.5 / 2.
    EXPECT_EQ(m->db.mass[0], 2.0);
    EXPECT_TRUE(same_bits(m->db.v[0], Vec3{0.0, 0.0, 1.0}));
    EXPECT_EQ(m->db.internal_energy[0], 3.0 + 1.5);
    // The sources change neither the density nor the state derived from it.
    EXPECT_EQ(m->db.rho[0], 7.0);
    EXPECT_EQ(m->db.volume[0], 0.25);
    EXPECT_EQ(m->db.pressure[0], 11.0);
    EXPECT_EQ(m->db.temperature[0], 300.0);

    // Applying does not use the rates up: a second step adds the same again.
    expect_summary(*m, 2.0, Vec3{0.0, 0.0, 4.0}, 6.0);
    ASSERT_EQ(sph_gas_source_apply_explicit(*m, 0.5), 0);
    EXPECT_EQ(m->db.mass[0], 3.0);
    EXPECT_TRUE(same_bits(m->db.v[0], Vec3{0.0, 0.0, 4.0 / 3.0}));
    EXPECT_EQ(m->db.internal_energy[0], 4.5 + 3.0 / 3.0);
    expect_summary(*m, 2.0, Vec3{0.0, 0.0, 4.0}, 6.0);
}

TEST(GasSourceApply, MomentumOfAMovingParticleIsConserved) {
    // No momentum source: the mass gained arrives at rest, so m v is kept.
    auto m = make_gas_model(1);
    m->db.v[0] = Vec3{3.0, -6.0, 1.5};
    ASSERT_EQ(sph_gas_source_add_by_particle(*m, 0, 4.0, Vec3{}, 0.0), 0);
    ASSERT_EQ(sph_gas_source_apply_explicit(*m, 0.5), 0);
    EXPECT_EQ(m->db.mass[0], 3.0);
    EXPECT_TRUE(same_bits(m->db.v[0], Vec3{1.0, -2.0, 0.5}));
    EXPECT_EQ(m->db.internal_energy[0], 3.0);
}

TEST(GasSourceApply, NonpositiveMassStopsAtTheParticleAndKeepsEarlierUpdates) {
    auto m = make_gas_model(3);
    ASSERT_EQ(sph_gas_source_add_by_particle(*m, 0, 1.0, Vec3{1.0, 0.0, 0.0}, 3.0), 0);
    ASSERT_EQ(sph_gas_source_add_by_particle(*m, 1, -2.0, Vec3{}, 0.0), 0);  // 1 - 2 * 0.5 = 0
    ASSERT_EQ(sph_gas_source_add_by_particle(*m, 2, 1.0, Vec3{1.0, 0.0, 0.0}, 3.0), 0);
    expect_error(*m, sph_gas_source_apply_explicit(*m, 0.5), 1,
                 "Gas source produced nonpositive mass");
    EXPECT_EQ(m->db.mass[0], 1.5);
    EXPECT_TRUE(same_bits(m->db.v[0], Vec3{0.5 / 1.5, 0.0, 0.0}));
    EXPECT_EQ(m->db.internal_energy[0], 3.0 + 1.5 / 1.5);
    EXPECT_EQ(m->db.mass[1], 1.0);
    EXPECT_EQ(m->db.mass[2], 1.0);
    EXPECT_TRUE(same_bits(m->db.v[2], Vec3{}));
    EXPECT_EQ(m->db.internal_energy[2], 3.0);
    expect_summary(*m, 0.0, Vec3{2.0, 0.0, 0.0}, 6.0);

    // A mass that would turn negative fails the same way.
    auto n = make_gas_model(1);
    ASSERT_EQ(sph_gas_source_add_by_particle(*n, 0, -3.0, Vec3{}, 0.0), 0);
    expect_error(*n, sph_gas_source_apply_explicit(*n, 0.5), 1,
                 "Gas source produced nonpositive mass");
    EXPECT_EQ(n->db.mass[0], 1.0);
}

TEST(GasSourceApply, NaNMassIsRefusedAsNonpositive) {
    // An infinite step is positive, but a zero rate over it gives a NaN mass.
    auto m = make_gas_model(2);
    const Snapshot before(*m);
    expect_error(*m, sph_gas_source_apply_explicit(*m, inf_value), 1,
                 "Gas source produced nonpositive mass");
    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(m->db.mass[i], 1.0);
        EXPECT_EQ(m->db.internal_energy[i], 3.0);
    }
    EXPECT_TRUE(same_bits(m->db.v, before.v));
}

TEST(GasSourceApply, StepMustBePositiveAndIsCheckedFirst) {
    auto m = make_gas_model(2);
    for (double dt : {0.0, -0.0, -1.0, nan_value, -inf_value}) {
        SCOPED_TRACE(dt);
        const Snapshot before(*m);
        expect_error(*m, sph_gas_source_apply_explicit(*m, dt), 1,
                     "Gas source time step must be positive");
        expect_unchanged(*m, before);
        // Refused before the arrays are made.
        EXPECT_TRUE(m->gas.sources.gas_mass_source.empty());
    }
}

TEST(GasSourceApply, SkipsInactiveAndNonGasParticlesButTheTotalsCountThem) {
    auto m = make_gas_model(3);
    for (int i = 0; i < 3; ++i) {
        ASSERT_EQ(sph_gas_source_add_by_particle(*m, i, 2.0, Vec3{0.0, 4.0, 0.0}, 6.0), 0);
    }
    m->db.particle_status[1] = sph_status_inactive;
    m->db.particle_phase[2] = sph_phase_water;
    expect_summary(*m, 6.0, Vec3{0.0, 12.0, 0.0}, 18.0);

    ASSERT_EQ(sph_gas_source_apply_explicit(*m, 0.5), 0);
    EXPECT_EQ(m->db.mass[0], 2.0);
    EXPECT_TRUE(same_bits(m->db.v[0], Vec3{0.0, 1.0, 0.0}));
    EXPECT_EQ(m->db.internal_energy[0], 4.5);
    for (int i = 1; i < 3; ++i) {
        EXPECT_EQ(m->db.mass[i], 1.0);
        EXPECT_TRUE(same_bits(m->db.v[i], Vec3{}));
        EXPECT_EQ(m->db.internal_energy[i], 3.0);
    }
    expect_summary(*m, 6.0, Vec3{0.0, 12.0, 0.0}, 18.0);
}

// ---------------------------------------------------------------------------
// Adding and clearing

TEST(GasSourceAdd, RatesAccumulateUntilCleared) {
    auto m = make_gas_model(2);
    ASSERT_EQ(sph_gas_source_add_by_particle(*m, 1, 1.0, Vec3{1.0, 2.0, 3.0}, 5.0), 0);
    ASSERT_EQ(sph_gas_source_add_by_particle(*m, 1, 1.0, Vec3{-1.0, 0.5, 0.0}, 0.25), 0);
    const GasSourceState& s = m->gas.sources;
    EXPECT_EQ(s.gas_mass_source[1], 2.0);
    EXPECT_TRUE(same_bits(s.gas_momentum_source[1], Vec3{0.0, 2.5, 3.0}));
    EXPECT_EQ(s.gas_energy_source[1], 5.25);
    EXPECT_EQ(s.gas_mass_source[0], 0.0);
    expect_summary(*m, 2.0, Vec3{0.0, 2.5, 3.0}, 5.25);

    ASSERT_EQ(sph_gas_source_apply_explicit(*m, 0.125), 0);
    expect_summary(*m, 2.0, Vec3{0.0, 2.5, 3.0}, 5.25);

    ASSERT_EQ(sph_gas_source_clear(*m), 0);
    EXPECT_EQ(s.gas_mass_source, std::vector<double>(2, 0.0));
    EXPECT_EQ(s.gas_energy_source, std::vector<double>(2, 0.0));
    EXPECT_TRUE(same_bits(s.gas_momentum_source, std::vector<Vec3>(2)));
    EXPECT_EQ(s.gas_source_mass_total, 0.0);
    EXPECT_EQ(s.gas_source_energy_total, 0.0);
    EXPECT_TRUE(same_bits(s.gas_source_momentum_total, Vec3{}));
    expect_summary(*m, 0.0, Vec3{}, 0.0);

    // Cleared rates move nothing.
    const Snapshot before(*m);
    ASSERT_EQ(sph_gas_source_apply_explicit(*m, 0.125), 0);
    expect_unchanged(*m, before);
}

TEST(GasSourceAdd, RefusesTargetsOutsideTheActiveGas) {
    auto m = make_gas_model(4);
    m->db.particle_phase[1] = sph_phase_water;
    m->db.particle_status[2] = sph_status_inactive;
    m->db.particle_phase[3] = sph_phase_explosive;
    ASSERT_EQ(sph_gas_source_add_by_particle(*m, 0, 1.0, Vec3{}, 1.0), 0);
    const Snapshot before(*m);

    for (int index : {-1, 4, std::numeric_limits<int>::min(), std::numeric_limits<int>::max()}) {
        SCOPED_TRACE(index);
        expect_error(*m, sph_gas_source_add_by_particle(*m, index, 1.0, Vec3{}, 1.0), 1,
                     "Gas source particle id is out of range");
    }
    for (int index : {1, 2, 3}) {
        SCOPED_TRACE(index);
        expect_error(*m, sph_gas_source_add_by_particle(*m, index, 1.0, Vec3{}, 1.0), 1,
                     "Gas source target must be active Gas");
    }
    // The range is checked before the values, the target before the values.
    expect_error(*m, sph_gas_source_add_by_particle(*m, 4, nan_value, Vec3{}, 1.0), 1,
                 "Gas source particle id is out of range");
    expect_error(*m, sph_gas_source_add_by_particle(*m, 1, nan_value, Vec3{}, 1.0), 1,
                 "Gas source target must be active Gas");
    expect_unchanged(*m, before);
    expect_summary(*m, 1.0, Vec3{}, 1.0);
}

TEST(GasSourceAdd, RefusesValuesThatAreNotFinite) {
    auto m = make_gas_model(1);
    ASSERT_EQ(sph_gas_source_add_by_particle(*m, 0, 1.0, Vec3{2.0, 3.0, 4.0}, 5.0), 0);
    const Snapshot before(*m);
    const double beyond_largest = std::strtod("1.8e308", nullptr);
    for (double bad :
         {nan_value, -nan_value, inf_value, -inf_value, largest, -largest, beyond_largest}) {
        SCOPED_TRACE(bad);
        // Each of the five values in turn.
        for (int slot = 0; slot < 5; ++slot) {
            double mass = 1.0;
            double energy = 1.0;
            Vec3 momentum{1.0, 1.0, 1.0};
            if (slot == 0) mass = bad;
            if (slot == 1) energy = bad;
            if (slot >= 2) momentum[slot - 2] = bad;
            expect_error(*m, sph_gas_source_add_by_particle(*m, 0, mass, momentum, energy), 1,
                         "Gas source value is not finite");
        }
    }
    expect_unchanged(*m, before);
    expect_summary(*m, 1.0, Vec3{2.0, 3.0, 4.0}, 5.0);

    // Just below the largest double is a value.
    const double below = std::nextafter(largest, 0.0);
    ASSERT_EQ(sph_gas_source_add_by_particle(*m, 0, -below, Vec3{below, 0.0, 0.0}, below), 0);
    EXPECT_EQ(m->gas.sources.gas_mass_source[0], 1.0 - below);
}

// ---------------------------------------------------------------------------
// Allocation and the totals

TEST(GasSourceAllocate, EmptyModelDoesNothingAndSummarizesZeros) {
    Model m;
    ASSERT_EQ(sph_gas_source_allocate(m), 0);
    EXPECT_TRUE(m.gas.sources.gas_mass_source.empty());
    EXPECT_TRUE(m.gas.sources.gas_energy_source.empty());
    EXPECT_TRUE(m.gas.sources.gas_momentum_source.empty());

    Summary s{1.0, Vec3{1.0, 1.0, 1.0}, 1.0};
    ASSERT_EQ(sph_gas_source_get_summary(m, s.mass, s.momentum, s.energy), 0);
    EXPECT_TRUE(same_bits(s.mass, 0.0));
    EXPECT_TRUE(same_bits(s.momentum, Vec3{}));
    EXPECT_TRUE(same_bits(s.energy, 0.0));
    ASSERT_EQ(sph_gas_source_clear(m), 0);
    ASSERT_EQ(sph_gas_source_apply_explicit(m, 1.0), 0);
    expect_error(m, sph_gas_source_add_by_particle(m, 0, 1.0, Vec3{}, 1.0), 1,
                 "Gas source particle id is out of range");
    EXPECT_TRUE(m.gas.sources.gas_mass_source.empty());
}

TEST(GasSourceAllocate, ArraysFollowTheParticleCount) {
    auto m = make_gas_model(3);
    ASSERT_EQ(sph_gas_source_allocate(*m), 0);
    const GasSourceState& s = m->gas.sources;
    ASSERT_EQ(s.gas_mass_source.size(), 3u);
    ASSERT_EQ(s.gas_energy_source.size(), 3u);
    ASSERT_EQ(s.gas_momentum_source.size(), 3u);
    ASSERT_EQ(sph_gas_source_add_by_particle(*m, 2, 1.5, Vec3{0.0, 1.0, 0.0}, 2.5), 0);

    // Same count: the rates stay, and nothing is allocated again.
    const double* mass_data = s.gas_mass_source.data();
    const double* energy_data = s.gas_energy_source.data();
    const Vec3* momentum_data = s.gas_momentum_source.data();
    for (int k = 0; k < 3; ++k) {
        ASSERT_EQ(sph_gas_source_allocate(*m), 0);
        ASSERT_EQ(sph_gas_source_apply_explicit(*m, 0.25), 0);
        ASSERT_EQ(sph_gas_source_add_by_particle(*m, 0, 0.0, Vec3{}, 0.0), 0);
    }
    EXPECT_EQ(s.gas_mass_source.data(), mass_data);
    EXPECT_EQ(s.gas_energy_source.data(), energy_data);
    EXPECT_EQ(s.gas_momentum_source.data(), momentum_data);
    expect_summary(*m, 1.5, Vec3{0.0, 1.0, 0.0}, 2.5);

    // A new particle count: fresh arrays of zero rates, by any operation.
    ASSERT_EQ(sph_db_allocate(*m, 5), 0);
    expect_summary(*m, 0.0, Vec3{}, 0.0);
    EXPECT_EQ(s.gas_mass_source, std::vector<double>(5, 0.0));
    EXPECT_EQ(s.gas_energy_source, std::vector<double>(5, 0.0));
    EXPECT_TRUE(same_bits(s.gas_momentum_source, std::vector<Vec3>(5)));

    // Rates added, then the count changes and the next operation fails after
    // making the new arrays: the totals describe the new arrays.
    m->db.particle_phase[1] = sph_phase_gas;
    ASSERT_EQ(sph_gas_source_add_by_particle(*m, 1, 4.0, Vec3{}, 0.0), 0);
    ASSERT_EQ(sph_db_allocate(*m, 2), 0);
    expect_error(*m, sph_gas_source_add_by_particle(*m, 5, 1.0, Vec3{}, 1.0), 1,
                 "Gas source particle id is out of range");
    EXPECT_EQ(s.gas_mass_source.size(), 2u);
    sph_gas_source_refresh_totals(m->gas.sources);
    EXPECT_EQ(s.gas_source_mass_total, 0.0);

    // No particles: the arrays stay as they are.
    m->db.particle_phase[0] = sph_phase_gas;
    ASSERT_EQ(sph_gas_source_add_by_particle(*m, 0, 3.0, Vec3{}, 0.0), 0);
    ASSERT_EQ(sph_db_allocate(*m, 0), 0);
    ASSERT_EQ(sph_gas_source_allocate(*m), 0);
    EXPECT_EQ(s.gas_mass_source.size(), 2u);
    expect_summary(*m, 3.0, Vec3{}, 0.0);
}

TEST(GasSourceReset, ReleasesTheArraysAndZeroesTheTotals) {
    auto m = make_gas_model(4);
    ASSERT_EQ(sph_gas_source_add_by_particle(*m, 3, 1.0, Vec3{1.0, 1.0, 1.0}, 1.0), 0);
    expect_summary(*m, 1.0, Vec3{1.0, 1.0, 1.0}, 1.0);
    ASSERT_EQ(sph_gas_source_add_by_particle(*m, 3, 1.0, Vec3{}, 1.0), 0);
    sph_gas_source_reset(m->gas.sources);
    const GasSourceState& s = m->gas.sources;
    EXPECT_EQ(s.gas_mass_source.capacity(), 0u);
    EXPECT_EQ(s.gas_energy_source.capacity(), 0u);
    EXPECT_EQ(s.gas_momentum_source.capacity(), 0u);
    EXPECT_EQ(s.gas_source_mass_total, 0.0);
    EXPECT_EQ(s.gas_source_energy_total, 0.0);
    EXPECT_TRUE(same_bits(s.gas_source_momentum_total, Vec3{}));
    EXPECT_FALSE(s.gas_source_totals_stale);
    expect_summary(*m, 0.0, Vec3{}, 0.0);
}

// ---------------------------------------------------------------------------
// Random models against plain references of the written equations

// Plain left-to-right sums over every particle.
Summary reference_totals(const std::vector<double>& mass_rate, const std::vector<Vec3>& momentum,
                         const std::vector<double>& energy_rate) {
    Summary s{0.0, Vec3{}, 0.0};
    for (std::size_t i = 0; i < mass_rate.size(); ++i) {
        s.mass = s.mass + mass_rate[i];
        s.momentum.x = s.momentum.x + momentum[i].x;
        s.momentum.y = s.momentum.y + momentum[i].y;
        s.momentum.z = s.momentum.z + momentum[i].z;
        s.energy = s.energy + energy_rate[i];
    }
    return s;
}

struct ReferenceParticles {
    std::vector<int> phase, status;
    std::vector<double> mass, energy;
    std::vector<Vec3> v;
};

// One explicit step of the sources as written, particle by particle.
void reference_apply(ReferenceParticles& p, const std::vector<double>& mass_rate,
                     const std::vector<Vec3>& momentum_rate, const std::vector<double>& energy_rate,
                     double dt) {
    for (std::size_t i = 0; i < p.mass.size(); ++i) {
        if (p.phase[i] != sph_phase_gas || p.status[i] != sph_status_active) continue;
        const double m0 = p.mass[i];
        const double m1 = m0 + mass_rate[i] * dt;
        double momentum[3];
        for (int k = 0; k < 3; ++k) momentum[k] = momentum_rate[i][k] * dt + m0 * p.v[i][k];
        p.mass[i] = m1;
        for (int k = 0; k < 3; ++k) p.v[i][k] = momentum[k] / m1;
        p.energy[i] = p.energy[i] + energy_rate[i] * dt / m1;
    }
}

TEST(GasSourceRandom, ApplyAndTotalsMatchThePlainReferenceBitForBit) {
    std::mt19937_64 rng(20240611);
    std::uniform_real_distribution<double> unit(-1.0, 1.0);
    std::uniform_int_distribution<int> exponent(-20, 20);
    // Magnitudes over many decades, so that the order of the sums shows.
    const auto value = [&] { return std::ldexp(unit(rng), exponent(rng)); };

    for (int trial = 0; trial < 20; ++trial) {
        const int n = 1 + static_cast<int>(rng() % 400);
        auto m = std::make_unique<Model>();
        ASSERT_EQ(sph_db_allocate(*m, n), 0);
        ReferenceParticles ref;
        for (int i = 0; i < n; ++i) {
            const unsigned kind = rng() % 8;
            m->db.particle_phase[i] = kind == 0 ? sph_phase_water : sph_phase_gas;
            m->db.particle_status[i] = kind == 1 ? sph_status_inactive : sph_status_active;
            m->db.mass[i] = 10.0 + std::abs(unit(rng)) * 100.0;
            m->db.internal_energy[i] = value();
            m->db.v[i] = Vec3{value(), value(), value()};
        }
        ref.phase = m->db.particle_phase;
        ref.status = m->db.particle_status;
        ref.mass = m->db.mass;
        ref.energy = m->db.internal_energy;
        ref.v = m->db.v;

        std::vector<double> mass_rate(n, 0.0), energy_rate(n, 0.0);
        std::vector<Vec3> momentum_rate(n);
        const auto add_random = [&](int adds) {
            for (int k = 0; k < adds; ++k) {
                const int i = static_cast<int>(rng() % static_cast<unsigned>(n));
                if (ref.phase[i] != sph_phase_gas || ref.status[i] != sph_status_active) continue;
                // Small mass rates: the mass stays positive over the steps.
                const double dm = unit(rng) * 0.05;
                const Vec3 dp{value(), value(), value()};
                const double de = value();
                ASSERT_EQ(sph_gas_source_add_by_particle(*m, i, dm, dp, de), 0);
                mass_rate[i] = mass_rate[i] + dm;
                for (int c = 0; c < 3; ++c) momentum_rate[i][c] = momentum_rate[i][c] + dp[c];
                energy_rate[i] = energy_rate[i] + de;
            }
        };

        for (int step = 0; step < 3; ++step) {
            add_random(2 * n);
            // Totals read directly after a refresh agree with the summary.
            sph_gas_source_refresh_totals(m->gas.sources);
            const Summary expected = reference_totals(mass_rate, momentum_rate, energy_rate);
            const GasSourceState& s = m->gas.sources;
            EXPECT_TRUE(same_bits(s.gas_source_mass_total, expected.mass));
            EXPECT_TRUE(same_bits(s.gas_source_momentum_total, expected.momentum));
            EXPECT_TRUE(same_bits(s.gas_source_energy_total, expected.energy));
            expect_summary(*m, expected.mass, expected.momentum, expected.energy);

            const double dt =
                std::ldexp(0.5 + 0.5 * std::abs(unit(rng)), -(std::abs(exponent(rng)) % 8));
            ASSERT_EQ(sph_gas_source_apply_explicit(*m, dt), 0);
            reference_apply(ref, mass_rate, momentum_rate, energy_rate, dt);
            ASSERT_TRUE(same_bits(m->db.mass, ref.mass)) << "trial " << trial;
            ASSERT_TRUE(same_bits(m->db.v, ref.v)) << "trial " << trial;
            ASSERT_TRUE(same_bits(m->db.internal_energy, ref.energy)) << "trial " << trial;
            EXPECT_TRUE(same_bits(s.gas_source_mass_total, expected.mass));
            EXPECT_TRUE(same_bits(s.gas_source_momentum_total, expected.momentum));
            EXPECT_TRUE(same_bits(s.gas_source_energy_total, expected.energy));
        }

        // Rates written directly (as a restart would) are counted by the
        // summary without any add.
        m->gas.sources.gas_mass_source[0] = 0.75;
        mass_rate[0] = 0.75;
        const Summary expected = reference_totals(mass_rate, momentum_rate, energy_rate);
        expect_summary(*m, expected.mass, expected.momentum, expected.energy);
    }
}

}  // namespace
