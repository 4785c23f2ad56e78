#!/bin/sh
# Installs the Debian packages of the Windows build when any is missing: the
# mingw-w64 cross compiler, and with --wine also wine, which runs the Windows
# test host.
set -e
packages="g++-mingw-w64-x86-64 binutils-mingw-w64-x86-64"
[ "${1:-}" = "--wine" ] && packages="$packages wine wine64"
missing=""
for p in $packages; do
  dpkg -s "$p" >/dev/null 2>&1 || missing="$missing $p"
done
[ -z "$missing" ] && exit 0
echo "Installing:$missing"
if [ "$(id -u)" -eq 0 ]; then SUDO=""; else SUDO="sudo"; fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends $missing
