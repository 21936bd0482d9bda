#pragma once
// Formulas of the water phase shared by the plain operations and the step's
// fused pair pass, written once so that both evaluate every expression in the
// same order and give bit-identical results.

#include <cmath>

#include "core/sph_vec3.hpp"
#include "water/sph_water.hpp"

// Tait equation of state (parameters already checked).
inline double sph_water_tait_value(const WaterState& w, double rho) {
    return w.water_p0 + w.water_b * (std::pow(rho / w.water_rho0, w.water_gamma) - 1.0);
}

// Monaghan mu = h_bar (v_ij . r_ij) / (|r_ij|^2 + eta^2 h_bar^2).
inline double sph_water_visc_mu(const WaterState& w, double h_bar, double vr, double r2) {
    return h_bar * vr / (r2 + w.water_visc_eta2 * (h_bar * h_bar));
}

// Monaghan Pi = (beta mu^2 - alpha c0 mu) / rho_bar.
inline double sph_water_visc_pi(const WaterState& w, double mu, double rho_bar) {
    return (w.water_visc_beta * (mu * mu) - w.water_visc_alpha * w.water_c0 * mu) / rho_bar;
}

// The Wendland C2 kernel gradient of sph_kernel_gradient (type 1) for a
// smoothing length h > 0 whose normalisation `fac` = 21 / (16 pi h^3) the
// caller computed once (sph_water_wendland_factor). It repeats the kernel
// module's arithmetic operation for operation, so the results are the same
// bits; a test compares the two on random input.
inline double sph_water_wendland_factor(double h) {
    return 21.0 / (50.26548245743669 * h * h * h);
}

inline Vec3 sph_water_wendland_gradient(const Vec3& rij, double h, double fac) {
    const double r = std::sqrt(dot(rij, rij));
    if (r <= 0.0) return Vec3{};
    const double q = r / h;
    if (q >= 2.0) return Vec3{};
    const double b = 1.0 - q / 2.0;
    const double dwdr = -fac * 5.0 * q * (b * b * b) / h;
    return Vec3{rij.x * dwdr / r, rij.y * dwdr / r, rij.z * dwdr / r};
}
