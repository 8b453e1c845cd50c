#!/usr/bin/env bash
# The slow suites: a libFuzzer run of the engine (ZEF_FUZZ_SECONDS, 60 by
# default), then every suite again under AddressSanitizer and UBSan. Each
# stage is a script of its own (scripts/fuzz.sh, scripts/sanitize.sh).
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/fuzz.sh "${ZEF_FUZZ_SECONDS:-60}"
bash scripts/sanitize.sh
