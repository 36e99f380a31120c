#!/usr/bin/env bash
# Builds the Windows programs and packs Tidewell.exe, TidewellDeploy.exe,
# Tidewell64.exe and Zorvane64.exe side by side, with the release notes and SHA256SUMS (the
# SHA-256 of each of them), into omrak-device-tools-<version>.zip, the version
# being the one in VERSION; <zip>.sha256 beside it holds the zip's own. Prints
# the zip's path last.
#
#   scripts/package.sh [--no-build] [--reproduce] [signing options]
#
# --no-build    packs what the build folders already hold.
# --reproduce   then builds the four programs again, from a copy of the
#               sources in a temporary folder, packs them again, and fails
#               unless the programs and the zip come out the same, byte for
#               byte (unsigned packages only).
#
# The same commit gives the same zip: the programs carry the commit's time as
# their PE time stamp, and the zip's entries have a fixed order, the commit's
# time and fixed permissions. The time is SOURCE_DATE_EPOCH where it is set,
# else that of the checked-out commit, else 0 (1980-01-01 in the zip).
#
# Signing (Authenticode, SHA-256, with osslsigncode), given a certificate:
#   --pkcs12 FILE --password-file FILE      a PKCS#12 file and its password
#   --cert FILE --key FILE [--password-file FILE]
#                                           a PEM certificate (with its chain)
#                                           and its private key
#   --timestamp URL    an RFC 3161 time-stamp server (optional)
#   --cafile FILE      CA certificates to verify the signatures against
#                      (default: the system's)
# Each program's signature carries the product's name and URL. Every
# signature is verified after signing; any failure fails the command and
# leaves no zip. Without a certificate the programs are packed unsigned.
#
# WIN32_BUILD_DIR, WIN64_BUILD_DIR: build folders of the win32 and win64
# presets (default build/win32, build/win64). PACKAGE_DIR: where the zip goes
# (default build/package).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
# Folders given relative to where the script was called from.
win32=$(realpath -m "${WIN32_BUILD_DIR:-$root/build/win32}")
win64=$(realpath -m "${WIN64_BUILD_DIR:-$root/build/win64}")
out=$(realpath -m "${PACKAGE_DIR:-$root/build/package}")

PRODUCT_NAME='Omrak USB Modem Driver Package'
# The product's page. A placeholder in a domain reserved for examples until
# the product has one.
PRODUCT_URL='https://omrak.example/device-tools'
PROGRAMS=(Tidewell.exe TidewellDeploy.exe Tidewell64.exe Zorvane64.exe)

usage() { echo "usage: $0 [--no-build] [--reproduce] [--pkcs12 FILE --password-file FILE |" \
    "--cert FILE --key FILE [--password-file FILE]] [--timestamp URL] [--cafile FILE]" >&2; exit 2; }
fail() { echo "package: $*" >&2; exit 1; }
# Every path is taken whole, before the script changes folder.
file_arg() { [ $# -ge 2 ] || usage; [ -r "$2" ] || fail "$1 $2: no such readable file"; realpath "$2"; }

build=1 reproduce=0 pkcs12='' password='' cert='' key='' tsurl='' cafile=''
while [ $# -gt 0 ]; do
    case "$1" in
        --no-build) build=0 ;;
        --reproduce) reproduce=1 ;;
        --pkcs12) pkcs12=$(file_arg "$@"); shift ;;
        --password-file) password=$(file_arg "$@"); shift ;;
        --cert) cert=$(file_arg "$@"); shift ;;
        --key) key=$(file_arg "$@"); shift ;;
        --cafile) cafile=$(file_arg "$@"); shift ;;
        --timestamp) [ $# -ge 2 ] || usage; tsurl=$2; shift ;;
        *) usage ;;
    esac
    shift
done
sign=()
if [ -n "$pkcs12" ]; then
    [ -z "$cert$key" ] || fail "give either --pkcs12 or --cert and --key, not both"
    [ -n "$password" ] || fail "--pkcs12 needs --password-file"
    sign=(-pkcs12 "$pkcs12" -readpass "$password")
elif [ -n "$cert$key" ]; then
    [ -n "$cert" ] && [ -n "$key" ] || fail "--cert and --key go together"
    sign=(-certs "$cert" -key "$key")
    [ -z "$password" ] || sign+=(-readpass "$password")
elif [ -n "$password$tsurl$cafile" ]; then
    fail "--password-file, --timestamp and --cafile need a certificate (--pkcs12 or --cert and --key)"
fi
if [ ${#sign[@]} -gt 0 ]; then
    [ "$reproduce" = 0 ] || fail "--reproduce compares unsigned packages: sign in a run of its own"
    command -v osslsigncode >/dev/null || fail "osslsigncode is not installed (scripts/setup.sh installs it)"
    sign+=(-h sha256 -n "$PRODUCT_NAME" -i "$PRODUCT_URL")
    [ -z "$tsurl" ] || sign+=(-ts "$tsurl")
fi

cd "$root"
version=$(head -n 1 VERSION)
[[ "$version" =~ ^[0-9]+\.[0-9]+\.[0-9]+$ ]] || fail "VERSION must hold one release version such as 2.1.0"
zipname=omrak-device-tools-$version.zip
if [ -z "${SOURCE_DATE_EPOCH:-}" ]; then
    SOURCE_DATE_EPOCH=$(git log -1 --format=%ct 2>/dev/null || true)
fi
[[ "${SOURCE_DATE_EPOCH:-}" =~ ^[0-9]+$ ]] || SOURCE_DATE_EPOCH=0
# The builds below take the same time for the programs' time stamps. A zip
# holds no time before 1980.
export SOURCE_DATE_EPOCH
ziptime=$((SOURCE_DATE_EPOCH < 315532800 ? 315532800 : SOURCE_DATE_EPOCH))

# An earlier zip goes first: a failed run leaves none.
rm -f "$out/$zipname" "$out/$zipname.sha256"

if [ "$build" = 1 ]; then
    cmake --preset win32 -B "$win32" >/dev/null
    cmake --build "$win32" -j2
    cmake --preset win64 -B "$win64" >/dev/null
    cmake --build "$win64" -j2
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
verify=()
[ -z "$cafile" ] || verify=(-CAfile "$cafile")

# Packs the programs of two build folders into a zip.
pack() {  # win32 build, win64 build, zip
    local stage=$work/stage f
    rm -rf "$stage" && mkdir "$stage"
    for f in "$1/Tidewell.exe" "$1/TidewellDeploy.exe" "$2/Tidewell64.exe" "$2/Zorvane64.exe"; do
        [ -f "$f" ] || fail "$f is missing (build the win32 and win64 presets first)"
        cp "$f" "$stage/"
    done
    if [ ${#sign[@]} -gt 0 ]; then
        for f in "${PROGRAMS[@]}"; do
            osslsigncode sign "${sign[@]}" -in "$stage/$f" -out "$stage/$f.signed" \
                >"$work/sign.log" 2>&1 || { cat "$work/sign.log" >&2; fail "signing $f failed"; }
            mv "$stage/$f.signed" "$stage/$f"
            osslsigncode verify "${verify[@]}" -in "$stage/$f" >"$work/verify.log" 2>&1 ||
                { cat "$work/verify.log" >&2; fail "the signature of $f does not verify"; }
        done
    fi
    # The notes are read on Windows: CRLF line ends. They name the release.
    sed -e "s/@RELEASE_VERSION@/$version/g" -e 's/\r*$/\r/' docs/RELEASE.txt > "$stage/RELEASE.txt"
    (cd "$stage" && sha256sum "${PROGRAMS[@]}" RELEASE.txt > SHA256SUMS)
    chmod 644 "$stage"/*
    touch -d "@$ziptime" "$stage"/*
    # zip stores local times: UTC, so that the zip is the same everywhere.
    rm -f "$work/pack.zip"
    (cd "$stage" && TZ=UTC zip -q -X "$work/pack.zip" "${PROGRAMS[@]}" RELEASE.txt SHA256SUMS)
    mkdir -p "$(dirname "$3")"
    mv "$work/pack.zip" "$3"
}

pack "$win32" "$win64" "$out/$zipname"
if [ ${#sign[@]} -gt 0 ]; then
    echo "package: ${PROGRAMS[*]} signed, each signature verified" >&2
else
    echo "package: no certificate given: the programs are packed unsigned" >&2
fi
(cd "$out" && sha256sum "$zipname" > "$zipname.sha256")

if [ "$reproduce" = 1 ]; then
    # The sources as they are, committed or not, in another folder.
    echo "package: building again from a copy of the sources in $work/src" >&2
    mkdir "$work/src"
    tar -C "$root" --exclude=./build --exclude=./.git -cf - . | tar -C "$work/src" -xf -
    for arch in i686:win32:'Tidewell TidewellDeploy' x86_64:win64:'Tidewell64 Zorvane64'; do
        IFS=: read -r triple dir targets <<<"$arch"
        # shellcheck disable=SC2086
        { cmake -S "$work/src" -B "$work/$dir" -DCMAKE_BUILD_TYPE=Release \
            -DCMAKE_TOOLCHAIN_FILE="$work/src/cmake/toolchain-$triple-w64-mingw32.cmake" &&
          cmake --build "$work/$dir" -j2 --target $targets; } >/dev/null ||
            fail "building the $dir programs again failed"
    done
    pack "$work/win32" "$work/win64" "$work/again.zip"
    same=1
    again() {  # first, second, name
        cmp -s "$1" "$2" || { echo "package: $3 differs when built again" >&2; same=0; }
    }
    again "$win32/Tidewell.exe" "$work/win32/Tidewell.exe" Tidewell.exe
    again "$win32/TidewellDeploy.exe" "$work/win32/TidewellDeploy.exe" TidewellDeploy.exe
    again "$win64/Tidewell64.exe" "$work/win64/Tidewell64.exe" Tidewell64.exe
    again "$win64/Zorvane64.exe" "$work/win64/Zorvane64.exe" Zorvane64.exe
    again "$out/$zipname" "$work/again.zip" "$zipname"
    if [ "$same" = 0 ]; then
        rm -f "$out/$zipname" "$out/$zipname.sha256"
        fail "the package is not reproducible (or the build folders are not of these sources)"
    fi
    echo "package: built and packed again, the same byte for byte: ${PROGRAMS[*]}, $zipname" >&2
fi
echo "$out/$zipname"
