#pragma once
// *VELUNOR TIME CONTROL: its own option scan (prefix-matched keys, the last
// occurrence wins) and the hand-over to run control.

#include <string_view>

struct Model;

[[nodiscard]] int sph_input_parse_time_control(Model& m, std::string_view line);
