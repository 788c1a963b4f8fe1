"""pbfred.energy.roof_duality against two oracles: the LP relaxation of the standard linearisation
(scipy's linprog), whose value the roof-dual bound is, and exhaustive enumeration for weak
persistency, on random functions in every form of input it must read. Then ids in no term, and
what it refuses. Submodular functions solved whole and the degenerate inputs one by one are the
core suite's tests."""

import concurrent.futures
import math

import numpy as np
import pytest
from scipy.optimize import linprog

from pbfred import PyPBF, energy
from brute import best_completion, grid_energy, polynomial, values


def lp_relaxation(q):
    """The optimum of min c0 + sum a_i x_i + sum b_ij y_ij subject to y_ij <= x_i, y_ij <= x_j,
    y_ij >= x_i + x_j - 1 and 0 <= x, y <= 1, read from q's stored terms: (i, j) and (j, i)
    are one product, (i, i) is x_i, terms of degree >= 3 must have coefficient 0."""
    n = q.max_id() + 1
    linear = np.zeros(n)
    products = {}
    for d, (ids, coefs) in energy.terms(q).items():
        for row, c in zip(ids.tolist(), coefs.tolist()):
            if d == 1 or (d == 2 and row[0] == row[1]):
                linear[row[0]] += c
            elif d == 2:
                key = (min(row), max(row))
                products[key] = products.get(key, 0) + c
            else:
                assert c == 0
    pairs = [(key, c) for key, c in products.items() if c]
    cost = np.concatenate([linear, [c for _, c in pairs]])
    rows, bounds = [], []
    for k, ((i, j), _) in enumerate(pairs):
        for sides, bound in (({n + k: 1, i: -1}, 0), ({n + k: 1, j: -1}, 0),
                             ({i: 1, j: 1, n + k: -1}, 1)):
            row = np.zeros(len(cost))
            for v, a in sides.items():
                row[v] = a
            rows.append(row)
            bounds.append(bound)
    result = linprog(cost, A_ub=np.array(rows) if rows else None, b_ub=bounds or None,
                     bounds=(0, 1), method="highs")
    assert result.status == 0, result.message
    return q.constant() + result.fun


def random_quadratic(rng, n, kind):
    """A quadratic PyPBF over ids 0 .. n-1 in every form the roof dual must read: unary terms,
    products stored as (i, j) and as (j, i), squares (i, i), zero coefficients and an empty
    cubic term. "mixed": coefficients of both signs, which roof duality mostly solves whole;
    "frustrated": positive products against unaries of about half their weight, where the LP
    optimum is fractional and variables stay unlabelled."""
    q = PyPBF()
    q.add_higher_term(0, [], [int(rng.integers(-50, 51))])
    count = int(rng.integers(n, 3 * n + 1))
    i, j = rng.integers(0, n, count), rng.integers(0, n, count)
    coefs = rng.integers(-30, 31, count)
    if kind == "frustrated":
        coefs = np.abs(coefs)
    coefs[rng.random(count) < 0.1] = 0
    unary = rng.integers(-10, 11, n)
    if kind == "frustrated":
        weight = np.zeros(n, dtype=np.int64)
        np.add.at(weight, i, coefs)
        np.add.at(weight, j, coefs)
        unary = -weight // 2 + rng.integers(-3, 4, n)
    energy.add_terms(q, np.arange(n)[:, None], unary)
    energy.add_terms(q, np.stack([i, j], axis=1), coefs)
    if n >= 3:
        energy.add_terms(q, [[0, 1, 2]], 0)
    return q


RANDOM = [(kind, seed) for kind, seeds in (("mixed", 20), ("frustrated", 40))
          for seed in range(seeds)]


def make(kind, seed):
    rng = np.random.default_rng([seed, 13])
    return random_quadratic(rng, 1 + seed % 10, kind)


@pytest.mark.parametrize("kind, seed", RANDOM)
def test_bound_is_the_lp_relaxation_rounded_up_and_labels_are_weakly_persistent(kind, seed):
    q = make(kind, seed)
    text = q.get_string()
    labels, bound = energy.roof_duality(q)
    assert q.get_string() == text
    assert labels.dtype == np.int8 and labels.shape == (q.max_id() + 1,)
    assert set(labels.tolist()) <= {-1, 0, 1}
    assert type(bound) is int
    # The LP's optimum is half-integral; a tolerance keeps float noise from rounding up.
    assert bound == math.ceil(lp_relaxation(q) - 1e-6)
    all_values = values(q)
    minimum = int(all_values.min())
    assert bound <= minimum
    assert best_completion(all_values, labels) == minimum


def test_ids_in_no_term_are_labelled_0():
    # The solve gets a copy of q's tables only: its labels must still cover every id up to
    # q.max_id(). Ids 4 and 9 are only in a zero term, 0, 2, 3, 5, 7 and 8 in none.
    labels, bound = energy.roof_duality(polynomial(([1, 6], -3), ([6], 2), ([4, 9], 0)))
    assert labels.tolist() == [0, 1, 0, 0, 0, 0, 1, 0, 0, 0]
    assert bound == -1
    assert energy.roof_duality(PyPBF())[0].tolist() == []


@pytest.mark.parametrize("terms, message", [
    ([([0, 1, 2], 5)], "the term +5x_{1}x_{2}x_{3} of degree 3"),
    ([([0, 1, 2], 0), ([4, 2, 3], -1)], "the term -1x_{5}x_{3}x_{4} of degree 3"),
    ([([0, 1, 2, 3], 2), ([1, 1, 2], 9)], "the term +9x_{2}x_{2}x_{3} of degree 3"),
    ([([0, 1, 2, 3, 4], -8), ([0, 1], 4)], "the term -8x_{1}x_{2}x_{3}x_{4}x_{5} of degree 5"),
])
def test_a_higher_term_is_refused_by_name(terms, message):
    q = polynomial(*terms)
    text = q.get_string()
    with pytest.raises(ValueError) as exc:
        energy.roof_duality(q)
    assert str(exc.value) == ("roof_duality needs terms of degree <= 2 (or with coefficient 0), "
                              "but q has " + message)
    assert q.get_string() == text


def test_threads_get_the_results_of_one_at_a_time():
    # The solve releases the GIL: several run at once, each on its own copy of its q.
    qs = [energy.quadratize(grid_energy(np.random.default_rng(seed), 12, 12)[0], "grouped")
          for seed in range(6)]
    alone = [energy.roof_duality(q) for q in qs]
    with concurrent.futures.ThreadPoolExecutor(max_workers=3) as pool:
        for _ in range(5):
            together = list(pool.map(energy.roof_duality, qs))
            assert [(labels.tolist(), bound) for labels, bound in together] == [
                (labels.tolist(), bound) for labels, bound in alone]
