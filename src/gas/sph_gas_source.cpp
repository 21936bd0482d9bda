#include "gas/sph_gas_source.hpp"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <limits>
#include <new>
#include <stdexcept>

#include "core/sph_error.hpp"
#include "core/sph_model.hpp"

namespace {

constexpr double largest_double = std::numeric_limits<double>::max();

// NaN fails the comparison, so it is refused with the infinities.
bool is_finite_value(double value) {
    return std::abs(value) < largest_double;
}

// Defined here rather than taken from the gas phase so that the sources
// depend on the database alone.
bool is_active_gas(const DbState& db, int i) {
    return db.particle_phase[i] == sph_phase_gas && db.particle_status[i] == sph_status_active;
}

// Swapping with empty vectors gives the memory back, which clear() would not.
void release_arrays(GasSourceState& s) {
    std::vector<double>().swap(s.gas_mass_source);
    std::vector<double>().swap(s.gas_energy_source);
    std::vector<Vec3>().swap(s.gas_momentum_source);
}

// The ordered sums over all particles, active or not.
void recompute_totals(GasSourceState& s) {
    s.gas_source_mass_total = 0.0;
    s.gas_source_energy_total = 0.0;
    s.gas_source_momentum_total = Vec3{};
    s.gas_source_totals_stale = false;
    const std::size_t n = s.gas_mass_source.size();
    if (n == 0) return;
    double mass = 0.0;
    double energy = 0.0;
    Vec3 momentum;
    for (std::size_t i = 0; i < n; ++i) {
        mass += s.gas_mass_source[i];
        energy += s.gas_energy_source[i];
        momentum += s.gas_momentum_source[i];
    }
    s.gas_source_mass_total = mass;
    s.gas_source_energy_total = energy;
    s.gas_source_momentum_total = momentum;
}

}  // namespace

int sph_gas_source_allocate(Model& m) {
    GasSourceState& s = m.gas.sources;
    const int npart = m.db.npart;
    if (npart <= 0) return sph_success;
    const std::size_t n = static_cast<std::size_t>(npart);
    if (s.gas_mass_source.size() == n) return sph_success;  // rates kept, nothing allocated
    release_arrays(s);
    // The totals of the old arrays no longer describe the rates.
    s.gas_source_totals_stale = true;
    try {
        s.gas_mass_source.assign(n, 0.0);
        s.gas_energy_source.assign(n, 0.0);
        s.gas_momentum_source.assign(n, Vec3{});
    } catch (const std::bad_alloc&) {
        release_arrays(s);
        return sph_error_set(m.error, sph_error_database, "failed to allocate Gas source state");
    } catch (const std::length_error&) {
        release_arrays(s);
        return sph_error_set(m.error, sph_error_database, "failed to allocate Gas source state");
    }
    return sph_success;
}

int sph_gas_source_add_by_particle(Model& m, int index, double mass_rate, const Vec3& momentum_rate,
                                   double energy_rate) {
    if (const int status = sph_gas_source_allocate(m); status != sph_success) return status;
    const DbState& db = m.db;
    if (index < 0 || index >= db.npart) {
        return sph_error_set(m.error, sph_error_argument, "Gas source particle id is out of range");
    }
    if (!is_active_gas(db, index)) {
        return sph_error_set(m.error, sph_error_argument, "Gas source target must be active Gas");
    }
    if (!is_finite_value(mass_rate) || !is_finite_value(energy_rate) ||
        !is_finite_value(momentum_rate.x) || !is_finite_value(momentum_rate.y) ||
        !is_finite_value(momentum_rate.z)) {
        return sph_error_set(m.error, sph_error_argument, "Gas source value is not finite");
    }
    GasSourceState& s = m.gas.sources;
    s.gas_mass_source[index] += mass_rate;
    s.gas_energy_source[index] += energy_rate;
    s.gas_momentum_source[index] += momentum_rate;
    // Summed when next read: one pass for all the adds of a step.
    s.gas_source_totals_stale = true;
    return sph_success;
}

int sph_gas_source_apply_explicit(Model& m, double dt) {
    if (!(dt > 0.0)) {
        return sph_error_set(m.error, sph_error_argument, "Gas source time step must be positive");
    }
    if (const int status = sph_gas_source_allocate(m); status != sph_success) return status;
    DbState& db = m.db;
    GasSourceState& s = m.gas.sources;
    for (int i = 0; i < db.npart; ++i) {
        if (!is_active_gas(db, i)) continue;
        const double mass = db.mass[i];
        const double new_mass = mass + s.gas_mass_source[i] * dt;
        // Written so that a NaN mass is refused too; earlier particles keep
        // their update.
        if (!(new_mass > 0.0)) {
            return sph_error_set(m.error, sph_error_argument,
                                 "Gas source produced nonpositive mass");
        }
        const Vec3& rate = s.gas_momentum_source[i];
        Vec3& v = db.v[i];
        const Vec3 momentum{rate.x * dt + mass * v.x, rate.y * dt + mass * v.y,
                            rate.z * dt + mass * v.z};
        db.mass[i] = new_mass;
        v = Vec3{momentum.x / new_mass, momentum.y / new_mass, momentum.z / new_mass};
        db.internal_energy[i] += s.gas_energy_source[i] * dt / new_mass;
    }
    recompute_totals(s);
    return sph_success;
}

int sph_gas_source_clear(Model& m) {
    if (const int status = sph_gas_source_allocate(m); status != sph_success) return status;
    GasSourceState& s = m.gas.sources;
    std::fill(s.gas_mass_source.begin(), s.gas_mass_source.end(), 0.0);
    std::fill(s.gas_energy_source.begin(), s.gas_energy_source.end(), 0.0);
    std::fill(s.gas_momentum_source.begin(), s.gas_momentum_source.end(), Vec3{});
    recompute_totals(s);
    return sph_success;
}

int sph_gas_source_get_summary(Model& m, double& mass_total, Vec3& momentum_total,
                               double& energy_total) {
    mass_total = 0.0;
    momentum_total = Vec3{};
    energy_total = 0.0;
    if (const int status = sph_gas_source_allocate(m); status != sph_success) return status;
    GasSourceState& s = m.gas.sources;
    // Always summed afresh, so that rates written directly (a restart) count.
    recompute_totals(s);
    mass_total = s.gas_source_mass_total;
    momentum_total = s.gas_source_momentum_total;
    energy_total = s.gas_source_energy_total;
    return sph_success;
}

void sph_gas_source_refresh_totals(GasSourceState& sources) {
    if (sources.gas_source_totals_stale) recompute_totals(sources);
}

void sph_gas_source_reset(GasSourceState& sources) {
    sources.gas_source_mass_total = 0.0;
    sources.gas_source_energy_total = 0.0;
    sources.gas_source_momentum_total = Vec3{};
    sources.gas_source_totals_stale = false;
    release_arrays(sources);
}

void sph_gas_source_set_rates(GasSourceState& s, int index, double mass_rate,
                              const Vec3& momentum_rate, double energy_rate) {
    const std::size_t i = static_cast<std::size_t>(index);
    s.gas_mass_source[i] = mass_rate;
    s.gas_momentum_source[i] = momentum_rate;
    s.gas_energy_source[i] = energy_rate;
    s.gas_source_totals_stale = true;
}
