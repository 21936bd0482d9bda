#!/usr/bin/env python3
"""Writes examples/plate_impact.inp: a steel ball that strikes a steel plate
at 300 m/s. Run it with

    velunor run examples/plate_impact.inp --output out/plate_impact
"""
import math
import pathlib

DX = 0.002                # spacing of both bodies [m]
PX, PY, PZ = 30, 30, 4    # plate particles along x, y and through the thickness
R = 3                     # ball radius in spacings
V = 300.0                 # impact speed, along -z [m/s]
RHO = 7850.0              # [kg/m3]
E, NU = 2.0e11, 0.3
SAFETY = 0.3
END_TIME = 3.0e-5         # [s]
INTERVAL = 20

PLATE = PX * PY * PZ
BALL = [(i, j, k)
        for k in range(-R, R + 1)
        for j in range(-R, R + 1)
        for i in range(-R, R + 1)
        if i * i + j * j + k * k <= R * R]
COUNT = PLATE + len(BALL)
H = 1.3 * DX
C = math.sqrt((E / (3 * (1 - 2 * NU)) + 4 / 3 * E / (2 * (1 + NU))) / RHO)
DT = SAFETY * H / (C + V)  # the solid limit h / (c + |v|) times SAFETY

HEADER = f"""** Velunor example: a steel ball strikes a steel plate.
**
** A plate of {PX} x {PY} x {PZ} solid particles ({PX * DX * 1000:.0f} x {PY * DX * 1000:.0f} x {PZ * DX * 1000:.0f} mm, top face at
** z = 0) and a ball of {len(BALL)} particles ({(2 * R + 1) * DX * 1000:.0f} mm across) just above its centre,
** both 4340 steel at the real density {RHO:g} kg/m3 on a {DX * 1000:.0f} mm lattice
** (*VELUNOR SOLID CONTROL: H = {H * 1000:.1f} mm, VOLUME = spacing^3, so each particle
** has mass {RHO * DX ** 3 * 1e6:.1f} mg), with Johnson-Cook flow (A 792 MPa, B 510 MPa,
** n 0.26, C 0.014, m 1.03) and Johnson-Cook failure (D1..D5 -0.8, 2.1,
** -0.5, 0.002, 0.61). The ball starts at {V:g} m/s toward the plate
** (*INITIAL CONDITIONS on its generated node set).
**
** How the bodies meet: solid particles interact only with their reference
** neighbors, the solid particles within 2 h of them at the start; there is
** no contact between bodies. The ball's lowest particles lie one spacing above
** the plate, so the lower part of the ball and the top of the plate below it
** are joined from the start, and the strike acts through these joins.
**
** What to look at (frames every {INTERVAL} steps at the start, about {INTERVAL * DT * 1e6:.1f} microseconds):
** the CSV columns solid_plastic_strain, solid_damage and solid_failure_status
** (2 for a failed particle, whose phase becomes 8), and the solid lines of
** the `velunor run` summary (active and failed counts, kinetic and internal
** energy, largest von Mises stress, plastic strain and damage ranges).
**
** What the run gives: the strike goes through the joins. The ball slows
** from 300 m/s (kinetic energy 348 J) while the plate under it takes up
** momentum; at the end (30 microseconds) kinetic energy is 22 J and internal
** energy 287 J (the rest went with the 16 particles that failed), the
** plastic strain reaches 0.62 in the joined region and the damage of the
** particles left 0.40, the largest von Mises stress is 1.15 GPa. Solid
** momentum stays balanced by the pair forces (the momentum in z is the
** ball's, minus what failed particles took out of the count).
**
** The step is the solid limit h / (c + |v|) (c = {C:.0f} m/s) times SAFETY
** {SAFETY}: {DT * 1e9:.0f} ns at the start, shorter as the particles speed up.
**
** Written by examples/make_plate_impact.py.
"""

TAIL = f"""*NSET, NSET=PLATE, GENERATE
1, {PLATE}
*NSET, NSET=BALL, GENERATE
{PLATE + 1}, {COUNT}
*MATERIAL, NAME=Steel, TYPE=SOLID
*DENSITY
{RHO:g}
*ELASTIC
{E:g}, {NU}
*PLASTIC
792e6, 510e6, 0.26, 0.014, 1.03, 1.0, 293, 1793
*DAMAGE INITIATION
-0.8, 2.1, -0.5, 0.002, 0.61
*SOLID SECTION, NSET=PLATE, MATERIAL=Steel
*SOLID SECTION, NSET=BALL, MATERIAL=Steel
*VELUNOR SOLID CONTROL, MATERIAL=Steel, H={H:.6g}, VOLUME={DX ** 3:.6g}
*INITIAL CONDITIONS, TYPE=VELOCITY
BALL, 3, {-V:g}
*VELUNOR TIME CONTROL, DT=1.0E-6, TIME={END_TIME:.1E}, STEPS=100000, SAFETY={SAFETY}
*VELUNOR OUTPUT, INTERVAL={INTERVAL}
"""


def main():
    lines = [HEADER, "*NODE\n"]
    node = 0
    for k in range(PZ):
        for j in range(PY):
            for i in range(PX):
                node += 1
                x = (i - (PX - 1) / 2.0) * DX
                y = (j - (PY - 1) / 2.0) * DX
                z = (k - (PZ - 1)) * DX
                lines.append(f"{node}, {x:.6f}, {y:.6f}, {z:.6f}\n")
    for i, j, k in BALL:  # centre R + 1 spacings above the top face
        node += 1
        lines.append(f"{node}, {i * DX:.6f}, {j * DX:.6f}, {(k + R + 1) * DX:.6f}\n")
    lines.append(TAIL)
    out = pathlib.Path(__file__).with_name("plate_impact.inp")
    out.write_text("".join(lines), newline="\n")


if __name__ == "__main__":
    main()
