#!/usr/bin/env bash
# Sets up the module and runs the built-in example.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/common.sh

ensure_venv
.venv/bin/python -m zef demo
