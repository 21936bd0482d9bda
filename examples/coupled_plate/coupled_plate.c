/* coupled_plate: example host that couples Velunor to a mock structural solver.
 *
 *   coupled_plate DECK [--steps N] [--stiffness K] [--trace]
 *
 * The deck has a coupling region PLATE of shell facets and a region WET of
 * the water particles resting on them, the i-th above the i-th facet (see
 * coupled_plate.inp). The structural solver here is a few lines of this
 * file: every inner facet is a mass on a spring of stiffness K [N/m] to its
 * rest position, loaded by the pressure of the water particle above it; the
 * facets on the plate's edge are clamped. Velunor carries the facet masses
 * (the shell particles) and integrates them; the host sends, between two
 * steps, the spring and pressure forces as facet resultants, a velocity
 * target of 0 for every clamped facet, and the velocity of each facet as the
 * velocity target of the water particle above it.
 *
 * At the end it prints the exchange totals, one "name value..." line each
 * (reals with 17 significant digits); --trace adds one line per step for the
 * facet nearest the plate's centre. Uses only velunor.h. Exit codes: 0
 * success, 1 a library call failed or the deck does not fit, 2 usage error. */
#include <math.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "velunor.h"

enum { exit_ok = 0, exit_failure = 1, exit_usage = 2 };

/* Codes of the coupling interface used here. */
enum {
    export_facets_only = 2,
    motion_velocity = 1,
    motion_direct = 1,
    diagnostic_values = 27,
    diagnostic_counts = 12,
    contact_counts = 7
};

static const char* const usage_lines =
    "usage: coupled_plate DECK [--steps N] [--stiffness K] [--trace]\n";

/* One region's export buffers, sized once from the region's counts. */
typedef struct {
    int index; /* 1-based region index */
    int count; /* particles or facets exported */
    int *ids, *ext_ids, *phases, *statuses, *materials, *sections;
    double *scalars, *vectors, *areas;
} Export;

static int report(const char* call, int status) {
    if (status == VELUNOR_REJECTED) {
        fprintf(stderr, "coupled_plate: %s was rejected (status -1)\n", call);
        return exit_failure;
    }
    char message[300];
    int code = 0;
    if (velunor_get_last_error(&code, message, (int)sizeof message) != 0) message[0] = '\0';
    fprintf(stderr, "coupled_plate: %s failed: %s (status %d)\n", call, message, status);
    return exit_failure;
}

static int fail(const char* message, const char* detail) {
    fprintf(stderr, "coupled_plate: %s%s\n", message, detail != NULL ? detail : "");
    return exit_failure;
}

/* Inside main: a failing call ends the run through `done`, which frees what
 * was allocated and finalizes the library. */
#define CALL(call)                       \
    do {                                 \
        const int status_ = (call);      \
        if (status_ != 0) {              \
            rc = report(#call, status_); \
            goto done;                   \
        }                                \
    } while (0)
#define FAIL(message, detail)           \
    do {                                \
        rc = fail((message), (detail)); \
        goto done;                      \
    } while (0)

/* The 1-based index of the region named `name`, its particle and facet
 * counts and its export mode; 0 when the deck has no such region. */
static int find_region(const char* name, int* particles, int* facets, int* export_mode) {
    int count = 0;
    if (velunor_coupling_get_region_count(&count) != 0) return 0;
    for (int r = 1; r <= count; ++r) {
        char text[65];
        int type = 0, import_mode = 0, enabled = 0;
        if (velunor_coupling_get_region_info(r, text, (int)sizeof text, &type, export_mode,
                                             &import_mode, &enabled, particles, facets) == 0 &&
            enabled == 1 && strcmp(text, name) == 0) {
            return r;
        }
    }
    return 0;
}

static int allocate(Export* e, int capacity) {
    const size_t n = capacity > 0 ? (size_t)capacity : 1;
    e->ids = calloc(n, sizeof(int));
    e->ext_ids = calloc(n, sizeof(int));
    e->phases = calloc(n, sizeof(int));
    e->statuses = calloc(n, sizeof(int));
    e->materials = calloc(n, sizeof(int));
    e->sections = calloc(n, sizeof(int));
    e->scalars = calloc(7 * n, sizeof(double));
    e->vectors = calloc(9 * n, sizeof(double));
    e->areas = calloc(n, sizeof(double));
    return e->ids && e->ext_ids && e->phases && e->statuses && e->materials && e->sections &&
           e->scalars && e->vectors && e->areas;
}

static void release(Export* e) {
    free(e->ids);
    free(e->ext_ids);
    free(e->phases);
    free(e->statuses);
    free(e->materials);
    free(e->sections);
    free(e->scalars);
    free(e->vectors);
    free(e->areas);
}

/* Facet export: ids, centres, velocities, normals (vectors 1-3), areas. */
static int export_facets(Export* e, int capacity) {
    return velunor_coupling_export_facets(e->index, capacity, &e->count, e->ids, e->ext_ids,
                                          e->materials, e->sections, e->vectors, e->areas);
}

/* Particle export: 7 scalars (mass first, pressure fourth) and x, v, a. */
static int export_particles(Export* e, int capacity) {
    return velunor_coupling_export_particles(e->index, capacity, &e->count, e->ext_ids, e->ids,
                                             e->phases, e->statuses, e->materials, e->sections,
                                             e->scalars, e->vectors);
}

static void print_values(const char* name, const double* values, int n) {
    printf("%s", name);
    for (int i = 0; i < n; ++i) printf(" %.17g", values[i]);
    printf("\n");
}

static void print_counts(const char* name, const int* values, int n) {
    printf("%s", name);
    for (int i = 0; i < n; ++i) printf(" %d", values[i]);
    printf("\n");
}

/* One trace line: the state after `step` of the centre facet and of the
 * water particle above it. */
static void trace_line(int step, double time, double dt, const Export* plate, const Export* wet,
                       int facet) {
    const double* f = plate->vectors + 9 * facet;
    const double* w = wet->vectors + 9 * facet;
    printf("trace %d %.17g %.17g %.17g %.17g %.17g %.17g\n", step, time, dt,
           wet->scalars[7 * facet + 3], f[2], f[5], w[5]);
}

int main(int argc, char** argv) {
    const char* deck = NULL;
    int steps = 100;
    double stiffness = 1.0e7;
    int trace = 0;
    for (int i = 1; i < argc; ++i) {
        char* end = NULL;
        if (strcmp(argv[i], "--steps") == 0 && i + 1 < argc) {
            const long n = strtol(argv[++i], &end, 10);
            if (*end != '\0' || n < 1 || n > 1000000) {
                fputs(usage_lines, stderr);
                return exit_usage;
            }
            steps = (int)n;
        } else if (strcmp(argv[i], "--stiffness") == 0 && i + 1 < argc) {
            stiffness = strtod(argv[++i], &end);
            if (*end != '\0' || !(stiffness >= 0.0) || !isfinite(stiffness)) {
                fputs(usage_lines, stderr);
                return exit_usage;
            }
        } else if (strcmp(argv[i], "--trace") == 0) {
            trace = 1;
        } else if (argv[i][0] != '-' && deck == NULL) {
            deck = argv[i];
        } else {
            fputs(usage_lines, stderr);
            return exit_usage;
        }
    }
    if (deck == NULL) {
        fputs(usage_lines, stderr);
        return exit_usage;
    }

    int rc = exit_ok;
    Export plate = {0}, wet = {0}, plate_state = {0};
    double *rest = NULL, *mass = NULL, *loads = NULL;
    int *clamped = NULL, *load_ids = NULL;
    CALL(velunor_initialize());
    CALL(velunor_read_inp(deck));
    CALL(velunor_build_model());

    /* Regions and buffers. */
    int plate_particles = 0, plate_facets = 0, wet_particles = 0, wet_facets = 0, mode = 0;
    plate.index = find_region("PLATE", &plate_particles, &plate_facets, &mode);
    if (plate.index == 0 || plate_facets < 1)
        FAIL("no coupling region PLATE with facets in ", deck);
    if (mode == export_facets_only || plate_particles != plate_facets) {
        FAIL("region PLATE must export its facets and particles and list only facets", NULL);
    }
    wet.index = find_region("WET", &wet_particles, &wet_facets, &mode);
    if (wet.index == 0 || wet_particles != plate_facets) {
        FAIL("no coupling region WET with one particle per PLATE facet in ", deck);
    }
    plate_state.index = plate.index;
    int load_mode = 0, distribution = 0, contact_mode = 0;
    CALL(velunor_coupling_get_region_modes(plate.index, &load_mode, &distribution, &contact_mode));

    const int n = plate_facets;
    rest = calloc(3 * (size_t)n, sizeof(double));
    mass = calloc((size_t)n, sizeof(double));
    clamped = calloc((size_t)n, sizeof(int));
    load_ids = calloc((size_t)n, sizeof(int));
    loads = calloc(3 * (size_t)n, sizeof(double));
    if (!allocate(&plate, n) || !allocate(&wet, n) || !allocate(&plate_state, n) || !rest ||
        !mass || !clamped || !load_ids || !loads) {
        FAIL("out of memory", NULL);
    }

    /* Rest positions, masses, the clamped edge and the wet layer's order. */
    CALL(export_facets(&plate, n));
    CALL(export_particles(&plate_state, n));
    CALL(export_particles(&wet, n));
    double lo[2] = {HUGE_VAL, HUGE_VAL}, hi[2] = {-HUGE_VAL, -HUGE_VAL};
    for (int i = 0; i < n; ++i) {
        if (plate_state.ids[i] != plate.ids[i]) {
            FAIL("region PLATE lists its facets out of particle order", NULL);
        }
        memcpy(rest + 3 * i, plate.vectors + 9 * i, 3 * sizeof(double));
        mass[i] = plate_state.scalars[7 * i];
        for (int c = 0; c < 2; ++c) {
            lo[c] = fmin(lo[c], rest[3 * i + c]);
            hi[c] = fmax(hi[c], rest[3 * i + c]);
        }
    }
    const double extent = fmax(hi[0] - lo[0], hi[1] - lo[1]);
    const double tol = 1e-6 * (extent > 0.0 ? extent : 1.0);
    int clamped_count = 0, centre = -1;
    double centre_distance = HUGE_VAL;
    for (int i = 0; i < n; ++i) {
        const double* x = rest + 3 * i;
        clamped[i] = fabs(x[0] - lo[0]) < tol || fabs(x[0] - hi[0]) < tol ||
                     fabs(x[1] - lo[1]) < tol || fabs(x[1] - hi[1]) < tol;
        clamped_count += clamped[i];
        const double d = hypot(x[0] - 0.5 * (lo[0] + hi[0]), x[1] - 0.5 * (lo[1] + hi[1]));
        if (!clamped[i] && d < centre_distance) {
            centre_distance = d;
            centre = i;
        }
        const double* w = wet.vectors + 9 * i;
        if (hypot(w[0] - x[0], w[1] - x[1]) > tol) {
            FAIL("a WET particle does not lie above its PLATE facet", NULL);
        }
    }
    if (centre < 0) FAIL("region PLATE has no facet inside its edge", NULL);
    if (trace) {
        printf("trace_facet %d %.17g %.17g %.17g\n", plate.ids[centre], plate.areas[centre],
               mass[centre], stiffness);
    }

    /* The exchange loop: read, respond, send, step. */
    double dt_min = HUGE_VAL, dt_max = 0.0, time = 0.0;
    double centre_range[2] = {0.0, 0.0}; /* lowest and highest centre displacement */
    int step = 0;
    for (step = 0; step < steps; ++step) {
        double dt = 0.0;
        CALL(velunor_estimate_stable_dt(&dt));
        dt_min = fmin(dt_min, dt);
        dt_max = fmax(dt_max, dt);
        CALL(export_facets(&plate, n));
        CALL(export_particles(&wet, n));
        if (trace) trace_line(step, time, dt, &plate, &wet, centre);
        const double uz = plate.vectors[9 * centre + 2] - rest[3 * centre + 2];
        centre_range[0] = fmin(centre_range[0], uz);
        centre_range[1] = fmax(centre_range[1], uz);

        /* The mock structural solver: spring to rest plus the water's
         * pressure, which pushes against the facet normal. */
        int loaded = 0;
        for (int i = 0; i < n; ++i) {
            if (clamped[i]) continue;
            const double* x = plate.vectors + 9 * i;
            const double* normal = plate.vectors + 9 * i + 6;
            const double p = wet.scalars[7 * i + 3];
            const double area = plate.areas[i];
            for (int c = 0; c < 3; ++c) {
                loads[3 * loaded + c] =
                    -stiffness * (x[c] - rest[3 * i + c]) - p * area * normal[c];
            }
            load_ids[loaded++] = plate.ids[i];
        }
        /* Resultants carry the coupling step and open its epoch, so they go
         * first; the motion targets carry none. */
        CALL(velunor_coupling_apply_facet_resultants(plate.index, loaded, load_ids, loads,
                                                     distribution, step + 1));
        const double at_rest[3] = {0.0, 0.0, 0.0};
        for (int i = 0; i < n; ++i) {
            if (clamped[i]) {
                CALL(velunor_coupling_apply_motion_boundary(plate.index, i + 1, motion_velocity,
                                                            motion_direct, at_rest));
            }
            CALL(velunor_coupling_apply_motion_boundary(wet.index, i + 1, motion_velocity,
                                                        motion_direct, plate.vectors + 9 * i + 3));
        }
        CALL(velunor_advance_explicit(dt));
        int at_step = 0;
        CALL(velunor_get_current_time(&time, &at_step));
    }

    /* The state after the last step. */
    CALL(export_facets(&plate, n));
    CALL(export_particles(&wet, n));
    if (trace) trace_line(step, time, 0.0, &plate, &wet, centre);
    double momentum[3] = {0.0, 0.0, 0.0}, kinetic = 0.0;
    double largest = 0.0, clamped_largest = 0.0;
    for (int i = 0; i < n; ++i) {
        const double* x = plate.vectors + 9 * i;
        const double* v = x + 3;
        double u2 = 0.0;
        for (int c = 0; c < 3; ++c) {
            momentum[c] += mass[i] * v[c];
            kinetic += 0.5 * mass[i] * v[c] * v[c];
            u2 += (x[c] - rest[3 * i + c]) * (x[c] - rest[3 * i + c]);
        }
        const double u = sqrt(u2);
        if (clamped[i]) {
            clamped_largest = fmax(clamped_largest, u);
        } else {
            largest = fmax(largest, u);
        }
    }

    double input_force[3], distributed_force[3], input_moment[3], distributed_moment[3];
    double force_error = 0.0, moment_error = 0.0;
    CALL(velunor_coupling_get_load_balance(input_force, distributed_force, &force_error,
                                           input_moment, distributed_moment, &moment_error));
    double values[diagnostic_values];
    int counts[diagnostic_counts];
    CALL(velunor_coupling_get_diagnostics(values, diagnostic_values, counts, diagnostic_counts));
    int contact[contact_counts];
    double penetration = 0.0;
    CALL(velunor_coupling_get_contact_diagnostics(contact, contact_counts, &penetration, 1));

    const double run[2] = {dt_min, dt_max};
    const double centre_z = plate.vectors[9 * centre + 2] - rest[3 * centre + 2];
    centre_range[0] = fmin(centre_range[0], centre_z);
    centre_range[1] = fmax(centre_range[1], centre_z);
    printf("steps %d\n", step);
    print_values("time", &time, 1);
    print_values("dt_range", run, 2);
    printf("facets %d loaded %d clamped %d wet %d\n", n, n - clamped_count, clamped_count, n);
    print_values("input_force", input_force, 3);
    print_values("distributed_force", distributed_force, 3);
    print_values("force_error", &force_error, 1);
    print_values("input_moment", input_moment, 3);
    print_values("distributed_moment", distributed_moment, 3);
    print_values("moment_error", &moment_error, 1);
    print_values("step_force", values, 3);
    print_values("step_moment", values + 3, 3);
    print_values("step_impulse", values + 6, 3);
    print_values("cumulative_impulse", values + 9, 3);
    print_values("momentum_exchange", values + 12, 3);
    print_values("step_work", values + 15, 1);
    print_values("cumulative_work", values + 16, 1);
    print_values("energy_exchange", values + 17, 1);
    print_values("max_external_force", values + 18, 1);
    print_values("max_acceleration", values + 19, 1);
    print_values("max_velocity_error", values + 20, 1);
    print_values("max_position_error", values + 21, 1);
    print_values("max_pressure", values + 24, 1);
    print_values("max_traction", values + 25, 1);
    printf(
        "counts stale %d skipped %d nonfinite %d imported %d consumed %d repeated %d "
        "duplicate %d invalid_weight %d active_contacts %d skipped_contacts %d "
        "nonfinite_contacts %d bad_areas %d\n",
        counts[0], counts[1], counts[2], counts[3], counts[4], counts[5], counts[6], counts[7],
        counts[8], counts[9], counts[10], counts[11]);
    print_counts("contact_counts", contact, contact_counts);
    print_values("plate_momentum", momentum, 3);
    print_values("plate_kinetic_energy", &kinetic, 1);
    print_values("centre_displacement", &centre_z, 1);
    print_values("centre_range", centre_range, 2);
    print_values("largest_displacement", &largest, 1);
    print_values("clamped_largest_displacement", &clamped_largest, 1);

    CALL(velunor_finalize());

done:
    release(&plate);
    release(&wet);
    release(&plate_state);
    free(rest);
    free(mass);
    free(clamped);
    free(load_ids);
    free(loads);
    if (rc != exit_ok) velunor_finalize();
    return rc;
}
