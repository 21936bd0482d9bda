#include "input/sph_inp_helpers.hpp"

#include <cstring>
#include <filesystem>
#include <system_error>

#include "core/sph_text.hpp"

namespace {

char upper_char(char c) {
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c;
}

}  // namespace

std::string_view sph_inp_clean_line(std::string_view raw) {
    // Characters beyond the 1024th are dropped before anything else.
    raw = raw.substr(0, sph_inp_line_len);
    if (!raw.empty() && raw[0] == '!') return {};
    if (raw.size() > 1 && raw[0] == '*' && raw[1] == '*') return {};
    return sph_text_trim(raw);
}

bool sph_inp_starts_with_upper(std::string_view text, std::string_view upper_prefix) {
    if (text.size() < upper_prefix.size()) return false;
    for (std::size_t k = 0; k < upper_prefix.size(); ++k) {
        if (upper_char(text[k]) != upper_prefix[k]) return false;
    }
    return true;
}

int sph_inp_keyword_id(std::string_view line) {
    line = sph_text_trim_leading(line);
    struct Prefix {
        std::string_view text;
        int id;
    };
    // Tested in this order; the first prefix the line begins with decides.
    static constexpr Prefix prefixes[] = {
        {"*NODE", sph_inp_kw_node},
        {"*ELEMENT", sph_inp_kw_element},
        {"*NSET", sph_inp_kw_nset},
        {"*ELSET", sph_inp_kw_elset},
        {"*MATERIAL", sph_inp_kw_material},
        {"*VELUNOR", sph_inp_kw_velunor},
        {"*DENSITY", sph_inp_kw_density},
        {"*ELASTIC", sph_inp_kw_elastic},
        {"*PLASTIC", sph_inp_kw_plastic},
        {"*DAMAGE INITIATION", sph_inp_kw_damage},
        {"*ORIENTATION", sph_inp_kw_orientation},
        {"*INITIAL CONDITIONS", sph_inp_kw_initial_conditions},
    };
    for (const Prefix& p : prefixes) {
        if (sph_inp_starts_with_upper(line, p.text)) return p.id;
    }
    if (!line.empty() && line[0] == '*' && sph_text_contains_upper(line, "SECTION")) {
        return sph_inp_kw_section;
    }
    return sph_inp_kw_unknown;
}

void sph_inp_split_csv(std::string_view line, SphCsvFields& out) {
    out.field.fill(std::string_view{});
    out.count = 0;
    line = sph_text_trim_trailing(line);
    auto store = [&](std::string_view text) {
        text = sph_text_trim_leading(text).substr(0, sph_inp_field_len);
        out.field[out.count++] = sph_text_trim_trailing(text);
    };
    std::size_t start = 0;
    for (std::size_t k = 0; k < line.size() && out.count < sph_inp_max_fields; ++k) {
        if (line[k] == ',') {
            store(line.substr(start, k - start));
            start = k + 1;
        }
    }
    if (out.count < sph_inp_max_fields) store(line.substr(start));
}

std::string sph_inp_upper(std::string_view text) {
    return sph_text_upper(text);
}

namespace {

constexpr std::size_t reader_buffer_len = std::size_t{1} << 20;

// Line ending removed: a carriage return just before the line feed is not
// part of the line.
std::string_view finish_line(std::string_view line, std::size_t line_len) {
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    return line.substr(0, line_len);
}

}  // namespace

SphInpLineReader::~SphInpLineReader() {
    close();
}

bool SphInpLineReader::open(const std::string& path) {
    close();
    // Only a regular file is a deck: a directory opens for reading on some
    // systems, a device such as /dev/zero never ends, and opening a FIFO
    // blocks. Checked before opening for that last reason.
    std::error_code ec;
    if (!std::filesystem::is_regular_file(path, ec)) return false;
    file_ = std::fopen(path.c_str(), "rb");
    if (file_ == nullptr) return false;
    buffer_.resize(reader_buffer_len);
    begin_ = end_ = 0;
    eof_ = error_ = false;
    first_line_ = true;
    return true;
}

void SphInpLineReader::close() {
    if (file_ != nullptr) std::fclose(file_);
    file_ = nullptr;
    begin_ = end_ = 0;
    eof_ = true;
}

bool SphInpLineReader::refill() {
    if (eof_ || file_ == nullptr) return false;
    if (begin_ > 0) {
        std::memmove(buffer_.data(), buffer_.data() + begin_, end_ - begin_);
        end_ -= begin_;
        begin_ = 0;
    }
    std::size_t wanted = buffer_.size() - end_;
    std::size_t got = std::fread(buffer_.data() + end_, 1, wanted, file_);
    end_ += got;
    if (got < wanted) {
        error_ = std::ferror(file_) != 0;
        eof_ = true;
    }
    return got > 0;
}

bool SphInpLineReader::read_overlong(std::string_view& line) {
    // The buffer holds only part of one line: keep its first line_len_
    // characters and skip the rest up to the line feed.
    long_line_.assign(buffer_.data(), line_len_);
    begin_ = end_ = 0;
    for (;;) {
        refill();
        if (const void* lf = std::memchr(buffer_.data(), '\n', end_)) {
            begin_ = static_cast<std::size_t>(static_cast<const char*>(lf) - buffer_.data()) + 1;
            break;
        }
        begin_ = end_ = 0;
        if (eof_) break;
    }
    line = long_line_;
    return !error_;
}

bool SphInpLineReader::next(std::string_view& line) {
    if (!next_physical(line)) return false;
    if (first_line_) {
        first_line_ = false;
        constexpr std::string_view utf8_bom = "\xEF\xBB\xBF";
        if (line.starts_with(utf8_bom)) line.remove_prefix(utf8_bom.size());
    }
    return true;
}

bool SphInpLineReader::next_physical(std::string_view& line) {
    for (;;) {
        const char* start = buffer_.data() + begin_;
        std::size_t avail = end_ - begin_;
        if (const void* lf = std::memchr(start, '\n', avail)) {
            std::size_t len = static_cast<std::size_t>(static_cast<const char*>(lf) - start);
            begin_ += len + 1;
            line = finish_line(std::string_view(start, len), line_len_);
            return true;
        }
        if (error_) return false;
        if (eof_) {
            if (avail == 0) return false;
            begin_ = end_;
            line = finish_line(std::string_view(start, avail), line_len_);
            return true;
        }
        if (begin_ == 0 && end_ == buffer_.size()) return read_overlong(line);
        refill();
    }
}
