#!/usr/bin/env bash
# Configures and builds Zundrel into build/ (or the folder given as $1, with extra CMake options).
set -euo pipefail
cd "$(dirname "$0")/.."
dir=${1:-build}
shift || true
cmake -S . -B "$dir" "$@" >/dev/null
cmake --build "$dir" -j"$(nproc)"
