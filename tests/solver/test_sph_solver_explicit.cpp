#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <limits>
#include <vector>

#include "../water/water_test_model.hpp"
#include "solver/sph_solver_explicit.hpp"
#include "water/sph_water.hpp"

using water_test::Block;
using water_test::expect_error;
using water_test::make_water_model;
using water_test::same_bits;

namespace {

// Particles that no phase limits (boundary particles).
std::unique_ptr<Model> make_boundary_model(int n) {
    auto m = make_water_model({Block{n, 1, 1}});
    for (int i = 0; i < n; ++i) m->db.particle_phase[i] = sph_phase_boundary;
    return m;
}

Vec3 total_momentum(const DbState& db) {
    Vec3 p;
    for (int i = 0; i < db.npart; ++i) p += db.mass[i] * db.v[i];
    return p;
}

}  // namespace

// ---------------------------------------------------------------------------
// Stable time step

TEST(SolverStableDt, DefaultStepIsFallbackAndUpperBound) {
    auto empty = make_water_model({});
    empty->control.safety_factor = 0.0;  // an empty model never asks the phases
    double dt = 0.0;
    ASSERT_EQ(sph_solver_estimate_stable_dt(*empty, dt), 0);
    EXPECT_EQ(dt, 1e-6);

    auto m = make_boundary_model(3);
    m->control.dt_default = 0.25;
    ASSERT_EQ(sph_solver_estimate_stable_dt(*m, dt), 0);
    EXPECT_EQ(dt, 0.25);  // no phase limit
    ASSERT_EQ(sph_solver_phase_dt(*m, dt), 0);
    EXPECT_EQ(dt, 0.0);

    auto w = make_water_model({Block{1, 1, 1}});
    const double viscous = 1.3 / (1480.0 * 1.1);  // the smallest water limit
    w->control.dt_default = 1.0;
    ASSERT_EQ(sph_solver_estimate_stable_dt(*w, dt), 0);
    EXPECT_EQ(dt, viscous);
    w->control.safety_factor = 0.5;
    ASSERT_EQ(sph_solver_estimate_stable_dt(*w, dt), 0);
    EXPECT_EQ(dt, 0.5 * viscous);
    w->control.dt_default = 1e-5;  // smaller than the phase limit
    ASSERT_EQ(sph_solver_estimate_stable_dt(*w, dt), 0);
    EXPECT_EQ(dt, 1e-5);
}

TEST(SolverStableDt, FailuresOfSafetyFactorAndPhase) {
    auto w = make_water_model({Block{1, 1, 1}});
    double dt = -1.0;
    w->control.safety_factor = 0.0;
    expect_error(*w, sph_solver_estimate_stable_dt(*w, dt), 1,
                 "time step safety factor must be positive");
    w->control.safety_factor = 1.0;
    w->db.h[0] = 0.0;
    expect_error(*w, sph_solver_estimate_stable_dt(*w, dt), 1,
                 "invalid Water state for dt estimate");
    // A NaN safety factor (only a restart can bring one) means no limit.
    w->db.h[0] = 1.0;
    w->control.safety_factor = std::numeric_limits<double>::quiet_NaN();
    ASSERT_EQ(sph_solver_estimate_stable_dt(*w, dt), 0);
    EXPECT_EQ(dt, w->control.dt_default);
}

// ---------------------------------------------------------------------------
// One step

TEST(SolverStep, NonPositiveStepIsRejectedAndChangesNothing) {
    auto m = make_water_model({Block{2, 1, 1, 1.0, {}, Vec3{1, 0, 0}}});
    const auto before = m->db.x;
    for (double dt : {0.0, -1.0, std::numeric_limits<double>::quiet_NaN()}) {
        expect_error(*m, sph_solver_advance_explicit(*m, dt), 1, "time step must be positive");
    }
    EXPECT_EQ(m->control.current_time, 0.0);
    EXPECT_EQ(m->control.current_step, 0);
    EXPECT_TRUE(same_bits(m->db.x[0], before[0]));
}

TEST(SolverStep, FreeParticlesFollowBallisticMotion) {
    // One water particle under gravity alone and one boundary particle that
    // coasts; dt is binary so the expected positions are exact.
    auto m = make_water_model({Block{2, 1, 1, 100.0}});
    DbState& db = m->db;
    const Vec3 g{0, 0, -9.81};
    ASSERT_EQ(sph_water_set_body_force(*m, g), 0);
    db.v[0] = Vec3{0.5, 0, 2.0};
    db.particle_phase[1] = sph_phase_boundary;
    db.v[1] = Vec3{1, 0, 0};
    db.a[1] = Vec3{3, 3, 3};  // stale: cleared at the start of every step
    const double dt = 0.125;
    Vec3 x = db.x[0], v = db.v[0];
    const Vec3 x1 = db.x[1];
    for (int step = 1; step <= 4; ++step) {
        ASSERT_EQ(sph_solver_advance_explicit(*m, dt), 0);
        x = x + dt * v + (0.5 * dt * dt) * g;
        v = v + dt * g;
        EXPECT_DOUBLE_EQ(db.x[0].x, x.x);
        EXPECT_DOUBLE_EQ(db.x[0].z, x.z);
        EXPECT_DOUBLE_EQ(db.v[0].z, v.z);
        EXPECT_EQ(db.x[1].x, x1.x + step * dt);
        EXPECT_EQ(db.x[1].z, x1.z);
        EXPECT_TRUE(same_bits(db.a[1], Vec3{}));
        EXPECT_EQ(db.rho[0], 1000.0);
    }
    EXPECT_EQ(m->control.current_step, 4);
    EXPECT_EQ(m->control.current_time, 0.5);
    // The step refreshed the diagnostics.
    EXPECT_EQ(db.water.water_particle_count, 1);
    EXPECT_DOUBLE_EQ(db.water.water_momentum.z, db.mass[0] * v.z);
}

TEST(SolverStep, EmptyModelStillAdvancesTimeAndStep) {
    auto m = make_water_model({});
    ASSERT_EQ(sph_solver_advance_explicit(*m, 0.5), 0);
    EXPECT_EQ(m->control.current_time, 0.5);
    EXPECT_EQ(m->control.current_step, 1);
}

TEST(SolverStep, PhaseFailureEndsStepWithoutAdvancingTime) {
    auto m = make_water_model({Block{2, 1, 1}});
    m->db.rho[1] = 0.0;
    expect_error(*m, sph_solver_advance_explicit(*m, 1e-4), 1, "Water density must be positive");
    EXPECT_EQ(m->control.current_time, 0.0);
    EXPECT_EQ(m->control.current_step, 0);
}

TEST(SolverStep, BlockAtRestDensityStaysAtRest) {
    auto m = make_water_model({Block{5, 5, 5, 0.01}});
    for (int step = 0; step < 5; ++step) ASSERT_EQ(sph_solver_advance_explicit(*m, 1e-6), 0);
    const DbState& db = m->db;
    for (int i = 0; i < db.npart; ++i) {
        ASSERT_TRUE(same_bits(db.v[i], Vec3{})) << i;
        ASSERT_TRUE(same_bits(db.x[i], db.x0[i])) << i;
        ASSERT_EQ(db.rho[i], 1000.0) << i;
        ASSERT_EQ(db.pressure[i], 0.0) << i;
    }
}

TEST(SolverStep, SymmetricCollisionConservesMomentum) {
    // Two identical blocks, mirror images about x = 0, approach each other.
    const double dx = 0.01, speed = 20.0;
    auto m = make_water_model({Block{4, 4, 4, dx, Vec3{-3.5 * dx, 0, 0}, Vec3{speed, 0, 0}},
                               Block{4, 4, 4, dx, Vec3{0.5 * dx, 0, 0}, Vec3{-speed, 0, 0}}});
    const double block_momentum = 64 * m->db.mass[0] * speed;
    double max_rho = 0.0;
    for (int step = 0; step < 40; ++step) {
        double dt = 0.0;
        ASSERT_EQ(sph_solver_estimate_stable_dt(*m, dt), 0);
        ASSERT_EQ(sph_solver_advance_explicit(*m, dt), 0);
        for (int i = 0; i < m->db.npart; ++i) max_rho = std::max(max_rho, m->db.rho[i]);
    }
    const Vec3 p = total_momentum(m->db);
    EXPECT_LT(norm(p), 1e-12 * block_momentum);
    EXPECT_GT(max_rho, 1000.0);  // the blocks did meet and compress
    // Mirror symmetry keeps x-momentum of one block balanced by the other;
    // the blocks have slowed down.
    Vec3 p_left;
    for (int i = 0; i < 64; ++i) p_left += m->db.mass[i] * m->db.v[i];
    EXPECT_LT(p_left.x, block_momentum);
    EXPECT_GT(p_left.x, 0.0);
}

TEST(SolverStep, StepMatchesThePlainSequenceOfWaterOperations) {
    // The driver's fused water pass gives the same bits as the documented
    // sequence of plain operations.
    auto m = make_water_model({Block{4, 3, 3, 0.1, {}, Vec3{0.3, -0.2, 0.1}}});
    for (int i = 0; i < m->db.npart; ++i) {
        m->db.rho[i] = 1000.0 + 3.0 * std::sin(double(i));
        m->db.v[i].y += 0.5 * std::cos(3.0 * i);
    }
    m->db.particle_phase[7] = sph_phase_boundary;
    ASSERT_EQ(sph_water_set_body_force(*m, Vec3{0, 0, -9.81}), 0);
    auto plain = std::make_unique<Model>(*m);
    const double dt = 1e-5;
    ASSERT_EQ(sph_solver_advance_explicit(*m, dt), 0);

    DbState& db = plain->db;
    for (int i = 0; i < db.npart; ++i) db.a[i] = Vec3{};
    ASSERT_EQ(sph_neighbor_rebuild(*plain), 0);
    ASSERT_EQ(sph_water_update_pressure(*plain), 0);
    ASSERT_EQ(sph_water_compute_density_rate(*plain), 0);
    ASSERT_EQ(sph_water_compute_acceleration(*plain), 0);
    for (int i = 0; i < db.npart; ++i) {
        db.vhalf[i] = db.v[i] + 0.5 * dt * db.a[i];
        db.x[i] = db.x[i] + dt * db.vhalf[i];
        db.rho[i] = db.rho[i] + dt * db.drho_dt[i];
        db.v[i] = db.vhalf[i] + 0.5 * dt * db.a[i];
    }
    for (int i = 0; i < db.npart; ++i) {
        ASSERT_TRUE(same_bits(m->db.x[i], db.x[i])) << i;
        ASSERT_TRUE(same_bits(m->db.v[i], db.v[i])) << i;
        ASSERT_TRUE(same_bits(m->db.rho[i], db.rho[i])) << i;
        ASSERT_TRUE(same_bits(m->db.a[i], db.a[i])) << i;
    }
}

// ---------------------------------------------------------------------------
// Run loop

TEST(SolverRun, DefaultStepsLandExactlyOnTheEndTime) {
    auto m = make_boundary_model(1);
    m->db.v[0] = Vec3{1, 0, 0};
    m->control.end_time = 1.0;
    m->control.dt_default = 0.3;
    m->control.max_steps = 1;
    std::vector<double> times;
    for (int call = 0; call < 6; ++call) {
        ASSERT_EQ(sph_solver_run_explicit(*m), 0);
        times.push_back(m->control.current_time);
    }
    ASSERT_EQ(times.size(), 6u);
    EXPECT_EQ(times[0], 0.3);
    EXPECT_EQ(times[1], 0.6);
    EXPECT_DOUBLE_EQ(times[2], 0.9);
    EXPECT_EQ(times[3], 1.0);
    EXPECT_EQ(times[4], 1.0);  // at the end time a run call does nothing
    EXPECT_EQ(m->control.current_step, 4);
    EXPECT_DOUBLE_EQ(m->db.x[0].x, 1.0);

    auto one_call = make_boundary_model(1);
    one_call->control.end_time = 1.0;
    one_call->control.dt_default = 0.3;
    one_call->control.max_steps = 10;
    ASSERT_EQ(sph_solver_run_explicit(*one_call), 0);
    EXPECT_EQ(one_call->control.current_time, 1.0);
    EXPECT_EQ(one_call->control.current_step, 4);
}

TEST(SolverRun, StepLimitAppliesPerCallAndEndTimeIsHitExactly) {
    // current + (end - current) rounds below end for these values; the run
    // still stops on end itself, with no extra sliver step.
    auto m = make_boundary_model(2);
    m->control.dt_default = 2.2009365731859165;
    m->control.end_time = 6.3872733656420655;
    m->control.max_steps = 2;
    ASSERT_EQ(sph_solver_run_explicit(*m), 0);
    EXPECT_EQ(m->control.current_step, 2);
    EXPECT_LT(m->control.current_time, m->control.end_time);
    ASSERT_EQ(sph_solver_run_explicit(*m), 0);
    EXPECT_EQ(m->control.current_time, m->control.end_time);
    EXPECT_EQ(m->control.current_step, 3);
    ASSERT_EQ(sph_solver_run_explicit(*m), 0);
    EXPECT_EQ(m->control.current_step, 3);
}

TEST(SolverRun, UsesTheWaterLimitAndStopsAtTheFirstFailure) {
    auto m = make_water_model({Block{2, 2, 2, 0.01}});
    m->control.dt_default = 1.0;
    m->control.end_time = 1.0;
    m->control.max_steps = 3;
    m->control.safety_factor = 0.25;
    ASSERT_EQ(sph_solver_run_explicit(*m), 0);
    EXPECT_EQ(m->control.current_step, 3);
    EXPECT_DOUBLE_EQ(m->control.current_time, 3 * 0.25 * 0.013 / (1480.0 * 1.1));

    m->db.h[0] = -1.0;
    expect_error(*m, sph_solver_run_explicit(*m), 1, "invalid Water state for dt estimate");
    EXPECT_EQ(m->control.current_step, 3);
}

// ---------------------------------------------------------------------------
// Output cadence

TEST(SolverOutput, WrittenEveryIntervalStepsOnlyWhenEnabled) {
    namespace fs = std::filesystem;
    const fs::path dir = fs::temp_directory_path() / "velunor_solver_output_test";
    fs::remove_all(dir);
    fs::create_directories(dir);
    auto m = make_water_model({Block{2, 1, 1}});
    m->control.end_time = 1.0;
    m->control.dt_default = 0.1;
    m->control.max_steps = 5;
    ASSERT_EQ(sph_solver_run_explicit(*m), 0);  // output not enabled
    EXPECT_TRUE(fs::is_empty(dir));

    m->control.output_directory = dir.string();
    m->control.output_enabled = true;
    m->control.output_interval = 2;
    ASSERT_EQ(sph_solver_run_explicit(*m), 0);  // steps 6..10
    for (int step = 1; step <= 10; ++step) {
        char name[32];
        std::snprintf(name, sizeof name, "velunor_%08d.csv", step);
        EXPECT_EQ(fs::exists(dir / name), step >= 6 && step % 2 == 0) << step;
    }

    // A failing step output is the advance's status; the step is taken.
    m->control.output_directory = (dir / "missing").string();
    ASSERT_EQ(sph_solver_advance_explicit(*m, 1e-3), 0);  // step 11 writes nothing
    const double time = m->control.current_time;
    expect_error(*m, sph_solver_advance_explicit(*m, 1e-3), 3, "failed to open CSV output file");
    EXPECT_EQ(m->control.current_step, 12);
    EXPECT_EQ(m->control.current_time, time + 1e-3);
    fs::remove_all(dir);
}

// ---------------------------------------------------------------------------
// Runs never fail silently

TEST(SolverSafety, InfiniteStepIsRefusedAndChangesNothing) {
    auto m = make_water_model({Block{3, 3, 3, 0.01}});
    const std::vector<Vec3> x_before = m->db.x;
    const double inf = std::numeric_limits<double>::infinity();
    expect_error(*m, sph_solver_advance_explicit(*m, inf), 1, "time step must be finite");
    expect_error(*m, sph_solver_advance_explicit(*m, -inf), 1, "time step must be positive");
    expect_error(*m, sph_solver_advance_explicit(*m, std::nan("")), 1,
                 "time step must be positive");
    m->control.current_time = 1.5e308;  // a finite step whose end time overflows
    expect_error(*m, sph_solver_advance_explicit(*m, 1e308), 1, "time step must be finite");
    EXPECT_EQ(m->control.current_step, 0);
    EXPECT_EQ(m->control.current_time, 1.5e308);
    for (int i = 0; i < m->db.npart; ++i) EXPECT_TRUE(same_bits(m->db.x[i], x_before[i]));
}

// The step that first leaves a particle non-finite fails, naming the first
// such particle (lowest index) by its node id, and the time stays.
TEST(SolverSafety, BlownUpStepFailsNamingTheFirstParticleAndStep) {
    auto m = make_water_model({Block{4, 4, 4, 0.01}});
    for (int i = 0; i < m->db.npart; ++i) m->db.particle_id_ext[i] = 1000 + i;
    ASSERT_EQ(sph_solver_advance_explicit(*m, 1e-7), 0);
    EXPECT_EQ(m->control.current_step, 1);
    // A body force that overflows the velocity of particles 5 and later.
    for (int i = 5; i < m->db.npart; ++i) m->db.acc_body[i] = Vec3{0.0, 0.0, 1.7e308};
    const double t1 = m->control.current_time;
    expect_error(*m, sph_solver_advance_explicit(*m, 1.1), 1,  // x stays finite, v does not
                 "non-finite velocity at node 1005 in step 2");
    EXPECT_EQ(m->control.current_step, 1);
    EXPECT_EQ(m->control.current_time, t1);

    // A step far above the stable one: the run stops with status 1 at the
    // first step that breaks the model (non-finite state, or a water density
    // driven to zero or below), and the time stays at the last good step.
    for (double dt : {2e-4, 1e-3, 1e-1}) {
        auto w = make_water_model({Block{6, 6, 6, 0.01}});
        w->db.v[100] = Vec3{5.0, -3.0, 1.0};
        int status = 0;
        int steps = 0;
        double time = 0.0;
        while (status == 0 && steps < 500) {
            status = sph_solver_advance_explicit(*w, dt);
            if (status == 0) {
                ++steps;
                time = w->control.current_time;
            }
        }
        ASSERT_EQ(status, 1) << "the model never blew up at dt " << dt;
        EXPECT_EQ(w->control.current_step, steps);
        EXPECT_EQ(w->control.current_time, time);
        const std::string message = w->error.last_error_message;
        if (message.rfind("non-finite ", 0) != 0) {
            EXPECT_EQ(message, "Water density must be positive");
            continue;
        }
        int first = -1;
        for (int i = 0; i < w->db.npart && first < 0; ++i) {
            const DbState& db = w->db;
            const bool finite = std::isfinite(db.x[i].x) && std::isfinite(db.x[i].y) &&
                                std::isfinite(db.x[i].z) && std::isfinite(db.v[i].x) &&
                                std::isfinite(db.v[i].y) && std::isfinite(db.v[i].z) &&
                                std::isfinite(db.rho[i]) && std::isfinite(db.pressure[i]);
            if (!finite) first = i;
        }
        ASSERT_GE(first, 0);
        EXPECT_EQ(message, sph_solver_non_finite_message(w->db, first, steps + 1));
    }
}

TEST(SolverSafety, IntegrationCheckSeesEveryQuantity) {
    auto m = make_water_model({Block{3, 1, 1}});
    ASSERT_EQ(sph_solver_integrate_particles(m->db, 1e-6), -1);
    const double nan = std::nan("");
    const double inf = std::numeric_limits<double>::infinity();
    struct Case {
        void (*spoil)(DbState&, double);
        const char* what;
    };
    const Case cases[] = {
        {[](DbState& db, double bad) { db.x[2].y = bad; }, "position"},
        {[](DbState& db, double bad) { db.v[2].z = bad; }, "velocity"},
        {[](DbState& db, double bad) { db.a[2].x = bad; }, "velocity"},
        {[](DbState& db, double bad) { db.rho[2] = bad; }, "density"},
        {[](DbState& db, double bad) { db.drho_dt[2] = bad; }, "density"},
        {[](DbState& db, double bad) { db.pressure[2] = bad; }, "pressure"},
    };
    for (const Case& c : cases) {
        for (double bad : {nan, inf, -inf}) {
            auto k = make_water_model({Block{3, 1, 1}});
            c.spoil(k->db, bad);
            EXPECT_EQ(sph_solver_integrate_particles(k->db, 1e-6), 2) << c.what;
            // The position is updated from the velocity, so a bad velocity or
            // acceleration shows first as a bad position.
            const std::string message = sph_solver_non_finite_message(k->db, 2, 7);
            const std::string what = std::string(c.what) == "velocity" ? "position" : c.what;
            EXPECT_EQ(message, "non-finite " + what + " at node 3 in step 7");
        }
    }
    // The largest finite values are not flagged.
    auto big = make_water_model({Block{2, 1, 1}});
    big->db.x[1] = Vec3{1.7e308, -1.7e308, 1.7e308};
    big->db.rho[1] = 1.7e308;
    big->db.pressure[1] = -1.7e308;
    EXPECT_EQ(sph_solver_integrate_particles(big->db, 0.0), -1);
}
