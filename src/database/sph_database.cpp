#include "database/sph_database.hpp"

#include <algorithm>
#include <cmath>
#include <new>
#include <stdexcept>

#include "core/sph_model.hpp"
#include "core/sph_text.hpp"

namespace {

// Gives the memory back (clear() alone keeps the capacity).
template <class T>
void release(std::vector<T>& values) {
    std::vector<T>().swap(values);
}

void invalidate_node_lookup(DbState& db) {
    db.node_lookup_valid = false;
    release(db.node_lookup);
}

void invalidate_element_lookup(DbState& db) {
    db.element_lookup_valid = false;
    release(db.element_lookup);
}

}  // namespace

// ---------------------------------------------------------------------------
// Storage

void sph_db_clear_water_diagnostics(DbState& db) {
    db.water = WaterDiagnostics{};
}

void sph_db_clear_gas_diagnostics(DbState& db) {
    db.gas = GasDiagnostics{};
}

void sph_db_clear_solid_diagnostics(DbState& db) {
    db.solid = SolidDiagnostics{};
}

void sph_db_clear_metadata(DbState& db) {
    release(db.materials);
    release(db.sections);
    release(db.nsets);
    release(db.elsets);
    release(db.elements);
    release(db.coupling_regions);
    db.coupling_region_disabled_count = 0;
    db.tamrix = TamrixOptions{};
    invalidate_element_lookup(db);
}

void sph_db_free(DbState& db) {
    release(db.particle_id_ext);
    release(db.particle_phase);
    release(db.particle_status);
    release(db.material_id);
    release(db.section_id);
    release(db.x0);
    release(db.x);
    release(db.v);
    release(db.a);
    release(db.vhalf);
    release(db.mass);
    release(db.rho);
    release(db.volume);
    release(db.pressure);
    release(db.internal_energy);
    release(db.temperature);
    release(db.h);
    release(db.drho_dt);
    release(db.acc_pressure);
    release(db.acc_viscosity);
    release(db.acc_body);
    release(db.particle_cell_id);
    release(db.cell_next);
    release(db.neighbor_count);
    release(db.neighbor_offset);
    release(db.cell_head);
    release(db.neighbor_list);
    db.npart = 0;
    invalidate_node_lookup(db);
    sph_db_clear_metadata(db);
    sph_db_clear_water_diagnostics(db);
    sph_db_clear_gas_diagnostics(db);
    sph_db_clear_solid_diagnostics(db);
}

void sph_db_initialize_defaults(DbState& db) {
    const std::size_t n = static_cast<std::size_t>(db.npart);
    for (std::size_t i = 0; i < n; ++i) db.particle_id_ext[i] = static_cast<int>(i) + 1;
    std::fill_n(db.particle_phase.begin(), n, sph_phase_solid);
    std::fill_n(db.particle_status.begin(), n, sph_status_active);
    std::fill_n(db.material_id.begin(), n, 1);
    std::fill_n(db.section_id.begin(), n, 0);
    std::fill_n(db.x0.begin(), n, Vec3{});
    std::fill_n(db.x.begin(), n, Vec3{});
    std::fill_n(db.v.begin(), n, Vec3{});
    std::fill_n(db.a.begin(), n, Vec3{});
    std::fill_n(db.vhalf.begin(), n, Vec3{});
    std::fill_n(db.mass.begin(), n, 1.0);
    std::fill_n(db.rho.begin(), n, 1000.0);
    std::fill_n(db.volume.begin(), n, 1.0);
    std::fill_n(db.pressure.begin(), n, 0.0);
    std::fill_n(db.internal_energy.begin(), n, 0.0);
    std::fill_n(db.temperature.begin(), n, 293.15);
    std::fill_n(db.h.begin(), n, 1.0);
    std::fill_n(db.drho_dt.begin(), n, 0.0);
    std::fill_n(db.acc_pressure.begin(), n, Vec3{});
    std::fill_n(db.acc_viscosity.begin(), n, Vec3{});
    std::fill_n(db.acc_body.begin(), n, Vec3{});
    std::fill_n(db.particle_cell_id.begin(), n, 0);
    std::fill_n(db.cell_next.begin(), n, 0);
    std::fill_n(db.neighbor_count.begin(), n, 0);
    std::fill_n(db.neighbor_offset.begin(), n, 0);
    invalidate_node_lookup(db);
    sph_db_clear_water_diagnostics(db);
    sph_db_clear_gas_diagnostics(db);
    sph_db_clear_solid_diagnostics(db);
}

int sph_db_allocate(Model& m, int count) {
    DbState& db = m.db;
    if (count < 0) {
        return sph_error_set(m.error, sph_error_argument, "particle count must be non-negative");
    }
    sph_db_free(db);
    db.npart = count;
    if (count == 0) return sph_success;
    const std::size_t n = static_cast<std::size_t>(count);
    try {
        db.particle_id_ext.resize(n);
        db.particle_phase.resize(n);
        db.particle_status.resize(n);
        db.material_id.resize(n);
        db.section_id.resize(n);
        db.x0.resize(n);
        db.x.resize(n);
        db.v.resize(n);
        db.a.resize(n);
        db.vhalf.resize(n);
        db.mass.resize(n);
        db.rho.resize(n);
        db.volume.resize(n);
        db.pressure.resize(n);
        db.internal_energy.resize(n);
        db.temperature.resize(n);
        db.h.resize(n);
        db.drho_dt.resize(n);
        db.acc_pressure.resize(n);
        db.acc_viscosity.resize(n);
        db.acc_body.resize(n);
        db.particle_cell_id.resize(n);
        db.cell_next.resize(n);
        db.neighbor_count.resize(n);
        db.neighbor_offset.resize(n);
    } catch (const std::bad_alloc&) {
        sph_db_free(db);
        return sph_error_set(m.error, sph_error_database, "failed to allocate particle database");
    } catch (const std::length_error&) {
        sph_db_free(db);
        return sph_error_set(m.error, sph_error_database, "failed to allocate particle database");
    }
    sph_db_initialize_defaults(db);
    return sph_success;
}

int sph_db_allocate_neighbor_storage(Model& m, int64_t max_links, int64_t num_cells) {
    DbState& db = m.db;
    if (max_links < 0 || num_cells < 0) {
        return sph_error_set(m.error, sph_error_argument,
                             "neighbor storage sizes must be non-negative");
    }
    release(db.neighbor_list);
    release(db.cell_head);
    try {
        db.neighbor_list.resize(static_cast<std::size_t>(max_links));
        db.cell_head.resize(static_cast<std::size_t>(num_cells));
    } catch (const std::bad_alloc&) {
        release(db.neighbor_list);
        release(db.cell_head);
        return sph_error_set(m.error, sph_error_database, "failed to allocate neighbor storage");
    } catch (const std::length_error&) {
        release(db.neighbor_list);
        release(db.cell_head);
        return sph_error_set(m.error, sph_error_database, "failed to allocate neighbor storage");
    }
    return sph_success;
}

// ---------------------------------------------------------------------------
// Queries

int sph_db_get_particle_count(const DbState& db) {
    return db.npart;
}

int sph_db_get_particle_state(Model& m, int max_particles, int* particle_id_ext_out, int* phase_out,
                              int* status_out, int* material_id_out, int* section_id_out,
                              double* x_out, double* v_out, double* a_out, double* rho_out,
                              double* pressure_out, double* internal_energy_out,
                              double* temperature_out, double* h_out, int& count) {
    const DbState& db = m.db;
    count = db.npart;
    if (max_particles < db.npart) {
        return sph_error_set(m.error, sph_error_argument, "particle state buffer is too small");
    }
    for (int i = 0; i < db.npart; ++i) {
        const std::size_t k = static_cast<std::size_t>(i);
        particle_id_ext_out[k] = db.particle_id_ext[k];
        phase_out[k] = db.particle_phase[k];
        status_out[k] = db.particle_status[k];
        material_id_out[k] = db.material_id[k];
        section_id_out[k] = db.section_id[k];
        for (int c = 0; c < 3; ++c) {
            x_out[3 * k + c] = db.x[k][c];
            v_out[3 * k + c] = db.v[k][c];
            a_out[3 * k + c] = db.a[k][c];
        }
        rho_out[k] = db.rho[k];
        pressure_out[k] = db.pressure[k];
        internal_energy_out[k] = db.internal_energy[k];
        temperature_out[k] = db.temperature[k];
        h_out[k] = db.h[k];
    }
    return sph_success;
}
