"""The share of pixels that roof duality fixes on each quadratization of a grid workload.

Measured with thinqpbo (pip install thinqpbo==0.1.5), a wrapper of the reference QPBO solver, fed
from the text that quadratize_dump writes: solve, then weak persistencies, then count the pixels
(not the auxiliaries) with a label.

    python bench/fixed_share.py BUILD_DIR/bench/quadratize_dump [--data 2,10,20] [WIDTH ...]

DATA is the data term where the observation disagrees (the workload as built: 10).
"""
import subprocess
import sys
import time

import thinqpbo


def fixed_share(dump, width, data, method, reduced):
    args = [dump, str(width), str(data), method] + (["reduced"] if reduced else [])
    lines = subprocess.run(args, check=True, capture_output=True, text=True).stdout.split("\n")
    pixels = int(lines[0].split()[1])
    unary, pairs, top = [], [], pixels - 1
    for line in lines[2:]:
        if not line:
            continue
        f = line.split()
        if f[0] == "u":
            unary.append((int(f[1]), int(f[2])))
            top = max(top, int(f[1]))
        else:
            i, j, c = int(f[1]), int(f[2]), int(f[3])
            if i == j:
                unary.append((i, c))
            else:
                pairs.append((i, j, c))
            top = max(top, i, j)
    q = thinqpbo.QPBOInt(top + 1, len(pairs))
    q.add_node(top + 1)
    for i, c in unary:
        q.add_unary_term(i, 0, c)
    for i, j, c in pairs:
        q.add_pairwise_term(i, j, 0, 0, 0, c)
    start = time.perf_counter()
    q.solve()
    q.compute_weak_persistencies()
    seconds = time.perf_counter() - start
    fixed = sum(1 for i in range(pixels) if q.get_label(i) >= 0)
    return fixed / pixels, (top + 1 - pixels) / (width - 1) ** 2, len(unary) + len(pairs), seconds


def main():
    args = sys.argv[1:]
    dump = args.pop(0)
    datas = [2, 10, 20]
    if args and args[0] == "--data":
        datas = [int(d) for d in args[1].split(",")]
        args = args[2:]
    widths = [int(w) for w in args] or [128]
    methods = ("termwise", "fewest", "grouped")
    print("| grid | data term | form | " + " | ".join(methods) + " |")
    print("|---|---:|---|" + "---:|" * len(methods))
    for width in widths:
        for data in datas:
            for reduced in (False, True):
                cells = []
                for method in methods:
                    share, aux, _, _ = fixed_share(dump, width, data, method, reduced)
                    cells.append(f"{100 * share:.1f} % ({aux:.2f})")
                form = "reduce_higher" if reduced else "as built"
                print(f"| grid{width} | {data} | {form} | " + " | ".join(cells) + " |", flush=True)


if __name__ == "__main__":
    main()
