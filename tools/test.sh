#!/usr/bin/env bash
# The test command: installs what is missing, builds everything (native,
# native with AddressSanitizer and UndefinedBehaviorSanitizer, the fuzz
# targets, Windows i686 and x86_64) and runs every test: unit tests, the
# embedded and the real HylaFAX server, and the Windows builds under Wine.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
jobs=${JOBS:-$(nproc)}

tools/setup.sh

configure() {  # dir, extra cmake arguments...
  local dir=$1
  shift
  cmake -S "$root" -B "$root/build/$dir" -DCMAKE_BUILD_TYPE=Debug "$@" >/dev/null
  cmake --build "$root/build/$dir" -j "$jobs"
}

configure native
configure sanitize -DTELVOR_SANITIZE=ON
configure fuzz -DTELVOR_FUZZ=ON -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++
configure win32 -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-i686.cmake"
configure win64 -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-x86_64.cmake" \
  -DTELVOR_NATIVE_BUILD="$root/build/native"

status=0
for dir in native sanitize fuzz win32 win64; do
  echo "== tests: $dir"
  if ! (cd "build/$dir" && ctest --output-on-failure --timeout 600); then
    status=1
  fi
done
exit $status
