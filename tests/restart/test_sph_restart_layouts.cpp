// Restart files of the older layouts, written by hand: what each layout
// holds is read, and what it lacks gets its documented default. Each file is
// read over a model that holds every section (read from a STATE_0_8 file and
// given the state that only the newest layout carries), so a default that
// the reader failed to set would show the earlier value.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include "../input/deck_test_util.hpp"
#include "core/sph_model.hpp"
#include "interface/sph_api.hpp"
#include "restart/sph_restart.hpp"

namespace {

namespace fs = std::filesystem;

// Records 1-11: run control, water and neighbor state of two particles.
std::string run_and_water(std::string_view tag) {
    return "VELUNOR_RESTART 0 8 0 " + std::string(tag) +
           "\n"
           "2.5e-5 25 2\n5 T 0.8\nrun_out\n"
           "1000 1480 7 0 312914285.71428573\n0.1 0 0.01\n0 0 -9.81\n"
           "0.052 3 3 3 27\n0 0\n0 0 0 0 1000 1000 0\n0 0 0\n";
}

// Records 12-18; one gas particle counted, so the bubble history is valid.
const std::string gas_records =
    "2 1630 1.4 100000 0 3.7e11 3.2e9 4.15 0.95 0.3 0\n"
    "0.6 0.125 1.2e-4\n0 0 -9.81\n1 0.5 0.001\n"
    "0 0 0 0 0 0 100000 100000 1.2 1.2\n0.05 0.04 10 0 0 0 0.01\n1e-6 2e-6 1e-6\n";

// Records 19-20: the product gas.
const std::string gas_table =
    "1\n1 Products T 2\n1630 100000 300\n1630 1.4 0 0\n3.7e11 3.2e9 4.15 0.95 0.3\n"
    "0.6 0.125 1.2e-4\n";

// Records 21-23: particle 1 is explosive (material 2), particle 2 solid
// (material 3).
const std::string particles =
    "11 3 0 2 1\n0 0 0 0 0 0 1 2 3 0 0 0 1 2 3\n0.5 1630 3.0674846625766871e-4 0 0 293 0.02\n"
    "12 4 0 3 2\n0.05 0 0 0.05 0 0 0 0 0 0 0 0 0 0 0\n8 7850 1e-3 0 0 293 0.026\n";

// Record 24.
const std::string gas_sources = "0.1 2000 1 2 3\n0 0 0 0 0\n";

// Records 25-29, then 30-34 and the long record 35 from STATE_0_4_1 on. The
// stored release balance (all 9) is not what the particles give; particle 2
// is not tracked (ignition status 0, no progress), whatever it has released.
std::string explosive(bool full) {
    std::string s = "1\n2 TNT T 1 Products 1\n1630 6930 4300000 4e-6\n1\n2 0 0 0 0\n1e-6\n";
    if (full) s += "3 7\n0.25 1000 1 2 3\n9 9 9 9\n9 9\n9 9 9\n";
    s += full ? "1 1e-6 0.5 0.25 1200000 0.1 0.2 0.3 2 0.5 0.25\n0 0 0 7 0 0 0 0 3 9 2\n"
              : "1 1e-6 0.5 0.25 1200000 0.1 0.2 0.3\n0 0 0 0 0 0 0 0\n";
    return s;
}

// Records 36-46; records 43-44 and the three marked per-particle records
// from STATE_0_5_1 on. Particle 2 has softened to 0.5 and its record of the
// internal acceleration holds no undamaged stress.
std::string solid(bool full) {
    std::string s =
        "T 1\n3 Steel T T F F\n2e11 0.3\n792e6 510e6 0.26 0.014 1.03 1 293 1793\n0 0 0 0 0\n"
        "NONE 0\n7850 76923076923.076920 166666666666.66667 5856 0.9\n0 0 -9.81\n1 0 8\n"
        "1 2 3 4 5 6\n0 0.01 0 0.2 0.5 1\n1e-6 2e-6 1e-6\n";
    if (full) s += "27 0.25 1\n100 2000 0.5\n";
    s += "T\n";
    // Particle 1: no solid state to speak of.
    s += "0 0 0 0 0 0\n0 0 0 0 0 0\n0 0 293 0 1 0 0 0\n1 0 0 0 1 0 0 0 1\n1 0 0 0 1 0 0 0 1\n";
    if (full) s += "1 0 0 0 0\n0 0 0 0 0 0 0 0 0\n0 0 0 0 0 0\n";
    s += "0 0 0\n";
    s += "1e8 2e8 3e8 4e7 5e7 6e7\n1e-3 2e-3 3e-3 0 0 0\n0.01 100 300 0.2 0.5 50 1e-3 0\n"
         "1.001 0 0 0 1 0 0 0 1\n2 0 0 0 2 0 0 0 2\n";
    if (full) s += "0.9 50 27 0 1\n1 2 3 4 5 6 7 8 9\n0.1 0.2 0.3 0.4 0.5 0.6\n";
    s += "10 20 30\n";
    return s;
}

// Records 47-58 of STATE_0_8: 9-integer region records, no records 53-56,
// the short record 58. `counts` is record 52.
std::string coupling_0_8(std::string_view counts, int stored_npart = 2) {
    return "VELUNOR_COUPLING_STATE\n2 1\n"
           // Region 1 imports facet loads; its particles are 2 and 1.
           "Skin\nBACK\n\n\n\n1 2 2 1 0 0 0 1 2\n2 1\n"
           // Region 2 imports forces, filtered by phase, material and section.
           "Wet\nALLW\nSURF\nWater\nFLUID\n1 1 1 0 5 1 1 2 1\n1\n"
           "1 2 3 4 5 6\n7.5 8.5\n" +
           std::string(counts) + "\n" + std::to_string(stored_npart) +
           "\n"
           "1 2 3 4 5 6 7 8 9 1 2\n-1 -2 -3 -4 -5 -6 -7 -8 -9 2 1\n";
}

std::string file_0_3_1() {
    return run_and_water("STATE_0_3_1") + gas_records + gas_table + particles + gas_sources;
}
std::string file_0_4_1() {
    return run_and_water("STATE_0_4_1") + gas_records + gas_table + particles + gas_sources +
           explosive(true);
}
std::string file_0_5() {
    return run_and_water("STATE_0_5") + gas_records + gas_table + particles + gas_sources +
           explosive(true) + solid(false);
}
std::string file_0_5_1() {
    return run_and_water("STATE_0_5_1") + gas_records + gas_table + particles + gas_sources +
           explosive(true) + solid(true);
}
std::string file_0_8(std::string_view counts = "4 5 6 7", int stored_npart = 2) {
    return run_and_water("STATE_0_8") + gas_records + gas_table + particles + gas_sources +
           explosive(true) + solid(true) + coupling_0_8(counts, stored_npart);
}

// The restart module's read of `text` (the layout's rules; the host's read
// adds the neighbor rebuild and diagnostics).
int read_into(Model& m, const std::string& text) {
    const fs::path path = deck_test::temp_dir() / "restart_layout.rst";
    {
        std::ofstream out(path, std::ios::binary);
        out << text;
    }
    const int status = sph_restart_read(m, path.string());
    fs::remove(path);
    return status;
}

// A model holding every section, with values where each older layout has a
// default: the STATE_0_8 file, plus the coupling state only STATE_0_8_1
// carries.
std::unique_ptr<Model> model_with_every_section() {
    auto m = std::make_unique<Model>();
    EXPECT_EQ(sph_initialize(*m), 0);
    EXPECT_EQ(read_into(*m, file_0_8()), 0) << m->error.last_error_message;
    CouplingState& c = m->coupling;
    c.coupling_epoch = 5;
    c.coupling_repeated_import_count = 1;
    c.coupling_active_contact_count = 2;
    c.coupling_bad_facet_area_count = 3;
    c.coupling_facet_input_force = Vec3{1, 1, 1};
    c.coupling_facet_moment_error = 0.5;
    c.coupling_max_pressure = 1e6;
    c.coupling_max_penetration = 1e-3;
    c.coupling_contact_normal[1] = Vec3{0, 0, 1};
    c.coupling_contact_gap[1] = 1e-4;
    c.coupling_contact_penetration[1] = 2e-4;
    c.coupling_contact_pressure[1] = 3e5;
    c.coupling_contact_flag[1] = 1;
    return m;
}

void expect_no_solid_state(const Model& m) {
    EXPECT_TRUE(m.solid.slots.empty());
    EXPECT_FALSE(m.solid.solid_material_seen);
    EXPECT_TRUE(m.solid.solid_stress.empty());
}

void expect_no_coupling_state(const Model& m) {
    EXPECT_TRUE(m.db.coupling_regions.empty());
    EXPECT_EQ(m.db.coupling_region_disabled_count, 0);
    EXPECT_EQ(m.coupling.coupling_epoch, 0);
    EXPECT_EQ(m.coupling.coupling_imported_force_count, 0);
    EXPECT_EQ(m.coupling.coupling_cumulative_work, 0.0);
    EXPECT_TRUE(m.coupling.coupling_external_force.empty());
}

}  // namespace

TEST(RestartLayouts, State031HasTheGasTableAndSourcesAndNothingLater) {
    auto m = model_with_every_section();
    ASSERT_EQ(read_into(*m, file_0_3_1()), 0) << m->error.last_error_message;
    const GasState& g = m->gas;
    ASSERT_EQ(g.rows.size(), 1u);
    const GasMaterialRow& row = g.rows[0];
    EXPECT_EQ(row.gas_material_ids, 1);
    EXPECT_EQ(row.gas_material_names, "Products");
    EXPECT_TRUE(row.gas_material_eos_defined);
    EXPECT_EQ(row.gas_material_eos_type, 2);
    EXPECT_EQ(row.gas_material_temperature_default, 300.0);
    EXPECT_EQ(row.gas_material_jwl_r2, 0.95);
    EXPECT_EQ(row.gas_material_default_volume, 1.2e-4);
    EXPECT_TRUE(g.gas_material_seen);
    EXPECT_TRUE(g.gas_bubble_history_valid);  // one gas particle counted
    EXPECT_EQ(g.sources.gas_mass_source[0], 0.1);
    EXPECT_EQ(g.sources.gas_energy_source[0], 2000.0);
    EXPECT_EQ(g.sources.gas_momentum_source[0].z, 3.0);
    EXPECT_EQ(g.sources.gas_mass_source[1], 0.0);
    EXPECT_EQ(m->db.particle_id_ext[1], 12);
    EXPECT_EQ(m->db.mass[1], 8.0);
    // No explosive section: table, ignitions and per-particle state cleared.
    EXPECT_TRUE(m->explosive.slots.empty());
    EXPECT_TRUE(m->explosive.ignitions.empty());
    EXPECT_FALSE(m->explosive.explosive_material_seen);
    EXPECT_TRUE(m->explosive.explosive_ignition_status.empty());
    EXPECT_EQ(m->explosive.explosive_converted_count, 0);
    expect_no_solid_state(*m);
    expect_no_coupling_state(*m);
}

TEST(RestartLayouts, State041ReadsTheFullExplosiveRecordsAndRecomputesTheBalance) {
    auto m = model_with_every_section();
    ASSERT_EQ(read_into(*m, file_0_4_1()), 0) << m->error.last_error_message;
    const ExplosiveState& ex = m->explosive;
    ASSERT_EQ(ex.slots.size(), 1u);
    EXPECT_EQ(ex.slots[0].explosive_material_id, 2);
    EXPECT_EQ(ex.slots[0].explosive_product_material_name, "Products");
    EXPECT_EQ(ex.slots[0].explosive_conversion_mode, 1);
    EXPECT_EQ(ex.slots[0].explosive_burn_time, 4e-6);
    ASSERT_EQ(ex.ignitions.size(), 1u);
    EXPECT_EQ(ex.ignitions[0].explosive_ignition_material_id, 2);
    EXPECT_TRUE(ex.explosive_material_seen);
    EXPECT_EQ(ex.explosive_dt_reaction, 1e-6);
    EXPECT_EQ(ex.explosive_converted_count, 3);
    EXPECT_EQ(ex.explosive_source_target_count, 7);
    EXPECT_EQ(ex.explosive_source_mass_total, 0.25);
    EXPECT_EQ(ex.explosive_source_energy_total, 1000.0);
    EXPECT_EQ(ex.explosive_source_momentum_total.y, 2.0);
    // The stored values of the long record, not the ones a short record
    // would be given (material 3, mass 8, remaining 8 - 7 for particle 2).
    EXPECT_EQ(ex.explosive_initial_material_id[0], 2);
    EXPECT_EQ(ex.explosive_initial_mass[0], 0.5);
    EXPECT_EQ(ex.explosive_remaining_mass[0], 0.25);
    EXPECT_EQ(ex.explosive_released_mass[1], 7.0);
    EXPECT_EQ(ex.explosive_initial_material_id[1], 3);
    EXPECT_EQ(ex.explosive_initial_mass[1], 9.0);
    EXPECT_EQ(ex.explosive_remaining_mass[1], 2.0);
    // The balance over the tracked particle 1, not the stored 9s: mass
    // initial, released, remaining and defect; energy released and its
    // defect against 0.25 kg x 4.3 MJ/kg; momentum released.
    EXPECT_EQ(ex.explosive_release_mass_balance[0], 0.5);
    EXPECT_EQ(ex.explosive_release_mass_balance[1], 0.25);
    EXPECT_EQ(ex.explosive_release_mass_balance[2], 0.25);
    EXPECT_EQ(ex.explosive_release_mass_balance[3], 0.0);
    EXPECT_EQ(ex.explosive_release_energy_balance[0], 1.2e6);
    EXPECT_EQ(ex.explosive_release_energy_balance[1], 1.2e6 - 0.25 * 4.3e6);
    EXPECT_EQ(ex.explosive_release_momentum_balance[0], 0.1);
    EXPECT_EQ(ex.explosive_release_momentum_balance[1], 0.2);
    EXPECT_EQ(ex.explosive_release_momentum_balance[2], 0.3);
    expect_no_solid_state(*m);
    expect_no_coupling_state(*m);
}

TEST(RestartLayouts, State05ReadsTheShortSolidLayoutWithTheLaterFieldsZero) {
    auto m = model_with_every_section();
    // The earlier model holds the later fields, so zeros below are defaults.
    ASSERT_EQ(m->db.solid.solid_reference_neighbor_min, 27);
    ASSERT_EQ(m->solid.solid_reference_neighbor_count[1], 27);
    ASSERT_EQ(read_into(*m, file_0_5()), 0) << m->error.last_error_message;
    const SolidState& s = m->solid;
    ASSERT_EQ(s.slots.size(), 1u);
    EXPECT_EQ(s.slots[0].solid_material_ids, 3);
    EXPECT_EQ(s.slots[0].solid_material_names, "Steel");
    EXPECT_TRUE(s.slots[0].solid_johnson_cook_defined);
    EXPECT_FALSE(s.slots[0].solid_failure_defined);
    EXPECT_EQ(s.slots[0].jc.tmelt, 1793.0);
    EXPECT_EQ(s.slots[0].solid_wave_speed, 5856.0);
    EXPECT_TRUE(s.solid_material_seen);
    EXPECT_EQ(s.solid_body_force.z, -9.81);
    const SolidDiagnostics& d = m->db.solid;
    EXPECT_EQ(d.solid_particle_count, 1);
    EXPECT_EQ(d.solid_mass, 8.0);
    EXPECT_EQ(d.solid_max_von_mises, 6.0);
    EXPECT_EQ(d.solid_max_plastic_strain, 0.01);
    EXPECT_EQ(d.solid_dtcrit, 1e-6);
    EXPECT_EQ(d.solid_reference_neighbor_min, 0);
    EXPECT_EQ(d.solid_correction_det_min, 0.0);
    EXPECT_EQ(d.solid_correction_status_max, 0);
    EXPECT_EQ(d.solid_max_strain_rate, 0.0);
    EXPECT_EQ(d.solid_max_acceleration, 0.0);
    EXPECT_EQ(d.solid_internal_force_residual, 0.0);
    ASSERT_EQ(s.solid_stress.size(), 2u);
    EXPECT_EQ(s.solid_stress[1][2], 3e8);
    EXPECT_EQ(s.solid_strain[1][1], 2e-3);
    EXPECT_EQ(s.solid_damage[1], 0.2);
    EXPECT_EQ(s.solid_softening[1], 0.5);
    EXPECT_EQ(s.solid_reference_volume[1], 1e-3);
    EXPECT_EQ(s.solid_deformation_gradient[1][0], 1.001);
    EXPECT_EQ(s.solid_correction_matrix[1][4], 2.0);
    EXPECT_EQ(s.solid_acc_internal[1].z, 30.0);
    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(s.solid_correction_determinant[i], 0.0);
        EXPECT_EQ(s.solid_strain_rate_eq[i], 0.0);
        EXPECT_EQ(s.solid_reference_neighbor_count[i], 0);
        EXPECT_EQ(s.solid_reference_degenerate[i], 0);
        EXPECT_EQ(s.solid_correction_status[i], 0);
        EXPECT_EQ(s.solid_velocity_gradient[i], SolidMatrix{});
        EXPECT_EQ(s.solid_strain_rate[i], SolidTensor{});
    }
    // Without the undamaged stress it is the acting stress over the
    // softening; unsoftened, the acting stress.
    const SolidTensor undamaged = {2e8, 4e8, 6e8, 8e7, 1e8, 1.2e8};
    EXPECT_EQ(s.solid_effective_stress[1], undamaged);
    EXPECT_EQ(s.solid_effective_stress[0], s.solid_stress[0]);
    EXPECT_EQ(m->explosive.explosive_converted_count, 3);  // the full explosive layout
    expect_no_coupling_state(*m);
}

TEST(RestartLayouts, State051ReadsTheReferenceAndCorrectionRecords) {
    auto m = std::make_unique<Model>();
    ASSERT_EQ(sph_initialize(*m), 0);
    ASSERT_EQ(read_into(*m, file_0_5_1()), 0) << m->error.last_error_message;
    const SolidDiagnostics& d = m->db.solid;
    EXPECT_EQ(d.solid_reference_neighbor_min, 27);
    EXPECT_EQ(d.solid_correction_det_min, 0.25);
    EXPECT_EQ(d.solid_correction_status_max, 1);
    EXPECT_EQ(d.solid_max_strain_rate, 100.0);
    EXPECT_EQ(d.solid_max_acceleration, 2000.0);
    EXPECT_EQ(d.solid_internal_force_residual, 0.5);
    const SolidState& s = m->solid;
    EXPECT_EQ(s.solid_correction_determinant[1], 0.9);
    EXPECT_EQ(s.solid_strain_rate_eq[1], 50.0);
    EXPECT_EQ(s.solid_reference_neighbor_count[1], 27);
    EXPECT_EQ(s.solid_reference_degenerate[1], 0);
    EXPECT_EQ(s.solid_correction_status[1], 1);
    EXPECT_EQ(s.solid_velocity_gradient[1], (SolidMatrix{1, 2, 3, 4, 5, 6, 7, 8, 9}));
    EXPECT_EQ(s.solid_strain_rate[1], (SolidTensor{0.1, 0.2, 0.3, 0.4, 0.5, 0.6}));
    EXPECT_EQ(s.solid_correction_determinant[0], 1.0);
    EXPECT_EQ(s.solid_acc_internal[1].x, 10.0);
    const SolidTensor undamaged = {2e8, 4e8, 6e8, 8e7, 1e8, 1.2e8};
    EXPECT_EQ(s.solid_effective_stress[1], undamaged);
    expect_no_coupling_state(*m);
}

TEST(RestartLayouts, State08ReadsTheShortCouplingLayoutWithLegacyModes) {
    for (const bool four_counts : {true, false}) {
        SCOPED_TRACE(four_counts ? "counts line of 4" : "counts line of 3");
        auto m = model_with_every_section();
        ASSERT_EQ(read_into(*m, file_0_8(four_counts ? "4 5 6 7" : "4 5 6")), 0)
            << m->error.last_error_message;
        const DbState& db = m->db;
        ASSERT_EQ(db.coupling_regions.size(), 2u);
        EXPECT_EQ(db.coupling_region_disabled_count, 1);
        const CouplingRegionRecord& skin = db.coupling_regions[0];
        EXPECT_EQ(skin.coupling_region_name, "Skin");
        EXPECT_EQ(skin.coupling_region_set_name, "BACK");
        EXPECT_EQ(skin.coupling_region_surface_name, "");
        EXPECT_EQ(skin.coupling_region_type, 1);
        EXPECT_EQ(skin.coupling_region_export_mode, 2);
        EXPECT_EQ(skin.coupling_region_import_mode, 2);
        EXPECT_EQ(skin.coupling_region_enabled, 1);
        EXPECT_EQ(skin.coupling_region_internal_id, 1);
        EXPECT_EQ(skin.coupling_region_particles, (std::vector<int>{1, 0}));  // stored 1-based
        // Legacy modes: facet force for a region importing facet loads,
        // particle force otherwise; uniform distribution; no contact states.
        EXPECT_EQ(skin.coupling_region_load_mode, 2);
        EXPECT_EQ(skin.coupling_region_distribution_mode, 1);
        EXPECT_EQ(skin.coupling_region_contact_state_mode, 0);
        const CouplingRegionRecord& wet = db.coupling_regions[1];
        EXPECT_EQ(wet.coupling_region_section_name, "FLUID");
        EXPECT_EQ(wet.coupling_region_import_mode, 1);
        EXPECT_EQ(wet.coupling_region_enabled, 0);
        EXPECT_EQ(wet.coupling_region_phase_filter, 5);
        EXPECT_EQ(wet.coupling_region_material_filter, 1);
        EXPECT_EQ(wet.coupling_region_section_filter, 1);
        EXPECT_EQ(wet.coupling_region_internal_id, 2);
        EXPECT_EQ(wet.coupling_region_particles, (std::vector<int>{0}));
        EXPECT_EQ(wet.coupling_region_load_mode, 1);
        EXPECT_EQ(wet.coupling_region_distribution_mode, 1);
        EXPECT_EQ(wet.coupling_region_contact_state_mode, 0);

        const CouplingState& c = m->coupling;
        EXPECT_EQ(c.coupling_cumulative_impulse.z, 3.0);
        EXPECT_EQ(c.coupling_momentum_exchange.x, 4.0);
        EXPECT_EQ(c.coupling_cumulative_work, 7.5);
        EXPECT_EQ(c.coupling_energy_exchange, 8.5);
        EXPECT_EQ(c.coupling_stale_load_count, 4);
        EXPECT_EQ(c.coupling_skipped_particle_count, 5);
        EXPECT_EQ(c.coupling_nonfinite_import_count, 6);
        EXPECT_EQ(c.coupling_imported_force_count, four_counts ? 7 : 0);
        // Records 53-56 are not in the layout: the reset values.
        EXPECT_EQ(c.coupling_epoch, 0);
        EXPECT_EQ(c.coupling_repeated_import_count, 0);
        EXPECT_EQ(c.coupling_active_contact_count, 0);
        EXPECT_EQ(c.coupling_bad_facet_area_count, 0);
        EXPECT_EQ(c.coupling_facet_input_force.x, 0.0);
        EXPECT_EQ(c.coupling_facet_moment_error, 0.0);
        EXPECT_EQ(c.coupling_max_pressure, 0.0);
        EXPECT_EQ(c.coupling_max_penetration, 0.0);
        // The short particle record: force, motion velocity and position,
        // motion flag and mode; no contact state.
        EXPECT_EQ(c.coupling_external_force[0].x, 1.0);
        EXPECT_EQ(c.coupling_motion_velocity[0].y, 5.0);
        EXPECT_EQ(c.coupling_motion_position[0].z, 9.0);
        EXPECT_EQ(c.coupling_motion_flag[0], 1);
        EXPECT_EQ(c.coupling_motion_mode[0], 2);
        EXPECT_EQ(c.coupling_external_force[1].z, -3.0);
        EXPECT_EQ(c.coupling_motion_position[1].x, -7.0);
        EXPECT_EQ(c.coupling_motion_flag[1], 2);
        EXPECT_EQ(c.coupling_motion_mode[1], 1);
        for (int i = 0; i < 2; ++i) {
            EXPECT_EQ(c.coupling_contact_flag[i], 0);
            EXPECT_EQ(c.coupling_contact_normal[i].z, 0.0);
            EXPECT_EQ(c.coupling_contact_gap[i], 0.0);
            EXPECT_EQ(c.coupling_contact_penetration[i], 0.0);
            EXPECT_EQ(c.coupling_contact_pressure[i], 0.0);
        }
    }
}

TEST(RestartLayouts, State08CouplingFailures) {
    struct Case {
        std::string text;
        const char* what;
    };
    const std::string whole = file_0_8();
    const Case cases[] = {
        {file_0_8("4 5 6 7", 3), "stored particle count differs"},
        {file_0_8("4 5"), "counts line of two values"},
        {whole.substr(0, whole.rfind('\n', whole.size() - 2) + 1), "last particle record missing"},
    };
    for (const Case& c : cases) {
        auto m = std::make_unique<Model>();
        ASSERT_EQ(sph_initialize(*m), 0);
        EXPECT_EQ(read_into(*m, c.text), 4) << c.what;
        EXPECT_EQ(m->error.last_error_message, "invalid restart Coupling state") << c.what;
    }
}

// Through the host's read (neighbor rebuild and diagnostics included), every
// hand-written file gives a built model with a stable step. (The hand-written
// values are not a consistent physical state, so the files are not stepped.)
TEST(RestartLayouts, EveryOlderLayoutReadsIntoAFreshLibraryAsABuiltModel) {
    const std::string files[] = {file_0_3_1(), file_0_4_1(), file_0_5(),
                                 file_0_5_1(), file_0_8(),   file_0_8("4 5 6")};
    for (const std::string& text : files) {
        const std::string tag = text.substr(0, text.find('\n'));
        const fs::path path = deck_test::temp_dir() / "restart_layout_host.rst";
        {
            std::ofstream out(path, std::ios::binary);
            out << text;
        }
        auto m = std::make_unique<Model>();
        ASSERT_EQ(sph_initialize(*m), 0);
        ASSERT_EQ(sph_read_restart(*m, path.string()), 0)
            << tag << ": " << m->error.last_error_message;
        fs::remove(path);
        EXPECT_TRUE(sph_api_state_get_model_built(m->api)) << tag;
        EXPECT_EQ(m->control.current_step, 25) << tag;
        EXPECT_EQ(m->control.output_directory, "run_out") << tag;
        double dt = 0.0;
        ASSERT_EQ(sph_estimate_stable_dt(*m, dt), 0) << tag << ": " << m->error.last_error_message;
        EXPECT_GT(dt, 0.0) << tag;
    }
}
