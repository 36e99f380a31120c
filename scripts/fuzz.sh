#!/usr/bin/env bash
# Builds the libFuzzer targets (preset fuzz: clang with AddressSanitizer,
# LeakSanitizer and UndefinedBehaviorSanitizer) and runs each for the given
# number of seconds (default 30), starting from its committed seed corpus.
# New inputs go to <build>/corpus/<target>, a crashing or leaking input to
# <build>/artifacts/. Fails when any target finds a fault.
#   scripts/fuzz.sh            # 30 s per target, as the test command runs it
#   scripts/fuzz.sh 3600       # a longer run
# FUZZ_BUILD_DIR chooses another build folder (default build/fuzz).
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-30}"
build="${FUZZ_BUILD_DIR:-build/fuzz}"
targets=(fuzz_hwid fuzz_devscan fuzz_purge fuzz_inf fuzz_regvalues)

cmake --preset fuzz -B "$build" >/dev/null
cmake --build "$build" --target fuzz_targets -j2

mkdir -p "$build/artifacts"
status=0
total=0
for t in "${targets[@]}"; do
    mkdir -p "$build/corpus/$t"
    log="$build/$t.log"
    if "$build/tests/fuzz/$t" -max_total_time="$seconds" -timeout=20 -rss_limit_mb=2048 \
            -print_final_stats=1 -artifact_prefix="$build/artifacts/$t-" \
            "$build/corpus/$t" "tests/fuzz/corpus/$t" >"$log" 2>&1; then
        runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
        total=$((total + ${runs:-0}))
        printf '%-16s %10s executions in %s s, no crash, no leak\n' "$t" "${runs:-?}" "$seconds"
    else
        echo "$t: FAULT FOUND (log: $log, input: $build/artifacts/)"
        grep -E "ERROR|property violated|runtime error|SUMMARY" "$log" | head -20 || true
        status=1
    fi
done
echo "fuzzing: $total executions in all"
exit $status
