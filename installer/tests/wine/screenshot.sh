#!/usr/bin/env bash
# Photographs install.exe's progress window mid-animation under Wine, for the
# administrators' page (docs/progress.png, shown in docs/windows-admin.md).
#
# usage: screenshot.sh INSTALL_EXE QUOR_DLL TELVOR_DLL RUN_WATCHED_EXE NTPRINT_INF OUT.png
#
# The installer runs as in the Wine test, but the stand-in driver files are
# missing beside the INF, so the Setup API waits for the disk that holds
# them. Meanwhile the bar moves, with no box in front (a box of the
# installer's own would stop it). The screen is taken after a few seconds of
# animation, then the Wine session is ended.
set -uo pipefail
if [ $# -ne 6 ]; then
  sed -n '5p' "$0"
  exit 2
fi
install_exe=$1 quor_dll=$2 telvor_dll=$3 run_watched=$4 ntprint_inf=$5 out=$6
here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=wine_session.sh
. "$here/wine_session.sh"

wine_tools_or_exit import convert
wine_session_start
# Without a window manager Wine draws the frame and caption itself.
wine_run reg add 'HKCU\Software\Wine\X11 Driver' /v Decorated /d N /f >/dev/null 2>&1
# Wine's own theme would paint the bar in the theme's colour even for classic
# controls; Windows leaves a program whose manifest names no common-controls 6
# unthemed.
wine_run reg add 'HKCU\Software\Microsoft\Windows\CurrentVersion\ThemeManager' \
  /v ThemeActive /d 0 /f >/dev/null 2>&1
wine_supply_printer_inf "$ntprint_inf"
for file in "${wine_driver_files[@]}"; do rm "$(wine_path windows/inf)/$file"; done
setup_dir=$(wine_path telvor-setup)
mkdir -p "$setup_dir"
cp "$install_exe" "$setup_dir/install.exe"
cp "$quor_dll" "$setup_dir/quor.dll"
cp "$telvor_dll" "$setup_dir/telvor.dll"

log=$wine_work/watch.log
wine_run "$run_watched" --start-spooler 'C:\telvor-setup\install.exe' >"$log" 2>&1 &
watcher=$!
for _ in $(seq 300); do
  grep -q '^window: ' "$log" && break
  sleep 0.1
done
# About 6 s of animation at 200 ms a step: the bar is a third full and has
# turned from blue towards red.
sleep 6
import -window root "$wine_work/screen.png"
"$wine_server" -k >/dev/null 2>&1
wait "$watcher"
cat "$log"

if [ "$(grep -m1 -E '^(window|box|prompt): ' "$log" | cut -d: -f1)" != window ]; then
  echo "no progress window was seen before any other dialog"
  exit 1
fi
read -r x y width height < <(sed -n 's/^window: Telvor Printer Install at //p' "$log")
mkdir -p "$(dirname "$out")"
convert "$wine_work/screen.png" -crop "${width}x${height}+${x}+${y}" +repage -strip "$out"
echo "wrote $out (${width} x ${height})"
