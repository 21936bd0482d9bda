#include "core/sph_control.hpp"

#include "core/sph_model.hpp"
#include "core/sph_text.hpp"

void sph_control_reset(ControlState& control) {
    control = ControlState{};
}

void sph_control_get_time(const ControlState& control, double& time, int& step) {
    time = control.current_time;
    step = control.current_step;
}

int sph_control_validate_time(Model& m, double dt, double end_time, int max_steps, double safety) {
    // Written as "<= 0" so that NaN passes here; sph_control_set_time then keeps
    // the previous value because NaN > 0 is false as well.
    if (dt <= 0.0)
        return sph_error_set(m.error, sph_error_argument, "time control DT must be positive");
    if (end_time <= 0.0) {
        return sph_error_set(m.error, sph_error_argument, "time control TIME must be positive");
    }
    if (max_steps <= 0) {
        return sph_error_set(m.error, sph_error_argument, "time control STEPS must be positive");
    }
    if (safety <= 0.0) {
        return sph_error_set(m.error, sph_error_argument, "time control SAFETY must be positive");
    }
    return sph_success;
}

void sph_control_set_time(ControlState& control, double dt, double end_time, int max_steps,
                          double safety) {
    if (dt > 0.0) control.dt_default = dt;
    if (end_time > 0.0) control.end_time = end_time;
    if (max_steps > 0) control.max_steps = max_steps;
    if (safety > 0.0) control.safety_factor = safety;
}

int sph_output_set_interval(Model& m, int interval) {
    if (interval <= 0) {
        return sph_error_set(m.error, sph_error_argument, "output interval must be positive");
    }
    m.control.output_interval = interval;
    return sph_success;
}

int sph_output_set_directory(Model& m, std::string_view directory) {
    const std::string_view trimmed = sph_text_trim_trailing(directory);
    if (trimmed.empty()) {
        return sph_error_set(m.error, sph_error_argument, "output directory must not be empty");
    }
    // A longer directory would be cut to a different path and the step files
    // would land somewhere the host did not ask for.
    if (trimmed.size() > sph_output_directory_len) {
        return sph_error_set(m.error, sph_error_argument,
                             "output directory must not be longer than 256 characters");
    }
    sph_output_reset_pvd(m.pvd);
    m.control.output_directory = std::string(trimmed);
    m.control.output_enabled = true;
    return sph_success;
}
