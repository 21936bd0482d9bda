// Solid step on steel lattices of 2x10^4, 2x10^5 and 10^6 particles built
// from a generated deck (spacing 5 mm, h = 1.3 spacing, about 70 reference
// neighbors inside the block): the read and build of the deck, the full
// explicit step and its parts in ns per particle-step, bytes per particle and
// heap allocations per timed call.
//
//   build/bench/bench_solid --benchmark_counters_tabular=true
//   build/bench/bench_solid --benchmark_filter='/1000000$'   # peak memory of one size

#include <benchmark/benchmark.h>
#include <sys/resource.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>
#include <new>
#include <random>
#include <string>
#include <utility>

#include "bench_alloc_counter.hpp"
#include "bench_memory.hpp"
#include "core/sph_model.hpp"
#include "particle/sph_neighbor.hpp"
#include "solid/sph_solid.hpp"
#include "solid/sph_solid_dynamics.hpp"
#include "solver/sph_solver_explicit.hpp"

namespace {

constexpr double spacing = 0.005;
// The stable step is about h / c = 1.1e-6 s (c = 5856 m/s). At this dt the
// random velocities below strain the lattice by about 4e-6 in a thousand
// steps, far below yield (4e-3), so every size times the same (elastic)
// branch of the Johnson-Cook update however many steps it runs.
constexpr double elastic_dt = 1e-8;
// The plastic variant: a simple shear v_x = rate (z - z_mid) adds 5e-4 of
// shear strain per step, so after a few steps every particle yields in every
// step; in the timed steps the lattice shears by well under 10 %.
constexpr double shear_rate = 5e3;
constexpr double plastic_dt = 1e-7;

void check(int status) {
    if (status != 0) std::abort();
}

struct Dims {
    int nx, ny, nz;
};

// Near-cubic boxes of exactly 2x10^4, 2x10^5 and 10^6 particles.
Dims dims(int n) {
    switch (n) {
        case 20000:
            return {25, 25, 32};
        case 200000:
            return {50, 50, 80};
        case 1000000:
            return {100, 100, 100};
        default:
            std::abort();
    }
}

std::filesystem::path deck_path(int n) {
    return std::filesystem::temp_directory_path() /
           ("velunor_bench_solid_" + std::to_string(::getpid()) + "_" + std::to_string(n) + ".inp");
}

// A steel lattice sectioned through one generated set: 4340 steel with
// Johnson-Cook flow and failure, particle size from the solid control.
// Written once per process.
const std::string& deck_for(int n) {
    static std::map<int, std::string> paths;
    if (auto it = paths.find(n); it != paths.end()) return it->second;
    const std::filesystem::path path = deck_path(n);
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (f == nullptr) std::abort();
    const Dims d = dims(n);
    std::fprintf(f, "*HEADING\nsteel lattice of %d nodes\n*NODE\n", n);
    int id = 0;
    for (int k = 0; k < d.nz; ++k) {
        for (int j = 0; j < d.ny; ++j) {
            for (int i = 0; i < d.nx; ++i) {
                std::fprintf(f, "%d, %.6f, %.6f, %.6f\n", ++id, i * spacing, j * spacing,
                             k * spacing);
            }
        }
    }
    std::fprintf(f, "*NSET, NSET=BLOCK, GENERATE\n1, %d\n", n);
    std::fprintf(f, "*MATERIAL, NAME=Steel, TYPE=SOLID\n*DENSITY\n7850\n*ELASTIC\n2e11, 0.3\n");
    std::fprintf(f, "*PLASTIC\n792e6, 510e6, 0.26, 0.014, 1.03, 1.0, 293, 1793\n");
    std::fprintf(f, "*DAMAGE INITIATION\n-0.8, 2.1, -0.5, 0.002, 0.61\n");
    std::fprintf(f, "*SOLID SECTION, NSET=BLOCK, MATERIAL=Steel\n");
    std::fprintf(f, "*VELUNOR SOLID CONTROL, MATERIAL=Steel, H=%.6g, VOLUME=%.6g\n", 1.3 * spacing,
                 spacing * spacing * spacing);
    std::fprintf(f, "*VELUNOR TIME CONTROL, DT=1e-7, TIME=1e-3, STEPS=1000\n");
    std::fclose(f);
    return paths.emplace(n, path.string()).first->second;
}

std::unique_ptr<Model> fresh_model() {
    auto m = std::make_unique<Model>();
    sph_water_initialize(m->water);
    sph_gas_initialize(*m);
    sph_explosive_initialize(m->explosive);
    sph_solid_initialize(m->solid);
    return m;
}

enum class Kind { elastic, plastic };

std::unique_ptr<Model> make_model(int n, Kind kind) {
    auto m = fresh_model();
    const std::string& path = deck_for(n);
    check(sph_input_read(*m, path));
    check(sph_input_build_model(*m));
    DbState& db = m->db;
    if (kind == Kind::elastic) {
        // Small random velocities: every particle gets a strain increment, a
        // stress update and a Johnson-Cook flow-stress check in each step.
        std::mt19937 rng(42);
        std::uniform_real_distribution<double> u(-1.0, 1.0);
        for (int i = 0; i < db.npart; ++i) db.v[i] = Vec3{0.1 * u(rng), 0.1 * u(rng), 0.1 * u(rng)};
        // One step sizes every buffer; later steps allocate nothing.
        check(sph_solver_advance_explicit(*m, elastic_dt));
        return m;
    }
    const double z_mid = 0.5 * (dims(n).nz - 1) * spacing;
    for (int i = 0; i < db.npart; ++i) db.v[i] = Vec3{shear_rate * (db.x0[i].z - z_mid), 0, 0};
    // Shear until every particle yields in the step.
    for (int step = 0;; ++step) {
        if (step == 50) std::abort();
        check(sph_solver_advance_explicit(*m, plastic_dt));
        bool all = true;
        for (int i = 0; i < db.npart && all; ++i) all = m->solid.solid_plastic_strain_rate[i] > 0.0;
        if (all) break;
    }
    return m;
}

std::map<std::pair<int, Kind>, std::unique_ptr<Model>>& models() {
    static std::map<std::pair<int, Kind>, std::unique_ptr<Model>> cache;
    return cache;
}

Model& model(int n, Kind kind) {
    auto& cache = models();
    const auto key = std::make_pair(n, kind);
    if (auto it = cache.find(key); it != cache.end()) return *it->second;
    cache.clear();  // keep one model alive at a time
    return *(cache[key] = make_model(n, kind));
}

// Bytes the model holds per particle: particle arrays, neighbor lists and
// search workspace, the solid state and its reference neighbors.
double bytes_per_particle(const Model& m) {
    const DbState& db = m.db;
    double b = particle_and_neighbor_bytes(m);
    const SolidState& s = m.solid;
    b += held(s.solid_stress) + held(s.solid_effective_stress) + held(s.solid_strain) +
         held(s.solid_plastic_strain) + held(s.solid_plastic_strain_rate) +
         held(s.solid_temperature) + held(s.solid_damage) + held(s.solid_softening) +
         held(s.solid_internal_energy) + held(s.solid_reference_volume) +
         held(s.solid_deformation_gradient) + held(s.solid_correction_matrix) +
         held(s.solid_correction_determinant) + held(s.solid_velocity_gradient) +
         held(s.solid_strain_rate) + held(s.solid_strain_rate_eq) + held(s.solid_acc_internal) +
         held(s.solid_reference_neighbor_count) + held(s.solid_reference_degenerate) +
         held(s.solid_correction_status) + held(s.solid_failure_status) + held(s.reference_offset) +
         held(s.reference_neighbors);
    return b / db.npart;
}

double peak_rss_bytes() {
    struct rusage usage {};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss * 1024.0;
}

void add_counters(benchmark::State& state, const Model& m, long long allocations_in_loop) {
    const double n = m.db.npart;
    state.counters["particles"] = n;
    state.counters["ns_per_particle"] = benchmark::Counter(
        n * state.iterations() * 1e-9, benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
    int max_neighbors = 0;
    double average = 0.0;
    sph_neighbor_get_stats(m, max_neighbors, average);
    state.counters["neighbors"] = average;
    const SolidState& s = m.solid;
    state.counters["reference_neighbors"] =
        static_cast<double>(s.reference_neighbors.size()) / static_cast<double>(m.db.npart);
    state.counters["bytes_per_particle"] = bytes_per_particle(m);
    state.counters["allocs_per_call"] =
        static_cast<double>(allocations_in_loop) / static_cast<double>(state.iterations());
    state.counters["peak_rss_per_particle"] = peak_rss_bytes() / n;
}

template <class Body>
void run(benchmark::State& state, Kind kind, Body body) {
    Model& m = model(static_cast<int>(state.range(0)), kind);
    const long long before = allocations.load();
    for (auto _ : state) body(m);
    add_counters(state, m, allocations.load() - before);
}

// Read and build of the deck into a fresh model, timed apart; the step
// models are dropped first so that the peak memory is this build's.
void BM_ReadAndBuild(benchmark::State& state) {
    const int n = static_cast<int>(state.range(0));
    const std::string& path = deck_for(n);
    double read_s = 0.0, build_s = 0.0;
    models().clear();
    std::unique_ptr<Model> m;
    for (auto _ : state) {
        m.reset();
        m = fresh_model();
        const auto t0 = std::chrono::steady_clock::now();
        check(sph_input_read(*m, path));
        const auto t1 = std::chrono::steady_clock::now();
        check(sph_input_build_model(*m));
        const auto t2 = std::chrono::steady_clock::now();
        read_s += std::chrono::duration<double>(t1 - t0).count();
        build_s += std::chrono::duration<double>(t2 - t1).count();
    }
    const double calls = static_cast<double>(state.iterations());
    state.counters["read_ms"] = 1e3 * read_s / calls;
    state.counters["build_ms"] = 1e3 * build_s / calls;
    state.counters["deck_MB"] =
        static_cast<double>(std::filesystem::file_size(path)) / (1024.0 * 1024.0);
    add_counters(state, *m, 0);
    state.counters.erase("allocs_per_call");
    state.counters.erase("ns_per_particle");
}

// The build's solid parts on the built model: the reference neighbors from
// their grid alone, and the whole reference state (reference volumes, the
// neighbors again, correction matrices).
void BM_ReferenceNeighbors(benchmark::State& state) {
    run(state, Kind::elastic, [](Model& m) { check(sph_solid_find_reference_neighbors(m)); });
}

void BM_ReferenceState(benchmark::State& state) {
    run(state, Kind::elastic, [](Model& m) { check(sph_solid_build_reference_state(m)); });
}

void BM_FullStep(benchmark::State& state) {
    run(state, Kind::elastic, [](Model& m) { check(sph_solver_advance_explicit(m, elastic_dt)); });
}

void BM_NeighborRebuild(benchmark::State& state) {
    run(state, Kind::elastic, [](Model& m) { check(sph_neighbor_rebuild(m)); });
}

// Pair forces on the reference geometry, then a = a_int + body force.
void BM_Acceleration(benchmark::State& state) {
    run(state, Kind::elastic, [](Model& m) { check(sph_solid_compute_acceleration(m)); });
}

void BM_VelocityGradient(benchmark::State& state) {
    run(state, Kind::elastic, [](Model& m) { check(sph_solid_compute_velocity_gradient(m)); });
}

// Velocity gradient, then per particle strain increment, deformation
// gradient and the material update.
void BM_MaterialAdvance(benchmark::State& state) {
    run(state, Kind::elastic, [](Model& m) { check(sph_solid_advance_material(m, elastic_dt)); });
}

void BM_Integration(benchmark::State& state) {
    run(state, Kind::elastic,
        [](Model& m) { benchmark::DoNotOptimize(sph_solver_integrate_particles(m.db, 1e-12)); });
}

void BM_Diagnostics(benchmark::State& state) {
    run(state, Kind::elastic, [](Model& m) { check(sph_solid_update_diagnostics(m)); });
}

// The stable step a run asks for before every step: it recomputes the solid
// accelerations before it measures them.
void BM_StableDt(benchmark::State& state) {
    run(state, Kind::elastic, [](Model& m) {
        double dt = 0.0;
        check(sph_solver_estimate_stable_dt(m, dt));
    });
}

void BM_PlasticFullStep(benchmark::State& state) {
    run(state, Kind::plastic, [](Model& m) { check(sph_solver_advance_explicit(m, plastic_dt)); });
}

void BM_PlasticMaterialAdvance(benchmark::State& state) {
    run(state, Kind::plastic, [](Model& m) { check(sph_solid_advance_material(m, plastic_dt)); });
}

}  // namespace

// Registered size by size so that each lattice is built once.
int main(int argc, char** argv) {
    using Fn = void (*)(benchmark::State&);
    const std::pair<const char*, Fn> parts[] = {
        {"Solid/FullStep", BM_FullStep},
        {"Solid/NeighborRebuild", BM_NeighborRebuild},
        {"Solid/Acceleration", BM_Acceleration},
        {"Solid/VelocityGradient", BM_VelocityGradient},
        {"Solid/MaterialAdvance", BM_MaterialAdvance},
        {"Solid/Integration", BM_Integration},
        {"Solid/Diagnostics", BM_Diagnostics},
        {"Solid/StableDt", BM_StableDt},
        {"Solid/ReferenceNeighbors", BM_ReferenceNeighbors},
        {"Solid/ReferenceState", BM_ReferenceState},
    };
    const auto add = [](const char* name, Fn fn, int n) {
        return benchmark::RegisterBenchmark(name, fn)
            ->Arg(n)
            ->Unit(benchmark::kMillisecond)
            ->MinTime(n == 1000000 ? 2.0 : 0.5);
    };
    for (int n : {20000, 200000, 1000000}) {
        add("Solid/ReadAndBuild", BM_ReadAndBuild, n)->UseRealTime();
        for (const auto& [name, fn] : parts) add(name, fn, n);
    }
    add("Solid/PlasticFullStep", BM_PlasticFullStep, 200000);
    add("Solid/PlasticMaterialAdvance", BM_PlasticMaterialAdvance, 200000);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    std::error_code ec;
    for (int n : {20000, 200000, 1000000}) std::filesystem::remove(deck_path(n), ec);
    return 0;
}
