#!/usr/bin/env bash
# The main job: installs what is missing, builds the Windows programs (win32
# and win64 presets), then makes a demo machine under Wine, a fresh 64-bit
# prefix with the product installed beside other devices, and runs on it
# TidewellDeploy.exe (which runs Tidewell.exe: hand-off to Tidewell64.exe,
# sweep) and then Zorvane64.exe from C:\Program Files\Omrak. Prints the
# product's nodes and INF files before and after, each program's trace lines
# and the exit codes, the run log, the run record and TidewellDeploy.exe's
# return code. Keeps apt's output, where it installs packages, in
# build/demo/packages.log. Leaves nothing running; safe to run again (the
# prefix is made anew each time).
#
#   scripts/demo.sh            the demo
#   scripts/demo.sh --check    the demo, and exit 1 unless its outcome is right
set -euo pipefail
cd "$(dirname "$0")/.."
# The emulated mode's registration (OMRAK_EMULATE_I386=1) goes at the end.
trap '[ ! -f build/i386-registration ] || python3 scripts/i386host.py undo build/i386-registration' EXIT
trap 'exit 1' INT TERM
scripts/setup.sh --apt-log build/demo/packages.log

mkdir -p build/demo
for preset in win32 win64; do
    echo "building the $preset programs (log: build/demo/build-$preset.log)"
    if ! { cmake --preset "$preset" && cmake --build --preset "$preset"; } \
            >"build/demo/build-$preset.log" 2>&1; then
        tail -n 40 "build/demo/build-$preset.log"
        echo "the $preset build failed" >&2
        exit 1
    fi
done

python3 tests/e2e/demo_machine.py --work build/demo \
    --win32-build build/win32 --win64-build build/win64 "$@"
