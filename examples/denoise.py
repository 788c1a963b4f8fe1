"""Binary denoising of a photograph: the energy the demo restores and the benchmarks measure.

The clean picture is scikit-image's `camera` photograph, thresholded to black and white (and
halved in size for the smaller workloads, doubled for a megapixel); the noisy one flips a share of
its pixels at random.
The energy of a labelling x (one 0/1 variable per pixel, pixel (r, c) is variable r * width + c):

- a data term per pixel: `data` when x disagrees with the noisy observation, 0 otherwise;
- a prior per 2 x 2 window, one table of 16 values over its pixels (top left, top right, bottom
  left, bottom right; the first is the most significant bit of the table's index):
  - "count": by the number k of ones in the window, `weight` * min(k, 4 - k): a concave function
    of the count, so the energy is submodular and a graph cut could minimise it exactly as it is;
  - "checkerboard": the same, except that the two checkerboards cost 3 `weight` instead of 2:
    not submodular (two opposite corners cost more together than apart), the case where roof
    duality leaves pixels unlabelled.
"""

from __future__ import annotations

import numpy as np

PRIORS = ("count", "checkerboard")


def clean_photo(size: int = 512) -> np.ndarray:
    """scikit-image's camera photograph, `size` x `size` (512, a power-of-two fraction of it, or a
    multiple of it, for which every pixel becomes a square block), as 0/1 pixels (1 for the
    brighter half)."""
    from skimage import data

    image = data.camera().astype(np.float64)
    if size > 512 and size % 512 == 0:
        # Each value repeated k*k times keeps the median, so this is the 512 picture enlarged.
        image = np.kron(image, np.ones((size // 512, size // 512)))
    elif size < 1 or 512 % size:
        raise ValueError(f"size must divide 512 or be a multiple of it, got {size}")
    else:
        step = 512 // size
        image = image.reshape(size, step, size, step).mean(axis=(1, 3))
    return (image > np.median(image)).astype(np.uint8)


def add_noise(clean: np.ndarray, flip: float = 0.1, seed: int = 0) -> np.ndarray:
    """`clean` with each pixel flipped with probability `flip` (seeded, reproducible)."""
    rng = np.random.default_rng(seed)
    return (clean ^ (rng.random(clean.shape) < flip)).astype(np.uint8)


def window_ids(height: int, width: int) -> np.ndarray:
    """The pixel ids of every 2 x 2 window, shape ((height-1) * (width-1), 4), row by row."""
    top_left = (np.arange(height - 1)[:, None] * width + np.arange(width - 1)[None, :]).ravel()
    return np.stack([top_left, top_left + 1, top_left + width, top_left + width + 1], axis=1)


def prior_table(kind: str, weight: int) -> np.ndarray:
    """The 16 values of a window's prior table (entry s: pixel p of the window takes bit 3 - p)."""
    s = np.arange(16)
    bits = (s[:, None] >> np.array([3, 2, 1, 0])) & 1
    ones = bits.sum(axis=1)
    if kind == "count":
        return weight * np.minimum(ones, 4 - ones)
    if kind == "checkerboard":
        # Two ones in a window form a straight edge or, when they sit on a diagonal, one of the
        # two checkerboards.
        diagonal = (bits[:, 0] == bits[:, 3]) & (bits[:, 1] == bits[:, 2]) & (ones == 2)
        return weight * np.select([ones % 4 == 0, ones % 2 == 1, diagonal], [0, 1, 3], 2)
    raise ValueError(f"prior must be one of {PRIORS}, got {kind!r}")


def data_term(noisy: np.ndarray, data: int) -> tuple[np.ndarray, np.ndarray]:
    """E0 and E1 of every pixel's data term, pixel by pixel."""
    observed = noisy.ravel().astype(np.int32)
    return data * observed, data * (1 - observed)


def build_energy(noisy: np.ndarray, prior: str = "count", data: int = 3, weight: int = 1):
    """The denoising energy of `noisy` as a PyPBF, built from arrays in two calls."""
    import pbfred
    from pbfred import energy

    height, width = noisy.shape
    f = pbfred.PyPBF(height * width)
    energy.add_unaries(f, np.arange(height * width), *data_term(noisy, data))
    energy.add_cliques(f, window_ids(height, width), prior_table(prior, weight))
    return f
