#include "core/sph_error.hpp"

#include "core/sph_text.hpp"

int sph_error_set(ErrorState& error, int code, std::string_view message) {
    error.last_error_code = code;
    error.last_error_message = sph_text_field(message, sph_error_message_len);
    return code;
}

void sph_error_get(const ErrorState& error, int& code, std::string& message) {
    code = error.last_error_code;
    message = error.last_error_message;
}

void sph_error_clear(ErrorState& error) {
    error.last_error_code = sph_success;
    error.last_error_message = "OK";
}
