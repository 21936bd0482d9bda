#include "output/sph_output_summary.hpp"

#include <algorithm>
#include <array>
#include <charconv>
#include <cstdint>
#include <string>

#include "blast/sph_blast_load.hpp"
#include "core/sph_format.hpp"
#include "core/sph_model.hpp"
#include "core/sph_text.hpp"
#include "explosive/sph_explosive.hpp"
#include "gas/sph_gas.hpp"
#include "output/sph_output_file.hpp"

namespace {

constexpr std::string_view summary_open_failed = "failed to open summary output file";
constexpr std::string_view summary_write_failed = "failed to write summary output file";

// One metric per line: "name,value" with the integer in its fewest digits or
// the real in the 24-character field of every CSV file.
class SummaryLines {
  public:
    explicit SummaryLines(SphOutputFile& file) : file_(file) {}

    void integer(std::string_view name, int64_t value) {
        char* p = start(name);
        p = std::to_chars(p, p + 24, value).ptr;
        finish(p);
    }
    void real(std::string_view name, double value) {
        char* p = start(name);
        p = sph_format_real(p, value);
        finish(p);
    }
    // name_x, name_y, name_z, each followed by `suffix`.
    void vector(std::string_view name, const Vec3& value, std::string_view suffix = {}) {
        static constexpr std::string_view axes[3] = {"_x", "_y", "_z"};
        for (int c = 0; c < 3; ++c) {
            real(std::string(name).append(axes[c]).append(suffix), value[c]);
        }
    }

  private:
    char* start(std::string_view name) {
        // Names are short; the reservation also holds the value and line end.
        char* p = file_.reserve(name.size() + 40);
        p = std::copy(name.begin(), name.end(), p);
        *p++ = ',';
        return p;
    }
    void finish(char* p) {
        *p++ = '\r';
        *p++ = '\n';
        file_.commit(p);
    }
    SphOutputFile& file_;
};

void write_global_rows(Model& m, SummaryLines& out, int step, double time) {
    // Collected first; their statuses do not matter, unfilled values stay 0.
    double source_mass = 0.0, source_energy = 0.0;
    Vec3 source_momentum;
    (void)sph_gas_get_source_summary(m, source_mass, source_momentum, source_energy);
    int explosive_particles = 0, explosive_reacted = 0;
    std::array<double, 3> lambda_range{};
    std::array<double, 5> released{};
    std::array<double, 2> detonation_range{};
    sph_explosive_get_summary(m, explosive_particles, explosive_reacted, lambda_range, released,
                              detonation_range);
    std::array<double, 4> mass_balance{};
    std::array<double, 2> energy_balance{};
    std::array<double, 3> momentum_balance{};
    sph_explosive_get_release_balance(m, mass_balance, energy_balance, momentum_balance);

    const WaterDiagnostics& w = m.db.water;
    out.integer("step", step);
    out.real("time", time);
    out.real("water_mass", w.water_mass);
    out.vector("water_momentum", w.water_momentum);
    out.real("max_pressure", w.water_max_pressure);
    out.real("min_density", w.water_min_density);
    out.real("max_density", w.water_max_density);
    out.real("dtcrit", sph_output_water_dtcrit(m));

    const GasDiagnostics& g = m.db.gas;
    out.integer("gas_particles", g.gas_particle_count);
    out.real("gas_mass", g.gas_mass);
    out.real("gas_volume", g.gas_volume);
    out.vector("gas_center", g.gas_center);
    out.real("gas_mean_pressure", g.gas_mean_pressure);
    out.real("gas_max_pressure", g.gas_max_pressure);
    out.vector("gas_momentum", g.gas_momentum);
    out.real("gas_min_density", g.gas_min_density);
    out.real("gas_max_density", g.gas_max_density);
    out.real("gas_equivalent_radius", g.gas_equivalent_radius);
    out.real("gas_radius_rate", g.gas_radius_rate);
    out.real("gas_dt_cfl", g.gas_dt_cfl);
    out.real("gas_dt_accel", g.gas_dt_accel);
    out.real("gas_dtcrit", g.gas_dtcrit);
    out.real("gas_source_mass", source_mass);
    out.real("gas_source_energy", source_energy);
    out.vector("gas_source_momentum", source_momentum);

    const ExplosiveState& e = m.explosive;
    out.integer("explosive_particles", explosive_particles);
    out.integer("explosive_reacted_particles", explosive_reacted);
    out.real("explosive_lambda_min", lambda_range[0]);
    out.real("explosive_lambda_max", lambda_range[1]);
    out.real("explosive_lambda_mean", lambda_range[2]);
    out.real("explosive_released_mass", released[0]);
    out.real("explosive_released_energy", released[1]);
    out.vector("explosive_released_momentum", Vec3{released[2], released[3], released[4]});
    out.real("explosive_detonation_time_min", detonation_range[0]);
    out.real("explosive_detonation_time_max", detonation_range[1]);
    out.real("explosive_initial_mass", mass_balance[0]);
    out.real("explosive_remaining_mass", mass_balance[2]);
    out.real("explosive_release_mass_error", mass_balance[3]);
    out.real("explosive_release_energy_error", energy_balance[1]);
    out.integer("explosive_converted_particles", e.explosive_converted_count);
    out.integer("explosive_source_particles", e.explosive_source_target_count);
    out.real("explosive_source_mass_total", e.explosive_source_mass_total);
    out.real("explosive_source_energy_total", e.explosive_source_energy_total);
    out.vector("explosive_source_momentum", e.explosive_source_momentum_total);
}

void write_solid_rows(const Model& m, SummaryLines& out) {
    const SolidDiagnostics& s = m.db.solid;
    out.integer("solid_particles", s.solid_particle_count);
    out.integer("solid_failed_particles", s.solid_failed_count);
    out.real("solid_mass", s.solid_mass);
    out.vector("solid_momentum", s.solid_momentum);
    out.real("solid_kinetic_energy", s.solid_kinetic_energy);
    out.real("solid_internal_energy", s.solid_internal_energy_total);
    out.real("solid_max_von_mises", s.solid_max_von_mises);
    out.real("solid_plastic_strain_min", s.solid_min_plastic_strain);
    out.real("solid_plastic_strain_max", s.solid_max_plastic_strain);
    out.real("solid_damage_min", s.solid_min_damage);
    out.real("solid_damage_max", s.solid_max_damage);
    out.real("solid_softening_min", s.solid_min_softening);
    out.real("solid_softening_max", s.solid_max_softening);
    out.real("solid_max_strain_rate", s.solid_max_strain_rate);
    out.real("solid_max_acceleration", s.solid_max_acceleration);
    out.real("solid_internal_force_residual", s.solid_internal_force_residual);
    out.integer("solid_reference_neighbor_min", s.solid_reference_neighbor_min);
    out.real("solid_correction_det_min", s.solid_correction_det_min);
    out.integer("solid_correction_status", s.solid_correction_status_max);
    out.real("solid_dt_cfl", s.solid_dt_cfl);
    out.real("solid_dt_accel", s.solid_dt_accel);
    out.real("solid_dtcrit", s.solid_dtcrit);
}

void write_blast_rows(Model& m, SummaryLines& out) {
    const int regions = static_cast<int>(m.blast.regions.size());
    out.integer("blast_regions", regions);
    static constexpr std::string_view count_names[12] = {
        "blast_source_count",    "blast_target_count",    "blast_pair_count",
        "blast_water_count",     "blast_gas_count",       "blast_explosive_count",
        "blast_skipped_sources", "blast_skipped_targets", "blast_load_targets",
        "blast_load_pairs",      "blast_zero_weight",     "blast_nonfinite_loads"};
    // Positions of those rows' values in the region summary's counts.
    static constexpr int count_slots[12] = {0, 1, 2, 9, 10, 11, 3, 4, 5, 6, 7, 8};
    static constexpr std::string_view scalar_names[7] = {
        "blast_source_mass",       "blast_source_energy",           "blast_source_pressure_mean",
        "blast_gas_volume",        "blast_explosive_progress_mean", "blast_water_pressure_min",
        "blast_water_pressure_max"};
    static constexpr std::string_view vector_names[5] = {"blast_solid_force", "blast_shell_force",
                                                         "blast_total_force", "blast_impulse",
                                                         "blast_momentum_input"};
    static constexpr std::string_view tail_names[4] = {
        "blast_work", "blast_energy_input", "blast_max_particle_force", "blast_max_acceleration"};
    for (int r = 1; r <= regions; ++r) {
        BlastRegionSummary s;
        (void)sph_blast_load_get_summary(m, r, s);  // 1..32 always answers
        std::string suffix(1, '_');
        suffix += std::to_string(r);
        const auto named = [&](std::string_view base) { return std::string(base) + suffix; };
        for (int k = 0; k < 12; ++k) out.integer(named(count_names[k]), s.counts[count_slots[k]]);
        for (int k = 0; k < 7; ++k) out.real(named(scalar_names[k]), s.values[std::size_t(k)]);
        for (int k = 0; k < 5; ++k) {
            const std::size_t at = 7 + 3 * std::size_t(k);
            out.vector(vector_names[k], Vec3{s.values[at], s.values[at + 1], s.values[at + 2]},
                       suffix);
        }
        for (int k = 0; k < 4; ++k) out.real(named(tail_names[k]), s.values[22 + std::size_t(k)]);
    }
}

void write_coupling_rows(const Model& m, SummaryLines& out) {
    int particle_total = 0, facet_total = 0;
    sph_output_coupling_counts(m, particle_total, facet_total);
    out.integer("coupling_regions", static_cast<int64_t>(m.db.coupling_regions.size()));
    out.integer("coupling_particles", particle_total);
    out.integer("coupling_facets", facet_total);
    const CouplingState& c = m.coupling;
    out.vector("coupling_force", c.coupling_current_force);
    out.vector("coupling_impulse", c.coupling_current_impulse);
    out.real("coupling_work", c.coupling_current_work);
    out.real("coupling_energy_exchange", c.coupling_energy_exchange);
    out.integer("coupling_nonfinite_imports", c.coupling_nonfinite_import_count);
    out.integer("coupling_stale_loads", c.coupling_stale_load_count);
    out.integer("coupling_active_contacts", c.coupling_active_contact_count);
    out.integer("coupling_skipped_contacts", c.coupling_skipped_contact_count);
    out.real("coupling_max_pressure", c.coupling_max_pressure);
    out.real("coupling_max_traction", c.coupling_max_traction);
    out.real("coupling_max_penetration", c.coupling_max_penetration);
    out.real("coupling_force_balance_error", c.coupling_facet_force_error);
    out.real("coupling_moment_balance_error", c.coupling_facet_moment_error);
}

}  // namespace

double sph_output_water_dtcrit(const Model& m) {
    const WaterDiagnostics& w = m.db.water;
    double dt = w.water_dt_cfl;
    if (w.water_dt_accel > 0.0 && w.water_dt_accel < dt) dt = w.water_dt_accel;
    if (w.water_dt_viscous > 0.0 && w.water_dt_viscous < dt) dt = w.water_dt_viscous;
    return dt;
}

void sph_output_coupling_counts(const Model& m, int& particle_total, int& facet_total) {
    particle_total = 0;
    facet_total = 0;
    const DbState& db = m.db;
    for (const CouplingRegionRecord& region : db.coupling_regions) {
        if (region.coupling_region_enabled == 0) continue;
        if (region.coupling_region_export_mode != 1) {
            const int count = std::min(region.coupling_region_particle_count,
                                       static_cast<int>(region.coupling_region_particles.size()));
            for (int k = 0; k < count; ++k) {
                const int p = region.coupling_region_particles[std::size_t(k)];
                if (p >= 0 && p < db.npart && db.particle_phase[p] == sph_phase_shell) {
                    ++facet_total;
                }
            }
        }
        if (region.coupling_region_export_mode != 2) {
            particle_total += region.coupling_region_particle_count;
        }
    }
}

int sph_output_write_summary(Model& m, std::string_view path, int step, double time) {
    SphOutputFile file;
    if (!file.open_replacing(sph_text_trim_trailing(path))) {
        return sph_error_set(m.error, sph_error_io, summary_open_failed);
    }
    SummaryLines out(file);
    file.write_line("metric,value");
    write_global_rows(m, out, step, time);
    write_solid_rows(m, out);
    write_blast_rows(m, out);
    write_coupling_rows(m, out);
    // A summary whose lines did not all reach the disk is not reported as
    // written (the earlier file at the path stays).
    if (!file.close()) return sph_error_set(m.error, sph_error_io, summary_write_failed);
    return sph_success;
}
