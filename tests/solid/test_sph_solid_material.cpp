// Solid material kernels: elasticity, Johnson-Cook flow stress and radial
// return, failure strain, damage, softening and the energy increment, against
// closed forms and hand-computed values.

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <limits>
#include <string>
#include <utility>

#include "core/sph_error.hpp"
#include "solid/sph_solid_material.hpp"

namespace {

constexpr double nan_value = std::numeric_limits<double>::quiet_NaN();

void expect_error(const ErrorState& error, int status, const std::string& message) {
    EXPECT_EQ(status, 1) << message;
    EXPECT_EQ(error.last_error_code, 1) << message;
    EXPECT_EQ(error.last_error_message, message);
}

void expect_near_rel(double actual, double expected, double rel) {
    EXPECT_NEAR(actual, expected, rel * std::fabs(expected));
}

SolidJohnsonCook copper_jc() {
    SolidJohnsonCook jc;
    jc.a = 90e6;
    jc.b = 292e6;
    jc.n = 0.31;
    jc.c = 0.025;
    jc.m = 1.09;
    jc.epsdot0 = 1.0;
    jc.troom = 298.0;
    jc.tmelt = 1356.0;
    return jc;
}

SolidJohnsonCook steel4340_jc() {
    SolidJohnsonCook jc;
    jc.a = 792e6;
    jc.b = 510e6;
    jc.n = 0.26;
    jc.c = 0.014;
    jc.m = 1.03;
    jc.epsdot0 = 1.0;
    jc.troom = 298.0;
    jc.tmelt = 1793.0;
    return jc;
}

// The Johnson-Cook law written out for points with ep > 0, rate >= epsdot0 and
// troom <= T <= tmelt, where none of the floors and clamps act.
double jc_by_hand(const SolidJohnsonCook& jc, double ep, double rate, double temp) {
    const double tstar = (temp - jc.troom) / (jc.tmelt - jc.troom);
    return (jc.a + jc.b * std::pow(ep, jc.n)) * (1.0 + jc.c * std::log(rate / jc.epsdot0)) *
           (1.0 - std::pow(tstar, jc.m));
}

double failure_by_hand(const std::array<double, 5>& d, double eta, double rate, double tstar) {
    return (d[0] + d[1] * std::exp(d[2] * eta)) * (1.0 + d[3] * std::log(rate)) *
           (1.0 + d[4] * tstar);
}

}  // namespace

TEST(SolidMaterial, ElasticConstants) {
    ErrorState error;
    double g = 0.0, k = 0.0, c = 0.0;
    ASSERT_EQ(sph_solid_elastic_constants(error, 2e11, 0.3, 7850.0, g, k, c), 0);
    expect_near_rel(g, 7.6923076923e10, 1e-10);
    expect_near_rel(k, 1.6666666667e11, 1e-10);
    EXPECT_NEAR(c, 5856.357, 5e-4);

    // Steel, E 200 GPa, nu 0.29: G = 200e9 / 2.58, K = 200e9 / 1.26.
    ASSERT_EQ(sph_solid_elastic_constants(error, 200e9, 0.29, 7850.0, g, k, c), 0);
    expect_near_rel(g, 7.751937984496e10, 1e-12);
    expect_near_rel(k, 1.587301587302e11, 1e-12);
    expect_near_rel(c, 5778.163725, 1e-9);
    // Copper, E 124 GPa, nu 0.34: G = 124e9 / 2.68, K = 124e9 / 0.96.
    ASSERT_EQ(sph_solid_elastic_constants(error, 124e9, 0.34, 8960.0, g, k, c), 0);
    expect_near_rel(g, 4.626865671642e10, 1e-12);
    expect_near_rel(k, 1.291666666667e11, 1e-12);
    expect_near_rel(c, 4615.315741, 1e-9);

    // Nearly incompressible: K = E / 0.0006, thousands of times G.
    ASSERT_EQ(sph_solid_elastic_constants(error, 2e11, 0.4999, 7850.0, g, k, c), 0);
    expect_near_rel(k, 2e11 / 0.0006, 1e-9);
    EXPECT_GT(k, 1000.0 * g);
    // Auxetic limit side is open: nu just above -1 is accepted.
    ASSERT_EQ(sph_solid_elastic_constants(error, 2e11, -0.99, 7850.0, g, k, c), 0);
    expect_near_rel(g, 2e11 / 0.02, 1e-12);

    const std::string positive = "Solid elastic constants require positive E and density";
    const std::string poisson = "Solid elastic constants require valid Poisson ratio";
    struct Case {
        double e, nu, rho;
        const std::string& message;
    };
    const Case cases[] = {
        {2e11, 0.3, 0.0, positive},         {2e11, 0.3, -1.0, positive},
        {0.0, 0.3, 7850.0, positive},       {-2e11, 0.3, 7850.0, positive},
        {nan_value, 0.3, 7850.0, positive}, {2e11, 0.3, nan_value, positive},
        {0.0, 0.5, 7850.0, positive},  // E and density are checked before nu
        {2e11, 0.5, 7850.0, poisson},       {2e11, 0.6, 7850.0, poisson},
        {2e11, -1.0, 7850.0, poisson},      {2e11, -1.5, 7850.0, poisson},
        {2e11, nan_value, 7850.0, poisson},
    };
    for (const Case& t : cases) {
        ErrorState e;
        g = k = c = 7.0;
        expect_error(e, sph_solid_elastic_constants(e, t.e, t.nu, t.rho, g, k, c), t.message);
        EXPECT_EQ(g, 0.0);
        EXPECT_EQ(k, 0.0);
        EXPECT_EQ(c, 0.0);
    }
}

TEST(SolidMaterial, TrialStressAndTensorInvariants) {
    ErrorState error;
    const double g = 80e9, k = 160e9;
    const double lambda = k - 2.0 * g / 3.0;
    const SolidTensor old{1e6, -2e6, 3e6, 4e5, -5e5, 6e5};

    // Uniaxial strain: axial modulus K + 4G/3 on xx, lambda on the lateral axes.
    SolidTensor out{};
    ASSERT_EQ(sph_solid_elastic_trial(error, old, {1e-4, 0, 0, 0, 0, 0}, g, k, out), 0);
    expect_near_rel(out[0], 1e6 + (k + 4.0 * g / 3.0) * 1e-4, 1e-14);
    expect_near_rel(out[1], -2e6 + lambda * 1e-4, 1e-14);
    expect_near_rel(out[2], 3e6 + lambda * 1e-4, 1e-14);
    EXPECT_EQ(out[3], old[3]);
    EXPECT_EQ(out[4], old[4]);
    EXPECT_EQ(out[5], old[5]);
    // Tensor shear strain: each shear stress gains 2 G eps, normal stresses none.
    ASSERT_EQ(sph_solid_elastic_trial(error, old, {0, 0, 0, 1e-4, 2e-4, -3e-4}, g, k, out), 0);
    EXPECT_EQ(out[0], old[0]);
    EXPECT_EQ(out[1], old[1]);
    EXPECT_EQ(out[2], old[2]);
    expect_near_rel(out[3], 4e5 + 2.0 * g * 1e-4, 1e-14);
    expect_near_rel(out[4], -5e5 + 2.0 * g * 2e-4, 1e-14);
    expect_near_rel(out[5], 6e5 - 2.0 * g * 3e-4, 1e-14);
    // Pure volumetric strain raises the mean stress by K times the volume strain.
    ASSERT_EQ(sph_solid_elastic_trial(error, {}, {1e-4, 1e-4, 1e-4, 0, 0, 0}, g, k, out), 0);
    expect_near_rel(sph_solid_mean_stress(out), k * 3e-4, 1e-14);
    EXPECT_NEAR(sph_solid_von_mises(out), 0.0, 1e-6);

    for (auto [gs, ks] : {std::pair{0.0, k}, std::pair{g, 0.0}, std::pair{-g, k}, std::pair{g, -k},
                          std::pair{nan_value, k}, std::pair{g, nan_value}}) {
        ErrorState e;
        SolidTensor untouched{9, 9, 9, 9, 9, 9};
        expect_error(e, sph_solid_elastic_trial(e, old, {1e-4, 0, 0, 0, 0, 0}, gs, ks, untouched),
                     "Solid elastic update requires positive constants");
        EXPECT_EQ(untouched, (SolidTensor{9, 9, 9, 9, 9, 9}));
    }

    // Von Mises: pure shear sqrt(3) tau in each shear slot, uniaxial sigma,
    // hydrostatic 0, and a general state by the principal-free formula.
    const double tau = 1e8;
    for (int slot = 3; slot < 6; ++slot) {
        SolidTensor s{};
        s[slot] = tau;
        expect_near_rel(sph_solid_von_mises(s), std::sqrt(3.0) * tau, 1e-15);
    }
    expect_near_rel(sph_solid_von_mises({-2.5e8, 0, 0, 0, 0, 0}), 2.5e8, 1e-15);
    EXPECT_NEAR(sph_solid_von_mises({3e8, 3e8, 3e8, 0, 0, 0}), 0.0, 1e-7);
    // sqrt(((s1-s2)^2 + (s2-s3)^2 + (s3-s1)^2) / 2 + 3 (s4^2 + s5^2 + s6^2)).
    expect_near_rel(sph_solid_von_mises({1, 2, 4, 1, -2, 3}),
                    std::sqrt((1.0 + 4.0 + 9.0) / 2.0 + 42.0), 1e-15);
    EXPECT_DOUBLE_EQ(sph_solid_mean_stress({1, 2, 6, 100, 100, 100}), 3.0);

    // Inner product counts each off-diagonal pair twice.
    EXPECT_EQ(sph_solid_voigt_dot({1, 2, 3, 4, 5, 6}, {1, 1, 1, 1, 1, 1}), 6.0 + 2.0 * 15.0);
    EXPECT_EQ(sph_solid_voigt_dot({0, 0, 0, 2, 0, 0}, {0, 0, 0, 3, 0, 0}), 12.0);

    // Deviatoric scaling keeps the mean and scales von Mises.
    const SolidTensor s{3e8, -1e8, 4e8, 2e7, -3e7, 5e7};
    const SolidTensor half = sph_solid_scale_deviatoric(s, 0.5);
    expect_near_rel(sph_solid_mean_stress(half), sph_solid_mean_stress(s), 1e-15);
    expect_near_rel(sph_solid_von_mises(half), 0.5 * sph_solid_von_mises(s), 1e-14);
    EXPECT_EQ(half[3], 1e7);
    EXPECT_EQ(half[5], 2.5e7);
    const SolidTensor zero = sph_solid_scale_deviatoric(s, 0.0);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(zero[i], sph_solid_mean_stress(s));
    for (int i = 3; i < 6; ++i) EXPECT_EQ(zero[i], 0.0);

    EXPECT_EQ(sph_solid_clamp_unit(0.25), 0.25);
    EXPECT_EQ(sph_solid_clamp_unit(-0.5), 0.0);
    EXPECT_EQ(sph_solid_clamp_unit(1.5), 1.0);
    EXPECT_EQ(sph_solid_clamp_unit(nan_value), 0.0);
    EXPECT_EQ(sph_solid_clamp_unit(std::numeric_limits<double>::infinity()), 1.0);
}

TEST(SolidMaterial, JohnsonCookFlowStress) {
    ErrorState error;
    SolidJohnsonCook jc;
    jc.a = 3.5e8;
    jc.b = 2.75e8;
    jc.n = 0.36;
    jc.c = 0.022;
    jc.m = 1.0;
    jc.epsdot0 = 1.0;
    double h = 0.0, r = 0.0, ts = 0.0, flow = 0.0;
    ASSERT_EQ(sph_solid_jc_hardening(error, jc.a, jc.b, jc.n, 0.1, h), 0);
    expect_near_rel(h, 4.7004e8, 1e-4);
    ASSERT_EQ(sph_solid_jc_rate_factor(error, 1000.0, 1.0, jc.c, r), 0);
    expect_near_rel(r, 1.15197, 1e-5);
    for (double temp : {jc.troom, jc.troom - 50.0, 0.0}) {
        ASSERT_EQ(sph_solid_jc_temperature_star(error, temp, jc.troom, jc.tmelt, ts), 0);
        EXPECT_EQ(ts, 0.0);
        ASSERT_EQ(sph_solid_jc_flow_stress(error, jc, 0.1, 1000.0, temp, flow), 0);
        expect_near_rel(flow, 5.4147e8, 1e-4);
    }

    // Published OFHC copper and 4340 steel constants against the law by hand
    // (and once against independently computed figures).
    const SolidJohnsonCook cu = copper_jc();
    const SolidJohnsonCook st = steel4340_jc();
    ASSERT_EQ(sph_solid_jc_flow_stress(error, cu, 0.2, 1000.0, 500.0, flow), 0);
    expect_near_rel(flow, 2.61896739835e8, 1e-10);
    ASSERT_EQ(sph_solid_jc_flow_stress(error, st, 0.05, 100.0, 700.0, flow), 0);
    expect_near_rel(flow, 8.09857324286e8, 1e-10);
    struct Point {
        double ep, rate, temp;
    };
    for (const Point& p :
         {Point{0.01, 1.0, 298.0}, Point{0.5, 1e4, 800.0}, Point{1.2, 3.0, 1300.0}}) {
        ASSERT_EQ(sph_solid_jc_flow_stress(error, cu, p.ep, p.rate, p.temp, flow), 0);
        expect_near_rel(flow, jc_by_hand(cu, p.ep, p.rate, p.temp), 1e-13);
        ASSERT_EQ(sph_solid_jc_flow_stress(error, st, p.ep, p.rate, p.temp, flow), 0);
        expect_near_rel(flow, jc_by_hand(st, p.ep, p.rate, p.temp), 1e-13);
    }

    // Floors and clamps: negative plastic strain counts as 0; pow(0, 0) = 1
    // gives A + B at n = 0; rates below the reference (or negative) give 1.
    ASSERT_EQ(sph_solid_jc_hardening(error, 1e8, 2e8, 0.5, -0.3, h), 0);
    EXPECT_EQ(h, 1e8);
    ASSERT_EQ(sph_solid_jc_hardening(error, 1e8, 2e8, 0.0, 0.0, h), 0);
    EXPECT_EQ(h, 3e8);
    for (double rate : {0.5, 0.0, -10.0, 1.0}) {
        ASSERT_EQ(sph_solid_jc_rate_factor(error, rate, 1.0, 0.5, r), 0);
        EXPECT_EQ(r, 1.0) << rate;
    }
    ASSERT_EQ(sph_solid_jc_rate_factor(error, 50.0, 5.0, 0.1, r), 0);
    expect_near_rel(r, 1.0 + 0.1 * std::log(10.0), 1e-15);
    ASSERT_EQ(sph_solid_jc_temperature_star(error, 648.0, 298.0, 1356.0, ts), 0);
    expect_near_rel(ts, 350.0 / 1058.0, 1e-15);
    for (double temp : {1356.0, 5000.0}) {
        ASSERT_EQ(sph_solid_jc_temperature_star(error, temp, 298.0, 1356.0, ts), 0);
        EXPECT_EQ(ts, 1.0);
        ASSERT_EQ(sph_solid_jc_flow_stress(error, cu, 0.2, 10.0, temp, flow), 0);
        EXPECT_EQ(flow, 0.0);
    }
    ASSERT_EQ(sph_solid_jc_temperature_star(error, nan_value, 298.0, 1356.0, ts), 0);
    EXPECT_EQ(ts, 0.0);
    // m = 0 is full thermal softening even at room temperature (0^0 = 1).
    SolidJohnsonCook m0 = cu;
    m0.m = 0.0;
    for (double temp : {298.0, 600.0}) {
        ASSERT_EQ(sph_solid_jc_flow_stress(error, m0, 0.2, 10.0, temp, flow), 0);
        EXPECT_EQ(flow, 0.0);
    }

    EXPECT_EQ(sph_solid_equiv_plastic_strain_rate(0.01, 1e-6), 0.01 / 1e-6);
    EXPECT_EQ(sph_solid_equiv_plastic_strain_rate(0.0, 1e-6), 0.0);
    EXPECT_EQ(sph_solid_equiv_plastic_strain_rate(-0.01, 1e-6), 0.0);
    EXPECT_EQ(sph_solid_equiv_plastic_strain_rate(0.01, 0.0), 0.0);
    EXPECT_EQ(sph_solid_equiv_plastic_strain_rate(0.01, -1e-6), 0.0);

    // Every message, in the order the flow stress checks them.
    const std::string hardening = "Solid Johnson-Cook hardening parameters are invalid";
    const std::string thermal = "Solid Johnson-Cook thermal exponent is invalid";
    const std::string rate = "Solid Johnson-Cook rate parameters are invalid";
    const std::string range = "Solid Johnson-Cook temperature range is invalid";
    auto flow_error = [](SolidJohnsonCook bad, const std::string& message) {
        ErrorState e;
        double out = 7.0;
        expect_error(e, sph_solid_jc_flow_stress(e, bad, 0.1, 10.0, 400.0, out), message);
        EXPECT_EQ(out, 0.0);
    };
    SolidJohnsonCook bad = cu;
    bad.a = -1.0;
    bad.m = -1.0;
    flow_error(bad, hardening);
    bad = cu;
    bad.b = -1.0;
    flow_error(bad, hardening);
    bad = cu;
    bad.n = -0.1;
    flow_error(bad, hardening);
    bad = cu;
    bad.m = -0.5;
    bad.c = -1.0;
    flow_error(bad, thermal);
    bad = cu;
    bad.c = -0.01;
    bad.tmelt = 0.0;
    flow_error(bad, rate);
    bad = cu;
    bad.epsdot0 = 0.0;
    flow_error(bad, rate);
    bad = cu;
    bad.epsdot0 = -1.0;
    flow_error(bad, rate);
    bad = cu;
    bad.tmelt = bad.troom;
    flow_error(bad, range);
    bad = cu;
    bad.tmelt = 200.0;
    flow_error(bad, range);

    ErrorState e;
    h = r = ts = 7.0;
    expect_error(e, sph_solid_jc_hardening(e, 1e8, 1e8, -1.0, 0.1, h), hardening);
    EXPECT_EQ(h, 0.0);
    expect_error(e, sph_solid_jc_rate_factor(e, 10.0, 0.0, 0.01, r), rate);
    EXPECT_EQ(r, 0.0);
    expect_error(e, sph_solid_jc_rate_factor(e, 10.0, 1.0, -0.01, r), rate);
    expect_error(e, sph_solid_jc_temperature_star(e, 500.0, 400.0, 400.0, ts), range);
    EXPECT_EQ(ts, 0.0);
}

TEST(SolidMaterial, RadialReturn) {
    ErrorState error;
    double g = 0.0, k = 0.0, c = 0.0;
    ASSERT_EQ(sph_solid_elastic_constants(error, 200e9, 0.29, 7850.0, g, k, c), 0);
    const SolidJohnsonCook st = steel4340_jc();
    const double dt = 1e-6;
    const double temp_factor = 0.9 / (7850.0 * 477.0);

    // Below yield: the trial stress itself, nothing plastic.
    const SolidTensor old{5e7, -2e7, 1e7, 3e6, 0.0, -4e6};
    const SolidTensor small{1e-3, 0, 0, 0, 0, 0};
    SolidTensor trial{};
    ASSERT_EQ(sph_solid_elastic_trial(error, old, small, g, k, trial), 0);
    SolidReturnResult res;
    ASSERT_EQ(
        sph_solid_jc_return_mapping(error, old, small, g, k, dt, st, 400.0, 0.02, temp_factor, res),
        0);
    EXPECT_EQ(res.stress, trial);
    EXPECT_EQ(res.ep, 0.02);
    EXPECT_EQ(res.ep_rate, 0.0);
    EXPECT_EQ(res.plastic_delta, 0.0);
    EXPECT_EQ(res.plastic_work, 0.0);
    EXPECT_EQ(res.temp, 400.0);
    // A negative stored plastic strain comes back as 0.
    ASSERT_EQ(
        sph_solid_jc_return_mapping(error, old, small, g, k, dt, st, 400.0, -0.5, temp_factor, res),
        0);
    EXPECT_EQ(res.ep, 0.0);

    // A trial exactly on the yield surface is elastic; one ulp above is not.
    // With no strain increment the trial is the old stress, chosen so that a
    // deviatoric rescale by 1 would not give it back bit for bit.
    const SolidTensor resting{1.00000001e7, 1.0000003e6, -9.99993e4, 3e6, 0.0, -4e6};
    ASSERT_NE(sph_solid_scale_deviatoric(resting, 1.0), resting);
    SolidJohnsonCook on_surface = st;
    on_surface.b = 0.0;
    on_surface.a = sph_solid_von_mises(resting);
    ASSERT_EQ(sph_solid_jc_return_mapping(error, resting, {}, g, k, dt, on_surface, 298.0, 0.0,
                                          temp_factor, res),
              0);
    EXPECT_EQ(res.stress, resting);
    EXPECT_EQ(res.plastic_delta, 0.0);
    on_surface.a = std::nextafter(on_surface.a, 0.0);
    ASSERT_EQ(sph_solid_jc_return_mapping(error, resting, {}, g, k, dt, on_surface, 298.0, 0.0,
                                          temp_factor, res),
              0);
    EXPECT_GT(res.plastic_delta, 0.0);

    // A hydrostatic trial (von Mises 0) is elastic even when the flow stress
    // is undefined, so nothing undefined reaches the work or the temperature.
    const SolidTensor pressure{-1e8, -1e8, -1e8, 0, 0, 0};
    ASSERT_EQ(sph_solid_jc_return_mapping(error, pressure, {}, g, k, dt, st, 400.0, nan_value,
                                          temp_factor, res),
              0);
    EXPECT_EQ(res.stress, pressure);
    EXPECT_EQ(res.plastic_work, 0.0);
    EXPECT_EQ(res.temp, 400.0);

    // Above yield on a uniaxial strain increment, without a rate term: one
    // return with the flow stress at the start state, then the stress is put
    // on the surface at the new strain, at the old temperature.
    const SolidTensor large{1e-2, 0, 0, 0, 0, 0};
    const double ep_old = 0.03, temp_old = 500.0;
    SolidJohnsonCook rate_free = st;
    rate_free.c = 0.0;
    ASSERT_EQ(sph_solid_elastic_trial(error, old, large, g, k, trial), 0);
    const double q = sph_solid_von_mises(trial);
    const double flow0 = jc_by_hand(rate_free, ep_old, 1.0, temp_old);
    ASSERT_GT(q, flow0);
    const double delta = (q - flow0) / (3.0 * g);
    const double flow1 = jc_by_hand(rate_free, ep_old + delta, 1.0, temp_old);
    ASSERT_EQ(sph_solid_jc_return_mapping(error, old, large, g, k, dt, rate_free, temp_old, ep_old,
                                          temp_factor, res),
              0);
    expect_near_rel(res.plastic_delta, delta, 1e-13);
    expect_near_rel(res.ep, ep_old + delta, 1e-14);
    expect_near_rel(res.ep_rate, delta / dt, 1e-13);
    expect_near_rel(sph_solid_von_mises(res.stress), flow1, 1e-12);
    expect_near_rel(sph_solid_mean_stress(res.stress), sph_solid_mean_stress(trial), 1e-14);
    expect_near_rel(res.plastic_work, flow1 * delta, 1e-12);
    expect_near_rel(res.temp, temp_old + temp_factor * flow1 * delta, 1e-14);
    // The deviator keeps its direction and shrinks by flow1 / q.
    const double mean = sph_solid_mean_stress(trial);
    const double ratio = (res.stress[0] - mean) / (trial[0] - mean);
    expect_near_rel(ratio, flow1 / q, 1e-12);
    expect_near_rel(res.stress[5], trial[5] * flow1 / q, 1e-12);

    // Passing the result's own stress as the old stress gives the same answer.
    SolidReturnResult aliased;
    aliased.stress = old;
    ASSERT_EQ(sph_solid_jc_return_mapping(error, aliased.stress, large, g, k, dt, st, temp_old,
                                          ep_old, temp_factor, aliased),
              0);
    SolidReturnResult direct;
    ASSERT_EQ(sph_solid_jc_return_mapping(error, old, large, g, k, dt, st, temp_old, ep_old,
                                          temp_factor, direct),
              0);
    EXPECT_EQ(aliased.stress, direct.stress);
    EXPECT_EQ(aliased.ep, direct.ep);

    // With a rate term the increment d solves q - 3 G d = flow(ep + d, d / dt):
    // the stress lands on the surface of the rate it implies.
    const double d = direct.plastic_delta;
    ASSERT_GT(d, 0.0);
    EXPECT_LT(d, delta);
    expect_near_rel(q - 3.0 * g * d, jc_by_hand(st, ep_old + d, d / dt, temp_old), 1e-12);
    expect_near_rel(sph_solid_von_mises(direct.stress),
                    jc_by_hand(st, ep_old + d, d / dt, temp_old), 1e-12);
    expect_near_rel(direct.ep_rate, d / dt, 1e-13);
    EXPECT_GT(sph_solid_von_mises(direct.stress), 1.05 * flow0);  // the rate term matters

    // Without a time step the rate is 0: the rate-free single return.
    ASSERT_EQ(sph_solid_jc_return_mapping(error, old, large, g, k, 0.0, st, temp_old, ep_old,
                                          temp_factor, res),
              0);
    EXPECT_EQ(res.ep_rate, 0.0);
    expect_near_rel(res.plastic_delta, delta, 1e-13);
    expect_near_rel(sph_solid_von_mises(res.stress), flow1, 1e-12);

    // A flow stress after the step above the trial (steep hardening from
    // ep = 0) caps the scale at 1: the trial is kept while plastic strain and
    // work still accrue.
    on_surface = rate_free;
    on_surface.b = 50.0 * on_surface.a;
    ASSERT_EQ(sph_solid_elastic_trial(error, old, small, g, k, trial), 0);
    on_surface.a = 0.999 * sph_solid_von_mises(trial);
    ASSERT_EQ(sph_solid_jc_return_mapping(error, old, small, g, k, 1e-9, on_surface, 298.0, 0.0,
                                          0.0, res),
              0);
    ASSERT_GT(res.plastic_delta, 0.0);
    for (int i = 0; i < 6; ++i) EXPECT_NEAR(res.stress[i], trial[i], 1e-8 * std::fabs(trial[0]));
    const double capped_flow =
        on_surface.a + on_surface.b * std::pow(res.plastic_delta, on_surface.n);
    EXPECT_GT(capped_flow, sph_solid_von_mises(trial));
    expect_near_rel(res.plastic_work, capped_flow * res.plastic_delta, 1e-12);
    EXPECT_EQ(res.temp, 298.0);

    // Errors leave the start state: old stress, floored strain, old temperature.
    auto expect_start_state = [&](const SolidReturnResult& r) {
        EXPECT_EQ(r.stress, old);
        EXPECT_EQ(r.ep, 0.0);
        EXPECT_EQ(r.ep_rate, 0.0);
        EXPECT_EQ(r.plastic_delta, 0.0);
        EXPECT_EQ(r.plastic_work, 0.0);
        EXPECT_EQ(r.temp, 450.0);
    };
    SolidReturnResult junk;
    junk.stress = {1, 2, 3, 4, 5, 6};
    junk.ep = junk.ep_rate = junk.plastic_delta = junk.plastic_work = junk.temp = 9.0;
    {
        ErrorState e;
        SolidReturnResult r = junk;
        expect_error(
            e,
            sph_solid_jc_return_mapping(e, old, large, 0.0, k, dt, st, 450.0, -1.0, temp_factor, r),
            "Solid elastic update requires positive constants");
        expect_start_state(r);
    }
    {
        ErrorState e;
        SolidReturnResult r = junk;
        SolidJohnsonCook bad = st;
        bad.tmelt = 100.0;
        expect_error(
            e,
            sph_solid_jc_return_mapping(e, old, large, g, k, dt, bad, 450.0, -1.0, temp_factor, r),
            "Solid Johnson-Cook temperature range is invalid");
        expect_start_state(r);
    }
    {
        ErrorState e;
        SolidReturnResult r = junk;
        SolidJohnsonCook bad = st;
        bad.a = -1.0;
        expect_error(
            e,
            sph_solid_jc_return_mapping(e, old, small, g, k, dt, bad, 450.0, -1.0, temp_factor, r),
            "Solid Johnson-Cook hardening parameters are invalid");
        expect_start_state(r);
    }
}

TEST(SolidMaterial, EnergyFailureDamageSoftening) {
    ErrorState error;
    // Mean stress (2, 3, 4, 5, 6, 7) MPa on (1, 2, 3, 1, 1, 1) e-4:
    // (2 + 6 + 12 + 2 (5 + 6 + 7)) e2 = 5600 J/m^3, over 8000 kg/m^3.
    double de = 0.0;
    ASSERT_EQ(sph_solid_internal_energy_increment(error, {1e6, 2e6, 3e6, 4e6, 5e6, 6e6},
                                                  {3e6, 4e6, 5e6, 6e6, 7e6, 8e6},
                                                  {1e-4, 2e-4, 3e-4, 1e-4, 1e-4, 1e-4}, 8000.0, de),
              0);
    EXPECT_NEAR(de, 0.7, 1e-14);
    for (double rho : {0.0, -1.0}) {
        ErrorState e;
        de = 7.0;
        expect_error(e, sph_solid_internal_energy_increment(e, {}, {}, {}, rho, de),
                     "Solid internal energy requires positive density");
        EXPECT_EQ(de, 0.0);
    }

    // Failure strain at triaxiality 1/3 against the formula.
    const std::array<double, 5> cu{0.54, 4.89, -3.03, 0.014, 1.12};
    const std::array<double, 5> st{-0.8, 2.1, -0.5, 0.002, 0.61};
    const double eta = 1.0 / 3.0;
    double ef = 0.0;
    ASSERT_EQ(sph_solid_jc_failure_strain(error, cu, eta, 1.0, 1.0, 298.0, 298.0, 1356.0, ef), 0);
    expect_near_rel(ef, 2.3210308101, 1e-10);
    ASSERT_EQ(sph_solid_jc_failure_strain(error, st, eta, 1.0, 1.0, 298.0, 298.0, 1793.0, ef), 0);
    expect_near_rel(ef, 0.97761162227, 1e-10);
    struct Point {
        double rate, temp;
    };
    for (const Point& p : {Point{1000.0, 600.0}, Point{10.0, 1000.0}, Point{1e5, 400.0}}) {
        ASSERT_EQ(
            sph_solid_jc_failure_strain(error, cu, eta, p.rate, 1.0, p.temp, 298.0, 1356.0, ef), 0);
        expect_near_rel(ef, failure_by_hand(cu, eta, p.rate, (p.temp - 298.0) / 1058.0), 1e-14);
        ASSERT_EQ(
            sph_solid_jc_failure_strain(error, st, eta, p.rate, 1.0, p.temp, 298.0, 1793.0, ef), 0);
        expect_near_rel(ef, failure_by_hand(st, eta, p.rate, (p.temp - 298.0) / 1495.0), 1e-14);
    }
    // The rate is taken relative to epsdot0 and floored at it; T* is clamped.
    ASSERT_EQ(sph_solid_jc_failure_strain(error, cu, eta, 50.0, 5.0, 298.0, 298.0, 1356.0, ef), 0);
    expect_near_rel(ef, failure_by_hand(cu, eta, 10.0, 0.0), 1e-14);
    ASSERT_EQ(sph_solid_jc_failure_strain(error, cu, eta, 0.01, 1.0, 100.0, 298.0, 1356.0, ef), 0);
    expect_near_rel(ef, failure_by_hand(cu, eta, 1.0, 0.0), 1e-14);
    ASSERT_EQ(sph_solid_jc_failure_strain(error, cu, eta, 1.0, 1.0, 3000.0, 298.0, 1356.0, ef), 0);
    expect_near_rel(ef, failure_by_hand(cu, eta, 1.0, 1.0), 1e-14);

    const std::string invalid = "Solid Johnson-Cook failure strain is invalid";
    auto failure_error = [](const std::array<double, 5>& d, double t, double rate, double e0,
                            double tmelt, const std::string& message) {
        ErrorState e;
        double out = 7.0;
        expect_error(e, sph_solid_jc_failure_strain(e, d, t, rate, e0, 400.0, 298.0, tmelt, out),
                     message);
        EXPECT_EQ(out, 0.0);
    };
    // 4340 at triaxiality 2: -0.8 + 2.1 exp(-1) < 0.
    failure_error(st, 2.0, 1.0, 1.0, 1793.0, invalid);
    failure_error({0.0, 0.0, 0.0, 0.0, 0.0}, eta, 1.0, 1.0, 1793.0, invalid);
    failure_error(cu, nan_value, 1.0, 1.0, 1793.0, invalid);
    failure_error(cu, eta, 1.0, 0.0, 1793.0, "Solid failure strain rate reference is invalid");
    failure_error(cu, eta, 1.0, -1.0, 100.0, "Solid failure strain rate reference is invalid");
    failure_error(cu, eta, 1.0, 1.0, 298.0, "Solid Johnson-Cook temperature range is invalid");

    // Damage grows by plastic_delta / eps_f and saturates at 1 with status 2.
    double d = 0.0;
    int status = -1;
    ASSERT_EQ(sph_solid_damage_update(error, 0.2, 0.01, 0.1, d, status), 0);
    EXPECT_NEAR(d, 0.3, 1e-15);
    EXPECT_EQ(status, 0);
    ASSERT_EQ(sph_solid_damage_update(error, 0.5, 0.5, 1.0, d, status), 0);
    EXPECT_EQ(d, 1.0);
    EXPECT_EQ(status, 2);
    ASSERT_EQ(sph_solid_damage_update(error, 0.5, 0.49, 1.0, d, status), 0);
    EXPECT_EQ(status, 0);
    ASSERT_EQ(sph_solid_damage_update(error, 0.95, 0.3, 0.5, d, status), 0);
    EXPECT_EQ(d, 1.0);
    EXPECT_EQ(status, 2);
    // No growth without plastic strain; the stored value is clamped first.
    ASSERT_EQ(sph_solid_damage_update(error, 0.4, -0.1, 0.5, d, status), 0);
    EXPECT_EQ(d, 0.4);
    ASSERT_EQ(sph_solid_damage_update(error, -0.3, 0.0, 0.5, d, status), 0);
    EXPECT_EQ(d, 0.0);
    ASSERT_EQ(sph_solid_damage_update(error, nan_value, 0.1, 0.5, d, status), 0);
    EXPECT_NEAR(d, 0.2, 1e-15);
    ASSERT_EQ(sph_solid_damage_update(error, 1.7, 0.0, 0.5, d, status), 0);
    EXPECT_EQ(d, 1.0);
    EXPECT_EQ(status, 2);
    for (double eps_f : {0.0, -0.2}) {
        ErrorState e;
        d = 7.0;
        status = 7;
        expect_error(e, sph_solid_damage_update(e, 1.4, 0.1, eps_f, d, status),
                     "Solid damage update requires positive failure strain");
        EXPECT_EQ(d, 1.0);
        EXPECT_EQ(status, 0);
    }

    // Softening is 1 - damage whatever the width.
    double soft = 0.0;
    for (double width : {1e-6, 1.0, 1e3}) {
        ASSERT_EQ(sph_solid_linear_softening(error, 0.3, width, soft), 0);
        EXPECT_DOUBLE_EQ(soft, 0.7);
    }
    ASSERT_EQ(sph_solid_linear_softening(error, 1.5, 1.0, soft), 0);
    EXPECT_EQ(soft, 0.0);
    ASSERT_EQ(sph_solid_linear_softening(error, -0.5, 1.0, soft), 0);
    EXPECT_EQ(soft, 1.0);
    ASSERT_EQ(sph_solid_linear_softening(error, nan_value, 1.0, soft), 0);
    EXPECT_EQ(soft, 1.0);  // undefined damage counts as none
    for (double width : {0.0, -1.0}) {
        ErrorState e;
        soft = 7.0;
        expect_error(e, sph_solid_linear_softening(e, 0.3, width, soft),
                     "Solid softening width must be positive");
        EXPECT_EQ(soft, 0.0);
    }
}

// With a strain-rate term, plastic strain converges with the step size and a
// body brought to rest relaxes onto the rate-free surface instead of yielding
// again in every step.
TEST(SolidMaterial, RateDependentReturnConvergesAndRelaxesAtRest) {
    ErrorState error;
    double g = 0.0, k = 0.0, c = 0.0;
    ASSERT_EQ(sph_solid_elastic_constants(error, 200e9, 0.29, 7850.0, g, k, c), 0);
    SolidJohnsonCook jc = copper_jc();
    jc.c = 0.05;
    const double rate = 1e4;       // uniaxial strain rate
    const double duration = 2e-6;  // total strain 2e-2
    const auto strain_to = [&](int steps, SolidReturnResult& r) {
        const double dt = duration / steps;
        r = SolidReturnResult{};
        const SolidTensor inc{rate * dt, 0, 0, 0, 0, 0};
        for (int i = 0; i < steps; ++i) {
            ASSERT_EQ(sph_solid_jc_return_mapping(error, r.stress, inc, g, k, dt, jc, 298.0, r.ep,
                                                  0.0, r),
                      0);
        }
    };
    SolidReturnResult coarse, medium, fine;
    strain_to(100, coarse);
    strain_to(400, medium);
    strain_to(1600, fine);
    ASSERT_GT(fine.ep, 1e-3);
    EXPECT_NEAR(medium.ep, fine.ep, 0.01 * fine.ep);
    EXPECT_NEAR(coarse.ep, fine.ep, 0.03 * fine.ep);
    EXPECT_NEAR(sph_solid_von_mises(medium.stress), sph_solid_von_mises(fine.stress),
                0.01 * sph_solid_von_mises(fine.stress));

    // At rest the stress relaxes towards the rate-free flow stress; the
    // plastic strain it books is bounded by that overstress over 3 G.
    const double dt = duration / 400;
    const double ep_loaded = medium.ep;
    const double overstress =
        sph_solid_von_mises(medium.stress) - jc_by_hand(jc, ep_loaded, jc.epsdot0, 298.0);
    ASSERT_GT(overstress, 0.0);
    SolidReturnResult r = medium;
    double last_q = sph_solid_von_mises(r.stress);
    for (int i = 0; i < 20000; ++i) {
        ASSERT_EQ(
            sph_solid_jc_return_mapping(error, r.stress, {}, g, k, dt, jc, 298.0, r.ep, 0.0, r), 0);
        const double now = sph_solid_von_mises(r.stress);
        ASSERT_LE(now, last_q);
        last_q = now;
    }
    EXPECT_GT(r.ep, ep_loaded);
    EXPECT_LE(r.ep - ep_loaded, overstress / (3.0 * g) * (1.0 + 1e-12));
}
