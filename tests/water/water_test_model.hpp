#pragma once
// Hand-built water models for the water and solver tests: particles are
// placed on cubic lattices and given water state directly, without a deck.

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "../test_expect.hpp"
#include "core/sph_model.hpp"

namespace water_test {

using test_expect::expect_error;
using test_expect::same_bits;

struct Block {
    int nx = 1, ny = 1, nz = 1;
    double spacing = 1.0;
    Vec3 origin;
    Vec3 velocity;

    Block(int nx_, int ny_, int nz_, double spacing_ = 1.0, Vec3 origin_ = {}, Vec3 velocity_ = {})
        : nx(nx_), ny(ny_), nz(nz_), spacing(spacing_), origin(origin_), velocity(velocity_) {}
};

// A model with the water module initialized and every block's particles as
// active water at rest density; mass = rho0 * spacing^3, h = 1.3 * spacing.
inline std::unique_ptr<Model> make_water_model(const std::vector<Block>& blocks) {
    auto m = std::make_unique<Model>();
    sph_water_initialize(m->water);
    int n = 0;
    for (const Block& b : blocks) n += b.nx * b.ny * b.nz;
    EXPECT_EQ(sph_db_allocate(*m, n), 0);
    DbState& db = m->db;
    int i = 0;
    for (const Block& b : blocks) {
        for (int iz = 0; iz < b.nz; ++iz) {
            for (int iy = 0; iy < b.ny; ++iy) {
                for (int ix = 0; ix < b.nx; ++ix, ++i) {
                    const Vec3 p = b.origin + b.spacing * Vec3{double(ix), double(iy), double(iz)};
                    db.x[i] = p;
                    db.x0[i] = p;
                    db.v[i] = b.velocity;
                    db.particle_phase[i] = sph_phase_water;
                    db.particle_status[i] = sph_status_active;
                    db.rho[i] = m->water.water_rho0;
                    db.pressure[i] = m->water.water_p0;
                    db.mass[i] = m->water.water_rho0 * b.spacing * b.spacing * b.spacing;
                    db.h[i] = 1.3 * b.spacing;
                }
            }
        }
    }
    return m;
}

}  // namespace water_test
