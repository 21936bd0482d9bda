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

// Writes the deck for `n` nodes once per process and returns its path.
const std::string& deck_for(int n) {
    static std::map<int, std::string> paths;
    auto found = paths.find(n);
    if (found != paths.end()) return found->second;
    std::filesystem::path path =
        std::filesystem::temp_directory_path() /
        ("velunor_bench_deck_" + std::to_string(::getpid()) + "_" + std::to_string(n) + ".inp");
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
    // Every particle carries material 1 (the water material) by default; the
    // section covers the first nodes, as a set holds at most 512 members.
    std::fprintf(f, "*NSET, NSET=WET\n1, 2, 3, 4, 5, 6, 7, 8\n");
    std::fprintf(f, "*MATERIAL, NAME=Water, TYPE=WATER\n*DENSITY\n1000.0\n");
    std::fprintf(f, "*FLUID SECTION, NSET=WET, MATERIAL=Water\n");
    std::fprintf(f, "*VELUNOR TIME CONTROL, DT=1e-6, TIME=1e-3, STEPS=1000\n");
    std::fprintf(f, "*VELUNOR EOS, TYPE=TAIT, MATERIAL=Water, RHO0=1000, C0=1480, GAMMA=7\n");
    std::fprintf(f,
                 "*VELUNOR VISCOSITY, TYPE=MONAGHAN, MATERIAL=Water, ALPHA=0.1, BETA=0,"
                 " ETA2=0.01\n");
    std::fprintf(f, "*VELUNOR PARTICLE CONTROL, H=%.6f, MASS=1e-3, VOLUME=1e-6\n",
                 1.3 * lattice_spacing);
    std::fprintf(f, "*VELUNOR BODY FORCE, Z=-9.81\n");
    std::fclose(f);
    return paths.emplace(n, path.string()).first->second;
}

// A water lattice of `n` nodes sectioned through one generated node set that
// holds every node, with an initial velocity on the same set: the shape of a
// real model of a million particles.
const std::string& generated_set_deck_for(int n) {
    static std::map<int, std::string> paths;
    auto found = paths.find(n);
    if (found != paths.end()) return found->second;
    std::filesystem::path path = std::filesystem::temp_directory_path() /
                                 ("velunor_bench_deck_generated_" + std::to_string(::getpid()) +
                                  "_" + std::to_string(n) + ".inp");
    std::FILE* f = std::fopen(path.c_str(), "wb");
    int side = static_cast<int>(std::ceil(std::cbrt(static_cast<double>(n))));
    std::fprintf(f, "*NODE\n");
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
    std::fprintf(f, "*NSET, NSET=ALL_WATER, GENERATE\n1, %d, 1\n", n);
    std::fprintf(f, "*MATERIAL, NAME=Water, TYPE=WATER\n*DENSITY\n1000.0\n");
    std::fprintf(f, "*FLUID SECTION, NSET=ALL_WATER, MATERIAL=Water\n");
    std::fprintf(f, "*INITIAL CONDITIONS, TYPE=VELOCITY\nALL_WATER, 1, 2.0\n");
    std::fprintf(f, "*VELUNOR TIME CONTROL, DT=1e-6, TIME=1e-3, STEPS=1000\n");
    std::fprintf(f, "*VELUNOR EOS, TYPE=TAIT, MATERIAL=Water, RHO0=1000, C0=1480, GAMMA=7\n");
    std::fprintf(f,
                 "*VELUNOR VISCOSITY, TYPE=MONAGHAN, MATERIAL=Water, ALPHA=0.1, BETA=0,"
                 " ETA2=0.01\n");
    std::fprintf(f, "*VELUNOR PARTICLE CONTROL, H=%.6f, MASS=1e-3, VOLUME=1e-6\n",
                 1.3 * lattice_spacing);
    std::fclose(f);
    return paths.emplace(n, path.string()).first->second;
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
    const std::string& path = generated_set_deck_for(n);
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
        for (const char* kind : {"velunor_bench_deck_", "velunor_bench_deck_generated_"}) {
            std::filesystem::remove(std::filesystem::temp_directory_path() /
                                        (kind + std::to_string(::getpid()) + "_" +
                                         std::to_string(n) + ".inp"),
                                    ec);
        }
    }
    return 0;
}
