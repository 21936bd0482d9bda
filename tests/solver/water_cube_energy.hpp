#pragma once
// An undamped jittered water cube released from a background pressure, and
// its energy: kinetic plus the Tait energy of compression, which the
// semi-discrete equations conserve exactly. Shared by the integrator tests
// and the energy validation case (tools/validation/energy_cube.py writes the
// same deck).

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "core/sph_model.hpp"
#include "solver/sph_solver_explicit.hpp"

namespace water_cube {

// An n x n x n water cube at spacing 10 mm with every position jittered by up
// to `jitter` spacings (a fixed pseudo-random sequence), no viscosity, a
// background pressure of 1 MPa, released into vacuum.
inline std::string cube_deck(int n, double jitter, const char* integrator, double safety) {
    std::string deck = "*NODE\n";
    uint64_t state = 12345;
    const auto next = [&state] {
        state = state * 6364136223846793005ULL + 1442695040888963407ULL;
        return static_cast<double>(state >> 11) / 9007199254740992.0 - 0.5;
    };
    int id = 0;
    for (int k = 0; k < n; ++k) {
        for (int j = 0; j < n; ++j) {
            for (int i = 0; i < n; ++i) {
                const double s = 0.01;
                deck += std::to_string(++id) + ", " + std::to_string(s * (i + jitter * next())) +
                        ", " + std::to_string(s * (j + jitter * next())) + ", " +
                        std::to_string(s * (k + jitter * next())) + "\n";
            }
        }
    }
    deck += "*NSET, NSET=ALL, GENERATE\n1, " + std::to_string(id) + "\n";
    deck +=
        "*MATERIAL, NAME=Water, TYPE=WATER\n*DENSITY\n1000\n"
        "*FLUID SECTION, NSET=ALL, MATERIAL=Water\n"
        "*VELUNOR EOS, TYPE=TAIT, MATERIAL=Water, RHO0=1000, C0=1480, GAMMA=7, P0=1e6\n"
        "*VELUNOR VISCOSITY, TYPE=MONAGHAN, MATERIAL=Water, ALPHA=0, BETA=0, ETA2=0.01\n"
        "*VELUNOR PARTICLE CONTROL, H=0.013, MASS=0.001, VOLUME=1e-6\n";
    deck += "*VELUNOR TIME CONTROL, DT=1, TIME=1, STEPS=100000, SAFETY=" + std::to_string(safety);
    if (integrator != nullptr) deck += std::string(", INTEGRATOR=") + integrator;
    deck += "\n";
    return deck;
}

// Kinetic energy plus the energy of compression, m u(rho) with
// u = integral of p / rho^2 from rho0: for p = p0 + B ((rho/rho0)^g - 1),
// u = B rho^(g-1) / ((g-1) rho0^g) + (B - p0) / rho, less its value at rho0.
struct Energy {
    double kinetic = 0.0, internal = 0.0;
    double total() const { return kinetic + internal; }
};

inline Energy energy(const Model& m) {
    const WaterState& w = m.water;
    const double g = w.water_gamma, b = w.water_b, p0 = w.water_p0, rho0 = w.water_rho0;
    const auto u = [&](double rho) {
        return b * std::pow(rho, g - 1.0) / ((g - 1.0) * std::pow(rho0, g)) + (b - p0) / rho;
    };
    Energy e;
    for (int i = 0; i < m.db.npart; ++i) {
        const Vec3& v = m.db.v[i];
        e.kinetic += 0.5 * m.db.mass[i] * (v.x * v.x + v.y * v.y + v.z * v.z);
        e.internal += m.db.mass[i] * (u(m.db.rho[i]) - u(rho0));
    }
    return e;
}

// |E - E0| after each of `steps` steps (stable steps, or `fixed_dt` when
// given) relative to the released energy, the largest kinetic energy of the
// run. A step that fails (the default scheme blows up) ends the history.
inline std::vector<double> energy_error_history(Model& m, int steps, double fixed_dt = 0.0) {
    const double start = energy(m).total();
    std::vector<double> error;
    double released = 0.0;
    for (int k = 0; k < steps; ++k) {
        double dt = fixed_dt;
        if (dt == 0.0) {
            EXPECT_EQ(sph_solver_estimate_stable_dt(m, dt), 0);
        }
        if (sph_solver_advance_explicit(m, dt) != 0) break;
        const Energy e = energy(m);
        error.push_back(std::abs(e.total() - start));
        released = std::max(released, e.kinetic);
    }
    EXPECT_GT(released, 0.0);
    for (double& e : error) e /= released;
    return error;
}

// The largest of those errors; a run that failed before `steps` counts as an
// unbounded error.
inline double relative_energy_error(Model& m, int steps, double fixed_dt = 0.0) {
    const std::vector<double> error = energy_error_history(m, steps, fixed_dt);
    if (static_cast<int>(error.size()) < steps) return HUGE_VAL;
    return *std::max_element(error.begin(), error.end());
}

}  // namespace water_cube
