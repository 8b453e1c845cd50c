#!/usr/bin/env bash
# Fuzzes the engine with libFuzzer for a given time (seconds, default 60):
# builds the target with clang, AddressSanitizer and UBSan (installing clang
# and libFuzzer when missing) and runs it from the seed corpus in
# tests/fuzz/corpus. New inputs collect in build/fuzz/corpus; a crashing input
# is written to build/fuzz/artifacts/ and the script fails.
#   bash scripts/fuzz.sh [SECONDS]
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/common.sh
source scripts/tools.sh

seconds=${1:-60}
ensure_clang_fuzzer
# cmake and ninja: the project's environment has them when make test made it.
if [ -x .venv/bin/cmake ]; then export PATH="$PWD/.venv/bin:$PATH"; fi

echo "Building the fuzz target (clang, ASan, UBSan)..."
cmake -S . -B build/fuzz -G Ninja -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DZEF_BUILD_MODULE=OFF -DZEF_SANITIZE=ON -DZEF_BUILD_FUZZERS=ON >/dev/null
cmake --build build/fuzz

mkdir -p build/fuzz/corpus build/fuzz/artifacts
log=build/fuzz/fuzz.log
echo "Fuzzing the engine for ${seconds} s (log: $log)..."
status=0
# detect_leaks: the engine owns everything by value, so a leak is a finding too.
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    build/fuzz/tests/fuzz/zef_fuzz_engine -max_total_time="$seconds" -timeout=30 -rss_limit_mb=2048 \
    -print_final_stats=1 -artifact_prefix=build/fuzz/artifacts/ build/fuzz/corpus tests/fuzz/corpus \
    >"$log" 2>&1 || status=$?
if [ "$status" -ne 0 ]; then
    tail -n 60 "$log"
    echo "error: the fuzzer found a failing input (exit $status); see build/fuzz/artifacts/." >&2
    echo "Reproduce: ZEF_FUZZ_PRINT=1 build/fuzz/tests/fuzz/zef_fuzz_engine build/fuzz/artifacts/<file>" >&2
    exit "$status"
fi
grep -E '^(Done|stat::(number_of_executed_units|average_exec_per_sec|new_units_added|peak_rss_mb))' "$log"
echo "Fuzzing found no failure."
