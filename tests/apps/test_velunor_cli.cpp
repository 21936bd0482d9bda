// The velunor command-line host, run as a separate process on small decks
// and on the bundled example.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "../coupling_interface/coupling_test_model.hpp"
#include "../input/deck_test_util.hpp"
#include "../output/output_test_support.hpp"
#include "velunor.h"

#ifdef VELUNOR_CLI

namespace {

namespace fs = std::filesystem;

struct Result {
    int code = -1;
    std::string out, err;
};

std::string read_text(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

// The numbers of the summary line that starts with `label` ("..", "->" and
// other words skipped); empty when there is no such line.
std::vector<double> numbers_of(const std::string& out, const std::string& label) {
    std::vector<double> values;
    std::istringstream lines(out);
    for (std::string line; std::getline(lines, line);) {
        if (line.rfind(label, 0) != 0) continue;
        std::istringstream words(line.substr(label.size()));
        for (std::string word; words >> word;) {
            char* end = nullptr;
            const double value = std::strtod(word.c_str(), &end);
            if (end != word.c_str() && *end == '\0') values.push_back(value);
        }
        break;
    }
    return values;
}

// What a step CSV says about its active gas particles, computed plainly:
// the extent is the largest distance from the mean position (all gas
// particles of the example have the same volume, so the mean is the
// library's volume-weighted centre).
struct CsvGas {
    int count = 0;
    double pressure_lo = 0.0, pressure_hi = 0.0, extent = 0.0;
};

CsvGas gas_of_csv(const std::string& text) {
    std::istringstream lines(text);
    std::string line;
    std::getline(lines, line);
    std::vector<std::string> header;
    std::istringstream names(line);
    for (std::string name; std::getline(names, name, ',');) {
        header.push_back(name.substr(0, name.find('\r')));
    }
    const auto column = [&](const std::string& name) {
        return static_cast<std::size_t>(std::find(header.begin(), header.end(), name) -
                                        header.begin());
    };
    const std::size_t phase = column("phase"), status = column("status"), x = column("x"),
                      pressure = column("pressure");
    std::vector<std::array<double, 3>> points;
    CsvGas gas;
    while (std::getline(lines, line)) {
        std::vector<double> row;
        std::istringstream fields(line);
        for (std::string field; std::getline(fields, field, ',');) {
            row.push_back(std::strtod(field.c_str(), nullptr));
        }
        if (row.size() < header.size() || row[phase] != 2 || row[status] != 0) continue;
        const double p = row[pressure];
        gas.pressure_lo = gas.count == 0 ? p : std::min(gas.pressure_lo, p);
        gas.pressure_hi = gas.count == 0 ? p : std::max(gas.pressure_hi, p);
        ++gas.count;
        points.push_back({row[x], row[x + 1], row[x + 2]});
    }
    std::array<double, 3> mean{};
    for (const auto& q : points) {
        for (int c = 0; c < 3; ++c) mean[c] += q[c] / static_cast<double>(points.size());
    }
    for (const auto& q : points) {
        gas.extent =
            std::max(gas.extent, std::hypot(q[0] - mean[0], q[1] - mean[1], q[2] - mean[2]));
    }
    return gas;
}

// Water and two gas materials (ideal and stiffened), each phase far from the
// other; water P0 lies above both gas pressures, so a gas range that took a
// water particle in would show it.
const char* const mixed_deck =
    "*NODE\n1, 0, 0, 0\n2, 0.01, 0, 0\n3, 1.0, 0, 0\n4, 1.02, 0, 0\n"
    "*NSET, NSET=W\n1, 2\n*NSET, NSET=GA\n3\n*NSET, NSET=GB\n4\n"
    "*MATERIAL, NAME=Water, TYPE=WATER\n*DENSITY\n1000\n"
    "*MATERIAL, NAME=GasA, TYPE=GAS\n*DENSITY\n2\n"
    "*MATERIAL, NAME=GasB, TYPE=GAS\n*DENSITY\n4\n"
    "*FLUID SECTION, NSET=W, MATERIAL=Water\n*FLUID SECTION, NSET=GA, MATERIAL=GasA\n"
    "*FLUID SECTION, NSET=GB, MATERIAL=GasB\n"
    "*VELUNOR EOS, TYPE=TAIT, MATERIAL=Water, RHO0=1000, C0=1480, GAMMA=7, P0=2.0E6\n"
    "*VELUNOR VISCOSITY, TYPE=MONAGHAN, MATERIAL=Water, ALPHA=0.1, BETA=0, ETA2=0.01\n"
    "*VELUNOR EOS, TYPE=IDEAL_GAS, MATERIAL=GasA, GAMMA=1.4, E0=1.0E5\n"
    "*VELUNOR EOS, TYPE=STIFFENED_GAS, MATERIAL=GasB, RHO0=4, GAMMA=3, E0=1.0E5, PINF=1.0E4\n"
    "*VELUNOR PARTICLE CONTROL, H=0.013, MASS=0.001, VOLUME=1.0E-6\n"
    "*VELUNOR TIME CONTROL, DT=1.0E-6, TIME=3.0E-6, STEPS=10\n";

bool has_gas_line(const std::string& out) {
    return out.find("\ngas") != std::string::npos || out.find(", gas") != std::string::npos;
}

// The labels (first 17 characters) of the output lines, in order.
std::vector<std::string> labels_of(const std::string& out) {
    std::vector<std::string> labels;
    std::istringstream lines(out);
    for (std::string line; std::getline(lines, line);) labels.push_back(line.substr(0, 17));
    return labels;
}

std::string format(const char* pattern, ...) {
    char text[512];
    va_list args;
    va_start(args, pattern);
    std::vsnprintf(text, sizeof text, pattern, args);
    va_end(args);
    return text;
}

// A line of four charge particles 0.01 apart on the x axis, ignited at the
// first: detonation times 0, 1.25, 2.5 and 3.75 us at 8000 m/s; burn time
// 2 us gives steps of tb / 4 = 0.5 us. `cloud` adds two product-gas
// particles far from the charge (the targets of a SOURCE burn).
std::string charge_deck(const std::string& conversion, bool cloud) {
    std::string deck = "*NODE\n1, 0, 0, 0\n2, 0.01, 0, 0\n3, 0.02, 0, 0\n4, 0.03, 0, 0\n";
    if (cloud) deck += "5, 0.5, 0, 0\n6, 0.51, 0, 0\n";
    deck += "*NSET, NSET=CHARGE, GENERATE\n1, 4\n";
    if (cloud) deck += "*NSET, NSET=CLOUD\n5, 6\n";
    deck +=
        "*MATERIAL, NAME=Products, TYPE=GAS\n*DENSITY\n1630\n"
        "*VELUNOR EOS, TYPE=JWL, MATERIAL=Products, RHO0=1630, A=3.7e11, B=3.2e9, R1=4.15, "
        "R2=0.95, OMEGA=0.3, E0=1e5\n"
        "*MATERIAL, NAME=HE, TYPE=EXPLOSIVE\n*DENSITY\n1630\n"
        "*CHARGE SECTION, NSET=CHARGE, MATERIAL=HE\n";
    if (cloud) deck += "*GAS SECTION, NSET=CLOUD, MATERIAL=Products\n";
    return deck +
           "*VELUNOR EXPLOSIVE, MATERIAL=HE, TYPE=PROGRAMMED_BURN, DETONATION_VELOCITY=8000, "
           "ENERGY=4.3e6, BURN_TIME=2e-6, PRODUCT_MATERIAL=Products" +
           (conversion.empty() ? "" : ", CONVERSION=" + conversion) +
           "\n*VELUNOR IGNITION, MATERIAL=HE, X=0, Y=0, Z=0, TIME=0\n"
           "*VELUNOR TIME CONTROL, DT=1e-6, TIME=4e-6, STEPS=100\n";
}

// A 4 x 4 x 4 steel block at 0.01 m spacing (mass 7850e-6 per particle)
// whose x = 0 face starts at 50 m/s into the rest; Johnson-Cook flow and a
// constant failure strain `failure_strain`.
std::string block_deck(const std::string& failure_strain) {
    std::string deck = "*NODE\n";
    std::string face;
    int id = 0;
    for (int k = 0; k < 4; ++k) {
        for (int j = 0; j < 4; ++j) {
            for (int i = 0; i < 4; ++i) {
                deck += format("%d, %.2f, %.2f, %.2f\n", ++id, 0.01 * i, 0.01 * j, 0.01 * k);
                if (i == 0) face += (face.empty() ? "" : ", ") + std::to_string(id);
            }
        }
    }
    return deck + "*NSET, NSET=BLOCK, GENERATE\n1, 64\n*NSET, NSET=FACE\n" + face +
           "\n*MATERIAL, NAME=Steel, TYPE=SOLID\n*DENSITY\n7850\n*ELASTIC\n2e11, 0.3\n"
           "*PLASTIC\n3.5e8, 2.75e8, 0.36, 0.022, 1.0, 1.0, 293.15, 1793\n"
           "*DAMAGE INITIATION\n" +
           failure_strain +
           ", 0, 0, 0, 0\n"
           "*SOLID SECTION, NSET=BLOCK, MATERIAL=Steel\n"
           "*VELUNOR SOLID CONTROL, MATERIAL=Steel, H=0.013, VOLUME=1e-6\n"
           "*INITIAL CONDITIONS, TYPE=VELOCITY\nFACE, 1, 50\n"
           "*VELUNOR TIME CONTROL, DT=1e-6, TIME=2e-5, STEPS=100\n";
}

// What the library itself says about a deck, read in this process through
// the C interface: after the build, or after running it to its end as the
// host does (run calls until one makes no progress).
struct LibraryView {
    int particles = 0, explosive = 0, gas = 0, solid = 0;
    int tracked = 0, reacted = 0;
    double progress[3] = {}, released[5] = {}, detonation[2] = {};
    double mass[4] = {}, energy[2] = {}, momentum[3] = {};
    double gas_mass = 0.0;
    int solid_active = 0, solid_failed = 0;
    double solid_values[16] = {};
};

LibraryView library_view(const std::string& deck, bool run) {
    LibraryView v;
    EXPECT_EQ(velunor_initialize(), 0);
    EXPECT_EQ(velunor_read_inp(deck.c_str()), 0);
    EXPECT_EQ(velunor_build_model(), 0);
    for (int step = 0; run;) {
        EXPECT_EQ(velunor_run_explicit(), 0);
        double time = 0.0;
        int now = 0;
        EXPECT_EQ(velunor_get_current_time(&time, &now), 0);
        run = now != step;
        step = now;
    }
    EXPECT_EQ(velunor_get_particle_count(&v.particles), 0);
    const std::size_t n = static_cast<std::size_t>(v.particles);
    std::vector<int> ids(n), phase(n), status(n), material(n), section(n);
    std::vector<double> x(3 * n), vel(3 * n), a(3 * n), rho(n), p(n), e(n), t(n), h(n);
    int count = 0;
    EXPECT_EQ(
        velunor_get_particle_state(v.particles, ids.data(), phase.data(), status.data(),
                                   material.data(), section.data(), x.data(), vel.data(), a.data(),
                                   rho.data(), p.data(), e.data(), t.data(), h.data(), &count),
        0);
    for (std::size_t i = 0; i < n; ++i) {
        if (status[i] != VELUNOR_PARTICLE_ACTIVE) continue;
        v.explosive += phase[i] == VELUNOR_PHASE_EXPLOSIVE;
        v.gas += phase[i] == VELUNOR_PHASE_GAS;
        v.solid += phase[i] == VELUNOR_PHASE_SOLID;
    }
    EXPECT_EQ(
        velunor_get_explosive_summary(&v.tracked, &v.reacted, v.progress, v.released, v.detonation),
        0);
    EXPECT_EQ(velunor_get_explosive_release_balance(v.mass, v.energy, v.momentum), 0);
    double gas_momentum[3], density_range[2], dt_limits[3];
    EXPECT_EQ(velunor_get_gas_extended_summary(&v.gas_mass, gas_momentum, density_range, dt_limits),
              0);
    EXPECT_EQ(velunor_get_solid_summary(&v.solid_active, &v.solid_failed, v.solid_values, 16), 0);
    EXPECT_EQ(velunor_finalize(), 0);
    return v;
}

// The explosive lines the host must print for what the library says.
std::string explosive_lines(const LibraryView& v) {
    return format("explosive        %d particles, %d reacted\n", v.tracked, v.reacted) +
           format("burn progress    %.6e mean, %.6e .. %.6e\n", v.progress[2], v.progress[0],
                  v.progress[1]) +
           format("released mass    %.9e of %.9e\n", v.released[0], v.mass[0]) +
           format("released energy  %.9e\n", v.released[1]) +
           format("detonation time  %.6e .. %.6e\n", v.detonation[0], v.detonation[1]);
}

std::string solid_lines(const LibraryView& v) {
    const double* s = v.solid_values;
    return format("solid            %d active, %d failed\n", v.solid_active, v.solid_failed) +
           format("solid mass       %.9e\n", s[0]) +
           format("solid momentum   %.6e %.6e %.6e\n", s[1], s[2], s[3]) +
           format("solid energy     %.6e kinetic, %.6e internal\n", s[4], s[5]) +
           format("solid von Mises  %.6e max\n", s[6]) +
           format("plastic strain   %.6e .. %.6e\n", s[7], s[8]) +
           format("solid damage     %.6e .. %.6e\n", s[9], s[10]);
}

class Cli : public ::testing::Test {
  protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() /
               ("velunor_cli_" + std::to_string(::getpid()) + "_" +
                std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
        fs::remove_all(dir_);
        fs::create_directories(dir_);
    }
    void TearDown() override { fs::remove_all(dir_); }

    // `env`: assignments put before the command ("NAME='value' ..."); `cwd`:
    // the directory to run in (the test's own when empty).
    Result run(const std::string& args, const std::string& env = "", const fs::path& cwd = {}) {
        const fs::path out = dir_ / "stdout.txt", err = dir_ / "stderr.txt";
        const std::string cd = cwd.empty() ? "" : "cd '" + cwd.string() + "' && ";
        const std::string command = cd + env + " '" + VELUNOR_CLI + "' " + args + " >'" +
                                    out.string() + "' 2>'" + err.string() + "' </dev/null";
        const int status = std::system(command.c_str());
        Result r;
        r.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        r.out = read_text(out);
        r.err = read_text(err);
        return r;
    }

    fs::path write(const std::string& name, const std::string& text) {
        const fs::path path = dir_ / name;
        std::ofstream(path, std::ios::binary) << text;
        return path;
    }

    // The bundled example with the end time cut to a few steps.
    fs::path short_example(const std::string& time, int steps) {
        std::string deck = read_text(fs::path(VELUNOR_SOURCE_DIR) / "examples/water_release.inp");
        const std::string from = "TIME=1.5E-4, STEPS=20";
        const std::size_t at = deck.find(from);
        EXPECT_NE(at, std::string::npos);
        if (at != std::string::npos) {
            deck.replace(at, from.size(), "TIME=" + time + ", STEPS=" + std::to_string(steps));
        }
        return write("short.inp", deck);
    }

    fs::path dir_;
};

}  // namespace

TEST_F(Cli, RunsTheExampleToItsEndTimeAcrossRunCallsAndWritesOutput) {
    // About 1.46e-6 per step: five steps, the last one cut to land on 6e-6;
    // two steps per run call, so the host repeats the run call.
    const fs::path deck = short_example("6.0E-6", 2);
    const fs::path out = dir_ / "out" / "nested";
    // Trailing blanks: the library drops them, so the host creates `out` without them.
    const Result r =
        run("run '" + deck.string() + "' --output '" + out.string() + "  ' --interval 2");
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.err, "");  // no progress line when stderr is not a terminal
    EXPECT_NE(r.out.find("steps            5\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("simulated time   6.000000000e-06\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("particles        4096 (water 4096)\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("water mass       4.096000000e+00\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("pressure range"), std::string::npos);
    EXPECT_NE(r.out.find("density range"), std::string::npos);
    // The initial state, every second step and the final state (step 5).
    std::string check = output_test::vtu_checker_command();
    for (const char* stem :
         {"velunor_00000000", "velunor_00000002", "velunor_00000004", "velunor_00000005"}) {
        EXPECT_TRUE(fs::exists(out / (std::string(stem) + ".csv"))) << stem;
        check += " '" + (out / (std::string(stem) + ".vtu")).string() + "'";
    }
    EXPECT_FALSE(fs::exists(out / "velunor_00000001.csv"));
    EXPECT_FALSE(fs::exists(out / "velunor_00000003.csv"));
    // The series is what ParaView reads: an XML parser accepts every file.
    check += " '" + (out / "velunor.pvd").string() + "'";
    EXPECT_EQ(std::system(check.c_str()), 0) << check;
    const std::string pvd = read_text(out / "velunor.pvd");
    EXPECT_EQ(std::count(pvd.begin(), pvd.end(), '\n'), 9);
    EXPECT_NE(pvd.find("timestep=\"0.0000000000000000E+00\""), std::string::npos) << pvd;
    EXPECT_NE(pvd.find("timestep=\"6.0000000000000002E-06\""), std::string::npos) << pvd;
}

TEST_F(Cli, FinalStateOnTheIntervalIsWrittenOnce) {
    // Five steps with interval 5: the library writes step 5, the host does not repeat it.
    const fs::path deck = short_example("6.0E-6", 20);
    const fs::path out = dir_ / "out";
    const Result r =
        run("run '" + deck.string() + "' --output '" + out.string() + "' --interval 5");
    ASSERT_EQ(r.code, 0) << r.err;
    const std::string pvd = read_text(out / "velunor.pvd");
    EXPECT_EQ(std::count(pvd.begin(), pvd.end(), '\n'), 7) << pvd;  // steps 0 and 5
    EXPECT_TRUE(fs::exists(out / "velunor_00000005.vtu"));
}

TEST_F(Cli, RunStopsAtTheLibrarysEndTimeOnALongLine) {
    // The library keeps the first 1024 characters of a line, and so does the
    // host's own reading of the end time (progress line, --restart-every): a
    // later TIME is read by neither. The run reaches the library's end time.
    std::string deck = read_text(short_example("6.0E-6", 2));
    const std::string from = "SAFETY=0.25";
    const std::size_t at = deck.find(from);
    ASSERT_NE(at, std::string::npos);
    deck.insert(at + from.size(), ", " + std::string(980, ' ') + ", TIME=1.0E-6");
    const Result r = run("run '" + write("long_line.inp", deck).string() + "'");
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_NE(r.out.find("steps            5\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("simulated time   6.000000000e-06\n"), std::string::npos) << r.out;
}

TEST_F(Cli, InfoDescribesTheBundledExample) {
    const Result r =
        run("info '" + std::string(VELUNOR_SOURCE_DIR) + "/examples/water_release.inp'");
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_NE(r.out.find("particles        4096\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("  water        4096 particles\n"), std::string::npos) << r.out;
    // Materials and sections with the names the deck gives them.
    EXPECT_NE(r.out.find("  material 1   4096 particles, name Water\n"), std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find("  section 1    1 particles, name FIRST\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("warnings         0\n"), std::string::npos) << r.out;
    // h / (c0 (1 + alpha)) * safety = 0.013 / (1480 * 1.5) * 0.25.
    EXPECT_NE(r.out.find("stable dt        1.463964e-06\n"), std::string::npos) << r.out;
}

TEST_F(Cli, LibraryFailuresGiveTheMessageStatusAndExitCodeOne) {
    Result r = run("run '" + (dir_ / "missing.inp").string() + "'");
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(r.err, "error: failed to open input file (status 3)\n");
    EXPECT_EQ(r.out, "");

    const fs::path bad = write("bad.inp", "*NODE\n1, 0, 0\n");
    r = run("info '" + bad.string() + "'");
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(r.err, "error: " + bad.string() + ":2: invalid *NODE record (status 4)\n");

    // A water deck without viscosity fails at build.
    const fs::path no_visc = write("novisc.inp",
                                   "*NODE\n1, 0, 0, 0\n*NSET, NSET=A\n1\n"
                                   "*MATERIAL, NAME=W, TYPE=WATER\n*DENSITY\n1000\n"
                                   "*FLUID SECTION, NSET=A, MATERIAL=W\n"
                                   "*VELUNOR TIME CONTROL, DT=1e-6, TIME=1e-5, STEPS=5\n"
                                   "*VELUNOR EOS, TYPE=TAIT, MATERIAL=W, RHO0=1000, C0=1480, "
                                   "GAMMA=7\n*VELUNOR PARTICLE CONTROL, H=1, MASS=1, VOLUME=1\n");
    r = run("run '" + no_visc.string() + "'");
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(r.err, "error: input is missing *VELUNOR VISCOSITY for Water (status 4)\n");

    // An output directory the library refuses is not created.
    std::string deep;
    for (int k = 0; k < 30; ++k) deep += "/abcdefghij";
    r = run("run '" + std::string(VELUNOR_SOURCE_DIR) + "/examples/water_release.inp' --output '" +
            dir_.string() + deep + "'");
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(r.err, "error: output directory must not be longer than 256 characters (status 1)\n");
    EXPECT_FALSE(fs::exists(dir_ / "abcdefghij"));
}

// A run that blows up says so in words a user acts on, with the library's
// message (quantity, node, step) after them.
TEST_F(Cli, UnstableRunTellsTheUserWhatToChange) {
    const fs::path deck =
        write("unstable.inp",
              "*NODE\n7, 0, 0, 0\n*NSET, NSET=A\n7\n"
              "*MATERIAL, NAME=W, TYPE=WATER\n*DENSITY\n1000\n"
              "*FLUID SECTION, NSET=A, MATERIAL=W\n"
              "*VELUNOR TIME CONTROL, DT=1.1, TIME=10, STEPS=5, SAFETY=1e200\n"
              "*VELUNOR EOS, TYPE=TAIT, MATERIAL=W, RHO0=1000, C0=1480, "
              "GAMMA=7\n*VELUNOR VISCOSITY, TYPE=MONAGHAN, MATERIAL=W, ALPHA=0.1, "
              "BETA=0, ETA2=0.01\n*VELUNOR PARTICLE CONTROL, H=1, MASS=1, VOLUME=1\n"
              "*VELUNOR BODY FORCE, Z=1.7e308\n");
    Result r = run("run '" + deck.string() + "'");
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(r.err,
              "error: the run became unstable at step 1: reduce SAFETY or DT "
              "(non-finite velocity at node 7 in step 1)\n");
}

TEST_F(Cli, UsageErrorsExitWithTwo) {
    const fs::path deck = write("one.inp", "*NODE\n1, 0, 0, 0\n");
    for (const std::string& args :
         {std::string(""), std::string("frobnicate"), std::string("run"),
          "run '" + deck.string() + "' extra.inp", "run '" + deck.string() + "' --interval 0",
          "run '" + deck.string() + "' --interval 2x", "run '" + deck.string() + "' --output",
          "run '" + deck.string() + "' --fast", "info '" + deck.string() + "' --output d"}) {
        const Result r = run(args);
        EXPECT_EQ(r.code, 2) << args;
        EXPECT_NE(r.err.find("usage: velunor run DECK"), std::string::npos) << args;
    }
    Result r = run("--version");
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(r.out, "velunor 0.8.3\n");
    r = run("--help");
    EXPECT_EQ(r.code, 0);
    EXPECT_NE(r.out.find("--interval N"), std::string::npos);
}

// The bundled gas example: closed forms at the start, and a cloud that grows
// several times over by the end, with every printed gas number matching a
// plain reading of the final step CSV.
TEST_F(Cli, GasExampleExpandsAndReportsItsGas) {
    const std::string deck = std::string(VELUNOR_SOURCE_DIR) + "/examples/gas_expansion.inp";
    Result r = run("info '" + deck + "'");
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_NE(r.out.find("  gas          4169 particles\n"), std::string::npos) << r.out;
    // 4169 particles of MASS 1e-5; p = (gamma - 1) rho E0 = 0.4 * 10 * 2.5e5.
    EXPECT_NE(r.out.find("gas mass         4.169000000e-02\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("gas pressure     1.000000e+06 .. 1.000000e+06\n"), std::string::npos)
        << r.out;
    // (3 V / (4 pi))^(1/3) of V = 4169e-6; the lattice sphere reaches 10 spacings.
    EXPECT_NE(r.out.find("gas equiv radius 9.984227e-02\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("gas radius (max) 1.000000e-01\n"), std::string::npos) << r.out;
    // SAFETY h / c with c = sqrt((p + 1) / rho): 0.25 * 0.013 / sqrt(100000.1).
    EXPECT_NE(r.out.find("stable dt        1.027740e-05\n"), std::string::npos) << r.out;
    std::vector<double> centre = numbers_of(r.out, "gas centre");
    ASSERT_EQ(centre.size(), 3u) << r.out;
    for (double c : centre) EXPECT_LT(std::fabs(c), 1e-15);

    const fs::path out = dir_ / "gas";
    r = run("run '" + deck + "' --output '" + out.string() + "'");
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_NE(r.out.find("simulated time   1.000000000e-03\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("particles        4169 (water 0, gas 4169)\n"), std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find("gas mass         4.169000000e-02\n"), std::string::npos) << r.out;
    // The particle volumes do not change, so neither does the equivalent radius.
    EXPECT_NE(r.out.find("gas equiv radius 9.984227e-02\n"), std::string::npos) << r.out;
    // The pressure force is antisymmetric per pair and the sphere symmetric.
    for (const char* label : {"gas momentum", "gas centre"}) {
        const std::vector<double> v = numbers_of(r.out, label);
        ASSERT_EQ(v.size(), 3u) << label << "\n" << r.out;
        for (double c : v) EXPECT_LT(std::fabs(c), 1e-12) << label;
    }
    const std::vector<double> extent = numbers_of(r.out, "gas radius (max)");
    ASSERT_EQ(extent.size(), 2u) << r.out;
    EXPECT_EQ(extent[0], 0.1);
    EXPECT_GT(extent[1], 5.0 * extent[0]) << "the cloud must visibly grow";
    const std::vector<double> pressure = numbers_of(r.out, "gas pressure");
    ASSERT_EQ(pressure.size(), 2u) << r.out;
    EXPECT_GT(pressure[0], 0.0);
    EXPECT_LT(pressure[1], 1e6) << "the gas has expanded everywhere";

    // The last step's CSV read plainly gives the same numbers.
    fs::path last;
    for (const auto& entry : fs::directory_iterator(out)) {
        const bool summary = entry.path().stem().string().ends_with("_summary");
        if (entry.path().extension() == ".csv" && !summary && entry.path() > last) {
            last = entry.path();
        }
    }
    ASSERT_FALSE(last.empty());
    const CsvGas csv = gas_of_csv(read_text(last));
    EXPECT_EQ(csv.count, 4169);
    EXPECT_NEAR(pressure[0], csv.pressure_lo, 1e-6 * csv.pressure_lo);
    EXPECT_NEAR(pressure[1], csv.pressure_hi, 1e-6 * csv.pressure_hi);
    EXPECT_NEAR(extent[1], csv.extent, 1e-6 * csv.extent);
}

// Section A: three nodes without elements, so the particle cloud gives the
// directors and each area is volume 1 / thickness 0.01; section B: two nodes
// under a director set, 1 / 0.02 each; section C: one triangle of area 6
// (legs 3 and 4) whose director comes from the element.
TEST_F(Cli, InfoListsShellSections) {
    std::string text = "*NODE\n";
    for (int k = 0; k < 5; ++k) {
        text += std::to_string(k + 1) + ", " + std::to_string(k) + ", " + std::to_string(k % 2) +
                ", 0\n";
    }
    text +=
        "11, 10, 0, 0\n12, 13, 0, 0\n13, 10, 4, 0\n"
        "*ELEMENT, TYPE=S3\n1, 11, 12, 13\n*ELSET, ELSET=Plate C\n1\n"
        "*NSET, NSET=A\n1, 2, 3\n*NSET, NSET=B\n4, 5\n"
        "*MATERIAL, NAME=Alu, TYPE=SHELL\n*DENSITY\n2700\n*ELASTIC\n7e10, 0.33\n"
        "*SHELL SECTION, NSET=A, MATERIAL=Alu, THICKNESS=0.01\n"
        "*SHELL SECTION, NSET=B, MATERIAL=Alu, THICKNESS=0.02\n"
        "*SHELL SECTION, ELSET=Plate C, MATERIAL=Alu, THICKNESS=0.02\n"
        "*VELUNOR SHELL DIRECTOR, SET=B, NX=0, NY=0, NZ=1\n"
        "*VELUNOR TIME CONTROL, DT=1e-6, TIME=1e-5, STEPS=2\n";
    const fs::path deck = write("shells.inp", text);
    const std::string listing =
        "shell sections:\n"
        "  section 1    3 particles, name A\n"
        "    directors  0 director set, 0 orientation, 0 element, 3 cloud\n"
        "    area       3.0000000000000000E+02\n"
        "  section 2    2 particles, name B\n"
        "    directors  2 director set, 0 orientation, 0 element, 0 cloud\n"
        "    area       1.0000000000000000E+02\n"
        "  section 3    3 particles, name Plate C\n"
        "    directors  0 director set, 0 orientation, 3 element, 0 cloud\n"
        "    area       6.0000000000000000E+00\n";
    const fs::path tmp = dir_ / "tmp";
    fs::create_directories(tmp);
    // A log the caller asked for is neither written nor in the way: info
    // keeps its own in TMPDIR, and removes it.
    const fs::path theirs = dir_ / "missing" / "theirs.log";
    Result r = run("info '" + deck.string() + "'",
                   "TMPDIR='" + tmp.string() + "' VELUNOR_LOG='" + theirs.string() + "'");
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_NE(r.out.find(listing), std::string::npos) << r.out;
    EXPECT_TRUE(fs::is_empty(tmp));
    EXPECT_FALSE(fs::exists(dir_ / "missing"));

    // Without a place for the log, the counts alone, as before.
    r = run("info '" + deck.string() + "'", "TMPDIR='" + (dir_ / "no_such_dir").string() + "'");
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_NE(r.out.find("shell sections:\n  section 1    3 particles\n  section 2    2 particles\n"
                         "  section 3    3 particles\n"),
              std::string::npos)
        << r.out;
    EXPECT_EQ(r.out.find("directors"), std::string::npos) << r.out;

    // A deck without shells prints no such list.
    r = run("info '" + std::string(VELUNOR_SOURCE_DIR) + "/examples/water_release.inp'");
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.out.find("shell sections"), std::string::npos);
}

TEST_F(Cli, MixedModelReportsGasApartFromWater) {
    const fs::path deck = write("mixed.inp", mixed_deck);
    Result r = run("info '" + deck.string() + "'");
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_NE(r.out.find("  water        2 particles\n  gas          2 particles\n"),
              std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find("gas mass         2.000000000e-03\n"), std::string::npos) << r.out;
    // Ideal: 0.4 * 2 * 1e5; stiffened: 2 * 4 * 1e5 - 3 * 1e4.
    EXPECT_NE(r.out.find("gas pressure     8.000000e+04 .. 7.700000e+05\n"), std::string::npos)
        << r.out;
    // (3 * 2e-6 / (4 pi))^(1/3); centre halfway between the two gas particles.
    EXPECT_NE(r.out.find("gas equiv radius 7.815926e-03\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("gas centre       1.010000e+00 0.000000e+00 0.000000e+00\n"),
              std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find("gas radius (max) 1.000000e-02\n"), std::string::npos) << r.out;

    r = run("run '" + deck.string() + "'");
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_NE(r.out.find("particles        4 (water 2, gas 2)\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("water mass       2.000000000e-03\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("gas mass         2.000000000e-03\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("gas radius (max) 1.000000e-02 -> "), std::string::npos) << r.out;
    // The two gas particles push each other apart, and stay below water's 2 MPa.
    const std::vector<double> extent = numbers_of(r.out, "gas radius (max)");
    ASSERT_EQ(extent.size(), 2u) << r.out;
    EXPECT_GT(extent[1], extent[0]);
    const std::vector<double> pressure = numbers_of(r.out, "gas pressure");
    ASSERT_EQ(pressure.size(), 2u) << r.out;
    EXPECT_LT(pressure[1], 1e6);
}

// Models without explosive or solid particles print exactly the lines they
// printed before those reports existed, and the energy of their phases.
TEST_F(Cli, WaterAndGasModelsPrintOnlyTheirOwnLines) {
    Result r = run("run '" + short_example("6.0E-6", 20).string() + "'");
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_NE(r.out.find("particles        4096 (water 4096)\n"), std::string::npos) << r.out;
    EXPECT_FALSE(has_gas_line(r.out)) << r.out;
    const std::vector<std::string> run_labels{
        "steps            ", "simulated time   ", "wall time        ", "particles        ",
        "water mass       ", "water momentum   ", "pressure range   ", "density range    ",
        // The energy of the water, which the Verlet scheme of the example keeps.
        "energy (J)       ", "  water          ", "  total          "};
    EXPECT_EQ(labels_of(r.out), run_labels) << r.out;
    r = run("info '" + std::string(VELUNOR_SOURCE_DIR) + "/examples/water_release.inp'");
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_FALSE(has_gas_line(r.out)) << r.out;
    EXPECT_EQ(r.out, "deck             " + std::string(VELUNOR_SOURCE_DIR) +
                         "/examples/water_release.inp\n"
                         "particles        4096\nphases:\n  water        4096 particles\n"
                         "not active       0\nmaterials:\n"
                         "  material 1   4096 particles, name Water\nsections:\n"
                         "  none         4095 particles\n  section 1    1 particles, name FIRST\n"
                         "warnings         0\nstable dt        1.463964e-06\n");

    // Water and gas: the gas lines and nothing of the burn or of solids.
    const fs::path mixed = write("mixed.inp", mixed_deck);
    for (const char* command : {"run", "info"}) {
        r = run(std::string(command) + " '" + mixed.string() + "'");
        ASSERT_EQ(r.code, 0) << r.err;
        EXPECT_TRUE(has_gas_line(r.out)) << r.out;
        for (const char* word :
             {"explosive", "burn", "released", "detonation", "solid", "plastic", "damage"}) {
            EXPECT_EQ(r.out.find(word), std::string::npos) << command << " " << word << "\n"
                                                           << r.out;
        }
    }
}

// A PHASE burn: every printed figure of the burn is the library's summary,
// the hand figures of the deck come out, and the burnt particles show up as
// product gas.
TEST_F(Cli, ExplosiveDeckReportsItsBurn) {
    const fs::path deck = write("charge.inp", charge_deck("", false));
    Result r = run("info '" + deck.string() + "'");
    ASSERT_EQ(r.code, 0) << r.err;
    LibraryView v = library_view(deck.string(), false);
    EXPECT_NE(r.out.find("  explosive    4 particles\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("stable dt        5.000000e-07\n"), std::string::npos) << r.out;
    // The product gas has no section of its own: one warning.
    EXPECT_NE(r.out.find("warnings         1\n"), std::string::npos) << r.out;
    EXPECT_FALSE(has_gas_line(r.out)) << r.out;
    EXPECT_NE(r.out.find("stable dt        5.000000e-07\n" + explosive_lines(v)), std::string::npos)
        << r.out;
    // Mass 1 per particle (the database mass), nothing burnt yet.
    EXPECT_NE(r.out.find("explosive        4 particles, 0 reacted\n"
                         "burn progress    0.000000e+00 mean, 0.000000e+00 .. 0.000000e+00\n"
                         "released mass    0.000000000e+00 of 4.000000000e+00\n"
                         "released energy  0.000000000e+00\n"
                         "detonation time  0.000000e+00 .. 3.750000e-06\n"),
              std::string::npos)
        << r.out;

    r = run("run '" + deck.string() + "'");
    ASSERT_EQ(r.code, 0) << r.err;
    v = library_view(deck.string(), true);
    EXPECT_NE(r.out.find("steps            8\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find(explosive_lines(v)), std::string::npos) << r.out;
    // At 4 us the progress is 1, 1, 0.75 and 0.125: the first two became gas.
    EXPECT_EQ(v.gas, 2);
    EXPECT_EQ(v.explosive, 2);
    EXPECT_NE(r.out.find("particles        4 (water 0, gas 2, explosive 2)\n"), std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find("explosive        4 particles, 4 reacted\n"
                         "burn progress    7.187500e-01 mean, 1.250000e-01 .. 1.000000e+00\n"
                         "released mass    2.875000000e+00 of 4.000000000e+00\n"
                         "released energy  1.236250000e+07\n"
                         "detonation time  0.000000e+00 .. 3.750000e-06\n"),
              std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find(format("gas mass         %.9e\n", v.gas_mass)), std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find("gas mass         2.000000000e+00\n"), std::string::npos) << r.out;
    // No gas at the start: the cloud grows from nothing.
    EXPECT_NE(r.out.find("gas radius (max) 0.000000e+00 -> "), std::string::npos) << r.out;
}

// A SOURCE burn leaves the charge particles explosive and feeds the released
// mass into the product gas, which the gas lines show.
TEST_F(Cli, SourceBurnShowsInTheProductGas) {
    const fs::path deck = write("source.inp", charge_deck("SOURCE", true));
    Result r = run("info '" + deck.string() + "'");
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_NE(r.out.find("gas mass         2.000000000e+00\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find(explosive_lines(library_view(deck.string(), false))), std::string::npos)
        << r.out;

    r = run("run '" + deck.string() + "'");
    ASSERT_EQ(r.code, 0) << r.err;
    const LibraryView v = library_view(deck.string(), true);
    EXPECT_NE(r.out.find("particles        6 (water 0, gas 2, explosive 4)\n"), std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find(explosive_lines(v)), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("released mass    2.875000000e+00 of 4.000000000e+00\n"),
              std::string::npos)
        << r.out;
    // The two cloud particles of mass 1 plus what the burn released.
    const std::vector<double> gas_mass = numbers_of(r.out, "gas mass");
    ASSERT_EQ(gas_mass.size(), 1u) << r.out;
    EXPECT_NEAR(gas_mass[0], 2.0 + 2.875, 1e-8) << r.out;
    EXPECT_NE(r.out.find(format("gas mass         %.9e\n", v.gas_mass)), std::string::npos)
        << r.out;
}

// A solid block: closed forms after the build, the library's summary after
// a run in which the struck face fails.
TEST_F(Cli, SolidBlockReportsItsSolids) {
    const fs::path deck = write("block.inp", block_deck("0.02"));
    Result r = run("info '" + deck.string() + "'");
    ASSERT_EQ(r.code, 0) << r.err;
    LibraryView v = library_view(deck.string(), false);
    EXPECT_NE(r.out.find("  solid        64 particles\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find(solid_lines(v)), std::string::npos) << r.out;
    // Mass 64 x 7850 x 1e-6; the face's momentum 16 x 7.85e-3 x 50, its
    // kinetic energy half of that times 50.
    EXPECT_NE(r.out.find("solid            64 active, 0 failed\n"
                         "solid mass       5.024000000e-01\n"
                         "solid momentum   6.280000e+00 0.000000e+00 0.000000e+00\n"
                         "solid energy     1.570000e+02 kinetic, 0.000000e+00 internal\n"
                         "solid von Mises  0.000000e+00 max\n"
                         "plastic strain   0.000000e+00 .. 0.000000e+00\n"
                         "solid damage     0.000000e+00 .. 0.000000e+00\n"),
              std::string::npos)
        << r.out;
    EXPECT_FALSE(has_gas_line(r.out)) << r.out;
    EXPECT_EQ(r.out.find("explosive"), std::string::npos) << r.out;

    r = run("run '" + deck.string() + "'");
    ASSERT_EQ(r.code, 0) << r.err;
    v = library_view(deck.string(), true);
    EXPECT_NE(r.out.find(solid_lines(v)), std::string::npos) << r.out;
    EXPECT_GE(v.solid_failed, 0);  // the counts add up whether or not the face fails
    EXPECT_EQ(v.solid_active + v.solid_failed, 64);
    EXPECT_EQ(v.solid, v.solid_active);
    EXPECT_NE(r.out.find(format("particles        64 (water 0, solid %d)\n", v.solid_active)),
              std::string::npos)
        << r.out;
    EXPECT_GT(v.solid_values[6], 0.0);   // von Mises
    EXPECT_GT(v.solid_values[8], 0.0);   // plastic strain
    EXPECT_GT(v.solid_values[10], 0.0);  // damage
    EXPECT_LT(v.solid_values[10], 1.0);  // the failed ones are no longer active
}

TEST_F(Cli, ExplosiveAndSolidBuildFailuresGiveTheMessageAndStatus) {
    std::string no_ignition = charge_deck("", false);
    const std::string ignition = "*VELUNOR IGNITION, MATERIAL=HE, X=0, Y=0, Z=0, TIME=0\n";
    no_ignition.erase(no_ignition.find(ignition), ignition.size());
    Result r = run("run '" + write("no_ignition.inp", no_ignition).string() + "'");
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(r.err,
              "error: input is missing *VELUNOR IGNITION for Explosive material (status 4)\n");
    EXPECT_EQ(r.out, "");

    const fs::path bad_conversion = write("conversion.inp", charge_deck("BURST", false));
    r = run("info '" + bad_conversion.string() + "'");
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(r.err, "error: " + bad_conversion.string() +
                         ":16: Explosive CONVERSION must be PHASE or SOURCE (status 4)\n");

    // A SOURCE burn without product gas to feed builds, and fails its first step.
    const fs::path no_target = write("no_target.inp", charge_deck("SOURCE", false));
    r = run("info '" + no_target.string() + "'");
    EXPECT_EQ(r.code, 0) << r.err;
    r = run("run '" + no_target.string() + "'");
    EXPECT_EQ(r.code, 1);
    // Products is the material of no section: the build counts a warning.
    EXPECT_EQ(r.err,
              "warning: 1 more counted warning of the model build (materials that no particle "
              "uses, unused orientations, disabled blast regions)\n"
              "error: Explosive SOURCE conversion has no active product Gas target (status 4)\n");
    EXPECT_EQ(r.out, "");

    std::string no_elastic = block_deck("0.02");
    no_elastic.erase(no_elastic.find("*ELASTIC\n2e11, 0.3\n"), 19);
    r = run("info '" + write("no_elastic.inp", no_elastic).string() + "'");
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(r.err, "error: active Solid material is missing elastic data (status 4)\n");

    std::string bad_h = block_deck("0.02");
    bad_h.replace(bad_h.find("H=0.013"), 7, "H=-1");
    const fs::path bad_h_deck = write("bad_h.inp", bad_h);
    r = run("run '" + bad_h_deck.string() + "'");
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(r.err, "error: " + bad_h_deck.string() +
                         ":80: Solid control H must be positive (status 1)\n");
}

// A run with --output reports each blast region from its last summary file:
// the loaded targets, the source pressure (no water inside) and the total
// force, which the last particle CSV gives independently.
TEST_F(Cli, BlastRegionsReportedFromTheFinalSummary) {
    const std::string text =
        "*NODE\n1, 0, 0, 0\n2, 0.01, 0, 0\n3, 0.02, 0, 0\n"
        "101, 0.05, 0, 0\n102, 0.05, 0.01, 0\n103, 0.05, 0, 0.01\n"
        "*NSET, NSET=CLOUD, GENERATE\n1, 3\n*NSET, NSET=PLATE, GENERATE\n101, 103\n"
        "*MATERIAL, NAME=Air, TYPE=GAS\n*DENSITY\n10\n"
        "*VELUNOR EOS, TYPE=IDEAL_GAS, MATERIAL=Air, GAMMA=1.4, E0=2.5e5\n"
        "*GAS SECTION, NSET=CLOUD, MATERIAL=Air\n"
        "*VELUNOR PARTICLE CONTROL, H=0.013, MASS=1e-5, VOLUME=1e-6\n"
        "*MATERIAL, NAME=Steel, TYPE=SOLID\n*DENSITY\n7850\n*ELASTIC\n2e11, 0.3\n"
        "*SOLID SECTION, NSET=PLATE, MATERIAL=Steel\n"
        "*VELUNOR SOLID CONTROL, MATERIAL=Steel, H=0.013, VOLUME=1e-6\n"
        "*VELUNOR TIME CONTROL, DT=1e-7, TIME=3e-7, STEPS=10\n"
        "*VELUNOR BLAST REGION, NAME=A, RADIUS=0.1, TARGET_SET=PLATE\n"
        "*VELUNOR BLAST REGION, NAME=OFF, RADIUS=0.1, TARGET_SET=PLATE, ENABLED=NO\n";
    const fs::path deck = write("blast.inp", text);
    Result r = run("run '" + deck.string() + "'");
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.out.find("blast"), std::string::npos) << "no summary file without --output";

    const fs::path out = dir_ / "out";
    r = run("run '" + deck.string() + "' --output '" + out.string() + "'");
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_NE(r.out.find("blast regions    2\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("blast region 2   no sources or targets (or disabled)\n"),
              std::string::npos)
        << r.out;
    const std::vector<double> line = numbers_of(r.out, "blast region 1 ");
    ASSERT_EQ(line.size(), 5u) << r.out;  // targets, pressure, force x y z

    // The last particle CSV: gas pressures and the blast force columns.
    fs::path last;
    for (const auto& entry : fs::directory_iterator(out)) {
        const bool summary = entry.path().stem().string().ends_with("_summary");
        if (entry.path().extension() == ".csv" && !summary && entry.path() > last) {
            last = entry.path();
        }
    }
    std::istringstream rows(read_text(last));
    std::string row;
    std::getline(rows, row);
    double pressure_sum = 0.0, force[3] = {0.0, 0.0, 0.0};
    int gas = 0;
    while (std::getline(rows, row)) {
        std::vector<double> col;
        std::istringstream fields(row);
        for (std::string field; std::getline(fields, field, ',');) {
            col.push_back(std::strtod(field.c_str(), nullptr));
        }
        ASSERT_EQ(col.size(), 52u);
        if (col[1] == 2) {
            pressure_sum += col[12];
            ++gas;
        }
        for (int c = 0; c < 3; ++c) force[c] += col[32 + std::size_t(c)];
    }
    ASSERT_EQ(gas, 3);
    EXPECT_EQ(line[0], 3.0);
    EXPECT_NEAR(line[1], pressure_sum / 3.0, 1e-6 * std::fabs(line[1]));
    for (int c = 0; c < 3; ++c) {
        EXPECT_NEAR(line[2 + std::size_t(c)], force[c], 1e-6 * (std::fabs(force[c]) + 1e-12));
    }
    EXPECT_GT(line[2], 0.0);  // the cloud pushes the plate along +x
}

// `velunor info` lists the coupling regions as the exchange sees them: a
// region of one water and three shell particles that exports both and
// imports contact states, a water region, a facet-only region of two shells
// and a disabled one; an area distribution is named as such.
TEST_F(Cli, InfoListsCouplingRegions) {
    const std::string deck_text(coupling_test::deck);
    const fs::path deck = write("coupled.inp", deck_text);
    const Result r = run("info '" + deck.string() + "'");
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_NE(r.out.find("coupling regions 4\n"
                         "  Mix          4 particles, 3 facets, export both, import force, load "
                         "particle force, distribution uniform, contact state import\n"
                         "  Water        2 particles, 0 facets, export particles, import force, "
                         "load particle force, distribution uniform\n"
                         "  Skin         0 particles, 2 facets, export facets, import facet load, "
                         "load facet force, distribution uniform\n"
                         "  Off          0 particles, 0 facets, export particles, import force, "
                         "load particle force, distribution uniform (disabled)\n"),
              std::string::npos)
        << r.out;
    const Result plate = run("info '" + std::string(VELUNOR_SOURCE_DIR) +
                             "/examples/coupled_plate/coupled_plate.inp'");
    ASSERT_EQ(plate.code, 0) << plate.err;
    EXPECT_NE(plate.out.find("coupling regions 2\n"
                             "  PLATE        256 particles, 256 facets, export both, import facet "
                             "load, load facet force, distribution area\n"
                             "  WET          256 particles, 0 facets, export particles, import "
                             "motion, load particle force, distribution uniform\n"),
              std::string::npos)
        << plate.out;
    const Result water = run("info '" + write("w.inp", "*NODE\n1, 0, 0, 0\n").string() + "'");
    EXPECT_EQ(water.out.find("coupling"), std::string::npos) << water.out;
}

// ---------------------------------------------------------------------------
// Restart files from the command line: --restart-every, --resume and info.

namespace {

// Every regular file of `dir` by name, without `skip` and without the run's
// velunor.log (which holds the command line and the wall time).
std::map<std::string, std::string> files_of(const fs::path& dir, const std::string& skip = "") {
    std::map<std::string, std::string> files;
    for (const auto& entry : fs::directory_iterator(dir)) {
        const std::string name = entry.path().filename().string();
        if (entry.is_regular_file() && name != skip && name != "velunor.log") {
            files[name] = read_text(entry.path());
        }
    }
    return files;
}

// Time and step of a restart file (its second record).
std::pair<double, int> time_and_step(const std::string& restart) {
    std::istringstream in(restart.substr(restart.find('\n') + 1));
    double time = -1.0;
    int step = -1;
    in >> time >> step;
    return {time, step};
}

// The lines of a run's report that a restart file does not change: all but
// the wall time, the restart file and the closing list of files written
// (which names the directory and the restart file).
std::string report_without_wall_time(const std::string& out) {
    std::string kept;
    std::istringstream lines(out);
    for (std::string line; std::getline(lines, line);) {
        if (line.rfind("files written", 0) == 0) break;
        if (line.rfind("wall time", 0) != 0 && line.rfind("restart file", 0) != 0) {
            kept += line + "\n";
        }
    }
    return kept;
}

// The two-particle water deck with its time control replaced by `control`.
std::string water_pair(const std::string& control) {
    std::string deck(deck_test::water_deck);
    const std::string from = "*VELUNOR TIME CONTROL, DT=1e-6, TIME=1e-3, STEPS=10\n";
    deck.replace(deck.find(from), from.size(), control);
    return deck;
}

}  // namespace

// The state a run ends in does not depend on restart files written along the
// way: the step files (particle CSV, summary, VTU, PVD) and the report are
// the ones of the run without them, for water and gas, both explosive burns
// and solids. The run's own step count limit (STEPS per run call) is below
// the number of steps, so the host's stepping must also go past it.
TEST_F(Cli, RestartEveryEndsInTheStateOfTheRunWithout) {
    const std::pair<const char*, std::string> decks[] = {
        {"mixed", mixed_deck},
        {"phase_burn", charge_deck("", false)},
        {"source_burn", charge_deck("SOURCE", true)},
        {"solid", block_deck("0.02")},
    };
    for (const auto& [name, text] : decks) {
        SCOPED_TRACE(name);
        const fs::path deck = write(std::string(name) + ".inp", text);
        const fs::path plain = dir_ / (std::string(name) + "_plain");
        const fs::path every = dir_ / (std::string(name) + "_every");
        const Result a = run("run '" + deck.string() + "' --output '" + plain.string() + "'");
        ASSERT_EQ(a.code, 0) << a.err;
        const Result b =
            run("run '" + deck.string() + "' --output '" + every.string() + "' --restart-every 2");
        ASSERT_EQ(b.code, 0) << b.err;
        EXPECT_EQ(report_without_wall_time(b.out), report_without_wall_time(a.out));
        const auto plain_files = files_of(plain);
        EXPECT_GT(plain_files.size(), 4u);
        EXPECT_TRUE(plain_files == files_of(every, "velunor_restart.txt"));
        // The final file holds the final step, whether or not it is even.
        const std::vector<double> steps = numbers_of(a.out, "steps");
        ASSERT_EQ(steps.size(), 1u);
        const std::string restart = read_text(every / "velunor_restart.txt");
        EXPECT_EQ(time_and_step(restart).second, static_cast<int>(steps[0]));
        EXPECT_NE(b.out.find("restart file     " + (every / "velunor_restart.txt").string() +
                             " (step " + std::to_string(static_cast<int>(steps[0])) + ")\n"),
                  std::string::npos)
            << b.out;
    }
}

// Without --output the file goes into the current directory, and it is the
// file the library writes at the end of its own run of the deck.
TEST_F(Cli, RestartEveryWithoutOutputWritesTheLibrarysFinalStateHere) {
    std::string text = mixed_deck;
    const std::string from = "TIME=3.0E-6, STEPS=10";
    text.replace(text.find(from), from.size(), "TIME=6.0E-6, STEPS=4");
    const fs::path deck = write("mixed.inp", text);
    const fs::path here = dir_ / "here";
    fs::create_directories(here);
    const Result r = run("run '" + deck.string() + "' --restart-every 4", "", here);
    ASSERT_EQ(r.code, 0) << r.err;
    // Six steps of 1e-6 end just below 6e-6, so the library's run takes a
    // seventh of a few ulps, and so does the host's.
    EXPECT_NE(r.out.find("steps            7\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("restart file     velunor_restart.txt (step 7)\n"), std::string::npos)
        << r.out;
    EXPECT_EQ(files_of(here).size(), 1u);

    const fs::path reference = dir_ / "reference.txt";
    ASSERT_EQ(velunor_initialize(), 0);
    ASSERT_EQ(velunor_read_inp(deck.c_str()), 0);
    ASSERT_EQ(velunor_build_model(), 0);
    for (int step = -1;;) {
        ASSERT_EQ(velunor_run_explicit(), 0);
        double time = 0.0;
        int now = 0;
        ASSERT_EQ(velunor_get_current_time(&time, &now), 0);
        if (now == step) break;
        step = now;
    }
    ASSERT_EQ(velunor_write_restart(reference.c_str()), 0);
    ASSERT_EQ(velunor_finalize(), 0);
    const std::string file = read_text(here / "velunor_restart.txt");
    EXPECT_EQ(file, read_text(reference));
}

// A run stopped by a failure keeps the restart file of the last multiple of
// N before it; resumed from there, the run ends in the uninterrupted run's
// final restart file, byte for byte, and writes the same step files.
TEST_F(Cli, ResumeFromAnIntermediateRestartEndsAsTheUninterruptedRun) {
    const std::pair<const char*, std::string> decks[] = {
        {"phase_burn", charge_deck("", false)},
        {"source_burn", charge_deck("SOURCE", true)},
        {"solid", block_deck("0.02")},
    };
    for (const auto& [name, text] : decks) {
        SCOPED_TRACE(name);
        const fs::path deck = write(std::string(name) + ".inp", text);
        const fs::path out = dir_ / "out";
        const std::string args =
            "run '" + deck.string() + "' --output '" + out.string() + "' --interval 1";
        const fs::path restart = out / "velunor_restart.txt";

        const Result full = run(args + " --restart-every 3");
        ASSERT_EQ(full.code, 0) << full.err;
        const auto full_files = files_of(out);
        const int steps = static_cast<int>(numbers_of(full.out, "steps").at(0));
        ASSERT_GT(steps, 7);
        fs::remove_all(out);

        // Step 7's particle file cannot be written (a directory has its
        // name), so the run stops at step 7 with the file of step 6.
        const fs::path blocker = out / "velunor_00000007.csv";
        fs::create_directories(blocker);
        const Result stopped = run(args + " --restart-every 3");
        EXPECT_EQ(stopped.code, 1);
        // After the build's counted warnings, if any (the blocker is no
        // file of an earlier series).
        const std::size_t error_at = stopped.err.find("error: ");
        ASSERT_NE(error_at, std::string::npos) << stopped.err;
        EXPECT_EQ(stopped.err.substr(error_at),
                  "error: failed to open CSV output file (status 3)\n");
        EXPECT_EQ(stopped.err.find("earlier series"), std::string::npos) << stopped.err;
        EXPECT_EQ(stopped.out, "");
        const Result info = run("info '" + restart.string() + "'");
        ASSERT_EQ(info.code, 0) << info.err;
        EXPECT_NE(info.out.find("\nstep             6\n"), std::string::npos) << info.out;
        const fs::path saved = dir_ / "step6.txt";
        fs::rename(restart, saved);
        fs::remove_all(out);

        const Result resumed = run(args + " --restart-every 3 --resume '" + saved.string() + "'");
        ASSERT_EQ(resumed.code, 0) << resumed.err;
        EXPECT_EQ(resumed.out.rfind("resumed from     step 6, time ", 0), 0u) << resumed.out;
        EXPECT_NE(resumed.out.find("\nsteps            " + std::to_string(steps - 6) + "\n"),
                  std::string::npos)
            << resumed.out;
        const auto resumed_files = files_of(out);
        EXPECT_EQ(resumed_files.at("velunor_restart.txt"), full_files.at("velunor_restart.txt"));
        // Every step file from the restart's step on, the resumed start
        // included; the series itself starts there.
        int compared = 0;
        for (const auto& [file, content] : resumed_files) {
            if (file == "velunor.pvd" || file == "velunor_restart.txt") continue;
            EXPECT_GE(std::stoi(file.substr(8, 8)), 6) << file;
            EXPECT_EQ(content, full_files.at(file)) << file;
            ++compared;
        }
        EXPECT_EQ(compared, 3 * (steps - 5));  // CSV, summary and VTU of steps 6 to the end
        const std::string pvd = resumed_files.at("velunor.pvd");
        EXPECT_NE(pvd.find("velunor_00000006.vtu"), std::string::npos);
        EXPECT_EQ(pvd.find("velunor_00000005.vtu"), std::string::npos);
        fs::remove_all(out);
    }
}

// The library's last step ends at the end time itself; stepping from the
// host, time + (end - time) can miss it when the time is below half the end
// time. From t = 3.55e-7 (one step of a first deck) a second deck with the
// end at 1e-5 and steps of up to 1e-4 takes that one step: it must land on
// 1e-5 exactly, as the run without restart files does.
TEST_F(Cli, LastStepLandsOnTheEndTimeItself) {
    const double t = 3.55e-7, end = 1e-5;
    ASSERT_NE(t + (end - t), end);  // the case at hand
    const fs::path first =
        write("first.inp", water_pair("*VELUNOR TIME CONTROL, DT=3.55e-7, TIME=3.55e-7, "
                                      "STEPS=10\n"));
    const fs::path second =
        write("second.inp", water_pair("*VELUNOR TIME CONTROL, DT=1e-4, TIME=1e-5, STEPS=10\n"));
    const fs::path start = dir_ / "start";
    Result r =
        run("run '" + first.string() + "' --output '" + start.string() + "' --restart-every 1");
    ASSERT_EQ(r.code, 0) << r.err;
    const fs::path file = start / "velunor_restart.txt";
    ASSERT_EQ(time_and_step(read_text(file)), std::make_pair(t, 1));

    const fs::path plain = dir_ / "plain", every = dir_ / "every";
    r = run("run '" + second.string() + "' --resume '" + file.string() + "' --output '" +
            plain.string() + "'");
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_NE(r.out.find("\nsteps            1\n"), std::string::npos) << r.out;
    r = run("run '" + second.string() + "' --resume '" + file.string() + "' --output '" +
            every.string() + "' --restart-every 5");
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_NE(r.out.find("\nsteps            1\n"), std::string::npos) << r.out;
    EXPECT_EQ(time_and_step(read_text(every / "velunor_restart.txt")), std::make_pair(end, 2));
    EXPECT_TRUE(files_of(plain) == files_of(every, "velunor_restart.txt"));

    // Without --output the resumed run writes its step output where the run
    // that wrote the file did (the deck's interval there: every step).
    r = run("run '" + second.string() + "' --resume '" + file.string() + "'");
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(read_text(start / "velunor_00000002.csv"), read_text(plain / "velunor_00000002.csv"));
}

// The host steps the run itself exactly to where the library's run ends: it
// reads the deck's end time by the reader's rules (only *VELUNOR lines, the
// last line and field winning, lines cut to 1024 characters, 64 fields, key
// prefixes, D exponents, carriage returns). Each deck ends at 7e-6 after four steps of
// 2e-6: a reading of 1e-5 would take a fifth step, and one below 6e-6 would
// leave steps to the library's run calls, which write no restart files (seen
// when the run stops at step 4 without the file of step 3).
TEST_F(Cli, RestartEveryStepsToWhereTheLibraryReadsTheEndTime) {
    const std::string line = "*VELUNOR TIME CONTROL, DT=2e-6, TIME=7e-6, STEPS=3";
    const std::string wrong = "*VELUNOR TIME CONTROL, DT=2e-6, TIME=1e-5, STEPS=3";
    // The library keeps TIME=7e-6 of the line, not TIME=7e-65.
    std::string cut_at_1024 = "*VELUNOR TIME CONTROL, DT=2e-6, STEPS=3,";
    cut_at_1024 += std::string(1024 - cut_at_1024.size() - 9, ' ') + "TIME=7e-6";
    std::string many_fields = line;
    for (int k = 0; k < 60; ++k) many_fields += ", X=0";  // 64 fields
    std::string crlf;
    for (const char c : water_pair("*VELUNOR TIME CONTROL, DT=2e-6, STEPS=3, TIME=7e-6\n")) {
        if (c == '\n') crlf += '\r';
        crlf += c;
    }
    const std::pair<const char*, std::string> decks[] = {
        {"comments", water_pair(line + "\n** " + wrong + "\n!" + wrong + "\n")},
        {"last line",
         water_pair(wrong + "\n*velunor time control, dt=2e-6, end time=7.0d-6, steps=3\n")},
        {"last field", water_pair(wrong + ", TIME_END=7e-6/ then text\n")},
        {"cut line", water_pair(line + ", " + std::string(990, ' ') + ", TIME=1e-5\n")},
        {"1024th character", water_pair(cut_at_1024 + "5\n")},
        {"64 fields", water_pair(many_fields + ", TIME=1e-5\n")},
        {"crlf", crlf},
    };
    for (const auto& [name, text] : decks) {
        SCOPED_TRACE(name);
        const fs::path deck = write("end.inp", text);
        const fs::path out = dir_ / "end";
        const std::string run_deck = "run '" + deck.string() + "'";
        Result r = run(run_deck);
        ASSERT_EQ(r.code, 0) << r.err;
        EXPECT_NE(r.out.find("steps            4\nsimulated time   7.000000000e-06\n"),
                  std::string::npos)
            << r.out;
        r = run(run_deck + " --output '" + out.string() + "' --restart-every 1");
        ASSERT_EQ(r.code, 0) << r.err;
        EXPECT_NE(r.out.find("steps            4\nsimulated time   7.000000000e-06\n"),
                  std::string::npos)
            << r.out;
        EXPECT_EQ(time_and_step(read_text(out / "velunor_restart.txt")), std::make_pair(7e-6, 4));
        fs::remove_all(out);

        fs::create_directories(out / "velunor_00000004.csv");
        r = run(run_deck + " --output '" + out.string() + "' --interval 1 --restart-every 1");
        EXPECT_EQ(r.code, 1);
        EXPECT_EQ(time_and_step(read_text(out / "velunor_restart.txt")).second, 3);
        fs::remove_all(out);
    }
}

// info on a restart file of each of the nine layouts reads it into the
// library and prints its layout, time, step and particle count; a file that
// fails to read gives the library's message.
TEST_F(Cli, InfoDescribesRestartFiles) {
    const fs::path corpus = fs::path(VELUNOR_SOURCE_DIR) / "fuzz/corpus/restart";
    for (const char* layout : {"STATE_0_2", "STATE_0_3", "STATE_0_3_1", "STATE_0_4", "STATE_0_4_1",
                               "STATE_0_5", "STATE_0_5_1", "STATE_0_8", "STATE_0_8_1"}) {
        std::string stem = layout;
        std::transform(stem.begin(), stem.end(), stem.begin(),
                       [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
        const fs::path file = corpus / (stem + ".rst");
        const Result r = run("info '" + file.string() + "'");
        ASSERT_EQ(r.code, 0) << layout << r.err;
        EXPECT_EQ(r.out, "restart          " + file.string() + "\nlayout           " + layout +
                             "\ntime             1.500000000e-06\nstep             3\n"
                             "particles        1\n");
    }
    const std::string text = read_text(corpus / "state_0_8_1.rst");
    std::string unknown = text;
    unknown.replace(unknown.find("STATE_0_8_1"), 11, "STATE_0_9");
    Result r = run("info '" + write("unknown.rst", unknown).string() + "'");
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(r.err, "error: unsupported restart state version (status 4)\n");
    EXPECT_EQ(r.out, "");
    r = run("info '" + write("cut.rst", text.substr(0, text.size() / 2)).string() + "'");
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(r.err, "error: restart file ended unexpectedly (status 4)\n");
    // Not a restart header: read as a deck.
    r = run("info '" + write("deck.rst", "VELUNOR_RESTARTS 0 8 3 STATE_0_8_1\n").string() + "'");
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(r.err, "error: input is missing *NODE particle data (status 4)\n");
}

// Restart options that cannot work are refused before or as they fail, with
// the usage text (exit 2) or the library's message (exit 1).
TEST_F(Cli, RestartOptionFailures) {
    const fs::path deck = write("pair.inp", water_pair("*VELUNOR TIME CONTROL, DT=1e-6, "
                                                       "TIME=3e-6, STEPS=10\n"));
    const std::string run_deck = "run '" + deck.string() + "'";
    for (const std::string& args :
         {run_deck + " --restart-every 0", run_deck + " --restart-every -2",
          run_deck + " --restart-every 1.5", run_deck + " --restart-every", run_deck + " --resume",
          run_deck + " --resume ''", "info '" + deck.string() + "' --restart-every 2",
          "info '" + deck.string() + "' --resume x.rst"}) {
        const Result r = run(args);
        EXPECT_EQ(r.code, 2) << args;
        EXPECT_NE(r.err.find("usage: velunor run DECK"), std::string::npos) << args;
    }
    Result r = run(run_deck + " --restart-every 0");
    EXPECT_EQ(r.err.rfind("velunor: --restart-every needs a positive integer, not: 0\n", 0), 0u)
        << r.err;

    // The deck's *HEADING is told before each failure.
    const std::string heading = "warning: " + deck.string() +
                                ":1: unknown keyword *HEADING (ignored with its data lines)\n";
    r = run(run_deck + " --resume '" + (dir_ / "missing.rst").string() + "'");
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(r.err, heading + "error: failed to open restart file for reading (status 3)\n");
    EXPECT_EQ(r.out, "");
    r = run(run_deck + " --resume '" + deck.string() + "'");
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(r.err, heading + "error: invalid restart header (status 4)\n");

    // A directory where the file goes: the first write fails and ends the run.
    const fs::path out = dir_ / "out";
    fs::create_directories(out / "velunor_restart.txt");
    r = run(run_deck + " --output '" + out.string() + "' --restart-every 2");
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(r.err, heading + "error: failed to open restart file for writing (status 3)\n");
    EXPECT_EQ(r.out, "");
    EXPECT_FALSE(fs::exists(out / "velunor_00000003.csv"));  // stopped at step 2

    r = run("--help");
    EXPECT_NE(r.out.find("--restart-every N"), std::string::npos);
    EXPECT_NE(r.out.find("--resume FILE"), std::string::npos);
}

// Kinetic and Tait compression energy of the water of the bundled example
// (every particle of mass 0.001), from the particle state the library
// exports after running `deck` to its end as the host does.
static std::array<double, 2> example_water_energy(const std::string& deck) {
    EXPECT_EQ(velunor_initialize(), 0);
    EXPECT_EQ(velunor_read_inp(deck.c_str()), 0);
    EXPECT_EQ(velunor_build_model(), 0);
    for (int step = -1;;) {
        EXPECT_EQ(velunor_run_explicit(), 0);
        double time = 0.0;
        int now = 0;
        EXPECT_EQ(velunor_get_current_time(&time, &now), 0);
        if (now == step) break;
        step = now;
    }
    int n = 0;
    EXPECT_EQ(velunor_get_particle_count(&n), 0);
    const std::size_t size = static_cast<std::size_t>(n);
    std::vector<int> ids(size), phase(size), status(size), material(size), section(size);
    std::vector<double> x(3 * size), vel(3 * size), a(3 * size), rho(size), p(size), e(size),
        t(size), h(size);
    int count = 0;
    EXPECT_EQ(
        velunor_get_particle_state(n, ids.data(), phase.data(), status.data(), material.data(),
                                   section.data(), x.data(), vel.data(), a.data(), rho.data(),
                                   p.data(), e.data(), t.data(), h.data(), &count),
        0);
    EXPECT_EQ(velunor_finalize(), 0);
    // p = 1e6 + B ((rho/1000)^7 - 1): u = integral of p / rho^2 from 1000.
    const double b = 1000.0 * 1480.0 * 1480.0 / 7.0;
    const auto u = [&](double r) {
        return b * std::pow(r, 6.0) / (6.0 * std::pow(1000.0, 7.0)) + (b - 1e6) / r;
    };
    std::array<double, 2> energy{};
    for (std::size_t i = 0; i < size; ++i) {
        const double* v = &vel[3 * i];
        energy[0] += 0.5 * 0.001 * (v[0] * v[0] + v[1] * v[1] + v[2] * v[2]);
        energy[1] += 0.001 * (u(rho[i]) - u(1000.0));
    }
    return energy;
}

TEST_F(Cli, RunReportsTheEnergyOfEachPhaseAndWarnsWhenItGrowsWithoutExternalWork) {
    // The bundled example stepped with the documented scheme, whose undamped
    // sound modes grow: at the example's end the water holds more kinetic
    // energy than its expansion released.
    const std::string example =
        read_text(fs::path(VELUNOR_SOURCE_DIR) / "examples/water_release.inp");
    std::string text = example;
    const std::string verlet_option = ", INTEGRATOR=VERLET";
    ASSERT_NE(text.find(verlet_option), std::string::npos);
    text.erase(text.find(verlet_option), verlet_option.size());
    const std::string deck = write("documented.inp", text).string();
    const Result r = run("run '" + deck + "'");
    ASSERT_EQ(r.code, 0) << r.err;
    const std::vector<double> water = numbers_of(r.out, "  water ");
    ASSERT_EQ(water.size(), 4u) << r.out;
    const std::array<double, 2> end = example_water_energy(deck);
    EXPECT_EQ(water[0], 0.0);  // at rest and at its reference density
    EXPECT_EQ(water[2], 0.0);
    EXPECT_NEAR(water[1], end[0], 1e-6 * end[0]);
    EXPECT_NEAR(water[3], end[1], 1e-6 * std::abs(end[1]) + 1e-12);
    const std::vector<double> total = numbers_of(r.out, "  total ");
    ASSERT_EQ(total.size(), 2u) << r.out;
    EXPECT_NEAR(total[1], end[0] + end[1], 1e-6 * end[0]);
    // The gain as a share of the kinetic and internal energy present.
    const double scale = end[0] + std::abs(end[1]);
    const std::vector<double> gain = numbers_of(r.out, "warning: the total energy grew by ");
    ASSERT_GE(gain.size(), 1u) << r.out;
    EXPECT_NEAR(gain[0], 100.0 * (end[0] + end[1]) / scale, 0.05) << r.out;
    EXPECT_NE(r.out.find("INTEGRATOR=VERLET"), std::string::npos);

    // The example as shipped steps with velocity Verlet and loses energy to
    // the artificial viscosity.
    const std::string shipped =
        (fs::path(VELUNOR_SOURCE_DIR) / "examples/water_release.inp").string();
    const Result verlet = run("run '" + shipped + "'");
    ASSERT_EQ(verlet.code, 0) << verlet.err;
    const std::vector<double> verlet_water = numbers_of(verlet.out, "  water ");
    ASSERT_EQ(verlet_water.size(), 4u) << verlet.out;
    const std::array<double, 2> verlet_end = example_water_energy(shipped);
    EXPECT_NEAR(verlet_water[1], verlet_end[0], 1e-6 * verlet_end[0]);
    const std::vector<double> verlet_total = numbers_of(verlet.out, "  total ");
    ASSERT_EQ(verlet_total.size(), 2u) << verlet.out;
    EXPECT_LT(verlet_total[1], 0.0);
    EXPECT_EQ(verlet.out.find("warning:"), std::string::npos) << verlet.out;
}

TEST_F(Cli, EnergyLinesGoToTheCallersLogWithoutLosingItsContents) {
    const fs::path log = dir_ / "own.log";
    std::ofstream(log, std::ios::binary) << "earlier line\r\n";
    // Energy lines of an earlier run in the log are not this run's start.
    std::ofstream(log, std::ios::binary | std::ios::app)
        << "energy step 0 time 0 water 1 5 5 gas 0 0 0 explosive 0 0 0 solid 0 0 0 shell 0 0 0 "
           "potential 0 external_work 0\r\n";
    const fs::path deck = short_example("4.0E-6", 2);
    const Result r = run("run '" + deck.string() + "'", "VELUNOR_LOG='" + log.string() + "'");
    ASSERT_EQ(r.code, 0) << r.err;
    const std::vector<double> water = numbers_of(r.out, "  water ");
    ASSERT_EQ(water.size(), 4u) << r.out;
    EXPECT_EQ(water[0], 0.0);
    EXPECT_GT(water[1], 0.0);
    const std::string text = read_text(log);
    EXPECT_EQ(text.rfind("earlier line\r\n", 0), 0u) << text;
    EXPECT_NE(text.find("energy step 0 time 0.0000000000000000E+00 water 4096 "),
              std::string::npos);
    EXPECT_NE(text.find("energy step 3 "), std::string::npos) << text;
}

namespace {

// A 3 x 3 x 3 steel block beside a 3 x 3 x 3 water cube, 0.01 m apart, the
// block moving at 20 m/s into the water: about 15 steps of 0.33 us for the
// water, at most `steps` per run call.
std::string water_and_solid_deck(int steps) {
    std::string deck = "*NODE\n";
    std::string block, water;
    int id = 0;
    for (int k = 0; k < 3; ++k) {
        for (int j = 0; j < 3; ++j) {
            for (int i = 0; i < 6; ++i) {
                deck += format("%d, %.2f, %.2f, %.2f\n", ++id, 0.01 * i, 0.01 * j, 0.01 * k);
                std::string& set = i < 3 ? block : water;
                set += (set.empty() ? "" : ", ") + std::to_string(id);
            }
        }
    }
    return deck + "*NSET, NSET=BLOCK\n" + block + "\n*NSET, NSET=POOL\n" + water +
           "\n*MATERIAL, NAME=Steel, TYPE=SOLID\n*DENSITY\n7850\n*ELASTIC\n2e11, 0.3\n"
           "*SOLID SECTION, NSET=BLOCK, MATERIAL=Steel\n"
           "*VELUNOR SOLID CONTROL, MATERIAL=Steel, H=0.013, VOLUME=1e-6\n"
           "*MATERIAL, NAME=Water, TYPE=WATER\n*DENSITY\n1000\n"
           "*FLUID SECTION, NSET=POOL, MATERIAL=Water\n"
           "*VELUNOR EOS, TYPE=TAIT, MATERIAL=Water, RHO0=1000, C0=1480, GAMMA=7\n"
           "*VELUNOR VISCOSITY, TYPE=MONAGHAN, MATERIAL=Water, ALPHA=0.1, BETA=0, ETA2=0.01\n"
           "*VELUNOR PARTICLE CONTROL, H=0.013, MASS=0.001, VOLUME=1.0E-6\n"
           "*INITIAL CONDITIONS, TYPE=VELOCITY\nBLOCK, 1, 20\n"
           "*VELUNOR TIME CONTROL, DT=1e-6, TIME=5e-6, STEPS=" +
           std::to_string(steps) + ", SAFETY=0.25\n";
}

// All particle arrays of the library's model, as bytes.
std::string state_bytes() {
    int n = 0;
    EXPECT_EQ(velunor_get_particle_count(&n), 0);
    const std::size_t m = static_cast<std::size_t>(n);
    std::vector<int> ids(m), phase(m), status(m), material(m), section(m);
    std::vector<double> x(3 * m), v(3 * m), a(3 * m), rho(m), p(m), e(m), t(m), h(m);
    int count = 0;
    EXPECT_EQ(
        velunor_get_particle_state(n, ids.data(), phase.data(), status.data(), material.data(),
                                   section.data(), x.data(), v.data(), a.data(), rho.data(),
                                   p.data(), e.data(), t.data(), h.data(), &count),
        0);
    std::string bytes;
    const auto add = [&](const auto& values) {
        bytes.append(reinterpret_cast<const char*>(values.data()),
                     values.size() * sizeof(values[0]));
    };
    add(ids), add(phase), add(status), add(material), add(section), add(x), add(v), add(a);
    add(rho), add(p), add(e), add(t), add(h);
    return bytes;
}

}  // namespace

TEST_F(Cli, HostSteppedRunEndsInTheStateAndFilesOfTheRunCalls) {
    // STEPS=4 splits the run calls; interval 3 puts the last step off the
    // interval, so the host's final write shows too. Both integrators: the
    // Verlet one carries its forces from one step to the next.
    for (const std::string integrator : {"", ", INTEGRATOR=VERLET"}) {
        SCOPED_TRACE(integrator);
        std::string text = water_and_solid_deck(4);
        text.insert(text.size() - 1, integrator);
        const std::string tag = integrator.empty() ? "default" : "verlet";
        const fs::path deck = write(tag + ".inp", text);
        const fs::path host = dir_ / (tag + "_host"), calls = dir_ / (tag + "_calls");
        const Result r = run("run '" + deck.string() + "' --output '" + host.string() +
                             "' --interval 3 --restart-every 1000");
        ASSERT_EQ(r.code, 0) << r.err;

        // The run-call path, as the host did it before it stepped: the
        // initial state, run calls until one makes no progress, the final
        // state.
        ASSERT_EQ(velunor_initialize(), 0);
        ASSERT_EQ(velunor_read_inp(deck.c_str()), 0);
        ASSERT_EQ(velunor_build_model(), 0);
        ASSERT_EQ(velunor_set_output_directory(calls.c_str()), 0);
        fs::create_directories(calls);
        ASSERT_EQ(velunor_set_output_interval(3), 0);
        ASSERT_EQ(velunor_write_output(0, 0.0), 0);
        double time = 0.0;
        int step = 0, calls_made = 0;
        for (int before = -1; step != before; ++calls_made) {
            before = step;
            ASSERT_EQ(velunor_run_explicit(), 0);
            ASSERT_EQ(velunor_get_current_time(&time, &step), 0);
        }
        EXPECT_GE(calls_made, 4);  // the step limit did split the run
        ASSERT_NE(step % 3, 0) << step;
        ASSERT_EQ(velunor_write_output(step, time), 0);
        const std::string by_calls = state_bytes();
        EXPECT_EQ(velunor_finalize(), 0);
        EXPECT_NE(r.out.find(format("steps            %d\n", step)), std::string::npos) << r.out;

        const auto host_files = files_of(host, "velunor_restart.txt");
        const auto call_files = files_of(calls);
        EXPECT_EQ(host_files.size(), 3u * (2u + static_cast<std::size_t>(step / 3)) + 1u);
        ASSERT_EQ(host_files.size(), call_files.size());
        for (const auto& [name, content] : call_files) {
            ASSERT_TRUE(host_files.count(name)) << name;
            EXPECT_TRUE(host_files.at(name) == content) << name << " differs";
        }
        // The host's end state, through its restart file.
        ASSERT_EQ(velunor_initialize(), 0);
        ASSERT_EQ(velunor_read_inp(deck.c_str()), 0);
        ASSERT_EQ(velunor_build_model(), 0);
        ASSERT_EQ(velunor_read_restart((host / "velunor_restart.txt").c_str()), 0);
        EXPECT_TRUE(state_bytes() == by_calls);
        EXPECT_EQ(velunor_finalize(), 0);
    }
}

TEST_F(Cli, DeckWarningsAreNamedByRunAndInfoAndKeptInTheRunLog) {
    std::string text = water_and_solid_deck(100);
    text.replace(text.find(", SAFETY=0.25"), 13, ", SAFTEY=0.25");
    text = "*HEADING\nmixed\n" + text + "*VELUNOR OUTPUT, INTERVAL=2 3\n";
    const fs::path deck = write("warned.inp", text);
    const int last = static_cast<int>(std::count(text.begin(), text.end(), '\n'));
    const std::string at = deck.string() + ":";
    const std::string heading =
        "warning: " + at + "1: unknown keyword *HEADING (ignored with its data lines)\n";
    const std::string safety = "warning: " + at + std::to_string(last - 1) +
                               ": unknown option SAFTEY of *VELUNOR TIME CONTROL (did you mean "
                               "SAFETY?)\n";
    const std::string interval = "warning: " + at + std::to_string(last) +
                                 ": text \"3\" after the value of INTERVAL is ignored\n";

    const Result info = run("info '" + deck.string() + "'");
    ASSERT_EQ(info.code, 0) << info.err;
    EXPECT_EQ(info.err, heading + safety + interval);
    EXPECT_NE(info.out.find("warnings         1\n"), std::string::npos) << info.out;  // counted
    EXPECT_NE(info.out.find("  material 1   27 particles, name Steel\n"), std::string::npos)
        << info.out;
    EXPECT_NE(info.out.find("  material 2   27 particles, name Water\n"), std::string::npos);
    EXPECT_NE(info.out.find("  section 2    27 particles, name POOL\n"), std::string::npos);

    const fs::path out = dir_ / "out";
    const Result r = run("run '" + deck.string() + "' -o '" + out.string() + "'");
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.err, heading + safety + interval);
    // velunor.log: the command, the warnings, then the summary as printed.
    const std::string log = read_text(out / "velunor.log");
    EXPECT_EQ(log, "velunor run " + deck.string() + " -o " + out.string() + "\n" + heading +
                       safety + interval + r.out);
    EXPECT_NE(r.out.find("files written    in " + out.string() + "\n"), std::string::npos);
    EXPECT_NE(r.out.find("  VTU            "), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("  series         velunor.pvd\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("  run log        velunor.log\n"), std::string::npos) << r.out;

    // A build warning without a line (an explosive-free deck does not have
    // one; a solid material that no section uses does) is counted and told.
    const fs::path unbound = write("unbound.inp", water_and_solid_deck(100) +
                                                      "*MATERIAL, NAME=Spare, TYPE=SOLID\n"
                                                      "*DENSITY\n7850\n*ELASTIC\n2e11, 0.3\n");
    const Result u = run("info '" + unbound.string() + "'");
    ASSERT_EQ(u.code, 0) << u.err;
    EXPECT_EQ(u.err,
              "warning: 1 more counted warning of the model build (materials that no particle "
              "uses, unused orientations, disabled blast regions)\n");
    EXPECT_NE(u.out.find("warnings         1\n"), std::string::npos) << u.out;

    // Without a place for the log only the count is known.
    const Result quiet =
        run("info '" + deck.string() + "'", "TMPDIR='" + (dir_ / "no_such_dir").string() + "'");
    ASSERT_EQ(quiet.code, 0) << quiet.err;
    EXPECT_EQ(quiet.err, "warning: the deck has 1 counted warning (no log to name it)\n");
}

TEST_F(Cli, OutputDirectoryChecksTellTheRealReasonAndAnEarlierSeries) {
    const fs::path deck = short_example("3.0E-6", 10);
    // A path under a regular file: mkdir refuses with ENOTDIR, whatever the user.
    const fs::path file = write("plain.txt", "x");
    Result r = run("run '" + deck.string() + "' --output='" + (file / "sub").string() + "'");
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(r.err, "error: cannot create output directory " + (file / "sub").string() +
                         ": Not a directory\n");
    if (::geteuid() != 0) {  // root writes anywhere
        const fs::path locked = dir_ / "locked";
        fs::create_directories(locked);
        fs::permissions(locked, fs::perms::owner_read | fs::perms::owner_exec);
        r = run("run '" + deck.string() + "' --output '" + (locked / "new").string() + "'");
        EXPECT_EQ(r.err, "error: cannot create output directory " + (locked / "new").string() +
                             ": Permission denied\n");
        r = run("run '" + deck.string() + "' --output '" + locked.string() + "'");
        EXPECT_EQ(r.err, "error: cannot write into output directory " + locked.string() +
                             ": Permission denied\n");
        fs::permissions(locked, fs::perms::owner_all);
    }

    // An earlier series of more steps: told before anything is written, kept,
    // and not counted among this run's files.
    const fs::path out = dir_ / "out";
    fs::create_directories(out);
    for (const char* name :
         {"velunor_00000000.vtu", "velunor_00000000.csv", "velunor_00000000_summary.csv",
          "velunor_00000099.vtu", "velunor.pvd", "notes.txt"}) {
        write("out/" + std::string(name), "old");
        fs::last_write_time(out / name, fs::file_time_type::clock::now() - std::chrono::hours(1));
    }
    r = run("run '" + deck.string() + "' --output '" + out.string() + "'");
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.err, "warning: output directory " + out.string() +
                         " already holds 5 files of an earlier series (velunor_*.vtu, "
                         "velunor_*.csv, velunor.pvd); they are kept, and those this run does "
                         "not rewrite stay beside its files\n");
    EXPECT_EQ(read_text(out / "velunor_00000099.vtu"), "old");
    EXPECT_NE(read_text(out / "velunor_00000000.vtu"), "old");
    // Steps 0 and 3: the deck's interval is 10, the host writes the first and last.
    EXPECT_NE(r.out.find("  VTU            2, velunor_00000000.vtu .. velunor_00000003.vtu\n"),
              std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find("  summary CSV    2, velunor_00000000_summary.csv .. "
                         "velunor_00000003_summary.csv\n"),
              std::string::npos)
        << r.out;
    EXPECT_NE(read_text(out / "velunor.log").find("already holds 5 files"), std::string::npos);

    // Runs straight after each other: step 1 of the first is not the second's.
    ASSERT_EQ(run("run '" + deck.string() + "' -o '" + out.string() + "' --interval 1").code, 0);
    r = run("run '" + deck.string() + "' -o '" + out.string() + "' --interval 2");
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_NE(r.out.find("  VTU            3, velunor_00000000.vtu .. velunor_00000003.vtu\n"),
              std::string::npos)
        << r.out;
}

TEST_F(Cli, OptionsTakeTheirValueAfterAnEqualsSignAndBinaryWritesAppendedVtu) {
    const fs::path deck = short_example("3.0E-6", 10);
    const fs::path out = dir_ / "eq";
    Result r = run("run '" + deck.string() + "' --output='" + out.string() +
                   "' --interval=2 --progress-every=0 --binary");
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_TRUE(fs::exists(out / "velunor_00000002.csv"));
    EXPECT_FALSE(fs::exists(out / "velunor_00000001.csv"));
    // --binary reaches the library: raw appended arrays, no text arrays.
    const std::string binary = read_text(out / "velunor_00000002.vtu");
    EXPECT_NE(binary.find("<AppendedData encoding=\"raw\">"), std::string::npos);
    EXPECT_EQ(binary.find("format=\"ascii\""), std::string::npos);
    const fs::path text_out = dir_ / "text";
    r = run("run '" + deck.string() + "' -o '" + text_out.string() + "' --progress-every=0");
    ASSERT_EQ(r.code, 0) << r.err;
    const std::string text = read_text(text_out / "velunor_00000000.vtu");
    EXPECT_EQ(text.find("AppendedData"), std::string::npos);
    EXPECT_NE(text.find("format=\"ascii\""), std::string::npos);
    r = run("run '" + deck.string() + "' --interval=0");
    EXPECT_EQ(r.code, 2);
    EXPECT_EQ(r.err.rfind("velunor: --interval needs a positive integer, not: 0\n", 0), 0u)
        << r.err;
    r = run("run '" + deck.string() + "' --progress-every=-1");
    EXPECT_EQ(r.code, 2);
    r = run("run '" + deck.string() + "' -o");
    EXPECT_EQ(r.code, 2);
    EXPECT_EQ(r.err.rfind("velunor: missing value for: --output\n", 0), 0u) << r.err;
    r = run("info '" + deck.string() + "' --binary");
    EXPECT_EQ(r.code, 2);
    const Result help = run("--help");
    EXPECT_NE(help.out.find("--binary"), std::string::npos);
    EXPECT_NE(help.out.find("--progress-every SECONDS"), std::string::npos);
}

TEST_F(Cli, PlainProgressLinesGoToABatchLogDuringTheRun) {
    // About 15 steps, all of which one run call may take: the lines come
    // between them because the host steps.
    const fs::path deck = write("steps.inp", water_and_solid_deck(100));
    const Result r = run("run '" + deck.string() + "' --progress-every 0.000001");
    ASSERT_EQ(r.code, 0) << r.err;
    std::istringstream lines(r.err);
    int count = 0, last_step = 0;
    for (std::string line; std::getline(lines, line);) {
        ASSERT_EQ(line.rfind("progress: step ", 0), 0u) << line;
        const int step = std::atoi(line.c_str() + 15);
        EXPECT_GT(step, last_step) << r.err;
        last_step = step;
        EXPECT_NE(line.find("%  "), std::string::npos) << line;
        ++count;
    }
    EXPECT_GE(count, 5) << r.err;
    // The default leaves a short run's stderr empty.
    EXPECT_EQ(run("run '" + deck.string() + "'").err, "");
}

TEST_F(Cli, OnATerminalOneLiveLineShowsAndIsEndedBeforeTheSummary) {
    // script(1) gives the host a terminal for stderr; stdout goes to a file.
    if (std::system("command -v script >/dev/null 2>&1") != 0) GTEST_SKIP() << "no script(1)";
    const fs::path deck = short_example("6.0E-6", 2);
    const fs::path tty = dir_ / "tty.txt", out = dir_ / "out.txt";
    const std::string inner =
        "'" + std::string(VELUNOR_CLI) + "' run '" + deck.string() + "' >'" + out.string() + "'";
    const std::string command =
        "script -qec \"" + inner + "\" /dev/null </dev/null >'" + tty.string() + "' 2>&1";
    ASSERT_EQ(std::system(command.c_str()), 0);
    const std::string shown = read_text(tty);
    // The first step shows at once; a five-step run is over before the next
    // refresh. The line is redrawn in place and ended (the terminal turns
    // the line feed into CR LF), and no batch line goes to a terminal.
    EXPECT_EQ(shown.rfind("\rstep 1  t 1.463964e-06  dt 1.464e-06   24.4%  ", 0), 0u) << shown;
    EXPECT_NE(shown.find("particle-steps/s  left "), std::string::npos) << shown;
    EXPECT_EQ(shown.substr(shown.size() - 5), "\033[K\r\n") << shown;
    EXPECT_EQ(shown.find("progress:"), std::string::npos) << shown;
    EXPECT_EQ(read_text(out).rfind("steps            5\n", 0), 0u) << read_text(out);
}

#endif  // VELUNOR_CLI
