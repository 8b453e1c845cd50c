#!/usr/bin/env bash
# Runs the GoogleTest suites under valgrind's memcheck (not part of CI: slow).
# Builds them without sanitizers (valgrind and ASan do not mix) in
# build/valgrind; fails on any memcheck error or any leak.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/common.sh
source scripts/tools.sh

ensure_gtest
ensure_valgrind
# cmake and ninja: the project's environment has them when make test made it.
if [ -x .venv/bin/cmake ]; then export PATH="$PWD/.venv/bin:$PATH"; fi

echo "Building the C++ test suites for valgrind..."
cmake -S . -B build/valgrind -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DZEF_BUILD_MODULE=OFF -DZEF_BUILD_TESTS=ON >/dev/null
cmake --build build/valgrind

echo "Running the C++ test suites under memcheck..."
valgrind --tool=memcheck --error-exitcode=1 --leak-check=full --show-leak-kinds=all \
    --errors-for-leak-kinds=definite,indirect,possible --track-origins=yes \
    build/valgrind/tests/cpp/zef_tests --gtest_brief=1
echo "memcheck: no errors and no leaks."
