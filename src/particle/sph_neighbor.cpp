#include "particle/sph_neighbor.hpp"

#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <new>
#include <stdexcept>
#include <utility>

#include "core/sph_error.hpp"
#include "core/sph_model.hpp"
#include "particle/sph_particle.hpp"

#if defined(__GNUC__) && defined(__x86_64__)
#include <immintrin.h>
#define VELUNOR_NEIGHBOR_AVX2 1
#else
#define VELUNOR_NEIGHBOR_AVX2 0
#endif

namespace {

constexpr int64_t unlimited_links = std::numeric_limits<int64_t>::max();
// Link storage per pair: its forward run entry and both directions in the list.
constexpr int64_t link_bytes_per_pair = 3 * static_cast<int64_t>(sizeof(int));
// Largest cell count of a grid: keeps every cell-index sum far inside int64.
constexpr int64_t max_grid_cells = int64_t{1} << 62;
// Grids with at most this many cells per particle (or at most dense_min_cells)
// are binned with one counting pass over all cells; larger, sparse grids with
// a radix sort on the cell index.
constexpr int64_t dense_cells_per_particle = 4;
constexpr int64_t dense_min_cells = int64_t{1} << 16;
constexpr int radix_bits = 16;
// Entries past the particle count in the sorted arrays, so that the vector
// scan may read a whole group of four at the end of a range.
constexpr std::size_t scan_padding = 4;

// The link test is !(r > s) with r = sqrt(d2) and s = 2 max(h_i, h_j). It is
// decided from the squared distance against s^2 widened by a relative 2^-40
// on either side, which is far wider than the rounding of s^2, d2 and the
// square root, so the outcome equals the test on r; only the rare pair inside
// that band (or a NaN distance) takes the square root. s^2 must be a normal
// number for the argument; smaller supports always take the exact test.
constexpr double band_lo = 1.0 - 0x1p-40;
constexpr double band_hi = 1.0 + 0x1p-40;
constexpr double min_banded_square = 0x1p-960;

struct Grid {
    Vec3 min_corner;
    Vec3 max_corner;
    double cell_size = 0.0;
    int64_t dims[3] = {0, 0, 0};
    int64_t num_cells = 0;
    bool has_nan = false;  // some particle has a NaN coordinate
};

int fail(Model& m, int code, const char* message) {
    return sph_error_set(m.error, code, message);
}

int fail_allocation(Model& m) {
    return fail(m, sph_error_database, "failed to allocate neighbor storage");
}

// Leaves an empty, consistent table behind a failed rebuild: no particle has
// neighbors, so nothing can read a run that was only partly written.
void clear_links(DbState& db, NeighborState& ns) {
    ns.neighbor_total_links = 0;
    std::fill(db.neighbor_count.begin(), db.neighbor_count.end(), 0);
    std::fill(db.neighbor_offset.begin(), db.neighbor_offset.end(), 0);
}

// Bytes of link storage a rebuild may hold (see NeighborState).
int64_t link_memory_budget(const NeighborState& ns) {
    if (ns.link_memory_limit > 0) return ns.link_memory_limit;
    const long pages = sysconf(_SC_PHYS_PAGES);
    const long page_size = sysconf(_SC_PAGE_SIZE);
    int64_t bytes = 0;
    if (pages <= 0 || page_size <= 0 || __builtin_mul_overflow(pages, page_size, &bytes)) {
        return std::numeric_limits<int64_t>::max();  // unknown: allocation failure decides
    }
    return bytes / 2;
}

// Grows a buffer whose final size is unknown (geometrically, keeping contents),
// never past `cap` entries.
template <class T>
void grow_keep(SphLargeVector<T>& v, int64_t needed, int64_t cap) {
    const auto limit = static_cast<std::size_t>(cap);
    const std::size_t want = std::min(static_cast<std::size_t>(needed), limit);
    if (v.size() >= want) return;
    sph_large_grow(v, std::min(std::max(want, v.size() + v.size() / 2), limit));
}

// Grows a buffer whose contents are about to be overwritten, never past `cap`
// entries (at least `needed`). The old block is released first, so the two
// are never held at once.
template <class T, class Alloc>
void grow_discard(std::vector<T, Alloc>& v, int64_t needed, int64_t cap) {
    const auto want = static_cast<std::size_t>(needed);
    if (v.size() >= want) return;
    const std::size_t target =
        std::max(want, std::min(v.size() + v.size() / 2, static_cast<std::size_t>(cap)));
    std::vector<T, Alloc>().swap(v);
    v.reserve(target);
    v.resize(target);
}

// Axis bounds of the current positions (NaN values skipped) and the cell size
// from the largest kernel support; the box is widened by one cell on each side.
int sph_neighbor_compute_bounds(Model& m, Grid& grid) {
    const DbState& db = m.db;
    const int n = db.npart;
    double lo[3], hi[3];
    for (int a = 0; a < 3; ++a) {
        lo[a] = std::numeric_limits<double>::infinity();
        hi[a] = -std::numeric_limits<double>::infinity();
    }
    double h_max = 0.0;
    bool has_nan = false;
    for (int i = 0; i < n; ++i) {
        const Vec3& p = db.x[i];
        // std::min(a, NaN) and std::max(a, NaN) return a: NaN values are skipped.
        lo[0] = std::min(lo[0], p.x);
        lo[1] = std::min(lo[1], p.y);
        lo[2] = std::min(lo[2], p.z);
        hi[0] = std::max(hi[0], p.x);
        hi[1] = std::max(hi[1], p.y);
        hi[2] = std::max(hi[2], p.z);
        has_nan = has_nan || std::isnan(p.x) || std::isnan(p.y) || std::isnan(p.z);
        const double h = db.h[i];
        if (!(h > 0.0)) {
            // The kernel reports its own message for a smoothing length that
            // is not positive (NaN included).
            double support = 0.0;
            return sph_kernel_support_radius(m.error, sph_kernel_default, h, support);
        }
        h_max = std::max(h_max, h);
    }
    double radius = 0.0;
    if (const int status = sph_kernel_support_radius(m.error, sph_kernel_default, h_max, radius)) {
        return status;
    }
    if (!(radius > 0.0)) {
        return fail(m, sph_error_argument, "neighbor support radius must be positive");
    }
    grid.has_nan = has_nan;
    for (int a = 0; a < 3; ++a) {
        if (!(lo[a] <= hi[a])) lo[a] = hi[a] = 0.0;  // no number on this axis
        grid.min_corner[a] = lo[a] - radius;
        grid.max_corner[a] = hi[a] + radius;
    }
    grid.cell_size = radius;
    return sph_success;
}

// Cells per axis: trunc(extent / cell size) + 1, at least 1. An infinite
// coordinate, or an extent too large for a cell count that fits 64 bits, fails
// cleanly. An infinite support puts everything in one cell.
int sph_neighbor_compute_cells(Model& m, Grid& grid) {
    int64_t total = 1;
    for (int a = 0; a < 3; ++a) {
        int64_t dim = 1;
        if (std::isfinite(grid.cell_size)) {
            const double extent = grid.max_corner[a] - grid.min_corner[a];
            const double cells = extent / grid.cell_size;
            if (!std::isfinite(extent) || !(cells < static_cast<double>(max_grid_cells))) {
                return fail(m, sph_error_argument, "neighbor grid has too many cells");
            }
            dim = static_cast<int64_t>(cells) + 1;
        }
        grid.dims[a] = dim;
        if (__builtin_mul_overflow(total, dim, &total) || total > max_grid_cells) {
            return fail(m, sph_error_argument, "neighbor grid has too many cells");
        }
    }
    grid.num_cells = total;
    return sph_success;
}

int64_t sph_neighbor_cell_index_for_particle(const Grid& grid, const Vec3& p) {
    const int64_t ix =
        sph_neighbor_cell_coord(p.x, grid.min_corner.x, grid.cell_size, grid.dims[0]);
    const int64_t iy =
        sph_neighbor_cell_coord(p.y, grid.min_corner.y, grid.cell_size, grid.dims[1]);
    const int64_t iz =
        sph_neighbor_cell_coord(p.z, grid.min_corner.z, grid.cell_size, grid.dims[2]);
    return ix + grid.dims[0] * (iy + grid.dims[1] * iz);
}

// Sorts the particles by cell, and within a cell by decreasing index, into
// scratch.order; records the occupied cells and their ranges.
void sort_by_cell(DbState& db, NeighborScratch& s, int64_t num_cells, bool dense) {
    const int n = db.npart;
    const int64_t* key = db.particle_cell_id.data();
    s.order.resize(n + scan_padding);  // the padding only feeds masked lanes
    s.cell_key.clear();
    s.cell_begin.clear();
    if (dense) {
        std::vector<int>& start = s.cell_start;
        start.assign(static_cast<std::size_t>(num_cells) + 1, 0);
        for (int i = 0; i < n; ++i) ++start[key[i] + 1];
        for (int64_t c = 0; c < num_cells; ++c) start[c + 1] += start[c];
        // Placing from the highest index down gives decreasing index per cell;
        // start[c] then holds the end of cell c, shifted back afterwards.
        for (int i = n - 1; i >= 0; --i) s.order[start[key[i]]++] = i;
        for (int64_t c = num_cells; c > 0; --c) start[c] = start[c - 1];
        start[0] = 0;
        for (int64_t c = 0; c < num_cells; ++c) {
            if (start[c + 1] > start[c]) {
                s.cell_key.push_back(c);
                s.cell_begin.push_back(start[c]);
            }
        }
    } else {
        // LSD radix sort, stable, on particles entered in decreasing index order.
        s.sort_key.resize(n);
        s.sort_key_tmp.resize(n);
        s.sort_index_tmp.resize(n + scan_padding);
        s.radix_count.assign(std::size_t{1} << radix_bits, 0);
        for (int k = 0; k < n; ++k) {
            s.order[k] = n - 1 - k;
            s.sort_key[k] = key[n - 1 - k];
        }
        int bits = 0;
        while (bits < 63 && (int64_t{1} << bits) < num_cells) ++bits;
        const uint64_t mask = (uint64_t{1} << radix_bits) - 1;
        for (int shift = 0; shift < bits; shift += radix_bits) {
            std::fill(s.radix_count.begin(), s.radix_count.end(), 0);
            for (int k = 0; k < n; ++k) {
                ++s.radix_count[(static_cast<uint64_t>(s.sort_key[k]) >> shift) & mask];
            }
            int sum = 0;
            for (int& c : s.radix_count) {
                const int count = c;
                c = sum;
                sum += count;
            }
            for (int k = 0; k < n; ++k) {
                const int pos =
                    s.radix_count[(static_cast<uint64_t>(s.sort_key[k]) >> shift) & mask]++;
                s.sort_key_tmp[pos] = s.sort_key[k];
                s.sort_index_tmp[pos] = s.order[k];
            }
            std::swap(s.sort_key, s.sort_key_tmp);
            std::swap(s.order, s.sort_index_tmp);
        }
        for (int k = 0; k < n; ++k) {
            if (k == 0 || s.sort_key[k] != s.sort_key[k - 1]) {
                s.cell_key.push_back(s.sort_key[k]);
                s.cell_begin.push_back(k);
            }
        }
    }
    s.cell_begin.push_back(n);
}

// The sorted copies of positions and supports, by sorted position.
struct SortedView {
    double* x;
    double* y;
    double* z;
    double* lo;  // squared distance below which a pair certainly links
    double* hi;  // squared distance above which it certainly does not
    double* support;
    const int* order;  // particle index at each sorted position
};

SortedView sorted_view(NeighborScratch& s) {
    double* base = s.sorted.data();
    const std::size_t k = s.lane_stride;
    return {base, base + k, base + 2 * k, base + 3 * k, base + 4 * k, base + 5 * k, s.order.data()};
}

// Binning: cell index per particle, particles sorted by cell, per-cell lists
// (cell_head per occupied cell, cell_next per particle, -1 at the end), and the
// sorted copies of positions and supports that the link search scans.
void bin_particles(DbState& db, NeighborScratch& s, const Grid& grid, bool dense) {
    const int n = db.npart;
    for (int i = 0; i < n; ++i) {
        db.particle_cell_id[i] = sph_neighbor_cell_index_for_particle(grid, db.x[i]);
    }
    sort_by_cell(db, s, grid.num_cells, dense);

    const std::size_t cells = s.cell_key.size();
    db.cell_head.resize(cells);
    for (std::size_t c = 0; c < cells; ++c) {
        const int b = s.cell_begin[c];
        const int e = s.cell_begin[c + 1];
        db.cell_head[c] = s.order[b];
        for (int t = b; t + 1 < e; ++t) db.cell_next[s.order[t]] = s.order[t + 1];
        db.cell_next[s.order[e - 1]] = -1;
    }

    // One block for the six sorted arrays. Their starts are staggered by an
    // odd number of cache lines so that the same position in different arrays
    // does not map to the same cache set (large blocks start page-aligned).
    s.lane_stride = (static_cast<std::size_t>(n) + 511) / 512 * 512 + 8 * 9;
    s.sorted.resize(6 * s.lane_stride);
    const SortedView v = sorted_view(s);
    s.uniform_support = true;
    for (int t = 0; t < n; ++t) {
        const int i = s.order[t];
        s.uniform_support = s.uniform_support && db.h[i] == db.h[s.order[0]];
        v.x[t] = db.x[i].x;
        v.y[t] = db.x[i].y;
        v.z[t] = db.x[i].z;
        const double support = 2.0 * db.h[i];
        const double square = support * support;
        v.support[t] = support;
        if (square >= min_banded_square) {
            v.lo[t] = square * band_lo;
            v.hi[t] = square * band_hi;
        } else {
            v.lo[t] = -1.0;  // never certain: always the exact test
            v.hi[t] = std::numeric_limits<double>::infinity();
        }
    }
}

struct Range {
    int begin;
    int end;
};

// The exact link test for the pair of sorted positions (a, t).
inline bool exact_link(const SortedView& v, int a, int t, double d2) {
    return !(std::sqrt(d2) > std::max(v.support[a], v.support[t]));
}

// Appends to `out` the particles at sorted positions [t0, t1) that link with
// the particle at sorted position `a`, in increasing position; returns the new
// count.
// With Uniform (every particle has the same support) the bounds of the pair
// are those of particle a, read once.
template <bool Uniform>
inline int scan_range(const SortedView& v, int a, int t0, int t1, int* out, int count) {
    const double xa = v.x[a];
    const double ya = v.y[a];
    const double za = v.z[a];
    const double lo_a = v.lo[a];
    const double hi_a = v.hi[a];
    const double* px = v.x;
    const double* py = v.y;
    const double* pz = v.z;
    const double* rlo = v.lo;
    const double* rhi = v.hi;
    for (int t = t0; t < t1; ++t) {
        const double dx = xa - px[t];
        const double dy = ya - py[t];
        const double dz = za - pz[t];
        const double d2 = dx * dx + dy * dy + dz * dz;
        // max of the bounds is the bound of the larger support (monotone).
        bool link = d2 < (Uniform ? lo_a : std::max(lo_a, rlo[t]));
        if (!link && !(d2 > (Uniform ? hi_a : std::max(hi_a, rhi[t])))) [[unlikely]] {
            link = exact_link(v, a, t, d2);
        }
        out[count] = v.order[t];
        count += link ? 1 : 0;
    }
    return count;
}

template <bool Uniform>
int scan_ranges_portable(const SortedView& v, int a, const Range* ranges, int range_count,
                         int* out) {
    int count = 0;
    for (int r = 0; r < range_count; ++r) {
        count = scan_range<Uniform>(v, a, ranges[r].begin, ranges[r].end, out, count);
    }
    return count;
}

#if VELUNOR_NEIGHBOR_AVX2
// Byte shuffles that pack the 32-bit lanes set in a 4-bit mask to the front,
// in increasing lane order (a byte of -128 makes a zero byte).
struct PackTable {
    alignas(16) signed char lanes[16][16];
};

constexpr PackTable make_pack_table() {
    PackTable table{};
    for (int mask = 0; mask < 16; ++mask) {
        int byte = 0;
        for (int lane = 0; lane < 4; ++lane) {
            if ((mask >> lane) & 1) {
                for (int b = 0; b < 4; ++b)
                    table.lanes[mask][byte++] = static_cast<signed char>(4 * lane + b);
            }
        }
        while (byte < 16) table.lanes[mask][byte++] = -128;
    }
    return table;
}

constexpr PackTable pack_table = make_pack_table();

// The same arithmetic four candidates at a time (no fused multiply-add, same
// operation order), so the links are bit for bit those of the portable scan.
template <bool Uniform>
__attribute__((target("avx2"))) int scan_ranges_avx2(const SortedView& v, int a,
                                                     const Range* ranges, int range_count,
                                                     int* out) {
    const __m256d xa = _mm256_set1_pd(v.x[a]);
    const __m256d ya = _mm256_set1_pd(v.y[a]);
    const __m256d za = _mm256_set1_pd(v.z[a]);
    const __m256d lo_a = _mm256_set1_pd(v.lo[a]);
    const __m256d hi_a = _mm256_set1_pd(v.hi[a]);
    const double* px = v.x;
    const double* py = v.y;
    const double* pz = v.z;
    const double* rlo = v.lo;
    const double* rhi = v.hi;
    const int* order = v.order;
    int count = 0;
    for (int r = 0; r < range_count; ++r) {
        const int end = ranges[r].end;
        // The last group may reach up to three positions past the range (the
        // sorted arrays are padded); those lanes are masked off.
        for (int t = ranges[r].begin; t < end; t += 4) {
            const int valid = end - t >= 4 ? 0xF : (1 << (end - t)) - 1;
            const __m256d dx = _mm256_sub_pd(xa, _mm256_loadu_pd(px + t));
            const __m256d dy = _mm256_sub_pd(ya, _mm256_loadu_pd(py + t));
            const __m256d dz = _mm256_sub_pd(za, _mm256_loadu_pd(pz + t));
            const __m256d d2 = _mm256_add_pd(
                _mm256_add_pd(_mm256_mul_pd(dx, dx), _mm256_mul_pd(dy, dy)), _mm256_mul_pd(dz, dz));
            const __m256d lo = Uniform ? lo_a : _mm256_max_pd(lo_a, _mm256_loadu_pd(rlo + t));
            const __m256d hi = Uniform ? hi_a : _mm256_max_pd(hi_a, _mm256_loadu_pd(rhi + t));
            int in = _mm256_movemask_pd(_mm256_cmp_pd(d2, lo, _CMP_LT_OQ)) & valid;
            const int beyond = _mm256_movemask_pd(_mm256_cmp_pd(d2, hi, _CMP_GT_OQ));
            if (const int unsure = ~(in | beyond) & valid) [[unlikely]] {
                alignas(32) double d2_lanes[4];
                _mm256_store_pd(d2_lanes, d2);
                for (int k = 0; k < 4; ++k) {
                    if ((unsure >> k) & 1) in |= exact_link(v, a, t + k, d2_lanes[k]) << k;
                }
            }
            // Store the linked lanes' particles packed to the front; the slots
            // past them are scratch that the next store overwrites.
            const __m128i particles = _mm_loadu_si128(reinterpret_cast<const __m128i*>(order + t));
            const __m128i pick =
                _mm_load_si128(reinterpret_cast<const __m128i*>(pack_table.lanes[in]));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out + count),
                             _mm_shuffle_epi8(particles, pick));
            count += __builtin_popcount(in);
        }
    }
    return count;
}
#endif

using ScanRanges = int (*)(const SortedView&, int, const Range*, int, int*);

ScanRanges select_scan(bool allow_vector, bool uniform) {
#if VELUNOR_NEIGHBOR_AVX2
    static const bool has_avx2 = __builtin_cpu_supports("avx2");
    if (allow_vector && has_avx2) {
        return uniform ? scan_ranges_avx2<true> : scan_ranges_avx2<false>;
    }
#else
    (void)allow_vector;
#endif
    return uniform ? scan_ranges_portable<true> : scan_ranges_portable<false>;
}

// The scan for a forward buffer that may lack room for every candidate (only
// near the link budget): pieces of the ranges go through a small buffer and
// the first `room` links are kept. The returned count is exact, so the checks
// that follow see the true number of links.
int scan_into_room(ScanRanges scan, const SortedView& v, int a, const Range* ranges,
                   int range_count, int* out, int64_t room) {
    constexpr int piece = 256;
    int buffer[piece + scan_padding];
    int count = 0;
    for (int r = 0; r < range_count; ++r) {
        for (int t = ranges[r].begin; t < ranges[r].end;) {
            const Range part = {t, ranges[r].end - t > piece ? t + piece : ranges[r].end};
            const int found = scan(v, a, &part, 1, buffer);
            const int64_t keep = std::min<int64_t>(found, std::max<int64_t>(room - count, 0));
            if (keep > 0) std::copy_n(buffer, keep, out + count);
            count += found;
            t = part.end;
        }
    }
    return count;
}

// Links. The documented order of a particle's neighbors (cells in z-y-x
// visiting order, then decreasing index) is increasing sorted position, and
// the link test is symmetric bit for bit, so every pair is tested once: the
// particle at sorted position a scans only the positions b > a of its
// neighborhood (the rest of its own row, then the rows with dy = +1 or dz = +1)
// and records b in its forward run. The three cells of a row (x offsets -1, 0,
// +1) are consecutive cell indices and hence one contiguous range of sorted
// positions. Writing the forward runs out in increasing a then puts each
// particle's earlier neighbors (from the runs of smaller a) before its later
// ones, so both directions come out in the documented order. Runs are laid out
// in particle index order.
//
// Storage: the forward runs and the list never grow past the link budget, and
// the rebuild stops with an allocation failure as soon as its pairs need more.
int sph_neighbor_fill_links(Model& m, const Grid& grid, bool dense, int64_t max_links) {
    DbState& db = m.db;
    NeighborState& ns = m.neighbor;
    NeighborScratch& s = ns.scratch;
    const int n = db.npart;
    const int64_t nx = grid.dims[0];
    const int64_t ny = grid.dims[1];
    const int64_t nz = grid.dims[2];
    const std::size_t cells = s.cell_key.size();
    s.forward_count.resize(n);
    // Counts: each pair adds to both particles as it is found.
    std::fill(db.neighbor_count.begin(), db.neighbor_count.end(), 0);
    int64_t pairs = 0;
    const int64_t max_pairs = link_memory_budget(ns) / link_bytes_per_pair;
    const ScanRanges scan = select_scan(ns.allow_vector_scan, s.uniform_support);
    const SortedView v = sorted_view(s);

    // A neighboring cell whose box is farther from the particle than the cell
    // size (the largest support) cannot hold a link and is skipped. The cell
    // boxes are widened by the rounding of the binning, so the skip is never
    // wrong; with NaN coordinates in the model (NaN distances link) or an
    // extreme cell size nothing is skipped.
    const double cs = grid.cell_size;
    // Squares of the cell size and of the gaps must stay normal numbers.
    const bool cull = !grid.has_nan && cs >= 0x1p-450 && cs <= 0x1p450;
    const double reach2 = cs * cs * (1.0 + 1e-9);
    double slack[3];
    for (int k = 0; k < 3; ++k) {
        slack[k] = 1e-14 * (std::fabs(grid.min_corner[k]) + std::fabs(grid.max_corner[k]) +
                            static_cast<double>(grid.dims[k]) * cs);
    }

    // Forward rows: (dy, dz) = (1, 0), (-1, 1), (0, 1), (1, 1). Sparse grids
    // keep per row the first occupied cell not below the row's lowest cell
    // index (it only moves forward as cells ascend).
    const int row_dy[4] = {1, -1, 0, 1};
    const int row_dz[4] = {0, 1, 1, 1};
    std::size_t cursor[4] = {0, 0, 0, 0};

    // Sorted positions where the cells x - 1, x, x + 1 of a row begin, and
    // where the last one ends (a missing cell is an empty range).
    auto row_cells = [&](int64_t base, int64_t ix, std::size_t& lo, int b[4]) {
        const bool left = ix > 0;
        const bool right = ix < nx - 1;
        if (dense) {
            b[0] = s.cell_start[left ? base - 1 : base];
            b[1] = s.cell_start[base];
            b[2] = s.cell_start[base + 1];
            b[3] = s.cell_start[right ? base + 2 : base + 1];
            return;
        }
        const int64_t klo = left ? base - 1 : base;
        while (lo < cells && s.cell_key[lo] < klo) ++lo;
        std::size_t at = lo;
        b[0] = s.cell_begin[at];
        if (left && at < cells && s.cell_key[at] == base - 1) ++at;
        b[1] = s.cell_begin[at];
        if (at < cells && s.cell_key[at] == base) ++at;
        b[2] = s.cell_begin[at];
        if (right && at < cells && s.cell_key[at] == base + 1) ++at;
        b[3] = s.cell_begin[at];
    };

    for (std::size_t c = 0; c < cells; ++c) {
        const int64_t key = s.cell_key[c];
        int64_t ix = 0, iy = 0, iz = 0;
        sph_neighbor_decode_cell(ns, key, ix, iy, iz);
        // Own row from the own cell on: the own cell and the cell at x + 1.
        std::size_t own = c;
        int own_cells[4];
        row_cells(key, ix, own, own_cells);
        int row_b[4][4];
        int row_dy_of[4];
        int row_dz_of[4];
        int row_count = 0;
        int64_t candidates = own_cells[3] - own_cells[1];
        for (int r = 0; r < 4; ++r) {
            if (iy + row_dy[r] < 0 || iy + row_dy[r] >= ny || iz + row_dz[r] >= nz) continue;
            const int64_t base = key + row_dy[r] * nx + row_dz[r] * nx * ny;
            int* b = row_b[row_count];
            row_cells(base, ix, cursor[r], b);
            if (b[3] > b[0]) {
                row_dy_of[row_count] = row_dy[r];
                row_dz_of[row_count] = row_dz[r];
                ++row_count;
                candidates += b[3] - b[0];
            }
        }
        // The cell's box.
        double cell_lo[3], cell_hi[3];
        const int64_t coord[3] = {ix, iy, iz};
        for (int k = 0; k < 3; ++k) {
            cell_lo[k] = grid.min_corner[k] + static_cast<double>(coord[k]) * cs;
            cell_hi[k] = grid.min_corner[k] + static_cast<double>(coord[k] + 1) * cs;
        }

        const int cell_end = s.cell_begin[c + 1];
        for (int a = s.cell_begin[c]; a < cell_end; ++a) {
            // Room for every candidate plus the scan's padding, unless that
            // would pass the budget.
            const int64_t slots = candidates + static_cast<int64_t>(scan_padding);
            grow_keep(s.links, pairs + slots, max_pairs);
            Range ranges[5];
            ranges[0] = {a + 1, own_cells[3]};  // own row: only later positions
            int range_count = 1;
            // Squared gaps from the particle to the faces of its cell, below
            // (index 0) and above (index 1), on each axis.
            double gap2[3][2] = {{0.0, 0.0}, {0.0, 0.0}, {0.0, 0.0}};
            if (cull) {
                const double p[3] = {v.x[a], v.y[a], v.z[a]};
                for (int k = 0; k < 3; ++k) {
                    const double below = std::max(0.0, p[k] - cell_lo[k] - slack[k]);
                    const double above = std::max(0.0, cell_hi[k] - p[k] - slack[k]);
                    gap2[k][0] = below * below;
                    gap2[k][1] = above * above;
                }
            }
            for (int r = 0; r < row_count; ++r) {
                const int* b = row_b[r];
                const int dy = row_dy_of[r];
                const double across = (dy == 0 ? 0.0 : gap2[1][dy > 0 ? 1 : 0]) +
                                      (row_dz_of[r] == 0 ? 0.0 : gap2[2][1]);
                if (across > reach2) continue;
                const int begin = across + gap2[0][0] > reach2 ? b[1] : b[0];
                const int end = across + gap2[0][1] > reach2 ? b[2] : b[3];
                if (end > begin) ranges[range_count++] = {begin, end};
            }
            int* found = s.links.data() + pairs;
            const int64_t room = static_cast<int64_t>(s.links.size()) - pairs;
            const int count = slots <= room
                                  ? scan(v, a, ranges, range_count, found)
                                  : scan_into_room(scan, v, a, ranges, range_count, found, room);
            pairs += count;
            if (2 * pairs > max_links) {
                return fail(m, sph_error_argument, "neighbor table capacity is too small");
            }
            if (pairs > max_pairs) return fail_allocation(m);
            s.forward_count[a] = count;
            db.neighbor_count[s.order[a]] += count;
            for (int k = 0; k < count; ++k) ++db.neighbor_count[found[k]];
        }
    }

    const int* forward = s.links.data();
    int64_t total = 0;
    for (int i = 0; i < n; ++i) {
        db.neighbor_offset[i] = total;
        total += db.neighbor_count[i];
    }
    grow_discard(db.neighbor_list, total, 2 * max_pairs);

    // Scatter: particle a's run is [earlier neighbors][forward run of a].
    // neighbor_offset serves as each run's write cursor meanwhile: particles
    // before j advance j's as they report j, and each ends at the start of the
    // next run, from which the offsets are restored.
    int* list = db.neighbor_list.data();
    const int* order = s.order.data();
    int64_t* cursor_of = db.neighbor_offset.data();
    int64_t k = 0;
    for (int a = 0; a < n; ++a) {
        const int ia = order[a];
        int64_t at = cursor_of[ia];  // after a's earlier neighbors
        for (const int64_t end = k + s.forward_count[a]; k < end; ++k) {
            const int j = forward[k];
            if (k + 32 < pairs) __builtin_prefetch(list + cursor_of[forward[k + 32]], 1);
            list[at++] = j;
            list[cursor_of[j]++] = ia;
        }
        cursor_of[ia] = at;
    }
    for (int i = 0; i < n; ++i) cursor_of[i] -= db.neighbor_count[i];
    ns.neighbor_total_links = total;
    return sph_success;
}

int rebuild(Model& m, int64_t max_links) {
    DbState& db = m.db;
    NeighborState& ns = m.neighbor;
    ns.neighbor_total_links = 0;
    const int n = db.npart;
    if (n <= 0) {  // no links and no cells; nothing kept
        SphLargeVector<int>().swap(db.neighbor_list);
        std::vector<int>().swap(db.cell_head);
        sph_neighbor_free(ns);
        return sph_success;
    }
    try {
        db.particle_cell_id.resize(n);
        db.cell_next.resize(n);
        db.neighbor_count.resize(n);
        db.neighbor_offset.resize(n);
    } catch (const std::exception&) {
        clear_links(db, ns);
        return fail_allocation(m);
    }
    if (max_links < 0) {
        clear_links(db, ns);
        return fail(m, sph_error_argument, "neighbor capacity must be non-negative");
    }
    if (db.x.size() < static_cast<std::size_t>(n) || db.h.size() < static_cast<std::size_t>(n)) {
        clear_links(db, ns);
        return fail(m, sph_error_database, "particle arrays are not allocated");
    }

    Grid grid;
    int status = sph_neighbor_compute_bounds(m, grid);
    if (status == sph_success) status = sph_neighbor_compute_cells(m, grid);
    if (status != sph_success) {
        clear_links(db, ns);
        return status;
    }
    ns.neighbor_min_corner = grid.min_corner;
    ns.neighbor_max_corner = grid.max_corner;
    ns.neighbor_cell_size = grid.cell_size;
    for (int a = 0; a < 3; ++a) ns.neighbor_cell_dims[a] = grid.dims[a];
    ns.neighbor_num_cells = grid.num_cells;

    const bool dense = grid.num_cells <= std::max(dense_min_cells, dense_cells_per_particle * n);
    try {
        bin_particles(db, ns.scratch, grid, dense);
        status = sph_neighbor_fill_links(m, grid, dense, max_links);
    } catch (const std::exception&) {  // bad_alloc or length_error from a vector
        status = fail_allocation(m);
    }
    if (status != sph_success) {
        clear_links(db, ns);
        // After a storage failure the forward runs may hold much of the
        // budget; give it back rather than keep it for the next rebuild.
        if (status == sph_error_database) SphLargeVector<int>().swap(ns.scratch.links);
    }
    return status;
}

}  // namespace

int64_t sph_neighbor_cell_coord(double value, double min_corner, double cell_size, int64_t dim) {
    const double cells = (value - min_corner) / cell_size;
    if (!(cells >= 0.0)) return 0;  // below the grid, or NaN
    if (cells >= static_cast<double>(dim)) return dim - 1;
    return std::min(static_cast<int64_t>(cells), dim - 1);
}

void sph_neighbor_decode_cell(const NeighborState& state, int64_t cell, int64_t& ix, int64_t& iy,
                              int64_t& iz) {
    const int64_t nx = state.neighbor_cell_dims[0];
    const int64_t ny = state.neighbor_cell_dims[1];
    ix = cell % nx;
    iy = (cell / nx) % ny;
    iz = (cell / nx) / ny;
}

int sph_neighbor_rebuild(Model& m) {
    return rebuild(m, unlimited_links);
}

int sph_neighbor_rebuild_with_capacity(Model& m, int64_t max_links) {
    return rebuild(m, max_links);
}

void sph_neighbor_get_stats(const Model& m, int& max_neighbors, double& average_neighbors) {
    max_neighbors = 0;
    average_neighbors = 0.0;
    const int n = m.db.npart;
    if (n <= 0) return;
    const std::size_t held = std::min(static_cast<std::size_t>(n), m.db.neighbor_count.size());
    int64_t sum = 0;
    for (std::size_t i = 0; i < held; ++i) {
        const int count = m.db.neighbor_count[i];
        max_neighbors = std::max(max_neighbors, count);
        sum += count;
    }
    average_neighbors = static_cast<double>(sum) / static_cast<double>(n);
}

void sph_neighbor_free(NeighborState& state) {
    state.scratch = NeighborScratch{};
}
