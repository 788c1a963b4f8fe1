"""Adding energy tables: what each form adds and what add_higher_term reads (what each refuses
is test_binding's refusal table)."""

import numpy as np
import pytest


@pytest.mark.parametrize("edit, text", [
    (lambda p: p.add_unary_term(3, 10, 4), " -6x_{4} +10"),
    (lambda p: p.add_pairwise_term(0, 1, 0, 0, 0, 0), " 0x_{1} 0x_{2} 0x_{1}x_{2} +0"),
    (lambda p: p.add_pairwise_term(2, 4, 1, 2, 3, 9), " +2x_{3} +1x_{5} +5x_{3}x_{5} +1"),
    (lambda p: p.add_higher_term(2, (3, 4), range(4)), " +1x_{5} +2x_{4} +0"),
    (lambda p: p.add_higher_term(1, [7, 8, 9], [0, 1, 5]), " +1x_{8} +0"),
    (lambda p: p.add_higher_term(0, [], [4]), " +4"),
    (lambda p: p.add_higher_term(2, np.array([3, 4]), {3: 5, 0: 0, 1: 0, 2: 0}),
     " +5x_{4}x_{5} +0"),
    # Ids in any order, repeats included, are stored as given; vals follow the given order.
    (lambda p: p.add_higher_term(3, [2, 0, 1], [0] * 7 + [1]), " +1x_{3}x_{1}x_{2} +0"),
    (lambda p: p.add_higher_term(2, [4, 4], [0, 0, 0, 1]), " +1x_{5}x_{5} +0"),
])
def test_energy_tables(pbf, edit, text):
    edit(pbf)
    assert pbf.get_string() == text


def test_coefficients_wrap(pbf):
    pbf.add_unary_term(0, 0, 2**31 - 1)
    pbf.add_unary_term(0, 0, 1)
    assert pbf.get_string() == " -2147483648x_{1} +0"


def test_items_may_empty_their_list_while_it_is_read(pbf):
    ids = [0, 1]
    ids.insert(0, type("Clears", (), {"__int__": lambda s: ids.clear() or 1})())
    with pytest.raises(IndexError):
        pbf.add_higher_term(3, ids, range(8))
    assert pbf.get_string() == " +0"
