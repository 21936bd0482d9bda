// Solid particles: setters and validation, the state build, reference
// neighbors and pair sums against the all-pairs definition, the material
// advance on strained blocks, softening acting once, failure, limits,
// queries.

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "../input/deck_test_util.hpp"
#include "../test_expect.hpp"
#include "core/sph_model.hpp"
#include "input/sph_input_reader.hpp"
#include "particle/sph_neighbor.hpp"
#include "solver/sph_solver_explicit.hpp"
#include "velunor.h"

using test_expect::expect_error;
using test_expect::same_bits;

namespace {

// A block of nx * ny * nz steel particles at `spacing`, sectioned through a
// generated set, with particle size from the solid control.
std::string block_deck(int nx, int ny, int nz, double spacing, const std::string& extra = "") {
    std::string deck = "*NODE\n";
    int id = 0;
    for (int k = 0; k < nz; ++k) {
        for (int j = 0; j < ny; ++j) {
            for (int i = 0; i < nx; ++i) {
                char line[128];
                std::snprintf(line, sizeof line, "%d, %.17g, %.17g, %.17g\n", ++id, spacing * i,
                              spacing * j, spacing * k);
                deck += line;
            }
        }
    }
    char control[160];
    std::snprintf(control, sizeof control,
                  "*VELUNOR SOLID CONTROL, MATERIAL=Steel, H=%.17g, VOLUME=%.17g\n", 1.3 * spacing,
                  spacing * spacing * spacing);
    return deck + "*NSET, NSET=BLOCK, GENERATE\n1, " + std::to_string(id) +
           "\n*MATERIAL, NAME=Steel, TYPE=SOLID\n*DENSITY\n7850\n*ELASTIC\n2e11, 0.3\n" + extra +
           "*SOLID SECTION, NSET=BLOCK, MATERIAL=Steel\n" + control +
           "*VELUNOR TIME CONTROL, DT=1e-6, TIME=1e-3, STEPS=10\n";
}

std::unique_ptr<Model> built(const std::string& text) {
    return deck_test::built_text(text);
}

// All-pairs reference of the reference neighbors of i, ascending.
std::vector<int> plain_neighbors(const DbState& db, int i) {
    std::vector<int> out;
    for (int j = 0; j < db.npart; ++j) {
        if (j == i || !sph_solid_is_active_particle(db, j)) continue;
        const double r = norm(db.x0[j] - db.x0[i]);
        if (r > 0.0 && r <= 2.0 * std::max(db.h[i], db.h[j])) out.push_back(j);
    }
    return out;
}

double& at(SolidMatrix& a, int row, int col) {
    return a[std::size_t(row + 3 * col)];
}

}  // namespace

// ---------------------------------------------------------------------------
// Setters, validation, build

TEST(SolidSetters, ChecksInTheirOrder) {
    auto m = deck_test::fresh_model();
    sph_solid_initialize(m->solid);
    ASSERT_EQ(sph_db_allocate(*m, 1), 0);
    ASSERT_EQ(sph_db_add_material(*m, "Steel", "SOLID"), 0);
    ASSERT_EQ(sph_db_add_material(*m, "Water", "WATER"), 0);
    const double nan = std::nan("");
    expect_error(*m, sph_solid_set_elastic(*m, "Steel", nan, 0.3), 1,
                 "Solid elastic parameter is not finite");
    expect_error(*m, sph_solid_set_elastic(*m, "Steel", 9e307, 0.3), 1,
                 "Solid elastic parameter is not finite");
    expect_error(*m, sph_solid_set_elastic(*m, "Steel", 0.0, 0.3), 1,
                 "Solid elastic modulus must be positive");
    expect_error(*m, sph_solid_set_elastic(*m, "Steel", 1.0, 0.5), 1,
                 "Solid Poisson ratio is invalid");
    expect_error(*m, sph_solid_set_elastic(*m, "Steel", 1.0, -1.0), 1,
                 "Solid Poisson ratio is invalid");
    expect_error(*m, sph_solid_set_elastic(*m, "Nope", 1.0, 0.3), 4, "Solid material is unknown");
    expect_error(*m, sph_solid_set_elastic(*m, "Water", 1.0, 0.3), 4,
                 "Solid data references non-Solid material");
    ASSERT_EQ(sph_solid_set_elastic(*m, "steel", 2e11, 0.3), 0);  // registers the slot
    ASSERT_EQ(m->solid.slots.size(), 1u);
    SolidJohnsonCook jc{3.5e8, 2.75e8, 0.36, 0.022, 1.0, 1.0, 293.15, 1793.0};
    auto bad = jc;
    bad.tmelt = nan;
    expect_error(*m, sph_solid_set_johnson_cook(*m, "Steel", bad), 1,
                 "Solid Johnson-Cook flow parameter is not finite");
    bad = jc;
    bad.n = -0.1;
    expect_error(*m, sph_solid_set_johnson_cook(*m, "Steel", bad), 1,
                 "Solid Johnson-Cook strength is invalid");
    bad = jc;
    bad.c = -1;
    expect_error(*m, sph_solid_set_johnson_cook(*m, "Steel", bad), 1,
                 "Solid Johnson-Cook rate or thermal exponent is invalid");
    bad = jc;
    bad.epsdot0 = 0;
    expect_error(*m, sph_solid_set_johnson_cook(*m, "Steel", bad), 1,
                 "Solid Johnson-Cook reference strain rate must be positive");
    bad = jc;
    bad.tmelt = 293.15;
    expect_error(*m, sph_solid_set_johnson_cook(*m, "Steel", bad), 1,
                 "Solid Johnson-Cook melt temperature must exceed room temperature");
    ASSERT_EQ(sph_solid_set_johnson_cook(*m, "Steel", jc), 0);
    expect_error(*m, sph_solid_set_failure(*m, "Steel", {0.05, nan, 0, 0, 0}), 1,
                 "Solid Johnson-Cook failure parameter is not finite");
    ASSERT_EQ(sph_solid_set_failure(*m, "Steel", {0.05, 3.44, -2.12, 0.002, 0.61}), 0);
    expect_error(*m, sph_solid_set_control(*m, "Steel", "exponential", 1, false, 0, false, 0), 4,
                 "Solid SOFTENING must be LINEAR");
    expect_error(*m, sph_solid_set_control(*m, "Steel", "", nan, false, 0, false, 0), 1,
                 "Solid softening WIDTH is not finite");
    expect_error(*m, sph_solid_set_control(*m, "Steel", "", 0, false, 0, false, 0), 1,
                 "Solid softening WIDTH must be positive");
    expect_error(*m, sph_solid_set_control(*m, "Steel", "", 1, true, 0, false, 0), 1,
                 "Solid control H must be positive");
    expect_error(*m, sph_solid_set_control(*m, "Steel", "", 1, false, 0, true, -1), 1,
                 "Solid control VOLUME must be positive");
    ASSERT_EQ(sph_solid_set_control(*m, "Steel", " ", 2.0, true, 0.01, false, 0), 0);
    const SolidMaterialSlot& s = m->solid.slots[0];
    EXPECT_EQ(s.solid_softening_type, "LINEAR");
    EXPECT_EQ(s.solid_control_h, 0.01);
    EXPECT_EQ(s.solid_control_volume, 0.0);
    EXPECT_EQ(s.jc.b, 2.75e8);
    EXPECT_EQ(s.solid_failure_d[2], -2.12);
}

TEST(SolidBuild, ValidationAndParticleSize) {
    const auto fails = [](const std::string& text, const std::string& message) {
        auto m = deck_test::fresh_model();
        deck_test::TempDeck deck(text);
        ASSERT_EQ(sph_input_read(*m, deck.path()), 0) << m->error.last_error_message;
        EXPECT_EQ(sph_input_build_model(*m), 4) << text;
        EXPECT_EQ(m->error.last_error_message, message);
    };
    std::string no_density = block_deck(2, 1, 1, 0.01);
    no_density.replace(no_density.find("*DENSITY\n7850\n"), 14, "");
    fails(no_density, "active Solid material is missing density");
    std::string no_elastic = block_deck(2, 1, 1, 0.01);
    no_elastic.replace(no_elastic.find("*ELASTIC\n2e11, 0.3\n"), 19, "");
    fails(no_elastic, "active Solid material is missing elastic data");
    fails(block_deck(2, 1, 1, 0.01, "*DAMAGE INITIATION\n0.05, 3.44, -2.12, 0.002, 0.61\n"),
          "Solid failure requires Johnson-Cook flow data");
    fails(block_deck(2, 1, 1, 0.01) + "*NODE\n9, 5, 5, 5\n",
          "active Solid particle is missing Solid section");

    // Particle size from the control: h = H, volume = VOLUME, mass = rho V.
    auto m = built(block_deck(3, 2, 2, 0.005));
    EXPECT_EQ(m->db.h[0], 1.3 * 0.005);
    EXPECT_EQ(m->db.volume[4], 0.005 * 0.005 * 0.005);
    EXPECT_EQ(m->db.mass[4], 7850.0 * (0.005 * 0.005 * 0.005));
    EXPECT_EQ(m->db.rho[4], 7850.0);
    EXPECT_EQ(m->solid.solid_softening[4], 1.0);
    // Without H and VOLUME the documented defaults stay.
    std::string plain = block_deck(2, 1, 1, 0.01);
    plain.erase(plain.find("*VELUNOR SOLID CONTROL"));
    plain += "*VELUNOR TIME CONTROL, DT=1e-6, TIME=1e-3, STEPS=10\n";
    m = built(plain);
    EXPECT_EQ(m->db.h[0], 1.0);
    EXPECT_EQ(m->db.mass[0], 1.0);
    EXPECT_EQ(m->db.volume[0], 1.0);
}

// A solid part and a water body whose nodes belong to no set (the first
// material, water, is their default): the water is no solid.
TEST(SolidBuild, UnsectionedWaterIsNotASolidParticle) {
    const std::string deck = R"(*NODE
1, 0, 0, 0
2, 0.01, 0, 0
3, 5, 0, 0
4, 5.01, 0, 0
*NSET, NSET=PLATE
3, 4
*MATERIAL, NAME=Water, TYPE=WATER
*DENSITY
1000
*MATERIAL, NAME=Steel, TYPE=SOLID
*DENSITY
7850
*ELASTIC
2e11, 0.3
*SOLID SECTION, NSET=PLATE, MATERIAL=Steel
*VELUNOR TIME CONTROL, DT=1e-6, TIME=1e-3, STEPS=10
*VELUNOR EOS, TYPE=TAIT, MATERIAL=Water, RHO0=1000, C0=1480, GAMMA=7
*VELUNOR VISCOSITY, TYPE=MONAGHAN, MATERIAL=Water, ALPHA=0.1, BETA=0, ETA2=0.01
*VELUNOR PARTICLE CONTROL, H=0.013, MASS=1e-3, VOLUME=1e-6
)";
    auto m = built(deck);
    EXPECT_EQ(m->db.particle_phase[0], sph_phase_water);
    EXPECT_EQ(m->db.particle_phase[2], sph_phase_solid);
    EXPECT_EQ(m->db.rho[2], 7850.0);
    EXPECT_EQ(sph_input_get_warning_count(*m), 0);

    // The build reuses the links of the solid reference search as its
    // neighbor table: they must be those of a fresh search.
    ASSERT_TRUE(m->solid.neighbors_current_at_reference);
    const auto runs = [](const DbState& db) {
        std::vector<std::vector<int>> out(static_cast<std::size_t>(db.npart));
        for (int i = 0; i < db.npart; ++i) {
            for (int k = 0; k < db.neighbor_count[i]; ++k) {
                out[std::size_t(i)].push_back(
                    db.neighbor_list[static_cast<std::size_t>(db.neighbor_offset[i] + k)]);
            }
        }
        return out;
    };
    const auto reused = runs(m->db);
    ASSERT_EQ(sph_neighbor_rebuild(*m), 0);
    EXPECT_EQ(runs(m->db), reused);
}

// ---------------------------------------------------------------------------
// Reference configuration and pair sums against the all-pairs definition

TEST(SolidReference, GridNeighborsAndPairSumsEqualTheAllPairsDefinition) {
    for (unsigned seed = 1; seed <= 5; ++seed) {
        auto m = built(block_deck(6, 5, 4, 0.01));
        DbState& db = m->db;
        std::mt19937 rng(seed);
        std::uniform_real_distribution<double> u(-1.0, 1.0);
        for (int i = 0; i < db.npart; ++i) {
            db.x0[i] += Vec3{0.003 * u(rng), 0.003 * u(rng), 0.003 * u(rng)};
            db.v[i] = Vec3{u(rng), u(rng), u(rng)};
            db.h[i] *= 1.0 + 0.3 * u(rng);
        }
        db.x0[7] = db.x0[8];  // coincident pair: skipped
        // Odd seeds: particles away from their reference positions (the cell
        // walk); even seeds: at them (the neighbor search's links).
        if (seed % 2 == 0) db.x = db.x0;
        db.particle_phase[11] = sph_phase_shell;  // other phases take no part
        db.particle_phase[12] = sph_phase_boundary;
        db.particle_status[13] = sph_status_inactive;
        ASSERT_EQ(sph_solid_build_reference_state(*m), 0);
        SolidState& s = m->solid;
        for (int i = 0; i < db.npart; ++i) {
            if (!sph_solid_is_active_particle(db, i)) continue;
            const std::vector<int> expected = plain_neighbors(db, i);
            std::vector<int> got(s.reference_neighbors.begin() + s.reference_offset[i],
                                 s.reference_neighbors.begin() + s.reference_offset[i + 1]);
            ASSERT_EQ(got, expected) << seed << " particle " << i;
            // Moment matrix and correction as written, over all pairs.
            SolidMatrix moment{};
            for (int j : expected) {
                const Vec3 dx = db.x0[j] - db.x0[i];
                for (int b = 0; b < 3; ++b) {
                    for (int a = 0; a < 3; ++a)
                        at(moment, a, b) += s.solid_reference_volume[j] * dx[a] * dx[b];
                }
            }
            SolidMatrix inverse{};
            double det = 0;
            bool ok = false;
            sph_solid_invert_3x3(moment, inverse, det, ok);
            if (expected.size() > 2 && ok) {
                EXPECT_EQ(s.solid_correction_status[i], 0);
                for (int c = 0; c < 9; ++c)
                    EXPECT_TRUE(same_bits(s.solid_correction_matrix[i][c], inverse[c]));
            }
        }
        // Stresses to exercise the pair forces, then both sums.
        for (int i = 0; i < db.npart; ++i) {
            for (int c = 0; c < 6; ++c) s.solid_stress[i][c] = 1e6 * u(rng);
        }
        ASSERT_EQ(sph_solid_compute_velocity_gradient(*m), 0);
        ASSERT_EQ(sph_solid_compute_internal_acceleration(*m), 0);
        std::vector<Vec3> acc(std::size_t(db.npart));
        for (int i = 0; i < db.npart; ++i) {
            if (!sph_solid_is_active_particle(db, i)) continue;
            for (int j = i + 1; j < db.npart; ++j) {
                if (!sph_solid_is_active_particle(db, j)) continue;
                const Vec3 dx = db.x0[j] - db.x0[i];
                const double r = norm(dx);
                if (!(r > 0.0 && r <= 2.0 * std::max(db.h[i], db.h[j]))) continue;
                // Work conjugate of the corrected gradient: V0_i V0_j
                // (stress_i C_i + stress_j C_j) dX; uncorrected particles add
                // no term of their own.
                Vec3 t[2];
                const int pair[2] = {i, j};
                for (int side = 0; side < 2; ++side) {
                    const int k = pair[side];
                    if (s.solid_correction_status[k] != 0) continue;
                    const SolidMatrix& c = s.solid_correction_matrix[k];
                    const Vec3 g{c[0] * dx.x + c[3] * dx.y + c[6] * dx.z,
                                 c[1] * dx.x + c[4] * dx.y + c[7] * dx.z,
                                 c[2] * dx.x + c[5] * dx.y + c[8] * dx.z};
                    const SolidTensor& st = s.solid_stress[k];
                    t[side] = Vec3{st[0] * g.x + st[3] * g.y + st[5] * g.z,
                                   st[3] * g.x + st[1] * g.y + st[4] * g.z,
                                   st[5] * g.x + st[4] * g.y + st[2] * g.z};
                }
                const double factor = s.solid_reference_volume[i] * s.solid_reference_volume[j];
                const Vec3 f{(t[0].x + t[1].x) * factor, (t[0].y + t[1].y) * factor,
                             (t[0].z + t[1].z) * factor};
                acc[i] += Vec3{f.x / db.mass[i], f.y / db.mass[i], f.z / db.mass[i]};
                acc[j] -= Vec3{f.x / db.mass[j], f.y / db.mass[j], f.z / db.mass[j]};
            }
            if (s.solid_correction_status[i] != 0) continue;
            SolidMatrix g{};
            for (int j : plain_neighbors(db, i)) {
                const Vec3 dv = db.v[j] - db.v[i];
                const Vec3 dx = db.x0[j] - db.x0[i];
                for (int b = 0; b < 3; ++b) {
                    for (int a = 0; a < 3; ++a)
                        at(g, a, b) += s.solid_reference_volume[j] * dv[a] * dx[b];
                }
            }
            for (int a = 0; a < 3; ++a) {
                for (int b = 0; b < 3; ++b) {
                    double l = 0.0;
                    for (int k = 0; k < 3; ++k)
                        l += at(g, a, k) * s.solid_correction_matrix[i][std::size_t(k + 3 * b)];
                    EXPECT_TRUE(same_bits(s.solid_velocity_gradient[i][std::size_t(a + 3 * b)], l))
                        << i;
                }
            }
        }
        for (int i = 0; i < db.npart; ++i) {
            EXPECT_TRUE(same_bits(s.solid_acc_internal[i].x, acc[i].x) &&
                        same_bits(s.solid_acc_internal[i].y, acc[i].y) &&
                        same_bits(s.solid_acc_internal[i].z, acc[i].z))
                << seed << " " << i;
        }
    }
}

// The cell walk of moved particles on the edge cases of its squared-distance
// test: pairs at exactly the support and just either side of it, mixed
// smoothing lengths, coincident, NaN and infinite reference positions.
TEST(SolidReference, CellWalkDecidesTheSupportEdgeAsTheDefinition) {
    auto m = built(block_deck(7, 6, 5, 0.5));
    DbState& db = m->db;
    std::mt19937 rng(11);
    std::uniform_real_distribution<double> u(-1.0, 1.0);
    for (int i = 0; i < db.npart; ++i) {
        // 2h equal to one or two spacings: lattice pairs sit exactly on the support.
        db.h[i] = rng() % 2 == 0 ? 0.25 : 0.5;
        double& c = db.x0[i][static_cast<int>(rng() % 3)];
        switch (rng() % 4) {
            case 0:
                c = std::nextafter(c, rng() % 2 == 0 ? 1e9 : -1e9);
                break;
            case 1:
                // Across a lattice pair at the support s, an offset of 2^-27
                // gives d2 = s^2 + 2^-54, one ulp above s^2, whose square root
                // rounds to s: a link that the squares alone would refuse.
                c += rng() % 2 == 0 ? 0x1p-27 : -0x1p-27;
                break;
            default:
                break;
        }
        db.x[i] = db.x0[i] + Vec3{1e-3 * u(rng), 0.0, 0.0};
    }
    db.x0[20] = db.x0[21];
    db.x0[30].y = std::numeric_limits<double>::quiet_NaN();
    db.x0[40].z = std::numeric_limits<double>::infinity();
    db.h[50] = 0.5 * (1.0 + 1e-12);
    ASSERT_EQ(sph_solid_find_reference_neighbors(*m), 0);
    const SolidState& s = m->solid;
    ASSERT_FALSE(s.neighbors_current_at_reference);
    int64_t links = 0;
    for (int i = 0; i < db.npart; ++i) {
        const std::vector<int> got(s.reference_neighbors.begin() + s.reference_offset[i],
                                   s.reference_neighbors.begin() + s.reference_offset[i + 1]);
        ASSERT_EQ(got, plain_neighbors(db, i)) << "particle " << i;
        links += static_cast<int64_t>(got.size());
    }
    EXPECT_GT(links, 10 * db.npart);
}

TEST(SolidReference, DegenerateNeighborhoodsFallBack) {
    // A line of particles: the ends have 1 or 2 neighbors (underconstrained),
    // the middle ones neighbors on one line only (singular).
    auto m = built(block_deck(5, 1, 1, 0.01));
    const SolidState& s = m->solid;
    EXPECT_EQ(s.solid_reference_neighbor_count[0], 2);  // 2h = 2.6 spacings
    EXPECT_EQ(s.solid_correction_status[0], sph_solid_correction_underconstrained);
    EXPECT_EQ(s.solid_correction_determinant[0], 0.0);
    EXPECT_EQ(s.solid_correction_status[2], sph_solid_correction_singular);
    EXPECT_EQ(s.solid_reference_degenerate[2], 1);
    EXPECT_EQ(s.solid_correction_matrix[2][0], 1.0);  // the identity
    // A degenerate particle takes no strain.
    m->db.v[2] = Vec3{1.0, 0.0, 0.0};
    ASSERT_EQ(sph_solid_compute_velocity_gradient(*m), 0);
    EXPECT_EQ(m->solid.solid_strain_rate_eq[2], 0.0);
}

// ---------------------------------------------------------------------------
// The material advance

// A block stretched along x (v = rate x): the corrected gradient is exact for
// a linear field, so the elastic stress is the uniaxial-strain stress
// (K + 4G/3) eps and lambda eps; with Johnson-Cook A (B = 0) it yields at A.
TEST(SolidMaterial, UniaxialStrainElasticThenYieldAtA) {
    const double rate = 100.0, dt = 1e-7;
    for (bool plastic : {false, true}) {
        const std::string jc = plastic ? "*PLASTIC\n3.5e8, 0, 0.36, 0, 1, 1, 293.15, 1793\n" : "";
        auto m = built(block_deck(5, 5, 5, 0.01, jc));
        DbState& db = m->db;
        for (int i = 0; i < db.npart; ++i) db.v[i] = Vec3{rate * db.x0[i].x, 0, 0};
        const double e = 2e11, nu = 0.3;
        const double g = e / (2 * (1 + nu)), k = e / (3 * (1 - 2 * nu));
        const int centre = 62;
        ASSERT_EQ(m->solid.solid_correction_status[centre], 0);
        for (int step = 1; step <= 40; ++step) {
            ASSERT_EQ(sph_solid_advance_material(*m, dt), 0) << m->error.last_error_message;
            const double eps = rate * dt * step;
            const SolidTensor& st = m->solid.solid_stress[centre];
            const double q = sph_solid_von_mises(st);
            if (!plastic || 2 * g * eps <= 3.5e8) {
                EXPECT_NEAR(st[0], (k + 4 * g / 3) * eps, 1e-6 * (k + 4 * g / 3) * eps) << step;
                EXPECT_NEAR(st[1], (k - 2 * g / 3) * eps, 1e-6 * (k + 4 * g / 3) * eps) << step;
            } else {
                EXPECT_NEAR(q, 3.5e8, 1e-6 * 3.5e8) << step;  // on the yield surface
                EXPECT_GT(m->solid.solid_plastic_strain[centre], 0.0);
            }
            EXPECT_NEAR(m->solid.solid_strain[centre][0], eps, 1e-9 * eps);
        }
    }
}

// Softening acts once: a damaged particle under no further strain keeps its
// stress, and its pair forces carry its softening once (through the stress).
TEST(SolidMaterial, DamagedParticleAtRestKeepsItsStress) {
    auto m = built(block_deck(4, 4, 4, 0.01,
                              "*PLASTIC\n3.5e8, 2.75e8, 0.36, 0.022, 1, 1, 293.15, 1793\n"
                              "*DAMAGE INITIATION\n0.05, 3.44, -2.12, 0.002, 0.61\n"));
    SolidState& s = m->solid;
    const int p = 21;
    s.solid_effective_stress[p] = {1e8, -2e7, 3e7, 4e6, 0, -1e6};
    s.solid_damage[p] = 0.4;
    s.solid_softening[p] = 0.6;
    for (int c = 0; c < 6; ++c) s.solid_stress[p][c] = 0.6 * s.solid_effective_stress[p][c];
    const SolidTensor before = s.solid_stress[p];
    for (int step = 0; step < 5; ++step) ASSERT_EQ(sph_solid_advance_material(*m, 1e-7), 0);
    for (int c = 0; c < 6; ++c) EXPECT_TRUE(same_bits(s.solid_stress[p][c], before[c])) << c;
    EXPECT_EQ(s.solid_softening[p], 0.6);
    // The state query shows that acting stress.
    std::vector<double> values(std::size_t(22 * m->db.npart));
    std::vector<int> a(std::size_t(m->db.npart)), b(a), c(a), d(a);
    int count = 0;
    ASSERT_EQ(sph_solid_get_state(*m, m->db.npart, 22, values.data(), a.data(), b.data(), c.data(),
                                  d.data(), count),
              0);
    EXPECT_EQ(values[22 * p], before[0]);
    EXPECT_EQ(values[22 * p + 20], 0.6);
}

TEST(SolidMaterial, DamageReachingOneFailsTheParticle) {
    auto m = built(block_deck(4, 4, 4, 0.01,
                              "*PLASTIC\n1e6, 0, 0.36, 0, 1, 1, 293.15, 1793\n"
                              "*DAMAGE INITIATION\n1e-6, 0, 0, 0, 0\n"));
    DbState& db = m->db;
    for (int i = 0; i < db.npart; ++i) db.v[i] = Vec3{1000.0 * db.x0[i].x, 0, 0};
    ASSERT_EQ(sph_solid_advance_material(*m, 1e-6), 0) << m->error.last_error_message;
    const int p = 21;
    EXPECT_EQ(db.particle_phase[p], sph_phase_solid_failed);
    EXPECT_EQ(db.particle_status[p], sph_status_failed);
    EXPECT_EQ(m->solid.solid_failure_status[p], 2);
    EXPECT_EQ(m->solid.solid_damage[p], 1.0);
    for (int c = 0; c < 6; ++c) EXPECT_EQ(m->solid.solid_stress[p][c], 0.0);
    int active = 0, failed = 0;
    sph_solid_get_counts(*m, active, failed);
    EXPECT_GT(failed, 0);
    EXPECT_EQ(active + failed, db.npart);
}

// ---------------------------------------------------------------------------
// Step, limits, queries

TEST(SolidDynamics, StepLimitsAndBalancedForces) {
    auto m = built(block_deck(5, 4, 3, 0.005) + "*VELUNOR BODY FORCE, Z=-9.81\n");
    DbState& db = m->db;
    // A body force with no stress gives exactly the body-force acceleration.
    ASSERT_EQ(sph_solid_compute_acceleration(*m), 0);
    EXPECT_EQ(db.a[10].z, -9.81);
    EXPECT_EQ(db.a[10].x, 0.0);
    double cfl = 0, accel = 0, limit = 0;
    ASSERT_EQ(sph_solid_estimate_dt_limits(*m, cfl, accel, limit), 0);
    const double c = std::sqrt((2e11 / (3 * 0.4) + 4 * 2e11 / (2 * 1.3) / 3) / 7850.0);
    EXPECT_NEAR(cfl, 1.3 * 0.005 / c, 1e-12 * cfl);
    EXPECT_EQ(limit, cfl);  // sqrt(h / g) is far larger
    // Steps at the stable step stay stable and the pair forces balance.
    std::mt19937 rng(4);
    for (int i = 0; i < db.npart; ++i) db.v[i] = Vec3{0.1 * double(rng() % 3), 0, 0};
    for (int step = 0; step < 30; ++step) {
        double dt = 0;
        ASSERT_EQ(sph_solid_estimate_dt_limits(*m, cfl, accel, limit), 0);
        dt = 0.5 * limit;
        ASSERT_EQ(sph_solid_advance_material(*m, dt), 0);
        ASSERT_EQ(sph_solver_advance_explicit(*m, dt), 0) << m->error.last_error_message;
    }
    double values[3];
    ASSERT_EQ(sph_solid_get_diagnostics(*m, 3, values), 0);
    double force_scale = 0;
    for (int i = 0; i < db.npart; ++i)
        force_scale += db.mass[i] * norm(m->solid.solid_acc_internal[i]);
    EXPECT_LT(values[2], 1e-10 * force_scale + 1e-300);
    EXPECT_LT(m->db.solid.solid_max_von_mises, 1e9);  // no blow-up

    // Without solid state the limits are (largest, largest, 0); with state
    // but no active solid particle, all three 0.
    auto none = deck_test::fresh_model();
    ASSERT_EQ(sph_solid_estimate_dt_limits(*none, cfl, accel, limit), 0);
    EXPECT_EQ(cfl, std::numeric_limits<double>::max());
    EXPECT_EQ(limit, 0.0);
    for (int i = 0; i < db.npart; ++i) db.particle_status[i] = sph_status_inactive;
    ASSERT_EQ(sph_solid_estimate_dt_limits(*m, cfl, accel, limit), 0);
    EXPECT_EQ(cfl + accel + limit, 0.0);
}

TEST(SolidExports, SummaryStateAndBuffers) {
    ASSERT_EQ(velunor_initialize(), 0);
    deck_test::TempDeck deck(block_deck(3, 3, 3, 0.01));
    ASSERT_EQ(velunor_read_inp(deck.path().c_str()), 0);
    ASSERT_EQ(velunor_build_model(), 0);
    int active = 0, failed = 0;
    double values[16];
    EXPECT_EQ(velunor_get_solid_summary(&active, &failed, values, 15), -1);
    ASSERT_EQ(velunor_get_solid_summary(&active, &failed, values, 16), 0);
    EXPECT_EQ(active, 27);
    EXPECT_EQ(failed, 0);
    EXPECT_NEAR(values[0], 27 * 7850.0 * 1e-6, 1e-12);
    EXPECT_GT(values[13], 0.0);  // dt_cfl
    std::vector<double> state(22 * 27);
    int fs[27], rn[27], rd[27], cs[27], count = 0;
    EXPECT_EQ(
        velunor_get_solid_particle_state(27, state.data(), 22 * 27 - 1, fs, rn, rd, cs, &count),
        -1);
    EXPECT_EQ(velunor_get_solid_particle_state(26, state.data(), 22 * 27, fs, rn, rd, cs, &count),
              1);
    char message[300];
    int code = 0;
    ASSERT_EQ(velunor_get_last_error(&code, message, 300), 0);
    EXPECT_STREQ(message, "Solid state particle buffer is too small");
    ASSERT_EQ(velunor_get_solid_particle_state(27, state.data(), 22 * 27, fs, rn, rd, cs, &count),
              0);
    EXPECT_EQ(count, 27);
    EXPECT_EQ(rn[13], 26);  // the centre sees the whole 3x3x3 block within 2.6 spacings
    EXPECT_EQ(state[22 * 13 + 20], 1.0);  // softening
    double diagnostics[3];
    EXPECT_EQ(velunor_get_solid_diagnostics(diagnostics, 2), -1);
    ASSERT_EQ(velunor_get_solid_diagnostics(diagnostics, 3), 0);
    int nmin = 0, status = 0;
    double det = 0;
    ASSERT_EQ(velunor_get_solid_reference_quality(&nmin, &status, &det, 1), 0);
    EXPECT_EQ(nmin, 19);  // a corner: the 26 others but the 7 beyond 2.6 spacings
    EXPECT_GT(det, 0.0);
    EXPECT_EQ(velunor_finalize(), 0);
}

// A solid block stepped with and without a water body beside it (after it in
// index order, inside its box): solid and water do not interact, so the solid
// state comes out bit for bit the same, and its momentum is conserved by the
// balanced pair forces.
TEST(SolidDynamics, MixedModelStepsLikeTheSolidAlone) {
    std::string alone = block_deck(4, 4, 3, 0.005);
    std::string mixed = alone;
    std::string nodes = "*NODE\n";
    for (int k = 0; k < 3; ++k) {
        for (int i = 0; i < 3; ++i) {
            nodes += std::to_string(1000 + 3 * k + i) + ", " + std::to_string(0.0025 + 0.005 * i) +
                     ", 0.0025, " + std::to_string(0.0025 + 0.005 * k) + "\n";
        }
    }
    mixed += nodes +
             "*NSET, NSET=POOL, GENERATE\n1000, 1008\n*MATERIAL, NAME=Water, TYPE=WATER\n"
             "*DENSITY\n1000\n*FLUID SECTION, NSET=POOL, MATERIAL=Water\n"
             "*VELUNOR EOS, TYPE=TAIT, MATERIAL=Water, RHO0=1000, C0=1480, GAMMA=7\n"
             "*VELUNOR VISCOSITY, TYPE=MONAGHAN, MATERIAL=Water, ALPHA=0.1, BETA=0, ETA2=0.01\n"
             "*VELUNOR PARTICLE CONTROL, H=0.0065, MASS=1.25e-4, VOLUME=1.25e-7\n";
    auto a = built(alone);
    auto b = built(mixed);
    std::mt19937 rng(8);
    std::uniform_real_distribution<double> u(-1.0, 1.0);
    for (int i = 0; i < a->db.npart; ++i) {
        const Vec3 v{u(rng), u(rng), u(rng)};
        a->db.v[i] = v;
        b->db.v[i] = v;
    }
    Vec3 p0;
    for (int i = 0; i < a->db.npart; ++i) p0 += a->db.mass[i] * a->db.v[i];
    for (int step = 0; step < 6; ++step) {
        ASSERT_EQ(sph_solver_advance_explicit(*a, 2e-7), 0) << a->error.last_error_message;
        ASSERT_EQ(sph_solver_advance_explicit(*b, 2e-7), 0) << b->error.last_error_message;
    }
    Vec3 p1;
    for (int i = 0; i < a->db.npart; ++i) {
        for (int c = 0; c < 6; ++c) {
            EXPECT_TRUE(same_bits(a->solid.solid_stress[i][c], b->solid.solid_stress[i][c])) << i;
        }
        EXPECT_TRUE(same_bits(a->db.x[i].x, b->db.x[i].x) && same_bits(a->db.v[i].y, b->db.v[i].y));
        p1 += a->db.mass[i] * a->db.v[i];
    }
    EXPECT_GT(a->db.solid.solid_max_von_mises, 0.0);
    EXPECT_NEAR(norm(p1 - p0), 0.0, 1e-12 * (norm(p0) + 1e-3));
    EXPECT_EQ(b->db.particle_phase[a->db.npart], sph_phase_water);
}

// 4340's failure fit (D1 < 0) gives a failure strain of zero or below at
// high triaxiality: the particle fails there instead of stopping the run.
TEST(SolidMaterial, NonPositiveFailureStrainFailsTheParticle) {
    const std::array<double, 5> d{-0.8, 2.1, -0.5, 0.002, 0.61};
    EXPECT_LT(sph_solid_jc_failure_strain_value(d, 3.0, 1.0, 1.0, 0.0), 0.0);
    EXPECT_GT(sph_solid_jc_failure_strain_value(d, 0.0, 1.0, 1.0, 0.0), 0.0);
    auto m = built(block_deck(4, 4, 4, 0.01,
                              "*PLASTIC\n1e6, 0, 0.36, 0, 1, 1, 293.15, 1793\n"
                              "*DAMAGE INITIATION\n-0.8, 2.1, -0.5, 0.002, 0.61\n"));
    SolidState& s = m->solid;
    const int p = 21;
    // Hydrostatic tension with a small deviator: triaxiality far above 2.
    s.solid_effective_stress[p] = {3e6, 3e6, 3.5e6, 0, 0, 0};
    s.solid_stress[p] = s.solid_effective_stress[p];
    const SolidTensor inc{1e-4, 0, 0, 0, 0, 0};
    ASSERT_EQ(sph_solid_update_particle_material(*m, p, inc, 1e-6), 0)
        << m->error.last_error_message;
    EXPECT_EQ(m->db.particle_phase[p], sph_phase_solid_failed);
    EXPECT_EQ(s.solid_damage[p], 1.0);
    EXPECT_EQ(s.solid_stress[p][0], 0.0);
}
