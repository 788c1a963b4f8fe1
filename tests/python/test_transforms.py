"""reduce_higher, reduce_higher_approx and to_quadratic through the module."""

import itertools
import re

import pytest
from hypothesis import given, settings, strategies as st

from pbfred import PyPBF
from support import entries

TERM = re.compile(r" ([+-]?\d+)((?:x_\{\d+\})*)")


def parse(p):
    """(coefficient, zero-based ids) for every term of p's text; the constant has no ids."""
    return [(int(c), [int(v) - 1 for v in re.findall(r"\d+", names)])
            for c, names in TERM.findall(p.get_string())]


def value(terms, x):
    return sum(c for c, ids in terms if all(x[v] for v in ids))


def table(n, coef):
    """The value table of coef * (product of n variables)."""
    return [0] * (2 ** n - 1) + [coef]


def monomials(p, terms):
    for coef, ids in terms:
        p.add_higher_term(len(ids), ids, table(len(ids), coef))
    return p


@pytest.mark.parametrize("method, terms, text", [
    ("reduce_higher", [(-5, [0, 1, 2])], " +5x_{3} -5x_{2}x_{3} -5x_{1}x_{3} +0"),
    ("reduce_higher", [(5, [0, 1, 2])], " +5x_{1}x_{2}x_{3} +0"),
    ("reduce_higher", [(5, [0, 1, 2]), (10, [0])], " +5x_{1} +5x_{1}x_{3} +5x_{1}x_{2} +0"),
    ("reduce_higher_approx", [(6, [0, 1, 2])],
     " -6x_{3} -6x_{2} -6x_{1} +6x_{2}x_{3} +6x_{1}x_{3} +6x_{1}x_{2} +6"),
    ("reduce_higher_approx", [(6, [0, 1, 2]), (10, [0])], " +10x_{1} +6x_{1}x_{3} +0"),
])
def test_reductions_rewrite_worked_examples(method, terms, text):
    p = monomials(PyPBF(), terms)
    assert getattr(p, method)() is None
    assert p.get_string() == text
    assert p.max_d() == 3  # the emptied table stays


def test_to_quadratic_worked_example():
    p, q = monomials(PyPBF(), [(5, [1, 2, 3])]), PyPBF()
    assert p.to_quadratic(q, 10) is None
    assert q.get_string() == (" +5x_{11} -5x_{2}x_{11} -5x_{3}x_{11} -5x_{4}x_{11}"
                              " +5x_{2}x_{3} +5x_{2}x_{4} +5x_{3}x_{4} +0")
    assert p.get_string() == " +5x_{2}x_{3}x_{4} +0"  # the source is not changed


def test_to_quadratic_accumulates_into_target():
    p = monomials(PyPBF(), [(-4, [0, 1, 2, 3])])
    p.add_unary_term(0, 7, 7)
    q = PyPBF()
    q.add_unary_term(9, 0, 1)
    p.to_quadratic(q, 0)
    p.to_quadratic(q, 0)
    assert q.constant() == 14 and q.max_id() == 9
    assert q.get_string().startswith(" +1x_{10} +24x_{5}")


def test_to_quadratic_into_itself_adds_its_quadratic_form():
    p = monomials(PyPBF(), [(3, [0, 1, 2]), (2, [0, 1])])
    expected = p.copy()
    p.copy().to_quadratic(expected, 0)
    p.to_quadratic(p, 0)
    assert p.get_string() == expected.get_string()


@pytest.mark.parametrize("call, message, traced", [
    (lambda p: p.reduce_higher(1), "reduce_higher() takes exactly 0 positional arguments (1 given)",
     False),
    (lambda p: p.reduce_higher_approx(1),
     "reduce_higher_approx() takes exactly 0 positional arguments (1 given)", False),
    (lambda p: p.reduce_higher(x=1), "reduce_higher() got an unexpected keyword argument 'x'",
     False),
    (lambda p: p.to_quadratic(PyPBF()),
     "to_quadratic() takes exactly 2 positional arguments (1 given)", True),
    (lambda p: p.to_quadratic(5, "5"), "an integer is required", True),
    (lambda p: p.to_quadratic(5, 0),
     "Argument 'qpbf' has incorrect type (expected pbfred.PyPBF, got int)", False),
    (lambda p: p.to_quadratic(None, 0),
     "Argument 'qpbf' has incorrect type (expected pbfred.PyPBF, got NoneType)", False),
    (lambda p: p.to_quadratic(newvar=0, qpbf=[]),
     "Argument 'qpbf' has incorrect type (expected pbfred.PyPBF, got list)", False),
])
def test_transform_argument_errors(call, message, traced):
    p = monomials(PyPBF(), [(-5, [0, 1, 2])])
    before = p.get_string()
    with pytest.raises(TypeError) as raised:
        call(p)
    assert str(raised.value) == message
    assert entries(raised) == (["pbfred.PyPBF.to_quadratic"] if traced else [])
    assert p.get_string() == before


def test_to_quadratic_accepts_subclass_target_and_keywords():
    class Sub(PyPBF):
        pass

    p, q = monomials(PyPBF(), [(-1, [0, 1, 2])]), Sub()
    p.to_quadratic(newvar=7, qpbf=q)
    assert q.max_id() == 7


# Random functions: up to 6 variables, terms of degree 1 to 5 with ascending ids.
functions = st.lists(
    st.tuples(st.integers(-20, 20), st.sets(st.integers(0, 5), min_size=1, max_size=5)),
    max_size=8,
).map(lambda ts: [(c, sorted(ids)) for c, ids in ts])

ASSIGNMENTS = list(itertools.product((0, 1), repeat=6))


@settings(max_examples=60, deadline=None)
@given(functions)
def test_reduce_higher_keeps_minimum_and_minimisers(terms):
    p = monomials(PyPBF(), terms)
    before = parse(p)
    p.reduce_higher()
    after = parse(p)
    values_before = [value(before, x) for x in ASSIGNMENTS]
    values_after = [value(after, x) for x in ASSIGNMENTS]
    low = min(values_before)
    assert min(values_after) == low
    assert ([x for x, v in zip(ASSIGNMENTS, values_after) if v == low]
            == [x for x, v in zip(ASSIGNMENTS, values_before) if v == low])


@settings(max_examples=60, deadline=None)
@given(functions)
def test_reduce_higher_approx_is_a_quadratic_upper_bound(terms):
    p = monomials(PyPBF(), terms)
    before = parse(p)
    p.reduce_higher_approx()
    after = parse(p)
    assert all(len(ids) <= 2 for _, ids in after)
    assert all(value(after, x) >= value(before, x) for x in ASSIGNMENTS)


@settings(max_examples=60, deadline=None)
@given(functions, st.integers(-3, 12))
def test_to_quadratic_is_exact_after_minimising_auxiliaries(terms, newvar):
    p, q = monomials(PyPBF(), terms), PyPBF()
    p.to_quadratic(q, newvar)
    source, target = parse(p), parse(q)
    assert all(len(ids) <= 2 for _, ids in target)
    first = max(newvar, p.max_id() + 1)  # auxiliary ids start here; source ids lie below
    aux = sorted({v for _, ids in target for v in ids if v >= first})
    for x in ASSIGNMENTS:
        best = min(value(target, dict(enumerate(x)) | dict(zip(aux, w)))
                   for w in itertools.product((0, 1), repeat=len(aux)))
        assert best == value(source, dict(enumerate(x)))
