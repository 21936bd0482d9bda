#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "core/sph_error.hpp"
#include "core/sph_log.hpp"

namespace {

std::filesystem::path temp_path(const std::string& name) {
    return std::filesystem::temp_directory_path() /
           (std::string("velunor_log_") +
            ::testing::UnitTest::GetInstance()->current_test_info()->name() + "_" + name);
}

std::string read_all(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

}  // namespace

TEST(Log, AppendsTrimmedLinesAcrossOpens) {
    const auto path = temp_path("run.log");
    std::filesystem::remove(path);
    LogState log;
    ErrorState error;

    sph_log_info(log, "dropped while closed");
    ASSERT_EQ(sph_log_open(log, error, path.string() + "   "), sph_success);
    EXPECT_TRUE(log.sph_log_is_open);
    sph_log_info(log, "first   ");
    // Opening again closes the current file first and keeps appending.
    ASSERT_EQ(sph_log_open(log, error, path.string()), sph_success);
    sph_log_info(log, "second");
    EXPECT_EQ(sph_log_close(log, error), sph_success);
    EXPECT_FALSE(log.sph_log_is_open);
    sph_log_info(log, "dropped after close");

    EXPECT_EQ(read_all(path), "first\r\nsecond\r\n");
    EXPECT_EQ(error.last_error_message, "OK");
    std::filesystem::remove(path);
}

TEST(Log, OpenFailureReportsIoAndLeavesTheLogClosed) {
    LogState log;
    ErrorState error;
    const auto missing_dir = temp_path("no_such_dir") / "run.log";
    EXPECT_EQ(sph_log_open(log, error, missing_dir.string()), sph_error_io);
    EXPECT_EQ(error.last_error_code, sph_error_io);
    EXPECT_EQ(error.last_error_message, "failed to open log file");
    EXPECT_FALSE(log.sph_log_is_open);

    EXPECT_EQ(sph_log_open(log, error, "    "), sph_error_io);
    EXPECT_FALSE(log.sph_log_is_open);
    // Closing a log that is not open is harmless.
    EXPECT_EQ(sph_log_close(log, error), sph_success);
}
