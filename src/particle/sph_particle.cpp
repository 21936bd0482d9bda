#include "particle/sph_particle.hpp"

#include <cmath>

#include "core/sph_error.hpp"

namespace {

// Normalising denominators: the literal products 16*pi and 256*pi.
constexpr double sixteen_pi = 50.26548245743669;
constexpr double two_hundred_fifty_six_pi = 804.247719318987;

// Validates h and the kernel type in the documented order. A NaN smoothing
// length is not positive either and is refused with the same message, so no
// caller goes on with a kernel that silently yields NaN everywhere.
int check_kernel_arguments(ErrorState& error, int kernel_type, double h_value) {
    if (!(h_value > 0.0)) {
        return sph_error_set(error, sph_error_argument, "kernel smoothing length must be positive");
    }
    if (!sph_kernel_is_supported(kernel_type)) {
        return sph_error_set(error, sph_error_argument, "unknown SPH kernel type");
    }
    return sph_success;
}

}  // namespace

void sph_particle_initialize(ParticleModuleState& state) {
    state.particle_module_initialized = true;
}
void sph_particle_reset(ParticleModuleState& state) {
    state.particle_module_initialized = false;
}

bool sph_kernel_is_supported(int kernel_type) {
    return kernel_type == sph_kernel_wendland_c2 || kernel_type == sph_kernel_wendland_c4 ||
           kernel_type == sph_kernel_cubic_spline;
}

int sph_kernel_support_radius(ErrorState& error, int kernel_type, double h_value, double& support) {
    support = 0.0;
    if (const int status = check_kernel_arguments(error, kernel_type, h_value)) return status;
    support = 2.0 * h_value;
    return sph_success;
}

int sph_kernel_value(ErrorState& error, int kernel_type, double r_value, double h_value,
                     double& w_value) {
    w_value = 0.0;
    if (const int status = check_kernel_arguments(error, kernel_type, h_value)) return status;
    const double q = std::fabs(r_value) / h_value;
    if (q >= 2.0) return sph_success;
    const double h3 = h_value * h_value * h_value;
    const double b = 1.0 - q / 2.0;
    switch (kernel_type) {
        case sph_kernel_wendland_c2: {
            const double b2 = b * b;
            w_value = 21.0 / (sixteen_pi * h3) * (b2 * b2) * (1.0 + 2.0 * q);
            break;
        }
        case sph_kernel_wendland_c4: {
            const double b2 = b * b;
            const double b6 = b2 * b2 * b2;
            w_value = 495.0 / (two_hundred_fifty_six_pi * h3) * b6 *
                      (1.0 + 3.0 * q + 35.0 * (q * q) / 12.0);
            break;
        }
        default: {  // cubic spline
            const double sigma = 1.0 / (sph_pi * h3);
            if (q < 1.0) {
                w_value = sigma * (1.0 - 1.5 * (q * q) + 0.75 * (q * q * q));
            } else {
                const double t = 2.0 - q;
                w_value = sigma * (0.25 * (t * t * t));
            }
            break;
        }
    }
    return sph_success;
}

int sph_kernel_gradient(ErrorState& error, int kernel_type, const Vec3& rij, double h_value,
                        Vec3& grad_w) {
    grad_w = Vec3{};
    if (const int status = check_kernel_arguments(error, kernel_type, h_value)) return status;
    const double r = norm(rij);
    if (r <= 0.0) return sph_success;  // coincident particles: no direction
    const double q = r / h_value;
    if (q >= 2.0) return sph_success;
    const double h3 = h_value * h_value * h_value;
    const double b = 1.0 - q / 2.0;
    double dw_dr = 0.0;
    switch (kernel_type) {
        case sph_kernel_wendland_c2:
            dw_dr = -(21.0 / (sixteen_pi * h3)) * 5.0 * q * (b * b * b) / h_value;
            break;
        case sph_kernel_wendland_c4: {
            const double b2 = b * b;
            const double b5 = b2 * b2 * b;
            dw_dr = (495.0 / (two_hundred_fifty_six_pi * h3)) * b5 *
                    ((3.0 + 35.0 * q / 6.0) * b - 3.0 * (35.0 * (q * q) / 12.0 + 3.0 * q + 1.0)) /
                    h_value;
            break;
        }
        default:  // cubic spline
            if (q < 1.0) {
                dw_dr = (2.25 * (q * q) - 3.0 * q) / (sph_pi * h3) / h_value;
            } else {
                const double t = 2.0 - q;
                dw_dr = -0.75 * (t * t) / (sph_pi * h3) / h_value;
            }
            break;
    }
    grad_w.x = rij.x * dw_dr / r;
    grad_w.y = rij.y * dw_dr / r;
    grad_w.z = rij.z * dw_dr / r;
    return sph_success;
}
