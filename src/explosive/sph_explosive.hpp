#pragma once
// Programmed burn: detonation times from the ignition points and the
// detonation velocity, a linear burn over the burn time, and the release of
// the burnt mass, energy and momentum to the product gas, by turning burnt
// particles into gas (PHASE) or through the gas sources (SOURCE).

#include <array>
#include <string_view>

#include "core/sph_vec3.hpp"
#include "explosive/sph_explosive_helpers.hpp"
#include "explosive/sph_explosive_state.hpp"

struct Model;

void sph_explosive_initialize(ExplosiveState& ex);
void sph_explosive_reset(ExplosiveState& ex);
void sph_explosive_clear_material_table(ExplosiveState& ex);

// Deck receivers.
void sph_explosive_note_material(Model& m, std::string_view name, std::string_view material_type);
[[nodiscard]] int sph_explosive_set_control(Model& m, std::string_view material_name,
                                            std::string_view model_type, double detonation_velocity,
                                            double energy_per_mass, double burn_time,
                                            std::string_view product_material_name,
                                            std::string_view conversion_name);
[[nodiscard]] int sph_explosive_set_ignition(Model& m, std::string_view material_name,
                                             const Vec3& ignition_x, double ignition_time);
// An ignition of the first explosive material; once built, the detonation
// times follow at once (progress kept).
[[nodiscard]] int sph_explosive_set_default_ignition_point(Model& m, const Vec3& ignition_x,
                                                           double ignition_time);

// Model build.
[[nodiscard]] int sph_explosive_validate_input(Model& m);
[[nodiscard]] int sph_explosive_allocate_state(Model& m);
[[nodiscard]] int sph_explosive_build(Model& m);
[[nodiscard]] int sph_explosive_compute_detonation_times(Model& m);
int sph_explosive_count_unbound_materials(const Model& m);

// Per step.
double sph_explosive_reaction_target(const Model& m, int i, int slot, double time);
[[nodiscard]] int sph_explosive_estimate_dt_limit(Model& m, double& dt_reaction);
// The burn at the end-of-step time `time` = current time + dt.
[[nodiscard]] int sph_explosive_advance(Model& m, double dt, double time);

// Queries.
void sph_explosive_update_release_balance(Model& m);
void sph_explosive_get_release_balance(Model& m, std::array<double, 4>& mass_values,
                                       std::array<double, 2>& energy_values,
                                       std::array<double, 3>& momentum_values);
void sph_explosive_get_summary(Model& m, int& particle_count, int& reacted_count,
                               std::array<double, 3>& lambda_range,
                               std::array<double, 5>& released_totals,
                               std::array<double, 2>& detonation_time_range);
void sph_explosive_get_detonation_time_range(const Model& m, double& time_min, double& time_max);
