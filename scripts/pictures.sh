#!/usr/bin/env bash
# Takes the README's pictures anew, each window alone on a private display in
# the same framed Wine desktop that run.sh uses, cut to the window:
# docs/console.png, docs/dialog.png, docs/message.png and docs/installer.png
# (the installer's last page).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake --workflow --preset package >/dev/null
unset DISPLAY
source scripts/screen.sh
start_screen

exe="\"$(winepath -w "$build/kelvane.exe" 2>/dev/null)\""
version=$(sed -n 's/^KELVANE_VERSION:STRING=//p' "$build/CMakeCache.txt")
setup="\"$(winepath -w "$build/package/kelvane-$version-setup.exe" 2>/dev/null)\""

# picture NAME PROBE-ARGUMENTS...: shows one thing, alone, and keeps it.
picture() {
  local name="$1"
  shift
  wineserver -k 2>/dev/null || true
  wine "$build/tests/probe.exe" show "$@" >/dev/null
  shoot "$build/$name.png"
  convert "$build/$name.png" -trim +repage "docs/$name.png"
  echo "docs/$name.png"
}

picture console "$exe \"C:\\Program Files\""
picture dialog "$exe"
picture message "$exe \"C:\\no such folder\""
picture installer --press "&Install" --until "&Finish" "$setup"
