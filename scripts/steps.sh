# Sourced by package.sh and check-package.sh. `step WHAT COMMAND...` names WHAT on stderr and runs
# COMMAND with its output in a log of its own in build-deb/logs/; when it fails, it shows why and
# ends the script: the log's lines that name the fault (apt's errors and unmet dependencies,
# CMake's errors, the compiler's, dpkg's and debhelper's errors, make's failed targets, lintian's
# tags), or its last lines when none does, then "WHAT failed" and the log's path.
step_logs=build-deb/logs
step_prefix=${step_prefix:-package}

fault_lines() {
  awk '
    # the logs of the CMake compile checks, which debhelper shows after a failed configure: their
    # errors are the expected failures of feature tests, not the fault
    /^==> .* <==$/ { skip = 1; next }
    skip && /^dh_[a-z_]+: / { skip = 0 }
    skip { next }
    # a block whose lines after the first are indented: a CMake error, apt unmet dependencies
    block && /^([ \t]|$)/ { if (NF) print; next }
    { block = 0 }
    /^CMake Error/ || /unmet dependencies:$/ { block = 1; print; next }
    /^E: / || /error:/ || /\*\*\* / || /undefined reference/ || /^W: [a-z0-9.+-]+( source)?: / {
      if (!seen[$0]++) print
    }
  ' "$1" | cut -c1-400
}

step() {
  local what=$1 log rc=0 lines
  shift
  echo "$step_prefix: $what" >&2
  mkdir -p "$step_logs"
  log="$step_logs/$(tr -cs 'A-Za-z0-9.-' '-' <<<"$what" | sed 's/-*$//').log"
  "$@" >"$log" 2>&1 || rc=$?
  [ "$rc" -ne 0 ] || return 0
  lines=$(fault_lines "$log")
  if [ -z "$lines" ]; then
    lines=$(tail -n 15 "$log")
  elif [ "$(wc -l <<<"$lines")" -gt 40 ]; then
    lines="$(head -n 40 <<<"$lines")
... (more in the log)"
  fi
  printf '%s\n' "$lines" >&2
  echo "$step_prefix: $what failed (exit $rc; whole output: $log)" >&2
  exit 1
}
