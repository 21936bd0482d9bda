// Blast regions and loads: the keyword and its checks, phase words, the
// snapshot and the pair count against plain definitions, forces, windows,
// summaries.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "../input/deck_test_util.hpp"
#include "../test_expect.hpp"
#include "core/sph_model.hpp"
#include "input/sph_input_reader.hpp"
#include "solver/sph_solver_explicit.hpp"

using test_expect::expect_error;
using test_expect::same_bits;

namespace {

// Gas cloud (ids 1..g), a solid plate (ids 101..) in set PLATE and a few water
// particles (ids 201..), with the blast lines of `regions`.
std::string blast_deck(const std::string& regions) {
    std::string deck = "*NODE\n";
    for (int i = 0; i < 4; ++i)
        deck += std::to_string(1 + i) + ", " + std::to_string(0.01 * i) + ", 0, 0\n";
    for (int j = 0; j < 3; ++j) {
        for (int i = 0; i < 3; ++i) {
            deck += std::to_string(101 + 3 * j + i) + ", 0.05, " + std::to_string(0.01 * i) + ", " +
                    std::to_string(0.01 * j) + "\n";
        }
    }
    for (int i = 0; i < 2; ++i)
        deck += std::to_string(201 + i) + ", -0.02, " + std::to_string(0.01 * i) + ", 0\n";
    return deck +
           "*NSET, NSET=CLOUD, GENERATE\n1, 4\n*NSET, NSET=PLATE, GENERATE\n101, 109\n"
           "*NSET, NSET=POOL, GENERATE\n201, 202\n"
           "*MATERIAL, NAME=Air, TYPE=GAS\n*DENSITY\n10\n"
           "*VELUNOR EOS, TYPE=IDEAL_GAS, MATERIAL=Air, GAMMA=1.4, E0=2.5e5\n"
           "*GAS SECTION, NSET=CLOUD, MATERIAL=Air\n"
           "*MATERIAL, NAME=Water, TYPE=WATER\n*DENSITY\n1000\n*FLUID SECTION, NSET=POOL, "
           "MATERIAL=Water\n"
           "*VELUNOR EOS, TYPE=TAIT, MATERIAL=Water, RHO0=1000, C0=1480, GAMMA=7, P0=2e5\n"
           "*VELUNOR VISCOSITY, TYPE=MONAGHAN, MATERIAL=Water, ALPHA=0.1, BETA=0, ETA2=0.01\n"
           "*VELUNOR PARTICLE CONTROL, H=0.013, MASS=1e-5, VOLUME=1e-6\n"
           "*MATERIAL, NAME=Steel, TYPE=SOLID\n*DENSITY\n7850\n*ELASTIC\n2e11, 0.3\n"
           "*SOLID SECTION, NSET=PLATE, MATERIAL=Steel\n"
           "*VELUNOR SOLID CONTROL, MATERIAL=Steel, H=0.013, VOLUME=1e-6\n"
           "*VELUNOR TIME CONTROL, DT=1e-7, TIME=1e-3, STEPS=10\n" +
           regions;
}

std::unique_ptr<Model> built(const std::string& text) {
    return deck_test::built_text(text);
}

// The snapshot, projection and storing as written, over all particles.
struct PlainRegion {
    int sources = 0, targets = 0, skipped_sources = 0, skipped_targets = 0;
    int64_t pairs = 0;
    std::vector<Vec3> force;
};

PlainRegion plain_region(Model& m, int region, double time) {
    const BlastRegion& r = m.blast.regions[std::size_t(region - 1)];
    const DbState& db = m.db;
    PlainRegion out;
    out.force.assign(std::size_t(db.npart), Vec3{});
    const double r2 = r.blast_radius * r.blast_radius;
    std::vector<int> src, tgt;
    double pressure_sum = 0.0, wmin = 0.0, wmax = 0.0;
    int water = 0;
    for (int p = 0; p < db.npart; ++p) {
        const Vec3 d = db.x[p] - r.blast_center;
        const bool inside = dot(d, d) <= r2;
        const bool act = db.particle_status[p] == sph_status_active;
        // Membership by a scan of the set's members.
        bool in_set = false;
        const int ns = sph_db_find_nset(db, r.blast_target_set_name);
        if (ns > 0) {
            sph_db_for_each_set_member(db.nsets[std::size_t(ns - 1)], [&](int id) {
                in_set = in_set || id == db.particle_id_ext[p];
                return true;
            });
        }
        if (sph_blast_phase_matches(r.blast_source_phase, db.particle_phase[p])) {
            if (act && inside) {
                ++out.sources;
                src.push_back(p);
                pressure_sum += db.pressure[p];
            } else {
                ++out.skipped_sources;
            }
        } else if (act && inside) {
            ++out.skipped_sources;
        }
        if (sph_blast_phase_matches(r.blast_target_phase, db.particle_phase[p])) {
            if (act && inside && in_set) {
                ++out.targets;
                tgt.push_back(p);
            } else {
                ++out.skipped_targets;
            }
        } else if (act && inside && in_set) {
            ++out.skipped_targets;
        }
        if (act && inside && db.particle_phase[p] == sph_phase_water) {
            wmin = water == 0 ? db.pressure[p] : std::min(wmin, db.pressure[p]);
            wmax = water == 0 ? db.pressure[p] : std::max(wmax, db.pressure[p]);
            ++water;
        }
    }
    for (int i : src) {
        for (int j : tgt) {
            const Vec3 d = db.x[j] - db.x[i];
            out.pairs += dot(d, d) <= r2 ? 1 : 0;
        }
    }
    const bool window = r.blast_time_window <= 0.0 || time <= r.blast_time_window;
    if (!window || out.sources < 1 || out.targets < 1) return out;
    const double p =
        (pressure_sum / out.sources + (water > 0 ? (wmin + wmax) / 2.0 : 0.0)) * r.blast_load_scale;
    for (int j : tgt) {
        const Vec3 d = db.x[j] - r.blast_center;
        const double len = norm(d);
        if (len <= 1e-12 || !(db.volume[j] > 0.0)) continue;
        const Vec3 e{d.x / len, d.y / len, d.z / len};
        const double area = std::pow(db.volume[j], 2.0 / 3.0);
        out.force[std::size_t(j)] = Vec3{e.x * p * area, e.y * p * area, e.z * p * area};
    }
    return out;
}

}  // namespace

TEST(BlastRegions, KeywordAndReceiverChecksInOrder) {
    const std::string base = blast_deck("");
    const int line = int(std::count(base.begin(), base.end(), '\n')) + 1;
    const auto fails = [&](const std::string& text, int code, const std::string& message) {
        deck_test::expect_read_error(base + text + "\n", code, line, message);
    };
    const std::string ok = "*VELUNOR BLAST REGION, RADIUS=1, TARGET_SET=PLATE";
    fails("*VELUNOR BLAST REGION, TARGET_SET=PLATE", 4, "missing required option RADIUS");
    fails("*VELUNOR BLAST REGION, RADIUS=1, X=a, TARGET_SET=PLATE", 4, "invalid numeric option X");
    fails("*VELUNOR BLAST REGION, RADIUS=1", 4, "Blast region is missing TARGET_SET option");
    fails(ok + ", SCALE=big", 4, "invalid blast SCALE");
    fails(ok + ", WINDOW=soon", 4, "invalid blast TIME_WINDOW");
    fails(ok + ", ACTIVE=maybe", 4, "invalid blast ENABLED option");
    fails("*VELUNOR BLAST REGION, RADIUS=0, TARGET_SET=PLATE", 4,
          "Blast region RADIUS must be positive");
    fails(ok + ", TIME_WINDOW=-1", 4, "Blast region TIME_WINDOW must be non-negative");
    fails(ok + ", SOURCE=SOLIDS", 4, "Blast region SOURCE_PHASE is invalid");
    fails(ok + ", TARGET_PHASE=nothing", 4, "Blast region TARGET_PHASE is invalid");
    fails(ok + ", MODE=sideways", 4, "Blast region MODE is invalid");
    fails("*VELUNOR BLAST REGION, RADIUS=1, SET=NOWHERE", 4, "Blast region TARGET_SET is unknown");
    deck_test::expect_read_error(base + ok + "\n" + ok + "\n", 4, line + 1,
                                 "Blast region NAME is duplicated");  // both named BLAST
    // The receiver's own checks, in order.
    auto m = built(base);
    const Vec3 c;
    expect_error(*m,
                 sph_blast_add_region(*m, "R", c, 1, "GAS", "SOLID", "PLATE", 1e308 * 10, 0, ""), 4,
                 "Blast region SCALE must be finite");
    expect_error(
        *m, sph_blast_add_region(*m, "R", Vec3{9e307, 0, 0}, 1, "GAS", "SOLID", "PLATE", 1, 0, ""),
        4, "Blast region center must be finite");
    expect_error(*m, sph_blast_add_region(*m, "R", c, 1, "GAS", "SOLID", " ", 1, 0, ""), 4,
                 "Blast region is missing TARGET_SET");
    for (int k = 0; k < 32; ++k) {
        std::string name = "R";  // (a temporary "R" + ... trips a false g++ 12 warning)
        name += std::to_string(k);
        ASSERT_EQ(sph_blast_add_region(*m, name, c, 1, "GAS", "SOLID", k == 0 ? "none" : "PLATE", 1,
                                       0, ""),
                  0);
    }
    expect_error(*m, sph_blast_add_region(*m, "R99", c, 1, "GAS", "SOLID", "PLATE", 1, 0, ""), 5,
                 "too many Blast region records");
    EXPECT_FALSE(m->blast.regions[0].blast_region_enabled);  // NONE: stored, disabled
    EXPECT_EQ(sph_blast_count_unused_regions(m->blast), 1);
}

TEST(BlastRegions, PhaseAndModeWords) {
    EXPECT_EQ(sph_blast_phase_code("water gas"), sph_blast_phase_water);
    EXPECT_EQ(sph_blast_phase_code("megastructure"), sph_blast_phase_gas);
    EXPECT_EQ(sph_blast_phase_code(" Solid "), sph_blast_phase_solid);
    EXPECT_EQ(sph_blast_phase_code("SOLIDS"), sph_blast_phase_none);
    EXPECT_EQ(sph_blast_phase_code("shell"), sph_blast_phase_shell);
    EXPECT_EQ(sph_blast_phase_code("STRUCTURE"), sph_blast_phase_structure);
    EXPECT_EQ(sph_blast_phase_code("any"), sph_blast_phase_all);
    EXPECT_EQ(sph_blast_phase_code(""), sph_blast_phase_none);
    EXPECT_TRUE(sph_blast_phase_matches(sph_blast_phase_structure, sph_phase_shell));
    EXPECT_FALSE(sph_blast_phase_matches(sph_blast_phase_structure, sph_phase_solid_failed));
    EXPECT_TRUE(sph_blast_phase_matches(sph_blast_phase_all, sph_phase_solid_failed));
    EXPECT_EQ(sph_blast_mode_code(""), sph_blast_mode_radial);
    EXPECT_EQ(sph_blast_mode_code("normal"), sph_blast_mode_normal);
    EXPECT_EQ(sph_blast_mode_code("DIRECT"), sph_blast_mode_direct);
    EXPECT_EQ(sph_blast_mode_code("oblique"), 0);
}

// One source of pressure 1e5, no water, SCALE 2, one solid target of volume
// 1e-6 (area 1e-4) at (1, 0, 0) from the centre: force (20, 0, 0).
TEST(BlastLoads, WorkedExampleAndZeroWeights) {
    auto m =
        built(blast_deck("*VELUNOR BLAST REGION, NAME=A, RADIUS=1.5, SOURCE=GAS, TARGET=SOLID, "
                         "TARGET_SET=PLATE, SCALE=2\n"));
    DbState& db = m->db;
    for (int p = 0; p < db.npart; ++p) db.x[p] = Vec3{100.0, 0, 0};  // everything outside
    db.x[0] = Vec3{0.5, 0, 0};
    db.pressure[0] = 1e5;
    db.x[4] = Vec3{1.0, 0, 0};  // node 101, the first plate particle
    ASSERT_EQ(sph_blast_load_compute_at(*m, 0.0), 0);
    EXPECT_NEAR(m->blast_load.blast_solid_external_force[4].x, 20.0, 1e-12);
    EXPECT_EQ(m->blast_load.blast_solid_external_force[4].y, 0.0);
    EXPECT_EQ(m->blast_load.diagnostics[0].blast_load_target_count, 1);
    // A target at the centre gets no force and counts as zero weight.
    db.x[5] = Vec3{0, 0, 0};
    ASSERT_EQ(sph_blast_load_compute_at(*m, 0.0), 0);
    EXPECT_EQ(m->blast_load.diagnostics[0].blast_load_zero_weight_count, 1);
    EXPECT_EQ(m->blast_load.blast_solid_external_force[5].x, 0.0);
    // SCALE 0: zero forces, still counted; a negative pressure pulls inward.
    m->blast.regions[0].blast_load_scale = 0.0;
    ASSERT_EQ(sph_blast_load_compute_at(*m, 0.0), 0);
    EXPECT_EQ(m->blast_load.diagnostics[0].blast_load_target_count, 1);  // the centred one has none
    EXPECT_EQ(m->blast_load.blast_solid_external_force[4].x, 0.0);
    m->blast.regions[0].blast_load_scale = 1.0;
    db.pressure[0] = -1e5;
    ASSERT_EQ(sph_blast_load_compute_at(*m, 0.0), 0);
    EXPECT_LT(m->blast_load.blast_solid_external_force[4].x, 0.0);
    // All target volumes zero: one zero-weight event, nothing applied.
    for (int p = 4; p < 13; ++p) db.volume[p] = 0.0;
    ASSERT_EQ(sph_blast_load_compute_at(*m, 0.0), 0);
    EXPECT_EQ(m->blast_load.diagnostics[0].blast_load_zero_weight_count, 1);
    EXPECT_EQ(m->blast_load.diagnostics[0].blast_load_target_count, 0);
}

// Several regions (gas, water and all sources; time window; SCALE) against
// the plain definitions, at build and after steps; the summary reads the
// same values.
TEST(BlastLoads, SeveralRegionsAgainstThePlainReference) {
    auto m = built(blast_deck(
        "*VELUNOR BLAST REGION, NAME=GAS, X=0.02, RADIUS=0.06, TARGET_SET=PLATE\n"
        "*VELUNOR BLAST REGION, NAME=WET, X=0.0, Y=0.01, RADIUS=0.07, SOURCE_PHASE=WATER, "
        "TARGET_PHASE=STRUCTURE, SET=PLATE, FACTOR=0.5, WINDOW=3e-7\n"
        "*VELUNOR BLAST REGION, NAME=ANY, X=0.05, RADIUS=0.015, SOURCE=ALL, TARGET_SET=PLATE, "
        "MODE=NORMAL\n"
        "*VELUNOR BLAST REGION, NAME=OFF, RADIUS=1, TARGET_SET=PLATE, ENABLED=NO\n"));
    EXPECT_EQ(sph_input_get_warning_count(*m), 1);  // the disabled region
    for (int step = 0; step <= 5; ++step) {
        if (step > 0) {
            ASSERT_EQ(sph_solver_advance_explicit(*m, 1e-7), 0) << m->error.last_error_message;
        }
        const double t = m->control.current_time;
        for (int r = 1; r <= 3; ++r) {
            const PlainRegion plain = plain_region(*m, r, t);
            BlastRegionSummary s;
            ASSERT_EQ(sph_blast_load_get_summary(*m, r, s), 0);
            EXPECT_EQ(s.counts[0], plain.sources) << r;
            EXPECT_EQ(s.counts[1], plain.targets) << r;
            EXPECT_EQ(s.counts[2], plain.pairs) << r;
            EXPECT_EQ(s.counts[3], plain.skipped_sources) << r;
            EXPECT_EQ(s.counts[4], plain.skipped_targets) << r;
            EXPECT_EQ(s.counts[6], s.counts[5] > 0 ? plain.pairs : 0) << r;
            Vec3 total;
            for (int p = 0; p < m->db.npart; ++p) total += plain.force[std::size_t(p)];
            EXPECT_NEAR(s.values[13], total.x, 1e-12 * (std::fabs(total.x) + 1.0))
                << r << " " << step;
        }
        // Region forces add up in each particle's cache.
        for (int p = 0; p < m->db.npart; ++p) {
            Vec3 sum;
            for (int r = 1; r <= 3; ++r) sum += plain_region(*m, r, t).force[std::size_t(p)];
            EXPECT_NEAR(m->blast_load.blast_solid_external_force[p].x, sum.x,
                        1e-9 * (norm(sum) + 1.0));
        }
    }
    // The pair count is taken when a summary asks, from the positions of the
    // evaluation: moving particles in between does not change it.
    ASSERT_EQ(sph_blast_load_compute_at(*m, m->control.current_time), 0);
    const int64_t pairs_at_evaluation = plain_region(*m, 1, m->control.current_time).pairs;
    for (int p = 0; p < m->db.npart; ++p) m->db.x[p] = 3.0 * m->db.x[p];
    BlastRegionSummary gas;
    ASSERT_EQ(sph_blast_load_get_summary(*m, 1, gas), 0);
    EXPECT_EQ(gas.counts[2], pairs_at_evaluation);
    EXPECT_EQ(gas.counts[6], pairs_at_evaluation);
    EXPECT_GT(gas.counts[0], 0);
    EXPECT_GT(gas.counts[2], 0);
    EXPECT_GT(gas.values[13], 0.0);            // the cloud pushes the plate away (+x)
    EXPECT_GT(m->control.current_time, 3e-7);  // past WET's window: it no longer loads
    BlastRegionSummary wet;
    ASSERT_EQ(sph_blast_load_get_summary(*m, 2, wet), 0);
    EXPECT_EQ(wet.counts[5], 0);
    EXPECT_GT(wet.counts[1], 0);  // its snapshot still counts targets
    BlastRegionSummary none;
    ASSERT_EQ(sph_blast_load_get_summary(*m, 32, none), 0);
    EXPECT_EQ(none.counts[0] + none.counts[1], 0);
    expect_error(*m, sph_blast_load_get_summary(*m, 33, none), 1,
                 "Blast summary region is out of range");
}

// A load that acts for one step does not act in the next: the caches
// describe the latest evaluation only.
TEST(BlastLoads, ALoadActsOnlyWhileItsWindowLasts) {
    auto m =
        built(blast_deck("*VELUNOR BLAST REGION, X=0.02, RADIUS=0.06, TARGET_SET=PLATE, "
                         "TIME_WINDOW=1e-7, SCALE=1000\n"));
    // Step 1 starts at t = 0 inside the window: the blast pushes the plate.
    ASSERT_EQ(sph_solver_advance_explicit(*m, 1e-7), 0);
    const Vec3 v1 = m->db.v[4];
    EXPECT_GT(norm(v1), 0.0);
    // Step 2 starts at t = 1e-7, still in the window (inclusive); step 3 after.
    ASSERT_EQ(sph_solver_advance_explicit(*m, 1e-7), 0);
    ASSERT_EQ(sph_solver_advance_explicit(*m, 1e-7), 0);
    const double a_x = m->db.a[4].x;
    EXPECT_EQ(m->blast_load.blast_solid_external_force[4].x, 0.0);
    // Without the blast only the solid's own stress acts.
    EXPECT_EQ(a_x, m->solid.solid_acc_internal[4].x + m->solid.solid_body_force.x);
}

TEST(BlastPairs, GridCountEqualsThePlainCount) {
    std::mt19937 rng(2);
    std::uniform_real_distribution<double> u(-1.0, 1.0);
    for (int trial = 0; trial < 30; ++trial) {
        auto m = deck_test::fresh_model();
        const int n = 200 + int(rng() % 800);
        ASSERT_EQ(sph_db_allocate(*m, n), 0);
        for (int i = 0; i < n; ++i) {
            if (trial % 3 == 0) {  // lattice points: many pairs exactly at the radius
                m->db.x[i] =
                    Vec3{double(int(rng() % 9)), double(int(rng() % 9)), double(int(rng() % 9))};
            } else {
                m->db.x[i] = Vec3{u(rng), u(rng), u(rng)};
            }
        }
        m->db.x[3] = Vec3{std::nan(""), 0, 0};
        std::vector<int> a, b;
        for (int i = 0; i < n; ++i) (rng() % 3 == 0 ? a : b).push_back(i);
        const double radius =
            trial % 3 == 0 ? 2.0 + double(trial % 2) : 0.05 + 0.5 * (u(rng) + 1.0);
        int64_t plain = 0;
        for (int i : a) {
            for (int j : b) {
                const Vec3 d = m->db.x[j] - m->db.x[i];
                plain += dot(d, d) <= radius * radius ? 1 : 0;
            }
        }
        EXPECT_EQ(sph_blast_count_pairs(*m, a, b, radius), plain) << trial;
        EXPECT_EQ(sph_blast_count_pairs(*m, b, a, radius), plain) << trial;
    }
    // 50,000 x 50,000 points within a tiny ball: 2.5e9 pairs, above 2^31,
    // counted (not enumerated) in 64 bits.
    auto m = deck_test::fresh_model();
    const int n = 100000;
    ASSERT_EQ(sph_db_allocate(*m, n), 0);
    std::vector<int> a, b;
    for (int i = 0; i < n; ++i) {
        m->db.x[i] = Vec3{1e-3 * u(rng), 1e-3 * u(rng), 1e-3 * u(rng)};
        (i % 2 == 0 ? a : b).push_back(i);
    }
    EXPECT_EQ(sph_blast_count_pairs(*m, a, b, 1.0), int64_t{50000} * 50000);
}

// Shell particles as targets: the plate of the deck made a shell plate
// (director along x, facing the cloud) takes the forces in the shell cache
// and nothing in the solid one, at build and after steps.
TEST(BlastLoads, ShellTargetsTakeTheShellCache) {
    std::string text = blast_deck(
        "*VELUNOR BLAST REGION, NAME=GAS, X=0.02, RADIUS=0.06, TARGET=SHELL, TARGET_SET=PLATE\n"
        "*VELUNOR SHELL DIRECTOR, SET=PLATE, NX=1, NY=0, NZ=0\n");
    const std::string solid =
        "*MATERIAL, NAME=Steel, TYPE=SOLID\n*DENSITY\n7850\n*ELASTIC\n2e11, 0.3\n"
        "*SOLID SECTION, NSET=PLATE, MATERIAL=Steel\n"
        "*VELUNOR SOLID CONTROL, MATERIAL=Steel, H=0.013, VOLUME=1e-6\n";
    const std::size_t at = text.find(solid);
    ASSERT_NE(at, std::string::npos);
    text.replace(at, solid.size(),
                 "*MATERIAL, NAME=Skin, TYPE=SHELL\n*DENSITY\n2700\n*ELASTIC\n7e10, 0.33\n"
                 "*SHELL SECTION, NSET=PLATE, MATERIAL=Skin, THICKNESS=0.002\n");
    auto m = built(text);
    const DbState& db = m->db;
    ASSERT_EQ(db.particle_phase[4], sph_phase_shell);
    EXPECT_EQ(m->shell.shell_director_status[4], sph_shell_director_input);
    for (int step = 0; step <= 3; ++step) {
        if (step > 0) {
            ASSERT_EQ(sph_solver_advance_explicit(*m, 1e-7), 0) << m->error.last_error_message;
        }
        const PlainRegion plain = plain_region(*m, 1, m->control.current_time);
        EXPECT_EQ(plain.targets, 9);
        Vec3 total;
        for (int p = 0; p < db.npart; ++p) {
            const Vec3 f = plain.force[std::size_t(p)];
            total += f;
            const Vec3 cached = m->blast_load.blast_shell_external_force[p];
            EXPECT_NEAR(cached.x, f.x, 1e-9 * (norm(f) + 1.0)) << p;
            EXPECT_NEAR(cached.y, f.y, 1e-9 * (norm(f) + 1.0)) << p;
            EXPECT_EQ(norm(m->blast_load.blast_solid_external_force[p]), 0.0) << p;
        }
        EXPECT_GT(total.x, 0.0);
        const Vec3 booked = m->blast_load.diagnostics[0].blast_shell_total_force;
        EXPECT_NEAR(booked.x, total.x, 1e-12 * (std::fabs(total.x) + 1.0));
        EXPECT_EQ(norm(m->blast_load.diagnostics[0].blast_solid_total_force), 0.0);
    }
    // The pushed shell particles move away from the cloud.
    EXPECT_GT(db.v[4].x, 0.0);
}
