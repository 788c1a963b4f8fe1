"""Helpers shared by the test files."""

import os
import subprocess
import sys

import pytest

# The sanitizer runtime aborts on a failed huge allocation instead of throwing, and cannot run
# under an address-space limit.
plain_linux_only = pytest.mark.skipif(
    "libasan" in os.environ.get("LD_PRELOAD", "") or sys.platform != "linux",
    reason="needs Linux without AddressSanitizer",
)


def state(f):
    """What a refused call must leave as it was: f's text, largest degree and id, and constant."""
    return f.get_string(), f.max_d(), f.max_id(), f.constant()


def int_like(result):
    """An object whose __int__ returns `result`, or raises it when it is an exception class."""
    def convert(self):
        if isinstance(result, type) and issubclass(result, Exception):
            raise result("boom")
        return result
    return type("IntLike", (), {"__int__": convert})()


def entries(excinfo):
    """Names of the traceback entries that the binding added to a raised exception."""
    names, tb = [], excinfo.value.__traceback__
    while tb is not None:
        names.append(tb.tb_frame.f_code.co_name)
        tb = tb.tb_next
    return [n for n in names if n.startswith(("pbfred.", "init pbfred"))]


def run_isolated(code):
    """Runs `code` in a fresh interpreter that imports the same pbfred; returns its stdout."""
    done = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, timeout=120)
    assert done.returncode == 0, done.stderr
    return done.stdout
