// Replays the stored fuzz corpus of the deck reader (fuzz/corpus/deck): every
// input reads and builds to a known status.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "../../fuzz/deck_fuzz_one.hpp"
#include "deck_test_util.hpp"

TEST(InputCorpus, EveryStoredInputGivesAKnownStatus) {
    const std::filesystem::path corpus =
        std::filesystem::path(VELUNOR_SOURCE_DIR) / "fuzz" / "corpus" / "deck";
    ASSERT_TRUE(std::filesystem::is_directory(corpus));
    const std::string path = (deck_test::temp_dir() / "corpus_replay.inp").string();
    int replayed = 0;
    for (const auto& entry : std::filesystem::directory_iterator(corpus)) {
        std::ifstream in(entry.path(), std::ios::binary);
        std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        int status =
            deck_fuzz_one(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), path);
        EXPECT_GE(status, 0) << entry.path();
        EXPECT_LE(status, 5) << entry.path();
        ++replayed;
    }
    std::filesystem::remove(path);
    EXPECT_GT(replayed, 0);
}
