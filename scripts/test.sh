#!/usr/bin/env bash
# Runs every test on a fresh machine: installs what is missing, builds the
# extension and the C++ suites, then runs CTest and pytest; then the hardening
# stages: a short libFuzzer run of the engine, every suite again under
# AddressSanitizer and UBSan, and the threaded suites under ThreadSanitizer.
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

# --- Types: the zef package and the stub against each other (mypy), and the
# installed stub against the built module (stubtest).
echo "Checking types with mypy and stubtest..."
python -m mypy
python -m mypy.stubtest _zef_cpp
python -m mypy.stubtest zef._native
# --- end of the type checks

python -m pytest

# Hardening stages, each a script of its own (see scripts/fuzz.sh,
# scripts/sanitize.sh and scripts/tsan.sh; scripts/valgrind.sh is not part of
# this command).
bash scripts/fuzz.sh "${ZEF_FUZZ_SECONDS:-60}"
bash scripts/sanitize.sh
bash scripts/tsan.sh
