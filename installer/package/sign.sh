#!/usr/bin/env bash
# Signs what a Windows build ships: install.exe, quor.dll, quorprompt.exe and
# telvor.dll inside the zip (made afresh), then the MSI made from that zip,
# with osslsigncode (SHA-256, Authenticode).
#
# usage: sign.sh BUILD_DIR PKCS12_FILE PASSWORD_FILE
#   BUILD_DIR      a configured and built Windows build (build/win64, build/win32)
#   PKCS12_FILE    the code-signing certificate with its private key
#   PASSWORD_FILE  a file holding the PKCS#12 password (never on the command line)
# TIMESTAMP_URL, when set, names a time-stamping server (RFC 3161) to use.
set -euo pipefail
if [ $# -ne 3 ]; then
  sed -n '6,10p' "$0"
  exit 2
fi
build=$(cd "$1" && pwd) pkcs12=$(realpath "$2") password_file=$(realpath "$3")
here=$(cd "$(dirname "$0")" && pwd)
for tool in cpack osslsigncode wixl msiinfo; do
  if ! command -v "$tool" >/dev/null; then
    echo "missing tool: $tool (tools/setup.sh installs it)"
    exit 1
  fi
done

sign() {  # file: signed in place
  local timestamp=()
  if [ -n "${TIMESTAMP_URL:-}" ]; then timestamp=(-ts "$TIMESTAMP_URL"); fi
  osslsigncode sign -pkcs12 "$pkcs12" -readpass "$password_file" -h sha256 \
    -n "Telvor Printer" "${timestamp[@]}" -in "$1" -out "$1.signed" >/dev/null
  mv "$1.signed" "$1"
  echo "signed $1"
}

(cd "$build" && cpack -G ZIP >/dev/null)
zips=("$build"/telvor-printer-*-windows-*.zip)
if [ ${#zips[@]} -ne 1 ] || [ ! -f "${zips[0]}" ]; then
  echo "expected one telvor-printer-*-windows-*.zip in $build"
  exit 1
fi
package=$(basename "${zips[0]}" .zip)
# telvor-printer-VERSION-windows-ARCH
arch=${package##*-}
version=${package#telvor-printer-}
version=${version%-windows-*}

stage=$build/sign-stage
rm -rf "$stage"
mkdir -p "$stage"
(cd "$stage" && cmake -E tar xf "${zips[0]}")
for file in "$stage"/*.exe "$stage"/*.dll; do sign "$file"; done
rm "${zips[0]}"
(cd "$stage" && cmake -E tar cf "${zips[0]}" --format=zip -- *)
rm -rf "$stage"
echo "signed files in ${zips[0]}"

bash "$here/make_msi.sh" --from-zip cpack "$build" "$package" "$arch" "$version" \
  "$here/telvor-printer.wxs"
sign "$build/$package.msi"
