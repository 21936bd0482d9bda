#!/usr/bin/python3
"""Speed of a sound front in a water column against c0.

A column of water at rest, NX layers long, is struck at its left end by a
slab of the same water, SLAB layers thick, moving at v. As at a wall impact,
the struck water takes the velocity v / 2 behind a compression front that
runs along the column at c0 (the weak-shock correction of the Tait
equation, (gamma + 1) v / 8 for a particle velocity v / 2, is 1e-4 of c0 at
v = 1 m/s). The front is where the velocity of the particles near the axis
first falls below half of its current peak (v / 4 at first); a straight line fitted to its
position over time gives the front speed. Its position is fitted only while
the front is between 5 and NX - 5 layers into the column: the first layers
are where the front forms, the last where it meets the far free end.

    /usr/bin/python3 tools/validation/sound_front.py
"""
import sys

import matplotlib

matplotlib.use("Agg")
import matplotlib.pyplot as plt  # noqa: E402
import numpy as np  # noqa: E402

import vlib  # noqa: E402

RHO0, C0, V = 1000.0, 1480.0, 1.0
NX, NY, SLAB = 40, 24, 10
SPACING = 0.01
ALPHA = 0.1
# Release waves from the free side faces lower the pulse as it runs, so the
# front is taken at half the pulse's own leading peak, found as the first
# maximum behind the farthest layer moving at FLOOR v.
FLOOR = 0.02
# The default scheme gains energy every step (see the energy case): at ALPHA
# 0.1 the column behind the pulse rings up to twice the slab speed.
INTEGRATOR = "VERLET"


def column(nx, ny, slab, dx):
    """Slab layers at x < 0 moving at +v, the column at x > 0 at rest."""
    half = (ny - 1) / 2.0 * dx
    pts = vlib.lattice(slab + nx, ny, ny, dx, origin=(-(slab - 0.5) * dx, -half, -half))
    vel = np.zeros_like(pts)
    vel[pts[:, 0] < 0.0, 0] = V
    return pts, vel


def deck(nx, ny, slab, dx, alpha=ALPHA):
    pts, vel = column(nx, ny, slab, dx)
    title = (f"Sound front in a water column of {nx} x {ny} x {ny} particles struck by a slab "
             f"of {slab} layers at {V:g} m/s.\nWritten by tools/validation/sound_front.py.")
    return vlib.water_deck(pts, dx, title=title, c0=C0, rho0=RHO0, alpha=alpha, dt=1.0,
                           end_time=nx * dx / C0, steps=100000, safety=0.25, integrator=INTEGRATOR,
                           velocities=vel)


def fronts(run, nx, dx):
    """(time, front x, leading peak) of the output steps: the point ahead of
    the pulse's leading velocity peak where the layer-mean axis velocity
    falls through v / 4, half the plane-wave jump, interpolated between
    layers."""
    times, positions, peaks = [], [], []
    for time, p in run.frames():
        axis = (np.abs(p["y"]) <= dx) & (np.abs(p["z"]) <= dx) & (p["x"] > 0.0)
        k = np.round(p["x"][axis] / dx - 0.5).astype(int)
        keep = (k >= 0) & (k < nx)
        sums = np.bincount(k[keep], weights=p["vx"][axis][keep], minlength=nx)
        v = sums / np.maximum(np.bincount(k[keep], minlength=nx), 1)
        reached = np.nonzero(v >= FLOOR * V)[0]
        if len(reached) == 0 or reached[-1] + 1 >= nx:
            continue
        peak = reached[-1]
        while peak > 0 and v[peak - 1] > v[peak]:
            peak -= 1
        level = 0.25 * V
        if v[peak] < level:
            continue
        j = peak + np.nonzero(v[peak:] >= level)[0][-1]
        f = (v[j] - level) / (v[j] - v[j + 1])
        times.append(time)
        positions.append((j + 0.5 + f) * dx)
        peaks.append(v[peak])
    return np.array(times), np.array(positions), np.array(peaks)


def measure(nx, ny, slab, dx, alpha=ALPHA, interval=4):
    run = vlib.run(deck(nx, ny, slab, dx, alpha), f"front_{nx}", interval=interval)
    t, xf, peak = fronts(run, nx, dx)
    run.cleanup()
    # While the pulse keeps 80 % of its plane-wave amplitude v / 2: beyond,
    # the release waves from the side faces have reached its head, lower and
    # spread it, and any level crossing stops following the front.
    fit = (xf >= 5 * dx) & (xf <= (nx - 5) * dx) & (peak >= 0.4 * V)
    slope, offset = np.polyfit(t[fit], xf[fit], 1)
    return t, xf, fit, slope, offset


def main():
    t, xf, fit, slope, offset = measure(NX, NY, SLAB, SPACING)
    residual = xf[fit] - (slope * t[fit] + offset)
    print(f"front speed {slope:.2f} m/s against c0 = {C0:g} m/s: {100 * (slope / C0 - 1):+.3f} %; "
          f"{fit.sum()} front positions, largest residual {np.abs(residual).max() / SPACING:.3f} "
          f"spacings")
    fig, ax = plt.subplots(figsize=(6.4, 4.0))
    ax.plot(1e6 * t, 1e3 * xf, "o", ms=3, mfc="none", label="front (v/4 on the axis)")
    tt = np.array([t[fit][0], t[fit][-1]])
    ax.plot(1e6 * tt, 1e3 * (slope * tt + offset), "r-", label=f"fit: {slope:.1f} m/s")
    ax.plot(1e6 * tt, 1e3 * (C0 * tt + offset), "k--", label=f"c0 = {C0:g} m/s")
    ax.set_xlabel("time [us]")
    ax.set_ylabel("front position [mm]")
    ax.set_title(f"Sound front in a {NY} x {NY} water column, dx = {1e3 * SPACING:g} mm")
    ax.grid(True, alpha=0.3)
    ax.legend()
    fig.tight_layout()
    fig.savefig(vlib.figure_path("sound_front.png"), dpi=110)
    return 0


if __name__ == "__main__":
    sys.exit(main())
