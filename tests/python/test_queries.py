"""Text, queries, compaction and copies."""

import pytest

from pbfred import PyPBF


def example(kind=PyPBF):
    """Constant 3; unary 2, -1, 0 on variables 0, 1, 2; pairwise 5 on (0, 1); in that order."""
    p = kind()
    p.add_unary_term(0, 3, 5)
    p.add_unary_term(1, 0, -1)
    p.add_unary_term(2, 0, 0)
    p.add_higher_term(2, [0, 1], [0, 0, 0, 5])
    return p


TEXT = " +2x_{1} -1x_{2} 0x_{3} +5x_{1}x_{2} +3"


def test_new_function(pbf, c_stdout):
    assert (pbf.max_d(), pbf.max_id(), pbf.constant(), pbf.get_string()) == (2, -1, 0, " +0")
    assert pbf.print() is None and c_stdout() == " +0\n"


def test_print_and_get_string_differ_in_zero_and_newline(c_stdout):
    example().print()
    assert c_stdout() == " +2x_{1} -1x_{2} +0x_{3} +5x_{1}x_{2} +3\n"
    assert example().get_string() == TEXT


def test_extreme_values(pbf):
    pbf.add_unary_term(99, -2**31, -1)
    assert (pbf.get_string(), pbf.constant(), pbf.max_id()) == (
        " +2147483647x_{100} -2147483648", -2**31, 99)


def test_shrink_removes_zero_terms_but_keeps_degrees(pbf):
    pbf.add_unary_term(3, 0, 5)
    pbf.add_unary_term(3, 0, -5)
    pbf.add_higher_term(5, range(5), [0] * 31 + [1])
    pbf.add_higher_term(5, range(5), [0] * 31 + [-1])
    assert (pbf.max_id(), pbf.max_d()) == (4, 5)
    assert pbf.shrink() is None
    assert (pbf.get_string(), pbf.max_id(), pbf.max_d()) == (" +0", -1, 5)


@pytest.mark.parametrize("kind", [PyPBF, type("Sub", (PyPBF,), {})])
def test_copies_share_nothing(pbf, kind):
    source = example(kind)
    copied = source.copy()
    pbf.add_unary_term(9, 0, 1)
    assert pbf.copy_from(source) is None and type(copied) is PyPBF
    source.add_unary_term(5, 0, 1)
    copied.add_unary_term(6, 0, 1)
    assert (pbf.get_string(), copied.get_string()) == (TEXT, TEXT.replace(" +5x", " +1x_{7} +5x"))
    pbf.copy_from(pbf)
    assert pbf.get_string() == TEXT
