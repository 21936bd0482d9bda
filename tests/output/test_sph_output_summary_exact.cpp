// Summary files byte for byte: a water model, a mixed model (explosive, gas,
// solid, blast) and a water-and-shell model with coupling imports, each
// stepped and written by the step writer. The expected text is assembled
// here from the row table (names, order, integer or real) and a printf
// reference of the two value forms, so a row that moves, a name that
// changes or a field that loses a blank shows as a differing line.

#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "../coupling_interface/coupling_test_model.hpp"
#include "../input/deck_test_util.hpp"
#include "blast/sph_blast_load.hpp"
#include "core/sph_model.hpp"
#include "coupling_interface/sph_coupling_interface.hpp"
#include "explosive/sph_explosive.hpp"
#include "gas/sph_gas.hpp"
#include "input/sph_input_reader.hpp"
#include "output/sph_output_csv.hpp"
#include "output/sph_output_summary.hpp"
#include "output_test_support.hpp"
#include "solver/sph_solver_explicit.hpp"

namespace {

using output_test::read_file;
using output_test::TempDir;

class Expected {
  public:
    Expected() { text_ = "metric,value\r\n"; }
    void i(const std::string& name, long long value) {
        text_ += name + "," + std::to_string(value) + "\r\n";
    }
    void r(const std::string& name, double value) {
        char field[64];
        std::snprintf(field, sizeof field, "%24.16E", value);
        text_ += name + "," + field + "\r\n";
    }
    void v(const std::string& name, const Vec3& value, const std::string& suffix = "") {
        r(name + "_x" + suffix, value.x);
        r(name + "_y" + suffix, value.y);
        r(name + "_z" + suffix, value.z);
    }
    const std::string& text() const { return text_; }

  private:
    std::string text_;
};

std::string expected_summary(Model& m, int step, double time) {
    Expected e;
    const WaterDiagnostics& w = m.db.water;
    e.i("step", step);
    e.r("time", time);
    e.r("water_mass", w.water_mass);
    e.v("water_momentum", w.water_momentum);
    e.r("max_pressure", w.water_max_pressure);
    e.r("min_density", w.water_min_density);
    e.r("max_density", w.water_max_density);
    double dtcrit = w.water_dt_cfl;  // combined limit, as written
    if (w.water_dt_accel > 0.0 && w.water_dt_accel < dtcrit) dtcrit = w.water_dt_accel;
    if (w.water_dt_viscous > 0.0 && w.water_dt_viscous < dtcrit) dtcrit = w.water_dt_viscous;
    e.r("dtcrit", dtcrit);

    const GasDiagnostics& g = m.db.gas;
    e.i("gas_particles", g.gas_particle_count);
    e.r("gas_mass", g.gas_mass);
    e.r("gas_volume", g.gas_volume);
    e.v("gas_center", g.gas_center);
    e.r("gas_mean_pressure", g.gas_mean_pressure);
    e.r("gas_max_pressure", g.gas_max_pressure);
    e.v("gas_momentum", g.gas_momentum);
    e.r("gas_min_density", g.gas_min_density);
    e.r("gas_max_density", g.gas_max_density);
    e.r("gas_equivalent_radius", g.gas_equivalent_radius);
    e.r("gas_radius_rate", g.gas_radius_rate);
    e.r("gas_dt_cfl", g.gas_dt_cfl);
    e.r("gas_dt_accel", g.gas_dt_accel);
    e.r("gas_dtcrit", g.gas_dtcrit);
    double source_mass = 0.0, source_energy = 0.0;
    Vec3 source_momentum;
    (void)sph_gas_get_source_summary(m, source_mass, source_momentum, source_energy);
    e.r("gas_source_mass", source_mass);
    e.r("gas_source_energy", source_energy);
    e.v("gas_source_momentum", source_momentum);

    int particles = 0, reacted = 0;
    std::array<double, 3> lambda{};
    std::array<double, 5> released{};
    std::array<double, 2> detonation{};
    sph_explosive_get_summary(m, particles, reacted, lambda, released, detonation);
    std::array<double, 4> mass{};
    std::array<double, 2> energy{};
    std::array<double, 3> momentum{};
    sph_explosive_get_release_balance(m, mass, energy, momentum);
    e.i("explosive_particles", particles);
    e.i("explosive_reacted_particles", reacted);
    e.r("explosive_lambda_min", lambda[0]);
    e.r("explosive_lambda_max", lambda[1]);
    e.r("explosive_lambda_mean", lambda[2]);
    e.r("explosive_released_mass", released[0]);
    e.r("explosive_released_energy", released[1]);
    e.v("explosive_released_momentum", Vec3{released[2], released[3], released[4]});
    e.r("explosive_detonation_time_min", detonation[0]);
    e.r("explosive_detonation_time_max", detonation[1]);
    e.r("explosive_initial_mass", mass[0]);
    e.r("explosive_remaining_mass", mass[2]);
    e.r("explosive_release_mass_error", mass[3]);
    e.r("explosive_release_energy_error", energy[1]);
    e.i("explosive_converted_particles", m.explosive.explosive_converted_count);
    e.i("explosive_source_particles", m.explosive.explosive_source_target_count);
    e.r("explosive_source_mass_total", m.explosive.explosive_source_mass_total);
    e.r("explosive_source_energy_total", m.explosive.explosive_source_energy_total);
    e.v("explosive_source_momentum", m.explosive.explosive_source_momentum_total);

    const SolidDiagnostics& s = m.db.solid;
    e.i("solid_particles", s.solid_particle_count);
    e.i("solid_failed_particles", s.solid_failed_count);
    e.r("solid_mass", s.solid_mass);
    e.v("solid_momentum", s.solid_momentum);
    e.r("solid_kinetic_energy", s.solid_kinetic_energy);
    e.r("solid_internal_energy", s.solid_internal_energy_total);
    e.r("solid_max_von_mises", s.solid_max_von_mises);
    e.r("solid_plastic_strain_min", s.solid_min_plastic_strain);
    e.r("solid_plastic_strain_max", s.solid_max_plastic_strain);
    e.r("solid_damage_min", s.solid_min_damage);
    e.r("solid_damage_max", s.solid_max_damage);
    e.r("solid_softening_min", s.solid_min_softening);
    e.r("solid_softening_max", s.solid_max_softening);
    e.r("solid_max_strain_rate", s.solid_max_strain_rate);
    e.r("solid_max_acceleration", s.solid_max_acceleration);
    e.r("solid_internal_force_residual", s.solid_internal_force_residual);
    e.i("solid_reference_neighbor_min", s.solid_reference_neighbor_min);
    e.r("solid_correction_det_min", s.solid_correction_det_min);
    e.i("solid_correction_status", s.solid_correction_status_max);
    e.r("solid_dt_cfl", s.solid_dt_cfl);
    e.r("solid_dt_accel", s.solid_dt_accel);
    e.r("solid_dtcrit", s.solid_dtcrit);

    const int regions = static_cast<int>(m.blast.regions.size());
    e.i("blast_regions", regions);
    for (int region = 1; region <= regions; ++region) {
        BlastRegionSummary b;
        EXPECT_EQ(sph_blast_load_get_summary(m, region, b), 0);
        const std::string n = "_" + std::to_string(region);
        // Count slots of the region summary: sources, targets, candidate
        // pairs, skipped sources, skipped targets, load targets, load pairs,
        // zero weights, non-finite loads, water, gas, explosive.
        e.i("blast_source_count" + n, b.counts[0]);
        e.i("blast_target_count" + n, b.counts[1]);
        e.i("blast_pair_count" + n, b.counts[2]);
        e.i("blast_water_count" + n, b.counts[9]);
        e.i("blast_gas_count" + n, b.counts[10]);
        e.i("blast_explosive_count" + n, b.counts[11]);
        e.i("blast_skipped_sources" + n, b.counts[3]);
        e.i("blast_skipped_targets" + n, b.counts[4]);
        e.i("blast_load_targets" + n, b.counts[5]);
        e.i("blast_load_pairs" + n, b.counts[6]);
        e.i("blast_zero_weight" + n, b.counts[7]);
        e.i("blast_nonfinite_loads" + n, b.counts[8]);
        const char* scalars[] = {"blast_source_mass",
                                 "blast_source_energy",
                                 "blast_source_pressure_mean",
                                 "blast_gas_volume",
                                 "blast_explosive_progress_mean",
                                 "blast_water_pressure_min",
                                 "blast_water_pressure_max"};
        for (int k = 0; k < 7; ++k) e.r(scalars[k] + n, b.values[std::size_t(k)]);
        const char* vectors[] = {"blast_solid_force", "blast_shell_force", "blast_total_force",
                                 "blast_impulse", "blast_momentum_input"};
        for (int k = 0; k < 5; ++k) {
            const std::size_t at = 7 + 3 * std::size_t(k);
            e.v(vectors[k], Vec3{b.values[at], b.values[at + 1], b.values[at + 2]}, n);
        }
        e.r("blast_work" + n, b.values[22]);
        e.r("blast_energy_input" + n, b.values[23]);
        e.r("blast_max_particle_force" + n, b.values[24]);
        e.r("blast_max_acceleration" + n, b.values[25]);
    }

    // Coupling totals over enabled regions, by export mode (1 particles,
    // 2 facets, 3 both); a listed shell particle is one facet.
    long long particle_total = 0, facet_total = 0;
    for (const CouplingRegionRecord& c : m.db.coupling_regions) {
        if (c.coupling_region_enabled == 0) continue;
        if (c.coupling_region_export_mode != 2) particle_total += c.coupling_region_particle_count;
        if (c.coupling_region_export_mode == 1) continue;
        for (int k = 0; k < c.coupling_region_particle_count; ++k) {
            const int p = c.coupling_region_particles[std::size_t(k)];
            if (m.db.particle_phase[std::size_t(p)] == sph_phase_shell) ++facet_total;
        }
    }
    const CouplingState& c = m.coupling;
    e.i("coupling_regions", static_cast<long long>(m.db.coupling_regions.size()));
    e.i("coupling_particles", particle_total);
    e.i("coupling_facets", facet_total);
    e.v("coupling_force", c.coupling_current_force);
    e.v("coupling_impulse", c.coupling_current_impulse);
    e.r("coupling_work", c.coupling_current_work);
    e.r("coupling_energy_exchange", c.coupling_energy_exchange);
    e.i("coupling_nonfinite_imports", c.coupling_nonfinite_import_count);
    e.i("coupling_stale_loads", c.coupling_stale_load_count);
    e.i("coupling_active_contacts", c.coupling_active_contact_count);
    e.i("coupling_skipped_contacts", c.coupling_skipped_contact_count);
    e.r("coupling_max_pressure", c.coupling_max_pressure);
    e.r("coupling_max_traction", c.coupling_max_traction);
    e.r("coupling_max_penetration", c.coupling_max_penetration);
    e.r("coupling_force_balance_error", c.coupling_facet_force_error);
    e.r("coupling_moment_balance_error", c.coupling_facet_moment_error);
    return e.text();
}

// Compares line by line first, so a failure names the row.
void expect_same_text(const std::string& actual, const std::string& expected) {
    std::size_t a = 0, e = 0;
    int line = 1;
    while (a < actual.size() && e < expected.size()) {
        const std::size_t a_end = actual.find('\n', a), e_end = expected.find('\n', e);
        const std::string got = actual.substr(a, a_end - a), want = expected.substr(e, e_end - e);
        ASSERT_EQ(got, want) << "line " << line;
        if (a_end == std::string::npos || e_end == std::string::npos) break;
        a = a_end + 1;
        e = e_end + 1;
        ++line;
    }
    EXPECT_EQ(actual, expected);
}

// Writes the step files of the model's current step into a fresh directory
// and returns the summary file's text.
std::string step_summary(Model& m) {
    TempDir dir;
    m.control.output_directory = dir.path().string();
    const int step = m.control.current_step;
    EXPECT_EQ(sph_output_write_step(m, step, m.control.current_time), 0)
        << m.error.last_error_message;
    char name[64];
    std::snprintf(name, sizeof name, "velunor_%08d_summary.csv", step);
    return read_file(dir.path() / name);
}

std::unique_ptr<Model> built_example(const char* name) {
    auto m = deck_test::fresh_model();
    const std::string path = std::string(VELUNOR_SOURCE_DIR "/examples/") + name;
    EXPECT_EQ(sph_input_read(*m, path), 0) << m->error.last_error_message;
    EXPECT_EQ(sph_input_build_model(*m), 0) << m->error.last_error_message;
    return m;
}

void advance(Model& m, int steps) {
    for (int k = 0; k < steps; ++k) {
        double dt = 0.0;
        ASSERT_EQ(sph_solver_estimate_stable_dt(m, dt), 0) << m.error.last_error_message;
        ASSERT_EQ(sph_solver_advance_explicit(m, dt), 0) << m.error.last_error_message;
    }
}

}  // namespace

TEST(OutputSummaryExact, WaterModel) {
    auto m = built_example("water_release.inp");
    advance(*m, 3);
    ASSERT_GT(m->db.water.water_max_pressure, 0.0);
    ASSERT_GT(m->db.water.water_mass, 0.0);
    const std::string text = step_summary(*m);
    expect_same_text(text, expected_summary(*m, 3, m->control.current_time));
    // Nothing but water: the other phases' rows are their zero forms.
    EXPECT_NE(text.find("\r\ngas_particles,0\r\n"), std::string::npos);
    EXPECT_NE(text.find("\r\nblast_regions,0\r\ncoupling_regions,0\r\n"), std::string::npos);
}

TEST(OutputSummaryExact, MixedModelWithExplosiveGasSolidAndBlast) {
    auto m = built_example("charge_near_plate.inp");
    advance(*m, 8);  // past the first burnt particles
    ASSERT_GT(m->db.gas.gas_particle_count, 0);
    ASSERT_GT(m->db.solid.solid_particle_count, 0);
    ASSERT_EQ(m->blast.regions.size(), 1u);
    const std::string text = step_summary(*m);
    expect_same_text(text, expected_summary(*m, 8, m->control.current_time));
    EXPECT_NE(text.find("\r\nblast_regions,1\r\nblast_source_count_1,"), std::string::npos);
}

TEST(OutputSummaryExact, CouplingModelAfterAFacetLoad) {
    auto m = coupling_test::built_model();
    const int ids[2] = {5, 3};  // facet ids are node ids
    const double loads[6] = {1.0, 0.0, 0.0, 0.0, 0.0, 2.0};
    ASSERT_EQ(sph_coupling_apply_facet_loads(*m, 3, 2, ids, loads), 0)
        << m->error.last_error_message;
    advance(*m, 1);
    ASSERT_EQ(m->coupling.coupling_current_force.x, 1.0);
    ASSERT_EQ(m->coupling.coupling_current_force.z, 2.0);
    expect_same_text(step_summary(*m), expected_summary(*m, 1, m->control.current_time));
}
