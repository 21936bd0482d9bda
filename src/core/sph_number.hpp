#pragma once
// The one free-form number reader of the project (deck and restart files).
//
// A text is read as one item: leading blanks (spaces or tabs) are skipped and
// the item ends at the next blank, tab, comma or slash; anything after it is
// ignored. Reals accept an optional sign, digits with an optional decimal
// point (at least one digit) and an optional exponent written with E or D in
// either case (10, -2.5, 1.0E-6, 1.0d3). Integers accept only an optional sign
// and digits, so 3.0 is not an integer. Special values (Inf, NaN), hex forms
// and repeat counts are not numbers here.
//
// A real too large for a double is unreadable; one too small becomes a signed
// zero. On failure the value is left unchanged.

#include <cstdint>
#include <string_view>

// The first item of `text` (empty if there is none).
std::string_view sph_number_first_item(std::string_view text);

[[nodiscard]] bool sph_number_read_real(std::string_view text, double& value);
[[nodiscard]] bool sph_number_read_int(std::string_view text, int& value);
[[nodiscard]] bool sph_number_read_int64(std::string_view text, int64_t& value);
