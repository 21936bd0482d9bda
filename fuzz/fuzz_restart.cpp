// libFuzzer harness for the restart reader.
//   fuzz/build.sh && build-fuzz/fuzz_restart fuzz/corpus/restart -max_total_time=600

#include <unistd.h>

#include <filesystem>

#include "restart_fuzz_one.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const std::string path =
        (std::filesystem::temp_directory_path() /
         ("velunor_fuzz_restart_" + std::to_string(::getpid()) + ".rst"))
            .string();
    restart_fuzz_one(data, size, path);
    return 0;
}
