#!/usr/bin/python3
"""Makes the image pairs in this folder from the photographs in data/photos
and prints the reference figures of scikit-image for each pair.

Run from the top of the source tree:  /usr/bin/python3 tests/data/ssim/make_pairs.py
Needs Debian's python3-skimage (with numpy, scipy and Pillow). Every output is
a PNG file (lossless), so the tests read exactly the pixels measured here.
"""

import io
import os
import sys

import numpy as np
from PIL import Image
from scipy import ndimage
from skimage import io as skio
from skimage.metrics import peak_signal_noise_ratio, structural_similarity

HERE = os.path.dirname(os.path.abspath(__file__))
PHOTOS = os.path.join(HERE, "..", "..", "..", "data", "photos")


def photo(name):
    return np.asarray(Image.open(os.path.join(PHOTOS, name)))


def jpeg(pixels, quality):
    buffer = io.BytesIO()
    Image.fromarray(pixels).save(buffer, format="JPEG", quality=quality)
    return np.asarray(Image.open(io.BytesIO(buffer.getvalue())))


def blur(pixels, sigma):
    axes_sigma = (sigma, sigma, 0) if pixels.ndim == 3 else (sigma, sigma)
    out = ndimage.gaussian_filter(pixels.astype(np.float64), axes_sigma)
    return np.clip(np.rint(out), 0, 255).astype(np.uint8)


def noise(pixels, sigma, seed):
    rng = np.random.RandomState(seed)
    out = pixels.astype(np.float64) + rng.normal(0.0, sigma, pixels.shape)
    return np.clip(np.rint(out), 0, 255).astype(np.uint8)


def save(name, pixels):
    Image.fromarray(pixels).save(os.path.join(HERE, name), optimize=True)


def make():
    astronaut = photo("astronaut.png")[128:384, 128:384]
    save("astronaut_ref.png", astronaut)
    save("astronaut_q20.png", jpeg(astronaut, 20))

    # The reference is data/photos/chelsea.png itself.
    save("chelsea_blur.png", blur(photo("chelsea.png"), 1.2))

    camera = photo("camera.png")[64:320, 128:384]
    save("camera_ref.png", camera)
    save("camera_q20.png", jpeg(camera, 20))

    hubble = photo("hubble_deep_field.jpg")[300:503, 400:701]
    save("hubble_ref.png", hubble)
    save("hubble_noise.png", noise(hubble, 8.0, 5))


PAIRS = [
    ("astronaut_ref.png", "astronaut_q20.png"),
    (os.path.join(PHOTOS, "chelsea.png"), "chelsea_blur.png"),
    ("camera_ref.png", "camera_q20.png"),
    ("hubble_ref.png", "hubble_noise.png"),
]


def luma(pixels):
    if pixels.ndim == 2:
        pixels = np.stack([pixels] * 3, axis=2)
    p = pixels.astype(np.float64)
    return 0.299 * p[:, :, 0] + 0.587 * p[:, :, 1] + 0.114 * p[:, :, 2]


def report():
    # The very calls that the comments in tests/test_metrics.cpp quote.
    for ref_name, test_name in PAIRS:
        ref = skio.imread(os.path.join(HERE, ref_name))
        test = skio.imread(os.path.join(HERE, test_name))
        kwargs = dict(gaussian_weights=True, sigma=1.5, use_sample_covariance=False, data_range=255)
        if ref.ndim == 3:
            ssim = structural_similarity(ref, test, channel_axis=2, **kwargs)
        else:
            ssim = structural_similarity(ref, test, **kwargs)
        psnr = peak_signal_noise_ratio(ref, test, data_range=255)
        ssim_luma = structural_similarity(luma(ref), luma(test), **kwargs)
        print("%s %s ssim %.10f psnr %.10f luma_ssim %.10f"
              % (os.path.basename(ref_name), test_name, ssim, psnr, ssim_luma))


if __name__ == "__main__":
    if "--report-only" not in sys.argv:
        make()
    report()
