#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the demo need, when any is missing.
set -euo pipefail
# build and test; libraries; services and peers; Python; the trace report.
packages=(cmake ninja-build g++ clang libclang-rt-14-dev googletest libgtest-dev libgmock-dev
          libbenchmark-dev valgrind pkg-config locales
          libpugixml-dev libtirpc-dev rpcsvc-proto libcli11-dev libreadline-dev
          rpcbind python3 python3-pyvisa-py lxi-tools
          python3-pytest mypy
          xsltproc chromium)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
SUDO=""; [ "$(id -u)" -ne 0 ] && SUDO="sudo"
export DEBIAN_FRONTEND=noninteractive
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  $SUDO apt-get update -qq
  $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
# The tests that numbers keep their '.' under a comma-decimal locale need one to exist.
if ! locale -a 2>/dev/null | grep -qi '^de_DE\.utf-\?8$'; then
  $SUDO localedef -i de_DE -f UTF-8 de_DE.UTF-8 || echo "note: no de_DE.UTF-8 locale; those tests skip"
fi
# And the test that names match in ASCII needs an 8-bit Turkish one, where toupper('i') is not 'I'.
if ! locale -a 2>/dev/null | grep -qi '^tr_TR\.iso-\?8859-\?9$'; then
  $SUDO localedef -i tr_TR -f ISO-8859-9 tr_TR.ISO-8859-9 || echo "note: no tr_TR.ISO-8859-9 locale; that test skips"
fi
