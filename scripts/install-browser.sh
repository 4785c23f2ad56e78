#!/bin/sh
# Installs Debian's chromium, with which a test renders the report page
# (the test skips without it), when it is missing. With --list, prints the
# name instead.
set -e
list=""
[ "${1:-}" = --list ] && list=--list
# shellcheck disable=SC2086
exec "$(dirname "$0")/install-packages.sh" $list chromium
