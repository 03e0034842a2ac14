#!/usr/bin/env bash
# Prints one job through quor.dll under Wine: the Windows test host answers
# the real setup and fax-number dialogs against the native embedded fax
# server, and the job the server stored must carry the number typed into the
# fax-number dialog. With --screenshots DIR, both dialogs are photographed as
# Wine draws them (DIR/hsetup.png, DIR/callnum.png).
#
#   job_test.sh --host telvor-job-host.exe --faxserver telvor-faxserver
#               --work DIR [--screenshots DIR]
#
# Exit status 0 when all is well, 77 (skipped) when a tool is missing, except
# under CI=true, where a missing tool fails.
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
run=$here/../../../tools/wine/run.sh
host= faxserver= work= shots=
while [ $# -gt 0 ]; do
  case $1 in
    --host) host=$2; shift 2 ;;
    --faxserver) faxserver=$2; shift 2 ;;
    --work) work=$2; shift 2 ;;
    --screenshots) shots=$2; shift 2 ;;
    *) echo "unknown argument $1" >&2; exit 2 ;;
  esac
done
[ -n "$host" ] && [ -n "$work" ] || { echo "usage: job_test.sh --host EXE --faxserver PROGRAM --work DIR [--screenshots DIR]" >&2; exit 2; }

missing() {
  echo "$*" >&2
  if [ "${CI:-}" = true ]; then exit 1; fi
  echo "skipped" >&2
  exit 77
}
[ -x "$faxserver" ] || missing "the native embedded fax server is missing ($faxserver): configure" \
  "this build with -DTELVOR_NATIVE_BUILD=<native build directory> and build telvor-faxserver there"
command -v Xvfb >/dev/null || missing "Xvfb missing: install the xvfb package"
[ -x /usr/lib/wine/wine64 ] || missing "wine64 missing: install the wine64 package"
if [ -n "$shots" ]; then
  command -v import >/dev/null && command -v identify >/dev/null ||
    missing "ImageMagick's import missing: install the imagemagick package"
fi

address=127.0.4.2
number=5554321
note="Sent from Wine"
winpath() { printf 'Z:%s' "$1" | tr '/' '\\'; }

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

"$faxserver" --address $address --dir "$work/spool" --ready-file "$work/ready" \
  >"$work/faxserver.log" 2>&1 &
pids+=($!)
for _ in $(seq 100); do [ -e "$work/ready" ] && break; sleep 0.1; done
[ -e "$work/ready" ] || { echo "the embedded fax server did not start:" >&2; cat "$work/faxserver.log" >&2; exit 1; }

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

failed=0
fail() { echo "FAILED: $*"; failed=1; }
[ $status -eq 0 ] || fail "Wine exited with $status"
tr -d '\r' <"$work/host.log" | grep -qx 'all checks passed' || fail "the Windows test host's checks"
job=$work/spool/job1.txt
if [ -f "$job" ]; then
  for line in "JPARM DIALSTRING $number" "JPARM JOBINFO $note" "JPARM MAXDIALS 4" \
    "JPARM FROMUSER wine" "JPARM NOTIFYADDR wine@example.com"; do
    grep -qxF "$line" "$job" && echo "ok: the stored job has \"$line\"" || fail "no \"$line\" in $job"
  done
  grep -q '^%!PS' "$work/spool/job1.ps" && echo "ok: the stored document is PostScript" ||
    fail "the stored document is not the job's PostScript"
else
  fail "the server stored no job"; cat "$work/faxserver.log"
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
