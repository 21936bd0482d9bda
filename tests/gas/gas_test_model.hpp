#pragma once
// Hand-built gas (and water) models for the gas tests: materials and
// equations of state go through the gas module's own receivers, particles are
// placed on lattices and given gas state by the initial conditions.

#include <gtest/gtest.h>

#include <memory>
#include <random>
#include <vector>

#include "core/sph_model.hpp"

namespace gas_test {

struct Lattice {
    int nx = 1, ny = 1, nz = 1;
    double spacing = 0.01;
    Vec3 origin;
    int material = 1;  // 1-based database material
};

// Materials: 1 "Air" (ideal gas, density 1.2, gamma 1.4, e 2.5e5), 2 "Water"
// (Tait), 3 "Products" (JWL), 4 "Stiff" (stiffened gas). Particles of the
// lattices in order, with particle control h = 1.3 spacing of the first
// lattice, mass rho spacing^3 and volume spacing^3; gas particles get their
// state from the gas initial conditions, water particles from the water's.
inline std::unique_ptr<Model> make_model(const std::vector<Lattice>& lattices) {
    auto m = std::make_unique<Model>();
    sph_water_initialize(m->water);
    sph_gas_initialize(*m);
    int n = 0;
    for (const Lattice& l : lattices) n += l.nx * l.ny * l.nz;
    EXPECT_EQ(sph_db_allocate(*m, n), 0);
    const struct {
        const char* name;
        const char* type;
        double density;
    } materials[] = {{"Air", "GAS", 1.2},
                     {"Water", "WATER", 1000.0},
                     {"Products", "GAS", 1630.0},
                     {"Stiff", "STIFFENED GAS", 1000.0}};
    for (const auto& mat : materials) {
        EXPECT_EQ(sph_db_add_material(*m, mat.name, mat.type), 0);
        EXPECT_EQ(sph_db_set_material_density(*m, mat.name, mat.density), 0);
        sph_water_note_material(m->water, mat.name, mat.type);
        sph_gas_note_material(*m, mat.name, mat.type);
    }
    // The water module was last told of "Water"; put its settings on it.
    EXPECT_EQ(sph_water_set_eos(*m, "TAIT", "Water", 1000.0, 1480.0, 7.0, 0.0, 0.0, false), 0);
    EXPECT_EQ(sph_water_set_viscosity(*m, "MONAGHAN", "Water", 0.1, 0.0, 0.01), 0);
    EXPECT_EQ(sph_gas_set_eos(*m, "IDEAL_GAS", "Air", 0, 1.4, 2.5e5, 0, 0, 0, 0, 0, 0, 0), 0);
    EXPECT_EQ(sph_gas_set_eos(*m, "JWL", "Products", 1630.0, 0, 4.3e6, 0, 3.7e11, 3.2e9, 4.15, 0.95,
                              0.3, 0),
              0);
    EXPECT_EQ(
        sph_gas_set_eos(*m, "STIFFENED_GAS", "Stiff", 1000.0, 4.4, 1e6, 0, 0, 0, 0, 0, 0, 6e8), 0);
    const double s0 = lattices.empty() ? 0.01 : lattices[0].spacing;
    EXPECT_EQ(sph_water_set_particle_control(*m, 1.3 * s0, 1000.0 * s0 * s0 * s0, s0 * s0 * s0), 0);
    EXPECT_EQ(sph_gas_set_particle_control(*m, 1.3 * s0, 1.2 * s0 * s0 * s0, s0 * s0 * s0), 0);
    DbState& db = m->db;
    int i = 0;
    for (const Lattice& l : lattices) {
        for (int iz = 0; iz < l.nz; ++iz) {
            for (int iy = 0; iy < l.ny; ++iy) {
                for (int ix = 0; ix < l.nx; ++ix, ++i) {
                    const Vec3 p = l.origin + l.spacing * Vec3{double(ix), double(iy), double(iz)};
                    db.x[i] = p;
                    db.x0[i] = p;
                    db.material_id[i] = l.material;
                    db.particle_phase[i] = sph_db_phase_from_material(db, l.material);
                }
            }
        }
    }
    EXPECT_EQ(sph_water_apply_initial_conditions(*m), 0) << m->error.last_error_message;
    EXPECT_EQ(sph_gas_apply_initial_conditions(*m), 0) << m->error.last_error_message;
    return m;
}

// Random velocities and slightly disturbed densities, so that every pair
// term is non-zero.
inline void disturb(Model& m, unsigned seed, double speed = 0.5) {
    std::mt19937 rng(seed);
    std::uniform_real_distribution<double> u(-1.0, 1.0);
    DbState& db = m.db;
    for (int i = 0; i < db.npart; ++i) {
        db.v[i] = Vec3{speed * u(rng), speed * u(rng), speed * u(rng)};
        db.rho[i] *= 1.0 + 0.01 * u(rng);
        db.x[i] += Vec3{0.001 * u(rng), 0.001 * u(rng), 0.001 * u(rng)};
    }
}

}  // namespace gas_test
