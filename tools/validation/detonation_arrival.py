#!/usr/bin/python3
"""Detonation arrival along a charge under programmed burn.

A rod of NX x NW x NW explosive particles (spacing DX) is ignited at time
T_IGN at the centre of its end face x = 0. The reference is the programmed-
burn arrival time t = t_ign + |x0 - x_ign| / D with x0 the particle's deck
position, and after it the reaction progress lambda = (t - t_det) / tb.

Two checks, both from the particle CSV files of `velunor run`:
- the detonation time column, assigned at build, against the formula;
- the burn as it happens: every frame in which a particle is burning
  (0 < lambda < 1) gives its burn start t - lambda tb, which must land on the
  same formula (the burn is evaluated at the end-of-step time, which is the
  frame's time).

Usage: /usr/bin/python3 tools/validation/detonation_arrival.py [--no-figure]
Writes tools/validation/decks/detonation_arrival.inp and
docs/validation/detonation_arrival.png and prints the largest errors.
"""
import argparse
import math
import sys

import numpy as np

import solid_common as sc

NX, NW = 60, 3
DX = 0.01               # [m]
RHO = 1630.0            # [kg/m3]
D = 6930.0              # detonation velocity [m/s]
Q = 4.3e6               # [J/kg]
BURN_TIME = 2.0e-6      # [s]
T_IGN = 5.0e-6          # ignition time [s]
X_IGN = (0.0, 0.0, 0.0)
SAFETY = 0.5
LENGTH = (NX - 1) * DX
END_TIME = T_IGN + LENGTH / D + 2 * BURN_TIME


def deck_text():
    pts = sc.lattice_nodes(NX, NW, NW, DX, origin=(0.0, -(NW - 1) / 2 * DX, -(NW - 1) / 2 * DX))
    count = len(pts)
    return f"""** Velunor validation deck: detonation arrival along a rod of explosive,
** written by tools/validation/detonation_arrival.py.
*NODE
{sc.node_lines(pts)}*NSET, NSET=CHARGE, GENERATE
1, {count}
*MATERIAL, NAME=Products, TYPE=GAS
*DENSITY
{RHO:g}
*VELUNOR EOS, TYPE=IDEAL_GAS, MATERIAL=Products, GAMMA=3, E0=0
*MATERIAL, NAME=HE, TYPE=EXPLOSIVE
*DENSITY
{RHO:g}
*CHARGE SECTION, NSET=CHARGE, MATERIAL=HE
*VELUNOR EXPLOSIVE, MATERIAL=HE, TYPE=PROGRAMMED_BURN, DETONATION_VELOCITY={D:g}, ENERGY={Q:g}, BURN_TIME={BURN_TIME:g}, PRODUCT_MATERIAL=Products, CONVERSION=PHASE
*VELUNOR IGNITION, MATERIAL=HE, X={X_IGN[0]:g}, Y={X_IGN[1]:g}, Z={X_IGN[2]:g}, TIME={T_IGN:g}
*VELUNOR TIME CONTROL, DT=1.0E-6, TIME={END_TIME:.6E}, STEPS=100000, SAFETY={SAFETY}
*VELUNOR OUTPUT, INTERVAL=1
"""


def main(argv):
    ap = argparse.ArgumentParser()
    ap.add_argument("--no-figure", action="store_true")
    args = ap.parse_args(argv)
    deck = sc.write_deck("detonation_arrival.inp", deck_text())
    run = sc.run_deck(deck)
    first = run.particles(run.steps[0])
    x0 = np.stack([first["x"], first["y"], first["z"]], axis=1)  # no force acts before the burn
    ids = first["id"].astype(int)
    expected = T_IGN + np.linalg.norm(x0 - np.asarray(X_IGN), axis=1) / D
    t_det = first["explosive_detonation_time"]
    err_assigned = np.max(np.abs(t_det - expected))

    starts = {}  # particle id -> burn starts seen while burning
    for step in run.steps:
        p = run.particles(step)
        t = run.time(step)
        lam = p["explosive_lambda"]
        for n in np.nonzero((lam > 0) & (lam < 1))[0]:
            starts.setdefault(int(p["id"][n]), []).append(t - lam[n] * BURN_TIME)
    phases = run.particles(run.steps[-1])["phase"]
    run.remove()
    order = {i: n for n, i in enumerate(ids)}
    seen = np.array(sorted(starts))
    observed = np.array([np.mean(starts[i]) for i in seen])
    spread = max(np.ptp(starts[i]) for i in seen)
    err_observed = np.max(np.abs(observed - expected[[order[i] for i in seen]]))
    print(f"deck {deck.relative_to(sc.REPO)}, {len(ids)} particles, {len(run.steps)} frames")
    print(f"detonation time column vs t_ign + |x0 - x_ign|/D: max |error| = {err_assigned:.3e} s "
          f"(largest arrival {expected.max():.6e} s)")
    print(f"burn start t - lambda tb from {len(seen)} burning particles: max |error| = "
          f"{err_observed:.3e} s (spread within one particle {spread:.3e} s)")
    print(f"fully burnt and converted to gas at the end: {int(np.sum(phases == 2))} of {len(ids)}")

    if not args.no_figure:
        import matplotlib
        matplotlib.use("Agg")
        import matplotlib.pyplot as plt
        fig, ax = plt.subplots(figsize=(7, 4.2))
        dist = np.linalg.norm(x0 - np.asarray(X_IGN), axis=1)
        line = np.linspace(0, dist.max(), 2)
        ax.plot(line, 1e6 * (T_IGN + line / D), "k-", lw=1, label="t_ign + |x0 - x_ign| / D")
        ax.plot(dist, 1e6 * t_det, "o", ms=5, mfc="none", label="explosive_detonation_time (CSV)")
        ax.plot(dist[[order[i] for i in seen]], 1e6 * observed, "x", ms=4,
                label="burn start t - lambda tb (burning frames)")
        ax.set_xlabel("distance from the ignition point [m]")
        ax.set_ylabel("detonation time [us]")
        ax.set_title(f"programmed burn, D = {D:g} m/s, ignition at t = {1e6 * T_IGN:g} us")
        ax.legend(fontsize=8)
        fig.tight_layout()
        sc.FIGURES.mkdir(parents=True, exist_ok=True)
        fig.savefig(sc.FIGURES / "detonation_arrival.png", dpi=110)
        print(f"figure {(sc.FIGURES / 'detonation_arrival.png').relative_to(sc.REPO)}")


if __name__ == "__main__":
    main(sys.argv[1:])
