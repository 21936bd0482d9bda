// *VELUNOR OUTPUT and the fluid keywords (EOS, VISCOSITY, PARTICLE CONTROL,
// BODY FORCE).

#include <gtest/gtest.h>

#include <string>

#include "core/sph_model.hpp"
#include "deck_test_util.hpp"

using deck_test::fresh_model;
using deck_test::read_text;

namespace {

// Reads a one-node deck whose third line is `keyword_line` into `m`.
int read_line(Model& m, std::string_view keyword_line, std::string* prefix = nullptr) {
    std::string path;
    int status = read_text(m, "*NODE\n1, 0, 0, 0\n" + std::string(keyword_line) + "\n", &path);
    if (prefix != nullptr) *prefix = path + ":3: ";
    return status;
}

void expect_line_error(std::string_view keyword_line, int code, std::string_view message) {
    auto m = fresh_model();
    std::string prefix;
    EXPECT_EQ(read_line(*m, keyword_line, &prefix), code) << keyword_line;
    EXPECT_EQ(m->error.last_error_message, prefix + std::string(message)) << keyword_line;
    EXPECT_EQ(m->error.last_error_code, code);
}

}  // namespace

TEST(InputOutputControl, DirectoryAndInterval) {
    auto m = fresh_model();
    ASSERT_EQ(read_line(*m, "*VELUNOR OUTPUT, DIR=results, INTERVAL=50"), 0);
    EXPECT_EQ(m->control.output_directory, "results");
    EXPECT_TRUE(m->control.output_enabled);
    EXPECT_EQ(m->control.output_interval, 50);

    m = fresh_model();
    ASSERT_EQ(read_line(*m, "*VELUNOR OUTPUT, DIR=b, DIRECTORY=Run A"), 0);
    EXPECT_EQ(m->control.output_directory, "Run A");  // DIRECTORY wins, case kept
    EXPECT_EQ(m->control.output_interval, 1);

    m = fresh_model();
    ASSERT_EQ(read_line(*m, "*VELUNOR OUTPUT, DIRECTORY=, INTERVAL="), 0);
    EXPECT_FALSE(m->control.output_enabled);

    expect_line_error("*VELUNOR OUTPUT, INTERVAL=often", 4, "invalid numeric option INTERVAL");
    expect_line_error("*VELUNOR OUTPUT, INTERVAL=2.5", 4, "invalid numeric option INTERVAL");
    expect_line_error("*VELUNOR OUTPUT, INTERVAL=0", 1, "output interval must be positive");
}

TEST(InputEos, TaitLinesGoToTheWaterModule) {
    auto m = fresh_model();
    ASSERT_EQ(read_line(*m,
                        "*VELUNOR EOS, TYPE=tait, MATERIAL=W, RHO0=998, C0=1500, GAMMA=7.15,"
                        " P0=1e5, B=3e8"),
              0)
        << m->error.last_error_message;
    const WaterState& w = m->water;
    EXPECT_TRUE(w.water_eos_defined);
    EXPECT_EQ(w.water_rho0, 998.0);
    EXPECT_EQ(w.water_c0, 1500.0);
    EXPECT_EQ(w.water_gamma, 7.15);
    EXPECT_EQ(w.water_p0, 1e5);
    EXPECT_EQ(w.water_b, 3e8);

    const std::string tait = "*VELUNOR EOS, TYPE=TAIT, MATERIAL=W";
    expect_line_error(tait + ", C0=1, GAMMA=7", 4, "missing required option RHO0");
    expect_line_error(tait + ", RHO0=1, C0=fast, GAMMA=7", 4, "invalid numeric option C0");
    expect_line_error(tait + ", RHO0=1, C0=1", 4, "missing required option GAMMA");
    expect_line_error(tait + ", RHO0=1, C0=1, GAMMA=7, P0=x", 4, "invalid numeric option P0");
    expect_line_error(tait + ", RHO0=1, C0=1, GAMMA=7, B=stiff", 4, "invalid VELUNOR EOS B");
    // The water module's own checks are prefixed and keep their code.
    expect_line_error(tait + ", RHO0=-1, C0=1, GAMMA=7", 1,
                      "Water Tait EOS parameters must be positive");
}

TEST(InputEos, GasLinesReadTheirOptions) {
    auto m = fresh_model();
    ASSERT_EQ(read_text(*m,
                        "*NODE\n1, 0, 0, 0\n"
                        "*MATERIAL, NAME=Air, TYPE=GAS\n*DENSITY\n1.2\n"
                        "*MATERIAL, NAME=Products, TYPE=GAS\n"
                        "*MATERIAL, NAME=Stiff, TYPE=GAS\n"
                        "*VELUNOR EOS, TYPE=IDEAL_GAS, MATERIAL=Air, GAMMA=1.4, E0=2.5e5\n"
                        "*VELUNOR EOS, TYPE=JWL, MATERIAL=Products, RHO0=1630, A=3.7e11, "
                        "B=3.2e9, R1=4.15, R2=0.95, OMEGA=0.3, E0=4.3e6, GAMMA=9\n"
                        "*VELUNOR EOS, TYPE=Stiffened_Gas, MATERIAL=Stiff, RHO0=1, GAMMA=4.4, "
                        "E0=1, PINF=6e8\n"),
              0)
        << m->error.last_error_message;
    EXPECT_FALSE(m->water.water_eos_defined);
    ASSERT_EQ(m->gas.rows.size(), 3u);
    const GasMaterialRow& air = m->gas.rows[0];
    EXPECT_EQ(air.gas_material_eos_type, gas_eos_ideal);
    EXPECT_EQ(air.gas_material_gamma, 1.4);
    EXPECT_EQ(air.gas_material_energy_default, 2.5e5);
    EXPECT_EQ(air.gas_material_rho0, 1.2);  // the ideal gas takes its *DENSITY
    const GasMaterialRow& products = m->gas.rows[1];
    EXPECT_EQ(products.gas_material_eos_type, gas_eos_jwl);
    EXPECT_EQ(products.gas_material_jwl_a, 3.7e11);
    EXPECT_EQ(products.gas_material_jwl_r2, 0.95);
    EXPECT_EQ(products.gas_material_jwl_omega, 0.3);
    EXPECT_EQ(products.gas_material_gamma, 1.4);  // GAMMA is not a JWL option
    const GasMaterialRow& stiff = m->gas.rows[2];
    EXPECT_EQ(stiff.gas_material_eos_type, gas_eos_stiffened);
    EXPECT_EQ(stiff.gas_material_pinf, 6e8);
    EXPECT_EQ(m->gas.gas_eos_type, gas_eos_stiffened);  // the latest definition

    expect_line_error("*VELUNOR EOS, TYPE=JWL, RHO0=1, A=1, B=1, R1=1, R2=1, E0=1", 4,
                      "missing required option OMEGA");
    expect_line_error("*VELUNOR EOS, E0=1", 4, "missing required option GAMMA");
    expect_line_error("*VELUNOR EOS, GAMMA=1.4", 4, "missing required option E0");
    expect_line_error("*VELUNOR EOS, TYPE=STIFFENED_GAS, RHO0=1, GAMMA=4.4, E0=1, PINF=big", 4,
                      "invalid numeric option PINF");
    // The options read, the gas module checks them (its messages prefixed).
    expect_line_error("*VELUNOR EOS, GAMMA=1.4, E0=1", 4, "Gas EOS TYPE is required");
    expect_line_error("*VELUNOR EOS, TYPE=IDEAL_GAS, GAMMA=1.4, E0=1", 4,
                      "Gas EOS MATERIAL is required");
    expect_line_error("*VELUNOR EOS, TYPE=VAN_DER_WAALS, MATERIAL=G", 4,
                      "Gas EOS TYPE is not supported");
    expect_line_error("*VELUNOR EOS, TYPE=IDEAL_GAS, MATERIAL=G, GAMMA=1, E0=1", 1,
                      "Ideal gas gamma must be greater than one");
    expect_line_error("*VELUNOR EOS, TYPE=IDEAL_GAS, MATERIAL=G, GAMMA=1.4, E0=1", 4,
                      "Gas EOS references unknown material");
}

TEST(InputWaterKeywords, ViscosityParticleControlBodyForce) {
    auto m = fresh_model();
    ASSERT_EQ(read_line(*m,
                        "*VELUNOR VISCOSITY, TYPE=Monaghan, MATERIAL=W, ALPHA=0.2, BETA=0.1,"
                        " ETA2=0.02"),
              0)
        << m->error.last_error_message;
    EXPECT_EQ(m->water.water_visc_alpha, 0.2);
    EXPECT_EQ(m->water.water_visc_beta, 0.1);
    EXPECT_EQ(m->water.water_visc_eta2, 0.02);
    expect_line_error("*VELUNOR VISCOSITY, TYPE=MONAGHAN, MATERIAL=W, ALPHA=0.2, BETA=0.1", 4,
                      "missing required option ETA2");

    m = fresh_model();
    ASSERT_EQ(read_line(*m, "*VELUNOR PARTICLE CONTROL, H=0.02, MASS=1e-3, VOLUME=1e-6"), 0);
    EXPECT_EQ(m->water.water_default_h, 0.02);
    EXPECT_EQ(m->water.water_default_mass, 1e-3);
    EXPECT_EQ(m->water.water_default_volume, 1e-6);
    expect_line_error("*VELUNOR PARTICLE CONTROL, H=0.02, MASS=1e-3, VOLUME=", 4,
                      "missing required option VOLUME");

    m = fresh_model();
    ASSERT_EQ(read_line(*m, "*VELUNOR BODY FORCE, Z=-9.81"), 0);
    EXPECT_EQ(m->water.water_body_force.x, 0.0);
    EXPECT_EQ(m->water.water_body_force.y, 0.0);
    EXPECT_EQ(m->water.water_body_force.z, -9.81);
    expect_line_error("*VELUNOR BODY FORCE, X=1, Y=down", 4, "invalid numeric option Y");
}

TEST(InputWaterKeywords, DensityDiffusionReachesWaterAndGas) {
    const std::string line =
        "*VELUNOR VISCOSITY, TYPE=MONAGHAN, MATERIAL=W, ALPHA=0.2, BETA=0.1, ETA2=0.02";
    auto m = fresh_model();
    ASSERT_EQ(read_line(*m, line), 0) << m->error.last_error_message;
    EXPECT_EQ(m->water.water_density_diffusion, 0.0);  // absent: off
    EXPECT_EQ(m->gas.gas_density_diffusion, 0.0);

    m = fresh_model();
    ASSERT_EQ(read_line(*m, line + ", density_diffusion= 0.1 "), 0) << m->error.last_error_message;
    EXPECT_EQ(m->water.water_density_diffusion, 0.1);
    EXPECT_EQ(m->gas.gas_density_diffusion, 0.1);
    EXPECT_EQ(m->water.water_visc_alpha, 0.2);

    // Each viscosity line sets it anew: a later line without it turns it off.
    m = fresh_model();
    ASSERT_EQ(
        read_text(*m, "*NODE\n1, 0, 0, 0\n" + line + ", DENSITY_DIFFUSION=0.1\n" + line + "\n"), 0);
    EXPECT_EQ(m->water.water_density_diffusion, 0.0);
    EXPECT_EQ(m->gas.gas_density_diffusion, 0.0);

    m = fresh_model();
    ASSERT_EQ(read_line(*m, line + ", DENSITY_DIFFUSION=0"), 0);
    EXPECT_EQ(m->water.water_density_diffusion, 0.0);

    for (const char* value : {"strong", "-0.1", "1e400", "nan", "0.1x"}) {
        SCOPED_TRACE(value);
        auto bad = fresh_model();
        std::string prefix;
        EXPECT_EQ(read_line(*bad, line + ", DENSITY_DIFFUSION=" + value, &prefix), 4);
        EXPECT_EQ(bad->error.last_error_message,
                  prefix + "invalid VELUNOR VISCOSITY DENSITY_DIFFUSION");
        // Checked before anything is stored.
        EXPECT_FALSE(bad->water.water_viscosity_defined);
        EXPECT_EQ(bad->water.water_visc_alpha, 0.1);
        EXPECT_EQ(bad->water.water_density_diffusion, 0.0);
        EXPECT_EQ(bad->gas.gas_density_diffusion, 0.0);
    }
    // The viscosity's own checks come first, in the reader's option order.
    expect_line_error(
        "*VELUNOR VISCOSITY, TYPE=MONAGHAN, MATERIAL=W, ALPHA=0.2, ETA2=0.01, "
        "DENSITY_DIFFUSION=-1",
        4, "missing required option BETA");
    expect_line_error(
        "*VELUNOR VISCOSITY, TYPE=MONAGHAN, MATERIAL=W, ALPHA=-1, BETA=0, ETA2=0.01, "
        "DENSITY_DIFFUSION=0.1",
        1, "Water viscosity parameters are invalid");
}
