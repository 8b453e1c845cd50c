#!/usr/bin/env bash
# Builds the documentation site (docs/, Sphinx) into build/docs/html with every
# warning an error, after setting up .venv when it is missing. The output
# directory starts empty each time, so that every plot is drawn again from the
# code and the data that the pages hold now.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/common.sh

if [ "${1:-}" != "--no-setup" ]; then
    ensure_venv
fi
echo "Building the documentation..."
rm -rf build/docs
.venv/bin/python -m sphinx -W --keep-going -q -b html -d build/docs/doctrees docs build/docs/html
echo "Documentation: build/docs/html/index.html"
