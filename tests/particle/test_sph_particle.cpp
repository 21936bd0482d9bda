#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "core/sph_error.hpp"
#include "particle/sph_particle.hpp"

namespace {

constexpr int all_types[] = {sph_kernel_wendland_c2, sph_kernel_wendland_c4,
                             sph_kernel_cubic_spline};

double value(int type, double r, double h) {
    ErrorState error;
    double w = -1.0;
    EXPECT_EQ(sph_kernel_value(error, type, r, h, w), sph_success);
    return w;
}

Vec3 gradient(int type, const Vec3& rij, double h) {
    ErrorState error;
    Vec3 g{-1.0, -1.0, -1.0};
    EXPECT_EQ(sph_kernel_gradient(error, type, rij, h, g), sph_success);
    return g;
}

TEST(SphKernel, SupportedTypesAndSupportRadius) {
    EXPECT_FALSE(sph_kernel_is_supported(0));
    EXPECT_FALSE(sph_kernel_is_supported(4));
    for (int type : all_types) {
        EXPECT_TRUE(sph_kernel_is_supported(type));
        ErrorState error;
        double support = -1.0;
        EXPECT_EQ(sph_kernel_support_radius(error, type, 0.75, support), sph_success);
        EXPECT_EQ(support, 1.5);
    }
}

TEST(SphKernel, BadArgumentsReportInOrderAndZeroOutputs) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    struct Case {
        int type;
        double h;
        const char* message;
    };
    const Case cases[] = {
        {7, 0.0, "kernel smoothing length must be positive"},  // h is checked first
        {1, -1.0, "kernel smoothing length must be positive"},
        {1, nan, "kernel smoothing length must be positive"},
        {7, 1.0, "unknown SPH kernel type"},
        {0, 1.0, "unknown SPH kernel type"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.message);
        ErrorState error;
        double support = 5.0;
        double w = 5.0;
        Vec3 g{5.0, 5.0, 5.0};
        EXPECT_EQ(sph_kernel_support_radius(error, c.type, c.h, support), sph_error_argument);
        EXPECT_EQ(error.last_error_message, c.message);
        EXPECT_EQ(sph_kernel_value(error, c.type, 0.5, c.h, w), sph_error_argument);
        EXPECT_EQ(sph_kernel_gradient(error, c.type, Vec3{0.5, 0.0, 0.0}, c.h, g),
                  sph_error_argument);
        EXPECT_EQ(error.last_error_code, sph_error_argument);
        EXPECT_EQ(error.last_error_message, c.message);
        EXPECT_EQ(support, 0.0);
        EXPECT_EQ(w, 0.0);
        EXPECT_EQ(g.x, 0.0);
        EXPECT_EQ(g.y, 0.0);
        EXPECT_EQ(g.z, 0.0);
    }
}

TEST(SphKernel, CentralValuesUseTheLiteralDenominators) {
    const double h = 0.7;
    const double h3 = h * h * h;
    EXPECT_EQ(value(1, 0.0, h), 21.0 / (50.26548245743669 * h3));
    EXPECT_EQ(value(2, 0.0, h), 495.0 / (804.247719318987 * h3));
    EXPECT_EQ(value(3, 0.0, h), 1.0 / (sph_pi * h3));
    // The value depends on |r| only.
    for (int type : all_types) EXPECT_EQ(value(type, -0.3, h), value(type, 0.3, h));
}

TEST(SphKernel, ZeroAtAndBeyondTheSupport) {
    for (int type : all_types) {
        SCOPED_TRACE(type);
        EXPECT_EQ(value(type, 2.0, 1.0), 0.0);
        EXPECT_EQ(value(type, 3.0, 1.0), 0.0);
        EXPECT_GT(value(type, std::nextafter(2.0, 0.0), 1.0), 0.0);
        const Vec3 g = gradient(type, Vec3{0.0, 2.0 * 0.6, 0.0}, 0.6);
        EXPECT_EQ(g.x, 0.0);
        EXPECT_EQ(g.y, 0.0);
        EXPECT_EQ(g.z, 0.0);
        // Coincident particles: no direction, zero gradient.
        const Vec3 g0 = gradient(type, Vec3{}, 0.6);
        EXPECT_EQ(g0.x, 0.0);
        EXPECT_EQ(g0.y, 0.0);
        EXPECT_EQ(g0.z, 0.0);
    }
}

TEST(SphKernel, CubicSplineIsContinuousAtOne) {
    const double h = 1.3;
    const double sigma = 1.0 / (sph_pi * h * h * h);
    EXPECT_EQ(value(3, h, h), 0.25 * sigma);
    EXPECT_NEAR(value(3, std::nextafter(h, 0.0), h), 0.25 * sigma, 1e-14 * sigma);
    const Vec3 below = gradient(3, Vec3{h * (1.0 - 1e-9), 0.0, 0.0}, h);
    const Vec3 above = gradient(3, Vec3{h * (1.0 + 1e-9), 0.0, 0.0}, h);
    EXPECT_NEAR(below.x, above.x, 1e-7 * std::fabs(above.x));
}

TEST(SphKernel, GradientMatchesFiniteDifferenceAndPointsTowardsTheNeighbor) {
    const double h = 0.8;
    const Vec3 directions[] = {{1.0, 0.0, 0.0}, {0.3, -0.4, 0.5}, {-0.2, 0.1, -0.9}};
    for (int type : all_types) {
        for (const Vec3& d : directions) {
            for (double q : {0.1, 0.5, 0.99, 1.01, 1.5, 1.95}) {
                SCOPED_TRACE(testing::Message() << "type " << type << " q " << q);
                const double r = q * h;
                const Vec3 rij = (r / norm(d)) * d;
                const Vec3 g = gradient(type, rij, h);
                const double e = 1e-6 * h;
                const double dw_dr = (value(type, r + e, h) - value(type, r - e, h)) / (2.0 * e);
                const double scale = value(type, 0.0, h) / h;
                EXPECT_LT(dw_dr, 0.0);
                for (int k = 0; k < 3; ++k) {
                    EXPECT_NEAR(g[k], rij[k] / r * dw_dr, 1e-7 * scale);
                }
                EXPECT_LT(dot(g, rij), 0.0);  // from i towards j
            }
        }
    }
}

TEST(SphKernel, NormalisedOverItsSupport) {
    // Simpson's rule for the integral of W over the ball of radius 2h.
    const double h = 1.7;
    const int intervals = 2000;
    for (int type : all_types) {
        const double dr = 2.0 * h / intervals;
        double sum = 0.0;
        for (int k = 0; k <= intervals; ++k) {
            const double r = k * dr;
            const double weight = (k == 0 || k == intervals) ? 1.0 : (k % 2 ? 4.0 : 2.0);
            sum += weight * value(type, r, h) * 4.0 * sph_pi * r * r;
        }
        EXPECT_NEAR(sum * dr / 3.0, 1.0, 1e-9) << "type " << type;
    }
}

}  // namespace
