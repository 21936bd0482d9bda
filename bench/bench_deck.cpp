// Deck reading and model build on generated water decks: a cubic lattice of
// N nodes with a complete water setup. Reports the time of the read, of the
// build, and the process's peak resident memory after each size.
//
//   ./build/bench/bench_deck --benchmark_counters_tabular=true

#include <benchmark/benchmark.h>
#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <map>
#include <memory>
#include <string>

#include "core/sph_model.hpp"

namespace {

constexpr double lattice_spacing = 0.01;

// The two decks: a water setup whose section covers the first nodes through a
// listed set (every other particle carries material 1, the water material,
// by default; a listed set holds at most 512 members), or one sectioned
// through a generated set of every node with an initial velocity on the same
// set, the shape of a real model of a million particles.
enum class DeckKind { listed_set, generated_set };

std::filesystem::path deck_path(DeckKind kind, int n) {
    const char* stem =
        kind == DeckKind::listed_set ? "velunor_bench_deck_" : "velunor_bench_deck_generated_";
    return std::filesystem::temp_directory_path() /
           (stem + std::to_string(::getpid()) + "_" + std::to_string(n) + ".inp");
}

// Writes the deck for `n` nodes once per process and returns its path.
const std::string& deck_for(int n, DeckKind kind = DeckKind::listed_set) {
    static std::map<std::pair<int, DeckKind>, std::string> paths;
    auto found = paths.find({n, kind});
    if (found != paths.end()) return found->second;
    const std::filesystem::path path = deck_path(kind, n);
    std::FILE* f = std::fopen(path.c_str(), "wb");
    int side = static_cast<int>(std::ceil(std::cbrt(static_cast<double>(n))));
    std::fprintf(f, "*HEADING\nwater lattice of %d nodes\n*NODE\n", n);
    int id = 0;
    for (int k = 0; k < side && id < n; ++k) {
        for (int j = 0; j < side && id < n; ++j) {
            for (int i = 0; i < side && id < n; ++i) {
                ++id;
                std::fprintf(f, "%d, %.6f, %.6f, %.6f\n", id, i * lattice_spacing,
                             j * lattice_spacing, k * lattice_spacing);
            }
        }
    }
    if (kind == DeckKind::listed_set) {
        std::fprintf(f, "*NSET, NSET=WET\n1, 2, 3, 4, 5, 6, 7, 8\n");
    } else {
        std::fprintf(f, "*NSET, NSET=WET, GENERATE\n1, %d, 1\n", n);
        std::fprintf(f, "*INITIAL CONDITIONS, TYPE=VELOCITY\nWET, 1, 2.0\n");
    }
    std::fprintf(f, "*MATERIAL, NAME=Water, TYPE=WATER\n*DENSITY\n1000.0\n");
    std::fprintf(f, "*FLUID SECTION, NSET=WET, MATERIAL=Water\n");
    std::fprintf(f, "*VELUNOR TIME CONTROL, DT=1e-6, TIME=1e-3, STEPS=1000\n");
    std::fprintf(f, "*VELUNOR EOS, TYPE=TAIT, MATERIAL=Water, RHO0=1000, C0=1480, GAMMA=7\n");
    std::fprintf(f,
                 "*VELUNOR VISCOSITY, TYPE=MONAGHAN, MATERIAL=Water, ALPHA=0.1, BETA=0,"
                 " ETA2=0.01\n");
    std::fprintf(f, "*VELUNOR PARTICLE CONTROL, H=%.6f, MASS=1e-3, VOLUME=1e-6\n",
                 1.3 * lattice_spacing);
    if (kind == DeckKind::listed_set) std::fprintf(f, "*VELUNOR BODY FORCE, Z=-9.81\n");
    std::fclose(f);
    return paths.emplace(std::pair{n, kind}, path.string()).first->second;
}

double peak_rss_mb() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_maxrss) / 1024.0;  // ru_maxrss is in KiB
}

std::unique_ptr<Model> fresh_model() {
    auto m = std::make_unique<Model>();
    sph_water_initialize(m->water);
    return m;
}

void BM_DeckRead(benchmark::State& state) {
    const int n = static_cast<int>(state.range(0));
    const std::string& path = deck_for(n);
    for (auto _ : state) {
        auto m = fresh_model();
        if (sph_input_read(*m, path) != 0) {
            state.SkipWithError(m->error.last_error_message.c_str());
            break;
        }
        benchmark::DoNotOptimize(m->db.npart);
    }
    state.counters["particles"] = n;
    state.counters["deck_MB"] =
        static_cast<double>(std::filesystem::file_size(path)) / (1024.0 * 1024.0);
    state.counters["peak_rss_MB"] = peak_rss_mb();
}

// Times the build only; the read before it runs outside the timing.
void BM_DeckBuild(benchmark::State& state) {
    const int n = static_cast<int>(state.range(0));
    const std::string& path = deck_for(n);
    int64_t links = 0;
    for (auto _ : state) {
        auto m = fresh_model();
        if (sph_input_read(*m, path) != 0) {
            state.SkipWithError(m->error.last_error_message.c_str());
            break;
        }
        auto start = std::chrono::steady_clock::now();
        int status = sph_input_build_model(*m);
        auto stop = std::chrono::steady_clock::now();
        if (status != 0) {
            state.SkipWithError(m->error.last_error_message.c_str());
            break;
        }
        state.SetIterationTime(std::chrono::duration<double>(stop - start).count());
        links = m->neighbor.neighbor_total_links;
    }
    state.counters["particles"] = n;
    state.counters["links"] = static_cast<double>(links);
    state.counters["peak_rss_MB"] = peak_rss_mb();
}

void BM_DeckReadAndBuild(benchmark::State& state) {
    const int n = static_cast<int>(state.range(0));
    const std::string& path = deck_for(n);
    for (auto _ : state) {
        auto m = fresh_model();
        if (sph_input_read(*m, path) != 0 || sph_input_build_model(*m) != 0) {
            state.SkipWithError(m->error.last_error_message.c_str());
            break;
        }
    }
    state.counters["particles"] = n;
    state.counters["peak_rss_MB"] = peak_rss_mb();
}

// Read and build of a deck sectioned through one generated set. Peak memory
// is the process's, so run it alone for a per-particle figure:
//   bench_deck --benchmark_filter=GeneratedSet/1000000
void BM_GeneratedSetDeckReadAndBuild(benchmark::State& state) {
    const int n = static_cast<int>(state.range(0));
    const std::string& path = deck_for(n, DeckKind::generated_set);
    int sectioned = 0;
    for (auto _ : state) {
        auto m = fresh_model();
        if (sph_input_read(*m, path) != 0 || sph_input_build_model(*m) != 0) {
            state.SkipWithError(m->error.last_error_message.c_str());
            break;
        }
        sectioned = 0;
        for (int i = 0; i < m->db.npart; ++i) sectioned += m->db.section_id[i] == 1;
    }
    state.counters["particles"] = n;
    state.counters["sectioned"] = sectioned;
    state.counters["peak_rss_MB"] = peak_rss_mb();
    state.counters["peak_B_per_particle"] = peak_rss_mb() * 1024.0 * 1024.0 / n;
}

void sizes(benchmark::internal::Benchmark* b) {
    b->Arg(10000)->Arg(100000)->Arg(1000000)->Unit(benchmark::kMillisecond);
}

}  // namespace

BENCHMARK(BM_DeckRead)->Apply(sizes)->UseRealTime();
BENCHMARK(BM_DeckBuild)->Apply(sizes)->UseManualTime();
BENCHMARK(BM_DeckReadAndBuild)->Apply(sizes)->UseRealTime();
BENCHMARK(BM_GeneratedSetDeckReadAndBuild)
    ->Name("GeneratedSet")
    ->Apply(sizes)
    ->UseRealTime()
    ->Iterations(1);

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    std::error_code ec;
    for (int n : {10000, 100000, 1000000}) {
        for (DeckKind kind : {DeckKind::listed_set, DeckKind::generated_set}) {
            std::filesystem::remove(deck_path(kind, n), ec);
        }
    }
    return 0;
}
