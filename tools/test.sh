#!/usr/bin/env bash
# The test command: installs what is missing, then configures, builds and
# tests every preset of CMakePresets.json: native (Debug), release, native
# with AddressSanitizer and UndefinedBehaviorSanitizer, the fuzz targets,
# Windows i686 and x86_64 (its tests under Wine). The Windows builds' tests
# include making their zips and checking what they hold.
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=${JOBS:-$(nproc)}

tools/setup.sh

presets=(native release sanitize fuzz win32 win64)
for preset in "${presets[@]}"; do
  echo "== build: $preset"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j "$jobs"
done

status=0
for preset in "${presets[@]}"; do
  echo "== tests: $preset"
  if ! ctest --preset "$preset"; then
    status=1
  fi
done
exit $status
