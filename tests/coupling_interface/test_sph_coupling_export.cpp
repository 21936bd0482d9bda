// Regions and the two exports, against blocks built here from the model.

#include <cmath>
#include <limits>
#include <vector>

#include "coupling_interface/sph_coupling_interface.hpp"
#include "coupling_test_model.hpp"

using coupling_test::built_model;
using coupling_test::expect_error;

namespace {

struct ParticleBuffers {
    explicit ParticleBuffers(int c, int fill = -7)
        : ints(6, std::vector<int>(static_cast<std::size_t>(c) + 1, fill)),
          scalars(7 * static_cast<std::size_t>(c) + 1, fill),
          vectors(9 * static_cast<std::size_t>(c) + 1, fill) {}
    CouplingParticleExport out() {
        return {ints[0].data(), ints[1].data(), ints[2].data(), ints[3].data(),
                ints[4].data(), ints[5].data(), scalars.data(), vectors.data()};
    }
    std::vector<std::vector<int>> ints;
    std::vector<double> scalars, vectors;
};

struct FacetBuffers {
    explicit FacetBuffers(int c, int fill = -7)
        : ints(4, std::vector<int>(static_cast<std::size_t>(c) + 1, fill)),
          vectors(9 * static_cast<std::size_t>(c) + 1, fill),
          areas(static_cast<std::size_t>(c) + 1, fill) {}
    CouplingFacetExport out() {
        return {ints[0].data(), ints[1].data(), ints[2].data(),
                ints[3].data(), vectors.data(), areas.data()};
    }
    std::vector<std::vector<int>> ints;
    std::vector<double> vectors, areas;
};

}  // namespace

TEST(CouplingRegions, InfoModesAndCounts) {
    auto m = built_model();
    EXPECT_EQ(sph_coupling_get_region_count(*m), 4);
    CouplingRegionInfo info;
    ASSERT_EQ(sph_coupling_get_region_info(*m, 1, info), 0);
    EXPECT_EQ(info.name, "Mix");
    EXPECT_EQ(info.region_type, 1);
    EXPECT_EQ(info.export_mode, 3);
    EXPECT_EQ(info.import_mode, 1);
    EXPECT_EQ(info.enabled, 1);
    EXPECT_EQ(info.particle_count, 4);
    EXPECT_EQ(info.facet_count, 3);
    ASSERT_EQ(sph_coupling_get_region_info(*m, 2, info), 0);
    EXPECT_EQ(info.particle_count, 2);
    EXPECT_EQ(info.facet_count, 0);  // particles only
    ASSERT_EQ(sph_coupling_get_region_info(*m, 3, info), 0);
    EXPECT_EQ(info.particle_count, 0);  // facets only
    EXPECT_EQ(info.facet_count, 2);
    ASSERT_EQ(sph_coupling_get_region_info(*m, 4, info), 0);
    EXPECT_EQ(info.name, "Off");
    EXPECT_EQ(info.enabled, 0);
    EXPECT_EQ(info.export_mode, 1);
    EXPECT_EQ(info.particle_count, 0);
    EXPECT_EQ(info.facet_count, 0);
    // A region of export mode 3 without any Shell particle reports 0 facets.
    m->db.coupling_regions[1].coupling_region_export_mode = 3;
    ASSERT_EQ(sph_coupling_get_region_info(*m, 2, info), 0);
    EXPECT_EQ(info.facet_count, 0);
    for (int bad : {0, 5, -1}) {
        expect_error(*m, sph_coupling_get_region_info(*m, bad, info),
                     "coupling region index is invalid");
        EXPECT_EQ(info.name, "");
        EXPECT_EQ(info.export_mode, 0);
    }

    int load = -1, distribution = -1, contact = -1;
    ASSERT_EQ(sph_coupling_get_region_modes(*m, 3, load, distribution, contact), 0);
    EXPECT_EQ(load, 2);
    EXPECT_EQ(distribution, 1);
    EXPECT_EQ(contact, 0);
    ASSERT_EQ(sph_coupling_get_region_modes(*m, 1, load, distribution, contact), 0);
    EXPECT_EQ(contact, 1);
    expect_error(*m, sph_coupling_get_region_modes(*m, 9, load, distribution, contact),
                 "coupling region index is invalid");
    EXPECT_EQ(load + distribution + contact, 0);

    int region = -1;
    ASSERT_EQ(sph_coupling_find_region(*m, "skin  ", region), 0);
    EXPECT_EQ(region, 3);
    expect_error(*m, sph_coupling_find_region(*m, " skin", region),
                 "coupling region name is invalid");
    EXPECT_EQ(region, 0);
}

TEST(CouplingParticleExport, BlocksInListOrderAndCapacityRules) {
    auto m = built_model();
    DbState& db = m->db;
    db.v[2] = {1.0, 2.0, 3.0};
    db.a[3] = {-4.0, 5.0, -6.0};
    db.temperature[0] = 293.0;
    ParticleBuffers b(5);
    int count = -1;
    ASSERT_EQ(sph_coupling_export_particles(*m, 1, 5, count, b.out()), 0);
    ASSERT_EQ(count, 4);
    const int listed[4] = {0, 2, 3, 4};
    for (int k = 0; k < 4; ++k) {
        const std::size_t p = static_cast<std::size_t>(listed[k]);
        const std::size_t e = static_cast<std::size_t>(k);
        EXPECT_EQ(b.ints[0][e], db.particle_id_ext[p]);
        EXPECT_EQ(b.ints[1][e], listed[k] + 1);
        EXPECT_EQ(b.ints[2][e], db.particle_phase[p]);
        EXPECT_EQ(b.ints[3][e], db.particle_status[p]);
        EXPECT_EQ(b.ints[4][e], db.material_id[p]);
        EXPECT_EQ(b.ints[5][e], db.section_id[p]);
        const double scalars[7] = {db.mass[p],     db.volume[p],          db.rho[p],
                                   db.pressure[p], db.internal_energy[p], db.temperature[p],
                                   db.h[p]};
        for (int s = 0; s < 7; ++s) EXPECT_EQ(b.scalars[e * 7 + s], scalars[s]);
        const Vec3 vectors[3] = {db.x[p], db.v[p], db.a[p]};
        for (int j = 0; j < 3; ++j) {
            for (int c = 0; c < 3; ++c) EXPECT_EQ(b.vectors[e * 9 + j * 3 + c], vectors[j][c]);
        }
    }
    // The fifth entry was zeroed, nothing beyond the capacity touched.
    EXPECT_EQ(b.ints[0][4], 0);
    EXPECT_EQ(b.scalars[34], 0.0);
    EXPECT_EQ(b.scalars[35], -7.0);
    EXPECT_EQ(b.vectors[45], -7.0);
    EXPECT_EQ(db.particle_phase[2], sph_phase_shell);
    EXPECT_EQ(b.ints[2][1], 5);

    // Too small: the needed count, every entry up to the capacity zeroed.
    ParticleBuffers small(2);
    expect_error(*m, sph_coupling_export_particles(*m, 1, 2, count, small.out()),
                 "coupling particle export capacity is too small");
    EXPECT_EQ(count, 4);
    EXPECT_EQ(small.ints[0][1], 0);
    EXPECT_EQ(small.ints[0][2], -7);
    ParticleBuffers none(0);
    expect_error(*m, sph_coupling_export_particles(*m, 1, 0, count, none.out()),
                 "coupling particle export capacity is too small");
    EXPECT_EQ(count, 4);
    EXPECT_EQ(none.ints[0][0], -7);
    EXPECT_EQ(none.scalars[0], -7.0);

    // Facets-only and disabled regions export nothing and succeed.
    for (int region : {3, 4}) {
        ParticleBuffers r(2);
        count = -1;
        ASSERT_EQ(sph_coupling_export_particles(*m, region, 2, count, r.out()), 0);
        EXPECT_EQ(count, 0);
        EXPECT_EQ(r.ints[0][0], 0);
    }
    expect_error(*m, sph_coupling_export_particles(*m, 7, 2, count, b.out()),
                 "coupling region index is invalid");
    EXPECT_EQ(b.ints[0][0], 0);
    expect_error(*m, sph_coupling_export_region_particles(*m, "Mix", -1, count, b.out()),
                 "coupling export capacity is negative");
    expect_error(*m, sph_coupling_export_region_particles(*m, "Nope", 5, count, b.out()),
                 "coupling region name is invalid");

    // A non-finite state stops the export after the entries before it; the
    // largest double counts as not finite.
    for (double bad : {std::nan(""), std::numeric_limits<double>::max()}) {
        db.pressure[3] = bad;
        ParticleBuffers f(4);
        expect_error(*m, sph_coupling_export_particles(*m, 1, 4, count, f.out()),
                     "coupling particle export state is not finite");
        EXPECT_EQ(count, 4);
        EXPECT_EQ(f.ints[1][1], 3);
        EXPECT_EQ(f.ints[1][2], 0);
    }
    db.pressure[3] = 0.0;
    // Inactive and failed particles are exported with their codes.
    db.particle_status[0] = sph_status_inactive;
    db.particle_phase[2] = sph_phase_shell_failed;
    ASSERT_EQ(sph_coupling_export_particles(*m, 1, 5, count, b.out()), 0);
    EXPECT_EQ(b.ints[3][0], 1);
    EXPECT_EQ(b.ints[2][1], 9);
}

TEST(CouplingFacetExport, ShellParticlesOnlyWithChecks) {
    auto m = built_model();
    DbState& db = m->db;
    m->shell.shell_director[4] = {0.0, 0.6, 0.8};
    db.v[4] = {7.0, 8.0, 9.0};
    FacetBuffers b(4);
    int count = -1;
    ASSERT_EQ(sph_coupling_export_facets(*m, 1, 4, count, b.out()), 0);
    ASSERT_EQ(count, 3);  // the water particle of the list is left out
    const int shells[3] = {2, 3, 4};
    for (int k = 0; k < 3; ++k) {
        const std::size_t p = static_cast<std::size_t>(shells[k]);
        const std::size_t e = static_cast<std::size_t>(k);
        EXPECT_EQ(b.ints[0][e], shells[k] + 1);
        EXPECT_EQ(b.ints[1][e], db.particle_id_ext[p]);
        EXPECT_EQ(b.ints[2][e], db.material_id[p]);
        EXPECT_EQ(b.ints[3][e], db.section_id[p]);
        const Vec3 vectors[3] = {db.x[p], db.v[p], m->shell.shell_director[p]};
        for (int j = 0; j < 3; ++j) {
            for (int c = 0; c < 3; ++c) EXPECT_EQ(b.vectors[e * 9 + j * 3 + c], vectors[j][c]);
        }
        EXPECT_EQ(b.areas[e], m->shell.shell_reference_area[p]);
    }
    EXPECT_EQ(b.areas[3], 0.0);
    EXPECT_EQ(b.areas[4], -7.0);
    // Region 3 lists node 5 before node 3.
    ASSERT_EQ(sph_coupling_export_facets(*m, 3, 4, count, b.out()), 0);
    EXPECT_EQ(count, 2);
    EXPECT_EQ(b.ints[0][0], 5);
    EXPECT_EQ(b.ints[0][1], 3);

    FacetBuffers small(1);
    expect_error(*m, sph_coupling_export_facets(*m, 1, 1, count, small.out()),
                 "coupling facet export capacity is too small");
    EXPECT_EQ(count, 3);
    EXPECT_EQ(small.ints[0][1], -7);
    for (int region : {2, 4}) {  // particles only, disabled
        ASSERT_EQ(sph_coupling_export_facets(*m, region, 4, count, b.out()), 0);
        EXPECT_EQ(count, 0);
    }
    m->db.coupling_regions[1].coupling_region_export_mode = 3;
    expect_error(*m, sph_coupling_export_facets(*m, 2, 4, count, b.out()),
                 "coupling region has no Shell facet proxy");
    expect_error(*m, sph_coupling_export_region_facets(*m, "Mix", -2, count, b.out()),
                 "coupling facet export capacity is negative");
    expect_error(*m, sph_coupling_export_facets(*m, 0, 4, count, b.out()),
                 "coupling region index is invalid");

    // The facet checks stop the walk at the bad facet.
    m->shell.shell_director[3] = {std::nan(""), 0.0, 1.0};
    expect_error(*m, sph_coupling_export_facets(*m, 1, 4, count, b.out()),
                 "Shell facet normal is not finite");
    EXPECT_EQ(m->coupling.coupling_nonfinite_import_count, 1);
    EXPECT_EQ(b.ints[0][0], 3);
    EXPECT_EQ(b.ints[0][1], 0);
    m->shell.shell_director[3] = {0.0, 0.0, 1.0};
    for (double area : {0.0, -1.0, std::numeric_limits<double>::max()}) {
        m->shell.shell_reference_area[3] = area;
        expect_error(*m, sph_coupling_export_facets(*m, 1, 4, count, b.out()),
                     "Shell facet area is invalid");
    }
    EXPECT_EQ(m->coupling.coupling_bad_facet_area_count, 3);
    EXPECT_EQ(m->coupling.coupling_invalid_weight_count, 3);
    m->shell.shell_reference_area.clear();
    expect_error(*m, sph_coupling_export_facets(*m, 1, 4, count, b.out()),
                 "Shell facet proxy state is unavailable");
}

TEST(CouplingChecks, FiniteTestsSkipRuleAndFacetRequirement) {
    EXPECT_TRUE(sph_coupling_scalar_is_finite(std::nextafter(DBL_MAX, 0.0)));
    EXPECT_FALSE(sph_coupling_scalar_is_finite(DBL_MAX));
    EXPECT_FALSE(sph_coupling_scalar_is_finite(-DBL_MAX));
    EXPECT_FALSE(sph_coupling_scalar_is_finite(std::nan("")));
    EXPECT_FALSE(sph_coupling_vector_is_finite({0.0, 0.0, -INFINITY}));
    auto m = built_model();
    DbState& db = m->db;
    EXPECT_FALSE(sph_coupling_particle_should_skip(db, 0));
    EXPECT_TRUE(sph_coupling_particle_should_skip(db, -1));
    EXPECT_TRUE(sph_coupling_particle_should_skip(db, 5));
    db.particle_status[1] = sph_status_failed;
    EXPECT_TRUE(sph_coupling_particle_should_skip(db, 1));
    db.particle_phase[2] = sph_phase_solid_failed;
    EXPECT_TRUE(sph_coupling_particle_should_skip(db, 2));
    db.particle_phase[2] = sph_phase_shell;

    expect_error(*m, sph_coupling_require_facet(*m, 2, 1),
                 "coupling region does not export facet proxies");
    expect_error(*m, sph_coupling_require_facet(*m, 3, 4), "coupling facet id is invalid");
    expect_error(*m, sph_coupling_require_facet(*m, 3, 0), "coupling facet id is invalid");
    expect_error(*m, sph_coupling_require_facet(*m, 1, 1),
                 "coupling facet proxy requires Shell particles");
    expect_error(*m, sph_coupling_check_shell_facet(*m, 6), "coupling facet particle is invalid");
    EXPECT_EQ(sph_coupling_require_facet(*m, 3, 5), 0);
    expect_error(*m, sph_coupling_require_enabled_region(*m, 4), "coupling region is disabled");
    expect_error(*m, sph_coupling_require_enabled_region(*m, 5),
                 "coupling region index is invalid");
}
