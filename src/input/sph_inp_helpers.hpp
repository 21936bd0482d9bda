#pragma once
// Line operations of the deck reader: cleaning, keyword ids, comma splitting.
//
// Cleaned lines and fields are views into the caller's text: leading blanks
// removed, trailing blanks removed, cut to their width (1024 characters for a
// line, 256 for a field). Only spaces count as blanks; tabs are kept.

#include <array>
#include <cstddef>
#include <cstdio>
#include <string>
#include <string_view>

inline constexpr std::size_t sph_inp_line_len = 1024;
inline constexpr std::size_t sph_inp_field_len = 256;
inline constexpr int sph_inp_max_fields = 64;

inline constexpr int sph_inp_kw_node = 1;
inline constexpr int sph_inp_kw_element = 2;
inline constexpr int sph_inp_kw_nset = 3;
inline constexpr int sph_inp_kw_elset = 4;
inline constexpr int sph_inp_kw_material = 5;
inline constexpr int sph_inp_kw_section = 6;
inline constexpr int sph_inp_kw_velunor = 7;
inline constexpr int sph_inp_kw_density = 8;
inline constexpr int sph_inp_kw_elastic = 9;
inline constexpr int sph_inp_kw_plastic = 10;
inline constexpr int sph_inp_kw_damage = 11;
inline constexpr int sph_inp_kw_orientation = 12;
inline constexpr int sph_inp_kw_initial_conditions = 13;
inline constexpr int sph_inp_kw_unknown = 99;

// Up to 64 fields of one line; fields past `count` are empty.
struct SphCsvFields {
    std::array<std::string_view, sph_inp_max_fields> field{};
    int count = 0;
};

// The cleaned form of one physical line (without its line ending): empty for
// a comment ("!" in column 1, "**" at the start) or a blank line, otherwise
// the line cut to 1024 characters and trimmed of blanks on both ends.
std::string_view sph_inp_clean_line(std::string_view raw);
// Keyword id of a cleaned keyword line (first character "*").
int sph_inp_keyword_id(std::string_view line);
// Splits at commas into at most 64 fields; a line ending in a comma ends in
// an empty field, and fields after the 64th are dropped.
void sph_inp_split_csv(std::string_view line, SphCsvFields& out);
// Letters a-z to A-Z.
std::string sph_inp_upper(std::string_view text);
// True if `text` begins with `upper_prefix` (upper case) with a-z compared as A-Z.
bool sph_inp_starts_with_upper(std::string_view text, std::string_view upper_prefix);

// Buffered reader of physical lines. Each line comes without its line feed
// and without a carriage return just before it (CRLF and LF files read
// alike), cut to `line_len` characters (1024 for a deck); a line longer than
// the buffer is read in pieces and cut the same way, so no line length can
// exhaust memory.
class SphInpLineReader {
  public:
    // At most 1 MiB: longer lines would not fit the buffer.
    explicit SphInpLineReader(std::size_t line_len = sph_inp_line_len) : line_len_(line_len) {}
    SphInpLineReader(const SphInpLineReader&) = delete;
    SphInpLineReader& operator=(const SphInpLineReader&) = delete;
    ~SphInpLineReader();

    // False if the path cannot be opened for reading or is not a regular
    // file (a directory, for example).
    [[nodiscard]] bool open(const std::string& path);
    void close();
    // Next physical line; false at the end of the file or after a read
    // error (failed() tells them apart). The view stays valid until the
    // next call. A UTF-8 byte-order mark before the first line is dropped, so
    // decks saved by editors that write one read like any other.
    [[nodiscard]] bool next(std::string_view& line);
    bool failed() const { return error_; }

  private:
    bool next_physical(std::string_view& line);
    bool refill();
    bool read_overlong(std::string_view& line);

    std::size_t line_len_;
    std::FILE* file_ = nullptr;
    std::string buffer_;
    std::size_t begin_ = 0;
    std::size_t end_ = 0;
    bool eof_ = true;  // nothing to read until open() succeeds
    bool error_ = false;
    bool first_line_ = true;
    std::string long_line_;
};
