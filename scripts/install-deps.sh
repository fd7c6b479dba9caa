#!/usr/bin/env bash
# Installs what building and testing kelvane needs on Debian 12, and only what is
# missing: the MinGW-w64 toolchains (i686 for kelvane, x86-64 for a test
# stand-in), CMake, NSIS for the installer, Wine (with its 32-bit part and its
# fonts), Xvfb, ImageMagick for screenshots, and for the tests python3-pefile
# (reading the image), python3-jsonschema and python3-yaml (the manifests),
# strip-nondeterminism (fixed stamps in the zip), and osslsigncode and openssl
# (signed releases, and their tests).
# On a kernel that runs no i386 code, it also sets up qemu to run Wine's 32-bit half.
set -euo pipefail

packages=(cmake g++-mingw-w64-i686 g++-mingw-w64-x86-64-win32 nsis wine wine64 wine32:i386 fonts-wine
          xvfb imagemagick python3 python3-pefile python3-jsonschema python3-yaml strip-nondeterminism
          osslsigncode openssl)
sudo=""
if [ "$(id -u)" -ne 0 ]; then sudo="sudo"; fi

missing=()
for package in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$package")
  fi
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    $sudo dpkg --add-architecture i386
  fi
  $sudo apt-get update -q
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q --no-install-recommends "${missing[@]}"
fi

# Wine runs a 32-bit Windows program in a 32-bit Linux process. Some x86-64
# kernels start no i386 code at all (IA-32 emulation off: exec format error);
# there, qemu's user-mode emulator runs those processes. Bookworm's qemu 7.2
# takes about a minute to start each one (it does not honour the no-replace
# mappings Wine reserves its address space with), so it comes from backports.
if /lib/ld-linux.so.2 --version >/dev/null 2>&1; then
  exit 0
fi
echo "This kernel runs no i386 code: running Wine's 32-bit half under qemu"
backports=/etc/apt/sources.list.d/bookworm-backports.list
if [ ! -f "$backports" ]; then
  echo "deb http://deb.debian.org/debian bookworm-backports main" | $sudo tee "$backports" >/dev/null
  $sudo apt-get update -q
fi
if ! dpkg --compare-versions "$(dpkg-query -W -f='${Version}' qemu-user-static 2>/dev/null || echo 0)" ge 1:8.2; then
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q --no-install-recommends \
    -t bookworm-backports qemu-user-static
fi

binfmt=/proc/sys/fs/binfmt_misc
[ -f "$binfmt/register" ] || $sudo mount -t binfmt_misc binfmt_misc "$binfmt"
# The emulator is opened once, now (flag F), so the handler stays valid in
# every mount namespace and across package upgrades until it is replaced here.
[ -f "$binfmt/qemu-i386" ] && echo -1 | $sudo tee "$binfmt/qemu-i386" >/dev/null
magic='\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00'
mask='\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff'
echo ":qemu-i386:M::$magic:$mask:$(readlink -f /usr/bin/qemu-i386-static):F" | $sudo tee "$binfmt/register" >/dev/null
/lib/ld-linux.so.2 --version >/dev/null
