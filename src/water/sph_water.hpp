#pragma once
// Water phase: Tait equation of state, continuity equation, symmetric pressure
// force, Monaghan artificial viscosity, body force, time-step limits.

#include <string>
#include <string_view>

#include "core/sph_vec3.hpp"

struct Model;

struct WaterState {
    bool water_module_initialized = false;
    bool water_material_seen = false;
    bool water_eos_defined = false;
    bool water_viscosity_defined = false;
    bool water_particle_control_defined = false;
    std::string water_material_name = "WATER";
    double water_rho0 = 1000.0;
    double water_c0 = 1480.0;
    double water_gamma = 7.0;
    double water_p0 = 0.0;
    double water_b = 1000.0 * 1480.0 * 1480.0 / 7.0;
    double water_visc_alpha = 0.1;
    double water_visc_beta = 0.0;
    double water_visc_eta2 = 0.01;
    double water_default_h = 1.0;
    double water_default_mass = 1.0;
    double water_default_volume = 1.0;
    Vec3 water_body_force;
};

void sph_water_initialize(WaterState& water);
void sph_water_reset(WaterState& water);
