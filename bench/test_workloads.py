"""The C++ generators (workloads.cpp, through the workload_summary tool) and their Python twin
(workloads.py) produce the same workloads, and building one through the PyPBF methods gives the
same function as building it in C++.

Runs through ctest, which names the tool in PBFRED_WORKLOAD_SUMMARY and, when the module was
built, its directory in PBFRED_MODULE_PATH.
"""

import functools
import importlib
import os
import pathlib
import subprocess
import sys

import pytest

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parent))
import workloads  # noqa: E402

SUMMARY = os.environ.get("PBFRED_WORKLOAD_SUMMARY")
MODULE_PATH = os.environ.get("PBFRED_MODULE_PATH")

pytestmark = pytest.mark.skipif(not SUMMARY, reason="needs workload_summary (run through ctest)")

INSTANCES = {
    "grid1": lambda: workloads.grid(1),
    "grid2": lambda: workloads.grid(2),
    "grid5": lambda: workloads.grid(5),
    "grid16": lambda: workloads.grid(16),
    "pubo10x50": lambda: workloads.pubo(10, 50),
    "pubo200x1000": lambda: workloads.pubo(200, 1000),
    "hub2": lambda: workloads.hub(2),
    "hub5": lambda: workloads.hub(5),
    "hub1000": lambda: workloads.hub(1000),
    "clique0": lambda: workloads.clique(0),
    "clique3": lambda: workloads.clique(3),
    "clique10": lambda: workloads.clique(10),
}


@functools.cache
def cxx_summary():
    out = subprocess.run([SUMMARY], check=True, capture_output=True, text=True).stdout
    return {name: (int(numbers, 16), int(text, 16))
            for name, numbers, text in (line.split() for line in out.splitlines())}


def test_tool_covers_every_instance():
    assert sorted(cxx_summary()) == sorted(INSTANCES)


@pytest.mark.parametrize("name", INSTANCES)
def test_same_numbers(name):
    w = INSTANCES[name]()
    assert w.name == name
    assert w.checksum() == cxx_summary()[name][0]


@pytest.mark.parametrize("name", INSTANCES)
def test_same_function_through_the_binding(name):
    if not MODULE_PATH:
        pytest.skip("the module was not built")
    sys.path.insert(0, MODULE_PATH)
    pbfred = importlib.import_module("pbfred")
    text = workloads.build(INSTANCES[name](), pbfred).get_string()
    assert workloads.text_checksum(text) == cxx_summary()[name][1]


def test_monomial_file_round_trip():
    w = workloads.pubo(10, 50)
    lines, i = ["# a comment", "", "7"], 0
    for d, c in zip(w.mono_degree.tolist(), w.mono_coef.tolist()):
        lines.append(" ".join(map(str, [c, *w.mono_ids[i:i + d].tolist()])))
        i += d
    back = workloads.from_monomials("file", lines)
    assert back.mono_degree.tolist() == w.mono_degree.tolist()
    assert back.mono_ids.tolist() == w.mono_ids.tolist()
    assert back.mono_coef.tolist() == w.mono_coef.tolist()
    assert back.clique_size.tolist() == [0] and back.clique_vals.tolist() == [7]
