// Water step on cubic lattices of about 10k, 100k and 1M particles (h = 1.3
// spacing, about 70 neighbors inside the block): the full explicit step and
// its parts, in ns per particle-step, with neighbors and bytes per particle;
// the step and its pair pass also with density diffusion.
//
//   build/bench/bench_step --benchmark_counters_tabular=true

#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <random>

#include "bench_memory.hpp"
#include "bench_water_lattice.hpp"
#include "core/sph_model.hpp"
#include "particle/sph_neighbor.hpp"
#include "solver/sph_solver_explicit.hpp"
#include "water/sph_water.hpp"

namespace {

// The water lattice, stepped once.
std::unique_ptr<Model> make_lattice(int side) {
    auto m = make_water_lattice(side);
    // One step sizes every buffer; later steps allocate nothing.
    if (sph_solver_advance_explicit(*m, 1e-7) != 0) std::abort();
    return m;
}

Model& lattice(int side) {
    static std::map<int, std::unique_ptr<Model>> cache;
    auto& slot = cache[side];
    if (!slot) {
        cache.clear();  // keep one model alive at a time
        auto& fresh = cache[side];
        fresh = make_lattice(side);
        return *fresh;
    }
    return *slot;
}

// Bytes the model holds per particle: particle arrays, neighbor lists and
// search workspace, and the water step workspace.
double bytes_per_particle(const Model& m) {
    const DbState& db = m.db;
    double b = particle_and_neighbor_bytes(m) + held(m.water.workspace.record) +
               held(m.water.workspace.active) + held(m.water.workspace.pair_columns) +
               held(m.water.workspace.volume);
    return b / db.npart;
}

void add_counters(benchmark::State& state, const Model& m) {
    const double n = m.db.npart;
    state.counters["particles"] = n;
    state.counters["ns_per_particle"] = benchmark::Counter(
        n * state.iterations() * 1e-9, benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
    int max_neighbors = 0;
    double average = 0.0;
    sph_neighbor_get_stats(m, max_neighbors, average);
    state.counters["neighbors"] = average;
    state.counters["bytes_per_particle"] = bytes_per_particle(m);
    struct rusage usage {};
    getrusage(RUSAGE_SELF, &usage);
    state.counters["peak_rss_per_particle"] = usage.ru_maxrss * 1024.0 / n;
}

void check(int status) {
    if (status != 0) std::abort();
}

void BM_FullStep(benchmark::State& state) {
    Model& m = lattice(static_cast<int>(state.range(0)));
    for (auto _ : state) check(sph_solver_advance_explicit(m, 1e-7));
    add_counters(state, m);
}

void BM_NeighborRebuild(benchmark::State& state) {
    Model& m = lattice(static_cast<int>(state.range(0)));
    for (auto _ : state) check(sph_neighbor_rebuild(m));
    add_counters(state, m);
}

void BM_Pressure(benchmark::State& state) {
    Model& m = lattice(static_cast<int>(state.range(0)));
    for (auto _ : state) check(sph_water_update_pressure(m));
    add_counters(state, m);
}

// The step's fused pass: density rate and acceleration together.
void BM_DensityRateAndAcceleration(benchmark::State& state) {
    Model& m = lattice(static_cast<int>(state.range(0)));
    bool done = false;
    for (auto _ : state) check(sph_water_compute_density_rate_and_acceleration(m, done));
    if (!done) std::abort();
    add_counters(state, m);
}

// The same with density diffusion (delta 0.1) on the lattice under gravity,
// so with its hydrostatic correction (a pow per pair), and without the body
// force (the term alone). The lattice is shared: the settings go back after.
struct DiffusionOn {
    Model& m;
    Vec3 body_force;
    DiffusionOn(Model& model, bool gravity) : m(model), body_force(model.water.water_body_force) {
        m.water.water_density_diffusion = 0.1;
        if (!gravity) m.water.water_body_force = Vec3{};
    }
    ~DiffusionOn() {
        m.water.water_density_diffusion = 0.0;
        m.water.water_body_force = body_force;
    }
};

void BM_FullStepDiffusion(benchmark::State& state) {
    Model& m = lattice(static_cast<int>(state.range(0)));
    DiffusionOn on(m, true);
    for (auto _ : state) check(sph_solver_advance_explicit(m, 1e-7));
    add_counters(state, m);
}

void BM_DensityRateAndAccelerationDiffusion(benchmark::State& state) {
    Model& m = lattice(static_cast<int>(state.range(0)));
    DiffusionOn on(m, true);
    bool done = false;
    for (auto _ : state) check(sph_water_compute_density_rate_and_acceleration(m, done));
    if (!done) std::abort();
    add_counters(state, m);
}

void BM_DensityRateAndAccelerationDiffusionNoGravity(benchmark::State& state) {
    Model& m = lattice(static_cast<int>(state.range(0)));
    DiffusionOn on(m, false);
    bool done = false;
    for (auto _ : state) check(sph_water_compute_density_rate_and_acceleration(m, done));
    if (!done) std::abort();
    add_counters(state, m);
}

// The plain operations, one kernel evaluation per pair and quantity.
void BM_PlainDensityRate(benchmark::State& state) {
    Model& m = lattice(static_cast<int>(state.range(0)));
    for (auto _ : state) check(sph_water_compute_density_rate(m));
    add_counters(state, m);
}

// The plain density rate is the velocity-Verlet step's (twice per step).
void BM_PlainDensityRateDiffusion(benchmark::State& state) {
    Model& m = lattice(static_cast<int>(state.range(0)));
    DiffusionOn on(m, true);
    for (auto _ : state) check(sph_water_compute_density_rate(m));
    add_counters(state, m);
}

void BM_PlainAcceleration(benchmark::State& state) {
    Model& m = lattice(static_cast<int>(state.range(0)));
    for (auto _ : state) check(sph_water_compute_acceleration(m));
    add_counters(state, m);
}

void BM_Integration(benchmark::State& state) {
    Model& m = lattice(static_cast<int>(state.range(0)));
    for (auto _ : state) benchmark::DoNotOptimize(sph_solver_integrate_particles(m.db, 1e-9));
    add_counters(state, m);
}

void BM_DiagnosticsAndDt(benchmark::State& state) {
    Model& m = lattice(static_cast<int>(state.range(0)));
    double dt = 0.0;
    for (auto _ : state) {
        check(sph_water_update_diagnostics(m));
        check(sph_solver_estimate_stable_dt(m, dt));
    }
    add_counters(state, m);
}

}  // namespace

// Registered size by size so that each lattice is built once. Cube sides 22,
// 46 and 100 give 10648, 97336 and 1000000 particles.
int main(int argc, char** argv) {
    const std::pair<const char*, void (*)(benchmark::State&)> parts[] = {
        {"FullStep", BM_FullStep},
        {"NeighborRebuild", BM_NeighborRebuild},
        {"Pressure", BM_Pressure},
        {"DensityRateAndAcceleration", BM_DensityRateAndAcceleration},
        {"FullStepDiffusion", BM_FullStepDiffusion},
        {"DensityRateAndAccelerationDiffusion", BM_DensityRateAndAccelerationDiffusion},
        {"DensityRateAndAccelerationDiffusionNoGravity",
         BM_DensityRateAndAccelerationDiffusionNoGravity},
        {"PlainDensityRate", BM_PlainDensityRate},
        {"PlainDensityRateDiffusion", BM_PlainDensityRateDiffusion},
        {"PlainAcceleration", BM_PlainAcceleration},
        {"Integration", BM_Integration},
        {"DiagnosticsAndDt", BM_DiagnosticsAndDt},
    };
    for (int side : {22, 46, 100}) {
        for (const auto& [name, fn] : parts) {
            benchmark::RegisterBenchmark(name, fn)
                ->Arg(side)
                ->Unit(benchmark::kMillisecond)
                ->MinTime(side == 100 ? 2.0 : 0.5);
        }
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
