#!/usr/bin/env bash
# Photographs the monitor's dialogs HSETUP and CALLNUM as Wine draws them
# into docs/hsetup.png and docs/callnum.png, by printing one job through
# quor.dll (see job_test.sh). Uses the builds of tools/test.sh:
#   screenshots.sh [WIN64_BUILD_DIR [NATIVE_BUILD_DIR]]   (build/win64, build/native)
set -euo pipefail
root=$(cd "$(dirname "$0")/../../.." && pwd)
win64=${1:-$root/build/win64}
native=${2:-$root/build/native}
for dir in "$native" "$win64"; do
  [ -f "$dir/CMakeCache.txt" ] ||
    { echo "no build in $dir: run tools/test.sh first, or name the build directories" >&2; exit 1; }
done
cmake --build "$native" --target telvor-faxserver >/dev/null
cmake --build "$win64" --target telvor-job-host >/dev/null
bash "$root/tests/system/wine/job_test.sh" \
  --host "$win64/tests/system/wine/telvor-job-host.exe" \
  --faxserver "$native/tools/faxserver/telvor-faxserver" \
  --work "$win64/tests/system/wine/screenshots-run" \
  --screenshots "$root/docs"
