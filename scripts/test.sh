#!/usr/bin/env bash
# Installs what is missing, builds kelvane.exe and its test helpers, and runs the
# whole suite under Wine in a private X display and a test-owned prefix.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake --workflow --preset check
