#!/bin/sh
# Installs Debian's chromium, with which a test renders the report page
# (the test skips without it), when it is missing.
set -e
exec "$(dirname "$0")/install-packages.sh" chromium
