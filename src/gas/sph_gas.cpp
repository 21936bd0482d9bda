#include "gas/sph_gas.hpp"

#include <algorithm>
#include <cmath>
#include <limits>

#include "core/sph_error.hpp"
#include "core/sph_model.hpp"
#include "core/sph_text.hpp"
#include "particle/sph_density_diffusion.hpp"
#include "particle/sph_kernel_wendland.hpp"

namespace {

constexpr double largest_double = std::numeric_limits<double>::max();
constexpr double four_pi = 12.566370614359172;

int fail(Model& m, int code, const char* message) {
    return sph_error_set(m.error, code, message);
}

const MaterialRecord* db_material(const Model& m, int material_index) {
    if (material_index < 1 || material_index > static_cast<int>(m.db.materials.size())) {
        return nullptr;
    }
    return &m.db.materials[static_cast<std::size_t>(material_index - 1)];
}

bool is_gas_type(std::string_view type) {
    return sph_text_contains_upper(type, "GAS");
}

// The row filled as registration fills it: the database values of the
// material as they are now and the module's current settings.
GasMaterialRow registration_row(const GasState& gas, const MaterialRecord& material,
                                int material_index) {
    GasMaterialRow row;
    row.gas_material_ids = material_index;
    row.gas_material_names = material.material_name;
    row.gas_material_density_default = material.material_density;
    row.gas_material_energy_default = gas.gas_e0;
    row.gas_material_rho0 = gas.gas_rho0;
    row.gas_material_gamma = gas.gas_gamma;
    row.gas_material_p0 = gas.gas_p0;
    row.gas_material_default_h = gas.gas_default_h;
    row.gas_material_default_mass = gas.gas_default_mass;
    row.gas_material_default_volume = gas.gas_default_volume;
    return row;
}

// 1-based row of the material, registering it when it has none; 0 when the
// material is not in the database or the table is full.
int register_material(Model& m, std::string_view name) {
    const int index = sph_gas_find_material(m, name);
    if (index == 0) return 0;
    GasState& gas = m.gas;
    if (const int row = sph_gas_table_index_by_material_id(gas, index); row > 0) return row;
    if (static_cast<int>(gas.rows.size()) >= sph_gas_max_materials) return 0;
    gas.rows.push_back(registration_row(gas, *db_material(m, index), index));
    return static_cast<int>(gas.rows.size());
}

// The database density of the material if positive, else the current rho0.
double gas_material_density(const Model& m, std::string_view name) {
    const MaterialRecord* material = db_material(m, sph_gas_find_material(m, name));
    if (material != nullptr && material->material_density > 0.0) {
        return material->material_density;
    }
    return m.gas.gas_rho0;
}

// Row (1-based, 0 none) of every database material index, so that the
// per-particle passes look a row up in O(1).
const std::vector<int>& rows_by_material(Model& m) {
    std::vector<int>& lookup = m.gas.workspace.row_of_material;
    lookup.assign(m.db.materials.size() + 1, 0);
    for (std::size_t r = m.gas.rows.size(); r-- > 0;) {
        const int index = m.gas.rows[r].gas_material_ids;
        if (index >= 1 && index < static_cast<int>(lookup.size())) {
            lookup[static_cast<std::size_t>(index)] = static_cast<int>(r) + 1;
        }
    }
    return lookup;
}

const GasMaterialRow* row_of(const Model& m, const std::vector<int>& lookup, int material_index) {
    if (material_index < 1 || material_index >= static_cast<int>(lookup.size())) return nullptr;
    const int row = lookup[static_cast<std::size_t>(material_index)];
    return row > 0 ? &m.gas.rows[static_cast<std::size_t>(row - 1)] : nullptr;
}

// The equation of state of one row (density and energy already checked).
int eos_pressure(Model& m, const GasMaterialRow* row, double rho, double e, double& pressure) {
    pressure = 0.0;
    if (!(rho > 0.0)) return fail(m, sph_error_argument, "Gas density must be positive");
    if (e < 0.0) return fail(m, sph_error_argument, "Gas internal energy must be non-negative");
    if (row == nullptr || !row->gas_material_eos_defined) {
        return fail(m, sph_error_input, "Gas particle material has no EOS");
    }
    double p = 0.0;
    switch (row->gas_material_eos_type) {
        case gas_eos_ideal:
            p = row->gas_material_p0 + (row->gas_material_gamma - 1.0) * rho * e;
            break;
        case gas_eos_jwl: {
            if (!(row->gas_material_rho0 > 0.0)) {
                return fail(m, sph_error_argument, "JWL gas reference density must be positive");
            }
            const double v = row->gas_material_rho0 / rho;  // relative volume
            p = row->gas_material_jwl_a * std::exp(-row->gas_material_jwl_r1 * v) +
                row->gas_material_jwl_b * std::exp(-row->gas_material_jwl_r2 * v) +
                row->gas_material_jwl_omega * e / v;
            break;
        }
        case gas_eos_stiffened:
            p = (row->gas_material_gamma - 1.0) * rho * e -
                row->gas_material_gamma * row->gas_material_pinf;
            break;
        default:
            return fail(m, sph_error_input, "Gas EOS is not defined");
    }
    if (std::isnan(p) || !(std::fabs(p) < largest_double)) {
        return fail(m, sph_error_argument, "Gas pressure is not finite");
    }
    pressure = p;
    return sph_success;
}

void reset_state(Model& m, bool initialized) {
    m.gas = GasState{};
    m.gas.gas_module_initialized = initialized;
    // The diagnostics clear keeps the bubble history; a reset forgets it.
    GasDiagnostics& d = m.db.gas;
    sph_db_clear_gas_diagnostics(m.db);
    d.gas_previous_equivalent_radius = 0.0;
    d.gas_previous_center = Vec3{};
}

}  // namespace

// ---------------------------------------------------------------------------
// Life cycle and classes

void sph_gas_initialize(Model& m) {
    reset_state(m, true);
}

void sph_gas_reset(Model& m) {
    reset_state(m, false);
}

bool sph_gas_is_active_particle(const DbState& db, int i) {
    return i >= 0 && i < db.npart && db.particle_phase[i] == sph_phase_gas &&
           db.particle_status[i] == sph_status_active;
}

bool sph_gas_is_material_particle(const DbState& db, int i) {
    if (i < 0 || i >= db.npart) return false;
    const int mat = db.material_id[i];
    if (mat < 1 || mat > static_cast<int>(db.materials.size())) return false;
    return is_gas_type(db.materials[static_cast<std::size_t>(mat - 1)].material_type);
}

int sph_gas_find_material(const Model& m, std::string_view name) {
    const std::string_view wanted = sph_text_trim(name);
    const auto& materials = m.db.materials;
    for (std::size_t k = 0; k < materials.size(); ++k) {
        if (sph_text_name_equal(sph_text_trim(materials[k].material_name), wanted)) {
            return static_cast<int>(k) + 1;
        }
    }
    return 0;
}

int sph_gas_table_index_by_material_id(const GasState& gas, int material_index) {
    for (std::size_t r = 0; r < gas.rows.size(); ++r) {
        if (gas.rows[r].gas_material_ids == material_index) return static_cast<int>(r) + 1;
    }
    return 0;
}

// ---------------------------------------------------------------------------
// Deck receivers

void sph_gas_note_material(Model& m, std::string_view name, std::string_view material_type) {
    if (!is_gas_type(material_type)) return;
    GasState& gas = m.gas;
    gas.gas_material_seen = true;
    gas.gas_material_name = sph_text_field(name, sph_name_len);
    gas.gas_material_internal_id = sph_gas_find_material(m, name);
    (void)register_material(m, name);
}

int sph_gas_set_eos(Model& m, std::string_view eos_type, std::string_view material_name,
                    double rho0, double gamma, double e0, double p0, double a, double b, double r1,
                    double r2, double omega, double pinf) {
    const std::string type = sph_text_upper(eos_type.substr(0, sph_name_len));
    if (sph_text_is_blank(type)) return fail(m, sph_error_input, "Gas EOS TYPE is required");
    if (sph_text_is_blank(material_name)) {
        return fail(m, sph_error_input, "Gas EOS MATERIAL is required");
    }
    int eos = gas_eos_none;
    if (type.find("IDEAL_GAS") != std::string::npos) {
        eos = gas_eos_ideal;
    } else if (type.find("JWL") != std::string::npos) {
        eos = gas_eos_jwl;
    } else if (type.find("STIFFENED_GAS") != std::string::npos) {
        eos = gas_eos_stiffened;
    } else {
        return fail(m, sph_error_input, "Gas EOS TYPE is not supported");
    }
    // Every value is checked before anything is stored.
    if (eos == gas_eos_ideal) {
        if (!(gamma > 1.0)) {
            return fail(m, sph_error_argument, "Ideal gas gamma must be greater than one");
        }
        if (e0 < 0.0) {
            return fail(m, sph_error_argument, "Ideal gas internal energy must be non-negative");
        }
    } else if (eos == gas_eos_jwl) {
        if (!(rho0 > 0.0 && r1 > 0.0 && r2 > 0.0 && omega > 0.0 && e0 >= 0.0 && a >= 0.0 &&
              b >= 0.0)) {
            return fail(m, sph_error_argument, "JWL gas EOS parameters are invalid");
        }
    } else if (!(rho0 > 0.0 && gamma > 1.0 && e0 >= 0.0 && pinf >= 0.0)) {
        return fail(m, sph_error_argument, "Stiffened gas EOS parameters are invalid");
    }

    const int index = sph_gas_find_material(m, material_name);
    if (index == 0) return fail(m, sph_error_input, "Gas EOS references unknown material");
    if (!is_gas_type(db_material(m, index)->material_type)) {
        return fail(m, sph_error_input, "Gas EOS references non-Gas material");
    }
    const int row_index = register_material(m, material_name);
    if (row_index == 0) return fail(m, sph_error_input, "too many Gas material records");
    if (m.gas.rows[static_cast<std::size_t>(row_index - 1)].gas_material_eos_defined) {
        return fail(m, sph_error_input, "Gas material EOS is already defined");
    }

    GasState& gas = m.gas;
    gas.gas_material_seen = true;
    gas.gas_material_name = sph_text_field(material_name, sph_name_len);
    gas.gas_material_internal_id = index;
    gas.gas_eos_type = eos;
    gas.gas_eos_defined = true;
    if (eos == gas_eos_ideal) {
        gas.gas_gamma = gamma;
        gas.gas_e0 = e0;
        gas.gas_p0 = p0;
    } else if (eos == gas_eos_jwl) {
        gas.gas_rho0 = rho0;
        gas.gas_jwl_a = a;
        gas.gas_jwl_b = b;
        gas.gas_jwl_r1 = r1;
        gas.gas_jwl_r2 = r2;
        gas.gas_jwl_omega = omega;
        gas.gas_e0 = e0;
    } else {
        gas.gas_rho0 = rho0;
        gas.gas_gamma = gamma;
        gas.gas_e0 = e0;
        gas.gas_pinf = pinf;
    }
    GasMaterialRow& row = gas.rows[static_cast<std::size_t>(row_index - 1)];
    row.gas_material_eos_type = eos;
    row.gas_material_eos_defined = true;
    row.gas_material_energy_default = e0;
    row.gas_material_density_default = gas_material_density(m, material_name);
    if (eos == gas_eos_ideal) {
        row.gas_material_gamma = gamma;
        row.gas_material_p0 = p0;
        row.gas_material_rho0 = row.gas_material_density_default;
    } else if (eos == gas_eos_jwl) {
        row.gas_material_rho0 = rho0;
        row.gas_material_jwl_a = a;
        row.gas_material_jwl_b = b;
        row.gas_material_jwl_r1 = r1;
        row.gas_material_jwl_r2 = r2;
        row.gas_material_jwl_omega = omega;
    } else {
        row.gas_material_rho0 = rho0;
        row.gas_material_gamma = gamma;
        row.gas_material_pinf = pinf;
    }
    return sph_success;
}

void sph_gas_set_density_diffusion(GasState& gas, double delta) {
    gas.gas_density_diffusion = delta;
}

int sph_gas_set_particle_control(Model& m, double h_value, double mass_value, double volume_value) {
    if (!(h_value > 0.0 && mass_value > 0.0 && volume_value > 0.0)) {
        return fail(m, sph_error_argument, "Gas particle control values must be positive");
    }
    GasState& gas = m.gas;
    gas.gas_default_h = h_value;
    gas.gas_default_mass = mass_value;
    gas.gas_default_volume = volume_value;
    for (GasMaterialRow& row : gas.rows) {
        row.gas_material_default_h = h_value;
        row.gas_material_default_mass = mass_value;
        row.gas_material_default_volume = volume_value;
    }
    gas.gas_particle_control_defined = true;
    return sph_success;
}

int sph_gas_set_body_force(Model& m, const Vec3& force) {
    m.gas.gas_body_force = force;
    DbState& db = m.db;
    for (int i = 0; i < db.npart; ++i) {
        if (sph_gas_is_active_particle(db, i)) db.acc_body[i] = force;
    }
    return sph_success;
}

// ---------------------------------------------------------------------------
// Model build

int sph_gas_validate_input(Model& m) {
    if (!m.gas.gas_material_seen) return sph_success;
    for (const GasMaterialRow& row : m.gas.rows) {
        if (!row.gas_material_eos_defined) {
            return fail(m, sph_error_input, "input is missing *VELUNOR EOS for Gas");
        }
        const MaterialRecord* material = db_material(m, row.gas_material_ids);
        if (material == nullptr) return fail(m, sph_error_input, "Gas material table is invalid");
        if (!(material->material_density > 0.0)) {
            return fail(m, sph_error_input, "input is missing *DENSITY for Gas material");
        }
    }
    return sph_success;
}

int sph_gas_apply_initial_conditions(Model& m) {
    GasState& gas = m.gas;
    if (!gas.gas_material_seen) return sph_success;
    if (const int st = sph_gas_validate_input(m)) return st;
    if (const int st = sph_gas_source_allocate(m)) return st;
    DbState& db = m.db;
    const std::vector<int>& lookup = rows_by_material(m);
    for (int i = 0; i < db.npart; ++i) {
        if (db.particle_status[i] != sph_status_active || !sph_gas_is_material_particle(db, i)) {
            continue;
        }
        const int mat = db.material_id[i];
        const GasMaterialRow* row = row_of(m, lookup, mat);
        if (row == nullptr) return fail(m, sph_error_input, "Gas particle material has no EOS");
        db.particle_phase[i] = sph_phase_gas;
        const double density = db_material(m, mat)->material_density;
        db.rho[i] = density > 0.0 ? density : row->gas_material_density_default;
        db.internal_energy[i] = row->gas_material_energy_default;
        db.temperature[i] = row->gas_material_temperature_default;
        db.mass[i] = row->gas_material_default_mass;
        db.volume[i] = row->gas_material_default_volume;
        db.h[i] = row->gas_material_default_h;
        db.acc_body[i] = gas.gas_body_force;
        if (const int st = eos_pressure(m, row, db.rho[i], db.internal_energy[i], db.pressure[i])) {
            return st;
        }
    }
    return sph_gas_update_diagnostics(m);
}

int sph_gas_count_unbound_materials(const Model& m) {
    int count = 0;
    for (const GasMaterialRow& row : m.gas.rows) {
        const bool bound = std::any_of(
            m.db.sections.begin(), m.db.sections.end(),
            [&](const SectionRecord& s) { return s.section_material_id == row.gas_material_ids; });
        if (!bound) ++count;
    }
    return count;
}

// ---------------------------------------------------------------------------
// Physics

int sph_gas_compute_pressure_for_material(Model& m, int material_index, double rho, double e,
                                          double& pressure) {
    pressure = 0.0;
    const int row = sph_gas_table_index_by_material_id(m.gas, material_index);
    return eos_pressure(m, row > 0 ? &m.gas.rows[static_cast<std::size_t>(row - 1)] : nullptr, rho,
                        e, pressure);
}

int sph_gas_update_pressure(Model& m) {
    DbState& db = m.db;
    const std::vector<int>& lookup = rows_by_material(m);
    for (int i = 0; i < db.npart; ++i) {
        if (!sph_gas_is_active_particle(db, i)) continue;
        const GasMaterialRow* row = row_of(m, lookup, db.material_id[i]);
        if (const int st = eos_pressure(m, row, db.rho[i], db.internal_energy[i], db.pressure[i])) {
            return st;
        }
    }
    return sph_success;
}

namespace {

// Density diffusion in the gas: the water's delta-SPH term with the pair's
// mean sound speed in place of c0. It has no hydrostatic correction: a gas
// column's hydrostatic density follows its temperature profile, which the
// equation of state alone does not give, and over a kernel support the
// relative hydrostatic density step of a gas (rho g 2h / p, about 2e-5 for
// air at h = 0.1 m) is far below the density errors the term smooths.
double gas_diffusion_pair(double d, double rg, double r2, double eta2, double volume_j, double c_i,
                          double c_j) {
    return (c_i + c_j) / 2.0 * sph_density_diffusion_pair(d, rg, r2, eta2, volume_j);
}

}  // namespace

int sph_gas_compute_density_rate(Model& m) {
    DbState& db = m.db;
    const double delta = m.gas.gas_density_diffusion;
    const bool diffusion = delta > 0.0;
    for (int i = 0; i < db.npart; ++i) {
        if (sph_gas_is_active_particle(db, i)) db.drho_dt[i] = 0.0;
    }
    for (int i = 0; i < db.npart; ++i) {
        if (!sph_gas_is_active_particle(db, i)) continue;
        const int64_t begin = db.neighbor_offset[i];
        const int64_t end = begin + db.neighbor_count[i];
        const double h_i = db.h[i];
        const double eta2 = sph_density_diffusion_eta2(h_i);
        const double c_i = diffusion ? sph_gas_sound_speed(m, i) : 0.0;
        double diffusive = 0.0;
        for (int64_t k = begin; k < end; ++k) {
            const int j = db.neighbor_list[k];
            if (!sph_gas_is_active_particle(db, j)) continue;
            const Vec3 r = db.x[i] - db.x[j];
            Vec3 grad;
            if (const int st = sph_kernel_gradient(m.error, sph_kernel_wendland_c2, r, h_i, grad)) {
                return st;
            }
            db.drho_dt[i] += db.mass[j] * dot(db.v[i] - db.v[j], grad);
            if (!diffusion) continue;
            diffusive += gas_diffusion_pair(db.rho[j] - db.rho[i], dot(r, grad), dot(r, r), eta2,
                                            db.mass[j] / db.rho[j], c_i, sph_gas_sound_speed(m, j));
        }
        if (diffusion) db.drho_dt[i] += (delta * h_i) * diffusive;
    }
    return sph_success;
}

int sph_gas_compute_pressure_acceleration(Model& m) {
    DbState& db = m.db;
    if (db.npart <= 0) return sph_success;
    // Every particle's, whatever its phase: the water phase has combined its
    // accelerations by the time this runs.
    std::fill(db.acc_pressure.begin(), db.acc_pressure.end(), Vec3{});
    for (int i = 0; i < db.npart; ++i) {
        if (!sph_gas_is_active_particle(db, i)) continue;
        const double rho_i = db.rho[i];
        if (!(rho_i > 0.0)) {
            return fail(m, sph_error_argument, "Gas density must be positive for pressure force");
        }
        const int64_t begin = db.neighbor_offset[i];
        const int64_t end = begin + db.neighbor_count[i];
        for (int64_t k = begin; k < end; ++k) {
            const int j = db.neighbor_list[k];
            if (!sph_gas_is_active_particle(db, j)) continue;
            const double rho_j = db.rho[j];
            if (!(rho_j > 0.0))
                return fail(m, sph_error_argument, "Gas neighbor density must be positive");
            Vec3 grad;
            if (const int st = sph_kernel_gradient(m.error, sph_kernel_wendland_c2,
                                                   db.x[i] - db.x[j], db.h[i], grad)) {
                return st;
            }
            const double term = db.pressure[j] / (rho_j * rho_j) + db.pressure[i] / (rho_i * rho_i);
            db.acc_pressure[i] -= (db.mass[j] * term) * grad;
        }
    }
    return sph_success;
}

int sph_gas_compute_acceleration(Model& m) {
    if (const int st = sph_gas_compute_pressure_acceleration(m)) return st;
    DbState& db = m.db;
    for (int i = 0; i < db.npart; ++i) {
        if (sph_gas_is_active_particle(db, i)) db.a[i] = db.acc_body[i] + db.acc_pressure[i];
    }
    return sph_success;
}

bool sph_gas_pair_pass_ready(Model& m) {
    const DbState& db = m.db;
    const int n = db.npart;
    // Without gas materials the plain passes have nothing to sum; they need
    // no workspace.
    if (n <= 0 || !m.gas.gas_material_seen) return false;
    // Only a density or smoothing length that is not positive (or NaN) can
    // make the kernel gradient or the pressure force fail.
    GasWorkspace& ws = m.gas.workspace;
    std::vector<unsigned char>& active = ws.active;
    active.resize(static_cast<std::size_t>(n));
    for (int i = 0; i < n; ++i) {
        const bool is_active = sph_gas_is_active_particle(db, i);
        if (is_active && !(db.rho[i] > 0.0 && db.h[i] > 0.0)) return false;
        active[static_cast<std::size_t>(i)] = is_active ? 1 : 0;
    }
    if (m.gas.gas_density_diffusion > 0.0) {
        ws.sound_speed.resize(static_cast<std::size_t>(n));
        ws.volume.resize(static_cast<std::size_t>(n));
        for (int i = 0; i < n; ++i) {
            if (!active[static_cast<std::size_t>(i)]) continue;
            ws.sound_speed[static_cast<std::size_t>(i)] = sph_gas_sound_speed(m, i);
            ws.volume[static_cast<std::size_t>(i)] = db.mass[i] / db.rho[i];
        }
    }
    return true;
}

void sph_gas_compute_density_rate_and_acceleration(Model& m) {
    DbState& db = m.db;
    const int n = db.npart;
    const std::vector<unsigned char>& active = m.gas.workspace.active;
    std::fill(db.acc_pressure.begin(), db.acc_pressure.end(), Vec3{});
    const Vec3* x = db.x.data();
    const Vec3* v = db.v.data();
    const double* mass = db.mass.data();
    const double* rho = db.rho.data();
    const double* pressure = db.pressure.data();
    const int* list = db.neighbor_list.data();
    const double delta = m.gas.gas_density_diffusion;
    const bool diffusion = delta > 0.0;
    const double* sound_speed = m.gas.workspace.sound_speed.data();
    const double* volume = m.gas.workspace.volume.data();
    for (int i = 0; i < n; ++i) {
        if (!active[static_cast<std::size_t>(i)]) continue;
        const double h = db.h[i];
        const double fac = sph_wendland_c2_factor(h);
        const double p_over_rho2_i = pressure[i] / (rho[i] * rho[i]);
        const double eta2 = sph_density_diffusion_eta2(h);
        const int64_t begin = db.neighbor_offset[i];
        const int64_t end = begin + db.neighbor_count[i];
        double drho = 0.0;
        double diffusive = 0.0;
        Vec3 acc;
        for (int64_t k = begin; k < end; ++k) {
            const int j = list[k];
            if (!active[static_cast<std::size_t>(j)]) continue;
            const Vec3 r = x[i] - x[j];
            const Vec3 grad = sph_wendland_c2_gradient(r, h, fac);
            drho += mass[j] * dot(v[i] - v[j], grad);
            const double term = pressure[j] / (rho[j] * rho[j]) + p_over_rho2_i;
            acc -= (mass[j] * term) * grad;
            if (!diffusion) continue;
            diffusive += gas_diffusion_pair(rho[j] - rho[i], dot(r, grad), dot(r, r), eta2,
                                            volume[j], sound_speed[i], sound_speed[j]);
        }
        if (diffusion) drho += (delta * h) * diffusive;
        db.drho_dt[i] = drho;
        db.acc_pressure[i] = acc;
        db.a[i] = db.acc_body[i] + acc;
    }
}

double sph_gas_sound_speed(const Model& m, int i) {
    const DbState& db = m.db;
    const int row = sph_gas_table_index_by_material_id(m.gas, db.material_id[i]);
    const double pinf =
        row > 0 ? m.gas.rows[static_cast<std::size_t>(row - 1)].gas_material_pinf : m.gas.gas_pinf;
    return std::sqrt(
        std::max(1e-12, (std::fabs(db.pressure[i]) + std::fabs(pinf) + 1.0) / db.rho[i]));
}

int sph_gas_estimate_dt_limits(Model& m, double& dt_cfl, double& dt_accel, double& dt_limit) {
    dt_cfl = 0.0;
    dt_accel = 0.0;
    dt_limit = 0.0;
    const DbState& db = m.db;
    double cfl = largest_double;
    double accel = largest_double;
    for (int i = 0; i < db.npart; ++i) {
        if (!sph_gas_is_active_particle(db, i)) continue;
        const double h = db.h[i];
        if (!(db.rho[i] > 0.0) || !(h > 0.0)) {
            return fail(m, sph_error_argument, "invalid Gas state for dt estimate");
        }
        const double c = sph_gas_sound_speed(m, i);
        cfl = std::min(cfl, h / (c + norm(db.v[i])));
        const double a_abs = norm(db.a[i]);
        if (a_abs > 0.0) accel = std::min(accel, std::sqrt(h / a_abs));
    }
    if (cfl == largest_double) cfl = 0.0;
    if (accel == largest_double) accel = cfl;
    double limit = cfl;
    if (cfl > accel && accel > 0.0) limit = accel;
    dt_cfl = cfl;
    dt_accel = accel;
    dt_limit = limit;
    GasDiagnostics& d = m.db.gas;
    d.gas_dt_cfl = cfl;
    d.gas_dt_accel = accel;
    d.gas_dtcrit = limit;
    return sph_success;
}

int sph_gas_update_diagnostics(Model& m) {
    DbState& db = m.db;
    GasDiagnostics& d = db.gas;
    sph_db_clear_gas_diagnostics(db);
    double pressure_integral = 0.0;
    Vec3 weighted_center;
    for (int i = 0; i < db.npart; ++i) {
        if (!sph_gas_is_active_particle(db, i)) continue;
        const double volume = db.volume[i];
        if (!(volume > 0.0)) return fail(m, sph_error_argument, "Gas volume must be positive");
        if (d.gas_particle_count == 0) {
            d.gas_max_pressure = db.pressure[i];
            d.gas_min_density = db.rho[i];
            d.gas_max_density = db.rho[i];
        } else {
            d.gas_max_pressure = std::max(d.gas_max_pressure, db.pressure[i]);
            d.gas_min_density = std::min(d.gas_min_density, db.rho[i]);
            d.gas_max_density = std::max(d.gas_max_density, db.rho[i]);
        }
        d.gas_particle_count += 1;
        d.gas_mass += db.mass[i];
        d.gas_volume += volume;
        d.gas_momentum += db.mass[i] * db.v[i];
        weighted_center += volume * db.x[i];
        pressure_integral += db.pressure[i] * volume;
    }
    if (d.gas_volume > 0.0) {
        d.gas_center = Vec3{weighted_center.x / d.gas_volume, weighted_center.y / d.gas_volume,
                            weighted_center.z / d.gas_volume};
        d.gas_mean_pressure = pressure_integral / d.gas_volume;
        d.gas_equivalent_radius = std::pow(3.0 * d.gas_volume / four_pi, 1.0 / 3.0);
    }
    GasState& gas = m.gas;
    if (gas.gas_bubble_history_valid) {
        d.gas_radius_rate = d.gas_equivalent_radius - d.gas_previous_equivalent_radius;
        d.gas_center_shift = norm(d.gas_center - d.gas_previous_center);
    }
    d.gas_previous_equivalent_radius = d.gas_equivalent_radius;
    d.gas_previous_center = d.gas_center;
    gas.gas_bubble_history_valid = d.gas_particle_count > 0;
    return sph_success;
}

int sph_gas_apply_sources_explicit(Model& m, double dt) {
    // A model without gas materials has no active gas and no rates: the
    // sources would only allocate their arrays (40 bytes a particle) for a
    // pass that changes nothing.
    const bool no_gas = !m.gas.gas_material_seen && m.gas.sources.gas_mass_source.empty();
    if (!no_gas) {
        if (const int st = sph_gas_source_apply_explicit(m, dt)) return st;
    }
    return sph_gas_update_pressure(m);
}

// ---------------------------------------------------------------------------
// Summaries

int sph_gas_get_summary(Model& m, double& volume, Vec3& center, double& mean_pressure,
                        double& max_pressure) {
    volume = 0.0;
    center = Vec3{};
    mean_pressure = 0.0;
    max_pressure = 0.0;
    if (const int st = sph_gas_update_diagnostics(m)) return st;
    const GasDiagnostics& d = m.db.gas;
    volume = d.gas_volume;
    center = d.gas_center;
    mean_pressure = d.gas_mean_pressure;
    max_pressure = d.gas_max_pressure;
    return sph_success;
}

int sph_gas_get_extended_summary(Model& m, double& mass, Vec3& momentum,
                                 std::array<double, 2>& density_range,
                                 std::array<double, 3>& dt_limits) {
    mass = 0.0;
    momentum = Vec3{};
    density_range.fill(0.0);
    dt_limits.fill(0.0);
    if (const int st = sph_gas_update_diagnostics(m)) return st;
    double cfl = 0.0, accel = 0.0, limit = 0.0;
    if (const int st = sph_gas_estimate_dt_limits(m, cfl, accel, limit)) return st;
    const GasDiagnostics& d = m.db.gas;
    mass = d.gas_mass;
    momentum = d.gas_momentum;
    density_range = {d.gas_min_density, d.gas_max_density};
    dt_limits = {cfl, accel, limit};
    return sph_success;
}

void sph_gas_get_bubble_metrics(const Model& m, double& equivalent_radius, double& radius_rate,
                                Vec3& center) {
    const GasDiagnostics& d = m.db.gas;
    equivalent_radius = d.gas_equivalent_radius;
    radius_rate = d.gas_radius_rate;
    center = d.gas_center;
}

// ---------------------------------------------------------------------------
// Sources

int sph_gas_allocate_sources(Model& m) {
    return sph_gas_source_allocate(m);
}

int sph_gas_clear_sources(Model& m) {
    return sph_gas_source_clear(m);
}

int sph_gas_add_source_by_particle(Model& m, int index, double mass_rate, const Vec3& momentum_rate,
                                   double energy_rate) {
    return sph_gas_source_add_by_particle(m, index, mass_rate, momentum_rate, energy_rate);
}

int sph_gas_get_source_summary(Model& m, double& mass_source, Vec3& momentum_source,
                               double& energy_source) {
    return sph_gas_source_get_summary(m, mass_source, momentum_source, energy_source);
}

// ---------------------------------------------------------------------------
// Restart support

void sph_gas_clear_material_table(GasState& gas) {
    std::vector<GasMaterialRow>().swap(gas.rows);
}

int sph_gas_rebuild_legacy_restart_state(Model& m) {
    GasState& gas = m.gas;
    sph_gas_clear_material_table(gas);
    const DbState& db = m.db;
    for (int i = 0; i < db.npart; ++i) {
        if (!sph_gas_is_active_particle(db, i)) continue;
        GasMaterialRow row;
        row.gas_material_ids = db.material_id[i];
        row.gas_material_names = gas.gas_material_name;
        row.gas_material_eos_defined = gas.gas_eos_type != gas_eos_none;
        row.gas_material_eos_type = gas.gas_eos_type;
        row.gas_material_density_default = db.rho[i];
        row.gas_material_energy_default = gas.gas_e0;
        row.gas_material_temperature_default = db.temperature[i];
        row.gas_material_rho0 = gas.gas_rho0;
        row.gas_material_gamma = gas.gas_gamma;
        row.gas_material_p0 = gas.gas_p0;
        row.gas_material_jwl_a = gas.gas_jwl_a;
        row.gas_material_jwl_b = gas.gas_jwl_b;
        row.gas_material_jwl_r1 = gas.gas_jwl_r1;
        row.gas_material_jwl_r2 = gas.gas_jwl_r2;
        row.gas_material_jwl_omega = gas.gas_jwl_omega;
        row.gas_material_pinf = gas.gas_pinf;
        row.gas_material_default_h = gas.gas_default_h;
        row.gas_material_default_mass = gas.gas_default_mass;
        row.gas_material_default_volume = gas.gas_default_volume;
        gas.rows.push_back(row);
        gas.gas_material_seen = true;
        gas.gas_eos_defined = row.gas_material_eos_defined;
        gas.gas_material_internal_id = row.gas_material_ids;
        break;
    }
    return sph_gas_source_clear(m);
}
