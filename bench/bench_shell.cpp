// Shell setup on a plate of 10^6 shell particles (1000 x 1000 at spacing 1,
// so that the default h = 1 gives the neighbor search about 12 neighbors in
// the plane) sectioned through one generated node set: the shell state build
// alone (directors from the particle cloud, or from a director set on the
// same generated set with a rotation set), and the read and full build of
// the deck.
//
//   build/bench/bench_shell --benchmark_counters_tabular=true

#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

#include "core/sph_model.hpp"

namespace {

constexpr int side = 1000;

void check(int status) {
    if (status != 0) std::abort();
}

// Written once per process and variant.
std::string deck_for(bool director_set) {
    const std::filesystem::path path = std::filesystem::temp_directory_path() /
                                       ("velunor_bench_shell_" + std::to_string(::getpid()) +
                                        (director_set ? "_set" : "_cloud") + ".inp");
    if (std::filesystem::exists(path)) return path.string();
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (f == nullptr) std::abort();
    std::fprintf(f, "*HEADING\nshell plate of %d nodes\n*NODE\n", side * side);
    int id = 0;
    for (int j = 0; j < side; ++j) {
        for (int i = 0; i < side; ++i) std::fprintf(f, "%d, %d, %d, 0\n", ++id, i, j);
    }
    std::fprintf(f, "*NSET, NSET=PLATE, GENERATE\n1, %d\n", id);
    std::fprintf(f, "*MATERIAL, NAME=Alu, TYPE=SHELL\n*DENSITY\n2700\n*ELASTIC\n7e10, 0.33\n");
    std::fprintf(f, "*SHELL SECTION, NSET=PLATE, MATERIAL=Alu, THICKNESS=0.002, POINTS=5\n");
    if (director_set) {
        std::fprintf(f, "*VELUNOR SHELL DIRECTOR, SET=PLATE, NX=0, NY=0, NZ=1\n");
        std::fprintf(f, "*VELUNOR SHELL ROTATION, SET=PLATE, OX=0, OY=0, OZ=10\n");
    }
    std::fprintf(f, "*VELUNOR TIME CONTROL, DT=1e-7, TIME=1e-3, STEPS=10\n");
    std::fclose(f);
    return path.string();
}

std::unique_ptr<Model> read_model(bool director_set) {
    auto m = std::make_unique<Model>();
    sph_water_initialize(m->water);
    sph_shell_initialize(m->shell);
    check(sph_input_read(*m, deck_for(director_set)));
    return m;
}

void BM_ShellBuildState(benchmark::State& state) {
    const bool director_set = state.range(0) != 0;
    auto m = read_model(director_set);
    check(sph_db_apply_sections_to_particles(*m));
    for (auto _ : state) check(sph_shell_build_state(*m));
    state.counters["particles"] = m->db.npart;
    state.counters["ns_per_particle"] = benchmark::Counter(
        static_cast<double>(m->db.npart),
        benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
    state.SetLabel(director_set ? "director set" : "cloud director");
}
BENCHMARK(BM_ShellBuildState)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_ShellReadAndBuild(benchmark::State& state) {
    const bool director_set = state.range(0) != 0;
    for (auto _ : state) {
        auto m = read_model(director_set);
        check(sph_input_build_model(*m));
        benchmark::DoNotOptimize(m->shell.shell_reference_area.data());
    }
    state.SetLabel(director_set ? "director set" : "cloud director");
}
BENCHMARK(BM_ShellReadAndBuild)
    ->Arg(0)
    ->Arg(1)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(2);

}  // namespace

BENCHMARK_MAIN();
