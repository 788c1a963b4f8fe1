"""Seeded workload generators: the Python twin of workloads.h / workloads.cpp.

Every random number is splitmix64 output and every item draws a fixed number of them, so the k-th
draw of a workload is mix(seed + (k + 1) * golden) and whole blocks are computed at once with
numpy. A bounded draw is ``draw % n``. workload_summary (C++) prints checksums of small
instances that test_workloads.py compares with these generators.

A workload is a list of edits applied in a fixed order: unary energy tables, then clique tables,
then single monomials (added through ``add_higher_term`` as a table that is zero except at the
all-ones entry, which creates exactly the term that the C++ side adds with ``AddTerm``).
"""

from __future__ import annotations

import dataclasses

import numpy as np

MASK64 = (1 << 64) - 1
GOLDEN = 0x9E3779B97F4A7C15

GRID_SEED = 0x4752494400000000
PUBO_SEED = 0x5055424F00000000
HUB_SEED = 0x4855420000000000
CLIQUE_SEED = 0x434C495100000000


def draws(seed: int, start: int, count: int) -> np.ndarray:
    """Draws start ... start+count-1 of the splitmix64 stream that starts at `seed`."""
    k = np.arange(start + 1, start + count + 1, dtype=np.uint64)
    with np.errstate(over="ignore"):
        z = np.uint64(seed & MASK64) + k * np.uint64(GOLDEN)
        z = (z ^ (z >> np.uint64(30))) * np.uint64(0xBF58476D1CE4E5B9)
        z = (z ^ (z >> np.uint64(27))) * np.uint64(0x94D049BB133111EB)
    return z ^ (z >> np.uint64(31))


def _below(x: np.ndarray, n) -> np.ndarray:
    return (x % np.asarray(n, dtype=np.uint64)).astype(np.int64)


def _nonzero_coef(x: np.ndarray) -> np.ndarray:
    c = _below(x, 200)
    return np.where(c < 100, c - 100, c - 99)


@dataclasses.dataclass
class Workload:
    name: str
    unary: np.ndarray = dataclasses.field(default_factory=lambda: np.zeros((0, 3), np.int32))
    clique_size: np.ndarray = dataclasses.field(default_factory=lambda: np.zeros(0, np.int32))
    clique_ids: np.ndarray = dataclasses.field(default_factory=lambda: np.zeros(0, np.int32))
    clique_vals: np.ndarray = dataclasses.field(default_factory=lambda: np.zeros(0, np.int32))
    mono_degree: np.ndarray = dataclasses.field(default_factory=lambda: np.zeros(0, np.int32))
    mono_ids: np.ndarray = dataclasses.field(default_factory=lambda: np.zeros(0, np.int32))
    mono_coef: np.ndarray = dataclasses.field(default_factory=lambda: np.zeros(0, np.int32))

    def checksum(self) -> int:
        """FNV-1a 64 over every number, as workloads.cpp computes it."""
        h = _FNV_OFFSET
        for values in (self.unary.reshape(-1), self.clique_size, self.clique_ids,
                       self.clique_vals, self.mono_degree, self.mono_ids, self.mono_coef):
            h = _fnv(h, len(values).to_bytes(4, "little"))
            h = _fnv(h, np.asarray(values, dtype="<i4").tobytes())
        return h

    def calls(self):
        """The edits as (unary triples, clique (size, ids, vals), monomial (size, ids, vals)) lists
        of plain Python values, ready to be passed to the PyPBF methods."""
        unary = [tuple(row) for row in self.unary.tolist()]
        cliques = []
        ids = self.clique_ids.tolist()
        vals = self.clique_vals.tolist()
        i = v = 0
        for n in self.clique_size.tolist():
            cliques.append((n, ids[i:i + n], vals[v:v + (1 << n)]))
            i += n
            v += 1 << n
        monomials = []
        table = {}  # one shared value list per (degree, coefficient)
        ids = self.mono_ids.tolist()
        i = 0
        for d, c in zip(self.mono_degree.tolist(), self.mono_coef.tolist()):
            vals = table.get((d, c))
            if vals is None:
                vals = table[(d, c)] = [0] * ((1 << d) - 1) + [c]
            monomials.append((d, ids[i:i + d], vals))
            i += d
        return unary, cliques, monomials

    def terms(self) -> int:
        return len(self.unary) + len(self.clique_size) + len(self.mono_degree)


_FNV_OFFSET = 0xCBF29CE484222325
_FNV_PRIME = 0x100000001B3


def _fnv(h: int, data: bytes) -> int:
    for b in data:
        h = ((h ^ b) * _FNV_PRIME) & MASK64
    return h


def text_checksum(text: str) -> int:
    return _fnv(_FNV_OFFSET, text.encode("ascii"))


def grid(width: int) -> Workload:
    """A W x W binary image: noisy observation of 8 overlapping discs as unary tables, and one
    degree-4 clique per 2 x 2 window with a truncated, noisy disagreement count (0, 6, 9)."""
    seed = GRID_SEED + width
    d = draws(seed, 0, 24)
    cx, cy = _below(d[0::3], width), _below(d[1::3], width)
    radius = width // 16 + _below(d[2::3], width // 4 + 1)
    rows, cols = np.divmod(np.arange(width * width, dtype=np.int64), width)
    truth = np.zeros(width * width, dtype=np.int64)
    for k in range(8):
        truth ^= ((rows - cy[k]) ** 2 + (cols - cx[k]) ** 2 <= radius[k] ** 2).astype(np.int64)
    p = draws(seed, 24, 3 * width * width).reshape(-1, 3)
    observed = truth ^ (_below(p[:, 0], 100) < 15)
    e0 = np.where(observed == 1, 10, 0) + _below(p[:, 1], 4)
    e1 = np.where(observed == 0, 10, 0) + _below(p[:, 2], 4)
    unary = np.stack([rows * width + cols, e0, e1], axis=1).astype(np.int32)

    ones = np.array([bin(s).count("1") for s in range(16)])
    pattern = np.minimum(6 * np.minimum(ones, 4 - ones), 9)
    windows = max(width - 1, 0) ** 2
    r, c = np.divmod(np.arange(windows, dtype=np.int64), max(width - 1, 1))
    top = r * width + c
    ids = np.stack([top, top + 1, top + width, top + width + 1], axis=1)
    vals = pattern + _below(draws(seed, 24 + 3 * width * width, 16 * windows).reshape(-1, 16), 3)
    return Workload(
        name=f"grid{width}", unary=unary,
        clique_size=np.full(windows, 4, dtype=np.int32),
        clique_ids=ids.reshape(-1).astype(np.int32),
        clique_vals=vals.reshape(-1).astype(np.int32))


def pubo(nvars: int, monomials: int) -> Workload:
    """V variables, M monomials of degree 3 ... 6 (Floyd's sampling of distinct ids, ascending),
    non-zero coefficients in -100 ... 100; 8 draws per monomial."""
    seed = PUBO_SEED + nvars * 1000003 + monomials
    d = draws(seed, 0, 8 * monomials).reshape(monomials, 8)
    degree = 3 + _below(d[:, 0], 4)
    chosen = np.full((monomials, 6), np.iinfo(np.int64).max, dtype=np.int64)
    for q in range(6):
        active = q < degree
        j = nvars - degree + q
        t = _below(d[:, 1 + q], np.where(active, j + 1, 1))
        taken = (chosen[:, :q] == t[:, None]).any(axis=1)
        chosen[:, q] = np.where(active, np.where(taken, j, t), chosen[:, q])
    chosen.sort(axis=1)
    ids = chosen[np.arange(6)[None, :] < degree[:, None]]
    return Workload(
        name=f"pubo{nvars}x{monomials}",
        mono_degree=degree.astype(np.int32), mono_ids=ids.astype(np.int32),
        mono_coef=_nonzero_coef(d[:, 7]).astype(np.int32))


def hub(monomials: int) -> Workload:
    """M cubic monomials (0, a, b), a < b in 1 ... M; 3 draws per monomial."""
    seed = HUB_SEED + monomials
    d = draws(seed, 0, 3 * monomials).reshape(monomials, 3)
    a = 1 + _below(d[:, 0], monomials)
    b = 1 + _below(d[:, 1], monomials - 1)
    b = np.where(b >= a, b + 1, b)
    ids = np.stack([np.zeros_like(a), np.minimum(a, b), np.maximum(a, b)], axis=1)
    return Workload(
        name=f"hub{monomials}",
        mono_degree=np.full(monomials, 3, dtype=np.int32), mono_ids=ids.reshape(-1).astype(np.int32),
        mono_coef=_nonzero_coef(d[:, 2]).astype(np.int32))


def clique(n: int) -> Workload:
    """One clique table over variables 0 ... n-1, values in -100 ... 100; one draw per value."""
    vals = _below(draws(CLIQUE_SEED + n, 0, 1 << n), 201) - 100
    return Workload(
        name=f"clique{n}", clique_size=np.array([n], dtype=np.int32),
        clique_ids=np.arange(n, dtype=np.int32), clique_vals=vals.astype(np.int32))


def from_monomials(name: str, lines) -> Workload:
    """A workload from lines `coef id1 id2 ...` (ids ascending; a line with the coefficient alone
    is a constant, added as a clique of size 0). Blank lines and lines starting with # are
    skipped."""
    degree, ids, coefs, constant = [], [], [], 0
    for line in lines:
        fields = line.split()
        if not fields or fields[0].startswith("#"):
            continue
        c, *term = (int(x) for x in fields)
        if not term:
            constant += c
            continue
        degree.append(len(term))
        ids.extend(term)
        coefs.append(c)
    w = Workload(name=name, mono_degree=np.array(degree, dtype=np.int32),
                 mono_ids=np.array(ids, dtype=np.int32), mono_coef=np.array(coefs, dtype=np.int32))
    if constant:
        w.clique_size = np.array([0], dtype=np.int32)
        w.clique_vals = np.array([constant], dtype=np.int32)
    return w


def apply(f, calls) -> None:
    """Applies the edits of Workload.calls() to the PyPBF f through its methods."""
    unary, cliques, monomials = calls
    add_unary, add_higher = f.add_unary_term, f.add_higher_term
    for i, e0, e1 in unary:
        add_unary(i, e0, e1)
    for n, ids, vals in cliques:
        add_higher(n, ids, vals)
    for n, ids, vals in monomials:
        add_higher(n, ids, vals)


def build(w: Workload, pbfred_module, calls=None):
    """A new PyPBF with the workload's edits applied through the Python methods."""
    f = pbfred_module.PyPBF()
    apply(f, calls if calls is not None else w.calls())
    return f


KINDS = {"grid": grid, "pubo": pubo, "hub": hub, "clique": clique}
