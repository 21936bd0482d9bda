// libFuzzer harness for the deck reader and the model build.
//   fuzz/build.sh && build-fuzz/fuzz_deck fuzz/corpus/deck -max_total_time=60

#include <unistd.h>

#include <filesystem>

#include "deck_fuzz_one.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const std::string path = (std::filesystem::temp_directory_path() /
                                     ("velunor_fuzz_deck_" + std::to_string(::getpid()) + ".inp"))
                                        .string();
    deck_fuzz_one(data, size, path);
    return 0;
}
