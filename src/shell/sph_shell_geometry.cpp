// Shell geometry: vector helpers, area vectors, the cloud director and
// tangent of a section, the fallback tangent, the frame check and the
// through-thickness integration rules.

#include <algorithm>
#include <cmath>

#include "core/sph_model.hpp"
#include "shell/sph_shell.hpp"

bool sph_shell_scalar_is_finite(double value) {
    return sph_input_real_is_finite(value);
}

bool sph_shell_vector_is_finite(const Vec3& value) {
    return sph_shell_scalar_is_finite(value.x) && sph_shell_scalar_is_finite(value.y) &&
           sph_shell_scalar_is_finite(value.z);
}

bool sph_shell_normalize_vector(const Vec3& v, Vec3& out) {
    const double n = norm(v);
    if (!(n > sph_shell_eps)) return false;
    out = Vec3{v.x / n, v.y / n, v.z / n};
    return true;
}

Vec3 sph_shell_triangle_area_vector(const Vec3& x1, const Vec3& x2, const Vec3& x3) {
    return 0.5 * cross(x2 - x1, x3 - x1);
}

int sph_shell_set_integration_rule(ErrorState& error, int point_count, ShellPointValues& coords,
                                   ShellPointValues& weights) {
    coords = ShellPointValues{};
    weights = ShellPointValues{};
    if (point_count == 3) {
        coords = {-0.3872983346207417, 0.0, 0.3872983346207417, 0.0, 0.0};
        weights = {5.0 / 18.0, 4.0 / 9.0, 5.0 / 18.0, 0.0, 0.0};
        return sph_success;
    }
    if (point_count == 5) {
        constexpr double sqrt70 = 8.366600265340756;
        const double outer = (322.0 - 13.0 * sqrt70) / 1800.0;
        const double inner = (322.0 + 13.0 * sqrt70) / 1800.0;
        coords = {-0.453089922969332, -0.26923465505284155, 0.0, 0.26923465505284155,
                  0.453089922969332};
        weights = {outer, inner, 128.0 / 450.0, inner, outer};
        return sph_success;
    }
    return sph_error_set(error, sph_error_input, "Shell integration point count must be 3 or 5");
}

namespace {

// The literal searches below are exact but cost a scan per failed candidate,
// which on a section that has no answer (every particle on one line, or on
// one point) grows with the cube (director) or square (tangent) of its size.
// These tests prove from one pass that no candidate can pass, with bounds on
// every rounding error of the literal arithmetic (unit roundoff 1.1e-16;
// the constants carry a safety factor of about two), so skipping the search
// never changes its answer.

// Largest |fl(X_m - X_b)| over the list, with b its first particle.
double largest_offset(const DbState& db, const std::vector<int>& list, int& farthest) {
    const Vec3 base = db.x0[static_cast<std::size_t>(list.front())];
    double largest = 0.0;
    farthest = list.front();
    for (int p : list) {
        const double n = norm(db.x0[static_cast<std::size_t>(p)] - base);
        if (n > largest) {
            largest = n;
            farthest = p;
        }
    }
    return largest;
}

// True when no triple can give a computed |(X_j - X_i) x (X_k - X_i)| above
// 1e-12. Every point lies within R of the line through the first point
// along e (R bounds the exact distance: computed distance plus the error of
// forming and crossing the offsets), and no two points are farther apart
// than D; then the exact cross product of any triple is at most 4 R D and
// its computed value adds at most 2e-15 D^2.
bool cloud_is_collinear(const DbState& db, const std::vector<int>& list) {
    int farthest = 0;
    const double reach = largest_offset(db, list, farthest);
    if (!(reach > 0.0)) return reach == 0.0;  // every point at the first one
    const Vec3 base = db.x0[static_cast<std::size_t>(list.front())];
    const Vec3 u_far = db.x0[static_cast<std::size_t>(farthest)] - base;
    const Vec3 e{u_far.x / reach, u_far.y / reach, u_far.z / reach};
    double radius = 0.0;
    for (int p : list) {
        const Vec3 u = db.x0[static_cast<std::size_t>(p)] - base;
        const double r = norm(cross(u, e)) * (1.0 + 1e-14) + 2e-15 * norm(u);
        if (!(r <= radius)) radius = r;  // a NaN bound stays NaN: no proof
    }
    const double diameter = 2.0 * reach * (1.0 + 1e-15);
    const double bound = (4.0 * radius * diameter + 2e-15 * diameter * diameter) * (1.0 + 1e-12);
    return bound <= sph_shell_eps;
}

}  // namespace

bool sph_shell_infer_cloud_director(const DbState& db, const std::vector<int>& list,
                                    Vec3& director) {
    const std::size_t n = list.size();
    if (n < 3 || cloud_is_collinear(db, list)) return false;
    // The triples in lexicographic order; on a plate the first row of
    // particles is the longest run of failures.
    for (std::size_t i = 0; i + 2 < n; ++i) {
        const Vec3 xi = db.x0[static_cast<std::size_t>(list[i])];
        for (std::size_t j = i + 1; j + 1 < n; ++j) {
            const Vec3 a = db.x0[static_cast<std::size_t>(list[j])] - xi;
            for (std::size_t k = j + 1; k < n; ++k) {
                const Vec3 c = cross(a, db.x0[static_cast<std::size_t>(list[k])] - xi);
                if (norm(c) > sph_shell_eps) {
                    director = c;
                    return true;
                }
            }
        }
    }
    return false;
}

bool sph_shell_find_cloud_tangent(const DbState& db, const std::vector<int>& list, Vec3& tangent) {
    const std::size_t n = list.size();
    if (n < 2) return false;
    // No pair can be farther apart than twice the largest offset from the
    // first point (plus its rounding).
    int farthest = 0;
    if (2.0 * largest_offset(db, list, farthest) * (1.0 + 1e-14) <= sph_shell_eps) return false;
    for (std::size_t i = 0; i + 1 < n; ++i) {
        const Vec3 xi = db.x0[static_cast<std::size_t>(list[i])];
        for (std::size_t j = i + 1; j < n; ++j) {
            const Vec3 t = db.x0[static_cast<std::size_t>(list[j])] - xi;
            if (norm(t) > sph_shell_eps) {
                tangent = t;
                return true;
            }
        }
    }
    return false;
}

Vec3 sph_shell_choose_fallback_tangent(const Vec3& e3) {
    if (std::fabs(e3.x) > 0.9) return Vec3{0.0, 1.0, 0.0};
    return Vec3{1.0, 0.0, 0.0};
}

bool sph_shell_validate_local_frame(const Vec3& e1, const Vec3& e2, const Vec3& e3) {
    if (!sph_shell_vector_is_finite(e1) || !sph_shell_vector_is_finite(e2) ||
        !sph_shell_vector_is_finite(e3)) {
        return false;
    }
    constexpr double tol = 1e-8;
    for (const Vec3* e : {&e1, &e2, &e3}) {
        if (!(std::fabs(norm(*e) - 1.0) <= tol)) return false;
    }
    if (!(std::fabs(dot(e1, e2)) <= tol) || !(std::fabs(dot(e1, e3)) <= tol) ||
        !(std::fabs(dot(e2, e3)) <= tol)) {
        return false;
    }
    return dot(e3, cross(e1, e2)) >= 0.99999999;
}
