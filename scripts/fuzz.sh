#!/usr/bin/env bash
# Builds the libFuzzer targets with clang in build-fuzz/ and runs each one for
# a bounded time, starting from the committed seed corpus in fuzz/corpus/.
# Any crash, sanitizer report, leak, timeout (10 s on one input) or memory
# blow-up (2 GB) fails the run; libFuzzer writes the input that caused it to
# build-fuzz/artifacts/ and the script names that file.
#   scripts/fuzz.sh              every target for 20 s (what test.sh runs)
#   scripts/fuzz.sh 3600         every target for an hour
#   scripts/fuzz.sh 600 fuzz_hybrid
# Inputs that reach new code are kept in build-fuzz/corpus/<target>/, so a
# later run goes on from there; the committed seeds are never changed.
set -uo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-20}
shift || true
jobs=$(nproc 2>/dev/null || echo 2)

cmake -S . -B build-fuzz -DCMAKE_CXX_COMPILER=clang++ -DVELTRANO_FUZZ=ON \
    -DBUILD_TESTING=OFF -DVELTRANO_BENCH=OFF -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null || exit 1
cmake --build build-fuzz --target fuzz_targets -j"$jobs" >/dev/null || {
    echo "fuzz.sh: the fuzz targets do not build; run 'cmake --build build-fuzz --target fuzz_targets' to see why" >&2
    exit 1
}

if [ $# -gt 0 ]; then
    targets=("$@")
else
    targets=()
    for source in fuzz/fuzz_*.cpp; do targets+=("$(basename "$source" .cpp)"); done
fi

export ASAN_OPTIONS="detect_leaks=1:fast_unwind_on_malloc=0"
export LSAN_OPTIONS="suppressions=$PWD/scripts/lsan.supp:print_suppressions=0"
export UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1"
export QT_QPA_PLATFORM=offscreen

mkdir -p build-fuzz/artifacts
failed=0
for target in "${targets[@]}"; do
    corpus=build-fuzz/corpus/$target
    mkdir -p "$corpus"
    log=build-fuzz/$target.log
    echo "-- $target for ${seconds}s" >&2
    build-fuzz/bin/"$target" "$corpus" "fuzz/corpus/$target" -max_total_time="$seconds" -timeout=10 \
        -rss_limit_mb=2048 -malloc_limit_mb=2048 -print_final_stats=1 \
        -artifact_prefix="build-fuzz/artifacts/$target-" >"$log" 2>&1
    status=$?
    if [ $status -ne 0 ]; then
        failed=1
        echo "fuzz.sh: $target failed (exit $status); the end of $log:" >&2
        tail -n 40 "$log" >&2
    else
        grep -E '^stat::(number_of_executed_units|new_units_added):' "$log" | sed 's/^/   /' >&2
    fi
done
exit $failed
