#!/usr/bin/python3
"""Rate-distortion curves of the hybrid scheme and plain JPEG, from Python.

Runs the study of `ftjpeg rd` with the veltrano module on two bundled
photographs (or the images given), prints the BD-rate and BD-PSNR of the
hybrid scheme against JPEG for each, and draws PSNR and SSIM over bits per
pixel with matplotlib into a PNG file (on screen too with --show).

    PYTHONPATH=build/python /usr/bin/python3 examples/rd_plot.py [IMAGE...] [--out rd_curves.png]
"""

import argparse
import os
import sys

here = os.path.dirname(os.path.abspath(__file__))
try:
    import veltrano
except ImportError:  # run from the source tree without PYTHONPATH
    sys.path.insert(0, os.path.join(here, "..", "build", "python"))
    import veltrano

import matplotlib

parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
parser.add_argument("images", nargs="*", help="image files (default: two bundled photographs)")
parser.add_argument("--out", default="rd_curves.png", help="the plot to write (default rd_curves.png)")
parser.add_argument("--jobs", type=int, default=None, help="images measured at a time (default: the cores)")
parser.add_argument("--show", action="store_true", help="also show the plot in a window")
args = parser.parse_args()
if not args.show and "MPLBACKEND" not in os.environ:
    matplotlib.use("Agg")  # files only; no display needed
import matplotlib.pyplot as plt  # noqa: E402

images = args.images or [os.path.join(here, "..", "data", "photos", name) for name in ("chelsea.png", "astronaut.png")]
points = veltrano.rd(images, schemes=["jpeg", "hybrid"], jobs=args.jobs)
rows = points.to_dict("records") if hasattr(points, "to_dict") else points  # pandas or not

figure, axes = plt.subplots(2, len(images), figsize=(5 * len(images), 8), squeeze=False)
for column, image in enumerate(images):
    mine = [row for row in rows if row["image_index"] == column]
    if not mine:
        print("%s: skipped" % os.path.basename(image))
        continue
    curves = {scheme: [row for row in mine if row["scheme"] == scheme] for scheme in ("jpeg", "hybrid")}
    rate = veltrano.bd_rate([p["bpp"] for p in curves["jpeg"]], [p["psnr_db"] for p in curves["jpeg"]],
                            [p["bpp"] for p in curves["hybrid"]], [p["psnr_db"] for p in curves["hybrid"]])
    gain = veltrano.bd_psnr([p["bpp"] for p in curves["jpeg"]], [p["psnr_db"] for p in curves["jpeg"]],
                            [p["bpp"] for p in curves["hybrid"]], [p["psnr_db"] for p in curves["hybrid"]])
    name = os.path.basename(image)
    print("%s: BD-rate %+.2f %%, BD-PSNR %+.3f dB (hybrid against JPEG)" % (name, rate, gain))
    for row, (key, label) in enumerate((("psnr_db", "PSNR (dB)"), ("windowed_ssim", "windowed SSIM"))):
        axis = axes[row][column]
        for scheme, curve in curves.items():
            axis.plot([p["bpp"] for p in curve], [p[key] for p in curve], marker=".", label=scheme)
        axis.set_xscale("log")
        axis.set_xlabel("bits per pixel")
        axis.set_ylabel(label)
        axis.set_title(name)
        axis.grid(True, which="both", alpha=0.3)
        axis.legend()
figure.tight_layout()
figure.savefig(args.out, dpi=100)
if args.show:
    plt.show()
