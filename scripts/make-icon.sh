#!/usr/bin/env bash
# Renders the program's icon (icons/zundrel.svg) into the Windows icon icons/zundrel.ico, at the
# sizes Windows uses (16 to 256 px). The .ico is checked in; run this after changing the SVG. Needs
# librsvg2-bin and icoutils (apt-get install librsvg2-bin icoutils).
set -euo pipefail
cd "$(dirname "$0")/../icons"
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
for size in 16 24 32 48 64 256; do
  rsvg-convert -w "$size" -h "$size" zundrel.svg -o "$tmp/$size.png"
done
icotool -c -o zundrel.ico "$tmp"/{16,24,32,48,64}.png -r "$tmp/256.png"
