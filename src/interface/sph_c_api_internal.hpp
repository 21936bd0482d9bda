#pragma once
// Shared pieces of the C layer: the exception barrier every export runs in,
// host text in and out, and the finite test for host arrays. Nothing here is
// exported.

#include <cstddef>
#include <cstdint>
#include <exception>
#include <new>
#include <stdexcept>
#include <string_view>

#include "core/sph_model.hpp"
#include "interface/sph_api.hpp"

// Return value of a call the C layer itself refuses (no message recorded).
inline constexpr int velunor_rejected = -1;
inline constexpr std::size_t velunor_path_max = 1024;

// 0 if `values` is null; otherwise 1 if none of the first `count` values is a
// NaN or an infinity (a count of 0 or less gives 1), else 0.
int velunor_values_are_finite(const double* values, std::int64_t count) noexcept;

template <class... P>
bool velunor_any_null(const P*... pointers) noexcept {
    return ((pointers == nullptr) || ...);
}

// Records the failure of an export that ended in an exception (when the model
// exists); returns `code`.
int velunor_record_failure(Model* m, const char* export_name, int code,
                           const char* detail) noexcept;

// Runs one export's body on the library's model. No exception reaches the
// host: allocation failures become status 5, anything else status 2, each with
// a message naming the export.
template <class Body>
int velunor_guarded(const char* export_name, Body&& body) noexcept {
    Model* model = nullptr;
    try {
        model = &sph_api_model();
        return body(*model);
    } catch (const std::bad_alloc&) {
        return velunor_record_failure(model, export_name, sph_error_database,
                                      "failed to allocate memory");
    } catch (const std::length_error&) {
        return velunor_record_failure(model, export_name, sph_error_database,
                                      "failed to allocate memory");
    } catch (const std::exception& e) {
        return velunor_record_failure(model, export_name, sph_error_state, e.what());
    } catch (...) {
        return velunor_record_failure(model, export_name, sph_error_state, "unknown exception");
    }
}

// Host path: a NUL-terminated string of 1 to 1024 bytes. On success `text`
// views it with trailing blanks removed, as a blank-padded field would hold
// it; returns false when the C layer must refuse the call.
bool velunor_path_in(const char* path, std::string_view& text) noexcept;

// Calls `entry(text)` with the converted path, or refuses the call with -1.
template <class Entry>
int velunor_call_path(const char* path, Entry&& entry) {
    std::string_view text;
    if (!velunor_path_in(path, text)) return velunor_rejected;
    return entry(text);
}

// Copies `text` into a host buffer of `capacity` bytes (capacity >= 1): the
// bytes up to the first NUL, at most capacity - 1 of them, then a terminator;
// the last byte of the buffer is always a terminator.
void velunor_text_out(std::string_view text, char* out, int capacity) noexcept;
