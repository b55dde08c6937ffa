#!/usr/bin/env bash
# End-to-end test of the built program: runs `zundrel` under a private X server (Xvfb) and a private
# D-Bus session, inside a private mount namespace in which the test's pseudo-terminals stand in
# for /dev/ttyS0 to /dev/ttyS3, and drives it as the device and as the user (dialog_e2e.py).
#   run_dialog_e2e.sh ZUNDREL ARTEFACT_DIR
set -euo pipefail
here=$(dirname "$0")

# In the sanitizer build, fontconfig's never-freed caches are not the program's leaks.
export LSAN_OPTIONS="${LSAN_OPTIONS:+$LSAN_OPTIONS:}suppressions=$here/lsan-gtk.supp"

# A private mount namespace needs root, or a user namespace of its own in which we are root (-r).
root=$([ "$(id -u)" -eq 0 ] || echo -r)

# The program never runs outside that namespace: dialog_e2e.py refuses to start it unless it runs
# in a mount namespace of its own with the test's terminals bound over /dev/ttyS0 to /dev/ttyS3.
# Everything runs in a process group of its own, ended as a whole at the end: xvfb-run leaves its X
# server running when it fails to clean up after itself. The exit status is dialog_e2e.py's.
setsid timeout -k 5 150 xvfb-run -a -s "-screen 0 1024x768x24 -nolisten tcp" dbus-run-session -- \
  unshare $root -m --propagation private -- /usr/bin/python3 "$here/dialog_e2e.py" "$1" "$2" &
trap 'kill -KILL -- "-$!" 2>/dev/null || true' EXIT
wait "$!"
