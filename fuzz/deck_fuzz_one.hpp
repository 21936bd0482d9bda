#pragma once
// One fuzz input: the bytes become a deck file that is read and, when the
// read succeeds, built. Shared by the libFuzzer harness and the replay test.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

#include "core/sph_model.hpp"
#include "output/sph_output_csv.hpp"
#include "output/sph_output_vtu.hpp"
#include "solver/sph_solver_explicit.hpp"

// Returns the status of the last operation; -1 if the file could not be written.
inline int deck_fuzz_one(const uint8_t* data, std::size_t size, const std::string& path) {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (f == nullptr) return -1;
    if (size > 0) std::fwrite(data, 1, size, f);
    std::fclose(f);
    auto m = std::make_unique<Model>();
    sph_water_initialize(m->water);
    auto check = [&](int status) {
        // Every outcome is a known status with its code recorded.
        if (status < 0 || status > 5) __builtin_trap();
        if (status != 0 && m->error.last_error_code != status) __builtin_trap();
        return status;
    };
    int status = check(sph_input_read(*m, path));
    if (status == 0) status = check(sph_input_build_model(*m));
    // Small built models also take a few steps and are written out, so the
    // values a deck can put into the step (zero, huge or NaN parameters) are
    // exercised too.
    if (status != 0 || m->db.npart > 512) return status;
    double dt = 0.0;
    status = check(sph_solver_estimate_stable_dt(*m, dt));
    for (int step = 0; step < 3 && status == 0; ++step) {
        status = check(sph_solver_advance_explicit(*m, dt > 0.0 ? dt : 1e-6));
    }
    // Beside the deck (writers refuse devices); removed again so inputs leave nothing.
    check(sph_output_write_csv(*m, path + ".csv"));
    check(sph_output_write_vtu(*m, path + ".vtu"));
    std::remove((path + ".csv").c_str());
    std::remove((path + ".vtu").c_str());
    return status;
}
