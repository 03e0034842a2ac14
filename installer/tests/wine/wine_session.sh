# shellcheck shell=bash
# Sourced by the installer's Wine scripts: a virtual display and a fresh Wine
# prefix of their own, kept alive for a few program starts and removed on exit.
# Defines: wine_tools_or_exit, wine_session_start, wine_run, wine_path,
# wine_supply_printer_inf, wine_driver_files.

wine_loader=/usr/lib/wine/wine64
wine_server=/usr/lib/wine/wineserver
wine_work=
wine_xvfb_pid=

# Exits when a tool is missing: a failure under CI=true, otherwise a skip
# (status 77) that says what to install.
wine_tools_or_exit() {
  local missing=()
  [ -x "$wine_loader" ] || missing+=("wine64 ($wine_loader)")
  [ -x "$wine_server" ] || missing+=("wineserver ($wine_server)")
  local tool
  for tool in Xvfb "$@"; do
    command -v "$tool" >/dev/null 2>&1 || missing+=("$tool")
  done
  if [ ${#missing[@]} -gt 0 ]; then
    echo "missing: ${missing[*]} (tools/setup.sh installs them)"
    if [ "${CI:-}" = true ]; then exit 1; fi
    exit 77
  fi
}

wine_session_stop() {
  if [ -n "${WINEPREFIX:-}" ] && [ -d "$WINEPREFIX" ]; then
    "$wine_server" -k >/dev/null 2>&1
    "$wine_server" -w >/dev/null 2>&1
  fi
  if [ -n "$wine_xvfb_pid" ]; then kill "$wine_xvfb_pid" 2>/dev/null; fi
  if [ -n "$wine_work" ]; then
    if [ "${KEEP_WINE_PREFIX:-}" = 1 ]; then
      echo "kept: $wine_work"
    else
      rm -rf "$wine_work"
    fi
  fi
}

# Starts Xvfb and makes a new prefix under a new temporary directory, which
# "$wine_work" names afterwards.
wine_session_start() {
  wine_work=$(mktemp -d "${TMPDIR:-/tmp}/telvor-wine.XXXXXX")
  trap wine_session_stop EXIT
  local fifo=$wine_work/display
  mkfifo "$fifo"
  Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$fifo" >/dev/null 2>&1 &
  wine_xvfb_pid=$!
  local display=
  read -r -t 20 display <"$fifo" || true
  if [ -z "$display" ]; then
    echo "Xvfb did not start"
    exit 1
  fi
  export DISPLAY=:$display
  export WINEPREFIX=$wine_work/pfx WINEDEBUG=-all WINEARCH=win64
  # No Mono or Gecko installer prompts in the new prefix.
  export WINEDLLOVERRIDES="mscoree,mshtml="
  if ! "$wine_loader" wineboot -i >/dev/null 2>&1; then
    echo "wineboot failed to make a prefix"
    exit 1
  fi
  # Let the prefix's first session settle (its services hold the service
  # database meanwhile), then keep one server for the rest of the session.
  "$wine_server" -w
  "$wine_server" -p
}

# Runs a Windows program in the session's prefix.
wine_run() {
  "$wine_loader" "$@"
}

# The POSIX path of a path on the prefix's drive C: (given with / as separator).
wine_path() {
  echo "$WINEPREFIX/drive_c/$1"
}

wine_driver_files=(PSCRIPT5.DLL HP4M6_V1.PPD PS5UI.DLL PSCRIPT.HLP PSCRIPT.NTF)

# Puts the printer INF and its five stand-in driver files into C:\windows\inf:
# a fresh prefix has neither. The files sit beside the INF, where the Setup API
# looks when no source path is given; a missing one would open a blocking
# "insert disk" prompt.
wine_supply_printer_inf() {  # the INF
  local inf_dir file
  inf_dir=$(wine_path windows/inf)
  cp "$1" "$inf_dir/ntprint.inf"
  for file in "${wine_driver_files[@]}"; do
    printf 'stand-in for %s\r\n' "$file" >"$inf_dir/$file"
  done
}
