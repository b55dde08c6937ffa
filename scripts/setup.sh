#!/usr/bin/env bash
# Installs the Debian packages needed to build and test Zundrel. Run as root (or with sudo).
set -euo pipefail
packages=(
  build-essential cmake pkg-config
  googletest libgtest-dev libgmock-dev
  # the fuzz build: clang with libFuzzer and the sanitizers; the corpus script
  clang libclang-rt-14-dev python3
  # the Linux program: GTK 3 and a Japanese gothic font for the dialog's texts
  libgtk-3-dev libglib2.0-dev-bin fonts-ipafont-gothic
  # its end-to-end test: X server, D-Bus session, accessibility, keyboard, screenshots
  xvfb xauth dbus-daemon dbus-bin dbus-x11 at-spi2-core python3-pyatspi gir1.2-atspi-2.0
  xdotool imagemagick util-linux
  # The Windows program: the mingw-w64 cross compiler, and Wine under Xvfb for its test, with the
  # X libraries Wine's display driver loads, xdotool, ImageMagick's import for the screenshots,
  # Python 3 for the test driver and the IPA Gothic font for the dialog's Japanese texts.
  g++-mingw-w64-x86-64 wine wine64 xvfb xauth xdotool imagemagick python3 fonts-ipafont-gothic
  libxrender1 libxrandr2 libxcursor1 libxi6 libxinerama1 libxcomposite1 libxfixes3
)
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
