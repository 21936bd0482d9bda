// Shell particles: setters and their messages, deck routing, the state build
// (directors from each source, areas, inertia, frames, rotation, rules),
// every build message and warning count, and the build against the plain
// per-particle definitions on random models.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <string>
#include <vector>

#include "../input/deck_test_util.hpp"
#include "../test_expect.hpp"
#include "core/sph_model.hpp"
#include "input/sph_input_reader.hpp"
#include "interface/sph_api.hpp"
#include "solver/sph_solver_explicit.hpp"

using test_expect::expect_error;
using test_expect::same_bits;

namespace {

// A 2 x 2 quad patch (nodes 1..9 at spacing 1 in the xy plane, elements
// 11..14 in element set SKIN), aluminium shell material, thickness 0.01.
std::string patch_deck(const std::string& section_options = "", const std::string& extra = "",
                       const std::string& material_extra = "") {
    std::string deck = "*NODE\n";
    for (int j = 0; j < 3; ++j) {
        for (int i = 0; i < 3; ++i) {
            deck += std::to_string(1 + i + 3 * j) + ", " + std::to_string(i) + ", " +
                    std::to_string(j) + ", 0\n";
        }
    }
    return deck +
           "*ELEMENT, TYPE=S4\n11, 1, 2, 5, 4\n12, 2, 3, 6, 5\n13, 4, 5, 8, 7\n14, 5, 6, 9, 8\n"
           "*ELSET, ELSET=SKIN\n11, 12, 13, 14\n"
           "*MATERIAL, NAME=Alu, TYPE=SHELL\n*DENSITY\n2700\n*ELASTIC\n7e10, 0.33\n" +
           material_extra + "*SHELL SECTION, ELSET=SKIN, MATERIAL=Alu, THICKNESS=0.01" +
           section_options + "\n*VELUNOR TIME CONTROL, DT=1e-6, TIME=1e-3, STEPS=10\n" + extra;
}

int read_and_build(Model& m, const std::string& text) {
    deck_test::TempDeck deck(text);
    if (const int st = sph_input_read(m, deck.path())) return st;
    return sph_input_build_model(m);
}

std::unique_ptr<Model> built(const std::string& text) {
    auto m = deck_test::fresh_model();
    EXPECT_EQ(read_and_build(*m, text), 0) << m->error.last_error_message;
    return m;
}

void expect_build_error(const std::string& text, const std::string& message, int code = 4) {
    auto m = deck_test::fresh_model();
    deck_test::TempDeck deck(text);
    ASSERT_EQ(sph_input_read(*m, deck.path()), 0) << m->error.last_error_message;
    expect_error(*m, sph_input_build_model(*m), code, message);
}

// prefix + k (built in place: g++ 12 warns falsely on "literal" + string).
std::string named(const char* prefix, int k) {
    std::string name(prefix);
    name += std::to_string(k);
    return name;
}

void expect_near(const Vec3& a, const Vec3& b, double tol = 1e-15) {
    EXPECT_NEAR(a.x, b.x, tol);
    EXPECT_NEAR(a.y, b.y, tol);
    EXPECT_NEAR(a.z, b.z, tol);
}

}  // namespace

// ---------------------------------------------------------------------------
// Setters

TEST(ShellSetters, MaterialChecksInOrder) {
    auto m = deck_test::fresh_model();
    ASSERT_EQ(sph_db_add_material(*m, "Alu", "SHELL"), 0);
    ASSERT_EQ(sph_db_add_material(*m, "Steel", "SOLID"), 0);
    sph_shell_note_material(*m, "Steel", "SOLID");  // not claimed
    EXPECT_FALSE(m->shell.shell_material_seen);
    sph_shell_note_material(*m, "Alu", "shell");
    EXPECT_TRUE(m->shell.shell_material_seen);
    ASSERT_EQ(m->shell.materials.size(), 1u);
    EXPECT_EQ(m->shell.materials[0].shell_material_ids, 1);

    expect_error(*m, sph_shell_set_elastic(*m, "Alu", NAN, 0.3), 1,
                 "Shell elastic parameter is not finite");
    expect_error(*m, sph_shell_set_elastic(*m, "Alu", 1e308, 0.3), 1,
                 "Shell elastic parameter is not finite");
    expect_error(*m, sph_shell_set_elastic(*m, "Alu", 0.0, 0.3), 1,
                 "Shell elastic modulus must be positive");
    expect_error(*m, sph_shell_set_elastic(*m, "Alu", 7e10, 0.5), 1,
                 "Shell Poisson ratio is invalid");
    expect_error(*m, sph_shell_set_elastic(*m, "Alu", 7e10, -1.0), 1,
                 "Shell Poisson ratio is invalid");
    expect_error(*m, sph_shell_set_elastic(*m, "Nope", 7e10, 0.3), 4, "Shell material is unknown");
    expect_error(*m, sph_shell_set_elastic(*m, "Steel", 7e10, 0.3), 4,
                 "Shell data references non-Shell material");
    EXPECT_FALSE(m->shell.materials[0].shell_elastic_defined);
    ASSERT_EQ(sph_shell_set_elastic(*m, "alu ", 7e10, 0.33), 0);
    EXPECT_TRUE(m->shell.materials[0].shell_elastic_defined);
    EXPECT_EQ(m->shell.materials[0].shell_elastic_nu, 0.33);

    const SolidJohnsonCook good{324e6, 114e6, 0.42, 0.002, 1.34, 1.0, 293.0, 925.0};
    auto jc_fails = [&](SolidJohnsonCook jc, const std::string& message) {
        expect_error(*m, sph_shell_set_johnson_cook(*m, "Alu", jc), 1, message);
    };
    SolidJohnsonCook jc = good;
    jc.tmelt = INFINITY;
    jc_fails(jc, "Shell Johnson-Cook flow parameter is not finite");
    jc = good;
    jc.n = -0.1;
    jc_fails(jc, "Shell Johnson-Cook strength is invalid");
    jc = good;
    jc.m = -1;
    jc_fails(jc, "Shell Johnson-Cook rate or thermal exponent is invalid");
    jc = good;
    jc.epsdot0 = 0;
    jc_fails(jc, "Shell Johnson-Cook reference strain rate must be positive");
    jc = good;
    jc.tmelt = jc.troom;
    jc_fails(jc, "Shell Johnson-Cook melt temperature must exceed room temperature");
    EXPECT_FALSE(m->shell.materials[0].shell_johnson_cook_defined);
    ASSERT_EQ(sph_shell_set_johnson_cook(*m, "Alu", good), 0);
    EXPECT_EQ(m->shell.materials[0].jc.tmelt, 925.0);

    expect_error(*m, sph_shell_set_failure(*m, "Alu", {0, 0, NAN, 0, 0}), 1,
                 "Shell Johnson-Cook failure parameter is not finite");
    ASSERT_EQ(sph_shell_set_failure(*m, "Alu", {0.13, 0.13, -1.5, 0.011, 0}), 0);
    EXPECT_EQ(m->shell.materials[0].shell_failure_d[2], -1.5);

    expect_error(*m, sph_shell_set_control(*m, "Alu", "exponential", 1.0), 4,
                 "Shell SOFTENING must be LINEAR");
    expect_error(*m, sph_shell_set_control(*m, "Alu", "", NAN), 1,
                 "Shell softening WIDTH is not finite");
    expect_error(*m, sph_shell_set_control(*m, "Alu", "", 0.0), 1,
                 "Shell softening WIDTH must be positive");
    expect_error(*m, sph_shell_set_control(*m, "", "", 1.0), 4, "Shell material is unknown");
    ASSERT_EQ(sph_shell_set_control(*m, "Alu", " bilinear", 0.5), 0);
    EXPECT_EQ(m->shell.materials[0].shell_softening_type, "BILINEAR");
    ASSERT_EQ(sph_shell_set_control(*m, "Alu", "", 2.0), 0);
    EXPECT_EQ(m->shell.materials[0].shell_softening_type, "LINEAR");
    EXPECT_EQ(m->shell.materials[0].shell_softening_width, 2.0);
}

TEST(ShellSetters, ThirtyThreeShellMaterialsFailToRegister) {
    auto m = deck_test::fresh_model();
    for (int k = 0; k < 32; ++k) {
        const std::string name = named("S", k);
        ASSERT_EQ(sph_db_add_material(*m, name, "SHELL"), 0);
        sph_shell_note_material(*m, name, "SHELL");
    }
    ASSERT_EQ(m->shell.materials.size(), 32u);
    // The database is full as well; take a slot back to add a 33rd material.
    m->db.materials.pop_back();
    ASSERT_EQ(sph_db_add_material(*m, "Extra", "SHELL"), 0);
    expect_error(*m, sph_shell_set_elastic(*m, "Extra", 1e9, 0.3), 4,
                 "failed to register Shell material");
}

TEST(ShellSetters, OrientationDirectorAndRotationTables) {
    auto m = deck_test::fresh_model();
    const Vec3 z{0, 0, 2}, x{3, 0, 1};
    expect_error(*m, sph_shell_add_orientation(*m, "  ", z, x), 4,
                 "Shell orientation is missing NAME");
    expect_error(*m, sph_shell_add_orientation(*m, "O", {0, NAN, 1}, x), 4,
                 "Shell orientation director is not finite");
    expect_error(*m, sph_shell_add_orientation(*m, "O", z, {INFINITY, 0, 0}), 4,
                 "Shell orientation tangent is not finite");
    expect_error(*m, sph_shell_add_orientation(*m, "O", {0, 0, 1e-13}, x), 4,
                 "Shell orientation director is degenerate");
    expect_error(*m, sph_shell_add_orientation(*m, "O", z, {0, 0, 0}), 4,
                 "Shell orientation tangent is degenerate");
    expect_error(*m, sph_shell_add_orientation(*m, "O", z, {0, 0, -5}), 4,
                 "Shell orientation vectors are parallel");
    ASSERT_EQ(sph_shell_add_orientation(*m, "O", z, x), 0);
    const ShellOrientation& o = m->shell.orientations[0];
    EXPECT_TRUE(same_bits(o.director, z));  // as entered
    EXPECT_TRUE(same_bits(o.tangent, Vec3{1, 0, 0}));
    for (int k = 1; k < 32; ++k) {
        ASSERT_EQ(sph_shell_add_orientation(*m, named("O", k), z, x), 0);
    }
    expect_error(*m, sph_shell_add_orientation(*m, "NEW", z, x), 4,
                 "too many Shell orientation records");
    // Redefining a name replaces it in place, also with a full table.
    ASSERT_EQ(sph_shell_add_orientation(*m, "o", {1, 0, 0}, {0, 1, 1}), 0);
    EXPECT_EQ(m->shell.orientations.size(), 32u);
    expect_near(m->shell.orientations[0].tangent, Vec3{0, std::sqrt(0.5), std::sqrt(0.5)});

    expect_error(*m, sph_shell_set_director_for_set(*m, "", z), 4, "Shell director is missing SET");
    expect_error(*m, sph_shell_set_director_for_set(*m, "A", {INFINITY, 0, 0}), 4,
                 "Shell director is not finite");
    expect_error(*m, sph_shell_set_director_for_set(*m, "A", {1e-13, 0, 0}), 4,
                 "Shell director is degenerate");
    for (int k = 0; k < 32; ++k) {
        ASSERT_EQ(sph_shell_set_director_for_set(*m, named("D", k), z), 0);
    }
    expect_error(*m, sph_shell_set_director_for_set(*m, "A", z), 4,
                 "too many Shell director set records");
    ASSERT_EQ(sph_shell_set_director_for_set(*m, "d0", x), 0);
    EXPECT_TRUE(same_bits(m->shell.director_sets[0].director, x));

    expect_error(*m, sph_shell_set_rotation_for_set(*m, " ", z, z), 4,
                 "Shell rotation is missing SET");
    expect_error(*m, sph_shell_set_rotation_for_set(*m, "R", {NAN, 0, 0}, z), 4,
                 "Shell angular velocity is not finite");
    expect_error(*m, sph_shell_set_rotation_for_set(*m, "R", z, {0, NAN, 0}), 4,
                 "Shell angular acceleration is not finite");
    for (int k = 0; k < 32; ++k) {
        ASSERT_EQ(sph_shell_set_rotation_for_set(*m, named("R", k), z, x), 0);
    }
    expect_error(*m, sph_shell_set_rotation_for_set(*m, "B", z, z), 4,
                 "too many Shell rotation set records");
    ASSERT_EQ(sph_shell_set_rotation_for_set(*m, "r31", x, z), 0);
    EXPECT_TRUE(same_bits(m->shell.rotation_sets[31].omega, x));
}

// ---------------------------------------------------------------------------
// Deck routing

TEST(ShellDeck, MaterialDataAndExtensionKeywordsReachTheShellModule) {
    auto m = built(patch_deck(", ORIENTATION=ORI",
                              "*ORIENTATION, NAME=ORI\n0, 0, 1, 1, 1, 0\n"
                              "*VELUNOR SHELL CONTROL, MATERIAL=Alu, SOFTENING=linear, WIDTH=0.2\n"
                              "*VELUNOR SHELL ROTATION, ELSET=SKIN, OX=0, OY=0, OZ=100, AX=1\n",
                              "*PLASTIC\n324e6, 114e6, 0.42, 0.002, 1.34, 1.0, 293, 925\n"
                              "*DAMAGE INITIATION\n0.13, 0.13, -1.5, 0.011, 0\n"));
    const ShellMaterialSlot& s = m->shell.materials.at(0);
    EXPECT_EQ(s.shell_elastic_e, 7e10);
    EXPECT_TRUE(s.shell_johnson_cook_defined);
    EXPECT_EQ(s.jc.b, 114e6);
    EXPECT_EQ(s.shell_failure_d[3], 0.011);
    EXPECT_EQ(s.shell_softening_width, 0.2);
    EXPECT_TRUE(m->solid.slots.empty());  // nothing went to the solid module
    EXPECT_EQ(m->shell.orientations.at(0).name, "ORI");
    EXPECT_TRUE(m->shell.orientations[0].used);
    EXPECT_TRUE(m->shell.rotation_sets.at(0).used);
    EXPECT_TRUE(same_bits(m->shell.shell_omega[4], Vec3{0, 0, 100}));
    EXPECT_TRUE(same_bits(m->shell.shell_alpha[4], Vec3{1, 0, 0}));
    EXPECT_EQ(m->shell.diagnostics.shell_max_angular_velocity, 100.0);
    EXPECT_EQ(sph_input_get_warning_count(*m), 0);
}

TEST(ShellDeck, ReaderMessages) {
    const std::string head =
        "*NODE\n1, 0, 0, 0\n*NSET, NSET=S\n1\n*MATERIAL, NAME=Alu, TYPE=SHELL\n";  // 5 lines
    using deck_test::expect_read_error;
    // Data-line receivers: their own message, no prefix.
    expect_read_error(head + "*ELASTIC\n0, 0.3\n", 1, 0, "Shell elastic modulus must be positive");
    expect_read_error(head + "*PLASTIC\n1, 1, 1, 1, 1, 1, 300, 300\n", 1, 0,
                      "Shell Johnson-Cook melt temperature must exceed room temperature");
    expect_read_error(head + "*DAMAGE INITIATION\n1, 1, 1, 1, 9e307\n", 1, 0,
                      "Shell Johnson-Cook failure parameter is not finite");
    expect_read_error(head + "*ORIENTATION, NAME=O\n0, 0, 1, 0, 0, 2\n", 4, 0,
                      "Shell orientation vectors are parallel");
    // A name the database does not hold (no *MATERIAL yet) goes to the solid module.
    expect_read_error("*NODE\n1, 0, 0, 0\n*ELASTIC\n7e10, 0.3\n", 4, 0,
                      "Solid material is unknown");
    {
        auto m = deck_test::fresh_model();
        ASSERT_EQ(deck_test::read_text(*m, head + "*DENSITY\n2700\n*ELASTIC\n7e10, 0.3\n"), 0);
        EXPECT_TRUE(m->shell.materials.at(0).shell_elastic_defined);
        EXPECT_TRUE(m->solid.slots.empty());
    }
    // Keyword lines: the file:line: prefix.
    expect_read_error(head + "*VELUNOR SHELL DIRECTOR, NX=0, NY=0, NZ=1\n", 4, 6,
                      "Shell director is missing SET option");
    expect_read_error(head + "*VELUNOR SHELL DIRECTOR, SET=S, NX=0, NY=0\n", 4, 6,
                      "missing required option NZ");
    expect_read_error(head + "*VELUNOR SHELL DIRECTOR, NSET=S, NX=0, NY=0, NZ=0\n", 4, 6,
                      "Shell director is degenerate");
    expect_read_error(head + "*VELUNOR SHELL ROTATION, OX=1, OY=0, OZ=0\n", 4, 6,
                      "Shell rotation is missing SET option");
    expect_read_error(head + "*VELUNOR SHELL ROTATION, SET=S, OX=1, OY=0\n", 4, 6,
                      "missing required option OZ");
    expect_read_error(head + "*VELUNOR SHELL ROTATION, SET=S, OX=1, OY=0, OZ=0, AY=x\n", 4, 6,
                      "invalid numeric option AY");
    expect_read_error(head + "*VELUNOR SHELL CONTROL, MATERIAL=Alu, SOFTENING=CUBIC\n", 4, 6,
                      "Shell SOFTENING must be LINEAR");
    expect_read_error(head + "*VELUNOR SHELL CONTROL, MATERIAL=Alu, WIDTH=-1\n", 1, 6,
                      "Shell softening WIDTH must be positive");
    expect_read_error(head + "*VELUNOR SHELL CONTROL, MATERIAL=Steel\n", 4, 6,
                      "Shell material is unknown");
}

// ---------------------------------------------------------------------------
// Build: directors, areas, frames

TEST(ShellBuild, QuadPatchFromElements) {
    auto m = built(patch_deck());
    const ShellState& s = m->shell;
    ASSERT_EQ(s.shell_director.size(), 9u);
    for (int p = 0; p < 9; ++p) {
        EXPECT_EQ(m->db.particle_phase[p], sph_phase_shell);
        EXPECT_EQ(s.shell_director_status[p], sph_shell_director_geometry);
        EXPECT_TRUE(same_bits(s.shell_director[p], Vec3{0, 0, 1})) << p;
        EXPECT_EQ(s.shell_thickness[p], 0.01);
        EXPECT_EQ(s.shell_local_frame_status[p], sph_shell_frame_ok);
        // First edge of the first element holding the particle: along x.
        EXPECT_TRUE(same_bits(s.shell_local_e1[p], Vec3{1, 0, 0})) << p;
        EXPECT_TRUE(same_bits(s.shell_local_e2[p], Vec3{0, 1, 0})) << p;
        EXPECT_EQ(s.shell_rotational_inertia[p], 1.0 * 0.01 * 0.01 / 12.0);
        EXPECT_EQ(s.shell_ip_count[p], 3);
        EXPECT_EQ(s.shell_ip_temperature[p][2], 293.15);
        EXPECT_EQ(s.shell_ip_softening[p][2], 1.0);
        EXPECT_EQ(s.shell_ip_softening[p][3], 0.0);
        EXPECT_EQ(s.shell_softening[p], 1.0);
    }
    // Unit quads: a quarter of each surrounding element.
    EXPECT_EQ(s.shell_reference_area[0], 0.25);                     // corner
    EXPECT_EQ(s.shell_reference_area[1], 0.5);                      // edge
    EXPECT_EQ(s.shell_reference_area[4], 1.0);                      // centre
    EXPECT_EQ(s.diagnostics.shell_director_max_length_error, 3.0);  // centre: |(0,0,4)| - 1
    EXPECT_EQ(s.diagnostics.shell_area_degenerate_count, 0);
}

TEST(ShellBuild, WarpedQuadAreaIsTheSumOfItsTwoTriangleVectors) {
    // Quad 1 (0,0,0), 2 (2,0,0), 3 (2,1,1), 4 (0,1,0): the triangles (1,2,3)
    // and (1,3,4) are not coplanar. By hand: v123 = 1/2 (2,0,0) x (2,1,1) =
    // (0,-1,1); v134 = 1/2 (2,1,1) x (0,1,0) = (-1/2,0,1). Sum (-1/2,-1,2),
    // norm sqrt(21)/2; a quarter each, not a quarter of |v123| + |v134|.
    const std::string deck =
        "*NODE\n1, 0, 0, 0\n2, 2, 0, 0\n3, 2, 1, 1\n4, 0, 1, 0\n"
        "*ELEMENT, TYPE=S4\n1, 1, 2, 3, 4\n*ELSET, ELSET=Q\n1\n"
        "*MATERIAL, NAME=Alu, TYPE=SHELL\n*DENSITY\n2700\n*ELASTIC\n7e10, 0.33\n"
        "*SHELL SECTION, ELSET=Q, MATERIAL=Alu, THICKNESS=0.002, POINTS=5\n"
        "*VELUNOR TIME CONTROL, DT=1e-6, TIME=1e-3, STEPS=10\n";
    auto m = built(deck);
    const ShellState& s = m->shell;
    const double a = std::sqrt(21.0) / 2.0;
    const double two_triangles = (std::sqrt(2.0) + std::sqrt(1.25)) / 4.0;
    for (int p = 0; p < 4; ++p) {
        EXPECT_NEAR(s.shell_reference_area[p], a / 4.0, 1e-15);
        EXPECT_GT(std::fabs(s.shell_reference_area[p] - two_triangles), 1e-3);
        expect_near(s.shell_director[p], Vec3{-0.5 / a, -1.0 / a, 2.0 / a});
        EXPECT_EQ(s.shell_ip_count[p], 5);
        EXPECT_EQ(s.shell_ip_coord[p][4], 0.453089922969332);
        // e1 from the first edge (1 -> 2), made orthogonal to the director.
        const Vec3 e1 = s.shell_local_e1[p], e2 = s.shell_local_e2[p], e3 = s.shell_local_e3[p];
        EXPECT_NEAR(dot(e1, e3), 0.0, 1e-15);
        EXPECT_NEAR(dot(e2, e3), 0.0, 1e-15);
        EXPECT_NEAR(dot(e1, e2), 0.0, 1e-15);
        EXPECT_NEAR(norm(e1), 1.0, 1e-15);
        EXPECT_NEAR(dot(e3, cross(e1, e2)), 1.0, 1e-15);
        // In the plane of the edge (1,0,0) and the director, on the edge's side.
        EXPECT_NEAR(dot(e1, cross(Vec3{1, 0, 0}, e3)), 0.0, 1e-15);
        EXPECT_GT(e1.x, 0.0);
    }
}

TEST(ShellBuild, TriangleElementsShareAThirdEach) {
    const std::string deck =
        "*NODE\n1, 0, 0, 0\n2, 3, 0, 0\n3, 0, 4, 0\n4, 3, 4, 0\n"
        "*ELEMENT, TYPE=S3\n1, 1, 2, 3\n2, 2, 4, 3\n*ELSET, ELSET=T\n1, 2\n"
        "*MATERIAL, NAME=Alu, TYPE=SHELL\n*DENSITY\n2700\n*ELASTIC\n7e10, 0.33\n"
        "*SHELL SECTION, ELSET=T, MATERIAL=Alu, THICKNESS=0.01\n"
        "*VELUNOR TIME CONTROL, DT=1e-6, TIME=1e-3, STEPS=10\n";
    auto m = built(deck);
    const ShellState& s = m->shell;
    EXPECT_EQ(s.shell_reference_area[0], 2.0);  // one triangle of area 6
    EXPECT_EQ(s.shell_reference_area[1], 4.0);  // two
    EXPECT_EQ(s.shell_reference_area[3], 2.0);
    EXPECT_TRUE(same_bits(s.shell_director[1], Vec3{0, 0, 1}));
    EXPECT_EQ(s.diagnostics.shell_director_max_length_error, 11.0);  // |(0,0,12)| - 1
}

TEST(ShellBuild, DirectorSetBeatsOrientationAndKeepsTheElementShare) {
    auto m = built(patch_deck(", ORIENTATION=TILT",
                              "*ORIENTATION, NAME=TILT\n1, 0, 0, 0, 1, 0\n"
                              "*NSET, NSET=TWO\n1, 2\n"
                              "*VELUNOR SHELL DIRECTOR, NSET=TWO, NX=0, NY=0, NZ=-2\n"));
    const ShellState& s = m->shell;
    EXPECT_EQ(s.shell_director_status[0], sph_shell_director_input);
    EXPECT_TRUE(same_bits(s.shell_director[0], Vec3{0, 0, -1}));
    EXPECT_EQ(s.shell_reference_area[0], 0.25);  // the element share, not volume / t
    EXPECT_EQ(s.shell_reference_area[1], 0.5);
    // The frame tangent is the orientation's even under a director set.
    expect_near(s.shell_local_e1[0], Vec3{0, 1, 0});
    expect_near(s.shell_local_e2[0], Vec3{1, 0, 0});  // (0,0,-1) x (0,1,0)
    EXPECT_EQ(s.shell_director_status[4], sph_shell_director_orientation);
    EXPECT_TRUE(same_bits(s.shell_director[4], Vec3{1, 0, 0}));
    EXPECT_EQ(s.shell_reference_area[4], 1.0);
    expect_near(s.shell_local_e1[4], Vec3{0, 1, 0});
    expect_near(s.shell_local_e2[4], Vec3{0, 0, 1});
    EXPECT_EQ(s.diagnostics.shell_director_max_length_error, 1.0);  // |(0,0,-2)| - 1
    EXPECT_TRUE(s.director_sets[0].used);
    EXPECT_TRUE(s.orientations[0].used);
}

TEST(ShellBuild, CloudDirectorVolumeAreaAndCloudOrFallbackTangent) {
    // No elements: the cloud director of the section (first non-collinear
    // triple: nodes 1, 2, 4 after the collinear 1, 2, 3) and volume / t.
    const std::string cloud =
        "*NODE\n1, 0, 0, 0\n2, 1, 0, 0\n3, 2, 0, 0\n4, 0, 2, 0\n"
        "*NSET, NSET=P\n1, 2, 3, 4\n"
        "*MATERIAL, NAME=Alu, TYPE=SHELL\n*DENSITY\n2700\n*ELASTIC\n7e10, 0.33\n"
        "*SHELL SECTION, NSET=P, MATERIAL=Alu, THICKNESS=0.5\n"
        "*VELUNOR TIME CONTROL, DT=1e-6, TIME=1e-3, STEPS=10\n";
    auto m = built(cloud);
    const ShellState& s = m->shell;
    for (int p = 0; p < 4; ++p) {
        EXPECT_TRUE(same_bits(s.shell_director[p], Vec3{0, 0, 1}));
        EXPECT_EQ(s.shell_director_status[p], sph_shell_director_geometry);
        EXPECT_EQ(s.shell_reference_area[p], 2.0);        // volume 1 / 0.5
        expect_near(s.shell_local_e1[p], Vec3{1, 0, 0});  // cloud tangent 1 -> 2
    }
    EXPECT_EQ(s.diagnostics.shell_director_max_length_error, 1.0);  // |(0,0,2)| - 1

    // One particle along x with no orientation, element or second particle:
    // the fallback tangent y.
    auto one = built(
        "*NODE\n1, 0, 0, 0\n*NSET, NSET=P\n1\n"
        "*MATERIAL, NAME=Alu, TYPE=SHELL\n*DENSITY\n2700\n*ELASTIC\n7e10, 0.33\n"
        "*SHELL SECTION, NSET=P, MATERIAL=Alu, THICKNESS=0.5\n"
        "*VELUNOR SHELL DIRECTOR, SET=P, NX=3, NY=0, NZ=0\n"
        "*VELUNOR TIME CONTROL, DT=1e-6, TIME=1e-3, STEPS=10\n");
    expect_near(one->shell.shell_local_e1[0], Vec3{0, 1, 0});
    expect_near(one->shell.shell_local_e2[0], Vec3{0, 0, 1});
    expect_near(one->shell.shell_local_e3[0], Vec3{1, 0, 0});
    EXPECT_EQ(one->shell.diagnostics.shell_director_max_length_error, 2.0);
}

// ---------------------------------------------------------------------------
// Build messages and counters

TEST(ShellBuild, InputValidationMessages) {
    expect_build_error(
        "*NODE\n1, 0, 0, 0\n*NSET, NSET=P\n1\n*MATERIAL, NAME=Alu, TYPE=SHELL\n*ELASTIC\n7e10, "
        "0.3\n"
        "*SHELL SECTION, NSET=P, MATERIAL=Alu, THICKNESS=0.5\n"
        "*VELUNOR TIME CONTROL, DT=1e-6, TIME=1e-3, STEPS=10\n",
        "active Shell material is missing density");
    const std::string no_elastic =
        "*NODE\n1, 0, 0, 0\n*NSET, NSET=P\n1\n*MATERIAL, NAME=Alu, TYPE=SHELL\n*DENSITY\n1\n";
    const std::string tail =
        "*SHELL SECTION, NSET=P, MATERIAL=Alu, THICKNESS=0.5\n"
        "*VELUNOR TIME CONTROL, DT=1e-6, TIME=1e-3, STEPS=10\n";
    expect_build_error(no_elastic + tail, "active Shell material is missing elastic data");
    expect_build_error(
        no_elastic + "*ELASTIC\n7e10, 0.3\n*DAMAGE INITIATION\n0, 0, 0, 0, 0\n" + tail,
        "Shell failure requires Johnson-Cook flow data");
    // A shell material through a plain *SECTION: a shell particle without a
    // shell section.
    expect_build_error(no_elastic +
                           "*ELASTIC\n7e10, 0.3\n*MEMBRANE SECTION, NSET=P, MATERIAL=Alu\n"
                           "*VELUNOR TIME CONTROL, DT=1e-6, TIME=1e-3, STEPS=10\n",
                       "active Shell particle is not bound to Shell section");
    // Values the reader refuses, reached by editing the stored records.
    auto edited = [&](auto edit, const std::string& message) {
        auto m = deck_test::fresh_model();
        ASSERT_EQ(deck_test::read_text(*m, no_elastic + "*ELASTIC\n7e10, 0.3\n" + tail), 0);
        ASSERT_EQ(sph_db_apply_sections_to_particles(*m), 0);
        edit(*m);
        expect_error(*m, sph_shell_build_state(*m), 4, message);
    };
    edited([](Model& m) { m.db.section_id[0] = 2; },
           "active Shell particle is missing Shell section");
    edited([](Model& m) { m.db.material_id[0] = 2; },
           "active Shell particle section material mismatch");
    edited([](Model& m) { m.db.sections[0].section_thickness = NAN; },
           "Shell section thickness must be positive");
    edited([](Model& m) { m.db.sections[0].section_integration_points = 4; },
           "Shell section POINTS must be 3 or 5");
    edited([](Model& m) { m.db.sections[0].section_shear_correction = 0.0; },
           "Shell section SHEAR_CORRECTION is invalid");
    // SHEAR_CORRECTION 1 passes, and inactive shell particles are not checked.
    edited(
        [](Model& m) {
            m.db.sections[0].section_shear_correction = 1.0;
            m.db.particle_status[0] = sph_status_inactive;
            m.db.sections[0].section_integration_points = 4;
            m.db.materials[0].material_density = 0.0;
            ASSERT_EQ(sph_shell_build_state(m), 0);
            m.db.particle_status[0] = sph_status_active;
            m.db.sections[0].section_integration_points = 3;
            m.db.materials[0].material_density = 1.0;
            m.db.mass[0] = 0.0;
            ASSERT_EQ(sph_shell_set_director_for_set(m, "P", {0, 0, 1}), 0);
        },
        "Shell rotational inertia is degenerate");
}

TEST(ShellBuild, ParticleMessagesAndCounters) {
    auto fails = [](const std::string& text, const std::string& message,
                    int ShellDiagnostics::*counter, int status_value, bool frame) {
        auto m = deck_test::fresh_model();
        ASSERT_EQ(deck_test::read_text(*m, text), 0) << m->error.last_error_message;
        expect_error(*m, sph_input_build_model(*m), 4, message);
        if (counter != nullptr) {
            EXPECT_EQ(m->shell.diagnostics.*counter, 1) << message;
        }
        const ShellState& s = m->shell;
        EXPECT_EQ(frame ? s.shell_local_frame_status[0] : s.shell_director_status[0], status_value)
            << message;
    };
    const std::string node = "*NODE\n1, 0, 0, 0\n*NSET, NSET=P\n1\n";
    const std::string mat =
        "*MATERIAL, NAME=Alu, TYPE=SHELL\n*DENSITY\n2700\n*ELASTIC\n7e10, 0.3\n";
    const std::string sec = "*SHELL SECTION, NSET=P, MATERIAL=Alu, THICKNESS=0.5";
    const std::string time = "\n*VELUNOR TIME CONTROL, DT=1e-6, TIME=1e-3, STEPS=10\n";
    using D = ShellDiagnostics;
    fails(node + mat + sec + time, "active Shell particle director cannot be inferred",
          &D::shell_director_degenerate_count, 0, false);
    fails(node + mat + sec + ", ORIENTATION=NONE" + time,
          "Shell section references unknown orientation", nullptr, 0, false);
    // Director set parallel to the orientation's tangent: no tangent left.
    fails(node + mat + sec + ", ORIENTATION=O" + time +
              "*ORIENTATION, NAME=O\n0, 0, 1, 1, 0, 0\n"
              "*VELUNOR SHELL DIRECTOR, SET=P, NX=1, NY=0, NZ=0\n",
          "Shell local frame tangent is degenerate", &D::shell_local_frame_degenerate_count,
          sph_shell_frame_degenerate, true);
    // An element whose corner node does not exist.
    fails("*NODE\n1, 0, 0, 0\n2, 1, 0, 0\n*ELEMENT, TYPE=S3\n5, 1, 2, 99\n*ELSET, ELSET=E\n5\n" +
              mat + "*SHELL SECTION, ELSET=E, MATERIAL=Alu, THICKNESS=0.5" + time,
          "Shell element references unknown node", nullptr, 0, false);
    // Element normals that overflow, or cancel: the director check fails.
    const std::string tri = "*ELEMENT, TYPE=S3\n5, 1, 2, 3\n6, 1, 3, 2\n*ELSET, ELSET=E\n";
    fails("*NODE\n1, 0, 0, 0\n2, 1e300, 0, 0\n3, 0, 1e300, 0\n" + tri + "5\n" + mat +
              "*SHELL SECTION, ELSET=E, MATERIAL=Alu, THICKNESS=0.5" + time,
          "Shell director is not finite", &D::shell_director_degenerate_count,
          sph_shell_director_degenerate, false);
    fails("*NODE\n1, 0, 0, 0\n2, 1, 0, 0\n3, 0, 1, 0\n" + tri + "5, 6\n" + mat +
              "*SHELL SECTION, ELSET=E, MATERIAL=Alu, THICKNESS=0.5" + time,
          "Shell director is degenerate", &D::shell_director_degenerate_count,
          sph_shell_director_degenerate, false);
    // A degenerate element counts once per particle that sees it.
    {
        auto m = deck_test::fresh_model();
        ASSERT_EQ(deck_test::read_text(
                      *m,
                      "*NODE\n1, 0, 0, 0\n2, 1, 0, 0\n3, 2, 0, 0\n4, 0, 1, 0\n"
                      "*ELEMENT, TYPE=S3\n5, 1, 2, 3\n6, 1, 2, 4\n*ELSET, ELSET=E\n5, 6\n" +
                          mat + "*SHELL SECTION, ELSET=E, MATERIAL=Alu, THICKNESS=0.5" + time),
                  0);
        ASSERT_EQ(sph_input_build_model(*m), 0) << m->error.last_error_message;
        EXPECT_EQ(m->shell.diagnostics.shell_area_degenerate_count, 3);  // nodes 1, 2, 3
        EXPECT_EQ(m->shell.shell_reference_area[2], 2.0);                // node 3: volume / t
        EXPECT_EQ(m->shell.shell_reference_area[0], 0.5 / 3.0);
    }
    // Volume set to 0 for the area and mass 0 for the inertia, per particle.
    {
        auto m = deck_test::fresh_model();
        ASSERT_EQ(
            deck_test::read_text(
                *m, node + mat + sec + time + "*VELUNOR SHELL DIRECTOR, SET=P, NX=0, NY=0, NZ=1\n"),
            0);
        ASSERT_EQ(sph_input_build_model(*m), 0);
        m->db.volume[0] = 0.0;
        expect_error(*m, sph_input_build_model(*m), 4, "Shell reference area is degenerate");
        EXPECT_EQ(m->shell.diagnostics.shell_area_degenerate_count, 1);
        m->db.volume[0] = 1.0;
        m->db.mass[0] = 0.0;
        expect_error(*m, sph_input_build_model(*m), 4, "Shell rotational inertia is degenerate");
        EXPECT_EQ(m->shell.diagnostics.shell_inertia_degenerate_count, 1);
        EXPECT_EQ(m->shell.diagnostics.shell_area_degenerate_count, 0);  // reset by the build
    }
}

TEST(ShellBuild, WarningsForUnboundMaterialsAndUnusedOrientationsEveryBuild) {
    const std::string text = patch_deck(
        ", ORIENTATION=A",
        "*ORIENTATION, NAME=A\n0, 0, 1, 1, 0, 0\n*ORIENTATION, NAME=B\n0, 0, 1, 1, 0, 0\n"
        "*ORIENTATION, NAME=C\n0, 0, 1, 1, 0, 0\n"
        "*MATERIAL, NAME=Spare, TYPE=SHELL\n*MATERIAL, NAME=Other, TYPE=shell_thin\n");
    auto m = deck_test::fresh_model();
    ASSERT_EQ(deck_test::read_text(*m, text), 0) << m->error.last_error_message;
    ASSERT_EQ(sph_input_get_warning_count(*m), 0);
    ASSERT_EQ(sph_input_build_model(*m), 0) << m->error.last_error_message;
    EXPECT_EQ(sph_shell_count_unbound_materials(*m), 2);
    EXPECT_EQ(sph_shell_count_unused_orientations(*m), 2);
    EXPECT_EQ(sph_input_get_warning_count(*m), 4);
    ASSERT_EQ(sph_input_build_model(*m), 0);
    EXPECT_EQ(sph_input_get_warning_count(*m), 8);

    // Under a director set the orientation gives no director: unused.
    auto d = built(patch_deck(", ORIENTATION=A",
                              "*ORIENTATION, NAME=A\n0, 0, 1, 1, 0, 0\n"
                              "*VELUNOR SHELL DIRECTOR, ELSET=SKIN, NX=0, NY=0, NZ=1\n"));
    EXPECT_FALSE(d->shell.orientations[0].used);
    EXPECT_EQ(sph_input_get_warning_count(*d), 1);
}

TEST(ShellBuild, WithoutShellMaterialsAndMixedWithSolids) {
    auto water = built(std::string(deck_test::water_deck));
    EXPECT_TRUE(water->shell.shell_director.empty());
    // An orientation in a deck without shells still counts as unused.
    auto solid = built(
        "*NODE\n1, 0, 0, 0\n2, 0.01, 0, 0\n*NSET, NSET=B\n1, 2\n*ORIENTATION, NAME=O\n"
        "0, 0, 1, 1, 0, 0\n*MATERIAL, NAME=Steel, TYPE=SOLID\n*DENSITY\n7850\n*ELASTIC\n2e11, 0.3\n"
        "*SOLID SECTION, NSET=B, MATERIAL=Steel\n"
        "*VELUNOR TIME CONTROL, DT=1e-6, TIME=1e-3, STEPS=10\n");
    EXPECT_TRUE(solid->shell.shell_director.empty());
    EXPECT_EQ(sph_input_get_warning_count(*solid), 1);

    // Shells and solids in one deck: each module takes its own material data.
    std::string mixed = patch_deck("",
                                   "*NODE\n20, 0, 0, 1\n21, 0.01, 0, 1\n*NSET, NSET=B\n20, 21\n"
                                   "*MATERIAL, NAME=Steel, TYPE=SOLID\n*DENSITY\n7850\n"
                                   "*ELASTIC\n2e11, 0.3\n*SOLID SECTION, NSET=B, MATERIAL=Steel\n");
    auto m = built(mixed);
    EXPECT_EQ(m->db.particle_phase[9], sph_phase_solid);
    EXPECT_EQ(m->solid.slots.at(0).solid_elastic_e, 2e11);
    EXPECT_EQ(m->shell.materials.at(0).shell_elastic_e, 7e10);
    EXPECT_EQ(m->shell.shell_director.size(), 11u);
    EXPECT_EQ(m->shell.shell_thickness[9], 0.0);  // a solid particle's entry stays 0
    EXPECT_EQ(m->shell.shell_reference_area[4], 1.0);
    EXPECT_GT(m->solid.solid_reference_volume.size(), 0u);
    EXPECT_EQ(sph_input_get_warning_count(*m), 0);
    // Both steps run with shells in the model.
    double dt = 0.0;
    ASSERT_EQ(sph_solver_estimate_stable_dt(*m, dt), 0) << m->error.last_error_message;
    ASSERT_EQ(sph_solver_advance_explicit(*m, 1e-7), 0) << m->error.last_error_message;
}

TEST(ShellLifeCycle, TablesStartAfreshWithEveryDeckAndAfterFinalize) {
    Model& m = sph_api_model();
    ASSERT_EQ(sph_initialize(m), 0);
    EXPECT_TRUE(m.shell.shell_module_initialized);
    deck_test::TempDeck deck(
        patch_deck(", ORIENTATION=A", "*ORIENTATION, NAME=A\n0, 0, 1, 1, 0, 0\n"));
    ASSERT_EQ(sph_read_inp(m, deck.path()), 0);
    ASSERT_EQ(sph_build_model(m), 0) << m.error.last_error_message;
    EXPECT_EQ(m.shell.orientations.size(), 1u);
    deck_test::TempDeck water(std::string(deck_test::water_deck));
    ASSERT_EQ(sph_read_inp(m, water.path()), 0);
    EXPECT_TRUE(m.shell.orientations.empty());
    EXPECT_TRUE(m.shell.materials.empty());
    EXPECT_TRUE(m.shell.shell_director.empty());
    ASSERT_EQ(sph_read_inp(m, deck.path()), 0);
    ASSERT_EQ(sph_build_model(m), 0);
    ASSERT_EQ(sph_finalize(m), 0);
    EXPECT_FALSE(m.shell.shell_module_initialized);
    EXPECT_TRUE(m.shell.orientations.empty());
    EXPECT_TRUE(m.shell.shell_director.empty());
}

// ---------------------------------------------------------------------------
// The build against the plain per-particle definitions

namespace {

// Membership by scanning the set records, as the definition reads.
bool plain_in_named_set(DbState& db, const std::string& name, int p) {
    bool in = false;
    if (const int ns = sph_db_find_nset(db, name)) {
        sph_db_for_each_set_member(db.nsets[ns - 1], [&](int id) {
            in = in || sph_db_find_node(db, id) == p;
            return true;
        });
        if (in) return true;
    }
    if (const int es = sph_db_find_elset(db, name)) {
        sph_db_for_each_set_member(db.elsets[es - 1], [&](int id) {
            const int e = sph_db_find_element(db, id);
            if (e < 0) return true;
            const ElementRecord& el = db.elements[e];
            for (int c = 0; c < el.element_conn_count; ++c) {
                in = in || sph_db_find_node(db, el.element_conn[c]) == p;
            }
            return true;
        });
    }
    return in;
}

struct PlainGeometry {
    Vec3 normal;
    double area = 0.0;
    bool found = false;
    Vec3 edge;
    bool edge_found = false;
};

// Every element of the section's element set scanned for the particle.
PlainGeometry plain_element_geometry(DbState& db, const SectionRecord& section, int p) {
    PlainGeometry g;
    const int es = sph_db_find_elset(db, section.section_name);
    if (es == 0) return g;
    sph_db_for_each_set_member(db.elsets[es - 1], [&](int id) {
        const int e = sph_db_find_element(db, id);
        if (e < 0) return true;
        const ElementRecord& el = db.elements[e];
        bool contains = false;
        for (int c = 0; c < el.element_conn_count; ++c) {
            contains = contains || sph_db_find_node(db, el.element_conn[c]) == p;
        }
        if (!contains) return true;
        auto at = [&](int c) { return db.x0[sph_db_find_node(db, el.element_conn[c])]; };
        Vec3 v;
        if (el.element_conn_count >= 3) {
            v = 0.5 * cross(at(1) - at(0), at(2) - at(0));
            if (el.element_conn_count >= 4) v += 0.5 * cross(at(2) - at(0), at(3) - at(0));
        }
        if (norm(v) > 1e-12) {
            g.normal += v;
            g.area += norm(v) / el.element_conn_count;
            g.found = true;
        }
        if (!g.edge_found && el.element_conn_count >= 2 && norm(at(1) - at(0)) > 1e-12) {
            g.edge = at(1) - at(0);
            g.edge_found = true;
        }
        return true;
    });
    return g;
}

// A random patch: a perturbed grid of nx x ny nodes with random ids, random
// triangles and quads over it (some nodes in several sets), two sections,
// director and rotation sets on node and element sets.
std::string random_deck(std::mt19937& rng, int nx, int ny) {
    std::uniform_real_distribution<double> u(-0.2, 0.2);
    std::vector<int> ids(nx * ny);
    for (int k = 0; k < nx * ny; ++k) ids[k] = 1000 + 7 * k;
    std::shuffle(ids.begin(), ids.end(), rng);
    std::string deck = "*NODE\n";
    char line[160];
    for (int j = 0; j < ny; ++j) {
        for (int i = 0; i < nx; ++i) {
            std::snprintf(line, sizeof line, "%d, %.17g, %.17g, %.17g\n", ids[i + nx * j],
                          i + u(rng), j + u(rng), u(rng));
            deck += line;
        }
    }
    auto id = [&](int i, int j) { return std::to_string(ids[i + nx * j]); };
    deck += "*ELEMENT, TYPE=S4\n";
    std::string left, right;
    int e = 1;
    for (int j = 0; j + 1 < ny; ++j) {
        for (int i = 0; i + 1 < nx; ++i) {
            if (rng() % 3 == 0) continue;  // holes: some nodes have no element
            const bool quad = rng() % 2 == 0;
            deck += std::to_string(e) + ", " + id(i, j) + ", " + id(i + 1, j) + ", " +
                    id(i + 1, j + 1) + (quad ? ", " + id(i, j + 1) : "") + "\n";
            std::string& set = i < nx / 2 ? left : right;
            if (std::count(set.begin(), set.end(), ',') < 60)
                set += (set.empty() ? "" : ", ") + std::to_string(e);
            ++e;
        }
    }
    std::string allnodes, some;
    for (int k = 0; k < nx * ny; ++k) {
        allnodes += (allnodes.empty() ? "" : ", ") + std::to_string(ids[k]);
        if (rng() % 4 == 0 && std::count(some.begin(), some.end(), ',') < 60)
            some += (some.empty() ? "" : ", ") + std::to_string(ids[k]);
    }
    if (some.empty()) some = std::to_string(ids[0]);
    return deck + "*ELSET, ELSET=LEFT\n" + (left.empty() ? "999" : left) +
           "\n*ELSET, ELSET=RIGHT\n" + (right.empty() ? "999" : right) + "\n*NSET, NSET=SOME\n" +
           some + "\n*NSET, NSET=RIGHT\n" + some +
           "\n*MATERIAL, NAME=Alu, TYPE=SHELL\n*DENSITY\n2700\n*ELASTIC\n7e10, 0.33\n"
           "*SHELL SECTION, ELSET=LEFT, MATERIAL=Alu, THICKNESS=0.01\n"
           "*SHELL SECTION, ELSET=RIGHT, MATERIAL=Alu, THICKNESS=0.02, POINTS=5\n"
           "*ORIENTATION, NAME=O\n0.1, 0.2, 1, 1, 0, 0\n"
           "*VELUNOR SHELL DIRECTOR, NSET=SOME, NX=0.3, NY=0, NZ=2\n"
           "*VELUNOR SHELL DIRECTOR, ELSET=LEFT, NX=0, NY=0.1, NZ=-1\n"
           "*VELUNOR SHELL ROTATION, SET=RIGHT, OX=1, OY=2, OZ=3\n"
           "*VELUNOR SHELL ROTATION, SET=SOME, OX=5, OY=0, OZ=0\n"
           "*VELUNOR TIME CONTROL, DT=1e-6, TIME=1e-3, STEPS=10\n";
}

}  // namespace

TEST(ShellBuild, RandomModelsEqualThePlainDefinitions) {
    std::mt19937 rng(77);
    for (int trial = 0; trial < 12; ++trial) {
        const std::string text = random_deck(rng, 6 + trial % 4, 5 + trial % 3);
        auto m = deck_test::fresh_model();
        ASSERT_EQ(deck_test::read_text(*m, text), 0) << m->error.last_error_message;
        // Without the director sets on some trials, so geometry directors appear.
        if (trial % 2 == 1) m->shell.director_sets.clear();
        ASSERT_EQ(sph_input_build_model(*m), 0) << m->error.last_error_message;
        DbState& db = m->db;
        const ShellState& s = m->shell;
        for (int p = 0; p < db.npart; ++p) {
            if (db.particle_phase[p] != sph_phase_shell) {
                EXPECT_EQ(s.shell_thickness[p], 0.0);
                continue;
            }
            const SectionRecord& section = db.sections[db.section_id[p] - 1];
            const PlainGeometry g = plain_element_geometry(db, section, p);
            int set = 0;
            for (std::size_t k = 0; k < s.director_sets.size() && set == 0; ++k) {
                if (plain_in_named_set(db, s.director_sets[k].name, p)) set = int(k) + 1;
            }
            Vec3 d;
            int source = 0;
            double area = 0.0;
            if (set > 0) {
                d = s.director_sets[set - 1].director;
                source = 1;
            } else {
                ASSERT_TRUE(g.found) << "every section particle sits on an element";
                d = g.normal;
                area = g.area;
                source = 3;
            }
            if (!(area > 1e-12)) area = g.found ? g.area : db.volume[p] / section.section_thickness;
            const Vec3 e3 = Vec3{d.x / norm(d), d.y / norm(d), d.z / norm(d)};
            EXPECT_EQ(s.shell_director_status[p], source) << trial << " " << p;
            EXPECT_TRUE(same_bits(s.shell_director[p], e3)) << trial << " " << p;
            EXPECT_TRUE(same_bits(s.shell_reference_area[p], area)) << trial << " " << p;
            ASSERT_TRUE(g.edge_found);
            // The frame normalizes the stored (unit) director once more.
            const Vec3 f3 = Vec3{e3.x / norm(e3), e3.y / norm(e3), e3.z / norm(e3)};
            const Vec3 t = g.edge;
            const Vec3 w = t - dot(t, f3) * f3;
            const Vec3 e1{w.x / norm(w), w.y / norm(w), w.z / norm(w)};
            EXPECT_TRUE(same_bits(s.shell_local_e1[p], e1)) << trial << " " << p;
            Vec3 omega;
            for (const ShellRotationSet& r : s.rotation_sets) {
                if (plain_in_named_set(db, r.name, p)) {
                    omega = r.omega;
                    break;
                }
            }
            EXPECT_TRUE(same_bits(s.shell_omega[p], omega)) << trial << " " << p;
            EXPECT_EQ(s.shell_ip_count[p], section.section_integration_points);
        }
    }
}
