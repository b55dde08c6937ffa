#!/usr/bin/env bash
# Installs the Debian packages needed to build and run the Linux program. Run as root (or with
# sudo). With --tests, also installs what the tests need: clang for the fuzz build, the X server and
# tools of the dialog's end-to-end test, ser2net, mingw-w64 and Wine for the Windows program and
# its test, and Debian's cross toolchains and qemu-user for the arm64 and armhf builds and their
# tests (the two architectures are added to dpkg's for their libraries).
# With --package, also what building the Debian packages needs (git, which takes the committed
# tree; build-essential, which dpkg-buildpackage insists on; debhelper, lintian) and checks
# (desktop-file-validate, appstreamcli).
# When another apt or dpkg holds its lock (two set-ups at the same time), it waits for it.
#   scripts/setup.sh [--tests] [--package]
set -euo pipefail
. "$(dirname "$0")/apt.sh"
tests=0
package=0
for arg in "$@"; do
  case "$arg" in
    --tests) tests=1 ;;
    --package) package=1 ;;
    *) echo "usage: scripts/setup.sh [--tests] [--package]" >&2; exit 2 ;;
  esac
done
packages=(
  # the Linux program: compiler and build tools (g++ and make rather than build-essential, whose
  # Debian packaging tools bring Perl along), GTK 3 (its SVG loader draws the theme's images),
  # libudev (the USB serial ports and their return), libsystemd (a service tells systemd its state)
  # and a Japanese gothic font for the dialog's texts
  g++ make cmake pkg-config
  libgtk-3-dev libglib2.0-dev-bin librsvg2-common libudev-dev libsystemd-dev fonts-ipafont-gothic
  # the session bus that GTK's settings store (dconf) depends on, without systemd, which a desktop
  # has anyway and a minimal system would otherwise get only for that
  dbus-x11
)
if [ "$tests" -eq 1 ]; then
  packages+=(
    # the fuzz build: clang with libFuzzer and the sanitizers; the corpus script
    clang libclang-rt-14-dev python3
    # the dialog's end-to-end test: X server, D-Bus session, accessibility, keyboard, screenshots
    xvfb xauth dbus-daemon dbus-bin dbus-x11 at-spi2-core python3-pyatspi gir1.2-atspi-2.0
    xdotool imagemagick util-linux
    # a serial port offered over TCP, raw and as RFC 2217, for the network line's test
    ser2net
    # the Windows program: the mingw-w64 cross compiler, and Wine under Xvfb for its test, with the
    # X libraries Wine's display driver loads
    g++-mingw-w64-x86-64 wine wine64
    libxrender1 libxrandr2 libxcursor1 libxi6 libxinerama1 libxcomposite1 libxfixes3
    # the Raspberry Pi's architectures: cross compilers, the libraries the program links there, and
    # qemu-user to run what they build (without binfmt: the tests start qemu themselves)
    crossbuild-essential-arm64 libudev-dev:arm64 libsystemd-dev:arm64 libstdc++6:arm64
    crossbuild-essential-armhf libudev-dev:armhf libsystemd-dev:armhf libstdc++6:armhf qemu-user
  )
fi
if [ "$package" -eq 1 ]; then
  packages+=(git build-essential dpkg-dev debhelper lintian desktop-file-utils appstream)
fi
missing=()
for p in "${packages[@]}"; do
  arch=${p#*:}
  if [ "$arch" != "$p" ] && ! dpkg --print-foreign-architectures | grep -qx "$arch"; then
    "${apt_sudo[@]}" dpkg --add-architecture "$arch"
  fi
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  apt_update
  apt_get install -y --no-install-recommends "${missing[@]}"
fi
