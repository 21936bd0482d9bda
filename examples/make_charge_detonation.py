#!/usr/bin/env python3
"""Writes examples/charge_detonation.inp: a block of TNT-like explosive ignited
at one end, whose burnt particles turn into JWL product gas. Run it with

    velunor run examples/charge_detonation.inp --output out/charge_detonation
"""
import math
import pathlib

NX, NY, NZ = 16, 6, 6     # particles along x (away from the ignition point), y, z
RHO = 1630.0              # charge density [kg/m3]
D = 6930.0                # detonation velocity [m/s]
Q = 4.3e6                 # chemical energy [J/kg]
BURN_TIME = 4.0e-6        # [s]
SAFETY = 0.5
END_TIME = 3.0e-4         # [s]
INTERVAL = 20             # steps between output frames
# Explosive particles keep the particle database's mass (1 kg) and smoothing
# length (1 m): no deck keyword sets them. The spacing makes 1 kg = rho dx^3.
MASS = 1.0
DX = (MASS / RHO) ** (1.0 / 3.0)
COUNT = NX * NY * NZ

# JWL products as the library reads the line: p = A exp(-R1 V) + B exp(-R2 V)
# + OMEGA e / V with V = RHO0 / rho; a burnt particle starts at rho0 with e = Q.
A, B, R1, R2, OMEGA = 3.7e11, 3.2e9, 4.15, 0.95, 0.3
P_CJ = A * math.exp(-R1) + B * math.exp(-R2) + OMEGA * Q
DT = SAFETY * BURN_TIME / 4.0  # the explosive's limit, the smallest here
LENGTH = (NX - 1) * DX
FAR = math.sqrt(LENGTH ** 2 + 2 * ((max(NY, NZ) - 1) / 2 * DX) ** 2)

HEADER = f"""** Velunor example: detonation of a block of TNT-like explosive.
**
** {COUNT} explosive particles ({NX} x {NY} x {NZ}, {LENGTH:.2f} m long, density {RHO:g} kg/m3,
** D = {D:g} m/s, {Q / 1e6:g} MJ/kg) are ignited at t = 0 at the centre of the end face
** x = 0. Each particle detonates at its distance from that point over D and
** then burns over BURN_TIME = {BURN_TIME * 1e6:g} microseconds; fully burnt, it turns into a
** particle of the JWL product gas (CONVERSION=PHASE) at {RHO:g} kg/m3 with
** e = {Q / 1e6:g} MJ/kg, i.e. p = {P_CJ / 1e9:.2f} GPa.
**
** What to look at (frames every {INTERVAL} steps, {INTERVAL * DT * 1e6:g} microseconds):
** - The burn front. In the particle CSV files, explosive_detonation_time is
**   fixed at build (from 8.7 microseconds for the particles next to the
**   ignition point to {FAR / D * 1e6:.0f} at the far corners) and explosive_lambda rises
**   from 0 to 1 over the burn time
**   after it: the particles with 0 < lambda < 1 (4 to 28 of them) form the
**   front, which moves {D * INTERVAL * DT * 1000:.0f} mm along x from frame to frame (mostly one
**   layer of particles) and reaches the far end after {LENGTH / D * 1e6:.0f} microseconds; all
**   particles are gas from step 400 (200 microseconds) on. In ParaView
**   (velunor.pvd) the VTU fields phase (3 explosive, 2 gas) and pressure
**   (0 ahead of the front, {P_CJ / 1e9:.2f} GPa behind it) show the same front.
** - The burn and the product bubble in the summary of `velunor run`: all
**   {COUNT} particles reacted, released mass {COUNT * MASS:g} kg and energy {COUNT * MASS * Q / 1e9:.2f} GJ; all
**   {COUNT} particles are gas, gas mass {COUNT * MASS:g} kg, the equivalent radius of the gas
**   volume (0.44 m), its centre on the axis, the pressure range (7.01 to
**   7.06 GPa) and the cloud's extent (largest distance of a gas particle from
**   the gas centre: 0 at the start, when there is no gas, and 0.72 m at the
**   end). The products have only started to move: the fastest particles
**   reach about 180 m/s and the block grows by about 2 cm in length.
**
** Why the spacing is {DX * 1000:.1f} mm and the products expand so slowly: explosive
** particles take no mass or smoothing length from the deck (*VELUNOR
** PARTICLE CONTROL sets only water and gas particles); they keep the
** database's 1 kg and h = 1 m, and the product gas particles keep both. The
** spacing is chosen so that 1 kg is rho dx^3; h is then {1.0 / DX:.1f} spacings, so
** the products' pressure gradient is smoothed over 2 m, larger than the
** block, and the gas accelerates far more slowly than real detonation
** products would.
**
** The step is the explosive's limit BURN_TIME / 4 times SAFETY = {DT * 1e6:g}
** microseconds ({round(END_TIME / DT)} steps); the product gas does not touch the unburnt
** explosive (each phase sees only itself), so the gas flows through it.
** The product gas material has no section, which the deck reader counts as
** one warning.
**
** Written by examples/make_charge_detonation.py.
"""

TAIL = f"""*NSET, NSET=CHARGE, GENERATE
1, {COUNT}
*MATERIAL, NAME=Products, TYPE=GAS
*DENSITY
{RHO:g}
*VELUNOR EOS, TYPE=JWL, MATERIAL=Products, RHO0={RHO:g}, A={A:g}, B={B:g}, R1={R1:g}, R2={R2:g}, OMEGA={OMEGA:g}, E0=1e5
*MATERIAL, NAME=TNT, TYPE=EXPLOSIVE
*DENSITY
{RHO:g}
*CHARGE SECTION, NSET=CHARGE, MATERIAL=TNT
*VELUNOR EXPLOSIVE, MATERIAL=TNT, TYPE=PROGRAMMED_BURN, DETONATION_VELOCITY={D:g}, ENERGY={Q:g}, BURN_TIME={BURN_TIME:g}, PRODUCT_MATERIAL=Products, CONVERSION=PHASE
*VELUNOR IGNITION, MATERIAL=TNT, X=0, Y=0, Z=0, TIME=0
*VELUNOR TIME CONTROL, DT=1.0E-6, TIME={END_TIME:.1E}, STEPS=100000, SAFETY={SAFETY}
*VELUNOR OUTPUT, INTERVAL={INTERVAL}
"""


def main():
    lines = [HEADER, "*NODE\n"]
    node = 0
    for k in range(NZ):
        for j in range(NY):
            for i in range(NX):
                node += 1
                y = (j - (NY - 1) / 2.0) * DX
                z = (k - (NZ - 1) / 2.0) * DX
                lines.append(f"{node}, {i * DX:.6f}, {y:.6f}, {z:.6f}\n")
    lines.append(TAIL)
    out = pathlib.Path(__file__).with_name("charge_detonation.inp")
    out.write_text("".join(lines), newline="\n")


if __name__ == "__main__":
    main()
