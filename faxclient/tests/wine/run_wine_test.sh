#!/usr/bin/env bash
# Runs the Windows test program under Wine against the native embedded fax
# server, then checks the result, the job the server stored and the log:
# run_wine_test.sh NATIVE_BUILD_DIR WINE_RUNNER PROGRAM
set -uo pipefail
native=$1
runner=$2
program=$3
address=127.0.4.1
server=$native/tools/faxserver/telvor-faxserver

if [ -z "$native" ] || [ ! -x "$server" ]; then
  message="no embedded fax server at '$server': build the native tree and configure this one with -DTELVOR_NATIVE_BUILD=<native build dir>"
  if [ "${CI:-}" = true ]; then
    echo "$message" >&2
    exit 1
  fi
  echo "skipped: $message" >&2
  exit 77
fi

work=$(mktemp -d)
server_pid=
cleanup() {
  if [ -n "$server_pid" ]; then
    kill "$server_pid" 2>/dev/null
    wait "$server_pid" 2>/dev/null
  fi
  rm -rf "$work"
}
trap cleanup EXIT

"$server" --address "$address" --dir "$work/store" --ready-file "$work/ready" &
server_pid=$!
for _ in $(seq 100); do
  [ -e "$work/ready" ] && break
  sleep 0.1
done
if [ ! -e "$work/ready" ]; then
  echo "the embedded fax server did not start" >&2
  exit 1
fi

# Bytes ahead of the marker are never sent.
printf 'junk\n%%!PS-Adobe-3.0\n%%%%Pages: 1\nshowpage\n' >"$work/page.ps"
(cd "$work" && "$runner" "$program" "$address" page.ps)
result=$?

fail() {
  echo "FAILED: $*" >&2
  echo "--- telvor.log" >&2
  cat "$work/telvor.log" >&2 2>/dev/null
  exit 1
}
[ "$result" -eq 0 ] || fail "sendfax under Wine ended with status $result"
[ -f "$work/store/job1.txt" ] || fail "no job stored"
for line in 'JPARM DIALSTRING 5551234' 'JPARM NOTIFYADDR alice@example.com' \
  'JPARM MODEM ttyS0' 'JPARM FROMUSER alice' 'JPARM JOBINFO sent under Wine' \
  'JPARM MAXDIALS 9' 'JSUBM'; do
  grep -qxF "$line" "$work/store/job1.txt" || fail "job lacks '$line'"
done
tail -c +6 "$work/page.ps" | cmp -s - "$work/store/job1.ps" || fail "stored document differs"
# The log is written in text mode: every line ends in CR LF under Windows.
head -n 1 "$work/telvor.log" | cmp -s - <(printf 'sendfax log start - debug mode\r\n') ||
  fail "log header"
grep -qF $'password: secret\r' "$work/telvor.log" || fail "log lacks the password line"
grep -qF $'server tmp file: ' "$work/telvor.log" || fail "log lacks the server file name"
tail -n 2 "$work/telvor.log" | head -n 1 | grep -q '^recv<--' || fail "log does not end with a reply"
echo "sendfax under Wine: result 0, job and log as expected"
