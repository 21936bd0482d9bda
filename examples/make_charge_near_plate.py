#!/usr/bin/env python3
"""Writes examples/charge_near_plate.inp: a small charge of TNT-like explosive
detonated above a steel plate, whose products load the plate through a blast
region. Run it with

    velunor run examples/charge_near_plate.inp --output out/charge_near_plate
"""
import math
import pathlib

# Charge: explosive particles keep the database's 1 kg and h = 1 m (no deck
# keyword sets them), so the spacing makes 1 kg = rho dx^3.
CN = 3                    # charge particles per edge
RHO_HE = 1630.0           # [kg/m3]
D = 6930.0                # detonation velocity [m/s]
Q = 4.3e6                 # chemical energy [J/kg]
BURN_TIME = 4.0e-6        # [s]
HE_DX = (1.0 / RHO_HE) ** (1.0 / 3.0)
A, B, R1, R2, OMEGA = 3.7e11, 3.2e9, 4.15, 0.95, 0.3
P_CJ = A * math.exp(-R1) + B * math.exp(-R2) + OMEGA * Q

# Plate: steel at the real density on its own lattice, below the charge.
DX = 0.02                 # plate spacing [m]
PX, PY, PZ = 30, 30, 3    # particles along x, y and through the thickness
RHO = 7850.0
E, NU = 2.0e11, 0.3
STANDOFF = 0.3            # charge centre to the plate's top face [m]

RADIUS = 0.6              # blast sphere around the charge centre [m]
SCALE = 0.05
SAFETY = 1.0
END_TIME = 1.0e-4         # [s]
INTERVAL = 10

CHARGE = CN ** 3
PLATE = PX * PY * PZ
COUNT = CHARGE + PLATE
H = 1.3 * DX
C = math.sqrt((E / (3 * (1 - 2 * NU)) + 4 / 3 * E / (2 * (1 + NU))) / RHO)

P_REGION = SCALE * P_CJ
F_PARTICLE = P_REGION * (DX ** 3) ** (2.0 / 3.0)
CORNER = math.sqrt(2 * ((PX - 1) / 2 * DX) ** 2 + (STANDOFF + (PZ - 1) * DX) ** 2)

HEADER = f"""** Velunor example: a small charge detonates above a steel plate.
**
** A cube of {CHARGE} TNT-like explosive particles ({CHARGE:g} kg, {CN} x {CN} x {CN} at {HE_DX * 1000:.0f} mm, density
** {RHO_HE:g} kg/m3, D = {D:g} m/s, {Q / 1e6:g} MJ/kg) is ignited at its centre at t = 0; each
** particle burns over {BURN_TIME * 1e6:g} microseconds after the front reaches it and turns into
** JWL product gas at {P_CJ / 1e9:.2f} GPa (CONVERSION=PHASE); all are gas from 25 microseconds on.
** {STANDOFF:g} m below the charge centre lies a steel plate of {PX} x {PY} x {PZ} solid particles
** ({PX * DX * 1000:.0f} x {PY * DX * 1000:.0f} x {PZ * DX * 1000:.0f} mm, spacing {DX * 1000:.0f} mm, real density {RHO:g} kg/m3, H = {H * 1000:.0f} mm, mass
** {RHO * DX ** 3 * 1000:.1f} g a particle) with Johnson-Cook flow (A 792 MPa, B 510 MPa, n 0.26).
**
** The products touch no solid: the plate is loaded only by the blast region,
** a sphere of radius {RADIUS:g} m around the charge centre that holds the charge and
** the whole plate (farthest plate particle {CORNER:.2f} m away). Its pressure is the
** mean pressure of the gas particles inside times SCALE, {SCALE:g} x {P_CJ / 1e9:.2f} GPa =
** {P_REGION / 1e6:.0f} MPa, from the first burnt particle (4 microseconds) on, and it pushes every
** plate particle away from the centre with {P_REGION / 1e6:.0f} MPa x spacing^2 = {F_PARTICLE / 1e3:.0f} kN.
**
** What the run shows (frames every {INTERVAL} steps, {INTERVAL * BURN_TIME / 4 * SAFETY * 1e6:g} microseconds; particle CSV
** columns blast_solid_fx/fy/fz, vx/vy/vz, solid_plastic_strain):
** - blast_solid_fz is -141 kN under the charge and -83.5 kN at the plate
**   corners, where the direction from the centre tilts outward (blast_solid_fx
**   up to +-98 kN); the plate takes 310 MN in all.
** - The plate moves away from the charge and dishes: at the end the centre
**   particle runs at vz = -232 m/s, the corners at -137 m/s (vx -52 m/s,
**   outward), the mean is -175 m/s (momentum -2.97e4 N s, 310 MN over 96
**   microseconds), and the centre has fallen 4.7 mm behind the corners.
** - Plastic strain starts at about 35 microseconds and reaches 0.048 at the
**   centre of the plate, mean 0.018; 2412 of the {PLATE} particles yield, the
**   corners stay elastic. The `velunor run` summary gives the same range and
**   3.02 MJ kinetic, 0.47 MJ internal energy, and (with --output) the blast
**   region's 2700 loaded targets and its total force of -310 MN in z.
**
** 4340's strain-rate term (C = 0.014) is on: the radial return solves for the
** plastic increment whose rate gives the flow stress it returns to, so the
** plastic strain hardly depends on the step (maximum 0.0479, 0.0476 and
** 0.0475 at SAFETY 1, 0.5 and 0.25).
**
** The step is the stable one, the explosive's limit BURN_TIME / 4 = {BURN_TIME / 4 * SAFETY * 1e6:g}
** microsecond (SAFETY {SAFETY}; the solid limit h / c is {H / C * 1e6:.1f}). The product gas
** material has no section, which the deck reader counts as one warning.
**
** Written by examples/make_charge_near_plate.py.
"""

TAIL = f"""*NSET, NSET=CHARGE, GENERATE
1, {CHARGE}
*NSET, NSET=PLATE, GENERATE
{CHARGE + 1}, {COUNT}
*MATERIAL, NAME=Products, TYPE=GAS
*DENSITY
{RHO_HE:g}
*VELUNOR EOS, TYPE=JWL, MATERIAL=Products, RHO0={RHO_HE:g}, A={A:g}, B={B:g}, R1={R1:g}, R2={R2:g}, OMEGA={OMEGA:g}, E0=1e5
*MATERIAL, NAME=TNT, TYPE=EXPLOSIVE
*DENSITY
{RHO_HE:g}
*CHARGE SECTION, NSET=CHARGE, MATERIAL=TNT
*VELUNOR EXPLOSIVE, MATERIAL=TNT, TYPE=PROGRAMMED_BURN, DETONATION_VELOCITY={D:g}, ENERGY={Q:g}, BURN_TIME={BURN_TIME:g}, PRODUCT_MATERIAL=Products, CONVERSION=PHASE
*VELUNOR IGNITION, MATERIAL=TNT, X=0, Y=0, Z=0, TIME=0
*MATERIAL, NAME=Steel, TYPE=SOLID
*DENSITY
{RHO:g}
*ELASTIC
{E:g}, {NU}
*PLASTIC
792e6, 510e6, 0.26, 0.014, 1.03, 1.0, 293, 1793
*SOLID SECTION, NSET=PLATE, MATERIAL=Steel
*VELUNOR SOLID CONTROL, MATERIAL=Steel, H={H:.6g}, VOLUME={DX ** 3:.6g}
*VELUNOR BLAST REGION, NAME=CHARGE_ON_PLATE, X=0, Y=0, Z=0, RADIUS={RADIUS:g}, SOURCE=GAS, TARGET=SOLID, TARGET_SET=PLATE, SCALE={SCALE:g}
*VELUNOR TIME CONTROL, DT=1.0E-6, TIME={END_TIME:.1E}, STEPS=100000, SAFETY={SAFETY}
*VELUNOR OUTPUT, INTERVAL={INTERVAL}
"""


def main():
    lines = [HEADER, "*NODE\n"]
    node = 0
    half = (CN - 1) / 2.0
    for k in range(CN):
        for j in range(CN):
            for i in range(CN):
                node += 1
                lines.append(f"{node}, {(i - half) * HE_DX:.6f}, {(j - half) * HE_DX:.6f}, "
                             f"{(k - half) * HE_DX:.6f}\n")
    for k in range(PZ):
        for j in range(PY):
            for i in range(PX):
                node += 1
                x = (i - (PX - 1) / 2.0) * DX
                y = (j - (PY - 1) / 2.0) * DX
                z = -STANDOFF - k * DX
                lines.append(f"{node}, {x:.6f}, {y:.6f}, {z:.6f}\n")
    lines.append(TAIL)
    out = pathlib.Path(__file__).with_name("charge_near_plate.inp")
    out.write_text("".join(lines), newline="\n")


if __name__ == "__main__":
    main()
