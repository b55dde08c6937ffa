#!/usr/bin/env bash
# Configures and builds Zundrel into build/ (or the folder given as $1). With no CMake options after
# the folder, only the program is built (-DZUNDREL_TESTS=OFF); options given, e.g.
# -DZUNDREL_TESTS=ON for the tests, are passed to CMake instead.
#   scripts/build.sh [DIR [CMAKE_OPTION...]]
set -euo pipefail
cd "$(dirname "$0")/.."
dir=${1:-build}
shift || true
[ $# -gt 0 ] || set -- -DZUNDREL_TESTS=OFF
cmake -S . -B "$dir" "$@" >/dev/null
cmake --build "$dir" -j"$(nproc)"
