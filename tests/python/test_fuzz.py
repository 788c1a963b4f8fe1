"""Every method called with arbitrary arguments: it succeeds or raises, and a refusal changes nothing.

Arguments are drawn per parameter kind (ids, energies, clique sizes, PyPBF, items) from values of
the right kind at and beyond the int32 limits mixed with values of every other type, passed
positionally or by keyword, sometimes too few, too many, twice, under a wrong name, or one object
for two parameters (the function itself among them). Values that would convert to an id between
2^16 and 2^31 are left out: they are valid and only make the calls slow or, near 2^31, exhaust
memory, which test_memory covers.
"""

import math
import re
import warnings

import numpy as np
from hypothesis import HealthCheck, event, given, settings, strategies as st

from pbfred import PyPBF
from support import int_like


class Sub(PyPBF):
    pass


class Custom(Exception):
    pass


class IntSub(int):
    pass


class Items:
    """Indexable like a sequence whose item `fail_at` raises `error`."""

    def __init__(self, values, fail_at, error):
        self.values, self.fail_at, self.error = values, fail_at, error

    def __getitem__(self, k):
        if k == self.fail_at:
            raise self.error("bad item")
        return self.values[k]


def safe_ints():
    """Ints that are no id too large to allocate: up to 2^16, or outside int32."""
    return st.one_of(st.integers(-2**70, 2**16), st.integers(2**31, 2**70),
                     st.sampled_from([-2**31, -2**31 - 1, 2**31, 2**63, 2**64, -1, 0, 1]))


def convertible(ints):
    """Objects that convert to the given ints, or whose conversion fails on its own."""
    return st.one_of(
        ints,
        ints.map(lambda v: int_like(v)),
        ints.map(IntSub),
        ints.map(lambda v: np.int64(min(max(v, -2**63), 2**63 - 1))),
        st.booleans(),
        st.booleans().map(int_like),  # __int__ returning a bool: a DeprecationWarning
        st.sampled_from([ValueError, ZeroDivisionError, Custom, OverflowError]).map(int_like),
        st.sampled_from(["7", 2.5, None, b"1"]).map(int_like),  # __int__ returning a non-int
    )


# Floats that truncate to an int below 6 (no clique size too costly) or to nothing that fits.
SAFE_FLOATS = st.one_of(
    st.floats(-1e6, 5.9),
    st.sampled_from([math.nan, math.inf, -math.inf, 2.0**31, -2.0**31 - 1, 1e300, -0.0]))

JUNK = st.one_of(
    st.none(), st.text(max_size=3), st.binary(max_size=3), st.builds(object), SAFE_FLOATS,
    st.just(type("IndexOnly", (), {"__index__": lambda s: 1})()),
    st.lists(st.integers(0, 3), max_size=3), st.builds(PyPBF), st.builds(Sub),
)

IDS = st.one_of(convertible(safe_ints()), SAFE_FLOATS)
ENERGIES = st.one_of(convertible(st.integers()), st.floats(allow_nan=True, allow_infinity=True))
SIZES = st.one_of(
    st.integers(0, 6), st.sampled_from([-1, -2**31, 31, 2**31 - 1, 2**31, 2**64]),
    st.floats(-1.5, 6.9), st.just(math.nan))


def items(values):
    """Anything indexable (or not) whose items are drawn from `values` or are junk."""
    seq = st.lists(st.one_of(values, values, JUNK), max_size=70)
    return st.one_of(
        seq, seq.map(tuple), seq.map(lambda v: dict(enumerate(v))),
        st.integers(0, 70).map(range), st.binary(max_size=70),
        st.lists(st.integers(0, 40), max_size=70).map(np.array),
        st.builds(Items, seq, st.integers(0, 8),
                  st.sampled_from([IndexError, KeyError, ValueError, Custom, ZeroDivisionError])),
        JUNK,
    )


# Values that a call accepts, per kind, and everything else that may stand in their place.
GOOD_IDS = st.one_of(st.integers(0, 20), st.integers(0, 20).map(IntSub),
                     st.integers(0, 20).map(np.int64), st.floats(0, 20.9), st.booleans())
GOOD_ENERGIES = st.one_of(st.integers(-2**31, 2**31 - 1), st.integers(-9, 9),
                          st.integers(-9, 9).map(np.int32), st.floats(-1e9, 1e9))
GOOD = {
    "id": GOOD_IDS, "energy": GOOD_ENERGIES, "size": st.integers(0, 5),
    "ids": st.lists(GOOD_IDS, max_size=6).flatmap(
        lambda v: st.sampled_from([v, tuple(v), dict(enumerate(v))])),
    "energies": st.lists(GOOD_ENERGIES, min_size=1, max_size=70),
    "pbf": st.one_of(st.just("self"), st.builds(PyPBF), st.builds(Sub)),
    "any": st.none(),
}
WILD = {
    "id": IDS, "energy": ENERGIES, "size": SIZES, "ids": items(IDS), "energies": items(ENERGIES),
    "pbf": st.one_of(st.just("self"), st.builds(PyPBF), st.builds(Sub), JUNK),
    "any": st.one_of(IDS, JUNK),
}

METHODS = {  # the editing and converting methods first, where shrinking leads
    "add_higher_term": [("cliquesize", "size"), ("vars", "ids"), ("vals", "energies")],
    "to_quadratic": [("qpbf", "pbf"), ("newvar", "id")],
    "add_pairwise_term": [("i", "id"), ("j", "id")] + [(e, "energy") for e in
                                                       ("E00", "E01", "E10", "E11")],
    "add_unary_term": [("i", "id"), ("E0", "energy"), ("E1", "energy")],
    "copy_from": [("other", "pbf")], "copy": [], "shrink": [], "print": [], "reduce_higher": [],
    "reduce_higher_approx": [], "max_d": [], "max_id": [], "constant": [], "get_string": [],
    "__reduce__": [], "__setstate__": [("state", "any")],
}


@st.composite
def calls(draw, params):
    """Positional and keyword arguments for `params`: mostly acceptable values with at most one
    wild one (of any kind, size or type), and sometimes bound wrongly."""
    values = [(name, draw(GOOD[kind])) for name, kind in params]
    if values and draw(st.booleans()):
        k = draw(st.integers(0, len(values) - 1))
        kind = params[k][1]
        # A small int as a clique size up to 30 makes a value table of up to 4 GiB: valid, slow.
        other = JUNK if kind == "size" else WILD["any"]
        values[k] = (values[k][0], draw(st.one_of(WILD[kind], other)))
    # One object for two parameters, where it stays within what each of them may take: an energy
    # as an id or a clique size could be one too large to allocate.
    pairs = [(k, m) for k, (_, a) in enumerate(params) for m, (_, b) in enumerate(params)
             if k != m and (a == b or (a, b) == ("ids", "energies"))]
    if pairs and draw(st.integers(0, 5)) == 0:
        k, m = draw(st.sampled_from(pairs))
        values[m] = (values[m][0], values[k][1])
    positional = draw(st.integers(0, len(values)))
    args = [v for _, v in values[:positional]]
    kwargs = dict(values[positional:])
    mistake = draw(st.sampled_from(["none"] * 6 + ["missing", "extra", "twice", "unknown"]))
    if mistake == "missing" and values:
        if kwargs:
            kwargs.pop(draw(st.sampled_from(sorted(kwargs))))
        else:
            args.pop()
    elif mistake == "extra":
        args += [draw(WILD["any"]) for _ in range(draw(st.integers(1, 3)))]
    elif mistake == "twice" and positional:
        kwargs[values[draw(st.integers(0, positional - 1))][0]] = draw(WILD["any"])
    elif mistake == "unknown":
        kwargs[draw(st.sampled_from(["x", "e0", "Vars", "self", "maxVars"]))] = 0
    return args, kwargs


@st.composite
def functions(draw):
    """A PyPBF (or subclass instance) holding a few terms, built with valid calls."""
    p = draw(st.sampled_from([PyPBF, Sub]))(draw(st.integers(0, 8)))
    for _ in range(draw(st.integers(0, 4))):
        n = draw(st.integers(0, 4))
        p.add_higher_term(n, draw(st.lists(st.integers(0, 9), min_size=n, max_size=n)),
                          draw(st.lists(st.integers(-9, 9), min_size=2**n, max_size=2**n)))
    return p


def ids_in(text):
    return [int(v) - 1 for v in re.findall(r"x_\{(\d+)\}", text)]


def resolve(value, p):
    return p if isinstance(value, str) and value == "self" else value


def check_consistent(p):
    text = p.get_string()
    assert p.max_id() == max(ids_in(text), default=-1)
    assert -2**31 <= p.constant() < 2**31 and p.max_d() >= 2
    assert p.copy().get_string() == text


# About 7 s in all, three times as long under AddressSanitizer.
FUZZ = settings(deadline=None, suppress_health_check=list(HealthCheck))


@settings(FUZZ, max_examples=1500)
@given(st.data())
def test_methods_succeed_or_raise_and_refusals_change_nothing(capfd, data):
    p = data.draw(functions())
    name = data.draw(st.sampled_from(list(METHODS)))
    args, kwargs = data.draw(calls(METHODS[name]))
    args = [resolve(a, p) for a in args]
    kwargs = {k: resolve(v, p) for k, v in kwargs.items()}
    others = [a for a in [*args, *kwargs.values()] if isinstance(a, PyPBF) and a is not p]
    before = p.get_string()
    others_before = [o.get_string() for o in others]
    with warnings.catch_warnings():
        warnings.simplefilter(data.draw(st.sampled_from(["error", "ignore"])))
        try:
            result = getattr(p, name)(*args, **kwargs)
        except MemoryError:
            raise  # no argument drawn here needs more than a few megabytes
        except Exception as e:
            event(f"{name}: {type(e).__name__}")
            assert p.get_string() == before
            assert [o.get_string() for o in others] == others_before
        else:
            event(f"{name}: ok")
            if name == "copy":
                assert type(result) is PyPBF and result.get_string() == before
            elif name in ("max_d", "max_id", "constant"):
                assert type(result) is int
            elif name == "get_string":
                assert result == before
            else:
                assert result is None
            if name != "to_quadratic":  # the target may be another argument
                assert [o.get_string() for o in others] == others_before
    check_consistent(p)
    capfd.readouterr()


@settings(FUZZ, max_examples=300)
@given(st.data())
def test_construction_succeeds_or_raises(data):
    kind = data.draw(st.sampled_from([PyPBF, Sub]))
    args, kwargs = data.draw(calls([("maxVars", "id")]))
    with warnings.catch_warnings():
        warnings.simplefilter(data.draw(st.sampled_from(["error", "ignore"])))
        try:
            p = kind(*[resolve(a, None) for a in args], **kwargs)
        except MemoryError:
            raise
        except Exception:
            return
    assert type(p) is kind and p.get_string() == " +0"
    check_consistent(p)
