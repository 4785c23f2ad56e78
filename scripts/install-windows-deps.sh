#!/bin/sh
# Installs the Debian packages of the Windows build when any is missing: the
# mingw-w64 cross compiler, and with --wine also wine, which runs the Windows
# test host. With --list (after --wine), prints the names instead.
set -e
packages="g++-mingw-w64-x86-64 binutils-mingw-w64-x86-64"
[ "${1:-}" = "--wine" ] && packages="$packages wine wine64" && shift
list=""
[ "${1:-}" = --list ] && list=--list
# shellcheck disable=SC2086
exec "$(dirname "$0")/install-packages.sh" $list $packages
