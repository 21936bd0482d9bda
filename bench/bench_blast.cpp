// Blast loads on one region that holds a gas cloud and a steel plate below
// it, built from a generated deck: 10^5 gas sources with 10^4 solid targets,
// and 9x10^5 sources with 10^5 targets (10^6 particles). Times one load
// evaluation, the blast part of a step (clear, the two evaluations, apply),
// the source-target pair count alone and the full explicit step, in ns per
// particle of the model, with heap allocations per timed call.
//
//   build/bench/bench_blast --benchmark_counters_tabular=true
//   build/bench/bench_step --benchmark_filter='FullStep/(46|100)$'   # the water step to compare

#include <benchmark/benchmark.h>
#include <sys/resource.h>
#include <unistd.h>

#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>
#include <new>
#include <random>
#include <string>

#include "bench_alloc_counter.hpp"
#include "blast/sph_blast.hpp"
#include "blast/sph_blast_load.hpp"
#include "core/sph_model.hpp"
#include "solver/sph_solver_explicit.hpp"

namespace {

constexpr double spacing = 0.01;
// The gas pushes outward at its faces and the blast pushes the plate with up
// to about 2e3 m/s^2; at this dt nothing moves by a measurable fraction of a
// spacing over all the timed steps, so every step sees the same particles
// inside the region and the same pairs.
constexpr double step_dt = 1e-9;

void check(int status) {
    if (status != 0) std::abort();
}

// The gas cloud (nx x ny x gas_layers) with the plate (nx x ny x
// plate_layers) two spacings below it.
struct Layout {
    int nx, ny, gas_layers, plate_layers;
    int gas() const { return nx * ny * gas_layers; }
    int plate() const { return nx * ny * plate_layers; }
    int total() const { return gas() + plate(); }
};

// 10^5 sources with 10^4 targets, and 9x10^5 with 10^5.
Layout layout(int n) {
    switch (n) {
        case 110000:
            return {50, 50, 40, 4};
        case 1000000:
            return {100, 100, 90, 10};
        default:
            std::abort();
    }
}

std::filesystem::path deck_path(int n) {
    return std::filesystem::temp_directory_path() /
           ("velunor_bench_blast_" + std::to_string(::getpid()) + "_" + std::to_string(n) + ".inp");
}

// Ideal gas at 1.2e5 Pa over a steel plate, both sectioned through generated
// sets, and one region centred on the cloud whose sphere holds every particle
// of both. Written once per process.
const std::string& deck_for(int n) {
    static std::map<int, std::string> paths;
    if (auto it = paths.find(n); it != paths.end()) return it->second;
    const std::filesystem::path path = deck_path(n);
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (f == nullptr) std::abort();
    const Layout l = layout(n);
    std::fprintf(f, "*HEADING\ngas cloud of %d over a steel plate of %d\n*NODE\n", l.gas(),
                 l.plate());
    int id = 0;
    for (int k = 0; k < l.gas_layers; ++k) {
        for (int j = 0; j < l.ny; ++j) {
            for (int i = 0; i < l.nx; ++i) {
                std::fprintf(f, "%d, %.6f, %.6f, %.6f\n", ++id, i * spacing, j * spacing,
                             k * spacing);
            }
        }
    }
    for (int k = 0; k < l.plate_layers; ++k) {
        for (int j = 0; j < l.ny; ++j) {
            for (int i = 0; i < l.nx; ++i) {
                std::fprintf(f, "%d, %.6f, %.6f, %.6f\n", ++id, i * spacing, j * spacing,
                             -(k + 2) * spacing);
            }
        }
    }
    std::fprintf(f, "*NSET, NSET=CLOUD, GENERATE\n1, %d\n", l.gas());
    std::fprintf(f, "*NSET, NSET=PLATE, GENERATE\n%d, %d\n", l.gas() + 1, l.total());
    std::fprintf(f, "*MATERIAL, NAME=Air, TYPE=GAS\n*DENSITY\n1.2\n");
    std::fprintf(f, "*VELUNOR EOS, TYPE=IDEAL_GAS, MATERIAL=Air, GAMMA=1.4, E0=2.5e5\n");
    std::fprintf(f, "*GAS SECTION, NSET=CLOUD, MATERIAL=Air\n");
    std::fprintf(f, "*VELUNOR PARTICLE CONTROL, H=%.6g, MASS=%.6g, VOLUME=%.6g\n", 1.3 * spacing,
                 1.2 * spacing * spacing * spacing, spacing * spacing * spacing);
    std::fprintf(f, "*MATERIAL, NAME=Steel, TYPE=SOLID\n*DENSITY\n7850\n*ELASTIC\n2e11, 0.3\n");
    std::fprintf(f, "*PLASTIC\n792e6, 510e6, 0.26, 0.014, 1.03, 1.0, 293, 1793\n");
    std::fprintf(f, "*SOLID SECTION, NSET=PLATE, MATERIAL=Steel\n");
    std::fprintf(f, "*VELUNOR SOLID CONTROL, MATERIAL=Steel, H=%.6g, VOLUME=%.6g\n", 1.3 * spacing,
                 spacing * spacing * spacing);
    std::fprintf(f, "*VELUNOR TIME CONTROL, DT=1e-7, TIME=1e-3, STEPS=1000\n");
    // Centre of the box around both bodies; the radius reaches its corners.
    const double cx = 0.5 * (l.nx - 1) * spacing, cy = 0.5 * (l.ny - 1) * spacing;
    const double z_lo = -(l.plate_layers + 1) * spacing, z_hi = (l.gas_layers - 1) * spacing;
    const double cz = 0.5 * (z_lo + z_hi);
    const double radius =
        1.01 * std::sqrt(cx * cx + cy * cy + 0.25 * (z_hi - z_lo) * (z_hi - z_lo));
    std::fprintf(f,
                 "*VELUNOR BLAST REGION, NAME=CLOUD_ON_PLATE, X=%.6f, Y=%.6f, Z=%.6f, "
                 "RADIUS=%.6f, SOURCE=GAS, TARGET=SOLID, TARGET_SET=PLATE, SCALE=1\n",
                 cx, cy, cz, radius);
    std::fclose(f);
    return paths.emplace(n, path.string()).first->second;
}

std::unique_ptr<Model> make_model(int n) {
    auto m = std::make_unique<Model>();
    sph_water_initialize(m->water);
    sph_gas_initialize(*m);
    sph_explosive_initialize(m->explosive);
    sph_solid_initialize(m->solid);
    check(sph_input_read(*m, deck_for(n)));
    check(sph_input_build_model(*m));
    const BlastSnapshot& s = m->blast.snapshot[0];
    const Layout l = layout(n);
    if (s.blast_source_count != l.gas() || s.blast_target_count != l.plate()) std::abort();
    // Small random velocities give the gas density rate and the solid strain
    // update work to do in every step.
    std::mt19937 rng(42);
    std::uniform_real_distribution<double> u(-1.0, 1.0);
    DbState& db = m->db;
    for (int i = 0; i < db.npart; ++i) db.v[i] = Vec3{0.1 * u(rng), 0.1 * u(rng), 0.1 * u(rng)};
    // One step sizes every buffer.
    check(sph_solver_advance_explicit(*m, step_dt));
    return m;
}

Model& model(int n) {
    static std::map<int, std::unique_ptr<Model>> cache;
    if (auto it = cache.find(n); it != cache.end()) return *it->second;
    cache.clear();  // keep one model alive at a time
    return *(cache[n] = make_model(n));
}

void add_counters(benchmark::State& state, Model& m, long long allocations_in_loop) {
    const double n = m.db.npart;
    const BlastSnapshot& s = m.blast.snapshot[0];
    sph_blast_candidate_pair_count(m.blast, 1);
    state.counters["particles"] = n;
    state.counters["sources"] = s.blast_source_count;
    state.counters["targets"] = s.blast_target_count;
    state.counters["pairs"] = static_cast<double>(s.blast_candidate_pair_count);
    state.counters["ns_per_particle"] = benchmark::Counter(
        n * state.iterations() * 1e-9, benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
    state.counters["allocs_per_call"] =
        static_cast<double>(allocations_in_loop) / static_cast<double>(state.iterations());
    struct rusage usage {};
    getrusage(RUSAGE_SELF, &usage);
    state.counters["peak_rss_per_particle"] = usage.ru_maxrss * 1024.0 / n;
}

template <class Body>
void run(benchmark::State& state, Body body) {
    Model& m = model(static_cast<int>(state.range(0)));
    const long long before = allocations.load();
    for (auto _ : state) body(m);
    add_counters(state, m, allocations.load() - before);
}

// One evaluation: the snapshot (region scan and pair count), then the loads.
void BM_ComputeAt(benchmark::State& state) {
    run(state, [](Model& m) { check(sph_blast_load_compute_at(m, m.control.current_time)); });
}

// The blast work of one step, in the step's order.
void BM_StepLoads(benchmark::State& state) {
    run(state, [](Model& m) {
        const double t = m.control.current_time;
        check(sph_blast_load_clear(m));
        check(sph_blast_load_compute_at(m, t));
        check(sph_blast_load_apply_to_acceleration(m));
        check(sph_blast_load_compute_at(m, t + step_dt));
    });
}

// The source-target pair count of the snapshot's positions alone, as a
// summary asks for it (the step itself does not count pairs).
void BM_CountPairs(benchmark::State& state) {
    run(state, [](Model& m) {
        benchmark::DoNotOptimize(sph_blast_count_point_pairs(m.blast.source_positions[0],
                                                             m.blast.target_positions[0],
                                                             m.blast.regions[0].blast_radius));
    });
}

void BM_FullStep(benchmark::State& state) {
    run(state, [](Model& m) { check(sph_solver_advance_explicit(m, step_dt)); });
}

}  // namespace

// Registered size by size so that each model is built once.
int main(int argc, char** argv) {
    using Fn = void (*)(benchmark::State&);
    const std::pair<const char*, Fn> parts[] = {
        {"Blast/ComputeAt", BM_ComputeAt},
        {"Blast/StepLoads", BM_StepLoads},
        {"Blast/CountPairs", BM_CountPairs},
        {"Blast/FullStep", BM_FullStep},
    };
    for (int n : {110000, 1000000}) {
        for (const auto& [name, fn] : parts) {
            benchmark::RegisterBenchmark(name, fn)
                ->Arg(n)
                ->Unit(benchmark::kMillisecond)
                ->MinTime(n == 1000000 ? 2.0 : 0.5);
        }
    }
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    std::error_code ec;
    for (int n : {110000, 1000000}) std::filesystem::remove(deck_path(n), ec);
    return 0;
}
