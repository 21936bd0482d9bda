#pragma once
// Neighbor search on a uniform grid of cubic cells whose edge is the largest
// kernel support (2h). Results live in the database arrays:
//   neighbor_list[neighbor_offset[i] .. neighbor_offset[i] + neighbor_count[i])
// holds the 0-based indices of particle i's neighbors. Runs are laid out in
// particle index order; within a run, neighbors come by cell in z-y-x visiting
// order (z outermost, offsets -1, 0, 1 on each axis) and, within a cell, by
// decreasing particle index. A pair is a link unless |x_i - x_j| > 2 max(h_i, h_j),
// so a pair at exactly that distance and a pair at NaN distance are links.
//
// Cells are numbered from 0: cell (ix, iy, iz), each coordinate counted from 0,
// has index ix + nx (iy + ny iz). Counts and indices of cells and links are
// 64-bit. The grid is never stored densely: particles are sorted by cell, so
// memory follows the particles and links, not the size of the box.

#include <cstddef>
#include <cstdint>
#include <vector>

#include "core/sph_large_vector.hpp"
#include "core/sph_vec3.hpp"

struct Model;

// Working storage of a rebuild, kept between rebuilds so that a rebuild does
// not allocate once the model's size is stable.
struct NeighborScratch {
    // Particles sorted by cell (ascending) and, within a cell, by decreasing
    // index. `sorted` holds six arrays of lane_stride entries in that order:
    // x, y, z, two bounds on the squared distance that decide most links
    // without a square root, and 2h.
    std::vector<int> order;  // padded by a few entries for the vector scan
    std::vector<double> sorted;
    std::size_t lane_stride = 0;
    bool uniform_support = false;  // every particle has the same h
    // Occupied cells, ascending: cell index and first sorted position
    // (cell_begin has one more entry, the particle count).
    std::vector<int64_t> cell_key;
    std::vector<int> cell_begin;
    // Dense grids: first sorted position of every cell (num_cells + 1 entries).
    std::vector<int> cell_start;
    // Sparse grids: radix sort buffers.
    std::vector<int64_t> sort_key, sort_key_tmp;
    std::vector<int> sort_index_tmp;
    std::vector<int> radix_count;
    // Each pair once: for every sorted position its forward run (the linked
    // particles at later sorted positions), forward_count entries long.
    SphLargeVector<int> links;
    std::vector<int> forward_count;
};

struct NeighborState {
    Vec3 neighbor_min_corner;
    Vec3 neighbor_max_corner;
    double neighbor_cell_size = 0.0;
    int64_t neighbor_cell_dims[3] = {0, 0, 0};
    int64_t neighbor_num_cells = 0;
    int64_t neighbor_total_links = 0;
    // The link scan uses AVX2 where the processor has it (same results bit for
    // bit); tests turn it off to check the portable scan.
    bool allow_vector_scan = true;
    // Bytes of link storage a rebuild may hold: 12 per pair (the forward run
    // entry, 4, and both directions in neighbor_list, 8). A rebuild whose links
    // need more fails with "failed to allocate neighbor storage" as soon as its
    // pairs pass the budget, and its buffers never grow past it, so a model
    // with far too many links (coincident or blown-up particles) fails
    // promptly instead of swapping until the system kills the process. 0 (or negative):
    // half of the machine's physical memory. Tests set small budgets.
    int64_t link_memory_limit = 0;
    NeighborScratch scratch;
};

// Rebuild with storage that grows with the links found, up to the state's
// link_memory_limit.
[[nodiscard]] int sph_neighbor_rebuild(Model& m);
// Rebuild that fails with "neighbor table capacity is too small" when the
// links exceed max_links (and, as above, when they exceed link_memory_limit).
[[nodiscard]] int sph_neighbor_rebuild_with_capacity(Model& m, int64_t max_links);
void sph_neighbor_get_stats(const Model& m, int& max_neighbors, double& average_neighbors);
// Releases the rebuild's working storage (the results stay in the database).
void sph_neighbor_free(NeighborState& state);

// Internal steps, exposed for tests.
// 0-based grid coordinate of `value` on an axis of `dim` cells: truncated
// offset from the lower corner in cells, clamped into 0..dim-1 (NaN gives 0).
int64_t sph_neighbor_cell_coord(double value, double min_corner, double cell_size, int64_t dim);
void sph_neighbor_decode_cell(const NeighborState& state, int64_t cell, int64_t& ix, int64_t& iy,
                              int64_t& iz);
