// C layer: the four solid queries of include/velunor.h.

#include <cstring>

#include "interface/sph_c_api_internal.hpp"
#include "velunor.h"

int velunor_get_solid_summary(int* active_count, int* failed_count, double* values,
                              int value_capacity) {
    return velunor_guarded(__func__, [&](Model& m) {
        if (velunor_any_null(active_count, failed_count, values) || value_capacity < 16) {
            return velunor_rejected;
        }
        std::array<double, 16> summary{};
        const int ierr = sph_get_solid_summary(m, *active_count, *failed_count, summary);
        // A failed summary leaves the host's values as they were.
        if (ierr == sph_success) std::memcpy(values, summary.data(), sizeof(summary));
        return ierr;
    });
}

int velunor_get_solid_particle_state(int max_particles, double* values, int value_capacity,
                                     int* failure_status, int* reference_neighbor_count,
                                     int* reference_degenerate, int* correction_status,
                                     int* count) {
    return velunor_guarded(__func__, [&](Model& m) {
        if (max_particles < 1 ||
            velunor_any_null(values, failure_status, reference_neighbor_count, reference_degenerate,
                             correction_status, count) ||
            static_cast<std::int64_t>(value_capacity) <
                static_cast<std::int64_t>(sph_solid_state_values_per_particle) * max_particles) {
            return velunor_rejected;
        }
        return sph_get_solid_state(m, max_particles, values, failure_status,
                                   reference_neighbor_count, reference_degenerate,
                                   correction_status, *count);
    });
}

int velunor_get_solid_diagnostics(double* values, int value_capacity) {
    return velunor_guarded(__func__, [&](Model& m) {
        if (values == nullptr || value_capacity < 3) return velunor_rejected;
        return sph_get_solid_diagnostics(m, values, value_capacity);
    });
}

int velunor_get_solid_reference_quality(int* reference_neighbor_min, int* correction_status,
                                        double* values, int value_capacity) {
    return velunor_guarded(__func__, [&](Model& m) {
        if (velunor_any_null(reference_neighbor_min, correction_status, values) ||
            value_capacity < 1) {
            return velunor_rejected;
        }
        return sph_get_solid_reference_quality(m, *reference_neighbor_min, *correction_status,
                                               values[0]);
    });
}
