"""Conversion between PyPBF tables and dimod's models, for pbfred.energy.to_dimod / from_dimod.
dimod is imported here only, and this module only by those two functions."""

from __future__ import annotations

import numbers

import numpy as np

from pbfred import _checks


def to_dimod(tables: dict, constant: int, max_id: int):
    """A BinaryQuadraticModel over the labels 0 ... max_id when no term of degree >= 3 has a
    non-zero coefficient, else a BinaryPolynomial over the labels of the terms."""
    import dimod

    if any(coefs.any() for d, (_, coefs) in tables.items() if d >= 3):
        poly = {}
        for ids, coefs in tables.values():
            for key, c in zip(map(tuple, ids.tolist()), coefs.tolist()):
                poly[key] = poly.get(key, 0) + c  # dimod merges keys naming one set itself
        poly[()] = poly.get((), 0) + constant
        return dimod.BinaryPolynomial(poly, dimod.BINARY)
    linear = np.zeros(max_id + 1, dtype=np.float64)
    unary_ids, unary = tables[1]
    np.add.at(linear, unary_ids[:, 0], unary)
    pair_ids, pairs = tables[2]
    same = pair_ids[:, 0] == pair_ids[:, 1]  # x * x = x: a linear term
    np.add.at(linear, pair_ids[same, 0], pairs[same])
    others = pair_ids[~same]
    return dimod.BinaryQuadraticModel.from_numpy_vectors(
        linear, (others[:, 0], others[:, 1], pairs[~same].astype(np.float64)), float(constant),
        dimod.BINARY)


def _label(v) -> int:
    if isinstance(v, (bool, np.bool_)) or not isinstance(v, (int, np.integer)):
        raise ValueError(f"variable label {v!r} is not an integer: labels must be ints >= 0")
    if v < 0:
        raise ValueError(f"variable label {v} is negative: labels must be ints >= 0")
    if v > _checks.INT32.max:
        raise OverflowError(f"variable label {v} does not fit int32")
    return int(v)


def _bias(b, term) -> int:
    if isinstance(b, np.generic):
        b = b.item()
    if isinstance(b, numbers.Integral):
        value = int(b)
    else:
        value = float(b)
        if not value.is_integer():  # nan and the infinities included
            raise ValueError(f"the bias {b!r} of {term} is not an integer")
        value = int(value)
    if not _checks.INT32.min <= value <= _checks.INT32.max:
        raise OverflowError(f"the bias {b!r} of {term} does not fit int32")
    return value


def _biases(values, describe) -> np.ndarray:
    """_bias of every value, vectorised for float arrays; describe(k) names the term of value k."""
    a = np.asarray(values)
    if a.dtype.kind != "f":
        return np.array([_bias(b, describe(k)) for k, b in enumerate(a.tolist())], dtype=np.int64)
    with np.errstate(invalid="ignore"):
        bad = ~np.isfinite(a) | (a != np.rint(a))
        bad |= (a < _checks.INT32.min) | (a > _checks.INT32.max)
    if bad.any():
        k = _checks.first(bad)
        _bias(a[k].item(), describe(k))  # raises the error that this value calls for
    return a.astype(np.int64)


def from_dimod(model) -> tuple[int, dict]:
    """The constant and {degree: (ids, coefs)} of a dimod model, made BINARY first: one unary
    term per variable (coefficient 0 where it has no linear bias), every other term with its ids
    ascending."""
    import dimod

    if isinstance(model, dimod.BinaryPolynomial):
        poly = model if model.vartype is dimod.BINARY else model.to_binary()
        variables = sorted(_label(v) for v in poly.variables)
        by_degree = {1: {(v,): 0 for v in variables}}
        constant = 0
        for key, b in poly.items():
            ids = tuple(sorted(_label(v) for v in key))
            c = _bias(b, f"the term {ids}" if ids else "the constant")
            if ids:
                by_degree.setdefault(len(ids), {})[ids] = c
            else:
                constant = c
        return constant, {d: (np.array(list(t), dtype=np.int64).reshape(len(t), d),
                              np.array(list(t.values()), dtype=np.int64))
                          for d, t in sorted(by_degree.items())}
    if isinstance(model, dimod.BinaryQuadraticModel):
        bqm = model if model.vartype is dimod.BINARY else model.binary
        linear, (row, col, quadratic), offset, labels = bqm.to_numpy_vectors(return_labels=True)
        ids = np.array([_label(v) for v in labels], dtype=np.int64)
        u, v = ids[row], ids[col]
        pairs = np.stack([np.minimum(u, v), np.maximum(u, v)], axis=1)
        unary = _biases(linear, lambda k: f"variable {ids[k]}")
        coefs = _biases(quadratic, lambda k: f"the term {tuple(pairs[k].tolist())}")
        return _bias(offset, "the offset"), {1: (ids.reshape(-1, 1), unary), 2: (pairs, coefs)}
    raise TypeError(f"model must be a dimod.BinaryQuadraticModel or dimod.BinaryPolynomial, got "
                    f"{type(model).__name__}")
