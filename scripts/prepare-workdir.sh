#!/usr/bin/env bash
# Lays out the default working directory build/workdir after the build: every
# input file of the window's commands and of the batch experiments, generated
# from data/ by ftjpeg (see 'build/bin/ftjpeg workdir --help'). Another build
# folder can be named in VELTRANO_BUILD_DIR (default: build).
set -euo pipefail
cd "$(dirname "$0")/.."
build="${VELTRANO_BUILD_DIR:-build}"
if [ ! -x "$build/bin/ftjpeg" ]; then
    echo "prepare-workdir.sh: $build/bin/ftjpeg is missing; build the project first" >&2
    exit 1
fi
"$build/bin/ftjpeg" workdir "$build/workdir"
