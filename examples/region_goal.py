#!/usr/bin/env python3
"""The region codec's research goal, from a finished study.

    PYTHONPATH=build/python /usr/bin/python3 examples/region_goal.py STUDY_DIR [--below 0.5]

For each image of STUDY_DIR/points.csv (a study with the schemes region,
jpeg-opt, resample-box and resample-lanczos): the BD-rate of the best of
region and jpeg-opt at each rate (the efficient frontier of their points)
against the frontier of the JPEG-compatible anchors (jpeg-opt and the two
resamplings), on PSNR, with the points at or below --below bits per pixel;
then region's PSNR ceiling (its highest PSNR). Negative BD-rates: fewer bits
than the anchors.
"""
import argparse
import csv
import math
from collections import defaultdict

import veltrano


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("study")
    parser.add_argument("--below", type=float, default=0.5)
    args = parser.parse_args()
    points = defaultdict(lambda: defaultdict(list))
    with open(f"{args.study}/points.csv", newline="") as f:
        for row in csv.DictReader(f):
            points[row["image"]][row["scheme"]].append((float(row["bpp"]), float(row["psnr_db"])))
    anchors = ("jpeg-opt", "resample-box", "resample-lanczos")
    tests = ("region", "jpeg-opt")
    print("image,bd_rate_best_vs_anchor_hull_percent,bd_rate_region_vs_anchor_hull_percent,region_ceiling_db,"
          "jpeg_opt_ceiling_db")
    rates, regions, ceilings = [], [], []
    for image, schemes in points.items():
        def frontier(names):
            chosen = [p for n in names for p in schemes[n] if p[0] <= args.below and math.isfinite(p[1])]
            return [p[0] for p in chosen], [p[1] for p in chosen]
        a_rate, a_psnr = frontier(anchors)
        b_rate, b_psnr = frontier(tests)
        r_rate, r_psnr = frontier(("region",))
        best = veltrano.bd_rate(a_rate, a_psnr, b_rate, b_psnr)
        region = veltrano.bd_rate(a_rate, a_psnr, r_rate, r_psnr)
        ceiling = max(p[1] for p in schemes["region"])
        print(f"{image},{best:.2f},{region:.2f},{ceiling:.2f},{max(p[1] for p in schemes['jpeg-opt']):.2f}")
        rates.append(best)
        regions.append(region)
        ceilings.append(ceiling)
    def mean(values):
        finite = [v for v in values if math.isfinite(v)]
        return sum(finite) / len(finite) if finite else float("nan")
    print(f"mean,{mean(rates):.2f},{mean(regions):.2f},{mean(ceilings):.2f},")


if __name__ == "__main__":
    main()
