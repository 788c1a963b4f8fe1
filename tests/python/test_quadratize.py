"""pbfred.energy.quadratize through the binding: for every method and newvar, the minimum over the
auxiliaries equals f at every assignment, or the OverflowError names the term of f that has no
form; and what the result may contain. What quadratize refuses is test_energy's refusal table;
how each rule writes its terms, "termwise" against to_quadratic and the choice of "auto" are the
core suite's tests, on the same code below the binding."""

import re

import numpy as np
import pytest

from pbfred import PyPBF, energy
from brute import min_over_auxiliaries, polynomial, random_function, values

UNWRITABLE = re.compile(r"the term (\S+) of f \(degree (\d+), index (\d+)\) has no quadratic "
                        r"form here whose coefficients and auxiliary ids fit int32")


def term_text(coef, ids):
    """A term as the text form writes it: "+5x_{1}x_{2}", "-3x_{4}", "0x_{1}"."""
    sign = "+" if coef > 0 else ""
    return f"{sign}{coef}" + "".join(f"x_{{{v + 1}}}" for v in ids)


def random_instance(seed, scale):
    """3 to 12 variables: unary and pairwise terms (also (j, i) and (i, i)), a few terms of degree
    3 to 8 whose ids may come unsorted and repeated, and 3- or 4-variable energy tables, whose
    terms form the groups the fewest rule looks for. Fewer higher terms on more variables, and
    fewer near the int32 limits, where a term's form needs more auxiliaries, so that variables
    and auxiliaries together stay about 20."""
    rng = np.random.default_rng([seed, 17])
    small = scale == "small"
    n = 3 + seed % (10 if small else 6)
    f = random_function(rng, n, count=n if small else n // 2, max_degree=2, scale=scale,
                        orders=True, tables=int(rng.integers(0, 2)) if small else 0)
    for _ in range(max(1, (14 - n) // 2) if small else 1):
        d = int(rng.integers(3, 9))
        if seed % 3 == 0:
            ids = rng.integers(0, n, d)  # any order, repeats allowed
        else:
            ids = np.sort(rng.choice(n, min(d, n), replace=False))
        size = int(rng.integers(1, 40)) if small else int(rng.integers(2**28, 2**31))
        energy.add_terms(f, ids[None, :], int(rng.choice([-1, 1])) * size)
    return f


def newvar_for(seed, n):
    """Below, at and beyond the first free id."""
    return (0, n, n + 3, -5)[seed % 4]


CASES = [(seed, scale) for scale in ("small", "int32") for seed in range(12)]


@pytest.mark.parametrize("method", energy.METHODS)
@pytest.mark.parametrize("seed, scale", CASES)
def test_the_minimum_over_auxiliaries_is_f(method, seed, scale):
    f = random_instance(seed, scale)
    text = f.get_string()
    n = f.max_id() + 1
    newvar = newvar_for(seed, n)
    first = max(newvar, n)
    try:
        q = energy.quadratize(f, method, newvar)
    except OverflowError as e:
        assert scale == "int32", str(e)
        match = UNWRITABLE.fullmatch(str(e))
        assert match, str(e)
        ids, coefs = energy.terms(f)[int(match[2])]
        k = int(match[3])
        assert match[1] == term_text(int(coefs[k]), ids[k].tolist())
        assert f.get_string() == text
        return
    assert f.get_string() == text
    tables = energy.terms(q)
    assert all(len(coefs) == 0 for d, (_, coefs) in tables.items() if d > 2)
    used = np.concatenate([ids.ravel() for ids, _ in tables.values()] + [np.zeros(0, int)])
    assert ((used < n) | (used >= first)).all()
    aux = max(0, q.max_id() + 1 - first)
    assert n + aux <= 22, "the instance is too large to enumerate quickly"
    assert min_over_auxiliaries(q, n, first).tolist() == values(f).tolist()


@pytest.mark.parametrize("method", energy.METHODS)
def test_functions_without_higher_terms_keep_their_values(method):
    for f in (PyPBF(), polynomial(constant=-4),
              polynomial(([3], 2), ([1, 3], -1), ([3, 1], 5), ([2, 2], 7), ([0, 1, 2], 0))):
        q = energy.quadratize(f, method)
        assert q.constant() == f.constant()
        n = f.max_id() + 1
        if n:
            assert min_over_auxiliaries(q, n, n).tolist() == values(f).tolist()
        if method != "termwise":  # to_quadratic gives the zero cubic its auxiliary too
            assert q.max_id() <= f.max_id()
