/*
 * Test host in plain C: loads libvelunor_c at run time, resolves every export
 * of velunor.h and drives a short life cycle through the C ABI.
 *
 * usage: c_host_test <path to libvelunor_c.so>
 */
#include <dlfcn.h>
#include <stdio.h>
#include <string.h>

#include "velunor.h"

static const char* const export_names[] = {
    "velunor_initialize",
    "velunor_finalize",
    "velunor_get_version",
    "velunor_get_last_error",
    "velunor_read_inp",
    "velunor_build_model",
    "velunor_estimate_stable_dt",
    "velunor_advance_explicit",
    "velunor_run_explicit",
    "velunor_get_current_time",
    "velunor_get_particle_count",
    "velunor_get_input_warning_count",
    "velunor_set_output_directory",
    "velunor_set_output_interval",
    "velunor_write_output",
    "velunor_get_particle_state",
    "velunor_write_csv",
    "velunor_write_vtu",
    "velunor_write_restart",
    "velunor_read_restart",
    "velunor_get_water_summary",
    "velunor_get_water_dt_limits",
    "velunor_get_gas_summary",
    "velunor_get_gas_bubble_metrics",
    "velunor_get_gas_dt_limits",
    "velunor_get_gas_extended_summary",
    "velunor_get_gas_source_summary",
    "velunor_set_ignition_point",
    "velunor_get_explosive_summary",
    "velunor_get_explosive_release_balance",
    "velunor_coupling_get_region_count",
    "velunor_coupling_get_region_info",
    "velunor_coupling_get_region_modes",
    "velunor_coupling_export_particles",
    "velunor_coupling_export_facets",
    "velunor_coupling_apply_particle_forces",
    "velunor_coupling_apply_facet_loads",
    "velunor_coupling_apply_facet_pressures",
    "velunor_coupling_apply_facet_tractions",
    "velunor_coupling_apply_facet_resultants",
    "velunor_coupling_apply_contact_state",
    "velunor_coupling_apply_motion_boundary",
    "velunor_coupling_clear_imports",
    "velunor_coupling_get_load_balance",
    "velunor_coupling_get_contact_diagnostics",
    "velunor_coupling_get_diagnostics",
    "velunor_get_solid_summary",
    "velunor_get_solid_particle_state",
    "velunor_get_solid_diagnostics",
    "velunor_get_solid_reference_quality",
};
enum { export_count = sizeof export_names / sizeof export_names[0] };

static int failures = 0;

#define CHECK(condition)                                                                  \
    do {                                                                                  \
        if (!(condition)) {                                                               \
            fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #condition); \
            ++failures;                                                                   \
        }                                                                                 \
    } while (0)

/* Typed entry points, checked against the public declarations. */
struct api {
    __typeof__(&velunor_initialize) initialize;
    __typeof__(&velunor_finalize) finalize;
    __typeof__(&velunor_get_version) get_version;
    __typeof__(&velunor_get_last_error) get_last_error;
    __typeof__(&velunor_read_inp) read_inp;
    __typeof__(&velunor_get_particle_count) get_particle_count;
    __typeof__(&velunor_get_current_time) get_current_time;
    __typeof__(&velunor_set_output_interval) set_output_interval;
    __typeof__(&velunor_run_explicit) run_explicit;
    __typeof__(&velunor_coupling_get_region_count) coupling_get_region_count;
};

static void* resolve(void* library, const char* name) {
    void* symbol = dlsym(library, name);
    if (symbol == NULL) {
        fprintf(stderr, "missing export %s\n", name);
        ++failures;
    }
    return symbol;
}

static void expect_last_error(const struct api* v, int expected_code, const char* expected) {
    int code = -1;
    char message[257];
    CHECK(v->get_last_error(&code, message, (int)sizeof message) == 0);
    CHECK(code == expected_code);
    if (strcmp(message, expected) != 0) {
        fprintf(stderr, "last error \"%s\", expected \"%s\"\n", message, expected);
        ++failures;
    }
}

int main(int argc, char** argv) {
    if (argc != 2) {
        fprintf(stderr, "usage: %s <libvelunor_c.so>\n", argv[0]);
        return 2;
    }
    void* library = dlopen(argv[1], RTLD_NOW | RTLD_LOCAL);
    if (library == NULL) {
        fprintf(stderr, "dlopen failed: %s\n", dlerror());
        return 1;
    }
    CHECK(export_count == 50);
    for (int k = 0; k < export_count; ++k) resolve(library, export_names[k]);
    CHECK(dlsym(library, "velunor_values_are_finite") == NULL);
    if (failures != 0) return 1;

    struct api v;
    *(void**)&v.initialize = resolve(library, "velunor_initialize");
    *(void**)&v.finalize = resolve(library, "velunor_finalize");
    *(void**)&v.get_version = resolve(library, "velunor_get_version");
    *(void**)&v.get_last_error = resolve(library, "velunor_get_last_error");
    *(void**)&v.read_inp = resolve(library, "velunor_read_inp");
    *(void**)&v.get_particle_count = resolve(library, "velunor_get_particle_count");
    *(void**)&v.get_current_time = resolve(library, "velunor_get_current_time");
    *(void**)&v.set_output_interval = resolve(library, "velunor_set_output_interval");
    *(void**)&v.run_explicit = resolve(library, "velunor_run_explicit");
    *(void**)&v.coupling_get_region_count = resolve(library, "velunor_coupling_get_region_count");

    int major = -1, minor = -1, patch = -1;
    CHECK(v.get_version(&major, &minor, &patch) == 0);
    CHECK(major == 0 && minor == 8 && patch == 3);

    /* Before initialize: guards answer 2 with their message. */
    CHECK(v.read_inp("deck.inp") == VELUNOR_STATUS_STATE);
    expect_last_error(&v, 2, "Velunor API is not initialized");
    /* A rejection (-1) keeps the previous message. */
    CHECK(v.read_inp("") == VELUNOR_REJECTED);
    expect_last_error(&v, 2, "Velunor API is not initialized");
    char small[3];
    int code = 0;
    CHECK(v.get_last_error(&code, small, 3) == 0);
    CHECK(strcmp(small, "Ve") == 0);

    CHECK(v.initialize() == 0);
    expect_last_error(&v, 0, "OK");
    int count = -1;
    CHECK(v.get_particle_count(&count) == 0 && count == 0);
    CHECK(v.coupling_get_region_count(&count) == 0 && count == 0);
    double time = -1.0;
    int step = -1;
    CHECK(v.get_current_time(&time, &step) == 0 && time == 0.0 && step == 0);
    CHECK(v.set_output_interval(0) == VELUNOR_REJECTED);
    CHECK(v.set_output_interval(2) == 0);
    CHECK(v.run_explicit() == VELUNOR_STATUS_STATE);
    expect_last_error(&v, 2, "Velunor model is not built");

    CHECK(v.finalize() == 0);
    CHECK(v.finalize() == 0);
    expect_last_error(&v, 0, "OK");
    CHECK(v.get_particle_count(&count) == VELUNOR_STATUS_STATE && count == 0);

    CHECK(dlclose(library) == 0);
    if (failures != 0) {
        fprintf(stderr, "%d check(s) failed\n", failures);
        return 1;
    }
    printf("c_host_test: 50 exports resolved, life cycle ok\n");
    return 0;
}
