#ifndef SSIMFIGURES_H
#define SSIMFIGURES_H

// Figures of scikit-image 0.19.3 (Debian's python3-skimage) for the image
// pairs in tests/data/ssim, shared by test_metrics and test_ssimdiff.
//
// Each row was printed, from the top of the source tree, by
//
//   /usr/bin/python3 -c "import sys, numpy as np; from skimage import io; from skimage.metrics import structural_similarity as S, peak_signal_noise_ratio as P; a, b = io.imread(sys.argv[1]), io.imread(sys.argv[2]); k = dict(gaussian_weights=True, sigma=1.5, use_sample_covariance=False, data_range=255); y = lambda p: (p if p.ndim == 3 else np.stack([p] * 3, 2)).astype(float) @ [0.299, 0.587, 0.114]; print('%.10f %.10f %.10f' % (S(a, b, channel_axis=2 if a.ndim == 3 else None, **k), P(a, b, data_range=255), S(y(a), y(b), **k)))" REF TEST
//
// with REF and TEST the two file names of the row: the mean SSIM over the
// colour channels (over the one grey channel for camera), the PSNR over all
// samples, and the SSIM of the BT.601 luma planes.
// tests/data/ssim/make_pairs.py made the pairs and prints the same figures.

struct SsimFigures
{
    const char *reference; // relative to the source tree
    const char *test;
    double ssim;
    double psnr;
    double lumaSsim;
};

static const SsimFigures recordedSsimFigures[] = {
    {"tests/data/ssim/astronaut_ref.png", "tests/data/ssim/astronaut_q20.png",
     0.8481968804, 27.5676100077, 0.8928149835},
    {"data/photos/chelsea.png", "tests/data/ssim/chelsea_blur.png",
     0.8702642675, 32.4539654315, 0.8737272968},
    {"tests/data/ssim/camera_ref.png", "tests/data/ssim/camera_q20.png",
     0.8854130940, 30.9099912426, 0.8854130940},
    {"tests/data/ssim/hubble_ref.png", "tests/data/ssim/hubble_noise.png",
     0.7137855369, 30.6831552435, 0.8298777383},
};

#endif // SSIMFIGURES_H
