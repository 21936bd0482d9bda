#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "core/sph_model.hpp"

TEST(Control, ResetRestoresEveryDefault) {
    ControlState c;
    c.current_time = 3.0;
    c.current_step = 9;
    c.dt_default = 2.0;
    c.end_time = 5.0;
    c.safety_factor = 0.5;
    c.max_steps = 40;
    c.output_interval = 7;
    c.output_directory = "elsewhere";
    c.output_enabled = true;
    sph_control_reset(c);
    double time = -1.0;
    int step = -1;
    sph_control_get_time(c, time, step);
    EXPECT_EQ(time, 0.0);
    EXPECT_EQ(step, 0);
    EXPECT_EQ(c.dt_default, 1.0e-6);
    EXPECT_EQ(c.end_time, 1.0e-6);
    EXPECT_EQ(c.safety_factor, 1.0);
    EXPECT_EQ(c.max_steps, 1);
    EXPECT_EQ(c.output_interval, 1);
    EXPECT_EQ(c.output_directory, "output");
    EXPECT_FALSE(c.output_enabled);
}

TEST(Control, ValidateTimeReportsTheFirstBadValueInOrder) {
    Model m;
    struct Case {
        double dt, end;
        int steps;
        double safety;
        const char* message;
    };
    const Case cases[] = {
        {0.0, -1.0, 0, -1.0, "time control DT must be positive"},
        {1.0, 0.0, 0, 0.0, "time control TIME must be positive"},
        {1.0, 1.0, -3, 0.0, "time control STEPS must be positive"},
        {1.0, 1.0, 1, 0.0, "time control SAFETY must be positive"},
    };
    for (const Case& c : cases) {
        sph_error_clear(m.error);
        EXPECT_EQ(sph_control_validate_time(m, c.dt, c.end, c.steps, c.safety), sph_error_argument);
        EXPECT_EQ(m.error.last_error_code, sph_error_argument);
        EXPECT_EQ(m.error.last_error_message, c.message);
    }
    sph_error_clear(m.error);
    EXPECT_EQ(sph_control_validate_time(m, 1e-5, 1e-3, 10, 0.5), sph_success);
    EXPECT_EQ(m.error.last_error_message, "OK");
}

TEST(Control, SetTimeKeepsValuesThatAreNotPositiveOrNaN) {
    Model m;
    ControlState& c = m.control;
    sph_control_set_time(c, 2e-6, 4e-3, 20, 0.8);
    EXPECT_EQ(c.dt_default, 2e-6);
    EXPECT_EQ(c.end_time, 4e-3);
    EXPECT_EQ(c.max_steps, 20);
    EXPECT_EQ(c.safety_factor, 0.8);

    // NaN passes validation (comparisons with NaN are false) and is then not stored.
    const double nan = std::nan("");
    EXPECT_EQ(sph_control_validate_time(m, nan, nan, 1, nan), sph_success);
    sph_control_set_time(c, nan, -1.0, 0, 0.0);
    EXPECT_EQ(c.dt_default, 2e-6);
    EXPECT_EQ(c.end_time, 4e-3);
    EXPECT_EQ(c.max_steps, 20);
    EXPECT_EQ(c.safety_factor, 0.8);
}

TEST(Control, OutputIntervalMustBePositive) {
    Model m;
    EXPECT_EQ(sph_output_set_interval(m, 0), sph_error_argument);
    EXPECT_EQ(m.error.last_error_message, "output interval must be positive");
    EXPECT_EQ(m.control.output_interval, 1);
    EXPECT_EQ(sph_output_set_interval(m, 25), sph_success);
    EXPECT_EQ(m.control.output_interval, 25);
}

TEST(Control, OutputDirectoryEnablesOutputAndRestartsTheSeries) {
    Model m;
    m.pvd.entries.push_back(PvdEntry{1, 0.5, "velunor_00000001.vtu"});

    EXPECT_EQ(sph_output_set_directory(m, "    "), sph_error_argument);
    EXPECT_EQ(m.error.last_error_message, "output directory must not be empty");
    EXPECT_FALSE(m.control.output_enabled);
    EXPECT_EQ(m.control.output_directory, "output");
    EXPECT_EQ(m.pvd.entries.size(), 1u);

    EXPECT_EQ(sph_output_set_directory(m, " run 1/out   "), sph_success);
    EXPECT_TRUE(m.control.output_enabled);
    EXPECT_EQ(m.control.output_directory, " run 1/out");  // leading blanks are part of a path
    EXPECT_TRUE(m.pvd.entries.empty());
}

TEST(Control, OutputDirectoryLongerThanTheFieldIsRefusedNotCut) {
    Model m;
    EXPECT_EQ(sph_output_set_directory(m, std::string(256, 'd') + "   "), sph_success);
    EXPECT_EQ(m.control.output_directory.size(), 256u);

    m.pvd.entries.push_back(PvdEntry{});
    EXPECT_EQ(sph_output_set_directory(m, std::string(257, 'e')), sph_error_argument);
    EXPECT_EQ(m.error.last_error_message,
              "output directory must not be longer than 256 characters");
    EXPECT_EQ(m.control.output_directory, std::string(256, 'd'));
    EXPECT_EQ(m.pvd.entries.size(), 1u);
}
