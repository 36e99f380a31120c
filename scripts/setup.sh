#!/usr/bin/env bash
# Installs what the build and the tests need on Debian 12, when missing.
# Safe to run again: it installs nothing that is already there.
# Then finds out whether this host starts i386 programs (Wine's 32-bit side
# needs them) and, on a host that runs 64-bit code only, sets up CPU
# emulation for them; it stops with what is missing where it cannot
# (scripts/i386host.py). OMRAK_EMULATE_I386=1 sets up the emulation on any
# host; the command that called this removes it at its end
# (scripts/i386host.py undo).
#
#   scripts/setup.sh                   apt's output on the terminal
#   scripts/setup.sh --apt-log FILE    apt's output kept in FILE, one line here
set -euo pipefail
cd "$(dirname "$0")/.."
apt_log=""
[ "${1:-}" != "--apt-log" ] || apt_log=${2:?--apt-log needs a file}

need=()
have() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "install ok installed"; }
for pkg in cmake g++ make clang libclang-rt-14-dev libgtest-dev libbenchmark-dev \
           g++-mingw-w64-i686 g++-mingw-w64-x86-64 mingw-w64-tools \
           wine wine64 wine32:i386 xvfb x11-apps imagemagick zip unzip \
           python3 x11-utils xdotool osslsigncode openssl; do
    have "$pkg" || need+=("$pkg")
done
if [ ${#need[@]} -gt 0 ]; then
    SUDO=""
    [ "$(id -u)" -eq 0 ] || SUDO="sudo"
    if [ -n "$apt_log" ]; then
        mkdir -p "$(dirname "$apt_log")"
        echo "Installing ${#need[@]} packages (${need[*]}); apt's output goes to $apt_log"
        exec 3>&1 4>&2 >"$apt_log" 2>&1
    fi
    [ -n "$apt_log" ] || echo "Installing: ${need[*]}"
    if ! { { dpkg --print-foreign-architectures | grep -qx i386 ||
             $SUDO dpkg --add-architecture i386; } &&
           $SUDO apt-get update -q &&
           DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -q --no-install-recommends \
               "${need[@]}"; }; then
        [ -z "$apt_log" ] || { exec >&3 2>&4; tail -n 20 "$apt_log"; }
        echo "Installing the packages failed${apt_log:+, see $apt_log}" >&2
        exit 1
    fi
    [ -z "$apt_log" ] || exec >&3 2>&4 3>&- 4>&-
fi

mkdir -p build
python3 scripts/i386host.py setup build/i386-registration
