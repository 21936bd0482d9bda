#pragma once
// Deck reader: two passes over an .inp file, keyword dispatch, model build.

#include <span>
#include <string>
#include <string_view>
#include <unordered_map>

struct Model;

struct InputState {
    int input_warning_count = 0;
    bool input_has_material = false;
    bool input_has_section = false;
    bool input_has_time_control = false;
    std::string input_current_file;  // at most 1024 characters
    int input_current_line = 0;
    std::string active_element_type = "UNKNOWN";
    std::string active_nset_name = "NSET";
    std::string active_elset_name = "ELSET";
    std::string active_material_name = "MATERIAL";
    std::string active_orientation_name = "ORIENTATION";
    // *NSET / *ELSET with the GENERATE word: every data line adds a range to
    // one generated record, created by the first of them (index 1-based, 0
    // until then).
    bool active_nset_generate = false;
    bool active_elset_generate = false;
    int active_generated_nset = 0;
    int active_generated_elset = 0;
    // Upper-cased node-set names of *INITIAL CONDITIONS lines, to their index
    // in DbState::initial_velocity_set_names (each name stored once).
    std::unordered_map<std::string, int> initial_velocity_set_keys;
};

inline constexpr std::size_t sph_input_path_len = 1024;

void sph_input_reset(Model& m);
[[nodiscard]] int sph_input_read(Model& m, std::string_view path);
[[nodiscard]] int sph_input_build_model(Model& m);
int sph_input_get_warning_count(const Model& m);

// Sets every initial velocity component the deck gave, in deck order, to its
// particles (after sections are applied). Unknown nodes and node sets are
// reported with the file:line: prefix of their data line.
[[nodiscard]] int sph_input_apply_initial_velocities(Model& m);

// Operations shared by the keyword handlers. `line` is the keyword line as
// read (cleaned, not upper-cased).

// Value of the first NAME=VALUE field whose name matches `name` (case
// ignored), left-adjusted and trimmed; empty if there is none. A blank value
// counts as absent for every caller that needs a value.
std::string_view sph_input_get_option(std::string_view line, std::string_view name);
// True if some NAME=VALUE field has that name, whatever its value.
bool sph_input_option_present(std::string_view line, std::string_view name);
// `value` = 0 first; absent or blank reports "missing required option NAME".
[[nodiscard]] int sph_input_get_required_real(Model& m, std::string_view line,
                                              std::string_view name, double& value);
// Absent or blank leaves `value` (the caller's default) untouched.
[[nodiscard]] int sph_input_get_optional_real(Model& m, std::string_view line,
                                              std::string_view name, double& value);
// Free-form number; on failure records `message` through sph_input_set_error.
[[nodiscard]] int sph_input_parse_real_value(Model& m, std::string_view text, double& value,
                                             std::string_view message);
[[nodiscard]] int sph_input_parse_integer_value(Model& m, std::string_view text, int& value,
                                                std::string_view message);
// TRUE/YES/ON/1 and FALSE/NO/OFF/0, case ignored; anything else records
// `message` and leaves `value` unchanged.
[[nodiscard]] int sph_input_parse_logical_value(Model& m, std::string_view text, bool& value,
                                                std::string_view message);
// Records "file:line: message" with status 4 and returns 4.
int sph_input_set_error(Model& m, std::string_view message);
// Gives the recorded message the file:line: prefix unless it already has it;
// the recorded code is kept.
void sph_input_prefix_current_error(Model& m);
// The "file:line: message" text of the current line.
std::string sph_input_prefixed_message(const Model& m, std::string_view message);
// Not NaN and magnitude at most 8.988465674311579e307.
bool sph_input_real_is_finite(double value);

// Warnings as text. Unknown keywords are counted (input_warning_count); the
// reader also names every value it drops (unknown or repeated options, an
// option word without a value, data lines under a keyword that takes none,
// text after a number, element nodes past the 8th) without counting them.
// Each goes to the log, when one is open, as one line
// "warning FILE:LINE: TEXT" for the current line.
void sph_input_warn(Model& m, std::string_view text);
// "unknown option NAME of KEYWORD", with the closest of `known` (case
// ignored) when it is close enough to be a misspelling of it.
void sph_input_warn_unknown_option(Model& m, std::string_view name, std::string_view keyword,
                                   std::span<const std::string_view> known);
// An option word without "=" (`field`), which no handler reads.
void sph_input_warn_option_without_value(Model& m, std::string_view field,
                                         std::string_view keyword);
// Warns when an option value that read as a number has more text after the
// number, which the number reader drops.
void sph_input_warn_trailing_text(Model& m, std::string_view value, std::string_view name);
// After a build, one log line per material and per section with its 1-based
// index (the one the particle state reports) and its name: "material 1
// Steel", "section 1 BLOCK" (a section is named by its set).
void sph_input_log_names(Model& m);
