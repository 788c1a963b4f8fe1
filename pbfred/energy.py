"""Energies as arrays: bulk input, the stored terms as arrays, evaluation, files and dimod, and
the road to a labelling: quadratizations, roof duality and minimisation.

    import pbfred
    from pbfred import energy

    f = pbfred.PyPBF()
    energy.add_unaries(f, ids, E0, E1)            # one energy table per row
    energy.add_cliques(f, windows, tables)        # (n, k) ids, (n, 2**k) values
    energy.evaluate(f, labellings)                # exact energies as int64
    energy.save(f, "energy.npz"); g = energy.load("energy.npz")
    solution = energy.minimize(f)                 # labels, persistent, lower_bound, energy

Every `f` is a `pbfred.PyPBF`. Integer inputs are numpy arrays or anything `numpy.asarray` takes,
of any integer (or bool) dtype and any memory layout; floats are refused, not truncated. Every
argument is checked whole before the first edit, so a rejected call changes nothing:
- TypeError: an `f` that is not a PyPBF (the binding's own message), a dtype or an item that is
  not an integer;
- OverflowError: a value that does not fit int32;
- ValueError: a shape or length that does not fit, a negative id, an `x` that is not 0/1 or too
  narrow. Messages name the argument and the place, as in ``vars[2, 1] must be >= 0, got -3``.
Each edit has exactly the effect of the loop of the single-term methods over its rows in row
order, wrap-around included. Memory running out raises MemoryError and leaves `f` unchanged. No
call keeps a reference to its arguments.
"""

from __future__ import annotations

import os
import sys
from dataclasses import dataclass

import numpy as np

import pbfred
from pbfred import _checks, _energy, _npz

__all__ = [
    "add_unaries", "add_pairs", "add_cliques", "add_terms", "terms", "from_terms", "evaluate",
    "save", "load", "to_dimod", "from_dimod", "quadratize", "roof_duality", "minimize",
    "Solution", "METHODS",
]

# The quadratizations, in the order "auto" tries them.
METHODS = ("termwise", "fewest", "grouped", "auto")

_MAX_CLIQUE = 30  # the value table has 2**k entries


def add_unaries(f: pbfred.PyPBF, ids, E0, E1) -> None:
    """`f.add_unary_term(ids[r], E0[r], E1[r])` for every row r, in one call. `ids` has shape
    (n,); `E0` and `E1` have shape (n,) or are scalars that serve every row."""
    _checks.check_function(f)
    ids = _checks.ids("ids", ids, 1)
    e0, e1 = _checks.per_row(len(ids), E0=E0, E1=E1)
    _energy.add_unaries(f, ids, e0, e1)


def add_pairs(f: pbfred.PyPBF, i, j, E00, E01, E10, E11) -> None:
    """`f.add_pairwise_term(i[r], j[r], E00[r], E01[r], E10[r], E11[r])` for every row r, in one
    call. `i` and `j` have shape (n,); each energy has shape (n,) or is a scalar that serves every
    row."""
    _checks.check_function(f)
    i, j = _checks.ids("i", i, 1), _checks.ids("j", j, 1)
    _checks.equal_rows(i=i, j=j)
    energies = _checks.per_row(len(i), E00=E00, E01=E01, E10=E10, E11=E11)
    _energy.add_pairs(f, i, j, *energies)


def add_cliques(f: pbfred.PyPBF, vars, vals) -> None:  # noqa: A002 (the binding's name)
    """`f.add_higher_term(k, vars[r], vals[r])` for every row r, in one call. `vars` has shape
    (n, k) with 0 <= k <= 30 and `vals` shape (n, 2**k): entry s of a row is the energy where the
    variable of column p takes bit k-1-p of s. A `vals` of shape (2**k,) is the table of every
    row."""
    _checks.check_function(f)
    ids = _checks.ids("vars", vars, 2)
    vals = _checks.int32("vals", vals)
    rows, k = ids.shape
    if k > _MAX_CLIQUE:
        raise ValueError(f"cliquesize (the columns of vars) must be between 0 and {_MAX_CLIQUE}, "
                         f"got {k}")
    if vals.shape not in ((rows, 1 << k), (1 << k,)):
        raise ValueError(f"vals must have shape ({rows}, {1 << k}), or ({1 << k},) for one table "
                         f"that serves every row, got shape {vals.shape}")
    _energy.add_cliques(f, ids, vals)


def add_terms(f: pbfred.PyPBF, ids, coefs) -> None:
    """Adds `coefs[r]` to the term over the ids of row r, in that order, for every row r, creating
    the term (also with coefficient 0) when it does not exist. `ids` has shape (n, d) with d >= 1;
    `coefs` has shape (n,) or is a scalar that serves every row."""
    _checks.check_function(f)
    ids = _checks.ids("ids", ids, 2)
    if ids.shape[1] == 0:
        raise ValueError("ids must have at least one column (the degree of the terms)")
    (coefs,) = _checks.per_row(ids.shape[0], coefs=coefs)
    _energy.add_terms(f, ids, coefs)


def terms(f: pbfred.PyPBF) -> dict[int, tuple[np.ndarray, np.ndarray]]:
    """The stored terms by degree: {d: (ids, coefs)} for every degree d >= 1 whose table is
    present, ids int32 of shape (n, d) and coefs int32 of shape (n,), in stored order, zero
    coefficients included. The arrays are copies: later edits of f do not reach them."""
    return _energy.terms(f)


def from_terms(constant, terms) -> pbfred.PyPBF:  # noqa: F811 (the parameter shadows terms())
    """A new PyPBF with this constant and these terms: `from_terms(f.constant(), terms(f))` equals
    f (same get_string(), max_d(), max_id() and constant()). Every degree key makes its table
    present, also one without rows (given as ([], []) or arrays with 0 rows); rows that name one
    term twice add up, as the single edits do. Occurrence lists come out in walk order, as
    shrink() leaves them."""
    constant = _checks.scalar("constant", constant)
    return _energy.from_terms(constant, _checks.tables(terms))


def evaluate(f: pbfred.PyPBF, x):
    """The energy of f at a labelling: the constant plus the coefficient of every term whose
    variables are all 1, summed exactly (64 bits, no wrap-around). `x` holds 0 or 1 (bools or any
    integer dtype) with shape (m,), giving a Python int, or (k, m) for k labellings, giving an
    int64 array of shape (k,); m >= f.max_id() + 1."""
    _checks.check_function(f)
    a = np.asarray(x)
    if a.dtype.kind == "O":
        a = _checks.object_ints("x", a)
    if a.dtype.kind == "b":
        a = a.view(np.uint8)  # the compiled half counts any non-zero byte as 1
    elif a.dtype.kind in "iu":
        if a.size and (a.min() < 0 or a.max() > 1):
            k = _checks.first((a < 0) | (a > 1))
            raise ValueError(f"{_checks.place('x', a.shape, k)} must be 0 or 1, got "
                             f"{a.ravel()[k]}")
        a = a.view(np.uint8) if a.dtype.itemsize == 1 else a.astype(np.uint8)
    elif a.size == 0:
        a = a.astype(np.uint8)
    else:
        raise TypeError(f"x must hold 0 or 1 as bools or integers, got dtype {a.dtype}")
    if a.ndim not in (1, 2):
        raise ValueError(f"x must have shape (m,) or (k, m), got shape {a.shape}")
    energies = _energy.evaluate(f, np.ascontiguousarray(a.reshape(1, -1) if a.ndim == 1 else a))
    return int(energies[0]) if a.ndim == 1 else energies


def save(f: pbfred.PyPBF, path) -> None:
    """Writes f to the file `path` (that very name: no suffix is added) as one .npz of plain
    numpy arrays, without pickle: a format marker and version, the constant, and the tables of
    terms(f). load(path) gives back an equal PyPBF."""
    _checks.check_function(f)
    tables = terms(f)
    with open(path, "wb") as out:
        _npz.write(out, pbfred.PyPBF.constant(f), tables)


def load(path) -> pbfred.PyPBF:
    """The PyPBF saved to `path` by save(), equal to the one saved (as with from_terms). A file
    that is not one (truncated, corrupt, another .npz or zip, arrays of the wrong dtype or shape,
    negative ids) raises ValueError naming it. A path that cannot be opened raises the usual
    OSError (FileNotFoundError, IsADirectoryError, PermissionError), which names it too."""
    with open(path, "rb") as source:
        try:
            constant, tables = _npz.read(source)
        except MemoryError:
            raise
        except Exception as e:  # whatever the damaged bytes make zipfile or numpy raise
            raise ValueError(f"{os.fsdecode(path)}: not a pbfred energy file ({e})") from e
    return _energy.from_terms(constant, tables)


def to_dimod(f: pbfred.PyPBF):
    """f as a dimod model: a BinaryQuadraticModel (BINARY, variables 0 ... f.max_id()) when every
    term with a non-zero coefficient has degree <= 2, where (i, j) and (j, i) add up and (i, i)
    is linear; otherwise a BinaryPolynomial over the variables of f's terms. Its energies equal
    evaluate(f, ...). Needs dimod (pip install pbfred[dimod])."""
    _checks.check_function(f)
    from pbfred import _dimod

    return _dimod.to_dimod(terms(f), pbfred.PyPBF.constant(f), pbfred.PyPBF.max_id(f))


def from_dimod(model) -> pbfred.PyPBF:
    """A new PyPBF with the energies of a dimod BinaryQuadraticModel or BinaryPolynomial (a SPIN
    model is converted to BINARY first). Labels must be ints >= 0 and biases integral within
    int32; the error names the offending label or term. Every variable gets a unary term (with
    coefficient 0 where it has no linear bias), every other term lists its ids ascending."""
    from pbfred import _dimod

    constant, tables = _dimod.from_dimod(model)
    return from_terms(constant, tables)


def _method(method) -> str:
    if not isinstance(method, str) or method not in METHODS:
        raise ValueError(f"method must be one of {', '.join(map(repr, METHODS))}, got {method!r}")
    return method


def quadratize(f: pbfred.PyPBF, method: str = "termwise", newvar=0) -> pbfred.PyPBF:
    """A new PyPBF whose terms all have degree <= 2, over f's ids and auxiliaries numbered from
    max(newvar, f.max_id() + 1), whose minimum over the auxiliaries equals f exactly (as
    integers) at every assignment of f's variables. f is not changed.

    - "termwise": the rule of to_quadratic, and the same function as ``f.to_quadratic(PyPBF(),
      newvar)`` whenever that fits int32;
    - "fewest": as few auxiliaries as known: ceil(log2 d) - 1 for a positive monomial of degree
      d, one for a negative one, and one for a whole function of four variables (a quartic term
      with the cubic terms inside its variables);
    - "grouped": positive terms that share a variable share an auxiliary, which leaves more of an
      image energy submodular;
    - "auto": each of the three, keeping the one whose roof duality fixes most of f's variables
      (ties: fewer auxiliaries).

    Coefficients are computed in 64 bits; a term whose form needs a coefficient outside int32
    (where no rule that fits applies) raises OverflowError naming it."""
    _checks.check_function(f)
    method = _method(method)
    newvar = _checks.scalar("newvar", newvar)
    return _energy.quadratize(f, method, newvar)


def roof_duality(q: pbfred.PyPBF) -> tuple[np.ndarray, int]:
    """Roof duality of a quadratic function: (labels, lower_bound).

    Every term of q with a non-zero coefficient must have degree <= 2 (else ValueError naming the
    first higher term); (i, j) and (j, i) add up, (i, i) is x_i. `labels` is an int8 array over
    the ids 0 ... q.max_id(): 0 or 1 where roof duality fixes the variable, -1 where it does not;
    some minimiser of q agrees with all fixed labels at once (ids in no term get 0).
    `lower_bound` is the roof-dual bound rounded up, an int <= the minimum of q. The solve runs
    on a private copy with the GIL released."""
    return _energy.roof_duality(q)


@dataclass(frozen=True)
class Solution:
    """What minimize() found. `labels`: uint8 over the ids 0 ... f.max_id(). `persistent`: bool
    over the same ids, True where the label is shared by one minimiser of f, jointly with every
    other persistent label. `lower_bound` <= min f <= `energy` == evaluate(f, labels)."""

    labels: np.ndarray
    persistent: np.ndarray
    lower_bound: int
    energy: int

    @property
    def fixed_share(self) -> float:
        """The share of f's ids whose label is persistent (1.0 for none)."""
        return float(self.persistent.mean()) if self.persistent.size else 1.0


class _Progress:
    """Reports each stage of minimize() and its time as it goes: on a tqdm bar where tqdm is
    installed, else as a line on stderr."""

    def __init__(self, stages: int | None):
        try:
            from tqdm import tqdm
        except ImportError:
            self._bar = None
        else:
            self._bar = tqdm(total=stages, desc="minimize", unit="stage", leave=True)

    def __call__(self, stage: str, seconds: float) -> None:
        line = f"{stage}: {seconds:.3f} s"
        if self._bar is None:
            print(f"minimize: {line}", file=sys.stderr, flush=True)
        else:
            self._bar.set_postfix_str(line)
            self._bar.write(f"  {line}")
            self._bar.update(1)

    def close(self) -> None:
        if self._bar is not None:
            self._bar.close()


def minimize(f: pbfred.PyPBF, *, improve: bool = True, probe: bool = False,
             progress=False, method: str = "auto") -> Solution:
    """Minimises f, of any degree, and returns a Solution.

    The road: a private copy of f, reduce_higher (which keeps the minimum and every minimiser), a
    quadratization (`method`, see quadratize()), roof duality, with `probe` probing on what it
    leaves unfixed, and with `improve` labels for the unfixed variables from moves that never
    raise the energy (the last a single-flip descent on f itself; without it they are 0);
    auxiliaries are dropped. The GIL is released once the private copy is made, so threads can
    minimise several energies at once. `progress`: True reports each stage and its time as it
    goes (a tqdm bar where tqdm is installed, else lines on stderr); a callable is called as
    progress(stage, seconds). An energy whose reduced form cannot be quadratized within int32
    raises OverflowError."""
    _checks.check_function(f)
    method = _method(method)
    reporter = None
    if progress is True:
        # "auto" solves one to four roof duals, as the energy decides: its bar counts stages
        # without a total.
        stages = None if method == "auto" else 4 + bool(probe) + bool(improve)
        reporter = _Progress(stages)
        callback = reporter
    elif progress is False or progress is None:
        callback = None
    elif callable(progress):
        callback = progress
    else:
        raise TypeError(f"progress must be a bool or a callable, got {type(progress).__name__}")
    try:
        labels, persistent, lower_bound, value = _energy.minimize(
            f, bool(improve), bool(probe), method, callback)
    finally:
        if reporter is not None:
            reporter.close()
    return Solution(labels, persistent, lower_bound, value)
