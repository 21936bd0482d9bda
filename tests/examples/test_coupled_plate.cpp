// The coupling example host (examples/coupled_plate) run as a separate
// process: its exchange totals against the balances they must satisfy, and
// the traced facet against the spring-mass model integrated here from the
// water pressures the host read.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#ifdef VELUNOR_COUPLED_PLATE

namespace {

namespace fs = std::filesystem;

struct Output {
    int code = -1;
    std::string out, err;
    // "name v1 v2 ..." lines by name; "name a 1 b 2" lines also by pair.
    std::map<std::string, std::vector<double>> values;
    std::map<std::string, double> named;
    std::vector<std::vector<double>> trace;  // step, time, dt, p, z, vz, wet vz
};

std::string read_text(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

bool parse_number(const std::string& word, double& value) {
    char* end = nullptr;
    value = std::strtod(word.c_str(), &end);
    return end != word.c_str() && *end == '\0';
}

void parse(Output& r) {
    std::istringstream lines(r.out);
    for (std::string line; std::getline(lines, line);) {
        std::istringstream words(line);
        std::string name;
        words >> name;
        std::vector<double> numbers;
        std::string last_word;
        for (std::string word; words >> word;) {
            double value = 0.0;
            if (parse_number(word, value)) {
                numbers.push_back(value);
                if (!last_word.empty()) r.named[name + "." + last_word] = value;
                last_word.clear();
            } else {
                last_word = word;
            }
        }
        if (name == "trace") {
            r.trace.push_back(numbers);
        } else {
            r.values[name] = numbers;
        }
    }
}

class CoupledPlate : public ::testing::Test {
  protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() /
               ("velunor_coupled_plate_" + std::to_string(::getpid()) + "_" +
                std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
        fs::remove_all(dir_);
        fs::create_directories(dir_);
    }
    void TearDown() override { fs::remove_all(dir_); }

    Output run(const std::string& args) {
        const fs::path out = dir_ / "stdout.txt", err = dir_ / "stderr.txt";
        const std::string command = std::string("'") + VELUNOR_COUPLED_PLATE + "' " + args + " >'" +
                                    out.string() + "' 2>'" + err.string() + "' </dev/null";
        const int status = std::system(command.c_str());
        Output r;
        r.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        r.out = read_text(out);
        r.err = read_text(err);
        parse(r);
        return r;
    }

    Output run_example(int steps, double stiffness) {
        const fs::path deck =
            fs::path(VELUNOR_SOURCE_DIR) / "examples/coupled_plate/coupled_plate.inp";
        std::ostringstream args;
        args.precision(17);
        args << "'" << deck.string() << "' --steps " << steps << " --stiffness " << stiffness
             << " --trace";
        return run(args.str());
    }

    fs::path dir_;
};

constexpr int steps = 40;
constexpr double stiffness = 2.0e7;  // N/m per facet
constexpr double dt = 1.0e-5;        // the deck's DT, below the stable step
constexpr double p0 = 1.0e6;         // the deck's background pressure

std::vector<double> get(const Output& r, const std::string& name, std::size_t n) {
    const auto it = r.values.find(name);
    if (it == r.values.end() || it->second.size() != n) {
        ADD_FAILURE() << "no line '" << name << "' with " << n << " values in\n" << r.out;
        return std::vector<double>(n, std::nan(""));
    }
    return it->second;
}

TEST_F(CoupledPlate, ExchangeTotalsBalance) {
    const Output r = run_example(steps, stiffness);
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(get(r, "steps", 1)[0], steps);
    EXPECT_EQ(get(r, "dt_range", 2), (std::vector<double>{dt, dt}));
    EXPECT_NEAR(get(r, "time", 1)[0], steps * dt, 1e-15);
    // 16 x 16 facets: the 14 x 14 inner ones are loaded, the 60 on the edge
    // clamped; one wet particle above each facet.
    EXPECT_EQ(r.named.at("facets.loaded"), 196);
    EXPECT_EQ(r.named.at("facets.clamped"), 60);
    EXPECT_EQ(r.named.at("facets.wet"), 256);
    EXPECT_EQ(get(r, "facets", 4)[0], 256);

    // Each facet force lands whole on its own particle at the facet centre:
    // what came in is what was distributed, bit for bit.
    const std::vector<double> input = get(r, "input_force", 3);
    EXPECT_EQ(input, get(r, "distributed_force", 3));
    EXPECT_EQ(get(r, "input_moment", 3), get(r, "distributed_moment", 3));
    EXPECT_EQ(get(r, "force_error", 1)[0], 0.0);
    EXPECT_EQ(get(r, "moment_error", 1)[0], 0.0);
    // Loads act along the normals (+z) only, and the last step applied
    // exactly the last exchange's loads, once.
    EXPECT_EQ(input[0], 0.0);
    EXPECT_EQ(input[1], 0.0);
    EXPECT_NE(input[2], 0.0);
    EXPECT_EQ(get(r, "step_force", 3), input);
    const std::vector<double> step_impulse = get(r, "step_impulse", 3);
    EXPECT_NEAR(step_impulse[2], input[2] * dt, 1e-15 * std::fabs(input[2] * dt));

    // Newton: the plate's momentum is the impulse the imports put in. Only
    // the coupling loads move the facets (the clamped ones stay at rest).
    const std::vector<double> exchange = get(r, "momentum_exchange", 3);
    EXPECT_EQ(exchange, get(r, "cumulative_impulse", 3));
    const std::vector<double> momentum = get(r, "plate_momentum", 3);
    EXPECT_EQ(momentum[0], 0.0);
    EXPECT_EQ(momentum[1], 0.0);
    EXPECT_NE(exchange[2], 0.0);
    EXPECT_NEAR(momentum[2], exchange[2], 1e-12 * std::fabs(exchange[2]));
    EXPECT_EQ(get(r, "clamped_largest_displacement", 1)[0], 0.0);
    EXPECT_EQ(get(r, "max_position_error", 1)[0], 0.0);  // no position targets

    // Every exchange opened a fresh epoch and every import was consumed by
    // its step: nothing stale, repeated, skipped or refused.
    for (const char* name :
         {"stale", "skipped", "nonfinite", "imported", "repeated", "duplicate", "invalid_weight",
          "active_contacts", "skipped_contacts", "nonfinite_contacts", "bad_areas"}) {
        EXPECT_EQ(r.named.at(std::string("counts.") + name), 0) << name;
    }
    EXPECT_EQ(r.named.at("counts.consumed"), 1);
    EXPECT_EQ(get(r, "contact_counts", 7), std::vector<double>(7, 0.0));
    // Resultants leave the pressure and traction maxima alone.
    EXPECT_EQ(get(r, "max_pressure", 1)[0], 0.0);
    EXPECT_EQ(get(r, "max_traction", 1)[0], 0.0);
}

// The centre facet is a mass m on a spring k to its rest position, loaded by
// -p A along its normal (+z) with p the pressure of the water particle above
// it after the previous step; the step integrates it with one acceleration
// for both half kicks. Integrated here from the traced pressures alone, it
// must land where the library moved the facet, step after step; and the wet
// particle above must move at the facet's velocity of the exchange before.
TEST_F(CoupledPlate, CentreFacetFollowsTheSpringMassModel) {
    const Output r = run_example(steps, stiffness);
    ASSERT_EQ(r.code, 0) << r.err;
    const std::vector<double> facet = get(r, "trace_facet", 4);
    const double area = facet[1], mass = facet[2];
    EXPECT_EQ(area, 0.01);  // an inner facet: four quarter elements of 0.1 x 0.1 m
    EXPECT_EQ(mass, 1.0);
    EXPECT_EQ(facet[3], stiffness);
    ASSERT_EQ(r.trace.size(), static_cast<std::size_t>(steps + 1));
    for (const auto& row : r.trace) ASSERT_EQ(row.size(), 7u);

    const double z0 = r.trace[0][4];
    EXPECT_EQ(z0, 0.0);
    EXPECT_EQ(r.trace[0][3], p0);  // the water starts at its background pressure
    double z = z0, v = 0.0, scale = 0.0;
    for (const auto& row : r.trace) scale = std::max(scale, std::fabs(row[4] - z0));
    ASSERT_GT(scale, 0.0);
    for (int n = 0; n < steps; ++n) {
        const std::vector<double>& now = r.trace[static_cast<std::size_t>(n)];
        const std::vector<double>& next = r.trace[static_cast<std::size_t>(n) + 1];
        EXPECT_EQ(now[0], n);
        EXPECT_EQ(now[2], dt);
        const double a = (-stiffness * (z - z0) - now[3] * area) / mass;
        const double v_half = v + 0.5 * dt * a;
        z += dt * v_half;
        v = v_half + 0.5 * dt * a;
        EXPECT_NEAR(next[4], z, 1e-9 * scale) << "step " << n + 1;
        EXPECT_NEAR(next[5], v, 1e-9 * scale / dt) << "step " << n + 1;
        EXPECT_EQ(next[6], now[5]) << "step " << n + 1;
    }
    // Under the first steps' load of about p0 A the facet starts down as
    // -(p0 A / m) t^2 / 2.
    const double t = 3 * dt;
    EXPECT_NEAR(r.trace[3][4], -0.5 * p0 * area / mass * t * t, 0.01 * p0 * area / mass * t * t);
}

TEST_F(CoupledPlate, RefusesADeckWithoutItsRegionsAndBadArguments) {
    // The water example builds, but has no coupling region.
    const std::string deck = (fs::path(VELUNOR_SOURCE_DIR) / "examples/water_release.inp").string();
    const Output r = run(std::string("'").append(deck).append("'"));
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(r.err, std::string("coupled_plate: no coupling region PLATE with facets in ")
                         .append(deck)
                         .append("\n"));
    EXPECT_EQ(r.out, "");

    const Output missing =
        run(std::string("'").append((dir_ / "missing.inp").string()).append("'"));
    EXPECT_EQ(missing.code, 1);
    EXPECT_EQ(missing.err,
              "coupled_plate: velunor_read_inp(deck) failed: failed to open input file "
              "(status 3)\n");

    const std::string usage = "usage: coupled_plate DECK [--steps N] [--stiffness K] [--trace]\n";
    for (const char* args : {"", "deck.inp --steps 0", "deck.inp --stiffness -1", "a.inp b.inp"}) {
        const Output bad = run(args);
        EXPECT_EQ(bad.code, 2) << args;
        EXPECT_EQ(bad.err, usage) << args;
    }
}

}  // namespace

#endif
