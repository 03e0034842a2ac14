#!/usr/bin/env bash
# Signs a build with a throwaway self-signed certificate through sign.sh and
# checks every signature with osslsigncode verify against that certificate.
#
# usage: check_signing.sh SIGN_SH BUILD_DIR
# Exit status 77: a tool is missing (a failure under CI=true).
set -euo pipefail
sign_sh=$1 build=$2
for tool in openssl osslsigncode wixl msiinfo; do
  if ! command -v "$tool" >/dev/null; then
    echo "missing tool: $tool"
    if [ "${CI:-}" = true ]; then exit 1; fi
    exit 77
  fi
done
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# The password reaches openssl and osslsigncode only through the file.
head -c 24 /dev/urandom | base64 >"$work/password"
openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=Telvor Printer test signing" \
  -addext "extendedKeyUsage=codeSigning" -keyout "$work/key.pem" -out "$work/cert.pem" 2>/dev/null
openssl pkcs12 -export -inkey "$work/key.pem" -in "$work/cert.pem" -out "$work/cert.p12" \
  -passout "file:$work/password"

bash "$sign_sh" "$build" "$work/cert.p12" "$work/password"

failures=0
verify() {  # file
  if osslsigncode verify -CAfile "$work/cert.pem" -in "$1" >"$work/verify.log" 2>&1 &&
    grep -q "Signature verification: ok" "$work/verify.log"; then
    echo "ok: $(basename "$1") is signed and verifies"
  else
    echo "FAIL: $(basename "$1") does not verify:"
    sed 's/^/   /' "$work/verify.log"
    failures=$((failures + 1))
  fi
}
zip=$(echo "$build"/telvor-printer-*-windows-*.zip)
mkdir "$work/zip"
(cd "$work/zip" && cmake -E tar xf "$zip")
for file in install.exe quor.dll quorprompt.exe telvor.dll; do verify "$work/zip/$file"; done
verify "${zip%.zip}.msi"
if [ $failures -gt 0 ]; then exit 1; fi
echo "all checks passed"
