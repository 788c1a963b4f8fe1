"""pbfred.energy.minimize: its guarantees against exhaustive enumeration for every method and
option, also with coefficients near the int32 limits (where a Solution's guarantees hold at the
exact 64-bit values of f, or the call raises OverflowError naming a term: a wrong guarantee is
never an answer), progress reports, and threads. Bad arguments are test_energy's refusals; how
the options relate (improvement and probing against the plain call) and the degenerate and
submodular functions are checked in the core suite, on the same code below the binding."""

import concurrent.futures
import re
import sys
import threading
import time
import types

import numpy as np
import pytest

from pbfred import PyPBF, energy
from brute import (best_completion, denoise, grid_energy, persistent_labels, polynomial,
                   random_function, values)

OPTIONS = [(improve, probe) for improve in (False, True) for probe in (False, True)]
UNWRITABLE = re.compile(r"the reduced energy has the term [+-]?\d+(x_\{\d+\})+, whose quadratic "
                        r"form needs a coefficient outside int32 with the method '(\w+)'")


def check_guarantees(f, all_values, solution):
    """Everything a Solution promises, against the values of f at all labellings."""
    n = f.max_id() + 1
    minimum = int(all_values.min())
    assert solution.labels.dtype == np.uint8 and solution.labels.shape == (n,)
    assert solution.persistent.dtype == np.bool_ and solution.persistent.shape == (n,)
    assert set(solution.labels.tolist()) <= {0, 1}
    assert type(solution.lower_bound) is int and type(solution.energy) is int
    assert solution.lower_bound <= minimum <= solution.energy
    assert solution.energy == energy.evaluate(f, solution.labels)
    assert best_completion(all_values, persistent_labels(solution)) == minimum


def same(a, b):
    """Whether two Solutions are equal (Solution's own == compares arrays ambiguously)."""
    return (a.labels.tolist() == b.labels.tolist()
            and a.persistent.tolist() == b.persistent.tolist()
            and a.lower_bound == b.lower_bound and a.energy == b.energy)


def random_instance(seed, scale="small"):
    """Functions of 2 to 16 variables with terms of degree 1 to 4 of both signs, as add_terms
    writes them (sorted, or in any order with repeats) and as add_cliques writes tables; with
    "int32", coefficients anywhere in int32 and often at its limits, on 2 to 10 variables."""
    if scale == "int32":
        rng = np.random.default_rng([seed, 16])
        n = 2 + seed % 9
        return random_function(rng, n, count=int(rng.integers(1, 2 * n + 1)), max_degree=4,
                               scale="int32", orders=seed % 2 == 1)
    rng = np.random.default_rng([seed, 14])
    n = 16 if seed % 8 == 7 else 2 + seed % 12
    return random_function(rng, n, count=int(rng.integers(1, 3 * n + 1)), max_degree=4,
                           orders=seed % 2 == 1, tables=int(rng.integers(0, 4)))


CASES = [(seed, "small") for seed in range(16)] + [(seed, "int32") for seed in range(12)]


@pytest.mark.parametrize("method", energy.METHODS)
@pytest.mark.parametrize("seed, scale", CASES)
def test_guarantees_hold_on_random_functions(method, seed, scale):
    f = random_instance(seed, scale)
    text = f.get_string()
    all_values = values(f)
    for improve, probe in OPTIONS:
        try:
            solution = energy.minimize(f, improve=improve, probe=probe, method=method)
        except OverflowError as e:
            match = UNWRITABLE.fullmatch(str(e))
            assert scale == "int32" and match and match[2] == method, str(e)
            continue
        check_guarantees(f, all_values, solution)
    assert f.get_string() == text


def test_a_cubic_and_a_pair_at_the_limit():
    # f = (2**31 - 1) (x0 x1 x2 + x0 x1): minimum 0, at every labelling without x0 = x1 = 1.
    f = polynomial(([0, 1, 2], 2**31 - 1), ([0, 1], 2**31 - 1))
    all_values = values(f)
    assert all_values.tolist() == [0] * 6 + [2**31 - 1, 2**32 - 2]  # evaluation does not wrap
    with pytest.raises(OverflowError) as exc:
        energy.minimize(f, method="termwise")
    assert str(exc.value) == ("the reduced energy has the term +2147483647x_{1}x_{2}x_{3}, whose "
                              "quadratic form needs a coefficient outside int32 with the method "
                              "'termwise'")
    check_guarantees(f, all_values, energy.minimize(f, method="auto"))


@pytest.mark.parametrize("f", [PyPBF(), polynomial(constant=-9)], ids=["empty", "constant"])
def test_a_function_without_variables(f):
    solution = energy.minimize(f)
    assert solution.labels.dtype == np.uint8 and solution.persistent.dtype == np.bool_
    assert solution.labels.shape == solution.persistent.shape == (0,)
    assert solution.lower_bound == solution.energy == f.constant()
    assert solution.fixed_share == 1.0


# --- Progress ---

def stage_pattern(method, improve, probe):
    """The stages minimize reports, in order: with "auto" the fewest rule may be tried on f as
    built before the reduction, and up to three rules after it."""
    rounds = "(quadratize roof_duality ){1,3}" if method == "auto" else "quadratize roof_duality "
    before = "(quadratize roof_duality )?" if method == "auto" else ""
    return re.compile(f"{before}reduce_higher {rounds}{'probe ' if probe else ''}"
                      f"{'improve ' if improve else ''}evaluate ")


@pytest.mark.parametrize("method", energy.METHODS)
@pytest.mark.parametrize("improve, probe", OPTIONS)
def test_a_progress_callable_receives_every_stage_in_order(method, improve, probe):
    f, _, _ = grid_energy(np.random.default_rng(3), 4, 4)
    reports = []
    solution = energy.minimize(f, improve=improve, probe=probe, method=method,
                               progress=lambda *args: reports.append(args))
    names = " ".join(stage for stage, _ in reports) + " "
    assert stage_pattern(method, improve, probe).fullmatch(names), names
    assert all(type(s) is float and s >= 0 for _, s in reports)
    assert same(solution, energy.minimize(f, improve=improve, probe=probe, method=method))


LINE = re.compile(r"minimize: ([a-z_]+): \d+\.\d{3} s")


def test_progress_true_without_tqdm_prints_lines_to_stderr(monkeypatch, capsys):
    monkeypatch.setitem(sys.modules, "tqdm", None)  # makes `from tqdm import tqdm` fail
    f, _, _ = grid_energy(np.random.default_rng(4), 5, 5)
    reports = []
    energy.minimize(f, probe=True, progress=lambda *args: reports.append(args))
    energy.minimize(f, probe=True, progress=True)
    out, err = capsys.readouterr()
    assert out == ""
    lines = err.splitlines()
    assert all(LINE.fullmatch(line) for line in lines), lines
    assert [LINE.fullmatch(line)[1] for line in lines] == [stage for stage, _ in reports]


class FakeBar:
    """Stands in for tqdm.tqdm and records what minimize does with its bar."""
    made = []

    def __init__(self, **kwargs):
        self.kwargs, self.calls = kwargs, []
        FakeBar.made.append(self)

    def __getattr__(self, name):
        return lambda *args: self.calls.append((name, *args))


@pytest.mark.parametrize("method", energy.METHODS)
@pytest.mark.parametrize("probe", [False, True])
def test_progress_true_uses_tqdm_where_it_is_installed(monkeypatch, capsys, method, probe):
    monkeypatch.setitem(sys.modules, "tqdm", types.SimpleNamespace(tqdm=FakeBar))
    demo = denoise()
    for table in (None, demo.prior_table("count", 3)):  # a rule labels every id, or none does
        FakeBar.made.clear()
        f, _, _ = grid_energy(np.random.default_rng(5), 5, 5, table=table)
        reports = []
        energy.minimize(f, method=method, probe=probe, progress=lambda *args: reports.append(args))
        energy.minimize(f, method=method, probe=probe, progress=True)
        assert capsys.readouterr() == ("", "")
        (bar,) = FakeBar.made
        stages = [stage for stage, _ in reports]
        assert [c[0] for c in bar.calls] == (["set_postfix_str", "write", "update"] * len(stages)
                                             + ["close"])
        assert [c[1].split(":")[0].strip() for c in bar.calls if c[0] == "write"] == stages
        # "auto" cannot know how many roof duals the energy takes
        assert bar.kwargs["total"] == (None if method == "auto" else len(stages))


def test_an_error_in_progress_is_raised_after_the_road_and_the_first_one_wins():
    f = random_instance(7)
    text = f.get_string()
    calls = []

    def progress(stage, seconds):
        calls.append(stage)
        if len(calls) == 2:
            raise KeyError("first")
        if len(calls) > 2:
            raise RuntimeError("later")

    with pytest.raises(KeyError) as exc:
        energy.minimize(f, probe=True, progress=progress)
    assert exc.value.args == ("first",)
    assert len(calls) == 2  # no reports after the error
    assert f.get_string() == text
    assert same(energy.minimize(f, probe=True), energy.minimize(f, probe=True))


# --- Threads ---

def test_threads_minimising_distinct_energies_get_the_results_of_one_at_a_time():
    energies = [grid_energy(np.random.default_rng(seed), 12, 12)[0] for seed in range(6)]

    def solve(k):
        return energy.minimize(energies[k], probe=k % 2 == 0, method=energy.METHODS[k % 4])

    alone = [solve(k) for k in range(6)]
    # A race shows only where two calls overlap, which a loaded machine makes rare: repeat for
    # some seconds, stopping at the first difference.
    deadline = time.monotonic() + 10
    with concurrent.futures.ThreadPoolExecutor(max_workers=3) as pool:
        while True:
            together = list(pool.map(solve, range(6)))
            assert all(same(a, b) for a, b in zip(alone, together))
            if time.monotonic() > deadline:
                break


def test_a_thread_may_edit_its_own_function_while_another_minimises():
    big, _, _ = grid_energy(np.random.default_rng(8), 16, 16)
    expected = energy.minimize(big)
    start = threading.Barrier(2)
    results = []

    def minimise():
        start.wait()
        results.extend(energy.minimize(big) for _ in range(3))

    def edits(g):
        for k in range(300):
            g.add_unary_term(k % 50, k, -k)
            energy.add_terms(g, [[k % 7, k % 11, k % 13]], k - 150)
            g.add_pairwise_term(k % 5, k % 9, 1, -k, k, 2)

    mine = PyPBF()
    worker = threading.Thread(target=minimise)
    worker.start()
    start.wait()
    edits(mine)
    worker.join()
    alone = PyPBF()
    edits(alone)
    assert mine.get_string() == alone.get_string()
    assert len(results) == 3 and all(same(r, expected) for r in results)
