#!/usr/bin/env bash
# Sets up the module with the benchmark extra (stumpy, pyts, tslearn, numpy) in
# .venv and runs benchmarks/bench.py; arguments are passed on (--quick, ...).
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/common.sh

PIP_INSTALL_TARGET=".[bench]" ensure_venv
.venv/bin/python benchmarks/bench.py "$@"
