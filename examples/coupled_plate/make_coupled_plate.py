#!/usr/bin/env python3
"""Writes examples/coupled_plate/coupled_plate.inp: a pressurized water block on
a shell plate whose facets form a coupling region. Run it with the example host

    build/release/examples/coupled_plate/coupled_plate examples/coupled_plate/coupled_plate.inp
"""
import pathlib

N = 16                # plate facets and water particles along x and y
NZ = 4                # water layers above the plate
DX = 0.1              # spacing [m]
RHO0 = 1000.0         # [kg/m3]
C0 = 1480.0           # [m/s]
P0 = 1.0e6            # background pressure of the water [Pa]
ALPHA = 0.5
SAFETY = 0.25
DT = 1.0e-5           # bounds the step: the stable one, h / (c0 (1 + ALPHA)) x SAFETY, is longer
THICKNESS = 0.0127    # steel at 7850 kg/m3 of this thickness weighs 1 kg per facet of DX^2

PLATE = N * N
WATER = N * N * NZ
H = 1.3 * DX
DT_STABLE = SAFETY * H / (C0 * (1.0 + ALPHA))

HEADER = f"""** Velunor example: a water block on a shell plate, coupled through the host.
**
** A plate of {N} x {N} shell particles ({N * DX:.1f} m square, spacing {DX:g} m, in z = 0,
** director +z) carries a block of {N} x {N} x {NZ} water particles whose lowest layer
** lies one spacing above it. The water starts at rest at the reference density
** with the background pressure P0 = {P0 / 1e6:g} MPa and is released into vacuum on
** its top and sides. The plate's {(N - 1) ** 2} quadrilaterals give every facet its
** reference area (a share of the elements holding it: {DX * DX:g} m2 inside, half on an
** edge, a quarter at a corner); each shell particle has the default mass of 1 kg.
**
** Velunor's water and shell particles do not act on each other in a step; the
** host carries the loads across (examples/coupled_plate/coupled_plate.c). Two
** coupling regions:
**   PLATE  the 256 shell particles: facets and particles exported, facet
**          loads imported (area distribution);
**   WET    the 256 water particles of the lowest layer, one above each facet:
**          particles exported, motion imported.
** Every step the host reads both exports; its mock structural solver puts
** every inner facet on a spring to its rest position and loads it with the
** pressure of the water particle above it, and clamps the edge facets; it
** sends the facet resultants, velocity targets of 0 for the clamped facets
** and, for the wet layer, the velocity of the facet below, so that the water
** sees the plate move.
**
** The step is DT = {DT:g} s (the stable step {DT_STABLE:.3g} s is longer).
**
** What the run gives (coupled_plate with its defaults: 100 steps, K = 1e7
** N/m): the pressure of the wet layer rings between about +1.7 and -2.3 MPa
** as release waves run through the 0.4 m of water (the water takes tension,
** there is no cavitation), and the centre facet follows between -0.24 and
** +0.17 mm; the load balance closes exactly and the plate's momentum is the
** impulse that the imports put in.
**
** Written by examples/coupled_plate/make_coupled_plate.py.
"""

ELEMENT_COUNT = (N - 1) * (N - 1)
TAIL = f"""*NSET, NSET=PLATE, GENERATE
1, {PLATE}
*NSET, NSET=WET, GENERATE
{PLATE + 1}, {PLATE + N * N}
*NSET, NSET=WATER, GENERATE
{PLATE + 1}, {PLATE + WATER}
*ELSET, ELSET=PLATE_E, GENERATE
1, {ELEMENT_COUNT}
*MATERIAL, NAME=Water, TYPE=WATER
*DENSITY
{RHO0:g}
*FLUID SECTION, NSET=WATER, MATERIAL=Water
*MATERIAL, NAME=Steel, TYPE=SHELL
*DENSITY
7850
*ELASTIC
2e11, 0.3
*SHELL SECTION, ELSET=PLATE_E, MATERIAL=Steel, THICKNESS={THICKNESS:g}
*VELUNOR SHELL DIRECTOR, SET=PLATE, NX=0, NY=0, NZ=1
*VELUNOR EOS, TYPE=TAIT, MATERIAL=Water, RHO0={RHO0:g}, C0={C0:g}, GAMMA=7.0, P0={P0:.1E}
*VELUNOR VISCOSITY, TYPE=MONAGHAN, MATERIAL=Water, ALPHA={ALPHA:g}, BETA=0.0, ETA2=0.01
*VELUNOR PARTICLE CONTROL, H={H:.4f}, MASS={RHO0 * DX ** 3:g}, VOLUME={DX ** 3:g}
*VELUNOR TIME CONTROL, DT={DT:.1E}, TIME=1.0E-3, STEPS=100, SAFETY={SAFETY:g}
*VELUNOR COUPLING REGION, NAME=PLATE, NSET=PLATE, EXPORT=BOTH, IMPORT=FACET_LOAD, DISTRIBUTION=AREA
*VELUNOR COUPLING REGION, NAME=WET, NSET=WET, EXPORT=PARTICLE, IMPORT=MOTION
"""


def main():
    lines = [HEADER, "*NODE\n"]
    half = (N - 1) * DX / 2.0
    node = 0
    for k in range(NZ + 1):  # layer 0 is the plate
        for j in range(N):
            for i in range(N):
                node += 1
                lines.append(f"{node}, {i * DX - half:.4f}, {j * DX - half:.4f}, {k * DX:.4f}\n")
    lines.append("*ELEMENT, TYPE=S4\n")
    element = 0
    for j in range(N - 1):
        for i in range(N - 1):
            element += 1
            n1 = j * N + i + 1
            # Counter-clockwise seen from +z, so the area vectors point along +z.
            lines.append(f"{element}, {n1}, {n1 + 1}, {n1 + N + 1}, {n1 + N}\n")
    lines.append(TAIL)
    out = pathlib.Path(__file__).with_name("coupled_plate.inp")
    out.write_text("".join(lines), newline="\n")


if __name__ == "__main__":
    main()
