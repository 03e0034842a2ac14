#!/usr/bin/env bash
# Starts Debian's HylaFAX server for the tests: the scheduler faxq, the
# protocol server hfaxd bound to 127.0.3.1 port 4559 only, and the send-only
# modems ttyS0 and ttyIAX0 registered with faxmodem so that submissions are
# accepted.
# Nothing is dialled: hold-job.sh stands in for the transmit command.
# With TELVOR_HYLAFAX_STRICT_LOGIN=USER:PASSWORD (and an address and state
# directory of its own) it starts the strict server instead: over a private
# copy of the spool, letting in only USER with PASSWORD, with no modem.
# Returns once the port answers. Exit 77 (a skip) when HylaFAX or root is
# missing, unless CI=true, where that fails.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
. "$here/common.sh"

for program in faxq hfaxd faxmodem; do
  command -v $program >/dev/null || unavailable "$program not installed (Debian package hylafax-server)"
done
if [ ! -d "$spool" ] || [ ! -d /etc/hylafax ]; then
  unavailable "$spool or /etc/hylafax missing"
fi
need_root "$@"
if ! unshare --mount --propagation private true 2>/dev/null; then
  unavailable "no mount namespace for the daemons' configuration (unshare needs CAP_SYS_ADMIN)"
fi

# Daemons left by an earlier run that never reached stop.sh.
"$here/stop.sh" >/dev/null
# Another scheduler over the system's spool would take our jobs. The strict
# server has a spool of its own; the schedulers these scripts started run in
# sessions of their own, recorded in their state directories.
ours=" $(cat "${TMPDIR:-/tmp}"/telvor-hylafax*/faxq.pid 2>/dev/null | tr '\n' ' ' || true) "
others=$( (ps -C faxq -o pid=,sid=,stat= || true) | awk -v ours="$ours" \
  '$3 !~ /^Z/ && index(ours, " " $2 " ") == 0 {print $1}')
if [ -z "$strict_login" ] && [ -n "$others" ]; then
  echo "a HylaFAX scheduler not started by these scripts runs (pid $others); stop it first" >&2
  exit 1
fi
if answers; then
  echo "something else already listens on $address:$port" >&2
  exit 1
fi

# The daemons read their configuration from the spool's etc/. They get a
# fresh copy of /etc/hylafax there, seen by them alone (a mount namespace of
# their own), so the system's files stay as they are whatever etc/ holds.
mkdir -p "$state"
rm -rf "${state:?}/etc"
cp -a /etc/hylafax "$state/etc"
printf 'SendFaxCmd:\t%s\n' "$here/hold-job.sh" >>"$state/etc/config"
# The strict server's spool: a copy, seen by its daemons in place of the
# system's; its hosts.hfaxd asks everybody for a password.
spool_source=$spool
if [ -n "$strict_login" ]; then
  rm -rf "${state:?}/spool"
  cp -a "$spool" "$state/spool"
  # Without the usual server's jobs, which its scheduler would take up again.
  find "$state/spool/sendq" "$state/spool/doneq" -name 'q[0-9]*' -delete
  find "$state/spool/docq" "$state/spool/tmp" -mindepth 1 -delete
  spool_source=$state/spool
  user=${strict_login%%:*}
  # crypt(3) SHA-512 through Perl, which every Debian system has.
  salt=$(od -An -N8 -tx1 /dev/urandom | tr -d ' \n')
  hash=$(perl -e 'print crypt($ARGV[0], "\$6\$" . $ARGV[1] . "\$")' "${strict_login#*:}" "$salt")
  uid=$(stat -c %u "$spool/sendq")
  printf '^%s@:%s:%s:\n' "$user" "$uid" "$hash" >"$state/etc/hosts.hfaxd"
  chmod 600 "$state/etc/hosts.hfaxd"
  chown --reference=/etc/hylafax/hosts.hfaxd "$state/etc/hosts.hfaxd"
fi
# A program run from the spool in that namespace; each step execs the next,
# so the id of the background job is the daemon's own.
# shellcheck disable=SC2016  # expanded by the inner shell
in_spool=(unshare --mount --propagation private --
  sh -c 'mount --bind "$1" "$3" && mount --bind "$2" "$3/etc" && cd "$3" && shift 3 && exec "$@"'
  sh "$spool_source" "$state/etc" "$spool")
# Kept in the foreground (-D, -d) so that their ids are known; in a session of
# their own, with no terminal and no pipe of the caller's held open.
setsid "${in_spool[@]}" faxq -D </dev/null >"$state/faxq.log" 2>&1 &
echo $! >"$state/faxq.pid"
setsid "${in_spool[@]}" hfaxd -d -l "$address" -i "$port" </dev/null >"$state/hfaxd.log" 2>&1 &
echo $! >"$state/hfaxd.pid"

fail() {
  echo "$1" >&2
  for log in "$state"/*.log; do
    if [ -s "$log" ]; then
      echo "--- $log" >&2
      cat "$log" >&2
    fi
  done
  "$here/stop.sh" >/dev/null
  exit 1
}

for _ in $(seq 100); do
  answers && break
  alive "$(cat "$state/hfaxd.pid")" || fail "hfaxd ended at start"
  sleep 0.2
done
answers || fail "hfaxd does not answer on $address:$port"

if [ -n "$strict_login" ]; then
  echo "strict HylaFAX server ready on $address:$port (login ${strict_login%%:*} only, no modem)"
  exit 0
fi

# faxmodem talks to faxq through its FIFO, which takes a moment to open. Its
# message reaches faxq ahead of any later submission through the same FIFO.
for modem in "${modems[@]}"; do
  registered=false
  for _ in $(seq 50); do
    alive "$(cat "$state/faxq.pid")" || fail "faxq ended at start"
    if "${in_spool[@]}" faxmodem "$modem" >"$state/faxmodem.log" 2>&1; then
      registered=true
      break
    fi
    sleep 0.2
  done
  $registered || fail "faxmodem could not register $modem with faxq"
done

echo "HylaFAX server ready on $address:$port (modems ${modems[*]}, spool $spool)"
