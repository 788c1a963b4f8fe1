"""The examples keep working: each runs to its end, where it checks its own results."""

import pathlib
import subprocess
import sys

import pytest

EXAMPLES = pathlib.Path(__file__).resolve().parents[2] / "examples"


def run(script, *args):
    done = subprocess.run([sys.executable, str(EXAMPLES / script), *args], capture_output=True,
                          text=True, timeout=600)
    assert done.returncode == 0, done.stderr
    return done.stdout


def test_tour_keeps_the_minimum_through_every_step():
    out = run("tour.py")
    assert "saved and loaded: the same function" in out


def test_denoise_builds_the_energy_it_describes():
    sys.path.insert(0, str(EXAMPLES))
    try:
        import denoise
    finally:
        sys.path.pop(0)
    import numpy as np
    from pbfred import energy

    noisy = np.array([[1, 0, 1], [0, 1, 1]], dtype=np.uint8)
    for prior in denoise.PRIORS:
        f = denoise.build_energy(noisy, prior, data=2, weight=5)
        table = denoise.prior_table(prior, 5)
        x = np.array([(s >> np.arange(5, -1, -1)) & 1 for s in range(64)])
        expected = 2 * (x != noisy.ravel()).sum(axis=1)
        for window in denoise.window_ids(2, 3):
            expected += table[(x[:, window] << np.array([3, 2, 1, 0])).sum(axis=1)]
        assert (energy.evaluate(f, x) == expected).all()
    assert denoise.prior_table("count", 1).tolist() == [0, 1, 1, 2, 1, 2, 2, 1,
                                                        1, 2, 2, 1, 2, 1, 1, 0]
    assert denoise.prior_table("checkerboard", 1)[[6, 9]].tolist() == [3, 3]


def test_demo_restores_the_photograph(tmp_path):
    pytest.importorskip("skimage", reason="the demo's photograph comes with scikit-image")
    out = run("demo.py", "--out", str(tmp_path))
    assert "persistent: 100.0% of the pixels" in out
    assert (tmp_path / "count" / "demo.png").exists()
