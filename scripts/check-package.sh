#!/usr/bin/env bash
# Checks the Debian package as a user's machine takes it: builds it (scripts/package.sh), installs
# it with apt, checks what it puts in place and `zundrel --version`, removes it with apt and checks
# that nothing of it is left. Run as root on Debian 12, or in a fresh one:
#   ../shared/tools/fresh-debian.sh scripts/check-package.sh
set -euo pipefail
cd "$(dirname "$0")/.."
deb=$(scripts/package.sh | tail -1)
files=(/usr/bin/zundrel /usr/bin/zundrel-headless /usr/share/applications/zundrel.desktop
       /usr/share/icons/hicolor/scalable/apps/zundrel.svg /usr/lib/systemd/system/zundrel@.service
       /usr/share/man/man1/zundrel.1 /usr/share/man/man1/zundrel-headless.1)
DEBIAN_FRONTEND=noninteractive apt-get install -y "./$deb" >/dev/null
for f in "${files[@]}"; do
  [ -e "$f" ] || { echo "package: missing after install: $f"; exit 1; }
done
grep -q '^Icon=zundrel$' /usr/share/applications/zundrel.desktop
want="zundrel $(sed -n 's/^project(zundrel VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)"
[ "$(zundrel --version)" = "$want" ] || { echo "package: zundrel --version: not $want"; exit 1; }
DEBIAN_FRONTEND=noninteractive apt-get remove -y zundrel >/dev/null
for f in "${files[@]}"; do
  [ ! -e "$f" ] || { echo "package: left after apt remove: $f"; exit 1; }
done
if dpkg-query -W -f='${Status}\n' zundrel 2>/dev/null | grep -qv 'not-installed'; then
  echo "package: dpkg still knows zundrel after apt remove"; exit 1
fi
echo "package: ok: $deb installed ($want), removed, nothing left"
