#!/usr/bin/env python3
"""Writes examples/underwater_charge.inp: a TNT-like charge in a block of
water, a steel plate under the water's floor and a hull panel on its surface.
Run it with

    velunor run examples/underwater_charge.inp --output out/underwater_charge
"""
import math
import pathlib

# Water: a block with free faces, z up, the surface at z = 0. Odd counts along
# x and y put a lattice line on the charge's vertical axis.
DXW = 0.25                 # water spacing [m]
NX, NY, NZ = 31, 27, 21
RHO_W = 1000.0             # [kg/m3]
C0 = 1480.0                # [m/s]
ALPHA = 0.5

# Charge: explosive particles keep the database's 1 kg and h = 1 m (no keyword
# sets them), so their spacing makes 1 kg = rho dx^3.
CN = 5                     # charge particles per edge
RHO_HE = 1630.0            # [kg/m3]
D = 6930.0                 # detonation velocity [m/s]
Q = 4.3e6                  # chemical energy [J/kg]
HE_DX = (1.0 / RHO_HE) ** (1.0 / 3.0)
A, B, R1, R2, OMEGA = 3.7e11, 3.2e9, 4.15, 0.95, 0.3
P_CJ = A * math.exp(-R1) + B * math.exp(-R2) + OMEGA * Q
CHARGE_LAYER = 12          # water layer (from the surface) through the charge centre
CAVITY = 0.3               # no water within this distance of the charge centre [m]
PUSH_RADIUS = 0.6          # water within this distance starts moving outward [m]
SHOCK_SHARE = 0.25         # share of the chemical energy given to that water

# Steel plate under the water's floor: solid particles, 4340 as in the other
# steel examples.
DXS = 0.0625               # [m]
PX, PY, PZ = 32, 32, 3
RHO_S = 7850.0
E, NU = 2.0e11, 0.3

# Hull panel on the water's surface: shell particles on quadrilaterals.
HX, HY = 11, 7             # nodes along x and y
HULL_DX = 0.5              # [m]
HULL_T = 0.02              # plating thickness [m]

# Both regions read the water layer next to a face: a sphere whose centre lies
# OFFSET beyond the face and whose surface reaches LAYER into the water.
LAYER = 0.5                # [m]
OFFSET = 5.0               # [m]
LOAD_WINDOW = 1.5e-3       # end of the plate load [s]

SAFETY = 1.0
END_TIME = 2.0e-3          # [s]
INTERVAL = 20


def water_z(k):
    return -DXW / 2 - k * DXW


CHARGE_C = (0.0, 0.0, water_z(CHARGE_LAYER))
FLOOR = water_z(NZ - 1) - DXW / 2          # the water's bottom face
PLATE_TOP = FLOOR - DXS / 2                # plate's top layer of particles
H_S = 1.3 * DXS
C_S = math.sqrt((E / (3 * (1 - 2 * NU)) + 4 / 3 * E / (2 * (1 + NU))) / RHO_S)


def water_nodes():
    """Water lattice without the cavity, and the pushed particles as
    (index among the water nodes, distance, unit vector from the charge)."""
    nodes, pushed = [], []
    for k in range(NZ):
        for j in range(NY):
            for i in range(NX):
                p = ((i - (NX - 1) / 2) * DXW, (j - (NY - 1) / 2) * DXW, water_z(k))
                r = math.dist(p, CHARGE_C)
                if r < CAVITY:
                    continue
                nodes.append(p)
                if r <= PUSH_RADIUS:
                    e = tuple((p[a] - CHARGE_C[a]) / r for a in range(3))
                    pushed.append((len(nodes), r, e))
    return nodes, pushed


def charge_nodes():
    half = (CN - 1) / 2
    return [(CHARGE_C[0] + (i - half) * HE_DX, CHARGE_C[1] + (j - half) * HE_DX,
             CHARGE_C[2] + (k - half) * HE_DX)
            for k in range(CN) for j in range(CN) for i in range(CN)]


def plate_nodes():
    return [((i - (PX - 1) / 2) * DXS, (j - (PY - 1) / 2) * DXS, PLATE_TOP - k * DXS)
            for k in range(PZ) for j in range(PY) for i in range(PX)]


def hull_nodes():
    return [((i - (HX - 1) / 2) * HULL_DX, (j - (HY - 1) / 2) * HULL_DX, 0.0)
            for j in range(HY) for i in range(HX)]


def half_diagonal(n):
    """Distance from the centre to a corner of an n^3 lattice, in spacings."""
    return math.sqrt(3) * (n - 1) / 2


def cole_peak(mass, distance):
    """Cole's similitude for the peak shock pressure of TNT in water [Pa]."""
    return 52.4e6 * (mass ** (1.0 / 3.0) / distance) ** 1.13


def main():
    water, pushed = water_nodes()
    charge, plate, hull = charge_nodes(), plate_nodes(), hull_nodes()
    nodes = water + charge + plate + hull
    c1 = len(water) + 1
    p1 = c1 + len(charge)
    h1 = p1 + len(plate)
    face_last = p1 + PX * PY - 1

    # u = U (r1 / r)^2 is divergence-free: the pushed water neither tears
    # itself apart nor piles up at the start. U gives it the kinetic energy
    # SHOCK_SHARE * charge mass * Q.
    r1 = min(r for _, r, _ in pushed)
    m_w = RHO_W * DXW ** 3
    push_energy = SHOCK_SHARE * len(charge) * Q
    u1 = math.sqrt(2 * push_energy / (m_w * sum((r1 / r) ** 4 for _, r, _ in pushed)))

    plate_distance = CHARGE_C[2] - PLATE_TOP
    hull_distance = -CHARGE_C[2]
    corner = math.hypot((PX - 1) / 2 * DXS, (PY - 1) / 2 * DXS)
    tilt = math.degrees(math.atan2(corner, OFFSET))
    elements = (HX - 1) * (HY - 1)
    header = f"""** Velunor example: an underwater charge between a steel plate and a hull panel.
**
** The scene (z up, water surface at z = 0, every block centred on the z axis):
** - water: a block of {len(water)} particles, {NX} x {NY} x {NZ} at {DXW * 1000:.0f} mm
**   ({NX * DXW:g} x {NY * DXW:g} x {NZ * DXW:g} m), free on all faces, at rest at gauge pressure 0.
**   There is no gravity: hydrostatic and atmospheric pressure are the zero
**   of every pressure here.
** - charge: {len(charge)} kg of TNT-like explosive ({CN} x {CN} x {CN} particles of 1 kg at {HE_DX * 1000:.0f} mm,
**   {RHO_HE:g} kg/m3, D = {D:g} m/s, {Q / 1e6:g} MJ/kg) at {-CHARGE_C[2]:g} m depth, in a cavity left by the
**   water particles within {CAVITY:g} m of its centre. Ignited there at t = 0 with
**   BURN_TIME = 0, each particle turns into JWL product gas at {P_CJ / 1e9:.2f} GPa as the
**   front reaches it; all are gas after {(HE_DX * half_diagonal(CN)) / D * 1e6:.0f} microseconds.
** - plate: steel, {PX * DXS:g} x {PY * DXS:g} x {PZ * DXS:g} m, {len(plate)} solid particles at {DXS * 1000:g} mm
**   ({PZ} layers, H = {H_S * 1000:g} mm), Johnson-Cook 4340 (A 792 MPa); it lies under
**   the water's floor, its face {plate_distance:.2f} m below the charge centre.
** - hull: a flat {(HX - 1) * HULL_DX:g} x {(HY - 1) * HULL_DX:g} m panel of a hull bottom on the water surface,
**   {len(hull)} shell particles at {HULL_DX * 1000:.0f} mm on {elements} quadrilaterals ({HULL_T * 1000:.0f} mm steel
**   plating, 5 points), {hull_distance:g} m above the charge centre. The elements give
**   each particle its director (down, into the water) and its facet area
**   ({(HX - 1) * (HY - 1) * HULL_DX ** 2:g} m2 in all). The panel is the coupling region HULL (facet and
**   particle export, motion import) through which a structural solver would
**   take the hull over; without a host nothing is imported, the hull stays in
**   place, and `velunor info` lists the region.
**
** How the parts act on each other. Each phase sees only itself: the product
** gas does not push the water, and the water sees neither the plate nor the
** hull. Therefore:
** - The charge's push on the water is an initial velocity: the {len(pushed)} water
**   particles within {PUSH_RADIUS:g} m of the charge centre move radially outward at
**   u = U (r1 / r)^2 (U = {u1:.0f} m/s at r1 = {r1:.3f} m; divergence-free, so the water is
**   neither torn nor piled up at the start) with {push_energy / 1e6:.0f} MJ of kinetic energy,
**   {SHOCK_SHARE:g} of the charge's {len(charge) * Q / 1e6:.0f} MJ, roughly the share of a TNT charge's energy
**   that its shock wave carries away in water. The water turns it into an
**   outgoing spherical pulse.
** - The plate feels the water through the blast region PLATE_LOAD, a sphere
**   centred {OFFSET:g} m below the middle of the water's floor that reaches {LAYER:g} m into
**   the water. Targets: the plate's top layer ({PX * PY} particles, each carrying the
**   pressure on its {DXS * 1000:g} x {DXS * 1000:g} mm). Sources: the water in that layer. The region
**   pressure is the layer's mean plus mid-range pressure, twice the pressure
**   of a uniform layer: a shock doubles at a face of some 30 times water's
**   acoustic impedance, which the water, not seeing the plate, cannot do by
**   itself. SCALE = -1 pulls the targets toward the centre below, i.e. pushes
**   the face away from the water, within {tilt:.0f} degrees of straight down.
**   TIME_WINDOW ends the load at {LOAD_WINDOW * 1e3:g} ms, when the layer turns to tension:
**   water cavitates rather than pull on a plate, and this Tait water has no
**   such limit.
** - HULL_GAUGE is the same kind of sphere above the hull with SCALE = 0: it
**   loads nothing (the hull belongs to the structural solver) and records the
**   pressure of the water layer under the hull in every summary file.
** - The water's floor and surface are free surfaces: the pulse reflects there
**   as tension.
**
@RESULTS@
**
** The step is the plate's limit h / (c + |v|) = {H_S / C_S * 1e6:.1f} microseconds (c = {C_S:.0f} m/s,
** SAFETY {SAFETY}); the water's, h / (c0 (1 + ALPHA)), is {1.3 * DXW / (C0 * (1 + ALPHA)) * 1e6:.0f} microseconds, and the
** charge sets none (BURN_TIME = 0).
** The neighbor grid's cells are 2 m wide, twice the h = 1 m of the explosive
** and product particles, which no keyword sets; the number of particles per
** cell, not the lattice, sets the cost of a step. The product gas material has
** no section, which the deck reader counts as one warning.
**
** Written by examples/make_underwater_charge.py.
"""
    header = header.replace("@RESULTS@", RESULTS.format(
        cole_plate=cole_peak(len(charge), plate_distance) / 1e6,
        cole_hull=cole_peak(len(charge), hull_distance) / 1e6,
        INTERVAL=INTERVAL, frame=INTERVAL * H_S / C_S * SAFETY * 1e3, h_w=1.3 * DXW,
        t_plate=(plate_distance - PUSH_RADIUS) / C0 * 1e3,
        t_hull=(hull_distance - PUSH_RADIUS) / C0 * 1e3, mass=len(charge), p_cj=P_CJ / 1e9))

    lines = [header, "*NODE\n"]
    lines += [f"{n}, {x:.6f}, {y:.6f}, {z:.6f}\n" for n, (x, y, z) in enumerate(nodes, start=1)]
    lines.append("*ELEMENT, TYPE=S4\n")
    for j in range(HY - 1):
        for i in range(HX - 1):
            a = h1 + j * HX + i
            # Clockwise seen from above: the area vector points down.
            lines.append(f"{j * (HX - 1) + i + 1}, {a}, {a + HX}, {a + HX + 1}, {a + 1}\n")
    lines.append(f"""*NSET, NSET=WATER, GENERATE
1, {len(water)}
*NSET, NSET=CHARGE, GENERATE
{c1}, {p1 - 1}
*NSET, NSET=PLATE, GENERATE
{p1}, {h1 - 1}
*NSET, NSET=PLATE_FACE, GENERATE
{p1}, {face_last}
*NSET, NSET=HULL, GENERATE
{h1}, {len(nodes)}
*ELSET, ELSET=HULL_PANELS, GENERATE
1, {elements}
*MATERIAL, NAME=Water, TYPE=WATER
*DENSITY
{RHO_W:g}
*FLUID SECTION, NSET=WATER, MATERIAL=Water
*VELUNOR EOS, TYPE=TAIT, MATERIAL=Water, RHO0={RHO_W:g}, C0={C0:g}, GAMMA=7.0
*VELUNOR VISCOSITY, TYPE=MONAGHAN, MATERIAL=Water, ALPHA={ALPHA}, BETA=0.0, ETA2=0.01
*VELUNOR PARTICLE CONTROL, H={1.3 * DXW:.6g}, MASS={m_w:.6g}, VOLUME={DXW ** 3:.6g}
** The charge's push: radial velocities of the water around the cavity.
*INITIAL CONDITIONS, TYPE=VELOCITY
""")
    for n, r, e in pushed:
        u = u1 * (r1 / r) ** 2
        lines += [f"{n}, {a + 1}, {u * e[a]:.6g}\n" for a in range(3)]
    lines.append(f"""*MATERIAL, NAME=Products, TYPE=GAS
*DENSITY
{RHO_HE:g}
*VELUNOR EOS, TYPE=JWL, MATERIAL=Products, RHO0={RHO_HE:g}, A={A:g}, B={B:g}, R1={R1:g}, R2={R2:g}, OMEGA={OMEGA:g}, E0=1e5
*MATERIAL, NAME=TNT, TYPE=EXPLOSIVE
*DENSITY
{RHO_HE:g}
*CHARGE SECTION, NSET=CHARGE, MATERIAL=TNT
*VELUNOR EXPLOSIVE, MATERIAL=TNT, TYPE=PROGRAMMED_BURN, DETONATION_VELOCITY={D:g}, ENERGY={Q:g}, BURN_TIME=0, PRODUCT_MATERIAL=Products, CONVERSION=PHASE
*VELUNOR IGNITION, MATERIAL=TNT, X={CHARGE_C[0]:g}, Y={CHARGE_C[1]:g}, Z={CHARGE_C[2]:g}, TIME=0
*MATERIAL, NAME=Steel, TYPE=SOLID
*DENSITY
{RHO_S:g}
*ELASTIC
{E:g}, {NU}
*PLASTIC
792e6, 510e6, 0.26, 0.014, 1.03, 1.0, 293, 1793
*SOLID SECTION, NSET=PLATE, MATERIAL=Steel
*VELUNOR SOLID CONTROL, MATERIAL=Steel, H={H_S:.6g}, VOLUME={DXS ** 3:.6g}
*MATERIAL, NAME=HullSteel, TYPE=SHELL
*DENSITY
{RHO_S:g}
*ELASTIC
{E:g}, {NU}
*SHELL SECTION, ELSET=HULL_PANELS, MATERIAL=HullSteel, THICKNESS={HULL_T:g}, POINTS=5
*VELUNOR BLAST REGION, NAME=PLATE_LOAD, X=0, Y=0, Z={FLOOR - OFFSET:g}, RADIUS={OFFSET + LAYER:g}, SOURCE=WATER, TARGET=SOLID, TARGET_SET=PLATE_FACE, SCALE=-1, TIME_WINDOW={LOAD_WINDOW:g}
*VELUNOR BLAST REGION, NAME=HULL_GAUGE, X=0, Y=0, Z={OFFSET:g}, RADIUS={OFFSET + LAYER:g}, SOURCE=WATER, TARGET=SHELL, TARGET_SET=HULL, SCALE=0
*VELUNOR COUPLING REGION, NAME=HULL, NSET=HULL, PHASE=SHELL, EXPORT=BOTH, IMPORT=MOTION
*VELUNOR TIME CONTROL, DT=1.0E-4, TIME={END_TIME:.1E}, STEPS=100000, SAFETY={SAFETY}
*VELUNOR OUTPUT, INTERVAL={INTERVAL}
""")
    out = pathlib.Path(__file__).with_name("underwater_charge.inp")
    out.write_text("".join(lines), newline="\n")


# What the run gives, measured with the deck as written (times of the gauge
# values from a run with --interval 5).
RESULTS = """** What the run shows (frames every {INTERVAL} steps, about {frame:.2f} ms; VTU fields pressure,
** phase, velocity; particle CSV columns pressure, blast_solid_fz,
** solid_stress_zz; summary files velunor_NNNNNNNN_summary.csv, rows ending in
** _1 for PLATE_LOAD and _2 for HULL_GAUGE):
** - The pulse in the water: its peak is 200 MPa at 0.8 m from the charge at
**   0.55 ms, 46 MPa at 1.5 to 1.8 m at 1.1 ms and 25 MPa at 2.3 to 2.5 m at
**   1.66 ms, spread over about a metre (h = {h_w:.3f} m). Tension follows it, down to
**   -70 MPa: nothing keeps the cavity inflated. Near the cavity the water
**   reaches 610 MPa at 0.42 ms and swings between -120 and +100 MPa at the end.
** - Plate (blast_water_pressure_max_1, blast_source_pressure_mean_1): the
**   layer's peak water pressure passes 1 MPa at 0.35 ms and peaks at 37.6 MPa
**   at 1.04 ms; the pulse's crest, running at c0 from the pushed water's edge,
**   reaches the plate face after {t_plate:.2f} ms. The layer's mean peaks at 13.2 MPa at
**   1.18 ms; the region pressure stays positive until 1.5 ms. The plate takes
**   82.6 kN s (20.6 kPa s over its 4 m2), moves off at 13.3 m/s (corners) to
**   14.8 m/s (centre) and has moved 14 mm at the end. It stays elastic: von
**   Mises stress up to 34 MPa, no plastic strain.
** - Hull (blast_water_pressure_max_2, blast_source_pressure_mean_2): the
**   layer under the hull passes 1 MPa at 0.90 ms and peaks at 17.6 MPa at
**   1.73 ms ({t_hull:.2f} ms at c0); its mean peaks at 7.6 MPa at 1.80 ms. `velunor run`
**   prints both regions' pressures at the end (the hull's 59 targets inside
**   the sphere get no force).
** - For scale: Cole's similitude for a real {mass} kg TNT charge gives peaks of
**   {cole_plate:.0f} MPa at the plate's and {cole_hull:.0f} MPa at the hull's distance, lasting about 0.3 ms.
**   Here the pulse is longer and its peak several times lower: the lattice
**   spreads the front, and the push starts as velocity alone.
** - Energy: the water's kinetic energy falls from 134 MJ to 28 MJ, with 18 MJ
**   stored in its compression at the end; the rest is dissipated by the
**   artificial viscosity, mostly near the cavity in the first 0.3 ms. The
**   products (all {mass} particles gas after the first steps) keep their {p_cj:.1f} GPa and
**   spread to 0.71 m from the charge centre (`gas radius (max)`), through the
**   water."""


if __name__ == "__main__":
    main()
