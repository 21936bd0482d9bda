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

// Deck setters (they validate and report their own messages).
void sph_water_note_material(WaterState& water, std::string_view name,
                             std::string_view material_type);
[[nodiscard]] int sph_water_set_eos(Model& m, std::string_view eos_type,
                                    std::string_view material_name, double rho0, double c0,
                                    double gamma, double p0, double b_value, bool has_b);
[[nodiscard]] int sph_water_set_viscosity(Model& m, std::string_view visc_type,
                                          std::string_view material_name, double alpha,
                                          double beta, double eta2);
[[nodiscard]] int sph_water_set_particle_control(Model& m, double h_value, double mass_value,
                                                 double volume_value);
[[nodiscard]] int sph_water_set_body_force(Model& m, const Vec3& force);

// Model build.
[[nodiscard]] int sph_water_validate_input(Model& m);
bool sph_water_has_material_density(const Model& m);
[[nodiscard]] int sph_water_apply_initial_conditions(Model& m);

// Physics, called by the explicit driver every step.
[[nodiscard]] int sph_water_tait_pressure(Model& m, double rho_value, double& pressure_value);
[[nodiscard]] int sph_water_sound_speed(Model& m, double& c_value);
[[nodiscard]] int sph_water_update_pressure(Model& m);
[[nodiscard]] int sph_water_compute_density_rate(Model& m);
[[nodiscard]] int sph_water_compute_pressure_acceleration(Model& m);
[[nodiscard]] int sph_water_compute_viscosity_acceleration(Model& m);
[[nodiscard]] int sph_water_compute_acceleration(Model& m);
[[nodiscard]] int sph_water_estimate_dt_limits(Model& m, double& dt_cfl, double& dt_accel,
                                               double& dt_viscous);
[[nodiscard]] int sph_water_update_diagnostics(Model& m);
[[nodiscard]] int sph_water_get_summary(Model& m, double& mass_out, Vec3& momentum_out,
                                        double& max_pressure_out, double& min_density_out,
                                        double& max_density_out);
