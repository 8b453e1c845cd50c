#!/usr/bin/env bash
# Every test on a fresh machine: the fast check (scripts/check.sh), then the
# slow suites (scripts/harden.sh).
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/check.sh
bash scripts/harden.sh
