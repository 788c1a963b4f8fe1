"""Exhaustive enumeration and random functions for the tests of quadratize, roof_duality and
minimize: every guarantee of those three is a statement about all labellings, so the tests
check it on functions small enough to list them all."""

import importlib.util
import pathlib

import numpy as np

from pbfred import PyPBF, energy

I32 = (-2**31, 2**31 - 1)

# Rows evaluated per call when minimising over auxiliaries: large enough that the per-call cost
# vanishes, small enough that a block stays a few MB.
_BLOCK_ROWS = 1 << 17


def assignments(n):
    """Every 0/1 labelling of n variables as a (2**n, n) uint8 array, variable 0 the most
    significant bit, so row r is the binary expansion of r."""
    s = np.arange(1 << n, dtype=np.int64)
    return ((s[:, None] >> np.arange(n - 1, -1, -1)) & 1).astype(np.uint8)


def values(f, n=None):
    """f at every labelling of the ids 0 .. n-1 (n defaults to f.max_id() + 1), in the row order
    of assignments(n)."""
    n = f.max_id() + 1 if n is None else n
    return energy.evaluate(f, assignments(n))


def min_over_auxiliaries(q, n, first):
    """For every labelling of the ids 0 .. n-1 (row order of assignments(n)), the minimum of q
    over its auxiliaries first .. q.max_id(); ids between n and first stay 0."""
    aux = max(0, q.max_id() + 1 - first)
    width = max(q.max_id() + 1, n)
    xs, ys = assignments(n), assignments(aux)
    per_block = max(1, _BLOCK_ROWS >> aux)
    out = np.empty(len(xs), dtype=np.int64)
    for start in range(0, len(xs), per_block):
        part = xs[start:start + per_block]
        rows = np.zeros((len(part), len(ys), width), dtype=np.uint8)
        rows[:, :, :n] = part[:, None, :]
        rows[:, :, first:first + aux] = ys[None, :, :]
        energies = energy.evaluate(q, rows.reshape(-1, width))
        out[start:start + len(part)] = energies.reshape(len(part), len(ys)).min(axis=1)
    return out


def best_completion(all_values, fixed):
    """The least value over the labellings that agree with every entry of `fixed` that is 0 or 1
    (entries -1 are free); `all_values` is in the row order of assignments(len(fixed))."""
    fixed = np.asarray(fixed)
    rows = assignments(len(fixed))
    known = fixed >= 0
    agree = (rows[:, known] == fixed[known]).all(axis=1)
    return int(all_values[agree].min())


def persistent_labels(solution):
    """A Solution's labels where persistent, -1 elsewhere."""
    return np.where(solution.persistent, solution.labels.astype(np.int8), np.int8(-1))


def polynomial(*terms, constant=0):
    """A PyPBF with these (ids, coefficient) terms, added by add_terms in the order given (ids as
    given, zero coefficients too), and this constant."""
    f = PyPBF()
    f.add_higher_term(0, [], [constant])
    for ids, c in terms:
        energy.add_terms(f, [ids], c)
    return f


def coefficients(rng, size, scale):
    """Mixed-sign coefficients: "small" ones in -20 .. 20, or "int32" ones anywhere in int32
    with the extremes and their neighbours drawn often."""
    if scale == "small":
        return rng.integers(-20, 21, size)
    edges = np.array([I32[0], I32[0] + 1, I32[1], I32[1] - 1, -1, 0, 1])
    spread = rng.integers(I32[0], I32[1], size, endpoint=True)
    return np.where(rng.random(size) < 0.4, rng.choice(edges, size), spread)


def random_function(rng, n, count, max_degree, scale="small", orders=False, tables=0):
    """A PyPBF over ids 0 .. n-1 (n >= 1) with `count` terms of degree 1 .. max_degree made by
    add_terms, every id in at least one unary term, and `tables` random 2- to 4-variable energy
    tables made by add_cliques. With `orders`, the ids of higher terms come in any order and
    repeat, as add_terms allows."""
    f = PyPBF()
    energy.add_terms(f, np.arange(n)[:, None], coefficients(rng, n, scale))
    for _ in range(count):
        d = int(rng.integers(1, max_degree + 1))
        if orders and d >= 2 and rng.random() < 0.5:
            ids = rng.integers(0, n, d)  # unsorted, maybe repeated
        else:
            ids = np.sort(rng.choice(n, min(d, n), replace=False))
        energy.add_terms(f, ids[None, :], coefficients(rng, 1, scale))
    for _ in range(tables):
        k = int(rng.integers(2, min(4, n) + 1))
        ids = rng.choice(n, k, replace=False)
        energy.add_cliques(f, ids[None, :], coefficients(rng, 1 << k, scale)[None, :])
    return f


def window_ids(height, width):
    """The pixel ids of every 2 x 2 window of a height x width grid (pixel (r, c) is id
    r * width + c), one row per window: top left, top right, bottom left, bottom right."""
    top = (np.arange(height - 1)[:, None] * width + np.arange(width - 1)[None, :]).ravel()
    return np.stack([top, top + 1, top + width, top + width + 1], axis=1)


def grid_energy(rng, height, width, data=4, prior=3, table=None):
    """An image energy: a random data term per pixel (E0, E1 in 0 .. data) and a table per 2 x 2
    window: `table` (16 values) for every window, or else a random one per window with entries
    in 0 .. 4 * prior and 0 for the two uniform windows, a prior that favours flat regions
    without being submodular. Returns (f, unary, tables) with unary (n, 2) and tables
    (windows, 16), the energies as given to add_unaries and add_cliques."""
    n = height * width
    unary = rng.integers(0, data + 1, (n, 2))
    windows = window_ids(height, width)
    if table is None:
        tables = rng.integers(0, 4 * prior + 1, (len(windows), 16))
        tables[:, [0, 15]] = 0
    else:
        tables = np.broadcast_to(np.asarray(table), (len(windows), 16))
    f = PyPBF(n)
    energy.add_unaries(f, np.arange(n), unary[:, 0], unary[:, 1])
    energy.add_cliques(f, windows, tables)
    return f, unary, tables


def denoise():
    """examples/denoise.py, the demo's energy, loaded from the source tree (it is not part of the
    installed package)."""
    path = pathlib.Path(__file__).resolve().parents[2] / "examples" / "denoise.py"
    spec = importlib.util.spec_from_file_location("denoise", path)
    module = importlib.util.module_from_spec(spec)
    spec.loader.exec_module(module)
    return module
