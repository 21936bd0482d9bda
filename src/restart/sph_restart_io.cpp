#include "restart/sph_restart_io.hpp"

#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>

#include "core/sph_format.hpp"
#include "core/sph_number.hpp"
#include "core/sph_text.hpp"

namespace {

constexpr std::size_t name_field = 64;
// "-1.2345678901234567e-308" and its separator fit easily.
constexpr std::size_t value_width = 32;

bool separator(char c) {
    return c == ' ' || c == '\t' || c == ',';
}

bool needs_quotes(std::string_view name) {
    if (name.empty()) return true;
    for (const char c : name) {
        if (separator(c) || c == '/' || c == '\'' || c == '"') return true;
    }
    return false;
}

bool equal_upper(std::string_view text, std::string_view upper) {
    if (text.size() != upper.size()) return false;
    for (std::size_t k = 0; k < text.size(); ++k) {
        char c = text[k];
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
        if (c != upper[k]) return false;
    }
    return true;
}

}  // namespace

// ---------------------------------------------------------------------------
// Writing

char* RestartWriter::slot(std::size_t width) {
    char* p = file_.reserve(width + 1);
    if (record_open_) *p++ = ' ';
    record_open_ = true;
    return p;
}

RestartWriter& RestartWriter::put(int value) {
    file_.commit(sph_format_int(slot(sph_format_int_max_width), value));
    return *this;
}

RestartWriter& RestartWriter::put(int64_t value) {
    char* p = slot(value_width);
    file_.commit(std::to_chars(p, p + value_width, value).ptr);
    return *this;
}

RestartWriter& RestartWriter::put(double value) {
    char* p = slot(value_width);
    if (std::isnan(value)) {
        std::memcpy(p, "NaN", 3);
        p += 3;
    } else if (std::isinf(value)) {
        const std::string_view form = value > 0.0 ? "Infinity" : "-Infinity";
        std::memcpy(p, form.data(), form.size());
        p += form.size();
    } else {
        p = sph_format_real_g17(p, value);
    }
    file_.commit(p);
    return *this;
}

RestartWriter& RestartWriter::put(bool value) {
    char* p = slot(1);
    *p++ = value ? 'T' : 'F';
    file_.commit(p);
    return *this;
}

RestartWriter& RestartWriter::put_name(std::string_view name) {
    name = sph_text_trim_trailing(name);
    if (!needs_quotes(name)) {
        if (record_open_) file_.write(" ");
        file_.write(name);
        record_open_ = true;
        return *this;
    }
    file_.write(record_open_ ? " '" : "'");
    record_open_ = true;
    for (const char c : name)
        file_.write(c == '\'' ? std::string_view("''") : std::string_view(&c, 1));
    file_.write("'");
    return *this;
}

void RestartWriter::end() {
    file_.write("\n");
    record_open_ = false;
}

void RestartWriter::text(std::string_view line) {
    file_.write(sph_text_trim_trailing(line));
    end();
}

// ---------------------------------------------------------------------------
// Values of a record

namespace {

bool ends_value(char c) {
    return separator(c) || c == '/';
}

bool is_digit(char c) {
    return c >= '0' && c <= '9';
}

// Position of the next value at or after `k`, past separators.
std::size_t skip_separators(std::string_view line, std::size_t k) {
    while (k < line.size() && separator(line[k])) ++k;
    return k;
}

// End of the value that starts at `k` (not a separator, not a slash).
std::size_t value_end(std::string_view line, std::size_t k) {
    const std::size_t n = line.size();
    if (line[k] == '\'' || line[k] == '"') {
        // A quoted value runs to its closing quote; a doubled quote stands
        // for one quote inside it.
        const char quote = line[k++];
        while (k < n) {
            if (line[k] == quote) {
                if (k + 1 < n && line[k + 1] == quote) {
                    k += 2;
                    continue;
                }
                return k + 1;
            }
            ++k;
        }
        return n;
    }
    while (k < n && !ends_value(line[k])) ++k;
    return k;
}

// Where a plain number may start: an optional minus, then a digit (or, for
// a real, a point). Anything else takes the general path.
bool plain_number_start(const char* p, const char* end, bool real) {
    if (p < end && *p == '-') ++p;
    return p < end && (is_digit(*p) || (real && *p == '.'));
}

}  // namespace

std::string_view RestartRecord::take() {
    if (failed_) return {};
    const std::size_t k = skip_separators(line_, next_);
    if (k >= line_.size() || line_[k] == '/') {
        failed_ = true;
        return {};
    }
    next_ = value_end(line_, k);
    return line_.substr(k, next_ - k);
}

std::size_t RestartRecord::remaining() const {
    if (failed_) return 0;
    std::size_t count = 0;
    for (std::size_t k = skip_separators(line_, next_); k < line_.size() && line_[k] != '/';
         k = skip_separators(line_, value_end(line_, k))) {
        ++count;
    }
    return count;
}

bool RestartRecord::get(double& value) {
    if (failed_) return false;
    // A plain number read up to the value's end, by the fast reader or by
    // from_chars, is the value the general path gives: each is the correctly
    // rounded value of the same text.
    next_ = skip_separators(line_, next_);
    const char* p = line_.data() + next_;
    const char* end = line_.data() + line_.size();
    if (plain_number_start(p, end, true)) {
        double parsed = 0.0;
        if (const char* q = sph_number_parse_plain_real(p, end, parsed);
            q != nullptr && (q == end || ends_value(*q))) {
            value = parsed;
            next_ = static_cast<std::size_t>(q - line_.data());
            return true;
        }
        const auto [ptr, ec] = std::from_chars(p, end, parsed, std::chars_format::general);
        if (ec == std::errc() && (ptr == end || ends_value(*ptr))) {
            value = parsed;
            next_ = static_cast<std::size_t>(ptr - line_.data());
            return true;
        }
    }
    const std::string_view text = take();
    if (failed_ || !sph_restart_parse_real(text, value)) return !(failed_ = true);
    return true;
}

template <typename Int>
bool RestartRecord::get_integer(Int& value) {
    if (failed_) return false;
    next_ = skip_separators(line_, next_);
    const char* p = line_.data() + next_;
    const char* end = line_.data() + line_.size();
    if (plain_number_start(p, end, false)) {
        Int parsed = 0;
        const auto [ptr, ec] = std::from_chars(p, end, parsed);
        if (ec == std::errc() && (ptr == end || ends_value(*ptr))) {
            value = parsed;
            next_ = static_cast<std::size_t>(ptr - line_.data());
            return true;
        }
    }
    const std::string_view text = take();
    bool ok = false;
    if (!failed_) {
        if constexpr (sizeof(Int) == sizeof(int)) {
            ok = sph_number_read_int(text, value);
        } else {
            ok = sph_number_read_int64(text, value);
        }
    }
    if (!ok) failed_ = true;
    return ok;
}

bool RestartRecord::get(int& value) {
    return get_integer(value);
}

bool RestartRecord::get(int64_t& value) {
    return get_integer(value);
}

bool RestartRecord::get(bool& value) {
    std::string_view text = take();
    if (failed_) return false;
    // List-directed logicals: an optional point, then T or F decides.
    if (!text.empty() && text.front() == '.') text.remove_prefix(1);
    if (!text.empty() && (text.front() == 'T' || text.front() == 't')) {
        value = true;
        return true;
    }
    if (!text.empty() && (text.front() == 'F' || text.front() == 'f')) {
        value = false;
        return true;
    }
    failed_ = true;
    return false;
}

bool RestartRecord::get(std::string& name) {
    std::string_view text = take();
    if (failed_) return false;
    if (!text.empty() && (text.front() == '\'' || text.front() == '"')) {
        const char quote = text.front();
        text.remove_prefix(1);
        if (!text.empty() && text.back() == quote) text.remove_suffix(1);
        unquoted_.clear();
        for (std::size_t k = 0; k < text.size(); ++k) {
            unquoted_ += text[k];
            if (text[k] == quote && k + 1 < text.size() && text[k + 1] == quote) ++k;
        }
        text = unquoted_;
    }
    name = sph_text_field(text, name_field);
    return true;
}

bool sph_restart_parse_real(std::string_view text, double& value) {
    std::string_view body = text;
    double sign = 1.0;
    if (!body.empty() && (body.front() == '+' || body.front() == '-')) {
        if (body.front() == '-') sign = -1.0;
        body.remove_prefix(1);
    }
    if (equal_upper(body, "NAN")) {
        value = std::numeric_limits<double>::quiet_NaN();
        return true;
    }
    if (equal_upper(body, "INF") || equal_upper(body, "INFINITY")) {
        value = sign * std::numeric_limits<double>::infinity();
        return true;
    }
    return sph_number_read_real(text, value);
}
