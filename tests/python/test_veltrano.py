"""The Python module against the tools it wraps: the files and images of
ftjpeg, the figures of ssimdiff_cygwin and of ftjpeg rd, the messages of
ftjpeg for bad arguments, and threads running beside its long calls."""

import csv
import math
import os
import subprocess
import sys
import threading
import time

import numpy as np
import pytest
from PIL import Image

import veltrano

ROOT = os.environ.get("VELTRANO_SOURCE_DIR", os.path.dirname(os.path.dirname(os.path.dirname(
    os.path.abspath(__file__)))))
BIN = os.environ.get("VELTRANO_BIN_DIR", os.path.join(ROOT, "build", "bin"))
PHOTOS = os.path.join(ROOT, "data", "photos")
FTJPEG = os.path.join(BIN, "ftjpeg")


def photo(name):
    return np.asarray(Image.open(os.path.join(PHOTOS, name)))


def load(path):
    return np.asarray(Image.open(path).convert("RGB"))


def ftjpeg(*args, cwd=None):
    return subprocess.run([FTJPEG, *map(str, args)], capture_output=True, text=True, cwd=cwd)


def ftjpeg_message(*args):
    """What ftjpeg says on standard error, as the module words it: without the
    program's name, the dashes of an option and the pointer to --help."""
    result = ftjpeg(*args)
    assert result.returncode != 0
    message = result.stderr.strip()
    assert message.startswith("ftjpeg: ")
    message = message[len("ftjpeg: "):]
    if message.startswith("--"):
        message = message[2:]
    return message.split(" (see 'ftjpeg")[0]


@pytest.fixture(scope="module")
def weights_file(tmp_path_factory):
    # A table of the module's own choosing, not the default one, so that the
    # weights argument is seen to reach the expansion.
    path = tmp_path_factory.mktemp("weights") / "weights.txt"
    path.write_text("".join("%g\n" % (1 - i / 40) for i in range(31)))
    return path


def images():
    rgb = photo("chelsea.png")
    grey = photo("camera.png")[:301, :203]  # odd size, rows longer than their pixels
    rgba = np.dstack([photo("astronaut.png")[:201, :333],
                      np.arange(201 * 333, dtype=np.uint8).reshape(201, 333)])
    # Columns reversed: a view no image can wrap, copied.
    flipped = rgb[:, ::-1]
    return {"rgb": rgb, "grey": grey, "rgba": rgba, "flipped": flipped, "fortran": np.asfortranarray(rgb)}


@pytest.mark.parametrize("kind", ["rgb", "grey", "rgba", "flipped", "fortran"])
def test_same_files_and_pixels_as_ftjpeg(kind, tmp_path, weights_file):
    image = images()[kind]
    source = tmp_path / "source.png"
    Image.fromarray(image).save(source)  # PNG keeps alpha, which ftjpeg ignores
    for quality in (0, 45, 100):
        assert ftjpeg("compress", source, tmp_path / "h.jpg", "--quality", quality, "--weights", weights_file,
                      "--decoded", tmp_path / "d.png").returncode == 0
        data, decoded = veltrano.compress(image, quality=quality, weights=weights_file, decoded=True)
        assert data == (tmp_path / "h.jpg").read_bytes()
        assert decoded.shape == image.shape[:2] + (3,)
        assert np.array_equal(decoded, load(tmp_path / "d.png"))
    assert veltrano.compress(image) == veltrano.compress(image, quality=70, weights=None)

    assert ftjpeg("decompress", tmp_path / "h.jpg", tmp_path / "u.png", "--weights", weights_file).returncode == 0
    table = [float(line) for line in weights_file.read_text().split()]
    assert np.array_equal(veltrano.decompress(bytearray(data), weights=table), load(tmp_path / "u.png"))

    # A variant file, which records its weights.
    assert ftjpeg("compress", source, tmp_path / "v.jpg", "--quality", 60, "--weights", weights_file, "--step", 3,
                  "--kernel-radius", 3, "--reconstruct-radius", 2, "--optimize", "--progressive", "--chroma", 444,
                  *(["--clamp"] if kind == "rgb" else []),
                  "--decoded", tmp_path / "vd.png").returncode == 0
    variant, decoded = veltrano.compress(image, 60, weights_file, True, step=3, kernel_radius=3, reconstruct_radius=2,
                                         optimize=True, progressive=True, chroma=444, clamp=kind == "rgb")
    assert variant == (tmp_path / "v.jpg").read_bytes()
    assert np.array_equal(decoded, load(tmp_path / "vd.png"))
    assert ftjpeg("decompress", tmp_path / "v.jpg", tmp_path / "vu.png").returncode == 0
    assert np.array_equal(veltrano.decompress(variant, weights=[]), load(tmp_path / "vu.png"))
    assert veltrano.compress(image, optimize=True) == veltrano.compress(image, step=2, kernel_radius=2,
                                                                        reconstruct_radius=1, optimize=True)

    assert ftjpeg("direct", source, tmp_path / "c.png", "--step", 3, "--radius", 4).returncode == 0
    components = veltrano.direct(image, step=3, radius=4)
    assert np.array_equal(components, load(tmp_path / "c.png"))
    height, width = image.shape[:2]
    assert ftjpeg("inverse", tmp_path / "c.png", tmp_path / "i.png", "--size", "%dx%d" % (width, height),
                  "--step", 3, "--radius", 2, "--weights", weights_file).returncode == 0
    expanded = veltrano.inverse(components, (width, height), step=3, radius=2, weights=str(weights_file))
    assert np.array_equal(expanded, load(tmp_path / "i.png"))
    assert np.array_equal(veltrano.inverse(components, "%dx%d" % (width, height), 3, 2, weights_file), expanded)


def test_weights_tables():
    # The table of weights_out.txt: 9 significant digits, read back as float.
    expected = np.array([float("%.9g" % (1 / (1 + (i / 20) ** 2))) for i in range(501)], dtype=np.float32)
    assert veltrano.default_weights().dtype == np.float32
    assert np.array_equal(veltrano.default_weights(), expected)


def test_metrics_against_references_and_ssimdiff(tmp_path):
    reference = photo("chelsea.png")
    test = veltrano.compress(reference, quality=20, decoded=True)[1]
    a = reference.astype(np.float64)
    b = np.asarray(test, dtype=np.float64)
    mse = np.mean((a - b) ** 2)
    assert veltrano.mse(reference, test) == pytest.approx(mse, rel=1e-6)
    assert veltrano.psnr(reference, test) == pytest.approx(10 * math.log10(255 ** 2 / mse), rel=1e-12)
    assert veltrano.psnr(reference, reference) == math.inf

    def global_ssim(x, y):
        mx, my = x.mean(), y.mean()
        vx, vy, cov = x.var(), y.var(), ((x - mx) * (y - my)).mean()
        return (2 * mx * my + 6.5025) * (2 * cov + 58.5225) / ((mx ** 2 + my ** 2 + 6.5025) * (vx + vy + 58.5225))
    expected = np.mean([global_ssim(a[:, :, c], b[:, :, c]) for c in range(3)])
    assert veltrano.ssim(reference, test) == pytest.approx(expected, rel=1e-5)

    Image.fromarray(reference).save(tmp_path / "ref.png")
    Image.fromarray(np.ascontiguousarray(test)).save(tmp_path / "test.png")
    for mode, channel in (("1", None), ("0", 3)):
        out = subprocess.run([os.path.join(BIN, "ssimdiff_cygwin"), "-CC", mode, tmp_path / "ref.png",
                              tmp_path / "test.png"], capture_output=True, text=True, check=True).stdout.split()
        value = veltrano.windowed_ssim(reference, test, channel=channel)
        assert value == pytest.approx(float(out[0]), abs=0.6 * 10 ** -(len(out[0].split(".")[1])))


def test_study_equals_ftjpeg_rd(tmp_path, weights_file):
    names = []
    for name, crop in (("cat.png", photo("chelsea.png")[40:136, 100:228]), ("grey.png", photo("camera.png")[:70, :90])):
        Image.fromarray(crop).save(tmp_path / name)
        names.append(str(tmp_path / name))
    assert ftjpeg("rd", *names, "--out", tmp_path / "rd", "--jobs", 1, "--weights", weights_file,
                  "--schemes", "jpeg,hybrid", "--no-ablation").returncode == 0
    with open(tmp_path / "rd" / "points.csv") as f:
        expected = list(csv.DictReader(f))
    frame = veltrano.rd(names, schemes=["jpeg", "hybrid"], jobs=2, weights=weights_file)
    rows = frame.to_dict("records") if hasattr(frame, "to_dict") else frame
    assert len(rows) == len(expected) == 2 * 2 * 21
    for row, want in zip(rows, expected):
        for key in ("image_index", "image", "width", "height", "scheme", "quality", "size_bytes"):
            assert str(row[key]) == want[key], key
        for key in ("bpp", "psnr_db", "ssim", "windowed_ssim", "ms_ssim", "butteraugli", "butteraugli_max"):
            assert float(row[key]) == pytest.approx(float(want[key]), rel=1e-5, nan_ok=True), key
    hybrid = [r for r in rows if r["scheme"] == "hybrid"]
    cat = np.asarray(Image.open(names[0]))
    decoded = veltrano.compress(cat, quality=hybrid[3]["quality"], weights=weights_file, decoded=True)[1]
    assert veltrano.butteraugli(cat, decoded) == pytest.approx((hybrid[3]["butteraugli"], hybrid[3]["butteraugli_max"]),
                                                               rel=1e-5)
    only = veltrano.rd(names[0], schemes=["hybrid"], weights=weights_file)
    only = only.to_dict("records") if hasattr(only, "to_dict") else only
    assert [r["size_bytes"] for r in only] == [r["size_bytes"] for r in hybrid if r["image_index"] == 0]

    # The same points as a list of dicts where pandas cannot be imported.
    script = ("import sys; sys.modules['pandas'] = None; import veltrano; "
              "rows = veltrano.rd(sys.argv[1:], schemes=['jpeg']); "
              "print(type(rows).__name__, len(rows), sorted({r['scheme'] for r in rows}))")
    out = subprocess.run([sys.executable, "-c", script, *names], capture_output=True, text=True, check=True)
    assert out.stdout.split() == ["list", "42", "['jpeg']"]

    jpeg = [r for r in rows if r["scheme"] == "jpeg" and r["image_index"] == 0]
    with open(tmp_path / "rd" / "summary.csv") as f:
        summary = next(csv.DictReader(f))
    bd = veltrano.bd_rate([r["bpp"] for r in jpeg], [r["psnr_db"] for r in jpeg],
                          [r["bpp"] for r in hybrid[:21]], [r["psnr_db"] for r in hybrid[:21]])
    assert bd == pytest.approx(float(summary["bd_rate_percent"]), abs=1e-6)


def test_bad_inputs_raise_ftjpeg_messages(tmp_path, weights_file, capfd):
    image = photo("chelsea.png")
    source = os.path.join(PHOTOS, "chelsea.png")
    out = tmp_path / "x.jpg"
    cases = [
        (lambda: veltrano.compress(image, quality=101), ValueError, ftjpeg_message("compress", source, out, "--quality", 101)),
        (lambda: veltrano.compress(image, quality=-1), ValueError, ftjpeg_message("compress", source, out, "--quality", -1)),
        (lambda: veltrano.compress(image, quality=70.5), ValueError, ftjpeg_message("compress", source, out, "--quality", 70.5)),
        (lambda: veltrano.direct(image, step=0), ValueError, ftjpeg_message("direct", source, tmp_path / "c.png", "--step", 0)),
        (lambda: veltrano.direct(image, radius=2 ** 21), ValueError,
         ftjpeg_message("direct", source, tmp_path / "c.png", "--radius", 2 ** 21)),
        (lambda: veltrano.inverse(image, (5, 5), radius=-1), ValueError,
         ftjpeg_message("inverse", source, tmp_path / "i.png", "--size", "5x5", "--radius", -1)),
        (lambda: veltrano.inverse(image, (0, 5)), ValueError,
         ftjpeg_message("inverse", source, tmp_path / "i.png", "--size", "0x5")),
        (lambda: veltrano.inverse(image, "70000x70000"), ValueError,
         ftjpeg_message("inverse", source, tmp_path / "i.bmp", "--size", "70000x70000")),
        (lambda: veltrano.compress(image, weights=tmp_path / "missing.txt"), OSError,
         ftjpeg_message("compress", source, out, "--weights", tmp_path / "missing.txt")),
        (lambda: veltrano.read_weights(tmp_path / "missing.txt"), OSError,
         ftjpeg_message("compress", source, out, "--weights", tmp_path / "missing.txt")),
        (lambda: veltrano.rd([source], jobs=0), ValueError, ftjpeg_message("rd", source, "--jobs", 0)),
        (lambda: veltrano.compress(image, chroma="422"), ValueError,
         ftjpeg_message("compress", source, out, "--chroma", 422)),
        (lambda: veltrano.compress(image, reconstruct_radius=-1), ValueError,
         ftjpeg_message("compress", source, out, "--reconstruct-radius", -1).replace("reconstruct-", "reconstruct_")),
        (lambda: veltrano.compress(image, step=4, reconstruct_radius=132), ValueError,
         ftjpeg_message("compress", source, out, "--step", 4, "--reconstruct-radius", 132)),
        (lambda: veltrano.rd([source], schemes=["jpeg", "png"]), ValueError,
         ftjpeg_message("rd", source, "--schemes", "jpeg,png")),
        (lambda: veltrano.rd([source], schemes="hybrid,hybrid"), ValueError,
         ftjpeg_message("rd", source, "--schemes", "hybrid,hybrid")),
    ]
    short = tmp_path / "short.txt"
    short.write_text("1\n0.5\n")
    cases.append((lambda: veltrano.compress(image, weights=short), ValueError,
                  ftjpeg_message("compress", source, out, "--weights", short)))
    cases.append((lambda: veltrano.inverse(image, (900, 600), weights=short), ValueError,
                  ftjpeg_message("inverse", source, tmp_path / "i.png", "--size", "900x600", "--weights", short)))
    tiny = tmp_path / "tiny.png"
    Image.fromarray(image[:1, :1]).save(tiny)
    cases.append((lambda: veltrano.compress(image[:1, :1]), ValueError,
                  ftjpeg_message("compress", tiny, out, "--weights", weights_file).split(": ", 1)[1]))
    cases.append((lambda: veltrano.direct(image[:2, :5], step=3), ValueError,
                  ftjpeg_message("direct", tiny, tmp_path / "c.png", "--step", 3).split(": ", 1)[1]
                  .replace("1x1", "5x2")))

    # A plain JPEG, and a hybrid file cut short inside its image data.
    Image.fromarray(image).save(tmp_path / "plain.jpg", quality=80)
    data = veltrano.compress(image)
    (tmp_path / "cut.jpg").write_bytes(data[:len(data) // 2])
    cases.append((lambda: veltrano.decompress((tmp_path / "plain.jpg").read_bytes()), ValueError,
                  ftjpeg_message("decompress", tmp_path / "plain.jpg", tmp_path / "u.png")
                  .replace(str(tmp_path / "plain.jpg"), "the data")))
    cases.append((lambda: veltrano.decompress(data[:len(data) // 2]), ValueError,
                  ftjpeg_message("decompress", tmp_path / "cut.jpg", tmp_path / "u.png", "--weights", weights_file)
                  .replace(str(tmp_path / "cut.jpg"), "the data")))
    for call, exception, message in cases:
        with pytest.raises(exception) as raised:
            call()
        assert str(raised.value) == message

    # Arguments ftjpeg cannot be given: arrays and objects of the wrong kind.
    for bad in (image.astype(np.float32), image[:, :, :2], image[None], np.zeros((0, 4, 3), np.uint8),
                "chelsea.png", None, [[1, 2], [3, 4]]):
        for call in (veltrano.compress, veltrano.direct, lambda a: veltrano.mse(a, a)):
            with pytest.raises(ValueError, match="uint8 array|is empty|numpy array"):
                call(bad)
    for call, match in ((lambda: veltrano.decompress(b""), "not a hybrid"),
                        (lambda: veltrano.decompress("x.jpg"), "bytes"),
                        (lambda: veltrano.decompress(data, weights={"a": 1}), "weights must be"),
                        (lambda: veltrano.mse(image, image[1:]), r"differ in size \(451x300 and 451x299\)"),
                        (lambda: veltrano.windowed_ssim(image[:5, :5], image[:5, :5]), "window"),
                        (lambda: veltrano.ms_ssim(image[:160], image[:160]), "161"),
                        (lambda: veltrano.windowed_ssim(image, image, channel=4), "channel must be"),
                        (lambda: veltrano.rd([3]), "paths"),
                        (lambda: veltrano.bd_rate([1, 2], [30], [1, 2], [30, 31]), "same length")):
        with pytest.raises(ValueError, match=match):
            call()
    # The reasons are in the exceptions; libjpeg's warnings are not printed.
    capfd.readouterr()
    with pytest.raises(ValueError, match="Unable to read image data"):
        veltrano.decompress(data[:20] + bytes(3000))
    assert capfd.readouterr().err == ""
    with pytest.warns(RuntimeWarning, match="missing.png"):
        assert len(veltrano.rd([str(tmp_path / "missing.png")])) == 0


def test_long_calls_let_other_threads_run():
    """A thread that counts while the calls run: with a switch interval far
    longer than the test, it gets the interpreter only when a call releases
    it, so its count moves during a call if and only if the GIL was released."""
    image = np.ascontiguousarray(np.tile(photo("astronaut.png"), (2, 2, 1)))
    data = veltrano.compress(image)
    components = veltrano.direct(image)
    calls = {
        "compress": lambda: veltrano.compress(image),
        "decompress": lambda: veltrano.decompress(data),
        "direct": lambda: veltrano.direct(image),
        "inverse": lambda: veltrano.inverse(components, (1024, 1024)),
        "windowed_ssim": lambda: veltrano.windowed_ssim(image, image),
    }
    count = [0]
    stop = threading.Event()

    def counter():
        while not stop.is_set():
            count[0] += 1
            time.sleep(0)  # gives the interpreter back

    interval = sys.getswitchinterval()
    sys.setswitchinterval(1e6)
    thread = threading.Thread(target=counter)
    thread.start()
    try:
        released = {}
        for name, call in calls.items():
            released[name] = False
            for _ in range(20):
                before = count[0]
                call()
                if count[0] != before:
                    released[name] = True
                    break
    finally:
        stop.set()
        sys.setswitchinterval(interval)
        thread.join()
    assert released == {name: True for name in calls}


def test_threads_give_the_results_of_one_thread(weights_file):
    sources = [photo("chelsea.png"), photo("camera.png"), photo("astronaut.png"), photo("brick.png")]
    expected = [(veltrano.compress(s, quality=10 * i), veltrano.decompress(veltrano.compress(s), weights_file))
                for i, s in enumerate(sources)]
    results = [None] * len(sources)

    def work(i):
        for _ in range(3):
            results[i] = (veltrano.compress(sources[i], quality=10 * i),
                          veltrano.decompress(veltrano.compress(sources[i]), weights_file))

    threads = [threading.Thread(target=work, args=(i,)) for i in range(len(sources))]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    for (data, image), (want_data, want_image) in zip(results, expected):
        assert data == want_data and np.array_equal(image, want_image)


def test_example_script(tmp_path):
    names = []
    for name, crop in (("cat.png", photo("chelsea.png")[:64, :96]), ("rocket.png", photo("astronaut.png")[:80, :64])):
        Image.fromarray(crop).save(tmp_path / name)
        names.append(str(tmp_path / name))
    env = dict(os.environ)
    env.pop("DISPLAY", None)
    env.pop("MPLBACKEND", None)
    out = subprocess.run([sys.executable, os.path.join(ROOT, "examples", "rd_plot.py"), *names,
                          "--out", tmp_path / "curves.png"], capture_output=True, text=True, env=env, cwd=tmp_path)
    assert out.returncode == 0, out.stderr
    lines = out.stdout.splitlines()
    assert [line.split(":")[0] for line in lines] == ["cat.png", "rocket.png"]
    assert all("BD-rate" in line and "%" in line for line in lines)
    plot = Image.open(tmp_path / "curves.png")
    assert plot.format == "PNG" and plot.width > 300


def test_grid_distance_against_numpy():
    rng = np.random.default_rng(7)
    fine = rng.uniform(0, 255, size=(5, 7)).astype(np.float32)  # spacing 1 over 7 x 5
    coarse = rng.uniform(0, 255, size=(3, 4)).astype(np.float32)  # spacing 2 over 7 x 5: nodes 0, 2, 4, 6
    # At spacing 2 the raised-cosine weights at half a spacing are 1/2 each:
    # the expansion at the fine nodes is the midpoint interpolation.
    up = np.zeros((5, 7), dtype=np.float64)
    up[::2, ::2] = coarse
    up[::2, 1::2] = 0.5 * (coarse[:, :-1] + coarse[:, 1:])
    up[1::2, :] = 0.5 * (up[0:-1:2, :] + up[2::2, :])
    expected = math.sqrt(np.mean((fine.astype(np.float64) - up) ** 2))
    assert veltrano.grid_distance(fine, 1, coarse, 2, (7, 5)) == pytest.approx(expected, rel=1e-6)
    assert veltrano.grid_distance(coarse, 2, fine, 1, (7, 5)) == veltrano.grid_distance(fine, 1, coarse, 2, (7, 5))
    assert veltrano.grid_distance(fine, 1, fine, 1, (7, 5)) == 0.0
    with pytest.raises(ValueError, match="2-D array of 3 rows and 4 columns"):
        veltrano.grid_distance(fine, 1, fine, 2, (7, 5))


def test_region_codec_as_ftjpeg_region(tmp_path):
    image = photo("chelsea.png")[40:150, 60:233]
    Image.fromarray(image).save(tmp_path / "in.png")
    assert ftjpeg("region", "compress", tmp_path / "in.png", tmp_path / "a.ftr", "--max-diff", "3", "--sim", "1",
                  "--decoded", tmp_path / "a.png").returncode == 0
    data = veltrano.region_compress(image, max_diff=3, sim=1)
    assert data == (tmp_path / "a.ftr").read_bytes()
    np.testing.assert_array_equal(veltrano.region_decompress(data), load(tmp_path / "a.png"))
    with pytest.raises(ValueError, match="the data cannot be decoded: its header gives"):
        veltrano.region_decompress(data[:60])
    with pytest.raises(ValueError, match="max diff must be from 0.1"):
        veltrano.region_compress(image, max_diff=0)


def points_without_times(path):
    with open(path) as f:
        rows = list(csv.reader(f))
    drop = [rows[0].index("encode_ms"), rows[0].index("decode_ms")]
    return [[v for i, v in enumerate(row) if i not in drop] for row in rows]


def test_python_scheme_and_metric_beside_the_hybrid_scheme(tmp_path, weights_file):
    # A scheme of two lines around compress and decompress gives the very
    # points of the built-in hybrid scheme; an own metric, numpy's PSNR,
    # agrees with the study's.
    cat = photo("chelsea.png")[90:138, 180:244]
    wrapped = veltrano.Scheme("wrapped", [0, 50, 100],
                              lambda image, q: veltrano.compress(image, quality=q, weights=weights_file),
                              lambda data, size: veltrano.decompress(data, weights=weights_file), suffix="jpg")

    def numpy_psnr(reference, decoded):
        error = (reference.astype(np.float64) - decoded) ** 2
        return 10 * math.log10(255.0 ** 2 / error.mean())

    rows = veltrano.rd([("cat", cat)], ["hybrid", wrapped], jobs=2, weights=weights_file,
                       metrics={"numpy_psnr": numpy_psnr}).to_dict("records")
    assert [r["scheme"] for r in rows] == ["hybrid"] * 21 + ["wrapped"] * 3
    for k, quality in enumerate((0, 50, 100)):
        built_in, own = rows[quality // 5], rows[21 + k]
        assert own["quality"] == built_in["quality"] == quality
        for key in ("size_bytes", "bpp", "psnr_db", "ssim", "windowed_ssim", "butteraugli", "butteraugli_max",
                    "numpy_psnr"):
            assert own[key] == built_in[key], key
    assert all(r["image"] == "cat" for r in rows)
    for r in rows:
        assert r["numpy_psnr"] == pytest.approx(r["psnr_db"], rel=1e-12)
    # The array as a file: the same figures.
    Image.fromarray(cat).save(tmp_path / "cat.png")
    from_file = veltrano.rd([str(tmp_path / "cat.png")], [wrapped], weights=weights_file).to_dict("records")
    assert [r["psnr_db"] for r in from_file] == [r["psnr_db"] for r in rows[21:]]


def test_python_scheme_faults_skip_their_points(weights_file):
    cat = photo("chelsea.png")[90:138, 180:244]

    def encode(image, setting):
        if setting == 1:
            raise RuntimeError("no rate\nfor this")
        if setting == 2:
            return "text"
        return image.tobytes()

    def decode(data, size):
        if len(data) == 1:
            return np.zeros((2, 2), np.uint8)
        return np.frombuffer(data, np.uint8).reshape(size + (3,))

    faulty = veltrano.Scheme("faulty", [1, 2, 3, 4], lambda i, s: b"x" if s == 4 else encode(i, s), decode)
    with pytest.warns(RuntimeWarning) as caught:
        rows = veltrano.rd([("cat", cat)], [faulty], jobs=2).to_dict("records")
    assert [(r["quality"], r["psnr_db"]) for r in rows] == [(3, math.inf)]
    messages = sorted(str(w.message) for w in caught)
    assert messages == [
        "skipped on cat: faulty at 1: the encoder of faulty raised RuntimeError: no rate for this",
        "skipped on cat: faulty at 2: the encoder of faulty returned str, not bytes",
        "skipped on cat: faulty at 4: the data decode at 2x2 pixels"]
    with pytest.warns(RuntimeWarning, match="the metric broken raised ZeroDivisionError"):
        assert veltrano.rd([("cat", cat)], [faulty], metrics={"broken": lambda a, b: 1 / 0}).empty

    class NoDecode:
        name, settings = "x", [1]

        def encode(self, image, setting):
            return b""

    for schemes, message in (([NoDecode()], "NoDecode has no decode"),
                             ([veltrano.Scheme("jpeg", [1], encode, decode)], "the name of a built-in scheme"),
                             ([veltrano.Scheme("a/b", [1], encode, decode)], "a name is"),
                             ([veltrano.Scheme("x", [5, 1], encode, decode)], "the settings must rise"),
                             ([faulty, faulty], "given twice"),
                             (["hybrid:step=0"], "step must be")):
        with pytest.raises(ValueError, match=message):
            veltrano.rd([("cat", cat)], schemes)
    with pytest.raises(ValueError, match="metric name 'psnr_db'"):
        veltrano.rd([("cat", cat)], [faulty], metrics={"psnr_db": numpy_mean})
    with pytest.raises(ValueError, match="images must be paths of image files or"):
        veltrano.rd([cat], [faulty])


def numpy_mean(reference, decoded):
    return float(np.abs(reference.astype(int) - decoded).mean())


def test_study_shards_merged_by_ftjpeg_equal_one_run(tmp_path, weights_file):
    images = [("a", photo("astronaut.png")[100:132, 100:140]), ("b", photo("camera.png")[150:190, 200:233]),
              ("c", photo("gravel.png")[300:324, 10:58])]
    # Halving by numpy, stored losslessly: a scheme of the researcher's own.
    halve = veltrano.Scheme(
        "halve", [1, 2],
        lambda image, s: image[::s, ::s].tobytes() + bytes([s]),
        lambda data, size: np.ascontiguousarray(np.frombuffer(data[:-1], np.uint8).reshape(
            (size[0] + data[-1] - 1) // data[-1], (size[1] + data[-1] - 1) // data[-1], 3)
            .repeat(data[-1], 0).repeat(data[-1], 1)[:size[0], :size[1]]))
    schemes = ["jpeg", "hybrid", halve]
    metrics = {"mean_abs": numpy_mean}
    report = veltrano.study(images, schemes, out=tmp_path / "whole", jobs=2, metrics=metrics, weights=weights_file)
    assert report == str(tmp_path / "whole" / "report.html")
    for k in range(2):
        veltrano.study(images, schemes, out=tmp_path / str(k), shard="%d/2" % k, metrics=metrics,
                       weights=weights_file)
    merged = ftjpeg("rd", "--merge", tmp_path / "1", tmp_path / "0", "--out", tmp_path / "merged")
    assert merged.returncode == 0, merged.stderr
    whole = points_without_times(tmp_path / "whole" / "points.csv")
    assert whole[0][-1] == "mean_abs" and len(whole) == 1 + 3 * (21 + 21 + 2)
    assert points_without_times(tmp_path / "merged" / "points.csv") == whole
    for table in ("summary.csv", "skipped.csv"):
        assert (tmp_path / "merged" / table).read_bytes() == (tmp_path / "whole" / table).read_bytes(), table
    assert sorted(os.listdir(tmp_path / "merged")) == sorted(os.listdir(tmp_path / "whole"))
    with pytest.raises(ValueError, match="shard must be"):
        veltrano.study(images, schemes, out=tmp_path / "x", shard="2/2")


def test_module_runs_the_study_from_the_command_line(tmp_path):
    (tmp_path / "own.py").write_text(
        "import numpy as np, veltrano\n"
        "grey = veltrano.Scheme('grey', [0], lambda image, s: image.mean(axis=2).astype(np.uint8).tobytes(),\n"
        "    lambda data, size: np.frombuffer(data, np.uint8).reshape(size).copy())\n"
        "def red(reference, decoded):\n"
        "    return float(reference[..., 0].mean())\n")
    Image.fromarray(photo("chelsea.png")[90:138, 180:244]).save(tmp_path / "cat.png")
    env = dict(os.environ, PYTHONPATH=os.pathsep.join(sys.path))
    run = subprocess.run([sys.executable, "-m", "veltrano", "rd", "cat.png", "--schemes", "none", "--scheme",
                          "own:grey", "--metric", "red=own:red", "--out", "out"],
                         cwd=tmp_path, capture_output=True, text=True, env=env)
    assert run.returncode == 0, run.stderr
    with open(tmp_path / "out" / "points.csv") as f:
        rows = list(csv.DictReader(f))
    assert [(r["scheme"], r["quality"], r["size_bytes"]) for r in rows] == [("grey", "0", str(64 * 48))]
    assert float(rows[0]["red"]) == pytest.approx(photo("chelsea.png")[90:138, 180:244, 0].mean(), rel=1e-12)
    assert sorted(os.listdir(tmp_path / "out")) == ["plot-average.png", "plot-cat.png", "points.csv", "report.html",
                                                    "shards.csv", "skipped.csv", "summary.csv"]
    bad = subprocess.run([sys.executable, "-m", "veltrano", "rd", "cat.png", "--scheme", "own:nothing"],
                         cwd=tmp_path, capture_output=True, text=True, env=env)
    assert bad.returncode == 2 and "--scheme own:nothing:" in bad.stderr
