#!/usr/bin/env python3
"""Writes examples/gas_expansion.inp: a sphere of compressed ideal gas that
expands into vacuum. Run it with

    velunor run examples/gas_expansion.inp --output out/gas_expansion
"""
import math
import pathlib

R = 10          # sphere radius in spacings
DX = 0.01       # spacing [m]
RHO = 10.0      # start density [kg/m3]
GAMMA = 1.4
P = 1.0e6       # start pressure [Pa]
E0 = P / ((GAMMA - 1.0) * RHO)  # specific internal energy [J/kg]
END_TIME = 1.0e-3  # [s]

POINTS = [(i, j, k)
          for k in range(-R, R + 1)
          for j in range(-R, R + 1)
          for i in range(-R, R + 1)
          if i * i + j * j + k * k <= R * R]
COUNT = len(POINTS)
C = math.sqrt(GAMMA * P / RHO)  # adiabatic sound speed
# The library's gas sound speed for the time step: sqrt((|p| + 1) / rho).
C_STEP = math.sqrt((P + 1.0) / RHO)

HEADER = f"""** Velunor example: expansion of a sphere of compressed gas into vacuum.
**
** {COUNT} ideal-gas particles (gamma {GAMMA}) on a cubic lattice of spacing
** {DX * 1000:.0f} mm inside a sphere of radius {R * DX * 1000:.0f} mm start at rest at density
** {RHO:g} kg/m3 with the specific internal energy E0 = {E0:.6g} J/kg, so that
** p = (gamma - 1) rho E0 = {P / 1e6:g} MPa, and expand into vacuum. A release wave runs
** in from the surface and reaches the centre after about R / c = {R * DX / C * 1e6:.0f}
** microseconds (c = sqrt(gamma p / rho) = {C:.0f} m/s); the run covers about {END_TIME / (R * DX / C):.1f}
** of those times. The outer particles reach about 690 m/s and the cloud
** grows from {R * DX * 1000:.0f} mm to about 750 mm (the largest distance of a particle from
** the centre, which `velunor run` prints as "gas radius (max)"). Total
** momentum stays zero and the gas centre stays at the origin.
**
** Two things to know when reading the results:
** - The particles keep their internal energy E0 during the run (no energy
**   equation acts on the gas), so the pressure follows the density, as in an
**   isothermal gas.
** - The smoothing length stays H. Once neighbors are farther apart than the
**   kernel support 2 H (after about 300 microseconds here) the particles no
**   longer see each other: they fly on at constant velocity and keep the
**   density and pressure they had then (about 1.8 to 7.9 kg/m3).
**
** Written by examples/make_gas_expansion.py.
"""

TAIL = f"""*NSET, NSET=SPHERE, GENERATE
1, {COUNT}
*MATERIAL, NAME=Gas, TYPE=GAS
*DENSITY
{RHO}
*FLUID SECTION, NSET=SPHERE, MATERIAL=Gas
*VELUNOR EOS, TYPE=IDEAL_GAS, MATERIAL=Gas, GAMMA={GAMMA}, E0={E0:.6g}
** The gas particles take their mass (rho dx^3), volume and smoothing length
** from here.
*VELUNOR PARTICLE CONTROL, H={1.3 * DX:.4f}, MASS={RHO * DX**3:.6g}, VOLUME={DX**3:.6g}
** DT bounds the step; the gas limit h / (c + |v|) with c = sqrt((|p| + 1) / rho)
** (or sqrt(h / |a|) when smaller) times SAFETY is used: about
** {0.25 * 1.3 * DX / C_STEP * 1e6:.0f} microseconds at the start, about 3 once the outer particles fly at
** full speed; about 300 steps in all. STEPS is the step limit of one run
** call.
*VELUNOR TIME CONTROL, DT=1.0E-4, TIME={END_TIME:.1E}, STEPS=100, SAFETY=0.25
*VELUNOR OUTPUT, INTERVAL=10
"""


def main():
    lines = [HEADER, "*NODE\n"]
    for node, (i, j, k) in enumerate(POINTS, start=1):
        lines.append(f"{node}, {i * DX:.4f}, {j * DX:.4f}, {k * DX:.4f}\n")
    lines.append(TAIL)
    out = pathlib.Path(__file__).with_name("gas_expansion.inp")
    out.write_text("".join(lines), newline="\n")


if __name__ == "__main__":
    main()
