#!/usr/bin/python3
"""Overhead of the Python module over the C++ calls it makes.

Builds a 24-megapixel photograph (6000 x 4000, data/photos/astronaut.png
tiled mirror-wise), then times, in interleaved rounds on the same machine,
  - veltrano.compress(image) against encodeHybridJpeg in C++ (build/bin/codeccalls
    on the same pixels read from a PPM file), and
  - veltrano.decompress(data) against decompressHybrid of the file in C++,
and prints the fastest and the median time of each and the overhead of
Python in percent. On a shared machine the fastest call is the steadier
figure: other work only ever adds time. Needs the
build (module and codeccalls):

    cmake --build build --target veltrano_python codeccalls
    /usr/bin/python3 bench/python_overhead.py [--build build] [--rounds 3] [--repeats 5]
"""

import argparse
import os
import statistics
import subprocess
import sys
import tempfile
import time

import numpy as np

root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
parser.add_argument("--build", default=os.path.join(root, "build"))
parser.add_argument("--rounds", type=int, default=3)
parser.add_argument("--repeats", type=int, default=5)
parser.add_argument("--megapixels", choices=("24", "1"), default="24")
args = parser.parse_args()
sys.path.insert(0, os.path.join(args.build, "python"))
import veltrano  # noqa: E402
from PIL import Image  # noqa: E402

width, height = (6000, 4000) if args.megapixels == "24" else (1224, 816)
tile = np.asarray(Image.open(os.path.join(root, "data", "photos", "astronaut.png")).convert("RGB"))
reps_y = -(-height // tile.shape[0])
reps_x = -(-width // tile.shape[1])
rows = [np.concatenate([tile if (i % 2 == 0) else tile[::-1] for i in range(reps_y)], axis=0)]
band = rows[0]
image = np.concatenate([band if (j % 2 == 0) else band[:, ::-1] for j in range(reps_x)], axis=1)
image = np.ascontiguousarray(image[:height, :width])

with tempfile.TemporaryDirectory() as scratch:
    ppm = os.path.join(scratch, "photo.ppm")
    with open(ppm, "wb") as out:
        out.write(b"P6\n%d %d\n255\n" % (width, height))
        out.write(image.tobytes())
    reference = os.path.join(scratch, "cpp.jpg")
    baseline = {"compress": [], "decompress": []}
    module = {"compress": [], "decompress": []}
    data = veltrano.compress(image)
    for _ in range(args.rounds):
        lines = subprocess.run([os.path.join(args.build, "bin", "codeccalls"), ppm, str(args.repeats), reference],
                               check=True, capture_output=True, text=True).stdout.split("\n")
        for line in filter(None, lines):
            compress_ms, decompress_ms = map(float, line.split())
            baseline["compress"].append(compress_ms)
            baseline["decompress"].append(decompress_ms)
        veltrano.decompress(veltrano.compress(image))  # warm-up, as the baseline has
        for _ in range(args.repeats):
            start = time.perf_counter()
            data = veltrano.compress(image)
            module["compress"].append((time.perf_counter() - start) * 1e3)
            start = time.perf_counter()
            decoded = veltrano.decompress(data)
            module["decompress"].append((time.perf_counter() - start) * 1e3)
            del decoded
    with open(reference, "rb") as f:
        if f.read() != data:
            sys.exit("python_overhead.py: the module's file differs from the C++ call's")

print("%d x %d pixels (%.1f MP), %d rounds of %d calls each:" % (width, height, width * height / 1e6,
                                                                 args.rounds, args.repeats))
print("| call | C++ fastest ms | Python fastest ms | overhead | C++ median ms | Python median ms | overhead |")
print("|---|---:|---:|---:|---:|---:|---:|")
for name in ("compress", "decompress"):
    figures = []
    for pick in (min, statistics.median):
        cpp = pick(baseline[name])
        py = pick(module[name])
        figures.append("%.1f | %.1f | %+.1f %%" % (cpp, py, (py / cpp - 1) * 100))
    print("| %s | %s |" % (name, " | ".join(figures)))
