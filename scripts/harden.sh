#!/usr/bin/env bash
# The slow suites: a libFuzzer run of the engine (ZEF_FUZZ_SECONDS, 60 by
# default), every suite again under AddressSanitizer and UBSan, the threaded
# suites under ThreadSanitizer, and the tests that start a local Dask cluster
# of worker processes. Each sanitizer stage is a script of its own
# (scripts/fuzz.sh, scripts/sanitize.sh, scripts/tsan.sh).
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/fuzz.sh "${ZEF_FUZZ_SECONDS:-60}"
bash scripts/sanitize.sh
bash scripts/tsan.sh

echo "Running the tests on a local Dask cluster..."
.venv/bin/python -m pytest -m cluster
