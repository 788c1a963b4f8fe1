"""Import rules, module namespace, the type's shape, pickling refusal and subclassing."""

import ast
import builtins
import copy
import gc
import importlib
import inspect
import json
import os
import pathlib
import pickle
import sys
import weakref

import pytest

import pbfred
from pbfred import PyPBF
from support import entries, run_isolated

METHOD_ORDER = [
    "copy", "copy_from", "add_unary_term", "add_pairwise_term", "add_higher_term", "shrink",
    "print", "reduce_higher", "reduce_higher_approx", "to_quadratic", "max_d", "max_id",
    "constant", "get_string",
]


NAMESPACE = r"""
import builtins, json, os, sys
import pbfred
names = set(vars(pbfred)) - {"__name__", "__doc__", "__spec__"}
checks = [pbfred.__doc__ is None, pbfred.__test__ == {}, pbfred.__package__ == "pbfred",
          pbfred.__builtins__ is builtins,
          pbfred.__path__ == [os.path.dirname(pbfred.__file__)],
          pbfred.__reduce_cython__ is vars(pbfred.PyPBF)["__reduce__"],
          pbfred.__setstate_cython__ is vars(pbfred.PyPBF)["__setstate__"]]
print(json.dumps({"names": sorted(names), "checks": checks, "numpy": "numpy" in sys.modules}))
from pbfred import energy
import pbfred.energy
print(json.dumps({"energy": energy is pbfred.energy, "numpy": "numpy" in sys.modules}))
"""


def test_namespace_and_the_companion_in_a_fresh_interpreter():
    # A fresh interpreter: importing pbfred.energy (as other test files do) adds submodules to
    # the package's namespace, and a plain `import pbfred` must neither have them nor need numpy.
    plain, companion = (json.loads(line) for line in run_isolated(NAMESPACE).splitlines())
    assert plain["names"] == sorted({
        "__builtins__", "__loader__", "__file__", "__package__", "__path__", "PyPBF",
        "__test__", "__reduce_cython__", "__setstate_cython__"})
    assert all(plain["checks"]) and not plain["numpy"]
    assert companion == {"energy": True, "numpy": True}


def test_type_shape():
    p = PyPBF()
    assert (PyPBF.__module__, PyPBF.__qualname__, PyPBF.__doc__) == ("pbfred", "PyPBF", None)
    assert not gc.is_tracked(p) and not hasattr(p, "__dict__")
    with pytest.raises(TypeError):
        weakref.ref(p)
    for inherited in ("__init__", "__repr__", "__eq__", "__hash__"):
        assert getattr(PyPBF, inherited) is getattr(object, inherited)
    public = [n for n in vars(PyPBF) if not n.startswith("__")]
    assert public == [n for n in METHOD_ORDER if n in public]


def test_methods_match_the_stubs():
    stub = ast.parse(pathlib.Path(pbfred.__file__).with_name("__init__.pyi").read_text())
    cls = next(n for n in stub.body if isinstance(n, ast.ClassDef) and n.name == "PyPBF")
    stubbed = {f.name: [a.arg for a in f.args.args] for f in cls.body
               if isinstance(f, ast.FunctionDef)}
    assert set(METHOD_ORDER) <= set(stubbed)
    for name in filter(lambda n: hasattr(PyPBF, n), METHOD_ORDER):
        method = getattr(PyPBF, name)
        assert list(inspect.signature(method).parameters) == stubbed[name]
        assert (method.__qualname__, method.__doc__) == (f"PyPBF.{name}", None)


@pytest.mark.parametrize("refuse, entry", [
    (pickle.dumps, "__reduce_cython__"), (copy.copy, "__reduce_cython__"),
    (copy.deepcopy, "__reduce_cython__"), (lambda p: p.__setstate__({}), "__setstate_cython__"),
])
def test_pickling_is_refused(refuse, entry):
    with pytest.raises(TypeError) as exc:
        refuse(PyPBF())
    assert str(exc.value) == "no default __reduce__ due to non-trivial __cinit__"
    assert entries(exc) == [f"pbfred.PyPBF.{entry}"] and not hasattr(PyPBF, entry)


def test_reimport_gives_the_same_module():
    del sys.modules["pbfred"]
    assert importlib.import_module("pbfred") is pbfred and sys.modules["pbfred"] is pbfred
    assert importlib.reload(pbfred) is pbfred and pbfred.PyPBF is PyPBF


def test_a_second_module_object_is_refused():
    # Both objects are created before either is executed, the only way to get two of them.
    out = run_isolated(
        "import importlib.util\n"
        "spec = importlib.util.find_spec('pbfred')\n"
        "first, second = (importlib.util.module_from_spec(spec) for _ in range(2))\n"
        "spec.loader.exec_module(first)\n"
        "try:\n"
        "    spec.loader.exec_module(second)\n"
        "except RuntimeError as e:\n"
        "    print(e, importlib.util.module_from_spec(spec) is first)\n")
    assert out == ("Module 'pbfred' has already been imported. "
                   "Re-initialisation is not supported. True\n")


def test_another_interpreter_is_refused():
    pytest.importorskip("_testcapi")
    out = run_isolated(
        "import _testcapi, pbfred\n"
        "_testcapi.run_in_subinterp('''\n"
        "try:\n"
        "    import pbfred\n"
        "except ImportError as e:\n"
        "    import os; os.write(1, str(e).encode())\n''')\n")
    assert out == ("Interpreter change detected - this module can only be loaded into one "
                   "interpreter per process.")


def test_subclass_passes_every_construction_argument_to_the_base():
    class Sized(PyPBF):
        def __init__(self, maxVars=0, label=""):
            self.size = maxVars

    assert Sized(3).size == 3 and Sized(maxVars=4).size == 4
    with pytest.raises(TypeError, match=r"^__cinit__\(\) takes at most 1 positional"):
        Sized(3, "x")
    with pytest.raises(TypeError, match="^__cinit__.. got an unexpected keyword argument 'label'$"):
        Sized(label="x")


def test_finalizer_of_a_failed_construction_gets_an_error_not_a_crash():
    seen = []

    class Finalized(PyPBF):
        def __del__(self):
            try:
                self.max_id()
            except RuntimeError as e:
                seen.append(str(e))

    with pytest.raises(TypeError):
        Finalized("x")
    gc.collect()
    assert seen == ["the PyPBF object was not constructed"]
