"""pbfred.energy in and out of files (save, load) and dimod (to_dimod, from_dimod)."""

import io
import json
import zipfile

import numpy as np
import pytest
from hypothesis import HealthCheck, given, settings, strategies as st

from pbfred import PyPBF, energy
from support import run_isolated, state

dimod = pytest.importorskip("dimod")


def sample_function():
    f = PyPBF()
    f.add_higher_term(3, [0, 1, 4], [0, 1, 2, -3, 4, 5, 6, 2**31 - 1])
    f.add_pairwise_term(4, 4, 1, 0, 0, 0)
    f.add_higher_term(6, range(6), [0] * 63 + [1])
    f.add_higher_term(6, range(6), [0] * 63 + [-1])  # a zero term of degree 6
    return f


# --- Files ---

@settings(deadline=None, max_examples=40, suppress_health_check=list(HealthCheck))
@given(st.lists(st.tuples(st.integers(0, 4), st.lists(st.integers(0, 30), min_size=4,
                                                      max_size=4),
                          st.lists(st.integers(-2**31, 2**31 - 1), min_size=16, max_size=16)),
                max_size=6),
       st.booleans())
def test_save_and_load_give_an_equal_function(tmp_path_factory, tables, shrink):
    f = PyPBF()
    for n, ids, vals in tables:
        f.add_higher_term(n, ids, vals)
    if shrink:
        f.shrink()
    path = tmp_path_factory.mktemp("files") / "f"
    energy.save(f, path)
    assert sorted(path.parent.iterdir()) == [path]  # that very name: no suffix added
    assert state(energy.load(path)) == state(f)


def test_the_file_is_plain_numpy_arrays(tmp_path):
    path = tmp_path / "f.npz"
    energy.save(sample_function(), str(path))
    with np.load(path, allow_pickle=False) as npz:
        arrays = {name: npz[name] for name in npz.files}
    assert sorted(arrays) == ["coefs1", "coefs2", "coefs3", "coefs6", "constant", "degrees",
                              "format", "ids1", "ids2", "ids3", "ids6", "version"]
    assert arrays["degrees"].tolist() == [1, 2, 3, 6]
    assert (str(arrays["format"]), int(arrays["version"])) == ("pbfred-energy", 1)
    assert arrays["ids6"].shape == (1, 6) and arrays["coefs6"].tolist() == [0]


def npz_bytes(**arrays):
    out = io.BytesIO()
    np.savez(out, **arrays)
    return out.getvalue()


def valid_arrays():
    return {"format": np.array("pbfred-energy"), "version": np.array(1, np.int32),
            "degrees": np.array([1, 2], np.int32), "constant": np.array(5, np.int32),
            "ids1": np.array([[0], [3]], np.int32), "coefs1": np.array([1, 2], np.int32),
            "ids2": np.zeros((0, 2), np.int32), "coefs2": np.zeros(0, np.int32)}


def changed(**changes):
    arrays = valid_arrays()
    for name, value in changes.items():
        if value is None:
            del arrays[name]
        else:
            arrays[name] = value
    return npz_bytes(**arrays)


def plain_zip():
    out = io.BytesIO()
    with zipfile.ZipFile(out, "w") as z:
        z.writestr("readme.txt", "hello")
    return out.getvalue()


FOREIGN = {
    "empty": b"",
    "text": b"x_{1} +2\n",
    "plain zip": plain_zip(),
    "another npz": npz_bytes(a=np.arange(3)),
    "missing version": changed(version=None),
    "missing coefs": changed(coefs1=None),
    "missing table": changed(ids2=None, coefs2=None),
    "degrees not ascending": changed(degrees=np.array([2, 1], np.int32)),
    "extra array": changed(extra=np.zeros(1)),
    "other marker": changed(format=np.array("dimod")),
    "marker not a string": changed(format=np.array(7)),
    "newer version": changed(version=np.array(2, np.int32)),
    "int64 ids": changed(ids1=np.array([[0], [3]], np.int64)),
    "big-endian coefs": changed(coefs1=np.array([1, 2], ">i4")),
    "object coefs (pickled)": changed(coefs1=np.array([1, 2], object)),
    "ids of the wrong degree": changed(ids1=np.array([[0, 1], [3, 4]], np.int32)),
    "ids in Fortran order": changed(ids2=np.asfortranarray(np.zeros((2, 2), np.int32)),
                                    coefs2=np.zeros(2, np.int32)),
    "too many coefs": changed(coefs1=np.array([1, 2, 3], np.int32)),
    "negative id": changed(ids1=np.array([[0], [-3]], np.int32)),
    "a vector constant": changed(constant=np.array([5], np.int32)),
}


@pytest.mark.parametrize("content", FOREIGN.values(), ids=FOREIGN.keys())
def test_foreign_files_are_refused_naming_the_file(tmp_path, content):
    path = tmp_path / "foreign.npz"
    path.write_bytes(content)
    with pytest.raises(ValueError) as exc:
        energy.load(path)
    assert str(exc.value).startswith(f"{path}: not a pbfred energy file (")


def test_the_valid_sample_of_those_files_loads(tmp_path):
    path = tmp_path / "valid.npz"
    path.write_bytes(changed())
    assert state(energy.load(path)) == (" +1x_{1} +2x_{4} +5", 2, 3, 5)


def test_damaged_files_are_refused_or_read_whole(tmp_path):
    good = tmp_path / "good.npz"
    f = sample_function()
    energy.save(f, good)
    data = good.read_bytes()
    bad = tmp_path / "bad.npz"
    outcomes = set()
    for offset in range(len(data)):
        for damaged in (data[:offset], data[:offset] + bytes([data[offset] ^ 0x5A]) +
                        data[offset + 1:]):
            bad.write_bytes(damaged)
            try:
                g = energy.load(bad)
            except ValueError as e:
                assert str(e).startswith(f"{bad}: not a pbfred energy file (")
                outcomes.add("refused")
            else:  # bytes the zip format does not check (times, attributes) change nothing
                assert state(g) == state(f)
                outcomes.add("equal")
    assert outcomes == {"refused", "equal"}


def test_paths_that_cannot_be_opened_raise_os_errors(tmp_path):
    with pytest.raises(FileNotFoundError, match="missing.npz"):
        energy.load(tmp_path / "missing.npz")
    with pytest.raises(IsADirectoryError):
        energy.load(tmp_path)
    with pytest.raises(TypeError):
        energy.save(3, tmp_path / "x.npz")
    assert not (tmp_path / "x.npz").exists()  # the type test comes before the file is made


# --- dimod ---

def random_samples(f, k=50, seed=1):
    return np.random.default_rng(seed).integers(0, 2, size=(k, f.max_id() + 1), dtype=np.int8)


def test_a_quadratic_function_becomes_a_binary_quadratic_model():
    f = PyPBF()
    f.add_pairwise_term(0, 2, 1, 2, 3, 6)
    f.add_pairwise_term(2, 0, 0, 0, 0, 5)   # (j, i) adds to (i, j)
    f.add_pairwise_term(3, 3, 0, 0, 0, -7)  # (i, i) is linear
    f.add_higher_term(3, [0, 1, 2], [0] * 8)  # no term
    energy.add_terms(f, [[0, 1, 2]], 0)       # a zero term of degree 3 still allows a BQM
    bqm = energy.to_dimod(f)
    assert isinstance(bqm, dimod.BinaryQuadraticModel) and bqm.vartype is dimod.BINARY
    assert list(bqm.variables) == [0, 1, 2, 3]
    assert bqm.get_quadratic(0, 2) == 2 + 5 and bqm.num_interactions == 1
    x = random_samples(f)
    assert bqm.energies((x, range(4))).tolist() == energy.evaluate(f, x).tolist()


def test_higher_terms_make_a_binary_polynomial_and_come_back():
    f = sample_function()
    f.add_higher_term(3, [4, 1, 0], [0] * 7 + [-3])  # the set of (0, 1, 4), another order
    poly = energy.to_dimod(f)
    assert isinstance(poly, dimod.BinaryPolynomial) and poly.vartype is dimod.BINARY
    x = random_samples(f)
    labels = list(range(f.max_id() + 1))
    assert poly.energies((x, labels)).tolist() == energy.evaluate(f, x).tolist()
    back = energy.from_dimod(poly)
    assert energy.evaluate(back, x).tolist() == energy.evaluate(f, x).tolist()


def test_models_come_back_with_equal_energies_also_from_spin():
    bqm = dimod.BinaryQuadraticModel({0: 3, 2: -1, 5: 0}, {(5, 0): 4, (2, 0): -2}, 7, "SPIN")
    f = energy.from_dimod(bqm)
    assert f.get_string().startswith(" ") and f.max_id() == 5
    x = random_samples(f)
    assert energy.evaluate(f, x).tolist() == bqm.energies((2 * x - 1, range(6))).tolist()
    poly = dimod.BinaryPolynomial({(0, 1, 2): 2, (1,): -1, (): 3}, "SPIN")
    g = energy.from_dimod(poly)
    y = random_samples(g)
    assert energy.evaluate(g, y).tolist() == poly.energies((2 * y - 1, range(3))).tolist()
    h = energy.from_dimod(energy.to_dimod(g))
    assert energy.evaluate(h, y).tolist() == energy.evaluate(g, y).tolist()


@pytest.mark.parametrize("model, error, message", [
    (dimod.BinaryQuadraticModel({"a": 1}, {}, 0, "BINARY"), ValueError,
     "variable label 'a' is not an integer: labels must be ints >= 0"),
    (dimod.BinaryQuadraticModel({-1: 1}, {}, 0, "BINARY"), ValueError,
     "variable label -1 is negative: labels must be ints >= 0"),
    (dimod.BinaryQuadraticModel({2**31: 1}, {}, 0, "BINARY"), OverflowError,
     "variable label 2147483648 does not fit int32"),
    (dimod.BinaryQuadraticModel({0: 1}, {(0, 1): 0.5}, 0, "BINARY"), ValueError,
     "the bias 0.5 of the term (0, 1) is not an integer"),
    (dimod.BinaryQuadraticModel({0: 2.0**31}, {}, 0, "BINARY"), OverflowError,
     "the bias 2147483648.0 of variable 0 does not fit int32"),
    (dimod.BinaryQuadraticModel({0: 1}, {}, 0.25, "BINARY"), ValueError,
     "the bias 0.25 of the offset is not an integer"),
    (dimod.BinaryPolynomial({(0, 1, 2): float("nan")}, "BINARY"), ValueError,
     "the bias nan of the term (0, 1, 2) is not an integer"),
    (dimod.BinaryPolynomial({(0, "x"): 1}, "BINARY"), ValueError,
     "variable label 'x' is not an integer: labels must be ints >= 0"),
    ({(0, 1): 1}, TypeError,
     "model must be a dimod.BinaryQuadraticModel or dimod.BinaryPolynomial, got dict"),
])
def test_models_that_do_not_fit_are_refused(model, error, message):
    with pytest.raises(error) as exc:
        energy.from_dimod(model)
    assert str(exc.value) == message


def test_dimod_is_imported_only_when_used():
    out = run_isolated("import sys, json, pbfred.energy\n"
                       "before = 'dimod' in sys.modules\n"
                       "pbfred.energy.to_dimod(pbfred.PyPBF())\n"
                       "print(json.dumps([before, 'dimod' in sys.modules]))\n")
    assert json.loads(out) == [False, True]
