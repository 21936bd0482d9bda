// Restart file of 10^6 particles of every phase: a 100^3 lattice (spacing 1 m)
// of water, ideal gas, explosive, steel and shell layers with coupling
// regions and a blast region, built from a generated deck, then given the
// state of a running burn (velocities, stresses, plastic strain and damage,
// burn progress, gas sources, pending coupling imports). Times the write, the
// parse of the file alone, the host's read (parse, neighbor rebuild and
// diagnostics) and the write+read pair; reports MB/s of file text and the
// peak memory of a read relative to the memory of the model it builds.
//
//   build/release/bench/bench_restart --benchmark_counters_tabular=true
//
// Files go to the system's temporary directory (about 1 GB) and are removed.

#include <benchmark/benchmark.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <random>
#include <string>

#include "core/sph_model.hpp"
#include "interface/sph_api.hpp"
#include "restart/sph_restart.hpp"

namespace {

namespace fs = std::filesystem;

constexpr int side = 100;
// A spacing of 1 m: the explosive and shell particles keep the default
// smoothing length of 1 m, the other phases get h = 1.3 m.
constexpr double spacing = 1.0;
// Lattice layers (z) of each phase, bottom up.
constexpr int water_layers = 40, gas_layers = 20, explosive_layers = 10, solid_layers = 20,
              shell_layers = 10;
static_assert(water_layers + gas_layers + explosive_layers + solid_layers + shell_layers == side);
constexpr int layer = side * side;
// Members of each coupling region's node set (the set capacity).
constexpr int region_members = 512;

void check(const Model& m, int status) {
    if (status == 0) return;
    std::fprintf(stderr, "status %d: %s\n", status, m.error.last_error_message.c_str());
    std::abort();
}

fs::path scratch(const std::string& name) {
    return fs::temp_directory_path() /
           ("velunor_bench_restart_" + std::to_string(::getpid()) + "_" + name);
}

// First node number of the layers of one phase.
int first_node(int layers_below) {
    return layers_below * layer + 1;
}

void write_patch_set(std::FILE* f, const char* name, int first) {
    std::fprintf(f, "*NSET, NSET=%s, GENERATE\n%d, %d\n", name, first, first + region_members - 1);
}

std::string write_deck() {
    const fs::path path = scratch("model.inp");
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (f == nullptr) std::abort();
    std::fprintf(f, "*HEADING\nrestart benchmark, %d particles of every phase\n*NODE\n",
                 side * layer);
    int id = 0;
    for (int k = 0; k < side; ++k) {
        for (int j = 0; j < side; ++j) {
            for (int i = 0; i < side; ++i) {
                std::fprintf(f, "%d, %.6f, %.6f, %.6f\n", ++id, i * spacing, j * spacing,
                             k * spacing);
            }
        }
    }
    const int gas0 = first_node(water_layers);
    const int explosive0 = first_node(water_layers + gas_layers);
    const int solid0 = first_node(water_layers + gas_layers + explosive_layers);
    const int shell0 = first_node(water_layers + gas_layers + explosive_layers + solid_layers);
    std::fprintf(f, "*NSET, NSET=WATER, GENERATE\n1, %d\n", gas0 - 1);
    std::fprintf(f, "*NSET, NSET=AIR, GENERATE\n%d, %d\n", gas0, explosive0 - 1);
    std::fprintf(f, "*NSET, NSET=CHARGE, GENERATE\n%d, %d\n", explosive0, solid0 - 1);
    std::fprintf(f, "*NSET, NSET=PLATE, GENERATE\n%d, %d\n", solid0, shell0 - 1);
    std::fprintf(f, "*NSET, NSET=SKIN, GENERATE\n%d, %d\n", shell0, side * layer);
    write_patch_set(f, "WET", 1);
    write_patch_set(f, "STEELPATCH", solid0);
    write_patch_set(f, "SKINPATCH", shell0);

    std::fprintf(f, "*MATERIAL, NAME=Water, TYPE=WATER\n*DENSITY\n1000\n");
    std::fprintf(f, "*FLUID SECTION, NSET=WATER, MATERIAL=Water\n");
    std::fprintf(f, "*VELUNOR EOS, TYPE=TAIT, MATERIAL=Water, RHO0=1000, C0=1480, GAMMA=7\n");
    std::fprintf(f,
                 "*VELUNOR VISCOSITY, TYPE=MONAGHAN, MATERIAL=Water, ALPHA=0.1, BETA=0.0, "
                 "ETA2=0.01\n");
    std::fprintf(f, "*MATERIAL, NAME=Air, TYPE=GAS\n*DENSITY\n1.2\n");
    std::fprintf(f, "*VELUNOR EOS, TYPE=IDEAL_GAS, MATERIAL=Air, GAMMA=1.4, E0=2.5e5\n");
    std::fprintf(f, "*GAS SECTION, NSET=AIR, MATERIAL=Air\n");
    std::fprintf(f, "*MATERIAL, NAME=Products, TYPE=GAS\n*DENSITY\n1630\n");
    std::fprintf(f,
                 "*VELUNOR EOS, TYPE=JWL, MATERIAL=Products, RHO0=1630, A=3.7e+11, "
                 "B=3.2e+09, R1=4.15, R2=0.95, OMEGA=0.3, E0=1e5\n");
    std::fprintf(f, "*MATERIAL, NAME=TNT, TYPE=EXPLOSIVE\n*DENSITY\n1630\n");
    std::fprintf(f, "*CHARGE SECTION, NSET=CHARGE, MATERIAL=TNT\n");
    std::fprintf(f,
                 "*VELUNOR EXPLOSIVE, MATERIAL=TNT, TYPE=PROGRAMMED_BURN, "
                 "DETONATION_VELOCITY=6930, ENERGY=4.3e+06, BURN_TIME=4e-06, "
                 "PRODUCT_MATERIAL=Products, CONVERSION=PHASE\n");
    std::fprintf(f, "*VELUNOR IGNITION, MATERIAL=TNT, X=50, Y=50, Z=65, TIME=0\n");
    std::fprintf(f, "*MATERIAL, NAME=Steel, TYPE=SOLID\n*DENSITY\n7850\n*ELASTIC\n2e11, 0.3\n");
    std::fprintf(f, "*PLASTIC\n792e6, 510e6, 0.26, 0.014, 1.03, 1.0, 293, 1793\n");
    std::fprintf(f, "*DAMAGE INITIATION\n-0.8, 2.1, -0.5, 0.002, 0.61\n");
    std::fprintf(f, "*SOLID SECTION, NSET=PLATE, MATERIAL=Steel\n");
    std::fprintf(f, "*VELUNOR SOLID CONTROL, MATERIAL=Steel, H=%.6g, VOLUME=%.6g\n", 1.3 * spacing,
                 spacing * spacing * spacing);
    std::fprintf(f, "*MATERIAL, NAME=Skin, TYPE=SHELL\n*DENSITY\n2700\n*ELASTIC\n7e10, 0.33\n");
    std::fprintf(f, "*SHELL SECTION, NSET=SKIN, MATERIAL=Skin, THICKNESS=0.002\n");
    std::fprintf(f, "*VELUNOR SHELL DIRECTOR, SET=SKIN, NX=0, NY=0, NZ=1\n");
    std::fprintf(f, "*VELUNOR PARTICLE CONTROL, H=%.6g, MASS=%.6g, VOLUME=%.6g\n", 1.3 * spacing,
                 1000.0 * spacing * spacing * spacing, spacing * spacing * spacing);
    std::fprintf(f,
                 "*VELUNOR COUPLING REGION, NAME=Plate, NSET=STEELPATCH, EXPORT=BOTH, "
                 "CONTACT_STATE=IMPORT\n");
    std::fprintf(f,
                 "*VELUNOR COUPLING REGION, NAME=Skin, NSET=SKINPATCH, EXPORT=FACET, "
                 "IMPORT=FACET_LOAD\n");
    std::fprintf(f, "*VELUNOR COUPLING REGION, NAME=Wet, NSET=WET, IMPORT=MOTION\n");
    std::fprintf(f, "*VELUNOR COUPLING REGION, NAME=Off, NSET=WET, ENABLED=NO\n");
    std::fprintf(f,
                 "*VELUNOR BLAST REGION, NAME=CHARGE_ON_PLATE, X=50, Y=50, Z=65, "
                 "RADIUS=40, SOURCE=GAS, TARGET=SOLID, TARGET_SET=PLATE\n");
    std::fprintf(f, "*VELUNOR TIME CONTROL, DT=1e-7, TIME=1e-3, STEPS=1000\n");
    std::fclose(f);
    return path.string();
}

// The state of a burn under way, with values of full precision everywhere a
// run has them: moving particles, a burning charge, gas sources, a stressed
// and partly softened plate and pending imports on the coupling regions.
void set_running_state(Model& m) {
    std::mt19937_64 rng(2024);
    std::uniform_real_distribution<double> u(-1.0, 1.0);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    auto vec = [&](double scale) { return Vec3{scale * u(rng), scale * u(rng), scale * u(rng)}; };
    m.control.current_time = 3.7e-5;
    m.control.current_step = 370;
    DbState& db = m.db;
    ExplosiveState& ex = m.explosive;
    SolidState& s = m.solid;
    GasSourceState& src = m.gas.sources;
    check(m, sph_gas_allocate_sources(m));
    for (int i = 0; i < db.npart; ++i) {
        db.x[i] = db.x0[i] + vec(1e-4);
        db.v[i] = vec(100.0);
        db.vhalf[i] = db.v[i] + vec(1.0);
        db.a[i] = vec(1e6);
        db.rho[i] *= 1.0 + 0.01 * u(rng);
        db.pressure[i] = 1e6 * (1.0 + u(rng));
        db.internal_energy[i] = 1e5 * (1.0 + unit(rng));
        db.temperature[i] = 293.15 + 50.0 * unit(rng);
        switch (db.particle_phase[i]) {
            case sph_phase_gas:
                src.gas_mass_source[i] = 1e-3 * unit(rng);
                src.gas_energy_source[i] = 1e3 * unit(rng);
                src.gas_momentum_source[i] = vec(1e-1);
                break;
            case sph_phase_explosive: {
                const double progress = unit(rng);
                ex.explosive_ignition_status[i] = 1;
                ex.explosive_detonation_time[i] = 1e-5 * unit(rng);
                ex.explosive_reaction_progress[i] = progress;
                ex.explosive_released_mass[i] = progress * ex.explosive_initial_mass[i];
                ex.explosive_remaining_mass[i] =
                    ex.explosive_initial_mass[i] - ex.explosive_released_mass[i];
                ex.explosive_released_energy[i] = 4.3e6 * ex.explosive_released_mass[i];
                ex.explosive_released_momentum[i] = vec(1e-2);
                break;
            }
            case sph_phase_solid: {
                for (double& c : s.solid_stress[i]) c = 1e8 * u(rng);
                for (double& c : s.solid_strain[i]) c = 1e-3 * u(rng);
                for (double& c : s.solid_velocity_gradient[i]) c = 1e2 * u(rng);
                for (double& c : s.solid_strain_rate[i]) c = 1e2 * u(rng);
                for (int c = 0; c < 9; ++c) {
                    s.solid_deformation_gradient[i][c] = (c % 4 == 0 ? 1.0 : 0.0) + 1e-3 * u(rng);
                }
                s.solid_plastic_strain[i] = 1e-2 * unit(rng);
                s.solid_plastic_strain_rate[i] = 1e2 * unit(rng);
                s.solid_temperature[i] = 293.15 + 10.0 * unit(rng);
                s.solid_internal_energy[i] = 1e3 * unit(rng);
                s.solid_strain_rate_eq[i] = 1e2 * unit(rng);
                s.solid_acc_internal[i] = vec(1e5);
                // One particle in ten has started to soften: its undamaged
                // stress is written as well.
                s.solid_effective_stress[i] = s.solid_stress[i];
                if (rng() % 10 == 0) {
                    s.solid_damage[i] = unit(rng);
                    s.solid_softening[i] = 0.5 + 0.5 * unit(rng);
                    for (double& c : s.solid_effective_stress[i]) c /= s.solid_softening[i];
                }
                break;
            }
            default:
                break;
        }
    }
    CouplingState& c = m.coupling;
    check(m, sph_coupling_allocate_imports(m));
    for (const CouplingRegionRecord& region : db.coupling_regions) {
        for (const int i : region.coupling_region_particles) {
            c.coupling_external_force[i] = vec(1e3);
            c.coupling_motion_velocity[i] = vec(10.0);
            c.coupling_motion_position[i] = db.x[i] + vec(1e-4);
            c.coupling_motion_flag[i] = 1;
            c.coupling_motion_mode[i] = 1;
            c.coupling_contact_flag[i] = 1;
            c.coupling_contact_normal[i] = Vec3{0.0, 0.0, 1.0};
            c.coupling_contact_gap[i] = 1e-4 * u(rng);
            c.coupling_contact_penetration[i] = 1e-5 * unit(rng);
            c.coupling_contact_pressure[i] = 1e6 * unit(rng);
        }
    }
    c.coupling_epoch = 37;
    c.coupling_cumulative_impulse = vec(1.0);
    c.coupling_cumulative_work = 12.5;
    c.coupling_imported_force_count = 512;
}

struct Fixture {
    std::unique_ptr<Model> model = std::make_unique<Model>();
    std::string deck = write_deck();
    std::string file = scratch("model.rst").string();

    Fixture() {
        check(*model, sph_initialize(*model));
        check(*model, sph_read_inp(*model, deck));
        check(*model, sph_build_model(*model));
        fs::remove(deck);
        set_running_state(*model);
        check(*model, sph_write_restart(*model, file));
    }
    ~Fixture() { fs::remove(file); }
    double file_bytes() const { return static_cast<double>(fs::file_size(file)); }
};

Fixture& fixture() {
    static Fixture f;
    return f;
}

// Resident and peak resident memory of the process (kB fields of
// /proc/self/status), in bytes; the peak is reset by reset_peak().
struct Memory {
    double rss = 0.0, peak = 0.0;
};

Memory memory() {
    std::ifstream in("/proc/self/status");
    Memory mem;
    std::string key;
    double kb = 0.0;
    while (in >> key) {
        if (key == "VmHWM:" && in >> kb) mem.peak = kb * 1024.0;
        if (key == "VmRSS:" && in >> kb) mem.rss = kb * 1024.0;
    }
    return mem;
}

void reset_peak() {
    std::ofstream("/proc/self/clear_refs") << "5";
}

void set_rate(benchmark::State& state, double bytes) {
    state.counters["file_MB"] = bytes / 1e6;
    state.counters["MB_per_s"] = benchmark::Counter(
        bytes / 1e6 * static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}

void BM_RestartWrite(benchmark::State& state) {
    Fixture& f = fixture();
    const std::string path = scratch("write.rst").string();
    for (auto _ : state) check(*f.model, sph_write_restart(*f.model, path));
    set_rate(state, static_cast<double>(fs::file_size(path)));
    fs::remove(path);
}
BENCHMARK(BM_RestartWrite)->Unit(benchmark::kSecond)->Iterations(3)->UseRealTime();

// The records alone, into a model as the host's read stages it.
void BM_RestartParse(benchmark::State& state) {
    Fixture& f = fixture();
    for (auto _ : state) {
        state.PauseTiming();
        auto m = std::make_unique<Model>();
        check(*m, sph_initialize(*m));
        state.ResumeTiming();
        check(*m, sph_restart_read(*m, f.file));
        state.PauseTiming();
        m.reset();
        state.ResumeTiming();
    }
    set_rate(state, f.file_bytes());
}
BENCHMARK(BM_RestartParse)->Unit(benchmark::kSecond)->Iterations(3)->UseRealTime();

// What a host's velunor_read_restart does, into a freshly initialized
// library: the parse, the neighbor lists and the solids' reference
// neighbors, the diagnostics. The model's memory is what the process holds
// more after the read; the peak is the highest it held more during it.
void BM_RestartRead(benchmark::State& state) {
    Fixture& f = fixture();
    double model = 0.0, peak = 0.0;
    for (auto _ : state) {
        state.PauseTiming();
        auto m = std::make_unique<Model>();
        check(*m, sph_initialize(*m));
        const Memory before = memory();
        reset_peak();
        state.ResumeTiming();
        check(*m, sph_read_restart(*m, f.file));
        state.PauseTiming();
        const Memory after = memory();
        model = after.rss - before.rss;
        peak = after.peak - before.rss;
        m.reset();
        state.ResumeTiming();
    }
    set_rate(state, f.file_bytes());
    state.counters["model_MB"] = model / 1e6;
    state.counters["peak_MB"] = peak / 1e6;
    state.counters["peak_over_model"] = peak / model;
}
BENCHMARK(BM_RestartRead)->Unit(benchmark::kSecond)->Iterations(3)->UseRealTime();

// A read into the running model it was written from: the all-or-nothing read
// holds the running model and the one it reads until the read succeeds.
void BM_RestartReadOverRunning(benchmark::State& state) {
    Fixture& f = fixture();
    double peak = 0.0, held = 0.0;
    for (auto _ : state) {
        state.PauseTiming();
        const Memory before = memory();
        reset_peak();
        state.ResumeTiming();
        check(*f.model, sph_read_restart(*f.model, f.file));
        state.PauseTiming();
        peak = memory().peak - before.rss;
        held = before.rss;
        state.ResumeTiming();
    }
    set_rate(state, f.file_bytes());
    state.counters["peak_extra_MB"] = peak / 1e6;
    state.counters["process_MB"] = held / 1e6;
}
BENCHMARK(BM_RestartReadOverRunning)->Unit(benchmark::kSecond)->Iterations(1)->UseRealTime();

// The pair a host does to carry a run over: write, then read into a fresh
// library.
void BM_RestartWriteRead(benchmark::State& state) {
    Fixture& f = fixture();
    const std::string path = scratch("pair.rst").string();
    for (auto _ : state) {
        check(*f.model, sph_write_restart(*f.model, path));
        auto m = std::make_unique<Model>();
        check(*m, sph_initialize(*m));
        check(*m, sph_read_restart(*m, path));
        state.PauseTiming();
        m.reset();
        state.ResumeTiming();
    }
    fs::remove(path);
}
BENCHMARK(BM_RestartWriteRead)->Unit(benchmark::kSecond)->Iterations(3)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
