#!/usr/bin/env bash
# Runs a Windows program under 64-bit Wine with a virtual display, and exits
# with the program's exit status. Used as the test launcher of the x86_64
# build. WINEPREFIX may be set by the caller (a test that needs a fresh prefix);
# otherwise one prefix per user is kept and created on first use.
set -uo pipefail
loader=/usr/lib/wine/wine64
if [ ! -x "$loader" ]; then
  echo "wine64 missing ($loader): install the wine64 package" >&2
  exit 127
fi
export WINEPREFIX=${WINEPREFIX:-${TMPDIR:-/tmp}/telvor-wine-$(id -u)/pfx}
export WINEDEBUG=${WINEDEBUG:--all}
# No Mono or Gecko installer prompts in a new prefix.
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
mkdir -p "$(dirname "$WINEPREFIX")"

xvfb_pid=
if [ -z "${DISPLAY:-}" ]; then
  if ! command -v Xvfb >/dev/null; then
    echo "Xvfb missing: install the xvfb package" >&2
    exit 127
  fi
  fifo=$(mktemp -u)
  mkfifo "$fifo"
  Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$fifo" >/dev/null 2>&1 &
  xvfb_pid=$!
  read -r -t 20 display <"$fifo" || true
  rm -f "$fifo"
  if [ -z "${display:-}" ]; then
    echo "Xvfb did not start" >&2
    exit 1
  fi
  export DISPLAY=:$display
fi
cleanup() {
  if [ -n "$xvfb_pid" ]; then kill "$xvfb_pid" 2>/dev/null; fi
}
trap cleanup EXIT

# A new prefix is made once, under a lock, so that parallel tests share it.
(
  flock 9
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    "$loader" wineboot -i >/dev/null 2>&1
    /usr/lib/wine/wineserver -w
  fi
) 9>"$WINEPREFIX.lock"

"$loader" "$@"
