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
//   rho_j^H = rho0 ((rho_i/rho0)^gamma + rho0 g . r_ji / B)^(1/gamma),
// so the pair diffuses rho_j - rho_j^H = (rho_j - rho_i) - (rho_j^H - rho_i).
// At rho_i = rho0 this is Fourtakas' rho0 ((1 + rho0 g . r_ji / B)^(1/gamma) - 1);
// taken about rho_i it is exact for a column whose pressure grows as
// rho0 |g| depth, at any depth.
struct WaterDiffusion {
    bool on = false;
    bool hydrostatic = false;  // a body force acts
    double delta_c0 = 0.0;     // delta c0; times h_i per particle
    Vec3 g_over_b;             // rho0 g / B
    double inv_gamma = 1.0;
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
    return d;
}

// (rho_i/rho0)^gamma, once per particle i.
inline double sph_water_hydrostatic_base(const WaterState& w, double rho_i) {
    return std::pow(rho_i / w.water_rho0, w.water_gamma);
}

// rho_j - rho_j^H for the pair r_ij = (rx, ry, rz) (g . r_ji = -g . r_ij). A
// tension beyond the Tait range (negative bracket) has no hydrostatic density;
// it counts as 0 rather than NaN.
inline double sph_water_dynamic_density(const WaterState& w, const WaterDiffusion& d, double base_i,
                                        double rho_j, double rx, double ry, double rz) {
    const double bracket = base_i - (d.g_over_b.x * rx + d.g_over_b.y * ry + d.g_over_b.z * rz);
    const double rho_h = bracket > 0.0 ? w.water_rho0 * std::pow(bracket, d.inv_gamma) : 0.0;
    return rho_j - rho_h;
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
