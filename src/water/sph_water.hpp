#pragma once
// Water phase: Tait equation of state, continuity equation, symmetric pressure
// force, Monaghan artificial viscosity, body force, time-step limits.

#include <string>
#include <string_view>
#include <vector>

#include "core/sph_vec3.hpp"

struct Model;
struct DbState;

// Per-particle values the step's pair pass reads for every neighbor, packed
// so that a neighbor costs one record instead of seven array lookups.
struct WaterPairRecord {
    Vec3 x;
    Vec3 v;
    double mass = 0.0;
    double p_over_rho2 = 0.0;  // pressure / rho^2
    double h = 0.0;
    double rho = 0.0;
};

// Step workspace, reused across steps: records sized to the particle count,
// pair columns sized to the largest neighbor count seen.
struct WaterWorkspace {
    std::vector<WaterPairRecord> record;
    std::vector<unsigned char> active;  // 1 for an active water particle
    std::vector<double> pair_columns;
    std::size_t pair_stride = 0;
    std::vector<double> volume;  // m / rho, only while density diffusion is on
};

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
    double water_density_diffusion = 0.0;  // delta of the diffusive density term; 0 = off
    double water_default_h = 1.0;
    double water_default_mass = 1.0;
    double water_default_volume = 1.0;
    Vec3 water_body_force;

    WaterWorkspace workspace;  // not part of the module's values; scratch only
};

void sph_water_initialize(WaterState& water);
void sph_water_reset(WaterState& water);

// Particle classes (0-based index i).
bool sph_water_is_active_particle(const DbState& db, int i);
bool sph_water_is_material_particle(const DbState& db, int i);

// Deck setters (they validate and report their own messages).
void sph_water_note_material(WaterState& water, std::string_view name,
                             std::string_view material_type);
[[nodiscard]] int sph_water_set_eos(Model& m, std::string_view eos_type,
                                    std::string_view material_name, double rho0, double c0,
                                    double gamma, double p0, double b_value, bool has_b);
[[nodiscard]] int sph_water_set_viscosity(Model& m, std::string_view visc_type,
                                          std::string_view material_name, double alpha, double beta,
                                          double eta2);
// DENSITY_DIFFUSION of *VELUNOR VISCOSITY (the deck reader has checked that it
// is finite and not negative).
void sph_water_set_density_diffusion(WaterState& water, double delta);
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
// Monaghan viscosity of the pair (i, j) on particle i (0-based indices).
[[nodiscard]] int sph_water_pair_viscosity(Model& m, int i, int j, Vec3& contribution);
[[nodiscard]] int sph_water_compute_acceleration(Model& m);
// The density rate includes the diffusive term when water_density_diffusion
// is positive (sph_water_pairs.hpp).
// The step's fast path: the density rate and, when no water particle can make
// the acceleration fail (density and smoothing length positive everywhere),
// the acceleration too, in one pass over the pairs that evaluates each kernel
// gradient once. Results are bit-identical to sph_water_compute_density_rate
// followed by sph_water_compute_acceleration. Otherwise only the density rate
// runs (the plain way, so every failure keeps its order and message) and the
// caller computes the acceleration at its own place in the step.
[[nodiscard]] int sph_water_compute_density_rate_and_acceleration(Model& m,
                                                                  bool& acceleration_done);
// The density rate alone through the same pair pass (the accelerations are
// left as they were), bit-identical to sph_water_compute_density_rate, which
// it runs instead when the pass cannot.
[[nodiscard]] int sph_water_compute_density_rate_fused(Model& m);
[[nodiscard]] int sph_water_estimate_dt_limits(Model& m, double& dt_cfl, double& dt_accel,
                                               double& dt_viscous);
[[nodiscard]] int sph_water_update_diagnostics(Model& m);
[[nodiscard]] int sph_water_get_summary(Model& m, double& mass_out, Vec3& momentum_out,
                                        double& max_pressure_out, double& min_density_out,
                                        double& max_density_out);
