#include "water/sph_water.hpp"

#include <cmath>
#include <limits>
#include <new>

#include "core/sph_error.hpp"
#include "core/sph_model.hpp"
#include "core/sph_text.hpp"
#include "water/sph_water_pairs.hpp"

namespace {

constexpr double largest_double = std::numeric_limits<double>::max();

bool is_blank(std::string_view text) {
    return sph_text_trim(text).empty();
}

// One Wendland C2 gradient with the smoothing length of particle i, as every
// water pair sum uses it.
int pair_gradient(Model& m, const Vec3& rij, double h_i, Vec3& grad) {
    return sph_kernel_gradient(m.error, sph_kernel_wendland_c2, rij, h_i, grad);
}

}  // namespace

void sph_water_initialize(WaterState& water) {
    water = WaterState{};
    water.water_module_initialized = true;
}

void sph_water_reset(WaterState& water) {
    water = WaterState{};
}

bool sph_water_is_active_particle(const DbState& db, int i) {
    return i >= 0 && i < db.npart && db.particle_phase[i] == sph_phase_water &&
           db.particle_status[i] == sph_status_active;
}

bool sph_water_is_material_particle(const DbState& db, int i) {
    if (i < 0 || i >= db.npart) return false;
    const int mat = db.material_id[i];
    if (mat < 1 || mat > static_cast<int>(db.materials.size())) return false;
    return sph_text_contains_upper(db.materials[mat - 1].material_type, "WATER");
}

void sph_water_note_material(WaterState& water, std::string_view name,
                             std::string_view material_type) {
    if (!sph_text_contains_upper(material_type, "WATER")) return;
    water.water_material_seen = true;
    water.water_material_name = sph_text_field(name, sph_name_len);
}

int sph_water_set_eos(Model& m, std::string_view eos_type, std::string_view material_name,
                      double rho0, double c0, double gamma, double p0, double b_value, bool has_b) {
    WaterState& w = m.water;
    if (is_blank(eos_type)) {
        return sph_error_set(m.error, sph_error_input, "Water EOS TYPE is required");
    }
    if (!sph_text_contains_upper(eos_type, "TAIT")) {
        return sph_error_set(m.error, sph_error_input, "Water EOS TYPE must be TAIT");
    }
    if (is_blank(material_name)) {
        return sph_error_set(m.error, sph_error_input, "Water EOS MATERIAL is required");
    }
    if (rho0 <= 0.0 || c0 <= 0.0 || gamma <= 0.0) {
        return sph_error_set(m.error, sph_error_argument,
                             "Water Tait EOS parameters must be positive");
    }
    w.water_material_seen = true;
    w.water_material_name = sph_text_field(material_name, sph_name_len);
    w.water_rho0 = rho0;
    w.water_c0 = c0;
    w.water_gamma = gamma;
    w.water_p0 = p0;
    if (!has_b) {
        w.water_b = rho0 * c0 * c0 / gamma;
    } else {
        // The values stored above stay: a rejected B fails only the B itself.
        if (b_value <= 0.0) {
            return sph_error_set(m.error, sph_error_argument, "Water Tait EOS B must be positive");
        }
        w.water_b = b_value;
    }
    w.water_eos_defined = true;
    return sph_success;
}

int sph_water_set_viscosity(Model& m, std::string_view visc_type, std::string_view material_name,
                            double alpha, double beta, double eta2) {
    WaterState& w = m.water;
    if (is_blank(visc_type)) {
        return sph_error_set(m.error, sph_error_input, "Water viscosity TYPE is required");
    }
    if (!sph_text_contains_upper(visc_type, "MONAGHAN")) {
        return sph_error_set(m.error, sph_error_input, "Water viscosity TYPE must be MONAGHAN");
    }
    if (is_blank(material_name)) {
        return sph_error_set(m.error, sph_error_input, "Water viscosity MATERIAL is required");
    }
    if (alpha < 0.0 || beta < 0.0 || eta2 <= 0.0) {
        return sph_error_set(m.error, sph_error_argument, "Water viscosity parameters are invalid");
    }
    w.water_material_name = sph_text_field(material_name, sph_name_len);
    w.water_visc_alpha = alpha;
    w.water_visc_beta = beta;
    w.water_visc_eta2 = eta2;
    w.water_viscosity_defined = true;
    return sph_success;
}

int sph_water_set_particle_control(Model& m, double h_value, double mass_value,
                                   double volume_value) {
    if (h_value <= 0.0 || mass_value <= 0.0 || volume_value <= 0.0) {
        return sph_error_set(m.error, sph_error_argument,
                             "Water particle control values must be positive");
    }
    m.water.water_default_h = h_value;
    m.water.water_default_mass = mass_value;
    m.water.water_default_volume = volume_value;
    m.water.water_particle_control_defined = true;
    return sph_success;
}

int sph_water_set_body_force(Model& m, const Vec3& force) {
    m.water.water_body_force = force;
    DbState& db = m.db;
    for (int i = 0; i < db.npart; ++i) {
        if (sph_water_is_active_particle(db, i)) db.acc_body[i] = force;
    }
    return sph_success;
}

bool sph_water_has_material_density(const Model& m) {
    const int mat = sph_db_find_material(m.db, m.water.water_material_name);
    if (mat < 1) return false;
    return m.db.materials[mat - 1].material_density > 0.0;
}

int sph_water_validate_input(Model& m) {
    const WaterState& w = m.water;
    if (!w.water_material_seen) return sph_success;
    if (!w.water_eos_defined) {
        return sph_error_set(m.error, sph_error_input, "input is missing *VELUNOR EOS for Water");
    }
    if (!w.water_viscosity_defined) {
        return sph_error_set(m.error, sph_error_input,
                             "input is missing *VELUNOR VISCOSITY for Water");
    }
    if (!w.water_particle_control_defined) {
        return sph_error_set(m.error, sph_error_input,
                             "input is missing *VELUNOR PARTICLE CONTROL for Water");
    }
    if (!sph_water_has_material_density(m)) {
        return sph_error_set(m.error, sph_error_input,
                             "input is missing *DENSITY for Water material");
    }
    return sph_success;
}

int sph_water_apply_initial_conditions(Model& m) {
    const WaterState& w = m.water;
    if (!w.water_material_seen) return sph_success;
    if (const int st = sph_water_validate_input(m); st != sph_success) return st;
    DbState& db = m.db;
    for (int i = 0; i < db.npart; ++i) {
        if (db.particle_status[i] != sph_status_active || !sph_water_is_material_particle(db, i)) {
            continue;
        }
        db.particle_phase[i] = sph_phase_water;
        db.rho[i] = w.water_rho0;
        db.pressure[i] = w.water_p0;
        db.mass[i] = w.water_default_mass;
        db.volume[i] = w.water_default_volume;
        db.h[i] = w.water_default_h;
        db.acc_body[i] = w.water_body_force;
    }
    return sph_water_update_diagnostics(m);
}

int sph_water_tait_pressure(Model& m, double rho_value, double& pressure_value) {
    pressure_value = 0.0;
    const WaterState& w = m.water;
    if (rho_value <= 0.0) {
        return sph_error_set(m.error, sph_error_argument, "Water density must be positive");
    }
    if (w.water_gamma <= 0.0 || w.water_rho0 <= 0.0) {
        return sph_error_set(m.error, sph_error_argument, "Water Tait EOS parameters are invalid");
    }
    pressure_value = sph_water_tait_value(w, rho_value);
    return sph_success;
}

int sph_water_sound_speed(Model& m, double& c_value) {
    c_value = 0.0;
    if (m.water.water_c0 <= 0.0) {
        return sph_error_set(m.error, sph_error_argument, "Water sound speed must be positive");
    }
    c_value = m.water.water_c0;
    return sph_success;
}

int sph_water_update_pressure(Model& m) {
    DbState& db = m.db;
    for (int i = 0; i < db.npart; ++i) {
        if (!sph_water_is_active_particle(db, i)) continue;
        if (const int st = sph_water_tait_pressure(m, db.rho[i], db.pressure[i]); st != 0) {
            return st;
        }
    }
    return sph_success;
}

int sph_water_compute_density_rate(Model& m) {
    DbState& db = m.db;
    for (int i = 0; i < db.npart; ++i) db.drho_dt[i] = 0.0;
    for (int i = 0; i < db.npart; ++i) {
        if (!sph_water_is_active_particle(db, i)) continue;
        const int64_t begin = db.neighbor_offset[i];
        const int64_t end = begin + db.neighbor_count[i];
        double sum = 0.0;
        for (int64_t k = begin; k < end; ++k) {
            const int j = db.neighbor_list[k];
            if (!sph_water_is_active_particle(db, j)) continue;
            Vec3 grad;
            if (const int st = pair_gradient(m, db.x[i] - db.x[j], db.h[i], grad); st != 0) {
                return st;
            }
            sum += db.mass[j] * dot(db.v[i] - db.v[j], grad);
        }
        db.drho_dt[i] = sum;
    }
    return sph_success;
}

int sph_water_compute_pressure_acceleration(Model& m) {
    DbState& db = m.db;
    for (int i = 0; i < db.npart; ++i) db.acc_pressure[i] = Vec3{};
    for (int i = 0; i < db.npart; ++i) {
        if (!sph_water_is_active_particle(db, i)) continue;
        const double rho_i = db.rho[i];
        if (rho_i <= 0.0) {
            return sph_error_set(m.error, sph_error_argument,
                                 "Water density must be positive for pressure force");
        }
        const int64_t begin = db.neighbor_offset[i];
        const int64_t end = begin + db.neighbor_count[i];
        Vec3 acc;
        for (int64_t k = begin; k < end; ++k) {
            const int j = db.neighbor_list[k];
            if (!sph_water_is_active_particle(db, j)) continue;
            const double rho_j = db.rho[j];
            if (rho_j <= 0.0) {
                return sph_error_set(m.error, sph_error_argument,
                                     "Water neighbor density must be positive");
            }
            Vec3 grad;
            if (const int st = pair_gradient(m, db.x[i] - db.x[j], db.h[i], grad); st != 0) {
                return st;
            }
            const double term = db.pressure[i] / (rho_i * rho_i) + db.pressure[j] / (rho_j * rho_j);
            acc -= (db.mass[j] * term) * grad;
        }
        db.acc_pressure[i] = acc;
    }
    return sph_success;
}

int sph_water_pair_viscosity(Model& m, int i, int j, Vec3& contribution) {
    contribution = Vec3{};
    const DbState& db = m.db;
    const WaterState& w = m.water;
    const Vec3 rij = db.x[i] - db.x[j];
    const double vr = dot(db.v[i] - db.v[j], rij);
    if (vr >= 0.0) return sph_success;  // separating or at rest
    const double h_bar = (db.h[i] + db.h[j]) / 2.0;
    const double rho_bar = (db.rho[i] + db.rho[j]) / 2.0;
    if (rho_bar <= 0.0 || h_bar <= 0.0) {
        return sph_error_set(m.error, sph_error_argument, "invalid viscosity pair state");
    }
    const double mu = sph_water_visc_mu(w, h_bar, vr, dot(rij, rij));
    const double pi_ij = sph_water_visc_pi(w, mu, rho_bar);
    Vec3 grad;
    if (const int st = pair_gradient(m, rij, db.h[i], grad); st != 0) return st;
    contribution = (-db.mass[j] * pi_ij) * grad;
    return sph_success;
}

int sph_water_compute_viscosity_acceleration(Model& m) {
    DbState& db = m.db;
    for (int i = 0; i < db.npart; ++i) db.acc_viscosity[i] = Vec3{};
    for (int i = 0; i < db.npart; ++i) {
        if (!sph_water_is_active_particle(db, i)) continue;
        const int64_t begin = db.neighbor_offset[i];
        const int64_t end = begin + db.neighbor_count[i];
        Vec3 acc;
        for (int64_t k = begin; k < end; ++k) {
            const int j = db.neighbor_list[k];
            if (!sph_water_is_active_particle(db, j)) continue;
            Vec3 contribution;
            if (const int st = sph_water_pair_viscosity(m, i, j, contribution); st != 0) {
                return st;
            }
            acc += contribution;
        }
        db.acc_viscosity[i] = acc;
    }
    return sph_success;
}

int sph_water_compute_acceleration(Model& m) {
    if (const int st = sph_water_compute_pressure_acceleration(m); st != 0) return st;
    if (const int st = sph_water_compute_viscosity_acceleration(m); st != 0) return st;
    DbState& db = m.db;
    for (int i = 0; i < db.npart; ++i) {
        if (!sph_water_is_active_particle(db, i)) continue;
        db.a[i] = db.acc_pressure[i] + db.acc_viscosity[i] + db.acc_body[i];
    }
    return sph_success;
}

int sph_water_estimate_dt_limits(Model& m, double& dt_cfl, double& dt_accel, double& dt_viscous) {
    dt_cfl = 0.0;
    dt_accel = 0.0;
    dt_viscous = 0.0;
    const DbState& db = m.db;
    const WaterState& w = m.water;
    double cfl = largest_double;
    double accel = largest_double;
    double viscous = largest_double;
    for (int i = 0; i < db.npart; ++i) {
        if (!sph_water_is_active_particle(db, i)) continue;
        const double h = db.h[i];
        if (w.water_c0 <= 0.0 || h <= 0.0) {
            return sph_error_set(m.error, sph_error_argument,
                                 "invalid Water state for dt estimate");
        }
        const double limit_cfl = h / (w.water_c0 + norm(db.v[i]));
        if (limit_cfl < cfl) cfl = limit_cfl;
        const double a_abs = norm(db.a[i]);
        if (a_abs > 0.0) {
            const double limit_accel = std::sqrt(h / a_abs);
            if (limit_accel < accel) accel = limit_accel;
        }
        const double limit_viscous =
            h / (w.water_c0 * (1.0 + w.water_visc_alpha + w.water_visc_beta));
        if (limit_viscous < viscous) viscous = limit_viscous;
    }
    if (cfl == largest_double) cfl = 0.0;
    if (accel == largest_double) accel = cfl;
    if (viscous == largest_double) viscous = cfl;
    dt_cfl = cfl;
    dt_accel = accel;
    dt_viscous = viscous;
    m.db.water.water_dt_cfl = cfl;
    m.db.water.water_dt_accel = accel;
    m.db.water.water_dt_viscous = viscous;
    return sph_success;
}

int sph_water_update_diagnostics(Model& m) {
    DbState& db = m.db;
    WaterDiagnostics& d = db.water;
    // The time-step limits belong to the last estimate and the pressure
    // impulse to a restored restart; this update computes neither, so it keeps
    // them instead of wiping what the summary and restart files report.
    const double dt_cfl = d.water_dt_cfl;
    const double dt_accel = d.water_dt_accel;
    const double dt_viscous = d.water_dt_viscous;
    const double impulse = d.water_pressure_impulse;
    sph_db_clear_water_diagnostics(db);
    d.water_dt_cfl = dt_cfl;
    d.water_dt_accel = dt_accel;
    d.water_dt_viscous = dt_viscous;
    d.water_pressure_impulse = impulse;
    for (int i = 0; i < db.npart; ++i) {
        if (!sph_water_is_active_particle(db, i)) continue;
        const double mass = db.mass[i];
        if (d.water_particle_count == 0) {
            d.water_max_pressure = db.pressure[i];
            d.water_min_density = db.rho[i];
            d.water_max_density = db.rho[i];
        } else {
            if (db.pressure[i] > d.water_max_pressure) d.water_max_pressure = db.pressure[i];
            if (db.rho[i] < d.water_min_density) d.water_min_density = db.rho[i];
            if (db.rho[i] > d.water_max_density) d.water_max_density = db.rho[i];
        }
        d.water_particle_count += 1;
        d.water_mass += mass;
        d.water_momentum += mass * db.v[i];
    }
    return sph_success;
}

int sph_water_get_summary(Model& m, double& mass_out, Vec3& momentum_out, double& max_pressure_out,
                          double& min_density_out, double& max_density_out) {
    mass_out = 0.0;
    momentum_out = Vec3{};
    max_pressure_out = 0.0;
    min_density_out = 0.0;
    max_density_out = 0.0;
    if (const int st = sph_water_update_diagnostics(m); st != 0) return st;
    const WaterDiagnostics& d = m.db.water;
    mass_out = d.water_mass;
    momentum_out = d.water_momentum;
    max_pressure_out = d.water_max_pressure;
    min_density_out = d.water_min_density;
    max_density_out = d.water_max_density;
    return sph_success;
}

namespace {

// Packs the values the pair pass reads per neighbor and tells whether any
// active water particle has a density or smoothing length that is not
// positive (or NaN): only such a particle can make the density rate or the
// acceleration fail.
bool pack_pair_records(Model& m) {
    DbState& db = m.db;
    WaterWorkspace& ws = m.water.workspace;
    const auto n = static_cast<std::size_t>(db.npart);
    if (ws.record.size() != n) {
        ws.record.assign(n, WaterPairRecord{});
        ws.active.assign(n, 0);
    }
    bool regular = true;
    for (int i = 0; i < db.npart; ++i) {
        const bool active = sph_water_is_active_particle(db, i);
        ws.active[i] = active ? 1 : 0;
        if (!active) continue;
        const double rho = db.rho[i];
        if (!(rho > 0.0) || !(db.h[i] > 0.0)) regular = false;
        WaterPairRecord& rec = ws.record[i];
        rec.x = db.x[i];
        rec.v = db.v[i];
        rec.mass = db.mass[i];
        rec.p_over_rho2 = db.pressure[i] / (rho * rho);
    }
    return regular;
}

}  // namespace

int sph_water_compute_density_rate_and_acceleration(Model& m, bool& acceleration_done) {
    acceleration_done = false;
    bool regular = false;
    try {
        regular = pack_pair_records(m);
    } catch (const std::bad_alloc&) {
        regular = false;  // the plain operations need no workspace
    }
    if (!regular) return sph_water_compute_density_rate(m);

    DbState& db = m.db;
    const WaterState& w = m.water;
    const WaterPairRecord* rec = m.water.workspace.record.data();
    const unsigned char* active = m.water.workspace.active.data();
    const int* list = db.neighbor_list.data();
    const double* h = db.h.data();
    const double* rho = db.rho.data();
    for (int i = 0; i < db.npart; ++i) {
        if (!active[i]) {
            db.drho_dt[i] = 0.0;
            db.acc_pressure[i] = Vec3{};
            db.acc_viscosity[i] = Vec3{};
            continue;
        }
        const Vec3 xi = rec[i].x;
        const Vec3 vi = rec[i].v;
        const double h_i = h[i];
        const double rho_i = rho[i];
        const double p_term_i = rec[i].p_over_rho2;
        const double fac = sph_water_wendland_factor(h_i);
        double drho = 0.0;
        Vec3 acc_p;
        Vec3 acc_v;
        const int64_t begin = db.neighbor_offset[i];
        const int64_t end = begin + db.neighbor_count[i];
        for (int64_t k = begin; k < end; ++k) {
            const int j = list[k];
            if (!active[j]) continue;
            const WaterPairRecord& rj = rec[j];
            const Vec3 rij = xi - rj.x;
            const Vec3 grad = sph_water_wendland_gradient(rij, h_i, fac);
            const Vec3 vij = vi - rj.v;
            drho += rj.mass * dot(vij, grad);
            acc_p -= (rj.mass * (p_term_i + rj.p_over_rho2)) * grad;
            const double vr = dot(vij, rij);
            if (!(vr >= 0.0)) {
                const double h_bar = (h_i + h[j]) / 2.0;
                const double rho_bar = (rho_i + rho[j]) / 2.0;
                const double mu = sph_water_visc_mu(w, h_bar, vr, dot(rij, rij));
                const double pi_ij = sph_water_visc_pi(w, mu, rho_bar);
                acc_v += (-rj.mass * pi_ij) * grad;
            }
        }
        db.drho_dt[i] = drho;
        db.acc_pressure[i] = acc_p;
        db.acc_viscosity[i] = acc_v;
        db.a[i] = acc_p + acc_v + db.acc_body[i];
    }
    acceleration_done = true;
    return sph_success;
}
