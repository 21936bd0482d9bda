#pragma once
// The energy budget of the particles by phase: kinetic energy, internal
// energy (the Tait energy of compression for water, the specific internal
// energy for gas, explosive and solid) and the potential of the body forces.
// Written to the log at the start and end of runs so that a host can tell
// whether a run without external work kept its energy.

#include <array>

struct Model;

struct PhaseEnergy {
    int particles = 0;  // active particles of the phase
    double kinetic = 0.0;
    double internal = 0.0;
};

struct EnergyBudget {
    // Water, gas, explosive, solid, shell.
    std::array<PhaseEnergy, 5> phases{};
    double potential = 0.0;  // -sum m b.x of the body forces b
    // Work can enter from outside the particles' own forces: a burn, gas
    // (which holds its specific internal energy, so exchanges heat), gas
    // sources, blast loads, or coupling loads and motion.
    bool external_work = false;

    double total() const;
};

EnergyBudget sph_energy_budget(const Model& m);

// One log line, nothing when the log is closed:
//   energy step N time T water K I gas K I explosive K I solid K I shell K I
//   potential P external_work 0|1
void sph_energy_log(Model& m);
