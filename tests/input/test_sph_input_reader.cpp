// Deck syntax: line handling, options, numbers, logical words, error prefixes,
// warnings and the two passes.

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "core/sph_model.hpp"
#include "deck_test_util.hpp"
#include "input/sph_input_reader.hpp"

using deck_test::fresh_model;
using deck_test::read_text;
using deck_test::TempDeck;
using deck_test::water_deck;

namespace {

// Reads `text` and expects the given status and message (with the file:line:
// prefix when `line` > 0).
void expect_read_error(std::string_view text, int code, int line, std::string_view message) {
    auto m = fresh_model();
    std::string path;
    EXPECT_EQ(read_text(*m, text, &path), code) << m->error.last_error_message;
    std::string expected = line > 0
                               ? path + ":" + std::to_string(line) + ": " + std::string(message)
                               : std::string(message);
    EXPECT_EQ(m->error.last_error_message, expected);
    EXPECT_EQ(m->error.last_error_code, code);
}

}  // namespace

TEST(InputReader, WaterDeckFillsTheDatabaseAndModules) {
    auto m = fresh_model();
    ASSERT_EQ(read_text(*m, water_deck), 0) << m->error.last_error_message;
    const DbState& db = m->db;
    ASSERT_EQ(db.npart, 2);
    EXPECT_EQ(db.particle_id_ext[1], 2);
    EXPECT_EQ(db.x[1].x, 0.5);
    EXPECT_EQ(db.x0[1].x, 0.5);
    ASSERT_EQ(db.nsets.size(), 1u);
    EXPECT_EQ(db.nsets[0].name, "ALLN");
    EXPECT_EQ(db.nsets[0].member_count, 2);
    ASSERT_EQ(db.materials.size(), 1u);
    EXPECT_EQ(db.materials[0].material_name, "Water");
    EXPECT_EQ(db.materials[0].material_type, "WATER");
    EXPECT_EQ(db.materials[0].material_density, 1000.0);
    ASSERT_EQ(db.sections.size(), 1u);
    EXPECT_EQ(db.sections[0].section_type, "SECTION");
    EXPECT_EQ(db.sections[0].section_name, "ALLN");
    EXPECT_EQ(db.sections[0].section_integration_points, 3);
    EXPECT_EQ(db.sections[0].section_shear_correction, 5.0 / 6.0);
    EXPECT_EQ(m->control.dt_default, 1e-6);
    EXPECT_EQ(m->control.end_time, 1e-3);
    EXPECT_EQ(m->control.max_steps, 10);
    EXPECT_TRUE(m->water.water_material_seen);
    EXPECT_EQ(m->water.water_c0, 1480.0);
    EXPECT_EQ(m->water.water_default_h, 0.6);
    const InputState& in = m->input;
    EXPECT_TRUE(in.input_has_material && in.input_has_section && in.input_has_time_control);
    EXPECT_EQ(in.input_warning_count, 1);  // *HEADING, its data line ignored
    EXPECT_EQ(in.active_material_name, "Water");
}

TEST(InputReader, CrlfAndLfDecksReadAlike) {
    std::string crlf;
    for (char c : water_deck) {
        if (c == '\n') crlf += '\r';
        crlf += c;
    }
    auto lf_model = fresh_model();
    auto crlf_model = fresh_model();
    ASSERT_EQ(read_text(*lf_model, water_deck), 0);
    ASSERT_EQ(read_text(*crlf_model, crlf), 0) << crlf_model->error.last_error_message;
    EXPECT_EQ(crlf_model->db.materials[0].material_type, "WATER");
    EXPECT_EQ(crlf_model->db.nsets[0].name, "ALLN");
    EXPECT_EQ(crlf_model->db.x[1].x, lf_model->db.x[1].x);
    EXPECT_EQ(crlf_model->control.max_steps, 10);
}

TEST(InputReader, KeywordsAndOptionNamesIgnoreCaseValuesKeepIt) {
    auto m = fresh_model();
    ASSERT_EQ(read_text(*m,
                        "*node\n1, 0, 0, 0\n*Node\n2, 1, 1, 1\n"
                        "*Material, name=Steel_a, type=Solid\n"
                        "*nset, NSet = Left Side \n1\n"),
              0);
    EXPECT_EQ(m->db.npart, 2);
    EXPECT_EQ(m->db.materials[0].material_name, "Steel_a");
    EXPECT_EQ(m->db.materials[0].material_type, "Solid");
    EXPECT_EQ(m->db.nsets[0].name, "Left Side");
}

TEST(InputReader, CommentsBlankLinesAndLineNumbers) {
    // Comments and blank lines count as lines; a comment marker after
    // leading blanks is data.
    expect_read_error("** comment\n\n! another\n*NODE\n1, 0, 0, 0\n   ! not a comment\n", 4, 6,
                      "invalid *NODE record");
    // "  **" after blanks is an unknown keyword, whose data is ignored.
    auto m = fresh_model();
    ASSERT_EQ(read_text(*m, "*NODE\n1,0,0,0\n  **\nstray data\n*STEP\n*END STEP\n"), 0);
    EXPECT_EQ(m->input.input_warning_count, 3);
}

TEST(InputReader, LongLinesAndManyFieldsAreCut) {
    // 70 ids on one *NSET line: the first 64 are stored.
    std::string ids;
    for (int k = 1; k <= 70; ++k) ids += std::to_string(k) + (k < 70 ? ", " : "");
    auto m = fresh_model();
    ASSERT_EQ(read_text(*m, "*NODE\n1,0,0,0\n*NSET, NSET=A\n" + ids + "\n"), 0);
    EXPECT_EQ(m->db.nsets[0].member_count, 64);
    EXPECT_EQ(m->db.nsets[0].members[63], 64);

    // Characters past the 1024th are dropped: the bad member lies beyond the cut.
    std::string line = "1";
    while (line.size() < 1020) line += ", 1";
    m = fresh_model();
    ASSERT_EQ(
        read_text(*m, "*NODE\n1,0,0,0\n*NSET, NSET=B\n" + line + std::string(20, ' ') + ", junk\n"),
        0)
        << m->error.last_error_message;
}

TEST(InputReader, OptionLookupRules) {
    std::string_view line = "*VELUNOR X, GENERATE, name = Steel , NAME=Other, Blank=, R=  2.5";
    EXPECT_EQ(sph_input_get_option(line, "NAME"), "Steel");  // first occurrence wins
    EXPECT_EQ(sph_input_get_option(line, " name "), "Steel");
    EXPECT_EQ(sph_input_get_option(line, "GENERATE"), "");  // a word without a value
    EXPECT_FALSE(sph_input_option_present(line, "GENERATE"));
    EXPECT_TRUE(sph_input_option_present(line, "BLANK"));
    EXPECT_EQ(sph_input_get_option(line, "BLANK"), "");
    EXPECT_EQ(sph_input_get_option(line, "NAM"), "");  // names match whole

    auto m = fresh_model();
    double r = 7.0;
    EXPECT_EQ(sph_input_get_required_real(*m, line, "R", r), 0);
    EXPECT_EQ(r, 2.5);
    EXPECT_EQ(sph_input_get_required_real(*m, line, "Blank", r), 4);
    EXPECT_EQ(r, 0.0);
    EXPECT_EQ(m->error.last_error_message, ":0: missing required option Blank");
    r = 7.0;
    EXPECT_EQ(sph_input_get_optional_real(*m, line, "BLANK", r), 0);
    EXPECT_EQ(r, 7.0);
    EXPECT_EQ(sph_input_get_optional_real(*m, line, "NAME", r), 4);
    EXPECT_EQ(m->error.last_error_message, ":0: invalid numeric option NAME");
}

TEST(InputReader, RealAndLogicalValues) {
    auto m = fresh_model();
    m->input.input_current_file = "a.inp";
    m->input.input_current_line = 7;
    for (const char* text : {" 1.0e-5", " 1d-5", " 1e-5", "1.0E-05"}) {
        double v = 0.0;
        EXPECT_EQ(sph_input_parse_real_value(*m, text, v, "bad"), 0);
        EXPECT_EQ(v, 1e-5) << text;
    }
    double v = 3.0;
    EXPECT_EQ(sph_input_parse_real_value(*m, "abc", v, "invalid thing"), 4);
    EXPECT_EQ(m->error.last_error_message, "a.inp:7: invalid thing");
    for (const char* text : {"yes", "On", "1", " TRUE ", "true"}) {
        bool b = false;
        EXPECT_EQ(sph_input_parse_logical_value(*m, text, b, "bad"), 0) << text;
        EXPECT_TRUE(b) << text;
    }
    for (const char* text : {"no", "Off", "0", "FALSE"}) {
        bool b = true;
        EXPECT_EQ(sph_input_parse_logical_value(*m, text, b, "bad"), 0) << text;
        EXPECT_FALSE(b) << text;
    }
    for (const char* text : {"y", "T", "2", "", "yess"}) {
        bool b = true;
        EXPECT_EQ(sph_input_parse_logical_value(*m, text, b, "invalid flag"), 4) << text;
        EXPECT_TRUE(b);
        EXPECT_EQ(m->error.last_error_message, "a.inp:7: invalid flag");
    }
}

TEST(InputReader, ErrorPrefixIsAddedOnce) {
    auto m = fresh_model();
    m->input.input_current_file = "a.inp   ";
    m->input.input_current_line = 7;
    EXPECT_EQ(sph_input_set_error(*m, "  invalid node id  "), 4);
    EXPECT_EQ(m->error.last_error_message, "a.inp:7: invalid node id");
    sph_input_prefix_current_error(*m);
    EXPECT_EQ(m->error.last_error_message, "a.inp:7: invalid node id");
    sph_error_set(m->error, 1, "output interval must be positive");
    sph_input_prefix_current_error(*m);
    EXPECT_EQ(m->error.last_error_code, 1);  // the module's code is kept
    EXPECT_EQ(m->error.last_error_message, "a.inp:7: output interval must be positive");
    // Recorded messages keep at most 256 characters.
    m->input.input_current_file = std::string(600, 'p');
    EXPECT_EQ(sph_input_set_error(*m, "x"), 4);
    EXPECT_EQ(m->error.last_error_message, std::string(256, 'p'));
}

TEST(InputReader, UnknownKeywordsAndSubKeywordsWarn) {
    auto m = fresh_model();
    ASSERT_EQ(read_text(*m,
                        "*NODE\n1,0,0,0\n*HEADING\nanything, at all\n*STEP\n1, 2\n"
                        "*VELUNOR SOMETHING ELSE, A=1\ndata\n*BOUNDARY\n"),
              0);
    EXPECT_EQ(sph_input_get_warning_count(*m), 4);
}

TEST(InputReader, AllFifteenVelunorPhrasesAreRecognised) {
    auto m = fresh_model();
    ASSERT_EQ(read_text(*m, R"(*NODE
1, 0, 0, 0
*VELUNOR TIME CONTROL, DT=1e-6, TIME=1e-3, STEPS=5
*VELUNOR OUTPUT
*VELUNOR COUPLING REGION, NAME=C, SET=ALL
*VELUNOR TAMRIX
*MATERIAL, NAME=G, TYPE=GAS
*VELUNOR EOS, TYPE=IDEAL_GAS, MATERIAL=G, GAMMA=1.4, E0=2e5
*VELUNOR VISCOSITY, TYPE=MONAGHAN, MATERIAL=W, ALPHA=0.1, BETA=0, ETA2=0.01
*VELUNOR PARTICLE CONTROL, H=1, MASS=1, VOLUME=1
*VELUNOR BODY FORCE, Z=-9.81
*NSET, NSET=S
1
*VELUNOR BLAST REGION, RADIUS=1, SET=S
*MATERIAL, NAME=E, TYPE=EXPLOSIVE
*VELUNOR EXPLOSIVE, MATERIAL=E, TYPE=PROGRAMMED_BURN, DETONATION_VELOCITY=8000, ENERGY=4e6, BURN_TIME=0, PRODUCT_MATERIAL=G
*VELUNOR IGNITION, MATERIAL=E, X=0, Y=0, Z=0, TIME=0
*VELUNOR SHELL DIRECTOR, SET=S, NX=0, NY=0, NZ=1
*VELUNOR SHELL ROTATION, SET=S, OX=0, OY=0, OZ=1
*MATERIAL, NAME=Hull, TYPE=SHELL
*VELUNOR SHELL CONTROL, MATERIAL=Hull
*MATERIAL, NAME=S, TYPE=SOLID
*VELUNOR SOLID CONTROL, MATERIAL=S
)"),
              0)
        << m->error.last_error_message;
    EXPECT_EQ(m->input.input_warning_count, 0);
    EXPECT_EQ(m->water.water_body_force.z, -9.81);
}

TEST(InputReader, EarlierPhraseInAnOptionValueDecides) {
    // OUTPUT in an option value sends the line to the output handler, which
    // finds nothing to set, so the particle control is never applied.
    auto m = fresh_model();
    ASSERT_EQ(read_text(*m,
                        "*NODE\n1,0,0,0\n"
                        "*VELUNOR PARTICLE CONTROL, H=2, MASS=1, VOLUME=1, NOTE=OUTPUT\n"),
              0);
    EXPECT_EQ(m->water.water_default_h, 1.0);
    EXPECT_FALSE(m->water.water_particle_control_defined);
}

TEST(InputReader, DeckWithoutNodesReadsAndFailsToBuild) {
    auto m = fresh_model();
    ASSERT_EQ(read_text(*m, "*MATERIAL, NAME=W, TYPE=WATER\n*NODE\n*VELUNOR BOGUS\n"), 0);
    EXPECT_EQ(m->db.npart, 0);
    // Nothing after the counting pass was read.
    EXPECT_TRUE(m->db.materials.empty());
    EXPECT_EQ(m->input.input_warning_count, 0);
    EXPECT_EQ(sph_input_build_model(*m), 4);
    EXPECT_EQ(m->error.last_error_message, "input is missing *NODE particle data");
}

TEST(InputReader, UnopenableDecks) {
    auto m = fresh_model();
    EXPECT_EQ(sph_input_read(*m, (deck_test::temp_dir() / "missing.inp").string()), 3);
    EXPECT_EQ(m->error.last_error_message, "failed to open input file");
    EXPECT_EQ(sph_input_read(*m, deck_test::temp_dir().string()), 3);
    EXPECT_EQ(m->error.last_error_message, "failed to open input file");
    EXPECT_EQ(sph_input_read(*m, ""), 3);
    // A device or a pipe is not a deck: it could never end (/dev/zero), block
    // the second pass (a FIFO) or read differently twice.
    if (std::filesystem::exists("/dev/null")) {
        EXPECT_EQ(sph_input_read(*m, "/dev/null"), 3);
        EXPECT_EQ(m->error.last_error_message, "failed to open input file");
    }
    // Trailing blanks of the path are not part of the file name.
    TempDeck deck("*NODE\n1, 0, 0, 0\n");
    EXPECT_EQ(sph_input_read(*m, deck.path() + "   "), 0);
    EXPECT_EQ(m->db.npart, 1);
}

TEST(InputReader, ANewReadStartsFromAResetReader) {
    auto m = fresh_model();
    ASSERT_EQ(read_text(*m, water_deck), 0);
    ASSERT_EQ(read_text(*m, "*NODE\n1,0,0,0\n*ELEMENT\n1, 1\n"), 0);
    const InputState& in = m->input;
    EXPECT_FALSE(in.input_has_material || in.input_has_section || in.input_has_time_control);
    EXPECT_EQ(in.input_warning_count, 0);
    EXPECT_EQ(in.active_material_name, "MATERIAL");
    EXPECT_TRUE(m->db.materials.empty());
    ASSERT_EQ(m->db.elements.size(), 1u);
    EXPECT_EQ(m->db.elements[0].element_type, "UNKNOWN");
}
