#include <gtest/gtest.h>

#include <climits>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "core/sph_model.hpp"
#include "output/sph_output_csv.hpp"
#include "output/sph_output_vtu.hpp"
#include "output_test_support.hpp"

namespace {

using namespace output_test;
namespace fs = std::filesystem;

// n real columns holding 0, each followed by its comma.
std::string zero_columns(int n) {
    std::string out;
    for (int i = 0; i < n; ++i) out += "  0.0000000000000000E+00,";
    return out;
}

const std::string csv_header =
    "id,phase,status,material,section,x,y,z,vx,vy,vz,rho,pressure,temperature,h,"
    "explosive_detonation_time,explosive_lambda,explosive_initial_mass,explosive_remaining_mass,"
    "explosive_released_mass,explosive_released_energy,solid_stress_xx,solid_stress_yy,"
    "solid_stress_zz,solid_stress_xy,solid_stress_yz,solid_stress_zx,solid_plastic_strain,"
    "solid_damage,solid_softening,solid_strain_rate_eq,solid_acceleration_norm,blast_solid_fx,"
    "blast_solid_fy,blast_solid_fz,blast_shell_fx,blast_shell_fy,blast_shell_fz,blast_shell_mx,"
    "blast_shell_my,blast_shell_mz,coupling_force_x,coupling_force_y,coupling_force_z,"
    "coupling_gap,coupling_penetration,coupling_contact_flag,solid_failure_status,"
    "solid_reference_neighbor_count,solid_correction_status,coupling_motion_flag,"
    "coupling_region_id\r\n";

CouplingRegionRecord region(bool enabled, std::vector<int> particles) {
    CouplingRegionRecord r;
    r.coupling_region_enabled = enabled ? 1 : 0;
    r.coupling_region_particle_count = static_cast<int>(particles.size());
    r.coupling_region_particles = std::move(particles);
    return r;
}

// The two test particles as CSV rows, with their coupling region ids.
std::string two_particle_rows(int region1, int region2) {
    return "7,1,0,1,2,"
           "  0.0000000000000000E+00,  5.0000000000000000E-01, -1.0000000000000000E+00,"
           "  1.5000000000000000E+00, -2.5000000000000000E+00,  0.0000000000000000E+00,"
           "  1.0000000000000000E+03, -1.0132550000000000E+05,                     NaN,"
           "  2.5000000000000000E-01," +
           zero_columns(16) + "  1.0000000000000000+100," + zero_columns(14) + "0,0,0,0,0," +
           std::to_string(region1) +
           "\r\n"
           "8,4,2,2,1,"
           "  1.0000000000000000E+00,  2.0000000000000000E+00,  3.0000000000000000E+00,"
           "  0.0000000000000000E+00,  0.0000000000000000E+00,  0.0000000000000000E+00,"
           "  7.8500000000000000E+03,  2.5000000000000000E+09,  2.9314999999999998E+02,"
           "  1.0000000000000000E-03," +
           zero_columns(16) + "                Infinity," + zero_columns(14) + "0,0,0,0,0," +
           std::to_string(region2) + "\r\n";
}

TEST(OutputCsv, HeaderHasFiftyTwoColumns) {
    EXPECT_EQ(sph_output_csv_header.size(), 764u);
    EXPECT_EQ(std::string(sph_output_csv_header) + "\r\n", csv_header);
    EXPECT_EQ(std::count(csv_header.begin(), csv_header.end(), ','), 51);
}

TEST(OutputCsv, TwoParticleFileIsExactWithoutModuleArrays) {
    TempDir dir;
    Model m;
    fill_two_particles(m);
    ASSERT_EQ(sph_output_write_csv(m, dir.file("p.csv") + "  "), 0);
    const std::string text = read_file(dir.file("p.csv"));
    EXPECT_EQ(text, csv_header + two_particle_rows(0, 0));
    // 5 + 41 * 25 + 5 + 1 characters before the line end of each row.
    const std::size_t first_row_end = text.find("\r\n", csv_header.size());
    EXPECT_EQ(first_row_end - csv_header.size(), 10u + 1025u + 10u + 1u);
}

TEST(OutputCsv, RegionIdIsTheFirstEnabledRegionListingTheParticle) {
    TempDir dir;
    Model m;
    fill_two_particles(m);
    m.db.coupling_regions.push_back(region(false, {0, 1}));  // disabled: never shown
    m.db.coupling_regions.push_back(region(true, {1}));
    m.db.coupling_regions.push_back(region(true, {1, 0}));
    EXPECT_EQ(sph_output_coupling_region_id(m, 0), 3);
    EXPECT_EQ(sph_output_coupling_region_id(m, 1), 2);
    ASSERT_EQ(sph_output_write_csv(m, dir.file("p.csv")), 0);
    EXPECT_EQ(read_file(dir.file("p.csv")), csv_header + two_particle_rows(3, 2));

    // Only the first particle_count entries of a list count; bad entries are ignored.
    m.db.coupling_regions = {region(true, {5, -1, 0, 1})};
    m.db.coupling_regions[0].coupling_region_particle_count = 3;
    EXPECT_EQ(sph_output_coupling_region_id(m, 0), 1);
    EXPECT_EQ(sph_output_coupling_region_id(m, 1), 0);
    ASSERT_EQ(sph_output_write_csv(m, dir.file("p.csv")), 0);
    EXPECT_EQ(read_file(dir.file("p.csv")), csv_header + two_particle_rows(1, 0));
}

TEST(OutputCsv, EmptyModelWritesOnlyTheHeader) {
    TempDir dir;
    Model m;
    ASSERT_EQ(sph_output_write_csv(m, dir.file("e.csv")), 0);
    EXPECT_EQ(read_file(dir.file("e.csv")), csv_header);
}

TEST(OutputCsv, OpenFailureReportsIoStatus) {
    TempDir dir;
    Model m;
    fill_two_particles(m);
    EXPECT_EQ(sph_output_write_csv(m, dir.file("missing/p.csv")), 3);
    EXPECT_EQ(m.error.last_error_code, 3);
    EXPECT_EQ(m.error.last_error_message, "failed to open CSV output file");
    // Write failures and refused paths: test_sph_output_file.cpp.
}

TEST(OutputStep, FileStemHasEightDigitsOrAllOfThem) {
    EXPECT_EQ(sph_output_step_file_stem(0), "velunor_00000000");
    EXPECT_EQ(sph_output_step_file_stem(10), "velunor_00000010");
    EXPECT_EQ(sph_output_step_file_stem(99999999), "velunor_99999999");
    EXPECT_EQ(sph_output_step_file_stem(100000000), "velunor_100000000");
    EXPECT_EQ(sph_output_step_file_stem(INT_MAX), "velunor_2147483647");
    EXPECT_EQ(sph_output_step_file_stem(-1), "velunor_-00000001");
    EXPECT_EQ(sph_output_step_file_stem(-123456789), "velunor_-123456789");
    EXPECT_EQ(sph_output_step_file_stem(INT_MIN), "velunor_-2147483648");
}

TEST(OutputStep, WritesCsvVtuAndCollectionThatAnXmlParserAccepts) {
    TempDir dir;
    Model m;
    fill_two_particles(m);
    m.control.output_directory = dir.path().string();
    ASSERT_EQ(sph_output_write_step(m, 10, 1e-6), 0);
    ASSERT_EQ(sph_output_write_step(m, 20, 2e-6), 0);
    ASSERT_EQ(sph_output_write_step(m, 10, 3e-6), 0);  // same step again: one entry
    ASSERT_EQ(sph_output_write_step(m, 123456789, 4e-6), 0);
    ASSERT_EQ(sph_output_write_step(m, -1, 5e-6), 0);

    EXPECT_EQ(read_file(dir.file("velunor_00000010.csv")), csv_header + two_particle_rows(0, 0));
    for (const char* name :
         {"velunor_00000020.csv", "velunor_123456789.csv", "velunor_-00000001.csv",
          "velunor_00000020.vtu", "velunor_123456789.vtu", "velunor_-00000001.vtu"}) {
        EXPECT_TRUE(fs::exists(dir.path() / name)) << name;
    }
    // The step's VTU file is the one the single-file writer produces.
    ASSERT_EQ(sph_output_write_vtu(m, dir.file("single.vtu")), 0);
    EXPECT_EQ(read_file(dir.file("velunor_00000010.vtu")), read_file(dir.file("single.vtu")));
    EXPECT_EQ(read_file(dir.file("velunor.pvd")),
              crlf("<?xml version=\"1.0\"?>\n"
                   "<VTKFile type=\"Collection\" version=\"0.1\" byte_order=\"LittleEndian\">\n"
                   "  <Collection>\n"
                   "    <DataSet timestep=\"3.0000000000000001E-06\" group=\"\" part=\"0\" "
                   "file=\"velunor_00000010.vtu\"/>\n"
                   "    <DataSet timestep=\"1.9999999999999999E-06\" group=\"\" part=\"0\" "
                   "file=\"velunor_00000020.vtu\"/>\n"
                   "    <DataSet timestep=\"3.9999999999999998E-06\" group=\"\" part=\"0\" "
                   "file=\"velunor_123456789.vtu\"/>\n"
                   "    <DataSet timestep=\"5.0000000000000004E-06\" group=\"\" part=\"0\" "
                   "file=\"velunor_-00000001.vtu\"/>\n"
                   "  </Collection>\n"
                   "</VTKFile>\n"));

    // An empty model, too, gives files an XML reader takes.
    Model empty;
    empty.control.output_directory = dir.file("empty");
    fs::create_directory(dir.path() / "empty");
    ASSERT_EQ(sph_output_write_step(empty, 0, 0.0), 0);

    const std::string command =
        output_test::vtu_checker_command() + " " + dir.file("velunor_00000010.vtu") + " " +
        dir.file("velunor_-00000001.vtu") + " " + dir.file("velunor.pvd") + " " +
        dir.file("empty/velunor_00000000.vtu") + " " + dir.file("empty/velunor.pvd");
    EXPECT_EQ(std::system(command.c_str()), 0) << command;
}

TEST(OutputStep, CheckerRejectsABrokenFile) {
    TempDir dir;
    Model m;
    fill_two_particles(m);
    ASSERT_EQ(sph_output_write_vtu(m, dir.file("a.vtu")), 0);
    std::string text = read_file(dir.file("a.vtu"));
    text.replace(text.find("\r\n1\r\n1\r\n"), 8, "\r\n1\r\n2\r\n");  // a cell type that is not 1
    std::ofstream(dir.file("b.vtu"), std::ios::binary) << text;
    const std::string command =
        output_test::vtu_checker_command() + " " + dir.file("b.vtu") + " > /dev/null";
    EXPECT_NE(std::system(command.c_str()), 0);
}

TEST(OutputStep, MissingDirectoryStopsAtTheCsv) {
    TempDir dir;
    Model m;
    fill_two_particles(m);
    m.control.output_directory = dir.file("missing");
    EXPECT_EQ(sph_output_write_step(m, 1, 0.5), 3);
    EXPECT_EQ(m.error.last_error_message, "failed to open CSV output file");
    EXPECT_TRUE(m.pvd.entries.empty());
    EXPECT_TRUE(fs::is_empty(dir.path()));
}

TEST(OutputStep, VtuFailureLeavesTheCsvAndSkipsTheCollection) {
    TempDir dir;
    Model m;
    fill_two_particles(m);
    m.control.output_directory = dir.path().string();
    fs::create_directory(dir.path() / "velunor_00000001.vtu");  // cannot be opened as a file
    EXPECT_EQ(sph_output_write_step(m, 1, 0.5), 3);
    EXPECT_EQ(m.error.last_error_message, "failed to open VTU output file");
    EXPECT_TRUE(fs::exists(dir.path() / "velunor_00000001.csv"));
    EXPECT_FALSE(fs::exists(dir.path() / "velunor.pvd"));
    EXPECT_TRUE(m.pvd.entries.empty());
}

TEST(OutputStep, PvdFailureKeepsTheEntryForTheNextRewrite) {
    TempDir dir;
    Model m;
    fill_two_particles(m);
    m.control.output_directory = dir.path().string();
    fs::create_directory(dir.path() / "velunor.pvd");
    EXPECT_EQ(sph_output_write_step(m, 1, 0.5), 3);
    EXPECT_EQ(m.error.last_error_message, "failed to open PVD output file");
    EXPECT_TRUE(fs::exists(dir.path() / "velunor_00000001.vtu"));
    ASSERT_EQ(m.pvd.entries.size(), 1u);
    fs::remove(dir.path() / "velunor.pvd");
    ASSERT_EQ(sph_output_write_step(m, 2, 1.0), 0);
    const std::string text = read_file(dir.file("velunor.pvd"));
    EXPECT_NE(text.find("file=\"velunor_00000001.vtu\""), std::string::npos);
    EXPECT_NE(text.find("file=\"velunor_00000002.vtu\""), std::string::npos);
}

}  // namespace
