#pragma once
// State of the programmed-burn explosive model: the material table with the
// burn controls, the ignition records, the per-particle burn and release
// records and the global release balances.

#include <string>
#include <vector>

#include "core/sph_vec3.hpp"

inline constexpr int explosive_conversion_none = 0;
inline constexpr int explosive_conversion_phase = 1;
inline constexpr int explosive_conversion_source = 2;
inline constexpr int sph_explosive_max_materials = 32;
inline constexpr int sph_explosive_max_ignitions = 32;

// One slot of the table; its position + 1 is the explosive index.
struct ExplosiveMaterialSlot {
    int explosive_material_id = 0;  // 1-based database material index
    std::string explosive_material_name;
    bool explosive_control_defined = false;
    int explosive_product_material_id = 0;
    std::string explosive_product_material_name;
    double explosive_density0 = 0.0;
    double explosive_detonation_velocity = 0.0;
    double explosive_energy_per_mass = 0.0;
    double explosive_burn_time = 0.0;
    int explosive_conversion_mode = explosive_conversion_none;
};

struct ExplosiveIgnition {
    int explosive_ignition_material_id = 0;  // database material index, not the explosive index
    Vec3 explosive_ignition_x;
    double explosive_ignition_time = 0.0;
};

// One SOURCE product's targets during an advance: every member of a group
// has received the same additions since the rates were cleared, so one value
// per group stands for all of them.
struct ExplosiveSourceGroup {
    std::vector<int> members;  // particle indices, ascending
    double mass_rate = 0.0;
    Vec3 momentum_rate;
    double energy_rate = 0.0;
};

struct ExplosiveProductTargets {
    int product = 0;  // database material index; 0: a spare entry
    int count = 0;    // active gas targets now
    std::vector<ExplosiveSourceGroup> groups;
    bool last_group_open = false;  // the last group has had no release yet
};

struct ExplosiveState {
    bool explosive_module_initialized = false;
    bool explosive_material_seen = false;
    std::vector<ExplosiveMaterialSlot> slots;  // explosive_material_count = size()
    std::vector<ExplosiveIgnition> ignitions;  // explosive_ignition_count = size()

    // Per-particle arrays: npart entries each, or none (not built).
    std::vector<int> explosive_ignition_status;
    std::vector<double> explosive_detonation_time;
    std::vector<double> explosive_reaction_progress;
    std::vector<int> explosive_initial_material_id;
    std::vector<double> explosive_initial_mass;
    std::vector<double> explosive_remaining_mass;
    std::vector<double> explosive_released_mass;
    std::vector<double> explosive_released_energy;
    std::vector<Vec3> explosive_released_momentum;

    double explosive_release_mass_balance[4] = {};
    double explosive_release_energy_balance[2] = {};
    double explosive_release_momentum_balance[3] = {};
    int explosive_converted_count = 0;
    int explosive_source_target_count = 0;
    double explosive_source_mass_total = 0.0;
    double explosive_source_energy_total = 0.0;
    Vec3 explosive_source_momentum_total;
    double explosive_dt_reaction = 0.0;

    // Scratch of an advance, reused across steps.
    std::vector<ExplosiveProductTargets> source_targets;
};
