#!/usr/bin/env bash
# The sanitizer stage: builds the engine, the C++ suites and the module with
# AddressSanitizer and UndefinedBehaviorSanitizer (gcc; every UBSan finding is
# fatal), then runs the GoogleTest suites and the pytest suites under them.
# For pytest the ASan runtime is preloaded into python3.12, whose own leaks are
# not ours to report (detect_leaks=0 there; the C++ suites check leaks), with
# libstdc++ beside it: python does not link libstdc++, and ASan must find the
# real __cxa_throw when it starts, or the first C++ exception aborts.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/common.sh

ensure_gtest
if ! .venv/bin/python -c 'import pybind11, pytest, hypothesis' >/dev/null 2>&1; then
    ensure_venv
fi
python=.venv/bin/python
export PATH="$PWD/.venv/bin:$PATH"  # cmake, ninja

export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
asan_common=detect_stack_use_after_return=1:check_initialization_order=1:strict_init_order=1

echo "Building the C++ test suites with ASan and UBSan..."
cmake -S . -B build/asan-cpp -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DZEF_BUILD_MODULE=OFF -DZEF_BUILD_TESTS=ON -DZEF_SANITIZE=ON >/dev/null
cmake --build build/asan-cpp
ASAN_OPTIONS=$asan_common:detect_leaks=1 ctest --test-dir build/asan-cpp --output-on-failure

echo "Building the module with ASan and UBSan..."
cmake -S . -B build/asan-module -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DZEF_BUILD_MODULE=ON -DZEF_SANITIZE=ON -DPython_EXECUTABLE="$PWD/$python" \
    -Dpybind11_DIR="$("$python" -m pybind11 --cmakedir)" >/dev/null
cmake --build build/asan-module --target _zef_cpp _native
# The stub sits beside the module, as in an installed copy; the package zef
# is copied beside it, around its sanitized module zef._native.
cp python/_zef_cpp.pyi build/asan-module/
cp -r python/zef/. build/asan-module/zef/

echo "Running pytest on the sanitized module..."
# ZEF_SANITIZED tells the tests which module they must load (conftest.py
# checks it) and which tests to skip there, each with its reason. Capturing
# sys only leaves file descriptor 2 alone, so that a sanitizer's report of a
# test that dies is printed, not lost in pytest's capture.
ZEF_SANITIZED="$PWD/build/asan-module" PYTHONPATH="$PWD/build/asan-module" \
    LD_PRELOAD="$(gcc -print-file-name=libasan.so):$(gcc -print-file-name=libstdc++.so)" \
    ASAN_OPTIONS=$asan_common:detect_leaks=0 \
    "$python" -m pytest -p no:cacheprovider --capture=sys
