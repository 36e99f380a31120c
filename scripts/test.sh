#!/usr/bin/env bash
# Every test: installs what is missing, builds the Windows programs and the
# native suite, runs the native unit tests, the Wine end-to-end tests and the
# sanitizer build of the unit tests, then each fuzz target for a bounded time.
set -euo pipefail
cd "$(dirname "$0")/.."
# The emulated mode's registration (OMRAK_EMULATE_I386=1) goes at the end.
trap '[ ! -f build/i386-registration ] || python3 scripts/i386host.py undo build/i386-registration' EXIT
trap 'exit 1' INT TERM
scripts/setup.sh
scripts/build.sh asan

status=0
echo "== native unit tests and Wine end-to-end tests"
ctest --preset native || status=1
# Why a test was skipped: its own words, from its output.
grep -h '^SKIPPED: ' build/native/Testing/Temporary/LastTest.log 2>/dev/null || true
echo "== unit tests under AddressSanitizer and UndefinedBehaviorSanitizer"
ctest --preset asan || status=1
echo "== fuzz targets, 30 s each (a longer run: scripts/fuzz.sh <seconds>)"
scripts/fuzz.sh 30 || status=1
exit $status
