#!/usr/bin/env bash
# Builds the Debian packages (scripts/package.sh) and installs this machine's two with the
# README's install line, which must take no other architecture's packages from build-deb/ (after
# `scripts/package.sh amd64 arm64 armhf` it holds three). Checks their files, the manual pages and
# `zundrel --version`. Makes the service's traffic logs: where systemd runs, by starting an
# instance with an options file named as the README says, whose options (a /dev/serial/by-id/ link
# as the port, a log) must reach the program; elsewhere as systemd makes them for DynamicUser=yes
# and LogsDirectory=zundrel (/var/log/private/zundrel and the link /var/log/zundrel). Removes the
# packages and checks that the programs are gone, the instance stopped and the logs kept, then
# purges them and checks that the logs are gone too and dpkg knows neither package. A step that
# fails shows why (scripts/steps.sh). Run as root on a machine where the packages may be
# installed, removed and purged.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/apt.sh
step_prefix=check-package
. scripts/steps.sh
fail() { echo "check-package: $*" >&2; exit 1; }
exists() { [ -e "$1" ] || [ -L "$1" ]; }
scripts/package.sh
files=(/usr/bin/zundrel-headless /usr/lib/systemd/system/zundrel@.service
       /usr/share/man/man1/zundrel-headless.1.gz /usr/bin/zundrel /usr/share/man/man1/zundrel.1.gz
       /usr/share/applications/zundrel.desktop /usr/share/icons/hicolor/scalable/apps/zundrel.svg
       /usr/share/metainfo/org.example.zundrel.metainfo.xml)
logs=(/var/log/zundrel /var/log/private/zundrel)
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
  # An instance with a dash in its name, which the name of its options file keeps (the port's
  # path, /dev/check/package, is the name unescaped), and a by-id link as its port.
  instance=check-package
  options=/etc/default/zundrel-$instance
  port=/dev/serial/by-id/usb-Zundrel_Check_0001-if00-port0
  given="--port $port --speed 38400 --log /var/log/zundrel/check.log"
  echo "ZUNDREL_OPTIONS=$given" >"$options"
  systemctl start "zundrel@$instance" || fail "systemctl start zundrel@$instance failed"
  sleep 1
  pid=$(systemctl show -p MainPID --value "zundrel@$instance")
  rm -f "$options"
  [ "$pid" != 0 ] || fail "zundrel@$instance is not running"
  args=$(tr '\0' ' ' <"/proc/$pid/cmdline")
  [ "$args" = "/usr/bin/zundrel-headless --port /dev/check/package $given " ] ||
    fail "zundrel@$instance runs '$args', not with the options of $options"
  [ -d /var/log/private/zundrel ] && [ -L /var/log/zundrel ] ||
    fail "systemd made no /var/log/private/zundrel and /var/log/zundrel for the service"
else
  if ! exists /var/log/zundrel; then
    mkdir -p -m 0700 /var/log/private
    mkdir -p /var/log/private/zundrel
    ln -s private/zundrel /var/log/zundrel
  fi
  echo '00 01 02' >/var/log/zundrel/check.log
fi

step "apt-get remove" apt_get remove -y zundrel zundrel-headless
for f in "${files[@]}"; do
  ! exists "$f" || fail "left after apt remove: $f"
done
if [ -n "$instance" ] && systemctl -q is-active "zundrel@$instance"; then
  fail "zundrel@$instance still runs after apt remove"
fi
for f in "${logs[@]}"; do
  exists "$f" || fail "apt remove deleted $f: only a purge deletes the logs"
done

# zundrel, with no maintainer script of its own, left nothing to purge after its removal;
# zundrel-headless keeps its postrm, which deletes the logs on purge.
dpkg-query -W -f='${db:Status-Status}' zundrel-headless 2>/dev/null | grep -qx config-files ||
  fail "dpkg forgot zundrel-headless at its removal: nothing is left to delete the logs on purge"
step "apt-get purge" apt_get purge -y zundrel-headless
for f in "${logs[@]}"; do
  ! exists "$f" || fail "left after apt purge: $f"
done
for p in zundrel zundrel-headless; do
  if dpkg-query -W -f='${Status}\n' "$p" 2>/dev/null | grep -qv 'not-installed'; then
    fail "dpkg still knows $p after apt purge"
  fi
done
echo "check-package: ok: zundrel and zundrel-headless ($want) installed with the README's line," \
  "removed (traffic logs kept), purged (traffic logs gone)"
