#!/usr/bin/env bash
# Sets up, builds and runs every test: once as built normally (the native build also cross-builds
# zundrel.exe into build/win32/ and tests it under Wine), a short fuzz run of each fuzz target (the
# long run is in docs/testing.md), and once more with AddressSanitizer and UndefinedBehaviorSanitizer.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh --tests
scripts/build.sh build -DZUNDREL_TESTS=ON -DZUNDREL_WINE_TEST=ON
ctest --test-dir build --output-on-failure -j2
scripts/fuzz.sh 14 frames
scripts/fuzz.sh 3 telnet
scripts/fuzz.sh 3 names
scripts/build.sh build-asan -DZUNDREL_TESTS=ON -DZUNDREL_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1 \
  ctest --test-dir build-asan --output-on-failure -j2
