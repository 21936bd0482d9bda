// Restart files: the written layout, reading back, the read messages, the
// all-or-nothing read and the exact resume.

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>

#include "../coupling_interface/coupling_test_model.hpp"
#include "../input/deck_test_util.hpp"
#include "core/sph_model.hpp"
#include "interface/sph_api.hpp"
#include "output/sph_output_csv.hpp"
#include "restart/sph_restart.hpp"
#include "restart/sph_restart_io.hpp"

namespace {

namespace fs = std::filesystem;

std::string slurp(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

fs::path scratch(std::string_view name) {
    return deck_test::temp_dir() /
           (std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()) + "_" +
            std::string(name));
}

std::unique_ptr<Model> built_from(std::string_view deck_path) {
    auto m = std::make_unique<Model>();
    EXPECT_EQ(sph_initialize(*m), 0);
    EXPECT_EQ(sph_read_inp(*m, deck_path), 0) << m->error.last_error_message;
    EXPECT_EQ(sph_build_model(*m), 0) << m->error.last_error_message;
    return m;
}

void advance(Model& m, int steps) {
    for (int k = 0; k < steps; ++k) {
        double dt = 0.0;
        ASSERT_EQ(sph_estimate_stable_dt(m, dt), 0) << m.error.last_error_message;
        ASSERT_EQ(sph_advance_explicit(m, dt), 0) << m.error.last_error_message;
    }
}

// The text `write` puts into a scratch file of the given name.
template <typename Write>
std::string written_text(Model& m, std::string_view name, Write write) {
    const fs::path path = scratch(name);
    EXPECT_EQ(write(m, path.string()), 0) << m.error.last_error_message;
    std::string text = slurp(path);
    fs::remove(path);
    return text;
}

std::string restart_text(Model& m, std::string_view name) {
    return written_text(m, name, sph_write_restart);
}

std::string csv_text(Model& m, std::string_view name) {
    return written_text(m, name, sph_output_write_csv);
}

// Runs `total` steps straight, and `split` steps + restart + deck read and
// build + restart read + the rest; both must end in the same bytes.
void expect_exact_resume(std::string_view deck_path, int split, int total,
                         void (*between_steps)(Model&) = nullptr) {
    auto straight = built_from(deck_path);
    for (int k = 0; k < total; ++k) {
        if (between_steps != nullptr) between_steps(*straight);
        advance(*straight, 1);
    }
    auto first = built_from(deck_path);
    for (int k = 0; k < split; ++k) {
        if (between_steps != nullptr) between_steps(*first);
        advance(*first, 1);
    }
    const fs::path file = scratch("resume.rst");
    ASSERT_EQ(sph_write_restart(*first, file.string()), 0) << first->error.last_error_message;
    auto resumed = built_from(deck_path);
    ASSERT_EQ(sph_read_restart(*resumed, file.string()), 0) << resumed->error.last_error_message;
    fs::remove(file);
    for (int k = split; k < total; ++k) {
        if (between_steps != nullptr) between_steps(*resumed);
        advance(*resumed, 1);
    }
    EXPECT_EQ(restart_text(*straight, "a.rst"), restart_text(*resumed, "b.rst"));
    EXPECT_EQ(csv_text(*straight, "a.csv"), csv_text(*resumed, "b.csv"));
}

}  // namespace

TEST(RestartResume, ExplosiveGasSolidAndBlastBitForBit) {
    expect_exact_resume(VELUNOR_SOURCE_DIR "/examples/charge_near_plate.inp", 7, 15);
}

// Imports sent before a step act in it: the straight and the resumed run get
// the same facet loads and motion, pending across the restart too.
void send_imports(Model& m) {
    int step = 0;
    double time = 0.0;
    ASSERT_EQ(sph_get_current_time(m, time, step), 0);
    const int facet_ids[2] = {5, 3};
    const double loads[6] = {0.0, 0.0, 100.0 + step, 0.0, 1.0, -50.0};
    ASSERT_EQ(sph_coupling_apply_facet_loads(m, 3, 2, facet_ids, loads), 0)
        << m.error.last_error_message;
}

TEST(RestartResume, WaterShellAndCouplingBitForBit) {
    deck_test::TempDeck deck(coupling_test::deck);
    expect_exact_resume(deck.path(), 3, 8, send_imports);
}

// The deck at `path` with the velocity-Verlet scheme chosen in its time control.
std::string with_verlet(std::string text) {
    const std::size_t at = text.find("*VELUNOR TIME CONTROL");
    EXPECT_NE(at, std::string::npos);
    text.insert(text.find('\n', at), ", INTEGRATOR=VERLET");
    return text;
}

TEST(RestartResume, VerletSchemeCarriesItsForcesBitForBit) {
    deck_test::TempDeck blast(
        with_verlet(slurp(VELUNOR_SOURCE_DIR "/examples/charge_near_plate.inp")));
    expect_exact_resume(blast.path(), 7, 15);
    deck_test::TempDeck coupled(with_verlet(std::string(coupling_test::deck)));
    expect_exact_resume(coupled.path(), 3, 8, send_imports);
    // With viscosity acting (a cube under tension draws together from the
    // first step) the carried forces saw the half-step velocity: only the
    // carried ones give the same next step.
    std::string cube = "*NODE\n";
    for (int k = 0; k < 64; ++k) {
        cube += std::to_string(k + 1) + ", " + std::to_string(0.01 * (k % 4)) + ", " +
                std::to_string(0.01 * (k / 4 % 4)) + ", " + std::to_string(0.01 * (k / 16)) + "\n";
    }
    cube +=
        "*NSET, NSET=ALL, GENERATE\n1, 64\n*MATERIAL, NAME=Water, TYPE=WATER\n*DENSITY\n1000\n"
        "*FLUID SECTION, NSET=ALL, MATERIAL=Water\n"
        "*VELUNOR EOS, TYPE=TAIT, MATERIAL=Water, RHO0=1000, C0=1480, GAMMA=7, P0=-1e6\n"
        "*VELUNOR VISCOSITY, TYPE=MONAGHAN, MATERIAL=Water, ALPHA=0.5, BETA=0, ETA2=0.01\n"
        "*VELUNOR PARTICLE CONTROL, H=0.013, MASS=0.001, VOLUME=1e-6\n"
        "*VELUNOR TIME CONTROL, DT=1, TIME=1, STEPS=100, SAFETY=0.25\n";
    deck_test::TempDeck viscous(with_verlet(cube));
    expect_exact_resume(viscous.path(), 4, 9);

    // The file says which scheme wrote it; one of the documented scheme
    // carries nothing extra.
    auto m = built_from(coupled.path());
    advance(*m, 2);
    const std::string text = restart_text(*m, "verlet.rst");
    std::istringstream lines(text);
    std::string line;
    std::getline(lines, line);
    std::getline(lines, line);
    std::getline(lines, line);
    EXPECT_EQ(line.substr(line.size() - 4), " 1 T");
    m->control.integrator = sph_integrator_default;
    const std::string plain = restart_text(*m, "plain.rst");
    EXPECT_EQ(plain.find(" 1 T\n"), std::string::npos);
    EXPECT_LT(plain.size(), text.size());
}

TEST(RestartFile, HeaderRecordsAndRoundTrip) {
    deck_test::TempDeck deck(coupling_test::deck);
    auto m = built_from(deck.path());
    advance(*m, 2);
    const std::string text = restart_text(*m, "one.rst");
    EXPECT_EQ(text.substr(0, text.find('\n')), "VELUNOR_RESTART 0 8 3 STATE_0_8_1");

    const fs::path file = scratch("two.rst");
    ASSERT_EQ(sph_write_restart(*m, file.string()), 0);
    auto fresh = std::make_unique<Model>();
    ASSERT_EQ(sph_initialize(*fresh), 0);
    ASSERT_EQ(sph_read_restart(*fresh, file.string()), 0) << fresh->error.last_error_message;
    fs::remove(file);
    EXPECT_EQ(fresh->control.current_step, 2);
    EXPECT_EQ(fresh->control.current_time, m->control.current_time);
    ASSERT_EQ(fresh->db.npart, m->db.npart);
    for (int i = 0; i < m->db.npart; ++i) {
        EXPECT_EQ(fresh->db.x[i].x, m->db.x[i].x);
        EXPECT_EQ(fresh->db.v[i].z, m->db.v[i].z);
        EXPECT_EQ(fresh->db.rho[i], m->db.rho[i]);
        // A fresh library has no deck: the body force comes from the file.
        EXPECT_EQ(fresh->db.acc_body[i].z, m->db.acc_body[i].z);
    }
    EXPECT_EQ(fresh->db.coupling_regions.size(), 4u);
    EXPECT_TRUE(sph_api_state_get_model_built(fresh->api));
    // The writer's text reads back to the same text.
    EXPECT_EQ(restart_text(*fresh, "three.rst"), text);
    advance(*fresh, 1);  // a file alone is a model that steps
}

TEST(RestartIo, ValuesRoundTripAndNamesStayOneValue) {
    const fs::path path = scratch("values.txt");
    {
        SphOutputFile file;
        ASSERT_TRUE(file.open_replacing(path.string()));
        RestartWriter w(file);
        w.record(0.1, -0.0, 1.0e-310, 1.7976931348623157e308, 5, true, false);
        w.put_name("MY STEEL").put_name("").put_name("it's").put_name("PLAIN").end();
        w.record(std::numeric_limits<double>::infinity(), std::nan(""));
        ASSERT_TRUE(file.close());
    }
    RestartLineSource in(sph_restart_line_len);
    ASSERT_TRUE(in.open(path.string()));
    RestartRecord r;
    double a, b, c, d;
    int i;
    bool t, f;
    ASSERT_TRUE(sph_restart_read_record(in, r, a, b, c, d, i, t, f));
    EXPECT_EQ(a, 0.1);
    EXPECT_TRUE(std::signbit(b));
    EXPECT_EQ(c, 1.0e-310);
    EXPECT_EQ(d, 1.7976931348623157e308);
    EXPECT_EQ(i, 5);
    EXPECT_TRUE(t);
    EXPECT_FALSE(f);
    std::string n1, n2, n3, n4;
    ASSERT_TRUE(sph_restart_read_record(in, r, n1, n2, n3, n4));
    EXPECT_EQ(n1, "MY STEEL");
    EXPECT_EQ(n2, "");
    EXPECT_EQ(n3, "it's");
    EXPECT_EQ(n4, "PLAIN");
    double inf, nan;
    ASSERT_TRUE(sph_restart_read_record(in, r, inf, nan));
    EXPECT_TRUE(std::isinf(inf));
    EXPECT_TRUE(std::isnan(nan));
    std::string_view line;
    EXPECT_FALSE(in.next(line));
    fs::remove(path);
}

namespace {

// A file of an older layout, written by hand: one water particle, and from
// STATE_0_3 on the gas records.
std::string legacy_file(std::string_view tag, std::string_view after_particles = "") {
    std::string text = "VELUNOR_RESTART 0 2 0 " + std::string(tag) + "\n";
    text += "1.5e-6 3 1\n10 T 0.5\nout\n";
    text += "1000 1480 7 0 312914285.71428573\n0.1 0 0.01\n0 0 -9.81\n";
    text += "0.6 1 1 1 1\n1 0.125\n0 0 0 0 1000 1000 0\n1e-7 1e-7 1e-7\n";
    if (tag != "STATE_0_2") {
        text += "1 1 1.4 0 0 0 0 0 0 0 0\n1 1 1\n0 0 0\n0 0 0\n";
        text += "0 0 0 0 0 0 0 0 0 0\n0 0 0 0 0 0 0\n0 0 0\n";
    }
    if (tag != "STATE_0_2" && tag != "STATE_0_3") text += "0\n";
    text += "7 1 0 1 0\n";
    text += "0 0 0 0.1 0.2 0.3 1 2 3 0 0 -9.81 1 2 3\n";
    text += "0.125 1001 1.2e-4 5 0 293 0.6\n";
    text += after_particles;
    return text;
}

int read_text_file(Model& m, const std::string& text) {
    const fs::path path = scratch("legacy.rst");
    {
        std::ofstream out(path, std::ios::binary);
        out << text;
    }
    const int status = sph_read_restart(m, path.string());
    fs::remove(path);
    return status;
}

std::unique_ptr<Model> initialized() {
    auto m = std::make_unique<Model>();
    EXPECT_EQ(sph_initialize(*m), 0);
    return m;
}

}  // namespace

TEST(RestartLegacy, OlderLayoutsReadWithDefaults) {
    {
        auto m = initialized();
        ASSERT_EQ(read_text_file(*m, legacy_file("STATE_0_2")), 0) << m->error.last_error_message;
        EXPECT_EQ(m->control.current_step, 3);
        EXPECT_EQ(m->control.output_directory, "out");
        EXPECT_EQ(m->db.x[0].z, 0.3);
        EXPECT_EQ(m->db.rho[0], 1001.0);
        EXPECT_TRUE(m->explosive.slots.empty());
        EXPECT_TRUE(m->db.coupling_regions.empty());
    }
    {
        auto m = initialized();
        ASSERT_EQ(read_text_file(*m, legacy_file("STATE_0_3")), 0) << m->error.last_error_message;
        EXPECT_EQ(m->gas.gas_eos_type, 1);
    }
    {
        // STATE_0_4: the short explosive particle record; the initial mass
        // comes from released mass over progress.
        const std::string after =
            "0 0 0 0 0\n"  // the particle's gas sources
            "0\n0\n0\n"    // no materials, no ignitions, dt
            "1 0 0.5 2 0 0 0 0\n";
        auto m = initialized();
        ASSERT_EQ(read_text_file(*m, legacy_file("STATE_0_4", after)), 0)
            << m->error.last_error_message;
        EXPECT_EQ(m->explosive.explosive_initial_mass[0], 4.0);
        EXPECT_EQ(m->explosive.explosive_remaining_mass[0], 2.0);
        EXPECT_EQ(m->explosive.explosive_initial_material_id[0], 1);
    }
}

TEST(RestartRead, MessagesAndTheRunningModelStaysWhole) {
    deck_test::TempDeck deck(coupling_test::deck);
    auto m = built_from(deck.path());
    advance(*m, 1);
    const std::string before = restart_text(*m, "before.rst");
    struct Case {
        std::string text;
        int status;
        const char* message;
    };
    const Case cases[] = {
        {"NOT_A_RESTART 0 8 3 STATE_0_8_1\n", 4, "invalid restart header"},
        {"VELUNOR_RESTART 0 8 3 STATE_0_8_1\n1.0 2 -1\n", 4, "invalid restart state"},
        {"VELUNOR_RESTART 0 8 3 STATE_0_8_1\n1.0 2 1\nx T 1\n", 4,
         "invalid restart output interval"},
        {legacy_file("STATE_9_9"), 4, "unsupported restart state version"},
        {legacy_file("STATE_0_2").substr(0, legacy_file("STATE_0_2").size() - 30), 4,
         "restart file ended unexpectedly"},
        {legacy_file("STATE_0_3_1"), 4, "invalid restart Gas source state"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(read_text_file(*m, c.text), c.status) << c.message;
        EXPECT_EQ(m->error.last_error_message, c.message);
        EXPECT_TRUE(sph_api_state_get_model_built(m->api));
        EXPECT_EQ(restart_text(*m, "after.rst"), before) << c.message;
    }
    EXPECT_EQ(sph_read_restart(*m, scratch("missing.rst").string()), 3);
    EXPECT_EQ(m->error.last_error_message, "failed to open restart file for reading");
}

TEST(RestartWrite, FailureKeepsTheEarlierFile) {
    deck_test::TempDeck deck(coupling_test::deck);
    auto m = built_from(deck.path());
    EXPECT_EQ(sph_write_restart(*m, (scratch("no_such_dir") / "x.rst").string()), 3);
    EXPECT_EQ(m->error.last_error_message, "failed to open restart file for writing");
}

namespace {

// 64 nodes on a 4 x 4 x 4 lattice of spacing 0.01.
std::string cube_nodes() {
    std::string nodes = "*NODE\n";
    for (int k = 0; k < 64; ++k) {
        nodes += std::to_string(k + 1) + ", " + std::to_string(0.01 * (k % 4)) + ", " +
                 std::to_string(0.01 * (k / 4 % 4)) + ", " + std::to_string(0.01 * (k / 16)) + "\n";
    }
    return nodes + "*NSET, NSET=ALL, GENERATE\n1, 64\n";
}

// A water cube under tension and gravity: it draws together from the first
// step, so its densities spread and the diffusion has work in every step.
std::string diffusing_cube() {
    return cube_nodes() +
           "*MATERIAL, NAME=Water, TYPE=WATER\n*DENSITY\n1000\n"
           "*FLUID SECTION, NSET=ALL, MATERIAL=Water\n"
           "*VELUNOR EOS, TYPE=TAIT, MATERIAL=Water, RHO0=1000, C0=1480, GAMMA=7, P0=-1e6\n"
           "*VELUNOR VISCOSITY, TYPE=MONAGHAN, MATERIAL=Water, ALPHA=0.1, BETA=0, ETA2=0.01, "
           "DENSITY_DIFFUSION=0.1\n"
           "*VELUNOR PARTICLE CONTROL, H=0.013, MASS=0.001, VOLUME=1e-6\n"
           "*VELUNOR BODY FORCE, Z=-9.81\n"
           "*VELUNOR TIME CONTROL, DT=1, TIME=1, STEPS=100, SAFETY=0.25\n";
}

// An air cube that expands: its faces thin out first. The viscosity line
// that carries the diffusion names the gas (the deck has no water).
std::string diffusing_gas() {
    return cube_nodes() +
           "*MATERIAL, NAME=Air, TYPE=GAS\n*DENSITY\n1.2\n"
           "*FLUID SECTION, NSET=ALL, MATERIAL=Air\n"
           "*VELUNOR EOS, TYPE=IDEAL_GAS, MATERIAL=Air, GAMMA=1.4, E0=2.5e5\n"
           "*VELUNOR VISCOSITY, TYPE=MONAGHAN, MATERIAL=Air, ALPHA=0, BETA=0, ETA2=0.01, "
           "DENSITY_DIFFUSION=0.1\n"
           "*VELUNOR PARTICLE CONTROL, H=0.013, MASS=1.2e-6, VOLUME=1e-6\n"
           "*VELUNOR TIME CONTROL, DT=1, TIME=1, STEPS=100, SAFETY=0.25\n";
}

// Line `index` (0-based) of `text`.
std::string line_of(const std::string& text, int index) {
    std::istringstream lines(text);
    std::string line;
    for (int k = 0; k <= index; ++k) std::getline(lines, line);
    return line;
}

}  // namespace

TEST(RestartResume, DensityDiffusionBitForBitWithBothIntegrators) {
    for (const bool verlet : {false, true}) {
        SCOPED_TRACE(verlet ? "VERLET" : "DEFAULT");
        const std::string cube = diffusing_cube();
        const std::string air = diffusing_gas();
        deck_test::TempDeck water(verlet ? with_verlet(cube) : cube);
        expect_exact_resume(water.path(), 4, 9);
        deck_test::TempDeck gas(verlet ? with_verlet(air) : air);
        expect_exact_resume(gas.path(), 4, 9);

        // The term acts in both: the same steps without it end elsewhere.
        for (const std::string& with : {cube, air}) {
            const std::string_view option = "DENSITY_DIFFUSION=0.1";
            std::string without = with;
            without.replace(without.find(option), option.size(), "DENSITY_DIFFUSION=0");
            deck_test::TempDeck on(verlet ? with_verlet(with) : with);
            deck_test::TempDeck off(verlet ? with_verlet(without) : without);
            auto a = built_from(on.path());
            auto b = built_from(off.path());
            advance(*a, 9);
            advance(*b, 9);
            EXPECT_TRUE(csv_text(*a, "on.csv") != csv_text(*b, "off.csv"));
        }
    }
}

TEST(RestartFile, DensityDiffusionIsCarriedOnlyWhenOn) {
    deck_test::TempDeck deck(diffusing_cube());
    auto m = built_from(deck.path());
    advance(*m, 2);
    const std::string text = restart_text(*m, "on.rst");
    // Record 6 (water viscosity) and record 13 (gas particle control).
    // Without it the file is the layout value for value.
    auto plain = std::make_unique<Model>(*m);
    plain->water.water_density_diffusion = 0.0;
    plain->gas.gas_density_diffusion = 0.0;
    const std::string off = restart_text(*plain, "off.rst");
    for (const int record : {5, 12}) {
        EXPECT_EQ(line_of(text, record), line_of(off, record) + " 0.10000000000000001") << record;
    }
    EXPECT_EQ(line_of(off, 5), "0.10000000000000001 0 0.01");
    EXPECT_EQ(text.size(), off.size() + 2 * std::strlen(" 0.10000000000000001"));

    // The file's settings replace the deck's, as its viscosity does: a file
    // without the value resumes without diffusion.
    const fs::path file = scratch("off.rst");
    {
        std::ofstream out(file, std::ios::binary);
        out << off;
    }
    auto resumed = built_from(deck.path());
    ASSERT_EQ(sph_read_restart(*resumed, file.string()), 0) << resumed->error.last_error_message;
    EXPECT_EQ(resumed->water.water_density_diffusion, 0.0);
    EXPECT_EQ(resumed->gas.gas_density_diffusion, 0.0);
    fs::remove(file);
}

TEST(RestartRead, BadDensityDiffusionFailsAndKeepsTheModel) {
    deck_test::TempDeck deck(diffusing_cube());
    auto m = built_from(deck.path());
    advance(*m, 1);
    const std::string before = restart_text(*m, "before.rst");
    const std::string good = before;
    struct Case {
        int line;
        std::string value;
        const char* message;
    };
    const Case cases[] = {
        {5, "-0.1", "invalid restart Water viscosity state"},
        {5, "x", "invalid restart Water viscosity state"},
        {5, "Inf", "invalid restart Water viscosity state"},
        {12, "NaN", "invalid restart Gas particle control state"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.value);
        std::string text = good;
        const std::string line = line_of(good, c.line);
        const std::string changed = line.substr(0, line.rfind(' ') + 1) + c.value;
        text.replace(text.find(line), line.size(), changed);
        EXPECT_EQ(read_text_file(*m, text), 4);
        EXPECT_EQ(m->error.last_error_message, c.message);
        EXPECT_EQ(restart_text(*m, "after.rst"), before);
    }
}
