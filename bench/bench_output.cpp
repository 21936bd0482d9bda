// Output files of a large particle set and the raw speed of the number formatter.
//
//   build/bench/bench_output                       all benchmarks
//   build/bench/bench_output --benchmark_filter=Format
//   build/bench/bench_output --benchmark_filter=Vtu     ASCII and binary VTU
//
// The step-file benchmarks write into a fresh directory under the system's
// temporary directory (about 1.6 GB for 1,000,000 particles) and remove it.

#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
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
// Bytes of one particle in the binary VTU form: five Int32 point arrays, three
// vectors and four reals of Float64, two Int32 cell arrays and the UInt8 type.
constexpr std::size_t binary_vtu_particle_bytes = 5 * 4 + 3 * 24 + 4 * 8 + 2 * 4 + 1;

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

// dir/p<k>.vtu
std::string numbered_file(const fs::path& dir, int k) {
    fs::path path = dir / "p";
    path += std::to_string(k);
    path += ".vtu";
    return path.string();
}

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

// Output steps of the model in its current output form into a fresh folder,
// with the bytes of every file written.
void write_step_files(benchmark::State& state, Model& m) {
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

// One output step of 1,000,000 particles: particle CSV, VTU and PVD.
void BM_WriteStepFiles(benchmark::State& state) {
    write_step_files(state, bench_model());
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

// How the files of a benchmark follow each other (its argument "files"):
// 0 each iteration writes a new file and the previous one is removed untimed,
// so the page cache recycles its pages; 1 each replaces the same file, where
// ext4 starts writing the new file's data to disk before the rename lands
// (its auto_da_alloc); 2 each writes a new file and all are kept, as a run's
// output steps are, so the kernel takes fresh pages and writes back under way.
enum FileSequence { fresh_removed = 0, same_replaced = 1, fresh_kept = 2 };

// Names the file of the next iteration, after removing the last one where
// the sequence asks for it.
class FileSequencer {
  public:
    FileSequencer(benchmark::State& state, const fs::path& dir)
        : state_(state), dir_(dir), sequence_(static_cast<FileSequence>(state.range(0))) {}
    const std::string& next() {
        if (sequence_ == fresh_removed && !path_.empty()) {
            state_.PauseTiming();
            fs::remove(path_);
            state_.ResumeTiming();
        }
        if (sequence_ != same_replaced || path_.empty()) path_ = numbered_file(dir_, ++count_);
        return path_;
    }

  private:
    benchmark::State& state_;
    fs::path dir_;
    FileSequence sequence_;
    std::string path_;
    int count_ = 0;
};

void file_sequences(benchmark::internal::Benchmark* b) {
    b->ArgName("files")->Arg(fresh_removed)->Arg(same_replaced)->Arg(fresh_kept)->UseRealTime();
}

// One VTU file of 1,000,000 particles per iteration in the form `format`;
// bytes/s counts the file's bytes per wall-clock second.
void write_vtu_files(benchmark::State& state, SphVtuFormat format) {
    Model& m = bench_model();
    m.output.vtu_format = format;
    BenchDir dir;
    FileSequencer files(state, dir.path);
    std::uintmax_t bytes = 0;
    for (auto _ : state) {
        const std::string& path = files.next();
        if (sph_output_write_vtu(m, path) != 0) state.SkipWithError("write failed");
        bytes += fs::file_size(path);
    }
    m.output.vtu_format = SphVtuFormat::ascii;
    state.SetBytesProcessed(static_cast<int64_t>(bytes));
    state.counters["MB_per_file"] = static_cast<double>(bytes) / state.iterations() / 1e6;
}

void BM_WriteVtu(benchmark::State& state) {
    write_vtu_files(state, SphVtuFormat::ascii);
}
BENCHMARK(BM_WriteVtu)->Apply(file_sequences)->Unit(benchmark::kSecond)->Iterations(3);

void BM_WriteVtuBinary(benchmark::State& state) {
    write_vtu_files(state, SphVtuFormat::binary);
}
BENCHMARK(BM_WriteVtuBinary)->Apply(file_sequences)->Unit(benchmark::kMillisecond)->Iterations(10);

// The machine's ceiling for the binary form: as many bytes as its file of
// 1,000,000 particles, handed to the system in one write() per file, written
// beside and renamed as the library writes its files.
void BM_WriteRawBlock(benchmark::State& state) {
    const std::vector<char> block(std::size_t{bench_particles} * binary_vtu_particle_bytes, 1);
    BenchDir dir;
    FileSequencer files(state, dir.path);
    for (auto _ : state) {
        const std::string& path = files.next();
        const std::string side = path + ".part";
        const int fd = ::open(side.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
        const bool ok = fd >= 0 && ::write(fd, block.data(), block.size()) ==
                                       static_cast<ssize_t>(block.size());
        if (fd >= 0) ::close(fd);
        if (!ok || std::rename(side.c_str(), path.c_str()) != 0) state.SkipWithError("failed");
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * block.size()));
}
BENCHMARK(BM_WriteRawBlock)->Apply(file_sequences)->Unit(benchmark::kMillisecond)->Iterations(10);

// One output step as FORMAT=BINARY, CSV=NO writes it: summary, binary VTU, PVD.
void BM_WriteStepFilesBinaryNoCsv(benchmark::State& state) {
    Model& m = bench_model();
    m.output.vtu_format = SphVtuFormat::binary;
    m.output.particle_csv = false;
    write_step_files(state, m);
    m.output = OutputOptions{};
}
BENCHMARK(BM_WriteStepFilesBinaryNoCsv)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(10)
    ->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
