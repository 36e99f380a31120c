#!/usr/bin/env bash
# Installs what the build and the tests need on Debian 12, when missing.
# Safe to run again: it installs nothing that is already there.
set -euo pipefail

need=()
have() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "install ok installed"; }
for pkg in cmake g++ make clang libclang-rt-14-dev libgtest-dev libbenchmark-dev \
           g++-mingw-w64-i686 g++-mingw-w64-x86-64 mingw-w64-tools \
           wine wine64 wine32:i386 xvfb x11-apps imagemagick zip unzip \
           python3 x11-utils xdotool; do
    have "$pkg" || need+=("$pkg")
done
if [ ${#need[@]} -eq 0 ]; then
    exit 0
fi
SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO="sudo"
if ! dpkg --print-foreign-architectures | grep -qx i386; then
    $SUDO dpkg --add-architecture i386
fi
echo "Installing: ${need[*]}"
$SUDO apt-get update -q
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -q --no-install-recommends "${need[@]}"
