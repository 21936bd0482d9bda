/*
 * A host outside the Velunor tree, built against an installed Velunor (CMake
 * package or pkg-config): runs a small deck through the public C API.
 *
 * usage: velunor_consumer DECK PARTICLE_COUNT
 */
#include <math.h>
#include <stdio.h>
#include <stdlib.h>
#include <velunor.h>

enum { max_particles = 64, steps = 3 };

static int report(const char* what, int status) {
    int code = 0;
    char message[257] = "";
    velunor_get_last_error(&code, message, (int)sizeof message);
    fprintf(stderr, "%s failed with status %d: %s\n", what, status, message);
    return 1;
}

#define CALL(expr)                                       \
    do {                                                 \
        int status_ = (expr);                            \
        if (status_ != 0) return report(#expr, status_); \
    } while (0)

int main(int argc, char** argv) {
    if (argc != 3) {
        fprintf(stderr, "usage: %s DECK PARTICLE_COUNT\n", argv[0]);
        return 2;
    }
    const int expected_count = atoi(argv[2]);

    int major = -1, minor = -1, patch = -1;
    CALL(velunor_get_version(&major, &minor, &patch));
    if (major != 0 || minor != 8 || patch != 3) {
        fprintf(stderr, "library version %d.%d.%d, expected 0.8.3\n", major, minor, patch);
        return 1;
    }

    CALL(velunor_initialize());
    CALL(velunor_read_inp(argv[1]));
    CALL(velunor_build_model());
    int count = -1;
    CALL(velunor_get_particle_count(&count));
    if (count != expected_count || count > max_particles) {
        fprintf(stderr, "%d particles, expected %d\n", count, expected_count);
        return 1;
    }

    double dt = 0.0;
    CALL(velunor_estimate_stable_dt(&dt));
    if (!(dt > 0.0)) {
        fprintf(stderr, "stable time step %g is not positive\n", dt);
        return 1;
    }
    for (int k = 0; k < steps; ++k) CALL(velunor_advance_explicit(dt));
    double time = 0.0;
    int step = 0;
    CALL(velunor_get_current_time(&time, &step));
    if (step != steps || fabs(time - steps * dt) > 1e-12 * steps * dt) {
        fprintf(stderr, "after %d steps of %g: step %d, time %g\n", steps, dt, step, time);
        return 1;
    }

    int ids[max_particles], phase[max_particles], status[max_particles];
    int material[max_particles], section[max_particles];
    double x[3 * max_particles], v[3 * max_particles], a[3 * max_particles];
    double rho[max_particles], pressure[max_particles], energy[max_particles];
    double temperature[max_particles], h[max_particles];
    int state_count = 0;
    CALL(velunor_get_particle_state(max_particles, ids, phase, status, material, section, x, v, a,
                                    rho, pressure, energy, temperature, h, &state_count));
    /* The block is released from 1 MPa into vacuum: every particle is an
     * active water particle and has started to move. */
    for (int k = 0; k < state_count; ++k) {
        const double speed =
            sqrt(v[3 * k] * v[3 * k] + v[3 * k + 1] * v[3 * k + 1] + v[3 * k + 2] * v[3 * k + 2]);
        if (phase[k] != VELUNOR_PHASE_WATER || status[k] != VELUNOR_PARTICLE_ACTIVE ||
            !(speed > 0.0) || !isfinite(speed)) {
            fprintf(stderr, "particle %d: phase %d, status %d, speed %g\n", ids[k], phase[k],
                    status[k], speed);
            return 1;
        }
    }

    /* A failure comes back as a status with its message. */
    if (velunor_read_inp("no_such_deck.inp") == 0) {
        fprintf(stderr, "reading a missing deck succeeded\n");
        return 1;
    }
    CALL(velunor_finalize());
    printf("velunor_consumer: %d particles, %d steps of %.3e s\n", count, step, dt);
    return 0;
}
