#include "solid/sph_solid.hpp"

#include <algorithm>
#include <cmath>

#include "core/sph_error.hpp"
#include "core/sph_model.hpp"
#include "core/sph_text.hpp"

namespace {

constexpr double finite_limit = 8.988465674311579e307;

int fail(Model& m, int code, const char* message) {
    return sph_error_set(m.error, code, message);
}

bool setter_finite(double value) {
    return !std::isnan(value) && std::fabs(value) <= finite_limit;
}

template <class T>
void release(std::vector<T>& values) {
    std::vector<T>().swap(values);
}

SolidMatrix identity_matrix() {
    return {1.0, 0.0, 0.0, 0.0, 1.0, 0.0, 0.0, 0.0, 1.0};
}

// The slot of a setter's material: a slot of that name, else a registered
// database material of a solid type.
int prepare_material(Model& m, std::string_view name, int& slot) {
    SolidState& solid = m.solid;
    slot = 0;
    const std::string wanted = sph_text_field(name, sph_name_len);
    for (std::size_t k = 0; k < solid.slots.size(); ++k) {
        if (sph_text_name_equal(solid.slots[k].solid_material_names, wanted)) {
            slot = static_cast<int>(k) + 1;
            return sph_success;
        }
    }
    const int index = sph_db_find_material(m.db, name);
    if (index == 0) return fail(m, sph_error_input, "Solid material is unknown");
    const MaterialRecord& material = m.db.materials[static_cast<std::size_t>(index - 1)];
    if (!sph_text_contains_upper(material.material_type, "SOLID")) {
        return fail(m, sph_error_input, "Solid data references non-Solid material");
    }
    if (static_cast<int>(solid.slots.size()) >= sph_solid_max_materials) {
        return fail(m, sph_error_input, "failed to register Solid material");
    }
    SolidMaterialSlot s;
    s.solid_material_ids = index;
    s.solid_material_names = material.material_name;
    solid.slots.push_back(std::move(s));
    slot = static_cast<int>(solid.slots.size());
    return sph_success;
}

SolidMaterialSlot& slot_ref(SolidState& solid, int slot) {
    return solid.slots[static_cast<std::size_t>(slot - 1)];
}

bool material_has_active_solid(const Model& m, int material_index) {
    const DbState& db = m.db;
    for (int i = 0; i < db.npart; ++i) {
        if (sph_solid_is_active_particle(db, i) && db.material_id[i] == material_index &&
            !sph_solid_claimed_by_fluid(m, i)) {
            return true;
        }
    }
    return false;
}

int initialize_particles(Model& m) {
    DbState& db = m.db;
    SolidState& solid = m.solid;
    for (int i = 0; i < db.npart; ++i) {
        if (!sph_solid_is_active_particle(db, i) || sph_solid_claimed_by_fluid(m, i)) continue;
        const int slot = sph_solid_slot_of_material(solid, db.material_id[i]);
        if (slot == 0)
            return fail(m, sph_error_input, "active Solid particle has no Solid material state");
        const SolidMaterialSlot& s = slot_ref(solid, slot);
        db.rho[i] = s.solid_density;
        if (s.solid_control_h > 0.0) db.h[i] = s.solid_control_h;
        if (s.solid_control_volume > 0.0) {
            db.volume[i] = s.solid_control_volume;
            db.mass[i] = s.solid_density * s.solid_control_volume;
        }
        const std::size_t k = static_cast<std::size_t>(i);
        solid.solid_temperature[k] = db.temperature[i];
        solid.solid_internal_energy[k] = db.internal_energy[i];
        solid.solid_softening[k] = 1.0;
        solid.solid_deformation_gradient[k] = identity_matrix();
        solid.solid_correction_matrix[k] = identity_matrix();
    }
    return sph_success;
}

}  // namespace

// ---------------------------------------------------------------------------
// Life cycle and classes

void sph_solid_initialize(SolidState& solid) {
    solid = SolidState{};
    solid.solid_module_initialized = true;
}

void sph_solid_reset(SolidState& solid) {
    solid = SolidState{};
}

void sph_solid_clear_material_table(SolidState& solid) {
    release(solid.slots);
    solid.solid_material_seen = false;
    solid.solid_body_force = Vec3{};
}

void sph_solid_release_state(SolidState& s) {
    release(s.solid_stress);
    release(s.solid_effective_stress);
    release(s.solid_strain);
    release(s.solid_plastic_strain);
    release(s.solid_plastic_strain_rate);
    release(s.solid_temperature);
    release(s.solid_damage);
    release(s.solid_softening);
    release(s.solid_internal_energy);
    release(s.solid_reference_volume);
    release(s.solid_deformation_gradient);
    release(s.solid_correction_matrix);
    release(s.solid_correction_determinant);
    release(s.solid_velocity_gradient);
    release(s.solid_strain_rate);
    release(s.solid_strain_rate_eq);
    release(s.solid_acc_internal);
    release(s.solid_reference_neighbor_count);
    release(s.solid_reference_degenerate);
    release(s.solid_correction_status);
    release(s.solid_failure_status);
    release(s.reference_offset);
    release(s.reference_neighbors);
}

bool sph_solid_is_active_particle(const DbState& db, int i) {
    return i >= 0 && i < db.npart && db.particle_phase[i] == sph_phase_solid &&
           db.particle_status[i] == sph_status_active;
}

bool sph_solid_claimed_by_fluid(const Model& m, int i) {
    const DbState& db = m.db;
    if (i < 0 || i >= db.npart || db.particle_phase[i] != sph_phase_solid) return false;
    return (m.water.water_material_seen && sph_water_is_material_particle(db, i)) ||
           (m.gas.gas_material_seen && sph_gas_is_material_particle(db, i));
}

int sph_solid_slot_of_material(const SolidState& solid, int material_index) {
    for (std::size_t k = 0; k < solid.slots.size(); ++k) {
        if (solid.slots[k].solid_material_ids == material_index) return static_cast<int>(k) + 1;
    }
    return 0;
}

// ---------------------------------------------------------------------------
// Deck receivers

void sph_solid_note_material(Model& m, std::string_view name, std::string_view material_type) {
    if (!sph_text_contains_upper(material_type, "SOLID")) return;
    m.solid.solid_material_seen = true;
    int slot = 0;
    (void)prepare_material(m, name, slot);  // a full table or unknown name registers nothing
}

int sph_solid_set_elastic(Model& m, std::string_view material_name, double e_value,
                          double nu_value) {
    if (!setter_finite(e_value) || !setter_finite(nu_value)) {
        return fail(m, sph_error_argument, "Solid elastic parameter is not finite");
    }
    if (e_value <= 0.0)
        return fail(m, sph_error_argument, "Solid elastic modulus must be positive");
    if (nu_value >= 0.5 || nu_value <= -1.0) {
        return fail(m, sph_error_argument, "Solid Poisson ratio is invalid");
    }
    int slot = 0;
    if (const int st = prepare_material(m, material_name, slot)) return st;
    SolidMaterialSlot& s = slot_ref(m.solid, slot);
    s.solid_elastic_defined = true;
    s.solid_elastic_e = e_value;
    s.solid_elastic_nu = nu_value;
    return sph_success;
}

int sph_solid_set_johnson_cook(Model& m, std::string_view material_name,
                               const SolidJohnsonCook& jc) {
    for (double v : {jc.a, jc.b, jc.n, jc.c, jc.m, jc.epsdot0, jc.troom, jc.tmelt}) {
        if (!setter_finite(v)) {
            return fail(m, sph_error_argument, "Solid Johnson-Cook flow parameter is not finite");
        }
    }
    if (jc.a < 0.0 || jc.b < 0.0 || jc.n < 0.0) {
        return fail(m, sph_error_argument, "Solid Johnson-Cook strength is invalid");
    }
    if (jc.m < 0.0 || jc.c < 0.0) {
        return fail(m, sph_error_argument,
                    "Solid Johnson-Cook rate or thermal exponent is invalid");
    }
    if (jc.epsdot0 <= 0.0) {
        return fail(m, sph_error_argument,
                    "Solid Johnson-Cook reference strain rate must be positive");
    }
    if (jc.tmelt <= jc.troom) {
        return fail(m, sph_error_argument,
                    "Solid Johnson-Cook melt temperature must exceed room temperature");
    }
    int slot = 0;
    if (const int st = prepare_material(m, material_name, slot)) return st;
    SolidMaterialSlot& s = slot_ref(m.solid, slot);
    s.solid_johnson_cook_defined = true;
    s.jc = jc;
    return sph_success;
}

int sph_solid_set_failure(Model& m, std::string_view material_name,
                          const std::array<double, 5>& d_values) {
    for (double v : d_values) {
        if (!setter_finite(v)) {
            return fail(m, sph_error_argument,
                        "Solid Johnson-Cook failure parameter is not finite");
        }
    }
    int slot = 0;
    if (const int st = prepare_material(m, material_name, slot)) return st;
    SolidMaterialSlot& s = slot_ref(m.solid, slot);
    s.solid_failure_defined = true;
    s.solid_failure_d = d_values;
    return sph_success;
}

int sph_solid_set_control(Model& m, std::string_view material_name, std::string_view softening_name,
                          double width, bool has_h, double h_value, bool has_volume,
                          double volume_value) {
    std::string type = sph_text_upper(sph_text_trim(softening_name));
    if (type.empty()) type = "LINEAR";
    if (type.find("LINEAR") == std::string::npos) {
        return fail(m, sph_error_input, "Solid SOFTENING must be LINEAR");
    }
    if (!setter_finite(width))
        return fail(m, sph_error_argument, "Solid softening WIDTH is not finite");
    if (width <= 0.0) return fail(m, sph_error_argument, "Solid softening WIDTH must be positive");
    if (has_h && !(setter_finite(h_value) && h_value > 0.0)) {
        return fail(m, sph_error_argument, "Solid control H must be positive");
    }
    if (has_volume && !(setter_finite(volume_value) && volume_value > 0.0)) {
        return fail(m, sph_error_argument, "Solid control VOLUME must be positive");
    }
    int slot = 0;
    if (const int st = prepare_material(m, material_name, slot)) return st;
    SolidMaterialSlot& s = slot_ref(m.solid, slot);
    s.solid_control_defined = true;
    s.solid_softening_type = type;
    s.solid_softening_width = width;
    if (has_h) s.solid_control_h = h_value;
    if (has_volume) s.solid_control_volume = volume_value;
    return sph_success;
}

void sph_solid_set_body_force(Model& m, const Vec3& force) {
    m.solid.solid_body_force = force;
}

// ---------------------------------------------------------------------------
// Model build

int sph_solid_validate_input(Model& m) {
    if (!m.solid.solid_material_seen) return sph_success;
    const DbState& db = m.db;
    for (const SolidMaterialSlot& s : m.solid.slots) {
        if (!material_has_active_solid(m, s.solid_material_ids)) continue;
        const MaterialRecord& material =
            db.materials[static_cast<std::size_t>(s.solid_material_ids - 1)];
        if (!(material.material_density > 0.0)) {
            return fail(m, sph_error_input, "active Solid material is missing density");
        }
        if (!s.solid_elastic_defined) {
            return fail(m, sph_error_input, "active Solid material is missing elastic data");
        }
        if (s.solid_failure_defined && !s.solid_johnson_cook_defined) {
            return fail(m, sph_error_input, "Solid failure requires Johnson-Cook flow data");
        }
    }
    for (int i = 0; i < db.npart; ++i) {
        if (!sph_solid_is_active_particle(db, i) || sph_solid_claimed_by_fluid(m, i)) continue;
        const int sec = db.section_id[i];
        if (sec < 1 || sec > static_cast<int>(db.sections.size())) {
            return fail(m, sph_error_input, "active Solid particle is missing Solid section");
        }
        const SectionRecord& section = db.sections[static_cast<std::size_t>(sec - 1)];
        if (!sph_text_contains_upper(section.section_type, "SOLID")) {
            return fail(m, sph_error_input, "active Solid particle is not bound to Solid section");
        }
        if (section.section_material_id != db.material_id[i]) {
            return fail(m, sph_error_input, "active Solid particle section material mismatch");
        }
    }
    return sph_success;
}

int sph_solid_update_derived_constants(Model& m) {
    const DbState& db = m.db;
    for (SolidMaterialSlot& s : m.solid.slots) {
        s.solid_density = 0.0;
        s.solid_shear_modulus = 0.0;
        s.solid_bulk_modulus = 0.0;
        s.solid_wave_speed = 0.0;
        s.solid_temperature_rise_factor = 0.0;
    }
    for (SolidMaterialSlot& s : m.solid.slots) {
        const int mat = s.solid_material_ids;
        if (mat < 1 || mat > static_cast<int>(db.materials.size())) {
            return fail(m, sph_error_input, "Solid material table is invalid");
        }
        s.solid_density = db.materials[static_cast<std::size_t>(mat - 1)].material_density;
        if (s.solid_elastic_defined && s.solid_density > 0.0) {
            if (const int st = sph_solid_elastic_constants(
                    m.error, s.solid_elastic_e, s.solid_elastic_nu, s.solid_density,
                    s.solid_shear_modulus, s.solid_bulk_modulus, s.solid_wave_speed)) {
                return st;
            }
        }
    }
    return sph_success;
}

int sph_solid_allocate_state(Model& m) {
    SolidState& s = m.solid;
    const int npart = m.db.npart;
    if (npart < 1) {
        sph_solid_release_state(s);
        return sph_success;
    }
    const std::size_t n = static_cast<std::size_t>(npart);
    if (s.solid_stress.size() == n) return sph_success;
    sph_solid_release_state(s);
    try {
        s.solid_stress.assign(n, SolidTensor{});
        s.solid_effective_stress.assign(n, SolidTensor{});
        s.solid_strain.assign(n, SolidTensor{});
        s.solid_plastic_strain.assign(n, 0.0);
        s.solid_plastic_strain_rate.assign(n, 0.0);
        s.solid_temperature.assign(n, 0.0);
        s.solid_damage.assign(n, 0.0);
        s.solid_softening.assign(n, 0.0);
        s.solid_internal_energy.assign(n, 0.0);
        s.solid_reference_volume.assign(n, 0.0);
        s.solid_deformation_gradient.assign(n, SolidMatrix{});
        s.solid_correction_matrix.assign(n, SolidMatrix{});
        s.solid_correction_determinant.assign(n, 0.0);
        s.solid_velocity_gradient.assign(n, SolidMatrix{});
        s.solid_strain_rate.assign(n, SolidTensor{});
        s.solid_strain_rate_eq.assign(n, 0.0);
        s.solid_acc_internal.assign(n, Vec3{});
        s.solid_reference_neighbor_count.assign(n, 0);
        s.solid_reference_degenerate.assign(n, 0);
        s.solid_correction_status.assign(n, 0);
        s.solid_failure_status.assign(n, 0);
    } catch (const std::exception&) {
        sph_solid_release_state(s);
        return fail(m, sph_error_input, "failed to allocate Solid state");
    }
    return sph_success;
}

int sph_solid_build_state(Model& m) {
    SolidState& s = m.solid;
    if (!s.solid_material_seen) {
        sph_solid_release_state(s);
        return sph_success;
    }
    if (const int st = sph_solid_validate_input(m)) return st;
    if (const int st = sph_solid_update_derived_constants(m)) return st;
    // A fresh state every build: the arrays are allocated and cleared.
    sph_solid_release_state(s);
    if (const int st = sph_solid_allocate_state(m)) return st;
    return initialize_particles(m);
}

int sph_solid_count_unbound_materials(const Model& m) {
    int count = 0;
    for (const SolidMaterialSlot& s : m.solid.slots) {
        if (!material_has_active_solid(m, s.solid_material_ids)) ++count;
    }
    return count;
}

// ---------------------------------------------------------------------------
// Per particle

int sph_solid_update_particle_material(Model& m, int index, const SolidTensor& strain_inc,
                                       double dt) {
    DbState& db = m.db;
    SolidState& solid = m.solid;
    if (index < 0 || index >= db.npart) {
        return fail(m, sph_error_argument, "Solid particle index is out of range");
    }
    if (solid.solid_stress.size() != static_cast<std::size_t>(db.npart)) {
        return fail(m, sph_error_input, "Solid state is not allocated");
    }
    if (!sph_solid_is_active_particle(db, index)) return sph_success;
    const int slot = sph_solid_slot_of_material(solid, db.material_id[index]);
    if (slot == 0) return fail(m, sph_error_input, "Solid particle material has no state");
    const SolidMaterialSlot& s = slot_ref(solid, slot);
    const std::size_t k = static_cast<std::size_t>(index);

    // The material law acts on the undamaged stress; the acting stress is it
    // times the softening, applied once.
    const SolidTensor& effective_old = solid.solid_effective_stress[k];
    SolidReturnResult r;
    r.ep = std::max(solid.solid_plastic_strain[k], 0.0);
    r.temp = solid.solid_temperature[k];
    if (s.solid_johnson_cook_defined) {
        if (const int st = sph_solid_jc_return_mapping(
                m.error, effective_old, strain_inc, s.solid_shear_modulus, s.solid_bulk_modulus, dt,
                s.jc, solid.solid_temperature[k], solid.solid_plastic_strain[k],
                s.solid_temperature_rise_factor, r)) {
            return st;
        }
    } else {
        if (const int st =
                sph_solid_elastic_trial(m.error, effective_old, strain_inc, s.solid_shear_modulus,
                                        s.solid_bulk_modulus, r.stress)) {
            return st;
        }
        r.ep = solid.solid_plastic_strain[k];
        r.ep_rate = 0.0;
    }
    const double softening_old = solid.solid_softening[k];
    const double density = db.rho[index] > 0.0 ? db.rho[index] : s.solid_density;
    SolidTensor acting_new_before_damage;
    for (int c = 0; c < 6; ++c) acting_new_before_damage[c] = r.stress[c] * softening_old;
    double de = 0.0;
    if (const int st = sph_solid_internal_energy_increment(
            m.error, solid.solid_stress[k], acting_new_before_damage, strain_inc, density, de)) {
        return st;
    }
    double damage = solid.solid_damage[k];
    double softening = softening_old;
    int failure_status = 0;
    if (r.plastic_delta > 0.0 && s.solid_failure_defined) {
        const double q = sph_solid_von_mises(r.stress);
        const double eta = q > 0.0 ? sph_solid_mean_stress(r.stress) / q : 0.0;
        double tstar = 0.0;
        if (const int st =
                sph_solid_jc_temperature_star(m.error, r.temp, s.jc.troom, s.jc.tmelt, tstar)) {
            return st;
        }
        // A fit such as 4340's (D1 < 0) gives a failure strain of zero or
        // below at high triaxiality: the material has no strain left there,
        // so the particle fails, where stopping the run would make the
        // published constants unusable.
        const double eps_f = sph_solid_jc_failure_strain_value(s.solid_failure_d, eta, r.ep_rate,
                                                               s.jc.epsdot0, tstar);
        if (!(eps_f > 0.0)) {
            damage = 1.0;
            failure_status = sph_solid_failed;
        } else if (const int st =
                       sph_solid_damage_update(m.error, solid.solid_damage[k], r.plastic_delta,
                                               eps_f, damage, failure_status)) {
            return st;
        }
        const double width = s.solid_softening_width > 0.0 ? s.solid_softening_width : 1.0;
        if (const int st = sph_solid_linear_softening(m.error, damage, width, softening)) {
            return st;
        }
    }
    // Every kernel succeeded: commit.
    solid.solid_damage[k] = damage;
    solid.solid_softening[k] = softening;
    if (failure_status == sph_solid_failed) {
        if (const int st = sph_solid_mark_particle_failed(m, index)) return st;
    }
    solid.solid_effective_stress[k] = r.stress;
    for (int c = 0; c < 6; ++c) solid.solid_stress[k][c] = r.stress[c] * solid.solid_softening[k];
    for (int c = 0; c < 6; ++c) solid.solid_strain[k][c] += strain_inc[c];
    solid.solid_plastic_strain[k] = r.ep;
    solid.solid_plastic_strain_rate[k] = r.ep_rate;
    solid.solid_temperature[k] = r.temp;
    solid.solid_internal_energy[k] += de;
    return sph_success;
}

int sph_solid_mark_particle_failed(Model& m, int index) {
    DbState& db = m.db;
    SolidState& solid = m.solid;
    if (index < 0 || index >= db.npart) {
        return fail(m, sph_error_argument, "Solid failed particle index is out of range");
    }
    if (solid.solid_failure_status.size() != static_cast<std::size_t>(db.npart)) {
        return fail(m, sph_error_input, "Solid failure state is not allocated");
    }
    const std::size_t k = static_cast<std::size_t>(index);
    solid.solid_failure_status[k] = sph_solid_failed;
    solid.solid_damage[k] = 1.0;
    solid.solid_softening[k] = 0.0;
    db.particle_status[index] = sph_status_failed;
    db.particle_phase[index] = sph_phase_solid_failed;
    return sph_success;
}
