#!/bin/sh
# Installs the Debian packages the build needs, when any is missing.
# clang-14 with libclang-rt-14-dev (its runtime, libFuzzer included) builds
# the fuzzing harnesses of .ci/fuzz; Eigen is the tests' reference solver.
# Snakemake runs the workflow in workflow/ in its test. pybind11, Python's
# headers and numpy build the Python module; nibabel, Nipype and pytest are
# what its package and tests use. With --list, prints the names instead.
set -e
list=""
[ "${1:-}" = --list ] && list=--list
# shellcheck disable=SC2086
exec "$(dirname "$0")/install-packages.sh" $list g++ make cmake pkg-config libfftw3-dev libgtest-dev libbenchmark-dev \
  libnifti2-dev libznz-dev zlib1g-dev nlohmann-json3-dev libpng-dev clang-14 libclang-rt-14-dev libeigen3-dev \
  snakemake pybind11-dev python3-dev python3-numpy python3-nibabel python3-nipype python3-pytest
