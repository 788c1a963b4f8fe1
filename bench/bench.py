"""End-to-end benchmarks of pbfred through its Python methods, with dimod and qubovert as baselines.

    python bench/bench.py                       # the workloads of bench/RESULTS.md, ops and baselines
    python bench/bench.py --only grid256 pubo1e4x1e5
    python bench/bench.py --calls               # ns per call of every method, against max()
    python bench/bench.py --pipeline grid1024   # build, reduce_higher, to_quadratic in a row
    python bench/bench.py --monomials FILE      # one workload read from `coef id1 id2 ...` lines
    python bench/bench.py --write-monomials DIR # the polynomial of each workload into DIR
    python bench/bench.py --energy              # pbfred.energy against the loops and dimod

Needs pbfred importable (an installed package, or PYTHONPATH=<build>/python) and numpy. The
baselines run when dimod / qubovert are installed (pip install .[bench]).

Every workload runs in a fresh subprocess, one per measurement, so that each figure of peak memory
belongs to that workload alone: resident memory is read from /proc/self/status, and its peak is
reset before each stage (writing 5 to /proc/self/clear_refs). Times are the best of --repeat runs
of the stage alone (a copy of the built function is made outside the timed region).

The memory of a function is the growth of the heap in use (glibc's mallinfo2) while it is held:
exact for pbfred, whose storage is C++ arrays. Quadratic conversions are compared on the same
polynomial: the workload's function after shrink(), as monomials. pbfred converts it with
to_quadratic; dimod with make_quadratic on a BinaryPolynomial; qubovert with PUBO.to_qubo. Only
the conversion call is timed; the memory of its result comes from a second run with
PYTHONMALLOC=malloc, so that the baselines' Python objects are counted as well. The penalty strength given to
both baselines is 1 + the sum of |coefficients|: a function's values span at most that sum, and a
violated product constraint costs at least the strength, so every minimiser of the quadratic form
satisfies all constraints and restricts to a minimiser of the polynomial, and each minimiser of
the polynomial extends to one of the form (pbfred's own form needs no penalty: it is exact).
"""

from __future__ import annotations

import argparse
import ctypes
import gc
import json
import os
import pathlib
import subprocess
import sys
import tempfile
import time
import timeit

HERE = pathlib.Path(__file__).resolve().parent
sys.path.insert(0, str(HERE))

import workloads  # noqa: E402

# name -> (generator arguments, operations that finish in reasonable time, baselines)
INSTANCES = {
    "grid128": (("grid", 128), True, True),
    "grid256": (("grid", 256), True, True),
    "grid512": (("grid", 512), True, False),
    "grid1024": (("grid", 1024), True, False),
    "pubo1e4x1e5": (("pubo", 10_000, 100_000), True, True),
    "pubo1e5x1e6": (("pubo", 100_000, 1_000_000), True, False),
    "hub10000": (("hub", 10_000), True, False),
    "hub100000": (("hub", 100_000), True, False),
    "hub200000": (("hub", 200_000), True, False),
    "clique12": (("clique", 12), True, False),
    "clique16": (("clique", 16), False, False),
    "clique20": (("clique", 20), False, False),
}

# --- Memory, read from the kernel ---

def _status(field: str) -> int:
    with open("/proc/self/status") as f:
        for line in f:
            if line.startswith(field + ":"):
                return int(line.split()[1]) * 1024
    return 0


def rss() -> int:
    return _status("VmRSS")


def reset_peak() -> None:
    try:
        with open("/proc/self/clear_refs", "w") as f:
            f.write("5")
    except OSError:
        pass


def peak() -> int:
    return _status("VmHWM")


class _MallInfo2(ctypes.Structure):
    _fields_ = [(name, ctypes.c_size_t) for name in (
        "arena", "ordblks", "smblks", "hblks", "hblkhd", "usmblks", "fsmblks", "uordblks",
        "fordblks", "keepcost")]


def heap_in_use() -> int:
    """Bytes handed out by malloc and not yet freed (glibc's mallinfo2), or 0 when unknown.
    Run a worker with PYTHONMALLOC=malloc and every Python object is counted too, so that the
    memory of two libraries' results can be compared byte for byte; allocator overhead per block
    is included, freed memory that the process keeps is not."""
    try:
        libc = ctypes.CDLL(None)
        libc.mallinfo2.restype = _MallInfo2
    except (OSError, AttributeError):
        return 0
    info = libc.mallinfo2()
    return info.uordblks + info.hblkhd


def count_terms(text: str) -> int:
    return text.count(" ") - 1  # every term and the constant start with a blank


def make(name: str) -> workloads.Workload:
    args = INSTANCES[name][0]
    return workloads.KINDS[args[0]](*args[1:])


def best(fn, repeat: int) -> float:
    times = []
    for _ in range(repeat):
        times.append(fn())
    return min(times)


# --- Workers: each runs in its own process and prints one JSON object ---

def worker_ops(name: str, repeat: int) -> dict:
    import pbfred

    w = make(name)
    calls = w.calls()
    del w
    gc.collect()
    out = {"workload": name}
    base = rss()
    heap = heap_in_use()
    reset_peak()
    f = pbfred.PyPBF()

    def build_once():
        g = pbfred.PyPBF()
        t0 = time.perf_counter()
        workloads.apply(g, calls)
        t = time.perf_counter() - t0
        return t, g

    t0 = time.perf_counter()
    workloads.apply(f, calls)
    first = time.perf_counter() - t0
    out["function_bytes"] = heap_in_use() - heap
    out["build_peak_bytes"] = peak() - base
    out["function_rss_bytes"] = rss() - base
    out["build_s"] = min([first] + [build_once()[0] for _ in range(repeat - 1)])
    gc.collect()
    text = f.get_string()
    out["terms"] = count_terms(text)
    out["max_id"] = f.max_id()
    del text
    out["bytes_per_term"] = out["function_bytes"] / max(out["terms"], 1)

    def timed_in_place(method: str, copies: int):
        result = None
        times = []
        peaks = []
        for _ in range(copies):
            g = f.copy()
            gc.collect()
            before = rss()
            reset_peak()
            t0 = time.perf_counter()
            getattr(g, method)()
            times.append(time.perf_counter() - t0)
            peaks.append(peak() - before)
            result = g
        return min(times), max(peaks), result

    full_ops = INSTANCES[name][1]
    ops = ["shrink"] + (["reduce_higher"] if full_ops else []) + (
        ["reduce_higher_approx"] if full_ops else [])
    for method in ops:
        copies = repeat if method == "shrink" else max(1, min(repeat, 2))
        t, p, g = timed_in_place(method, copies)
        out[f"{method}_s"] = t
        out[f"{method}_peak_bytes"] = p
        out[f"{method}_terms_after"] = count_terms(g.get_string())
        del g
        gc.collect()

    # to_quadratic into a fresh target; memory: growth while the target is held.
    times = []
    for _ in range(max(1, min(repeat, 2))):
        q = pbfred.PyPBF()
        gc.collect()
        before = rss()
        heap = heap_in_use()
        reset_peak()
        t0 = time.perf_counter()
        f.to_quadratic(q, 0)
        times.append(time.perf_counter() - t0)
        out["to_quadratic_peak_bytes"] = peak() - before
        out["quadratic_bytes"] = heap_in_use() - heap
        if len(times) < max(1, min(repeat, 2)):
            del q
    out["to_quadratic_s"] = min(times)
    out["aux"] = q.max_id() - f.max_id()
    out["quadratic_terms"] = count_terms(q.get_string())
    del q
    gc.collect()

    times = []
    for _ in range(repeat):
        t0 = time.perf_counter()
        text = f.get_string()
        times.append(time.perf_counter() - t0)
        del text
    out["get_string_s"] = min(times)
    return out


def worker_pipeline(name: str) -> dict:
    """Build, reduce_higher and to_quadratic in place, one after the other, as an application
    would: the time of each step and the peak resident memory of the whole process."""
    import pbfred

    calls = make(name).calls()
    gc.collect()
    out = {"workload": name, "start_rss_bytes": rss()}
    heap = heap_in_use()
    reset_peak()
    t0 = time.perf_counter()
    f = pbfred.PyPBF()
    workloads.apply(f, calls)
    t1 = time.perf_counter()
    f.reduce_higher()
    t2 = time.perf_counter()
    q = pbfred.PyPBF()
    f.to_quadratic(q, 0)
    t3 = time.perf_counter()
    out.update(build_s=t1 - t0, reduce_higher_s=t2 - t1, to_quadratic_s=t3 - t2, total_s=t3 - t0,
               peak_rss_bytes=peak(), functions_bytes=heap_in_use() - heap,
               quadratic_max_id=q.max_id())
    return out


def read_polynomial(path: str):
    """{(ids...): coef} and the constant from a monomial file."""
    poly, constant = {}, 0
    with open(path) as f:
        for line in f:
            fields = line.split()
            if not fields or fields[0].startswith("#"):
                continue
            c, *ids = (int(x) for x in fields)
            if ids:
                key = tuple(ids)
                poly[key] = poly.get(key, 0) + c
            else:
                constant += c
    return poly, constant


def worker_convert(tool: str, path: str, repeat: int) -> dict:
    """Converts the polynomial in `path` with one tool; times only the conversion."""
    poly, constant = read_polynomial(path)
    strength = 1 + sum(abs(c) for c in poly.values())
    variables = len({v for key in poly for v in key})
    out = {"tool": tool, "monomials": len(poly), "strength": strength}
    times = []
    for attempt in range(repeat):
        if tool == "pbfred":
            import pbfred

            source = pbfred.PyPBF()
            tables = {}
            for key, c in poly.items():
                d = len(key)
                vals = tables.get((d, c))
                if vals is None:
                    vals = tables[(d, c)] = [0] * ((1 << d) - 1) + [c]
                source.add_higher_term(d, list(key), vals)
            source.add_higher_term(0, [], [constant])
            convert = lambda: _pbfred_convert(pbfred, source)  # noqa: E731
        elif tool == "dimod":
            import dimod

            source = dimod.BinaryPolynomial(poly, dimod.BINARY)
            source.offset = constant
            convert = lambda: dimod.make_quadratic(source, strength, dimod.BINARY)  # noqa: E731
        elif tool == "qubovert":
            import qubovert

            source = qubovert.PUBO(poly)
            source[()] = constant
            convert = lambda: source.to_qubo(lam=lambda v: strength)  # noqa: E731
        else:
            raise ValueError(tool)
        gc.collect()
        before = rss()
        heap = heap_in_use()
        reset_peak()
        t0 = time.perf_counter()
        result = convert()
        times.append(time.perf_counter() - t0)
        out["peak_rss_bytes"] = peak() - before
        out["result_bytes"] = heap_in_use() - heap
        if attempt + 1 < repeat:
            del result, source
            gc.collect()
    out["convert_s"] = min(times)
    if tool == "pbfred":
        out["terms"] = count_terms(result.get_string())
        out["aux"] = result.max_id() - source.max_id()
    elif tool == "dimod":
        out["terms"] = result.num_variables + result.num_interactions
        out["aux"] = result.num_variables - variables
    else:
        out["terms"] = len(result)
        out["aux"] = result.num_binary_variables - variables
    out["bytes_per_term"] = out["result_bytes"] / max(out["terms"], 1)
    return out


def _pbfred_convert(pbfred, source):
    q = pbfred.PyPBF()
    source.to_quadratic(q, 0)
    return q


def worker_monomials(name: str, path: str) -> dict:
    """Writes the workload's function, after shrink(), as monomials."""
    import pbfred

    f = workloads.build(make(name), pbfred)
    f.shrink()
    write_monomials(f.get_string(), path)
    return {"workload": name, "path": path}


def write_monomials(text: str, path: str) -> None:
    """Turns the text form (' +2x_{1}x_{3} -1x_{2} +5') into `coef id1 id2 ...` lines."""
    with open(path, "w") as out:
        pieces = text.split()
        for piece in pieces[:-1]:
            coef, _, rest = piece.partition("x_{")
            ids = [int(v) - 1 for v in ("x_{" + rest).replace("x_{", " ").replace("}", " ").split()]
            out.write(f"{int(coef)} {' '.join(map(str, ids))}\n")
        out.write(f"{int(pieces[-1])}\n")


# --- The companion module pbfred.energy ---

def best_interleaved(fns: dict, repeat: int, budget: float = float("inf"),
                     results: dict | None = None) -> dict:
    """The best time of each function over `repeat` rounds, the functions taking turns within a
    round, so that every ratio compares runs made under the same load. No round starts once
    `budget` seconds have passed (the first always runs), so that stages of a minute are not
    repeated for many. `results`, when given, receives the last result of each function."""
    best = {}
    start = time.perf_counter()
    for _ in range(repeat):
        for name, fn in fns.items():
            gc.collect()
            t0 = time.perf_counter()
            result = fn()
            elapsed = time.perf_counter() - t0
            if results is not None:
                results[name] = result
            del result
            best[name] = min(best.get(name, elapsed), elapsed)
        if time.perf_counter() - start > budget:
            break
    return best


def worker_energy(build_width: int, evaluate_width: int, repeat: int) -> dict:
    """Bulk input against the loops of single-term methods, terms() against get_string(), and
    evaluate against dimod's BinaryQuadraticModel.energies."""
    import numpy as np

    import pbfred
    from pbfred import energy

    out = {"build_width": build_width, "evaluate_width": evaluate_width}
    w = workloads.grid(build_width)
    unary = w.unary
    windows = w.clique_ids.reshape(-1, 4)
    tables = w.clique_vals.reshape(-1, 16)

    def user_loop():  # what a user writes today, from the same numpy arrays
        f = pbfred.PyPBF()
        for i, e0, e1 in unary.tolist():
            f.add_unary_term(i, e0, e1)
        for ids, vals in zip(windows.tolist(), tables.tolist()):
            f.add_higher_term(4, ids, vals)
        return f

    unary_rows, window_rows, table_rows = unary.tolist(), windows.tolist(), tables.tolist()

    def method_calls():  # the same loop over lists made beforehand
        f = pbfred.PyPBF()
        for i, e0, e1 in unary_rows:
            f.add_unary_term(i, e0, e1)
        for ids, vals in zip(window_rows, table_rows):
            f.add_higher_term(4, ids, vals)
        return f

    def bulk():
        f = pbfred.PyPBF()
        energy.add_unaries(f, unary[:, 0], unary[:, 1], unary[:, 2])
        energy.add_cliques(f, windows, tables)
        return f

    f = bulk()
    out["build_identical"] = f.get_string() == method_calls().get_string()
    out["build"] = best_interleaved(
        {"user_loop_s": user_loop, "method_calls_s": method_calls, "bulk_s": bulk}, repeat)
    out["build"]["vs_user_loop"] = out["build"]["user_loop_s"] / out["build"]["bulk_s"]
    out["build"]["vs_method_calls"] = out["build"]["method_calls_s"] / out["build"]["bulk_s"]

    q = pbfred.PyPBF()
    f.to_quadratic(q, 0)
    del f
    arrays = energy.terms(q)
    pair_ids, pair_coefs = arrays[2]
    out["read"] = best_interleaved({"terms_s": lambda: energy.terms(q),
                                     "get_string_s": q.get_string}, repeat)
    out["read"].update(
        terms=sum(len(c) for _, c in arrays.values()),
        bytes_per_pairwise_term=(pair_ids.nbytes + pair_coefs.nbytes) / max(len(pair_coefs), 1),
        vs_get_string=out["read"]["get_string_s"] / out["read"]["terms_s"])
    del q, arrays

    f = workloads.build(workloads.grid(evaluate_width), pbfred)
    q = pbfred.PyPBF()
    f.to_quadratic(q, 0)
    m = q.max_id() + 1
    x = np.random.default_rng(1).integers(0, 2, size=(1000, m), dtype=np.int8)
    fns = {"evaluate_s": lambda: energy.evaluate(q, x)}
    if have("dimod"):
        bqm = energy.to_dimod(q)
        labels = range(m)
        out["evaluate_identical"] = bool(
            (bqm.energies((x, labels)) == energy.evaluate(q, x)).all())
        fns["dimod_energies_s"] = lambda: bqm.energies((x, labels))
    out["evaluate"] = best_interleaved(fns, repeat)
    out["evaluate"]["terms"] = sum(len(c) for _, c in energy.terms(q).values())
    if "dimod_energies_s" in out["evaluate"]:
        out["evaluate"]["vs_dimod"] = (out["evaluate"]["dimod_energies_s"]
                                       / out["evaluate"]["evaluate_s"])
    return out


# --- Call overhead ---

def call_overhead(repeat: int, number: int) -> dict:
    import pbfred

    f = pbfred.PyPBF()
    f.add_pairwise_term(3, 7, 1, 2, 3, 4)
    f.add_unary_term(3, 1, 2)
    q = pbfred.PyPBF()
    small = pbfred.PyPBF()
    small.add_higher_term(3, [0, 1, 2], [0, 1, 2, 3, 4, 5, 6, 7])
    ids3, vals3 = [0, 1, 2], [0, 1, 2, 3, 4, 5, 6, 7]
    statements = {
        "max(1, 2, 3, 4, 5, 6)": "max(1, 2, 3, 4, 5, 6)",
        "add_pairwise_term(3, 7, 1, 2, 3, 4)": "f.add_pairwise_term(3, 7, 1, 2, 3, 4)",
        "add_unary_term(3, 1, 2)": "f.add_unary_term(3, 1, 2)",
        "add_higher_term(3, ids, vals)": "f.add_higher_term(3, ids3, vals3)",
        "max_d()": "f.max_d()",
        "max_id()": "f.max_id()",
        "constant()": "f.constant()",
        "get_string() (3 variables)": "small.get_string()",
        "copy() (3 variables)": "small.copy()",
        "copy_from(small)": "q.copy_from(small)",
        "shrink() (3 variables)": "small.shrink()",
        "copy().reduce_higher() (3 variables)": "small.copy().reduce_higher()",
        "copy().reduce_higher_approx() (3 variables)": "small.copy().reduce_higher_approx()",
        "to_quadratic(PyPBF(), 0) (3 variables)": "small.to_quadratic(PyPBF(), 0)",
    }
    env = {"f": f, "q": q, "small": small, "ids3": ids3, "vals3": vals3, "PyPBF": pbfred.PyPBF}
    result = {}
    for label, statement in statements.items():
        times = timeit.repeat(statement, globals=env, repeat=repeat, number=number)
        result[label] = min(times) / number * 1e9
    return result


# --- Driver ---

def run_worker(args: list[str], env: dict | None = None, script: str | None = None,
               timeout: float | None = None) -> dict:
    """Runs `script` (this file by default) with `args` in a fresh interpreter and returns the JSON
    object its last line prints, or {"error": ...} when it fails or outlives `timeout` seconds."""
    cmd = [sys.executable, str(script or pathlib.Path(__file__).resolve())] + args
    try:
        proc = subprocess.run(cmd, capture_output=True, text=True, timeout=timeout,
                              env=None if env is None else {**os.environ, **env})
    except subprocess.TimeoutExpired:
        return {"error": f"no result within {timeout:.0f} s"}
    if proc.returncode != 0:
        return {"error": proc.stderr.strip().splitlines()[-1] if proc.stderr.strip() else "failed"}
    return json.loads(proc.stdout.strip().splitlines()[-1])


def have(module: str) -> bool:
    try:
        __import__(module)
        return True
    except ImportError:
        return False


def fmt_s(x) -> str:
    if x is None:
        return "—"
    return f"{x * 1e3:.1f} ms" if x < 10 else f"{x:.1f} s"


def fmt_b(x) -> str:
    if x is None:
        return "—"
    return f"{x / 2**20:.1f} MiB"


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--only", nargs="*", help="workload names (default: all)")
    parser.add_argument("--repeat", type=int, default=3, help="runs per stage, best kept")
    parser.add_argument("--calls", action="store_true", help="only the per-call overhead")
    parser.add_argument("--pipeline", metavar="NAME",
                        help="only build, reduce_higher and to_quadratic of one workload in a row")
    parser.add_argument("--no-baselines", action="store_true")
    parser.add_argument("--baseline-repeat", type=int, default=1,
                        help="runs of each baseline conversion, best kept (they take seconds)")
    parser.add_argument("--baselines-on", nargs="*",
                        help="workloads whose conversions are compared (default: the marked ones)")
    parser.add_argument("--monomials", help="a file of monomials to convert with every tool")
    parser.add_argument("--write-monomials", metavar="DIR")
    parser.add_argument("--energy", action="store_true",
                        help="only pbfred.energy: bulk input, terms() and evaluate")
    parser.add_argument("--energy-widths", nargs=2, type=int, default=[512, 256],
                        metavar=("BUILD", "EVALUATE"),
                        help="grid widths for the bulk input and for evaluate (default 512 256)")
    parser.add_argument("--json", help="also write all figures to this file")
    parser.add_argument("--worker", nargs="+", help=argparse.SUPPRESS)
    args = parser.parse_args()

    if args.worker:
        kind, *rest = args.worker
        if kind == "ops":
            print(json.dumps(worker_ops(rest[0], args.repeat)))
        elif kind == "convert":
            print(json.dumps(worker_convert(rest[0], rest[1], args.repeat)))
        elif kind == "monomials":
            print(json.dumps(worker_monomials(rest[0], rest[1])))
        elif kind == "pipeline":
            print(json.dumps(worker_pipeline(rest[0])))
        elif kind == "energy":
            print(json.dumps(worker_energy(int(rest[0]), int(rest[1]), args.repeat)))
        return 0

    if args.energy:
        r = run_worker(["--repeat", str(args.repeat), "--worker", "energy",
                        *map(str, args.energy_widths)])
        print(json.dumps(r, indent=1))
        if args.json:
            pathlib.Path(args.json).write_text(json.dumps(r, indent=1))
        return 0

    if args.calls:
        figures = call_overhead(repeat=7, number=200_000)
        ratio = figures["add_pairwise_term(3, 7, 1, 2, 3, 4)"] / figures["max(1, 2, 3, 4, 5, 6)"]
        print("| call | ns per call |\n|---|---:|")
        for label, ns in figures.items():
            print(f"| `{label}` | {ns:.0f} |")
        print(f"\nadd_pairwise_term / max: {ratio:.2f}")
        if args.json:
            pathlib.Path(args.json).write_text(json.dumps({"calls": figures, "ratio": ratio}, indent=1))
        return 0

    if args.pipeline:
        r = run_worker(["--worker", "pipeline", args.pipeline])
        print(json.dumps(r, indent=1))
        return 0

    tools = ["pbfred"] + [t for t in ("dimod", "qubovert") if have(t) and not args.no_baselines]
    if args.monomials:
        rows = [run_worker(["--repeat", str(args.repeat), "--worker", "convert", t, args.monomials])
                for t in tools]
        print(json.dumps(rows, indent=1))
        return 0

    names = args.only or list(INSTANCES)
    if args.write_monomials:
        os.makedirs(args.write_monomials, exist_ok=True)
        for name in names:
            print(run_worker(["--worker", "monomials", name,
                              os.path.join(args.write_monomials, name + ".txt")]))
        return 0

    results = {"ops": [], "conversions": []}
    print("| workload | terms | build | shrink | reduce_higher | reduce_higher_approx | "
          "to_quadratic | get_string | terms after exact / approx | aux | function | bytes/term |")
    print("|---|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|")
    for name in names:
        r = run_worker(["--repeat", str(args.repeat), "--worker", "ops", name])
        r.setdefault("workload", name)
        results["ops"].append(r)
        if "error" in r:
            print(f"| {name} | error: {r['error']} |")
            continue
        print(f"| {name} | {r['terms']} | {fmt_s(r['build_s'])} | {fmt_s(r.get('shrink_s'))} | "
              f"{fmt_s(r.get('reduce_higher_s'))} | {fmt_s(r.get('reduce_higher_approx_s'))} | "
              f"{fmt_s(r['to_quadratic_s'])} | {fmt_s(r['get_string_s'])} | "
              f"{r.get('reduce_higher_terms_after', '—')} / "
              f"{r.get('reduce_higher_approx_terms_after', '—')} | {r['aux']} | "
              f"{fmt_b(r['function_bytes'])} | {r['bytes_per_term']:.0f} |", flush=True)

    compare = [n for n in names if (args.baselines_on is None and INSTANCES[n][2])
               or (args.baselines_on and n in args.baselines_on)]
    if compare and not args.no_baselines:
        print("\n| workload | tool | conversion | result terms | aux | result memory | bytes/term |"
              " peak RSS growth | time vs pbfred | memory vs pbfred |")
        print("|---|---|---:|---:|---:|---:|---:|---:|---:|---:|")
        with tempfile.TemporaryDirectory() as tmp:
            for name in compare:
                path = os.path.join(tmp, name + ".txt")
                run_worker(["--worker", "monomials", name, path])
                ours = None
                for tool in tools:
                    runs = args.repeat if tool == "pbfred" else args.baseline_repeat
                    r = run_worker(["--repeat", str(runs), "--worker", "convert", tool, path])
                    # Memory from a second run in which Python objects come from malloc too.
                    m = run_worker(["--repeat", "1", "--worker", "convert", tool, path],
                                   env={"PYTHONMALLOC": "malloc"})
                    if "error" not in r and "error" not in m:
                        r["result_bytes"] = m["result_bytes"]
                        r["bytes_per_term"] = m["result_bytes"] / max(r["terms"], 1)
                    r.update(workload=name, tool=tool)
                    results["conversions"].append(r)
                    if "error" in r:
                        print(f"| {name} | {tool} | error: {r['error']} |")
                        continue
                    ours = ours or r
                    print(f"| {name} | {tool} | {fmt_s(r['convert_s'])} | {r['terms']} | {r['aux']} | "
                          f"{fmt_b(r['result_bytes'])} | {r['bytes_per_term']:.0f} | "
                          f"{fmt_b(r['peak_rss_bytes'])} | "
                          f"{r['convert_s'] / ours['convert_s']:.0f}x | "
                          f"{r['result_bytes'] / max(ours['result_bytes'], 1):.1f}x |", flush=True)
    if args.json:
        pathlib.Path(args.json).write_text(json.dumps(results, indent=1))
    return 0


if __name__ == "__main__":
    sys.exit(main())
