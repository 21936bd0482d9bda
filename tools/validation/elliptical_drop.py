#!/usr/bin/python3
"""The free elliptical drop (Monaghan 1994, J. Comput. Phys. 110, 399-406),
in its axisymmetric 3D form.

A sphere of water of radius R starts with the linear, divergence-free
velocity field v = (-A0 x / 2, -A0 y / 2, A0 z) and no pressure; it
stretches into a prolate spheroid. For an incompressible inviscid drop with
a free surface the velocity stays linear, v_i = d_i x_i, the surface an
ellipsoid of semi-axes a_i with a_i' = d_i a_i, and the pressure
p = P (1 - sum x_i^2 / a_i^2) gives d_i' = 2 P / (rho a_i^2) - d_i^2, where
incompressibility (sum d_i' = 0) fixes P / rho = sum d_i^2 / (2 sum 1/a_i^2).
The script integrates this ODE with RK4 and compares the particle semi-axes,
a_i(t) = a_i(0) sqrt(<x_i^2>(t) / <x_i^2>(0)) (exact for a linear map of the
initial particles), with it.

    /usr/bin/python3 tools/validation/elliptical_drop.py
"""
import sys

import matplotlib

matplotlib.use("Agg")
import matplotlib.pyplot as plt  # noqa: E402
import numpy as np  # noqa: E402

import vlib  # noqa: E402

R, A0 = 1.0, 100.0            # drop radius [m], stretching rate [1/s]
RHO0, C0 = 1000.0, 1480.0     # c0 about 15 times the largest speed A0 R
END_TIME = 0.008
ALPHA = 0.0


def drop_nodes(per_radius):
    """Lattice points of spacing R / per_radius inside the sphere."""
    dx = R / per_radius
    n = 2 * per_radius + 1
    pts = vlib.lattice(n, n, n, dx, origin=(-per_radius * dx,) * 3)
    return pts[np.sum(pts**2, axis=1) <= (R - 0.5 * dx) ** 2 + 1e-12], dx


def initial_velocity(pts):
    return np.stack([-0.5 * A0 * pts[:, 0], -0.5 * A0 * pts[:, 1], A0 * pts[:, 2]], axis=1)


def deck(per_radius, integrator="VERLET", h_factor=1.3):
    pts, dx = drop_nodes(per_radius)
    title = (f"Free elliptical drop, radius {R:g} m, {per_radius} spacings per radius, "
             f"A0 = {A0:g} 1/s.\nWritten by tools/validation/elliptical_drop.py.")
    return vlib.water_deck(pts, dx, title=title, c0=C0, rho0=RHO0, alpha=ALPHA, h_factor=h_factor,
                           dt=1.0,
                           end_time=END_TIME, steps=100000, safety=0.25, integrator=integrator,
                           velocities=initial_velocity(pts))


def ode_rhs(y):
    a, d = y[:3], y[3:]
    p_over_rho = np.sum(d**2) / (2.0 * np.sum(1.0 / a**2))
    return np.concatenate([d * a, 2.0 * p_over_rho / a**2 - d**2])


def reference(times):
    """Semi-axes (x, z) of the incompressible drop at the given times."""
    t, y = vlib.rk4(ode_rhs, [R, R, R, -0.5 * A0, -0.5 * A0, A0], END_TIME, 4000)
    return np.interp(times, t, y[:, 0]), np.interp(times, t, y[:, 2])


def semi_axes(run):
    times, ax, az = [], [], []
    m0 = None
    for time, p in run.frames():
        pos = np.stack([p["x"], p["y"], p["z"]], axis=1)
        pos -= pos.mean(axis=0)
        m = np.mean(pos**2, axis=0)
        if m0 is None:
            m0 = m
        times.append(time)
        ax.append(R * np.sqrt(0.5 * (m[0] / m0[0] + m[1] / m0[1])))
        az.append(R * np.sqrt(m[2] / m0[2]))
    return np.array(times), np.array(ax), np.array(az)


def measure(per_radius, integrator="VERLET", h_factor=1.3, interval=10):
    run = vlib.run(deck(per_radius, integrator, h_factor), f"drop_{per_radius}", interval=interval)
    t, ax, az = semi_axes(run)
    run.cleanup()
    rx, rz = reference(t)
    return t, ax, az, rx, rz


def main():
    fig, ax = plt.subplots(figsize=(6.4, 4.2))
    t_ref = np.linspace(0.0, END_TIME, 200)
    rx, rz = reference(t_ref)
    ax.plot(1e3 * t_ref, rz, "k-", label="incompressible ODE")
    ax.plot(1e3 * t_ref, rx, "k-")
    for per_radius, style in ((5, "s"), (10, "o")):
        t, mx, mz, ex, ez = measure(per_radius)
        err_z = np.abs(mz - ez) / ez
        err_x = np.abs(mx - ex) / ex
        early = t <= 0.004 + 1e-9
        print(f"R/dx = {per_radius}: largest relative error of the long / short semi-axis "
              f"up to 4 ms {100 * err_z[early].max():.3g} % / {100 * err_x[early].max():.3g} %, "
              f"up to {1e3 * t[-1]:.0f} ms {100 * err_z.max():.3g} % / {100 * err_x.max():.3g} %; "
              f"at the end b = {mz[-1]:.4f} m (ODE {ez[-1]:.4f}), "
              f"a = {mx[-1]:.4f} m (ODE {ex[-1]:.4f})")
        ax.plot(1e3 * t, mz, style, mfc="none", label=f"SPH, R/dx = {per_radius}")
        ax.plot(1e3 * t, mx, style, mfc="none", color=ax.lines[-1].get_color())
    ax.set_xlabel("time [ms]")
    ax.set_ylabel("semi-axis [m]")
    ax.axvline(4.0, color="gray", lw=0.8, ls=":")
    ax.set_title("Free elliptical drop: long (z) and short (x, y) semi-axes")
    ax.grid(True, alpha=0.3)
    ax.legend()
    fig.tight_layout()
    fig.savefig(vlib.figure_path("elliptical_drop.png"), dpi=110)
    return 0


if __name__ == "__main__":
    sys.exit(main())
