#pragma once
// The model database: particle arrays (structure of arrays), mesh records,
// materials, sections, coupling regions, Tamrix options and the per-phase
// diagnostic values.
//
// Index conventions: particles are 0-based inside the library (the host sees
// k = index + 1). Record indices that particles store and the host sees
// (material_id, section_id, coupling region index) are 1-based, 0 = none.

#include <algorithm>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "core/sph_large_vector.hpp"
#include "core/sph_vec3.hpp"

struct Model;

inline constexpr int sph_max_materials = 32;
inline constexpr int sph_max_sections = 32;
inline constexpr int sph_max_sets = 32;
inline constexpr int sph_max_regions = 32;
inline constexpr int sph_max_elements = 256;
inline constexpr int sph_max_element_nodes = 8;
inline constexpr int sph_max_set_members = 512;

inline constexpr int sph_phase_water = 1;
inline constexpr int sph_phase_gas = 2;
inline constexpr int sph_phase_explosive = 3;
inline constexpr int sph_phase_solid = 4;
inline constexpr int sph_phase_shell = 5;
inline constexpr int sph_phase_boundary = 6;
inline constexpr int sph_phase_coupling = 7;
inline constexpr int sph_phase_solid_failed = 8;
inline constexpr int sph_phase_shell_failed = 9;

inline constexpr int sph_status_active = 0;
inline constexpr int sph_status_inactive = 1;
inline constexpr int sph_status_failed = 2;
inline constexpr int sph_status_reserved = 3;

inline constexpr int sph_region_coupling_contact = 1;
inline constexpr int sph_region_coupling_continuum = 2;
inline constexpr int sph_coupling_export_particle = 1;
inline constexpr int sph_coupling_export_facet = 2;
inline constexpr int sph_coupling_export_both = 3;
inline constexpr int sph_coupling_import_force = 1;
inline constexpr int sph_coupling_import_facet_load = 2;
inline constexpr int sph_coupling_import_motion = 3;
inline constexpr int sph_coupling_load_particle_force = 1;
inline constexpr int sph_coupling_load_facet_force = 2;
inline constexpr int sph_coupling_load_pressure = 3;
inline constexpr int sph_coupling_load_traction = 4;
inline constexpr int sph_coupling_distribution_uniform = 1;
inline constexpr int sph_coupling_distribution_area = 2;
inline constexpr int sph_coupling_distribution_mass = 3;
inline constexpr int sph_coupling_contact_state_none = 0;
inline constexpr int sph_coupling_contact_state_import = 1;

struct WaterDiagnostics {
    int water_particle_count = 0;
    double water_mass = 0.0;
    Vec3 water_momentum;
    double water_max_pressure = 0.0;
    double water_min_density = 0.0;
    double water_max_density = 0.0;
    double water_pressure_impulse = 0.0;
    double water_dt_cfl = 0.0;
    double water_dt_accel = 0.0;
    double water_dt_viscous = 0.0;
};

struct GasDiagnostics {
    int gas_particle_count = 0;
    double gas_mass = 0.0;
    double gas_volume = 0.0;
    Vec3 gas_momentum;
    Vec3 gas_center;
    double gas_mean_pressure = 0.0;
    double gas_max_pressure = 0.0;
    double gas_min_density = 0.0;
    double gas_max_density = 0.0;
    double gas_equivalent_radius = 0.0;
    double gas_previous_equivalent_radius = 0.0;
    double gas_radius_rate = 0.0;
    Vec3 gas_previous_center;
    double gas_center_shift = 0.0;
    double gas_dt_cfl = 0.0;
    double gas_dt_accel = 0.0;
    double gas_dtcrit = 0.0;
};

struct SolidDiagnostics {
    int solid_particle_count = 0;
    int solid_failed_count = 0;
    double solid_mass = 0.0;
    Vec3 solid_momentum;
    double solid_kinetic_energy = 0.0;
    double solid_internal_energy_total = 0.0;
    double solid_max_von_mises = 0.0;
    double solid_min_plastic_strain = 0.0;
    double solid_max_plastic_strain = 0.0;
    double solid_min_damage = 0.0;
    double solid_max_damage = 0.0;
    double solid_min_softening = 0.0;
    double solid_max_softening = 0.0;
    double solid_dt_cfl = 0.0;
    double solid_dt_accel = 0.0;
    double solid_dtcrit = 0.0;
    int solid_reference_neighbor_min = 0;
    double solid_correction_det_min = 0.0;
    int solid_correction_status_max = 0;
    double solid_max_strain_rate = 0.0;
    double solid_max_acceleration = 0.0;
    double solid_internal_force_residual = 0.0;
};

struct MaterialRecord {
    std::string material_name;  // names: trimmed, at most 64 characters
    std::string material_type;
    int material_internal_id = 0;
    double material_density = 0.0;
};

struct SectionRecord {
    std::string section_name;  // the element set or node set the section covers
    std::string section_type;
    std::string section_material_name;
    std::string section_orientation_name;
    int section_material_id = 0;
    double section_thickness = 0.0;
    int section_integration_points = 0;
    double section_shear_correction = 0.0;
};

// One generated run of ids: first, first + increment, ... up to last.
struct SetRange {
    int first = 0;
    int last = 0;
    int increment = 1;
};

// A set record is either listed (members, at most 512) or generated (ranges,
// any number of members: a million-node set costs a few bytes, not 4 MB).
struct SetRecord {
    std::string name;
    int member_count = 0;
    int first_member = 0;
    std::vector<int> members;  // listed: external node or element numbers, member_count entries
    bool generated = false;
    std::vector<SetRange> ranges;  // generated: in deck order
};

// Members of a generated range (0 for a range that is not well formed).
int64_t sph_db_set_range_size(const SetRange& range);

// An initial velocity component from the deck, applied at build. The target
// is a node id, or the node set named in `set_name` when that is not empty.
struct InitialVelocityRecord {
    int node_id = 0;
    int set_name_index = -1;  // into DbState::initial_velocity_set_names, -1 for a node id
    int dof = 1;              // 1, 2 or 3
    double value = 0.0;
    int line = 0;  // deck line, for messages at build
};

struct ElementRecord {
    int element_id_ext = 0;
    std::string element_type;
    int element_conn_count = 0;
    int element_conn[sph_max_element_nodes] = {};  // external node numbers, unused 0
};

struct CouplingRegionRecord {
    std::string coupling_region_name;
    std::string coupling_region_set_name;
    std::string coupling_region_surface_name;
    std::string coupling_region_material_name;
    std::string coupling_region_section_name;
    int coupling_region_type = 0;
    int coupling_region_export_mode = 0;
    int coupling_region_import_mode = 0;
    int coupling_region_load_mode = 0;
    int coupling_region_distribution_mode = 0;
    int coupling_region_contact_state_mode = 0;
    int coupling_region_enabled = 0;
    int coupling_region_phase_filter = 0;
    int coupling_region_material_filter = 0;
    int coupling_region_section_filter = 0;
    int coupling_region_internal_id = 0;
    int coupling_region_particle_count = 0;
    std::vector<int> coupling_region_particles;  // 0-based particle indices, particle_count entries
};

struct TamrixOptions {
    int tamrix_worker_enabled = 0;
    std::string tamrix_region_name = "ALL";
    int tamrix_export_radius = 1;
    int tamrix_export_sound_speed = 1;
    int tamrix_accept_contact_state = 1;
    int tamrix_accept_boundary_state = 0;
};

struct DbState {
    int npart = 0;

    // Particle arrays, npart entries each (empty when npart is 0).
    std::vector<int> particle_id_ext;
    std::vector<int> particle_phase;
    std::vector<int> particle_status;
    std::vector<int> material_id;
    std::vector<int> section_id;
    std::vector<Vec3> x0;
    std::vector<Vec3> x;
    std::vector<Vec3> v;
    std::vector<Vec3> a;
    std::vector<Vec3> vhalf;
    std::vector<double> mass;
    std::vector<double> rho;
    std::vector<double> volume;
    std::vector<double> pressure;
    std::vector<double> internal_energy;
    std::vector<double> temperature;
    std::vector<double> h;
    std::vector<double> drho_dt;
    std::vector<Vec3> acc_pressure;
    std::vector<Vec3> acc_viscosity;
    std::vector<Vec3> acc_body;

    // Neighbor search results (the neighbor module fills them). neighbor_list
    // holds 0-based particle indices; particle i's neighbors are
    // neighbor_list[neighbor_offset[i] .. neighbor_offset[i] + neighbor_count[i]);
    // entries beyond the last run are spare capacity. particle_cell_id is the
    // 0-based cell of each particle; the grid is kept sparse, so cell_head has
    // one entry per occupied cell (ascending cell index, the cell's highest
    // particle index) and cell_next leads to the next lower particle of the
    // same cell (-1 at the end).
    std::vector<int64_t> particle_cell_id;
    std::vector<int> cell_next;
    std::vector<int> neighbor_count;
    std::vector<int64_t> neighbor_offset;
    std::vector<int> cell_head;
    SphLargeVector<int> neighbor_list;

    WaterDiagnostics water;
    GasDiagnostics gas;
    SolidDiagnostics solid;

    std::vector<MaterialRecord> materials;  // material_count = size(), at most 32
    std::vector<SectionRecord> sections;
    std::vector<SetRecord> nsets;
    std::vector<SetRecord> elsets;
    std::vector<ElementRecord> elements;
    std::vector<CouplingRegionRecord> coupling_regions;
    int coupling_region_disabled_count = 0;
    TamrixOptions tamrix;
    std::vector<InitialVelocityRecord> initial_velocities;  // deck order
    std::vector<std::string> initial_velocity_set_names;

    // Lookup indexes from external node / element number to the first
    // particle / element holding it, rebuilt lazily after records change.
    // (Owned by the database implementation; see sph_db_find_node.)
    std::vector<std::pair<int, int>> node_lookup;
    bool node_lookup_valid = false;
    std::vector<std::pair<int, int>> element_lookup;
    bool element_lookup_valid = false;
};

// Name lookups: 1-based record index of the first match, 0 if none.
int sph_db_find_material(const DbState& db, std::string_view name);
int sph_db_find_section(const DbState& db, std::string_view name);
int sph_db_find_nset(const DbState& db, std::string_view name);
int sph_db_find_elset(const DbState& db, std::string_view name);
// First particle (0-based) whose external id is ext_id, -1 if none.
// Answered from a sorted index built on first use (O(log n) per lookup);
// sph_db_set_node, sph_db_allocate and sph_db_free keep it current. Code that
// writes particle_id_ext directly must call sph_db_invalidate_lookups.
int sph_db_find_node(DbState& db, int ext_id);
// First element (0-based) whose external number is ext_id, -1 if none.
int sph_db_find_element(DbState& db, int ext_id);
// Drops the node and element indexes; the next lookup rebuilds them.
void sph_db_invalidate_lookups(DbState& db);

// Storage.
[[nodiscard]] int sph_db_allocate(Model& m, int count);
void sph_db_initialize_defaults(DbState& db);
[[nodiscard]] int sph_db_allocate_neighbor_storage(Model& m, int64_t max_links, int64_t num_cells);
void sph_db_free(DbState& db);
void sph_db_clear_metadata(DbState& db);
// Hands the deck's records (materials, sections, sets, elements, Tamrix
// options, initial velocities) from one database to another, leaving the
// particle arrays and coupling regions of both alone.
void sph_db_move_deck_records(DbState& from, DbState& to);
void sph_db_clear_water_diagnostics(DbState& db);
void sph_db_clear_gas_diagnostics(DbState& db);
void sph_db_clear_solid_diagnostics(DbState& db);

// Records from the deck. `index` is the 0-based particle index.
[[nodiscard]] int sph_db_set_node(Model& m, int index, int ext_id, const Vec3& coords);
[[nodiscard]] int sph_db_add_material(Model& m, std::string_view name, std::string_view mtype);
[[nodiscard]] int sph_db_set_material_density(Model& m, std::string_view name,
                                              double density_value);
[[nodiscard]] int sph_db_add_section(Model& m, std::string_view name, std::string_view stype,
                                     std::string_view mat_name, double thickness, int points,
                                     double shear_correction, std::string_view orientation_name);
[[nodiscard]] int sph_db_add_nset(Model& m, std::string_view name, int member_count,
                                  const int* members);
[[nodiscard]] int sph_db_add_elset(Model& m, std::string_view name, int member_count,
                                   const int* members);
// Appends an empty generated set record (capacity as for listed sets) whose
// ranges sph_db_add_set_range fills.
[[nodiscard]] int sph_db_add_generated_nset(Model& m, std::string_view name);
[[nodiscard]] int sph_db_add_generated_elset(Model& m, std::string_view name);
// Appends a well-formed range (first <= last, increment > 0, member count
// within int) to generated set record `set` (1-based) of its kind.
[[nodiscard]] int sph_db_add_set_range(Model& m, bool node_set, int set, const SetRange& range);
[[nodiscard]] int sph_db_add_element(Model& m, int ext_id, std::string_view etype, int conn_count,
                                     const int* conn_values);
[[nodiscard]] int sph_db_set_tamrix_options(Model& m, int worker_enabled,
                                            std::string_view region_name, int export_radius,
                                            int export_sound_speed, int accept_contact_state,
                                            int accept_boundary_state);
[[nodiscard]] int sph_db_add_coupling_region(
    Model& m, std::string_view name, std::string_view set_name, int region_type, int export_mode,
    int import_mode, int load_mode, int distribution_mode, int contact_state_mode, bool enabled,
    std::string_view surface_name, int phase_filter, std::string_view material_filter_name,
    std::string_view section_filter_name);

// Set traversal. Members are visited in set order (a generated range in
// ascending id order); `visit` returns false to stop early, and the traversal
// returns false when it was stopped.
bool sph_db_for_each_set_member(const SetRecord& set, const auto& visit) {
    if (!set.generated) {
        for (int k = 0; k < set.member_count; ++k) {
            if (!visit(set.members[static_cast<std::size_t>(k)])) return false;
        }
        return true;
    }
    for (const SetRange& r : set.ranges) {
        if (sph_db_set_range_size(r) == 0) continue;
        for (int64_t id = r.first; id <= r.last; id += r.increment) {
            if (!visit(static_cast<int>(id))) return false;
        }
    }
    return true;
}
// The sorted (external id, position) indexes behind sph_db_find_node and
// sph_db_find_element, built when missing.
const std::vector<std::pair<int, int>>& sph_db_node_index(DbState& db);
const std::vector<std::pair<int, int>>& sph_db_element_index(DbState& db);

// Visits the position of every id of `set` found in `index` (the lowest
// position among equal ids), in member order. Generated ranges walk the sorted
// index instead of every id of the range: the same positions in the same
// order, but a range far wider than the model costs only the ids inside it.
bool sph_db_for_each_indexed_member(const std::vector<std::pair<int, int>>& index,
                                    const SetRecord& set, const auto& visit) {
    const auto find = [&](int id) {
        const auto it = std::lower_bound(index.begin(), index.end(), std::pair<int, int>{id, -1});
        return it != index.end() && it->first == id ? it->second : -1;
    };
    if (!set.generated) {
        return sph_db_for_each_set_member(set, [&](int id) {
            const int pos = find(id);
            return pos < 0 || visit(pos);
        });
    }
    for (const SetRange& r : set.ranges) {
        if (sph_db_set_range_size(r) == 0) continue;
        auto it = std::lower_bound(index.begin(), index.end(), std::pair<int, int>{r.first, -1});
        int previous_id = 0;
        bool have_previous = false;
        for (; it != index.end() && it->first <= r.last; ++it) {
            const int id = it->first;
            if (have_previous && id == previous_id) continue;  // later positions of one id
            have_previous = true;
            previous_id = id;
            if ((static_cast<int64_t>(id) - r.first) % r.increment != 0) continue;
            if (!visit(it->second)) return false;
        }
    }
    return true;
}

// The particle (0-based) of every member node that exists, in member order.
bool sph_db_for_each_nset_particle(DbState& db, const SetRecord& set, const auto& visit) {
    return sph_db_for_each_indexed_member(sph_db_node_index(db), set, visit);
}

// The element (0-based) of every member element that exists, in member order.
bool sph_db_for_each_elset_element(DbState& db, const SetRecord& set, const auto& visit) {
    return sph_db_for_each_indexed_member(sph_db_element_index(db), set, visit);
}

// Membership by particle index, built once so that repeated tests cost O(1):
// 1 for every particle a node set reaches (element set: the nodes of its
// elements), 0 elsewhere; npart entries.
[[nodiscard]] int sph_db_nset_particle_mask(Model& m, int nset, std::vector<unsigned char>& mask);
[[nodiscard]] int sph_db_elset_particle_mask(Model& m, int elset, std::vector<unsigned char>& mask);

// Model build.
[[nodiscard]] int sph_db_apply_sections_to_particles(Model& m);
void sph_db_assign_particle_section(DbState& db, int node_index, int sec);
int sph_db_phase_from_material(const DbState& db, int mat_index);
[[nodiscard]] int sph_db_build_coupling_regions(Model& m);
bool sph_db_coupling_accepts_particle(const DbState& db, int region, int node_index);
[[nodiscard]] int sph_db_add_coupling_particle(Model& m, int region, int node_index, int& count);

// Queries.
int sph_db_get_particle_count(const DbState& db);
// Particle count and the number of vector components (3).
void sph_db_get_particle_state_capacity(const DbState& db, int& count, int& ndim);
// Copies the 13 per-particle quantities in the host layout (see velunor.h);
// `count` is set to npart first.
[[nodiscard]] int sph_db_get_particle_state(Model& m, int max_particles, int* particle_id_ext_out,
                                            int* phase_out, int* status_out, int* material_id_out,
                                            int* section_id_out, double* x_out, double* v_out,
                                            double* a_out, double* rho_out, double* pressure_out,
                                            double* internal_energy_out, double* temperature_out,
                                            double* h_out, int& count);
