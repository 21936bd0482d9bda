// Gas step on cubic lattices of about 10k, 100k and 1M ideal-gas particles
// (h = 1.3 spacing, about 70 neighbors inside the block), and a 1M lattice
// whose lower half is water and upper half gas: the full explicit step and
// its gas parts, in ns per particle-step, with neighbors, bytes per particle
// and heap allocations per timed call.
//
//   build/bench/bench_gas_step --benchmark_counters_tabular=true

#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <new>
#include <random>
#include <utility>

#include "bench_alloc_counter.hpp"
#include "bench_memory.hpp"
#include "core/sph_model.hpp"
#include "gas/sph_gas.hpp"
#include "particle/sph_neighbor.hpp"
#include "solver/sph_solver_explicit.hpp"
#include "water/sph_water.hpp"

namespace {

constexpr double dx = 0.01;
constexpr double gas_rho = 1.2;
constexpr double gas_e = 2.5e5;  // p = 0.4 * 1.2 * 2.5e5 = 1.2e5 Pa
// The cost of a step does not depend on dt. The gas pushes outward at its
// faces with up to about 1e7 m/s^2; at this dt the lattice moves by far less
// than a spacing over all the timed steps, so every step sees the same pairs.
constexpr double step_dt = 1e-9;

void check(int status) {
    if (status != 0) std::abort();
}

enum class Kind { gas, water_and_gas };

// A cube of side^3 particles: all gas, or water below the middle plane
// (z index < side / 2) and gas above it. Small random densities and
// velocities give the pressure, the density rate and (for water) the
// viscosity work to do.
std::unique_ptr<Model> make_lattice(int side, Kind kind) {
    auto m = std::make_unique<Model>();
    sph_water_initialize(m->water);
    sph_gas_initialize(*m);
    const int n = side * side * side;
    check(sph_db_allocate(*m, n));
    check(sph_db_add_material(*m, "Gas", "GAS"));
    sph_gas_note_material(*m, "Gas", "GAS");
    check(sph_gas_set_eos(*m, "IDEAL_GAS", "Gas", 0.0, 1.4, gas_e, 0.0, 0.0, 0.0, 0.0, 0.0, 0.0,
                          0.0));
    std::mt19937 rng(42);
    std::uniform_real_distribution<double> u(-1.0, 1.0);
    DbState& db = m->db;
    for (int i = 0; i < n; ++i) {
        const int ix = i % side, iy = (i / side) % side, iz = i / (side * side);
        db.x[i] = Vec3{ix * dx, iy * dx, iz * dx};
        db.v[i] = Vec3{0.1 * u(rng), 0.1 * u(rng), 0.1 * u(rng)};
        db.h[i] = 1.3 * dx;
        db.volume[i] = dx * dx * dx;
        if (kind == Kind::water_and_gas && iz < side / 2) {
            db.particle_phase[i] = sph_phase_water;
            db.material_id[i] = 0;
            db.rho[i] = 1000.0 * (1.0 + 0.001 * u(rng));
            db.mass[i] = 1000.0 * dx * dx * dx;
        } else {
            db.particle_phase[i] = sph_phase_gas;
            db.material_id[i] = 1;
            db.rho[i] = gas_rho * (1.0 + 0.001 * u(rng));
            db.mass[i] = gas_rho * dx * dx * dx;
            db.internal_energy[i] = gas_e;
        }
    }
    check(sph_water_set_body_force(*m, Vec3{0, 0, -9.81}));
    check(sph_gas_set_body_force(*m, Vec3{0, 0, -9.81}));
    check(sph_gas_update_pressure(*m));
    // One step sizes every buffer; later steps allocate nothing.
    check(sph_solver_advance_explicit(*m, step_dt));
    return m;
}

Model& lattice(int side, Kind kind) {
    static std::map<std::pair<int, Kind>, std::unique_ptr<Model>> cache;
    const auto key = std::make_pair(side, kind);
    if (auto it = cache.find(key); it != cache.end()) return *it->second;
    cache.clear();  // keep one model alive at a time
    return *(cache[key] = make_lattice(side, kind));
}

// Bytes the model holds per particle: particle arrays, neighbor lists and
// search workspace, the water and gas step workspaces and the gas sources.
double bytes_per_particle(const Model& m) {
    const DbState& db = m.db;
    double b = particle_and_neighbor_bytes(m) + held(m.water.workspace.record) +
               held(m.water.workspace.active) + held(m.water.workspace.pair_columns) +
               held(m.gas.workspace.active) + held(m.gas.workspace.row_of_material) +
               held(m.gas.sources.gas_mass_source) + held(m.gas.sources.gas_energy_source) +
               held(m.gas.sources.gas_momentum_source);
    return b / db.npart;
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
    state.counters["bytes_per_particle"] = bytes_per_particle(m);
    state.counters["allocs_per_call"] =
        static_cast<double>(allocations_in_loop) / static_cast<double>(state.iterations());
    struct rusage usage {};
    getrusage(RUSAGE_SELF, &usage);
    state.counters["peak_rss_per_particle"] = usage.ru_maxrss * 1024.0 / n;
}

// Runs `body` in the timed loop of the model of the benchmark's size and kind
// and adds the counters.
template <class Body>
void run(benchmark::State& state, Body body) {
    Model& m = lattice(static_cast<int>(state.range(0)), static_cast<Kind>(state.range(1)));
    const long long before = allocations.load();
    for (auto _ : state) body(m);
    add_counters(state, m, allocations.load() - before);
}

void BM_FullStep(benchmark::State& state) {
    run(state, [](Model& m) { check(sph_solver_advance_explicit(m, step_dt)); });
}

void BM_NeighborRebuild(benchmark::State& state) {
    run(state, [](Model& m) { check(sph_neighbor_rebuild(m)); });
}

void BM_GasPressure(benchmark::State& state) {
    run(state, [](Model& m) { check(sph_gas_update_pressure(m)); });
}

// The step's fused gas pass, with the check that selects it.
void BM_GasDensityRateAndAcceleration(benchmark::State& state) {
    run(state, [](Model& m) {
        if (!sph_gas_pair_pass_ready(m)) std::abort();
        sph_gas_compute_density_rate_and_acceleration(m);
    });
}

// The plain gas operations, one kernel evaluation per pair and quantity.
void BM_GasPlainDensityRate(benchmark::State& state) {
    run(state, [](Model& m) { check(sph_gas_compute_density_rate(m)); });
}

void BM_GasPlainAcceleration(benchmark::State& state) {
    run(state, [](Model& m) { check(sph_gas_compute_acceleration(m)); });
}

// The water pass of the mixed model (the fused one of the step).
void BM_WaterDensityRateAndAcceleration(benchmark::State& state) {
    run(state, [](Model& m) {
        bool done = false;
        check(sph_water_compute_density_rate_and_acceleration(m, done));
        if (!done) std::abort();
    });
}

// End-of-step gas work (sources, pressure) and the diagnostics and stable dt.
void BM_GasAfterStepAndDt(benchmark::State& state) {
    run(state, [](Model& m) {
        double dt = 0.0;
        check(sph_gas_apply_sources_explicit(m, step_dt));
        check(sph_water_update_diagnostics(m));
        check(sph_gas_update_diagnostics(m));
        check(sph_solver_estimate_stable_dt(m, dt));
    });
}

}  // namespace

// Registered size by size so that each lattice is built once. Cube sides 22,
// 46 and 100 give 10648, 97336 and 1000000 particles; the second argument is
// the kind (0 gas, 1 water below and gas above).
int main(int argc, char** argv) {
    using Fn = void (*)(benchmark::State&);
    const std::pair<const char*, Fn> gas_parts[] = {
        {"Gas/FullStep", BM_FullStep},
        {"Gas/NeighborRebuild", BM_NeighborRebuild},
        {"Gas/Pressure", BM_GasPressure},
        {"Gas/DensityRateAndAcceleration", BM_GasDensityRateAndAcceleration},
        {"Gas/PlainDensityRate", BM_GasPlainDensityRate},
        {"Gas/PlainAcceleration", BM_GasPlainAcceleration},
        {"Gas/AfterStepAndDt", BM_GasAfterStepAndDt},
    };
    const std::pair<const char*, Fn> mixed_parts[] = {
        {"Mixed/FullStep", BM_FullStep},
        {"Mixed/NeighborRebuild", BM_NeighborRebuild},
        {"Mixed/WaterDensityRateAndAcceleration", BM_WaterDensityRateAndAcceleration},
        {"Mixed/GasDensityRateAndAcceleration", BM_GasDensityRateAndAcceleration},
    };
    const auto add = [](const char* name, Fn fn, int side, int kind) {
        benchmark::RegisterBenchmark(name, fn)
            ->Args({side, kind})
            ->Unit(benchmark::kMillisecond)
            ->MinTime(side == 100 ? 2.0 : 0.5);
    };
    for (int side : {22, 46, 100}) {
        for (const auto& [name, fn] : gas_parts) add(name, fn, side, static_cast<int>(Kind::gas));
    }
    for (const auto& [name, fn] : mixed_parts) {
        add(name, fn, 100, static_cast<int>(Kind::water_and_gas));
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
