#!/usr/bin/env bash
# Every benchmark: the native ones (Google Benchmark, Release build against the
# simulated layer: the hardware-ID match, the device scan, the removal and the
# purge over large trees, the INF sweep over large folders, each program's
# peak heap), then under Wine, in a throwaway prefix: the sweep against its
# floor over an inf folder of 1,000 generated INF files that do not name the
# product, the whole uninstaller's run with its run record against the same
# run without it (the same inf folder and 1,000 driver-store packages of the
# same shapes, Tidewell64.exe beside it), and the device scan against its
# floor over 1,000 seeded nodes. Prints the machine, the load and every
# figure; the JSON of the native run stays in <native build>/bench.
#
#   scripts/bench.sh [--native-only | --wine-only] [rounds]
#
# BENCH_NATIVE_DIR, BENCH_WIN32_DIR, BENCH_WIN64_DIR: build folders (default
# build/bench-native, build/bench-win32, build/bench-win64). BENCH_INF_FILES:
# files in the prefix's inf folder (default 1000). BENCH_STORE_PACKAGES:
# packages in its driver store (default 1000). BENCH_NODES: device nodes
# seeded into the prefix (default 1000; seeding takes about 35 s per 1,000).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
native=$(realpath -m "${BENCH_NATIVE_DIR:-$root/build/bench-native}")
win32=$(realpath -m "${BENCH_WIN32_DIR:-$root/build/bench-win32}")
win64=$(realpath -m "${BENCH_WIN64_DIR:-$root/build/bench-win64}")
files=${BENCH_INF_FILES:-1000}
packages=${BENCH_STORE_PACKAGES:-1000}
nodes=${BENCH_NODES:-1000}
cd "$root"

run_native=1
run_wine=1
rounds=15
for arg in "$@"; do
    case "$arg" in
        --native-only) run_wine=0 ;;
        --wine-only) run_native=0 ;;
        [0-9]*) rounds=$arg ;;
        *) echo "usage: $0 [--native-only | --wine-only] [rounds]" >&2; exit 2 ;;
    esac
done

scripts/setup.sh

echo "== machine"
echo "date:    $(date -u '+%Y-%m-%d %H:%M UTC')"
echo "nproc:   $(nproc)"
echo "cpu:     $(sed -n 's/^model name[[:space:]]*: //p' /proc/cpuinfo | head -1)"
echo "load:    $(cut -d' ' -f1-3 /proc/loadavg)"
echo "commit:  $(git rev-parse --short HEAD 2>/dev/null || echo none)"

# The generator of the INF files is a native program: build it in any case.
cmake --preset native -B "$native" -DCMAKE_BUILD_TYPE=Release -DWINE_TESTS=OFF >/dev/null
if [ "$run_native" = 1 ]; then
    echo "== native benchmarks (simulated layer, Release build)"
    cmake --build "$native" -j2 --target bench
else
    cmake --build "$native" -j2 --target bench_infgen >/dev/null
fi

if [ "$run_wine" = 1 ]; then
    echo "== the sweep against its floor under Wine ($(wine --version))"
    cmake --preset win32 -B "$win32" >/dev/null
    cmake --build "$win32" -j2 --target sweepbench scanbench Tidewell tidewell_norecord recordbench >/dev/null
    cmake --preset win64 -B "$win64" >/dev/null
    cmake --build "$win64" -j2 --target sweepbench scanbench Tidewell64 >/dev/null

    work=$(mktemp -d)
    export WINEPREFIX="$work/prefix" WINEDEBUG=-all
    cleanup() {
        wineserver -k 2>/dev/null || true
        rm -rf "$work"
    }
    trap cleanup EXIT
    wineboot -i >/dev/null 2>&1
    wineserver -w
    # Wine's own few INF files go aside: the folder holds the generated ones only.
    inf="$WINEPREFIX/drive_c/windows/inf"
    mkdir -p "$WINEPREFIX/drive_c/windows/inf-wine"
    find "$inf" -maxdepth 1 -type f -exec mv {} "$WINEPREFIX/drive_c/windows/inf-wine/" \;
    echo "inf folder: $("$native/tests/bench_infgen" "$inf" "$files")"
    wineserver -p
    wine cmd /c exit >/dev/null 2>&1 || true
    echo "-- Tidewell's sweep, 32-bit (WoW64 in a 64-bit prefix)"
    wine "$win32/fixtures/sweepbench.exe" "$rounds"
    echo "-- the same sweep code, 64-bit"
    wine "$win64/fixtures/sweepbench.exe" "$rounds"
    # The run record's cost, before any node is seeded: the driver store's
    # packages, and both builds of the uninstaller with the sibling beside.
    store="$WINEPREFIX/drive_c/windows/system32/DriverStore/FileRepository"
    mkdir -p "$store"
    echo "driver store: $("$native/tests/bench_infgen" --store "$store" "$packages")"
    for variant in record norecord; do
        mkdir -p "$WINEPREFIX/drive_c/bench/$variant"
        cp "$win64/Tidewell64.exe" "$WINEPREFIX/drive_c/bench/$variant/"
    done
    cp "$win32/Tidewell.exe" "$WINEPREFIX/drive_c/bench/record/"
    cp "$win32/norecord/Tidewell.exe" "$WINEPREFIX/drive_c/bench/norecord/"
    echo "-- the run record's cost: Tidewell.exe's whole run with it and without it (64-bit Windows: the hand-off, the sweep, the record)"
    wine "$win32/fixtures/recordbench.exe" 'C:\bench\record\Tidewell.exe' 'C:\bench\norecord\Tidewell.exe' "$rounds"
    echo "-- the device scan, 32-bit (the first run seeds the nodes)"
    wine "$win32/fixtures/scanbench.exe" "$nodes" "$rounds"
    echo "-- the device scan, 64-bit"
    wine "$win64/fixtures/scanbench.exe" "$nodes" "$rounds"
    echo "load after: $(cut -d' ' -f1-3 /proc/loadavg)"
fi
