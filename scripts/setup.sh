#!/usr/bin/env bash
# Installs the Debian packages needed to build and run the Linux program. Run as root (or with
# sudo). With --tests, also installs what the tests need: clang for the fuzz build, the X server and
# tools of the dialog's end-to-end test, ser2net, and mingw-w64 and Wine for the Windows program and
# its test.
# With --package, also what building the Debian packages needs (debhelper, lintian).
#   scripts/setup.sh [--tests] [--package]
set -euo pipefail
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
  # libudev (the USB serial ports and their return), and a Japanese gothic font for the dialog's texts
  g++ make cmake pkg-config
  libgtk-3-dev libglib2.0-dev-bin librsvg2-common libudev-dev fonts-ipafont-gothic
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
  )
fi
if [ "$package" -eq 1 ]; then
  packages+=(dpkg-dev debhelper lintian libglib2.0-dev-bin)
fi
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  SUDO=""
  [ "$(id -u)" -eq 0 ] || SUDO=sudo
  $SUDO apt-get update
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y --no-install-recommends "${missing[@]}"
fi
