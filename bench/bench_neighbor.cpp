// Neighbor rebuild on cubic lattices with h = 1.3 spacing: time per particle,
// neighbors per particle and the process's peak resident memory.
//
//   build/bench/bench_neighbor                       all, including the 2M lattice
//   build/bench/bench_neighbor --benchmark_filter=/1000000
//   build/bench/bench_neighbor --benchmark_filter=Coincident   time to fail at the budget
#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <numeric>
#include <random>
#include <vector>

#include "core/sph_model.hpp"
#include "particle/sph_neighbor.hpp"

namespace {

constexpr double spacing = 1.0;
constexpr double h_over_spacing = 1.3;

enum class Layout { lattice, shuffled, outlier };

// The first n points of the smallest cubic lattice that holds n, x fastest.
// Shuffled: the same positions numbered in random order. Outlier: the last
// point moved 10^6 spacings away, so the grid has far more cells than
// particles and is binned sparsely.
void make_lattice(Model& m, int n, Layout layout) {
    const int side = static_cast<int>(std::ceil(std::cbrt(static_cast<double>(n)) - 1e-9));
    m.db.npart = n;
    m.db.x.resize(n);
    m.db.h.assign(n, h_over_spacing * spacing);
    std::vector<int> slot(n);
    std::iota(slot.begin(), slot.end(), 0);
    if (layout == Layout::shuffled) std::shuffle(slot.begin(), slot.end(), std::mt19937(7));
    for (int k = 0; k < n; ++k) {
        const int i = slot[k];
        m.db.x[i] = {spacing * (k % side), spacing * (k / side % side),
                     spacing * (k / side / side)};
    }
    if (layout == Layout::outlier) m.db.x[n - 1] = {1e6 * spacing, 1e6 * spacing, 1e6 * spacing};
}

double peak_rss_mib() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_maxrss) / 1024.0;  // ru_maxrss is in KiB
}

void run(benchmark::State& state, Layout layout) {
    const int n = static_cast<int>(state.range(0));
    Model m;
    make_lattice(m, n, layout);
    if (sph_neighbor_rebuild(m) != 0) {  // sizes the buffers once
        state.SkipWithError(m.error.last_error_message.c_str());
        return;
    }
    for (auto _ : state) {
        if (sph_neighbor_rebuild(m) != 0) {
            state.SkipWithError(m.error.last_error_message.c_str());
            return;
        }
        benchmark::DoNotOptimize(m.db.neighbor_list.data());
    }
    state.counters["time_per_particle"] = benchmark::Counter(
        n, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
    state.counters["neighbors_per_particle"] =
        static_cast<double>(m.neighbor.neighbor_total_links) / n;
    state.counters["peak_rss_MiB"] = peak_rss_mib();
}

void BM_NeighborRebuild(benchmark::State& state) {
    run(state, Layout::lattice);
}
void BM_NeighborRebuildShuffled(benchmark::State& state) {
    run(state, Layout::shuffled);
}
void BM_NeighborRebuildSparseGrid(benchmark::State& state) {
    run(state, Layout::outlier);
}

// The first rebuild of a model: every buffer is allocated and touched for the
// first time (page faults included), as in the first step of a run.
void BM_NeighborFirstRebuild(benchmark::State& state) {
    const int n = static_cast<int>(state.range(0));
    for (auto _ : state) {
        state.PauseTiming();
        auto m = std::make_unique<Model>();
        make_lattice(*m, n, Layout::lattice);
        state.ResumeTiming();
        if (sph_neighbor_rebuild(*m) != 0) {
            state.SkipWithError(m->error.last_error_message.c_str());
            return;
        }
        benchmark::DoNotOptimize(m->db.neighbor_list.data());
        state.PauseTiming();
        m.reset();
        state.ResumeTiming();
    }
    state.counters["time_per_particle"] = benchmark::Counter(
        n, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

// A model whose links exceed the machine: n particles at the origin with
// h = 1 (every pair links), on a fresh model each iteration. The rebuild
// fails once its links pass the default budget (half the physical memory);
// the time is how long that takes.
void BM_NeighborCoincidentFails(benchmark::State& state) {
    const int n = static_cast<int>(state.range(0));
    for (auto _ : state) {
        state.PauseTiming();
        auto m = std::make_unique<Model>();
        m->db.npart = n;
        m->db.x.assign(n, Vec3{0.0, 0.0, 0.0});
        m->db.h.assign(n, 1.0);
        state.ResumeTiming();
        if (sph_neighbor_rebuild(*m) != 5) {
            state.SkipWithError("the rebuild did not fail with status 5");
            return;
        }
        state.PauseTiming();
        m.reset();
        state.ResumeTiming();
    }
    state.counters["peak_rss_MiB"] = peak_rss_mib();
}

}  // namespace

BENCHMARK(BM_NeighborRebuild)
    ->Arg(10000)
    ->Arg(100000)
    ->Arg(1000000)
    ->Unit(benchmark::kMillisecond)
    ->MinTime(2.0);
BENCHMARK(BM_NeighborRebuildShuffled)->Arg(1000000)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_NeighborRebuildSparseGrid)->Arg(1000000)->Unit(benchmark::kMillisecond)->MinTime(2.0);
// Fresh models: after the others, so their peak memory is not this one's.
BENCHMARK(BM_NeighborFirstRebuild)->Arg(1000000)->Unit(benchmark::kMillisecond)->Iterations(3);
// One-off size: a few iterations are enough.
BENCHMARK(BM_NeighborRebuild)->Arg(2000000)->Unit(benchmark::kMillisecond)->Iterations(3);
// Writes about a third of the budget (a few GiB): last, so that no other
// benchmark's peak memory includes it.
BENCHMARK(BM_NeighborCoincidentFails)
    ->Arg(10000000)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3)
    ->UseRealTime();

BENCHMARK_MAIN();
