#!/usr/bin/env bash
# Builds the Debian packages (scripts/package.sh), installs both with apt, checks their files,
# the manual pages and `zundrel --version`, removes them and checks that nothing is left. Run as
# root on a machine where the packages may be installed and removed.
set -euo pipefail
cd "$(dirname "$0")/.."
debs=($(scripts/package.sh | tail -2))
files=(/usr/bin/zundrel-headless /usr/lib/systemd/system/zundrel@.service
       /usr/share/man/man1/zundrel-headless.1.gz /usr/bin/zundrel /usr/share/man/man1/zundrel.1.gz
       /usr/share/applications/zundrel.desktop /usr/share/icons/hicolor/scalable/apps/zundrel.svg
       /usr/share/metainfo/org.example.zundrel.metainfo.xml)
DEBIAN_FRONTEND=noninteractive apt-get install -y "${debs[@]/#/./}" >/dev/null
for f in "${files[@]}"; do
  [ -e "$f" ] || { echo "package: missing after install: $f"; exit 1; }
done
grep -q '^Icon=zundrel$' /usr/share/applications/zundrel.desktop
! dpkg-query -W -f='${Depends}' zundrel-headless | grep -q gtk ||
  { echo "package: zundrel-headless depends on GTK"; exit 1; }
want="zundrel $(sed -n 's/^project(zundrel VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)"
[ "$(zundrel --version)" = "$want" ] || { echo "package: zundrel --version: not $want"; exit 1; }
DEBIAN_FRONTEND=noninteractive apt-get remove -y zundrel zundrel-headless >/dev/null
for f in "${files[@]}"; do
  [ ! -e "$f" ] || { echo "package: left after apt remove: $f"; exit 1; }
done
for p in zundrel zundrel-headless; do
  if dpkg-query -W -f='${Status}\n' "$p" 2>/dev/null | grep -qv 'not-installed'; then
    echo "package: dpkg still knows $p after apt remove"; exit 1
  fi
done
echo "package: ok: ${debs[*]} installed ($want), removed, nothing left"
