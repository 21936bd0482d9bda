"""Shared helpers of the velunor package tests: the source tree, small decks
written into the test's temporary directory and the CSV the library writes."""

import os
from pathlib import Path

import numpy as np
import pytest

SOURCE_DIR = Path(os.environ.get("VELUNOR_SOURCE_DIR", Path(__file__).resolve().parents[2]))
EXAMPLES = SOURCE_DIR / "examples"
COUPLED_PLATE_DECK = EXAMPLES / "coupled_plate" / "coupled_plate.inp"


class Lattice:
    """A block of water particles on a cubic lattice, released from P0."""

    def __init__(self, shape=(5, 4, 3), dx=0.01, rho0=1000.0, p0=1.0e6, end_time=2.0e-5,
                 steps=1000):
        self.shape, self.dx, self.rho0, self.p0 = shape, dx, rho0, p0
        self.end_time, self.steps = end_time, steps
        self.count = int(np.prod(shape))

    def text(self):
        nx, ny, nz = self.shape
        lines = ["** water lattice for the Python tests", "*NODE"]
        node = 0
        for k in range(nz):
            for j in range(ny):
                for i in range(nx):
                    node += 1
                    lines.append(f"{node}, {i * self.dx!r}, {j * self.dx!r}, {k * self.dx!r}")
        mass = self.rho0 * self.dx**3
        lines += [
            "*NSET, NSET=ALL, GENERATE", f"1, {self.count}",
            "*MATERIAL, NAME=Water, TYPE=WATER", "*DENSITY", f"{self.rho0!r}",
            "*FLUID SECTION, NSET=ALL, MATERIAL=Water",
            f"*VELUNOR EOS, TYPE=TAIT, MATERIAL=Water, RHO0={self.rho0!r}, C0=1480.0, "
            f"GAMMA=7.0, P0={self.p0!r}",
            "*VELUNOR VISCOSITY, TYPE=MONAGHAN, MATERIAL=Water, ALPHA=0.5, BETA=0.0, ETA2=0.01",
            f"*VELUNOR PARTICLE CONTROL, H={1.3 * self.dx!r}, MASS={mass!r}, "
            f"VOLUME={self.dx**3!r}",
            f"*VELUNOR TIME CONTROL, DT=1.0E-5, TIME={self.end_time!r}, STEPS={self.steps}, "
            "SAFETY=0.25",
        ]
        return "\r\n".join(lines) + "\r\n"

    def write(self, path):
        Path(path).write_text(self.text())
        return Path(path)


@pytest.fixture
def lattice():
    return Lattice()


@pytest.fixture
def lattice_deck(tmp_path, lattice):
    return lattice.write(tmp_path / "lattice.inp")


def read_csv(path):
    """The particle CSV as {column: numpy array}. Reals come with 17
    significant digits, so they read back to the very doubles; a
    three-digit exponent is written without its letter."""
    rows = Path(path).read_text().splitlines()
    names = rows[0].split(",")

    def number(text):
        text = text.strip()
        if "E" not in text and text[1:].count("+") + text[1:].count("-") == 1:
            cut = max(text.rfind("+"), text.rfind("-"))
            text = text[:cut] + "E" + text[cut:]
        return float(text.replace("Infinity", "inf"))

    values = [[number(field) for field in row.split(",")] for row in rows[1:]]
    table = np.array(values)
    return {name: table[:, k] for k, name in enumerate(names)}
