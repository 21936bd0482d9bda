// Bad and hostile input: every deck gives a clean status and message.

#include <gtest/gtest.h>

#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "core/sph_model.hpp"
#include "deck_test_util.hpp"

using deck_test::fresh_model;
using deck_test::read_text;
using deck_test::TempDeck;
using deck_test::water_deck;

namespace {

bool known_status(int status) {
    return status >= 0 && status <= 5;
}

// Reads and, when the read succeeds, builds; both must return a known status
// and a failure must leave a message.
void read_and_build(std::string_view text) {
    auto m = fresh_model();
    int status = read_text(*m, text);
    ASSERT_TRUE(known_status(status)) << status;
    if (status != 0) {
        EXPECT_EQ(m->error.last_error_code, status);
        EXPECT_FALSE(m->error.last_error_message.empty());
        EXPECT_NE(m->error.last_error_message, "OK");
        return;
    }
    status = sph_input_build_model(*m);
    ASSERT_TRUE(known_status(status)) << status;
    if (status != 0) {
        EXPECT_EQ(m->error.last_error_code, status);
    }
}

}  // namespace

TEST(InputRobust, HostileFilesGiveCleanStatuses) {
    auto m = fresh_model();
    EXPECT_EQ(read_text(*m, ""), 0);  // empty file: no particles, build reports it
    EXPECT_EQ(sph_input_build_model(*m), 4);

    std::string binary;
    for (int k = 0; k < 4096; ++k) binary += static_cast<char>((k * 7919) & 0xff);
    read_and_build(binary);
    read_and_build("*NODE\n" + binary);
    read_and_build(std::string("*NODE\n1,\0,0,0\n", 14));

    // A 100,000-character data line is cut to 1024 characters and its last
    // field to 256: z is 0 followed by 255 sevens.
    m = fresh_model();
    ASSERT_EQ(read_text(*m, "*NODE\n1, 0, 0, 0" + std::string(100000, '7') + "\n"), 0);
    EXPECT_GT(m->db.x[0].z, 7.7e254);
    EXPECT_LT(m->db.x[0].z, 7.8e254);
    m = fresh_model();
    EXPECT_EQ(read_text(*m, "*NODE\n1, 0, 0, 0," + std::string(100000, ' ') + "x\n"), 0);

    // More than 64 fields on a keyword line and a data line.
    std::string fields;
    for (int k = 0; k < 200; ++k) fields += ", F" + std::to_string(k) + "=" + std::to_string(k);
    read_and_build("*MATERIAL, NAME=A" + fields + "\n*NODE\n1, 0, 0, 0" + fields + "\n");

    // Numbers beyond the range of a double.
    std::string path;
    m = fresh_model();
    EXPECT_EQ(read_text(*m, "*NODE\n1, 1e400, 0, 0\n", &path), 4);
    EXPECT_EQ(m->error.last_error_message, path + ":2: invalid node x coordinate");
    m = fresh_model();
    ASSERT_EQ(read_text(*m, "*NODE\n1, 1d-400, -1D-400, 0\n"), 0);
    EXPECT_EQ(m->db.x[0].x, 0.0);
    EXPECT_EQ(read_text(*m, "*NODE\n99999999999, 0, 0, 0\n", &path), 4);
    EXPECT_EQ(m->error.last_error_message, path + ":2: invalid node id");
}

TEST(InputRobust, UnreadableFile) {
    TempDeck deck("*NODE\n1, 0, 0, 0\n");
    std::filesystem::permissions(deck.path(), std::filesystem::perms::none);
    auto m = fresh_model();
    int status = sph_input_read(*m, deck.path());
    std::filesystem::permissions(deck.path(), std::filesystem::perms::owner_all);
    if (status == 0) GTEST_SKIP() << "running with rights that read any file";
    EXPECT_EQ(status, 3);
    EXPECT_EQ(m->error.last_error_message, "failed to open input file");
}

// Mutated decks (byte flips, truncations, duplicated and dropped lines) never
// crash or hang the reader and always end in a known status.
TEST(InputRobust, MutatedDecksAlwaysReturnAStatus) {
    const std::string base = std::string(water_deck) +
                             "*ELEMENT, TYPE=C3D8\n1, 1, 2\n*ELSET, ELSET=E\n1\n"
                             "*MATERIAL, NAME=Plate, TYPE=SHELL\n"
                             "*SHELL SECTION, ELSET=E, MATERIAL=Plate, THICKNESS=0.1, POINTS=5\n"
                             "*ORIENTATION, NAME=O\n0,0,1,1,0,0\n"
                             "*VELUNOR OUTPUT, DIR=out, INTERVAL=5\n"
                             "*VELUNOR BODY FORCE, Z=-9.81\n";
    const char specials[] = {'\0', '\n', '\r', ',', '=', '*', '!', ' ', '\t', 'e', 'd', '-', '.'};
    std::mt19937 rng(20240611);
    auto pick = [&](std::size_t n) {
        return std::uniform_int_distribution<std::size_t>(0, n - 1)(rng);
    };
    for (int iteration = 0; iteration < 300; ++iteration) {
        std::string deck = base;
        int edits = 1 + static_cast<int>(pick(4));
        for (int e = 0; e < edits && !deck.empty(); ++e) {
            switch (pick(5)) {
                case 0:  // flip one byte to anything
                    deck[pick(deck.size())] = static_cast<char>(pick(256));
                    break;
                case 1:  // a syntactically interesting byte
                    deck[pick(deck.size())] = specials[pick(sizeof specials)];
                    break;
                case 2:  // truncate
                    deck.resize(pick(deck.size()));
                    break;
                case 3: {  // duplicate a line
                    std::size_t at = deck.rfind('\n', pick(deck.size()));
                    at = at == std::string::npos ? 0 : at + 1;
                    std::size_t end = deck.find('\n', at);
                    end = end == std::string::npos ? deck.size() : end + 1;
                    std::string line = deck.substr(at, end - at);
                    deck.insert(at, line.back() == '\n' ? line : line + "\n");
                    break;
                }
                default: {  // drop a line
                    std::size_t at = deck.rfind('\n', pick(deck.size()));
                    at = at == std::string::npos ? 0 : at + 1;
                    std::size_t end = deck.find('\n', at);
                    deck.erase(at, end == std::string::npos ? std::string::npos : end - at + 1);
                    break;
                }
            }
        }
        SCOPED_TRACE("iteration " + std::to_string(iteration));
        read_and_build(deck);
    }
}

// A read error after the file opened is reported, not taken for the end of
// the deck.
TEST(InputRobust, ReadErrorIsReported) {
    const char* unreadable = "/proc/self/mem";  // opens, but reading offset 0 fails
    if (!std::filesystem::exists(unreadable)) GTEST_SKIP() << "no /proc/self/mem here";
    auto m = fresh_model();
    EXPECT_EQ(sph_input_read(*m, unreadable), 3);
    EXPECT_EQ(m->error.last_error_message, "failed to read input file");
}
