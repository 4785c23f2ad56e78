#!/bin/sh
# Installs the Debian packages the build needs, when any is missing.
set -e
# clang-14 with libclang-rt-14-dev (its runtime, libFuzzer included) builds
# the fuzzing harnesses of .ci/fuzz; Eigen is the tests' reference solver.
packages="g++ make cmake pkg-config libfftw3-dev libgtest-dev libbenchmark-dev libnifti2-dev libznz-dev zlib1g-dev
nlohmann-json3-dev libpng-dev clang-14 libclang-rt-14-dev libeigen3-dev"
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
