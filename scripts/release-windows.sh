#!/usr/bin/env bash
# Makes the Windows release: cross-builds zundrel.exe (Release, statically linked) into build-win/
# and packs it with README.txt and LICENSE.txt (Windows line ends) into
# dist/zundrel-VERSION-windows-x64.zip, whose path it prints last. Needs the mingw-w64 cross
# compiler (scripts/setup.sh --tests installs it).
#   scripts/release-windows.sh
set -euo pipefail
cd "$(dirname "$0")/.."
cmake -S . -B build-win -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake -DCMAKE_BUILD_TYPE=Release \
  -DZUNDREL_TESTS=OFF >/dev/null
cmake --build build-win -j"$(nproc)" >/dev/null
version=$(sed -n 's/^project(zundrel VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
cp build-win/zundrel.exe "$stage/"
x86_64-w64-mingw32-strip "$stage/zundrel.exe"
sed 's/$/\r/' docs/README-windows.txt >"$stage/README.txt"
sed 's/$/\r/' LICENSE >"$stage/LICENSE.txt"
mkdir -p dist
zip="dist/zundrel-$version-windows-x64.zip"
rm -f "$zip"
(cd "$stage" && python3 -m zipfile -c "$OLDPWD/$zip" zundrel.exe README.txt LICENSE.txt)
echo "$zip"
