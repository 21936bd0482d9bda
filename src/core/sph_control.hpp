#pragma once
// Run control: simulation time and step, time-step limits, output cadence.

#include <string>
#include <string_view>

struct Model;

inline constexpr double sph_default_dt = 1.0e-6;
inline constexpr double sph_default_end_time = 1.0e-6;
inline constexpr int sph_default_max_steps = 1;
inline constexpr int sph_default_output_interval = 1;
inline constexpr std::size_t sph_output_directory_len = 256;

struct ControlState {
    double current_time = 0.0;
    int current_step = 0;
    double dt_default = sph_default_dt;
    double end_time = sph_default_end_time;
    double safety_factor = 1.0;
    int max_steps = sph_default_max_steps;
    int output_interval = sph_default_output_interval;
    std::string output_directory = "output";  // trimmed, at most 256 characters
    bool output_enabled = false;
    int integrator = 0;  // sph_integrator_default or sph_integrator_verlet
};

void sph_control_reset(ControlState& control);
void sph_control_get_time(const ControlState& control, double& time, int& step);
[[nodiscard]] int sph_control_validate_time(Model& m, double dt, double end_time, int max_steps,
                                            double safety);
void sph_control_set_time(ControlState& control, double dt, double end_time, int max_steps,
                          double safety);
// The two output setters act on run control only (the directory setter also
// restarts the PVD collection).
[[nodiscard]] int sph_output_set_interval(Model& m, int interval);
[[nodiscard]] int sph_output_set_directory(Model& m, std::string_view directory);
