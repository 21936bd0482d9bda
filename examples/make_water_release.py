#!/usr/bin/env python3
"""Writes examples/water_release.inp: a cube of water pre-loaded to 10 MPa,
released into vacuum. Run it with

    velunor run examples/water_release.inp --output out/water_release --interval 10
"""
import pathlib

N = 16          # particles per edge
DX = 0.01       # spacing [m]
RHO0 = 1000.0   # [kg/m3]

HEADER = f"""** Velunor example: release of a pressurized water cube.
**
** A {N} x {N} x {N} cube of water particles ({N * DX * 1000:.0f} mm edge, spacing {DX * 1000:.0f} mm) starts
** at rest at the reference density with a background pressure P0 = 1 MPa
** and is released into vacuum. Release waves run in from the six faces at
** the sound speed, the faces move outward at about P0 / (rho0 c0) = 0.7 m/s
** and the density falls below rho0 behind the waves. The waves meet at the
** centre after about 54 microseconds and put the water there in tension.
** Total momentum stays zero.
**
** Every node without a section keeps the first material (Water), so the
** section below only needs to name it; a node set holds at most 64 ids.
**
** Written by examples/make_water_release.py.
"""

TAIL = f"""*NSET, NSET=FIRST
1
*MATERIAL, NAME=Water, TYPE=WATER
*DENSITY
{RHO0}
*FLUID SECTION, NSET=FIRST, MATERIAL=Water
*VELUNOR EOS, TYPE=TAIT, MATERIAL=Water, RHO0={RHO0}, C0=1480.0, GAMMA=7.0, P0=1.0E6
*VELUNOR VISCOSITY, TYPE=MONAGHAN, MATERIAL=Water, ALPHA=0.5, BETA=0.0, ETA2=0.01
*VELUNOR PARTICLE CONTROL, H={1.3 * DX:.4f}, MASS={RHO0 * DX**3:.6g}, VOLUME={DX**3:.6g}
** DT bounds the step; the smallest stable step, h / (c0 (1 + ALPHA)), times
** SAFETY (about 1.5 microseconds) is used. STEPS is the step limit of one
** run call. INTEGRATOR=VERLET steps with velocity Verlet, which keeps the
** energy of the sound waves that the documented scheme amplifies (run ten
** times longer, that scheme ends with 1e4 J of kinetic energy; this one keeps
** losing energy to the artificial viscosity).
*VELUNOR TIME CONTROL, DT=1.0E-5, TIME=1.5E-4, STEPS=20, SAFETY=0.25, INTEGRATOR=VERLET
*VELUNOR OUTPUT, INTERVAL=10
"""


def main():
    lines = [HEADER, "*NODE\n"]
    node = 0
    half = (N - 1) * DX / 2.0
    for k in range(N):
        for j in range(N):
            for i in range(N):
                node += 1
                x, y, z = (i * DX - half, j * DX - half, k * DX - half)
                lines.append(f"{node}, {x:.4f}, {y:.4f}, {z:.4f}\n")
    lines.append(TAIL)
    out = pathlib.Path(__file__).with_name("water_release.inp")
    out.write_text("".join(lines), newline="\n")


if __name__ == "__main__":
    main()
