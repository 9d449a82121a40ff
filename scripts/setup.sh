#!/usr/bin/env bash
# Shared set-up of run.sh and test.sh: installs the missing Debian packages,
# configures and builds the project (Release) in build/, the Python module
# included. With --test it also installs what the tests of the Python module
# and the sanitizer and fuzzing runs need (pytest, matplotlib, clang and its
# runtime libraries, libFuzzer among them).
set -euo pipefail
cd "$(dirname "$0")/.."

packages=(cmake g++ make pkg-config qtbase5-dev qtbase5-dev-tools libqt5gui5 fonts-dejavu-core
          libbenchmark-dev libwebp-dev libavif-dev libjxl-dev libjpeg62-turbo-dev libpng-dev zlib1g-dev
          # bench/run.sh's whole-process table: /usr/bin/time, cjpeg and djpeg.
          time libjpeg-turbo-progs
          # Man pages and the Debian package (cpack -G DEB with dpkg-shlibdeps).
          help2man dpkg-dev file
          # The Python module: pybind11, Python's headers, numpy.
          python3-dev pybind11-dev python3-numpy)
if [ "${1:-}" = "--test" ]; then
    # The Python module's tests and its example (PIL and pandas too, so that
    # both kinds of rd() result are tested).
    packages+=(python3-pytest python3-matplotlib python3-pil python3-pandas)
    # The viewer of rd --view in a real browser (tests/viewer/).
    packages+=(chromium chromium-driver python3-selenium)
    # script(1) and setpriv(1), which tests run, come with bsdutils and
    # util-linux: essential on Debian, named here for slimmer images.
    packages+=(clang libclang-rt-dev bsdutils util-linux)
    # scripts/slurm-check.sh: a private single-node Slurm with munge.
    packages+=(slurm-wlm munge python3)
fi

missing=()
for package in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
        missing+=("$package")
    fi
done
if [ ${#missing[@]} -gt 0 ]; then
    echo "Installing: ${missing[*]}" >&2
    if [ "$(id -u)" -eq 0 ]; then sudo=(); else sudo=(sudo); fi
    "${sudo[@]}" apt-get update
    DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y --no-install-recommends "${missing[@]}"
fi

jobs=$(nproc 2>/dev/null || echo 2)
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release
cmake --build build -j"$jobs"
