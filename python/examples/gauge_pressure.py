#!/usr/bin/python3
"""Water pressure at a gauge point of the underwater charge, plotted.

    gauge_pressure.py PLOT.png [--deck DECK] [--point X Y Z] [--radius R]
                      [--every N] [--until T]

Runs examples/underwater_charge.inp (125 kg of explosive 3.125 m deep,
a steel plate whose face lies 2.16 m below the charge, a hull panel on the
surface) and, every N steps, records the mean pressure of the water particles
within R of the gauge point (0.45 m by default: with fewer particles the mean
jumps whenever the outflowing water carries one across the sphere). The
default point, (0, 0, -4.2), lies on the axis between charge and plate,
1.075 m below the charge centre, so the outgoing pulse passes it on its way
to the plate. Writes the pressure-time plot to
PLOT.png and prints the series, one "time pressure count" line per sample.
"""

import argparse
import sys
from pathlib import Path

import matplotlib

matplotlib.use("Agg")
import matplotlib.pyplot as plt  # noqa: E402
import numpy as np  # noqa: E402

import velunor  # noqa: E402

DEFAULT_DECK = Path(__file__).resolve().parents[2] / "examples" / "underwater_charge.inp"


def gauge(model, point, radius):
    """Mean water pressure within `radius` of `point` and how many particles."""
    p = model.particles()
    near = (p.phase == velunor.PHASE_WATER) & (p.status == velunor.PARTICLE_ACTIVE)
    near &= np.linalg.norm(p.positions - point, axis=1) <= radius
    count = int(near.sum())
    return (float(p.pressure[near].mean()) if count else 0.0), count


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("plot", help="PNG file to write")
    parser.add_argument("--deck", default=str(DEFAULT_DECK))
    parser.add_argument("--point", type=float, nargs=3, default=(0.0, 0.0, -4.2),
                        metavar=("X", "Y", "Z"))
    parser.add_argument("--radius", type=float, default=0.45)
    parser.add_argument("--every", type=int, default=2, help="steps between samples")
    parser.add_argument("--until", type=float, default=None,
                        help="stop at this time (default: the deck's end time)")
    args = parser.parse_args(argv)
    if args.every < 1 or not args.radius > 0.0:
        parser.error("--every must be at least 1 and --radius positive")
    point = np.array(args.point)

    with velunor.Model(args.deck) as model:
        model.build()
        end = model.end_time if args.until is None else min(args.until, model.end_time)
        samples = [(model.time, *gauge(model, point, args.radius))]
        while model.time < end:
            dt = model.stable_dt()
            if model.time + dt >= end:
                model.run(until=end, progress=False)  # lands on the end exactly
            else:
                model.step(dt)
            if model.step_count % args.every == 0 or model.time >= end:
                samples.append((model.time, *gauge(model, point, args.radius)))

    t, p, n = (np.array(column) for column in zip(*samples))
    for row in samples:
        print(f"{row[0]:.9e} {row[1]:.9e} {row[2]}")
    peak = int(np.argmax(p))
    print(f"peak {p[peak]:.6e} Pa at {t[peak]:.6e} s", file=sys.stderr)

    figure, axes = plt.subplots(figsize=(7, 4))
    axes.plot(t * 1e3, p / 1e6)
    axes.set_xlabel("time [ms]")
    axes.set_ylabel("water pressure [MPa]")
    axes.set_title(f"gauge ({point[0]:g}, {point[1]:g}, {point[2]:g}) m, radius {args.radius:g} m,"
                   f" {int(n.max())} particles")
    axes.grid(True, alpha=0.3)
    figure.tight_layout()
    figure.savefig(args.plot, dpi=120)
    return 0


if __name__ == "__main__":
    sys.exit(main())
