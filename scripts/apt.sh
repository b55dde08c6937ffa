# Sourced by the scripts that install packages (setup.sh, package.sh, check-package.sh).
# apt_get runs apt-get as root (through sudo when not root), without questions, and waits for
# another apt or dpkg to let go of its lock (a second set-up at the same time, an unattended
# upgrade) instead of failing at once: DPkg::Lock::Timeout makes apt-get wait for dpkg's lock.
# Debian 12's apt-get update does not wait for the lock of its lists (/var/lib/apt/lists/lock)
# whatever that option says, so apt_update tries it again every 2 seconds while its error names a
# lock, as long as apt-get would wait.
apt_lock_wait=${ZUNDREL_APT_LOCK_WAIT:-600}
apt_sudo=()
[ "$(id -u)" -eq 0 ] || apt_sudo=(sudo)

apt_get() {
  "${apt_sudo[@]}" env DEBIAN_FRONTEND=noninteractive \
    apt-get -o DPkg::Lock::Timeout="$apt_lock_wait" "$@"
}

apt_update() {
  local out rc deadline=$((SECONDS + apt_lock_wait)) told=0
  while :; do
    rc=0
    out=$("${apt_sudo[@]}" apt-get update 2>&1) || rc=$?
    if [ "$rc" -ne 0 ] && grep -q '^E: Could not get lock' <<<"$out" &&
       [ "$SECONDS" -lt "$deadline" ]; then
      if [ "$told" -eq 0 ]; then
        echo "Waiting for apt's lock: $(grep -m1 '^E: Could not get lock' <<<"$out" | cut -c4-)" >&2
        told=1
      fi
      sleep 2
      continue
    fi
    if [ "$rc" -eq 0 ]; then printf '%s\n' "$out"; else printf '%s\n' "$out" >&2; fi
    return "$rc"
  done
}
