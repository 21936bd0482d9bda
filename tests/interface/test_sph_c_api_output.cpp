// The output exports through the C API: step files, single CSV and VTU files,
// the PVD series across directory changes, and their failure statuses.

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "../output/output_test_support.hpp"
#include "c_api_test_util.hpp"
#include "core/sph_model.hpp"
#include "interface/sph_api.hpp"
#include "velunor.h"

namespace {

using namespace output_test;
namespace fs = std::filesystem;

std::string last_message() {
    int code = 0;
    const std::string message = c_api_test::last_error_message(code);
    return std::to_string(code) + " " + message;
}

class CApiOutput : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_EQ(velunor_initialize(), 0);
        fill_two_particles(sph_api_model());
    }
    void TearDown() override { EXPECT_EQ(velunor_finalize(), 0); }
    TempDir dir;
};

TEST_F(CApiOutput, SingleFilesMatchTheWritersAndAddNoPvdEntry) {
    ASSERT_EQ(velunor_write_csv((dir.file("one.csv") + "   ").c_str()), 0);
    ASSERT_EQ(velunor_write_vtu(dir.file("one.vtu").c_str()), 0);
    Model& m = sph_api_model();
    EXPECT_TRUE(m.pvd.entries.empty());
    EXPECT_FALSE(fs::exists(dir.path() / "velunor.pvd"));
    const std::string csv = read_file(dir.file("one.csv"));
    EXPECT_EQ(csv.substr(0, 5), "id,ph");
    EXPECT_EQ(std::count(csv.begin(), csv.end(), '\n'), 3);
    EXPECT_NE(read_file(dir.file("one.vtu")).find(R"(NumberOfPoints="2" NumberOfCells="2")"),
              std::string::npos);
}

TEST_F(CApiOutput, StepOutputFollowsTheDirectoryAndANewDirectoryStartsANewSeries) {
    fs::create_directory(dir.path() / "a");
    fs::create_directory(dir.path() / "b");
    ASSERT_EQ(velunor_set_output_directory(dir.file("a").c_str()), 0);
    ASSERT_EQ(velunor_write_output(1, 0.5), 0);
    ASSERT_EQ(velunor_write_output(2, 1.0), 0);
    for (const char* name : {"velunor_00000001.csv", "velunor_00000001.vtu", "velunor_00000002.csv",
                             "velunor_00000002.vtu", "velunor.pvd"}) {
        EXPECT_TRUE(fs::exists(dir.path() / "a" / name)) << name;
    }
    ASSERT_EQ(velunor_set_output_directory(dir.file("b").c_str()), 0);
    ASSERT_EQ(velunor_write_output(3, 1.5), 0);
    const std::string pvd = read_file(dir.path() / "b" / "velunor.pvd");
    EXPECT_NE(pvd.find("file=\"velunor_00000003.vtu\""), std::string::npos);
    EXPECT_EQ(pvd.find("velunor_00000001"), std::string::npos);
    EXPECT_EQ(sph_api_model().pvd.entries.size(), 1u);
}

TEST_F(CApiOutput, FailuresReturnIoStatusWithTheirMessages) {
    EXPECT_EQ(velunor_write_csv(dir.file("missing/p.csv").c_str()), 3);
    EXPECT_EQ(last_message(), "3 failed to open CSV output file");
    EXPECT_EQ(velunor_write_vtu(dir.file("missing/p.vtu").c_str()), 3);
    EXPECT_EQ(last_message(), "3 failed to open VTU output file");
    ASSERT_EQ(velunor_set_output_directory(dir.file("missing").c_str()), 0);
    EXPECT_EQ(velunor_write_output(4, 2.0), 3);
    EXPECT_EQ(last_message(), "3 failed to open CSV output file");
    EXPECT_TRUE(sph_api_model().pvd.entries.empty());
    EXPECT_TRUE(fs::is_empty(dir.path()));

    ASSERT_EQ(velunor_set_output_directory(dir.path().string().c_str()), 0);
    fs::create_directory(dir.path() / "velunor.pvd");
    EXPECT_EQ(velunor_write_output(5, 2.5), 3);
    EXPECT_EQ(last_message(), "3 failed to open PVD output file");
}

}  // namespace
