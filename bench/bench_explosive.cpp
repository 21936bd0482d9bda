// Explosive burn: a SOURCE burn of 2,000 explosive particles into 100,000
// product-gas particles, and a PHASE burn of 100,000 explosive particles that
// all turn into gas in one advance. Times the burn (`sph_explosive_advance`)
// and the full explicit step of the same models, in ns per particle of the
// model and per burning particle, with heap allocations per timed call.
//
//   build/bench/bench_explosive --benchmark_counters_tabular=true

#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <new>
#include <random>
#include <utility>

#include "bench_alloc_counter.hpp"
#include "core/sph_model.hpp"
#include "explosive/sph_explosive.hpp"
#include "gas/sph_gas.hpp"
#include "particle/sph_neighbor.hpp"
#include "solver/sph_solver_explicit.hpp"
#include "water/sph_water.hpp"

namespace {

constexpr double dx = 0.01;
constexpr double he_rho = 1630.0;
constexpr double he_energy = 4.3e6;
constexpr double he_velocity = 6930.0;
// The SOURCE model's product gas around the charge: dilute, p = omega e0 / V
// = 0.3 * 1e5 / 1000 = 30 Pa.
constexpr double cloud_rho = 1.63;
constexpr double cloud_e = 1.0e5;
// A SOURCE burn time long against every timed call: every particle is past
// its detonation time and releases dt / 1 s of its mass in each call, so each
// call does the same work (2,000 partial releases) and none finishes.
constexpr double source_burn_time = 1.0;
// The burnt PHASE model holds JWL gas at 7.1 GPa that pushes its faces out at
// about 4e8 m/s^2; at this dt the lattice keeps its pairs over every timed
// step. The cost of a step does not depend on dt.
constexpr double source_dt = 1e-9;
constexpr double phase_dt = 1e-10;
// Later than every detonation time of both charges (at most 1.2e-4 s).
constexpr double start_time = 1e-3;

void check(int status) {
    if (status != 0) std::abort();
}

// SOURCE: 50 x 50 x 40 gas particles and a 20 x 10 x 10 charge on their top
// face, ignited at its centre. PHASE: 50 x 50 x 40 explosive particles with
// burn time 0, ignited at a corner. Burnt: the PHASE model after the step
// that turned all of it into product gas.
enum class Kind { source, phase, burnt };

void add_materials(Model& m, double product_density, double burn_time,
                   std::string_view conversion) {
    check(sph_db_add_material(m, "Products", "GAS"));
    check(sph_db_set_material_density(m, "Products", product_density));
    sph_gas_note_material(m, "Products", "GAS");
    check(sph_gas_set_eos(m, "JWL", "Products", he_rho, 0.0, cloud_e, 0.0, 3.7e11, 3.2e9, 4.15,
                          0.95, 0.3, 0.0));
    check(sph_db_add_material(m, "HE", "EXPLOSIVE"));
    check(sph_db_set_material_density(m, "HE", he_rho));
    sph_explosive_note_material(m, "HE", "EXPLOSIVE");
    check(sph_explosive_set_control(m, "HE", "PROGRAMMED_BURN", he_velocity, he_energy, burn_time,
                                    "Products", conversion));
}

void place(DbState& db, int i, int ix, int iy, int iz) {
    db.x[i] = db.x0[i] = Vec3{ix * dx, iy * dx, iz * dx};
    db.h[i] = 1.3 * dx;
    db.volume[i] = dx * dx * dx;
}

void make_explosive(DbState& db, int i) {
    db.particle_phase[i] = sph_phase_explosive;
    db.material_id[i] = 2;
    db.mass[i] = he_rho * dx * dx * dx;  // the build keeps a positive mass
}

std::unique_ptr<Model> make_model(Kind kind) {
    auto m = std::make_unique<Model>();
    sph_water_initialize(m->water);
    sph_gas_initialize(*m);
    sph_explosive_initialize(m->explosive);
    const int side = 50, layers = 40;
    const int lattice = side * side * layers;
    const bool source = kind == Kind::source;
    const int n = lattice + (source ? 2000 : 0);
    check(sph_db_allocate(*m, n));
    std::mt19937 rng(42);
    std::uniform_real_distribution<double> u(-1.0, 1.0);
    DbState& db = m->db;
    if (source) {
        add_materials(*m, cloud_rho, source_burn_time, "SOURCE");
        for (int i = 0; i < lattice; ++i) {
            place(db, i, i % side, (i / side) % side, i / (side * side));
            db.particle_phase[i] = sph_phase_gas;
            db.material_id[i] = 1;
            db.rho[i] = cloud_rho * (1.0 + 0.001 * u(rng));
            db.mass[i] = cloud_rho * dx * dx * dx;
            db.internal_energy[i] = cloud_e;
            db.v[i] = Vec3{0.1 * u(rng), 0.1 * u(rng), 0.1 * u(rng)};
        }
        for (int k = 0; k < 2000; ++k) {
            const int i = lattice + k;
            place(db, i, 15 + k % 20, 20 + (k / 20) % 10, layers + k / 200);
            make_explosive(db, i);
            db.v[i] = Vec3{0.1 * u(rng), 0.1 * u(rng), 0.1 * u(rng)};
        }
        check(sph_explosive_set_ignition(*m, "HE", Vec3{0.245, 0.245, 0.445}, 0.0));
    } else {
        add_materials(*m, he_rho, 0.0, "PHASE");
        for (int i = 0; i < lattice; ++i) {
            place(db, i, i % side, (i / side) % side, i / (side * side));
            make_explosive(db, i);
        }
        check(sph_explosive_set_ignition(*m, "HE", Vec3{0.0, 0.0, 0.0}, 0.0));
    }
    check(sph_gas_update_pressure(*m));
    check(sph_explosive_build(*m));
    m->control.current_time = start_time;
    return m;
}

// What a PHASE burn changes, kept so that every timed burn starts from the
// unburnt charge. Restoring copies into the model's own buffers.
struct Unburnt {
    std::vector<int> phase, material;
    std::vector<double> rho, volume, energy, pressure;
    ExplosiveState explosive;
};

Unburnt save(const Model& m) {
    const DbState& db = m.db;
    return Unburnt{db.particle_phase,  db.material_id, db.rho,     db.volume,
                   db.internal_energy, db.pressure,    m.explosive};
}

void restore(Model& m, const Unburnt& u) {
    DbState& db = m.db;
    std::copy(u.phase.begin(), u.phase.end(), db.particle_phase.begin());
    std::copy(u.material.begin(), u.material.end(), db.material_id.begin());
    std::copy(u.rho.begin(), u.rho.end(), db.rho.begin());
    std::copy(u.volume.begin(), u.volume.end(), db.volume.begin());
    std::copy(u.energy.begin(), u.energy.end(), db.internal_energy.begin());
    std::copy(u.pressure.begin(), u.pressure.end(), db.pressure.begin());
    m.explosive = u.explosive;
}

struct Setup {
    std::unique_ptr<Model> model;
    Unburnt unburnt;  // PHASE only
};

Setup make_setup(Kind kind) {
    Setup s;
    s.model = make_model(kind == Kind::burnt ? Kind::phase : kind);
    Model& m = *s.model;
    if (kind == Kind::source) {
        // One step sizes every buffer; later steps allocate nothing.
        check(sph_solver_advance_explicit(m, source_dt));
        int count = 0, reacted = 0;
        std::array<double, 3> lambda{};
        std::array<double, 5> released{};
        std::array<double, 2> times{};
        sph_explosive_get_summary(m, count, reacted, lambda, released, times);
        if (reacted != 2000 || !(lambda[1] < 1.0)) std::abort();  // all burning, none done
        return s;
    }
    s.unburnt = save(m);
    // One converting step sizes the buffers (gas sources, neighbor search).
    check(sph_solver_advance_explicit(m, phase_dt));
    if (m.explosive.explosive_converted_count != m.db.npart) std::abort();
    if (kind == Kind::phase) restore(m, s.unburnt);
    return s;
}

Setup& setup(Kind kind) {
    static std::map<Kind, Setup> cache;
    if (auto it = cache.find(kind); it != cache.end()) return it->second;
    cache.clear();  // keep one model alive at a time
    return cache[kind] = make_setup(kind);
}

void add_counters(benchmark::State& state, const Model& m, int burning, long long allocs) {
    const double n = m.db.npart;
    const double calls = static_cast<double>(state.iterations());
    state.counters["particles"] = n;
    state.counters["ns_per_particle"] = benchmark::Counter(
        n * calls * 1e-9, benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
    state.counters["burning"] = burning;
    if (burning > 0) {
        state.counters["ns_per_burning"] = benchmark::Counter(
            burning * calls * 1e-9, benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
    }
    int max_neighbors = 0;
    double average = 0.0;
    sph_neighbor_get_stats(m, max_neighbors, average);
    state.counters["neighbors"] = average;
    state.counters["allocs_per_call"] = static_cast<double>(allocs) / calls;
    struct rusage usage {};
    getrusage(RUSAGE_SELF, &usage);
    state.counters["peak_rss_per_particle"] = usage.ru_maxrss * 1024.0 / n;
}

// Times `body` on the model of `kind`; a PHASE model gets its unburnt charge
// back before every call, outside the timing. `burning`: particles that
// release in each call.
template <class Body>
void run(benchmark::State& state, Kind kind, int burning, Body body) {
    Setup& s = setup(kind);
    Model& m = *s.model;
    long long allocs = 0;
    for (auto _ : state) {
        if (kind == Kind::phase) {
            state.PauseTiming();
            restore(m, s.unburnt);
            state.ResumeTiming();
        }
        const long long before = allocations.load();
        body(m);
        allocs += allocations.load() - before;
    }
    if (kind == Kind::phase && m.explosive.explosive_converted_count != m.db.npart) std::abort();
    add_counters(state, m, burning, allocs);
}

// The burn at the end-of-step time of a step of dt, as the step calls it.
void advance_burn(Model& m, double dt) {
    m.control.current_time += dt;
    check(sph_explosive_advance(m, dt, m.control.current_time));
}

void BM_SourceBurn(benchmark::State& state) {
    run(state, Kind::source, 2000, [](Model& m) { advance_burn(m, source_dt); });
}

void BM_SourceFullStep(benchmark::State& state) {
    run(state, Kind::source, 2000,
        [](Model& m) { check(sph_solver_advance_explicit(m, source_dt)); });
}

void BM_NeighborRebuild(benchmark::State& state) {
    const Kind kind = static_cast<Kind>(state.range(0));
    run(state, kind, 0, [](Model& m) { check(sph_neighbor_rebuild(m)); });
}

// The step's fused gas pass, with the check that selects it.
void BM_GasDensityRateAndAcceleration(benchmark::State& state) {
    const Kind kind = static_cast<Kind>(state.range(0));
    run(state, kind, 0, [](Model& m) {
        if (!sph_gas_pair_pass_ready(m)) std::abort();
        sph_gas_compute_density_rate_and_acceleration(m);
    });
}

// The gas sources the burn filled, applied, and the gas pressure after them.
void BM_SourceGasSources(benchmark::State& state) {
    run(state, Kind::source, 0,
        [](Model& m) { check(sph_gas_apply_sources_explicit(m, source_dt)); });
}

void BM_PhaseBurn(benchmark::State& state) {
    run(state, Kind::phase, 100000, [](Model& m) { advance_burn(m, phase_dt); });
}

// The step in which the whole charge turns into gas.
void BM_PhaseFullStep(benchmark::State& state) {
    run(state, Kind::phase, 100000,
        [](Model& m) { check(sph_solver_advance_explicit(m, phase_dt)); });
}

// After the burn: the gas step of the same model, and what the burn still
// costs per step with nothing left to burn.
void BM_BurntFullStep(benchmark::State& state) {
    run(state, Kind::burnt, 0, [](Model& m) { check(sph_solver_advance_explicit(m, phase_dt)); });
}

void BM_BurntBurn(benchmark::State& state) {
    run(state, Kind::burnt, 0, [](Model& m) { advance_burn(m, phase_dt); });
}

}  // namespace

// Registered model by model so that each is built once.
int main(int argc, char** argv) {
    using Fn = void (*)(benchmark::State&);
    const auto add = [](const char* name, Fn fn, Kind kind) {
        benchmark::RegisterBenchmark(name, fn)
            ->Arg(static_cast<int>(kind))
            ->Unit(benchmark::kMillisecond)
            ->MinTime(0.5);
    };
    add("Source/Burn", BM_SourceBurn, Kind::source);
    add("Source/FullStep", BM_SourceFullStep, Kind::source);
    add("Source/NeighborRebuild", BM_NeighborRebuild, Kind::source);
    add("Source/GasDensityRateAndAcceleration", BM_GasDensityRateAndAcceleration, Kind::source);
    add("Source/GasSources", BM_SourceGasSources, Kind::source);
    add("Phase/Burn", BM_PhaseBurn, Kind::phase);
    add("Phase/FullStep", BM_PhaseFullStep, Kind::phase);
    add("Burnt/FullStep", BM_BurntFullStep, Kind::burnt);
    add("Burnt/Burn", BM_BurntBurn, Kind::burnt);
    add("Burnt/NeighborRebuild", BM_NeighborRebuild, Kind::burnt);
    add("Burnt/GasDensityRateAndAcceleration", BM_GasDensityRateAndAcceleration, Kind::burnt);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
