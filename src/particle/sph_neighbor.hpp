#pragma once
// Neighbor search on a uniform grid of cubic cells; results live in the
// database arrays (neighbor_list, neighbor_offset, neighbor_count, ...).

#include <cstdint>

#include "core/sph_vec3.hpp"

struct Model;

struct NeighborState {
    Vec3 neighbor_min_corner;
    Vec3 neighbor_max_corner;
    double neighbor_cell_size = 0.0;
    int64_t neighbor_cell_dims[3] = {0, 0, 0};
    int64_t neighbor_num_cells = 0;
    int64_t neighbor_total_links = 0;
};

// Rebuild with storage that grows with the links found.
[[nodiscard]] int sph_neighbor_rebuild(Model& m);
// Rebuild that fails with "neighbor table capacity is too small" when the
// links exceed max_links.
[[nodiscard]] int sph_neighbor_rebuild_with_capacity(Model& m, int64_t max_links);
void sph_neighbor_get_stats(const Model& m, int& max_neighbors, double& average_neighbors);
