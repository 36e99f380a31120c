#!/usr/bin/env bash
# Packs the existing Windows builds (scripts/package.sh --no-build) and checks
# the zip: exactly the three programs and the release notes, side by side;
# each program byte for byte the one built, of the right machine, GUI
# subsystem, importing Windows system DLLs only. Same variables as
# scripts/package.sh.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
win32=$(realpath -m "${WIN32_BUILD_DIR:-$root/build/win32}")
win64=$(realpath -m "${WIN64_BUILD_DIR:-$root/build/win64}")
export WIN32_BUILD_DIR=$win32 WIN64_BUILD_DIR=$win64

zip=$("$root/scripts/package.sh" --no-build)
fail() { echo "package check: $*" >&2; exit 1; }
[ -f "$zip" ] || fail "no zip at $zip"

names=$(unzip -Z1 "$zip" | sort | tr '\n' ' ')
[ "$names" = "RELEASE.txt Tidewell.exe Tidewell64.exe Zorvane64.exe " ] ||
    fail "unexpected content: $names"

x=$(mktemp -d)
trap 'rm -rf "$x"' EXIT
unzip -q "$zip" -d "$x"

cmp -s "$x/Tidewell.exe" "$win32/Tidewell.exe" || fail "Tidewell.exe differs from the win32 build"
cmp -s "$x/Tidewell64.exe" "$win64/Tidewell64.exe" || fail "Tidewell64.exe differs from the win64 build"
cmp -s "$x/Zorvane64.exe" "$win64/Zorvane64.exe" || fail "Zorvane64.exe differs from the win64 build"
tr -d '\r' < "$x/RELEASE.txt" | cmp -s - "$root/docs/RELEASE.txt" || fail "RELEASE.txt differs from docs/RELEASE.txt"

check_exe() {  # file, expected object format
    local info
    info=$(x86_64-w64-mingw32-objdump -p "$1") || fail "$1 is not a PE file"
    grep -q "file format $2\$" <<<"$info" || fail "$(basename "$1") is not $2"
    grep -q "Subsystem.*(Windows GUI)" <<<"$info" || fail "$(basename "$1") is not a GUI program"
    local dll
    for dll in $(sed -n 's/.*DLL Name: //p' <<<"$info"); do
        case "${dll^^}" in
            KERNEL32.DLL|USER32.DLL|ADVAPI32.DLL|SETUPAPI.DLL|CFGMGR32.DLL|MSVCRT.DLL) ;;
            *) fail "$(basename "$1") imports $dll" ;;
        esac
    done
}
check_exe "$x/Tidewell.exe" pei-i386
check_exe "$x/Tidewell64.exe" pei-x86-64
check_exe "$x/Zorvane64.exe" pei-x86-64
echo "package check: $zip holds the three programs and RELEASE.txt"
