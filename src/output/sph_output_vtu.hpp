#pragma once
// ParaView output: one VTU file per output step and the PVD collection that
// lists them as a time series.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

struct Model;

inline constexpr int sph_pvd_max_entries = 10000;
inline constexpr std::size_t sph_pvd_file_len = 128;
// Paths of the output files are built in a text of this width.
inline constexpr std::size_t sph_output_path_len = 1024;

struct PvdEntry {
    int step = 0;
    double time = 0.0;
    std::string file;  // VTU file name relative to the output directory, at most 128 characters
};

struct PvdState {
    std::vector<PvdEntry>
        entries;  // pvd_entry_count = size(), at most 10000, first-registration order
};

// Form of every VTU file the library writes: the documented ASCII text, or
// VTK's XML with the arrays as raw little-endian blocks appended after it.
enum class SphVtuFormat { ascii, binary };

// Name of the environment variable through which a host asks for a VTU form.
inline constexpr const char* sph_output_format_variable = "VELUNOR_OUTPUT_FORMAT";

// Settings of the output module from the deck (*VELUNOR OUTPUT FORMAT and CSV)
// and from the host.
struct OutputOptions {
    SphVtuFormat vtu_format = SphVtuFormat::ascii;
    bool particle_csv = true;  // whether the step writer writes the particle CSV
    // The host's VELUNOR_OUTPUT_FORMAT, read at initialization: it takes the
    // place of every deck's FORMAT until the next initialization.
    std::optional<SphVtuFormat> format_override;
};

void sph_output_reset_pvd(PvdState& pvd);
// The settings of a deck without FORMAT and CSV; a host's override stays.
void sph_output_reset_options(OutputOptions& options);
// "ASCII" or "BINARY", case ignored; false for any other word.
[[nodiscard]] bool sph_output_parse_format(std::string_view word, SphVtuFormat& format);

// Writes every particle as one vertex cell of a VTU file at `filename`
// (trailing blanks trimmed), in the form the options select. Status 0 or 3.
[[nodiscard]] int sph_output_write_vtu(Model& m, std::string_view filename);
// Registers (step, time, vtu_file) and rewrites `directory`/velunor.pvd.
[[nodiscard]] int sph_output_write_pvd_step(Model& m, std::string_view directory, int step,
                                            double time, std::string_view vtu_file);
// Adds the entry, or updates the one already holding `step` in place.
[[nodiscard]] int sph_pvd_register_entry(Model& m, int step, double time,
                                         std::string_view vtu_file);
// Writes the whole collection to `filename`.
[[nodiscard]] int sph_pvd_write_file(Model& m, std::string_view filename);
