#!/usr/bin/env bash
# Measures how long kelvane.exe takes from its start with a folder until the
# interpreter starts, against the floor (a launcher making only the calls that
# road must make), side by side under Wine, and prints the median ratio:
#   bash bench/run.sh [PAIRS]      (120 alternating pairs unless told)
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake --workflow --preset release >/dev/null
/usr/bin/python3 bench/launch.py build/release "${1:-120}"
