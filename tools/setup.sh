#!/usr/bin/env bash
# Installs what the build and the tests need, from Debian's packages, when it
# is missing. Needs root (or sudo) for apt-get. Under CI=true a package that
# cannot be installed fails the run.
set -euo pipefail
packages=(
  cmake g++ make python3 libgtest-dev libgmock-dev clang libclang-rt-14-dev clang-format
  g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix binutils-mingw-w64-i686
  binutils-mingw-w64-x86-64 wine64 xvfb imagemagick hylafax-server ghostscript
  wixl msitools osslsigncode openssl # the MSIs, and signing them and the programs
  dpkg-dev file # dpkg-shlibdeps and file, with which CPack finds the Debian package's dependencies
)
# The print system the CUPS backend runs under, without what apt recommends
# with it (systemd, avahi, cups-browsed, colord ...): installed on their own.
# "cups" adds cups-driverd and cups-deviced, which lpadmin -m and lpinfo use;
# cups-bsd has lpr. The list docs/linux.md gives the administrator.
cups_packages=(cups-daemon cups-client cups-bsd cups-filters cups-core-drivers cups)
absent() {
  local out=() p
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || out+=("$p")
  done
  echo "${out[@]}"
}
read -ra missing <<<"$(absent "${packages[@]}")"
read -ra cups_missing <<<"$(absent "${cups_packages[@]}")"
if [ ${#missing[@]} -eq 0 ] && [ ${#cups_missing[@]} -eq 0 ]; then
  exit 0
fi
echo "installing: ${missing[*]} ${cups_missing[*]}"
sudo=
if [ "$(id -u)" -ne 0 ]; then sudo=sudo; fi
export DEBIAN_FRONTEND=noninteractive
# Packages install without starting their services: the tests run their own
# HylaFAX daemons, on a loopback address of their choosing.
policy=/usr/sbin/policy-rc.d
if [ ! -e $policy ]; then
  printf '#!/bin/sh\nexit 101\n' | $sudo tee $policy >/dev/null
  $sudo chmod +x $policy
  trap '$sudo rm -f $policy' EXIT
fi
$sudo apt-get update -qq
if [ ${#missing[@]} -gt 0 ]; then
  $sudo apt-get install -y -qq "${missing[@]}" >/dev/null
fi
if [ ${#cups_missing[@]} -gt 0 ]; then
  $sudo apt-get install -y -qq --no-install-recommends "${cups_missing[@]}" >/dev/null
fi
