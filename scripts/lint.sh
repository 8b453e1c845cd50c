#!/usr/bin/env bash
# Checks the format and lint of the sources: ruff (format and lint) for the
# Python code, clang-format for the C++ code. With --fix, applies them instead.
set -euo pipefail
cd "$(dirname "$0")/.."

bin=.venv/bin
cpp_sources=$(git ls-files -- 'src/**.cpp' 'src/**.h' 'tests/cpp/**.cpp' 'tests/cpp/**.h' 'tests/fuzz/*.cpp' 'benchmarks/*.cpp')
if [ "${1:-}" = "--fix" ]; then
    "$bin/ruff" format .
    "$bin/ruff" check --fix .
    # shellcheck disable=SC2086
    "$bin/clang-format" -i $cpp_sources
    exit 0
fi
"$bin/ruff" format --check .
"$bin/ruff" check .
# shellcheck disable=SC2086
"$bin/clang-format" --dry-run --Werror $cpp_sources
echo "Format and lint: clean."
