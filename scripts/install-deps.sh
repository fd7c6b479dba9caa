#!/usr/bin/env bash
# Installs what building and testing kelvane needs on Debian 12, and only what is
# missing: the MinGW-w64 toolchains (i686 for kelvane, x86-64 for a test
# stand-in), CMake, Wine (with its 32-bit part), Xvfb, ImageMagick for screenshots and python3-pefile for reading the image.
set -euo pipefail

packages=(cmake g++-mingw-w64-i686 g++-mingw-w64-x86-64-win32 wine wine64 wine32:i386 xvfb imagemagick python3 python3-pefile)
sudo=""
if [ "$(id -u)" -ne 0 ]; then sudo="sudo"; fi

missing=()
for package in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$package")
  fi
done
if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

echo "Installing: ${missing[*]}"
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  $sudo dpkg --add-architecture i386
fi
$sudo apt-get update -q
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q --no-install-recommends "${missing[@]}"
