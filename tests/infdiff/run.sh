#!/usr/bin/env bash
# Holds the simulated INF reader to Wine's SetupAPI: runs infdump.exe under
# Wine (a throwaway 64-bit prefix cached in the work folder) and the native
# infdump over the same files, and requires identical printouts, file by
# file, except for the files listed in the exceptions file, which must differ.
# Fails when Wine, the Windows build or the project's own files are missing.
# The corpus lies beside the checkout, not in it (as in CI): where it is
# absent, the test says so and ends with exit code 77, which CTest reports as
# skipped.
#
# Usage: run.sh NATIVE_INFDUMP WINDOWS_INFDUMP_EXE WORK_DIR EXCEPTIONS INF_DIR CORPUS_DIR
# INF_DIR contributes its *.inf entries, CORPUS_DIR every entry.
set -u
fail() { echo "FAIL: $*" >&2; exit 1; }

[ $# -eq 6 ] || fail "usage: run.sh NATIVE EXE WORK_DIR EXCEPTIONS INF_DIR CORPUS_DIR"
native=$1 exe=$2 work=$3 exceptions=$4 infdir=$5 corpus=$6

# A 64-bit program in a 64-bit prefix: started through Wine's 64-bit loader,
# not the i386 `wine` launcher (slow where i386 runs under CPU emulation).
wine64=/usr/lib/wine/wine64
[ -x "$wine64" ] || fail "wine64 is not installed (scripts/setup.sh installs it)"
command -v wineserver >/dev/null || fail "wineserver is not installed"
[ -x "$native" ] || fail "native infdump missing: $native"
[ -f "$exe" ] || fail "Windows infdump missing: $exe (build the win64 preset first)"
[ -f "$exceptions" ] || fail "exceptions file missing: $exceptions"
[ -d "$infdir" ] || fail "INF folder missing: $infdir"
if [ ! -d "$corpus" ]; then
    echo "SKIPPED: no INF corpus at $corpus; the differential test needs it beside the checkout"
    exit 77
fi

files=()
for f in "$infdir"/*.inf; do [ -e "$f" ] && files+=("$(realpath "$f")"); done
ours=${#files[@]}
for f in "$corpus"/*; do [ -e "$f" ] && files+=("$(realpath "$f")"); done
[ "$ours" -ge 30 ] || fail "only $ours INF files in $infdir"
[ ${#files[@]} -gt "$ours" ] || fail "no files in $corpus"

mkdir -p "$work" || fail "cannot create $work"
export WINEPREFIX="$work/prefix" WINEARCH=win64 WINEDEBUG=-all
trap 'wineserver -k >/dev/null 2>&1' EXIT
if [ ! -f "$WINEPREFIX/system.reg" ]; then
    rm -rf "$WINEPREFIX"
    "$wine64" wineboot -i >/dev/null 2>&1 || fail "wineboot could not create $WINEPREFIX"
fi

winargs=()
for f in "${files[@]}"; do winargs+=("Z:${f//\//\\}"); done
"$wine64" "$exe" "${winargs[@]}" >"$work/wine.raw" 2>"$work/wine.err"
rc=$?
[ $rc -eq 0 ] || fail "infdump.exe under Wine exited with $rc (see $work/wine.err)"
tr -d '\r' <"$work/wine.raw" >"$work/wine.out"
"$native" "${files[@]}" >"$work/native.out" 2>"$work/native.err"
rc=$?
[ $rc -eq 0 ] || fail "native infdump exited with $rc: $(cat "$work/native.err")"

# One block per file, named by the file.
split_blocks() {
    rm -rf "$2" && mkdir -p "$2"
    awk -v dir="$2" '/^file /{ name = substr($0, 6) } { print > (dir "/" name) }' "$1"
}
split_blocks "$work/wine.out" "$work/wine"
split_blocks "$work/native.out" "$work/native"

count=$(ls "$work/wine" | wc -l)
[ "$count" -eq ${#files[@]} ] || fail "Wine printed $count files of ${#files[@]}"
[ "$(ls "$work/native" | wc -l)" -eq ${#files[@]} ] || fail "native infdump printed too few files"

status=0
declare -A reason
while read -r name why; do
    case "$name" in ''|'#'*) continue ;; esac
    reason[$name]=$why
    [ -e "$work/wine/$name" ] || { echo "FAIL: exception for a file not read: $name"; status=1; }
done <"$exceptions"

same=0
for f in "${files[@]}"; do
    name=$(basename "$f")
    if [ -n "${reason[$name]+x}" ]; then
        if cmp -s "$work/wine/$name" "$work/native/$name"; then
            echo "FAIL: $name is listed as a known difference but reads the same"
            status=1
        else
            echo "known difference, $name: ${reason[$name]}"
        fi
    elif cmp -s "$work/wine/$name" "$work/native/$name"; then
        same=$((same + 1))
    else
        echo "FAIL: $name reads differently (- Wine, + layer):"
        diff -u "$work/wine/$name" "$work/native/$name" | tail -n +3 | cut -c1-300
        status=1
    fi
done
echo "$same of ${#files[@]} files read the same through Wine and the layer"
exit $status
