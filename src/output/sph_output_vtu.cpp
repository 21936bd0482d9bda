#include "output/sph_output_vtu.hpp"

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

void sph_vtu_write_header(SphOutputFile& f, int npart) {
    f.write_line("<?xml version=\"1.0\"?>");
    f.write_line(R"(<VTKFile type="UnstructuredGrid" version="0.1" byte_order="LittleEndian">)");
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

}  // namespace

void sph_output_reset_pvd(PvdState& pvd) {
    pvd.entries.clear();
}

int sph_output_write_vtu(Model& m, std::string_view filename) {
    SphOutputFile f;
    // Through a side file, so the collection never lists a truncated file.
    if (!f.open_replacing(sph_text_trim_trailing(filename))) {
        return sph_error_set(m.error, sph_error_io, vtu_open_failed);
    }
    const int npart = m.db.npart;
    sph_vtu_write_header(f, npart);
    sph_vtu_write_point_data(f, m.db);
    sph_vtu_write_points(f, m.db);
    sph_vtu_write_cells(f, npart);
    sph_vtu_write_footer(f);
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
