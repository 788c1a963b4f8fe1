"""Construction, argument binding, integer conversion, and the errors and entries they raise."""

import ctypes
import warnings

import numpy as np
import pytest

from pbfred import PyPBF
from support import entries, int_like

INT_ERROR = "an integer is required"
TOO_LARGE = "Python int too large to convert to C long"


class Int(int):
    def __int__(self):  # never consulted: an int's value is read directly
        return 99


def test_construction_takes_an_optional_maxVars():
    for p in [PyPBF(), PyPBF(7), PyPBF(maxVars=7), PyPBF(2.9), PyPBF(True)]:
        assert p.get_string() == " +0"
    # Only the C API can pass keywords that are not strings.
    call = ctypes.PYFUNCTYPE(*[ctypes.py_object] * 4)(("PyObject_Call", ctypes.pythonapi))
    with pytest.raises(TypeError, match=r"^__cinit__\(\) keywords must be strings$"):
        call(PyPBF, (), {1: 2})


@pytest.mark.parametrize("args, kwargs, error, message", [
    ((1, 2), {}, TypeError, "__cinit__() takes at most 1 positional argument (2 given)"),
    ((1,), {"maxVars": 2}, TypeError,
     "__cinit__() got multiple values for keyword argument 'maxVars'"),
    ((), {"size": 2}, TypeError, "__cinit__() got an unexpected keyword argument 'size'"),
    (("3",), {}, TypeError, INT_ERROR),
    ((-1,), {}, ValueError, "maxVars must be >= 0, got -1"),
])
def test_construction_refuses(args, kwargs, error, message):
    with pytest.raises(error) as exc:
        PyPBF(*args, **kwargs)
    assert str(exc.value) == message and entries(exc) == ["pbfred.PyPBF.__cinit__"]


@pytest.mark.parametrize("method, args, kwargs, message, entry", [
    ("add_unary_term", (0, 1), {},
     "add_unary_term() takes exactly 3 positional arguments (2 given)", True),
    ("add_unary_term", (), {"i": 0, "E1": 1},
     "add_unary_term() takes exactly 3 positional arguments (1 given)", True),
    ("add_unary_term", (0, 1, 2), {"E0": 1},
     "add_unary_term() got multiple values for keyword argument 'E0'", True),
    ("add_unary_term", (0, 1, 2), {"e0": 1},
     "add_unary_term() got an unexpected keyword argument 'e0'", True),
    ("add_pairwise_term", (0, 1, 2, 3, 4), {},
     "add_pairwise_term() takes exactly 6 positional arguments (5 given)", True),
    ("copy_from", (1, 2), {}, "copy_from() takes exactly 1 positional argument (2 given)", True),
    ("__setstate__", (), {},
     "__setstate_cython__() takes exactly 1 positional argument (0 given)", True),
    ("shrink", (1,), {}, "shrink() takes exactly 0 positional arguments (1 given)", False),
    ("max_id", (), {"x": 1}, "max_id() got an unexpected keyword argument 'x'", False),
    ("__reduce__", (1,), {},
     "__reduce_cython__() takes exactly 0 positional arguments (1 given)", False),
])
def test_binding_errors(pbf, method, args, kwargs, message, entry):
    with pytest.raises(TypeError) as exc:
        getattr(pbf, method)(*args, **kwargs)
    assert str(exc.value) == message
    # Only methods with parameters add their entry; it is named like the message.
    assert entries(exc) == ([f"pbfred.PyPBF.{message.split('(')[0]}"] if entry else [])


def test_keywords_bind_in_any_order(pbf):
    other = PyPBF()
    pbf.add_pairwise_term(0, 1, 5, 6, 7, 8)
    pbf.add_higher_term(2, [2, 3], [1, 2, 3, 9])
    other.add_pairwise_term(0, E11=8, E10=7, j=1, E00=5, E01=6)
    other.add_higher_term(vals=[1, 2, 3, 9], cliquesize=2, vars=[2, 3])
    assert other.get_string() == pbf.get_string()
    pbf.copy_from(other=PyPBF())
    assert pbf.get_string() == " +0"


@pytest.mark.parametrize("value, expected", [
    (True, 1), (2.9, 2), (-2.9, -2), (2**31 - 1, 2**31 - 1), (-2**31, -2**31), (Int(4), 4),
    (np.int64(-5), -5), (np.float32(3.5), 3),
])
def test_int32_conversion_accepts(pbf, value, expected):
    pbf.add_unary_term(0, value, 0)
    assert pbf.constant() == expected


@pytest.mark.parametrize("value, error, message", [
    (2**31, OverflowError, TOO_LARGE), (-2**31 - 1, OverflowError, TOO_LARGE),
    (np.int64(2**40), OverflowError, TOO_LARGE), ("3", TypeError, INT_ERROR),
    (None, TypeError, INT_ERROR),
    (type("IndexOnly", (), {"__index__": lambda s: 3})(), TypeError, INT_ERROR),
    (int_like("7"), TypeError, "__int__ returned non-int (type str)"),
    (int_like(ZeroDivisionError), ZeroDivisionError, "boom"),
])
def test_int32_conversion_refuses(pbf, value, error, message):
    pbf.add_unary_term(0, 1, 2)
    with pytest.raises(error) as exc:
        pbf.add_unary_term(1, 0, value)
    assert str(exc.value) == message and entries(exc) == ["pbfred.PyPBF.add_unary_term"]
    assert pbf.get_string() == " +1x_{1} +1"


def test_int_subclass_from_int_warns(pbf):
    with pytest.warns(DeprecationWarning) as record:
        pbf.add_unary_term(0, int_like(True), 0)
    assert pbf.constant() == 1 and [str(w.message) for w in record] == [
        "__int__ returned non-int (type bool).  The ability to return an instance of a strict "
        "subclass of int is deprecated, and may be removed in a future version of Python."]
    with warnings.catch_warnings():
        warnings.simplefilter("error")
        with pytest.raises(DeprecationWarning) as exc:
            pbf.add_unary_term(0, int_like(True), 0)
    assert pbf.constant() == 1 and entries(exc) == ["pbfred.PyPBF.add_unary_term"]


@pytest.mark.parametrize("other, name", [(5, "int"), (None, "NoneType")])
def test_type_test_of_pyPBF_arguments(pbf, other, name):
    pbf.add_unary_term(0, 1, 2)
    with pytest.raises(TypeError) as exc:
        pbf.copy_from(other)
    assert str(exc.value) == (
        f"Argument 'other' has incorrect type (expected pbfred.PyPBF, got {name})")
    assert entries(exc) == [] and pbf.get_string() == " +1x_{1} +1"
