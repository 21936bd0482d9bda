// Density diffusion of the water continuity equation: the plain and the fused
// pass against an all-pairs transcription of the term, a closed form for one
// pair, conservation, and the hydrostatic correction on a water column.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>

#include "particle/sph_neighbor.hpp"
#include "particle/sph_particle.hpp"
#include "water/sph_water.hpp"
#include "water/sph_water_pairs.hpp"
#include "water_test_model.hpp"

using water_test::Block;
using water_test::make_water_model;
using water_test::same_bits;

namespace {

constexpr double pi = 3.141592653589793;

// drho_i/dt from its written definition, with every pair of the model taken
// (not only listed neighbors):
//   sum_j m_j v_ij . grad_i W_ij
//   + delta h_i c0 sum_j psi_ij . grad_i W_ij (m_j / rho_j),
//   psi_ij = 2 (rho_j - rho_i) r_ji / (|r_ij|^2 + 0.01 h_i^2),
// where with a body force g rho_j - rho_i is replaced by rho_j - rho_j^H,
// rho_j^H = rho0 ((rho_i/rho0)^gamma + rho0 g . r_ji / B)^(1/gamma).
// psi_ij . grad is evaluated as 2 d (r_ji . grad) / (|r_ij|^2 + eta^2), the
// grouping of the passes. The pair terms are summed in i's stored neighbor
// order, the order of the passes, so that the comparison can be bit for bit;
// every other pair must contribute exactly zero (it lies outside the kernel
// support), which the reference checks. With gravity the passes evaluate
// rho_j^H by a series, so there the rates agree to rounding: `scale` holds
// the sum of the magnitudes of each rate's terms.
struct Rates {
    std::vector<double> rate, scale;
};

Rates reference_rates(Model& m) {
    const DbState& db = m.db;
    const WaterState& w = m.water;
    const int n = db.npart;
    const Vec3 g = w.water_body_force;
    const bool gravity = g.x != 0.0 || g.y != 0.0 || g.z != 0.0;
    auto water = [&](int i) {
        return db.particle_phase[i] == sph_phase_water && db.particle_status[i] == 0;
    };
    Rates out{std::vector<double>(n, 0.0), std::vector<double>(n, 0.0)};
    std::vector<double> cont(n), diff(n);
    for (int i = 0; i < n; ++i) {
        if (!water(i)) continue;
        const double h = db.h[i];
        for (int j = 0; j < n; ++j) {
            cont[j] = 0.0;
            diff[j] = 0.0;
            if (!water(j)) continue;
            const Vec3 r_ij = db.x[i] - db.x[j];
            const Vec3 r_ji = db.x[j] - db.x[i];
            Vec3 grad;
            EXPECT_EQ(sph_kernel_gradient(m.error, 1, r_ij, h, grad), 0);
            cont[j] = db.mass[j] * dot(db.v[i] - db.v[j], grad);
            double d = db.rho[j] - db.rho[i];
            if (gravity) {
                const double bracket = std::pow(db.rho[i] / w.water_rho0, w.water_gamma) +
                                       dot((w.water_rho0 / w.water_b) * g, r_ji);
                d = db.rho[j] - w.water_rho0 * std::pow(bracket, 1.0 / w.water_gamma);
            }
            const double psi_dot_grad =
                2.0 * d * dot(r_ji, grad) / (dot(r_ij, r_ij) + 0.01 * (h * h));
            diff[j] = psi_dot_grad * (db.mass[j] / db.rho[j]);
        }
        std::vector<char> listed(n, 0);
        double sum_cont = 0.0, sum_diff = 0.0, magnitude = 0.0;
        for (int64_t k = db.neighbor_offset[i]; k < db.neighbor_offset[i] + db.neighbor_count[i];
             ++k) {
            const int j = db.neighbor_list[k];
            listed[j] = 1;
            sum_cont += cont[j];
            sum_diff += diff[j];
            magnitude += std::fabs(cont[j]) +
                         w.water_density_diffusion * w.water_c0 * h * std::fabs(diff[j]);
        }
        for (int j = 0; j < n; ++j) {
            EXPECT_TRUE(listed[j] || (cont[j] == 0.0 && diff[j] == 0.0)) << i << " " << j;
        }
        out.rate[i] = sum_cont + (w.water_density_diffusion * w.water_c0 * h) * sum_diff;
        out.scale[i] = magnitude;
    }
    return out;
}

// Active water jittered around a lattice with a few boundary and inactive
// particles among them, densities within 3 %, a spread of smoothing lengths.
std::unique_ptr<Model> random_model(unsigned seed, bool gravity) {
    std::mt19937 rng(seed);
    std::uniform_real_distribution<double> u(-1.0, 1.0);
    auto m = make_water_model({Block{7, 6, 5, 0.01}});
    DbState& db = m->db;
    m->water.water_density_diffusion = 0.5 * (1.0 + u(rng));
    m->water.water_c0 = 20.0 + 10.0 * u(rng);
    m->water.water_b = m->water.water_rho0 * m->water.water_c0 * m->water.water_c0 / 7.0;
    // g up to 50 m/s^2 at c0 down to 10 m/s: |t| of the hydrostatic step
    // reaches past the series range for some pairs.
    if (gravity)
        m->water.water_body_force = Vec3{0.5 * u(rng), 0.5 * u(rng), -30.0 + 20.0 * u(rng)};
    for (int i = 0; i < db.npart; ++i) {
        db.x[i] += Vec3{0.003 * u(rng), 0.003 * u(rng), 0.003 * u(rng)};
        db.v[i] = Vec3{u(rng), u(rng), u(rng)};
        db.rho[i] = 1000.0 * (1.0 + 0.03 * u(rng));
        db.mass[i] *= 1.0 + 0.2 * u(rng);
        db.h[i] = 0.013 * (1.0 + 0.2 * u(rng));
        db.pressure[i] = 1e5 * u(rng);
        db.acc_body[i] = m->water.water_body_force;
        const double pick = u(rng);
        if (pick > 0.85) db.particle_phase[i] = sph_phase_boundary;
        if (pick < -0.9) db.particle_status[i] = sph_status_inactive;
    }
    db.x[7] = db.x[8];  // a coincident pair: zero gradient
    return m;
}

// The pair rate of particle 0 from particle 1 alone, from the closed form of
// the Wendland C2 gradient: grad_0 W = (r_01 / r) dW/dr with
// dW/dr = -(21 / (16 pi h^3)) 5 q (1 - q/2)^3 / h, so that
// r_10 . grad_0 W = -r dW/dr and the term is
// delta h c0 2 (rho_1 - rho_0) (-r dW/dr) / (r^2 + 0.01 h^2) m_1 / rho_1.
double closed_form_pair_rate(double delta, double c0, double h, double r, double rho0, double rho1,
                             double m1) {
    const double q = r / h;
    const double b = 1.0 - q / 2.0;
    const double dwdr = -(21.0 / (16.0 * pi * h * h * h)) * 5.0 * q * b * b * b / h;
    return delta * h * c0 * 2.0 * (rho1 - rho0) * (-r * dwdr) / (r * r + 0.01 * h * h) * m1 / rho1;
}

double max_abs(const std::vector<double>& v) {
    double top = 0.0;
    for (const double x : v) top = std::max(top, std::fabs(x));
    return top;
}

}  // namespace

TEST(WaterDiffusion, PlainAndFusedPassesEqualTheAllPairsDefinition) {
    for (unsigned seed = 1; seed <= 6; ++seed) {
        for (const bool gravity : {false, true}) {
            auto m = random_model(seed, gravity);
            ASSERT_EQ(sph_neighbor_rebuild(*m), 0);
            const Rates ref = reference_rates(*m);

            auto plain = std::make_unique<Model>(*m);
            ASSERT_EQ(sph_water_compute_density_rate(*plain), 0);
            ASSERT_EQ(sph_water_compute_acceleration(*plain), 0);
            auto rates_only = std::make_unique<Model>(*m);
            ASSERT_EQ(sph_water_compute_density_rate_fused(*rates_only), 0);
            bool done = false;
            ASSERT_EQ(sph_water_compute_density_rate_and_acceleration(*m, done), 0);
            ASSERT_TRUE(done);
            for (int i = 0; i < m->db.npart; ++i) {
                ASSERT_TRUE(same_bits(m->db.drho_dt[i], plain->db.drho_dt[i])) << seed << " " << i;
                ASSERT_TRUE(same_bits(rates_only->db.drho_dt[i], plain->db.drho_dt[i]))
                    << seed << " " << i;
                if (gravity) {
                    ASSERT_NEAR(m->db.drho_dt[i], ref.rate[i], 1e-12 * ref.scale[i])
                        << seed << " " << i;
                } else {
                    ASSERT_TRUE(same_bits(m->db.drho_dt[i], ref.rate[i])) << seed << " " << i;
                }
                // The accelerations do not see the term.
                ASSERT_TRUE(same_bits(m->db.a[i], plain->db.a[i])) << seed << " " << i;
            }
            // It acts: the rates differ from those without it.
            auto off = std::make_unique<Model>(*plain);
            off->water.water_density_diffusion = 0.0;
            ASSERT_EQ(sph_water_compute_density_rate(*off), 0);
            int changed = 0;
            for (int i = 0; i < m->db.npart; ++i) changed += off->db.drho_dt[i] != ref.rate[i];
            EXPECT_GT(changed, m->db.npart / 2) << seed;
        }
    }
}

TEST(WaterDiffusion, OnePairMatchesTheClosedFormAndSmoothsDensity) {
    auto m = make_water_model({Block{2, 1, 1, 0.01}});
    WaterState& w = m->water;
    w.water_density_diffusion = 0.1;
    DbState& db = m->db;
    db.rho[0] = 1001.0;  // the denser particle loses density, the lighter one gains
    db.rho[1] = 999.0;
    ASSERT_EQ(sph_neighbor_rebuild(*m), 0);
    ASSERT_EQ(sph_water_compute_density_rate(*m), 0);
    const double h = db.h[0];
    const double expected0 =
        closed_form_pair_rate(0.1, w.water_c0, h, 0.01, db.rho[0], db.rho[1], db.mass[1]);
    const double expected1 =
        closed_form_pair_rate(0.1, w.water_c0, h, 0.01, db.rho[1], db.rho[0], db.mass[0]);
    EXPECT_LT(db.drho_dt[0], 0.0);
    EXPECT_GT(db.drho_dt[1], 0.0);
    EXPECT_NEAR(db.drho_dt[0], expected0, 1e-13 * std::fabs(expected0));
    EXPECT_NEAR(db.drho_dt[1], expected1, 1e-13 * std::fabs(expected1));
}

// Equal smoothing lengths make the term antisymmetric, so the volume-weighted
// rates sum to zero: the term moves mass between particles and makes none.
// At rest the continuity sum is exactly zero and the rate is the term alone.
TEST(WaterDiffusion, VolumeWeightedRatesSumToZero) {
    for (unsigned seed = 1; seed <= 4; ++seed) {
        std::mt19937 rng(seed);
        std::uniform_real_distribution<double> u(-1.0, 1.0);
        auto m = make_water_model({Block{8, 7, 6, 0.01}});
        m->water.water_density_diffusion = 0.1;
        DbState& db = m->db;
        for (int i = 0; i < db.npart; ++i) {
            db.x[i] += Vec3{0.003 * u(rng), 0.003 * u(rng), 0.003 * u(rng)};
            db.rho[i] = 1000.0 * (1.0 + 0.05 * u(rng));
        }
        ASSERT_EQ(sph_neighbor_rebuild(*m), 0);
        bool done = false;
        ASSERT_EQ(sph_water_compute_density_rate_and_acceleration(*m, done), 0);
        double total = 0.0, scale = 0.0;
        for (int i = 0; i < db.npart; ++i) {
            const double weighted = db.mass[i] / db.rho[i] * db.drho_dt[i];
            total += weighted;
            scale += std::fabs(weighted);
        }
        EXPECT_GT(scale, 0.0);
        EXPECT_LT(std::fabs(total), 1e-13 * scale) << seed;
    }
}

// A column whose pressure grows as rho0 |g| depth, densities from the Tait
// equation: the corrected term has nothing to diffuse at any depth, while the
// plain term would pull the column towards uniform density. A disturbance on
// top of the column is still smoothed.
TEST(WaterDiffusion, HydrostaticColumnKeepsZeroDiffusiveRate) {
    for (const double c0 : {20.0, 1480.0}) {
        auto m = make_water_model({Block{4, 4, 16, 0.01, Vec3{0.0, 0.0, -0.7}}});
        WaterState& w = m->water;
        w.water_c0 = c0;
        w.water_b = w.water_rho0 * c0 * c0 / w.water_gamma;
        w.water_density_diffusion = 0.1;
        DbState& db = m->db;
        const double g = 9.81;
        const double top = 2.0;  // the free surface, 2.55 m above the column
        for (int i = 0; i < db.npart; ++i) {
            const double depth = top - db.x[i].z;
            db.rho[i] = w.water_rho0 *
                        std::pow(1.0 + w.water_rho0 * g * depth / w.water_b, 1.0 / w.water_gamma);
        }
        ASSERT_EQ(sph_neighbor_rebuild(*m), 0);

        auto uncorrected = std::make_unique<Model>(*m);
        ASSERT_EQ(sph_water_compute_density_rate(*uncorrected), 0);
        ASSERT_EQ(sph_water_set_body_force(*m, Vec3{0.0, 0.0, -g}), 0);
        bool done = false;
        ASSERT_EQ(sph_water_compute_density_rate_and_acceleration(*m, done), 0);
        const double plain_max = max_abs(uncorrected->db.drho_dt);
        EXPECT_GT(plain_max, 0.0);
        // What is left is the rounding of the densities (about 1e-13 of 1000)
        // against neighbor differences of 0.25 (c0 20) or 5e-5 (c0 1480).
        EXPECT_LT(max_abs(m->db.drho_dt), 1e-7 * plain_max) << c0;

        // A particle made denser than the column around it loses density.
        const int centre = 4 * 4 * 8 + 4 * 2 + 2;
        m->db.rho[centre] += 0.01;
        ASSERT_EQ(sph_water_compute_density_rate(*m), 0);
        EXPECT_LT(m->db.drho_dt[centre], 0.0) << c0;
    }
}

// The series of (1 + t)^(1/gamma) - 1 against its closed form over its whole
// range, for the exponents a deck may give.
TEST(WaterDiffusion, HydrostaticSeriesMatchesTheClosedForm) {
    for (const double gamma : {1.0, 1.4, 7.0, 7.15, 12.0}) {
        WaterState w;
        w.water_gamma = gamma;
        w.water_density_diffusion = 0.1;
        w.water_body_force = Vec3{0.0, 0.0, -9.81};
        const WaterDiffusion d = sph_water_diffusion_setup(w);
        for (int k = -1000; k <= 1000; ++k) {
            const double t = 0.01 * k / 1000.0 * (1.0 + 1e-9 * (k % 7));
            if (t == 0.0) continue;
            const double exact = std::expm1(std::log1p(t) / gamma);
            EXPECT_NEAR(sph_water_hydrostatic_step(d, t), exact, 1e-15 * std::fabs(exact))
                << gamma << " " << t;
        }
        EXPECT_EQ(sph_water_hydrostatic_step(d, -1.0), -1.0);  // no hydrostatic density
        const double far = std::expm1(std::log1p(3.0) / gamma);
        EXPECT_NEAR(sph_water_hydrostatic_step(d, 3.0), far, 1e-15 * far);
    }
}
