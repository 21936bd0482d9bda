// *VELUNOR COUPLING REGION and *VELUNOR TAMRIX: word codes, defaults, the
// order of the checks and every message.

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "deck_test_util.hpp"

using deck_test::expect_read_error;
using deck_test::fresh_model;
using deck_test::read_text;

namespace {

// The water deck with a node set WET and an element set SKINE appended, then
// `keyword`; returns the deck and the keyword's line number.
std::string deck_with(const std::string& keyword, int* line = nullptr) {
    std::string text =
        std::string(deck_test::water_deck) +
        "*NSET, NSET=WET\n2, 1\n*ELEMENT, TYPE=S4\n7, 2, 1\n*ELSET, ELSET=SKINE\n7\n";
    if (line != nullptr) *line = static_cast<int>(std::count(text.begin(), text.end(), '\n')) + 1;
    return text + keyword + "\n";
}

void expect_keyword_error(const std::string& keyword, int code, const std::string& message) {
    int line = 0;
    const std::string text = deck_with(keyword, &line);
    expect_read_error(text, code, line, message);
}

const CouplingRegionRecord& only_region(const Model& m) {
    EXPECT_EQ(m.db.coupling_regions.size(), 1u);
    return m.db.coupling_regions.front();
}

}  // namespace

TEST(CouplingRegionKeyword, DefaultsAndWordCodes) {
    auto m = fresh_model();
    ASSERT_EQ(read_text(*m, deck_with("*VELUNOR COUPLING REGION, NAME=Skin, NSET=WET")), 0)
        << m->error.last_error_message;
    const CouplingRegionRecord& r = only_region(*m);
    EXPECT_EQ(r.coupling_region_name, "Skin");
    EXPECT_EQ(r.coupling_region_set_name, "WET");
    EXPECT_EQ(r.coupling_region_type, 1);
    EXPECT_EQ(r.coupling_region_export_mode, 1);
    EXPECT_EQ(r.coupling_region_import_mode, 1);
    EXPECT_EQ(r.coupling_region_load_mode, 1);
    EXPECT_EQ(r.coupling_region_distribution_mode, 1);
    EXPECT_EQ(r.coupling_region_contact_state_mode, 0);
    EXPECT_EQ(r.coupling_region_enabled, 1);
    EXPECT_EQ(r.coupling_region_phase_filter, 0);
    EXPECT_EQ(r.coupling_region_material_filter, 0);
    EXPECT_EQ(r.coupling_region_section_filter, 0);

    m = fresh_model();
    ASSERT_EQ(read_text(*m, deck_with("*VELUNOR COUPLING REGION, NAME=A, SET=, ELSET=SKINE, "
                                      "TYPE=contact, EXPORT=both, IMPORT=motion, "
                                      "LOAD_MODE=traction, DISTRIBUTION=mass, CONTACT_STATE=yes, "
                                      "PHASE=water, SURFACE=Top, MATERIAL=water")),
              0)
        << m->error.last_error_message;
    const CouplingRegionRecord& b = only_region(*m);
    EXPECT_EQ(b.coupling_region_set_name, "SKINE");  // the first non-blank of SET, NSET, ELSET
    EXPECT_EQ(b.coupling_region_export_mode, 3);
    EXPECT_EQ(b.coupling_region_import_mode, 3);
    EXPECT_EQ(b.coupling_region_load_mode, 4);
    EXPECT_EQ(b.coupling_region_distribution_mode, 3);
    EXPECT_EQ(b.coupling_region_contact_state_mode, 1);
    EXPECT_EQ(b.coupling_region_phase_filter, 1);
    EXPECT_EQ(b.coupling_region_surface_name, "Top");
    EXPECT_EQ(b.coupling_region_material_filter, 1);

    const struct {
        const char* options;
        int export_mode, import_mode, load_mode, distribution, contact, phase;
    } cases[] = {
        {"EXPORT=FACET, IMPORT=FORCE, LOAD_MODE=PRESSURE, DISTRIBUTION=AREA, CONTACT_STATE=ON", 2,
         1, 3, 2, 1, 0},
        {"EXPORT=PARTICLE, IMPORT=FACET_LOAD, LOAD_MODE=PARTICLE_FORCE, CONTACT_STATE=off, "
         "PHASE=SHELL_FAILED",
         1, 2, 1, 1, 0, 9},
        {"EXPORT=FACET, IMPORT=FACET_LOAD, CONTACT_STATE=import, PHASE=Coupling", 2, 2, 2, 1, 1, 7},
        {"LOAD_MODE=FACET_FORCE, EXPORT=BOTH, CONTACT_STATE=NO, PHASE=solid_failed", 3, 1, 2, 1, 0,
         8},
        {"CONTACT_STATE=NONE, PHASE=GAS, DISTRIBUTION=UNIFORM", 1, 1, 1, 1, 0, 2},
        {"PHASE=EXPLOSIVE", 1, 1, 1, 1, 0, 3},
        {"PHASE=SOLID", 1, 1, 1, 1, 0, 4},
        {"PHASE=SHELL", 1, 1, 1, 1, 0, 5},
        {"PHASE=BOUNDARY", 1, 1, 1, 1, 0, 6},
    };
    for (const auto& c : cases) {
        auto mc = fresh_model();
        ASSERT_EQ(read_text(*mc, deck_with(std::string("*VELUNOR COUPLING REGION, NAME=R, "
                                                       "NSET=WET, ") +
                                           c.options)),
                  0)
            << c.options << ": " << mc->error.last_error_message;
        const CouplingRegionRecord& r = only_region(*mc);
        EXPECT_EQ(r.coupling_region_export_mode, c.export_mode) << c.options;
        EXPECT_EQ(r.coupling_region_import_mode, c.import_mode) << c.options;
        EXPECT_EQ(r.coupling_region_load_mode, c.load_mode) << c.options;
        EXPECT_EQ(r.coupling_region_distribution_mode, c.distribution) << c.options;
        EXPECT_EQ(r.coupling_region_contact_state_mode, c.contact) << c.options;
        EXPECT_EQ(r.coupling_region_phase_filter, c.phase) << c.options;
    }
}

TEST(CouplingRegionKeyword, FacetLoadRuleAndDisabledRegions) {
    expect_keyword_error("*VELUNOR COUPLING REGION, NAME=SKIN, NSET=WET, IMPORT=FACET_LOAD", 4,
                         "facet coupling load requires facet export");
    auto m = fresh_model();
    ASSERT_EQ(read_text(*m, deck_with("*VELUNOR COUPLING REGION, NAME=SKIN, NSET=WET, "
                                      "IMPORT=FACET_LOAD, EXPORT=FACET")),
              0);
    EXPECT_EQ(only_region(*m).coupling_region_load_mode, 2);
    m = fresh_model();
    ASSERT_EQ(read_text(*m, deck_with("*VELUNOR COUPLING REGION, NAME=SKIN, NSET=WET, "
                                      "IMPORT=FACET_LOAD, ENABLED=NO")),
              0);
    EXPECT_EQ(only_region(*m).coupling_region_enabled, 0);
    EXPECT_EQ(only_region(*m).coupling_region_load_mode, 2);

    m = fresh_model();
    ASSERT_EQ(read_text(*m, deck_with("*VELUNOR COUPLING REGION, NAME=C, NSET=WET, "
                                      "TYPE=Continuum")),
              0);
    EXPECT_EQ(only_region(*m).coupling_region_type, 2);
    EXPECT_EQ(only_region(*m).coupling_region_enabled, 0);
    for (const char* option :
         {"SURFACE=S", "PHASE=WATER", "MATERIAL=Water", "SECTION=X", "EXPORT=BOTH", "IMPORT=FORCE",
          "LOAD_MODE=PRESSURE", "DISTRIBUTION=AREA", "CONTACT_STATE=NO", "ENABLED=YES",
          "ENABLED=", "SURFACE="}) {
        expect_keyword_error(
            std::string("*VELUNOR COUPLING REGION, NAME=C, NSET=WET, TYPE=CONTINUUM, ") + option, 4,
            "TYPE=CONTINUUM is reserved for a later version");
    }
    // A value that names the option elsewhere does not count as the option.
    m = fresh_model();
    EXPECT_EQ(read_text(*m, deck_with("*VELUNOR COUPLING REGION, NAME=PHASE, NSET=WET, "
                                      "TYPE=CONTINUUM")),
              0)
        << m->error.last_error_message;
}

TEST(CouplingRegionKeyword, EveryMessageInCheckOrder) {
    const std::string head = "*VELUNOR COUPLING REGION, ";
    const struct {
        const char* options;
        int code;
        const char* message;
    } cases[] = {
        {"NSET=WET", 4, "Coupling region is missing NAME option"},
        {"NAME= , NSET=WET", 4, "Coupling region is missing NAME option"},
        {"NAME=R", 4, "Coupling region is missing SET option"},
        {"NAME=R, SET=, NSET=, ELSET=", 4, "Coupling region is missing SET option"},
        {"NAME=R, NSET=WET, TYPE=SURFACE, EXPORT=X", 4, "invalid coupling region TYPE option"},
        {"NAME=R, NSET=WET, EXPORT=FACETS, IMPORT=X", 4, "invalid coupling region EXPORT option"},
        {"NAME=R, NSET=WET, IMPORT=LOAD, LOAD_MODE=X", 4, "invalid coupling region IMPORT option"},
        {"NAME=R, NSET=WET, LOAD_MODE=FORCE, DISTRIBUTION=X", 4,
         "invalid coupling region LOAD_MODE option"},
        {"NAME=R, NSET=WET, DISTRIBUTION=VOLUME, CONTACT_STATE=X", 4,
         "invalid coupling region DISTRIBUTION option"},
        {"NAME=R, NSET=WET, CONTACT_STATE=MAYBE, ENABLED=X", 4,
         "invalid coupling region CONTACT_STATE option"},
        {"NAME=R, NSET=WET, ENABLED=SOMETIMES, PHASE=X", 4,
         "invalid coupling region ENABLED option"},
        {"NAME=R, NSET=WET, PHASE=FLUID, TYPE=CONTINUUM", 4,
         "invalid coupling region PHASE option"},
        {"NAME=R, NSET=WET, TYPE=CONTINUUM, IMPORT=FACET_LOAD", 4,
         "TYPE=CONTINUUM is reserved for a later version"},
        {"NAME=R, NSET=WET, LOAD_MODE=PRESSURE, MATERIAL=Nothing", 4,
         "facet coupling load requires facet export"},
        {"NAME=R, NSET=DRY", 5, "coupling region references unknown set"},
        {"NAME=R, NSET=WET, MATERIAL=Steel", 5, "coupling region references unknown material"},
        {"NAME=R, NSET=WET, SECTION=Steel", 5, "coupling region references unknown section"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.options);
        expect_keyword_error(head + c.options, c.code, c.message);
    }
    // The word test is equality, not a prefix.
    expect_keyword_error(head + "NAME=R, NSET=WET, EXPORT=PART", 4,
                         "invalid coupling region EXPORT option");
    // A duplicate name is the database's refusal.
    int line = 0;
    const std::string text =
        deck_with(head + "NAME=R, NSET=WET\n" + head + "NAME=r, NSET=WET", &line);
    expect_read_error(text, 5, line + 1, "duplicate coupling region name");
}

TEST(CouplingRegionKeyword, BuildListsNodeSetBeforeElementSetAndEachNodeOnce) {
    // WET is both a node set (2, 1) and an element set (element 7: 1, 2, 1):
    // the node set is taken. SKINE lists its nodes in connectivity order, once.
    const std::string text = std::string(deck_test::water_deck) +
                             "*NSET, NSET=WET\n2, 1\n*ELEMENT, TYPE=S4\n7, 1, 2, 1\n8, 2, 2, 1\n"
                             "*ELSET, ELSET=WET\n7\n*ELSET, ELSET=SKINE\n8\n"
                             "*VELUNOR COUPLING REGION, NAME=A, ELSET=WET\n"
                             "*VELUNOR COUPLING REGION, NAME=B, ELSET=SKINE\n";
    auto m = fresh_model();
    ASSERT_EQ(read_text(*m, text), 0) << m->error.last_error_message;
    ASSERT_EQ(sph_input_build_model(*m), 0) << m->error.last_error_message;
    const auto& regions = m->db.coupling_regions;
    ASSERT_EQ(regions.size(), 2u);
    EXPECT_EQ(regions[0].coupling_region_particles, (std::vector<int>{1, 0}));
    EXPECT_EQ(regions[1].coupling_region_particles, (std::vector<int>{1, 0}));
    EXPECT_EQ(regions[1].coupling_region_particle_count, 2);
}

TEST(TamrixKeyword, DefaultsValuesAndMessages) {
    auto m = fresh_model();
    m->db.tamrix.tamrix_worker_enabled = 0;
    ASSERT_EQ(read_text(*m, deck_with("*VELUNOR TAMRIX")), 0);
    const TamrixOptions& t = m->db.tamrix;
    EXPECT_EQ(t.tamrix_worker_enabled, 1);
    EXPECT_EQ(t.tamrix_region_name, "ALL");
    EXPECT_EQ(t.tamrix_export_radius, 1);
    EXPECT_EQ(t.tamrix_export_sound_speed, 1);
    EXPECT_EQ(t.tamrix_accept_contact_state, 1);
    EXPECT_EQ(t.tamrix_accept_boundary_state, 0);

    m = fresh_model();
    ASSERT_EQ(read_text(*m, deck_with("*VELUNOR TAMRIX, WORKER=off, REGION=Skin, "
                                      "EXPORT_RADIUS=0, EXPORT_SOUND_SPEED=no, "
                                      "ACCEPT_CONTACT_STATE=FALSE, ACCEPT_BOUNDARY_STATE=yes")),
              0);
    EXPECT_EQ(m->db.tamrix.tamrix_worker_enabled, 0);
    EXPECT_EQ(m->db.tamrix.tamrix_region_name, "Skin");
    EXPECT_EQ(m->db.tamrix.tamrix_export_radius, 0);
    EXPECT_EQ(m->db.tamrix.tamrix_export_sound_speed, 0);
    EXPECT_EQ(m->db.tamrix.tamrix_accept_contact_state, 0);
    EXPECT_EQ(m->db.tamrix.tamrix_accept_boundary_state, 1);

    // Table order: the first unreadable logical is reported.
    const struct {
        const char* options;
        const char* message;
    } cases[] = {
        {"WORKER=2, EXPORT_RADIUS=x", "invalid Tamrix WORKER option"},
        {"EXPORT_RADIUS=x, EXPORT_SOUND_SPEED=x", "invalid Tamrix EXPORT_RADIUS option"},
        {"EXPORT_SOUND_SPEED=x, ACCEPT_CONTACT_STATE=x",
         "invalid Tamrix EXPORT_SOUND_SPEED option"},
        {"ACCEPT_CONTACT_STATE=x, ACCEPT_BOUNDARY_STATE=x",
         "invalid Tamrix ACCEPT_CONTACT_STATE option"},
        {"ACCEPT_BOUNDARY_STATE=maybe", "invalid Tamrix ACCEPT_BOUNDARY_STATE option"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.options);
        expect_keyword_error(std::string("*VELUNOR TAMRIX, ") + c.options, 4, c.message);
    }
}
