#!/usr/bin/python3
"""Gas shock tube (Riemann problem) against its exact solution.

Why this problem and this reference:
- The deck language has no walls or periodic boundaries for gas (gas
  particles see only gas particles), so the "tube" is a free block of gas
  of length 2 HALF and square cross-section WIDTH. Its ends and sides are free
  surfaces from which release waves run in at the sound speed; the block is
  long and wide enough that none of them reaches the compared core (the
  particles within CORE of the axis, between the ends) by END_TIME:
  the side release needs WIDTH/2 / a_L, the end release HALF / a_L.
- The gas phase does no compression work: e stays at E0 on every particle
  and p = (gamma - 1) rho e, so each gas is isothermal with its own sound
  speed a^2 = (gamma - 1) E0. The adiabatic Sod solution does not apply; the
  exact solution is that of the isothermal Riemann problem with a different
  a on each side of the contact (solved below with a small Newton iteration).
- Both sides start at the same density on the same lattice (the particle
  mass, h and volume are the same for all gas particles); the pressure jump
  comes from E0: p_L / p_R = E0_L / E0_R = 4.

Isothermal relations (per side K, a = a_K): a shock from rho_K to rho has
|du| = a (sqrt(r) - 1/sqrt(r)) with r = rho / rho_K and runs at
u_K + a sqrt(r) relative to the still gas; a rarefaction has
|du| = a ln(rho_K / rho), its fan u = x/t + a, rho = rho_K exp(-u / a).

Usage: /usr/bin/python3 tools/validation/gas_shock_tube.py [--dx DX] [--no-figure]
Generates the deck in a temporary directory (tens of thousands of nodes),
writes docs/validation/gas_shock_tube.png, and prints the L1 errors of density,
velocity and pressure in the core and the star-state values.
"""
import argparse
import math
import shutil
import sys
import tempfile

import numpy as np

import solid_common as sc

GAMMA = 1.4
RHO0 = 1.0
P_LEFT, P_RIGHT = 1.0, 0.25
E_LEFT = P_LEFT / ((GAMMA - 1) * RHO0)
E_RIGHT = P_RIGHT / ((GAMMA - 1) * RHO0)
A_LEFT = math.sqrt((GAMMA - 1) * E_LEFT)
A_RIGHT = math.sqrt((GAMMA - 1) * E_RIGHT)
HALF = 0.7          # the block spans -HALF..HALF along x
WIDTH = 0.75        # square cross-section
END_TIME = 0.3
SAFETY = 0.5
WINDOW = 0.35       # L1 errors over |x| <= WINDOW, inside both end releases


def wave_change(p, p_k, a):
    """Velocity change across the wave of side K towards pressure p
    (positive for a shock), and its derivative in p."""
    if p > p_k:
        r = p / p_k
        return a * (math.sqrt(r) - 1 / math.sqrt(r)), a * (0.5 / math.sqrt(r) + 0.5 * r ** -1.5) / p_k
    return a * math.log(p / p_k), a / p


def star_state():
    """Pressure and velocity between the two waves (both sides start at rest)."""
    p = math.sqrt(P_LEFT * P_RIGHT)
    for _ in range(50):
        fl, dl = wave_change(p, P_LEFT, A_LEFT)
        fr, dr = wave_change(p, P_RIGHT, A_RIGHT)
        step = (fl + fr) / (dl + dr)
        p -= step
        if abs(step) < 1e-15 * p:
            break
    fl, _ = wave_change(p, P_LEFT, A_LEFT)
    fr, _ = wave_change(p, P_RIGHT, A_RIGHT)
    return p, 0.5 * (fr - fl)


def exact(xi):
    """Density, velocity and pressure at x/t = xi (arrays)."""
    ps, us = star_state()
    rho_l, rho_r = ps / A_LEFT ** 2, ps / A_RIGHT ** 2
    xi = np.asarray(xi, dtype=float)
    rho = np.empty_like(xi)
    u = np.empty_like(xi)
    # Left: rarefaction (ps < P_LEFT here) from -a_L to us - a_L.
    head, tail = -A_LEFT, us - A_LEFT
    left = xi < head
    fan = (xi >= head) & (xi < tail)
    star_l = (xi >= tail) & (xi < us)
    rho[left], u[left] = RHO0, 0.0
    u[fan] = xi[fan] + A_LEFT
    rho[fan] = RHO0 * np.exp(-u[fan] / A_LEFT)
    rho[star_l], u[star_l] = rho_l, us
    # Right: shock at a_R sqrt(rho_r / RHO0).
    shock = A_RIGHT * math.sqrt(rho_r / RHO0)
    star_r = (xi >= us) & (xi < shock)
    right = xi >= shock
    rho[star_r], u[star_r] = rho_r, us
    rho[right], u[right] = RHO0, 0.0
    a2 = np.where(xi < us, A_LEFT ** 2, A_RIGHT ** 2)
    return rho, u, a2 * rho, shock


def deck_text(dx, integrator="DEFAULT"):
    h = 1.3 * dx
    nh = int(round(HALF / dx))
    nw = int(round(WIDTH / dx))
    y0 = -(nw - 1) / 2 * dx
    left = sc.lattice_nodes(nh, nw, nw, dx, origin=(-HALF + 0.5 * dx, y0, y0))
    right = sc.lattice_nodes(nh, nw, nw, dx, origin=(0.5 * dx, y0, y0))
    nl = len(left)
    return f"""** Velunor validation deck: isothermal gas shock tube in a free block,
** written by tools/validation/gas_shock_tube.py (dx = {dx:g}).
*NODE
{sc.node_lines(left)}{sc.node_lines(right, nl + 1)}*NSET, NSET=LEFT, GENERATE
1, {nl}
*NSET, NSET=RIGHT, GENERATE
{nl + 1}, {nl + len(right)}
*MATERIAL, NAME=HighGas, TYPE=GAS
*DENSITY
{RHO0:g}
*VELUNOR EOS, TYPE=IDEAL_GAS, MATERIAL=HighGas, GAMMA={GAMMA:g}, E0={E_LEFT:.17g}
*MATERIAL, NAME=LowGas, TYPE=GAS
*DENSITY
{RHO0:g}
*VELUNOR EOS, TYPE=IDEAL_GAS, MATERIAL=LowGas, GAMMA={GAMMA:g}, E0={E_RIGHT:.17g}
*GAS SECTION, NSET=LEFT, MATERIAL=HighGas
*GAS SECTION, NSET=RIGHT, MATERIAL=LowGas
*VELUNOR PARTICLE CONTROL, H={h:.10g}, MASS={RHO0 * dx ** 3:.10g}, VOLUME={dx ** 3:.10g}
*VELUNOR TIME CONTROL, DT=1.0E-2, TIME={END_TIME:g}, STEPS=100000, SAFETY={SAFETY}, INTEGRATOR={integrator}
*VELUNOR OUTPUT, INTERVAL=100000
"""


def main(argv):
    ap = argparse.ArgumentParser()
    ap.add_argument("--dx", type=float, default=0.025)
    ap.add_argument("--no-figure", action="store_true")
    ap.add_argument("--integrator", default="DEFAULT", choices=("DEFAULT", "VERLET"))
    args = ap.parse_args(argv)
    dx = args.dx
    # Tens of thousands of nodes: the deck is generated, not kept.
    tmp = tempfile.mkdtemp(prefix="velunor_val_deck_")
    deck = sc.write_deck(f"gas_shock_tube_{dx:g}.inp", deck_text(dx, args.integrator), tmp)
    run = sc.run_deck(deck)
    last = run.steps[-1]
    t = run.time(last)
    p = run.particles(last)
    run.remove()
    shutil.rmtree(tmp, ignore_errors=True)
    # The rows nearest the axis (one row for an odd count across, four for even).
    core = (np.abs(p["y"]) < 1.01 * dx) & (np.abs(p["z"]) < 1.01 * dx) & (p["phase"] == 2)
    x = p["x"][core]
    order = np.argsort(x)
    x = x[order]
    rho, u, pr = p["rho"][core][order], p["vx"][core][order], p["pressure"][core][order]
    rho_e, u_e, p_e, shock = exact(x / t)
    ps, us = star_state()
    # L1 errors per unit length over the window the waves span.
    win = np.abs(x) <= WINDOW
    lengths = np.gradient(x)[win]

    def l1(a, b):
        return float(np.sum(np.abs(a[win] - b[win]) * lengths) / np.sum(lengths))

    # Star plateau: the particles between the rarefaction tail and the
    # contact, 2 h (the kernel support) away from both.
    h = 1.3 * dx
    plat = (x > (us - A_LEFT) * t + 2 * h) & (x < us * t - 2 * h)
    print(f"deck {deck.name}, dx = {dx:g}, h = {h:g}, {len(p['x'])} particles, t = {t:g}, "
          f"{int(np.sum(core))} core particles")
    print(f"exact: p* = {ps:.5f}, u* = {us:.5f}, shock speed {shock:.5f}, "
          f"rarefaction head -{A_LEFT:.5f}, tail {us - A_LEFT:.5f}")
    print(f"L1 over |x| <= {WINDOW:g}: density {l1(rho, rho_e):.4f} (jump {ps / A_RIGHT**2 - RHO0:.3f}), "
          f"velocity {l1(u, u_e):.4f} (u* {us:.3f}), pressure {l1(pr, p_e):.4f}")
    print(f"star plateau ({int(np.sum(plat))} particles): mean p {np.mean(pr[plat]):.5f} "
          f"({100 * (np.mean(pr[plat]) / ps - 1):+.2f} %), mean u {np.mean(u[plat]):.5f} "
          f"({100 * (np.mean(u[plat]) / us - 1):+.2f} %)")
    # Shock position: where the density first falls to halfway between the
    # post-shock and the still state, searching from the right.
    mid = 0.5 * (ps / A_RIGHT ** 2 + RHO0)
    ahead = np.nonzero(rho > mid)[0]
    n = ahead[-1]
    xs = x[n] + (mid - rho[n]) / (rho[n + 1] - rho[n]) * (x[n + 1] - x[n])
    print(f"shock position {xs:.4f} m vs exact {shock * t:.4f} m: error {xs - shock * t:+.4f} m "
          f"= {(xs - shock * t) / h:+.2f} h")

    if not args.no_figure:
        import matplotlib
        matplotlib.use("Agg")
        import matplotlib.pyplot as plt
        fig, axes = plt.subplots(1, 3, figsize=(13, 4))
        xx = np.linspace(-WINDOW, WINDOW, 2001)
        ex = exact(xx / t)
        for ax, sim, ref, label in zip(axes, (rho, u, pr), ex[:3], ("density", "velocity", "pressure")):
            ax.plot(x, sim, ".", ms=3, label=f"Velunor, dx = {dx:g} (core particles)")
            ax.plot(xx, ref, "k-", lw=1, label="exact isothermal Riemann")
            ax.set_xlabel("x")
            ax.set_title(f"{label} at t = {t:g}")
            ax.set_xlim(-WINDOW, WINDOW)
        axes[0].legend(fontsize=8)
        fig.tight_layout()
        sc.FIGURES.mkdir(parents=True, exist_ok=True)
        fig.savefig(sc.FIGURES / "gas_shock_tube.png", dpi=110)
        print(f"figure {(sc.FIGURES / 'gas_shock_tube.png').relative_to(sc.REPO)}")


if __name__ == "__main__":
    main(sys.argv[1:])
