#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <unordered_map>
#include <vector>

#include "core/sph_model.hpp"
#include "particle/sph_neighbor.hpp"

namespace {

const double nan = std::numeric_limits<double>::quiet_NaN();
const double inf = std::numeric_limits<double>::infinity();

void set_particles(Model& m, const std::vector<Vec3>& x, const std::vector<double>& h) {
    m.db.npart = static_cast<int>(x.size());
    m.db.x = x;
    m.db.h = h;
}

std::vector<int> neighbors_of(const Model& m, int i) {
    const auto begin = m.db.neighbor_list.begin() + m.db.neighbor_offset[i];
    return std::vector<int>(begin, begin + m.db.neighbor_count[i]);
}

// The documented search, literally: 1-based cells with linked lists (head
// insertion), the 27 cells in z-y-x order, every pair tested on its distance.
struct Reference {
    Vec3 min_corner, max_corner;
    double cell_size = 0.0;
    int64_t dims[3] = {0, 0, 0};
    std::vector<int> count;
    std::vector<int64_t> offset;
    std::vector<int> list;
};

Reference reference_search(const std::vector<Vec3>& x, const std::vector<double>& h) {
    Reference ref;
    const int n = static_cast<int>(x.size());
    double lo[3] = {inf, inf, inf}, hi[3] = {-inf, -inf, -inf};
    double radius = 0.0;
    for (int i = 0; i < n; ++i) {
        for (int a = 0; a < 3; ++a) {
            if (std::isnan(x[i][a])) continue;
            lo[a] = std::min(lo[a], x[i][a]);
            hi[a] = std::max(hi[a], x[i][a]);
        }
        radius = std::max(radius, 2.0 * h[i]);
    }
    ref.cell_size = radius;
    for (int a = 0; a < 3; ++a) {
        if (lo[a] > hi[a]) lo[a] = hi[a] = 0.0;  // no number on this axis
        ref.min_corner[a] = lo[a] - radius;
        ref.max_corner[a] = hi[a] + radius;
        ref.dims[a] = std::max<int64_t>(
            1,
            static_cast<int64_t>(std::trunc((ref.max_corner[a] - ref.min_corner[a]) / radius)) + 1);
    }
    const int64_t nx = ref.dims[0], ny = ref.dims[1], nz = ref.dims[2];
    std::unordered_map<int64_t, int> head;  // cell -> first particle (1-based), 0 = empty
    std::vector<int> next(n + 1, 0);
    std::vector<int64_t> cell(n + 1, 0);
    for (int i = 1; i <= n; ++i) {
        int64_t c[3];
        for (int a = 0; a < 3; ++a) {
            const double v = std::trunc((x[i - 1][a] - ref.min_corner[a]) / radius) + 1.0;
            c[a] = !(v > 0.0) ? 1 : (v > ref.dims[a] ? ref.dims[a] : static_cast<int64_t>(v));
        }
        cell[i] = c[0] + nx * (c[1] - 1) + nx * ny * (c[2] - 1);
        next[i] = head[cell[i]];
        head[cell[i]] = i;
    }
    ref.count.assign(n, 0);
    ref.offset.assign(n, 0);
    for (int i = 1; i <= n; ++i) {
        ref.offset[i - 1] = static_cast<int64_t>(ref.list.size());
        const int64_t ix = (cell[i] - 1) % nx + 1;
        const int64_t t = (cell[i] - 1) / nx;
        const int64_t iy = t % ny + 1;
        const int64_t iz = t / ny + 1;
        for (int dz = -1; dz <= 1; ++dz) {
            for (int dy = -1; dy <= 1; ++dy) {
                for (int dx = -1; dx <= 1; ++dx) {
                    const int64_t cx = ix + dx, cy = iy + dy, cz = iz + dz;
                    if (cx < 1 || cx > nx || cy < 1 || cy > ny || cz < 1 || cz > nz) continue;
                    const auto found = head.find(cx + nx * (cy - 1) + nx * ny * (cz - 1));
                    for (int j = found == head.end() ? 0 : found->second; j != 0; j = next[j]) {
                        if (j == i) continue;
                        const double r = norm(x[i - 1] - x[j - 1]);
                        if (!(r > 2.0 * std::max(h[i - 1], h[j - 1]))) {
                            ref.list.push_back(j - 1);
                            ++ref.count[i - 1];
                        }
                    }
                }
            }
        }
    }
    return ref;
}

void expect_matches_reference(const Model& m, const std::vector<Vec3>& x,
                              const std::vector<double>& h) {
    const Reference ref = reference_search(x, h);
    const NeighborState& ns = m.neighbor;
    EXPECT_EQ(ns.neighbor_cell_size, ref.cell_size);
    for (int a = 0; a < 3; ++a) {
        EXPECT_EQ(ns.neighbor_min_corner[a], ref.min_corner[a]);
        EXPECT_EQ(ns.neighbor_max_corner[a], ref.max_corner[a]);
        EXPECT_EQ(ns.neighbor_cell_dims[a], ref.dims[a]);
    }
    EXPECT_EQ(ns.neighbor_num_cells, ref.dims[0] * ref.dims[1] * ref.dims[2]);
    ASSERT_EQ(ns.neighbor_total_links, static_cast<int64_t>(ref.list.size()));
    ASSERT_EQ(m.db.neighbor_count, ref.count);
    ASSERT_EQ(m.db.neighbor_offset, ref.offset);
    ASSERT_GE(m.db.neighbor_list.size(), ref.list.size());
    EXPECT_TRUE(std::equal(ref.list.begin(), ref.list.end(), m.db.neighbor_list.begin()));
}

void expect_empty_table(const Model& m) {
    EXPECT_EQ(m.neighbor.neighbor_total_links, 0);
    for (int i = 0; i < m.db.npart; ++i) {
        EXPECT_EQ(m.db.neighbor_count[i], 0);
        EXPECT_EQ(m.db.neighbor_offset[i], 0);
    }
}

TEST(SphNeighbor, EmptyModelSucceedsEvenWithNegativeCapacity) {
    Model m;
    EXPECT_EQ(sph_neighbor_rebuild_with_capacity(m, -1), sph_success);
    EXPECT_EQ(sph_neighbor_rebuild(m), sph_success);
    EXPECT_EQ(m.neighbor.neighbor_total_links, 0);
    int max_neighbors = -1;
    double average = -1.0;
    sph_neighbor_get_stats(m, max_neighbors, average);
    EXPECT_EQ(max_neighbors, 0);
    EXPECT_EQ(average, 0.0);
}

TEST(SphNeighbor, SingleParticleHasThreeCellsPerAxisAndNoLinks) {
    Model m;
    set_particles(m, {{1.0, -2.0, 3.0}}, {0.5});
    ASSERT_EQ(sph_neighbor_rebuild(m), sph_success);
    for (int a = 0; a < 3; ++a) EXPECT_EQ(m.neighbor.neighbor_cell_dims[a], 3);
    EXPECT_EQ(m.neighbor.neighbor_num_cells, 27);
    EXPECT_EQ(m.neighbor.neighbor_cell_size, 1.0);
    EXPECT_EQ(m.neighbor.neighbor_min_corner.x, 0.0);
    EXPECT_EQ(m.neighbor.neighbor_max_corner.z, 4.0);
    EXPECT_EQ(m.db.neighbor_count[0], 0);
    EXPECT_EQ(m.db.neighbor_offset[0], 0);
    EXPECT_EQ(m.db.particle_cell_id[0], 13);  // the middle cell (1, 1, 1)
    int max_neighbors = -1;
    double average = -1.0;
    sph_neighbor_get_stats(m, max_neighbors, average);
    EXPECT_EQ(max_neighbors, 0);
    EXPECT_EQ(average, 0.0);
}

TEST(SphNeighbor, LinkAtExactlyTheLargerSupport) {
    Model m;
    // Exactly 2 max(h): linked both ways.
    set_particles(m, {{0.0, 0.0, 0.0}, {2.0, 0.0, 0.0}}, {1.0, 1.0});
    ASSERT_EQ(sph_neighbor_rebuild(m), sph_success);
    EXPECT_EQ(neighbors_of(m, 0), std::vector<int>{1});
    EXPECT_EQ(neighbors_of(m, 1), std::vector<int>{0});
    // One ulp farther: neither.
    m.db.x[1].x = std::nextafter(2.0, 3.0);
    ASSERT_EQ(sph_neighbor_rebuild(m), sph_success);
    EXPECT_EQ(m.db.neighbor_count[0], 0);
    EXPECT_EQ(m.db.neighbor_count[1], 0);
    // h = 1 and h = 3 at distance 5: the larger support (6) decides.
    set_particles(m, {{0.0, 0.0, 0.0}, {3.0, 4.0, 0.0}}, {1.0, 3.0});
    ASSERT_EQ(sph_neighbor_rebuild(m), sph_success);
    EXPECT_EQ(neighbors_of(m, 0), std::vector<int>{1});
    EXPECT_EQ(neighbors_of(m, 1), std::vector<int>{0});
    int max_neighbors = 0;
    double average = 0.0;
    sph_neighbor_get_stats(m, max_neighbors, average);
    EXPECT_EQ(max_neighbors, 1);
    EXPECT_EQ(average, 1.0);
}

TEST(SphNeighbor, CoincidentParticlesAllLinkInDecreasingIndexOrder) {
    Model m;
    set_particles(m, std::vector<Vec3>(5, Vec3{2.0, 2.0, 2.0}), {0.5, 0.1, 0.3, 0.2, 0.4});
    ASSERT_EQ(sph_neighbor_rebuild(m), sph_success);
    for (int a = 0; a < 3; ++a) EXPECT_EQ(m.neighbor.neighbor_cell_dims[a], 3);
    EXPECT_EQ(neighbors_of(m, 0), (std::vector<int>{4, 3, 2, 1}));
    EXPECT_EQ(neighbors_of(m, 2), (std::vector<int>{4, 3, 1, 0}));
    EXPECT_EQ(m.db.neighbor_offset[2], 8);
    EXPECT_EQ(m.neighbor.neighbor_total_links, 20);
    // One occupied cell: its list runs from the highest index down.
    ASSERT_EQ(m.db.cell_head.size(), 1u);
    EXPECT_EQ(m.db.cell_head[0], 4);
    EXPECT_EQ(m.db.cell_next[4], 3);
    EXPECT_EQ(m.db.cell_next[0], -1);
}

TEST(SphNeighbor, FailuresReportTheirMessageAndLeaveAnEmptyTable) {
    struct Case {
        std::vector<Vec3> x;
        std::vector<double> h;
        int64_t capacity;  // -2: unlimited rebuild
        const char* message;
    };
    const std::vector<Vec3> pair = {{0.0, 0.0, 0.0}, {0.5, 0.0, 0.0}, {9.0, 0.0, 0.0}};
    const Case cases[] = {
        {pair, {1.0, 0.0, 1.0}, -2, "kernel smoothing length must be positive"},
        {pair, {1.0, -1.0, 1.0}, 10, "kernel smoothing length must be positive"},
        {pair, {1.0, nan, 1.0}, -2, "kernel smoothing length must be positive"},
        {pair, {1.0, 1.0, 1.0}, -1, "neighbor capacity must be non-negative"},
        {pair, {1.0, 1.0, 1.0}, 1, "neighbor table capacity is too small"},
        {pair, {1.0, 1.0, 0.0}, -1, "neighbor capacity must be non-negative"},
        {{{0.0, 0.0, 0.0}, {inf, 0.0, 0.0}}, {1.0, 1.0}, -2, "neighbor grid has too many cells"},
        {{{0.0, -inf, 0.0}}, {1.0}, -2, "neighbor grid has too many cells"},
        {{{-1e300, 0.0, 0.0}, {1e300, 0.0, 0.0}},
         {1e-300, 1e-300},
         -2,
         "neighbor grid has too many cells"},
        // 2^21 cells per axis: 2^63 cells in all, beyond 64-bit cell indices.
        {{{0.0, 0.0, 0.0}, {2097150.0, 2097150.0, 2097150.0}},
         {0.5, 0.5},
         -2,
         "neighbor grid has too many cells"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.message);
        Model m;
        // A good table first, so the failure has something to spoil.
        set_particles(m, pair, {1.0, 1.0, 1.0});
        ASSERT_EQ(sph_neighbor_rebuild(m), sph_success);
        ASSERT_EQ(m.neighbor.neighbor_total_links, 2);
        set_particles(m, c.x, c.h);
        const int status = c.capacity == -2 ? sph_neighbor_rebuild(m)
                                            : sph_neighbor_rebuild_with_capacity(m, c.capacity);
        EXPECT_EQ(status, sph_error_argument);
        EXPECT_EQ(m.error.last_error_code, sph_error_argument);
        EXPECT_EQ(m.error.last_error_message, c.message);
        expect_empty_table(m);
    }
}

TEST(SphNeighbor, CapacityIsALimitOnLinks) {
    Model m;
    set_particles(m, {{0.0, 0.0, 0.0}, {0.5, 0.0, 0.0}, {1.0, 0.0, 0.0}}, {0.3, 0.3, 0.3});
    ASSERT_EQ(sph_neighbor_rebuild(m), sph_success);
    ASSERT_EQ(m.neighbor.neighbor_total_links, 4);
    EXPECT_EQ(sph_neighbor_rebuild_with_capacity(m, 3), sph_error_argument);
    EXPECT_EQ(m.error.last_error_message, "neighbor table capacity is too small");
    ASSERT_EQ(sph_neighbor_rebuild_with_capacity(m, 4), sph_success);
    // Cells before indices: 0 shares particle 1's cell, 2 lies in the next cell in x.
    EXPECT_EQ(neighbors_of(m, 1), (std::vector<int>{0, 2}));
    // A capacity far beyond the links reserves nothing up front.
    ASSERT_EQ(sph_neighbor_rebuild_with_capacity(m, int64_t{1} << 40), sph_success);
    EXPECT_LT(m.db.neighbor_list.capacity(), 1000u);
}

TEST(SphNeighbor, SparseGridFarLargerThanTheModel) {
    // About 1e15 cells for four particles: the grid is never stored densely.
    Model m;
    const std::vector<Vec3> x = {
        {0.0, 0.0, 0.0}, {1e5, 0.0, 0.0}, {0.0, 1e5, 1e5}, {1e5 + 0.5, 0.3, 0.0}};
    const std::vector<double> h = {0.5, 0.5, 0.5, 0.5};
    set_particles(m, x, h);
    ASSERT_EQ(sph_neighbor_rebuild(m), sph_success);
    EXPECT_GT(m.neighbor.neighbor_num_cells, int64_t{200000000000000});
    expect_matches_reference(m, x, h);
    EXPECT_EQ(neighbors_of(m, 1), std::vector<int>{3});
    EXPECT_LT(m.neighbor.scratch.cell_start.capacity(), 1000u);
    EXPECT_EQ(m.db.cell_head.size(), 3u);
}

// Random particle sets against the literal search: varying h, clusters, exact
// ties on a lattice, NaN coordinates, and sparse grids.
TEST(SphNeighbor, MatchesTheReferenceOnRandomSets) {
    std::mt19937_64 rng(12345);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    for (int trial = 0; trial < 84; ++trial) {
        SCOPED_TRACE(testing::Message() << "trial " << trial);
        const int kind = trial / 2 % 7;
        const int n = 1 + static_cast<int>(unit(rng) * (kind == 5 ? 60 : 400));
        std::vector<Vec3> x(n);
        std::vector<double> h(n);
        const double scale = kind == 3 ? 1e-290 : (kind == 4 ? 1e154 : 1.0);
        for (int i = 0; i < n; ++i) {
            switch (kind) {
                case 0:  // uniform box, varying h
                    x[i] = {unit(rng) * 10.0, unit(rng) * 6.0, unit(rng) * 8.0};
                    h[i] = 0.1 + 0.5 * unit(rng);
                    break;
                case 1: {  // lattice with spacing 0.1: many distances at the support
                    const int side = 8;
                    x[i] = {0.1 * (i % side), 0.1 * ((i / side) % side), 0.1 * (i / side / side)};
                    h[i] = 0.05 * (1 + static_cast<int>(unit(rng) * 3));
                    break;
                }
                case 2:  // a few clusters with duplicates and NaN coordinates
                    x[i] = {std::floor(unit(rng) * 4.0), unit(rng), std::floor(unit(rng) * 3.0)};
                    h[i] = 0.25;
                    if (i % 17 == 3) x[i].x = nan;
                    if (i % 23 == 5) x[i].y = nan;
                    if (i % 29 == 7) x[i] = {nan, nan, nan};
                    break;
                case 3:  // tiny scale: the squared support underflows
                case 4:  // huge scale: squared supports and distances overflow
                    x[i] = {unit(rng) * 5.0 * scale, unit(rng) * 5.0 * scale,
                            unit(rng) * 5.0 * scale};
                    h[i] = (0.2 + 0.4 * unit(rng)) * scale * (kind == 4 ? 2.0 : 1.0);
                    break;
                case 6: {  // far from the origin, on cell boundaries: binning rounds
                    const int side = 7;
                    x[i] = {1e7 + 0.1 * (i % side), -3e6 + 0.1 * ((i / side) % side),
                            0.1 * (i / side / side) - 2e5};
                    h[i] = 0.05;
                    break;
                }
                default:  // clusters spread far apart: sparse grid
                    x[i] = {std::floor(unit(rng) * 5.0) * 1e4 + unit(rng),
                            std::floor(unit(rng) * 5.0) * 1e4 + unit(rng), unit(rng) * 3e4};
                    h[i] = 0.2 + 0.3 * unit(rng);
                    if (i % 11 == 2) x[i].z = nan;
                    break;
            }
        }
        Model m;
        set_particles(m, x, h);
        m.neighbor.allow_vector_scan = trial % 2 == 0;  // both scans, every kind
        ASSERT_EQ(sph_neighbor_rebuild(m), sph_success);
        expect_matches_reference(m, x, h);
        // Stats agree with the counts.
        int max_neighbors = 0;
        double average = 0.0;
        sph_neighbor_get_stats(m, max_neighbors, average);
        int64_t sum = 0;
        int largest = 0;
        for (int c : m.db.neighbor_count) {
            sum += c;
            largest = std::max(largest, c);
        }
        EXPECT_EQ(max_neighbors, largest);
        EXPECT_EQ(average, static_cast<double>(sum) / n);
    }
}

TEST(SphNeighbor, InfiniteSupportPutsEverythingInOneCell) {
    Model m;
    const std::vector<Vec3> x = {{0.0, 0.0, 0.0}, {1e6, 0.0, 0.0}, {0.0, -1e6, 3.0}};
    set_particles(m, x, {1.0, inf, 1.0});
    ASSERT_EQ(sph_neighbor_rebuild(m), sph_success);
    EXPECT_EQ(m.neighbor.neighbor_num_cells, 1);
    EXPECT_EQ(neighbors_of(m, 0), std::vector<int>{1});
    EXPECT_EQ(neighbors_of(m, 1), (std::vector<int>{2, 0}));
    EXPECT_EQ(neighbors_of(m, 2), std::vector<int>{1});
}

TEST(SphNeighbor, RepeatedRebuildReusesItsStorage) {
    Model m;
    std::vector<Vec3> x;
    for (int k = 0; k < 1000; ++k)
        x.push_back({0.3 * (k % 10), 0.3 * (k / 10 % 10), 0.3 * (k / 100)});
    set_particles(m, x, std::vector<double>(x.size(), 0.39));
    ASSERT_EQ(sph_neighbor_rebuild(m), sph_success);
    const int* list = m.db.neighbor_list.data();
    const int* links = m.neighbor.scratch.links.data();
    const double* sorted = m.neighbor.scratch.sorted.data();
    // Small motions keep the sizes: the next rebuilds allocate nothing.
    for (int step = 0; step < 3; ++step) {
        for (Vec3& p : m.db.x) p.x += 0.01;
        ASSERT_EQ(sph_neighbor_rebuild(m), sph_success);
        EXPECT_EQ(m.db.neighbor_list.data(), list);
        EXPECT_EQ(m.neighbor.scratch.links.data(), links);
        EXPECT_EQ(m.neighbor.scratch.sorted.data(), sorted);
    }
    expect_matches_reference(m, m.db.x, m.db.h);
    sph_neighbor_free(m.neighbor);
    EXPECT_EQ(m.neighbor.scratch.links.capacity(), 0u);
}

// Link storage budget: 12 bytes per pair (forward run entry plus both
// directions of the list).
constexpr int64_t bytes_per_pair = 12;

void expect_storage_failure(const Model& m, int status) {
    EXPECT_EQ(status, sph_error_database);
    EXPECT_EQ(m.error.last_error_code, sph_error_database);
    EXPECT_EQ(m.error.last_error_message, "failed to allocate neighbor storage");
    EXPECT_EQ(m.neighbor.neighbor_total_links, 0);
    EXPECT_TRUE(std::all_of(m.db.neighbor_count.begin(), m.db.neighbor_count.end(),
                            [](int c) { return c == 0; }));
    EXPECT_TRUE(std::all_of(m.db.neighbor_offset.begin(), m.db.neighbor_offset.end(),
                            [](int64_t o) { return o == 0; }));
    // The forward runs, which may hold much of the budget, are given back.
    EXPECT_EQ(m.neighbor.scratch.links.capacity(), 0u);
}

// Bytes of the two link buffers as allocated.
int64_t link_buffer_bytes(const Model& m) {
    return static_cast<int64_t>(
        sizeof(int) * (m.neighbor.scratch.links.capacity() + m.db.neighbor_list.capacity()));
}

// A million coincident particles (every pair links: 5e11 pairs) against a
// 64 MiB budget fail after a few particles; moved apart onto a lattice the
// same model fits and matches the literal search.
TEST(SphNeighborBudget, CoincidentParticlesFailThenTheLatticeFits) {
    constexpr int n = 1000000;
    constexpr int64_t budget = int64_t{64} << 20;
    Model m;
    set_particles(m, std::vector<Vec3>(n, Vec3{0.0, 0.0, 0.0}), std::vector<double>(n, 1.0));
    m.neighbor.link_memory_limit = budget;
    expect_storage_failure(m, sph_neighbor_rebuild(m));
    EXPECT_EQ(m.db.neighbor_list.capacity(), 0u);  // never allocated for a failing model
    // Also through the capacity rebuild, with a capacity that is no limit.
    expect_storage_failure(m, sph_neighbor_rebuild_with_capacity(m, int64_t{1} << 50));

    // Spacing 1.5 with support 2: the six face neighbors link, 3e6 pairs.
    for (int i = 0; i < n; ++i)
        m.db.x[i] = {1.5 * (i % 100), 1.5 * (i / 100 % 100), 1.5 * (i / 10000)};
    ASSERT_EQ(sph_neighbor_rebuild(m), sph_success);
    EXPECT_EQ(m.neighbor.neighbor_total_links, 6 * int64_t{n} - 6 * 100 * 100);
    EXPECT_LE(link_buffer_bytes(m), budget);
    expect_matches_reference(m, m.db.x, m.db.h);
}

// Ten million coincident particles against the default budget (half the
// physical memory): the search stops once the links pass it, after about a
// third of the budget is written (the forward runs), instead of swapping.
TEST(SphNeighborBudget, DefaultBudgetStopsTenMillionCoincidentParticles) {
#if defined(__SANITIZE_ADDRESS__) || !defined(NDEBUG)
    GTEST_SKIP() << "writes a few GiB: optimized builds without sanitizers only";
#else
    constexpr int n = 10000000;
    Model m;
    m.db.npart = n;
    m.db.x.assign(n, Vec3{0.0, 0.0, 0.0});
    m.db.h.assign(n, 1.0);
    ASSERT_EQ(m.neighbor.link_memory_limit, 0);
    expect_storage_failure(m, sph_neighbor_rebuild(m));
#endif
}

// Random models at their exact need (12 bytes per pair) succeed bit for bit
// as the literal search, one byte less fails; both scans, with dense clusters
// so that the last particles' candidates reach far past the room left.
TEST(SphNeighborBudget, ExactNeedSucceedsAndOneByteLessFails) {
    std::mt19937_64 rng(777);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    for (int trial = 0; trial < 12; ++trial) {
        SCOPED_TRACE(testing::Message() << "trial " << trial);
        const int n = 200 + static_cast<int>(unit(rng) * 1800);
        const double extent = trial % 3 == 0 ? 1.0 : 4.0;  // one cell, or a few dense ones
        std::vector<Vec3> x(n);
        std::vector<double> h(n);
        for (int i = 0; i < n; ++i) {
            x[i] = {unit(rng) * extent, unit(rng) * extent, unit(rng) * extent};
            h[i] = 0.2 + 0.4 * unit(rng);
        }
        Model m;
        set_particles(m, x, h);
        m.neighbor.allow_vector_scan = trial % 2 == 0;
        ASSERT_EQ(sph_neighbor_rebuild(m), sph_success);
        const int64_t links = m.neighbor.neighbor_total_links;
        ASSERT_GT(links, 0);
        ASSERT_EQ(links % 2, 0);
        const int64_t need = links / 2 * bytes_per_pair;

        m.neighbor.link_memory_limit = need - 1;
        expect_storage_failure(m, sph_neighbor_rebuild(m));
        // The capacity check still comes first where both are exceeded.
        EXPECT_EQ(sph_neighbor_rebuild_with_capacity(m, links - 1), sph_error_argument);
        EXPECT_EQ(m.error.last_error_message, "neighbor table capacity is too small");
        expect_storage_failure(m, sph_neighbor_rebuild_with_capacity(m, links));

        m.neighbor.link_memory_limit = need;
        ASSERT_EQ(sph_neighbor_rebuild(m), sph_success);
        expect_matches_reference(m, x, h);
        EXPECT_LE(link_buffer_bytes(m), need);
        ASSERT_EQ(sph_neighbor_rebuild_with_capacity(m, links), sph_success);
        expect_matches_reference(m, x, h);
    }
}

TEST(SphNeighborBudget, ExtremeBudgets) {
    const std::vector<Vec3> x = {{0.0, 0.0, 0.0}, {0.5, 0.0, 0.0}, {9.0, 0.0, 0.0}};
    const std::vector<double> h = {1.0, 1.0, 1.0};
    Model m;
    set_particles(m, x, h);
    // The largest budget: no overflow in the limits derived from it.
    m.neighbor.link_memory_limit = std::numeric_limits<int64_t>::max();
    ASSERT_EQ(sph_neighbor_rebuild(m), sph_success);
    expect_matches_reference(m, x, h);
    // Less than one pair: a single link fails, a model without links succeeds.
    m.neighbor.link_memory_limit = bytes_per_pair - 1;
    expect_storage_failure(m, sph_neighbor_rebuild(m));
    m.db.x[1].x = 5.0;
    ASSERT_EQ(sph_neighbor_rebuild(m), sph_success);
    EXPECT_EQ(m.neighbor.neighbor_total_links, 0);
    // 0 and negative budgets mean the default, which a small model fits.
    m.db.x[1].x = 0.5;
    for (const int64_t limit : {int64_t{0}, int64_t{-1}}) {
        m.neighbor.link_memory_limit = limit;
        ASSERT_EQ(sph_neighbor_rebuild(m), sph_success);
        expect_matches_reference(m, x, h);
    }
}

TEST(SphNeighbor, CellCoordinateClampsAndSendsNaNToTheFirstCell) {
    EXPECT_EQ(sph_neighbor_cell_coord(0.5, 0.0, 1.0, 4), 0);
    EXPECT_EQ(sph_neighbor_cell_coord(1.0, 0.0, 1.0, 4), 1);
    EXPECT_EQ(sph_neighbor_cell_coord(-0.5, 0.0, 1.0, 4), 0);
    EXPECT_EQ(sph_neighbor_cell_coord(-7.0, 0.0, 1.0, 4), 0);
    EXPECT_EQ(sph_neighbor_cell_coord(4.0, 0.0, 1.0, 4), 3);
    EXPECT_EQ(sph_neighbor_cell_coord(1e300, 0.0, 1.0, 4), 3);
    EXPECT_EQ(sph_neighbor_cell_coord(nan, 0.0, 1.0, 4), 0);
}

}  // namespace
