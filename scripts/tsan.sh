#!/usr/bin/env bash
# The ThreadSanitizer stage: builds the engine and the C++ suites with
# -fsanitize=thread (gcc) and runs the suites whose work is spread over
# threads: the pool, the progress state, and mine_motifs and discover on
# several threads. Any report of a data race (or other thread error) ends the
# run and fails the stage.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/common.sh

ensure_gtest
# cmake and ninja: the project's environment has them when make test made it.
if [ -x .venv/bin/cmake ]; then export PATH="$PWD/.venv/bin:$PATH"; fi

echo "Building the C++ test suites with ThreadSanitizer..."
cmake -S . -B build/tsan-cpp -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DZEF_BUILD_MODULE=OFF -DZEF_BUILD_TESTS=ON -DZEF_TSAN=ON >/dev/null
cmake --build build/tsan-cpp

echo "Running the threaded suites under ThreadSanitizer..."
TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 \
    build/tsan-cpp/tests/cpp/zef_tests --gtest_filter='ThreadPool.*:Progress.*:MiningRunner.*:MineMotifs.*:Discovery.*' --gtest_brief=1
