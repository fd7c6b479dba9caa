#!/usr/bin/env bash
# Builds kelvane.exe and runs it under Wine with the arguments given: a folder, a
# shortcut, or none for the browse dialog. With a display, it opens there. With
# none, it uses a private Xvfb display, waits until the console, the dialog or the
# message is up, saves a screenshot of the screen, prints its path and ends
# everything it started.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake --workflow --preset release >/dev/null

build="$PWD/build/release"
export WINEPREFIX="$build/run-wine" WINEDEBUG=-all LANG=C.UTF-8
export WINEDLLOVERRIDES="winemenubuilder.exe=d;mscoree=d;mshtml=d"

# The command line as Windows sees it: every argument quoted.
line="\"$(winepath -w "$build/kelvane.exe" 2>/dev/null)\""
for argument in "$@"; do line+=" \"$argument\""; done

xvfb_pid=""
cleanup() {
  if [ -n "$xvfb_pid" ]; then
    wineserver -k 2>/dev/null || true
    kill "$xvfb_pid" 2>/dev/null || true
  fi
}
trap cleanup EXIT

if [ -z "${DISPLAY:-}" ]; then
  display_file=$(mktemp)
  Xvfb -displayfd 3 -screen 0 1024x640x24 -wr -nolisten tcp 3>"$display_file" >/dev/null 2>&1 &
  xvfb_pid=$!
  for _ in $(seq 100); do [ -s "$display_file" ] && break; sleep 0.1; done
  export DISPLAY=":$(cat "$display_file")"
  rm -f "$display_file"
fi

[ -f "$WINEPREFIX/system.reg" ] || wineboot --init >/dev/null 2>&1
echo "Running: $line"
wine "$build/tests/probe.exe" show "$line" | sed -n 's/^\(dialog\|static\|button\|child\)=/  \1: /p'

if [ -n "$xvfb_pid" ]; then
  sleep 4
  shot="$build/kelvane-run.png"
  import -window root "$shot"
  echo "Screenshot: $shot"
fi
