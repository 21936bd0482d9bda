#pragma once
// Small hand-built models, temporary directories and a file size limit for
// the output tests.

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <limits>
#include <sstream>
#include <string>
#include <string_view>

#include "core/sph_model.hpp"

namespace output_test {

// Shell command prefix of the VTU/PVD checker. Debian's interpreter, where
// present, also has VTK's own reader (python3-vtk9), which the checker then uses.
inline std::string vtu_checker_command() {
    return "$([ -x /usr/bin/python3 ] && echo /usr/bin/python3 || echo python3) "
           "'" VELUNOR_SOURCE_DIR "/tests/output/check_vtu_pvd.py'";
}

// Sizes every particle array of the database for n particles.
inline void allocate_particles(Model& m, int n) {
    DbState& db = m.db;
    db.npart = n;
    const auto count = static_cast<std::size_t>(n);
    for (auto* v : {&db.particle_id_ext, &db.particle_phase, &db.particle_status, &db.material_id,
                    &db.section_id}) {
        v->assign(count, 0);
    }
    for (auto* v : {&db.x0, &db.x, &db.v, &db.a}) v->assign(count, Vec3{});
    for (auto* v : {&db.mass, &db.rho, &db.pressure, &db.temperature, &db.h}) {
        v->assign(count, 0.0);
    }
}

// Two particles whose values need a negative sign, three-digit exponents,
// NaN and both infinities.
inline void fill_two_particles(Model& m) {
    const double inf = std::numeric_limits<double>::infinity();
    allocate_particles(m, 2);
    DbState& db = m.db;
    db.particle_id_ext = {7, 8};
    db.particle_phase = {1, 4};
    db.particle_status = {0, 2};
    db.material_id = {1, 2};
    db.section_id = {2, 1};
    db.x = {Vec3{0.0, 0.5, -1.0}, Vec3{1.0, 2.0, 3.0}};
    db.v = {Vec3{1.5, -2.5, 0.0}, Vec3{}};
    db.a = {Vec3{1e100, -1e-100, 3.0}, Vec3{inf, -inf, 0.0}};
    db.rho = {1000.0, 7850.0};
    db.pressure = {-101325.5, 2.5e9};
    db.temperature = {std::nan(""), 293.15};
    db.h = {0.25, 1e-3};
}

// Expected file text: lines written with '\n' in the test, CRLF in the file.
inline std::string crlf(std::string_view text) {
    std::string out;
    for (char c : text) {
        if (c == '\n') out += '\r';
        out += c;
    }
    return out;
}

inline std::string read_file(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// Lowers the soft file size limit for its lifetime, with SIGXFSZ ignored, so
// that writes beyond `bytes` fail as on a full disk; both are restored after.
// Nothing but the call under test may write a file meanwhile (no assertions).
class FileSizeLimit {
  public:
    explicit FileSizeLimit(rlim_t bytes) {
        struct sigaction ignore {};
        ignore.sa_handler = SIG_IGN;
        sigaction(SIGXFSZ, &ignore, &saved_action_);
        getrlimit(RLIMIT_FSIZE, &saved_limit_);
        rlimit lowered = saved_limit_;
        lowered.rlim_cur = std::min(bytes, saved_limit_.rlim_max);
        active_ = setrlimit(RLIMIT_FSIZE, &lowered) == 0;
    }
    ~FileSizeLimit() {
        setrlimit(RLIMIT_FSIZE, &saved_limit_);
        sigaction(SIGXFSZ, &saved_action_, nullptr);
    }
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;
    bool active() const { return active_; }

  private:
    struct sigaction saved_action_ {};
    rlimit saved_limit_{};
    bool active_ = false;
};

// A fresh directory removed with everything in it at the end of the test.
class TempDir {
  public:
    TempDir() {
        static std::atomic<int> counter{0};
        path_ = std::filesystem::temp_directory_path() /
                ("velunor_output_" + std::to_string(::getpid()) + "_" + std::to_string(counter++));
        std::filesystem::remove_all(path_);
        std::filesystem::create_directories(path_);
    }
    ~TempDir() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& path() const { return path_; }
    std::string file(std::string_view name) const { return (path_ / name).string(); }

  private:
    std::filesystem::path path_;
};

}  // namespace output_test
