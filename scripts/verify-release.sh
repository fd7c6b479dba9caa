#!/usr/bin/env bash
# Checks a downloaded release folder (the zip, the installer and SHA256SUMS,
# with signatures/ for a signed one): every file against SHA256SUMS, and for a
# signed release the Authenticode signatures of the installer and of the
# kelvane.exe in the zip, against ROOT (a PEM file of the root certificate the
# signer's chains to), or against the system's roots:
#   bash scripts/verify-release.sh RELEASE-FOLDER [ROOT.pem]
# Prints what it checked; exits non-zero on the first thing that does not hold.
set -euo pipefail
release=$(cd "$1" && pwd)
root=${2:-}
[ -z "$root" ] || root=$(realpath "$root")

(cd "$release" && sha256sum --strict -c SHA256SUMS)

if [ ! -d "$release/signatures" ]; then
  echo "No signatures/: an unsigned release. The hashes above are all it has."
  exit 0
fi
command -v osslsigncode >/dev/null || { echo "osslsigncode is needed (apt-get install osslsigncode)" >&2; exit 2; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
verify() {
  local name="$1" image="$2"
  if osslsigncode verify ${root:+-CAfile "$root"} -in "$image" >"$work/verify.log" 2>&1; then
    echo "$name: signature verified$( [ -n "$root" ] && echo " against $root")"
  else
    cat "$work/verify.log" >&2
    echo "$name: the signature does not verify" >&2
    exit 1
  fi
}

for setup in "$release"/kelvane-*-setup.exe; do
  verify "$(basename "$setup")" "$setup"
done
for zip in "$release"/kelvane-*-win32.zip; do
  /usr/bin/python3 - "$zip" "$work/kelvane.exe" <<'PYTHON'
import sys
import zipfile
with zipfile.ZipFile(sys.argv[1]) as archive:
    name = next(n for n in archive.namelist() if n.endswith("/kelvane.exe"))
    open(sys.argv[2], "wb").write(archive.read(name))
PYTHON
  verify "kelvane.exe in $(basename "$zip")" "$work/kelvane.exe"
done
echo "The uninstaller's signature is checked once installed: its file properties, Digital Signatures."
