#pragma once
// Bytes a model holds, as the benchmarks report them per particle: the
// particle arrays, the neighbor lists and the neighbor search's workspace;
// each benchmark adds the arrays of its own module.

#include <vector>

#include "core/sph_model.hpp"

template <class T, class Alloc>
double held(const std::vector<T, Alloc>& v) {
    return static_cast<double>(v.capacity() * sizeof(T));
}

inline double particle_and_neighbor_bytes(const Model& m) {
    const DbState& db = m.db;
    const NeighborScratch& ns = m.neighbor.scratch;
    return held(db.particle_id_ext) + held(db.particle_phase) + held(db.particle_status) +
           held(db.material_id) + held(db.section_id) + held(db.x0) + held(db.x) + held(db.v) +
           held(db.a) + held(db.vhalf) + held(db.mass) + held(db.rho) + held(db.volume) +
           held(db.pressure) + held(db.internal_energy) + held(db.temperature) + held(db.h) +
           held(db.drho_dt) + held(db.acc_pressure) + held(db.acc_viscosity) + held(db.acc_body) +
           held(db.particle_cell_id) + held(db.cell_next) + held(db.neighbor_count) +
           held(db.neighbor_offset) + held(db.cell_head) + held(db.neighbor_list) + held(ns.order) +
           held(ns.sorted) + held(ns.cell_key) + held(ns.cell_begin) + held(ns.cell_start) +
           held(ns.sort_key) + held(ns.sort_key_tmp) + held(ns.sort_index_tmp) +
           held(ns.radix_count) + held(ns.links) + held(ns.forward_count);
}
