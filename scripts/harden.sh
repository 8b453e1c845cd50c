#!/usr/bin/env bash
# The slow suites: a libFuzzer run of the engine (ZEF_FUZZ_SECONDS, 60 by
# default), every suite again under AddressSanitizer and UBSan, and the
# threaded suites under ThreadSanitizer. Each
# stage is a script of its own (scripts/fuzz.sh, scripts/sanitize.sh,
# scripts/tsan.sh).
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/fuzz.sh "${ZEF_FUZZ_SECONDS:-60}"
bash scripts/sanitize.sh
bash scripts/tsan.sh
