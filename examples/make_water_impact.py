#!/usr/bin/env python3
"""Writes examples/water_impact.inp: two water blocks that collide head-on.
Run it with

    velunor run examples/water_impact.inp --output out/water_impact
"""
import pathlib

NX, NY, NZ = 10, 20, 20  # particles of one block along x (impact axis), y, z
DX = 0.01                # spacing [m]
RHO0 = 1000.0            # [kg/m3]
C0 = 1480.0              # [m/s]
V = 2.0                  # speed of each block toward the other [m/s]
COUNT = NX * NY * NZ

HEADER = f"""** Velunor example: head-on impact of two water blocks.
**
** Two blocks of {NX} x {NY} x {NZ} water particles ({NX * DX * 1000:.0f} x {NY * DX * 1000:.0f} x {NZ * DX * 1000:.0f} mm, spacing
** {DX * 1000:.0f} mm) move toward each other along x at {V:g} m/s each and touch at
** x = 0 at the start. The contact plane stays at rest; a compression wave
** runs into each block at the sound speed and behind it the water is at rest
** at the acoustic impact pressure rho0 c0 v = {RHO0 * C0 * V / 1e6:.2f} MPa, until release
** waves from the free side faces (after about {NY * DX / 2 / C0 * 1e6:.0f} microseconds at the
** axis) and from the far ends take it back. Total momentum stays zero.
**
** The contact pressure, taken as the impulse per area and time that the
** water near the axis receives (the momentum it has lost), stays within 10 %
** of rho0 c0 v from about 13 microseconds on; the pressure of the particle
** layers at the contact overshoots it by up to 30 % while the contact forms
** over a kernel width, as smoothed particles do.
**
** The blocks are generated node sets, the velocities initial conditions.
**
** Written by examples/make_water_impact.py.
"""

TAIL = f"""*NSET, NSET=LEFT, GENERATE
1, {COUNT}
*NSET, NSET=RIGHT, GENERATE
{COUNT + 1}, {2 * COUNT}
*NSET, NSET=BLOCKS, GENERATE
1, {2 * COUNT}
*MATERIAL, NAME=Water, TYPE=WATER
*DENSITY
{RHO0}
*FLUID SECTION, NSET=BLOCKS, MATERIAL=Water
*INITIAL CONDITIONS, TYPE=VELOCITY
LEFT, 1, {V}
RIGHT, 1, {-V}
*VELUNOR EOS, TYPE=TAIT, MATERIAL=Water, RHO0={RHO0}, C0={C0}, GAMMA=7.0
*VELUNOR VISCOSITY, TYPE=MONAGHAN, MATERIAL=Water, ALPHA=1.0, BETA=0.0, ETA2=0.01
*VELUNOR PARTICLE CONTROL, H={1.3 * DX:.4f}, MASS={RHO0 * DX**3:.6g}, VOLUME={DX**3:.6g}
** The smallest stable step times SAFETY (about 2.2 microseconds) is used.
** INTEGRATOR=VERLET steps with velocity Verlet, which does not amplify
** the undamped sound waves as the documented scheme does.
*VELUNOR TIME CONTROL, DT=1.0E-5, TIME=6.0E-5, STEPS=100, SAFETY=0.25, INTEGRATOR=VERLET
*VELUNOR OUTPUT, INTERVAL=5
"""


def main():
    lines = [HEADER, "*NODE\n"]
    node = 0
    for side in (-1, 1):  # left block first
        for k in range(NZ):
            for j in range(NY):
                for i in range(NX):
                    node += 1
                    x = side * (0.5 + i) * DX
                    y = (j - (NY - 1) / 2.0) * DX
                    z = (k - (NZ - 1) / 2.0) * DX
                    lines.append(f"{node}, {x:.4f}, {y:.4f}, {z:.4f}\n")
    lines.append(TAIL)
    out = pathlib.Path(__file__).with_name("water_impact.inp")
    out.write_text("".join(lines), newline="\n")


if __name__ == "__main__":
    main()
