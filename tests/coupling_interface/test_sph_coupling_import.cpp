// Imports, epochs, motion, clearing and their application in the next step,
// against the written equations evaluated here.

#include <cfloat>
#include <cmath>
#include <limits>
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
