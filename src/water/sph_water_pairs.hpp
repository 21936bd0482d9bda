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

// The pair formulas below are templates so that the pair pass can evaluate
// them on several pairs at once (T a vector of doubles) with the very same
// operations as on one pair (T = double). They are inlined into that loop, so
// the note that passing 32-byte vectors differs between AVX and non-AVX code
// does not apply.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wpsabi"

// Monaghan mu = h_bar (v_ij . r_ij) / (|r_ij|^2 + eta^2 h_bar^2).
template <class T>
[[gnu::always_inline]] inline T sph_water_visc_mu(const WaterState& w, T h_bar, T vr, T r2) {
    return h_bar * vr / (r2 + w.water_visc_eta2 * (h_bar * h_bar));
}

// Monaghan Pi = (beta mu^2 - alpha c0 mu) / rho_bar.
template <class T>
[[gnu::always_inline]] inline T sph_water_visc_pi(const WaterState& w, T mu, T rho_bar) {
    return (w.water_visc_beta * (mu * mu) - w.water_visc_alpha * w.water_c0 * mu) / rho_bar;
}

// The Wendland C2 kernel gradient of sph_kernel_gradient (type 1) for a
// smoothing length h > 0, in pieces the step's vectorized pair pass uses one
// by one: the normalisation `fac` = 21 / (16 pi h^3), computed once per
// particle; dW/dr at q = r / h; whether the gradient is zero; one component.
// They repeat the kernel module's arithmetic operation for operation, so the
// results are the same bits; a test compares the two on random input.
inline double sph_water_wendland_factor(double h) {
    return 21.0 / (50.26548245743669 * (h * h * h));
}

template <class T>
[[gnu::always_inline]] inline T sph_water_wendland_dwdr(T q, double h, double fac) {
    const T b = 1.0 - q / 2.0;
    return -fac * 5.0 * q * (b * b * b) / h;
}

#pragma GCC diagnostic pop

// Zero gradient: coincident particles or outside the support (NaN is neither).
inline bool sph_water_wendland_zero(double r, double q) {
    return r <= 0.0 || q >= 2.0;
}

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wpsabi"
template <class T>
[[gnu::always_inline]] inline T sph_water_wendland_component(T r_k, T dwdr, T r) {
    return r_k * dwdr / r;
}
#pragma GCC diagnostic pop

inline Vec3 sph_water_wendland_gradient(const Vec3& rij, double h, double fac) {
    const double r = std::sqrt(dot(rij, rij));
    const double q = r / h;
    if (sph_water_wendland_zero(r, q)) return Vec3{};
    const double dwdr = sph_water_wendland_dwdr(q, h, fac);
    return Vec3{sph_water_wendland_component(rij.x, dwdr, r),
                sph_water_wendland_component(rij.y, dwdr, r),
                sph_water_wendland_component(rij.z, dwdr, r)};
}
