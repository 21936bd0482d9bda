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

namespace {

// The first particle (0-based) whose position, velocity, density or pressure
// is not finite, or -1.
int first_non_finite(const DbState& db) {
    for (int i = 0; i < db.npart; ++i) {
        const Vec3& x = db.x[static_cast<std::size_t>(i)];
        const Vec3& v = db.v[static_cast<std::size_t>(i)];
        const bool finite = std::isfinite(x.x) && std::isfinite(x.y) && std::isfinite(x.z) &&
                            std::isfinite(v.x) && std::isfinite(v.y) && std::isfinite(v.z) &&
                            std::isfinite(db.rho[static_cast<std::size_t>(i)]) &&
                            std::isfinite(db.pressure[static_cast<std::size_t>(i)]);
        if (!finite) return i;
    }
    return -1;
}

}  // namespace

void sph_solver_reset(SolverState& s) {
    s = SolverState{};
}

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
    return probe == 0.0 ? -1 : first_non_finite(db);
}

void sph_solver_verlet_kick(DbState& db, const SolverState& s, double half_dt) {
    Vec3* v = db.v.data();
    Vec3* a = db.a.data();
    const Vec3* force = s.verlet_acceleration.data();
    const Vec3* imports = s.verlet_import_acceleration.data();
    for (int i = 0; i < db.npart; ++i) {
        const Vec3 ai = force[i] + imports[i];
        a[i] = ai;
        v[i] = v[i] + half_dt * ai;
    }
}

int sph_solver_verlet_drift(DbState& db, double dt) {
    Vec3* x = db.x.data();
    const Vec3* v = db.v.data();
    Vec3* vhalf = db.vhalf.data();
    double probe = 0.0;  // as in the default update
    for (int i = 0; i < db.npart; ++i) {
        const Vec3 vh = v[i];
        vhalf[i] = vh;
        const Vec3 xn = x[i] + dt * vh;
        x[i] = xn;
        probe += (0.0 * xn.x + 0.0 * xn.y + 0.0 * xn.z) + (0.0 * vh.x + 0.0 * vh.y + 0.0 * vh.z);
    }
    return probe == 0.0 ? -1 : first_non_finite(db);
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

// The water and gas density rates and accelerations of the current state
// (pressures given). The fused pair passes give the plain operations' results
// bit for bit, so they also serve where only the rates are wanted.
int compute_fluid_rates_and_accelerations(Model& m) {
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
    return sph_success;
}

// The water and gas density rates alone, through the pair passes where they
// can run (the gas pass brings its accelerations along, which the caller
// sets afresh afterwards).
int compute_fluid_density_rates(Model& m) {
    if (const int st = sph_water_compute_density_rate_fused(m); st != 0) return st;
    if (sph_gas_pair_pass_ready(m)) {
        sph_gas_compute_density_rate_and_acceleration(m);
        return sph_success;
    }
    return sph_gas_compute_density_rate(m);
}

// The phase forces of the current state: neighbors, pressures, the blast
// loads at `time`, the water and gas density rates and accelerations, the
// solid accelerations and the blast loads added on. The first failing call
// ends it with its status.
int compute_phase_forces(Model& m, double time) {
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
    if (const int st = sph_blast_load_compute_at(m, time); st != 0) return st;

    if (const int st = compute_fluid_rates_and_accelerations(m); st != 0) return st;
    if (const int st = sph_solid_compute_acceleration(m); st != 0) return st;
    return sph_blast_load_apply_to_acceleration(m);
}

// A blown-up step fails where it blew up, naming the particle, instead of
// running on with NaN until some unrelated check trips.
int non_finite_failure(Model& m, int bad) {
    const long long step = static_cast<long long>(m.control.current_step) + 1;
    return sph_error_set(m.error, sph_error_argument,
                         sph_solver_non_finite_message(
                             m.db, bad, static_cast<int>(std::min<long long>(step, INT_MAX))));
}

// The work after the update that both schemes share, up to the material
// state: the burn and the gas sources.
int advance_burn_and_sources(Model& m, double dt) {
    if (const int st = sph_explosive_advance(m, dt, m.control.current_time + dt); st != 0) {
        return st;
    }
    // The gas pressure after a step follows the end-of-step density and energy.
    return sph_gas_apply_sources_explicit(m, dt);
}

int update_diagnostics(Model& m) {
    if (const int st = sph_water_update_diagnostics(m); st != 0) return st;
    if (const int st = sph_gas_update_diagnostics(m); st != 0) return st;
    return sph_solid_update_diagnostics(m);
}

// The step's physics between the start and the time update. The first failing
// call ends it with its status.
int advance_particles(Model& m, double dt) {
    // The start-of-step blast loads drive the step.
    if (const int st = compute_phase_forces(m, m.control.current_time); st != 0) return st;
    if (const int st = sph_coupling_apply_imports_to_acceleration(m, dt); st != 0) return st;
    if (const int st = sph_coupling_apply_motion_before_step(m); st != 0) return st;

    // Time and step stay where they were when the update blows up.
    if (const int bad = sph_solver_integrate_particles(m.db, dt); bad >= 0) {
        return non_finite_failure(m, bad);
    }

    // A position target resets the position the update moved; a velocity
    // target fixes the velocity again. Imports act on this one step.
    if (const int st = sph_coupling_apply_motion_after_step(m); st != 0) return st;
    if (const int st = sph_coupling_finalize_step_imports(m); st != 0) return st;
    if (const int st = advance_burn_and_sources(m, dt); st != 0) return st;
    // The end-of-step blast loads are what the step's output shows.
    if (const int st = sph_blast_load_compute_at(m, m.control.current_time + dt); st != 0) {
        return st;
    }
    if (const int st = sph_solid_advance_material(m, dt); st != 0) return st;
    return update_diagnostics(m);
}

// The coupling imports of this step as accelerations of their own, so that
// both half kicks can add them to forces of different times: the import pass
// adds onto a zeroed array in place of the accelerations.
int collect_import_accelerations(Model& m, double dt) {
    std::vector<Vec3>& imports = m.solver.verlet_import_acceleration;
    imports.assign(static_cast<std::size_t>(m.db.npart), Vec3{});
    std::swap(m.db.a, imports);
    const int st = sph_coupling_apply_imports_to_acceleration(m, dt);
    std::swap(m.db.a, imports);
    return st;
}

// The forces of the velocity-Verlet scheme at the current positions. With
// `start_rate` (the density rate at the start positions and the half-step
// velocity) the density is first advanced by dt/2 (start_rate + the rate at
// these positions), so that the pressures are those of the new density.
int compute_verlet_forces(Model& m, double time, double dt, const std::vector<double>* start_rate) {
    DbState& db = m.db;
    for (int i = 0; i < db.npart; ++i) db.a[i] = Vec3{};
    if (const int st = sph_blast_load_clear(m); st != 0) return st;
    if (const int st = sph_neighbor_rebuild(m); st != 0) return st;
    if (start_rate != nullptr) {
        if (const int st = compute_fluid_density_rates(m); st != 0) return st;
        const double half_dt = 0.5 * dt;
        const double* before = start_rate->data();
        for (int i = 0; i < db.npart; ++i) db.rho[i] += half_dt * (before[i] + db.drho_dt[i]);
    }
    if (const int st = sph_water_update_pressure(m); st != 0) return st;
    if (const int st = sph_gas_update_pressure(m); st != 0) return st;
    if (const int st = sph_blast_load_compute_at(m, time); st != 0) return st;
    // The density rates of this pass are not used: the density has moved on.
    if (const int st = compute_fluid_rates_and_accelerations(m); st != 0) return st;
    if (const int st = sph_solid_compute_acceleration(m); st != 0) return st;
    return sph_blast_load_apply_to_acceleration(m);
}

// Velocity Verlet, with the density as a position: kick with the
// start-of-step forces, drift the positions with the half-step velocity and
// the density with the mean of its rates at the old and the new positions
// (both with the half-step velocity), then kick with the forces of the new
// state, which the next step starts from. Without viscosity those forces
// depend on positions and densities only, so carrying them is exact.
int advance_particles_verlet(Model& m, double dt) {
    DbState& db = m.db;
    SolverState& s = m.solver;
    const std::size_t n = static_cast<std::size_t>(db.npart);
    if (!s.verlet_forces_ready || s.verlet_acceleration.size() != n) {
        s.verlet_forces_ready = false;
        if (const int st = compute_verlet_forces(m, m.control.current_time, dt, nullptr)) {
            return st;
        }
        s.verlet_acceleration = db.a;
    }
    if (const int st = collect_import_accelerations(m, dt); st != 0) return st;
    if (const int st = sph_coupling_apply_motion_before_step(m); st != 0) return st;

    // Nothing below may reuse the carried forces until the step is complete.
    s.verlet_forces_ready = false;
    sph_solver_verlet_kick(db, s, 0.5 * dt);
    // The neighbors are those of the start positions.
    if (const int st = compute_fluid_density_rates(m); st != 0) return st;
    s.verlet_density_rate = db.drho_dt;
    if (const int bad = sph_solver_verlet_drift(db, dt); bad >= 0) {
        return non_finite_failure(m, bad);
    }
    // The forces at the new positions see the prescribed positions.
    sph_coupling_apply_position_targets(m);
    if (const int st = advance_burn_and_sources(m, dt); st != 0) return st;
    // The stress follows the half-step velocity gradient.
    if (const int st = sph_solid_advance_material(m, dt); st != 0) return st;
    if (const int st =
            compute_verlet_forces(m, m.control.current_time + dt, dt, &s.verlet_density_rate)) {
        return st;
    }
    s.verlet_acceleration = db.a;
    sph_solver_verlet_kick(db, s, 0.5 * dt);
    if (const int bad = first_non_finite(db); bad >= 0) return non_finite_failure(m, bad);
    if (const int st = sph_coupling_apply_motion_after_step(m); st != 0) return st;
    if (const int st = sph_coupling_finalize_step_imports(m); st != 0) return st;
    if (const int st = update_diagnostics(m); st != 0) return st;
    s.verlet_forces_ready = true;
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
        const int st = m.control.integrator == sph_integrator_verlet
                           ? advance_particles_verlet(m, dt)
                           : advance_particles(m, dt);
        if (st != 0) return st;
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
