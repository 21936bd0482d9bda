"""Shared helpers of the validation scripts: write a water deck, run the
`velunor` command-line host on it into a temporary folder, and read back the
particle CSV and summary files of every output step.

Run the scripts with /usr/bin/python3 (Debian's numpy and matplotlib) after a
Release build (build/release/velunor).
"""
import io
import os
import pathlib
import re
import shutil
import subprocess
import tempfile

import numpy as np

REPO = pathlib.Path(__file__).resolve().parents[2]
CLI = pathlib.Path(os.environ.get("VELUNOR_CLI", REPO / "build" / "release" / "velunor"))
FIGURES = REPO / "docs" / "validation"
DECKS = REPO / "tools" / "validation" / "decks"


def water_deck(nodes, spacing, *, title, c0=1480.0, rho0=1000.0, gamma=7.0, p0=0.0,
               alpha=0.0, beta=0.0, eta2=0.01, h_factor=1.3, dt=1.0, end_time=1.0,
               steps=100000, safety=0.25, integrator=None, velocities=None):
    """A deck of one water material on the given node positions (an (n, 3)
    array, ids 1..n in order). Mass rho0 dx^3, volume dx^3, h = h_factor dx.
    `velocities` is an optional (n, 3) array of initial velocities."""
    nodes = np.asarray(nodes, dtype=float)
    n = len(nodes)
    out = [f"** {line}\n" for line in title.strip().splitlines()]
    out.append("*NODE\n")
    out.extend(f"{k + 1}, {x:.10g}, {y:.10g}, {z:.10g}\n" for k, (x, y, z) in enumerate(nodes))
    out.append(f"*NSET, NSET=ALL, GENERATE\n1, {n}\n")
    out.append(f"*MATERIAL, NAME=Water, TYPE=WATER\n*DENSITY\n{rho0:g}\n")
    out.append("*FLUID SECTION, NSET=ALL, MATERIAL=Water\n")
    if velocities is not None:
        out.append("*INITIAL CONDITIONS, TYPE=VELOCITY\n")
        for k, vel in enumerate(np.asarray(velocities, dtype=float)):
            for dof in range(3):
                if vel[dof] != 0.0:
                    out.append(f"{k + 1}, {dof + 1}, {vel[dof]:.10g}\n")
    out.append(f"*VELUNOR EOS, TYPE=TAIT, MATERIAL=Water, RHO0={rho0:g}, C0={c0:g}, "
               f"GAMMA={gamma:g}, P0={p0:g}\n")
    out.append(f"*VELUNOR VISCOSITY, TYPE=MONAGHAN, MATERIAL=Water, ALPHA={alpha:g}, "
               f"BETA={beta:g}, ETA2={eta2:g}\n")
    out.append(f"*VELUNOR PARTICLE CONTROL, H={h_factor * spacing:.10g}, "
               f"MASS={rho0 * spacing**3:.10g}, VOLUME={spacing**3:.10g}\n")
    control = (f"*VELUNOR TIME CONTROL, DT={dt:.10g}, TIME={end_time:.10g}, STEPS={steps}, "
               f"SAFETY={safety:g}")
    if integrator:
        control += f", INTEGRATOR={integrator}"
    out.append(control + "\n")
    return "".join(out)


def lattice(nx, ny, nz, spacing, origin=(0.0, 0.0, 0.0)):
    """Cell-centred cubic lattice points, x fastest (the deck's node order)."""
    k, j, i = np.meshgrid(np.arange(nz), np.arange(ny), np.arange(nx), indexing="ij")
    pts = np.stack([i.ravel(), j.ravel(), k.ravel()], axis=1) * spacing
    return pts + np.asarray(origin, dtype=float)


# Reals whose exponent needs three digits are written without the letter
# (1.0000000000000000-101); numpy reads them once the E is put back.
_THREE_DIGIT_EXPONENT = re.compile(r"(\d)([+-]\d{3})(?=\s*(,|$))", re.MULTILINE)


def read_particles(path):
    """The particle CSV as a dict of numpy columns by header name."""
    with open(path, encoding="ascii") as f:
        names = f.readline().strip().split(",")
        body = _THREE_DIGIT_EXPONENT.sub(r"\1E\2", f.read())
    data = np.loadtxt(io.StringIO(body), delimiter=",", ndmin=2)
    return {name: data[:, k] for k, name in enumerate(names)}


def read_summary(path):
    """The summary CSV as a dict metric -> float."""
    values = {}
    with open(path, encoding="ascii") as f:
        next(f)
        for line in f:
            name, value = line.strip().split(",", 1)
            values[name] = float(_THREE_DIGIT_EXPONENT.sub(r"\1E\2", value.strip()))
    return values


class Run:
    """One CLI run: its exit code, output, and the step numbers written."""

    def __init__(self, folder, returncode, stdout, stderr):
        self.folder = pathlib.Path(folder)
        self.returncode = returncode
        self.stdout = stdout
        self.stderr = stderr
        self.steps = sorted(int(p.name[8:16]) for p in self.folder.glob("velunor_*_summary.csv"))

    def particles(self, step):
        return read_particles(self.folder / f"velunor_{step:08d}.csv")

    def summary(self, step):
        return read_summary(self.folder / f"velunor_{step:08d}_summary.csv")

    def frames(self):
        """(time, particles) of every output step, in step order."""
        for step in self.steps:
            yield self.summary(step)["time"], self.particles(step)

    def cleanup(self):
        shutil.rmtree(self.folder.parent, ignore_errors=True)


def run(deck_text, name, interval=None, allow_failure=False):
    """Writes the deck into a fresh folder under the system's temp directory
    and runs `velunor run DECK --output DIR [--interval N]` there. A failing
    run raises unless allow_failure (the output steps written so far stay)."""
    if not CLI.exists():
        raise SystemExit(f"{CLI} not found: build the Release tree first")
    folder = pathlib.Path(tempfile.mkdtemp(prefix=f"velunor_validation_{name}_"))
    deck = folder / f"{name}.inp"
    deck.write_text(deck_text, newline="\n")
    out = folder / "out"
    cmd = [str(CLI), "run", str(deck), "--output", str(out)]
    if interval is not None:
        cmd += ["--interval", str(interval)]
    proc = subprocess.run(cmd, capture_output=True, text=True, check=False)
    if proc.returncode != 0 and not allow_failure:
        raise SystemExit(f"{' '.join(cmd)} failed ({proc.returncode}):\n{proc.stderr}")
    result = Run(out, proc.returncode, proc.stdout, proc.stderr)
    result.deck = deck
    return result


def figure_path(name):
    FIGURES.mkdir(parents=True, exist_ok=True)
    return FIGURES / name


def rk4(f, y0, t_end, steps):
    """Classical Runge-Kutta for y' = f(y); returns times and states."""
    y = np.asarray(y0, dtype=float)
    dt = t_end / steps
    ts, ys = [0.0], [y.copy()]
    for k in range(steps):
        k1 = f(y)
        k2 = f(y + 0.5 * dt * k1)
        k3 = f(y + 0.5 * dt * k2)
        k4 = f(y + dt * k3)
        y = y + dt / 6.0 * (k1 + 2 * k2 + 2 * k3 + k4)
        ts.append((k + 1) * dt)
        ys.append(y.copy())
    return np.array(ts), np.array(ys)
