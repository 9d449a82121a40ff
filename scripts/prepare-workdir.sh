#!/usr/bin/env bash
# Lays out the default working directory build/workdir from data/.
set -euo pipefail
cd "$(dirname "$0")/.."
workdir=build/workdir
mkdir -p "$workdir"
cp -f data/pattern.png data/hdr_triang_4.png "$workdir"/
mkdir -p "$workdir/photos"
cp -f data/photos/* "$workdir/photos/"
