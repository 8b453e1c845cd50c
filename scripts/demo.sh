#!/usr/bin/env bash
# Installs the package and its run-time dependencies (NumPy) into .venv-demo,
# and nothing else, then runs the built-in example.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/common.sh

ensure_demo_venv
.venv-demo/bin/python -m zef demo
