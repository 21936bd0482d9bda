#!/usr/bin/python3
"""Energy of an undamped water cube over 1000 steps, default scheme against
velocity Verlet.

A 6 x 6 x 6 cube of water at 10 mm spacing, every position jittered by up to
0.02 spacings (the pseudo-random sequence of the unit tests), at a background
pressure of 1 MPa and without artificial viscosity, is released into vacuum.
The semi-discrete SPH equations conserve kinetic energy plus the Tait energy
of compression, sum m u(rho) with u = integral of p / rho^2 from rho0; each
scheme's departure from the start value is plotted relative to the released
energy (the largest kinetic energy of the run).

    /usr/bin/python3 tools/validation/energy_cube.py
"""
import sys

import matplotlib

matplotlib.use("Agg")
import matplotlib.pyplot as plt  # noqa: E402
import numpy as np  # noqa: E402

import vlib  # noqa: E402

N, SPACING, JITTER = 6, 0.01, 0.02
RHO0, C0, GAMMA, P0 = 1000.0, 1480.0, 7.0, 1.0e6
MASS = RHO0 * SPACING**3
STEPS, SAFETY = 1000, 0.25
# The command-line host runs to the end time. The stable step is
# SAFETY h / (c0 + |v|) (no viscosity; the acceleration limit is far larger),
# a little below SAFETY h / c0: with that as DT and 1000 DT as the end time
# the run makes the stable steps of the unit tests, a few more than 1000.
DT = SAFETY * 1.3 * SPACING / C0


def jittered_cube():
    """The unit tests' cube: a 64-bit LCG, x, y, z drawn per node in turn,
    positions rounded to 6 decimals as std::to_string writes them."""
    state = 12345
    mask = (1 << 64) - 1

    def draw():
        nonlocal state
        state = (state * 6364136223846793005 + 1442695040888963407) & mask
        return (state >> 11) / 9007199254740992.0 - 0.5

    pts = []
    for k in range(N):
        for j in range(N):
            for i in range(N):
                pts.append([round(SPACING * (c + JITTER * draw()), 6) for c in (i, j, k)])
    return np.array(pts)


def deck(integrator):
    title = (f"Undamped {N}^3 water cube released from {P0:g} Pa, integrator "
             f"{integrator or 'DEFAULT'}.\nWritten by tools/validation/energy_cube.py.")
    return vlib.water_deck(jittered_cube(), SPACING, title=title, c0=C0, rho0=RHO0, gamma=GAMMA,
                           p0=P0, alpha=0.0, dt=DT, end_time=STEPS * DT, steps=2 * STEPS, safety=SAFETY,
                           integrator=integrator)


def energy(p):
    b = RHO0 * C0**2 / GAMMA

    def u(rho):
        return b * rho**(GAMMA - 1) / ((GAMMA - 1) * RHO0**GAMMA) + (b - P0) / rho

    kinetic = 0.5 * MASS * np.sum(p["vx"]**2 + p["vy"]**2 + p["vz"]**2)
    internal = MASS * np.sum(u(p["rho"]) - u(RHO0))
    return kinetic, internal


def history(integrator):
    run = vlib.run(deck(integrator), f"energy_{integrator or 'default'}", interval=1,
                   allow_failure=True)
    steps, kin, total = [], [], []
    for step in run.steps:
        k, i = energy(run.particles(step))
        steps.append(step)
        kin.append(k)
        total.append(k + i)
    failed = run.returncode != 0
    run.cleanup()
    steps, kin, total = (np.array(q)[: STEPS + 1] for q in (steps, kin, total))
    # Relative to the released energy, the largest kinetic energy of the run,
    # as the unit tests measure it.
    err = np.abs(total - total[0]) / kin.max()
    return steps, err, failed


def main():
    results = {}
    for name, integrator in (("default", None), ("Verlet", "VERLET")):
        steps, err, failed = history(integrator)
        results[name] = (steps, err, failed)
        worst = err.max()
        end = "failed after" if failed else "ran"
        print(f"{name}: {end} {steps[-1]} steps, largest |E - E0| / E_released = "
              f"{100 * worst:.3g} %")
    fig, ax = plt.subplots(figsize=(6.4, 4.0))
    for name, (steps, err, failed) in results.items():
        ax.semilogy(steps[1:], np.maximum(err[1:], 1e-12), label=name + (" (run failed)" if failed else ""))
    ax.set_xlabel("step")
    ax.set_ylabel("|E - E0| / released energy")
    ax.set_title(f"Undamped {N}$^3$ water cube, ALPHA 0, SAFETY {SAFETY}")
    ax.grid(True, which="both", alpha=0.3)
    ax.legend()
    fig.tight_layout()
    fig.savefig(vlib.figure_path("energy_cube.png"), dpi=110)
    return 0


if __name__ == "__main__":
    sys.exit(main())
