// Density diffusion of the gas continuity equation: plain and fused pass
// against an all-pairs transcription, conservation with the pair's mean sound
// speed, and no hydrostatic correction under a body force.

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

#include "../test_expect.hpp"
#include "gas_test_model.hpp"
#include "particle/sph_neighbor.hpp"
#include "particle/sph_particle.hpp"

using gas_test::disturb;
using gas_test::Lattice;
using gas_test::make_model;
using test_expect::same_bits;

namespace {

// Air, JWL products and stiffened gas side by side (sound speeds from about
// 10 to 800 m/s meet across the interfaces), water next to them, every
// seventh particle inactive; pressures from the equations of state.
std::unique_ptr<Model> mixed_model(unsigned seed, double delta) {
    auto m = make_model({Lattice{5, 5, 4, 0.01, {}, 1}, Lattice{3, 5, 4, 0.01, {0.05, 0, 0}, 2},
                         Lattice{4, 3, 3, 0.01, {0, 0, 0.04}, 3},
                         Lattice{3, 3, 3, 0.01, {0.05, 0.05, 0.0}, 4}});
    disturb(*m, seed);
    DbState& db = m->db;
    for (int i = 0; i < db.npart; i += 7) db.particle_status[i] = sph_status_inactive;
    std::mt19937 rng(seed);
    std::uniform_real_distribution<double> u(0.5, 1.5);
    for (int i = 0; i < db.npart; ++i) {
        if (sph_gas_is_active_particle(db, i)) db.h[i] *= u(rng);
    }
    EXPECT_EQ(sph_gas_update_pressure(*m), 0) << m->error.last_error_message;
    m->gas.gas_density_diffusion = delta;
    EXPECT_EQ(sph_neighbor_rebuild(*m), 0);
    return m;
}

// drho_i/dt of the active gas from its written definition, every pair of the
// model taken:
//   sum_j m_j v_ij . grad_i W_ij
//   + delta h_i sum_j c_ij psi_ij . grad_i W_ij (m_j / rho_j),
//   c_ij = (c_i + c_j) / 2, psi_ij = 2 (rho_j - rho_i) r_ji / (|r_ij|^2 + 0.01 h_i^2),
// with psi_ij . grad as 2 d (r_ji . grad) / (|r_ij|^2 + eta^2), the passes'
// grouping, and the sums in i's stored neighbor order, the passes' order;
// pairs outside the list must contribute exactly zero.
std::vector<double> reference_rates(Model& m) {
    const DbState& db = m.db;
    const int n = db.npart;
    const double delta = m.gas.gas_density_diffusion;
    std::vector<double> rate(n, 0.0), cont(n), diff(n);
    for (int i = 0; i < n; ++i) {
        if (!sph_gas_is_active_particle(db, i)) {
            rate[i] = db.drho_dt[i];
            continue;
        }
        const double h = db.h[i];
        for (int j = 0; j < n; ++j) {
            cont[j] = 0.0;
            diff[j] = 0.0;
            if (!sph_gas_is_active_particle(db, j)) continue;
            const Vec3 r_ij = db.x[i] - db.x[j];
            Vec3 grad;
            EXPECT_EQ(sph_kernel_gradient(m.error, 1, r_ij, h, grad), 0);
            cont[j] = db.mass[j] * dot(db.v[i] - db.v[j], grad);
            const double c_ij = (sph_gas_sound_speed(m, i) + sph_gas_sound_speed(m, j)) / 2.0;
            const double psi_dot_grad = 2.0 * (db.rho[j] - db.rho[i]) *
                                        dot(db.x[j] - db.x[i], grad) /
                                        (dot(r_ij, r_ij) + 0.01 * (h * h));
            diff[j] = c_ij * (psi_dot_grad * (db.mass[j] / db.rho[j]));
        }
        std::vector<char> listed(n, 0);
        double sum_cont = 0.0, sum_diff = 0.0;
        for (int64_t k = db.neighbor_offset[i]; k < db.neighbor_offset[i] + db.neighbor_count[i];
             ++k) {
            const int j = db.neighbor_list[k];
            listed[j] = 1;
            sum_cont += cont[j];
            sum_diff += diff[j];
        }
        for (int j = 0; j < n; ++j) {
            EXPECT_TRUE(listed[j] || (cont[j] == 0.0 && diff[j] == 0.0)) << i << " " << j;
        }
        rate[i] = sum_cont + (delta * h) * sum_diff;
    }
    return rate;
}

}  // namespace

TEST(GasDiffusion, PlainAndFusedPassesEqualTheAllPairsDefinitionBitForBit) {
    for (unsigned seed = 1; seed <= 5; ++seed) {
        auto a = mixed_model(seed, 0.05 * seed);
        const std::vector<double> ref = reference_rates(*a);
        Model b = *a;
        ASSERT_EQ(sph_gas_compute_density_rate(*a), 0);
        ASSERT_EQ(sph_gas_compute_acceleration(*a), 0);
        ASSERT_TRUE(sph_gas_pair_pass_ready(b));
        sph_gas_compute_density_rate_and_acceleration(b);
        Model off = b;
        off.gas.gas_density_diffusion = 0.0;
        ASSERT_EQ(sph_gas_compute_density_rate(off), 0);
        int changed = 0;
        for (int i = 0; i < a->db.npart; ++i) {
            ASSERT_TRUE(same_bits(a->db.drho_dt[i], ref[i])) << seed << " " << i;
            ASSERT_TRUE(same_bits(b.db.drho_dt[i], ref[i])) << seed << " " << i;
            ASSERT_TRUE(same_bits(a->db.a[i], b.db.a[i])) << seed << " " << i;
            changed += off.db.drho_dt[i] != ref[i];
        }
        EXPECT_GT(changed, a->db.npart / 3) << seed;
    }
}

// With equal smoothing lengths the pair's mean sound speed keeps the term
// antisymmetric even across materials of very different sound speeds: the
// volume-weighted rates sum to zero. At rest the rate is the term alone.
TEST(GasDiffusion, VolumeWeightedRatesSumToZeroAcrossSoundSpeeds) {
    for (unsigned seed = 1; seed <= 4; ++seed) {
        auto m = mixed_model(seed, 0.1);
        DbState& db = m->db;
        for (int i = 0; i < db.npart; ++i) {
            db.v[i] = Vec3{};
            db.h[i] = 0.013;
        }
        ASSERT_TRUE(sph_gas_pair_pass_ready(*m));
        sph_gas_compute_density_rate_and_acceleration(*m);
        double total = 0.0, scale = 0.0;
        for (int i = 0; i < db.npart; ++i) {
            if (!sph_gas_is_active_particle(db, i)) continue;
            const double weighted = db.mass[i] / db.rho[i] * db.drho_dt[i];
            total += weighted;
            scale += std::fabs(weighted);
        }
        EXPECT_GT(scale, 0.0);
        EXPECT_LT(std::fabs(total), 1e-13 * scale) << seed;
    }
}

TEST(GasDiffusion, BodyForceLeavesTheTermUnchanged) {
    auto m = mixed_model(3, 0.1);
    Model pulled = *m;
    ASSERT_EQ(sph_gas_set_body_force(pulled, Vec3{0.0, 0.0, -9.81}), 0);
    ASSERT_EQ(sph_gas_compute_density_rate(*m), 0);
    ASSERT_EQ(sph_gas_compute_density_rate(pulled), 0);
    for (int i = 0; i < m->db.npart; ++i) {
        ASSERT_TRUE(same_bits(m->db.drho_dt[i], pulled.db.drho_dt[i])) << i;
    }
}
