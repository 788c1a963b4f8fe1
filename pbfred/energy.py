"""Energies as arrays: bulk input, the stored terms as arrays, evaluation, files and dimod.

    import pbfred
    from pbfred import energy

Every function takes a `pbfred.PyPBF` as `f`. Integer inputs are numpy arrays or anything
`numpy.asarray` takes, of any integer dtype and memory layout. Every argument is checked whole
before the first edit, so a rejected call changes nothing.
"""

from __future__ import annotations

import numpy as np

import pbfred
from pbfred import _energy

__all__ = ["terms"]


def terms(f: pbfred.PyPBF) -> dict[int, tuple[np.ndarray, np.ndarray]]:
    """The stored terms by degree: {d: (ids, coefs)} for every degree d >= 1 whose table is
    present, ids int32 of shape (n, d) and coefs int32 of shape (n,), in stored order, zero
    coefficients included. The arrays are copies: later edits of f do not reach them."""
    return _energy.terms(f)
