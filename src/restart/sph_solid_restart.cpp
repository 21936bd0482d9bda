// The solid section of the restart file: material table, diagnostics and the
// per-particle solid state.

#include <cstring>

#include "core/sph_model.hpp"
#include "restart/sph_restart.hpp"
#include "restart/sph_restart_io.hpp"

namespace {

bool same_bits(const SolidTensor& a, const SolidTensor& b) {
    return std::memcmp(a.data(), b.data(), sizeof(SolidTensor)) == 0;
}

}  // namespace

void sph_solid_restart_write(Model& m, RestartWriter& w) {
    const SolidState& s = m.solid;
    w.record(s.solid_material_seen, static_cast<int>(s.slots.size()));
    for (const SolidMaterialSlot& k : s.slots) {
        w.put(k.solid_material_ids)
            .put_name(k.solid_material_names)
            .put(k.solid_elastic_defined)
            .put(k.solid_johnson_cook_defined)
            .put(k.solid_failure_defined)
            .put(k.solid_control_defined)
            .end();
        w.record(k.solid_elastic_e, k.solid_elastic_nu);
        w.record(k.jc.a, k.jc.b, k.jc.n, k.jc.c, k.jc.m, k.jc.epsdot0, k.jc.troom, k.jc.tmelt);
        w.record(k.solid_failure_d);
        w.put_name(k.solid_softening_type.empty() ? std::string_view("NONE")
                                                  : std::string_view(k.solid_softening_type))
            .put(k.solid_softening_width)
            .end();
        w.record(k.solid_density, k.solid_shear_modulus, k.solid_bulk_modulus, k.solid_wave_speed,
                 k.solid_temperature_rise_factor);
    }
    w.record(s.solid_body_force);
    const SolidDiagnostics& d = m.db.solid;
    w.record(d.solid_particle_count, d.solid_failed_count, d.solid_mass);
    w.record(d.solid_momentum, d.solid_kinetic_energy, d.solid_internal_energy_total,
             d.solid_max_von_mises);
    w.record(d.solid_min_plastic_strain, d.solid_max_plastic_strain, d.solid_min_damage,
             d.solid_max_damage, d.solid_min_softening, d.solid_max_softening);
    w.record(d.solid_dt_cfl, d.solid_dt_accel, d.solid_dtcrit);
    w.record(d.solid_reference_neighbor_min, d.solid_correction_det_min,
             d.solid_correction_status_max);
    w.record(d.solid_max_strain_rate, d.solid_max_acceleration, d.solid_internal_force_residual);
    const int npart = m.db.npart;
    const bool held = npart > 0 && s.solid_stress.size() == static_cast<std::size_t>(npart);
    w.record(held);
    if (!held) return;
    for (int i = 0; i < npart; ++i) {
        w.record(s.solid_stress[i]);
        w.record(s.solid_strain[i]);
        w.record(s.solid_plastic_strain[i], s.solid_plastic_strain_rate[i], s.solid_temperature[i],
                 s.solid_damage[i], s.solid_softening[i], s.solid_internal_energy[i],
                 s.solid_reference_volume[i], s.solid_failure_status[i]);
        w.record(s.solid_deformation_gradient[i]);
        w.record(s.solid_correction_matrix[i]);
        w.record(s.solid_correction_determinant[i], s.solid_strain_rate_eq[i],
                 s.solid_reference_neighbor_count[i], s.solid_reference_degenerate[i],
                 s.solid_correction_status[i]);
        w.record(s.solid_velocity_gradient[i]);
        w.record(s.solid_strain_rate[i]);
        // The material law carries the undamaged stress; once softening has
        // acted it is no longer the written stress, and dividing by the
        // softening would not give it back bit for bit. It follows the
        // internal acceleration in the same record, where a reader that
        // does not know it ignores it.
        w.put(s.solid_acc_internal[i]);
        if (!same_bits(s.solid_effective_stress[i], s.solid_stress[i])) {
            w.put(s.solid_effective_stress[i]);
        }
        w.end();
    }
}

void sph_solid_restart_clear(Model& m) {
    sph_solid_clear_material_table(m.solid);
    m.solid.solid_material_seen = false;
    sph_solid_release_state(m.solid);
}

void sph_solid_restart_seed_051_defaults(Model& m) {
    SolidDiagnostics& d = m.db.solid;
    d.solid_reference_neighbor_min = 0;
    d.solid_correction_det_min = 0.0;
    d.solid_correction_status_max = 0;
    d.solid_max_strain_rate = 0.0;
    d.solid_max_acceleration = 0.0;
    d.solid_internal_force_residual = 0.0;
    SolidState& s = m.solid;
    std::fill(s.solid_correction_determinant.begin(), s.solid_correction_determinant.end(), 0.0);
    std::fill(s.solid_velocity_gradient.begin(), s.solid_velocity_gradient.end(), SolidMatrix{});
    std::fill(s.solid_strain_rate.begin(), s.solid_strain_rate.end(), SolidTensor{});
    std::fill(s.solid_strain_rate_eq.begin(), s.solid_strain_rate_eq.end(), 0.0);
    std::fill(s.solid_reference_neighbor_count.begin(), s.solid_reference_neighbor_count.end(), 0);
    std::fill(s.solid_reference_degenerate.begin(), s.solid_reference_degenerate.end(), 0);
    std::fill(s.solid_correction_status.begin(), s.solid_correction_status.end(), 0);
}

bool sph_solid_restart_read(Model& m, RestartLineSource& in, RestartLayout layout) {
    const bool full = static_cast<int>(layout) >= static_cast<int>(RestartLayout::state_0_5_1);
    SolidState& s = m.solid;
    sph_solid_clear_material_table(s);
    RestartRecord r;
    int count = 0;
    if (!sph_restart_read_record(in, r, s.solid_material_seen, count)) return false;
    if (count < 0 || count > sph_solid_max_materials) return false;
    s.slots.resize(static_cast<std::size_t>(count));
    for (SolidMaterialSlot& k : s.slots) {
        if (!sph_restart_read_record(in, r, k.solid_material_ids, k.solid_material_names,
                                     k.solid_elastic_defined, k.solid_johnson_cook_defined,
                                     k.solid_failure_defined, k.solid_control_defined) ||
            !sph_restart_read_record(in, r, k.solid_elastic_e, k.solid_elastic_nu) ||
            !sph_restart_read_record(in, r, k.jc.a, k.jc.b, k.jc.n, k.jc.c, k.jc.m, k.jc.epsdot0,
                                     k.jc.troom, k.jc.tmelt) ||
            !sph_restart_read_record(in, r, k.solid_failure_d) ||
            !sph_restart_read_record(in, r, k.solid_softening_type, k.solid_softening_width) ||
            !sph_restart_read_record(in, r, k.solid_density, k.solid_shear_modulus,
                                     k.solid_bulk_modulus, k.solid_wave_speed,
                                     k.solid_temperature_rise_factor)) {
            return false;
        }
    }
    SolidDiagnostics& d = m.db.solid;
    if (!sph_restart_read_record(in, r, s.solid_body_force) ||
        !sph_restart_read_record(in, r, d.solid_particle_count, d.solid_failed_count,
                                 d.solid_mass) ||
        !sph_restart_read_record(in, r, d.solid_momentum, d.solid_kinetic_energy,
                                 d.solid_internal_energy_total, d.solid_max_von_mises) ||
        !sph_restart_read_record(in, r, d.solid_min_plastic_strain, d.solid_max_plastic_strain,
                                 d.solid_min_damage, d.solid_max_damage, d.solid_min_softening,
                                 d.solid_max_softening) ||
        !sph_restart_read_record(in, r, d.solid_dt_cfl, d.solid_dt_accel, d.solid_dtcrit)) {
        return false;
    }
    sph_solid_restart_seed_051_defaults(m);
    if (full) {
        if (!sph_restart_read_record(in, r, d.solid_reference_neighbor_min,
                                     d.solid_correction_det_min, d.solid_correction_status_max) ||
            !sph_restart_read_record(in, r, d.solid_max_strain_rate, d.solid_max_acceleration,
                                     d.solid_internal_force_residual)) {
            return false;
        }
    }
    bool held = false;
    if (!sph_restart_read_record(in, r, held)) return false;
    if (!held) {
        sph_solid_release_state(s);
        return true;
    }
    if (sph_solid_allocate_state(m) != sph_success) return false;
    const int npart = m.db.npart;
    if (s.solid_stress.size() != static_cast<std::size_t>(npart)) return npart == 0;
    for (int i = 0; i < npart; ++i) {
        if (!sph_restart_read_record(in, r, s.solid_stress[i]) ||
            !sph_restart_read_record(in, r, s.solid_strain[i]) ||
            !sph_restart_read_record(in, r, s.solid_plastic_strain[i],
                                     s.solid_plastic_strain_rate[i], s.solid_temperature[i],
                                     s.solid_damage[i], s.solid_softening[i],
                                     s.solid_internal_energy[i], s.solid_reference_volume[i],
                                     s.solid_failure_status[i]) ||
            !sph_restart_read_record(in, r, s.solid_deformation_gradient[i]) ||
            !sph_restart_read_record(in, r, s.solid_correction_matrix[i])) {
            return false;
        }
        if (full) {
            if (!sph_restart_read_record(
                    in, r, s.solid_correction_determinant[i], s.solid_strain_rate_eq[i],
                    s.solid_reference_neighbor_count[i], s.solid_reference_degenerate[i],
                    s.solid_correction_status[i]) ||
                !sph_restart_read_record(in, r, s.solid_velocity_gradient[i]) ||
                !sph_restart_read_record(in, r, s.solid_strain_rate[i])) {
                return false;
            }
        }
        if (!sph_restart_read_record(in, r, s.solid_acc_internal[i])) return false;
        // Without the undamaged stress the record holds the acting one,
        // which is the undamaged stress while softening has not acted.
        if (r.remaining() >= 6) {
            if (!r.read(s.solid_effective_stress[i])) return false;
        } else {
            const double softening = s.solid_softening[i];
            for (int c = 0; c < 6; ++c) {
                s.solid_effective_stress[i][c] = softening > 0.0 && softening != 1.0
                                                     ? s.solid_stress[i][c] / softening
                                                     : s.solid_stress[i][c];
            }
        }
    }
    return true;
}
