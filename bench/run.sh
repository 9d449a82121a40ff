#!/usr/bin/env bash
# Builds the codec benchmark when needed (Release, in build/ or in $BUILD_DIR),
# runs it once and prints its table: megapixels per second of the fast
# transforms and their speed-up over the per-pixel reference, hybrid
# compression and decompression end to end, plain JPEG, on 1, 4, 16 and 24
# megapixel photographs. Then times whole processes against libjpeg-turbo's
# own tools on 4, 24 and 100 megapixels, made by the same tiling into a
# temporary folder that is removed afterwards: ftjpeg compress (from PPM and
# PNG) against cjpeg at equal bits per pixel, ftjpeg decompress against
# djpeg, with the peak memory of each (/usr/bin/time -v).
#
# Needs Google Benchmark (Debian: libbenchmark-dev; scripts/setup.sh installs
# it), /usr/bin/time (Debian: time) and cjpeg/djpeg (libjpeg-turbo-progs) for
# the whole-process table (scripts/setup.sh installs both). Extra arguments go
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
    echo "Whole-process table and peak memory: not measured (/usr/bin/time is missing; apt-get install time)"
    exit 0
fi
if ! command -v cjpeg >/dev/null || ! command -v djpeg >/dev/null; then
    echo "Whole-process table: not measured (cjpeg/djpeg are missing; apt-get install libjpeg-turbo-progs)"
    exit 0
fi
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
for i in $(seq 0 20); do awk -v i="$i" 'BEGIN { print 1 - i / 40 }'; done > "$scratch/weights.txt"
ftjpeg=$build/bin/ftjpeg

peak() { # command...: the peak resident set in bytes, or "failed"
    local report
    report=$(/usr/bin/time -v "$@" 2>&1 >/dev/null) || true
    if grep -q 'Exit status: 0' <<<"$report"; then
        awk '/Maximum resident set size/ { print $NF * 1024 }' <<<"$report"
    else
        echo failed
    fi
}
elapsed() { # command...: wall-clock nanoseconds of one run, or "failed"
    local start
    start=$(date +%s%N)
    if "$@" >/dev/null 2>&1; then echo $(($(date +%s%N) - start)); else echo failed; fi
}
median() { # numbers...: their median in seconds, or "failed"
    printf '%s\n' "$@" | sort -n | awk '/failed/ { bad = 1 } { v[NR] = $1 }
        END { if (bad || NR == 0) print "failed"; else printf "%.4f", v[int((NR + 1) / 2)] / 1e9 }'
}
bytes() { stat -c %s "$1"; }

# ftjpeg compress at quality 70 against cjpeg at the quality whose file comes
# closest to the same bits per pixel (binary search: the size grows with the
# quality); decompression of those two files to PPM. Five runs of each
# command, interleaved, median wall-clock time; the peak memory of one more.
runs=5
rows=()
for mp in 4 24 100; do
    ppm=$scratch/photo$mp.ppm
    png=$scratch/photo$mp.png
    "$build/bin/transformbench" --write-photo "$ppm" "$mp"
    [ "$mp" -le 24 ] && "$build/bin/transformbench" --write-photo "$png" "$mp"
    read -r width height < <(head -c 64 "$ppm" | awk 'NR == 2 { print $1, $2 }')
    pixels=$((width * height))
    "$ftjpeg" compress --quality 70 --weights "$scratch/weights.txt" "$ppm" "$scratch/hybrid.jpg" >/dev/null
    target=$(bytes "$scratch/hybrid.jpg")
    low=1
    high=100
    while [ $low -lt $high ]; do
        middle=$(((low + high) / 2))
        cjpeg -quality "$middle" -outfile "$scratch/plain.jpg" "$ppm" 2>/dev/null
        if [ "$(bytes "$scratch/plain.jpg")" -lt "$target" ]; then low=$((middle + 1)); else high=$middle; fi
    done
    quality=$low
    if [ $quality -gt 1 ]; then
        cjpeg -quality $((quality - 1)) -outfile "$scratch/plain.jpg" "$ppm" 2>/dev/null
        below=$(bytes "$scratch/plain.jpg")
        cjpeg -quality "$quality" -outfile "$scratch/plain.jpg" "$ppm" 2>/dev/null
        above=$(bytes "$scratch/plain.jpg")
        if [ $((target - below)) -lt $((above - target)) ]; then quality=$((quality - 1)); fi
    fi
    cjpeg -quality "$quality" -outfile "$scratch/plain.jpg" "$ppm" 2>/dev/null
    plain=$(bytes "$scratch/plain.jpg")

    compress=() compressPng=() plainEncode=() decompress=() plainDecode=()
    for run in $(seq $runs); do
        compress+=("$(elapsed "$ftjpeg" compress --quality 70 --weights "$scratch/weights.txt" "$ppm" "$scratch/h.jpg")")
        plainEncode+=("$(elapsed cjpeg -quality "$quality" -outfile "$scratch/p.jpg" "$ppm")")
        decompress+=("$(elapsed "$ftjpeg" decompress --weights "$scratch/weights.txt" "$scratch/hybrid.jpg" "$scratch/h.ppm")")
        plainDecode+=("$(elapsed djpeg -outfile "$scratch/p.ppm" "$scratch/plain.jpg")")
        if [ "$mp" -le 24 ]; then
            compressPng+=("$(elapsed "$ftjpeg" compress --quality 70 --weights "$scratch/weights.txt" "$png" "$scratch/h.jpg")")
        fi
    done
    peaks=("$(peak "$ftjpeg" compress --quality 70 --weights "$scratch/weights.txt" "$ppm" "$scratch/h.jpg")"
           "$(peak cjpeg -quality "$quality" -outfile "$scratch/p.jpg" "$ppm")"
           "$(peak "$ftjpeg" decompress --weights "$scratch/weights.txt" "$scratch/hybrid.jpg" "$scratch/h.ppm")"
           "$(peak djpeg -outfile "$scratch/p.ppm" "$scratch/plain.jpg")")
    png_time=n/a
    [ "$mp" -le 24 ] && png_time=$(median "${compressPng[@]}")
    rows+=("$(awk -v mp="$mp" -v w="$width" -v h="$height" -v px="$pixels" -v hb="$target" -v pb="$plain" \
        -v q="$quality" -v c="$(median "${compress[@]}")" -v cp="$png_time" -v ce="$(median "${plainEncode[@]}")" \
        -v d="$(median "${decompress[@]}")" -v de="$(median "${plainDecode[@]}")" \
        -v m1="${peaks[0]}" -v m2="${peaks[1]}" -v m3="${peaks[2]}" -v m4="${peaks[3]}" '
        function ratio(a, b) { return (a == "failed" || b == "failed" || b == 0) ? "-" : sprintf("%.2f", a / b) }
        function mb(b) { return b == "failed" ? "failed" : sprintf("%.1f", b / 1e6) }
        BEGIN {
            printf "| %d MP (%dx%d) | %.3f / %.3f (q%d) | %s | %s | %s | %s | %s | %s | %s | %s / %s | %s / %s |\n",
                mp, w, h, hb * 8 / px, pb * 8 / px, q, c, cp, ce, ratio(c, ce), d, de, ratio(d, de),
                mb(m1), mb(m2), mb(m3), mb(m4)
        }')")
    rm -f "$ppm" "$png" "$scratch"/h.* "$scratch"/p.* "$scratch/hybrid.jpg" "$scratch/plain.jpg"
done
echo "Whole processes, median of $runs interleaved runs (s), ftjpeg at quality 70 against cjpeg (libjpeg-turbo"
echo "$(cjpeg -version 2>&1 | awk '{ print $3; exit }'), baseline) at the quality of the nearest bits per pixel; decoding to PPM;"
echo "peak memory (/usr/bin/time -v, MB):"
echo
echo "| image | bits per pixel ftjpeg / cjpeg | ftjpeg compress PPM | ftjpeg compress PNG | cjpeg | compress / cjpeg | ftjpeg decompress | djpeg | decompress / djpeg | peak MB compress / cjpeg | peak MB decompress / djpeg |"
echo "|---|---|---:|---:|---:|---:|---:|---:|---:|---:|---:|"
printf '%s\n' "${rows[@]}"
echo
# What every run above pays before its first pixel.
startOwn=() startPlain=()
for run in $(seq 20); do
    startOwn+=("$(elapsed "$ftjpeg" --version)")
    startPlain+=("$(elapsed cjpeg -version)")
done
echo "Start-up, median of 20 interleaved runs: ftjpeg --version $(median "${startOwn[@]}") s, cjpeg -version $(median "${startPlain[@]}") s"
echo

# The in-memory path for comparison: what ftjpeg compress held before it
# streamed, and still holds for the formats it reads whole.
"$build/bin/transformbench" --write-photo "$scratch/photo24.png" 24
source_bytes=$((6000 * 4000 * 4))
own_peak=$(peak "$build/bin/transformbench" --compress "$scratch/photo24.png" "$scratch/own.jpg" \
    "$scratch/weights.txt")
awk -v o="$own_peak" -v s="$source_bytes" 'BEGIN {
        printf "Peak memory of readImageFile + compressHybrid (in memory), 24 MP PNG: "
        if (o == "failed") print "failed"
        else printf "%.1f MB = %.2f x the decoded 32-bit source (%.1f MB)\n", o / 1e6, o / s, s / 1e6
    }'
