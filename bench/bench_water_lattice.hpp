#pragma once
// The water model of the step benchmarks: a cube of side^3 particles at
// spacing 10 mm and rest density (h = 1.3 spacing, about 70 neighbors
// inside), with small random velocities and densities so that pressure,
// density rate and viscosity all have work to do, under gravity.

#include <cstdlib>
#include <memory>
#include <random>

#include "core/sph_model.hpp"
#include "water/sph_water.hpp"

inline std::unique_ptr<Model> make_water_lattice(int side) {
    auto m = std::make_unique<Model>();
    sph_water_initialize(m->water);
    const int n = side * side * side;
    if (sph_db_allocate(*m, n) != 0) std::abort();
    const double dx = 0.01;
    const double mass = 1000.0 * dx * dx * dx;
    std::mt19937 rng(42);
    std::uniform_real_distribution<double> u(-1.0, 1.0);
    DbState& db = m->db;
    for (int i = 0; i < n; ++i) {
        const int ix = i % side, iy = (i / side) % side, iz = i / (side * side);
        db.x[i] = Vec3{ix * dx, iy * dx, iz * dx};
        db.v[i] = Vec3{0.1 * u(rng), 0.1 * u(rng), 0.1 * u(rng)};
        db.particle_phase[i] = sph_phase_water;
        db.rho[i] = 1000.0 * (1.0 + 0.001 * u(rng));
        db.mass[i] = mass;
        db.h[i] = 1.3 * dx;
    }
    if (sph_water_set_body_force(*m, Vec3{0, 0, -9.81}) != 0) std::abort();
    return m;
}
