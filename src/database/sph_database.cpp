#include "database/sph_database.hpp"

#include <algorithm>
#include <climits>
#include <cmath>
#include <iterator>
#include <new>
#include <stdexcept>

#include "core/sph_model.hpp"
#include "core/sph_text.hpp"

namespace {

// Gives the memory back (clear() alone keeps the capacity).
template <class T, class Alloc>
void release(std::vector<T, Alloc>& values) {
    std::vector<T, Alloc>().swap(values);
}

void invalidate_node_lookup(DbState& db) {
    db.node_lookup_valid = false;
    release(db.node_lookup);
}

void invalidate_element_lookup(DbState& db) {
    db.element_lookup_valid = false;
    release(db.element_lookup);
}

// Deck names are held as 64-character fields; a query is cut the same way so
// that a name longer than the field still finds the record it created.
std::string name_field(std::string_view name) {
    return sph_text_field(name, sph_name_len);
}

template <class Record, class NameOf>
int find_by_name(const std::vector<Record>& records, std::string_view name, NameOf name_of) {
    const std::string wanted = name_field(name);
    for (std::size_t k = 0; k < records.size(); ++k) {
        if (sph_text_name_equal(name_of(records[k]), wanted)) return static_cast<int>(k) + 1;
    }
    return 0;
}

bool is_all_set(std::string_view set_name) {
    return sph_text_name_equal(set_name, "ALL");
}

// Sorted (external id, position) pairs: ids are not unique, and sorting the
// pairs puts the lowest position first among equal ids, so lower_bound finds
// the first match exactly as a scan from the front would.
void build_lookup(std::vector<std::pair<int, int>>& lookup, std::size_t n, auto id_of) {
    lookup.resize(n);
    for (std::size_t k = 0; k < n; ++k) lookup[k] = {id_of(k), static_cast<int>(k)};
    std::sort(lookup.begin(), lookup.end());
}

int search_lookup(const std::vector<std::pair<int, int>>& lookup, int ext_id) {
    const auto it = std::lower_bound(lookup.begin(), lookup.end(), std::pair<int, int>{ext_id, -1});
    if (it == lookup.end() || it->first != ext_id) return -1;
    return it->second;
}

SetRecord make_set(std::string_view name, int member_count, const int* members) {
    int n = std::clamp(member_count, 0, sph_max_set_members);
    if (members == nullptr) n = 0;
    SetRecord set;
    set.name = name_field(name);
    set.member_count = n;
    set.members.assign(members, members + n);
    set.first_member = n > 0 ? members[0] : 0;
    return set;
}

// Sets one particle's section, material and phase, with the phase already
// derived from the section's material (the type text is upper-cased once per
// section, not once per particle).
void assign_section(DbState& db, int node_index, int sec, int mat, int phase) {
    const std::size_t k = static_cast<std::size_t>(node_index);
    db.section_id[k] = sec;
    db.material_id[k] = mat;
    db.particle_phase[k] = phase;
}

}  // namespace

// ---------------------------------------------------------------------------
// Storage

void sph_db_clear_water_diagnostics(DbState& db) {
    db.water = WaterDiagnostics{};
}

// The previous radius and centre carry the bubble history across clears; the
// gas module's reset forgets them.
void sph_db_clear_gas_diagnostics(DbState& db) {
    const double previous_radius = db.gas.gas_previous_equivalent_radius;
    const Vec3 previous_center = db.gas.gas_previous_center;
    db.gas = GasDiagnostics{};
    db.gas.gas_previous_equivalent_radius = previous_radius;
    db.gas.gas_previous_center = previous_center;
}

void sph_db_clear_solid_diagnostics(DbState& db) {
    db.solid = SolidDiagnostics{};
}

void sph_db_clear_metadata(DbState& db) {
    release(db.materials);
    release(db.sections);
    release(db.nsets);
    release(db.elsets);
    release(db.elements);
    release(db.coupling_regions);
    db.coupling_region_disabled_count = 0;
    db.tamrix = TamrixOptions{};
    release(db.initial_velocities);
    release(db.initial_velocity_set_names);
    invalidate_element_lookup(db);
}

void sph_db_move_deck_records(DbState& from, DbState& to) {
    to.materials = std::move(from.materials);
    to.sections = std::move(from.sections);
    to.nsets = std::move(from.nsets);
    to.elsets = std::move(from.elsets);
    to.elements = std::move(from.elements);
    to.tamrix = std::move(from.tamrix);
    to.initial_velocities = std::move(from.initial_velocities);
    to.initial_velocity_set_names = std::move(from.initial_velocity_set_names);
    // The node index follows the particle ids, which may have changed.
    invalidate_node_lookup(to);
    invalidate_element_lookup(to);
    from.materials.clear();
    from.sections.clear();
    from.nsets.clear();
    from.elsets.clear();
    from.elements.clear();
    from.tamrix = TamrixOptions{};
    from.initial_velocities.clear();
    from.initial_velocity_set_names.clear();
    invalidate_element_lookup(from);
}

void sph_db_free(DbState& db) {
    release(db.particle_id_ext);
    release(db.particle_phase);
    release(db.particle_status);
    release(db.material_id);
    release(db.section_id);
    release(db.x0);
    release(db.x);
    release(db.v);
    release(db.a);
    release(db.vhalf);
    release(db.mass);
    release(db.rho);
    release(db.volume);
    release(db.pressure);
    release(db.internal_energy);
    release(db.temperature);
    release(db.h);
    release(db.drho_dt);
    release(db.acc_pressure);
    release(db.acc_viscosity);
    release(db.acc_body);
    release(db.particle_cell_id);
    release(db.cell_next);
    release(db.neighbor_count);
    release(db.neighbor_offset);
    release(db.cell_head);
    release(db.neighbor_list);
    db.npart = 0;
    invalidate_node_lookup(db);
    sph_db_clear_metadata(db);
    sph_db_clear_water_diagnostics(db);
    sph_db_clear_gas_diagnostics(db);
    sph_db_clear_solid_diagnostics(db);
}

// True when every per-particle array holds npart entries.
static bool particle_arrays_sized(const DbState& db) {
    const std::size_t n = static_cast<std::size_t>(db.npart);
    const std::size_t sizes[] = {db.particle_id_ext.size(),
                                 db.particle_phase.size(),
                                 db.particle_status.size(),
                                 db.material_id.size(),
                                 db.section_id.size(),
                                 db.x0.size(),
                                 db.x.size(),
                                 db.v.size(),
                                 db.a.size(),
                                 db.vhalf.size(),
                                 db.mass.size(),
                                 db.rho.size(),
                                 db.volume.size(),
                                 db.pressure.size(),
                                 db.internal_energy.size(),
                                 db.temperature.size(),
                                 db.h.size(),
                                 db.drho_dt.size(),
                                 db.acc_pressure.size(),
                                 db.acc_viscosity.size(),
                                 db.acc_body.size(),
                                 db.particle_cell_id.size(),
                                 db.cell_next.size(),
                                 db.neighbor_count.size(),
                                 db.neighbor_offset.size()};
    return db.npart >= 0 && std::all_of(std::begin(sizes), std::end(sizes),
                                        [n](std::size_t size) { return size == n; });
}

void sph_db_initialize_defaults(DbState& db) {
    // Arrays that do not match the count (never the case after sph_db_allocate)
    // are left alone rather than written out of bounds.
    const std::size_t n = particle_arrays_sized(db) ? static_cast<std::size_t>(db.npart) : 0;
    for (std::size_t i = 0; i < n; ++i) db.particle_id_ext[i] = static_cast<int>(i) + 1;
    std::fill_n(db.particle_phase.begin(), n, sph_phase_solid);
    std::fill_n(db.particle_status.begin(), n, sph_status_active);
    std::fill_n(db.material_id.begin(), n, 1);
    std::fill_n(db.section_id.begin(), n, 0);
    std::fill_n(db.x0.begin(), n, Vec3{});
    std::fill_n(db.x.begin(), n, Vec3{});
    std::fill_n(db.v.begin(), n, Vec3{});
    std::fill_n(db.a.begin(), n, Vec3{});
    std::fill_n(db.vhalf.begin(), n, Vec3{});
    std::fill_n(db.mass.begin(), n, 1.0);
    std::fill_n(db.rho.begin(), n, 1000.0);
    std::fill_n(db.volume.begin(), n, 1.0);
    std::fill_n(db.pressure.begin(), n, 0.0);
    std::fill_n(db.internal_energy.begin(), n, 0.0);
    std::fill_n(db.temperature.begin(), n, 293.15);
    std::fill_n(db.h.begin(), n, 1.0);
    std::fill_n(db.drho_dt.begin(), n, 0.0);
    std::fill_n(db.acc_pressure.begin(), n, Vec3{});
    std::fill_n(db.acc_viscosity.begin(), n, Vec3{});
    std::fill_n(db.acc_body.begin(), n, Vec3{});
    std::fill_n(db.particle_cell_id.begin(), n, 0);
    std::fill_n(db.cell_next.begin(), n, 0);
    std::fill_n(db.neighbor_count.begin(), n, 0);
    std::fill_n(db.neighbor_offset.begin(), n, 0);
    invalidate_node_lookup(db);
    sph_db_clear_water_diagnostics(db);
    sph_db_clear_gas_diagnostics(db);
    sph_db_clear_solid_diagnostics(db);
}

int sph_db_allocate(Model& m, int count) {
    DbState& db = m.db;
    if (count < 0) {
        return sph_error_set(m.error, sph_error_argument, "particle count must be non-negative");
    }
    sph_db_free(db);
    db.npart = count;
    if (count == 0) return sph_success;
    const std::size_t n = static_cast<std::size_t>(count);
    try {
        db.particle_id_ext.resize(n);
        db.particle_phase.resize(n);
        db.particle_status.resize(n);
        db.material_id.resize(n);
        db.section_id.resize(n);
        db.x0.resize(n);
        db.x.resize(n);
        db.v.resize(n);
        db.a.resize(n);
        db.vhalf.resize(n);
        db.mass.resize(n);
        db.rho.resize(n);
        db.volume.resize(n);
        db.pressure.resize(n);
        db.internal_energy.resize(n);
        db.temperature.resize(n);
        db.h.resize(n);
        db.drho_dt.resize(n);
        db.acc_pressure.resize(n);
        db.acc_viscosity.resize(n);
        db.acc_body.resize(n);
        db.particle_cell_id.resize(n);
        db.cell_next.resize(n);
        db.neighbor_count.resize(n);
        db.neighbor_offset.resize(n);
    } catch (const std::bad_alloc&) {
        sph_db_free(db);
        return sph_error_set(m.error, sph_error_database, "failed to allocate particle database");
    } catch (const std::length_error&) {
        sph_db_free(db);
        return sph_error_set(m.error, sph_error_database, "failed to allocate particle database");
    }
    sph_db_initialize_defaults(db);
    return sph_success;
}

int sph_db_allocate_neighbor_storage(Model& m, int64_t max_links, int64_t num_cells) {
    DbState& db = m.db;
    if (max_links < 0 || num_cells < 0) {
        return sph_error_set(m.error, sph_error_argument,
                             "neighbor storage sizes must be non-negative");
    }
    release(db.neighbor_list);
    release(db.cell_head);
    try {
        db.neighbor_list.assign(static_cast<std::size_t>(max_links), 0);  // zero-filled
        db.cell_head.resize(static_cast<std::size_t>(num_cells));
    } catch (const std::bad_alloc&) {
        release(db.neighbor_list);
        release(db.cell_head);
        return sph_error_set(m.error, sph_error_database, "failed to allocate neighbor storage");
    } catch (const std::length_error&) {
        release(db.neighbor_list);
        release(db.cell_head);
        return sph_error_set(m.error, sph_error_database, "failed to allocate neighbor storage");
    }
    return sph_success;
}

// ---------------------------------------------------------------------------
// Queries

int sph_db_get_particle_count(const DbState& db) {
    return db.npart;
}

int sph_db_get_particle_state(Model& m, int max_particles, int* particle_id_ext_out, int* phase_out,
                              int* status_out, int* material_id_out, int* section_id_out,
                              double* x_out, double* v_out, double* a_out, double* rho_out,
                              double* pressure_out, double* internal_energy_out,
                              double* temperature_out, double* h_out, int& count) {
    const DbState& db = m.db;
    count = db.npart;
    if (max_particles < db.npart) {
        return sph_error_set(m.error, sph_error_argument, "particle state buffer is too small");
    }
    for (int i = 0; i < db.npart; ++i) {
        const std::size_t k = static_cast<std::size_t>(i);
        particle_id_ext_out[k] = db.particle_id_ext[k];
        phase_out[k] = db.particle_phase[k];
        status_out[k] = db.particle_status[k];
        material_id_out[k] = db.material_id[k];
        section_id_out[k] = db.section_id[k];
        for (int c = 0; c < 3; ++c) {
            x_out[3 * k + c] = db.x[k][c];
            v_out[3 * k + c] = db.v[k][c];
            a_out[3 * k + c] = db.a[k][c];
        }
        rho_out[k] = db.rho[k];
        pressure_out[k] = db.pressure[k];
        internal_energy_out[k] = db.internal_energy[k];
        temperature_out[k] = db.temperature[k];
        h_out[k] = db.h[k];
    }
    return sph_success;
}

void sph_db_get_particle_state_capacity(const DbState& db, int& count, int& ndim) {
    count = db.npart;
    ndim = 3;
}

// ---------------------------------------------------------------------------
// Lookups

int sph_db_find_material(const DbState& db, std::string_view name) {
    return find_by_name(db.materials, name, [](const MaterialRecord& r) -> const std::string& {
        return r.material_name;
    });
}

int sph_db_find_section(const DbState& db, std::string_view name) {
    return find_by_name(db.sections, name, [](const SectionRecord& r) -> const std::string& {
        return r.section_name;
    });
}

int sph_db_find_nset(const DbState& db, std::string_view name) {
    return find_by_name(db.nsets, name,
                        [](const SetRecord& r) -> const std::string& { return r.name; });
}

int sph_db_find_elset(const DbState& db, std::string_view name) {
    return find_by_name(db.elsets, name,
                        [](const SetRecord& r) -> const std::string& { return r.name; });
}

static int find_coupling_region(const DbState& db, std::string_view name) {
    return find_by_name(
        db.coupling_regions, name,
        [](const CouplingRegionRecord& r) -> const std::string& { return r.coupling_region_name; });
}

void sph_db_invalidate_lookups(DbState& db) {
    invalidate_node_lookup(db);
    invalidate_element_lookup(db);
}

const std::vector<std::pair<int, int>>& sph_db_node_index(DbState& db) {
    std::size_t n = static_cast<std::size_t>(db.npart);
    if (db.particle_id_ext.size() != n) n = 0;
    if (!db.node_lookup_valid || db.node_lookup.size() != n) {
        build_lookup(db.node_lookup, n, [&](std::size_t k) { return db.particle_id_ext[k]; });
        db.node_lookup_valid = true;
    }
    return db.node_lookup;
}

const std::vector<std::pair<int, int>>& sph_db_element_index(DbState& db) {
    const std::size_t n = db.elements.size();
    if (!db.element_lookup_valid || db.element_lookup.size() != n) {
        build_lookup(db.element_lookup, n,
                     [&](std::size_t k) { return db.elements[k].element_id_ext; });
        db.element_lookup_valid = true;
    }
    return db.element_lookup;
}

int sph_db_find_node(DbState& db, int ext_id) {
    const std::size_t n = static_cast<std::size_t>(db.npart);
    if (n == 0 || db.particle_id_ext.size() != n) return -1;
    int index = search_lookup(sph_db_node_index(db), ext_id);
    // A hit that no longer matches means the ids were written behind the
    // index's back: rebuild once and search again.
    if (index >= 0 && db.particle_id_ext[static_cast<std::size_t>(index)] != ext_id) {
        build_lookup(db.node_lookup, n, [&](std::size_t k) { return db.particle_id_ext[k]; });
        index = search_lookup(db.node_lookup, ext_id);
    }
    return index;
}

int sph_db_find_element(DbState& db, int ext_id) {
    return search_lookup(sph_db_element_index(db), ext_id);
}

// ---------------------------------------------------------------------------
// Records from the deck

int sph_db_set_node(Model& m, int index, int ext_id, const Vec3& coords) {
    DbState& db = m.db;
    if (index < 0 || index >= db.npart) {
        return sph_error_set(m.error, sph_error_argument, "particle index is out of range");
    }
    const std::size_t k = static_cast<std::size_t>(index);
    if (db.particle_id_ext[k] != ext_id) {
        db.particle_id_ext[k] = ext_id;
        db.node_lookup_valid = false;
    }
    db.x0[k] = coords;
    db.x[k] = coords;
    return sph_success;
}

int sph_db_add_material(Model& m, std::string_view name, std::string_view mtype) {
    DbState& db = m.db;
    if (static_cast<int>(db.materials.size()) >= sph_max_materials) {
        return sph_error_set(m.error, sph_error_database, "too many material records");
    }
    MaterialRecord record;
    record.material_name = name_field(name);
    record.material_type = name_field(mtype);
    record.material_internal_id = static_cast<int>(db.materials.size()) + 1;
    record.material_density = 0.0;
    db.materials.push_back(std::move(record));
    return sph_success;
}

int sph_db_set_material_density(Model& m, std::string_view name, double density_value) {
    DbState& db = m.db;
    if (!std::isfinite(density_value)) {
        return sph_error_set(m.error, sph_error_argument, "material density must be finite");
    }
    if (density_value <= 0.0) {
        return sph_error_set(m.error, sph_error_argument, "material density must be positive");
    }
    const int mat = sph_db_find_material(db, name);
    if (mat == 0) {
        return sph_error_set(m.error, sph_error_database, "density references unknown material");
    }
    db.materials[static_cast<std::size_t>(mat - 1)].material_density = density_value;
    return sph_success;
}

int sph_db_add_section(Model& m, std::string_view name, std::string_view stype,
                       std::string_view mat_name, double thickness, int points,
                       double shear_correction, std::string_view orientation_name) {
    DbState& db = m.db;
    if (static_cast<int>(db.sections.size()) >= sph_max_sections) {
        return sph_error_set(m.error, sph_error_database, "too many section records");
    }
    const int mat = sph_db_find_material(db, mat_name);
    if (mat == 0) {
        return sph_error_set(m.error, sph_error_database, "section references unknown material");
    }
    if (sph_db_find_elset(db, name) == 0 && sph_db_find_nset(db, name) == 0) {
        return sph_error_set(m.error, sph_error_database, "section references unknown set");
    }
    SectionRecord record;
    record.section_name = name_field(name);
    record.section_type = name_field(stype);
    record.section_material_name = name_field(mat_name);
    record.section_orientation_name = name_field(orientation_name);
    record.section_material_id = mat;
    record.section_thickness = thickness;
    record.section_integration_points = points;
    record.section_shear_correction = shear_correction;
    db.sections.push_back(std::move(record));
    return sph_success;
}

int sph_db_add_nset(Model& m, std::string_view name, int member_count, const int* members) {
    DbState& db = m.db;
    if (static_cast<int>(db.nsets.size()) >= sph_max_sets) {
        return sph_error_set(m.error, sph_error_database, "too many node set records");
    }
    db.nsets.push_back(make_set(name, member_count, members));
    return sph_success;
}

int sph_db_add_elset(Model& m, std::string_view name, int member_count, const int* members) {
    DbState& db = m.db;
    if (static_cast<int>(db.elsets.size()) >= sph_max_sets) {
        return sph_error_set(m.error, sph_error_database, "too many element set records");
    }
    db.elsets.push_back(make_set(name, member_count, members));
    return sph_success;
}

int64_t sph_db_set_range_size(const SetRange& range) {
    if (range.increment <= 0 || range.last < range.first) return 0;
    return (static_cast<int64_t>(range.last) - range.first) / range.increment + 1;
}

static int add_generated_set(Model& m, std::vector<SetRecord>& sets, std::string_view name,
                             const char* full_message) {
    if (static_cast<int>(sets.size()) >= sph_max_sets) {
        return sph_error_set(m.error, sph_error_database, full_message);
    }
    SetRecord set;
    set.name = name_field(name);
    set.generated = true;
    sets.push_back(std::move(set));
    return sph_success;
}

int sph_db_add_generated_nset(Model& m, std::string_view name) {
    return add_generated_set(m, m.db.nsets, name, "too many node set records");
}

int sph_db_add_generated_elset(Model& m, std::string_view name) {
    return add_generated_set(m, m.db.elsets, name, "too many element set records");
}

int sph_db_add_set_range(Model& m, bool node_set, int set, const SetRange& range) {
    std::vector<SetRecord>& sets = node_set ? m.db.nsets : m.db.elsets;
    if (set < 1 || set > static_cast<int>(sets.size()) ||
        !sets[static_cast<std::size_t>(set - 1)].generated) {
        return sph_error_set(m.error, sph_error_argument, "set record is not a generated set");
    }
    SetRecord& record = sets[static_cast<std::size_t>(set - 1)];
    const int64_t size = sph_db_set_range_size(range);
    if (size == 0) {
        return sph_error_set(m.error, sph_error_argument, "generated set range is invalid");
    }
    if (size > INT_MAX - static_cast<int64_t>(record.member_count)) {
        return sph_error_set(m.error, sph_error_database, "generated set has too many members");
    }
    record.ranges.push_back(range);
    if (record.member_count == 0) record.first_member = range.first;
    record.member_count += static_cast<int>(size);
    return sph_success;
}

int sph_db_add_element(Model& m, int ext_id, std::string_view etype, int conn_count,
                       const int* conn_values) {
    DbState& db = m.db;
    if (static_cast<int>(db.elements.size()) >= sph_max_elements) {
        return sph_error_set(m.error, sph_error_database, "too many element records");
    }
    ElementRecord record;
    record.element_id_ext = ext_id;
    record.element_type = name_field(etype);
    record.element_conn_count =
        conn_values == nullptr ? 0 : std::clamp(conn_count, 0, sph_max_element_nodes);
    for (int k = 0; k < record.element_conn_count; ++k) record.element_conn[k] = conn_values[k];
    db.elements.push_back(std::move(record));
    db.element_lookup_valid = false;
    return sph_success;
}

int sph_db_set_tamrix_options(Model& m, int worker_enabled, std::string_view region_name,
                              int export_radius, int export_sound_speed, int accept_contact_state,
                              int accept_boundary_state) {
    const auto is_flag = [](int value) { return value == 0 || value == 1; };
    if (!is_flag(worker_enabled) || !is_flag(export_radius) || !is_flag(export_sound_speed) ||
        !is_flag(accept_contact_state) || !is_flag(accept_boundary_state)) {
        return sph_error_set(m.error, sph_error_database, "invalid Tamrix option flag");
    }
    TamrixOptions& t = m.db.tamrix;
    t.tamrix_worker_enabled = worker_enabled;
    t.tamrix_region_name = name_field(sph_text_trim_leading(region_name));
    if (t.tamrix_region_name.empty()) t.tamrix_region_name = "ALL";
    t.tamrix_export_radius = export_radius;
    t.tamrix_export_sound_speed = export_sound_speed;
    t.tamrix_accept_contact_state = accept_contact_state;
    t.tamrix_accept_boundary_state = accept_boundary_state;
    return sph_success;
}

// Writes every field of the region record at 1-based index `region`.
static void sph_db_store_coupling_region(DbState& db, int region, std::string_view name,
                                         std::string_view set_name, int region_type,
                                         int export_mode, int import_mode, int load_mode,
                                         int distribution_mode, int contact_state_mode,
                                         bool enabled, std::string_view surface_name,
                                         int phase_filter, std::string_view material_filter_name,
                                         std::string_view section_filter_name, int mat_index,
                                         int sec_index) {
    CouplingRegionRecord& r = db.coupling_regions[static_cast<std::size_t>(region - 1)];
    r.coupling_region_name = name_field(name);
    r.coupling_region_set_name = name_field(set_name);
    r.coupling_region_surface_name = name_field(surface_name);
    r.coupling_region_material_name = name_field(material_filter_name);
    r.coupling_region_section_name = name_field(section_filter_name);
    r.coupling_region_type = region_type;
    r.coupling_region_export_mode = export_mode;
    r.coupling_region_import_mode = import_mode;
    r.coupling_region_load_mode = load_mode;
    r.coupling_region_distribution_mode = distribution_mode;
    r.coupling_region_contact_state_mode = contact_state_mode;
    r.coupling_region_enabled = enabled ? 1 : 0;
    r.coupling_region_phase_filter = phase_filter;
    r.coupling_region_material_filter = mat_index;
    r.coupling_region_section_filter = sec_index;
    r.coupling_region_internal_id = region;
    r.coupling_region_particle_count = 0;
    r.coupling_region_particles.clear();
}

int sph_db_add_coupling_region(Model& m, std::string_view name, std::string_view set_name,
                               int region_type, int export_mode, int import_mode, int load_mode,
                               int distribution_mode, int contact_state_mode, bool enabled,
                               std::string_view surface_name, int phase_filter,
                               std::string_view material_filter_name,
                               std::string_view section_filter_name) {
    DbState& db = m.db;
    const auto fail = [&](const char* message) {
        return sph_error_set(m.error, sph_error_database, message);
    };
    if (sph_text_is_blank(name)) return fail("coupling region name is empty");
    if (find_coupling_region(db, name) != 0) return fail("duplicate coupling region name");
    if (sph_text_is_blank(set_name)) return fail("coupling region set is missing");
    if (sph_db_find_nset(db, set_name) == 0 && sph_db_find_elset(db, set_name) == 0 &&
        !is_all_set(set_name)) {
        return fail("coupling region references unknown set");
    }
    if (region_type < 1 || region_type > 2) return fail("invalid coupling region type");
    if (export_mode < 1 || export_mode > 3) return fail("invalid coupling export mode");
    if (import_mode < 1 || import_mode > 3) return fail("invalid coupling import mode");
    if (load_mode < 1 || load_mode > 4) return fail("invalid coupling load mode");
    if (distribution_mode < 1 || distribution_mode > 3) {
        return fail("invalid coupling distribution mode");
    }
    if (contact_state_mode < 0 || contact_state_mode > 1) {
        return fail("invalid coupling contact state mode");
    }
    if (load_mode >= sph_coupling_load_facet_force && export_mode == sph_coupling_export_particle &&
        enabled) {
        return fail("facet coupling load requires facet export");
    }
    if (phase_filter < 0 || phase_filter > 9) return fail("invalid coupling phase filter");
    int mat_index = 0;
    if (!sph_text_is_blank(material_filter_name)) {
        mat_index = sph_db_find_material(db, material_filter_name);
        if (mat_index == 0) return fail("coupling region references unknown material");
    }
    int sec_index = 0;
    if (!sph_text_is_blank(section_filter_name)) {
        sec_index = sph_db_find_section(db, section_filter_name);
        if (sec_index == 0) return fail("coupling region references unknown section");
    }
    if (static_cast<int>(db.coupling_regions.size()) >= sph_max_regions) {
        return fail("too many coupling region records");
    }
    db.coupling_regions.emplace_back();
    sph_db_store_coupling_region(
        db, static_cast<int>(db.coupling_regions.size()), name, set_name, region_type, export_mode,
        import_mode, load_mode, distribution_mode, contact_state_mode, enabled, surface_name,
        phase_filter, material_filter_name, section_filter_name, mat_index, sec_index);
    return sph_success;
}

// ---------------------------------------------------------------------------
// Model build

int sph_db_phase_from_material(const DbState& db, int mat_index) {
    if (mat_index < 1 || mat_index > static_cast<int>(db.materials.size())) {
        return sph_phase_solid;
    }
    const std::string type =
        sph_text_upper(db.materials[static_cast<std::size_t>(mat_index - 1)].material_type);
    // The first word found decides, so "GAS EXPLOSIVE" is gas.
    if (type.find("WATER") != std::string::npos) return sph_phase_water;
    if (type.find("GAS") != std::string::npos) return sph_phase_gas;
    if (type.find("EXPLOSIVE") != std::string::npos) return sph_phase_explosive;
    if (type.find("SHELL") != std::string::npos) return sph_phase_shell;
    if (type.find("BOUNDARY") != std::string::npos) return sph_phase_boundary;
    return sph_phase_solid;
}

void sph_db_assign_particle_section(DbState& db, int node_index, int sec) {
    if (node_index < 0 || node_index >= db.npart) return;
    if (sec < 1 || sec > static_cast<int>(db.sections.size())) return;
    const int mat = db.sections[static_cast<std::size_t>(sec - 1)].section_material_id;
    if (mat < 1 || mat > static_cast<int>(db.materials.size())) return;
    assign_section(db, node_index, sec, mat, sph_db_phase_from_material(db, mat));
}

int sph_db_apply_sections_to_particles(Model& m) {
    DbState& db = m.db;
    const int section_count = static_cast<int>(db.sections.size());
    for (int sec = 1; sec <= section_count; ++sec) {
        const SectionRecord& section = db.sections[static_cast<std::size_t>(sec - 1)];
        const int mat = section.section_material_id;
        if (mat < 1 || mat > static_cast<int>(db.materials.size())) continue;
        const int phase = sph_db_phase_from_material(db, mat);
        const auto assign_node = [&](int node_ext) {
            const int p = sph_db_find_node(db, node_ext);
            if (p >= 0) assign_section(db, p, sec, mat, phase);
        };
        // An element set of the section's name wins over a node set of that name.
        if (const int es = sph_db_find_elset(db, section.section_name); es > 0) {
            sph_db_for_each_elset_element(
                db, db.elsets[static_cast<std::size_t>(es - 1)], [&](int e) {
                    const ElementRecord& element = db.elements[static_cast<std::size_t>(e)];
                    for (int c = 0; c < element.element_conn_count; ++c) {
                        assign_node(element.element_conn[c]);
                    }
                    return true;
                });
        } else if (const int ns = sph_db_find_nset(db, section.section_name); ns > 0) {
            sph_db_for_each_nset_particle(db, db.nsets[static_cast<std::size_t>(ns - 1)],
                                          [&](int p) {
                                              assign_section(db, p, sec, mat, phase);
                                              return true;
                                          });
        }
    }
    return sph_success;
}

// Marks the particles of `set` (node set) or of the elements of `set`.
static int particle_mask(Model& m, const SetRecord* set, bool node_set,
                         std::vector<unsigned char>& mask) {
    DbState& db = m.db;
    try {
        mask.assign(static_cast<std::size_t>(db.npart), 0);
    } catch (const std::exception&) {
        release(mask);
        return sph_error_set(m.error, sph_error_database, "failed to allocate set membership");
    }
    if (set == nullptr) return sph_success;
    if (node_set) {
        sph_db_for_each_nset_particle(db, *set, [&](int p) {
            mask[static_cast<std::size_t>(p)] = 1;
            return true;
        });
        return sph_success;
    }
    sph_db_for_each_elset_element(db, *set, [&](int e) {
        const ElementRecord& element = db.elements[static_cast<std::size_t>(e)];
        for (int c = 0; c < element.element_conn_count; ++c) {
            const int p = sph_db_find_node(db, element.element_conn[c]);
            if (p >= 0) mask[static_cast<std::size_t>(p)] = 1;
        }
        return true;
    });
    return sph_success;
}

int sph_db_nset_particle_mask(Model& m, int nset, std::vector<unsigned char>& mask) {
    const bool held = nset >= 1 && nset <= static_cast<int>(m.db.nsets.size());
    return particle_mask(m, held ? &m.db.nsets[static_cast<std::size_t>(nset - 1)] : nullptr, true,
                         mask);
}

int sph_db_elset_particle_mask(Model& m, int elset, std::vector<unsigned char>& mask) {
    const bool held = elset >= 1 && elset <= static_cast<int>(m.db.elsets.size());
    return particle_mask(m, held ? &m.db.elsets[static_cast<std::size_t>(elset - 1)] : nullptr,
                         false, mask);
}

bool sph_db_coupling_accepts_particle(const DbState& db, int region, int node_index) {
    if (region < 1 || region > static_cast<int>(db.coupling_regions.size())) return false;
    if (node_index < 0 || node_index >= db.npart) return false;
    const std::size_t k = static_cast<std::size_t>(node_index);
    if (db.particle_status[k] != sph_status_active) return false;
    const CouplingRegionRecord& r = db.coupling_regions[static_cast<std::size_t>(region - 1)];
    if (r.coupling_region_phase_filter > 0 &&
        db.particle_phase[k] != r.coupling_region_phase_filter) {
        return false;
    }
    if (r.coupling_region_material_filter > 0 &&
        db.material_id[k] != r.coupling_region_material_filter) {
        return false;
    }
    if (r.coupling_region_section_filter > 0 &&
        db.section_id[k] != r.coupling_region_section_filter) {
        return false;
    }
    return true;
}

int sph_db_add_coupling_particle(Model& m, int region, int node_index, int& count) {
    DbState& db = m.db;
    if (!sph_db_coupling_accepts_particle(db, region, node_index)) return sph_success;
    std::vector<int>& list =
        db.coupling_regions[static_cast<std::size_t>(region - 1)].coupling_region_particles;
    // The list holds exactly the first `count` entries.
    count = std::clamp(count, 0, static_cast<int>(list.size()));
    list.resize(static_cast<std::size_t>(count));
    if (std::find(list.begin(), list.end(), node_index) != list.end()) return sph_success;
    if (count >= sph_max_set_members) {
        return sph_error_set(m.error, sph_error_database, "too many particles in coupling region");
    }
    list.push_back(node_index);
    ++count;
    return sph_success;
}

int sph_db_build_coupling_regions(Model& m) {
    DbState& db = m.db;
    for (CouplingRegionRecord& r : db.coupling_regions) {
        r.coupling_region_particle_count = 0;
        r.coupling_region_particles.clear();
    }
    db.coupling_region_disabled_count = 0;
    const int region_count = static_cast<int>(db.coupling_regions.size());
    for (int region = 1; region <= region_count; ++region) {
        CouplingRegionRecord& r = db.coupling_regions[static_cast<std::size_t>(region - 1)];
        r.coupling_region_internal_id = region;
        if (r.coupling_region_enabled == 0) {
            ++db.coupling_region_disabled_count;
            continue;
        }
        int count = 0;
        int status = sph_success;
        const auto offer_node = [&](int node_ext) {
            const int p = sph_db_find_node(db, node_ext);
            if (p >= 0) status = sph_db_add_coupling_particle(m, region, p, count);
        };
        const std::string& set_name = r.coupling_region_set_name;
        if (is_all_set(set_name)) {
            for (int p = 0; p < db.npart && status == sph_success; ++p) {
                status = sph_db_add_coupling_particle(m, region, p, count);
            }
        } else if (const int ns = sph_db_find_nset(db, set_name); ns > 0) {
            sph_db_for_each_nset_particle(
                db, db.nsets[static_cast<std::size_t>(ns - 1)], [&](int p) {
                    status = sph_db_add_coupling_particle(m, region, p, count);
                    return status == sph_success;
                });
        } else if (const int es = sph_db_find_elset(db, set_name); es > 0) {
            sph_db_for_each_elset_element(
                db, db.elsets[static_cast<std::size_t>(es - 1)], [&](int e) {
                    const ElementRecord& element = db.elements[static_cast<std::size_t>(e)];
                    for (int c = 0; c < element.element_conn_count && status == sph_success; ++c) {
                        offer_node(element.element_conn[c]);
                    }
                    return status == sph_success;
                });
        } else {
            return sph_error_set(m.error, sph_error_database,
                                 "coupling region references unknown set");
        }
        r.coupling_region_particle_count = count;
        if (status != sph_success) return status;
        if (count == 0) {
            return sph_error_set(m.error, sph_error_database,
                                 "active coupling region selected no particles");
        }
    }
    return sph_success;
}
