#pragma once
// Solid dynamics: the reference configuration (reference volumes, reference
// neighbors, correction matrices), the velocity gradient, strain increments
// and deformation gradient, the material advance, internal pair forces on the
// reference geometry, time-step limits and diagnostics.

#include <array>

#include "solid/sph_solid_state.hpp"

struct Model;

// Reference neighbors: active solid particles i != j with
// 0 < |X_j - X_i| <= 2 max(h_i, h_j), X the reference position. Found from a
// grid once per build; every loop below visits them in ascending index order,
// the order of the all-pairs definition, so all sums are the same bits.
[[nodiscard]] int sph_solid_find_reference_neighbors(Model& m);
[[nodiscard]] int sph_solid_build_reference_state(Model& m);
// Inverse of a 3x3 matrix (first index fastest) by the adjugate; `invertible`
// is false for non-finite entries, a zero scale or a determinant at most
// 2.220446049250313e-13 max(DBL_MIN, s^3), s the largest entry magnitude.
void sph_solid_invert_3x3(const SolidMatrix& matrix, SolidMatrix& inverse, double& det_value,
                          bool& invertible);
[[nodiscard]] int sph_solid_compute_velocity_gradient(Model& m);
[[nodiscard]] int sph_solid_compute_particle_strain_increment(Model& m, int index, double dt,
                                                              SolidTensor& strain_inc);
void sph_solid_update_deformation_gradient(Model& m, int index, double dt);
[[nodiscard]] int sph_solid_advance_material(Model& m, double dt);
[[nodiscard]] int sph_solid_compute_internal_acceleration(Model& m);
[[nodiscard]] int sph_solid_compute_acceleration(Model& m);
[[nodiscard]] int sph_solid_estimate_dt_limits(Model& m, double& dt_cfl, double& dt_accel,
                                               double& dt_limit);
[[nodiscard]] int sph_solid_update_diagnostics(Model& m);
void sph_solid_get_counts(const Model& m, int& active_count, int& failed_count);
