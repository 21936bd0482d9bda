// The free elliptical drop (Monaghan 1994), axisymmetric: a sphere of water
// of radius R with v = (-A0 x / 2, -A0 y / 2, A0 z) and no pressure stretches
// into a spheroid whose semi-axes follow the incompressible ODE
//   a_i' = d_i a_i,  d_i' = 2 P / (rho a_i^2) - d_i^2,
//   P / rho = sum d_i^2 / (2 sum 1 / a_i^2),
// integrated here with RK4 (the gallery's figure: tools/validation/
// elliptical_drop.py, at 5 and 10 spacings per radius up to 8 ms).

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <string>

#include "../input/deck_test_util.hpp"
#include "solver/sph_solver_explicit.hpp"

namespace {

constexpr double radius = 1.0, a0 = 100.0;
constexpr int per_radius = 5;  // 389 particles
constexpr double spacing = radius / per_radius;

// Lattice points within R - dx/2 of the centre, with the drop's velocity.
std::string drop_deck() {
    std::string nodes = "*NODE\n", velocity = "*INITIAL CONDITIONS, TYPE=VELOCITY\n";
    int id = 0;
    const double limit = (radius - 0.5 * spacing) * (radius - 0.5 * spacing) + 1e-12;
    for (int k = -per_radius; k <= per_radius; ++k) {
        for (int j = -per_radius; j <= per_radius; ++j) {
            for (int i = -per_radius; i <= per_radius; ++i) {
                const double x = i * spacing, y = j * spacing, z = k * spacing;
                if (x * x + y * y + z * z > limit) continue;
                const std::string n = std::to_string(++id);
                nodes += n + ", " + std::to_string(x) + ", " + std::to_string(y) + ", " +
                         std::to_string(z) + "\n";
                velocity += n + ", 1, " + std::to_string(-0.5 * a0 * x) + "\n" + n + ", 2, " +
                            std::to_string(-0.5 * a0 * y) + "\n" + n + ", 3, " +
                            std::to_string(a0 * z) + "\n";
            }
        }
    }
    return nodes + "*NSET, NSET=ALL, GENERATE\n1, " + std::to_string(id) + "\n" +
           "*MATERIAL, NAME=Water, TYPE=WATER\n*DENSITY\n1000\n"
           "*FLUID SECTION, NSET=ALL, MATERIAL=Water\n" +
           velocity +
           "*VELUNOR EOS, TYPE=TAIT, MATERIAL=Water, RHO0=1000, C0=1480, GAMMA=7\n"
           "*VELUNOR VISCOSITY, TYPE=MONAGHAN, MATERIAL=Water, ALPHA=0, BETA=0, ETA2=0.01\n"
           "*VELUNOR PARTICLE CONTROL, H=0.26, MASS=8, VOLUME=0.008\n"
           "*VELUNOR TIME CONTROL, DT=1, TIME=1, STEPS=100000, SAFETY=0.25, INTEGRATOR=VERLET\n";
}

// Semi-axes (x = y, z) of the incompressible drop at time t (RK4, 2000 steps).
std::array<double, 2> reference_axes(double t) {
    using State = std::array<double, 6>;  // a_x, a_y, a_z, d_x, d_y, d_z
    const auto rhs = [](const State& s) {
        double sum_d2 = 0.0, sum_inv_a2 = 0.0;
        for (int i = 0; i < 3; ++i) {
            sum_d2 += s[3 + i] * s[3 + i];
            sum_inv_a2 += 1.0 / (s[i] * s[i]);
        }
        const double p_over_rho = sum_d2 / (2.0 * sum_inv_a2);
        State r{};
        for (int i = 0; i < 3; ++i) {
            r[i] = s[3 + i] * s[i];
            r[3 + i] = 2.0 * p_over_rho / (s[i] * s[i]) - s[3 + i] * s[3 + i];
        }
        return r;
    };
    const auto axpy = [](const State& s, double f, const State& k) {
        State r{};
        for (int i = 0; i < 6; ++i) r[i] = s[i] + f * k[i];
        return r;
    };
    State s{radius, radius, radius, -0.5 * a0, -0.5 * a0, a0};
    const int steps = 2000;
    const double dt = t / steps;
    for (int n = 0; n < steps; ++n) {
        const State k1 = rhs(s), k2 = rhs(axpy(s, 0.5 * dt, k1)), k3 = rhs(axpy(s, 0.5 * dt, k2)),
                    k4 = rhs(axpy(s, dt, k3));
        for (int i = 0; i < 6; ++i) s[i] += dt / 6.0 * (k1[i] + 2 * k2[i] + 2 * k3[i] + k4[i]);
    }
    return {s[0], s[2]};
}

// Second moments about the centre of mass: a linear map of the particles
// scales them exactly as the squared semi-axes.
Vec3 second_moments(const Model& m) {
    Vec3 c, q;
    const int n = m.db.npart;
    for (int i = 0; i < n; ++i) c += m.db.x[i];
    c = (1.0 / n) * c;
    for (int i = 0; i < n; ++i) {
        const Vec3 r = m.db.x[i] - c;
        q += Vec3{r.x * r.x, r.y * r.y, r.z * r.z};
    }
    return (1.0 / n) * q;
}

}  // namespace

// The closed form itself: the ODE keeps the volume (sum d_i = 0 stays 0) and
// at 4 ms lies well off the pressure-free (ballistic) motion 1 + d_i0 t.
TEST(ValidationDrop, ReferenceKeepsTheVolumeAndDepartsFromBallisticMotion) {
    const auto [ax, az] = reference_axes(0.004);
    EXPECT_NEAR(ax * ax * az, 1.0, 1e-10);
    EXPECT_NEAR(az - (1.0 + a0 * 0.004), 0.0304, 1e-4);
    EXPECT_NEAR(ax - (1.0 - 0.5 * a0 * 0.004), 0.0361, 1e-4);
}

// Up to 4 ms (stretch 1.44, so the spacing along z stays within 1.1 h of the
// fixed smoothing length h = 1.3 dx) the semi-axes from the particles' second
// moments follow the ODE. The pressure is what separates the ODE from the
// ballistic motion, by 0.030 R (z) and 0.036 R (x) at 4 ms (2 % and 4 % of
// the axes); the tolerance of 0.5 % of the axis is a quarter of the smaller,
// so a pressure force off by more than ~25 % fails (the run gives 0.1 %). Later the stretched
// lattice outgrows the fixed h and the short axis departs by ~5 % at 8 ms at any resolution (the
// gallery shows it).
TEST(ValidationDrop, SemiAxesFollowTheIncompressibleSolution) {
    auto m = deck_test::built_text(drop_deck());
    ASSERT_EQ(m->db.npart, 389);
    const Vec3 q0 = second_moments(*m);
    for (double until : {0.002, 0.004}) {
        while (m->control.current_time < until) {
            double dt = 0.0;
            ASSERT_EQ(sph_solver_estimate_stable_dt(*m, dt), 0);
            dt = std::min(dt, until - m->control.current_time);
            ASSERT_EQ(sph_solver_advance_explicit(*m, dt), 0) << m->error.last_error_message;
        }
        const Vec3 q = second_moments(*m);
        const double ax = radius * std::sqrt(0.5 * (q.x / q0.x + q.y / q0.y));
        const double az = radius * std::sqrt(q.z / q0.z);
        const auto [rx, rz] = reference_axes(m->control.current_time);
        EXPECT_NEAR(ax / rx, 1.0, 0.005) << "t = " << m->control.current_time;
        EXPECT_NEAR(az / rz, 1.0, 0.005) << "t = " << m->control.current_time;
        EXPECT_NEAR(q.x / q0.x, q.y / q0.y, 1e-9);  // axisymmetric
    }
}
