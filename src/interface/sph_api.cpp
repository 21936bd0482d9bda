#include "interface/sph_api.hpp"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <memory>
#include <string>

#include "core/sph_model.hpp"
#include "core/sph_text.hpp"
#include "output/sph_output_csv.hpp"
#include "restart/sph_restart.hpp"
#include "solver/sph_energy.hpp"
#include "solver/sph_solver_explicit.hpp"

Model& sph_api_model() {
    static Model model;
    return model;
}

int sph_api_require_initialized(Model& m) {
    if (sph_api_state_get_initialized(m.api)) return sph_success;
    return sph_error_set(m.error, sph_error_state, "Velunor API is not initialized");
}

int sph_api_require_model_built(Model& m) {
    if (sph_api_state_get_model_built(m.api)) return sph_success;
    return sph_error_set(m.error, sph_error_state, "Velunor model is not built");
}

int sph_api_not_implemented(Model& m, std::string_view name) {
    std::string message(name);
    message += " is not implemented";
    return sph_error_set(m.error, sph_error_not_implemented, message);
}

// Both guards in their order; the first failure ends the operation.
static int require_built_model(Model& m) {
    if (const int ierr = sph_api_require_initialized(m)) return ierr;
    return sph_api_require_model_built(m);
}

// ---------------------------------------------------------------------------
// Life cycle and version

// The modules as finalization leaves them: no storage, no tables, no PVD
// series. The log and the last error are left to the caller.
static void discard_modules(Model& m) {
    sph_db_free(m.db);
    sph_coupling_reset(m.coupling);
    sph_neighbor_free(m.neighbor);
    sph_particle_reset(m.particle);
    sph_material_reset(m.material);
    sph_water_reset(m.water);
    sph_gas_reset(m);
    sph_explosive_reset(m.explosive);
    sph_solid_reset(m.solid);
    sph_shell_reset(m.shell);
    sph_blast_reset(m.blast);
    sph_blast_load_reset(m.blast_load);
    sph_output_reset_pvd(m.pvd);
    m.output = OutputOptions{};
    sph_solver_reset(m.solver);
}

// The VTU form a host asked for through the environment, taking the place of
// every deck's FORMAT until the next initialization; unset or empty asks for
// none. Read once per initialization, as the log is.
static int read_requested_output_format(Model& m) {
    m.output = OutputOptions{};
    const char* text = std::getenv(sph_output_format_variable);
    if (text == nullptr || text[0] == '\0') return sph_success;
    SphVtuFormat format = SphVtuFormat::ascii;
    if (!sph_output_parse_format(sph_text_trim(text), format)) {
        return sph_error_set(m.error, sph_error_argument,
                             "VELUNOR_OUTPUT_FORMAT must be ASCII or BINARY");
    }
    m.output.format_override = format;
    sph_output_reset_options(m.output);
    return sph_success;
}

// Opens the log a host asked for through the environment; unset or empty
// asks for none. Read here, once per initialization, so that no module
// depends on the environment.
static int open_requested_log(Model& m) {
    const char* path = std::getenv(sph_api_log_variable);
    if (path == nullptr || path[0] == '\0') return sph_success;
    return sph_log_open(m.log, m.error, path);
}

int sph_initialize(Model& m) {
    // The log of an earlier initialization ends with everything else of it;
    // how that close went is no concern of this initialization.
    (void)sph_log_close(m.log, m.error);
    sph_error_clear(m.error);
    // A host that asked for a log and gets none must learn it: the library
    // stays uninitialized, as after finalization, and a retry starts afresh.
    int ierr = open_requested_log(m);
    if (ierr == sph_success) ierr = read_requested_output_format(m);
    if (ierr != sph_success) {
        (void)sph_log_close(m.log, m.error);
        discard_modules(m);
        sph_api_state_set_initialized(m.api, false);
        return ierr;
    }
    sph_control_reset(m.control);
    sph_db_free(m.db);
    sph_coupling_reset(m.coupling);
    // The reader's state (warning count, keywords seen) belongs to the deck
    // just discarded.
    sph_input_reset(m);
    sph_neighbor_free(m.neighbor);
    sph_particle_initialize(m.particle);
    sph_material_initialize(m.material);
    sph_water_initialize(m.water);
    sph_gas_initialize(m);
    sph_explosive_initialize(m.explosive);
    sph_solid_initialize(m.solid);
    sph_shell_initialize(m.shell);
    sph_blast_initialize(m.blast);
    sph_blast_load_initialize(m.blast_load);
    sph_output_reset_pvd(m.pvd);
    sph_solver_reset(m.solver);
    sph_api_state_set_initialized(m.api, true);
    sph_api_state_set_model_built(m.api, false);
    return sph_success;
}

// Run control keeps its values until the next initialization.
int sph_finalize(Model& m) {
    discard_modules(m);
    (void)sph_log_close(m.log, m.error);
    sph_api_state_set_initialized(m.api, false);
    sph_error_clear(m.error);
    return sph_success;
}

int sph_get_version(int& major, int& minor, int& patch) {
    major = sph_version_major;
    minor = sph_version_minor;
    patch = sph_version_patch;
    return sph_success;
}

int sph_get_last_error(const Model& m, int& code, std::string_view& message) {
    code = m.error.last_error_code;
    message = m.error.last_error_message;
    return sph_success;
}

// ---------------------------------------------------------------------------
// Deck and model

// Every module's deck-fed state starts afresh with each deck, as after
// initialization: a table left from an earlier deck would refer to material
// indices that mean nothing in the new one. Run control, the output directory
// and the output interval are not deck-fed state and survive.
static void reset_deck_modules(Model& m) {
    sph_db_free(m.db);
    sph_coupling_reset(m.coupling);  // imports and totals of the model just dropped
    sph_neighbor_free(m.neighbor);
    sph_water_initialize(m.water);
    sph_gas_initialize(m);                  // its table, sources and bubble history
    sph_explosive_initialize(m.explosive);  // its table, ignitions and burn state
    sph_solid_initialize(m.solid);          // its table, body force and particle state
    sph_shell_initialize(m.shell);          // its tables and particle state
    sph_solver_reset(m.solver);             // forces of the model just dropped
    sph_output_reset_options(m.output);     // FORMAT and CSV are the deck's
}

int sph_read_inp(Model& m, std::string_view filename) {
    if (const int ierr = sph_api_require_initialized(m)) return ierr;
    // Cleared before anything is read, so a failed read leaves no usable model.
    sph_api_state_set_model_built(m.api, false);
    reset_deck_modules(m);
    // Whatever a failed read stored is dropped (also when the read ends in an
    // exception): a build must not turn the first half of a broken deck into
    // a model.
    int ierr = sph_success;
    try {
        ierr = sph_input_read(m, filename);
    } catch (...) {
        reset_deck_modules(m);
        throw;
    }
    if (ierr != sph_success) reset_deck_modules(m);
    return ierr;
}

int sph_build_model(Model& m) {
    if (const int ierr = sph_api_require_initialized(m)) return ierr;
    // A rebuild changes the model in place: until it succeeds the model does
    // not count as built, so a failed rebuild leaves nothing to step.
    sph_api_state_set_model_built(m.api, false);
    if (const int ierr = sph_input_build_model(m)) return ierr;
    // Imports sent before the build belong to no step of the built model.
    if (const int ierr = sph_coupling_clear_imports(m)) return ierr;
    sph_api_state_set_model_built(m.api, true);
    sph_input_log_names(m);
    sph_energy_log(m);
    return sph_success;
}

int sph_get_input_warning_count(Model& m, int& count) {
    count = 0;
    if (const int ierr = sph_api_require_initialized(m)) return ierr;
    count = sph_input_get_warning_count(m);
    return sph_success;
}

// ---------------------------------------------------------------------------
// Stepping

int sph_estimate_stable_dt(Model& m, double& dtcrit) {
    dtcrit = 0.0;
    if (const int ierr = require_built_model(m)) return ierr;
    return sph_solver_estimate_stable_dt(m, dtcrit);
}

int sph_advance_explicit(Model& m, double dt) {
    if (const int ierr = require_built_model(m)) return ierr;
    return sph_solver_advance_explicit(m, dt);
}

int sph_run_explicit(Model& m) {
    if (const int ierr = require_built_model(m)) return ierr;
    const int ierr = sph_solver_run_explicit(m);
    sph_energy_log(m);
    return ierr;
}

int sph_get_current_time(Model& m, double& time, int& step) {
    time = 0.0;
    step = 0;
    if (const int ierr = sph_api_require_initialized(m)) return ierr;
    sph_control_get_time(m.control, time, step);
    return sph_success;
}

// ---------------------------------------------------------------------------
// Particles and neighbors

int sph_get_particle_count(Model& m, int& count) {
    count = 0;
    if (const int ierr = sph_api_require_initialized(m)) return ierr;
    count = sph_db_get_particle_count(m.db);
    return sph_success;
}

int sph_get_particle_state_capacity(Model& m, int& count, int& ndim) {
    count = 0;
    ndim = 0;
    if (const int ierr = sph_api_require_initialized(m)) return ierr;
    sph_db_get_particle_state_capacity(m.db, count, ndim);
    return sph_success;
}

int sph_get_particle_state(Model& m, int max_particles, int* particle_id_ext, int* phase,
                           int* status, int* material_id, int* section_id, double* x, double* v,
                           double* a, double* rho, double* pressure, double* internal_energy,
                           double* temperature, double* h, int& count) {
    // Only the count is cleared: a failed call writes no array.
    count = 0;
    if (const int ierr = sph_api_require_initialized(m)) return ierr;
    return sph_db_get_particle_state(m, max_particles, particle_id_ext, phase, status, material_id,
                                     section_id, x, v, a, rho, pressure, internal_energy,
                                     temperature, h, count);
}

int sph_rebuild_neighbors(Model& m) {
    if (const int ierr = require_built_model(m)) return ierr;
    return sph_neighbor_rebuild(m);
}

int sph_get_neighbor_stats(Model& m, int& max_neighbors, double& average_neighbors) {
    max_neighbors = 0;
    average_neighbors = 0.0;
    if (const int ierr = require_built_model(m)) return ierr;
    sph_neighbor_get_stats(m, max_neighbors, average_neighbors);
    return sph_success;
}

// ---------------------------------------------------------------------------
// Output control and files

int sph_set_output_directory(Model& m, std::string_view directory) {
    if (const int ierr = sph_api_require_initialized(m)) return ierr;
    return sph_output_set_directory(m, directory);
}

int sph_set_output_interval(Model& m, int interval) {
    if (const int ierr = sph_api_require_initialized(m)) return ierr;
    return sph_output_set_interval(m, interval);
}

int sph_write_output(Model& m, int step, double time) {
    if (const int ierr = sph_api_require_initialized(m)) return ierr;
    // A NaN or infinite time would go into the PVD collection as its value.
    if (!std::isfinite(time)) {
        return sph_error_set(m.error, sph_error_argument, "output time must be finite");
    }
    return sph_output_write_step(m, step, time);
}

int sph_write_csv(Model& m, std::string_view filename) {
    if (const int ierr = sph_api_require_initialized(m)) return ierr;
    return sph_output_write_csv(m, filename);
}

int sph_write_vtu(Model& m, std::string_view filename) {
    if (const int ierr = sph_api_require_initialized(m)) return ierr;
    return sph_output_write_vtu(m, filename);
}

int sph_write_restart(Model& m, std::string_view filename) {
    if (const int ierr = sph_api_require_initialized(m)) return ierr;
    const int ierr = sph_restart_write(m, filename);
    if (ierr == sph_success) sph_energy_log(m);
    return ierr;
}

// What a restart read starts from: the running library's settings that the
// file does not hold (run control beyond time and output, the water and gas
// flags and names, the gas table of layouts without one, the neighbor
// budget). Per-particle arrays are not copied: the file replaces them.
static void stage_restart_settings(Model& live, Model& staged) {
    staged.control = live.control;
    staged.particle = live.particle;
    staged.material = live.material;
    staged.neighbor.allow_vector_scan = live.neighbor.allow_vector_scan;
    staged.neighbor.link_memory_limit = live.neighbor.link_memory_limit;
    WaterWorkspace water_workspace = std::move(live.water.workspace);
    staged.water = live.water;
    live.water.workspace = std::move(water_workspace);
    GasSourceState gas_sources = std::move(live.gas.sources);
    GasWorkspace gas_workspace = std::move(live.gas.workspace);
    staged.gas = live.gas;
    live.gas.sources = std::move(gas_sources);
    live.gas.workspace = std::move(gas_workspace);
    staged.gas.sources = GasSourceState{};
    staged.gas.workspace = GasWorkspace{};
    staged.explosive.explosive_module_initialized = live.explosive.explosive_module_initialized;
    staged.solid.solid_module_initialized = live.solid.solid_module_initialized;
    staged.solid.solid_body_force = live.solid.solid_body_force;
}

// A read is all or nothing: it fills a staging model and replaces the
// running one only when every record was read and the neighbors and
// diagnostics were rebuilt, so a failed read leaves the library as it was.
// Next to a built deck of the same particle count the deck's records and the
// shell state stay (blast target sets, facet exports and sections go on
// working); a file of another particle count does not describe that deck,
// so they are dropped.
int sph_read_restart(Model& m, std::string_view filename) {
    if (const int ierr = sph_api_require_initialized(m)) return ierr;
    auto staged = std::make_unique<Model>();
    stage_restart_settings(m, *staged);
    int ierr = sph_restart_read(*staged, filename);
    const bool keep_deck = ierr == sph_success && sph_api_state_get_model_built(m.api) &&
                           m.db.npart == staged->db.npart;
    if (keep_deck) sph_db_move_deck_records(m.db, staged->db);
    if (ierr == sph_success) {
        try {
            ierr = sph_restart_finish_read(*staged);
        } catch (...) {
            if (keep_deck) sph_db_move_deck_records(staged->db, m.db);
            throw;
        }
    }
    if (ierr != sph_success) {
        if (keep_deck) sph_db_move_deck_records(staged->db, m.db);
        m.error = staged->error;
        return ierr;
    }
    m.control = std::move(staged->control);
    m.water = std::move(staged->water);
    m.neighbor = std::move(staged->neighbor);
    m.db = std::move(staged->db);
    m.gas = std::move(staged->gas);
    m.explosive = std::move(staged->explosive);
    m.solid = std::move(staged->solid);
    m.coupling = std::move(staged->coupling);
    m.solver = std::move(staged->solver);
    if (!keep_deck) sph_shell_release_state(m.shell);
    sph_blast_invalidate_masks(m.blast);
    sph_output_reset_pvd(m.pvd);  // the collection lists the steps after the read
    sph_api_state_set_model_built(m.api, true);
    sph_input_log_names(m);
    sph_energy_log(m);
    return sph_success;
}

// ---------------------------------------------------------------------------
// Water

int sph_get_water_summary(Model& m, double& mass, Vec3& momentum, double& max_pressure,
                          double& min_density, double& max_density) {
    mass = 0.0;
    momentum = Vec3{};
    max_pressure = 0.0;
    min_density = 0.0;
    max_density = 0.0;
    if (const int ierr = require_built_model(m)) return ierr;
    return sph_water_get_summary(m, mass, momentum, max_pressure, min_density, max_density);
}

int sph_get_water_dt_limits(Model& m, double& dt_cfl, double& dt_accel, double& dt_viscous) {
    dt_cfl = 0.0;
    dt_accel = 0.0;
    dt_viscous = 0.0;
    if (const int ierr = require_built_model(m)) return ierr;
    return sph_water_estimate_dt_limits(m, dt_cfl, dt_accel, dt_viscous);
}

// ---------------------------------------------------------------------------
// Gas

int sph_get_gas_summary(Model& m, double& volume, Vec3& center, double& mean_pressure,
                        double& max_pressure) {
    volume = 0.0;
    center = Vec3{};
    mean_pressure = 0.0;
    max_pressure = 0.0;
    if (const int ierr = require_built_model(m)) return ierr;
    return sph_gas_get_summary(m, volume, center, mean_pressure, max_pressure);
}

int sph_get_gas_bubble_metrics(Model& m, double& equivalent_radius, double& radius_rate,
                               Vec3& center) {
    equivalent_radius = 0.0;
    radius_rate = 0.0;
    center = Vec3{};
    if (const int ierr = require_built_model(m)) return ierr;
    sph_gas_get_bubble_metrics(m, equivalent_radius, radius_rate, center);
    return sph_success;
}

int sph_get_gas_dt_limits(Model& m, double& dt_cfl, double& dt_accel, double& dtcrit) {
    dt_cfl = 0.0;
    dt_accel = 0.0;
    dtcrit = 0.0;
    if (const int ierr = require_built_model(m)) return ierr;
    return sph_gas_estimate_dt_limits(m, dt_cfl, dt_accel, dtcrit);
}

int sph_get_gas_extended_summary(Model& m, double& mass, Vec3& momentum,
                                 std::array<double, 2>& density_range,
                                 std::array<double, 3>& dt_limits) {
    mass = 0.0;
    momentum = Vec3{};
    density_range.fill(0.0);
    dt_limits.fill(0.0);
    if (const int ierr = require_built_model(m)) return ierr;
    return sph_gas_get_extended_summary(m, mass, momentum, density_range, dt_limits);
}

int sph_get_gas_source_summary(Model& m, double& mass_source, Vec3& momentum_source,
                               double& energy_source) {
    mass_source = 0.0;
    momentum_source = Vec3{};
    energy_source = 0.0;
    if (const int ierr = require_built_model(m)) return ierr;
    return sph_gas_get_source_summary(m, mass_source, momentum_source, energy_source);
}

// ---------------------------------------------------------------------------
// Explosive

int sph_set_ignition_point(Model& m, double x_value, double y_value, double z_value,
                           double time_value) {
    if (const int ierr = sph_api_require_initialized(m)) return ierr;
    return sph_explosive_set_default_ignition_point(m, Vec3{x_value, y_value, z_value}, time_value);
}

int sph_get_explosive_summary(Model& m, int& particle_count, int& reacted_count,
                              std::array<double, 3>& lambda_range,
                              std::array<double, 5>& released_totals,
                              std::array<double, 2>& detonation_time_range) {
    particle_count = 0;
    reacted_count = 0;
    lambda_range.fill(0.0);
    released_totals.fill(0.0);
    detonation_time_range.fill(0.0);
    if (const int ierr = require_built_model(m)) return ierr;
    sph_explosive_get_summary(m, particle_count, reacted_count, lambda_range, released_totals,
                              detonation_time_range);
    return sph_success;
}

int sph_get_explosive_release_balance(Model& m, std::array<double, 4>& mass_values,
                                      std::array<double, 2>& energy_values,
                                      std::array<double, 3>& momentum_values) {
    mass_values.fill(0.0);
    energy_values.fill(0.0);
    momentum_values.fill(0.0);
    if (const int ierr = require_built_model(m)) return ierr;
    sph_explosive_get_release_balance(m, mass_values, energy_values, momentum_values);
    return sph_success;
}

// ---------------------------------------------------------------------------
// Blast

int sph_get_blast_summary(Model& m, int region, std::array<int64_t, 12>& counts,
                          std::array<double, 26>& values) {
    counts.fill(0);
    values.fill(0.0);
    if (const int ierr = require_built_model(m)) return ierr;
    BlastRegionSummary summary;
    const int ierr = sph_blast_load_get_summary(m, region, summary);
    counts = summary.counts;
    values = summary.values;
    return ierr;
}

// ---------------------------------------------------------------------------
// Solid

int sph_get_solid_counts(Model& m, int& active_count, int& failed_count) {
    active_count = 0;
    failed_count = 0;
    if (const int ierr = require_built_model(m)) return ierr;
    sph_solid_get_counts(m, active_count, failed_count);
    return sph_success;
}

int sph_get_solid_summary(Model& m, int& active_count, int& failed_count,
                          std::array<double, 16>& values) {
    active_count = 0;
    failed_count = 0;
    values.fill(0.0);
    if (const int ierr = require_built_model(m)) return ierr;
    return sph_solid_get_summary(m, active_count, failed_count, values);
}

int sph_get_solid_state(Model& m, int max_particles, double* values, int* failure_status,
                        int* reference_neighbor_count, int* reference_degenerate,
                        int* correction_status, int& count) {
    count = 0;
    if (max_particles > 0) {
        const auto n = static_cast<std::size_t>(max_particles);
        if (values != nullptr) std::fill_n(values, n * sph_solid_state_values_per_particle, 0.0);
        for (int* array :
             {failure_status, reference_neighbor_count, reference_degenerate, correction_status}) {
            if (array != nullptr) std::fill_n(array, n, 0);
        }
    }
    if (const int ierr = require_built_model(m)) return ierr;
    return sph_solid_get_state(m, max_particles, sph_solid_state_values_per_particle, values,
                               failure_status, reference_neighbor_count, reference_degenerate,
                               correction_status, count);
}

int sph_get_solid_diagnostics(Model& m, double* values, int value_capacity) {
    if (values != nullptr && value_capacity > 0) {
        std::fill_n(values, static_cast<std::size_t>(value_capacity), 0.0);
    }
    if (const int ierr = require_built_model(m)) return ierr;
    return sph_solid_get_diagnostics(m, value_capacity, values);
}

int sph_get_solid_reference_quality(Model& m, int& reference_neighbor_min, int& correction_status,
                                    double& correction_det_min) {
    reference_neighbor_min = 0;
    correction_status = 0;
    correction_det_min = 0.0;
    if (const int ierr = require_built_model(m)) return ierr;
    return sph_solid_get_reference_quality(m, reference_neighbor_min, correction_det_min,
                                           correction_status);
}
