#include "water/sph_water.hpp"

#include <algorithm>
#include <cmath>
#include <limits>
#include <new>

#include "core/sph_error.hpp"
#include "core/sph_model.hpp"
#include "core/sph_text.hpp"
#include "water/sph_water_pairs.hpp"

namespace {

constexpr double largest_double = std::numeric_limits<double>::max();

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
    if (sph_text_is_blank(eos_type)) {
        return sph_error_set(m.error, sph_error_input, "Water EOS TYPE is required");
    }
    if (!sph_text_contains_upper(eos_type, "TAIT")) {
        return sph_error_set(m.error, sph_error_input, "Water EOS TYPE must be TAIT");
    }
    if (sph_text_is_blank(material_name)) {
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
    if (sph_text_is_blank(visc_type)) {
        return sph_error_set(m.error, sph_error_input, "Water viscosity TYPE is required");
    }
    if (!sph_text_contains_upper(visc_type, "MONAGHAN")) {
        return sph_error_set(m.error, sph_error_input, "Water viscosity TYPE must be MONAGHAN");
    }
    if (sph_text_is_blank(material_name)) {
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

void sph_water_set_density_diffusion(WaterState& water, double delta) {
    water.water_density_diffusion = delta;
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
    const WaterState& w = m.water;
    const WaterDiffusion diffusion = sph_water_diffusion_setup(w);
    for (int i = 0; i < db.npart; ++i) db.drho_dt[i] = 0.0;
    for (int i = 0; i < db.npart; ++i) {
        if (!sph_water_is_active_particle(db, i)) continue;
        const int64_t begin = db.neighbor_offset[i];
        const int64_t end = begin + db.neighbor_count[i];
        const double h_i = db.h[i];
        const double eta2 = sph_density_diffusion_eta2(h_i);
        const Vec3 g_i = diffusion.hydrostatic
                             ? sph_water_hydrostatic_gradient(w, diffusion, db.rho[i])
                             : Vec3{};
        double sum = 0.0;
        double diffusive = 0.0;
        for (int64_t k = begin; k < end; ++k) {
            const int j = db.neighbor_list[k];
            if (!sph_water_is_active_particle(db, j)) continue;
            const Vec3 r = db.x[i] - db.x[j];
            Vec3 grad;
            if (const int st = pair_gradient(m, r, h_i, grad); st != 0) return st;
            sum += db.mass[j] * dot(db.v[i] - db.v[j], grad);
            if (!diffusion.on) continue;
            double d = db.rho[j] - db.rho[i];
            if (diffusion.hydrostatic) {
                const double t = sph_water_hydrostatic_t(g_i, r.x, r.y, r.z);
                d = sph_water_dynamic_density(d, db.rho[i],
                                              sph_water_hydrostatic_step(diffusion, t));
            }
            diffusive += sph_density_diffusion_pair(d, dot(r, grad), dot(r, r), eta2,
                                                    db.mass[j] / db.rho[j]);
        }
        db.drho_dt[i] = diffusion.on ? sum + (diffusion.delta_c0 * h_i) * diffusive : sum;
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
// acceleration fail. With density diffusion it also stores every active
// particle's volume m / rho. Throws std::bad_alloc only when the particle
// count grew.
bool pack_pair_records(Model& m, bool diffusion) {
    DbState& db = m.db;
    WaterWorkspace& ws = m.water.workspace;
    const auto n = static_cast<std::size_t>(db.npart);
    if (ws.record.size() != n || ws.active.size() != n) {
        ws.record.assign(n, WaterPairRecord{});
        ws.active.assign(n, 0);
    }
    if (diffusion && ws.volume.size() != n) ws.volume.assign(n, 0.0);
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
        rec.h = db.h[i];
        rec.rho = rho;
        if (diffusion) ws.volume[i] = db.mass[i] / rho;
    }
    return regular;
}

// Pair scratch of one particle: inputs gathered from its active water
// neighbors, then the per-pair terms of the three sums. Columns hold a
// multiple of pair_lanes entries so the pair loop needs no remainder loop.
enum PairColumn : int {
    col_rx,
    col_ry,
    col_rz,
    col_vx,
    col_vy,
    col_vz,
    col_m,
    col_por,
    col_h,
    col_rho,
    col_vol,  // inputs (col_vol only with density diffusion)
    col_d,
    col_px,
    col_py,
    col_pz,
    col_wx,
    col_wy,
    col_wz,
    col_dd,  // terms (col_dd only with density diffusion)
    col_count
};

constexpr int pair_lanes = 4;

struct PairInputs {
    double h_i, rho_i, p_term_i, fac;
    double eta2;  // density diffusion: eta^2 with h_i
    Vec3 g_i;     // hydrostatic correction: rho0 g / (B (rho_i / rho0)^gamma)
    const WaterDiffusion* diffusion;
};

// Which terms a pass forms: the three of every step, and the diffusive
// density term without or with its hydrostatic correction.
enum class PairMode { plain, diffusion, hydrostatic };

// Four pairs at a time in GCC vector types: each lane runs exactly the scalar
// operations (IEEE division and square root are exact per lane, and
// -ffp-contract=off keeps multiplies and adds apart), so the lanes hold the
// same bits the plain operations compute.
// The helpers below are always inlined into the pair loop, so the note that
// passing 32-byte vectors by value differs between AVX and non-AVX code does
// not apply (GCC reports it at the end of the unit, hence to the end).
#pragma GCC diagnostic ignored "-Wpsabi"
typedef double pair_vec __attribute__((vector_size(pair_lanes * sizeof(double))));
typedef long long pair_mask __attribute__((vector_size(pair_lanes * sizeof(long long))));

[[gnu::always_inline]] inline pair_vec load_lanes(const double* p) {
    pair_vec v;
    __builtin_memcpy(&v, p, sizeof v);
    return v;
}

[[gnu::always_inline]] inline void store_lanes(double* p, pair_vec v) {
    __builtin_memcpy(p, &v, sizeof v);
}

[[gnu::always_inline]] inline pair_vec sqrt_lanes(pair_vec x) {
#if defined(__x86_64__)
    typedef double half_vec __attribute__((vector_size(2 * sizeof(double))));
    const half_vec lo = __builtin_ia32_sqrtpd(half_vec{x[0], x[1]});
    const half_vec hi = __builtin_ia32_sqrtpd(half_vec{x[2], x[3]});
    return pair_vec{lo[0], lo[1], hi[0], hi[1]};
#else
    return pair_vec{std::sqrt(x[0]), std::sqrt(x[1]), std::sqrt(x[2]), std::sqrt(x[3])};
#endif
}

// The per-pair terms: the kernel gradient with h_i, the density-rate term,
// the pressure term and the viscous term, which is +0.0 for pairs that are
// not approaching; adding +0.0 leaves a running sum that started at +0.0
// bit-for-bit unchanged (such a sum is never -0.0), so the sums need no
// branch. With density diffusion also its pair term; the hydrostatic step
// takes the series on all lanes and, in the rare lanes beyond its range, the
// plain pass's function.
template <PairMode mode, bool rates_only>
[[gnu::always_inline]] inline void pair_terms_body(const WaterState& w, double* col,
                                                   std::size_t stride, int count,
                                                   const PairInputs& in) {
    const double h = in.h_i;
    const pair_vec zero_vec = {0.0, 0.0, 0.0, 0.0};
    for (int k = 0; k < count; k += pair_lanes) {
        const double* at = col + k;
        const pair_vec rx = load_lanes(at + col_rx * stride), ry = load_lanes(at + col_ry * stride),
                       rz = load_lanes(at + col_rz * stride);
        const pair_vec vx = load_lanes(at + col_vx * stride), vy = load_lanes(at + col_vy * stride),
                       vz = load_lanes(at + col_vz * stride);
        const pair_vec m = load_lanes(at + col_m * stride);
        const pair_vec r2 = rx * rx + ry * ry + rz * rz;
        const pair_vec r = sqrt_lanes(r2);
        const pair_vec q = r / h;
        const pair_vec dwdr = sph_wendland_c2_dwdr(q, h, in.fac);
        const pair_mask zero = (r <= 0.0) | (q >= 2.0);
        const pair_vec gx = zero ? zero_vec : sph_wendland_c2_component(rx, dwdr, r);
        const pair_vec gy = zero ? zero_vec : sph_wendland_c2_component(ry, dwdr, r);
        const pair_vec gz = zero ? zero_vec : sph_wendland_c2_component(rz, dwdr, r);
        store_lanes(col + col_d * stride + k, m * (vx * gx + vy * gy + vz * gz));
        if constexpr (!rates_only) {
            const pair_vec cp = m * (in.p_term_i + load_lanes(at + col_por * stride));
            store_lanes(col + col_px * stride + k, cp * gx);
            store_lanes(col + col_py * stride + k, cp * gy);
            store_lanes(col + col_pz * stride + k, cp * gz);
            const pair_vec vr = vx * rx + vy * ry + vz * rz;
            const pair_vec h_bar = (h + load_lanes(at + col_h * stride)) / 2.0;
            const pair_vec rho_bar = (in.rho_i + load_lanes(at + col_rho * stride)) / 2.0;
            const pair_vec mu = sph_water_visc_mu(w, h_bar, vr, r2);
            const pair_vec cv = -m * sph_water_visc_pi(w, mu, rho_bar);
            const pair_mask approaching = !(vr >= 0.0);
            store_lanes(col + col_wx * stride + k, approaching ? cv * gx : zero_vec);
            store_lanes(col + col_wy * stride + k, approaching ? cv * gy : zero_vec);
            store_lanes(col + col_wz * stride + k, approaching ? cv * gz : zero_vec);
        }
        if constexpr (mode != PairMode::plain) {
            const pair_vec rho_j = load_lanes(at + col_rho * stride);
            pair_vec d = rho_j - in.rho_i;
            if constexpr (mode == PairMode::hydrostatic) {
                const WaterDiffusion& dif = *in.diffusion;
                const pair_vec t = sph_water_hydrostatic_t(in.g_i, rx, ry, rz);
                pair_vec step = sph_water_hydrostatic_series(dif, t);
                const pair_mask near = (t <= sph_water_hydrostatic_series_limit) &
                                       (t >= -sph_water_hydrostatic_series_limit);
                for (int l = 0; l < pair_lanes; ++l) {
                    if (!near[l]) step[l] = sph_water_hydrostatic_step(dif, t[l]);
                }
                d = sph_water_dynamic_density(d, in.rho_i, step);
            }
            const pair_vec rg = rx * gx + ry * gy + rz * gz;
            store_lanes(
                col + col_dd * stride + k,
                sph_density_diffusion_pair(d, rg, r2, in.eta2, load_lanes(at + col_vol * stride)));
        }
    }
}

template <PairMode mode, bool rates_only>
void pair_terms_generic(const WaterState& w, double* col, std::size_t stride, int count,
                        const PairInputs& in) {
    pair_terms_body<mode, rates_only>(w, col, stride, count, in);
}

using PairTermsFn = void (*)(const WaterState&, double*, std::size_t, int, const PairInputs&);

#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__)
// The same loop compiled for AVX2 (no FMA: multiplies and adds stay apart),
// taken when the processor has it.
template <PairMode mode, bool rates_only>
__attribute__((target("avx2"))) void pair_terms_avx2(const WaterState& w, double* col,
                                                     std::size_t stride, int count,
                                                     const PairInputs& in) {
    pair_terms_body<mode, rates_only>(w, col, stride, count, in);
}

template <PairMode mode, bool rates_only>
PairTermsFn select_pair_terms() {
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2") ? pair_terms_avx2<mode, rates_only>
                                          : pair_terms_generic<mode, rates_only>;
}

template <PairMode mode, bool rates_only>
PairTermsFn pair_terms() {
    static const PairTermsFn fn = select_pair_terms<mode, rates_only>();
    return fn;
}
#else
template <PairMode mode, bool rates_only>
PairTermsFn pair_terms() {
    return pair_terms_generic<mode, rates_only>;
}
#endif

template <bool rates_only>
PairTermsFn pair_terms_for(const WaterDiffusion& d) {
    if (!d.on) return pair_terms<PairMode::plain, rates_only>();
    return d.hydrostatic ? pair_terms<PairMode::hydrostatic, rates_only>()
                         : pair_terms<PairMode::diffusion, rates_only>();
}

// The fused pair pass: the density rate and, unless `rates_only`, the
// pressure and viscosity accelerations, from one kernel gradient per pair.
template <bool rates_only>
int fused_pair_pass(Model& m, bool& acceleration_done) {
    acceleration_done = false;
    DbState& db = m.db;
    WaterWorkspace& ws = m.water.workspace;
    const WaterDiffusion diffusion = sph_water_diffusion_setup(m.water);
    bool regular = false;
    try {
        regular = pack_pair_records(m, diffusion.on);
        int max_count = 0;
        for (int i = 0; i < db.npart; ++i) max_count = std::max(max_count, db.neighbor_count[i]);
        const std::size_t stride =
            static_cast<std::size_t>((max_count + pair_lanes - 1) / pair_lanes * pair_lanes);
        if (ws.pair_stride < stride) {
            ws.pair_columns.assign(stride * col_count, 0.0);
            ws.pair_stride = stride;
        }
    } catch (const std::bad_alloc&) {
        ws = WaterWorkspace{};  // no half-sized buffers left for the next step
        regular = false;        // the plain operations need no workspace
    }
    if (!regular) return sph_water_compute_density_rate(m);

    const WaterState& w = m.water;
    const WaterPairRecord* rec = ws.record.data();
    const unsigned char* active = ws.active.data();
    const int* list = db.neighbor_list.data();
    const std::size_t stride = ws.pair_stride;
    double* col = ws.pair_columns.data();
    const double* volume = ws.volume.data();
    const PairTermsFn terms = pair_terms_for<rates_only>(diffusion);
    PairInputs in{};
    in.diffusion = &diffusion;
    for (int i = 0; i < db.npart; ++i) {
        if (!active[i]) {
            db.drho_dt[i] = 0.0;
            if constexpr (!rates_only) {
                db.acc_pressure[i] = Vec3{};
                db.acc_viscosity[i] = Vec3{};
            }
            continue;
        }
        const WaterPairRecord& ri = rec[i];
        in.h_i = ri.h;
        in.rho_i = ri.rho;
        in.p_term_i = ri.p_over_rho2;
        in.fac = sph_wendland_c2_factor(ri.h);
        if (diffusion.on) {
            in.eta2 = sph_density_diffusion_eta2(ri.h);
            in.g_i = diffusion.hydrostatic ? sph_water_hydrostatic_gradient(w, diffusion, ri.rho)
                                           : Vec3{};
        }

        // Gather the active water neighbors in stored order.
        int count = 0;
        const int64_t begin = db.neighbor_offset[i];
        const int64_t end = begin + db.neighbor_count[i];
        for (int64_t k = begin; k < end; ++k) {
            const int j = list[k];
            if (!active[j]) continue;
            const WaterPairRecord& rj = rec[j];
            col[col_rx * stride + count] = ri.x.x - rj.x.x;
            col[col_ry * stride + count] = ri.x.y - rj.x.y;
            col[col_rz * stride + count] = ri.x.z - rj.x.z;
            col[col_vx * stride + count] = ri.v.x - rj.v.x;
            col[col_vy * stride + count] = ri.v.y - rj.v.y;
            col[col_vz * stride + count] = ri.v.z - rj.v.z;
            col[col_m * stride + count] = rj.mass;
            if constexpr (!rates_only) {
                col[col_por * stride + count] = rj.p_over_rho2;
                col[col_h * stride + count] = rj.h;
            }
            if (!rates_only || diffusion.on) col[col_rho * stride + count] = rj.rho;
            if (diffusion.on) col[col_vol * stride + count] = volume[j];
            ++count;
        }
        terms(w, col, stride, count, in);

        // The sums, in stored neighbor order.
        const double* d = col + col_d * stride;
        double drho = 0.0;
        for (int k = 0; k < count; ++k) drho += d[k];
        if (diffusion.on) {
            const double* dd = col + col_dd * stride;
            double diffusive = 0.0;
            for (int k = 0; k < count; ++k) diffusive += dd[k];
            drho += (diffusion.delta_c0 * ri.h) * diffusive;
        }
        db.drho_dt[i] = drho;
        if constexpr (rates_only) continue;
        const double* px = col + col_px * stride;
        const double* py = col + col_py * stride;
        const double* pz = col + col_pz * stride;
        const double* wx = col + col_wx * stride;
        const double* wy = col + col_wy * stride;
        const double* wz = col + col_wz * stride;
        Vec3 acc_p;
        Vec3 acc_v;
        for (int k = 0; k < count; ++k) {
            acc_p.x -= px[k];
            acc_p.y -= py[k];
            acc_p.z -= pz[k];
            acc_v.x += wx[k];
            acc_v.y += wy[k];
            acc_v.z += wz[k];
        }
        db.acc_pressure[i] = acc_p;
        db.acc_viscosity[i] = acc_v;
        db.a[i] = acc_p + acc_v + db.acc_body[i];
    }
    acceleration_done = !rates_only;
    return sph_success;
}

}  // namespace

int sph_water_compute_density_rate_and_acceleration(Model& m, bool& acceleration_done) {
    return fused_pair_pass<false>(m, acceleration_done);
}

int sph_water_compute_density_rate_fused(Model& m) {
    bool acceleration_done = false;
    return fused_pair_pass<true>(m, acceleration_done);
}
