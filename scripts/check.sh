#!/usr/bin/env bash
# The fast check, for every change: installs what is missing, builds the
# extension and the C++ suites, then runs CTest, mypy, stubtest, pytest, the
# build of the documentation (scripts/docs.sh) and the format and lint checks
# (scripts/lint.sh).
# Under a minute on a warm tree; the slow suites are
# in scripts/harden.sh.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/common.sh

ensure_gtest
ensure_venv
export PATH="$PWD/.venv/bin:$PATH"

echo "Building the C++ test suites..."
cmake -S . -B build/cpp -G Ninja -DZEF_BUILD_MODULE=OFF -DZEF_BUILD_TESTS=ON >/dev/null
cmake --build build/cpp
ctest --test-dir build/cpp --output-on-failure

# Types: the zef package and the stubs against each other (mypy), and the
# installed stubs against the built modules (stubtest).
echo "Checking types with mypy and stubtest..."
python -m mypy
python -m mypy.stubtest _zef_cpp
python -m mypy.stubtest zef._native

# The tests that start a local Dask cluster run in scripts/harden.sh.
python -m pytest -m "not cluster"
# The Examples of the package's docstrings, run against the installed package.
python -m pytest -q --doctest-modules --pyargs zef

bash scripts/docs.sh --no-setup

bash scripts/lint.sh
