#!/usr/bin/env bash
# Prints through a real CUPS queue "Telvor Printer" served by a private
# cupsd (started and stopped here) whose backend is the installed "telvor".
#   cups_test.sh CASE BUILD FOLDER
# CASE: formats | held | refused | setup | hylafax | package; BUILD: the
# build folder (native; release for package); FOLDER: where this case keeps
# its cupsd, stores and fax server.
# Exit 77 (skipped) when CUPS or root is missing, a failure under CI=true.
set -euo pipefail
case_name=$1
build=$2
work=$3/$case_name
cups_tests=$(cd "$(dirname "$0")" && pwd)
sample=$cups_tests/../../../tools/demo/sample.ps
faxserver=$build/tools/faxserver/telvor-faxserver
queue_reader=$build/tools/hylafax/telvor-hylafax-queue
PATH=$PATH:/usr/sbin:/sbin

skip() {
  if [ "${CI:-}" = true ]; then
    echo "FAIL: $1 (required under CI=true)" >&2
    exit 1
  fi
  echo "skipped: $1"
  exit 77
}
fail() {
  echo "FAIL: $*" >&2
  echo "--- cupsd's log:" >&2
  grep -a '\[Job\|telvor' "${cups_dir:-$work}/log/error_log" 2>/dev/null | tail -40 >&2 || true
  exit 1
}

for tool in cupsd lpadmin lp lpstat lpinfo ipptool cancel cupsenable gs; do
  command -v $tool >/dev/null || skip "$tool is missing (tools/setup.sh installs it)"
done
[ "$(id -u)" -eq 0 ] || skip "a private cupsd runs its backends as lp only when started by root"

rm -rf "$work"
mkdir -p "$work"
# shellcheck source-path=SCRIPTDIR source=cupsd.sh
source "$cups_tests/cupsd.sh"
fax_pids=()
installed_here=
cleanup() {
  [ -z "$installed_here" ] || dpkg -P telvor-printer >/dev/null 2>&1 || true
  cups_stop
  local pid
  for pid in "${fax_pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
}
trap cleanup EXIT
# Builds with AddressSanitizer hide the plug-in's own run path from its
# dlopen: the backend is told where the fax client is installed.
cups_library_path=${TELVOR_TEST_LIBRARY_PATH:-}
# The package's case runs CUPS's own ServerBin and models, where dpkg puts it.
[ "$case_name" != package ] || cups_installed=1
cups_start || fail "no private cupsd"
[ -n "${cups_installed:-}" ] || spool_cli=$(find "$root" -name telvor-spool -type f | head -1)

# fax_server ADDRESS [BEHAVIOUR...]: the embedded server, storing in $work/fax-ADDRESS.
fax_server() {
  local address=$1
  shift
  "$faxserver" --address "$address" --dir "$work/fax-$address" --ready-file "$work/ready-$address" \
    "$@" >"$work/fax-$address.log" 2>&1 &
  fax_pids+=($!)
  local _
  for _ in $(seq 100); do
    [ -e "$work/ready-$address" ] && return 0
    sleep 0.05
  done
  fail "the embedded fax server on $address did not start"
}

# queue NAME SERVER [MAIL]: a queue whose own key store names SERVER (and
# MAIL for the notices), written by the administrator's settings command.
queue() {
  local store=$cups_dir/etc-telvor-$1/TelvorMon.reg
  TELVOR_PASSWORD=secret TEMP=$work LD_LIBRARY_PATH=${cups_library_path:+$root$cups_library_path} \
    "$spool_cli" --cups-setup --registry "$store" --server "$2" \
    --user tester --mail "${3:-tester@example.com}" --attempts 2 >"$work/setup-$1.log" 2>&1 ||
    fail "the settings command: $(cat "$work/setup-$1.log")"
  lpadmin -h "$sock" -p "$1" -E -v "telvor:$store" -m telvor/telvor.ppd 2>/dev/null ||
    fail "lpadmin for $1"
}

# print QUEUE FILE LP-OPTIONS...: prints the job id.
print() {
  local target=$1 file=$2
  shift 2
  lp -h "$sock" -d "$target" "$@" "$file" | sed -n 's/^request id is [^ ]*-\([0-9]*\) .*/\1/p'
}

# expect_job JOB STATES TEXT [SECONDS]: the job reaches one of STATES (within
# SECONDS, 30 by default) and its message holds TEXT.
expect_job() {
  local state
  state=$(queue=$queue_name wait_job "$1" "$2" "${4:-30}") || fail "job $1 did not reach $2: $state"
  [[ $state == *"$3"* ]] || fail "job $1: \"$state\" lacks \"$3\""
  echo "job $1: $state"
}

# job_with NUMBER ADDRESS: the server's stored job that dials NUMBER.
job_with() {
  grep -l "^JPARM DIALSTRING $1\$" "$work/fax-$2"/job*.txt 2>/dev/null | head -1
}

# The job's state can change before its backend has ended: a moment's grace.
no_job_folders_left() {
  local _
  for _ in $(seq 50); do
    compgen -G "$spool/tmp/telvor-job-*" >/dev/null || return 0
    sleep 0.1
  done
  fail "a job folder was left in $spool/tmp"
}

queue_name=Telvor_Printer
store=/etc/telvor/TelvorMon.reg # the device URI telvor:/
case $case_name in
formats)
  # A PDF, a text file and a PostScript file: CUPS makes PostScript of each.
  fax_server 127.0.7.1
  queue $queue_name 127.0.7.1
  gs -q -dNOPAUSE -dBATCH -dSAFER -sDEVICE=pdfwrite -sOutputFile="$work/letter.pdf" "$sample"
  printf 'Dear reader,\nthis letter went through CUPS.\n' >"$work/letter.txt"
  declare -A jobs
  jobs[pdf]=$(print $queue_name "$work/letter.pdf" -o fax-number=5550001 -o "note='From a PDF'")
  jobs[txt]=$(print $queue_name "$work/letter.txt" -o fax-number=555-0002 -o "note='From text'")
  jobs[ps]=$(print $queue_name "$sample" -o FaxNumber=Custom.5550003 -o "note='From PostScript'")
  for kind in pdf txt ps; do expect_job "${jobs[$kind]}" completed ""; done
  for pair in 5550001:"From a PDF" 5550002:"From text" 5550003:"From PostScript"; do
    stored=$(job_with "${pair%%:*}" 127.0.7.1)
    [ -n "$stored" ] || fail "no job dialling ${pair%%:*}"
    grep -qx "JPARM JOBINFO ${pair#*:}" "$stored" || fail "$stored lacks the note ${pair#*:}"
    grep -qx "JPARM FROMUSER tester" "$stored" || fail "$stored lacks the stored user"
    head -c 4 "${stored%.txt}.ps" | grep -qx '%!PS' || fail "${stored%.txt}.ps is not PostScript"
  done
  # The number is dialled without its separators, and that is said.
  grep -aqF 'fax number \"555-0002\" taken as \"5550002\"' "$cups_dir/log/error_log" ||
    fail "the changed number was not reported"
  no_job_folders_left
  ;;
held)
  # No number: held with how to give one; released with a number, it is sent.
  fax_server 127.0.7.2
  queue $queue_name 127.0.7.2
  # A number CUPS split at its blanks, or one with letters: held, never cut.
  job=$(print $queue_name "$sample" -o "fax-number=0 555 1234")
  expect_job "$job" pending-held "split at its blanks"
  job=$(print $queue_name "$sample" -o fax-number=555-CALL-NOW)
  expect_job "$job" pending-held "a number has digits"
  job=$(print $queue_name "$sample" -t "Held letter")
  expect_job "$job" pending-held "lp -i $job -o fax-number=NUMBER -H resume"
  ! compgen -G "$work/fax-127.0.7.2/job*" >/dev/null || fail "a job reached the server"
  lp -h "$sock" -i "$job" -o fax-number=5550004 -H resume
  expect_job "$job" completed ""
  # CUPS clears a completed job's message: its log keeps what was said.
  grep -aq "\[Job $job\] Fax handed to the HylaFAX server as job [0-9]" "$cups_dir/log/error_log" ||
    fail "job $job: the server's job number was not said"
  stored=$(job_with 5550004 127.0.7.2)
  [ -n "$stored" ] || fail "the resumed job did not reach the server"
  grep -qx "JPARM JOBINFO Held letter" "$stored" || fail "the title is not the note"
  # A server that is not there yet: CUPS keeps the job and tries it again
  # (JobRetryInterval); once the server answers it is sent, once, by itself.
  queue Later 127.0.7.4
  queue_name=Later
  job=$(print Later "$sample" -o fax-number=5550006)
  expect_job "$job" pending-held "SendFax error -13 - the fax server cannot be reached"
  fax_server 127.0.7.4
  # CUPS starts a released job at its next look at the queue, up to 10 s on.
  expect_job "$job" completed "" 45
  [ "$(grep -l "^JPARM DIALSTRING 5550006\$" "$work/fax-127.0.7.4"/job*.txt | wc -l)" -eq 1 ] ||
    fail "the retried job was not stored exactly once"
  no_job_folders_left
  ;;
refused)
  # Sorted by who can mend it. A server that refuses the data connection:
  # held with the client's error, never completed; the queue goes on.
  fax_server 127.0.7.3 --refuse-data
  queue $queue_name 127.0.7.3
  job=$(print $queue_name "$sample" -o fax-number=5550005)
  expect_job "$job" pending-held "SendFax error -23 - fax not sent, job held; send it again with: lp -i $job -H resume"
  lpstat -h "$sock" -p $queue_name | grep -q "is idle" || fail "the queue stopped"
  # A document the server can never take (a PDF sent raw): held, not to be
  # sent again as it is.
  fax_server 127.0.7.6
  queue Raw 127.0.7.6
  queue_name=Raw
  gs -q -dNOPAUSE -dBATCH -dSAFER -sDEVICE=pdfwrite -sOutputFile="$work/letter.pdf" "$sample"
  job=$(print Raw "$work/letter.pdf" -o raw -o fax-number=5550009)
  expect_job "$job" pending-held "SendFax error -31 - fax not sent, job held; the server cannot take this document"
  # A refused login: the queue stops and keeps the job for the administrator.
  fax_server 127.0.7.7 --refuse-login
  queue Refused 127.0.7.7
  queue_name=Refused
  job=$(print Refused "$sample" -o fax-number=5550010)
  expect_job "$job" pending "refused the user or password; as root, run: telvor-spool --cups-setup --registry"
  lpstat -h "$sock" -p Refused | grep -q disabled || fail "the queue was not stopped"
  # A backend killed (SIGKILL, which CUPS takes for a normal end) while its
  # worker waits on the server after the upload: the job is not completed
  # but kept in the stopped queue, no worker goes on alone, and started
  # again the job is held, as it may have been sent, and its folder removed.
  fax_server 127.0.7.5 --stop-answering-after 5
  queue Silent 127.0.7.5
  queue_name=Silent
  job=$(print Silent "$sample" -o fax-number=5550008)
  for _ in $(seq 100); do
    sending=$(compgen -G "$spool/tmp/telvor-job-*/sending") && break
    sleep 0.05
  done
  [ -n "${sending:-}" ] || fail "the job never began to hand the fax over"
  folder=$(dirname "$sending")
  kill -9 "$(head -1 "$folder/run")"
  expect_job "$job" pending "was killed before the job ended"
  lpstat -h "$sock" -p Silent | grep -q disabled || fail "the queue was not stopped"
  for proc in /proc/[0-9]*; do
    [ "$(readlink "$proc/cwd" 2>/dev/null)" != "$folder" ] || fail "a worker ($proc) outlived its backend"
  done
  cupsenable -h "$sock" Silent
  expect_job "$job" pending-held "may have been sent"
  no_job_folders_left
  # A job cancelled while the client waits on a server that went silent
  # leaves nothing behind either.
  job=$(print Silent "$sample" -o fax-number=5550011)
  expect_job "$job" processing ""
  for _ in $(seq 100); do
    compgen -G "$spool/tmp/telvor-job-*/sending" >/dev/null && break
    sleep 0.05
  done
  cancel -h "$sock" "$job"
  expect_job "$job" canceled ""
  no_job_folders_left
  ;;
setup)
  # The device line for lpinfo; a queue whose store was never set up stops
  # with the command that sets it up, and keeps the job.
  lpinfo -h "$sock" -v | grep -qx "direct telvor" || fail "lpinfo -v: $(lpinfo -h "$sock" -v)"
  lpinfo -h "$sock" -m | grep -qx "telvor/telvor.ppd Telvor Printer (fax through a HylaFAX server)" ||
    fail "lpinfo -m: $(lpinfo -h "$sock" -m)"
  store=$cups_dir/never-set-up/TelvorMon.reg
  lpadmin -h "$sock" -p Unset -E -v "telvor:$store" -m telvor/telvor.ppd 2>/dev/null
  queue_name=Unset
  job=$(print Unset "$sample" -o fax-number=5550007)
  expect_job "$job" pending "telvor-spool --cups-setup --registry $store"
  lpstat -h "$sock" -p Unset | grep -q disabled || fail "the queue was not stopped"
  ;;
hylafax)
  # Debian's HylaFAX server (the hylafax_server fixture on 127.0.3.1).
  timeout 5 bash -c '</dev/tcp/127.0.3.1/4559' 2>/dev/null ||
    skip "the HylaFAX server does not answer on 127.0.3.1:4559"
  queue $queue_name 127.0.3.1 '%u@example.com'
  gs -q -dNOPAUSE -dBATCH -dSAFER -sDEVICE=pdfwrite -sOutputFile="$work/letter.pdf" "$sample"
  tag="cups-$$-$(date +%s)"
  job=$(print $queue_name "$work/letter.pdf" -o fax-number=+1-555-0123 -o note="$tag" \
    -o PageSize=Letter -o Resolution=204x98dpi)
  expect_job "$job" completed ""
  # The tests' one queue reader: faxq rewrites queue files in place and moves
  # them to doneq while we look, so one grep can miss the job (see queue.h).
  queued=$("$queue_reader" "$tag" number pagewidth pagelength resolution mailaddr 2>&1) ||
    fail "$queued"
  for line in number:+15550123 pagewidth:216 pagelength:279 resolution:98 \
    "mailaddr:$(id -un)@example.com"; do
    grep -qx "$line" <<<"$queued" || fail "$line is not in the queue file: $queued"
  done
  echo "queue file ${queued%%$'\n'*}: $(grep -x 'number:.*' <<<"$queued")"
  ;;
package)
  # The Debian package made from this build, installed, set up and printed
  # through with the commands of docs/linux.md as they are written (the
  # server's address theirs), then removed (the settings store stays) and
  # purged (it goes too). It changes the machine: one of its own (CI).
  for tool in cpack dpkg dpkg-deb; do
    command -v $tool >/dev/null || skip "$tool is missing (tools/setup.sh installs it)"
  done
  if dpkg -s telvor-printer >/dev/null 2>&1 || [ -e "$(dirname "$store")" ]; then
    skip "Telvor Printer is installed or set up on this machine already"
  fi
  docs=$cups_tests/../../../docs/linux.md
  # docs_block NAME: the commands of the block marked "<!-- tested: NAME -->", one a line.
  docs_block() {
    awk -v mark="<!-- tested: $1 -->" '$0 == mark { found = 1; next }
      found && /^```sh/ { inside = 1; next } inside && /^```/ { exit } inside { print }' "$docs" |
      sed -e ':a' -e '/\\$/N; s/\\\n//; ta'
  }
  cpack --config "$build/CPackConfig.cmake" -B "$work" >"$work/cpack.log" 2>&1 ||
    fail "cpack: $(cat "$work/cpack.log")"
  fax_server 127.0.7.8
  gs -q -dNOPAUSE -dBATCH -dSAFER -sDEVICE=pdfwrite -sOutputFile="$work/letter.pdf" "$sample"
  export CUPS_SERVER=$sock
  job=
  while read -r line; do
    [ -n "$line" ] || continue
    if [[ $line == apt-get\ install* ]]; then
      # What the commands need, as the page lists it, is there.
      for word in $line; do
        [[ $word == apt-get || $word == install || $word == -* ]] && continue
        dpkg-query -W -f='${Status}' "$word" 2>/dev/null | grep -q "install ok installed" ||
          skip "$word is not installed (tools/setup.sh installs it)"
      done
      continue
    fi
    [[ $line != dpkg\ -i* ]] || installed_here=1
    out=$(cd "$work" && bash -c "${line//192.168.1.10/127.0.7.8}" 2>&1) || fail "$line: $out"
    [[ $line != lp\ * ]] || job=$(sed -n 's/^request id is [^ ]*-\([0-9]*\) .*/\1/p' <<<"$out")
  done < <(docs_block set-up)
  [ -n "$job" ] || fail "the set-up commands printed nothing"
  expect_job "$job" completed ""
  [ -n "$(job_with 5551234 127.0.7.8)" ] || fail "the fax did not reach the server"
  [ "$(stat -c '%a %U' /usr/lib/cups/backend/telvor)" = "755 root" ] ||
    fail "the backend is not 0755 root's: CUPS would not run it as lp"
  mapfile -t files < <(dpkg -L telvor-printer | while read -r f; do [ -d "$f" ] || echo "$f"; done)
  while read -r line; do
    [ -n "$line" ] || continue
    out=$(bash -c "$line" 2>&1) || fail "$line: $out"
    if [[ $line == dpkg\ -r* ]]; then
      for f in "${files[@]}"; do [ ! -e "$f" ] || fail "$f is left after dpkg -r"; done
      [ "$(ls -A "$(dirname "$store")")" = "$(basename "$store")" ] ||
        fail "removing the package did not keep the settings store alone: $(ls -A "$(dirname "$store")")"
    fi
  done < <(docs_block removal)
  [ ! -e "$(dirname "$store")" ] || fail "purging left $(ls -A "$(dirname "$store")")"
  installed_here=
  no_job_folders_left
  ;;
*)
  fail "unknown case $case_name"
  ;;
esac
echo "PASS: $case_name"
