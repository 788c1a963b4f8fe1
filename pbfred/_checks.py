"""Argument checks of pbfred.energy: every argument is turned into the C-contiguous int32 array the
compiled half takes, or refused with a message that names it and the place of the offending item.
TypeError for a type or dtype, OverflowError for a value outside int32, ValueError for a shape or
a value out of range."""

from __future__ import annotations

from collections.abc import Mapping

import numpy as np

import pbfred
from pbfred import _energy

INT32 = np.iinfo(np.int32)


def check_function(f) -> None:
    if not isinstance(f, pbfred.PyPBF):
        _energy.check_function(f)  # raises the binding's own TypeError


def place(name: str, shape: tuple, flat: int) -> str:
    """`name` with the index of the item at C-order position `flat`: ``vals[3, 7]``."""
    if not shape:
        return name
    return f"{name}[{', '.join(str(int(i)) for i in np.unravel_index(flat, shape))}]"


def first(mask: np.ndarray) -> int:
    """The C-order position of the first True."""
    return int(np.argmax(mask.ravel()))


def object_ints(name: str, a: np.ndarray) -> np.ndarray:
    """An object array that holds Python (or numpy) integers, as int64 checked for int32."""
    flat = a.ravel()
    for k, item in enumerate(flat):
        if not isinstance(item, (int, np.integer, np.bool_)):
            raise TypeError(f"{place(name, a.shape, k)} must be an integer, got "
                            f"{type(item).__name__}")
        if not INT32.min <= item <= INT32.max:
            raise OverflowError(f"{place(name, a.shape, k)} = {item} does not fit int32")
    return np.array(flat.tolist(), dtype=np.int64).reshape(a.shape)


def int32(name: str, value) -> np.ndarray:
    """`value` as a C-contiguous int32 array of its own shape."""
    a = np.asarray(value)
    if a.dtype.kind == "O":
        a = object_ints(name, a)
    if a.dtype.kind not in "iub":
        if a.size == 0:  # np.asarray([]) is float64: nothing in it to refuse
            return np.zeros(a.shape, np.int32)
        raise TypeError(f"{name} must hold integers, got dtype {a.dtype}")
    if a.size and not np.can_cast(a.dtype, np.int32):
        if a.min() < INT32.min or a.max() > INT32.max:
            k = first((a < INT32.min) | (a > INT32.max))
            raise OverflowError(f"{place(name, a.shape, k)} = {a.ravel()[k]} does not fit int32")
    return np.asarray(a, dtype=np.int32, order="C")  # ascontiguousarray would make 0-d 1-d


def scalar(name: str, value) -> int:
    a = int32(name, value)
    if a.ndim != 0:
        raise ValueError(f"{name} must be a scalar, got shape {a.shape}")
    return int(a)


def require_ids(name: str, ids: np.ndarray) -> None:
    if ids.size and ids.min() < 0:
        k = first(ids < 0)
        raise ValueError(f"{place(name, ids.shape, k)} must be >= 0, got {ids.ravel()[k]}")


def ids(name: str, value, ndim: int) -> np.ndarray:
    """Ids as int32 with `ndim` dimensions, all >= 0."""
    a = int32(name, value)
    if a.ndim != ndim:
        what = "one dimension (rows,)" if ndim == 1 else "two dimensions (rows, columns)"
        raise ValueError(f"{name} must have {what}, got shape {a.shape}")
    require_ids(name, a)
    return a


def per_row(rows: int, **values) -> list[np.ndarray]:
    """Each value as int32 of shape (rows,): given so, or a scalar repeated."""
    out = []
    for name, value in values.items():
        a = int32(name, value)
        if a.shape not in ((), (rows,)):
            raise ValueError(f"{name} must be a scalar or have shape ({rows},) like the rows, "
                             f"got shape {a.shape}")
        out.append(np.ascontiguousarray(np.broadcast_to(a, (rows,))))
    return out


def equal_rows(**arrays) -> None:
    lengths = [len(a) for a in arrays.values()]
    if len(set(lengths)) > 1:
        raise ValueError(f"{' and '.join(arrays)} must have as many rows, got "
                         f"{', '.join(map(str, lengths))}")


def tables(terms) -> list[tuple[int, np.ndarray, np.ndarray]]:
    """The (degree, ids, coefs) of a dict {degree: (ids, coefs)} as terms() makes it; a table of
    degree d may also be given as ([], []) when it has no terms."""
    if not isinstance(terms, Mapping):
        raise TypeError(f"terms must be a dict {{degree: (ids, coefs)}}, got "
                        f"{type(terms).__name__}")
    out = []
    for key, value in terms.items():
        if isinstance(key, (bool, np.bool_)) or not isinstance(key, (int, np.integer)):
            raise TypeError(f"the degrees (keys of terms) must be ints, got {key!r}")
        d = int(key)
        if d < 1:
            raise ValueError(f"the degrees (keys of terms) must be >= 1, got {d}")
        if d > INT32.max:
            raise OverflowError(f"the degree {d} does not fit int32")
        if not isinstance(value, (tuple, list)) or len(value) != 2:
            raise TypeError(f"terms[{d}] must be a pair (ids, coefs)")
        table_ids = int32(f"terms[{d}][0]", value[0])
        coefs = int32(f"terms[{d}][1]", value[1])
        if table_ids.shape == (0,):
            table_ids = table_ids.reshape(0, d)
        if table_ids.ndim != 2 or table_ids.shape[1] != d:
            raise ValueError(f"terms[{d}][0] must have shape (n, {d}), got shape "
                             f"{table_ids.shape}")
        if coefs.shape != (len(table_ids),):
            raise ValueError(f"terms[{d}][1] must have shape ({len(table_ids)},) like its ids, "
                             f"got shape {coefs.shape}")
        require_ids(f"terms[{d}][0]", table_ids)
        out.append((d, table_ids, coefs))
    return out
