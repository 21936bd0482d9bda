#pragma once
// Status codes and the last-error record.

#include <string>
#include <string_view>

inline constexpr int sph_success = 0;
inline constexpr int sph_error_argument = 1;
inline constexpr int sph_error_state = 2;
inline constexpr int sph_error_io = 3;
inline constexpr int sph_error_input = 4;
inline constexpr int sph_error_database = 5;
inline constexpr int sph_error_not_implemented = 6;

inline constexpr std::size_t sph_error_message_len = 256;

struct ErrorState {
    int last_error_code = sph_success;
    std::string last_error_message = "OK";  // trailing blanks trimmed, at most 256 characters
};

// Records the failure and returns `code`, so a failing operation can end with
// `return sph_error_set(m.error, code, "message");`.
int sph_error_set(ErrorState& error, int code, std::string_view message);
void sph_error_get(const ErrorState& error, int& code, std::string& message);
void sph_error_clear(ErrorState& error);
