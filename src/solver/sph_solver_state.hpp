#pragma once
// What the velocity-Verlet scheme carries from one step to the next: the
// phase forces at the end of a step, which are the start-of-step forces of
// the next one, so that each step evaluates the forces once. The default
// scheme keeps nothing here.

#include <vector>

#include "core/sph_vec3.hpp"

// Integrators chosen by INTEGRATOR= of the time control.
inline constexpr int sph_integrator_default = 0;
inline constexpr int sph_integrator_verlet = 1;

struct SolverState {
    // True when the two arrays below hold the forces of the current state.
    bool verlet_forces_ready = false;
    std::vector<Vec3> verlet_acceleration;         // water, gas, solid and blast, per particle
    std::vector<double> verlet_density_rate;       // within a step: the rate at its start positions
    std::vector<Vec3> verlet_import_acceleration;  // this step's coupling imports
};

// Forgets the carried forces (a build, a deck read, initialization).
void sph_solver_reset(SolverState& s);
