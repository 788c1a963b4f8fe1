"""The file format of pbfred.energy.save and load: one .npz (a zip of .npy arrays, no pickle).

Members: `format` (the string "pbfred-energy"), `version` (int32, 1), `degrees` (int32, the
degrees of the tables, ascending), `constant` (int32) and, for every degree d of `degrees`,
`ids<d>` (int32, shape (n, d)) and `coefs<d>` (int32, shape (n,)) as terms() gives them. The
members must be exactly these: `degrees` makes a table whose entry in the zip directory was lost
(zipfile stops reading the directory at a damaged entry, silently) a missing member. Every
member's header is checked before its data is read (dtype, dimensions, C order, and a data size
that matches the member exactly), so a damaged file is refused without reading or allocating
more than it holds.
"""

from __future__ import annotations

import zipfile

import numpy as np

from pbfred import _checks

FORMAT = "pbfred-energy"
VERSION = 1
_FIXED_MEMBERS = ("format.npy", "version.npy", "degrees.npy", "constant.npy")


def write(out, constant: int, tables: dict) -> None:
    """Writes the file to the binary stream `out`."""
    arrays = {"format": np.array(FORMAT), "version": np.array(VERSION, np.int32),
              "degrees": np.array(sorted(tables), np.int32),
              "constant": np.array(constant, np.int32)}
    for d, (ids, coefs) in tables.items():
        arrays[f"ids{d}"], arrays[f"coefs{d}"] = ids, coefs
    np.savez(out, **arrays)


def read(source) -> tuple[int, list]:
    """The constant and the checked tables (as _checks.tables gives them) of the file in the
    binary stream `source`; any damage raises an exception (of whatever kind the damage makes
    zipfile or numpy raise)."""
    with zipfile.ZipFile(source) as archive:
        members = {info.filename: info for info in archive.infolist()}

        def member(name, kind, ndim):
            if name not in members:
                raise ValueError(f"member {name!r} is missing")
            return _read_npy(archive, members[name], kind, ndim)

        marker = str(member("format.npy", "U", 0))
        if marker != FORMAT:
            raise ValueError(f"format marker {marker!r} instead of {FORMAT!r}")
        version = int(member("version.npy", "i4", 0))
        if version != VERSION:
            raise ValueError(f"format version {version}; this pbfred reads version {VERSION}")
        degrees = member("degrees.npy", "i4", 1).tolist()
        if degrees != sorted(set(degrees)) or (degrees and degrees[0] < 1):
            raise ValueError(f"degrees {degrees} are not distinct and ascending from 1")
        names = {f"{part}{d}.npy" for d in degrees for part in ("ids", "coefs")}
        extra = sorted(members.keys() - names - set(_FIXED_MEMBERS))
        if extra:
            raise ValueError(f"unexpected member {extra[0]!r}")
        constant = int(member("constant.npy", "i4", 0))
        tables = {d: (member(f"ids{d}.npy", "i4", 2), member(f"coefs{d}.npy", "i4", 1))
                  for d in degrees}
    return constant, _checks.tables(tables)


def _read_npy(archive: zipfile.ZipFile, info: zipfile.ZipInfo, kind: str, ndim: int):
    """One .npy member: int32 little-endian (kind "i4") or any unicode string (kind "U"), with
    `ndim` dimensions in C order."""
    fmt = np.lib.format
    name = info.filename[:-len(".npy")]
    with archive.open(info) as stream:
        version = fmt.read_magic(stream)
        if version == (1, 0):
            shape, fortran, dtype = fmt.read_array_header_1_0(stream)
        elif version == (2, 0):
            shape, fortran, dtype = fmt.read_array_header_2_0(stream)
        else:
            raise ValueError(f"{name}: .npy version {version} is not read here")
        if (dtype.kind != "U") if kind == "U" else (dtype != np.dtype("<" + kind)):
            raise ValueError(f"{name} has dtype {dtype.str}, expected "
                             f"{'a string' if kind == 'U' else 'int32'}")
        if len(shape) != ndim or (fortran and ndim > 1):
            raise ValueError(f"{name} has shape {shape}{' in Fortran order' if fortran else ''}, "
                             f"expected {ndim} dimensions in C order")
        size = int(np.prod(shape, dtype=np.int64)) * dtype.itemsize
        stored = info.file_size - stream.tell()
        if size != stored:
            raise ValueError(f"{name}: {stored} bytes of data for shape {shape}")
        data = stream.read(size)
        if len(data) != size or stream.read(1):  # reading to the end checks the CRC
            raise ValueError(f"{name} is truncated")
    return np.frombuffer(data, dtype=dtype).reshape(shape)
