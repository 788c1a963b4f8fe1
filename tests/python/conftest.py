import ctypes

import pytest

import pbfred


@pytest.fixture
def c_stdout(capfd):
    """Reads what C stdio wrote: print() goes through the C runtime's buffer, not sys.stdout."""
    libc = ctypes.CDLL(None)
    libc.fflush(None)
    capfd.readouterr()

    def read():
        libc.fflush(None)
        return capfd.readouterr().out

    return read


@pytest.fixture
def pbf():
    return pbfred.PyPBF()
