#!/usr/bin/env bash
# Builds the Debian packages (scripts/package.sh) and installs this machine's two with the
# README's install line, which must take no other architecture's packages from build-deb/ (after
# `scripts/package.sh amd64 arm64 armhf` it holds three). Checks their files, the manual pages and
# `zundrel --version`. Where systemd runs, starts an instance with an options file named as the
# README says, whose options (a /dev/serial/by-id/ link as the port) must reach the program.
# Removes the packages and checks that nothing is left (and the instance stopped). A step that
# fails shows why (scripts/steps.sh). Run as root on a machine where the packages may be installed
# and removed.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/apt.sh
step_prefix=check-package
. scripts/steps.sh
fail() { echo "check-package: $*" >&2; exit 1; }
scripts/package.sh
files=(/usr/bin/zundrel-headless /usr/lib/systemd/system/zundrel@.service
       /usr/share/man/man1/zundrel-headless.1.gz /usr/bin/zundrel /usr/share/man/man1/zundrel.1.gz
       /usr/share/applications/zundrel.desktop /usr/share/icons/hicolor/scalable/apps/zundrel.svg
       /usr/share/metainfo/org.example.zundrel.metainfo.xml)
line=$(grep -m1 '^scripts/package.sh && sudo apt install ' README.md) ||
  fail "README.md has no line 'scripts/package.sh && sudo apt install ...' to install with"
install=${line#scripts/package.sh && sudo }
echo "check-package: $install" >&2
step "the README's install line" env DEBIAN_FRONTEND=noninteractive \
  bash -c "$install -y -o DPkg::Lock::Timeout=$apt_lock_wait"
for f in "${files[@]}"; do
  [ -e "$f" ] || fail "missing after install: $f"
done
grep -q '^Icon=zundrel$' /usr/share/applications/zundrel.desktop ||
  fail "the desktop entry names another icon"
! dpkg-query -W -f='${Depends}' zundrel-headless | grep -q gtk ||
  fail "zundrel-headless depends on GTK"
want="zundrel $(sed -n 's/^project(zundrel VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)"
[ "$(zundrel --version)" = "$want" ] || fail "zundrel --version: not $want"

instance=""
if [ -d /run/systemd/system ]; then
  # An instance with a dash in its name, as the README's, which its options file keeps; the
  # port's path, /dev/check/package, is the name unescaped.
  instance=check-package
  options=/etc/default/zundrel-$instance
  port=/dev/serial/by-id/usb-Zundrel_Check_0001-if00-port0
  echo "ZUNDREL_OPTIONS=--port $port --speed 38400" >"$options"
  systemctl start "zundrel@$instance" || fail "systemctl start zundrel@$instance failed"
  sleep 1
  pid=$(systemctl show -p MainPID --value "zundrel@$instance")
  rm -f "$options"
  [ "$pid" != 0 ] || fail "zundrel@$instance is not running"
  args=$(tr '\0' ' ' <"/proc/$pid/cmdline")
  [ "$args" = "/usr/bin/zundrel-headless --port /dev/check/package --port $port --speed 38400 " ] ||
    fail "zundrel@$instance runs '$args', not with the options of $options"
fi

step "apt-get remove" apt_get remove -y zundrel zundrel-headless
for f in "${files[@]}"; do
  [ ! -e "$f" ] || fail "left after apt remove: $f"
done
if [ -n "$instance" ] && systemctl -q is-active "zundrel@$instance"; then
  fail "zundrel@$instance still runs after apt remove"
fi
for p in zundrel zundrel-headless; do
  if dpkg-query -W -f='${Status}\n' "$p" 2>/dev/null | grep -qv 'not-installed'; then
    fail "dpkg still knows $p after apt remove"
  fi
done
echo "check-package: ok: zundrel and zundrel-headless ($want) installed with the README's line," \
  "removed, nothing left"
