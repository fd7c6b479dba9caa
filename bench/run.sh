#!/usr/bin/env bash
# Measures how long kelvane.exe takes from its start with a folder until the
# interpreter starts, against the floor and the limit (launchers making only the
# calls that road must make: with shell32's splitter, and with the kernel
# alone), side by side under Wine, and prints the median ratios:
#   bash bench/run.sh [ROUNDS]      (120 rounds of the three unless told)
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake --workflow --preset release >/dev/null
/usr/bin/python3 bench/launch.py build/release "${1:-120}"
