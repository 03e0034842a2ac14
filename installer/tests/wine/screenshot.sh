#!/usr/bin/env bash
# Photographs install.exe's progress window mid-animation under Wine, for the
# README: docs/progress.png.
#
# usage: screenshot.sh INSTALL_EXE RUN_WATCHED_EXE OUT.png
#
# The installer runs in a fresh prefix without a printer INF, so it stops at
# its first failure box; the animation runs on behind that box, which the
# watcher moves to the screen's corner and holds while the screen is taken.
set -uo pipefail
if [ $# -ne 3 ]; then
  sed -n '5p' "$0"
  exit 2
fi
install_exe=$1 run_watched=$2 out=$3
here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=wine_session.sh
. "$here/wine_session.sh"

wine_tools_or_exit import convert
wine_session_start
# Without a window manager Wine draws the frame and caption itself.
wine_run reg add 'HKCU\Software\Wine\X11 Driver' /v Decorated /d N /f >/dev/null 2>&1
# Wine's own theme would draw the bar in its colour even for the program's
# classic controls; Windows draws them unthemed without a manifest.
wine_run reg add 'HKCU\Software\Microsoft\Windows\CurrentVersion\ThemeManager' \
  /v ThemeActive /d 0 /f >/dev/null 2>&1

setup_dir=$(wine_path telvor-setup)
mkdir -p "$setup_dir"
cp "$install_exe" "$setup_dir/install.exe"

# About 5 s of animation at 200 ms a step: the bar is a quarter full and
# has turned from blue towards red.
log=$wine_work/watch.log
wine_run "$run_watched" --hold-first-box 9000 'C:\telvor-setup\install.exe' >"$log" 2>&1 &
watcher=$!
for _ in $(seq 300); do
  grep -q '^box: ' "$log" && break
  sleep 0.1
done
if ! grep -q '^box: ' "$log"; then
  cat "$log"
  echo "the installer showed no box"
  exit 1
fi
sleep 5
import -window root "$wine_work/screen.png"
wait "$watcher"
cat "$log"

read -r x y width height < <(sed -n 's/^window: Telvor Printer Install at //p' "$log")
if [ -z "${height:-}" ]; then
  echo "the progress window was not seen"
  exit 1
fi
mkdir -p "$(dirname "$out")"
convert "$wine_work/screen.png" -crop "${width}x${height}+${x}+${y}" +repage -strip "$out"
echo "wrote $out (${width} x ${height})"
