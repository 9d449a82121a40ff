#!/usr/bin/env bash
# Builds the codec benchmark when needed (Release, in build/ or in $BUILD_DIR),
# runs it once and prints its table: megapixels per second of the fast
# transforms and their speed-up over the per-pixel reference, hybrid
# compression and decompression end to end, plain JPEG, on 1, 4, 16 and 24
# megapixel photographs. Then measures the peak memory of `ftjpeg compress`
# on the 24-megapixel photograph with /usr/bin/time -v.
#
# Needs Google Benchmark (Debian: libbenchmark-dev; scripts/setup.sh installs
# it) and /usr/bin/time (Debian: time) for the memory line. Extra arguments go
# to the benchmark program (for example --benchmark_filter=direct).
set -euo pipefail
cd "$(dirname "$0")/.."
build=${BUILD_DIR:-build}

if ! dpkg-query -W -f='${Status}' libbenchmark-dev 2>/dev/null | grep -q "install ok installed"; then
    echo "bench/run.sh: Google Benchmark is missing; install it with: apt-get install libbenchmark-dev" >&2
    exit 1
fi
if [ ! -f "$build/CMakeCache.txt" ]; then
    cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release >/dev/null
fi
cmake --build "$build" --target transformbench ftjpeg -j"$(nproc 2>/dev/null || echo 2)" >/dev/null

cpu=$(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2- | sed 's/^ *//' || true)
memory=$(awk '/MemTotal/ { printf "%.0f GiB", $2 / 1048576 }' /proc/meminfo 2>/dev/null || true)
qt=$(pkg-config --modversion Qt5Gui 2>/dev/null || echo "?")
echo "Machine: ${cpu:-unknown CPU}, $(nproc) cores, ${memory:-? GiB}; Qt ${qt}; $(uname -sr)"
echo

"$build/bin/transformbench" "$@"

if [ $# -gt 0 ]; then
    exit 0
fi
echo
if [ ! -x /usr/bin/time ]; then
    echo "Peak memory of ftjpeg compress: not measured (/usr/bin/time is missing; apt-get install time)"
    exit 0
fi
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
"$build/bin/transformbench" --write-photo "$scratch/photo24.png" 24
for i in $(seq 0 20); do awk -v i="$i" 'BEGIN { print 1 - i / 40 }'; done > "$scratch/weights.txt"
source_bytes=$((6000 * 4000 * 4))
peak() { # command...: the peak resident set in bytes, or "failed"
    local report
    report=$(/usr/bin/time -v "$@" 2>&1 >/dev/null) || true
    if grep -q 'Exit status: 0' <<<"$report"; then
        awk '/Maximum resident set size/ { print $NF * 1024 }' <<<"$report"
    else
        echo failed
    fi
}
ftjpeg_peak=$(peak "$build/bin/ftjpeg" compress --quality 70 --weights "$scratch/weights.txt" \
    "$scratch/photo24.png" "$scratch/out.jpg")
own_peak=$(peak "$build/bin/transformbench" --compress "$scratch/photo24.png" "$scratch/own.jpg" \
    "$scratch/weights.txt")
awk -v f="$ftjpeg_peak" -v o="$own_peak" -v s="$source_bytes" 'function line(name, bytes) {
        if (bytes == "failed") printf "  %-34s failed\n", name
        else printf "  %-34s %.1f MB = %.2f x the source\n", name, bytes / 1e6, bytes / s
    }
    BEGIN {
        printf "Peak memory (/usr/bin/time -v), 24 MP (6000x4000) PNG, decoded 32-bit source %.1f MB:\n", s / 1e6
        line("ftjpeg compress:", f)
        line("readImageFile + compressHybrid:", o)
    }'
