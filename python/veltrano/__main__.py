"""python3 -m veltrano rd: the study of ftjpeg rd with schemes and metrics
written in Python, named module:attr. Its output folder is the one ftjpeg
rd writes, so ftjpeg rd --merge merges the folders of its shards."""

import argparse
import importlib
import os
import sys

import veltrano

SUFFIXES = (".png", ".jpg", ".jpeg", ".bmp", ".ppm", ".pgm")


def image_files(arguments, excluded):
    """Files as given; folders as ftjpeg rd takes them: their images,
    subfolders included, sorted by path, without the excluded folders."""
    excluded = [os.path.abspath(folder) + os.sep for folder in excluded if folder]
    files = []
    for argument in arguments:
        if not os.path.isdir(argument):
            files.append(argument)
            continue
        prefix = argument if argument.endswith("/") else argument + "/"
        found = []
        for folder, _, names in os.walk(argument):
            for name in names:
                path = os.path.join(folder, name)
                if name.lower().endswith(SUFFIXES) and os.path.isfile(path) and not any(
                        os.path.abspath(path).startswith(prefix_) for prefix_ in excluded):
                    found.append(prefix + os.path.relpath(path, argument))
        files += sorted(found)
    return files


def named_object(text, what):
    """The object module:attr names (the current folder is searched first)."""
    module, _, attr = text.partition(":")
    if not module or not attr:
        raise SystemExit2("%s must be module:attr, not '%s'" % (what, text))
    if "" not in sys.path:
        sys.path.insert(0, "")
    try:
        value = importlib.import_module(module)
        for part in attr.split("."):
            value = getattr(value, part)
    except (ImportError, AttributeError) as error:
        raise SystemExit2("%s %s: %s" % (what, text, error))
    return value


class SystemExit2(Exception):
    """A usage error."""


def main(argv=None):
    parser = argparse.ArgumentParser(
        prog="python3 -m veltrano rd",
        description="The rate-distortion study of ftjpeg rd, with schemes and metrics written in Python: each "
                    "image with every scheme at each of its settings; writes the folder ftjpeg rd writes "
                    "(points.csv, summary.csv, skipped.csv, shards.csv, plots, report.html).")
    parser.add_argument("command", choices=["rd"], help="the study (the only command)")
    parser.add_argument("images", nargs="+", metavar="IMAGE_OR_DIR",
                        help="image files, or folders whose images are taken in path order")
    parser.add_argument("--scheme", action="append", default=[], metavar="MODULE:ATTR",
                        help="a scheme object (name, settings, encode, decode) or a list of them, imported from "
                             "MODULE (repeatable)")
    parser.add_argument("--schemes", metavar="LIST",
                        help="comma-separated built-in schemes (default: %s; 'none' for none)"
                             % ",".join(veltrano.default_schemes))
    parser.add_argument("--hybrid", action="append", default=[], metavar="SPEC",
                        help="a hybrid variant, as ftjpeg rd --hybrid (repeatable)")
    parser.add_argument("--metric", action="append", default=[], metavar="NAME=MODULE:ATTR",
                        help="a metric fn(reference, decoded) -> float as the column NAME (repeatable)")
    parser.add_argument("--out", default="rd", metavar="DIR", help="output folder (default rd)")
    parser.add_argument("--keep", metavar="DIR", help="keep every encoded file in DIR")
    parser.add_argument("--jobs", type=int, metavar="N", help="points measured at once (default: the cores)")
    parser.add_argument("--shard", metavar="K/N", help="every N-th image of the input list, from image K")
    parser.add_argument("--weights", metavar="FILE",
                        help="weights file (default weights_out.txt when there is one, else the table "
                             "'ftjpeg workdir' writes)")
    args = parser.parse_args(argv)

    try:
        schemes = [] if args.schemes == "none" else (
            args.schemes.split(",") if args.schemes else list(veltrano.default_schemes))
        schemes += ["hybrid:" + spec for spec in args.hybrid]
        for text in args.scheme:
            value = named_object(text, "--scheme")
            schemes += list(value) if isinstance(value, (list, tuple)) else [value]
        metrics = {}
        for text in args.metric:
            name, equals, target = text.partition("=")
            if not equals:
                raise SystemExit2("--metric must be NAME=MODULE:ATTR, not '%s'" % text)
            metrics[name] = named_object(target, "--metric")
        weights = args.weights
        if weights is None and os.path.isfile("weights_out.txt"):
            weights = "weights_out.txt"
        images = image_files(args.images, [args.out, args.keep])
        if not images:
            raise OSError("no images in %s" % ", ".join(args.images))
        report = veltrano.study(images, schemes, out=args.out, keep=args.keep, jobs=args.jobs, shard=args.shard,
                                metrics=metrics or None, weights=weights)
    except (SystemExit2, ValueError) as error:
        parser.print_usage(sys.stderr)
        print("python3 -m veltrano: %s" % error, file=sys.stderr)
        return 2
    except OSError as error:
        print("python3 -m veltrano: %s" % error, file=sys.stderr)
        return 1
    print(report)
    return 0


if __name__ == "__main__":
    sys.exit(main())
