#!/bin/sh
# Builds and runs the whole test suite twice: a normal build, then an
# AddressSanitizer + UndefinedBehaviorSanitizer build; then runs the fuzz
# targets of the map file loader and the CSV import for a bounded time.
# GUI tests start Xvfb themselves.
set -eu
cd "$(dirname "$0")/.."
jobs=$(nproc 2>/dev/null || echo 2)

echo "=== normal build ==="
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKVZ_WERROR=ON
cmake --build build -j "$jobs"
ctest --test-dir build --output-on-failure -j "$jobs"

echo "=== AddressSanitizer + UndefinedBehaviorSanitizer build ==="
cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=Debug -DKVZ_SANITIZE=ON -DKVZ_WERROR=ON
cmake --build build-asan -j "$jobs"
ASAN_OPTIONS=detect_leaks=1 \
UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    ctest --test-dir build-asan --output-on-failure -j "$jobs"

echo "=== fuzzing the .cdi loader and the CSV import for 30 s each ==="
CC=clang CXX=clang++ cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKVZ_FUZZ=ON -DKVZ_WERROR=ON
cmake --build build-fuzz -j "$jobs" --target fuzz_load_map_file fuzz_import_map_csv
mkdir -p build-fuzz/corpus build-fuzz/corpus-csv
build-fuzz/tests/fuzz_load_map_file -max_total_time=30 -print_final_stats=1 build-fuzz/corpus tests/fuzz_corpus
build-fuzz/tests/fuzz_import_map_csv -max_total_time=30 -print_final_stats=1 build-fuzz/corpus-csv tests/fuzz_corpus_csv
