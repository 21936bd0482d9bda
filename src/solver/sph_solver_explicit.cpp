#include "solver/sph_solver_explicit.hpp"

#include <algorithm>
#include <climits>
#include <cmath>

#include "core/sph_error.hpp"
#include "core/sph_model.hpp"
#include "gas/sph_gas.hpp"
#include "output/sph_output_csv.hpp"
#include "particle/sph_neighbor.hpp"
#include "water/sph_water.hpp"

// Kick-drift-kick with one acceleration for both half kicks, every particle
// whatever its phase and status; particles that must not move stay because
// their a and v are 0.
int sph_solver_integrate_particles(DbState& db, double dt) {
    const double half_dt = 0.5 * dt;
    Vec3* x = db.x.data();
    Vec3* v = db.v.data();
    Vec3* vhalf = db.vhalf.data();
    const Vec3* a = db.a.data();
    double* rho = db.rho.data();
    const double* drho_dt = db.drho_dt.data();
    const double* pressure = db.pressure.data();
    // 0 * value is 0 for a finite value and NaN for an infinite or NaN one, so
    // the sum stays 0 exactly while every particle is finite; this keeps the
    // check inside the update loop, without a branch per particle.
    double probe = 0.0;
    for (int i = 0; i < db.npart; ++i) {
        const Vec3 vh = v[i] + half_dt * a[i];
        vhalf[i] = vh;
        const Vec3 xn = x[i] + dt * vh;
        x[i] = xn;
        const double rn = rho[i] + dt * drho_dt[i];
        rho[i] = rn;
        const Vec3 vn = vh + half_dt * a[i];
        v[i] = vn;
        probe += (0.0 * xn.x + 0.0 * xn.y + 0.0 * xn.z) + (0.0 * vn.x + 0.0 * vn.y + 0.0 * vn.z) +
                 (0.0 * rn + 0.0 * pressure[i]);
    }
    if (probe == 0.0) return -1;
    for (int i = 0; i < db.npart; ++i) {
        const bool finite = std::isfinite(x[i].x) && std::isfinite(x[i].y) &&
                            std::isfinite(x[i].z) && std::isfinite(v[i].x) &&
                            std::isfinite(v[i].y) && std::isfinite(v[i].z) &&
                            std::isfinite(rho[i]) && std::isfinite(pressure[i]);
        if (!finite) return i;
    }
    return -1;
}

std::string sph_solver_non_finite_message(const DbState& db, int index, int step) {
    const std::size_t i = static_cast<std::size_t>(index);
    const auto finite3 = [](const Vec3& u) {
        return std::isfinite(u.x) && std::isfinite(u.y) && std::isfinite(u.z);
    };
    const char* what = !finite3(db.x[i])           ? "position"
                       : !finite3(db.v[i])         ? "velocity"
                       : !std::isfinite(db.rho[i]) ? "density"
                                                   : "pressure";
    return std::string("non-finite ") + what + " at node " + std::to_string(db.particle_id_ext[i]) +
           " in step " + std::to_string(step);
}

namespace {

// The step's physics between the start and the time update. The first failing
// call ends it with its status.
int advance_particles(Model& m, double dt) {
    DbState& db = m.db;
    // Water, gas and solid set the acceleration of their active particles
    // afresh; every other particle (boundary, shell, failed or inactive ones,
    // and solids the solid phase leaves alone) would otherwise carry its last
    // acceleration into this step and have blast loads and coupling imports
    // pile up on it. Clearing all of them first changes nothing for the ones a
    // phase sets.
    for (int i = 0; i < db.npart; ++i) db.a[i] = Vec3{};

    // The phases join in this order.
    if (const int st = sph_blast_load_clear(m); st != 0) return st;
    if (const int st = sph_neighbor_rebuild(m); st != 0) return st;
    if (const int st = sph_water_update_pressure(m); st != 0) return st;
    if (const int st = sph_gas_update_pressure(m); st != 0) return st;
    // The start-of-step blast loads drive the step.
    if (const int st = sph_blast_load_compute_at(m, m.control.current_time); st != 0) return st;

    // Water density rate; the acceleration comes with it when the fused pair
    // pass can take it (nothing between here and the water acceleration reads
    // or writes what that pass does: the gas passes touch only gas particles'
    // rates and accelerations).
    bool water_acceleration_done = false;
    if (const int st = sph_water_compute_density_rate_and_acceleration(m, water_acceleration_done);
        st != 0) {
        return st;
    }
    // The gas density rate and acceleration in one pass when neither can fail,
    // at the place of the gas acceleration (no failure can then come between);
    // otherwise the two plain passes at their own places.
    const bool gas_fused = sph_gas_pair_pass_ready(m);
    if (!gas_fused) {
        if (const int st = sph_gas_compute_density_rate(m); st != 0) return st;
    }
    if (!water_acceleration_done) {
        if (const int st = sph_water_compute_acceleration(m); st != 0) return st;
    }
    if (gas_fused) {
        sph_gas_compute_density_rate_and_acceleration(m);
    } else if (const int st = sph_gas_compute_acceleration(m); st != 0) {
        return st;
    }
    if (const int st = sph_solid_compute_acceleration(m); st != 0) return st;
    if (const int st = sph_blast_load_apply_to_acceleration(m); st != 0) return st;
    if (const int st = sph_coupling_apply_imports_to_acceleration(m, dt); st != 0) return st;
    if (const int st = sph_coupling_apply_motion_before_step(m); st != 0) return st;

    // A blown-up step fails here, naming where, instead of running on with
    // NaN until some unrelated check trips; time and step stay where they were.
    if (const int bad = sph_solver_integrate_particles(db, dt); bad >= 0) {
        const long long step = static_cast<long long>(m.control.current_step) + 1;
        return sph_error_set(m.error, sph_error_argument,
                             sph_solver_non_finite_message(
                                 db, bad, static_cast<int>(std::min<long long>(step, INT_MAX))));
    }

    // A position target resets the position the update moved; a velocity
    // target fixes the velocity again. Imports act on this one step.
    if (const int st = sph_coupling_apply_motion_after_step(m); st != 0) return st;
    if (const int st = sph_coupling_finalize_step_imports(m); st != 0) return st;
    if (const int st = sph_explosive_advance(m, dt, m.control.current_time + dt); st != 0) {
        return st;
    }
    // The gas pressure after a step follows the end-of-step density and energy.
    if (const int st = sph_gas_apply_sources_explicit(m, dt); st != 0) return st;
    // The end-of-step blast loads are what the step's output shows.
    if (const int st = sph_blast_load_compute_at(m, m.control.current_time + dt); st != 0) {
        return st;
    }
    if (const int st = sph_solid_advance_material(m, dt); st != 0) return st;
    if (const int st = sph_water_update_diagnostics(m); st != 0) return st;
    if (const int st = sph_gas_update_diagnostics(m); st != 0) return st;
    if (const int st = sph_solid_update_diagnostics(m); st != 0) return st;
    return sph_success;
}

// One step that ends at new_time (the run loop passes the end time itself for
// its last step, so it lands there exactly).
int advance_to(Model& m, double dt, double new_time) {
    if (!(dt > 0.0)) {  // NaN too: it would turn every particle into NaN
        return sph_error_set(m.error, sph_error_argument, "time step must be positive");
    }
    if (!std::isfinite(dt) || !std::isfinite(new_time)) {
        return sph_error_set(m.error, sph_error_argument, "time step must be finite");
    }
    if (m.db.npart > 0) {
        if (const int st = advance_particles(m, dt); st != 0) return st;
    }
    ControlState& c = m.control;
    c.current_time = new_time;
    c.current_step += 1;
    if (c.output_enabled && c.output_interval > 0 && c.current_step % c.output_interval == 0) {
        return sph_output_write_step(m, c.current_step, c.current_time);
    }
    return sph_success;
}

}  // namespace

int sph_solver_phase_dt(Model& m, double& dtcrit) {
    dtcrit = 0.0;
    const double safety = m.control.safety_factor;
    if (safety <= 0.0) {
        return sph_error_set(m.error, sph_error_argument,
                             "time step safety factor must be positive");
    }
    double dt_cfl = 0.0;
    double dt_accel = 0.0;
    double dt_viscous = 0.0;
    if (const int st = sph_water_estimate_dt_limits(m, dt_cfl, dt_accel, dt_viscous); st != 0) {
        return st;
    }
    const double inner = dt_viscous < dt_accel ? dt_viscous : dt_accel;
    const double water_limit = inner < dt_cfl ? inner : dt_cfl;
    dtcrit = water_limit > 0.0 ? water_limit : 0.0;
    // Each further limit (gas, explosive, solid)
    // replaces dtcrit when it is positive and dtcrit is not positive or larger.
    const auto combine = [&dtcrit](double limit) {
        if (limit > 0.0 && (dtcrit <= 0.0 || dtcrit > limit)) dtcrit = limit;
    };
    double gas_cfl = 0.0, gas_accel = 0.0, gas_limit = 0.0;
    if (const int st = sph_gas_estimate_dt_limits(m, gas_cfl, gas_accel, gas_limit); st != 0) {
        return st;
    }
    combine(gas_limit);
    double explosive_limit = 0.0;
    if (const int st = sph_explosive_estimate_dt_limit(m, explosive_limit); st != 0) return st;
    combine(explosive_limit);
    // The solid query recomputes the solid accelerations before it measures them.
    double solid_cfl = 0.0, solid_accel = 0.0, solid_limit = 0.0;
    if (const int st = sph_solid_estimate_dt_limits(m, solid_cfl, solid_accel, solid_limit);
        st != 0) {
        return st;
    }
    combine(solid_limit);
    dtcrit = safety * dtcrit;
    return sph_success;
}

int sph_solver_estimate_stable_dt(Model& m, double& dtcrit) {
    dtcrit = m.control.dt_default;
    if (m.db.npart == 0) return sph_success;
    if (const int st = sph_solver_phase_dt(m, dtcrit); st != 0) return st;
    // Not positive (or NaN) means no phase limits the step.
    if (!(dtcrit > 0.0) || dtcrit > m.control.dt_default) dtcrit = m.control.dt_default;
    return sph_success;
}

int sph_solver_advance_explicit(Model& m, double dt) {
    return advance_to(m, dt, m.control.current_time + dt);
}

int sph_solver_run_explicit(Model& m) {
    ControlState& c = m.control;
    int n = 0;
    while (c.current_time < c.end_time && n < c.max_steps) {
        double dt = 0.0;
        if (const int st = sph_solver_estimate_stable_dt(m, dt); st != 0) return st;
        // current_time + (end_time - current_time) can round to a value just
        // below end_time, which would cost an extra step of a few ulps; the
        // last step therefore ends at end_time itself.
        double new_time = c.current_time + dt;
        if (new_time > c.end_time) {
            dt = c.end_time - c.current_time;
            new_time = c.end_time;
        }
        if (dt <= 0.0) return sph_success;
        if (const int st = advance_to(m, dt, new_time); st != 0) return st;
        n += 1;
    }
    return sph_success;
}
