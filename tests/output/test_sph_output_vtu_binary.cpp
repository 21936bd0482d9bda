// The binary VTU form (raw appended arrays), the particle CSV switch of the
// step writer, the *VELUNOR OUTPUT options that select them and the host's
// VELUNOR_OUTPUT_FORMAT.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <limits>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "../input/deck_test_util.hpp"
#include "../test_env.hpp"
#include "../test_expect.hpp"
#include "interface/sph_api.hpp"
#include "output/sph_output_csv.hpp"
#include "output/sph_output_vtu.hpp"
#include "output_test_support.hpp"

namespace {

namespace fs = std::filesystem;
using namespace output_test;

// ---------------------------------------------------------------------------
// A decoder of the binary form, written from VTK's description of the format:
// XML whose DataArray elements give an offset into the one raw block after
// "<AppendedData encoding="raw">" and its "_"; there each array is a UInt64
// byte count followed by the bytes.

struct DecodedArray {
    std::string type;
    int components = 1;
    std::string bytes;
};

struct DecodedVtu {
    std::string xml;  // everything up to and including the "_"
    int points = -1;
    std::vector<std::string> names;  // in file order
    std::map<std::string, DecodedArray> arrays;
};

std::string attribute(std::string_view element, std::string_view name) {
    const std::string key = " " + std::string(name) + "=\"";
    const std::size_t at = element.find(key);
    if (at == std::string_view::npos) return {};
    const std::size_t begin = at + key.size();
    return std::string(element.substr(begin, element.find('"', begin) - begin));
}

// Fails the test (and returns what it has) on anything malformed.
DecodedVtu decode_binary_vtu(const std::string& file) {
    DecodedVtu out;
    constexpr std::string_view raw_start = R"(<AppendedData encoding="raw">)";
    const std::size_t start = file.find(raw_start);
    EXPECT_NE(start, std::string::npos) << "no raw appended block";
    if (start == std::string::npos) return out;
    const std::size_t underscore = file.find('_', start);
    EXPECT_EQ(file.substr(start + raw_start.size(), underscore - start - raw_start.size()),
              "\r\n   ");
    out.xml = file.substr(0, underscore + 1);
    const std::size_t block = underscore + 1;
    const std::string_view xml = out.xml;
    const std::size_t piece = xml.find("<Piece ");
    EXPECT_NE(piece, std::string::npos);
    out.points =
        std::stoi(attribute(xml.substr(piece, xml.find('>', piece) - piece), "NumberOfPoints"));
    std::size_t end_of_data = block;
    for (std::size_t at = xml.find("<DataArray "); at != std::string::npos;
         at = xml.find("<DataArray ", at + 1)) {
        const std::string_view element = xml.substr(at, xml.find('>', at) - at + 1);
        EXPECT_TRUE(element.ends_with("/>")) << element;
        EXPECT_EQ(attribute(element, "format"), "appended") << element;
        const std::string name = attribute(element, "Name");
        DecodedArray a;
        a.type = attribute(element, "type");
        const std::string components = attribute(element, "NumberOfComponents");
        if (!components.empty()) a.components = std::stoi(components);
        const std::size_t offset = block + std::stoull(attribute(element, "offset"));
        // The blocks lie back to back in the order of the elements.
        EXPECT_EQ(offset, end_of_data) << name;
        std::uint64_t size = 0;
        EXPECT_LE(offset + sizeof size, file.size()) << name;
        if (offset + sizeof size > file.size()) return out;
        std::memcpy(&size, file.data() + offset, sizeof size);
        EXPECT_LE(offset + sizeof size + size, file.size()) << name;
        if (offset + sizeof size + size > file.size()) return out;
        a.bytes = file.substr(offset + sizeof size, size);
        end_of_data = offset + sizeof size + size;
        out.names.push_back(name);
        out.arrays[name] = std::move(a);
    }
    EXPECT_EQ(file.substr(end_of_data), "\r\n  </AppendedData>\r\n</VTKFile>\r\n");
    return out;
}

template <class T>
std::string bytes_of(const std::vector<T>& values) {
    return std::string(reinterpret_cast<const char*>(values.data()), values.size() * sizeof(T));
}

std::string bytes_of(const std::vector<Vec3>& values) {
    std::vector<double> flat;
    for (const Vec3& v : values) flat.insert(flat.end(), {v.x, v.y, v.z});
    return bytes_of(flat);
}

// Every array of the file against the model's particle state, bit for bit.
void expect_arrays_of(const DecodedVtu& f, const DbState& db) {
    const int n = db.npart;
    EXPECT_EQ(f.points, n);
    const std::vector<std::string> names = {
        "particle_id",      "phase",        "status",       "material", "section",
        "velocity",         "acceleration", "density",      "pressure", "temperature",
        "smoothing_length", "Points",       "connectivity", "offsets",  "types"};
    ASSERT_EQ(f.names, names);
    auto expect = [&](const std::string& name, const char* type, int components,
                      const std::string& bytes) {
        const DecodedArray& a = f.arrays.at(name);
        EXPECT_EQ(a.type, type) << name;
        EXPECT_EQ(a.components, components) << name;
        EXPECT_TRUE(a.bytes == bytes) << name;
    };
    expect("particle_id", "Int32", 1, bytes_of(db.particle_id_ext));
    expect("phase", "Int32", 1, bytes_of(db.particle_phase));
    expect("status", "Int32", 1, bytes_of(db.particle_status));
    expect("material", "Int32", 1, bytes_of(db.material_id));
    expect("section", "Int32", 1, bytes_of(db.section_id));
    expect("velocity", "Float64", 3, bytes_of(db.v));
    expect("acceleration", "Float64", 3, bytes_of(db.a));
    expect("density", "Float64", 1, bytes_of(db.rho));
    expect("pressure", "Float64", 1, bytes_of(db.pressure));
    expect("temperature", "Float64", 1, bytes_of(db.temperature));
    expect("smoothing_length", "Float64", 1, bytes_of(db.h));
    expect("Points", "Float64", 3, bytes_of(db.x));
    std::vector<std::int32_t> connectivity(n), offsets(n);
    for (int i = 0; i < n; ++i) {
        connectivity[i] = i;
        offsets[i] = i + 1;
    }
    expect("connectivity", "Int32", 1, bytes_of(connectivity));
    expect("offsets", "Int32", 1, bytes_of(offsets));
    expect("types", "UInt8", 1, bytes_of(std::vector<std::uint8_t>(n, 1)));
}

// Random state of every written array; with `special` also NaN, both
// infinities, -0 and subnormals.
void fill_random(Model& m, int n, unsigned seed, bool special) {
    allocate_particles(m, n);
    std::mt19937_64 rng(seed);
    std::uniform_int_distribution<int> any_int(std::numeric_limits<int>::min(),
                                               std::numeric_limits<int>::max());
    auto any_real = [&] {
        std::uint64_t bits = rng();
        double value;
        std::memcpy(&value, &bits, sizeof value);
        if (!special && !std::isfinite(value)) value = 1.5;
        return value;
    };
    const double specials[] = {
        std::numeric_limits<double>::quiet_NaN(), std::numeric_limits<double>::infinity(),
        -std::numeric_limits<double>::infinity(), -0.0, std::numeric_limits<double>::denorm_min()};
    DbState& db = m.db;
    for (int i = 0; i < n; ++i) {
        for (auto* v : {&db.particle_id_ext, &db.particle_phase, &db.particle_status,
                        &db.material_id, &db.section_id}) {
            (*v)[i] = any_int(rng);
        }
        for (auto* v : {&db.x, &db.v, &db.a}) (*v)[i] = Vec3{any_real(), any_real(), any_real()};
        for (auto* v : {&db.rho, &db.pressure, &db.temperature, &db.h}) (*v)[i] = any_real();
    }
    if (special && n > 0) {
        for (std::size_t k = 0; k < std::size(specials); ++k) {
            db.pressure[k % n] = specials[k];
            db.x[(k + 1) % n].y = specials[k];
        }
    }
}

Model binary_model() {
    Model m;
    m.output.vtu_format = SphVtuFormat::binary;
    return m;
}

TEST(OutputVtuBinary, HeaderIsExact) {
    TempDir dir;
    Model m = binary_model();
    fill_two_particles(m);
    ASSERT_EQ(sph_output_write_vtu(m, dir.file("a.vtu") + "  "), 0);
    const DecodedVtu f = decode_binary_vtu(read_file(dir.file("a.vtu")));
    // Blocks: five Int32 of 8 bytes, two vectors of 48, four reals of 16,
    // points of 48, two Int32 of 8, the types of 2; each after its 8-byte count.
    EXPECT_EQ(f.xml, crlf(R"(<?xml version="1.0"?>
<VTKFile type="UnstructuredGrid" version="1.0" byte_order="LittleEndian" header_type="UInt64">
  <UnstructuredGrid>
    <Piece NumberOfPoints="2" NumberOfCells="2">
      <PointData Scalars="pressure" Vectors="velocity">
        <DataArray type="Int32" Name="particle_id" format="appended" offset="0"/>
        <DataArray type="Int32" Name="phase" format="appended" offset="16"/>
        <DataArray type="Int32" Name="status" format="appended" offset="32"/>
        <DataArray type="Int32" Name="material" format="appended" offset="48"/>
        <DataArray type="Int32" Name="section" format="appended" offset="64"/>
        <DataArray type="Float64" Name="velocity" NumberOfComponents="3" format="appended" offset="80"/>
        <DataArray type="Float64" Name="acceleration" NumberOfComponents="3" format="appended" offset="136"/>
        <DataArray type="Float64" Name="density" format="appended" offset="192"/>
        <DataArray type="Float64" Name="pressure" format="appended" offset="216"/>
        <DataArray type="Float64" Name="temperature" format="appended" offset="240"/>
        <DataArray type="Float64" Name="smoothing_length" format="appended" offset="264"/>
      </PointData>
      <Points>
        <DataArray type="Float64" Name="Points" NumberOfComponents="3" format="appended" offset="288"/>
      </Points>
      <Cells>
        <DataArray type="Int32" Name="connectivity" format="appended" offset="344"/>
        <DataArray type="Int32" Name="offsets" format="appended" offset="360"/>
        <DataArray type="UInt8" Name="types" format="appended" offset="376"/>
      </Cells>
    </Piece>
  </UnstructuredGrid>
  <AppendedData encoding="raw">
   _)"));
    expect_arrays_of(f, m.db);
}

TEST(OutputVtuBinary, RandomStatesDecodeBitForBit) {
    TempDir dir;
    // 0 particles; one; and a set whose arrays exceed the file buffer, so they
    // take the direct write and the cell arrays span several pieces.
    for (const int n : {0, 1, 37, 70001}) {
        Model m = binary_model();
        fill_random(m, n, 1000u + static_cast<unsigned>(n), true);
        ASSERT_EQ(sph_output_write_vtu(m, dir.file("r.vtu")), 0) << n;
        SCOPED_TRACE(n);
        expect_arrays_of(decode_binary_vtu(read_file(dir.file("r.vtu"))), m.db);
    }
}

// The ASCII and the binary file of one random state: VTK's reader (where
// python3-vtk9 is installed; the script's own decoders otherwise) must read
// the same arrays from both.
TEST(OutputVtuBinary, VtkReadsTheSameArraysFromBothForms) {
    TempDir dir;
    for (const int n : {0, 50}) {
        Model m;
        fill_random(m, n, 77u, false);
        if (n > 0) m.db.temperature[0] = std::numeric_limits<double>::quiet_NaN();
        const std::string ascii = dir.file("a" + std::to_string(n) + ".vtu");
        const std::string binary = dir.file("b" + std::to_string(n) + ".vtu");
        ASSERT_EQ(sph_output_write_vtu(m, ascii), 0);
        m.output.vtu_format = SphVtuFormat::binary;
        ASSERT_EQ(sph_output_write_vtu(m, binary), 0);
        const std::string command = vtu_checker_command() + " --same " + ascii + " " + binary;
        EXPECT_EQ(std::system(command.c_str()), 0) << command;
    }
    // A changed cell type is caught in the binary form as well.
    std::string text = read_file(dir.file("b50.vtu"));
    const std::size_t types = text.rfind("\r\n  </AppendedData>") - 1;
    text[types] = 2;
    std::ofstream(dir.file("c.vtu"), std::ios::binary) << text;
    const std::string command = vtu_checker_command() + " " + dir.file("c.vtu") + " > /dev/null";
    EXPECT_NE(std::system(command.c_str()), 0);
}

// Side files anywhere below `dir`.
std::vector<fs::path> side_files(const fs::path& dir) {
    std::vector<fs::path> found;
    for (const auto& entry : fs::recursive_directory_iterator(dir)) {
        if (entry.path().extension() == ".part") found.push_back(entry.path());
    }
    return found;
}

TEST(OutputVtuBinary, WriteCutShortFailsAndKeepsTheEarlierFile) {
    TempDir dir;
    Model m = binary_model();
    // 4 MB: its Int32 and real arrays pass through the buffer, its vectors are
    // written directly, its cell arrays in pieces.
    fill_random(m, 30000, 5u, false);
    const std::string path = dir.file("big.vtu");
    ASSERT_EQ(sph_output_write_vtu(m, path), 0);
    const std::string before = read_file(path);
    m.db.rho[0] += 1.0;  // a complete rewrite would change the file
    // Cut in the XML, in the buffered arrays, in a direct write, in the cells.
    for (const rlim_t limit :
         {rlim_t{200}, rlim_t{100000}, rlim_t{1000000}, rlim_t{before.size() - 20000}}) {
        int status = 0;
        bool limited = false;
        {
            FileSizeLimit cap(limit);
            limited = cap.active();
            status = sph_output_write_vtu(m, path);
        }
        ASSERT_TRUE(limited);
        test_expect::expect_error(m, status, 3, "failed to write VTU output file");
        EXPECT_TRUE(read_file(path) == before) << limit;
    }
    EXPECT_EQ(side_files(dir.path()), std::vector<fs::path>{});

    test_expect::expect_error(m, sph_output_write_vtu(m, dir.file("missing/a.vtu")), 3,
                              "failed to open VTU output file");
}

// ---------------------------------------------------------------------------
// The step writer

TEST(OutputStepOptions, CsvNoSkipsOnlyTheParticleCsv) {
    TempDir dir;
    Model m = binary_model();
    fill_random(m, 2000, 9u, true);  // its VTU file far longer than its summary
    m.control.output_directory = dir.path().string();
    m.output.particle_csv = false;
    ASSERT_EQ(sph_output_write_step(m, 4, 1e-3), 0);
    EXPECT_FALSE(fs::exists(dir.path() / "velunor_00000004.csv"));
    EXPECT_TRUE(fs::exists(dir.path() / "velunor_00000004_summary.csv"));
    EXPECT_TRUE(fs::exists(dir.path() / "velunor.pvd"));
    // The step's VTU file is in the binary form too.
    expect_arrays_of(decode_binary_vtu(read_file(dir.file("velunor_00000004.vtu"))), m.db);

    // Without the CSV the first failure can be the summary's ...
    const std::string pvd = read_file(dir.file("velunor.pvd"));
    m.control.output_directory = dir.file("missing");
    test_expect::expect_error(m, sph_output_write_step(m, 5, 2e-3), 3,
                              "failed to open summary output file");
    // ... or the VTU file's, cut short: the step stays out of the series.
    m.control.output_directory = dir.path().string();
    const std::size_t summary = read_file(dir.file("velunor_00000004_summary.csv")).size();
    ASSERT_LT(4 * summary, read_file(dir.file("velunor_00000004.vtu")).size());
    int status = 0;
    {
        FileSizeLimit cap(2 * summary);
        status = sph_output_write_step(m, 6, 3e-3);
    }
    test_expect::expect_error(m, status, 3, "failed to write VTU output file");
    EXPECT_TRUE(fs::exists(dir.path() / "velunor_00000006_summary.csv"));
    EXPECT_FALSE(fs::exists(dir.path() / "velunor_00000006.vtu"));
    EXPECT_EQ(read_file(dir.file("velunor.pvd")), pvd);
    EXPECT_EQ(m.pvd.entries.size(), 1u);
    EXPECT_EQ(side_files(dir.path()), std::vector<fs::path>{});
}

// The deck's options reach the files of a run: every output step in the
// binary form, and no particle CSV.
TEST(OutputStepOptions, RunWritesTheDecksFormWithoutParticleCsv) {
    TempDir dir;
    Model m;
    ASSERT_EQ(sph_initialize(m), 0);
    deck_test::TempDeck deck(std::string(deck_test::water_deck) + "*VELUNOR OUTPUT, DIRECTORY=" +
                             dir.path().string() + ", INTERVAL=5, FORMAT=BINARY, CSV=NO\n");
    ASSERT_EQ(sph_read_inp(m, deck.path()), 0) << m.error.last_error_message;
    ASSERT_EQ(sph_build_model(m), 0) << m.error.last_error_message;
    ASSERT_EQ(sph_run_explicit(m), 0) << m.error.last_error_message;
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir.path())) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{
                         "velunor.pvd", "velunor_00000005.vtu", "velunor_00000005_summary.csv",
                         "velunor_00000010.vtu", "velunor_00000010_summary.csv"}));
    // The last step's file holds the state the run ended with.
    expect_arrays_of(decode_binary_vtu(read_file(dir.file("velunor_00000010.vtu"))), m.db);
    const std::string command = vtu_checker_command() + " " + dir.file("velunor.pvd") + " " +
                                dir.file("velunor_00000005.vtu") + " " +
                                dir.file("velunor_00000010.vtu");
    EXPECT_EQ(std::system(command.c_str()), 0) << command;
    ASSERT_EQ(sph_finalize(m), 0);
}

// ---------------------------------------------------------------------------
// *VELUNOR OUTPUT and VELUNOR_OUTPUT_FORMAT

std::string deck_with(std::string_view output_line) {
    return std::string(deck_test::water_deck) + std::string(output_line) + "\n";
}

TEST(OutputOptionsDeck, FormatAndCsvAreReadAndResetByTheNextDeck) {
    Model m;
    ASSERT_EQ(sph_initialize(m), 0);
    const std::string dir = deck_test::temp_dir().string();
    deck_test::TempDeck binary(
        deck_with("*VELUNOR OUTPUT, FORMAT=binary, CSV=No, DIRECTORY=" + dir));
    ASSERT_EQ(sph_read_inp(m, binary.path()), 0) << m.error.last_error_message;
    EXPECT_EQ(m.output.vtu_format, SphVtuFormat::binary);
    EXPECT_FALSE(m.output.particle_csv);
    EXPECT_EQ(m.control.output_directory, dir);

    // A later line without the options keeps them; ASCII and YES set them back.
    deck_test::TempDeck later(
        deck_with("*VELUNOR OUTPUT, FORMAT=BINARY\n*VELUNOR OUTPUT, INTERVAL=2"));
    ASSERT_EQ(sph_read_inp(m, later.path()), 0) << m.error.last_error_message;
    EXPECT_EQ(m.output.vtu_format, SphVtuFormat::binary);
    deck_test::TempDeck back(
        deck_with("*VELUNOR OUTPUT, FORMAT=BINARY, CSV=NO\n"
                  "*VELUNOR OUTPUT, FORMAT=ASCII, CSV=YES"));
    ASSERT_EQ(sph_read_inp(m, back.path()), 0) << m.error.last_error_message;
    EXPECT_EQ(m.output.vtu_format, SphVtuFormat::ascii);
    EXPECT_TRUE(m.output.particle_csv);

    // Every deck starts from the defaults.
    ASSERT_EQ(sph_read_inp(m, binary.path()), 0);
    deck_test::TempDeck plain(deck_with(""));
    ASSERT_EQ(sph_read_inp(m, plain.path()), 0);
    EXPECT_EQ(m.output.vtu_format, SphVtuFormat::ascii);
    EXPECT_TRUE(m.output.particle_csv);

    // So do initialization and finalization.
    ASSERT_EQ(sph_read_inp(m, binary.path()), 0);
    ASSERT_EQ(sph_finalize(m), 0);
    EXPECT_EQ(m.output.vtu_format, SphVtuFormat::ascii);
    EXPECT_TRUE(m.output.particle_csv);
    m.output.vtu_format = SphVtuFormat::binary;
    ASSERT_EQ(sph_initialize(m), 0);
    EXPECT_EQ(m.output.vtu_format, SphVtuFormat::ascii);
}

TEST(OutputOptionsDeck, InvalidValuesAreDeckErrors) {
    const int line = 16;  // the line after the water deck
    deck_test::expect_read_error(deck_with("*VELUNOR OUTPUT, FORMAT=BINARYX"), 4, line,
                                 "invalid VELUNOR OUTPUT FORMAT");
    deck_test::expect_read_error(deck_with("*VELUNOR OUTPUT, FORMAT=RAW, CSV=NO"), 4, line,
                                 "invalid VELUNOR OUTPUT FORMAT");
    deck_test::expect_read_error(deck_with("*VELUNOR OUTPUT, CSV=FALSE"), 4, line,
                                 "invalid VELUNOR OUTPUT CSV");
    // Checked before the directory is stored.
    auto m = deck_test::fresh_model();
    EXPECT_EQ(deck_test::read_text(*m, deck_with("*VELUNOR OUTPUT, DIR=elsewhere, CSV=2")), 4);
    EXPECT_EQ(m->control.output_directory, "output");
    EXPECT_FALSE(m->control.output_enabled);
    EXPECT_TRUE(m->output.particle_csv);
}

TEST(OutputOptionsDeck, EnvironmentOverridesTheDecksFormat) {
    test_env::ScopedVariable variable(sph_output_format_variable);
    Model m;
    variable.set(" binary ");
    ASSERT_EQ(sph_initialize(m), 0);
    EXPECT_EQ(m.output.vtu_format, SphVtuFormat::binary);  // also without a deck
    deck_test::TempDeck ascii(deck_with("*VELUNOR OUTPUT, FORMAT=ASCII, CSV=NO"));
    ASSERT_EQ(sph_read_inp(m, ascii.path()), 0) << m.error.last_error_message;
    EXPECT_EQ(m.output.vtu_format, SphVtuFormat::binary);
    EXPECT_FALSE(m.output.particle_csv);  // CSV stays the deck's
    // Read at initialization only: changing it later has no effect.
    variable.set("ASCII");
    deck_test::TempDeck plain(deck_with(""));
    ASSERT_EQ(sph_read_inp(m, plain.path()), 0);
    EXPECT_EQ(m.output.vtu_format, SphVtuFormat::binary);
    ASSERT_EQ(sph_initialize(m), 0);
    deck_test::TempDeck binary(deck_with("*VELUNOR OUTPUT, FORMAT=BINARY"));
    ASSERT_EQ(sph_read_inp(m, binary.path()), 0);
    EXPECT_EQ(m.output.vtu_format, SphVtuFormat::ascii);

    // Empty counts as unset; another value fails initialization.
    variable.set("");
    ASSERT_EQ(sph_initialize(m), 0);
    ASSERT_EQ(sph_read_inp(m, binary.path()), 0);
    EXPECT_EQ(m.output.vtu_format, SphVtuFormat::binary);
    variable.set("HDF5");
    test_expect::expect_error(m, sph_initialize(m), 1,
                              "VELUNOR_OUTPUT_FORMAT must be ASCII or BINARY");
    EXPECT_FALSE(sph_api_state_get_initialized(m.api));
    EXPECT_EQ(m.db.npart, 0);
    variable.unset();
    ASSERT_EQ(sph_initialize(m), 0);
    EXPECT_EQ(m.output.vtu_format, SphVtuFormat::ascii);
}

}  // namespace
