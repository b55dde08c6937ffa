#!/usr/bin/env bash
# Builds the libFuzzer target with clang (AddressSanitizer + UndefinedBehaviorSanitizer) into
# build-fuzz/ and fuzzes the assembler for the given number of seconds (default 60), starting from
# the seed corpus in tests/fuzz_corpus and the kept findings in tests/fuzz_regressions. The corpus
# it grows stays in build-fuzz/corpus. Extra arguments go to libFuzzer, e.g. -runs=10000000.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
shift || true
CC=clang CXX=clang++ cmake -S . -B build-fuzz -DZUNDREL_FUZZ=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build-fuzz --target feed_fuzzer -j"$(nproc)"
mkdir -p build-fuzz/corpus build-fuzz/findings
cp -n tests/fuzz_corpus/* build-fuzz/corpus/
find tests/fuzz_regressions -type f ! -name '.*' -exec cp -n {} build-fuzz/corpus/ \;
build-fuzz/fuzz/feed_fuzzer -max_total_time="$seconds" -max_len=2048 -print_final_stats=1 \
  -artifact_prefix=build-fuzz/findings/ "$@" build-fuzz/corpus
