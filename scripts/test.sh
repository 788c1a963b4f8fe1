#!/usr/bin/env bash
# Builds and runs every test:
#   1. the GoogleTest suite and the Python suite (through ctest) on CPython 3.10 and on the
#      newest CPython installed, warnings treated as errors; the benchmarks are built, and the
#      benchmark scripts make one quick run each;
#   2. the Python suite against the package as `pip install .` installs it into a fresh venv;
#   3. both suites again under AddressSanitizer and UndefinedBehaviorSanitizer, the Python suite
#      with leak checking;
#   4. the core's concurrency test under ThreadSanitizer: reductions, conversions and
#      minimisations of different functions from several threads at once;
#   5. the core's libFuzzer target, built with clang, for two minutes from the seed corpus.
# Installs what it needs when it is missing: GoogleTest, Google Benchmark, toulbar2 (the exact
# solver the Python suite checks minimize and quadratize against) and clang from Debian, Python
# packages from PyPI.
set -euo pipefail
source "$(dirname "$0")/common.sh"

ensure_apt g++ libgtest-dev libbenchmark-dev toulbar2

# configure_and_test NAME PYTHON [CMAKE ARGS...]: a venv and a build tree named NAME; runs ctest.
configure_and_test() {
  local name=$1 python=$2
  shift 2
  local venv="$build/venv-$name" tree="$build/$name"
  echo "== $name: $("$python" --version)"
  make_venv "$venv" "$python" -r "$root/requirements-test.txt" cmake==4.4.5 ninja==1.13.2
  "$venv/bin/cmake" -S "$root" -B "$tree" -G Ninja -DCMAKE_MAKE_PROGRAM="$venv/bin/ninja" \
    -DPython_EXECUTABLE="$venv/bin/python" -DPBFRED_BUILD_TESTS=ON \
    -DCMAKE_COMPILE_WARNING_AS_ERROR=ON "$@" >/dev/null
  "$venv/bin/cmake" --build "$tree" -j "$jobs"
  (cd "$tree" && "$venv/bin/ctest" --output-on-failure)
}

python310=$(python_for 10)
[ -n "$python310" ] || { echo "CPython 3.10 is required (pyenv install 3.10)"; exit 1; }
newest=$(newest_python)

configure_and_test py3.10 "$python310" -DPBFRED_BUILD_BENCH=ON
echo "== benchmark script (smoke run on the smallest grid)"
PYTHONPATH="$build/py3.10/python" "$build/venv-py3.10/bin/python" "$root/bench/bench.py" \
  --only grid128 --no-baselines --repeat 1
echo "== solving benchmark script (smoke run on a 32x32 grid and photograph)"
# The photograph comes from scikit-image; thinqpbo, dimod and toulbar2 take part when installed.
"$build/venv-py3.10/bin/python" -m pip install -q --disable-pip-version-check scikit-image==0.25.2
PYTHONPATH="$build/py3.10/python" "$build/venv-py3.10/bin/python" "$root/bench/solve_bench.py" \
  --quick --sizes 32 --repeat 1 --toulbar2-long 0 >/dev/null
if [ "$("$newest" -c 'import sys; print(sys.version_info[:2])')" != "(3, 10)" ]; then
  configure_and_test newest "$newest"
fi

echo "== installed package (pip install . into a fresh venv)"
rm -rf "$build/venv-installed"
make_venv "$build/venv-installed" "$python310" -r "$root/requirements-test.txt"
"$build/venv-installed/bin/python" -m pip install -q --disable-pip-version-check "$root"
# Run from outside the source tree so that only the installed package can be imported.
(cd "$build" && env -u PYTHONPATH "$build/venv-installed/bin/python" -m pytest -q \
  -p no:cacheprovider "$root/tests/python")

configure_and_test sanitizers "$python310" -DCMAKE_BUILD_TYPE=Debug \
  -DPBFRED_SANITIZE=address,undefined

# ThreadSanitizer cannot share a process with the other sanitizers, and the interpreter is not
# built for it: the core and its concurrency test only. Any data race stops the test.
echo "== ThreadSanitizer (threads reducing, converting and minimising different functions at once)"
tools="$build/venv-py3.10/bin"
"$tools/cmake" -S "$root" -B "$build/tsan" -G Ninja -DCMAKE_MAKE_PROGRAM="$tools/ninja" \
  -DCMAKE_BUILD_TYPE=Debug -DPBFRED_SANITIZE=thread -DPBFRED_BUILD_PYTHON=OFF \
  -DPython_EXECUTABLE="$tools/python" \
  -DPBFRED_BUILD_TESTS=ON -DCMAKE_COMPILE_WARNING_AS_ERROR=ON >/dev/null
"$tools/cmake" --build "$build/tsan" -j "$jobs" --target concurrency_tests
(cd "$build/tsan" && TSAN_OPTIONS=halt_on_error=1 "$tools/ctest" -R '^concurrency$' \
  --output-on-failure)

# The fuzzer runs with both sanitizers too; any crash, leak, sanitizer report or failed check
# stops it with a non-zero status and leaves the input under build/fuzz-artifacts. Inputs that
# reach new code are kept in build/fuzz-corpus and seed the next run on the same machine.
echo "== core fuzzer (libFuzzer, clang, 120 s)"
ensure_apt clang-14 libclang-rt-14-dev llvm-14
"$tools/cmake" -S "$root" -B "$build/fuzz" -G Ninja -DCMAKE_MAKE_PROGRAM="$tools/ninja" \
  -DCMAKE_CXX_COMPILER=clang++-14 -DPBFRED_BUILD_FUZZ=ON -DPBFRED_BUILD_PYTHON=OFF \
  -DPython_EXECUTABLE="$tools/python" \
  -DPBFRED_BUILD_TESTS=OFF -DPBFRED_SANITIZE=address,undefined \
  -DCMAKE_COMPILE_WARNING_AS_ERROR=ON >/dev/null
"$tools/cmake" --build "$build/fuzz" -j "$jobs"
mkdir -p "$build/fuzz-corpus" "$build/fuzz-artifacts"
if ! ASAN_SYMBOLIZER_PATH=/usr/lib/llvm-14/bin/llvm-symbolizer "$build/fuzz/tests/fuzz/core_fuzzer" \
    -max_total_time=120 -timeout=30 -print_final_stats=1 \
    -artifact_prefix="$build/fuzz-artifacts/" "$build/fuzz-corpus" "$root/tests/fuzz/corpus" \
    >"$build/fuzz.log" 2>&1; then
  tail -n 80 "$build/fuzz.log"
  echo "the core fuzzer failed (whole log: $build/fuzz.log)"
  exit 1
fi
grep -E "^(Done|stat::)" "$build/fuzz.log"

echo "== all tests passed"
