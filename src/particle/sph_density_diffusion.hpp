#pragma once
// Density diffusion of the continuity equation (delta-SPH, Molteni &
// Colagrossi 2009), shared by the water and gas pair passes:
//
//   drho_i/dt += delta h_i c sum_j psi_ij . grad_i W_ij (m_j / rho_j),
//   psi_ij = 2 (rho_j - rho_i) r_ji / (|r_ij|^2 + eta^2),  eta^2 = 0.01 h_i^2,
//
// with r_ji = x_j - x_i. grad_i W_ij points along r_ij with a negative
// derivative, so r_ji . grad_i W_ij >= 0 and a denser neighbor raises rho_i:
// the term smooths density. It is antisymmetric in (i, j) for equal h, so
// sum_i (m_i / rho_i) drho_i/dt of the term is zero.
//
// The pair term is a template so that the water pass can evaluate several
// pairs at once (T a vector of doubles) with the very same operations as the
// plain pass on one pair (T = double); it is inlined into those loops, so the
// note that passing 32-byte vectors differs between AVX and non-AVX code does
// not apply.

inline constexpr double sph_density_diffusion_eta2_factor = 0.01;

inline double sph_density_diffusion_eta2(double h) {
    return sph_density_diffusion_eta2_factor * (h * h);
}

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wpsabi"

// psi_ij . grad_i W_ij (m_j / rho_j) without the factor delta h_i c, from the
// density difference d (rho_j - rho_i, or its dynamic part), rg = r_ij .
// grad_i W_ij (so r_ji . grad_i W_ij = -rg), r2 = |r_ij|^2 and volume_j =
// m_j / rho_j.
template <class T>
[[gnu::always_inline]] inline T sph_density_diffusion_pair(T d, T rg, T r2, double eta2,
                                                           T volume_j) {
    return 2.0 * d * -rg / (r2 + eta2) * volume_j;
}

#pragma GCC diagnostic pop
