/*
 * Velunor: explicit transient SPH simulation library, C interface.
 *
 * Every export returns 0 on success, -1 when the C layer rejects the call
 * (null pointer, bad count or capacity; nothing changes and no message is
 * recorded), or one of the VELUNOR_STATUS_* codes, whose message
 * velunor_get_last_error returns. The library keeps one model, serves one
 * thread and has no handles: the host must serialise its calls.
 */
#ifndef VELUNOR_H
#define VELUNOR_H

#if defined(_WIN32)
#if defined(VELUNOR_BUILDING_LIBRARY)
#define VELUNOR_API __declspec(dllexport)
#else
#define VELUNOR_API __declspec(dllimport)
#endif
#else
#define VELUNOR_API __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Return values. */
#define VELUNOR_REJECTED (-1)            /* C-layer rejection, no message */
#define VELUNOR_STATUS_SUCCESS 0         /* sph_success */
#define VELUNOR_STATUS_ARGUMENT 1        /* sph_error_argument */
#define VELUNOR_STATUS_STATE 2           /* sph_error_state */
#define VELUNOR_STATUS_IO 3              /* sph_error_io */
#define VELUNOR_STATUS_INPUT 4           /* sph_error_input */
#define VELUNOR_STATUS_DATABASE 5        /* sph_error_database */
#define VELUNOR_STATUS_NOT_IMPLEMENTED 6 /* sph_error_not_implemented */

/* Particle phase codes. */
#define VELUNOR_PHASE_WATER 1
#define VELUNOR_PHASE_GAS 2
#define VELUNOR_PHASE_EXPLOSIVE 3
#define VELUNOR_PHASE_SOLID 4
#define VELUNOR_PHASE_SHELL 5
#define VELUNOR_PHASE_BOUNDARY 6
#define VELUNOR_PHASE_COUPLING 7
#define VELUNOR_PHASE_SOLID_FAILED 8
#define VELUNOR_PHASE_SHELL_FAILED 9

/* Particle status codes. */
#define VELUNOR_PARTICLE_ACTIVE 0
#define VELUNOR_PARTICLE_INACTIVE 1
#define VELUNOR_PARTICLE_FAILED 2
#define VELUNOR_PARTICLE_RESERVED 3

/* Life cycle and version. velunor_initialize opens the log named by the
 * environment variable VELUNOR_LOG (unset or empty: none); a log that cannot
 * be opened fails it with status 3 and leaves the library uninitialized. */
VELUNOR_API int velunor_initialize(void);
VELUNOR_API int velunor_finalize(void);
VELUNOR_API int velunor_get_version(int* major, int* minor, int* patch);
VELUNOR_API int velunor_get_last_error(int* code, char* message, int message_capacity);

/* Deck and model. */
VELUNOR_API int velunor_read_inp(const char* filename);
VELUNOR_API int velunor_build_model(void);

/* Stepping. */
VELUNOR_API int velunor_estimate_stable_dt(double* dtcrit);
VELUNOR_API int velunor_advance_explicit(double dt);
VELUNOR_API int velunor_run_explicit(void);
VELUNOR_API int velunor_get_current_time(double* time, int* step);

/* Particle and model queries. */
VELUNOR_API int velunor_get_particle_count(int* count);
VELUNOR_API int velunor_get_input_warning_count(int* count);

/* Output control and files. */
VELUNOR_API int velunor_set_output_directory(const char* path);
VELUNOR_API int velunor_set_output_interval(int interval);
VELUNOR_API int velunor_write_output(int step, double time);

/* Per-particle state: integer arrays hold one entry per particle, vector
 * arrays (x, v, a) three adjacent components per particle. */
VELUNOR_API int velunor_get_particle_state(int max_particles, int* particle_id_ext, int* phase,
                                           int* status, int* material_id, int* section_id,
                                           double* x, double* v, double* a, double* rho,
                                           double* pressure, double* internal_energy,
                                           double* temperature, double* h, int* count);

VELUNOR_API int velunor_write_csv(const char* filename);
VELUNOR_API int velunor_write_vtu(const char* filename);
VELUNOR_API int velunor_write_restart(const char* filename);
VELUNOR_API int velunor_read_restart(const char* filename);

/* Water queries. */
VELUNOR_API int velunor_get_water_summary(double* mass, double* momentum, double* max_pressure,
                                          double* min_density, double* max_density);
VELUNOR_API int velunor_get_water_dt_limits(double* dt_cfl, double* dt_accel, double* dt_viscous);

/* Gas queries. */
VELUNOR_API int velunor_get_gas_summary(double* volume, double* center, double* mean_pressure,
                                        double* max_pressure);
VELUNOR_API int velunor_get_gas_bubble_metrics(double* equivalent_radius, double* radius_rate,
                                               double* center);
VELUNOR_API int velunor_get_gas_dt_limits(double* dt_cfl, double* dt_accel, double* dtcrit);
VELUNOR_API int velunor_get_gas_extended_summary(double* mass, double* momentum,
                                                 double* density_range, double* dt_limits);
VELUNOR_API int velunor_get_gas_source_summary(double* mass_source, double* momentum_source,
                                               double* energy_source);

/* Explosive. */
VELUNOR_API int velunor_set_ignition_point(double x, double y, double z, double time);
VELUNOR_API int velunor_get_explosive_summary(int* particle_count, int* reacted_count,
                                              double* lambda_range, double* released_totals,
                                              double* detonation_time_range);
VELUNOR_API int velunor_get_explosive_release_balance(double* mass_values, double* energy_values,
                                                      double* momentum_values);

/* Coupling exchange with the structural solver (no life-cycle checks). */
VELUNOR_API int velunor_coupling_get_region_count(int* count);
VELUNOR_API int velunor_coupling_get_region_info(int region_index, char* name, int name_capacity,
                                                 int* region_type, int* export_mode,
                                                 int* import_mode, int* enabled,
                                                 int* particle_count, int* facet_count);
VELUNOR_API int velunor_coupling_get_region_modes(int region_index, int* load_mode,
                                                  int* distribution_mode, int* contact_state_mode);
VELUNOR_API int velunor_coupling_export_particles(int region_index, int capacity, int* count,
                                                  int* ext_ids, int* internal_indices, int* phases,
                                                  int* statuses, int* materials, int* sections,
                                                  double* scalar_values, double* vector_values);
VELUNOR_API int velunor_coupling_export_facets(int region_index, int capacity, int* count,
                                               int* facet_ids, int* particle_ids, int* materials,
                                               int* sections, double* vector_values,
                                               double* area_values);
VELUNOR_API int velunor_coupling_apply_particle_forces(int region_index, int force_count,
                                                       const int* export_indices,
                                                       const double* forces);
VELUNOR_API int velunor_coupling_apply_facet_loads(int region_index, int load_count,
                                                   const int* facet_ids, const double* loads);
VELUNOR_API int velunor_coupling_apply_facet_pressures(int region_index, int load_count,
                                                       const int* facet_ids,
                                                       const double* pressures,
                                                       int distribution_mode, int coupling_step);
VELUNOR_API int velunor_coupling_apply_facet_tractions(int region_index, int load_count,
                                                       const int* facet_ids,
                                                       const double* tractions,
                                                       int distribution_mode, int coupling_step);
VELUNOR_API int velunor_coupling_apply_facet_resultants(int region_index, int load_count,
                                                        const int* facet_ids,
                                                        const double* resultants,
                                                        int distribution_mode, int coupling_step);
VELUNOR_API int velunor_coupling_apply_contact_state(int region_index, int contact_count,
                                                     const int* facet_ids, const double* normals,
                                                     const double* gaps, const double* penetrations,
                                                     const double* contact_pressures,
                                                     int coupling_step);
VELUNOR_API int velunor_coupling_apply_motion_boundary(int region_index, int export_index,
                                                       int target_kind, int mode,
                                                       const double* target);
VELUNOR_API int velunor_coupling_clear_imports(void);
VELUNOR_API int velunor_coupling_get_load_balance(double* input_force, double* distributed_force,
                                                  double* force_error, double* input_moment,
                                                  double* distributed_moment, double* moment_error);
VELUNOR_API int velunor_coupling_get_contact_diagnostics(int* counts, int count_capacity,
                                                         double* values, int value_capacity);
VELUNOR_API int velunor_coupling_get_diagnostics(double* values, int value_capacity, int* counts,
                                                 int count_capacity);

/* Solid queries. */
VELUNOR_API int velunor_get_solid_summary(int* active_count, int* failed_count, double* values,
                                          int value_capacity);
VELUNOR_API int velunor_get_solid_particle_state(int max_particles, double* values,
                                                 int value_capacity, int* failure_status,
                                                 int* reference_neighbor_count,
                                                 int* reference_degenerate, int* correction_status,
                                                 int* count);
VELUNOR_API int velunor_get_solid_diagnostics(double* values, int value_capacity);
VELUNOR_API int velunor_get_solid_reference_quality(int* reference_neighbor_min,
                                                    int* correction_status, double* values,
                                                    int value_capacity);

#ifdef __cplusplus
}
#endif

#endif /* VELUNOR_H */
