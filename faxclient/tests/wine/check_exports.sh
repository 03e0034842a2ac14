#!/usr/bin/env bash
# Checks that a DLL's export table names exactly the given exports, with no
# decoration: check_exports.sh OBJDUMP DLL NAME...
set -euo pipefail
objdump=$1
dll=$2
shift 2
actual=$("$objdump" -p "$dll" | sed -n '/^\[Ordinal\/Name Pointer\] Table/,/^$/p' |
  sed -n 's/^[[:space:]]*\[ *[0-9]*\] //p' | sort)
expected=$(printf '%s\n' "$@" | sort)
if [ "$actual" != "$expected" ]; then
  echo "exports of $dll:"
  echo "$actual"
  echo "expected:"
  echo "$expected"
  exit 1
fi
echo "exports of $dll: $actual"
