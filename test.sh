#!/usr/bin/env bash
# Installs what is missing, builds and runs the whole test suite; then the
# same suite built with AddressSanitizer and UndefinedBehaviorSanitizer, and a
# bounded run of every fuzz target. Any test failure, sanitizer report or
# fuzzer finding makes the script exit non-zero.
#   ./test.sh           everything (what CI runs)
#   ./test.sh --quick   the normal build and test suite only
set -uo pipefail
cd "$(dirname "$0")"
quick=false
[ "${1:-}" = "--quick" ] && quick=true

if $quick; then scripts/setup.sh || exit 1; else scripts/setup.sh --test || exit 1; fi
scripts/prepare-workdir.sh || exit 1
jobs=$(nproc 2>/dev/null || echo 2)

ctest --test-dir build --output-on-failure -j"$jobs"
tests=$?
$quick && exit $tests

echo "== Test suite under AddressSanitizer and UndefinedBehaviorSanitizer (build-asan/)" >&2
scripts/sanitize.sh
sanitized=$?
fuzzed=0
if [ -x scripts/fuzz.sh ]; then
    echo "== Fuzz targets, bounded run (build-fuzz/)" >&2
    scripts/fuzz.sh
    fuzzed=$?
fi

verdict() { if [ "$1" -eq 0 ]; then echo passed; else echo "FAILED (exit $1)"; fi; }
echo "== Summary"
echo "test suite:            $(verdict $tests)"
echo "under ASan and UBSan:  $(verdict $sanitized)"
echo "fuzz targets:          $(verdict $fuzzed)"
[ $tests -eq 0 ] && [ $sanitized -eq 0 ] && [ $fuzzed -eq 0 ]
