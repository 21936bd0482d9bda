#include "blast/sph_blast_load.hpp"

#include <algorithm>
#include <cmath>

#include "core/sph_error.hpp"
#include "core/sph_model.hpp"

namespace {

constexpr double finite_limit = 8.988465674311579e307;

bool finite_value(double value) {
    return !std::isnan(value) && std::fabs(value) <= finite_limit;
}

bool finite_vector(const Vec3& v) {
    return finite_value(v.x) && finite_value(v.y) && finite_value(v.z);
}

bool in_window(const BlastRegion& r, double t) {
    return r.blast_time_window <= 0.0 || t <= r.blast_time_window;
}

void clear_diagnostics(BlastLoadState& load) {
    load.diagnostics.fill(BlastLoadDiagnostics{});
}

void store_force(Model& m, std::size_t r, int j, const Vec3& f) {
    BlastLoadState& load = m.blast_load;
    BlastLoadDiagnostics& d = load.diagnostics[r];
    const DbState& db = m.db;
    const std::size_t k = static_cast<std::size_t>(j);
    if (db.particle_phase[j] == sph_phase_solid) {
        load.blast_solid_external_force[k] += f;
        d.blast_solid_total_force += f;
    } else if (db.particle_phase[j] == sph_phase_shell) {
        load.blast_shell_external_force[k] += f;
        d.blast_shell_total_force += f;
    } else {
        return;  // only solids and shells carry a blast force
    }
    const double window = m.blast.regions[r].blast_time_window;
    d.blast_load_target_count += 1;
    d.blast_load_total_force += f;
    d.blast_load_impulse += Vec3{f.x * window, f.y * window, f.z * window};
    d.blast_load_momentum_input = d.blast_load_impulse;
    d.blast_load_work += dot(db.v[j], f) * window;
    if (db.mass[j] > 0.0) {
        d.blast_load_max_acceleration =
            std::max(d.blast_load_max_acceleration, norm(f) / db.mass[j]);
    }
}

void project_region(Model& m, std::size_t r) {
    const BlastRegion& region = m.blast.regions[r];
    const BlastSnapshot& s = m.blast.snapshot[r];
    BlastLoadDiagnostics& d = m.blast_load.diagnostics[r];
    if (s.blast_source_count < 1 || s.blast_target_count < 1) return;
    const double water = s.blast_water_count > 0
                             ? (s.blast_water_pressure_min + s.blast_water_pressure_max) / 2.0
                             : 0.0;
    const double pressure = (s.blast_source_pressure_mean + water) * region.blast_load_scale;
    if (!finite_value(pressure)) {
        d.blast_load_nonfinite_count += 1;
        return;
    }
    const DbState& db = m.db;
    const auto area_of = [&](int j) {
        return db.volume[j] > 0.0 ? std::pow(db.volume[j], 2.0 / 3.0) : 0.0;
    };
    const std::vector<int>& targets = m.blast.targets[r];
    double total_area = 0.0;
    for (int j : targets) total_area += area_of(j);
    if (total_area <= sph_blast_load_eps) {
        d.blast_load_zero_weight_count += 1;
        return;
    }
    for (int j : targets) {
        const Vec3 offset = db.x[j] - region.blast_center;
        const double length = norm(offset);
        // Every projection mode uses the radial direction.
        const Vec3 e = length <= sph_blast_load_eps
                           ? Vec3{}
                           : Vec3{offset.x / length, offset.y / length, offset.z / length};
        if (std::max({std::fabs(e.x), std::fabs(e.y), std::fabs(e.z)}) <= 0.0) {
            d.blast_load_zero_weight_count += 1;
            continue;
        }
        const double area = area_of(j);
        if (area <= sph_blast_load_eps) {
            d.blast_load_zero_weight_count += 1;
            continue;
        }
        const Vec3 f{e.x * pressure * area, e.y * pressure * area, e.z * pressure * area};
        if (!finite_vector(f)) {
            d.blast_load_nonfinite_count += 1;
            continue;
        }
        store_force(m, r, j, f);
        d.blast_load_max_particle_force = std::max(d.blast_load_max_particle_force, norm(f));
    }
    d.blast_load_pair_count_pending = true;
    if (d.blast_load_target_count >= 1) {
        d.blast_load_energy_input += s.blast_source_energy * s.blast_explosive_progress_mean;
    }
}

}  // namespace

void sph_blast_load_initialize(BlastLoadState& load) {
    load = BlastLoadState{};
}

void sph_blast_load_reset(BlastLoadState& load) {
    load = BlastLoadState{};
}

void sph_blast_load_set_enabled(BlastLoadState& load, bool enabled) {
    load.blast_load_enabled = enabled;
}

int sph_blast_load_prepare_storage(Model& m) {
    BlastLoadState& load = m.blast_load;
    const int npart = m.db.npart;
    if (npart <= 0) return sph_success;
    const std::size_t n = static_cast<std::size_t>(npart);
    if (load.blast_solid_external_force.size() == n) return sph_success;
    try {
        load.blast_solid_external_force.assign(n, Vec3{});
        load.blast_shell_external_force.assign(n, Vec3{});
        load.blast_shell_external_moment.assign(n, Vec3{});
    } catch (const std::exception&) {
        std::vector<Vec3>().swap(load.blast_solid_external_force);
        std::vector<Vec3>().swap(load.blast_shell_external_force);
        std::vector<Vec3>().swap(load.blast_shell_external_moment);
        return sph_error_set(m.error, sph_error_database, "failed to allocate Blast load cache");
    }
    return sph_success;
}

int sph_blast_load_clear(Model& m) {
    BlastLoadState& cleared = m.blast_load;
    // Without regions no load is ever stored: the caches are not needed
    // (72 bytes a particle), and the CSV reads 0 for missing ones.
    if (m.blast.regions.empty() && cleared.blast_solid_external_force.empty()) {
        clear_diagnostics(cleared);
        return sph_success;
    }
    if (const int st = sph_blast_load_prepare_storage(m)) return st;
    BlastLoadState& load = m.blast_load;
    std::fill(load.blast_solid_external_force.begin(), load.blast_solid_external_force.end(),
              Vec3{});
    std::fill(load.blast_shell_external_force.begin(), load.blast_shell_external_force.end(),
              Vec3{});
    std::fill(load.blast_shell_external_moment.begin(), load.blast_shell_external_moment.end(),
              Vec3{});
    clear_diagnostics(load);
    return sph_success;
}

int sph_blast_load_compute_at(Model& m, double time_value) {
    // A model without regions has nothing to refresh or load: the caches stay
    // as cleared (and are made only when a region exists).
    if (m.blast.regions.empty()) {
        clear_diagnostics(m.blast_load);
        return sph_success;
    }
    sph_blast_refresh_snapshot(m);
    if (const int st = sph_blast_load_clear(m)) return st;
    if (!m.blast_load.blast_load_enabled) return sph_success;
    for (std::size_t r = 0; r < m.blast.regions.size(); ++r) {
        const BlastRegion& region = m.blast.regions[r];
        if (region.blast_region_enabled && in_window(region, time_value)) project_region(m, r);
    }
    return sph_success;
}

int sph_blast_load_compute(Model& m) {
    return sph_blast_load_compute_at(m, 0.0);
}

int sph_blast_load_apply_to_acceleration(Model& m) {
    BlastLoadState& load = m.blast_load;
    DbState& db = m.db;
    if (!load.blast_load_enabled ||
        load.blast_solid_external_force.size() != static_cast<std::size_t>(db.npart)) {
        return sph_success;
    }
    const std::size_t regions = m.blast.regions.size();
    for (int p = 0; p < db.npart; ++p) {
        if (!(db.mass[p] > 0.0)) continue;
        const std::size_t k = static_cast<std::size_t>(p);
        const Vec3* force =
            db.particle_phase[p] == sph_phase_solid   ? &load.blast_solid_external_force[k]
            : db.particle_phase[p] == sph_phase_shell ? &load.blast_shell_external_force[k]
                                                      : nullptr;
        const Vec3 inc =
            force ? Vec3{force->x / db.mass[p], force->y / db.mass[p], force->z / db.mass[p]}
                  : Vec3{};
        if (!(std::isfinite(inc.x) && std::isfinite(inc.y) && std::isfinite(inc.z))) continue;
        db.a[p] += inc;
        const double magnitude = norm(inc);
        if (!(magnitude > 0.0)) continue;
        for (std::size_t r = 0; r < regions; ++r) {
            if (!m.blast.regions[r].blast_region_enabled) continue;
            if (!sph_blast_target_accepts(m, static_cast<int>(r) + 1, p)) continue;
            double& max = load.diagnostics[r].blast_load_max_acceleration;
            max = std::max(max, magnitude);
        }
    }
    return sph_success;
}

int sph_blast_load_get_summary(Model& m, int region, BlastRegionSummary& summary) {
    summary = BlastRegionSummary{};
    if (region < 1 || region > sph_blast_max_regions) {
        return sph_error_set(m.error, sph_error_argument, "Blast summary region is out of range");
    }
    const std::size_t r = static_cast<std::size_t>(region - 1);
    const BlastSnapshot& s = m.blast.snapshot[r];
    BlastLoadDiagnostics& d = m.blast_load.diagnostics[r];
    sph_blast_candidate_pair_count(m.blast, region);
    if (d.blast_load_pair_count_pending) {
        d.blast_load_pair_count = s.blast_candidate_pair_count;
        d.blast_load_pair_count_pending = false;
    }
    summary.counts = {s.blast_source_count,
                      s.blast_target_count,
                      s.blast_candidate_pair_count,
                      s.blast_skipped_source_count,
                      s.blast_skipped_target_count,
                      d.blast_load_target_count,
                      d.blast_load_pair_count,
                      d.blast_load_zero_weight_count,
                      d.blast_load_nonfinite_count,
                      s.blast_water_count,
                      s.blast_gas_count,
                      s.blast_explosive_count};
    summary.values = {s.blast_source_mass,
                      s.blast_source_energy,
                      s.blast_source_pressure_mean,
                      s.blast_gas_volume,
                      s.blast_explosive_progress_mean,
                      s.blast_water_pressure_min,
                      s.blast_water_pressure_max,
                      d.blast_solid_total_force.x,
                      d.blast_solid_total_force.y,
                      d.blast_solid_total_force.z,
                      d.blast_shell_total_force.x,
                      d.blast_shell_total_force.y,
                      d.blast_shell_total_force.z,
                      d.blast_load_total_force.x,
                      d.blast_load_total_force.y,
                      d.blast_load_total_force.z,
                      d.blast_load_impulse.x,
                      d.blast_load_impulse.y,
                      d.blast_load_impulse.z,
                      d.blast_load_momentum_input.x,
                      d.blast_load_momentum_input.y,
                      d.blast_load_momentum_input.z,
                      d.blast_load_work,
                      d.blast_load_energy_input,
                      d.blast_load_max_particle_force,
                      d.blast_load_max_acceleration};
    return sph_success;
}
