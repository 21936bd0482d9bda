#pragma once
// Summary CSV of one output step: the run's global quantities as
// metric,value lines (water, gas, gas sources, explosive burn, solid, every
// blast region, coupling exchange), read from what the modules computed.

#include <string_view>

struct Model;

// Combined water time-step limit: dt_cfl, replaced by dt_accel and then by
// dt_viscous whenever that limit is positive and smaller.
double sph_output_water_dtcrit(const Model& m);
// Coupling totals over the enabled regions: listed particles of regions that
// export particles, and listed shell particles of regions that export facets.
void sph_output_coupling_counts(const Model& m, int& particle_total, int& facet_total);
// Writes the whole file at `path` (trailing blanks trimmed). Status 0, or 3
// with "failed to open summary output file" / "failed to write summary
// output file"; an earlier file at the path stays whole on failure.
[[nodiscard]] int sph_output_write_summary(Model& m, std::string_view path, int step, double time);
