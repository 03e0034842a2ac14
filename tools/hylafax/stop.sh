#!/usr/bin/env bash
# Stops the HylaFAX daemons that start.sh started, with every process they
# started in turn (hfaxd's connection handlers, faxq's job commands): each
# daemon was started in a session of its own, whose id is the daemon's id as
# start.sh recorded it. Nothing outside those sessions is touched.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
. "$here/common.sh"

[ -d "$state" ] || exit 0
if ! ls "$state"/*.pid >/dev/null 2>&1; then exit 0; fi
need_root "$@"

# The live processes of session `sid`. A job command that faxq forked just
# before the end outlives it, so the session, not the process tree, is
# what holds them all.
members() {
  (ps -o pid=,stat= --sid "$1" || true) | awk '$2 !~ /^Z/ {print $1}'
}

for name in hfaxd faxq; do
  file=$state/$name.pid
  [ -f "$file" ] || continue
  sid=$(cat "$file")
  mapfile -t pids < <(members "$sid")
  if [ ${#pids[@]} -gt 0 ]; then
    kill -TERM "${pids[@]}" 2>/dev/null || true
    for _ in $(seq 50); do
      [ -z "$(members "$sid")" ] && break
      sleep 0.2
    done
    mapfile -t pids < <(members "$sid")
    if [ ${#pids[@]} -gt 0 ]; then kill -KILL "${pids[@]}" 2>/dev/null || true; fi
    echo "stopped $name (session $sid)"
  fi
  rm -f "$file"
done
