#!/usr/bin/env bash
# Sets up the module with the benchmark extra in .venv and runs benchmarks/quality.py, then
# benchmarks/lengths.py (shapes of unknown length); arguments are passed on (--quick, --gunpoint-only,
# --write-docs, ...): to lengths.py only those it takes, and it is left out when the planted-shape
# cells are (--no-cells, --gunpoint-only).
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/common.sh

PIP_INSTALL_TARGET=".[bench]" ensure_venv
.venv/bin/python benchmarks/quality.py "$@"

lengths_args=()
while [ $# -gt 0 ]; do
    case "$1" in
        --gunpoint-only | --no-cells) exit 0 ;;
        --quick | --no-peers | --no-cache | --write-docs | --tuning | --sets=* | --cache=*) lengths_args+=("$1") ;;
        --sets | --cache) lengths_args+=("$1" "$2"); shift ;;
    esac
    shift
done
.venv/bin/python benchmarks/lengths.py "${lengths_args[@]}"
