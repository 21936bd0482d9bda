// The API layer's life cycle around decks: what a failed read, a failed
// rebuild and a new initialization leave behind.

#include <gtest/gtest.h>

#include <string>

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
