#!/usr/bin/env bash
# Builds kelvane.exe and runs it under Wine with the arguments given: a folder, a
# shortcut, or none for the browse dialog. With a display, it opens there. With
# none, it uses a private Xvfb display, waits until the console, the dialog or the
# message is on the screen and painted, saves a screenshot of it, prints its path
# and ends everything it started.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake --workflow --preset release >/dev/null
source scripts/screen.sh

# The command line as Windows sees it: every argument quoted.
line="\"$(winepath -w "$build/kelvane.exe" 2>/dev/null)\""
for argument in "$@"; do line+=" \"$argument\""; done

start_screen
echo "Running: $line"
wine "$build/tests/probe.exe" show "$line" | sed -n 's/^\(dialog\|static\|button\|child\)=/  \1: /p'

if [ -n "$xvfb_pid" ]; then
  shoot "$build/kelvane-run.png"
  echo "Screenshot: $build/kelvane-run.png"
fi
