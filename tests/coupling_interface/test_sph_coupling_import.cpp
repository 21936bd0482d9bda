// Imports, epochs, motion, clearing and their application in the next step,
// against the written equations evaluated here.

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "coupling_interface/sph_coupling_interface.hpp"
#include "coupling_test_model.hpp"
#include "velunor.h"

using coupling_test::built_model;
using coupling_test::expect_error;

namespace {

// The integration of one step for a particle without phase acceleration.
struct Reference {
    Vec3 x, v;
};
Reference integrate(const Vec3& x, const Vec3& v, const Vec3& a, double dt) {
    const Vec3 vhalf = v + (0.5 * dt) * a;
    return {x + dt * vhalf, vhalf + (0.5 * dt) * a};
}

void expect_vec(const Vec3& got, const Vec3& want) {
    EXPECT_EQ(got.x, want.x);
    EXPECT_EQ(got.y, want.y);
    EXPECT_EQ(got.z, want.z);
}

}  // namespace

TEST(CouplingImports, AfterBuildEpochOneAndForcesActInTheNextStepOnly) {
    auto m = built_model();
    CouplingState& s = m->coupling;
    EXPECT_EQ(s.coupling_epoch, 1);
    DbState& db = m->db;
    db.v[3] = {0.5, -1.0, 2.0};
    const Vec3 x0 = db.x[3], v0 = db.v[3];
    // Export position 3 of region Mix is particle 4 (0-based 3), mass 4.
    const int indices[2] = {3, 3};
    const double forces[6] = {4.0, 0.0, -8.0, 0.0, 2.0, 0.0};
    ASSERT_EQ(sph_coupling_apply_particle_forces(*m, 1, 2, indices, forces), 0);
    expect_vec(s.coupling_external_force[3], {4.0, 2.0, -8.0});
    EXPECT_EQ(s.coupling_imported_force_count, 2);
    const double dt = 1e-4;
    ASSERT_EQ(sph_advance_explicit(*m, dt), 0) << m->error.last_error_message;
    const Vec3 f{4.0, 2.0, -8.0};
    const Vec3 a = (1.0 / 4.0) * f;
    const Reference r = integrate(x0, v0, a, dt);
    expect_vec(db.x[3], r.x);
    expect_vec(db.v[3], r.v);
    expect_vec(db.a[3], a);
    expect_vec(s.coupling_current_force, f);
    expect_vec(s.coupling_current_moment, cross(x0, f));
    expect_vec(s.coupling_current_impulse, dt * f);
    EXPECT_EQ(s.coupling_current_work, dot(v0, f) * dt);
    EXPECT_EQ(s.coupling_max_external_force, norm(f));
    EXPECT_EQ(s.coupling_max_acceleration, norm(a));
    EXPECT_EQ(s.coupling_step_load_consumed, 1);
    // Consumed: the buffers are zero and the next step runs without them.
    expect_vec(s.coupling_external_force[3], {});
    EXPECT_EQ(s.coupling_imported_force_count, 0);
    const Vec3 x1 = db.x[3], v1 = db.v[3];
    ASSERT_EQ(sph_advance_explicit(*m, dt), 0);
    const Reference r2 = integrate(x1, v1, {}, dt);
    expect_vec(db.x[3], r2.x);
    expect_vec(db.v[3], r2.v);
    EXPECT_EQ(s.coupling_step_load_consumed, 0);
    expect_vec(s.coupling_current_force, {});
    // The running totals keep the first step.
    expect_vec(s.coupling_cumulative_impulse, dt * f);
    expect_vec(s.coupling_momentum_exchange, dt * f);
    EXPECT_EQ(s.coupling_energy_exchange, dot(v0, f) * dt);
    EXPECT_EQ(s.coupling_work, s.coupling_cumulative_work);
}

TEST(CouplingImports, ForceMessagesAndSkipRules) {
    auto m = built_model();
    CouplingState& s = m->coupling;
    const int one[1] = {1};
    const double f[3] = {1.0, 0.0, 0.0};
    expect_error(*m, sph_coupling_apply_particle_forces(*m, 5, 1, one, f),
                 "coupling region index is invalid");
    expect_error(*m, sph_coupling_apply_particle_forces(*m, 1, -1, one, f),
                 "coupling force count is invalid");
    EXPECT_EQ(sph_coupling_apply_particle_forces(*m, 1, 0, nullptr, nullptr), 0);
    expect_error(*m, sph_coupling_apply_particle_forces(*m, 3, 1, one, f),
                 "coupling region has no particle export index");
    expect_error(*m, sph_coupling_apply_particle_forces(*m, 4, 1, one, f),
                 "coupling region is disabled");
    const int five[1] = {5};
    expect_error(*m, sph_coupling_apply_particle_forces(*m, 1, 1, five, f),
                 "coupling force export index is invalid");
    const double huge[3] = {DBL_MAX, 0.0, 0.0};
    expect_error(*m, sph_coupling_apply_particle_forces(*m, 1, 1, one, huge),
                 "coupling force is not finite");
    EXPECT_EQ(s.coupling_nonfinite_import_count, 1);
    expect_error(*m, sph_coupling_add_force_to_particle(*m, 0, {}),
                 "coupling force particle index is invalid");
    // Mass is refused before the skip rule.
    m->db.mass[0] = 0.0;
    m->db.particle_status[0] = sph_status_inactive;
    expect_error(*m, sph_coupling_apply_particle_forces(*m, 1, 1, one, f),
                 "coupling force particle mass must be positive");
    m->db.mass[0] = 0.125;
    ASSERT_EQ(sph_coupling_apply_particle_forces(*m, 1, 1, one, f), 0);
    EXPECT_EQ(s.coupling_skipped_particle_count, 1);
    expect_vec(s.coupling_external_force[0], {});
    // The loop stops at the first bad entry and keeps what came before.
    m->db.particle_status[0] = sph_status_active;
    const int mixed[3] = {1, 9, 2};
    const double three[9] = {1, 1, 1, 2, 2, 2, 3, 3, 3};
    expect_error(*m, sph_coupling_apply_particle_forces(*m, 1, 3, mixed, three),
                 "coupling force export index is invalid");
    expect_vec(s.coupling_external_force[0], {1, 1, 1});
    expect_vec(s.coupling_external_force[2], {});
}

TEST(CouplingImports, FacetPressuresTractionsResultantsAndLoadBalance) {
    auto m = built_model();
    CouplingState& s = m->coupling;
    // Facet 3 (0-based 2): area 0.5, director +z.
    const int facet[1] = {3};
    const double p2[1] = {2.0};
    ASSERT_EQ(sph_coupling_apply_facet_pressures(*m, 1, 1, facet, p2, 1, 4), 0);
    expect_vec(s.coupling_external_force[2], {0.0, 0.0, 1.0});
    EXPECT_EQ(s.coupling_epoch, 4);
    EXPECT_EQ(s.coupling_max_pressure, 2.0);
    // Same step: adds up, counted as repeated.
    const double m2[1] = {-2.0};
    ASSERT_EQ(sph_coupling_apply_facet_pressures(*m, 1, 1, facet, m2, 2, 4), 0);
    expect_vec(s.coupling_external_force[2], {0.0, 0.0, 0.0});
    EXPECT_EQ(s.coupling_repeated_import_count, 1);
    // Loads that summed to zero are not pending: no repeat for the next call.
    ASSERT_EQ(sph_coupling_apply_facet_pressures(*m, 1, 1, facet, p2, 3, 4), 0);
    EXPECT_EQ(s.coupling_repeated_import_count, 1);
    ASSERT_EQ(sph_coupling_apply_facet_pressures(*m, 1, 1, facet, p2, 3, 4), 0);
    EXPECT_EQ(s.coupling_repeated_import_count, 2);
    expect_vec(s.coupling_external_force[2], {0.0, 0.0, 2.0});
    // Particle forces are discarded by a call that opens a new epoch.
    const int one[1] = {2};
    const double f[3] = {5.0, 0.0, 0.0};
    ASSERT_EQ(sph_coupling_apply_particle_forces(*m, 1, 1, one, f), 0);
    const double t[3] = {0.0, 4.0, 0.0};
    const int facet4[1] = {4};  // area 0.25 at x = (0.5, 0, 0)
    ASSERT_EQ(sph_coupling_apply_facet_tractions(*m, 1, 1, facet4, t, 1, 5), 0);
    expect_vec(s.coupling_external_force[2], {});
    expect_vec(s.coupling_external_force[3], {0.0, 1.0, 0.0});
    EXPECT_EQ(s.coupling_max_pressure, 0.0);
    EXPECT_EQ(s.coupling_max_traction, 4.0);
    const double res[3] = {1.0, 2.0, 3.0};
    const int facet5[1] = {5};
    ASSERT_EQ(sph_coupling_apply_facet_resultants(*m, 1, 1, facet5, res, 2, 5), 0);
    expect_vec(s.coupling_external_force[4], {1.0, 2.0, 3.0});
    const Vec3 input = Vec3{0.0, 1.0, 0.0} + Vec3{1.0, 2.0, 3.0};
    expect_vec(s.coupling_facet_input_force, input);
    expect_vec(s.coupling_facet_distributed_force, input);
    const Vec3 moment = cross(m->db.x[3], {0.0, 1.0, 0.0}) + cross(m->db.x[4], {1.0, 2.0, 3.0});
    expect_vec(s.coupling_facet_input_moment, moment);
    EXPECT_EQ(s.coupling_facet_force_error, 0.0);
    // A skipped facet particle: the input stays unbalanced.
    m->db.particle_status[4] = sph_status_inactive;
    ASSERT_EQ(sph_coupling_apply_facet_resultants(*m, 1, 1, facet5, res, 1, 5), 0);
    EXPECT_EQ(s.coupling_facet_force_error, norm({1.0, 2.0, 3.0}));
    EXPECT_EQ(s.coupling_skipped_particle_count, 1);
    m->db.particle_status[4] = sph_status_active;

    // Messages, in their order.
    const int dup[3] = {3, 4, 3};
    const double pd[3] = {1.0, 1.0, 1.0};
    expect_error(*m, sph_coupling_apply_facet_pressures(*m, 1, 3, dup, pd, 1, 6),
                 "coupling facet id is duplicated");
    EXPECT_EQ(s.coupling_duplicate_facet_count, 1);
    expect_vec(s.coupling_external_force[2], {0.0, 0.0, 0.5});  // the first stays applied
    expect_error(*m, sph_coupling_apply_facet_pressures(*m, 1, 1, facet, p2, 1, -1),
                 "coupling step is invalid");
    expect_error(*m, sph_coupling_apply_facet_pressures(*m, 9, 1, facet, p2, 0, 6),
                 "coupling distribution mode is invalid");
    expect_error(*m, sph_coupling_apply_facet_pressures(*m, 9, 1, facet, p2, 1, 6),
                 "coupling region index is invalid");
    expect_error(*m, sph_coupling_apply_facet_pressures(*m, 1, -1, facet, p2, 1, 6),
                 "coupling pressure count is invalid");
    expect_error(*m, sph_coupling_apply_facet_tractions(*m, 1, -1, facet, t, 1, 6),
                 "coupling traction count is invalid");
    expect_error(*m, sph_coupling_apply_facet_resultants(*m, 1, -1, facet, res, 1, 6),
                 "coupling resultant count is invalid");
    const double nan1[3] = {std::nan(""), 0, 0};
    expect_error(*m, sph_coupling_apply_facet_pressures(*m, 1, 1, facet, nan1, 1, 6),
                 "coupling pressure is not finite");
    expect_error(*m, sph_coupling_apply_facet_tractions(*m, 1, 1, facet, nan1, 1, 6),
                 "coupling traction is not finite");
    expect_error(*m, sph_coupling_apply_facet_resultants(*m, 1, 1, facet, nan1, 1, 6),
                 "coupling resultant is not finite");
    expect_error(*m, sph_coupling_apply_facet_pressures(*m, 2, 1, facet, p2, 1, 6),
                 "coupling region does not export facet proxies");
    m->shell.shell_director[2] = {0.0, 0.0, 1e-13};
    expect_error(*m, sph_coupling_apply_facet_pressures(*m, 1, 1, facet, p2, 1, 6),
                 "coupling facet normal is degenerate");
    m->shell.shell_director[2] = {0.0, 0.0, 3.0};  // normalized before use
    m->db.x[2].x = INFINITY;
    expect_error(*m, sph_coupling_apply_facet_pressures(*m, 1, 1, facet, p2, 1, 7),
                 "coupling facet center is not finite");
    m->db.x[2].x = 0.0;
    ASSERT_EQ(sph_coupling_apply_facet_pressures(*m, 1, 1, facet, p2, 1, 8), 0);
    expect_vec(s.coupling_external_force[2], {0.0, 0.0, 1.0});
    m->db.mass[2] = 0.0;
    expect_error(*m, sph_coupling_apply_facet_pressures(*m, 1, 1, facet, p2, 3, 9),
                 "coupling distribution weight is invalid");
    expect_error(*m, sph_coupling_distribute_facet_force(*m, 1, 3, {}, 4, {}),
                 "coupling distribution mode is invalid");
    expect_error(*m, sph_coupling_distribute_facet_force(*m, 0, 3, {}, 1, {}),
                 "coupling region index is invalid");
    expect_error(*m, sph_coupling_distribute_facet_force(*m, 1, 3, {NAN, 0, 0}, 1, {}),
                 "coupling facet force is not finite");
}

// A call with the coupling step held counts a repeat when any force is
// pending, wherever it is: not only on the particle loaded last.
TEST(CouplingImports, RepeatSeesEveryPendingForce) {
    auto m = built_model();
    CouplingState& s = m->coupling;
    const int both[2] = {3, 4};
    const double up[6] = {0.0, 0.0, 1.0, 0.0, 0.0, 1.0};
    ASSERT_EQ(sph_coupling_apply_facet_resultants(*m, 1, 2, both, up, 1, 6), 0);
    EXPECT_EQ(s.coupling_repeated_import_count, 0);
    // Facet 4, loaded last, goes back to zero; facet 3 still holds its load.
    const int four[1] = {4};
    const double down[3] = {0.0, 0.0, -1.0};
    ASSERT_EQ(sph_coupling_apply_facet_resultants(*m, 1, 1, four, down, 1, 6), 0);
    EXPECT_EQ(s.coupling_repeated_import_count, 1);
    const int three[1] = {3};
    ASSERT_EQ(sph_coupling_apply_facet_resultants(*m, 1, 1, three, down, 1, 6), 0);
    EXPECT_EQ(s.coupling_repeated_import_count, 2);
    // Nothing pending now.
    ASSERT_EQ(sph_coupling_apply_facet_resultants(*m, 1, 1, three, up, 1, 6), 0);
    EXPECT_EQ(s.coupling_repeated_import_count, 2);
    ASSERT_EQ(sph_coupling_apply_facet_resultants(*m, 1, 1, three, down, 1, 6), 0);
    EXPECT_EQ(s.coupling_repeated_import_count, 3);
    // A force no import put there counts as well.
    s.coupling_external_force[0] = {0.0, 2.0, 0.0};
    ASSERT_EQ(sph_coupling_apply_facet_resultants(*m, 1, 0, nullptr, nullptr, 1, 6), 0);
    EXPECT_EQ(s.coupling_repeated_import_count, 4);
}

TEST(CouplingImports, FacetLoadsAndContactState) {
    auto m = built_model();
    CouplingState& s = m->coupling;
    const int ids[2] = {5, 3};
    const double loads[6] = {1, 0, 0, 0, 0, 2};
    ASSERT_EQ(sph_coupling_apply_facet_loads(*m, 3, 2, ids, loads), 0);
    expect_vec(s.coupling_external_force[4], {1, 0, 0});
    expect_vec(s.coupling_external_force[2], {0, 0, 2});
    EXPECT_EQ(s.coupling_facet_input_force.x, 0.0);  // no load balance for facet loads
    const int bad[1] = {4};
    expect_error(*m, sph_coupling_apply_facet_loads(*m, 3, 1, bad, loads),
                 "coupling facet id is invalid");
    expect_error(*m, sph_coupling_apply_facet_loads(*m, 3, -1, bad, loads),
                 "coupling facet load count is invalid");
    expect_error(*m, sph_coupling_apply_facet_loads(*m, 0, 1, bad, loads),
                 "coupling region index is invalid");

    const int facets[2] = {3, 4};
    const double normals[6] = {0, 0, 2, 0, 3, 0};
    const double gaps[2] = {0.1, 0.2};
    const double pen[2] = {0.01, 0.03};
    const double pr[2] = {5.0, 6.0};
    ASSERT_EQ(sph_coupling_apply_contact_state(*m, 1, 2, facets, normals, gaps, pen, pr, 2), 0);
    EXPECT_EQ(s.coupling_epoch, 2);
    expect_vec(s.coupling_external_force[4], {});  // new epoch
    EXPECT_EQ(s.coupling_contact_flag[2], 1);
    expect_vec(s.coupling_contact_normal[2], {0, 0, 1});
    expect_vec(s.coupling_contact_normal[3], {0, 1, 0});
    EXPECT_EQ(s.coupling_contact_gap[3], 0.2);
    EXPECT_EQ(s.coupling_contact_penetration[3], 0.03);
    EXPECT_EQ(s.coupling_contact_pressure[2], 5.0);
    EXPECT_EQ(s.coupling_active_contact_count, 2);
    EXPECT_EQ(s.coupling_max_penetration, 0.03);
    m->db.particle_status[2] = sph_status_inactive;
    ASSERT_EQ(sph_coupling_apply_contact_state(*m, 1, 1, facets, normals, gaps, pen, pr, 2), 0);
    EXPECT_EQ(s.coupling_skipped_contact_count, 1);
    EXPECT_EQ(s.coupling_repeated_import_count, 1);
    m->db.particle_status[2] = sph_status_active;
    expect_error(*m, sph_coupling_apply_contact_state(*m, 3, 1, facets, normals, gaps, pen, pr, 2),
                 "coupling region does not import contact state");
    expect_error(*m, sph_coupling_apply_contact_state(*m, 4, 1, facets, normals, gaps, pen, pr, 2),
                 "coupling region is disabled");
    expect_error(*m, sph_coupling_apply_contact_state(*m, 0, 1, facets, normals, gaps, pen, pr, 2),
                 "coupling region index is invalid");
    expect_error(*m, sph_coupling_apply_contact_state(*m, 1, -1, facets, normals, gaps, pen, pr, 2),
                 "coupling contact count is invalid");
    const double max_gap[1] = {DBL_MAX};
    expect_error(*m,
                 sph_coupling_apply_contact_state(*m, 1, 1, facets, normals, max_gap, pen, pr, 2),
                 "coupling contact state contains nonfinite values");
    EXPECT_EQ(s.coupling_nonfinite_contact_count, 1);
    const double flat[3] = {0, 0, 1e-13};
    expect_error(*m, sph_coupling_apply_contact_state(*m, 1, 1, facets, flat, gaps, pen, pr, 2),
                 "coupling contact normal is degenerate");
    const int twice[2] = {4, 4};
    expect_error(*m, sph_coupling_apply_contact_state(*m, 1, 2, twice, normals, gaps, pen, pr, 2),
                 "coupling facet id is duplicated");
    // A failing call that carries a new step still opens its epoch first.
    expect_error(*m, sph_coupling_apply_contact_state(*m, 3, 1, facets, normals, gaps, pen, pr, 9),
                 "coupling region does not import contact state");
    EXPECT_EQ(s.coupling_epoch, 9);
    EXPECT_EQ(s.coupling_contact_flag[2], 0);
}

TEST(CouplingMotion, TargetsBeforeAndAfterTheUpdate) {
    auto m = built_model();
    CouplingState& s = m->coupling;
    DbState& db = m->db;
    // Particle 0-based 3 (Mix position 3): velocity target with a force.
    const int idx[1] = {3};
    const double f[3] = {0.0, 0.0, 8.0};
    ASSERT_EQ(sph_coupling_apply_particle_forces(*m, 1, 1, idx, f), 0);
    db.v[3] = {1.0, 0.0, 0.0};
    ASSERT_EQ(sph_coupling_apply_motion_boundary(*m, 1, 3, 1, 1, {0.0, 3.0, 0.0}), 0);
    // Particle 0-based 4 (position 4): position target.
    db.v[4] = {0.0, 0.0, -2.0};
    const Vec3 v4 = db.v[4];
    ASSERT_EQ(sph_coupling_apply_motion_boundary(*m, 1, 4, 2, 1, {1.0, 1.0, 1.0}), 0);
    EXPECT_EQ(s.coupling_motion_flag[4], 2);
    const Vec3 x3 = db.x[3];
    const double dt = 1e-3;
    ASSERT_EQ(sph_advance_explicit(*m, dt), 0) << m->error.last_error_message;
    const Vec3 a3{0.0, 0.0, 2.0};
    const Reference r = integrate(x3, {0.0, 3.0, 0.0}, a3, dt);
    expect_vec(db.x[3], r.x);  // the acceleration still moves x by dt^2 a / 2
    expect_vec(db.v[3], {0.0, 3.0, 0.0});
    expect_vec(db.x[4], {1.0, 1.0, 1.0});
    expect_vec(db.v[4], v4);  // a position target leaves v alone
    // Before the update |v - target| = |(1, -3, 0)|, after it dt a only.
    EXPECT_EQ(s.coupling_max_velocity_error, std::sqrt(10.0));
    EXPECT_EQ(s.coupling_motion_flag[4], 0);
    EXPECT_EQ(s.coupling_step_load_consumed, 1);

    expect_error(*m, sph_coupling_apply_motion_boundary(*m, 1, 1, 1, 2, {}),
                 "coupling penalty motion mode is reserved");
    expect_error(*m, sph_coupling_apply_motion_boundary(*m, 1, 1, 1, 0, {}),
                 "coupling motion mode is invalid");
    expect_error(*m, sph_coupling_apply_motion_boundary(*m, 1, 1, 3, 1, {}),
                 "coupling motion target kind is invalid");
    expect_error(*m, sph_coupling_apply_motion_boundary(*m, 0, 1, 1, 1, {}),
                 "coupling region index is invalid");
    expect_error(*m, sph_coupling_apply_motion_boundary(*m, 3, 1, 1, 1, {}),
                 "coupling motion requires particle export index");
    expect_error(*m, sph_coupling_apply_motion_boundary(*m, 1, 5, 1, 1, {}),
                 "coupling motion export index is invalid");
    expect_error(*m, sph_coupling_apply_motion_boundary(*m, 1, 1, 1, 1, {DBL_MAX, 0, 0}),
                 "coupling motion target is not finite");
    expect_error(*m, sph_coupling_set_motion(*m, 5, 1, 1, {}),
                 "coupling motion particle index is invalid");
    expect_error(*m, sph_coupling_set_motion(*m, 0, 1, 7, {}),
                 "coupling motion target kind is invalid");
    // Faults found only when applied.
    s.coupling_motion_flag[0] = 1;
    s.coupling_motion_mode[0] = 2;
    expect_error(*m, sph_coupling_apply_motion_targets(*m, true),
                 "coupling motion mode is invalid during apply");
    s.coupling_motion_mode[0] = 1;
    s.coupling_motion_velocity[0] = {NAN, 0, 0};
    expect_error(*m, sph_coupling_apply_motion_targets(*m, true),
                 "coupling velocity target is not finite during apply");
    s.coupling_motion_flag[0] = 2;
    s.coupling_motion_position[0] = {NAN, 0, 0};
    expect_error(*m, sph_coupling_apply_motion_targets(*m, true),
                 "coupling position target is not finite during apply");
    s.coupling_motion_flag[0] = 3;
    expect_error(*m, sph_coupling_apply_motion_targets(*m, true),
                 "coupling motion target kind is invalid during apply");
    // A failing hook fails the step with its message.
    expect_error(*m, sph_advance_explicit(*m, dt),
                 "coupling motion target kind is invalid during apply");
}

TEST(CouplingSteps, AccelerationHookMessagesAndClear) {
    auto m = built_model();
    CouplingState& s = m->coupling;
    expect_error(*m, sph_coupling_apply_imports_to_acceleration(*m, -1.0),
                 "coupling step dt is invalid");
    expect_error(*m, sph_coupling_apply_imports_to_acceleration(*m, NAN),
                 "coupling step dt is invalid");
    s.coupling_external_force[2] = {NAN, 0, 0};
    expect_error(*m, sph_coupling_apply_imports_to_acceleration(*m, 1e-3),
                 "coupling cached force is not finite");
    s.coupling_external_force[2] = {1, 0, 0};
    m->db.mass[2] = 0.0;
    expect_error(*m, sph_coupling_apply_imports_to_acceleration(*m, 1e-3),
                 "coupling force particle mass must be positive");
    m->db.mass[2] = 1e-320;
    s.coupling_external_force[2] = {1e10, 0, 0};
    expect_error(*m, sph_coupling_apply_imports_to_acceleration(*m, 1e-3),
                 "coupling acceleration contribution is not finite");
    m->db.mass[2] = 2.0;

    // Clearing: stale once when anything was pending, the epoch moves on.
    const int epoch = s.coupling_epoch;
    ASSERT_EQ(sph_coupling_clear_imports(*m), 0);
    EXPECT_EQ(s.coupling_stale_load_count, 1);
    expect_vec(s.coupling_external_force[2], {});
    ASSERT_EQ(sph_coupling_clear_imports(*m), 0);
    EXPECT_EQ(s.coupling_stale_load_count, 1);
    EXPECT_EQ(s.coupling_epoch, epoch + 2);
    s.coupling_contact_flag[3] = 1;
    ASSERT_EQ(sph_coupling_clear_imports(*m), 0);
    EXPECT_EQ(s.coupling_stale_load_count, 2);

    // Diagnostics: 22 and 5 slots fill only those.
    s.coupling_current_force = {1, 2, 3};
    s.coupling_max_position_error = 22.0;
    s.coupling_max_penetration = 27.0;
    s.coupling_step_load_consumed = 1;
    s.coupling_bad_facet_area_count = 12;
    std::vector<double> values(30, -1.0);
    std::vector<int> counts(14, -1);
    ASSERT_EQ(sph_coupling_get_diagnostic_values(*m, 22, values.data(), 5, counts.data()), 0);
    EXPECT_EQ(values[0], 1.0);
    EXPECT_EQ(values[2], 3.0);
    EXPECT_EQ(values[21], 22.0);
    EXPECT_EQ(values[22], -1.0);
    EXPECT_EQ(counts[0], 2);
    EXPECT_EQ(counts[4], 1);
    EXPECT_EQ(counts[5], -1);
    ASSERT_EQ(sph_coupling_get_diagnostic_values(*m, 30, values.data(), 14, counts.data()), 0);
    EXPECT_EQ(values[26], 27.0);
    EXPECT_EQ(values[29], 0.0);
    EXPECT_EQ(counts[11], 12);
    EXPECT_EQ(counts[13], 0);
    expect_error(*m, sph_coupling_get_diagnostic_values(*m, 21, values.data(), 5, counts.data()),
                 "coupling diagnostics buffer is too small");
    expect_error(*m, sph_coupling_get_diagnostic_values(*m, 22, values.data(), 4, counts.data()),
                 "coupling diagnostics buffer is too small");
}

TEST(CouplingCApi, RejectionsAndPassThrough) {
    ASSERT_EQ(velunor_initialize(), 0);
    deck_test::TempDeck file(coupling_test::deck);
    ASSERT_EQ(velunor_read_inp(file.path().c_str()), 0);
    ASSERT_EQ(velunor_build_model(), 0);
    Model& m = sph_api_model();
    char name[8];
    int i[16] = {};
    double d[64] = {};
    const int ids[1] = {3};
    const double nan3[3] = {NAN, 0, 0};
    const double ok3[3] = {0, 0, 1};
    // -1 rejections change nothing and record nothing.
    sph_error_clear(m.error);
    EXPECT_EQ(velunor_coupling_get_region_count(nullptr), -1);
    EXPECT_EQ(velunor_coupling_get_region_info(0, name, 8, i, i, i, i, i, i), -1);
    EXPECT_EQ(velunor_coupling_get_region_info(1, name, 1, i, i, i, i, i, i), -1);
    EXPECT_EQ(velunor_coupling_get_region_info(1, nullptr, 8, i, i, i, i, i, i), -1);
    EXPECT_EQ(velunor_coupling_get_region_info(1, name, 8, i, i, i, i, i, nullptr), -1);
    EXPECT_EQ(velunor_coupling_get_region_modes(0, i, i, i), -1);
    EXPECT_EQ(velunor_coupling_get_region_modes(1, i, nullptr, i), -1);
    EXPECT_EQ(velunor_coupling_export_particles(0, 1, i, i, i, i, i, i, i, d, d), -1);
    EXPECT_EQ(velunor_coupling_export_particles(1, -1, i, i, i, i, i, i, i, d, d), -1);
    EXPECT_EQ(velunor_coupling_export_particles(1, 1, i, i, i, i, i, i, i, d, nullptr), -1);
    EXPECT_EQ(velunor_coupling_export_facets(0, 1, i, i, i, i, i, d, d), -1);
    EXPECT_EQ(velunor_coupling_export_facets(1, -1, i, i, i, i, i, d, d), -1);
    EXPECT_EQ(velunor_coupling_export_facets(1, 1, nullptr, i, i, i, i, d, d), -1);
    EXPECT_EQ(velunor_coupling_apply_particle_forces(0, 0, nullptr, nullptr), -1);
    EXPECT_EQ(velunor_coupling_apply_particle_forces(1, -1, nullptr, nullptr), -1);
    EXPECT_EQ(velunor_coupling_apply_particle_forces(1, 1, nullptr, ok3), -1);
    EXPECT_EQ(velunor_coupling_apply_particle_forces(1, 1, ids, nan3), -1);
    EXPECT_EQ(velunor_coupling_apply_facet_loads(1, 1, ids, nan3), -1);
    EXPECT_EQ(velunor_coupling_apply_facet_loads(1, 1, ids, nullptr), -1);
    EXPECT_EQ(velunor_coupling_apply_facet_pressures(1, 1, ids, nan3, 1, 0), -1);
    EXPECT_EQ(velunor_coupling_apply_facet_pressures(1, 1, ids, ok3, 1, -1), -1);
    EXPECT_EQ(velunor_coupling_apply_facet_pressures(0, 1, ids, ok3, 1, 0), -1);
    EXPECT_EQ(velunor_coupling_apply_facet_tractions(1, 1, ids, nan3, 1, 0), -1);
    EXPECT_EQ(velunor_coupling_apply_facet_resultants(1, 1, ids, nan3, 1, 0), -1);
    EXPECT_EQ(velunor_coupling_apply_facet_resultants(1, -1, ids, ok3, 1, 0), -1);
    EXPECT_EQ(velunor_coupling_apply_contact_state(1, 1, ids, ok3, d, d, nullptr, 0), -1);
    EXPECT_EQ(velunor_coupling_apply_contact_state(1, 1, ids, nan3, d, d, d, 0), -1);
    EXPECT_EQ(velunor_coupling_apply_contact_state(1, 1, ids, ok3, d, d, d, -1), -1);
    EXPECT_EQ(velunor_coupling_apply_contact_state(1, -1, ids, ok3, d, d, d, 0), -1);
    EXPECT_EQ(velunor_coupling_apply_motion_boundary(1, 0, 1, 1, ok3), -1);
    EXPECT_EQ(velunor_coupling_apply_motion_boundary(0, 1, 1, 1, ok3), -1);
    EXPECT_EQ(velunor_coupling_apply_motion_boundary(1, 1, 1, 1, nan3), -1);
    EXPECT_EQ(velunor_coupling_apply_motion_boundary(1, 1, 1, 1, nullptr), -1);
    EXPECT_EQ(velunor_coupling_get_load_balance(d, d, d, d, d, nullptr), -1);
    EXPECT_EQ(velunor_coupling_get_contact_diagnostics(i, 6, d, 1), -1);
    EXPECT_EQ(velunor_coupling_get_contact_diagnostics(i, 7, d, 0), -1);
    EXPECT_EQ(velunor_coupling_get_contact_diagnostics(nullptr, 7, d, 1), -1);
    EXPECT_EQ(velunor_coupling_get_diagnostics(d, 26, i, 12), -1);
    EXPECT_EQ(velunor_coupling_get_diagnostics(d, 27, i, 11), -1);
    EXPECT_EQ(velunor_coupling_get_diagnostics(nullptr, 27, i, 12), -1);
    EXPECT_EQ(m.error.last_error_message, "OK");
    EXPECT_EQ(m.coupling.coupling_epoch, 1);
    expect_vec(m.coupling.coupling_external_force[2], {});

    // Pass-through.
    int count = -1;
    EXPECT_EQ(velunor_coupling_get_region_count(&count), 0);
    EXPECT_EQ(count, 4);
    int type, exp, imp, en, pc, fc;
    ASSERT_EQ(velunor_coupling_get_region_info(2, name, 3, &type, &exp, &imp, &en, &pc, &fc), 0);
    EXPECT_STREQ(name, "Wa");
    EXPECT_EQ(pc, 2);
    std::strcpy(name, "keep");
    EXPECT_EQ(velunor_coupling_get_region_info(9, name, 8, &type, &exp, &imp, &en, &pc, &fc), 1);
    EXPECT_STREQ(name, "keep");
    EXPECT_EQ(velunor_coupling_apply_particle_forces(1, 0, nullptr, nullptr), 0);
    const double p2[1] = {2.0};
    ASSERT_EQ(velunor_coupling_apply_facet_pressures(1, 1, ids, p2, 1, 3), 0);
    double in_f[3], out_f[3], f_err, in_m[3], out_m[3], m_err;
    ASSERT_EQ(velunor_coupling_get_load_balance(in_f, out_f, &f_err, in_m, out_m, &m_err), 0);
    EXPECT_EQ(in_f[2], 2.0 * m.shell.shell_reference_area[2]);
    EXPECT_EQ(out_f[2], in_f[2]);
    const double gaps[1] = {0.5}, pens[1] = {0.25}, prs[1] = {1.0};
    ASSERT_EQ(velunor_coupling_apply_contact_state(1, 1, ids, ok3, gaps, pens, prs, 3), 0);
    int counts[7];
    double values[1];
    ASSERT_EQ(velunor_coupling_get_contact_diagnostics(counts, 7, values, 1), 0);
    EXPECT_EQ(counts[0], 1);
    EXPECT_EQ(counts[3], 1);  // repeated import within step 3
    EXPECT_EQ(values[0], 0.25);
    ASSERT_EQ(velunor_coupling_clear_imports(), 0);
    ASSERT_EQ(velunor_coupling_get_contact_diagnostics(counts, 7, values, 1), 0);
    EXPECT_EQ(counts[2], 1);
    EXPECT_EQ(values[0], 0.0);
    double dv[27];
    int dc[12];
    ASSERT_EQ(velunor_coupling_get_diagnostics(dv, 27, dc, 12), 0);
    EXPECT_EQ(dc[0], 1);
    // A new deck read resets the interface.
    ASSERT_EQ(velunor_read_inp(file.path().c_str()), 0);
    EXPECT_EQ(m.coupling.coupling_stale_load_count, 0);
    EXPECT_EQ(m.coupling.coupling_epoch, 0);
    EXPECT_TRUE(m.coupling.coupling_external_force.empty());
    EXPECT_EQ(velunor_finalize(), 0);
}
// ---------------------------------------------------------------------------
// The imports against a plain transcription of the written export and import rules.
//
// The module keeps work space between calls so that an exchange neither
// allocates nor rescans: region marks for facet membership, stamps for
// duplicate facet ids, one region lookup per call instead of one per entry,
// and a hint where the test for pending forces looks first. The transcription
// below has none of that: every entry looks its region up by name, membership
// and duplicates are linear scans, pending forces a full scan. It shares with
// the module only leaf checks that hold no state (region lookup by name, the
// enabled check, the shell facet check, the skip rule, the finite tests,
// set_motion) and the buffer life cycle (allocate, zero, reset).

namespace plain {

int fail(Model& m, const char* message) {
    return sph_error_set(m.error, sph_error_argument, message);
}

bool region_ok(const Model& m, int region) {
    return region >= 1 && region <= static_cast<int>(m.db.coupling_regions.size());
}

const CouplingRegionRecord& record(const Model& m, int region) {
    return m.db.coupling_regions[static_cast<std::size_t>(region - 1)];
}

int listed(const CouplingRegionRecord& r) {
    return std::min(std::max(r.coupling_region_particle_count, 0),
                    static_cast<int>(r.coupling_region_particles.size()));
}

Vec3 vec(const double* values, int entry) {
    return {values[3 * entry], values[3 * entry + 1], values[3 * entry + 2]};
}

bool any_force(const CouplingState& s) {
    for (const Vec3& f : s.coupling_external_force) {
        if (f.x != 0.0 || f.y != 0.0 || f.z != 0.0) return true;
    }
    return false;
}

bool any_flag(const std::vector<int>& flags) {
    for (int f : flags) {
        if (f != 0) return true;
    }
    return false;
}

int require_facet(Model& m, int region, int facet_id) {
    if (!region_ok(m, region)) return fail(m, "coupling region index is invalid");
    const CouplingRegionRecord& r = record(m, region);
    if (r.coupling_region_export_mode == sph_coupling_export_particle) {
        return fail(m, "coupling region does not export facet proxies");
    }
    bool found = false;
    for (int k = 0; k < listed(r); ++k) {
        if (r.coupling_region_particles[static_cast<std::size_t>(k)] + 1 == facet_id) found = true;
    }
    if (!found) return fail(m, "coupling facet id is invalid");
    return sph_coupling_check_shell_facet(m, facet_id);
}

int add_force(Model& m, int facet_id, const Vec3& force) {
    if (const int st = sph_coupling_allocate_imports(m)) return st;
    CouplingState& s = m.coupling;
    if (facet_id < 1 || facet_id > m.db.npart) {
        return fail(m, "coupling force particle index is invalid");
    }
    if (!sph_coupling_vector_is_finite(force)) {
        ++s.coupling_nonfinite_import_count;
        return fail(m, "coupling force is not finite");
    }
    const std::size_t k = static_cast<std::size_t>(facet_id - 1);
    if (!(m.db.mass[k] > 0.0)) return fail(m, "coupling force particle mass must be positive");
    if (sph_coupling_particle_should_skip(m.db, facet_id - 1)) {
        ++s.coupling_skipped_particle_count;
        return sph_success;
    }
    s.coupling_external_force[k] = s.coupling_external_force[k] + force;
    ++s.coupling_imported_force_count;
    return sph_success;
}

int prepare_epoch(Model& m, int coupling_step) {
    if (coupling_step < 0) return fail(m, "coupling step is invalid");
    if (const int st = sph_coupling_allocate_imports(m)) return st;
    CouplingState& s = m.coupling;
    if (coupling_step != s.coupling_epoch) {
        sph_coupling_zero_import_buffers(s);
        sph_coupling_reset_load_balance(s);
        s.coupling_epoch = coupling_step;
    } else if (any_force(s) || any_flag(s.coupling_contact_flag)) {
        ++s.coupling_repeated_import_count;
    }
    return sph_success;
}

int duplicate(Model& m, const int* facet_ids, int i) {
    for (int j = 0; j < i; ++j) {
        if (facet_ids[j] == facet_ids[i]) {
            ++m.coupling.coupling_duplicate_facet_count;
            return fail(m, "coupling facet id is duplicated");
        }
    }
    return sph_success;
}

// Export-index lookup of particle forces and motion targets, per entry.
int particle_at(Model& m, const std::string& name, int export_index, const char* facets_only,
                const char* bad_index, int& particle) {
    particle = -1;
    int region = 0;
    if (const int st = sph_coupling_find_region(m, name, region)) return st;
    if (const int st = sph_coupling_require_enabled_region(m, region)) return st;
    const CouplingRegionRecord& r = record(m, region);
    if (r.coupling_region_export_mode == sph_coupling_export_facet) return fail(m, facets_only);
    if (export_index < 1 || export_index > listed(r)) return fail(m, bad_index);
    particle = r.coupling_region_particles[static_cast<std::size_t>(export_index - 1)];
    return sph_success;
}

int particle_forces(Model& m, int region_index, int count, const int* export_indices,
                    const double* forces) {
    if (!region_ok(m, region_index)) return fail(m, "coupling region index is invalid");
    if (count < 0) return fail(m, "coupling force count is invalid");
    const std::string name = record(m, region_index).coupling_region_name;
    for (int i = 0; i < count; ++i) {
        int p = -1;
        if (const int st = particle_at(m, name, export_indices[i],
                                       "coupling region has no particle export index",
                                       "coupling force export index is invalid", p)) {
            return st;
        }
        if (const int st = add_force(m, p + 1, vec(forces, i))) return st;
    }
    return sph_success;
}

int facet_loads(Model& m, int region_index, int count, const int* facet_ids, const double* loads) {
    if (!region_ok(m, region_index)) return fail(m, "coupling region index is invalid");
    if (count < 0) return fail(m, "coupling facet load count is invalid");
    const std::string name = record(m, region_index).coupling_region_name;
    for (int i = 0; i < count; ++i) {
        int region = 0;
        if (const int st = sph_coupling_find_region(m, name, region)) return st;
        if (const int st = sph_coupling_require_enabled_region(m, region)) return st;
        if (const int st = require_facet(m, region, facet_ids[i])) return st;
        if (const int st = add_force(m, facet_ids[i], vec(loads, i))) return st;
    }
    return sph_success;
}

int geometry(Model& m, int region, int facet_id, double& area, Vec3& normal, Vec3& center) {
    area = 0.0;
    normal = Vec3{};
    center = Vec3{};
    CouplingState& s = m.coupling;
    if (const int st = sph_coupling_require_enabled_region(m, region)) return st;
    if (const int st = require_facet(m, region, facet_id)) return st;
    const std::size_t k = static_cast<std::size_t>(facet_id - 1);
    const double a = m.shell.shell_reference_area[k];
    Vec3 n = m.shell.shell_director[k];
    if (!sph_coupling_scalar_is_finite(a) || !(a > 0.0)) {
        ++s.coupling_invalid_weight_count;
        return fail(m, "coupling facet area is invalid");
    }
    if (!sph_coupling_vector_is_finite(n)) {
        ++s.coupling_nonfinite_import_count;
        return fail(m, "coupling facet normal is not finite");
    }
    const double length = norm(n);
    if (length <= 1e-12) {
        ++s.coupling_invalid_weight_count;
        return fail(m, "coupling facet normal is degenerate");
    }
    n = (1.0 / length) * n;
    if (!sph_coupling_vector_is_finite(m.db.x[k])) {
        ++s.coupling_nonfinite_import_count;
        return fail(m, "coupling facet center is not finite");
    }
    area = a;
    normal = n;
    center = m.db.x[k];
    return sph_success;
}

int distribute(Model& m, int region, int facet_id, const Vec3& force, int mode,
               const Vec3& center) {
    CouplingState& s = m.coupling;
    if (!region_ok(m, region)) return fail(m, "coupling region index is invalid");
    if (mode < 1 || mode > 3) {
        ++s.coupling_invalid_weight_count;
        return fail(m, "coupling distribution mode is invalid");
    }
    if (!sph_coupling_vector_is_finite(force)) {
        ++s.coupling_nonfinite_import_count;
        return fail(m, "coupling facet force is not finite");
    }
    const std::size_t k = static_cast<std::size_t>(facet_id - 1);
    const double weight = mode == 1   ? 1.0
                          : mode == 2 ? m.shell.shell_reference_area[k]
                                      : m.db.mass[k];
    if (!sph_coupling_scalar_is_finite(weight) || !(weight > 0.0)) {
        ++s.coupling_invalid_weight_count;
        return fail(m, "coupling distribution weight is invalid");
    }
    const Vec3 before = s.coupling_external_force[k];
    if (const int st = add_force(m, facet_id, force)) return st;
    const Vec3 applied = s.coupling_external_force[k] - before;
    s.coupling_facet_input_force = s.coupling_facet_input_force + force;
    s.coupling_facet_distributed_force = s.coupling_facet_distributed_force + applied;
    s.coupling_facet_input_moment = s.coupling_facet_input_moment + cross(center, force);
    s.coupling_facet_distributed_moment =
        s.coupling_facet_distributed_moment + cross(m.db.x[k], applied);
    s.coupling_facet_force_error =
        norm(s.coupling_facet_input_force - s.coupling_facet_distributed_force);
    s.coupling_facet_moment_error =
        norm(s.coupling_facet_input_moment - s.coupling_facet_distributed_moment);
    return sph_success;
}

// kind 0 pressures, 1 tractions, 2 resultants.
int facet_values(Model& m, int kind, int region_index, int count, const int* facet_ids,
                 const double* values, int mode, int coupling_step) {
    static const char* const count_text[3] = {"coupling pressure count is invalid",
                                              "coupling traction count is invalid",
                                              "coupling resultant count is invalid"};
    static const char* const finite_text[3] = {"coupling pressure is not finite",
                                               "coupling traction is not finite",
                                               "coupling resultant is not finite"};
    CouplingState& s = m.coupling;
    if (const int st = prepare_epoch(m, coupling_step)) return st;
    if (mode < 1 || mode > 3) {
        ++s.coupling_invalid_weight_count;
        return fail(m, "coupling distribution mode is invalid");
    }
    if (!region_ok(m, region_index)) return fail(m, "coupling region index is invalid");
    if (count < 0) return fail(m, count_text[kind]);
    for (int i = 0; i < count; ++i) {
        if (const int st = duplicate(m, facet_ids, i)) return st;
        const Vec3 value = kind == 0 ? Vec3{values[i], 0.0, 0.0} : vec(values, i);
        if (!sph_coupling_vector_is_finite(value)) {
            ++s.coupling_nonfinite_import_count;
            return fail(m, finite_text[kind]);
        }
        double area = 0.0;
        Vec3 normal, center;
        if (const int st = geometry(m, region_index, facet_ids[i], area, normal, center)) {
            return st;
        }
        Vec3 force = value;
        if (kind == 0) {
            force = (values[i] * area) * normal;
            s.coupling_max_pressure = std::max(s.coupling_max_pressure, std::fabs(values[i]));
        } else if (kind == 1) {
            force = area * value;
            s.coupling_max_traction = std::max(s.coupling_max_traction, norm(value));
        }
        if (const int st = distribute(m, region_index, facet_ids[i], force, mode, center)) {
            return st;
        }
    }
    return sph_success;
}

int contact(Model& m, int region_index, int count, const int* facet_ids, const double* normals,
            const double* gaps, const double* penetrations, const double* pressures,
            int coupling_step) {
    CouplingState& s = m.coupling;
    if (const int st = prepare_epoch(m, coupling_step)) return st;
    if (!region_ok(m, region_index)) return fail(m, "coupling region index is invalid");
    if (record(m, region_index).coupling_region_enabled == 0) {
        return fail(m, "coupling region is disabled");
    }
    if (record(m, region_index).coupling_region_contact_state_mode != 1) {
        return fail(m, "coupling region does not import contact state");
    }
    if (count < 0) return fail(m, "coupling contact count is invalid");
    for (int i = 0; i < count; ++i) {
        if (const int st = duplicate(m, facet_ids, i)) return st;
        Vec3 normal = vec(normals, i);
        if (!sph_coupling_vector_is_finite(normal) || !sph_coupling_scalar_is_finite(gaps[i]) ||
            !sph_coupling_scalar_is_finite(penetrations[i]) ||
            !sph_coupling_scalar_is_finite(pressures[i])) {
            ++s.coupling_nonfinite_import_count;
            ++s.coupling_nonfinite_contact_count;
            return fail(m, "coupling contact state contains nonfinite values");
        }
        const double length = norm(normal);
        if (length <= 1e-12) {
            ++s.coupling_invalid_weight_count;
            return fail(m, "coupling contact normal is degenerate");
        }
        normal = (1.0 / length) * normal;
        double area = 0.0;
        Vec3 facet_normal, center;
        if (const int st = geometry(m, region_index, facet_ids[i], area, facet_normal, center)) {
            return st;
        }
        const std::size_t k = static_cast<std::size_t>(facet_ids[i] - 1);
        if (sph_coupling_particle_should_skip(m.db, facet_ids[i] - 1)) {
            ++s.coupling_skipped_particle_count;
            ++s.coupling_skipped_contact_count;
            continue;
        }
        s.coupling_contact_flag[k] = 1;
        s.coupling_contact_normal[k] = normal;
        s.coupling_contact_gap[k] = gaps[i];
        s.coupling_contact_penetration[k] = penetrations[i];
        s.coupling_contact_pressure[k] = pressures[i];
        ++s.coupling_active_contact_count;
        s.coupling_max_penetration = std::max(s.coupling_max_penetration, penetrations[i]);
    }
    return sph_success;
}

int motion(Model& m, int region_index, int export_index, int kind, int mode, const Vec3& target) {
    if (!region_ok(m, region_index)) return fail(m, "coupling region index is invalid");
    if (kind != 1 && kind != 2) return fail(m, "coupling motion target kind is invalid");
    int p = -1;
    if (const int st = particle_at(m, record(m, region_index).coupling_region_name, export_index,
                                   "coupling motion requires particle export index",
                                   "coupling motion export index is invalid", p)) {
        return st;
    }
    return sph_coupling_set_motion(m, p, mode, kind, target);
}

int clear(Model& m) {
    if (const int st = sph_coupling_allocate_imports(m)) return st;
    CouplingState& s = m.coupling;
    if (m.db.npart > 0 && !s.coupling_external_force.empty() &&
        (any_force(s) || any_flag(s.coupling_motion_flag) || any_flag(s.coupling_contact_flag))) {
        ++s.coupling_stale_load_count;
    }
    sph_coupling_zero_import_buffers(s);
    sph_coupling_reset_load_balance(s);
    ++s.coupling_epoch;
    return sph_success;
}

int finalize_step(Model& m) {
    if (const int st = sph_coupling_allocate_imports(m)) return st;
    CouplingState& s = m.coupling;
    if (any_force(s) || any_flag(s.coupling_motion_flag) || any_flag(s.coupling_contact_flag)) {
        s.coupling_step_load_consumed = 1;
    }
    sph_coupling_zero_import_buffers(s);
    return sph_success;
}

}  // namespace plain

namespace {

template <class T>
bool same_bits(const std::vector<T>& a, const std::vector<T>& b) {
    return a.size() == b.size() &&
           (a.empty() || std::memcmp(a.data(), b.data(), a.size() * sizeof(T)) == 0);
}

template <class T>
bool same_bits(const T& a, const T& b) {
    return std::memcmp(&a, &b, sizeof(T)) == 0;
}

// Everything an import, a clear or a step can change, bit for bit; the work
// space (marks, stamps, hint) is left out.
void expect_same_state(const Model& a, const Model& b, int call) {
    const CouplingState& s = a.coupling;
    const CouplingState& t = b.coupling;
#define VELUNOR_SAME(field) EXPECT_TRUE(same_bits(s.field, t.field)) << #field << ", call " << call
    VELUNOR_SAME(coupling_external_force);
    VELUNOR_SAME(coupling_motion_velocity);
    VELUNOR_SAME(coupling_motion_position);
    VELUNOR_SAME(coupling_motion_flag);
    VELUNOR_SAME(coupling_motion_mode);
    VELUNOR_SAME(coupling_contact_flag);
    VELUNOR_SAME(coupling_contact_normal);
    VELUNOR_SAME(coupling_contact_gap);
    VELUNOR_SAME(coupling_contact_penetration);
    VELUNOR_SAME(coupling_contact_pressure);
    VELUNOR_SAME(coupling_epoch);
    VELUNOR_SAME(coupling_current_force);
    VELUNOR_SAME(coupling_current_moment);
    VELUNOR_SAME(coupling_current_impulse);
    VELUNOR_SAME(coupling_current_work);
    VELUNOR_SAME(coupling_max_external_force);
    VELUNOR_SAME(coupling_max_acceleration);
    VELUNOR_SAME(coupling_max_velocity_error);
    VELUNOR_SAME(coupling_max_position_error);
    VELUNOR_SAME(coupling_cumulative_impulse);
    VELUNOR_SAME(coupling_momentum_exchange);
    VELUNOR_SAME(coupling_cumulative_work);
    VELUNOR_SAME(coupling_energy_exchange);
    VELUNOR_SAME(coupling_work);
    VELUNOR_SAME(coupling_energy);
    VELUNOR_SAME(coupling_momentum);
    VELUNOR_SAME(coupling_facet_input_force);
    VELUNOR_SAME(coupling_facet_distributed_force);
    VELUNOR_SAME(coupling_facet_input_moment);
    VELUNOR_SAME(coupling_facet_distributed_moment);
    VELUNOR_SAME(coupling_facet_force_error);
    VELUNOR_SAME(coupling_facet_moment_error);
    VELUNOR_SAME(coupling_max_pressure);
    VELUNOR_SAME(coupling_max_traction);
    VELUNOR_SAME(coupling_max_penetration);
    VELUNOR_SAME(coupling_stale_load_count);
    VELUNOR_SAME(coupling_skipped_particle_count);
    VELUNOR_SAME(coupling_nonfinite_import_count);
    VELUNOR_SAME(coupling_imported_force_count);
    VELUNOR_SAME(coupling_repeated_import_count);
    VELUNOR_SAME(coupling_duplicate_facet_count);
    VELUNOR_SAME(coupling_invalid_weight_count);
    VELUNOR_SAME(coupling_active_contact_count);
    VELUNOR_SAME(coupling_skipped_contact_count);
    VELUNOR_SAME(coupling_nonfinite_contact_count);
    VELUNOR_SAME(coupling_bad_facet_area_count);
    VELUNOR_SAME(coupling_step_load_consumed);
#undef VELUNOR_SAME
    EXPECT_TRUE(same_bits(a.db.x, b.db.x)) << "x, call " << call;
    EXPECT_TRUE(same_bits(a.db.v, b.db.v)) << "v, call " << call;
    EXPECT_TRUE(same_bits(a.db.a, b.db.a)) << "a, call " << call;
    EXPECT_EQ(a.error.last_error_code, b.error.last_error_code) << "call " << call;
    EXPECT_EQ(a.error.last_error_message, b.error.last_error_message) << "call " << call;
}

// A change of the model between two host calls, made to both models alike:
// what the module's work space must not outlive.
void mutate(Model& m, int what, int which, int value) {
    const std::size_t p = static_cast<std::size_t>(which % m.db.npart);
    auto& regions = m.db.coupling_regions;
    CouplingRegionRecord& r = regions[static_cast<std::size_t>(which) % regions.size()];
    switch (what) {
        case 0:  // a particle goes inactive or comes back
            m.db.particle_status[p] = value % 2 == 0 ? sph_status_active : 1;
            break;
        case 1:  // a shell fails, turns water, or is a shell again
            if (p >= 2) {
                m.db.particle_phase[p] = value % 3 == 0
                                             ? sph_phase_shell_failed
                                             : (value % 3 == 1 ? sph_phase_water : sph_phase_shell);
            }
            break;
        case 2: {  // a facet area goes bad or back
            const double areas[5] = {0.5, 0.25, 2.0, 0.0, std::numeric_limits<double>::quiet_NaN()};
            m.shell.shell_reference_area[p] = areas[value % 5];
            break;
        }
        case 3: {  // a director goes bad or back
            const Vec3 directors[4] = {{0.0, 0.0, 1.0},
                                       {0.0, 0.0, 0.0},
                                       {0.0, std::numeric_limits<double>::infinity(), 0.0},
                                       {0.0, 3.0, 4.0}};
            m.shell.shell_director[p] = directors[value % 4];
            break;
        }
        case 4:  // a region is switched off or on
            r.coupling_region_enabled = value % 2;
            break;
        case 5:  // a region changes what it exports or whether it takes contact
            r.coupling_region_export_mode = 1 + value % 3;
            r.coupling_region_contact_state_mode = (value / 3) % 2;
            break;
        case 6: {  // a region's list changes: reversed, shortened, or a member twice
            std::vector<int>& list = r.coupling_region_particles;
            if (value % 3 == 0) {
                std::reverse(list.begin(), list.end());
            } else if (value % 3 == 1 && list.size() > 1) {
                list.pop_back();
            } else if (list.size() < 6) {
                list.push_back(static_cast<int>(p));
            }
            r.coupling_region_particle_count = static_cast<int>(list.size());
            break;
        }
        case 7:  // a region takes the name of another (lookups by name find the first)
            r.coupling_region_name =
                regions[static_cast<std::size_t>(value) % regions.size()].coupling_region_name;
            break;
        default:  // a facet's position goes bad or back
            m.db.x[p].x = value % 4 == 0 ? std::numeric_limits<double>::quiet_NaN()
                                         : 0.5 * static_cast<double>(p);
            break;
    }
}

}  // namespace

// Random sequences of every import kind, clears and steps, on random model
// changes between the calls: the module and the plain transcription leave the
// same buffers, totals, load balance, counters, statuses and messages, bit
// for bit.
TEST(CouplingImports, EveryImportMatchesAPlainTranscriptionBitForBit) {
    std::mt19937 rng(20261209);
    std::uniform_int_distribution<int> pick(0, 99);
    std::uniform_real_distribution<double> value(-10.0, 10.0);
    const auto real = [&] {
        const int r = pick(rng);
        if (r < 2) return std::numeric_limits<double>::quiet_NaN();
        if (r < 3) return DBL_MAX;
        if (r < 4) return -std::numeric_limits<double>::infinity();
        if (r < 8) return 0.0;
        // Few distinct values, so that loads cancel to exact zeros.
        if (r < 60) return 0.5 * static_cast<double>(pick(rng) % 5 - 2);
        return value(rng);
    };
    std::vector<int> seen(10, 0);
    int successes = 0, failures = 0;
    for (int sequence = 0; sequence < 40 && !::testing::Test::HasFailure(); ++sequence) {
        auto fast = built_model();
        auto ref = built_model();
        for (int call = 0; call < 400; ++call) {
            if (pick(rng) < 15) {
                const int what = pick(rng) % 9, which = pick(rng), v = pick(rng);
                mutate(*fast, what, which, v);
                mutate(*ref, what, which, v);
            }
            const int op = pick(rng) % 10;
            const int region = pick(rng) < 3 ? pick(rng) % 7 - 1 : 1 + pick(rng) % 4;
            const int count = pick(rng) < 3 ? -1 : pick(rng) % 6;
            const std::size_t n = static_cast<std::size_t>(std::max(count, 0));
            std::vector<int> ids(n + 1);
            for (int& id : ids) id = pick(rng) % 7;  // 0 and 6 name no particle
            std::vector<double> v3(3 * n + 3), v1(n + 1), v1b(n + 1), v1c(n + 1);
            for (double& x : v3) x = real();
            for (double& x : v1) x = real();
            for (double& x : v1b) x = real();
            for (double& x : v1c) x = real();
            const int epoch = fast->coupling.coupling_epoch;
            const int r = pick(rng);
            const int step = r < 3 ? -1 : r < 50 ? epoch : r < 80 ? epoch + 1 : pick(rng) % 6;
            const int mode = pick(rng) < 5 ? pick(rng) % 5 : 1 + pick(rng) % 3;
            int a = 0, b = 0;
            switch (op) {
                case 0:
                    a = sph_coupling_apply_particle_forces(*fast, region, count, ids.data(),
                                                           v3.data());
                    b = plain::particle_forces(*ref, region, count, ids.data(), v3.data());
                    break;
                case 1:
                    a = sph_coupling_apply_facet_loads(*fast, region, count, ids.data(), v3.data());
                    b = plain::facet_loads(*ref, region, count, ids.data(), v3.data());
                    break;
                case 2:
                    a = sph_coupling_apply_facet_pressures(*fast, region, count, ids.data(),
                                                           v1.data(), mode, step);
                    b = plain::facet_values(*ref, 0, region, count, ids.data(), v1.data(), mode,
                                            step);
                    break;
                case 3:
                    a = sph_coupling_apply_facet_tractions(*fast, region, count, ids.data(),
                                                           v3.data(), mode, step);
                    b = plain::facet_values(*ref, 1, region, count, ids.data(), v3.data(), mode,
                                            step);
                    break;
                case 4:
                    a = sph_coupling_apply_facet_resultants(*fast, region, count, ids.data(),
                                                            v3.data(), mode, step);
                    b = plain::facet_values(*ref, 2, region, count, ids.data(), v3.data(), mode,
                                            step);
                    break;
                case 5:
                    a = sph_coupling_apply_contact_state(*fast, region, count, ids.data(),
                                                         v3.data(), v1.data(), v1b.data(),
                                                         v1c.data(), step);
                    b = plain::contact(*ref, region, count, ids.data(), v3.data(), v1.data(),
                                       v1b.data(), v1c.data(), step);
                    break;
                case 6: {
                    const int kind = pick(rng) < 10 ? 0 : 1 + pick(rng) % 2;
                    const int motion_mode = pick(rng) < 10 ? pick(rng) % 3 : 1;
                    const Vec3 target{v3[0], v3[1], v3[2]};
                    a = sph_coupling_apply_motion_boundary(*fast, region, ids[0], kind, motion_mode,
                                                           target);
                    b = plain::motion(*ref, region, ids[0], kind, motion_mode, target);
                    break;
                }
                case 7:
                    a = sph_coupling_clear_imports(*fast);
                    b = plain::clear(*ref);
                    break;
                default: {
                    // The coupling hooks of one step, without the phases.
                    const double dt = 1e-3;
                    Model* models[2] = {fast.get(), ref.get()};
                    int status[2] = {0, 0};
                    for (int k = 0; k < 2; ++k) {
                        Model& m = *models[k];
                        int st = sph_coupling_apply_imports_to_acceleration(m, dt);
                        if (st == 0) st = sph_coupling_apply_motion_before_step(m);
                        if (st == 0) st = sph_coupling_apply_motion_after_step(m);
                        if (st == 0) {
                            st = k == 0 ? sph_coupling_finalize_step_imports(m)
                                        : plain::finalize_step(m);
                        }
                        status[k] = st;
                    }
                    a = status[0];
                    b = status[1];
                    break;
                }
            }
            ASSERT_EQ(a, b) << "sequence " << sequence << ", call " << call << ", op " << op;
            ++seen[static_cast<std::size_t>(op)];
            (a == 0 ? successes : failures) += 1;
            expect_same_state(*fast, *ref, call);
            if (::testing::Test::HasFailure()) {
                ADD_FAILURE() << "sequence " << sequence << ", call " << call << ", op " << op;
                break;
            }
        }
    }
    // Both outcomes and every kind of call came up often.
    EXPECT_GT(successes, 2000);
    EXPECT_GT(failures, 2000);
    for (int count : seen) EXPECT_GT(count, 500);
}
