// Mesh, set, material and section keywords and the model build.

#include <gtest/gtest.h>

#include <string>

#include "core/sph_model.hpp"
#include "deck_test_util.hpp"
#include "input/sph_input_reader.hpp"

using deck_test::fresh_model;
using deck_test::read_text;
using deck_test::water_deck;

namespace {

constexpr std::string_view one_node = "*NODE\n1, 0, 0, 0\n";

void expect_error(std::string_view text, int code, int line, std::string_view message) {
    deck_test::expect_read_error(text, code, line, message);
}

std::string with_node(std::string_view rest) {
    return std::string(one_node) + std::string(rest);
}

}  // namespace

TEST(InputKeywords, NodeRecords) {
    expect_error("*NODE\n1, 0, 0\n", 4, 2, "invalid *NODE record");
    expect_error("*NODE\n1.0, 0, 0, 0\n", 4, 2, "invalid node id");
    expect_error("*NODE\n, 0, 0, 0\n", 4, 2, "invalid node id");
    expect_error("*NODE\n1, x, 0, 0\n", 4, 2, "invalid node x coordinate");
    expect_error("*NODE\n1, 0, 1e400, 0\n", 4, 2, "invalid node y coordinate");
    expect_error("*NODE\n1, 0, 0, nan\n", 4, 2, "invalid node z coordinate");
    auto m = fresh_model();
    ASSERT_EQ(read_text(*m, "*NODE, NSET=ALL\n7, 1.5, -2.5d0, 3E1, ignored\n"), 0);
    EXPECT_EQ(m->db.particle_id_ext[0], 7);
    EXPECT_EQ(m->db.x[0].y, -2.5);
    EXPECT_EQ(m->db.x[0].z, 30.0);
}

TEST(InputKeywords, NodeBlocksAnywhereNumberParticlesInDeckOrder) {
    auto m = fresh_model();
    ASSERT_EQ(read_text(*m, "*NODE\n10,0,0,0\n*MATERIAL, NAME=A\n*NODES\n20,1,0,0\n30,2,0,0\n"), 0);
    ASSERT_EQ(m->db.npart, 3);
    EXPECT_EQ(m->db.particle_id_ext[0], 10);
    EXPECT_EQ(m->db.particle_id_ext[2], 30);
}

TEST(InputKeywords, ElementRecords) {
    auto m = fresh_model();
    ASSERT_EQ(read_text(*m, with_node("*ELEMENT, TYPE=C3D8, ELSET=E\n"
                                      "5, 1, 2, 3, 4, 5, 6, 7, 8, 9, junk\n"
                                      "*Element\n6, 1\n")),
              0);
    ASSERT_EQ(m->db.elements.size(), 2u);
    const ElementRecord& e = m->db.elements[0];
    EXPECT_EQ(e.element_id_ext, 5);
    EXPECT_EQ(e.element_type, "C3D8");
    EXPECT_EQ(e.element_conn_count, 8);
    EXPECT_EQ(e.element_conn[7], 8);
    EXPECT_EQ(m->db.elements[1].element_type, "UNKNOWN");
    EXPECT_EQ(m->db.elements[1].element_conn_count, 1);
    EXPECT_TRUE(m->db.elsets.empty());  // ELSET on *ELEMENT is not read

    expect_error(with_node("*ELEMENT\n5\n"), 4, 4, "invalid *ELEMENT record");
    expect_error(with_node("*ELEMENT\nfive, 1\n"), 4, 4, "invalid element id");
    expect_error(with_node("*ELEMENT\n5, 1, 2.5\n"), 4, 4, "invalid element connectivity");
    expect_error(with_node("*ELEMENT\n5, 1,\n"), 4, 4, "invalid element connectivity");
}

TEST(InputKeywords, SetRecords) {
    auto m = fresh_model();
    ASSERT_EQ(read_text(*m, with_node("*NSET, NSET=Top\n1, 5, 2\n3\n*ELSET\n9\n")), 0);
    ASSERT_EQ(m->db.nsets.size(), 2u);  // one record per data line
    EXPECT_EQ(m->db.nsets[0].name, "Top");
    EXPECT_EQ(m->db.nsets[0].member_count, 3);
    EXPECT_EQ(m->db.nsets[0].members[1], 5);
    EXPECT_EQ(m->db.nsets[1].member_count, 1);
    ASSERT_EQ(m->db.elsets.size(), 1u);
    EXPECT_EQ(m->db.elsets[0].name, "ELSET");

    expect_error(with_node("*NSET, NSET=A\n1, 2, 3,\n"), 4, 4, "invalid set member id");
    expect_error(with_node("*ELSET, ELSET=A\n1, x\n"), 4, 4, "invalid set member id");
    // Capacity errors of the database keep their own text.
    std::string many = with_node("*NSET, NSET=A\n");
    for (int k = 0; k < 33; ++k) many += "1\n";
    expect_error(many, 5, 0, "too many node set records");
}

TEST(InputKeywords, MaterialRegistration) {
    auto m = fresh_model();
    ASSERT_EQ(read_text(*m, with_node("*MATERIAL\n*MATERIAL, NAME=Mix, TYPE=gas_water\n")), 0);
    ASSERT_EQ(m->db.materials.size(), 2u);
    EXPECT_EQ(m->db.materials[0].material_name, "MATERIAL");
    EXPECT_EQ(m->db.materials[0].material_type, "UNSPECIFIED");
    EXPECT_TRUE(m->input.input_has_material);
    // A type containing WATER is claimed by the water module whatever else it contains.
    EXPECT_TRUE(m->water.water_material_seen);
    EXPECT_EQ(m->water.water_material_name, "Mix");

    std::string many = std::string(one_node);
    for (int k = 0; k < 33; ++k) many += "*MATERIAL, NAME=M" + std::to_string(k) + "\n";
    expect_error(many, 5, 35, "too many material records");
}

TEST(InputKeywords, DensityRecords) {
    auto m = fresh_model();
    ASSERT_EQ(read_text(*m, with_node("*MATERIAL, NAME=w\n*DENSITY, DEPENDENCIES=0\n998.2, 20\n")),
              0);
    EXPECT_EQ(m->db.materials[0].material_density, 998.2);
    expect_error(with_node("*MATERIAL, NAME=w\n*DENSITY\nheavy\n"), 4, 5, "invalid density value");
    expect_error(with_node("*MATERIAL, NAME=w\n*DENSITY\n\t\n"), 4, 5, "invalid density value");
    // Density before any *MATERIAL goes to the material named MATERIAL.
    expect_error(with_node("*DENSITY\n1000\n"), 5, 0, "density references unknown material");
    expect_error(with_node("*MATERIAL, NAME=w\n*DENSITY\n0\n"), 1, 0,
                 "material density must be positive");
}

TEST(InputKeywords, StructuralMaterialDataIsChecked) {
    std::string mat = with_node("*MATERIAL, NAME=Steel, TYPE=SOLID\n");
    auto m = fresh_model();
    ASSERT_EQ(read_text(*m, mat + "*ELASTIC\n2.1e11, 0.3, 293\n"
                                  "*PLASTIC, HARDENING=JOHNSON COOK\n1,2,3,4,5,6,7,8,9\n"
                                  "*DAMAGE INITIATION, CRITERION=JOHNSON COOK\n1,2,3,4,5\n"
                                  "*ORIENTATION, NAME=O1\n0,0,1,1,0,0\n"),
              0);
    EXPECT_EQ(m->input.active_orientation_name, "O1");
    expect_error(mat + "*ELASTIC\n2.1e11\n", 4, 5, "invalid *ELASTIC record");
    expect_error(mat + "*ELASTIC\nE, 0.3\n", 4, 5, "invalid elastic modulus");
    expect_error(mat + "*ELASTIC\n2e11, nu\n", 4, 5, "invalid Poisson ratio");
    expect_error(mat + "*PLASTIC\n1,2,3,4,5,6,7\n", 4, 5, "invalid Johnson-Cook plastic record");
    expect_error(mat + "*PLASTIC\n1,2,3,4,5,6,7,x\n", 4, 5, "invalid Johnson-Cook plastic value");
    expect_error(mat + "*DAMAGE INITIATION\n1,2,3,4\n", 4, 5, "invalid Johnson-Cook damage record");
    expect_error(mat + "*DAMAGE INITIATION\n1,2,,4,5\n", 4, 5, "invalid Johnson-Cook damage value");
    expect_error(mat + "*ORIENTATION\n0,0,1,1,0,0\n", 4, 4, "Orientation is missing NAME option");
    expect_error(mat + "*ORIENTATION, NAME=O\n0,0,1,1,0\n", 4, 5, "invalid *ORIENTATION record");
    expect_error(mat + "*ORIENTATION, NAME=O\n0,0,1,1,0,z\n", 4, 5,
                 "invalid *ORIENTATION numeric value");
}

TEST(InputKeywords, SolidSectionChecks) {
    std::string base = with_node("*NSET, NSET=S\n1\n*MATERIAL, NAME=W, TYPE=WATER\n");
    auto m = fresh_model();
    ASSERT_EQ(read_text(*m, base + "*MATERIAL, NAME=St, TYPE=solid\n"
                                   "*SOLID SECTION, NSET=S, MATERIAL=st, ORIENTATION=O\n"),
              0);
    const SectionRecord& s = m->db.sections[0];
    EXPECT_EQ(s.section_type, "SOLID");
    EXPECT_EQ(s.section_material_id, 2);
    EXPECT_EQ(s.section_orientation_name, "O");
    EXPECT_EQ(s.section_thickness, 0.0);
    EXPECT_TRUE(m->input.input_has_section);

    expect_error(base + "*SOLID SECTION, NSET=S\n", 4, 6,
                 "Solid section is missing MATERIAL option");
    expect_error(base + "*SOLID SECTION, NSET=S, MATERIAL=W\n", 4, 6,
                 "Solid section references non-Solid material");
    // A type that names no other phase is not refused here.
    m = fresh_model();
    ASSERT_EQ(read_text(*m, base + "*MATERIAL, NAME=B, TYPE=Rubber\n"
                                   "*SOLID SECTION, NSET=S, MATERIAL=B\n"),
              0);
    // A material that is not defined yet passes the solid check; the database
    // then refuses the record, as it refuses every section of an unknown material.
    expect_error(base + "*SOLID SECTION, NSET=S, MATERIAL=Later\n*MATERIAL, NAME=Later\n", 5, 6,
                 "section references unknown material");
}

TEST(InputKeywords, ShellSectionChecks) {
    std::string base = with_node(
        "*NSET, NSET=S\n1\n*MATERIAL, NAME=Plate, TYPE=SHELL\n*MATERIAL, NAME=W, TYPE=WATER\n");
    const int line = 7;
    auto shell = [&](std::string_view options) {
        return base + "*SHELL SECTION, NSET=S" + std::string(options) + "\n";
    };
    auto m = fresh_model();
    ASSERT_EQ(read_text(*m, shell(", MATERIAL=plate, THICKNESS=0.01, POINTS=5")), 0);
    EXPECT_EQ(m->db.sections[0].section_type, "SHELL");
    EXPECT_EQ(m->db.sections[0].section_thickness, 0.01);
    EXPECT_EQ(m->db.sections[0].section_integration_points, 5);
    EXPECT_EQ(m->db.sections[0].section_shear_correction, 0.8333333333333334);

    m = fresh_model();
    ASSERT_EQ(read_text(*m, shell(", MATERIAL=Plate, THICKNESS=1, SHEAR_CORRECTION=1")), 0);
    EXPECT_EQ(m->db.sections[0].section_shear_correction, 1.0);
    m = fresh_model();
    ASSERT_EQ(read_text(*m, shell(", MATERIAL=Plate, THICKNESS=1, SHEAR=0.5")), 0);
    EXPECT_EQ(m->db.sections[0].section_shear_correction, 0.5);

    expect_error(shell(", THICKNESS=1"), 4, line, "Shell section is missing MATERIAL option");
    expect_error(shell(", MATERIAL=Nope, THICKNESS=1"), 4, line,
                 "Shell section references unknown material");
    expect_error(shell(", MATERIAL=W, THICKNESS=1"), 4, line,
                 "Shell section references non-Shell material");
    expect_error(shell(", MATERIAL=Plate"), 4, line, "Shell section THICKNESS must be positive");
    expect_error(shell(", MATERIAL=Plate, THICKNESS=-1"), 4, line,
                 "Shell section THICKNESS must be positive");
    expect_error(shell(", MATERIAL=Plate, THICKNESS=1e308"), 4, line,
                 "Shell section THICKNESS must be positive");
    expect_error(shell(", MATERIAL=Plate, THICKNESS=1, POINTS=4"), 4, line,
                 "Shell section POINTS must be 3 or 5");
    expect_error(shell(", MATERIAL=Plate, THICKNESS=1, SHEAR_CORRECTION=1.0001"), 4, line,
                 "Shell section SHEAR_CORRECTION is invalid");
    expect_error(shell(", MATERIAL=Plate, THICKNESS=1, SHEAR_CORRECTION=0"), 4, line,
                 "Shell section SHEAR_CORRECTION is invalid");
    // Reading errors come before the shell checks.
    expect_error(shell(", MATERIAL=Plate, THICKNESS=thin"), 4, line, "invalid section THICKNESS");
    expect_error(shell(", MATERIAL=Plate, THICKNESS=1, POINTS=3.0"), 4, line,
                 "invalid section POINTS");
    expect_error(shell(", THICKNESS=1, SHEAR=x"), 4, line, "invalid section SHEAR_CORRECTION");
}

TEST(InputKeywords, OtherSectionDefaults) {
    // Neither ELSET nor NSET: the set named SECTION; no MATERIAL: the material named MATERIAL.
    auto m = fresh_model();
    ASSERT_EQ(read_text(*m, with_node("*NSET, NSET=section\n1\n*MATERIAL\n*EULERIAN SECTION\n")),
              0);
    const SectionRecord& s = m->db.sections[0];
    EXPECT_EQ(s.section_name, "SECTION");
    EXPECT_EQ(s.section_type, "SECTION");
    EXPECT_EQ(s.section_material_name, "MATERIAL");
    EXPECT_EQ(s.section_integration_points, 3);
    // ELSET wins over NSET.
    m = fresh_model();
    ASSERT_EQ(read_text(*m, with_node("*NSET, NSET=N\n1\n*ELSET, ELSET=E\n1\n*MATERIAL\n"
                                      "*X SECTION, NSET=N, ELSET=E\n")),
              0);
    EXPECT_EQ(m->db.sections[0].section_name, "E");
    // Database refusals of a keyword line carry the prefix and keep their code.
    expect_error(with_node("*MATERIAL\n*X SECTION, NSET=Nowhere\n"), 5, 4,
                 "section references unknown set");
}

TEST(InputBuild, MissingKeywordsInOrder) {
    auto build_error = [](std::string_view text) {
        auto m = fresh_model();
        EXPECT_EQ(read_text(*m, text), 0) << m->error.last_error_message;
        EXPECT_EQ(sph_input_build_model(*m), 4);
        EXPECT_EQ(m->error.last_error_code, 4);
        return m->error.last_error_message;
    };
    const std::string tc = "*VELUNOR TIME CONTROL, DT=1, TIME=1, STEPS=1\n";
    EXPECT_EQ(build_error("*MATERIAL\n*X SECTION\n" + tc), "input is missing *NODE particle data");
    // A section needs its material in the database, so only a deck without
    // either reaches the material check.
    EXPECT_EQ(build_error(with_node(tc)), "input is missing *MATERIAL data");
    EXPECT_EQ(build_error(with_node("*MATERIAL\n" + tc)), "input is missing *SECTION data");
    EXPECT_EQ(build_error(with_node("*NSET, NSET=SECTION\n1\n*MATERIAL\n*X SECTION\n")),
              "input is missing *VELUNOR time control data");
}

TEST(InputBuild, WaterDeckBuildsAndRebuilds) {
    auto m = fresh_model();
    ASSERT_EQ(read_text(*m, water_deck), 0);
    ASSERT_EQ(sph_input_build_model(*m), 0) << m->error.last_error_message;
    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(m->db.section_id[i], 1);
        EXPECT_EQ(m->db.particle_phase[i], sph_phase_water);
    }
    EXPECT_EQ(m->input.input_warning_count, 1);
    // Building again repeats every step.
    ASSERT_EQ(sph_input_build_model(*m), 0);
    EXPECT_EQ(m->db.particle_phase[1], sph_phase_water);
}

TEST(InputBuild, FailingStepStopsTheBuild) {
    // A coupling region whose set does not exist is found by the database at build.
    auto m = fresh_model();
    ASSERT_EQ(read_text(*m, water_deck), 0);
    m->db.coupling_regions.push_back(CouplingRegionRecord{});
    m->db.coupling_regions.back().coupling_region_name = "R";
    m->db.coupling_regions.back().coupling_region_set_name = "NOWHERE";
    m->db.coupling_regions.back().coupling_region_enabled = 1;
    EXPECT_EQ(sph_input_build_model(*m), 5);
    EXPECT_EQ(m->error.last_error_message, "coupling region references unknown set");
    EXPECT_EQ(m->db.particle_phase[0], sph_phase_water);  // sections were applied before
}
