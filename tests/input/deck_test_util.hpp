#pragma once
// Small decks written by the tests to temporary files.

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <string_view>

#include "core/sph_model.hpp"

namespace deck_test {

inline std::filesystem::path temp_dir() {
    auto dir = std::filesystem::temp_directory_path() /
               ("velunor_deck_tests_" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    return dir;
}

// A deck file that is removed when the object goes away; its name carries
// the running test's name so that tests never share a file.
class TempDeck {
  public:
    explicit TempDeck(std::string_view text, std::string_view suffix = ".inp") {
        static int counter = 0;
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        std::string name = info != nullptr
                               ? std::string(info->test_suite_name()) + "_" + info->name()
                               : std::string("deck");
        path_ = temp_dir() / (name + "_" + std::to_string(++counter) + std::string(suffix));
        std::ofstream out(path_, std::ios::binary);
        out.write(text.data(), static_cast<std::streamsize>(text.size()));
    }
    ~TempDeck() {
        std::error_code ec;
        std::filesystem::remove(path_, ec);
    }
    TempDeck(const TempDeck&) = delete;
    TempDeck& operator=(const TempDeck&) = delete;
    std::string path() const { return path_.string(); }

  private:
    std::filesystem::path path_;
};

inline std::unique_ptr<Model> fresh_model() {
    auto m = std::make_unique<Model>();
    sph_water_initialize(m->water);
    return m;
}

// The read status, with the model left for inspection.
inline int read_text(Model& m, std::string_view text, std::string* path_out = nullptr) {
    TempDeck deck(text);
    if (path_out != nullptr) *path_out = deck.path();
    return sph_input_read(m, deck.path());
}

// The model of deck `text`, read and built; a failure shows as a test failure
// with the library's message.
inline std::unique_ptr<Model> built_text(const std::string& text) {
    auto m = fresh_model();
    TempDeck deck(text);
    EXPECT_EQ(sph_input_read(*m, deck.path()), 0) << m->error.last_error_message;
    EXPECT_EQ(sph_input_build_model(*m), 0) << m->error.last_error_message;
    return m;
}

// Reads `text`; expects `code` and "path:line: message" (no prefix when line is 0).
inline void expect_read_error(std::string_view text, int code, int line, std::string_view message) {
    auto m = fresh_model();
    std::string path;
    EXPECT_EQ(read_text(*m, text, &path), code) << text;
    std::string expected = line > 0
                               ? path + ":" + std::to_string(line) + ": " + std::string(message)
                               : std::string(message);
    EXPECT_EQ(m->error.last_error_message, expected) << text;
    EXPECT_EQ(m->error.last_error_code, code) << text;
}

// A complete water deck: two nodes in a node set, one water material, a
// section, time control, equation of state and particle control.
inline constexpr std::string_view water_deck = R"(*HEADING
two water particles
*NODE
1, 0.0, 0.0, 0.0
2, 0.5, 0.0, 0.0
*NSET, NSET=ALLN
1, 2
*MATERIAL, NAME=Water, TYPE=WATER
*DENSITY
1000.0
*FLUID SECTION, NSET=ALLN, MATERIAL=Water
*VELUNOR TIME CONTROL, DT=1e-6, TIME=1e-3, STEPS=10
*VELUNOR EOS, TYPE=TAIT, MATERIAL=Water, RHO0=1000, C0=1480, GAMMA=7
*VELUNOR VISCOSITY, TYPE=MONAGHAN, MATERIAL=Water, ALPHA=0.1, BETA=0.0, ETA2=0.01
*VELUNOR PARTICLE CONTROL, H=0.6, MASS=0.125, VOLUME=1.25e-4
)";

}  // namespace deck_test
