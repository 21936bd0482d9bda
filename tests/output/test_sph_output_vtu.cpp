#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <initializer_list>
#include <string>

#include "core/sph_model.hpp"
#include "output/sph_output_vtu.hpp"
#include "output_test_support.hpp"

namespace {

using namespace output_test;

// The lines of an expected file, each ended by CR LF.
std::string lines(std::initializer_list<std::string_view> text) {
    std::string out;
    for (std::string_view line : text) {
        out += line;
        out += "\r\n";
    }
    return out;
}

TEST(OutputVtu, TwoParticleFileIsExact) {
    TempDir dir;
    Model m;
    fill_two_particles(m);
    ASSERT_EQ(sph_output_write_vtu(m, dir.file("a.vtu") + "   "), 0);
    const std::string expected = lines({
        R"(<?xml version="1.0"?>)",
        R"(<VTKFile type="UnstructuredGrid" version="0.1" byte_order="LittleEndian">)",
        R"(  <UnstructuredGrid>)",
        R"(    <Piece NumberOfPoints="2" NumberOfCells="2">)",
        R"(      <PointData Scalars="pressure" Vectors="velocity">)",
        R"(        <DataArray type="Int32" Name="particle_id" format="ascii">)",
        "7",
        "8",
        R"(        </DataArray>)",
        R"(        <DataArray type="Int32" Name="phase" format="ascii">)",
        "1",
        "4",
        R"(        </DataArray>)",
        R"(        <DataArray type="Int32" Name="status" format="ascii">)",
        "0",
        "2",
        R"(        </DataArray>)",
        R"(        <DataArray type="Int32" Name="material" format="ascii">)",
        "1",
        "2",
        R"(        </DataArray>)",
        R"(        <DataArray type="Int32" Name="section" format="ascii">)",
        "2",
        "1",
        R"(        </DataArray>)",
        R"(        <DataArray type="Float64" Name="velocity" NumberOfComponents="3" format="ascii">)",
        "  1.5000000000000000E+00  -2.5000000000000000E+00   0.0000000000000000E+00 ",
        "  0.0000000000000000E+00   0.0000000000000000E+00   0.0000000000000000E+00 ",
        R"(        </DataArray>)",
        R"(        <DataArray type="Float64" Name="acceleration" NumberOfComponents="3" format="ascii">)",
        // VTK's reader forms: the letter E stays in three-digit exponents, "inf".
        " 1.0000000000000000E+100 -1.0000000000000000E-100   3.0000000000000000E+00 ",
        "                     inf                     -inf   0.0000000000000000E+00 ",
        R"(        </DataArray>)",
        R"(        <DataArray type="Float64" Name="density" format="ascii">)",
        "  1.0000000000000000E+03",
        "  7.8500000000000000E+03",
        R"(        </DataArray>)",
        R"(        <DataArray type="Float64" Name="pressure" format="ascii">)",
        " -1.0132550000000000E+05",
        "  2.5000000000000000E+09",
        R"(        </DataArray>)",
        R"(        <DataArray type="Float64" Name="temperature" format="ascii">)",
        "                     NaN",
        "  2.9314999999999998E+02",
        R"(        </DataArray>)",
        R"(        <DataArray type="Float64" Name="smoothing_length" format="ascii">)",
        "  2.5000000000000000E-01",
        "  1.0000000000000000E-03",
        R"(        </DataArray>)",
        R"(      </PointData>)",
        R"(      <Points>)",
        R"(        <DataArray type="Float64" Name="Points" NumberOfComponents="3" format="ascii">)",
        "  0.0000000000000000E+00   5.0000000000000000E-01  -1.0000000000000000E+00 ",
        "  1.0000000000000000E+00   2.0000000000000000E+00   3.0000000000000000E+00 ",
        R"(        </DataArray>)",
        R"(      </Points>)",
        R"(      <Cells>)",
        R"(        <DataArray type="Int32" Name="connectivity" format="ascii">)",
        "0",
        "1",
        R"(        </DataArray>)",
        R"(        <DataArray type="Int32" Name="offsets" format="ascii">)",
        "1",
        "2",
        R"(        </DataArray>)",
        R"(        <DataArray type="UInt8" Name="types" format="ascii">)",
        "1",
        "1",
        R"(        </DataArray>)",
        R"(      </Cells>)",
        R"(    </Piece>)",
        R"(  </UnstructuredGrid>)",
        R"(</VTKFile>)",
    });
    EXPECT_EQ(read_file(dir.file("a.vtu")), expected);
    EXPECT_EQ(m.error.last_error_code, 0);
}

TEST(OutputVtu, EmptyModelGivesEmptyArraysAndReplacesOldContent) {
    TempDir dir;
    Model m;
    const std::string path = dir.file("empty.vtu");
    {
        std::ofstream old(path);
        old << std::string(10000, '#');  // longer than the new file: must not survive
    }
    ASSERT_EQ(sph_output_write_vtu(m, path), 0);
    const std::string expected = lines({
        R"(<?xml version="1.0"?>)",
        R"(<VTKFile type="UnstructuredGrid" version="0.1" byte_order="LittleEndian">)",
        R"(  <UnstructuredGrid>)",
        R"(    <Piece NumberOfPoints="0" NumberOfCells="0">)",
        R"(      <PointData Scalars="pressure" Vectors="velocity">)",
        R"(        <DataArray type="Int32" Name="particle_id" format="ascii">)",
        R"(        </DataArray>)",
        R"(        <DataArray type="Int32" Name="phase" format="ascii">)",
        R"(        </DataArray>)",
        R"(        <DataArray type="Int32" Name="status" format="ascii">)",
        R"(        </DataArray>)",
        R"(        <DataArray type="Int32" Name="material" format="ascii">)",
        R"(        </DataArray>)",
        R"(        <DataArray type="Int32" Name="section" format="ascii">)",
        R"(        </DataArray>)",
        R"(        <DataArray type="Float64" Name="velocity" NumberOfComponents="3" format="ascii">)",
        R"(        </DataArray>)",
        R"(        <DataArray type="Float64" Name="acceleration" NumberOfComponents="3" format="ascii">)",
        R"(        </DataArray>)",
        R"(        <DataArray type="Float64" Name="density" format="ascii">)",
        R"(        </DataArray>)",
        R"(        <DataArray type="Float64" Name="pressure" format="ascii">)",
        R"(        </DataArray>)",
        R"(        <DataArray type="Float64" Name="temperature" format="ascii">)",
        R"(        </DataArray>)",
        R"(        <DataArray type="Float64" Name="smoothing_length" format="ascii">)",
        R"(        </DataArray>)",
        R"(      </PointData>)",
        R"(      <Points>)",
        R"(        <DataArray type="Float64" Name="Points" NumberOfComponents="3" format="ascii">)",
        R"(        </DataArray>)",
        R"(      </Points>)",
        R"(      <Cells>)",
        R"(        <DataArray type="Int32" Name="connectivity" format="ascii">)",
        R"(        </DataArray>)",
        R"(        <DataArray type="Int32" Name="offsets" format="ascii">)",
        R"(        </DataArray>)",
        R"(        <DataArray type="UInt8" Name="types" format="ascii">)",
        R"(        </DataArray>)",
        R"(      </Cells>)",
        R"(    </Piece>)",
        R"(  </UnstructuredGrid>)",
        R"(</VTKFile>)",
    });
    EXPECT_EQ(read_file(path), expected);
}

TEST(OutputVtu, OpenFailureReportsIoStatus) {
    TempDir dir;
    Model m;
    fill_two_particles(m);
    EXPECT_EQ(sph_output_write_vtu(m, dir.file("missing/a.vtu")), 3);
    EXPECT_EQ(m.error.last_error_code, 3);
    EXPECT_EQ(m.error.last_error_message, "failed to open VTU output file");
    EXPECT_FALSE(std::filesystem::exists(dir.path() / "missing"));
    EXPECT_EQ(sph_output_write_vtu(m, "   "), 3);
    EXPECT_TRUE(m.pvd.entries.empty());
    // Write failures and refused paths: test_sph_output_file.cpp.
}

TEST(OutputPvd, RepeatedStepKeepsItsFirstPositionWithTheLatestTime) {
    TempDir dir;
    Model m;
    ASSERT_EQ(
        sph_output_write_pvd_step(m, dir.path().string() + "  ", 10, 1e-6, "velunor_00000010.vtu"),
        0);
    ASSERT_EQ(
        sph_output_write_pvd_step(m, dir.path().string(), 20, -2.5e-6, "velunor_00000020.vtu"), 0);
    ASSERT_EQ(
        sph_output_write_pvd_step(m, dir.path().string(), 10, 3e-6, "velunor_00000010.vtu   "), 0);
    ASSERT_EQ(sph_output_write_pvd_step(m, dir.path().string(), 30, 1e100, "velunor_00000030.vtu"),
              0);
    ASSERT_EQ(
        sph_output_write_pvd_step(m, dir.path().string(), 40, std::nan(""), "velunor_00000040.vtu"),
        0);
    const std::string expected = lines({
        R"(<?xml version="1.0"?>)",
        R"(<VTKFile type="Collection" version="0.1" byte_order="LittleEndian">)",
        R"(  <Collection>)",
        R"(    <DataSet timestep="3.0000000000000001E-06" group="" part="0" file="velunor_00000010.vtu"/>)",
        R"(    <DataSet timestep="-2.5000000000000002E-06" group="" part="0" file="velunor_00000020.vtu"/>)",
        R"(    <DataSet timestep="1.0000000000000000+100" group="" part="0" file="velunor_00000030.vtu"/>)",
        R"(    <DataSet timestep="NaN" group="" part="0" file="velunor_00000040.vtu"/>)",
        R"(  </Collection>)",
        R"(</VTKFile>)",
    });
    EXPECT_EQ(read_file(dir.file("velunor.pvd")), expected);
    ASSERT_EQ(m.pvd.entries.size(), 4u);
    EXPECT_EQ(m.pvd.entries[0].step, 10);
    EXPECT_EQ(m.pvd.entries[0].time, 3e-6);

    sph_output_reset_pvd(m.pvd);
    EXPECT_TRUE(m.pvd.entries.empty());
    ASSERT_EQ(sph_output_write_pvd_step(m, dir.path().string(), 50, 0.0, "velunor_00000050.vtu"),
              0);
    EXPECT_EQ(
        read_file(dir.file("velunor.pvd")),
        lines({
            R"(<?xml version="1.0"?>)",
            R"(<VTKFile type="Collection" version="0.1" byte_order="LittleEndian">)",
            R"(  <Collection>)",
            R"(    <DataSet timestep="0.0000000000000000E+00" group="" part="0" file="velunor_00000050.vtu"/>)",
            R"(  </Collection>)",
            R"(</VTKFile>)",
        }));
}

TEST(OutputPvd, EmptyCollectionAndLongNames) {
    TempDir dir;
    Model m;
    ASSERT_EQ(sph_pvd_write_file(m, dir.file("c.pvd")), 0);
    EXPECT_EQ(read_file(dir.file("c.pvd")),
              lines({R"(<?xml version="1.0"?>)",
                     R"(<VTKFile type="Collection" version="0.1" byte_order="LittleEndian">)",
                     R"(  <Collection>)", R"(  </Collection>)", R"(</VTKFile>)"}));
    ASSERT_EQ(sph_pvd_register_entry(m, 1, 0.0, std::string(200, 'n')), 0);
    EXPECT_EQ(m.pvd.entries[0].file, std::string(128, 'n'));
}

TEST(OutputPvd, CapacityIsTenThousandDistinctSteps) {
    TempDir dir;
    Model m;
    for (int step = 1; step < sph_pvd_max_entries; ++step) {
        m.pvd.entries.push_back(PvdEntry{step, step * 1e-3, "f.vtu"});
    }
    ASSERT_EQ(sph_pvd_register_entry(m, sph_pvd_max_entries, 10.0, "f.vtu"), 0);  // the last place
    EXPECT_EQ(sph_output_write_pvd_step(m, dir.path().string(), 10001, 1.0, "g.vtu"), 3);
    EXPECT_EQ(m.error.last_error_message, "PVD output entry capacity exceeded");
    EXPECT_EQ(m.pvd.entries.size(), 10000u);
    EXPECT_FALSE(std::filesystem::exists(dir.path() / "velunor.pvd"));  // not rewritten
    // An existing step can still be updated.
    ASSERT_EQ(sph_output_write_pvd_step(m, dir.path().string(), 5, 9.0, "h.vtu"), 0);
    EXPECT_EQ(m.pvd.entries[4].file, "h.vtu");
    EXPECT_EQ(m.pvd.entries[4].time, 9.0);
    const std::string text = read_file(dir.file("velunor.pvd"));
    EXPECT_NE(text.find(R"(timestep="9.0000000000000000E+00" group="" part="0" file="h.vtu")"),
              std::string::npos);
}

TEST(OutputPvd, FailedRewriteKeepsThePreviousCollectionWhole) {
    TempDir dir;
    Model m;
    ASSERT_EQ(sph_output_write_pvd_step(m, dir.path().string(), 1, 0.5, "velunor_00000001.vtu"), 0);
    const std::string before = read_file(dir.file("velunor.pvd"));
    for (int step = 2; step <= 200; ++step) {
        ASSERT_EQ(sph_pvd_register_entry(m, step, step * 0.5, "velunor_0000000x.vtu"), 0);
    }
    // A file size limit makes the long rewrite fail part way, as a full disk would.
    const pid_t child = fork();
    ASSERT_NE(child, -1);
    if (child == 0) {
        std::signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{4096, 4096};
        setrlimit(RLIMIT_FSIZE, &limit);
        const int status = sph_output_write_pvd_step(m, dir.path().string(), 201, 100.5, "v.vtu");
        const bool message_ok = m.error.last_error_message == "failed to write PVD output file";
        _exit(status == 3 && message_ok ? 0 : 1);
    }
    int child_status = 0;
    ASSERT_EQ(waitpid(child, &child_status, 0), child);
    ASSERT_TRUE(WIFEXITED(child_status));
    EXPECT_EQ(WEXITSTATUS(child_status), 0) << "status 3, failed to write PVD output file";
    EXPECT_EQ(read_file(dir.file("velunor.pvd")), before);
    EXPECT_FALSE(std::filesystem::exists(dir.file("velunor.pvd.part")));

    // Without the limit the rewrite replaces the file and leaves no side file.
    ASSERT_EQ(sph_output_write_pvd_step(m, dir.path().string(), 201, 100.5, "v.vtu"), 0);
    EXPECT_NE(read_file(dir.file("velunor.pvd")).find(R"(file="v.vtu")"), std::string::npos);
    EXPECT_FALSE(std::filesystem::exists(dir.file("velunor.pvd.part")));
}

TEST(OutputPvd, OpenFailureKeepsTheRegisteredEntry) {
    TempDir dir;
    Model m;
    EXPECT_EQ(sph_output_write_pvd_step(m, dir.file("missing"), 1, 0.5, "velunor_00000001.vtu"), 3);
    EXPECT_EQ(m.error.last_error_message, "failed to open PVD output file");
    ASSERT_EQ(m.pvd.entries.size(), 1u);
    // The next successful rewrite lists it.
    ASSERT_EQ(sph_output_write_pvd_step(m, dir.path().string(), 2, 1.0, "velunor_00000002.vtu"), 0);
    const std::string text = read_file(dir.file("velunor.pvd"));
    EXPECT_NE(text.find("velunor_00000001.vtu"), std::string::npos);
    EXPECT_NE(text.find("velunor_00000002.vtu"), std::string::npos);
}

}  // namespace
