"""pbfred.energy.minimize on coefficients near the int32 limits: whatever the sums inside the
reduction do, a Solution's guarantees hold at the exact (64-bit) values of f, or the call raises
OverflowError naming a term. A wrong guarantee is never an answer."""

import re

import numpy as np
import pytest

from pbfred import energy
from brute import best_completion, persistent_labels, polynomial, random_function, values

UNWRITABLE = re.compile(r"the reduced energy has the term [+-]?\d+(x_\{\d+\})+, whose quadratic "
                        r"form needs a coefficient outside int32 with the method '(\w+)'")


def check(f):
    """Every method: the guarantees at f's exact values, or an OverflowError naming a term."""
    all_values = values(f)
    minimum = int(all_values.min())
    text = f.get_string()
    for method, probe in [(m, p) for m in energy.METHODS for p in (False, True)]:
        try:
            solution = energy.minimize(f, method=method, probe=probe)
        except OverflowError as e:
            match = UNWRITABLE.fullmatch(str(e))
            assert match and match[2] == method, str(e)
            continue
        assert solution.lower_bound <= minimum <= solution.energy, method
        assert solution.energy == energy.evaluate(f, solution.labels), method
        assert best_completion(all_values, persistent_labels(solution)) == minimum, method
    assert f.get_string() == text


def test_a_cubic_and_a_pair_at_the_limit():
    # f = (2**31 - 1) (x0 x1 x2 + x0 x1): minimum 0, at every labelling without x0 = x1 = 1.
    f = polynomial(([0, 1, 2], 2**31 - 1), ([0, 1], 2**31 - 1))
    assert values(f).tolist() == [0] * 6 + [2**31 - 1, 2**32 - 2]
    check(f)


@pytest.mark.parametrize("seed", range(12))
def test_random_functions_near_the_limits(seed):
    rng = np.random.default_rng([seed, 16])
    n = 2 + seed % 9
    check(random_function(rng, n, count=int(rng.integers(1, 2 * n + 1)), max_degree=4,
                          scale="int32", orders=seed % 2 == 1))
