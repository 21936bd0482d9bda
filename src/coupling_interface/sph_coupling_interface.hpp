#pragma once
// Coupling interface to the external structural solver (Tamrix), reached by
// the host between two steps: the regions and their modes, the particle and
// shell facet exports of a region, the imports (forces, facet loads,
// pressures, tractions, resultants, contact states, motion targets) that act
// in the next step, and the exchange totals and counters.
//
// Region indices, facet ids and export positions are 1-based here, as the
// host sees them; particle indices inside the module are 0-based. Every
// failure records status 1 with its message.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "core/sph_vec3.hpp"

struct Model;
struct DbState;

// Export layout: slots of one exported particle or facet (1-based).
inline constexpr int sph_coupling_particle_scalar_count = 7;
inline constexpr int sph_coupling_particle_scalar_mass = 1;
inline constexpr int sph_coupling_particle_scalar_volume = 2;
inline constexpr int sph_coupling_particle_scalar_density = 3;
inline constexpr int sph_coupling_particle_scalar_pressure = 4;
inline constexpr int sph_coupling_particle_scalar_energy = 5;
inline constexpr int sph_coupling_particle_scalar_temperature = 6;
inline constexpr int sph_coupling_particle_scalar_h = 7;
inline constexpr int sph_coupling_particle_vector_count = 3;
inline constexpr int sph_coupling_particle_vector_x = 1;
inline constexpr int sph_coupling_particle_vector_v = 2;
inline constexpr int sph_coupling_particle_vector_a = 3;
inline constexpr int sph_coupling_facet_vector_count = 3;
inline constexpr int sph_coupling_facet_vector_center = 1;
inline constexpr int sph_coupling_facet_vector_velocity = 2;
inline constexpr int sph_coupling_facet_vector_normal = 3;

// Motion target kinds (the motion flag) and motion modes.
inline constexpr int sph_coupling_motion_velocity = 1;
inline constexpr int sph_coupling_motion_position = 2;
inline constexpr int sph_coupling_motion_none = 0;
inline constexpr int sph_coupling_motion_direct = 1;
inline constexpr int sph_coupling_motion_penalty = 2;

// Sizes of the diagnostic arrays: the short form and the full one.
inline constexpr int sph_coupling_diagnostic_values_short = 22;
inline constexpr int sph_coupling_diagnostic_values_full = 27;
inline constexpr int sph_coupling_diagnostic_counts_short = 5;
inline constexpr int sph_coupling_diagnostic_counts_full = 12;

struct CouplingState {
    // Import buffers, npart entries each once allocated.
    std::vector<Vec3> coupling_external_force;
    std::vector<Vec3> coupling_motion_velocity;
    std::vector<Vec3> coupling_motion_position;
    std::vector<int> coupling_motion_flag;
    std::vector<int> coupling_motion_mode;
    std::vector<int> coupling_contact_flag;
    std::vector<Vec3> coupling_contact_normal;
    std::vector<double> coupling_contact_gap;
    std::vector<double> coupling_contact_penetration;
    std::vector<double> coupling_contact_pressure;

    int coupling_epoch = 0;
    // Step diagnostics.
    Vec3 coupling_current_force;
    Vec3 coupling_current_moment;
    Vec3 coupling_current_impulse;
    double coupling_current_work = 0.0;
    double coupling_max_external_force = 0.0;
    double coupling_max_acceleration = 0.0;
    double coupling_max_velocity_error = 0.0;
    double coupling_max_position_error = 0.0;
    // Running sums and their copies.
    Vec3 coupling_cumulative_impulse;
    Vec3 coupling_momentum_exchange;
    double coupling_cumulative_work = 0.0;
    double coupling_energy_exchange = 0.0;
    double coupling_work = 0.0;
    double coupling_energy = 0.0;
    Vec3 coupling_momentum;
    // Load balance of the facet loads of the current epoch.
    Vec3 coupling_facet_input_force;
    Vec3 coupling_facet_distributed_force;
    Vec3 coupling_facet_input_moment;
    Vec3 coupling_facet_distributed_moment;
    double coupling_facet_force_error = 0.0;
    double coupling_facet_moment_error = 0.0;
    double coupling_max_pressure = 0.0;
    double coupling_max_traction = 0.0;
    double coupling_max_penetration = 0.0;
    // Counters.
    int coupling_stale_load_count = 0;
    int coupling_skipped_particle_count = 0;
    int coupling_nonfinite_import_count = 0;
    int coupling_imported_force_count = 0;
    int coupling_repeated_import_count = 0;
    int coupling_duplicate_facet_count = 0;
    int coupling_invalid_weight_count = 0;
    int coupling_active_contact_count = 0;
    int coupling_skipped_contact_count = 0;
    int coupling_nonfinite_contact_count = 0;
    int coupling_bad_facet_area_count = 0;
    int coupling_step_load_consumed = 0;

    // Work space of one host call, kept between calls so that an exchange
    // allocates nothing once sizes are stable: membership of the particles in
    // one region's list (marked once per call instead of scanning the list per
    // entry) and the facet ids seen so far in one call.
    std::vector<std::uint32_t> member_mark;
    std::uint32_t member_stamp = 0;
    int marked_region = 0;
    std::vector<int> member_position;  // 1-based position in the marked list
    std::vector<std::uint32_t> id_mark;
    std::uint32_t id_stamp = 0;
    // The particle that received the latest imported force: where the test
    // for pending forces looks first.
    std::size_t force_hint = 0;
};

// Life cycle.
void sph_coupling_reset(CouplingState& s);
void sph_coupling_release_imports(CouplingState& s);
[[nodiscard]] int sph_coupling_allocate_imports(Model& m);
void sph_coupling_zero_import_buffers(CouplingState& s);
void sph_coupling_reset_load_balance(CouplingState& s);
void sph_coupling_reset_step_diagnostics(CouplingState& s);

// Shared tests. Finite: not NaN and magnitude strictly below the largest
// double. `index` is the 0-based particle index.
bool sph_coupling_scalar_is_finite(double value);
bool sph_coupling_vector_is_finite(const Vec3& values);
bool sph_coupling_particle_state_is_finite(const DbState& db, int index);
bool sph_coupling_particle_should_skip(const DbState& db, int index);

// Region checks; `region` is the 1-based region index, `facet_id` the 1-based
// particle index.
[[nodiscard]] int sph_coupling_find_region(Model& m, std::string_view region_name, int& region);
[[nodiscard]] int sph_coupling_require_enabled_region(Model& m, int region);
[[nodiscard]] int sph_coupling_check_shell_facet(Model& m, int facet_id);
[[nodiscard]] int sph_coupling_count_shell_facets(Model& m, int region, int& count);
[[nodiscard]] int sph_coupling_require_facet(Model& m, int region, int facet_id);

// Regions and exports.
struct CouplingRegionInfo {
    std::string name;  // trimmed
    int region_type = 0;
    int export_mode = 0;
    int import_mode = 0;
    int enabled = 0;
    int particle_count = 0;
    int facet_count = 0;
};

// Host arrays of one export call, each sized by the call's capacity.
struct CouplingParticleExport {
    int* ext_ids = nullptr;
    int* internal_indices = nullptr;
    int* phases = nullptr;
    int* statuses = nullptr;
    int* materials = nullptr;
    int* sections = nullptr;
    double* scalar_values = nullptr;  // 7 per entry
    double* vector_values = nullptr;  // 9 per entry: x, v, a
};

struct CouplingFacetExport {
    int* facet_ids = nullptr;
    int* particle_ids = nullptr;
    int* materials = nullptr;
    int* sections = nullptr;
    double* vector_values = nullptr;  // 9 per entry: centre, velocity, normal
    double* area_values = nullptr;
};

int sph_coupling_get_region_count(const Model& m);
[[nodiscard]] int sph_coupling_get_region_info(Model& m, int region_index,
                                               CouplingRegionInfo& info);
[[nodiscard]] int sph_coupling_get_region_modes(Model& m, int region_index, int& load_mode,
                                                int& distribution_mode, int& contact_state_mode);
[[nodiscard]] int sph_coupling_export_region_particles(Model& m, std::string_view region_name,
                                                       int capacity, int& count,
                                                       const CouplingParticleExport& out);
[[nodiscard]] int sph_coupling_export_particles(Model& m, int region_index, int capacity,
                                                int& count, const CouplingParticleExport& out);
[[nodiscard]] int sph_coupling_export_region_facets(Model& m, std::string_view region_name,
                                                    int capacity, int& count,
                                                    const CouplingFacetExport& out);
[[nodiscard]] int sph_coupling_export_facets(Model& m, int region_index, int capacity, int& count,
                                             const CouplingFacetExport& out);

// Imports. Vector arrays hold 3 values per entry.
[[nodiscard]] int sph_coupling_prepare_import_epoch(Model& m, int coupling_step);
[[nodiscard]] int sph_coupling_add_force_to_particle(Model& m, int facet_id, const Vec3& force);
[[nodiscard]] int sph_coupling_apply_particle_forces(Model& m, int region_index, int force_count,
                                                     const int* export_indices,
                                                     const double* forces);
[[nodiscard]] int sph_coupling_apply_facet_loads(Model& m, int region_index, int load_count,
                                                 const int* facet_ids, const double* loads);
[[nodiscard]] int sph_coupling_get_facet_geometry(Model& m, int region, int facet_id, double& area,
                                                  Vec3& normal, Vec3& center);
[[nodiscard]] int sph_coupling_distribute_facet_force(Model& m, int region, int facet_id,
                                                      const Vec3& force, int distribution_mode,
                                                      const Vec3& center);
[[nodiscard]] int sph_coupling_apply_facet_pressures(Model& m, int region_index, int load_count,
                                                     const int* facet_ids, const double* pressures,
                                                     int distribution_mode, int coupling_step);
[[nodiscard]] int sph_coupling_apply_facet_tractions(Model& m, int region_index, int load_count,
                                                     const int* facet_ids, const double* tractions,
                                                     int distribution_mode, int coupling_step);
[[nodiscard]] int sph_coupling_apply_facet_resultants(Model& m, int region_index, int load_count,
                                                      const int* facet_ids,
                                                      const double* resultants,
                                                      int distribution_mode, int coupling_step);
[[nodiscard]] int sph_coupling_apply_contact_state(Model& m, int region_index, int contact_count,
                                                   const int* facet_ids, const double* normals,
                                                   const double* gaps, const double* penetrations,
                                                   const double* contact_pressures,
                                                   int coupling_step);
// `index` is the 0-based particle index.
[[nodiscard]] int sph_coupling_set_motion(Model& m, int index, int mode, int target_kind,
                                          const Vec3& target);
[[nodiscard]] int sph_coupling_apply_motion_boundary(Model& m, int region_index, int export_index,
                                                     int target_kind, int mode, const Vec3& target);
[[nodiscard]] int sph_coupling_clear_imports(Model& m);

// Diagnostics.
void sph_coupling_get_load_balance(const CouplingState& s, Vec3& input_force,
                                   Vec3& distributed_force, double& force_error, Vec3& input_moment,
                                   Vec3& distributed_moment, double& moment_error);
void sph_coupling_get_contact_diagnostics(const CouplingState& s, int& active_count,
                                          int& skipped_count, double& max_penetration,
                                          int& stale_count, int& repeated_count,
                                          int& nonfinite_count, int& bad_area_count,
                                          int& invalid_weight_count);
[[nodiscard]] int sph_coupling_get_diagnostic_values(Model& m, int value_capacity, double* values,
                                                     int count_capacity, int* counts);

// Step hooks of the explicit driver, in this order within one step.
[[nodiscard]] int sph_coupling_apply_imports_to_acceleration(Model& m, double dt);
[[nodiscard]] int sph_coupling_apply_motion_before_step(Model& m);
[[nodiscard]] int sph_coupling_apply_motion_after_step(Model& m);
// Position targets only, with no counts or checks (the motion application of
// the step does those): the mid-step positions of the velocity-Verlet scheme.
void sph_coupling_apply_position_targets(Model& m);
[[nodiscard]] int sph_coupling_finalize_step_imports(Model& m);
[[nodiscard]] int sph_coupling_apply_motion_targets(Model& m, bool track_error);
