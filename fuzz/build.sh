#!/bin/sh
# Builds the deck and restart fuzzers with clang and libFuzzer, AddressSanitizer and UBSan.
# Usage (from the repository root): fuzz/build.sh && build-fuzz/fuzz_deck fuzz/corpus/deck
#   (or build-fuzz/fuzz_restart fuzz/corpus/restart)
set -eu
out=build-fuzz
mkdir -p "$out"
sources=$(find src -name '*.cpp' | sort)
clang++-14 -std=c++20 -g -O1 -ffp-contract=off -DVELUNOR_BUILDING_LIBRARY \
    -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined \
    -Isrc -Iinclude -Ifuzz $sources fuzz/fuzz_deck.cpp -o "$out/fuzz_deck"
clang++-14 -std=c++20 -g -O1 -ffp-contract=off -DVELUNOR_BUILDING_LIBRARY \
    -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined \
    -Isrc -Iinclude -Ifuzz $sources fuzz/fuzz_restart.cpp -o "$out/fuzz_restart"
echo "built $out/fuzz_deck $out/fuzz_restart"
