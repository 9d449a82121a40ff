#!/usr/bin/env bash
# Lays out the default working directory build/workdir after the build: every
# input file of the window's commands and of the batch experiments, generated
# from data/ by ftjpeg (see 'build/bin/ftjpeg workdir --help').
set -euo pipefail
cd "$(dirname "$0")/.."
build/bin/ftjpeg workdir build/workdir
