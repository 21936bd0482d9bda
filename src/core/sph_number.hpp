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

// The reader's fast path for the plain decimal form "[-]d.d[e[+-]d]" (digits
// before or after an optional point, at least one; an optional exponent with
// e or E), the form of every real the library writes. Reads the form from
// `p` (the caller checks what follows it) and returns its end when the value
// is zero or a normal double, which is then the correctly rounded value, bit
// for bit the one std::from_chars gives. Returns nullptr, leaving `value`
// unchanged, for any other text and for the rare numbers it leaves to the
// general reader: more than 19 significant digits, a subnormal or overflowing
// result, an exponent beyond the power table, or a value that lies too close
// to a rounding boundary to decide here.
const char* sph_number_parse_plain_real(const char* p, const char* end, double& value);
