#!/usr/bin/env bash
# Makes the MSI of one Windows build beside its zip, from the zip's own
# files (as CPack stripped them), with wixl; with --check, also lists its
# tables with msiinfo and checks the files, the custom actions and their
# place in the sequence.
#
# usage: make_msi.sh [--check | --from-zip] CPACK BUILD_DIR PACKAGE ARCH VERSION WXS
#   PACKAGE  the zip's name without .zip; the MSI is BUILD_DIR/PACKAGE.msi
#   ARCH     x64 or x86
#   --from-zip  takes the zip as it is (sign.sh has signed its files) instead
#               of making it afresh with CPACK
# Exit status 77: wixl or msiinfo is missing (a failure under CI=true).
set -euo pipefail
check=no
fresh_zip=yes
case ${1:-} in
  --check) check=yes && shift ;;
  --from-zip) fresh_zip=no && shift ;;
esac
if [ $# -ne 6 ]; then
  sed -n '7,12p' "$0"
  exit 2
fi
cpack=$1 build=$2 package=$3 arch=$4 version=$5 wxs=$6
for tool in wixl msiinfo; do
  if ! command -v "$tool" >/dev/null; then
    echo "missing tool: $tool (Debian packages wixl, msitools; tools/setup.sh installs them)"
    if [ "${CI:-}" = true ]; then exit 1; fi
    exit 77
  fi
done

# Each architecture is its own product, with its own codes, never changed.
case $arch in
  x64)
    defines=(-D Win64=yes -D ProgramFiles=ProgramFiles64Folder
      -D UpgradeCode=d04d46af-c2ab-41f0-8486-9979425ee4b7
      -D ComponentGuid=a2e1550a-fa4b-4275-aa26-f48d4731139d)
    ;;
  x86)
    defines=(-D Win64=no -D ProgramFiles=ProgramFilesFolder
      -D UpgradeCode=03e72dfe-00fe-4777-bd10-aa3046f2b839
      -D ComponentGuid=99ec5562-1f63-4d1b-8659-07c641d4719e)
    ;;
  *)
    echo "unknown architecture: $arch"
    exit 2
    ;;
esac

if [ $fresh_zip = yes ]; then (cd "$build" && "$cpack" -G ZIP >/dev/null); fi
stage=$build/msi-stage
rm -rf "$stage"
mkdir -p "$stage"
(cd "$stage" && cmake -E tar xf "$build/$package.zip")
msi=$build/$package.msi
rm -f "$msi"
# wixl takes the files' paths relative to where it runs.
(cd "$stage" && wixl -a "$arch" -D Version="$version" -D SourceDir=. "${defines[@]}" \
  -o "$msi" "$wxs")
rm -rf "$stage"
echo "made $msi"
if [ $check = no ]; then exit 0; fi

failures=0
expect() {  # table, line (tab-separated), what
  if msiinfo export "$msi" "$1" | tr -d '\r' | grep -qxF -- "$2"; then echo "ok: $3"; else
    echo "FAIL: $3 (no line \"$2\" in $1)"
    failures=$((failures + 1))
  fi
}
tables=$(msiinfo tables "$msi" | tr '\n' ' ')
echo "tables: $tables"
for table in File Component Directory CustomAction InstallExecuteSequence Property; do
  if [[ " $tables " == *" $table "* ]]; then echo "ok: table $table"; else
    echo "FAIL: no table $table"
    failures=$((failures + 1))
  fi
done
files=$(msiinfo export "$msi" File | tr -d '\r' | awk -F'\t' 'NR > 3 { print $3 }' | sort | tr '\n' ' ')
if [ "$files" = "README.txt install.exe quor.dll quorprompt.exe telvor.dll " ]; then
  echo "ok: the zip's five files"
else
  echo "FAIL: files: $files"
  failures=$((failures + 1))
fi
expect Property $'ProductVersion\t'"$version" "the product version $version"
# 3090: an installed program (18), deferred (1024), as SYSTEM (2048); 3154
# the same whose exit status is ignored (64).
expect CustomAction $'RunInstaller\t3090\tInstallExe\t/quiet /no-apps-entry [ARG_SERVER] [ARG_USER] [ARG_PASSWORD_FILE] [ARG_MAIL] [ARG_ATTEMPTS] [ARG_MODEM]\t' \
  "install.exe /quiet with the settings given, deferred, as SYSTEM"
expect CustomAction $'RunUninstaller\t3154\tInstallExe\t/uninstall /quiet\t' \
  "install.exe /uninstall /quiet, deferred, as SYSTEM"
for name in SERVER USER PASSWORD_FILE MAIL ATTEMPTS MODEM; do
  id=Arg$(echo "$name" | sed -E 's/(^|_)([A-Z])([A-Z]*)/\2\L\3/g')
  # Set only when given, before the script is written (InstallInitialize, 1500).
  if msiinfo export "$msi" InstallExecuteSequence | tr -d '\r' |
    awk -F'\t' -v a="$id" -v n="$name" '$1 == a && $2 == n && $3 < 1500 { f = 1 } END { exit !f }'; then
    echo "ok: the switch of $name only when it is given"
  else
    echo "FAIL: $id is not conditioned on $name before InstallInitialize"
    failures=$((failures + 1))
  fi
done
expect InstallExecuteSequence $'RunInstaller\tNOT REMOVE="ALL"\t4010' \
  "the installation runs after InstallFiles (4000)"
expect InstallExecuteSequence $'RunUninstaller\tREMOVE="ALL"\t1550' \
  "the removal runs before RemoveFiles (3500)"
if [ $failures -gt 0 ]; then exit 1; fi
echo "all checks passed"
