#!/usr/bin/python3
"""Velunor coupled to a mock structural solver, from Python.

    coupled_plate.py DECK [--steps N] [--stiffness K]

The Python twin of examples/coupled_plate/coupled_plate.c, on the same deck
(examples/coupled_plate/coupled_plate.inp): every inner facet of the region
PLATE is a mass on a spring of stiffness K to its rest position, loaded by
the pressure of the water particle of region WET above it; the edge facets
are clamped. Between two steps the host sends the spring and pressure forces
as facet resultants, a velocity target of 0 for every clamped facet and each
facet's velocity as the target of the water particle above it. At the end it
prints the exchange totals as the C host does, one "name value..." line each.
"""

import argparse
import sys

import numpy as np

import velunor


def line(name, values):
    print(name, " ".join(format(float(v), ".17g") for v in np.atleast_1d(values)))


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("deck")
    parser.add_argument("--steps", type=int, default=100)
    parser.add_argument("--stiffness", type=float, default=1.0e7)
    args = parser.parse_args(argv)
    if args.steps < 1 or not (np.isfinite(args.stiffness) and args.stiffness >= 0.0):
        parser.error("--steps must be at least 1 and --stiffness finite and not negative")

    with velunor.Model(args.deck) as model:
        model.build()
        plate, wet = model.region("PLATE"), model.region("WET")
        if plate.facet_count < 1 or plate.particle_count != plate.facet_count:
            sys.exit("coupled_plate.py: region PLATE must export its facets and particles")
        if wet.particle_count != plate.facet_count:
            sys.exit("coupled_plate.py: region WET needs one particle per PLATE facet")

        # Rest positions, masses and the clamped edge.
        facets = model.export_facets(plate)
        rest = facets.positions
        mass = model.export_particles(plate).mass
        lo, hi = rest[:, :2].min(axis=0), rest[:, :2].max(axis=0)
        tol = 1e-6 * (max(hi - lo) or 1.0)
        clamped = ((np.abs(rest[:, :2] - lo) < tol) | (np.abs(rest[:, :2] - hi) < tol)).any(axis=1)
        inner = ~clamped
        ids = facets.facet_id[inner]
        n = plate.facet_count

        # The exchange loop: read, respond, send, step.
        dts = []
        for step in range(args.steps):
            dt = model.stable_dt()
            dts.append(dt)
            facets, water = model.export_facets(plate), model.export_particles(wet)
            x, v, normal, area = facets.positions, facets.velocities, facets.normals, facets.area
            p = water.pressure
            # The mock structural solver: spring to rest plus the water's
            # pressure, which pushes against the facet normal.
            loads = -args.stiffness * (x - rest) - (p * area)[:, None] * normal
            # Resultants open the coupling step's epoch, so they go first.
            model.apply_facet_resultants(plate, ids, loads[inner], coupling_step=step + 1,
                                         distribution_mode=plate.distribution_mode)
            for i in range(n):
                if clamped[i]:
                    model.apply_motion_boundary(plate, i + 1, (0.0, 0.0, 0.0))
                model.apply_motion_boundary(wet, i + 1, v[i])
            model.step(dt)

        facets = model.export_facets(plate)
        x, v = facets.positions, facets.velocities
        balance, diag = model.load_balance(), model.diagnostics()
        print("steps", args.steps)
        line("time", model.time)
        line("dt_range", [min(dts), max(dts)])
        print(f"facets {n} loaded {int(inner.sum())} clamped {int(clamped.sum())} wet {n}")
        for key in ("input_force", "distributed_force", "force_error", "input_moment",
                    "distributed_moment", "moment_error"):
            line(key, balance[key])
        for key in ("step_force", "step_moment", "step_impulse", "cumulative_impulse",
                    "momentum_exchange", "step_work", "cumulative_work", "energy_exchange"):
            line(key, diag[key])
        line("max_external_force", diag.max_force)
        for key in ("max_acceleration", "max_velocity_error", "max_position_error",
                    "max_pressure", "max_traction"):
            line(key, diag[key])
        counts = diag.counts
        print("counts " + " ".join(f"{short} {counts[key]}" for short, key in (
            ("stale", "stale_loads"), ("skipped", "skipped_particles"),
            ("nonfinite", "nonfinite_imports"), ("imported", "imported_forces"),
            ("consumed", "consumed"), ("repeated", "repeated_imports"),
            ("duplicate", "duplicate_facets"), ("invalid_weight", "invalid_weights"),
            ("active_contacts", "active_contacts"), ("skipped_contacts", "skipped_contacts"),
            ("nonfinite_contacts", "nonfinite_contacts"), ("bad_areas", "bad_facet_areas"))))
        line("plate_momentum", (mass[:, None] * v).sum(axis=0))
        line("plate_kinetic_energy", 0.5 * (mass[:, None] * v * v).sum())
        u = np.linalg.norm(x - rest, axis=1)
        line("largest_displacement", u[inner].max())
        line("clamped_largest_displacement", u[clamped].max())
    return 0


if __name__ == "__main__":
    sys.exit(main())
