// Coupling interface: imports from the host, their application in the next
// step, and the exchange diagnostics.

#include <algorithm>
#include <cstring>

#include "core/sph_model.hpp"
#include "coupling_interface/sph_coupling_interface.hpp"

namespace {

int fail(Model& m, const char* message) {
    return sph_error_set(m.error, sph_error_argument, message);
}

bool region_index_valid(const Model& m, int region) {
    return region >= 1 && region <= static_cast<int>(m.db.coupling_regions.size());
}

const CouplingRegionRecord& region_record(const Model& m, int region) {
    return m.db.coupling_regions[static_cast<std::size_t>(region - 1)];
}

Vec3 vector_at(const double* values, int entry) {
    const double* v = values + 3 * static_cast<std::size_t>(entry);
    return {v[0], v[1], v[2]};
}

void raise(double& maximum, double value) {
    if (value > maximum) maximum = value;
}

// Every host import starts here: region marks of an earlier call may describe
// lists that a rebuild has changed since.
void begin_call(CouplingState& s) {
    s.marked_region = 0;
}

bool nonzero(const Vec3& f) {
    return f.x != 0.0 || f.y != 0.0 || f.z != 0.0;
}

// Looks first at the particle that received the latest force: every call of
// an exchange after the first asks this while the loads of the earlier calls
// are pending, and would otherwise read the buffer up to the first loaded
// particle (all the fluid, when the structure comes after it). The answer is
// the full scan's: a hint that turned zero falls back to it.
bool any_force(const CouplingState& s) {
    const std::vector<Vec3>& forces = s.coupling_external_force;
    if (s.force_hint < forces.size() && nonzero(forces[s.force_hint])) return true;
    return std::any_of(forces.begin(), forces.end(), nonzero);
}

bool any_set(const std::vector<int>& flags) {
    return std::any_of(flags.begin(), flags.end(), [](int f) { return f != 0; });
}

// The region (1-based) named `region_name`, enabled and exporting particles;
// `facets_only_message` is the calling import's refusal of a facets-only one.
int particle_export_region(Model& m, std::string_view region_name, const char* facets_only_message,
                           int& region) {
    if (const int st = sph_coupling_find_region(m, region_name, region)) return st;
    if (const int st = sph_coupling_require_enabled_region(m, region)) return st;
    if (region_record(m, region).coupling_region_export_mode == sph_coupling_export_facet) {
        return fail(m, facets_only_message);
    }
    return sph_success;
}

// The particle (0-based) at 1-based position `export_index` of such a region.
int particle_at_export_index(Model& m, int region, int export_index, const char* index_message,
                             int& particle) {
    particle = -1;
    const CouplingRegionRecord& r = region_record(m, region);
    const int count = std::min(r.coupling_region_particle_count,
                               static_cast<int>(r.coupling_region_particles.size()));
    if (export_index < 1 || export_index > count) return fail(m, index_message);
    particle = r.coupling_region_particles[static_cast<std::size_t>(export_index - 1)];
    return sph_success;
}

// Facet ids seen so far in one call; `first` starts a new call.
int check_duplicate_facet(Model& m, int facet_id, bool first) {
    CouplingState& s = m.coupling;
    const std::size_t n = static_cast<std::size_t>(std::max(m.db.npart, 0));
    if (first) {
        try {
            if (s.id_mark.size() != n) {
                s.id_mark.assign(n, 0);
                s.id_stamp = 0;
            }
        } catch (const std::exception&) {
            s.id_mark.clear();
            return fail(m, "failed to allocate coupling imports");
        }
        if (++s.id_stamp == 0) {
            std::fill(s.id_mark.begin(), s.id_mark.end(), 0);
            s.id_stamp = 1;
        }
    }
    // Every earlier entry passed the facet checks, so its id is a particle.
    if (facet_id < 1 || static_cast<std::size_t>(facet_id) > s.id_mark.size()) {
        return sph_success;
    }
    std::uint32_t& mark = s.id_mark[static_cast<std::size_t>(facet_id - 1)];
    if (mark == s.id_stamp) {
        ++s.coupling_duplicate_facet_count;
        return fail(m, "coupling facet id is duplicated");
    }
    mark = s.id_stamp;
    return sph_success;
}

bool distribution_is_valid(int distribution_mode) {
    return distribution_mode >= sph_coupling_distribution_uniform &&
           distribution_mode <= sph_coupling_distribution_mass;
}

enum class FacetValue { pressure, traction, resultant };

struct FacetValueMessages {
    const char* count;
    const char* not_finite;
};

FacetValueMessages messages_of(FacetValue kind) {
    switch (kind) {
        case FacetValue::pressure:
            return {"coupling pressure count is invalid", "coupling pressure is not finite"};
        case FacetValue::traction:
            return {"coupling traction count is invalid", "coupling traction is not finite"};
        default:
            return {"coupling resultant count is invalid", "coupling resultant is not finite"};
    }
}

// Pressures, tractions and resultants: one scheme.
int apply_facet_values(Model& m, FacetValue kind, int region_index, int load_count,
                       const int* facet_ids, const double* values, int distribution_mode,
                       int coupling_step) {
    CouplingState& s = m.coupling;
    begin_call(s);
    if (const int st = sph_coupling_prepare_import_epoch(m, coupling_step)) return st;
    if (!distribution_is_valid(distribution_mode)) {
        ++s.coupling_invalid_weight_count;
        return fail(m, "coupling distribution mode is invalid");
    }
    if (!region_index_valid(m, region_index)) return fail(m, "coupling region index is invalid");
    const FacetValueMessages text = messages_of(kind);
    if (load_count < 0) return fail(m, text.count);
    for (int i = 0; i < load_count; ++i) {
        const int facet_id = facet_ids[i];
        if (const int st = check_duplicate_facet(m, facet_id, i == 0)) return st;
        const bool scalar = kind == FacetValue::pressure;
        const Vec3 value = scalar ? Vec3{values[i], 0.0, 0.0} : vector_at(values, i);
        if (!sph_coupling_vector_is_finite(value)) {
            ++s.coupling_nonfinite_import_count;
            return fail(m, text.not_finite);
        }
        double area = 0.0;
        Vec3 normal, center;
        if (const int st =
                sph_coupling_get_facet_geometry(m, region_index, facet_id, area, normal, center)) {
            return st;
        }
        Vec3 force;
        if (kind == FacetValue::pressure) {
            // A positive pressure pushes along the director.
            force = (values[i] * area) * normal;
            raise(s.coupling_max_pressure, std::fabs(values[i]));
        } else if (kind == FacetValue::traction) {
            force = area * value;
            raise(s.coupling_max_traction, norm(value));
        } else {
            force = value;
        }
        if (const int st = sph_coupling_distribute_facet_force(m, region_index, facet_id, force,
                                                               distribution_mode, center)) {
            return st;
        }
    }
    return sph_success;
}

}  // namespace

// ---------------------------------------------------------------------------
// Epochs and forces

int sph_coupling_prepare_import_epoch(Model& m, int coupling_step) {
    if (coupling_step < 0) return fail(m, "coupling step is invalid");
    if (const int st = sph_coupling_allocate_imports(m)) return st;
    CouplingState& s = m.coupling;
    if (coupling_step != s.coupling_epoch) {
        sph_coupling_zero_import_buffers(s);
        sph_coupling_reset_load_balance(s);
        s.coupling_epoch = coupling_step;
    } else if (any_force(s) || any_set(s.coupling_contact_flag)) {
        ++s.coupling_repeated_import_count;
    }
    return sph_success;
}

int sph_coupling_add_force_to_particle(Model& m, int facet_id, const Vec3& force) {
    if (const int st = sph_coupling_allocate_imports(m)) return st;
    DbState& db = m.db;
    CouplingState& s = m.coupling;
    if (facet_id < 1 || facet_id > db.npart) {
        return fail(m, "coupling force particle index is invalid");
    }
    if (!sph_coupling_vector_is_finite(force)) {
        ++s.coupling_nonfinite_import_count;
        return fail(m, "coupling force is not finite");
    }
    const int p = facet_id - 1;
    const std::size_t k = static_cast<std::size_t>(p);
    if (!(db.mass[k] > 0.0)) return fail(m, "coupling force particle mass must be positive");
    if (sph_coupling_particle_should_skip(db, p)) {
        ++s.coupling_skipped_particle_count;
        return sph_success;
    }
    s.coupling_external_force[k] += force;
    s.force_hint = k;
    ++s.coupling_imported_force_count;
    return sph_success;
}

// Particle forces and facet loads: the region lookup and its checks read
// nothing an entry changes, so they run once per call (before the first
// entry, where a per-entry lookup would fail first) instead of once per
// entry: the same results, without a name scan of the region table per entry.
int sph_coupling_apply_particle_forces(Model& m, int region_index, int force_count,
                                       const int* export_indices, const double* forces) {
    begin_call(m.coupling);
    if (!region_index_valid(m, region_index)) return fail(m, "coupling region index is invalid");
    if (force_count < 0) return fail(m, "coupling force count is invalid");
    if (force_count == 0) return sph_success;
    int region = 0;
    if (const int st =
            particle_export_region(m, region_record(m, region_index).coupling_region_name,
                                   "coupling region has no particle export index", region)) {
        return st;
    }
    for (int i = 0; i < force_count; ++i) {
        int p = -1;
        if (const int st = particle_at_export_index(m, region, export_indices[i],
                                                    "coupling force export index is invalid", p)) {
            return st;
        }
        if (const int st = sph_coupling_add_force_to_particle(m, p + 1, vector_at(forces, i))) {
            return st;
        }
    }
    return sph_success;
}

int sph_coupling_apply_facet_loads(Model& m, int region_index, int load_count, const int* facet_ids,
                                   const double* loads) {
    begin_call(m.coupling);
    if (!region_index_valid(m, region_index)) return fail(m, "coupling region index is invalid");
    if (load_count < 0) return fail(m, "coupling facet load count is invalid");
    if (load_count == 0) return sph_success;
    int region = 0;
    if (const int st = sph_coupling_find_region(
            m, region_record(m, region_index).coupling_region_name, region)) {
        return st;
    }
    if (const int st = sph_coupling_require_enabled_region(m, region)) return st;
    for (int i = 0; i < load_count; ++i) {
        if (const int st = sph_coupling_require_facet(m, region, facet_ids[i])) return st;
        if (const int st =
                sph_coupling_add_force_to_particle(m, facet_ids[i], vector_at(loads, i))) {
            return st;
        }
    }
    return sph_success;
}

// ---------------------------------------------------------------------------
// Facet pressures, tractions and resultants

int sph_coupling_get_facet_geometry(Model& m, int region, int facet_id, double& area, Vec3& normal,
                                    Vec3& center) {
    area = 0.0;
    normal = Vec3{};
    center = Vec3{};
    CouplingState& s = m.coupling;
    if (const int st = sph_coupling_require_enabled_region(m, region)) return st;
    if (const int st = sph_coupling_require_facet(m, region, facet_id)) return st;
    const std::size_t k = static_cast<std::size_t>(facet_id - 1);
    const double a = m.shell.shell_reference_area[k];
    Vec3 n = m.shell.shell_director[k];
    const Vec3 c = m.db.x[k];
    if (!sph_coupling_scalar_is_finite(a) || !(a > 0.0)) {
        ++s.coupling_invalid_weight_count;
        return fail(m, "coupling facet area is invalid");
    }
    if (!sph_coupling_vector_is_finite(n)) {
        ++s.coupling_nonfinite_import_count;
        return fail(m, "coupling facet normal is not finite");
    }
    const double length = norm(n);
    if (length <= 1e-12) {
        ++s.coupling_invalid_weight_count;
        return fail(m, "coupling facet normal is degenerate");
    }
    n = (1.0 / length) * n;
    if (!sph_coupling_vector_is_finite(c)) {
        ++s.coupling_nonfinite_import_count;
        return fail(m, "coupling facet center is not finite");
    }
    area = a;
    normal = n;
    center = c;
    return sph_success;
}

int sph_coupling_distribute_facet_force(Model& m, int region, int facet_id, const Vec3& force,
                                        int distribution_mode, const Vec3& center) {
    CouplingState& s = m.coupling;
    if (!region_index_valid(m, region)) return fail(m, "coupling region index is invalid");
    if (!distribution_is_valid(distribution_mode)) {
        ++s.coupling_invalid_weight_count;
        return fail(m, "coupling distribution mode is invalid");
    }
    if (!sph_coupling_vector_is_finite(force)) {
        ++s.coupling_nonfinite_import_count;
        return fail(m, "coupling facet force is not finite");
    }
    const bool particle = facet_id >= 1 && facet_id <= m.db.npart;
    const std::size_t k = particle ? static_cast<std::size_t>(facet_id - 1) : 0;
    double weight = 1.0;
    if (distribution_mode == sph_coupling_distribution_area) {
        weight = particle && m.shell.shell_reference_area.size() > k
                     ? m.shell.shell_reference_area[k]
                     : 0.0;
    } else if (distribution_mode == sph_coupling_distribution_mass) {
        weight = particle ? m.db.mass[k] : 0.0;
    }
    if (!sph_coupling_scalar_is_finite(weight) || !(weight > 0.0)) {
        ++s.coupling_invalid_weight_count;
        return fail(m, "coupling distribution weight is invalid");
    }
    // The whole facet force lands on the facet's own particle.
    const Vec3 before =
        particle && s.coupling_external_force.size() > k ? s.coupling_external_force[k] : Vec3{};
    if (const int st = sph_coupling_add_force_to_particle(m, facet_id, force)) return st;
    const Vec3 applied = s.coupling_external_force[k] - before;
    s.coupling_facet_input_force += force;
    s.coupling_facet_distributed_force += applied;
    s.coupling_facet_input_moment += cross(center, force);
    s.coupling_facet_distributed_moment += cross(m.db.x[k], applied);
    s.coupling_facet_force_error =
        norm(s.coupling_facet_input_force - s.coupling_facet_distributed_force);
    s.coupling_facet_moment_error =
        norm(s.coupling_facet_input_moment - s.coupling_facet_distributed_moment);
    return sph_success;
}

int sph_coupling_apply_facet_pressures(Model& m, int region_index, int load_count,
                                       const int* facet_ids, const double* pressures,
                                       int distribution_mode, int coupling_step) {
    return apply_facet_values(m, FacetValue::pressure, region_index, load_count, facet_ids,
                              pressures, distribution_mode, coupling_step);
}

int sph_coupling_apply_facet_tractions(Model& m, int region_index, int load_count,
                                       const int* facet_ids, const double* tractions,
                                       int distribution_mode, int coupling_step) {
    return apply_facet_values(m, FacetValue::traction, region_index, load_count, facet_ids,
                              tractions, distribution_mode, coupling_step);
}

int sph_coupling_apply_facet_resultants(Model& m, int region_index, int load_count,
                                        const int* facet_ids, const double* resultants,
                                        int distribution_mode, int coupling_step) {
    return apply_facet_values(m, FacetValue::resultant, region_index, load_count, facet_ids,
                              resultants, distribution_mode, coupling_step);
}

// ---------------------------------------------------------------------------
// Contact state

int sph_coupling_apply_contact_state(Model& m, int region_index, int contact_count,
                                     const int* facet_ids, const double* normals,
                                     const double* gaps, const double* penetrations,
                                     const double* contact_pressures, int coupling_step) {
    CouplingState& s = m.coupling;
    begin_call(s);
    if (const int st = sph_coupling_prepare_import_epoch(m, coupling_step)) return st;
    if (const int st = sph_coupling_require_enabled_region(m, region_index)) return st;
    if (region_record(m, region_index).coupling_region_contact_state_mode !=
        sph_coupling_contact_state_import) {
        return fail(m, "coupling region does not import contact state");
    }
    if (contact_count < 0) return fail(m, "coupling contact count is invalid");
    for (int i = 0; i < contact_count; ++i) {
        const int facet_id = facet_ids[i];
        if (const int st = check_duplicate_facet(m, facet_id, i == 0)) return st;
        Vec3 normal = vector_at(normals, i);
        const double gap = gaps[i];
        const double penetration = penetrations[i];
        const double pressure = contact_pressures[i];
        if (!sph_coupling_vector_is_finite(normal) || !sph_coupling_scalar_is_finite(gap) ||
            !sph_coupling_scalar_is_finite(penetration) ||
            !sph_coupling_scalar_is_finite(pressure)) {
            ++s.coupling_nonfinite_import_count;
            ++s.coupling_nonfinite_contact_count;
            return fail(m, "coupling contact state contains nonfinite values");
        }
        const double length = norm(normal);
        if (length <= 1e-12) {
            ++s.coupling_invalid_weight_count;
            return fail(m, "coupling contact normal is degenerate");
        }
        normal = (1.0 / length) * normal;
        double area = 0.0;
        Vec3 facet_normal, center;
        if (const int st = sph_coupling_get_facet_geometry(m, region_index, facet_id, area,
                                                           facet_normal, center)) {
            return st;
        }
        const int p = facet_id - 1;
        if (sph_coupling_particle_should_skip(m.db, p)) {
            ++s.coupling_skipped_particle_count;
            ++s.coupling_skipped_contact_count;
            continue;
        }
        const std::size_t k = static_cast<std::size_t>(p);
        s.coupling_contact_flag[k] = 1;
        s.coupling_contact_normal[k] = normal;
        s.coupling_contact_gap[k] = gap;
        s.coupling_contact_penetration[k] = penetration;
        s.coupling_contact_pressure[k] = pressure;
        ++s.coupling_active_contact_count;
        raise(s.coupling_max_penetration, penetration);
    }
    return sph_success;
}

// ---------------------------------------------------------------------------
// Motion targets

int sph_coupling_set_motion(Model& m, int index, int mode, int target_kind, const Vec3& target) {
    if (const int st = sph_coupling_allocate_imports(m)) return st;
    CouplingState& s = m.coupling;
    if (index < 0 || index >= m.db.npart) {
        return fail(m, "coupling motion particle index is invalid");
    }
    if (mode == sph_coupling_motion_penalty) {
        return fail(m, "coupling penalty motion mode is reserved");
    }
    if (mode != sph_coupling_motion_direct) return fail(m, "coupling motion mode is invalid");
    if (!sph_coupling_vector_is_finite(target)) {
        ++s.coupling_nonfinite_import_count;
        return fail(m, "coupling motion target is not finite");
    }
    if (sph_coupling_particle_should_skip(m.db, index)) {
        ++s.coupling_skipped_particle_count;
        return sph_success;
    }
    const std::size_t k = static_cast<std::size_t>(index);
    if (target_kind == sph_coupling_motion_velocity) {
        s.coupling_motion_velocity[k] = target;
    } else if (target_kind == sph_coupling_motion_position) {
        s.coupling_motion_position[k] = target;
    } else {
        return fail(m, "coupling motion target kind is invalid");
    }
    s.coupling_motion_flag[k] = target_kind;
    s.coupling_motion_mode[k] = mode;
    return sph_success;
}

int sph_coupling_apply_motion_boundary(Model& m, int region_index, int export_index,
                                       int target_kind, int mode, const Vec3& target) {
    begin_call(m.coupling);
    if (!region_index_valid(m, region_index)) return fail(m, "coupling region index is invalid");
    if (target_kind != sph_coupling_motion_velocity &&
        target_kind != sph_coupling_motion_position) {
        return fail(m, "coupling motion target kind is invalid");
    }
    int region = 0, p = -1;
    if (const int st =
            particle_export_region(m, region_record(m, region_index).coupling_region_name,
                                   "coupling motion requires particle export index", region)) {
        return st;
    }
    if (const int st = particle_at_export_index(m, region, export_index,
                                                "coupling motion export index is invalid", p)) {
        return st;
    }
    return sph_coupling_set_motion(m, p, mode, target_kind, target);
}

int sph_coupling_apply_motion_targets(Model& m, bool track_error) {
    if (const int st = sph_coupling_allocate_imports(m)) return st;
    CouplingState& s = m.coupling;
    DbState& db = m.db;
    const std::size_t n = s.coupling_motion_flag.size();
    for (std::size_t k = 0; k < n; ++k) {
        const int flag = s.coupling_motion_flag[k];
        if (flag == 0) continue;
        if (s.coupling_motion_mode[k] != sph_coupling_motion_direct) {
            return fail(m, "coupling motion mode is invalid during apply");
        }
        if (sph_coupling_particle_should_skip(db, static_cast<int>(k))) {
            ++s.coupling_skipped_particle_count;
            continue;
        }
        if (flag == sph_coupling_motion_velocity) {
            const Vec3& target = s.coupling_motion_velocity[k];
            if (!sph_coupling_vector_is_finite(target)) {
                ++s.coupling_nonfinite_import_count;
                return fail(m, "coupling velocity target is not finite during apply");
            }
            if (track_error) raise(s.coupling_max_velocity_error, norm(db.v[k] - target));
            db.v[k] = target;
        } else if (flag == sph_coupling_motion_position) {
            const Vec3& target = s.coupling_motion_position[k];
            if (!sph_coupling_vector_is_finite(target)) {
                ++s.coupling_nonfinite_import_count;
                return fail(m, "coupling position target is not finite during apply");
            }
            if (track_error) raise(s.coupling_max_position_error, norm(db.x[k] - target));
            db.x[k] = target;
        } else {
            return fail(m, "coupling motion target kind is invalid during apply");
        }
    }
    return sph_success;
}

// ---------------------------------------------------------------------------
// Clearing

int sph_coupling_clear_imports(Model& m) {
    if (const int st = sph_coupling_allocate_imports(m)) return st;
    CouplingState& s = m.coupling;
    if (m.db.npart > 0 && !s.coupling_external_force.empty()) {
        if (any_force(s) || any_set(s.coupling_motion_flag) || any_set(s.coupling_contact_flag)) {
            ++s.coupling_stale_load_count;
        }
    }
    sph_coupling_zero_import_buffers(s);
    sph_coupling_reset_load_balance(s);
    ++s.coupling_epoch;
    return sph_success;
}

// ---------------------------------------------------------------------------
// Step hooks

int sph_coupling_apply_imports_to_acceleration(Model& m, double dt) {
    CouplingState& s = m.coupling;
    sph_coupling_reset_step_diagnostics(s);
    s.coupling_step_load_consumed = 0;
    if (!sph_coupling_scalar_is_finite(dt) || dt < 0.0)
        return fail(m, "coupling step dt is invalid");
    if (const int st = sph_coupling_allocate_imports(m)) return st;
    DbState& db = m.db;
    const std::size_t n = s.coupling_external_force.size();
    for (std::size_t k = 0; k < n; ++k) {
        const Vec3 f = s.coupling_external_force[k];
        if (f.x == 0.0 && f.y == 0.0 && f.z == 0.0) continue;  // NaN goes on
        if (!sph_coupling_vector_is_finite(f)) {
            ++s.coupling_nonfinite_import_count;
            return fail(m, "coupling cached force is not finite");
        }
        if (sph_coupling_particle_should_skip(db, static_cast<int>(k))) {
            ++s.coupling_skipped_particle_count;
            continue;
        }
        const double mass = db.mass[k];
        if (!(mass > 0.0)) return fail(m, "coupling force particle mass must be positive");
        const Vec3 accel = (1.0 / mass) * f;
        if (!sph_coupling_vector_is_finite(accel)) {
            ++s.coupling_nonfinite_import_count;
            return fail(m, "coupling acceleration contribution is not finite");
        }
        db.a[k] += accel;
        const Vec3 impulse = dt * f;
        s.coupling_current_force += f;
        s.coupling_current_moment += cross(db.x[k], f);
        s.coupling_current_impulse += impulse;
        s.coupling_cumulative_impulse += impulse;
        s.coupling_momentum_exchange += impulse;
        s.coupling_momentum = s.coupling_momentum_exchange;
        const double work = dot(db.v[k], f) * dt;
        s.coupling_current_work += work;
        s.coupling_cumulative_work += work;
        s.coupling_work = s.coupling_cumulative_work;
        s.coupling_energy_exchange += work;
        s.coupling_energy = s.coupling_energy_exchange;
        raise(s.coupling_max_external_force, norm(f));
        raise(s.coupling_max_acceleration, norm(accel));
    }
    return sph_success;
}

int sph_coupling_apply_motion_before_step(Model& m) {
    return sph_coupling_apply_motion_targets(m, true);
}

int sph_coupling_apply_motion_after_step(Model& m) {
    return sph_coupling_apply_motion_targets(m, true);
}

void sph_coupling_apply_position_targets(Model& m) {
    CouplingState& s = m.coupling;
    DbState& db = m.db;
    const std::size_t n =
        std::min(s.coupling_motion_flag.size(), s.coupling_motion_position.size());
    for (std::size_t k = 0; k < n; ++k) {
        if (s.coupling_motion_flag[k] != sph_coupling_motion_position) continue;
        if (s.coupling_motion_mode[k] != sph_coupling_motion_direct) continue;
        if (sph_coupling_particle_should_skip(db, static_cast<int>(k))) continue;
        const Vec3& target = s.coupling_motion_position[k];
        if (sph_coupling_vector_is_finite(target)) db.x[k] = target;
    }
}

int sph_coupling_finalize_step_imports(Model& m) {
    if (const int st = sph_coupling_allocate_imports(m)) return st;
    CouplingState& s = m.coupling;
    if (any_force(s) || any_set(s.coupling_motion_flag) || any_set(s.coupling_contact_flag)) {
        s.coupling_step_load_consumed = 1;
    }
    sph_coupling_zero_import_buffers(s);
    return sph_success;
}

// ---------------------------------------------------------------------------
// Diagnostics

void sph_coupling_get_load_balance(const CouplingState& s, Vec3& input_force,
                                   Vec3& distributed_force, double& force_error, Vec3& input_moment,
                                   Vec3& distributed_moment, double& moment_error) {
    input_force = s.coupling_facet_input_force;
    distributed_force = s.coupling_facet_distributed_force;
    force_error = s.coupling_facet_force_error;
    input_moment = s.coupling_facet_input_moment;
    distributed_moment = s.coupling_facet_distributed_moment;
    moment_error = s.coupling_facet_moment_error;
}

void sph_coupling_get_contact_diagnostics(const CouplingState& s, int& active_count,
                                          int& skipped_count, double& max_penetration,
                                          int& stale_count, int& repeated_count,
                                          int& nonfinite_count, int& bad_area_count,
                                          int& invalid_weight_count) {
    active_count = s.coupling_active_contact_count;
    skipped_count = s.coupling_skipped_contact_count;
    max_penetration = s.coupling_max_penetration;
    stale_count = s.coupling_stale_load_count;
    repeated_count = s.coupling_repeated_import_count;
    nonfinite_count = s.coupling_nonfinite_contact_count;
    bad_area_count = s.coupling_bad_facet_area_count;
    invalid_weight_count = s.coupling_invalid_weight_count;
}

int sph_coupling_get_diagnostic_values(Model& m, int value_capacity, double* values,
                                       int count_capacity, int* counts) {
    if (value_capacity < sph_coupling_diagnostic_values_short ||
        count_capacity < sph_coupling_diagnostic_counts_short) {
        return fail(m, "coupling diagnostics buffer is too small");
    }
    std::fill(values, values + value_capacity, 0.0);
    std::fill(counts, counts + count_capacity, 0);
    const CouplingState& s = m.coupling;
    const auto put = [&](int position, const Vec3& v) {
        values[position - 1] = v.x;
        values[position] = v.y;
        values[position + 1] = v.z;
    };
    put(1, s.coupling_current_force);
    put(4, s.coupling_current_moment);
    put(7, s.coupling_current_impulse);
    put(10, s.coupling_cumulative_impulse);
    put(13, s.coupling_momentum_exchange);
    values[15] = s.coupling_current_work;
    values[16] = s.coupling_cumulative_work;
    values[17] = s.coupling_energy_exchange;
    values[18] = s.coupling_max_external_force;
    values[19] = s.coupling_max_acceleration;
    values[20] = s.coupling_max_velocity_error;
    values[21] = s.coupling_max_position_error;
    if (value_capacity >= sph_coupling_diagnostic_values_full) {
        values[22] = s.coupling_facet_force_error;
        values[23] = s.coupling_facet_moment_error;
        values[24] = s.coupling_max_pressure;
        values[25] = s.coupling_max_traction;
        values[26] = s.coupling_max_penetration;
    }
    counts[0] = s.coupling_stale_load_count;
    counts[1] = s.coupling_skipped_particle_count;
    counts[2] = s.coupling_nonfinite_import_count;
    counts[3] = s.coupling_imported_force_count;
    counts[4] = s.coupling_step_load_consumed;
    if (count_capacity >= sph_coupling_diagnostic_counts_full) {
        counts[5] = s.coupling_repeated_import_count;
        counts[6] = s.coupling_duplicate_facet_count;
        counts[7] = s.coupling_invalid_weight_count;
        counts[8] = s.coupling_active_contact_count;
        counts[9] = s.coupling_skipped_contact_count;
        counts[10] = s.coupling_nonfinite_contact_count;
        counts[11] = s.coupling_bad_facet_area_count;
    }
    return sph_success;
}
