#!/usr/bin/env bash
# Runs install.exe under Wine (x86_64, fresh prefix, virtual display) against
# Wine's own spooler, confirms its message boxes and judges the result through
# the spooler API, the registry and the system directory.
#
# usage: install_under_wine.sh SCENARIO INSTALL_EXE QUOR_DLL QUORPROMPT_EXE TELVOR_DLL
#                              RUN_WATCHED_EXE SPOOLER_STATE_EXE NTPRINT_INF ENVIRONMENT
#                              VERSION
#   twice            a clean machine with the spooler stopped and another
#                    program's window in front, then a second run over that
#                    installation
#   missing-library  an installation, then a run with telvor.dll not beside
#                    install.exe, which must leave that installation in place
#   no-legacy-driver no ntprint.inf that gives "HP LaserJet 4/4M PS", as on
#                    Windows 8 and later: the class-driver fallback, as far
#                    as Wine goes
#   quiet            /quiet with settings, /quiet again without them, then
#                    the uninstall command of the Apps entry with /quiet
#
# Where Wine cannot do a step the output says so in a "wine limit:" line, and
# exactly that documented outcome is accepted.
set -uo pipefail
if [ $# -ne 10 ]; then
  sed -n '5,20p' "$0"
  exit 2
fi
scenario=$1 install_exe=$2 quor_dll=$3 quorprompt_exe=$4 telvor_dll=$5 run_watched=$6
spooler_state=$7 ntprint_inf=$8 environment=$9 version=${10}
case $scenario in
  twice | missing-library | no-legacy-driver | quiet) ;;
  *)
    echo "unknown scenario: $scenario"
    exit 2
    ;;
esac
here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=wine_session.sh
. "$here/wine_session.sh"

failures=0
fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}
pass() {
  echo "ok: $*"
}
# expect_line FILE LINE WHAT: FILE holds LINE exactly.
expect_line() {
  if grep -qxF -- "$2" "$1"; then pass "$3"; else fail "$3 (no line \"$2\")"; fi
}
expect_no_line() {
  if grep -qxF -- "$2" "$1"; then fail "$3 (line \"$2\")"; else pass "$3"; fi
}
expect_same_file() {  # built, installed, what
  if cmp -s "$1" "$2"; then pass "$3"; else fail "$3 ($2 differs from $1 or is missing)"; fi
}

wine_tools_or_exit cmp
for file in "$install_exe" "$quor_dll" "$quorprompt_exe" "$telvor_dll" "$run_watched" \
  "$spooler_state" "$ntprint_inf"; do
  if [ ! -f "$file" ]; then
    echo "missing build output: $file"
    exit 1
  fi
done
wine_session_start
echo "prefix: $WINEPREFIX, display $DISPLAY"

# No INF for the legacy driver: Wine's AddPrinterDriverW accepts the driver
# even from an INF without its section, so only a missing INF makes the
# legacy step fail here as it does on Windows 8 and later.
if [ "$scenario" != no-legacy-driver ]; then wine_supply_printer_inf "$ntprint_inf"; fi

# The folder the installer runs from.
setup_dir=$(wine_path telvor-setup)
mkdir -p "$setup_dir"
cp "$install_exe" "$setup_dir/install.exe"
cp "$quor_dll" "$setup_dir/quor.dll"
cp "$quorprompt_exe" "$setup_dir/quorprompt.exe"
cp "$telvor_dll" "$setup_dir/telvor.dll"

system_dir=$(wine_path windows/system32)
# The printer-driver directory of "Windows x64", the x86_64 installer's environment.
driver_dir=$(wine_path windows/system32/spool/drivers/x64)
printers_key='HKLM\System\CurrentControlSet\Control\Print\Printers\Telvor Printer'
monitor_key='HKLM\System\CurrentControlSet\Control\Print\Monitors\TelvorMon'
event_source_key='HKLM\System\CurrentControlSet\Services\EventLog\Application\TelvorMon'
log=$wine_work/log
mkdir -p "$log"

# run_install RUN [run_watched options]: runs install.exe under watch into
# $log/RUN and checks what every run must show: the manifest, the progress
# window without owner, each box above it, and our own window left enabled.
run_install() {
  local run=$1
  shift
  echo "== $run: install.exe"
  wine_run "$run_watched" "$@" 'C:\telvor-setup\install.exe' >"$log/$run" 2>&1
  sed 's/^/   /' "$log/$run"
  if ! grep -q '^exit: ' "$log/$run"; then fail "$run: the watched run did not end normally"; fi
  if grep -q '^window: Telvor Printer Install at ' "$log/$run"; then
    pass "$run: the progress window appeared"
  else
    fail "$run: the progress window did not appear"
  fi
  if grep -q '^prompt: ' "$log/$run"; then fail "$run: a setup prompt was shown"; fi
  expect_line "$log/$run" "manifest: requireAdministrator" \
    "$run: the manifest asks for administrator rights"
  if grep -q '^elevation: full' "$log/$run"; then
    echo "wine limit: $run: Wine gives every program a full administrator token, manifest" \
      "or not, so the elevation prompt that the manifest brings on Windows cannot show here"
  fi
  expect_line "$log/$run" "owner: none" "$run: the progress window has no owner"
  # Wine 8 keeps a box's MB_TOPMOST from its window (Windows makes it a
  # topmost window); above the progress window and in front it must be.
  local places
  places=$(grep '^place: ' "$log/$run" | sed 's/, topmost no,/, topmost yes,/' | sort -u)
  if [ "$places" = "place: above the progress window, topmost yes, foreground yes" ]; then
    pass "$run: every box lay above the progress window, in the foreground"
  else
    fail "$run: a box was not above the progress window in front: $places"
  fi
  if grep -q '^place: .*topmost no' "$log/$run"; then
    echo "wine limit: $run: the box asked for MB_TOPMOST, but Wine gives its window no" \
      "WS_EX_TOPMOST; Windows does"
  fi
  if grep -q '^other window: ' "$log/$run"; then
    expect_line "$log/$run" "other window: enabled" \
      "$run: the other program's window is enabled after the installer"
  fi
}

# run_quiet RUN PROGRAM ARGUMENT...: a run under watch that must show
# nothing and end by itself: no window, no box, no prompt.
run_quiet() {
  local run=$1
  shift
  echo "== $run: $*"
  wine_run "$run_watched" --start-spooler "$@" >"$log/$run" 2>&1
  sed 's/^/   /' "$log/$run"
  if grep -q '^exit: ' "$log/$run"; then pass "$run: ended by itself"; else
    fail "$run: the watched run did not end normally"; fi
  if grep -qE '^(window|box|prompt): ' "$log/$run"; then
    fail "$run: a window or box was shown"
  else
    pass "$run: no window, no box"
  fi
}

exit_code() { sed -n 's/^exit: //p' "$log/$1"; }
boxes() { grep '^box: ' "$log/$1"; }
# Every new spooler process after the first one seen is a restart.
spooler_restarts() { echo $(($(grep -c '^spooler: running' "$log/$1") - 1)); }

# state NAME: the spooler's view into $log/NAME.
state() {
  echo "== $1: spooler state"
  wine_run "$spooler_state" "$environment" >"$log/$1" 2>&1
  sed 's/^/   /' "$log/$1"
}

# Checks the outcome of a complete run. Wine 8 writes the new printer but
# fails AddPrinterW: the record leaves the data type absent, Windows' spooler
# then takes "RAW", Wine stores no "Datatype" value and its own OpenPrinter of
# the new printer fails with 1801 (ERROR_INVALID_PRINTER_NAME).
check_complete_run() {  # run, restarts expected on success
  local run=$1 restarts=$2 code
  code=$(exit_code "$run")
  if [ "$(boxes "$run")" = "box: Install: Install Success! (icon)" ] && [ "$code" = 0 ]; then
    pass "$run: \"Install Success!\" with the information icon, exit status 0"
    if [ "$(spooler_restarts "$run")" = "$restarts" ]; then
      pass "$run: the spooler restarted $restarts time(s)"
    else
      fail "$run: the spooler restarted $(spooler_restarts "$run") time(s), not $restarts"
    fi
    wine_limit=no
  elif [ "$(boxes "$run")" = 'box: Install: AddPrinter error 1801\n' ] && [ "$code" = 1801 ]; then
    echo "wine limit: $run: AddPrinterW wrote \"Telvor Printer\" but returned NULL with 1801:" \
      "Wine stores no \"Datatype\" for a printer added without one (Windows takes \"RAW\")," \
      "so Wine's own OpenPrinter of the new printer fails. The installer reported" \
      "\"AddPrinter error 1801\" and exited with 1801; closing the printer, the final spooler" \
      "restart and \"Install Success!\" could not run."
    if [ "$(spooler_restarts "$run")" = $((restarts - 1)) ]; then
      pass "$run: the spooler restarted $((restarts - 1)) time(s) before adding the printer"
    else
      fail "$run: the spooler restarted $(spooler_restarts "$run") time(s), not $((restarts - 1))"
    fi
    wine_limit=yes
  else
    fail "$run: neither \"Install Success!\" (exit 0) nor Wine's known AddPrinter failure" \
      "(exit 1801): exit $code, $(boxes "$run" | tr '\n' ' ')"
    wine_limit=unknown
  fi
}

check_installed() {  # state log, run
  local st=$1 run=$2 file
  expect_line "$st" "driver: HP LaserJet 4/4M PS" "$run: the driver \"HP LaserJet 4/4M PS\" is installed"
  for file in "${wine_driver_files[@]}"; do
    if [ -f "$driver_dir/$file" ]; then
      pass "$run: $file is in the printer-driver directory"
    else
      fail "$run: $file is not in the printer-driver directory"
    fi
  done
  expect_line "$st" "monitor: TelvorMon" "$run: the monitor \"TelvorMon\" is registered"
  expect_line "$st" $'port: FX:\tTelvorMon' "$run: the port \"FX:\" of \"TelvorMon\" is listed"
  expect_line "$st" $'printer: Telvor Printer\tFX:\tHP LaserJet 4/4M PS' \
    "$run: the printer \"Telvor Printer\" is on \"FX:\" with the driver"
  expect_same_file "$quor_dll" "$system_dir/quor.dll" "$run: quor.dll is in the system directory"
  expect_same_file "$quorprompt_exe" "$system_dir/quorprompt.exe" \
    "$run: quorprompt.exe is in the system directory"
  expect_same_file "$telvor_dll" "$system_dir/telvor.dll" \
    "$run: telvor.dll is in the system directory"
  expect_registry "$event_source_key" EventMessageFile REG_EXPAND_SZ 'C:\windows\system32\quor.dll' \
    "$run: the event-log source \"TelvorMon\" names the copied quor.dll"
  expect_registry "$event_source_key" TypesSupported REG_DWORD 0x7 \
    "$run: the event-log source supports errors, warnings and information"
}

# registry_text KEY VALUE: the data of a REG_SZ value, spaces included.
registry_text() {
  wine_run reg query "$1" /v "$2" 2>/dev/null | tr -d '\r' |
    awk -v name="$2" '$1 == name { sub(/^[ \t]*[^ \t]+[ \t]+REG_SZ[ \t]+/, ""); print }'
}
expect_text() {  # key, value, data, what
  local shown
  shown=$(registry_text "$1" "$2")
  if [ "$shown" = "$3" ]; then pass "$4"; else fail "$4 ($1 $2: \"$shown\", not \"$3\")"; fi
}

registry_has() {  # key, value
  wine_run reg query "$1" /v "$2" >/dev/null 2>&1
}

# expect_registry KEY VALUE TYPE DATA WHAT: reg query shows VALUE of TYPE
# holding DATA (the system directory's case as Wine spells it, compared
# without regard to case as Windows does).
expect_registry() {
  local shown
  shown=$(wine_run reg query "$1" /v "$2" 2>/dev/null | tr -d '\r' |
    awk -v name="$2" '$1 == name { print $2, $3 }')
  if [ "${shown,,}" = "${3,,} ${4,,}" ]; then pass "$5"; else
    fail "$5 ($1 $2: \"$shown\", not \"$3 $4\")"
  fi
}

case $scenario in
  twice)
    # On a Windows machine the spooler runs; here it is stopped, and the
    # installer must start it before its first scan.
    run_install first --other-window
    expect_line "$log/first" "spooler: stopped" "first: the spooler was stopped at the start"
    check_complete_run first 1
    state first-state
    check_installed "$log/first-state" first

    # Marks that only a deletion removes, and stale libraries, so that the
    # second run shows it replaced everything.
    if [ "$wine_limit" = yes ]; then
      echo "wine limit: giving the first run's printer the \"Datatype\" \"RAW\" that Windows" \
        "would have stored, so that the second run can open and delete it"
      wine_run reg add "$printers_key" /v Datatype /d RAW /f >/dev/null 2>&1
    fi
    wine_run reg add "$printers_key" /v TelvorTestMark /d "first run" /f >/dev/null 2>&1
    wine_run reg add "$monitor_key" /v TelvorTestMark /d "first run" /f >/dev/null 2>&1
    echo "stale copy" >"$system_dir/quor.dll"
    echo "stale copy" >"$system_dir/quorprompt.exe"
    echo "stale copy" >"$system_dir/telvor.dll"

    run_install second --start-spooler --other-window
    check_complete_run second 2
    state second-state
    check_installed "$log/second-state" second
    if registry_has "$printers_key" TelvorTestMark; then
      fail "second: the old printer was not deleted"
    else
      pass "second: the old printer was deleted and the printer added again"
    fi
    if registry_has "$monitor_key" TelvorTestMark; then
      fail "second: the old monitor was not deleted"
    else
      pass "second: the old monitor was deleted and \"TelvorMon\" registered again"
    fi
    ;;
  missing-library)
    run_install installed --start-spooler
    check_complete_run installed 1
    if [ "$wine_limit" = yes ]; then
      wine_run reg add "$printers_key" /v Datatype /d RAW /f >/dev/null 2>&1
    fi
    # Marks that only a deletion removes, and a stale library that only a
    # copy replaces.
    wine_run reg add "$printers_key" /v TelvorTestMark /d "installed" /f >/dev/null 2>&1
    wine_run reg add "$monitor_key" /v TelvorTestMark /d "installed" /f >/dev/null 2>&1
    echo "stale copy" >"$system_dir/quor.dll"
    cp "$system_dir/quor.dll" "$log/stale-quor.dll"
    rm "$setup_dir/telvor.dll"

    run_install missing --start-spooler
    if [ "$(boxes missing)" = 'box: Install: CopyFile2 error 2\n' ]; then
      pass "missing: the one box says \"CopyFile2 error 2\\n\" without an icon"
    else
      fail "missing: expected the one box \"CopyFile2 error 2\\n\", saw: $(boxes missing | tr '\n' ' ')"
    fi
    if [ "$(exit_code missing)" = 2 ]; then pass "missing: exit status 2"; else
      fail "missing: exit status $(exit_code missing), not 2"; fi
    if [ "$(spooler_restarts missing)" = 0 ]; then pass "missing: the spooler was not restarted"
    else fail "missing: the spooler was restarted"; fi
    state missing-state
    expect_line "$log/missing-state" "monitor: TelvorMon" "missing: the old monitor is still registered"
    expect_line "$log/missing-state" $'printer: Telvor Printer\tFX:\tHP LaserJet 4/4M PS' \
      "missing: the old printer is still there"
    if registry_has "$printers_key" TelvorTestMark && registry_has "$monitor_key" TelvorTestMark; then
      pass "missing: neither the old printer nor the old monitor was deleted"
    else
      fail "missing: the old printer or monitor was deleted"
    fi
    expect_same_file "$log/stale-quor.dll" "$system_dir/quor.dll" \
      "missing: quor.dll in the system directory was not touched"
    expect_same_file "$telvor_dll" "$system_dir/telvor.dll" \
      "missing: telvor.dll in the system directory was not touched"
    ;;
  no-legacy-driver)
    run_install fallback --start-spooler
    box=$(boxes fallback)
    code=$(exit_code fallback)
    legacy_steps='GetPrinterDriverDirectory|SetupOpenInfFile|SetupSetDirectoryId|SetupOpenFileQueue'
    legacy_steps+='|SetupInstallFilesFromInfSection|SetupInitDefaultQueueCallback|SetupCommitFileQueue'
    legacy_steps+='|AddPrinterDriver'
    shown=$(printf '%s' "$box" | sed -nE "s/^box: Install: ($legacy_steps) error (-?[0-9]+)\\\\n$/\\2/p")
    if [ -n "$shown" ] && [ "$code" = $((shown & 0xFFFFFFFF)) ]; then
      pass "fallback: the legacy driver step failed (\"${box#box: Install: }\"), exit status $code"
      echo "wine limit: fallback: Wine 8's winspool has no InstallPrinterDriverFromPackageW and" \
        "no driver store, so the \"Microsoft PS Class Driver\" cannot be installed here; the" \
        "installer then shows the legacy step's failure, as it does on Windows without the" \
        "class driver. The fallback itself is tested through fakes."
    else
      fail "fallback: expected one box of the legacy driver step and its code, saw:" \
        "$(printf '%s' "$box" | tr '\n' ' ') exit $code"
    fi
    state fallback-state
    expect_no_line "$log/fallback-state" "monitor: TelvorMon" "fallback: no monitor was registered"
    ;;
  quiet)
    uninstall_key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\TelvorPrinter'
    install_log=$(wine_path "ProgramData/Telvor Printer/install.log")
    printf 's3cret pass\r\nnot this\r\n' >"$(wine_path password.txt)"
    # The outcome of a quiet run is its exit status and the log's last line.
    quiet_outcome() {  # run, success line
      local code last
      code=$(exit_code "$1")
      last=$(tail -n 1 "$install_log" | tr -d '\r')
      if [ "$code" = 0 ] && [ "$last" = "$2" ]; then
        pass "$1: exit status 0, \"$2\" in the log"
      elif [ "$code" = 1801 ] && [ "$last" = "AddPrinter error 1801" ]; then
        echo "wine limit: $1: AddPrinterW wrote the printer but returned 1801 (see the" \
          "scenario twice); the log says \"AddPrinter error 1801\", the exit status is 1801." \
          "Settings and the Apps entry come before that step."
        wine_run reg add "$printers_key" /v Datatype /d RAW /f >/dev/null 2>&1
      else
        fail "$1: exit $code, last log line \"$last\""
      fi
    }
    check_settings() {  # run
      expect_text "$monitor_key" HylaFAXServerIp 10.1.2.3 "$1: the server is stored"
      expect_text "$monitor_key" User ann "$1: the user is stored"
      expect_text "$monitor_key" Password 's3cret pass' "$1: the password file's first line is stored"
      expect_text "$monitor_key" Attempts 4 "$1: the attempts are stored"
      expect_text "$monitor_key" MailAddress '%u@example.com' "$1: the mail address is stored"
    }

    run_quiet settings 'C:\telvor-setup\install.exe' /quiet /server 10.1.2.3 /user ann \
      /password-file 'C:\password.txt' /attempts 4 /mail '%u@example.com'
    quiet_outcome settings "Install Success!"
    check_settings settings
    if grep -q s3cret "$install_log"; then fail "settings: the password is in the log"; else
      pass "settings: the password is not in the log"; fi
    expect_text "$uninstall_key" DisplayName "Telvor Printer" "settings: the Apps entry's name"
    expect_text "$uninstall_key" DisplayVersion "$version" "settings: the Apps entry's version"
    expect_text "$uninstall_key" Publisher Telvor "settings: the Apps entry's publisher"
    expect_text "$uninstall_key" QuietUninstallString \
      '"C:\windows\system32\telvor-install.exe" /uninstall /quiet' \
      "settings: the quiet uninstall command runs the copy in the system directory"
    expect_same_file "$install_exe" "$system_dir/telvor-install.exe" \
      "settings: install.exe is copied into the system directory"

    # The unpacked folder goes; an upgrade without settings keeps them.
    run_quiet upgrade 'C:\telvor-setup\install.exe' /quiet
    quiet_outcome upgrade "Install Success!"
    check_settings upgrade
    rm -r "$setup_dir"

    run_quiet removed 'C:\windows\system32\telvor-install.exe' /uninstall /quiet
    quiet_outcome removed "Uninstall Success!"
    state removed-state
    expect_no_line "$log/removed-state" "monitor: TelvorMon" "removed: the monitor is gone"
    expect_no_line "$log/removed-state" $'printer: Telvor Printer\tFX:\tHP LaserJet 4/4M PS' \
      "removed: the printer is gone"
    for key in "$monitor_key" "$uninstall_key" "$event_source_key"; do
      if wine_run reg query "$key" >/dev/null 2>&1; then fail "removed: $key is still there"; else
        pass "removed: $key is gone"; fi
    done
    for file in quor.dll telvor.dll quorprompt.exe; do
      if [ -e "$system_dir/$file" ]; then fail "removed: $file is still in the system directory"
      else pass "removed: $file is gone from the system directory"; fi
    done
    # The running program cannot delete itself: Windows removes it at its
    # next start.
    pending=$(wine_run reg query 'HKLM\System\CurrentControlSet\Control\Session Manager' \
      /v PendingFileRenameOperations 2>/dev/null | tr -d '\r')
    if [ ! -e "$system_dir/telvor-install.exe" ]; then
      pass "removed: telvor-install.exe is gone from the system directory"
    elif [[ ${pending,,} == *'system32\telvor-install.exe'* ]]; then
      pass "removed: telvor-install.exe, running, is to be removed at the next start of Windows"
    else
      fail "removed: telvor-install.exe is still there and not marked for removal"
    fi
    ;;
esac

if [ $failures -gt 0 ]; then
  echo "$failures check(s) failed; KEEP_WINE_PREFIX=1 keeps the prefix for a look"
  exit 1
fi
echo "all checks passed"
