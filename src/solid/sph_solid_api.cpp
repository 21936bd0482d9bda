#include "solid/sph_solid_api.hpp"

#include <algorithm>

#include "core/sph_error.hpp"
#include "core/sph_model.hpp"
#include "solid/sph_solid_dynamics.hpp"

int sph_solid_get_summary(Model& m, int& active_count, int& failed_count,
                          std::array<double, 16>& values) {
    active_count = 0;
    failed_count = 0;
    values.fill(0.0);
    if (const int st = sph_solid_update_diagnostics(m)) return st;
    double cfl = 0.0, accel = 0.0, limit = 0.0;
    if (const int st = sph_solid_estimate_dt_limits(m, cfl, accel, limit)) return st;
    const SolidDiagnostics& d = m.db.solid;
    active_count = d.solid_particle_count;
    failed_count = d.solid_failed_count;
    values = {d.solid_mass,
              d.solid_momentum.x,
              d.solid_momentum.y,
              d.solid_momentum.z,
              d.solid_kinetic_energy,
              d.solid_internal_energy_total,
              d.solid_max_von_mises,
              d.solid_min_plastic_strain,
              d.solid_max_plastic_strain,
              d.solid_min_damage,
              d.solid_max_damage,
              d.solid_min_softening,
              d.solid_max_softening,
              cfl,
              accel,
              limit};
    return sph_success;
}

int sph_solid_get_state(Model& m, int max_particles, int value_capacity, double* values,
                        int* failure_status, int* reference_neighbor_count,
                        int* reference_degenerate, int* correction_status, int& count) {
    count = 0;
    if (value_capacity < sph_solid_state_value_count || max_particles <= 0) {
        return sph_error_set(m.error, sph_error_argument, "Solid state buffer is too small");
    }
    const int npart = m.db.npart;
    if (max_particles < npart) {
        return sph_error_set(m.error, sph_error_argument,
                             "Solid state particle buffer is too small");
    }
    // value_capacity values per particle, the first 22 filled.
    const std::size_t stride = static_cast<std::size_t>(value_capacity);
    const std::size_t n = static_cast<std::size_t>(max_particles);
    std::fill_n(values, stride * n, 0.0);
    for (int* array :
         {failure_status, reference_neighbor_count, reference_degenerate, correction_status}) {
        std::fill_n(array, n, 0);
    }
    count = npart;
    const SolidState& s = m.solid;
    if (npart <= 0 || s.solid_stress.size() != static_cast<std::size_t>(npart)) {
        return sph_success;
    }
    for (int p = 0; p < npart; ++p) {
        const std::size_t k = static_cast<std::size_t>(p);
        double* out = values + stride * k;
        for (int c = 0; c < 6; ++c) {
            out[c] = s.solid_stress[k][c];
            out[6 + c] = s.solid_strain[k][c];
            out[12 + c] = s.solid_strain_rate[k][c];
        }
        out[18] = s.solid_plastic_strain[k];
        out[19] = s.solid_damage[k];
        out[20] = s.solid_softening[k];
        out[21] = s.solid_strain_rate_eq[k];
        failure_status[k] = s.solid_failure_status[k];
        reference_neighbor_count[k] = s.solid_reference_neighbor_count[k];
        reference_degenerate[k] = s.solid_reference_degenerate[k];
        correction_status[k] = s.solid_correction_status[k];
    }
    return sph_success;
}

int sph_solid_get_diagnostics(Model& m, int value_capacity, double* values) {
    if (value_capacity <= 2) {
        return sph_error_set(m.error, sph_error_argument, "Solid diagnostic buffer is too small");
    }
    std::fill_n(values, static_cast<std::size_t>(value_capacity), 0.0);
    if (const int st = sph_solid_update_diagnostics(m)) return st;
    const SolidDiagnostics& d = m.db.solid;
    values[0] = d.solid_max_strain_rate;
    values[1] = d.solid_max_acceleration;
    values[2] = d.solid_internal_force_residual;
    return sph_success;
}

int sph_solid_get_reference_quality(Model& m, int& reference_neighbor_min,
                                    double& correction_det_min, int& correction_status_max) {
    reference_neighbor_min = 0;
    correction_det_min = 0.0;
    correction_status_max = 0;
    if (const int st = sph_solid_update_diagnostics(m)) return st;
    const SolidDiagnostics& d = m.db.solid;
    reference_neighbor_min = d.solid_reference_neighbor_min;
    correction_det_min = d.solid_correction_det_min;
    correction_status_max = d.solid_correction_status_max;
    return sph_success;
}
