// Model build cost of the database: sections applied to particles and coupling
// regions built, on a generated deck whose node numbers are shuffled, with
// every table filled to capacity. Lookups by node number go through the
// sorted index, which each iteration rebuilds from scratch.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <memory>
#include <numeric>
#include <random>
#include <string>
#include <vector>

#include "core/sph_model.hpp"
#include "database/sph_database.hpp"

namespace {

std::string numbered(const char* prefix, int k) {
    std::string name(prefix);
    name += std::to_string(k);
    return name;
}

std::unique_ptr<Model> make_deck(int npart) {
    auto m = std::make_unique<Model>();
    if (sph_db_allocate(*m, npart) != 0) return nullptr;
    std::vector<int> ids(static_cast<std::size_t>(npart));
    std::iota(ids.begin(), ids.end(), 1);
    std::mt19937 rng(7);
    std::shuffle(ids.begin(), ids.end(), rng);
    for (int i = 0; i < npart; ++i) {
        if (sph_db_set_node(*m, i, ids[std::size_t(i)], Vec3{double(i), 0.0, 0.0}) != 0) {
            return nullptr;
        }
    }
    std::uniform_int_distribution<int> node(1, npart);
    for (int e = 1; e <= sph_max_elements; ++e) {
        int conn[sph_max_element_nodes];
        for (int& c : conn) c = node(rng);
        if (sph_db_add_element(*m, e, "C3D8", sph_max_element_nodes, conn) != 0) return nullptr;
    }
    if (sph_db_add_material(*m, "HULL", "SHELL") != 0) return nullptr;
    if (sph_db_add_material(*m, "WATER", "WATER") != 0) return nullptr;
    std::vector<int> members(sph_max_set_members);
    for (int s = 0; s < sph_max_sets; ++s) {
        for (int& n : members) n = node(rng);
        if (sph_db_add_nset(*m, numbered("N", s), sph_max_set_members, members.data()) != 0) {
            return nullptr;
        }
        for (int& e : members) e = 1 + int(rng() % sph_max_elements);
        if (sph_db_add_elset(*m, numbered("E", s), sph_max_set_members, members.data()) != 0) {
            return nullptr;
        }
    }
    for (int s = 0; s < sph_max_sections; ++s) {
        const bool elements = s % 2 == 0;
        const std::string set = numbered(elements ? "E" : "N", s);
        if (sph_db_add_section(*m, set, "SHELL", elements ? "HULL" : "WATER", 0.01, 3, 1.0, "") !=
            0) {
            return nullptr;
        }
    }
    // Node-set regions; one region over all particles that only the shell
    // particles of one section pass, so the whole particle range is scanned.
    for (int r = 0; r < sph_max_regions - 1; ++r) {
        if (sph_db_add_coupling_region(*m, numbered("R", r), numbered("N", r), 1, 3, 1, 1, 1, 0,
                                       true, "", 0, "", "") != 0) {
            return nullptr;
        }
    }
    if (sph_db_add_coupling_region(*m, "EVERY", "ALL", 1, 3, 1, 1, 1, 0, true, "", 0, "", "N31") !=
        0) {
        return nullptr;
    }
    return m;
}

void BM_DatabaseModelBuild(benchmark::State& state) {
    auto m = make_deck(static_cast<int>(state.range(0)));
    if (!m) {
        state.SkipWithError("deck generation failed");
        return;
    }
    for (auto _ : state) {
        sph_db_invalidate_lookups(m->db);
        if (sph_db_apply_sections_to_particles(*m) != 0 || sph_db_build_coupling_regions(*m) != 0) {
            state.SkipWithError(m->error.last_error_message.c_str());
            return;
        }
        benchmark::DoNotOptimize(m->db.coupling_regions.back().coupling_region_particle_count);
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_DatabaseModelBuild)
    ->Arg(10'000)
    ->Arg(100'000)
    ->Arg(1'000'000)
    ->Unit(benchmark::kMillisecond);

void BM_DatabaseAllocate(benchmark::State& state) {
    Model m;
    for (auto _ : state) {
        if (sph_db_allocate(m, static_cast<int>(state.range(0))) != 0) {
            state.SkipWithError("allocation failed");
            return;
        }
        benchmark::DoNotOptimize(m.db.x.data());
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_DatabaseAllocate)->Arg(1'000'000)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
