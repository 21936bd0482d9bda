#pragma once
// Records of the restart file: a writer that formats values straight into the
// buffered output file, and the splitting of a read line into the values of
// a free-form record.
//
// Free-form records hold values separated by one blank: reals with 17
// significant digits (the shortest form that keeps them, e.g. 0 or 0.1 as
// 0.10000000000000001), integers in decimal, logicals as T or F. A name is one
// value; a name that is empty or holds a blank, comma, slash or quote is
// written in single quotes with inner quotes doubled, the list-directed form
// of a character value, so that it reads back as one value.
//
// On reading, values are separated by blanks, tabs and commas; a slash ends
// the record. Values beyond those a record needs are ignored, so a reader
// skips what a newer writer appends to a record.

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "core/sph_vec3.hpp"
#include "input/sph_inp_helpers.hpp"
#include "output/sph_output_file.hpp"

class RestartWriter {
  public:
    explicit RestartWriter(SphOutputFile& file) : file_(file) {}

    RestartWriter& put(int value);
    RestartWriter& put(int64_t value);
    RestartWriter& put(double value);
    RestartWriter& put(bool value);
    RestartWriter& put(const Vec3& value) { return put(value.x).put(value.y).put(value.z); }
    template <std::size_t N>
    RestartWriter& put(const std::array<double, N>& values) {
        for (const double v : values) put(v);
        return *this;
    }
    RestartWriter& put_name(std::string_view name);
    // Ends the current free-form record.
    void end();
    // A whole text record (written trimmed of trailing blanks).
    void text(std::string_view line);

    template <typename... Values>
    void record(const Values&... values) {
        (put(values), ...);
        end();
    }

  private:
    char* slot(std::size_t width);

    SphOutputFile& file_;
    bool record_open_ = false;
};

// The restart file is read line by line with the deck's line reader. Its
// longest record, the particle list of a full coupling region, is 512
// integers; a longer line is cut, so that a broken file cannot exhaust memory.
inline constexpr std::size_t sph_restart_line_len = std::size_t{1} << 16;
using RestartLineSource = SphInpLineReader;

// The values of one free-form record, taken in order. The record reads
// straight from the line, which must outlive it: a plain number is parsed
// where it stands, and only anything else (a quoted name, a D exponent, a
// leading plus, NaN or Infinity) is first cut out as one value.
class RestartRecord {
  public:
    void assign(std::string_view line) {
        line_ = line;
        next_ = 0;
        failed_ = false;
    }

    // Each reads the next value; false when there is none or it does not
    // parse, and then every later read fails too.
    bool get(double& value);
    bool get(int& value);
    bool get(int64_t& value);
    bool get(bool& value);
    bool get(std::string& name);  // cut to the 64-character name field
    bool get(Vec3& value) { return get(value.x) && get(value.y) && get(value.z); }
    template <std::size_t N>
    bool get(std::array<double, N>& values) {
        for (double& v : values) {
            if (!get(v)) return false;
        }
        return true;
    }
    template <typename... Values>
    bool read(Values&... values) {
        return (get(values) && ...);
    }
    // Values not yet taken.
    std::size_t remaining() const;

  private:
    std::string_view take();
    template <typename Int>
    bool get_integer(Int& value);

    std::string_view line_;
    std::size_t next_ = 0;
    std::string unquoted_;  // the last quoted name, inner quotes undoubled
    bool failed_ = false;
};

// The next line of `in` as the free-form record `r`.
inline bool sph_restart_next_record(RestartLineSource& in, RestartRecord& r) {
    std::string_view line;
    if (!in.next(line)) return false;
    r.assign(line);
    return true;
}

// The next record, read into `values` in order.
template <typename... Values>
bool sph_restart_read_record(RestartLineSource& in, RestartRecord& r, Values&... values) {
    return sph_restart_next_record(in, r) && r.read(values...);
}

// A real of the restart file: a number of the deck form, or NaN, Inf,
// Infinity (either sign, any case), which the writer uses for non-finite
// values.
[[nodiscard]] bool sph_restart_parse_real(std::string_view text, double& value);
