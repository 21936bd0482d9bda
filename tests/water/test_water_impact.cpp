// The bundled impact example against the acoustic impact pressure: two water
// blocks meeting head-on at v each load their contact plane with rho0 c0 v
// until release waves arrive.

#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <string>

#include "core/sph_model.hpp"
#include "input/sph_input_reader.hpp"
#include "solver/sph_solver_explicit.hpp"

namespace {

// The example's values (examples/make_water_impact.py).
constexpr int block_nx = 10, block_ny = 20, block_count = 10 * 20 * 20;
constexpr double spacing = 0.01, rho0 = 1000.0, c0 = 1480.0, speed = 2.0;

std::unique_ptr<Model> read_example() {
    auto m = std::make_unique<Model>();
    sph_water_initialize(m->water);
    const std::string deck = std::string(VELUNOR_SOURCE_DIR) + "/examples/water_impact.inp";
    EXPECT_EQ(sph_input_read(*m, deck), 0) << m->error.last_error_message;
    EXPECT_EQ(sph_input_build_model(*m), 0) << m->error.last_error_message;
    return m;
}

// Mean pressure on the contact plane since the start, over the column of the
// left block within 4 spacings of the impact axis: the momentum the column
// has lost per area and time. Until release waves from the side faces reach
// the column (6 spacings at c0, about 40 us) no lateral force acts on it.
double column_contact_pressure(const Model& m) {
    const DbState& db = m.db;
    double lost = 0.0;
    int count = 0;
    for (int i = 0; i < block_count; ++i) {
        const double y = (i / block_nx % block_ny - 9.5) * spacing;
        const double z = (i / (block_nx * block_ny) - 9.5) * spacing;
        if (std::fabs(y) > 4 * spacing || std::fabs(z) > 4 * spacing) continue;
        lost += db.mass[i] * (speed - db.v[i].x);
        ++count;
    }
    const double area = count / block_nx * spacing * spacing;
    return lost / (m.control.current_time * area);
}

}  // namespace

// Resolution: 10 mm spacing, h = 1.3 spacings, 2 x 4000 particles.
TEST(WaterImpact, ContactPressureIsTheAcousticImpactPressure) {
    auto m = read_example();
    ASSERT_EQ(m->db.npart, 2 * block_count);
    EXPECT_EQ(m->db.v[0].x, speed);
    EXPECT_EQ(m->db.v[block_count].x, -speed);
    const double acoustic = rho0 * c0 * speed;  // 2.96 MPa
    int checked = 0;
    for (double until : {15e-6, 25e-6, 35e-6, 45e-6, 60e-6}) {
        while (m->control.current_time < until - 1e-12) {
            double dt = 0.0;
            ASSERT_EQ(sph_solver_estimate_stable_dt(*m, dt), 0);
            ASSERT_EQ(sph_solver_advance_explicit(*m, dt), 0) << m->error.last_error_message;
        }
        const double p = column_contact_pressure(*m);
        EXPECT_NEAR(p / acoustic, 1.0, 0.10) << "at t = " << m->control.current_time;
        ++checked;

        // Head-on and symmetric: total momentum stays zero to round-off.
        Vec3 momentum;
        for (int i = 0; i < m->db.npart; ++i) momentum += m->db.mass[i] * m->db.v[i];
        const double scale = 2 * block_count * m->db.mass[0] * speed;
        EXPECT_LT(std::fabs(momentum.x), 1e-12 * scale);
        EXPECT_LT(std::fabs(momentum.y), 1e-12 * scale);
        EXPECT_LT(std::fabs(momentum.z), 1e-12 * scale);
    }
    EXPECT_EQ(checked, 5);
    // Symmetric about the contact plane: the two particles on the axis next
    // to it move with opposite velocities.
    const int left_axis = 0 + block_nx * (10 + block_ny * 10);  // x = -dx/2 near y = z = 0
    const int right_axis = block_count + left_axis;
    EXPECT_LT(std::fabs(m->db.v[left_axis].x + m->db.v[right_axis].x), 1e-9);
}
