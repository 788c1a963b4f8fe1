"""A tour of pbfred on a small binary-image energy.

A 3x3 binary image: a unary data term per pixel pulls it towards a noisy observation, and one
degree-4 clique table per 2x2 window rewards windows whose pixels agree. The script shows the
function as text before and after compaction, queries it, removes higher-order terms exactly and
approximately, converts the result into a quadratic function with auxiliary variables, and checks
by brute force that the minimum survives every step.
"""

import itertools
import re

import pbfred

W = 3
OBSERVED = [1, 1, 0,
            1, 0, 0,
            1, 1, 0]


def pixel(r, c):
    return r * W + c


def window_energy(bits):
    """Smoothness of one 2x2 window: 0 when uniform, more the more it disagrees, capped."""
    ones = sum(bits)
    return min(ones, 4 - ones) * 3


def build():
    f = pbfred.PyPBF(W * W)
    for v, seen in enumerate(OBSERVED):
        # Cost 2 for disagreeing with the observation.
        f.add_unary_term(v, 2 * (seen == 1), 2 * (seen == 0))
    for r in range(W - 1):
        for c in range(W - 1):
            ids = [pixel(r, c), pixel(r, c + 1), pixel(r + 1, c), pixel(r + 1, c + 1)]
            # vals[s]: the first id is the most significant bit of s.
            vals = [window_energy([(s >> (3 - p)) & 1 for p in range(4)]) for s in range(16)]
            f.add_higher_term(4, ids, vals)
    # A pairwise table whose energies cancel leaves terms with coefficient 0 until shrink().
    f.add_pairwise_term(0, 8, 5, 5, 5, 5)
    return f


TERM = re.compile(r" ([+-]?\d+)((?:x_\{\d+\})*)")


def terms(f):
    """(coefficient, one-based ids) for every term of f's text; the constant has no ids."""
    out = []
    for coef, names in TERM.findall(f.get_string()):
        out.append((int(coef), [int(v) for v in re.findall(r"\d+", names)]))
    return out


def degree_count(f, at_least=3):
    return sum(1 for _, ids in terms(f) if len(ids) >= at_least)


def evaluate(parsed, assignment):
    """The value of parsed terms at an assignment (zero-based id -> 0/1, missing ids are 0)."""
    return sum(coef for coef, ids in parsed if all(assignment.get(v - 1, 0) for v in ids))


def minimum(f, variables):
    """The minimum of f over its `variables`, by brute force. Any other variable of f is an
    auxiliary one made by to_quadratic; those only ever pair with original variables, so for
    fixed originals each is minimised on its own: it takes 1 exactly when that lowers the value."""
    parsed = terms(f)
    fixed = set(variables)
    plain = [(c, ids) for c, ids in parsed if all(v - 1 in fixed for v in ids)]
    aux = {}
    for coef, ids in parsed:
        others = [v - 1 for v in ids if v - 1 not in fixed]
        if others:
            aux.setdefault(others[0], []).append((coef, [v - 1 for v in ids if v - 1 in fixed]))
    best = None
    for values in itertools.product((0, 1), repeat=len(variables)):
        x = dict(zip(variables, values))
        value = evaluate(plain, x)
        for pieces in aux.values():
            value += min(0, sum(c for c, ids in pieces if all(x[v] for v in ids)))
        best = value if best is None else min(best, value)
    return best


def main():
    f = build()
    print("built:      ", f.get_string())
    f.shrink()
    print("compacted:  ", f.get_string())
    print(f"max_d={f.max_d()} max_id={f.max_id()} constant={f.constant()}")
    pixels = list(range(W * W))
    original_min = minimum(f, pixels)
    print(f"minimum energy over all {2 ** len(pixels)} images: {original_min}")

    exact = f.copy()
    before = degree_count(exact)
    exact.reduce_higher()
    print(f"\nreduce_higher: {before - degree_count(exact)} of {before} terms of degree >= 3 removed")
    print("exact:      ", exact.get_string())
    print(f"minimum after exact reduction: {minimum(exact, pixels)}")

    approx = f.copy()
    approx.reduce_higher_approx()
    print(f"\nreduce_higher_approx: {degree_count(approx)} terms of degree >= 3 left (an upper bound)")
    print("approximate:", approx.get_string())
    print(f"minimum of the upper bound: {minimum(approx, pixels)}")

    q = pbfred.PyPBF()
    exact.to_quadratic(q, 0)
    aux = q.max_id() - exact.max_id()
    print(f"\nto_quadratic: {aux} auxiliary variables, max_id() = {q.max_id()}, max degree "
          f"{max(len(ids) for _, ids in terms(q))}")
    print("quadratic:  ", q.get_string())
    print(f"minimum of the quadratic function: {minimum(q, pixels)}")


if __name__ == "__main__":
    main()
