// Replays the stored fuzz corpus of the restart reader (fuzz/corpus/restart):
// every input reads to a known status, and the seeds, one file per layout,
// read without error.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "../../fuzz/restart_fuzz_one.hpp"
#include "../input/deck_test_util.hpp"

TEST(RestartCorpus, EveryStoredInputGivesAKnownStatus) {
    const std::filesystem::path corpus =
        std::filesystem::path(VELUNOR_SOURCE_DIR) / "fuzz" / "corpus" / "restart";
    ASSERT_TRUE(std::filesystem::is_directory(corpus));
    const std::string path = (deck_test::temp_dir() / "corpus_replay.rst").string();
    int seeds = 0;
    for (const auto& entry : std::filesystem::directory_iterator(corpus)) {
        std::ifstream in(entry.path(), std::ios::binary);
        std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        const int status =
            restart_fuzz_one(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), path);
        EXPECT_GE(status, 0) << entry.path();
        EXPECT_LE(status, 5) << entry.path();
        if (entry.path().filename().string().starts_with("state_")) {
            EXPECT_EQ(status, 0) << entry.path();
            ++seeds;
        }
    }
    std::filesystem::remove(path);
    EXPECT_EQ(seeds, 9);
}
