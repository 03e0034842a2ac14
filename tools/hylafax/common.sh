# shellcheck shell=bash disable=SC2034  # the variables serve the scripts that source this
# Shared by start.sh and stop.sh: where Debian's HylaFAX server lives, the
# loopback address the tests use, and where the scripts keep the daemons'
# process ids and output. Sourced, not run.
spool=/var/spool/hylafax
address=${TELVOR_HYLAFAX_ADDRESS:-127.0.3.1}
port=4559
# The modems registered with the scheduler: the one jobs name by default, and
# one of another name, as a server whose modem is a USB or IAX one has.
modems=(ttyS0 ttyIAX0)
# "USER:PASSWORD": a second, strict server over a private copy of the spool,
# which lets in only that user with that password and registers no modem, so
# that the scheduler refuses every submission. Empty: the tests' usual server.
strict_login=${TELVOR_HYLAFAX_STRICT_LOGIN:-}
# Where the scripts keep a server's state; start.sh finds the schedulers it
# started through these names.
state=${TELVOR_HYLAFAX_STATE:-${TMPDIR:-/tmp}/telvor-hylafax${strict_login:+-strict}}
# CTest's SKIP_RETURN_CODE for "HylaFAX is not here" outside CI.
skip_status=77
PATH=$PATH:/usr/sbin:/sbin

# Ends the script: a failure under CI=true, a skip otherwise.
unavailable() {
  if [ "${CI:-}" = true ]; then
    echo "HylaFAX test server: $1 (required under CI=true)" >&2
    exit 1
  fi
  echo "HylaFAX test server skipped: $1"
  exit $skip_status
}

# The daemons run as root (they drop to the fax user themselves) and the spool
# belongs to the system: run as root, or again through a password-less sudo.
need_root() {
  if [ "$(id -u)" -eq 0 ]; then return; fi
  if command -v sudo >/dev/null && sudo -n true 2>/dev/null; then
    exec sudo -n env CI="${CI:-}" TELVOR_HYLAFAX_ADDRESS="$address" \
      TELVOR_HYLAFAX_STATE="$state" TELVOR_HYLAFAX_STRICT_LOGIN="$strict_login" "$0" "$@"
  fi
  unavailable "needs root or password-less sudo"
}

# True while process `pid` runs (a zombie counts as gone).
alive() {
  local stat
  stat=$(ps -o stat= -p "$1" 2>/dev/null) || return 1
  [ "${stat:0:1}" != Z ]
}

# True when something accepts connections at the test address.
answers() {
  timeout 2 bash -c "exec 3<>/dev/tcp/$address/$port" 2>/dev/null
}
