# shellcheck shell=bash
# shellcheck disable=SC2154 # build and cups_tests are the sourcing script's
# A private cupsd for one test: its own folders under $work, listening on a
# socket there only; the system's CUPS is never touched. Sourced by the CUPS
# tests and tools/demo.sh (run as root), with:
#   build    the native build folder (its install is what CUPS runs)
#   work     an empty folder for this cupsd (made searchable: jobs run as lp)
#   cups_library_path  (optional) LD_LIBRARY_PATH for the backend, inside
#            the install (cupsd passes no LD_ variable on: the backend is
#            then run through a script that sets it)
#   cups_installed  (optional) non-empty: nothing is installed here; CUPS's
#            own ServerBin and data folders are used, where a package puts
#            the backend and the PPD
# It installs the build into $cups_dir/root (cmake --install with DESTDIR),
# so the backend sits in a real root-owned backend folder of ServerBin with
# the plug-ins where the install puts them. Sets: cups_dir (what user lp
# reads: $work, or a folder under /tmp when lp cannot reach $work, as in a
# private home, or its socket's path would be too long), sock, root, ppd,
# spool.

cups_sbin=/usr/sbin

cups_start() {
  chmod 755 "$work"
  cups_dir=$work
  cups_private=
  if [ ${#work} -gt 90 ] || ! setpriv --reuid=lp --regid=lp --clear-groups test -x "$work"; then
    cups_private=$(mktemp -d /tmp/telvor-cups.XXXXXX)
    chmod 755 "$cups_private"
    cups_dir=$cups_private
    echo "user lp cannot reach $work (or its path is too long): CUPS runs in $cups_dir"
  fi
  local work=$cups_dir
  local serverbin=/usr/lib/cups data=/usr/share/cups
  if [ -z "${cups_installed:-}" ]; then
    cups_install || return 1
    data=$work/data
  fi
  spool=$work/spool
  sock=$work/cups.sock
  mkdir -p "$work/etc" "$work/log" "$work/cache" "$work/state" "$spool/tmp"
  cat >"$work/etc/cupsd.conf" <<CONF
LogLevel debug
Listen $sock
Browsing No
WebInterface No
DefaultAuthType None
MaxJobTime 60
# A job the backend asks to retry later (its server unreachable) is tried
# again a second later, so that the tests see it sent without waiting long.
JobRetryInterval 1
<Policy default>
  <Limit All>
    Order deny,allow
  </Limit>
</Policy>
CONF
  cat >"$work/etc/cups-files.conf" <<CONF
ServerRoot $work/etc
ServerBin $serverbin
DataDir $data
RequestRoot $spool
TempDir $spool/tmp
CacheDir $work/cache
StateDir $work/state
AccessLog $work/log/access_log
ErrorLog $work/log/error_log
PageLog $work/log/page_log
Printcap $work/printcap
CONF
  $cups_sbin/cupsd -f -c "$work/etc/cupsd.conf" -s "$work/etc/cups-files.conf" \
    >"$work/log/cupsd.out" 2>&1 &
  cups_pid=$!
  local _
  for _ in $(seq 100); do
    lpstat -h "$sock" -r 2>/dev/null | grep -q "is running" && return 0
    sleep 0.05
  done
  echo "the private cupsd did not start:" >&2
  cat "$work/log/cupsd.out" "$work/log/error_log" >&2
  return 1
}

# The build installed under $work/root (DESTDIR): the backend in a real
# ServerBin/backend folder beside links to CUPS's own, the PPD a model of
# CUPS's data. Sets root, ppd and serverbin (a local of cups_start).
cups_install() {
  root=$work/root
  DESTDIR=$root cmake --install "$build" >"$work/install.log" || {
    cat "$work/install.log"
    return 1
  }
  serverbin=$root/usr/lib/cups
  local entry
  for entry in /usr/lib/cups/*; do
    [ "$(basename "$entry")" = backend ] || ln -sfn "$entry" "$serverbin/"
  done
  if [ -n "${cups_library_path:-}" ]; then
    mkdir -p "$serverbin/backend-real"
    mv "$serverbin/backend/telvor" "$serverbin/backend-real/telvor"
    # shellcheck disable=SC2016 # "$0" and "$@" are the wrapper's own
    printf '#!/bin/bash\nLD_LIBRARY_PATH=%s exec -a "$0" %s "$@"\n' \
      "$root$cups_library_path" "$serverbin/backend-real/telvor" >"$serverbin/backend/telvor"
    chmod 755 "$serverbin/backend/telvor"
  fi
  ppd=$(find "$root" -name telvor.ppd | head -1)
  # CUPS's data with the installed PPD as a model, so that lpadmin -m finds
  # it as it finds it in /usr/share/cups/model after an install.
  mkdir -p "$work/data/model"
  for entry in /usr/share/cups/*; do
    [ "$(basename "$entry")" = model ] || ln -sfn "$entry" "$work/data/"
  done
  ln -sfn "$(dirname "$ppd")" "$work/data/model/"
}

cups_stop() {
  [ -n "${cups_pid:-}" ] || return 0
  kill "$cups_pid" 2>/dev/null || true
  wait "$cups_pid" 2>/dev/null || true
  cups_pid=
  [ -z "${cups_private:-}" ] || rm -rf "$cups_private"
}

# job_state ID: "STATE,MESSAGE" as the queue has it (STATE: completed,
# pending-held, pending, processing, canceled, aborted, ...).
job_state() {
  local uri
  uri="ipp://$(printf %s "$sock" | sed 's|/|%2F|g')/printers/${queue:-Telvor_Printer}"
  ipptool -c -d job="$1" "$uri" "$cups_tests/job-state.test" | tail -1
}

# wait_job ID STATES [SECONDS]: waits (up to SECONDS, 30 by default) until
# the job is in one of the states (a regular expression); prints
# "STATE,MESSAGE".
wait_job() {
  local state _
  for _ in $(seq $((${3:-30} * 10))); do
    state=$(job_state "$1")
    if [[ ${state%%,*} =~ ^($2)$ ]]; then
      echo "$state"
      return 0
    fi
    sleep 0.1
  done
  echo "$state"
  return 1
}
