#!/usr/bin/env bash
# Prints one job through quor.dll under Wine: the Windows test host answers
# the real setup and fax-number dialogs against the native embedded fax
# server, and the job the server stored must carry the number typed into the
# fax-number dialog (as dialled: its separators dropped) and the modem typed
# into the setup dialog. With --screenshots DIR, both dialogs are photographed as
# Wine draws them (DIR/hsetup.png, DIR/callnum.png).
#
#   job_test.sh --host telvor-job-host.exe --faxserver telvor-faxserver
#               --work DIR [--screenshots DIR]
#
# Exit status 0 when all is well, 77 (skipped) when a tool is missing, except
# under CI=true, where a missing tool fails.
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
usage="job_test.sh --host EXE --faxserver PROGRAM --work DIR [--screenshots DIR]"
# shellcheck source=job_common.sh
. "$here/job_common.sh"
if [ -n "$shots" ]; then
  command -v import >/dev/null && command -v identify >/dev/null ||
    missing "ImageMagick's import missing: install the imagemagick package"
fi

address=127.0.4.2
number="+49 (30) 555-1234"
dial=+49305551234
note="Sent from Wine"

rm -rf "$work"
mkdir -p "$work/spool" "$work/sync"
[ -n "$shots" ] && mkdir -p "$shots"

pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null; wait "$pid" 2>/dev/null; done
}
trap cleanup EXIT

# One display for the dialogs and the screenshots.
fifo=$work/display
mkfifo "$fifo"
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$fifo" >/dev/null 2>&1 &
pids+=($!)
read -r -t 20 display <"$fifo" || true
[ -n "${display:-}" ] || { echo "Xvfb did not start" >&2; exit 1; }
export DISPLAY=:$display

start_faxserver $address
pids+=("$server_pid")

args=("$address" "$number" "$note")
[ -n "$shots" ] && args+=("$(winpath "$work/sync")")
# A Wine virtual desktop: Wine then draws the dialogs' frames and captions
# itself, as there is no window manager on this display.
# The desktop's status is not the program's: the host's last line tells.
"$run" explorer /desktop=telvor,1024x768 "$(winpath "$host")" "${args[@]}" >"$work/host.log" 2>&1 &
host_pid=$!

# Photograph each dialog when the host announces it, cropped to its window.
# The host ends itself after two minutes; this is the last resort.
deadline=$((SECONDS + 180))
while kill -0 $host_pid 2>/dev/null; do
  if [ $SECONDS -gt $deadline ]; then
    echo "the Windows test host does not end: stopping Wine" >&2
    WINEPREFIX=${WINEPREFIX:-${TMPDIR:-/tmp}/telvor-wine-$(id -u)/pfx} /usr/lib/wine/wineserver -k
    break
  fi
  for name in hsetup callnum; do
    if [ -f "$work/sync/$name.rect" ] && [ ! -f "$work/sync/$name.done" ]; then
      read -r x y w h <"$work/sync/$name.rect"
      import -window root -crop "${w}x${h}+${x}+${y}" +repage "$shots/$name.png" ||
        echo "screenshot of $name failed" >&2
      touch "$work/sync/$name.done"
    fi
  done
  sleep 0.2
done
wait $host_pid
status=$?
tr -d '\r' <"$work/host.log" | grep -v '^X connection to'

[ $status -eq 0 ] || fail "Wine exited with $status"
tr -d '\r' <"$work/host.log" | grep -qx 'all checks passed' || fail "the Windows test host's checks"
check_stored_job "$dial" "$note"
grep -qxF "JPARM MODEM ttyIAX0" "$work/spool/job1.txt" 2>/dev/null &&
  echo "ok: the stored job has \"JPARM MODEM ttyIAX0\"" || fail "no \"JPARM MODEM ttyIAX0\""
if [ -f "$work/spool/job1.ps" ]; then
  grep -q '^%!PS' "$work/spool/job1.ps" && echo "ok: the stored document is PostScript" ||
    fail "the stored document is not the job's PostScript"
fi
if [ -n "$shots" ]; then
  for name in hsetup callnum; do
    size=$(identify -format '%w %h' "$shots/$name.png" 2>/dev/null)
    read -r w h <<<"${size:-0 0}"
    if [ "$w" -ge 100 ] && [ "$h" -ge 50 ]; then
      echo "ok: $shots/$name.png (${w}x${h})"
    else
      fail "no screenshot $shots/$name.png"
    fi
  done
fi
exit $failed
