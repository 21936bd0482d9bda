#!/usr/bin/python3
"""Water-hammer pressure of a water block hitting a rigid wall.

Water particles see only water, so the wall is the symmetry plane of two
equal blocks that meet head-on at speed v each: the contact plane x = 0 stays
at rest, as a rigid wall would. A compression front runs into each block at
c0; behind it the water is at rest at the acoustic (water-hammer) pressure
rho0 c0 v (the weak-shock correction of the Tait equation, a front speed of
c0 + (gamma + 1) v / 4, is 0.3 % at v = 2 m/s), until release waves from the
free side faces reach the axis after (half width) / c0.

Two measures against rho0 c0 v, over the time before the release arrives:
the peak, the largest particle pressure of the run (summary `max_pressure`),
and the plateau, the mean pressure of the compressed particles near the axis
(within 2 spacings of it, between 2 h from the wall and 4 h behind the front,
which the viscosity spreads over about 4 h).

    /usr/bin/python3 tools/validation/water_impact.py
"""
import sys

import matplotlib

matplotlib.use("Agg")
import matplotlib.pyplot as plt  # noqa: E402
import numpy as np  # noqa: E402

import vlib  # noqa: E402

RHO0, C0, V = 1000.0, 1480.0, 2.0
NX, NY = 20, 24           # particles of one block along x (impact axis) and across
SPACING = 0.01
H = 1.3 * SPACING
ALPHA = 1.0               # as examples/water_impact.inp; at 0.1 the front rings (see docs)


def blocks(nx, ny, dx):
    """Two blocks touching at x = 0, the left one first; velocities +-v."""
    half = (ny - 1) / 2.0 * dx
    left = vlib.lattice(nx, ny, ny, dx, origin=(-(nx - 0.5) * dx, -half, -half))
    right = left * np.array([-1.0, 1.0, 1.0])
    pts = np.concatenate([left, right])
    vel = np.zeros_like(pts)
    vel[: len(left), 0] = V
    vel[len(left):, 0] = -V
    return pts, vel


def release_time(ny, dx):
    return 0.5 * (ny - 1) * dx / C0


def deck(nx, ny, dx, alpha=ALPHA):
    pts, vel = blocks(nx, ny, dx)
    end = release_time(ny, dx)
    title = (f"Head-on impact of two water blocks of {nx} x {ny} x {ny} particles at "
             f"+-{V:g} m/s.\nWritten by tools/validation/water_impact.py.")
    return vlib.water_deck(pts, dx, title=title, c0=C0, rho0=RHO0, alpha=alpha, dt=1.0,
                           end_time=end, steps=100000, safety=0.25, velocities=vel)


def measure(nx, ny, dx, alpha=ALPHA, interval=2):
    """Times, peak pressure and axis plateau pressure of every output step."""
    run = vlib.run(deck(nx, ny, dx, alpha), f"impact_{nx}", interval=interval)
    h = 1.3 * dx
    times, peaks, plateaus = [], [], []
    for step in run.steps:
        s = run.summary(step)
        p = run.particles(step)
        t = s["time"]
        front = C0 * t
        core = ((np.abs(p["y"]) <= 2 * dx + 1e-9) & (np.abs(p["z"]) <= 2 * dx + 1e-9) &
                (np.abs(p["x"]) >= 2 * h) & (np.abs(p["x"]) <= front - 4 * h))
        times.append(t)
        peaks.append(s["max_pressure"])
        plateaus.append(p["pressure"][core].mean() if core.any() else np.nan)
    run.cleanup()
    return np.array(times), np.array(peaks), np.array(plateaus)


def main():
    hammer = RHO0 * C0 * V
    t, peak, plateau = measure(NX, NY, SPACING)
    ok = ~np.isnan(plateau)
    print(f"water hammer rho0 c0 v = {hammer / 1e6:.4g} MPa")
    print(f"peak particle pressure {peak.max() / 1e6:.4g} MPa = {peak.max() / hammer:.4f} "
          f"rho0 c0 v (at t = {1e6 * t[np.argmax(peak)]:.1f} us)")
    print(f"axis plateau pressure: mean {np.mean(plateau[ok]) / hammer:.4f}, range "
          f"{np.min(plateau[ok]) / hammer:.4f} .. {np.max(plateau[ok]) / hammer:.4f} rho0 c0 v "
          f"over {1e6 * t[ok][0]:.1f} .. {1e6 * t[ok][-1]:.1f} us")
    fig, ax = plt.subplots(figsize=(6.4, 4.0))
    ax.plot(1e6 * t, peak / hammer, label="peak particle pressure")
    ax.plot(1e6 * t[ok], plateau[ok] / hammer, "o-", ms=3, label="axis plateau (mean)")
    ax.axhline(1.0, color="k", lw=1, label=r"$\rho_0 c_0 v$")
    ax.set_xlabel("time [us]")
    ax.set_ylabel(r"pressure / $\rho_0 c_0 v$")
    ax.set_title(f"Water block at {V:g} m/s on a rigid wall ({NX} x {NY} x {NY} particles)")
    ax.set_ylim(0.0, 1.6)
    ax.grid(True, alpha=0.3)
    ax.legend()
    fig.tight_layout()
    fig.savefig(vlib.figure_path("water_impact.png"), dpi=110)
    return 0


if __name__ == "__main__":
    sys.exit(main())
