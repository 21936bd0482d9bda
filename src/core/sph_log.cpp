#include "core/sph_log.hpp"

#include <string>

#include "core/sph_error.hpp"
#include "core/sph_text.hpp"

int sph_log_open(LogState& log, ErrorState& error, std::string_view path) {
    (void)sph_log_close(log, error);
    const std::string name(sph_text_trim_trailing(path));
    log.file = name.empty() ? nullptr : std::fopen(name.c_str(), "ab");
    if (log.file == nullptr) {
        log.sph_log_is_open = false;
        return sph_error_set(error, sph_error_io, "failed to open log file");
    }
    log.sph_log_is_open = true;
    return sph_success;
}

void sph_log_info(LogState& log, std::string_view message) {
    if (!log.sph_log_is_open || log.file == nullptr) return;
    const std::string_view line = sph_text_trim_trailing(message);
    std::fwrite(line.data(), 1, line.size(), log.file);
    std::fputs("\r\n", log.file);
    // Flushed per line so the log survives a host that dies afterwards.
    std::fflush(log.file);
}

int sph_log_close(LogState& log, ErrorState& error) {
    int status = sph_success;
    if (log.sph_log_is_open && log.file != nullptr && std::fclose(log.file) != 0) {
        status = sph_error_set(error, sph_error_io, "failed to close log file");
    }
    log.file = nullptr;
    log.sph_log_is_open = false;
    return status;
}
