#pragma once
// The one model the library carries: every module's state gathered in one
// aggregate. The API layer owns the instance the exports act on; tests build
// their own.

#include "blast/sph_blast.hpp"
#include "blast/sph_blast_load.hpp"
#include "core/sph_control.hpp"
#include "core/sph_error.hpp"
#include "core/sph_log.hpp"
#include "coupling_interface/sph_coupling_interface.hpp"
#include "database/sph_database.hpp"
#include "explosive/sph_explosive.hpp"
#include "gas/sph_gas.hpp"
#include "input/sph_input_reader.hpp"
#include "interface/sph_api_state.hpp"
#include "material/sph_material.hpp"
#include "output/sph_output_vtu.hpp"
#include "particle/sph_neighbor.hpp"
#include "particle/sph_particle.hpp"
#include "shell/sph_shell.hpp"
#include "solid/sph_solid.hpp"
#include "solid/sph_solid_api.hpp"
#include "solid/sph_solid_dynamics.hpp"
#include "solver/sph_solver_state.hpp"
#include "water/sph_water.hpp"

struct Model {
    ErrorState error;
    ApiState api;
    LogState log;
    ControlState control;
    DbState db;
    ParticleModuleState particle;
    MaterialModuleState material;
    NeighborState neighbor;
    InputState input;
    WaterState water;
    GasState gas;  // its sources are gas.sources
    ExplosiveState explosive;
    SolidState solid;
    ShellState shell;
    BlastState blast;
    BlastLoadState blast_load;
    CouplingState coupling;
    PvdState pvd;
    OutputOptions output;
    SolverState solver;
};
