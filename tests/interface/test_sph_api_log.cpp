// The log a host asks for with VELUNOR_LOG: opened at initialization, one
// line per shell section after the shell build (counts by director source,
// total reference area against areas worked out here from the node
// coordinates), and an initialization that fails when the log cannot be
// opened and leaves a library that a retry initializes.

#include <gtest/gtest.h>
#include <unistd.h>

#include <array>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "../input/deck_test_util.hpp"
#include "../test_env.hpp"
#include "c_api_test_util.hpp"
#include "core/sph_model.hpp"
#include "interface/sph_api.hpp"
#include "velunor.h"

namespace fs = std::filesystem;
using c_api_test::last_error_message;
using deck_test::TempDeck;

namespace {

// Sets or unsets VELUNOR_LOG for one test and puts the caller's value back.
struct LogVariable : test_env::ScopedVariable {
    LogVariable() : ScopedVariable("VELUNOR_LOG") {}
};

// A directory of the running test's own, removed afterwards.
class ApiLog : public ::testing::Test {
  protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() /
               ("velunor_api_log_" + std::to_string(::getpid()) + "_" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir_);
        fs::create_directories(dir_);
    }
    void TearDown() override { fs::remove_all(dir_); }

    static std::string read_all(const fs::path& path) {
        std::ifstream in(path, std::ios::binary);
        std::ostringstream text;
        text << in.rdbuf();
        return text.str();
    }

    fs::path dir_;
    LogVariable variable_;
};

using Point = std::array<double, 3>;

Point minus(const Point& a, const Point& b) {
    return {a[0] - b[0], a[1] - b[1], a[2] - b[2]};
}

Point half_cross(const Point& a, const Point& b) {
    return {0.5 * (a[1] * b[2] - a[2] * b[1]), 0.5 * (a[2] * b[0] - a[0] * b[2]),
            0.5 * (a[0] * b[1] - a[1] * b[0])};
}

double length(const Point& a) {
    return std::sqrt(a[0] * a[0] + a[1] * a[1] + a[2] * a[2]);
}

std::string node_line(int id, const Point& x) {
    std::ostringstream line;
    line.precision(17);
    line << id << ", " << x[0] << ", " << x[1] << ", " << x[2] << "\n";
    return line.str();
}

// Four shell sections, one source each plus a director set in two of them:
//   1 TRI   two triangles (the second out of plane), node 1 under a director set
//   2 QUAD  one warped quadrilateral
//   3 CLOUD four nodes without elements (thickness 0.5), node 24 under a director set
//   4 ORI   two nodes with an orientation (thickness 0.25)
// and a boundary section, which is no shell section and gets no line.
const std::array<Point, 4> tri = {{{0, 0, 0}, {3, 0, 0}, {0, 4, 0}, {3, 4, 1}}};
const std::array<Point, 4> quad = {{{10, 0, 0}, {12, 0, 0}, {12, 1, 1}, {10, 1, 0}}};

std::string four_section_deck() {
    std::string deck = "*NODE\n";
    for (int k = 0; k < 4; ++k) deck += node_line(1 + k, tri[k]);
    for (int k = 0; k < 4; ++k) deck += node_line(11 + k, quad[k]);
    deck +=
        "21, 20, 0, 0\n22, 21, 0, 0\n23, 22, 0, 0\n24, 20, 2, 0\n"
        "31, 30, 0, 0\n32, 31, 0, 0\n41, 50, 0, 0\n"
        "*ELEMENT, TYPE=S3\n1, 1, 2, 3\n2, 2, 4, 3\n*ELEMENT, TYPE=S4\n3, 11, 12, 13, 14\n"
        "*ELSET, ELSET=TRI\n1, 2\n*ELSET, ELSET=QUAD\n3\n"
        "*NSET, NSET=CLOUD\n21, 22, 23, 24\n*NSET, NSET=ORI\n31, 32\n*NSET, NSET=WALL\n41\n"
        "*NSET, NSET=PINNED\n1, 24\n"
        "*MATERIAL, NAME=Alu, TYPE=SHELL\n*DENSITY\n2700\n*ELASTIC\n7e10, 0.33\n"
        "*MATERIAL, NAME=Wall, TYPE=BOUNDARY\n*DENSITY\n1000\n"
        "*ORIENTATION, NAME=UP\n0, 0, 1, 1, 0, 0\n"
        "*SHELL SECTION, ELSET=TRI, MATERIAL=Alu, THICKNESS=0.01\n"
        "*SHELL SECTION, ELSET=QUAD, MATERIAL=Alu, THICKNESS=0.01\n"
        "*SHELL SECTION, NSET=CLOUD, MATERIAL=Alu, THICKNESS=0.5\n"
        "*SHELL SECTION, NSET=ORI, MATERIAL=Alu, THICKNESS=0.25, ORIENTATION=UP\n"
        "*SECTION, NSET=WALL, MATERIAL=Wall\n"
        "*VELUNOR SHELL DIRECTOR, SET=PINNED, NX=0, NY=0, NZ=1\n"
        "*VELUNOR TIME CONTROL, DT=1e-6, TIME=1e-3, STEPS=10\n";
    return deck;
}

std::vector<std::string> lines_of(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < text.size()) {
        const std::size_t end = text.find("\r\n", start);
        EXPECT_NE(end, std::string::npos) << "every line ends with CR LF";
        if (end == std::string::npos) break;
        lines.push_back(text.substr(start, end - start));
        start = end + 2;
    }
    return lines;
}

// `line` is `head` + an area in the file's real form + " name " + `name`,
// and that area is within `tolerance` of `area`.
void expect_section_line(const std::string& line, const std::string& head, double area,
                         double tolerance, const std::string& name) {
    ASSERT_EQ(line.rfind(head, 0), 0u) << line;
    const std::string tail = " name " + name;
    ASSERT_GT(line.size(), head.size() + tail.size()) << line;
    ASSERT_EQ(line.substr(line.size() - tail.size()), tail) << line;
    const std::string token = line.substr(head.size(), line.size() - head.size() - tail.size());
    EXPECT_TRUE(std::regex_match(token, std::regex(R"(\d\.\d{16}E[+-]\d{2})"))) << token;
    EXPECT_NEAR(std::strtod(token.c_str(), nullptr), area, tolerance) << line;
}

int read_and_build(Model& m, const std::string& text) {
    TempDeck deck(text);
    if (const int st = sph_read_inp(m, deck.path())) return st;
    return sph_build_model(m);
}

}  // namespace

TEST_F(ApiLog, UnsetOrEmptyVariableOpensNoLog) {
    const fs::path path = dir_ / "run.log";
    auto m = std::make_unique<Model>();
    for (bool empty : {false, true}) {
        if (empty) {
            variable_.set("");
        } else {
            variable_.unset();
        }
        ASSERT_EQ(sph_initialize(*m), 0);
        EXPECT_FALSE(m->log.sph_log_is_open);
        ASSERT_EQ(read_and_build(*m, four_section_deck()), 0) << m->error.last_error_message;
        EXPECT_FALSE(m->log.sph_log_is_open);
        EXPECT_EQ(m->error.last_error_message, "OK");
        EXPECT_TRUE(fs::is_empty(dir_));
    }
    // A log open from an earlier initialization ends with the next one that
    // asks for none: its build writes nothing there.
    variable_.set(path.string());
    ASSERT_EQ(sph_initialize(*m), 0);
    ASSERT_TRUE(m->log.sph_log_is_open);
    variable_.unset();
    ASSERT_EQ(sph_initialize(*m), 0);
    EXPECT_FALSE(m->log.sph_log_is_open);
    ASSERT_EQ(read_and_build(*m, four_section_deck()), 0);
    EXPECT_EQ(read_all(path), "");
    EXPECT_EQ(sph_finalize(*m), 0);
}

TEST_F(ApiLog, ShellBuildWritesOneLinePerShellSection) {
    const fs::path path = dir_ / "run.log";
    variable_.set(path.string());
    auto m = std::make_unique<Model>();
    ASSERT_EQ(sph_initialize(*m), 0);
    EXPECT_TRUE(m->log.sph_log_is_open);
    EXPECT_TRUE(fs::exists(path));  // created by the opening, before anything is logged
    ASSERT_EQ(read_and_build(*m, four_section_deck()), 0) << m->error.last_error_message;

    // Element shares add up to the element areas: each node of an n-node
    // element gets a / n. Triangles: |1/2 (X2 - X1) x (X3 - X1)|, 6 and 6.5
    // here; the quad: |v123 + v134| with v134 = 1/2 (X3 - X1) x (X4 - X1),
    // sqrt(21) / 2 for these nodes.
    const double tri_area = length(half_cross(minus(tri[1], tri[0]), minus(tri[2], tri[0]))) +
                            length(half_cross(minus(tri[3], tri[1]), minus(tri[2], tri[1])));
    ASSERT_EQ(tri_area, 12.5);
    const Point v123 = half_cross(minus(quad[1], quad[0]), minus(quad[2], quad[0]));
    const Point v134 = half_cross(minus(quad[2], quad[0]), minus(quad[3], quad[0]));
    const double quad_area = length({v123[0] + v134[0], v123[1] + v134[1], v123[2] + v134[2]});
    ASSERT_NEAR(quad_area, std::sqrt(21.0) / 2.0, 1e-15);

    const std::vector<std::string> lines = lines_of(read_all(path));
    // One line per shell section, then one per material and per section with
    // its index and name, then the energy of the built model.
    ASSERT_EQ(lines.size(), 12u) << read_all(path);
    const std::vector<std::string> names = {"material 1 Alu", "material 2 Wall", "section 1 TRI",
                                            "section 2 QUAD", "section 3 CLOUD", "section 4 ORI",
                                            "section 5 WALL"};
    EXPECT_EQ(std::vector<std::string>(lines.begin() + 4, lines.begin() + 11), names);
    EXPECT_EQ(lines[11].rfind("energy step 0 time 0.0000000000000000E+00 water 0 ", 0), 0u);
    // The director set keeps node 1 from the element normal but not from its
    // element share.
    expect_section_line(
        lines[0],
        "shell section 1 particles 4 director_set 1 orientation 0 element 3 cloud 0 area ",
        tri_area, 4e-15 * tri_area, "TRI");
    expect_section_line(
        lines[1],
        "shell section 2 particles 4 director_set 0 orientation 0 element 4 cloud 0 area ",
        quad_area, 4e-15 * quad_area, "QUAD");
    // No elements: volume (1 for a shell particle) / thickness each.
    EXPECT_EQ(lines[2],
              "shell section 3 particles 4 director_set 1 orientation 0 element 0 cloud 3 area "
              "8.0000000000000000E+00 name CLOUD");
    EXPECT_EQ(lines[3],
              "shell section 4 particles 2 director_set 0 orientation 2 element 0 cloud 0 area "
              "8.0000000000000000E+00 name ORI");

    // A build that fails in the shell module writes nothing; the next good
    // one appends its lines again.
    std::string broken = four_section_deck();
    broken.replace(broken.find("ORIENTATION=UP"), 14, "ORIENTATION=UPSIDE");
    {
        TempDeck deck(broken);
        ASSERT_EQ(sph_read_inp(*m, deck.path()), 0) << m->error.last_error_message;
        EXPECT_EQ(sph_build_model(*m), 4);
        EXPECT_EQ(m->error.last_error_message, "Shell section references unknown orientation");
    }
    EXPECT_EQ(lines_of(read_all(path)).size(), 12u);
    ASSERT_EQ(read_and_build(*m, four_section_deck()), 0);
    const std::vector<std::string> again = lines_of(read_all(path));
    ASSERT_EQ(again.size(), 24u);
    for (std::size_t k = 0; k < 12; ++k) EXPECT_EQ(again[12 + k], lines[k]);

    // Finalization closes the log; a new initialization appends to the file.
    EXPECT_EQ(sph_finalize(*m), 0);
    EXPECT_FALSE(m->log.sph_log_is_open);
    ASSERT_EQ(sph_initialize(*m), 0);
    ASSERT_EQ(read_and_build(*m, four_section_deck()), 0);
    EXPECT_EQ(lines_of(read_all(path)).size(), 36u);
    EXPECT_EQ(sph_finalize(*m), 0);

    // A model without shells writes no shell line: its *HEADING warning, its
    // one material and section and its energy line.
    ASSERT_EQ(sph_initialize(*m), 0);
    ASSERT_EQ(read_and_build(*m, std::string(deck_test::water_deck)), 0);
    const std::vector<std::string> last = lines_of(read_all(path));
    ASSERT_EQ(last.size(), 40u);
    EXPECT_NE(last[36].find(":1: unknown keyword *HEADING"), std::string::npos) << last[36];
    EXPECT_EQ(last[37], "material 1 Water");
    EXPECT_EQ(last[38], "section 1 ALLN");
    EXPECT_EQ(last[39].rfind("energy step 0 ", 0), 0u);
    EXPECT_EQ(sph_finalize(*m), 0);
}

// As a host sees it: status 3 and the log's message, an uninitialized
// library with the earlier model gone, and an initialization that works once
// the variable names a file that opens.
TEST_F(ApiLog, UnopenableLogFailsInitializationAndARetryWorks) {
    TempDeck deck(four_section_deck());
    variable_.unset();
    ASSERT_EQ(velunor_initialize(), 0);
    ASSERT_EQ(velunor_read_inp(deck.path().c_str()), 0);
    ASSERT_EQ(velunor_build_model(), 0);

    for (const fs::path& bad : {dir_ / "missing" / "run.log", dir_}) {
        variable_.set(bad.string());
        int code = 0;
        EXPECT_EQ(velunor_initialize(), 3) << bad;
        EXPECT_EQ(last_error_message(code), "failed to open log file");
        EXPECT_EQ(code, 3);
        EXPECT_FALSE(sph_api_model().log.sph_log_is_open);
        int count = -1;
        EXPECT_EQ(velunor_get_particle_count(&count), 2);
        EXPECT_EQ(count, 0);
        EXPECT_EQ(last_error_message(code), "Velunor API is not initialized");
        EXPECT_TRUE(sph_api_model().db.sections.empty());  // the earlier model is gone
        EXPECT_TRUE(sph_api_model().shell.shell_reference_area.empty());
    }
    EXPECT_FALSE(fs::exists(dir_ / "missing"));

    const fs::path good = dir_ / "run.log";
    variable_.set(good.string());
    ASSERT_EQ(velunor_initialize(), 0);
    EXPECT_EQ(last_error_message(), "OK");
    ASSERT_EQ(velunor_read_inp(deck.path().c_str()), 0);
    ASSERT_EQ(velunor_build_model(), 0);
    // Four shell sections, the two materials and five sections by name, the energy.
    EXPECT_EQ(lines_of(read_all(good)).size(), 12u);
    EXPECT_EQ(velunor_finalize(), 0);
    EXPECT_FALSE(sph_api_model().log.sph_log_is_open);
}
