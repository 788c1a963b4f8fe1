"""A tour of pbfred on a small binary-image energy.

A 3x3 binary image: a unary data term per pixel pulls it towards a noisy observation, and one
degree-4 clique table per 2x2 window rewards windows whose pixels agree. The energy is built from
numpy arrays with pbfred.energy, shown as text before and after compaction, queried, reduced
exactly and approximately, and converted into a quadratic function with auxiliary variables; the
terms come back as arrays, the function goes through a file and back, and evaluate checks by brute
force over every image that the minimum survives every step.
"""

import os
import tempfile

import numpy as np

import pbfred
from pbfred import energy

W = 3
OBSERVED = np.array([1, 1, 0,
                     1, 0, 0,
                     1, 1, 0])
PIXELS = W * W
IMAGES = (np.arange(2 ** PIXELS)[:, None] >> np.arange(PIXELS - 1, -1, -1)) & 1  # one per row


def build():
    f = pbfred.PyPBF(PIXELS)
    # Cost 2 for disagreeing with the observation: E0 and E1 of every pixel at once.
    energy.add_unaries(f, np.arange(PIXELS), 2 * OBSERVED, 2 * (1 - OBSERVED))
    # One row per 2x2 window; the first id of a row is the most significant bit of s in vals[s].
    top = np.array([r * W + c for r in range(W - 1) for c in range(W - 1)])
    windows = np.stack([top, top + 1, top + W, top + W + 1], axis=1)
    ones = np.array([bin(s).count("1") for s in range(16)])
    energy.add_cliques(f, windows, 3 * np.minimum(ones, 4 - ones))  # one table for every window
    # A pairwise table whose energies cancel leaves terms with coefficient 0 until shrink().
    energy.add_pairs(f, [0], [8], 5, 5, 5, 5)
    return f


def degree_count(f, at_least=3):
    return sum(len(coefs) for d, (_, coefs) in energy.terms(f).items() if d >= at_least)


def minimum(f):
    """The minimum of f over the images, by brute force. Any other variable of f is an auxiliary
    one made by to_quadratic; those only ever pair with pixels, so for a fixed image each is
    minimised on its own: it takes 1 exactly when that lowers the value."""
    x = np.zeros((len(IMAGES), f.max_id() + 1), dtype=np.uint8)
    x[:, :PIXELS] = IMAGES
    values = energy.evaluate(f, x)  # every auxiliary at 0
    gain = {}  # per auxiliary: what setting it to 1 adds, per image
    for ids, coefs in energy.terms(f).values():
        for row, c in zip(ids.tolist(), coefs.tolist()):
            aux = [v for v in row if v >= PIXELS]
            if aux:
                on = x[:, [v for v in row if v < PIXELS]].all(axis=1)
                gain[aux[0]] = gain.get(aux[0], 0) + c * on
    return int((values + sum(np.minimum(0, g) for g in gain.values())).min())


def main():
    f = build()
    print("built:      ", f.get_string())
    f.shrink()
    print("compacted:  ", f.get_string())
    print(f"max_d={f.max_d()} max_id={f.max_id()} constant={f.constant()}")
    values = energy.evaluate(f, IMAGES)
    original_min = int(values.min())
    print(f"minimum energy over all {len(IMAGES)} images: {original_min}, for "
          f"{IMAGES[values.argmin()].reshape(W, W).tolist()}")

    exact = f.copy()
    before = degree_count(exact)
    exact.reduce_higher()
    print(f"\nreduce_higher: {before - degree_count(exact)} of {before} terms of degree >= 3 "
          "removed")
    print("exact:      ", exact.get_string())
    print(f"minimum after exact reduction: {minimum(exact)}")

    approx = f.copy()
    approx.reduce_higher_approx()
    print(f"\nreduce_higher_approx: {degree_count(approx)} terms of degree >= 3 left "
          "(an upper bound)")
    print("approximate:", approx.get_string())
    print(f"minimum of the upper bound: {minimum(approx)}")

    q = pbfred.PyPBF()
    exact.to_quadratic(q, 0)
    tables = energy.terms(q)
    print(f"\nto_quadratic: {q.max_id() - exact.max_id()} auxiliary variables, max_id() = "
          f"{q.max_id()}, terms per degree {({d: len(c) for d, (_, c) in tables.items()})}")
    with tempfile.TemporaryDirectory() as tmp:
        path = os.path.join(tmp, "quadratic.npz")
        energy.save(q, path)
        loaded = energy.load(path)
    same = loaded.get_string() == q.get_string()
    print(f"saved and loaded: {'the same function' if same else 'DIFFERENT'}")
    quadratic_min = minimum(loaded)
    print(f"minimum of the quadratic function: {quadratic_min}")
    assert same and minimum(exact) == original_min == quadratic_min, "a step lost the minimum"
    assert minimum(approx) >= original_min, "the approximation is not an upper bound"


if __name__ == "__main__":
    main()
