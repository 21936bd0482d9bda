// The velunor command-line host, run as a separate process on small decks
// and on the bundled example.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

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

#endif  // VELUNOR_CLI
