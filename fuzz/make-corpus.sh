#!/usr/bin/env bash
# Regenerates the committed seed corpus fuzz/corpus/<target>/ from the
# photographs in data/photos and the files in tests/data, with the makecorpus
# tool of the fuzzing build (build-fuzz/, configured as scripts/fuzz.sh does).
set -euo pipefail
cd "$(dirname "$0")/.."
if [ ! -f build-fuzz/CMakeCache.txt ]; then
    cmake -S . -B build-fuzz -DCMAKE_CXX_COMPILER=clang++ -DVELTRANO_FUZZ=ON -DBUILD_TESTING=OFF \
        -DVELTRANO_BENCH=OFF -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
fi
cmake --build build-fuzz --target makecorpus -j"$(nproc 2>/dev/null || echo 2)" >/dev/null
# Only the targets makecorpus writes: fuzz_differential's seeds come from
# make-differential-corpus.sh.
rm -rf fuzz/corpus/fuzz_hybrid fuzz/corpus/fuzz_weights fuzz/corpus/fuzz_transforms fuzz/corpus/fuzz_region
ASAN_OPTIONS=detect_leaks=0 QT_QPA_PLATFORM=offscreen build-fuzz/bin/makecorpus "$PWD" fuzz/corpus
du -sh fuzz/corpus/* >&2
