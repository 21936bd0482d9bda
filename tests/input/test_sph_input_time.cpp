// *VELUNOR TIME CONTROL: own option scan, prefixed messages, run control.

#include <gtest/gtest.h>

#include <string>

#include "core/sph_model.hpp"
#include "deck_test_util.hpp"

using deck_test::fresh_model;
using deck_test::read_text;

namespace {

struct TimeResult {
    int status = 0;
    std::string message;  // without the file:line: prefix
    ControlState control;
    bool flag = false;
};

// Reads a one-node deck whose third line is `keyword_line`.
TimeResult read_time(std::string_view keyword_line) {
    auto m = fresh_model();
    std::string path;
    TimeResult r;
    r.status = read_text(*m, "*NODE\n1, 0, 0, 0\n" + std::string(keyword_line) + "\n", &path);
    r.message = m->error.last_error_message;
    std::string prefix = path + ":3: ";
    if (r.status != 0) {
        EXPECT_EQ(r.message.rfind(prefix, 0), 0u) << r.message;
        if (r.message.rfind(prefix, 0) == 0) r.message.erase(0, prefix.size());
        EXPECT_EQ(m->error.last_error_code, r.status);
    }
    r.control = m->control;
    r.flag = m->input.input_has_time_control;
    return r;
}

}  // namespace

TEST(InputTime, RequiredValuesAndDefaultSafety) {
    TimeResult r = read_time("*VELUNOR TIME CONTROL, DT=1e-6, TIME=0.01, STEPS=10000");
    ASSERT_EQ(r.status, 0) << r.message;
    EXPECT_EQ(r.control.dt_default, 1e-6);
    EXPECT_EQ(r.control.end_time, 0.01);
    EXPECT_EQ(r.control.max_steps, 10000);
    EXPECT_EQ(r.control.safety_factor, 1.0);
    EXPECT_TRUE(r.flag);

    r = read_time("*velunor time control, end time=0.5, Max Steps=20, dt=2D-3, safety=0.5");
    ASSERT_EQ(r.status, 0) << r.message;
    EXPECT_EQ(r.control.end_time, 0.5);
    EXPECT_EQ(r.control.max_steps, 20);
    EXPECT_EQ(r.control.dt_default, 2e-3);
    EXPECT_EQ(r.control.safety_factor, 0.5);
}

TEST(InputTime, KeysMatchByPrefixAndTheLastOneWins) {
    TimeResult r = read_time(
        "*VELUNOR TIME CONTROL, DTMAX=1e-5, TIME_END=2, STEPSIZE=3, DT=4e-6, STEPS=7, OTHER=x");
    ASSERT_EQ(r.status, 0) << r.message;
    EXPECT_EQ(r.control.dt_default, 4e-6);
    EXPECT_EQ(r.control.end_time, 2.0);
    EXPECT_EQ(r.control.max_steps, 7);
    // END_TIME (underscore) matches nothing, so TIME stays missing.
    r = read_time("*VELUNOR TIME CONTROL, DT=1, END_TIME=1, STEPS=1");
    EXPECT_EQ(r.status, 4);
    EXPECT_EQ(r.message, "missing required VELUNOR TIME CONTROL option");
}

TEST(InputTime, ReaderMessages) {
    struct Case {
        const char* line;
        const char* message;
    };
    const Case cases[] = {
        {"*VELUNOR TIME CONTROL, DT=1e-6, TIME=0.01",
         "missing required VELUNOR TIME CONTROL option"},
        {"*VELUNOR TIME CONTROL", "missing required VELUNOR TIME CONTROL option"},
        {"*VELUNOR TIME CONTROL, DT=, TIME=1, STEPS=1", "invalid VELUNOR TIME CONTROL DT"},
        {"*VELUNOR TIME CONTROL, DT=1, TIME=soon, STEPS=1", "invalid VELUNOR TIME CONTROL TIME"},
        {"*VELUNOR TIME CONTROL, DT=1, TIME=1, STEPS=3.0", "invalid VELUNOR TIME CONTROL STEPS"},
        {"*VELUNOR TIME CONTROL, DT=1, TIME=1, STEPS=9999999999",
         "invalid VELUNOR TIME CONTROL STEPS"},
        {"*VELUNOR TIME CONTROL, DT=1, TIME=1, STEPS=1, SAFETY=",
         "invalid VELUNOR TIME CONTROL SAFETY"},
        {"*VELUNOR TIME CONTROL, DT=1e400, TIME=1, STEPS=1", "invalid VELUNOR TIME CONTROL DT"},
        // The first unreadable field ends the keyword, even before a missing option.
        {"*VELUNOR TIME CONTROL, SAFETY=x", "invalid VELUNOR TIME CONTROL SAFETY"},
    };
    for (const Case& c : cases) {
        TimeResult r = read_time(c.line);
        EXPECT_EQ(r.status, 4) << c.line;
        EXPECT_EQ(r.message, c.message) << c.line;
        EXPECT_EQ(r.control.max_steps, sph_default_max_steps) << c.line;
    }
}

TEST(InputTime, RunControlChecksArePrefixedAndKeepTheirCode) {
    struct Case {
        const char* line;
        const char* message;
    };
    const Case cases[] = {
        {"*VELUNOR TIME CONTROL, DT=0, TIME=1, STEPS=1", "time control DT must be positive"},
        {"*VELUNOR TIME CONTROL, DT=-1, TIME=0, STEPS=0, SAFETY=0",
         "time control DT must be positive"},
        {"*VELUNOR TIME CONTROL, DT=1e-400, TIME=1, STEPS=1", "time control DT must be positive"},
        {"*VELUNOR TIME CONTROL, DT=1, TIME=-1, STEPS=1", "time control TIME must be positive"},
        {"*VELUNOR TIME CONTROL, DT=1, TIME=1, STEPS=0", "time control STEPS must be positive"},
        {"*VELUNOR TIME CONTROL, DT=1, TIME=1, STEPS=1, SAFETY=-0.5",
         "time control SAFETY must be positive"},
    };
    for (const Case& c : cases) {
        TimeResult r = read_time(c.line);
        EXPECT_EQ(r.status, 1) << c.line;
        EXPECT_EQ(r.message, c.message) << c.line;
        EXPECT_EQ(r.control.dt_default, sph_default_dt) << c.line;  // nothing stored
    }
}

TEST(InputTime, IntegratorOption) {
    TimeResult r = read_time("*VELUNOR TIME CONTROL, DT=1, TIME=1, STEPS=1");
    ASSERT_EQ(r.status, 0) << r.message;
    EXPECT_EQ(r.control.integrator, sph_integrator_default);
    r = read_time("*VELUNOR TIME CONTROL, DT=1, TIME=1, STEPS=1, integrator= Verlet ");
    ASSERT_EQ(r.status, 0) << r.message;
    EXPECT_EQ(r.control.integrator, sph_integrator_verlet);
    r = read_time(
        "*VELUNOR TIME CONTROL, INTEGRATOR=VERLET, DT=1, TIME=1, STEPS=1, "
        "INTEGRATOR=DEFAULT");
    ASSERT_EQ(r.status, 0) << r.message;
    EXPECT_EQ(r.control.integrator, sph_integrator_default);
    for (const char* line : {"*VELUNOR TIME CONTROL, DT=1, TIME=1, STEPS=1, INTEGRATOR=RK4",
                             "*VELUNOR TIME CONTROL, DT=1, TIME=1, STEPS=1, INTEGRATOR="}) {
        r = read_time(line);
        EXPECT_EQ(r.status, 4) << line;
        EXPECT_EQ(r.message, "invalid VELUNOR TIME CONTROL INTEGRATOR") << line;
        EXPECT_EQ(r.control.integrator, sph_integrator_default) << line;
    }
    // A later time control without the option goes back to the documented scheme.
    auto m = fresh_model();
    ASSERT_EQ(read_text(*m,
                        "*NODE\n1, 0, 0, 0\n"
                        "*VELUNOR TIME CONTROL, DT=1, TIME=1, STEPS=1, INTEGRATOR=VERLET\n"
                        "*VELUNOR TIME CONTROL, DT=1, TIME=1, STEPS=1\n"),
              0);
    EXPECT_EQ(m->control.integrator, sph_integrator_default);
}
