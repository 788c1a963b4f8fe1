"""pbfred.energy: terms as arrays, from_terms, evaluation, and what every function refuses with
which message (the solvers' too; roof_duality's refusal of a higher term is test_roof_duality's,
from_dimod's and load's are test_energy_files'). That each bulk edit equals the loop of
single-term methods, for every dtype, layout and scalar row, is test_energy_fuzz's property."""

import re

import numpy as np
import pytest
from hypothesis import HealthCheck, given, settings, strategies as st

from pbfred import PyPBF, energy
from support import state

I32 = (-2**31, 2**31 - 1)
SETTINGS = settings(deadline=None, max_examples=300, suppress_health_check=list(HealthCheck))


def one_hot(d, c):
    return [0] * ((1 << d) - 1) + [c]


# --- Drawing functions ---

ids_ = st.integers(0, 7) | st.integers(0, 40)
amounts = st.sampled_from([0, 1, -1, 2, I32[0], I32[1], I32[1] - 1]) | st.integers(*I32)


@st.composite
def functions(draw):
    """A PyPBF with a few terms of degree 1 to 4, made by the methods."""
    f = PyPBF()
    for _ in range(draw(st.integers(0, 5))):
        n = draw(st.integers(0, 4))
        f.add_higher_term(n, draw(st.lists(ids_, min_size=n, max_size=n)),
                          draw(st.lists(amounts, min_size=1 << n, max_size=1 << n)))
    return f


def matrix(draw, n, k, values):
    return np.array(draw(st.lists(values, min_size=n * k, max_size=n * k)),
                    dtype=np.int64).reshape(n, k)


# --- Refusals: the error, its exact message, and nothing changed ---

F64 = np.array([1.5])
REFUSALS = [
    # wrong f: the binding's own type test
    (lambda f: energy.add_unaries(3, [0], 0, 0), TypeError,
     "Argument 'f' has incorrect type (expected pbfred.PyPBF, got int)"),
    (lambda f: energy.evaluate(None, [0]), TypeError,
     "Argument 'f' has incorrect type (expected pbfred.PyPBF, got NoneType)"),
    (lambda f: energy.terms("f"), TypeError,
     "Argument 'f' has incorrect type (expected pbfred.PyPBF, got str)"),
    # dtypes and items
    (lambda f: energy.add_unaries(f, F64, 0, 0), TypeError,
     "ids must hold integers, got dtype float64"),
    (lambda f: energy.add_unaries(f, [0], 0.5, 0), TypeError,
     "E0 must hold integers, got dtype float64"),
    (lambda f: energy.add_unaries(f, [0], 0, "1"), TypeError,
     "E1 must hold integers, got dtype <U1"),
    (lambda f: energy.add_terms(f, [[0, 1]], [None]), TypeError,
     "coefs[0] must be an integer, got NoneType"),
    (lambda f: energy.add_cliques(f, [[0]], [0, 2**31]), OverflowError,
     "vals[1] = 2147483648 does not fit int32"),
    (lambda f: energy.add_cliques(f, [[0], [1]], [[0, 1], [2, -2**40]]), OverflowError,
     "vals[1, 1] = -1099511627776 does not fit int32"),
    (lambda f: energy.add_terms(f, [[0, 1]], [2**70]), OverflowError,
     "coefs[0] = 1180591620717411303424 does not fit int32"),
    (lambda f: energy.add_unaries(f, np.array([1, 2**32], np.uint64), 0, 0), OverflowError,
     "ids[1] = 4294967296 does not fit int32"),
    # ids
    (lambda f: energy.add_unaries(f, [0, -1], 0, 0), ValueError, "ids[1] must be >= 0, got -1"),
    (lambda f: energy.add_pairs(f, [0], [-2], 0, 0, 0, 0), ValueError, "j[0] must be >= 0, got -2"),
    (lambda f: energy.add_cliques(f, [[0, 1], [2, -3]], [0, 0, 0, 1]), ValueError,
     "vars[1, 1] must be >= 0, got -3"),
    # shapes
    (lambda f: energy.add_unaries(f, 3, 0, 0), ValueError,
     "ids must have one dimension (rows,), got shape ()"),
    (lambda f: energy.add_unaries(f, [0, 1], [0, 1, 2], 0), ValueError,
     "E0 must be a scalar or have shape (2,) like the rows, got shape (3,)"),
    (lambda f: energy.add_pairs(f, [0, 1], [1], 0, 0, 0, 0), ValueError,
     "i and j must have as many rows, got 2, 1"),
    (lambda f: energy.add_cliques(f, [0, 1], [0, 0, 0, 1]), ValueError,
     "vars must have two dimensions (rows, columns), got shape (2,)"),
    (lambda f: energy.add_cliques(f, [[0, 1]], [[0, 0, 1]]), ValueError,
     "vals must have shape (1, 4), or (4,) for one table that serves every row, got shape (1, 3)"),
    (lambda f: energy.add_cliques(f, np.zeros((1, 31), int), [0]), ValueError,
     "cliquesize (the columns of vars) must be between 0 and 30, got 31"),
    # 2^40 values: refused before anything is allocated
    (lambda f: energy.add_cliques(f, np.zeros((1, 40), int), np.zeros(1, int)), ValueError,
     "cliquesize (the columns of vars) must be between 0 and 30, got 40"),
    (lambda f: energy.add_terms(f, np.zeros((2, 0), int), 1), ValueError,
     "ids must have at least one column (the degree of the terms)"),
    (lambda f: energy.add_terms(f, [[0, 1]], [1, 2]), ValueError,
     "coefs must be a scalar or have shape (1,) like the rows, got shape (2,)"),
    # evaluation
    (lambda f: energy.evaluate(f, [0, 2, 0]), ValueError, "x[1] must be 0 or 1, got 2"),
    (lambda f: energy.evaluate(f, [[0, 0, 0], [0, -1, 0]]), ValueError,
     "x[1, 1] must be 0 or 1, got -1"),
    (lambda f: energy.evaluate(f, [0.0, 1.0, 0.0]), TypeError,
     "x must hold 0 or 1 as bools or integers, got dtype float64"),
    (lambda f: energy.evaluate(f, [1, 0]), ValueError,
     "x covers 2 variables, f needs max_id() + 1 = 3"),
    (lambda f: energy.evaluate(f, np.zeros((1, 1, 3), int)), ValueError,
     "x must have shape (m,) or (k, m), got shape (1, 1, 3)"),
    # from_terms
    (lambda f: energy.from_terms(0, [(1, 2)]), TypeError,
     "terms must be a dict {degree: (ids, coefs)}, got list"),
    (lambda f: energy.from_terms(0, {0: ([], [])}), ValueError,
     "the degrees (keys of terms) must be >= 1, got 0"),
    (lambda f: energy.from_terms(0, {"2": ([], [])}), TypeError,
     "the degrees (keys of terms) must be ints, got '2'"),
    (lambda f: energy.from_terms(0, {2: [[0, 1]]}), TypeError,
     "terms[2] must be a pair (ids, coefs)"),
    (lambda f: energy.from_terms(0, {2: ([[0, 1, 2]], [1])}), ValueError,
     "terms[2][0] must have shape (n, 2), got shape (1, 3)"),
    (lambda f: energy.from_terms(0, {2: ([[0, 1]], [1, 2])}), ValueError,
     "terms[2][1] must have shape (1,) like its ids, got shape (2,)"),
    (lambda f: energy.from_terms(0, {2: ([[0, -1]], [1])}), ValueError,
     "terms[2][0][0, 1] must be >= 0, got -1"),
    (lambda f: energy.from_terms(2**31, {}), OverflowError,
     "constant = 2147483648 does not fit int32"),
    (lambda f: energy.from_terms([1], {}), ValueError, "constant must be a scalar, got shape (1,)"),
    # the solvers
    (lambda f: energy.roof_duality(None), TypeError,
     "Argument 'q' has incorrect type (expected pbfred.PyPBF, got NoneType)"),
    (lambda f: energy.roof_duality(3), TypeError,
     "Argument 'q' has incorrect type (expected pbfred.PyPBF, got int)"),
    (lambda f: energy.roof_duality("q"), TypeError,
     "Argument 'q' has incorrect type (expected pbfred.PyPBF, got str)"),
    (lambda f: energy.roof_duality(energy.terms(f)), TypeError,
     "Argument 'q' has incorrect type (expected pbfred.PyPBF, got dict)"),
    (lambda f: energy.quadratize(None), TypeError,
     "Argument 'f' has incorrect type (expected pbfred.PyPBF, got NoneType)"),
    (lambda f: energy.quadratize(f, "best"), ValueError,
     "method must be one of 'termwise', 'fewest', 'grouped', 'auto', got 'best'"),
    (lambda f: energy.quadratize(f, "termwise", 2**31), OverflowError,
     "newvar = 2147483648 does not fit int32"),
    (lambda f: energy.quadratize(f, "termwise", 1.5), TypeError,
     "newvar must hold integers, got dtype float64"),
    # Both cubics put their coefficient on the pair (0, 1): 2 (2**31 - 1) does not fit.
    (lambda f: energy.quadratize(energy.from_terms(0, {3: ([[0, 1, 2], [0, 1, 3]], [I32[1]] * 2)})),
     OverflowError, "the term +2147483647x_{1}x_{2}x_{3} of f (degree 3, index 0) has no "
     "quadratic form here whose coefficients and auxiliary ids fit int32"),
    (lambda f: energy.minimize(3), TypeError,
     "Argument 'f' has incorrect type (expected pbfred.PyPBF, got int)"),
    (lambda f: energy.minimize(None), TypeError,
     "Argument 'f' has incorrect type (expected pbfred.PyPBF, got NoneType)"),
    (lambda f: energy.minimize(f, method="best"), ValueError,
     "method must be one of 'termwise', 'fewest', 'grouped', 'auto', got 'best'"),
    (lambda f: energy.minimize(f, method=None), ValueError,
     "method must be one of 'termwise', 'fewest', 'grouped', 'auto', got None"),
    (lambda f: energy.minimize(f, progress=1), TypeError,
     "progress must be a bool or a callable, got int"),
    (lambda f: energy.minimize(f, progress="yes"), TypeError,
     "progress must be a bool or a callable, got str"),
    (lambda f: energy.minimize(f, True), TypeError,
     "minimize() takes 1 positional argument but 2 were given"),
]


@pytest.mark.parametrize("call, error, message", REFUSALS)
def test_refusals_change_nothing(call, error, message):
    f = PyPBF()
    f.add_pairwise_term(0, 2, 1, 2, 3, 4)
    before = state(f)
    with pytest.raises(error) as exc:
        call(f)
    assert str(exc.value) == message
    assert state(f) == before


# --- Terms as arrays ---

def test_terms_are_owned_copies_in_stored_order():
    f = PyPBF()
    f.add_pairwise_term(3, 1, 0, 0, 0, 0)
    f.add_higher_term(4, [0, 1, 2, 3], one_hot(4, -7))
    got = energy.terms(f)
    assert list(got) == [1, 2, 4]
    ids, coefs = got[2]
    assert ids.dtype == coefs.dtype == np.int32 and ids.shape == (1, 2)
    assert ids.tolist() == [[3, 1]] and coefs.tolist() == [0]  # zero coefficients included
    assert got[1][0].tolist() == [[3], [1]] and got[4][1].tolist() == [-7]
    ids[0, 0] = 99
    f.add_pairwise_term(3, 1, 0, 0, 0, 5)
    again = energy.terms(f)
    assert again[2][0].tolist() == [[3, 1]] and again[2][1].tolist() == [5]
    assert got[2][1].tolist() == [0]  # the earlier copy did not change
    assert ids.flags.owndata or ids.base is not None  # numpy owns or refers to its own copy


@SETTINGS
@given(functions(), st.sampled_from(["none", "shrink", "reduce_higher", "to_quadratic"]))
def test_from_terms_gives_an_equal_function(f, transform):
    if transform == "to_quadratic":
        q = PyPBF()
        f.to_quadratic(q, 0)
        f = q
    elif transform != "none":
        getattr(f, transform)()
    g = energy.from_terms(f.constant(), energy.terms(f))
    assert state(g) == state(f)
    assert type(g) is PyPBF


def test_from_terms_keeps_empty_tables_and_merges_repeated_rows():
    g = energy.from_terms(-3, {5: ([], []), 2: ([[0, 1], [1, 0], [0, 1]], [1, 2, 3])})
    assert state(g) == (" +4x_{1}x_{2} +2x_{2}x_{1} -3", 5, 1, -3)
    f = PyPBF()
    f.add_higher_term(6, range(6), one_hot(6, 1))
    f.add_higher_term(6, range(6), one_hot(6, -1))
    f.shrink()  # the table of degree 6 stays, empty
    assert energy.from_terms(0, energy.terms(f)).max_d() == 6


# --- Evaluation ---

def reference(f, x):
    """The sum over the text's terms, as Python ints."""
    value = 0
    for coef, names in re.findall(r" ([+-]?\d+)((?:x_\{\d+\})*)", f.get_string()):
        if all(x[int(v) - 1] for v in re.findall(r"\d+", names)):
            value += int(coef)
    return value


@SETTINGS
@given(functions(), st.data())
def test_evaluate_sums_exactly(f, data):
    m = f.max_id() + 1 + data.draw(st.integers(0, 2))
    k = data.draw(st.integers(0, 70))
    x = matrix(data.draw, k, m, st.integers(0, 1)).astype(np.uint8)
    dtype = data.draw(st.sampled_from([np.uint8, np.int8, bool, np.int64, np.uint64, object]))
    got = energy.evaluate(f, x.astype(dtype))
    assert got.dtype == np.int64 and got.shape == (k,)
    assert got.tolist() == [reference(f, row) for row in x]
    if k:
        one = energy.evaluate(f, x[0].astype(dtype))
        assert type(one) is int and one == got[0]


# --- The compiled half, called directly ---

I = np.int32
COMPILED_REFUSALS = [
    lambda f, m: m.add_unaries(f, np.array(1, I), np.zeros(1, I), np.zeros(1, I)),
    lambda f, m: m.add_unaries(f, np.zeros(2, I), np.zeros(3, I), np.zeros(2, I)),
    lambda f, m: m.add_unaries(f, np.array([0, -1], I), np.zeros(2, I), np.zeros(2, I)),
    lambda f, m: m.add_pairs(f, *[np.zeros(2, I)] * 5, np.zeros((2, 1), I)),
    lambda f, m: m.add_cliques(f, np.zeros((1, 31), I), np.zeros(1, I)),
    lambda f, m: m.add_cliques(f, np.zeros((2, 2), I), np.zeros((1, 4), I)),
    lambda f, m: m.add_cliques(f, np.array([[0, -5]], I), np.zeros(4, I)),
    lambda f, m: m.add_terms(f, np.zeros((2, 0), I), np.zeros(2, I)),
    lambda f, m: m.add_terms(f, np.zeros((2, 2), I), np.zeros(1, I)),
    lambda f, m: m.evaluate(f, np.zeros(5, np.uint8)),
    lambda f, m: m.evaluate(f, np.zeros((1, 2), np.uint8)),
    lambda f, m: m.from_terms(0, [(2, np.zeros((1, 3), I), np.zeros(1, I))]),
    lambda f, m: m.from_terms(0, [(1, np.zeros((0, 1), I), np.zeros(0, I))] * 2),
    lambda f, m: m.from_terms(0, [(0, np.zeros((0, 0), I), np.zeros(0, I))]),
]


@pytest.mark.parametrize("call", COMPILED_REFUSALS)
def test_the_compiled_half_rechecks_what_memory_safety_needs(call):
    from pbfred import _energy

    f = PyPBF()
    f.add_pairwise_term(0, 2, 1, 2, 3, 4)
    before = state(f)
    with pytest.raises(ValueError):
        call(f, _energy)
    with pytest.raises(TypeError):  # another dtype is refused, never converted
        _energy.add_unaries(f, np.zeros(1, np.int64), np.zeros(1, I), np.zeros(1, I))
    assert state(f) == before
