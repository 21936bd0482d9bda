#pragma once
// One fuzz input: the bytes become a restart file that is read into an
// initialized library; a read that succeeds on a small model is stepped and
// written again. Shared by the libFuzzer harness and the replay test.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

#include "core/sph_model.hpp"
#include "interface/sph_api.hpp"

// Returns the status of the read; -1 if the file could not be written.
inline int restart_fuzz_one(const uint8_t* data, std::size_t size, const std::string& path) {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (f == nullptr) return -1;
    if (size > 0) std::fwrite(data, 1, size, f);
    std::fclose(f);
    auto m = std::make_unique<Model>();
    (void)sph_initialize(*m);
    auto check = [&](int status) {
        // Every outcome is a known status with its code recorded.
        if (status < 0 || status > 5) __builtin_trap();
        if (status != 0 && m->error.last_error_code != status) __builtin_trap();
        return status;
    };
    const int read = check(sph_read_restart(*m, path));
    if (read != 0 || m->db.npart > 512) return read;
    int status = 0;
    for (int step = 0; step < 2 && status == 0; ++step) {
        double dt = 0.0;
        status = check(sph_estimate_stable_dt(*m, dt));
        if (status == 0) status = check(sph_advance_explicit(*m, dt > 0.0 ? dt : 1e-6));
    }
    check(sph_write_restart(*m, path + ".out"));
    std::remove((path + ".out").c_str());
    return read;
}
