#pragma once
// Solid queries that fill the hosts' buffers.

#include <array>

struct Model;

inline constexpr int sph_solid_state_value_count = 22;
inline constexpr int sph_solid_diagnostic_value_count = 3;
[[nodiscard]] int sph_solid_get_summary(Model& m, int& active_count, int& failed_count,
                                        std::array<double, 16>& values);
[[nodiscard]] int sph_solid_get_state(Model& m, int max_particles, int value_capacity,
                                      double* values, int* failure_status,
                                      int* reference_neighbor_count, int* reference_degenerate,
                                      int* correction_status, int& count);
[[nodiscard]] int sph_solid_get_diagnostics(Model& m, int value_capacity, double* values);
[[nodiscard]] int sph_solid_get_reference_quality(Model& m, int& reference_neighbor_min,
                                                  double& correction_det_min,
                                                  int& correction_status_max);
