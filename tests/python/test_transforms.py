"""reduce_higher, reduce_higher_approx and to_quadratic through the module: the text they leave,
how they take their arguments. What they refuse is test_binding's refusal table; their worked
examples, and their guarantees on random functions against brute force, are the core suite's
tests."""

import pytest

from pbfred import PyPBF


def table(n, coef):
    """The value table of coef * (product of n variables)."""
    return [0] * (2 ** n - 1) + [coef]


def monomials(p, terms):
    for coef, ids in terms:
        p.add_higher_term(len(ids), ids, table(len(ids), coef))
    return p


@pytest.mark.parametrize("method, terms, text", [
    ("reduce_higher", [(5, [0, 1, 2]), (10, [0])], " +5x_{1} +5x_{1}x_{3} +5x_{1}x_{2} +0"),
    ("reduce_higher_approx", [(6, [0, 1, 2]), (10, [0])], " +10x_{1} +6x_{1}x_{3} +0"),
])
def test_reductions_rewrite_in_place(method, terms, text):
    p = monomials(PyPBF(), terms)
    assert getattr(p, method)() is None
    assert p.get_string() == text
    assert p.max_d() == 3  # the emptied table stays


def test_to_quadratic_adds_into_its_target():
    class Sub(PyPBF):
        pass

    p, q = monomials(PyPBF(), [(5, [1, 2, 3])]), Sub()
    q.add_unary_term(0, 0, 1)
    assert p.to_quadratic(newvar=10, qpbf=q) is None
    assert q.get_string() == (" +1x_{1} +5x_{11} -5x_{2}x_{11} -5x_{3}x_{11} -5x_{4}x_{11}"
                              " +5x_{2}x_{3} +5x_{2}x_{4} +5x_{3}x_{4} +0")
    assert p.get_string() == " +5x_{2}x_{3}x_{4} +0"  # the source is not changed
    p.to_quadratic(p, 0)  # into itself: the function as it was, plus its quadratic form
    assert p.get_string() == (" +5x_{5} -5x_{2}x_{5} -5x_{3}x_{5} -5x_{4}x_{5} +5x_{2}x_{3}"
                              " +5x_{2}x_{4} +5x_{3}x_{4} +5x_{2}x_{3}x_{4} +0")
