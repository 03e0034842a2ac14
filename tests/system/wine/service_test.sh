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
usage="service_test.sh --host EXE --faxserver PROGRAM --work DIR"
# shellcheck source=job_common.sh
. "$here/job_common.sh"

address=127.0.4.3
number=5557654
note="Sent from a service"

rm -rf "$work"
mkdir -p "$work/spool" "$work/reports"
server_pid=
cleanup() { [ -n "$server_pid" ] && kill "$server_pid" 2>/dev/null; }
trap cleanup EXIT

start_faxserver $address

timeout 380 "$run" "$(winpath "$host")" "$address" "$number" "$note" "$(winpath "$work/reports")" \
  >"$work/host.log" 2>&1
status=$?
tr -d '\r' <"$work/host.log" | grep -v '^X connection to'

[ $status -eq 0 ] || fail "the Windows test program exited with $status"
tr -d '\r' <"$work/host.log" | grep -qx 'all checks passed' || fail "the Windows test program's checks"
jobs=$(find "$work/spool" -name 'job*.txt' | wc -l)
[ "$jobs" -eq 1 ] && echo "ok: one job reached the server (cancelled and unanswered ones did not)" ||
  fail "$jobs jobs reached the server, not 1"
check_stored_job "$number" "$note"
exit $failed
