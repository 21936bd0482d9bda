// The C exports as a host sees them: life-cycle guards, -1 rejections, text
// in and out, run control, particle state and the exception barrier.

#include <gtest/gtest.h>

#include <algorithm>
#include <cfloat>
#include <climits>
#include <cmath>
#include <cstring>
#include <functional>
#include <limits>
#include <new>
#include <stdexcept>
#include <string>
#include <vector>

#include "../input/deck_test_util.hpp"
#include "c_api_test_util.hpp"
#include "core/sph_model.hpp"
#include "interface/sph_api.hpp"
#include "interface/sph_c_api_internal.hpp"
#include "velunor.h"

namespace {

struct LastError {
    int code = -99;
    std::string message;
};

LastError last_error() {
    LastError e;
    e.message = c_api_test::last_error_message(e.code);
    return e;
}

// Every test starts from a freshly initialized library and leaves it finalized.
class CApi : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_EQ(velunor_initialize(), 0); }
    void TearDown() override { EXPECT_EQ(velunor_finalize(), 0); }
    Model& model() { return sph_api_model(); }
};

// Records a known failure so that tests can see whether a call changed it.
void plant_error() {
    sph_error_set(sph_api_model().error, 4, "planted");
}

struct NamedCall {
    const char* name;
    std::function<int()> call;
};

// Exports behind the initialized guard, with zero-able outputs prefilled by
// non-zero values so that the tests see the clearing.
struct QueryOutputs {
    double d[32];
    int i[32];
    QueryOutputs() { reset(); }
    void reset() {
        for (double& v : d) v = 7.5;
        for (int& v : i) v = 7;
    }
};

// Files the guarded writers may create once initialized go to the system's
// temporary directory, not to the directory the tests run in.
std::string scratch_path(const char* name) {
    return (deck_test::temp_dir() / name).string();
}

std::vector<NamedCall> guarded_calls(QueryOutputs& o) {
    double* d = o.d;
    int* i = o.i;
    return {
        {"read_inp", [] { return velunor_read_inp("deck.inp"); }},
        {"build_model", [] { return velunor_build_model(); }},
        {"estimate_stable_dt", [d] { return velunor_estimate_stable_dt(d); }},
        {"advance_explicit", [] { return velunor_advance_explicit(1e-6); }},
        {"run_explicit", [] { return velunor_run_explicit(); }},
        {"get_current_time", [d, i] { return velunor_get_current_time(d, i); }},
        {"get_particle_count", [i] { return velunor_get_particle_count(i); }},
        {"get_input_warning_count", [i] { return velunor_get_input_warning_count(i); }},
        {"set_output_directory", [] { return velunor_set_output_directory("out"); }},
        {"set_output_interval", [] { return velunor_set_output_interval(3); }},
        {"write_output", [] { return velunor_write_output(1, 0.0); }},
        {"get_particle_state",
         [d, i] {
             return velunor_get_particle_state(1, i, i + 1, i + 2, i + 3, i + 4, d, d + 3, d + 6,
                                               d + 9, d + 10, d + 11, d + 12, d + 13, i + 5);
         }},
        {"write_csv", [] { return velunor_write_csv(scratch_path("a.csv").c_str()); }},
        {"write_vtu", [] { return velunor_write_vtu(scratch_path("a.vtu").c_str()); }},
        {"write_restart", [] { return velunor_write_restart(scratch_path("a.rst").c_str()); }},
        {"read_restart", [] { return velunor_read_restart(scratch_path("a.rst").c_str()); }},
        {"get_water_summary",
         [d] { return velunor_get_water_summary(d, d + 1, d + 4, d + 5, d + 6); }},
        {"get_water_dt_limits", [d] { return velunor_get_water_dt_limits(d, d + 1, d + 2); }},
        {"get_gas_summary", [d] { return velunor_get_gas_summary(d, d + 1, d + 4, d + 5); }},
        {"get_gas_bubble_metrics", [d] { return velunor_get_gas_bubble_metrics(d, d + 1, d + 2); }},
        {"get_gas_dt_limits", [d] { return velunor_get_gas_dt_limits(d, d + 1, d + 2); }},
        {"get_gas_extended_summary",
         [d] { return velunor_get_gas_extended_summary(d, d + 1, d + 4, d + 6); }},
        {"get_gas_source_summary", [d] { return velunor_get_gas_source_summary(d, d + 1, d + 4); }},
        {"set_ignition_point", [] { return velunor_set_ignition_point(0, 0, 0, 0); }},
        {"get_explosive_summary",
         [d, i] { return velunor_get_explosive_summary(i, i + 1, d, d + 3, d + 8); }},
        {"get_explosive_release_balance",
         [d] { return velunor_get_explosive_release_balance(d, d + 4, d + 6); }},
        {"get_solid_summary", [d, i] { return velunor_get_solid_summary(i, i + 1, d + 16, 16); }},
        {"get_solid_particle_state",
         [d, i] {
             return velunor_get_solid_particle_state(1, d, 22, i, i + 1, i + 2, i + 3, i + 4);
         }},
        {"get_solid_diagnostics", [d] { return velunor_get_solid_diagnostics(d, 3); }},
        {"get_solid_reference_quality",
         [d, i] { return velunor_get_solid_reference_quality(i, i + 1, d, 1); }},
    };
}

}  // namespace

TEST(CApiLifeCycle, EveryGuardedExportRefusesBeforeInitializeAndClearsItsOutputs) {
    ASSERT_EQ(velunor_finalize(), 0);
    QueryOutputs o;
    for (const NamedCall& c : guarded_calls(o)) {
        SCOPED_TRACE(c.name);
        o.reset();
        EXPECT_EQ(c.call(), VELUNOR_STATUS_STATE);
        const LastError e = last_error();
        EXPECT_EQ(e.code, 2);
        EXPECT_EQ(e.message, "Velunor API is not initialized");
    }
    // Spot checks of the clearing (the solid summary values stay untouched).
    QueryOutputs q;
    EXPECT_EQ(velunor_get_current_time(q.d, q.i), 2);
    EXPECT_EQ(q.d[0], 0.0);
    EXPECT_EQ(q.i[0], 0);
    EXPECT_EQ(velunor_get_water_summary(q.d, q.d + 1, q.d + 4, q.d + 5, q.d + 6), 2);
    for (int k = 0; k < 7; ++k) EXPECT_EQ(q.d[k], 0.0) << k;
    q.reset();
    EXPECT_EQ(velunor_get_explosive_summary(q.i, q.i + 1, q.d, q.d + 3, q.d + 8), 2);
    EXPECT_EQ(q.i[0], 0);
    for (int k = 0; k < 10; ++k) EXPECT_EQ(q.d[k], 0.0) << k;
    q.reset();
    EXPECT_EQ(velunor_get_solid_summary(q.i, q.i + 1, q.d, 16), 2);
    EXPECT_EQ(q.i[0], 0);
    EXPECT_EQ(q.i[1], 0);
    EXPECT_EQ(q.d[0], 7.5);
    q.reset();
    EXPECT_EQ(velunor_get_solid_particle_state(1, q.d, 22, q.i, q.i + 1, q.i + 2, q.i + 3, q.i + 4),
              2);
    for (int k = 0; k < 22; ++k) EXPECT_EQ(q.d[k], 0.0) << k;
    for (int k = 0; k < 5; ++k) EXPECT_EQ(q.i[k], 0) << k;
}

TEST(CApiLifeCycle, VersionWorksWithoutInitializeAndRejectsNull) {
    ASSERT_EQ(velunor_finalize(), 0);
    int major = -1, minor = -1, patch = -1;
    EXPECT_EQ(velunor_get_version(&major, &minor, &patch), 0);
    EXPECT_EQ(major, 0);
    EXPECT_EQ(minor, 8);
    EXPECT_EQ(patch, 3);
    EXPECT_EQ(velunor_get_version(&major, nullptr, &patch), -1);
}

TEST(CApiLifeCycle, FinalizeTwiceLeavesOkAndKeepsRunControl) {
    ASSERT_EQ(velunor_initialize(), 0);
    ASSERT_EQ(velunor_set_output_interval(7), 0);
    plant_error();
    EXPECT_EQ(velunor_finalize(), 0);
    EXPECT_EQ(velunor_finalize(), 0);
    const LastError e = last_error();
    EXPECT_EQ(e.code, 0);
    EXPECT_EQ(e.message, "OK");
    EXPECT_FALSE(sph_api_model().api.sph_api_initialized);
    // Run control survives finalize; the next initialize resets it.
    EXPECT_EQ(sph_api_model().control.output_interval, 7);
    ASSERT_EQ(velunor_initialize(), 0);
    EXPECT_EQ(sph_api_model().control.output_interval, 1);
    EXPECT_EQ(velunor_finalize(), 0);
}

TEST_F(CApi, InitializeDiscardsEverythingAndSetsRunControlDefaults) {
    Model& m = model();
    ASSERT_EQ(sph_db_allocate(m, 4), 0);
    m.db.coupling_regions.resize(2);
    m.control.current_time = 1.5;
    m.control.current_step = 12;
    m.control.output_enabled = true;
    m.pvd.entries.push_back(PvdEntry{});
    sph_api_state_set_model_built(m.api, true);
    plant_error();

    ASSERT_EQ(velunor_initialize(), 0);
    const LastError e = last_error();
    EXPECT_EQ(e.code, 0);
    EXPECT_EQ(e.message, "OK");
    EXPECT_FALSE(m.api.sph_api_model_built);
    EXPECT_TRUE(m.api.sph_api_initialized);
    EXPECT_TRUE(m.pvd.entries.empty());
    EXPECT_TRUE(m.water.water_module_initialized);
    EXPECT_TRUE(m.particle.particle_module_initialized);
    EXPECT_TRUE(m.material.material_module_initialized);

    int count = -1;
    EXPECT_EQ(velunor_get_particle_count(&count), 0);
    EXPECT_EQ(count, 0);
    EXPECT_EQ(velunor_coupling_get_region_count(&count), 0);
    EXPECT_EQ(count, 0);
    double time = -1.0;
    int step = -1;
    EXPECT_EQ(velunor_get_current_time(&time, &step), 0);
    EXPECT_EQ(time, 0.0);
    EXPECT_EQ(step, 0);
    EXPECT_EQ(m.control.dt_default, 1e-6);
    EXPECT_EQ(m.control.end_time, 1e-6);
    EXPECT_EQ(m.control.max_steps, 1);
    EXPECT_EQ(m.control.safety_factor, 1.0);
    EXPECT_EQ(m.control.output_interval, 1);
    EXPECT_EQ(m.control.output_directory, "output");
    EXPECT_FALSE(m.control.output_enabled);
}

TEST_F(CApi, FinalizeFreesTheModelAndResetsModules) {
    Model& m = model();
    ASSERT_EQ(sph_db_allocate(m, 3), 0);
    sph_api_state_set_model_built(m.api, true);
    EXPECT_EQ(velunor_finalize(), 0);
    EXPECT_EQ(m.db.npart, 0);
    EXPECT_TRUE(m.db.x.empty());
    EXPECT_FALSE(m.api.sph_api_model_built);
    EXPECT_FALSE(m.water.water_module_initialized);
    EXPECT_FALSE(m.particle.particle_module_initialized);
    EXPECT_FALSE(m.material.material_module_initialized);
    ASSERT_EQ(velunor_initialize(), 0);  // for TearDown
}

TEST_F(CApi, BuiltGuardFollowsTheInitializedGuard) {
    double dt = 5.0;
    EXPECT_EQ(velunor_estimate_stable_dt(&dt), 2);
    EXPECT_EQ(dt, 0.0);
    EXPECT_EQ(last_error().message, "Velunor model is not built");
    EXPECT_EQ(velunor_advance_explicit(1e-6), 2);
    EXPECT_EQ(last_error().message, "Velunor model is not built");

    // Reading a deck clears the model flag before anything is read.
    sph_api_state_set_model_built(model().api, true);
    EXPECT_NE(velunor_read_inp("missing.inp"), 0);
    EXPECT_EQ(velunor_run_explicit(), 2);
    EXPECT_EQ(last_error().message, "Velunor model is not built");
}

TEST_F(CApi, LastErrorTextIsTrimmedCutAndAlwaysTerminated) {
    ASSERT_EQ(velunor_finalize(), 0);
    ASSERT_EQ(velunor_build_model(), 2);  // "Velunor API is not initialized"

    int code = -1;
    char buffer[8];
    std::memset(buffer, 'x', sizeof buffer);
    EXPECT_EQ(velunor_get_last_error(&code, buffer, 1), 0);
    EXPECT_EQ(code, 2);
    EXPECT_EQ(buffer[0], '\0');
    EXPECT_EQ(buffer[1], 'x');

    std::memset(buffer, 'x', sizeof buffer);
    EXPECT_EQ(velunor_get_last_error(&code, buffer, 3), 0);
    EXPECT_STREQ(buffer, "Ve");
    EXPECT_EQ(buffer[3], 'x');

    char full[64];
    std::memset(full, 'x', sizeof full);
    EXPECT_EQ(velunor_get_last_error(&code, full, 31), 0);
    EXPECT_STREQ(full, "Velunor API is not initialized");  // exactly 30 bytes + NUL fit
    EXPECT_EQ(velunor_get_last_error(&code, full, 30), 0);
    EXPECT_STREQ(full, "Velunor API is not initialize");

    // Rejections write nothing.
    code = 77;
    std::memset(buffer, 'x', sizeof buffer);
    EXPECT_EQ(velunor_get_last_error(&code, buffer, 0), -1);
    EXPECT_EQ(velunor_get_last_error(&code, buffer, -5), -1);
    EXPECT_EQ(velunor_get_last_error(nullptr, buffer, 8), -1);
    EXPECT_EQ(velunor_get_last_error(&code, nullptr, 8), -1);
    EXPECT_EQ(code, 77);
    EXPECT_EQ(buffer[0], 'x');
    ASSERT_EQ(velunor_initialize(), 0);
}

TEST_F(CApi, LongMessagesReachTheHostCutAt256) {
    sph_error_set(model().error, 4, std::string(255, 'a') + "bcdef   ");
    int code = 0;
    std::vector<char> buffer(1000, 'x');
    EXPECT_EQ(velunor_get_last_error(&code, buffer.data(), 1000), 0);
    EXPECT_EQ(code, 4);
    EXPECT_EQ(std::string(buffer.data()), std::string(255, 'a') + "b");
}

TEST_F(CApi, PathsOfOneTo1024BytesAreAcceptedOthersRejectedWithoutMessage) {
    plant_error();
    EXPECT_EQ(velunor_read_inp(""), -1);
    EXPECT_EQ(velunor_read_inp(nullptr), -1);
    EXPECT_EQ(velunor_read_inp(std::string(1025, 'p').c_str()), -1);
    EXPECT_EQ(velunor_write_csv(std::string(5000, 'p').c_str()), -1);
    EXPECT_EQ(velunor_write_vtu(""), -1);
    EXPECT_EQ(velunor_write_restart(nullptr), -1);
    EXPECT_EQ(velunor_read_restart(""), -1);
    EXPECT_EQ(velunor_set_output_directory(""), -1);
    const LastError e = last_error();
    EXPECT_EQ(e.code, 4);
    EXPECT_EQ(e.message, "planted");

    // Accepted paths reach the API layer, which records its own status.
    EXPECT_NE(velunor_read_inp(std::string(1024, 'p').c_str()), -1);
    EXPECT_NE(last_error().message, "planted");
    EXPECT_NE(velunor_read_inp("p"), -1);
}

TEST_F(CApi, OutputSetters) {
    Model& m = model();
    plant_error();
    EXPECT_EQ(velunor_set_output_interval(0), -1);
    EXPECT_EQ(velunor_set_output_interval(-4), -1);
    EXPECT_EQ(last_error().message, "planted");
    EXPECT_EQ(velunor_set_output_interval(5), 0);
    EXPECT_EQ(m.control.output_interval, 5);

    // Trailing blanks of a host path are dropped, so a blank path is empty.
    EXPECT_EQ(velunor_set_output_directory("   "), 1);
    EXPECT_EQ(last_error().message, "output directory must not be empty");
    EXPECT_FALSE(m.control.output_enabled);

    m.pvd.entries.push_back(PvdEntry{});
    EXPECT_EQ(velunor_set_output_directory("results/run1  "), 0);
    EXPECT_EQ(m.control.output_directory, "results/run1");
    EXPECT_TRUE(m.control.output_enabled);
    EXPECT_TRUE(m.pvd.entries.empty());

    EXPECT_EQ(velunor_set_output_directory(std::string(300, 'd').c_str()), 1);
    EXPECT_EQ(m.control.output_directory, "results/run1");
}

TEST_F(CApi, ParticleStateCopiesTheHostLayoutOrWritesNothing) {
    Model& m = model();
    ASSERT_EQ(sph_db_allocate(m, 10), 0);
    for (int k = 0; k < 10; ++k) {
        ASSERT_EQ(sph_db_set_node(m, k, 100 + k, Vec3{1.0 * k, 2.0 * k, 3.0 * k}), 0);
    }
    std::vector<int> ints(5 * 10 + 1, -7);
    std::vector<double> reals(3 * 3 * 10 + 5 * 10, -7.0);
    int* id = ints.data();
    double* x = reals.data();
    double* v = x + 30;
    double* a = v + 30;
    double* s = a + 30;
    int count = -1;
    auto call = [&](int max_particles) {
        return velunor_get_particle_state(max_particles, id, id + 10, id + 20, id + 30, id + 40, x,
                                          v, a, s, s + 10, s + 20, s + 30, s + 40, &count);
    };

    EXPECT_EQ(call(1), 1);
    EXPECT_EQ(count, 10);
    EXPECT_EQ(last_error().message, "particle state buffer is too small");
    for (int value : ints) EXPECT_EQ(value, -7);
    for (double value : reals) EXPECT_EQ(value, -7.0);

    EXPECT_EQ(call(10), 0);
    EXPECT_EQ(count, 10);
    EXPECT_EQ(id[0], 100);
    EXPECT_EQ(id[9], 109);
    EXPECT_EQ(x[3 * 4 + 0], 4.0);
    EXPECT_EQ(x[3 * 4 + 2], 12.0);

    count = -1;
    EXPECT_EQ(call(0), -1);
    EXPECT_EQ(velunor_get_particle_state(10, id, id + 10, id + 20, id + 30, id + 40, x, v, a, s,
                                         s + 10, s + 20, nullptr, s + 40, &count),
              -1);
    EXPECT_EQ(count, -1);
}

TEST_F(CApi, NullOutputsAreRejected) {
    double d[4];
    int i[4];
    EXPECT_EQ(velunor_estimate_stable_dt(nullptr), -1);
    EXPECT_EQ(velunor_get_current_time(d, nullptr), -1);
    EXPECT_EQ(velunor_get_particle_count(nullptr), -1);
    EXPECT_EQ(velunor_get_input_warning_count(nullptr), -1);
    EXPECT_EQ(velunor_get_water_summary(d, d, d, nullptr, d), -1);
    EXPECT_EQ(velunor_get_water_dt_limits(nullptr, d, d), -1);
    EXPECT_EQ(velunor_get_gas_summary(d, nullptr, d, d), -1);
    EXPECT_EQ(velunor_get_gas_bubble_metrics(d, d, nullptr), -1);
    EXPECT_EQ(velunor_get_gas_dt_limits(d, d, nullptr), -1);
    EXPECT_EQ(velunor_get_gas_extended_summary(d, d, nullptr, d), -1);
    EXPECT_EQ(velunor_get_gas_source_summary(nullptr, d, d), -1);
    EXPECT_EQ(velunor_get_explosive_summary(i, i, d, d, nullptr), -1);
    EXPECT_EQ(velunor_get_explosive_release_balance(d, nullptr, d), -1);
    EXPECT_EQ(last_error().message, "OK");
}

TEST_F(CApi, SolidRejectionsUseTheirCapacities) {
    double d[64];
    int i[8];
    EXPECT_EQ(velunor_get_solid_summary(i, i, d, 15), -1);
    EXPECT_EQ(velunor_get_solid_summary(i, nullptr, d, 16), -1);
    EXPECT_EQ(velunor_get_solid_particle_state(0, d, 22, i, i, i, i, i), -1);
    EXPECT_EQ(velunor_get_solid_particle_state(2, d, 43, i, i, i, i, i), -1);
    EXPECT_EQ(velunor_get_solid_particle_state(1, d, 22, i, i, nullptr, i, i), -1);
    // 22 * max_particles does not fit in 32 bits; still a plain rejection.
    EXPECT_EQ(velunor_get_solid_particle_state(INT_MAX / 11, d, INT_MAX, i, i, i, i, i), -1);
    EXPECT_EQ(velunor_get_solid_diagnostics(d, 2), -1);
    EXPECT_EQ(velunor_get_solid_diagnostics(nullptr, 3), -1);
    EXPECT_EQ(velunor_get_solid_reference_quality(i, i, d, 0), -1);
    EXPECT_EQ(velunor_get_solid_reference_quality(i, i, nullptr, 1), -1);
    EXPECT_EQ(last_error().message, "OK");

    // Diagnostics clear every value the host offered before the guards.
    for (double& v : d) v = 3.0;
    EXPECT_EQ(velunor_get_solid_diagnostics(d, 5), 2);
    for (int k = 0; k < 5; ++k) EXPECT_EQ(d[k], 0.0);
    EXPECT_EQ(d[5], 3.0);
}

TEST_F(CApi, CouplingRejectionsLeaveTheLastErrorAlone) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    const int ids[2] = {1, 2};
    double forces[6] = {1, 2, 3, 4, 5, 6};
    double one[2] = {1, 1};
    double target[3] = {0, 0, 0};
    int n[12];
    double values[27];
    char name[8];
    plant_error();

    EXPECT_EQ(velunor_coupling_get_region_count(nullptr), -1);
    EXPECT_EQ(velunor_coupling_get_region_info(0, name, 8, n, n, n, n, n, n), -1);
    EXPECT_EQ(velunor_coupling_get_region_info(1, name, 1, n, n, n, n, n, n), -1);
    EXPECT_EQ(velunor_coupling_get_region_info(1, nullptr, 8, n, n, n, n, n, n), -1);
    EXPECT_EQ(velunor_coupling_get_region_info(1, name, 8, n, n, n, n, n, nullptr), -1);
    EXPECT_EQ(velunor_coupling_get_region_modes(1, n, nullptr, n), -1);
    EXPECT_EQ(velunor_coupling_export_particles(1, -1, n, n, n, n, n, n, n, values, values), -1);
    EXPECT_EQ(velunor_coupling_export_facets(0, 1, n, n, n, n, n, values, values), -1);
    EXPECT_EQ(velunor_coupling_apply_particle_forces(1, -1, ids, forces), -1);
    EXPECT_EQ(velunor_coupling_apply_particle_forces(1, 2, nullptr, forces), -1);
    forces[5] = nan;
    EXPECT_EQ(velunor_coupling_apply_particle_forces(1, 2, ids, forces), -1);
    EXPECT_EQ(velunor_coupling_apply_facet_loads(1, 2, ids, forces), -1);
    forces[5] = 6.0;
    forces[0] = -inf;
    EXPECT_EQ(velunor_coupling_apply_facet_tractions(1, 2, ids, forces, 1, 0), -1);
    EXPECT_EQ(velunor_coupling_apply_facet_resultants(1, 2, ids, forces, 1, 0), -1);
    EXPECT_EQ(velunor_coupling_apply_facet_pressures(1, 1, ids, one, 1, -1), -1);
    one[1] = nan;
    EXPECT_EQ(velunor_coupling_apply_facet_pressures(1, 2, ids, one, 1, 0), -1);
    forces[0] = 1.0;
    EXPECT_EQ(velunor_coupling_apply_contact_state(1, 1, ids, forces, one, one, nullptr, 0), -1);
    EXPECT_EQ(velunor_coupling_apply_contact_state(1, 2, ids, forces, one, one, one, 0), -1);
    EXPECT_EQ(velunor_coupling_apply_contact_state(1, 1, ids, forces, one, one, one, -1), -1);
    target[1] = inf;
    EXPECT_EQ(velunor_coupling_apply_motion_boundary(1, 1, 1, 1, target), -1);
    EXPECT_EQ(velunor_coupling_apply_motion_boundary(1, 1, 1, 1, nullptr), -1);
    EXPECT_EQ(velunor_coupling_apply_motion_boundary(1, 0, 1, 1, forces), -1);
    EXPECT_EQ(velunor_coupling_get_load_balance(values, values, values, values, values, nullptr),
              -1);
    EXPECT_EQ(velunor_coupling_get_contact_diagnostics(n, 6, values, 1), -1);
    EXPECT_EQ(velunor_coupling_get_contact_diagnostics(n, 7, values, 0), -1);
    EXPECT_EQ(velunor_coupling_get_diagnostics(values, 26, n, 12), -1);
    EXPECT_EQ(velunor_coupling_get_diagnostics(values, 27, n, 11), -1);

    const LastError e = last_error();
    EXPECT_EQ(e.code, 4);
    EXPECT_EQ(e.message, "planted");
}

TEST_F(CApi, CouplingExportsSkipTheLifeCycleGuards) {
    ASSERT_EQ(velunor_finalize(), 0);
    int count = -1;
    EXPECT_EQ(velunor_coupling_get_region_count(&count), 0);
    EXPECT_EQ(count, 0);
    // Zero entries with null arrays pass the C layer.
    EXPECT_NE(velunor_coupling_apply_particle_forces(1, 0, nullptr, nullptr), -1);
    EXPECT_NE(velunor_coupling_apply_facet_pressures(1, 0, nullptr, nullptr, 99, 0), -1);
    EXPECT_NE(last_error().message, "Velunor API is not initialized");
    ASSERT_EQ(velunor_initialize(), 0);

    model().db.coupling_regions.resize(3);
    EXPECT_EQ(velunor_coupling_get_region_count(&count), 0);
    EXPECT_EQ(count, 3);
}

// Every module has landed: no export answers status 6 (not implemented),
// whatever it is given.
TEST_F(CApi, NoExportAnswersNotImplemented) {
    QueryOutputs o;
    for (const NamedCall& c : guarded_calls(o)) {
        SCOPED_TRACE(c.name);
        sph_api_state_set_model_built(model().api, true);  // reading a deck clears it
        EXPECT_NE(c.call(), VELUNOR_STATUS_NOT_IMPLEMENTED);
        EXPECT_NE(last_error().code, 6);
    }
}

TEST(CApiInternals, FiniteTestFollowsTheHostConvention) {
    const double values[4] = {1.0, -DBL_MAX, DBL_MAX, 0.0};
    EXPECT_EQ(velunor_values_are_finite(nullptr, 0), 0);
    EXPECT_EQ(velunor_values_are_finite(values, 0), 1);
    EXPECT_EQ(velunor_values_are_finite(values, -3), 1);
    EXPECT_EQ(velunor_values_are_finite(values, 4), 1);
    const double bad[3] = {1.0, std::numeric_limits<double>::infinity(), std::nan("")};
    EXPECT_EQ(velunor_values_are_finite(bad, 1), 1);
    EXPECT_EQ(velunor_values_are_finite(bad, 2), 0);
    EXPECT_EQ(velunor_values_are_finite(bad + 2, 1), 0);
}

TEST(CApiInternals, BarrierTurnsExceptionsIntoStatusAndMessage) {
    Model& m = sph_api_model();
    int code = 0;
    std::string_view message;

    EXPECT_EQ(velunor_guarded("velunor_demo", [](Model&) -> int { throw std::bad_alloc(); }), 5);
    (void)sph_get_last_error(m, code, message);
    EXPECT_EQ(code, 5);
    EXPECT_EQ(message, "velunor_demo failed: failed to allocate memory");

    EXPECT_EQ(velunor_guarded("velunor_demo",
                              [](Model&) -> int {
                                  return static_cast<int>(std::vector<double>(SIZE_MAX / 4).size());
                              }),
              5);
    EXPECT_EQ(
        velunor_guarded("velunor_demo", [](Model&) -> int { throw std::out_of_range("index 9"); }),
        2);
    (void)sph_get_last_error(m, code, message);
    EXPECT_EQ(message, "velunor_demo failed: index 9");
    EXPECT_EQ(velunor_guarded("velunor_demo", [](Model&) -> int { throw 42; }), 2);
    (void)sph_get_last_error(m, code, message);
    EXPECT_EQ(message, "velunor_demo failed: unknown exception");
    sph_error_clear(m.error);
}
