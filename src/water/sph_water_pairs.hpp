#pragma once
// Formulas of the water phase shared by the plain operations and the step's
// fused pair pass, written once so that both evaluate every expression in the
// same order and give bit-identical results.

#include <cmath>

#include "core/sph_vec3.hpp"
#include "particle/sph_density_diffusion.hpp"
#include "particle/sph_kernel_wendland.hpp"
#include "water/sph_water.hpp"

// Tait equation of state (parameters already checked).
inline double sph_water_tait_value(const WaterState& w, double rho) {
    return w.water_p0 + w.water_b * (std::pow(rho / w.water_rho0, w.water_gamma) - 1.0);
}

// Density diffusion of the water (off when its coefficient is 0): the
// constants of one pass. With a body force the density difference of a pair
// is reduced to its dynamic part (Fourtakas et al. 2019): the hydrostatic
// pressure step from x_i to x_j is p_j^H - p_i = rho0 g . r_ji, and the Tait
// equation p = p0 + B ((rho/rho0)^gamma - 1) turns it into the hydrostatic
// density of j seen from i,
//   rho_j^H = rho0 ((rho_i/rho0)^gamma + rho0 g . r_ji / B)^(1/gamma)
//           = rho_i (1 + t)^(1/gamma),  t = rho0 g . r_ji / (B (rho_i/rho0)^gamma),
// so the pair diffuses (rho_j - rho_i) - rho_i ((1 + t)^(1/gamma) - 1). At
// rho_i = rho0 this is Fourtakas' rho0 ((1 + rho0 g . r_ji / B)^(1/gamma) - 1);
// taken about rho_i it is exact for a column whose pressure grows as
// rho0 |g| depth, at any depth.
//
// (1 + t)^a - 1 is a sum of its binomial series through t^8 for |t| <= 0.01
// (the rest is about 1e-17 of it or less for gamma >= 1, and t is about
// gamma |g| 2h / c0^2: 1e-6 for sea water, 1e-3 at c0 = 10 sqrt(g H) with
// H = 50 h), which the pair pass evaluates four pairs at a time instead of a
// pow per pair; larger |t| take expm1(a log1p(t)), and 1 + t <= 0 (tension
// beyond the Tait range, no hydrostatic density) counts as a hydrostatic
// density of 0.
inline constexpr double sph_water_hydrostatic_series_limit = 0.01;
inline constexpr int sph_water_hydrostatic_terms = 8;

struct WaterDiffusion {
    bool on = false;
    bool hydrostatic = false;  // a body force acts
    double delta_c0 = 0.0;     // delta c0; times h_i per particle
    Vec3 g_over_b;             // rho0 g / B
    double inv_gamma = 1.0;
    double series[sph_water_hydrostatic_terms] = {};  // binomial coefficients of (1 + t)^(1/gamma)
};

inline WaterDiffusion sph_water_diffusion_setup(const WaterState& w) {
    WaterDiffusion d;
    d.on = w.water_density_diffusion > 0.0;
    if (!d.on) return d;
    const Vec3& g = w.water_body_force;
    d.hydrostatic = g.x != 0.0 || g.y != 0.0 || g.z != 0.0;
    d.delta_c0 = w.water_density_diffusion * w.water_c0;
    d.g_over_b = (w.water_rho0 / w.water_b) * g;
    d.inv_gamma = 1.0 / w.water_gamma;
    double c = d.inv_gamma;
    for (int k = 0; k < sph_water_hydrostatic_terms; ++k) {
        d.series[k] = c;
        c = c * (d.inv_gamma - (k + 1)) / (k + 2);
    }
    return d;
}

// rho0 g / (B (rho_i/rho0)^gamma), once per particle i: t = -(this . r_ij).
inline Vec3 sph_water_hydrostatic_gradient(const WaterState& w, const WaterDiffusion& d,
                                           double rho_i) {
    return (1.0 / std::pow(rho_i / w.water_rho0, w.water_gamma)) * d.g_over_b;
}

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wpsabi"

// t from the pair r_ij = (rx, ry, rz) and the particle's gradient gi.
template <class T>
[[gnu::always_inline]] inline T sph_water_hydrostatic_t(const Vec3& gi, T rx, T ry, T rz) {
    return -(gi.x * rx + gi.y * ry + gi.z * rz);
}

// (1 + t)^(1/gamma) - 1 by its series (Horner, highest term first).
template <class T>
[[gnu::always_inline]] inline T sph_water_hydrostatic_series(const WaterDiffusion& d, T t) {
    T s = t * d.series[sph_water_hydrostatic_terms - 1];
    for (int k = sph_water_hydrostatic_terms - 2; k >= 0; --k) s = t * (d.series[k] + s);
    return s;
}

// The dynamic density difference from rho_j - rho_i and the step s.
template <class T>
[[gnu::always_inline]] inline T sph_water_dynamic_density(T drho, double rho_i, T s) {
    return drho - rho_i * s;
}

#pragma GCC diagnostic pop

inline bool sph_water_hydrostatic_in_series(double t) {
    return t <= sph_water_hydrostatic_series_limit && t >= -sph_water_hydrostatic_series_limit;
}

// (1 + t)^(1/gamma) - 1 for any t.
inline double sph_water_hydrostatic_step(const WaterDiffusion& d, double t) {
    if (sph_water_hydrostatic_in_series(t)) return sph_water_hydrostatic_series(d, t);
    if (!(t > -1.0)) return -1.0;
    return std::expm1(d.inv_gamma * std::log1p(t));
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
