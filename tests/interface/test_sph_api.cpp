// The API layer's life cycle around decks: what a failed read, a failed
// rebuild and a new initialization leave behind.

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <limits>
#include <string>
#include <vector>

#include "../input/deck_test_util.hpp"
#include "c_api_test_util.hpp"
#include "core/sph_model.hpp"
#include "interface/sph_api.hpp"
#include "velunor.h"

using c_api_test::last_error_message;
using deck_test::TempDeck;
using deck_test::water_deck;

namespace {

class ApiDeck : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_EQ(velunor_initialize(), 0); }
    void TearDown() override { EXPECT_EQ(velunor_finalize(), 0); }
};

}  // namespace

// A deck that fails after every required keyword was read must not become a
// model that builds from half its data.
TEST_F(ApiDeck, FailedReadLeavesNothingToBuild) {
    TempDeck good(water_deck);
    TempDeck late_failure(std::string(water_deck) + "*NODE\n3, 0, 0\n");
    ASSERT_EQ(velunor_read_inp(good.path().c_str()), 0);
    ASSERT_EQ(velunor_build_model(), 0);

    int code = 0;
    ASSERT_EQ(velunor_read_inp(late_failure.path().c_str()), 4);
    const std::string read_message = last_error_message(code);
    int count = -1;
    EXPECT_EQ(velunor_get_particle_count(&count), 0);
    EXPECT_EQ(count, 0);
    EXPECT_EQ(last_error_message(code), read_message);  // a successful query keeps the record

    EXPECT_EQ(velunor_build_model(), 4);
    EXPECT_EQ(last_error_message(code), "input is missing *NODE particle data");
    EXPECT_EQ(velunor_run_explicit(), 2);

    // The next good deck reads and builds as usual.
    ASSERT_EQ(velunor_read_inp(good.path().c_str()), 0);
    EXPECT_EQ(velunor_build_model(), 0);
}

// A rebuild that fails leaves the model-built flag cleared, so no step runs
// on a half-rebuilt model.
TEST_F(ApiDeck, FailedRebuildClearsTheModelFlag) {
    TempDeck good(water_deck);
    ASSERT_EQ(velunor_read_inp(good.path().c_str()), 0);
    ASSERT_EQ(velunor_build_model(), 0);
    sph_api_model().input.input_has_time_control = false;
    int code = 0;
    EXPECT_EQ(velunor_build_model(), 4);
    EXPECT_EQ(velunor_run_explicit(), 2);
    EXPECT_EQ(last_error_message(code), "Velunor model is not built");
}

// Initialization discards the deck, including the reader's warning count.
TEST_F(ApiDeck, InitializeForgetsTheDeckWarnings) {
    TempDeck good(water_deck);
    ASSERT_EQ(velunor_read_inp(good.path().c_str()), 0);
    ASSERT_EQ(velunor_build_model(), 0);
    int count = -1;
    ASSERT_EQ(velunor_get_input_warning_count(&count), 0);
    ASSERT_GT(count, 0);
    ASSERT_EQ(velunor_initialize(), 0);
    EXPECT_EQ(velunor_get_input_warning_count(&count), 0);
    EXPECT_EQ(count, 0);
    EXPECT_EQ(velunor_build_model(), 4);
}

// Every deck starts from the state initialization gives its modules: deck B
// must not inherit the water settings of deck A read before it.
TEST_F(ApiDeck, EveryDeckReadStartsAfresh) {
    const std::string without_water_settings = R"(*NODE
1, 0.0, 0.0, 0.0
2, 0.5, 0.0, 0.0
*NSET, NSET=ALLN
1, 2
*MATERIAL, NAME=Water, TYPE=WATER
*DENSITY
1000.0
*FLUID SECTION, NSET=ALLN, MATERIAL=Water
*VELUNOR TIME CONTROL, DT=1e-6, TIME=1e-3, STEPS=10
)";
    TempDeck a(water_deck);
    TempDeck b(without_water_settings);
    TempDeck broken_a(std::string(water_deck) + "*NODE\n3, 0, 0\n");

    // B read fresh: the reference outcome.
    ASSERT_EQ(velunor_read_inp(b.path().c_str()), 0);
    const int fresh_status = velunor_build_model();
    const std::string fresh_message = last_error_message();
    ASSERT_EQ(fresh_status, 4);
    EXPECT_EQ(fresh_message, "input is missing *VELUNOR EOS for Water");

    ASSERT_EQ(velunor_initialize(), 0);
    ASSERT_EQ(velunor_set_output_interval(7), 0);
    ASSERT_EQ(velunor_read_inp(a.path().c_str()), 0);
    ASSERT_EQ(velunor_build_model(), 0);
    ASSERT_EQ(velunor_read_inp(b.path().c_str()), 0);
    EXPECT_EQ(velunor_build_model(), fresh_status);
    EXPECT_EQ(last_error_message(), fresh_message);
    EXPECT_EQ(sph_api_model().control.output_interval, 7);  // run control survives a read

    // A failed read of A leaves nothing of A: not its particles, not its
    // water settings.
    ASSERT_EQ(velunor_read_inp(a.path().c_str()), 0);
    ASSERT_EQ(velunor_build_model(), 0);
    EXPECT_EQ(velunor_read_inp(broken_a.path().c_str()), 4);
    const Model& m = sph_api_model();
    EXPECT_EQ(m.db.npart, 0);
    EXPECT_FALSE(m.water.water_eos_defined);
    EXPECT_FALSE(m.water.water_material_seen);
    EXPECT_EQ(m.water.water_default_h, WaterState{}.water_default_h);
    ASSERT_EQ(velunor_read_inp(b.path().c_str()), 0);
    EXPECT_EQ(velunor_build_model(), fresh_status);
}

// Reading the same deck twice without initializing builds the same model.
TEST_F(ApiDeck, SameDeckTwiceBuildsTheSameModel) {
    TempDeck a(std::string(water_deck) + "*INITIAL CONDITIONS, TYPE=VELOCITY\n1, 1, 2.0\n");
    const auto snapshot = [] {
        const Model& m = sph_api_model();
        std::vector<double> values;
        for (int i = 0; i < m.db.npart; ++i) {
            for (double q : {m.db.x[i].x, m.db.x[i].y, m.db.x[i].z, m.db.v[i].x, m.db.v[i].y,
                             m.db.v[i].z, m.db.rho[i], m.db.pressure[i], m.db.mass[i], m.db.h[i],
                             double(m.db.particle_phase[i]), double(m.db.material_id[i]),
                             double(m.db.neighbor_count[i])}) {
                values.push_back(q);
            }
        }
        const WaterState& w = m.water;
        for (double q : {w.water_rho0, w.water_c0, w.water_b, w.water_visc_alpha,
                         w.water_default_mass, w.water_body_force.z}) {
            values.push_back(q);
        }
        return values;
    };
    ASSERT_EQ(velunor_read_inp(a.path().c_str()), 0);
    ASSERT_EQ(velunor_build_model(), 0);
    const std::vector<double> first = snapshot();
    int warnings_first = 0;
    ASSERT_EQ(velunor_get_input_warning_count(&warnings_first), 0);
    ASSERT_EQ(velunor_read_inp(a.path().c_str()), 0);
    ASSERT_EQ(velunor_build_model(), 0);
    EXPECT_EQ(snapshot(), first);
    int warnings_second = 0;
    ASSERT_EQ(velunor_get_input_warning_count(&warnings_second), 0);
    EXPECT_EQ(warnings_second, warnings_first);
}

// A NaN or infinite output time would be written into the PVD collection.
TEST_F(ApiDeck, NonFiniteOutputTimeIsRefused) {
    TempDeck a(water_deck);
    ASSERT_EQ(velunor_read_inp(a.path().c_str()), 0);
    ASSERT_EQ(velunor_build_model(), 0);
    const auto dir = deck_test::temp_dir() / "nan_output_time";
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
    ASSERT_EQ(velunor_set_output_directory(dir.string().c_str()), 0);
    int code = 0;
    for (double time : {std::nan(""), std::numeric_limits<double>::infinity(),
                        -std::numeric_limits<double>::infinity()}) {
        EXPECT_EQ(velunor_write_output(3, time), 1);
        EXPECT_EQ(last_error_message(code), "output time must be finite");
        EXPECT_EQ(code, 1);
    }
    EXPECT_TRUE(std::filesystem::is_empty(dir));
    EXPECT_EQ(sph_api_model().pvd.entries.size(), 0u);
    EXPECT_EQ(velunor_write_output(3, 1.5e-6), 0);
    EXPECT_EQ(sph_api_model().pvd.entries.size(), 1u);
    std::filesystem::remove_all(dir);
}

// The C host sees a refused infinite step with its message.
TEST_F(ApiDeck, InfiniteStepIsRefused) {
    TempDeck a(water_deck);
    ASSERT_EQ(velunor_read_inp(a.path().c_str()), 0);
    ASSERT_EQ(velunor_build_model(), 0);
    EXPECT_EQ(velunor_advance_explicit(std::numeric_limits<double>::infinity()), 1);
    EXPECT_EQ(last_error_message(), "time step must be finite");
    double time = -1.0;
    int step = -1;
    ASSERT_EQ(velunor_get_current_time(&time, &step), 0);
    EXPECT_EQ(time, 0.0);
    EXPECT_EQ(step, 0);
}

// A deck whose particles all sit at one point would need links beyond any
// memory: the build fails with status 5 and leaves no model to step.
TEST_F(ApiDeck, CoincidentParticlesFailTheBuildWithStatusFive) {
    std::string deck = "*NODE\n";
    for (int id = 1; id <= 20000; ++id) deck += std::to_string(id) + ", 0.5, 0.5, 0.5\n";
    deck +=
        "*NSET, NSET=ALL, GENERATE\n1, 20000\n"
        "*MATERIAL, NAME=Wall, TYPE=BOUNDARY\n*BOUNDARY SECTION, NSET=ALL, MATERIAL=Wall\n"
        "*VELUNOR TIME CONTROL, DT=1e-6, TIME=1e-3, STEPS=10\n";
    TempDeck coincident(deck);
    // 2 * 10^8 pairs would need 2.4 GB; the budget here is 16 MiB (and back
    // to the machine's when the test ends, however it ends).
    struct Budget {
        Budget() { sph_api_model().neighbor.link_memory_limit = int64_t{16} << 20; }
        ~Budget() { sph_api_model().neighbor.link_memory_limit = 0; }
    } budget;
    ASSERT_EQ(velunor_read_inp(coincident.path().c_str()), 0);
    int code = 0;
    EXPECT_EQ(velunor_build_model(), 5);
    EXPECT_EQ(last_error_message(code), "failed to allocate neighbor storage");
    EXPECT_EQ(code, 5);
    EXPECT_EQ(velunor_run_explicit(), 2);
}
