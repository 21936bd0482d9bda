// Records of the restart file: the record reader against the plain
// definition of a record (split the line into values, convert each on its
// own), and the writer against the standard library's "%.17g" text.

#include <gtest/gtest.h>

#include <bit>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <limits>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "../input/deck_test_util.hpp"
#include "core/sph_format.hpp"
#include "core/sph_number.hpp"
#include "restart/sph_restart_io.hpp"

namespace {

namespace fs = std::filesystem;

bool separator(char c) {
    return c == ' ' || c == '\t' || c == ',';
}

// The plain definition: the line split at blanks, tabs and commas up to a
// slash (a quoted value runs to its closing quote, a doubled quote inside
// it), each value converted by the project's number reader.
class PlainRecord {
  public:
    explicit PlainRecord(std::string_view line) {
        std::size_t k = 0;
        const std::size_t n = line.size();
        while (k < n) {
            while (k < n && separator(line[k])) ++k;
            if (k >= n || line[k] == '/') break;
            const std::size_t start = k;
            if (line[k] == '\'' || line[k] == '"') {
                const char quote = line[k++];
                while (k < n) {
                    if (line[k] == quote) {
                        if (k + 1 < n && line[k + 1] == quote) {
                            k += 2;
                            continue;
                        }
                        ++k;
                        break;
                    }
                    ++k;
                }
            } else {
                while (k < n && !separator(line[k]) && line[k] != '/') ++k;
            }
            values_.push_back(line.substr(start, k - start));
        }
    }
    std::size_t remaining() const { return failed_ ? 0 : values_.size() - next_; }
    bool get(double& v) {
        return convert([&](std::string_view t) { return sph_restart_parse_real(t, v); });
    }
    bool get(int& v) {
        return convert([&](std::string_view t) { return sph_number_read_int(t, v); });
    }
    bool get(int64_t& v) {
        return convert([&](std::string_view t) { return sph_number_read_int64(t, v); });
    }

  private:
    template <typename Convert>
    bool convert(Convert c) {
        if (failed_ || next_ >= values_.size() || !c(values_[next_++])) failed_ = true;
        return !failed_;
    }
    std::vector<std::string_view> values_;
    std::size_t next_ = 0;
    bool failed_ = false;
};

std::string g17(double v) {
    char text[32];
    return std::string(
        text, std::to_chars(text, text + sizeof(text), v, std::chars_format::general, 17).ptr);
}

// Pieces of lines: the writer's forms, the other number forms the reader
// takes (D exponents, a leading plus, bare points), the forms it refuses,
// out-of-range numbers, names, logicals and record ends.
const std::vector<std::string> pieces = {
    "0",
    "-0",
    "1",
    "-1",
    "1.3",
    ".5",
    "-.5",
    "5.",
    ".",
    "-",
    "+",
    "+5",
    "-+5",
    "1e5",
    "1E-05",
    "1e",
    "1e+",
    "1d3",
    "1D+3",
    "-1.5d-2",
    "NaN",
    "-nan",
    "Infinity",
    "-inf",
    "INF",
    "T",
    "F",
    ".true.",
    "x",
    "'a b'",
    "'it''s'",
    "\"q\"",
    "'open",
    "/",
    "2147483647",
    "2147483648",
    "-2147483649",
    "9223372036854775807",
    "9223372036854775808",
    "1e-400",
    "-1e-400",
    "1e400",
    "123456789012345",
    "1234567890123456",
    "123456789012345678",
    "0000000000000000012",
    "99999999999999.9",
    "0.000000000000001",
    "1.2.3",
    "1..2",
    "--1",
    "1-2",
    "12a",
    "0x10",
    "1.7976931348623157e308",
    "4.9406564584124654e-324",
    "1000000000000000.25",
};
const std::vector<std::string> separators = {" ", ",", "\t", "  ", ", ", " ,", ""};

std::string random_line(std::mt19937_64& rng) {
    std::uniform_real_distribution<double> u(-1.0, 1.0);
    std::string line;
    const int count = static_cast<int>(rng() % 10);
    for (int k = 0; k < count; ++k) {
        switch (rng() % 4) {
            case 0:
                line += g17(std::bit_cast<double>(rng()));
                break;
            case 1:
                line += g17(u(rng) * std::pow(10.0, static_cast<int>(rng() % 30) - 15));
                break;
            default:
                line += pieces[rng() % pieces.size()];
                break;
        }
        line += separators[rng() % separators.size()];
    }
    return line;
}

template <typename T>
bool same(const T& a, const T& b) {
    if constexpr (std::is_same_v<T, double>) {
        return std::bit_cast<std::uint64_t>(a) == std::bit_cast<std::uint64_t>(b);
    } else {
        return a == b;
    }
}

}  // namespace

TEST(RestartRecord, ReadsEveryLineAsThePlainSplitDoes) {
    std::mt19937_64 rng(31);
    RestartRecord record;
    for (int line_no = 0; line_no < 200000; ++line_no) {
        const std::string line = random_line(rng);
        record.assign(line);
        PlainRecord plain(line);
        for (int k = 0; k < 12; ++k) {
            ASSERT_EQ(record.remaining(), plain.remaining()) << line;
            bool fast_ok = false, plain_ok = false;
            bool values_same = false;
            switch (rng() % 3) {
                case 0: {
                    double a = 42.0, b = 42.0;
                    fast_ok = record.get(a);
                    plain_ok = plain.get(b);
                    values_same = same(a, b);
                    break;
                }
                case 1: {
                    int a = 42, b = 42;
                    fast_ok = record.get(a);
                    plain_ok = plain.get(b);
                    values_same = same(a, b);
                    break;
                }
                default: {
                    int64_t a = 42, b = 42;
                    fast_ok = record.get(a);
                    plain_ok = plain.get(b);
                    values_same = same(a, b);
                    break;
                }
            }
            ASSERT_EQ(fast_ok, plain_ok) << "value " << k << " of [" << line << "]";
            ASSERT_TRUE(values_same) << "value " << k << " of [" << line << "]";
        }
    }
}

TEST(RestartRecord, NumberFormsAndEnds) {
    RestartRecord r;
    r.assign("0 -0 1.3 .5 5. 1d3 +2 NaN -Infinity 7, 8/ 9");
    double d[9];
    int i = 0;
    ASSERT_TRUE(r.read(d[0], d[1], d[2], d[3], d[4], d[5], d[6], d[7], d[8], i));
    EXPECT_EQ(d[0], 0.0);
    EXPECT_FALSE(std::signbit(d[0]));
    EXPECT_TRUE(std::signbit(d[1]));
    EXPECT_EQ(d[2], 1.3);
    EXPECT_EQ(d[3], 0.5);
    EXPECT_EQ(d[4], 5.0);
    EXPECT_EQ(d[5], 1000.0);
    EXPECT_EQ(d[6], 2.0);
    EXPECT_TRUE(std::isnan(d[7]));
    EXPECT_EQ(d[8], -std::numeric_limits<double>::infinity());
    EXPECT_EQ(i, 7);
    EXPECT_EQ(r.remaining(), 1u);  // the slash ends the record after 8
    ASSERT_TRUE(r.get(i));
    EXPECT_EQ(i, 8);
    EXPECT_FALSE(r.get(i));
    EXPECT_EQ(i, 8);
    // A value that does not parse fails it and every later one.
    r.assign("1.5x 2");
    double v = 3.0;
    EXPECT_FALSE(r.get(v));
    EXPECT_EQ(v, 3.0);
    EXPECT_FALSE(r.get(v));
    EXPECT_EQ(r.remaining(), 0u);
    r.assign("3.0");
    EXPECT_FALSE(r.get(i));  // an integer has no point
}

// A record of random values written and read back: the text is the
// standard library's, value by value, and every value comes back bit for bit.
TEST(RestartWriter, WritesTheStandardFormAndReadsBackBitForBit) {
    const fs::path path = deck_test::temp_dir() / "restart_io_values.txt";
    std::mt19937_64 rng(5);
    std::normal_distribution<double> normal(0.0, 1.0);
    std::vector<double> values;
    for (int k = 0; k < 100000; ++k) {
        double v = k % 2 == 0 ? std::bit_cast<double>(rng())
                              : normal(rng) * std::pow(10.0, static_cast<int>(rng() % 40) - 20);
        if (!std::isfinite(v)) v = static_cast<double>(k);
        values.push_back(v);
    }
    std::vector<int> ints;
    for (int k = 0; k < 1000; ++k) ints.push_back(static_cast<int>(rng()));
    ints.push_back(std::numeric_limits<int>::min());
    {
        SphOutputFile file;
        ASSERT_TRUE(file.open_replacing(path.string()));
        RestartWriter w(file);
        for (std::size_t k = 0; k < values.size(); k += 10) {
            for (std::size_t j = k; j < k + 10; ++j) w.put(values[j]);
            w.end();
        }
        for (const int i : ints) w.put(i);
        w.end();
        ASSERT_TRUE(file.close());
    }
    std::string expected;
    for (std::size_t k = 0; k < values.size(); ++k) {
        expected += g17(values[k]);
        expected += k % 10 == 9 ? "\n" : " ";
    }
    for (std::size_t k = 0; k < ints.size(); ++k) {
        expected += std::to_string(ints[k]) + (k + 1 == ints.size() ? "\n" : " ");
    }
    std::ifstream in_text(path, std::ios::binary);
    std::ostringstream text;
    text << in_text.rdbuf();
    EXPECT_EQ(text.str(), expected);

    RestartLineSource in(sph_restart_line_len);
    ASSERT_TRUE(in.open(path.string()));
    RestartRecord r;
    for (std::size_t k = 0; k < values.size(); k += 10) {
        ASSERT_TRUE(sph_restart_next_record(in, r));
        for (std::size_t j = k; j < k + 10; ++j) {
            double v = 0.0;
            ASSERT_TRUE(r.get(v));
            ASSERT_EQ(std::bit_cast<std::uint64_t>(v), std::bit_cast<std::uint64_t>(values[j]))
                << std::hexfloat << values[j];
        }
    }
    ASSERT_TRUE(sph_restart_next_record(in, r));
    for (const int i : ints) {
        int v = 0;
        ASSERT_TRUE(r.get(v));
        ASSERT_EQ(v, i);
    }
    in.close();
    fs::remove(path);
}
