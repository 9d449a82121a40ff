# A study scheme in Python: the classic hybrid file, and after its expansion an
# unsharp mask of the 3 x 3 mean. python3 -m veltrano rd ... --scheme sharpen:scheme
# (with this folder on PYTHONPATH), run where weights_out.txt is.
import numpy as np, veltrano

def encode(image, quality):
    return veltrano.compress(image, quality=quality, weights="weights_out.txt")

def decode(data, size):
    d = veltrano.decompress(data, weights="weights_out.txt").astype(np.float32)
    d = np.pad(d, ((0, size[0] - d.shape[0]), (0, size[1] - d.shape[1]), (0, 0)), mode="edge")
    p = np.pad(d, ((1, 1), (1, 1), (0, 0)), mode="edge")
    blur = sum(p[i:i + size[0], j:j + size[1]] for i in range(3) for j in range(3)) / 9
    return np.clip(np.rint(d + 0.5 * (d - blur)), 0, 255).astype(np.uint8)

scheme = veltrano.Scheme("hybrid-sharpened", range(0, 101, 10), encode, decode, suffix="jpg")
