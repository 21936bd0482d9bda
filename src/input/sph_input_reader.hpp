#pragma once
// Deck reader: two passes over an .inp file, keyword dispatch, model build.

#include <string>
#include <string_view>

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
};

void sph_input_reset(Model& m);
[[nodiscard]] int sph_input_read(Model& m, std::string_view path);
[[nodiscard]] int sph_input_build_model(Model& m);
int sph_input_get_warning_count(const Model& m);
