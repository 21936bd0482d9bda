#pragma once
// The number forms of every text file the library writes.
//
// Real: the 24-character scientific field "  d.ddddddddddddddddE+dd" with one
// digit before the point and 16 after it, right-aligned (two leading blanks
// for a positive value, one for a negative one). The 17 significant digits are
// the exact decimal rounding of the double (ties to even). An exponent of three
// digits is written as sign and three digits without the letter E
// ("  1.0000000000000000+100"). Non-finite values are "NaN", "Infinity" and
// "-Infinity", right-aligned in the field.
//
// Integer: the shortest decimal form, a minus sign when negative, no blanks.
//
// All writers put their text into a caller buffer and return the end of what
// they wrote; they never allocate and never write a terminating NUL.

#include <cstddef>
#include <string>

inline constexpr std::size_t sph_format_real_width = 24;
// Longest integer form: "-2147483648".
inline constexpr std::size_t sph_format_int_max_width = 11;

// Writes exactly sph_format_real_width characters; returns out + 24.
char* sph_format_real(char* out, double value);
// The same field in the forms VTK's ASCII reader parses, for the values of VTU
// files: a three-digit exponent keeps its letter E (" 1.0000000000000000E+100",
// "-1.0000000000000000E-100"; read without it, ParaView splits the field into
// two numbers and shifts every later value of the array), and infinities are
// "inf" and "-inf" (VTK refuses a whole array holding "Infinity").
char* sph_format_real_vtk(char* out, double value);
// The real form without its leading blanks (22 or 23 characters for a finite
// value, "NaN", "Infinity" or "-Infinity"); at most 24 characters.
char* sph_format_real_trimmed(char* out, double value);
// The free-form real of restart files: the text of std::to_chars with
// chars_format::general and precision 17 (C's "%.17g"), character for
// character: the same exactly rounded 17 digits, fixed notation for decimal
// exponents -4..16 and "d.ddde+dd" beyond, trailing zeros and a bare point
// dropped ("0", "-0", "0.10000000000000001", "1e+100"). Finite values only.
inline constexpr std::size_t sph_format_real_g17_max_width = 24;  // "-2.2250738585072014e-308"
char* sph_format_real_g17(char* out, double value);
// Shortest integer form; at most sph_format_int_max_width characters.
char* sph_format_int(char* out, int value);

// Owning conveniences for cold paths and tests.
std::string sph_format_real_string(double value);
std::string sph_format_int_string(int value);
