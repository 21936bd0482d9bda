#pragma once
// Pointwise kernels of the solid material: isotropic elasticity, Johnson-Cook
// flow stress with a single-step radial return, Johnson-Cook failure strain,
// damage and linear softening. Pure functions of their arguments; every
// failure records its message with status 1 and leaves the outputs as the
// comments say.
//
// Symmetric tensors are 6 components (xx, yy, zz, xy, yz, xz) with tensor
// (not engineering) shear components.

#include <array>

struct ErrorState;

using SolidTensor = std::array<double, 6>;

// Johnson-Cook flow constants A, B, n, C, m and references epsdot0, Troom,
// Tmelt.
struct SolidJohnsonCook {
    double a = 0.0, b = 0.0, n = 0.0, c = 0.0, m = 0.0;
    double epsdot0 = 1.0, troom = 293.15, tmelt = 1793.0;
};

// G = E / (2 (1 + nu)), K = E / (3 (1 - 2 nu)), c = sqrt((K + 4G/3) / rho);
// all three 0 on error.
[[nodiscard]] int sph_solid_elastic_constants(ErrorState& error, double e_value, double nu_value,
                                              double density_value, double& shear, double& bulk,
                                              double& wave_speed);
[[nodiscard]] int sph_solid_elastic_trial(ErrorState& error, const SolidTensor& stress_old,
                                          const SolidTensor& strain_inc, double shear, double bulk,
                                          SolidTensor& stress_new);
double sph_solid_von_mises(const SolidTensor& stress);
double sph_solid_mean_stress(const SolidTensor& stress);
[[nodiscard]] int sph_solid_jc_hardening(ErrorState& error, double a_value, double b_value,
                                         double n_value, double ep, double& hardening);
[[nodiscard]] int sph_solid_jc_rate_factor(ErrorState& error, double strain_rate, double epsdot0,
                                           double c_value, double& factor);
[[nodiscard]] int sph_solid_jc_temperature_star(ErrorState& error, double temp, double troom,
                                                double tmelt, double& tstar);
[[nodiscard]] int sph_solid_jc_flow_stress(ErrorState& error, const SolidJohnsonCook& jc, double ep,
                                           double ep_rate, double temp, double& flow);
double sph_solid_equiv_plastic_strain_rate(double delta_ep, double dt);

struct SolidReturnResult {
    SolidTensor stress{};
    double ep = 0.0;
    double ep_rate = 0.0;
    double plastic_work = 0.0;
    double temp = 0.0;
    double plastic_delta = 0.0;
};
[[nodiscard]] int sph_solid_jc_return_mapping(ErrorState& error, const SolidTensor& stress_old,
                                              const SolidTensor& strain_inc, double shear,
                                              double bulk, double dt, const SolidJohnsonCook& jc,
                                              double temp_old, double ep_old, double temp_factor,
                                              SolidReturnResult& result);
[[nodiscard]] int sph_solid_internal_energy_increment(ErrorState& error,
                                                      const SolidTensor& stress_old,
                                                      const SolidTensor& stress_new,
                                                      const SolidTensor& strain_inc,
                                                      double density_value, double& delta_energy);
// (D1 + D2 exp(D3 eta)) (1 + D4 ln(max(1, rate / epsdot0))) (1 + D5 T*),
// unchecked: the fit may give a value that is not positive.
double sph_solid_jc_failure_strain_value(const std::array<double, 5>& d, double triaxiality,
                                         double strain_rate, double epsdot0, double tstar);
[[nodiscard]] int sph_solid_jc_failure_strain(ErrorState& error, const std::array<double, 5>& d,
                                              double triaxiality, double strain_rate,
                                              double epsdot0, double temp, double troom,
                                              double tmelt, double& failure_strain);
[[nodiscard]] int sph_solid_damage_update(ErrorState& error, double damage_old,
                                          double plastic_delta, double failure_strain,
                                          double& damage_new, int& failure_status);
[[nodiscard]] int sph_solid_linear_softening(ErrorState& error, double damage_value,
                                             double width_value, double& softening);
SolidTensor sph_solid_scale_deviatoric(const SolidTensor& stress, double scale);
// a1 b1 + a2 b2 + a3 b3 + 2 (a4 b4 + a5 b5 + a6 b6).
double sph_solid_voigt_dot(const SolidTensor& left, const SolidTensor& right);
double sph_solid_clamp_unit(double value);
