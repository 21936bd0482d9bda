#pragma once
// State of the solid particles: the material table, the derived elastic
// constants and the per-particle solid state.

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "core/sph_vec3.hpp"
#include "solid/sph_solid_material.hpp"

inline constexpr int sph_solid_max_materials = 32;

inline constexpr int sph_solid_reference_ok = 0;
inline constexpr int sph_solid_reference_degenerate = 1;
inline constexpr int sph_solid_correction_ok = 0;
inline constexpr int sph_solid_correction_underconstrained = 1;
inline constexpr int sph_solid_correction_singular = 2;
inline constexpr int sph_solid_correction_fallback = 3;
inline constexpr int sph_solid_failed = 2;  // solid_failure_status of a failed particle

using SolidMatrix = std::array<double, 9>;  // 3x3, first index fastest: (a, b) at a + 3 b

// One slot of the table; its position + 1 is the solid index.
struct SolidMaterialSlot {
    int solid_material_ids = 0;  // 1-based database material index
    std::string solid_material_names;
    bool solid_elastic_defined = false;
    bool solid_johnson_cook_defined = false;
    bool solid_failure_defined = false;
    bool solid_control_defined = false;
    double solid_elastic_e = 0.0;
    double solid_elastic_nu = 0.0;
    SolidJohnsonCook jc;  // A, B, n, C, m, epsdot0 (1), Troom (293.15), Tmelt (1793)
    std::array<double, 5> solid_failure_d{};
    std::string solid_softening_type;
    double solid_softening_width = 0.0;
    // Particle size from *VELUNOR SOLID CONTROL (0: not given, the database
    // defaults stay): h, volume, and mass = density x volume.
    double solid_control_h = 0.0;
    double solid_control_volume = 0.0;
    // Derived when the state is built.
    double solid_density = 0.0;
    double solid_shear_modulus = 0.0;
    double solid_bulk_modulus = 0.0;
    double solid_wave_speed = 0.0;
    double solid_temperature_rise_factor = 0.0;
};

struct SolidState {
    bool solid_module_initialized = false;
    bool solid_material_seen = false;
    std::vector<SolidMaterialSlot> slots;  // solid_material_count = size()
    Vec3 solid_body_force;

    // Per-particle state: npart entries each, or none (no solid state).
    std::vector<SolidTensor> solid_stress;  // the stress that acts (softening included)
    // The undamaged stress the material law carries; the acting stress is
    // it times the softening, so softening acts exactly once.
    std::vector<SolidTensor> solid_effective_stress;
    std::vector<SolidTensor> solid_strain;
    std::vector<double> solid_plastic_strain;
    std::vector<double> solid_plastic_strain_rate;
    std::vector<double> solid_temperature;
    std::vector<double> solid_damage;
    std::vector<double> solid_softening;
    std::vector<double> solid_internal_energy;
    std::vector<double> solid_reference_volume;
    std::vector<SolidMatrix> solid_deformation_gradient;
    std::vector<SolidMatrix> solid_correction_matrix;
    std::vector<double> solid_correction_determinant;
    std::vector<SolidMatrix> solid_velocity_gradient;
    std::vector<SolidTensor> solid_strain_rate;
    std::vector<double> solid_strain_rate_eq;
    std::vector<Vec3> solid_acc_internal;
    std::vector<int> solid_reference_neighbor_count;
    std::vector<int> solid_reference_degenerate;
    std::vector<int> solid_correction_status;
    std::vector<int> solid_failure_status;

    // Reference neighbors of every particle, found once per build from a
    // grid: particle i's are reference_neighbors[reference_offset[i] ..
    // reference_offset[i + 1]), ascending, which is the order in which the
    // all-pairs definition visits them.
    std::vector<int64_t> reference_offset;
    std::vector<int> reference_neighbors;
    // True when the last reference search took the neighbor search's links,
    // so the neighbor table already describes the reference positions.
    bool neighbors_current_at_reference = false;
};
