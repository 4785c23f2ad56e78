#!/bin/sh
# Installs the Debian packages named as arguments that are not installed yet
# (apt-get as root, else through sudo). The project's install scripts call it.
# With --list first, it prints the names instead, so that CI can install the
# packages of every script in one apt-get run (.ci/run).
set -e
if [ "${1:-}" = --list ]; then
  shift
  echo "$@"
  exit 0
fi
missing=""
for p in "$@"; do
  dpkg -s "$p" >/dev/null 2>&1 || missing="$missing $p"
done
[ -z "$missing" ] && exit 0
echo "Installing:$missing"
if [ "$(id -u)" -eq 0 ]; then SUDO=""; else SUDO="sudo"; fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
# shellcheck disable=SC2086
$SUDO apt-get install -y -qq --no-install-recommends $missing
