#!/usr/bin/env bash
# Packs the existing Windows builds (scripts/package.sh --no-build) and checks
# the zip: exactly the four programs and the release notes, side by side;
# each program byte for byte the one built, of the right machine, GUI
# subsystem, importing KnownDLLs only, with its own version block as its only
# resource (Tidewell64.exe and TidewellDeploy.exe also their asInvoker manifest). Same variables as
# scripts/package.sh. Also: a second build elsewhere gives the same bytes
# (--reproduce); SHA256SUMS, PE flags, time stamp and versions; the same of a
# package signed with a throwaway CA's certificate.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
win32=$(realpath -m "${WIN32_BUILD_DIR:-$root/build/win32}")
win64=$(realpath -m "${WIN64_BUILD_DIR:-$root/build/win64}")
export WIN32_BUILD_DIR=$win32 WIN64_BUILD_DIR=$win64
version=$(head -n 1 "$root/VERSION")
epoch=${SOURCE_DATE_EPOCH:-$(git -C "$root" log -1 --format=%ct 2>/dev/null || echo 0)}

zip=$("$root/scripts/package.sh" --no-build --reproduce)
fail() { echo "package check: $*" >&2; exit 1; }
[ "$(basename "$zip")" = "omrak-device-tools-$version.zip" ] || fail "the zip is not named by the version: $zip"
(cd "$(dirname "$zip")" && sha256sum -c --quiet "$zip.sha256") || fail "the zip's .sha256 does not check"

names=$(unzip -Z1 "$zip" | sort | tr '\n' ' ')
[ "$names" = "RELEASE.txt SHA256SUMS Tidewell.exe Tidewell64.exe TidewellDeploy.exe Zorvane64.exe " ] ||
    fail "unexpected content: $names"

x=$(mktemp -d)
trap 'rm -rf "$x"' EXIT
unzip -q "$zip" -d "$x"

cmp -s "$x/Tidewell.exe" "$win32/Tidewell.exe" || fail "Tidewell.exe differs from the win32 build"
cmp -s "$x/TidewellDeploy.exe" "$win32/TidewellDeploy.exe" || fail "TidewellDeploy.exe differs from the win32 build"
cmp -s "$x/Tidewell64.exe" "$win64/Tidewell64.exe" || fail "Tidewell64.exe differs from the win64 build"
cmp -s "$x/Zorvane64.exe" "$win64/Zorvane64.exe" || fail "Zorvane64.exe differs from the win64 build"
tr -d '\r' < "$x/RELEASE.txt" | cmp -s - <(sed "s/@RELEASE_VERSION@/$version/g" "$root/docs/RELEASE.txt") ||
    fail "RELEASE.txt differs from docs/RELEASE.txt"
grep -qx "Release $version"$'\r' "$x/RELEASE.txt" || fail "RELEASE.txt does not name release $version"
[ "$(cut -d' ' -f3 "$x/SHA256SUMS" | tr '\n' ' ')" = "Tidewell.exe TidewellDeploy.exe Tidewell64.exe Zorvane64.exe RELEASE.txt " ] &&
    (cd "$x" && sha256sum -c --quiet SHA256SUMS) || fail "SHA256SUMS does not check every file"

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

check_exe() {  # file, expected object format, DllCharacteristics, its version block's InternalName
    local info name
    name=$(basename "$1")
    info=$(TZ=UTC x86_64-w64-mingw32-objdump -p "$1") || fail "$1 is not a PE file"
    grep -q "file format $2\$" <<<"$info" || fail "$name is not $2"
    grep -q "Subsystem.*(Windows GUI)" <<<"$info" || fail "$name is not a GUI program"
    # TERMINAL_SERVICE_AWARE 8000, NX_COMPAT 100, DYNAMIC_BASE 40, HIGH_ENTROPY_VA 20.
    grep -q "^DllCharacteristics[[:space:]]*0000$3\$" <<<"$info" || fail "$name: PE flags are not $3"
    grep -q "^Time/Date[[:space:]]*$(TZ=UTC date -d "@$epoch" '+%a %b %e %T %Y')\$" <<<"$info" ||
        fail "$name: the PE time stamp is not the commit's"
    # KnownDLLs only: Windows maps those from the system folder, never from
    # the program's folder, where anyone who can write could plant a DLL.
    local dll
    for dll in $(sed -n 's/.*DLL Name: //p' <<<"$info"); do
        case "${dll^^}" in
            KERNEL32.DLL|USER32.DLL|ADVAPI32.DLL|SETUPAPI.DLL|MSVCRT.DLL) ;;
            *) fail "$name imports $dll, which is no KnownDLL" ;;
        esac
    done
    # The version block (RT_VERSION 16, resource 1); Tidewell64.exe and
    # TidewellDeploy.exe also their application manifest (RT_MANIFEST 24,
    # resource 1), nothing else.
    local res types block
    res=$(resources "$info")
    types=$(awk '{ print $1 "/" $2 }' <<<"$res" | tr '\n' ' ')
    # The version block is the program's own. A 32-bit program without a
    # manifest whose version strings name an installer keyword would be
    # asked by Windows' installer detection to run elevated.
    block=$(resource_bytes "$1" "$info" $(awk '$1 == "0x000010" { print $4, $5 }' <<<"$res") | tr -d '\0')
    grep -qF "InternalName$4" <<<"$block" || fail "$name: its version block is not its own (InternalName $4)"
    [ "$2" != pei-i386 ] || ! grep -qiE 'install|setup|update' <<<"$block" ||
        fail "$name: its version block names an installer keyword"
    if [ "$name" != Tidewell64.exe ] && [ "$name" != TidewellDeploy.exe ]; then
        [ "$types" = "0x000010/0x000001 " ] || fail "$name has resources other than its version block: $types"
        return
    fi
    [ "$types" = "0x000010/0x000001 0x000018/0x000001 " ] ||
        fail "$name does not hold exactly its version block and manifest: $types"
    local manifest id
    manifest=$(resource_bytes "$1" "$info" $(awk '$1 == "0x000018" { print $4, $5 }' <<<"$res"))
    grep -q "<assemblyIdentity .* version=\"$version.0\"" <<<"$manifest" || fail "$name: the manifest is not of $version"
    grep -q '<requestedExecutionLevel level="asInvoker" uiAccess="false"/>' <<<"$manifest" ||
        fail "$name: the manifest does not ask for asInvoker"
    ! grep -qE 'requireAdministrator|highestAvailable|uiAccess="true"' <<<"$manifest" ||
        fail "$name: the manifest asks for more than the caller's rights"
    for id in 35138b9a-5d96-4fbd-8e2d-a2440225f93a 4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38 \
              1f676c76-80e1-4239-95bb-83d0f6d0da78 8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a; do
        grep -q "<supportedOS Id=\"{$id}\"/>" <<<"$manifest" || fail "$name: the manifest lacks supportedOS $id"
    done
}
check_all() {  # folder
    check_exe "$1/Tidewell.exe" pei-i386 8140 Tidewell
    check_exe "$1/TidewellDeploy.exe" pei-i386 8140 TidewellDeploy
    check_exe "$1/Tidewell64.exe" pei-x86-64 8160 Tidewell64
    check_exe "$1/Zorvane64.exe" pei-x86-64 8160 Zorvane
}
check_all "$x"
echo "package check: $zip holds the four programs, RELEASE.txt and SHA256SUMS, reproducibly"

# Signed with a throwaway CA's code-signing certificate: PKCS#12, then PEM.
k=$x/pki && mkdir "$x/signed"
"$root/scripts/testca.sh" "$k" 2 signer
zip=$("$root/scripts/package.sh" --no-build --pkcs12 "$k/signer.p12" --password-file "$k/pass" --cafile "$k/ca.pem")
unzip -q "$zip" -d "$x/signed"
product=$(sed -n 's/.*"ProductName", "\(.*\)"/\1/p' "$root/uninstaller/Tidewell.rc")
url=$(sed -n "s/^PRODUCT_URL='\(.*\)'/\1/p" "$root/scripts/package.sh")
[ -n "$product" ] && [ -n "$url" ] || fail "no product name in Tidewell.rc or URL in package.sh"
for f in Tidewell.exe TidewellDeploy.exe Tidewell64.exe Zorvane64.exe; do
    osslsigncode verify -CAfile "$k/ca.pem" -in "$x/signed/$f" >"$k/verify.log" 2>&1 || fail "$f: signature does not verify"
    for want in "Message digest algorithm  : SHA256" "Text description: $product" "URL description: $url"; do
        grep -qF "$want" "$k/verify.log" || fail "$f: the signature lacks '$want'"
    done
    osslsigncode remove-signature -in "$x/signed/$f" -out "$k/$f" >/dev/null
    cmp -s "$k/$f" "$x/$f" || fail "$f: without its signature, it is not the program built"
done
check_all "$x/signed"
(cd "$x/signed" && sha256sum -c --quiet SHA256SUMS) || fail "SHA256SUMS does not check the signed files"
printf X | dd of="$x/signed/Zorvane64.exe" bs=1 seek=4096 conv=notrunc status=none
! osslsigncode verify -CAfile "$k/ca.pem" -in "$x/signed/Zorvane64.exe" >/dev/null 2>&1 ||
    fail "a program changed after signing still verifies"
"$root/scripts/package.sh" --no-build --cert "$k/signer.pem" --key "$k/signer.key" --cafile "$k/ca.pem" >/dev/null ||
    fail "signing with a PEM certificate and key failed"
# A time-stamp server that cannot be reached: the command fails, no zip is left.
! "$root/scripts/package.sh" --no-build --cert "$k/signer.pem" --key "$k/signer.key" \
    --timestamp http://127.0.0.1:9/ >/dev/null 2>&1 && [ ! -e "$zip" ] ||
    fail "a failed signing left a zip or did not fail"
echo "package check: signed with a test certificate, every signature verifies; a changed program does not"
