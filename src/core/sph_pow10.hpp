#pragma once
// 128-bit truncated mantissas of the powers of ten, shared by the real-number
// formatter (binary to decimal) and the number reader (decimal to binary).

#include <cstdint>

namespace sph_pow10 {

struct Pow10Entry {
    std::uint64_t high;
    std::uint64_t low;
    int b;
};

#include "core/sph_format_pow10.inc"

inline const Pow10Entry& entry(int k) {
    return sph_pow10_table[k - sph_pow10_min];
}

}  // namespace sph_pow10
