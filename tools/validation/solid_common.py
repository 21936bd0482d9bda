"""Shared helpers of the solid, explosive and gas validation cases: find the
command-line host, run a deck into a temporary directory and read back the
particle CSV and summary files of every output step.

The scripts run with /usr/bin/python3 (numpy, matplotlib) from the repository
root or from anywhere: paths are taken relative to this file.
"""
import glob
import os
import pathlib
import shutil
import subprocess
import tempfile

import numpy as np

REPO = pathlib.Path(__file__).resolve().parents[2]
CLI = pathlib.Path(os.environ.get("VELUNOR_CLI", REPO / "build" / "release" / "velunor"))
FIGURES = REPO / "docs" / "validation"
DECKS = REPO / "tools" / "validation" / "decks"


def lattice_nodes(nx, ny, nz, dx, origin=(0.0, 0.0, 0.0)):
    """Positions of an nx * ny * nz lattice, x fastest (the deck's node order)."""
    k, j, i = np.meshgrid(np.arange(nz), np.arange(ny), np.arange(nx), indexing="ij")
    pts = np.stack([i.ravel(), j.ravel(), k.ravel()], axis=1) * dx
    return pts + np.asarray(origin, dtype=float)


def node_lines(points, first_id=1):
    """*NODE data lines for the given positions, ids from first_id."""
    return "".join(f"{first_id + n}, {p[0]:.10g}, {p[1]:.10g}, {p[2]:.10g}\n"
                   for n, p in enumerate(points))


def write_deck(name, text, directory=None):
    """Stores a generated deck under tools/validation/decks/ (or `directory`,
    for decks too large to keep) and returns its path."""
    directory = pathlib.Path(directory) if directory else DECKS
    directory.mkdir(parents=True, exist_ok=True)
    path = directory / name
    path.write_text(text, newline="\n")
    return path


class Run:
    """The output of one `velunor run DECK --output DIR`: per output step the
    time, the particle table (column name -> array) and the summary rows."""

    def __init__(self, directory, stdout):
        self.directory = pathlib.Path(directory)
        self.stdout = stdout
        self.steps = sorted(int(p[-12:-4]) for p in
                            glob.glob(str(self.directory / "velunor_????????.csv")))

    def particles(self, step):
        path = self.directory / f"velunor_{step:08d}.csv"
        data = np.genfromtxt(path, delimiter=",", names=True)
        return {name: data[name] for name in data.dtype.names}

    def summary(self, step):
        rows = {}
        path = self.directory / f"velunor_{step:08d}_summary.csv"
        for line in path.read_text().splitlines()[1:]:
            name, value = line.split(",", 1)
            rows[name] = float(value)
        return rows

    def time(self, step):
        return self.summary(step)["time"]

    def remove(self):
        """Deletes the run's output directory."""
        shutil.rmtree(self.directory, ignore_errors=True)


def run_deck(deck_path, interval=None, keep=None):
    """Runs the CLI on deck_path into a fresh temporary directory (under /tmp,
    or `keep` when given) and returns a Run."""
    if not CLI.exists():
        raise SystemExit(f"{CLI} not found: build with cmake --build build/release")
    out = pathlib.Path(keep) if keep else pathlib.Path(tempfile.mkdtemp(prefix="velunor_val_"))
    out.mkdir(parents=True, exist_ok=True)
    cmd = [str(CLI), "run", str(deck_path), "--output", str(out)]
    if interval:
        cmd += ["--interval", str(interval)]
    done = subprocess.run(cmd, capture_output=True, text=True)
    if done.returncode != 0:
        raise SystemExit(f"velunor failed ({done.returncode}):\n{done.stdout}\n{done.stderr}")
    return Run(out, done.stdout)
