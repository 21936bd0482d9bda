#pragma once
// Solid particles: the material table and its setters, validation, the state
// build and the per-particle material update (elasticity, Johnson-Cook
// plasticity, damage and linear softening).

#include <array>
#include <string_view>

#include "solid/sph_solid_state.hpp"

struct Model;
struct DbState;

void sph_solid_initialize(SolidState& solid);
void sph_solid_reset(SolidState& solid);
void sph_solid_clear_material_table(SolidState& solid);
void sph_solid_release_state(SolidState& solid);

bool sph_solid_is_active_particle(const DbState& db, int i);
// A particle of phase 4 whose material the water or gas initial conditions
// will claim at build: it is not a solid particle, whatever its phase now.
bool sph_solid_claimed_by_fluid(const Model& m, int i);
// Solid index (1-based slot) of a database material index, 0 if none.
int sph_solid_slot_of_material(const SolidState& solid, int material_index);

// Deck receivers.
void sph_solid_note_material(Model& m, std::string_view name, std::string_view material_type);
[[nodiscard]] int sph_solid_set_elastic(Model& m, std::string_view material_name, double e_value,
                                        double nu_value);
[[nodiscard]] int sph_solid_set_johnson_cook(Model& m, std::string_view material_name,
                                             const SolidJohnsonCook& jc);
[[nodiscard]] int sph_solid_set_failure(Model& m, std::string_view material_name,
                                        const std::array<double, 5>& d_values);
// Softening law and width; `has_h` / `has_volume` give the material's
// particles h and volume (and mass = density x volume) at build.
[[nodiscard]] int sph_solid_set_control(Model& m, std::string_view material_name,
                                        std::string_view softening_name, double width, bool has_h,
                                        double h_value, bool has_volume, double volume_value);
void sph_solid_set_body_force(Model& m, const Vec3& force);

// Model build.
[[nodiscard]] int sph_solid_validate_input(Model& m);
[[nodiscard]] int sph_solid_update_derived_constants(Model& m);
[[nodiscard]] int sph_solid_allocate_state(Model& m);
[[nodiscard]] int sph_solid_build_state(Model& m);
int sph_solid_count_unbound_materials(const Model& m);

// Per particle and step (0-based index).
[[nodiscard]] int sph_solid_update_particle_material(Model& m, int index,
                                                     const SolidTensor& strain_inc, double dt);
[[nodiscard]] int sph_solid_mark_particle_failed(Model& m, int index);
