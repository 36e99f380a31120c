#!/usr/bin/env bash
# Every test: installs what is missing, builds the Windows programs and the
# native suite, runs the native unit tests, the Wine end-to-end tests and the
# sanitizer build of the unit tests, then each fuzz target for a bounded time.
# Each stage's time is printed as it ends, and all of them again at the end.
set -euo pipefail
cd "$(dirname "$0")/.."
# The emulated mode's registration (OMRAK_EMULATE_I386=1) goes at the end.
trap '[ ! -f build/i386-registration ] || python3 scripts/i386host.py undo build/i386-registration' EXIT
trap 'exit 1' INT TERM

status=0
times=()
# stage NAME COMMAND...: runs COMMAND, keeps its time; a failing stage fails
# the whole command at its end, the stages after it still run.
stage() {
    local name=$1 start=$SECONDS rc=0
    shift
    echo "== $name"
    "$@" || rc=$?
    local took=$((SECONDS - start))
    times+=("$(printf '%-58s %3d min %02d s%s' "$name" $((took / 60)) $((took % 60)) \
        "$([ $rc -eq 0 ] || echo ', failed')")")
    echo "== $name: $((took / 60)) min $((took % 60)) s"
    [ $rc -eq 0 ] || status=1
    return 0
}
skipped() {
    # Why a test was skipped: its own words, from its output.
    grep -h '^SKIPPED: ' build/native/Testing/Temporary/LastTest.log 2>/dev/null || true
}

stage "set-up (packages, i386 programs)" scripts/setup.sh
[ $status -eq 0 ] || exit 1
stage "build (win32, win64, native, asan)" scripts/build.sh asan
[ $status -eq 0 ] || exit 1
stage "native unit tests and Wine end-to-end tests" ctest --preset native
skipped
stage "unit tests under AddressSanitizer and UndefinedBehaviorSanitizer" ctest --preset asan
stage "fuzz targets, 30 s each (a longer run: scripts/fuzz.sh <seconds>)" scripts/fuzz.sh 30

echo "== time per stage"
printf '  %s\n' "${times[@]}"
echo "  $(printf '%-58s %3d min %02d s' "in all" $((SECONDS / 60)) $((SECONDS % 60)))"
exit $status
