#pragma once
// Fixed-width text fields: values are held trimmed of trailing blanks and cut
// to the field width; names compare with case ignored and leading blanks kept.

#include <cstddef>
#include <string>
#include <string_view>

inline constexpr std::size_t sph_name_len = 64;

// Trailing blanks (spaces only) removed.
std::string_view sph_text_trim_trailing(std::string_view text);
// Leading blanks (spaces only) removed.
std::string_view sph_text_trim_leading(std::string_view text);
// Both ends trimmed of blanks.
std::string_view sph_text_trim(std::string_view text);
// The value a blank-padded field of `width` characters holds: cut to `width`,
// trailing blanks removed.
std::string sph_text_field(std::string_view text, std::size_t width);
// True if the text holds nothing but blanks.
bool sph_text_is_blank(std::string_view text);
// Letters a-z to A-Z, every other byte unchanged.
std::string sph_text_upper(std::string_view text);
// Equal after removing trailing blanks and upper-casing a-z; leading blanks count.
bool sph_text_name_equal(std::string_view left, std::string_view right);
// True if the upper-cased `text` contains `upper_word` (already upper case).
bool sph_text_contains_upper(std::string_view text, std::string_view upper_word);
