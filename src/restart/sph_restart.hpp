#pragma once
// Restart files: the running state of a simulation as text, written in the
// newest layout and read back from any of the nine layouts.

#include <string_view>

struct Model;
class RestartWriter;
class SphInpLineReader;
using RestartLineSource = SphInpLineReader;

// Layouts of the restart file, oldest first.
enum class RestartLayout {
    state_0_2,
    state_0_3,
    state_0_3_1,
    state_0_4,
    state_0_4_1,
    state_0_5,
    state_0_5_1,
    state_0_8,
    state_0_8_1,
    unsupported,
};

inline constexpr std::string_view sph_restart_magic = "VELUNOR_RESTART";
inline constexpr std::string_view sph_restart_newest_tag = "STATE_0_8_1";
inline constexpr std::string_view sph_restart_coupling_marker = "VELUNOR_COUPLING_STATE";

RestartLayout sph_restart_classify_tag(std::string_view tag);

// Writes the whole file to `path` (trimmed): through a side file renamed onto
// the path once complete, so that a failed write leaves an earlier file whole.
[[nodiscard]] int sph_restart_write(Model& m, std::string_view path);

// Reads a file of any layout into `m`. On failure `m` is partly overwritten:
// the API layer reads into a staging model and keeps the running one intact.
[[nodiscard]] int sph_restart_read(Model& m, std::string_view path);

// What a successful read ends with: every active water and gas particle
// carries its phase's body force, as a build gives it; the neighbor lists and
// the solids' reference neighbors are rebuilt; the water, gas and solid
// diagnostics are refreshed.
[[nodiscard]] int sph_restart_finish_read(Model& m);

// Sections (internal pieces, exposed for the solid module's file and tests).
void sph_restart_write_explosive_state(Model& m, RestartWriter& w);
[[nodiscard]] int sph_restart_read_explosive_state(Model& m, RestartLineSource& in,
                                                   RestartLayout layout);
void sph_restart_clear_explosive_state(Model& m);
void sph_restart_seed_explosive_041_defaults(Model& m, int i);

void sph_solid_restart_write(Model& m, RestartWriter& w);
// True when the section was read; on false the caller records the message.
[[nodiscard]] bool sph_solid_restart_read(Model& m, RestartLineSource& in, RestartLayout layout);
void sph_solid_restart_clear(Model& m);
void sph_solid_restart_seed_051_defaults(Model& m);

void sph_restart_write_coupling_state(Model& m, RestartWriter& w);
// True when the section was read.
[[nodiscard]] bool sph_restart_read_coupling_state(Model& m, RestartLineSource& in,
                                                   RestartLayout layout);
void sph_restart_clear_coupling_state(Model& m);
void sph_restart_set_legacy_coupling_modes(Model& m, int region);
