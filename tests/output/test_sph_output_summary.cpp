// Summary CSV: the file's rows and forms, the combined water limit, the
// coupling totals, the per-region blast rows against the region summary, and
// the failure of the open.

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "../input/deck_test_util.hpp"
#include "blast/sph_blast_load.hpp"
#include "core/sph_format.hpp"
#include "core/sph_model.hpp"
#include "input/sph_input_reader.hpp"
#include "output/sph_output_csv.hpp"
#include "output/sph_output_summary.hpp"
#include "output_test_support.hpp"
#include "solver/sph_solver_explicit.hpp"

namespace fs = std::filesystem;
using output_test::read_file;
using output_test::TempDir;

namespace {

struct Row {
    std::string name, value;
};

std::vector<Row> rows_of(const std::string& text) {
    std::vector<Row> rows;
    std::size_t at = 0;
    while (at < text.size()) {
        const std::size_t end = text.find("\r\n", at);
        EXPECT_NE(end, std::string::npos) << "every line ends in CR LF";
        if (end == std::string::npos) break;
        const std::string line = text.substr(at, end - at);
        const std::size_t comma = line.find(',');
        rows.push_back({line.substr(0, comma), line.substr(comma + 1)});
        at = end + 2;
    }
    return rows;
}

std::string real_text(double value) {
    return sph_format_real_string(value);
}

std::vector<Row> written(Model& m, int step, double time) {
    TempDir dir;
    const std::string path = (dir.path() / "s.csv").string();
    EXPECT_EQ(sph_output_write_summary(m, path, step, time), 0) << m.error.last_error_message;
    return rows_of(read_file(path));
}

}  // namespace

TEST(OutputSummary, RowsAndFormsOfAModelWithoutRegions) {
    Model m;
    m.db.water.water_mass = 2.5;
    m.db.water.water_momentum = Vec3{-2.5, 0.0, 1e300};
    m.db.gas.gas_particle_count = 7;
    m.db.solid.solid_failed_count = 3;
    m.db.solid.solid_dtcrit = 4e-9;
    const std::vector<Row> rows = written(m, 12, 0.001);
    // Header, 56 global rows, 24 solid rows, one blast row, 20 coupling rows.
    ASSERT_EQ(rows.size(), 1u + 56 + 24 + 1 + 20);
    EXPECT_EQ(rows[0].name, "metric");
    EXPECT_EQ(rows[0].value, "value");
    EXPECT_EQ(rows[1].name + "," + rows[1].value, "step,12");
    EXPECT_EQ(rows[2].name + "," + rows[2].value, "time,  1.0000000000000000E-03");
    EXPECT_EQ(rows[3].name, "water_mass");
    EXPECT_EQ(rows[4].name + "," + rows[4].value, "water_momentum_x, -2.5000000000000000E+00");
    EXPECT_EQ(rows[6].value, real_text(1e300));
    EXPECT_EQ(rows[10].name, "dtcrit");
    EXPECT_EQ(rows[11].name + "," + rows[11].value, "gas_particles,7");
    EXPECT_EQ(rows[29].name, "gas_source_mass");
    EXPECT_EQ(rows[34].name, "explosive_particles");
    EXPECT_EQ(rows[56].name, "explosive_source_momentum_z");
    EXPECT_EQ(rows[57].name, "solid_particles");
    EXPECT_EQ(rows[58].name + "," + rows[58].value, "solid_failed_particles,3");
    EXPECT_EQ(rows[80].name, "solid_dtcrit");
    EXPECT_EQ(rows[80].value, real_text(4e-9));
    EXPECT_EQ(rows[81].name + "," + rows[81].value, "blast_regions,0");
    EXPECT_EQ(rows[82].name + "," + rows[82].value, "coupling_regions,0");
    EXPECT_EQ(rows[101].name, "coupling_moment_balance_error");
    // Every real is one 24-character field.
    for (const Row& r : rows) {
        if (r.value.find('E') != std::string::npos) {
            EXPECT_EQ(r.value.size(), 24u) << r.name;
        }
    }
}

TEST(OutputSummary, CombinedWaterLimit) {
    Model m;
    WaterDiagnostics& w = m.db.water;
    w.water_dt_cfl = 2e-5;
    w.water_dt_accel = 1e-5;
    w.water_dt_viscous = 0.0;
    EXPECT_EQ(sph_output_water_dtcrit(m), 1e-5);
    w.water_dt_viscous = 5e-6;
    EXPECT_EQ(sph_output_water_dtcrit(m), 5e-6);
    w.water_dt_cfl = 0.0;  // a non-positive CFL limit is kept unless a later one is smaller
    w.water_dt_accel = 0.0;
    w.water_dt_viscous = 0.0;
    EXPECT_EQ(sph_output_water_dtcrit(m), 0.0);
    w.water_dt_cfl = -1.0;
    w.water_dt_accel = 3e-6;
    EXPECT_EQ(sph_output_water_dtcrit(m), -1.0);
}

TEST(OutputSummary, CouplingTotals) {
    Model m;
    ASSERT_EQ(sph_db_allocate(m, 6), 0);
    for (int i = 0; i < 6; ++i) m.db.particle_phase[i] = i < 3 ? sph_phase_shell : sph_phase_water;
    const auto region = [](int export_mode, int enabled, std::vector<int> particles) {
        CouplingRegionRecord r;
        r.coupling_region_export_mode = export_mode;
        r.coupling_region_enabled = enabled;
        r.coupling_region_particle_count = static_cast<int>(particles.size());
        r.coupling_region_particles = std::move(particles);
        return r;
    };
    m.db.coupling_regions = {region(3, 1, {0, 1, 4}),     // both: 3 particles, 2 facets
                             region(1, 1, {2, 5}),        // particles only
                             region(2, 1, {0, 2, 3, 9}),  // facets only; 9 is out of range
                             region(3, 0, {0, 1, 2})};    // disabled: nothing
    int particles = -1, facets = -1;
    sph_output_coupling_counts(m, particles, facets);
    EXPECT_EQ(particles, 3 + 2);
    EXPECT_EQ(facets, 2 + 2);
    const std::vector<Row> rows = written(m, 0, 0.0);
    EXPECT_EQ(rows[82].name + "," + rows[82].value, "coupling_regions,4");
    EXPECT_EQ(rows[83].name + "," + rows[83].value, "coupling_particles,5");
    EXPECT_EQ(rows[84].name + "," + rows[84].value, "coupling_facets,4");

    // The exchange rows are the coupling state's running values.
    m.coupling.coupling_current_force = Vec3{1.5, -2.0, 0.25};
    m.coupling.coupling_stale_load_count = 6;
    m.coupling.coupling_facet_moment_error = 3e-7;
    const std::vector<Row> exchange = written(m, 0, 0.0);
    EXPECT_EQ(exchange[85].name + "," + exchange[85].value, "coupling_force_x," + real_text(1.5));
    EXPECT_EQ(exchange[86].value, real_text(-2.0));
    EXPECT_EQ(exchange[94].name + "," + exchange[94].value, "coupling_stale_loads,6");
    EXPECT_EQ(exchange[101].value, real_text(3e-7));
}

TEST(OutputSummary, BlastRowsAreTheRegionSummaries) {
    const std::string deck =
        "*NODE\n1, 0, 0, 0\n2, 0.01, 0, 0\n3, 0.02, 0, 0\n"
        "101, 0.05, 0, 0\n102, 0.05, 0.01, 0\n"
        "*NSET, NSET=CLOUD, GENERATE\n1, 3\n*NSET, NSET=PLATE, GENERATE\n101, 102\n"
        "*MATERIAL, NAME=Air, TYPE=GAS\n*DENSITY\n10\n"
        "*VELUNOR EOS, TYPE=IDEAL_GAS, MATERIAL=Air, GAMMA=1.4, E0=2.5e5\n"
        "*GAS SECTION, NSET=CLOUD, MATERIAL=Air\n"
        "*VELUNOR PARTICLE CONTROL, H=0.013, MASS=1e-5, VOLUME=1e-6\n"
        "*MATERIAL, NAME=Steel, TYPE=SOLID\n*DENSITY\n7850\n*ELASTIC\n2e11, 0.3\n"
        "*SOLID SECTION, NSET=PLATE, MATERIAL=Steel\n"
        "*VELUNOR SOLID CONTROL, MATERIAL=Steel, H=0.013, VOLUME=1e-6\n"
        "*VELUNOR TIME CONTROL, DT=1e-7, TIME=1e-3, STEPS=10\n"
        "*VELUNOR BLAST REGION, NAME=A, RADIUS=0.1, TARGET_SET=PLATE\n"
        "*VELUNOR BLAST REGION, NAME=B, X=5, RADIUS=0.1, TARGET_SET=PLATE\n";
    auto m = deck_test::fresh_model();
    deck_test::TempDeck file(deck);
    ASSERT_EQ(sph_input_read(*m, file.path()), 0) << m->error.last_error_message;
    ASSERT_EQ(sph_input_build_model(*m), 0) << m->error.last_error_message;
    ASSERT_EQ(sph_solver_advance_explicit(*m, 1e-7), 0) << m->error.last_error_message;

    const std::vector<Row> rows = written(*m, 1, 1e-7);
    ASSERT_EQ(rows.size(), 1u + 56 + 24 + 1 + 2 * 38 + 20);
    EXPECT_EQ(rows[81].name + "," + rows[81].value, "blast_regions,2");
    std::map<std::string, std::string> by_name;
    for (const Row& r : rows) by_name[r.name] = r.value;
    for (int region = 1; region <= 2; ++region) {
        BlastRegionSummary s;
        ASSERT_EQ(sph_blast_load_get_summary(*m, region, s), 0);
        std::string r(1, '_');
        r += std::to_string(region);
        EXPECT_EQ(by_name["blast_source_count" + r], std::to_string(s.counts[0]));
        EXPECT_EQ(by_name["blast_pair_count" + r], std::to_string(s.counts[2]));
        EXPECT_EQ(by_name["blast_water_count" + r], std::to_string(s.counts[9]));
        EXPECT_EQ(by_name["blast_skipped_sources" + r], std::to_string(s.counts[3]));
        EXPECT_EQ(by_name["blast_load_pairs" + r], std::to_string(s.counts[6]));
        EXPECT_EQ(by_name["blast_nonfinite_loads" + r], std::to_string(s.counts[8]));
        EXPECT_EQ(by_name["blast_source_pressure_mean" + r], real_text(s.values[2]));
        EXPECT_EQ(by_name["blast_water_pressure_max" + r], real_text(s.values[6]));
        EXPECT_EQ(by_name["blast_solid_force_x" + r], real_text(s.values[7]));
        EXPECT_EQ(by_name["blast_total_force_z" + r], real_text(s.values[15]));
        EXPECT_EQ(by_name["blast_momentum_input_y" + r], real_text(s.values[20]));
        EXPECT_EQ(by_name["blast_max_acceleration" + r], real_text(s.values[25]));
    }
    EXPECT_EQ(by_name["blast_source_count_1"], "3");
    EXPECT_EQ(by_name["blast_pair_count_1"], "6");
    EXPECT_EQ(by_name["blast_source_count_2"], "0");
    // The region rows follow the blast_regions row, region by region.
    EXPECT_EQ(rows[82].name, "blast_source_count_1");
    EXPECT_EQ(rows[82 + 38].name, "blast_source_count_2");
    EXPECT_EQ(rows[82 + 38 + 37].name, "blast_max_acceleration_2");
}

TEST(OutputSummary, StepWritesItBesideTheParticleFilesAndOpenFailureIsReported) {
    TempDir dir;
    Model m;
    m.control.output_directory = dir.path().string();
    ASSERT_EQ(sph_output_write_step(m, 0, 0.0), 0);
    const std::vector<Row> rows = rows_of(read_file(dir.path() / "velunor_00000000_summary.csv"));
    ASSERT_GT(rows.size(), 1u);
    EXPECT_EQ(rows[1].name + "," + rows[1].value, "step,0");

    Model missing;
    EXPECT_EQ(sph_output_write_summary(missing, (dir.path() / "no" / "s.csv").string(), 1, 0.0), 3);
    EXPECT_EQ(missing.error.last_error_code, 3);
    EXPECT_EQ(missing.error.last_error_message, "failed to open summary output file");
}
