#include "output/sph_output_csv.hpp"

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <new>
#include <vector>

#include "core/sph_format.hpp"
#include "core/sph_model.hpp"
#include "core/sph_text.hpp"
#include "output/sph_output_file.hpp"
#include "output/sph_output_summary.hpp"
#include "output/sph_output_vtu.hpp"

namespace {

constexpr std::string_view csv_open_failed = "failed to open CSV output file";
constexpr std::string_view csv_write_failed = "failed to write CSV output file";

constexpr int csv_real_columns = 41;
constexpr int csv_int_columns = 11;
constexpr std::size_t csv_max_row = csv_int_columns * (sph_format_int_max_width + 1) +
                                    csv_real_columns * (sph_format_real_width + 1) + 2;
static_assert(csv_max_row <= SphOutputFile::max_reserve);

// Per-particle arrays of the explosive, solid, blast-load and coupling modules.
// A module that has not allocated its arrays leaves the pointer null and its
// columns read 0.
struct CsvModuleColumns {
    const double* explosive_detonation_time = nullptr;
    const double* explosive_reaction_progress = nullptr;
    const double* explosive_initial_mass = nullptr;
    const double* explosive_remaining_mass = nullptr;
    const double* explosive_released_mass = nullptr;
    const double* explosive_released_energy = nullptr;
    const SolidTensor* solid_stress = nullptr;  // xx, yy, zz, xy, yz, zx
    const double* solid_plastic_strain = nullptr;
    const double* solid_damage = nullptr;
    const double* solid_softening = nullptr;
    const double* solid_strain_rate_eq = nullptr;
    const Vec3* blast_solid_external_force = nullptr;
    const Vec3* blast_shell_external_force = nullptr;
    const Vec3* blast_shell_external_moment = nullptr;
    const Vec3* coupling_external_force = nullptr;
    const double* coupling_contact_gap = nullptr;
    const double* coupling_contact_penetration = nullptr;
    const int* coupling_contact_flag = nullptr;
    const int* solid_failure_status = nullptr;
    const int* solid_reference_neighbor_count = nullptr;
    const int* solid_correction_status = nullptr;
    const int* coupling_motion_flag = nullptr;
};

// Each module's pointers are set once its arrays exist (null while they are
// not allocated).
CsvModuleColumns csv_module_columns(const Model& m) {
    CsvModuleColumns c;
    const ExplosiveState& ex = m.explosive;
    if (m.db.npart > 0 && ex.explosive_detonation_time.size() == std::size_t(m.db.npart)) {
        c.explosive_detonation_time = ex.explosive_detonation_time.data();
        c.explosive_reaction_progress = ex.explosive_reaction_progress.data();
        c.explosive_initial_mass = ex.explosive_initial_mass.data();
        c.explosive_remaining_mass = ex.explosive_remaining_mass.data();
        c.explosive_released_mass = ex.explosive_released_mass.data();
        c.explosive_released_energy = ex.explosive_released_energy.data();
    }
    const SolidState& so = m.solid;
    if (m.db.npart > 0 && so.solid_stress.size() == std::size_t(m.db.npart)) {
        c.solid_stress = so.solid_stress.data();
        c.solid_plastic_strain = so.solid_plastic_strain.data();
        c.solid_damage = so.solid_damage.data();
        c.solid_softening = so.solid_softening.data();
        c.solid_strain_rate_eq = so.solid_strain_rate_eq.data();
        c.solid_failure_status = so.solid_failure_status.data();
        c.solid_reference_neighbor_count = so.solid_reference_neighbor_count.data();
        c.solid_correction_status = so.solid_correction_status.data();
    }
    const BlastLoadState& bl = m.blast_load;
    if (m.db.npart > 0 && bl.blast_solid_external_force.size() == std::size_t(m.db.npart)) {
        c.blast_solid_external_force = bl.blast_solid_external_force.data();
        c.blast_shell_external_force = bl.blast_shell_external_force.data();
        c.blast_shell_external_moment = bl.blast_shell_external_moment.data();
    }
    const CouplingState& co = m.coupling;
    if (m.db.npart > 0 && co.coupling_external_force.size() == std::size_t(m.db.npart)) {
        c.coupling_external_force = co.coupling_external_force.data();
        c.coupling_contact_gap = co.coupling_contact_gap.data();
        c.coupling_contact_penetration = co.coupling_contact_penetration.data();
        c.coupling_contact_flag = co.coupling_contact_flag.data();
        c.coupling_motion_flag = co.coupling_motion_flag.data();
    }
    return c;
}

inline double value_or_zero(const double* values, int i) {
    return values ? values[i] : 0.0;
}
inline int value_or_zero(const int* values, int i) {
    return values ? values[i] : 0;
}
inline double component_or_zero(const Vec3* values, int i, int c) {
    return values ? values[i][c] : 0.0;
}

// Region index (1-based) of every particle, the same answer as
// sph_output_coupling_region_id but in one pass over the region lists.
// Empty when no enabled region lists a particle.
std::vector<int> region_ids_of_particles(const Model& m) {
    std::vector<int> ids;
    const int npart = m.db.npart;
    const auto& regions = m.db.coupling_regions;
    for (std::size_t r = 0; r < regions.size(); ++r) {
        const CouplingRegionRecord& region = regions[r];
        if (region.coupling_region_enabled == 0) continue;
        const std::size_t count = std::min<std::size_t>(
            static_cast<std::size_t>(std::max(region.coupling_region_particle_count, 0)),
            region.coupling_region_particles.size());
        if (count == 0) continue;
        if (ids.empty()) ids.assign(static_cast<std::size_t>(npart), 0);
        for (std::size_t k = 0; k < count; ++k) {
            const int p = region.coupling_region_particles[k];
            if (p >= 0 && p < npart && ids[p] == 0) ids[p] = static_cast<int>(r) + 1;
        }
    }
    return ids;
}

inline char* put_int(char* p, int value) {
    p = sph_format_int(p, value);
    *p = ',';
    return p + 1;
}

inline char* put_real(char* p, double value) {
    p = sph_format_real(p, value);
    *p = ',';
    return p + 1;
}

// The step number in at least 8 digits with leading zeros; a negative step
// gets a minus sign before its zero-padded magnitude, so -1 is "-00000001".
// Steps beyond 8 digits keep all their digits.
void append_step_digits(std::string& out, int step) {
    std::int64_t magnitude = step;
    if (magnitude < 0) {
        out += '-';
        magnitude = -magnitude;
    }
    char digits[24];
    const auto end = std::to_chars(digits, digits + sizeof(digits), magnitude).ptr;
    const std::size_t length = static_cast<std::size_t>(end - digits);
    if (length < 8) out.append(8 - length, '0');
    out.append(digits, length);
}

std::string step_path(std::string_view directory, std::string_view file_name) {
    std::string path(sph_text_trim_trailing(directory));
    path += '/';
    path += file_name;
    return sph_text_field(path, sph_output_path_len);
}

}  // namespace

int sph_output_coupling_region_id(const Model& m, int particle) {
    const auto& regions = m.db.coupling_regions;
    for (std::size_t r = 0; r < regions.size(); ++r) {
        const CouplingRegionRecord& region = regions[r];
        if (region.coupling_region_enabled == 0) continue;
        const int count = std::min(region.coupling_region_particle_count,
                                   static_cast<int>(region.coupling_region_particles.size()));
        for (int k = 0; k < count; ++k) {
            if (region.coupling_region_particles[k] == particle) return static_cast<int>(r) + 1;
        }
    }
    return 0;
}

int sph_output_write_csv(Model& m, std::string_view filename) {
    SphOutputFile f;
    // Through a side file: a cut-short write leaves no truncated file behind.
    if (!f.open_replacing(sph_text_trim_trailing(filename))) {
        return sph_error_set(m.error, sph_error_io, csv_open_failed);
    }
    const DbState& db = m.db;
    const CsvModuleColumns mc = csv_module_columns(m);
    std::vector<int> region_ids;
    bool region_ids_ready = true;
    try {
        region_ids = region_ids_of_particles(m);
    } catch (const std::bad_alloc&) {
        region_ids_ready = false;  // fall back to scanning the regions per particle
    }

    f.write_line(sph_output_csv_header);
    for (int i = 0; i < db.npart; ++i) {
        char* p = f.reserve(csv_max_row);
        p = put_int(p, db.particle_id_ext[i]);
        p = put_int(p, db.particle_phase[i]);
        p = put_int(p, db.particle_status[i]);
        p = put_int(p, db.material_id[i]);
        p = put_int(p, db.section_id[i]);
        for (int c = 0; c < 3; ++c) p = put_real(p, db.x[i][c]);
        for (int c = 0; c < 3; ++c) p = put_real(p, db.v[i][c]);
        p = put_real(p, db.rho[i]);
        p = put_real(p, db.pressure[i]);
        p = put_real(p, db.temperature[i]);
        p = put_real(p, db.h[i]);
        p = put_real(p, value_or_zero(mc.explosive_detonation_time, i));
        p = put_real(p, value_or_zero(mc.explosive_reaction_progress, i));
        p = put_real(p, value_or_zero(mc.explosive_initial_mass, i));
        p = put_real(p, value_or_zero(mc.explosive_remaining_mass, i));
        p = put_real(p, value_or_zero(mc.explosive_released_mass, i));
        p = put_real(p, value_or_zero(mc.explosive_released_energy, i));
        for (int c = 0; c < 6; ++c) {
            p = put_real(p, mc.solid_stress ? mc.solid_stress[i][c] : 0.0);
        }
        p = put_real(p, value_or_zero(mc.solid_plastic_strain, i));
        p = put_real(p, value_or_zero(mc.solid_damage, i));
        p = put_real(p, value_or_zero(mc.solid_softening, i));
        p = put_real(p, value_or_zero(mc.solid_strain_rate_eq, i));
        p = put_real(p, norm(db.a[i]));
        for (int c = 0; c < 3; ++c)
            p = put_real(p, component_or_zero(mc.blast_solid_external_force, i, c));
        for (int c = 0; c < 3; ++c)
            p = put_real(p, component_or_zero(mc.blast_shell_external_force, i, c));
        for (int c = 0; c < 3; ++c)
            p = put_real(p, component_or_zero(mc.blast_shell_external_moment, i, c));
        for (int c = 0; c < 3; ++c)
            p = put_real(p, component_or_zero(mc.coupling_external_force, i, c));
        p = put_real(p, value_or_zero(mc.coupling_contact_gap, i));
        p = put_real(p, value_or_zero(mc.coupling_contact_penetration, i));
        p = put_int(p, value_or_zero(mc.coupling_contact_flag, i));
        p = put_int(p, value_or_zero(mc.solid_failure_status, i));
        p = put_int(p, value_or_zero(mc.solid_reference_neighbor_count, i));
        p = put_int(p, value_or_zero(mc.solid_correction_status, i));
        p = put_int(p, value_or_zero(mc.coupling_motion_flag, i));
        const int region = !region_ids_ready    ? sph_output_coupling_region_id(m, i)
                           : region_ids.empty() ? 0
                                                : region_ids[i];
        p = sph_format_int(p, region);
        p[0] = '\r';
        p[1] = '\n';
        f.commit(p + 2);
    }
    if (!f.close()) return sph_error_set(m.error, sph_error_io, csv_write_failed);
    return sph_success;
}

std::string sph_output_step_file_stem(int step) {
    std::string stem = "velunor_";
    append_step_digits(stem, step);
    return stem;
}

int sph_output_write_step(Model& m, int step, double time) {
    const std::string stem = sph_output_step_file_stem(step);
    const std::string& directory = m.control.output_directory;
    if (m.output.particle_csv) {
        if (const int status = sph_output_write_csv(m, step_path(directory, stem + ".csv"))) {
            return status;
        }
    }
    if (const int status =
            sph_output_write_summary(m, step_path(directory, stem + "_summary.csv"), step, time)) {
        return status;
    }
    const std::string vtu_file = sph_text_field(stem + ".vtu", sph_pvd_file_len);
    if (const int status = sph_output_write_vtu(m, step_path(directory, vtu_file))) {
        return status;
    }
    return sph_output_write_pvd_step(m, directory, step, time, vtu_file);
}
