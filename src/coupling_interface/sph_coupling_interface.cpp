// Coupling interface: life cycle, shared checks, regions and the two exports.
// The imports and step hooks are in sph_coupling_import.cpp.

#include "coupling_interface/sph_coupling_interface.hpp"

#include <algorithm>
#include <cmath>
#include <limits>

#include "core/sph_model.hpp"
#include "core/sph_text.hpp"

namespace {

constexpr double largest_double = std::numeric_limits<double>::max();

int fail(Model& m, const char* message) {
    return sph_error_set(m.error, sph_error_argument, message);
}

bool region_index_valid(const Model& m, int region) {
    return region >= 1 && region <= static_cast<int>(m.db.coupling_regions.size());
}

const CouplingRegionRecord& region_record(const Model& m, int region) {
    return m.db.coupling_regions[static_cast<std::size_t>(region - 1)];
}

// The listed particles (0-based) of a region: the first particle_count entries.
std::size_t listed_count(const CouplingRegionRecord& r) {
    return std::min(static_cast<std::size_t>(std::max(r.coupling_region_particle_count, 0)),
                    r.coupling_region_particles.size());
}

bool is_shell_particle(const DbState& db, int p) {
    return p >= 0 && p < db.npart &&
           db.particle_phase[static_cast<std::size_t>(p)] == sph_phase_shell;
}

int count_listed_shells(const Model& m, int region) {
    const CouplingRegionRecord& r = region_record(m, region);
    int count = 0;
    for (std::size_t k = 0; k < listed_count(r); ++k) {
        if (is_shell_particle(m.db, r.coupling_region_particles[k])) ++count;
    }
    return count;
}

void put_vector(double* out, const Vec3& v) {
    out[0] = v.x;
    out[1] = v.y;
    out[2] = v.z;
}

}  // namespace

// ---------------------------------------------------------------------------
// Life cycle

void sph_coupling_release_imports(CouplingState& s) {
    CouplingState fresh;
    // The work space belongs to no import; it is kept for the next call.
    fresh.member_mark = std::move(s.member_mark);
    fresh.member_stamp = s.member_stamp;
    fresh.member_position = std::move(s.member_position);
    fresh.id_mark = std::move(s.id_mark);
    fresh.id_stamp = s.id_stamp;
    s = std::move(fresh);
}

void sph_coupling_reset(CouplingState& s) {
    s = CouplingState{};
}

void sph_coupling_zero_import_buffers(CouplingState& s) {
    std::fill(s.coupling_external_force.begin(), s.coupling_external_force.end(), Vec3{});
    std::fill(s.coupling_motion_velocity.begin(), s.coupling_motion_velocity.end(), Vec3{});
    std::fill(s.coupling_motion_position.begin(), s.coupling_motion_position.end(), Vec3{});
    std::fill(s.coupling_motion_flag.begin(), s.coupling_motion_flag.end(), 0);
    std::fill(s.coupling_motion_mode.begin(), s.coupling_motion_mode.end(), 0);
    std::fill(s.coupling_contact_flag.begin(), s.coupling_contact_flag.end(), 0);
    std::fill(s.coupling_contact_normal.begin(), s.coupling_contact_normal.end(), Vec3{});
    std::fill(s.coupling_contact_gap.begin(), s.coupling_contact_gap.end(), 0.0);
    std::fill(s.coupling_contact_penetration.begin(), s.coupling_contact_penetration.end(), 0.0);
    std::fill(s.coupling_contact_pressure.begin(), s.coupling_contact_pressure.end(), 0.0);
    s.coupling_imported_force_count = 0;
    s.coupling_active_contact_count = 0;
    s.coupling_max_penetration = 0.0;
}

void sph_coupling_reset_load_balance(CouplingState& s) {
    s.coupling_facet_input_force = Vec3{};
    s.coupling_facet_distributed_force = Vec3{};
    s.coupling_facet_input_moment = Vec3{};
    s.coupling_facet_distributed_moment = Vec3{};
    s.coupling_facet_force_error = 0.0;
    s.coupling_facet_moment_error = 0.0;
    s.coupling_max_pressure = 0.0;
    s.coupling_max_traction = 0.0;
    s.coupling_max_penetration = 0.0;
}

void sph_coupling_reset_step_diagnostics(CouplingState& s) {
    s.coupling_current_force = Vec3{};
    s.coupling_current_moment = Vec3{};
    s.coupling_current_impulse = Vec3{};
    s.coupling_current_work = 0.0;
    s.coupling_max_external_force = 0.0;
    s.coupling_max_acceleration = 0.0;
    s.coupling_max_velocity_error = 0.0;
    s.coupling_max_position_error = 0.0;
}

static bool buffers_held(const CouplingState& s, std::size_t n) {
    return s.coupling_external_force.size() == n && s.coupling_motion_velocity.size() == n &&
           s.coupling_motion_position.size() == n && s.coupling_motion_flag.size() == n &&
           s.coupling_motion_mode.size() == n && s.coupling_contact_flag.size() == n &&
           s.coupling_contact_normal.size() == n && s.coupling_contact_gap.size() == n &&
           s.coupling_contact_penetration.size() == n && s.coupling_contact_pressure.size() == n;
}

int sph_coupling_allocate_imports(Model& m) {
    CouplingState& s = m.coupling;
    if (m.db.npart < 1) {
        sph_coupling_release_imports(s);
        return sph_success;
    }
    const std::size_t n = static_cast<std::size_t>(m.db.npart);
    if (buffers_held(s, n)) return sph_success;
    sph_coupling_release_imports(s);
    try {
        s.coupling_external_force.assign(n, Vec3{});
        s.coupling_motion_velocity.assign(n, Vec3{});
        s.coupling_motion_position.assign(n, Vec3{});
        s.coupling_motion_flag.assign(n, 0);
        s.coupling_motion_mode.assign(n, 0);
        s.coupling_contact_flag.assign(n, 0);
        s.coupling_contact_normal.assign(n, Vec3{});
        s.coupling_contact_gap.assign(n, 0.0);
        s.coupling_contact_penetration.assign(n, 0.0);
        s.coupling_contact_pressure.assign(n, 0.0);
    } catch (const std::exception&) {
        sph_coupling_release_imports(s);
        return fail(m, "failed to allocate coupling imports");
    }
    return sph_success;
}

// ---------------------------------------------------------------------------
// Shared tests

bool sph_coupling_scalar_is_finite(double value) {
    return value == value && std::fabs(value) < largest_double;
}

bool sph_coupling_vector_is_finite(const Vec3& values) {
    return sph_coupling_scalar_is_finite(values.x) && sph_coupling_scalar_is_finite(values.y) &&
           sph_coupling_scalar_is_finite(values.z);
}

bool sph_coupling_particle_state_is_finite(const DbState& db, int index) {
    if (index < 0 || index >= db.npart) return false;
    const std::size_t k = static_cast<std::size_t>(index);
    for (double value : {db.mass[k], db.volume[k], db.rho[k], db.pressure[k], db.internal_energy[k],
                         db.temperature[k], db.h[k]}) {
        if (!sph_coupling_scalar_is_finite(value)) return false;
    }
    return sph_coupling_vector_is_finite(db.x[k]) && sph_coupling_vector_is_finite(db.v[k]) &&
           sph_coupling_vector_is_finite(db.a[k]);
}

bool sph_coupling_particle_should_skip(const DbState& db, int index) {
    if (index < 0 || index >= db.npart) return true;
    const std::size_t k = static_cast<std::size_t>(index);
    if (db.particle_status[k] != sph_status_active) return true;
    const int phase = db.particle_phase[k];
    return phase == sph_phase_solid_failed || phase == sph_phase_shell_failed;
}

// ---------------------------------------------------------------------------
// Region checks

int sph_coupling_find_region(Model& m, std::string_view region_name, int& region) {
    region = 0;
    const auto& regions = m.db.coupling_regions;
    for (std::size_t r = 0; r < regions.size(); ++r) {
        if (sph_text_name_equal(regions[r].coupling_region_name,
                                sph_text_trim_trailing(region_name))) {
            region = static_cast<int>(r) + 1;
            return sph_success;
        }
    }
    return fail(m, "coupling region name is invalid");
}

int sph_coupling_require_enabled_region(Model& m, int region) {
    if (!region_index_valid(m, region)) return fail(m, "coupling region index is invalid");
    if (region_record(m, region).coupling_region_enabled == 0) {
        return fail(m, "coupling region is disabled");
    }
    return sph_success;
}

int sph_coupling_check_shell_facet(Model& m, int facet_id) {
    const DbState& db = m.db;
    if (facet_id < 1 || facet_id > db.npart) return fail(m, "coupling facet particle is invalid");
    const int p = facet_id - 1;
    if (!is_shell_particle(db, p)) return fail(m, "coupling facet proxy requires Shell particles");
    const ShellState& shell = m.shell;
    const std::size_t n = static_cast<std::size_t>(db.npart);
    if (shell.shell_director.size() != n || shell.shell_reference_area.size() != n) {
        return fail(m, "Shell facet proxy state is unavailable");
    }
    const std::size_t k = static_cast<std::size_t>(p);
    if (!sph_coupling_vector_is_finite(shell.shell_director[k])) {
        ++m.coupling.coupling_nonfinite_import_count;
        return fail(m, "Shell facet normal is not finite");
    }
    const double area = shell.shell_reference_area[k];
    if (!sph_coupling_scalar_is_finite(area) || !(area > 0.0)) {
        ++m.coupling.coupling_bad_facet_area_count;
        ++m.coupling.coupling_invalid_weight_count;
        return fail(m, "Shell facet area is invalid");
    }
    return sph_success;
}

int sph_coupling_count_shell_facets(Model& m, int region, int& count) {
    count = region_index_valid(m, region) ? count_listed_shells(m, region) : 0;
    if (count == 0) return fail(m, "coupling region has no Shell facet proxy");
    return sph_success;
}

// Marks the particles listed by `region` once per host call (the mark stays
// valid until the call ends), so that membership tests cost O(1).
static int mark_region_members(Model& m, int region) {
    CouplingState& s = m.coupling;
    if (s.marked_region == region) return sph_success;
    const std::size_t n = static_cast<std::size_t>(std::max(m.db.npart, 0));
    try {
        if (s.member_mark.size() != n) {
            s.member_mark.assign(n, 0);
            s.member_position.assign(n, 0);
            s.member_stamp = 0;
        }
    } catch (const std::exception&) {
        s.member_mark.clear();
        s.member_position.clear();
        s.marked_region = 0;
        return fail(m, "failed to allocate coupling imports");
    }
    if (++s.member_stamp == 0) {
        std::fill(s.member_mark.begin(), s.member_mark.end(), 0);
        s.member_stamp = 1;
    }
    const CouplingRegionRecord& r = region_record(m, region);
    // A particle listed twice keeps its first position.
    for (std::size_t k = listed_count(r); k-- > 0;) {
        const int p = r.coupling_region_particles[k];
        if (p < 0 || static_cast<std::size_t>(p) >= n) continue;
        s.member_mark[static_cast<std::size_t>(p)] = s.member_stamp;
        s.member_position[static_cast<std::size_t>(p)] = static_cast<int>(k) + 1;
    }
    s.marked_region = region;
    return sph_success;
}

int sph_coupling_require_facet(Model& m, int region, int facet_id) {
    if (!region_index_valid(m, region)) return fail(m, "coupling region index is invalid");
    if (region_record(m, region).coupling_region_export_mode == sph_coupling_export_particle) {
        return fail(m, "coupling region does not export facet proxies");
    }
    if (const int st = mark_region_members(m, region)) return st;
    const CouplingState& s = m.coupling;
    const bool listed = facet_id >= 1 && facet_id <= m.db.npart &&
                        s.member_mark[static_cast<std::size_t>(facet_id - 1)] == s.member_stamp;
    if (!listed) return fail(m, "coupling facet id is invalid");
    return sph_coupling_check_shell_facet(m, facet_id);
}

// ---------------------------------------------------------------------------
// Regions

int sph_coupling_get_region_count(const Model& m) {
    return static_cast<int>(m.db.coupling_regions.size());
}

int sph_coupling_get_region_info(Model& m, int region_index, CouplingRegionInfo& info) {
    info = CouplingRegionInfo{};
    if (!region_index_valid(m, region_index)) return fail(m, "coupling region index is invalid");
    const CouplingRegionRecord& r = region_record(m, region_index);
    info.name = sph_text_trim_trailing(r.coupling_region_name);
    info.region_type = r.coupling_region_type;
    info.export_mode = r.coupling_region_export_mode;
    info.import_mode = r.coupling_region_import_mode;
    info.enabled = r.coupling_region_enabled;
    if (r.coupling_region_enabled == 0) return sph_success;
    if (r.coupling_region_export_mode != sph_coupling_export_facet) {
        info.particle_count = static_cast<int>(listed_count(r));
    }
    if (r.coupling_region_export_mode != sph_coupling_export_particle) {
        info.facet_count = count_listed_shells(m, region_index);
    }
    return sph_success;
}

int sph_coupling_get_region_modes(Model& m, int region_index, int& load_mode,
                                  int& distribution_mode, int& contact_state_mode) {
    load_mode = 0;
    distribution_mode = 0;
    contact_state_mode = 0;
    if (!region_index_valid(m, region_index)) return fail(m, "coupling region index is invalid");
    const CouplingRegionRecord& r = region_record(m, region_index);
    load_mode = r.coupling_region_load_mode;
    distribution_mode = r.coupling_region_distribution_mode;
    contact_state_mode = r.coupling_region_contact_state_mode;
    return sph_success;
}

// ---------------------------------------------------------------------------
// Exports

static void zero_particle_export(int capacity, const CouplingParticleExport& out) {
    if (capacity <= 0) return;
    const std::size_t c = static_cast<std::size_t>(capacity);
    for (int* a : {out.ext_ids, out.internal_indices, out.phases, out.statuses, out.materials,
                   out.sections}) {
        std::fill(a, a + c, 0);
    }
    std::fill(out.scalar_values, out.scalar_values + c * sph_coupling_particle_scalar_count, 0.0);
    std::fill(out.vector_values, out.vector_values + c * 9, 0.0);
}

static void zero_facet_export(int capacity, const CouplingFacetExport& out) {
    if (capacity <= 0) return;
    const std::size_t c = static_cast<std::size_t>(capacity);
    for (int* a : {out.facet_ids, out.particle_ids, out.materials, out.sections}) {
        std::fill(a, a + c, 0);
    }
    std::fill(out.vector_values, out.vector_values + c * 9, 0.0);
    std::fill(out.area_values, out.area_values + c, 0.0);
}

int sph_coupling_export_region_particles(Model& m, std::string_view region_name, int capacity,
                                         int& count, const CouplingParticleExport& out) {
    count = 0;
    zero_particle_export(capacity, out);
    if (capacity < 0) return fail(m, "coupling export capacity is negative");
    int region = 0;
    if (const int st = sph_coupling_find_region(m, region_name, region)) return st;
    const CouplingRegionRecord& r = region_record(m, region);
    if (r.coupling_region_enabled == 0 ||
        r.coupling_region_export_mode == sph_coupling_export_facet) {
        return sph_success;
    }
    count = static_cast<int>(listed_count(r));
    if (capacity < count) return fail(m, "coupling particle export capacity is too small");
    const DbState& db = m.db;
    for (int k = 0; k < count; ++k) {
        const int p = r.coupling_region_particles[static_cast<std::size_t>(k)];
        if (!sph_coupling_particle_state_is_finite(db, p)) {
            return fail(m, "coupling particle export state is not finite");
        }
        const std::size_t i = static_cast<std::size_t>(p);
        const std::size_t e = static_cast<std::size_t>(k);
        out.ext_ids[e] = db.particle_id_ext[i];
        out.internal_indices[e] = p + 1;
        out.phases[e] = db.particle_phase[i];
        out.statuses[e] = db.particle_status[i];
        out.materials[e] = db.material_id[i];
        out.sections[e] = db.section_id[i];
        double* scalars = out.scalar_values + e * sph_coupling_particle_scalar_count;
        scalars[sph_coupling_particle_scalar_mass - 1] = db.mass[i];
        scalars[sph_coupling_particle_scalar_volume - 1] = db.volume[i];
        scalars[sph_coupling_particle_scalar_density - 1] = db.rho[i];
        scalars[sph_coupling_particle_scalar_pressure - 1] = db.pressure[i];
        scalars[sph_coupling_particle_scalar_energy - 1] = db.internal_energy[i];
        scalars[sph_coupling_particle_scalar_temperature - 1] = db.temperature[i];
        scalars[sph_coupling_particle_scalar_h - 1] = db.h[i];
        double* vectors = out.vector_values + e * 9;
        put_vector(vectors + 3 * (sph_coupling_particle_vector_x - 1), db.x[i]);
        put_vector(vectors + 3 * (sph_coupling_particle_vector_v - 1), db.v[i]);
        put_vector(vectors + 3 * (sph_coupling_particle_vector_a - 1), db.a[i]);
    }
    return sph_success;
}

int sph_coupling_export_particles(Model& m, int region_index, int capacity, int& count,
                                  const CouplingParticleExport& out) {
    if (!region_index_valid(m, region_index)) {
        count = 0;
        zero_particle_export(capacity, out);
        return fail(m, "coupling region index is invalid");
    }
    return sph_coupling_export_region_particles(
        m, region_record(m, region_index).coupling_region_name, capacity, count, out);
}

int sph_coupling_export_region_facets(Model& m, std::string_view region_name, int capacity,
                                      int& count, const CouplingFacetExport& out) {
    count = 0;
    zero_facet_export(capacity, out);
    if (capacity < 0) return fail(m, "coupling facet export capacity is negative");
    int region = 0;
    if (const int st = sph_coupling_find_region(m, region_name, region)) return st;
    const CouplingRegionRecord& r = region_record(m, region);
    if (r.coupling_region_enabled == 0 ||
        r.coupling_region_export_mode == sph_coupling_export_particle) {
        return sph_success;
    }
    if (const int st = sph_coupling_count_shell_facets(m, region, count)) return st;
    if (capacity < count) return fail(m, "coupling facet export capacity is too small");
    count = 0;
    const DbState& db = m.db;
    for (std::size_t k = 0; k < listed_count(r); ++k) {
        const int p = r.coupling_region_particles[k];
        if (!is_shell_particle(db, p)) continue;
        ++count;
        if (const int st = sph_coupling_check_shell_facet(m, p + 1)) return st;
        const std::size_t i = static_cast<std::size_t>(p);
        const std::size_t e = static_cast<std::size_t>(count - 1);
        out.facet_ids[e] = p + 1;
        out.particle_ids[e] = db.particle_id_ext[i];
        out.materials[e] = db.material_id[i];
        out.sections[e] = db.section_id[i];
        double* vectors = out.vector_values + e * 9;
        put_vector(vectors + 3 * (sph_coupling_facet_vector_center - 1), db.x[i]);
        put_vector(vectors + 3 * (sph_coupling_facet_vector_velocity - 1), db.v[i]);
        put_vector(vectors + 3 * (sph_coupling_facet_vector_normal - 1), m.shell.shell_director[i]);
        out.area_values[e] = m.shell.shell_reference_area[i];
    }
    return sph_success;
}

int sph_coupling_export_facets(Model& m, int region_index, int capacity, int& count,
                               const CouplingFacetExport& out) {
    if (!region_index_valid(m, region_index)) {
        count = 0;
        zero_facet_export(capacity, out);
        return fail(m, "coupling region index is invalid");
    }
    return sph_coupling_export_region_facets(m, region_record(m, region_index).coupling_region_name,
                                             capacity, count, out);
}
