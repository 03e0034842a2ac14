# shellcheck shell=bash
# What the Wine job tests share: their arguments, the tools they need, the
# native embedded fax server and the check of the job it stored. Sourced by
# job_test.sh and service_test.sh after `usage` is set; not run.
run=$here/../../../tools/wine/run.sh
host= faxserver= work= shots=
while [ $# -gt 0 ]; do
  case $1 in
    --host) host=$2; shift 2 ;;
    --faxserver) faxserver=$2; shift 2 ;;
    --work) work=$2; shift 2 ;;
    --screenshots) shots=$2; shift 2 ;;
    *) echo "unknown argument $1" >&2; exit 2 ;;
  esac
done
[ -n "$host" ] && [ -n "$work" ] || { echo "usage: $usage" >&2; exit 2; }

# A missing tool: a failure under CI=true, a skip (77) otherwise.
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

winpath() { printf 'Z:%s' "$1" | tr '/' '\\'; }

failed=0
fail() { echo "FAILED: $*"; failed=1; }

# Starts the embedded fax server on `address`, storing into $work/spool; its
# process id in server_pid.
start_faxserver() {
  "$faxserver" --address "$1" --dir "$work/spool" --ready-file "$work/ready" \
    >"$work/faxserver.log" 2>&1 &
  server_pid=$!
  for _ in $(seq 100); do [ -e "$work/ready" ] && break; sleep 0.1; done
  [ -e "$work/ready" ] || {
    echo "the embedded fax server did not start:" >&2
    cat "$work/faxserver.log" >&2
    exit 1
  }
}

# The first job the server stored carries `number` and `note` and what the
# hosts typed into the setup and fax-number dialogs.
check_stored_job() {
  local job=$work/spool/job1.txt line
  if [ ! -f "$job" ]; then
    fail "the server stored no job"
    cat "$work/faxserver.log"
    return
  fi
  for line in "JPARM DIALSTRING $1" "JPARM JOBINFO $2" "JPARM MAXDIALS 4" \
    "JPARM FROMUSER wine" "JPARM NOTIFYADDR wine@example.com"; do
    grep -qxF "$line" "$job" && echo "ok: the stored job has \"$line\"" || fail "no \"$line\" in $job"
  done
}
