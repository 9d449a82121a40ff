#!/usr/bin/env bash
# Builds the libraries, tools and the whole test suite with AddressSanitizer
# and UndefinedBehaviorSanitizer in build-asan/ and runs the tests there. Any
# sanitizer report makes the failing program exit non-zero, so CTest fails.
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc 2>/dev/null || echo 2)
# Full stacks for every allocation, so that leak suppressions can name the
# library that made it.
export ASAN_OPTIONS="abort_on_error=0:halt_on_error=1:detect_leaks=1:exitcode=23:fast_unwind_on_malloc=0"
export UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1:exitcode=24"
export LSAN_OPTIONS="suppressions=$PWD/scripts/lsan.supp:print_suppressions=0"
# The build runs the sanitized programs too (man pages from their --help), so
# the same options hold for it.
# -O1 with line tables only: the build takes two thirds of the time of -O2
# with full debug information, the tests no longer, and the reports keep
# their files and lines.
cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O1 -g1 -DNDEBUG" \
    -DVELTRANO_SANITIZE=ON -DVELTRANO_BENCH=OFF
cmake --build build-asan -j"$jobs"
ctest --test-dir build-asan --output-on-failure -j"$jobs"
