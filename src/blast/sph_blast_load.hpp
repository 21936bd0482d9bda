#pragma once
// Blast loads: each enabled region's pressure, from its sources and its water
// environment and scaled, pushes its targets outward from the region centre
// with a force proportional to the target's area. Forces on solid and shell
// targets are cached per particle, totalled per region and added to the
// accelerations in the step.

#include <array>
#include <cstdint>
#include <vector>

#include "blast/sph_blast.hpp"
#include "core/sph_vec3.hpp"

struct Model;

inline constexpr double sph_blast_load_eps = 1e-12;
inline constexpr int sph_blast_summary_count_size = 12;
inline constexpr int sph_blast_summary_value_size = 26;

struct BlastLoadDiagnostics {
    int blast_load_target_count = 0;
    int64_t blast_load_pair_count = 0;
    // The projection took the snapshot's candidate-pair count, which is
    // counted only when a summary asks for it.
    bool blast_load_pair_count_pending = false;
    int blast_load_zero_weight_count = 0;
    int blast_load_nonfinite_count = 0;
    Vec3 blast_load_total_force;
    Vec3 blast_solid_total_force;
    Vec3 blast_shell_total_force;
    Vec3 blast_load_impulse;
    Vec3 blast_load_momentum_input;
    double blast_load_work = 0.0;
    double blast_load_energy_input = 0.0;
    double blast_load_max_particle_force = 0.0;
    double blast_load_max_acceleration = 0.0;
};

struct BlastLoadState {
    bool blast_load_enabled = true;
    std::vector<Vec3> blast_solid_external_force;
    std::vector<Vec3> blast_shell_external_force;
    std::vector<Vec3> blast_shell_external_moment;  // no load path writes it yet
    std::array<BlastLoadDiagnostics, sph_blast_max_regions> diagnostics{};
};

// One region's summary: the counts and values the summary files write and
// the host's blast query returns (64-bit pair counts).
struct BlastRegionSummary {
    std::array<int64_t, sph_blast_summary_count_size> counts{};
    std::array<double, sph_blast_summary_value_size> values{};
};

void sph_blast_load_initialize(BlastLoadState& load);
void sph_blast_load_reset(BlastLoadState& load);
void sph_blast_load_set_enabled(BlastLoadState& load, bool enabled);
[[nodiscard]] int sph_blast_load_prepare_storage(Model& m);
[[nodiscard]] int sph_blast_load_clear(Model& m);
[[nodiscard]] int sph_blast_load_compute_at(Model& m, double time_value);
[[nodiscard]] int sph_blast_load_compute(Model& m);
[[nodiscard]] int sph_blast_load_apply_to_acceleration(Model& m);
[[nodiscard]] int sph_blast_load_get_summary(Model& m, int region, BlastRegionSummary& summary);
