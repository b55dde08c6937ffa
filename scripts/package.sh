#!/usr/bin/env bash
# Builds the Debian packages of the committed tree (debian/, debhelper) into build-deb/, for this
# machine's architecture or for each one named (amd64, arm64, armhf: the Raspberry Pi's two are
# cross-built with Debian's cross toolchains): zundrel-headless (the program without a window, its
# systemd unit; no GTK) and zundrel (the dialog program, which depends on it), with their debug
# symbols. Each is checked with lintian (no error, no warning); the desktop entry with
# desktop-file-validate and the AppStream metadata with appstreamcli. Installs what it needs first
# (scripts/setup.sh --package; for another architecture, its cross toolchain; and each
# architecture's build dependencies with apt-get build-dep). Each step's output goes to a log in
# build-deb/logs/; a step that fails shows the lines of its log that say why.
# Prints the packages' paths last. Install this machine's with
#   a=$(dpkg --print-architecture)
#   sudo apt install ./build-deb/zundrel-headless_*_$a.deb ./build-deb/zundrel_*_$a.deb
#
#   scripts/package.sh [ARCH...]     e.g. scripts/package.sh amd64 arm64 armhf
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/apt.sh
. scripts/steps.sh
native=$(dpkg --print-architecture)
archs=("$@")
[ ${#archs[@]} -gt 0 ] || archs=("$native")
step "set-up (scripts/setup.sh --package)" scripts/setup.sh --package
step "desktop-file-validate" desktop-file-validate src/ui/gtk/zundrel.desktop
step "appstreamcli validate" \
  appstreamcli validate --pedantic --no-net src/ui/gtk/org.example.zundrel.metainfo.xml
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
committed_tree() { git archive --format=tar --prefix=zundrel/ HEAD | tar -x -C "$work"; }
step "git archive HEAD" committed_tree
in_tree() { (cd "$work/zundrel" && "$@"); }
for arch in "${archs[@]}"; do
  if [ "$arch" != "$native" ]; then
    if ! dpkg --print-foreign-architectures | grep -qx "$arch"; then
      step "$arch: dpkg --add-architecture" "${apt_sudo[@]}" dpkg --add-architecture "$arch"
      step "$arch: apt-get update" apt_update
    fi
    # The cross compiler (and dpkg-cross), which the build dependencies do not name.
    step "$arch: cross toolchain" \
      apt_get install -y --no-install-recommends "crossbuild-essential-$arch"
  fi
  step "$arch: build dependencies" \
    in_tree apt_get build-dep -y --no-install-recommends -a "$arch" ./
  step "$arch: dpkg-buildpackage" in_tree dpkg-buildpackage -b -us -uc -a "$arch"
  step "$arch: lintian" lintian --fail-on error,warning "$work"/zundrel_*_"$arch".changes
  rm -f build-deb/*_"$arch".deb
  mv "$work"/*_"$arch".deb build-deb/
  rm -f "$work"/*_"$arch".*
done
for arch in "${archs[@]}"; do
  ls build-deb/zundrel-headless_*_"$arch".deb build-deb/zundrel_*_"$arch".deb
done
