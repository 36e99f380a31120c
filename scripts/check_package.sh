#!/usr/bin/env bash
# Packs the existing Windows builds (scripts/package.sh --no-build) and checks
# the zip: exactly the three programs and the release notes, side by side;
# each program byte for byte the one built, of the right machine, GUI
# subsystem, importing KnownDLLs only, with its version block as its only
# resource (Tidewell64.exe also its asInvoker manifest). Same variables as
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

# The resources of a program, one line each: type, name, language, RVA, size
# (hexadecimal, as objdump prints them).
resources() {
    awk '
        /The .rsrc Resource Directory section/ { on = 1; next }
        /Resources start at offset/ { on = 0 }
        on && /Entry: / {
            id = $0; sub(/.*Entry: (ID|name): /, "", id); sub(/,.*/, "", id)
            depth = index($0, "Entry:")
            if (depth == 7) type = id; else if (depth == 9) name = id; else lang = id
        }
        on && /Leaf: Addr: / {
            addr = $0; sub(/.*Addr: /, "", addr); sub(/,.*/, "", addr)
            size = $0; sub(/.*Size: /, "", size); sub(/,.*/, "", size)
            print type, name, lang, addr, size
        }' <<<"$1"
}

# The bytes of one resource: its RVA and size, from the .rsrc section's place
# in the file.
resource_bytes() {  # file, objdump -p text, RVA, size
    local base line vma off
    base=$(sed -n 's/^ImageBase[[:space:]]*//p' <<<"$2")
    line=$(x86_64-w64-mingw32-objdump -h "$1" | awk '$2 == ".rsrc" { print $4, $6 }')
    vma=${line% *}
    off=${line#* }
    dd if="$1" iflag=skip_bytes,count_bytes skip=$((16#$off + $3 - (16#$vma - 16#$base))) \
        count=$(($4)) status=none
}

check_exe() {  # file, expected object format
    local info name
    name=$(basename "$1")
    info=$(x86_64-w64-mingw32-objdump -p "$1") || fail "$1 is not a PE file"
    grep -q "file format $2\$" <<<"$info" || fail "$name is not $2"
    grep -q "Subsystem.*(Windows GUI)" <<<"$info" || fail "$name is not a GUI program"
    # KnownDLLs only: Windows maps those from the system folder, never from
    # the program's folder, where anyone who can write could plant a DLL.
    local dll
    for dll in $(sed -n 's/.*DLL Name: //p' <<<"$info"); do
        case "${dll^^}" in
            KERNEL32.DLL|USER32.DLL|ADVAPI32.DLL|SETUPAPI.DLL|MSVCRT.DLL) ;;
            *) fail "$name imports $dll, which is no KnownDLL" ;;
        esac
    done
    # The version block (RT_VERSION 16, resource 1); Tidewell64.exe also its
    # application manifest (RT_MANIFEST 24, resource 1), nothing else.
    local res types
    res=$(resources "$info")
    types=$(awk '{ print $1 "/" $2 }' <<<"$res" | tr '\n' ' ')
    if [ "$name" != Tidewell64.exe ]; then
        [ "$types" = "0x000010/0x000001 " ] || fail "$name has resources other than its version block: $types"
        return
    fi
    [ "$types" = "0x000010/0x000001 0x000018/0x000001 " ] ||
        fail "$name does not hold exactly its version block and manifest: $types"
    local manifest id
    manifest=$(resource_bytes "$1" "$info" $(awk '$1 == "0x000018" { print $4, $5 }' <<<"$res"))
    grep -q '<requestedExecutionLevel level="asInvoker" uiAccess="false"/>' <<<"$manifest" ||
        fail "$name: the manifest does not ask for asInvoker"
    ! grep -qE 'requireAdministrator|highestAvailable|uiAccess="true"' <<<"$manifest" ||
        fail "$name: the manifest asks for more than the caller's rights"
    for id in 35138b9a-5d96-4fbd-8e2d-a2440225f93a 4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38 \
              1f676c76-80e1-4239-95bb-83d0f6d0da78 8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a; do
        grep -q "<supportedOS Id=\"{$id}\"/>" <<<"$manifest" || fail "$name: the manifest lacks supportedOS $id"
    done
}
check_exe "$x/Tidewell.exe" pei-i386
check_exe "$x/Tidewell64.exe" pei-x86-64
check_exe "$x/Zorvane64.exe" pei-x86-64
echo "package check: $zip holds the three programs and RELEASE.txt"
