#pragma once
// Particle CSV file and the step writer (particle CSV, summary CSV, VTU, PVD entry).

#include <string>
#include <string_view>

struct Model;

// The 52 column names of the particle CSV, without the line end.
inline constexpr std::string_view sph_output_csv_header =
    "id,phase,status,material,section,x,y,z,vx,vy,vz,rho,pressure,temperature,h,"
    "explosive_detonation_time,explosive_lambda,explosive_initial_mass,"
    "explosive_remaining_mass,explosive_released_mass,explosive_released_energy,"
    "solid_stress_xx,solid_stress_yy,solid_stress_zz,solid_stress_xy,solid_stress_yz,"
    "solid_stress_zx,solid_plastic_strain,solid_damage,solid_softening,solid_strain_rate_eq,"
    "solid_acceleration_norm,blast_solid_fx,blast_solid_fy,blast_solid_fz,blast_shell_fx,"
    "blast_shell_fy,blast_shell_fz,blast_shell_mx,blast_shell_my,blast_shell_mz,"
    "coupling_force_x,coupling_force_y,coupling_force_z,coupling_gap,coupling_penetration,"
    "coupling_contact_flag,solid_failure_status,solid_reference_neighbor_count,"
    "solid_correction_status,coupling_motion_flag,coupling_region_id";
static_assert(sph_output_csv_header.size() == 764);

// Writes one row per particle at `filename` (trailing blanks trimmed). Status 0 or 3.
[[nodiscard]] int sph_output_write_csv(Model& m, std::string_view filename);
// Writes every step file of `step` into the output directory: particle CSV
// (unless the deck turned it off), summary CSV, VTU and the PVD collection,
// stopping at the first failure.
[[nodiscard]] int sph_output_write_step(Model& m, int step, double time);
// 1-based index of the first enabled coupling region listing the 0-based
// `particle`, 0 if none.
int sph_output_coupling_region_id(const Model& m, int particle);
// "velunor_" and the step number of the step files' names (see the definition
// for steps that do not fit 8 digits).
std::string sph_output_step_file_stem(int step);
