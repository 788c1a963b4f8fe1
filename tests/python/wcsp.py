"""Exact minima from toulbar2, an exact solver for cost function networks that is independent of
pbfred: functions are written as a weighted CSP (.wcsp) with 0/1 variables and solved to
optimality. toulbar2 wants non-negative integer costs, so each cost function is shifted by its
least value and the shifts are added back to the optimum."""

import os
import shutil
import subprocess
import tempfile

import numpy as np
import pytest

from pbfred import energy

TOULBAR2 = shutil.which("toulbar2")
needs_toulbar2 = pytest.mark.skipif(
    TOULBAR2 is None, reason="toulbar2 is not installed (Debian package toulbar2, which "
                             "scripts/test.sh installs)")

# The sanitizer build preloads its runtime into the suite's interpreter; toulbar2 must not inherit
# it, or the leak checker would judge toulbar2's own memory and fail its exit status.
_ENV = {k: v for k, v in os.environ.items() if k != "LD_PRELOAD"}

# CPU seconds toulbar2 may take, and wall seconds before the run is abandoned.
CPU_SECONDS = 60
WALL_SECONDS = 180


class Network:
    """Cost functions over the 0/1 variables 0 .. n-1, and the constant they were shifted by."""

    def __init__(self, n):
        self.n = n
        self.shift = 0
        self.functions = []  # (ids, default cost, {tuple: cost})

    def add_table(self, ids, table):
        """A table over distinct ids: entry s is the cost where ids[p] takes bit k-1-p of s."""
        k = len(ids)
        table = [int(v) for v in table]
        low = min(table)
        self.shift += low
        rows = {tuple((s >> (k - 1 - p)) & 1 for p in range(k)): v - low
                for s, v in enumerate(table)}
        self.functions.append((list(ids), 0, rows))

    def add_monomial(self, ids, coef):
        """coef times the product of the variables of ids (repeats count once)."""
        ids, coef = sorted(set(int(v) for v in ids)), int(coef)
        if coef == 0:
            return
        ones = (1,) * len(ids)
        if coef > 0:
            self.functions.append((ids, 0, {ones: coef}))
        else:  # -coef everywhere but where all are 1
            self.shift += coef
            self.functions.append((ids, -coef, {ones: 0}))

    def add_function(self, f):
        """f's terms as monomials and its constant."""
        self.shift += f.constant()
        for ids, coefs in energy.terms(f).values():
            for row, c in zip(ids.tolist(), coefs.tolist()):
                self.add_monomial(row, c)

    def text(self):
        # Any assignment costs at most the sum of the largest costs: that plus one is a bound
        # that excludes nothing.
        top = 1 + sum(max([default, *rows.values()]) for _, default, rows in self.functions)
        lines = [f"pbfred {self.n} 2 {len(self.functions)} {top}", " ".join(["2"] * self.n)]
        for ids, default, rows in self.functions:
            lines.append(f"{len(ids)} {' '.join(map(str, ids))} {default} {len(rows)}")
            lines.extend(f"{' '.join(map(str, t))} {cost}" for t, cost in rows.items())
        return "\n".join(lines) + "\n"

    def solve(self):
        """(minimum, labels): the exact minimum of the shifted costs plus the shift, and a
        labelling (uint8, n) that reaches it."""
        with tempfile.TemporaryDirectory() as folder:
            problem = os.path.join(folder, "problem.wcsp")
            solution = os.path.join(folder, "solution.txt")
            with open(problem, "w") as out:
                out.write(self.text())
            done = subprocess.run([TOULBAR2, problem, f"-timer={CPU_SECONDS}", f"-w={solution}"],
                                  capture_output=True, text=True, timeout=WALL_SECONDS, env=_ENV)
            optimum = [line for line in done.stdout.splitlines() if line.startswith("Optimum: ")]
            assert done.returncode == 0 and optimum, done.stdout + done.stderr
            with open(solution) as found:
                labels = np.array(found.read().split(), dtype=np.uint8)
        assert labels.shape == (self.n,)
        return int(optimum[0].split()[1]) + self.shift, labels
