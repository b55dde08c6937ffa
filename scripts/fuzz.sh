#!/usr/bin/env bash
# Builds a libFuzzer target with clang (AddressSanitizer + UndefinedBehaviorSanitizer) into
# build-fuzz/ and fuzzes it for the given number of seconds (default 60): frames (the frame assembly
# with every handler live, the default), telnet (an rfc2217:// line's reading of its server) or
# names (the line names). It starts from the seed corpus in tests/fuzz_corpus/TARGET (and, for the
# frames, the kept findings in tests/fuzz_regressions); the corpus it grows stays in
# build-fuzz/corpus-TARGET. Extra arguments go to libFuzzer, e.g. -runs=10000000.
#   scripts/fuzz.sh [SECONDS [TARGET]] [LIBFUZZER_ARGUMENT...]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
shift || true
target=frames
case "${1:-}" in frames | telnet | names) target=$1; shift ;; esac
binary=$target"_fuzzer"
[ "$target" = frames ] && binary=feed_fuzzer
CC=clang CXX=clang++ cmake -S . -B build-fuzz -DZUNDREL_FUZZ=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build-fuzz --target "$binary" -j"$(nproc)"
corpus=build-fuzz/corpus-$target
mkdir -p "$corpus" build-fuzz/findings
cp -n tests/fuzz_corpus/"$target"/* "$corpus"/
[ "$target" != frames ] ||
  find tests/fuzz_regressions -type f ! -name '.*' -exec cp -n {} "$corpus"/ \;
build-fuzz/fuzz/"$binary" -max_total_time="$seconds" -max_len=2048 -print_final_stats=1 \
  -artifact_prefix=build-fuzz/findings/ "$@" "$corpus"
