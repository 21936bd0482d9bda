#include "solid/sph_solid_material.hpp"

#include <algorithm>
#include <cmath>

#include "core/sph_error.hpp"

// Outputs are set before the checks (0 unless a comment says otherwise), so a
// failed call never leaves a half-computed value behind. The elastic checks are
// written as !(x > 0) so that NaN fails them; the others are plain comparisons.

int sph_solid_elastic_constants(ErrorState& error, double e_value, double nu_value,
                                double density_value, double& shear, double& bulk,
                                double& wave_speed) {
    shear = 0.0;
    bulk = 0.0;
    wave_speed = 0.0;
    if (!(density_value > 0.0) || !(e_value > 0.0)) {
        return sph_error_set(error, sph_error_argument,
                             "Solid elastic constants require positive E and density");
    }
    if (!(nu_value < 0.5) || !(nu_value > -1.0)) {
        return sph_error_set(error, sph_error_argument,
                             "Solid elastic constants require valid Poisson ratio");
    }
    shear = e_value / (2.0 * (1.0 + nu_value));
    bulk = e_value / (3.0 * (1.0 - 2.0 * nu_value));
    wave_speed = std::sqrt((bulk + 4.0 * shear / 3.0) / density_value);
    return sph_success;
}

// On error stress_new is left untouched.
int sph_solid_elastic_trial(ErrorState& error, const SolidTensor& stress_old,
                            const SolidTensor& strain_inc, double shear, double bulk,
                            SolidTensor& stress_new) {
    if (!(shear > 0.0) || !(bulk > 0.0)) {
        return sph_error_set(error, sph_error_argument,
                             "Solid elastic update requires positive constants");
    }
    const double tr = strain_inc[0] + strain_inc[1] + strain_inc[2];
    const double lambda = bulk - 2.0 * shear / 3.0;
    SolidTensor out;
    for (int i = 0; i < 3; ++i) {
        out[i] = stress_old[i] + 2.0 * shear * strain_inc[i] + lambda * tr;
    }
    for (int i = 3; i < 6; ++i) out[i] = stress_old[i] + 2.0 * shear * strain_inc[i];
    stress_new = out;  // through a local: stress_new may be stress_old
    return sph_success;
}

double sph_solid_mean_stress(const SolidTensor& stress) {
    return (stress[0] + stress[1] + stress[2]) / 3.0;
}

double sph_solid_von_mises(const SolidTensor& s) {
    const double mean = sph_solid_mean_stress(s);
    const double d1 = s[0] - mean;
    const double d2 = s[1] - mean;
    const double d3 = s[2] - mean;
    return std::sqrt(
        1.5 * (d1 * d1 + d2 * d2 + d3 * d3 + 2.0 * (s[3] * s[3] + s[4] * s[4] + s[5] * s[5])));
}

int sph_solid_jc_hardening(ErrorState& error, double a_value, double b_value, double n_value,
                           double ep, double& hardening) {
    hardening = 0.0;
    if (a_value < 0.0 || b_value < 0.0 || n_value < 0.0) {
        return sph_error_set(error, sph_error_argument,
                             "Solid Johnson-Cook hardening parameters are invalid");
    }
    // std::pow(0, 0) = 1, so n = 0 gives A + B even at zero plastic strain.
    hardening = a_value + b_value * std::pow(std::max(ep, 0.0), n_value);
    return sph_success;
}

int sph_solid_jc_rate_factor(ErrorState& error, double strain_rate, double epsdot0, double c_value,
                             double& factor) {
    factor = 0.0;
    if (c_value < 0.0 || epsdot0 <= 0.0) {
        return sph_error_set(error, sph_error_argument,
                             "Solid Johnson-Cook rate parameters are invalid");
    }
    // Rates below the reference do not soften: the logarithm is floored at 0.
    factor = std::max(0.0, 1.0 + c_value * std::log(std::max(1.0, strain_rate / epsdot0)));
    return sph_success;
}

int sph_solid_jc_temperature_star(ErrorState& error, double temp, double troom, double tmelt,
                                  double& tstar) {
    tstar = 0.0;
    if (tmelt <= troom) {
        return sph_error_set(error, sph_error_argument,
                             "Solid Johnson-Cook temperature range is invalid");
    }
    tstar = sph_solid_clamp_unit((temp - troom) / (tmelt - troom));
    return sph_success;
}

int sph_solid_jc_flow_stress(ErrorState& error, const SolidJohnsonCook& jc, double ep,
                             double ep_rate, double temp, double& flow) {
    flow = 0.0;
    double hardening = 0.0;
    if (const int status = sph_solid_jc_hardening(error, jc.a, jc.b, jc.n, ep, hardening)) {
        return status;
    }
    if (jc.m < 0.0) {
        return sph_error_set(error, sph_error_argument,
                             "Solid Johnson-Cook thermal exponent is invalid");
    }
    double rate = 0.0;
    if (const int status = sph_solid_jc_rate_factor(error, ep_rate, jc.epsdot0, jc.c, rate)) {
        return status;
    }
    double tstar = 0.0;
    if (const int status = sph_solid_jc_temperature_star(error, temp, jc.troom, jc.tmelt, tstar)) {
        return status;
    }
    // pow(0, 0) = 1: m = 0 means fully thermally softened at every temperature.
    const double thermal = std::max(0.0, 1.0 - std::pow(tstar, jc.m));
    flow = hardening * rate * thermal;
    return sph_success;
}

double sph_solid_equiv_plastic_strain_rate(double delta_ep, double dt) {
    return (delta_ep > 0.0 && dt > 0.0) ? delta_ep / dt : 0.0;
}

// One radial return with the flow stress taken at the start-of-step strain;
// the rate-dependent flow stress after the increment then sets the scale, so
// the returned stress sits on that surface, or stays at the trial when that
// surface lies beyond it (no iteration). On error the result holds
// the start values (stress_old, max(ep_old, 0), rates and work 0, temp_old).
namespace {

// With a strain-rate term the single return to the rate-free flow stress,
// scaled afterwards to the flow stress at the rate that return implies, books
// the same plastic strain again in every later step, even at rest (the stored
// stress stays above the rate-free surface), and makes plastic strain depend
// on dt. The plastic increment is instead the root of
//   q - 3 G d = flow(ep + d, d / dt)
// on (0, d_max], d_max the rate-free increment, where the left side falls and
// the right side rises with d (hardening and rate factor never decrease).
// Illinois regula falsi keeps the bracket.
int rate_consistent_plastic_delta(ErrorState& error, const SolidJohnsonCook& jc, double q,
                                  double shear, double dt, double ep, double temp,
                                  double& plastic_delta) {
    const auto excess = [&](double d, double& value) {
        double flow = 0.0;
        const int status = sph_solid_jc_flow_stress(
            error, jc, ep + d, sph_solid_equiv_plastic_strain_rate(d, dt), temp, flow);
        value = q - 3.0 * shear * d - flow;
        return status;
    };
    double lo = 0.0;
    double hi = plastic_delta;
    double g_lo = 0.0;
    double g_hi = 0.0;
    if (const int status = excess(lo, g_lo)) return status;
    if (const int status = excess(hi, g_hi)) return status;
    if (!(g_lo > 0.0) || g_hi >= 0.0) return sph_success;  // no bracket: keep d_max
    int side = 0;
    for (int iteration = 0; iteration < 200 && hi - lo > 1e-15 * plastic_delta; ++iteration) {
        double d = (lo * g_hi - hi * g_lo) / (g_hi - g_lo);
        if (!(d > lo && d < hi)) d = 0.5 * (lo + hi);
        double g = 0.0;
        if (const int status = excess(d, g)) return status;
        // A stress residual of 1e-13 q is far below anything the flow law
        // resolves; stopping there saves most of the iterations.
        if (std::fabs(g) <= 1e-13 * q) {
            lo = hi = d;
            break;
        }
        if (g > 0.0) {
            lo = d;
            g_lo = g;
            if (side == 1) g_hi *= 0.5;
            side = 1;
        } else {
            hi = d;
            g_hi = g;
            if (side == -1) g_lo *= 0.5;
            side = -1;
        }
    }
    plastic_delta = hi;
    return sph_success;
}

}  // namespace

int sph_solid_jc_return_mapping(ErrorState& error, const SolidTensor& stress_old,
                                const SolidTensor& strain_inc, double shear, double bulk, double dt,
                                const SolidJohnsonCook& jc, double temp_old, double ep_old,
                                double temp_factor, SolidReturnResult& result) {
    SolidReturnResult out;
    out.stress = stress_old;
    out.ep = std::max(ep_old, 0.0);
    out.ep_rate = 0.0;
    out.plastic_work = 0.0;
    out.plastic_delta = 0.0;
    out.temp = temp_old;
    result = out;  // stress_old is no longer read, so aliasing result.stress is safe

    SolidTensor trial{};
    if (const int status =
            sph_solid_elastic_trial(error, out.stress, strain_inc, shear, bulk, trial)) {
        return status;
    }
    const double q = sph_solid_von_mises(trial);
    double flow0 = 0.0;
    if (const int status = sph_solid_jc_flow_stress(error, jc, out.ep, 0.0, temp_old, flow0)) {
        return status;
    }
    if (q <= 0.0 || flow0 >= q) {
        result.stress = trial;
        return sph_success;
    }

    double plastic_delta = std::max(0.0, (q - flow0) / (3.0 * shear));
    if (jc.c > 0.0 && dt > 0.0 && plastic_delta > 0.0) {
        if (const int status = rate_consistent_plastic_delta(error, jc, q, shear, dt, out.ep,
                                                             temp_old, plastic_delta)) {
            return status;
        }
    }
    const double ep_rate = sph_solid_equiv_plastic_strain_rate(plastic_delta, dt);
    const double ep = out.ep + plastic_delta;
    double flow1 = 0.0;
    if (const int status = sph_solid_jc_flow_stress(error, jc, ep, ep_rate, temp_old, flow1)) {
        return status;
    }
    const double scale = sph_solid_clamp_unit(flow1 / q);
    const double plastic_work = flow1 * plastic_delta;

    result.stress = sph_solid_scale_deviatoric(trial, scale);
    result.ep = ep;
    result.ep_rate = ep_rate;
    result.plastic_delta = plastic_delta;
    result.plastic_work = plastic_work;
    result.temp = temp_old + temp_factor * plastic_work;
    return sph_success;
}

int sph_solid_internal_energy_increment(ErrorState& error, const SolidTensor& stress_old,
                                        const SolidTensor& stress_new,
                                        const SolidTensor& strain_inc, double density_value,
                                        double& delta_energy) {
    delta_energy = 0.0;
    if (density_value <= 0.0) {
        return sph_error_set(error, sph_error_argument,
                             "Solid internal energy requires positive density");
    }
    // Trapezoidal rule over the step: work of the mean stress on the increment.
    SolidTensor mean{};
    for (int k = 0; k < 6; ++k) mean[k] = (stress_old[k] + stress_new[k]) / 2.0;
    delta_energy = sph_solid_voigt_dot(mean, strain_inc) / density_value;
    return sph_success;
}

double sph_solid_jc_failure_strain_value(const std::array<double, 5>& d, double triaxiality,
                                         double strain_rate, double epsdot0, double tstar) {
    return (d[0] + d[1] * std::exp(d[2] * triaxiality)) *
           (1.0 + d[3] * std::log(std::max(1.0, strain_rate / epsdot0))) * (1.0 + d[4] * tstar);
}

int sph_solid_jc_failure_strain(ErrorState& error, const std::array<double, 5>& d,
                                double triaxiality, double strain_rate, double epsdot0, double temp,
                                double troom, double tmelt, double& failure_strain) {
    failure_strain = 0.0;
    if (epsdot0 <= 0.0) {
        return sph_error_set(error, sph_error_argument,
                             "Solid failure strain rate reference is invalid");
    }
    double tstar = 0.0;
    if (const int status = sph_solid_jc_temperature_star(error, temp, troom, tmelt, tstar)) {
        return status;
    }
    const double eps_f =
        sph_solid_jc_failure_strain_value(d, triaxiality, strain_rate, epsdot0, tstar);
    if (!(eps_f > 0.0)) {
        return sph_error_set(error, sph_error_argument,
                             "Solid Johnson-Cook failure strain is invalid");
    }
    failure_strain = eps_f;
    return sph_success;
}

// On error damage_new is the clamped old damage and failure_status 0.
int sph_solid_damage_update(ErrorState& error, double damage_old, double plastic_delta,
                            double failure_strain, double& damage_new, int& failure_status) {
    damage_new = sph_solid_clamp_unit(damage_old);
    failure_status = 0;
    if (failure_strain <= 0.0) {
        return sph_error_set(error, sph_error_argument,
                             "Solid damage update requires positive failure strain");
    }
    if (plastic_delta > 0.0) damage_new += plastic_delta / failure_strain;
    damage_new = sph_solid_clamp_unit(damage_new);
    if (damage_new >= 1.0) failure_status = 2;
    return sph_success;
}

// The width is only validated: the factor is linear in damage alone.
// On error softening is 0.
int sph_solid_linear_softening(ErrorState& error, double damage_value, double width_value,
                               double& softening) {
    softening = 0.0;
    if (width_value <= 0.0) {
        return sph_error_set(error, sph_error_argument, "Solid softening width must be positive");
    }
    softening = sph_solid_clamp_unit(1.0 - sph_solid_clamp_unit(damage_value));
    return sph_success;
}

SolidTensor sph_solid_scale_deviatoric(const SolidTensor& stress, double scale) {
    const double mean = sph_solid_mean_stress(stress);
    SolidTensor out;
    for (int i = 0; i < 3; ++i) out[i] = (stress[i] - mean) * scale + mean;
    for (int i = 3; i < 6; ++i) out[i] = stress[i] * scale;
    return out;
}

double sph_solid_voigt_dot(const SolidTensor& left, const SolidTensor& right) {
    return left[0] * right[0] + left[1] * right[1] + left[2] * right[2] +
           2.0 * (left[3] * right[3] + left[4] * right[4] + left[5] * right[5]);
}

double sph_solid_clamp_unit(double value) {
    if (!(value > 0.0)) return 0.0;  // also NaN
    if (value > 1.0) return 1.0;
    return value;
}
