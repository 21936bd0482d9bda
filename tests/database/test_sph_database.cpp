#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "core/sph_model.hpp"
#include "database/sph_database.hpp"

namespace {

std::unique_ptr<Model> make_model(int npart) {
    auto m = std::make_unique<Model>();
    EXPECT_EQ(sph_db_allocate(*m, npart), 0);
    return m;
}

void expect_error(const Model& m, int status, int code, const std::string& message) {
    EXPECT_EQ(status, code);
    EXPECT_EQ(m.error.last_error_code, code);
    EXPECT_EQ(m.error.last_error_message, message);
}

// Nodes 1..n at distinct positions, ext id = 100 + i.
void set_nodes(Model& m) {
    for (int i = 0; i < m.db.npart; ++i) {
        ASSERT_EQ(sph_db_set_node(m, i, 100 + i, Vec3{double(i), 0.0, 0.0}), 0);
    }
}

// Definitions of the lookups as plain scans, to check the indexed versions.
int linear_find_node(const DbState& db, int ext_id) {
    for (int i = 0; i < db.npart; ++i) {
        if (db.particle_id_ext[std::size_t(i)] == ext_id) return i;
    }
    return -1;
}

int linear_find_element(const DbState& db, int ext_id) {
    for (std::size_t e = 0; e < db.elements.size(); ++e) {
        if (db.elements[e].element_id_ext == ext_id) return int(e);
    }
    return -1;
}

int add_region(Model& m, std::string_view name, std::string_view set, int type = 1,
               int export_mode = 3, int import_mode = 1, int load_mode = 1, int dist = 1,
               int contact = 0, bool enabled = true, int phase_filter = 0,
               std::string_view mat = "", std::string_view sec = "") {
    return sph_db_add_coupling_region(m, name, set, type, export_mode, import_mode, load_mode, dist,
                                      contact, enabled, "SURF", phase_filter, mat, sec);
}

// Appends rather than prepends: GCC 12 warns falsely on "x" + std::string.
std::string numbered(const char* prefix, int k) {
    std::string name(prefix);
    name += std::to_string(k);
    return name;
}

}  // namespace

TEST(DatabaseStorage, AllocateGivesDefaultsAndZeroCountIsEmpty) {
    auto m = make_model(3);
    const DbState& db = m->db;
    ASSERT_EQ(db.npart, 3);
    EXPECT_EQ(db.particle_id_ext, (std::vector<int>{1, 2, 3}));
    for (std::size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(db.particle_phase[i], sph_phase_solid);
        EXPECT_EQ(db.particle_status[i], sph_status_active);
        EXPECT_EQ(db.material_id[i], 1);
        EXPECT_EQ(db.section_id[i], 0);
        EXPECT_EQ(db.mass[i], 1.0);
        EXPECT_EQ(db.rho[i], 1000.0);
        EXPECT_EQ(db.volume[i], 1.0);
        EXPECT_EQ(db.temperature[i], 293.15);
        EXPECT_EQ(db.h[i], 1.0);
        EXPECT_EQ(db.pressure[i], 0.0);
        EXPECT_EQ(db.x0[i].x, 0.0);
        EXPECT_EQ(db.neighbor_offset[i], 0);
    }
    EXPECT_EQ(db.acc_body.size(), 3u);
    EXPECT_EQ(db.cell_next.size(), 3u);

    // Re-allocating discards particles and every table.
    ASSERT_EQ(sph_db_add_material(*m, "STEEL", "SOLID"), 0);
    m->db.water.water_mass = 5.0;
    ASSERT_EQ(sph_db_allocate(*m, 0), 0);
    EXPECT_EQ(m->db.npart, 0);
    EXPECT_TRUE(m->db.x.empty());
    EXPECT_TRUE(m->db.materials.empty());
    EXPECT_EQ(m->db.water.water_mass, 0.0);

    int count = -1;
    EXPECT_EQ(sph_db_get_particle_state(*m, 0, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                                        nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                                        nullptr, count),
              0);
    EXPECT_EQ(count, 0);
}

TEST(DatabaseStorage, NegativeCountIsRefusedAndKeepsTheModel) {
    auto m = make_model(2);
    ASSERT_EQ(sph_db_add_material(*m, "STEEL", "SOLID"), 0);
    expect_error(*m, sph_db_allocate(*m, -1), 1, "particle count must be non-negative");
    EXPECT_EQ(m->db.npart, 2);
    EXPECT_EQ(m->db.materials.size(), 1u);
}

TEST(DatabaseStorage, NeighborStorageSizesAndFailures) {
    auto m = make_model(2);
    expect_error(*m, sph_db_allocate_neighbor_storage(*m, -1, 4), 1,
                 "neighbor storage sizes must be non-negative");
    expect_error(*m, sph_db_allocate_neighbor_storage(*m, 4, -1), 1,
                 "neighbor storage sizes must be non-negative");

    m->db.neighbor_list = {7, 7};
    ASSERT_EQ(sph_db_allocate_neighbor_storage(*m, 5, 3), 0);
    EXPECT_EQ(std::vector<int>(m->db.neighbor_list.begin(), m->db.neighbor_list.end()),
              std::vector<int>(5, 0));
    EXPECT_EQ(m->db.cell_head, std::vector<int>(3, 0));

    // A size beyond what can be held is an allocation failure, not a crash,
    // and releases both arrays.
    expect_error(*m, sph_db_allocate_neighbor_storage(*m, std::numeric_limits<int64_t>::max(), 3),
                 5, "failed to allocate neighbor storage");
    EXPECT_TRUE(m->db.neighbor_list.empty());
    EXPECT_TRUE(m->db.cell_head.empty());
    EXPECT_EQ(m->db.npart, 2);
}

TEST(DatabaseStorage, FreeTwiceIsHarmlessAndResetsEverything) {
    auto m = make_model(4);
    ASSERT_EQ(sph_db_allocate_neighbor_storage(*m, 10, 10), 0);
    ASSERT_EQ(sph_db_add_material(*m, "STEEL", "SOLID"), 0);
    ASSERT_EQ(sph_db_set_tamrix_options(*m, 1, "R", 0, 0, 0, 1), 0);
    m->db.coupling_region_disabled_count = 3;
    m->db.gas.gas_mass = 1.0;
    m->db.solid.solid_failed_count = 2;
    sph_error_clear(m->error);
    sph_db_free(m->db);
    sph_db_free(m->db);
    EXPECT_EQ(m->error.last_error_code, 0);
    EXPECT_EQ(m->db.npart, 0);
    EXPECT_TRUE(m->db.particle_id_ext.empty());
    EXPECT_TRUE(m->db.neighbor_list.empty());
    EXPECT_TRUE(m->db.cell_head.empty());
    EXPECT_TRUE(m->db.materials.empty());
    EXPECT_EQ(m->db.coupling_region_disabled_count, 0);
    EXPECT_EQ(m->db.gas.gas_mass, 0.0);
    EXPECT_EQ(m->db.solid.solid_failed_count, 0);
    EXPECT_EQ(m->db.tamrix.tamrix_region_name, "ALL");
    EXPECT_EQ(m->db.tamrix.tamrix_worker_enabled, 0);
    EXPECT_EQ(m->db.tamrix.tamrix_export_radius, 1);
    EXPECT_EQ(sph_db_find_node(m->db, 100), -1);
}

TEST(DatabaseQueries, ParticleStateLayoutAndSmallBuffer) {
    auto m = make_model(2);
    set_nodes(*m);
    m->db.v[1] = Vec3{4.0, 5.0, 6.0};
    m->db.pressure[0] = 9.5;
    m->db.section_id[1] = 2;

    std::vector<int> ids(2, -7), phase(2, -7), status(2, -7), mat(2, -7), sec(2, -7);
    std::vector<double> x(6, -7.0), v(6, -7.0), a(6, -7.0), rho(2, -7.0), p(2, -7.0), e(2, -7.0),
        t(2, -7.0), h(2, -7.0);
    int count = -1;
    const auto call = [&](int max_particles) {
        return sph_db_get_particle_state(*m, max_particles, ids.data(), phase.data(), status.data(),
                                         mat.data(), sec.data(), x.data(), v.data(), a.data(),
                                         rho.data(), p.data(), e.data(), t.data(), h.data(), count);
    };
    expect_error(*m, call(1), 1, "particle state buffer is too small");
    EXPECT_EQ(count, 2);
    EXPECT_EQ(ids, std::vector<int>(2, -7));
    EXPECT_EQ(x, std::vector<double>(6, -7.0));
    EXPECT_EQ(h, std::vector<double>(2, -7.0));

    ASSERT_EQ(call(2), 0);
    EXPECT_EQ(count, 2);
    EXPECT_EQ(ids, (std::vector<int>{100, 101}));
    EXPECT_EQ(sec, (std::vector<int>{0, 2}));
    EXPECT_EQ(x, (std::vector<double>{0, 0, 0, 1, 0, 0}));
    EXPECT_EQ(v, (std::vector<double>{0, 0, 0, 4, 5, 6}));
    EXPECT_EQ(p, (std::vector<double>{9.5, 0.0}));
    EXPECT_EQ(t, (std::vector<double>{293.15, 293.15}));

    int cap_count = 0, ndim = 0;
    sph_db_get_particle_state_capacity(m->db, cap_count, ndim);
    EXPECT_EQ(cap_count, 2);
    EXPECT_EQ(ndim, 3);
    EXPECT_EQ(sph_db_get_particle_count(m->db), 2);
}

TEST(DatabaseRecords, SetNodeChecksIndexAndSetsBothPositions) {
    auto m = make_model(2);
    expect_error(*m, sph_db_set_node(*m, 2, 5, Vec3{}), 1, "particle index is out of range");
    expect_error(*m, sph_db_set_node(*m, -1, 5, Vec3{}), 1, "particle index is out of range");
    ASSERT_EQ(sph_db_set_node(*m, 1, 42, Vec3{1, 2, 3}), 0);
    EXPECT_EQ(m->db.particle_id_ext[1], 42);
    EXPECT_EQ(m->db.x0[1].z, 3.0);
    EXPECT_EQ(m->db.x[1].y, 2.0);
    EXPECT_EQ(sph_db_find_node(m->db, 42), 1);
}

TEST(DatabaseRecords, MaterialsCapacityAndDensity) {
    auto m = make_model(1);
    ASSERT_EQ(sph_db_add_material(*m, "Steel", "SOLID"), 0);
    ASSERT_EQ(sph_db_add_material(*m, "STEEL  ", "WATER"), 0);  // duplicates are kept
    EXPECT_EQ(m->db.materials[1].material_internal_id, 2);
    EXPECT_EQ(sph_db_find_material(m->db, "steel"), 1);
    EXPECT_EQ(sph_db_find_material(m->db, " steel"), 0);

    expect_error(*m, sph_db_set_material_density(*m, "STEEL", 0.0), 1,
                 "material density must be positive");
    expect_error(*m, sph_db_set_material_density(*m, "STEEL", -2.0), 1,
                 "material density must be positive");
    expect_error(*m,
                 sph_db_set_material_density(*m, "STEEL", std::numeric_limits<double>::infinity()),
                 1, "material density must be finite");
    expect_error(*m, sph_db_set_material_density(*m, "NOPE", std::nan("")), 1,
                 "material density must be finite");
    expect_error(*m, sph_db_set_material_density(*m, "NOPE", 7.0), 5,
                 "density references unknown material");
    ASSERT_EQ(sph_db_set_material_density(*m, "steel", 7850.0), 0);
    EXPECT_EQ(m->db.materials[0].material_density, 7850.0);
    EXPECT_EQ(m->db.materials[1].material_density, 0.0);

    // Names are 64-character fields: a longer name is cut and still found.
    const std::string long_name = std::string(64, 'L') + "TAIL";
    ASSERT_EQ(sph_db_add_material(*m, long_name, "SOLID"), 0);
    EXPECT_EQ(m->db.materials[2].material_name, std::string(64, 'L'));
    EXPECT_EQ(sph_db_set_material_density(*m, long_name, 1.0), 0);

    for (int k = 3; k < sph_max_materials; ++k) {
        ASSERT_EQ(sph_db_add_material(*m, numbered("M", k), "GAS"), 0);
    }
    const auto before = m->db.materials.size();
    expect_error(*m, sph_db_add_material(*m, "ONE_TOO_MANY", "GAS"), 5,
                 "too many material records");
    EXPECT_EQ(m->db.materials.size(), before);
}

TEST(DatabaseRecords, SetsAndElementsAreClampedWithoutMessage) {
    auto m = make_model(1);
    std::vector<int> members(600);
    for (int k = 0; k < 600; ++k) members[std::size_t(k)] = 1000 + k;
    sph_error_clear(m->error);
    ASSERT_EQ(sph_db_add_nset(*m, "BIG", 600, members.data()), 0);
    ASSERT_EQ(sph_db_add_elset(*m, "EBIG", 600, members.data()), 0);
    ASSERT_EQ(sph_db_add_nset(*m, "EMPTY", 0, nullptr), 0);
    ASSERT_EQ(sph_db_add_nset(*m, "NEG", -3, members.data()), 0);
    EXPECT_EQ(m->error.last_error_code, 0);
    const SetRecord& big = m->db.nsets[0];
    EXPECT_EQ(big.member_count, 512);
    ASSERT_EQ(big.members.size(), 512u);
    EXPECT_EQ(big.members.back(), 1511);
    EXPECT_EQ(big.first_member, 1000);
    EXPECT_EQ(m->db.elsets[0].member_count, 512);
    EXPECT_EQ(m->db.nsets[1].member_count, 0);
    EXPECT_EQ(m->db.nsets[1].first_member, 0);
    EXPECT_EQ(m->db.nsets[2].member_count, 0);

    const int conn[10] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
    ASSERT_EQ(sph_db_add_element(*m, 77, "C3D8", 10, conn), 0);
    ASSERT_EQ(sph_db_add_element(*m, 78, "S3", 3, conn), 0);
    const ElementRecord& e0 = m->db.elements[0];
    EXPECT_EQ(e0.element_conn_count, 8);
    EXPECT_EQ(e0.element_conn[7], 8);
    EXPECT_EQ(m->db.elements[1].element_conn_count, 3);
    EXPECT_EQ(m->db.elements[1].element_conn[3], 0);
    EXPECT_EQ(sph_db_find_element(m->db, 78), 1);

    for (int k = 3; k < sph_max_sets; ++k) {
        ASSERT_EQ(sph_db_add_nset(*m, numbered("N", k), 1, conn), 0);
    }
    for (int k = 1; k < sph_max_sets; ++k) {
        ASSERT_EQ(sph_db_add_elset(*m, numbered("E", k), 1, conn), 0);
    }
    expect_error(*m, sph_db_add_nset(*m, "X", 1, conn), 5, "too many node set records");
    expect_error(*m, sph_db_add_elset(*m, "X", 1, conn), 5, "too many element set records");
    EXPECT_EQ(m->db.nsets.size(), 32u);
    EXPECT_EQ(m->db.elsets.size(), 32u);

    for (int k = 2; k < sph_max_elements; ++k) {
        ASSERT_EQ(sph_db_add_element(*m, 1000 + k, "C3D8", 8, conn), 0);
    }
    EXPECT_EQ(sph_db_find_element(m->db, 1255), 255);
    expect_error(*m, sph_db_add_element(*m, 5000, "C3D8", 8, conn), 5, "too many element records");
    EXPECT_EQ(m->db.elements.size(), 256u);
    EXPECT_EQ(sph_db_find_element(m->db, 5000), -1);
}

TEST(DatabaseRecords, SectionChecksRunInOrder) {
    auto m = make_model(1);
    const int one = 100;
    ASSERT_EQ(sph_db_add_material(*m, "STEEL", "SOLID"), 0);
    ASSERT_EQ(sph_db_add_nset(*m, "NS", 1, &one), 0);
    ASSERT_EQ(sph_db_add_elset(*m, "ES", 1, &one), 0);
    expect_error(*m, sph_db_add_section(*m, "NOSET", "SOLID", "NOMAT", 0, 0, 0, ""), 5,
                 "section references unknown material");
    expect_error(*m, sph_db_add_section(*m, "NOSET", "SOLID", "STEEL", 0, 0, 0, ""), 5,
                 "section references unknown set");
    EXPECT_TRUE(m->db.sections.empty());
    ASSERT_EQ(sph_db_add_section(*m, "es", "SHELL", "steel", 0.01, 5, 0.833, "ORI"), 0);
    const SectionRecord& s = m->db.sections[0];
    EXPECT_EQ(s.section_material_id, 1);
    EXPECT_EQ(s.section_thickness, 0.01);
    EXPECT_EQ(s.section_integration_points, 5);
    EXPECT_EQ(s.section_shear_correction, 0.833);
    EXPECT_EQ(s.section_orientation_name, "ORI");
    for (int k = 1; k < sph_max_sections; ++k) {
        ASSERT_EQ(sph_db_add_section(*m, "NS", "SOLID", "STEEL", 0, 0, 0, ""), 0);
    }
    // Capacity is checked before the references.
    expect_error(*m, sph_db_add_section(*m, "NOSET", "SOLID", "NOMAT", 0, 0, 0, ""), 5,
                 "too many section records");
    EXPECT_EQ(m->db.sections.size(), 32u);
}

TEST(DatabaseBuild, PhaseFromMaterialTypeWords) {
    auto m = make_model(1);
    const char* types[] = {
        "gas and Water", "EXPLOSIVE GAS", "boundary shell", "Explosive", "BOUNDARY", "steel", "",
        "SOLID"};
    const int expected[] = {1, 2, 5, 3, 6, 4, 4, 4};
    for (const char* type : types) ASSERT_EQ(sph_db_add_material(*m, "M", type), 0);
    for (int k = 0; k < 8; ++k) {
        EXPECT_EQ(sph_db_phase_from_material(m->db, k + 1), expected[k]) << types[k];
    }
    EXPECT_EQ(sph_db_phase_from_material(m->db, 0), 4);
    EXPECT_EQ(sph_db_phase_from_material(m->db, 9), 4);
}

TEST(DatabaseBuild, SectionsReachParticlesThroughSetsAndElements) {
    auto m = make_model(6);  // ext ids 100..105
    set_nodes(*m);
    ASSERT_EQ(sph_db_add_material(*m, "W", "WATER"), 0);
    ASSERT_EQ(sph_db_add_material(*m, "SH", "SHELL"), 0);
    ASSERT_EQ(sph_db_add_material(*m, "G", "GAS"), 0);
    const int e1[] = {100, 101, 999};  // 999 is no node: skipped
    const int e2[] = {102};
    ASSERT_EQ(sph_db_add_element(*m, 1, "S3", 3, e1), 0);
    ASSERT_EQ(sph_db_add_element(*m, 2, "S3", 1, e2), 0);
    const int elset_members[] = {1, 55};  // 55 is no element: skipped
    const int both_nodes[] = {103, 104};
    const int later_nodes[] = {101};
    ASSERT_EQ(sph_db_add_elset(*m, "BOTH", 2, elset_members), 0);
    ASSERT_EQ(sph_db_add_nset(*m, "BOTH", 2, both_nodes), 0);
    ASSERT_EQ(sph_db_add_nset(*m, "LATER", 1, later_nodes), 0);
    ASSERT_EQ(sph_db_add_section(*m, "BOTH", "SHELL", "SH", 0.1, 3, 1.0, ""), 0);
    ASSERT_EQ(sph_db_add_section(*m, "LATER", "SOLID", "G", 0, 0, 0, ""), 0);
    ASSERT_EQ(sph_db_apply_sections_to_particles(*m), 0);

    const DbState& db = m->db;
    // The element set wins: nodes 100, 101 get section 1, the node set's 103/104 do not.
    EXPECT_EQ(db.section_id, (std::vector<int>{1, 2, 0, 0, 0, 0}));
    EXPECT_EQ(db.material_id, (std::vector<int>{2, 3, 1, 1, 1, 1}));
    EXPECT_EQ(db.particle_phase, (std::vector<int>{5, 2, 4, 4, 4, 4}));

    // Out-of-range arguments change nothing.
    sph_db_assign_particle_section(m->db, 6, 1);
    sph_db_assign_particle_section(m->db, 5, 3);
    sph_db_assign_particle_section(m->db, -1, 1);
    EXPECT_EQ(db.section_id[5], 0);
    sph_db_assign_particle_section(m->db, 5, 2);
    EXPECT_EQ(db.section_id[5], 2);
    EXPECT_EQ(db.particle_phase[5], sph_phase_gas);
}

TEST(DatabaseRecords, CouplingRegionChecksRunInOrder) {
    auto m = make_model(2);
    set_nodes(*m);
    const int nodes[] = {100, 101};
    ASSERT_EQ(sph_db_add_nset(*m, "NS", 2, nodes), 0);
    ASSERT_EQ(sph_db_add_material(*m, "STEEL", "SOLID"), 0);
    ASSERT_EQ(sph_db_add_section(*m, "NS", "SOLID", "STEEL", 0, 0, 0, ""), 0);
    ASSERT_EQ(add_region(*m, "R1", "NS"), 0);

    const auto check = [&](int status, const char* message) {
        expect_error(*m, status, 5, message);
        EXPECT_EQ(m->db.coupling_regions.size(), 1u);
    };
    check(add_region(*m, "   ", "NS"), "coupling region name is empty");
    check(add_region(*m, "r1 ", "NOSET", 9), "duplicate coupling region name");
    check(add_region(*m, "R2", "  ", 9), "coupling region set is missing");
    check(add_region(*m, "R2", "NOSET", 9), "coupling region references unknown set");
    check(add_region(*m, "R2", "NS", 3, 0), "invalid coupling region type");
    check(add_region(*m, "R2", "NS", 1, 4, 0), "invalid coupling export mode");
    check(add_region(*m, "R2", "NS", 1, 1, 4, 0), "invalid coupling import mode");
    check(add_region(*m, "R2", "NS", 1, 1, 1, 5, 0), "invalid coupling load mode");
    check(add_region(*m, "R2", "NS", 1, 1, 1, 1, 4, 2), "invalid coupling distribution mode");
    check(add_region(*m, "R2", "NS", 1, 1, 1, 1, 1, 2, true, -1),
          "invalid coupling contact state mode");
    check(add_region(*m, "R2", "NS", 1, 1, 1, 3, 1, 0, true, -1),
          "facet coupling load requires facet export");
    check(add_region(*m, "R2", "NS", 1, 1, 1, 1, 1, 0, true, 10, "NOMAT"),
          "invalid coupling phase filter");
    check(add_region(*m, "R2", "NS", 1, 1, 1, 1, 1, 0, true, 0, "NOMAT", "NOSEC"),
          "coupling region references unknown material");
    check(add_region(*m, "R2", "NS", 1, 1, 1, 1, 1, 0, true, 0, "steel", "NOSEC"),
          "coupling region references unknown section");

    // The same facet-load region passes when disabled; "all" needs no set.
    ASSERT_EQ(add_region(*m, "R2", "all", 2, 1, 3, 3, 3, 1, false, 9, "STEEL", "NS"), 0);
    const CouplingRegionRecord& r = m->db.coupling_regions[1];
    EXPECT_EQ(r.coupling_region_enabled, 0);
    EXPECT_EQ(r.coupling_region_material_filter, 1);
    EXPECT_EQ(r.coupling_region_section_filter, 1);
    EXPECT_EQ(r.coupling_region_internal_id, 2);
    EXPECT_EQ(r.coupling_region_surface_name, "SURF");
    EXPECT_EQ(r.coupling_region_load_mode, 3);

    for (int k = 3; k <= sph_max_regions; ++k) {
        ASSERT_EQ(add_region(*m, numbered("R", k), "NS"), 0);
    }
    expect_error(*m, add_region(*m, "R33", "NS"), 5, "too many coupling region records");
    EXPECT_EQ(m->db.coupling_regions.size(), 32u);
}

TEST(DatabaseBuild, CouplingRegionsCollectAcceptedParticles) {
    auto m = make_model(5);  // ext ids 100..104
    set_nodes(*m);
    ASSERT_EQ(sph_db_add_material(*m, "STEEL", "SOLID"), 0);
    ASSERT_EQ(sph_db_add_material(*m, "SH", "SHELL"), 0);
    const int repeated[] = {103, 101, 103, 999, 100};
    ASSERT_EQ(sph_db_add_nset(*m, "NS", 5, repeated), 0);
    const int conn[] = {104, 102};
    ASSERT_EQ(sph_db_add_element(*m, 9, "S2", 2, conn), 0);
    const int elem = 9;
    ASSERT_EQ(sph_db_add_elset(*m, "ES", 1, &elem), 0);
    ASSERT_EQ(sph_db_add_section(*m, "ES", "SHELL", "SH", 0.1, 3, 1.0, ""), 0);
    ASSERT_EQ(sph_db_apply_sections_to_particles(*m), 0);
    m->db.particle_status[1] = sph_status_inactive;  // ext 101 is not offered

    ASSERT_EQ(add_region(*m, "NODES", "ns"), 0);
    ASSERT_EQ(add_region(*m, "OFF", "NS", 1, 1, 1, 1, 1, 0, false), 0);
    ASSERT_EQ(add_region(*m, "SHELLS", "ALL", 1, 3, 1, 1, 1, 0, true, sph_phase_shell), 0);
    ASSERT_EQ(add_region(*m, "ELEMS", "ES"), 0);
    ASSERT_EQ(sph_db_build_coupling_regions(*m), 0);
    const auto& regions = m->db.coupling_regions;
    EXPECT_EQ(regions[0].coupling_region_particles, (std::vector<int>{3, 0}));
    EXPECT_EQ(regions[0].coupling_region_particle_count, 2);
    EXPECT_EQ(regions[1].coupling_region_particle_count, 0);
    EXPECT_EQ(regions[2].coupling_region_particles, (std::vector<int>{2, 4}));
    EXPECT_EQ(regions[3].coupling_region_particles, (std::vector<int>{4, 2}));
    EXPECT_EQ(m->db.coupling_region_disabled_count, 1);

    // Rebuilding starts from scratch.
    ASSERT_EQ(sph_db_build_coupling_regions(*m), 0);
    EXPECT_EQ(regions[0].coupling_region_particles, (std::vector<int>{3, 0}));
    EXPECT_EQ(m->db.coupling_region_disabled_count, 1);

    // A filter that rejects every particle fails the build.
    ASSERT_EQ(add_region(*m, "NONE", "NS", 1, 3, 1, 1, 1, 0, true, 0, "", "ES"), 0);
    expect_error(*m, sph_db_build_coupling_regions(*m), 5,
                 "active coupling region selected no particles");
}

TEST(DatabaseBuild, CouplingRegionOfAllParticlesHoldsAtMost512) {
    auto m = make_model(600);
    ASSERT_EQ(add_region(*m, "EVERY", "all"), 0);
    expect_error(*m, sph_db_build_coupling_regions(*m), 5, "too many particles in coupling region");
    EXPECT_EQ(m->db.coupling_regions[0].coupling_region_particle_count, 512);

    // 512 accepted particles fit exactly.
    for (int i = 512; i < 600; ++i) m->db.particle_status[std::size_t(i)] = sph_status_failed;
    ASSERT_EQ(sph_db_build_coupling_regions(*m), 0);
    EXPECT_EQ(m->db.coupling_regions[0].coupling_region_particle_count, 512);

    // Direct adds: a listed particle is skipped before the capacity check.
    int count = 512;
    EXPECT_EQ(sph_db_add_coupling_particle(*m, 1, 0, count), 0);
    EXPECT_EQ(count, 512);
    m->db.particle_status[550] = sph_status_active;
    expect_error(*m, sph_db_add_coupling_particle(*m, 1, 550, count), 5,
                 "too many particles in coupling region");
    EXPECT_EQ(count, 512);
    sph_error_clear(m->error);
    count = 3;  // only the first 3 entries count as listed
    EXPECT_EQ(sph_db_add_coupling_particle(*m, 1, 5, count), 0);
    EXPECT_EQ(count, 4);
    EXPECT_EQ(m->db.coupling_regions[0].coupling_region_particles, (std::vector<int>{0, 1, 2, 5}));
    EXPECT_EQ(sph_db_add_coupling_particle(*m, 1, 599, count), 0);  // failed: not accepted
    EXPECT_EQ(sph_db_add_coupling_particle(*m, 2, 6, count), 0);    // no such region
    EXPECT_EQ(sph_db_add_coupling_particle(*m, 1, 600, count), 0);  // no such particle
    EXPECT_EQ(count, 4);
    EXPECT_EQ(m->error.last_error_code, 0);
}

TEST(DatabaseRecords, TamrixOptions) {
    auto m = make_model(0);
    ASSERT_EQ(sph_db_set_tamrix_options(*m, 1, "   hull", 0, 1, 0, 1), 0);
    EXPECT_EQ(m->db.tamrix.tamrix_region_name, "hull");
    EXPECT_EQ(m->db.tamrix.tamrix_worker_enabled, 1);
    EXPECT_EQ(m->db.tamrix.tamrix_export_radius, 0);
    EXPECT_EQ(m->db.tamrix.tamrix_accept_boundary_state, 1);

    expect_error(*m, sph_db_set_tamrix_options(*m, 0, "X", 0, 0, 0, 2), 5,
                 "invalid Tamrix option flag");
    expect_error(*m, sph_db_set_tamrix_options(*m, -1, "X", 0, 0, 0, 0), 5,
                 "invalid Tamrix option flag");
    EXPECT_EQ(m->db.tamrix.tamrix_region_name, "hull");
    EXPECT_EQ(m->db.tamrix.tamrix_worker_enabled, 1);

    ASSERT_EQ(sph_db_set_tamrix_options(*m, 0, "    ", 1, 1, 1, 0), 0);
    EXPECT_EQ(m->db.tamrix.tamrix_region_name, "ALL");
}

TEST(DatabaseLookups, IndexedFindMatchesLinearScanOnRandomIds) {
    std::mt19937 rng(12345);
    for (int round = 0; round < 20; ++round) {
        const int n = 1 + int(rng() % 300);
        auto m = make_model(n);
        // Few distinct ids so duplicates are common; the first match must win.
        std::uniform_int_distribution<int> id(-20, 60);
        for (int i = 0; i < n; ++i) ASSERT_EQ(sph_db_set_node(*m, i, id(rng), Vec3{}), 0);
        for (int q = -25; q <= 65; ++q) {
            ASSERT_EQ(sph_db_find_node(m->db, q), linear_find_node(m->db, q)) << q;
        }
        // Changes through set_node after the index exists are seen.
        for (int k = 0; k < 10; ++k) {
            ASSERT_EQ(sph_db_set_node(*m, int(rng() % unsigned(n)), id(rng), Vec3{}), 0);
            const int q = id(rng);
            ASSERT_EQ(sph_db_find_node(m->db, q), linear_find_node(m->db, q)) << q;
        }
        // Direct writes are seen after an invalidation.
        m->db.particle_id_ext[0] = 1000;
        sph_db_invalidate_lookups(m->db);
        EXPECT_EQ(sph_db_find_node(m->db, 1000), 0);

        const int ne = int(rng() % 200);
        for (int e = 0; e < ne; ++e) {
            ASSERT_EQ(sph_db_add_element(*m, id(rng), "C3D8", 0, nullptr), 0);
            const int q = id(rng);
            ASSERT_EQ(sph_db_find_element(m->db, q), linear_find_element(m->db, q)) << q;
        }
        for (int q = -25; q <= 65; ++q) {
            ASSERT_EQ(sph_db_find_element(m->db, q), linear_find_element(m->db, q)) << q;
        }
    }
}
