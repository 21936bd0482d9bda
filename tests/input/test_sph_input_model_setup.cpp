// Model setup from the deck: initial velocities and generated sets.

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "core/sph_model.hpp"
#include "deck_test_util.hpp"
#include "input/sph_input_reader.hpp"
#include "solver/sph_solver_explicit.hpp"

using deck_test::fresh_model;
using deck_test::read_text;
using deck_test::TempDeck;

namespace {

// Four solid particles (ids 10..40) in set ALLN, sectioned, with time control.
constexpr std::string_view base_deck = R"(*NODE
10, 0, 0, 0
20, 1, 0, 0
30, 2, 0, 0
40, 3, 0, 0
*NSET, NSET=ALLN
10, 20, 30, 40
*NSET, NSET=PAIR
20, 30
*MATERIAL, NAME=Steel, TYPE=SOLID
*DENSITY
7850
*ELASTIC
2e11, 0.3
*SOLID SECTION, NSET=ALLN, MATERIAL=Steel
*VELUNOR TIME CONTROL, DT=1e-6, TIME=1e-3, STEPS=10
)";

std::string deck_with(std::string_view rest) {
    return std::string(base_deck) + std::string(rest);
}

// Reads and builds; the status of the first failing stage.
int read_and_build(Model& m, std::string_view text, std::string* path = nullptr) {
    TempDeck deck(text);
    if (path != nullptr) *path = deck.path();
    if (int st = sph_input_read(m, deck.path())) return st;
    return sph_input_build_model(m);
}

void expect_failure(std::string_view text, int code, int line, std::string_view message) {
    auto m = fresh_model();
    std::string path;
    EXPECT_EQ(read_and_build(*m, text, &path), code) << text;
    EXPECT_EQ(m->error.last_error_message,
              path + ":" + std::to_string(line) + ": " + std::string(message))
        << text;
}

// Members of a set as its own traversal gives them.
std::vector<int> members_of(const SetRecord& set) {
    std::vector<int> out;
    sph_db_for_each_set_member(set, [&](int id) {
        out.push_back(id);
        return true;
    });
    return out;
}

}  // namespace

TEST(InitialVelocity, NodesSetsAndOverlappingLinesLastValueWins) {
    auto m = fresh_model();
    // The lines may come before the nodes and sets they name.
    const std::string text =
        "*INITIAL CONDITIONS, type=Velocity\n"
        "ALLN, 1, 2.5\n"
        "pair, 2, -1.0\n"
        "30, 1, 7.0\n"
        "20, 3, 1d1\n"
        "ALLN, 2, 0.5\n"  // overrides PAIR's y for 20 and 30
        "40, 1, -3\n" +
        std::string(base_deck);
    ASSERT_EQ(read_and_build(*m, text), 0) << m->error.last_error_message;
    const DbState& db = m->db;
    EXPECT_EQ(db.v[0].x, 2.5);
    EXPECT_EQ(db.v[0].y, 0.5);
    EXPECT_EQ(db.v[0].z, 0.0);
    EXPECT_EQ(db.v[1].x, 2.5);
    EXPECT_EQ(db.v[1].y, 0.5);
    EXPECT_EQ(db.v[1].z, 10.0);
    EXPECT_EQ(db.v[2].x, 7.0);
    EXPECT_EQ(db.v[3].x, -3.0);
    EXPECT_EQ(db.v[3].y, 0.5);
}

TEST(InitialVelocity, EveryPhaseKeepsItsVelocityThroughItsInitialConditions) {
    auto m = fresh_model();
    const std::string text = std::string(deck_test::water_deck) +
                             "*NODE\n3, 5, 0, 0\n4, 9, 0, 0\n"
                             "*NSET, NSET=PLATE\n3\n*NSET, NSET=SKIN\n4\n"
                             "*MATERIAL, NAME=Plate, TYPE=SOLID\n*DENSITY\n7850\n"
                             "*ELASTIC\n2e11, 0.3\n"
                             "*SOLID SECTION, NSET=PLATE, MATERIAL=Plate\n"
                             "*MATERIAL, NAME=Skin, TYPE=SHELL\n*DENSITY\n2700\n"
                             "*ELASTIC\n7e10, 0.33\n"
                             "*SHELL SECTION, NSET=SKIN, MATERIAL=Skin, THICKNESS=0.01\n"
                             "*VELUNOR SHELL DIRECTOR, SET=SKIN, NX=0, NY=0, NZ=1\n"
                             "*INITIAL CONDITIONS, TYPE=VELOCITY\n"
                             "1, 1, 3.0\n2, 2, -4.0\n3, 3, 5.0\n4, 1, 6.0\n";
    ASSERT_EQ(read_and_build(*m, text), 0) << m->error.last_error_message;
    const DbState& db = m->db;
    ASSERT_EQ(db.particle_phase[0], sph_phase_water);
    EXPECT_EQ(db.rho[0], 1000.0);  // water set its state, not the velocity
    EXPECT_EQ(db.v[0].x, 3.0);
    EXPECT_EQ(db.v[1].y, -4.0);
    EXPECT_EQ(db.particle_phase[2], sph_phase_solid);
    EXPECT_EQ(db.v[2].z, 5.0);
    EXPECT_EQ(db.particle_phase[3], sph_phase_shell);
    EXPECT_EQ(db.v[3].x, 6.0);
}

TEST(InitialVelocity, ErrorsNameTheirLine) {
    const std::string ic = "*INITIAL CONDITIONS, TYPE=VELOCITY\n";
    // Base deck has 16 lines; the keyword is line 17, its first data line 18.
    expect_failure(deck_with(ic + "10, 1\n"), 4, 18, "invalid *INITIAL CONDITIONS record");
    expect_failure(deck_with(ic + ", 1, 2.0\n"), 4, 18, "invalid *INITIAL CONDITIONS record");
    expect_failure(deck_with(ic + "10, 1, \n"), 4, 18, "invalid *INITIAL CONDITIONS record");
    expect_failure(deck_with(ic + "10, 4, 1.0\n"), 4, 18,
                   "invalid initial velocity degree of freedom");
    expect_failure(deck_with(ic + "10, 0, 1.0\n"), 4, 18,
                   "invalid initial velocity degree of freedom");
    expect_failure(deck_with(ic + "10, 1.0, 1.0\n"), 4, 18,
                   "invalid initial velocity degree of freedom");
    expect_failure(deck_with(ic + "10, 1, fast\n"), 4, 18, "invalid initial velocity value");
    expect_failure(deck_with(ic + "10, 1, 1e309\n"), 4, 18, "invalid initial velocity value");
    expect_failure(deck_with(ic + "10, 1, -9e307\n"), 4, 18, "invalid initial velocity value");
    // Targets are resolved at build, with the line of the data line.
    expect_failure(deck_with(ic + "10, 1, 1.0\n99, 2, 1.0\n"), 4, 19,
                   "initial velocity references unknown node 99");
    expect_failure(deck_with(ic + "10, 1, 1.0\nTOP, 2, 1.0\n"), 4, 19,
                   "initial velocity references unknown node set TOP");
    expect_failure(deck_with("*INITIAL CONDITIONS\n10, 1, 1.0\n"), 4, 17,
                   "*INITIAL CONDITIONS requires TYPE=VELOCITY");
    expect_failure(deck_with("*INITIAL CONDITIONS, TYPE=STRESS\n10, 1, 1.0\n"), 4, 17,
                   "*INITIAL CONDITIONS TYPE=STRESS is not supported (only VELOCITY)");
}

TEST(InitialVelocity, FreeParticleMovesAtItsVelocity) {
    auto m = fresh_model();
    ASSERT_EQ(read_and_build(*m, deck_with("*INITIAL CONDITIONS, TYPE=VELOCITY\n"
                                           "20, 1, 3.0\n20, 2, -2.0\n20, 3, 0.25\n")),
              0);
    const double dt = 1e-3;
    const int steps = 200;
    for (int k = 0; k < steps; ++k) ASSERT_EQ(sph_solver_advance_explicit(*m, dt), 0);
    const double t = m->control.current_time;
    EXPECT_NEAR(t, steps * dt, 1e-15);
    const Vec3& x = m->db.x[1];
    EXPECT_NEAR(x.x, 1.0 + 3.0 * t, 1e-12);
    EXPECT_NEAR(x.y, -2.0 * t, 1e-12);
    EXPECT_NEAR(x.z, 0.25 * t, 1e-12);
    EXPECT_EQ(m->db.v[1].x, 3.0);
    EXPECT_EQ(m->db.x[0].x, 0.0);  // the others stay
}

TEST(GeneratedSets, MembersEqualTheListedEquivalent) {
    std::mt19937 rng(7);
    for (int trial = 0; trial < 50; ++trial) {
        std::string deck = "*NODE\n1, 0, 0, 0\n*NSET, NSET=G, GENERATE\n";
        std::vector<int> expected;
        const int lines = 1 + static_cast<int>(rng() % 4);
        for (int l = 0; l < lines; ++l) {
            const int first = static_cast<int>(rng() % 200) - 100;
            const int last = first + static_cast<int>(rng() % 60);
            const int inc = 1 + static_cast<int>(rng() % 7);
            deck += std::to_string(first) + ", " + std::to_string(last);
            if (inc != 1 || rng() % 2 == 0) deck += ", " + std::to_string(inc);
            deck += "\n";
            for (int id = first; id <= last; id += inc) expected.push_back(id);
        }
        auto m = fresh_model();
        ASSERT_EQ(read_text(*m, deck), 0) << deck;
        ASSERT_EQ(m->db.nsets.size(), 1u);  // one record for all lines
        const SetRecord& set = m->db.nsets[0];
        EXPECT_EQ(members_of(set), expected) << deck;
        EXPECT_EQ(set.member_count, static_cast<int>(expected.size()));
        EXPECT_EQ(set.first_member, expected.front());
    }
    // An element set is generated the same way; its keyword's next line
    // starts a new record.
    auto m = fresh_model();
    ASSERT_EQ(read_text(*m,
                        "*NODE\n1,0,0,0\n*ELSET, ELSET=E, generate\n5, 9, 2\n"
                        "*ELSET, ELSET=E, GENERATE\n1, 2\n*NSET, NSET=L\n4, 5\n"),
              0);
    ASSERT_EQ(m->db.elsets.size(), 2u);
    EXPECT_EQ(members_of(m->db.elsets[0]), (std::vector<int>{5, 7, 9}));
    EXPECT_EQ(members_of(m->db.elsets[1]), (std::vector<int>{1, 2}));
    EXPECT_FALSE(m->db.nsets[0].generated);
    EXPECT_EQ(members_of(m->db.nsets[0]), (std::vector<int>{4, 5}));
}

TEST(GeneratedSets, Errors) {
    const std::string nodes = "*NODE\n1, 0, 0, 0\n";
    const auto fails = [&](std::string_view data, int code, int line, std::string_view message) {
        deck_test::expect_read_error(nodes + "*NSET, NSET=G, GENERATE\n" + std::string(data), code,
                                     line, message);
    };
    fails("1, 10, 0\n", 4, 4, "*NSET GENERATE increment must be positive");
    fails("1, 10, -2\n", 4, 4, "*NSET GENERATE increment must be positive");
    fails("10, 1\n", 4, 4, "*NSET GENERATE last id is below the first");
    fails("1, ten\n", 4, 4, "invalid *NSET GENERATE value");
    fails("1.0, 10\n", 4, 4, "invalid *NSET GENERATE value");
    fails("1, 10, \n", 4, 4, "invalid *NSET GENERATE value");
    fails("5\n", 4, 4, "invalid *NSET GENERATE record");
    fails("1, 10, 1, 4\n", 4, 4, "invalid *NSET GENERATE record");
    fails("-2000000000, 2000000000\n", 4, 4, "*NSET GENERATE set has more than 2147483647 members");
    // The limit counts the whole record, not one line.
    fails("1, 1500000000\n1, 1500000000\n", 4, 5,
          "*NSET GENERATE set has more than 2147483647 members");
    // Largest record: exactly 2^31 - 1 members.
    {
        auto m = fresh_model();
        ASSERT_EQ(read_text(*m, nodes + "*NSET, NSET=G, GENERATE\n1, 2147483647\n"), 0);
        EXPECT_EQ(m->db.nsets[0].member_count, 2147483647);
    }
    {
        auto m = fresh_model();
        std::string path;
        EXPECT_EQ(read_text(*m, nodes + "*ELSET, ELSET=E, GENERATE\n3, 1\n", &path), 4);
        EXPECT_EQ(m->error.last_error_message,
                  path + ":4: *ELSET GENERATE last id is below the first");
    }
    // Each generated keyword is one record against the 32-record capacity.
    std::string many = nodes;
    for (int k = 0; k < 32; ++k) many += "*NSET, NSET=S" + std::to_string(k) + ", GENERATE\n1, 9\n";
    auto m = fresh_model();
    ASSERT_EQ(read_text(*m, many), 0);
    EXPECT_EQ(m->db.nsets.size(), 32u);
    m = fresh_model();
    EXPECT_EQ(read_text(*m, many + "*NSET, NSET=S33, GENERATE\n1, 9\n"), 5);
    EXPECT_EQ(m->error.last_error_message, "too many node set records");
}

// Sections, initial velocities and coupling regions reach the same particles
// through a generated set as through a listed one.
TEST(GeneratedSets, UsersSeeTheSameParticlesAsThroughAListedSet) {
    const std::string nodes = "*NODE\n" + [] {
        std::string s;
        for (int id = 1; id <= 40; ++id) {
            s += std::to_string(id * 3) + ", " + std::to_string(id) + ", 0, 0\n";
        }
        return s;
    }();
    const std::string tail =
        "*MATERIAL, NAME=Wall, TYPE=BOUNDARY\n"
        "*BOUNDARY SECTION, NSET=SET, MATERIAL=Wall\n"
        "*INITIAL CONDITIONS, TYPE=VELOCITY\nSET, 2, 4.0\n"
        "*VELUNOR TIME CONTROL, DT=1e-6, TIME=1e-3, STEPS=1\n";
    // Ids 3..120 step 3 exist; the set names 6, 15, 24, ... and ids beyond.
    std::string listed = "*NSET, NSET=SET\n";
    for (int id = 6; id <= 200; id += 9) listed += (id == 6 ? "" : ", ") + std::to_string(id);
    listed += "\n";
    auto a = fresh_model();
    auto b = fresh_model();
    ASSERT_EQ(read_and_build(*a, nodes + listed + tail), 0) << a->error.last_error_message;
    ASSERT_EQ(read_and_build(*b, nodes + "*NSET, NSET=SET, GENERATE\n6, 200, 9\n" + tail), 0)
        << b->error.last_error_message;
    int reached = 0;
    for (int i = 0; i < a->db.npart; ++i) {
        EXPECT_EQ(a->db.section_id[i], b->db.section_id[i]) << i;
        EXPECT_EQ(a->db.v[i].y, b->db.v[i].y) << i;
        reached += a->db.section_id[i];
    }
    EXPECT_EQ(reached, 13);  // 6, 15, ..., 114
}

TEST(GeneratedSets, WideRangeCostsOnlyTheNodesInside) {
    // A range of two billion ids over a few nodes is walked through the node
    // index; the traversal gives what member-by-member lookups give.
    auto m = fresh_model();
    ASSERT_EQ(sph_db_allocate(*m, 5), 0);
    const int ids[] = {2000000000, 7, -5, 7, 1000};
    for (int k = 0; k < 5; ++k) ASSERT_EQ(sph_db_set_node(*m, k, ids[k], Vec3{}), 0);
    ASSERT_EQ(sph_db_add_generated_nset(*m, "WIDE"), 0);
    ASSERT_EQ(sph_db_add_set_range(*m, true, 1, SetRange{1, 2000000000, 1}), 0);
    ASSERT_EQ(sph_db_add_set_range(*m, true, 1, SetRange{-5, 1000, 3}), 0);
    std::vector<int> visited;
    sph_db_for_each_nset_particle(m->db, m->db.nsets[0], [&](int p) {
        visited.push_back(p);
        return true;
    });
    // Ascending ids per range; the duplicate id 7 reaches its first particle only.
    EXPECT_EQ(visited, (std::vector<int>{1, 4, 0, 2, 1, 4}));
    // Refused ranges change nothing.
    EXPECT_EQ(sph_db_add_set_range(*m, true, 1, SetRange{5, 4, 1}), 1);
    EXPECT_EQ(sph_db_add_set_range(*m, true, 1, SetRange{-2147483647, 2147483647, 1}), 5);
    EXPECT_EQ(m->db.nsets[0].ranges.size(), 2u);
}

TEST(GeneratedSets, ParticleMaskMatchesMemberByMemberLookup) {
    std::mt19937 rng(11);
    for (int trial = 0; trial < 20; ++trial) {
        auto m = fresh_model();
        const int n = 50 + static_cast<int>(rng() % 100);
        ASSERT_EQ(sph_db_allocate(*m, n), 0);
        for (int k = 0; k < n; ++k) {
            ASSERT_EQ(sph_db_set_node(*m, k, static_cast<int>(rng() % 120), Vec3{}), 0);
        }
        ASSERT_EQ(sph_db_add_generated_nset(*m, "G"), 0);
        const SetRange range{static_cast<int>(rng() % 50), 60 + static_cast<int>(rng() % 80),
                             1 + static_cast<int>(rng() % 5)};
        ASSERT_EQ(sph_db_add_set_range(*m, true, 1, range), 0);
        int listed[64];
        for (int& id : listed) id = static_cast<int>(rng() % 130);
        ASSERT_EQ(sph_db_add_nset(*m, "L", 64, listed), 0);
        for (int s = 1; s <= 2; ++s) {
            std::vector<unsigned char> mask;
            ASSERT_EQ(sph_db_nset_particle_mask(*m, s, mask), 0);
            // Plain definition: each member's first particle by a scan.
            std::vector<unsigned char> plain(static_cast<std::size_t>(n), 0);
            sph_db_for_each_set_member(m->db.nsets[static_cast<std::size_t>(s - 1)], [&](int id) {
                for (int k = 0; k < n; ++k) {
                    if (m->db.particle_id_ext[k] == id) {
                        plain[static_cast<std::size_t>(k)] = 1;
                        break;
                    }
                }
                return true;
            });
            EXPECT_EQ(mask, plain) << trial << " set " << s;
            // And the traversal visits them in member order, as lookups would.
            std::vector<int> order, plain_order;
            const SetRecord& set = m->db.nsets[static_cast<std::size_t>(s - 1)];
            sph_db_for_each_nset_particle(m->db, set, [&](int p) {
                order.push_back(p);
                return true;
            });
            sph_db_for_each_set_member(set, [&](int id) {
                for (int k = 0; k < n; ++k) {
                    if (m->db.particle_id_ext[k] == id) {
                        plain_order.push_back(k);
                        break;
                    }
                }
                return true;
            });
            EXPECT_EQ(order, plain_order) << trial << " set " << s;
        }
    }
}

TEST(GeneratedSets, SectionThroughAMillionMemberSet) {
    auto m = fresh_model();
    const int n = 1000000;
    ASSERT_EQ(sph_db_allocate(*m, n), 0);  // ids 1..n by default
    ASSERT_EQ(sph_db_add_material(*m, "Steel", "SOLID"), 0);
    ASSERT_EQ(sph_db_add_generated_nset(*m, "ALL_NODES"), 0);
    ASSERT_EQ(sph_db_add_set_range(*m, true, 1, SetRange{2, n, 2}), 0);
    ASSERT_EQ(sph_db_add_set_range(*m, true, 1, SetRange{1, 1, 1}), 0);
    ASSERT_EQ(sph_db_add_section(*m, "ALL_NODES", "SOLID", "Steel", 0.0, 3, 5.0 / 6.0, ""), 0);
    ASSERT_EQ(sph_db_apply_sections_to_particles(*m), 0);
    int sectioned = 0;
    for (int i = 0; i < n; ++i) sectioned += m->db.section_id[i];
    EXPECT_EQ(sectioned, n / 2 + 1);
    EXPECT_EQ(m->db.section_id[0], 1);
    EXPECT_EQ(m->db.section_id[2], 0);
    EXPECT_EQ(m->db.section_id[n - 1], 1);
}

TEST(GeneratedSets, CouplingRegionCapacityIsAClearError) {
    auto m = fresh_model();
    ASSERT_EQ(sph_db_allocate(*m, 1000), 0);
    ASSERT_EQ(sph_db_add_generated_nset(*m, "G"), 0);
    ASSERT_EQ(sph_db_add_set_range(*m, true, 1, SetRange{1, 512, 1}), 0);
    ASSERT_EQ(sph_db_add_coupling_region(*m, "R", "G", 1, 1, 1, 1, 1, 0, true, "", 0, "", ""), 0);
    ASSERT_EQ(sph_db_build_coupling_regions(*m), 0);
    EXPECT_EQ(m->db.coupling_regions[0].coupling_region_particle_count, 512);
    ASSERT_EQ(sph_db_add_set_range(*m, true, 1, SetRange{513, 513, 1}), 0);
    EXPECT_EQ(sph_db_build_coupling_regions(*m), 5);
    EXPECT_EQ(m->error.last_error_message, "too many particles in coupling region");
}
