#!/usr/bin/env bash
# Start-up and memory figures of the Linux program: runs the built `zundrel` several times under a
# private X server, inside a private mount namespace whose /dev/ttyS0 to /dev/ttyS3 are this
# benchmark's own pseudo-terminals (the program never sees a real serial port), and prints the
# time from start to window shown, to the first answered request, and its resident memory.
#   startup_bench.sh [ZUNDREL] [RUNS]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
program=$(realpath "${1:-$here/../build/zundrel}")
runs=${2:-10}
ns=(unshare -m --propagation private)
[ "$(id -u)" -eq 0 ] || ns=(unshare -r -m --propagation private)
exec setsid timeout -k 5 300 xvfb-run -a -s "-screen 0 640x480x24 -nolisten tcp" \
  "${ns[@]}" -- /usr/bin/python3 "$here/startup_bench.py" "$program" "$runs"
