#pragma once
// Gas sources: per-particle mass, energy and momentum source rates that the
// explosive burn fills and the gas phase applies once per step.

#include <vector>

#include "core/sph_vec3.hpp"

struct Model;

struct GasSourceState {
    // The three arrays exist together (npart entries each) or not at all.
    std::vector<double> gas_mass_source;    // mass per unit time
    std::vector<double> gas_energy_source;  // energy per unit time (a power)
    std::vector<Vec3> gas_momentum_source;  // momentum per unit time (a force)
    // The rates summed over all particles in index order. An add only marks
    // them stale (a recompute per add would cost O(npart) for every burning
    // particle, and a running sum would differ in the last bits from the
    // ordered sum); read them through sph_gas_source_get_summary or after
    // sph_gas_source_refresh_totals.
    double gas_source_mass_total = 0.0;
    double gas_source_energy_total = 0.0;
    Vec3 gas_source_momentum_total;
    bool gas_source_totals_stale = false;  // the totals lag behind the rates
};

// Makes the arrays match the particle count (zero rates) unless they already
// do; nothing for an empty model.
[[nodiscard]] int sph_gas_source_allocate(Model& m);
// Adds to the rates of particle `index` (0-based), an active gas particle.
// Sources accumulate until cleared.
[[nodiscard]] int sph_gas_source_add_by_particle(Model& m, int index, double mass_rate,
                                                 const Vec3& momentum_rate, double energy_rate);
// Applies the rates over dt to every active gas particle (mass, velocity,
// specific internal energy); the rates stay.
[[nodiscard]] int sph_gas_source_apply_explicit(Model& m, double dt);
[[nodiscard]] int sph_gas_source_clear(Model& m);
// The rates in force, summed over all particles (active or not).
[[nodiscard]] int sph_gas_source_get_summary(Model& m, double& mass_total, Vec3& momentum_total,
                                             double& energy_total);
// Brings the totals up to date after adds (one pass over the particles, none
// when they are current).
void sph_gas_source_refresh_totals(GasSourceState& sources);
void sph_gas_source_reset(GasSourceState& sources);
// Sets the rates of particle `index` (0-based; the arrays must be allocated)
// without the checks of an addition: for callers that have formed the exact
// sum of their additions themselves (the explosive's SOURCE releases).
void sph_gas_source_set_rates(GasSourceState& sources, int index, double mass_rate,
                              const Vec3& momentum_rate, double energy_rate);
