#include "explosive/sph_explosive.hpp"

#include <algorithm>
#include <cmath>
#include <limits>
#include <new>

#include "core/sph_error.hpp"
#include "core/sph_model.hpp"
#include "core/sph_text.hpp"

namespace {

constexpr double largest_double = std::numeric_limits<double>::max();

int fail(Model& m, int code, const char* message) {
    return sph_error_set(m.error, code, message);
}

bool below_largest(double value) {
    return std::fabs(value) < largest_double;  // NaN fails too
}

const ExplosiveMaterialSlot& slot_at(const ExplosiveState& ex, int slot) {
    return ex.slots[static_cast<std::size_t>(slot - 1)];
}

template <class T>
void release(std::vector<T>& values) {
    std::vector<T>().swap(values);
}

void release_particle_state(ExplosiveState& ex) {
    release(ex.explosive_ignition_status);
    release(ex.explosive_detonation_time);
    release(ex.explosive_reaction_progress);
    release(ex.explosive_initial_material_id);
    release(ex.explosive_initial_mass);
    release(ex.explosive_remaining_mass);
    release(ex.explosive_released_mass);
    release(ex.explosive_released_energy);
    release(ex.explosive_released_momentum);
}

bool particle_state_held(const ExplosiveState& ex, int npart) {
    return npart > 0 && ex.explosive_ignition_status.size() == static_cast<std::size_t>(npart);
}

void clear_particle_state(ExplosiveState& ex) {
    std::fill(ex.explosive_ignition_status.begin(), ex.explosive_ignition_status.end(), 0);
    std::fill(ex.explosive_detonation_time.begin(), ex.explosive_detonation_time.end(), 0.0);
    std::fill(ex.explosive_reaction_progress.begin(), ex.explosive_reaction_progress.end(), 0.0);
    std::fill(ex.explosive_initial_material_id.begin(), ex.explosive_initial_material_id.end(), 0);
    std::fill(ex.explosive_initial_mass.begin(), ex.explosive_initial_mass.end(), 0.0);
    std::fill(ex.explosive_remaining_mass.begin(), ex.explosive_remaining_mass.end(), 0.0);
    std::fill(ex.explosive_released_mass.begin(), ex.explosive_released_mass.end(), 0.0);
    std::fill(ex.explosive_released_energy.begin(), ex.explosive_released_energy.end(), 0.0);
    std::fill(ex.explosive_released_momentum.begin(), ex.explosive_released_momentum.end(), Vec3{});
    std::fill(std::begin(ex.explosive_release_mass_balance),
              std::end(ex.explosive_release_mass_balance), 0.0);
    std::fill(std::begin(ex.explosive_release_energy_balance),
              std::end(ex.explosive_release_energy_balance), 0.0);
    std::fill(std::begin(ex.explosive_release_momentum_balance),
              std::end(ex.explosive_release_momentum_balance), 0.0);
    ex.explosive_converted_count = 0;
    ex.explosive_source_target_count = 0;
    ex.explosive_source_mass_total = 0.0;
    ex.explosive_source_energy_total = 0.0;
    ex.explosive_source_momentum_total = Vec3{};
}

int apply_initial_conditions(Model& m) {
    DbState& db = m.db;
    ExplosiveState& ex = m.explosive;
    for (int i = 0; i < db.npart; ++i) {
        if (!sph_explosive_is_active_particle(db, i)) continue;
        const int mat = db.material_id[i];
        if (mat < 1 || mat > static_cast<int>(db.materials.size())) {
            return fail(m, sph_error_input, "Explosive particle material is invalid");
        }
        const double density = db.materials[static_cast<std::size_t>(mat - 1)].material_density;
        if (!(density > 0.0))
            return fail(m, sph_error_input, "Explosive particle density is invalid");
        db.rho[i] = density;
        if (!(db.mass[i] > 0.0)) db.mass[i] = 1.0;  // the mass is the particle's, not rho V
        db.volume[i] = db.mass[i] / db.rho[i];
        ex.explosive_initial_material_id[i] = mat;
        ex.explosive_initial_mass[i] = db.mass[i];
        ex.explosive_remaining_mass[i] = db.mass[i];
    }
    sph_explosive_update_release_balance(m);
    return sph_success;
}

// ---------------------------------------------------------------------------
// SOURCE releases. Every active gas target of one product receives, within an
// advance, the same additions in the same order from its cleared rates, so
// the targets that joined at the same moment share one accumulated value:
// a release costs one addition per group instead of one per target, and the
// rates are written once at the end, bit for bit what per-target additions
// would give.

ExplosiveProductTargets& targets_of(Model& m, int product) {
    std::vector<ExplosiveProductTargets>& all = m.explosive.source_targets;
    for (ExplosiveProductTargets& t : all) {
        if (t.product == product) return t;
    }
    ExplosiveProductTargets* t = nullptr;
    for (ExplosiveProductTargets& spare : all) {  // reuse an entry of an earlier step
        if (spare.product == 0) {
            t = &spare;
            break;
        }
    }
    if (t == nullptr) t = &all.emplace_back();
    t->product = product;
    t->groups.resize(1);
    ExplosiveSourceGroup& group = t->groups[0];
    group = ExplosiveSourceGroup{std::move(group.members), 0.0, Vec3{}, 0.0};
    group.members.clear();
    const DbState& db = m.db;
    for (int i = 0; i < db.npart; ++i) {
        if (sph_explosive_is_gas_target(db, i, product)) group.members.push_back(i);
    }
    t->count = static_cast<int>(group.members.size());
    t->last_group_open = true;
    return *t;
}

// A particle that became a target of `product` during the advance starts
// from cleared rates: it joins the last group if that has had no release
// since it was opened, else it opens a new one.
void note_new_target(Model& m, int product, int i) {
    for (ExplosiveProductTargets& t : m.explosive.source_targets) {
        if (t.product != product) continue;
        t.count += 1;
        if (!t.last_group_open) {
            t.groups.push_back(ExplosiveSourceGroup{});
            t.last_group_open = true;
        }
        t.groups.back().members.push_back(i);
        return;
    }
    // No release into this product yet: its targets are gathered at the first.
}

int source_release(Model& m, int slot, double dm, const Vec3& dp, double de, double dt) {
    ExplosiveState& ex = m.explosive;
    const int product = slot_at(ex, slot).explosive_product_material_id;
    ExplosiveProductTargets& t = targets_of(m, product);
    const int n = t.count;
    if (n <= 0) {
        return fail(m, sph_error_input,
                    "Explosive SOURCE conversion has no active product Gas target");
    }
    ex.explosive_source_target_count += n;
    ex.explosive_source_mass_total += dm;
    ex.explosive_source_energy_total += de;
    ex.explosive_source_momentum_total += dp;
    const double share = static_cast<double>(n) * dt;
    const double mass_rate = dm / share;
    const Vec3 momentum_rate{dp.x / share, dp.y / share, dp.z / share};
    const double energy_rate = de / share;
    if (!below_largest(mass_rate) || !below_largest(energy_rate) ||
        !below_largest(momentum_rate.x) || !below_largest(momentum_rate.y) ||
        !below_largest(momentum_rate.z)) {
        // The gas sources refuse it at the first target, before adding
        // anything, with their own message; every target would.
        for (const ExplosiveSourceGroup& g : t.groups) {
            if (!g.members.empty()) {
                return sph_gas_source_add_by_particle(m, g.members.front(), mass_rate,
                                                      momentum_rate, energy_rate);
            }
        }
    }
    for (ExplosiveSourceGroup& g : t.groups) {
        g.mass_rate += mass_rate;
        g.momentum_rate += momentum_rate;
        g.energy_rate += energy_rate;
    }
    t.last_group_open = false;
    return sph_success;
}

void write_source_rates(Model& m) {
    for (ExplosiveProductTargets& t : m.explosive.source_targets) {
        if (t.product == 0) continue;
        for (const ExplosiveSourceGroup& g : t.groups) {
            for (int i : g.members) {
                sph_gas_source_set_rates(m.gas.sources, i, g.mass_rate, g.momentum_rate,
                                         g.energy_rate);
            }
        }
        t.product = 0;  // spare for the next step; member buffers kept
        for (ExplosiveSourceGroup& g : t.groups) g.members.clear();
    }
}

int convert_to_gas(Model& m, int i, int slot) {
    ExplosiveState& ex = m.explosive;
    DbState& db = m.db;
    const int g = slot_at(ex, slot).explosive_product_material_id;
    const int material_count = static_cast<int>(db.materials.size());
    if (g <= 0 || g > sph_max_materials || (material_count > 0 && g > material_count)) {
        return fail(m, sph_error_input, "Explosive product material is invalid");
    }
    if (db.particle_phase[i] != sph_phase_gas) ex.explosive_converted_count += 1;
    db.particle_phase[i] = sph_phase_gas;
    db.material_id[i] = g;
    const double density =
        g <= material_count ? db.materials[static_cast<std::size_t>(g - 1)].material_density : 0.0;
    if (density > 0.0) db.rho[i] = density;
    if (db.rho[i] > 0.0) db.volume[i] = db.mass[i] / db.rho[i];
    db.internal_energy[i] = slot_at(ex, slot).explosive_energy_per_mass;
    note_new_target(m, g, i);
    return sph_gas_compute_pressure_for_material(m, g, db.rho[i], db.internal_energy[i],
                                                 db.pressure[i]);
}

}  // namespace

// ---------------------------------------------------------------------------
// Life cycle

void sph_explosive_initialize(ExplosiveState& ex) {
    ex = ExplosiveState{};
    ex.explosive_module_initialized = true;
}

void sph_explosive_reset(ExplosiveState& ex) {
    ex = ExplosiveState{};
}

void sph_explosive_clear_material_table(ExplosiveState& ex) {
    release(ex.slots);
    release(ex.ignitions);
    ex.explosive_material_seen = false;
}

// ---------------------------------------------------------------------------
// Deck receivers

void sph_explosive_note_material(Model& m, std::string_view name, std::string_view material_type) {
    if (!sph_text_contains_upper(material_type, "EXPLOSIVE")) return;
    m.explosive.explosive_material_seen = true;
    (void)sph_explosive_register_material(m, name);
}

int sph_explosive_set_control(Model& m, std::string_view material_name, std::string_view model_type,
                              double detonation_velocity, double energy_per_mass, double burn_time,
                              std::string_view product_material_name,
                              std::string_view conversion_name) {
    if (sph_text_is_blank(material_name)) {
        return fail(m, sph_error_input, "Explosive control MATERIAL is required");
    }
    if (!sph_text_contains_upper(model_type, "PROGRAMMED_BURN")) {
        return fail(m, sph_error_input, "Explosive TYPE must be PROGRAMMED_BURN");
    }
    // Written so that NaN is refused with the values out of range.
    if (!(detonation_velocity > 0.0)) {
        return fail(m, sph_error_argument, "Explosive detonation velocity must be positive");
    }
    if (!(energy_per_mass >= 0.0)) {
        return fail(m, sph_error_argument, "Explosive energy must be non-negative");
    }
    if (!(burn_time >= 0.0)) {
        return fail(m, sph_error_argument, "Explosive burn time must be non-negative");
    }
    if (sph_text_is_blank(product_material_name)) {
        return fail(m, sph_error_input, "Explosive PRODUCT_MATERIAL is required");
    }
    int slot = 0;
    if (const int st = sph_explosive_prepare_material(m, material_name, slot)) return st;
    ExplosiveState& ex = m.explosive;
    if (slot_at(ex, slot).explosive_control_defined) {
        return fail(m, sph_error_input, "Explosive material control is already defined");
    }
    const int product = sph_explosive_find_material(m, product_material_name);
    if (product == 0) return fail(m, sph_error_input, "Explosive product material is unknown");
    const MaterialRecord& product_record = m.db.materials[static_cast<std::size_t>(product - 1)];
    if (!sph_text_contains_upper(product_record.material_type, "GAS")) {
        return fail(m, sph_error_input, "Explosive product material must be Gas");
    }
    if (const int st = sph_explosive_validate_product(m, product)) return st;
    int conversion = explosive_conversion_none;
    const std::string word = sph_text_upper(conversion_name);
    if (word.find("PHASE") != std::string::npos || sph_text_is_blank(word)) {
        conversion = explosive_conversion_phase;
    } else if (word.find("SOURCE") != std::string::npos) {
        conversion = explosive_conversion_source;
    } else {
        return fail(m, sph_error_input, "Explosive CONVERSION must be PHASE or SOURCE");
    }
    ExplosiveMaterialSlot& s = ex.slots[static_cast<std::size_t>(slot - 1)];
    s.explosive_control_defined = true;
    s.explosive_product_material_id = product;
    s.explosive_product_material_name = product_record.material_name;
    s.explosive_density0 =
        m.db.materials[static_cast<std::size_t>(s.explosive_material_id - 1)].material_density;
    s.explosive_detonation_velocity = detonation_velocity;
    s.explosive_energy_per_mass = energy_per_mass;
    s.explosive_burn_time = burn_time;
    s.explosive_conversion_mode = conversion;
    return sph_success;
}

int sph_explosive_set_ignition(Model& m, std::string_view material_name, const Vec3& ignition_x,
                               double ignition_time) {
    if (sph_text_is_blank(material_name)) {
        return fail(m, sph_error_input, "Explosive ignition MATERIAL is required");
    }
    if (!(ignition_time >= 0.0)) {
        return fail(m, sph_error_argument, "Explosive ignition time must be non-negative");
    }
    if (!below_largest(ignition_x.x) || !below_largest(ignition_x.y) ||
        !below_largest(ignition_x.z)) {
        return fail(m, sph_error_argument, "Explosive ignition coordinate is not finite");
    }
    int slot = 0;
    if (const int st = sph_explosive_prepare_material(m, material_name, slot)) return st;
    ExplosiveState& ex = m.explosive;
    if (static_cast<int>(ex.ignitions.size()) >= sph_explosive_max_ignitions) {
        return fail(m, sph_error_input, "too many Explosive ignition records");
    }
    ex.ignitions.push_back({slot_at(ex, slot).explosive_material_id, ignition_x, ignition_time});
    return sph_success;
}

int sph_explosive_set_default_ignition_point(Model& m, const Vec3& ignition_x,
                                             double ignition_time) {
    ExplosiveState& ex = m.explosive;
    if (ex.slots.empty()) return fail(m, sph_error_input, "no Explosive material is available");
    const std::string name = ex.slots.front().explosive_material_name;
    if (const int st = sph_explosive_set_ignition(m, name, ignition_x, ignition_time)) return st;
    if (particle_state_held(ex, m.db.npart)) return sph_explosive_compute_detonation_times(m);
    return sph_success;
}

// ---------------------------------------------------------------------------
// Model build

int sph_explosive_validate_input(Model& m) {
    const ExplosiveState& ex = m.explosive;
    if (!ex.explosive_material_seen) return sph_success;
    const DbState& db = m.db;
    for (const ExplosiveMaterialSlot& s : ex.slots) {
        const int mat = s.explosive_material_id;
        if (mat < 1 || mat > static_cast<int>(db.materials.size())) {
            return fail(m, sph_error_input, "Explosive material table is invalid");
        }
        bool used = false;
        for (int i = 0; i < db.npart && !used; ++i) {
            used = sph_explosive_is_active_particle(db, i) && db.material_id[i] == mat;
        }
        if (!used) continue;  // no active particle: needs nothing
        if (!(db.materials[static_cast<std::size_t>(mat - 1)].material_density > 0.0)) {
            return fail(m, sph_error_input, "input is missing *DENSITY for Explosive material");
        }
        if (!s.explosive_control_defined) {
            return fail(m, sph_error_input,
                        "input is missing *VELUNOR EXPLOSIVE for Explosive material");
        }
        if (const int st = sph_explosive_validate_product(m, s.explosive_product_material_id)) {
            return st;
        }
        const bool ignited = std::any_of(
            ex.ignitions.begin(), ex.ignitions.end(),
            [&](const ExplosiveIgnition& g) { return g.explosive_ignition_material_id == mat; });
        if (!ignited) {
            return fail(m, sph_error_input,
                        "input is missing *VELUNOR IGNITION for Explosive material");
        }
    }
    return sph_success;
}

int sph_explosive_allocate_state(Model& m) {
    ExplosiveState& ex = m.explosive;
    const int npart = m.db.npart;
    if (npart <= 0) return sph_success;
    if (particle_state_held(ex, npart)) return sph_success;
    release_particle_state(ex);
    const std::size_t n = static_cast<std::size_t>(npart);
    try {
        ex.explosive_ignition_status.assign(n, 0);
        ex.explosive_detonation_time.assign(n, 0.0);
        ex.explosive_reaction_progress.assign(n, 0.0);
        ex.explosive_initial_material_id.assign(n, 0);
        ex.explosive_initial_mass.assign(n, 0.0);
        ex.explosive_remaining_mass.assign(n, 0.0);
        ex.explosive_released_mass.assign(n, 0.0);
        ex.explosive_released_energy.assign(n, 0.0);
        ex.explosive_released_momentum.assign(n, Vec3{});
    } catch (const std::exception&) {
        release_particle_state(ex);
        return fail(m, sph_error_input, "failed to allocate Explosive state");
    }
    return sph_success;
}

int sph_explosive_build(Model& m) {
    if (!m.explosive.explosive_material_seen) return sph_success;
    if (const int st = sph_explosive_validate_input(m)) return st;
    if (const int st = sph_explosive_allocate_state(m)) return st;
    clear_particle_state(m.explosive);
    if (const int st = apply_initial_conditions(m)) return st;
    return sph_explosive_compute_detonation_times(m);
}

int sph_explosive_compute_detonation_times(Model& m) {
    if (const int st = sph_explosive_allocate_state(m)) return st;
    DbState& db = m.db;
    ExplosiveState& ex = m.explosive;
    for (int i = 0; i < db.npart; ++i) {
        if (!sph_explosive_is_active_particle(db, i)) continue;
        const int mat = db.material_id[i];
        const int slot = sph_explosive_slot_of_material(ex, mat);
        if (slot == 0)
            return fail(m, sph_error_input, "Explosive particle material has no control");
        const double velocity = slot_at(ex, slot).explosive_detonation_velocity;
        double t_det = largest_double;
        for (const ExplosiveIgnition& g : ex.ignitions) {
            if (g.explosive_ignition_material_id != mat) continue;
            const double t =
                g.explosive_ignition_time + norm(db.x0[i] - g.explosive_ignition_x) / velocity;
            t_det = std::min(t_det, t);
        }
        if (t_det == largest_double)
            return fail(m, sph_error_input, "Explosive particle has no ignition");
        ex.explosive_detonation_time[i] = t_det;
        ex.explosive_ignition_status[i] = 1;
    }
    return sph_success;
}

int sph_explosive_count_unbound_materials(const Model& m) {
    int count = 0;
    for (const ExplosiveMaterialSlot& s : m.explosive.slots) {
        const bool bound =
            std::any_of(m.db.sections.begin(), m.db.sections.end(), [&](const SectionRecord& sec) {
                return sec.section_material_id == s.explosive_material_id;
            });
        if (!bound) ++count;
    }
    return count;
}

// ---------------------------------------------------------------------------
// Per step

double sph_explosive_reaction_target(const Model& m, int i, int slot, double time) {
    const ExplosiveState& ex = m.explosive;
    const double t_det = ex.explosive_detonation_time[i];
    if (time < t_det) return ex.explosive_reaction_progress[i];
    const double burn_time = slot_at(ex, slot).explosive_burn_time;
    if (burn_time <= 0.0) return 1.0;
    return std::clamp((time - t_det) / burn_time, 0.0, 1.0);
}

int sph_explosive_estimate_dt_limit(Model& m, double& dt_reaction) {
    dt_reaction = 0.0;
    ExplosiveState& ex = m.explosive;
    if (!ex.explosive_material_seen) return sph_success;
    double limit = 0.0;
    for (const ExplosiveMaterialSlot& s : ex.slots) {
        if (!(s.explosive_burn_time > 0.0)) continue;
        const double candidate = s.explosive_burn_time / 4.0;
        if (limit == 0.0 || candidate < limit) limit = candidate;
    }
    dt_reaction = limit;
    ex.explosive_dt_reaction = limit;
    return sph_success;
}

int sph_explosive_advance(Model& m, double dt, double time) {
    ExplosiveState& ex = m.explosive;
    if (!ex.explosive_material_seen) return sph_success;
    if (!(dt > 0.0)) return fail(m, sph_error_argument, "Explosive time step must be positive");
    if (const int st = sph_explosive_allocate_state(m)) return st;
    // Only this step's SOURCE releases are in the table.
    if (const int st = sph_gas_source_clear(m)) return st;
    DbState& db = m.db;
    int status = sph_success;
    for (int i = 0; i < db.npart && status == sph_success; ++i) {
        if (!sph_explosive_is_active_particle(db, i)) continue;
        const int slot = sph_explosive_slot_of_material(ex, db.material_id[i]);
        if (slot == 0) {
            status = fail(m, sph_error_input, "Explosive particle material has no control");
            break;
        }
        const double old_progress = ex.explosive_reaction_progress[i];
        const double new_progress =
            std::min(1.0, std::max(old_progress, sph_explosive_reaction_target(m, i, slot, time)));
        if (new_progress - old_progress <= 0.0) continue;
        const ExplosiveMaterialSlot& s = slot_at(ex, slot);
        const double dm = ex.explosive_initial_mass[i] * (new_progress - old_progress);
        const double de = dm * s.explosive_energy_per_mass;
        const Vec3 dp{db.v[i].x * dm, db.v[i].y * dm, db.v[i].z * dm};
        ex.explosive_reaction_progress[i] = new_progress;
        ex.explosive_remaining_mass[i] =
            std::max(0.0, (1.0 - new_progress) * ex.explosive_initial_mass[i]);
        ex.explosive_released_mass[i] += dm;
        ex.explosive_released_energy[i] += de;
        ex.explosive_released_momentum[i] += dp;
        if (s.explosive_conversion_mode == explosive_conversion_source) {
            status = source_release(m, slot, dm, dp, de, dt);
        } else if (new_progress >= 1.0) {
            status = convert_to_gas(m, i, slot);
        }
    }
    // What the releases before a failure added stays, as if added one by one.
    write_source_rates(m);
    if (status != sph_success) return status;
    sph_explosive_update_release_balance(m);
    return sph_success;
}

// ---------------------------------------------------------------------------
// Queries

void sph_explosive_update_release_balance(Model& m) {
    ExplosiveState& ex = m.explosive;
    std::fill(std::begin(ex.explosive_release_mass_balance),
              std::end(ex.explosive_release_mass_balance), 0.0);
    std::fill(std::begin(ex.explosive_release_energy_balance),
              std::end(ex.explosive_release_energy_balance), 0.0);
    std::fill(std::begin(ex.explosive_release_momentum_balance),
              std::end(ex.explosive_release_momentum_balance), 0.0);
    const DbState& db = m.db;
    if (!particle_state_held(ex, db.npart)) return;
    double initial = 0.0, released = 0.0, remaining = 0.0, energy = 0.0, expected = 0.0;
    Vec3 momentum;
    for (int i = 0; i < db.npart; ++i) {
        if (!sph_explosive_is_tracked(ex, db, i)) continue;
        initial += ex.explosive_initial_mass[i];
        released += ex.explosive_released_mass[i];
        remaining += ex.explosive_remaining_mass[i];
        energy += ex.explosive_released_energy[i];
        const int slot = sph_explosive_slot_of_material(ex, ex.explosive_initial_material_id[i]);
        expected +=
            slot > 0 ? ex.explosive_released_mass[i] * slot_at(ex, slot).explosive_energy_per_mass
                     : ex.explosive_released_energy[i];
        momentum += ex.explosive_released_momentum[i];
    }
    ex.explosive_release_mass_balance[0] = initial;
    ex.explosive_release_mass_balance[1] = released;
    ex.explosive_release_mass_balance[2] = remaining;
    ex.explosive_release_mass_balance[3] = initial - released - remaining;
    ex.explosive_release_energy_balance[0] = energy;
    ex.explosive_release_energy_balance[1] = energy - expected;
    ex.explosive_release_momentum_balance[0] = momentum.x;
    ex.explosive_release_momentum_balance[1] = momentum.y;
    ex.explosive_release_momentum_balance[2] = momentum.z;
}

void sph_explosive_get_release_balance(Model& m, std::array<double, 4>& mass_values,
                                       std::array<double, 2>& energy_values,
                                       std::array<double, 3>& momentum_values) {
    sph_explosive_update_release_balance(m);
    const ExplosiveState& ex = m.explosive;
    std::copy(std::begin(ex.explosive_release_mass_balance),
              std::end(ex.explosive_release_mass_balance), mass_values.begin());
    std::copy(std::begin(ex.explosive_release_energy_balance),
              std::end(ex.explosive_release_energy_balance), energy_values.begin());
    std::copy(std::begin(ex.explosive_release_momentum_balance),
              std::end(ex.explosive_release_momentum_balance), momentum_values.begin());
}

void sph_explosive_get_summary(Model& m, int& particle_count, int& reacted_count,
                               std::array<double, 3>& lambda_range,
                               std::array<double, 5>& released_totals,
                               std::array<double, 2>& detonation_time_range) {
    particle_count = 0;
    reacted_count = 0;
    lambda_range.fill(0.0);
    released_totals.fill(0.0);
    detonation_time_range.fill(0.0);
    const ExplosiveState& ex = m.explosive;
    const DbState& db = m.db;
    if (!particle_state_held(ex, db.npart)) return;
    sph_explosive_update_release_balance(m);
    double sum = 0.0;
    for (int i = 0; i < db.npart; ++i) {
        if (!sph_explosive_is_tracked(ex, db, i)) continue;
        const double progress = ex.explosive_reaction_progress[i];
        const double t_det = ex.explosive_detonation_time[i];
        if (particle_count == 0) {
            lambda_range[0] = lambda_range[1] = progress;
            detonation_time_range[0] = detonation_time_range[1] = t_det;
        } else {
            lambda_range[0] = std::min(lambda_range[0], progress);
            lambda_range[1] = std::max(lambda_range[1], progress);
            detonation_time_range[0] = std::min(detonation_time_range[0], t_det);
            detonation_time_range[1] = std::max(detonation_time_range[1], t_det);
        }
        particle_count += 1;
        if (progress > 0.0) reacted_count += 1;
        sum += progress;
        released_totals[0] += ex.explosive_released_mass[i];
        released_totals[1] += ex.explosive_released_energy[i];
        released_totals[2] += ex.explosive_released_momentum[i].x;
        released_totals[3] += ex.explosive_released_momentum[i].y;
        released_totals[4] += ex.explosive_released_momentum[i].z;
    }
    if (particle_count > 0) lambda_range[2] = sum / particle_count;
}

void sph_explosive_get_detonation_time_range(const Model& m, double& time_min, double& time_max) {
    time_min = 0.0;
    time_max = 0.0;
    const ExplosiveState& ex = m.explosive;
    const DbState& db = m.db;
    if (!particle_state_held(ex, db.npart)) return;
    bool first = true;
    for (int i = 0; i < db.npart; ++i) {
        if (!sph_explosive_is_active_particle(db, i)) continue;
        const double t = ex.explosive_detonation_time[i];
        time_min = first ? t : std::min(time_min, t);
        time_max = first ? t : std::max(time_max, t);
        first = false;
    }
}
