#pragma once
// Small predicates of the explosive model and its material registry.

#include <string_view>

struct Model;
struct DbState;
struct ExplosiveState;

// Particle classes (0-based index i).
bool sph_explosive_is_active_particle(const DbState& db, int i);
// Burning or burnt: detonation time assigned or progress above 0 (a particle
// stays tracked after it becomes gas).
bool sph_explosive_is_tracked(const ExplosiveState& ex, const DbState& db, int i);
bool sph_explosive_is_gas_target(const DbState& db, int i, int product_material);

// 1-based database index of the material named `name` (case and trailing
// blanks ignored), 0 if none.
int sph_explosive_find_material(const Model& m, std::string_view name);
// Explosive index (1-based slot) of a database material index, 0 if none.
int sph_explosive_slot_of_material(const ExplosiveState& ex, int material_index);
// Slot of the named material, registering it when it has none; 0 when the
// material is unknown or the table is full.
int sph_explosive_register_material(Model& m, std::string_view name);
// The slot for a setter: unknown, non-explosive and table-full are errors
// (status 4); `slot` is 1-based.
[[nodiscard]] int sph_explosive_prepare_material(Model& m, std::string_view name, int& slot);
// The product of a control must be a gas material with an equation of state.
[[nodiscard]] int sph_explosive_validate_product(Model& m, int product_material);
