#include "output/sph_output_vtu.hpp"

#include <algorithm>
#include <array>
#include <bit>
#include <charconv>
#include <cstdint>
#include <cstring>

#include "core/sph_format.hpp"
#include "core/sph_model.hpp"
#include "core/sph_text.hpp"
#include "output/sph_output_file.hpp"

namespace {

constexpr std::string_view vtu_open_failed = "failed to open VTU output file";
constexpr std::string_view vtu_write_failed = "failed to write VTU output file";
constexpr std::string_view pvd_open_failed = "failed to open PVD output file";
constexpr std::string_view pvd_write_failed = "failed to write PVD output file";
constexpr std::string_view pvd_full = "PVD output entry capacity exceeded";

constexpr std::string_view data_array_end = "        </DataArray>\r\n";

constexpr std::string_view vtu_ascii_root =
    R"(<VTKFile type="UnstructuredGrid" version="0.1" byte_order="LittleEndian">)";
// Version 1.0 with 64-bit block headers, as VTK 9 writes it itself: a 32-bit
// header could not give the size of an array above 4 GiB (1.8e8 particles).
constexpr std::string_view vtu_binary_root =
    R"(<VTKFile type="UnstructuredGrid" version="1.0" byte_order="LittleEndian" header_type="UInt64">)";

void sph_vtu_write_header(SphOutputFile& f, int npart, std::string_view root) {
    f.write_line("<?xml version=\"1.0\"?>");
    f.write_line(root);
    f.write_line("  <UnstructuredGrid>");
    f.write("    <Piece NumberOfPoints=\"");
    char* p = f.reserve(2 * sph_format_int_max_width);
    p = sph_format_int(p, npart);
    f.commit(p);
    f.write("\" NumberOfCells=\"");
    p = f.reserve(2 * sph_format_int_max_width);
    p = sph_format_int(p, npart);
    f.commit(p);
    f.write_line("\">");
}

void open_data_array(SphOutputFile& f, std::string_view type, std::string_view name,
                     std::string_view components) {
    f.write("        <DataArray type=\"");
    f.write(type);
    f.write("\" Name=\"");
    f.write(sph_text_trim_trailing(name));
    f.write("\"");
    f.write(components);
    f.write_line(" format=\"ascii\">");
}

void sph_vtu_write_int_data(SphOutputFile& f, std::string_view name, const std::vector<int>& values,
                            int n) {
    open_data_array(f, "Int32", name, "");
    for (int i = 0; i < n; ++i) {
        char* p = sph_format_int(f.reserve(sph_format_int_max_width + 2), values[i]);
        p[0] = '\r';
        p[1] = '\n';
        f.commit(p + 2);
    }
    f.write(data_array_end);
}

void sph_vtu_write_real_data(SphOutputFile& f, std::string_view name,
                             const std::vector<double>& values, int n) {
    open_data_array(f, "Float64", name, "");
    for (int i = 0; i < n; ++i) {
        char* p = sph_format_real_vtk(f.reserve(sph_format_real_width + 2), values[i]);
        p[0] = '\r';
        p[1] = '\n';
        f.commit(p + 2);
    }
    f.write(data_array_end);
}

// Three fields per line, each followed by one blank (75 characters).
void sph_vtu_write_real_vector_data(SphOutputFile& f, std::string_view name,
                                    const std::vector<Vec3>& values, int n) {
    open_data_array(f, "Float64", name, " NumberOfComponents=\"3\"");
    for (int i = 0; i < n; ++i) {
        char* p = f.reserve(3 * (sph_format_real_width + 1) + 2);
        for (int c = 0; c < 3; ++c) {
            p = sph_format_real_vtk(p, values[i][c]);
            *p++ = ' ';
        }
        p[0] = '\r';
        p[1] = '\n';
        f.commit(p + 2);
    }
    f.write(data_array_end);
}

void sph_vtu_write_point_data(SphOutputFile& f, const DbState& db) {
    const int n = db.npart;
    f.write_line(R"(      <PointData Scalars="pressure" Vectors="velocity">)");
    sph_vtu_write_int_data(f, "particle_id", db.particle_id_ext, n);
    sph_vtu_write_int_data(f, "phase", db.particle_phase, n);
    sph_vtu_write_int_data(f, "status", db.particle_status, n);
    sph_vtu_write_int_data(f, "material", db.material_id, n);
    sph_vtu_write_int_data(f, "section", db.section_id, n);
    sph_vtu_write_real_vector_data(f, "velocity", db.v, n);
    sph_vtu_write_real_vector_data(f, "acceleration", db.a, n);
    sph_vtu_write_real_data(f, "density", db.rho, n);
    sph_vtu_write_real_data(f, "pressure", db.pressure, n);
    sph_vtu_write_real_data(f, "temperature", db.temperature, n);
    sph_vtu_write_real_data(f, "smoothing_length", db.h, n);
    f.write_line("      </PointData>");
}

void sph_vtu_write_points(SphOutputFile& f, const DbState& db) {
    f.write_line("      <Points>");
    sph_vtu_write_real_vector_data(f, "Points", db.x, db.npart);
    f.write_line("      </Points>");
}

// Lines holding a running integer first, first + 1, ... (n of them).
void write_counting_lines(SphOutputFile& f, int first, int n) {
    for (int i = 0; i < n; ++i) {
        char* p = sph_format_int(f.reserve(sph_format_int_max_width + 2), first + i);
        p[0] = '\r';
        p[1] = '\n';
        f.commit(p + 2);
    }
}

// Every particle is one vertex cell (VTK cell type 1).
void sph_vtu_write_cells(SphOutputFile& f, int npart) {
    f.write_line("      <Cells>");
    f.write_line(R"(        <DataArray type="Int32" Name="connectivity" format="ascii">)");
    write_counting_lines(f, 0, npart);
    f.write(data_array_end);
    f.write_line(R"(        <DataArray type="Int32" Name="offsets" format="ascii">)");
    write_counting_lines(f, 1, npart);
    f.write(data_array_end);
    f.write_line(R"(        <DataArray type="UInt8" Name="types" format="ascii">)");
    for (int i = 0; i < npart; ++i) f.write("1\r\n");
    f.write(data_array_end);
    f.write_line("      </Cells>");
}

void sph_vtu_write_footer(SphOutputFile& f) {
    f.write_line("    </Piece>");
    f.write_line("  </UnstructuredGrid>");
    f.write_line("</VTKFile>");
}

void write_ascii_vtu(SphOutputFile& f, const DbState& db) {
    sph_vtu_write_header(f, db.npart, vtu_ascii_root);
    sph_vtu_write_point_data(f, db);
    sph_vtu_write_points(f, db);
    sph_vtu_write_cells(f, db.npart);
    sph_vtu_write_footer(f);
}

// ---------------------------------------------------------------------------
// Binary VTU: the XML names every array with its offset into one raw
// appended block, where each array is a UInt64 byte count followed by its
// values exactly as they lie in memory.

static_assert(std::endian::native == std::endian::little,
              "the appended VTU blocks are the particle arrays' own bytes");
static_assert(sizeof(Vec3) == 3 * sizeof(double), "a Vec3 array is three doubles per point");

// The cell arrays are not stored anywhere; they are generated in pieces.
enum class CellArray { none, connectivity, offsets, types };

struct AppendedArray {
    std::string_view type;
    std::string_view name;
    bool vector;             // three components
    std::size_t value_size;  // bytes per component
    const void* data;        // the particle array, or null for a cell array
    CellArray cells;
};

constexpr std::size_t point_data_arrays = 11;
constexpr std::size_t appended_arrays = point_data_arrays + 4;

// In file order: the point data, the points, the three cell arrays.
std::array<AppendedArray, appended_arrays> appended_arrays_of(const DbState& db) {
    auto ints = [](std::string_view name, const std::vector<int>& v) {
        return AppendedArray{"Int32", name, false, sizeof(int), v.data(), CellArray::none};
    };
    auto reals = [](std::string_view name, const std::vector<double>& v) {
        return AppendedArray{"Float64", name, false, sizeof(double), v.data(), CellArray::none};
    };
    auto vectors = [](std::string_view name, const std::vector<Vec3>& v) {
        return AppendedArray{"Float64", name, true, sizeof(double), v.data(), CellArray::none};
    };
    return {
        ints("particle_id", db.particle_id_ext),
        ints("phase", db.particle_phase),
        ints("status", db.particle_status),
        ints("material", db.material_id),
        ints("section", db.section_id),
        vectors("velocity", db.v),
        vectors("acceleration", db.a),
        reals("density", db.rho),
        reals("pressure", db.pressure),
        reals("temperature", db.temperature),
        reals("smoothing_length", db.h),
        vectors("Points", db.x),
        {"Int32", "connectivity", false, sizeof(std::int32_t), nullptr, CellArray::connectivity},
        {"Int32", "offsets", false, sizeof(std::int32_t), nullptr, CellArray::offsets},
        {"UInt8", "types", false, sizeof(std::uint8_t), nullptr, CellArray::types}};
}

std::uint64_t appended_bytes(const AppendedArray& a, int npart) {
    return static_cast<std::uint64_t>(npart) * (a.vector ? 3 : 1) * a.value_size;
}

void write_appended_array_element(SphOutputFile& f, const AppendedArray& a, std::uint64_t offset) {
    f.write("        <DataArray type=\"");
    f.write(a.type);
    f.write("\" Name=\"");
    f.write(a.name);
    f.write(a.vector ? "\" NumberOfComponents=\"3\"" : "\"");
    f.write(" format=\"appended\" offset=\"");
    char* p = f.reserve(24);
    f.commit(std::to_chars(p, p + 24, offset).ptr);
    f.write_line("\"/>");
}

void write_binary_xml(SphOutputFile& f, const DbState& db,
                      const std::array<AppendedArray, appended_arrays>& arrays) {
    sph_vtu_write_header(f, db.npart, vtu_binary_root);
    std::uint64_t offset = 0;
    for (std::size_t k = 0; k < arrays.size(); ++k) {
        if (k == 0) f.write_line(R"(      <PointData Scalars="pressure" Vectors="velocity">)");
        if (k == point_data_arrays) {
            f.write_line("      </PointData>");
            f.write_line("      <Points>");
        }
        if (k == point_data_arrays + 1) {
            f.write_line("      </Points>");
            f.write_line("      <Cells>");
        }
        write_appended_array_element(f, arrays[k], offset);
        offset += sizeof(std::uint64_t) + appended_bytes(arrays[k], db.npart);
    }
    f.write_line("      </Cells>");
    f.write_line("    </Piece>");
    f.write_line("  </UnstructuredGrid>");
    f.write_line(R"(  <AppendedData encoding="raw">)");
    f.write("   _");
}

// connectivity 0, 1, ...; offsets 1, 2, ...; types all 1 (VTK's vertex),
// generated straight into the file's buffer, a reservation at a time.
void write_cell_block(SphOutputFile& f, CellArray cells, int npart) {
    constexpr std::size_t room = SphOutputFile::max_reserve;
    const std::size_t value_size = cells == CellArray::types ? 1 : sizeof(std::int32_t);
    const auto piece = static_cast<std::int64_t>(room / value_size);
    const std::int64_t shift = cells == CellArray::offsets ? 1 : 0;
    // 64-bit, so that the last piece's end cannot overflow near INT_MAX.
    for (std::int64_t first = 0; first < npart; first += piece) {
        const std::int64_t n = std::min(piece, npart - first);
        char* p = f.reserve(room);
        if (cells == CellArray::types) {
            std::memset(p, 1, static_cast<std::size_t>(n));
        } else {
            for (std::int64_t i = 0; i < n; ++i) {
                const auto value = static_cast<std::int32_t>(first + i + shift);
                std::memcpy(p + static_cast<std::size_t>(i) * sizeof value, &value, sizeof value);
            }
        }
        f.commit(p + static_cast<std::size_t>(n) * value_size);
    }
}

void write_binary_vtu(SphOutputFile& f, const DbState& db) {
    const auto arrays = appended_arrays_of(db);
    write_binary_xml(f, db, arrays);
    for (const AppendedArray& a : arrays) {
        const std::uint64_t bytes = appended_bytes(a, db.npart);
        f.write_bytes(&bytes, sizeof bytes);
        if (a.cells == CellArray::none) {
            f.write_bytes(a.data, static_cast<std::size_t>(bytes));
        } else {
            write_cell_block(f, a.cells, db.npart);
        }
    }
    f.write_line("");
    f.write_line("  </AppendedData>");
    f.write_line("</VTKFile>");
}

}  // namespace

void sph_output_reset_pvd(PvdState& pvd) {
    pvd.entries.clear();
}

void sph_output_reset_options(OutputOptions& options) {
    options.vtu_format = options.format_override.value_or(SphVtuFormat::ascii);
    options.particle_csv = true;
}

bool sph_output_parse_format(std::string_view word, SphVtuFormat& format) {
    if (sph_text_name_equal(word, "ASCII")) {
        format = SphVtuFormat::ascii;
    } else if (sph_text_name_equal(word, "BINARY")) {
        format = SphVtuFormat::binary;
    } else {
        return false;
    }
    return true;
}

int sph_output_write_vtu(Model& m, std::string_view filename) {
    SphOutputFile f;
    // Through a side file, so the collection never lists a truncated file.
    if (!f.open_replacing(sph_text_trim_trailing(filename))) {
        return sph_error_set(m.error, sph_error_io, vtu_open_failed);
    }
    if (m.output.vtu_format == SphVtuFormat::binary) {
        write_binary_vtu(f, m.db);
    } else {
        write_ascii_vtu(f, m.db);
    }
    // A short write (disk full) must not pass for a complete file.
    if (!f.close()) return sph_error_set(m.error, sph_error_io, vtu_write_failed);
    return sph_success;
}

int sph_pvd_register_entry(Model& m, int step, double time, std::string_view vtu_file) {
    std::vector<PvdEntry>& entries = m.pvd.entries;
    for (PvdEntry& entry : entries) {
        if (entry.step == step) {
            entry.time = time;
            entry.file = sph_text_field(vtu_file, sph_pvd_file_len);
            return sph_success;
        }
    }
    if (entries.size() >= static_cast<std::size_t>(sph_pvd_max_entries)) {
        return sph_error_set(m.error, sph_error_io, pvd_full);
    }
    entries.push_back(PvdEntry{step, time, sph_text_field(vtu_file, sph_pvd_file_len)});
    return sph_success;
}

int sph_pvd_write_file(Model& m, std::string_view filename) {
    SphOutputFile f;
    // The collection is rewritten at every step: a rewrite cut short (a full
    // disk, an interrupted run) must not lose the series written so far.
    if (!f.open_replacing(sph_text_trim_trailing(filename))) {
        return sph_error_set(m.error, sph_error_io, pvd_open_failed);
    }
    f.write_line("<?xml version=\"1.0\"?>");
    f.write_line(R"(<VTKFile type="Collection" version="0.1" byte_order="LittleEndian">)");
    f.write_line("  <Collection>");
    for (const PvdEntry& entry : m.pvd.entries) {
        f.write("    <DataSet timestep=\"");
        f.commit(sph_format_real_trimmed(f.reserve(sph_format_real_width), entry.time));
        f.write("\" group=\"\" part=\"0\" file=\"");
        f.write(entry.file);
        f.write_line("\"/>");
    }
    f.write_line("  </Collection>");
    f.write_line("</VTKFile>");
    if (!f.close()) return sph_error_set(m.error, sph_error_io, pvd_write_failed);
    return sph_success;
}

int sph_output_write_pvd_step(Model& m, std::string_view directory, int step, double time,
                              std::string_view vtu_file) {
    if (const int status = sph_pvd_register_entry(m, step, time, vtu_file)) return status;
    std::string path(sph_text_trim_trailing(directory));
    path += "/velunor.pvd";
    return sph_pvd_write_file(m, sph_text_field(path, sph_output_path_len));
}
