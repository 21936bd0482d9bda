#pragma once
// ParaView output: one VTU file per output step and the PVD collection.

#include <string>
#include <string_view>
#include <vector>

struct Model;

inline constexpr int sph_pvd_max_entries = 10000;
inline constexpr std::size_t sph_pvd_file_len = 128;

struct PvdEntry {
    int step = 0;
    double time = 0.0;
    std::string file;  // at most 128 characters
};

struct PvdState {
    std::vector<PvdEntry> entries;  // pvd_entry_count = size(), at most 10000
};

void sph_output_reset_pvd(PvdState& pvd);
