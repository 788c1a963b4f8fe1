"""minimize and quadratize on functions too large to enumerate, against the exact optima of
toulbar2: on 20 x 20 image energies the optimum lies between minimize's bound and its energy, and
on functions of 30 to 80 variables each quadratization has the minimum of f."""

import numpy as np
import pytest

from pbfred import energy
from brute import I32, coefficients, denoise, polynomial, values, window_ids
from wcsp import Network, needs_toulbar2

pytestmark = needs_toulbar2

# (prior, data weight, seed): the demo's energy on a noisy picture of 4 x 4 blocks. Weaker data
# terms leave toulbar2 minutes of search at this size; random window tables, hours.
GRIDS = [("count", 12, 0), ("checkerboard", 12, 0), ("checkerboard", 12, 1)]


@pytest.mark.parametrize("prior, data, seed", GRIDS)
def test_the_optimum_of_an_image_energy_lies_between_bound_and_energy(prior, data, seed):
    demo = denoise()
    rng = np.random.default_rng([seed, 19])
    clean = np.kron(rng.integers(0, 2, (5, 5)), np.ones((4, 4), dtype=np.int64))
    noisy = demo.add_noise(clean, 0.1, seed)
    f = demo.build_energy(noisy, prior=prior, data=data, weight=3)
    # The oracle gets the energy tables themselves, not f's terms.
    network = Network(400)
    for v, seen in enumerate(noisy.ravel().tolist()):
        network.add_table([v], [data * seen, data * (1 - seen)])
    table = demo.prior_table(prior, 3)
    for ids in window_ids(20, 20).tolist():
        network.add_table(ids, table)
    optimum, labels = network.solve()
    assert energy.evaluate(f, labels) == optimum
    for method in energy.METHODS:
        for probe in (False, True):
            solution = energy.minimize(f, method=method, probe=probe)
            assert solution.lower_bound <= optimum <= solution.energy, (method, probe)


def banded_function(seed, n, count, scale):
    """n variables on a line: unary terms, then `count` terms of degree 2 to 6 of both signs over
    ids at most 5 apart, some with their ids unsorted or repeated. Short spans and unary terms
    stronger than the others keep toulbar2's search on the quadratizations within seconds;
    without them a quadratization of 80 variables can take it minutes."""
    rng = np.random.default_rng([seed, 20])
    unary = coefficients(rng, n, scale) * (3 if scale == "small" else 1)
    f = energy.from_terms(0, {1: (np.arange(n)[:, None], unary)})
    for _ in range(count):
        d = int(rng.integers(2, 7))
        start = int(rng.integers(0, n - 5))
        ids = start + rng.choice(6, min(d, 6), replace=False)
        if rng.random() < 0.3:
            ids = rng.permutation(np.concatenate([ids, ids[:1]]))  # unsorted, one id repeated
        elif rng.random() < 0.7:
            ids = np.sort(ids)
        energy.add_terms(f, ids[None, :], coefficients(rng, 1, scale))
    return f


FUNCTIONS = [(0, 30, 30, "small"), (1, 45, 45, "small"), (2, 60, 30, "small"),
             (3, 80, 40, "small"), (4, 80, 40, "small"), (5, 40, 40, "int32"), (6, 80, 40, "int32")]


@pytest.mark.parametrize("seed, n, count, scale", FUNCTIONS)
def test_each_quadratization_has_the_minimum_of_f(seed, n, count, scale):
    f = banded_function(seed, n, count, scale)
    network = Network(n)
    network.add_function(f)
    minimum, labels = network.solve()
    assert energy.evaluate(f, labels) == minimum
    solved = {}
    for method in energy.METHODS:
        try:
            q = energy.quadratize(f, method)
        except OverflowError:
            assert scale == "int32"  # the brute-force tests check the message
            continue
        text = q.get_string()
        if text not in solved:  # "auto" is one of the others
            network = Network(q.max_id() + 1)
            network.add_function(q)
            solved[text] = network.solve()[0]
        assert solved[text] == minimum, method
    if scale == "small":
        assert len(solved) >= 2  # the methods differ, and none was skipped


def test_the_network_holds_coefficients_at_the_int32_limits():
    # Shifts and costs past int32 must reach toulbar2 unchanged, or the oracle would mislead.
    f = polynomial(([0], I32[0]), ([1], I32[1]), ([0, 1], I32[1]), ([1, 2, 0], I32[0]),
                   ([2], -1), constant=I32[1])
    network = Network(3)
    network.add_function(f)
    assert network.solve()[0] == int(values(f).min())
