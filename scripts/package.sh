#!/usr/bin/env bash
# Builds the Debian packages of the committed tree (debian/, debhelper) into build-deb/:
# zundrel-headless (the program without a window, its systemd unit; no GTK) and zundrel (the
# dialog program, which depends on it), with their debug symbols, checked with lintian (no error,
# no warning). Installs what it needs first (scripts/setup.sh --package). Prints the two packages'
# paths last. Install them with
#   sudo apt install ./build-deb/zundrel-headless_*.deb ./build-deb/zundrel_*.deb
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh --package >/dev/null
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
git archive --format=tar --prefix=zundrel/ HEAD | tar -x -C "$work"
(cd "$work/zundrel" && dpkg-buildpackage -b -us -uc >"$work/build.log" 2>&1) ||
  { tail -20 "$work/build.log"; echo "package: dpkg-buildpackage failed" >&2; exit 1; }
lintian --fail-on error,warning "$work"/zundrel_*.changes
mkdir -p build-deb
rm -f build-deb/*.deb
mv "$work"/*.deb build-deb/
ls build-deb/zundrel-headless_*.deb build-deb/zundrel_*.deb
