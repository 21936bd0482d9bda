#pragma once
// Particle CSV file and the step writer (particle CSV, VTU, PVD entry).

#include <string_view>

struct Model;

[[nodiscard]] int sph_output_write_csv(Model& m, std::string_view filename);
// Writes every step file of `step` into the output directory.
[[nodiscard]] int sph_output_write_step(Model& m, int step, double time);
// 1-based index of the first enabled coupling region listing the particle, 0 if none.
int sph_output_coupling_region_id(const Model& m, int particle);
