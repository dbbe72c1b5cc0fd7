#!/usr/bin/env bash
# Installs what building and testing tarvel needs on Debian 12, when it is missing:
# the mingw-w64 i686 toolchain, Wine with its 32-bit part, the GoogleTest sources, CMake,
# for the release tests Python, OpenSSL and osslsigncode, wixl and msitools for the installer
# package (with the Libmsi bindings that make it reproducible), and clang-format and
# clang-tidy for the style checks.
# Usage: setup.sh [EXTRA-PACKAGE...]
set -euo pipefail

packages=(cmake make python3 g++-mingw-w64-i686-posix gcc-mingw-w64-i686-posix
          binutils-mingw-w64-i686 mingw-w64-i686-dev googletest wine wine64 wine32:i386
          openssl osslsigncode wixl msitools gir1.2-libmsi-1.0 python3-gi clang-format clang-tidy)
packages+=("$@")

missing=()
for package in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
        missing+=("$package")
    fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"
echo "Installing: ${missing[*]}"
if ! dpkg --print-foreign-architectures | grep -qx i386; then
    $sudo dpkg --add-architecture i386
fi
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
