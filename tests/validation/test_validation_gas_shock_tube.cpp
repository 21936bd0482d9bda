// Gas shock tube in a free block of ideal gas: both halves start at rest at
// the same density, the left one with 4 times the specific energy. The gas
// keeps e = E0 on every particle, so each half is an isothermal gas with its
// own sound speed, and the core of the block (away from the free ends and
// sides, whose release waves do not reach it in time) follows the exact
// isothermal Riemann solution: a rarefaction to the left, a shock to the
// right.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "../input/deck_test_util.hpp"
#include "core/sph_model.hpp"
#include "solver/sph_solver_explicit.hpp"

namespace {

constexpr double kGamma = 1.4, kRho0 = 1.0, kPl = 1.0, kPr = 0.25;
constexpr double kDx = 0.05, kH = 1.3 * kDx, kEnd = 0.3;
constexpr double kHalf = 0.7, kWidth = 0.75, kWindow = 0.35;

std::string tube_deck() {
    const int nh = int(std::lround(kHalf / kDx)), nw = int(std::lround(kWidth / kDx));
    const double y0 = -(nw - 1) / 2.0 * kDx;
    std::string deck = "*NODE\n";
    int id = 0;
    for (double x_start : {-kHalf + 0.5 * kDx, 0.5 * kDx}) {
        for (int k = 0; k < nw; ++k) {
            for (int j = 0; j < nw; ++j) {
                for (int i = 0; i < nh; ++i) {
                    char line[128];
                    std::snprintf(line, sizeof line, "%d, %.17g, %.17g, %.17g\n", ++id,
                                  x_start + kDx * i, y0 + kDx * j, y0 + kDx * k);
                    deck += line;
                }
            }
        }
    }
    char tail[1024];
    std::snprintf(tail, sizeof tail,
                  "*NSET, NSET=LEFT, GENERATE\n1, %d\n*NSET, NSET=RIGHT, GENERATE\n%d, %d\n"
                  "*MATERIAL, NAME=HighGas, TYPE=GAS\n*DENSITY\n%.17g\n"
                  "*VELUNOR EOS, TYPE=IDEAL_GAS, MATERIAL=HighGas, GAMMA=%.17g, E0=%.17g\n"
                  "*MATERIAL, NAME=LowGas, TYPE=GAS\n*DENSITY\n%.17g\n"
                  "*VELUNOR EOS, TYPE=IDEAL_GAS, MATERIAL=LowGas, GAMMA=%.17g, E0=%.17g\n"
                  "*GAS SECTION, NSET=LEFT, MATERIAL=HighGas\n"
                  "*GAS SECTION, NSET=RIGHT, MATERIAL=LowGas\n"
                  "*VELUNOR PARTICLE CONTROL, H=%.17g, MASS=%.17g, VOLUME=%.17g\n"
                  "*VELUNOR TIME CONTROL, DT=1e-2, TIME=1, STEPS=100000, SAFETY=0.5\n",
                  id / 2, id / 2 + 1, id, kRho0, kGamma, kPl / ((kGamma - 1) * kRho0), kRho0,
                  kGamma, kPr / ((kGamma - 1) * kRho0), kH, kRho0 * kDx * kDx * kDx,
                  kDx * kDx * kDx);
    return deck + tail;
}

// Velocity change across the wave of a side (pressure pk, isothermal sound
// speed a) to pressure p: a shock |du| = a (sqrt(r) - 1/sqrt(r)) with
// r = p / pk, a rarefaction a ln(r); and its derivative.
std::pair<double, double> wave_change(double p, double pk, double a) {
    const double r = p / pk;
    if (r > 1.0)
        return {a * (std::sqrt(r) - 1 / std::sqrt(r)),
                a * (0.5 / std::sqrt(r) + 0.5 * std::pow(r, -1.5)) / pk};
    return {a * std::log(r), a / p};
}

struct Exact {
    double p_star = 0, u_star = 0, shock_speed = 0, a_left = 0, a_right = 0;
    double rho_left_star = 0, rho_right_star = 0;
    double density(double xi) const {
        if (xi < -a_left) return kRho0;
        if (xi < u_star - a_left) return kRho0 * std::exp(-(xi + a_left) / a_left);
        if (xi < u_star) return rho_left_star;
        if (xi < shock_speed) return rho_right_star;
        return kRho0;
    }
};

Exact exact_solution() {
    Exact e;
    e.a_left = std::sqrt(kPl / kRho0);
    e.a_right = std::sqrt(kPr / kRho0);
    double p = std::sqrt(kPl * kPr);
    for (int it = 0; it < 50; ++it) {
        const auto [fl, dl] = wave_change(p, kPl, e.a_left);
        const auto [fr, dr] = wave_change(p, kPr, e.a_right);
        p -= (fl + fr) / (dl + dr);
    }
    e.p_star = p;
    e.u_star = 0.5 * (wave_change(p, kPr, e.a_right).first - wave_change(p, kPl, e.a_left).first);
    e.rho_left_star = p / (e.a_left * e.a_left);
    e.rho_right_star = p / (e.a_right * e.a_right);
    e.shock_speed = e.a_right * std::sqrt(e.rho_right_star / kRho0);
    return e;
}

}  // namespace

TEST(ValidationGasShockTube, CoreFollowsTheIsothermalRiemannSolution) {
    const Exact ex = exact_solution();
    // The exact star state itself: both waves give the same velocity.
    EXPECT_NEAR(ex.u_star, -wave_change(ex.p_star, kPl, ex.a_left).first, 1e-12);
    ASSERT_LT(ex.p_star, kPl);
    ASSERT_GT(ex.p_star, kPr);

    auto m = deck_test::built_text(tube_deck());
    const DbState& db = m->db;
    double time = 0.0;
    while (time < kEnd) {
        double dt = 0;
        ASSERT_EQ(sph_solver_estimate_stable_dt(*m, dt), 0);
        dt = std::min(dt, kEnd - time);
        ASSERT_EQ(sph_solver_advance_explicit(*m, dt), 0) << m->error.last_error_message;
        time += dt;
    }
    // The particle rows around the axis, by current x.
    std::vector<std::pair<double, double>> core;  // (x, rho)
    for (int i = 0; i < db.npart; ++i) {
        if (std::abs(db.x[i].y) < 1.01 * kDx && std::abs(db.x[i].z) < 1.01 * kDx)
            core.emplace_back(db.x[i].x, db.rho[i]);
    }
    std::sort(core.begin(), core.end());
    ASSERT_GT(core.size(), 100u);

    // Density L1 error per unit length over |x| <= kWindow. Each jump of the
    // exact solution (contact and shock) is smeared over the kernel support on
    // either side, a ramp of width 4h, whose L1 area is jump * h; the
    // rarefaction is smooth. So the bound is h (contact + shock jump) over
    // the window length.
    double l1 = 0, length = 0;
    for (std::size_t n = 1; n + 1 < core.size(); ++n) {
        const double x = core[n].first;
        if (std::abs(x) > kWindow) continue;
        const double w = 0.5 * (core[n + 1].first - core[n - 1].first);
        l1 += std::abs(core[n].second - ex.density(x / time)) * w;
        length += w;
    }
    l1 /= length;
    const double jumps = (ex.rho_right_star - ex.rho_left_star) + (ex.rho_right_star - kRho0);
    EXPECT_LT(l1, kH * jumps / (2 * kWindow)) << "density L1 " << l1;

    // The shock: the last point (from the left) where the density is above
    // the middle of its jump lies within h of the exact shock position.
    const double mid = 0.5 * (ex.rho_right_star + kRho0);
    double shock_x = 0;
    for (std::size_t n = 0; n + 1 < core.size(); ++n) {
        if (core[n].second > mid && core[n + 1].second <= mid) {
            shock_x = core[n].first + (mid - core[n].second) /
                                          (core[n + 1].second - core[n].second) *
                                          (core[n + 1].first - core[n].first);
        }
    }
    EXPECT_NEAR(shock_x, ex.shock_speed * time, kH) << "shock at " << shock_x;
}
