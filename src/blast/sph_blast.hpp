#pragma once
// Blast regions: spheres in which source particles (whose pressure drives
// the blast) and target particles (structure of a named set) are selected by
// phase, and the per-region snapshot the blast loads are computed from.

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "core/sph_vec3.hpp"

struct Model;

inline constexpr int sph_blast_phase_none = 0;
inline constexpr int sph_blast_phase_water = 1;
inline constexpr int sph_blast_phase_gas = 2;
inline constexpr int sph_blast_phase_explosive = 3;
inline constexpr int sph_blast_phase_solid = 4;
inline constexpr int sph_blast_phase_shell = 5;
inline constexpr int sph_blast_phase_structure = 6;
inline constexpr int sph_blast_phase_all = 7;
inline constexpr int sph_blast_mode_radial = 1;
inline constexpr int sph_blast_mode_normal = 2;
inline constexpr int sph_blast_mode_direct = 3;
inline constexpr int sph_blast_max_regions = 32;

struct BlastRegion {
    std::string blast_region_name;
    std::string blast_target_set_name;
    int blast_source_phase = sph_blast_phase_none;
    int blast_target_phase = sph_blast_phase_none;
    int blast_projection_mode = sph_blast_mode_radial;
    bool blast_region_enabled = false;
    Vec3 blast_center;
    double blast_radius = 0.0;
    double blast_load_scale = 0.0;
    double blast_time_window = 0.0;
};

// Reset to 0 before every refresh. The candidate-pair count is 64-bit: a
// dense region of 10^5 sources and 10^5 targets already passes 2^31.
struct BlastSnapshot {
    int blast_source_count = 0;
    int blast_target_count = 0;
    int64_t blast_candidate_pair_count = 0;
    int blast_skipped_source_count = 0;
    int blast_skipped_target_count = 0;
    int blast_gas_count = 0;
    int blast_water_count = 0;
    int blast_explosive_count = 0;
    double blast_source_mass = 0.0;
    double blast_source_energy = 0.0;
    double blast_source_pressure_mean = 0.0;
    double blast_gas_volume = 0.0;
    double blast_explosive_progress_mean = 0.0;
    double blast_water_pressure_min = 0.0;
    double blast_water_pressure_max = 0.0;
};

struct BlastState {
    std::vector<BlastRegion> regions;  // blast_region_count = size()
    std::array<BlastSnapshot, sph_blast_max_regions> snapshot{};
    // Target-set membership by particle index, one mask per region, built
    // once per particle count (the sets do not change during a run).
    std::vector<std::vector<unsigned char>> in_target_set;
    int masks_npart = -1;
    // Accepted sources and targets of the latest refresh, with their
    // positions at that refresh: the candidate-pair count is taken from them
    // only when asked for (no load uses it), so it leaves the step.
    std::vector<std::vector<int>> sources, targets;
    std::vector<std::vector<Vec3>> source_positions, target_positions;
    std::array<bool, sph_blast_max_regions> pair_count_pending{};
};

int sph_blast_phase_code(std::string_view text);
int sph_blast_mode_code(std::string_view text);
bool sph_blast_phase_matches(int filter_phase, int db_phase);

void sph_blast_initialize(BlastState& blast);
void sph_blast_reset(BlastState& blast);
[[nodiscard]] int sph_blast_add_region(Model& m, std::string_view name, const Vec3& center,
                                       double radius, std::string_view source_phase_name,
                                       std::string_view target_phase_name,
                                       std::string_view target_set_name, double scale,
                                       double time_window, std::string_view mode_name,
                                       bool enabled = true);
int sph_blast_count_unused_regions(const BlastState& blast);
// The target-set masks are rebuilt at the next refresh (the particles or the
// sets behind them were replaced).
void sph_blast_invalidate_masks(BlastState& blast);
void sph_blast_refresh_snapshot(Model& m);

// Predicates (region 1-based, particle 0-based).
bool sph_blast_in_region(const Model& m, int region, int index);
bool sph_blast_particle_in_target_set(Model& m, int region, int index);
bool sph_blast_source_accepts(const Model& m, int region, int index);
bool sph_blast_target_accepts(Model& m, int region, int index);
// Pairs (i, j) of the two lists with |x_j - x_i|^2 <= radius^2, counted
// through a grid: the count the all-pairs test gives, in linear-ish work.
int64_t sph_blast_count_pairs(const Model& m, const std::vector<int>& first,
                              const std::vector<int>& second, double radius);
int64_t sph_blast_count_point_pairs(const std::vector<Vec3>& first, const std::vector<Vec3>& second,
                                    double radius);
// The candidate-pair count of region r (1-based) at the latest refresh,
// counted now if it has not been yet; 0 for a region out of range.
int64_t sph_blast_candidate_pair_count(BlastState& blast, int region);
