#include "particle/sph_particle.hpp"

void sph_particle_initialize(ParticleModuleState& state) { state.particle_module_initialized = true; }
void sph_particle_reset(ParticleModuleState& state) { state.particle_module_initialized = false; }
