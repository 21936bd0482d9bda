// Cost per unit of simulated time of the two time integrators: the
// documented scheme (one fused density-rate and acceleration pass per step)
// and velocity Verlet (forces at the new positions, which the next step
// reuses, and density rates at both ends of the step). Each iteration is one
// step as the run loop takes it: the stable step estimated, then the step.
// Reports ns per particle-step, the mean step and simulated microseconds per
// wall second; the ratio of the two schemes' `us_simulated_per_s` is the cost
// ratio per simulated time.
//
//   build/release/bench/bench_integrator --benchmark_counters_tabular=true
//
// Models: a water cube of side^3 particles (h = 1.3 spacing, about 70
// neighbours inside, small random velocities and densities) and the bundled
// charge_near_plate example after its burn (product gas and a steel plate).

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <fstream>
#include <memory>
#include <random>
#include <sstream>
#include <string>

#include "bench_water_lattice.hpp"
#include "core/sph_model.hpp"
#include "interface/sph_api.hpp"
#include "solver/sph_solver_explicit.hpp"
#include "solver/sph_solver_state.hpp"
#include "water/sph_water.hpp"

namespace {

void check(int status) {
    if (status != 0) std::abort();
}

std::unique_ptr<Model> water_cube(int side, int integrator) {
    auto m = make_water_lattice(side);
    m->control.integrator = integrator;
    m->control.safety_factor = 0.25;
    sph_solver_reset(m->solver);
    return m;
}

std::unique_ptr<Model> charge_near_plate(int integrator) {
    auto m = std::make_unique<Model>();
    check(sph_initialize(*m));
    check(sph_read_inp(*m, std::string(VELUNOR_SOURCE_DIR) + "/examples/charge_near_plate.inp"));
    check(sph_build_model(*m));
    m->control.integrator = integrator;
    sph_solver_reset(m->solver);
    // Past the burn (25 us), so every step moves gas and solid.
    while (m->control.current_time < 3e-5) {
        double dt = 0.0;
        check(sph_estimate_stable_dt(*m, dt));
        check(sph_advance_explicit(*m, dt));
    }
    return m;
}

void run_steps(benchmark::State& state, Model& m) {
    const double t0 = m.control.current_time;
    for (auto _ : state) {
        double dt = 0.0;
        check(sph_solver_estimate_stable_dt(m, dt));
        check(sph_solver_advance_explicit(m, dt));
    }
    const double n = m.db.npart;
    const double simulated = m.control.current_time - t0;
    state.counters["particles"] = n;
    state.counters["ns_per_particle"] = benchmark::Counter(
        n * state.iterations() * 1e-9, benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
    state.counters["mean_dt_us"] = 1e6 * simulated / static_cast<double>(state.iterations());
    state.counters["us_simulated_per_s"] =
        benchmark::Counter(1e6 * simulated, benchmark::Counter::kIsRate);
}

void BM_WaterCube(benchmark::State& state) {
    static std::unique_ptr<Model> m;
    static int key = -1;
    const int side = static_cast<int>(state.range(0));
    const int integrator = static_cast<int>(state.range(1));
    if (key != side * 10 + integrator) {
        m = water_cube(side, integrator);
        key = side * 10 + integrator;
        // A few steps first: Verlet's first step computes its start forces.
        for (int k = 0; k < 3; ++k) {
            double dt = 0.0;
            check(sph_solver_estimate_stable_dt(*m, dt));
            check(sph_solver_advance_explicit(*m, dt));
        }
    }
    state.SetLabel(integrator == sph_integrator_verlet ? "verlet" : "default");
    run_steps(state, *m);
}
BENCHMARK(BM_WaterCube)
    ->ArgsProduct({{30, 60}, {sph_integrator_default, sph_integrator_verlet}})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

void BM_ChargeNearPlate(benchmark::State& state) {
    static std::unique_ptr<Model> m;
    static int key = -1;
    const int integrator = static_cast<int>(state.range(0));
    if (key != integrator) {
        if (m) check(sph_finalize(*m));
        m = charge_near_plate(integrator);
        key = integrator;
    }
    state.SetLabel(integrator == sph_integrator_verlet ? "verlet" : "default");
    run_steps(state, *m);
}
BENCHMARK(BM_ChargeNearPlate)
    ->Arg(sph_integrator_default)
    ->Arg(sph_integrator_verlet)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
