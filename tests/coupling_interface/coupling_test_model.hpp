#pragma once
// A small built model with water and shell particles and four coupling
// regions, for the coupling interface tests.

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "../input/deck_test_util.hpp"
#include "core/sph_model.hpp"
#include "interface/sph_api.hpp"

namespace coupling_test {

// Particles (0-based): 0, 1 water; 2, 3, 4 shell (director +z). Regions:
// 1 MIX   nodes 1, 3, 4, 5  export BOTH, contact states imported
// 2 WATER nodes 1, 2        export PARTICLE
// 3 SKIN  nodes 5, 3        export FACET, IMPORT=FACET_LOAD
// 4 OFF   nodes 1, 2        disabled
inline constexpr std::string_view deck = R"(*NODE
1, 0.0, 0.0, 0.5
2, 0.5, 0.0, 0.5
3, 0.0, 0.0, 0.0
4, 0.5, 0.0, 0.0
5, 1.0, 0.0, 0.0
*NSET, NSET=ALLW
1, 2
*NSET, NSET=SKINN
3, 4, 5
*NSET, NSET=MIXED
1, 3, 4, 5
*NSET, NSET=BACK
5, 3
*MATERIAL, NAME=Water, TYPE=WATER
*DENSITY
1000.0
*FLUID SECTION, NSET=ALLW, MATERIAL=Water
*MATERIAL, NAME=Skin, TYPE=SHELL
*DENSITY
2700
*ELASTIC
7e10, 0.33
*SHELL SECTION, NSET=SKINN, MATERIAL=Skin, THICKNESS=0.01
*VELUNOR SHELL DIRECTOR, SET=SKINN, NX=0, NY=0, NZ=1
*VELUNOR TIME CONTROL, DT=1e-6, TIME=1e-3, STEPS=10
*VELUNOR EOS, TYPE=TAIT, MATERIAL=Water, RHO0=1000, C0=1480, GAMMA=7
*VELUNOR VISCOSITY, TYPE=MONAGHAN, MATERIAL=Water, ALPHA=0.1, BETA=0.0, ETA2=0.01
*VELUNOR PARTICLE CONTROL, H=0.6, MASS=0.125, VOLUME=1.25e-4
*VELUNOR COUPLING REGION, NAME=Mix, NSET=MIXED, EXPORT=BOTH, CONTACT_STATE=IMPORT
*VELUNOR COUPLING REGION, NAME=Water, NSET=ALLW
*VELUNOR COUPLING REGION, NAME=Skin, NSET=BACK, EXPORT=FACET, IMPORT=FACET_LOAD
*VELUNOR COUPLING REGION, NAME=Off, NSET=ALLW, ENABLED=NO
)";

inline std::unique_ptr<Model> built_model() {
    auto m = std::make_unique<Model>();
    EXPECT_EQ(sph_initialize(*m), 0);
    deck_test::TempDeck file(deck);
    EXPECT_EQ(sph_read_inp(*m, file.path()), 0) << m->error.last_error_message;
    EXPECT_EQ(sph_build_model(*m), 0) << m->error.last_error_message;
    // Hand values: shell masses 2, 4, 8, areas 0.5, 0.25, 2.
    const double masses[3] = {2.0, 4.0, 8.0};
    const double areas[3] = {0.5, 0.25, 2.0};
    for (int k = 0; k < 3; ++k) {
        m->db.mass[static_cast<std::size_t>(2 + k)] = masses[k];
        m->shell.shell_reference_area[static_cast<std::size_t>(2 + k)] = areas[k];
    }
    return m;
}

inline void expect_error(const Model& m, int status, const std::string& message) {
    EXPECT_EQ(status, 1) << message;
    EXPECT_EQ(m.error.last_error_code, 1);
    EXPECT_EQ(m.error.last_error_message, message);
}

}  // namespace coupling_test
