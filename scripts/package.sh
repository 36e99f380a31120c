#!/usr/bin/env bash
# Builds the Windows programs and packs Tidewell.exe, Tidewell64.exe and
# Zorvane64.exe side by side, with the release notes, into one zip.
#
#   scripts/package.sh [--no-build]
#
# --no-build packs what the build folders already hold.
# WIN32_BUILD_DIR, WIN64_BUILD_DIR: build folders of the win32 and win64
# presets (default build/win32, build/win64). PACKAGE_DIR: where the zip goes
# (default build/package).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
# Folders given relative to where the script was called from.
win32=$(realpath -m "${WIN32_BUILD_DIR:-$root/build/win32}")
win64=$(realpath -m "${WIN64_BUILD_DIR:-$root/build/win64}")
out=$(realpath -m "${PACKAGE_DIR:-$root/build/package}")
cd "$root"
zipname=omrak-device-tools.zip

build=1
for arg in "$@"; do
    case "$arg" in
        --no-build) build=0 ;;
        *) echo "usage: $0 [--no-build]" >&2; exit 2 ;;
    esac
done

if [ "$build" = 1 ]; then
    cmake --preset win32 -B "$win32" >/dev/null
    cmake --build "$win32" -j2
    cmake --preset win64 -B "$win64" >/dev/null
    cmake --build "$win64" -j2
fi

files=("$win32/Tidewell.exe" "$win64/Tidewell64.exe" "$win64/Zorvane64.exe")
for f in "${files[@]}"; do
    if [ ! -f "$f" ]; then
        echo "package: $f is missing (build the win32 and win64 presets first)" >&2
        exit 1
    fi
done

stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
cp "${files[@]}" "$stage/"
# The notes are read on Windows: CRLF line ends.
sed 's/\r*$/\r/' docs/RELEASE.txt > "$stage/RELEASE.txt"

mkdir -p "$out"
rm -f "$out/$zipname"
(cd "$stage" && zip -q -X "$out/$zipname" Tidewell.exe Tidewell64.exe Zorvane64.exe RELEASE.txt)
echo "$out/$zipname"
