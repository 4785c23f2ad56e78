#!/bin/sh
# Installs Debian's chromium, with which a test renders the report page
# (the test skips without it), when it is missing.
set -e
dpkg -s chromium >/dev/null 2>&1 && exit 0
echo "Installing: chromium"
if [ "$(id -u)" -eq 0 ]; then SUDO=""; else SUDO="sudo"; fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends chromium
