#!/usr/bin/env bash
# The main job on the embedded default: builds the native programs, starts
# the embedded fax server on 127.0.0.2, prints a sample PostScript page to
# the port "FX:" through the spooler host, the port monitor and the fax
# client, and shows the job as the server stored it.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
build=$root/build/demo
work=$build/run
address=127.0.0.2

need=()
for tool in cmake g++ make; do command -v $tool >/dev/null || need+=($tool); done
command -v python3 >/dev/null || need+=(python3)
if [ ${#need[@]} -gt 0 ]; then
  sudo=
  [ "$(id -u)" -ne 0 ] && sudo=sudo
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${need[@]}" >/dev/null
fi

cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DTELVOR_TESTS=OFF >/dev/null
cmake --build "$build" -j "$(nproc)" --target telvor quor telvor-faxserver telvor-spool >/dev/null

rm -rf "$work"
mkdir -p "$work/spool" "$work/tmp"
"$build/tools/faxserver/telvor-faxserver" --address $address --dir "$work/spool" \
  --ready-file "$work/ready" >"$work/faxserver.log" 2>&1 &
server=$!
trap 'kill $server 2>/dev/null; wait $server 2>/dev/null || true' EXIT
for _ in $(seq 100); do [ -e "$work/ready" ] && break; sleep 0.1; done
[ -e "$work/ready" ] || { echo "the embedded fax server did not start:"; cat "$work/faxserver.log"; exit 1; }
echo "embedded fax server listening on $address:4559, storing into $work/spool"

# First use: the setup form is answered from the command line; then the fax
# number form. The document goes through the port "FX:" like any print job.
echo "printing tools/demo/sample.ps to FX: ..."
(cd "$work" && TEMP="$work/tmp" TELVOR_PASSWORD=secret "$build/spoolhost/telvor-spool" \
  --registry "$work/registry.txt" \
  --server $address --user demo --mail demo@example.com --attempts 3 \
  --fax-number 5551234 --dial-attempts 2 --note "Telvor demo page" \
  "$root/tools/demo/sample.ps")

echo
echo "== the job as the server stored it ($work/spool/job1.txt):"
cat "$work/spool/job1.txt"
echo "== its document: $work/spool/job1.ps ($(wc -c <"$work/spool/job1.ps") bytes), first line: $(head -1 "$work/spool/job1.ps")"
