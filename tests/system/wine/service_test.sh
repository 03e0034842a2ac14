#!/usr/bin/env bash
# Prints through quor.dll inside a service process under Wine: the monitor's
# dialogs come up in its separate prompt program, which the Windows test
# program answers as the person at the screen would. Four jobs: answered
# (the only one the native embedded fax server may store, with the number
# typed), cancelled, prompt killed and prompt timed out.
#
#   service_test.sh --host telvor-service-job.exe --faxserver telvor-faxserver --work DIR
#
# Exit status 0 when all is well, 77 (skipped) when a tool is missing, except
# under CI=true, where a missing tool fails.
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
run=$here/../../../tools/wine/run.sh
host= faxserver= work=
while [ $# -gt 0 ]; do
  case $1 in
    --host) host=$2; shift 2 ;;
    --faxserver) faxserver=$2; shift 2 ;;
    --work) work=$2; shift 2 ;;
    *) echo "unknown argument $1" >&2; exit 2 ;;
  esac
done
[ -n "$host" ] && [ -n "$work" ] || { echo "usage: service_test.sh --host EXE --faxserver PROGRAM --work DIR" >&2; exit 2; }

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

address=127.0.4.3
number=5557654
note="Sent from a service"
winpath() { printf 'Z:%s' "$1" | tr '/' '\\'; }

rm -rf "$work"
mkdir -p "$work/spool" "$work/reports"
server_pid=
cleanup() { [ -n "$server_pid" ] && kill "$server_pid" 2>/dev/null; }
trap cleanup EXIT

"$faxserver" --address $address --dir "$work/spool" --ready-file "$work/ready" \
  >"$work/faxserver.log" 2>&1 &
server_pid=$!
for _ in $(seq 100); do [ -e "$work/ready" ] && break; sleep 0.1; done
[ -e "$work/ready" ] || { echo "the embedded fax server did not start:" >&2; cat "$work/faxserver.log" >&2; exit 1; }

timeout 380 "$run" "$(winpath "$host")" "$address" "$number" "$note" "$(winpath "$work/reports")" \
  >"$work/host.log" 2>&1
status=$?
tr -d '\r' <"$work/host.log" | grep -v '^X connection to'

failed=0
fail() { echo "FAILED: $*"; failed=1; }
[ $status -eq 0 ] || fail "the Windows test program exited with $status"
tr -d '\r' <"$work/host.log" | grep -qx 'all checks passed' || fail "the Windows test program's checks"
jobs=$(find "$work/spool" -name 'job*.txt' | wc -l)
[ "$jobs" -eq 1 ] && echo "ok: one job reached the server (cancelled and unanswered ones did not)" ||
  fail "$jobs jobs reached the server, not 1"
job=$work/spool/job1.txt
if [ -f "$job" ]; then
  for line in "JPARM DIALSTRING $number" "JPARM JOBINFO $note" "JPARM MAXDIALS 4" \
    "JPARM FROMUSER wine" "JPARM NOTIFYADDR wine@example.com"; do
    grep -qxF "$line" "$job" && echo "ok: the stored job has \"$line\"" || fail "no \"$line\" in $job"
  done
fi
exit $failed
