#pragma once
// SPH smoothing kernels in three dimensions.

#include "core/sph_vec3.hpp"

struct ErrorState;

inline constexpr int sph_kernel_wendland_c2 = 1;
inline constexpr int sph_kernel_wendland_c4 = 2;
inline constexpr int sph_kernel_cubic_spline = 3;
inline constexpr int sph_kernel_default = 1;
inline constexpr double sph_pi = 3.141592653589793;

struct ParticleModuleState {
    bool particle_module_initialized = false;
};

void sph_particle_initialize(ParticleModuleState& state);
void sph_particle_reset(ParticleModuleState& state);

bool sph_kernel_is_supported(int kernel_type);
[[nodiscard]] int sph_kernel_support_radius(ErrorState& error, int kernel_type, double h_value,
                                            double& support);
[[nodiscard]] int sph_kernel_value(ErrorState& error, int kernel_type, double r_value,
                                   double h_value, double& w_value);
[[nodiscard]] int sph_kernel_gradient(ErrorState& error, int kernel_type, const Vec3& rij,
                                      double h_value, Vec3& grad_w);
