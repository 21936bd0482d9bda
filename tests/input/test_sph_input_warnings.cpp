// What the deck reader drops, named in the log as "warning FILE:LINE: TEXT":
// unknown keywords (the counted warnings) and, as text only, unknown,
// repeated and value-less options, ignored spellings, text after numbers,
// data lines under keywords that take none and element nodes past the 8th.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "core/sph_model.hpp"
#include "deck_test_util.hpp"

namespace {

using deck_test::TempDeck;

std::vector<std::string> log_lines(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(line);
    }
    return lines;
}

// Reads `text` with the model's log open (when `log` is not empty); the
// read status.
int read_logged(Model& m, const TempDeck& deck, const std::filesystem::path& log) {
    if (!log.empty()) {
        EXPECT_EQ(sph_log_open(m.log, m.error, log.string()), 0);
    }
    const int status = sph_input_read(m, deck.path());
    EXPECT_EQ(sph_log_close(m.log, m.error), 0);
    return status;
}

std::string repeated(const std::string& piece, int times) {
    std::string text;
    for (int k = 0; k < times; ++k) text += piece;
    return text;
}

const std::string warned_deck = std::string(deck_test::water_deck) +
                                // line 16 on
                                "*VELUNOR TIME CONTROL, DT=1e-6, TIME=1e-3, STEPS=10, SAFTEY=0.25\n"
                                "*VELUNOR TIME CONTRL, DT=1e-6\n"
                                "*VELUNOR OUTPUT, DIR=a, DIRECTORY=b, INTERVAL=5 7, FORMAT=ASCII\n"
                                "*MATERIAL, NAME=Other, TYPE=WATER, NAME=Third\n"
                                "*NSET, NSET=ALLN, INTERNAL, GENERATE\n"
                                "1, 2\n"
                                "*VELUNOR EOS, TYPE=TAIT, MATERIAL=Other, RHO0=1000, C0=1480, "
                                "GAMMA=7, E0=5\n"
                                "1, 2\n"
                                "3, 4\n"
                                "*ELEMENT, TYPE=C3D8, ELSET=E\n"
                                "1, 1, 2, 1, 2, 1, 2, 1, 2, 1\n"
                                "*VELUNOR BODY FORCE, Z=-9.81 m/s2, ZZ=1\n"
                                "*VELUNOR TIME CONTROL, DT=1e-6, TIME=1e-3, STEPS=10, STEPS=20\n"
                                "*NSET, NSET=WIDE\n" +
                                // 70 members on one line, and 70 commas on a keyword line
                                "1" + repeated(", 2", 69) + "\n" + "*VELUNOR BODY FORCE, Z=-9.81" +
                                std::string(70, ',') + "\n";

}  // namespace

TEST(InputWarnings, EachDroppedValueIsNamedWithItsLineAndOnlyKeywordsCount) {
    TempDeck deck(warned_deck);
    const auto log = deck_test::temp_dir() / "input_warnings.log";
    std::filesystem::remove(log);
    auto m = deck_test::fresh_model();
    ASSERT_EQ(read_logged(*m, deck, log), 0) << m->error.last_error_message;
    const std::string at = "warning " + deck.path() + ":";
    const std::vector<std::string> expected = {
        at + "1: unknown keyword *HEADING (ignored with its data lines)",
        at + "16: unknown option SAFTEY of *VELUNOR TIME CONTROL (did you mean SAFETY?)",
        at + "17: unknown keyword *VELUNOR TIME CONTRL (ignored with its data lines) (did you "
             "mean *VELUNOR TIME CONTROL?)",
        at + "18: option DIR of *VELUNOR OUTPUT is ignored: DIRECTORY is given",
        at + "18: text \"7\" after the value of INTERVAL is ignored",
        at + "19: option NAME of *MATERIAL is given more than once; only the first counts",
        at + "20: option INTERNAL of *NSET has no value (no \"=\") and is ignored",
        at + "22: unknown option E0 of *VELUNOR EOS",
        at + "23: data lines under *VELUNOR EOS are ignored (it takes none)",
        at + "25: unknown option ELSET of *ELEMENT",
        at + "26: node ids after the 8th of element 1 are ignored",
        at + "27: unknown option ZZ of *VELUNOR BODY FORCE",
        at + "27: text \"m/s2\" after the value of Z is ignored",
        at + "28: option STEPS of *VELUNOR TIME CONTROL overrides an earlier one; the last "
             "counts",
        at + "30: fields after the 64th are ignored",
        at + "31: fields after the 64th of *VELUNOR BODY FORCE are ignored",
    };
    EXPECT_EQ(log_lines(log), expected);
    // The misspelt option changed nothing, the repeated one its last value.
    EXPECT_EQ(m->control.safety_factor, 1.0);
    EXPECT_EQ(m->control.max_steps, 20);
    EXPECT_EQ(m->control.output_directory, "b");
    EXPECT_EQ(m->control.output_interval, 5);

    // Only the two unknown keywords count, with the log open or not.
    EXPECT_EQ(sph_input_get_warning_count(*m), 2);
    auto quiet = deck_test::fresh_model();
    ASSERT_EQ(read_logged(*quiet, deck, {}), 0);
    EXPECT_EQ(sph_input_get_warning_count(*quiet), 2);
    std::filesystem::remove(log);
}

TEST(InputWarnings, EveryOptionAKeywordReadsPassesWithoutWarning) {
    // Each handler's options, spelled as its table has them (one spelling of
    // each alternative), give no warning; nor do blank fields.
    const std::string deck_text =
        std::string(deck_test::water_deck) +
        "*VELUNOR TIME CONTROL, DT=1e-6, END TIME=1e-3, MAX STEPS=10, SAFETY=0.5, "
        "INTEGRATOR=VERLET,\n"
        "*VELUNOR OUTPUT, DIRECTORY=o, INTERVAL=2, FORMAT=ASCII, CSV=YES\n"
        "*VELUNOR VISCOSITY, TYPE=MONAGHAN, MATERIAL=Water, ALPHA=0.1, BETA=0, ETA2=0.01, "
        "DENSITY_DIFFUSION=0.1\n"
        "*VELUNOR BODY FORCE, X=0, Y=0, Z=-9.81\n"
        "*MATERIAL, NAME=Gas, TYPE=GAS\n"
        "*VELUNOR EOS, TYPE=JWL, MATERIAL=Gas, RHO0=1630, A=3.7e11, B=3.2e9, R1=4.15, R2=0.95, "
        "OMEGA=0.3, E0=1e5\n"
        "*MATERIAL, NAME=Steel, TYPE=SOLID\n"
        "*VELUNOR SOLID CONTROL, MATERIAL=Steel, SOFTENING=LINEAR, WIDTH=1, H=0.1, VOLUME=1e-3\n"
        "*SOLID SECTION, ELSET=ALLN, MATERIAL=Steel, ORIENTATION=, THICKNESS=1, POINTS=3, "
        "SHEAR=0.8\n"
        "*VELUNOR BLAST REGION, NAME=B, X=0, Y=0, Z=0, RADIUS=1, SOURCE=GAS, TARGET=STRUCTURE, "
        "NSET=ALLN, FACTOR=1, WINDOW=0, PROJECTION=RADIAL, ACTIVE=YES\n";
    TempDeck deck(deck_text);
    const auto log = deck_test::temp_dir() / "input_no_warnings.log";
    std::filesystem::remove(log);
    auto m = deck_test::fresh_model();
    ASSERT_EQ(read_logged(*m, deck, log), 0) << m->error.last_error_message;
    const std::vector<std::string> lines = log_lines(log);
    ASSERT_EQ(lines.size(), 1u);  // *HEADING only
    EXPECT_NE(lines[0].find(":1: unknown keyword *HEADING"), std::string::npos) << lines[0];
    std::filesystem::remove(log);
}
