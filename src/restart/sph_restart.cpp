#include "restart/sph_restart.hpp"

#include <cmath>
#include <string>

#include "core/sph_error.hpp"
#include "core/sph_format.hpp"
#include "core/sph_model.hpp"
#include "core/sph_text.hpp"
#include "interface/sph_api.hpp"
#include "restart/sph_restart_io.hpp"
#include "solid/sph_solid_dynamics.hpp"

namespace {

constexpr int max_table_rows = 32;
constexpr std::size_t name_field = 64;

int fail(Model& m, std::string_view message) {
    return sph_error_set(m.error, sph_error_input, message);
}

// A text record: the whole line, trimmed and cut to its field.
bool read_text(RestartLineSource& in, std::string& text, std::size_t width) {
    std::string_view line;
    if (!in.next(line)) return false;
    text = sph_text_field(line, width);
    return true;
}

bool at_least(RestartLayout layout, RestartLayout oldest) {
    return static_cast<int>(layout) >= static_cast<int>(oldest);
}

// ---------------------------------------------------------------------------
// Sections A to E

void write_run_and_water(Model& m, RestartWriter& w) {
    const ControlState& c = m.control;
    std::string header(sph_restart_magic);
    header += ' ' + sph_format_int_string(sph_version_major) + ' ' +
              sph_format_int_string(sph_version_minor) + ' ' +
              sph_format_int_string(sph_version_patch) + ' ';
    header += sph_restart_newest_tag;
    w.text(header);
    w.record(c.current_time, c.current_step, m.db.npart);
    w.put(c.output_interval).put(c.output_enabled).put(c.safety_factor);
    // The integrator and whether forces are carried: appended only by a run
    // with the velocity-Verlet scheme, so files of the documented scheme keep
    // the layout value for value, and readers that know only three values
    // skip the rest.
    if (c.integrator != sph_integrator_default) {
        w.put(c.integrator).put(m.solver.verlet_forces_ready);
    }
    w.end();
    w.text(c.output_directory);

    const WaterState& water = m.water;
    w.record(water.water_rho0, water.water_c0, water.water_gamma, water.water_p0, water.water_b);
    w.put(water.water_visc_alpha).put(water.water_visc_beta).put(water.water_visc_eta2);
    // The density diffusion, appended only when it is on, as the integrator is.
    if (water.water_density_diffusion != 0.0) w.put(water.water_density_diffusion);
    w.end();
    w.record(water.water_body_force);
    const NeighborState& nb = m.neighbor;
    w.record(nb.neighbor_cell_size, nb.neighbor_cell_dims[0], nb.neighbor_cell_dims[1],
             nb.neighbor_cell_dims[2], nb.neighbor_num_cells);
    const WaterDiagnostics& d = m.db.water;
    w.record(d.water_particle_count, d.water_mass);
    w.record(d.water_momentum, d.water_max_pressure, d.water_min_density, d.water_max_density,
             d.water_pressure_impulse);
    w.record(d.water_dt_cfl, d.water_dt_accel, d.water_dt_viscous);
}

void write_gas(Model& m, RestartWriter& w) {
    const GasState& g = m.gas;
    w.record(g.gas_eos_type, g.gas_rho0, g.gas_gamma, g.gas_e0, g.gas_p0, g.gas_jwl_a, g.gas_jwl_b,
             g.gas_jwl_r1, g.gas_jwl_r2, g.gas_jwl_omega, g.gas_pinf);
    w.put(g.gas_default_h).put(g.gas_default_mass).put(g.gas_default_volume);
    if (g.gas_density_diffusion != 0.0) w.put(g.gas_density_diffusion);
    w.end();
    w.record(g.gas_body_force);
    const GasDiagnostics& d = m.db.gas;
    w.record(d.gas_particle_count, d.gas_mass, d.gas_volume);
    w.record(d.gas_momentum, d.gas_center, d.gas_mean_pressure, d.gas_max_pressure,
             d.gas_min_density, d.gas_max_density);
    w.record(d.gas_equivalent_radius, d.gas_previous_equivalent_radius, d.gas_radius_rate,
             d.gas_previous_center, d.gas_center_shift);
    w.record(d.gas_dt_cfl, d.gas_dt_accel, d.gas_dtcrit);
    w.record(static_cast<int>(g.rows.size()));
    for (const GasMaterialRow& row : g.rows) {
        w.put(row.gas_material_ids)
            .put_name(row.gas_material_names)
            .put(row.gas_material_eos_defined)
            .put(row.gas_material_eos_type)
            .end();
        w.record(row.gas_material_density_default, row.gas_material_energy_default,
                 row.gas_material_temperature_default);
        w.record(row.gas_material_rho0, row.gas_material_gamma, row.gas_material_p0,
                 row.gas_material_pinf);
        w.record(row.gas_material_jwl_a, row.gas_material_jwl_b, row.gas_material_jwl_r1,
                 row.gas_material_jwl_r2, row.gas_material_jwl_omega);
        w.record(row.gas_material_default_h, row.gas_material_default_mass,
                 row.gas_material_default_volume);
    }
}

void write_particles(Model& m, RestartWriter& w) {
    const DbState& db = m.db;
    const SolverState& solver = m.solver;
    const std::size_t n = static_cast<std::size_t>(db.npart);
    const bool carried = m.control.integrator != sph_integrator_default &&
                         solver.verlet_forces_ready && solver.verlet_acceleration.size() == n;
    for (int i = 0; i < db.npart; ++i) {
        w.record(db.particle_id_ext[i], db.particle_phase[i], db.particle_status[i],
                 db.material_id[i], db.section_id[i]);
        w.record(db.x0[i], db.x[i], db.v[i], db.a[i], db.vhalf[i]);
        w.put(db.mass[i]).put(db.rho[i]).put(db.volume[i]).put(db.pressure[i]);
        w.put(db.internal_energy[i]).put(db.temperature[i]).put(db.h[i]);
        // The carried start-of-step forces of the next velocity-Verlet step,
        // appended so that a resume takes the same step.
        if (carried) w.put(solver.verlet_acceleration[i]);
        w.end();
    }
    const GasSourceState& s = m.gas.sources;
    for (int i = 0; i < db.npart; ++i) {
        w.record(s.gas_mass_source[i], s.gas_energy_source[i], s.gas_momentum_source[i]);
    }
}

// The optional density diffusion appended to a record: absent means off (the
// file was written without it); present, it must read as a finite value that
// is not negative.
bool read_density_diffusion(RestartRecord& r, double& delta) {
    delta = 0.0;
    if (r.remaining() == 0) return true;
    return r.get(delta) && std::isfinite(delta) && delta >= 0.0;
}

int read_water(Model& m, RestartLineSource& in, RestartRecord& r) {
    WaterState& water = m.water;
    if (!sph_restart_read_record(in, r, water.water_rho0, water.water_c0, water.water_gamma,
                                 water.water_p0, water.water_b)) {
        return fail(m, "invalid restart Water EOS state");
    }
    if (!sph_restart_read_record(in, r, water.water_visc_alpha, water.water_visc_beta,
                                 water.water_visc_eta2) ||
        !read_density_diffusion(r, water.water_density_diffusion)) {
        return fail(m, "invalid restart Water viscosity state");
    }
    if (!sph_restart_read_record(in, r, water.water_body_force)) {
        return fail(m, "invalid restart body force state");
    }
    NeighborState& nb = m.neighbor;
    if (!sph_restart_read_record(in, r, nb.neighbor_cell_size, nb.neighbor_cell_dims[0],
                                 nb.neighbor_cell_dims[1], nb.neighbor_cell_dims[2],
                                 nb.neighbor_num_cells)) {
        return fail(m, "invalid restart neighbor state");
    }
    WaterDiagnostics& d = m.db.water;
    if (!sph_restart_read_record(in, r, d.water_particle_count, d.water_mass)) {
        return fail(m, "invalid restart Water summary state");
    }
    if (!sph_restart_read_record(in, r, d.water_momentum, d.water_max_pressure, d.water_min_density,
                                 d.water_max_density, d.water_pressure_impulse)) {
        return fail(m, "invalid restart Water diagnostic state");
    }
    if (!sph_restart_read_record(in, r, d.water_dt_cfl, d.water_dt_accel, d.water_dt_viscous)) {
        return fail(m, "invalid restart Water dt state");
    }
    return sph_success;
}

int read_gas(Model& m, RestartLineSource& in, RestartRecord& r) {
    GasState& g = m.gas;
    if (!sph_restart_read_record(in, r, g.gas_eos_type, g.gas_rho0, g.gas_gamma, g.gas_e0, g.gas_p0,
                                 g.gas_jwl_a, g.gas_jwl_b, g.gas_jwl_r1, g.gas_jwl_r2,
                                 g.gas_jwl_omega, g.gas_pinf)) {
        return fail(m, "invalid restart Gas EOS state");
    }
    if (!sph_restart_read_record(in, r, g.gas_default_h, g.gas_default_mass,
                                 g.gas_default_volume) ||
        !read_density_diffusion(r, g.gas_density_diffusion)) {
        return fail(m, "invalid restart Gas particle control state");
    }
    if (!sph_restart_read_record(in, r, g.gas_body_force))
        return fail(m, "invalid restart Gas body force state");
    GasDiagnostics& d = m.db.gas;
    if (!sph_restart_read_record(in, r, d.gas_particle_count, d.gas_mass, d.gas_volume)) {
        return fail(m, "invalid restart Gas summary state");
    }
    g.gas_bubble_history_valid = d.gas_particle_count > 0;
    if (!sph_restart_read_record(in, r, d.gas_momentum, d.gas_center, d.gas_mean_pressure,
                                 d.gas_max_pressure, d.gas_min_density, d.gas_max_density)) {
        return fail(m, "invalid restart Gas diagnostic state");
    }
    if (!sph_restart_read_record(in, r, d.gas_equivalent_radius, d.gas_previous_equivalent_radius,
                                 d.gas_radius_rate, d.gas_previous_center, d.gas_center_shift)) {
        return fail(m, "invalid restart Gas bubble state");
    }
    if (!sph_restart_read_record(in, r, d.gas_dt_cfl, d.gas_dt_accel, d.gas_dtcrit)) {
        return fail(m, "invalid restart Gas dt state");
    }
    return sph_success;
}

int read_gas_material_table(Model& m, RestartLineSource& in, RestartRecord& r) {
    GasState& g = m.gas;
    sph_gas_clear_material_table(g);
    int count = 0;
    if (!sph_restart_read_record(in, r, count) || count < 0 || count > max_table_rows) {
        return fail(m, "invalid restart Gas material table");
    }
    g.rows.resize(static_cast<std::size_t>(count));
    for (GasMaterialRow& row : g.rows) {
        if (!sph_restart_read_record(in, r, row.gas_material_ids, row.gas_material_names,
                                     row.gas_material_eos_defined, row.gas_material_eos_type) ||
            !sph_restart_read_record(in, r, row.gas_material_density_default,
                                     row.gas_material_energy_default,
                                     row.gas_material_temperature_default) ||
            !sph_restart_read_record(in, r, row.gas_material_rho0, row.gas_material_gamma,
                                     row.gas_material_p0, row.gas_material_pinf) ||
            !sph_restart_read_record(in, r, row.gas_material_jwl_a, row.gas_material_jwl_b,
                                     row.gas_material_jwl_r1, row.gas_material_jwl_r2,
                                     row.gas_material_jwl_omega) ||
            !sph_restart_read_record(in, r, row.gas_material_default_h,
                                     row.gas_material_default_mass,
                                     row.gas_material_default_volume)) {
            return fail(m, "invalid restart Gas material table");
        }
    }
    if (count > 0) g.gas_material_seen = true;
    return sph_success;
}

int read_particles(Model& m, RestartLineSource& in, RestartRecord& r) {
    DbState& db = m.db;
    SolverState& solver = m.solver;
    const bool carried = solver.verlet_forces_ready;
    if (carried) {
        solver.verlet_acceleration.assign(static_cast<std::size_t>(db.npart), Vec3{});
    }
    for (int i = 0; i < db.npart; ++i) {
        if (!sph_restart_read_record(in, r, db.particle_id_ext[i], db.particle_phase[i],
                                     db.particle_status[i], db.material_id[i], db.section_id[i]) ||
            !sph_restart_read_record(in, r, db.x0[i], db.x[i], db.v[i], db.a[i], db.vhalf[i]) ||
            !sph_restart_read_record(in, r, db.mass[i], db.rho[i], db.volume[i], db.pressure[i],
                                     db.internal_energy[i], db.temperature[i], db.h[i])) {
            return fail(m, "restart file ended unexpectedly");
        }
        if (carried && !r.get(solver.verlet_acceleration[i])) {
            return fail(m, "restart file ended unexpectedly");
        }
    }
    sph_db_invalidate_lookups(db);
    return sph_success;
}

int read_gas_sources(Model& m, RestartLineSource& in, RestartRecord& r) {
    if (const int st = sph_gas_allocate_sources(m)) return st;
    GasSourceState& s = m.gas.sources;
    for (int i = 0; i < m.db.npart; ++i) {
        if (!sph_restart_read_record(in, r, s.gas_mass_source[i], s.gas_energy_source[i],
                                     s.gas_momentum_source[i])) {
            return fail(m, "invalid restart Gas source state");
        }
    }
    s.gas_source_totals_stale = true;
    return sph_success;
}

}  // namespace

RestartLayout sph_restart_classify_tag(std::string_view tag) {
    static constexpr std::string_view tags[] = {
        "STATE_0_2", "STATE_0_3",   "STATE_0_3_1", "STATE_0_4",   "STATE_0_4_1",
        "STATE_0_5", "STATE_0_5_1", "STATE_0_8",   "STATE_0_8_1",
    };
    tag = sph_text_trim(tag);
    for (std::size_t k = 0; k < std::size(tags); ++k) {
        if (tag == tags[k]) return static_cast<RestartLayout>(k);
    }
    return RestartLayout::unsupported;
}

// ---------------------------------------------------------------------------
// Explosive section

void sph_restart_write_explosive_state(Model& m, RestartWriter& w) {
    const ExplosiveState& ex = m.explosive;
    w.record(static_cast<int>(ex.slots.size()));
    for (const ExplosiveMaterialSlot& s : ex.slots) {
        w.put(s.explosive_material_id)
            .put_name(s.explosive_material_name)
            .put(s.explosive_control_defined)
            .put(s.explosive_product_material_id)
            .put_name(s.explosive_product_material_name)
            .put(s.explosive_conversion_mode)
            .end();
        w.record(s.explosive_density0, s.explosive_detonation_velocity, s.explosive_energy_per_mass,
                 s.explosive_burn_time);
    }
    w.record(static_cast<int>(ex.ignitions.size()));
    for (const ExplosiveIgnition& g : ex.ignitions) {
        w.record(g.explosive_ignition_material_id, g.explosive_ignition_x,
                 g.explosive_ignition_time);
    }
    w.record(ex.explosive_dt_reaction);
    w.record(ex.explosive_converted_count, ex.explosive_source_target_count);
    w.record(ex.explosive_source_mass_total, ex.explosive_source_energy_total,
             ex.explosive_source_momentum_total);
    for (const double v : ex.explosive_release_mass_balance) w.put(v);
    w.end();
    for (const double v : ex.explosive_release_energy_balance) w.put(v);
    w.end();
    for (const double v : ex.explosive_release_momentum_balance) w.put(v);
    w.end();
    for (int i = 0; i < m.db.npart; ++i) {
        w.record(ex.explosive_ignition_status[i], ex.explosive_detonation_time[i],
                 ex.explosive_reaction_progress[i], ex.explosive_released_mass[i],
                 ex.explosive_released_energy[i], ex.explosive_released_momentum[i],
                 ex.explosive_initial_material_id[i], ex.explosive_initial_mass[i],
                 ex.explosive_remaining_mass[i]);
    }
}

void sph_restart_clear_explosive_state(Model& m) {
    const bool initialized = m.explosive.explosive_module_initialized;
    sph_explosive_initialize(m.explosive);
    m.explosive.explosive_module_initialized = initialized;
}

void sph_restart_seed_explosive_041_defaults(Model& m, int i) {
    ExplosiveState& ex = m.explosive;
    const DbState& db = m.db;
    ex.explosive_initial_material_id[i] = db.material_id[i];
    const double released = ex.explosive_released_mass[i];
    const double progress = ex.explosive_reaction_progress[i];
    ex.explosive_initial_mass[i] =
        released > 0.0 && progress > 0.0 ? released / progress : db.mass[i];
    const double remaining = ex.explosive_initial_mass[i] - released;
    ex.explosive_remaining_mass[i] = remaining > 0.0 ? remaining : 0.0;
}

int sph_restart_read_explosive_state(Model& m, RestartLineSource& in, RestartLayout layout) {
    ExplosiveState& ex = m.explosive;
    const bool full = at_least(layout, RestartLayout::state_0_4_1);
    RestartRecord r;
    sph_explosive_clear_material_table(ex);
    int count = 0;
    if (!sph_restart_read_record(in, r, count))
        return fail(m, "invalid restart Explosive material count");
    if (count < 0 || count > max_table_rows) {
        return fail(m, "restart Explosive material count is out of range");
    }
    ex.slots.resize(static_cast<std::size_t>(count));
    ex.explosive_material_seen = count > 0;
    for (ExplosiveMaterialSlot& s : ex.slots) {
        if (!sph_restart_read_record(in, r, s.explosive_material_id, s.explosive_material_name,
                                     s.explosive_control_defined, s.explosive_product_material_id,
                                     s.explosive_product_material_name,
                                     s.explosive_conversion_mode)) {
            return fail(m, "invalid restart Explosive material row");
        }
        if (!sph_restart_read_record(in, r, s.explosive_density0, s.explosive_detonation_velocity,
                                     s.explosive_energy_per_mass, s.explosive_burn_time)) {
            return fail(m, "invalid restart Explosive control row");
        }
    }
    int ignitions = 0;
    if (!sph_restart_read_record(in, r, ignitions))
        return fail(m, "invalid restart Explosive ignition count");
    if (ignitions < 0 || ignitions > sph_explosive_max_ignitions) {
        return fail(m, "restart Explosive ignition count is out of range");
    }
    ex.ignitions.assign(static_cast<std::size_t>(ignitions), ExplosiveIgnition{});
    for (ExplosiveIgnition& g : ex.ignitions) {
        if (!sph_restart_read_record(in, r, g.explosive_ignition_material_id,
                                     g.explosive_ignition_x, g.explosive_ignition_time)) {
            return fail(m, "invalid restart Explosive ignition row");
        }
    }
    if (!sph_restart_read_record(in, r, ex.explosive_dt_reaction)) {
        return fail(m, "invalid restart Explosive dt state");
    }
    if (sph_explosive_allocate_state(m) != sph_success) {
        return fail(m, "failed to allocate restart Explosive state");
    }
    if (full) {
        if (!sph_restart_read_record(in, r, ex.explosive_converted_count,
                                     ex.explosive_source_target_count)) {
            return fail(m, "invalid restart Explosive conversion counts");
        }
        if (!sph_restart_read_record(in, r, ex.explosive_source_mass_total,
                                     ex.explosive_source_energy_total,
                                     ex.explosive_source_momentum_total)) {
            return fail(m, "invalid restart Explosive source totals");
        }
        auto& mass = ex.explosive_release_mass_balance;
        if (!sph_restart_read_record(in, r, mass[0], mass[1], mass[2], mass[3])) {
            return fail(m, "invalid restart Explosive mass balance");
        }
        auto& energy = ex.explosive_release_energy_balance;
        if (!sph_restart_read_record(in, r, energy[0], energy[1])) {
            return fail(m, "invalid restart Explosive energy balance");
        }
        auto& momentum = ex.explosive_release_momentum_balance;
        if (!sph_restart_read_record(in, r, momentum[0], momentum[1], momentum[2])) {
            return fail(m, "invalid restart Explosive momentum balance");
        }
    }
    for (int i = 0; i < m.db.npart; ++i) {
        bool ok = sph_restart_read_record(
            in, r, ex.explosive_ignition_status[i], ex.explosive_detonation_time[i],
            ex.explosive_reaction_progress[i], ex.explosive_released_mass[i],
            ex.explosive_released_energy[i], ex.explosive_released_momentum[i]);
        if (ok && full) {
            ok = r.read(ex.explosive_initial_material_id[i], ex.explosive_initial_mass[i],
                        ex.explosive_remaining_mass[i]);
        }
        if (!ok) return fail(m, "invalid restart Explosive particle state");
        if (!full) sph_restart_seed_explosive_041_defaults(m, i);
    }
    sph_explosive_update_release_balance(m);
    return sph_success;
}

// ---------------------------------------------------------------------------
// Coupling section

void sph_restart_write_coupling_state(Model& m, RestartWriter& w) {
    const DbState& db = m.db;
    const CouplingState& s = m.coupling;
    w.text(sph_restart_coupling_marker);
    w.record(static_cast<int>(db.coupling_regions.size()), db.coupling_region_disabled_count);
    for (const CouplingRegionRecord& c : db.coupling_regions) {
        w.text(c.coupling_region_name);
        w.text(c.coupling_region_set_name);
        w.text(c.coupling_region_surface_name);
        w.text(c.coupling_region_material_name);
        w.text(c.coupling_region_section_name);
        w.record(c.coupling_region_type, c.coupling_region_export_mode,
                 c.coupling_region_import_mode, c.coupling_region_load_mode,
                 c.coupling_region_distribution_mode, c.coupling_region_contact_state_mode,
                 c.coupling_region_enabled, c.coupling_region_phase_filter,
                 c.coupling_region_material_filter, c.coupling_region_section_filter,
                 c.coupling_region_internal_id, c.coupling_region_particle_count);
        if (c.coupling_region_particle_count > 0) {
            for (int k = 0; k < c.coupling_region_particle_count; ++k) {
                w.put(c.coupling_region_particles[static_cast<std::size_t>(k)] + 1);
            }
            w.end();
        }
    }
    w.record(s.coupling_cumulative_impulse, s.coupling_momentum_exchange);
    w.record(s.coupling_cumulative_work, s.coupling_energy_exchange);
    w.record(s.coupling_stale_load_count, s.coupling_skipped_particle_count,
             s.coupling_nonfinite_import_count, s.coupling_imported_force_count);
    w.record(s.coupling_epoch, s.coupling_repeated_import_count, s.coupling_duplicate_facet_count,
             s.coupling_invalid_weight_count, s.coupling_active_contact_count,
             s.coupling_skipped_contact_count, s.coupling_nonfinite_contact_count,
             s.coupling_bad_facet_area_count, 0);
    w.record(s.coupling_facet_input_force, s.coupling_facet_distributed_force,
             s.coupling_facet_force_error);
    w.record(s.coupling_facet_input_moment, s.coupling_facet_distributed_moment,
             s.coupling_facet_moment_error);
    w.record(s.coupling_max_pressure, s.coupling_max_traction, s.coupling_max_penetration);
    w.record(db.npart);
    for (int i = 0; i < db.npart; ++i) {
        w.record(s.coupling_external_force[i], s.coupling_motion_velocity[i],
                 s.coupling_motion_position[i], s.coupling_contact_normal[i],
                 s.coupling_contact_gap[i], s.coupling_contact_penetration[i],
                 s.coupling_contact_pressure[i], s.coupling_motion_flag[i],
                 s.coupling_motion_mode[i], s.coupling_contact_flag[i]);
    }
}

void sph_restart_clear_coupling_state(Model& m) {
    sph_coupling_reset(m.coupling);
    m.db.coupling_regions.clear();
    m.db.coupling_region_disabled_count = 0;
}

void sph_restart_set_legacy_coupling_modes(Model& m, int region) {
    CouplingRegionRecord& c = m.db.coupling_regions[static_cast<std::size_t>(region)];
    c.coupling_region_load_mode = c.coupling_region_import_mode == sph_coupling_import_facet_load
                                      ? sph_coupling_load_facet_force
                                      : sph_coupling_load_particle_force;
    c.coupling_region_distribution_mode = sph_coupling_distribution_uniform;
    c.coupling_region_contact_state_mode = sph_coupling_contact_state_none;
}

bool sph_restart_read_coupling_state(Model& m, RestartLineSource& in, RestartLayout layout) {
    const bool full = layout == RestartLayout::state_0_8_1;
    sph_restart_clear_coupling_state(m);
    DbState& db = m.db;
    CouplingState& s = m.coupling;
    std::string marker;
    if (!read_text(in, marker, name_field) || marker != sph_restart_coupling_marker) return false;
    RestartRecord r;
    int count = 0;
    if (!sph_restart_read_record(in, r, count, db.coupling_region_disabled_count)) return false;
    if (count < 0 || count > max_table_rows) return false;
    db.coupling_regions.resize(static_cast<std::size_t>(count));
    for (int region = 0; region < count; ++region) {
        CouplingRegionRecord& c = db.coupling_regions[static_cast<std::size_t>(region)];
        if (!read_text(in, c.coupling_region_name, name_field) ||
            !read_text(in, c.coupling_region_set_name, name_field) ||
            !read_text(in, c.coupling_region_surface_name, name_field) ||
            !read_text(in, c.coupling_region_material_name, name_field) ||
            !read_text(in, c.coupling_region_section_name, name_field)) {
            return false;
        }
        if (full) {
            if (!sph_restart_read_record(
                    in, r, c.coupling_region_type, c.coupling_region_export_mode,
                    c.coupling_region_import_mode, c.coupling_region_load_mode,
                    c.coupling_region_distribution_mode, c.coupling_region_contact_state_mode,
                    c.coupling_region_enabled, c.coupling_region_phase_filter,
                    c.coupling_region_material_filter, c.coupling_region_section_filter,
                    c.coupling_region_internal_id, c.coupling_region_particle_count)) {
                return false;
            }
        } else {
            if (!sph_restart_read_record(
                    in, r, c.coupling_region_type, c.coupling_region_export_mode,
                    c.coupling_region_import_mode, c.coupling_region_enabled,
                    c.coupling_region_phase_filter, c.coupling_region_material_filter,
                    c.coupling_region_section_filter, c.coupling_region_internal_id,
                    c.coupling_region_particle_count)) {
                return false;
            }
            sph_restart_set_legacy_coupling_modes(m, region);
        }
        const int members = c.coupling_region_particle_count;
        if (members < 0 || members > sph_max_set_members) return false;
        c.coupling_region_particles.assign(static_cast<std::size_t>(members), 0);
        if (members > 0) {
            if (!sph_restart_next_record(in, r)) return false;
            for (int& p : c.coupling_region_particles) {
                // Stored 1-based; an index outside the particles would be
                // followed by every export and import.
                if (!r.get(p) || p < 1 || p > db.npart) return false;
                p -= 1;
            }
        }
    }
    if (sph_coupling_allocate_imports(m) != sph_success) return false;
    if (!sph_restart_read_record(in, r, s.coupling_cumulative_impulse,
                                 s.coupling_momentum_exchange) ||
        !sph_restart_read_record(in, r, s.coupling_cumulative_work, s.coupling_energy_exchange)) {
        return false;
    }
    // The counts line holds four values from STATE_0_8_1 on, three before:
    // a fourth that is missing or unreadable counts as 0.
    int imported_force_count = 0;
    if (!sph_restart_read_record(in, r, s.coupling_stale_load_count,
                                 s.coupling_skipped_particle_count,
                                 s.coupling_nonfinite_import_count)) {
        return false;
    }
    if (!r.get(imported_force_count)) imported_force_count = 0;
    if (full) {
        int ignored = 0;
        if (!sph_restart_read_record(
                in, r, s.coupling_epoch, s.coupling_repeated_import_count,
                s.coupling_duplicate_facet_count, s.coupling_invalid_weight_count,
                s.coupling_active_contact_count, s.coupling_skipped_contact_count,
                s.coupling_nonfinite_contact_count, s.coupling_bad_facet_area_count, ignored) ||
            !sph_restart_read_record(in, r, s.coupling_facet_input_force,
                                     s.coupling_facet_distributed_force,
                                     s.coupling_facet_force_error) ||
            !sph_restart_read_record(in, r, s.coupling_facet_input_moment,
                                     s.coupling_facet_distributed_moment,
                                     s.coupling_facet_moment_error) ||
            !sph_restart_read_record(in, r, s.coupling_max_pressure, s.coupling_max_traction,
                                     s.coupling_max_penetration)) {
            return false;
        }
    }
    int stored_npart = 0;
    if (!sph_restart_read_record(in, r, stored_npart) || stored_npart != db.npart) return false;
    s.coupling_imported_force_count = imported_force_count;
    for (int i = 0; i < db.npart; ++i) {
        if (!sph_restart_read_record(in, r, s.coupling_external_force[i],
                                     s.coupling_motion_velocity[i],
                                     s.coupling_motion_position[i])) {
            return false;
        }
        if (full) {
            if (!r.read(s.coupling_contact_normal[i], s.coupling_contact_gap[i],
                        s.coupling_contact_penetration[i], s.coupling_contact_pressure[i],
                        s.coupling_motion_flag[i], s.coupling_motion_mode[i],
                        s.coupling_contact_flag[i])) {
                return false;
            }
        } else if (!r.read(s.coupling_motion_flag[i], s.coupling_motion_mode[i])) {
            return false;
        }
    }
    return true;
}

// ---------------------------------------------------------------------------
// The whole file

int sph_restart_write(Model& m, std::string_view path_text) {
    const std::string_view path = sph_text_trim_trailing(path_text);
    if (const int st = sph_gas_allocate_sources(m)) return st;
    if (const int st = sph_explosive_allocate_state(m)) return st;
    if (const int st = sph_coupling_allocate_imports(m)) return st;
    SphOutputFile file;
    if (!file.open_replacing(path)) {
        return sph_error_set(m.error, sph_error_io, "failed to open restart file for writing");
    }
    RestartWriter w(file);
    write_run_and_water(m, w);
    write_gas(m, w);
    write_particles(m, w);
    sph_restart_write_explosive_state(m, w);
    sph_solid_restart_write(m, w);
    sph_restart_write_coupling_state(m, w);
    if (!file.close()) return sph_error_set(m.error, sph_error_io, "failed to write restart file");
    return sph_success;
}

int sph_restart_read(Model& m, std::string_view path_text) {
    RestartLineSource in(sph_restart_line_len);
    if (!in.open(std::string(sph_text_trim_trailing(path_text)))) {
        return sph_error_set(m.error, sph_error_io, "failed to open restart file for reading");
    }
    RestartRecord r;
    std::string magic, tag;
    int version[3] = {};
    if (!sph_restart_read_record(in, r, magic, version[0], version[1], version[2], tag) ||
        magic != sph_restart_magic) {
        return fail(m, "invalid restart header");
    }
    ControlState& c = m.control;
    int npart = 0;
    if (!sph_restart_read_record(in, r, c.current_time, c.current_step, npart) || npart < 0) {
        return fail(m, "invalid restart state");
    }
    if (!sph_restart_read_record(in, r, c.output_interval, c.output_enabled, c.safety_factor)) {
        return fail(m, "invalid restart output interval");
    }
    // A file without the integrator was written by the documented scheme.
    int integrator = sph_integrator_default;
    bool forces_carried = false;
    if (r.get(integrator)) {
        if (integrator != sph_integrator_default && integrator != sph_integrator_verlet) {
            return fail(m, "invalid restart output interval");
        }
        if (!r.get(forces_carried)) forces_carried = false;
    }
    c.integrator = integrator;
    m.solver.verlet_forces_ready = forces_carried && integrator == sph_integrator_verlet;
    if (!read_text(in, c.output_directory, sph_output_directory_len)) {
        return fail(m, "invalid restart output directory");
    }
    if (const int st = read_water(m, in, r)) return st;
    // The fresh particle arrays come with cleared diagnostics; the water
    // records just read are the file's.
    const WaterDiagnostics water = m.db.water;
    if (const int st = sph_db_allocate(m, npart)) return st;
    m.db.water = water;

    const RestartLayout layout = sph_restart_classify_tag(tag);
    if (layout == RestartLayout::unsupported) return fail(m, "unsupported restart state version");
    m.gas.gas_density_diffusion = 0.0;  // layouts without gas records have none
    if (at_least(layout, RestartLayout::state_0_3)) {
        if (const int st = read_gas(m, in, r)) return st;
    }
    if (at_least(layout, RestartLayout::state_0_3_1)) {
        if (const int st = read_gas_material_table(m, in, r)) return st;
    }
    if (const int st = read_particles(m, in, r)) return st;

    if (at_least(layout, RestartLayout::state_0_3_1)) {
        if (const int st = read_gas_sources(m, in, r)) return st;
    } else if (layout == RestartLayout::state_0_3) {
        if (const int st = sph_gas_rebuild_legacy_restart_state(m)) return st;
    } else if (const int st = sph_gas_clear_sources(m)) {
        return st;
    }

    if (at_least(layout, RestartLayout::state_0_4)) {
        if (sph_restart_read_explosive_state(m, in, layout) != sph_success) return sph_error_input;
    } else {
        sph_restart_clear_explosive_state(m);
    }
    if (at_least(layout, RestartLayout::state_0_5)) {
        if (!sph_solid_restart_read(m, in, layout)) return fail(m, "invalid restart Solid state");
    } else {
        sph_solid_restart_clear(m);
    }
    if (at_least(layout, RestartLayout::state_0_8)) {
        if (!sph_restart_read_coupling_state(m, in, layout)) {
            return fail(m, "invalid restart Coupling state");
        }
    } else {
        sph_restart_clear_coupling_state(m);
    }
    return sph_success;
}

int sph_restart_finish_read(Model& m) {
    DbState& db = m.db;
    for (int i = 0; i < db.npart; ++i) {
        if (sph_water_is_active_particle(db, i)) {
            db.acc_body[i] = m.water.water_body_force;
        } else if (sph_gas_is_active_particle(db, i)) {
            db.acc_body[i] = m.gas.gas_body_force;
        }
    }
    if (const int st = sph_neighbor_rebuild(m)) return st;
    // The solids' reference neighbors come from the reference positions and
    // smoothing lengths, both in the file; the build's search finds them again.
    if (db.npart > 0 && m.solid.solid_stress.size() == static_cast<std::size_t>(db.npart)) {
        if (const int st = sph_solid_find_reference_neighbors(m)) return st;
    }
    if (const int st = sph_water_update_diagnostics(m)) return st;
    if (const int st = sph_gas_update_diagnostics(m)) return st;
    return sph_solid_update_diagnostics(m);
}
