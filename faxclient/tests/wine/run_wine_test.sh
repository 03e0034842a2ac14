#!/usr/bin/env bash
# Runs the Windows test program under Wine against the native embedded fax
# server, then checks the result, the job the server stored and the log and
# its access list; then against a server that sends an urgent byte during the
# upload, which must end with the time limit, without spinning:
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
server_pids=()
cleanup() {
  for pid in "${server_pids[@]}"; do
    kill "$pid" 2>/dev/null
    wait "$pid" 2>/dev/null
  done
  rm -rf "$work"
}
trap cleanup EXIT

# start_server ADDRESS DIR [BEHAVIOUR...]
start_server() {
  local at=$1 dir=$2
  shift 2
  "$server" --address "$at" --dir "$dir" --ready-file "$dir.ready" "$@" &
  server_pids+=($!)
  for _ in $(seq 100); do
    [ -e "$dir.ready" ] && return
    sleep 0.1
  done
  echo "the embedded fax server did not start" >&2
  exit 1
}

fail() {
  echo "FAILED: $*" >&2
  echo "--- telvor.log" >&2
  cat "$1/telvor.log" >&2 2>/dev/null
  exit 1
}

# A whole call. Bytes ahead of the marker are never sent.
mkdir "$work/sent"
start_server "$address" "$work/store"
printf 'junk\n%%!PS-Adobe-3.0\n%%%%Pages: 1\nshowpage\n' >"$work/sent/page.ps"
(cd "$work/sent" && "$runner" "$program" "$address" page.ps)
result=$?
sent=$work/sent
[ "$result" -ne 90 ] || fail "$sent" "telvor.log can be read by others (its access list above)"
[ "$result" -eq 0 ] || fail "$sent" "sendfax under Wine ended with status $result"
[ -f "$work/store/job1.txt" ] || fail "$sent" "no job stored"
for line in 'JPARM DIALSTRING 5551234' 'JPARM NOTIFYADDR alice@example.com' \
  'JPARM MODEM ttyS0' 'JPARM FROMUSER alice' 'JPARM JOBINFO sent under Wine' \
  'JPARM MAXDIALS 9' 'JSUBM'; do
  grep -qxF "$line" "$work/store/job1.txt" || fail "$sent" "job lacks '$line'"
done
tail -c +6 "$sent/page.ps" | cmp -s - "$work/store/job1.ps" || fail "$sent" "stored document differs"
# The log is written in text mode: every line ends in CR LF under Windows.
head -n 1 "$sent/telvor.log" | cmp -s - <(printf 'sendfax log start - debug mode\r\n') ||
  fail "$sent" "log header"
grep -qF $'password: ******\r' "$sent/telvor.log" || fail "$sent" "log lacks the masked password line"
grep -qF $'server tmp file: ' "$sent/telvor.log" || fail "$sent" "log lacks the server file name"
tail -n 1 "$sent/telvor.log" | cmp -s - <(printf 'job id: 1\r\n') ||
  fail "$sent" "log does not end with the job id"
echo "sendfax under Wine: result 0, job, log and its access list as expected"

# A folder where the log cannot be made (a folder of that name is in the
# way): the fax still goes out.
mkdir -p "$work/nolog/telvor.log"
cp "$sent/page.ps" "$work/nolog/"
(cd "$work/nolog" && "$runner" "$program" "$address" page.ps nolog)
result=$?
[ "$result" -eq 0 ] || fail "$work/nolog" "without a log: status $result"
[ -f "$work/store/job2.txt" ] || fail "$work/nolog" "without a log: no job stored"
echo "sendfax under Wine: a log that cannot be made does not stop the fax"

# A server that sends one urgent byte on the data connection and then takes
# nothing more: the upload's wait must not wake for the urgent byte, and the
# time limit (60 s) must end the call. The document outgrows the buffers.
mkdir "$work/urgent"
start_server 127.0.4.2 "$work/urgent-store" --urgent-data
{
  printf '%%!PS-Adobe-3.0\n'
  head -c $((16 << 20)) /dev/zero | tr '\0' '%'
} >"$work/urgent/big.ps"
started=$(date +%s)
output=$(cd "$work/urgent" && "$runner" "$program" 127.0.4.2 big.ps)
result=$?
elapsed=$(($(date +%s) - started))
echo "$output"
urgent=$work/urgent
[ "$result" -eq $((256 - 50)) ] || fail "$urgent" "urgent byte: status $result, not -50"
tail -n 1 "$urgent/telvor.log" | cmp -s - <(printf 'send data - timeout\r\n') ||
  fail "$urgent" "urgent byte: the log does not end with the send time-out"
{ [ "$elapsed" -ge 55 ] && [ "$elapsed" -le 150 ]; } ||
  fail "$urgent" "urgent byte: the call took $elapsed s, not the 60 s limit"
processor_ms=$(tr -d '\r' <<<"$output" | sed -n 's/^processor ms //p')
{ [ -n "$processor_ms" ] && [ "$processor_ms" -lt 5000 ]; } ||
  fail "$urgent" "urgent byte: ${processor_ms:-?} ms of processor time: the wait spun"
echo "sendfax under Wine: an urgent byte during the upload waits out the limit (${elapsed} s, ${processor_ms} ms of processor time)"
