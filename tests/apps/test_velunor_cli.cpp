// The velunor command-line host, run as a separate process on small decks
// and on the bundled example.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "../output/output_test_support.hpp"

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

    Result run(const std::string& args) {
        const fs::path out = dir_ / "stdout.txt", err = dir_ / "stderr.txt";
        const std::string command = std::string("'") + VELUNOR_CLI + "' " + args + " >'" +
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

TEST_F(Cli, RunStopsWhereTheLibrarySaysNotWhereTheHostReadsTheDeck) {
    // The library keeps the first 1024 characters of a line; the host's own
    // reading of the end time (for the progress line) sees a later TIME that
    // the library never read. The run must still reach the library's end time.
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
    EXPECT_NE(r.out.find("  material 1   4096 particles\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("  section 1    1 particles\n"), std::string::npos) << r.out;
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
        if (entry.path().extension() == ".csv" && entry.path() > last) last = entry.path();
    }
    ASSERT_FALSE(last.empty());
    const CsvGas csv = gas_of_csv(read_text(last));
    EXPECT_EQ(csv.count, 4169);
    EXPECT_NEAR(pressure[0], csv.pressure_lo, 1e-6 * csv.pressure_lo);
    EXPECT_NEAR(pressure[1], csv.pressure_hi, 1e-6 * csv.pressure_hi);
    EXPECT_NEAR(extent[1], csv.extent, 1e-6 * csv.extent);
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

TEST_F(Cli, WaterOnlyModelsPrintNoGasLines) {
    Result r = run("run '" + short_example("6.0E-6", 20).string() + "'");
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_NE(r.out.find("particles        4096 (water 4096)\n"), std::string::npos) << r.out;
    EXPECT_FALSE(has_gas_line(r.out)) << r.out;
    r = run("info '" + std::string(VELUNOR_SOURCE_DIR) + "/examples/water_release.inp'");
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_FALSE(has_gas_line(r.out)) << r.out;
}

#endif  // VELUNOR_CLI
