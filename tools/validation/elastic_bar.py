#!/usr/bin/python3
"""Elastic wave speed in a steel bar.

A bar of NX x NW x NW solid particles (steel, E = 200 GPa, nu = 0.3,
rho = 7850 kg/m3) starts at rest except for its first NP layers, which move
along the bar at V0. That velocity splits into a right-going and a left-going
half; the left-going half reflects at the free end, so a pulse of amplitude
V0/2 and length 2 NP dx runs along the bar. For every layer the script finds
the time at which the layer's mean velocity first reaches half the pulse
amplitude (V0/4) and fits the front position against that time; the slope is
the measured wave speed.

References:
- thin rod: c0 = sqrt(E / rho), for a free lateral surface and a pulse long
  compared with the width (here 2 NP dx = 24 dx against a width of 3 dx);
- laterally constrained column (uniaxial strain, or a plane wave in a body
  wide compared with the distance run): cP = sqrt((K + 4G/3) / rho), 16 %
  faster for nu = 0.3. A bar of NW = 3 particles has a free lateral
  surface on every particle, so c0 is the reference it must meet. No deck
  keyword holds a lateral surface in place, and in a free body the release
  from the sides reaches the axis after the front has run about half the
  width, so a cP measurement would need a block wider than the distance run.

Usage: /usr/bin/python3 tools/validation/elastic_bar.py [--no-figure]
Writes tools/validation/decks/elastic_bar.inp, docs/validation/elastic_bar.png
and prints the measured speeds and their errors.
"""
import argparse
import math
import sys

import numpy as np

import solid_common as sc

E, NU, RHO = 2.0e11, 0.3, 7850.0
G = E / (2 * (1 + NU))
K = E / (3 * (1 - 2 * NU))
C0 = math.sqrt(E / RHO)
CP = math.sqrt((K + 4 * G / 3) / RHO)
DX = 0.005          # particle spacing [m]
H = 1.3 * DX        # smoothing length, support 2h = 2.6 dx
V0 = 1.0            # initial velocity of the first NP layers [m/s]
SAFETY = 0.5
INTERVAL = 2        # steps between output frames


def bar_deck(nx, nw, npulse, end_time):
    # Layers along x are written one after the other (x slowest), so the first
    # npulse layers are one generated node range.
    per_layer = nw * nw
    lines = ["** Velunor validation deck: elastic wave in a steel bar, written by\n",
             "** tools/validation/elastic_bar.py.\n", "*NODE\n"]
    node = 0
    for i in range(nx):
        for k in range(nw):
            for j in range(nw):
                node += 1
                y = (j - (nw - 1) / 2) * DX
                z = (k - (nw - 1) / 2) * DX
                lines.append(f"{node}, {i * DX:.6f}, {y:.6f}, {z:.6f}\n")
    lines.append(f"""*NSET, NSET=BAR, GENERATE
1, {node}
*NSET, NSET=PULSE, GENERATE
1, {npulse * per_layer}
*MATERIAL, NAME=Steel, TYPE=SOLID
*DENSITY
{RHO:g}
*ELASTIC
{E:g}, {NU:g}
*SOLID SECTION, NSET=BAR, MATERIAL=Steel
*VELUNOR SOLID CONTROL, MATERIAL=Steel, H={H:.10g}, VOLUME={DX ** 3:.10g}
*INITIAL CONDITIONS, TYPE=VELOCITY
PULSE, 1, {V0:g}
*VELUNOR TIME CONTROL, DT=1.0E-5, TIME={end_time:.6E}, STEPS=100000, SAFETY={SAFETY}
*VELUNOR OUTPUT, INTERVAL={INTERVAL}
""")
    return "".join(lines)


def layer_velocity(run, nx, axis_only):
    """Times and the mean vx of every layer (on the axis only, when asked)."""
    times, vel = [], []
    for step in run.steps:
        p = run.particles(step)
        layer = np.rint(p["x"] / DX - 0.0).astype(int)
        keep = np.ones_like(layer, dtype=bool)
        if axis_only:
            keep = (np.abs(p["y"]) < 0.5 * DX) & (np.abs(p["z"]) < 0.5 * DX)
        # Reference layers: the x0 of a particle is its layer; positions move
        # by far less than dx/2 at these velocities.
        sums = np.bincount(layer[keep], weights=p["vx"][keep], minlength=nx)
        counts = np.bincount(layer[keep], minlength=nx)
        times.append(run.time(step))
        vel.append(sums / np.maximum(counts, 1))
    return np.array(times), np.array(vel)


def arrivals(times, vel, level):
    """Per layer, the first time its velocity reaches `level` (linear in time
    between frames), NaN where it never does."""
    out = np.full(vel.shape[1], np.nan)
    for i in range(vel.shape[1]):
        above = np.nonzero(vel[:, i] >= level)[0]
        if len(above) == 0 or above[0] == 0:
            continue
        n = above[0]
        v1, v2 = vel[n - 1, i], vel[n, i]
        out[i] = times[n - 1] + (level - v1) / (v2 - v1) * (times[n] - times[n - 1])
    return out


def measure(nx, nw, npulse, first, last, end_time, axis_only, name):
    deck = sc.write_deck(name, bar_deck(nx, nw, npulse, end_time))
    run = sc.run_deck(deck)
    times, vel = layer_velocity(run, nx, axis_only)
    run.remove()
    t_arr = arrivals(times, vel, 0.25 * V0)
    layers = np.arange(first, last + 1)
    ok = ~np.isnan(t_arr[layers])
    slope, offset = np.polyfit(t_arr[layers][ok], layers[ok] * DX, 1)
    return deck, times, vel, t_arr, layers[ok], slope, offset


def main(argv):
    ap = argparse.ArgumentParser()
    ap.add_argument("--no-figure", action="store_true")
    args = ap.parse_args(argv)

    # Thin bar: 3 x 3 particles, 160 layers (0.8 m), a 12-layer kick.
    nx, nw, npulse = 160, 3, 12
    end_time = 0.9 * nx * DX / C0
    first, last = 2 * npulse, nx - 12
    deck, times, vel, t_arr, layers, c_bar, off = measure(
        nx, nw, npulse, first, last, end_time, False, "elastic_bar.inp")
    err0 = (c_bar - C0) / C0
    errp = (c_bar - CP) / CP
    print(f"deck {deck.relative_to(sc.REPO)}")
    print(f"thin bar {nw}x{nw}: fitted front speed {c_bar:.1f} m/s over layers {layers[0]}..{layers[-1]}")
    print(f"  c0 = sqrt(E/rho)          = {C0:.1f} m/s, error {100 * err0:+.2f} %")
    print(f"  cP = sqrt((K+4G/3)/rho)   = {CP:.1f} m/s, error {100 * errp:+.2f} %")

    if not args.no_figure:
        import matplotlib
        matplotlib.use("Agg")
        import matplotlib.pyplot as plt
        fig, (ax1, ax2) = plt.subplots(1, 2, figsize=(11, 4.2))
        t_us = 1e6 * t_arr
        ax1.plot(t_us[layers], layers * DX, "o", ms=3, label="arrival of V0/4 (layer mean)")
        tt = np.linspace(np.nanmin(t_us[layers]), np.nanmax(t_us[layers]), 2)
        ax1.plot(tt, off + c_bar * tt * 1e-6, "k-", label=f"fit: {c_bar:.0f} m/s")
        t0 = (layers[0] * DX - off) / c_bar
        for c, style, lab in ((C0, "--", "c0 = sqrt(E/rho)"), (CP, ":", "cP = sqrt((K+4G/3)/rho)")):
            ax1.plot(tt, layers[0] * DX + c * (tt * 1e-6 - t0), style, label=f"{lab} = {c:.0f} m/s")
        ax1.set_xlabel("time [us]")
        ax1.set_ylabel("front position x [m]")
        ax1.set_title(f"steel bar {nw}x{nw} particles, dx = {DX * 1000:g} mm")
        ax1.legend(fontsize=8)
        for frac in (0.35, 0.6, 0.85):
            n = int(frac * (len(times) - 1))
            ax2.plot(np.arange(nx) * DX, vel[n], label=f"t = {1e6 * times[n]:.0f} us")
        ax2.axhline(0.5 * V0, color="grey", lw=0.5)
        ax2.axhline(0.25 * V0, color="grey", lw=0.5, ls="--")
        ax2.set_xlabel("x [m]")
        ax2.set_ylabel("layer mean vx [m/s]")
        ax2.set_title("velocity pulse (amplitude V0/2, threshold V0/4)")
        ax2.legend(fontsize=8)
        fig.tight_layout()
        sc.FIGURES.mkdir(parents=True, exist_ok=True)
        fig.savefig(sc.FIGURES / "elastic_bar.png", dpi=110)
        print(f"figure {(sc.FIGURES / 'elastic_bar.png').relative_to(sc.REPO)}")


if __name__ == "__main__":
    main(sys.argv[1:])
