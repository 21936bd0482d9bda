#pragma once
// Formulas of the water phase shared by the plain operations and the step's
// fused pair pass, written once so that both evaluate every expression in the
// same order and give bit-identical results.

#include <cmath>

#include "core/sph_vec3.hpp"
#include "particle/sph_kernel_wendland.hpp"
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

#pragma GCC diagnostic pop
