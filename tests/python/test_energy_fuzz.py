"""pbfred.energy called with arbitrary arrays: every dtype (integers of each width and byte
order, bools, floats, objects, strings), shape (0-d, empty, too few or too many dimensions, wrong
lengths) and layout (Fortran order, strided, reversed, read-only, nested lists), with values at
and beyond the int32 limits. A call succeeds, and then equals the loop of single-term methods
over the same values, or raises TypeError, ValueError or OverflowError and changes nothing."""

import numpy as np
from hypothesis import HealthCheck, event, given, settings, strategies as st

from pbfred import PyPBF, energy
from support import state

DTYPES = [np.int8, np.uint8, np.int16, np.uint16, np.int32, np.uint32, np.int64, np.uint64,
          ">i4", ">i8", bool, np.float64, object, "U3"]
# Ids between 2^16 and 2^31 are valid and only make a call slow or, near 2^31, run out of memory
# (which test_memory covers): ids are drawn without them.
IDS = st.one_of(st.integers(-3, 12), st.sampled_from([-2**31, 2**31, 2**32 + 5, 2**40, -1]))
VALUES = st.one_of(IDS, st.just(2**31 - 1))
LAYOUTS = ["plain", "fortran", "strided", "reversed", "readonly", "list", "scalar-like"]


@st.composite
def arrays(draw, shape, values=VALUES):
    """An array-like of `shape` (or, one time in six, of another shape) in some dtype and layout."""
    if draw(st.integers(0, 5)) == 0:
        shape = tuple(draw(st.lists(st.integers(0, 3), max_size=3)))
    size = int(np.prod(shape, dtype=np.int64))
    values = draw(st.lists(values, min_size=size, max_size=size))
    dtype = np.dtype(draw(st.sampled_from(DTYPES)))
    if dtype.kind == "O":
        a = np.empty(size, dtype=object)
        a[:] = values
    else:  # integers wrap into their width; floats and strings are refused anyway
        with np.errstate(all="ignore"):
            a = np.array([v % 2**64 for v in values], dtype=np.uint64).astype(dtype)
    a = a.reshape(shape)
    layout = draw(st.sampled_from(LAYOUTS))
    if layout == "fortran":
        a = np.asfortranarray(a)
    elif layout == "strided" and a.ndim:
        a = np.repeat(a, 2, axis=0)[::2]
    elif layout == "reversed" and a.ndim:
        a = a[::-1]
    elif layout == "readonly":
        a = a.copy()
        a.flags.writeable = False
    elif layout == "list":
        return a.tolist()
    elif layout == "scalar-like" and a.ndim == 0:
        return a.item()
    return a


def ints(a):
    return np.asarray(a).astype(np.int64)


def rows(value, n):
    return np.broadcast_to(ints(value), (n,)).tolist()


def loop(name, g, args):
    """The same edit through the single-term methods, for arguments that were accepted."""
    if name == "add_unaries":
        ids, e0, e1 = args
        n = len(ints(ids))
        for row in zip(ints(ids).tolist(), rows(e0, n), rows(e1, n)):
            g.add_unary_term(*row)
    elif name == "add_pairs":
        n = len(ints(args[0]))
        for row in zip(ints(args[0]).tolist(), ints(args[1]).tolist(),
                       *(rows(e, n) for e in args[2:])):
            g.add_pairwise_term(*row)
    elif name == "add_cliques":
        vars_, vals = ints(args[0]), ints(args[1])
        for r, ids in enumerate(vars_.tolist()):
            g.add_higher_term(len(ids), ids, (vals if vals.ndim == 1 else vals[r]).tolist())
    elif name == "add_terms":
        ids = ints(args[0])
        for row, c in zip(ids.tolist(), rows(args[1], len(ids))):
            for part in ([c] if c else [1, -1]):
                g.add_higher_term(len(row), row, [0] * ((1 << len(row)) - 1) + [part])


@st.composite
def calls(draw):
    name = draw(st.sampled_from(["add_unaries", "add_pairs", "add_cliques", "add_terms",
                                 "evaluate", "from_terms"]))
    n = draw(st.integers(0, 4))
    energy_shape = st.sampled_from([(), (n,)])
    if name == "add_unaries":
        args = [draw(arrays((n,), IDS)), draw(arrays(draw(energy_shape))),
                draw(arrays(draw(energy_shape)))]
    elif name == "add_pairs":
        args = [draw(arrays((n,), IDS)), draw(arrays((n,), IDS))] + [
            draw(arrays(draw(energy_shape))) for _ in range(4)]
    elif name == "add_cliques":
        k = draw(st.integers(0, 3))
        args = [draw(arrays((n, k), IDS)),
                draw(arrays(draw(st.sampled_from([(n, 1 << k), (1 << k,)]))))]
    elif name == "add_terms":
        d = draw(st.integers(1, 3))
        args = [draw(arrays((n, d), IDS)), draw(arrays(draw(energy_shape)))]
    elif name == "evaluate":
        args = [draw(arrays(draw(st.sampled_from([(20,), (n, 20), (n, 3)]))))]
    else:
        d = draw(st.integers(1, 3))
        args = [draw(arrays(())), {d: (draw(arrays((n, d), IDS)), draw(arrays((n,))))}]
    return name, args


def existing(cliques):
    """The function an edit meets: a table per clique, so that rows merge with terms of every
    degree up to 4, the all-ones entry at the int32 limit."""
    f = PyPBF()
    for ids in cliques:
        f.add_higher_term(len(ids), ids, [(-2) ** k for k in range((1 << len(ids)) - 1)]
                          + [2**31 - 1])
    return f


@settings(deadline=None, max_examples=1500, suppress_health_check=list(HealthCheck))
@given(calls(), st.lists(st.lists(st.integers(0, 9), max_size=4), max_size=4))
def test_calls_succeed_like_the_loop_or_change_nothing(call, cliques):
    name, args = call
    f = existing(cliques)
    before = state(f)
    try:
        if name == "from_terms":
            result = energy.from_terms(*args)
        else:
            result = getattr(energy, name)(f, *args)
    except (TypeError, ValueError, OverflowError) as e:
        event(f"{name}: {type(e).__name__}")
        assert state(f) == before
        return
    event(f"{name}: ok")
    if name == "evaluate":
        assert state(f) == before
        x = np.atleast_2d(ints(args[0]))
        want = np.full(len(x), f.constant(), dtype=np.int64)
        for ids, coefs in energy.terms(f).values():
            want += x[:, ids].all(axis=2).astype(np.int64) @ coefs.astype(np.int64)
        assert np.asarray(result).tolist() == (want.tolist() if ints(args[0]).ndim == 2
                                               else want[0])
    elif name == "from_terms":
        (d, (ids, coefs)), = args[1].items()
        g = PyPBF()
        g.add_higher_term(0, [], [int(ints(args[0]))])
        loop("add_terms", g, [ids, coefs])
        assert result.get_string() == g.get_string() and result.max_d() == max(d, 2)
    else:
        g = existing(cliques)
        loop(name, g, args)
        assert state(f) == state(g)
