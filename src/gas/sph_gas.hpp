#pragma once
// Gas phase: ideal-gas, JWL and stiffened-gas equations of state, continuity
// equation, symmetric pressure force, time-step limits and the diagnostics of
// the gas region seen as one bubble. Gas interacts only with gas; there is no
// artificial viscosity.

#include <array>
#include <string>
#include <string_view>
#include <vector>

#include "core/sph_vec3.hpp"
#include "gas/sph_gas_source.hpp"

struct Model;
struct DbState;

inline constexpr int gas_eos_none = 0;
inline constexpr int gas_eos_ideal = 1;
inline constexpr int gas_eos_jwl = 2;
inline constexpr int gas_eos_stiffened = 3;
inline constexpr int sph_gas_max_materials = 32;

// One row of the gas material table.
struct GasMaterialRow {
    int gas_material_ids = 0;  // 1-based database material index
    std::string gas_material_names;
    bool gas_material_eos_defined = false;
    int gas_material_eos_type = gas_eos_none;
    double gas_material_density_default = 0.0;
    double gas_material_energy_default = 0.0;
    double gas_material_temperature_default = 293.15;
    double gas_material_rho0 = 1.0;
    double gas_material_gamma = 1.4;
    double gas_material_p0 = 0.0;
    double gas_material_jwl_a = 0.0;
    double gas_material_jwl_b = 0.0;
    double gas_material_jwl_r1 = 0.0;
    double gas_material_jwl_r2 = 0.0;
    double gas_material_jwl_omega = 0.0;
    double gas_material_pinf = 0.0;
    double gas_material_default_h = 1.0;
    double gas_material_default_mass = 1.0;
    double gas_material_default_volume = 1.0;
};

// Step workspace of the fused pair pass, reused across steps.
struct GasWorkspace {
    std::vector<unsigned char> active;  // 1 for an active gas particle
    std::vector<int> row_of_material;   // database material index -> table row (1-based), 0 none
    // Density diffusion only: sound speed and volume m / rho of every active
    // gas particle.
    std::vector<double> sound_speed;
    std::vector<double> volume;
};

struct GasState {
    bool gas_module_initialized = false;
    bool gas_material_seen = false;
    bool gas_eos_defined = false;
    bool gas_particle_control_defined = false;
    bool gas_bubble_history_valid = false;
    std::string gas_material_name = "GAS";
    int gas_material_internal_id = 0;
    int gas_eos_type = gas_eos_none;
    double gas_rho0 = 1.0;
    double gas_gamma = 1.4;
    double gas_e0 = 0.0;
    double gas_p0 = 0.0;
    double gas_jwl_a = 0.0;
    double gas_jwl_b = 0.0;
    double gas_jwl_r1 = 0.0;
    double gas_jwl_r2 = 0.0;
    double gas_jwl_omega = 0.0;
    double gas_pinf = 0.0;
    double gas_default_h = 1.0;
    double gas_default_mass = 1.0;
    double gas_default_volume = 1.0;
    Vec3 gas_body_force;
    double gas_density_diffusion = 0.0;  // delta of the diffusive density term; 0 = off

    std::vector<GasMaterialRow> rows;  // gas_material_count = size(), at most 32
    GasSourceState sources;

    GasWorkspace workspace;  // scratch only, not part of the module's values
};

void sph_gas_initialize(Model& m);
void sph_gas_reset(Model& m);

// Particle classes (0-based index i).
bool sph_gas_is_active_particle(const DbState& db, int i);
bool sph_gas_is_material_particle(const DbState& db, int i);

// Deck receivers (they validate and report their own messages).
void sph_gas_note_material(Model& m, std::string_view name, std::string_view material_type);
[[nodiscard]] int sph_gas_set_eos(Model& m, std::string_view eos_type,
                                  std::string_view material_name, double rho0, double gamma,
                                  double e0, double p0, double a, double b, double r1, double r2,
                                  double omega, double pinf);
[[nodiscard]] int sph_gas_set_particle_control(Model& m, double h_value, double mass_value,
                                               double volume_value);
[[nodiscard]] int sph_gas_set_body_force(Model& m, const Vec3& force);
// DENSITY_DIFFUSION of *VELUNOR VISCOSITY (the deck reader has checked that it
// is finite and not negative).
void sph_gas_set_density_diffusion(GasState& gas, double delta);

// Table look-ups: 1-based row of a database material index (0 if none).
int sph_gas_table_index_by_material_id(const GasState& gas, int material_index);
// 1-based database index of the material named `name` (trimmed, case ignored).
int sph_gas_find_material(const Model& m, std::string_view name);

// Model build.
[[nodiscard]] int sph_gas_validate_input(Model& m);
[[nodiscard]] int sph_gas_apply_initial_conditions(Model& m);
int sph_gas_count_unbound_materials(const Model& m);

// Physics.
[[nodiscard]] int sph_gas_compute_pressure_for_material(Model& m, int material_index, double rho,
                                                        double e, double& pressure);
[[nodiscard]] int sph_gas_update_pressure(Model& m);
// With gas_density_diffusion positive the density rate includes the
// diffusive term with the pair's mean sound speed (c_i + c_j) / 2, which keeps
// the term antisymmetric, so it moves mass between particles without making
// any; there is no hydrostatic correction (see sph_gas.cpp).
[[nodiscard]] int sph_gas_compute_density_rate(Model& m);
[[nodiscard]] int sph_gas_compute_pressure_acceleration(Model& m);
[[nodiscard]] int sph_gas_compute_acceleration(Model& m);
// The step's fast path: density rate and acceleration in one pass over the
// pairs with one kernel gradient per pair, bit-identical to
// sph_gas_compute_density_rate followed by sph_gas_compute_acceleration. It
// may run only when neither can fail, which sph_gas_pair_pass_ready tells
// (every active gas particle has a positive density and smoothing length; it
// also marks the active gas particles for the pass and, with density
// diffusion, stores their sound speeds and volumes).
bool sph_gas_pair_pass_ready(Model& m);
void sph_gas_compute_density_rate_and_acceleration(Model& m);
double sph_gas_sound_speed(const Model& m, int i);
[[nodiscard]] int sph_gas_estimate_dt_limits(Model& m, double& dt_cfl, double& dt_accel,
                                             double& dt_limit);
[[nodiscard]] int sph_gas_update_diagnostics(Model& m);
// After the step's integration: the sources over dt, then the pressure from
// the end-of-step density and energy.
[[nodiscard]] int sph_gas_apply_sources_explicit(Model& m, double dt);

// Summaries.
[[nodiscard]] int sph_gas_get_summary(Model& m, double& volume, Vec3& center, double& mean_pressure,
                                      double& max_pressure);
[[nodiscard]] int sph_gas_get_extended_summary(Model& m, double& mass, Vec3& momentum,
                                               std::array<double, 2>& density_range,
                                               std::array<double, 3>& dt_limits);
void sph_gas_get_bubble_metrics(const Model& m, double& equivalent_radius, double& radius_rate,
                                Vec3& center);

// Forwarders to the gas sources.
[[nodiscard]] int sph_gas_allocate_sources(Model& m);
[[nodiscard]] int sph_gas_clear_sources(Model& m);
[[nodiscard]] int sph_gas_add_source_by_particle(Model& m, int index, double mass_rate,
                                                 const Vec3& momentum_rate, double energy_rate);
[[nodiscard]] int sph_gas_get_source_summary(Model& m, double& mass_source, Vec3& momentum_source,
                                             double& energy_source);

// Restart support.
void sph_gas_clear_material_table(GasState& gas);
[[nodiscard]] int sph_gas_rebuild_legacy_restart_state(Model& m);
