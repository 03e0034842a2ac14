#!/usr/bin/env bash
# The main job through CUPS: builds the native programs, starts the embedded
# fax server on 127.0.0.2 and a private cupsd of its own (its own ServerRoot
# under build/demo, listening only on a socket there: the system's CUPS is
# neither used nor needed), adds the queue "Telvor_Printer" with the backend
# telvor and its PPD, stores the server settings with the administrator's
# command, prints the sample page (as a PDF, which CUPS turns into
# PostScript) with a fax number and a note, and shows the job as the server
# stored it. CUPS runs backends as user lp only when started by root: the
# CUPS part runs as root (through sudo for other users).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
build=$root/build/demo
work=$build/run
address=127.0.0.2
queue=Telvor_Printer
sudo=
[ "$(id -u)" -ne 0 ] && sudo=sudo

if [ "${1:-}" = --print-through-cups ]; then
  # As root: the private cupsd, the queue and the job.
  build=$2
  work=$3
  # shellcheck source-path=SCRIPTDIR source=../tests/system/cups/cupsd.sh
  cups_tests=$root/tests/system/cups
  source "$cups_tests/cupsd.sh"
  trap cups_stop EXIT
  cups_start
  echo "private cupsd listening on $sock"
  store=$cups_dir/etc-telvor/TelvorMon.reg
  spool_cli=$(find "$cups_dir/root" -name telvor-spool -type f | head -1)
  TELVOR_PASSWORD=secret TEMP=$work "$spool_cli" --cups-setup --registry "$store" \
    --server $address --user demo --mail demo@example.com --attempts 3
  echo "lpadmin -p $queue -E -v telvor:$store -m telvor/telvor.ppd"
  lpadmin -h "$sock" -p $queue -E -v "telvor:$store" -m telvor/telvor.ppd 2>/dev/null
  echo "queue $queue: $(lpstat -h "$sock" -v $queue)"
  echo "lp -d $queue -o fax-number=5551234 -o note='Telvor demo page' sample.pdf"
  lp -h "$sock" -d $queue -o fax-number=5551234 -o "note='Telvor demo page'" "$work/sample.pdf"
  state=$(wait_job 1 'completed|pending-held|aborted|canceled|stopped') || true
  echo "job 1: $state"
  [[ $state == completed* ]] || {
    grep -a '\[Job 1\]' "$cups_dir/log/error_log" | tail -20
    exit 1
  }
  exit 0
fi

need=()
for tool in cmake g++ make; do command -v $tool >/dev/null || need+=("$tool"); done
command -v python3 >/dev/null || need+=(python3)
command -v gs >/dev/null || need+=(ghostscript)
if [ ${#need[@]} -gt 0 ]; then
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${need[@]}" >/dev/null
fi
# CUPS without what apt recommends with it (systemd, avahi, ...), and with no
# service started: the demo runs its own cupsd.
if ! command -v cupsd >/dev/null || ! command -v lpadmin >/dev/null ||
  [ ! -x /usr/lib/cups/filter/pstops ] || [ ! -x /usr/lib/cups/daemon/cups-driverd ]; then
  policy=/usr/sbin/policy-rc.d
  if [ ! -e $policy ]; then
    printf '#!/bin/sh\nexit 101\n' | $sudo tee $policy >/dev/null
    $sudo chmod +x $policy
    trap '$sudo rm -f $policy' EXIT
  fi
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends \
    cups-daemon cups-client cups-filters cups-core-drivers cups >/dev/null
  $sudo rm -f $policy
  trap - EXIT
fi

cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DTELVOR_TESTS=OFF >/dev/null
cmake --build "$build" -j "$(nproc)" \
  --target telvor quor telvor-faxserver telvor-spool telvor-cups-backend >/dev/null

[ -e "$work" ] && $sudo rm -rf "$work"
mkdir -p "$work/spool"
"$build/tools/faxserver/telvor-faxserver" --address $address --dir "$work/spool" \
  --ready-file "$work/ready" >"$work/faxserver.log" 2>&1 &
server=$!
trap 'kill $server 2>/dev/null; wait $server 2>/dev/null || true' EXIT
for _ in $(seq 100); do [ -e "$work/ready" ] && break; sleep 0.1; done
[ -e "$work/ready" ] || { echo "the embedded fax server did not start:"; cat "$work/faxserver.log"; exit 1; }
echo "embedded fax server listening on $address:4559, storing into $work/spool"

gs -q -dNOPAUSE -dBATCH -dSAFER -sDEVICE=pdfwrite -sOutputFile="$work/sample.pdf" \
  "$root/tools/demo/sample.ps"
$sudo bash "$root/tools/demo.sh" --print-through-cups "$build" "$work"

echo
echo "== the job as the server stored it ($work/spool/job1.txt):"
cat "$work/spool/job1.txt"
echo "== its document: $work/spool/job1.ps ($(wc -c <"$work/spool/job1.ps") bytes), first line: $(head -1 "$work/spool/job1.ps")"
