#pragma once
// Explicit time integration: stable time step over the phases, one step in a
// fixed order of phase work and a common kick-drift-kick update, and the run
// loop to the end time. Time and step live in run control.

#include <string>

struct Model;
struct DbState;
struct SolverState;

// The time step to use next: the phases' stable step times the safety factor,
// bounded above by dt_default, which is also the fallback when no phase limits
// the step (and the result for an empty model).
[[nodiscard]] int sph_solver_estimate_stable_dt(Model& m, double& dtcrit);
// The smallest positive stable step over the phases times the safety factor;
// 0 when no phase imposes one.
[[nodiscard]] int sph_solver_phase_dt(Model& m, double& dtcrit);
// One step of size dt (not compared with any stability limit).
[[nodiscard]] int sph_solver_advance_explicit(Model& m, double dt);
// Steps of the stable size until end_time (the last one lands on it) or until
// this call has taken max_steps steps.
[[nodiscard]] int sph_solver_run_explicit(Model& m);

// The common update of one step, for every particle in index order:
// vhalf = v + dt/2 a, x += dt vhalf, rho += dt drho_dt, v = vhalf + dt/2 a.
// Returns the index (0-based) of the first particle whose position, velocity,
// density or pressure is not finite afterwards, or -1 when all are.
int sph_solver_integrate_particles(DbState& db, double dt);
// The message of a step that left particle `index` non-finite: names the
// first such quantity, the node id and the step.
std::string sph_solver_non_finite_message(const DbState& db, int index, int step);

// The pieces of a velocity-Verlet step, for every particle in index order.
// Kick: a = F + I, v += half_dt a, with F the carried forces and I the
// step's import accelerations. Drift: vhalf = v, x += dt v; returns the first
// non-finite particle as the default update does, or -1.
void sph_solver_verlet_kick(DbState& db, const SolverState& s, double half_dt);
int sph_solver_verlet_drift(DbState& db, double dt);
