// Coupling exchange against the step it sits between, through the C API as a
// host calls it: a water block of 128 x 128 x 5 particles on a plate of
// 128 x 128 shell particles (98,304 in all), the plate cut into 32 coupling
// regions of 512 facets (4 rows each; 512 is a region's cap, 32 the number
// of regions). One exchange = per region, export the facets and send one
// load per facet (facet loads, or facet resultants of one coupling step).
// Counters: facets exchanged, allocations per iteration, and for the
// exchange followed by its step the exchange's share of the step and the
// allocations of the exchange alone.
//
//   build/release/bench/bench_coupling --benchmark_counters_tabular=true

#include <benchmark/benchmark.h>
#include <time.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "bench_alloc_counter.hpp"
#include "velunor.h"

namespace {

constexpr int side = 128;           // plate facets along x and y
constexpr int water_layers = 5;     // water particles above each facet
constexpr int rows_per_region = 4;  // 4 x 128 = 512 facets
constexpr int region_count = side / rows_per_region;
constexpr int region_facets = rows_per_region * side;
constexpr double dx = 0.75;  // with H = 1.0 about 80 water neighbors inside the block
constexpr double dt = 1.0e-5;

void check(int status) {
    if (status != 0) std::abort();
}

// Water first, then the plate, as a deck usually lists fluid and structure;
// the water needs no section (section-less nodes keep the first material).
std::string write_deck() {
    const std::filesystem::path path =
        std::filesystem::temp_directory_path() /
        ("velunor_bench_coupling_" + std::to_string(::getpid()) + ".inp");
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (f == nullptr) std::abort();
    std::fprintf(f, "*NODE\n");
    int id = 0;
    for (int k = 1; k <= water_layers; ++k) {
        for (int j = 0; j < side; ++j) {
            for (int i = 0; i < side; ++i) {
                std::fprintf(f, "%d, %g, %g, %g\n", ++id, i * dx, j * dx, k * dx);
            }
        }
    }
    const int first_shell = id + 1;
    for (int j = 0; j < side; ++j) {
        for (int i = 0; i < side; ++i) std::fprintf(f, "%d, %g, %g, 0\n", ++id, i * dx, j * dx);
    }
    std::fprintf(f,
                 "*MATERIAL, NAME=Water, TYPE=WATER\n*DENSITY\n1000\n"
                 "*MATERIAL, NAME=Skin, TYPE=SHELL\n*DENSITY\n7850\n*ELASTIC\n2e11, 0.3\n");
    for (int r = 0; r < region_count; ++r) {
        const int a = first_shell + r * region_facets;
        std::fprintf(f, "*NSET, NSET=R%02d, GENERATE\n%d, %d\n", r + 1, a, a + region_facets - 1);
        std::fprintf(f, "*SHELL SECTION, NSET=R%02d, MATERIAL=Skin, THICKNESS=0.01\n", r + 1);
        std::fprintf(f, "*VELUNOR SHELL DIRECTOR, SET=R%02d, NX=0, NY=0, NZ=1\n", r + 1);
        std::fprintf(f,
                     "*VELUNOR COUPLING REGION, NAME=R%02d, NSET=R%02d, EXPORT=FACET, "
                     "IMPORT=FACET_LOAD, DISTRIBUTION=AREA\n",
                     r + 1, r + 1);
    }
    std::fprintf(f,
                 "*VELUNOR EOS, TYPE=TAIT, MATERIAL=Water, RHO0=1000, C0=1480, GAMMA=7, "
                 "P0=1.0E5\n"
                 "*VELUNOR VISCOSITY, TYPE=MONAGHAN, MATERIAL=Water, ALPHA=0.1, BETA=0.0, "
                 "ETA2=0.01\n"
                 "*VELUNOR PARTICLE CONTROL, H=1.0, MASS=421.875, VOLUME=0.421875\n"
                 "*VELUNOR TIME CONTROL, DT=1e-5, TIME=1.0, STEPS=1000000\n");
    std::fclose(f);
    return path.string();
}

// The host's buffers of one region's facet export and loads.
struct Buffers {
    std::vector<int> ids, particle_ids, materials, sections;
    std::vector<double> vectors, areas, loads;
    Buffers()
        : ids(region_facets),
          particle_ids(region_facets),
          materials(region_facets),
          sections(region_facets),
          vectors(9 * region_facets),
          areas(region_facets),
          loads(3 * region_facets) {}
};

struct Host {
    std::vector<Buffers> regions = std::vector<Buffers>(region_count);
    int epoch = 1;  // the coupling step the library holds after a build
};

// Built once per process; every benchmark steps the same model on.
Host& host() {
    static Host* h = [] {
        check(velunor_initialize());
        const std::string deck = write_deck();
        check(velunor_read_inp(deck.c_str()));
        check(velunor_build_model());
        std::filesystem::remove(deck);
        // The model is the one described above: 32 regions of 512 facets.
        int regions = 0;
        check(velunor_coupling_get_region_count(&regions));
        if (regions != region_count) std::abort();
        for (int r = 1; r <= region_count; ++r) {
            char name[65];
            int type = 0, export_mode = 0, import_mode = 0, enabled = 0, particles = 0, facets = 0;
            check(velunor_coupling_get_region_info(r, name, sizeof name, &type, &export_mode,
                                                   &import_mode, &enabled, &particles, &facets));
            if (enabled != 1 || facets != region_facets) std::abort();
        }
        // One step sizes the step's buffers.
        check(velunor_advance_explicit(dt));
        return new Host;
    }();
    return *h;
}

enum class Kind { loads, resultants };

// One exchange over the first `regions` regions: export the facets, then a
// pressure-like load -p A n on every facet.
void exchange(Host& h, int regions, Kind kind) {
    ++h.epoch;
    for (int r = 0; r < regions; ++r) {
        Buffers& b = h.regions[static_cast<std::size_t>(r)];
        int count = 0;
        check(velunor_coupling_export_facets(r + 1, region_facets, &count, b.ids.data(),
                                             b.particle_ids.data(), b.materials.data(),
                                             b.sections.data(), b.vectors.data(), b.areas.data()));
        for (int k = 0; k < count; ++k) {
            const double* normal = &b.vectors[9 * static_cast<std::size_t>(k) + 6];
            for (int c = 0; c < 3; ++c) b.loads[3 * k + c] = -1.0e-3 * b.areas[k] * normal[c];
        }
        if (kind == Kind::loads) {
            check(velunor_coupling_apply_facet_loads(r + 1, count, b.ids.data(), b.loads.data()));
        } else {
            check(velunor_coupling_apply_facet_resultants(r + 1, count, b.ids.data(),
                                                          b.loads.data(), 2, h.epoch));
        }
    }
}

void add_counters(benchmark::State& state, int regions, long long allocated) {
    state.counters["facets"] = regions * region_facets;
    state.counters["allocs_per_iteration"] =
        static_cast<double>(allocated) / static_cast<double>(state.iterations());
}

void BM_Step(benchmark::State& state) {
    Host& h = host();
    (void)h;
    const long long before = allocations.load();
    for (auto _ : state) check(velunor_advance_explicit(dt));
    add_counters(state, 0, allocations.load() - before);
}
BENCHMARK(BM_Step)->Unit(benchmark::kMillisecond)->UseRealTime();

// The exchange alone; the loads it sends pile up (facet loads) or are
// replaced by the next coupling step (resultants), as no step consumes them.
void BM_Exchange(benchmark::State& state) {
    Host& h = host();
    const int regions = static_cast<int>(state.range(0));
    const Kind kind = state.range(1) == 0 ? Kind::loads : Kind::resultants;
    exchange(h, regions, kind);
    const long long before = allocations.load();
    for (auto _ : state) exchange(h, regions, kind);
    add_counters(state, regions, allocations.load() - before);
    check(velunor_coupling_clear_imports());
    ++h.epoch;  // the clear moved the library's epoch on by one
    state.SetLabel(kind == Kind::loads ? "facet loads" : "facet resultants");
}
BENCHMARK(BM_Exchange)
    ->ArgsProduct({{1, region_count}, {0, 1}})
    ->ArgNames({"regions", "resultants"})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// CPU time of this thread: on a shared machine the wall time of a part also
// holds the time other processes had the core.
double thread_seconds() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + 1e-9 * static_cast<double>(t.tv_nsec);
}

double wall_seconds() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// Exchange, then the step that consumes it; the two parts are timed apart,
// in CPU time (exchange_ms, step_ms, exchange_per_step) and in wall time
// (exchange_per_step_wall).
void BM_ExchangeAndStep(benchmark::State& state) {
    Host& h = host();
    const int regions = static_cast<int>(state.range(0));
    const Kind kind = state.range(1) == 0 ? Kind::loads : Kind::resultants;
    double exchanging = 0.0, stepping = 0.0, exchanging_wall = 0.0, stepping_wall = 0.0;
    long long exchange_allocations = 0;
    const long long before = allocations.load();
    for (auto _ : state) {
        const double c0 = thread_seconds(), w0 = wall_seconds();
        const long long a0 = allocations.load();
        exchange(h, regions, kind);
        exchange_allocations += allocations.load() - a0;
        const double c1 = thread_seconds(), w1 = wall_seconds();
        check(velunor_advance_explicit(dt));
        stepping += thread_seconds() - c1;
        stepping_wall += wall_seconds() - w1;
        exchanging += c1 - c0;
        exchanging_wall += w1 - w0;
    }
    add_counters(state, regions, allocations.load() - before);
    const double n = static_cast<double>(state.iterations());
    state.counters["exchange_ms"] = 1e3 * exchanging / n;
    state.counters["step_ms"] = 1e3 * stepping / n;
    state.counters["exchange_per_step"] = exchanging / stepping;
    state.counters["exchange_per_step_wall"] = exchanging_wall / stepping_wall;
    state.counters["exchange_allocs"] = static_cast<double>(exchange_allocations) / n;
    state.SetLabel(kind == Kind::loads ? "facet loads" : "facet resultants");
}
BENCHMARK(BM_ExchangeAndStep)
    ->ArgsProduct({{1, region_count}, {0, 1}})
    ->ArgNames({"regions", "resultants"})
    ->Unit(benchmark::kMillisecond)
    ->MinTime(3.0)
    ->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
