"""Running out of memory, and calls that keep neither references nor memory."""

import contextlib
import gc
import json
import sys
import tracemalloc
import warnings

import pytest

from pbfred import PyPBF
from support import int_like, plain_linux_only, run_isolated


def methods_calls():
    """The methods: objects whose counts must not change, working calls, failing calls, and
    what empties the functions they edit."""
    pbf = PyPBF()
    # Fresh objects (not the interpreter's cached small ints), so that their counts are ours.
    big, var = int("123456"), int("1000")
    held = (big, var, [var, var], [var, var, var, "a"], object(), PyPBF(), int_like(True),
            type("Raises", (), {"__getitem__": lambda s, k: 1 // 0})())
    _, _, items, bad_items, other, target, warns, raising_items = held
    raises = int_like(ZeroDivisionError)
    working = [
        lambda: pbf.add_higher_term(3, [0, 1, 2], range(8)),
        lambda: pbf.add_higher_term(cliquesize=2, vars=items, vals=[big, var, big, var]),
        lambda: pbf.add_unary_term(var, big, -big),
        lambda: pbf.add_pairwise_term(4, var, big, 0, 0, big),
        lambda: pbf.copy().copy_from(pbf),
        lambda: (pbf.get_string(), pbf.max_id(), pbf.max_d(), pbf.constant(), pbf.print()),
        lambda: pbf.copy().reduce_higher(),
        lambda: pbf.copy().reduce_higher_approx(),
        lambda: pbf.to_quadratic(target, var),
        lambda: target.copy_from(PyPBF(8)),
        lambda: pbf.shrink(),
    ]
    failing = [  # binding, conversion, items, checks, type tests, construction, refusals
        lambda: pbf.add_unary_term(var, big),
        lambda: pbf.add_unary_term(var, raises, big),
        lambda: pbf.add_unary_term(var, warns, big),  # a DeprecationWarning made an error
        lambda: pbf.add_pairwise_term(var, 1, 2**31, 0, 0, 0),
        lambda: pbf.add_pairwise_term(var, -var, 0, 0, 0, 0),
        lambda: pbf.add_higher_term(2, items, bad_items),
        lambda: pbf.add_higher_term(3, items, bad_items),
        lambda: pbf.add_higher_term(2, raising_items, items),
        lambda: pbf.add_higher_term(big, items, items),
        lambda: pbf.copy_from(other),
        lambda: pbf.to_quadratic(other, var),
        lambda: pbf.to_quadratic(target, other),
        lambda: pbf.to_quadratic(target, newvar=var, extra=big),
        lambda: pbf.shrink(big),
        lambda: pbf.max_id(x=big),
        lambda: pbf.get_string(big),
        lambda: pbf.__reduce__(),
        lambda: pbf.__setstate__(items),
        lambda: PyPBF(other),
        lambda: PyPBF(-var),
        lambda: PyPBF(var, big),
    ]
    return held, working, failing, lambda: None


def companion_calls():
    """The same for pbfred.energy."""
    import numpy as np

    from pbfred import energy

    f = PyPBF()
    ids, vals = np.arange(6).reshape(2, 3), np.arange(8)
    x = np.ones((3, 6), bool)
    bad = [np.array([0, -1]), np.array([0.5]), object()]
    held = [ids, vals, x, *bad]
    working = [
        lambda: energy.add_cliques(f, ids, vals),
        lambda: energy.add_unaries(f, ids[0], vals[:3], 1),
        lambda: energy.add_pairs(f, ids[0], ids[1], 1, 2, 3, vals[:3]),
        lambda: energy.add_terms(f, ids, vals[:2]),
        lambda: energy.from_terms(3, energy.terms(f)),
        lambda: energy.evaluate(f, x),
    ]
    failing = [
        lambda: energy.add_unaries(f, bad[0], 1, 2),
        lambda: energy.add_terms(f, ids, bad[1]),
        lambda: energy.add_cliques(bad[2], ids, vals),
        lambda: energy.evaluate(f, bad[0]),
        lambda: energy.from_terms(0, {2: (bad[0], bad[1])}),
    ]
    return held, working, failing, lambda: f.copy_from(PyPBF())


# A call that kept an object would grow every round by at least 16 * times bytes, one that kept
# a byte by 11 * 400 for the companion; caches that numpy and the interpreter fill grow the first
# rounds only (more so under the sanitizers).
@pytest.mark.parametrize("calls, times, limit", [(methods_calls, 200, 3200),
                                                 (companion_calls, 400, 4096)])
def test_calls_keep_neither_references_nor_memory(calls, times, limit, capfd):
    held, working, failing, empty = calls()

    def work():
        for _ in range(times):
            for call in working:
                call()
            for call in failing:
                with contextlib.suppress(Exception):
                    call()
        capfd.readouterr()

    with warnings.catch_warnings():
        warnings.simplefilter("error")
        before = [sys.getrefcount(x) for x in held]
        work()
        assert [sys.getrefcount(x) for x in held] == before
        tracemalloc.start()
        try:
            grown = []
            for _ in range(6):
                empty()
                gc.collect()
                first = tracemalloc.get_traced_memory()[0]
                work()
                empty()
                gc.collect()
                grown.append(tracemalloc.get_traced_memory()[0] - first)
        finally:
            tracemalloc.stop()
    assert min(grown) < limit, grown


# Runs in a fresh interpreter whose address space is capped 1 GiB above what it uses, so that an
# occurrence index for an id near 2^31 (2^31 lists) cannot be allocated on any machine. Every
# edit, copy and compaction that runs out of memory, through the methods or the companion, raises
# MemoryError and changes nothing; repeated failures keep neither Python memory (tracemalloc) nor
# C++ memory (the C heap, mallinfo2) nor references; and the function goes on to behave exactly
# like one that never met the failures.
MEMORY_ERRORS = r'''
import ctypes, gc, json, resource, sys, tracemalloc
import numpy as np
import pbfred
from pbfred import energy

def cap_address_space(headroom):
    status = open("/proc/self/status").read()
    in_use = int(status.split("VmSize:")[1].split()[0]) * 1024
    resource.setrlimit(resource.RLIMIT_AS,
                       (in_use + headroom, resource.getrlimit(resource.RLIMIT_AS)[1]))

cap_address_space(1 << 30)

class MallInfo2(ctypes.Structure):
    _fields_ = [(name, ctypes.c_size_t) for name in (
        "arena", "ordblks", "smblks", "hblks", "hblkhd", "usmblks", "fsmblks", "uordblks",
        "fordblks", "keepcost")]

libc = ctypes.CDLL(None)
libc.mallinfo2.restype = MallInfo2

def heap():
    gc.collect()
    info = libc.mallinfo2()
    return info.uordblks + info.hblkhd

def build():
    p = pbfred.PyPBF()
    p.add_unary_term(0, 1, 2)
    p.add_pairwise_term(1, 2, 0, 3, 0, 5)
    p.add_higher_term(3, [0, 1, 2], [0] * 7 + [-4])
    energy.add_cliques(p, [[1, 2, 3]], np.arange(8))
    return p

def state(p):
    return p.get_string(), p.max_d(), p.max_id(), p.constant()

def outcome(call):
    """"no error", or the innermost traceback entry of the MemoryError."""
    try:
        call()
        return "no error"
    except MemoryError as e:
        tb = e.__traceback__
        while tb.tb_next:
            tb = tb.tb_next
        return tb.tb_frame.f_code.co_name

vals = list(range(8))

def methods(big):
    return {
        "PyPBF": lambda: pbfred.PyPBF(big),
        "add_unary_term": lambda: p.add_unary_term(big, 1, 2),
        "add_pairwise_term i": lambda: p.add_pairwise_term(big, 0, 1, 2, 3, 4),
        "add_pairwise_term j": lambda: p.add_pairwise_term(0, big, 1, 2, 3, 4),
        "add_pairwise_term i j": lambda: p.add_pairwise_term(big, big, 1, 2, 3, 4),
        "add_higher_term 1": lambda: p.add_higher_term(1, [big], [3, 4]),
        "add_higher_term first": lambda: p.add_higher_term(3, [big, 0, 1], vals),
        "add_higher_term middle": lambda: p.add_higher_term(3, [0, big, 1], vals),
        "add_higher_term last": lambda: p.add_higher_term(4, [0, 1, 2, big], vals * 2),
    }

def companion(big):
    return {
        "add_unaries": lambda: energy.add_unaries(p, [0, 7, big, 1], 1, 2),
        "add_pairs": lambda: energy.add_pairs(p, [0, 1], [2, big], 1, 2, 3, 4),
        "add_cliques": lambda: energy.add_cliques(p, [[0, 1, 2], [3, big, 1]], np.arange(8)),
        "add_terms": lambda: energy.add_terms(p, [[0, 1], [5, big]], 3),
        "from_terms": lambda: energy.from_terms(0, {2: ([[0, big]], [1])}),
    }

p, results = build(), {}
unchanged = state(p)

# Copies and compaction of a function with a large occurrence index (2^22 lists, 96 MiB) fail the
# same way once the address space is capped a few MiB above what is in use; first, while the heap
# holds no free space that the refusals below leave behind.
def wide_function():
    f = pbfred.PyPBF()
    f.add_unary_term(2**22, 1, 2)
    f.add_unary_term(3, 0, 0)  # a zero term, for shrink to remove
    return f

wide, target = wide_function(), build()
before = state(wide), state(target)
cap_address_space(8 << 20)
for name, call in {"copy": wide.copy, "copy_from": lambda: target.copy_from(wide),
                   "shrink": wide.shrink, "PyPBF": lambda: pbfred.PyPBF(2**22)}.items():
    results[f"{name} wide"] = [outcome(call) != "no error", (state(wide), state(target)) == before]
cap_address_space(1 << 30)
wide.shrink()
results["wide later"] = [wide.copy().get_string(), wide.max_id()]

for label, big in [("2^31-1", 2**31 - 1), ("2^31-2", 2**31 - 2), ("2^30", 2**30)]:
    for name, call in methods(big).items():
        results[f"{name} {label}"] = [outcome(call), state(p) == unchanged]
for name, call in companion(2**31 - 1).items():
    results[name] = [outcome(call) != "no error", state(p) == unchanged]
# The value table of the largest clique, 2^30 entries of 4 bytes, is refused the same way.
results["add_higher_term 30"] = [outcome(lambda: p.add_higher_term(30, [], [])) != "no error",
                                 state(p) == unchanged]

# Repeated refusals keep nothing. A refused call that kept an object would grow every window by
# 500 of them; the interpreter's own caches and free lists move single windows by a few KiB either
# way, so the least growth of five windows is what tells a leak.
big = int("2147483647")
refusals = [*methods(big).values(), *companion(big).values()]
def refuse(times):
    for _ in range(times):
        for call in refusals:
            try:
                call()
            except MemoryError:
                pass
def least_growth(measure):
    windows = []
    for _ in range(5):
        first = measure()
        refuse(500)
        windows.append(measure() - first)
    return min(windows)
refs = [sys.getrefcount(big), sys.getrefcount(vals)]
refuse(500)
grown = {"heap": least_growth(heap)}
tracemalloc.start()  # measured apart: its own records live on the C heap
refuse(20)
grown["tracemalloc"] = least_growth(lambda: tracemalloc.get_traced_memory()[0])
tracemalloc.stop()
grown["references"] = [sys.getrefcount(big), sys.getrefcount(vals)] != refs

# Later edits, the transforms and copies see a function as if nothing had failed.
def more(f):
    f.add_unary_term(0, 5, -1)
    f.add_pairwise_term(2, 1, 4, 0, 1, 7)
    f.add_higher_term(3, [0, 1, 2], [1, 0, 0, 2, 0, 0, 3, 9])
    f.add_higher_term(4, [1, 2, 3, 9], range(16))
    energy.add_pairs(f, [2, 4], [1, 4], 4, 0, 1, 7)
    energy.add_terms(f, [[1, 2, 3, 9]], 5)
    copy = f.copy()
    f.shrink()
    q = pbfred.PyPBF()
    f.to_quadratic(q, 0)
    f.reduce_higher()
    copy.reduce_higher_approx()
    return [f.get_string(), q.get_string(), copy.get_string(), f.max_d(), f.max_id()]

print(json.dumps({"results": results, "grown": grown, "later": more(p) == more(build())}))
'''


@plain_linux_only
def test_memory_errors_change_nothing_and_keep_nothing():
    out = json.loads(run_isolated(MEMORY_ERRORS))
    expected = {}
    for big in ("2^31-1", "2^31-2", "2^30"):
        for name in ("PyPBF", "add_unary_term", "add_pairwise_term i", "add_pairwise_term j",
                     "add_pairwise_term i j", "add_higher_term 1", "add_higher_term first",
                     "add_higher_term middle", "add_higher_term last"):
            entry = "__cinit__" if name == "PyPBF" else name.split()[0]
            expected[f"{name} {big}"] = [f"pbfred.PyPBF.{entry}", True]
    for name in ("add_unaries", "add_pairs", "add_cliques", "add_terms", "from_terms",
                 "add_higher_term 30", "copy wide", "copy_from wide", "shrink wide", "PyPBF wide"):
        expected[name] = [True, True]
    expected["wide later"] = [" +1x_{4194305} +1", 2**22]
    assert out["results"] == expected
    assert out["grown"]["tracemalloc"] < 4096 and out["grown"]["heap"] < 4096
    assert not out["grown"]["references"]
    assert out["later"]


@pytest.mark.parametrize("method, args", [
    ("add_unary_term", (2**31 - 1, 0, 1)),
    ("add_pairwise_term", (2**31 - 1, 0, 0, 0, 0, 1)),
    ("add_higher_term", (3, [0, 1, 2**31 - 1], [0] * 7 + [1])),
])
def test_argument_errors_come_before_any_allocation(pbf, method, args):
    # Runs under AddressSanitizer too, where an allocation of the occurrence index would abort.
    with pytest.raises(TypeError):
        getattr(pbf, method)(*args[:-1], "x")
    assert pbf.get_string() == " +0"
