#pragma once
// Optional append-only log file. Initialization opens it when the host
// names one in VELUNOR_LOG (sph_api); finalization closes it.

#include <cstdio>
#include <string_view>

struct ErrorState;

inline constexpr int sph_log_unit = 97;

struct LogState {
    std::FILE* file = nullptr;
    bool sph_log_is_open = false;
};

[[nodiscard]] int sph_log_open(LogState& log, ErrorState& error, std::string_view path);
void sph_log_info(LogState& log, std::string_view message);
[[nodiscard]] int sph_log_close(LogState& log, ErrorState& error);
