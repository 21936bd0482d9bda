// Output files of a large particle set and the raw speed of the number formatter.
//
//   build/bench/bench_output                       all benchmarks
//   build/bench/bench_output --benchmark_filter=Format
//
// The step-file benchmarks write into a fresh directory under the system's
// temporary directory (about 1.6 GB for 1,000,000 particles) and remove it.

#include <benchmark/benchmark.h>

#include <cmath>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "core/sph_format.hpp"
#include "core/sph_model.hpp"
#include "output/sph_output_csv.hpp"
#include "output/sph_output_vtu.hpp"

namespace {

namespace fs = std::filesystem;

constexpr int bench_particles = 1000000;

// Values of the magnitudes a run produces: positions of metres, velocities of
// hundreds of m/s, water densities and pressures, small smoothing lengths.
void fill_model(Model& m, int n) {
    std::mt19937_64 rng(12345);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    std::normal_distribution<double> normal(0.0, 1.0);
    DbState& db = m.db;
    db.npart = n;
    const auto count = static_cast<std::size_t>(n);
    db.particle_id_ext.resize(count);
    db.particle_phase.assign(count, 1);
    db.particle_status.assign(count, 0);
    db.material_id.assign(count, 1);
    db.section_id.assign(count, 1);
    db.x.resize(count);
    db.v.resize(count);
    db.a.resize(count);
    db.rho.resize(count);
    db.pressure.resize(count);
    db.temperature.resize(count);
    db.h.resize(count);
    for (std::size_t i = 0; i < count; ++i) {
        db.particle_id_ext[i] = static_cast<int>(i) + 1;
        db.x[i] = Vec3{10.0 * unit(rng), 10.0 * unit(rng), 10.0 * unit(rng)};
        db.v[i] = Vec3{100.0 * normal(rng), 100.0 * normal(rng), 100.0 * normal(rng)};
        db.a[i] = Vec3{1e6 * normal(rng), 1e6 * normal(rng), 1e6 * normal(rng)};
        db.rho[i] = 1000.0 + unit(rng);
        db.pressure[i] = 1e5 * normal(rng);
        db.temperature[i] = 293.15 + unit(rng);
        db.h[i] = 0.01 + 1e-4 * unit(rng);
    }
}

Model& bench_model() {
    static Model* model = [] {
        auto* m = new Model;
        fill_model(*m, bench_particles);
        return m;
    }();
    return *model;
}

struct BenchDir {
    fs::path path = fs::temp_directory_path() / "velunor_bench_output";
    BenchDir() {
        fs::remove_all(path);
        fs::create_directories(path);
    }
    ~BenchDir() { fs::remove_all(path); }
};

std::uintmax_t directory_bytes(const fs::path& dir) {
    std::uintmax_t total = 0;
    for (const auto& entry : fs::directory_iterator(dir)) total += entry.file_size();
    return total;
}

void BM_FormatReal(benchmark::State& state) {
    std::mt19937_64 rng(7);
    std::normal_distribution<double> normal(0.0, 1.0);
    std::vector<double> values(1 << 16);
    for (double& v : values) v = normal(rng) * std::pow(10.0, static_cast<int>(rng() % 20) - 10);
    std::vector<char> out(values.size() * (sph_format_real_width + 1));
    for (auto _ : state) {
        char* p = out.data();
        for (double v : values) {
            p = sph_format_real(p, v);
            *p++ = ',';
        }
        benchmark::DoNotOptimize(p);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * out.size()));
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * values.size()));
}
BENCHMARK(BM_FormatReal);

void BM_FormatInt(benchmark::State& state) {
    std::vector<char> out((1 << 16) * (sph_format_int_max_width + 1));
    std::size_t bytes = 0;
    for (auto _ : state) {
        char* p = out.data();
        for (int i = 0; i < (1 << 16); ++i) {
            p = sph_format_int(p, i * 37);
            *p++ = '\n';
        }
        benchmark::DoNotOptimize(p);
        bytes += static_cast<std::size_t>(p - out.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(bytes));
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) << 16);
}
BENCHMARK(BM_FormatInt);

// One output step of 1,000,000 particles: particle CSV, VTU and PVD.
void BM_WriteStepFiles(benchmark::State& state) {
    Model& m = bench_model();
    BenchDir dir;
    m.control.output_directory = dir.path.string();
    int step = 0;
    for (auto _ : state) {
        ++step;
        if (sph_output_write_step(m, step, step * 1e-6) != 0) state.SkipWithError("write failed");
    }
    const auto bytes = directory_bytes(dir.path);
    state.SetBytesProcessed(static_cast<int64_t>(bytes));
    state.counters["MB_per_step"] = static_cast<double>(bytes) / step / 1e6;
}
BENCHMARK(BM_WriteStepFiles)->Unit(benchmark::kSecond)->Iterations(3)->UseRealTime();

void BM_WriteCsv(benchmark::State& state) {
    Model& m = bench_model();
    BenchDir dir;
    const std::string path = (dir.path / "p.csv").string();
    for (auto _ : state) {
        if (sph_output_write_csv(m, path) != 0) state.SkipWithError("write failed");
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * fs::file_size(path)));
}
BENCHMARK(BM_WriteCsv)->Unit(benchmark::kSecond)->Iterations(3)->UseRealTime();

void BM_WriteVtu(benchmark::State& state) {
    Model& m = bench_model();
    BenchDir dir;
    const std::string path = (dir.path / "p.vtu").string();
    for (auto _ : state) {
        if (sph_output_write_vtu(m, path) != 0) state.SkipWithError("write failed");
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * fs::file_size(path)));
}
BENCHMARK(BM_WriteVtu)->Unit(benchmark::kSecond)->Iterations(3)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
