// C layer: the exported functions of include/velunor.h (all but the solid
// queries). Each export checks pointers, counts and capacities (-1, no
// message), converts host text and calls one operation of the API layer, all
// inside the exception barrier.

#include <cmath>
#include <cstring>
#include <string>

#include "core/sph_text.hpp"
#include "interface/sph_c_api_internal.hpp"
#include "velunor.h"

// ---------------------------------------------------------------------------
// Internal helpers

int velunor_values_are_finite(const double* values, std::int64_t count) noexcept {
    if (values == nullptr) return 0;
    for (std::int64_t k = 0; k < count; ++k) {
        if (!std::isfinite(values[k])) return 0;
    }
    return 1;
}

int velunor_record_failure(Model* m, const char* export_name, int code,
                           const char* detail) noexcept {
    if (m == nullptr) return code;
    try {
        std::string message(export_name);
        message += " failed: ";
        message += detail;
        sph_error_set(m->error, code, message);
    } catch (...) {
        // No memory even for the message: keep the status, shorten the text.
        m->error.last_error_code = code;
        m->error.last_error_message.clear();
    }
    return code;
}

bool velunor_path_in(const char* path, std::string_view& text) noexcept {
    if (path == nullptr) return false;
    const std::size_t n = strnlen(path, velunor_path_max + 1);
    if (n == 0 || n > velunor_path_max) return false;
    text = sph_text_trim_trailing(std::string_view(path, n));
    return true;
}

void velunor_text_out(std::string_view text, char* out, int capacity) noexcept {
    if (out == nullptr || capacity < 1) return;
    const std::size_t limit = static_cast<std::size_t>(capacity) - 1;
    std::size_t n = 0;
    while (n < text.size() && n < limit && text[n] != '\0') {
        out[n] = text[n];
        ++n;
    }
    out[n] = '\0';
    out[limit] = '\0';
}

static void copy_out(const Vec3& value, double* out) {
    out[0] = value.x;
    out[1] = value.y;
    out[2] = value.z;
}

template <std::size_t N>
static void copy_out(const std::array<double, N>& values, double* out) {
    std::memcpy(out, values.data(), N * sizeof(double));
}

// ---------------------------------------------------------------------------
// Life cycle and version

int velunor_initialize(void) {
    return velunor_guarded(__func__, [&](Model& m) { return sph_initialize(m); });
}

int velunor_finalize(void) {
    return velunor_guarded(__func__, [&](Model& m) { return sph_finalize(m); });
}

int velunor_get_version(int* major, int* minor, int* patch) {
    return velunor_guarded(__func__, [&](Model&) {
        if (velunor_any_null(major, minor, patch)) return velunor_rejected;
        return sph_get_version(*major, *minor, *patch);
    });
}

int velunor_get_last_error(int* code, char* message, int message_capacity) {
    return velunor_guarded(__func__, [&](Model& m) {
        if (velunor_any_null(code, message) || message_capacity <= 0) return velunor_rejected;
        std::string_view text;
        const int ierr = sph_get_last_error(m, *code, text);
        velunor_text_out(text, message, message_capacity);
        return ierr;
    });
}

// ---------------------------------------------------------------------------
// Deck and model

int velunor_read_inp(const char* filename) {
    return velunor_guarded(__func__, [&](Model& m) {
        return velunor_call_path(filename,
                                 [&](std::string_view path) { return sph_read_inp(m, path); });
    });
}

int velunor_build_model(void) {
    return velunor_guarded(__func__, [&](Model& m) { return sph_build_model(m); });
}

// ---------------------------------------------------------------------------
// Stepping

int velunor_estimate_stable_dt(double* dtcrit) {
    return velunor_guarded(__func__, [&](Model& m) {
        if (velunor_any_null(dtcrit)) return velunor_rejected;
        return sph_estimate_stable_dt(m, *dtcrit);
    });
}

int velunor_advance_explicit(double dt) {
    return velunor_guarded(__func__, [&](Model& m) { return sph_advance_explicit(m, dt); });
}

int velunor_run_explicit(void) {
    return velunor_guarded(__func__, [&](Model& m) { return sph_run_explicit(m); });
}

int velunor_get_current_time(double* time, int* step) {
    return velunor_guarded(__func__, [&](Model& m) {
        if (velunor_any_null(time, step)) return velunor_rejected;
        return sph_get_current_time(m, *time, *step);
    });
}

// ---------------------------------------------------------------------------
// Particle and model queries

int velunor_get_particle_count(int* count) {
    return velunor_guarded(__func__, [&](Model& m) {
        if (velunor_any_null(count)) return velunor_rejected;
        return sph_get_particle_count(m, *count);
    });
}

int velunor_get_input_warning_count(int* count) {
    return velunor_guarded(__func__, [&](Model& m) {
        if (velunor_any_null(count)) return velunor_rejected;
        return sph_get_input_warning_count(m, *count);
    });
}

int velunor_get_particle_state(int max_particles, int* particle_id_ext, int* phase, int* status,
                               int* material_id, int* section_id, double* x, double* v, double* a,
                               double* rho, double* pressure, double* internal_energy,
                               double* temperature, double* h, int* count) {
    return velunor_guarded(__func__, [&](Model& m) {
        if (max_particles < 1 ||
            velunor_any_null(particle_id_ext, phase, status, material_id, section_id, x, v, a, rho,
                             pressure, internal_energy, temperature, h, count)) {
            return velunor_rejected;
        }
        return sph_get_particle_state(m, max_particles, particle_id_ext, phase, status, material_id,
                                      section_id, x, v, a, rho, pressure, internal_energy,
                                      temperature, h, *count);
    });
}

// ---------------------------------------------------------------------------
// Output control and files

int velunor_set_output_directory(const char* path) {
    return velunor_guarded(__func__, [&](Model& m) {
        return velunor_call_path(path, [&](std::string_view directory) {
            return sph_set_output_directory(m, directory);
        });
    });
}

int velunor_set_output_interval(int interval) {
    return velunor_guarded(__func__, [&](Model& m) {
        if (interval <= 0) return velunor_rejected;
        return sph_set_output_interval(m, interval);
    });
}

int velunor_write_output(int step, double time) {
    return velunor_guarded(__func__, [&](Model& m) { return sph_write_output(m, step, time); });
}

int velunor_write_csv(const char* filename) {
    return velunor_guarded(__func__, [&](Model& m) {
        return velunor_call_path(filename,
                                 [&](std::string_view path) { return sph_write_csv(m, path); });
    });
}

int velunor_write_vtu(const char* filename) {
    return velunor_guarded(__func__, [&](Model& m) {
        return velunor_call_path(filename,
                                 [&](std::string_view path) { return sph_write_vtu(m, path); });
    });
}

// ---------------------------------------------------------------------------
// Restart

int velunor_write_restart(const char* filename) {
    return velunor_guarded(__func__, [&](Model& m) {
        return velunor_call_path(filename,
                                 [&](std::string_view path) { return sph_write_restart(m, path); });
    });
}

int velunor_read_restart(const char* filename) {
    return velunor_guarded(__func__, [&](Model& m) {
        return velunor_call_path(filename,
                                 [&](std::string_view path) { return sph_read_restart(m, path); });
    });
}

// ---------------------------------------------------------------------------
// Water queries

int velunor_get_water_summary(double* mass, double* momentum, double* max_pressure,
                              double* min_density, double* max_density) {
    return velunor_guarded(__func__, [&](Model& m) {
        if (velunor_any_null(mass, momentum, max_pressure, min_density, max_density)) {
            return velunor_rejected;
        }
        Vec3 momentum_value;
        const int ierr = sph_get_water_summary(m, *mass, momentum_value, *max_pressure,
                                               *min_density, *max_density);
        copy_out(momentum_value, momentum);
        return ierr;
    });
}

int velunor_get_water_dt_limits(double* dt_cfl, double* dt_accel, double* dt_viscous) {
    return velunor_guarded(__func__, [&](Model& m) {
        if (velunor_any_null(dt_cfl, dt_accel, dt_viscous)) return velunor_rejected;
        return sph_get_water_dt_limits(m, *dt_cfl, *dt_accel, *dt_viscous);
    });
}

// ---------------------------------------------------------------------------
// Gas queries

int velunor_get_gas_summary(double* volume, double* center, double* mean_pressure,
                            double* max_pressure) {
    return velunor_guarded(__func__, [&](Model& m) {
        if (velunor_any_null(volume, center, mean_pressure, max_pressure)) {
            return velunor_rejected;
        }
        Vec3 center_value;
        const int ierr =
            sph_get_gas_summary(m, *volume, center_value, *mean_pressure, *max_pressure);
        copy_out(center_value, center);
        return ierr;
    });
}

int velunor_get_gas_bubble_metrics(double* equivalent_radius, double* radius_rate, double* center) {
    return velunor_guarded(__func__, [&](Model& m) {
        if (velunor_any_null(equivalent_radius, radius_rate, center)) return velunor_rejected;
        Vec3 center_value;
        const int ierr =
            sph_get_gas_bubble_metrics(m, *equivalent_radius, *radius_rate, center_value);
        copy_out(center_value, center);
        return ierr;
    });
}

int velunor_get_gas_dt_limits(double* dt_cfl, double* dt_accel, double* dtcrit) {
    return velunor_guarded(__func__, [&](Model& m) {
        if (velunor_any_null(dt_cfl, dt_accel, dtcrit)) return velunor_rejected;
        return sph_get_gas_dt_limits(m, *dt_cfl, *dt_accel, *dtcrit);
    });
}

int velunor_get_gas_extended_summary(double* mass, double* momentum, double* density_range,
                                     double* dt_limits) {
    return velunor_guarded(__func__, [&](Model& m) {
        if (velunor_any_null(mass, momentum, density_range, dt_limits)) return velunor_rejected;
        Vec3 momentum_value;
        std::array<double, 2> density_values{};
        std::array<double, 3> dt_values{};
        const int ierr =
            sph_get_gas_extended_summary(m, *mass, momentum_value, density_values, dt_values);
        copy_out(momentum_value, momentum);
        copy_out(density_values, density_range);
        copy_out(dt_values, dt_limits);
        return ierr;
    });
}

int velunor_get_gas_source_summary(double* mass_source, double* momentum_source,
                                   double* energy_source) {
    return velunor_guarded(__func__, [&](Model& m) {
        if (velunor_any_null(mass_source, momentum_source, energy_source)) {
            return velunor_rejected;
        }
        Vec3 momentum_value;
        const int ierr =
            sph_get_gas_source_summary(m, *mass_source, momentum_value, *energy_source);
        copy_out(momentum_value, momentum_source);
        return ierr;
    });
}

// ---------------------------------------------------------------------------
// Explosive

int velunor_set_ignition_point(double x, double y, double z, double time) {
    return velunor_guarded(__func__,
                           [&](Model& m) { return sph_set_ignition_point(m, x, y, z, time); });
}

int velunor_get_explosive_summary(int* particle_count, int* reacted_count, double* lambda_range,
                                  double* released_totals, double* detonation_time_range) {
    return velunor_guarded(__func__, [&](Model& m) {
        if (velunor_any_null(particle_count, reacted_count, lambda_range, released_totals,
                             detonation_time_range)) {
            return velunor_rejected;
        }
        std::array<double, 3> lambda_values{};
        std::array<double, 5> released_values{};
        std::array<double, 2> detonation_values{};
        const int ierr = sph_get_explosive_summary(
            m, *particle_count, *reacted_count, lambda_values, released_values, detonation_values);
        copy_out(lambda_values, lambda_range);
        copy_out(released_values, released_totals);
        copy_out(detonation_values, detonation_time_range);
        return ierr;
    });
}

int velunor_get_explosive_release_balance(double* mass_values, double* energy_values,
                                          double* momentum_values) {
    return velunor_guarded(__func__, [&](Model& m) {
        if (velunor_any_null(mass_values, energy_values, momentum_values)) {
            return velunor_rejected;
        }
        std::array<double, 4> mass_balance{};
        std::array<double, 2> energy_balance{};
        std::array<double, 3> momentum_balance{};
        const int ierr =
            sph_get_explosive_release_balance(m, mass_balance, energy_balance, momentum_balance);
        copy_out(mass_balance, mass_values);
        copy_out(energy_balance, energy_values);
        copy_out(momentum_balance, momentum_values);
        return ierr;
    });
}

// ---------------------------------------------------------------------------
// Coupling exchange. These skip the life-cycle guards and work on whatever
// the database holds.

int velunor_coupling_get_region_count(int* count) {
    return velunor_guarded(__func__, [&](Model& m) {
        if (velunor_any_null(count)) return velunor_rejected;
        *count = static_cast<int>(m.db.coupling_regions.size());
        return sph_success;
    });
}

int velunor_coupling_get_region_info(int region_index, char* name, int name_capacity,
                                     int* region_type, int* export_mode, int* import_mode,
                                     int* enabled, int* particle_count, int* facet_count) {
    return velunor_guarded(__func__, [&](Model& m) {
        if (region_index < 1 || name == nullptr || name_capacity < 2 ||
            velunor_any_null(region_type, export_mode, import_mode, enabled, particle_count,
                             facet_count)) {
            return velunor_rejected;
        }
        CouplingRegionInfo info;
        const int ierr = sph_coupling_get_region_info(m, region_index, info);
        *region_type = info.region_type;
        *export_mode = info.export_mode;
        *import_mode = info.import_mode;
        *enabled = info.enabled;
        *particle_count = info.particle_count;
        *facet_count = info.facet_count;
        if (ierr == sph_success) velunor_text_out(info.name, name, name_capacity);
        return ierr;
    });
}

int velunor_coupling_get_region_modes(int region_index, int* load_mode, int* distribution_mode,
                                      int* contact_state_mode) {
    return velunor_guarded(__func__, [&](Model& m) {
        if (region_index < 1 ||
            velunor_any_null(load_mode, distribution_mode, contact_state_mode)) {
            return velunor_rejected;
        }
        return sph_coupling_get_region_modes(m, region_index, *load_mode, *distribution_mode,
                                             *contact_state_mode);
    });
}

int velunor_coupling_export_particles(int region_index, int capacity, int* count, int* ext_ids,
                                      int* internal_indices, int* phases, int* statuses,
                                      int* materials, int* sections, double* scalar_values,
                                      double* vector_values) {
    return velunor_guarded(__func__, [&](Model& m) {
        if (region_index < 1 || capacity < 0 ||
            velunor_any_null(count, ext_ids, internal_indices, phases, statuses, materials,
                             sections, scalar_values, vector_values)) {
            return velunor_rejected;
        }
        const CouplingParticleExport out{ext_ids,   internal_indices, phases,        statuses,
                                         materials, sections,         scalar_values, vector_values};
        return sph_coupling_export_particles(m, region_index, capacity, *count, out);
    });
}

int velunor_coupling_export_facets(int region_index, int capacity, int* count, int* facet_ids,
                                   int* particle_ids, int* materials, int* sections,
                                   double* vector_values, double* area_values) {
    return velunor_guarded(__func__, [&](Model& m) {
        if (region_index < 1 || capacity < 0 ||
            velunor_any_null(count, facet_ids, particle_ids, materials, sections, vector_values,
                             area_values)) {
            return velunor_rejected;
        }
        const CouplingFacetExport out{facet_ids, particle_ids,  materials,
                                      sections,  vector_values, area_values};
        return sph_coupling_export_facets(m, region_index, capacity, *count, out);
    });
}

// Rejections shared by the imports of n entries with `per_entry` values each:
// with n >= 1 both arrays must exist and every value must be finite.
static bool import_rejected(int region_index, int n, const int* ids, const double* values,
                            int per_entry) {
    if (region_index < 1 || n < 0) return true;
    if (n == 0) return false;
    return ids == nullptr ||
           velunor_values_are_finite(values, static_cast<std::int64_t>(n) * per_entry) == 0;
}

int velunor_coupling_apply_particle_forces(int region_index, int force_count,
                                           const int* export_indices, const double* forces) {
    return velunor_guarded(__func__, [&](Model& m) {
        if (import_rejected(region_index, force_count, export_indices, forces, 3)) {
            return velunor_rejected;
        }
        return sph_coupling_apply_particle_forces(m, region_index, force_count, export_indices,
                                                  forces);
    });
}

int velunor_coupling_apply_facet_loads(int region_index, int load_count, const int* facet_ids,
                                       const double* loads) {
    return velunor_guarded(__func__, [&](Model& m) {
        if (import_rejected(region_index, load_count, facet_ids, loads, 3)) {
            return velunor_rejected;
        }
        return sph_coupling_apply_facet_loads(m, region_index, load_count, facet_ids, loads);
    });
}

int velunor_coupling_apply_facet_pressures(int region_index, int load_count, const int* facet_ids,
                                           const double* pressures, int distribution_mode,
                                           int coupling_step) {
    return velunor_guarded(__func__, [&](Model& m) {
        if (coupling_step < 0 ||
            import_rejected(region_index, load_count, facet_ids, pressures, 1)) {
            return velunor_rejected;
        }
        return sph_coupling_apply_facet_pressures(m, region_index, load_count, facet_ids, pressures,
                                                  distribution_mode, coupling_step);
    });
}

int velunor_coupling_apply_facet_tractions(int region_index, int load_count, const int* facet_ids,
                                           const double* tractions, int distribution_mode,
                                           int coupling_step) {
    return velunor_guarded(__func__, [&](Model& m) {
        if (coupling_step < 0 ||
            import_rejected(region_index, load_count, facet_ids, tractions, 3)) {
            return velunor_rejected;
        }
        return sph_coupling_apply_facet_tractions(m, region_index, load_count, facet_ids, tractions,
                                                  distribution_mode, coupling_step);
    });
}

int velunor_coupling_apply_facet_resultants(int region_index, int load_count, const int* facet_ids,
                                            const double* resultants, int distribution_mode,
                                            int coupling_step) {
    return velunor_guarded(__func__, [&](Model& m) {
        if (coupling_step < 0 ||
            import_rejected(region_index, load_count, facet_ids, resultants, 3)) {
            return velunor_rejected;
        }
        return sph_coupling_apply_facet_resultants(m, region_index, load_count, facet_ids,
                                                   resultants, distribution_mode, coupling_step);
    });
}

int velunor_coupling_apply_contact_state(int region_index, int contact_count, const int* facet_ids,
                                         const double* normals, const double* gaps,
                                         const double* penetrations,
                                         const double* contact_pressures, int coupling_step) {
    return velunor_guarded(__func__, [&](Model& m) {
        if (region_index < 1 || contact_count < 0 || coupling_step < 0) return velunor_rejected;
        if (contact_count >= 1) {
            const std::int64_t n = contact_count;
            if (velunor_any_null(facet_ids, normals, gaps, penetrations, contact_pressures) ||
                !velunor_values_are_finite(normals, 3 * n) || !velunor_values_are_finite(gaps, n) ||
                !velunor_values_are_finite(penetrations, n) ||
                !velunor_values_are_finite(contact_pressures, n)) {
                return velunor_rejected;
            }
        }
        return sph_coupling_apply_contact_state(m, region_index, contact_count, facet_ids, normals,
                                                gaps, penetrations, contact_pressures,
                                                coupling_step);
    });
}

int velunor_coupling_apply_motion_boundary(int region_index, int export_index, int target_kind,
                                           int mode, const double* target) {
    return velunor_guarded(__func__, [&](Model& m) {
        if (region_index < 1 || export_index < 1 || !velunor_values_are_finite(target, 3)) {
            return velunor_rejected;
        }
        return sph_coupling_apply_motion_boundary(m, region_index, export_index, target_kind, mode,
                                                  Vec3{target[0], target[1], target[2]});
    });
}

int velunor_coupling_clear_imports(void) {
    return velunor_guarded(__func__, [&](Model& m) { return sph_coupling_clear_imports(m); });
}

int velunor_coupling_get_load_balance(double* input_force, double* distributed_force,
                                      double* force_error, double* input_moment,
                                      double* distributed_moment, double* moment_error) {
    return velunor_guarded(__func__, [&](Model& m) {
        if (velunor_any_null(input_force, distributed_force, force_error, input_moment,
                             distributed_moment, moment_error)) {
            return velunor_rejected;
        }
        Vec3 in_force, out_force, in_moment, out_moment;
        sph_coupling_get_load_balance(m.coupling, in_force, out_force, *force_error, in_moment,
                                      out_moment, *moment_error);
        copy_out(in_force, input_force);
        copy_out(out_force, distributed_force);
        copy_out(in_moment, input_moment);
        copy_out(out_moment, distributed_moment);
        return sph_success;
    });
}

int velunor_coupling_get_contact_diagnostics(int* counts, int count_capacity, double* values,
                                             int value_capacity) {
    return velunor_guarded(__func__, [&](Model& m) {
        if (velunor_any_null(counts, values) || count_capacity < 7 || value_capacity < 1) {
            return velunor_rejected;
        }
        sph_coupling_get_contact_diagnostics(m.coupling, counts[0], counts[1], values[0], counts[2],
                                             counts[3], counts[4], counts[5], counts[6]);
        return sph_success;
    });
}

int velunor_coupling_get_diagnostics(double* values, int value_capacity, int* counts,
                                     int count_capacity) {
    return velunor_guarded(__func__, [&](Model& m) {
        if (velunor_any_null(values, counts) || value_capacity < 27 || count_capacity < 12) {
            return velunor_rejected;
        }
        return sph_coupling_get_diagnostic_values(m, value_capacity, values, count_capacity,
                                                  counts);
    });
}
