#pragma once
// API layer: one operation per host action. Each checks the life-cycle state
// (initialized; model built), forwards to the module that does the work and
// returns its status. Query operations zero their outputs before any check, so
// a failed query answers zeros.

#include <array>
#include <string_view>

#include "core/sph_vec3.hpp"

struct Model;

inline constexpr int sph_version_major = 0;
inline constexpr int sph_version_minor = 8;
inline constexpr int sph_version_patch = 3;

// The one model the exports act on.
Model& sph_api_model();

// Guards: status 2 with "Velunor API is not initialized" / "Velunor model is not built".
[[nodiscard]] int sph_api_require_initialized(Model& m);
[[nodiscard]] int sph_api_require_model_built(Model& m);
// Status 6 with "<name> is not implemented", for operations whose module is not available.
[[nodiscard]] int sph_api_not_implemented(Model& m, std::string_view name);

// Life cycle and version. Initialization opens the log (appending) when the
// environment variable VELUNOR_LOG names a file; one that cannot be opened
// fails it with status 3, "failed to open log file", and leaves the library
// uninitialized. Unset or empty: no log. VELUNOR_OUTPUT_FORMAT (ASCII or
// BINARY, case ignored) is read there too and then chooses the VTU form over
// every deck's FORMAT until the next initialization; another value fails the
// initialization with status 1 in the same way.
inline constexpr const char* sph_api_log_variable = "VELUNOR_LOG";
int sph_initialize(Model& m);
int sph_finalize(Model& m);
int sph_get_version(int& major, int& minor, int& patch);
// `message` views the stored text (trailing blanks removed, at most 256 characters).
int sph_get_last_error(const Model& m, int& code, std::string_view& message);

// Deck and model.
[[nodiscard]] int sph_read_inp(Model& m, std::string_view filename);
[[nodiscard]] int sph_build_model(Model& m);
[[nodiscard]] int sph_get_input_warning_count(Model& m, int& count);

// Stepping.
[[nodiscard]] int sph_estimate_stable_dt(Model& m, double& dtcrit);
[[nodiscard]] int sph_advance_explicit(Model& m, double dt);
[[nodiscard]] int sph_run_explicit(Model& m);
[[nodiscard]] int sph_get_current_time(Model& m, double& time, int& step);

// Particles and neighbors.
[[nodiscard]] int sph_get_particle_count(Model& m, int& count);
[[nodiscard]] int sph_get_particle_state_capacity(Model& m, int& count, int& ndim);
// Host layout: integer and scalar arrays one entry per particle, vector arrays
// three adjacent components per particle. `count` is the particle count, also
// when the buffer is too small (then no array is written).
[[nodiscard]] int sph_get_particle_state(Model& m, int max_particles, int* particle_id_ext,
                                         int* phase, int* status, int* material_id, int* section_id,
                                         double* x, double* v, double* a, double* rho,
                                         double* pressure, double* internal_energy,
                                         double* temperature, double* h, int& count);
[[nodiscard]] int sph_rebuild_neighbors(Model& m);
[[nodiscard]] int sph_get_neighbor_stats(Model& m, int& max_neighbors, double& average_neighbors);

// Output control and files.
[[nodiscard]] int sph_set_output_directory(Model& m, std::string_view directory);
[[nodiscard]] int sph_set_output_interval(Model& m, int interval);
[[nodiscard]] int sph_write_output(Model& m, int step, double time);
[[nodiscard]] int sph_write_csv(Model& m, std::string_view filename);
[[nodiscard]] int sph_write_vtu(Model& m, std::string_view filename);
[[nodiscard]] int sph_write_restart(Model& m, std::string_view filename);
[[nodiscard]] int sph_read_restart(Model& m, std::string_view filename);

// Water.
[[nodiscard]] int sph_get_water_summary(Model& m, double& mass, Vec3& momentum,
                                        double& max_pressure, double& min_density,
                                        double& max_density);
[[nodiscard]] int sph_get_water_dt_limits(Model& m, double& dt_cfl, double& dt_accel,
                                          double& dt_viscous);

// Gas.
[[nodiscard]] int sph_get_gas_summary(Model& m, double& volume, Vec3& center, double& mean_pressure,
                                      double& max_pressure);
[[nodiscard]] int sph_get_gas_bubble_metrics(Model& m, double& equivalent_radius,
                                             double& radius_rate, Vec3& center);
[[nodiscard]] int sph_get_gas_dt_limits(Model& m, double& dt_cfl, double& dt_accel, double& dtcrit);
// density_range: minimum, maximum; dt_limits: CFL, acceleration, critical.
[[nodiscard]] int sph_get_gas_extended_summary(Model& m, double& mass, Vec3& momentum,
                                               std::array<double, 2>& density_range,
                                               std::array<double, 3>& dt_limits);
[[nodiscard]] int sph_get_gas_source_summary(Model& m, double& mass_source, Vec3& momentum_source,
                                             double& energy_source);

// Explosive.
[[nodiscard]] int sph_set_ignition_point(Model& m, double x_value, double y_value, double z_value,
                                         double time_value);
// lambda_range: minimum, maximum, mean reaction progress; released_totals:
// mass, energy, momentum x, y, z; detonation_time_range: minimum, maximum.
[[nodiscard]] int sph_get_explosive_summary(Model& m, int& particle_count, int& reacted_count,
                                            std::array<double, 3>& lambda_range,
                                            std::array<double, 5>& released_totals,
                                            std::array<double, 2>& detonation_time_range);
[[nodiscard]] int sph_get_explosive_release_balance(Model& m, std::array<double, 4>& mass_values,
                                                    std::array<double, 2>& energy_values,
                                                    std::array<double, 3>& momentum_values);

// Blast.
[[nodiscard]] int sph_get_blast_summary(Model& m, int region, std::array<int64_t, 12>& counts,
                                        std::array<double, 26>& values);

// Solid.
[[nodiscard]] int sph_get_solid_counts(Model& m, int& active_count, int& failed_count);
// values: mass, momentum (3), kinetic energy, internal energy, maximum von
// Mises stress, plastic strain min/max, damage min/max, softening min/max and
// the three solid time-step limits.
[[nodiscard]] int sph_get_solid_summary(Model& m, int& active_count, int& failed_count,
                                        std::array<double, 16>& values);
inline constexpr int sph_solid_state_values_per_particle = 22;
// `values` holds 22 values per particle for `max_particles` particles and the
// four integer arrays one entry per particle; all of them are zeroed first.
[[nodiscard]] int sph_get_solid_state(Model& m, int max_particles, double* values,
                                      int* failure_status, int* reference_neighbor_count,
                                      int* reference_degenerate, int* correction_status,
                                      int& count);
// Zeroes values[0 .. value_capacity) first; fills maximum strain rate, maximum
// acceleration and internal force residual (value_capacity >= 3).
[[nodiscard]] int sph_get_solid_diagnostics(Model& m, double* values, int value_capacity);
[[nodiscard]] int sph_get_solid_reference_quality(Model& m, int& reference_neighbor_min,
                                                  int& correction_status,
                                                  double& correction_det_min);
