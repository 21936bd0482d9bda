#pragma once
// The Wendland C2 kernel gradient in pieces, for the steps' pair passes. The
// pieces are templates so that a pass can evaluate several pairs at once (T a
// vector of doubles) with the very same operations as on one pair (T =
// double); they are inlined into those loops, so the note that passing 32-byte
// vectors differs between AVX and non-AVX code does not apply.

#include <cmath>

#include "core/sph_vec3.hpp"

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wpsabi"

// The Wendland C2 kernel gradient of sph_kernel_gradient (type 1) for a
// smoothing length h > 0, in pieces the steps' pair passes (water, gas) use one
// by one: the normalisation `fac` = 21 / (16 pi h^3), computed once per
// particle; dW/dr at q = r / h; whether the gradient is zero; one component.
// They repeat the kernel module's arithmetic operation for operation, so the
// results are the same bits; a test compares the two on random input.
inline double sph_wendland_c2_factor(double h) {
    return 21.0 / (50.26548245743669 * (h * h * h));
}

template <class T>
[[gnu::always_inline]] inline T sph_wendland_c2_dwdr(T q, double h, double fac) {
    const T b = 1.0 - q / 2.0;
    return -fac * 5.0 * q * (b * b * b) / h;
}

#pragma GCC diagnostic pop

// Zero gradient: coincident particles or outside the support (NaN is neither).
inline bool sph_wendland_c2_zero(double r, double q) {
    return r <= 0.0 || q >= 2.0;
}

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wpsabi"
template <class T>
[[gnu::always_inline]] inline T sph_wendland_c2_component(T r_k, T dwdr, T r) {
    return r_k * dwdr / r;
}
#pragma GCC diagnostic pop

inline Vec3 sph_wendland_c2_gradient(const Vec3& rij, double h, double fac) {
    const double r = std::sqrt(dot(rij, rij));
    const double q = r / h;
    if (sph_wendland_c2_zero(r, q)) return Vec3{};
    const double dwdr = sph_wendland_c2_dwdr(q, h, fac);
    return Vec3{sph_wendland_c2_component(rij.x, dwdr, r),
                sph_wendland_c2_component(rij.y, dwdr, r),
                sph_wendland_c2_component(rij.z, dwdr, r)};
}
