"""Roof duality on the grid workloads: pbfred's RoofDuality against thinqpbo (a wrapper of the
reference QPBO implementation) on the very same quadratic function.

roof_duality_export (built with PBFRED_BUILD_BENCH) builds a workload, reduces and converts it, times
RoofDuality (best of three) and writes the function; this script feeds it to thinqpbo (not timed),
then times thinqpbo's solve() and compute_weak_persistencies() (best of three) and compares the
share of fixed variables and the bound. Needs numpy and thinqpbo (the `bench` extra).

    python bench/roof_duality_vs_thinqpbo.py --exporter build-rel/bench/roof_duality_export \
        grid256 grid512 hub10000
"""

import argparse
import os
import subprocess
import tempfile
import time

import numpy as np
import thinqpbo


def read(path):
    with open(path, "rb") as f:
        n, own, constant = np.fromfile(f, dtype="<i8", count=3)
        unary = np.fromfile(f, dtype="<i8", count=n)
        (pairs,) = np.fromfile(f, dtype="<i8", count=1)
        i = np.fromfile(f, dtype="<i4", count=pairs)
        j = np.fromfile(f, dtype="<i4", count=pairs)
        a = np.fromfile(f, dtype="<i8", count=pairs)
    return int(n), int(own), int(constant), unary, i, j, a


def thinqpbo_solve(n, unary, i, j, a):
    """One solve from scratch: returns (solve seconds, labels, twice the bound)."""
    q = thinqpbo.QPBOInt(n, len(a))
    q.add_node(n)
    for v in np.flatnonzero(unary).tolist():
        q.add_unary_term(v, 0, int(unary[v]))
    for vi, vj, va in zip(i.tolist(), j.tolist(), a.tolist()):
        q.add_pairwise_term(vi, vj, 0, 0, 0, va)
    start = time.perf_counter()
    q.solve()
    q.compute_weak_persistencies()
    seconds = time.perf_counter() - start
    labels = np.fromiter((q.get_label(v) for v in range(n)), dtype=np.int64, count=n)
    return seconds, labels, q.compute_twice_lower_bound()


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--exporter", required=True)
    parser.add_argument("--repeat", type=int, default=3)
    parser.add_argument("workloads", nargs="+", help="gridW, hubM or puboVxM")
    args = parser.parse_args()
    print("| workload | variables | pairs | pbfred RoofDuality | thinqpbo solve + weak | ratio "
          "| fixed pbfred / thinqpbo | own ids fixed pbfred / thinqpbo | bound pbfred / thinqpbo |")
    print("|---|---:|---:|---:|---:|---:|---:|---:|---:|")
    for name in args.workloads:
        with tempfile.TemporaryDirectory() as tmp:
            path = os.path.join(tmp, "q.bin")
            line = subprocess.run([args.exporter, name, path], check=True,
                                  capture_output=True, text=True).stdout.split()
            ours_seconds, fixed, fixed_own, bound = float(line[5]), int(line[6]), int(line[7]), int(line[8])
            n, own, constant, unary, i, j, a = read(path)
        best = None
        for _ in range(args.repeat):
            seconds, labels, twice = thinqpbo_solve(n, unary, i, j, a)
            best = seconds if best is None else min(best, seconds)
        their_fixed = int((labels >= 0).sum())
        their_own = int((labels[:own] >= 0).sum())
        their_bound = constant - (-twice // 2)
        print(f"| {name} | {n:,} | {len(a):,} | {ours_seconds * 1e3:.0f} ms | {best * 1e3:.0f} ms "
              f"| {ours_seconds / best:.2f} | {fixed / n:.1%} / {their_fixed / n:.1%} "
              f"| {fixed_own / own:.1%} / {their_own / own:.1%} | {bound} / {their_bound} |",
              flush=True)


if __name__ == "__main__":
    main()
