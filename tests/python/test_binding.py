"""Construction, argument binding, integer conversion, and every refusal of the module's
methods: the exception, its exact message, the traceback entry the binding adds, and the
function unchanged."""

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


# (call on a function holding " +1x_{1} +1", error, message, the method whose traceback entry
# the binding adds, or None). Only methods with parameters add their entry, and the type test
# of a PyPBF argument comes before it.
REFUSALS = [
    # construction
    (lambda p: PyPBF(1, 2), TypeError, "__cinit__() takes at most 1 positional argument (2 given)",
     "__cinit__"),
    (lambda p: PyPBF(1, maxVars=2), TypeError,
     "__cinit__() got multiple values for keyword argument 'maxVars'", "__cinit__"),
    (lambda p: PyPBF(size=2), TypeError, "__cinit__() got an unexpected keyword argument 'size'",
     "__cinit__"),
    (lambda p: PyPBF("3"), TypeError, INT_ERROR, "__cinit__"),
    (lambda p: PyPBF(-1), ValueError, "maxVars must be >= 0, got -1", "__cinit__"),
    # binding
    (lambda p: p.add_unary_term(0, 1), TypeError,
     "add_unary_term() takes exactly 3 positional arguments (2 given)", "add_unary_term"),
    (lambda p: p.add_unary_term(i=0, E1=1), TypeError,
     "add_unary_term() takes exactly 3 positional arguments (1 given)", "add_unary_term"),
    (lambda p: p.add_unary_term(0, 1, 2, E0=1), TypeError,
     "add_unary_term() got multiple values for keyword argument 'E0'", "add_unary_term"),
    (lambda p: p.add_unary_term(0, 1, 2, e0=1), TypeError,
     "add_unary_term() got an unexpected keyword argument 'e0'", "add_unary_term"),
    (lambda p: p.add_pairwise_term(0, 1, 2, 3, 4), TypeError,
     "add_pairwise_term() takes exactly 6 positional arguments (5 given)", "add_pairwise_term"),
    (lambda p: p.copy_from(1, 2), TypeError,
     "copy_from() takes exactly 1 positional argument (2 given)", "copy_from"),
    (lambda p: p.__setstate__(), TypeError,
     "__setstate_cython__() takes exactly 1 positional argument (0 given)", "__setstate_cython__"),
    (lambda p: p.shrink(1), TypeError, "shrink() takes exactly 0 positional arguments (1 given)",
     None),
    (lambda p: p.max_id(x=1), TypeError, "max_id() got an unexpected keyword argument 'x'", None),
    (lambda p: p.__reduce__(1), TypeError,
     "__reduce_cython__() takes exactly 0 positional arguments (1 given)", None),
    (lambda p: p.reduce_higher(1), TypeError,
     "reduce_higher() takes exactly 0 positional arguments (1 given)", None),
    (lambda p: p.reduce_higher_approx(1), TypeError,
     "reduce_higher_approx() takes exactly 0 positional arguments (1 given)", None),
    (lambda p: p.reduce_higher(x=1), TypeError,
     "reduce_higher() got an unexpected keyword argument 'x'", None),
    (lambda p: p.to_quadratic(PyPBF()), TypeError,
     "to_quadratic() takes exactly 2 positional arguments (1 given)", "to_quadratic"),
    # int32 conversion
    *[(lambda p, v=value: p.add_unary_term(1, 0, v), error, message, "add_unary_term")
      for value, error, message in [
          (2**31, OverflowError, TOO_LARGE), (-2**31 - 1, OverflowError, TOO_LARGE),
          (np.int64(2**40), OverflowError, TOO_LARGE), ("3", TypeError, INT_ERROR),
          (None, TypeError, INT_ERROR),
          (type("IndexOnly", (), {"__index__": lambda s: 3})(), TypeError, INT_ERROR),
          (int_like("7"), TypeError, "__int__ returned non-int (type str)"),
          (int_like(ZeroDivisionError), ZeroDivisionError, "boom")]],
    (lambda p: p.to_quadratic(5, "5"), TypeError, INT_ERROR, "to_quadratic"),
    # type tests of PyPBF arguments
    (lambda p: p.copy_from(5), TypeError,
     "Argument 'other' has incorrect type (expected pbfred.PyPBF, got int)", None),
    (lambda p: p.copy_from(None), TypeError,
     "Argument 'other' has incorrect type (expected pbfred.PyPBF, got NoneType)", None),
    (lambda p: p.to_quadratic(5, 0), TypeError,
     "Argument 'qpbf' has incorrect type (expected pbfred.PyPBF, got int)", None),
    (lambda p: p.to_quadratic(None, 0), TypeError,
     "Argument 'qpbf' has incorrect type (expected pbfred.PyPBF, got NoneType)", None),
    (lambda p: p.to_quadratic(newvar=0, qpbf=[]), TypeError,
     "Argument 'qpbf' has incorrect type (expected pbfred.PyPBF, got list)", None),
    # energy tables: every conversion comes before the checks of the converted values
    (lambda p: p.add_higher_term(2, [3], [0, 0, 0, 0]), IndexError, "list index out of range",
     "add_higher_term"),
    (lambda p: p.add_higher_term(2, (3, 4), (0, 0, 0)), IndexError, "tuple index out of range",
     "add_higher_term"),
    (lambda p: p.add_higher_term(2, 5, [0] * 4), TypeError, "'int' object is not subscriptable",
     "add_higher_term"),
    (lambda p: p.add_higher_term(2, [-1, 4], [0, 0, 0, "a"]), TypeError, INT_ERROR,
     "add_higher_term"),
    (lambda p: p.add_higher_term(2, [0, -3], [0, 0, 0, 1]), ValueError,
     "vars[1] must be >= 0, got -3", "add_higher_term"),
    (lambda p: p.add_higher_term(31, [], []), ValueError,
     "cliquesize must be between 0 and 30, got 31", "add_higher_term"),
    (lambda p: p.add_higher_term(-1, [], []), ValueError,
     "cliquesize must be between 0 and 30, got -1", "add_higher_term"),
    (lambda p: p.add_unary_term(-1, 0, 0), ValueError, "i must be >= 0, got -1", "add_unary_term"),
    (lambda p: p.add_pairwise_term(-1, -2, 0, 0, 0, 0), ValueError, "i must be >= 0, got -1",
     "add_pairwise_term"),
    (lambda p: p.add_pairwise_term(0, -2, 0, 0, 0, 0), ValueError, "j must be >= 0, got -2",
     "add_pairwise_term"),
]


@pytest.mark.parametrize("call, error, message, entry", REFUSALS)
def test_refusals_change_nothing(pbf, call, error, message, entry):
    pbf.add_unary_term(0, 1, 2)
    with pytest.raises(error) as exc:
        call(pbf)
    assert str(exc.value) == message
    assert entries(exc) == ([f"pbfred.PyPBF.{entry}"] if entry else [])
    assert pbf.get_string() == " +1x_{1} +1"
