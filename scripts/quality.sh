#!/usr/bin/env bash
# Sets up the module with the benchmark extra in .venv and runs
# benchmarks/quality.py; arguments are passed on (--quick, --gunpoint-only, --write-docs, ...).
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/common.sh

PIP_INSTALL_TARGET=".[bench]" ensure_venv
.venv/bin/python benchmarks/quality.py "$@"
