#include "input/sph_input_time.hpp"

#include "core/sph_control.hpp"
#include "core/sph_model.hpp"
#include "core/sph_number.hpp"
#include "core/sph_text.hpp"
#include "input/sph_inp_helpers.hpp"
#include "input/sph_input_reader.hpp"
#include "solver/sph_solver_state.hpp"

namespace {

enum class TimeItem { none, dt, time, steps, safety, integrator };

// Keys match by prefix, so DTMAX counts as DT and TIME_END as TIME, while
// END_TIME (with an underscore) matches nothing.
TimeItem classify_key(std::string_view key) {
    if (sph_inp_starts_with_upper(key, "DT")) return TimeItem::dt;
    if (sph_inp_starts_with_upper(key, "END TIME") || sph_inp_starts_with_upper(key, "TIME")) {
        return TimeItem::time;
    }
    if (sph_inp_starts_with_upper(key, "MAX STEPS") || sph_inp_starts_with_upper(key, "STEPS")) {
        return TimeItem::steps;
    }
    if (sph_inp_starts_with_upper(key, "SAFETY")) return TimeItem::safety;
    if (sph_inp_starts_with_upper(key, "INTEGRATOR")) return TimeItem::integrator;
    return TimeItem::none;
}

// The keys the scan knows, for the did-you-mean of an unknown one.
constexpr std::string_view time_keys[] = {"DT",        "TIME",   "END TIME",  "STEPS",
                                          "MAX STEPS", "SAFETY", "INTEGRATOR"};
constexpr std::string_view keyword = "*VELUNOR TIME CONTROL";

// Names what the scan drops: a key it does not know (SAFTEY would leave the
// safety factor at 1), a field without "=", and values that a later field of
// the same key overwrites. Text only; the warning count stays.
void check_time_options(Model& m, const SphCsvFields& fields) {
    if (!m.log.sph_log_is_open) return;
    bool seen[6] = {};
    for (int k = 1; k < fields.count; ++k) {
        const std::string_view field = sph_text_trim(fields.field[static_cast<std::size_t>(k)]);
        if (field.empty()) continue;
        const std::size_t eq = field.find('=');
        const std::string key = sph_text_upper(sph_text_trim(field.substr(0, eq)));
        if (eq == std::string_view::npos) {
            sph_input_warn_option_without_value(m, field, keyword);
            continue;
        }
        const TimeItem item = classify_key(key);
        if (item == TimeItem::none) {
            sph_input_warn_unknown_option(m, key, keyword, time_keys);
            continue;
        }
        bool& again = seen[static_cast<int>(item)];
        if (again) {
            sph_input_warn(m, "option " + key + " of " + std::string(keyword) +
                                  " overrides an earlier one; the last counts");
        }
        again = true;
    }
}

}  // namespace

int sph_input_parse_time_control(Model& m, std::string_view line) {
    m.input.input_has_time_control = true;
    double dt = -1.0;
    double end_time = -1.0;
    int steps = -1;
    double safety = 1.0;
    int integrator =
        sph_integrator_default;  // a deck without the option keeps the documented scheme
    bool dt_read = false, time_read = false, steps_read = false;

    SphCsvFields fields;
    sph_inp_split_csv(line, fields);
    check_time_options(m, fields);
    for (int k = 0; k < fields.count; ++k) {
        std::string_view field = fields.field[static_cast<std::size_t>(k)];
        std::size_t eq = field.find('=');
        if (eq == std::string_view::npos) continue;
        std::string_view key = sph_text_trim_leading(field.substr(0, eq));
        std::string_view value = field.substr(eq + 1);  // a blank value is unreadable
        // A later field with the same key overwrites the earlier value.
        switch (classify_key(key)) {
            case TimeItem::dt:
                if (!sph_number_read_real(value, dt)) {
                    return sph_input_set_error(m, "invalid VELUNOR TIME CONTROL DT");
                }
                sph_input_warn_trailing_text(m, value, "DT");
                dt_read = true;
                break;
            case TimeItem::time:
                if (!sph_number_read_real(value, end_time)) {
                    return sph_input_set_error(m, "invalid VELUNOR TIME CONTROL TIME");
                }
                sph_input_warn_trailing_text(m, value, "TIME");
                time_read = true;
                break;
            case TimeItem::steps:
                if (!sph_number_read_int(value, steps)) {
                    return sph_input_set_error(m, "invalid VELUNOR TIME CONTROL STEPS");
                }
                sph_input_warn_trailing_text(m, value, "STEPS");
                steps_read = true;
                break;
            case TimeItem::safety:
                if (!sph_number_read_real(value, safety)) {
                    return sph_input_set_error(m, "invalid VELUNOR TIME CONTROL SAFETY");
                }
                sph_input_warn_trailing_text(m, value, "SAFETY");
                break;
            case TimeItem::integrator: {
                const std::string_view word = sph_text_trim(value);
                if (sph_text_name_equal(word, "VERLET")) {
                    integrator = sph_integrator_verlet;
                } else if (sph_text_name_equal(word, "DEFAULT")) {
                    integrator = sph_integrator_default;
                } else {
                    return sph_input_set_error(m, "invalid VELUNOR TIME CONTROL INTEGRATOR");
                }
                break;
            }
            case TimeItem::none:
                break;
        }
    }
    if (!dt_read || !time_read || !steps_read) {
        return sph_input_set_error(m, "missing required VELUNOR TIME CONTROL option");
    }
    if (int status = sph_control_validate_time(m, dt, end_time, steps, safety)) {
        sph_input_prefix_current_error(m);
        return status;
    }
    sph_control_set_time(m.control, dt, end_time, steps, safety);
    m.control.integrator = integrator;
    return sph_success;
}
