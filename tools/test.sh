#!/usr/bin/env bash
# Builds everything and runs all tests.
#   tools/test.sh            Release build in build/release
#   tools/test.sh sanitize   Debug build with AddressSanitizer and UBSan in build/sanitize
set -euo pipefail
cd "$(dirname "$0")/.."
mode=${1:-release}
case "$mode" in
  release) dir=build/release; flags=(-DCMAKE_BUILD_TYPE=Release -DVELUNOR_BENCH=ON) ;;
  sanitize) dir=build/sanitize; flags=(-DCMAKE_BUILD_TYPE=Debug -DVELUNOR_SANITIZE=ON -DVELUNOR_BENCH=OFF) ;;
  *) echo "usage: tools/test.sh [release|sanitize]" >&2; exit 2 ;;
esac
generator=()
command -v ninja >/dev/null && generator=(-G Ninja)
# Tests (and in release the benchmarks) on explicitly: the README's quick start
# configures build/release without them.
cmake -S . -B "$dir" "${generator[@]}" "${flags[@]}" -DVELUNOR_TESTS=ON
cmake --build "$dir" --parallel "$(nproc)"
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
ctest --test-dir "$dir" --output-on-failure --parallel "$(nproc)"
