// Shell geometry against closed forms and hand values: integration rules,
// triangle areas, the fallback tangent, the frame check, and the cloud
// director and tangent against their literal definitions on random clouds.

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

#include "../test_expect.hpp"
#include "core/sph_model.hpp"

using test_expect::expect_error;
using test_expect::same_bits;

namespace {

// The first triple i < j < k of `list` in lexicographic order with
// |(X_j - X_i) x (X_k - X_i)| > 1e-12, as the definition reads.
bool plain_cloud_director(const DbState& db, const std::vector<int>& list, Vec3& out) {
    const std::size_t n = list.size();
    for (std::size_t i = 0; i < n; ++i) {
        for (std::size_t j = i + 1; j < n; ++j) {
            for (std::size_t k = j + 1; k < n; ++k) {
                const Vec3 c =
                    cross(db.x0[list[j]] - db.x0[list[i]], db.x0[list[k]] - db.x0[list[i]]);
                if (norm(c) > 1e-12) {
                    out = c;
                    return true;
                }
            }
        }
    }
    return false;
}

bool plain_cloud_tangent(const DbState& db, const std::vector<int>& list, Vec3& out) {
    for (std::size_t i = 0; i < list.size(); ++i) {
        for (std::size_t j = i + 1; j < list.size(); ++j) {
            const Vec3 t = db.x0[list[j]] - db.x0[list[i]];
            if (norm(t) > 1e-12) {
                out = t;
                return true;
            }
        }
    }
    return false;
}

}  // namespace

TEST(ShellRules, GaussLegendreOnTheUnitThickness) {
    ErrorState error;
    for (int points : {3, 5}) {
        ShellPointValues x, w;
        ASSERT_EQ(sph_shell_set_integration_rule(error, points, x, w), 0);
        double sum = 0.0;
        for (int q = 0; q < points; ++q) sum += w[q];
        EXPECT_NEAR(sum, 1.0, 1e-15) << points;
        for (int q = points; q < 5; ++q) EXPECT_EQ(x[q] + w[q], 0.0);
        // Exact for every polynomial of degree up to 2n - 1 over [-1/2, 1/2]
        // (the thickness fraction; the weights already carry the 1/t).
        for (int degree = 0; degree <= 2 * points - 1; ++degree) {
            double rule = 0.0;
            for (int q = 0; q < points; ++q) rule += w[q] * std::pow(x[q], degree);
            const double exact =
                (std::pow(0.5, degree + 1) - std::pow(-0.5, degree + 1)) / (degree + 1);
            EXPECT_NEAR(rule, exact, 1e-15) << points << " points, degree " << degree;
        }
        // ... and not for degree 2n.
        double rule = 0.0;
        for (int q = 0; q < points; ++q) rule += w[q] * std::pow(x[q], 2 * points);
        EXPECT_GT(std::fabs(rule - std::pow(0.5, 2 * points) / (2 * points + 1)), 1e-8);
    }
    for (int points : {0, 1, 2, 4, 6, -3}) {
        ShellPointValues x{1, 1, 1, 1, 1}, w{1, 1, 1, 1, 1};
        ErrorState e;
        EXPECT_EQ(sph_shell_set_integration_rule(e, points, x, w), 4);
        EXPECT_EQ(e.last_error_message, "Shell integration point count must be 3 or 5");
        EXPECT_EQ(x, ShellPointValues{});
        EXPECT_EQ(w, ShellPointValues{});
    }
}

TEST(ShellVectors, AreasNormalizationFallbackAndFrames) {
    // Right triangle with legs 3 and 4 in the xy plane: area 6 along +z.
    const Vec3 a = sph_shell_triangle_area_vector({1, 1, 0}, {4, 1, 0}, {1, 5, 0});
    EXPECT_EQ(a.x, 0.0);
    EXPECT_EQ(a.y, 0.0);
    EXPECT_EQ(a.z, 6.0);
    // Reversed order flips the normal; a triangle in the yz plane points along x.
    EXPECT_EQ(sph_shell_triangle_area_vector({1, 1, 0}, {1, 5, 0}, {4, 1, 0}).z, -6.0);
    EXPECT_EQ(sph_shell_triangle_area_vector({0, 0, 0}, {0, 2, 0}, {0, 0, 2}).x, 2.0);
    // Collinear points have no area.
    EXPECT_EQ(norm(sph_shell_triangle_area_vector({0, 0, 0}, {1, 1, 1}, {2, 2, 2})), 0.0);

    Vec3 u{7, 7, 7};
    EXPECT_TRUE(sph_shell_normalize_vector({0, 3, 4}, u));
    EXPECT_EQ(u.y, 0.6);
    EXPECT_EQ(u.z, 0.8);
    EXPECT_FALSE(sph_shell_normalize_vector({1e-13, 0, 0}, u));
    EXPECT_FALSE(sph_shell_normalize_vector({1e-12, 0, 0}, u));  // the bound itself fails
    EXPECT_EQ(u.y, 0.6);                                         // untouched

    EXPECT_TRUE(sph_shell_scalar_is_finite(8.988465674311579e307));
    EXPECT_FALSE(sph_shell_scalar_is_finite(8.98846567431158e307));
    EXPECT_FALSE(sph_shell_scalar_is_finite(std::nan("")));
    EXPECT_FALSE(sph_shell_vector_is_finite({0, 0, INFINITY}));

    EXPECT_TRUE(same_bits(sph_shell_choose_fallback_tangent({0, 0, 1}), Vec3{1, 0, 0}));
    EXPECT_TRUE(same_bits(sph_shell_choose_fallback_tangent({0.9, 0.1, 0}), Vec3{1, 0, 0}));
    EXPECT_TRUE(same_bits(sph_shell_choose_fallback_tangent({-0.95, 0, 0.3}), Vec3{0, 1, 0}));

    const double c = std::cos(0.3), s = std::sin(0.3);
    const Vec3 e1{c, s, 0}, e2{-s, c, 0}, e3{0, 0, 1};
    EXPECT_TRUE(sph_shell_validate_local_frame(e1, e2, e3));
    EXPECT_FALSE(sph_shell_validate_local_frame(e2, e1, e3));  // left-handed
    EXPECT_FALSE(sph_shell_validate_local_frame(e1, e1, e3));  // not orthogonal
    EXPECT_FALSE(sph_shell_validate_local_frame(2.0 * e1, e2, e3));
    EXPECT_FALSE(sph_shell_validate_local_frame(e1, e2, {0, 0, NAN}));
    EXPECT_TRUE(sph_shell_validate_local_frame(e1, e2, {0, 0, 1 + 5e-9}));
}

// The section searches against the literal loops on random clouds: points in
// general position, on a line (exactly on axes, on diagonals, with noise),
// on one point, plates whose first row is collinear, and duplicates.
TEST(ShellCloud, DirectorAndTangentEqualTheLiteralSearch) {
    std::mt19937 rng(1234);
    std::uniform_real_distribution<double> u(-1.0, 1.0);
    for (int trial = 0; trial < 400; ++trial) {
        const int n = 3 + trial % 40;
        DbState db;
        db.npart = n;
        db.x0.assign(n, Vec3{});
        const int kind = trial % 6;
        const Vec3 dir{u(rng), u(rng), u(rng)};
        const Vec3 base{u(rng), u(rng), u(rng)};
        for (int p = 0; p < n; ++p) {
            const double t = u(rng);
            switch (kind) {
                case 0:  // general position
                    db.x0[p] = Vec3{u(rng), u(rng), u(rng)};
                    break;
                case 1:  // on the x axis or the diagonal x = y = z
                    db.x0[p] = trial % 12 < 6 ? Vec3{t, 0, 0} : Vec3{t, t, t};
                    break;
                case 2:  // on a general line: collinear up to rounding
                    db.x0[p] = base + t * dir;
                    break;
                case 3:  // one point, or a cluster below the tolerance
                    db.x0[p] = base + (trial % 12 < 6 ? 0.0 : 1e-13 * t) * dir;
                    break;
                case 4:  // a plate whose first row is a line
                    db.x0[p] = Vec3{0.1 * (p % 7), 0.1 * (p / 7), 0};
                    break;
                default:  // duplicates of the first point, then a spread
                    db.x0[p] = p < n / 2 ? base : Vec3{u(rng), u(rng), 0.0};
                    break;
            }
        }
        std::vector<int> list;
        for (int p = 0; p < n; ++p) {
            if (rng() % 5 != 0) list.push_back(p);
        }
        Vec3 fast{9, 9, 9}, plain{9, 9, 9};
        ASSERT_EQ(sph_shell_infer_cloud_director(db, list, fast),
                  plain_cloud_director(db, list, plain))
            << trial;
        EXPECT_TRUE(same_bits(fast, plain)) << trial;
        fast = plain = Vec3{9, 9, 9};
        ASSERT_EQ(sph_shell_find_cloud_tangent(db, list, fast),
                  plain_cloud_tangent(db, list, plain))
            << trial;
        EXPECT_TRUE(same_bits(fast, plain)) << trial;
    }
}

TEST(ShellCloud, LongLinesFailQuickly) {
    // A quarter million particles on one line and on one point: no triple
    // and (on the point) no pair, found without the literal scans.
    const int n = 250000;
    DbState db;
    db.npart = n;
    db.x0.assign(n, Vec3{});
    std::vector<int> list(n);
    for (int p = 0; p < n; ++p) {
        list[p] = p;
        db.x0[p] = Vec3{0.5 + 1e-5 * p, 0.25 + 2e-5 * p, 0.1 - 1e-5 * p};
    }
    Vec3 v;
    EXPECT_FALSE(sph_shell_infer_cloud_director(db, list, v));
    EXPECT_TRUE(sph_shell_find_cloud_tangent(db, list, v));
    for (int p = 0; p < n; ++p) db.x0[p] = Vec3{1, 2, 3};
    EXPECT_FALSE(sph_shell_infer_cloud_director(db, list, v));
    EXPECT_FALSE(sph_shell_find_cloud_tangent(db, list, v));
}
